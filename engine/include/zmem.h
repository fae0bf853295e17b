// CZMem: the engine's heap. One arena, headerless blocks (the caller gives
// the size back on free), an address-ordered list of free fragments, a top
// mark, mark/release, MMX copy and fill.
//
// Memory surveillance is a build flavour, zarquel_surveil.dll (zmem.cpp
// compiled with ZARQUEL_MEM_SURVEIL=1; everything else is the same objects):
// - the surveillance table (ZMEM_SURVEIL_RECORDS records) sits in front of
//   the arena in the same system heap block; the arena keeps its full size;
// - GetMem reserves 8 guard bytes behind the rounded size (0xBEBECAFE,
//   0xCACABACA) and registers the block with its caller's return address as
//   the allocation site; FreeMem unregisters it under the same heap lock,
//   so nobody can reuse the region before its record is gone;
// - GetMem, FreeMem, Mark and Release check the calling thread until
//   ActiveMultiThread;
// - InitHeap starts the watchdog as a plain Win32 thread (the thread manager
//   suspends and terminates every thread it knows when an overrun is found,
//   so the watchdog must not be one of them); it scans every 20 ms and is
//   stopped and waited for by DoneHeap;
// - a table at its limit ends the program with a message instead of
//   growing past it.
// The standard build registers nothing; its dump lists no blocks.
#ifndef ZARQUEL_ZMEM_H
#define ZARQUEL_ZMEM_H

#include <cstdint>
#include <windows.h>

#include "zapi.h"

class CZDebug;
class CZThreads;

// One record of the surveillance table. A block address of 0 marks a free
// slot; the end-of-table record has all ones in size, block and guard.
struct ZMEM_SURVEIL {
    uint32_t Size;      // user size: registered length - 8
    uint32_t Block;     // block address
    uint32_t Guard;     // block + length - 8: the two guard words
    uint32_t Site;      // allocation site (a code address)
};
static_assert(sizeof(ZMEM_SURVEIL) == 16, "surveillance record is four words");

#define ZMEM_GUARD0 0xBEBECAFEu
#define ZMEM_GUARD1 0xCACABACAu
#define ZMEM_GUARD_BYTES 8
#define ZMEM_END_OF_TABLE 0xFFFFFFFFu
// Records of the debug build's surveillance table, which sits in front of the
// arena; the one after the end-of-table record must exist too. A block beyond
// the limit is refused loudly (fatal message), never written past the table.
#define ZMEM_SURVEIL_RECORDS 65536
// Period of the debug build's watchdog scan.
#define ZMEM_SURVEIL_PERIOD_MS 20

// Free fragment link word: bit 0 set means a size word follows.
#define ZMEM_LINK_HAS_SIZE 1u
// The fragment index cuts the arena into buckets of 1 << this many bytes: a
// first-fit search walks at most one bucket's fragments after the tree.
#define ZMEM_INDEX_BUCKET_SHIFT 8
// Levels of the bitmap of buckets that hold fragments, 32 ways each: enough
// for 2^(8 + 5 * 5) bytes of arena, more than a 32-bit heap can have.
#define ZMEM_INDEX_BIT_LEVELS 5
#define ZMEM_NO_BUCKET 0xFFFFFFFFu
// Tree levels above a changed leaf that are rewritten without a test.
#define ZMEM_INDEX_EAGER_LEVELS 6

// A bucket of the fragment index: its lowest and highest fragment, 0 for
// none; together, as they are mostly read together.
struct ZMEM_BUCKET {
    uintptr_t First;
    uintptr_t Last;
};
static_assert(sizeof(ZMEM_BUCKET) == 2 * sizeof(uintptr_t), "a bucket is two words");

class ZQAPI CZMem {
public:
    CZMem();
    ~CZMem();

    int InitHeap(unsigned long size);
    int DoneHeap();
    void* GetMem(unsigned long size);
    void* FreeMem(void* pointer, unsigned long size);
    void* Mark();
    void* Release(void* pointer);
    void ActiveMultiThread();

