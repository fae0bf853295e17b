// The display's window, window procedure and message pump, the device it
// creates (windowed here, full screen and lost in child processes, which
// change the screen and the cursor), and the capability questions.
#include <cstring>

#include "gfx_fixture.h"
#include "zh3d_local.h"
#include "vgs_report.h"
#include "zkbd.h"
#include "zmem.h"
#include "zmse.h"
#include "zqtest.h"

namespace {

// An engine object with a selected mode, for what ZQGfx::Open does not
// cover (position, double size, the caller's window).
struct Engine {
    CZarquel* Z = nullptr;
    HWND Window = NULL;
    void Start()
    {
        Z = new CZarquel;
        ASSERT_TRUE(Z->Mem->InitHeap(16u << 20));
        Z->Vgs->Init(GetModuleHandleA(NULL), SW_SHOWNORMAL);
    }
    ~Engine()
    {
        delete Z;
        if (Window)
            DestroyWindow(Window);
        MSG msg;
        while (PeekMessageA(&msg, NULL, WM_QUIT, WM_QUIT, PM_REMOVE)) {
        }
    }
};

char g_title[] = "zarquel window test";

TEST(VgsWindow, ClassStylePositionAndDoubleSize)
{
    Engine e;
    e.Start();
    e.Z->Vgs->SelectGraphMode(64, 48, 30, 40, g_title, &e.Window, 1, 1, ZVGS_DEPTH_TRUE);
    ASSERT_NE((HWND)NULL, e.Window);
    EXPECT_EQ(e.Window, e.Z->Vgs->Window);

    WNDCLASSA wc;
    ASSERT_TRUE(GetClassInfoA(GetModuleHandleA(NULL), "ZARQUEL", &wc));
    EXPECT_EQ((UINT)(CS_HREDRAW | CS_VREDRAW), wc.style);
    EXPECT_EQ(LoadIconA(NULL, IDI_HAND), wc.hIcon);
    EXPECT_EQ(LoadCursorA(NULL, IDC_ARROW), wc.hCursor);
    EXPECT_EQ((HBRUSH)(COLOR_WINDOW + 1), wc.hbrBackground);

    char cls[32] = {0}, text[64] = {0};
    GetClassNameA(e.Window, cls, sizeof(cls));
    GetWindowTextA(e.Window, text, sizeof(text));
    EXPECT_STREQ("ZARQUEL", cls);
    EXPECT_STREQ(g_title, text);
    const LONG style = GetWindowLongA(e.Window, GWL_STYLE);
    // The system adds WS_CLIPSIBLINGS to every top-level window.
    EXPECT_EQ((LONG)WS_CAPTION, style & ~(LONG)(WS_VISIBLE | WS_CLIPSIBLINGS));
    EXPECT_TRUE(IsWindowVisible(e.Window));
    RECT r;
    GetWindowRect(e.Window, &r);
    EXPECT_EQ(30, r.left);
    EXPECT_EQ(40, r.top);
    EXPECT_EQ(128, r.right - r.left);
    EXPECT_EQ(96, r.bottom - r.top);
    // The back buffer keeps the mode's size.
    EXPECT_EQ(64u, e.Z->Vgs->PresentParams.BackBufferWidth);
    EXPECT_EQ(48u, e.Z->Vgs->PresentParams.BackBufferHeight);
    EXPECT_EQ(64u * 4 * 48, e.Z->Vgs->LayerSize);
    // Windowed: the cursor stays shown (counter 0, so showing once more is 1).
    EXPECT_EQ(1, ShowCursor(TRUE));
    ShowCursor(FALSE);
}

TEST(VgsWindow, SingleSizeWindowHasTheModesSize)
{
    Engine e;
    e.Start();
    // Above the system's smallest captioned window.
    e.Z->Vgs->SelectGraphMode(160, 120, 5, 6, g_title, &e.Window, 1, 0, ZVGS_DEPTH_TRUE);
    RECT r;
    GetWindowRect(e.Window, &r);
    EXPECT_EQ(5, r.left);
    EXPECT_EQ(6, r.top);
    EXPECT_EQ(160, r.right - r.left);
    EXPECT_EQ(120, r.bottom - r.top);
}

TEST(VgsWindow, CallersWindowIsUsedAsItIs)
{
    HWND own = CreateWindowExA(0, "STATIC", "own", WS_POPUP, 0, 0, 64, 64, NULL, NULL, GetModuleHandleA(NULL), NULL);
    ASSERT_NE((HWND)NULL, own);
    {
        Engine e;
        e.Start();
        e.Z->Vgs->SelectGraphMode(64, 64, 10, 10, g_title, own, 1, 1, ZVGS_DEPTH_TRUE);
        CZVgs* v = e.Z->Vgs;
        EXPECT_EQ(own, v->Window);
        EXPECT_EQ(own, v->PresentParams.hDeviceWindow);
        EXPECT_NE(nullptr, v->Device);
        EXPECT_EQ(v, CZVgs::Receiver);
        EXPECT_EQ(v, v->Ready);
        EXPECT_EQ(4u, v->GetPixelSize());
        EXPECT_FALSE(IsWindowVisible(own));
        EXPECT_EQ((HWND)NULL, FindWindowA("ZARQUEL", NULL));
        RECT r;
        GetWindowRect(own, &r);
        EXPECT_EQ(64, r.right - r.left);
    }
    EXPECT_EQ(nullptr, CZVgs::Receiver);
    DestroyWindow(own);
}

class VgsInput : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(g.Open()); }
    void TearDown() override { g.Close(); }
    ZQGfx g;
};

