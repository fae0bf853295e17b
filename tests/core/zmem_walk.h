// Reads the memory manager's free list straight from the arena.
#ifndef ZMEM_WALK_H
#define ZMEM_WALK_H

#include <algorithm>
#include <cstdint>
#include <vector>

#include <gtest/gtest.h>

#include "zmem.h"

struct MemFragment {
    uintptr_t At;
    uint32_t Length;
    bool HasSize;   // bit 0 of its link word
};

// Walks the list from the head to top. Returns false (and stops) on a link
// that leaves the arena or a list longer than the arena could hold.
inline bool MemFragments(const CZMem& m, std::vector<MemFragment>* out)
{
    out->clear();
    const uintptr_t base = (uintptr_t)m.ArenaBase, top = (uintptr_t)m.Top;
    uintptr_t at = m.FreeList & ~(uintptr_t)1;
    size_t limit = (top - base) / 4 + 1;
    while (at != top) {
        if (at < base || at >= top || (at & 3) || limit-- == 0)
            return false;
        const uintptr_t link = *(const uintptr_t*)at;
        MemFragment f;
        f.At = at;
        f.HasSize = (link & 1) != 0;
        f.Length = f.HasSize ? ((const uint32_t*)at)[1] : 4;
        out->push_back(f);
        at = link & ~(uintptr_t)1;
    }
    return true;
}

// The list's own invariants: ascending, never touching, none ending at top,
// inside the arena, a size word exactly when longer than 4 bytes; and the
// allocator's shortcuts agree with it (tail, bound on fragment lengths).
inline ::testing::AssertionResult MemListIsSound(const CZMem& m)
{
    std::vector<MemFragment> f;
    if (!MemFragments(m, &f))
        return ::testing::AssertionFailure() << "free list leaves the arena or loops";
    if (m.FreeList & 1)
        return ::testing::AssertionFailure() << "bit 0 of the head changed";
    const uintptr_t top = (uintptr_t)m.Top;
    for (size_t i = 0; i < f.size(); i++) {
        const MemFragment& a = f[i];
        if (a.Length % 4 || a.Length < 4 || a.HasSize != (a.Length > 4))
            return ::testing::AssertionFailure() << "fragment " << i << " has length " << a.Length
                                                 << " with size flag " << a.HasSize;
        if (a.At + a.Length >= top)
            return ::testing::AssertionFailure() << "fragment " << i << " reaches top";
        if (i + 1 < f.size() && a.At + a.Length >= f[i + 1].At)
            return ::testing::AssertionFailure() << "fragments " << i << " and " << i + 1
                                                 << " touch or are out of order";
    }
    const uintptr_t tail = f.empty() ? (uintptr_t)&m.FreeList : f.back().At;
    if ((uintptr_t)m.ListTail != tail)
        return ::testing::AssertionFailure() << "the tail is not the link word that holds top";
    for (const MemFragment& a : f)
        if (a.Length > m.FragmentBound)
            return ::testing::AssertionFailure() << "a fragment of " << a.Length << " bytes is above the bound "
                                                 << m.FragmentBound;
    if (top < (uintptr_t)m.ArenaBase || top > (uintptr_t)m.ArenaEnd)
        return ::testing::AssertionFailure() << "top outside the arena";

    // The fragment index agrees with the list: each bucket's lowest and
    // highest fragment, its bit, its longest length, and every tree node the
    // larger of its two children.
    std::vector<uintptr_t> first(m.FitBuckets, 0), last(m.FitBuckets, 0);
    std::vector<uint32_t> longest(m.FitLeaves, 0);
    for (const MemFragment& a : f) {
        const uint32_t b = (uint32_t)((a.At + a.Length - 1 - (uintptr_t)m.ArenaBase) >> ZMEM_INDEX_BUCKET_SHIFT);
        if (!first[b])
            first[b] = a.At;
        last[b] = a.At;
        if (a.Length > longest[b])
            longest[b] = a.Length;
    }
    for (uint32_t b = 0; b < m.FitBuckets; b++) {
        if (m.Buckets[b].First != first[b] || m.Buckets[b].Last != last[b])
            return ::testing::AssertionFailure() << "bucket " << b << " names the wrong lowest or highest fragment";
        if (!(m.FitBits[m.FitBitStart[0] + b / 32] & (1u << (b % 32))) != !first[b])
            return ::testing::AssertionFailure() << "bucket " << b << " has the wrong bit";
    }
    // A bit above the lowest level is set exactly when its word below is not 0.
    for (uint32_t level = 1, words = m.FitBuckets / 32 + 1; level < m.FitBitLevels; level++) {
        for (uint32_t w = 0; w < words; w++)
            if (!(m.FitBits[m.FitBitStart[level] + w / 32] & (1u << (w % 32))) != !m.FitBits[m.FitBitStart[level - 1] + w])
                return ::testing::AssertionFailure() << "bitmap level " << level << " bit " << w << " is wrong";
        words = words / 32 + 1;
    }
    for (uint32_t b = 0; b < m.FitLeaves; b++)
        if (m.FitTree[m.FitLeaves + b] != longest[b])
            return ::testing::AssertionFailure() << "bucket " << b << " has longest " << m.FitTree[m.FitLeaves + b]
                                                 << " instead of " << longest[b];
    for (uint32_t n = m.FitLeaves - 1; n >= 1; n--)
        if (m.FitTree[n] != std::max(m.FitTree[2 * n], m.FitTree[2 * n + 1]))
            return ::testing::AssertionFailure() << "index node " << n << " is not its children's maximum";
    if (m.FragmentBound != m.FitTree[1])
        return ::testing::AssertionFailure() << "the bound is not the longest fragment";
    return ::testing::AssertionSuccess();
}

#endif
