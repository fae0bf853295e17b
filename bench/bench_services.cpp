// The application services against their baselines, in one run:
// - sphere octree (depth 5) of a 20,000-face ball seen half in view:
//   DrawOctreeEntity against DrawAllObject, queuing only and whole frames;
//   TestSphereWithEntity against testing every face;
// - RenderWorld of 500 objects (384 faces each) spread round the camera,
//   with cone culling against without, queuing only and whole frames;
// - 4,000 particle systems of 10 particles, moved, turned and drawn per
//   frame, against a loop that queues the same points directly.
// "--quick" runs a few iterations (the test suite's smoke run).
#include <cmath>
#include <cstdio>
#include <cstring>
#include <windows.h>

#include "zarquel.h"
#include "bench_clock.h"

static uint32_t g_seed = 4242;
static float Rnd(float lo, float hi)
{
    g_seed = g_seed * 1664525u + 1013904223u;
    return lo + (hi - lo) * (g_seed >> 8) / 16777216.0f;
}

// Seconds per call of `work`, over `n` calls after one warm-up.
template <class F> static double Time(int n, F&& work)
{
    work();
    const double t0 = Now();
    for (int i = 0; i < n; i++)
        work();
    return (Now() - t0) / n;
}

static void Row(const char* name, double t, double base, const char* unit = "ms")
{
    printf("  %-44s %10.3f %s %8.2fx\n", name, t * 1e3, unit, base / t);
}