TEST_F(VgsInput, KeysGoToTheKeyboardRepeatsDoNot)
{
    CZKbd* k = g.Z->Kbd;
    EXPECT_EQ(g.Vgs, CZVgs::Receiver);
    EXPECT_EQ(0, SendMessageA(g.Window, WM_KEYDOWN, 'A', 0x001E0001));
    EXPECT_EQ(1, k->KeyState('A'));
    EXPECT_EQ(1, k->KeyChanged());
    // Only the low word is the key.
    SendMessageA(g.Window, WM_KEYUP, 0x10000 | 'A', 0xC01E0001);
    EXPECT_EQ(0, k->KeyState('A'));
    EXPECT_EQ(0, k->KeyChanged());
    // An auto-repeat (bit 30: the key was already down) presses nothing.
    SendMessageA(g.Window, WM_KEYDOWN, 'B', 0x40300001);
    EXPECT_EQ(0, k->KeyState('B'));
    EXPECT_EQ(0, k->KeyChanged());
    // A release comes through even with no press seen.
    k->State['C'] = 1;
    SendMessageA(g.Window, WM_KEYUP, 'C', 0xC02E0001);
    EXPECT_EQ(0, k->KeyState('C'));

    // Through the queue and WinMessages as well.
    PostMessageA(g.Window, WM_KEYDOWN, VK_SPACE, 0x00390001);
    MSG msg;
    while (PeekMessageA(&msg, g.Window, WM_KEYDOWN, WM_KEYDOWN, PM_NOREMOVE)) {
        g.Vgs->WinMessages();
    }
    EXPECT_EQ(1, k->KeyState(VK_SPACE));
}

