// Objects through the real device: what DrawAllObject and its siblings
// queue (read back from the batch stores), frame blending, lighting and
// material files on screen.
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "gfx_fixture.h"
#include "solid_texture.h"
#include "zh3d_local.h"
#include "zo3d.h"
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

class O3dDraw : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(g.Open());
        h = g.H3d;
        o = g.Z->O3d;
        o->InitCache(10000);
        white = Texture(0xFFFFFFFF);
    }
    void TearDown() override
    {
        for (IDirect3DTexture9* t : textures)
            t->Release();
        g.Close();
    }
    uint32_t Texture(uint32_t argb) { return ZQ_SolidTexture(g.Vgs->Device, argb, &textures); }
    unsigned long Load(const char* name) { return o->LoadObject(Fixture(name).c_str()); }
    // The first bucket of a kind, its vertices as queued.
    const ZH3D_BUCKET& Bucket(int kind, int index = 0) { return h->Tables[kind][index]; }
    const POLYVERTEX* Tris(int index = 0)
    {
        return (const POLYVERTEX*)(uintptr_t)Bucket(ZH3D_TRIS_TEXTURED, index).Store;
    }
    // Mean x of the lit pixels, or -1 when none is lit.
    float CentreX()
    {
        std::vector<uint32_t> px(64 * 64);
        g.Pixels(px.data());
        double sum = 0;
        int n = 0;
        for (int i = 0; i < 64 * 64; i++)
            if ((px[i] & 0xFFFFFF) != 0) {
                sum += i % 64;
                n++;
            }
        return n ? (float)(sum / n) : -1.0f;
    }

    ZQGfx g;
    CZH3d* h;
    CZO3d* o;
    uint32_t white;
    std::vector<IDirect3DTexture9*> textures;
};

}  // namespace

TEST_F(O3dDraw, ModesPlaceTheVerticesAndColoursFollowTheLightSwitch)
{
    const unsigned long obj = Load("quad2.3do");
    o->SetMaterialTextured(obj, 0, 0, white, 0, 0);
    o->SetObjectAngles(obj, 128.0f, 0.0f, 0.0f);
    o->DrawAllObject(obj, ZO3D_MODE_OBJECT);
    ASSERT_EQ(2u, Bucket(ZH3D_TRIS_TEXTURED).Count);
    const POLYVERTEX* v = Tris();
    EXPECT_TRUE(v[0].x == 0 && v[0].y == -0.5f && v[0].z == -1.5f) << "mode 0: object space, whatever the placement";
    EXPECT_EQ(0x00FFFFFFu, v[0].Diffuse);
    EXPECT_EQ(0u, v[0].Specular);
    EXPECT_EQ(0.0f, v[0].u);
    EXPECT_EQ(1.0f, v[0].v);
    h->H3D_DeleteTables();

    h->SetLightEngine(true, 2);
    o->DrawAllObject(obj, ZO3D_MODE_TRANSLATE);
    EXPECT_TRUE(v[0].x == 0 && v[0].y == -0.5f && v[0].z == 3.5f);
    EXPECT_EQ(0x00FFFFFFu, v[0].Specular);
    h->H3D_DeleteTables();
    h->SetLightEngine(false, 2);

    // Partial: the listed faces only; unlit textured faces get no colour.
    unsigned long list[1] = {1};
    o->DrawPartialObject(obj, list, 1, ZO3D_MODE_OBJECT);
    ASSERT_EQ(1u, Bucket(ZH3D_TRIS_TEXTURED).Count);
    EXPECT_EQ(0.5f, v[0].y) << "face 1 starts at vertex 1";
    EXPECT_EQ(0u, v[0].Diffuse);
    list[0] = 2;
    const uint32_t refused = o->DrawsRefused;
    o->DrawPartialObject(obj, list, 1, ZO3D_MODE_OBJECT);
    EXPECT_EQ(refused + 1, o->DrawsRefused) << "a face past the last is skipped";
    EXPECT_EQ(1u, Bucket(ZH3D_TRIS_TEXTURED).Count);
    h->H3D_DeleteTables();

    // Coloured: the material's corner colours.
    o->SetMaterialColored(obj, 0, 0, 0xFF0000FF, 0xFF00FF00, 0xFFFF0000);
    o->DrawAllObject(obj, ZO3D_MODE_OBJECT);
    const uint8_t* c = (const uint8_t*)(uintptr_t)Bucket(ZH3D_TRIS_COLORED).Store;
    ASSERT_NE(nullptr, c);
    EXPECT_EQ(0xFF00FF00u, *(const uint32_t*)(c + 32 + 24));
    h->H3D_DeleteTables();

    // Without a cache, or with a mode past 3: nothing, and the refusal is counted.
    o->DrawAllObject(obj, 4);
    o->EndCache();
    o->DrawAllObject(obj, ZO3D_MODE_TRANSFORM);
    EXPECT_EQ(refused + 3, o->DrawsRefused);
    EXPECT_EQ(ZH3D_FREE, Bucket(ZH3D_TRIS_COLORED).Count);
    o->DestroyObject(obj);
}

