// Display frames read back from the back buffer (presenting off unless a
// test turns it on), with the device calls of each frame recorded; and the
// layer table.
#include <cstring>
#include <vector>

#include "gfx_fixture.h"
#include "zh3d_local.h"
#include "d3d_hook.h"
#include "zmem.h"
#include "zqtest.h"

namespace {

const uint32_t CLEAR = 0xFF2040C0;
const uint32_t SCENE = 0xFF10E010;   // what the spy's EndScene paints
const uint32_t EARLIER = 0xFF808000; // back-buffer contents from before the frame
const uint32_t RED = 0xFFFF0000, BLUE = 0xFF0000FF, WHITE = 0xFFFFFFFF;

struct CallbackLog {
    int Calls = 0;
    ZVGS_BACKBUFFER View = {};
    uint32_t FirstPixel = 0;   // what the callback found at (0, 0)
};
CallbackLog g_callback;

void Callback3D(ZVGS_BACKBUFFER* view)
{
    g_callback.Calls++;
    g_callback.View = *view;
    g_callback.FirstPixel = *(const uint32_t*)(uintptr_t)view->Bits;
    if (ZQHook::Current)
        ZQHook::Current->Calls += 'K';
}

class VgsFrame : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(g.Open());
        ASSERT_EQ(4u, g.Vgs->PixelSize) << "the desktop of these tests is 24-bit (X8R8G8B8)";
        spy.Install(g.Vgs->Device);
        g.Vgs->ClearColor = CLEAR;
        g_callback = CallbackLog();
    }
    void TearDown() override
    {
        spy.Remove();
        g.Close();
    }

    uint32_t* Layer(unsigned long handle) { return (uint32_t*)g.Vgs->GetLayerPtr(handle); }
    uint32_t& At(unsigned long handle, int x, int y) { return Layer(handle)[y * g.Vgs->Width + x]; }
    void FillLayer(unsigned long handle, uint32_t v)
    {
        for (unsigned long i = 0; i < g.Vgs->Width * g.Vgs->Height; i++)
            Layer(handle)[i] = v;
    }
    // The scene covers the left half of the back buffer.
    void PaintSceneLeftHalf()
    {
        spy.PaintScene = true;
        spy.SceneColour = SCENE;
        spy.SceneRect = {0, 0, (LONG)g.Vgs->Width / 2, (LONG)g.Vgs->Height};
    }
    // 2D layer above the 3D layer (the order a new one gets).
    unsigned long Upper(unsigned char mode, unsigned long order = ZVGS_ORDER_2D)
    {
        unsigned long h = g.Vgs->CreateLayer2D();
        EXPECT_NE(0u, h);
        g.Vgs->SetLayerProperty((int)h, order, mode, ZVGS_USER_VALUE);
        return h;
    }
    std::vector<uint32_t> Frame()
    {
        spy.Calls.clear();
        g.Frame();
        std::vector<uint32_t> all(g.Vgs->Width * g.Vgs->Height);
        g.Pixels(all.data());
        return all;
    }
    // The first nine bytes of the back buffer.
    void FirstBytes(uint8_t* out)
    {
        IDirect3DSurface9* s = nullptr;
        ASSERT_EQ(D3D_OK, g.Vgs->Device->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &s));
        D3DLOCKED_RECT lr;
        if (SUCCEEDED(s->LockRect(&lr, NULL, D3DLOCK_READONLY))) {
            memcpy(out, lr.pBits, 9);
            s->UnlockRect();
        }
        s->Release();
    }
    uint32_t Px(const std::vector<uint32_t>& all, int x, int y) { return all[y * g.Vgs->Width + x] & 0xFFFFFF; }

    ZQGfx g;
    ZQHook spy;
};