TEST_F(VgsInput, MouseMessagesSetTheMouse)
{
    CZMse* m = g.Z->Mse;
    struct Case { UINT Message; WPARAM Flags; int L, R, M; };
    const Case cases[] = {
        {WM_MOUSEMOVE, 0, 0, 0, 0},
        {WM_LBUTTONDOWN, MK_LBUTTON, 1, 0, 0},
        {WM_MOUSEMOVE, MK_LBUTTON | MK_SHIFT, 1, 0, 0},
        {WM_LBUTTONUP, 0, 0, 0, 0},
        {WM_RBUTTONDOWN, MK_RBUTTON, 0, 1, 0},
        {WM_RBUTTONUP, 0, 0, 0, 0},
        {WM_MBUTTONDOWN, MK_MBUTTON | MK_LBUTTON, 1, 0, 1},
        {WM_MBUTTONUP, MK_LBUTTON, 1, 0, 0},
    };
    int i = 0;
    for (const Case& c : cases) {
        m->MouseChanged();
        EXPECT_EQ(0, SendMessageA(g.Window, c.Message, c.Flags, MAKELPARAM(10 + i, 20 + i))) << i;
        EXPECT_EQ(1, m->MouseChanged()) << i;
        EXPECT_EQ(c.L, m->GetLButton()) << i;
        EXPECT_EQ(c.R, m->GetRButton()) << i;
        EXPECT_EQ(c.M, m->GetMButton()) << i;
        EXPECT_EQ(10u + i, m->GetXpos()) << i;
        EXPECT_EQ(20u + i, m->GetYpos()) << i;
        i++;
    }
    // A wheel message is not the mouse's.
    SendMessageA(g.Window, WM_MOUSEWHEEL, MAKEWPARAM(0, 120), MAKELPARAM(1, 1));
    EXPECT_EQ(0, m->MouseChanged());
}

TEST_F(VgsInput, DisplayChangeSetsTheFlag)
{
    CZVgs::DisplayChanged = 0;
    EXPECT_EQ(0, SendMessageA(g.Window, WM_DISPLAYCHANGE, 32, MAKELPARAM(640, 480)));
    EXPECT_EQ(1, CZVgs::DisplayChanged);
    CZVgs::DisplayChanged = 0;
}

TEST_F(VgsInput, WinMessagesTakesOneMessagePerCall)
{
    MSG msg;
    while (PeekMessageA(&msg, g.Window, 0, 0, PM_REMOVE)) {
    }
    // An empty queue does not block.
    g.Vgs->WinMessages();
    PostMessageA(g.Window, WM_APP + 1, 0, 0);
    PostMessageA(g.Window, WM_APP + 2, 0, 0);
    g.Vgs->WinMessages();
    ASSERT_TRUE(PeekMessageA(&msg, g.Window, WM_APP, WM_APP + 10, PM_REMOVE));
    EXPECT_EQ((UINT)(WM_APP + 2), msg.message);
    EXPECT_FALSE(PeekMessageA(&msg, g.Window, WM_APP, WM_APP + 10, PM_REMOVE));

    // RenderScene takes one too.
    PostMessageA(g.Window, WM_APP + 3, 0, 0);
    PostMessageA(g.Window, WM_APP + 4, 0, 0);
    g.Frame();
    ASSERT_TRUE(PeekMessageA(&msg, g.Window, WM_APP, WM_APP + 10, PM_REMOVE));
    EXPECT_EQ((UINT)(WM_APP + 4), msg.message);
}

// Before a mode is selected (and after the engine object is gone) the
// window procedure feeds no one and leaves every message to the system.
TEST(VgsInputNoReceiver, MessagesGoToTheDefaultProcedure)
{
    HWND old = NULL;
    {
        ZQGfx g;
        ASSERT_TRUE(g.Open());
        old = g.Window;
        g.Window = NULL;   // kept past the engine object
        g.Close();
    }
    EXPECT_EQ(nullptr, CZVgs::Receiver);
    CZarquel z;
    z.Vgs->Init(GetModuleHandleA(NULL), SW_SHOWNORMAL);
    SendMessageA(old, WM_KEYDOWN, 'A', 1);
    SendMessageA(old, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(3, 4));
    EXPECT_EQ(0, z.Kbd->KeyState('A'));
    EXPECT_EQ(0, z.Mse->MouseChanged());
    // The default procedure answers what the engine does not handle itself.
    char text[64] = {0};
    EXPECT_GT(SendMessageA(old, WM_GETTEXT, sizeof(text), (LPARAM)text), 0);
    EXPECT_STREQ("zarquel test", text);
    DestroyWindow(old);
    MSG msg;
    while (PeekMessageA(&msg, NULL, WM_QUIT, WM_QUIT, PM_REMOVE)) {
    }
}

