// The overlays: the clock's digits (added light on black on 25 x 25
// planes), the soldiers' shadow (black picture + round alpha blob), the
// HUD frame (colour picture + alpha map on a 1280 x 480 plane whose u
// scrolls, so it tiles along u) and the dark veil of the win sequence.
// Every alpha map is exactly its picture's size.
#include "pictures.h"
#include "rng.h"

#include <algorithm>
#include <cmath>

static const int CG_DIGIT_TEX = 32, CG_SHADOW_TEX = 64, CG_VEIL_TEX = 128;
static const int CG_FRAME_W = 1024, CG_FRAME_H = 512;

std::vector<std::string> CgHudNames()
{
    std::vector<std::string> names = CgNumbered("data\\numeros\\%d.jpg", 0, 9);
    names.insert(names.end(), {"data\\numeros\\dospuntos.jpg", "data\\black.jpg", "data\\shadow.pcx",
                               "data\\black2.jpg", "data\\layout.pcx", "data\\black3.jpg"});
    return names;
}

static CgImage CG_Digit(const CgFonts& f, const char* glyph)
{
    // Drawn at four times the size and reduced: crisp edges at 32 x 32.
    const int s = CG_DIGIT_TEX * 4;
    CgImage big(s, s);
    CgTextLook look;
    look.Top = CgRgb(0xFFFFFF);
    look.Bottom = CgRgb(0x8FE8FF);
    look.GlowRadius = 10.0f;
    look.Glow = CgRgb(0x1E9CFF);
    look.GlowStrength = 1.2f;
    look.Mode = CG_ADD;
    CgDrawText(big, f.MonoBold, glyph, 118, s / 2, s / 2 + 42, CG_CENTER, look);
    CgImage t = CgResample(big, CG_DIGIT_TEX, CG_DIGIT_TEX);
    CgClamp(t);
    return t;
}

// Paints a shape into the frame's colour and alpha at once (colour over,
// alpha composited over).
struct CG_Frame {
    CgImage Colour{CG_FRAME_W, CG_FRAME_H, CgRgb(0x060A14)};
    CgMask Alpha{CG_FRAME_W, CG_FRAME_H};

    void Put(const CgMask& m, int x, int y, CgColor c, float a)
    {
        // Drawn at x and one period either side: the picture wraps along u.
        for (int shift = -CG_FRAME_W; shift <= CG_FRAME_W; shift += CG_FRAME_W) {
            CgPaint(Colour, m, x + shift, y, c);
            for (int j = std::max(0, -y); j < std::min(m.H, CG_FRAME_H - y); j++)
                for (int i = std::max(0, -(x + shift)); i < std::min(m.W, CG_FRAME_W - (x + shift)); i++) {
                    float& d = Alpha.At(i + x + shift, j + y);
                    d += m.At(i, j) * a * (1.0f - d);
                }
        }
    }
    void Box(int x, int y, int w, int h, CgColor c, float a) { Put(CgMask(w, h, 1.0f), x, y, c, a); }
    void Text(const CgFont& font, const char* text, float px, int cx, int baseline, CgColor c, float a)
    {
        CgText t = CgSetText(font, text, px, px * 0.15f, 0);
        Put(t.Mask, cx - t.Width / 2 - t.Left, baseline - t.Baseline, c, a);
    }
};

// Texture rows of a screen row: the plane is 480 high, the picture 512.
static int CG_Row(float screenY) { return (int)std::lround(screenY * CG_FRAME_H / 480.0f); }

