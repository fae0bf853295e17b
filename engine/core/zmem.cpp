#include "zmem.h"

#include <cstdio>
#include <cstring>
#include <mmintrin.h>

#include "zcore_local.h"
#include "zdebug.h"
#include "zthreads.h"

// Built with ZARQUEL_MEM_SURVEIL=1 this file is the debug build's memory
// manager: every block gets 8 guard bytes behind it and a record in the
// surveillance table, which a watchdog thread scans every 20 ms.
#ifndef ZARQUEL_MEM_SURVEIL
#define ZARQUEL_MEM_SURVEIL 0
#endif

static const char MEM_CAPTION[] = "Zarquel ZMEM";
static const char MEM_PROTECTION_CAPTION[] = "Zarquel Memory Protection";

// Link words and size words are machine words inside the arena.
typedef uintptr_t MemWord;

static inline MemWord* MEM_Word(uintptr_t address) { return reinterpret_cast<MemWord*>(address); }

// Length of the free fragment at `fragment`: its size word, or 4.
static inline uint32_t MEM_FragmentLength(uintptr_t fragment)
{
    const MemWord link = MEM_Word(fragment)[0];
    return (link & ZMEM_LINK_HAS_SIZE) ? (uint32_t)MEM_Word(fragment)[1] : 4u;
}

static inline uintptr_t MEM_FragmentNext(uintptr_t fragment)
{
    return MEM_Word(fragment)[0] & ~(MemWord)ZMEM_LINK_HAS_SIZE;
}

// Rewrites the address in a link word and leaves that word's own bit 0 alone.
static inline void MEM_Relink(MemWord* link, uintptr_t target)
{
    *link = (*link & ZMEM_LINK_HAS_SIZE) | target;
}

// Writes a fragment header: a 4-byte fragment is a bare link word.
static inline void MEM_WriteFragment(uintptr_t fragment, uintptr_t next, uint32_t length)
{
    if (length == 4) {
        MEM_Word(fragment)[0] = next;
    } else {
        MEM_Word(fragment)[0] = next | ZMEM_LINK_HAS_SIZE;
        MEM_Word(fragment)[1] = length;
    }
}

// Rounds up to a multiple of 4; false when that does not fit 32 bits.
static inline bool MEM_Round(uint32_t size, uint32_t* rounded)
{
    if (size > 0xFFFFFFFCu)
        return false;
    *rounded = (size + 3u) & ~3u;
    return true;
}

class MEM_HeapGuard {
public:
    explicit MEM_HeapGuard(CZMem* m) : mem(m) { if (mem->MultiThread) EnterCriticalSection(&mem->HeapLock); }
    ~MEM_HeapGuard() { if (mem->MultiThread) LeaveCriticalSection(&mem->HeapLock); }
private:
    CZMem* mem;
};

static void MEM_Fatal(CZDebug* debug, const char* text)
{
    if (debug)
        debug->ShowMessageAndExit(text, MEM_CAPTION);
    ExitProcess(1);
}

CZMem::CZMem()
{
    Debug = nullptr;
    Threads = nullptr;
    HeapHandle = NULL;
    HeapSize = 0;
    ArenaBase = Top = ArenaEnd = nullptr;
    FreeList = 0;
    SurveilBytes = SurveilBlocks = SurveilRecords = 0;
    OwnerThread = 0;
    WatchStop = WatchDone = NULL;
    MultiThread = FALSE;
    SurveilTable = nullptr;
    GetMemCalls = GetMemFailed = FreeMemRefused = 0;
    FragmentBound = 0;
    ListTail = &FreeList;
    // Always there, so that MemoryInfoDump works in every build.
    InitializeCriticalSection(&SurveilLock);
}

CZMem::~CZMem()
{
    if (HeapHandle)
        DoneHeap();
    DeleteCriticalSection(&SurveilLock);
}

bool CZMem::SurveillanceBuilt()
{
    return ZARQUEL_MEM_SURVEIL != 0;
}

