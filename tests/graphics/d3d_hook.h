// Test-only device hook: the device's interface table is copied and a few
// entries replaced, so what reaches the real device is recorded: every draw
// with the states in force at draw time, texture and render-state sets, and
// the frame's clears, scenes, presents and resets in order. One hook at a time.
#ifndef ZQ_D3D_HOOK_H
#define ZQ_D3D_HOOK_H

#include <cstdint>
#include <string>
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

    // One letter per call: C clear of the target, Z clear of the z-buffer
    // only, B BeginScene, E EndScene, P Present, R Reset; tests may add their
    // own (the display tests' 3D callback adds K).
    std::string Calls;
    DWORD ClearColour = 0;
    const RECT* PresentSource = nullptr;
    const RECT* PresentDestination = nullptr;

    // EndScene first fills SceneRect with SceneColour: the scene's pixels.
    bool PaintScene = false;
    RECT SceneRect = {0, 0, 0, 0};
    DWORD SceneColour = 0;

    // While nonzero, TestCooperativeLevel returns it instead of asking, and
    // Reset fails with ForcedResetFailure without resetting.
    HRESULT ForcedState = 0;
    HRESULT ForcedResetFailure = 0;
    // While nonzero, BeginScene fails with it without beginning.
    HRESULT ForcedBeginSceneFailure = 0;

    // `device` is an IDirect3DDevice9*.
    bool Install(void* device);
    void Remove();
    void Clear();
    // The device's own Clear of the target, not recorded.
    void Fill(DWORD colour, const RECT* rect = nullptr);

    uint32_t TextureSets(DWORD stage) const;

    static ZQHook* Current;     // the installed hook, or null
};

#endif
