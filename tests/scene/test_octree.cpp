// The AABB octree without a device: small hand-made trees for the exact
// rules, damaged files, and the generated level of the host build checked
// against brute force (frustum, PVS, collision). The frustum is set on the
// renderer's public planes directly; what is queued is refused (no device)
// and only the face lists are looked at.
#include <cmath>
#include <cstring>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "gfx_fixture.h"
#include "oct_camera.h"
#include "zh3d_local.h"
#include "zarquel.h"
#include "zqtest.h"

namespace {

std::string Fixture(const char* name)
{
    return std::string(ZQ_OCT_FIXTURES) + "\\" + name;
}

// A leaf under its own box, below one root box.
struct MiniLeaf {
    Vector3 Lo, Hi;
    std::vector<uint32_t> List1, List2, Visible;
    uint32_t Cell = 0;
};

AABBNode Box(Vector3 lo, Vector3 hi)
{
    AABBNode n;
    memset(&n, 0, sizeof(n));
    for (int i = 0; i < 8; i++) {
        const bool mx = i == 1 || i == 2 || i == 5 || i == 6, my = i == 2 || i == 3 || i == 6 || i == 7, mz = i >= 4;
        n.Cube.Corner[i] = Vector3{mx ? hi.x : lo.x, my ? hi.y : lo.y, mz ? hi.z : lo.z};
    }
    n.Min = lo;
    n.Max = hi;
    return n;
}

// Header, root node, one node per leaf, the leaf records, the lists.
std::string MiniTree(Vector3 lo, Vector3 hi, const std::vector<MiniLeaf>& leaves, uint32_t cells = 0)
{
    const uint32_t n = (uint32_t)leaves.size();
    std::string out(40 + 128 * (1 + 2 * n), '\0');
    auto put = [&out](size_t at, const void* p, size_t bytes) { memcpy(&out[at], p, bytes); };
    AABBNode root = Box(lo, hi);
    root.ChildCount = n;
    root.Children = 40 + 128;
    put(40, &root, 128);
    for (uint32_t i = 0; i < n; i++) {
        const MiniLeaf& m = leaves[i];
        AABBNode node = Box(m.Lo, m.Hi);
        node.ChildCount = 1;
        node.Children = 40 + 128 * (1 + n + i);
        put(40 + 128 * (1 + i), &node, 128);
        AABBLeaf leaf;
        memset(&leaf, 0, sizeof(leaf));
        leaf.Marker = ZOCT_LEAF_MARKER;
        leaf.Highest = 0;
        leaf.Lowest = 0xFFFFFFFFu;
        const std::vector<uint32_t>* lists[3] = {&m.List1, &m.List2, &m.Visible};
        uint32_t* fields[3][2] = {{&leaf.Count1, &leaf.List1}, {&leaf.Count2, &leaf.List2},
                                  {&leaf.VisibleCount, &leaf.Visible}};
        for (int k = 0; k < 3; k++) {
            *fields[k][0] = (uint32_t)lists[k]->size();
            *fields[k][1] = (uint32_t)out.size();
            for (uint32_t v : *lists[k]) {
                out.append((const char*)&v, 4);
                if (k < 2) {
                    leaf.Highest = std::max(leaf.Highest, v);
                    leaf.Lowest = std::min(leaf.Lowest, v);
                }
            }
        }
        leaf.Cell = m.Cell;
        put(node.Children, &leaf, 128);
    }
    AABBHeader h;
    memset(&h, 0, sizeof(h));
    h.Root = 40;
    h.Pvs = cells ? ZOCT_PVS : 0;
    h.FileSize = (uint32_t)out.size();
    h.Cells = cells;
    h.CameraRadius = 0.25f;
    put(0, &h, 40);
    return out;
}

// Every plane far behind: everything is inside.
void SeeAll(CZH3d* h3d)
{
    const float n[6][3] = {{1, 0, 0}, {-1, 0, 0}, {0, 1, 0}, {0, -1, 0}, {0, 0, 1}, {0, 0, -1}};
    for (int i = 0; i < 6; i++)
        h3d->Frustum[i] = Plane{n[i][0], n[i][1], n[i][2], 1000};
}

class Octree : public ::testing::Test {
protected:
    void SetUp() override
    {
        z = new CZarquel;
        ASSERT_TRUE(z->Mem->InitHeap(64u << 20));
        t = z->OctreeAABB;
        t->Init(20000);
        cube = z->O3d->CreateCube(1, 1, 1);   // 12 faces, placed at (0, 0, 5)
        SeeAll(z->H3d);
    }
    void TearDown() override { delete z; }
    unsigned long LoadImage(const std::string& bytes, unsigned long object)
    {
        const std::string path = ZQ_TempPath("zq_mini.oct");
        ZQ_WriteFile(path, bytes);
        const unsigned long oct = t->LoadAABBOctree(object, path.c_str());
        DeleteFileA(path.c_str());
        return oct;
    }
    std::vector<uint32_t> Listed() const
    {
        return std::vector<uint32_t>(t->FaceFlags, t->FaceFlags + t->OutputCount);
    }
    CZarquel* z;
    CZOctreeAABB* t;
    unsigned long cube;
};

}  // namespace

