// CZOctreeAABB: loading and checking ".oct" images, the face-flag passes
// (frustum, PVS, light sphere) and the sphere collision test.
#include "zoctaabb.h"

#include <cstdio>
#include <cstring>

#include "zdebug.h"
#include "zh3d.h"
#include "zmem.h"
#include "zmth.h"
#include "zo3d.h"
#include "zxfs.h"

#define AABB_CAPTION "Zarquel ZAABB"

static_assert(sizeof(unsigned long) == 4, "face lists are handed to CZO3d as 32-bit unsigned long");

// Jobs of the sphere walk.
enum { AABB_JOB_COLLECT, AABB_JOB_CAMERA, AABB_JOB_COLLIDE, AABB_JOB_TOUCH };

template <class T> static inline T* AABB_At(uint32_t address)
{
    return (T*)(uintptr_t)address;
}

static inline AABBHeader* AABB_Header(unsigned long octree)
{
    return (AABBHeader*)(uintptr_t)octree;
}

static inline bool AABB_IsLeaf(const AABBNode* record)
{
    return *(const uint32_t*)record == ZOCT_LEAF_MARKER;
}

// What the passes read of the object: its header, faces and first frame.
static inline const ZO3D_HEADER* AABB_Object(const AABBHeader* h)
{
    return (const ZO3D_HEADER*)(uintptr_t)h->Object;
}

static inline const Vector3* AABB_FirstFrame(const ZO3D_HEADER* o)
{
    return AABB_At<Vector3>(AABB_At<uint32_t>(o->FrameVertices)[0]);
}

[[noreturn]] static void AABB_Fatal(CZDebug* debug, const char* what, const char* name, const char* why)
{
    char text[512];
    snprintf(text, sizeof(text), "%s: %s (%s)", what, name, why);
    debug->ShowMessageAndExit(text, AABB_CAPTION);
}

CZOctreeAABB::CZOctreeAABB()
{
    Mem = nullptr;
    Mth = nullptr;
    O3d = nullptr;
    H3d = nullptr;
    Debug = nullptr;
    Xfs = nullptr;
    FaceFlags = nullptr;
    FaceFlagBytes = 0;
    Highest = 1;
    Lowest = 0;
    OutputCount = 0;
    NodesTested = LeavesReached = TrianglesTested = FacesListed = PassesRefused = 0;
    RefusalLogged = 0;
}

CZOctreeAABB::~CZOctreeAABB()
{
    if (FaceFlags)
        Mem->FreeMem(FaceFlags, FaceFlagBytes);
}

void CZOctreeAABB::Init(unsigned long maxFaces)
{
    if (FaceFlags)
        Mem->FreeMem(FaceFlags, FaceFlagBytes);
    FaceFlags = nullptr;
    FaceFlagBytes = 0;
    if (maxFaces > 0x3FFFFFFFu || !(FaceFlags = (unsigned long*)Mem->GetMem(maxFaces * 4))) {
        char text[128];
        snprintf(text, sizeof(text), "Not enough memory for the face flags of %lu faces", maxFaces);
        Debug->ShowMessageAndExit(text, AABB_CAPTION);
    }
    FaceFlagBytes = maxFaces * 4;
    memset(FaceFlags, 0xFF, FaceFlagBytes);
    Highest = 1;
    Lowest = 0;
    OutputCount = 0;
}

// ---------------------------------------------------------------------------
// Loading

// Turns the offsets of an array and everything below it into addresses.
// Returns the records fixed.
uint32_t CZOctreeAABB::AABB_FixRecursive(AABBNode* array, uint32_t count, uint32_t base)
{
    uint32_t fixed = 0;
    for (uint32_t i = 0; i < count; i++, fixed++) {
        if (AABB_IsLeaf(array + i)) {
            AABBLeaf* leaf = (AABBLeaf*)(array + i);
            leaf->List1 += base;
            leaf->List2 += base;
            leaf->Visible += base;
            return fixed + 1;
        }
        array[i].Children += base;
        fixed += AABB_FixRecursive(AABB_At<AABBNode>(array[i].Children), array[i].ChildCount, base);
    }
    return fixed;
}

