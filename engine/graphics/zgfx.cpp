#include "zgfx.h"

#include <cstring>

#include "zh3d.h"
#include "zmem.h"
#include "zmth.h"
#include "zo3d.h"

// Vertices of a 2D plane object that planes move, scale and rotate.
static const int GFX_PLANE_VERTICES = 4;

CZGfx::CZGfx()
{
    Mem = nullptr;
    H3d = nullptr;
    Mth = nullptr;
    O3d = nullptr;
}

// Planes work without it.
void CZGfx::Init() {}

static inline ZGFX_PLANE* GFX_Plane(unsigned long plane)
{
    return (ZGFX_PLANE*)(uintptr_t)plane;
}

unsigned long CZGfx::CreatePlane2d(float width, float height, float x, float y, float depth)
{
    ZGFX_PLANE* p = (ZGFX_PLANE*)Mem->GetMem(sizeof(ZGFX_PLANE));
    if (!p)
        return 0;
    memset(p, 0, sizeof(*p));
    p->Source = O3d->CreatePlane2d(1.0f, 1.0f, depth);
    p->Scaled = O3d->CreatePlane2d(1.0f, 1.0f, depth);
    p->Drawn = O3d->CreatePlane2d(1.0f, 1.0f, depth);
    p->X = x;
    p->Y = y;
    p->Width = p->BaseWidth = width;
    p->Height = p->BaseHeight = height;
    p->ScaleX = p->ScaleY = 1.0f;
    return (unsigned long)(uintptr_t)p;
}

void CZGfx::SetMaterialPlane2d(unsigned long plane, unsigned long texture, unsigned long flags)
{
    SetMaterialPlane2d(plane, texture, 0, flags);
}

void CZGfx::SetMaterialPlane2d(unsigned long plane, unsigned long texture, unsigned long texture2, unsigned long flags)
{
    ZGFX_PLANE* p = GFX_Plane(plane);
    // Keyed on the first texture only: new flags with the same texture are
    // not taken (callers rely on it to set a texture every frame cheaply).
    if (texture == p->Texture)
        return;
    O3d->SetMaterialTexturedTrans(p->Source, 0, flags, texture, texture2);
    p->Texture = texture;
    p->Texture2 = texture2;
    p->Flags = flags;
}

void CZGfx::MovePlane2d(unsigned long plane, float x, float y)
{
    GFX_Plane(plane)->OffsetX = x;
    GFX_Plane(plane)->OffsetY = y;
}

void CZGfx::ScalePlane2d(unsigned long plane, float sx, float sy)
{
    GFX_Plane(plane)->ScaleX = sx;
    GFX_Plane(plane)->ScaleY = sy;
}

void CZGfx::RotatePlane2d(unsigned long plane, unsigned long angle)
{
    GFX_Plane(plane)->Angle = angle;
}

void CZGfx::ModifyMappingPlane2d(unsigned long plane, float u, float v)
{
    O3d->ModifyMapping(GFX_Plane(plane)->Source, 0, u, v);
}

void CZGfx::SetMappingPlane2d(unsigned long plane, float ua, float va, float ub, float vb)
{
    O3d->SetPlane2dMapping(GFX_Plane(plane)->Source, ua, va, ub, vb);
}

void CZGfx::Move2dPlane(unsigned long object, float dx, float dy)
{
    Vector3* v = (Vector3*)O3d->GetVertexPointer(object);
    for (int i = 0; i < GFX_PLANE_VERTICES; i++) {
        v[i].x += dx;
        v[i].y += dy;
    }
}

// The unit plane, centred on the origin, stretched to sx by sy pixels.
void CZGfx::Scale2dPlane(unsigned long object, float sy, float sx)
{
    Vector3* v = (Vector3*)O3d->GetVertexPointer(object);
    for (int i = 0; i < GFX_PLANE_VERTICES; i++) {
        v[i].x = (v[i].x - 0.5f) * sx;
        v[i].y = (v[i].y - 0.5f) * sy;
    }
}

void CZGfx::Rotate2dPlane(unsigned long fromObject, unsigned long toObject, unsigned long angle)
{
    const Vector3* s = (const Vector3*)O3d->GetVertexPointer(fromObject);
    Vector3* d = (Vector3*)O3d->GetVertexPointer(toObject);
    const float sn = Mth->GetSinus((int)angle), cs = Mth->GetCosinus((int)angle);
    for (int i = 0; i < GFX_PLANE_VERTICES; i++) {
        const float x = s[i].x, y = s[i].y;
        d[i].x = cs * x - sn * y;
        d[i].y = sn * x + cs * y;
    }
}

