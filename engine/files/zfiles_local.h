// Internals of the files module: the container directory and the PCX
// decoder work on bytes only. Windows-free: CZXfs and CZFsf call them, and
// so do the native fuzz targets.
#ifndef ZARQUEL_ZFILES_LOCAL_H
#define ZARQUEL_ZFILES_LOCAL_H

#include <cstdint>

#include "ztmf.h"

// ---------------------------------------------------------------------------
// Container directory

// Why a container whose header reads as `header` (null: fewer than 17 bytes
// could be read) is refused, or null when the whole directory lies inside
// its `masterSize` bytes.
const char* XFS_CheckHeader(const ZTMF_HEADER* header, uint64_t masterSize);

// Fetches the next `bytes` directory bytes into `to`; false when they cannot
// all be read.
typedef bool (*XFS_READ)(void* user, uint8_t* to, uint32_t bytes);

struct XFS_DIRECTORY {
    uint32_t EntryCount;
    uint8_t NameWidth;
    uint64_t MasterSize;     // bounds every entry's data
    uint8_t* Chunk;          // the directory is fetched through this buffer
    uint32_t ChunkBytes;     // at least one entry of the widest name field
    XFS_READ Read;
    void* User;
};

enum { XFS_NOT_FOUND, XFS_FOUND, XFS_UNREADABLE };

// Reads the directory through d->Read from its start and finds the first
// entry whose name equals `name` (ASCII case ignored) and whose data lies
// inside the container. Matching entries that point outside are skipped and
// counted in *badEntries.
int XFS_FindEntry(const XFS_DIRECTORY* d, const char* name, ZTMF_ENTRY* found, uint32_t* badEntries);

// ---------------------------------------------------------------------------
// PCX images

// Pixel bytes (bytes per line x height) of an 8-bit one-plane PCX file of
// `length` bytes into *pixels; false when the file is not one.
bool FSF_PcxPixels(const uint8_t* file, uint32_t length, uint32_t* pixels);

struct FSF_PCX_RESULT {
    uint32_t Missing;        // pixels the run-length data did not reach (set to 0)
    bool NoPalette;          // no marker with 768 bytes after it (palette set to 0)
};

// Decodes the `n` pixels FSF_PcxPixels gave into `pixels` and the 6-bit
// palette into `palette` (768 bytes).
FSF_PCX_RESULT FSF_DecodePcx(const uint8_t* file, uint32_t length, uint32_t n, uint8_t* pixels, uint8_t* palette);

#endif
