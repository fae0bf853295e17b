#include "zoctree.h"

#include <cmath>
#include <cstring>

#include "zdebug.h"
#include "zh3d.h"
#include "zmem.h"
#include "zmth.h"
#include "zo3d.h"
#include "zprim.h"

// Each node's sphere holds its whole cube (radius = half-size * sqrt 3), so
// a face point inside the root cube lies in the sphere of every node on its
// way down: culling and sphere tests never miss a face near a cube's corner.
#define OCTR_SQRT3 1.7320508f

// One bit per kind of refusal: each is logged once.
#define OCTR_REFUSE_INIT  0x1u
#define OCTR_REFUSE_FACES 0x2u
#define OCTR_REFUSE_DEPTH 0x4u
#define OCTR_REFUSE_MEM   0x8u
#define OCTR_REFUSE_LEAF  0x10u

static const Vector3 OCTR_OctantTable[8] = {{1, 1, 1},   {-1, 1, -1}, {-1, 1, 1},  {1, 1, -1},
                                            {1, -1, 1},  {-1, -1, -1}, {1, -1, -1}, {-1, -1, 1}};

static inline const ZO3D_HEADER* OCTR_Header(uint32_t object)
{
    return (const ZO3D_HEADER*)(uintptr_t)object;
}

// The sphere octree is built over frame 0.
static inline const Vector3* OCTR_FirstFrame(uint32_t object)
{
    return (const Vector3*)(uintptr_t)((const uint32_t*)(uintptr_t)OCTR_Header(object)->FrameVertices)[0];
}

static inline Vector3 OCTR_Child(const Vector3& centre, const Vector3& octant, float half)
{
    return {centre.x + half / 2 * octant.x, centre.y + half / 2 * octant.y, centre.z + half / 2 * octant.z};
}

CZOctree::CZOctree()
    : Mem(nullptr), Mth(nullptr), O3d(nullptr), H3d(nullptr), Debug(nullptr), Cursor(nullptr), UsedBytes(0),
      FaceFlags(nullptr), FaceCapacity(0), LeafCapacity(0), Initialised(0), Source(nullptr), BuildObject(0),
      BuildEntity(nullptr), NodesVisited(0), NodesCulled(0), FacesDrawn(0), LeafFacesDropped(0), LeafList(nullptr),
      Scratch(nullptr), ScratchFaces(0), LoggedRefusals(0)
{
    OCTR_ResetNodes();
}

CZOctree::~CZOctree()
{
    EndOctrees();
}

void CZOctree::InitOctrees(unsigned long faceCapacity, unsigned long leafCapacity)
{
    if (Initialised)
        return;
    if (!faceCapacity || !leafCapacity || faceCapacity > 0x3FFFFFFFu || leafCapacity > 0x3FFFFFFFu)
        return;
    FaceFlags = (uint32_t*)Mem->GetMem(faceCapacity * 4);
    LeafList = (uint32_t*)Mem->GetMem(leafCapacity * 4);
    if (!FaceFlags || !LeafList) {
        if (FaceFlags)
            Mem->FreeMem(FaceFlags, faceCapacity * 4);
        if (LeafList)
            Mem->FreeMem(LeafList, leafCapacity * 4);
        FaceFlags = LeafList = nullptr;
        return;
    }
    FaceCapacity = faceCapacity;
    LeafCapacity = leafCapacity;
    Initialised = 1;
}

void CZOctree::EndOctrees()
{
    if (!Initialised)
        return;
    Mem->FreeMem(FaceFlags, FaceCapacity * 4);
    Mem->FreeMem(LeafList, LeafCapacity * 4);
    FaceFlags = LeafList = nullptr;
    FaceCapacity = LeafCapacity = 0;
    Initialised = 0;
}

void CZOctree::OCTR_ResetNodes()
{
    memcpy(Octants, OCTR_OctantTable, sizeof(Octants));
}

sOctreeNode* CZOctree::OCTR_GetOctreeMem()
{
    UsedBytes += sizeof(sOctreeNode);
    return ++Cursor;
}

void CZOctree::OCTR_FreeOctreeNodeMem()
{
    UsedBytes -= sizeof(sOctreeNode);
    Cursor--;
}