TEST_F(O3dDraw, FramesBlendTowardTheNextFrameOnlyInModesTwoAndThree)
{
    const unsigned long obj = Load("quad2.3do");
    o->SetMaterialTextured(obj, 0, 0, white, 0, 0);
    struct { float Factor; unsigned long Mode, Frame; float Z, X; } const cases[] = {
        {0.5f, 2, 0, 5, -0.5f},   // angles 0 turn object z into x
        {0.5f, 3, 0, 5, -0.5f},
        {0.0f, 2, 0, 5, -1.5f},
        {0.5f, 2, 1, 5, 0.5f},    // the last frame does not blend
        {0.5f, 1, 0, 3.5f, 0},    // mode 1 never blends
    };
    for (const auto& c : cases) {
        o->SetActualFrame(obj, c.Frame, c.Factor);
        o->DrawAllObject(obj, c.Mode);
        const POLYVERTEX* v = Tris();
        EXPECT_FLOAT_EQ(c.X, v[0].x) << c.Factor << " " << c.Mode << " " << c.Frame;
        EXPECT_FLOAT_EQ(c.Z, v[0].z);
        h->H3D_DeleteTables();
    }
    // DrawPartialObject never blends.
    o->SetActualFrame(obj, 0, 0.5f);
    unsigned long list[1] = {0};
    o->DrawPartialObject(obj, list, 1, 2);
    EXPECT_FLOAT_EQ(-1.5f, Tris()[0].x);
    h->H3D_DeleteTables();
    o->DestroyObject(obj);
}

TEST_F(O3dDraw, ComputedMappingsSecondMappingsLinesAndLightPass)
{
    const unsigned long obj = Load("grid.3do");
    o->SetObjectAngles(obj, 37.0f, 100.0f, 5.0f);
    o->SetMaterialTextured(obj, 0, ZO3D_ENVIRONMENT | ZO3D_SECONDMAP, white, white, 0);
    o->SetMaterialTextured(obj, 1, ZO3D_SECONDMAP, white, white, 0);
    o->SetMaterialTextured(obj, 2, ZO3D_SECONDENVIRONMENT, white, white, 0);
    o->DrawAllObject(obj, ZO3D_MODE_TRANSFORM);
    const uint32_t faces = o->GetNumberOfFaces(obj);
    const ZO3D_FACE* face = (const ZO3D_FACE*)o->GetFacesPointer(obj);
    // Buckets in order of first use: material 0, 1, 2 (faces take them in turn).
    for (int k = 0; k < 3; k++)
        ASSERT_EQ(faces / 3, Bucket(ZH3D_TRIS_TEXTURED, k).Count) << k;
    const POLYVERTEX* env = Tris(0);
    for (uint32_t i = 0; i < faces / 3 * 3; i++) {
        EXPECT_GE(env[i].u, -1.0f);
        EXPECT_LE(env[i].u, 1.0f);
        EXPECT_GE(env[i].v, -1.0f);
        EXPECT_LE(env[i].v, 1.0f);
        EXPECT_FLOAT_EQ(env[i].nx, env[i].u) << "unit normals: u is the turned normal's x";
    }
    // Second mappings: face 0 (material 0) has its own; face 1 (material 1)
    // has none and takes its first mapping.
    ASSERT_NE(0u, face[0].SecondMap);
    EXPECT_EQ(((const float*)(uintptr_t)face[0].SecondMap)[2], env[1].u2);
    const POLYVERTEX* second = Tris(1);
    EXPECT_EQ(face[1].Map[0], second[0].u2);
    const POLYVERTEX* third = Tris(2);
    EXPECT_FLOAT_EQ(third[0].nx, third[0].u2);
    h->H3D_DeleteTables();

    // Flat environment: all three corners from the first.
    o->SetFlatEnvironmentShading(true);
    o->DrawAllObject(obj, ZO3D_MODE_TRANSFORM);
    EXPECT_EQ(env[0].u, env[1].u);
    EXPECT_EQ(env[0].u, env[2].u);
    o->SetFlatEnvironmentShading(false);
    h->H3D_DeleteTables();

    // Wire frame: three lines per face; the dynamic light: one additive face each.
    o->DrawAllObjectWireFrame(obj, ZO3D_MODE_TRANSFORM);
    uint32_t lines = 0;
    for (int k = 0; k < ZH3D_MAX_BUCKETS && Bucket(ZH3D_LINES_TEXTURED, k).Count != ZH3D_FREE; k++)
        lines += Bucket(ZH3D_LINES_TEXTURED, k).Count;
    EXPECT_EQ(3 * faces, lines);
    Sphere3 light = {{1, 2, 3}, 2};
    o->DrawDynamicLight(obj, &light, white, white, 0, 0);
    EXPECT_EQ(faces, Bucket(ZH3D_TRIS_TEXTURED).Count);
    EXPECT_EQ(0x4811u, Bucket(ZH3D_TRIS_TEXTURED).Flags);
    EXPECT_EQ(0u, Tris()[0].Diffuse);
    h->H3D_DeleteTables();
    const uint32_t culled = o->FacesCulled;
    o->DrawDynamicLight(obj, &light, white, white, 1, 0);
    EXPECT_EQ(faces, o->FacesCulled - culled + Bucket(ZH3D_TRIS_TEXTURED).Count);
    h->H3D_DeleteTables();
    o->DestroyObject(obj);
}

