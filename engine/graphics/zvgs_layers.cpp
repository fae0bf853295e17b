// CZVgs: the layer table, the per-frame composition and the four blits.
#include "zvgs.h"

#include <cstring>

#include "zdebug.h"
#include "zh3d.h"
#include "zmem.h"

// ---------------------------------------------------------------------------
// Layer table. Live entries are kept at the front, so the composition only
// ever visits the first LayerCount entries.

int CZVgs::VGS_TakeFreeEntry()
{
    if (LayerCount >= ZVGS_MAX_LAYERS) {
        LayersRefused++;
        return -1;
    }
    return (int)LayerCount;
}

// Moves the live entries to the front, keeping their relative order.
void CZVgs::VGS_Compact()
{
    unsigned long live = 0;
    for (int i = 0; i < ZVGS_MAX_LAYERS; i++) {
        if (Layers[i].Handle == 0)
            continue;
        if ((int)live != i)
            Layers[live] = Layers[i];
        live++;
    }
    for (unsigned long i = live; i < ZVGS_MAX_LAYERS; i++) {
        Layers[i] = ZVGS_LAYER();
        Layers[i].Order = ZVGS_LAYER_FREE_ORDER;
    }
    LayerCount = live;
}

// Frees every 2D layer's buffer (at the size it was made with) and empties
// the table.
void CZVgs::VGS_FreeLayers()
{
    for (int i = 0; i < ZVGS_MAX_LAYERS; i++) {
        ZVGS_LAYER& l = Layers[i];
        if (l.Handle != 0 && l.Kind == ZVGS_LAYER_2D && Mem)
            Mem->FreeMem((void*)(uintptr_t)l.Handle, LayerSize);
        l = ZVGS_LAYER();
        l.Order = ZVGS_LAYER_FREE_ORDER;
    }
    LayerCount = 0;
    LowerCount = UpperCount = 0;
    ReorderNeeded = 0;
}

// Makes entry `i` a new live layer and counts it; returns its handle.
unsigned long CZVgs::VGS_FillEntry(int i, uint32_t handle, uint32_t kind, uint32_t order)
{
    ZVGS_LAYER& l = Layers[i];
    l.Handle = handle;
    l.UserValue = ZVGS_USER_VALUE;
    l.Kind = kind;
    l.Order = order;
    l.DrawMode = ZVGS_DRAW_COPY;
    LayerCount++;
    ReorderNeeded = 1;
    return handle;
}

unsigned long CZVgs::CreateLayer2D()
{
    int i = VGS_TakeFreeEntry();
    if (i < 0)
        return 0;
    uint8_t* pixels = (uint8_t*)Mem->GetMem(LayerSize);
    if (!pixels) {
        LayersRefused++;
        return 0;
    }
    CZMem::MMXMemFill(pixels, 0, LayerSize);
    return VGS_FillEntry(i, (uint32_t)(uintptr_t)pixels, ZVGS_LAYER_2D, ZVGS_ORDER_2D);
}

unsigned long CZVgs::CreateLayer3D()
{
    // The renderer has one scene: a second 3D layer is refused.
    for (unsigned long i = 0; i < LayerCount; i++)
        if (Layers[i].Kind == ZVGS_LAYER_3D) {
            LayersRefused++;
            return 0;
        }
    int i = VGS_TakeFreeEntry();
    if (i < 0)
        return 0;
    return VGS_FillEntry(i, ZVGS_HANDLE_3D, ZVGS_LAYER_3D, ZVGS_ORDER_3D);
}

// Frees every live entry of that kind with that handle (a 2D layer's buffer
// goes back to the memory manager) and closes the gap it leaves.
void CZVgs::VGS_DestroyLayers(unsigned long handle, uint32_t kind)
{
    bool found = false;
    for (unsigned long i = 0; i < LayerCount; i++) {
        ZVGS_LAYER& l = Layers[i];
        if (l.Handle != handle || l.Kind != kind)
            continue;
        if (kind == ZVGS_LAYER_2D)
            Mem->FreeMem((void*)(uintptr_t)l.Handle, LayerSize);
        l.Handle = 0;
        l.Order = ZVGS_LAYER_FREE_ORDER;
        found = true;
    }
    if (found) {
        VGS_Compact();
        ReorderNeeded = 1;
    }
}

void CZVgs::DestroyLayer2D(unsigned long handle)
{
    if (handle != 0 && handle != ZVGS_HANDLE_3D)
        VGS_DestroyLayers(handle, ZVGS_LAYER_2D);
}

void CZVgs::DestroyLayer3D(unsigned long handle)
{
    if (handle == ZVGS_HANDLE_3D)
        VGS_DestroyLayers(handle, ZVGS_LAYER_3D);
}

void CZVgs::ClearLayer(unsigned long handle)
{
    for (unsigned long i = 0; i < LayerCount; i++)
        if (Layers[i].Handle == handle && handle != 0 && Layers[i].Kind == ZVGS_LAYER_2D) {
            CZMem::MMXMemFill((void*)(uintptr_t)handle, 0, LayerSize);
            return;
        }
}