// The one place an octree call is checked against the instance's tables.
bool CZOctree::OCTR_Usable(unsigned long object, const char* caller)
{
    const char* why = nullptr;
    uint32_t reason = 0;
    if (!Initialised) {
        why = "InitOctrees was not called", reason = OCTR_REFUSE_INIT;
    } else if (O3d->GetNumberOfFaces(object) > FaceCapacity) {
        why = "the object has more faces than InitOctrees' face capacity", reason = OCTR_REFUSE_FACES;
    }
    if (!why)
        return true;
    if (Debug)
        Debug->OutputDebugOnce(&LoggedRefusals, reason, "OCTR: %s: %s; refused", caller, why);
    return false;
}

unsigned long CZOctree::CreateOctreeEntity(unsigned long object, unsigned long depth, int rotate)
{
    if (!OCTR_Usable(object, "CreateOctreeEntity"))
        return 0;
    if (depth > ZOCTREE_MAX_DEPTH) {
        if (Debug)
            Debug->OutputDebugOnce(&LoggedRefusals, OCTR_REFUSE_DEPTH,
                                   "OCTR: CreateOctreeEntity: depth %lu is over %u; refused", depth,
                                   ZOCTREE_MAX_DEPTH);
        return 0;
    }
    OCTR_ResetNodes();
    uint32_t nodes = 0;
    for (uint32_t level = 0, n = 1; level <= depth; level++, n *= 8)
        nodes += n;
    const uint32_t estimate = nodes * sizeof(sOctreeNode);
    ZOCTREE_ENTITY* e = (ZOCTREE_ENTITY*)Mem->GetMem(sizeof(ZOCTREE_ENTITY));
    sOctreeNode* area = e ? (sOctreeNode*)Mem->GetMem(estimate) : nullptr;
    const ZO3D_HEADER* h = OCTR_Header(object);
    Vector3* rotated = nullptr;
    if (e && area && rotate) {
        rotated = (Vector3*)Mem->GetMem(h->VertexCount * sizeof(Vector3) + 1);
        if (rotated) {
            Mth->SetAngles(0, 0, 0);
            Mth->SetTranslation(0.0f, 0.0f, 0.0f);
            Mth->CalcRotationMatrix();
            Mth->RotateCords(OCTR_FirstFrame(object), rotated, (int)h->VertexCount);
        }
    }
    if (!e || !area || (rotate && !rotated)) {
        if (area)
            Mem->FreeMem(area, estimate);
        if (e)
            Mem->FreeMem(e, sizeof(ZOCTREE_ENTITY));
        if (Debug)
            Debug->OutputDebugOnce(&LoggedRefusals, OCTR_REFUSE_MEM,
                                   "OCTR: CreateOctreeEntity: no memory for %u bytes of nodes; refused", estimate);
        return 0;
    }
    // Candidate lists, one per level plus the leaf's.
    ScratchFaces = h->FaceCount;
    const uint32_t scratchBytes = (depth + 1) * ScratchFaces * 4 + 4;
    Scratch = (uint32_t*)Mem->GetMem(scratchBytes);
    if (!Scratch) {
        if (rotated)
            Mem->FreeMem(rotated, h->VertexCount * sizeof(Vector3) + 1);
        Mem->FreeMem(area, estimate);
        Mem->FreeMem(e, sizeof(ZOCTREE_ENTITY));
        if (Debug)
            Debug->OutputDebugOnce(&LoggedRefusals, OCTR_REFUSE_MEM,
                                   "OCTR: CreateOctreeEntity: no memory for %u bytes of face lists; refused",
                                   scratchBytes);
        return 0;
    }
    Source = rotated ? rotated : OCTR_FirstFrame(object);
    BuildObject = object;
    BuildEntity = e;
    e->Object = object;
    e->Depth = depth;
    e->Rotated = rotated ? 1 : 0;

    float extent = 0;
    const Vector3* v = OCTR_FirstFrame(object);
    for (uint32_t i = 0; i < h->VertexCount; i++) {
        extent = fmaxf(extent, fabsf(v[i].x));
        extent = fmaxf(extent, fabsf(v[i].y));
        extent = fmaxf(extent, fabsf(v[i].z));
    }
    const float half = extent + extent / 8;
    Cursor = area;
    UsedBytes = sizeof(sOctreeNode);
    OCTR_CalculateOctree(area, half * OCTR_SQRT3, half, {0, 0, 0}, depth, nullptr, h->FaceCount);
    Mem->FreeMem(Scratch, scratchBytes);
    Scratch = nullptr;

    // Compact: a block of exactly the used size, children relocated.
    sOctreeNode* tight = (sOctreeNode*)Mem->GetMem(UsedBytes);
    if (tight) {
        memcpy(tight, area, UsedBytes);
        OCTR_OctreeResizeFix(tight, (int32_t)((uintptr_t)tight - (uintptr_t)area), depth);
        Mem->FreeMem(area, estimate);
        area = tight;
        e->AreaBytes = UsedBytes;
    } else {
        e->AreaBytes = estimate;     // kept as estimated: still sound, only larger
    }
    e->Nodes = (uint32_t)(uintptr_t)area;
    if (rotated)
        Mem->FreeMem(rotated, h->VertexCount * sizeof(Vector3) + 1);
    Source = nullptr;
    BuildEntity = nullptr;
    return (unsigned long)(uintptr_t)e;
}

