// Objects without a device: files written by the host writer loaded and read
// back through the accessors, frames, normals, copies, material setters,
// procedural objects, the line test, and damaged files.
#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "zarquel.h"
#include "zo3dcheck.h"
#include "zqtest.h"

namespace {

std::string Fixture(const char* name)
{
    return std::string(ZQ_O3D_FIXTURES) + "\\" + name;
}

const ZO3D_HEADER* Head(unsigned long object)
{
    return (const ZO3D_HEADER*)(uintptr_t)object;
}

template <class T> T* At(uint32_t address)
{
    return (T*)(uintptr_t)address;
}

ZO3D_FACE* Faces(unsigned long object)
{
    return At<ZO3D_FACE>(Head(object)->Faces);
}

ZO3D_MATERIAL* Materials(unsigned long object)
{
    return At<ZO3D_MATERIAL>(Head(object)->Materials);
}

// An image as stored, offsets and all.
struct FileImage {
    std::string Bytes;
    ZO3D_HEADER H;
    explicit FileImage(const char* name) : Bytes(ZQ_ReadFile(Fixture(name).c_str()))
    {
        memset(&H, 0, sizeof(H));
        if (Bytes.size() >= sizeof(H))
            memcpy(&H, Bytes.data(), sizeof(H));
    }
    template <class T> const T* At(uint32_t offset) const { return (const T*)(Bytes.data() + offset); }
    uint32_t Table(uint32_t table, uint32_t r) const { return *At<uint32_t>(table + 4 * r); }
};

class O3d : public ::testing::Test {
protected:
    void SetUp() override
    {
        z = new CZarquel;
        ASSERT_TRUE(z->Mem->InitHeap(32u << 20));
        o = z->O3d;
    }
    void TearDown() override { delete z; }
    unsigned long Load(const char* name) { return o->LoadObject(Fixture(name).c_str()); }
    CZarquel* z;
    CZO3d* o;
};

}  // namespace

TEST(O3dEngine, CreatedAndLinkedByTheEngineObject)
{
    CZarquel* z = new CZarquel;
    ASSERT_NE(z->O3d, nullptr);
    ASSERT_NE(z->Gfx, nullptr);
    EXPECT_EQ(z->O3d->Mem, z->Mem);
    EXPECT_EQ(z->O3d->Mth, z->Mth);
    EXPECT_EQ(z->O3d->H3d, z->H3d);
    EXPECT_EQ(z->O3d->Xfs, z->Xfs);
    EXPECT_EQ(z->O3d->Debug, z->Debug);
    EXPECT_EQ(z->O3d->Caps, z->Caps);
    EXPECT_EQ(z->Gfx->H3d, z->H3d);
    EXPECT_EQ(z->Gfx->Mem, z->Mem);
    EXPECT_EQ(z->Gfx->Mth, z->Mth);
    EXPECT_EQ(z->Gfx->O3d, z->O3d);
    EXPECT_EQ(0u, z->O3d->FloatAngles);
    EXPECT_EQ(1u, z->O3d->NextFrame);
    EXPECT_EQ(0u, z->O3d->InterpolationMethod);
    delete z;
}

