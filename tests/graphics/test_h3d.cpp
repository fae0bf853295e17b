// Renderer set-up, state setters, camera and frustum, read back from the
// real device.
#include <cmath>
#include <cstring>
#include <d3dx9.h>

#include "gfx_fixture.h"
#include "zh3d_local.h"
#include "zqtest.h"

namespace {

DWORD FloatBits(float f)
{
    DWORD d;
    memcpy(&d, &f, sizeof(d));
    return d;
}

class H3dTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(g.Open()); dev = g.Vgs->Device; }
    void TearDown() override { g.Close(); }

    DWORD Rs(D3DRENDERSTATETYPE s)
    {
        DWORD v = 0xDEADBEEF;
        EXPECT_EQ(D3D_OK, dev->GetRenderState(s, &v));
        return v;
    }
    DWORD Tss(DWORD stage, D3DTEXTURESTAGESTATETYPE s)
    {
        DWORD v = 0xDEADBEEF;
        EXPECT_EQ(D3D_OK, dev->GetTextureStageState(stage, s, &v));
        return v;
    }
    DWORD Samp(DWORD stage, D3DSAMPLERSTATETYPE s)
    {
        DWORD v = 0xDEADBEEF;
        EXPECT_EQ(D3D_OK, dev->GetSamplerState(stage, s, &v));
        return v;
    }
    unsigned long Stages() { return g.Z->Caps->MaxMultitextureStages(); }

    // The states Init leaves, all in one place: checked after Init and
    // again after a device reset.
    void ExpectInitDefaults()
    {
        D3DVIEWPORT9 vp;
        ASSERT_EQ(D3D_OK, dev->GetViewport(&vp));
        EXPECT_EQ(0u, vp.X);
        EXPECT_EQ(0u, vp.Y);
        EXPECT_EQ(g.Vgs->Width, vp.Width);
        EXPECT_EQ(g.Vgs->Height, vp.Height);
        EXPECT_EQ(0.0f, vp.MinZ);
        EXPECT_EQ(1.0f, vp.MaxZ);

        EXPECT_EQ((DWORD)D3DCULL_CW, Rs(D3DRS_CULLMODE));
        EXPECT_EQ(g.Z->Caps->HasWBuffer() ? (DWORD)D3DZB_USEW : (DWORD)D3DZB_TRUE, Rs(D3DRS_ZENABLE));
        EXPECT_EQ((DWORD)D3DCMP_LESSEQUAL, Rs(D3DRS_ZFUNC));
        EXPECT_EQ(0u, Rs(D3DRS_LIGHTING));
        EXPECT_EQ(1u, Rs(D3DRS_SPECULARENABLE));
        EXPECT_EQ((DWORD)D3DBLEND_ONE, Rs(D3DRS_SRCBLEND));
        EXPECT_EQ((DWORD)D3DBLEND_ONE, Rs(D3DRS_DESTBLEND));
        EXPECT_EQ(1u, Rs(D3DRS_ALPHAREF));
        EXPECT_EQ((DWORD)D3DCMP_GREATEREQUAL, Rs(D3DRS_ALPHAFUNC));
        EXPECT_EQ(1u, Rs(D3DRS_POINTSPRITEENABLE));
        EXPECT_EQ(1u, Rs(D3DRS_POINTSCALEENABLE));
        EXPECT_EQ(FloatBits(0.08f), Rs(D3DRS_POINTSIZE));
        EXPECT_EQ(FloatBits(0.0f), Rs(D3DRS_POINTSIZE_MIN));
        EXPECT_EQ(FloatBits(0.0f), Rs(D3DRS_POINTSCALE_A));
        EXPECT_EQ(FloatBits(0.0f), Rs(D3DRS_POINTSCALE_B));
        EXPECT_EQ(FloatBits(1.0f), Rs(D3DRS_POINTSCALE_C));
        EXPECT_EQ((DWORD)D3DTOP_SELECTARG1, Tss(0, D3DTSS_ALPHAOP));
        EXPECT_EQ((DWORD)D3DTA_TEXTURE, Tss(0, D3DTSS_ALPHAARG1));
        for (unsigned long s = 0; s < Stages(); s++) {
            EXPECT_EQ((DWORD)D3DTADDRESS_WRAP, Samp(s, D3DSAMP_ADDRESSU)) << "stage " << s;
            EXPECT_EQ((DWORD)D3DTADDRESS_WRAP, Samp(s, D3DSAMP_ADDRESSV)) << "stage " << s;
        }

        D3DMATERIAL9 m;
        ASSERT_EQ(D3D_OK, dev->GetMaterial(&m));
        EXPECT_EQ(1.0f, m.Diffuse.r);
        EXPECT_EQ(1.0f, m.Ambient.g);
        EXPECT_EQ(1.0f, m.Specular.b);
        EXPECT_EQ(0.0f, m.Emissive.r);
        EXPECT_EQ(1.0f, m.Power);

        // Eye at the origin looking along +z: the view is the identity.
        D3DMATRIX view, proj;
        ASSERT_EQ(D3D_OK, dev->GetTransform(D3DTS_VIEW, &view));
        for (int r = 0; r < 4; r++)
            for (int c = 0; c < 4; c++)
                EXPECT_NEAR(r == c ? 1.0f : 0.0f, view.m[r][c], 1e-6) << r << "," << c;
        ASSERT_EQ(D3D_OK, dev->GetTransform(D3DTS_PROJECTION, &proj));
        float w = 1.0f / tanf(45.0f * 0.017453289f * 0.5f);
        EXPECT_FLOAT_EQ(w, proj._11);
        EXPECT_FLOAT_EQ(w, proj._22);
        EXPECT_FLOAT_EQ(1000.0f / 999.0f, proj._33);
        EXPECT_FLOAT_EQ(1.0f, proj._34);
        EXPECT_FLOAT_EQ(-1000.0f / 999.0f, proj._43);
        EXPECT_EQ(0.0f, proj._44);

        EXPECT_TRUE(g.H3d->ZBufferOn);
        EXPECT_TRUE(g.H3d->WrappingOn);
        EXPECT_TRUE(g.H3d->ClearZEachFrame);
        EXPECT_FALSE(g.H3d->LightEngineOn);
    }

    ZQGfx g;
    IDirect3DDevice9* dev = nullptr;
};