static void CG_HudFrame(const CgFonts& f, CgImage* colour, CgMask* alpha)
{
    CG_Frame fr;
    const CgColor cyan = CgRgb(0x46D2FF), dim = CgRgb(0x1A3A5A), pink = CgRgb(0xFF4AA8);
    const int top = CG_Row(26), bottom = CG_Row(480 - 30);

    // Shade under and over the bars, then the bars.
    CgMask fadeDown(CG_FRAME_W, 14), fadeUp(CG_FRAME_W, 14);
    CgShadeMask(fadeDown, [](int, int y) { return 1.0f - y / 14.0f; });
    CgShadeMask(fadeUp, [](int, int y) { return y / 14.0f; });
    fr.Put(fadeDown, 0, top, {0, 0, 0}, 0.45f);
    fr.Put(fadeUp, 0, bottom - 14, {0, 0, 0}, 0.45f);
    fr.Box(0, 0, CG_FRAME_W, top, CgRgb(0x08101E), 0.78f);
    fr.Box(0, bottom, CG_FRAME_W, CG_FRAME_H - bottom, CgRgb(0x08101E), 0.78f);
    fr.Box(0, top - 2, CG_FRAME_W, 2, cyan, 0.9f);
    fr.Box(0, bottom, CG_FRAME_W, 2, cyan, 0.9f);

    // A heading scale along the top: the world turns under it.
    for (int x = 0; x < CG_FRAME_W; x += 16) {
        int h = x % 128 == 0 ? 12 : x % 64 == 0 ? 8 : 4;
        fr.Box(x, top - 2 - h, 2, h, x % 64 == 0 ? cyan : dim, 0.95f);
    }
    const char* marks[] = {"N", "E", "S", "W"};
    for (int i = 0; i < 4; i++)
        fr.Text(f.MonoBold, marks[i], 15, i * 256 + 1, 16, i == 0 ? pink : cyan, 1.0f);
    for (int i = 0; i < 4; i++) {
        char deg[8];
        snprintf(deg, sizeof(deg), "%03d", i * 90 + 45);
        fr.Text(f.Mono, deg, 10, i * 256 + 129, 14, dim, 1.0f);
    }

    // Bottom: segments with notches and the service line, every half width.
    for (int k = 0; k < 2; k++) {
        int x0 = k * 512;
        fr.Box(x0 + 24, bottom + 8, 140, 3, pink, 0.9f);
        fr.Box(x0 + 348, bottom + 8, 140, 3, pink, 0.9f);
        for (int i = 0; i < 6; i++)
            fr.Box(x0 + 176 + i * 28, bottom + 8, 20, 3, cyan, 0.8f);
        fr.Text(f.MonoBold, "BROLFEST 2004 \xC2\xB7 SANTA BROLLA DE MAR \xC2\xB7 23-25 JULY", 11, x0 + 256, bottom + 30,
                cyan, 0.95f);
        // Corner brackets of a sight every half width.
        for (int side = -1; side <= 1; side += 2) {
            int bx = x0 + 256 + side * 236;
            fr.Box(bx - 1, top + 6, 2, 18, cyan, 0.6f);
            fr.Box(side < 0 ? bx - 1 : bx - 11, top + 6, 12, 2, cyan, 0.6f);
            fr.Box(bx - 1, bottom - 24, 2, 18, cyan, 0.6f);
            fr.Box(side < 0 ? bx - 1 : bx - 11, bottom - 8, 12, 2, cyan, 0.6f);
        }
    }
    *colour = fr.Colour;
    *alpha = fr.Alpha;
}

void CgBuildHud(CgSink& out)
{
    char name[CG_MAX_NAME + 1];
    for (int d = 0; d <= 9; d++) {
        char glyph[2] = {(char)('0' + d), 0};
        snprintf(name, sizeof(name), "data\\numeros\\%d.jpg", d);
        out.Jpeg(name, CG_Digit(out.Fonts, glyph), 95, true);
    }
    out.Jpeg("data\\numeros\\dospuntos.jpg", CG_Digit(out.Fonts, ":"), 95, true);

    // Shadow: black, its shape all in the alpha: dense under the feet,
    // fading out well inside the square so no edge shows.
    CgImage black(CG_SHADOW_TEX, CG_SHADOW_TEX);
    out.Jpeg("data\\black.jpg", black, 95);
    CgMask blob(CG_SHADOW_TEX, CG_SHADOW_TEX);
    CgShadeMask(blob, [](int x, int y) {
        float r = std::hypot(x + 0.5f - CG_SHADOW_TEX / 2.0f, y + 0.5f - CG_SHADOW_TEX / 2.0f) / (CG_SHADOW_TEX / 2.0f);
        float t = std::clamp(1.0f - r / 0.92f, 0.0f, 1.0f);
        return 0.8f * t * t * (3.0f - 2.0f * t);
    });
    out.PcxAlpha("data\\shadow.pcx", blob);

    CgImage frame;
    CgMask frameAlpha;
    CG_HudFrame(out.Fonts, &frame, &frameAlpha);
    out.Jpeg("data\\black2.jpg", frame, 95, true);
    out.PcxAlpha("data\\layout.pcx", frameAlpha);

    // The veil darkens the scene behind the win banner: a deep blue-black,
    // a little lighter in the middle.
    CgImage veil(CG_VEIL_TEX, CG_VEIL_TEX);
    CgShade(veil, [](int x, int y, float* p) {
        float r = std::hypot(x - CG_VEIL_TEX / 2.0f, y - CG_VEIL_TEX / 2.0f) / CG_VEIL_TEX;
        float k = 0.10f * (1.0f - r);
        p[0] = k * 0.3f;
        p[1] = k * 0.35f;
        p[2] = k;
    });
    out.Jpeg("data\\black3.jpg", veil, 95);
}
