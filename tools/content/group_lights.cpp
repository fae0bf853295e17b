// Light textures: the dynamic lights multiply a radial picture (u, v from
// the light's x and y) by a falloff along one axis (u from z) four times
// over and add the result, with clamped addressing; so every edge texel
// is black, and the centres sit near half brightness (4 x 0.5 x 0.5 is
// full light). The shot sprite is added too: light on black.
#include "pictures.h"
#include "rng.h"

#include <algorithm>
#include <cmath>

static const int CG_LIGHT_TEX = 128, CG_FALLOFF_W = 128, CG_FALLOFF_H = 8, CG_FLARE_TEX = 64;

std::vector<std::string> CgLightNames()
{
    return {"data\\light\\luz2d2.jpg", "data\\light\\luz1d2.jpg", "data\\light\\fire2d.jpg",
            "data\\disparo\\flare2.jpg"};
}

// Distance from the centre, 1 at the middle of an edge.
static float CG_Radius(int x, int y, int size)
{
    return std::hypot(x + 0.5f - size / 2.0f, y + 0.5f - size / 2.0f) / (size / 2.0f);
}

static float CG_Smooth(float t)
{
    t = std::clamp(t, 0.0f, 1.0f);
    return t * t * (3.0f - 2.0f * t);
}

void CgBuildLights(CgSink& out)
{
    // Shot light: cool cyan, the colour of the shots.
    CgImage shot(CG_LIGHT_TEX, CG_LIGHT_TEX);
    CgShade(shot, [](int x, int y, float* p) {
        float k = CG_Smooth(1.0f - CG_Radius(x, y, CG_LIGHT_TEX) / 0.94f);
        k = 0.55f * k * k;
        p[0] = k * 0.62f;
        p[1] = k * 0.86f;
        p[2] = k;
    });
    out.Jpeg("data\\light\\luz2d2.jpg", shot, 95);

    CgImage falloff(CG_FALLOFF_W, CG_FALLOFF_H);
    CgShade(falloff, [](int x, int, float* p) {
        float u = (x + 0.5f) / CG_FALLOFF_W;
        float k = 0.5f * std::pow(CG_Smooth(1.0f - std::fabs(u * 2.0f - 1.0f) / 0.96f), 1.3f);
        p[0] = p[1] = p[2] = k;
    });
    out.Jpeg("data\\light\\luz1d2.jpg", falloff, 95);

    // Explosion light: orange with a ragged, hot middle.
    CgRng rng(77);
    std::vector<float> wobble(64);
    for (float& w : wobble)
        w = rng.Unit();
    CgImage fire(CG_LIGHT_TEX, CG_LIGHT_TEX);
    CgShade(fire, [&](int x, int y, float* p) {
        float a = std::atan2(y + 0.5f - CG_LIGHT_TEX / 2.0f, x + 0.5f - CG_LIGHT_TEX / 2.0f);
        float s = (a / 6.2831853f + 0.5f) * 64.0f;
        int i = (int)s % 64;
        float f = s - std::floor(s);
        float edge = 0.78f + 0.16f * (wobble[i] + (wobble[(i + 1) % 64] - wobble[i]) * f);
        float r = CG_Radius(x, y, CG_LIGHT_TEX);
        float k = CG_Smooth(1.0f - r / std::min(edge, 0.94f));
        float hot = CG_Smooth(1.0f - r / 0.35f);
        p[0] = 0.62f * k;
        p[1] = 0.30f * k * k + 0.22f * hot;
        p[2] = 0.06f * k + 0.12f * hot;
    });
    out.Jpeg("data\\light\\fire2d.jpg", fire, 95);

    // The shot itself: a white-hot core, a cyan glow and four thin rays.
    CgImage flare(CG_FLARE_TEX, CG_FLARE_TEX);
    CgShade(flare, [](int x, int y, float* p) {
        float dx = (x + 0.5f) / (CG_FLARE_TEX / 2.0f) - 1.0f, dy = (y + 0.5f) / (CG_FLARE_TEX / 2.0f) - 1.0f;
        float r = std::hypot(dx, dy);
        float edge = CG_Smooth((0.98f - r) / 0.2f);
        float core = std::exp(-r * r * 60.0f);
        float glow = std::exp(-r * r * 7.0f);
        float rays = (std::exp(-dx * dx * 900.0f) + std::exp(-dy * dy * 900.0f)) * std::exp(-r * 2.5f);
        p[0] = (core + 0.35f * glow + 0.5f * rays) * edge;
        p[1] = (core + 0.75f * glow + 0.8f * rays) * edge;
        p[2] = (core + 1.0f * glow + 1.0f * rays) * edge;
    });
    CgClamp(flare);
    out.Jpeg("data\\disparo\\flare2.jpg", flare, 95);
}
