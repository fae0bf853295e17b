#include <cstring>
#include <string>

#include "zarquel.h"
#include "zqtest.h"

static const DWORD LAUNCHER_END_MS = 200;

struct Spin {
    volatile LONG Count;
    volatile LONG Stop;
    volatile DWORD Id;
};

static void SpinRoutine(void* p)
{
    Spin* s = (Spin*)p;
    s->Id = GetCurrentThreadId();
    while (!s->Stop) {
        InterlockedIncrement(&s->Count);
        Sleep(1);
    }
}

static void StoreArgument(void* p)
{
    *(volatile DWORD*)p = 0xC0FFEE;
}

class Threads : public testing::Test {
protected:
    void SetUp() override { z = new CZarquel; t = z->Threads; }
    void TearDown() override { delete z; }
    CZarquel* z;
    CZThreads* t;
};

TEST_F(Threads, StartedRoutineGetsItsArgumentAndItsEntryIsFreedAfterwards)
{
    volatile DWORD value = 0;
    unsigned long i = t->CreateThread((void*)StoreArgument, (void*)&value);
    EXPECT_GE(i, 1u);
    EXPECT_EQ(t->Thread[i].Routine, (void*)StoreArgument);
    Sleep(LAUNCHER_END_MS + 300);
    EXPECT_EQ(value, 0xC0FFEEu);
    EXPECT_EQ(t->Thread[i].Handle, (HANDLE)NULL);
    EXPECT_EQ(t->Thread[i].Id, 0u);
    EXPECT_EQ(t->Thread[i].Running, 0u);
    // The freed entry is the first to be handed out again.
    Spin s = {};
    EXPECT_EQ(t->CreateThread((void*)SpinRoutine, &s), i);
    s.Stop = 1;
    Sleep(LAUNCHER_END_MS + 300);
}

TEST_F(Threads, DumpListsTheMainThreadAndLiveThreadsOnly)
{
    Spin s = {};
    unsigned long i = t->CreateThread((void*)SpinRoutine, &s);
    while (!s.Id)
        Sleep(1);
    t->DumpThreads();
    std::string dump = ZQ_ReadTextFile("zarquel-Threads.txt");
    char line[200];
    snprintf(line, sizeof(line), "-Thread: 0 ThreadID: %lx ThreadHandle: %lx Started at: (Main Thread)\n",
             (unsigned long)GetCurrentThreadId(), (unsigned long)(uintptr_t)z->MainThread);
    EXPECT_EQ(dump.find(std::string("Zarquel V3.0 - Threads State Dump.\n"
                                     "*NOTE: These values are valid only running ZARQUEL.DLL with debug*\n\n") + line),
              0u)
        << dump;
    snprintf(line, sizeof(line), "-Thread: %lu ThreadID: %lx ThreadHandle: %lx Started at: %lx\n", i,
             (unsigned long)s.Id, (unsigned long)(uintptr_t)t->Thread[i].Handle,
             (unsigned long)(uintptr_t)SpinRoutine);
    EXPECT_NE(dump.find(line), std::string::npos) << dump;

    s.Stop = 1;
    Sleep(LAUNCHER_END_MS + 300);
    t->DumpThreads();
    dump = ZQ_ReadTextFile("zarquel-Threads.txt");
    EXPECT_EQ(dump.find("-Thread: 1 "), std::string::npos) << dump;
}

