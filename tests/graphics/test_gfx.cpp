// 2D planes in real pixels on a 640 x 480 back buffer, line lists and the
// palette conversions.
#include <cstring>
#include <vector>

#include "gfx_fixture.h"
#include "solid_texture.h"
#include "zh3d_local.h"
#include "zgfx.h"
#include "zo3d.h"
#include "zqtest.h"

namespace {

class Gfx : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(g.Open(640, 480));
        gfx = g.Z->Gfx;
        px.resize(640 * 480);
    }
    void TearDown() override
    {
        for (IDirect3DTexture9* t : textures)
            t->Release();
        g.Close();
    }
    uint32_t Texture(uint32_t argb) { return ZQ_SolidTexture(g.Vgs->Device, argb, &textures); }
    void Frame()
    {
        g.Frame();
        g.Pixels(px.data());
    }
    uint32_t At(int x, int y) { return px[y * 640 + x] & 0xFFFFFF; }
    // The bounding box of the pixels that are not black.
    void Lit(int* x0, int* y0, int* x1, int* y1)
    {
        *x0 = *y0 = 1 << 20;
        *x1 = *y1 = -1;
        for (int y = 0; y < 480; y++)
            for (int x = 0; x < 640; x++)
                if (At(x, y)) {
                    *x0 = std::min(*x0, x);
                    *y0 = std::min(*y0, y);
                    *x1 = std::max(*x1, x);
                    *y1 = std::max(*y1, y);
                }
    }

    ZQGfx g;
    CZGfx* gfx;
    std::vector<uint32_t> px;
    std::vector<IDirect3DTexture9*> textures;
};

}  // namespace

TEST_F(Gfx, FullScreenPlaneCoversTheScreenExactly)
{
    const unsigned long plane = gfx->CreatePlane2d(640, 480, 0, 0, 0);
    gfx->SetMaterialPlane2d(plane, Texture(0xFFFFFFFF), 0);
    gfx->DrawPlane2d(plane, false, false, false);
    Frame();
    int x0, y0, x1, y1;
    Lit(&x0, &y0, &x1, &y1);
    EXPECT_EQ(0, x0);
    EXPECT_EQ(0, y0);
    EXPECT_EQ(639, x1);
    EXPECT_EQ(479, y1);
    size_t white = 0;
    for (uint32_t p : px)
        white += (p & 0xFFFFFF) == 0xFFFFFF;
    EXPECT_EQ(640u * 480u, white);
    gfx->DestroyPlane2d(plane);
}

TEST_F(Gfx, MovedScaledAndTurnedPlanes)
{
    const unsigned long plane = gfx->CreatePlane2d(25, 25, 0, 0, 0);
    const uint32_t tex = Texture(0xFFFFFFFF);
    gfx->SetMaterialPlane2d(plane, tex, 0);
    gfx->MovePlane2d(plane, 5, 40);
    gfx->DrawPlane2d(plane, true, false, false);
    Frame();
    int x0, y0, x1, y1;
    Lit(&x0, &y0, &x1, &y1);
    EXPECT_EQ(5, x0);
    EXPECT_EQ(40, y0);
    EXPECT_EQ(29, x1);
    EXPECT_EQ(64, y1);

    // Without move the creation placement holds; scaled about the plane's centre.
    const unsigned long placed = gfx->CreatePlane2d(20, 10, 100, 200, 0);
    gfx->SetMaterialPlane2d(placed, tex, 0);
    gfx->ScalePlane2d(placed, 2, 3);
    gfx->DrawPlane2d(placed, false, false, true);
    Frame();
    Lit(&x0, &y0, &x1, &y1);
    EXPECT_EQ(90, x0) << "40 wide around x 110";
    EXPECT_EQ(190, y0) << "30 high around y 205";
    EXPECT_EQ(129, x1);
    EXPECT_EQ(219, y1);

    // A quarter turn of a 40 x 10 plane stands it up.
    const unsigned long bar = gfx->CreatePlane2d(40, 10, 300, 300, 0);
    gfx->SetMaterialPlane2d(bar, tex, 0);
    gfx->RotatePlane2d(bar, 128);
    gfx->DrawPlane2d(bar, false, true, false);
    Frame();
    Lit(&x0, &y0, &x1, &y1);
    EXPECT_NEAR(10, x1 - x0 + 1, 1);
    EXPECT_NEAR(40, y1 - y0 + 1, 1);
    for (unsigned long p : {plane, placed, bar})
        gfx->DestroyPlane2d(p);
}

