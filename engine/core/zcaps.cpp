#include "zcaps.h"

#include <cstring>

#include "zvgs.h"

CZCaps::CZCaps()
{
    Vgs = nullptr;
    Debug = nullptr;
    memset(&DeviceCaps, 0, sizeof(DeviceCaps));
}

void CZCaps::Init()
{
    // Only CZVgs calls this, right after Direct3DCreate9 succeeded.
    Vgs->D3D->GetDeviceCaps(0, D3DDEVTYPE_HAL, &DeviceCaps);
}

bool CZCaps::CanRenderWindowed() { return true; }

// Bit 0 of Caps2 is what the engine has always read as "w-buffer"; the
// device reports the real w-buffer in RasterCaps, but the renderer's choice
// follows this bit.
bool CZCaps::HasWBuffer() { return (DeviceCaps.Caps2 & 1u) != 0; }

unsigned long CZCaps::MaxTextureWidth() { return DeviceCaps.MaxTextureWidth; }
unsigned long CZCaps::MaxTextureHeight() { return DeviceCaps.MaxTextureHeight; }
unsigned long CZCaps::MaxMultitextureStages() { return DeviceCaps.MaxSimultaneousTextures; }
unsigned long CZCaps::MaxPrimitives() { return DeviceCaps.MaxPrimitiveCount; }
unsigned long CZCaps::MaxActiveLights() { return DeviceCaps.MaxActiveLights; }
unsigned long CZCaps::MaxStreams() { return DeviceCaps.MaxStreams; }
unsigned long CZCaps::GetVertexShaderVersion() { return DeviceCaps.VertexShaderVersion & 0xFFFFu; }
unsigned long CZCaps::MaxVSConstRegisters() { return DeviceCaps.MaxVertexShaderConst; }

bool CZCaps::BumpSupport()
{
    return (DeviceCaps.TextureOpCaps & D3DTEXOPCAPS_BUMPENVMAP) != 0 &&
           DeviceCaps.MaxTextureBlendStages >= ZCAPS_BUMP_STAGES;
}

bool CZCaps::BumpLuminanceSupport()
{
    return (DeviceCaps.TextureOpCaps & D3DTEXOPCAPS_BUMPENVMAPLUMINANCE) != 0 &&
           DeviceCaps.MaxTextureBlendStages >= ZCAPS_BUMP_STAGES;
}
