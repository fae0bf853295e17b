// CZVti: one periodic callback, 150 times a second, on a time-critical thread.
#ifndef ZARQUEL_ZVTI_H
#define ZARQUEL_ZVTI_H

#include <windows.h>

#include "zapi.h"

class CZDebug;

#define ZVTI_RATE 150           // callbacks per second
#define ZVTI_END_WAIT_MS 200    // EndTimer waits this long for the thread to finish

typedef void (*ZVTI_CALLBACK)(void);

class ZQAPI CZVti {
public:
    CZVti();
    ~CZVti();

    // Sets the callback (null silences it); starts the thread if not running.
    void TimerRoutine(void* callback);
    void PauseTimer();          // toggles
    void EndTimer();

    // Counter units between two callbacks for a counter of `frequency` Hz.
    static LONGLONG IntervalFor(LONGLONG frequency);

    CZDebug* Debug;             // linked by the engine object; not used
    volatile LONG Running;      // 1 while the timer thread exists
    volatile LONG Paused;       // nonzero: the thread runs but does not call back
    volatile ZVTI_CALLBACK Callback;
    HANDLE StopEvent;           // "ZarquelFinTimer...": asks the thread to end
    HANDLE StoppedEvent;        // "ZarquelFinTimer2...": set by the thread as it ends

    // Counters, written by the timer thread only.
    volatile LONG TicksCalled;  // callbacks made
    volatile LONG TicksLate;    // callbacks that came a whole interval or more late

private:
    static DWORD WINAPI InternalTimer(void* record);
};

#endif
