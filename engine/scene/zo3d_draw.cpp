// CZO3d drawing: the caches, vertex preparation by mode, faces into
// POLYSTRUCTs, wire frames, the dynamic-light pass and the line test.
#include "zo3d_local.h"

#include <cstring>

#include "zdebug.h"
#include "zh3d.h"
#include "zmem.h"
#include "zmth.h"

// Colour words of lit textured faces.
static const uint32_t O3D_WHITE = 0x00FFFFFF;
// Flags of the dynamic-light pass: additive, second texture modulated 4x,
// clamped addressing (the falloff textures must not repeat).
static const uint32_t O3D_LIGHT_FLAGS = ZRF_ADDITIVE | ZRF_SECONDMAP | ZRF_OP_MODULATE4X | ZRF_CLAMP;

void CZO3d::InitCache(unsigned long vertices)
{
    if (CacheReady)
        return;
    const uint32_t bytes = vertices * sizeof(Vector3);
    VertexCache = (Vector3*)Mem->GetMem(bytes);
    NormalCache = (Vector3*)Mem->GetMem(bytes);
    if (!VertexCache || !NormalCache)
        Debug->ShowMessageAndExit("Not enough memory for the object cache", O3D_CAPTION);
    CacheBytes = bytes;
    CacheVertices = vertices;
    CacheReady = 1;
}

void CZO3d::EndCache()
{
    if (!CacheReady)
        return;
    Mem->FreeMem(VertexCache, CacheBytes);
    Mem->FreeMem(NormalCache, CacheBytes);
    VertexCache = NormalCache = nullptr;
    CacheBytes = CacheVertices = 0;
    CacheReady = 0;
}

// Chooses or builds the vertices and normals a draw in `mode` uses. The
// caches are the one place whose capacity is checked.
bool CZO3d::O3D_Prepare(unsigned long object, unsigned long mode, bool blend, bool floatAngles,
                        const Vector3** vertices, const Vector3** normals, const char* caller)
{
    const ZO3D_HEADER* h = O3D_Header(object);
    const uint32_t V = h->VertexCount;
    const Vector3* v = O3D_FrameVertices(h, h->Frame);
    const Vector3* n = O3D_FrameNormals(h, h->Frame);
    *vertices = v;
    *normals = n;
    if (mode == ZO3D_MODE_OBJECT)
        return true;
    if (mode >= ZO3D_MODES) {
        O3D_Refuse(O3D_REFUSE_MODE, "%s: draw mode %lu (0 to 3); nothing drawn", caller, mode);
        return false;
    }
    if (!CacheReady || V > CacheVertices) {
        O3D_Refuse(O3D_REFUSE_CACHE, "%s: an object of %u vertices needs InitCache with at least that many "
                   "(cache: %u); nothing drawn", caller, V, CacheVertices);
        return false;
    }
    if (mode == ZO3D_MODE_TRANSLATE) {
        Mth->SetTranslation(h->Position.x, h->Position.y, h->Position.z);
        Mth->TranslateCoords(v, VertexCache, V);
        *vertices = VertexCache;
        return true;
    }

    if (blend && h->Factor != 0.0f && h->Frame + 1 < h->FrameCount) {
        if (NextFrame >= h->FrameCount) {
            O3D_Refuse(O3D_REFUSE_NEXT, "%s: next frame %u of an object with %u frames; drawn unblended", caller,
                       NextFrame, h->FrameCount);
        } else {
            const float f = h->Factor, g = 1.0f - f;
            const Vector3* nv = O3D_FrameVertices(h, NextFrame);
            const Vector3* nn = O3D_FrameNormals(h, InterpolationMethod ? h->Frame + 1 : NextFrame);
            for (uint32_t i = 0; i < V; i++) {
                VertexCache[i].x = f * nv[i].x + g * v[i].x;
                VertexCache[i].y = f * nv[i].y + g * v[i].y;
                VertexCache[i].z = f * nv[i].z + g * v[i].z;
                NormalCache[i].x = f * nn[i].x + g * n[i].x;
                NormalCache[i].y = f * nn[i].y + g * n[i].y;
                NormalCache[i].z = f * nn[i].z + g * n[i].z;
            }
            v = VertexCache;
            n = NormalCache;
        }
    }
    Mth->SetTranslation(h->Position.x, h->Position.y, h->Position.z);
    if (floatAngles)
        Mth->SetAnglesF(h->Angles.x, h->Angles.y, h->Angles.z);
    else
        Mth->SetAngles((int)h->Angles.x, (int)h->Angles.y, (int)h->Angles.z);
    Mth->CalcRotationMatrix();
    Mth->RotateCords(v, VertexCache, V);
    Mth->SetTranslation(0.0f, 0.0f, 0.0f);
    Mth->RotateCords(n, NormalCache, V);
    *vertices = VertexCache;
    *normals = NormalCache;
    return true;
}

