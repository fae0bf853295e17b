// CZFnt: bitmap fonts. A font is a texture and up to 256 glyph rectangles
// (zsprfile.h); DrawString formats like printf and draws glyph by glyph with
// one 2D plane. Main thread only.
#ifndef ZARQUEL_ZFNT_H
#define ZARQUEL_ZFNT_H

#include <cstdint>

#include "zapi.h"
#include "zsprfile.h"

class CZGfx;
class CZDebug;
class CZMem;
class CZXfs;

#define ZFNT_TEXT_BYTES 1024    // formatted text; longer text is cut to 1023 characters
#define ZFNT_ALIGN_LEFT   1
#define ZFNT_ALIGN_CENTRE 2

// A font; its address is the font handle.
struct ZFNT_FONT {
    uint32_t Texture;
    ZFNT_GLYPH* Glyphs[ZFNT_GLYPHS];    // by character code; null: no glyph
    float BaseSize;
    float Scale;                        // 1.0, set by LoadFont
    uint32_t Flags;                     // render flags of the glyphs
};
static_assert(sizeof(ZFNT_FONT) == 4 + 4 * ZFNT_GLYPHS + 12, "font record");

class ZQAPI CZFnt {
public:
    CZFnt();
    ~CZFnt();

    bool Init(unsigned long capacity);
    // The font handle, or 0 when every record is in use or the file holds
    // no glyph record.
    unsigned long LoadFont(char* file);
    void SetTexture(unsigned long font, unsigned long texture, unsigned long flags);
    void SetBaseSize(unsigned long font, float size);
    void SetAlignement(unsigned long alignment);
    void DrawString(unsigned long font, float x, float y, char* format, ...)
        __attribute__((format(gnu_printf, 5, 6)));
    // Width of the text's first line and the height one line break advances.
    float LineWidth(unsigned long font, const char* text);
    float LineHeight(unsigned long font);

    CZGfx* Gfx;
    CZDebug* Debug;
    CZMem* Mem;
    CZXfs* Xfs;
    ZFNT_FONT* Fonts;
    uint32_t Capacity;
    uint32_t Loaded;
    uint32_t Plane;
    char Text[ZFNT_TEXT_BYTES];
    uint32_t Alignment;

    uint32_t GlyphsDrawn;
    uint32_t RecordsSkipped;        // records with a code above 255

private:
    void FNT_FreeGlyphs(ZFNT_FONT* font);
};

#endif
