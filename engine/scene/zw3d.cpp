#include "zw3d.h"

#include <cmath>
#include <cstring>

#include "zdebug.h"
#include "zh3d.h"
#include "zmem.h"
#include "zo3d.h"
#include "zw3d_text.h"
#include "zxfs.h"

CZW3d::CZW3d()
    : O3d(nullptr), H3d(nullptr), Mem(nullptr), Xfs(nullptr), Debug(nullptr), Culling(1), Fov(0), ConeCos(1),
      ConeTan(0), ObjectCount(0), TextureCount(0), SceneLoaded(0), ObjectsDrawn(0), ObjectsCulled(0)
{
    CameraDirection = {0, 0, 1};
    CameraPosition = {0, 0, 0};
    CameraUp = {0, 1, 0};
    memset(Slots, 0xFF, sizeof(Slots));
    memset(Textures, 0xFF, sizeof(Textures));
    memset(Spheres, 0, sizeof(Spheres));
    memset(Keys, 0, sizeof(Keys));
    memset(TextureNames, 0, sizeof(TextureNames));
}

CZW3d::~CZW3d()
{
    if (SceneLoaded)
        FreeScene();
}

uint32_t CZW3d::W3D_FreeSlot()
{
    for (uint32_t i = 0; i < ZW3D_MAX_OBJECTS; i++)
        if (Slots[i] == ZW3D_FREE)
            return i;
    return ZW3D_FREE;
}

// The sphere holds every vertex of the current frame whatever the object's
// angles: it is centred on the object's origin (its position), with the
// distance from there to the vertex box's centre plus half the box's
// diagonal as radius.
void CZW3d::W3D_Place(uint32_t slot, unsigned long object)
{
    Slots[slot] = object;
    ObjectCount++;
    const ZO3D_HEADER* h = (const ZO3D_HEADER*)(uintptr_t)object;
    const Vector3* v = (const Vector3*)O3d->GetVertexPointer(object);
    const uint32_t n = O3d->GetNumberVertex(object);
    Vector3 lo = {0, 0, 0}, hi = {0, 0, 0};
    for (uint32_t i = 0; i < n; i++) {
        if (!i || v[i].x < lo.x) lo.x = v[i].x;
        if (!i || v[i].y < lo.y) lo.y = v[i].y;
        if (!i || v[i].z < lo.z) lo.z = v[i].z;
        if (!i || v[i].x > hi.x) hi.x = v[i].x;
        if (!i || v[i].y > hi.y) hi.y = v[i].y;
        if (!i || v[i].z > hi.z) hi.z = v[i].z;
    }
    const float cx = (lo.x + hi.x) / 2, cy = (lo.y + hi.y) / 2, cz = (lo.z + hi.z) / 2;
    const float dx = hi.x - lo.x, dy = hi.y - lo.y, dz = hi.z - lo.z;
    Sphere3& s = Spheres[slot];
    s.Center = h->Position;
    s.Radius = sqrtf(cx * cx + cy * cy + cz * cz) + sqrtf(dx * dx + dy * dy + dz * dz) / 2;
}

// The scanner's requests, answered by the world.
struct W3D_LOAD {
    CZW3d* World;
    uint32_t Slots[ZW3D_MAX_FILE_OBJECTS];
    bool SlotsFull;
};

static bool W3D_OnObject(void* user, uint32_t index, const char* file, const char* key)
{
    W3D_LOAD* l = (W3D_LOAD*)user;
    const uint32_t slot = l->World->W3D_FreeSlot();
    if (slot == ZW3D_FREE) {
        l->SlotsFull = true;
        return false;
    }
    l->World->W3D_Place(slot, l->World->O3d->LoadObject(file));
    memcpy(l->World->Keys[slot], key, ZW3D_KEY_BYTES);
    l->Slots[index] = slot;
    return true;
}

