// The octree builder: determinism, the tree's bounds and counts, and every
// refusal of the load-time check the engine shares (run with
// AddressSanitizer: a damaged image must never be read outside itself).
#include <cstring>
#include <random>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "oct_level.h"
#include "oct_local.h"

namespace {

template <class T> T Get(const std::vector<uint8_t>& image, uint32_t at)
{
    T v;
    memcpy(&v, image.data() + at, sizeof(T));
    return v;
}

std::string Check(const std::vector<uint8_t>& image, uint32_t faces, uint32_t capacity)
{
    std::vector<ZOCT_REGION> regions(ZOCT_RegionCapacity(image.size()));
    char why[ZOCT_WHY_BYTES];
    return ZOCT_CheckImage(image.data(), image.size(), faces, capacity, regions.data(), why) ? "" : why;
}

struct Walked {
    uint32_t Leaves = 0, Deepest = 0;
    std::vector<std::set<uint32_t>> Seen;   // per face: the leaves (by record offset) that list it
};

// Walks the image as the engine does, checking each node's box against its
// children and each leaf against the faces of the object.
void Walk(const std::vector<uint8_t>& image, const O3dObject& obj, const OctOptions& o, uint32_t at, uint32_t count,
          uint32_t depth, const AABBNode* parent, Walked* w)
{
    for (uint32_t i = 0; i < count; i++) {
        const uint32_t r = at + 128 * i;
        if (Get<uint32_t>(image, r) == ZOCT_LEAF_MARKER) {
            const AABBLeaf leaf = Get<AABBLeaf>(image, r);
            w->Leaves++;
            w->Deepest = std::max(w->Deepest, depth);
            const uint32_t faces = leaf.Count1 + leaf.Count2;
            EXPECT_TRUE(faces <= o.MaxFaces || depth >= o.MaxDepth) << faces << " faces at depth " << depth;
            std::set<uint32_t> listed;
            uint32_t lo = UINT32_MAX, hi = 0;
            for (int list = 0; list < 2; list++)
                for (uint32_t k = 0; k < (list ? leaf.Count2 : leaf.Count1); k++) {
                    const uint32_t f = Get<uint32_t>(image, (list ? leaf.List2 : leaf.List1) + 4 * k);
                    EXPECT_EQ(list == 1, obj.Faces[f].Material == 2) << "face " << f << " in the wrong list";
                    listed.insert(f);
                    w->Seen[f].insert(r);
                    lo = std::min(lo, f);
                    hi = std::max(hi, f);
                }
            EXPECT_EQ(faces, listed.size()) << "a face twice in one leaf";
            if (faces) {
                EXPECT_EQ(lo, leaf.Lowest);
                EXPECT_EQ(hi, leaf.Highest);
            }
            // Every face that reaches into the leaf's box is listed (with the
            // PVS, a leaf without faces may cover a cell whose faces hang
            // under a sibling).
            if (o.Pvs && !faces)
                return;
            DBox box = {{parent->Min.x, parent->Min.y, parent->Min.z}, {parent->Max.x, parent->Max.y, parent->Max.z}};
            const D3 e = box.Max - box.Min;
            for (int k = 0; k < 3; k++) {   // a little inside: the float box may round outward
                box.Min[k] += 1e-3 * e[k];
                box.Max[k] -= 1e-3 * e[k];
            }
            for (uint32_t f = 0; f < obj.Faces.size(); f++) {
                Tri t;
                for (int c = 0; c < 3; c++) {
                    const Vector3& v = obj.Frames[0].Vertices[obj.Faces[f].Vertex[c]];
                    t.V[c] = D3{v.x, v.y, v.z};
                }
                if (!listed.count(f) && OCT_TriTouchesBox(t, box, 0) && OCT_ClipToBox(t, box).size() >= 3)
                    ADD_FAILURE() << "face " << f << " reaches into the leaf at " << r << " but is not listed";
            }
            return;
        }
        const AABBNode node = Get<AABBNode>(image, r);
        EXPECT_EQ(0, memcmp(&node.Cube.Corner[0], &node.Min, 12));
        EXPECT_EQ(0, memcmp(&node.Cube.Corner[6], &node.Max, 12));
        if (parent) {
            EXPECT_TRUE(node.Min.x >= parent->Min.x && node.Min.y >= parent->Min.y && node.Min.z >= parent->Min.z &&
                        node.Max.x <= parent->Max.x && node.Max.y <= parent->Max.y && node.Max.z <= parent->Max.z)
                << "a box outside its parent";
        }
        // Interior boxes bound their children tightly.
        const uint32_t c0 = node.Children;
        if (Get<uint32_t>(image, c0) != ZOCT_LEAF_MARKER) {
            Vector3 lo = Get<AABBNode>(image, c0).Min, hi = Get<AABBNode>(image, c0).Max;
            for (uint32_t k = 1; k < node.ChildCount; k++) {
                const AABBNode c = Get<AABBNode>(image, c0 + 128 * k);
                lo = Vector3{std::min(lo.x, c.Min.x), std::min(lo.y, c.Min.y), std::min(lo.z, c.Min.z)};
                hi = Vector3{std::max(hi.x, c.Max.x), std::max(hi.y, c.Max.y), std::max(hi.z, c.Max.z)};
            }
            EXPECT_EQ(0, memcmp(&lo, &node.Min, 12));
            EXPECT_EQ(0, memcmp(&hi, &node.Max, 12));
        }
        Walk(image, obj, o, node.Children, node.ChildCount, depth + 1, &node, w);
    }
}

class OctBuilder : public ::testing::Test {
protected:
    void SetUp() override
    {
        level.RoomsX = 2;
        level.RoomsZ = 1;
        obj = level.Build();
    }
    std::vector<uint8_t> Build(const OctOptions& o, OctSummary* s = nullptr)
    {
        std::vector<uint8_t> image;
        const std::string error = OctBuild(obj, o, &image, s);
        EXPECT_EQ("", error);
        return image;
    }
    OctLevel level;
    O3dObject obj;
};

}  // namespace