// How far from a node's centre its own sphere and every sphere below it
// reach: children stand half a half-size diagonal away and keep two thirds
// of the radius, so they reach past their parent's sphere.
static float OCTR_Reach(float radius, float half, uint32_t depth)
{
    if (!depth)
        return radius;
    return fmaxf(radius, half / 2 * OCTR_SQRT3 + OCTR_Reach(radius - radius / 3, half / 2, depth - 1));
}

// Faces of `in` (count n) that touch the sphere (centre, radius), written to `out`.
uint32_t CZOctree::OCTR_Touching(const uint32_t* in, uint32_t n, Vector3 centre, float radius, uint32_t* out)
{
    const ZO3D_FACE* all = (const ZO3D_FACE*)(uintptr_t)OCTR_Header(BuildObject)->Faces;
    const Sphere3 sphere = {centre, radius};
    POLYSTRUCT poly;
    uint32_t kept = 0;
    for (uint32_t i = 0; i < n; i++) {
        const ZO3D_FACE& f = all[in ? in[i] : i];
        for (int c = 0; c < 3; c++) {
            const Vector3& p = Source[f.Vertex[c]];
            poly.Vertex[c].x = p.x;
            poly.Vertex[c].y = p.y;
            poly.Vertex[c].z = p.z;
        }
        if (Mth->TestSphereToTriangle(&sphere, &poly))
            out[kept++] = in ? in[i] : i;
    }
    return kept;
}

// `in`: the faces that may touch a sphere of this subtree (null: all of the
// object's, n of them). Each level filters them into its own part of the
// scratch list, so a leaf tests only the faces near it.
bool CZOctree::OCTR_CalculateOctree(sOctreeNode* node, float radius, float half, Vector3 centre, uint32_t depth,
                                    const uint32_t* in, uint32_t n)
{
    if (!depth)
        return OCTR_GetNodeFaces(node, radius, centre, in, n);
    node->Radius = radius;
    uint32_t* candidates = Scratch + (size_t)(depth - 1) * ScratchFaces;
    n = OCTR_Touching(in, n, centre, OCTR_Reach(radius, half, depth), candidates);
    bool any = false;
    for (int k = 0; k < 8; k++) {
        sOctreeNode* child = OCTR_GetOctreeMem();
        node->Children[k] = (uint32_t)(uintptr_t)child;
        if (n && OCTR_CalculateOctree(child, radius - radius / 3, half / 2, OCTR_Child(centre, Octants[k], half),
                                      depth - 1, candidates, n)) {
            any = true;
        } else {
            OCTR_FreeOctreeNodeMem();
            node->Children[k] = 0;
        }
    }
    return any;
}

bool CZOctree::OCTR_GetNodeFaces(sOctreeNode* node, float radius, Vector3 centre, const uint32_t* in, uint32_t n)
{
    // The touching faces, in face order, go to the end of the scratch list
    // first; the leaf keeps at most its capacity of them.
    uint32_t* touching = Scratch + (size_t)BuildEntity->Depth * ScratchFaces;
    uint32_t count = OCTR_Touching(in, n, centre, radius, touching), dropped = 0;
    if (count > LeafCapacity) {
        dropped = count - LeafCapacity;
        count = LeafCapacity;
    }
    memcpy(LeafList, touching, count * 4);
    if (dropped) {
        LeafFacesDropped += dropped;
        if (Debug)
            Debug->OutputDebugOnce(&LoggedRefusals, OCTR_REFUSE_LEAF,
                                   "OCTR: CreateOctreeEntity: a leaf touches more than %u faces (leaf capacity); "
                                   "%u not kept: build deeper or raise the capacity", LeafCapacity, dropped);
    }
    uint32_t* list = count ? (uint32_t*)Mem->GetMem(count * 4) : nullptr;
    if (count && !list)
        count = 0;
    if (count)
        memcpy(list, LeafList, count * 4);
    memset(node, 0, sizeof(*node));
    node->Leaf.Faces = (uint32_t)(uintptr_t)list;
    node->Leaf.Count = count;
    node->Leaf.Object = BuildObject;
    node->Leaf.Marker = ZOCTREE_LEAF_MARKER;
    node->Radius = radius;
    return count != 0;
}

