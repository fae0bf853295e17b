// The smallest Zarquel application: builds the engine, takes a heap, lets the
// frame timer tick for a moment, opens a window and draws two seconds of
// batched triangles, and reports what happened.
#include <cmath>
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

    // A windowed 640 x 480 display with one 3D layer; a fan of pre-transformed
    // triangles, each ring its own colour-blended batch, turning for 2 s.
    CZVgs* vgs = engine->Vgs;
    CZH3d* h3d = engine->H3d;
    char title[] = "zqdemo";
    HWND window;
    vgs->Init(GetModuleHandleA(NULL), SW_SHOWNORMAL);
    vgs->SelectGraphMode(640, 480, 0, 0, title, &window, 1, 0, ZVGS_DEPTH_TRUE);
    h3d->Init();
    vgs->CreateLayer3D();
    vgs->ClearColor = 0xFF101830;
    const int rings = 4, spokes = 64;
    DWORD start = GetTickCount();
    unsigned long frames = 0, drawCalls = 0, primitives = 0;
    while (GetTickCount() - start < 2000) {
        float t = (GetTickCount() - start) * 0.001f;
        for (int r = 0; r < rings; r++) {
            for (int i = 0; i < spokes; i++) {
                POLYSTRUCT p = {};
                float a0 = t * (r + 1) * 0.5f + i * 6.2831853f / spokes;
                float a1 = a0 + 6.2831853f / spokes * 0.6f;
                float inner = 40.0f + r * 50.0f, outer = inner + 45.0f;
                // Anticlockwise on screen: Init culls clockwise triangles.
                float xs[3] = {cosf(a0) * inner, cosf(a1) * outer, cosf(a0) * outer};
                float ys[3] = {sinf(a0) * inner, sinf(a1) * outer, sinf(a0) * outer};
                for (int v = 0; v < 3; v++) {
                    p.Vertex[v].x = 320 + xs[v];
                    p.Vertex[v].y = 240 + ys[v];
                    p.Vertex[v].z = 0.5f;
                    p.Vertex[v].Diffuse = 0xFF000000u | (0x40u << (r % 3 * 8)) | (v == 2 ? 0xFFFFFFu : 0);
                }
                p.Kind = ZPRIM_COLORED_2D;
                p.Flags = r == rings - 1 ? ZRF_ADDITIVE : 0;
                p.Rhw = 1.0f;
                h3d->DrawPoly(&p);
            }
        }
        vgs->RenderScene(nullptr, nullptr);
        if (frames == 0) {
            printf("drawing\n");   // the smoke test takes its screenshot after this
            fflush(stdout);
        }
        frames++;
        drawCalls += h3d->FrameDrawCalls;
        primitives += h3d->FramePrimitives;
    }
    printf("display: %lu x %lu, %lu bytes per pixel, %lu frames in 2 s, %.1f draw calls and %.0f triangles per frame\n",
           vgs->Width, vgs->Height, vgs->GetPixelSize(), frames, frames ? (double)drawCalls / frames : 0.0,
           frames ? (double)primitives / frames : 0.0);

    engine->Debug->OutputDebug("zqdemo: %ld timer ticks", (long)g_ticks);
    delete engine;
    printf("engine object destroyed\n");
    return 0;
}