unsigned long CZOctreeAABB::LoadAABBOctree(unsigned long object, const char* name)
{
    unsigned long file = Xfs->OpenFile(name);
    const uint32_t size = Xfs->GetFileSize(file);
    uint8_t* block = size ? (uint8_t*)Mem->GetMem(size) : nullptr;
    if (!block && size) {
        Xfs->CloseFile(file);
        AABB_Fatal(Debug, "Not enough memory to load", name, "engine heap exhausted");
    }
    const uint32_t got = size ? Xfs->ReadFile(file, block, size) : 0;
    Xfs->CloseFile(file);
    char why[ZOCT_WHY_BYTES];
    if (got != size) {
        snprintf(why, sizeof(why), "%u of %u bytes could be read", got, size);
        AABB_Fatal(Debug, "Damaged octree file", name, why);
    }

    // Checked once here, so that no pass ever needs a bound of its own.
    const uint32_t faces = ((const ZO3D_HEADER*)(uintptr_t)object)->FaceCount;
    const uint32_t scratchBytes = ZOCT_RegionCapacity(size) * sizeof(ZOCT_REGION);
    ZOCT_REGION* scratch = (ZOCT_REGION*)Mem->GetMem(scratchBytes);
    if (!scratch)
        AABB_Fatal(Debug, "Not enough memory to check", name, "engine heap exhausted");
    const bool sound = ZOCT_CheckImage(block, size, faces, FaceFlagBytes / 4, scratch, why);
    Mem->FreeMem(scratch, scratchBytes);
    if (!sound)
        AABB_Fatal(Debug, "Damaged octree file", name, why);

    AABBHeader* h = (AABBHeader*)block;
    const uint32_t base = (uint32_t)(uintptr_t)block;
    h->Object = (uint32_t)object;
    h->Root += base;
    AABB_FixRecursive(AABB_At<AABBNode>(h->Root), 1, base);
    h->Visibility = 0;
    if (h->Pvs == ZOCT_PVS && h->Cells) {
        uint8_t* visibility = (uint8_t*)Mem->GetMem(h->Cells);
        if (!visibility)
            AABB_Fatal(Debug, "Not enough memory for the visibility buffer of", name, "engine heap exhausted");
        memset(visibility, 0, h->Cells);
        h->Visibility = (uint32_t)(uintptr_t)visibility;
    }
    return (unsigned long)base;
}

void CZOctreeAABB::DestroyAABBOctree(unsigned long octree)
{
    if (!octree)
        return;
    AABBHeader* h = AABB_Header(octree);
    if (h->Visibility)
        Mem->FreeMem(AABB_At<void>(h->Visibility), h->Cells);
    Mem->FreeMem(h, h->FileSize);
}

// The load check made every face number of the octree safe for the flag
// array it saw; a later Init with fewer faces than the object has would
// undo that. One comparison per pass, refused and logged once.
bool CZOctreeAABB::AABB_Ready(const AABBHeader* h, const char* caller)
{
    const uint32_t faces = AABB_Object(h)->FaceCount;
    if (faces <= FaceFlagBytes / 4)
        return true;
    PassesRefused++;
    if (!RefusalLogged && Debug) {
        RefusalLogged = 1;
        Debug->OutputDebug("AABB: %s: the object has %u faces but Init was given %u; nothing done (call Init with "
                           "at least the faces of the largest object)", caller, faces, FaceFlagBytes / 4);
    }
    return false;
}

// ---------------------------------------------------------------------------
// Face collection

// Puts back what the last pass marked or overwrote, and opens a new range.
void CZOctreeAABB::AABB_ClearFacesInfo(uint32_t faces)
{
    const uint32_t size = FaceFlagBytes / 4;
    if (OutputCount)
        memset(FaceFlags, 0xFF, 4 * (OutputCount < size ? OutputCount : size));
    const uint32_t high = Highest < size ? Highest : size - 1;
    if (size && Lowest <= high)
        memset(FaceFlags + Lowest, 0xFF, 4 * (high - Lowest + 1));
    OutputCount = 0;
    Highest = 0;
    Lowest = faces;
}

void CZOctreeAABB::AABB_InsertFaces(const AABBLeaf* leaf)
{
    LeavesReached++;
    const uint32_t* list = AABB_At<uint32_t>(leaf->List1);
    for (uint32_t i = 0; i < leaf->Count1; i++)
        FaceFlags[list[i]] = 0;
    list = AABB_At<uint32_t>(leaf->List2);
    for (uint32_t i = 0; i < leaf->Count2; i++)
        FaceFlags[list[i]] = 0;
    if (leaf->Lowest <= leaf->Highest) {
        if (leaf->Highest > Highest)
            Highest = leaf->Highest;
        if (leaf->Lowest < Lowest)
            Lowest = leaf->Lowest;
    }
}