// The quad's frames lie left (-1) and right (+1) of the screen's centre;
// the silhouette follows the factor.
TEST_F(O3dDraw, BlendedSilhouetteMovesWithTheFactor)
{
    const unsigned long obj = Load("quad2.3do");
    o->SetMaterialTextured(obj, 0, 0, white, 0, 0);
    h->SetCullingState(false, false);
    const float factors[3] = {0.0f, 0.5f, 0.99f}, world[3] = {-1.0f, 0.0f, 0.98f};
    for (int i = 0; i < 3; i++) {
        o->SetActualFrame(obj, 0, factors[i]);
        o->DrawAllObject(obj, ZO3D_MODE_TRANSFORM);
        g.Frame();
        // 45 degrees across 64 pixels at depth 5.
        const float want = 32.0f + world[i] / (5.0f * tanf(22.5f * 3.14159265f / 180)) * 32.0f - 0.5f;
        EXPECT_NEAR(want, CentreX(), 1.0f) << factors[i];
    }
    o->DestroyObject(obj);
}

TEST_F(O3dDraw, LitObjectUnderAPointLight)
{
    const unsigned long obj = Load("quad2.3do");
    o->SetMaterialColored(obj, 0, 0, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF);
    o->SetObjectPosition(obj, 1.0f, 0.0f, 5.0f);    // frame 0 spans x -0.5 to 0.5
    h->SetCullingState(false, false);
    h->SetLightEngine(true, 2);
    h->SetAmbientLight(0);
    LIGHTPOINTSTRUCT light = {};
    light.z = 3;
    light.Range = 100;
    light.Attenuation = 1;
    light.DiffuseR = light.DiffuseG = light.DiffuseB = 1.0f;
    h->SetPointLight(0, &light);
    o->DrawAllObject(obj, ZO3D_MODE_TRANSFORM);
    g.Frame();
    const uint32_t lit = g.Pixel(32, 32);
    EXPECT_GT((int)(lit & 0xFF), 150) << std::hex << lit;
    h->DisableLight(0);
    o->DrawAllObject(obj, ZO3D_MODE_TRANSFORM);
    g.Frame();
    const uint32_t dark = g.Pixel(32, 32);
    EXPECT_LT((int)(dark & 0xFF), 40) << std::hex << dark;
    h->SetLightEngine(false, 2);
    o->DestroyObject(obj);
}

TEST_F(O3dDraw, MaterialFilesLoadTheirTexturesAndModulateOnScreen)
{
    const unsigned long obj = Load("quad2.3do");
    h->SetMipMapping(true);
    const unsigned long mats = o->LoadMaterials(obj, Fixture("mat\\modulate.material").c_str());
    EXPECT_EQ(1, h->MipMappingOn) << "mip-mapping is back on";
    const ZO3D_MATERIAL* m = (const ZO3D_MATERIAL*)(uintptr_t)Head(obj)->Materials;
    EXPECT_EQ(ZO3D_MAT_TEXTURED, m->Type);
    EXPECT_EQ(ZO3D_SECONDMAP | ZRF_OP_MODULATE, m->Flags);
    ASSERT_NE(0u, m->Texture1);
    ASSERT_NE(0u, m->Texture2);
    EXPECT_EQ(13340u, ((const ZO3D_MATFILE_HEADER*)(uintptr_t)mats)->FileSize) << "the size it is freed with";
    h->SetMipMapping(false);
    h->SetCullingState(false, false);
    o->DrawAllObject(obj, ZO3D_MODE_TRANSFORM);
    g.Frame();
    // red.bmp (200, 100, 50) times green.bmp (128, 255, 128).
    EXPECT_TRUE(ZQ_Near(0xFF646419, g.Pixel(16, 32), 3)) << std::hex << g.Pixel(16, 32);
    o->FreeMaterials(mats, 1);
    o->DestroyObject(obj);
}

