// The byte formats of the files module: container directory and PCX images.
#include "zfiles_local.h"

#include <cstddef>
#include <cstring>

#include "zfsf.h"
#include "zpcx.h"

// ---------------------------------------------------------------------------
// Container directory

static inline char XFS_Lower(char c)
{
    return (c >= 'A' && c <= 'Z') ? (char)(c - 'A' + 'a') : c;
}

// ASCII-only, case-insensitive comparison of a requested name with a name
// field of `width` bytes. A field without a NUL holds a name of full width.
static bool XFS_NameEquals(const char* wanted, const uint8_t* field, uint32_t width)
{
    for (uint32_t i = 0; i < width; i++) {
        char a = wanted[i];
        char b = (char)field[i];
        if (XFS_Lower(a) != XFS_Lower(b))
            return false;
        if (a == 0)
            return true;
    }
    return wanted[width] == 0;
}

const char* XFS_CheckHeader(const ZTMF_HEADER* header, uint64_t masterSize)
{
    if (!header || masterSize < sizeof(ZTMF_HEADER))
        return "header truncated";
    uint64_t directoryEnd = ZTMF_DIRECTORY_OFFSET + (uint64_t)header->EntryCount * ZTMF_ENTRY_BYTES(header->NameWidth);
    if (directoryEnd > masterSize)
        return "directory runs past the end of the file";
    return nullptr;
}

int XFS_FindEntry(const XFS_DIRECTORY* d, const char* name, ZTMF_ENTRY* found, uint32_t* badEntries)
{
    const uint32_t entryBytes = ZTMF_ENTRY_BYTES(d->NameWidth);
    const uint32_t fieldBytes = d->NameWidth + 1u;
    if (d->ChunkBytes < entryBytes)
        return XFS_UNREADABLE;
    uint8_t* const chunk = d->Chunk;
    uint64_t unread = (uint64_t)d->EntryCount * entryBytes;   // directory bytes not yet fetched
    uint32_t remaining = d->EntryCount;
    uint32_t filled = 0, pos = 0;
    while (remaining) {
        if (filled - pos < entryBytes) {
            memmove(chunk, chunk + pos, filled - pos);
            filled -= pos;
            pos = 0;
            uint32_t want = d->ChunkBytes - filled;
            if (want > unread)
                want = (uint32_t)unread;
            if (!want || !d->Read(d->User, chunk + filled, want))
                return XFS_UNREADABLE;
            filled += want;
            unread -= want;
            continue;
        }
        const uint8_t* entry = chunk + pos;
        pos += entryBytes;
        remaining--;
        if (!XFS_NameEquals(name, entry + sizeof(ZTMF_ENTRY), fieldBytes))
            continue;
        ZTMF_ENTRY e;
        memcpy(&e, entry, sizeof(e));
        if ((uint64_t)e.Offset + e.Size > d->MasterSize) {
            (*badEntries)++;
            continue;
        }
        *found = e;
        return XFS_FOUND;
    }
    return XFS_NOT_FOUND;
}

// ---------------------------------------------------------------------------
// PCX images

static inline uint16_t FSF_U16(const uint8_t* p)
{
    return (uint16_t)(p[0] | (p[1] << 8));
}

bool FSF_PcxPixels(const uint8_t* src, uint32_t length, uint32_t* pixels)
{
    static_assert(sizeof(ZPCX_HEADER) == ZFSF_PCX_DATA, "the data follows the header");
    if (length < ZFSF_PCX_DATA || src[offsetof(ZPCX_HEADER, Manufacturer)] != ZFSF_PCX_MANUFACTURER ||
        src[offsetof(ZPCX_HEADER, Version)] != ZFSF_PCX_VERSION || src[offsetof(ZPCX_HEADER, Planes)] != ZFSF_PCX_PLANES)
        return false;
    *pixels = (uint32_t)FSF_U16(src + offsetof(ZPCX_HEADER, BytesPerLine)) *
              ((uint32_t)FSF_U16(src + offsetof(ZPCX_HEADER, YMax)) + 1u);
    return true;
}

FSF_PCX_RESULT FSF_DecodePcx(const uint8_t* src, uint32_t length, uint32_t n, uint8_t* pixels, uint8_t* pal)
{
    FSF_PCX_RESULT result = {0, false};
    uint8_t* out = pixels;
    uint8_t* const outEnd = out + n;
    uint32_t p = ZFSF_PCX_DATA;
    // A run cut at n leaves p on its value byte, where the palette search
    // starts; a run consumed whole moves past it.
    while (out < outEnd && p < length) {
        uint8_t b = src[p];
        if (b > 0xC0) {
            if (p + 1 >= length) {
                p = length;
                break;
            }
            uint32_t count = b & 0x3Fu;
            uint8_t value = src[p + 1];
            uint32_t room = (uint32_t)(outEnd - out);
            if (count > room) {
                memset(out, value, room);
                out = outEnd;
                p++;
                break;
            }
            memset(out, value, count);
            out += count;
            p += 2;
        } else {
            *out++ = b;
            p++;
        }
    }
    if (out < outEnd) {
        // The remainder is defined rather than left as it was.
        result.Missing = (uint32_t)(outEnd - out);
        memset(out, 0, outEnd - out);
    }

    while (p < length && src[p] != ZFSF_PCX_PALETTE_MARK)
        p++;
    if (p < length && length - p - 1 >= ZFSF_PALETTE_BYTES) {
        const uint8_t* rgb = src + p + 1;
        for (int i = 0; i < ZFSF_PALETTE_BYTES; i++)
            pal[i] = rgb[i] >> 2;
    } else {
        memset(pal, 0, ZFSF_PALETTE_BYTES);
        result.NoPalette = true;
    }
    return result;
}
