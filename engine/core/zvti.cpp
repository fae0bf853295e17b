#include "zvti.h"

#include "zdebug.h"

// Handed to the timer thread. It holds the thread's own duplicates of the two
// events, so that EndTimer may close the module's handles (or the module may
// be destroyed) while a stuck callback is still running: when the callback
// returns, the thread finds its stop event signalled and leaves without
// touching the module again.
struct VTI_RECORD {
    CZVti* Owner;
    HANDLE Stop;
    HANDLE Stopped;
};

CZVti::CZVti()
    : Debug(nullptr), Running(0), Paused(0), Callback(nullptr), StopEvent(NULL),
      StoppedEvent(NULL), TicksCalled(0), TicksLate(0)
{
}

CZVti::~CZVti()
{
    EndTimer();
}

LONGLONG CZVti::IntervalFor(LONGLONG frequency)
{
    return frequency / ZVTI_RATE;
}

static void VTI_Fatal(CZDebug* debug, const char* text)
{
    if (debug)
        debug->ShowMessageAndExit(text, "Zarquel ZVTI");
    ExitProcess(1);
}

void CZVti::TimerRoutine(void* callback)
{
    Callback = (ZVTI_CALLBACK)callback;
    if (Running)
        return;

    // Unnamed: a timer restarted after EndTimer gave up on a stuck callback
    // must not open the old thread's still-signalled events.
    StopEvent = CreateEventA(NULL, FALSE, FALSE, NULL);
    StoppedEvent = CreateEventA(NULL, FALSE, FALSE, NULL);
    if (!StopEvent || !StoppedEvent)
        VTI_Fatal(Debug, "Can't create timer events");

    VTI_RECORD* record = (VTI_RECORD*)HeapAlloc(GetProcessHeap(), 0, sizeof(VTI_RECORD));
    HANDLE process = GetCurrentProcess();
    if (!record ||
        !DuplicateHandle(process, StopEvent, process, &record->Stop, 0, FALSE, DUPLICATE_SAME_ACCESS) ||
        !DuplicateHandle(process, StoppedEvent, process, &record->Stopped, 0, FALSE, DUPLICATE_SAME_ACCESS))
        VTI_Fatal(Debug, "Can't initialize timer");
    record->Owner = this;

    Paused = 0;
    HANDLE thread = CreateThread(NULL, 0, InternalTimer, record, 0, NULL);
    if (!thread)
        VTI_Fatal(Debug, "Can't initialize timer");
    CloseHandle(thread);
    Running = 1;
}

void CZVti::PauseTimer()
{
    Paused = !Paused;
}

void CZVti::EndTimer()
{
    if (!Running)
        return;
    ::SetEvent(StopEvent);
    WaitForSingleObject(StoppedEvent, ZVTI_END_WAIT_MS);
    CloseHandle(StopEvent);
    CloseHandle(StoppedEvent);
    StopEvent = NULL;
    StoppedEvent = NULL;
    Running = 0;
    Paused = 0;
}

DWORD WINAPI CZVti::InternalTimer(void* param)
{
    VTI_RECORD* record = (VTI_RECORD*)param;
    CZVti* self = record->Owner;

    LARGE_INTEGER value;
    const bool counter = QueryPerformanceFrequency(&value) && value.QuadPart > 0;
    const LONGLONG frequency = counter ? value.QuadPart : 0;
    const LONGLONG interval = IntervalFor(frequency);
    // Both start at f, so the first comparison fires at once.
    LONGLONG last = frequency, now = frequency;

    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL);

    for (;;) {
        if (counter) {
            if (WaitForSingleObject(record->Stop, 1) == WAIT_OBJECT_0)
                break;
            QueryPerformanceCounter(&value);
            now = value.QuadPart;
            if (now - last < interval)
                continue;
        } else if (WaitForSingleObject(record->Stop, 10) == WAIT_OBJECT_0) {
            break;
        }
        // No catching up: the next tick is measured from this one.
        const bool late = counter && now - last >= 2 * interval;
        last = now;
        ZVTI_CALLBACK callback = self->Callback;
        if (callback && !self->Paused) {
            // Counted before the call: after a stuck callback returns the
            // module may be gone.
            InterlockedIncrement(&self->TicksCalled);
            if (late)
                InterlockedIncrement(&self->TicksLate);
            callback();
        }
    }

    ::SetEvent(record->Stopped);
    CloseHandle(record->Stop);
    CloseHandle(record->Stopped);
    HeapFree(GetProcessHeap(), 0, record);
    return 0;
}