// The marked faces, ascending, written over the flags from the start (the
// write position never passes the read position).
uint32_t CZOctreeAABB::AABB_ListFaces()
{
    unsigned long* out = FaceFlags;
    if (Lowest <= Highest && Highest < FaceFlagBytes / 4) {
        uint32_t f = Lowest;
        // Four flags at a time: a run of faces left out costs one test, and
        // a group with reached faces is written without branches (each face
        // number goes to the write position, which moves on only for a
        // reached face; it never passes the flags already read).
        for (; f + 3 <= Highest; f += 4) {   // Highest is below 2^30: no overflow
            const unsigned long a = FaceFlags[f], b = FaceFlags[f + 1], c = FaceFlags[f + 2], d = FaceFlags[f + 3];
            if ((a & b & c & d) == ZAABB_FACE_OUT)
                continue;
            out[0] = f;
            out += a == 0;
            out[0] = f + 1;
            out += b == 0;
            out[0] = f + 2;
            out += c == 0;
            out[0] = f + 3;
            out += d == 0;
        }
        for (; f <= Highest; f++)
            if (FaceFlags[f] == 0)
                *out++ = f;
        // The last write may have left a face number past the list.
        if (out < FaceFlags + FaceFlagBytes / 4)
            *out = ZAABB_FACE_OUT;
    }
    OutputCount = (uint32_t)(out - FaceFlags);
    FacesListed += OutputCount;
    return OutputCount;
}

// ---------------------------------------------------------------------------
// Frustum

// 0 outside, 1 straddling a plane, 2 completely inside.
int CZOctreeAABB::AABB_TestNodeWithFrustum(const AABBNode* node)
{
    NodesTested++;
    const Vector3& a = node->Cube.Corner[0];
    const Vector3& b = node->Cube.Corner[6];
    const float cx = (a.x + b.x) * 0.5f, cy = (a.y + b.y) * 0.5f, cz = (a.z + b.z) * 0.5f;
    const float hx = __builtin_fabsf(a.x - b.x) * 0.5f, hy = __builtin_fabsf(a.y - b.y) * 0.5f,
                hz = __builtin_fabsf(a.z - b.z) * 0.5f;
    int result = 2;
    for (int i = 0; i < 6; i++) {
        const Plane& p = H3d->Frustum[i];
        const float t = p.a * cx + p.b * cy + p.c * cz + p.d;
        const float r = __builtin_fabsf(p.a) * hx + __builtin_fabsf(p.b) * hy + __builtin_fabsf(p.c) * hz;
        if (t + r < 0)
            return 0;
        if (t - r < 0)
            result = 1;
    }
    return result;
}

// True when the walk below `node` would collect no face: its array ends
// at a leaf without faces or with a cell not marked visible, or (`depth`
// levels further) every node before that is such a node. Follows the
// arrays as the walk and the load check do.
bool CZOctreeAABB::AABB_Barren(const AABBNode* node, const uint8_t* visibility, int depth)
{
    const AABBNode* array = AABB_At<AABBNode>(node->Children);
    for (uint32_t i = 0; i < node->ChildCount; i++) {
        if (AABB_IsLeaf(array + i)) {
            const AABBLeaf* leaf = (const AABBLeaf*)(array + i);
            return (leaf->Count1 | leaf->Count2) == 0 || !visibility[leaf->Cell];
        }
        if (!depth || !AABB_Barren(array + i, visibility, depth - 1))
            return false;
    }
    return true;
}

// The four frustum walks share this body: `inside` skips the tests of a
// subtree already known to be inside, `visibility` (PVS) keeps only leaves
// whose cell is marked.
void CZOctreeAABB::AABB_Walk(const AABBNode* array, uint32_t count, bool inside, const uint8_t* visibility)
{
    for (uint32_t i = 0; i < count; i++) {
        const AABBNode* node = array + i;
        if (AABB_IsLeaf(node)) {
            const AABBLeaf* leaf = (const AABBLeaf*)node;
            if (!visibility || visibility[leaf->Cell])
                AABB_InsertFaces(leaf);
            return;
        }
        // With the PVS most cells in view are unseen: a node that could add
        // nothing is passed without its box test.
        if (visibility && !inside && AABB_Barren(node, visibility, 1))
            continue;
        const int where = inside ? 2 : AABB_TestNodeWithFrustum(node);
        if (where)
            AABB_Walk(AABB_At<AABBNode>(node->Children), node->ChildCount, where == 2, visibility);
    }
}

