#include "zarquel.h"

#include <cpuid.h>
#include <new>
#include <objbase.h>

// Rights of the main thread's real handle (THREAD_ALL_ACCESS of the
// pre-Vista headers, which is what the engine always asked for).
static const DWORD ZQ_MAIN_THREAD_ACCESS = 0x1F03FF;

int CZarquel::TestFailCreation = -1;
void (*CZarquel::TestTrace)(int, bool) = nullptr;

// Creates the service at `position` of the creation order.
template <class T> static T* CZS_Create(int position)
{
    if (position == CZarquel::TestFailCreation)
        return nullptr;
    T* service = new (std::nothrow) T;
    if (service && CZarquel::TestTrace)
        CZarquel::TestTrace(position, true);
    return service;
}

// Deletes the service at `position` of the creation order, if it exists.
template <class T> static void CZS_Destroy(T* service, int position)
{
    if (!service)
        return;
    if (CZarquel::TestTrace)
        CZarquel::TestTrace(position, false);
    delete service;
}

CZarquel::CZarquel()
{
    Debug = nullptr;    // the critical-error path reads it before step 4
    CZS_InitSystem();
    CZS_DetectSystemFeatures();

    Mem = nullptr; Xfs = nullptr; Vti = nullptr; Mth = nullptr; H3d = nullptr;
    Vgs = nullptr; Gfx = nullptr; Fsf = nullptr; O3d = nullptr; Kbd = nullptr;
    Mse = nullptr; W3d = nullptr; Spr = nullptr; Snd = nullptr; Octree = nullptr;
    OctreeAABB = nullptr; Debug = nullptr; Caps = nullptr; Threads = nullptr;
    Parts = nullptr; Fnt = nullptr;

    // Creation order; the position numbers are fixed by it.
    Debug = CZS_Create<CZDebug>(0);
    if (!Debug)
        CZS_CriticalError();
    Mem = CZS_Create<CZMem>(1);
    Xfs = CZS_Create<CZXfs>(2);
    Vti = CZS_Create<CZVti>(3);
    Mth = CZS_Create<CZMth>(4);
    Caps = CZS_Create<CZCaps>(5);
    H3d = CZS_Create<CZH3d>(6);
    Gfx = CZS_Create<CZGfx>(7);
    O3d = CZS_Create<CZO3d>(8);
    Kbd = CZS_Create<CZKbd>(9);
    Mse = CZS_Create<CZMse>(10);
    Fsf = CZS_Create<CZFsf>(11);
    W3d = CZS_Create<CZW3d>(12);
    Spr = CZS_Create<CZSpr>(13);
    Snd = CZS_Create<CZSnd>(14);
    Vgs = CZS_Create<CZVgs>(15);
    Octree = CZS_Create<CZOctree>(16);
    Threads = CZS_Create<CZThreads>(17);
    OctreeAABB = CZS_Create<CZOctreeAABB>(18);
    Parts = CZS_Create<CZParts>(19);
    Fnt = CZS_Create<CZFnt>(20);

    if (!Mem || !Xfs || !Vti || !Mth || !Caps || !H3d || !Gfx || !O3d || !Kbd || !Mse || !Fsf || !W3d ||
        !Spr || !Snd || !Vgs || !Octree || !Threads || !OctreeAABB || !Parts || !Fnt)
        CZS_CriticalError();

    Threads->Debug = Debug;
    Threads->InsertMainThread(MainThread, MainThreadId);

    // Links, in this order. CZKbd and CZMse get none: the window procedure
    // feeds them.
    Xfs->Debug = Debug;
    Mem->Debug = Debug;
    Mem->Threads = Threads;
    Vti->Debug = Debug;
    Mth->Debug = Debug;
    Vgs->Debug = Debug;
    Vgs->Mem = Mem;
    Vgs->Kbd = Kbd;
    Vgs->Mse = Mse;
    Vgs->H3d = H3d;
    Vgs->Caps = Caps;
    Snd->Debug = Debug;
    Snd->Xfs = Xfs;
    Caps->Debug = Debug;
    Caps->Vgs = Vgs;
    H3d->Debug = Debug;
    H3d->Vgs = Vgs;
    H3d->Mem = Mem;
    H3d->Xfs = Xfs;
    H3d->Mth = Mth;
    H3d->Caps = Caps;
    Octree->Mem = Mem;
    Octree->H3d = H3d;
    Octree->Mth = Mth;
    Octree->O3d = O3d;
    Octree->Debug = Debug;
    OctreeAABB->Mem = Mem;
    OctreeAABB->H3d = H3d;
    OctreeAABB->Mth = Mth;
    OctreeAABB->O3d = O3d;
    OctreeAABB->Debug = Debug;
    OctreeAABB->Xfs = Xfs;
    Gfx->H3d = H3d;
    Gfx->Mem = Mem;
    Gfx->Mth = Mth;
    Gfx->O3d = O3d;
    O3d->Debug = Debug;
    O3d->Xfs = Xfs;
    O3d->H3d = H3d;
    O3d->Mem = Mem;
    O3d->Mth = Mth;
    O3d->Caps = Caps;
    Fsf->Debug = Debug;
    Fsf->Mem = Mem;
    Fsf->Xfs = Xfs;
    // W3d, Spr and Parts also get the diagnostics, for their refusals.
    W3d->Mem = Mem;
    W3d->O3d = O3d;
    W3d->H3d = H3d;
    W3d->Xfs = Xfs;
    W3d->Debug = Debug;
    Spr->H3d = H3d;
    Spr->Mem = Mem;
    Spr->Xfs = Xfs;
    Spr->Debug = Debug;
    Parts->H3d = H3d;
    Parts->Mem = Mem;
    Parts->Mth = Mth;
    Parts->Debug = Debug;
    Fnt->Gfx = Gfx;
    Fnt->Debug = Debug;
    Fnt->Mem = Mem;
    Fnt->Xfs = Xfs;
}

