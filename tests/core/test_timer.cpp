#include "zvti.h"
#include "zqtest.h"

static volatile LONG g_calls;
static volatile LONG g_stuckCalls;
static volatile DWORD g_callbackThread;
static volatile int g_priority;

static void Count()
{
    InterlockedIncrement(&g_calls);
    g_callbackThread = GetCurrentThreadId();
    g_priority = GetThreadPriority(GetCurrentThread());
}

static void Stuck()
{
    InterlockedIncrement(&g_stuckCalls);
    Sleep(1500);
}

static double Seconds()
{
    LARGE_INTEGER f, c;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&c);
    return (double)c.QuadPart / (double)f.QuadPart;
}

TEST(Timer, IntervalArithmetic)
{
    EXPECT_EQ(CZVti::IntervalFor(3579545), 23863);
    EXPECT_EQ(CZVti::IntervalFor(1000000000LL), 6666666);
    EXPECT_EQ(CZVti::IntervalFor(10000000000LL), 66666666LL) << "64-bit division";
}

TEST(Timer, RunsAboutOneHundredFiftyTimesASecondOnATimeCriticalThread)
{
    CZVti t;
    g_calls = 0;
    t.TimerRoutine((void*)Count);
    EXPECT_EQ(t.Running, 1);
    Sleep(100);
    // A loaded machine (the suite runs programs side by side) can starve
    // the thread for a while and stretch every 1 ms wait; the best of three
    // windows is the timer's own. A halved rate (75) still fails.
    double rate = 0;
    LONG c1 = 0;
    for (int window = 0; window < 3 && rate <= 130.0; window++) {
        const LONG c0 = g_calls;
        const double s0 = Seconds();
        Sleep(1500);
        c1 = g_calls;
        const double r = (c1 - c0) / (Seconds() - s0);
        rate = r > rate ? r : rate;
    }
    t.EndTimer();
    // The tick never comes early, and without catch-up each one is late by
    // up to one 1 ms wait: the rate sits a little under 150.
    EXPECT_GT(rate, 100.0);
    EXPECT_LT(rate, 152.0);
    EXPECT_NE(g_callbackThread, GetCurrentThreadId());
    EXPECT_EQ(g_priority, THREAD_PRIORITY_TIME_CRITICAL);
    EXPECT_EQ(t.Running, 0);
    EXPECT_EQ(t.StopEvent, (HANDLE)NULL);
    EXPECT_EQ(t.StoppedEvent, (HANDLE)NULL);
    EXPECT_GE(t.TicksCalled, c1);
}

TEST(Timer, PauseTwiceCallsAgain)
{
    CZVti t;
    g_calls = 0;
    t.TimerRoutine((void*)Count);
    Sleep(50);
    t.PauseTimer();
    Sleep(30);
    const LONG paused = g_calls;
    Sleep(150);
    EXPECT_EQ(g_calls, paused);
    t.PauseTimer();
    Sleep(150);
    EXPECT_GT(g_calls, paused + 10);
    t.EndTimer();
}

TEST(Timer, NullCallbackSilencesWithoutStopping)
{
    CZVti t;
    g_calls = 0;
    t.TimerRoutine((void*)Count);
    Sleep(50);
    const HANDLE stop = t.StopEvent;
    t.TimerRoutine(nullptr);
    Sleep(20);
    const LONG silent = g_calls;
    Sleep(150);
    EXPECT_EQ(g_calls, silent);
    EXPECT_EQ(t.Running, 1);
    // A new callback is taken by the same thread.
    t.TimerRoutine((void*)Count);
    EXPECT_EQ(t.StopEvent, stop);
    Sleep(100);
    EXPECT_GT(g_calls, silent + 5);
    t.EndTimer();
    EXPECT_EQ(t.Running, 0);
}

TEST(Timer, EndTimerGivesUpOnAStuckCallbackAfter200Ms)
{
    g_stuckCalls = 0;
    CZVti* t = new CZVti;
    t->TimerRoutine((void*)Stuck);
    Sleep(50);
    ASSERT_EQ(g_stuckCalls, 1);
    const double s0 = Seconds();
    t->EndTimer();
    const double waited = Seconds() - s0;
    EXPECT_GE(waited, 0.18);
    EXPECT_LT(waited, 0.6);
    EXPECT_EQ(t->StopEvent, (HANDLE)NULL);
    EXPECT_EQ(t->Running, 0);
    // The module may go while the callback is still stuck; when it returns
    // the thread leaves without calling again or touching the module.
    delete t;
    Sleep(2000);
    EXPECT_EQ(g_stuckCalls, 1);
}

TEST(Timer, RestartsAfterEndAndDestructionStops)
{
    g_calls = 0;
    {
        CZVti t;
        t.TimerRoutine((void*)Count);
        Sleep(50);
        t.EndTimer();
        const LONG after = g_calls;
        Sleep(50);
        EXPECT_EQ(g_calls, after);
        t.TimerRoutine((void*)Count);
        Sleep(50);
        EXPECT_GT(g_calls, after);
    }
    const LONG gone = g_calls;
    Sleep(50);
    EXPECT_EQ(g_calls, gone);
}