// The writer's bytes, seen through the engine's accessors.
TEST_F(O3d, WrittenObjectsReadBackThroughTheAccessors)
{
    const FileImage f("grid.3do");
    ASSERT_GT(f.Bytes.size(), 1000u);
    const unsigned long obj = Load("grid.3do");
    const uint32_t V = f.H.VertexCount;
    EXPECT_EQ(117u, o->GetNumberVertex(obj));
    EXPECT_EQ(f.H.FaceCount, o->GetNumberOfFaces(obj));
    EXPECT_EQ(3u, o->GetNumberMaterials(obj));
    EXPECT_EQ(3u, o->GetNumberFrames(obj));
    EXPECT_EQ(f.Bytes.size(), o->GetObjectSize(obj));
    EXPECT_EQ(1u, o->GetActualFrame(obj));
    EXPECT_EQ(0.25f, Head(obj)->Factor);
    EXPECT_EQ(0, memcmp(o->GetObjectModulesPointer(obj), f.At<float>(f.H.Modules), V * 4));
    for (uint32_t r = 0; r < 3; r++) {
        o->SetActualFrame(obj, r);
        EXPECT_EQ(0, memcmp(o->GetVertexPointer(obj), f.At<Vector3>(f.Table(f.H.FrameVertices, r)), V * 12)) << r;
        EXPECT_EQ(0, memcmp(o->GetObjectNormalsPointer(obj), f.At<Vector3>(f.Table(f.H.FrameNormals, r)), V * 12));
    }
    const ZO3D_FACE* faces = (const ZO3D_FACE*)o->GetFacesPointer(obj);
    const ZO3D_FACE* stored = f.At<ZO3D_FACE>(f.H.Faces);
    for (uint32_t i = 0; i < f.H.FaceCount; i++) {
        EXPECT_EQ(0, memcmp(faces[i].Vertex, stored[i].Vertex, 12 + 24 + 4));
        if (stored[i].SecondMap) {
            EXPECT_EQ(0, memcmp(At<float>(faces[i].SecondMap), f.At<float>(stored[i].SecondMap), 24));
        } else {
            EXPECT_EQ(0u, faces[i].SecondMap) << "no second mapping stays 0";
        }
    }
    EXPECT_EQ(0, memcmp(Materials(obj), f.At<ZO3D_MATERIAL>(f.H.Materials), 3 * 48));
    o->DestroyObject(obj);
}

TEST_F(O3d, OldVersionsAndObjectsWithoutMaterials)
{
    const unsigned long old = Load("old.3do");
    EXPECT_EQ(ZO3D_VERSION, Head(old)->Version);
    const uint32_t want[2][3] = {{0, 1, 2}, {1, 3, 2}};
    EXPECT_EQ(0, memcmp(Faces(old)[0].Vertex, want[0], 12));
    EXPECT_EQ(0, memcmp(Faces(old)[1].Vertex, want[1], 12));
    const unsigned long cur = Load("quad2.3do");
    EXPECT_EQ(0, memcmp(Faces(cur)[1].Vertex, want[1], 12)) << "a current version keeps its indices";

    // The spare material behind the image: zeroed, and given back with it.
    const unsigned long bare = Load("nomat.3do");
    const uint32_t size = o->GetObjectSize(bare);
    EXPECT_EQ(0u, o->GetNumberMaterials(bare));
    EXPECT_EQ(bare + size, Head(bare)->Materials);
    const ZO3D_MATERIAL zero = {};
    EXPECT_EQ(0, memcmp(Materials(bare), &zero, 48));
    o->SetMaterialColored(bare, 0, 0, 1, 2, 3);
    EXPECT_EQ(3u, Materials(bare)->Color[2]);
    const unsigned long copy = o->DuplicateObject(bare);
    EXPECT_EQ(copy + size, Head(copy)->Materials);
    EXPECT_EQ(3u, Materials(copy)->Color[2]);
    o->DestroyObject(copy);
    o->DestroyObject(bare);
    void* again = z->Mem->GetMem(size + 48);
    EXPECT_EQ((void*)(uintptr_t)bare, again) << "the whole block came back";
    z->Mem->FreeMem(again, size + 48);
    o->DestroyObject(old);
    o->DestroyObject(cur);
}