static void W3D_OnTexture(void* user, uint32_t index, const char* name)
{
    CZW3d* w = ((W3D_LOAD*)user)->World;
    w->Textures[index] = w->H3d->LoadTextureFromFile((char*)name);
    strncpy(w->TextureNames[index], name, ZW3D_NAME_BYTES - 1);
    w->TextureNames[index][ZW3D_NAME_BYTES - 1] = 0;
    w->TextureCount = index + 1;
}

static uint32_t W3D_OnMaterials(void* user, uint32_t index)
{
    const W3D_LOAD* l = (const W3D_LOAD*)user;
    return l->World->O3d->GetNumberMaterials(l->World->Slots[l->Slots[index]]);
}

// TEXTURED names a texture of the list exactly, or gets texture 0.
static void W3D_OnEntry(void* user, uint32_t index, uint32_t material, const ZW3D_ENTRY* e)
{
    const W3D_LOAD* l = (const W3D_LOAD*)user;
    CZW3d* w = l->World;
    const unsigned long object = w->Slots[l->Slots[index]];
    if (e->Kind == ZW3D_ENTRY_TEXTURED) {
        uint32_t handle = 0;
        for (uint32_t t = 0; t < w->TextureCount && !handle; t++)
            if (!strcmp(w->TextureNames[t], e->Name))
                handle = w->Textures[t];
        w->O3d->SetMaterialTextured(object, material, e->Flags, handle, 0, 0);
    } else if (e->Kind == ZW3D_ENTRY_COLORED) {
        w->O3d->SetMaterialColored(object, material, e->Flags, e->Color[0], e->Color[1], e->Color[2]);
    }
}

bool CZW3d::LoadScene(const char* name)
{
    if (SceneLoaded)
        return false;
    unsigned long file = Xfs->OpenFile(name);
    const uint32_t size = Xfs->GetFileSize(file);
    // The scanner's key table, the file and its normalised copy in one block.
    const uint32_t keys = ZW3D_MAX_FILE_OBJECTS * ZW3D_TOKEN_BYTES;
    const uint32_t bytes = size < 0x70000000u ? size * 2 + 1 + keys : 0;
    char* block = bytes ? (char*)Mem->GetMem(bytes) : nullptr;
    if (!block) {
        Xfs->CloseFile(file);
        if (Debug)
            Debug->OutputDebug("W3D: LoadScene(%s): no memory for %u bytes of text; not loaded", name, size);
        return false;
    }
    const uint32_t got = Xfs->ReadFile(file, block + keys, size);
    Xfs->CloseFile(file);
    ZW3D_TEXT text;
    ZW3D_Normalise(block + keys, got, block + keys + size, &text);
    TextureCount = 0;
    ObjectCount = 0;
    for (uint32_t i = 0; i < ZW3D_MAX_OBJECTS; i++)
        ObjectCount += Slots[i] != ZW3D_FREE;

    W3D_LOAD load;
    load.World = this;
    load.SlotsFull = false;
    const ZW3D_SCENE_CALLS calls = {&load, W3D_OnObject, W3D_OnTexture, W3D_OnMaterials, W3D_OnEntry};
    ZW3D_SCENE_COUNTS counts;
    ZW3D_ReadScene(&text, &calls, block, &counts);
    if (Debug) {
        if (counts.ObjectsCut)
            Debug->OutputDebug("W3D: LoadScene(%s): %s; the object list is cut after %u objects", name,
                               load.SlotsFull ? "all 1000 object slots are taken"
                                              : "a scene file holds at most 512 objects",
                               counts.Objects);
        if (counts.TexturesCut)
            Debug->OutputDebug("W3D: LoadScene(%s): a scene file holds at most 500 textures; the rest are not loaded",
                               name);
        if (text.TokensCut)
            Debug->OutputDebug("W3D: LoadScene(%s): %u words longer than 511 characters (texture names 499) were cut",
                               name, text.TokensCut);
    }
    Mem->FreeMem(block, bytes);
    SceneLoaded = 1;
    return true;
}