int CZMem::InitHeap(unsigned long size)
{
    if (HeapSize != 0)
        MEM_Fatal(Debug, "Sorry I can't init heap two times");

    // Requested + 8, and in the debug build the surveillance table in front
    // of the arena. A size that does not fit is refused like any other.
    const uint64_t tableBytes = ZARQUEL_MEM_SURVEIL ? (uint64_t)ZMEM_SURVEIL_RECORDS * sizeof(ZMEM_SURVEIL) : 0;
    const uint64_t heapSize = (uint64_t)size + 8u;
    const uint64_t total = heapSize + tableBytes;

    HeapHandle = NULL;
    HeapSize = 0;
    ArenaBase = Top = ArenaEnd = nullptr;
    FreeList = 0;
    FragmentBound = 0;
    SurveilBytes = SurveilBlocks = SurveilRecords = 0;
    SurveilTable = nullptr;
    MultiThread = FALSE;
    OwnerThread = GetCurrentThreadId();

    if (total > 0x7FFFFFF0u)
        MEM_Fatal(Debug, "Sorry I can't alloc Heap!");
    HeapHandle = HeapCreate(HEAP_NO_SERIALIZE, (SIZE_T)total, 0);
    if (!HeapHandle)
        MEM_Fatal(Debug, "Sorry I can't alloc Heap!");
    uint8_t* block = (uint8_t*)HeapAlloc(HeapHandle, HEAP_ZERO_MEMORY | HEAP_NO_SERIALIZE, (SIZE_T)total);
    if (!block)
        MEM_Fatal(Debug, "Sorry I can't alloc Heap!");

    SurveilTable = (ZMEM_SURVEIL*)block;
    SurveilTable[0].Size = SurveilTable[0].Block = SurveilTable[0].Guard = ZMEM_END_OF_TABLE;
    ArenaBase = block + tableBytes;
    Top = ArenaBase;
    FreeList = (uintptr_t)ArenaBase;
    ListTail = &FreeList;
    HeapSize = (uint32_t)heapSize;
    ArenaEnd = ArenaBase + HeapSize;

#if ZARQUEL_MEM_SURVEIL
    WatchStop = CreateEventA(NULL, FALSE, FALSE, NULL);
    WatchDone = CreateEventA(NULL, FALSE, FALSE, NULL);
    if (!WatchStop || !WatchDone)
        MEM_Fatal(Debug, "Sorry I can't start Memory Surveil!");
    // A plain Win32 thread: the thread manager suspends and terminates every
    // thread it knows when the watchdog finds an overrun.
    HANDLE watchdog = ::CreateThread(NULL, 0, MEM_Watchdog, this, 0, NULL);
    if (!watchdog)
        MEM_Fatal(Debug, "Sorry I can't start Memory Surveil!");
    CloseHandle(watchdog);
#endif
    return 1;
}

int CZMem::DoneHeap()
{
    if (!HeapHandle)
        return 1;
#if ZARQUEL_MEM_SURVEIL
    if (WatchStop) {
        SetEvent(WatchStop);
        WaitForSingleObject(WatchDone, INFINITE);
        CloseHandle(WatchStop);
        CloseHandle(WatchDone);
        WatchStop = WatchDone = NULL;
    }
#endif
    HeapFree(HeapHandle, HEAP_NO_SERIALIZE, SurveilTable);
    HeapDestroy(HeapHandle);
    HeapHandle = NULL;
    if (MultiThread)
        DeleteCriticalSection(&HeapLock);
    MultiThread = FALSE;
    // HeapSize stays set: a second InitHeap on this manager is refused.
    ArenaBase = Top = ArenaEnd = nullptr;
    FreeList = 0;
    FragmentBound = 0;
    SurveilTable = nullptr;
    SurveilBytes = SurveilBlocks = SurveilRecords = 0;
    return 1;
}

void CZMem::ActiveMultiThread()
{
    if (MultiThread)
        return;
    InitializeCriticalSection(&HeapLock);
    MultiThread = TRUE;
}

void CZMem::MEM_CheckCallingThread()
{
    if (!MultiThread && GetCurrentThreadId() != OwnerThread)
        MEM_Fatal(Debug, "The Heap can be used only for the thread that create it. Use Multithread call");
}

