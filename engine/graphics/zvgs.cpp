#include "zvgs.h"

#include <cstring>

#include "zcaps.h"
#include "zdebug.h"
#include "zh3d.h"
#include "zkbd.h"
#include "zmem.h"
#include "zmse.h"

static const char* const VGS_CAPTION = "Zarquel ZVGS";
static const char* const VGS_CLASS = "ZARQUEL";
// WM_KEYDOWN lParam: the key was already down (an auto-repeat).
static const LPARAM VGS_KEY_REPEAT = 1 << 30;
// A full-screen start waits for WM_DISPLAYCHANGE; if the system never sends
// one (a mode switch to the mode already in use may not), give up after this
// long instead of hanging, and say so in the log.
static const DWORD VGS_DISPLAY_CHANGE_WAIT_MS = 5000;

CZVgs* CZVgs::Receiver = nullptr;
volatile unsigned char CZVgs::DisplayChanged = 0;

CZVgs::CZVgs()
{
    ClearColor = 0;
    Mem = nullptr; Kbd = nullptr; Mse = nullptr; H3d = nullptr; Debug = nullptr; Caps = nullptr;
    DeviceLost = 0;
    Width = Height = Depth = 0;
    CallBack3D = nullptr;
    D3D = nullptr;
    memset(&PresentParams, 0, sizeof(PresentParams));
    Device = nullptr;
    MixedVertexProcessing = 0;
    Instance = NULL;
    ShowCommand = 0;
    Window = NULL;
    Windowed = DoubleSize = 0;
    Ready = nullptr;
    LayerSize = PixelSize = LayerCount = 0;
    ReorderNeeded = 0;
    memset(Layers, 0, sizeof(Layers));
    Initialised = 0;
    ClearEachFrame = PresentEachFrame = 1;
    LowerBuffer = UpperBuffer = nullptr;
    LowerCount = UpperCount = 0;
    FramesComposed = FramesLost = DeviceResets = LayersRefused = 0;
    ResetsFailed = ScenesFailed = DeviceCallsFailed = 0;
    FailureLogged = 0;
}

// The one place the checked device results go through: a failure is counted
// and, unless the caller logs it its own way, logged with the call's name.
bool CZVgs::VGS_Check(HRESULT hr, const char* call, bool log)
{
    if (SUCCEEDED(hr))
        return true;
    DeviceCallsFailed++;
    if (log && Debug)
        Debug->OutputDebug("ZVGS: %s failed (0x%08lx)", call, (unsigned long)hr);
    return false;
}

CZVgs::~CZVgs()
{
    // The window outlives this object; it must not feed a deleted one.
    if (Receiver == this)
        Receiver = nullptr;
    ReleaseObjects();
    if (Mem)
        VGS_FreeModeMemory();
}

// The layers and composition buffers of the selected mode, all sized for it.
void CZVgs::VGS_FreeModeMemory()
{
    VGS_FreeLayers();
    if (LowerBuffer)
        Mem->FreeMem(LowerBuffer, LayerSize);
    if (UpperBuffer)
        Mem->FreeMem(UpperBuffer, LayerSize);
    LowerBuffer = UpperBuffer = nullptr;
}

void CZVgs::Init(HINSTANCE instance, int showCommand)
{
    Instance = instance;
    ShowCommand = showCommand;
    // Layers made before this Init go, buffers and count with them: the
    // table is left empty and consistent, never with freed entries counted.
    VGS_FreeLayers();
    Initialised = 1;
    ClearEachFrame = 1;
    PresentEachFrame = 1;
}

// ---------------------------------------------------------------------------
// Window, mode and device

