// CZO3d: loading, accessors, placement, frames, normals, copies and the
// material setters. Drawing is in zo3d_draw.cpp, material files in
// zo3d_material.cpp, the procedural objects in zo3d_proc.cpp.
#include "zo3d_local.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "zdebug.h"
#include "zmem.h"
#include "zmth.h"
#include "zo3dcheck.h"
#include "zxfs.h"

CZO3d::CZO3d()
{
    Mem = nullptr;
    Mth = nullptr;
    H3d = nullptr;
    Xfs = nullptr;
    Debug = nullptr;
    Caps = nullptr;
    FloatAngles = 0;
    CacheReady = 0;
    VertexCache = nullptr;
    NormalCache = nullptr;
    CacheBytes = 0;
    CacheVertices = 0;
    FlatEnvironment = 0;
    InterpolationMethod = 0;
    NextFrame = 1;
    ObjectsLoaded = FacesQueued = FacesCulled = DrawsRefused = 0;
    RefusalsLogged = 0;
}

CZO3d::~CZO3d()
{
    EndCache();
}

void CZO3d::O3D_Refuse(uint32_t reason, const char* format, ...)
{
    DrawsRefused++;
    if ((RefusalsLogged & reason) || !Debug)
        return;
    RefusalsLogged |= reason;
    char text[ZDEBUG_LINE_MAX];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof(text), format, args);
    va_end(args);
    Debug->OutputDebug("O3D: %s", text);
}

// ---------------------------------------------------------------------------
// Loading

void O3D_Move(ZO3D_HEADER* h, uint32_t delta, bool header)
{
    if (header) {
        h->FrameVertices += delta;
        h->FrameNormals += delta;
        h->Modules += delta;
        h->Faces += delta;
        h->Materials += delta;
    }
    uint32_t* vertices = O3D_At<uint32_t>(h->FrameVertices);
    uint32_t* normals = O3D_At<uint32_t>(h->FrameNormals);
    for (uint32_t r = 0; r < h->FrameCount; r++) {
        vertices[r] += delta;
        normals[r] += delta;
    }
    ZO3D_FACE* face = O3D_At<ZO3D_FACE>(h->Faces);
    for (uint32_t f = 0; f < h->FaceCount; f++, face++)
        if (face->SecondMap)
            face->SecondMap += delta;
}

[[noreturn]] void O3D_Fatal(CZDebug* debug, const char* what, const char* name, const char* why)
{
    char text[512];
    snprintf(text, sizeof(text), "%s: %s (%s)", what, name, why);
    debug->ShowMessageAndExit(text, O3D_CAPTION);
}

// Reads a file whole into a new block with `spare` bytes behind it. A file
// that cannot be read whole ends the program like a damaged one.
uint8_t* CZO3d::O3D_ReadWhole(const char* name, uint32_t spare, uint32_t* size)
{
    unsigned long file = Xfs->OpenFile(name);
    *size = Xfs->GetFileSize(file);
    if (*size + spare == 0) {
        Xfs->CloseFile(file);
        O3D_Fatal(Debug, "Damaged file", name, "the file is empty");
    }
    uint8_t* block = *size + spare < *size ? nullptr : (uint8_t*)Mem->GetMem(*size + spare);
    if (!block) {
        Xfs->CloseFile(file);
        O3D_Fatal(Debug, "Not enough memory to load", name, "engine heap exhausted");
    }
    const uint32_t got = Xfs->ReadFile(file, block, *size);
    Xfs->CloseFile(file);
    if (got != *size) {
        char why[64];
        snprintf(why, sizeof(why), "%u of %u bytes could be read", got, *size);
        O3D_Fatal(Debug, "Damaged file", name, why);
    }
    return block;
}

