// The sphere octree against brute force on a 20,000-face ball.
#include <cmath>
#include <cstring>

#include "services_fixture.h"
#include "zo3d.h"
#include "zoctree.h"

namespace {

class Octree : public Services {
protected:
    void SetUp() override
    {
        Services::SetUp();
        oct = z->Octree;
        o3d = z->O3d;
        o3d->InitCache(20000);
        ball = o3d->LoadObject(ZQ_WORLD_FIXTURES "/ball20k.3do");
        faces = o3d->GetNumberOfFaces(ball);
        oct->InitOctrees(faces, faces);
    }
    // Frame 0's vertices placed as the placement places them.
    Vector3 Placed(const Vector3& v, unsigned long placement)
    {
        const ZO3D_HEADER* h = (const ZO3D_HEADER*)(uintptr_t)ball;
        Vector3 p = v;
        if (placement == 3) {
            z->Mth->SetAngles((int)h->Angles.x, (int)h->Angles.y, (int)h->Angles.z);
            z->Mth->SetTranslation(h->Position.x, h->Position.y, h->Position.z);
            z->Mth->CalcRotationMatrix();
            z->Mth->RotateCords(&v, &p, 1);
        } else if (placement == 1) {
            p = {v.x + h->Position.x, v.y + h->Position.y, v.z + h->Position.z};
        }
        return p;
    }
    // Every face as placed, for the brute-force answers.
    std::vector<POLYSTRUCT> Faces(unsigned long placement)
    {
        const ZO3D_FACE* f = (const ZO3D_FACE*)o3d->GetFacesPointer(ball);
        const Vector3* v = (const Vector3*)o3d->GetVertexPointer(ball);
        std::vector<POLYSTRUCT> out(faces);
        for (uint32_t i = 0; i < faces; i++, f++) {
            memset(&out[i], 0, sizeof(POLYSTRUCT));
            for (int c = 0; c < 3; c++) {
                const Vector3 q = Placed(v[f->Vertex[c]], placement);
                out[i].Vertex[c].x = q.x, out[i].Vertex[c].y = q.y, out[i].Vertex[c].z = q.z;
            }
        }
        return out;
    }
    uint32_t Nodes(const sOctreeNode* n, uint32_t depth)
    {
        uint32_t count = 1;
        for (int k = 0; depth && k < 8; k++)
            if (n->Children[k])
                count += Nodes((const sOctreeNode*)(uintptr_t)n->Children[k], depth - 1);
        return count;
    }
    uint32_t NullChildren(const sOctreeNode* n, uint32_t depth)
    {
        uint32_t count = 0;
        for (int k = 0; depth && k < 8; k++)
            count += n->Children[k] ? NullChildren((const sOctreeNode*)(uintptr_t)n->Children[k], depth - 1) : 1;
        return count;
    }

    CZOctree* oct;
    CZO3d* o3d;
    unsigned long ball;
    uint32_t faces;
};

}  // namespace

TEST_F(Octree, BuildsACompactTreeAndRefusesWhatItCannotHold)
{
    // Depth 0: the root is a leaf holding every face.
    const unsigned long flat = oct->CreateOctreeEntity(ball, 0, 0);
    const ZOCTREE_ENTITY* e = (const ZOCTREE_ENTITY*)(uintptr_t)flat;
    const sOctreeNode* root = (const sOctreeNode*)(uintptr_t)e->Nodes;
    EXPECT_EQ(faces, root->Leaf.Count);
    EXPECT_EQ(ZOCTREE_LEAF_MARKER, root->Leaf.Marker);
    EXPECT_EQ(36u, e->AreaBytes);
    oct->DestroyOctreeEntity(flat);

    // Depth 3 over a hollow ball: the empty middle gives null children that
    // cost no node space.
    const unsigned long deep = oct->CreateOctreeEntity(ball, 3, 0);
    e = (const ZOCTREE_ENTITY*)(uintptr_t)deep;
    root = (const sOctreeNode*)(uintptr_t)e->Nodes;
    EXPECT_EQ(36u * Nodes(root, 3), e->AreaBytes);
    EXPECT_GT(NullChildren(root, 3), 0u);
    EXPECT_LT(e->AreaBytes, 36u * (1 + 8 + 64 + 512));
    oct->DestroyOctreeEntity(deep);

    EXPECT_EQ(0u, oct->CreateOctreeEntity(ball, ZOCTREE_MAX_DEPTH + 1, 0));
    // A leaf capacity too small keeps what fits and says so.
    oct->EndOctrees();
    EXPECT_EQ(0u, oct->CreateOctreeEntity(ball, 2, 0));     // not initialised
    oct->InitOctrees(faces, 100);
    const unsigned long small = oct->CreateOctreeEntity(ball, 1, 0);
    EXPECT_GT(oct->LeafFacesDropped, 0u);
    EXPECT_GE(ZQ_CountLogLines("leaf capacity"), 1u);
    oct->DestroyOctreeEntity(small);
    oct->EndOctrees();
    oct->InitOctrees(10, 10);
    EXPECT_EQ(0u, oct->CreateOctreeEntity(ball, 2, 0));     // more faces than the capacity
}

