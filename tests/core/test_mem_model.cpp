// The allocator against a plain reference model: the same first-fit,
// merging, top and mark/release rules written with ordinary containers.
// After every operation the two must agree on every address, the free list
// must keep its invariants, and live blocks must be disjoint, inside the
// arena and untouched.
#include <cstring>
#include <map>
#include <random>

#include "zmem_walk.h"
#include "zqtest.h"

namespace {

struct Model {
    uintptr_t Base = 0, End = 0, Top = 0;
    std::map<uintptr_t, uint32_t> Free;   // start -> length

    uintptr_t Get(uint32_t n)
    {
        n = (n + 3) & ~3u;
        for (auto it = Free.begin(); it != Free.end(); ++it) {
            if (it->second < n)
                continue;
            const uintptr_t at = it->first;
            const uint32_t rest = it->second - n;
            Free.erase(it);
            if (rest)
                Free[at + n] = rest;
            return at;
        }
        if (n > End - Top)
            return 0;
        Top += n;
        return Top - n;
    }

    // Mirrors the allocator's acceptance rules for a region.
    bool Release(uintptr_t p, uint32_t n)
    {
        if ((p & 3) || p < Base || p > End || n == 0 || p == End || n > 0xFFFFFFFCu)
            return false;
        n = (n + 3) & ~3u;
        if (p >= Top || n > Top - p)
            return false;
        uintptr_t start = p, end = p + n;
        auto next = Free.lower_bound(start);
        if (next != Free.end() && next->first < end)
            return false;
        if (next != Free.begin()) {
            auto prev = std::prev(next);
            if (prev->first + prev->second > start)
                return false;
            if (prev->first + prev->second == start) {
                start = prev->first;
                Free.erase(prev);
            }
        }
        if (next != Free.end() && next->first == end) {
            end += next->second;
            Free.erase(next);
        }
        if (end == Top)
            Top = start;
        else
            Free[start] = (uint32_t)(end - start);
        return true;
    }
};

struct Live {
    uint32_t Size;
    uint8_t Fill;
};

} // namespace