// Position and normal of a corner or line end (both records begin with them).
template <class T> static inline void O3D_Place(T* out, const Vector3& v, const Vector3& n)
{
    out->x = v.x;
    out->y = v.y;
    out->z = v.z;
    out->nx = n.x;
    out->ny = n.y;
    out->nz = n.z;
}

// Mapping from the normals: (n.x, n.y) / module, -1 to 1 for unit normals.
static inline void O3D_EnvMap(const Vector3& n, float module, float* u, float* v)
{
    *u = n.x / module;
    *v = n.y / module;
}

// One body for DrawAllObject (`all`: every face, frame blending, float
// angles, flat environment) and DrawPartialObject (the listed faces).
void CZO3d::O3D_DrawFaces(unsigned long object, const unsigned long* list, unsigned long count, unsigned long mode,
                          bool all)
{
    const char* caller = all ? "DrawAllObject" : "DrawPartialObject";
    const Vector3 *v, *n;
    if (!O3D_Prepare(object, mode, all, all && FloatAngles, &v, &n, caller))
        return;
    const ZO3D_HEADER* h = O3D_Header(object);
    const ZO3D_FACE* faces = O3D_At<ZO3D_FACE>(h->Faces);
    const ZO3D_MATERIAL* materials = O3D_At<ZO3D_MATERIAL>(h->Materials);
    const float* modules = O3D_At<float>(h->Modules);
    const uint32_t lit = H3d->LightEngineOn ? O3D_WHITE : 0;
    const uint32_t diffuseTextured = all ? O3D_WHITE : lit;
    const bool flat = all && FlatEnvironment;
    const uint32_t total = all ? h->FaceCount : count;

    POLYSTRUCT p;
    memset(&p, 0, sizeof(p));
    p.Rhw = 1.0f;
    for (uint32_t i = 0; i < total; i++) {
        const uint32_t fi = all ? i : list[i];
        if (fi >= h->FaceCount) {
            O3D_Refuse(O3D_REFUSE_FACE, "DrawPartialObject: face %u of an object with %u faces; skipped", fi,
                       h->FaceCount);
            continue;
        }
        const ZO3D_FACE* face = faces + fi;
        const ZO3D_MATERIAL* m = materials + face->Material;
        const uint32_t flags = m->Flags;
        const bool textured = m->Type == ZO3D_MAT_TEXTURED || m->Type == ZO3D_MAT_TEXTURED_2D;
        p.Kind = m->Type;
        p.Flags = flags;
        if (textured) {
            p.Texture1 = m->Texture1;
            p.Texture2 = m->Texture2;
            p.Texture3 = all ? (flags & ZO3D_BUMPMAP ? m->Texture3 : 0) : m->Texture3;
        } else {
            p.Texture1 = p.Texture2 = p.Texture3 = 0;
        }
        const bool second = all || m->Texture2;
        const float* secondMap = face->SecondMap ? O3D_At<float>(face->SecondMap) : face->Map;
        for (int c = 0; c < 3; c++) {
            const uint32_t k = face->Vertex[c];
            POLYVERTEX& pv = p.Vertex[c];
            O3D_Place(&pv, v[k], n[k]);
            if (textured) {
                pv.Diffuse = diffuseTextured;
                pv.Specular = lit;
            } else {
                pv.Diffuse = m->Color[c];
                pv.Specular = lit;
            }
            if (flags & ZO3D_ENVIRONMENT) {
                const uint32_t e = flat ? face->Vertex[0] : k;
                O3D_EnvMap(n[e], modules[e], &pv.u, &pv.v);
            } else {
                pv.u = face->Map[2 * c];
                pv.v = face->Map[2 * c + 1];
            }
            pv.u2 = pv.v2 = 0.0f;
            if (second) {
                if (flags & ZO3D_SECONDENVIRONMENT)
                    O3D_EnvMap(n[k], modules[k], &pv.u2, &pv.v2);
                if (flags & ZO3D_SECONDMAP) {
                    pv.u2 = secondMap[2 * c];
                    pv.v2 = secondMap[2 * c + 1];
                }
            }
        }
        H3d->DrawPoly(&p);
        FacesQueued++;
    }
}

void CZO3d::DrawAllObject(unsigned long object, unsigned long mode)
{
    O3D_DrawFaces(object, nullptr, 0, mode, true);
}

void CZO3d::DrawPartialObject(unsigned long object, unsigned long* faces, unsigned long count, unsigned long mode)
{
    O3D_DrawFaces(object, faces, count, mode, false);
}

