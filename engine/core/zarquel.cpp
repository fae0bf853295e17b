#include "zarquel.h"

#include <cpuid.h>
#include <new>
#include <objbase.h>

// Rights of the main thread's real handle (THREAD_ALL_ACCESS of the
// pre-Vista headers, which is what the engine always asked for).
static const DWORD ZQ_MAIN_THREAD_ACCESS = 0x1F03FF;

int CZarquel::TestFailCreation = -1;

// Creates the service at `position` of the creation order.
template <class T> static T* CZS_Create(int position)
{
    if (position == CZarquel::TestFailCreation)
        return nullptr;
    return new (std::nothrow) T;
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
    // 12 CZW3d
    // 13 CZSpr
    Snd = CZS_Create<CZSnd>(14);
    Vgs = CZS_Create<CZVgs>(15);
    // 16 CZOctree
    Threads = CZS_Create<CZThreads>(17);
    OctreeAABB = CZS_Create<CZOctreeAABB>(18);
    // 19 CZParts
    // 20 CZFnt

    if (!Mem || !Xfs || !Vti || !Mth || !Caps || !H3d || !Gfx || !O3d || !Kbd || !Mse || !Fsf || !Vgs ||
        !Threads || !OctreeAABB || !Snd)
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
}

CZarquel::~CZarquel()
{
    delete OctreeAABB;
    delete Snd;
    delete Fsf;
    delete Mse;
    delete Kbd;
    delete O3d;
    delete Gfx;
    delete H3d;
    delete Vgs;
    delete Mth;
    delete Vti;
    delete Xfs;
    delete Mem;
    delete Caps;
    delete Debug;
    // Last: the memory watchdog of the debug build may still use it until
    // the heap is gone.
    delete Threads;
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
