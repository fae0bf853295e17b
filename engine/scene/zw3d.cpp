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

bool CZW3d::LoadScene(const char* name)
{
    if (SceneLoaded)
        return false;
    unsigned long file = Xfs->OpenFile(name);
    const uint32_t size = Xfs->GetFileSize(file);
    // The file and its normalised copy, in one block.
    const uint32_t bytes = size * 2 + 1;
    char* block = size < 0x7FFFFFF0u ? (char*)Mem->GetMem(bytes) : nullptr;
    if (!block) {
        Xfs->CloseFile(file);
        if (Debug)
            Debug->OutputDebug("W3D: LoadScene(%s): no memory for %u bytes of text", name, size);
        return false;
    }
    const uint32_t got = Xfs->ReadFile(file, block, size);
    Xfs->CloseFile(file);
    ZW3D_TEXT text;
    ZW3D_Normalise(block, got, block + size, &text);
    ObjectCount = 0;
    TextureCount = 0;
    for (uint32_t i = 0; i < ZW3D_MAX_OBJECTS; i++)
        ObjectCount += Slots[i] != ZW3D_FREE;

    char objectFile[ZW3D_TOKEN_BYTES], key[ZW3D_TOKEN_BYTES];
    uint32_t loaded[ZW3D_MAX_FILE_OBJECTS], loadedCount = 0;
    if (ZW3D_FindKey(&text, "[OBJECTS]", true)) {
        while (ZW3D_Token(&text, objectFile) && objectFile[0] && ZW3D_Token(&text, key) && key[0]) {
            const uint32_t slot = W3D_FreeSlot();
            if (loadedCount == ZW3D_MAX_FILE_OBJECTS || slot == ZW3D_FREE) {
                if (Debug)
                    Debug->OutputDebug("W3D: LoadScene(%s): %s; the object list is cut before %s", name,
                                       slot == ZW3D_FREE ? "all 1000 object slots are taken"
                                                         : "a scene file holds at most 512 objects",
                                       objectFile);
                break;
            }
            W3D_Place(slot, O3d->LoadObject(objectFile));
            memcpy(Keys[slot], key, sizeof(Keys[slot]));
            loaded[loadedCount++] = slot;
        }
    }
    char texture[ZW3D_TOKEN_BYTES];
    if (ZW3D_FindKey(&text, "[TEXTURES]", true)) {
        while (ZW3D_Token(&text, texture) && texture[0]) {
            if (TextureCount == ZW3D_MAX_TEXTURES) {
                if (Debug)
                    Debug->OutputDebug("W3D: LoadScene(%s): a scene file holds at most 500 textures; the list is "
                                       "cut before %s", name, texture);
                break;
            }
            if (strlen(texture) >= ZW3D_NAME_BYTES) {
                texture[ZW3D_NAME_BYTES - 1] = 0;
                text.TokensCut++;
            }
            Textures[TextureCount] = H3d->LoadTextureFromFile(texture);
            memcpy(TextureNames[TextureCount], texture, ZW3D_NAME_BYTES);
            TextureCount++;
        }
    }
    for (uint32_t i = 0; i < loadedCount; i++)
        W3D_Materials(&text, loaded[i]);
    if (text.TokensCut && Debug)
        Debug->OutputDebug("W3D: LoadScene(%s): %u words longer than 511 characters (texture names 499) were cut",
                           name, text.TokensCut);
    Mem->FreeMem(block, bytes);
    SceneLoaded = 1;
    return true;
}

// The object's section follows the second occurrence of its key.
void CZW3d::W3D_Materials(ZW3D_TEXT* text, uint32_t slot)
{
    if (!ZW3D_FindKey(text, Keys[slot], true) || !ZW3D_FindKey(text, Keys[slot], false))
        return;
    const unsigned long object = Slots[slot];
    const unsigned long count = O3d->GetNumberMaterials(object);
    ZW3D_ENTRY entry;
    for (unsigned long m = 0; m < count; m++) {
        ZW3D_ReadEntry(text, &entry);
        if (entry.Kind == ZW3D_ENTRY_END)
            return;
        if (entry.Kind == ZW3D_ENTRY_TEXTURED) {
            uint32_t handle = 0;
            for (uint32_t t = 0; t < TextureCount && !handle; t++)
                if (!strcmp(TextureNames[t], entry.Name))
                    handle = Textures[t];
            O3d->SetMaterialTextured(object, m, entry.Flags, handle, 0, 0);
        } else if (entry.Kind == ZW3D_ENTRY_COLORED) {
            O3d->SetMaterialColored(object, m, entry.Flags, entry.Color[0], entry.Color[1], entry.Color[2]);
        }
    }
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