TEST_F(Octree, CullingNeverDropsAFaceInViewAndSkipsMostOfTheRest)
{
    const unsigned long ent = oct->CreateOctreeEntity(ball, 4, 0);
    o3d->SetObjectPosition(ball, 3.0f, 1.0f, 2.0f);
    o3d->SetObjectAngles(ball, 40.0f, 100.0f, 7.0f);
    // Cameras that see the ball's centre on an edge of the view: about
    // half of it in view.
    const Vector3 eyes[3][2] = {{{3, 1, -8}, {11, 1, 0}}, {{-7, 1, 2}, {1, 1, 10}}, {{3, 11, 2}, {3, 3, 10}}};
    for (unsigned long placement : {1ul, 2ul, 3ul}) {
        const std::vector<POLYSTRUCT> placed = Faces(placement);
        for (const auto& eye : eyes) {
            Camera(eye[0], eye[1]);
            oct->DrawOctreeEntity(ent, placement);
            std::vector<uint8_t> drawn(faces, 0);
            for (uint32_t i = 0; i < oct->FacesDrawn; i++)
                drawn[oct->FaceFlags[i]] = 1;
            uint32_t inView = 0;
            for (uint32_t i = 0; i < faces; i++) {
                const POLYSTRUCT& p = placed[i];
                bool in = false;
                for (int c = 0; c < 3 && !in; c++) {
                    in = true;
                    for (int k = 0; k < 6; k++) {
                        const Plane& pl = g.H3d->Frustum[k];
                        in = in && pl.a * p.Vertex[c].x + pl.b * p.Vertex[c].y + pl.c * p.Vertex[c].z + pl.d > 0;
                    }
                }
                inView += in;
                ASSERT_TRUE(!in || drawn[i]) << "face " << i << " placement " << placement;
            }
            if (placement != 2) {
                EXPECT_LT(oct->FacesDrawn, faces) << placement;
            }
            EXPECT_GE(oct->FacesDrawn, inView);
            Frame();
        }
    }
    oct->DestroyOctreeEntity(ent);
}

TEST_F(Octree, SphereTestsAgreeWithBruteForce)
{
    const unsigned long ent = oct->CreateOctreeEntity(ball, 4, 0);
    o3d->SetObjectPosition(ball, -2.0f, 0.5f, 1.0f);
    o3d->SetObjectAngles(ball, 10.0f, 300.0f, 77.0f);
    uint32_t seed = 99, hits = 0, misses = 0;
    auto rnd = [&seed](float lo, float hi) {
        seed = seed * 1664525u + 1013904223u;
        return lo + (hi - lo) * (seed >> 8) / 16777216.0f;
    };
    for (unsigned long placement : {1ul, 2ul, 3ul}) {
        const std::vector<POLYSTRUCT> placed = Faces(placement);
        for (int i = 0; i < 100; i++) {
            Sphere3 s = {{rnd(-8, 8), rnd(-7, 8), rnd(-7, 8)}, rnd(0.05f, 1.5f)};
            bool brute = false;
            for (uint32_t f = 0; f < faces && !brute; f++)
                brute = z->Mth->TestSphereToTriangle(&s, &placed[f]);
            const bool tree = oct->TestSphereWithEntity(ent, &s, placement, true);
            ASSERT_EQ(brute, tree) << "sphere " << i << " placement " << placement;
            (brute ? hits : misses)++;
            // Without face tests the answer only widens.
            if (brute) {
                EXPECT_TRUE(oct->TestSphereWithEntity(ent, &s, placement, false));
            }
        }
    }
    EXPECT_GT(hits, 20u);
    EXPECT_GT(misses, 20u);
    oct->DestroyOctreeEntity(ent);
}