// The image is checked before anything of it is used, then its offsets
// become addresses.
unsigned long CZO3d::LoadObject(const char* name)
{
    ZO3D_HEADER head;
    memset(&head, 0, sizeof(head));
    unsigned long file = Xfs->OpenFile(name);
    Xfs->ReadFile(file, &head, sizeof(head));
    Xfs->CloseFile(file);
    const uint32_t spare = head.MaterialCount ? 0 : ZO3D_SPARE_MATERIAL_BYTES;

    uint32_t size;
    uint8_t* block = O3D_ReadWhole(name, spare, &size);
    ZO3D_HEADER* h = (ZO3D_HEADER*)block;
    char why[ZO3D_WHY_BYTES];
    if (!ZO3D_CheckImage(block, size, why))
        O3D_Fatal(Debug, "Damaged object file", name, why);
    if ((h->MaterialCount == 0) != (spare != 0))
        O3D_Fatal(Debug, "Damaged object file", name, "the file changed while it was read");

    if (spare)
        memset(block + size, 0, spare);    // the spare material draws nothing until set
    O3D_Move(h, (uint32_t)(uintptr_t)block, true);
    if (h->Version < ZO3D_VERSION) {
        ZO3D_FACE* face = O3D_At<ZO3D_FACE>(h->Faces);
        for (uint32_t f = 0; f < h->FaceCount; f++, face++)
            for (int c = 0; c < 3; c++)
                face->Vertex[c] /= ZO3D_OLD_CORNER_STRIDE;
        h->Version = ZO3D_VERSION;
    }
    ObjectsLoaded++;
    return (unsigned long)(uintptr_t)block;
}

void CZO3d::DestroyObject(unsigned long object)
{
    if (object)
        Mem->FreeMem((void*)(uintptr_t)object, O3D_BlockBytes(O3D_Header(object)));
}

unsigned long CZO3d::GetNumberVertex(unsigned long object) { return O3D_Header(object)->VertexCount; }
unsigned long CZO3d::GetNumberOfFaces(unsigned long object) { return O3D_Header(object)->FaceCount; }
unsigned long CZO3d::GetNumberMaterials(unsigned long object) { return O3D_Header(object)->MaterialCount; }
unsigned long CZO3d::GetNumberFrames(unsigned long object) { return O3D_Header(object)->FrameCount; }
unsigned long CZO3d::GetObjectSize(unsigned long object) { return O3D_Header(object)->ImageSize; }
unsigned long CZO3d::GetActualFrame(unsigned long object) { return O3D_Header(object)->Frame; }

void* CZO3d::GetVertexPointer(unsigned long object)
{
    const ZO3D_HEADER* h = O3D_Header(object);
    return O3D_FrameVertices(h, h->Frame);
}

void* CZO3d::GetObjectNormalsPointer(unsigned long object)
{
    const ZO3D_HEADER* h = O3D_Header(object);
    return O3D_FrameNormals(h, h->Frame);
}

void* CZO3d::GetFacesPointer(unsigned long object) { return O3D_At<void>(O3D_Header(object)->Faces); }
void* CZO3d::GetObjectModulesPointer(unsigned long object) { return O3D_At<void>(O3D_Header(object)->Modules); }

// ---------------------------------------------------------------------------
// Placement

void CZO3d::SetObjectPosition(unsigned long object, float x, float y, float z)
{
    O3D_Header(object)->Position = Vector3{x, y, z};
}

void CZO3d::SetObjectPosition(unsigned long object, unsigned long x, unsigned long y, unsigned long z)
{
    SetObjectPosition(object, (float)x, (float)y, (float)z);
}

void CZO3d::SetObjectAngles(unsigned long object, float x, float y, float z)
{
    O3D_Header(object)->Angles = Vector3{x, y, z};
}

void CZO3d::SetObjectAngles(unsigned long object, unsigned long x, unsigned long y, unsigned long z)
{
    SetObjectAngles(object, (float)x, (float)y, (float)z);
}

void CZO3d::ScaleObject(unsigned long object, float s)
{
    const ZO3D_HEADER* h = O3D_Header(object);
    Vector3* v = O3D_FrameVertices(h, h->Frame);
    for (uint32_t i = 0; i < h->VertexCount; i++) {
        v[i].x *= s;
        v[i].y *= s;
        v[i].z *= s;
    }
}

// ---------------------------------------------------------------------------
// Frames

// One body for the four SetActualFrame forms: `factor` null keeps the
// object's factor; without `stepped` the next frame is frame + 1.
void CZO3d::O3D_SelectFrame(unsigned long object, unsigned long frame, const float* factor, int step, bool stepped)
{
    ZO3D_HEADER* h = O3D_Header(object);
    const uint32_t frames = h->FrameCount;
    if (frame >= frames)
        return;
    h->Frame = frame;
    if (factor)
        h->Factor = *factor <= 0.0f ? 0.0f : *factor >= ZO3D_MAX_FACTOR ? ZO3D_MAX_FACTOR : *factor;
    if (!stepped)
        NextFrame = frame + 1;
    else if ((uint32_t)(frame + step) < frames)
        NextFrame = frame + step;
    else
        NextFrame = frames - step;
    RecalcModules(object);
}

