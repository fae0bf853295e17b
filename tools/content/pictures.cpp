#include "pictures.h"
#include "rng.h"

#include <algorithm>
#include <cmath>

CgImage CgCanvas(CgColor fill)
{
    return CgImage(CG_SCREEN_W, CG_SCREEN_H, fill);
}

CgImage CgTexture(const CgImage& canvas, int w, int h)
{
    CgImage t = CgResample(canvas, w, h);
    CgClamp(t);
    return t;
}

void CgDuskSky(CgImage& img, int horizon)
{
    const CgColor stops[] = {CgRgb(0x04030C), CgRgb(0x0B0A2A), CgRgb(0x2A0F46), CgRgb(0x6A1B5A), CgRgb(0xD0485A),
                             CgRgb(0xFF9A4A)};
    const int n = (int)(sizeof(stops) / sizeof(stops[0]));
    CgShade(img, [&](int, int y, float* p) {
        float t = std::clamp((float)y / std::max(1, horizon), 0.0f, 1.0f);
        t = std::pow(t, 1.8f) * (n - 1);
        int i = std::min((int)t, n - 2);
        CgColor c = CgMix(stops[i], stops[i + 1], t - i);
        p[0] = c.r;
        p[1] = c.g;
        p[2] = c.b;
    });
}

void CgStars(CgImage& img, int bottom, int count, uint64_t seed, float brightness)
{
    CgRng rng(seed);
    for (int i = 0; i < count; i++) {
        float x = rng.Unit() * img.W, y = rng.Unit() * bottom;
        float fade = 1.0f - y / bottom;   // fewer towards the glowing horizon
        float b = rng.Unit();
        b = b * b * b * brightness * fade;
        CgColor c = CgMix(CgRgb(0xAFC8FF), CgRgb(0xFFF0D8), rng.Unit());
        CgDisc(img, x, y, 0.6f + b * 1.2f, 0.8f, c, std::min(1.0f, 0.25f + b * 1.5f), CG_ADD);
        if (b > 0.35f)
            CgDisc(img, x, y, 5.0f + b * 4.0f, 6.0f, c, 0.12f * b, CG_ADD);
    }
}

void CgSun(CgImage& img, float cx, float horizon, float r)
{
    CgDisc(img, cx, horizon, r * 2.2f, r * 1.6f, CgRgb(0xFF5A6A), 0.35f, CG_ADD);   // haze
    CgShade(img, [&](int x, int y, float* p) {
        float dx = x + 0.5f - cx, dy = y + 0.5f - horizon;
        float d = std::hypot(dx, dy);
        if (d > r + 1.0f || dy > 0.0f)
            return;
        float a = std::clamp(r + 0.5f - d, 0.0f, 1.0f);
        // Stripes widen towards the horizon, as on every sunset of the time.
        float h = -dy / r;   // 1 at the top, 0 at the horizon
        if (h < 0.55f) {
            float period = 6.0f + h * 14.0f;
            float gap = (0.55f - h) * 8.0f;
            float phase = std::fmod(-dy, period);
            if (phase < gap)
                a *= std::clamp(phase - gap + 1.0f, 0.0f, 1.0f);
        }
        CgColor c = CgMix(CgRgb(0xFFE66A), CgRgb(0xFF2D78), std::clamp(1.0f - h, 0.0f, 1.0f));
        p[0] += (c.r - p[0]) * a;
        p[1] += (c.g - p[1]) * a;
        p[2] += (c.b - p[2]) * a;
    });
}

void CgGridFloor(CgImage& img, int horizon, CgColor line, float phase)
{
    const float cx = img.W * 0.5f;
    CgShade(img, [&](int x, int y, float* p) {
        if (y < horizon)
            return;
        float dy = y + 0.5f - horizon;
        float depth = 60.0f / std::max(dy, 0.5f);   // distance along the floor
        float wx = (x + 0.5f - cx) * depth / 60.0f;  // floor x
        float base = std::clamp(dy / (img.H - horizon), 0.0f, 1.0f);
        CgColor floor = CgMix(CgRgb(0x1A0828), CgRgb(0x050210), base);
        // Line coverage from the distance to the nearest grid line, in pixels.
        float fz = depth * 1.0f + phase, fx = wx * 1.0f;
        float dz = std::fabs(fz - std::round(fz)) / (depth * depth / 60.0f + 1e-4f);
        float dxl = std::fabs(fx - std::round(fx)) * 60.0f / depth;
        float lz = std::clamp(1.2f - dz, 0.0f, 1.0f), lx = std::clamp(1.2f - dxl, 0.0f, 1.0f);
        float haze = std::clamp(dy / 40.0f, 0.0f, 1.0f);
        float a = std::max(lz, lx) * haze;
        float glow = std::exp(-dy / 18.0f);
        p[0] = floor.r + line.r * a + 0.5f * glow;
        p[1] = floor.g + line.g * a + 0.15f * glow;
        p[2] = floor.b + line.b * a + 0.35f * glow;
    });
}