TEST_F(OctBuilder, SameInputSameBytesWhateverTheThreads)
{
    OctOptions o = level.Options(true);
    o.Threads = 1;
    const std::vector<uint8_t> a = Build(o);
    o.Threads = 3;
    EXPECT_EQ(a, Build(o));
    o.Pvs = false;
    EXPECT_EQ(Build(o), Build(o));
}

TEST_F(OctBuilder, LeavesHoldTheirFacesWithinTheLimitsAndBoxesNest)
{
    for (int pvs = 0; pvs < 2; pvs++) {
        OctOptions o = level.Options(pvs);
        o.MaxFaces = 20;
        OctSummary s;
        const std::vector<uint8_t> image = Build(o, &s);
        ASSERT_EQ("", Check(image, (uint32_t)obj.Faces.size(), (uint32_t)obj.Faces.size()));
        const AABBHeader h = Get<AABBHeader>(image, 0);
        Walked w;
        w.Seen.resize(obj.Faces.size());
        Walk(image, obj, o, h.Root, 1, 0, nullptr, &w);
        EXPECT_EQ(s.Leaves, w.Leaves);
        for (uint32_t f = 0; f < obj.Faces.size(); f++)
            EXPECT_FALSE(w.Seen[f].empty()) << "face " << f << " in no leaf";
        EXPECT_EQ(pvs ? ZOCT_PVS : 0u, h.Pvs);
        if (pvs) {
            EXPECT_LT(h.Cells, s.Leaves) << "cells with faces have a leaf for the faces and one for the cell";
            EXPECT_GE(h.CameraRadius, level.Step * 0.866f);
            EXPECT_GT(s.VisiblePerCell, 1.0);
            EXPECT_LT(s.VisiblePerCell, h.Cells);
        }
    }
    // The depth limit wins over the face limit.
    OctOptions o = level.Options(false);
    o.MaxFaces = 1;
    o.MaxDepth = 2;
    OctSummary s;
    Build(o, &s);
    EXPECT_EQ(2u, s.MaxDepth);
}

// Sum over the leaves of their face ranges (highest - lowest + 1).
static uint64_t Spans(const std::vector<uint8_t>& image, uint32_t at, uint32_t count)
{
    uint64_t sum = 0;
    for (uint32_t i = 0; i < count; i++) {
        const uint32_t r = at + 128 * i;
        if (Get<uint32_t>(image, r) == ZOCT_LEAF_MARKER) {
            const AABBLeaf leaf = Get<AABBLeaf>(image, r);
            return sum + (leaf.Lowest <= leaf.Highest ? leaf.Highest - leaf.Lowest + 1 : 0);
        }
        const AABBNode node = Get<AABBNode>(image, r);
        sum += Spans(image, node.Children, node.ChildCount);
    }
    return sum;
}

