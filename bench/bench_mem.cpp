// Mixed allocate/free workload on the engine heap against the Win32 heap and
// the C runtime, same operation sequence for all, in one run.
// "--quick" (the test suite's smoke run) cuts the work to a token amount.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "bench_clock.h"
#include "zarquel.h"

namespace {

struct Op {
    uint32_t Slot;
    uint32_t Size;   // 0 = free the slot
};

// A steady state around `slots` live blocks: mostly small sizes, a few large
// ones, frees in random order.
std::vector<Op> Workload(uint32_t slots, uint32_t count)
{
    std::vector<Op> ops;
    ops.reserve(count);
    std::vector<uint32_t> live(slots, 0);
    uint32_t s = 12345;
    auto rnd = [&]() { s = s * 1664525u + 1013904223u; return s >> 8; };
    for (uint32_t i = 0; i < count; i++) {
        uint32_t slot = rnd() % slots;
        if (live[slot]) {
            ops.push_back({slot, 0});
            live[slot] = 0;
        } else {
            uint32_t size = rnd() % 16 == 0 ? 1024 + rnd() % 16384 : 8 + rnd() % 248;
            ops.push_back({slot, size});
            live[slot] = size;
        }
    }
    for (uint32_t slot = 0; slot < slots; slot++)
        if (live[slot])
            ops.push_back({slot, 0});
    return ops;
}

// Operations timed together. A run keeps each chunk's time; every round
// repeats the same operations from the same state, so the fastest time of
// each chunk over the rounds is that chunk's cost without the time slices
// other processes took from it (the machine is shared).
const size_t CHUNK_OPS = 1024;

// Best chunk times over the rounds of one allocator on one pattern.
struct Timing {
    std::vector<double> Best;
    void Keep(const std::vector<double>& t)
    {
        if (Best.empty())
            Best.assign(t.size(), 1e30);
        for (size_t i = 0; i < t.size(); i++)
            Best[i] = t[i] < Best[i] ? t[i] : Best[i];
    }
    double NsPerOp(size_t ops) const
    {
        double sum = 0;
        for (double t : Best)
            sum += t;
        return sum * 1e9 / (double)ops;
    }
};

template <class Alloc, class Free>
void Run(const std::vector<Op>& ops, uint32_t slots, Timing* timing, Alloc alloc, Free release)
{
    std::vector<void*> ptr(slots, nullptr);
    std::vector<uint32_t> size(slots, 0);
    std::vector<double> chunks;
    chunks.reserve(ops.size() / CHUNK_OPS + 1);
    for (size_t at = 0; at < ops.size(); at += CHUNK_OPS) {
        const size_t end = at + CHUNK_OPS < ops.size() ? at + CHUNK_OPS : ops.size();
        const double t0 = Now();
        for (size_t i = at; i < end; i++) {
            const Op& op = ops[i];
            if (op.Size) {
                void* p = alloc(op.Size);
                if (p)
                    *(volatile uint8_t*)p = 1;   // touch it, as a caller would
                ptr[op.Slot] = p;
                size[op.Slot] = op.Size;
            } else if (ptr[op.Slot]) {
                release(ptr[op.Slot], size[op.Slot]);
                ptr[op.Slot] = nullptr;
            }
        }
        chunks.push_back(Now() - t0);
    }
    timing->Keep(chunks);
}

// Load-time pattern: `slots` blocks allocated, then freed newest first, over
// and over (what a level load and unload does).
std::vector<Op> LoadUnload(uint32_t slots, uint32_t rounds)
{
    std::vector<Op> ops;
    ops.reserve((size_t)slots * rounds * 2);
    uint32_t s = 777;
    for (uint32_t r = 0; r < rounds; r++) {
        for (uint32_t i = 0; i < slots; i++) {
            s = s * 1664525u + 1013904223u;
            ops.push_back({i, 16 + (s >> 8) % 4096});
        }
        for (uint32_t i = slots; i-- > 0;)
            ops.push_back({i, 0});
    }
    return ops;
}

} // namespace

