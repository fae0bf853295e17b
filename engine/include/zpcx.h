// On-disk header of an 8-bit PCX image: read by the engine (CZFsf) and
// written by the host-side content generator, so this header stays free of
// Windows headers and uses fixed-width types only. After the 128-byte
// header come the run-length rows, then the palette marker and 768 RGB bytes.
#ifndef ZARQUEL_ZPCX_H
#define ZARQUEL_ZPCX_H

#include <cstddef>
#include <cstdint>

#pragma pack(push, 1)

struct ZPCX_HEADER {
    uint8_t Manufacturer;      // 10
    uint8_t Version;           // 5
    uint8_t Encoding;          // 1: run-length
    uint8_t BitsPerPixel;      // 8
    uint16_t XMin, YMin, XMax, YMax;
    uint16_t HDpi, VDpi;
    uint8_t EgaPalette[48];
    uint8_t Reserved;
    uint8_t Planes;            // 1
    uint16_t BytesPerLine;     // row stride of the decoded image
    uint16_t PaletteInfo;      // 1: colour or grey
    uint16_t HScreen, VScreen;
    uint8_t Filler[54];
};

#pragma pack(pop)

static_assert(sizeof(ZPCX_HEADER) == 128, "PCX header is 128 bytes");
static_assert(offsetof(ZPCX_HEADER, YMax) == 10, "PCX Ymax at offset 10");
static_assert(offsetof(ZPCX_HEADER, Planes) == 65, "PCX plane count at offset 65");
static_assert(offsetof(ZPCX_HEADER, BytesPerLine) == 66, "PCX bytes per line at offset 66");

// A run byte is above 0xC0: its low six bits count the repeats of the next byte.
#define ZPCX_RUN_MIN 0xC1
#define ZPCX_RUN_MAX 63

#endif