// Faces numbered leaf by leaf: the same faces in another order, a tree that
// still lists every face where it reaches, leaves whose face ranges shrink,
// and a second numbering that changes nothing.
TEST_F(OctBuilder, RenumberedFacesFollowTheLeaves)
{
    auto key = [](const O3dFace& f) {
        return std::make_tuple(f.Vertex[0], f.Vertex[1], f.Vertex[2], f.Material, f.Map[0], f.Map[5]);
    };
    for (int pvs = 0; pvs < 2; pvs++) {
        OctOptions o = level.Options(pvs);
        const std::vector<uint8_t> plain = Build(o);
        o.Renumber = true;
        O3dObject once, twice;
        std::vector<uint8_t> a, b;
        ASSERT_EQ("", OctBuild(obj, o, &a, nullptr, &once));
        ASSERT_EQ("", OctBuild(once, o, &b, nullptr, &twice));
        EXPECT_EQ(a, b);
        std::multiset<decltype(key(obj.Faces[0]))> was, now;
        for (size_t f = 0; f < obj.Faces.size(); f++) {
            was.insert(key(obj.Faces[f]));
            now.insert(key(once.Faces[f]));
            EXPECT_EQ(key(once.Faces[f]), key(twice.Faces[f]));
        }
        EXPECT_TRUE(was == now) << "the same faces";
        EXPECT_EQ(obj.Frames[0].Vertices.size(), once.Frames[0].Vertices.size());
        Walked w;
        w.Seen.resize(once.Faces.size());
        Walk(a, once, o, Get<AABBHeader>(a, 0).Root, 1, 0, nullptr, &w);
        const uint64_t before = Spans(plain, Get<AABBHeader>(plain, 0).Root, 1);
        const uint64_t after = Spans(a, Get<AABBHeader>(a, 0).Root, 1);
        EXPECT_LT(after * 3, before * 2) << "leaf ranges " << after << " against " << before;
    }
    OctOptions o = level.Options(false);
    o.Renumber = true;
    std::vector<uint8_t> image;
    EXPECT_NE("", OctBuild(obj, o, &image, nullptr, nullptr));
}

// Every reason the engine refuses a file, on a built image.
TEST_F(OctBuilder, TheLoadCheckRefusesEveryDamage)
{
    const uint32_t F = (uint32_t)obj.Faces.size();
    const std::vector<uint8_t> good = Build(level.Options(true));
    ASSERT_EQ("", Check(good, F, F));
    const AABBHeader h = Get<AABBHeader>(good, 0);
    const AABBNode root = Get<AABBNode>(good, h.Root);
    // The first leaf record with faces, and the first with a visible-cell list.
    uint32_t leafAt = 0, coverAt = 0;
    for (uint32_t at = 40; at + 128 <= good.size() && !(leafAt && coverAt); at += 128)
        if (Get<uint32_t>(good, at) == ZOCT_LEAF_MARKER) {
            if (!leafAt && Get<AABBLeaf>(good, at).Count1)
                leafAt = at;
            if (!coverAt && Get<AABBLeaf>(good, at).VisibleCount)
                coverAt = at;
        }
    ASSERT_TRUE(leafAt && coverAt);
    const AABBLeaf leaf = Get<AABBLeaf>(good, leafAt);
    struct Case {
        uint32_t At, Value;
        const char* Why;
    } const cases[] = {
        {20, h.FileSize + 4, "the header says"},
        {8, h.FileSize - 64, "a node array at offset"},
        {h.Root + 96, 0x10000000, "runs past the end"},
        {h.Root + 100, h.Root, "loop"},
        {leafAt + 8, h.FileSize - 2, "face list 1 at offset"},
        {leaf.List1, F, "is not below"},
        {leaf.List1, leaf.Highest + 1, "outside the leaf's bounds"},
        {leafAt + 20, F + 5, "highest face"},
        {leafAt + 28, h.Cells, "cell"},
        {Get<AABBLeaf>(good, coverAt).Visible, h.Cells, "visible-cell list"},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> bad = good;
        memcpy(&bad[c.At], &c.Value, 4);
        const std::string why = Check(bad, F, F);
        EXPECT_NE(std::string::npos, why.find(c.Why)) << "at " << c.At << ": \"" << why << "\"";
    }
    // A list whose values pass but that lies on a node record: the root's child count.
    std::vector<uint8_t> bad = good;
    const uint32_t overlap[4][2] = {{leafAt + 4, 1}, {leafAt + 8, h.Root + 96}, {leafAt + 20, F - 1}, {leafAt + 24, 0}};
    for (const auto& poke : overlap)
        memcpy(&bad[poke[0]], &poke[1], 4);
    EXPECT_NE(std::string::npos, Check(bad, F, F).find("overlaps a node array or the header"));
    EXPECT_NE(std::string::npos, Check(good, F, F - 1).find("call Init with at least"));
    std::vector<uint8_t> cut(good.begin(), good.begin() + 30);
    EXPECT_NE(std::string::npos, Check(cut, F, F).find("shorter than the 40-byte header"));
    (void)root;
}