TEST_F(O3d, FramesFactorsAndNextFrame)
{
    const unsigned long obj = Load("grid.3do");   // 3 frames
    o->SetActualFrame(obj, 2);
    EXPECT_EQ(2u, o->GetActualFrame(obj));
    EXPECT_EQ(3u, o->NextFrame);
    o->SetActualFrame(obj, 0, 2);
    EXPECT_EQ(2u, o->NextFrame);
    o->SetActualFrame(obj, 2, 2);
    EXPECT_EQ(1u, o->NextFrame) << "past the end: frame count - step";
    o->SetActualFrame(obj, 1, 1.5f);
    EXPECT_EQ(0.99f, Head(obj)->Factor);
    EXPECT_EQ(2u, o->NextFrame);
    o->SetActualFrame(obj, 1, -1.0f, 1);
    EXPECT_EQ(0.0f, Head(obj)->Factor);
    o->SetActualFrame(obj, 0, 0.5f, 1);
    EXPECT_EQ(0.5f, Head(obj)->Factor);
    o->SetActualFrame(obj, 3, 0.7f);
    EXPECT_EQ(0u, o->GetActualFrame(obj)) << "a frame past the last changes nothing";
    EXPECT_EQ(0.5f, Head(obj)->Factor);

    // Modules follow the selected frame.
    o->SetActualFrame(obj, 2);
    Vector3* n = (Vector3*)o->GetObjectNormalsPointer(obj);
    n[5] = Vector3{3, 4, 0};
    o->SetActualFrame(obj, 2);
    EXPECT_EQ(5.0f, ((float*)o->GetObjectModulesPointer(obj))[5]);
    o->DestroyObject(obj);
}

TEST_F(O3d, NormalsScalingAndInvertedCulling)
{
    const unsigned long obj = Load("quad2.3do");
    o->RecalcNormals(obj, 0);
    const Vector3* n = (const Vector3*)o->GetObjectNormalsPointer(obj);
    const float* m = (const float*)o->GetObjectModulesPointer(obj);
    // (second - first) x (third - first) of both faces is (1, 0, 0).
    for (int i = 0; i < 4; i++) {
        EXPECT_EQ(1.0f, n[i].x);
        EXPECT_EQ(0.0f, n[i].y);
        EXPECT_EQ(0.0f, n[i].z);
        EXPECT_EQ(1.0f, m[i]);
    }
    o->RecalcNormals(obj, 1);
    EXPECT_EQ(-1.0f, n[2].x);

    o->ScaleObject(obj, 2.0f);
    EXPECT_EQ(-3.0f, ((Vector3*)o->GetVertexPointer(obj))[0].z);
    o->SetActualFrame(obj, 1);
    EXPECT_EQ(0.5f, ((Vector3*)o->GetVertexPointer(obj))[0].z) << "other frames untouched";

    const unsigned long grid = Load("grid.3do");
    std::vector<uint8_t> before(o->GetObjectSize(grid));
    memcpy(before.data(), (void*)grid, before.size());
    o->InvertCulling(grid);
    const ZO3D_FACE& f0 = Faces(grid)[0];
    const ZO3D_FACE& b0 = *(const ZO3D_FACE*)(before.data() + Head(grid)->Faces - grid);
    EXPECT_EQ(b0.Vertex[2], f0.Vertex[0]);
    EXPECT_EQ(b0.Map[4], f0.Map[0]);
    EXPECT_EQ(b0.Map[1], f0.Map[5]);
    ASSERT_NE(0u, f0.SecondMap);
    EXPECT_EQ(1.0f - b0.Map[5], At<float>(f0.SecondMap)[1]);
    o->InvertCulling(grid);
    EXPECT_EQ(0, memcmp(before.data(), (void*)grid, before.size()));
    o->DestroyObject(grid);
    o->DestroyObject(obj);
}

