// CZSpr: sprite pages. A page is a colour-keyed texture and a table of
// sprite quads loaded from one file (zsprfile.h); a sprite is drawn as two
// textured world-space triangles around its hot spot. Main thread only.
#ifndef ZARQUEL_ZSPR_H
#define ZARQUEL_ZSPR_H

#include <cstdint>

#include "zapi.h"
#include "zsprfile.h"

class CZH3d;
class CZMem;
class CZXfs;
class CZDebug;

#define ZSPR_FREE_SLOT 0xFFFFFFFFu  // page texture of a free slot
#define ZSPR_NO_PAGE   0xFFFFFFFFu  // LoadSpritesPage refused the page

class ZQAPI CZSpr {
public:
    CZSpr();
    ~CZSpr();

    // Page index 0-19, or ZSPR_NO_PAGE when all 20 slots are in use or the
    // file's header is damaged (logged with the file's name).
    unsigned long LoadSpritesPage(const char* file, unsigned long colourKey);
    void FreeSpritesPage(unsigned long page);
    // A page or sprite index out of range draws nothing (logged once).
    void DrawSprite(unsigned long page, unsigned long sprite, float x, float y, float z, unsigned long flags);
    unsigned long GetSpriteCount(unsigned long page);

    CZH3d* H3d;
    CZMem* Mem;
    CZXfs* Xfs;
    CZDebug* Debug;         // for the refusals
    char Header[ZSPR_HEADER_BYTES];
    ZSPR_RECORD* PageData[ZSPR_MAX_PAGES];
    uint32_t PageTexture[ZSPR_MAX_PAGES];   // ZSPR_FREE_SLOT: free
    uint32_t PageBytes[ZSPR_MAX_PAGES];

    uint32_t SpritesDrawn;
    uint32_t CallsRefused;

private:
    uint32_t RefusalsLogged;
};

#endif
