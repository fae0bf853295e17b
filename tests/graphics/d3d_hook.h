// Test-only device hook: the device's interface table is copied and a few
// entries replaced, so every draw, texture set
// and render-state set that reaches the real device is recorded with its
// arguments and with the states in force at draw time. One hook at a time.
#ifndef ZQ_D3D_HOOK_H
#define ZQ_D3D_HOOK_H

#include <cstdint>
#include <vector>
#include <windows.h>

struct ZQDraw {
    DWORD Type;                 // D3DPRIMITIVETYPE
    UINT Start, Count;
    DWORD Fvf;
    UINT Stride;                // of stream 0
    uintptr_t Texture[3];       // last SetTexture on stages 0-2 seen by the hook
    // Render and sampler states read back at draw time.
    DWORD AlphaBlend, SrcBlend, DestBlend, BlendOp, AlphaTest, AlphaFunc, AlphaRef, ZWrite, AddressU;
    std::vector<uint8_t> Vertices;  // stream 0's vertices of the draw, read back at draw time
};

struct ZQSetTexture {
    DWORD Stage;
    uintptr_t Texture;
};

struct ZQHook {
    std::vector<ZQDraw> Draws;
    std::vector<ZQSetTexture> Textures;
    std::vector<DWORD> RenderStates;    // state, value, state, value ...
    // `device` is an IDirect3DDevice9*.
    bool Install(void* device);
    void Remove();
    void Clear();

    uint32_t TextureSets(DWORD stage) const;
};

#endif
