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
    GetMemCalls = GetMemFailed = FreeMemRefused = BytesInUse = 0;
    FragmentBound = 0;
    ListTail = &FreeList;
    FitTree = nullptr;
    Buckets = nullptr;
    FitBits = nullptr;
    FitBitLevels = FitLeaves = FitBuckets = 0;
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
    BytesInUse = 0;
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

    // The fragment index, zeroed (no fragments), in one block: the tree,
    // each bucket's first and last fragment, the bitmap's levels.
    FitBuckets = (uint32_t)((heapSize + (1u << ZMEM_INDEX_BUCKET_SHIFT) - 1) >> ZMEM_INDEX_BUCKET_SHIFT);
    FitLeaves = 1;
    while (FitLeaves < FitBuckets)
        FitLeaves <<= 1;
    uint32_t bitWords = 0;
    FitBitLevels = 0;
    for (uint32_t bits = FitBuckets, words = 0; words != 1; bits = words) {
        // One word more than the bits need: a search may start one bucket
        // past the last (at the arena end).
        words = (bits >> 5) + 1;
        if (FitBitLevels == ZMEM_INDEX_BIT_LEVELS)   // not with the size limit above
            MEM_Fatal(Debug, "Sorry I can't alloc Heap!");
        FitBitStart[FitBitLevels++] = bitWords;
        bitWords += words;
    }
    const SIZE_T indexBytes = (SIZE_T)FitLeaves * 2 * sizeof(uint32_t) + (SIZE_T)FitBuckets * sizeof(ZMEM_BUCKET) +
                              (SIZE_T)bitWords * sizeof(uint32_t);
    FitTree = (uint32_t*)HeapAlloc(HeapHandle, HEAP_ZERO_MEMORY | HEAP_NO_SERIALIZE, indexBytes);
    if (!FitTree)
        MEM_Fatal(Debug, "Sorry I can't alloc Heap!");
    Buckets = (ZMEM_BUCKET*)(FitTree + 2 * FitLeaves);
    FitBits = (uint32_t*)(Buckets + FitBuckets);

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
    HeapFree(HeapHandle, HEAP_NO_SERIALIZE, FitTree);
    FitTree = nullptr;
    Buckets = nullptr;
    FitBits = nullptr;
    FitBitLevels = FitLeaves = FitBuckets = 0;
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

// ---------------------------------------------------------------------------
// The fragment index. A fragment belongs to the bucket of its last byte: a
// block cut from a fragment's front leaves the rest in the same bucket, so
// the commonest change touches one bucket and no bit. The index is brought up
// to date one fragment at a time, after the change to the list in the arena
// (MEM_Removed: while the list still holds the fragment).

uint32_t CZMem::MEM_BucketOf(uintptr_t address) const
{
    return (uint32_t)((address - (uintptr_t)ArenaBase) >> ZMEM_INDEX_BUCKET_SHIFT);
}

// Sets a bucket's longest fragment and carries it up the tree as far as a
// maximum changes. Where a climb stops is as good as random, so the first
// ZMEM_INDEX_EAGER_LEVELS levels are written without a test (rewriting a
// node with the value it holds is harmless) and only the rare longer climb
// branches.
inline void CZMem::MEM_SetLongest(uint32_t bucket, uint32_t longest)
{
    uint32_t* const tree = FitTree;
    uint32_t node = FitLeaves + bucket;
    const uint32_t old = tree[node];
    tree[node] = longest;
    if (longest > old) {
        for (uint32_t i = 0; i < ZMEM_INDEX_EAGER_LEVELS && node > 1; i++) {
            node >>= 1;
            const uint32_t was = tree[node];
            tree[node] = was > longest ? was : longest;
        }
        for (node >>= 1; node && tree[node] < longest; node >>= 1)
            tree[node] = longest;
    } else {
        for (uint32_t i = 0; i < ZMEM_INDEX_EAGER_LEVELS && node > 1; i++) {
            const uint32_t sibling = tree[node ^ 1];
            longest = sibling > longest ? sibling : longest;
            node >>= 1;
            tree[node] = longest;
        }
        for (; node > 1; node >>= 1) {
            const uint32_t sibling = tree[node ^ 1];
            const uint32_t most = sibling > longest ? sibling : longest;
            if (tree[node >> 1] == most)
                break;
            tree[node >> 1] = longest = most;
        }
    }
    FragmentBound = tree[1];
}

