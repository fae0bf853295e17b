// The world: the level with its textures and camera paths, the sky and the
// explosion, and the top-down map for people. The game's lighting is off,
// so light and shade are painted into the textures: each wall direction
// has its own texture at its own brightness (the evening light comes from
// the east), walls darken toward their foot, and floors carry soft grime.
#include "pictures.h"
#include "rng.h"
#include "world.h"

#include <algorithm>
#include <cmath>

static const char* const CG_SCENE_TEX[CG_SCENE_MATERIALS] = {
    "floor.jpg", "tiles.jpg", "plate.jpg", "wall_n.jpg", "wall_e.jpg", "wall_s.jpg", "wall_w.jpg",
    "pillar.jpg", "stripes.jpg", "crate.jpg", "cratetop.jpg", "exitpad.jpg", "tvcase.jpg", "tvback.jpg",
    "hall_n.jpg", "hall_e.jpg", "tvscreen.jpg", "hall_s.jpg", "hall_w.jpg"};
// Brightness of the walls looking +z, +x, -z, -x.
static const float CG_WALL_LIGHT[4] = {0.62f, 0.92f, 0.74f, 0.48f};

static std::string CG_SceneTex(int m) { return std::string("data\\scene\\") + CG_SCENE_TEX[m]; }

std::vector<std::string> CgSkyNames()
{
    return {"data\\envmap\\env.3do", "data\\envmap\\env.material", "data\\envmap\\sky.jpg"};
}
std::vector<std::string> CgLevelNames()
{
    std::vector<std::string> n = {"data\\scene\\scene.3do", "data\\scene\\scene.material", "data\\camera1.tcp",
                                  "data\\camera2.tcp"};
    for (int m = 0; m < CG_SCENE_MATERIALS; m++)
        n.push_back(CG_SceneTex(m));
    return n;
}
std::vector<std::string> CgExplosionNames()
{
    return {"data\\explosion\\bola.3do", "data\\explosion\\bola.material", "data\\explosion\\fire.jpg"};
}

// Smooth value noise over a wrapping lattice of `cells` per texture side.
struct CgNoise {
    std::vector<float> V;
    int N;
    CgNoise(int cells, uint64_t seed) : V((size_t)cells * cells), N(cells)
    {
        CgRng rng(seed);
        for (float& v : V)
            v = rng.Unit();
    }
    float At(float u, float v) const
    {
        float x = u * N, y = v * N;
        int i = (int)std::floor(x), j = (int)std::floor(y);
        float fx = x - i, fy = y - j;
        fx = fx * fx * (3 - 2 * fx), fy = fy * fy * (3 - 2 * fy);
        auto g = [&](int a, int b) { return V[(size_t)(((b % N) + N) % N) * N + ((a % N) + N) % N]; };
        return (g(i, j) * (1 - fx) + g(i + 1, j) * fx) * (1 - fy) + (g(i, j + 1) * (1 - fx) + g(i + 1, j + 1) * fx) * fy;
    }
    // Three octaves, 0..1.
    float Fbm(float u, float v) const
    {
        return (At(u, v) * 4 + At(u * 2, v * 2) * 2 + At(u * 4, v * 4)) / 7.0f;
    }
};

static CgColor CG_Lit(CgColor c, float k) { return CgScale(c, k); }

// Concrete blocks in courses, lit by `light`, darker toward the foot (v 1).
static CgImage CG_WallTexture(float light, bool hall, uint64_t seed)
{
    CgNoise noise(16, seed);
    CgImage img(256, 256);
    CgShade(img, [&](int x, int y, float* p) {
        float u = (x + 0.5f) / 256, v = (y + 0.5f) / 256;
        CgColor base = hall ? CgRgb(0x5C5470) : CgRgb(0x7A7C84);
        int course = (int)(v * 16);
        float bu = u * 4 + (course % 2) * 0.5f;
        float mortar = std::min(std::fabs(v * 16 - std::round(v * 16)), std::fabs(bu - std::round(bu)) / 2.0f);
        float n = noise.Fbm(u, v);
        CgColor c = CgScale(base, 0.8f + 0.4f * n);
        if (mortar < 0.05f)
            c = CgScale(c, 0.55f);
        if (hall) {
            // A neon strip near the top and a painted dado below.
            float d = std::fabs(v - 0.12f);
            if (d < 0.012f)
                c = CgRgb(0xFF5AD8);
            else
                c = CgMix(c, CgRgb(0xFF5AD8), std::max(0.0f, 0.5f - d * 12));
            if (v > 0.78f)
                c = CgScale(CgMix(c, CgRgb(0x2A2850), 0.6f), 1.0f);
        }
        float shade = light * (1.0f - 0.45f * std::pow(v, 3.0f));
        c = CG_Lit(c, shade);
        p[0] = c.r, p[1] = c.g, p[2] = c.b;
    });
    CgClamp(img);
    return img;
}