TEST(MemModel, RandomOperationsMatchTheReferenceAndKeepTheArenaSound)
{
    const uint32_t arena = 256 * 1024;
    CZMem m;
    m.InitHeap(arena - 8);
    Model ref;
    ref.Base = ref.Top = (uintptr_t)m.ArenaBase;
    ref.End = (uintptr_t)m.ArenaEnd;

    std::map<uintptr_t, Live> live;
    std::vector<uintptr_t> marks;
    std::mt19937 rng(20261208);
    std::vector<MemFragment> frags;
    unsigned gets = 0, frees = 0, refused = 0, nulls = 0, releases = 0, resets = 0, nullRun = 0;

    auto pickLive = [&]() {
        auto it = live.begin();
        std::advance(it, rng() % live.size());
        return it;
    };

    const int steps = 120000;
    for (int step = 0; step < steps; step++) {
        // Allocation leads while the arena is under two thirds full, frees
        // lead above it, so both the full and the fragmented states recur.
        const bool crowded = (ref.Top - ref.Base) > arena * 2 / 3;
        const unsigned op = rng() % 1000;
        if (op < (crowded ? 330u : 560u) || live.empty()) {
            // Mostly small blocks, sometimes large ones that reach the arena end.
            uint32_t n = (rng() % 8 == 0) ? 1 + rng() % 8192 : 1 + rng() % 64;
            const uintptr_t want = ref.Get(n);
            uint8_t* got = (uint8_t*)m.GetMem(n);
            ASSERT_EQ((uintptr_t)got, want) << "step " << step << " GetMem(" << n << ")";
            if (got) {
                const uint8_t fill = (uint8_t)rng();
                memset(got, fill, n);
                live[(uintptr_t)got] = {n, fill};
                gets++;
                nullRun = 0;
            } else {
                nulls++;
                // Releases leak the fragments below their mark; when the
                // arena has silted up, start again from its base.
                if (++nullRun > 20) {
                    m.Release(m.ArenaBase);
                    ref.Top = ref.Base;
                    ref.Free.clear();
                    live.clear();
                    marks.clear();
                    resets++;
                }
            }
        } else if (op < 900) {
            // a correct free of a live block
            auto it = pickLive();
            const uint8_t* p = (const uint8_t*)it->first;
            for (uint32_t i = 0; i < it->second.Size; i++)
                ASSERT_EQ(p[i], it->second.Fill) << "step " << step << ": a live block was overwritten";
            ASSERT_TRUE(ref.Release(it->first, it->second.Size));
            m.FreeMem((void*)it->first, it->second.Size);
            live.erase(it);
            frees++;
        } else if (op < 980) {
            // Bad frees: double free, misaligned, overlapping, past top, outside.
            uintptr_t p;
            uint32_t n;
            switch (rng() % 5) {
            case 0: {
                auto it = pickLive();
                p = it->first + 4 * (rng() % 4) + (rng() % 2 ? 0 : 2);
                n = it->second.Size;
                break;
            }
            case 1:
                if (ref.Free.empty())
                    continue;
                p = ref.Free.begin()->first;
                n = 4;
                break;
            case 2:
                p = ref.Top - 4 * (rng() % 3);
                n = 16 + 4 * (rng() % 8);
                break;
            case 3:
                p = ref.Base + 4 * (rng() % (arena / 4));
                n = 4 * (1 + rng() % 32);
                break;
            default:
                p = ref.End + 4 * (rng() % 8);
                n = 4;
                break;
            }
            const uint32_t before = m.FreeMemRefused;
            const bool accepted = ref.Release(p, n);
            m.FreeMem((void*)p, n);
            if (accepted) {
                // A region the allocator cannot tell from a real block (it
                // lies wholly in used space): whatever live block it covered
                // is gone now.
                const uintptr_t end = p + ((n + 3) & ~3u);
                for (auto it = live.begin(); it != live.end();)
                    if (it->first < end && p < it->first + ((it->second.Size + 3) & ~3u))
                        it = live.erase(it);
                    else
                        ++it;
            } else {
                ASSERT_EQ(m.FreeMemRefused, before + 1) << "step " << step << " bad FreeMem was taken";
                refused++;
            }
        } else if (op < 990 || marks.empty()) {
            marks.push_back((uintptr_t)m.Mark());
            ASSERT_EQ(marks.back(), ref.Top);
        } else {
            const uintptr_t mark = marks.back();
            marks.pop_back();
            m.Release((void*)mark);
            ref.Top = mark;
            ref.Free.clear();
            for (auto it = live.begin(); it != live.end();)
                if (it->first + it->second.Size > mark)
                    it = live.erase(it);
                else
                    ++it;
            // Marks above the new top mean nothing any more.
            while (!marks.empty() && marks.back() > mark)
                marks.pop_back();
            releases++;
        }

        // The allocator's state is exactly the model's.
        ASSERT_EQ((uintptr_t)m.Top, ref.Top) << "step " << step;
        ASSERT_TRUE(MemListIsSound(m)) << "step " << step;
        ASSERT_TRUE(MemFragments(m, &frags));
        ASSERT_EQ(frags.size(), ref.Free.size()) << "step " << step;
        auto r = ref.Free.begin();
        for (size_t i = 0; i < frags.size(); i++, ++r) {
            ASSERT_EQ(frags[i].At, r->first) << "step " << step << " fragment " << i;
            ASSERT_EQ(frags[i].Length, r->second) << "step " << step << " fragment " << i;
        }
        // Live blocks: inside [base, top), disjoint from each other and from
        // every fragment (a merge of two sorted sequences).
        size_t f = 0;
        uintptr_t lastEnd = ref.Base;
        for (auto& [at, b] : live) {
            const uintptr_t end = at + ((b.Size + 3) & ~3u);
            ASSERT_GE(at, lastEnd) << "step " << step << ": live blocks overlap";
            ASSERT_LE(end, ref.Top) << "step " << step << ": live block above top";
            while (f < frags.size() && frags[f].At + frags[f].Length <= at)
                f++;
            ASSERT_TRUE(f == frags.size() || frags[f].At >= end)
                << "step " << step << ": a live block overlaps a free fragment";
            lastEnd = end;
        }
    }
    printf("model test: %u allocations, %u frees, %u refused bad frees, %u arena-full nulls, %u releases, "
           "%u resets\n", gets, frees, refused, nulls, releases, resets);
    EXPECT_GT(nulls, 0u) << "the arena end was never reached";
    EXPECT_GT(refused, 1000u);
}
