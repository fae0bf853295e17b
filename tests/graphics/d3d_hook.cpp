// The C view of the interfaces gives the table layouts by name.
#define CINTERFACE
#include "d3d9.h"

#include <cstring>

#include "d3d_hook.h"

ZQHook* ZQHook::Current;
#define g_Hook ZQHook::Current
static IDirect3DDevice9* g_Device;
static IDirect3DDevice9Vtbl* g_DeviceOriginal;
static IDirect3DDevice9Vtbl g_DeviceTable;
static uintptr_t g_StageTexture[3];

static DWORD Hook_Rs(IDirect3DDevice9* This, D3DRENDERSTATETYPE s)
{
    DWORD v = 0xDEADBEEF;
    g_DeviceOriginal->GetRenderState(This, s, &v);
    return v;
}

static UINT Hook_Vertices(D3DPRIMITIVETYPE type, UINT count)
{
    switch (type) {
    case D3DPT_POINTLIST: return count;
    case D3DPT_LINELIST: return count * 2;
    case D3DPT_TRIANGLELIST: return count * 3;
    default: return 0;
    }
}

static HRESULT STDMETHODCALLTYPE Hook_DrawPrimitive(IDirect3DDevice9* This, D3DPRIMITIVETYPE type, UINT start,
                                                    UINT count)
{
    ZQDraw d;
    d.Type = type;
    d.Start = start;
    d.Count = count;
    g_DeviceOriginal->GetFVF(This, &d.Fvf);
    IDirect3DVertexBuffer9* vb = nullptr;
    UINT offset = 0;
    d.Stride = 0;
    g_DeviceOriginal->GetStreamSource(This, 0, &vb, &offset, &d.Stride);
    memcpy(d.Texture, g_StageTexture, sizeof(d.Texture));
    d.AlphaBlend = Hook_Rs(This, D3DRS_ALPHABLENDENABLE);
    d.SrcBlend = Hook_Rs(This, D3DRS_SRCBLEND);
    d.DestBlend = Hook_Rs(This, D3DRS_DESTBLEND);
    d.BlendOp = Hook_Rs(This, D3DRS_BLENDOP);
    d.AlphaTest = Hook_Rs(This, D3DRS_ALPHATESTENABLE);
    d.AlphaFunc = Hook_Rs(This, D3DRS_ALPHAFUNC);
    d.AlphaRef = Hook_Rs(This, D3DRS_ALPHAREF);
    d.ZWrite = Hook_Rs(This, D3DRS_ZWRITEENABLE);
    d.AddressU = 0xDEADBEEF;
    g_DeviceOriginal->GetSamplerState(This, 0, D3DSAMP_ADDRESSU, &d.AddressU);
    // The buffer's contents as the draw will read them (Wine checks buffer
    // interface tables, so buffers are read here rather than hooked).
    if (vb) {
        D3DVERTEXBUFFER_DESC desc;
        vb->lpVtbl->GetDesc(vb, &desc);
        UINT bytes = Hook_Vertices(type, start + count) * d.Stride;
        void* bits = nullptr;
        if (bytes <= desc.Size && SUCCEEDED(vb->lpVtbl->Lock(vb, 0, bytes, &bits, D3DLOCK_READONLY)) && bits) {
            const uint8_t* p = (const uint8_t*)bits + Hook_Vertices(type, start) * d.Stride;
            d.Vertices.assign(p, (const uint8_t*)bits + bytes);
            vb->lpVtbl->Unlock(vb);
        }
        vb->lpVtbl->Release(vb);
    }
    g_Hook->Draws.push_back(std::move(d));
    return g_DeviceOriginal->DrawPrimitive(This, type, start, count);
}

static HRESULT STDMETHODCALLTYPE Hook_SetTexture(IDirect3DDevice9* This, DWORD stage, IDirect3DBaseTexture9* texture)
{
    g_Hook->Textures.push_back(ZQSetTexture{stage, (uintptr_t)texture});
    if (stage < 3)
        g_StageTexture[stage] = (uintptr_t)texture;
    return g_DeviceOriginal->SetTexture(This, stage, texture);
}

static HRESULT STDMETHODCALLTYPE Hook_SetRenderState(IDirect3DDevice9* This, D3DRENDERSTATETYPE state, DWORD value)
{
    g_Hook->RenderStates.push_back(state);
    g_Hook->RenderStates.push_back(value);
    return g_DeviceOriginal->SetRenderState(This, state, value);
}