void CZO3d::DrawAllObjectWireFrame(unsigned long object, unsigned long mode)
{
    const Vector3 *v, *n;
    if (!O3D_Prepare(object, mode, false, false, &v, &n, "DrawAllObjectWireFrame"))
        return;
    const ZO3D_HEADER* h = O3D_Header(object);
    const ZO3D_FACE* face = O3D_At<ZO3D_FACE>(h->Faces);
    const ZO3D_MATERIAL* materials = O3D_At<ZO3D_MATERIAL>(h->Materials);
    const float* modules = O3D_At<float>(h->Modules);
    LINESTRUCT l;
    memset(&l, 0, sizeof(l));
    for (uint32_t f = 0; f < h->FaceCount; f++, face++) {
        const ZO3D_MATERIAL* m = materials + face->Material;
        const bool textured = m->Type == ZO3D_MAT_TEXTURED || m->Type == ZO3D_MAT_TEXTURED_2D;
        const bool coloured = m->Type == ZO3D_MAT_COLORED || m->Type == ZO3D_MAT_COLORED_2D;
        l.Kind = textured ? ZPRIM_TEXTURED : coloured ? ZPRIM_COLORED : m->Type;
        l.Flags = m->Flags;
        l.Texture = textured ? m->Texture1 : 0;
        const float firstModule = modules[face->Vertex[0]];
        for (int e = 0; e < 3; e++) {
            const int corner[2] = {e, (e + 1) % 3};
            for (int k = 0; k < 2; k++) {
                const int c = corner[k];
                const uint32_t i = face->Vertex[c];
                LINEVERTEX& end = l.End[k];
                O3D_Place(&end, v[i], n[i]);
                if (m->Flags & ZO3D_ENVIRONMENT) {
                    O3D_EnvMap(n[i], firstModule, &end.u, &end.v);
                } else {
                    end.u = face->Map[2 * c];
                    end.v = face->Map[2 * c + 1];
                }
            }
            l.Color0 = coloured ? m->Color[corner[0]] : 0;
            l.Color1 = coloured ? m->Color[corner[1]] : 0;
            H3d->DrawLine(&l);
            FacesQueued++;
        }
    }
}

void CZO3d::DrawDynamicLight(unsigned long object, Sphere3* light, unsigned long texture1, unsigned long texture2,
                             int cull, unsigned long /*reserved*/)
{
    const ZO3D_HEADER* h = O3D_Header(object);
    if (!CacheReady || h->VertexCount > CacheVertices) {
        O3D_Refuse(O3D_REFUSE_CACHE, "DrawDynamicLight: an object of %u vertices needs InitCache with at least that "
                   "many (cache: %u); nothing drawn", h->VertexCount, CacheVertices);
        return;
    }
    const Vector3 q = light->Center;
    const float r = light->Radius;
    const ZO3D_FACE* face = O3D_At<ZO3D_FACE>(h->Faces);
    POLYSTRUCT p;
    memset(&p, 0, sizeof(p));
    p.Kind = ZPRIM_TEXTURED;
    p.Flags = O3D_LIGHT_FLAGS;
    for (uint32_t f = 0; f < h->FaceCount; f++, face++) {
        const Vector3* c[3] = {&VertexCache[face->Vertex[0]], &VertexCache[face->Vertex[1]],
                               &VertexCache[face->Vertex[2]]};
        if (cull) {
            Vector3 normal;
            Mth->Vector3CrossProduct3(c[0], c[1], c[2], &normal);
            // A point of the face's plane: the weights sum to 1.
            const Vector3 toLight = {q.x - (1.5f * c[2]->x - 0.75f * c[0]->x + 0.25f * c[1]->x),
                                     q.y - (1.5f * c[2]->y - 0.75f * c[0]->y + 0.25f * c[1]->y),
                                     q.z - (1.5f * c[2]->z - 0.75f * c[0]->z + 0.25f * c[1]->z)};
            if (Mth->Vector3DotProduct(&toLight, &normal) > 0.0f) {
                FacesCulled++;
                continue;
            }
        }
        for (int k = 0; k < 3; k++) {
            POLYVERTEX& pv = p.Vertex[k];
            pv.x = c[k]->x;
            pv.y = c[k]->y;
            pv.z = c[k]->z;
            // The first texture holds the falloff across x and y, the second along z.
            pv.u = (pv.x - q.x) / r * 0.5f + 0.5f;
            pv.v = (pv.y - q.y) / r * 0.5f + 0.5f;
            pv.u2 = (pv.z - q.z) / r * 0.5f + 0.5f;
            pv.v2 = 0.5f;
        }
        p.Texture1 = texture1;
        p.Texture2 = texture2;
        p.Texture3 = 0;
        H3d->DrawPoly(&p);
        FacesQueued++;
    }
}

int CZO3d::TestObjectWithLine(unsigned long object, LINESTRUCT* line)
{
    const ZO3D_HEADER* h = O3D_Header(object);
    const Vector3* v = O3D_FrameVertices(h, h->Frame);
    const ZO3D_FACE* face = O3D_At<ZO3D_FACE>(h->Faces);
    POLYSTRUCT p;
    memset(&p, 0, sizeof(p));
    for (uint32_t f = 0; f < h->FaceCount; f++, face++) {
        for (int c = 0; c < 3; c++) {
            const Vector3& s = v[face->Vertex[c]];
            p.Vertex[c].x = s.x;
            p.Vertex[c].y = s.y;
            p.Vertex[c].z = s.z;
        }
        if (Mth->TestLineToTriangle(&p, line))
            return 1;
    }
    return 0;
}