TEST_F(VgsFrame, NoLayersNeitherClearsNorPresents)
{
    g.Vgs->DestroyLayer3D(ZVGS_HANDLE_3D);
    ASSERT_EQ(0u, g.Vgs->LayerCount);
    g.Vgs->SetPresent(true);
    g.Vgs->Set3DCallBack((void*)Callback3D);
    spy.Fill(EARLIER);
    const uint32_t composed = g.Vgs->FramesComposed;
    std::vector<uint32_t> px = Frame();
    EXPECT_EQ("", spy.Calls);
    EXPECT_EQ(EARLIER & 0xFFFFFF, Px(px, 10, 10));
    EXPECT_EQ(0, g_callback.Calls);
    EXPECT_EQ(composed, g.Vgs->FramesComposed);
    EXPECT_EQ(0, g.Vgs->DeviceLost);
}

TEST_F(VgsFrame, SceneLayerFrameRunsClearSceneCallbackPresentInThatOrder)
{
    g.Vgs->SetPresent(true);
    g.Vgs->Set3DCallBack((void*)Callback3D);
    spy.Fill(EARLIER);
    const uint32_t composed = g.Vgs->FramesComposed, drawn = g.H3d->FramesDrawn;
    RECT source = {0, 0, 32, 32}, destination = {0, 0, 64, 64};
    spy.Calls.clear();
    g.Vgs->RenderScene(&source, &destination);
    // The renderer clears its z-buffer inside the scene.
    EXPECT_EQ("CBZEKP", spy.Calls);
    EXPECT_EQ(CLEAR, spy.ClearColour);
    EXPECT_EQ(&source, spy.PresentSource);
    EXPECT_EQ(&destination, spy.PresentDestination);
    EXPECT_EQ(composed + 1, g.Vgs->FramesComposed);
    EXPECT_EQ(drawn + 1, g.H3d->FramesDrawn);

    // The callback saw the cleared back buffer, once, through this view.
    EXPECT_EQ(1, g_callback.Calls);
    EXPECT_EQ(CLEAR & 0xFFFFFF, g_callback.FirstPixel & 0xFFFFFF);
    const ZVGS_BACKBUFFER& v = g_callback.View;
    EXPECT_NE(0u, v.Bits);
    EXPECT_GE(v.Pitch, 64u * 4);
    EXPECT_EQ(4u, v.PixelSize);
    EXPECT_EQ(64u, v.Width);
    EXPECT_EQ(64u, v.Height);
    EXPECT_EQ(64u * 4 * 64, v.LayerSize);

    // Switched off: neither callback nor present.
    g.Vgs->Clear3DCallBack();
    g.Vgs->SetPresent(false);
    Frame();
    EXPECT_EQ("CBZE", spy.Calls);
    EXPECT_EQ(1, g_callback.Calls);
}

TEST_F(VgsFrame, ClearSwitchOffKeepsEarlierPixelsUnderAKeyedLayer)
{
    g.Vgs->SetClearBackBuffer(false);
    unsigned long h = Upper(ZVGS_DRAW_COLORKEY);
    At(h, 3, 3) = RED;
    spy.Fill(EARLIER);
    std::vector<uint32_t> px = Frame();
    EXPECT_EQ(std::string::npos, spy.Calls.find('C')) << spy.Calls;
    EXPECT_EQ(EARLIER & 0xFFFFFF, Px(px, 0, 0));
    EXPECT_EQ(RED & 0xFFFFFF, Px(px, 3, 3));
}

TEST_F(VgsFrame, SingleUpperLayerKeyedShowsTheSceneThroughZeroPixelsCopiedCovers)
{
    PaintSceneLeftHalf();
    unsigned long h = Upper(ZVGS_DRAW_COLORKEY);
    At(h, 1, 0) = RED;
    At(h, 41, 0) = BLUE;
    std::vector<uint32_t> px = Frame();
    EXPECT_EQ(1u, g.Vgs->UpperCount);
    EXPECT_EQ(0u, g.Vgs->LowerCount);
    EXPECT_EQ(SCENE & 0xFFFFFF, Px(px, 0, 0));
    EXPECT_EQ(CLEAR & 0xFFFFFF, Px(px, 40, 0));
    EXPECT_EQ(RED & 0xFFFFFF, Px(px, 1, 0));
    EXPECT_EQ(BLUE & 0xFFFFFF, Px(px, 41, 0));

    g.Vgs->SetLayerProperty((int)h, ZVGS_ORDER_2D, ZVGS_DRAW_COPY, 0);
    px = Frame();
    EXPECT_EQ(0u, Px(px, 0, 0));
    EXPECT_EQ(0u, Px(px, 40, 0));
    EXPECT_EQ(RED & 0xFFFFFF, Px(px, 1, 0));
}

