// CZO3d procedural objects: a box, an upright plane and a screen-space
// plane, each laid out as the fixed image an exporter once wrote (name
// "AscImported", version 0x1002 with corner indices already divided, one
// frame, one textured material without a texture, zero normals), then
// scaled; and the two mapping adjusters.
#include "zo3d_local.h"

#include <cstring>

#include "zdebug.h"
#include "zmem.h"

// The exporter's version; the corners are indices all the same.
static const uint32_t O3D_PROC_VERSION = 0x1002;
static const float O3D_LO = 0.0005f;    // half a texel in from the edges at 1000-texel scale
static const float O3D_HI = 0.9995f;

enum { O3D_CUBE, O3D_PLANE, O3D_PLANE2D };

static const float O3D_CubeVertices[20][3] = {
    {-1, 1, 1},  {-1, -1, 1},  {1, 1, 1},   {1, -1, 1},     // z = +1
    {1, 1, 1},   {1, -1, 1},   {1, 1, -1},  {1, -1, -1},    // x = +1
    {1, 1, -1},  {1, -1, -1},  {-1, 1, -1}, {-1, -1, -1},   // z = -1
    {-1, 1, -1}, {-1, -1, -1}, {-1, 1, 1},  {-1, -1, 1},    // x = -1
    {1, 1, -1},  {1, 1, 1},                                 // added for the top
    {1, -1, 1},  {1, -1, -1},                               // and the bottom
};
static const uint32_t O3D_CubeFaces[12][3] = {
    {0, 1, 2},   {1, 3, 2},   {4, 5, 6},   {5, 7, 6},   {8, 9, 10},  {9, 11, 10},
    {12, 13, 14}, {13, 15, 14}, {10, 0, 16}, {0, 17, 16}, {1, 11, 18}, {11, 19, 18},
};
// Every side maps the whole texture over its two faces.
static const float O3D_CubeMaps[2][6] = {{0, 0, 0, 1, 1, 0}, {0, 1, 1, 1, 1, 0}};

static const float O3D_PlaneVertices[4][3] = {
    {-0.5296f, 0, -0.5089f}, {0.4893f, 0, -0.5089f}, {-0.5296f, 0, 0.51f}, {0.4893f, 0, 0.51f}};
static const uint32_t O3D_PlaneFaces[2][3] = {{2, 0, 3}, {1, 3, 0}};
static const float O3D_PlaneMaps[2][6] = {{O3D_LO, O3D_HI, O3D_LO, O3D_LO, O3D_HI, O3D_HI},
                                          {O3D_HI, O3D_LO, O3D_HI, O3D_HI, O3D_LO, O3D_LO}};

static const float O3D_Plane2dVertices[4][3] = {{-0.5f, -0.5f, 0}, {-0.5f, 0.5f, 0}, {0.5f, -0.5f, 0}, {0.5f, 0.5f, 0}};
static const uint32_t O3D_Plane2dFaces[2][3] = {{3, 0, 1}, {3, 2, 0}};
static const float O3D_Plane2dMaps[2][6] = {{O3D_HI, O3D_HI, O3D_LO, O3D_LO, O3D_LO, O3D_HI},
                                            {O3D_HI, O3D_HI, O3D_HI, O3D_LO, O3D_LO, O3D_LO}};

struct O3D_SHAPE {
    uint32_t Vertices, Faces;
    const float (*Position)[3];
    const uint32_t (*Corners)[3];
    const float (*Maps)[6];
    uint32_t MapCount;      // face f takes map f % MapCount
    Vector3 Place;
};

static const O3D_SHAPE O3D_Shapes[3] = {
    {20, 12, O3D_CubeVertices, O3D_CubeFaces, O3D_CubeMaps, 2, {0, 0, 5}},
    {4, 2, O3D_PlaneVertices, O3D_PlaneFaces, O3D_PlaneMaps, 2, {0, 0, 4}},
    {4, 2, O3D_Plane2dVertices, O3D_Plane2dFaces, O3D_Plane2dMaps, 2, {0, 0, 0}},
};