void CZW3d::FreeScene()
{
    for (uint32_t i = 0; i < ZW3D_MAX_OBJECTS; i++)
        if (Slots[i] != ZW3D_FREE) {
            O3d->DestroyObject(Slots[i]);
            Slots[i] = ZW3D_FREE;
            Keys[i][0] = 0;
        }
    for (uint32_t t = 0; t < TextureCount; t++) {
        H3d->UnloadTexture(Textures[t]);
        Textures[t] = ZW3D_FREE;
        TextureNames[t][0] = 0;
    }
    ObjectCount = 0;
    TextureCount = 0;
    SceneLoaded = 0;
}

unsigned long CZW3d::InsertObjectInScene(unsigned long object)
{
    const uint32_t slot = W3D_FreeSlot();
    if (slot == ZW3D_FREE)
        return ZW3D_FREE;
    W3D_Place(slot, object);
    Keys[slot][0] = 0;
    return slot;
}

void CZW3d::DeleteObjectFromScene(unsigned long slot)
{
    if (slot >= ZW3D_MAX_OBJECTS || Slots[slot] == ZW3D_FREE)
        return;
    O3d->DestroyObject(Slots[slot]);
    Slots[slot] = ZW3D_FREE;
    Keys[slot][0] = 0;
    ObjectCount--;
}

unsigned long CZW3d::GetObjectHandle(unsigned long slot)
{
    return slot < ZW3D_MAX_OBJECTS ? Slots[slot] : ZW3D_FREE;
}

void CZW3d::SetObjectPosition(unsigned long slot, Vector3* position)
{
    if (slot >= ZW3D_MAX_OBJECTS || Slots[slot] == ZW3D_FREE)
        return;
    Spheres[slot].Center = *position;
    O3d->SetObjectPosition(Slots[slot], position->x, position->y, position->z);
}

void CZW3d::SetObjectAngles(unsigned long slot, unsigned long x, unsigned long y, unsigned long z)
{
    if (slot < ZW3D_MAX_OBJECTS && Slots[slot] != ZW3D_FREE)
        O3d->SetObjectAngles(Slots[slot], x, y, z);
}

void CZW3d::SetWorldCulling(bool on)
{
    Culling = on;
}

void CZW3d::SetCameraPos(Vector3* position, Vector3* direction, Vector3* up, float fov)
{
    CameraPosition = *position;
    CameraDirection = *direction;
    CameraUp = up ? *up : Vector3{0, 1, 0};
    if (fov != Fov) {
        H3d->SetProyectionParams(1.0f, 10000.0f, fov, fov);
        Fov = fov;
    }
    ConeCos = cosf(fov * ZW3D_DEG_TO_RAD);
    ConeTan = tanf(fov * ZW3D_DEG_TO_RAD);
    direction->x += position->x;
    direction->y += position->y;
    direction->z += position->z;
    H3d->SetCameraPosition(position, direction, up);
}

int CZW3d::TestCone(const Sphere3* sphere)
{
    const float vx = sphere->Center.x - CameraPosition.x, vy = sphere->Center.y - CameraPosition.y,
                vz = sphere->Center.z - CameraPosition.z;
    const float along = vx * CameraDirection.x + vy * CameraDirection.y + vz * CameraDirection.z;
    const float across2 = vx * vx + vy * vy + vz * vz - along * along;
    const float across = across2 > 0 ? sqrtf(across2) : 0;   // rounding may make it slightly negative
    const float distance = ConeCos * (across - ConeTan * along);
    if (distance >= sphere->Radius)
        return 0;
    return distance <= -sphere->Radius ? 2 : 1;
}

void CZW3d::RenderWorld()
{
    ObjectsDrawn = ObjectsCulled = 0;
    for (uint32_t i = 0; i < ZW3D_MAX_OBJECTS; i++) {
        if (Slots[i] == ZW3D_FREE)
            continue;
        if (Culling && !TestCone(&Spheres[i])) {
            ObjectsCulled++;
            continue;
        }
        O3d->DrawAllObject(Slots[i], 3);
        ObjectsDrawn++;
    }
}