int main(int argc, char** argv)
{
    const bool quick = argc > 1 && strcmp(argv[1], "--quick") == 0;
    const uint32_t scale = quick ? 100 : 1;
    // Each allocator runs every pattern this many times, interleaved with
    // the others; the best time of each chunk counts (see CHUNK_OPS), which
    // also keeps the first touch of fresh pages out of the figures.
    const int rounds = quick ? 1 : 5;
    CZarquel* engine = new CZarquel;
    CZMem* mem = engine->Mem;
    mem->InitHeap(256u << 20);
    // The same allocator with the heap lock switched on (there is no way
    // back from multithread mode, so it is a manager of its own).
    CZMem* locked = new CZMem;
    locked->InitHeap(256u << 20);
    locked->ActiveMultiThread();
    void* const memMark = mem->Mark();
    void* const lockedMark = locked->Mark();

    printf("bench_mem: mixed GetMem/FreeMem workload (ns per operation, best of %d rounds, lower is better)\n", rounds);
    printf("%-12s %6s %8s %10s %10s %10s %10s %10s\n", "pattern", "live", "ops", "CZMem", "CZMem+lock", "HeapPriv",
           "HeapProc", "malloc");
    HANDLE priv = HeapCreate(HEAP_NO_SERIALIZE, 0, 0);
    HANDLE proc = GetProcessHeap();
    struct Case {
        const char* Name;
        uint32_t Slots;
        std::vector<Op> Ops;
    } cases[] = {
        {"random", 256, Workload(256, 1000000 / scale)},
        {"random", 1024, Workload(1024, 500000 / scale)},
        {"random", 4096, Workload(4096, 200000 / scale)},
        {"random", 16384, Workload(16384, 200000 / scale)},
        {"load/unload", 4096, LoadUnload(4096, 60 / (scale > 1 ? 30 : 1))},
    };
    for (Case& c : cases) {
        const std::vector<Op>& ops = c.Ops;
        const uint32_t slots = c.Slots;
        Timing zmemT, lockedT, privT, procT, crtT;
        for (int r = 0; r < rounds; r++) {
            Run(ops, slots, &zmemT, [&](uint32_t n) { return mem->GetMem(n); },
                [&](void* p, uint32_t n) { mem->FreeMem(p, n); });
            Run(ops, slots, &lockedT, [&](uint32_t n) { return locked->GetMem(n); },
                [&](void* p, uint32_t n) { locked->FreeMem(p, n); });
            Run(ops, slots, &privT, [&](uint32_t n) { return HeapAlloc(priv, HEAP_NO_SERIALIZE, n); },
                [&](void* p, uint32_t) { HeapFree(priv, HEAP_NO_SERIALIZE, p); });
            Run(ops, slots, &procT, [&](uint32_t n) { return HeapAlloc(proc, 0, n); },
                [&](void* p, uint32_t) { HeapFree(proc, 0, p); });
            Run(ops, slots, &crtT, [&](uint32_t n) { return malloc(n); }, [&](void* p, uint32_t) { free(p); });
            // Every block is freed by now; the release only makes sure.
            mem->Release(memMark);
            locked->Release(lockedMark);
        }
        const double zmem = zmemT.NsPerOp(ops.size()), zmemLocked = lockedT.NsPerOp(ops.size());
        const double heapPriv = privT.NsPerOp(ops.size()), heapProc = procT.NsPerOp(ops.size());
        const double crt = crtT.NsPerOp(ops.size());
        printf("%-12s %6u %8zu %10.1f %10.1f %10.1f %10.1f %10.1f\n", c.Name, slots, ops.size(), zmem, zmemLocked,
               heapPriv, heapProc, crt);
        printf("    ratios, time / CZMem time: CZMem+lock %.2f, HeapAlloc private %.2f, HeapAlloc process %.2f, "
               "malloc %.2f\n",
               zmemLocked / zmem, heapPriv / zmem, heapProc / zmem, crt / zmem);
    }
    HeapDestroy(priv);
    delete locked;
    delete engine;
    return 0;
}