void* CZVgs::GetLayerPtr(unsigned long handle)
{
    if (handle == 0)
        return nullptr;
    for (unsigned long i = 0; i < LayerCount; i++)
        if (Layers[i].Handle == handle)
            return (void*)(uintptr_t)handle;
    return nullptr;
}

void CZVgs::SetLayerProperty(int handle, unsigned long order, unsigned char drawMode, unsigned long userValue)
{
    if (handle == 0)
        return;
    for (unsigned long i = 0; i < LayerCount; i++) {
        ZVGS_LAYER& l = Layers[i];
        if (l.Handle != (uint32_t)handle)
            continue;
        l.Order = order;
        l.DrawMode = drawMode;
        l.UserValue = userValue;
        ReorderNeeded = 1;
        return;
    }
}

void CZVgs::ReorderLayers()
{
    // Insertion sort: at most eight entries, already nearly sorted.
    for (unsigned long i = 1; i < LayerCount; i++) {
        ZVGS_LAYER l = Layers[i];
        unsigned long j = i;
        while (j > 0 && Layers[j - 1].Order > l.Order) {
            Layers[j] = Layers[j - 1];
            j--;
        }
        Layers[j] = l;
    }
    LowerCount = UpperCount = 0;
    bool above = false;
    for (unsigned long i = 0; i < LayerCount; i++) {
        if (Layers[i].Kind == ZVGS_LAYER_3D) {
            if (!above) {
                above = true;
                continue;
            }
        }
        if (Layers[i].Kind != ZVGS_LAYER_2D)
            continue;
        if (above)
            UpperCount++;
        else
            LowerCount++;
    }
    ReorderNeeded = 0;
}

// ---------------------------------------------------------------------------
// The frame

static bool VGS_Drawable(const ZVGS_LAYER& l)
{
    return l.DrawMode == ZVGS_DRAW_COPY || l.DrawMode == ZVGS_DRAW_COLORKEY;
}

// Draws `count` 2D layers from entry `first` onto the back buffer, locking it
// once. One layer is copied straight to it; a group is composed in
// `composition` first. A group whose first drawn layer is an opaque copy
// covers the whole buffer and goes on plainly; otherwise the buffer starts
// all zero and goes on colour-keyed, so whatever lies below (the cleared
// back buffer, the lower layers, the scene) shows through where no layer
// drew, just as it does under a single colour-keyed layer.
void CZVgs::VGS_DrawGroup(int first, unsigned long count, uint8_t* composition)
{
    int drawn = -1;
    unsigned long drawable = 0;
    for (unsigned long i = 0; i < count; i++)
        if (VGS_Drawable(Layers[first + i])) {
            if (drawn < 0)
                drawn = first + (int)i;
            drawable++;
        }
    if (drawable == 0)
        return;

    bool keyed;
    if (drawable == 1) {
        keyed = Layers[drawn].DrawMode == ZVGS_DRAW_COLORKEY;
    } else {
        keyed = Layers[drawn].DrawMode != ZVGS_DRAW_COPY;
        if (keyed)
            CZMem::MMXMemFill(composition, 0, LayerSize);
        for (unsigned long i = 0; i < count; i++) {
            const ZVGS_LAYER& l = Layers[first + i];
            const uint8_t* pixels = (const uint8_t*)(uintptr_t)l.Handle;
            if (l.DrawMode == ZVGS_DRAW_COPY)
                VGS_DrawMem(pixels, composition, LayerSize);
            else if (l.DrawMode == ZVGS_DRAW_COLORKEY)
                VGS_DrawMemColorKey(pixels, composition, LayerSize);
        }
    }

    IDirect3DSurface9* surface = nullptr;
    if (!VGS_Check(Device->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &surface), "GetBackBuffer"))
        return;
    D3DLOCKED_RECT locked;
    if (VGS_Check(surface->LockRect(&locked, NULL, 0), "LockRect (back buffer)")) {
        const uint8_t* source = drawable == 1 ? (const uint8_t*)(uintptr_t)Layers[drawn].Handle : composition;
        if (keyed)
            VGS_DrawMemColorKeyPitch(source, (uint8_t*)locked.pBits, (unsigned long)locked.Pitch, LayerSize);
        else
            VGS_DrawMemPitch(source, (uint8_t*)locked.pBits, (unsigned long)locked.Pitch, LayerSize);
        surface->UnlockRect();
    }
    surface->Release();
}

// A lost device draws nothing. Once it can be reset: the renderer lets go of
// its default-pool resources, the device is reset, and only a reset that
// succeeded is followed by the renderer's Init (after a failed one the
// device takes nothing but Reset, TestCooperativeLevel and Release). While
// resets keep failing the renderer has no tables, so primitives are refused
// as they are queued; the failure is logged once per lost episode.
void CZVgs::VGS_HandleLostDevice(HRESULT state)
{
    DeviceLost = 1;
    if (state == D3DERR_DEVICELOST) {
        if (H3d)
            H3d->H3D_DeleteTables();
        FramesLost++;
        return;
    }
    if (H3d)
        H3d->H3D_DeInit();
    // Reset may fill in the parameters it was given; keep ours as created.
    D3DPRESENT_PARAMETERS pp = PresentParams;
    const HRESULT reset = Device->Reset(&pp);
    if (VGS_Check(reset, "Reset", false)) {
        DeviceResets++;
        FailureLogged = 0;
        if (H3d)
            H3d->Init();
        return;
    }
    ResetsFailed++;
    if (!FailureLogged && Debug)
        Debug->OutputDebug("ZVGS: Reset failed (0x%08lx); primitives are dropped until a reset succeeds",
                           (unsigned long)reset);
    FailureLogged = 1;
}

