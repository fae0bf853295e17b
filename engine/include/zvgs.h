// CZVgs: the application window, the Direct3D 9 object and device, the
// display mode, and a stack of up to eight layers composed into the back
// buffer once per frame: software 2D layers (packed pixel buffers in the
// back buffer's format) and one 3D layer, the renderer's scene.
#ifndef ZARQUEL_ZVGS_H
#define ZARQUEL_ZVGS_H

#include <cstdint>
#include <windows.h>
#include <d3d9.h>

#include "zapi.h"

class CZMem;
class CZKbd;
class CZMse;
class CZH3d;
class CZDebug;
class CZCaps;

// Entries of the layer table. Creating a ninth layer (or a second 3D layer)
// is refused with handle 0; VGS_TakeFreeEntry is the one place that checks.
#define ZVGS_MAX_LAYERS 8
#define ZVGS_LAYER_FREE_ORDER 0xFFFFFFFFu  // order of a free entry: sorts after every live one
#define ZVGS_LAYER_2D 1u
#define ZVGS_LAYER_3D 2u
#define ZVGS_HANDLE_3D 1u                  // the 3D layer's handle; 2D handles are buffer addresses
#define ZVGS_ORDER_2D 1u                   // order of a new 2D layer
#define ZVGS_ORDER_3D 0u                   // order of a new 3D layer
#define ZVGS_USER_VALUE 31u                // user value of a new layer; the engine never reads it
#define ZVGS_DRAW_COPY 0u                  // draw modes; any other value: the layer is not drawn
#define ZVGS_DRAW_COLORKEY 2u              // all-zero pixels are transparent
#define ZVGS_DEPTH_16 1u                   // full-screen depth requests
#define ZVGS_DEPTH_TRUE 2u
#define ZVGS_SDK_VERSION 31u               // D3D_SDK_VERSION of the DirectX 9.0 headers

struct ZVGS_LAYER {
    uint32_t Order;         // ascending drawing order; ZVGS_LAYER_FREE_ORDER when free
    uint32_t Kind;          // ZVGS_LAYER_2D or ZVGS_LAYER_3D
    uint32_t Handle;        // 0 = free
    uint32_t UserValue;
    uint32_t DrawMode;      // ZVGS_DRAW_COPY or ZVGS_DRAW_COLORKEY; ignored for the 3D layer
};
static_assert(sizeof(ZVGS_LAYER) == 20, "layer entry is five words");

// What the 3D callback receives: a view of the locked back buffer.
struct ZVGS_BACKBUFFER {
    uint32_t Bits;          // address of the first byte
    uint32_t Pitch;         // bytes from one row to the next
    uint32_t PixelSize;     // bytes per pixel
    uint32_t Width;
    uint32_t Height;
    uint32_t LayerSize;     // Width * PixelSize * Height
};
static_assert(sizeof(ZVGS_BACKBUFFER) == 24, "back-buffer view is six words");

typedef void (*ZVGS_CALLBACK3D)(ZVGS_BACKBUFFER* view);

class ZQAPI CZVgs {
public:
    CZVgs();
    ~CZVgs();

    void Init(HINSTANCE instance, int showCommand);
    // Creates the window (returned through `window`), the device and the
    // composition buffers; in full screen waits for WM_DISPLAYCHANGE.
    void SelectGraphMode(unsigned long width, unsigned long height, unsigned long x, unsigned long y,
                         char* title, HWND* window, int windowed, int doubleSize, unsigned long depth);
    // The same on a window the caller owns: nothing is created or shown and
    // there is no wait for the display change.
    void SelectGraphMode(unsigned long width, unsigned long height, unsigned long x, unsigned long y,
                         char* title, HWND window, int windowed, int doubleSize, unsigned long depth);

    unsigned long GetPixelSize();
    void SetClearBackBuffer(bool on);
    void SetPresent(bool on);
    void ClearBackBuffer();
    void Present();
    // One frame: one message, the lost-device cycle, the layers, the 3D
    // callback and the present. The rectangles go to Present (null: whole).
    void RenderScene(RECT* source, RECT* destination);
    void Set3DCallBack(void* function);
    void Clear3DCallBack();

