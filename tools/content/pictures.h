// The invitation's look and facts, shared by the picture groups: the party's
// dates and place, the logo, skies, grids and panels. Pictures are designed
// on a 640 x 480 canvas (the game's screen) and resampled to their
// power-of-two texture size, so a 1024 x 512 texture shown full screen reads
// as it was drawn.
#ifndef ZQCONTENT_PICTURES_H
#define ZQCONTENT_PICTURES_H

#include "content.h"

#define CG_SCREEN_W 640
#define CG_SCREEN_H 480

// The party, as every picture and page says it.
#define CG_PARTY "Brolfest 2004"
#define CG_DATES "23 \xE2\x80\x93 25 July 2004"
#define CG_TOWN "Santa Brolla de Mar"
#define CG_VENUE "Pavell\xC3\xB3 Municipal Les Brolles"
#define CG_WEB "www.brolfest.example"
#define CG_IRC "#brolfest on IRCnet"

// The TV text pages: 512 x 512 textures of a 640 x 480 design. Below
// CG_PAGE_BODY_TOP design rows (header bar, title, colour band) there are
// only the page's text lines on a dark ground, set at CG_PAGE_MIN_PX pixels
// per em or more.
#define CG_PAGE_TEX 512
#define CG_PAGE_BODY_TOP 140
#define CG_PAGE_MIN_PX 22
#define CG_PAGE_COUNT 18

CgImage CgCanvas(CgColor fill = {0, 0, 0});
// A 640 x 480 design resampled to a w x h texture.
CgImage CgTexture(const CgImage& canvas, int w, int h);

// Dusk sky: deep blue at the top to violet and a warm band at the horizon.
void CgDuskSky(CgImage& img, int horizon);
// Stars above `bottom`, brighter ones with a small glow.
void CgStars(CgImage& img, int bottom, int count, uint64_t seed, float brightness = 1.0f);
// The striped setting sun, centred on the horizon.
void CgSun(CgImage& img, float cx, float horizon, float r);
// A perspective grid floor from the horizon down, lines fading into haze.
void CgGridFloor(CgImage& img, int horizon, CgColor line, float phase = 0.0f);
// The sunset of the menu and the end picture: sky, stars, sun, grid floor
// and the logo (its baseline at logoY, logoPx high).
void CgSunset(CgImage& img, const CgFonts& fonts, int horizon, float sun, CgColor grid, float gridPhase, int logoY,
              float logoPx, uint64_t seed);
// A translucent rounded panel with a thin light border.
void CgPanel(CgImage& img, int x, int y, int w, int h, float opacity = 0.72f, CgColor border = {0.55f, 0.8f, 1.0f});
// "BROLFEST" in chrome with "2004" under its right end; cx is the centre,
// y the baseline of "BROLFEST", px its size.
void CgLogo(CgImage& img, const CgFonts& fonts, int cx, int y, float px, bool additive = false);
// A key cap ("I", "ESC") followed by what it does; returns the width used.
int CgKeyHint(CgImage& img, const CgFonts& fonts, int x, int y, const char* key, const char* what, float px);
// The finishing touches of a screen: scan lines, vignette, grain.
void CgCrt(CgImage& img, uint64_t seed, float scan = 0.18f, float vignette = 0.35f);

#endif