TEST_F(O3d, DuplicatesAndCopies)
{
    const unsigned long a = Load("grid.3do");
    const unsigned long b = o->DuplicateObject(a);
    const uint32_t size = o->GetObjectSize(a);
    ASSERT_NE(a, b);
    EXPECT_EQ(0, memcmp((void*)a, (void*)b, 16 + 4 + 4));
    // Every reference of the copy points into the copy.
    auto inside = [&](unsigned long obj, uint32_t address) { return address >= obj && address < obj + size; };
    const ZO3D_HEADER* h = Head(b);
    EXPECT_TRUE(inside(b, h->Faces) && inside(b, h->Modules) && inside(b, h->Materials));
    for (uint32_t r = 0; r < 3; r++) {
        EXPECT_TRUE(inside(b, At<uint32_t>(h->FrameVertices)[r]));
        EXPECT_TRUE(inside(b, At<uint32_t>(h->FrameNormals)[r]));
    }
    for (uint32_t f = 0; f < h->FaceCount; f++) {
        if (Faces(b)[f].SecondMap) {
            EXPECT_TRUE(inside(b, Faces(b)[f].SecondMap));
        }
    }

    // CopyObject: the body follows the source, the header stays the target's.
    ((Vector3*)o->GetVertexPointer(a))[0].x = 42.0f;
    o->SetObjectPosition(b, 7.0f, 8.0f, 9.0f);
    o->CopyObject(a, b);
    EXPECT_EQ(42.0f, ((Vector3*)o->GetVertexPointer(b))[0].x);
    EXPECT_EQ(7.0f, Head(b)->Position.x);
    EXPECT_TRUE(inside(b, At<uint32_t>(h->FrameVertices)[2]));
    EXPECT_TRUE(inside(b, Faces(b)[0].SecondMap));

    // Different sizes, or the same size laid out differently: nothing.
    const unsigned long cube = o->CreateCube(1, 1, 1), plane = o->CreatePlane2d(1, 1, 0);
    ((Vector3*)o->GetVertexPointer(cube))[0].x = 5.0f;
    o->CopyObject(cube, plane);
    EXPECT_EQ(0.0f, ((Vector3*)o->GetVertexPointer(plane))[0].x);
    std::vector<uint8_t> saved(412);
    memcpy(saved.data(), (void*)plane, 412);
    const unsigned long other = o->CreatePlane(1, 1);
    ((ZO3D_HEADER*)other)->VertexCount = 3;
    const uint32_t refused = o->DrawsRefused;
    o->CopyObject(other, plane);
    EXPECT_EQ(0, memcmp(saved.data(), (void*)plane, 412));
    EXPECT_EQ(refused + 1, o->DrawsRefused);
    for (unsigned long obj : {a, b, cube, plane, other})
        o->DestroyObject(obj);
}

TEST_F(O3d, MaterialSetters)
{
    const unsigned long obj = Load("grid.3do");
    ZO3D_MATERIAL* m = Materials(obj);
    o->SetMaterialTextured(obj, 1, 0x10, 11, 12, 13);
    EXPECT_EQ(ZO3D_MAT_TEXTURED, m[1].Type);
    EXPECT_EQ(0x10u, m[1].Flags);
    EXPECT_EQ(11u, m[1].Texture1);
    EXPECT_EQ(12u, m[1].Texture2);
    EXPECT_EQ(13u, m[1].Texture3);
    o->SetMaterialTexturedTrans(obj, 1, 8, 21, 22);
    EXPECT_EQ(ZO3D_MAT_TEXTURED_2D, m[1].Type);
    EXPECT_EQ(21u, m[1].Texture1);
    EXPECT_EQ(13u, m[1].Texture3) << "the third texture is left as it was";
    o->SetMaterialColored(obj, 2, 1, 0xA, 0xB, 0xC);
    EXPECT_EQ(ZO3D_MAT_COLORED, m[2].Type);
    EXPECT_EQ(0u, m[2].Texture1);
    EXPECT_EQ(0xCu, m[2].Color[2]);
    // Past the material array: refused, nothing written behind the image.
    const uint32_t refused = o->DrawsRefused;
    const uint32_t behind = *(uint32_t*)(obj + o->GetObjectSize(obj));
    o->SetMaterialColored(obj, 3, 1, 1, 1, 1);
    EXPECT_EQ(refused + 1, o->DrawsRefused);
    EXPECT_EQ(behind, *(uint32_t*)(obj + o->GetObjectSize(obj)));
    o->DestroyObject(obj);
}

