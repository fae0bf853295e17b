// The C view of the interfaces gives the table layouts by name.
#define CINTERFACE
#include "d3d9.h"

#include <cstring>

#include "d3d_hook.h"

static ZQHook* g_Hook;
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
}

uint32_t ZQHook::TextureSets(DWORD stage) const
{
    uint32_t n = 0;
    for (const ZQSetTexture& t : Textures)
        n += t.Stage == stage;
    return n;
}