// The longest fragment of a bucket that holds some, from the list, leaving
// out `gone` (a fragment the list still holds, 0 for none).
uint32_t CZMem::MEM_Longest(uint32_t bucket, uintptr_t gone) const
{
    const uintptr_t last = Buckets[bucket].Last;
    uint32_t longest = 0;
    for (uintptr_t f = Buckets[bucket].First;; f = MEM_FragmentNext(f)) {
        const uint32_t length = f == gone ? 0 : MEM_FragmentLength(f);
        longest = length > longest ? length : longest;
        if (f == last)
            return longest;
    }
}

// The bitmap of buckets holding fragments has one bit a bucket on its
// lowest level and one bit a word of the level below on each level above,
// up to a level of one word.
void CZMem::MEM_MarkBucket(uint32_t bucket, bool used)
{
    for (uint32_t level = 0; level < FitBitLevels; level++) {
        uint32_t& word = FitBits[FitBitStart[level] + (bucket >> 5)];
        const uint32_t bit = 1u << (bucket & 31);
        const uint32_t was = word;
        word = used ? was | bit : was & ~bit;
        if (used ? was != 0 : word != 0)
            return;   // the levels above already say so
        bucket >>= 5;
    }
}

// The highest bucket below `bucket` that holds a fragment, or ZMEM_NO_BUCKET.
// Mostly one word of the lowest level answers (it starts the bitmap).
inline uint32_t CZMem::MEM_PrevBucket(uint32_t bucket) const
{
    const uint32_t below = FitBits[bucket >> 5] & ((1u << (bucket & 31)) - 1);
    if (below)
        return (bucket & ~31u) | (31 - __builtin_clz(below));
    return MEM_PrevBucketFar(bucket >> 5);
}

// The same from the level above, for the word `word` of the lowest level.
uint32_t CZMem::MEM_PrevBucketFar(uint32_t word) const
{
    const uint32_t* const bits = FitBits;
    uint32_t level = 1, at = word;
    for (;; level++) {
        if (level >= FitBitLevels)
            return ZMEM_NO_BUCKET;
        const uint32_t below = bits[FitBitStart[level] + (at >> 5)] & ((1u << (at & 31)) - 1);
        if (below) {
            at = (at & ~31u) | (31 - __builtin_clz(below));
            break;
        }
        at >>= 5;
    }
    while (level-- > 0)
        at = (at << 5) | (31 - __builtin_clz(bits[FitBitStart[level] + at]));
    return at;
}

// A fragment of `length` bytes now in the list.
void CZMem::MEM_Added(uintptr_t fragment, uint32_t length)
{
    const uint32_t bucket = MEM_BucketOf(fragment + length - 1);
    ZMEM_BUCKET& b = Buckets[bucket];
    if (!b.First) {
        b.First = b.Last = fragment;
        MEM_MarkBucket(bucket, true);
    } else if (fragment < b.First) {
        b.First = fragment;
    } else if (fragment > b.Last) {
        b.Last = fragment;
    }
    if (length > FitTree[FitLeaves + bucket])
        MEM_SetLongest(bucket, length);
}

