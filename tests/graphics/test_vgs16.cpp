// The display on a 16-bit screen: the windowed back buffer takes the
// desktop's R5G6B5 (two bytes a pixel, the colour key a whole 16-bit word),
// and a full-screen hi-colour request works. Run by ctest against the
// second, 16-bit X server of scripts/zq; anywhere else it skips.
#include "gfx_fixture.h"
#include "vgs_report.h"
#include "zmem.h"
#include "zqtest.h"

namespace {

int ScreenBits()
{
    HDC dc = GetDC(NULL);
    const int bits = GetDeviceCaps(dc, BITSPIXEL);
    ReleaseDC(NULL, dc);
    return bits;
}

#define ZQ_NEED_16BIT_640x480()                                                                 \
    if (ScreenBits() != 16 || !ZQ_Screen640x480())                                              \
    GTEST_SKIP() << "needs the 640x480x16 X server of scripts/zq; this screen is "              \
                 << GetSystemMetrics(SM_CXSCREEN) << "x" << GetSystemMetrics(SM_CYSCREEN) << "x" << ScreenBits()

TEST(Vgs16, WindowedTakesTheDesktopsR5G6B5)
{
    ZQ_NEED_16BIT_640x480();
    ZQGfx g;
    ASSERT_TRUE(g.Open(64, 64));
    CZVgs* v = g.Vgs;
    EXPECT_EQ(D3DFMT_R5G6B5, v->PresentParams.BackBufferFormat);
    EXPECT_EQ(2u, v->GetPixelSize());
    EXPECT_EQ(64u * 2 * 64, v->LayerSize);
    D3DDEVICE_CREATION_PARAMETERS cp;
    ASSERT_EQ(D3D_OK, v->Device->GetCreationParameters(&cp));
    EXPECT_EQ(0x84u, cp.BehaviorFlags);

    v->ClearColor = 0xFF0000FF;
    unsigned long h = v->CreateLayer2D();
    ASSERT_NE(0u, h);
    v->SetLayerProperty((int)h, ZVGS_ORDER_2D, ZVGS_DRAW_COLORKEY, 0);
    uint16_t* p = (uint16_t*)v->GetLayerPtr(h);
    p[0] = 0x0001;          // the darkest blue: drawn
    p[1] = 0xF800;          // red
    p[64 + 1] = 0x07E0;     // green, second row
    g.Frame();
    EXPECT_TRUE(ZQ_Near(0xFF000008, g.Pixel(0, 0), 1)) << std::hex << g.Pixel(0, 0);
    EXPECT_TRUE(ZQ_Near(0xFFFF0000, g.Pixel(1, 0))) << std::hex << g.Pixel(1, 0);
    EXPECT_TRUE(ZQ_Near(0xFF00FF00, g.Pixel(1, 1))) << std::hex << g.Pixel(1, 1);
    EXPECT_TRUE(ZQ_Near(0xFF0000FF, g.Pixel(2, 0))) << std::hex << g.Pixel(2, 0);

    // Opaque: the zero words are black.
    v->SetLayerProperty((int)h, ZVGS_ORDER_2D, ZVGS_DRAW_COPY, 0);
    g.Frame();
    EXPECT_TRUE(ZQ_Near(0xFF000000, g.Pixel(2, 0))) << std::hex << g.Pixel(2, 0);
    EXPECT_TRUE(ZQ_Near(0xFF00FF00, g.Pixel(1, 1))) << std::hex << g.Pixel(1, 1);
    g.Close();
}

char g_title[] = "zarquel 16-bit test";

ZQ_CHILD(vgs16_full)
{
    ZQReport report("vgs16_full");
    CZarquel* z = new CZarquel;
    z->Mem->InitHeap(16u << 20);
    CZVgs* v = z->Vgs;
    v->Init(GetModuleHandleA(NULL), SW_SHOWNORMAL);
    HWND w = NULL;
    const DWORD start = GetTickCount();
    v->SelectGraphMode(640, 480, 0, 0, g_title, &w, 0, 0, ZVGS_DEPTH_16);
    report.Put("elapsed_ms", (long)(GetTickCount() - start));
    report.Put("pixel_size", (long)v->PixelSize);
    report.Put("format", (long)v->PresentParams.BackBufferFormat);
    report.Put("windowed", v->PresentParams.Windowed);
    D3DDEVICE_CREATION_PARAMETERS cp = {};
    v->Device->GetCreationParameters(&cp);
    report.Put("behavior", (long)cp.BehaviorFlags);
    v->CreateLayer3D();
    v->RenderScene(nullptr, nullptr);
    report.Put("composed", (long)v->FramesComposed);
    report.Put("alive", (long)z->StillAlive());
    delete z;
}

TEST(Vgs16, FullScreenHiColourRequest)
{
    ZQ_NEED_16BIT_640x480();
    std::map<std::string, long> r;
    ZQChild c = ZQ_RunReportingChild("vgs16_full", r);
    ASSERT_FALSE(c.TimedOut);
    EXPECT_EQ(0u, c.ExitCode);
    ASSERT_EQ(0u, c.Boxes.size()) << c.Boxes[0].Text;
    EXPECT_EQ(2, r["pixel_size"]);
    EXPECT_EQ(D3DFMT_R5G6B5, r["format"]);
    EXPECT_EQ(FALSE, r["windowed"]);
    EXPECT_EQ(0x80, r["behavior"]);
    EXPECT_EQ(1, r["composed"]);
    EXPECT_EQ(1, r["alive"]);
    // Already in this mode: no switch, no wait.
    EXPECT_LT(r["elapsed_ms"], 2000);
}

} // namespace
