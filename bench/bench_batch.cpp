// Batched triangles against one DrawPrimitiveUP per triangle, in the same
// run: 100,000 tiny textured triangles a frame over 1, 10 and 100 textures.
// A 64x64 back buffer and sub-pixel triangles keep fill rate out of it;
// each frame ends when the device has finished it (event query).
#include <cstdio>
#include <vector>
#include <windows.h>
#include <d3d9.h>

#include "zarquel.h"
#include "zh3d.h"
#include "zh3d_local.h"
#include "zmem.h"
#include "zvgs.h"

static const int TRIANGLES = 100000;
static const int FRAMES = 4;
static const int TEXTURES = 100;

static double Now()
{
    static LARGE_INTEGER f;
    if (!f.QuadPart)
        QueryPerformanceFrequency(&f);
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return (double)t.QuadPart / (double)f.QuadPart;
}

static void WaitForDevice(IDirect3DDevice9* device)
{
    IDirect3DQuery9* q = nullptr;
    if (FAILED(device->CreateQuery(D3DQUERYTYPE_EVENT, &q)) || !q)
        return;
    q->Issue(D3DISSUE_END);
    while (q->GetData(NULL, 0, D3DGETDATA_FLUSH) == S_FALSE) {
    }
    q->Release();
}

// A triangle a hundredth of a pixel across, in front of the default camera.
static void MakeTriangle(POLYSTRUCT* p, int i)
{
    float x = (float)(i % 200) * 0.01f - 1.0f, y = (float)(i / 200 % 200) * 0.01f - 1.0f;
    const float dx[3] = {0, 0.0005f, 0}, dy[3] = {0, 0, -0.0005f};
    for (int v = 0; v < 3; v++) {
        POLYVERTEX& pv = p->Vertex[v];
        pv.x = x + dx[v];
        pv.y = y + dy[v];
        pv.z = 5.0f;
        pv.nx = pv.ny = 0;
        pv.nz = -1;
        pv.Diffuse = 0xFFFFFFFF;
        pv.Specular = 0;
        pv.u = pv.u2 = (float)v;
        pv.v = pv.v2 = 0;
    }
    p->Texture2 = p->Texture3 = 0;
    p->Kind = ZPRIM_TEXTURED;
    p->Flags = 0;
    p->Rhw = 1.0f;
}

int main()
{
    CZarquel* z = new CZarquel;
    if (!z->Mem->InitHeap(64u << 20)) {
        printf("bench_batch: no heap\n");
        return 1;
    }
    CZVgs* vgs = z->Vgs;
    CZH3d* h3d = z->H3d;
    HWND window = NULL;
    char title[] = "bench_batch";
    vgs->Init(GetModuleHandleA(NULL), SW_SHOWNORMAL);
    vgs->SelectGraphMode(64, 64, 0, 0, title, &window, 1, 0, ZVGS_DEPTH_TRUE);
    h3d->Init();
    vgs->CreateLayer3D();
    vgs->SetPresent(false);
    IDirect3DDevice9* device = vgs->Device;
    if (!device) {
        printf("bench_batch: no device\n");
        return 1;
    }
    h3d->SetCullingState(false, false);

    std::vector<IDirect3DTexture9*> textures(TEXTURES, nullptr);
    for (IDirect3DTexture9*& t : textures) {
        device->CreateTexture(4, 4, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &t, NULL);
        D3DLOCKED_RECT lr;
        if (t && SUCCEEDED(t->LockRect(0, &lr, NULL, 0))) {
            for (int y = 0; y < 4; y++)
                for (int x = 0; x < 4; x++)
                    ((uint32_t*)((uint8_t*)lr.pBits + y * lr.Pitch))[x] = 0xFF000000u | (uint32_t)(uintptr_t)t;
            t->UnlockRect(0);
        }
    }
    std::vector<POLYSTRUCT> tris(TRIANGLES);
    for (int i = 0; i < TRIANGLES; i++)
        MakeTriangle(&tris[i], i);

    printf("bench_batch: %d textured triangles a frame, %d frames each, 64x64 back buffer\n", TRIANGLES, FRAMES);
    printf("%5s | %12s %12s %12s %10s | %12s %10s | %8s\n", "keys", "queue tri/s", "draw tri/s", "total tri/s",
           "calls/frm", "naive tri/s", "calls/frm", "ratio");
    for (int keys : {1, 10, 100}) {
        for (int i = 0; i < TRIANGLES; i++)
            tris[i].Texture1 = (uint32_t)(uintptr_t)textures[i % keys];

        // Batched: queue through DrawPoly, draw through RenderScene.
        double queue = 0, draw = 0;
        unsigned long calls = 0;
        for (int f = -1; f < FRAMES; f++) {     // frame -1 warms up
            double t0 = Now();
            for (int i = 0; i < TRIANGLES; i++)
                h3d->DrawPoly(&tris[i]);
            double t1 = Now();
            vgs->RenderScene(nullptr, nullptr);
            WaitForDevice(device);
            double t2 = Now();
            if (f >= 0) {
                queue += t1 - t0;
                draw += t2 - t1;
                calls += h3d->FrameDrawCalls;
            }
        }

        // Naive: one DrawPrimitiveUP per triangle with its SetTexture.
        double naive = 0;
        unsigned long naiveCalls = 0;
        for (int f = -1; f < FRAMES; f++) {
            double t0 = Now();
            device->Clear(0, NULL, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0, 1.0f, 0);
            device->BeginScene();
            device->SetFVF(ZH3D_FVF_TRIS_TEXTURED);
            device->SetVertexShader(NULL);
            device->SetPixelShader(NULL);
            device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
            device->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
            device->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_DISABLE);
            device->SetRenderState(D3DRS_ALPHABLENDENABLE, 0);
            for (int i = 0; i < TRIANGLES; i++) {
                device->SetTexture(0, (IDirect3DBaseTexture9*)(uintptr_t)tris[i].Texture1);
                device->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, tris[i].Vertex, sizeof(POLYVERTEX));
            }
            device->EndScene();
            WaitForDevice(device);
            double t1 = Now();
            if (f >= 0) {
                naive += t1 - t0;
                naiveCalls += TRIANGLES;
            }
        }
        device->SetTexture(0, NULL);

        const double n = (double)TRIANGLES * FRAMES;
        printf("%5d | %12.0f %12.0f %12.0f %10.1f | %12.0f %10.1f | %7.1fx\n", keys, n / queue, n / draw,
               n / (queue + draw), (double)calls / FRAMES, n / naive, (double)naiveCalls / FRAMES,
               naive / (queue + draw));
    }
    printf("ratio: naive time over batched time (queue + draw) for the same triangles\n");

    for (IDirect3DTexture9* t : textures)
        if (t)
            t->Release();
    delete z;
    if (window)
        DestroyWindow(window);
    return 0;
}