TEST_F(H3dTest, InitCreatesTheEightBuffersAndEmptyTables)
{
    struct Expect { DWORD fvf; UINT bytes; DWORD usage; };
    const DWORD dw = D3DUSAGE_DYNAMIC | D3DUSAGE_WRITEONLY;
    const DWORD sw = dw | D3DUSAGE_SOFTWAREPROCESSING;
    const Expect expect[ZH3D_KINDS] = {
        {0x2D2, 144000, dw}, {0x244, 108000, dw}, {0xD2, 96000, dw}, {0x44, 60000, dw},
        {0x112, 64000, sw}, {0x144, 56000, sw}, {0x52, 56000, sw}, {0x102, 20000, sw},
    };
    for (int k = 0; k < ZH3D_KINDS; k++) {
        ASSERT_NE(nullptr, g.H3d->VertexBuffers[k]) << k;
        D3DVERTEXBUFFER_DESC d;
        ASSERT_EQ(D3D_OK, g.H3d->VertexBuffers[k]->GetDesc(&d));
        EXPECT_EQ(expect[k].fvf, d.FVF) << k;
        EXPECT_EQ(expect[k].bytes, d.Size) << k;
        EXPECT_EQ(expect[k].usage, d.Usage) << k;
        EXPECT_EQ(D3DPOOL_DEFAULT, d.Pool) << k;

        ASSERT_NE(nullptr, g.H3d->Tables[k]);
        const uint8_t* bytes = (const uint8_t*)g.H3d->Tables[k];
        size_t notFF = 0;
        for (size_t i = 0; i < ZH3D_MAX_BUCKETS * sizeof(ZH3D_BUCKET); i++)
            notFF += bytes[i] != 0xFF;
        EXPECT_EQ(0u, notFF) << k;
    }
    ExpectInitDefaults();

    g.H3d->H3D_DeInit();
    for (int k = 0; k < ZH3D_KINDS; k++) {
        EXPECT_EQ(nullptr, g.H3d->Tables[k]);
        EXPECT_EQ(nullptr, g.H3d->VertexBuffers[k]);
    }
    // A second tear-down, and the destructor after it, find nothing to free.
    g.H3d->H3D_DeInit();
}