// A fragment of `length` bytes about to leave the list, which still links
// to it; `before` is the fragment in front of it when known (else 0) and
// `after` the one behind it, or top.
void CZMem::MEM_Removed(uintptr_t fragment, uint32_t length, uintptr_t before, uintptr_t after)
{
    const uint32_t bucket = MEM_BucketOf(fragment + length - 1);
    ZMEM_BUCKET& b = Buckets[bucket];
    const uintptr_t first = b.First, last = b.Last;
    if (first == fragment && last == fragment) {
        b.First = b.Last = 0;
        MEM_MarkBucket(bucket, false);
        MEM_SetLongest(bucket, 0);
        return;
    }
    if (first == fragment) {
        b.First = after;   // more of the bucket follows
    } else if (last == fragment) {
        // The one in front belongs to the bucket too.
        if (!before)
            for (before = first; MEM_FragmentNext(before) != fragment;)
                before = MEM_FragmentNext(before);
        b.Last = before;
    }
    if (length == FitTree[FitLeaves + bucket])
        MEM_SetLongest(bucket, MEM_Longest(bucket, fragment));
}

// A fragment's front moved (its end did not): `fragment`, `oldLength` bytes,
// is now `now`, `length` bytes, in the same bucket.
inline void CZMem::MEM_Moved(uintptr_t fragment, uint32_t oldLength, uintptr_t now, uint32_t length)
{
    const uint32_t bucket = MEM_BucketOf(fragment + oldLength - 1);
    ZMEM_BUCKET& b = Buckets[bucket];
    const uintptr_t first = b.First, last = b.Last;
    if (first == fragment)
        b.First = now;
    if (last == fragment)
        b.Last = now;
    const uint32_t longest = FitTree[FitLeaves + bucket];
    if (length > longest)
        MEM_SetLongest(bucket, length);
    else if (oldLength == longest && length < oldLength)
        MEM_SetLongest(bucket, first == last ? length : MEM_Longest(bucket, 0));
}

// Empties the index: only buckets below top can hold fragments.
void CZMem::MEM_ClearIndex()
{
    uint32_t last = MEM_BucketOf((uintptr_t)Top);
    if (last >= FitBuckets)
        last = FitBuckets - 1;
    memset(Buckets, 0, (size_t)(last + 1) * sizeof(ZMEM_BUCKET));
    for (uint32_t lo = FitLeaves, hi = FitLeaves + last; lo; lo >>= 1, hi >>= 1)
        memset(&FitTree[lo], 0, (size_t)(hi - lo + 1) * sizeof(uint32_t));
    for (uint32_t level = 0, words = (last >> 5) + 1; level < FitBitLevels; level++, words = (words >> 5) + 1)
        memset(&FitBits[FitBitStart[level]], 0, (size_t)words * sizeof(uint32_t));
    FragmentBound = 0;
}

// The last fragment starting below `address` (at most top), 0 for none,
// when no fragment spans `address`; otherwise one in front of that fragment.
inline uintptr_t CZMem::MEM_FragmentBefore(uintptr_t address) const
{
    uint32_t bucket = MEM_BucketOf(address);
    if (bucket < FitBuckets) {
        uintptr_t f = Buckets[bucket].First;
        if (f && f < address) {
            const uintptr_t last = Buckets[bucket].Last;
            if (last < address)
                return last;
            // Some fragment of this bucket lies at or above `address`, so
            // the walk ends inside the bucket.
            for (uintptr_t n = MEM_FragmentNext(f); n < address; n = MEM_FragmentNext(n))
                f = n;
            return f;
        }
    } else {
        bucket = FitBuckets;
    }
    bucket = MEM_PrevBucket(bucket);
    return bucket == ZMEM_NO_BUCKET ? 0 : Buckets[bucket].Last;
}