void CZOctreeAABB::AABB_DrawRecursive(const AABBNode* array, uint32_t count)
{
    AABB_Walk(array, count, false, nullptr);
}

void CZOctreeAABB::AABB_DrawRecursiveInside(const AABBNode* array, uint32_t count)
{
    AABB_Walk(array, count, true, nullptr);
}

void CZOctreeAABB::AABB_DrawPVSRecursive(const AABBNode* array, uint32_t count, const uint8_t* visibility)
{
    AABB_Walk(array, count, false, visibility);
}

void CZOctreeAABB::AABB_DrawPVSRecursiveInside(const AABBNode* array, uint32_t count, const uint8_t* visibility)
{
    AABB_Walk(array, count, true, visibility);
}

void CZOctreeAABB::DrawAABBObject(unsigned long octree)
{
    const AABBHeader* h = AABB_Header(octree);
    if (!AABB_Ready(h, "DrawAABBObject"))
        return;
    const ZO3D_HEADER* object = AABB_Object(h);
    AABB_ClearFacesInfo(object->FaceCount);
    const AABBNode* root = AABB_At<AABBNode>(h->Root);
    if (h->Pvs == ZOCT_PVS) {
        uint8_t* visibility = AABB_At<uint8_t>(h->Visibility);
        const Sphere3 camera = {H3d->CameraPosition, 2.0f * h->CameraRadius};
        if (visibility) {
            AABB_FindCameraRecursive(root, 1, &camera, visibility);
            AABB_DrawPVSRecursive(root, 1, visibility);
            memset(visibility, 0, h->Cells);
        }
    } else {
        AABB_DrawRecursive(root, 1);
    }
    if (AABB_ListFaces())
        O3d->DrawPartialObject(h->Object, FaceFlags, OutputCount, 0);
}

// ---------------------------------------------------------------------------
// Spheres

bool CZOctreeAABB::AABB_TestSphereFrustum(const Sphere3* sphere)
{
    for (int i = 0; i < 6; i++) {
        const Plane& p = H3d->Frustum[i];
        if (p.a * sphere->Center.x + p.b * sphere->Center.y + p.c * sphere->Center.z + p.d <= -sphere->Radius)
            return false;
    }
    return true;
}

// Touching counts: a sphere exactly its radius from the box touches it.
bool CZOctreeAABB::AABB_TestNodeWithSphere(const AABBNode* node, const Sphere3* sphere)
{
    NodesTested++;
    const float c[3] = {sphere->Center.x, sphere->Center.y, sphere->Center.z};
    const float lo[3] = {node->Min.x, node->Min.y, node->Min.z};
    const float hi[3] = {node->Max.x, node->Max.y, node->Max.z};
    float sum = 0;
    for (int k = 0; k < 3; k++) {
        if (c[k] < lo[k])
            sum += (c[k] - lo[k]) * (c[k] - lo[k]);
        else if (c[k] > hi[k])
            sum += (c[k] - hi[k]) * (c[k] - hi[k]);
    }
    return sphere->Radius * sphere->Radius >= sum;
}

// The sphere walks share this body: descend every node the sphere touches
// and, at each leaf, do the job. Only AABB_JOB_COLLIDE and AABB_JOB_TOUCH
// end early (on a hit).
bool CZOctreeAABB::AABB_SphereWalk(const AABBNode* array, uint32_t count, const Sphere3* sphere, int job, void* data)
{
    for (uint32_t i = 0; i < count; i++) {
        const AABBNode* node = array + i;
        if (AABB_IsLeaf(node)) {
            const AABBLeaf* leaf = (const AABBLeaf*)node;
            switch (job) {
            case AABB_JOB_COLLECT:
                AABB_InsertFaces(leaf);
                return false;
            case AABB_JOB_CAMERA: {
                uint8_t* visibility = (uint8_t*)data;
                const uint32_t* cells = AABB_At<uint32_t>(leaf->Visible);
                for (uint32_t k = 0; k < leaf->VisibleCount; k++)
                    visibility[cells[k]] = 1;
                return false;
            }
            case AABB_JOB_TOUCH:
                return true;
            default: {
                const AABBHeader* h = (const AABBHeader*)data;
                const ZO3D_HEADER* o = AABB_Object(h);
                const Vector3* v = AABB_FirstFrame(o);
                const ZO3D_FACE* faces = AABB_At<ZO3D_FACE>(o->Faces);
                const uint32_t* list = AABB_At<uint32_t>(leaf->List1);
                POLYSTRUCT p;
                for (uint32_t k = 0; k < leaf->Count1; k++) {
                    const ZO3D_FACE& f = faces[list[k]];
                    for (int c = 0; c < 3; c++) {
                        const Vector3& q = v[f.Vertex[c]];
                        p.Vertex[c].x = q.x + o->Position.x;
                        p.Vertex[c].y = q.y + o->Position.y;
                        p.Vertex[c].z = q.z + o->Position.z;
                    }
                    TrianglesTested++;
                    if (Mth->TestSphereToTriangle(sphere, &p))
                        return true;
                }
                return false;
            }
            }
        }
        if (AABB_TestNodeWithSphere(node, sphere) &&
            AABB_SphereWalk(AABB_At<AABBNode>(node->Children), node->ChildCount, sphere, job, data))
            return true;
    }
    return false;
}

