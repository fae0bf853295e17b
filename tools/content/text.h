// Text set with FreeType from Debian's DejaVu fonts, the generator's only
// outside input. A text becomes a coverage mask; effects (glow, outline,
// shadow) are built from masks.
#ifndef ZQCONTENT_TEXT_H
#define ZQCONTENT_TEXT_H

#include <string>

#include "image.h"

// One face; the FreeType objects stay private to text.cpp.
class CgFont {
public:
    CgFont() = default;
    ~CgFont();
    CgFont(const CgFont&) = delete;
    CgFont& operator=(const CgFont&) = delete;

    // Empty on success, otherwise why not.
    std::string Load(const std::string& path);

    void* Face = nullptr;
};

struct CgFonts {
    CgFont Sans, Bold, Mono, MonoBold, Serif;
};
// Faces of the DejaVu family from `folder`, all of them or an error.
std::string CgLoadFonts(const std::string& folder, CgFonts* fonts);

// A line of text set at `px` pixels per em, `tracking` extra pixels between
// letters. The mask is padded by `pad` on every side; Baseline is the row of
// the baseline inside the mask and Left the column of the pen's start.
struct CgText {
    CgMask Mask;
    int Baseline = 0;
    int Left = 0;
    int Width = 0;   // advance width of the whole line
};
CgText CgSetText(const CgFont& font, const std::string& utf8, float px, float tracking = 0.0f, int pad = 0);
int CgTextWidth(const CgFont& font, const std::string& utf8, float px, float tracking = 0.0f);

enum CgAlign { CG_LEFT, CG_CENTER, CG_RIGHT };

struct CgTextLook {
    CgColor Top = {1, 1, 1}, Bottom = {1, 1, 1};   // fill gradient over the mask
    float Tracking = 0;
    float GlowRadius = 0;      // 0: none
    CgColor Glow = {1, 1, 1};
    float GlowStrength = 0.8f;
    int Outline = 0;           // pixels; 0: none
    CgColor OutlineColour = {0, 0, 0};
    int ShadowOffset = 0;      // pixels down and right; 0: none
    float ShadowOpacity = 0.6f;
    CgMode Mode = CG_OVER;     // of the fill (CG_ADD for light on black)
};

// Draws a line with its baseline at y; x is its left edge, centre or right
// edge by `align`. Returns the width.
int CgDrawText(CgImage& img, const CgFont& font, const std::string& utf8, float px, int x, int y, CgAlign align,
               const CgTextLook& look);

#endif