// ---------------------------------------------------------------------------
// The device

TEST(VgsDevice, WindowedParametersAndFlags)
{
    ZQGfx g;
    ASSERT_TRUE(g.Open(64, 32));
    CZVgs* v = g.Vgs;
    D3DDISPLAYMODE mode;
    ASSERT_EQ(D3D_OK, v->D3D->GetAdapterDisplayMode(0, &mode));
    const D3DPRESENT_PARAMETERS& pp = v->PresentParams;
    EXPECT_EQ(mode.Format, pp.BackBufferFormat);
    EXPECT_EQ(D3DFMT_X8R8G8B8, pp.BackBufferFormat);
    EXPECT_EQ(4u, v->GetPixelSize());
    EXPECT_EQ(64u, pp.BackBufferWidth);
    EXPECT_EQ(32u, pp.BackBufferHeight);
    EXPECT_EQ(1u, pp.BackBufferCount);
    EXPECT_EQ(D3DSWAPEFFECT_DISCARD, pp.SwapEffect);
    EXPECT_EQ(TRUE, pp.Windowed);
    EXPECT_EQ(0u, pp.PresentationInterval);
    EXPECT_EQ(D3DMULTISAMPLE_NONE, pp.MultiSampleType);
    EXPECT_EQ(TRUE, pp.EnableAutoDepthStencil);
    EXPECT_EQ(D3DFMT_D16, pp.AutoDepthStencilFormat);
    EXPECT_EQ((DWORD)D3DPRESENTFLAG_LOCKABLE_BACKBUFFER, pp.Flags);
    EXPECT_EQ(0u, pp.FullScreen_RefreshRateInHz);
    EXPECT_EQ(g.Window, pp.hDeviceWindow);

    // The software renderer Wine runs on offers vertex shaders: mixed.
    EXPECT_NE(0u, g.Z->Caps->GetVertexShaderVersion());
    EXPECT_EQ(1, v->MixedVertexProcessing);
    D3DDEVICE_CREATION_PARAMETERS cp;
    ASSERT_EQ(D3D_OK, v->Device->GetCreationParameters(&cp));
    EXPECT_EQ(0u, cp.AdapterOrdinal);
    EXPECT_EQ(D3DDEVTYPE_HAL, cp.DeviceType);
    EXPECT_EQ(g.Window, cp.hFocusWindow);
    EXPECT_EQ((DWORD)(D3DCREATE_MIXED_VERTEXPROCESSING | D3DCREATE_MULTITHREADED), cp.BehaviorFlags);
    EXPECT_EQ(0x84u, cp.BehaviorFlags);

    // The back buffer is lockable, and a mode selected twice replaces the
    // first device.
    IDirect3DSurface9* s = nullptr;
    ASSERT_EQ(D3D_OK, v->Device->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &s));
    D3DLOCKED_RECT lr;
    EXPECT_EQ(D3D_OK, s->LockRect(&lr, NULL, 0));
    s->UnlockRect();
    s->Release();
    g.Close();
}