TEST(OctreeEngine, CreatedAndLinkedByTheEngineObject)
{
    CZarquel* z = new CZarquel;
    ASSERT_NE(nullptr, z->OctreeAABB);
    CZOctreeAABB* t = z->OctreeAABB;
    EXPECT_EQ(z->Mem, t->Mem);
    EXPECT_EQ(z->Mth, t->Mth);
    EXPECT_EQ(z->O3d, t->O3d);
    EXPECT_EQ(z->H3d, t->H3d);
    EXPECT_EQ(z->Debug, t->Debug);
    EXPECT_EQ(z->Xfs, t->Xfs);
    EXPECT_EQ(1u, t->Highest);
    EXPECT_EQ(0u, t->Lowest);
    EXPECT_EQ(nullptr, t->FaceFlags);
    delete z;
}

// Duplicates between leaves, ascending order, the reset of the last pass,
// PVS off, and a subtree completely inside.
TEST_F(Octree, FacesOfVisibleLeavesAreListedOnceAscendingAndResetByTheNextPass)
{
    const std::vector<MiniLeaf> leaves = {{{-1, -1, -1}, {0, 1, 1}, {5, 3, 1}, {}, {}},
                                          {{0, -1, -1}, {1, 1, 1}, {3, 2}, {7}, {}}};
    const unsigned long oct = LoadImage(MiniTree({-1, -1, -1}, {1, 1, 1}, leaves), cube);
    const AABBHeader* h = (const AABBHeader*)oct;
    EXPECT_EQ(cube, h->Object);
    EXPECT_EQ(0u, h->Visibility) << "no PVS: no visibility buffer";

    t->DrawAABBObject(oct);
    EXPECT_EQ((std::vector<uint32_t>{1, 2, 3, 5, 7}), Listed());
    EXPECT_EQ(1u, t->NodesTested) << "the root is inside: the leaves' boxes are never tested";
    EXPECT_EQ(5u, z->O3d->FacesQueued) << "the list went to DrawPartialObject";

    // Only the right half in view: its leaf alone, and nothing of the last
    // pass left marked anywhere in the array.
    z->H3d->Frustum[0] = Plane{1, 0, 0, -0.5f};
    t->DrawAABBObject(oct);
    EXPECT_EQ((std::vector<uint32_t>{2, 3, 7}), Listed());
    z->H3d->Frustum[0] = Plane{1, 0, 0, -5};
    t->DrawAABBObject(oct);
    EXPECT_TRUE(Listed().empty());
    for (uint32_t i = 0; i < 20000; i++)
        ASSERT_EQ(ZAABB_FACE_OUT, t->FaceFlags[i]) << i;

    // Init again with fewer flags than the cube has faces: every pass is refused.
    t->Init(8);
    SeeAll(z->H3d);
    Sphere3 s = {{0, 0, 5}, 2};
    t->DrawAABBObject(oct);
    t->DrawDynamicLight(oct, &s, 0, 0);
    EXPECT_FALSE(t->TestAABBWithSphere(oct, &s, false));
    EXPECT_EQ(3u, t->PassesRefused);
    EXPECT_EQ(0u, t->OutputCount);
    t->DestroyAABBOctree(oct);
}