void CZVgs::RenderScene(RECT* source, RECT* destination)
{
    WinMessages();
    if (ReorderNeeded)
        ReorderLayers();
    // Before a mode is selected there is nothing to draw on.
    if (!Device)
        return;

    const HRESULT state = Device->TestCooperativeLevel();
    if (state == D3DERR_DEVICELOST || state == D3DERR_DEVICENOTRESET) {
        VGS_HandleLostDevice(state);
        return;
    }
    FailureLogged = 0;
    DeviceLost = 0;

    if (LayerCount == 0)
        return;
    FramesComposed++;

    if (ClearEachFrame)
        Device->Clear(0, NULL, D3DCLEAR_TARGET, ClearColor, 0.0f, 0);

    unsigned long p = 0;
    if (LowerCount > 0) {
        VGS_DrawGroup(0, LowerCount, LowerBuffer);
        p = LowerCount;
    }
    if (p < LayerCount && Layers[p].Kind == ZVGS_LAYER_3D) {
        if (VGS_Check(Device->BeginScene(), "BeginScene")) {
            if (H3d)
                H3d->H3D_DrawScene();
            Device->EndScene();
        } else {
            // What was queued for this scene is not carried into the next.
            ScenesFailed++;
            if (H3d)
                H3d->H3D_DeleteTables();
        }
        p++;
        if (UpperCount > 0)
            VGS_DrawGroup((int)p, UpperCount, UpperBuffer);
    }

    if (CallBack3D) {
        IDirect3DSurface9* surface = nullptr;
        if (VGS_Check(Device->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &surface), "GetBackBuffer")) {
            D3DLOCKED_RECT locked;
            if (VGS_Check(surface->LockRect(&locked, NULL, 0), "LockRect (back buffer)")) {
                ZVGS_BACKBUFFER view;
                view.Bits = (uint32_t)(uintptr_t)locked.pBits;
                view.Pitch = (uint32_t)locked.Pitch;
                view.PixelSize = PixelSize;
                view.Width = Width;
                view.Height = Height;
                view.LayerSize = LayerSize;
                CallBack3D(&view);
                surface->UnlockRect();
            }
            surface->Release();
        }
    }

    if (PresentEachFrame)
        Device->Present(source, destination, NULL, NULL);
}

// ---------------------------------------------------------------------------
// Blits. The colour key is the all-zero pixel: 16 bits at 2 bytes per pixel,
// three bytes at 3, all 32 bits (alpha included) at 4.

void CZVgs::VGS_DrawMem(const uint8_t* source, uint8_t* destination, unsigned long size)
{
    CZMem::MMXMemCopy(source, destination, size);
}

static void VGS_KeyRow(const uint8_t* s, uint8_t* d, unsigned long pixels, unsigned long pixelSize)
{
    switch (pixelSize) {
    case 2: {
        const uint16_t* s16 = (const uint16_t*)s;
        uint16_t* d16 = (uint16_t*)d;
        for (unsigned long i = 0; i < pixels; i++)
            if (s16[i])
                d16[i] = s16[i];
        break;
    }
    case 3:
        for (unsigned long i = 0; i < pixels; i++, s += 3, d += 3)
            if (s[0] | s[1] | s[2]) {
                d[0] = s[0];
                d[1] = s[1];
                d[2] = s[2];
            }
        break;
    default: {
        const uint32_t* s32 = (const uint32_t*)s;
        uint32_t* d32 = (uint32_t*)d;
        for (unsigned long i = 0; i < pixels; i++)
            if (s32[i])
                d32[i] = s32[i];
        break;
    }
    }
}

void CZVgs::VGS_DrawMemColorKey(const uint8_t* source, uint8_t* destination, unsigned long size)
{
    VGS_KeyRow(source, destination, size / PixelSize, PixelSize);
}

void CZVgs::VGS_DrawMemPitch(const uint8_t* source, uint8_t* destination, unsigned long pitch, unsigned long)
{
    unsigned long row = Width * PixelSize;
    for (unsigned long y = 0; y < Height; y++, source += row, destination += pitch)
        CZMem::MMXMemCopy(source, destination, row);
}

void CZVgs::VGS_DrawMemColorKeyPitch(const uint8_t* source, uint8_t* destination, unsigned long pitch,
                                     unsigned long)
{
    unsigned long row = Width * PixelSize;
    for (unsigned long y = 0; y < Height; y++, source += row, destination += pitch)
        VGS_KeyRow(source, destination, Width, PixelSize);
}
