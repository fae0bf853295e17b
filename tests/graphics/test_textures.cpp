// Texture manager: images made by ImageMagick (see CMakeLists.txt) loaded
// through the engine, drawn on the real device and read back.
#include <cstring>
#include <d3dx9.h>
#include <string>
#include <vector>

#include "gfx_fixture.h"
#include "vgs_report.h"
#include "zh3d_local.h"
#include "zmem.h"
#include "zqtest.h"
#include "zxfs.h"

namespace {

const uint32_t RED = 0xFF0000, GREEN = 0x00FF00, BLUE = 0x0000FF, WHITE = 0xFFFFFF;
// Quadrant centres of the 64x64 fixtures: red, green / blue, white.
const int QX[4] = {16, 48, 16, 48}, QY[4] = {16, 16, 48, 48};
const uint32_t QUAD[4] = {RED, GREEN, BLUE, WHITE};
// JPEG quality 95 keeps flat areas within a few steps.
const int JPEG_TOLERANCE = 12;

POLYSTRUCT ScreenTri(uint32_t texture, uint32_t flags = 0, uint32_t kind = ZPRIM_TEXTURED_2D,
                     uint32_t diffuse = 0xFFFFFFFF)
{
    return ZQ_ScreenTri(kind, texture, flags, diffuse);
}

// Texel (x, y) of level 0: T is uint32_t for 32-bit formats, uint16_t for V8U8.
template <typename T>
T TexelOf(unsigned long texture, int x, int y)
{
    IDirect3DTexture9* t = (IDirect3DTexture9*)(uintptr_t)texture;
    D3DLOCKED_RECT lr;
    if (FAILED(t->LockRect(0, &lr, NULL, D3DLOCK_READONLY)))
        return (T)0xDEADBEEF;
    T v = ((const T*)((const uint8_t*)lr.pBits + y * lr.Pitch))[x];
    t->UnlockRect(0);
    return v;
}
uint32_t Texel(unsigned long texture, int x, int y) { return TexelOf<uint32_t>(texture, x, y); }
uint16_t BumpTexel(unsigned long texture, int x, int y) { return TexelOf<uint16_t>(texture, x, y); }

D3DFORMAT Format(unsigned long texture)
{
    D3DSURFACE_DESC d = {};
    ((IDirect3DTexture9*)(uintptr_t)texture)->GetLevelDesc(0, &d);
    return d.Format;
}

// One more reference on the texture, then the engine's last one: true when
// the engine has let go of it (ours was the last).
bool ReleasedByEngine(IDirect3DTexture9* t) { return t->Release() == 0; }

class Textures : public ::testing::Test {
protected:
    void SetUp() override
    {
        char cwd[MAX_PATH];
        GetCurrentDirectoryA(MAX_PATH, cwd);
        savedCwd = cwd;
        // Loads without a master file come from the current directory.
        ASSERT_TRUE(SetCurrentDirectoryA(ZQ_GFX_FIXTURES)) << ZQ_GFX_FIXTURES << ": build the host tree first";
        ASSERT_TRUE(g.Open());
        h = g.H3d;
        h->SetCullingState(false, false);
    }
    void TearDown() override
    {
        g.Close();
        SetCurrentDirectoryA(savedCwd.c_str());
    }
    unsigned long Load(const char* name) { return h->LoadTextureFromFile((char*)name); }
    void Draw(unsigned long texture, uint32_t flags = 0)
    {
        POLYSTRUCT p = ScreenTri((uint32_t)texture, flags);
        h->DrawPoly(&p);
        g.Frame();
    }
    void ExpectQuadrants(const char* what, int tolerance)
    {
        for (int q = 0; q < 4; q++)
            EXPECT_TRUE(ZQ_Near(QUAD[q], g.Pixel(QX[q], QY[q]), tolerance))
                << what << " quadrant " << q << ": " << std::hex << g.Pixel(QX[q], QY[q]);
    }
    ZQGfx g;
    CZH3d* h = nullptr;
    std::string savedCwd;
};

TEST_F(Textures, EveryEncodersImageDrawsItsPicture)
{
    for (bool mip : {false, true}) {
        h->SetMipMapping(mip);
        for (const char* name : {"quad.jpg", "quad.png", "quad.bmp"}) {
            const unsigned long t = Load(name);
            ASSERT_NE(0u, t) << name;
            Draw(t);
            ExpectQuadrants(name, strstr(name, ".jpg") ? JPEG_TOLERANCE : 0);
            // Every texture is managed: lockable, and kept over a reset.
            D3DSURFACE_DESC d;
            ((IDirect3DTexture9*)(uintptr_t)t)->GetLevelDesc(0, &d);
            EXPECT_EQ(D3DPOOL_MANAGED, d.Pool) << name;
            h->UnloadTexture(t);
        }
    }
    EXPECT_EQ(6u, h->TexturesDecoded);
    EXPECT_EQ(0u, h->TextureTable.Count);
}

TEST_F(Textures, ANameIsSharedAcrossLetterCaseAndCountsItsLoads)
{
    const unsigned long a = Load("quad.jpg");
    EXPECT_EQ(a, Load("QUAD.JPG"));
    EXPECT_EQ(1u, h->TexturesDecoded);
    EXPECT_EQ(1u, h->TexturesShared);
    ASSERT_EQ(1u, h->TextureTable.Count);
    EXPECT_EQ(2, h->TextureTable.Records[0].References);
    EXPECT_STREQ("quad.jpg", h->TextureTable.Records[0].Name);

    IDirect3DTexture9* t = (IDirect3DTexture9*)(uintptr_t)a;
    t->AddRef();
    h->UnloadTexture(a);
    EXPECT_EQ(1u, h->TextureTable.Count);
    h->UnloadTexture(a);
    EXPECT_EQ(0u, h->TextureTable.Count);
    EXPECT_TRUE(ReleasedByEngine(t));
}

TEST_F(Textures, TheSameNameFromTheMasterFileAndTheDirectoryIsTwoTextures)
{
    const unsigned long disk = Load("quad.jpg");
    g.Z->Xfs->OpenMasterFile("gfx.tmf");
    const unsigned long packed = Load("quad.jpg");
    EXPECT_NE(disk, packed);
    EXPECT_EQ(packed, Load("Quad.jpg"));
    g.Z->Xfs->CloseMasterFile();
    EXPECT_EQ(disk, Load("quad.jpg"));
    ASSERT_EQ(2u, h->TextureTable.Count);
    EXPECT_STREQ("", h->TextureTable.Records[0].MasterFile);
    EXPECT_STRNE("", h->TextureTable.Records[0].Directory);
    EXPECT_STREQ("gfx.tmf", h->TextureTable.Records[1].MasterFile);
    EXPECT_STREQ("", h->TextureTable.Records[1].Directory);
    // The container holds the lossless copy.
    Draw(packed);
    ExpectQuadrants("packed", 0);
}

TEST_F(Textures, ColourKeyTexelsAreDroppedByTheAlphaTest)
{
    // The key is the black texel as the decoder wrote it.
    const unsigned long plain = Load("key.bmp");
    const uint32_t key = Texel(plain, 0, 0);
    h->UnloadTexture(plain);
    const unsigned long keyed = h->LoadColorKeyTexture((char*)"key.bmp", key);
    EXPECT_EQ(D3DFMT_A8R8G8B8, Format(keyed));
    EXPECT_EQ(key, Texel(keyed, 5, 5));
    EXPECT_EQ(0u, h->TextureTable.Count);   // neither the source nor the keyed copy stays

    g.Vgs->ClearColor = 0xFF808080;
    Draw(keyed, ZRF_ALPHATEST);
    EXPECT_TRUE(ZQ_Near(0x808080, g.Pixel(16, 16), 0)) << std::hex << g.Pixel(16, 16);
    for (int q = 1; q < 4; q++)
        EXPECT_TRUE(ZQ_Near(QUAD[q], g.Pixel(QX[q], QY[q]), 0)) << q;
    IDirect3DTexture9* t = (IDirect3DTexture9*)(uintptr_t)keyed;
    t->AddRef();
    h->UnloadTexture(keyed);     // not in the table: released at once
    EXPECT_TRUE(ReleasedByEngine(t));
}

TEST_F(Textures, AnAlphaTextureTakesItsNameAndAMapLandsRowByRow)
{
    const unsigned long a = h->LoadAlphaTexture((char*)"quad.png", 128);
    EXPECT_EQ(a, Load("quad.png"));
    ASSERT_EQ(1u, h->TextureTable.Count);   // the source went, the alpha copy stayed
    EXPECT_EQ(2, h->TextureTable.Records[0].References);
    EXPECT_EQ(D3DFMT_A8R8G8B8, Format(a));
    for (int q = 0; q < 4; q++) {
        const uint32_t t = Texel(a, QX[q], QY[q]);
        EXPECT_TRUE(ZQ_Near(QUAD[q], t, 0)) << q;
        EXPECT_EQ(0x80u, (t >> 24) & 0x80u) << q;
    }

    h->SetAlphaLevelTexture(a, 77);
    EXPECT_EQ(77u, Texel(a, 63, 63) >> 24);
    std::vector<unsigned char> map(64 * 64);
    for (int y = 0; y < 64; y++)
        for (int x = 0; x < 64; x++)
            map[y * 64 + x] = (unsigned char)(y * 4 + (x & 3));
    h->SetAlphaMapTexture(a, map.data());
    for (int y : {0, 1, 31, 63})
        for (int x : {0, 2, 33}) {
            const uint32_t t = Texel(a, x, y);
            EXPECT_EQ((uint32_t)(y * 4 + (x & 3)), t >> 24) << x << "," << y;
            EXPECT_TRUE(ZQ_Near(QUAD[(x >= 32) + 2 * (y >= 32)], t, 0)) << x << "," << y;
        }
}

TEST_F(Textures, TheTgaAlphaChannelIsKept)
{
    const unsigned long t = h->LoadAlphaTextureTGA((char*)"quad.tga");
    const uint32_t alphas[4] = {0, 127, 255, 64};
    for (int q = 0; q < 4; q++)
        EXPECT_EQ(alphas[q], Texel(t, QX[q], QY[q]) >> 24) << q;
    EXPECT_EQ(t, Load("quad.tga"));
}

TEST_F(Textures, RawTexturesHonourThePitchAndAlphaEditsLeaveThemAlone)
{
    std::vector<uint16_t> pixels(256 * 256);
    for (int y = 0; y < 256; y++)
        for (int x = 0; x < 256; x++)
            pixels[y * 256 + x] = (uint16_t)(y * 251 + x);
    const unsigned long t = h->LoadTexture(pixels.data());
    ASSERT_NE(0u, t);
    EXPECT_EQ(D3DFMT_R5G6B5, Format(t));
    TextureLock lock;
    h->LockTextureToWrite(t, &lock);
    ASSERT_NE(0u, lock.Bits);
    for (int y = 0; y < 256; y += 17)
        EXPECT_EQ(0, memcmp((const uint8_t*)(uintptr_t)lock.Bits + y * lock.Pitch, &pixels[y * 256], 512)) << y;
    h->UnlockTextureToWrite(t);
    // A 16-bit texture has no alpha byte: nothing is written past its rows.
    h->SetAlphaLevelTexture(t, 0x12);
    h->LockTextureToWrite(t, &lock);
    EXPECT_EQ(pixels[5 * 256 + 3], ((const uint16_t*)((const uint8_t*)(uintptr_t)lock.Bits + 5 * lock.Pitch))[3]);
    h->UnlockTextureToWrite(t);
    h->UnloadTexture(t);
    EXPECT_EQ(0u, h->LoadTexture(nullptr));
}

TEST_F(Textures, BumpMapsFromAnImageAndFromHeights)
{
    // du from blue, dv from green.
    const unsigned long b = h->LoadBumpMap((char*)"bump.bmp");
    EXPECT_EQ(D3DFMT_V8U8, Format(b));
    EXPECT_EQ(0x141Eu, BumpTexel(b, 0, 0));
    EXPECT_EQ(0x0203u, BumpTexel(b, 2, 1));
    EXPECT_EQ(b, h->LoadBumpMap((char*)"BUMP.bmp"));

    // Heights 255 at (1,1), 100 at (0,2), 200 at (2,2); texel = dv << 8 | du.
    const unsigned long heights = Load("height.bmp");
    const unsigned long g2 = h->GenerateBumpMap(heights);
    ASSERT_NE(0u, g2);
    EXPECT_EQ(D3DFMT_V8U8, Format(g2));
    struct { int x, y; uint16_t texel; } const expect[] = {
        {0, 0, 0x0000},     // first texel: its missing left neighbour is itself
        {3, 3, 0x0000},     // last texel: its missing right neighbour is itself
        {0, 1, 0x9C01},     // du = 0 - 255, dv = 0 - 100
        {2, 1, 0x38FF},     // du = 255 - 0, dv = 0 - 200
        {1, 0, 0x0100},     // dv = 0 - 255 (the first row is its own upper row)
        {1, 2, 0xFF64},     // lower than both sides: du = 100 - 0; dv = 255 - 0
        {1, 1, 0x0000},
    };
    for (const auto& e : expect)
        EXPECT_EQ(e.texel, BumpTexel(g2, e.x, e.y)) << e.x << "," << e.y;
    h->UnloadTexture(g2);
    EXPECT_EQ(0u, h->GenerateBumpMap(0));
    const unsigned long formats = h->GetBumpmapFormats();
    EXPECT_EQ(g.Z->Caps->BumpSupport(), (formats & ZH3D_BUMP_V8U8) != 0);
}

TEST_F(Textures, ARenderTextureShowsWhatWasDrawnIntoIt)
{
    EXPECT_TRUE(h->SetRenderTarget(0));     // nothing saved: nothing to do
    EXPECT_EQ(nullptr, h->SavedRenderTarget);
    const unsigned long rt = h->CreateRenderTexture(64, 64, false);
    ASSERT_NE(0u, rt);
    const unsigned long t = h->GetRenderTextureHandle(rt);
    ASSERT_NE(0u, t);

    // Half green, half blue.
    POLYSTRUCT green = ScreenTri(0, 0, ZPRIM_COLORED_2D, 0xFF00FF00);
    h->DrawPoly(&green);
    POLYSTRUCT blue = ScreenTri(0, 0, ZPRIM_COLORED_2D, 0xFF0000FF);
    for (int v = 0; v < 3; v++)
        blue.Vertex[v].y = blue.Vertex[v].y == 0 ? 32 : 128;
    h->DrawPoly(&blue);
    ASSERT_TRUE(h->SetRenderTarget(rt));
    h->RenderToTexture();
    ASSERT_TRUE(h->SetRenderTarget(0));
    EXPECT_EQ(nullptr, h->SavedRenderTarget);

    Draw(t);
    EXPECT_TRUE(ZQ_Near(GREEN, g.Pixel(10, 10), 0)) << std::hex << g.Pixel(10, 10);
    EXPECT_TRUE(ZQ_Near(BLUE, g.Pixel(10, 50), 0)) << std::hex << g.Pixel(10, 50);
    // Its texture belongs to the render texture.
    h->UnloadTexture(t);
    EXPECT_EQ(t, h->GetRenderTextureHandle(rt));
    h->DestroyRenderTexture(rt);
    EXPECT_EQ(nullptr, h->RenderTextures);
    EXPECT_EQ(0u, h->CreateRenderTexture(0, 64, false));
}

// A file D3DX cannot read is fatal, named in the box.
void LoadGarbage(bool bump)
{
    FILE* f = fopen("zq_garbage.jpg", "wb");
    fputs("not an image at all", f);
    fclose(f);
    ZQGfx g;
    if (!g.Open())
        return;
    if (bump)
        g.H3d->LoadBumpMap((char*)"zq_garbage.jpg");
    else
        g.H3d->LoadTextureFromFile((char*)"zq_garbage.jpg");
}
ZQ_CHILD(tex_garbage) { LoadGarbage(false); }
ZQ_CHILD(bump_garbage) { LoadGarbage(true); }

TEST(TextureFatal, AnUnreadableImageEndsTheProgramNamingIt)
{
    EXPECT_TRUE(ZQ_OneBox(ZQ_RunChild("tex_garbage"), 1, "Failed when create:zq_garbage.jpg Texture.",
                          "ZH3D Zarquel"));
    EXPECT_TRUE(ZQ_OneBox(ZQ_RunChild("bump_garbage"), 1, "Failed when create bumpmap: zq_garbage.jpg Texture.",
                          "ZH3D Zarquel"));
}

// ---------------------------------------------------------------------------
// Real lost and reset cycles with textures of every kind loaded.

#define RESET_CYCLES 50

// The picture each texture shows, as "<what>_q<quadrant>" report entries.
void ReportPicture(ZQReport& r, ZQGfx& g, const char* what, unsigned long texture, uint32_t flags = 0)
{
    // On the 640x480 screen the texture covers the top-left 64x64.
    POLYSTRUCT p = ScreenTri((uint32_t)texture, flags);
    g.H3d->DrawPoly(&p);
    g.Frame();
    for (int q = 0; q < 4; q++) {
        char key[64];
        snprintf(key, sizeof(key), "%s_q%d", what, q);
        r.Put(key, (long)(g.Pixel(QX[q], QY[q]) & 0xFFFFFF));
    }
}

// Draws the quadrants into the render texture (it loses its picture with
// the device, so it is drawn again after the reset, through the same handles).
void FillRenderTexture(ZQGfx& g, unsigned long rt)
{
    CZH3d* h = g.H3d;
    for (int q = 0; q < 4; q++) {
        POLYSTRUCT p = ScreenTri(0, 0, ZPRIM_COLORED_2D, 0xFF000000u | QUAD[q]);
        const float x0 = (float)(q & 1) * 32, y0 = (float)(q >> 1) * 32;
        const float xs[3] = {x0, x0 + 64, x0}, ys[3] = {y0, y0, y0 + 64};
        for (int v = 0; v < 3; v++) {
            p.Vertex[v].x = xs[v];
            p.Vertex[v].y = ys[v];
        }
        h->DrawPoly(&p);
    }
    h->SetRenderTarget(rt);
    h->RenderToTexture();
    h->SetRenderTarget(0);
}

ZQ_CHILD(tex_reset)
{
    ZQReport r("tex_reset");
    SetCurrentDirectoryA(ZQ_GFX_FIXTURES);
    ZQGfx g;
    if (!g.Open(640, 480, 0)) {
        r.Put("open_failed", 1);
        return;
    }
    CZH3d* h = g.H3d;
    h->SetCullingState(false, false);
    h->SetMipMapping(true);
    const unsigned long mipped = h->LoadTextureFromFile((char*)"quad.png");
    const unsigned long alpha = h->LoadAlphaTexture((char*)"quad.bmp", 200);
    const unsigned long tga = h->LoadAlphaTextureTGA((char*)"quad.tga");
    const unsigned long rt = h->CreateRenderTexture(64, 64, false);
    const unsigned long rtTexture = h->GetRenderTextureHandle(rt);
    FillRenderTexture(g, rt);
    ReportPicture(r, g, "before_mipped", mipped);
    ReportPicture(r, g, "before_rt", rtTexture);
    r.Put("mip_levels", (long)((IDirect3DTexture9*)(uintptr_t)mipped)->GetLevelCount());

    // Many cycles: whatever a reset leaks or loses adds up.
    DWORD handles = 0, handlesAfter = 0;
    GetProcessHandleCount(GetCurrentProcess(), &handles);
    const uint32_t heap = g.Z->Mem->BytesInUse;
    for (int i = 0; i < RESET_CYCLES; i++) {
        SendMessageA(g.Window, WM_ACTIVATEAPP, FALSE, 0);
        if (i == 0)
            r.Put("lost", (long)g.Vgs->Device->TestCooperativeLevel());
        g.Frame();
        SendMessageA(g.Window, WM_ACTIVATEAPP, TRUE, 0);
        if (i == 0)
            r.Put("not_reset", (long)g.Vgs->Device->TestCooperativeLevel());
        g.Frame();
    }
    GetProcessHandleCount(GetCurrentProcess(), &handlesAfter);
    // Batch stores go with a reset and come back when drawn: no more than before.
    r.Put("heap_grew", (long)(int32_t)(g.Z->Mem->BytesInUse - heap));
    r.Put("handles_grew", (long)handlesAfter - (long)handles);
    r.Put("resets", (long)g.Vgs->DeviceResets);
    r.Put("resets_failed", (long)g.Vgs->ResetsFailed);
    r.Put("state_after", (long)g.Vgs->Device->TestCooperativeLevel());
    h->SetCullingState(false, false);

    // The frame right after the reset, then every handle held from before.
    ReportPicture(r, g, "mipped", mipped);
    ReportPicture(r, g, "alpha", alpha);
    ReportPicture(r, g, "tga", tga, ZRF_ALPHATEST);
    FillRenderTexture(g, rt);
    // The texture handle taken before the reset still names it.
    r.Put("rt_texture_same", h->GetRenderTextureHandle(rt) == rtTexture);
    ReportPicture(r, g, "rt", rtTexture);
    r.Put("done", 1);
    h->DestroyRenderTexture(rt);
    g.Close();
}

TEST(TexturesFullScreen, EveryTextureDrawsItsPictureAfterFiftyRealResets)
{
    if (!ZQ_Screen640x480())
        GTEST_SKIP() << "needs a 640x480 screen (scripts/zq's private Xvfb)";
    std::map<std::string, long> r;
    ZQChild c = ZQ_RunReportingChild("tex_reset", r);
    ASSERT_FALSE(c.TimedOut);
    EXPECT_EQ(0u, c.ExitCode);
    EXPECT_EQ(0u, c.Boxes.size());
    ASSERT_EQ(1, r["done"]);
    EXPECT_GT(r["mip_levels"], 1);
    ASSERT_EQ(D3DERR_DEVICELOST, r["lost"]);
    ASSERT_EQ(D3DERR_DEVICENOTRESET, r["not_reset"]);
    EXPECT_EQ(RESET_CYCLES, r["resets"]);
    EXPECT_LE(r["heap_grew"], 0) << "the engine heap after the resets";
    // Wine may keep a handle or two of its own across the first reset.
    EXPECT_LE(r["handles_grew"], 4) << "the process's handles after the resets";
    EXPECT_EQ(0, r["resets_failed"]);
    EXPECT_EQ(D3D_OK, r["state_after"]);
    for (int q = 0; q < 4; q++) {
        const std::string n = std::to_string(q);
        EXPECT_EQ((long)QUAD[q], r["before_mipped_q" + n]) << q;
        EXPECT_EQ((long)QUAD[q], r["before_rt_q" + n]) << q;
        EXPECT_EQ((long)QUAD[q], r["mipped_q" + n]) << q;
        EXPECT_EQ((long)QUAD[q], r["alpha_q" + n]) << q;
        EXPECT_EQ((long)QUAD[q], r["rt_q" + n]) << q;
    }
    // Alpha-tested: the transparent quadrant shows the black clear colour.
    EXPECT_EQ(0, r["tga_q0"]);
    EXPECT_EQ((long)GREEN, r["tga_q1"]);
    EXPECT_EQ((long)BLUE, r["tga_q2"]);
    EXPECT_EQ((long)WHITE, r["tga_q3"]);
    EXPECT_EQ(1, r["rt_texture_same"]);
}

} // namespace