TEST_F(Octree, ANodeCompletelyInsideCollectsEveryLeafBelowWithoutTests)
{
    // The leaves' own boxes lie far outside: never looked at below an inside node.
    const std::vector<MiniLeaf> leaves = {{{50, 50, 50}, {60, 60, 60}, {4}, {}, {}},
                                          {{-60, 0, 0}, {-50, 1, 1}, {6}, {}, {}}};
    const unsigned long oct = LoadImage(MiniTree({-1, -1, -1}, {1, 1, 1}, leaves), cube);
    t->DrawAABBObject(oct);
    EXPECT_EQ((std::vector<uint32_t>{4, 6}), Listed());
    // A root that straddles a plane tests its children: one is outside.
    z->H3d->Frustum[0] = Plane{1, 0, 0, 0};
    t->DrawAABBObject(oct);
    EXPECT_EQ((std::vector<uint32_t>{4}), Listed());
    t->DestroyAABBOctree(oct);
}

TEST_F(Octree, PvsDrawsOnlyLeavesWhoseCellTheCameraCellsSee)
{
    // Cell 0 (left) sees itself; cell 1 (right) sees both.
    std::vector<MiniLeaf> leaves = {{{-1, -1, -1}, {0, 1, 1}, {0, 1}, {}, {0}, 0},
                                    {{0, -1, -1}, {1, 1, 1}, {2}, {3}, {0, 1}, 1}};
    const unsigned long oct = LoadImage(MiniTree({-1, -1, -1}, {1, 1, 1}, leaves, 2), cube);
    const AABBHeader* h = (const AABBHeader*)oct;
    ASSERT_NE(0u, h->Visibility);
    const uint8_t* visibility = (const uint8_t*)(uintptr_t)h->Visibility;
    z->H3d->CameraPosition = Vector3{-0.7f, 0, 0};   // camera sphere radius 0.5: touches only the left box
    t->DrawAABBObject(oct);
    EXPECT_EQ((std::vector<uint32_t>{0, 1}), Listed());
    EXPECT_EQ(0, visibility[0] | visibility[1]) << "the buffer is all zero between calls";
    z->H3d->CameraPosition = Vector3{0.7f, 0, 0};
    t->DrawAABBObject(oct);
    EXPECT_EQ((std::vector<uint32_t>{0, 1, 2, 3}), Listed());
    z->H3d->CameraPosition = Vector3{5, 0, 0};   // touches no box: nothing is seen
    t->DrawAABBObject(oct);
    EXPECT_TRUE(Listed().empty());
    t->DestroyAABBOctree(oct);
}

TEST_F(Octree, SpheresTouchBoxesInclusivelyAndCollideOnlyWithFaceList1)
{
    // The cube's faces lie at z = 4 and 6 etc. in world space; the tree's
    // boxes are in the same space. Face 0 and 1 (z = +1 side, world z = 6)
    // collide; faces 4 and 5 (z = -1 side, world z = 4) are only drawn.
    const std::vector<MiniLeaf> leaves = {{{-1, -1, 3.5f}, {1, 1, 6.5f}, {0, 1}, {4, 5}, {}}};
    const unsigned long oct = LoadImage(MiniTree({-1, -1, 3.5f}, {1, 1, 6.5f}, leaves), cube);
    Sphere3 s = {{0, 0, 8.5f}, 2};   // exactly its radius from the boxes
    EXPECT_TRUE(t->TestAABBWithSphere(oct, &s, false)) << "touching counts";
    s.Radius = 1.999f;
    EXPECT_FALSE(t->TestAABBWithSphere(oct, &s, false));
    s = Sphere3{{0, 0, 6.2f}, 0.5f};   // through the face-list-1 side
    EXPECT_TRUE(t->TestAABBWithSphere(oct, &s, true));
    s = Sphere3{{0, 0, 4.0f}, 0.5f};   // through the only-drawn side: a touched box, no collision
    EXPECT_TRUE(t->TestAABBWithSphere(oct, &s, false));
    EXPECT_FALSE(t->TestAABBWithSphere(oct, &s, true));
    t->DestroyAABBOctree(oct);
}