static void CG_SceneTextures(CgSink& out)
{
    CgRng seeds(1304);
    for (int d = 0; d < 4; d++) {
        out.Jpeg(CG_SceneTex(CG_MAT_WALL_N + d), CG_WallTexture(CG_WALL_LIGHT[d], false, 40 + d), 90);
    }
    const int hallMat[4] = {CG_MAT_HALL_WALL_N, CG_MAT_HALL_WALL_E, CG_MAT_HALL_WALL_S, CG_MAT_HALL_WALL_W};
    for (int d = 0; d < 4; d++)
        out.Jpeg(CG_SceneTex(hallMat[d]), CG_WallTexture(CG_WALL_LIGHT[d] * 1.05f, true, 50 + d), 90);

    CgNoise grime(8, 7);
    CgImage floor(256, 256);
    CgShade(floor, [&](int x, int y, float* p) {
        float u = (x + 0.5f) / 256, v = (y + 0.5f) / 256;
        float seam = std::min(std::fabs(u * 2 - std::round(u * 2)), std::fabs(v * 2 - std::round(v * 2)));
        float n = grime.Fbm(u, v);
        CgColor c = CgScale(CgRgb(0x5E636E), 0.75f + 0.35f * n);
        if (seam < 0.012f)
            c = CgScale(c, 0.5f);
        p[0] = c.r, p[1] = c.g, p[2] = c.b;
    });
    out.Jpeg(CG_SceneTex(CG_MAT_CORRIDOR_FLOOR), floor, 90);

    CgImage tiles(256, 256);
    CgShade(tiles, [&](int x, int y, float* p) {
        float u = (x + 0.5f) / 256, v = (y + 0.5f) / 256;
        int tu = (int)(u * 4), tv = (int)(v * 4);
        float gu = std::fabs(u * 4 - std::round(u * 4)), gv = std::fabs(v * 4 - std::round(v * 4));
        CgColor c = (tu + tv) % 2 ? CgRgb(0x3A3358) : CgRgb(0x6A6488);
        c = CgScale(c, 0.85f + 0.3f * grime.Fbm(u + 0.3f, v));
        if (std::min(gu, gv) < 0.03f)
            c = CgRgb(0x1E1C28);
        p[0] = c.r, p[1] = c.g, p[2] = c.b;
    });
    out.Jpeg(CG_SceneTex(CG_MAT_HALL_FLOOR), tiles, 90);

    CgImage plate(128, 128);
    CgShade(plate, [&](int x, int y, float* p) {
        float u = (x + 0.5f) / 128, v = (y + 0.5f) / 128;
        float a = std::fabs(std::sin((u + v) * 3.14159f * 12)), b = std::fabs(std::sin((u - v) * 3.14159f * 12));
        float bump = (a > 0.92f || b > 0.92f) ? 1.25f : 1.0f;
        CgColor c = CgScale(CgRgb(0x8C8E94), bump * (0.8f + 0.3f * grime.Fbm(u * 2, v)));
        p[0] = c.r, p[1] = c.g, p[2] = c.b;
    });
    out.Jpeg(CG_SceneTex(CG_MAT_LEDGE_TOP), plate, 90);

    CgImage pillar(128, 256);
    CgShade(pillar, [&](int x, int y, float* p) {
        float u = (x + 0.5f) / 128, v = (y + 0.5f) / 256;
        CgColor c = CgScale(CgRgb(0x8A8070), (0.8f + 0.3f * grime.Fbm(u, v * 2)) * (0.8f - 0.3f * v * v * v));
        if (std::fabs(v - 0.3f) < 0.02f)
            c = CgRgb(0x38E0FF);
        p[0] = c.r, p[1] = c.g, p[2] = c.b;
    });
    out.Jpeg(CG_SceneTex(CG_MAT_PILLAR), pillar, 90);

    // Yellow and black hazard stripes at the top of a ledge's side.
    CgImage stripes(128, 128);
    CgShade(stripes, [&](int x, int y, float* p) {
        float u = (x + 0.5f) / 128, v = (y + 0.5f) / 128;
        bool yellow = ((int)std::floor((u + v) * 8)) % 2 == 0;
        CgColor c = yellow ? CgRgb(0xC8A020) : CgRgb(0x202024);
        c = CgScale(c, 0.75f + 0.25f * grime.Fbm(u, v));
        p[0] = c.r, p[1] = c.g, p[2] = c.b;
    });
    out.Jpeg(CG_SceneTex(CG_MAT_LEDGE_SIDE), stripes, 90);

    // Crates: planks in a frame with a cross brace, the foot in shade.
    CgNoise grain(32, 11);
    auto wood = [&](float u, float v, float k) {
        float g = grain.At(u * 0.5f, v * 8);
        return CgScale(CgRgb(0x9A6A38), k * (0.75f + 0.35f * g));
    };
    CgImage crate(128, 128);
    CgShade(crate, [&](int x, int y, float* p) {
        float u = (x + 0.5f) / 128, v = (y + 0.5f) / 128;
        float frame = std::min(std::min(u, 1 - u), std::min(v, 1 - v));
        float brace = std::min(std::fabs(u - v), std::fabs(u + v - 1));
        CgColor c = wood(u, v, 0.9f);
        if (std::fabs(v * 4 - std::round(v * 4)) < 0.04f)
            c = CgScale(c, 0.6f);
        if (frame < 0.09f || brace < 0.07f)
            c = CgScale(wood(v, u, 1.1f), 1.0f);
        if (frame < 0.012f)
            c = CgScale(c, 0.5f);
        c = CgScale(c, 0.95f - 0.35f * v * v);
        p[0] = c.r, p[1] = c.g, p[2] = c.b;
    });
    out.Jpeg(CG_SceneTex(CG_MAT_CRATE_SIDE), crate, 90);
    CgImage crateTop(128, 128);
    CgShade(crateTop, [&](int x, int y, float* p) {
        float u = (x + 0.5f) / 128, v = (y + 0.5f) / 128;
        CgColor c = wood(u, v, 1.05f);
        if (std::fabs(u * 4 - std::round(u * 4)) < 0.03f)
            c = CgScale(c, 0.55f);
        p[0] = c.r, p[1] = c.g, p[2] = c.b;
    });
    out.Jpeg(CG_SceneTex(CG_MAT_CRATE_TOP), crateTop, 90);

    // The exit: a glowing ring of the exit's radius (the pad's texture
    // spans 8 units) with arrows pointing in.
    CgImage pad(256, 256);
    CgShade(pad, [&](int x, int y, float* p) {
        float u = (x + 0.5f) / 256 - 0.5f, v = (y + 0.5f) / 256 - 0.5f;
        float r = std::hypot(u, v) * 8.0f;   // units from the centre
        float ring = std::exp(-std::pow((r - 3.0f) / 0.18f, 2.0f));
        float inner = r < 3.0f ? 0.25f + 0.15f * std::cos(r * 6.0f) : 0.0f;
        CgColor c = CgScale(CgRgb(0x3A3F48), 0.6f);
        c = CgMix(c, CgRgb(0x40FF90), std::min(1.0f, ring + inner));
        p[0] = c.r, p[1] = c.g, p[2] = c.b;
    });
    CgTextLook look;
    look.Top = look.Bottom = CgRgb(0xC8FFD8);
    look.GlowRadius = 6;
    look.Glow = CgRgb(0x40FF90);
    CgDrawText(pad, out.Fonts.Bold, "EXIT", 34, 128, 142, CG_CENTER, look);
    CgClamp(pad);
    out.Jpeg(CG_SceneTex(CG_MAT_EXIT_PAD), pad, 92);

    CgImage tvCase(64, 64);
    CgShade(tvCase, [&](int x, int y, float* p) {
        float u = (x + 0.5f) / 64, v = (y + 0.5f) / 64;
        float edge = std::min(std::min(u, 1 - u), std::min(v, 1 - v));
        CgColor c = CgScale(CgRgb(0x2A2C34), 0.9f + 0.2f * grime.At(u * 3, v * 3));
        if (edge < 0.06f)
            c = CgRgb(0x7A7E90);
        p[0] = c.r, p[1] = c.g, p[2] = c.b;
    });
    out.Jpeg(CG_SceneTex(CG_MAT_TV_CASE), tvCase, 90);
    CgImage tvBack(64, 64);
    CgShade(tvBack, [&](int x, int y, float* p) {
        float u = (x + 0.5f) / 64, v = (y + 0.5f) / 64;
        CgColor c = CgScale(CgRgb(0x1C1D22), 0.8f + 0.4f * grime.At(u * 2, v * 2));
        if (std::fabs(std::sin(v * 3.14159f * 16)) > 0.9f)
            c = CgScale(c, 0.6f);
        p[0] = c.r, p[1] = c.g, p[2] = c.b;
    });
    out.Jpeg(CG_SceneTex(CG_MAT_TV_BACK), tvBack, 90);

    // The screen's own picture, shown only until the game puts the pages on.
    CgImage standby = CgCanvas(CgRgb(0x101840));
    CgLogo(standby, out.Fonts, 320, 260, 96);
    out.Jpeg(CG_SceneTex(CG_MAT_TV_SCREEN), CgTexture(standby, 256, 256), 90);
}