TEST(VgsDevice, SelectingAgainStartsAFreshLayerTable)
{
    ZQGfx g;
    ASSERT_TRUE(g.Open(64, 64));
    CZVgs* v = g.Vgs;
    unsigned long a = v->CreateLayer2D(), b = v->CreateLayer2D();
    ASSERT_NE(0u, a);
    ASSERT_NE(0u, b);
    g.H3d->H3D_DeInit();
    const uint32_t refused = g.Z->Mem->FreeMemRefused;
    HWND first = g.Window;
    char title[] = "again";
    v->SelectGraphMode(32, 32, 0, 0, title, &g.Window, 1, 0, ZVGS_DEPTH_TRUE);
    DestroyWindow(first);
    g.H3d->Init();
    EXPECT_EQ(0u, v->LayerCount);
    EXPECT_EQ(nullptr, v->GetLayerPtr(a));
    for (int i = 0; i < ZVGS_MAX_LAYERS; i++)
        EXPECT_EQ(0u, v->Layers[i].Handle) << i;
    // New layers have the new size; destroying one brings back none of the old.
    unsigned long c = v->CreateLayer2D();
    ASSERT_NE(0u, c);
    EXPECT_EQ(32u * 4 * 32, v->LayerSize);
    v->DestroyLayer2D(c);
    EXPECT_EQ(0u, v->LayerCount);
    EXPECT_EQ(refused, g.Z->Mem->FreeMemRefused);
    ASSERT_EQ(ZVGS_HANDLE_3D, v->CreateLayer3D());
    g.Frame();
    EXPECT_EQ(1u, v->LayerCount);
    g.Close();
}

// ---------------------------------------------------------------------------
// Capabilities

TEST(VgsCaps, QuestionsFollowTheDeviceCaps)
{
    ZQGfx g;
    ASSERT_TRUE(g.Open());
    CZCaps* c = g.Z->Caps;
    D3DCAPS9 dev;
    ASSERT_EQ(D3D_OK, g.Vgs->Device->GetDeviceCaps(&dev));
    EXPECT_EQ(dev.MaxTextureWidth, c->MaxTextureWidth());
    EXPECT_EQ(dev.MaxTextureHeight, c->MaxTextureHeight());
    EXPECT_EQ(dev.MaxSimultaneousTextures, c->MaxMultitextureStages());
    EXPECT_EQ(dev.MaxPrimitiveCount, c->MaxPrimitives());
    EXPECT_EQ(dev.MaxActiveLights, c->MaxActiveLights());
    EXPECT_EQ(dev.MaxStreams, c->MaxStreams());
    EXPECT_EQ(dev.MaxVertexShaderConst, c->MaxVSConstRegisters());
    EXPECT_EQ(dev.VertexShaderVersion & 0xFFFF, c->GetVertexShaderVersion());
    EXPECT_TRUE(c->CanRenderWindowed());

    D3DCAPS9& d = c->DeviceCaps;
    d.VertexShaderVersion = 0xFFFE0101;
    EXPECT_EQ(0x0101u, c->GetVertexShaderVersion());
    d.Caps2 = 1;
    EXPECT_TRUE(c->HasWBuffer());
    d.Caps2 = ~1u;
    EXPECT_FALSE(c->HasWBuffer());

    struct Case { DWORD Ops, Stages; bool Bump, Luminance; };
    const Case cases[] = {
        {D3DTEXOPCAPS_BUMPENVMAP, 2, false, false},
        {D3DTEXOPCAPS_BUMPENVMAP, 3, true, false},
        {D3DTEXOPCAPS_BUMPENVMAPLUMINANCE, 2, false, false},
        {D3DTEXOPCAPS_BUMPENVMAPLUMINANCE, 3, false, true},
        {D3DTEXOPCAPS_BUMPENVMAP | D3DTEXOPCAPS_BUMPENVMAPLUMINANCE, 8, true, true},
        {~(DWORD)(D3DTEXOPCAPS_BUMPENVMAP | D3DTEXOPCAPS_BUMPENVMAPLUMINANCE), 8, false, false},
    };
    for (const Case& k : cases) {
        d.TextureOpCaps = k.Ops;
        d.MaxTextureBlendStages = k.Stages;
        EXPECT_EQ(k.Bump, c->BumpSupport()) << std::hex << k.Ops << " " << k.Stages;
        EXPECT_EQ(k.Luminance, c->BumpLuminanceSupport()) << std::hex << k.Ops << " " << k.Stages;
    }
    g.Close();
}