int main(int argc, char** argv)
{
    const bool quick = argc > 1 && strcmp(argv[1], "--quick") == 0;
    const int n = quick ? 2 : 40;
    CZarquel* z = new CZarquel;
    z->Mem->InitHeap(128u << 20);
    char title[] = "bench_services";
    HWND window;
    z->Vgs->Init(GetModuleHandleA(NULL), SW_SHOWNORMAL);
    z->Vgs->SelectGraphMode(640, 480, 0, 0, title, &window, 1, 0, ZVGS_DEPTH_TRUE);
    z->H3d->Init();
    z->Vgs->CreateLayer3D();
    z->Vgs->SetPresent(false);
    CZH3d* h3d = z->H3d;
    CZO3d* o3d = z->O3d;
    o3d->InitCache(20000);
    auto frame = [&] { z->Vgs->RenderScene(nullptr, nullptr); };

    // Sphere octree.
    const unsigned long ball = o3d->LoadObject(ZQ_WORLD_FIXTURES "/ball20k.3do");
    const uint32_t faces = o3d->GetNumberOfFaces(ball);
    z->Octree->InitOctrees(faces, faces);
    const unsigned long deepest = quick ? 3 : 5;
    for (unsigned long depth = 3; depth <= deepest; depth++) {
        unsigned long t = 0;
        const double build = Time(1, [&] {
            if (t)
                z->Octree->DestroyOctreeEntity(t);
            t = z->Octree->CreateOctreeEntity(ball, depth, 0);
        });
        printf("bench_services: octree of depth %lu built in %.1f ms, %u bytes of nodes\n", depth, build * 1e3,
               ((const ZOCTREE_ENTITY*)(uintptr_t)t)->AreaBytes);
        z->Octree->DestroyOctreeEntity(t);
    }
    const unsigned long tree = z->Octree->CreateOctreeEntity(ball, deepest, 0);
    o3d->SetObjectPosition(ball, 0.0f, 0.0f, 0.0f);
    Vector3 eye = {0, 0, -8}, at = {8, 0, 0};
    h3d->SetProyectionParams(1.0f, 1000.0f, 90.0f, 90.0f);
    h3d->SetCameraPosition(&eye, &at, nullptr);
    z->Octree->DrawOctreeEntity(tree, 1);
    printf("bench_services: sphere octree, %u faces, depth %lu, %u faces in visible leaves\n", faces, deepest,
           z->Octree->FacesDrawn);
    const double allQ = Time(n, [&] { o3d->DrawAllObject(ball, 1); h3d->H3D_DeleteTables(); });
    const double octQ = Time(n, [&] { z->Octree->DrawOctreeEntity(tree, 1); h3d->H3D_DeleteTables(); });
    const double allF = Time(n, [&] { o3d->DrawAllObject(ball, 1); frame(); });
    const double octF = Time(n, [&] { z->Octree->DrawOctreeEntity(tree, 1); frame(); });
    Row("DrawAllObject, queuing only", allQ, allQ);
    Row("DrawOctreeEntity, queuing only", octQ, allQ);
    Row("DrawAllObject, whole frame", allF, allF);
    Row("DrawOctreeEntity, whole frame", octF, allF);
    const int spheres = quick ? 5 : 200;
    Sphere3 probe[200];
    for (int i = 0; i < spheres; i++)
        probe[i] = {{Rnd(-6, 6), Rnd(-6, 6), Rnd(-6, 6)}, Rnd(0.1f, 1.0f)};
    POLYSTRUCT* placed = new POLYSTRUCT[faces];
    const ZO3D_FACE* face = (const ZO3D_FACE*)o3d->GetFacesPointer(ball);
    const Vector3* v = (const Vector3*)o3d->GetVertexPointer(ball);
    for (uint32_t f = 0; f < faces; f++)
        for (int c = 0; c < 3; c++) {
            placed[f].Vertex[c].x = v[face[f].Vertex[c]].x;
            placed[f].Vertex[c].y = v[face[f].Vertex[c]].y;
            placed[f].Vertex[c].z = v[face[f].Vertex[c]].z;
        }
    int hitsBrute = 0, hitsTree = 0;
    const double brute = Time(1, [&] {
        hitsBrute = 0;
        for (int i = 0; i < spheres; i++) {
            bool hit = false;
            for (uint32_t f = 0; f < faces && !hit; f++)
                hit = z->Mth->TestSphereToTriangle(&probe[i], &placed[f]);
            hitsBrute += hit;
        }
    }) / spheres;
    const double octS = Time(quick ? 1 : 20, [&] {
        hitsTree = 0;
        for (int i = 0; i < spheres; i++)
            hitsTree += z->Octree->TestSphereWithEntity(tree, &probe[i], 2, true);
    }) / spheres;
    printf("  sphere tests (%d spheres, %d hit; octree agrees: %s)\n", spheres, hitsBrute,
           hitsBrute == hitsTree ? "yes" : "NO");
    Row("every face, per sphere", brute, brute);
    Row("TestSphereWithEntity, per sphere", octS, brute);
    delete[] placed;
    z->Octree->DestroyOctreeEntity(tree);
    o3d->DestroyObject(ball);

    // World of 500 objects round the camera: about a quarter in view.
    CZW3d* w3d = z->W3d;
    const unsigned long proto = o3d->LoadObject(ZQ_WORLD_FIXTURES "/ball.3do");
    for (int i = 0; i < 500; i++) {
        const unsigned long slot = w3d->InsertObjectInScene(o3d->DuplicateObject(proto));
        Vector3 p = {Rnd(-60, 60), Rnd(-20, 20), Rnd(-60, 60)};
        w3d->SetObjectPosition(slot, &p);
    }
    Vector3 camera = {0, 0, 0}, dir = {0, 0, 1};
    w3d->SetCameraPos(&camera, &dir, nullptr, 45.0f);
    w3d->RenderWorld();
    h3d->H3D_DeleteTables();
    printf("bench_services: RenderWorld, 500 objects of %lu faces, %u drawn with culling\n",
           o3d->GetNumberOfFaces(proto), w3d->ObjectsDrawn);
    w3d->SetWorldCulling(false);
    const double offQ = Time(n, [&] { w3d->RenderWorld(); h3d->H3D_DeleteTables(); });
    const double offF = Time(n / 2 + 1, [&] { w3d->RenderWorld(); frame(); });
    w3d->SetWorldCulling(true);
    const double onQ = Time(n, [&] { w3d->RenderWorld(); h3d->H3D_DeleteTables(); });
    const double onF = Time(n / 2 + 1, [&] { w3d->RenderWorld(); frame(); });
    Row("without culling, queuing only", offQ, offQ);
    Row("with culling, queuing only", onQ, offQ);
    Row("without culling, whole frame", offF, offF);
    Row("with culling, whole frame", onF, offF);
    w3d->FreeScene();
    for (unsigned long s = 0; s < ZW3D_MAX_OBJECTS; s++)
        w3d->DeleteObjectFromScene(s);
    o3d->DestroyObject(proto);

    // 4,000 particle systems of 10.
    CZParts* parts = z->Parts;
    static unsigned long systems[ZPARTS_MAX_SYSTEMS];
    for (int s = 0; s < ZPARTS_MAX_SYSTEMS; s++) {
        systems[s] = parts->CreateSystem(10);
        Vector3 base = {Rnd(-50, 50), Rnd(-50, 50), Rnd(10, 100)};
        parts->SetSystemBase(systems[s], &base);
        for (int p = 0; p < 10; p++) {
            Vector3 at = {Rnd(-1, 1), Rnd(-1, 1), Rnd(-1, 1)}, d = {Rnd(-0.01f, 0.01f), 0.01f, 0};
            Vector3 spin = {1, 2, 0};
            parts->InsertParts(systems[s], &at, &d);
            parts->SetParticleRotation(systems[s], p, &spin);
        }
    }
    Vector3 gravity = {0, -0.001f, 0};
    POINTSTRUCT point = {};
    point.Kind = ZPRIM_POINT;
    const double direct = Time(n, [&] {
        for (int s = 0; s < ZPARTS_MAX_SYSTEMS; s++) {
            const ZPARTS_SYSTEM* sys = (const ZPARTS_SYSTEM*)(uintptr_t)systems[s];
            for (uint32_t p = 0; p < sys->Count; p++) {
                point.x = sys->Particles[p].Position.x + sys->Base.x;
                point.y = sys->Particles[p].Position.y + sys->Base.y;
                point.z = sys->Particles[p].Position.z + sys->Base.z;
                h3d->DrawPoint(&point);
            }
        }
        h3d->H3D_DeleteTables();
    });
    const double moved = Time(n, [&] {
        for (int s = 0; s < ZPARTS_MAX_SYSTEMS; s++) {
            parts->ModifyDirection(systems[s], &gravity);
            parts->MoveSystem(systems[s]);
            parts->RotateSystem(systems[s]);
            parts->DrawSystem(systems[s]);
        }
        h3d->H3D_DeleteTables();
    });
    printf("bench_services: 4000 particle systems of 10 (40,000 points) per frame, queuing only\n");
    Row("points queued directly (no move, no turn)", direct, direct);
    Row("ModifyDirection+Move+Rotate+DrawSystem", moved, direct);
    printf("  %.1f million particles moved, turned and queued per second\n", 40000 / moved / 1e6);
    delete z;
    return 0;
}