TEST_F(H3dTest, InitGivesTheTablesBackWhenRunTwice)
{
    void* probe = g.Z->Mem->GetMem(16);
    g.Z->Mem->FreeMem(probe, 16);
    g.H3d->H3D_DeInit();
    void* before = g.Z->Mem->GetMem(16);
    g.Z->Mem->FreeMem(before, 16);
    g.H3d->Init();
    g.H3d->Init();
    g.H3d->H3D_DeInit();
    // Everything the two Inits took is free again: first fit finds the same spot.
    void* after = g.Z->Mem->GetMem(16);
    EXPECT_EQ(before, after);
    g.Z->Mem->FreeMem(after, 16);
    g.H3d->Init();
}

TEST_F(H3dTest, StateSettersReachTheDevice)
{
    CZH3d* h = g.H3d;
    h->SetCullingState(true, false);
    EXPECT_EQ((DWORD)D3DCULL_CCW, Rs(D3DRS_CULLMODE));
    h->SetCullingState(false, true);
    EXPECT_EQ((DWORD)D3DCULL_NONE, Rs(D3DRS_CULLMODE));
    h->SetCullingState(true, true);
    EXPECT_EQ((DWORD)D3DCULL_CW, Rs(D3DRS_CULLMODE));

    h->SetWireFrame(true);
    EXPECT_EQ((DWORD)D3DFILL_WIREFRAME, Rs(D3DRS_FILLMODE));
    h->SetWireFrame(false);
    EXPECT_EQ((DWORD)D3DFILL_SOLID, Rs(D3DRS_FILLMODE));

    h->SetAntialias(true);
    EXPECT_EQ(1u, Rs(D3DRS_DITHERENABLE));
    h->SetAntialias(false);
    EXPECT_EQ(0u, Rs(D3DRS_DITHERENABLE));

    ASSERT_GE(Stages(), 1u);
    h->SetBilinealFiltering(true);
    for (unsigned long s = 0; s < Stages(); s++) {
        EXPECT_EQ((DWORD)D3DTEXF_LINEAR, Samp(s, D3DSAMP_MAGFILTER));
        EXPECT_EQ((DWORD)D3DTEXF_LINEAR, Samp(s, D3DSAMP_MINFILTER));
    }
    h->SetBilinealFiltering(false);
    for (unsigned long s = 0; s < Stages(); s++) {
        EXPECT_EQ((DWORD)D3DTEXF_POINT, Samp(s, D3DSAMP_MAGFILTER));
        EXPECT_EQ((DWORD)D3DTEXF_POINT, Samp(s, D3DSAMP_MINFILTER));
    }

    h->SetMipMapping(true);
    EXPECT_TRUE(h->MipMappingOn);
    for (unsigned long s = 0; s < Stages(); s++)
        EXPECT_EQ((DWORD)D3DTEXF_POINT, Samp(s, D3DSAMP_MIPFILTER));
    h->SetMipMapping(false);
    EXPECT_FALSE(h->MipMappingOn);
    for (unsigned long s = 0; s < Stages(); s++)
        EXPECT_EQ((DWORD)D3DTEXF_NONE, Samp(s, D3DSAMP_MIPFILTER));

    h->SetTextureWrapping(false);
    EXPECT_FALSE(h->WrappingOn);
    for (unsigned long s = 0; s < Stages(); s++) {
        EXPECT_EQ((DWORD)D3DTADDRESS_CLAMP, Samp(s, D3DSAMP_ADDRESSU));
        EXPECT_EQ((DWORD)D3DTADDRESS_CLAMP, Samp(s, D3DSAMP_ADDRESSV));
    }

    h->SetFog(0x00112233, 30.0f, 100.0f);
    EXPECT_EQ(0u, Rs(D3DRS_RANGEFOGENABLE));
    EXPECT_EQ(0x00112233u, Rs(D3DRS_FOGCOLOR));
    EXPECT_EQ((DWORD)D3DFOG_NONE, Rs(D3DRS_FOGTABLEMODE));
    EXPECT_EQ((DWORD)D3DFOG_LINEAR, Rs(D3DRS_FOGVERTEXMODE));
    EXPECT_EQ(FloatBits(30.0f), Rs(D3DRS_FOGSTART));
    EXPECT_EQ(FloatBits(100.0f), Rs(D3DRS_FOGEND));
    h->EnableFog();
    EXPECT_EQ(1u, Rs(D3DRS_FOGENABLE));
    h->DisableFog();
    EXPECT_EQ(0u, Rs(D3DRS_FOGENABLE));

    h->SetPointSizes(1.0f, 2.0f);
    EXPECT_EQ(FloatBits(1.0f), Rs(D3DRS_POINTSIZE));
    EXPECT_EQ(FloatBits(2.0f), Rs(D3DRS_POINTSIZE_MIN));

    h->SetAmbientLight(0xFF204060);
    EXPECT_EQ(0xFF204060u, Rs(D3DRS_AMBIENT));

    h->SetClearZBuffer(false);
    EXPECT_FALSE(h->ClearZEachFrame);
    h->SetAlphaTestValue(77);
    EXPECT_EQ(77, h->AlphaTestRef);
}