    unsigned long CreateLayer2D();      // 0 when the table is full
    unsigned long CreateLayer3D();      // 1, or 0 when full or a 3D layer exists
    void DestroyLayer2D(unsigned long handle);
    void DestroyLayer3D(unsigned long handle);
    void ClearLayer(unsigned long handle);
    void* GetLayerPtr(unsigned long handle);
    void SetLayerProperty(int handle, unsigned long order, unsigned char drawMode, unsigned long userValue);
    void WinMessages();

    // Public: the game writes it directly. ARGB.
    unsigned long ClearColor;
    CZMem* Mem;
    CZKbd* Kbd;
    CZMse* Mse;
    CZH3d* H3d;
    CZDebug* Debug;
    CZCaps* Caps;
    unsigned char DeviceLost;           // 1 after a frame that found the device lost or reset it
    unsigned long Width, Height;        // back buffer and every layer
    unsigned long Depth;                // full-screen request: ZVGS_DEPTH_16 or ZVGS_DEPTH_TRUE
    ZVGS_CALLBACK3D CallBack3D;
    IDirect3D9* D3D;
    D3DPRESENT_PARAMETERS PresentParams;   // as created; reused for Reset
    IDirect3DDevice9* Device;
    unsigned char MixedVertexProcessing;   // 1 mixed, 0 software
    HINSTANCE Instance;
    int ShowCommand;
    HWND Window;
    int Windowed;
    int DoubleSize;
    void* Ready;                        // this object's address once a mode is selected
    unsigned long LayerSize;
    unsigned long PixelSize;            // 2, 3 or 4
    unsigned long LayerCount;
    long ReorderNeeded;
    ZVGS_LAYER Layers[ZVGS_MAX_LAYERS]; // live entries always first (see VGS_Compact)
    unsigned char Initialised;
    unsigned char ClearEachFrame;
    unsigned char PresentEachFrame;
    uint8_t* LowerBuffer;               // composes the 2D layers below the 3D layer
    uint8_t* UpperBuffer;               // and those above it
    unsigned long LowerCount, UpperCount;

    // Counters, cheap and always kept.
    uint32_t FramesComposed;            // RenderScene calls that reached the layers
    uint32_t FramesLost;                // found D3DERR_DEVICELOST
    uint32_t DeviceResets;              // found D3DERR_DEVICENOTRESET and reset
    uint32_t LayersRefused;             // creations refused at the table's limit
    uint32_t ResetsFailed;              // Reset calls that failed (the renderer stays down)
    uint32_t ScenesFailed;              // BeginScene failures: the frame's primitives dropped
    uint32_t DeviceCallsFailed;         // checked device calls that failed

    // Process-wide: the display object the window procedure feeds input to
    // (set when a graphics mode is selected) and the WM_DISPLAYCHANGE flag.
    static CZVgs* Receiver;
    static volatile unsigned char DisplayChanged;

private:
    int CreateVGSWindow(unsigned long x, unsigned long y, char* title);
    void CreateVGSDDraw();
    void ReorderLayers();
    void ClearDevice();
    void ReleaseObjects();
    void VGS_DrawMem(const uint8_t* source, uint8_t* destination, unsigned long size);
    void VGS_DrawMemColorKey(const uint8_t* source, uint8_t* destination, unsigned long size);
    void VGS_DrawMemPitch(const uint8_t* source, uint8_t* destination, unsigned long pitch, unsigned long size);
    void VGS_DrawMemColorKeyPitch(const uint8_t* source, uint8_t* destination, unsigned long pitch,
                                  unsigned long size);
    void VGS_SelectMode(unsigned long width, unsigned long height);
    int VGS_TakeFreeEntry();
    unsigned long VGS_FillEntry(int i, uint32_t handle, uint32_t kind, uint32_t order);
    void VGS_Compact();
    void VGS_FreeLayers();
    void VGS_FreeModeMemory();
    void VGS_DestroyLayers(unsigned long handle, uint32_t kind);
    void VGS_BeginSelect(int windowed, int doubleSize, unsigned long depth);
    void VGS_DrawGroup(int first, unsigned long count, uint8_t* composition);
    bool VGS_Check(HRESULT hr, const char* call, bool log = true);
    void VGS_HandleLostDevice(HRESULT state);
    unsigned char FailureLogged;        // a failed reset was logged in this lost episode
    static LRESULT CALLBACK VGS_WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
};

#endif
