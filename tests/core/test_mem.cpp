#include <algorithm>
#include <cstring>
#include <string>

#include "zarquel.h"
#include "zmem_walk.h"
#include "zqtest.h"

class Mem : public testing::Test {
protected:
    void SetUp() override
    {
        m.InitHeap(4096 - 8);
        base = m.ArenaBase;
    }
    std::vector<MemFragment> List()
    {
        std::vector<MemFragment> f;
        EXPECT_TRUE(MemFragments(m, &f));
        return f;
    }
    uint8_t* Get(unsigned long n) { return (uint8_t*)m.GetMem(n); }
    CZMem m;
    uint8_t* base;
};

TEST_F(Mem, FreshArena)
{
    EXPECT_EQ(m.HeapSize, 4096u);
    EXPECT_EQ(m.ArenaEnd, base + 4096);
    EXPECT_EQ(m.Top, base);
    EXPECT_EQ(m.FreeList, (uintptr_t)base);
    EXPECT_EQ(m.MultiThread, FALSE);
    EXPECT_EQ((uintptr_t)base % 4, 0u);
}

TEST_F(Mem, SizesRoundUpToFourBytes)
{
    EXPECT_EQ(Get(1), base);
    EXPECT_EQ(Get(4), base + 4);
    EXPECT_EQ(Get(5), base + 8);
    EXPECT_EQ(Get(0), base + 16) << "a zero-byte block takes no space";
    EXPECT_EQ(Get(3), base + 16);
    EXPECT_EQ(m.Top, base + 20);
    EXPECT_TRUE(List().empty());
}

TEST_F(Mem, FreeingAtTopLowersTopAndSwallowsTheFragmentBelow)
{
    uint8_t* a = Get(16);
    uint8_t* b = Get(16);
    uint8_t* c = Get(16);
    m.FreeMem(c, 16);
    EXPECT_EQ(m.Top, c);
    EXPECT_TRUE(List().empty());
    m.FreeMem(a, 16);
    ASSERT_EQ(List().size(), 1u);
    // b ends at top and a's fragment ends where b begins: top drops to a.
    m.FreeMem(b, 16);
    EXPECT_EQ(m.Top, a);
    EXPECT_TRUE(List().empty());
    EXPECT_EQ(m.FreeList, (uintptr_t)a);
}

TEST_F(Mem, NeighboursMergeInEitherOrder)
{
    uint8_t* p[6];
    for (auto& q : p)
        q = Get(12);
    m.FreeMem(p[2], 12);
    m.FreeMem(p[1], 12);   // joins its upper neighbour
    m.FreeMem(p[4], 12);
    m.FreeMem(p[3], 12);   // joins its lower neighbour, then the upper one
    auto f = List();
    ASSERT_EQ(f.size(), 1u);
    EXPECT_EQ(f[0].At, (uintptr_t)p[1]);
    EXPECT_EQ(f[0].Length, 48u);
    EXPECT_TRUE(MemListIsSound(m));

    // The block between two fragments joins all three.
    uint8_t* q[5];
    m.Release(base);
    for (auto& r : q)
        r = Get(8);
    m.FreeMem(q[1], 8);
    m.FreeMem(q[3], 8);
    ASSERT_EQ(List().size(), 2u);
    m.FreeMem(q[2], 8);
    f = List();
    ASSERT_EQ(f.size(), 1u);
    EXPECT_EQ(f[0].At, (uintptr_t)q[1]);
    EXPECT_EQ(f[0].Length, 24u);
}

TEST_F(Mem, FirstFitSplitsAndLeavesFourByteFragments)
{
    uint8_t* a = Get(12);
    uint8_t* keep = Get(4);
    uint8_t* b = Get(40);
    Get(4);
    m.FreeMem(a, 12);
    m.FreeMem(b, 40);
    // 8 from the 12-byte fragment: a 4-byte remainder with bit 0 clear.
    EXPECT_EQ(Get(8), a);
    auto f = List();
    ASSERT_EQ(f.size(), 2u);
    EXPECT_EQ(f[0].At, (uintptr_t)(a + 8));
    EXPECT_EQ(f[0].Length, 4u);
    EXPECT_FALSE(f[0].HasSize);
    EXPECT_EQ(*(uintptr_t*)(a + 8), (uintptr_t)b) << "a bare link word to the next fragment";
    // Too big for the first fragment: taken from the front of the second.
    EXPECT_EQ(Get(16), b);
    f = List();
    ASSERT_EQ(f.size(), 2u);
    EXPECT_EQ(f[1].At, (uintptr_t)(b + 16));
    EXPECT_EQ(f[1].Length, 24u);
    // The 4-byte fragment is taken exactly.
    EXPECT_EQ(Get(4), a + 8);
    EXPECT_EQ(List().size(), 1u);
    EXPECT_EQ(Get(24), b + 16);
    EXPECT_TRUE(List().empty());
    EXPECT_TRUE(MemListIsSound(m));
    (void)keep;
}