TEST_F(VgsFrame, ColourKeyAtFourBytesIsTheWholePixelAlphaIncluded)
{
    unsigned long h = Upper(ZVGS_DRAW_COLORKEY);
    At(h, 0, 0) = 0x00000001;   // (0, 0, 1)
    At(h, 1, 0) = 0xFF000000;   // black, opaque
    At(h, 2, 0) = 0x00000000;
    std::vector<uint32_t> px = Frame();
    EXPECT_EQ(0x000001u, Px(px, 0, 0));
    EXPECT_EQ(0u, Px(px, 1, 0));
    EXPECT_EQ(CLEAR & 0xFFFFFF, Px(px, 2, 0));
}

// The back buffer cannot be 24-bit under Wine; the three-byte blits are run
// over the 32-bit one with the display told its pixels are three bytes, and
// the bytes of each row compared.
TEST_F(VgsFrame, ColourKeyAtThreeBytesIsTheThreeBytes)
{
    CZVgs* v = g.Vgs;
    const unsigned long savedSize = v->PixelSize, savedLayer = v->LayerSize;
    v->PixelSize = 3;
    v->LayerSize = v->Width * 3 * v->Height;   // the composition buffers are larger: room enough
    v->SetClearBackBuffer(false);
    unsigned long h = Upper(ZVGS_DRAW_COLORKEY);
    uint8_t* p = (uint8_t*)Layer(h);
    const uint8_t row0[9] = {1, 0, 0, 0, 0, 0, 0, 0, 7};   // (1,0,0), (0,0,0), (0,0,7)
    memcpy(p, row0, sizeof(row0));
    spy.Fill(0xFFAAAAAA);
    uint8_t want[9];
    FirstBytes(want);
    memcpy(want, row0, 3);
    memcpy(want + 6, row0 + 6, 3);
    Frame();
    uint8_t got[9];
    FirstBytes(got);
    EXPECT_EQ(0, memcmp(want, got, sizeof(want)));

    v->DestroyLayer2D(h);
    v->PixelSize = savedSize;
    v->LayerSize = savedLayer;
}

TEST_F(VgsFrame, UndrawnModeStaysInTheTable)
{
    unsigned long h = Upper(5);
    FillLayer(h, RED);
    std::vector<uint32_t> px = Frame();
    EXPECT_EQ(2u, g.Vgs->LayerCount);
    EXPECT_EQ(Layer(h), g.Vgs->GetLayerPtr(h));
    EXPECT_EQ(CLEAR & 0xFFFFFF, Px(px, 5, 5));
    // Made drawable again, it shows.
    g.Vgs->SetLayerProperty((int)h, ZVGS_ORDER_2D, ZVGS_DRAW_COPY, 0);
    px = Frame();
    EXPECT_EQ(RED & 0xFFFFFF, Px(px, 5, 5));
}

TEST_F(VgsFrame, LowerLayersComposeUnderTheScene)
{
    PaintSceneLeftHalf();
    g.Vgs->SetLayerProperty(ZVGS_HANDLE_3D, 10, 0, 0);
    unsigned long bottom = Upper(ZVGS_DRAW_COPY, 1), top = Upper(ZVGS_DRAW_COLORKEY, 2);
    FillLayer(bottom, BLUE);
    At(top, 40, 0) = RED;
    At(top, 1, 0) = RED;
    std::vector<uint32_t> px = Frame();
    EXPECT_EQ(2u, g.Vgs->LowerCount);
    EXPECT_EQ(0u, g.Vgs->UpperCount);
    EXPECT_EQ(SCENE & 0xFFFFFF, Px(px, 1, 0));   // the scene is drawn over both
    EXPECT_EQ(RED & 0xFFFFFF, Px(px, 40, 0));
    EXPECT_EQ(BLUE & 0xFFFFFF, Px(px, 41, 0));

    // Both keyed: the cleared back buffer shows where neither drew.
    g.Vgs->SetLayerProperty((int)bottom, 1, ZVGS_DRAW_COLORKEY, 0);
    At(bottom, 50, 0) = 0;
    px = Frame();
    EXPECT_EQ(CLEAR & 0xFFFFFF, Px(px, 50, 0));
    EXPECT_EQ(BLUE & 0xFFFFFF, Px(px, 51, 0));
    EXPECT_EQ(RED & 0xFFFFFF, Px(px, 40, 0));
}

