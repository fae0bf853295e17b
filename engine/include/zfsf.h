// CZFsf: 8-bit run-length PCX images and raw binary files, read whole
// through CZXfs.
#ifndef ZARQUEL_ZFSF_H
#define ZARQUEL_ZFSF_H

#include <cstdint>

#include "zapi.h"

class CZMem;
class CZXfs;
class CZDebug;

// Header fields used; the data starts at ZFSF_PCX_DATA.
#define ZFSF_PCX_MANUFACTURER 10
#define ZFSF_PCX_VERSION 5
#define ZFSF_PCX_PLANES 1
#define ZFSF_PCX_DATA 128
#define ZFSF_PCX_PALETTE_MARK 12
#define ZFSF_PALETTE_BYTES 768

class ZQAPI CZFsf {
public:
    CZFsf();
    ~CZFsf();

    // The work buffer must hold the largest PCX file to be read, whole.
    void Init(unsigned long size);
    // Pixels null: returns the pixel bytes (bytes per line x height) the
    // caller must provide. Otherwise decodes into `pixels`, writes 768
    // six-bit palette bytes to `palette` and returns 0. A file that is not
    // an 8-bit one-plane PCX returns 0 with nothing decoded.
    unsigned long ReadPcxFile(const char* name, void* pixels, void* palette);
    void ReadBinFile(const char* name, void* buffer);

    CZMem* Mem;
    CZXfs* Xfs;
    CZDebug* Debug;
    uint8_t* WorkBuffer;
    uint32_t WorkSize;
    uint8_t Ready;

    // Counters of damaged images (decoded safely, logged).
    uint32_t PcxRejected;       // wrong manufacturer, version or planes, or no header
    uint32_t PcxShortData;      // run-length data ended before the image was full
    uint32_t PcxNoPalette;      // no marker with 768 bytes after it: palette set to 0

private:
    void FSF_Deinit();
};

#endif
