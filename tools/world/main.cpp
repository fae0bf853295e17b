// zqworld: writes sprite pages, bitmap fonts and scene files, and the
// showcase's whole content folder.
//   zqworld showcase OUTDIR FONTS_DIR   the showcase's files (pack OUTDIR with tmfpack)
//   zqworld fixtures OUTDIR             objects for the engine's tests and benchmarks
//   zqworld font FILE.ttf PIXELS SIZE OUT.fnt OUT.bmp
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>

#include "o3d.h"
#include "world.h"

static bool Check(const std::string& error)
{
    if (!error.empty())
        fprintf(stderr, "zqworld: %s\n", error.c_str());
    return error.empty();
}

// A box of the given half sizes, one material, outward faces, unit normals
// per face corner (24 vertices).
static O3dObject Box(const char* name, float hx, float hy, float hz)
{
    O3dObject o;
    o.Name = name;
    O3dFrame f;
    static const int axes[6][3] = {{0, 1, 2}, {0, 1, 2}, {1, 2, 0}, {1, 2, 0}, {2, 0, 1}, {2, 0, 1}};
    const float h[3] = {hx, hy, hz};
    for (int side = 0; side < 6; side++) {
        const int u = axes[side][0], v = axes[side][1], n = axes[side][2];
        const float s = side % 2 ? -1.0f : 1.0f;
        const uint32_t base = (uint32_t)f.Vertices.size();
        for (int c = 0; c < 4; c++) {
            float p[3], nn[3] = {0, 0, 0};
            p[u] = (c & 1 ? 1 : -1) * h[u];
            p[v] = (c & 2 ? 1 : -1) * h[v];
            p[n] = s * h[n];
            nn[n] = s;
            f.Vertices.push_back({p[0], p[1], p[2]});
            f.Normals.push_back({nn[0], nn[1], nn[2]});
        }
        const uint32_t tri[2][3] = {{0, 1, 2}, {1, 3, 2}};
        for (int t = 0; t < 2; t++) {
            O3dFace face;
            for (int k = 0; k < 3; k++) {
                // Both windings: the showcase draws without culling.
                const uint32_t c = tri[t][s > 0 ? k : 2 - k];
                face.Vertex[k] = base + c;
                face.Map[k * 2] = (float)(c & 1);
                face.Map[k * 2 + 1] = (float)((c >> 1) & 1);
            }
            o.Faces.push_back(face);
        }
    }
    o.Frames.push_back(f);
    ZO3D_MATERIAL m = {};
    m.Type = ZO3D_MAT_TEXTURED;
    o.Materials.push_back(m);
    return o;
}

// A closed sphere of `rings` x `segments` quads (two faces each, the pole
// rows degenerate), radius r, unit normals, one textured material.
static O3dObject Ball(const char* name, uint32_t rings, uint32_t segments, float r)
{
    O3dObject o;
    o.Name = name;
    O3dFrame f;
    for (uint32_t i = 0; i <= rings; i++)
        for (uint32_t j = 0; j <= segments; j++) {
            const float a = 3.14159265f * i / rings, b = 6.2831853f * j / segments;
            const Vector3 n = {sinf(a) * cosf(b), cosf(a), sinf(a) * sinf(b)};
            f.Vertices.push_back({n.x * r, n.y * r, n.z * r});
            f.Normals.push_back(n);
        }
    o.Frames.push_back(f);
    const uint32_t w = segments + 1;
    for (uint32_t i = 0; i < rings; i++)
        for (uint32_t j = 0; j < segments; j++) {
            const uint32_t v0 = i * w + j, v1 = v0 + 1, v2 = v0 + w, v3 = v2 + 1;
            const uint32_t corners[2][3] = {{v0, v1, v2}, {v1, v3, v2}};
            for (int k = 0; k < 2; k++) {
                O3dFace face;
                memcpy(face.Vertex, corners[k], sizeof(face.Vertex));
                for (int c = 0; c < 3; c++) {
                    face.Map[c * 2] = (float)(corners[k][c] % w) / segments;
                    face.Map[c * 2 + 1] = (float)(corners[k][c] / w) / rings;
                }
                o.Faces.push_back(face);
            }
        }
    ZO3D_MATERIAL m = {};
    m.Type = ZO3D_MAT_TEXTURED;
    o.Materials.push_back(m);
    return o;
}

// Objects for the engine tests and benchmarks of these services.
static int Fixtures(const std::string& out)
{
    mkdir(out.c_str(), 0777);
    const std::string d = out + "/";
    O3dObject two = Box("two", 0.5f, 0.5f, 0.5f);
    ZO3D_MATERIAL m = two.Materials[0];
    two.Materials.push_back(m);
    for (size_t i = 0; i < two.Faces.size(); i++)
        two.Faces[i].Material = (uint32_t)(i % 2);
    const bool ok = Check(O3dWriteObject(d + "ball20k.3do", Ball("ball20k", 100, 100, 4.0f))) &&
                    Check(O3dWriteObject(d + "ball.3do", Ball("ball", 12, 16, 1.0f))) &&
                    Check(O3dWriteObject(d + "box.3do", Box("box", 0.5f, 0.5f, 0.5f))) &&
                    Check(O3dWriteObject(d + "two.3do", two));
    return ok ? 0 : 1;
}