    // Note the order: source first. No overlap handling.
    static void MMXMemCopy(const void* source, void* destination, unsigned long length);
    static void MMXMemFill(void* destination, unsigned char value, unsigned long length);

    void MEM_SurveilMemory();   // body of the debug build's watchdog thread
    void MemoryInfoDump();      // writes "zarquel-mem.txt"

    // True when this build registers blocks with guard words (debug build).
    static bool SurveillanceBuilt();

    CZDebug* Debug;
    CZThreads* Threads;
    HANDLE HeapHandle;
    uint32_t HeapSize;          // requested + 8; 0 = no heap yet
    uint8_t* ArenaBase;
    uint8_t* Top;               // first byte never handed out; ends the free list
    uint8_t* ArenaEnd;
    uintptr_t FreeList;         // behaves as the link word before the first fragment
    uint32_t SurveilBytes;
    uint32_t SurveilBlocks;
    uint32_t SurveilRecords;    // index of the end-of-table record
    DWORD OwnerThread;
    HANDLE WatchStop;
    HANDLE WatchDone;
    CRITICAL_SECTION SurveilLock;
    CRITICAL_SECTION HeapLock;
    BOOL MultiThread;
    ZMEM_SURVEIL* SurveilTable;

    // The length of the longest free fragment: a request above it goes
    // straight to top.
    uint32_t FragmentBound;
    // The link word that holds top (the head or the last fragment's), so a
    // skipped walk can still append at top.
    uintptr_t* ListTail;

    // Index of the free fragments by address, kept outside the arena (in the
    // same system heap) and sized from it, so that first fit and the search
    // for a freed region's neighbours are logarithmic; the list in the arena
    // stays the truth and decides every address. FitTree is a max-tree over
    // the buckets (FitLeaves leaves from index FitLeaves on): a leaf holds the
    // longest fragment of its bucket, 0 for none; a fragment belongs to the
    // bucket of its last byte. Buckets holds each bucket's lowest and highest
    // fragment.
    // FitBits marks the buckets that hold fragments, in FitBitLevels levels
    // (level n from FitBits + FitBitStart[n]); each bit of a level above the
    // lowest stands for a nonzero word of the level below.
    uint32_t* FitTree;
    ZMEM_BUCKET* Buckets;
    uint32_t* FitBits;
    uint32_t FitBitStart[ZMEM_INDEX_BIT_LEVELS];
    uint32_t FitBitLevels;
    uint32_t FitLeaves;         // a power of two, at least the bucket count
    uint32_t FitBuckets;

    // Counters, cheap and always kept.
    uint32_t GetMemCalls;
    uint32_t GetMemFailed;      // arena exhausted (or a size too large)
    uint32_t FreeMemRefused;    // bad pointer, size or overlap
    // Arena bytes handed out and not given back (rounded, guard words
    // included); after Release everything below the mark counts as in use.
    uint32_t BytesInUse;

private:
    void MEM_CheckCallingThread();
    void MEM_InsertBlock(void* address, uint32_t length, void* site);
    void MEM_FreeBlock(void* address);
    void MEM_DropBlocksFrom(uintptr_t mark);
    void* MEM_Get(uint32_t size);
    bool MEM_Free(uint8_t* pointer, uint32_t size);
    uint32_t MEM_BucketOf(uintptr_t address) const;
    void MEM_SetLongest(uint32_t bucket, uint32_t longest);
    uint32_t MEM_Longest(uint32_t bucket, uintptr_t gone) const;
    void MEM_MarkBucket(uint32_t bucket, bool used);
    uint32_t MEM_PrevBucket(uint32_t bucket) const;
    uint32_t MEM_PrevBucketFar(uint32_t word) const;
    void MEM_Added(uintptr_t fragment, uint32_t length);
    void MEM_Removed(uintptr_t fragment, uint32_t length, uintptr_t before, uintptr_t after);
    void MEM_Moved(uintptr_t fragment, uint32_t oldLength, uintptr_t now, uint32_t length);
    void MEM_ClearIndex();
    uintptr_t MEM_FragmentBefore(uintptr_t address) const;
    static DWORD WINAPI MEM_Watchdog(void* self);
};

#endif
