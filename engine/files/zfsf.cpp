#include "zfsf.h"
#include "zfiles_local.h"
#include "zdebug.h"
#include "zmem.h"
#include "zxfs.h"

#include <cstdio>
#include <cstring>

static const char* FSF_CAPTION = "Zarquel ZFSF";

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

    uint32_t n;
    if (!FSF_PcxPixels(WorkBuffer, length, &n)) {
        PcxRejected++;
        return 0;
    }
    if (!pixels)
        return n;

    const FSF_PCX_RESULT r = FSF_DecodePcx(WorkBuffer, length, n, (uint8_t*)pixels, (uint8_t*)palette);
    if (r.Missing) {
        PcxShortData++;
        if (Debug)
            Debug->OutputDebug("ZFSF: %s: run-length data ends %lu bytes short", name, (unsigned long)r.Missing);
    }
    if (r.NoPalette) {
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
