// Pictures as the generator paints them: RGB floats in display values
// (0 black, 1 full), rows top first, and single-channel coverage masks for
// text, shapes and alpha maps. Painting clips at the edges; nothing here
// allocates per pixel.
#ifndef ZQCONTENT_IMAGE_H
#define ZQCONTENT_IMAGE_H

#include <cstddef>
#include <cstdint>
#include <vector>

struct CgColor {
    float r, g, b;
};

inline CgColor CgRgb(int hex)
{
    return {((hex >> 16) & 255) / 255.0f, ((hex >> 8) & 255) / 255.0f, (hex & 255) / 255.0f};
}
inline CgColor CgMix(CgColor a, CgColor b, float t)
{
    return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t};
}
inline CgColor CgScale(CgColor a, float k) { return {a.r * k, a.g * k, a.b * k}; }

struct CgImage {
    int W = 0, H = 0;
    std::vector<float> Px;   // W * H * 3

    CgImage() = default;
    CgImage(int w, int h, CgColor fill = {0, 0, 0});
    float* At(int x, int y) { return &Px[((size_t)y * W + x) * 3]; }
    const float* At(int x, int y) const { return &Px[((size_t)y * W + x) * 3]; }
};

struct CgMask {
    int W = 0, H = 0;
    std::vector<float> A;    // W * H coverage, 0..1

    CgMask() = default;
    CgMask(int w, int h, float fill = 0.0f) : W(w), H(h), A((size_t)w * h, fill) {}
    float& At(int x, int y) { return A[(size_t)y * W + x]; }
    float At(int x, int y) const { return A[(size_t)y * W + x]; }
};

// Calls fn(x, y, pixel) for every pixel: procedural backgrounds.
template <class F> void CgShade(CgImage& img, F fn)
{
    for (int y = 0; y < img.H; y++)
        for (int x = 0; x < img.W; x++)
            fn(x, y, img.At(x, y));
}
template <class F> void CgShadeMask(CgMask& m, F fn)
{
    for (int y = 0; y < m.H; y++)
        for (int x = 0; x < m.W; x++)
            m.At(x, y) = fn(x, y);
}

enum CgMode { CG_OVER, CG_ADD, CG_MULTIPLY };

// Paints `colour` through `mask` placed with its top-left corner at (x0, y0).
void CgPaint(CgImage& img, const CgMask& mask, int x0, int y0, CgColor colour, float opacity = 1.0f,
             CgMode mode = CG_OVER);
// The same with a vertical gradient across the mask's rows (top to bottom).
void CgPaintGradient(CgImage& img, const CgMask& mask, int x0, int y0, CgColor top, CgColor bottom,
                     float opacity = 1.0f, CgMode mode = CG_OVER);
// Places `src` with its top-left corner at (x0, y0).
void CgCopy(CgImage& img, const CgImage& src, int x0, int y0, float opacity = 1.0f, CgMode mode = CG_OVER);

void CgFillVertical(CgImage& img, CgColor top, CgColor bottom);
void CgRect(CgImage& img, int x, int y, int w, int h, CgColor colour, float opacity = 1.0f, CgMode mode = CG_OVER);
// Soft disc: full inside r - soft, fading to nothing at r.
void CgDisc(CgImage& img, float cx, float cy, float r, float soft, CgColor colour, float opacity = 1.0f,
            CgMode mode = CG_OVER);
// Anti-aliased line of the given width.
void CgLine(CgImage& img, float x0, float y0, float x1, float y1, float width, CgColor colour,
            float opacity = 1.0f, CgMode mode = CG_OVER);
// Rounded rectangle coverage of w x h (for panels and buttons).
CgMask CgRoundRect(int w, int h, float radius);

// Gaussian-like blur (three box passes); radius in pixels.
CgMask CgBlur(const CgMask& m, float radius);
void CgBlurImage(CgImage& img, float radius);
// Grows coverage by r pixels (outlines).
CgMask CgGrow(const CgMask& m, int r);
// A copy with `pad` empty pixels on every side (room for glows).
CgMask CgPad(const CgMask& m, int pad);

// Area-averaging resize (any direction).
CgImage CgResample(const CgImage& src, int w, int h);
CgMask CgResampleMask(const CgMask& src, int w, int h);

// Dark lines every `period` rows, multiplied by 1 - strength.
void CgScanlines(CgImage& img, int period, float strength);
// Darkens towards the corners.
void CgVignette(CgImage& img, float strength);
// Adds fine grain of +-amount.
void CgGrain(CgImage& img, float amount, uint64_t seed);
void CgClamp(CgImage& img);

// 8-bit RGB, rows top first, rounded and clamped.
std::vector<uint8_t> CgToRgb8(const CgImage& img);
std::vector<uint8_t> CgMaskTo8(const CgMask& m);

#endif
