// Test build only: the game's flags and counters in named shared memory
// (BF04_PROBE_NAME), for tests and the run driver to read while it runs.
// Whoever comes first creates the mapping; a watcher that creates it before
// starting the game keeps it after the game has ended.
#include <cmath>
#include "actors.h"
#include "bf04.h"
#include "camerapath.h"
#include "soundplayer.h"
#include <psapi.h>
#include <winternl.h>

#define PROBE_HEALTH_PERIOD_MS 1000

static BF04_PROBE* g_probe;
static int64_t g_lastTick;
static int64_t g_cutFrom;           // the frame loop's last cut
static DWORD g_lastHealth;
static uint32_t g_followSerial, g_winSerial;   // the orders' serials already carried out

static int64_t PROBE_Now()
{
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart;
}

// Wine answers GetProcessHandleCount with 0: then the entries of the
// system's handle table that are this process's. The buffer is kept and
// only grows (sampled about once a second).
static uint32_t PROBE_Handles()
{
    static SYSTEM_HANDLE_INFORMATION* table;
    static ULONG tableBytes;
    DWORD count = 0;
    if (GetProcessHandleCount(GetCurrentProcess(), &count) && count)
        return count;
    for (int tries = 0; tries < 4; tries++) {
        ULONG needed = 0;
        NTSTATUS status = table ? NtQuerySystemInformation(SystemHandleInformation, table, tableBytes, &needed)
                                : (NTSTATUS)0xC0000004L;   // STATUS_INFO_LENGTH_MISMATCH
        if (status == 0) {
            const ULONG pid = GetCurrentProcessId();
            for (ULONG i = 0; i < table->Count; i++)
                count += table->Handle[i].OwnerPid == pid;
            return count;
        }
        if (status != (NTSTATUS)0xC0000004L)
            return 0;
        if (table)
            VirtualFree(table, 0, MEM_RELEASE);
        tableBytes = (needed > tableBytes ? needed : tableBytes) * 2 + (1u << 16);
        table = (SYSTEM_HANDLE_INFORMATION*)VirtualAlloc(nullptr, tableBytes, MEM_COMMIT, PAGE_READWRITE);
        if (!table)
            return tableBytes = 0;
    }
    return 0;
}

static uint32_t PROBE_Microseconds(BF04_PROBE* p, int64_t counts)
{
    return (uint32_t)(counts * 1000000 / p->CounterFrequency);
}

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
    const int64_t now = PROBE_Now();
    BF04_PROBE* p = ProbeRecord();
    if (g_lastTick && p) {
        p->Interval[p->IntervalCount % BF04_PROBE_INTERVALS] = PROBE_Microseconds(p, now - g_lastTick);
        p->IntervalCount++;
    }
    g_lastTick = now;
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
    p->CutMicroseconds[BF04_CUT_TICK] += PROBE_Microseconds(p, PROBE_Now() - g_lastTick);
}

// The frame loop's phases: the time since the last cut goes to `phase`.
void ProbeCut(int phase)
{
    const int64_t now = PROBE_Now();
    if (phase >= 0 && g_cutFrom)
        g_probe->CutMicroseconds[phase] += PROBE_Microseconds(g_probe, now - g_cutFrom);
    g_cutFrom = now;
}

void ProbeFrameEnded()
{
    BF04_PROBE* p = g_probe;
    p->CutFrames++;
    // Every frame, outside the sequence: single words a watcher of a lost
    // and reset device waits on.
    const CZVgs* vgs = G.Engine->Vgs;
    p->Health.DeviceResets = vgs->DeviceResets;
    p->Health.FramesLost = vgs->FramesLost;
    p->Health.ResetsFailed = vgs->ResetsFailed;
    const DWORD now = GetTickCount();
    if (p->Health.Samples && now - g_lastHealth < PROBE_HEALTH_PERIOD_MS)
        return;
    g_lastHealth = now;
    PROCESS_MEMORY_COUNTERS pm = {};
    pm.cb = sizeof pm;
    GetProcessMemoryInfo(GetCurrentProcess(), &pm, sizeof pm);
    const uint32_t handles = PROBE_Handles();
    const CZMem* mem = G.Engine->Mem;
    BF04_HEALTH& h = p->Health;
    h.Sequence++;
    MemoryBarrier();
    h.Samples++;
    h.HeapInUse = mem->BytesInUse;
    h.HeapTop = (uint32_t)(mem->Top - mem->ArenaBase);
    h.WorkingSet = (uint32_t)pm.WorkingSetSize;
    h.PrivateBytes = (uint32_t)pm.PagefileUsage;   // the commit charge; Wine leaves PrivateUsage 0
    h.Handles = handles;
    h.GdiObjects = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS);
    h.UserObjects = GetGuiResources(GetCurrentProcess(), GR_USEROBJECTS);
    h.Music = G.Sound && G.Sound->Music ? G.Sound->State(G.Sound->Music) : 0;
    MemoryBarrier();
    h.Sequence++;
}

// At the start of a tick, under the game lock: the watcher's new orders.
void ProbeOrders()
{
    BF04_PROBE* p = ProbeRecord();
    if (!p)
        return;
    const BF04_ORDERS& o = p->Orders;
    if (o.FollowSerial != g_followSerial) {
        g_followSerial = o.FollowSerial;
        if (o.Follow > 0 && o.Follow <= G.SoldierCount) {
            Soldier* s = G.Soldiers[o.Follow - 1];
            s->PathPosition = o.FollowPath;
            s->State = SOLDIER_WALKING;
            s->Frame = 40;
            s->Fraction = 0.0f;
            s->Step = 1;
        }
    }
    if (o.WinSerial != g_winSerial) {
        g_winSerial = o.WinSerial;
        BF04_FLAGS& f = G.F;
        if (!f.MenuShown && !f.Automatic && !f.Won && !f.WinCountdown)
            f.WinCountdown = 1;
    }
}

// The frame's camera while the watcher has it follow a soldier: on the
// soldier's path, FollowBack behind it, looking along the path. Under the
// game lock (the path and the soldier belong to the tick).
void ProbeFollowCamera(Vector3* eye, Vector3* target)
{
    BF04_PROBE* p = ProbeRecord();
    if (!p || p->Orders.Follow <= 0 || p->Orders.Follow > G.SoldierCount)
        return;
    const Soldier* s = G.Soldiers[p->Orders.Follow - 1];
    Vector3 a = G.Path1->Eval(s->PathPosition), b = G.Path1->Eval(s->PathPosition + SOLDIER_LOOK_AHEAD);
    float dx = b.x - a.x, dz = b.z - a.z, d = sqrtf(dx * dx + dz * dz);
    if (d == 0.0f)
        return;
    float back = p->Orders.FollowBack / d, y = SOLDIER_Y + p->Orders.FollowHeight;
    *eye = {a.x - dx * back, y, a.z - dz * back};
    *target = {a.x, y, a.z};
}
