// CZOctree: sphere octrees built at run time over the faces of one CZO3d
// object, to draw only the faces whose leaf spheres are in the view frustum
// and to test a sphere against the object. One build at a time; main thread
// only (the octant table, the face flags and CZMth's transform state are
// shared by every entity).
#ifndef ZARQUEL_ZOCTREE_H
#define ZARQUEL_ZOCTREE_H

#include <cstddef>
#include <cstdint>

#include "zapi.h"
#include "ztypes.h"

class CZMem;
class CZMth;
class CZO3d;
class CZH3d;
class CZDebug;

#define ZOCTREE_LEAF_MARKER 0xFABACABAu
#define ZOCTREE_MAX_DEPTH 7             // the estimated node area grows by 8 per level

#pragma pack(push, 1)
// Interior node: eight child addresses in octant-table order (0 = empty),
// then the radius. A leaf has the same size: its face list, count and object,
// four zero words, the marker where child 7 would be, then the radius.
struct sOctreeNode {
    union {
        uint32_t Children[8];
        struct {
            uint32_t Faces;     // address of the face numbers, 0 when empty
            uint32_t Count;
            uint32_t Object;
            uint32_t Zero[4];
            uint32_t Marker;    // ZOCTREE_LEAF_MARKER
        } Leaf;
    };
    float Radius;
};

// An octree; its address is the entity handle.
struct ZOCTREE_ENTITY {
    uint32_t Object;
    uint32_t AreaBytes;
    uint32_t Depth;
    uint32_t Nodes;         // address of the root; the tree is one block
    uint32_t Rotated;       // built over the vertices turned by angles 0
};

#pragma pack(pop)
static_assert(sizeof(sOctreeNode) == 36 && offsetof(sOctreeNode, Radius) == 32 &&
              offsetof(sOctreeNode, Leaf.Marker) == 28, "octree node is 36 bytes");
static_assert(sizeof(ZOCTREE_ENTITY) == 20, "octree entity");

class ZQAPI CZOctree {
public:
    CZOctree();
    ~CZOctree();

    void InitOctrees(unsigned long faceCapacity, unsigned long leafCapacity);
    void EndOctrees();
    // 0 when refused (not initialised, too many faces, too deep, no memory).
    unsigned long CreateOctreeEntity(unsigned long object, unsigned long depth, int rotate);
    void DestroyOctreeEntity(unsigned long entity);
    // Placement 1: moved by the object's position; 3: turned by its angles
    // and moved; any other: object space as stored.
    void DrawOctreeEntity(unsigned long entity, unsigned long placement);
    bool TestSphereWithEntity(unsigned long entity, Sphere3* sphere, unsigned long placement, bool testFaces);
    // Does nothing: octrees are built at load time, in well under a second.
    void SaveSphereOctree(unsigned long entity, const char* file);

    CZMem* Mem;
    CZMth* Mth;
    CZO3d* O3d;
    CZH3d* H3d;
    CZDebug* Debug;
    sOctreeNode* Cursor;        // last node handed out while building
    uint32_t UsedBytes;
    uint32_t* FaceFlags;        // 0 = selected, all ones = not; reused as the output list
    uint32_t FaceCapacity;
    uint32_t LeafCapacity;
    unsigned char Initialised;
    const Vector3* Source;      // vertices used while building
    uint32_t BuildObject;
    ZOCTREE_ENTITY* BuildEntity;
    Vector3 Octants[8];

    // Counters.
    uint32_t NodesVisited;      // by the last draw or test
    uint32_t NodesCulled;       // by the last draw
    uint32_t FacesDrawn;        // by the last draw
    uint32_t LeafFacesDropped;  // faces a full leaf could not keep (logged)

private:
    uint32_t* LeafList;         // LeafCapacity entries while building
    uint32_t* Scratch;          // while building: (depth + 1) candidate lists of ScratchFaces
    uint32_t ScratchFaces;
    void OCTR_ResetNodes();
    sOctreeNode* OCTR_GetOctreeMem();
    void OCTR_FreeOctreeNodeMem();
    bool OCTR_CalculateOctree(sOctreeNode* node, float radius, float half, Vector3 centre, uint32_t depth,
                              const uint32_t* in, uint32_t n);
    bool OCTR_GetNodeFaces(sOctreeNode* node, float radius, Vector3 centre, const uint32_t* in, uint32_t n);
    uint32_t OCTR_Touching(const uint32_t* in, uint32_t n, Vector3 centre, float radius, uint32_t* out);
    void OCTR_OctreeResizeFix(sOctreeNode* node, int32_t delta, uint32_t depth);
    void OCTR_FreeLeaves(sOctreeNode* node, uint32_t depth);
    void OCTR_ClearFaces();
    bool OCTR_TestFrustumNode(const Vector3& centre, float radius);
    void OCTR_DrawOctreeRecursive(const sOctreeNode* node, Vector3 centre, float radius, float half, uint32_t depth);
    void OCTR_DrawFaces(uint32_t object, unsigned long placement);
    Vector3 OCTR_Placement(const ZOCTREE_ENTITY* e, unsigned long placement);
    bool OCTR_WithSphere(const ZOCTREE_ENTITY* e, const sOctreeNode* node, const Sphere3* sphere, Vector3 centre,
                         float half, uint32_t depth, bool testFaces, unsigned long placement);
    bool OCTR_TestFacesWithSphere(uint32_t object, const uint32_t* faces, uint32_t count, const Sphere3* sphere,
                                  unsigned long placement);
    bool OCTR_Usable(unsigned long object, const char* caller);
    uint32_t LoggedRefusals;
};

#endif