// ---------------------------------------------------------------------------
// Fatal paths and full screen, in child processes

ZQ_CHILD(vgs_no_init)
{
    CZarquel z;
    z.Mem->InitHeap(1u << 20);
    HWND w = NULL;
    z.Vgs->SelectGraphMode(64, 64, 0, 0, g_title, &w, 1, 0, ZVGS_DEPTH_TRUE);
}

TEST(VgsFatal, SelectGraphModeBeforeInit)
{
    EXPECT_TRUE(ZQ_OneBox(ZQ_RunChild("vgs_no_init"), 1, "You need to init VGS before!", "Zarquel ZVGS"));
}

// Full-screen start at 640x480 with the given depth request; what it found
// goes to the report.
void FullScreenStart(const char* scenario, unsigned long depth, unsigned long width = 640, unsigned long height = 480)
{
    ZQReport report(scenario);
    CZarquel* z = new CZarquel;
    z->Mem->InitHeap(16u << 20);
    z->Vgs->Init(GetModuleHandleA(NULL), SW_SHOWNORMAL);
    // Left over from an earlier mode: must not end this mode's wait.
    CZVgs::DisplayChanged = 1;
    HWND w = NULL;
    const DWORD start = GetTickCount();
    z->Vgs->SelectGraphMode(width, height, 0, 0, g_title, &w, 0, 0, depth);
    report.Put("elapsed_ms", (long)(GetTickCount() - start));
    report.Put("display_changed", CZVgs::DisplayChanged);
    CZVgs* v = z->Vgs;
    report.Put("pixel_size", (long)v->PixelSize);
    report.Put("format", (long)v->PresentParams.BackBufferFormat);
    report.Put("windowed", v->PresentParams.Windowed);
    report.Put("interval", (long)v->PresentParams.PresentationInterval);
    report.Put("count", (long)v->PresentParams.BackBufferCount);
    report.Put("flags", (long)v->PresentParams.Flags);
    report.Put("depth_format", (long)v->PresentParams.AutoDepthStencilFormat);
    report.Put("mixed", v->MixedVertexProcessing);
    D3DDEVICE_CREATION_PARAMETERS cp = {};
    v->Device->GetCreationParameters(&cp);
    report.Put("behavior", (long)cp.BehaviorFlags);
    // Hidden once: showing it again brings the counter back to 0.
    report.Put("cursor_counter", ShowCursor(TRUE));
    delete z;
}

ZQ_CHILD(vgs_full_true) { FullScreenStart("vgs_full_true", ZVGS_DEPTH_TRUE); }
ZQ_CHILD(vgs_full_16) { FullScreenStart("vgs_full_16", ZVGS_DEPTH_16); }
ZQ_CHILD(vgs_full_depth3) { FullScreenStart("vgs_full_depth3", 3); }
#define ZQ_NEED_640x480()                                                                      \
    if (!ZQ_Screen640x480())                                                                   \
    GTEST_SKIP() << "full-screen tests need a 640x480 screen (scripts/zq's private Xvfb); this one is " \
                 << GetSystemMetrics(SM_CXSCREEN) << "x" << GetSystemMetrics(SM_CYSCREEN)