TEST_F(Threads, SuspendResumeTerminate)
{
    Spin s = {};
    unsigned long i = t->CreateThread((void*)SpinRoutine, &s);
    while (!s.Id)
        Sleep(1);
    HANDLE watch = OpenThread(SYNCHRONIZE | THREAD_QUERY_INFORMATION, FALSE, s.Id);
    ASSERT_NE(watch, (HANDLE)NULL);

    t->SuspendThread(i);
    EXPECT_EQ(t->Thread[i].Running, 0u);
    Sleep(20);
    LONG frozen = s.Count;
    Sleep(50);
    EXPECT_EQ(s.Count, frozen);
    t->SuspendThread(i);   // already suspended: nothing

    t->ResumeThread(i);
    EXPECT_EQ(t->Thread[i].Running, 1u);
    Sleep(50);
    EXPECT_GT(s.Count, frozen);

    // Suspended, then ended: both act on threads the manager suspended.
    t->SuspendThread(i);
    t->TerminateThread(i);
    EXPECT_EQ(t->Thread[i].Handle, (HANDLE)NULL);
    EXPECT_EQ(WaitForSingleObject(watch, 2000), WAIT_OBJECT_0);
    DWORD code = 0;
    GetExitCodeThread(watch, &code);
    EXPECT_EQ(code, ZTHREADS_EXIT_CODE);
    CloseHandle(watch);

    // Free entries and bad indices do nothing.
    t->SuspendThread(i);
    t->ResumeThread(i);
    t->TerminateThread(i);
    t->SuspendThread(ZTHREADS_MAX);
    t->TerminateThread(0xFFFFFFFF);
}

TEST_F(Threads, AllOperationsSkipTheCallingThread)
{
    Spin a = {}, b = {};
    t->CreateThread((void*)SpinRoutine, &a);
    t->CreateThread((void*)SpinRoutine, &b);
    while (!a.Id || !b.Id)
        Sleep(1);
    // Called from the main thread (entry 0): it must not suspend itself.
    t->SuspendAllThreads();
    EXPECT_EQ(t->Thread[0].Running, 1u);
    Sleep(20);
    LONG ca = a.Count, cb = b.Count;
    Sleep(50);
    EXPECT_EQ(a.Count, ca);
    EXPECT_EQ(b.Count, cb);
    t->ResumeAllThreads();
    Sleep(50);
    EXPECT_GT(a.Count, ca);
    t->SuspendAllThreads();
    t->TerminateAllThreads();
    EXPECT_NE(t->Thread[0].Handle, (HANDLE)NULL) << "the caller's own entry stays";
    for (unsigned long i = 1; i < ZTHREADS_MAX; i++)
        ASSERT_EQ(t->Thread[i].Handle, (HANDLE)NULL);
}

static unsigned long g_event;
static CZThreads* g_threads;

static void SetLater(void*)
{
    Sleep(100);
    g_threads->SetEvent(g_event);
}

TEST_F(Threads, Events)
{
    unsigned long e = t->CreateEventA();
    EXPECT_GE(e, 1u);
    EXPECT_EQ(t->Signal[e].Signalled, 0u);
    EXPECT_EQ(t->WaitEvent(e, 30), 0);
    t->SetEvent(e);
    EXPECT_EQ(t->Signal[e].Signalled, 1u);
    EXPECT_EQ(t->WaitEvent(e, 30), 1);
    EXPECT_EQ(t->Signal[e].Signalled, 0u);
    EXPECT_EQ(t->WaitEvent(e, 30), 0) << "auto-reset";

    // 0 waits without limit.
    g_event = e;
    g_threads = t;
    t->CreateThread((void*)SetLater, nullptr);
    EXPECT_EQ(t->WaitEvent(e, 0), 1);

    t->DestroyEvent(e);
    EXPECT_EQ(t->Signal[e].Event, (HANDLE)NULL);
    EXPECT_EQ(t->WaitEvent(e, 0), 0) << "a free entry never blocks";
    t->SetEvent(e);
    t->DestroyEvent(e);
    EXPECT_EQ(t->WaitEvent(ZTHREADS_MAX + 5, 0), 0);
    EXPECT_EQ(t->CreateEventA(), e) << "lowest free entry first";
    Sleep(LAUNCHER_END_MS + 200);
}

struct Shared {
    CZThreads* T;
    unsigned long Lock;
    volatile LONG Inside;
    volatile LONG Overlaps;
    volatile LONG Done;
};

static void LockLoop(void* p)
{
    Shared* s = (Shared*)p;
    for (int i = 0; i < 200; i++) {
        s->T->Lock(s->Lock);
        if (InterlockedIncrement(&s->Inside) != 1)
            InterlockedIncrement(&s->Overlaps);
        Sleep(0);
        InterlockedDecrement(&s->Inside);
        s->T->Unlock(s->Lock);
    }
    InterlockedIncrement(&s->Done);
}

