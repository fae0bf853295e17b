// CZOctreeAABB: culling, lighting and collision of one large static object
// (a level) through a precomputed tree of axis-aligned boxes loaded from an
// ".oct" file (zoctfile.h). The octree handle is the address of the loaded
// block (its AABBHeader).
//
// One face flag array serves every octree of the instance: Init sizes it for
// the largest object. Every pass (draw, light) resets only what the previous
// pass touched, marks the faces of the leaves it reaches, and scans the
// marked range into a list of face numbers written over the same array
// (each face once, ascending). Main thread only.
#ifndef ZARQUEL_ZOCTAABB_H
#define ZARQUEL_ZOCTAABB_H

#include <cstdint>

#include "zapi.h"
#include "zoctfile.h"
#include "ztypes.h"

class CZMem;
class CZMth;
class CZO3d;
class CZH3d;
class CZDebug;
class CZXfs;

// Flag of a face the current pass left out; 0 marks a reached face.
#define ZAABB_FACE_OUT 0xFFFFFFFFu
// Render flags of the light pass: additive, second texture modulated 4x, clamped.
#define ZAABB_LIGHT_FLAGS 0x4811u

class ZQAPI CZOctreeAABB {
public:
    CZOctreeAABB();
    ~CZOctreeAABB();

    void Init(unsigned long maxFaces);
    // A damaged file (or one for an object with more faces than Init was
    // given) ends the program with a message naming it.
    unsigned long LoadAABBOctree(unsigned long object, const char* name);
    void DestroyAABBOctree(unsigned long octree);
    void DrawAABBObject(unsigned long octree);
    void DrawDynamicLight(unsigned long octree, Sphere3* light, unsigned long texture1, unsigned long texture2);
    bool TestAABBWithSphere(unsigned long octree, Sphere3* sphere, bool testFaces);

    CZMem* Mem;
    CZMth* Mth;
    CZO3d* O3d;
    CZH3d* H3d;
    CZDebug* Debug;
    CZXfs* Xfs;
    unsigned long* FaceFlags;     // after a pass: its face list, OutputCount entries
    uint32_t FaceFlagBytes;
    uint32_t Highest;             // face range the last pass reached
    uint32_t Lowest;
    uint32_t OutputCount;         // entries of the last pass's face list

    // Counters, cheap and always kept.
    uint32_t NodesTested;         // frustum and sphere tests of node boxes
    uint32_t LeavesReached;
    uint32_t TrianglesTested;     // collision tests against faces
    uint32_t FacesListed;         // faces handed on by all passes
    uint32_t PassesRefused;       // passes over an object with more faces than Init was given

private:
    bool AABB_Ready(const AABBHeader* h, const char* caller);
    uint32_t AABB_FixRecursive(AABBNode* array, uint32_t count, uint32_t base);
    bool AABB_TestSphereFrustum(const Sphere3* sphere);
    int AABB_TestNodeWithFrustum(const AABBNode* node);
    bool AABB_TestNodeWithSphere(const AABBNode* node, const Sphere3* sphere);
    bool AABB_TestRecursive(const AABBHeader* h, const AABBNode* array, uint32_t count, const Sphere3* sphere,
                            bool testFaces);
    void AABB_LightRecursive(const AABBNode* array, uint32_t count, const Sphere3* sphere);
    void AABB_FindCameraRecursive(const AABBNode* array, uint32_t count, const Sphere3* sphere, uint8_t* visibility);
    void AABB_DrawRecursive(const AABBNode* array, uint32_t count);
    void AABB_DrawRecursiveInside(const AABBNode* array, uint32_t count);
    void AABB_DrawPVSRecursive(const AABBNode* array, uint32_t count, const uint8_t* visibility);
    void AABB_DrawPVSRecursiveInside(const AABBNode* array, uint32_t count, const uint8_t* visibility);
    void AABB_ClearFacesInfo(uint32_t faces);
    void AABB_InsertFaces(const AABBLeaf* leaf);
    uint32_t AABB_ListFaces();
    void AABB_Walk(const AABBNode* array, uint32_t count, bool inside, const uint8_t* visibility);
    bool AABB_Barren(const AABBNode* node, const uint8_t* visibility, int depth);
    bool AABB_SphereWalk(const AABBNode* array, uint32_t count, const Sphere3* sphere, int job, void* data);

    uint32_t RefusalLogged;       // the Init refusal is in the log
};

#endif