static HRESULT STDMETHODCALLTYPE Hook_TestCooperativeLevel(IDirect3DDevice9* This)
{
    if (g_Hook->ForcedState)
        return g_Hook->ForcedState;
    return g_DeviceOriginal->TestCooperativeLevel(This);
}

static HRESULT STDMETHODCALLTYPE Hook_Reset(IDirect3DDevice9* This, D3DPRESENT_PARAMETERS* pp)
{
    g_Hook->Calls += 'R';
    if (g_Hook->ForcedResetFailure)
        return g_Hook->ForcedResetFailure;
    return g_DeviceOriginal->Reset(This, pp);
}

static HRESULT STDMETHODCALLTYPE Hook_Present(IDirect3DDevice9* This, const RECT* source, const RECT* destination,
                                              HWND window, const RGNDATA* dirty)
{
    g_Hook->Calls += 'P';
    g_Hook->PresentSource = source;
    g_Hook->PresentDestination = destination;
    return g_DeviceOriginal->Present(This, source, destination, window, dirty);
}

static HRESULT STDMETHODCALLTYPE Hook_BeginScene(IDirect3DDevice9* This)
{
    g_Hook->Calls += 'B';
    if (g_Hook->ForcedBeginSceneFailure)
        return g_Hook->ForcedBeginSceneFailure;
    return g_DeviceOriginal->BeginScene(This);
}

static HRESULT STDMETHODCALLTYPE Hook_EndScene(IDirect3DDevice9* This)
{
    g_Hook->Calls += 'E';
    if (g_Hook->PaintScene)
        g_Hook->Fill(g_Hook->SceneColour, &g_Hook->SceneRect);
    return g_DeviceOriginal->EndScene(This);
}

static HRESULT STDMETHODCALLTYPE Hook_Clear(IDirect3DDevice9* This, DWORD n, const D3DRECT* rects, DWORD flags,
                                            D3DCOLOR colour, float z, DWORD stencil)
{
    if (flags & D3DCLEAR_TARGET) {
        g_Hook->Calls += 'C';
        g_Hook->ClearColour = colour;
    } else {
        g_Hook->Calls += 'Z';
    }
    return g_DeviceOriginal->Clear(This, n, rects, flags, colour, z, stencil);
}

void ZQHook::Fill(DWORD colour, const RECT* rect)
{
    D3DRECT r;
    if (rect) {
        r.x1 = rect->left;
        r.y1 = rect->top;
        r.x2 = rect->right;
        r.y2 = rect->bottom;
    }
    g_DeviceOriginal->Clear(g_Device, rect ? 1 : 0, rect ? &r : nullptr, D3DCLEAR_TARGET, colour, 1.0f, 0);
}

bool ZQHook::Install(void* device)
{
    if (g_Hook)
        return false;
    g_Hook = this;
    g_Device = (IDirect3DDevice9*)device;
    g_DeviceOriginal = g_Device->lpVtbl;
    g_DeviceTable = *g_DeviceOriginal;
    g_DeviceTable.DrawPrimitive = Hook_DrawPrimitive;
    g_DeviceTable.SetTexture = Hook_SetTexture;
    g_DeviceTable.SetRenderState = Hook_SetRenderState;
    g_DeviceTable.TestCooperativeLevel = Hook_TestCooperativeLevel;
    g_DeviceTable.Reset = Hook_Reset;
    g_DeviceTable.Present = Hook_Present;
    g_DeviceTable.BeginScene = Hook_BeginScene;
    g_DeviceTable.EndScene = Hook_EndScene;
    g_DeviceTable.Clear = Hook_Clear;
    g_Device->lpVtbl = &g_DeviceTable;
    memset(g_StageTexture, 0, sizeof(g_StageTexture));
    return true;
}

void ZQHook::Remove()
{
    if (g_Hook != this)
        return;
    g_Device->lpVtbl = g_DeviceOriginal;
    g_Hook = nullptr;
}

void ZQHook::Clear()
{
    Draws.clear();
    Textures.clear();
    RenderStates.clear();
    Calls.clear();
}

uint32_t ZQHook::TextureSets(DWORD stage) const
{
    uint32_t n = 0;
    for (const ZQSetTexture& t : Textures)
        n += t.Stage == stage;
    return n;
}