int CZVgs::CreateVGSWindow(unsigned long x, unsigned long y, char* title)
{
    WNDCLASSA wc = {};
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = VGS_WindowProc;
    wc.hInstance = Instance;
    wc.hIcon = LoadIconA(NULL, IDI_HAND);
    wc.hCursor = LoadCursorA(NULL, IDC_ARROW);
    wc.hbrBackground = (HBRUSH)(COLOR_WINDOW + 1);
    wc.lpszClassName = VGS_CLASS;
    // A second engine object in the same process finds the class registered.
    RegisterClassA(&wc);

    unsigned long w = Width, h = Height;
    if (DoubleSize) {
        w *= 2;
        h *= 2;
    }
    HWND window = CreateWindowExA(0, VGS_CLASS, title, WS_CAPTION, (int)x, (int)y, (int)w, (int)h,
                                  NULL, NULL, Instance, NULL);
    if (!window)
        return 0;
    Window = window;
    if (!Windowed)
        ShowCursor(FALSE);
    ShowWindow(window, ShowCommand);
    UpdateWindow(window);
    SetFocus(window);
    SetActiveWindow(window);
    return 1;
}

void CZVgs::SelectGraphMode(unsigned long width, unsigned long height, unsigned long x, unsigned long y,
                            char* title, HWND* window, int windowed, int doubleSize, unsigned long depth)
{
    VGS_BeginSelect(windowed, doubleSize, depth);
    // The window's size comes from the mode; CreateVGSWindow reads it.
    Width = width;
    Height = height;
    if (!CreateVGSWindow(x, y, title))
        Debug->ShowMessageAndExit("Can't open window. uh\xBF?", VGS_CAPTION);
    if (window)
        *window = Window;
    // The flag is process-wide: one set by an earlier mode must not end this
    // mode's wait. The change arrives during device creation at the earliest.
    DisplayChanged = 0;
    DEVMODEA before = {};
    before.dmSize = sizeof(before);
    const bool known = EnumDisplaySettingsA(NULL, ENUM_CURRENT_SETTINGS, &before) != 0;
    VGS_SelectMode(width, height);

    ShowWindow(Window, SW_SHOWNORMAL);
    // A desktop already in the requested mode is not switched, and then no
    // WM_DISPLAYCHANGE comes (Wine skips such a switch): nothing to wait for.
    const bool unchanged = known && before.dmPelsWidth == Width && before.dmPelsHeight == Height &&
                           before.dmBitsPerPel == PixelSize * 8;
    if (!Windowed && !unchanged) {
        DWORD start = GetTickCount();
        while (!DisplayChanged) {
            if (GetTickCount() - start > VGS_DISPLAY_CHANGE_WAIT_MS) {
                Debug->OutputDebug("ZVGS: no WM_DISPLAYCHANGE within %lu ms; going on",
                                   (unsigned long)VGS_DISPLAY_CHANGE_WAIT_MS);
                break;
            }
            WinMessages();
            MsgWaitForMultipleObjects(0, NULL, FALSE, 10, QS_ALLINPUT);
        }
    }
}

void CZVgs::SelectGraphMode(unsigned long width, unsigned long height, unsigned long, unsigned long, char*,
                            HWND window, int windowed, int doubleSize, unsigned long depth)
{
    VGS_BeginSelect(windowed, doubleSize, depth);
    Window = window;
    VGS_SelectMode(width, height);
}

// What both forms do before there is a window.
void CZVgs::VGS_BeginSelect(int windowed, int doubleSize, unsigned long depth)
{
    if (!Initialised)
        Debug->ShowMessageAndExit("You need to init VGS before!", VGS_CAPTION);
    Windowed = windowed;
    DoubleSize = doubleSize;
    Depth = depth;
    Ready = nullptr;
}