TEST_F(Octree, LightPassListsFacesNearTheSphereUnlessItIsOutsideTheFrustum)
{
    const std::vector<MiniLeaf> leaves = {{{-1, -1, -1}, {0, 1, 1}, {0, 1}, {}, {}},
                                          {{5, 5, 5}, {6, 6, 6}, {2}, {9}, {}}};
    const unsigned long oct = LoadImage(MiniTree({-1, -1, -1}, {6, 6, 6}, leaves), cube);
    Sphere3 light = {{-2, 0, 0}, 1.5f};
    t->DrawDynamicLight(oct, &light, 0, 0);
    EXPECT_EQ((std::vector<uint32_t>{0, 1}), Listed());
    const uint32_t listed = t->FacesListed;
    // Exactly its radius behind the left plane: outside, nothing happens.
    z->H3d->Frustum[0] = Plane{1, 0, 0, 0.5f};
    t->DrawDynamicLight(oct, &light, 0, 0);
    EXPECT_EQ(listed, t->FacesListed);
    z->H3d->Frustum[0] = Plane{1, 0, 0, 0.5001f};
    t->DrawDynamicLight(oct, &light, 0, 0);
    EXPECT_EQ(listed + 2, t->FacesListed);
    t->DestroyAABBOctree(oct);
}

// What the light pass queues, read back from the renderer's batch store.
TEST(OctreeLight, EachListedFaceIsQueuedAdditiveWithTheLightsFalloffMapping)
{
    ZQGfx g;
    ASSERT_TRUE(g.Open());
    CZarquel* z = g.Z;
    z->OctreeAABB->Init(100);
    const unsigned long cube = z->O3d->CreateCube(1, 1, 1);   // corners at +-1, placed at (0, 0, 5)
    const std::vector<MiniLeaf> leaves = {{{-1, -1, -1}, {1, 1, 1}, {1}, {0}, {}}};
    const std::string path = ZQ_TempPath("zq_light.oct");
    ZQ_WriteFile(path, MiniTree({-1, -1, -1}, {1, 1, 1}, leaves));
    const unsigned long oct = z->OctreeAABB->LoadAABBOctree(cube, path.c_str());
    DeleteFileA(path.c_str());
    SeeAll(z->H3d);
    Sphere3 light = {{0.5f, 0, 0}, 2};   // near the cube's faces as stored (its position is not added)
    z->OctreeAABB->DrawDynamicLight(oct, &light, 0x1111, 0x2222);
    const ZH3D_BUCKET& b = z->H3d->Tables[ZH3D_TRIS_TEXTURED][0];
    ASSERT_EQ(2u, b.Count);
    EXPECT_EQ(ZAABB_LIGHT_FLAGS, b.Flags);
    EXPECT_EQ(0x1111u, b.Texture1);
    EXPECT_EQ(0x2222u, b.Texture2);
    const POLYVERTEX* v = (const POLYVERTEX*)(uintptr_t)b.Store;
    const ZO3D_FACE* faces = (const ZO3D_FACE*)z->O3d->GetFacesPointer(cube);
    const Vector3* corners = (const Vector3*)z->O3d->GetVertexPointer(cube);
    for (int f = 0; f < 2; f++)
        for (int c = 0; c < 3; c++) {
            const POLYVERTEX& pv = v[3 * f + c];
            const Vector3& q = corners[faces[f].Vertex[c]];
            EXPECT_EQ(q.x, pv.x);
            EXPECT_EQ(q.z, pv.z);
            EXPECT_FLOAT_EQ((q.x - 0.5f) * 0.25f + 0.5f, pv.u);
            EXPECT_FLOAT_EQ(q.y * 0.25f + 0.5f, pv.v);
            EXPECT_FLOAT_EQ(q.z * 0.25f + 0.5f, pv.u2);
            EXPECT_EQ(0.5f, pv.v2);
            EXPECT_EQ(0u, pv.Diffuse | pv.Specular);
        }
    z->H3d->H3D_DeleteTables();
    z->OctreeAABB->DestroyAABBOctree(oct);
    g.Close();
}

