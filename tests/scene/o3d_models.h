// Models written with the host writer for the object tests and benchmarks.
// Deterministic: the same bytes on every run.
#ifndef ZQ_O3D_MODELS_H
#define ZQ_O3D_MODELS_H

#include <cmath>

#include "o3d.h"

// A textured material without a texture (tests assign one).
inline ZO3D_MATERIAL O3dTexturedMaterial(uint32_t flags = 0)
{
    ZO3D_MATERIAL m = {};
    m.Type = ZO3D_MAT_TEXTURED;
    m.Flags = flags;
    return m;
}

// A unit square in the object's y-z plane (angles 0 turn z into screen x),
// frame 0 centred on z = -1, frame 1 on z = +1; normals (-1, 0, 0), which
// face the camera once turned. Placed at (0, 0, 5).
inline O3dObject O3dQuad2()
{
    O3dObject o;
    o.Name = "quad2";
    o.Position = {0, 0, 5};
    for (int r = 0; r < 2; r++) {
        O3dFrame f;
        const float c = r ? 1.0f : -1.0f;
        const float ys[4] = {-0.5f, 0.5f, -0.5f, 0.5f}, zs[4] = {c - 0.5f, c - 0.5f, c + 0.5f, c + 0.5f};
        for (int i = 0; i < 4; i++) {
            f.Vertices.push_back({0, ys[i], zs[i]});
            f.Normals.push_back({-1, 0, 0});
        }
        o.Frames.push_back(f);
    }
    O3dFace a, b;
    const uint32_t ca[3] = {0, 1, 2}, cb[3] = {1, 3, 2};
    const float ma[6] = {0, 1, 0, 0, 1, 1}, mb[6] = {0, 0, 1, 0, 1, 1};
    memcpy(a.Vertex, ca, sizeof(ca));
    memcpy(a.Map, ma, sizeof(ma));
    memcpy(b.Vertex, cb, sizeof(cb));
    memcpy(b.Map, mb, sizeof(mb));
    o.Faces = {a, b};
    o.Materials = {O3dTexturedMaterial()};
    return o;
}

// A grid of rows x columns quads (two faces each) rippling over `frames`
// frames, with `materials` materials taken in turn and a second mapping on
// every third face. Unit normals.
inline O3dObject O3dGrid(uint32_t rows, uint32_t columns, uint32_t frames, uint32_t materials)
{
    O3dObject o;
    o.Name = "grid";
    o.Position = {1, 2, 3};
    o.Angles = {10, 20, 30};
    o.Frame = frames > 1 ? 1 : 0;
    o.Factor = 0.25f;
    for (uint32_t r = 0; r < frames; r++) {
        O3dFrame f;
        for (uint32_t y = 0; y <= rows; y++)
            for (uint32_t x = 0; x <= columns; x++) {
                const float px = (float)x / columns * 2 - 1, py = (float)y / rows * 2 - 1;
                const float pz = 0.2f * sinf(px * 3 + (float)r) * cosf(py * 2);
                f.Vertices.push_back({px, py, pz});
                const float nx = -0.6f * cosf(px * 3 + (float)r), len = sqrtf(nx * nx + 1);
                f.Normals.push_back({nx / len, 0, -1 / len});
            }
        o.Frames.push_back(f);
    }
    const uint32_t w = columns + 1;
    for (uint32_t y = 0; y < rows; y++)
        for (uint32_t x = 0; x < columns; x++) {
            const uint32_t v0 = y * w + x, v1 = v0 + 1, v2 = v0 + w, v3 = v2 + 1;
            const uint32_t corners[2][3] = {{v0, v2, v1}, {v1, v2, v3}};
            for (int k = 0; k < 2; k++) {
                O3dFace f;
                memcpy(f.Vertex, corners[k], sizeof(f.Vertex));
                for (int c = 0; c < 6; c++)
                    f.Map[c] = (float)((corners[k][c / 2] + c) % 7) / 7.0f;
                const uint32_t index = (uint32_t)o.Faces.size();
                f.Material = materials ? index % materials : 0;
                f.HasSecondMap = index % 3 == 0;
                for (int c = 0; c < 6; c++)
                    f.SecondMap[c] = 1.0f - f.Map[c];
                o.Faces.push_back(f);
            }
        }
    for (uint32_t m = 0; m < materials; m++)
        o.Materials.push_back(O3dTexturedMaterial(m % 2 ? ZO3D_SECONDMAP : 0));
    return o;
}

#endif
