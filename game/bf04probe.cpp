// Test build only: the game's flags and counters in named shared memory
// (BF04_PROBE_NAME), for tests and the run driver to read while it runs.
// Whoever comes first creates the mapping; a watcher that creates it before
// starting the game keeps it after the game has ended.
#include "bf04.h"

static BF04_PROBE* g_probe;
static int64_t g_lastTick;

BF04_PROBE* ProbeRecord()
{
    if (g_probe)
        return g_probe;
    HANDLE map = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(BF04_PROBE),
                                    BF04_PROBE_NAME);
    if (!map)
        return nullptr;
    BF04_PROBE* p = (BF04_PROBE*)MapViewOfFile(map, FILE_MAP_ALL_ACCESS, 0, 0, sizeof(BF04_PROBE));
    if (!p)
        return nullptr;
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    p->CounterFrequency = f.QuadPart;
    p->ProcessId = GetCurrentProcessId();
    p->Magic = BF04_PROBE_MAGIC;
    g_probe = p;
    return p;
}

void ProbeTickStarted()
{
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    BF04_PROBE* p = ProbeRecord();
    if (g_lastTick && p) {
        int64_t us = (now.QuadPart - g_lastTick) * 1000000 / p->CounterFrequency;
        p->Interval[p->IntervalCount % BF04_PROBE_INTERVALS] = (uint32_t)us;
        p->IntervalCount++;
    }
    g_lastTick = now.QuadPart;
}

// At the end of a tick, under the game lock: the changes against the last
// tick's copy, then the copy.
void ProbeTickEnded(const BF04_FLAGS& now)
{
    static const int32_t logged[] = {BF04_FLAG_WORD(MenuShown),  BF04_FLAG_WORD(MenuFadeState),
                                     BF04_FLAG_WORD(ScreenIsCredits), BF04_FLAG_WORD(StartBanner),
                                     BF04_FLAG_WORD(Won),        BF04_FLAG_WORD(Automatic),
                                     BF04_FLAG_WORD(Quit),       BF04_FLAG_WORD(EscLatch),
                                     BF04_FLAG_WORD(TextPage),   BF04_FLAG_WORD(PageView)};
    BF04_PROBE* p = ProbeRecord();
    if (!p)
        return;
    p->Ticks++;
    const int32_t* before = (const int32_t*)&p->Flags;
    const int32_t* after = (const int32_t*)&now;
    for (int32_t word : logged) {
        bool changed = word == BF04_FLAG_WORD(PageView) ? (before[word] == 0) != (after[word] == 0)
                                                         : before[word] != after[word];
        if (changed && p->Ticks > 1 && p->EventCount < BF04_PROBE_EVENTS)
            p->Event[p->EventCount++] = {p->Ticks, word, after[word]};
    }
    p->Flags = now;
}