TEST_F(H3dTest, ZBufferFollowsTheWBufferBit)
{
    CZCaps* caps = g.Z->Caps;
    DWORD saved = caps->DeviceCaps.Caps2;
    caps->DeviceCaps.Caps2 = saved | 1;
    g.H3d->SetZBufferState(true);
    EXPECT_EQ((DWORD)D3DZB_USEW, Rs(D3DRS_ZENABLE));
    caps->DeviceCaps.Caps2 = saved & ~1u;
    g.H3d->SetZBufferState(true);
    EXPECT_EQ((DWORD)D3DZB_TRUE, Rs(D3DRS_ZENABLE));
    g.H3d->SetZBufferState(false);
    EXPECT_EQ((DWORD)D3DZB_FALSE, Rs(D3DRS_ZENABLE));
    EXPECT_EQ((DWORD)D3DCMP_LESSEQUAL, Rs(D3DRS_ZFUNC));
    EXPECT_FALSE(g.H3d->ZBufferOn);
    caps->DeviceCaps.Caps2 = saved;
}

TEST_F(H3dTest, AlphaTypeTwoIsAdditiveEveryOtherIsTransparency)
{
    EXPECT_EQ((uint32_t)D3DBLEND_SRCALPHA, g.H3d->SourceBlend);
    EXPECT_EQ((uint32_t)D3DBLEND_INVSRCALPHA, g.H3d->DestBlend);
    for (unsigned long type : {0ul, 1ul, 3ul, 0xFFFFFFFFul, 2ul}) {
        g.H3d->SetAlphaType(type);
        EXPECT_EQ((uint32_t)D3DBLEND_SRCALPHA, g.H3d->SourceBlend) << type;
        EXPECT_EQ(type == 2 ? (uint32_t)D3DBLEND_ONE : (uint32_t)D3DBLEND_INVSRCALPHA, g.H3d->DestBlend) << type;
    }
}