void CZOctree::OCTR_OctreeResizeFix(sOctreeNode* node, int32_t delta, uint32_t depth)
{
    if (!depth)
        return;
    for (int k = 0; k < 8; k++)
        if (node->Children[k]) {
            node->Children[k] += (uint32_t)delta;
            OCTR_OctreeResizeFix((sOctreeNode*)(uintptr_t)node->Children[k], delta, depth - 1);
        }
}

void CZOctree::OCTR_FreeLeaves(sOctreeNode* node, uint32_t depth)
{
    if (!depth) {
        if (node->Leaf.Faces)
            Mem->FreeMem((void*)(uintptr_t)node->Leaf.Faces, node->Leaf.Count * 4);
        return;
    }
    for (int k = 0; k < 8; k++)
        if (node->Children[k])
            OCTR_FreeLeaves((sOctreeNode*)(uintptr_t)node->Children[k], depth - 1);
}

void CZOctree::DestroyOctreeEntity(unsigned long entity)
{
    ZOCTREE_ENTITY* e = (ZOCTREE_ENTITY*)(uintptr_t)entity;
    if (!e)
        return;
    OCTR_FreeLeaves((sOctreeNode*)(uintptr_t)e->Nodes, e->Depth);
    Mem->FreeMem((void*)(uintptr_t)e->Nodes, e->AreaBytes);
    Mem->FreeMem(e, sizeof(ZOCTREE_ENTITY));
}

void CZOctree::OCTR_ClearFaces()
{
    memset(FaceFlags, 0xFF, FaceCapacity * 4);
}

bool CZOctree::OCTR_TestFrustumNode(const Vector3& c, float radius)
{
    for (int p = 0; p < 6; p++) {
        const Plane& pl = H3d->Frustum[p];
        if (pl.a * c.x + pl.b * c.y + pl.c * c.z + pl.d <= -radius)
            return false;
    }
    return true;
}

// Placement 3 turns the octants by the object's angles (and leaves that
// rotation in CZMth); 1 and 3 start at the object's position.
Vector3 CZOctree::OCTR_Placement(const ZOCTREE_ENTITY* e, unsigned long placement)
{
    OCTR_ResetNodes();
    const ZO3D_HEADER* h = OCTR_Header(e->Object);
    if (placement == 3) {
        Mth->SetAngles((int)h->Angles.x, (int)h->Angles.y, (int)h->Angles.z);
        Mth->SetTranslation(0.0f, 0.0f, 0.0f);
        Mth->CalcRotationMatrix();
        Mth->RotateCords(Octants, Octants, 8);
    }
    if (placement == 1 || placement == 3)
        return h->Position;
    return {0, 0, 0};
}

void CZOctree::OCTR_DrawOctreeRecursive(const sOctreeNode* node, Vector3 centre, float radius, float half,
                                        uint32_t depth)
{
    if (!node)
        return;
    NodesVisited++;
    if (!OCTR_TestFrustumNode(centre, radius)) {
        NodesCulled++;
        return;
    }
    if (!depth) {
        const uint32_t* list = (const uint32_t*)(uintptr_t)node->Leaf.Faces;
        for (uint32_t i = 0; i < node->Leaf.Count; i++)
            FaceFlags[list[i]] = 0;
        return;
    }
    for (int k = 0; k < 8; k++)
        OCTR_DrawOctreeRecursive((const sOctreeNode*)(uintptr_t)node->Children[k],
                                 OCTR_Child(centre, Octants[k], half), radius - radius / 3, half / 2, depth - 1);
}

void CZOctree::OCTR_DrawFaces(uint32_t object, unsigned long placement)
{
    const uint32_t faces = OCTR_Header(object)->FaceCount;
    uint32_t count = 0;
    for (uint32_t i = 0; i < faces; i++)
        if (!FaceFlags[i])
            FaceFlags[count++] = i;
    FacesDrawn = count;
    // The faces are drawn where the tree was culled: a placement other than
    // 1 and 3 is object space (draw mode 0), not the turned mode 2.
    const unsigned long mode = placement == 1 || placement == 3 ? placement : 0;
    if (count)
        O3d->DrawPartialObject(object, (unsigned long*)FaceFlags, count, mode);
}

