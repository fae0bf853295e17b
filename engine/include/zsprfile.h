// Sprite-page and font files: the on-disk records and the one check of each,
// shared by the engine's loaders, the host writers and the fuzz targets.
// Windows-free, fixed-width types.
//
// Sprite page: a 72-byte header holding the page texture's file name
// (NUL-terminated), then 64-byte sprite records to the end of the file.
// Font: 20-byte glyph records to the end of the file; a later record for the
// same code replaces an earlier one.
#ifndef ZARQUEL_ZSPRFILE_H
#define ZARQUEL_ZSPRFILE_H

#include <cstddef>
#include <cstdint>
#include <cstring>

#define ZSPR_HEADER_BYTES 72
#define ZSPR_MAX_PAGES 20
#define ZFNT_GLYPHS 256

#pragma pack(push, 1)

// One corner: texture coordinates, then the offset magnitudes from the hot
// spot; the corner fixes the signs (1: -x +y, 2: +x +y, 3: -x -y, 4: +x -y).
struct ZSPR_CORNER {
    float u, v;
    float dx, dy;
};

struct ZSPR_RECORD {
    ZSPR_CORNER Corner[4];
};

struct ZFNT_GLYPH {
    float Left, Top, Right, Bottom;     // texture coordinates of the glyph
};

struct ZFNT_RECORD {
    ZFNT_GLYPH Glyph;
    uint32_t Code;                      // 0-255; records above are skipped
};

#pragma pack(pop)

static_assert(sizeof(ZSPR_CORNER) == 16 && sizeof(ZSPR_RECORD) == 64, "sprite record is 16 words");
static_assert(sizeof(ZFNT_GLYPH) == 16, "glyph rectangle");
static_assert(sizeof(ZFNT_RECORD) == 20 && offsetof(ZFNT_RECORD, Code) == 16, "font record is 20 bytes");

// Sprites in a page file of `size` bytes whose header is `header`; -1 when
// the header is cut short or its name is not terminated inside it. Bytes
// after the last whole record are not part of any sprite.
static inline int32_t ZSPR_PageSprites(const uint8_t* header, uint32_t size)
{
    if (size < ZSPR_HEADER_BYTES || !memchr(header, 0, ZSPR_HEADER_BYTES) || !header[0])
        return -1;
    return (int32_t)((size - ZSPR_HEADER_BYTES) / sizeof(ZSPR_RECORD));
}

// Fills glyphs[code] and present[code] from the records of a font file;
// returns how many records had a code above 255 (skipped). Bytes after the
// last whole record are ignored.
static inline uint32_t ZFNT_ParseFont(const uint8_t* data, uint32_t size, ZFNT_GLYPH glyphs[ZFNT_GLYPHS],
                                      uint8_t present[ZFNT_GLYPHS])
{
    uint32_t skipped = 0;
    for (uint32_t at = 0; size - at >= sizeof(ZFNT_RECORD); at += sizeof(ZFNT_RECORD)) {
        ZFNT_RECORD r;
        memcpy(&r, data + at, sizeof(r));
        if (r.Code >= ZFNT_GLYPHS) {
            skipped++;
            continue;
        }
        glyphs[r.Code] = r.Glyph;
        present[r.Code] = 1;
    }
    return skipped;
}

#endif