TEST_F(O3d, ProceduralObjectsAreLaidOutAsTheExporterDid)
{
    const unsigned long cube = o->CreateCube(1, 1, 1);
    const ZO3D_HEADER* h = Head(cube);
    EXPECT_STREQ("AscImported", h->Name);
    EXPECT_EQ(0x1002u, h->Version);
    EXPECT_EQ(ZO3D_CUBE_BYTES, o->GetObjectSize(cube));
    EXPECT_EQ(20u, h->VertexCount);
    EXPECT_EQ(12u, h->FaceCount);
    EXPECT_EQ(5.0f, h->Position.z);
    // Faces, modules, material, frame tables, vertices, normals.
    EXPECT_EQ(cube + 100, h->Faces);
    EXPECT_EQ(cube + 964, h->Modules);
    EXPECT_EQ(cube + 1044, h->Materials);
    EXPECT_EQ(cube + 1092, h->FrameVertices);
    EXPECT_EQ(cube + 1096, h->FrameNormals);
    EXPECT_EQ(cube + 1100, *At<uint32_t>(h->FrameVertices));
    EXPECT_EQ(cube + 1340, *At<uint32_t>(h->FrameNormals));
    EXPECT_EQ(ZO3D_MAT_TEXTURED, Materials(cube)->Type);
    // Every face's corners: the side's two triangles, mapped (0,0),(0,1),(1,0) / (0,1),(1,1),(1,0).
    const float face0[3][3] = {{-1, 1, 1}, {-1, -1, 1}, {1, 1, 1}}, face11[3][3] = {{-1, -1, -1}, {1, -1, -1}, {1, -1, 1}};
    const Vector3* v = (const Vector3*)o->GetVertexPointer(cube);
    for (int c = 0; c < 3; c++) {
        const Vector3& a = v[Faces(cube)[0].Vertex[c]];
        const Vector3& b = v[Faces(cube)[11].Vertex[c]];
        EXPECT_TRUE(a.x == face0[c][0] && a.y == face0[c][1] && a.z == face0[c][2]) << c;
        EXPECT_TRUE(b.x == face11[c][0] && b.y == face11[c][1] && b.z == face11[c][2]) << c;
    }
    const float odd[6] = {0, 1, 1, 1, 1, 0};
    EXPECT_EQ(0, memcmp(Faces(cube)[11].Map, odd, 24));
    for (uint32_t f = 0; f < 12; f++) {
        Vector3 n;
        z->Mth->Vector3CrossProduct3(&v[Faces(cube)[f].Vertex[0]], &v[Faces(cube)[f].Vertex[1]],
                                     &v[Faces(cube)[f].Vertex[2]], &n);
        EXPECT_EQ(4.0f, z->Mth->Vector3Module(&n)) << "face " << f << " is half of a 2 x 2 side";
        EXPECT_EQ(0u, Faces(cube)[f].SecondMap);
    }
    const unsigned long box = o->CreateCube(2, 3, 4);
    const Vector3* bv = (const Vector3*)o->GetVertexPointer(box);
    EXPECT_TRUE(bv[0].x == -3 && bv[0].y == 2 && bv[0].z == 4);

    const unsigned long p2 = o->CreatePlane2d(640, 480, 0);
    EXPECT_EQ(ZO3D_PLANE_BYTES, o->GetObjectSize(p2));
    const Vector3* pv = (const Vector3*)o->GetVertexPointer(p2);
    const float want[4][2] = {{0, 0}, {0, 480}, {640, 0}, {640, 480}};
    for (int i = 0; i < 4; i++)
        EXPECT_TRUE(pv[i].x == want[i][0] && pv[i].y == want[i][1] && pv[i].z == 0) << i;
    EXPECT_EQ(p2 + 100, Head(p2)->Faces);
    EXPECT_EQ(p2 + 316, *At<uint32_t>(Head(p2)->FrameVertices));
    o->SetPlane2dMapping(p2, 0, 0, 1, 1);
    // (0, 0) is vertex 0, the second corner of face 0 and third of face 1.
    EXPECT_EQ(0.0f, Faces(p2)[0].Map[2]);
    EXPECT_EQ(0.0f, Faces(p2)[0].Map[3]);
    EXPECT_EQ(1.0f, Faces(p2)[0].Map[0]);
    const float face1[6] = {1, 1, 1, 0, 0, 0};
    EXPECT_EQ(0, memcmp(Faces(p2)[1].Map, face1, 24));
    o->ModifyMapping(p2, 5, 0.5f, 0.5f);
    EXPECT_EQ(1.0f, Faces(p2)[0].Map[0]) << "no face has material 5";
    o->ModifyMapping(p2, 0, 0.5f, 0.25f);
    EXPECT_EQ(1.5f, Faces(p2)[0].Map[0]);
    o->ModifyMapping(p2, 0.5f, 0.75f);
    EXPECT_EQ(2.0f, Faces(p2)[0].Map[0]);
    EXPECT_EQ(2.0f, Faces(p2)[0].Map[1]);

    const unsigned long p3 = o->CreatePlane(2, 3);
    const Vector3* qv = (const Vector3*)o->GetVertexPointer(p3);
    EXPECT_FLOAT_EQ(3 * 0.4893f, qv[3].x);
    EXPECT_FLOAT_EQ(2 * 0.51f, qv[3].y);
    EXPECT_EQ(0.0f, qv[3].z);
    EXPECT_EQ(4.0f, Head(p3)->Position.z);
    for (unsigned long obj : {cube, box, p2, p3})
        o->DestroyObject(obj);
}