void CZGfx::DrawPlane2d(unsigned long plane, bool move, bool rotate, bool scale)
{
    const ZGFX_PLANE* p = GFX_Plane(plane);
    O3d->CopyObject(p->Source, p->Scaled);
    const float w = scale ? p->BaseWidth * p->ScaleX : p->BaseWidth;
    const float h = scale ? p->BaseHeight * p->ScaleY : p->BaseHeight;
    Scale2dPlane(p->Scaled, h, w);
    O3d->CopyObject(p->Scaled, p->Drawn);
    if (rotate)
        Rotate2dPlane(p->Scaled, p->Drawn, p->Angle);
    float cx, cy;
    if (move && scale) {
        cx = p->OffsetX + (p->BaseWidth + p->X) * p->ScaleX * 0.5f;
        cy = p->OffsetY + (p->BaseHeight + p->Y) * p->ScaleY * 0.5f;
    } else if (move) {
        cx = (p->BaseWidth + p->X) * 0.5f + p->OffsetX;
        cy = (p->BaseHeight + p->Y) * 0.5f + p->OffsetY;
    } else {
        // The top-left corner lands on the creation placement.
        cx = p->BaseWidth * 0.5f + p->X;
        cy = p->BaseHeight * 0.5f + p->Y;
    }
    Move2dPlane(p->Drawn, cx, cy);
    O3d->DrawAllObject(p->Drawn, ZO3D_MODE_OBJECT);
}

void CZGfx::DestroyPlane2d(unsigned long plane)
{
    ZGFX_PLANE* p = GFX_Plane(plane);
    if (!p)
        return;
    const uint32_t objects[3] = {p->Source, p->Scaled, p->Drawn};
    for (uint32_t o : objects)
        if (o)
            O3d->DestroyObject(o);
    Mem->FreeMem(p, sizeof(*p));
}

// One body for both line lists: point i to point i + 1, normals zero.
void CZGfx::GFX_DrawLines(Vector3* points, unsigned long count, uint32_t kind, unsigned long flags,
                          unsigned long texture, unsigned long colour0, unsigned long colour1)
{
    LINESTRUCT l;
    memset(&l, 0, sizeof(l));
    l.Kind = kind;
    l.Flags = flags;
    l.Texture = texture;
    l.Color0 = colour0;
    l.Color1 = colour1;
    for (unsigned long i = 0; i + 1 < count; i++) {
        for (int e = 0; e < 2; e++) {
            l.End[e].x = points[i + e].x;
            l.End[e].y = points[i + e].y;
            l.End[e].z = points[i + e].z;
            l.End[e].u = (float)(i + e) / (float)count;
        }
        H3d->DrawLine(&l);
    }
}

void CZGfx::DrawLinesColor(Vector3* points, unsigned long count, unsigned long flags, unsigned long colour0,
                           unsigned long colour1)
{
    GFX_DrawLines(points, count, ZPRIM_COLORED, flags, 0, colour0, colour1);
}

void CZGfx::DrawLinesText(Vector3* points, unsigned long count, unsigned long flags, unsigned long texture)
{
    GFX_DrawLines(points, count, ZPRIM_TEXTURED, flags, texture, 0, 0);
}

void CZGfx::ConvertPalette(void* palette)
{
    // Entry i's word lands at byte 2i, before entry i + 1's bytes at 3i + 3:
    // walking forward never overwrites an entry not yet read.
    const uint8_t* in = (const uint8_t*)palette;
    uint16_t* out = (uint16_t*)palette;
    for (int i = 0; i < 256; i++) {
        const uint8_t r = in[3 * i], g = in[3 * i + 1], b = in[3 * i + 2];
        out[i] = (uint16_t)(((r >> 1) << 11) | ((g & 63) << 5) | ((b & 63) >> 1));
    }
}

void CZGfx::ConvertData(void* source, void* palette, void* destination, unsigned long count)
{
    const uint8_t* s = (const uint8_t*)source;
    const uint16_t* p = (const uint16_t*)palette;
    uint16_t* d = (uint16_t*)destination;
    for (unsigned long i = 0; i < count; i++)
        d[i] = p[s[i]];
}