TEST_F(Mem, ArenaEndIsReachableButNotPassable)
{
    uint8_t* a = Get(100);
    const unsigned long rest = (unsigned long)(m.ArenaEnd - m.Top);
    EXPECT_EQ(m.GetMem(rest + 1), nullptr);
    EXPECT_EQ(m.GetMemFailed, 1u);
    EXPECT_EQ(m.Top, a + 100) << "a refused request changes nothing";
    EXPECT_EQ(Get(rest), a + 100);
    EXPECT_EQ(m.Top, m.ArenaEnd);
    EXPECT_EQ(m.GetMem(1), nullptr);
    // Sizes whose rounding or end would wrap around 32 bits.
    EXPECT_EQ(m.GetMem(0xFFFFFFFF), nullptr);
    EXPECT_EQ(m.GetMem(0xFFFFFFFD), nullptr);
    m.Release(base);
    EXPECT_EQ(m.GetMem(0x80000000u), nullptr);
    EXPECT_EQ(m.Top, base);
}

TEST_F(Mem, BadFreesChangeNothing)
{
    uint8_t* a = Get(16);
    uint8_t* b = Get(16);
    uint8_t* c = Get(16);
    Get(16);
    m.FreeMem(b, 16);
    EXPECT_EQ(m.BytesInUse, 48u) << "four blocks of 16 handed out, one given back";
    auto before = List();
    uint8_t* top = m.Top;
    std::vector<uint8_t> image(base, m.ArenaEnd);
    auto unchanged = [&](const char* what) {
        EXPECT_EQ(m.Top, top) << what;
        EXPECT_TRUE(std::equal(image.begin(), image.end(), base)) << what;
    };
    EXPECT_EQ(m.FreeMem(a + 2, 8), nullptr); unchanged("misaligned");
    m.FreeMem(a, 0);                        unchanged("size 0");
    m.FreeMem(base - 4, 4);                 unchanged("below the arena");
    m.FreeMem(m.ArenaEnd, 4);               unchanged("at the arena end");
    m.FreeMem(m.ArenaEnd + 4, 4);           unchanged("above the arena end");
    m.FreeMem(a, 0xFFFFFFFE);               unchanged("size overflows");
    m.FreeMem(b, 16);                       unchanged("double free");
    m.FreeMem(b + 4, 4);                    unchanged("inside a fragment");
    m.FreeMem(a, 20);                       unchanged("runs into a fragment");
    m.FreeMem(b + 12, 8);                   unchanged("starts in a fragment");
    m.FreeMem(c, 64);                       unchanged("runs past top");
    m.FreeMem(top, 4);                      unchanged("at top");
    m.FreeMem(top + 64, 4);                 unchanged("above top");
    EXPECT_EQ(m.FreeMemRefused, 12u);
    EXPECT_EQ(m.BytesInUse, 48u) << "refused frees give nothing back";
    EXPECT_EQ(List().size(), before.size());
}

TEST_F(Mem, MarkAndRelease)
{
    Get(40);
    void* mark = m.Mark();
    EXPECT_EQ(mark, m.Top);
    uint8_t* a = Get(12);
    Get(12);
    uint8_t* c = Get(12);
    Get(12);
    m.FreeMem(a, 12);
    m.FreeMem(c, 12);
    EXPECT_EQ(List().size(), 2u);
    EXPECT_EQ(m.BytesInUse, 64u);
    EXPECT_EQ(m.Release(mark), nullptr);
    EXPECT_EQ(m.Top, mark);
    EXPECT_EQ(m.BytesInUse, 40u) << "everything below the mark";
    EXPECT_TRUE(List().empty());
    EXPECT_EQ(Get(4), mark);
    // A mark outside the arena (or misaligned) is not taken.
    uint8_t* top = m.Top;
    m.Release(m.ArenaEnd + 4);
    m.Release(base - 4);
    m.Release(top + 2);
    EXPECT_EQ(m.Top, top);
}

TEST_F(Mem, HeapGoesWithDoneHeapOnce)
{
    EXPECT_EQ(m.DoneHeap(), 1);
    EXPECT_EQ(m.HeapHandle, (HANDLE)NULL);
    EXPECT_EQ(m.HeapSize, 4096u) << "kept: a second InitHeap is refused";
    EXPECT_EQ(m.GetMem(4), nullptr);
    EXPECT_EQ(m.DoneHeap(), 1);
}

TEST_F(Mem, StandardBuildRegistersNothingAndDumpsNoBlocks)
{
    ASSERT_FALSE(CZMem::SurveillanceBuilt());
    Get(100);
    Get(20);
    EXPECT_EQ(m.SurveilBlocks, 0u);
    EXPECT_EQ(m.SurveilBytes, 0u);
    EXPECT_EQ(m.SurveilRecords, 0u);
    m.MemoryInfoDump();
    EXPECT_EQ(ZQ_ReadTextFile("zarquel-mem.txt"),
              "Zarquel V3.0 - Memory State Dump.\n"
              "*NOTE:Some blocks are allocated by the zarquel and doesn't be freed until application ends\n"
              "      These values are valid only running ZARQUEL.DLL with debug*\n"
              "\n"
              "-Heap Size: 4096\n"
              "-Allocated Blocks: 0 \n"
              "-Allocated Bytes: 0 \n"
              "-Memory Surveil Page Tables: 0\n"
              "\n"
              "-Allocated Blocks:\n");
}