static void CG_Object(CgSink& out, const std::string& name, const O3dObject& o)
{
    std::vector<uint8_t> image;
    std::string error = O3dBuildImage(o, &image);
    if (!error.empty())
        out.Errors.push_back(name + ": " + error);
    else
        out.Bytes(name, image);
}

static void CG_Materials(CgSink& out, const std::string& name, const std::vector<O3dMaterialRecord>& records)
{
    std::vector<uint8_t> file;
    std::string error = O3dBuildMaterials(records, &file);
    if (!error.empty())
        out.Errors.push_back(name + ": " + error);
    else
        out.Bytes(name, file);
}

static O3dMaterialRecord CG_Textured(const std::string& texture, uint32_t flags = 0)
{
    O3dMaterialRecord r;
    r.Texture1 = texture;
    r.Type = ZO3D_MAT_TEXTURED;
    r.Flags = flags;
    return r;
}

// A sphere of `slices` x `stacks` quads; u runs once round, v from the top.
static void CG_Sphere(O3dObject* o, float radius, int slices, int stacks, bool inside, bool mirrored)
{
    o->Frames.resize(1);
    o->Materials.resize(1);
    o->Materials[0].Type = ZO3D_MAT_TEXTURED;
    for (int s = 0; s < stacks; s++)
        for (int a = 0; a < slices; a++) {
            Vector3 p[4];
            float uv[8];
            const int du[4] = {0, 1, 1, 0}, dv[4] = {0, 0, 1, 1};
            for (int k = 0; k < 4; k++) {
                float u = (float)(a + du[k]) / slices, v = (float)(s + dv[k]) / stacks;
                float th = u * 2 * (float)M_PI, ph = v * (float)M_PI;
                p[k] = {radius * std::sin(ph) * std::cos(th), radius * std::cos(ph), radius * std::sin(ph) * std::sin(th)};
                uv[k * 2] = u;
                uv[k * 2 + 1] = v;
            }
            float um = (a + 0.5f) / slices * 2 * (float)M_PI, vm = (s + 0.5f) / stacks * (float)M_PI;
            Vector3 n = {std::sin(vm) * std::cos(um), std::cos(vm), std::sin(vm) * std::sin(um)};
            if (inside)
                n = {-n.x, -n.y, -n.z};
            CgQuad(o, p, uv, n, 0, mirrored);
        }
}