void CZO3d::SetActualFrame(unsigned long object, unsigned long frame)
{
    O3D_SelectFrame(object, frame, nullptr, 1, false);
}

void CZO3d::SetActualFrame(unsigned long object, unsigned long frame, int step)
{
    O3D_SelectFrame(object, frame, nullptr, step, true);
}

void CZO3d::SetActualFrame(unsigned long object, unsigned long frame, float factor)
{
    O3D_SelectFrame(object, frame, &factor, 1, false);
}

void CZO3d::SetActualFrame(unsigned long object, unsigned long frame, float factor, int step)
{
    O3D_SelectFrame(object, frame, &factor, step, true);
}

void CZO3d::SetInterpolationMethod(unsigned long method)
{
    InterpolationMethod = method;
}

// ---------------------------------------------------------------------------
// Normals and modules

void CZO3d::RecalcModules(unsigned long object)
{
    const ZO3D_HEADER* h = O3D_Header(object);
    const Vector3* n = O3D_FrameNormals(h, h->Frame);
    float* module = O3D_At<float>(h->Modules);
    for (uint32_t i = 0; i < h->VertexCount; i++)
        module[i] = Mth->Vector3Module(&n[i]);
}

void CZO3d::RecalcNormals(unsigned long object, int flip)
{
    const ZO3D_HEADER* h = O3D_Header(object);
    const uint32_t V = h->VertexCount;
    if (V == 0)
        return;
    const Vector3* v = O3D_FrameVertices(h, h->Frame);
    Vector3* n = O3D_FrameNormals(h, h->Frame);
    uint32_t* count = (uint32_t*)Mem->GetMem(V * sizeof(uint32_t));
    if (!count)
        Debug->ShowMessageAndExit("Not enough memory to rebuild the normals", O3D_CAPTION);
    memset(n, 0, V * sizeof(Vector3));
    memset(count, 0, V * sizeof(uint32_t));
    const ZO3D_FACE* face = O3D_At<ZO3D_FACE>(h->Faces);
    for (uint32_t f = 0; f < h->FaceCount; f++, face++) {
        const uint32_t* c = face->Vertex;
        Vector3 fn;
        // Not normalised: larger faces weigh more in the average.
        if (flip)
            Mth->Vector3CrossProduct3(&v[c[2]], &v[c[1]], &v[c[0]], &fn);
        else
            Mth->Vector3CrossProduct3(&v[c[0]], &v[c[1]], &v[c[2]], &fn);
        for (int k = 0; k < 3; k++) {
            Mth->Vector3Add(&n[c[k]], &fn);
            count[c[k]]++;
        }
    }
    // A vertex no face uses keeps a zero normal.
    for (uint32_t i = 0; i < V; i++)
        if (count[i])
            Mth->Vector3EscalarDivide(&n[i], (float)count[i]);
    Mem->FreeMem(count, V * sizeof(uint32_t));
    RecalcModules(object);
}

// ---------------------------------------------------------------------------
// Copies

unsigned long CZO3d::DuplicateObject(unsigned long object)
{
    const ZO3D_HEADER* h = O3D_Header(object);
    const uint32_t bytes = O3D_BlockBytes(h);
    void* copy = Mem->GetMem(bytes);
    if (!copy)
        Debug->ShowMessageAndExit("Not enough memory to duplicate an object", O3D_CAPTION);
    CZMem::MMXMemCopy(h, copy, bytes);
    O3D_Move((ZO3D_HEADER*)copy, (uint32_t)((uintptr_t)copy - (uintptr_t)object), true);
    return (unsigned long)(uintptr_t)copy;
}