// Truncations and flipped bits: refused or sound, never a read outside.
TEST_F(OctBuilder, DamagedImagesAreRefusedOrSound)
{
    const uint32_t F = (uint32_t)obj.Faces.size();
    const std::vector<uint8_t> good = Build(level.Options(true));
    std::mt19937 rng(12);
    int refused = 0;
    for (int i = 0; i < 3000; i++) {
        std::vector<uint8_t> bad = good;
        if (i % 10 == 0) {
            bad.resize(rng() % bad.size());
            AABBHeader h;
            if (bad.size() >= 40) {   // a header that agrees with the cut size
                memcpy(&h, bad.data(), 40);
                h.FileSize = (uint32_t)bad.size();
                memcpy(bad.data(), &h, 40);
            }
        } else {
            bad[rng() % std::min<size_t>(bad.size(), i % 2 ? 40 + 128 * 40 : bad.size())] ^= (uint8_t)(1 << rng() % 8);
        }
        refused += Check(bad, F, F) != "";
    }
    EXPECT_GT(refused, 300);
}

TEST(OctBuilderTool, OctbuildWritesTheFileAndItsSummary)
{
    OctLevel level;
    level.RoomsX = 1;
    level.RoomsZ = 1;
    ASSERT_EQ("", O3dWriteObject("/tmp/zq_oct_tool.3do", level.Build()));
    const std::string cmd = std::string(OCTBUILD_EXE) + " /tmp/zq_oct_tool.3do /tmp/zq_oct_tool.oct --pvs "
                            "--drawn-only 2 --camera-at 16,6,16 --threads 1";
    FILE* p = popen(cmd.c_str(), "r");
    ASSERT_NE(nullptr, p);
    char buffer[2048] = {0};
    const size_t n = fread(buffer, 1, sizeof(buffer) - 1, p);
    buffer[n] = 0;
    EXPECT_EQ(0, pclose(p));
    EXPECT_NE(nullptr, strstr(buffer, "faces per leaf")) << buffer;
    EXPECT_NE(nullptr, strstr(buffer, "visible cells per cell")) << buffer;
    EXPECT_NE(nullptr, strstr(buffer, "build time")) << buffer;
    std::vector<uint8_t> image;
    ASSERT_EQ("", O3dReadFile("/tmp/zq_oct_tool.oct", &image));
    EXPECT_EQ(ZOCT_PVS, Get<AABBHeader>(image, 0).Pvs);
    // Renumbered: the level goes to the named file, the octree is for it.
    ASSERT_EQ(0, system((std::string(OCTBUILD_EXE) + " /tmp/zq_oct_tool.3do /tmp/zq_oct_tool.oct --renumber "
                         "/tmp/zq_oct_tool_r.3do >/dev/null").c_str()));
    std::vector<uint8_t> renumbered;
    O3dObject back;
    ASSERT_EQ("", O3dReadFile("/tmp/zq_oct_tool_r.3do", &renumbered));
    ASSERT_EQ("", O3dParseImage(renumbered, &back));
    ASSERT_EQ("", O3dReadFile("/tmp/zq_oct_tool.oct", &image));
    EXPECT_EQ("", Check(image, (uint32_t)back.Faces.size(), (uint32_t)back.Faces.size()));
    remove("/tmp/zq_oct_tool_r.3do");
    EXPECT_EQ(2 << 8, system((std::string(OCTBUILD_EXE) + " /tmp/zq_oct_tool.3do /tmp/x.oct --max-faces 0 2>/dev/null").c_str()));
    EXPECT_EQ(1 << 8, system((std::string(OCTBUILD_EXE) + " /tmp/zq_oct_tool.oct /tmp/x.oct 2>/dev/null").c_str()));
    remove("/tmp/zq_oct_tool.3do");
    remove("/tmp/zq_oct_tool.oct");
}