CZarquel::~CZarquel()
{
    CZS_Destroy(Fnt, 20);
    CZS_Destroy(Parts, 19);
    CZS_Destroy(OctreeAABB, 18);
    CZS_Destroy(Octree, 16);
    CZS_Destroy(Snd, 14);
    CZS_Destroy(Spr, 13);
    CZS_Destroy(W3d, 12);
    CZS_Destroy(Fsf, 11);
    CZS_Destroy(Mse, 10);
    CZS_Destroy(Kbd, 9);
    CZS_Destroy(O3d, 8);
    CZS_Destroy(Gfx, 7);
    CZS_Destroy(H3d, 6);
    CZS_Destroy(Vgs, 15);
    CZS_Destroy(Mth, 4);
    CZS_Destroy(Vti, 3);
    CZS_Destroy(Xfs, 2);
    CZS_Destroy(Mem, 1);
    CZS_Destroy(Caps, 5);
    CZS_Destroy(Debug, 0);
    // Last: the memory watchdog of the debug build may still use it until
    // the heap is gone.
    CZS_Destroy(Threads, 17);
    CZS_DeinitSystem();
}

unsigned long CZarquel::StillAlive()
{
    return Vgs && Vgs->DeviceLost ? 2 : 1;
}

void CZarquel::DumpState() {}

void CZarquel::CZS_InitSystem()
{
    CoInitialize(NULL);
    HANDLE process = GetCurrentProcess();
    MainThreadPseudo = GetCurrentThread();
    MainThreadId = GetCurrentThreadId();
    MainThread = NULL;
    BOOL ok = DuplicateHandle(process, MainThreadPseudo, process, &MainThread,
                              ZQ_MAIN_THREAD_ACCESS, FALSE, 0);
    CloseHandle(process);
    if (!ok)
        CZS_CriticalError();
}

void CZarquel::CZS_DetectSystemFeatures()
{
    // Probed for completeness; nothing reads the result.
    unsigned int a, b, c, d;
    __get_cpuid(1, &a, &b, &c, &d);
}

void CZarquel::CZS_CriticalError()
{
    if (Debug)
        Debug->ShowMessageAndExit("Critical Error Initializing Zarquel", "Zarquel V3.0");
    ExitProcess(1);
}

void CZarquel::CZS_DeinitSystem()
{
    if (MainThread)
        CloseHandle(MainThread);
    MainThread = NULL;
    CoUninitialize();
}