void CgBuildSky(CgSink& out)
{
    // Drawn from its centre at (0, 50, 0) after a scale of 15: radius 600,
    // inside the sky pass's far plane of 1050 from anywhere in the level.
    O3dObject sky;
    sky.Name = "env";
    sky.Frames.resize(1);
    CG_Sphere(&sky, 40.0f, 24, 12, true, false);
    CG_Object(out, "data\\envmap\\env.3do", sky);
    CG_Materials(out, "data\\envmap\\env.material", {CG_Textured("sky.jpg")});
    // Stars above, the last of the sunset at the horizon (v 0.5), dark below.
    CgImage tex(512, 256);
    CgImage band(512, 128);
    CgDuskSky(band, 124);
    CgStars(band, 100, 260, 2004, 0.9f);
    CgCopy(tex, band, 0, 0);
    CgRect(tex, 0, 128, 512, 128, CgRgb(0x0A0814));
    for (int y = 124; y < 150; y++)
        for (int x = 0; x < 512; x++) {
            float k = std::max(0.0f, 1.0f - (y - 124) / 26.0f);
            float* p = tex.At(x, y);
            p[0] = std::max(p[0], 0.55f * k), p[1] = std::max(p[1], 0.22f * k), p[2] = std::max(p[2], 0.30f * k);
        }
    CgClamp(tex);
    out.Jpeg("data\\envmap\\sky.jpg", tex, 90);
}