namespace {

// Segment against triangle in double precision (Moller-Trumbore); `margin`
// is how far the answer is from changing (edges, ends, parallel).
bool Reference(const Vector3& a, const Vector3& b, const Vector3& c, const Vector3& p, const Vector3& q,
               double* margin)
{
    const double e1[3] = {b.x - a.x, b.y - a.y, b.z - a.z}, e2[3] = {c.x - a.x, c.y - a.y, c.z - a.z};
    const double d[3] = {q.x - p.x, q.y - p.y, q.z - p.z};
    const double h[3] = {d[1] * e2[2] - d[2] * e2[1], d[2] * e2[0] - d[0] * e2[2], d[0] * e2[1] - d[1] * e2[0]};
    const double det = e1[0] * h[0] + e1[1] * h[1] + e1[2] * h[2];
    if (fabs(det) < 1e-9) {
        *margin = 0;
        return false;
    }
    const double s[3] = {p.x - a.x, p.y - a.y, p.z - a.z};
    const double u = (s[0] * h[0] + s[1] * h[1] + s[2] * h[2]) / det;
    const double k[3] = {s[1] * e1[2] - s[2] * e1[1], s[2] * e1[0] - s[0] * e1[2], s[0] * e1[1] - s[1] * e1[0]};
    const double v = (d[0] * k[0] + d[1] * k[1] + d[2] * k[2]) / det;
    const double t = (e2[0] * k[0] + e2[1] * k[1] + e2[2] * k[2]) / det;
    *margin = std::min({fabs(u), fabs(v), fabs(1 - u - v), fabs(t), fabs(1 - t)});
    return u >= 0 && v >= 0 && u + v <= 1 && t >= 0 && t <= 1;
}

}  // namespace