// First fit over the address-ordered free list, then the space above top.
void* CZMem::MEM_Get(uint32_t size)
{
    const uintptr_t top = (uintptr_t)Top;
    MemWord* link = &FreeList;
    uintptr_t fragment = FreeList & ~(MemWord)ZMEM_LINK_HAS_SIZE;
    // No fragment can be long enough: the walk would end at top anyway.
    const bool walk = size <= FragmentBound;
    if (!walk) {
        link = ListTail;
        fragment = top;
    }
    uint32_t longest = 0;
    while (fragment != top) {
        const uint32_t length = MEM_FragmentLength(fragment);
        const uintptr_t next = MEM_FragmentNext(fragment);
        if (length < size) {
            if (length > longest)
                longest = length;
            link = MEM_Word(fragment);
            fragment = next;
            continue;
        }
        if (length == size) {
            MEM_Relink(link, next);
            if (next == top)
                ListTail = link;
        } else {
            const uintptr_t rest = fragment + size;
            MEM_WriteFragment(rest, next, length - size);
            MEM_Relink(link, rest);
            if (next == top)
                ListTail = MEM_Word(rest);
        }
        return (void*)fragment;
    }
    // Every fragment was seen and found too short: the bound becomes exact.
    if (walk)
        FragmentBound = longest;
    if (size > (uintptr_t)ArenaEnd - top)
        return nullptr;
    Top += size;
    MEM_Relink(link, (uintptr_t)Top);
    return (void*)top;
}

// Gives a region back, merging it with the fragments on both sides. Refuses
// (false, nothing changed) a region that overlaps free memory, including the
// untouched space above top.
bool CZMem::MEM_Free(uint8_t* pointer, uint32_t size)
{
    const uintptr_t top = (uintptr_t)Top;
    uintptr_t start = (uintptr_t)pointer;
    if (start >= top || size > top - start)
        return false;
    uintptr_t end = start + size;

    MemWord* link = &FreeList;
    uintptr_t fragment = FreeList & ~(MemWord)ZMEM_LINK_HAS_SIZE;
    // Above the last fragment (not touching it): the walk would only end there.
    const uintptr_t last = (uintptr_t)ListTail;
    if (ListTail != &FreeList && last + MEM_FragmentLength(last) < start) {
        link = ListTail;
        fragment = top;
    }
    while (fragment != top && fragment + MEM_FragmentLength(fragment) < start) {
        link = MEM_Word(fragment);
        fragment = MEM_FragmentNext(fragment);
    }

    uintptr_t next = fragment;   // what the freed region will link to
    if (fragment != top) {
        const uintptr_t fragmentEnd = fragment + MEM_FragmentLength(fragment);
        if (fragmentEnd == start) {
            // Joins the fragment before it; the one after may join too.
            start = fragment;
            next = MEM_FragmentNext(fragment);
            if (next != top && next < end)
                return false;
            if (next != top && next == end) {
                end = next + MEM_FragmentLength(next);
                next = MEM_FragmentNext(next);
            }
        } else {
            if (end > fragment)
                return false;
            if (end == fragment) {
                end = fragmentEnd;
                next = MEM_FragmentNext(fragment);
            }
        }
    }

    if (end == top) {
        Top = (uint8_t*)start;
        MEM_Relink(link, start);
        ListTail = link;
    } else {
        const uint32_t length = (uint32_t)(end - start);
        MEM_WriteFragment(start, next, length);
        MEM_Relink(link, start);
        if (next == top)
            ListTail = MEM_Word(start);
        if (length > FragmentBound)
            FragmentBound = length;
    }
    return true;
}

void* CZMem::GetMem(unsigned long size)
{
    void* site = __builtin_return_address(0);
    (void)site;
    uint32_t rounded;
    MEM_HeapGuard guard(this);
    GetMemCalls++;
    if (!HeapHandle || !MEM_Round((uint32_t)size, &rounded)) {
        GetMemFailed++;
        return nullptr;
    }
#if ZARQUEL_MEM_SURVEIL
    MEM_CheckCallingThread();
    if (rounded > 0xFFFFFFFFu - ZMEM_GUARD_BYTES) {
        GetMemFailed++;
        return nullptr;
    }
    rounded += ZMEM_GUARD_BYTES;
#endif
    void* block = MEM_Get(rounded);
    if (!block) {
        GetMemFailed++;
        return nullptr;
    }
#if ZARQUEL_MEM_SURVEIL
    MEM_InsertBlock(block, rounded, site);
#endif
    return block;
}

