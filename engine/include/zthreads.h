// CZThreads: the engine's tables of threads, events and locks, addressed by
// small indices, with one launcher that every started thread runs through.
#ifndef ZARQUEL_ZTHREADS_H
#define ZARQUEL_ZTHREADS_H

#include <windows.h>

#include "zapi.h"

class CZDebug;
class CZThreads;

// Entries per table; entry 0 of the thread table is the main thread and
// entry 0 of the other two is never handed out, so 199 are usable.
#define ZTHREADS_MAX 200
// Exit code given to threads ended through TerminateThread.
#define ZTHREADS_EXIT_CODE 0xBEBECAFE

typedef void (*ZTHREADS_ROUTINE)(void*);

// Start record of a started thread; allocated by CreateThread, freed by the
// launcher before the routine runs.
struct ZTHREADS_INFO {
    CZThreads* Manager;
    void* Routine;
    void* Argument;
};

struct ZTHREADS_THREAD {
    HANDLE Handle;          // 0 = entry free
    DWORD Id;
    DWORD Running;          // 1 after creation or resume, 0 after suspend or end
    void* Routine;          // 0 for the main thread
};

struct ZTHREADS_SYNCH {
    CRITICAL_SECTION Lock;
    void* Creator;          // code address of the CreateSynch caller; 0 = free
};

struct ZTHREADS_SIGNAL {
    HANDLE Event;           // 0 = free
    DWORD Signalled;        // 1 after SetEvent, 0 after a successful wait
};

class ZQAPI CZThreads {
public:
    CZThreads();
    ~CZThreads();

    unsigned long CreateThread(void* routine, void* argument);
    void InsertMainThread(HANDLE handle, DWORD threadId);
    static DWORD WINAPI Launcher(void* info);

    void SuspendThread(unsigned long index);
    void ResumeThread(unsigned long index);
    void TerminateThread(unsigned long index);
    void SuspendAllThreads();
    void ResumeAllThreads();
    void TerminateAllThreads();

    unsigned long CreateEventA();
    void SetEvent(unsigned long index);
    int WaitEvent(unsigned long index, unsigned long milliseconds);
    void DestroyEvent(unsigned long index);

    unsigned long CreateSynch();
    void Lock(unsigned long index);
    void Unlock(unsigned long index);
    void DeleteSynch(unsigned long index);

    void DumpThreads();     // writes "zarquel-Threads.txt"
    void DumpSynchs();
    void DumpEvents();

    CZDebug* Debug;
    ZTHREADS_THREAD Thread[ZTHREADS_MAX];
    ZTHREADS_SYNCH Synch[ZTHREADS_MAX];
    ZTHREADS_SIGNAL Signal[ZTHREADS_MAX];
    CRITICAL_SECTION TableLock;
    // The manager's own handle (wait access) to each thread it started, kept
    // after the launcher clears the entry until the entry is reused, so that
    // destruction can wait for every thread, one in its tail included.
    HANDLE Joins[ZTHREADS_MAX];

private:
    unsigned long InsertThread(HANDLE handle, DWORD threadId, void* routine);
    void DeleteThread(unsigned long index);
};

#endif
