// DrawAllObject of a 5,000-face, two-frame object blended halfway, in each
// drawing mode, against one hand-written loop that fills POLYSTRUCTs from
// the object's arrays and queues them (the floor of what the batching can
// take); and loading a 1 MB object against reading the same file whole.
// Queuing only: the tables are emptied between draws, nothing is rendered.
// "--quick" runs a few iterations (the test suite's smoke run).
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <windows.h>
#include <d3d9.h>

#include "zarquel.h"
#include "bench_clock.h"

// The floor: what any object drawer must do per face in mode 0.
static void HandLoop(CZH3d* h3d, unsigned long object, CZO3d* o3d)
{
    const Vector3* v = (const Vector3*)o3d->GetVertexPointer(object);
    const Vector3* n = (const Vector3*)o3d->GetObjectNormalsPointer(object);
    const ZO3D_FACE* face = (const ZO3D_FACE*)o3d->GetFacesPointer(object);
    const ZO3D_MATERIAL* m = (const ZO3D_MATERIAL*)(uintptr_t)((const ZO3D_HEADER*)object)->Materials;
    const uint32_t faces = o3d->GetNumberOfFaces(object);
    POLYSTRUCT p;
    memset(&p, 0, sizeof(p));
    for (uint32_t f = 0; f < faces; f++, face++) {
        const ZO3D_MATERIAL& mat = m[face->Material];
        for (int c = 0; c < 3; c++) {
            const uint32_t k = face->Vertex[c];
            POLYVERTEX& pv = p.Vertex[c];
            pv.x = v[k].x;
            pv.y = v[k].y;
            pv.z = v[k].z;
            pv.nx = n[k].x;
            pv.ny = n[k].y;
            pv.nz = n[k].z;
            pv.Diffuse = 0x00FFFFFF;
            pv.u = face->Map[2 * c];
            pv.v = face->Map[2 * c + 1];
        }
        p.Texture1 = mat.Texture1;
        p.Kind = mat.Type;
        p.Flags = mat.Flags;
        h3d->DrawPoly(&p);
    }
}

int main(int argc, char** argv)
{
    const bool quick = argc > 1 && strcmp(argv[1], "--quick") == 0;
    const int draws = quick ? 3 : 400, loads = quick ? 2 : 200;
    CZarquel* z = new CZarquel;
    if (!z->Mem->InitHeap(64u << 20)) {
        printf("bench_o3d: no heap\n");
        return 1;
    }
    CZVgs* vgs = z->Vgs;
    CZH3d* h3d = z->H3d;
    CZO3d* o3d = z->O3d;
    HWND window = NULL;
    char title[] = "bench_o3d";
    vgs->Init(GetModuleHandleA(NULL), SW_SHOWNORMAL);
    vgs->SelectGraphMode(64, 64, 0, 0, title, &window, 1, 0, ZVGS_DEPTH_TRUE);
    h3d->Init();
    vgs->CreateLayer3D();
    vgs->SetPresent(false);
    if (!vgs->Device) {
        printf("bench_o3d: no device\n");
        return 1;
    }
    IDirect3DTexture9* texture = nullptr;
    vgs->Device->CreateTexture(4, 4, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &texture, NULL);
    o3d->InitCache(25000);

    const unsigned long obj = o3d->LoadObject(ZQ_BENCH_O3D "\\bench5000.3do");
    o3d->SetMaterialTextured(obj, 0, 0, (uint32_t)(uintptr_t)texture, 0, 0);
    o3d->SetActualFrame(obj, 0, 0.5f);
    o3d->SetObjectAngles(obj, 30.0f, 60.0f, 90.0f);
    o3d->FloatAngles = 1;
    const double faces = o3d->GetNumberOfFaces(obj);

    // Five variants (the hand loop, then modes 0 to 3), interleaved in rounds
    // so a shared machine's load falls on all of them; the best round counts.
    // Every round queues the object `draws` / 5 times, emptying the tables
    // after each.
    const int perRound = draws / 5 + 1;
    double best[5] = {1e30, 1e30, 1e30, 1e30, 1e30};
    for (int round = -1; round < 5; round++) {   // round -1 warms up
        for (int k = 0; k < 5; k++) {
            const double t0 = Now();
            for (int i = 0; i < perRound; i++) {
                if (k == 0)
                    HandLoop(h3d, obj, o3d);
                else
                    o3d->DrawAllObject(obj, k - 1);
                h3d->H3D_DeleteTables();
            }
            if (round >= 0)
                best[k] = std::min(best[k], (Now() - t0) / perRound);
        }
    }
    printf("bench_o3d: %.0f faces, 2 frames blended at 0.5, best of 5 rounds of %d draws, queuing only\n", faces,
           perRound);
    printf("%-28s %12s %14s %8s\n", "", "us/draw", "faces/s", "ratio");
    const char* names[5] = {"hand-written POLYSTRUCT loop", "DrawAllObject mode 0", "DrawAllObject mode 1",
                            "DrawAllObject mode 2 (blend)", "DrawAllObject mode 3 (blend)"};
    for (int k = 0; k < 5; k++)
        printf("%-28s %12.1f %14.0f %7.2fx\n", names[k], best[k] * 1e6, faces / best[k], best[k] / best[0]);
    printf("ratio: time per draw over the hand-written loop's\n");
    o3d->DestroyObject(obj);

    // Loading: the same whole read the loader does, without the check and relocation.
    const char* big = ZQ_BENCH_O3D "\\big.3do";
    auto readWhole = [&] {
        unsigned long f = z->Xfs->OpenFile(big);
        const unsigned long size = z->Xfs->GetFileSize(f);
        void* block = z->Mem->GetMem(size);
        z->Xfs->ReadFile(f, block, size);
        z->Xfs->CloseFile(f);
        z->Mem->FreeMem(block, size);
        return size;
    };
    const unsigned long bytes = readWhole();
    double t0 = Now();
    for (int i = 0; i < loads; i++)
        readWhole();
    const double read = (Now() - t0) / loads;
    t0 = Now();
    for (int i = 0; i < loads; i++)
        o3d->DestroyObject(o3d->LoadObject(big));
    const double load = (Now() - t0) / loads;
    printf("loading a %lu-byte object: %.0f us (whole read alone %.0f us), %.2fx\n", bytes, load * 1e6, read * 1e6,
           load / read);

    texture->Release();
    delete z;
    if (window)
        DestroyWindow(window);
    return 0;
}