void* CZMem::FreeMem(void* pointer, unsigned long size)
{
    MEM_HeapGuard guard(this);
    const uintptr_t p = (uintptr_t)pointer;
    if (!HeapHandle || (p & 3u) || p < (uintptr_t)ArenaBase || p > (uintptr_t)ArenaEnd) {
        FreeMemRefused++;
        return nullptr;
    }
    if (size == 0)
        return nullptr;
    uint32_t rounded;
    if (p == (uintptr_t)ArenaEnd || !MEM_Round((uint32_t)size, &rounded)) {
        FreeMemRefused++;
        return nullptr;
    }
#if ZARQUEL_MEM_SURVEIL
    MEM_CheckCallingThread();
    if (rounded > 0xFFFFFFFFu - ZMEM_GUARD_BYTES) {
        FreeMemRefused++;
        return nullptr;
    }
    rounded += ZMEM_GUARD_BYTES;
#endif
    if (!MEM_Free((uint8_t*)pointer, rounded)) {
        FreeMemRefused++;
        return nullptr;
    }
#if ZARQUEL_MEM_SURVEIL
    // Still under the heap lock: nobody can reuse the region before its
    // record is gone.
    MEM_FreeBlock(pointer);
#endif
    return nullptr;
}

void* CZMem::Mark()
{
    MEM_HeapGuard guard(this);
#if ZARQUEL_MEM_SURVEIL
    MEM_CheckCallingThread();
#endif
    return Top;
}

void* CZMem::Release(void* pointer)
{
    MEM_HeapGuard guard(this);
#if ZARQUEL_MEM_SURVEIL
    MEM_CheckCallingThread();
#endif
    // Only a mark inside the arena is taken: anything else would hand out
    // memory outside it.
    const uintptr_t p = (uintptr_t)pointer;
    if (!HeapHandle || (p & 3u) || p < (uintptr_t)ArenaBase || p > (uintptr_t)ArenaEnd)
        return nullptr;
    Top = (uint8_t*)pointer;
    FreeList = p;
    FragmentBound = 0;
    ListTail = &FreeList;
    return nullptr;
}

__attribute__((target("mmx"))) void CZMem::MMXMemCopy(const void* source, void* destination, unsigned long length)
{
    const __m64* s = (const __m64*)source;
    __m64* d = (__m64*)destination;
    for (unsigned long i = length >> 3; i != 0; --i) {
        __m64 v = *s++;
        // Pins the value to an MMX register; left alone the compiler moves
        // the 8 bytes through two integer registers.
        __asm__("" : "+y"(v));
        *d++ = v;
    }
    const uint8_t* sb = (const uint8_t*)s;
    uint8_t* db = (uint8_t*)d;
    for (unsigned long i = length & 7; i != 0; --i)
        *db++ = *sb++;
    _mm_empty();
}

__attribute__((target("mmx"))) void CZMem::MMXMemFill(void* destination, unsigned char value, unsigned long length)
{
    const __m64 pattern = _mm_set1_pi8((char)value);
    __m64* d = (__m64*)destination;
    for (unsigned long i = length >> 3; i != 0; --i)
        *d++ = pattern;
    uint8_t* db = (uint8_t*)d;
    for (unsigned long i = length & 7; i != 0; --i)
        *db++ = value;
    _mm_empty();
}

// ---------------------------------------------------------------------------
// Surveillance (registers blocks only in the debug build; the dump works in
// every build).

void CZMem::MEM_InsertBlock(void* address, uint32_t length, void* site)
{
    EnterCriticalSection(&SurveilLock);
    SurveilBytes += length;
    SurveilBlocks++;
    uint32_t i = 0;
    while (SurveilTable[i].Block != ZMEM_END_OF_TABLE && SurveilTable[i].Block != 0)
        i++;
    if (SurveilTable[i].Block == ZMEM_END_OF_TABLE) {
        // The record after the new end-of-table record must exist too.
        if (i + 2 >= ZMEM_SURVEIL_RECORDS) {
            LeaveCriticalSection(&SurveilLock);
            MEM_Fatal(Debug, "Memory Surveil Table Full: Contact at " ZQ_SUPPORT_CONTACT);
        }
        SurveilRecords++;
        ZMEM_SURVEIL& end = SurveilTable[i + 1];
        end.Size = end.Block = end.Guard = ZMEM_END_OF_TABLE;
        ZMEM_SURVEIL& after = SurveilTable[i + 2];
        after.Size = after.Block = after.Guard = 0;
    }
    ZMEM_SURVEIL& r = SurveilTable[i];
    const uintptr_t block = (uintptr_t)address;
    r.Size = length - ZMEM_GUARD_BYTES;
    r.Block = (uint32_t)block;
    r.Guard = (uint32_t)(block + length - ZMEM_GUARD_BYTES);
    r.Site = (uint32_t)(uintptr_t)site;
    MEM_Word(r.Guard)[0] = ZMEM_GUARD0;
    MEM_Word(r.Guard)[1] = ZMEM_GUARD1;
    LeaveCriticalSection(&SurveilLock);
}