TEST_F(Gfx, AdditiveAndFadedPlanesBlendWithWhatIsBelow)
{
    const unsigned long base = gfx->CreatePlane2d(640, 480, 0, 0, 0);
    const unsigned long top = gfx->CreatePlane2d(100, 100, 0, 0, 0);
    gfx->SetMaterialPlane2d(base, Texture(0xFF404040), 0);
    gfx->SetMaterialPlane2d(top, Texture(0xFF302010), ZRF_ADDITIVE);
    gfx->DrawPlane2d(base, false, false, false);
    gfx->DrawPlane2d(top, false, false, false);
    Frame();
    EXPECT_TRUE(ZQ_Near(0x706050, At(50, 50))) << std::hex << At(50, 50);
    EXPECT_TRUE(ZQ_Near(0x404040, At(150, 50))) << std::hex << At(150, 50);

    // Half-transparent white over grey, with the renderer's default blend pair.
    const unsigned long fade = gfx->CreatePlane2d(100, 100, 0, 0, 0);
    gfx->SetMaterialPlane2d(fade, Texture(0x80FFFFFF), ZRF_ALPHABLEND);
    gfx->DrawPlane2d(base, false, false, false);
    gfx->DrawPlane2d(fade, false, false, false);
    Frame();
    EXPECT_TRUE(ZQ_Near(0x9F9F9F, At(50, 50), 2)) << std::hex << At(50, 50);

    // The same texture again with other flags: the old flags stay.
    const ZGFX_PLANE* p = (const ZGFX_PLANE*)(uintptr_t)fade;
    const uint32_t texture = p->Texture;
    gfx->SetMaterialPlane2d(fade, texture, ZRF_ADDITIVE);
    EXPECT_EQ(ZRF_ALPHABLEND, p->Flags);
    const ZO3D_HEADER* h = (const ZO3D_HEADER*)(uintptr_t)p->Source;
    EXPECT_EQ(ZRF_ALPHABLEND, ((const ZO3D_MATERIAL*)(uintptr_t)h->Materials)->Flags);
    for (unsigned long q : {base, top, fade})
        gfx->DestroyPlane2d(q);
}

TEST_F(Gfx, LineListsAndPalettes)
{
    Vector3 points[3] = {{0, 0, 5}, {1, 0, 5}, {1, 1, 5}};
    gfx->DrawLinesColor(points, 1, 0, 0xFFFFFFFF, 0xFFFFFFFF);
    EXPECT_EQ(ZH3D_FREE, g.H3d->Tables[ZH3D_LINES_COLORED][0].Count) << "one point: no line";
    gfx->DrawLinesColor(points, 2, 0, 0xFF0000FF, 0xFF00FF00);
    EXPECT_EQ(1u, g.H3d->Tables[ZH3D_LINES_COLORED][0].Count);
    gfx->DrawLinesText(points, 3, 0, Texture(0xFFFFFFFF));
    const ZH3D_BUCKET& b = g.H3d->Tables[ZH3D_LINES_TEXTURED][0];
    ASSERT_EQ(2u, b.Count);
    const LINEVERTEX* ends = (const LINEVERTEX*)(uintptr_t)b.Store;
    EXPECT_FLOAT_EQ(1.0f / 3, ends[2].u) << "second line starts at 1 / count";
    EXPECT_FLOAT_EQ(2.0f / 3, ends[3].u);
    g.H3d->H3D_DeleteTables();

    uint8_t palette[768] = {0};
    palette[0] = palette[1] = palette[2] = 63;
    palette[3] = 63;          // entry 1: red only
    palette[10] = 63;         // entry 3: green only
    gfx->ConvertPalette(palette);
    const uint16_t* words = (const uint16_t*)palette;
    EXPECT_EQ(0xFFFF, words[0]);
    EXPECT_EQ(0xF800, words[1]);
    EXPECT_EQ(0, words[2]);
    EXPECT_EQ(0x07E0, words[3]);
    const uint8_t source[4] = {3, 0, 1, 2};
    uint16_t out[4];
    gfx->ConvertData((void*)source, palette, out, 4);
    EXPECT_EQ(0x07E0, out[0]);
    EXPECT_EQ(0xFFFF, out[1]);
    EXPECT_EQ(0xF800, out[2]);
    EXPECT_EQ(0, out[3]);
}