// ---------------------------------------------------------------------------
// Damaged files

ZQ_CHILD(LoadOctree)
{
    CZarquel* z = new CZarquel;
    z->Mem->InitHeap(8u << 20);
    char name[MAX_PATH] = {0}, init[32] = {0};
    GetEnvironmentVariableA("ZQ_OCT_FILE", name, sizeof(name));
    GetEnvironmentVariableA("ZQ_OCT_INIT", init, sizeof(init));
    z->OctreeAABB->Init(strtoul(init, nullptr, 10));
    const unsigned long cube = z->O3d->CreateCube(1, 1, 1);
    z->OctreeAABB->LoadAABBOctree(cube, name);
    delete z;
}

TEST(OctreeDamaged, EachDamageEndsTheProgramNamingTheFileAndTheFault)
{
    const std::vector<MiniLeaf> leaves = {{{-1, -1, -1}, {0, 1, 1}, {5, 3}, {}, {0}, 0},
                                          {{0, -1, -1}, {1, 1, 1}, {3}, {}, {1}, 1}};
    const std::string good = MiniTree({-1, -1, -1}, {1, 1, 1}, leaves, 2);
    const uint32_t leaf0 = 40 + 128 * 3, list0 = 40 + 128 * 5;
    struct Case {
        const char* Name;
        size_t At;         // SIZE_MAX: cut to Value bytes
        uint32_t Value;
        const char* Init;
        std::string Why;
    } const cases[] = {
        {"cut.oct", SIZE_MAX, 300, "100", "the header says " + std::to_string(good.size()) + " bytes, the file has 300"},
        {"count.oct", 40 + 96, 0x01000002, "100", "a node array at offset 168 runs past the end of the file"},
        {"face.oct", list0, 12, "100", "face 12 in a leaf's list at offset " + std::to_string(list0) +
                                          " is not below 12"},
        {"cell.oct", leaf0 + 28, 2, "100", "a leaf's cell 2 is not below the cell count 2"},
        {"loop.oct", 40 + 128 + 100, 40 + 128, "100",
         "node arrays loop (at offset 168)"},
        {"shared.oct", 40 + 128 * 2 + 100, 40 + 128 * 3, "100",
         "the node array at offset 424 overlaps other data (node arrays loop or are shared)"},
        {"init.oct", SIZE_MAX, (uint32_t)good.size(), "8",
         "the object has 12 faces but Init was given 8: call Init with at least the faces of the largest object"},
    };
    for (const Case& c : cases) {
        std::string bytes = good;
        if (c.At == SIZE_MAX)
            bytes.resize(c.Value);
        else
            memcpy(&bytes[c.At], &c.Value, 4);
        const std::string path = ZQ_TempPath(c.Name);
        ZQ_WriteFile(path, bytes);
        SetEnvironmentVariableA("ZQ_OCT_FILE", path.c_str());
        SetEnvironmentVariableA("ZQ_OCT_INIT", c.Init);
        ZQChild child = ZQ_RunChild("LoadOctree");
        EXPECT_TRUE(ZQ_OneBox(child, 1, "Damaged octree file: " + path + " (" + c.Why + ")", "Zarquel ZAABB"))
            << c.Name;
        DeleteFileA(path.c_str());
    }
}