void CZMem::MEM_FreeBlock(void* address)
{
    const uint32_t block = (uint32_t)(uintptr_t)address;
    EnterCriticalSection(&SurveilLock);
    for (uint32_t i = 0; SurveilTable[i].Block != ZMEM_END_OF_TABLE; i++) {
        ZMEM_SURVEIL& r = SurveilTable[i];
        if (r.Block != block)
            continue;
        SurveilBlocks--;
        SurveilBytes -= r.Size + ZMEM_GUARD_BYTES;
        ZMEM_SURVEIL& following = SurveilTable[i + 1];
        if (following.Block == ZMEM_END_OF_TABLE) {
            SurveilRecords--;
            r.Size = r.Block = r.Guard = ZMEM_END_OF_TABLE;
            following.Size = following.Block = following.Guard = 0;
        } else {
            r.Size = r.Block = r.Guard = 0;
        }
        break;
    }
    LeaveCriticalSection(&SurveilLock);
}

DWORD WINAPI CZMem::MEM_Watchdog(void* self)
{
    ((CZMem*)self)->MEM_SurveilMemory();
    return 0;
}

void CZMem::MEM_SurveilMemory()
{
    for (;;) {
        if (WaitForSingleObject(WatchStop, ZMEM_SURVEIL_PERIOD_MS) == WAIT_OBJECT_0)
            break;
        EnterCriticalSection(&SurveilLock);
        for (uint32_t i = 0; i < SurveilRecords; i++) {
            const ZMEM_SURVEIL& r = SurveilTable[i];
            if (r.Guard == ZMEM_END_OF_TABLE) {
                MessageBoxA(NULL, "Memory Surveil Error: Contact at " ZQ_SUPPORT_CONTACT,
                            MEM_PROTECTION_CAPTION, MB_SYSTEMMODAL | MB_ICONERROR);
                ExitProcess(1);
            }
            if (r.Guard == 0)
                continue;
            if (MEM_Word(r.Guard)[0] == ZMEM_GUARD0 && MEM_Word(r.Guard)[1] == ZMEM_GUARD1)
                continue;
            char text[160];
            char address[16], site[16];
            snprintf(address, sizeof(address), "%lx", (unsigned long)r.Block);
            snprintf(site, sizeof(site), "%lx", (unsigned long)r.Site);
            snprintf(text, sizeof(text), "Memory Overrun- Block: %d Address: %s Size: %d Allocated at: %s",
                     (int)i, address, (int)r.Size, site);
            if (Threads) {
                Threads->SuspendAllThreads();
                Threads->TerminateAllThreads();
            }
            LeaveCriticalSection(&SurveilLock);
            MessageBoxA(NULL, text, MEM_PROTECTION_CAPTION, MB_ICONERROR);
            FatalExit(2);
        }
        LeaveCriticalSection(&SurveilLock);
    }
    SetEvent(WatchDone);
}

void CZMem::MemoryInfoDump()
{
    EnterCriticalSection(&SurveilLock);
    FILE* f = fopen("zarquel-mem.txt", "w");
    if (f) {
        fputs("Zarquel V3.0 - Memory State Dump.\n", f);
        fputs("*NOTE:Some blocks are allocated by the zarquel and doesn't be freed until application ends\n", f);
        fputs("      These values are valid only running ZARQUEL.DLL with debug*\n", f);
        fputs("\n", f);
        fprintf(f, "-Heap Size: %d\n", (int)HeapSize);
        fprintf(f, "-Allocated Blocks: %d \n", (int)SurveilBlocks);
        fprintf(f, "-Allocated Bytes: %d \n", (int)SurveilBytes);
        fprintf(f, "-Memory Surveil Page Tables: %d\n", (int)SurveilRecords);
        fputs("\n", f);
        fputs("-Allocated Blocks:\n", f);
        for (uint32_t i = 0; SurveilTable && i < SurveilRecords; i++) {
            const ZMEM_SURVEIL& r = SurveilTable[i];
            if (r.Guard == 0)
                continue;
            fprintf(f, "Block: %d Allocated at: %lx in address: %lx with size: %d\n", (int)i,
                    (unsigned long)r.Site, (unsigned long)r.Block, (int)r.Size);
        }
        fclose(f);
    }
    LeaveCriticalSection(&SurveilLock);
}