// The screen is already 640x480 at 32 bits: Wine switches nothing and sends
// no WM_DISPLAYCHANGE, so the start must not wait for one. (Xvfb offers no
// other mode, so a real switch cannot be made here.)
TEST(VgsFullScreen, TrueColourRequestGivesX8R8G8B8WithoutWaiting)
{
    ZQ_NEED_640x480();
    std::map<std::string, long> r;
    ZQChild c = ZQ_RunReportingChild("vgs_full_true", r);
    ASSERT_FALSE(c.TimedOut);
    EXPECT_EQ(0u, c.ExitCode);
    EXPECT_EQ(0u, c.Boxes.size());
    EXPECT_EQ(4, r["pixel_size"]);
    EXPECT_EQ(D3DFMT_X8R8G8B8, r["format"]);
    EXPECT_EQ(FALSE, r["windowed"]);
    EXPECT_EQ((long)D3DPRESENT_INTERVAL_ONE, r["interval"]);
    EXPECT_EQ(1, r["count"]);
    EXPECT_EQ(D3DPRESENTFLAG_LOCKABLE_BACKBUFFER, r["flags"]);
    EXPECT_EQ(D3DFMT_D16, r["depth_format"]);
    EXPECT_EQ(1, r["mixed"]);
    EXPECT_EQ(0x80, r["behavior"]);
    EXPECT_EQ(0, r["cursor_counter"]);
    // The flag an earlier mode left was cleared, and nothing set it again.
    EXPECT_EQ(0, r["display_changed"]);
    EXPECT_LT(r["elapsed_ms"], 2000);
    printf("full-screen start: %ld ms\n", r["elapsed_ms"]);
}

TEST(VgsFullScreen, HiColourRequestOnATrueColourScreenFailsCreation)
{
    ZQ_NEED_640x480();
    if (GetDeviceCaps(GetDC(NULL), BITSPIXEL) == 16)
        GTEST_SKIP() << "the screen is 16-bit";
    EXPECT_TRUE(ZQ_OneBox(ZQ_RunChild("vgs_full_16"), 1, "CreateDevice FAILED. DirectX 9.0 required", "Zarquel ZVGS"));
}

TEST(VgsFullScreen, UnknownDepthRequest)
{
    ZQ_NEED_640x480();
    EXPECT_TRUE(ZQ_OneBox(ZQ_RunChild("vgs_full_depth3"), 1,
                          "Unknown color depth requested (1 = 16 bits, 2 = 24/32 bits)", "Zarquel ZVGS"));
}

// A real lost device: losing activation loses a full-screen device under
// Wine, getting it back asks for a reset.
ZQ_CHILD(vgs_lost)
{
    ZQReport report("vgs_lost");
    CZarquel* z = new CZarquel;
    z->Mem->InitHeap(64u << 20);
    CZVgs* v = z->Vgs;
    CZH3d* h = z->H3d;
    v->Init(GetModuleHandleA(NULL), SW_SHOWNORMAL);
    HWND w = NULL;
    v->SelectGraphMode(640, 480, 0, 0, g_title, &w, 0, 0, ZVGS_DEPTH_TRUE);
    h->Init();
    v->CreateLayer3D();
    v->RenderScene(nullptr, nullptr);
    report.Put("alive_before", (long)z->StillAlive());
    report.Put("composed_before", (long)v->FramesComposed);

    h->SetCullingState(false, false);
    h->SetZBufferState(false);
    h->SetTextureWrapping(false);

    SendMessageA(w, WM_ACTIVATEAPP, FALSE, 0);
    report.Put("state_deactivated", (long)v->Device->TestCooperativeLevel());
    // Queued for the frame that finds the device lost: dropped, never drawn.
    POLYSTRUCT tri = {};
    tri.Kind = ZPRIM_COLORED_2D;
    tri.Rhw = 1.0f;
    POINTSTRUCT point = {};
    point.Kind = ZPRIM_POINT;
    h->DrawPoly(&tri);
    h->DrawPoint(&point);
    const uint32_t drawnBefore = h->FramesDrawn;
    v->RenderScene(nullptr, nullptr);
    report.Put("lost_dropped", (long)h->PrimitivesDropped);
    report.Put("lost_drawn", (long)(h->FramesDrawn - drawnBefore));
    report.Put("lost_left", (long)(h->Tables[ZH3D_TRIS_COLORED_2D][0].Count != ZH3D_FREE) +
                                (h->Tables[ZH3D_POINTS][0].Count != ZH3D_FREE));
    report.Put("lost_alive", (long)z->StillAlive());
    report.Put("lost_frames", (long)v->FramesLost);
    report.Put("lost_resets", (long)v->DeviceResets);
    report.Put("lost_composed", (long)v->FramesComposed);

    SendMessageA(w, WM_ACTIVATEAPP, TRUE, 0);
    report.Put("state_activated", (long)v->Device->TestCooperativeLevel());
    v->RenderScene(nullptr, nullptr);
    report.Put("reset_alive", (long)z->StillAlive());
    report.Put("reset_resets", (long)v->DeviceResets);
    report.Put("reset_state", (long)v->Device->TestCooperativeLevel());
    DWORD cull = 0, zenable = 0, address = 0;
    v->Device->GetRenderState(D3DRS_CULLMODE, &cull);
    v->Device->GetRenderState(D3DRS_ZENABLE, &zenable);
    v->Device->GetSamplerState(0, D3DSAMP_ADDRESSU, &address);
    report.Put("reset_cull", (long)cull);
    report.Put("reset_zenable", (long)zenable);
    report.Put("reset_address", (long)address);
    report.Put("reset_wrapping", h->WrappingOn);
    report.Put("reset_zbuffer", h->ZBufferOn);
    long tables = 0;
    for (int k = 0; k < ZH3D_KINDS; k++)
        tables += h->Tables[k] != nullptr && h->VertexBuffers[k] != nullptr;
    report.Put("reset_tables", tables);

    v->RenderScene(nullptr, nullptr);
    report.Put("after_alive", (long)z->StillAlive());
    report.Put("after_composed", (long)v->FramesComposed);
    report.Put("after_lost_flag", v->DeviceLost);
    report.Put("done", 1);
    delete z;
}

