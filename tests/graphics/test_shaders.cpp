// Lights and custom shaders on the real device: lit and shaded pixels read
// back, the shader records' life, and the assembler's error box.
#include <cstdio>
#include <cstring>
#include <string>

#include "gfx_fixture.h"
#include "vgs_report.h"
#include "zh3d_local.h"
#include "zmem.h"
#include "zqtest.h"

namespace {

const char* const VS_CLIP = "vs_1_1\ndcl_position v0\nm4x4 oPos, v0, c0\nmov oD0, c4\n";
const char* const PS_COLOUR = "ps_1_1\nmov r0, v0\n";
const char* const PS_RED = "ps_1_1\ndef c0, 1, 0, 0, 1\nmov r0, c0\n";
const char* const BAD = "vs_1_1\nbogus r0, v9\n";

void WriteFile(const char* name, const char* text)
{
    FILE* f = fopen(name, "wb");
    ASSERT_NE(nullptr, f) << name;
    fputs(text, f);
    fclose(f);
}

class Shaders : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(g.Open());
        h = g.H3d;
        h->SetCullingState(false, false);
    }
    void TearDown() override { g.Close(); }

    // A grid of world-space triangles facing the default camera at z = 5,
    // covering the view; small enough for per-vertex lighting to vary.
    void Grid(uint32_t kind, uint32_t texture1, uint32_t flags, uint32_t diffuse = 0xFFFFFFFF)
    {
        const int n = 16;
        const float size = 2.2f, step = 2 * size / n;
        for (int j = 0; j < n; j++)
            for (int i = 0; i < n; i++) {
                const float x0 = -size + i * step, y0 = -size + j * step;
                const float corner[2][3][2] = {{{x0, y0}, {x0 + step, y0}, {x0, y0 + step}},
                                               {{x0 + step, y0}, {x0 + step, y0 + step}, {x0, y0 + step}}};
                for (const auto& tri : corner) {
                    POLYSTRUCT p = {};
                    for (int v = 0; v < 3; v++) {
                        p.Vertex[v].x = tri[v][0];
                        p.Vertex[v].y = tri[v][1];
                        p.Vertex[v].z = 5;
                        p.Vertex[v].nz = -1;
                        p.Vertex[v].Diffuse = diffuse;
                    }
                    p.Texture1 = texture1;
                    p.Kind = kind;
                    p.Flags = flags;
                    h->DrawPoly(&p);
                }
            }
    }
    uint32_t Centre() { return g.Pixel(32, 32) & 0xFFFFFF; }
    static int Brightness(uint32_t c) { return (int)((c >> 16) & 0xFF) + (int)((c >> 8) & 0xFF) + (int)(c & 0xFF); }

    ZQGfx g;
    CZH3d* h = nullptr;
};

TEST_F(Shaders, APointLightLightsWhatIsNearItMore)
{
    h->SetLightEngine(true, 2);
    h->SetAmbientLight(0);
    // Half a unit in front of the grid's left side.
    LIGHTPOINTSTRUCT light = {};
    light.x = -1.5f;
    light.z = 4.5f;
    light.Range = 100;
    light.Attenuation = 1;
    light.DiffuseR = light.DiffuseG = light.DiffuseB = 1;
    h->SetPointLight(0, &light);
    BOOL enabled = FALSE;
    g.Vgs->Device->GetLightEnable(0, &enabled);
    EXPECT_TRUE(enabled);
    D3DLIGHT9 l;
    g.Vgs->Device->GetLight(0, &l);
    EXPECT_EQ(D3DLIGHT_POINT, l.Type);
    EXPECT_EQ(1.0f, l.Diffuse.a);
    EXPECT_EQ(0.0f, l.Ambient.r);
    EXPECT_EQ(0.0f, l.Attenuation1);

    Grid(ZPRIM_COLORED, 0, 0);
    g.Frame();
    const int nearLight = Brightness(g.Pixel(9, 32)), awayFromIt = Brightness(g.Pixel(55, 32));
    EXPECT_GT(nearLight, 600);
    EXPECT_LT(awayFromIt, nearLight / 2);

    h->DisableLight(0);
    g.Vgs->Device->GetLightEnable(0, &enabled);
    EXPECT_FALSE(enabled);
    Grid(ZPRIM_COLORED, 0, 0);
    g.Frame();
    EXPECT_EQ(0, Brightness(g.Pixel(9, 32)));
}

