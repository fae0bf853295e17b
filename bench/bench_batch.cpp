// Batched triangles against one DrawPrimitiveUP per triangle, in the same
// run: 100,000 tiny textured triangles a frame over 1, 10, 100 and 1000
// textures. A 64x64 back buffer and sub-pixel triangles keep fill rate out
// of it; each frame ends when the device has finished it (event query).
// Then the queue alone with the bucket search walking the table every time
// against filing a primitive of the last key straight into its bucket; and
// milliseconds per 256x256 JPEG texture load, mip-mapping on and off.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>
#include <windows.h>
#include <d3d9.h>

#include "zarquel.h"
#include "zh3d.h"
#include "zh3d_local.h"
#include "zmem.h"
#include "zvgs.h"
#include "bench_clock.h"

// "--quick" (the test suite's smoke run) cuts the work to a token amount.
static int TRIANGLES = 100000;
static int FRAMES = 4;
static const int TEXTURES = 1000;
static int LOADS = 20;

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

int main(int argc, char** argv)
{
    if (argc > 1 && strcmp(argv[1], "--quick") == 0) {
        TRIANGLES = 2000;
        FRAMES = 1;
        LOADS = 2;
    }
    CZarquel* z = new CZarquel;
    // 1000 keys of textured triangles keep 1000 stores of 144,000 bytes.
    if (!z->Mem->InitHeap(192u << 20)) {
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
    for (int keys : {1, 10, 100, 1000}) {
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
    if (h3d->PrimitivesRefused)
        printf("(%lu primitives refused: a table or the heap was too small for the frame)\n",
               (unsigned long)h3d->PrimitivesRefused);

    // The queue alone: DrawPoly of a frame's triangles, then the tables
    // emptied undrawn. "runs": each key's triangles come together (an
    // object's faces, material by material); "mixed": keys in turn.
    printf("\nqueue only, %d triangles a frame, best of %d frames: bucket search walking from bucket 0 (walk) "
           "against the last key's bucket first (last)\n", TRIANGLES, FRAMES);
    printf("%5s %6s | %12s %12s | %10s %10s | %7s\n", "keys", "order", "walk tri/s", "last tri/s", "walks/frm",
           "walks/frm", "ratio");
    for (int keys : {1, 10, 100, 1000}) {
        for (int runs = 1; runs >= 0; runs--) {
            for (int i = 0; i < TRIANGLES; i++) {
                const int k = runs ? i / (TRIANGLES / keys) : i % keys;
                tris[i].Texture1 = (uint32_t)(uintptr_t)textures[k];
            }
            double rate[2];
            unsigned long walks[2];
            for (int shortcut = 0; shortcut < 2; shortcut++) {
                h3d->LastBucketShortcut = (unsigned char)shortcut;
                double t = 1e9;
                for (int f = -1; f < FRAMES; f++) {
                    if (f == 0)
                        walks[shortcut] = h3d->BucketWalks;
                    double t0 = Now();
                    for (int i = 0; i < TRIANGLES; i++)
                        h3d->DrawPoly(&tris[i]);
                    if (f >= 0)
                        t = std::min(t, Now() - t0);    // the best frame: the machine is shared
                    h3d->H3D_DeleteTables();
                }
                rate[shortcut] = (double)TRIANGLES / t;
                walks[shortcut] = (h3d->BucketWalks - walks[shortcut]) / FRAMES;
            }
            printf("%5d %6s | %12.0f %12.0f | %10lu %10lu | %6.1fx\n", keys, runs ? "runs" : "mixed", rate[0],
                   rate[1], walks[0], walks[1], rate[1] / rate[0]);
        }
    }
    h3d->LastBucketShortcut = 1;
    printf("ratio: queue rate with the last key's bucket first over the walk\n");

    // Texture loads: read through the file system and decoded by D3DX, then
    // given back so the next load decodes again.
    char folder[MAX_PATH];
    GetCurrentDirectoryA(MAX_PATH, folder);
    if (SetCurrentDirectoryA(ZQ_GFX_FIXTURES)) {
        // Off and on in turn, so drift in the machine's load hits both alike.
        double best[2] = {1e9, 1e9}, sum[2] = {0, 0};
        unsigned long levels[2] = {0, 0};
        for (int i = -1; i < LOADS; i++)      // -1 warms up
            for (int mip = 0; mip < 2; mip++) {
                h3d->SetMipMapping(mip != 0);
                const double t0 = Now();
                const unsigned long t = h3d->LoadTextureFromFile((char*)"big.jpg");
                h3d->UnloadTexture(t);
                const double ms = (Now() - t0) * 1000.0;
                if (i < 0)
                    continue;
                best[mip] = std::min(best[mip], ms);
                sum[mip] += ms;
            }
        for (int mip = 0; mip < 2; mip++) {
            h3d->SetMipMapping(mip != 0);
            const unsigned long t = h3d->LoadTextureFromFile((char*)"big.jpg");
            levels[mip] = ((IDirect3DTexture9*)(uintptr_t)t)->GetLevelCount();
            h3d->UnloadTexture(t);
        }
        h3d->SetMipMapping(false);
        printf("\n256x256 JPEG load (read, decode, create, release), %d loads each, best / mean:\n"
               "  mip-mapping off %.2f / %.2f ms (%lu levels), on %.2f / %.2f ms (%lu levels); on/off (best) %.2fx\n",
               LOADS, best[0], sum[0] / LOADS, levels[0], best[1], sum[1] / LOADS, levels[1], best[1] / best[0]);
        SetCurrentDirectoryA(folder);
    } else {
        printf("\n%s missing: build the host tree first (scripts/zq build); no texture-load figures\n",
               ZQ_GFX_FIXTURES);
    }

    for (IDirect3DTexture9* t : textures)
        if (t)
            t->Release();
    delete z;
    if (window)
        DestroyWindow(window);
    return 0;
}
