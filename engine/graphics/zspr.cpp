#include "zspr.h"

#include <cstring>

#include "zdebug.h"
#include "zh3d.h"
#include "zmem.h"
#include "zprim.h"
#include "zxfs.h"

// One bit per kind of caller mistake: each is logged once.
#define SPR_REFUSE_FULL   0x1u
#define SPR_REFUSE_INDEX  0x2u

CZSpr::CZSpr() : H3d(nullptr), Mem(nullptr), Xfs(nullptr), Debug(nullptr), SpritesDrawn(0), CallsRefused(0),
                 RefusalsLogged(0)
{
    memset(Header, 0, sizeof(Header));
    for (int i = 0; i < ZSPR_MAX_PAGES; i++) {
        PageData[i] = nullptr;
        PageTexture[i] = ZSPR_FREE_SLOT;
        PageBytes[i] = 0;
    }
}

CZSpr::~CZSpr()
{
    for (unsigned long i = 0; i < ZSPR_MAX_PAGES; i++)
        if (PageTexture[i] != ZSPR_FREE_SLOT)
            FreeSpritesPage(i);
}

// A caller's mistake: counted, and logged the first time of its kind.
#define SPR_REFUSE(reason, ...)                                           \
    do {                                                                  \
        CallsRefused++;                                                   \
        if (Debug)                                                        \
            Debug->OutputDebugOnce(&RefusalsLogged, reason, __VA_ARGS__); \
    } while (0)

unsigned long CZSpr::LoadSpritesPage(const char* file, unsigned long colourKey)
{
    unsigned long page = 0;
    while (page < ZSPR_MAX_PAGES && PageTexture[page] != ZSPR_FREE_SLOT)
        page++;
    if (page == ZSPR_MAX_PAGES) {
        SPR_REFUSE(SPR_REFUSE_FULL, "SPR: LoadSpritesPage(%s): all 20 sprite pages are in use; free one first", file);
        return ZSPR_NO_PAGE;
    }
    unsigned long handle = Xfs->OpenFile(file);
    const uint32_t size = Xfs->GetFileSize(handle);
    memset(Header, 0, sizeof(Header));
    const uint32_t got = Xfs->ReadFile(handle, Header, size < ZSPR_HEADER_BYTES ? size : ZSPR_HEADER_BYTES);
    const int32_t sprites = got == ZSPR_HEADER_BYTES ? ZSPR_PageSprites((const uint8_t*)Header, size) : -1;
    const uint32_t bytes = sprites > 0 ? (uint32_t)sprites * sizeof(ZSPR_RECORD) : 0;
    ZSPR_RECORD* data = bytes ? (ZSPR_RECORD*)Mem->GetMem(bytes) : nullptr;
    const bool read = !bytes || (data && Xfs->ReadFile(handle, data, bytes) == bytes);
    Xfs->CloseFile(handle);
    if (sprites < 0 || !read) {
        if (data)
            Mem->FreeMem(data, bytes);
        // Every damaged page is logged: each names another file.
        CallsRefused++;
        if (Debug)
            Debug->OutputDebug("SPR: LoadSpritesPage(%s): %s; page not loaded", file,
                               sprites < 0 ? "the 72-byte header is cut short or its texture name is not terminated"
                                           : "the sprite records could not be read");
        return ZSPR_NO_PAGE;
    }
    PageTexture[page] = H3d->LoadColorKeyTexture(Header, colourKey);
    PageData[page] = data;
    PageBytes[page] = bytes;
    return page;
}

void CZSpr::FreeSpritesPage(unsigned long page)
{
    if (page >= ZSPR_MAX_PAGES || PageTexture[page] == ZSPR_FREE_SLOT) {
        SPR_REFUSE(SPR_REFUSE_INDEX, "SPR: FreeSpritesPage/DrawSprite: page %lu is not loaded; ignored", page);
        return;
    }
    H3d->UnloadTexture(PageTexture[page]);
    if (PageData[page])
        Mem->FreeMem(PageData[page], PageBytes[page]);
    PageData[page] = nullptr;
    PageBytes[page] = 0;
    PageTexture[page] = ZSPR_FREE_SLOT;
}

unsigned long CZSpr::GetSpriteCount(unsigned long page)
{
    return page < ZSPR_MAX_PAGES && PageTexture[page] != ZSPR_FREE_SLOT ? PageBytes[page] / sizeof(ZSPR_RECORD) : 0;
}

void CZSpr::DrawSprite(unsigned long page, unsigned long sprite, float x, float y, float z, unsigned long flags)
{
    if (sprite >= GetSpriteCount(page)) {
        SPR_REFUSE(SPR_REFUSE_INDEX, "SPR: DrawSprite: sprite %lu of page %lu is out of range (%lu sprites); ignored",
                   sprite, page, GetSpriteCount(page));
        return;
    }
    const ZSPR_RECORD* r = PageData[page] + sprite;
    // Signs of each corner's offsets (corner 1: -x +y, 2: +x +y, 3: -x -y, 4: +x -y).
    static const float sx[4] = {-1, 1, -1, 1}, sy[4] = {1, 1, -1, -1};
    static const int order[2][3] = {{1, 0, 2}, {2, 3, 1}};
    POLYSTRUCT poly;
    memset(&poly, 0, sizeof(poly));
    poly.Texture1 = PageTexture[page];
    poly.Kind = ZPRIM_TEXTURED;
    poly.Flags = flags;
    for (int t = 0; t < 2; t++) {
        for (int k = 0; k < 3; k++) {
            const int c = order[t][k];
            POLYVERTEX& v = poly.Vertex[k];
            v.x = x + sx[c] * r->Corner[c].dx;
            v.y = y + sy[c] * r->Corner[c].dy;
            v.z = z;
            v.nz = -1.0f;
            v.Diffuse = 0xFFFFFFFFu;   // specular stays 0: it is added to the texel
            v.u = r->Corner[c].u;
            v.v = r->Corner[c].v;
        }
        H3d->DrawPoly(&poly);
    }
    SpritesDrawn++;
}
