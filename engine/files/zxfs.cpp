#include "zxfs.h"
#include "zdebug.h"

#include <cstdio>
#include <cstring>

static const char* XFS_CAPTION = "Zarquel ZXFS";

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
    if (MasterSize < sizeof(header) || !::ReadFile(h, &header, sizeof(header), &got, NULL) ||
        got != sizeof(header))
        XFS_DamagedMaster("header truncated");
    uint64_t directoryEnd = ZTMF_DIRECTORY_OFFSET +
                            (uint64_t)header.EntryCount * ZTMF_ENTRY_BYTES(header.NameWidth);
    if (directoryEnd > MasterSize)
        XFS_DamagedMaster("directory runs past the end of the file");

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
    const uint32_t entryBytes = ZTMF_ENTRY_BYTES(NameWidth);
    const uint32_t fieldBytes = NameWidth + 1u;
    LARGE_INTEGER at;
    at.QuadPart = ZTMF_DIRECTORY_OFFSET;
    if (!SetFilePointerEx(MasterHandle, at, NULL, FILE_BEGIN))
        XFS_DamagedMaster("directory unreadable");

    uint64_t unread = (uint64_t)EntryCount * entryBytes;   // directory bytes not yet fetched
    uint32_t remaining = EntryCount;
    uint32_t filled = 0, pos = 0;
    while (remaining) {
        if (filled - pos < entryBytes) {
            memmove(DirChunk, DirChunk + pos, filled - pos);
            filled -= pos;
            pos = 0;
            uint32_t want = sizeof(DirChunk) - filled;
            if (want > unread)
                want = (uint32_t)unread;
            DWORD got = 0;
            if (!want || !::ReadFile(MasterHandle, DirChunk + filled, want, &got, NULL) || got != want)
                XFS_DamagedMaster("directory unreadable");
            filled += got;
            unread -= got;
            continue;
        }
        const uint8_t* entry = DirChunk + pos;
        pos += entryBytes;
        remaining--;
        if (!XFS_NameEquals(name, entry + sizeof(ZTMF_ENTRY), fieldBytes))
            continue;
        ZTMF_ENTRY e;
        memcpy(&e, entry, sizeof(e));
        if ((uint64_t)e.Offset + e.Size > MasterSize) {
            BadEntries++;
            continue;
        }
        *offset = e.Offset;
        *size = e.Size;
        return true;
    }
    return false;
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
