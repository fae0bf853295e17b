// CZW3d: one world described by a scene file: up to 1000 objects with a
// bounding sphere each, the textures their materials use and a camera;
// RenderWorld draws the objects whose sphere meets the camera's view cone.
// Main thread only.
//
// Scene file (text): "[OBJECTS]" then pairs "file key" up to an empty token;
// "[TEXTURES]" then texture file names up to an empty token; for each object,
// after the second occurrence of its key, one entry per material slot:
// "TEXTURED name OPTIONS" or "COLORED c1 c2 c3 OPTIONS", where OPTIONS holds
// COLORKEY, ENVIRONMENT and GLENZ by substring ("-" for none).
#ifndef ZARQUEL_ZW3D_H
#define ZARQUEL_ZW3D_H

#include <cstdint>

#include "zapi.h"
#include "ztypes.h"

class CZO3d;
class CZH3d;
class CZMem;
class CZXfs;
class CZDebug;

#define ZW3D_MAX_OBJECTS 1000
#define ZW3D_MAX_FILE_OBJECTS 512
#define ZW3D_MAX_TEXTURES 500
#define ZW3D_KEY_BYTES 512
#define ZW3D_NAME_BYTES 500
#define ZW3D_FREE 0xFFFFFFFFu
#define ZW3D_DEG_TO_RAD 0.017453289f

class ZQAPI CZW3d {
public:
    CZW3d();
    ~CZW3d();

    // False when a scene is loaded already. Lists longer than the tables are
    // cut at the limit, and the cut is logged.
    bool LoadScene(const char* name);
    void FreeScene();
    unsigned long InsertObjectInScene(unsigned long object);    // ZW3D_FREE when full
    void DeleteObjectFromScene(unsigned long slot);
    unsigned long GetObjectHandle(unsigned long slot);
    void SetObjectPosition(unsigned long slot, Vector3* position);
    void SetObjectAngles(unsigned long slot, unsigned long x, unsigned long y, unsigned long z);
    void SetWorldCulling(bool on);
    // Turns `direction` into the look-at point in place.
    void SetCameraPos(Vector3* position, Vector3* direction, Vector3* up, float fov);
    void RenderWorld();
    // 0 outside the view cone, 1 intersecting, 2 inside.
    int TestCone(const Sphere3* sphere);

    CZO3d* O3d;
    CZH3d* H3d;
    CZMem* Mem;
    CZXfs* Xfs;
    CZDebug* Debug;                 // for the refusals
    Vector3 CameraDirection;
    Vector3 CameraPosition;
    Vector3 CameraUp;
    unsigned char Culling;
    float Fov;
    float ConeCos, ConeTan;
    uint32_t ObjectCount;
    uint32_t TextureCount;
    unsigned char SceneLoaded;
    uint32_t Slots[ZW3D_MAX_OBJECTS];
    uint32_t Textures[ZW3D_MAX_TEXTURES];
    Sphere3 Spheres[ZW3D_MAX_OBJECTS];
    char Keys[ZW3D_MAX_OBJECTS][ZW3D_KEY_BYTES];
    char TextureNames[ZW3D_MAX_TEXTURES][ZW3D_NAME_BYTES];

    // Counters of the last RenderWorld.
    uint32_t ObjectsDrawn;
    uint32_t ObjectsCulled;

    // Internal: the lowest free slot (ZW3D_FREE: none); an object put in a
    // slot with its bounding sphere.
    uint32_t W3D_FreeSlot();
    void W3D_Place(uint32_t slot, unsigned long object);
};

#endif
