// CZCaps: the Direct3D 9 capabilities of adapter 0, read once when the
// display module has created its Direct3D object, and the questions the
// display, the renderer and the material loader ask about them.
#ifndef ZARQUEL_ZCAPS_H
#define ZARQUEL_ZCAPS_H

#include <windows.h>
#include <d3d9.h>

#include "zapi.h"

class CZVgs;
class CZDebug;

// Blend stages a bump-mapped batch needs (texture, bump map, second texture).
#define ZCAPS_BUMP_STAGES 3

class ZQAPI CZCaps {
public:
    CZCaps();

    // GetDeviceCaps(0, HAL) of the display's Direct3D object into DeviceCaps.
    void Init();

    bool CanRenderWindowed();
    bool HasWBuffer();
    unsigned long MaxTextureWidth();
    unsigned long MaxTextureHeight();
    unsigned long MaxMultitextureStages();
    unsigned long MaxPrimitives();
    unsigned long MaxActiveLights();
    unsigned long MaxStreams();
    // Low 16 bits of VertexShaderVersion: major in bits 8-15, minor in 0-7.
    unsigned long GetVertexShaderVersion();
    unsigned long MaxVSConstRegisters();
    bool BumpSupport();
    bool BumpLuminanceSupport();

    CZVgs* Vgs;
    CZDebug* Debug;         // linked by the engine object; nothing here uses it
    D3DCAPS9 DeviceCaps;    // undefined (zero) before Init
};

#endif