TEST_F(Shaders, AnUnknownShadingModeLeavesTheModeAndSwitchesLightingOn)
{
    DWORD v = 0;
    h->SetLightEngine(true, 1);
    g.Vgs->Device->GetRenderState(D3DRS_SHADEMODE, &v);
    EXPECT_EQ((DWORD)D3DSHADE_FLAT, v);
    h->SetLightEngine(false, 2);
    h->SetLightEngine(true, 4);
    g.Vgs->Device->GetRenderState(D3DRS_SHADEMODE, &v);
    EXPECT_EQ((DWORD)D3DSHADE_FLAT, v);
    g.Vgs->Device->GetRenderState(D3DRS_LIGHTING, &v);
    EXPECT_EQ(1u, v);
    EXPECT_EQ(1, h->LightEngineOn);
}

TEST_F(Shaders, AShaderPairDrawsAndItsClipMatrixFollowsTheCamera)
{
    WriteFile("zq_clip.vsh", VS_CLIP);
    WriteFile("zq_colour.psh", PS_COLOUR);
    const unsigned long s = h->LoadShader("zq_clip.vsh", "zq_colour.psh");
    ASSERT_NE(0u, s);
    ZH3D_SHADER* rec = (ZH3D_SHADER*)(uintptr_t)s;
    ASSERT_NE(nullptr, rec->VertexShader);
    ASSERT_NE(nullptr, rec->PixelShader);
    h->SetVSClipMatrix(s, 0);
    float green[4] = {0, 1, 0, 1};
    h->SetVSConstant(s, 4, green);

    Grid(ZPRIM_TEXTURED, (uint32_t)s, ZRF_CUSTOMSHADER);
    g.Frame();
    EXPECT_EQ(0x00FF00u, Centre());

    // Turned round after SetVSClipMatrix: the matrix is taken again at draw
    // time, so the grid is behind the camera and nothing is drawn.
    Vector3 eye = {0, 0, 0}, back = {0, 0, -1}, ahead = {0, 0, 1};
    h->SetCameraPosition(&eye, &back, nullptr);
    Grid(ZPRIM_TEXTURED, (uint32_t)s, ZRF_CUSTOMSHADER);
    g.Frame();
    EXPECT_EQ(0u, Centre());
    h->SetCameraPosition(&eye, &ahead, nullptr);

    // A failed replacement keeps the old shader, which still draws.
    IDirect3DVertexShader9* before = rec->VertexShader;
    EXPECT_FALSE(h->ReplaceVertexShaderFromMemory(s, BAD));
    EXPECT_FALSE(h->ReplaceVertexShaderFromFile(s, "zq_no_such_file.vsh"));
    EXPECT_EQ(before, rec->VertexShader);
    Grid(ZPRIM_TEXTURED, (uint32_t)s, ZRF_CUSTOMSHADER);
    g.Frame();
    EXPECT_EQ(0x00FF00u, Centre());

    EXPECT_TRUE(h->ReplacePixelShaderFromMemory(s, PS_RED));
    Grid(ZPRIM_TEXTURED, (uint32_t)s, ZRF_CUSTOMSHADER);
    g.Frame();
    EXPECT_EQ(0xFF0000u, Centre());
    h->UnloadShader(s);
    h->UnloadShader(0);
}

