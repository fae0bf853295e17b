#include "image.h"
#include "rng.h"

#include <algorithm>
#include <cmath>

CgImage::CgImage(int w, int h, CgColor fill) : W(w), H(h), Px((size_t)w * h * 3)
{
    for (size_t i = 0; i < Px.size(); i += 3) {
        Px[i] = fill.r;
        Px[i + 1] = fill.g;
        Px[i + 2] = fill.b;
    }
}

static inline void CG_Put(float* p, CgColor c, float a, CgMode mode)
{
    switch (mode) {
    case CG_OVER:
        p[0] += (c.r - p[0]) * a;
        p[1] += (c.g - p[1]) * a;
        p[2] += (c.b - p[2]) * a;
        break;
    case CG_ADD:
        p[0] += c.r * a;
        p[1] += c.g * a;
        p[2] += c.b * a;
        break;
    case CG_MULTIPLY:
        p[0] *= 1.0f + (c.r - 1.0f) * a;
        p[1] *= 1.0f + (c.g - 1.0f) * a;
        p[2] *= 1.0f + (c.b - 1.0f) * a;
        break;
    }
}

void CgPaintGradient(CgImage& img, const CgMask& mask, int x0, int y0, CgColor top, CgColor bottom, float opacity,
                     CgMode mode)
{
    int ya = std::max(0, -y0), yb = std::min(mask.H, img.H - y0);
    int xa = std::max(0, -x0), xb = std::min(mask.W, img.W - x0);
    for (int y = ya; y < yb; y++) {
        CgColor c = CgMix(top, bottom, mask.H > 1 ? (float)y / (mask.H - 1) : 0.0f);
        const float* m = &mask.A[(size_t)y * mask.W];
        float* p = img.At(0, y + y0);
        for (int x = xa; x < xb; x++)
            if (m[x] > 0.0f)
                CG_Put(p + (size_t)(x + x0) * 3, c, m[x] * opacity, mode);
    }
}

void CgPaint(CgImage& img, const CgMask& mask, int x0, int y0, CgColor colour, float opacity, CgMode mode)
{
    CgPaintGradient(img, mask, x0, y0, colour, colour, opacity, mode);
}

void CgCopy(CgImage& img, const CgImage& src, int x0, int y0, float opacity, CgMode mode)
{
    for (int y = std::max(0, -y0); y < std::min(src.H, img.H - y0); y++)
        for (int x = std::max(0, -x0); x < std::min(src.W, img.W - x0); x++) {
            const float* s = src.At(x, y);
            CG_Put(img.At(x + x0, y + y0), {s[0], s[1], s[2]}, opacity, mode);
        }
}

void CgFillVertical(CgImage& img, CgColor top, CgColor bottom)
{
    for (int y = 0; y < img.H; y++) {
        CgColor c = CgMix(top, bottom, img.H > 1 ? (float)y / (img.H - 1) : 0.0f);
        for (int x = 0; x < img.W; x++) {
            float* p = img.At(x, y);
            p[0] = c.r;
            p[1] = c.g;
            p[2] = c.b;
        }
    }
}

void CgRect(CgImage& img, int x, int y, int w, int h, CgColor colour, float opacity, CgMode mode)
{
    for (int j = std::max(0, y); j < std::min(img.H, y + h); j++)
        for (int i = std::max(0, x); i < std::min(img.W, x + w); i++)
            CG_Put(img.At(i, j), colour, opacity, mode);
}

void CgDisc(CgImage& img, float cx, float cy, float r, float soft, CgColor colour, float opacity, CgMode mode)
{
    int x0 = std::max(0, (int)std::floor(cx - r)), x1 = std::min(img.W - 1, (int)std::ceil(cx + r));
    int y0 = std::max(0, (int)std::floor(cy - r)), y1 = std::min(img.H - 1, (int)std::ceil(cy + r));
    soft = std::max(soft, 0.75f);
    for (int y = y0; y <= y1; y++)
        for (int x = x0; x <= x1; x++) {
            float d = std::hypot(x + 0.5f - cx, y + 0.5f - cy);
            float a = std::clamp((r - d) / soft, 0.0f, 1.0f);
            if (a > 0.0f)
                CG_Put(img.At(x, y), colour, a * a * (3.0f - 2.0f * a) * opacity, mode);
        }
}