TEST_F(VgsFrame, UpperGroupWithAKeyedFirstLayerShowsTheSceneThrough)
{
    PaintSceneLeftHalf();
    unsigned long a = Upper(ZVGS_DRAW_COLORKEY, 1), b = Upper(ZVGS_DRAW_COLORKEY, 2);
    At(a, 1, 0) = RED;
    At(b, 2, 0) = BLUE;
    At(a, 3, 0) = RED;
    At(b, 3, 0) = WHITE;   // the later layer is on top
    std::vector<uint32_t> px = Frame();
    EXPECT_EQ(2u, g.Vgs->UpperCount);
    EXPECT_EQ(SCENE & 0xFFFFFF, Px(px, 0, 0));
    EXPECT_EQ(CLEAR & 0xFFFFFF, Px(px, 40, 0));
    EXPECT_EQ(RED & 0xFFFFFF, Px(px, 1, 0));
    EXPECT_EQ(BLUE & 0xFFFFFF, Px(px, 2, 0));
    EXPECT_EQ(WHITE & 0xFFFFFF, Px(px, 3, 0));

    // A copied layer after a keyed first one covers the composition, and
    // its zero pixels still let the scene through.
    g.Vgs->SetLayerProperty((int)b, 2, ZVGS_DRAW_COPY, 0);
    px = Frame();
    EXPECT_EQ(SCENE & 0xFFFFFF, Px(px, 1, 0));
    EXPECT_EQ(BLUE & 0xFFFFFF, Px(px, 2, 0));

    // A copied first layer: the group goes on opaquely.
    g.Vgs->SetLayerProperty((int)a, 1, ZVGS_DRAW_COPY, 0);
    g.Vgs->SetLayerProperty((int)b, 2, ZVGS_DRAW_COLORKEY, 0);
    px = Frame();
    EXPECT_EQ(0u, Px(px, 0, 0));
    EXPECT_EQ(RED & 0xFFFFFF, Px(px, 1, 0));
    EXPECT_EQ(BLUE & 0xFFFFFF, Px(px, 2, 0));

    // An undrawn first layer: the first drawn one decides.
    g.Vgs->SetLayerProperty((int)a, 1, 5, 0);
    unsigned long c = Upper(ZVGS_DRAW_COLORKEY, 3);
    At(c, 5, 0) = RED;
    px = Frame();
    EXPECT_EQ(SCENE & 0xFFFFFF, Px(px, 0, 0));
    EXPECT_EQ(BLUE & 0xFFFFFF, Px(px, 2, 0));
    EXPECT_EQ(RED & 0xFFFFFF, Px(px, 5, 0));
}

TEST_F(VgsFrame, SceneLayerOrderAloneMatters)
{
    g.Vgs->SetLayerProperty(ZVGS_HANDLE_3D, 0, 5, 99);
    Frame();
    EXPECT_EQ("CBZE", spy.Calls);
}