// Any single flipped bit of a real file is either refused by the check or
// loads and runs every pass inside the image.
TEST(OctreeDamaged, BitFlippedFilesThatPassTheCheckRunEveryPass)
{
    std::string good = ZQ_ReadFile(Fixture("rooms_pvs.oct").c_str());
    ASSERT_GT(good.size(), 1000u);
    CZarquel* z = new CZarquel;
    ASSERT_TRUE(z->Mem->InitHeap(64u << 20));
    CZOctreeAABB* t = z->OctreeAABB;
    const unsigned long level = z->O3d->LoadObject(Fixture("rooms.3do").c_str());
    t->Init(z->O3d->GetNumberOfFaces(level));
    std::mt19937 rng(7);
    std::vector<ZOCT_REGION> regions(ZOCT_RegionCapacity(good.size()));
    char why[ZOCT_WHY_BYTES];
    int loaded = 0;
    for (int i = 0; i < 300; i++) {
        std::string bytes = good;
        // Mostly the header and the records, where the structure is.
        const size_t at = i % 2 ? rng() % std::min<size_t>(bytes.size(), 40 + 128 * 64) : rng() % bytes.size();
        bytes[at] ^= (char)(1 << rng() % 8);
        if (!ZOCT_CheckImage((const uint8_t*)bytes.data(), bytes.size(), z->O3d->GetNumberOfFaces(level),
                             t->FaceFlagBytes / 4, regions.data(), why))
            continue;
        const std::string path = ZQ_TempPath("zq_flip.oct");
        ZQ_WriteFile(path, bytes);
        const unsigned long oct = t->LoadAABBOctree(level, path.c_str());
        ZQ_OctCamera(z->H3d, Vector3{16, 6, 16}, (float)i, 0);
        t->DrawAABBObject(oct);
        Sphere3 s = {{16, 1, 16}, 3};
        t->DrawDynamicLight(oct, &s, 0, 0);
        t->TestAABBWithSphere(oct, &s, true);
        t->DestroyAABBOctree(oct);
        loaded++;
    }
    EXPECT_GT(loaded, 100);
    delete z;
}

// ---------------------------------------------------------------------------
// The generated level against brute force

