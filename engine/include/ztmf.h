// On-disk records of the ".tmf" master-file container. Read by the engine
// (CZXfs) and written by the native packer (tools/tmfpack), so this header
// stays free of Windows headers and uses fixed-width types only.
//
// Layout, little-endian:
//   header (17 bytes)
//   directory: EntryCount entries back to back, each ZTMF_ENTRY_BYTES(N)
//   file data, anywhere the entries point (the packer stores it in
//   directory order right after the directory, without padding)
#ifndef ZARQUEL_ZTMF_H
#define ZARQUEL_ZTMF_H

#include <cstddef>
#include <cstdint>

// Bytes 0-7 and 12-15 are never read by the engine; the packer writes this
// signature and format version there so that tools can recognise a container.
#define ZTMF_SIGNATURE "ZQTMF\r\n\x1a"
#define ZTMF_SIGNATURE_BYTES 8
#define ZTMF_VERSION 1u

// Every name field is NameWidth + 1 bytes and holds a NUL-terminated name, so
// a name has at most NameWidth characters: 255 with the widest field.
#define ZTMF_NAME_FIELD_MAX 256
#define ZTMF_NAME_MAX (ZTMF_NAME_FIELD_MAX - 1)

#pragma pack(push, 1)

struct ZTMF_HEADER {
    uint8_t Signature[ZTMF_SIGNATURE_BYTES];   // not read by the engine
    uint32_t EntryCount;
    uint32_t Version;                          // not read by the engine
    uint8_t NameWidth;                         // N: every name field is N + 1 bytes
};

// Fixed part of a directory entry; the name field of N + 1 bytes follows.
struct ZTMF_ENTRY {
    uint32_t Offset;    // absolute offset of the file's first byte
    uint32_t Size;      // file size in bytes
};

#pragma pack(pop)

static_assert(sizeof(ZTMF_HEADER) == 17, "container header is 17 bytes");
static_assert(offsetof(ZTMF_HEADER, EntryCount) == 8, "entry count at offset 8");
static_assert(offsetof(ZTMF_HEADER, Version) == 12, "version at offset 12");
static_assert(offsetof(ZTMF_HEADER, NameWidth) == 16, "name width at offset 16");
static_assert(sizeof(ZTMF_ENTRY) == 8, "entry: offset and size, then the name field");
static_assert(offsetof(ZTMF_ENTRY, Size) == 4, "entry size at offset 4");

#define ZTMF_DIRECTORY_OFFSET ((uint32_t)sizeof(ZTMF_HEADER))
#define ZTMF_ENTRY_BYTES(nameWidth) ((uint32_t)sizeof(ZTMF_ENTRY) + (uint32_t)(nameWidth) + 1u)

#endif