void CZO3d::CopyObject(unsigned long source, unsigned long target)
{
    const ZO3D_HEADER* s = O3D_Header(source);
    ZO3D_HEADER* t = O3D_Header(target);
    if (s->ImageSize != t->ImageSize)
        return;
    // Equal sizes are not enough: the target's own header must describe
    // what is copied into it.
    const uint32_t sb = (uint32_t)source, tb = (uint32_t)target;
    if (s->VertexCount != t->VertexCount || s->FaceCount != t->FaceCount || s->MaterialCount != t->MaterialCount ||
        s->FrameCount != t->FrameCount || s->FrameVertices - sb != t->FrameVertices - tb ||
        s->FrameNormals - sb != t->FrameNormals - tb || s->Modules - sb != t->Modules - tb ||
        s->Faces - sb != t->Faces - tb || s->Materials - sb != t->Materials - tb) {
        O3D_Refuse(O3D_REFUSE_COPY, "CopyObject between two images of %u bytes laid out differently; nothing copied",
                   s->ImageSize);
        return;
    }
    const uint32_t body = O3D_BlockBytes(s) - sizeof(ZO3D_HEADER);
    CZMem::MMXMemCopy(s + 1, t + 1, body);
    O3D_Move(t, tb - sb, false);
}

// ---------------------------------------------------------------------------
// Material setters

// One body for the three setters, and the one place a material index is
// checked: writing past the image's material records would overwrite
// whatever follows it. A null `bump` keeps the third texture.
void CZO3d::O3D_SetMaterial(unsigned long object, unsigned long index, const char* caller, uint32_t type,
                            uint32_t flags, uint32_t texture, uint32_t second, const uint32_t* bump,
                            const uint32_t colours[3])
{
    const ZO3D_HEADER* h = O3D_Header(object);
    if (index >= O3D_MaterialRoom(h)) {
        O3D_Refuse(O3D_REFUSE_MATERIAL, "%s: material %lu of an object with %u; nothing set", caller, index,
                   h->MaterialCount);
        return;
    }
    ZO3D_MATERIAL* m = O3D_At<ZO3D_MATERIAL>(h->Materials) + index;
    m->Type = type;
    m->Flags = flags;
    m->Texture1 = texture;
    m->Texture2 = second;
    if (bump)
        m->Texture3 = *bump;
    memcpy(m->Color, colours, sizeof(m->Color));
}

static const uint32_t O3D_NO_COLOURS[3] = {0, 0, 0};

void CZO3d::SetMaterialTextured(unsigned long object, unsigned long index, unsigned long flags, unsigned long texture,
                                unsigned long secondTexture, unsigned long bumpMap)
{
    const uint32_t bump = bumpMap;
    O3D_SetMaterial(object, index, "SetMaterialTextured", ZO3D_MAT_TEXTURED, flags, texture, secondTexture, &bump,
                    O3D_NO_COLOURS);
}

void CZO3d::SetMaterialColored(unsigned long object, unsigned long index, unsigned long flags, unsigned long colour1,
                               unsigned long colour2, unsigned long colour3)
{
    const uint32_t none = 0, colours[3] = {colour1, colour2, colour3};
    O3D_SetMaterial(object, index, "SetMaterialColored", ZO3D_MAT_COLORED, flags, 0, 0, &none, colours);
}

void CZO3d::SetMaterialTexturedTrans(unsigned long object, unsigned long index, unsigned long flags,
                                     unsigned long texture, unsigned long secondTexture)
{
    O3D_SetMaterial(object, index, "SetMaterialTexturedTrans", ZO3D_MAT_TEXTURED_2D, flags, texture, secondTexture,
                    nullptr, O3D_NO_COLOURS);
}

static inline void O3D_SwapCorners(float* map)
{
    float u = map[0], v = map[1];
    map[0] = map[4];
    map[1] = map[5];
    map[4] = u;
    map[5] = v;
}

void CZO3d::InvertCulling(unsigned long object)
{
    const ZO3D_HEADER* h = O3D_Header(object);
    ZO3D_FACE* face = O3D_At<ZO3D_FACE>(h->Faces);
    for (uint32_t f = 0; f < h->FaceCount; f++, face++) {
        uint32_t first = face->Vertex[0];
        face->Vertex[0] = face->Vertex[2];
        face->Vertex[2] = first;
        O3D_SwapCorners(face->Map);
        if (face->SecondMap)
            O3D_SwapCorners(O3D_At<float>(face->SecondMap));
    }
}

void CZO3d::SetFlatEnvironmentShading(bool flat)
{
    FlatEnvironment = flat ? 1 : 0;
}
