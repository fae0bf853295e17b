// libFuzzer target: any bytes as a sprite page and as a font file.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "zsprfile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // The engine reads the header into a buffer of its own, zero-filled.
    uint8_t header[ZSPR_HEADER_BYTES] = {};
    memcpy(header, data, size < sizeof(header) ? size : sizeof(header));
    const int32_t sprites = ZSPR_PageSprites(header, (uint32_t)size);
    if (sprites >= 0 && (size < ZSPR_HEADER_BYTES || ZSPR_HEADER_BYTES + (size_t)sprites * 64 > size))
        __builtin_trap();
    ZFNT_GLYPH glyphs[ZFNT_GLYPHS];
    uint8_t present[ZFNT_GLYPHS] = {};
    const uint32_t skipped = ZFNT_ParseFont(data, (uint32_t)size, glyphs, present);
    if (skipped > size / sizeof(ZFNT_RECORD))
        __builtin_trap();
    return 0;
}
