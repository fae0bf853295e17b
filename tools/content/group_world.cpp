// The world: the level with its textures and camera paths, the sky and the
// explosion, and the top-down map for people. The game's lighting is off,
// so light and shade are painted into the textures: each wall direction
// has its own texture at its own brightness (the evening light comes from
// the east), walls darken toward their foot, and floors carry soft grime.
#include "oct.h"
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
    std::vector<std::string> n = {"data\\scene\\scene.3do", "data\\scene\\scene.material", "data\\scene\\scene.oct",
                                  "data\\scene\\lightmap.jpg", "data\\camera1.tcp", "data\\camera2.tcp"};
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

// A texture painted by fn(u, v) at each texel's centre (u, v in 0..1).
template <class F> static CgImage CG_Paint(int w, int h, F fn)
{
    CgImage img(w, h);
    CgShade(img, [&](int x, int y, float* p) {
        CgColor c = fn((x + 0.5f) / w, (y + 0.5f) / h);
        p[0] = c.r, p[1] = c.g, p[2] = c.b;
    });
    return img;
}

// Concrete blocks in courses, lit by `light`, darker toward the foot (v 1).
static CgImage CG_WallTexture(float light, bool hall, uint64_t seed)
{
    CgNoise noise(16, seed);
    CgImage img = CG_Paint(256, 256, [&](float u, float v) {
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
        return CgScale(c, shade);
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
    CgImage floor = CG_Paint(256, 256, [&](float u, float v) {
        float seam = std::min(std::fabs(u * 2 - std::round(u * 2)), std::fabs(v * 2 - std::round(v * 2)));
        float n = grime.Fbm(u, v);
        CgColor c = CgScale(CgRgb(0x5E636E), 0.75f + 0.35f * n);
        if (seam < 0.012f)
            c = CgScale(c, 0.5f);
        return c;
    });
    out.Jpeg(CG_SceneTex(CG_MAT_CORRIDOR_FLOOR), floor, 90);

    CgImage tiles = CG_Paint(256, 256, [&](float u, float v) {
        int tu = (int)(u * 4), tv = (int)(v * 4);
        float gu = std::fabs(u * 4 - std::round(u * 4)), gv = std::fabs(v * 4 - std::round(v * 4));
        CgColor c = (tu + tv) % 2 ? CgRgb(0x3A3358) : CgRgb(0x6A6488);
        c = CgScale(c, 0.85f + 0.3f * grime.Fbm(u + 0.3f, v));
        if (std::min(gu, gv) < 0.03f)
            c = CgRgb(0x1E1C28);
        return c;
    });
    out.Jpeg(CG_SceneTex(CG_MAT_HALL_FLOOR), tiles, 90);

    CgImage plate = CG_Paint(128, 128, [&](float u, float v) {
        float a = std::fabs(std::sin((u + v) * 3.14159f * 12)), b = std::fabs(std::sin((u - v) * 3.14159f * 12));
        float bump = (a > 0.92f || b > 0.92f) ? 1.25f : 1.0f;
        CgColor c = CgScale(CgRgb(0x8C8E94), bump * (0.8f + 0.3f * grime.Fbm(u * 2, v)));
        return c;
    });
    out.Jpeg(CG_SceneTex(CG_MAT_LEDGE_TOP), plate, 90);

    CgImage pillar = CG_Paint(128, 256, [&](float u, float v) {
        CgColor c = CgScale(CgRgb(0x8A8070), (0.8f + 0.3f * grime.Fbm(u, v * 2)) * (0.8f - 0.3f * v * v * v));
        if (std::fabs(v - 0.3f) < 0.02f)
            c = CgRgb(0x38E0FF);
        return c;
    });
    out.Jpeg(CG_SceneTex(CG_MAT_PILLAR), pillar, 90);

    // Yellow and black hazard stripes at the top of a ledge's side.
    CgImage stripes = CG_Paint(128, 128, [&](float u, float v) {
        bool yellow = ((int)std::floor((u + v) * 8)) % 2 == 0;
        CgColor c = yellow ? CgRgb(0xC8A020) : CgRgb(0x202024);
        c = CgScale(c, 0.75f + 0.25f * grime.Fbm(u, v));
        return c;
    });
    out.Jpeg(CG_SceneTex(CG_MAT_LEDGE_SIDE), stripes, 90);

    // Crates: planks in a frame with a cross brace, the foot in shade.
    CgNoise grain(32, 11);
    auto wood = [&](float u, float v, float k) {
        float g = grain.At(u * 0.5f, v * 8);
        return CgScale(CgRgb(0x9A6A38), k * (0.75f + 0.35f * g));
    };
    CgImage crate = CG_Paint(128, 128, [&](float u, float v) {
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
        return c;
    });
    out.Jpeg(CG_SceneTex(CG_MAT_CRATE_SIDE), crate, 90);
    CgImage crateTop = CG_Paint(128, 128, [&](float u, float v) {
        CgColor c = wood(u, v, 1.05f);
        if (std::fabs(u * 4 - std::round(u * 4)) < 0.03f)
            c = CgScale(c, 0.55f);
        return c;
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

    CgImage tvCase = CG_Paint(64, 64, [&](float u, float v) {
        float edge = std::min(std::min(u, 1 - u), std::min(v, 1 - v));
        CgColor c = CgScale(CgRgb(0x2A2C34), 0.9f + 0.2f * grime.At(u * 3, v * 3));
        if (edge < 0.06f)
            c = CgRgb(0x7A7E90);
        return c;
    });
    out.Jpeg(CG_SceneTex(CG_MAT_TV_CASE), tvCase, 90);
    CgImage tvBack = CG_Paint(64, 64, [&](float u, float v) {
        CgColor c = CgScale(CgRgb(0x1C1D22), 0.8f + 0.4f * grime.At(u * 2, v * 2));
        if (std::fabs(std::sin(v * 3.14159f * 16)) > 0.9f)
            c = CgScale(c, 0.6f);
        return c;
    });
    out.Jpeg(CG_SceneTex(CG_MAT_TV_BACK), tvBack, 90);

    // The screen's own picture, shown only until the game puts the pages on.
    CgImage standby = CgCanvas(CgRgb(0x101840));
    CgLogo(standby, out.Fonts, 320, 260, 96);
    out.Jpeg(CG_SceneTex(CG_MAT_TV_SCREEN), CgTexture(standby, 256, 256), 90);
}

// Floors and tops get a second, light-map texture (second mapping,
// modulated): sky light over what the columns around leave open, and the
// low evening sun from the east (+x) with the columns' shadows. One atlas
// holds a tile for each top quad: 2 texels a unit and a border texel.
static const int CG_LM_W = 512, CG_LM_H = 256, CG_LM_TEXELS = 2, CG_LM_BORDER = 1;
static const uint32_t CG_LM_FLAGS = ZO3D_SECONDMAP | ZRF_OP_MODULATE;

static bool CG_LightMapped(uint32_t material)
{
    return material == CG_MAT_CORRIDOR_FLOOR || material == CG_MAT_HALL_FLOOR || material == CG_MAT_LEDGE_TOP ||
           material == CG_MAT_CRATE_TOP || material == CG_MAT_EXIT_PAD;
}

static float CG_LightAt(const CgLevel& l, float x, float y, float z)
{
    const float sunX = 0.78f, sunZ = -0.28f, sunRise = 0.62f;   // per unit of ground covered
    float open = 0;
    const int dirs = 16;
    for (int d = 0; d < dirs; d++) {
        float a = d * 6.2831853f / dirs, dx = std::cos(a), dz = std::sin(a), worst = 0;
        for (float r = 0.5f; r <= 12.0f; r += 0.5f) {
            float h = CgCellUnder(l, x + dx * r, z + dz * r).Top - y;
            if (h > 0)
                worst = std::max(worst, h / std::sqrt(h * h + r * r));
        }
        open += 1.0f - worst;
    }
    open /= dirs;
    float sun = 1;
    for (float r = 0.25f; r <= 20.0f && sun > 0; r += 0.25f)
        if (CgCellUnder(l, x + sunX * r, z + sunZ * r).Top > y + sunRise * r)
            sun = 0;
    return std::min(1.0f, 0.18f + 0.55f * open + 0.32f * sun);
}

static CgImage CG_LightMap(const CgLevel& l, O3dObject* scene)
{
    CgImage atlas(CG_LM_W, CG_LM_H, {1, 1, 1});
    const std::vector<Vector3>& v = scene->Frames[0].Vertices;
    int tx = 0, ty = 0, rowH = 0;
    for (size_t f = 0; f + 1 < scene->Faces.size(); f++) {
        O3dFace &a = scene->Faces[f], &b = scene->Faces[f + 1];
        uint32_t base = std::min({a.Vertex[0], a.Vertex[1], a.Vertex[2]});
        if (!CG_LightMapped(a.Material) || b.Material != a.Material || std::min({b.Vertex[0], b.Vertex[1], b.Vertex[2]}) != base)
            continue;
        float x0 = 1e9f, x1 = -1e9f, z0 = 1e9f, z1 = -1e9f, y = v[base].y;
        for (int k = 0; k < 4; k++)
            x0 = std::min(x0, v[base + k].x), x1 = std::max(x1, v[base + k].x), z0 = std::min(z0, v[base + k].z),
            z1 = std::max(z1, v[base + k].z);
        int w = (int)std::lround((x1 - x0) * CG_LM_TEXELS), h = (int)std::lround((z1 - z0) * CG_LM_TEXELS);
        if (tx + w + 2 * CG_LM_BORDER > CG_LM_W)
            tx = 0, ty += rowH, rowH = 0;
        if (ty + h + 2 * CG_LM_BORDER > CG_LM_H)
            return atlas;   // full: the rest keep no second mapping (a refusal is reported by the caller)
        // Texel (i, j) of the tile, borders included, samples the clamped
        // centre of the quad's texel.
        for (int j = 0; j < h + 2 * CG_LM_BORDER; j++)
            for (int i = 0; i < w + 2 * CG_LM_BORDER; i++) {
                int ci = std::clamp(i - CG_LM_BORDER, 0, w - 1), cj = std::clamp(j - CG_LM_BORDER, 0, h - 1);
                float k = CG_LightAt(l, x0 + (ci + 0.5f) / CG_LM_TEXELS, y, z0 + (cj + 0.5f) / CG_LM_TEXELS);
                float* p = atlas.At(tx + i, ty + j);
                // A warm sun, a cool sky.
                p[0] = k, p[1] = k * 0.96f, p[2] = std::min(1.0f, k * 0.9f + 0.08f);
            }
        for (O3dFace* face : {&a, &b}) {
            face->HasSecondMap = true;
            for (int c = 0; c < 3; c++) {
                const Vector3& p = v[face->Vertex[c]];
                face->SecondMap[c * 2] = (tx + CG_LM_BORDER + (p.x - x0) * CG_LM_TEXELS) / CG_LM_W;
                face->SecondMap[c * 2 + 1] = (ty + CG_LM_BORDER + (p.z - z0) * CG_LM_TEXELS) / CG_LM_H;
            }
        }
        tx += w + 2 * CG_LM_BORDER;
        rowH = std::max(rowH, h + 2 * CG_LM_BORDER);
        f++;
    }
    return atlas;
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

// A sphere object with one textured material, its ".3do" and ".material".
static void CG_Ball(CgSink& out, const std::string& folder, const char* name, float radius, int slices, int stacks,
                    bool inside, bool mirrored, const char* texture, uint32_t flags)
{
    O3dObject o;
    o.Name = name;
    CG_Sphere(&o, radius, slices, stacks, inside, mirrored);
    CG_Object(out, folder + name + ".3do", o);
    CG_Materials(out, folder + name + ".material", {CG_Textured(texture, flags)});
}

void CgBuildSky(CgSink& out)
{
    // Drawn from its centre at (0, 50, 0) after a scale of 15: radius 600,
    // inside the sky pass's far plane of 1050 from anywhere in the level.
    CG_Ball(out, "data\\envmap\\", "env", 40.0f, 24, 12, true, false, "sky.jpg", 0);
    // Stars above, the last of the sunset at the horizon (v 0.5), dark below.
    // The camera sees only the lowest 25 degrees or so (v 0.38 to 0.5), so
    // the dusk's colours are squeezed toward the horizon row.
    CgImage tex(512, 256);
    CgImage band(512, 128);
    CgDuskSky(band, 124);
    for (int y = 0; y < 128; y++) {
        int src = std::min(127, (int)(128.0f * std::pow(y / 128.0f, 4.2f)));
        for (int x = 0; x < 512; x++)
            std::copy(band.At(x, src), band.At(x, src) + 3, tex.At(x, y));
    }
    CgStars(tex, 96, 320, 2004, 0.9f);
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
    CG_Ball(out, "data\\explosion\\", "bola", 12.0f, 16, 10, false, true, "fire.jpg", ZO3D_GLENZ);
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
    CgImage lightmap = CG_LightMap(level, &scene);
    for (const O3dFace& f : scene.Faces)
        if (CG_LightMapped(f.Material) && !f.HasSecondMap) {
            out.Errors.push_back("level: the light-map atlas is full");
            break;
        }
    // The octree with its visible sets, seen from wherever the camera gets
    // from the start (the level is open above: over the walls too). The
    // faces are numbered leaf by leaf (each pass of the engine scans a short
    // range of face numbers), and the level is written in that order.
    OctOptions options;
    options.Pvs = true;
    options.Renumber = true;
    Vector3 eye, target;
    CgChaseCamera(CG_PLAYER_START, 0, 0, &eye, &target);
    options.CameraAt = {eye};
    options.Threads = 2;
    std::vector<uint8_t> tree;
    OctSummary summary;
    const std::string octError = OctBuild(scene, options, &tree, &summary, &scene);
    CG_Object(out, "data\\scene\\scene.3do", scene);
    std::vector<O3dMaterialRecord> mats;
    for (int m = 0; m < CG_SCENE_MATERIALS; m++) {
        mats.push_back(CG_Textured(CG_SCENE_TEX[m]));
        if (CG_LightMapped(m)) {
            mats.back().Texture2 = "lightmap.jpg";
            mats.back().Flags = CG_LM_FLAGS;
        }
    }
    out.Jpeg("data\\scene\\lightmap.jpg", lightmap, 95);
    CG_Materials(out, "data\\scene\\scene.material", mats);
    CG_SceneTextures(out);
    if (!octError.empty())
        out.Errors.push_back("data\\scene\\scene.oct: " + octError);
    else
        out.Bytes("data\\scene\\scene.oct", tree);
    printf("zqcontent: level octree: %u leaves, %.1f faces a leaf (at most %u), %u cells, %.1f visible a cell, "
           "%.2f s\n", summary.Leaves, summary.FacesPerLeaf, summary.MaxFacesPerLeaf, summary.Cells,
           summary.VisiblePerCell, summary.Seconds);
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