TEST_F(O3dDraw, MaterialRecordsOfEachKind)
{
    const unsigned long obj = Load("grid.3do");
    const ZO3D_MATERIAL* m = (const ZO3D_MATERIAL*)(uintptr_t)Head(obj)->Materials;
    const uint32_t before = h->TextureTable.Count;
    const unsigned long mats = o->LoadMaterials(obj, Fixture("mat\\grid.material").c_str());
    EXPECT_EQ(ZO3D_MAT_TEXTURED, m[0].Type);
    EXPECT_EQ(ZO3D_COLORKEY, m[0].Flags);
    EXPECT_NE(0u, m[0].Texture1);
    EXPECT_EQ(ZO3D_MAT_COLORED, m[1].Type);
    EXPECT_EQ(0xFF00FF00u, m[1].Color[1]);
    EXPECT_EQ(0u, m[1].Texture1);
    EXPECT_NE(m[2].Texture1, m[2].Texture2);
    EXPECT_EQ(before + 2, h->TextureTable.Count) << "red and green are shared by name; the colour-keyed one is not";
    o->FreeMaterials(mats, 1);
    EXPECT_EQ(before, h->TextureTable.Count);

    // A record of another type leaves the material as it was and loads nothing.
    const ZO3D_MATERIAL saved = m[0];
    const unsigned long skipped = o->LoadMaterials(obj, Fixture("mat\\skipped.material").c_str());
    EXPECT_EQ(0, memcmp(&saved, &m[0], sizeof(saved)));
    o->FreeMaterials(skipped, 0);

    // Named without a folder: the textures by their bare names, from the
    // current directory.
    char cwd[MAX_PATH];
    GetCurrentDirectoryA(sizeof(cwd), cwd);
    ASSERT_TRUE(SetCurrentDirectoryA(Fixture("mat").c_str()));
    const unsigned long bare = o->LoadMaterials(obj, "modulate.material");
    SetCurrentDirectoryA(cwd);
    EXPECT_NE(0u, m[0].Texture2);
    o->FreeMaterials(bare, 1);
    o->DestroyObject(obj);
}

TEST_F(O3dDraw, CustomShaderMaterials)
{
    const unsigned long obj = Load("quad2.3do");
    const unsigned long mats = o->LoadMaterials(obj, Fixture("mat\\shader.material").c_str());
    const ZO3D_MATERIAL* m = (const ZO3D_MATERIAL*)(uintptr_t)Head(obj)->Materials;
    const ZO3D_MATFILE_RECORD* r = (const ZO3D_MATFILE_RECORD*)(mats + sizeof(ZO3D_MATFILE_HEADER));
    ASSERT_NE(0u, r->Shader);
    EXPECT_EQ(r->Shader, m->Texture1) << "the shader takes the first texture's place";
    EXPECT_EQ(0u, m->Texture2);
    const ZH3D_SHADER* shader = (const ZH3D_SHADER*)(uintptr_t)r->Shader;
    EXPECT_NE(nullptr, shader->VertexShader);
    EXPECT_EQ(nullptr, shader->PixelShader);
    EXPECT_EQ(r->Handle1, shader->Textures[0]);
    EXPECT_EQ(r->Handle2, shader->Textures[1]);
    EXPECT_EQ(0u, shader->Textures[2]);
    EXPECT_EQ(1u, shader->Constants[4].Set);
    EXPECT_EQ(0.75f, shader->Constants[4].z);
    EXPECT_EQ(0u, shader->Constants[5].Set);
    EXPECT_EQ(9.0f, shader->Material[9].w);
    // Its faces go to the renderer as custom-shader triangles.
    o->DrawAllObject(obj, ZO3D_MODE_TRANSFORM);
    EXPECT_EQ(ZO3D_CUSTOMSHADER, Bucket(ZH3D_TRIS_TEXTURED).Flags);
    EXPECT_EQ(r->Shader, Bucket(ZH3D_TRIS_TEXTURED).Texture1);
    g.Frame();
    const unsigned long handle = r->Shader;
    o->FreeMaterials(mats, 1);
    h->UnloadShader(handle);
    o->DestroyObject(obj);
}