static int Showcase(const std::string& out, const std::string& fonts)
{
    mkdir(out.c_str(), 0777);
    const std::string d = out + "/";
    // Textures: a checker, a soft dot for the particles, two sprites on a
    // black (colour-keyed) page.
    WorldImage checker{64, 64, std::vector<uint32_t>(64 * 64)};
    for (int y = 0; y < 64; y++)
        for (int x = 0; x < 64; x++)
            checker.Px[y * 64 + x] = ((x / 16 + y / 16) % 2) ? 0xE0A020 : 0x2060C0;
    WorldImage dot{32, 32, std::vector<uint32_t>(32 * 32)};
    for (int y = 0; y < 32; y++)
        for (int x = 0; x < 32; x++) {
            const float r = hypotf(x - 15.5f, y - 15.5f) / 16.0f;
            const uint32_t a = r >= 1 ? 0 : (uint32_t)(255 * (1 - r) * (1 - r));
            dot.Px[y * 32 + x] = a << 16 | a << 8 | a;
        }
    WorldImage page{64, 32, std::vector<uint32_t>(64 * 32)};
    for (int y = 0; y < 32; y++)
        for (int x = 0; x < 64; x++) {
            const float dx = (x % 32) - 15.5f, dy = y - 15.5f;
            const bool star = x < 32 && fabsf(dx) + fabsf(dy) < 15;           // a diamond
            const bool ring = x >= 32 && fabsf(hypotf(dx, dy) - 11) < 4;        // a ring
            page.Px[y * 64 + x] = star ? 0xFF2020 : ring ? 0x20FF20 : 0;
        }
    std::vector<uint8_t> spr, fnt;
    WorldImage glyphs;
    std::string scene;
    std::vector<WorldSceneObject> objects;
    const char* colours[4] = {"COLORED 16711680 16711680 65280 -", "TEXTURED checker.bmp -",
                              "COLORED 255 65280 16711680 -", "TEXTURED checker.bmp GLENZ"};
    for (int i = 0; i < 12; i++)
        objects.push_back({i % 3 ? "cube.3do" : "tower.3do", "obj" + std::string(1, (char)('A' + i)),
                           {colours[i % 4]}});
    objects.push_back({"floor.3do", "floorslab", {"TEXTURED checker.bmp -"}});
    const bool ok = Check(WorldWriteBmp(d + "checker.bmp", checker)) && Check(WorldWriteBmp(d + "dot.bmp", dot)) &&
                    Check(WorldWriteBmp(d + "sprites.bmp", page)) &&
                    Check(WorldBuildSpritePage("sprites.bmp", 64, 32, {{0, 0, 32, 32, 1.0f}, {32, 0, 32, 32, 1.0f}},
                                               &spr)) &&
                    Check(WorldWriteFile(d + "sprites.spr", spr.data(), spr.size())) &&
                    Check(WorldBuildFont(fonts + "/DejaVuSans-Bold.ttf", 22, 256, 32, 126, &glyphs, &fnt)) &&
                    Check(WorldWriteBmp(d + "font.bmp", glyphs)) &&
                    Check(WorldWriteFile(d + "font.fnt", fnt.data(), fnt.size())) &&
                    Check(O3dWriteObject(d + "cube.3do", Box("cube", 0.5f, 0.5f, 0.5f))) &&
                    Check(O3dWriteObject(d + "tower.3do", Box("tower", 0.4f, 1.2f, 0.4f))) &&
                    Check(O3dWriteObject(d + "floor.3do", Box("floor", 8.0f, 0.05f, 8.0f))) &&
                    Check(WorldBuildScene(objects, {"checker.bmp"}, &scene)) &&
                    Check(WorldWriteFile(d + "world.txt", scene.data(), scene.size()));
    return ok ? 0 : 1;
}

int main(int argc, char** argv)
{
    if (argc == 3 && !strcmp(argv[1], "fixtures"))
        return Fixtures(argv[2]);
    if (argc == 4 && !strcmp(argv[1], "showcase"))
        return Showcase(argv[2], argv[3]);
    if (argc == 7 && !strcmp(argv[1], "font")) {
        WorldImage image;
        std::vector<uint8_t> file;
        const bool ok = Check(WorldBuildFont(argv[2], atoi(argv[3]), atoi(argv[4]), 32, 126, &image, &file)) &&
                        Check(WorldWriteFile(argv[5], file.data(), file.size())) &&
                        Check(WorldWriteBmp(argv[6], image));
        return ok ? 0 : 1;
    }
    fputs("usage: zqworld showcase OUTDIR FONTS_DIR\n"
          "       zqworld fixtures OUTDIR\n"
          "       zqworld font FILE.ttf PIXELS SIZE OUT.fnt OUT.bmp\n", stderr);
    return 2;
}
