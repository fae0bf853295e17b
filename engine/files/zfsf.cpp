#include "zfsf.h"
#include "zpcx.h"
#include "zdebug.h"
#include "zmem.h"
#include "zxfs.h"

#include <cstdio>
#include <cstring>

static const char* FSF_CAPTION = "Zarquel ZFSF";

static inline uint16_t FSF_U16(const uint8_t* p)
{
    return (uint16_t)(p[0] | (p[1] << 8));
}

CZFsf::CZFsf()
{
    Mem = nullptr;
    Xfs = nullptr;
    Debug = nullptr;
    WorkBuffer = nullptr;
    WorkSize = 0;
    Ready = 0;
    PcxRejected = PcxShortData = PcxNoPalette = 0;
}

CZFsf::~CZFsf()
{
    FSF_Deinit();
}

void CZFsf::Init(unsigned long size)
{
    // A second call replaces the buffer rather than leaking the first.
    FSF_Deinit();
    WorkSize = size;
    WorkBuffer = (uint8_t*)Mem->GetMem(size);
    Ready = WorkBuffer != nullptr;
}

unsigned long CZFsf::ReadPcxFile(const char* name, void* pixels, void* palette)
{
    unsigned long handle = Xfs->OpenFile(name);
    unsigned long size = Xfs->GetFileSize(handle);
    uint32_t capacity = Ready ? WorkSize : 0;
    if (size > capacity) {
        Xfs->CloseFile(handle);
        char message[ZXFS_MESSAGE_MAX];
        snprintf(message, sizeof(message), "PCX file larger than the work buffer (%lu > %lu bytes): %s",
                 size, (unsigned long)capacity, name ? name : "");
        Debug->ShowMessageAndExit(message, FSF_CAPTION);
    }
    // Only the bytes actually read are decoded: a short read is a short file.
    uint32_t length = size ? Xfs->ReadFile(handle, WorkBuffer, size) : 0;
    Xfs->CloseFile(handle);

    const uint8_t* src = WorkBuffer;
    static_assert(sizeof(ZPCX_HEADER) == ZFSF_PCX_DATA, "the data follows the header");
    if (length < ZFSF_PCX_DATA || src[offsetof(ZPCX_HEADER, Manufacturer)] != ZFSF_PCX_MANUFACTURER ||
        src[offsetof(ZPCX_HEADER, Version)] != ZFSF_PCX_VERSION || src[offsetof(ZPCX_HEADER, Planes)] != ZFSF_PCX_PLANES) {
        PcxRejected++;
        return 0;
    }
    uint32_t n = (uint32_t)FSF_U16(src + offsetof(ZPCX_HEADER, BytesPerLine)) *
                 ((uint32_t)FSF_U16(src + offsetof(ZPCX_HEADER, YMax)) + 1u);
    if (!pixels)
        return n;

    uint8_t* out = (uint8_t*)pixels;
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
        memset(out, 0, outEnd - out);
        PcxShortData++;
        if (Debug)
            Debug->OutputDebug("ZFSF: %s: run-length data ends %lu bytes short", name,
                               (unsigned long)(outEnd - out));
    }

    uint8_t* pal = (uint8_t*)palette;
    while (p < length && src[p] != ZFSF_PCX_PALETTE_MARK)
        p++;
    if (p < length && length - p - 1 >= ZFSF_PALETTE_BYTES) {
        const uint8_t* rgb = src + p + 1;
        for (int i = 0; i < ZFSF_PALETTE_BYTES; i++)
            pal[i] = rgb[i] >> 2;
    } else {
        memset(pal, 0, ZFSF_PALETTE_BYTES);
        PcxNoPalette++;
        if (Debug)
            Debug->OutputDebug("ZFSF: %s: no palette after the image data", name);
    }
    return 0;
}

void CZFsf::ReadBinFile(const char* name, void* buffer)
{
    unsigned long handle = Xfs->OpenFile(name);
    Xfs->ReadFile(handle, buffer, Xfs->GetFileSize(handle));
    Xfs->CloseFile(handle);
}

void CZFsf::FSF_Deinit()
{
    if (Ready && Mem)
        Mem->FreeMem(WorkBuffer, WorkSize);
    WorkBuffer = nullptr;
    Ready = 0;
}