void CgSunset(CgImage& img, const CgFonts& fonts, int horizon, float sun, CgColor grid, float gridPhase, int logoY,
              float logoPx, uint64_t seed)
{
    CgDuskSky(img, horizon);
    CgStars(img, horizon - 25, 460, seed);
    CgSun(img, img.W / 2.0f, horizon, sun);
    CgGridFloor(img, horizon, grid, gridPhase);
    CgLogo(img, fonts, img.W / 2, logoY, logoPx);
}

void CgPanel(CgImage& img, int x, int y, int w, int h, float opacity, CgColor border)
{
    CgMask outer = CgRoundRect(w, h, 10.0f);
    CgMask inner = CgRoundRect(w - 2, h - 2, 9.0f);
    CgPaint(img, CgBlur(CgPad(outer, 8), 5.0f), x - 8, y - 4, {0, 0, 0}, 0.5f);
    CgMask ring = outer;
    CgShadeMask(ring, [&](int i, int j) {
        bool in = i >= 1 && j >= 1 && i - 1 < inner.W && j - 1 < inner.H;
        return std::max(0.0f, outer.At(i, j) - (in ? inner.At(i - 1, j - 1) : 0.0f));
    });
    CgPaintGradient(img, inner, x + 1, y + 1, CgRgb(0x101830), CgRgb(0x05060E), opacity);
    CgPaint(img, ring, x, y, border, 0.8f);
}

void CgLogo(CgImage& img, const CgFonts& fonts, int cx, int y, float px, bool additive)
{
    CgTextLook chrome;
    chrome.Tracking = px * 0.02f;
    if (additive) {
        chrome.Top = CgRgb(0xFFFFFF);
        chrome.Bottom = CgRgb(0xFF7A30);
        chrome.GlowRadius = px * 0.12f;
        chrome.Glow = CgRgb(0xFF4A8A);
        chrome.GlowStrength = 0.9f;
        chrome.Mode = CG_ADD;
    } else {
        chrome.Top = CgRgb(0xF4FBFF);
        chrome.Bottom = CgRgb(0xFF9C3A);
        chrome.GlowRadius = px * 0.16f;
        chrome.Glow = CgRgb(0xD23C9A);
        chrome.GlowStrength = 0.7f;
        chrome.Outline = std::max(2, (int)(px * 0.035f));
        chrome.OutlineColour = CgRgb(0x12062A);
        chrome.ShadowOffset = std::max(3, (int)(px * 0.06f));
    }
    int w = CgTextWidth(fonts.Bold, "BROLFEST", px, chrome.Tracking);
    CgDrawText(img, fonts.Bold, "BROLFEST", px, cx, y, CG_CENTER, chrome);
    // A chrome highlight across the upper half of the letters.
    CgText t = CgSetText(fonts.Bold, "BROLFEST", px, chrome.Tracking, 0);
    CgMask band = t.Mask;
    CgShadeMask(band, [&](int bx, int by) {
        float v = (float)by / t.Baseline;
        float stripe = std::clamp(1.0f - std::fabs(v - 0.42f) * 9.0f, 0.0f, 1.0f);
        return t.Mask.At(bx, by) * stripe;
    });
    CgPaint(img, band, cx - w / 2 - t.Left, y - t.Baseline, {1, 1, 1}, 0.55f, CG_ADD);

    CgTextLook year;
    year.Top = CgRgb(0xB8F6FF);
    year.Bottom = CgRgb(0x3AA8FF);
    year.GlowRadius = px * 0.14f;
    year.Glow = CgRgb(0x2A9CFF);
    year.GlowStrength = additive ? 1.0f : 0.8f;
    year.Tracking = px * 0.18f;
    year.Mode = additive ? CG_ADD : CG_OVER;
    if (!additive) {
        year.Outline = 2;
        year.OutlineColour = CgRgb(0x06122A);
    }
    CgDrawText(img, fonts.MonoBold, "2004", px * 0.42f, cx + w / 2, y + (int)(px * 0.46f), CG_RIGHT, year);
}

int CgKeyHint(CgImage& img, const CgFonts& fonts, int x, int y, const char* key, const char* what, float px)
{
    int kw = CgTextWidth(fonts.MonoBold, key, px) + (int)(px * 0.9f);
    int kh = (int)(px * 1.45f);
    CgMask cap = CgRoundRect(kw, kh, px * 0.3f);
    CgPaintGradient(img, cap, x, y - (int)(px * 1.08f), CgRgb(0xF0F4FF), CgRgb(0xA8B4CC));
    CgTextLook dark;
    dark.Top = dark.Bottom = CgRgb(0x101426);
    CgDrawText(img, fonts.MonoBold, key, px, x + kw / 2, y, CG_CENTER, dark);
    CgTextLook light;
    light.Top = CgRgb(0xFFFFFF);
    light.Bottom = CgRgb(0xCFE2FF);
    int tw = CgDrawText(img, fonts.Bold, what, px, x + kw + (int)(px * 0.5f), y, CG_LEFT, light);
    return kw + (int)(px * 0.5f) + tw;
}

void CgCrt(CgImage& img, uint64_t seed, float scan, float vignette)
{
    CgScanlines(img, 3, scan);
    CgVignette(img, vignette);
    CgGrain(img, 0.012f, seed);
    CgClamp(img);
}