// Lost-device cycle with the device's answer forced: a lost frame only
// drops the renderer's tables, a not-reset frame resets with the kept
// parameters and runs the renderer's Init again only when the reset
// succeeded; neither draws.
TEST_F(VgsFrame, ForcedLostAndNotResetFrames)
{
    g.Vgs->SetPresent(true);
    const uint32_t composed = g.Vgs->FramesComposed;
    spy.ForcedState = D3DERR_DEVICELOST;
    Frame();
    EXPECT_EQ("", spy.Calls);
    EXPECT_EQ(1, g.Vgs->DeviceLost);
    EXPECT_EQ(2u, g.Z->StillAlive());
    EXPECT_EQ(1u, g.Vgs->FramesLost);

    // Resets that fail are not counted and leave the renderer down (after a
    // failed Reset the device takes no other calls): what is queued then is
    // refused, and the failure is logged once for the whole episode.
    const std::string marker = "ZVGS: Reset failed";
    const size_t logged = ZQ_CountLogLines(marker);
    spy.ForcedState = D3DERR_DEVICENOTRESET;
    spy.ForcedResetFailure = D3DERR_DEVICELOST;
    const uint32_t refused = g.H3d->PrimitivesRefused;
    for (int i = 0; i < 3; i++) {
        Frame();
        EXPECT_EQ("R", spy.Calls);
        POLYSTRUCT p = {};
        p.Kind = ZPRIM_COLORED;
        g.H3d->DrawPoly(&p);
    }
    EXPECT_EQ(2u, g.Z->StillAlive());
    EXPECT_EQ(0u, g.Vgs->DeviceResets);
    EXPECT_EQ(3u, g.Vgs->ResetsFailed);
    EXPECT_EQ(refused + 3, g.H3d->PrimitivesRefused);
    for (int k = 0; k < ZH3D_KINDS; k++) {
        EXPECT_EQ(nullptr, g.H3d->Tables[k]) << k;
        EXPECT_EQ(nullptr, g.H3d->VertexBuffers[k]) << k;
    }
    EXPECT_EQ(logged + 1, ZQ_CountLogLines(marker));
    spy.ForcedResetFailure = 0;

    g.H3d->SetCullingState(false, false);
    Frame();
    EXPECT_EQ("R", spy.Calls);
    EXPECT_EQ(2u, g.Z->StillAlive());
    EXPECT_EQ(1u, g.Vgs->DeviceResets);
    DWORD cull = 0;
    g.Vgs->Device->GetRenderState(D3DRS_CULLMODE, &cull);
    EXPECT_EQ((DWORD)D3DCULL_CW, cull);
    for (int k = 0; k < ZH3D_KINDS; k++)
        EXPECT_NE(nullptr, g.H3d->Tables[k]) << k;

    spy.ForcedState = 0;
    Frame();
    EXPECT_EQ(1u, g.Z->StillAlive());
    EXPECT_EQ("CBZEP", spy.Calls);
    EXPECT_EQ(composed + 1, g.Vgs->FramesComposed);
}

// A scene that cannot begin drops what was queued for it.
TEST_F(VgsFrame, AFailedBeginSceneDropsTheFramesPrimitives)
{
    POLYSTRUCT p = {};
    p.Kind = ZPRIM_COLORED_2D;
    p.Rhw = 1;
    g.H3d->DrawPoly(&p);
    spy.ForcedBeginSceneFailure = D3DERR_INVALIDCALL;
    Frame();
    EXPECT_EQ(1u, g.Vgs->ScenesFailed);
    EXPECT_EQ(ZH3D_FREE, g.H3d->Tables[ZH3D_TRIS_COLORED_2D][0].Count);
    EXPECT_EQ(1u, g.H3d->PrimitivesDropped);
    spy.ForcedBeginSceneFailure = 0;
    const uint32_t drawn = g.H3d->FramesDrawn;
    Frame();
    EXPECT_EQ(drawn + 1, g.H3d->FramesDrawn);
    EXPECT_EQ(0u, g.H3d->FramePrimitives);
}

// ---------------------------------------------------------------------------
// The layer table

class VgsTable : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(g.Open()); v = g.Vgs; }
    void TearDown() override { g.Close(); }
    ZQGfx g;
    CZVgs* v = nullptr;
};