namespace {

struct Level {
    CZarquel* Z;
    unsigned long Object;
    const Vector3* V;
    const ZO3D_FACE* Faces;
    uint32_t F;
    Vector3 Corner(uint32_t f, int c) const { return V[Faces[f].Vertex[c]]; }
    bool Solid(uint32_t f) const { return Faces[f].Material != 2; }
};

// A point of the triangle inside every plane (moved in by `margin`):
// clips the triangle by each plane in turn.
bool TriangleInFrustum(const Level& l, uint32_t f, const Plane* planes, float margin)
{
    std::vector<Vector3> poly = {l.Corner(f, 0), l.Corner(f, 1), l.Corner(f, 2)}, next;
    for (int i = 0; i < 6 && !poly.empty(); i++) {
        const Plane& p = planes[i];
        auto d = [&](const Vector3& v) { return p.a * v.x + p.b * v.y + p.c * v.z + p.d - margin; };
        next.clear();
        for (size_t k = 0; k < poly.size(); k++) {
            const Vector3 a = poly[k], b = poly[(k + 1) % poly.size()];
            const float da = d(a), db = d(b);
            if (da >= 0)
                next.push_back(a);
            if ((da >= 0) != (db >= 0)) {
                const float s = da / (da - db);
                next.push_back(Vector3{a.x + (b.x - a.x) * s, a.y + (b.y - a.y) * s, a.z + (b.z - a.z) * s});
            }
        }
        poly.swap(next);
    }
    return !poly.empty();
}

// The segment from `a` to `b` (stopping just short of b) crosses a solid face
// other than `skip`.
bool Hidden(const Level& l, Vector3 a, Vector3 b, uint32_t skip, uint32_t* last)
{
    auto hits = [&](uint32_t f) {
        const Vector3 v0 = l.Corner(f, 0), v1 = l.Corner(f, 1), v2 = l.Corner(f, 2);
        const double e1[3] = {v1.x - v0.x, v1.y - v0.y, v1.z - v0.z}, e2[3] = {v2.x - v0.x, v2.y - v0.y, v2.z - v0.z};
        const double d[3] = {b.x - a.x, b.y - a.y, b.z - a.z};
        const double p[3] = {d[1] * e2[2] - d[2] * e2[1], d[2] * e2[0] - d[0] * e2[2], d[0] * e2[1] - d[1] * e2[0]};
        const double det = e1[0] * p[0] + e1[1] * p[1] + e1[2] * p[2];
        if (det == 0)
            return false;
        const double tv[3] = {a.x - v0.x, a.y - v0.y, a.z - v0.z};
        const double u = (tv[0] * p[0] + tv[1] * p[1] + tv[2] * p[2]) / det;
        const double q[3] = {tv[1] * e1[2] - tv[2] * e1[1], tv[2] * e1[0] - tv[0] * e1[2], tv[0] * e1[1] - tv[1] * e1[0]};
        const double w = (d[0] * q[0] + d[1] * q[1] + d[2] * q[2]) / det;
        const double t = (e2[0] * q[0] + e2[1] * q[1] + e2[2] * q[2]) / det;
        return u >= 0 && w >= 0 && u + w <= 1 && t >= 0 && t <= 1 - 1e-5;
    };
    if (*last != skip && l.Solid(*last) && hits(*last))
        return true;
    for (uint32_t f = 0; f < l.F; f++)
        if (f != skip && l.Solid(f) && hits(f)) {
            *last = f;
            return true;
        }
    return false;
}

class OctreeLevel : public ::testing::Test {
protected:
    void SetUp() override
    {
        z = new CZarquel;
        ASSERT_TRUE(z->Mem->InitHeap(64u << 20));
        t = z->OctreeAABB;
        l.Z = z;
        l.Object = z->O3d->LoadObject(Fixture("rooms.3do").c_str());
        l.F = z->O3d->GetNumberOfFaces(l.Object);
        l.V = (const Vector3*)z->O3d->GetVertexPointer(l.Object);
        l.Faces = (const ZO3D_FACE*)z->O3d->GetFacesPointer(l.Object);
        t->Init(l.F);
        plain = t->LoadAABBOctree(l.Object, Fixture("rooms.oct").c_str());
        pvs = t->LoadAABBOctree(l.Object, Fixture("rooms_pvs.oct").c_str());
    }
    void TearDown() override { delete z; }
    // A random eye inside one of the 3 x 3 rooms (32 wide, 12 high, 48
    // apart), not inside a room's pillar (x 9.6 to 12.6, z 19.2 to 22.2).
    Vector3 Eye(std::mt19937& rng)
    {
        std::uniform_real_distribution<float> in(1.5f, 30.5f), up(1.5f, 10.5f);
        for (;;) {
            const float x = in(rng), zz = in(rng);
            if (x > 9 && x < 13.2f && zz > 18.6f && zz < 22.8f)
                continue;
            return Vector3{(float)(rng() % 3) * 48 + x, up(rng), (float)(rng() % 3) * 48 + zz};
        }
    }
    std::vector<uint8_t> Drawn(unsigned long oct)
    {
        t->DrawAABBObject(oct);
        std::vector<uint8_t> drawn(l.F, 0);
        for (uint32_t i = 0; i < t->OutputCount; i++)
            drawn[t->FaceFlags[i]] = 1;
        return drawn;
    }
    CZarquel* z;
    CZOctreeAABB* t;
    Level l;
    unsigned long plain, pvs;
};

}  // namespace