// Lays the image out in the exporter's order (faces, modules, material,
// frame tables, vertices, normals) in a new block, with addresses, and
// applies the kind's scaling to the vertices.
unsigned long CZO3d::O3D_Build(int kind, const float* s)
{
    const O3D_SHAPE& shape = O3D_Shapes[kind];
    const uint32_t V = shape.Vertices, F = shape.Faces;
    const uint32_t faces = sizeof(ZO3D_HEADER), modules = faces + F * sizeof(ZO3D_FACE),
                   material = modules + V * sizeof(float), frameVertices = material + sizeof(ZO3D_MATERIAL),
                   frameNormals = frameVertices + 4, vertices = frameNormals + 4,
                   normals = vertices + V * sizeof(Vector3), size = normals + V * sizeof(Vector3);
    uint8_t* block = (uint8_t*)Mem->GetMem(size);
    if (!block)
        Debug->ShowMessageAndExit("Not enough memory to create an object", O3D_CAPTION);
    memset(block, 0, size);
    const uint32_t base = (uint32_t)(uintptr_t)block;

    ZO3D_HEADER* h = (ZO3D_HEADER*)block;
    memcpy(h->Name, "AscImported", sizeof("AscImported"));
    h->Version = O3D_PROC_VERSION;
    h->ImageSize = size;
    h->Position = shape.Place;
    h->VertexCount = V;
    h->FaceCount = F;
    h->MaterialCount = 1;
    h->FrameCount = 1;
    h->FrameVertices = base + frameVertices;
    h->FrameNormals = base + frameNormals;
    h->Modules = base + modules;
    h->Faces = base + faces;
    h->Materials = base + material;
    *(uint32_t*)(block + frameVertices) = base + vertices;
    *(uint32_t*)(block + frameNormals) = base + normals;
    ((ZO3D_MATERIAL*)(block + material))->Type = ZO3D_MAT_TEXTURED;

    ZO3D_FACE* face = (ZO3D_FACE*)(block + faces);
    for (uint32_t f = 0; f < F; f++) {
        memcpy(face[f].Vertex, shape.Corners[f], sizeof(face[f].Vertex));
        memcpy(face[f].Map, shape.Maps[f % shape.MapCount], sizeof(face[f].Map));
    }
    Vector3* v = (Vector3*)(block + vertices);
    for (uint32_t i = 0; i < V; i++) {
        const float x = shape.Position[i][0], y = shape.Position[i][1], z = shape.Position[i][2];
        switch (kind) {
        case O3D_CUBE: v[i] = Vector3{s[1] * x, s[0] * y, s[2] * z}; break;          // height, width, depth
        case O3D_PLANE: v[i] = Vector3{s[1] * x, s[0] * z, y}; break;                // upright in x-y
        default: v[i] = Vector3{s[0] / 2 + s[0] * x, s[1] / 2 + s[1] * y, s[2]}; break;   // (0,0)-(w,h)
        }
    }
    return base;
}

unsigned long CZO3d::CreateCube(float height, float width, float depth)
{
    const float s[3] = {height, width, depth};
    return O3D_Build(O3D_CUBE, s);
}

unsigned long CZO3d::CreatePlane(float height, float width)
{
    const float s[3] = {height, width, 0};
    return O3D_Build(O3D_PLANE, s);
}

unsigned long CZO3d::CreatePlane2d(float width, float height, float depth)
{
    const float s[3] = {width, height, depth};
    return O3D_Build(O3D_PLANE2D, s);
}

void CZO3d::SetPlane2dMapping(unsigned long object, float ua, float va, float ub, float vb)
{
    const ZO3D_HEADER* h = O3D_Header(object);
    const float maps[2][6] = {{ub, vb, ua, va, ua, vb}, {ub, vb, ub, va, ua, va}};
    ZO3D_FACE* face = O3D_At<ZO3D_FACE>(h->Faces);
    for (uint32_t f = 0; f < 2 && f < h->FaceCount; f++)
        memcpy(face[f].Map, maps[f], sizeof(face[f].Map));
}

static void O3D_Scroll(const ZO3D_HEADER* h, bool any, unsigned long material, float du, float dv)
{
    ZO3D_FACE* face = O3D_At<ZO3D_FACE>(h->Faces);
    for (uint32_t f = 0; f < h->FaceCount; f++, face++) {
        if (!any && face->Material != material)
            continue;
        for (int c = 0; c < 3; c++) {
            face->Map[2 * c] += du;
            face->Map[2 * c + 1] += dv;
        }
    }
}

void CZO3d::ModifyMapping(unsigned long object, float du, float dv)
{
    O3D_Scroll(O3D_Header(object), true, 0, du, dv);
}

void CZO3d::ModifyMapping(unsigned long object, unsigned long material, float du, float dv)
{
    O3D_Scroll(O3D_Header(object), false, material, du, dv);
}
