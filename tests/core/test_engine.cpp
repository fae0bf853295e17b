#include <algorithm>
#include <vector>

#include "zarquel.h"
#include "zqtest.h"

TEST(Engine, CreatesLinksAndRegistersTheMainThread)
{
    CZarquel* z = new CZarquel;
    ASSERT_NE(z->Debug, nullptr);
    ASSERT_NE(z->Mem, nullptr);
    ASSERT_NE(z->Vti, nullptr);
    ASSERT_NE(z->Kbd, nullptr);
    ASSERT_NE(z->Mse, nullptr);
    ASSERT_NE(z->Threads, nullptr);
    EXPECT_EQ(z->Mem->Debug, z->Debug);
    EXPECT_EQ(z->Mem->Threads, z->Threads);
    EXPECT_EQ(z->Vti->Debug, z->Debug);
    EXPECT_EQ(z->Threads->Debug, z->Debug);
    ASSERT_NE(z->Vgs, nullptr);
    ASSERT_NE(z->H3d, nullptr);
    ASSERT_NE(z->Caps, nullptr);
    EXPECT_EQ(z->Vgs->Debug, z->Debug);
    EXPECT_EQ(z->Vgs->Mem, z->Mem);
    EXPECT_EQ(z->Vgs->Kbd, z->Kbd);
    EXPECT_EQ(z->Vgs->Mse, z->Mse);
    EXPECT_EQ(z->Vgs->H3d, z->H3d);
    EXPECT_EQ(z->Vgs->Caps, z->Caps);
    EXPECT_EQ(z->Caps->Vgs, z->Vgs);
    EXPECT_EQ(z->Caps->Debug, z->Debug);
    EXPECT_EQ(z->H3d->Debug, z->Debug);
    EXPECT_EQ(z->H3d->Vgs, z->Vgs);
    EXPECT_EQ(z->H3d->Mem, z->Mem);
    EXPECT_EQ(z->H3d->Xfs, z->Xfs);
    EXPECT_EQ(z->H3d->Mth, z->Mth);
    EXPECT_EQ(z->H3d->Caps, z->Caps);
    EXPECT_EQ(z->Xfs->Debug, z->Debug);
    EXPECT_EQ(z->Mth->Debug, z->Debug);
    EXPECT_EQ(z->Snd->Debug, z->Debug);
    EXPECT_EQ(z->Snd->Xfs, z->Xfs);
    EXPECT_EQ(z->Gfx->H3d, z->H3d);
    EXPECT_EQ(z->Gfx->Mem, z->Mem);
    EXPECT_EQ(z->Gfx->Mth, z->Mth);
    EXPECT_EQ(z->Gfx->O3d, z->O3d);
    EXPECT_EQ(z->O3d->Debug, z->Debug);
    EXPECT_EQ(z->O3d->Xfs, z->Xfs);
    EXPECT_EQ(z->O3d->H3d, z->H3d);
    EXPECT_EQ(z->O3d->Mem, z->Mem);
    EXPECT_EQ(z->O3d->Mth, z->Mth);
    EXPECT_EQ(z->O3d->Caps, z->Caps);
    EXPECT_EQ(z->Fsf->Debug, z->Debug);
    EXPECT_EQ(z->Fsf->Mem, z->Mem);
    EXPECT_EQ(z->Fsf->Xfs, z->Xfs);

    EXPECT_EQ(z->MainThreadId, GetCurrentThreadId());
    EXPECT_EQ(z->MainThreadPseudo, GetCurrentThread());
    // A real handle, not the pseudo-handle: it names this thread from anywhere.
    EXPECT_NE(z->MainThread, GetCurrentThread());
    EXPECT_EQ(GetThreadId(z->MainThread), GetCurrentThreadId());
    const ZTHREADS_THREAD& main = z->Threads->Thread[0];
    EXPECT_EQ(main.Handle, z->MainThread);
    EXPECT_EQ(main.Id, GetCurrentThreadId());
    EXPECT_EQ(main.Running, 1u);
    EXPECT_EQ(main.Routine, nullptr);

    EXPECT_EQ(z->StillAlive(), 1u);
    // StillAlive reports the display's device-lost flag, nothing else.
    z->Vgs->DeviceLost = 1;
    EXPECT_EQ(z->StillAlive(), 2u);
    z->Vgs->DeviceLost = 0;
    EXPECT_EQ(z->StillAlive(), 1u);
    z->DumpState();
    delete z;
}

TEST(Engine, DestructionSkipsMissingServicesAndBalancesCom)
{
    CZarquel* z = new CZarquel;
    CZKbd* kbd = z->Kbd;
    z->Kbd = nullptr;
    delete z;
    delete kbd;
    // CoUninitialize ran once per CoInitialize: a fresh initialisation on this
    // thread is the first again.
    EXPECT_EQ(CoInitialize(NULL), S_OK);
    CoUninitialize();
}

