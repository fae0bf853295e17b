// The game tick on the real level: fifteen soldiers walking and shooting,
// the player's shots and the explosions in flight, against the same tick
// with the player alone; microseconds per tick against the 1/150 s budget
// and the scene tests a tick makes. No drawing, no window.
// "--quick" runs a few hundred ticks (the test suite's smoke run).
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>
#include "actors.h"
#include "bf04.h"
#include "camerapath.h"
#include "soundplayer.h"
#include "bench_clock.h"

Game G;

struct Figures {
    double MeanUs, WorstUs;
    double SceneTests, Shots, Explosions;
};

// Ticks with `soldiers` soldiers; every `fireEvery` ticks (0: never) the
// player turns a little and fires, and one soldier fires an extra shot in a
// turning direction, so that shots and explosions stay in flight.
static Figures Run(int ticks, int soldiers, int fireEvery)
{
    G.SoldierCount = soldiers;
    G.Shots->ShotCount = G.Shots->ExplosionCount = 0;
    std::vector<double> us(ticks);
    double shots = 0, explosions = 0;
    Counters = PlayCounters{};
    for (int t = 0; t < ticks; t++) {
        if (fireEvery && t % fireEvery == 0) {
            EnterCriticalSection(&G.Lock);
            P1.HeadingTarget += 37.0f;
            G.Engine->Kbd->PressKeyCode(KEY_SPACE);
            if (soldiers) {
                Soldier* s = G.Soldiers[t / fireEvery % soldiers];
                float a = t * 0.37f;
                G.Shots->Fire({s->X, 1.2f, s->Z}, {s->X + cosf(a), 1.2f, s->Z + sinf(a)}, s);
            }
            LeaveCriticalSection(&G.Lock);
        }
        double t0 = Now();
        GameTick();
        us[t] = (Now() - t0) * 1e6;
        G.Engine->Kbd->ReleaseKeyCode(KEY_SPACE);
        shots += G.Shots->ShotCount;
        explosions += G.Shots->ExplosionCount;
    }
    Figures f;
    double sum = 0;
    for (double u : us)
        sum += u;
    std::sort(us.begin(), us.end());
    f.MeanUs = sum / ticks;
    f.WorstUs = us[ticks - 1 - ticks / 1000];
    f.SceneTests = (double)Counters.SceneTests / ticks;
    f.Shots = shots / ticks;
    f.Explosions = explosions / ticks;
    return f;
}

int main(int argc, char** argv)
{
    const bool quick = argc > 1 && strcmp(argv[1], "--quick") == 0;
    const int ticks = quick ? 300 : 30000;
    CZarquel* e = G.Engine = new CZarquel;
    e->Mem->InitHeap(BF04_HEAP_BYTES);
    e->Xfs->OpenMasterFile("data.tmf");
    G.A.Scene = e->O3d->LoadObject("data\\scene\\scene.3do");
    e->OctreeAABB->Init(25000);
    G.A.SceneOctree = e->OctreeAABB->LoadAABBOctree(G.A.Scene, "data\\scene\\scene.oct");
    G.Sound = new SoundPlayer;
    G.Sound->Engine = e;
    InitializeCriticalSection(&G.Lock);
    G.Shots = new ShotManager;
    G.Shots->Engine = e;
    G.Shots->SoldierList = G.Soldiers;
    G.Path1 = new CameraPath;
    G.Path1->Engine = e;
    G.Path1->Load("data\\camera1.tcp");
    G.Path1->Eval(0.1f);
    for (int i = 0; i < BF04_SOLDIERS; i++)
        G.Soldiers[i] = new Soldier(0, 0, e, G.Path1, G.Shots);
    ResetPlayer();
    P1.LastTick = CLOCK_UNSET;
    G.F.PageCountdown = BF04_PAGE_TICKS;
    G.F.MenuShown = 0;   // a run in progress
    // The player on the patrol ring, among the soldiers.
    P1.Position = G.Path1->Eval(0.3f);
    P1.Position.y += 1.0f;

    Run(quick ? 50 : 1000, BF04_SOLDIERS, 10);   // warm up, spread the soldiers
    const Figures alone = Run(ticks, 0, 0);
    const Figures full = Run(ticks, BF04_SOLDIERS, 3);
    const double budget = 1e6 / 150.0;
    printf("bench_tick: %d ticks each\n", ticks);
    printf("  player alone:                 %8.1f us per tick (worst 0.1%% %.1f), %.2f scene tests per tick\n",
           alone.MeanUs, alone.WorstUs, alone.SceneTests);
    printf("  15 soldiers, shots, blasts:   %8.1f us per tick (worst 0.1%% %.1f), %.2f scene tests per tick\n",
           full.MeanUs, full.WorstUs, full.SceneTests);
    printf("    in flight on average: %.1f shots, %.1f explosions\n", full.Shots, full.Explosions);
    printf("  full tick / player alone: %.2fx; full tick / budget (%.0f us): %.4f (worst %.4f)\n",
           full.MeanUs / alone.MeanUs, budget, full.MeanUs / budget, full.WorstUs / budget);
    return 0;
}