// What both forms share once the window exists.
void CZVgs::VGS_SelectMode(unsigned long width, unsigned long height)
{
    Width = width;
    Height = height;
    // A second selection replaces the first mode's device and buffers, and
    // its layers: they were sized for the first mode.
    ReleaseObjects();
    VGS_FreeModeMemory();

    CreateVGSDDraw();

    LayerSize = Width * PixelSize * Height;
    LowerBuffer = (uint8_t*)Mem->GetMem(LayerSize);
    UpperBuffer = (uint8_t*)Mem->GetMem(LayerSize);
    if (!LowerBuffer || !UpperBuffer)
        Debug->ShowMessageAndExit("Not enough memory for the layer composition buffers", VGS_CAPTION);

    Receiver = this;
    Ready = this;
}

void CZVgs::CreateVGSDDraw()
{
    D3D = Direct3DCreate9(ZVGS_SDK_VERSION);
    if (!D3D)
        Debug->ShowMessageAndExit("DirectDrawCreateEx FAILED. DirectX 9.0 required", VGS_CAPTION);
    Caps->Init();

    D3DDISPLAYMODE mode;
    if (!VGS_Check(D3D->GetAdapterDisplayMode(0, &mode), "GetAdapterDisplayMode"))
        Debug->ShowMessageAndExit("GetAdapterDisplayMode FAILED. DirectX 9.0 required", VGS_CAPTION);

    D3DPRESENT_PARAMETERS& pp = PresentParams;
    memset(&pp, 0, sizeof(pp));
    pp.BackBufferWidth = Width;
    pp.BackBufferHeight = Height;
    pp.hDeviceWindow = Window;

    if (Windowed) {
        pp.BackBufferFormat = mode.Format;
        switch (mode.Format) {
        case D3DFMT_R5G6B5: PixelSize = 2; break;
        case D3DFMT_R8G8B8: PixelSize = 3; break;
        case D3DFMT_A8R8G8B8:
        case D3DFMT_X8R8G8B8: PixelSize = 4; break;
        default:
            Debug->ShowMessageAndExit("Desktop color format not supported", VGS_CAPTION);
        }
        pp.BackBufferCount = 1;
        pp.SwapEffect = D3DSWAPEFFECT_DISCARD;
        pp.Windowed = TRUE;
        pp.PresentationInterval = 0;
    } else {
        auto usable = [this](D3DFORMAT format) {
            return SUCCEEDED(D3D->CheckDeviceFormat(0, D3DDEVTYPE_HAL, format, D3DUSAGE_RENDERTARGET,
                                                    D3DRTYPE_SURFACE, format));
        };
        if (Depth == ZVGS_DEPTH_16) {
            if (!usable(D3DFMT_R5G6B5))
                Debug->ShowMessageAndExit("Hi-Color mode not avaliable", VGS_CAPTION);
            pp.BackBufferFormat = D3DFMT_R5G6B5;
            PixelSize = 2;
        } else if (Depth == ZVGS_DEPTH_TRUE) {
            if (usable(D3DFMT_R8G8B8)) {
                pp.BackBufferFormat = D3DFMT_R8G8B8;
                PixelSize = 3;
            } else if (usable(D3DFMT_X8R8G8B8)) {
                pp.BackBufferFormat = D3DFMT_X8R8G8B8;
                PixelSize = 4;
            } else {
                Debug->ShowMessageAndExit("True-Color mode not avaliable", VGS_CAPTION);
            }
        } else {
            Debug->ShowMessageAndExit("Unknown color depth requested (1 = 16 bits, 2 = 24/32 bits)",
                                      VGS_CAPTION);
        }
        pp.BackBufferCount = 1;
        pp.SwapEffect = D3DSWAPEFFECT_DISCARD;
        pp.Windowed = FALSE;
        pp.PresentationInterval = D3DPRESENT_INTERVAL_ONE;
    }
    pp.MultiSampleType = D3DMULTISAMPLE_NONE;
    pp.EnableAutoDepthStencil = TRUE;
    pp.AutoDepthStencilFormat = D3DFMT_D16;
    // The layers and the 3D callback lock the back buffer.
    pp.Flags = D3DPRESENTFLAG_LOCKABLE_BACKBUFFER;
    pp.FullScreen_RefreshRateInHz = 0;

    // Only the windowed device is made safe for calls from several threads.
    DWORD threading = Windowed ? D3DCREATE_MULTITHREADED : 0;
    HRESULT hr = E_FAIL;
    if (Caps->GetVertexShaderVersion() != 0) {
        D3DPRESENT_PARAMETERS attempt = pp;
        hr = D3D->CreateDevice(0, D3DDEVTYPE_HAL, Window, D3DCREATE_MIXED_VERTEXPROCESSING | threading,
                               &attempt, &Device);
        MixedVertexProcessing = SUCCEEDED(hr) ? 1 : 0;
    }
    if (FAILED(hr)) {
        D3DPRESENT_PARAMETERS attempt = pp;
        hr = D3D->CreateDevice(0, D3DDEVTYPE_HAL, Window, D3DCREATE_SOFTWARE_VERTEXPROCESSING | threading,
                               &attempt, &Device);
        MixedVertexProcessing = 0;
    }
    if (!VGS_Check(hr, "CreateDevice")) {
        Device = nullptr;
        Debug->ShowMessageAndExit("CreateDevice FAILED. DirectX 9.0 required", VGS_CAPTION);
    }
}

