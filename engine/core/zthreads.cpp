#include "zthreads.h"

#include <cstdio>
#include <cstring>
#include <new>

#include "zcore_local.h"
#include "zdebug.h"

static const char THR_CAPTION[] = "Zarquel ZTHREADS";
// The launcher keeps the table lock this long before it clears the entry of
// a thread whose routine returned.
static const DWORD THR_END_WAIT_MS = 200;

static void THR_Fatal(CZDebug* debug, const char* text)
{
    if (debug)
        debug->ShowMessageAndExit(text, THR_CAPTION);
    ExitProcess(1);
}

// Entry 0's handle belongs to the engine object, which closes it.
static void THR_Clear(ZTHREADS_THREAD& t, bool ownsHandle)
{
    t.Running = 0;
    if (ownsHandle && t.Handle)
        CloseHandle(t.Handle);
    t.Handle = NULL;
    t.Id = 0;
    t.Routine = nullptr;
}

// A thread never suspends or terminates itself through the manager: it would
// do so holding the table lock and stop every other caller with it.
static bool THR_IsCaller(const ZTHREADS_THREAD& t)
{
    return t.Id == GetCurrentThreadId();
}

CZThreads::CZThreads()
{
    Debug = nullptr;
    memset(Thread, 0, sizeof(Thread));
    memset(Synch, 0, sizeof(Synch));
    memset(Signal, 0, sizeof(Signal));
    memset(Joins, 0, sizeof(Joins));
    InitializeCriticalSection(&TableLock);
}

// A thread still running its routine, or in the launcher's tail, would
// otherwise enter the deleted table lock: one still in the table is ended,
// one in the tail finishes it (taking the lock waits for that), and every
// thread the manager started is waited for before the lock goes.
CZThreads::~CZThreads()
{
    EnterCriticalSection(&TableLock);
    for (unsigned long i = 1; i < ZTHREADS_MAX; i++) {
        ZTHREADS_THREAD& t = Thread[i];
        if (!t.Handle || THR_IsCaller(t))
            continue;
        ::TerminateThread(t.Handle, ZTHREADS_EXIT_CODE);
        THR_Clear(t, true);
    }
    LeaveCriticalSection(&TableLock);
    for (unsigned long i = 1; i < ZTHREADS_MAX; i++) {
        if (!Joins[i])
            continue;
        if (GetThreadId(Joins[i]) != GetCurrentThreadId())
            WaitForSingleObject(Joins[i], INFINITE);
        CloseHandle(Joins[i]);
    }
    DeleteCriticalSection(&TableLock);
}

unsigned long CZThreads::CreateThread(void* routine, void* argument)
{
    ZTHREADS_INFO* info = new (std::nothrow) ZTHREADS_INFO;
    if (!info)
        THR_Fatal(Debug, "Can't initialize thread");
    info->Manager = this;
    info->Routine = routine;
    info->Argument = argument;

    // The table lock is held from the start of the thread until its entry is
    // in: a routine that returns at once makes the launcher look for an
    // entry that must already be there.
    EnterCriticalSection(&TableLock);
    DWORD id = 0;
    HANDLE handle = ::CreateThread(NULL, 0, Launcher, info, 0, &id);
    if (!handle) {
        LeaveCriticalSection(&TableLock);
        delete info;
        THR_Fatal(Debug, "Can't initialize thread");
    }
    unsigned long index = InsertThread(handle, id, routine);
    if (Joins[index])
        CloseHandle(Joins[index]);
    Joins[index] = NULL;
    HANDLE process = GetCurrentProcess();
    DuplicateHandle(process, handle, process, &Joins[index], SYNCHRONIZE | THREAD_QUERY_INFORMATION, FALSE, 0);
    LeaveCriticalSection(&TableLock);
    return index;
}

unsigned long CZThreads::InsertThread(HANDLE handle, DWORD threadId, void* routine)
{
    EnterCriticalSection(&TableLock);
    for (unsigned long i = 1; i < ZTHREADS_MAX; i++) {
        ZTHREADS_THREAD& t = Thread[i];
        if (t.Handle == NULL) {
            t.Running = 1;
            t.Handle = handle;
            t.Id = threadId;
            t.Routine = routine;
            LeaveCriticalSection(&TableLock);
            return i;
        }
    }
    LeaveCriticalSection(&TableLock);
    THR_Fatal(Debug, "Thread Table Full: Contact at " ZQ_SUPPORT_CONTACT);
    return 0;
}

