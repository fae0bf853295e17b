#include "zxfs.h"
#include "zdebug.h"
#include "zfiles_local.h"

#include <cstdio>
#include <cstring>

static const char* XFS_CAPTION = "Zarquel ZXFS";

// Directory reads continue at the container's file position.
static bool XFS_ReadMaster(void* user, uint8_t* to, uint32_t bytes)
{
    DWORD got = 0;
    return ::ReadFile((HANDLE)user, to, bytes, &got, NULL) && got == bytes;
}

CZXfs::CZXfs()
{
    Debug = nullptr;
    MasterFileName[0] = 0;
    MasterOpen = 0;
    for (int i = 0; i < ZXFS_MAX_HANDLES; i++) {
        Slot[i].Offset = ZXFS_FREE_SLOT;
        Slot[i].Size = 0;
        Slot[i].Position = 0;
    }
    MasterHandle = INVALID_HANDLE_VALUE;
    EntryCount = 0;
    NameWidth = 0;
    MasterSize = 0;
    ContainerOpens = DiskOpens = SlotsExhausted = BadEntries = BadHandles = 0;
    BytesRead = 0;
}

CZXfs::~CZXfs()
{
    CloseMasterFile();
}

void CZXfs::OpenMasterFile(const char* name)
{
    if (MasterOpen)
        return;
    HANDLE h = CreateFileA(name, GENERIC_READ, 0, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (h == INVALID_HANDLE_VALUE)
        ErrorFile("Master file not found.");
    snprintf(MasterFileName, sizeof(MasterFileName), "%s", name);
    MasterHandle = h;

    LARGE_INTEGER size;
    if (!GetFileSizeEx(h, &size))
        size.QuadPart = 0;
    MasterSize = (uint64_t)size.QuadPart;

    // Validated once here so that no later open can read a directory that
    // is not there; entries pointing outside the file are skipped per open.
    ZTMF_HEADER header;
    DWORD got = 0;
    const bool whole = MasterSize >= sizeof(header) && ::ReadFile(h, &header, sizeof(header), &got, NULL) &&
                       got == sizeof(header);
    if (const char* why = XFS_CheckHeader(whole ? &header : nullptr, MasterSize))
        XFS_DamagedMaster(why);

    EntryCount = header.EntryCount;
    NameWidth = header.NameWidth;
    MasterOpen = 1;
}

void CZXfs::CloseMasterFile()
{
    if (MasterHandle != INVALID_HANDLE_VALUE)
        CloseHandle(MasterHandle);
    MasterHandle = INVALID_HANDLE_VALUE;
    for (int i = 0; i < ZXFS_MAX_HANDLES; i++)
        Slot[i].Offset = ZXFS_FREE_SLOT;
    MasterOpen = 0;
}

unsigned long CZXfs::OpenFile(const char* name)
{
    if (!name)
        name = "";
    uint32_t offset, size;
    if (MasterOpen && XFS_Lookup(name, &offset, &size)) {
        unsigned long handle = InsertFileHandle(offset, size);
        if (handle == ZXFS_NO_HANDLE)
            SlotsExhausted++;
        else
            ContainerOpens++;
        return handle;
    }

    HANDLE h = CreateFileA(name, GENERIC_READ, 0, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (h == INVALID_HANDLE_VALUE) {
        char message[ZXFS_MESSAGE_MAX];
        snprintf(message, sizeof(message), "Error opening file: %s", name);
        ErrorFile(message);
    }
    DiskOpens++;
    return (unsigned long)(uintptr_t)h;
}

unsigned long CZXfs::ReadFile(unsigned long handle, void* buffer, unsigned long bytes)
{
    DWORD got = 0;
    if (handle & ZXFS_CONTAINER_HANDLE) {
        ZXFS_SLOT* slot = XFS_SlotOf(handle);
        if (!slot) {
            BadHandles++;
            return 0;
        }
        // Not clipped to the file's size: the container's following bytes
        // are read, as callers of this interface have always seen.
        LARGE_INTEGER at;
        at.QuadPart = (LONGLONG)slot->Offset + slot->Position;
        if (!SetFilePointerEx(MasterHandle, at, NULL, FILE_BEGIN) ||
            !::ReadFile(MasterHandle, buffer, bytes, &got, NULL))
            got = 0;
        slot->Position += got;
    } else if (!::ReadFile((HANDLE)(uintptr_t)handle, buffer, bytes, &got, NULL)) {
        got = 0;
    }
    BytesRead += got;
    return got;
}

unsigned long CZXfs::GetFileSize(unsigned long handle)
{
    if (handle & ZXFS_CONTAINER_HANDLE) {
        ZXFS_SLOT* slot = XFS_SlotOf(handle);
        if (!slot) {
            BadHandles++;
            return 0;
        }
        return slot->Size;
    }
    return ::GetFileSize((HANDLE)(uintptr_t)handle, NULL);
}

void CZXfs::CloseFile(unsigned long handle)
{
    if (handle & ZXFS_CONTAINER_HANDLE)
        DeleteFileHandle(handle);
    else
        CloseHandle((HANDLE)(uintptr_t)handle);
}

void CZXfs::FileSeek(unsigned long position)
{
    (void)position;
}

unsigned long CZXfs::FileTell()
{
    return 0;
}

unsigned long CZXfs::InsertFileHandle(unsigned long offset, unsigned long size)
{
    for (unsigned long i = 0; i < ZXFS_MAX_HANDLES; i++) {
        if (Slot[i].Offset == ZXFS_FREE_SLOT) {
            Slot[i].Offset = offset;
            Slot[i].Size = size;
            Slot[i].Position = 0;
            return i | ZXFS_CONTAINER_HANDLE;
        }
    }
    return ZXFS_NO_HANDLE;
}

void CZXfs::DeleteFileHandle(unsigned long handle)
{
    ZXFS_SLOT* slot = XFS_SlotOf(handle);
    if (!slot) {
        BadHandles++;
        return;
    }
    slot->Offset = ZXFS_FREE_SLOT;
}

void CZXfs::ErrorFile(const char* message)
{
    if (Debug)
        Debug->ShowMessageAndExit(message, XFS_CAPTION);
    ExitProcess(1);
}

// The slot of a container handle in use, or null for anything else
// (including ZXFS_NO_HANDLE, whose index is past the table).
ZXFS_SLOT* CZXfs::XFS_SlotOf(unsigned long handle)
{
    if (!(handle & ZXFS_CONTAINER_HANDLE))
        return nullptr;
    unsigned long index = handle & ~ZXFS_CONTAINER_HANDLE;
    if (index >= ZXFS_MAX_HANDLES || Slot[index].Offset == ZXFS_FREE_SLOT)
        return nullptr;
    return &Slot[index];
}

// Reads the directory from the container, as it stands on disk, on every
// call; the first entry whose name matches and whose data lies inside the
// container wins.
bool CZXfs::XFS_Lookup(const char* name, uint32_t* offset, uint32_t* size)
{
    LARGE_INTEGER at;
    at.QuadPart = ZTMF_DIRECTORY_OFFSET;
    if (!SetFilePointerEx(MasterHandle, at, NULL, FILE_BEGIN))
        XFS_DamagedMaster("directory unreadable");
    static_assert(ZXFS_DIR_CHUNK >= ZTMF_ENTRY_BYTES(ZTMF_NAME_MAX), "a chunk holds the widest entry");
    const XFS_DIRECTORY d = {EntryCount, NameWidth, MasterSize, DirChunk, sizeof(DirChunk), XFS_ReadMaster,
                             (void*)MasterHandle};
    ZTMF_ENTRY e;
    const int result = XFS_FindEntry(&d, name, &e, &BadEntries);
    if (result == XFS_UNREADABLE)
        XFS_DamagedMaster("directory unreadable");
    if (result != XFS_FOUND)
        return false;
    *offset = e.Offset;
    *size = e.Size;
    return true;
}

void CZXfs::XFS_DamagedMaster(const char* what)
{
    char message[ZXFS_MESSAGE_MAX];
    snprintf(message, sizeof(message), "Master file damaged (%s): %s", what, MasterFileName);
    if (MasterHandle != INVALID_HANDLE_VALUE)
        CloseHandle(MasterHandle);
    MasterHandle = INVALID_HANDLE_VALUE;
    MasterOpen = 0;
    ErrorFile(message);
}
