// CZO3d: the engine's 3D objects. An object is one block of engine memory
// holding a ".3do" image (zo3dfile.h) whose offsets the loader has turned
// into addresses; its handle is the block's address. The module loads and
// builds objects, fills their materials, places and animates them, and turns
// their faces into renderer primitives. There is no object table: the caller
// owns each handle until DestroyObject.
//
// The vertex and normal caches, the next frame, the interpolation method and
// the flat-environment switch are shared by all objects (the last call
// wins): per object, SetActualFrame, then DrawAllObject, then optionally
// DrawDynamicLight, before the next object is touched. Main thread only.
#ifndef ZARQUEL_ZO3D_H
#define ZARQUEL_ZO3D_H

#include <cstdint>

#include "zapi.h"
#include "zo3dfile.h"
#include "zprim.h"
#include "ztypes.h"

class CZMem;
class CZMth;
class CZH3d;
class CZXfs;
class CZDebug;
class CZCaps;

// Draw modes.
#define ZO3D_MODE_OBJECT     0   // vertices as stored, at the origin of object space
#define ZO3D_MODE_TRANSLATE  1   // plus the position
#define ZO3D_MODE_TRANSFORM  2   // rotated by the angles, then placed (frames blend)
#define ZO3D_MODE_TRANSFORM2 3   // the same as 2
#define ZO3D_MODES           4

// Image sizes of the procedural objects.
#define ZO3D_CUBE_BYTES  1580u
#define ZO3D_PLANE_BYTES 412u

class ZQAPI CZO3d {
public:
    CZO3d();
    ~CZO3d();

    // Loading (a damaged file ends the program with a message naming it).
    unsigned long LoadObject(const char* name);
    void DestroyObject(unsigned long object);
    unsigned long GetNumberVertex(unsigned long object);
    unsigned long GetNumberOfFaces(unsigned long object);
    unsigned long GetNumberMaterials(unsigned long object);
    unsigned long GetNumberFrames(unsigned long object);
    unsigned long GetObjectSize(unsigned long object);
    unsigned long GetActualFrame(unsigned long object);
    void* GetVertexPointer(unsigned long object);          // current frame
    void* GetObjectNormalsPointer(unsigned long object);   // current frame
    void* GetFacesPointer(unsigned long object);
    void* GetObjectModulesPointer(unsigned long object);

    // Materials.
    unsigned long LoadMaterials(unsigned long object, const char* name);
    void FreeMaterials(unsigned long materials, int unload);
    void SetMaterialTextured(unsigned long object, unsigned long index, unsigned long flags, unsigned long texture,
                             unsigned long secondTexture, unsigned long bumpMap);
    void SetMaterialColored(unsigned long object, unsigned long index, unsigned long flags, unsigned long colour1,
                            unsigned long colour2, unsigned long colour3);
    void SetMaterialTexturedTrans(unsigned long object, unsigned long index, unsigned long flags,
                                  unsigned long texture, unsigned long secondTexture);
    void InvertCulling(unsigned long object);
    void SetFlatEnvironmentShading(bool flat);

    // Placement.
    void SetObjectPosition(unsigned long object, float x, float y, float z);
    void SetObjectPosition(unsigned long object, unsigned long x, unsigned long y, unsigned long z);
    void SetObjectAngles(unsigned long object, float x, float y, float z);
    void SetObjectAngles(unsigned long object, unsigned long x, unsigned long y, unsigned long z);
    void ScaleObject(unsigned long object, float s);

    // Frames: nothing happens when frame >= the frame count.
    void SetActualFrame(unsigned long object, unsigned long frame);
    void SetActualFrame(unsigned long object, unsigned long frame, int step);
    void SetActualFrame(unsigned long object, unsigned long frame, float factor);
    void SetActualFrame(unsigned long object, unsigned long frame, float factor, int step);
    void SetInterpolationMethod(unsigned long method);
    void RecalcModules(unsigned long object);
    void RecalcNormals(unsigned long object, int flip);

    // Copies.
    unsigned long DuplicateObject(unsigned long object);
    void CopyObject(unsigned long source, unsigned long target);

    // Drawing.
    void InitCache(unsigned long vertices);
    void EndCache();
    void DrawAllObject(unsigned long object, unsigned long mode);
    void DrawPartialObject(unsigned long object, unsigned long* faces, unsigned long count, unsigned long mode);
    void DrawAllObjectWireFrame(unsigned long object, unsigned long mode);
    void DrawDynamicLight(unsigned long object, Sphere3* light, unsigned long texture1, unsigned long texture2,
                          int cull, unsigned long reserved);
    int TestObjectWithLine(unsigned long object, LINESTRUCT* line);

    // Procedural objects.
    unsigned long CreateCube(float height, float width, float depth);
    unsigned long CreatePlane(float height, float width);
    unsigned long CreatePlane2d(float width, float height, float depth);
    void SetPlane2dMapping(unsigned long object, float ua, float va, float ub, float vb);
    void ModifyMapping(unsigned long object, float du, float dv);
    void ModifyMapping(unsigned long object, unsigned long material, float du, float dv);

    CZMem* Mem;
    CZMth* Mth;
    CZH3d* H3d;
    CZXfs* Xfs;
    CZDebug* Debug;
    CZCaps* Caps;
    uint32_t FloatAngles;           // nonzero: DrawAllObject uses the angles unrounded
    unsigned char CacheReady;
    Vector3* VertexCache;           // transformed vertices of the object drawn last
    Vector3* NormalCache;           // and its transformed normals
    uint32_t CacheBytes;            // of each cache
    uint32_t CacheVertices;
    unsigned char FlatEnvironment;  // ENVIRONMENT mappings from the first corner only
    uint32_t InterpolationMethod;   // 0: normals blend toward the next frame; else toward frame + 1
    uint32_t NextFrame;             // frame to blend toward, set by every SetActualFrame

    // Counters, cheap and always kept.
    uint32_t ObjectsLoaded;
    uint32_t FacesQueued;           // primitives handed to the renderer (faces, edges, light faces)
    uint32_t FacesCulled;           // DrawDynamicLight faces turned away from the light
    uint32_t DrawsRefused;          // caller mistakes refused (see O3D_Refuse)

private:
    uint8_t* O3D_ReadWhole(const char* name, uint32_t spare, uint32_t* size);
    void O3D_SelectFrame(unsigned long object, unsigned long frame, const float* factor, int step, bool stepped);
    bool O3D_Prepare(unsigned long object, unsigned long mode, bool blend, bool floatAngles,
                     const Vector3** vertices, const Vector3** normals, const char* caller);
    void O3D_DrawFaces(unsigned long object, const unsigned long* list, unsigned long count, unsigned long mode,
                       bool all);
    void O3D_SetMaterial(unsigned long object, unsigned long index, const char* caller, uint32_t type, uint32_t flags,
                         uint32_t texture, uint32_t second, const uint32_t* bump, const uint32_t colours[3]);
    void O3D_Refuse(uint32_t reason, const char* format, ...) __attribute__((format(gnu_printf, 3, 4)));
    unsigned long O3D_Build(int kind, const float* scale);

    uint32_t RefusalsLogged;        // one bit per reason: already in the log
};

#endif
