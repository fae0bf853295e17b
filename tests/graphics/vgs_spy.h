// Display tests: a record of the device calls a frame makes. The device's
// vtable pointer is pointed at a copy with a few entries replaced; Remove
// puts the original back. One spy at a time.
#ifndef ZQ_VGS_SPY_H
#define ZQ_VGS_SPY_H

#include <string>
#include <windows.h>
#include <d3d9.h>

#include "zvgs.h"

struct ZQSpy {
    // Slots of IDirect3DDevice9's vtable (IUnknown's three come first).
    enum { TEST_COOPERATIVE_LEVEL = 3, RESET = 16, PRESENT = 17, BEGIN_SCENE = 41, END_SCENE = 42,
           CLEAR = 43, SLOTS = 119 };

    IDirect3DDevice9* Device = nullptr;
    void** Original = nullptr;
    void* Table[SLOTS];

    // One letter per call: C clear of the target, Z clear of the z-buffer
    // only, B BeginScene, E EndScene, P Present, R Reset; K the 3D callback
    // (added by the tests' callback).
    std::string Calls;
    DWORD ClearColour = 0;
    const RECT* PresentSource = nullptr;
    const RECT* PresentDestination = nullptr;

    // EndScene first fills SceneRect with SceneColour: the scene's pixels.
    bool PaintScene = false;
    RECT SceneRect = {0, 0, 0, 0};
    D3DCOLOR SceneColour = 0;

    // While nonzero, TestCooperativeLevel returns it instead of asking, and
    // Reset fails with ForcedResetFailure without resetting.
    HRESULT ForcedState = 0;
    HRESULT ForcedResetFailure = 0;

    void Install(IDirect3DDevice9* device);
    void Remove();
    // The device's own Clear, not recorded.
    void Fill(D3DCOLOR colour, const RECT* rect = nullptr);

    static ZQSpy* Current;
};

#endif