TEST_F(VgsTable, NewLayersAndTheLimit)
{
    EXPECT_EQ(1u, v->LayerCount);
    const ZVGS_LAYER& s = v->Layers[0];
    EXPECT_EQ(ZVGS_HANDLE_3D, s.Handle);
    EXPECT_EQ(ZVGS_LAYER_3D, s.Kind);
    EXPECT_EQ(ZVGS_ORDER_3D, s.Order);
    EXPECT_EQ(ZVGS_USER_VALUE, s.UserValue);
    EXPECT_EQ(0u, v->CreateLayer3D());
    EXPECT_EQ(1u, v->LayersRefused);

    unsigned long h[7];
    for (int i = 0; i < 7; i++) {
        h[i] = v->CreateLayer2D();
        ASSERT_NE(0u, h[i]) << i;
        const ZVGS_LAYER& l = v->Layers[i + 1];
        EXPECT_EQ(h[i], l.Handle);
        EXPECT_EQ(ZVGS_LAYER_2D, l.Kind);
        EXPECT_EQ(ZVGS_ORDER_2D, l.Order);
        EXPECT_EQ(ZVGS_DRAW_COPY, l.DrawMode);
        EXPECT_EQ(ZVGS_USER_VALUE, l.UserValue);
        EXPECT_EQ((void*)(uintptr_t)h[i], v->GetLayerPtr(h[i]));
    }
    EXPECT_EQ(64u * 4 * 64, v->LayerSize);
    EXPECT_EQ(8u, v->LayerCount);
    EXPECT_EQ(0u, v->CreateLayer2D());
    EXPECT_EQ(2u, v->LayersRefused);
    // The 3D layer's entry, once freed, takes a 2D layer; then the table is
    // full for a 3D layer too...
    v->DestroyLayer3D(ZVGS_HANDLE_3D);
    EXPECT_EQ(7u, v->LayerCount);
    EXPECT_NE(0u, v->CreateLayer2D());
    EXPECT_EQ(0u, v->CreateLayer3D());
    EXPECT_EQ(3u, v->LayersRefused);
    // ...and a freed entry takes the 3D layer again.
    v->DestroyLayer2D(h[0]);
    EXPECT_EQ(ZVGS_HANDLE_3D, v->CreateLayer3D());
    EXPECT_EQ(8u, v->LayerCount);
}

TEST_F(VgsTable, DestroyKeepsTheLiveEntriesInFront)
{
    unsigned long a = v->CreateLayer2D(), b = v->CreateLayer2D(), c = v->CreateLayer2D();
    v->SetLayerProperty((int)c, 7, ZVGS_DRAW_COLORKEY, 123);
    v->DestroyLayer2D(b);
    ASSERT_EQ(3u, v->LayerCount);
    EXPECT_EQ(ZVGS_HANDLE_3D, v->Layers[0].Handle);
    EXPECT_EQ(a, v->Layers[1].Handle);
    EXPECT_EQ(c, v->Layers[2].Handle);
    EXPECT_EQ(7u, v->Layers[2].Order);
    EXPECT_EQ(ZVGS_DRAW_COLORKEY, v->Layers[2].DrawMode);
    EXPECT_EQ(123u, v->Layers[2].UserValue);
    for (int i = 3; i < ZVGS_MAX_LAYERS; i++) {
        EXPECT_EQ(0u, v->Layers[i].Handle) << i;
        EXPECT_EQ(ZVGS_LAYER_FREE_ORDER, v->Layers[i].Order) << i;
    }
    EXPECT_EQ(nullptr, v->GetLayerPtr(b));
    EXPECT_EQ(nullptr, v->GetLayerPtr(0));

    // Handles of the wrong kind, unknown or already destroyed change nothing.
    ZVGS_LAYER before[ZVGS_MAX_LAYERS];
    memcpy(before, v->Layers, sizeof(before));
    v->DestroyLayer2D(b);
    v->DestroyLayer2D(ZVGS_HANDLE_3D);
    v->DestroyLayer3D(a);
    v->DestroyLayer2D(0);
    EXPECT_EQ(3u, v->LayerCount);
    EXPECT_EQ(0, memcmp(before, v->Layers, sizeof(before)));

    v->DestroyLayer3D(ZVGS_HANDLE_3D);
    ASSERT_EQ(2u, v->LayerCount);
    EXPECT_EQ(a, v->Layers[0].Handle);
    EXPECT_EQ(c, v->Layers[1].Handle);
    EXPECT_EQ(nullptr, v->GetLayerPtr(ZVGS_HANDLE_3D));
}