TEST_F(O3d, LineTestAgreesWithABruteForceTestOverAllFaces)
{
    const unsigned long obj = Load("grid.3do");
    o->SetActualFrame(obj, 2);
    const Vector3* v = (const Vector3*)o->GetVertexPointer(obj);
    const ZO3D_FACE* faces = Faces(obj);
    std::mt19937 rng(11);
    std::uniform_real_distribution<float> pos(-1.3f, 1.3f), len(0.05f, 0.6f);
    int hits = 0, checked = 0;
    for (int i = 0; i < 4000; i++) {
        LINESTRUCT line = {};
        Vector3 p = {pos(rng), pos(rng), pos(rng) * 0.4f}, q = {p.x + pos(rng) * 0.2f, p.y + pos(rng) * 0.2f,
                                                             p.z + (i % 2 ? 1 : -1) * len(rng)};
        line.End[0].x = p.x, line.End[0].y = p.y, line.End[0].z = p.z;
        line.End[1].x = q.x, line.End[1].y = q.y, line.End[1].z = q.z;
        bool want = false, close = false;
        for (uint32_t f = 0; f < o->GetNumberOfFaces(obj); f++) {
            double margin;
            const bool hit = Reference(v[faces[f].Vertex[0]], v[faces[f].Vertex[1]], v[faces[f].Vertex[2]], p, q, &margin);
            want |= hit;
            close |= margin < 1e-4;
        }
        if (close)
            continue;   // float and double may honestly disagree here
        checked++;
        hits += want;
        ASSERT_EQ(want ? 1 : 0, o->TestObjectWithLine(obj, &line)) << i;
    }
    EXPECT_GT(checked, 3800);
    EXPECT_GT(hits, 500);
    EXPECT_LT(hits, checked - 500);
    o->DestroyObject(obj);
}

// ---------------------------------------------------------------------------
// Damaged files

namespace {

template <class T> void Poke(std::string* s, size_t at, T value)
{
    memcpy(&(*s)[at], &value, sizeof(T));
}

}  // namespace

// Loads the object named by ZQ_O3D_FILE (and then, when ZQ_O3D_MATERIALS
// is set, that material file onto it).
ZQ_CHILD(LoadNamed)
{
    CZarquel* z = new CZarquel;
    z->Mem->InitHeap(8u << 20);
    char name[MAX_PATH] = {0}, materials[MAX_PATH] = {0};
    GetEnvironmentVariableA("ZQ_O3D_FILE", name, sizeof(name));
    unsigned long obj = z->O3d->LoadObject(name);
    if (GetEnvironmentVariableA("ZQ_O3D_MATERIALS", materials, sizeof(materials)))
        z->O3d->LoadMaterials(obj, materials);
    delete z;
}

TEST(O3dDamaged, EachDamageEndsTheProgramNamingTheFileAndTheFault)
{
    const FileImage f("grid.3do");
    const ZO3D_HEADER& h = f.H;
    struct Case {
        const char* Name;
        size_t At;          // SIZE_MAX: truncate to Value bytes instead
        uint32_t Value;
        const char* Why;
    } const cases[] = {
        {"short.3do", SIZE_MAX, 60, "60 bytes, shorter than the 100-byte header"},
        {"cut.3do", SIZE_MAX, 5000, "the header says # bytes, the file has 5000"},
        {"vertex.3do", h.Faces + 72 * 5 + 8, 117, "face 5 corner 2 names vertex 117 of 117"},
        {"material.3do", h.Faces + 72 * 7 + 36, 3, "face 7 names material 3 of 3"},
        {"second.3do", h.Faces + 40, h.ImageSize - 8, "face 0 second mapping at offset % runs past the end"},
        {"frames.3do", offsetof(ZO3D_HEADER, FrameNormals), h.ImageSize - 4, "frame normal table at offset % (3 entries) runs past the end"},
    };
    // '%' stands for the value written, '#' for the fixture's size.
    auto expected = [&h](const Case& c) {
        std::string why;
        for (const char* p = c.Why; *p; p++)
            why += *p == '%' ? std::to_string(c.Value) : *p == '#' ? std::to_string(h.ImageSize) : std::string(1, *p);
        return why;
    };
    for (const Case& c : cases) {
        std::string bytes = f.Bytes;
        if (c.At == SIZE_MAX)
            bytes.resize(c.Value);
        else
            Poke(&bytes, c.At, c.Value);
        const std::string path = ZQ_TempPath(c.Name);
        ZQ_WriteFile(path, bytes);
        SetEnvironmentVariableA("ZQ_O3D_FILE", path.c_str());
        ZQChild child = ZQ_RunChild("LoadNamed");
        EXPECT_TRUE(ZQ_OneBox(child, 1, "Damaged object file: " + path + " (" + expected(c) + ")", "Zarquel ZO3D")) << c.Name;
        DeleteFileA(path.c_str());
    }

    // A material file whose records do not fit in it.
    std::string mat = ZQ_ReadFile(Fixture("mat\\modulate.material").c_str());
    mat.resize(mat.size() - 100);
    const std::string path = ZQ_TempPath("cut.material");
    ZQ_WriteFile(path, mat);
    SetEnvironmentVariableA("ZQ_O3D_FILE", Fixture("quad2.3do").c_str());
    SetEnvironmentVariableA("ZQ_O3D_MATERIALS", path.c_str());
    ZQChild child = ZQ_RunChild("LoadNamed");
    EXPECT_TRUE(ZQ_OneBox(child, 1, "Damaged material file: " + path + " (1 records do not fit in 13240 bytes)",
                          "Zarquel ZO3D"));
    ZQ_WriteFile(path, "");
    child = ZQ_RunChild("LoadNamed");
    EXPECT_TRUE(ZQ_OneBox(child, 1, "Damaged file: " + path + " (the file is empty)", "Zarquel ZO3D"));
    DeleteFileA(path.c_str());

    // A custom-shader material whose shader is not named.
    SetEnvironmentVariableA("ZQ_O3D_MATERIALS", Fixture("mat\\noshader.material").c_str());
    child = ZQ_RunChild("LoadNamed");
    EXPECT_TRUE(ZQ_OneBox(child, 1, "Error, .mat specifies CUSTOMSHADER and no Shaderloaded(not suported?)",
                          "Zarquel ZO3D"));
    SetEnvironmentVariableA("ZQ_O3D_MATERIALS", NULL);
}

