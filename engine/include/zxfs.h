// CZXfs: the engine's only way to read data files. Names are served from the
// open master-file container when it holds them, otherwise from the disk.
#ifndef ZARQUEL_ZXFS_H
#define ZARQUEL_ZXFS_H

#include <cstdint>
#include <windows.h>

#include "zapi.h"
#include "ztmf.h"

class CZDebug;

// Handle table for files served from the container; InsertFileHandle is the
// one place where the limit is checked.
#define ZXFS_MAX_HANDLES 400
// A handle with this bit set is a container file (low 31 bits: slot index);
// any other handle is an operating-system handle of a disk file.
#define ZXFS_CONTAINER_HANDLE 0x80000000u
// Returned by OpenFile when every slot is taken; reading, sizing or closing
// it does nothing.
#define ZXFS_NO_HANDLE 0xFFFFFFFFu
#define ZXFS_FREE_SLOT 0xFFFFFFFFu
#define ZXFS_MASTER_NAME_MAX 260
// Error texts ("Error opening file: " + name) are cut to fit this buffer.
#define ZXFS_MESSAGE_MAX 512
// The directory is read in chunks of this size on every open.
#define ZXFS_DIR_CHUNK 8192

struct ZXFS_SLOT {
    uint32_t Offset;     // ZXFS_FREE_SLOT marks a free slot
    uint32_t Size;
    uint32_t Position;   // bytes already read from the start of the file
};
static_assert(sizeof(ZXFS_SLOT) == 12, "slot: offset, size, read position");

class ZQAPI CZXfs {
public:
    CZXfs();
    ~CZXfs();

    void OpenMasterFile(const char* name);
    void CloseMasterFile();
    unsigned long OpenFile(const char* name);
    // Returns the number of bytes actually read.
    unsigned long ReadFile(unsigned long handle, void* buffer, unsigned long bytes);
    unsigned long GetFileSize(unsigned long handle);
    void CloseFile(unsigned long handle);
    void FileSeek(unsigned long position);
    unsigned long FileTell();

    CZDebug* Debug;
    char MasterFileName[ZXFS_MASTER_NAME_MAX];
    int MasterOpen;
    ZXFS_SLOT Slot[ZXFS_MAX_HANDLES];
    HANDLE MasterHandle;
    uint32_t EntryCount;
    uint8_t NameWidth;

    uint64_t MasterSize;        // bytes of the open container; bounds every entry

    // Counters.
    uint32_t ContainerOpens;    // names served from the container
    uint32_t DiskOpens;         // names served from the disk
    uint32_t SlotsExhausted;    // OpenFile calls that found all slots taken
    uint32_t BadEntries;        // matching entries skipped: data outside the container
    uint32_t BadHandles;        // reads, sizes and closes of no valid handle
    uint64_t BytesRead;

private:
    unsigned long InsertFileHandle(unsigned long offset, unsigned long size);
    void DeleteFileHandle(unsigned long handle);
    [[noreturn]] void ErrorFile(const char* message);

    ZXFS_SLOT* XFS_SlotOf(unsigned long handle);
    bool XFS_Lookup(const char* name, uint32_t* offset, uint32_t* size);
    [[noreturn]] void XFS_DamagedMaster(const char* what);

    uint8_t DirChunk[ZXFS_DIR_CHUNK];
};

#endif