void CZVgs::ReleaseObjects()
{
    if (Device)
        Device->Release();
    Device = nullptr;
    if (D3D)
        D3D->Release();
    D3D = nullptr;
}

void CZVgs::ClearDevice()
{
    Device->Clear(0, NULL, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000, 1.0f, 0);
}

unsigned long CZVgs::GetPixelSize() { return PixelSize; }
void CZVgs::SetClearBackBuffer(bool on) { ClearEachFrame = on ? 1 : 0; }
void CZVgs::SetPresent(bool on) { PresentEachFrame = on ? 1 : 0; }

void CZVgs::ClearBackBuffer()
{
    Device->Clear(0, NULL, D3DCLEAR_TARGET, ClearColor, 0.0f, 0);
}

void CZVgs::Present()
{
    Device->Present(NULL, NULL, NULL, NULL);
}

void CZVgs::Set3DCallBack(void* function) { CallBack3D = (ZVGS_CALLBACK3D)function; }
void CZVgs::Clear3DCallBack() { CallBack3D = nullptr; }

// ---------------------------------------------------------------------------
// Messages

void CZVgs::WinMessages()
{
    MSG msg;
    if (PeekMessageA(&msg, Window, 0, 0, PM_NOREMOVE)) {
        if (GetMessageA(&msg, Window, 0, 0) > 0) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }
}

LRESULT CALLBACK CZVgs::VGS_WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    CZVgs* vgs = Receiver;
    switch (message) {
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    case WM_ACTIVATE:
        // The window takes activation back whenever it loses it.
        if (wParam != WA_ACTIVE)
            SetActiveWindow(window);
        return 0;
    case WM_QUERYENDSESSION:
        return 0;
    case WM_DISPLAYCHANGE:
        DisplayChanged = 1;
        return 0;
    case WM_KEYDOWN:
        if (!vgs)
            break;
        if (!(lParam & VGS_KEY_REPEAT) && vgs->Kbd)
            vgs->Kbd->PressKeyCode(LOWORD(wParam));
        return 0;
    case WM_KEYUP:
        if (!vgs)
            break;
        if (vgs->Kbd)
            vgs->Kbd->ReleaseKeyCode(LOWORD(wParam));
        return 0;
    case WM_MOUSEMOVE:
    case WM_LBUTTONDOWN:
    case WM_LBUTTONUP:
    case WM_RBUTTONDOWN:
    case WM_RBUTTONUP:
    case WM_MBUTTONDOWN:
    case WM_MBUTTONUP:
        if (!vgs)
            break;
        if (vgs->Mse)
            vgs->Mse->SetMouse(LOWORD(wParam), (unsigned long)lParam);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}
