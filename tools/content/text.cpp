#include "text.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include <ft2build.h>
#include FT_FREETYPE_H

static FT_Library CG_Library()
{
    static FT_Library lib = nullptr;
    if (!lib && FT_Init_FreeType(&lib))
        lib = nullptr;
    return lib;
}

CgFont::~CgFont()
{
    if (Face)
        FT_Done_Face((FT_Face)Face);
}

std::string CgFont::Load(const std::string& path)
{
    FT_Library lib = CG_Library();
    if (!lib)
        return "FreeType does not start";
    FT_Face face = nullptr;
    if (FT_New_Face(lib, path.c_str(), 0, &face))
        return "cannot read the font " + path + " (scripts/setup.sh installs fonts-dejavu-core)";
    Face = face;
    return "";
}

std::string CgLoadFonts(const std::string& folder, CgFonts* f)
{
    const std::pair<CgFont*, const char*> faces[] = {
        {&f->Sans, "DejaVuSans.ttf"},       {&f->Bold, "DejaVuSans-Bold.ttf"},
        {&f->Mono, "DejaVuSansMono.ttf"},   {&f->MonoBold, "DejaVuSansMono-Bold.ttf"},
        {&f->Serif, "DejaVuSerif-Bold.ttf"},
    };
    for (const auto& face : faces) {
        std::string error = face.first->Load(folder + "/" + face.second);
        if (!error.empty())
            return error;
    }
    return "";
}

// UTF-8 to code points; a malformed byte stands for itself.
static std::vector<uint32_t> CG_Decode(const std::string& s)
{
    std::vector<uint32_t> out;
    for (size_t i = 0; i < s.size();) {
        uint8_t c = (uint8_t)s[i];
        int extra = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC0 ? 1 : 0;
        if (extra == 0 || i + extra >= s.size()) {
            out.push_back(c);
            i++;
            continue;
        }
        uint32_t cp = c & (0x3F >> extra);
        for (int k = 1; k <= extra; k++)
            cp = (cp << 6) | ((uint8_t)s[i + k] & 0x3F);
        out.push_back(cp);
        i += extra + 1;
    }
    return out;
}

struct CG_Glyph {
    int X, Y;   // bitmap top-left relative to the pen origin on the baseline
    int W, H;
    std::vector<uint8_t> Bits;
};

// Lays a line out: glyph bitmaps with pen positions; returns the advance.
static int CG_Layout(const CgFont& font, const std::string& utf8, float px, float tracking, std::vector<CG_Glyph>* out)
{
    FT_Face face = (FT_Face)font.Face;
    if (!face)
        return 0;
    FT_Set_Char_Size(face, 0, (FT_F26Dot6)std::lround(px * 64.0f), 72, 72);
    long pen = 0;   // 26.6
    FT_UInt previous = 0;
    for (uint32_t cp : CG_Decode(utf8)) {
        FT_UInt index = FT_Get_Char_Index(face, cp);
        if (previous && index && FT_HAS_KERNING(face)) {
            FT_Vector k;
            if (!FT_Get_Kerning(face, previous, index, FT_KERNING_DEFAULT, &k))
                pen += k.x;
        }
        if (FT_Load_Glyph(face, index, FT_LOAD_DEFAULT) || FT_Render_Glyph(face->glyph, FT_RENDER_MODE_NORMAL))
            continue;
        FT_GlyphSlot g = face->glyph;
        if (out) {
            CG_Glyph gl;
            gl.X = (int)((pen + 32) >> 6) + g->bitmap_left;
            gl.Y = -g->bitmap_top;
            gl.W = (int)g->bitmap.width;
            gl.H = (int)g->bitmap.rows;
            gl.Bits.resize((size_t)gl.W * gl.H);
            for (int r = 0; r < gl.H; r++)
                std::copy(g->bitmap.buffer + (size_t)r * g->bitmap.pitch,
                          g->bitmap.buffer + (size_t)r * g->bitmap.pitch + gl.W, &gl.Bits[(size_t)r * gl.W]);
            out->push_back(std::move(gl));
        }
        pen += g->advance.x + (long)std::lround(tracking * 64.0f);
        previous = index;
    }
    return (int)((pen - (long)std::lround(tracking * 64.0f) + 32) >> 6);
}

int CgTextWidth(const CgFont& font, const std::string& utf8, float px, float tracking)
{
    return CG_Layout(font, utf8, px, tracking, nullptr);
}

CgText CgSetText(const CgFont& font, const std::string& utf8, float px, float tracking, int pad)
{
    std::vector<CG_Glyph> glyphs;
    CgText t;
    t.Width = CG_Layout(font, utf8, px, tracking, &glyphs);
    int x0 = 0, x1 = std::max(t.Width, 1), y0 = 0, y1 = 1;
    for (const CG_Glyph& g : glyphs) {
        x0 = std::min(x0, g.X);
        x1 = std::max(x1, g.X + g.W);
        y0 = std::min(y0, g.Y);
        y1 = std::max(y1, g.Y + g.H);
    }
    t.Mask = CgMask(x1 - x0 + 2 * pad, y1 - y0 + 2 * pad);
    t.Left = pad - x0;
    t.Baseline = pad - y0;
    for (const CG_Glyph& g : glyphs)
        for (int r = 0; r < g.H; r++)
            for (int c = 0; c < g.W; c++) {
                float& a = t.Mask.At(g.X + c + t.Left, g.Y + r + t.Baseline);
                a = std::min(1.0f, a + g.Bits[(size_t)r * g.W + c] / 255.0f);
            }
    return t;
}

int CgDrawText(CgImage& img, const CgFont& font, const std::string& utf8, float px, int x, int y, CgAlign align,
               const CgTextLook& look)
{
    int pad = (int)std::ceil(look.GlowRadius * 2.5f) + look.Outline + look.ShadowOffset + 2;
    CgText t = CgSetText(font, utf8, px, look.Tracking, pad);
    int left = align == CG_LEFT ? x : align == CG_CENTER ? x - t.Width / 2 : x - t.Width;
    int ox = left - t.Left, oy = y - t.Baseline;
    if (look.ShadowOffset) {
        CgMask s = CgBlur(look.Outline ? CgGrow(t.Mask, look.Outline) : t.Mask, look.ShadowOffset * 0.7f);
        CgPaint(img, s, ox + look.ShadowOffset, oy + look.ShadowOffset, {0, 0, 0}, look.ShadowOpacity);
    }
    if (look.GlowRadius > 0)
        CgPaint(img, CgBlur(t.Mask, look.GlowRadius), ox, oy, look.Glow, look.GlowStrength, CG_ADD);
    if (look.Outline)
        CgPaint(img, CgGrow(t.Mask, look.Outline), ox, oy, look.OutlineColour, 1.0f, look.Mode);
    // The gradient runs over the letters' own rows, not the padding: its
    // ends are extended linearly to the mask's first and last rows.
    float span = (float)std::max(1, t.Mask.H - 2 * pad - 1);
    CgColor top = CgMix(look.Top, look.Bottom, -pad / span);
    CgColor bottom = CgMix(look.Top, look.Bottom, (t.Mask.H - 1 - pad) / span);
    CgPaintGradient(img, t.Mask, ox, oy, top, bottom, 1.0f, look.Mode);
    return t.Width;
}