void CgLine(CgImage& img, float x0, float y0, float x1, float y1, float width, CgColor colour, float opacity,
            CgMode mode)
{
    float hw = width * 0.5f;
    int xa = std::max(0, (int)std::floor(std::min(x0, x1) - hw - 1));
    int xb = std::min(img.W - 1, (int)std::ceil(std::max(x0, x1) + hw + 1));
    int ya = std::max(0, (int)std::floor(std::min(y0, y1) - hw - 1));
    int yb = std::min(img.H - 1, (int)std::ceil(std::max(y0, y1) + hw + 1));
    float dx = x1 - x0, dy = y1 - y0, len2 = std::max(dx * dx + dy * dy, 1e-6f);
    for (int y = ya; y <= yb; y++)
        for (int x = xa; x <= xb; x++) {
            float px = x + 0.5f - x0, py = y + 0.5f - y0;
            float t = std::clamp((px * dx + py * dy) / len2, 0.0f, 1.0f);
            float d = std::hypot(px - t * dx, py - t * dy);
            float a = std::clamp(hw + 0.5f - d, 0.0f, 1.0f);
            if (a > 0.0f)
                CG_Put(img.At(x, y), colour, a * opacity, mode);
        }
}

CgMask CgRoundRect(int w, int h, float radius)
{
    CgMask m(w, h);
    CgShadeMask(m, [&](int x, int y) {
        float px = x + 0.5f, py = y + 0.5f;
        float qx = std::max(std::max(radius - px, px - (w - radius)), 0.0f);
        float qy = std::max(std::max(radius - py, py - (h - radius)), 0.0f);
        return std::clamp(radius - std::hypot(qx, qy) + 0.5f, 0.0f, 1.0f);
    });
    return m;
}

// One box pass along rows (stride 1) or columns (stride W) of n values.
static void CG_Box(float* v, int n, int stride, int r, std::vector<float>& tmp)
{
    if (r <= 0 || n <= 1)
        return;
    tmp.resize(n);
    float sum = 0;
    for (int i = -r; i <= r; i++)
        sum += v[(size_t)std::clamp(i, 0, n - 1) * stride];
    float k = 1.0f / (2 * r + 1);
    for (int i = 0; i < n; i++) {
        tmp[i] = sum * k;
        sum += v[(size_t)std::min(i + r + 1, n - 1) * stride] - v[(size_t)std::max(i - r, 0) * stride];
    }
    for (int i = 0; i < n; i++)
        v[(size_t)i * stride] = tmp[i];
}

static void CG_BlurPlane(float* v, int w, int h, int stride, float radius)
{
    // Three box passes of width 2r+1 approach a Gaussian of sigma ~ radius.
    int r = std::max(1, (int)std::lround(radius * 0.58f));
    std::vector<float> tmp;
    for (int pass = 0; pass < 3; pass++) {
        for (int y = 0; y < h; y++)
            CG_Box(v + (size_t)y * w * stride, w, stride, r, tmp);
        for (int x = 0; x < w; x++)
            CG_Box(v + (size_t)x * stride, h, w * stride, r, tmp);
    }
}

CgMask CgBlur(const CgMask& m, float radius)
{
    CgMask out = m;
    if (radius > 0.0f)
        CG_BlurPlane(out.A.data(), out.W, out.H, 1, radius);
    return out;
}

void CgBlurImage(CgImage& img, float radius)
{
    if (radius <= 0.0f)
        return;
    for (int c = 0; c < 3; c++)
        CG_BlurPlane(img.Px.data() + c, img.W, img.H, 3, radius);
}

CgMask CgGrow(const CgMask& m, int r)
{
    CgMask out(m.W, m.H);
    for (int y = 0; y < m.H; y++)
        for (int x = 0; x < m.W; x++) {
            float best = 0;
            for (int j = std::max(0, y - r); j <= std::min(m.H - 1, y + r); j++)
                for (int i = std::max(0, x - r); i <= std::min(m.W - 1, x + r); i++) {
                    float d = std::hypot((float)(i - x), (float)(j - y));
                    float k = std::clamp(r + 0.5f - d, 0.0f, 1.0f);
                    best = std::max(best, m.At(i, j) * k);
                }
            out.At(x, y) = best;
        }
    return out;
}

CgMask CgPad(const CgMask& m, int pad)
{
    CgMask out(m.W + 2 * pad, m.H + 2 * pad);
    for (int y = 0; y < m.H; y++)
        std::copy(&m.A[(size_t)y * m.W], &m.A[(size_t)y * m.W] + m.W, &out.At(pad, y + pad));
    return out;
}

