// The smallest Zarquel application: builds the engine, takes a heap, lets the
// frame timer tick for a moment and reports what happened.
#include <cstdio>

#include "zarquel.h"

static volatile LONG g_ticks;

static void Tick()
{
    InterlockedIncrement(&g_ticks);
}

int main()
{
    CZarquel* engine = new CZarquel;
    printf("Zarquel V3.0 engine object built (main thread id %lu)\n", engine->MainThreadId);

    const unsigned long heap = 16u << 20;
    engine->Mem->InitHeap(heap);
    void* a = engine->Mem->GetMem(1000);
    void* b = engine->Mem->GetMem(3);
    engine->Mem->FreeMem(a, 1000);
    void* c = engine->Mem->GetMem(200);
    printf("heap of %lu bytes at %p: GetMem(1000) = %p, GetMem(3) = %p, after FreeMem GetMem(200) = %p (reused: %s)\n",
           heap, (void*)engine->Mem->ArenaBase, a, b, c, c == a ? "yes" : "no");

    engine->Vti->TimerRoutine((void*)Tick);
    Sleep(500);
    engine->Vti->EndTimer();
    printf("frame timer: %ld ticks in 0.5 s (nominal rate %d per second), %ld late\n", (long)g_ticks,
           ZVTI_RATE, (long)engine->Vti->TicksLate);
    printf("StillAlive = %lu\n", engine->StillAlive());

    engine->Debug->OutputDebug("zqdemo: %ld timer ticks", (long)g_ticks);
    delete engine;
    printf("engine object destroyed\n");
    return 0;
}