void CgBuildExplosion(CgSink& out)
{
    // Scaled by 0.05 at load, then 5 to 5.25 as it burns: about 3 units.
    O3dObject ball;
    ball.Name = "bola";
    ball.Frames.resize(1);
    CG_Sphere(&ball, 12.0f, 16, 10, false, true);
    CG_Object(out, "data\\explosion\\bola.3do", ball);
    CG_Materials(out, "data\\explosion\\bola.material", {CG_Textured("fire.jpg", ZO3D_GLENZ)});
    CgNoise noise(8, 99);
    CgImage fire(128, 128);
    CgShade(fire, [&](int x, int y, float* p) {
        float u = (x + 0.5f) / 128, v = (y + 0.5f) / 128;
        float n = noise.Fbm(u, v * 2);
        float k = std::pow(n, 1.6f) * 1.6f;
        p[0] = std::min(1.0f, k * 1.1f), p[1] = std::min(1.0f, k * k * 0.6f), p[2] = k * k * k * 0.2f;
    });
    CgClamp(fire);
    out.Jpeg("data\\explosion\\fire.jpg", fire, 90);
}

// The map for people: north (+z) up, 3 pixels a unit.
static CgBytes CG_Map(const CgSink& out, const CgLevel& l, const std::vector<Vector3>& route)
{
    const int S = 3, top = 56;
    const float w = CG_GRID_NX * CG_CELL, h = CG_GRID_NZ * CG_CELL;
    CgImage img((int)(w * S), (int)(h * S) + top, CgRgb(0x14141A));
    auto px = [&](float x) { return (x - CG_GRID_X0) * S; };
    auto py = [&](float z) { return top + (CG_GRID_Z0 + h - z) * S; };
    for (int j = 0; j < CG_GRID_NZ; j++)
        for (int i = 0; i < CG_GRID_NX; i++) {
            const CgCell& c = l.Cells[j][i];
            CgColor col = CgRgb(0x24242E);
            switch (c.Kind) {
            case CG_CORRIDOR: col = CgRgb(0x646A7A); break;
            case CG_HALL: col = CgRgb(0x78708E); break;
            case CG_LEDGE: col = c.Top > 1.3f ? CgRgb(0xC8B878) : CgRgb(0xA49A6E); break;
            case CG_CRATE: col = CgRgb(0x9A6A34); break;
            case CG_PILLAR: col = CgRgb(0x3C3C4C); break;
            case CG_EXITPAD: col = CgRgb(0x3AB86A); break;
            default: break;
            }
            float x = CG_GRID_X0 + i * CG_CELL, z = CG_GRID_Z0 + (j + 1) * CG_CELL;
            CgRect(img, (int)px(x), (int)py(z), (int)(CG_CELL * S), (int)(CG_CELL * S), col);
        }
    for (size_t k = 1; k < route.size(); k++)
        CgLine(img, px(route[k - 1].x), py(route[k - 1].z), px(route[k].x), py(route[k].z), 1.5f, CgRgb(0xFF9A40), 0.8f);
    CgPath p1(l.Path1), p2(l.Path2);
    for (int s = 0; s < 800; s++) {
        Vector3 a = p1.Eval(s / 800.0f), b = p1.Eval((s + 1) / 800.0f);
        CgLine(img, px(a.x), py(a.z), px(b.x), py(b.z), 2.5f, CgRgb(0xFFE040));
        a = p2.Eval(s / 800.0f), b = p2.Eval((s + 1) / 800.0f);
        CgLine(img, px(a.x), py(a.z), px(b.x), py(b.z), 1.5f, CgRgb(0x40E0FF));
    }
    // The television, the win camera and its view.
    Vector3 eye, target;
    CgChaseCamera(CG_WIN_POSITION, CG_WIN_HEADING, 128, &eye, &target);
    float hw = l.TvWidth / 2;
    CgLine(img, px(l.TvCentre.x - l.TvAcross.x * hw), py(l.TvCentre.z - l.TvAcross.z * hw),
           px(l.TvCentre.x + l.TvAcross.x * hw), py(l.TvCentre.z + l.TvAcross.z * hw), 5, CgRgb(0xFF50D0));
    for (int side = -1; side <= 1; side += 2) {
        float a = std::atan2(target.z - eye.z, target.x - eye.x) + side * 30.0f * (float)M_PI / 180;
        CgLine(img, px(eye.x), py(eye.z), px(eye.x + std::cos(a) * 20), py(eye.z + std::sin(a) * 20), 1, CgRgb(0xFFFFFF),
               0.7f);
    }
    CgDisc(img, px(eye.x), py(eye.z), 4, 1, CgRgb(0xFFFFFF));
    CgDisc(img, px(CG_EXIT.Center.x), py(CG_EXIT.Center.z), CG_EXIT.Radius * S, 1.5f, CgRgb(0x60FFA0), 0.6f);
    // The start, with its heading (+z).
    float sx = px(CG_PLAYER_START.x), sy = py(CG_PLAYER_START.z);
    CgDisc(img, sx, sy, 6, 1, CgRgb(0xFF4040));
    CgLine(img, sx, sy, sx, sy - 22, 3, CgRgb(0xFF4040));
    CgLine(img, sx - 6, sy - 14, sx, sy - 22, 3, CgRgb(0xFF4040));
    CgLine(img, sx + 6, sy - 14, sx, sy - 22, 3, CgRgb(0xFF4040));

    CgTextLook label;
    label.Top = label.Bottom = CgRgb(0xFFFFFF);
    label.Outline = 2;
    CgDrawText(img, out.Fonts.Bold, "START", 16, (int)sx + 10, (int)sy + 6, CG_LEFT, label);
    CgDrawText(img, out.Fonts.Bold, "EXIT", 16, (int)px(CG_EXIT.Center.x) - 52, (int)py(CG_EXIT.Center.z) + 6, CG_LEFT, label);
    CgDrawText(img, out.Fonts.Bold, "TV", 16, (int)px(l.TvCentre.x) + 14, (int)py(l.TvCentre.z) + 6, CG_LEFT, label);
    CgTextLook title = label;
    title.Outline = 0;
    CgDrawText(img, out.Fonts.Bold, "brolfest04 level, top view (north up, 3 px a unit)", 18, 12, 24, CG_LEFT, title);
    CgTextLook key = title;
    key.Top = key.Bottom = CgRgb(0xC8C8D0);
    CgDrawText(img, out.Fonts.Sans,
               "yellow: patrol, camera path 1   cyan: camera path 2   orange: a walked route to the exit   "
               "light tan: ledges   brown: crates   white: win camera",
               13, 12, 46, CG_LEFT, key);
    return CgPng(img);
}

