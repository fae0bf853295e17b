// CZarquel: the engine object. Creating it creates and links one object of
// every engine service; the application reaches them through its members.
#ifndef ZARQUEL_ZARQUEL_H
#define ZARQUEL_ZARQUEL_H

#include <windows.h>

#include "zapi.h"
#include "zcaps.h"
#include "zdebug.h"
#include "zfnt.h"
#include "zfsf.h"
#include "zgfx.h"
#include "zh3d.h"
#include "zkbd.h"
#include "zmem.h"
#include "zmse.h"
#include "zmth.h"
#include "zo3d.h"
#include "zoctaabb.h"
#include "zoctree.h"
#include "zparts.h"
#include "zsnd.h"
#include "zspr.h"
#include "zthreads.h"
#include "zvgs.h"
#include "zvti.h"
#include "zw3d.h"
#include "zxfs.h"

class CZXfs;
class CZMth;
class CZH3d;
class CZVgs;
class CZGfx;
class CZFsf;
class CZO3d;
class CZW3d;
class CZSpr;
class CZSnd;
class CZOctree;
class CZOctreeAABB;
class CZCaps;
class CZParts;
class CZFnt;

class ZQAPI CZarquel {
public:
    CZarquel();
    ~CZarquel();

    // 2 when the display found its device lost or reset during the last
    // RenderScene, 1 otherwise; never 0.
    unsigned long StillAlive();
    void DumpState();

    CZMem* Mem;
    CZXfs* Xfs;
    CZVti* Vti;
    CZMth* Mth;
    CZH3d* H3d;
    CZVgs* Vgs;
    CZGfx* Gfx;
    CZFsf* Fsf;
    CZO3d* O3d;
    CZKbd* Kbd;
    CZMse* Mse;
    CZW3d* W3d;
    CZSpr* Spr;
    CZSnd* Snd;
    CZOctree* Octree;
    CZOctreeAABB* OctreeAABB;
    CZDebug* Debug;
    CZCaps* Caps;
    CZThreads* Threads;
    CZParts* Parts;
    CZFnt* Fnt;

    HANDLE MainThreadPseudo;   // GetCurrentThread() of the constructing thread
    HANDLE MainThread;         // real handle duplicated from it; closed by the destructor
    unsigned long MainThreadId;

    // Test hook: when >= 0, the service at that position of the creation
    // order (0 = CZDebug) is treated as if `new` had failed. -1 in normal use.
    static int TestFailCreation;
    // Test hook: when set, called with a service's creation position as the
    // service is created (created = true) and just before it is deleted.
    static void (*TestTrace)(int position, bool created);

private:
    void CZS_InitSystem();
    void CZS_DetectSystemFeatures();
    [[noreturn]] void CZS_CriticalError();
    void CZS_DeinitSystem();
};

#endif