// First fit over the address-ordered free list, then the space above top.
// The index finds the lowest bucket holding a fragment long enough; the
// first such fragment in it is the one a walk of the whole list would find.
void* CZMem::MEM_Get(uint32_t size)
{
    const uintptr_t top = (uintptr_t)Top;
    const uint32_t wanted = size ? size : 1;   // an empty leaf never fits
    const uint32_t* const tree = FitTree;
    const uint32_t leaves = FitLeaves;
    if (wanted <= tree[1]) {
        // First fit packs the low end, so the answer tends to lie near it:
        // up the left edge of the tree to the smallest subtree from the
        // arena base that holds one, then down it without branches (the way
        // down is as good as random).
        uint32_t node = leaves;
        while (tree[node] < wanted)
            node >>= 1;
        while (node < leaves)
            node = 2 * node + (tree[2 * node] < wanted);
        const uint32_t bucket = node - leaves;
        uintptr_t fragment = Buckets[bucket].First, before = 0;
        uint32_t length;
        while ((length = MEM_FragmentLength(fragment)) < wanted) {
            before = fragment;
            fragment = MEM_FragmentNext(fragment);
        }
        if (!before) {
            const uint32_t prev = MEM_PrevBucket(bucket);
            before = prev == ZMEM_NO_BUCKET ? 0 : Buckets[prev].Last;
        }
        MemWord* link = before ? MEM_Word(before) : &FreeList;
        const uintptr_t next = MEM_FragmentNext(fragment);
        if (length == size) {
            MEM_Removed(fragment, length, before, next);
            MEM_Relink(link, next);
            if (next == top)
                ListTail = link;
        } else {
            const uintptr_t rest = fragment + size;
            MEM_WriteFragment(rest, next, length - size);
            MEM_Relink(link, rest);
            if (next == top)
                ListTail = MEM_Word(rest);
            MEM_Moved(fragment, length, rest, length - size);
        }
        return (void*)fragment;
    }
    if (size > (uintptr_t)ArenaEnd - top)
        return nullptr;
    Top += size;
    MEM_Relink(ListTail, (uintptr_t)Top);
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

    // Above the last fragment: no search needed.
    uintptr_t before = ListTail == &FreeList ? 0 : (uintptr_t)ListTail;
    if (before >= start)
        before = MEM_FragmentBefore(start);
    MemWord* link = before ? MEM_Word(before) : &FreeList;
    if (before) {
        const uint32_t beforeLength = MEM_FragmentLength(before);
        const uintptr_t beforeEnd = before + beforeLength;
        if (beforeEnd > start)
            return false;
        if (beforeEnd == start) {
            // Joins the fragment before it; the one after may join too.
            uintptr_t next = MEM_FragmentNext(before);
            if (next != top && next < end)
                return false;
            if (end == top) {
                // No fragment ends at top, so nothing joins from above: the
                // fragment before becomes top, and the link to it holds top.
                const uintptr_t ahead = MEM_FragmentBefore(before);
                MEM_Removed(before, beforeLength, ahead, top);
                Top = (uint8_t*)before;
                ListTail = ahead ? MEM_Word(ahead) : &FreeList;
                return true;
            }
            if (next == end) {
                // All three are one fragment now, which ends where the one
                // after ended.
                const uint32_t joinedLength = MEM_FragmentLength(next);
                MEM_Removed(before, beforeLength, 0, next);
                MEM_Moved(next, joinedLength, before, (uint32_t)(next + joinedLength - before));
                end = next + joinedLength;
                next = MEM_FragmentNext(next);
                MEM_WriteFragment(before, next, (uint32_t)(end - before));
            } else {
                const uint32_t length = (uint32_t)(end - before);
                if (MEM_BucketOf(beforeEnd - 1) == MEM_BucketOf(end - 1)) {
                    MEM_Moved(before, beforeLength, before, length);
                } else {
                    MEM_Removed(before, beforeLength, 0, next);
                    MEM_Added(before, length);
                }
                MEM_WriteFragment(before, next, length);
            }
            if (next == top)
                ListTail = MEM_Word(before);
            return true;
        }
    }

    const uintptr_t fragment = *link & ~(MemWord)ZMEM_LINK_HAS_SIZE;   // the first above start
    uintptr_t next = fragment;
    uint32_t joinedLength = 0;
    if (fragment != top) {
        if (end > fragment)
            return false;
        if (end == fragment) {
            joinedLength = MEM_FragmentLength(fragment);
            end = fragment + joinedLength;
            next = MEM_FragmentNext(fragment);
        }
    }
    if (end == top) {
        Top = (uint8_t*)start;
        MEM_Relink(link, start);
        ListTail = link;
        return true;
    }
    const uint32_t length = (uint32_t)(end - start);
    if (joinedLength)
        MEM_Moved(fragment, joinedLength, start, length);
    MEM_WriteFragment(start, next, length);
    MEM_Relink(link, start);
    if (next == top)
        ListTail = MEM_Word(start);
    if (!joinedLength)
        MEM_Added(start, length);
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
    BytesInUse += rounded;
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
    BytesInUse -= rounded;
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
#if ZARQUEL_MEM_SURVEIL
    // Blocks above the mark are gone: their guard words are free memory now.
    MEM_DropBlocksFrom(p);
#endif
    MEM_ClearIndex();
    Top = (uint8_t*)pointer;
    BytesInUse = (uint32_t)(p - (uintptr_t)ArenaBase);
    FreeList = p;
    ListTail = &FreeList;
    return nullptr;
}