TEST_F(VgsTable, SetLayerPropertyFindsOnlyLiveHandles)
{
    unsigned long a = v->CreateLayer2D();
    ZVGS_LAYER before[ZVGS_MAX_LAYERS];
    memcpy(before, v->Layers, sizeof(before));
    v->SetLayerProperty((int)(a + 4), 3, ZVGS_DRAW_COLORKEY, 9);
    v->SetLayerProperty(0, 3, ZVGS_DRAW_COLORKEY, 9);
    EXPECT_EQ(0, memcmp(before, v->Layers, sizeof(before)));

    v->SetLayerProperty((int)a, 3, ZVGS_DRAW_COLORKEY, 9);
    EXPECT_EQ(3u, v->Layers[1].Order);
    EXPECT_EQ(ZVGS_DRAW_COLORKEY, v->Layers[1].DrawMode);
    EXPECT_EQ(9u, v->Layers[1].UserValue);

    // Reordered at the next frame: the 3D layer above, the 2D one below.
    v->SetLayerProperty(ZVGS_HANDLE_3D, 4, 0, 0);
    g.Frame();
    EXPECT_EQ(a, v->Layers[0].Handle);
    EXPECT_EQ(ZVGS_HANDLE_3D, v->Layers[1].Handle);
    EXPECT_EQ(1u, v->LowerCount);
    EXPECT_EQ(0u, v->UpperCount);
}

TEST_F(VgsTable, LayerBuffersAreZeroedAndGivenBack)
{
    unsigned long a = v->CreateLayer2D();
    ASSERT_NE(0u, a);
    uint8_t* p = (uint8_t*)v->GetLayerPtr(a);
    memset(p, 0xAB, v->LayerSize);
    v->ClearLayer(a);
    size_t nonzero = 0;
    for (unsigned long i = 0; i < v->LayerSize; i++)
        nonzero += p[i] != 0;
    EXPECT_EQ(0u, nonzero);
    // Neither the 3D handle nor an unknown one is written through.
    v->ClearLayer(ZVGS_HANDLE_3D);
    v->ClearLayer(a + 8);

    memset(p, 0xAB, v->LayerSize);
    v->DestroyLayer2D(a);
    // First fit: the freed buffer is the next one handed out, zero-filled.
    unsigned long b = v->CreateLayer2D();
    EXPECT_EQ(a, b);
    nonzero = 0;
    for (unsigned long i = 0; i < v->LayerSize; i++)
        nonzero += p[i] != 0;
    EXPECT_EQ(0u, nonzero);
}

// Init again with live layers: an empty, consistent table whose buffers went
// back to the memory manager, never freed entries still counted.
TEST_F(VgsTable, InitWithLiveLayersEmptiesTheTable)
{
    const unsigned long a = v->CreateLayer2D();
    ASSERT_NE(0u, a);
    ASSERT_EQ(2u, v->LayerCount);   // and the fixture's 3D layer
    v->Init(GetModuleHandleA(NULL), SW_SHOWNORMAL);
    EXPECT_EQ(0u, v->LayerCount);
    for (const ZVGS_LAYER& l : v->Layers) {
        EXPECT_EQ(0u, l.Handle);
        EXPECT_EQ(ZVGS_LAYER_FREE_ORDER, l.Order);
    }
    EXPECT_EQ(nullptr, v->GetLayerPtr(a));
    g.Frame();      // nothing to compose, nothing freed touched
    EXPECT_EQ(a, v->CreateLayer2D());   // its buffer was given back: first fit hands it out again
    EXPECT_EQ(ZVGS_HANDLE_3D, v->CreateLayer3D());
    EXPECT_EQ(2u, v->LayerCount);
}

} // namespace