ZQ_CHILD(fail_debug)
{
    CZarquel::TestFailCreation = 0;
    new CZarquel;
}

ZQ_CHILD(fail_threads)
{
    CZarquel::TestFailCreation = 17;
    new CZarquel;
}

ZQ_CHILD(fail_display)
{
    CZarquel::TestFailCreation = 15;
    new CZarquel;
}

ZQ_CHILD(fail_fonts)
{
    CZarquel::TestFailCreation = 20;    // the last one created
    new CZarquel;
}

TEST(Engine, MissingDebugEndsWithoutABox)
{
    ZQChild c = ZQ_RunChild("fail_debug");
    EXPECT_FALSE(c.TimedOut);
    EXPECT_EQ(c.ExitCode, 1u);
    EXPECT_TRUE(c.Boxes.empty());
}

TEST(Engine, MissingServiceShowsCriticalError)
{
    EXPECT_TRUE(ZQ_OneBox(ZQ_RunChild("fail_threads"), 1, "Critical Error Initializing Zarquel", "Zarquel V3.0"));
    EXPECT_TRUE(ZQ_OneBox(ZQ_RunChild("fail_display"), 1, "Critical Error Initializing Zarquel", "Zarquel V3.0"));
    EXPECT_TRUE(ZQ_OneBox(ZQ_RunChild("fail_fonts"), 1, "Critical Error Initializing Zarquel", "Zarquel V3.0"));
}

TEST(Engine, ApplicationServicesAreCreatedAndLinked)
{
    CZarquel* z = new CZarquel;
    ASSERT_TRUE(z->W3d && z->Spr && z->Octree && z->Parts && z->Fnt);
    EXPECT_TRUE(z->W3d->Mem == z->Mem && z->W3d->O3d == z->O3d && z->W3d->H3d == z->H3d && z->W3d->Xfs == z->Xfs);
    EXPECT_TRUE(z->Spr->H3d == z->H3d && z->Spr->Mem == z->Mem && z->Spr->Xfs == z->Xfs);
    EXPECT_TRUE(z->Octree->Mem == z->Mem && z->Octree->H3d == z->H3d && z->Octree->Mth == z->Mth &&
                z->Octree->O3d == z->O3d && z->Octree->Debug == z->Debug);
    EXPECT_TRUE(z->Parts->H3d == z->H3d && z->Parts->Mem == z->Mem && z->Parts->Mth == z->Mth);
    EXPECT_TRUE(z->Fnt->Gfx == z->Gfx && z->Fnt->Debug == z->Debug && z->Fnt->Mem == z->Mem && z->Fnt->Xfs == z->Xfs);
    delete z;
}

// Creation and destruction order, by creation position (0 = CZDebug). A
// service not built yet is simply absent from the trace; one added later
// needs no change here as long as it takes its position.
static std::vector<int> g_created, g_destroyed;

static void Trace(int position, bool created)
{
    (created ? g_created : g_destroyed).push_back(position);
}

TEST(Engine, CreatesAndDestroysInOrder)
{
    // CZDebug, CZMem, CZXfs, CZVti, CZMth, CZCaps, CZH3d, CZGfx, CZO3d, CZKbd,
    // CZMse, CZFsf, CZW3d, CZSpr, CZSnd, CZVgs, CZOctree, CZThreads,
    // CZOctreeAABB, CZParts, CZFnt.
    const int creation[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20};
    // CZFnt, CZParts, CZOctreeAABB, CZOctree, CZSnd, CZSpr, CZW3d, CZFsf,
    // CZMse, CZKbd, CZO3d, CZGfx, CZH3d, CZVgs, CZMth, CZVti, CZXfs, CZMem,
    // CZCaps, CZDebug, then the thread manager last.
    const int destruction[] = {20, 19, 18, 16, 14, 13, 12, 11, 10, 9, 8, 7, 6, 15, 4, 3, 2, 1, 5, 0, 17};
    g_created.clear();
    g_destroyed.clear();
    CZarquel::TestTrace = Trace;
    delete new CZarquel;
    CZarquel::TestTrace = nullptr;

    std::vector<int> built(g_created);
    std::sort(built.begin(), built.end());
    ASSERT_GE(built.size(), 15u);
    std::vector<int> expectCreated, expectDestroyed;
    for (int p : creation)
        if (std::binary_search(built.begin(), built.end(), p))
            expectCreated.push_back(p);
    for (int p : destruction)
        if (std::binary_search(built.begin(), built.end(), p))
            expectDestroyed.push_back(p);
    EXPECT_EQ(g_created, expectCreated);
    EXPECT_EQ(g_destroyed, expectDestroyed);
}