TEST_F(Threads, SynchsExcludeEachOther)
{
    Shared s = {t, t->CreateSynch(), 0, 0, 0};
    EXPECT_GE(s.Lock, 1u);
    EXPECT_NE(t->Synch[s.Lock].Creator, nullptr);
    t->CreateThread((void*)LockLoop, &s);
    t->CreateThread((void*)LockLoop, &s);
    LockLoop(&s);
    while (s.Done < 3)
        Sleep(5);
    EXPECT_EQ(s.Overlaps, 0);
    t->DeleteSynch(s.Lock);
    EXPECT_EQ(t->Synch[s.Lock].Creator, nullptr);
    t->Lock(s.Lock);     // free entry: nothing, no crash
    t->Unlock(s.Lock);
    t->DeleteSynch(s.Lock);
    Sleep(LAUNCHER_END_MS + 300);
}

static void BlockForever(void*)
{
    Sleep(INFINITE);
}

// Table-full paths: 199 entries in use, the 200th is refused.
ZQ_CHILD(threads_full)
{
    CZarquel* z = new CZarquel;
    for (int i = 0; i < ZTHREADS_MAX; i++)
        z->Threads->CreateThread((void*)BlockForever, nullptr);
    ExitProcess(9);
}

ZQ_CHILD(events_full)
{
    CZarquel* z = new CZarquel;
    for (int i = 0; i < ZTHREADS_MAX; i++)
        z->Threads->CreateEventA();
    ExitProcess(9);
}

ZQ_CHILD(synchs_full)
{
    CZarquel* z = new CZarquel;
    for (int i = 0; i < ZTHREADS_MAX; i++)
        z->Threads->CreateSynch();
    ExitProcess(9);
}

TEST(ThreadTables, TheTwoHundredthEntryIsRefused)
{
    struct {
        const char* child;
        const char* text;
    } cases[] = {
        {"threads_full", "Thread Table Full: Contact at "},
        {"events_full", "Signals Table Full: Contact at "},
        {"synchs_full", "Synch Table Full: Contact at "},
    };
    for (auto& c : cases) {
        // A contact follows the text.
        EXPECT_TRUE(ZQ_OneBox(ZQ_RunChild(c.child), 1, c.text, "Zarquel ZTHREADS", true)) << c.child;
    }
}

// The manager may go while one thread still runs its routine and another is
// in the launcher's tail: both are gone (not using the manager) when its
// destructor returns.
static HANDLE g_returning;

static void SignalAndReturn(void*)
{
    SetEvent(g_returning);
}

TEST(ThreadsShutdown, DestructionEndsRunningThreadsAndWaitsOutTheLaunchersTail)
{
    CZThreads* t = new CZThreads;
    g_returning = CreateEventA(NULL, TRUE, FALSE, NULL);
    Spin s = {};
    t->CreateThread((void*)SpinRoutine, &s);
    unsigned long i = t->CreateThread((void*)SignalAndReturn, nullptr);
    HANDLE tail = OpenThread(SYNCHRONIZE, FALSE, t->Thread[i].Id);
    ASSERT_NE(tail, (HANDLE)NULL);
    while (!s.Id)
        Sleep(1);
    HANDLE running = OpenThread(SYNCHRONIZE, FALSE, s.Id);
    ASSERT_NE(running, (HANDLE)NULL);
    // The routine has returned: its thread is now in (or about to enter) the
    // launcher's tail, which holds the table lock for a while.
    ASSERT_EQ(WaitForSingleObject(g_returning, 5000), WAIT_OBJECT_0);
    delete t;
    EXPECT_EQ(WaitForSingleObject(tail, 0), WAIT_OBJECT_0) << "a thread in the launcher's tail outlived the manager";
    EXPECT_EQ(WaitForSingleObject(running, 0), WAIT_OBJECT_0) << "a running thread outlived the manager";
    CloseHandle(tail);
    CloseHandle(running);
    CloseHandle(g_returning);
}