void CZThreads::InsertMainThread(HANDLE handle, DWORD threadId)
{
    Thread[0].Running = 1;
    Thread[0].Handle = handle;
    Thread[0].Id = threadId;
    Thread[0].Routine = nullptr;
}

DWORD WINAPI CZThreads::Launcher(void* param)
{
    ZTHREADS_INFO* info = (ZTHREADS_INFO*)param;
    CZThreads* self = info->Manager;
    ZTHREADS_ROUTINE routine = (ZTHREADS_ROUTINE)info->Routine;
    void* argument = info->Argument;
    delete info;

    routine(argument);

    EnterCriticalSection(&self->TableLock);
    DWORD id = GetCurrentThreadId();
    Sleep(THR_END_WAIT_MS);
    for (unsigned long i = 1; i < ZTHREADS_MAX; i++) {
        if (self->Thread[i].Handle && self->Thread[i].Id == id) {
            THR_Clear(self->Thread[i], true);
            LeaveCriticalSection(&self->TableLock);
            return 0;
        }
    }
    LeaveCriticalSection(&self->TableLock);
    THR_Fatal(self->Debug, "Critical Error Deleting Thread: Contact at " ZQ_SUPPORT_CONTACT);
    return 0;
}

void CZThreads::DeleteThread(unsigned long) {}

void CZThreads::SuspendThread(unsigned long index)
{
    if (index >= ZTHREADS_MAX)
        return;
    EnterCriticalSection(&TableLock);
    ZTHREADS_THREAD& t = Thread[index];
    if (t.Handle && t.Running && !THR_IsCaller(t)) {
        if (::SuspendThread(t.Handle) == 0xFFFFFFFF) {
            LeaveCriticalSection(&TableLock);
            THR_Fatal(Debug, "Can't suspend thread");
        }
        t.Running = 0;
    }
    LeaveCriticalSection(&TableLock);
}

// Resume acts on a thread the manager suspended.
void CZThreads::ResumeThread(unsigned long index)
{
    if (index >= ZTHREADS_MAX)
        return;
    EnterCriticalSection(&TableLock);
    ZTHREADS_THREAD& t = Thread[index];
    if (t.Handle && !t.Running) {
        if (::ResumeThread(t.Handle) == 0xFFFFFFFF) {
            LeaveCriticalSection(&TableLock);
            THR_Fatal(Debug, "Can't resume thread");
        }
        t.Running = 1;
    }
    LeaveCriticalSection(&TableLock);
}

// Terminate acts on running and suspended threads alike.
void CZThreads::TerminateThread(unsigned long index)
{
    if (index >= ZTHREADS_MAX)
        return;
    EnterCriticalSection(&TableLock);
    ZTHREADS_THREAD& t = Thread[index];
    if (t.Handle && !THR_IsCaller(t)) {
        if (!::TerminateThread(t.Handle, ZTHREADS_EXIT_CODE)) {
            LeaveCriticalSection(&TableLock);
            THR_Fatal(Debug, "Can't Terminate a thread");
        }
        THR_Clear(t, index != 0);
    }
    LeaveCriticalSection(&TableLock);
}

void CZThreads::SuspendAllThreads()
{
    for (unsigned long i = 0; i < ZTHREADS_MAX; i++)
        SuspendThread(i);
}

void CZThreads::ResumeAllThreads()
{
    for (unsigned long i = 0; i < ZTHREADS_MAX; i++)
        ResumeThread(i);
}

void CZThreads::TerminateAllThreads()
{
    for (unsigned long i = 0; i < ZTHREADS_MAX; i++)
        TerminateThread(i);
}