void CgBuildLevelGroup(CgSink& out)
{
    static CgLevel level;
    CgBuildLevel(&level);
    O3dObject scene;
    CgBuildSceneMesh(level, &scene);
    CG_Object(out, "data\\scene\\scene.3do", scene);
    std::vector<O3dMaterialRecord> mats;
    for (int m = 0; m < CG_SCENE_MATERIALS; m++)
        mats.push_back(CG_Textured(CG_SCENE_TEX[m]));
    CG_Materials(out, "data\\scene\\scene.material", mats);
    CG_SceneTextures(out);
    out.Bytes("data\\camera1.tcp", CgPathFile(level.Path1));
    out.Bytes("data\\camera2.tcp", CgPathFile(level.Path2));

    // The game's promises, checked before anything is packed.
    CgCollider collider(scene);
    float rest = 0, share = 0;
    std::vector<Vector3> route;
    std::string errors[] = {CgCheckStart(collider, &rest), CgCheckRoute(level, collider, &route),
                            CgCheckPath(level, collider, level.Path1, 3.0f, 0.8f),
                            CgCheckPath(level, collider, level.Path2, 0.0f, 0.0f),
                            CgCheckTelevision(level, collider, &share)};
    for (const std::string& e : errors)
        if (!e.empty())
            out.Errors.push_back("level: " + e);
    printf("zqcontent: level: %zu faces, %zu vertices; the player rests at y %.3f; route to the exit %zu steps; "
           "patrol %.0f units; television %.0f%% of the win view\n",
           scene.Faces.size(), scene.Frames[0].Vertices.size(), rest, route.size(), CgPath(level.Path1).Length(),
           share * 100);
    out.Report("level_map.png", CG_Map(out, level, route));
}