TEST_F(H3dTest, LightSwitch)
{
    g.H3d->SetLightEngine(true, 1);
    EXPECT_EQ((DWORD)D3DSHADE_FLAT, Rs(D3DRS_SHADEMODE));
    EXPECT_EQ(1u, Rs(D3DRS_LIGHTING));
    EXPECT_EQ(1u, Rs(D3DRS_LOCALVIEWER));
    EXPECT_EQ(1u, Rs(D3DRS_SPECULARENABLE));
    // An unknown shading mode switches lighting on and leaves the mode.
    g.H3d->SetLightEngine(true, 4);
    EXPECT_EQ((DWORD)D3DSHADE_FLAT, Rs(D3DRS_SHADEMODE));
    g.H3d->SetLightEngine(true, 2);
    EXPECT_EQ((DWORD)D3DSHADE_GOURAUD, Rs(D3DRS_SHADEMODE));
    g.H3d->SetLightEngine(false, 1);
    EXPECT_EQ(0u, Rs(D3DRS_LIGHTING));
    EXPECT_EQ(1u, Rs(D3DRS_SPECULARENABLE));
    EXPECT_EQ((DWORD)D3DSHADE_GOURAUD, Rs(D3DRS_SHADEMODE));
    EXPECT_FALSE(g.H3d->LightEngineOn);
}

bool Inside(const Plane& p, float x, float y, float z) { return p.a * x + p.b * y + p.c * z + p.d >= 0; }

TEST_F(H3dTest, FrustumFollowsCameraAndProjection)
{
    const Plane* f = g.H3d->Frustum;
    EXPECT_NEAR(0, f[4].a, 1e-5); EXPECT_NEAR(0, f[4].b, 1e-5);
    EXPECT_NEAR(1, f[4].c, 1e-5); EXPECT_NEAR(-1, f[4].d, 1e-4);
    EXPECT_NEAR(0, f[5].a, 1e-5); EXPECT_NEAR(0, f[5].b, 1e-5);
    EXPECT_NEAR(-1, f[5].c, 1e-5); EXPECT_NEAR(1000, f[5].d, 1e-2);
    EXPECT_FALSE(Inside(f[4], 0, 0, 0.5f));
    EXPECT_TRUE(Inside(f[4], 0, 0, 500) && Inside(f[5], 0, 0, 500));
    EXPECT_FALSE(Inside(f[5], 0, 0, 1001));
    // Every plane points inwards: a point on the axis ahead is inside all six.
    for (int i = 0; i < 6; i++) {
        EXPECT_TRUE(Inside(f[i], 0, 0, 10)) << i;
        EXPECT_NEAR(1.0f, sqrtf(f[i].a * f[i].a + f[i].b * f[i].b + f[i].c * f[i].c), 1e-5) << i;
    }
    EXPECT_FALSE(Inside(f[0], -100, 0, 10));   // far to the left
    EXPECT_FALSE(Inside(f[1], 100, 0, 10));
    EXPECT_FALSE(Inside(f[2], 0, 100, 10));    // above
    EXPECT_FALSE(Inside(f[3], 0, -100, 10));

    // Only the projection changes: the planes move with it.
    g.H3d->SetProyectionParams(1.0f, 1000.0f, 90.0f, 90.0f);
    const float r = 1.0f / sqrtf(2.0f);
    EXPECT_NEAR(r, f[0].a, 1e-5); EXPECT_NEAR(0, f[0].b, 1e-5);
    EXPECT_NEAR(r, f[0].c, 1e-5); EXPECT_NEAR(0, f[0].d, 1e-5);

    // A null up vector is (0, 1, 0).
    Vector3 eye = {1, 2, 3}, target = {4, 1, 9}, up = {0, 1, 0};
    g.H3d->SetCameraPosition(&eye, &target, &up);
    D3DMATRIX explicitUp;
    dev->GetTransform(D3DTS_VIEW, &explicitUp);
    Plane explicitPlanes[6];
    memcpy(explicitPlanes, f, sizeof(explicitPlanes));
    g.H3d->SetCameraPosition(&eye, &target, nullptr);
    D3DMATRIX nullUp;
    dev->GetTransform(D3DTS_VIEW, &nullUp);
    EXPECT_EQ(0, memcmp(&explicitUp, &nullUp, sizeof(nullUp)));
    EXPECT_EQ(0, memcmp(explicitPlanes, f, sizeof(explicitPlanes)));
    EXPECT_EQ(1.0f, g.H3d->CameraPosition.x);
    EXPECT_EQ(3.0f, g.H3d->CameraPosition.z);
    // The eye is just behind the near plane, the target inside.
    EXPECT_FALSE(Inside(f[4], 1, 2, 3));
    EXPECT_TRUE(Inside(f[4], 4, 1, 9));
}

