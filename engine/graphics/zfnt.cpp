#include "zfnt.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "zdebug.h"
#include "zgfx.h"
#include "zmem.h"
#include "zxfs.h"

CZFnt::CZFnt()
    : Gfx(nullptr), Debug(nullptr), Mem(nullptr), Xfs(nullptr), Fonts(nullptr), Capacity(0), Loaded(0), Plane(0),
      Alignment(ZFNT_ALIGN_LEFT), GlyphsDrawn(0), RecordsSkipped(0)
{
    Text[0] = 0;
}

CZFnt::~CZFnt()
{
    if (Fonts) {
        for (uint32_t i = 0; i < Capacity; i++)
            FNT_FreeGlyphs(&Fonts[i]);
        Mem->FreeMem(Fonts, Capacity * sizeof(ZFNT_FONT));
    }
    if (Plane)
        Gfx->DestroyPlane2d(Plane);
}

void CZFnt::FNT_FreeGlyphs(ZFNT_FONT* font)
{
    for (int c = 0; c < ZFNT_GLYPHS; c++)
        if (font->Glyphs[c]) {
            Mem->FreeMem(font->Glyphs[c], sizeof(ZFNT_GLYPH));
            font->Glyphs[c] = nullptr;
        }
}

bool CZFnt::Init(unsigned long capacity)
{
    if (Fonts) {
        if (Debug)
            Debug->OutputDebug("FNT: Init called twice; the first font table stays");
        return false;
    }
    if (!capacity || capacity > 0xFFFFFFFFu / sizeof(ZFNT_FONT))
        return false;
    Fonts = (ZFNT_FONT*)Mem->GetMem(capacity * sizeof(ZFNT_FONT));
    if (!Fonts)
        return false;
    memset(Fonts, 0, capacity * sizeof(ZFNT_FONT));
    for (unsigned long i = 0; i < capacity; i++)
        Fonts[i].BaseSize = Fonts[i].Scale = 1.0f;
    Capacity = capacity;
    Loaded = 0;
    Plane = Gfx->CreatePlane2d(1, 1, 0, 0, 0);
    return true;
}

unsigned long CZFnt::LoadFont(char* file)
{
    if (Loaded >= Capacity) {
        if (Debug)
            Debug->OutputDebug("FNT: LoadFont(%s): all %u font records are in use (Init's capacity)", file, Capacity);
        return 0;
    }
    unsigned long handle = Xfs->OpenFile(file);
    const uint32_t size = Xfs->GetFileSize(handle);
    uint8_t* data = size ? (uint8_t*)Mem->GetMem(size) : nullptr;
    const uint32_t got = data ? Xfs->ReadFile(handle, data, size) : 0;
    Xfs->CloseFile(handle);

    ZFNT_GLYPH glyphs[ZFNT_GLYPHS];
    uint8_t present[ZFNT_GLYPHS] = {};
    const uint32_t skipped = ZFNT_ParseFont(data, got, glyphs, present);
    if (data)
        Mem->FreeMem(data, size);
    if (skipped) {
        RecordsSkipped += skipped;
        if (Debug)
            Debug->OutputDebug("FNT: LoadFont(%s): %u records with a code above 255 skipped", file, skipped);
    }
    ZFNT_FONT* font = &Fonts[Loaded];
    bool any = false;
    for (int c = 0; c < ZFNT_GLYPHS; c++) {
        if (!present[c])
            continue;
        ZFNT_GLYPH* g = (ZFNT_GLYPH*)Mem->GetMem(sizeof(ZFNT_GLYPH));
        if (!g)
            break;
        *g = glyphs[c];
        font->Glyphs[c] = g;
        any = true;
    }
    if (!any) {
        FNT_FreeGlyphs(font);
        if (Debug)
            Debug->OutputDebug("FNT: LoadFont(%s): no glyph could be read (%u bytes)", file, got);
        return 0;
    }
    font->Scale = 1.0f;
    Loaded++;
    return (unsigned long)(uintptr_t)font;
}

void CZFnt::SetTexture(unsigned long font, unsigned long texture, unsigned long flags)
{
    ZFNT_FONT* f = (ZFNT_FONT*)(uintptr_t)font;
    f->Texture = texture;
    f->Flags = flags;
}

void CZFnt::SetBaseSize(unsigned long font, float size)
{
    ((ZFNT_FONT*)(uintptr_t)font)->BaseSize = size;
}

void CZFnt::SetAlignement(unsigned long alignment)
{
    Alignment = alignment;
}

static inline bool FNT_IsBreak(char c)
{
    return c == '\r' || c == '\n';
}

float CZFnt::LineWidth(unsigned long font, const char* text)
{
    const ZFNT_FONT* f = (const ZFNT_FONT*)(uintptr_t)font;
    float w = 0;
    for (; *text && !FNT_IsBreak(*text); text++)
        if (const ZFNT_GLYPH* g = f->Glyphs[(uint8_t)*text])
            w += (g->Right - g->Left) * f->BaseSize;
    return w;
}

// The space glyph's height; a font without one advances by its tallest
// glyph, so lines never overlap.
float CZFnt::LineHeight(unsigned long font)
{
    const ZFNT_FONT* f = (const ZFNT_FONT*)(uintptr_t)font;
    if (const ZFNT_GLYPH* g = f->Glyphs[' '])
        return (g->Bottom - g->Top) * f->BaseSize;
    float h = 0;
    for (int c = 0; c < ZFNT_GLYPHS; c++)
        if (f->Glyphs[c] && f->Glyphs[c]->Bottom - f->Glyphs[c]->Top > h)
            h = f->Glyphs[c]->Bottom - f->Glyphs[c]->Top;
    return h * f->BaseSize;
}

void CZFnt::DrawString(unsigned long font, float x, float y, char* format, ...)
{
    va_list args;
    va_start(args, format);
    vsnprintf(Text, sizeof(Text), format, args);    // longer text is cut, never written past the buffer
    va_end(args);
    if (Alignment != ZFNT_ALIGN_LEFT && Alignment != ZFNT_ALIGN_CENTRE)
        return;
    const ZFNT_FONT* f = (const ZFNT_FONT*)(uintptr_t)font;
    Gfx->SetMaterialPlane2d(Plane, f->Texture, f->Flags);
    const bool centre = Alignment == ZFNT_ALIGN_CENTRE;
    float pen = centre ? x - LineWidth(font, Text) / 2 : x;
    for (const char* c = Text; *c; c++) {
        if (FNT_IsBreak(*c)) {
            y += LineHeight(font);
            if (FNT_IsBreak(c[1]))
                c++;
            pen = centre ? x - LineWidth(font, c + 1) / 2 : x;
            continue;
        }
        const ZFNT_GLYPH* g = f->Glyphs[(uint8_t)*c];
        if (!g)
            continue;
        const float w = (g->Right - g->Left) * f->BaseSize, h = (g->Bottom - g->Top) * f->BaseSize;
        Gfx->ScalePlane2d(Plane, w, h);
        Gfx->SetMappingPlane2d(Plane, g->Left, g->Top, g->Right, g->Bottom);
        Gfx->MovePlane2d(Plane, pen, y);
        Gfx->DrawPlane2d(Plane, true, false, true);
        pen += w;
        GlyphsDrawn++;
    }
}