bool CZOctreeAABB::AABB_TestRecursive(const AABBHeader* h, const AABBNode* array, uint32_t count,
                                      const Sphere3* sphere, bool testFaces)
{
    // The octree's header rides along for the face tests.
    return AABB_SphereWalk(array, count, sphere, testFaces ? AABB_JOB_COLLIDE : AABB_JOB_TOUCH, (void*)h);
}

void CZOctreeAABB::AABB_LightRecursive(const AABBNode* array, uint32_t count, const Sphere3* sphere)
{
    AABB_SphereWalk(array, count, sphere, AABB_JOB_COLLECT, nullptr);
}

void CZOctreeAABB::AABB_FindCameraRecursive(const AABBNode* array, uint32_t count, const Sphere3* sphere,
                                            uint8_t* visibility)
{
    AABB_SphereWalk(array, count, sphere, AABB_JOB_CAMERA, visibility);
}

bool CZOctreeAABB::TestAABBWithSphere(unsigned long octree, Sphere3* sphere, bool testFaces)
{
    const AABBHeader* h = AABB_Header(octree);
    return AABB_Ready(h, "TestAABBWithSphere") && AABB_TestRecursive(h, AABB_At<AABBNode>(h->Root), 1, sphere, testFaces);
}

void CZOctreeAABB::DrawDynamicLight(unsigned long octree, Sphere3* light, unsigned long texture1,
                                    unsigned long texture2)
{
    const AABBHeader* h = AABB_Header(octree);
    if (!AABB_TestSphereFrustum(light) || !AABB_Ready(h, "DrawDynamicLight"))
        return;
    const ZO3D_HEADER* o = AABB_Object(h);
    AABB_ClearFacesInfo(o->FaceCount);
    AABB_LightRecursive(AABB_At<AABBNode>(h->Root), 1, light);
    const uint32_t count = AABB_ListFaces();

    const Vector3* v = AABB_FirstFrame(o);
    const Vector3* n = AABB_At<Vector3>(AABB_At<uint32_t>(o->FrameNormals)[0]);
    const ZO3D_FACE* faces = AABB_At<ZO3D_FACE>(o->Faces);
    const float k = 1.0f / light->Radius;
    const Vector3& L = light->Center;
    POLYSTRUCT p;
    memset(&p, 0, sizeof(p));
    p.Kind = ZPRIM_TEXTURED;
    p.Flags = ZAABB_LIGHT_FLAGS;
    for (uint32_t i = 0; i < count; i++) {
        const ZO3D_FACE& f = faces[FaceFlags[i]];
        for (int c = 0; c < 3; c++) {
            const Vector3& q = v[f.Vertex[c]];
            POLYVERTEX& pv = p.Vertex[c];
            pv.x = q.x;
            pv.y = q.y;
            pv.z = q.z;
            // The renderer lights nothing with these; the first frame's
            // normals are as good as any.
            pv.nx = n[f.Vertex[c]].x;
            pv.ny = n[f.Vertex[c]].y;
            pv.nz = n[f.Vertex[c]].z;
            pv.u = (q.x - L.x) * k * 0.5f + 0.5f;
            pv.v = (q.y - L.y) * k * 0.5f + 0.5f;
            pv.u2 = (q.z - L.z) * k * 0.5f + 0.5f;
            pv.v2 = 0.5f;
        }
        // DrawPoly clears the textures the flags do not use, so set them each time.
        p.Texture1 = texture1;
        p.Texture2 = texture2;
        p.Texture3 = 0;
        H3d->DrawPoly(&p);
    }
}