TEST_F(OctreeLevel, EveryFaceInTheFrustumIsDrawnAndThePvsDropsNoVisibleFace)
{
    std::mt19937 rng(2004);
    std::uniform_real_distribution<float> yaw(0, 6.2831853f), pitch(-0.6f, 0.6f);
    uint64_t inFrustum = 0, drawnPlain = 0, drawnPvs = 0;
    uint32_t last = 0;
    for (int pose = 0; pose < 300; pose++) {
        const Vector3 eye = Eye(rng);
        ZQ_OctCamera(z->H3d, eye, yaw(rng), pitch(rng));
        const std::vector<uint8_t> a = Drawn(plain), b = Drawn(pvs);
        for (uint32_t f = 0; f < l.F; f++) {
            drawnPlain += a[f];
            drawnPvs += b[f];
            if (!TriangleInFrustum(l, f, z->H3d->Frustum, 1e-3f))
                continue;
            inFrustum++;
            ASSERT_TRUE(a[f]) << "face " << f << " in the frustum of pose " << pose << " not drawn";
            if (b[f])
                continue;
            // Dropped by the PVS: no sample point of it may be in sight.
            const Vector3 v[3] = {l.Corner(f, 0), l.Corner(f, 1), l.Corner(f, 2)};
            const Vector3 c = {(v[0].x + v[1].x + v[2].x) / 3, (v[0].y + v[1].y + v[2].y) / 3,
                               (v[0].z + v[1].z + v[2].z) / 3};
            for (int k = 0; k < 7; k++) {
                // The centre, and points a tenth of the way from each corner
                // and each edge's middle toward it.
                Vector3 p = c;
                if (k > 0) {
                    const Vector3 q = k < 4 ? v[k - 1] : Vector3{(v[k - 4].x + v[(k - 3) % 3].x) / 2,
                                                                 (v[k - 4].y + v[(k - 3) % 3].y) / 2,
                                                                 (v[k - 4].z + v[(k - 3) % 3].z) / 2};
                    p = Vector3{q.x + (c.x - q.x) * 0.1f, q.y + (c.y - q.y) * 0.1f, q.z + (c.z - q.z) * 0.1f};
                }
                bool inside = true;
                for (int i = 0; i < 6; i++) {
                    const Plane& pl = z->H3d->Frustum[i];
                    inside &= pl.a * p.x + pl.b * p.y + pl.c * p.z + pl.d > 0;
                }
                ASSERT_FALSE(inside && !Hidden(l, eye, p, f, &last))
                    << "face " << f << " seen from (" << eye.x << ", " << eye.y << ", " << eye.z << ") at pose "
                    << pose << " dropped by the PVS";
            }
        }
    }
    // Culling must do something: far fewer faces than the level, and the PVS fewer again.
    EXPECT_LT(drawnPlain, 300ull * l.F / 2);
    EXPECT_LT(drawnPvs, drawnPlain);
    printf("faces per pose: %u total, %.0f in the frustum, %.0f drawn, %.0f with the PVS\n", l.F,
           inFrustum / 300.0, drawnPlain / 300.0, drawnPvs / 300.0);
}

TEST_F(OctreeLevel, SphereCollisionAgreesWithEveryFaceOfFaceList1)
{
    std::mt19937 rng(150);
    std::uniform_real_distribution<float> x(-4, 148), y(-3, 15), r(0.3f, 3), jitter(-0.05f, 0.05f);
    const ZO3D_HEADER* o = (const ZO3D_HEADER*)l.Object;
    int hits = 0;
    for (int i = 0; i < 3000; i++) {
        Sphere3 s = {{x(rng), y(rng), x(rng)}, r(rng)};
        if (i % 3 == 1) {
            s.Center.y = s.Radius + jitter(rng);   // resting on a floor
        } else if (i % 3 == 2) {
            // Against a room's wall, at x = 48 k (+ 32).
            s.Center.x = (float)(rng() % 3) * 48 + (rng() % 2 ? 32 : 0) + (rng() % 2 ? 1 : -1) * (s.Radius + jitter(rng));
        }
        bool brute = false;
        POLYSTRUCT p;
        for (uint32_t f = 0; f < l.F && !brute; f++) {
            if (!l.Solid(f))
                continue;
            for (int c = 0; c < 3; c++) {
                const Vector3 v = l.Corner(f, c);
                p.Vertex[c].x = v.x + o->Position.x;
                p.Vertex[c].y = v.y + o->Position.y;
                p.Vertex[c].z = v.z + o->Position.z;
            }
            brute = z->Mth->TestSphereToTriangle(&s, &p);
        }
        ASSERT_EQ(brute, t->TestAABBWithSphere(plain, &s, true))
            << "sphere " << i << " at (" << s.Center.x << ", " << s.Center.y << ", " << s.Center.z << ") r " << s.Radius;
        ASSERT_EQ(brute, t->TestAABBWithSphere(pvs, &s, true)) << "sphere " << i;
        hits += brute;
    }
    EXPECT_GT(hits, 1000);
    EXPECT_LT(hits, 2900);
}