TEST_F(Shaders, APixelShaderAloneRunsOverFixedFunctionVertices)
{
    WriteFile("zq_colour.psh", PS_COLOUR);
    const unsigned long s = h->LoadShader(nullptr, "zq_colour.psh");
    ASSERT_NE(0u, s);
    EXPECT_EQ(nullptr, ((ZH3D_SHADER*)(uintptr_t)s)->VertexShader);
    Grid(ZPRIM_TEXTURED, (uint32_t)s, ZRF_CUSTOMSHADER, 0xFF0000FF);
    g.Frame();
    EXPECT_EQ(0x0000FFu, Centre());
    DWORD fvf = 0;
    g.Vgs->Device->GetFVF(&fvf);
    EXPECT_EQ((DWORD)ZH3D_FVF_TRIS_TEXTURED, fvf);
    h->UnloadShader(s);
}

TEST_F(Shaders, AFailedLoadHandsOutNothingAndAShaderOfZeroIsNeverDrawn)
{
    WriteFile("zq_bad.vsh", BAD);
    WriteFile("zq_colour.psh", PS_COLOUR);
    // First fit: a record given back is where the next one of its size goes.
    CZMem* mem = g.Z->Mem;
    void* spot = mem->GetMem(sizeof(ZH3D_SHADER));
    mem->FreeMem(spot, sizeof(ZH3D_SHADER));
    EXPECT_EQ(0u, h->LoadShader("zq_bad.vsh", "zq_colour.psh"));
    EXPECT_EQ(0u, h->LoadShader("zq_colour.psh", nullptr));   // a pixel shader is no vertex shader
    void* again = mem->GetMem(sizeof(ZH3D_SHADER));
    EXPECT_EQ(spot, again);
    mem->FreeMem(again, sizeof(ZH3D_SHADER));

    const uint32_t ignored = h->PrimitivesIgnored;
    Grid(ZPRIM_TEXTURED, 0, ZRF_CUSTOMSHADER);
    g.Frame();
    EXPECT_EQ(ignored + 512, h->PrimitivesIgnored);
    EXPECT_EQ(0u, h->FramePrimitives);
}

TEST_F(Shaders, CompileShaderCopiesTheErrorsOnlyWhenTheyFit)
{
    char small[4] = {'x', 'x', 'x', 'x'};
    EXPECT_FALSE(h->CompileShader(BAD, small, sizeof(small)));
    EXPECT_EQ(0, memcmp(small, "xxxx", 4));
    char big[4096];
    memset(big, 'x', sizeof(big));
    EXPECT_FALSE(h->CompileShader(BAD, big, sizeof(big)));
    EXPECT_NE('x', big[0]);
    EXPECT_NE(nullptr, memchr(big, 0, sizeof(big)));
    EXPECT_TRUE(h->CompileShader(VS_CLIP, small, sizeof(small)));
    EXPECT_FALSE(h->CompileShader(nullptr, big, sizeof(big)));
}

ZQ_CHILD(shader_check)
{
    ZQReport r("shader_check");
    ZQGfx g;
    if (!g.Open())
        return;
    FILE* f = fopen("zq_check_bad.vsh", "wb");
    fputs(BAD, f);
    fclose(f);
    f = fopen("zq_check_good.vsh", "wb");
    fputs(VS_CLIP, f);
    fclose(f);
    r.Put("good", g.H3d->CheckShader("zq_check_good.vsh"));
    r.Put("bad", g.H3d->CheckShader("zq_check_bad.vsh"));
    // The program goes on after the box.
    r.Put("after", 1);
    g.Close();
}

TEST(ShaderBox, CheckShaderShowsTheAssemblersErrorsAndGoesOn)
{
    std::map<std::string, long> r;
    ZQChild c = ZQ_RunReportingChild("shader_check", r);
    ASSERT_FALSE(c.TimedOut);
    EXPECT_EQ(0u, c.ExitCode);
    EXPECT_EQ(1, r["good"]);
    EXPECT_EQ(0, r["bad"]);
    EXPECT_EQ(1, r["after"]);
    ASSERT_EQ(1u, c.Boxes.size());
    EXPECT_EQ("Zarquel found errors - Shader compiler errors", c.Boxes[0].Caption);
    EXPECT_FALSE(c.Boxes[0].Text.empty());
    EXPECT_FALSE(c.Boxes[0].Topmost);
    printf("assembler's text: %s\n", c.Boxes[0].Text.c_str());
}

} // namespace