TEST_F(H3dTest, ShaderConstantSlots)
{
    ZH3D_SHADER* s = (ZH3D_SHADER*)calloc(1, sizeof(ZH3D_SHADER));
    unsigned long handle = (unsigned long)(uintptr_t)s;
    float v[4] = {1, 2, 3, 4};
    g.H3d->SetVSConstant(handle, 7, v);
    EXPECT_EQ(0u, s->Constants[7].Kind);
    EXPECT_NE(0u, s->Constants[7].Set);
    EXPECT_EQ(3.0f, s->Constants[7].z);

    g.H3d->SetVSClipMatrix(handle, 10);
    D3DXMATRIX view, proj, clip;
    dev->GetTransform(D3DTS_VIEW, &view);
    dev->GetTransform(D3DTS_PROJECTION, &proj);
    D3DXMatrixMultiply(&clip, &view, &proj);
    for (int i = 0; i < 4; i++) {
        EXPECT_EQ(1u, s->Constants[10 + i].Kind);
        EXPECT_NE(0u, s->Constants[10 + i].Set);
        EXPECT_EQ(clip.m[0][i], s->Constants[10 + i].x);   // row i holds column i
        EXPECT_EQ(clip.m[3][i], s->Constants[10 + i].w);
    }
    g.H3d->SetVSWorldViewMatrix(handle, 20);
    for (int i = 0; i < 4; i++) {
        EXPECT_EQ(2u, s->Constants[20 + i].Kind);
        EXPECT_EQ(view.m[1][i], s->Constants[20 + i].y);
    }
    // Past the last register nothing is written (252 + 4 > 255), and a
    // handle of 0 is ignored.
    g.H3d->SetVSClipMatrix(handle, 252);
    EXPECT_EQ(0u, s->Constants[252].Set);
    g.H3d->SetVSConstant(handle, 255, v);
    EXPECT_EQ(0u, s->Material[0].Set);
    g.H3d->SetVSConstant(0, 1, v);
    free(s);
}

TEST_F(H3dTest, ResetBringsTheInitDefaultsBack)
{
    CZH3d* h = g.H3d;
    h->SetCullingState(false, false);
    h->SetZBufferState(false);
    h->SetTextureWrapping(false);
    h->SetLightEngine(true, 3);
    h->SetFog(0xFF0000FF, 1, 2);
    h->EnableFog();
    Vector3 eye = {5, 5, 5}, target = {0, 0, 0};
    h->SetCameraPosition(&eye, &target, nullptr);

    // What RenderScene does on D3DERR_DEVICENOTRESET.
    h->H3D_DeInit();
    D3DPRESENT_PARAMETERS pp = g.Vgs->PresentParams;
    ASSERT_EQ(D3D_OK, dev->Reset(&pp));
    h->Init();
    ExpectInitDefaults();
    EXPECT_EQ(0u, Rs(D3DRS_FOGENABLE));
    EXPECT_EQ(0.0f, h->CameraPosition.x);
}