struct Hammer {
    CZMem* M;
    unsigned Seed;
    volatile LONG Errors;
};

static DWORD WINAPI HammerThread(void* p)
{
    Hammer* h = (Hammer*)p;
    uint8_t* blocks[64] = {};
    uint32_t sizes[64] = {};
    unsigned s = h->Seed;
    for (int i = 0; i < 20000; i++) {
        s = s * 1103515245u + 12345u;
        int k = (s >> 8) % 64;
        if (blocks[k]) {
            for (uint32_t j = 0; j < sizes[k]; j++)
                if (blocks[k][j] != (uint8_t)k)
                    InterlockedIncrement(&h->Errors);
            h->M->FreeMem(blocks[k], sizes[k]);
            blocks[k] = nullptr;
        } else {
            sizes[k] = 1 + (s >> 16) % 200;
            blocks[k] = (uint8_t*)h->M->GetMem(sizes[k]);
            if (blocks[k])
                memset(blocks[k], k, sizes[k]);
        }
    }
    for (int k = 0; k < 64; k++)
        if (blocks[k])
            h->M->FreeMem(blocks[k], sizes[k]);
    return 0;
}

TEST(MemThreads, TwoThreadsShareTheHeapInMultithreadMode)
{
    CZMem m;
    m.InitHeap(1 << 20);
    m.ActiveMultiThread();
    m.ActiveMultiThread();   // once only
    EXPECT_EQ(m.MultiThread, TRUE);
    Hammer a = {&m, 1, 0}, b = {&m, 2, 0};
    HANDLE t[2] = {CreateThread(NULL, 0, HammerThread, &a, 0, NULL),
                   CreateThread(NULL, 0, HammerThread, &b, 0, NULL)};
    WaitForMultipleObjects(2, t, TRUE, INFINITE);
    CloseHandle(t[0]);
    CloseHandle(t[1]);
    EXPECT_EQ(a.Errors + b.Errors, 0);
    EXPECT_TRUE(MemListIsSound(m));
    // Everything was given back: the whole arena is untouched space again.
    EXPECT_EQ(m.Top, m.ArenaBase);
    m.DoneHeap();
}

TEST(MemCopy, MmxCopyAndFill)
{
    uint8_t src[80], dst[80];
    for (int i = 0; i < 80; i++)
        src[i] = (uint8_t)(i * 7 + 1);
    for (unsigned long n : {0ul, 1ul, 7ul, 8ul, 9ul, 16ul, 63ul}) {
        for (int offset : {0, 1, 3}) {
            memset(dst, 0xEE, sizeof(dst));
            CZMem::MMXMemCopy(src + offset, dst + 5, n);
            EXPECT_EQ(memcmp(dst + 5, src + offset, n), 0) << n;
            for (unsigned long i = 0; i < sizeof(dst); i++) {
                if (i < 5 || i >= 5 + n) {
                    ASSERT_EQ(dst[i], 0xEE) << "copy of " << n << " wrote byte " << i;
                }
            }
        }
        memset(dst, 0x11, sizeof(dst));
        CZMem::MMXMemFill(dst + 3, 0xA5, n);
        for (unsigned long i = 0; i < sizeof(dst); i++)
            ASSERT_EQ(dst[i], (i >= 3 && i < 3 + n) ? 0xA5 : 0x11) << "fill of " << n << " at " << i;
    }
    // The FPU is usable afterwards (the MMX state was cleared).
    volatile double x = 1.5;
    EXPECT_EQ(x * 2.0, 3.0);
}

ZQ_CHILD(mem_init_twice)
{
    CZarquel* z = new CZarquel;
    z->Mem->InitHeap(1024);
    z->Mem->InitHeap(1024);
    ExitProcess(9);
}

ZQ_CHILD(mem_init_after_done)
{
    CZarquel* z = new CZarquel;
    z->Mem->InitHeap(1024);
    z->Mem->DoneHeap();
    z->Mem->InitHeap(1024);
    ExitProcess(9);
}

ZQ_CHILD(mem_too_big)
{
    CZarquel* z = new CZarquel;
    z->Mem->InitHeap(0x7FFFFFF0);
    ExitProcess(9);
}

ZQ_CHILD(mem_wraps)
{
    CZarquel* z = new CZarquel;
    z->Mem->InitHeap(0xFFFFFFFC);
    ExitProcess(9);
}

TEST(MemFatal, InitHeapRefusals)
{
    struct {
        const char* child;
        const char* text;
    } cases[] = {
        {"mem_init_twice", "Sorry I can't init heap two times"},
        {"mem_init_after_done", "Sorry I can't init heap two times"},
        {"mem_too_big", "Sorry I can't alloc Heap!"},
        {"mem_wraps", "Sorry I can't alloc Heap!"},
    };
    for (auto& c : cases) {
        EXPECT_TRUE(ZQ_OneBox(ZQ_RunChild(c.child), 1, c.text, "Zarquel ZMEM")) << c.child;
    }
}