// Weights of source cells [i, i+1) overlapping destination cell d of `scale`
// source units, for area averaging; upsampling falls back to linear.
template <int C, class Get, class Put>
static void CG_Resample(int sw, int sh, int dw, int dh, Get get, Put put)
{
    std::vector<float> row((size_t)dw * sh * C);
    auto axis = [](int sn, int dn, int d, float* out, int* first, int* count) {
        float scale = (float)sn / dn;
        if (scale <= 1.0f) {   // linear
            float s = (d + 0.5f) * scale - 0.5f;
            int i = (int)std::floor(s);
            float f = s - i;
            first[0] = std::clamp(i, 0, sn - 1);
            int second = std::clamp(i + 1, 0, sn - 1);
            if (second == first[0]) {
                out[0] = 1.0f;
                *count = 1;
            } else {
                out[0] = 1.0f - f;
                out[1] = f;
                *count = 2;
            }
            return;
        }
        float a = d * scale, b = (d + 1) * scale;
        int i0 = (int)std::floor(a), i1 = std::min(sn, (int)std::ceil(b));
        *first = i0;
        *count = i1 - i0;
        for (int i = i0; i < i1; i++)
            out[i - i0] = (std::min(b, (float)i + 1) - std::max(a, (float)i)) / scale;
    };
    std::vector<float> w(std::max(sw, sh) + 2);
    int first, count;
    for (int x = 0; x < dw; x++) {
        axis(sw, dw, x, w.data(), &first, &count);
        for (int y = 0; y < sh; y++)
            for (int c = 0; c < C; c++) {
                float s = 0;
                for (int k = 0; k < count; k++)
                    s += get(first + k, y, c) * w[k];
                row[((size_t)y * dw + x) * C + c] = s;
            }
    }
    for (int y = 0; y < dh; y++) {
        axis(sh, dh, y, w.data(), &first, &count);
        for (int x = 0; x < dw; x++)
            for (int c = 0; c < C; c++) {
                float s = 0;
                for (int k = 0; k < count; k++)
                    s += row[((size_t)(first + k) * dw + x) * C + c] * w[k];
                put(x, y, c, s);
            }
    }
}

CgImage CgResample(const CgImage& src, int w, int h)
{
    CgImage out(w, h);
    CG_Resample<3>(src.W, src.H, w, h, [&](int x, int y, int c) { return src.At(x, y)[c]; },
                   [&](int x, int y, int c, float v) { out.At(x, y)[c] = v; });
    return out;
}

CgMask CgResampleMask(const CgMask& src, int w, int h)
{
    CgMask out(w, h);
    CG_Resample<1>(src.W, src.H, w, h, [&](int x, int y, int) { return src.At(x, y); },
                   [&](int x, int y, int, float v) { out.At(x, y) = v; });
    return out;
}

void CgScanlines(CgImage& img, int period, float strength)
{
    for (int y = 0; y < img.H; y++) {
        float k = (y % period == period - 1) ? 1.0f - strength : 1.0f;
        if (k == 1.0f)
            continue;
        for (int x = 0; x < img.W; x++) {
            float* p = img.At(x, y);
            p[0] *= k;
            p[1] *= k;
            p[2] *= k;
        }
    }
}

void CgVignette(CgImage& img, float strength)
{
    CgShade(img, [&](int x, int y, float* p) {
        float u = (x + 0.5f) / img.W * 2 - 1, v = (y + 0.5f) / img.H * 2 - 1;
        float k = 1.0f - strength * std::pow(std::min(1.0f, (u * u + v * v) * 0.5f), 1.5f);
        p[0] *= k;
        p[1] *= k;
        p[2] *= k;
    });
}

void CgGrain(CgImage& img, float amount, uint64_t seed)
{
    CgRng rng(seed);
    for (size_t i = 0; i < img.Px.size(); i += 3) {
        float n = rng.Signed() * amount;
        img.Px[i] += n;
        img.Px[i + 1] += n;
        img.Px[i + 2] += n;
    }
}

void CgClamp(CgImage& img)
{
    for (float& v : img.Px)
        v = std::clamp(v, 0.0f, 1.0f);
}

std::vector<uint8_t> CgToRgb8(const CgImage& img)
{
    std::vector<uint8_t> out(img.Px.size());
    for (size_t i = 0; i < out.size(); i++)
        out[i] = (uint8_t)std::lround(std::clamp(img.Px[i], 0.0f, 1.0f) * 255.0f);
    return out;
}

std::vector<uint8_t> CgMaskTo8(const CgMask& m)
{
    std::vector<uint8_t> out(m.A.size());
    for (size_t i = 0; i < out.size(); i++)
        out[i] = (uint8_t)std::lround(std::clamp(m.A[i], 0.0f, 1.0f) * 255.0f);
    return out;
}