TEST(H3dEngine, StillAliveIsOneOnAHealthyDevice)
{
    ZQGfx g;
    ASSERT_TRUE(g.Open());
    g.Frame();
    EXPECT_EQ(1u, g.Z->StillAlive());
    EXPECT_EQ(0, g.Vgs->DeviceLost);
    EXPECT_EQ(1u, g.H3d->FramesDrawn);
    g.Close();
}

}  // namespace

namespace {

// A screen-space triangle of one colour over (x0, y0) - (x0, y1) - (x1, y0):
// counter-clockwise on screen, so Init's clockwise culling keeps it.
POLYSTRUCT ScreenTriangle(float x0, float y0, float x1, float y1, float z, uint32_t colour)
{
    POLYSTRUCT p = {};
    const float xs[3] = {x0, x0, x1}, ys[3] = {y0, y1, y0};
    for (int v = 0; v < 3; v++) {
        p.Vertex[v].x = xs[v];
        p.Vertex[v].y = ys[v];
        p.Vertex[v].z = z;
        p.Vertex[v].Diffuse = colour;
    }
    p.Kind = ZPRIM_COLORED_2D;
    p.Rhw = 1.0f;
    return p;
}

TEST(H3dFrame, ClearColourAndAScreenTriangleWhereExpected)
{
    ZQGfx g;
    ASSERT_TRUE(g.Open(64, 64));
    g.Vgs->ClearColor = 0xFF204080;
    POLYSTRUCT p = ScreenTriangle(0, 0, 64, 64, 0.5f, 0xFFFF0000);
    g.H3d->DrawPoly(&p);
    g.Frame();
    EXPECT_TRUE(ZQ_Near(0xFFFF0000, g.Pixel(5, 5)));        // inside, near the right angle
    EXPECT_TRUE(ZQ_Near(0xFFFF0000, g.Pixel(40, 10)));
    EXPECT_TRUE(ZQ_Near(0xFF204080, g.Pixel(60, 60)));      // beyond the hypotenuse
    EXPECT_TRUE(ZQ_Near(0xFF204080, g.Pixel(40, 40)));
    EXPECT_EQ(1u, g.H3d->FrameDrawCalls);
    // The batch is gone after the frame: the next one shows only the clear colour.
    g.Frame();
    EXPECT_TRUE(ZQ_Near(0xFF204080, g.Pixel(5, 5)));
    EXPECT_EQ(0u, g.H3d->FrameDrawCalls);
    g.Close();
}

TEST(H3dFrame, DepthStaysFromFrameToFrameOnlyWhenNotCleared)
{
    ZQGfx g;
    ASSERT_TRUE(g.Open(64, 64));
    g.Vgs->ClearColor = 0xFF000000;
    for (int clearEachFrame = 1; clearEachFrame >= 0; clearEachFrame--) {
        g.H3d->SetClearZBuffer(clearEachFrame != 0);
        g.H3d->ClearZBuffer();
        POLYSTRUCT nearTri = ScreenTriangle(0, 0, 64, 64, 0.2f, 0xFFFF0000);
        g.H3d->DrawPoly(&nearTri);
        g.Frame();
        POLYSTRUCT farTri = ScreenTriangle(0, 0, 64, 64, 0.6f, 0xFF00FF00);
        g.H3d->DrawPoly(&farTri);
        g.Frame();
        uint32_t expect = clearEachFrame ? 0xFF00FF00 : 0xFF000000;   // hidden by last frame's depth
        EXPECT_TRUE(ZQ_Near(expect, g.Pixel(5, 5))) << "clear z each frame " << clearEachFrame << ": "
                                                    << std::hex << g.Pixel(5, 5);
    }
    // An explicit clear lets the far triangle through again.
    g.H3d->ClearZBuffer();
    POLYSTRUCT farTri = ScreenTriangle(0, 0, 64, 64, 0.6f, 0xFF00FF00);
    g.H3d->DrawPoly(&farTri);
    g.Frame();
    EXPECT_TRUE(ZQ_Near(0xFF00FF00, g.Pixel(5, 5)));
    g.Close();
}

}  // namespace