void CZOctree::DrawOctreeEntity(unsigned long entity, unsigned long placement)
{
    const ZOCTREE_ENTITY* e = (const ZOCTREE_ENTITY*)(uintptr_t)entity;
    NodesVisited = NodesCulled = FacesDrawn = 0;
    if (!e || !OCTR_Usable(e->Object, "DrawOctreeEntity"))
        return;
    OCTR_ClearFaces();
    const Vector3 centre = OCTR_Placement(e, placement);
    const sOctreeNode* root = (const sOctreeNode*)(uintptr_t)e->Nodes;
    OCTR_DrawOctreeRecursive(root, centre, root->Radius, root->Radius / OCTR_SQRT3, e->Depth);
    OCTR_DrawFaces(e->Object, placement);
}

bool CZOctree::TestSphereWithEntity(unsigned long entity, Sphere3* sphere, unsigned long placement, bool testFaces)
{
    const ZOCTREE_ENTITY* e = (const ZOCTREE_ENTITY*)(uintptr_t)entity;
    NodesVisited = 0;
    if (!e)
        return false;
    const Vector3 centre = OCTR_Placement(e, placement);
    const sOctreeNode* root = (const sOctreeNode*)(uintptr_t)e->Nodes;
    // Leaves share faces: each face is tested once (flag 0 = tested).
    if (testFaces && Initialised && OCTR_Header(e->Object)->FaceCount <= FaceCapacity)
        OCTR_ClearFaces();
    return OCTR_WithSphere(e, root, sphere, centre, root->Radius / OCTR_SQRT3, e->Depth, testFaces, placement);
}

bool CZOctree::OCTR_WithSphere(const ZOCTREE_ENTITY* e, const sOctreeNode* node, const Sphere3* sphere,
                               Vector3 centre, float half, uint32_t depth, bool testFaces, unsigned long placement)
{
    if (!node)
        return false;
    NodesVisited++;
    const Sphere3 own = {centre, node->Radius};
    if (!Mth->TestSphereToSphere(&own, sphere))
        return false;
    if (!depth)
        return !testFaces || OCTR_TestFacesWithSphere(e->Object, (const uint32_t*)(uintptr_t)node->Leaf.Faces,
                                                      node->Leaf.Count, sphere, placement);
    for (int k = 0; k < 8; k++)
        if (OCTR_WithSphere(e, (const sOctreeNode*)(uintptr_t)node->Children[k], sphere,
                            OCTR_Child(centre, Octants[k], half), half / 2, depth - 1, testFaces, placement))
            return true;
    return false;
}

// The faces stand where the tree was walked: turned and moved (3), moved
// (1), or in object space.
bool CZOctree::OCTR_TestFacesWithSphere(uint32_t object, const uint32_t* faces, uint32_t count,
                                        const Sphere3* sphere, unsigned long placement)
{
    const ZO3D_HEADER* h = OCTR_Header(object);
    const ZO3D_FACE* all = (const ZO3D_FACE*)(uintptr_t)h->Faces;
    const Vector3* v = OCTR_FirstFrame(object);
    const Vector3 at = placement == 1 || placement == 3 ? h->Position : Vector3{0, 0, 0};
    if (placement == 3)
        Mth->SetTranslation(at.x, at.y, at.z);
    POLYSTRUCT poly;
    const bool once = Initialised && h->FaceCount <= FaceCapacity;
    for (uint32_t i = 0; i < count; i++) {
        if (once) {
            if (!FaceFlags[faces[i]])
                continue;
            FaceFlags[faces[i]] = 0;
        }
        const ZO3D_FACE& f = all[faces[i]];
        for (int c = 0; c < 3; c++) {
            Vector3 p = v[f.Vertex[c]];
            if (placement == 3) {
                Mth->RotateCords(&p, &p, 1);
            } else {
                p.x += at.x;
                p.y += at.y;
                p.z += at.z;
            }
            poly.Vertex[c].x = p.x;
            poly.Vertex[c].y = p.y;
            poly.Vertex[c].z = p.z;
        }
        if (Mth->TestSphereToTriangle(sphere, &poly))
            return true;
    }
    return false;
}

void CZOctree::SaveSphereOctree(unsigned long, const char*) {}
