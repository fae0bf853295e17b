// The AABB octree on the generated level of rooms and corridors (written by
// bench_octbuild on the host), from camera poses along a walk through every
// room: faces drawn against the faces inside the frustum and the total;
// microseconds per DrawAABBObject without and with the PVS against a
// brute-force per-face frustum test that draws what passes, whole and
// without the handing on of the faces (the same call on both sides); and
// TestAABBWithSphere against testing every colliding face. No device: the
// frustum is set on the renderer directly and what is queued is refused,
// so both sides pay the same for handing faces on. "--quick" runs a few
// poses on the test suite's smaller level.
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>
#include <windows.h>

#include "oct_camera.h"
#include "zarquel.h"
#include "bench_clock.h"

struct Pose {
    Vector3 Eye;
    float Yaw;
};

int main(int argc, char** argv)
{
    const bool quick = argc > 1 && strcmp(argv[1], "--quick") == 0;
    const std::string dir = quick ? ZQ_OCT_FIXTURES : ZQ_BENCH_OCT;
    CZarquel* z = new CZarquel;
    z->Mem->InitHeap(128u << 20);
    if (GetFileAttributesA((dir + "\\rooms_pvs.oct").c_str()) == INVALID_FILE_ATTRIBUTES) {
        printf("bench_oct: no level in %s (run bench_octbuild on the host first)\n", dir.c_str());
        delete z;
        return 0;
    }
    CZO3d* o3d = z->O3d;
    CZOctreeAABB* oct = z->OctreeAABB;
    const unsigned long level = o3d->LoadObject((dir + "\\rooms.3do").c_str());
    const uint32_t F = o3d->GetNumberOfFaces(level);
    oct->Init(F);
    const unsigned long plain = oct->LoadAABBOctree(level, (dir + "\\rooms.oct").c_str());
    const unsigned long pvs = oct->LoadAABBOctree(level, (dir + "\\rooms_pvs.oct").c_str());
    const Vector3* v = (const Vector3*)o3d->GetVertexPointer(level);
    const ZO3D_FACE* faces = (const ZO3D_FACE*)o3d->GetFacesPointer(level);
    float extent = 0;
    for (uint32_t i = 0; i < o3d->GetNumberVertex(level); i++)
        extent = std::max(extent, v[i].x);
    const int rooms = (int)((extent + 16) / 48 + 0.5f);   // rooms 32 wide, 48 apart

    // The walk: room to room in rows, back and forth, looking ahead and to the sides.
    std::vector<Pose> walk;
    for (int j = 0; j < rooms; j++)
        for (int k = 0; k < rooms; k++) {
            const int i = j % 2 ? rooms - 1 - k : k;
            const float x = i * 48 + 16.0f, zz = j * 48 + 16.0f;
            const bool last = k == rooms - 1;
            const float dx = last ? 0 : (j % 2 ? -48.0f : 48.0f), dz = last ? 48.0f : 0;
            const int steps = quick ? 2 : 8;
            for (int s = 0; s < steps; s++) {
                const float t = (float)s / steps;
                const float yaw = atan2f(dx, dz) + (s % 3 - 1) * 0.6f;
                walk.push_back(Pose{{x + dx * t * 0.9f, 6, zz + dz * t * 0.9f}, yaw});
            }
        }
    const int repeats = quick ? 1 : 20;

    std::vector<unsigned long> list(F);
    uint64_t inFrustum = 0, drawnPlain = 0, drawnPvs = 0;
    // The per-face test: a face is out when its three corners are outside one plane.
    auto test = [&]() {
        const Plane* pl = z->H3d->Frustum;
        uint32_t n = 0;
        for (uint32_t f = 0; f < F; f++) {
            const Vector3 c[3] = {v[faces[f].Vertex[0]], v[faces[f].Vertex[1]], v[faces[f].Vertex[2]]};
            bool out = false;
            for (int i = 0; i < 6 && !out; i++) {
                out = true;
                for (int k = 0; k < 3 && out; k++)
                    out = pl[i].a * c[k].x + pl[i].b * c[k].y + pl[i].c * c[k].z + pl[i].d < 0;
            }
            if (!out)
                list[n++] = f;
        }
        return n;
    };
    // Each pose's lists, to time handing them on alone.
    std::vector<std::vector<unsigned long>> lists[2];
    uint64_t range[2] = {0, 0}, nodes[2] = {0, 0}, leaves[2] = {0, 0};
    for (const Pose& p : walk) {
        ZQ_OctCamera(z->H3d, p.Eye, p.Yaw, 0);
        inFrustum += test();
        for (int k = 0; k < 2; k++) {
            const uint32_t n0 = oct->NodesTested, l0 = oct->LeavesReached;
            oct->DrawAABBObject(k ? pvs : plain);
            nodes[k] += oct->NodesTested - n0;
            leaves[k] += oct->LeavesReached - l0;
            range[k] += oct->Highest >= oct->Lowest ? oct->Highest - oct->Lowest + 1 : 0;
            (k ? drawnPvs : drawnPlain) += oct->OutputCount;
            lists[k].emplace_back(oct->FaceFlags, oct->FaceFlags + oct->OutputCount);
        }
    }
    const double poses = (double)walk.size();
    printf("bench_oct: %u faces, %zu poses along the walk\n", F, walk.size());
    printf("faces per pose: %.0f in the frustum (per-face test), %.0f drawn, %.0f drawn with the PVS "
           "(%.0f%% of the frustum's)\n", inFrustum / poses, drawnPlain / poses, drawnPvs / poses,
           100.0 * drawnPvs / std::max<uint64_t>(inFrustum, 1));
    printf("per draw: %.0f / %.0f boxes tested, %.0f / %.0f leaves reached, %.0f / %.0f face numbers scanned "
           "(without / with the PVS)\n", nodes[0] / poses, nodes[1] / poses, leaves[0] / poses, leaves[1] / poses,
           range[0] / poses, range[1] / poses);

    // 0 brute force (test and draw), 1 and 2 DrawAABBObject without and with
    // the PVS, 3 the per-face test alone, 4 and 5 drawing the lists of 1 and
    // 2. Each pose's least time over the repeats: the machine is shared, and
    // a pass the scheduler interrupted says nothing about the pass.
    const size_t P = walk.size();
    std::vector<double> least(6 * P, 1e9);
    for (int r = 0; r < repeats; r++) {
        for (int m = 0; m < 6; m++) {
            for (size_t i = 0; i < P; i++) {
                ZQ_OctCamera(z->H3d, walk[i].Eye, walk[i].Yaw, 0);
                const double t0 = Now();
                if (m == 0 || m == 3) {
                    const uint32_t n = test();
                    if (m == 0)
                        o3d->DrawPartialObject(level, list.data(), n, 0);
                } else if (m < 3) {
                    oct->DrawAABBObject(m == 1 ? plain : pvs);
                } else {
                    std::vector<unsigned long>& l = lists[m - 4][i];
                    o3d->DrawPartialObject(level, l.data(), (unsigned long)l.size(), 0);
                }
                least[m * P + i] = std::min(least[m * P + i], Now() - t0);
            }
        }
    }
    double best[6] = {0, 0, 0, 0, 0, 0};
    for (int m = 0; m < 6; m++)
        for (size_t i = 0; i < P; i++)
            best[m] += least[m * P + i] / poses * 1e6;
    // Handing faces on (CZO3d::DrawPartialObject) costs the same per face on
    // both sides; the culling is compared without it, each side less the
    // handing on of its own list.
    printf("us per draw, handing the faces on included: %.1f brute force (%.1f per-face test + %.1f), %.1f "
           "DrawAABBObject (%.1f%%), %.1f with the PVS (%.1f%%)\n", best[0], best[3], best[0] - best[3], best[1],
           100 * best[1] / best[0], best[2], 100 * best[2] / best[0]);
    printf("us per cull, without handing on: %.1f per-face test, %.1f DrawAABBObject (%.1f%%), %.1f with the PVS "
           "(%.1f%%); target at most 10%%\n", best[3], best[1] - best[4], 100 * (best[1] - best[4]) / best[3],
           best[2] - best[5], 100 * (best[2] - best[5]) / best[3]);

    // Collision: player-sized spheres along the walk, on the floor and
    // against walls, with faces tested, against every colliding face.
    std::vector<Sphere3> spheres;
    for (const Pose& p : walk)
        for (int k = 0; k < 8; k++)
            spheres.push_back(Sphere3{{p.Eye.x + (k - 4) * 3.9f, 1.9f + (k % 3), p.Eye.z + (k % 2 ? 14.5f : -3)}, 2});
    int hitsTree = 0, hitsBrute = 0;
    double tTree = 1e9, tBrute = 1e9;
    POLYSTRUCT poly;
    memset(&poly, 0, sizeof(poly));
    for (int r = 0; r < (quick ? 1 : 5); r++) {
        double t0 = Now();
        hitsTree = 0;
        for (Sphere3& s : spheres)
            hitsTree += oct->TestAABBWithSphere(plain, &s, true);
        tTree = std::min(tTree, (Now() - t0) / spheres.size() * 1e6);
        t0 = Now();
        hitsBrute = 0;
        for (Sphere3& s : spheres) {
            bool hit = false;
            for (uint32_t f = 0; f < F && !hit; f++) {
                if (faces[f].Material == 2)
                    continue;
                for (int c = 0; c < 3; c++) {
                    poly.Vertex[c].x = v[faces[f].Vertex[c]].x;
                    poly.Vertex[c].y = v[faces[f].Vertex[c]].y;
                    poly.Vertex[c].z = v[faces[f].Vertex[c]].z;
                }
                hit = z->Mth->TestSphereToTriangle(&s, &poly);
            }
            hitsBrute += hit;
        }
        tBrute = std::min(tBrute, (Now() - t0) / spheres.size() * 1e6);
    }
    printf("us per sphere test: %.2f TestAABBWithSphere, %.1f brute force (%.2f%%); %d of %zu collide (brute "
           "force: %d)\n", tTree, tBrute, 100 * tTree / tBrute, hitsTree, spheres.size(), hitsBrute);
    oct->DestroyAABBOctree(plain);
    oct->DestroyAABBOctree(pvs);
    o3d->DestroyObject(level);
    delete z;
    return 0;
}
