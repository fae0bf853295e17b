// A generated level of rooms and corridors for the octree tests and the
// benchmark (host side): a grid of rooms, each with floor, ceiling, four
// walls with a door toward every neighbour and a pillar, joined by
// corridors; every surface cut into quads of about `Step` units. Material 0
// walls and pillars, 1 floors and ceilings, 2 a banner in every room that is
// only drawn (a face list 2 material).
#ifndef ZQ_OCT_LEVEL_H
#define ZQ_OCT_LEVEL_H

#include <cmath>
#include <vector>

#include <cstring>

#include "o3d.h"
#include "oct.h"

struct OctLevel {
    int RoomsX = 3, RoomsZ = 3;
    float Room = 32, Height = 12, Gap = 16;   // room side, height, corridor length
    float Door = 8, DoorHeight = 8;
    float Step = 4;

    float Pitch() const { return Room + Gap; }
    // Centre of room (i, j) at eye height.
    Vector3 Centre(int i, int j) const { return {i * Pitch() + Room / 2, Height / 2, j * Pitch() + Room / 2}; }

    // A rectangle from `o` along `u` and `v` (whole lengths), cut into quads.
    static void Rect(O3dObject* obj, Vector3 o, Vector3 u, Vector3 v, float step, uint32_t material)
    {
        auto len = [](Vector3 a) { return std::sqrt(a.x * a.x + a.y * a.y + a.z * a.z); };
        const int nu = std::max(1, (int)std::lround(len(u) / step)), nv = std::max(1, (int)std::lround(len(v) / step));
        O3dFrame& f = obj->Frames[0];
        const uint32_t base = (uint32_t)f.Vertices.size();
        const Vector3 n = {u.y * v.z - u.z * v.y, u.z * v.x - u.x * v.z, u.x * v.y - u.y * v.x};
        for (int b = 0; b <= nv; b++)
            for (int a = 0; a <= nu; a++) {
                const float s = (float)a / nu, t = (float)b / nv;
                f.Vertices.push_back({o.x + u.x * s + v.x * t, o.y + u.y * s + v.y * t, o.z + u.z * s + v.z * t});
                f.Normals.push_back(n);
            }
        for (int b = 0; b < nv; b++)
            for (int a = 0; a < nu; a++) {
                const uint32_t p = base + b * (nu + 1) + a;
                O3dFace f1, f2;
                f1.Vertex[0] = p; f1.Vertex[1] = p + 1; f1.Vertex[2] = p + nu + 1;
                f2.Vertex[0] = p + 1; f2.Vertex[1] = p + nu + 2; f2.Vertex[2] = p + nu + 1;
                f1.Material = f2.Material = material;
                obj->Faces.push_back(f1);
                obj->Faces.push_back(f2);
            }
    }

    // A wall from `o` along `u` (length Room), up Height, with a door in the middle when asked.
    void Wall(O3dObject* obj, Vector3 o, Vector3 u, bool door) const
    {
        const Vector3 up = {0, Height, 0};
        if (!door) {
            Rect(obj, o, u, up, Step, 0);
            return;
        }
        const float side = (Room - Door) / 2 / Room;
        const Vector3 us = {u.x * side, u.y * side, u.z * side};
        const Vector3 ud = {u.x * Door / Room, u.y * Door / Room, u.z * Door / Room};
        Rect(obj, o, us, up, Step, 0);
        Rect(obj, {o.x + us.x + ud.x, o.y, o.z + us.z + ud.z}, us, up, Step, 0);
        Rect(obj, {o.x + us.x, DoorHeight, o.z + us.z}, ud, {0, Height - DoorHeight, 0}, Step, 0);
    }

    O3dObject Build() const
    {
        O3dObject obj;
        obj.Name = "rooms";
        obj.Frames.resize(1);
        obj.Materials.resize(3);
        for (ZO3D_MATERIAL& m : obj.Materials) {
            memset(&m, 0, sizeof(m));
            m.Type = ZO3D_MAT_TEXTURED;
        }
        const float P = Pitch(), R = Room, H = Height;
        for (int i = 0; i < RoomsX; i++)
            for (int j = 0; j < RoomsZ; j++) {
                const float x = i * P, z = j * P;
                Rect(&obj, {x, 0, z}, {R, 0, 0}, {0, 0, R}, Step, 1);   // floor
                Rect(&obj, {x, H, z}, {0, 0, R}, {R, 0, 0}, Step, 1);   // ceiling
                Wall(&obj, {x, 0, z}, {R, 0, 0}, j > 0);
                Wall(&obj, {x, 0, z + R}, {R, 0, 0}, j + 1 < RoomsZ);
                Wall(&obj, {x, 0, z}, {0, 0, R}, i > 0);
                Wall(&obj, {x + R, 0, z}, {0, 0, R}, i + 1 < RoomsX);
                // A pillar off centre, and a banner that is only drawn.
                const float px = x + R * 0.3f, pz = z + R * 0.6f, w = 3;
                Rect(&obj, {px, 0, pz}, {w, 0, 0}, {0, H, 0}, Step, 0);
                Rect(&obj, {px, 0, pz + w}, {w, 0, 0}, {0, H, 0}, Step, 0);
                Rect(&obj, {px, 0, pz}, {0, 0, w}, {0, H, 0}, Step, 0);
                Rect(&obj, {px + w, 0, pz}, {0, 0, w}, {0, H, 0}, Step, 0);
                Rect(&obj, {x + R * 0.7f, 2, z + R * 0.25f}, {0, 0, 6}, {0, 6, 0}, Step, 2);
                // Corridors east and south.
                const float c0 = (R - Door) / 2, D = Door, DH = DoorHeight;
                if (i + 1 < RoomsX) {
                    const Vector3 o = {x + R, 0, z + c0};
                    Rect(&obj, o, {Gap, 0, 0}, {0, 0, D}, Step, 1);
                    Rect(&obj, {o.x, DH, o.z}, {0, 0, D}, {Gap, 0, 0}, Step, 1);
                    Rect(&obj, o, {Gap, 0, 0}, {0, DH, 0}, Step, 0);
                    Rect(&obj, {o.x, 0, o.z + D}, {Gap, 0, 0}, {0, DH, 0}, Step, 0);
                }
                if (j + 1 < RoomsZ) {
                    const Vector3 o = {x + c0, 0, z + R};
                    Rect(&obj, o, {0, 0, Gap}, {D, 0, 0}, Step, 1);
                    Rect(&obj, {o.x, DH, o.z}, {D, 0, 0}, {0, 0, Gap}, Step, 1);
                    Rect(&obj, o, {0, 0, Gap}, {0, DH, 0}, Step, 0);
                    Rect(&obj, {o.x + D, 0, o.z}, {0, 0, Gap}, {0, DH, 0}, Step, 0);
                }
            }
        return obj;
    }

    // The builder options that go with it: banners only drawn, the camera
    // anywhere inside.
    OctOptions Options(bool pvs) const
    {
        OctOptions o;
        o.DrawnOnly = {2};
        o.Pvs = pvs;
        o.Spacing = Step;
        o.CameraAt = {Centre(0, 0)};
        return o;
    }
};

#endif