// Source and destination may have any alignment: every 8 bytes go through
// memcpy into and out of the vector, which the compiler turns into unaligned
// MMX loads and stores (movq), never an aligned access through a cast pointer.
__attribute__((target("mmx"))) void CZMem::MMXMemCopy(const void* source, void* destination, unsigned long length)
{
    const uint8_t* s = (const uint8_t*)source;
    uint8_t* d = (uint8_t*)destination;
    for (unsigned long i = length >> 3; i != 0; --i, s += 8, d += 8) {
        __m64 v;
        memcpy(&v, s, 8);
        // Pins the value to an MMX register; left alone the compiler moves
        // the 8 bytes through two integer registers.
        __asm__("" : "+y"(v));
        memcpy(d, &v, 8);
    }
    for (unsigned long i = length & 7; i != 0; --i)
        *d++ = *s++;
    _mm_empty();
}

__attribute__((target("mmx"))) void CZMem::MMXMemFill(void* destination, unsigned char value, unsigned long length)
{
    __m64 pattern = _mm_set1_pi8((char)value);
    __asm__("" : "+y"(pattern));
    uint8_t* d = (uint8_t*)destination;
    for (unsigned long i = length >> 3; i != 0; --i, d += 8)
        memcpy(d, &pattern, 8);
    for (unsigned long i = length & 7; i != 0; --i)
        *d++ = value;
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

// Unregisters every block at or above `mark` and pulls the end-of-table
// record back behind the last record still in use.
void CZMem::MEM_DropBlocksFrom(uintptr_t mark)
{
    EnterCriticalSection(&SurveilLock);
    uint32_t used = 0;   // one past the last record kept
    for (uint32_t i = 0; i < SurveilRecords; i++) {
        ZMEM_SURVEIL& r = SurveilTable[i];
        if (r.Block == 0)
            continue;
        if (r.Block < mark) {
            used = i + 1;
            continue;
        }
        SurveilBlocks--;
        SurveilBytes -= r.Size + ZMEM_GUARD_BYTES;
        r.Size = r.Block = r.Guard = 0;
    }
    if (used < SurveilRecords) {
        ZMEM_SURVEIL& end = SurveilTable[used];
        end.Size = end.Block = end.Guard = ZMEM_END_OF_TABLE;
        ZMEM_SURVEIL& after = SurveilTable[used + 1];
        after.Size = after.Block = after.Guard = 0;
        ZMEM_SURVEIL& old = SurveilTable[SurveilRecords];
        old.Size = old.Block = old.Guard = 0;
        SurveilRecords = used;
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