// Flipped bits the check lets through (floats, mostly) load and draw in
// every mode without stepping outside the image.
TEST_F(O3d, BitFlippedImagesThatPassTheCheckLoadAndDraw)
{
    const FileImage f("grid.3do");
    o->InitCache(1000);
    const std::string path = ZQ_TempPath("flipped.3do");
    std::mt19937 rng(3);
    int loaded = 0, refused = 0;
    for (int i = 0; i < 300; i++) {
        std::string bytes = f.Bytes;
        const size_t bit = rng() % (bytes.size() * 8);
        bytes[bit / 8] ^= (char)(1u << (bit % 8));
        char why[ZO3D_WHY_BYTES];
        if (!ZO3D_CheckImage((const uint8_t*)bytes.data(), bytes.size(), why)) {
            refused++;
            continue;
        }
        ZQ_WriteFile(path, bytes);
        const unsigned long obj = o->LoadObject(path.c_str());
        // Everything that writes into the image, then everything that reads it.
        o->SetObjectPosition(obj, 1.0f, 2.0f, 3.0f);
        o->SetActualFrame(obj, 0, 0.5f);
        o->ScaleObject(obj, 1.01f);
        o->InvertCulling(obj);
        o->ModifyMapping(obj, 0.1f, 0.2f);
        o->SetMaterialTextured(obj, 0, ZO3D_ENVIRONMENT | ZO3D_SECONDMAP, 1, 2, 3);
        o->RecalcNormals(obj, 0);
        for (unsigned long mode = 0; mode < 4; mode++) {
            o->DrawAllObject(obj, mode);
            o->DrawAllObjectWireFrame(obj, mode);
        }
        unsigned long list[2] = {0, 1};
        o->DrawPartialObject(obj, list, 2, 3);
        Sphere3 light = {{0, 0, 0}, 1};
        o->DrawDynamicLight(obj, &light, 0, 0, 1, 0);
        LINESTRUCT line = {};
        line.End[1].z = 1;
        o->TestObjectWithLine(obj, &line);
        o->RecalcNormals(obj, 0);
        const unsigned long copy = o->DuplicateObject(obj);
        o->DestroyObject(copy);
        o->DestroyObject(obj);
        loaded++;
    }
    DeleteFileA(path.c_str());
    EXPECT_GT(loaded, 200);
    EXPECT_GT(refused, 0);
}