unsigned long CZThreads::CreateEventA()
{
    HANDLE event = ::CreateEventA(NULL, FALSE, FALSE, NULL);
    if (!event)
        THR_Fatal(Debug, "Can't event thread");
    EnterCriticalSection(&TableLock);
    for (unsigned long i = 1; i < ZTHREADS_MAX; i++) {
        if (Signal[i].Event == NULL) {
            Signal[i].Event = event;
            Signal[i].Signalled = 0;
            LeaveCriticalSection(&TableLock);
            return i;
        }
    }
    LeaveCriticalSection(&TableLock);
    CloseHandle(event);
    THR_Fatal(Debug, "Signals Table Full: Contact at " ZQ_SUPPORT_CONTACT);
    return 0;
}

void CZThreads::SetEvent(unsigned long index)
{
    if (index >= ZTHREADS_MAX || !Signal[index].Event)
        return;
    ::SetEvent(Signal[index].Event);
    Signal[index].Signalled = 1;
}

int CZThreads::WaitEvent(unsigned long index, unsigned long milliseconds)
{
    if (index >= ZTHREADS_MAX || !Signal[index].Event)
        return 0;
    DWORD r = WaitForSingleObject(Signal[index].Event, milliseconds ? milliseconds : INFINITE);
    if (r != WAIT_OBJECT_0)
        return 0;
    Signal[index].Signalled = 0;
    return 1;
}

void CZThreads::DestroyEvent(unsigned long index)
{
    if (index >= ZTHREADS_MAX || !Signal[index].Event)
        return;
    EnterCriticalSection(&TableLock);
    if (Signal[index].Event)
        CloseHandle(Signal[index].Event);
    Signal[index].Event = NULL;
    Signal[index].Signalled = 0;
    LeaveCriticalSection(&TableLock);
}

unsigned long CZThreads::CreateSynch()
{
    void* caller = __builtin_return_address(0);
    EnterCriticalSection(&TableLock);
    for (unsigned long i = 1; i < ZTHREADS_MAX; i++) {
        if (Synch[i].Creator == nullptr) {
            InitializeCriticalSection(&Synch[i].Lock);
            Synch[i].Creator = caller;
            LeaveCriticalSection(&TableLock);
            return i;
        }
    }
    LeaveCriticalSection(&TableLock);
    THR_Fatal(Debug, "Synch Table Full: Contact at " ZQ_SUPPORT_CONTACT);
    return 0;
}

void CZThreads::Lock(unsigned long index)
{
    if (index < ZTHREADS_MAX && Synch[index].Creator)
        EnterCriticalSection(&Synch[index].Lock);
}

void CZThreads::Unlock(unsigned long index)
{
    if (index < ZTHREADS_MAX && Synch[index].Creator)
        LeaveCriticalSection(&Synch[index].Lock);
}

void CZThreads::DeleteSynch(unsigned long index)
{
    if (index >= ZTHREADS_MAX || !Synch[index].Creator)
        return;
    DeleteCriticalSection(&Synch[index].Lock);
    Synch[index].Creator = nullptr;
}

void CZThreads::DumpThreads()
{
    EnterCriticalSection(&TableLock);
    FILE* f = fopen("zarquel-Threads.txt", "w");
    if (f) {
        fputs("Zarquel V3.0 - Threads State Dump.\n", f);
        fputs("*NOTE: These values are valid only running ZARQUEL.DLL with debug*\n\n", f);
        for (unsigned long i = 0; i < ZTHREADS_MAX; i++) {
            const ZTHREADS_THREAD& t = Thread[i];
            if (!t.Handle)
                continue;
            char id[16], handle[16], start[24];
            snprintf(id, sizeof(id), "%lx", (unsigned long)t.Id);
            snprintf(handle, sizeof(handle), "%lx", (unsigned long)(uintptr_t)t.Handle);
            if (i == 0)
                snprintf(start, sizeof(start), "(Main Thread)");
            else
                snprintf(start, sizeof(start), "%lx", (unsigned long)(uintptr_t)t.Routine);
            fprintf(f, "-Thread: %lu ThreadID: %s ThreadHandle: %s Started at: %s\n", i, id, handle, start);
        }
        fclose(f);
    }
    LeaveCriticalSection(&TableLock);
}

void CZThreads::DumpSynchs() {}
void CZThreads::DumpEvents() {}