TEST(VgsFullScreen, LostDeviceCycle)
{
    ZQ_NEED_640x480();
    std::map<std::string, long> r;
    ZQChild c = ZQ_RunReportingChild("vgs_lost", r);
    ASSERT_FALSE(c.TimedOut);
    EXPECT_EQ(0u, c.ExitCode);
    EXPECT_EQ(0u, c.Boxes.size());
    ASSERT_EQ(1, r["done"]);
    EXPECT_EQ(1, r["alive_before"]);
    EXPECT_EQ(1, r["composed_before"]);

    ASSERT_EQ(D3DERR_DEVICELOST, r["state_deactivated"]);
    EXPECT_EQ(2, r["lost_alive"]);
    EXPECT_EQ(2, r["lost_dropped"]);
    EXPECT_EQ(0, r["lost_drawn"]);
    EXPECT_EQ(0, r["lost_left"]);
    EXPECT_EQ(1, r["lost_frames"]);
    EXPECT_EQ(0, r["lost_resets"]);
    EXPECT_EQ(1, r["lost_composed"]);

    ASSERT_EQ(D3DERR_DEVICENOTRESET, r["state_activated"]);
    EXPECT_EQ(2, r["reset_alive"]);
    EXPECT_EQ(1, r["reset_resets"]);
    EXPECT_EQ(D3D_OK, r["reset_state"]);
    EXPECT_EQ(D3DCULL_CW, r["reset_cull"]);
    EXPECT_NE(D3DZB_FALSE, r["reset_zenable"]);
    EXPECT_EQ(D3DTADDRESS_WRAP, r["reset_address"]);
    EXPECT_EQ(1, r["reset_wrapping"]);
    EXPECT_EQ(1, r["reset_zbuffer"]);
    EXPECT_EQ(ZH3D_KINDS, r["reset_tables"]);

    EXPECT_EQ(1, r["after_alive"]);
    EXPECT_EQ(2, r["after_composed"]);
    EXPECT_EQ(0, r["after_lost_flag"]);
}

} // namespace
