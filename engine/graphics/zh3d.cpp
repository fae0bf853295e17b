// CZH3d: set-up and tear-down on the device, the state setters, camera,
// projection and frustum, and the frame. Batching is in zh3d_batch.cpp.
#include "zh3d.h"

#include <cmath>
#include <cstring>
#include <d3dx9.h>

#include "zcaps.h"
#include "zdebug.h"
#include "zh3d_local.h"
#include "zmem.h"
#include "zmth.h"
#include "zvgs.h"

static_assert(sizeof(void*) == 4, "buckets and handles keep addresses in 32-bit words");

// pi / 180 as the single-precision constant the projection has always used.
static const float H3D_DEG_TO_RAD = 0.017453289f;

CZH3d::CZH3d()
{
    Mem = nullptr; Vgs = nullptr; Xfs = nullptr; Mth = nullptr; Debug = nullptr; Caps = nullptr;
    CameraPosition = Vector3{0, 0, 0};
    memset(Frustum, 0, sizeof(Frustum));
    LightEngineOn = 0;
    MipMappingOn = 0;
    for (int k = 0; k < ZH3D_KINDS; k++) {
        Tables[k] = nullptr;
        VertexBuffers[k] = nullptr;
    }
    ZBufferOn = 0;
    WrappingOn = 0;
    SavedRenderTarget = nullptr;
    SavedDepthSurface = nullptr;
    memset(&Viewport, 0, sizeof(Viewport));
    memset(BoundTextures, 0, sizeof(BoundTextures));
    memset(DeviceTextures, 0, sizeof(DeviceTextures));
    SortBuffer = nullptr;
    ParticlesOrderOn = 0;
    ClearZEachFrame = 0;
    AlphaTestRef = 0;
    SourceBlend = D3DBLEND_SRCALPHA;
    DestBlend = D3DBLEND_INVSRCALPHA;
    FrameDrawCalls = FrameBatches = FramePrimitives = FrameTextureSets = FrameTextureSkips = 0;
    PrimitivesQueued = PrimitivesIgnored = PrimitivesRefused = PrimitivesDropped = 0;
    FramesDrawn = 0;
    BucketWalks = TexturesDecoded = TexturesShared = DeviceCallsFailed = 0;
    LastBucketShortcut = 1;
    RefusedReported = 0;
    for (int k = 0; k < ZH3D_KINDS; k++)
        LastBucket[k] = nullptr;
    TextureTable = ZH3D_TEXTURE_TABLE{nullptr, 0, 0};
    RenderTextures = nullptr;
}

CZH3d::~CZH3d()
{
    H3D_DeInit();
    if (SortBuffer && Mem)
        Mem->FreeMem(SortBuffer, ZH3D_SORT_BUFFER_BYTES);
    SortBuffer = nullptr;
    H3D_ReleaseTextures();
}

// ---------------------------------------------------------------------------
// Set-up and tear-down

void CZH3d::Init()
{
    IDirect3DDevice9* device = Vgs->Device;
    // Init after Init (without a reset in between) must not leak the first set.
    H3D_DeInit();
    // A new or reset device has no textures bound.
    memset(DeviceTextures, 0, sizeof(DeviceTextures));

    Viewport.X = 0;
    Viewport.Y = 0;
    Viewport.Width = Vgs->Width;
    Viewport.Height = Vgs->Height;
    Viewport.MinZ = 0.0f;
    Viewport.MaxZ = 1.0f;
    if (!H3D_Check(device->SetViewport(&Viewport), "SetViewport"))
        Debug->ShowMessageAndExit("No se pudo crear el viewport", ZH3D_CAPTION);

    Vector3 eye = {0, 0, 0}, target = {0, 0, 1};
    SetCameraPosition(&eye, &target, nullptr);
    SetProyectionParams(1.0f, 1000.0f, 45.0f, 45.0f);

    SetCullingState(true, true);
    SetZBufferState(true);
    SetLightEngine(false, 2);
    SetTextureWrapping(true);
    SetClearZBuffer(true);

    device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_ONE);
    device->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_ONE);
    // Alpha-tested texels of alpha 0 are dropped, every other one is kept.
    device->SetRenderState(D3DRS_ALPHAREF, 1);
    device->SetRenderState(D3DRS_ALPHAFUNC, D3DCMP_GREATEREQUAL);
    device->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
    device->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_TEXTURE);

    device->SetRenderState(D3DRS_POINTSPRITEENABLE, 1);
    device->SetRenderState(D3DRS_POINTSCALEENABLE, 1);
    device->SetRenderState(D3DRS_POINTSIZE, H3D_FloatBits(0.08f));
    device->SetRenderState(D3DRS_POINTSIZE_MIN, H3D_FloatBits(0.0f));
    device->SetRenderState(D3DRS_POINTSCALE_A, H3D_FloatBits(0.0f));
    device->SetRenderState(D3DRS_POINTSCALE_B, H3D_FloatBits(0.0f));
    device->SetRenderState(D3DRS_POINTSCALE_C, H3D_FloatBits(1.0f));

    D3DMATERIAL9 material;
    memset(&material, 0, sizeof(material));
    material.Diffuse = D3DCOLORVALUE{1.0f, 1.0f, 1.0f, 1.0f};
    material.Ambient = D3DCOLORVALUE{1.0f, 1.0f, 1.0f, 1.0f};
    material.Specular = D3DCOLORVALUE{1.0f, 1.0f, 1.0f, 1.0f};
    material.Emissive = D3DCOLORVALUE{0.0f, 0.0f, 0.0f, 0.0f};
    material.Power = 1.0f;
    device->SetMaterial(&material);

    H3D_CreateBuffers();

    // Render textures live in the default pool: H3D_DeInit released their
    // surfaces for the reset, their records (the handles) stayed.
    for (ZH3D_RENDER_TEXTURE* rt = RenderTextures; rt; rt = rt->Next)
        if (!rt->Texture)
            H3D_CreateRenderSurfaces(rt);
}

void CZH3d::H3D_CreateBuffers()
{
    IDirect3DDevice9* device = Vgs->Device;
    const uint32_t tableBytes = ZH3D_MAX_BUCKETS * sizeof(ZH3D_BUCKET);
    for (int k = 0; k < ZH3D_KINDS; k++) {
        const ZH3D_KIND_INFO& info = ZH3D_KindInfo[k];
        if (!H3D_Check(device->CreateVertexBuffer(info.BufferBytes, info.Usage, info.Fvf, D3DPOOL_DEFAULT,
                                                  &VertexBuffers[k], NULL),
                       "CreateVertexBuffer")) {
            VertexBuffers[k] = nullptr;
            Debug->ShowMessageAndExit("No se pudo crear el vertex buffer", ZH3D_CAPTION);
        }
        Tables[k] = (ZH3D_BUCKET*)Mem->GetMem(tableBytes);
        if (!Tables[k])
            Debug->ShowMessageAndExit("Not enough memory for the batch tables", ZH3D_CAPTION);
        // All ones: every bucket free and without a store.
        CZMem::MMXMemFill(Tables[k], 0xFF, tableBytes);
    }
    RefusedReported = 0;
}

// Releases everything of the renderer's in the default pool (a reset fails
// while any of it lives) and the batch tables; textures stay.
void CZH3d::H3D_DeInit()
{
    const uint32_t tableBytes = ZH3D_MAX_BUCKETS * sizeof(ZH3D_BUCKET);
    IDirect3DDevice9* device = Vgs ? Vgs->Device : nullptr;
    // Only while the renderer is up: run again after a failed Reset, this
    // must make no device call (the device then takes only Reset,
    // TestCooperativeLevel and Release).
    if (device && VertexBuffers[0]) {
        H3D_RestoreScreenTarget();
        // The device lets go of what it still has bound.
        for (DWORD s = 0; s < ZH3D_STAGES; s++)
            device->SetTexture(s, NULL);
        device->SetStreamSource(0, NULL, 0, 0);
    }
    memset(DeviceTextures, 0, sizeof(DeviceTextures));
    memset(BoundTextures, 0, sizeof(BoundTextures));
    for (ZH3D_RENDER_TEXTURE* rt = RenderTextures; rt; rt = rt->Next)
        H3D_ReleaseRenderSurfaces(rt);
    for (int k = 0; k < ZH3D_KINDS; k++)
        LastBucket[k] = nullptr;
    for (int k = 0; k < ZH3D_KINDS; k++) {
        if (Tables[k]) {
            // Stores may sit in free buckets too: triangle stores outlive the
            // frame that made them.
            for (int b = 0; b < ZH3D_MAX_BUCKETS; b++)
                if (Tables[k][b].Store != ZH3D_FREE)
                    Mem->FreeMem((void*)(uintptr_t)Tables[k][b].Store, ZH3D_KindInfo[k].StoreBytes);
            Mem->FreeMem(Tables[k], tableBytes);
            Tables[k] = nullptr;
        }
        if (VertexBuffers[k]) {
            VertexBuffers[k]->Release();
            VertexBuffers[k] = nullptr;
        }
    }
}

void CZH3d::H3D_ReInit() {}

void CZH3d::H3D_DrawScene()
{
    if (ClearZEachFrame)
        Vgs->Device->Clear(0, NULL, D3DCLEAR_ZBUFFER, 0, 1.0f, 0);
    memset(BoundTextures, 0, sizeof(BoundTextures));
    FrameDrawCalls = FrameBatches = FramePrimitives = FrameTextureSets = FrameTextureSkips = 0;

    // World-space geometry first, then screen-space geometry on top.
    H3D_RenderTrianglesTextured();
    H3D_RenderTrianglesColored();
    H3D_RenderLinesTextured();
    H3D_RenderLinesTextured2D();
    H3D_RenderLinesColored();
    H3D_RenderPointSprites();
    H3D_RenderTrianglesTexturedTransformed();
    H3D_RenderTrianglesColoredTransformed();

    H3D_DeleteTables();
    FramesDrawn++;
}

// ---------------------------------------------------------------------------
// States

void CZH3d::SetZBufferState(bool on)
{
    IDirect3DDevice9* device = Vgs->Device;
    ZBufferOn = on ? 1 : 0;
    DWORD mode = D3DZB_FALSE;
    if (on)
        mode = Caps->HasWBuffer() ? D3DZB_USEW : D3DZB_TRUE;
    device->SetRenderState(D3DRS_ZENABLE, mode);
    device->SetRenderState(D3DRS_ZFUNC, D3DCMP_LESSEQUAL);
}

void CZH3d::SetCullingState(bool enabled, bool clockwise)
{
    DWORD mode = D3DCULL_NONE;
    if (enabled)
        mode = clockwise ? D3DCULL_CW : D3DCULL_CCW;
    Vgs->Device->SetRenderState(D3DRS_CULLMODE, mode);
}

void CZH3d::SetWireFrame(bool on)
{
    Vgs->Device->SetRenderState(D3DRS_FILLMODE, on ? D3DFILL_WIREFRAME : D3DFILL_SOLID);
}

void CZH3d::SetAntialias(bool on)
{
    Vgs->Device->SetRenderState(D3DRS_DITHERENABLE, on ? TRUE : FALSE);
}

// Sets one sampler state on every stage the device reports.
void CZH3d::H3D_SetStageFilter(D3DSAMPLERSTATETYPE state, DWORD value)
{
    unsigned long stages = Caps->MaxMultitextureStages();
    if (stages > ZH3D_STAGES)
        stages = ZH3D_STAGES;
    for (unsigned long s = 0; s < stages; s++)
        Vgs->Device->SetSamplerState(s, state, value);
}

void CZH3d::SetBilinealFiltering(bool on)
{
    DWORD filter = on ? D3DTEXF_LINEAR : D3DTEXF_POINT;
    H3D_SetStageFilter(D3DSAMP_MAGFILTER, filter);
    H3D_SetStageFilter(D3DSAMP_MINFILTER, filter);
}

void CZH3d::SetMipMapping(bool on)
{
    MipMappingOn = on ? 1 : 0;
    H3D_SetStageFilter(D3DSAMP_MIPFILTER, on ? D3DTEXF_POINT : D3DTEXF_NONE);
}

void CZH3d::SetTextureWrapping(bool on)
{
    WrappingOn = on ? 1 : 0;
    DWORD mode = on ? D3DTADDRESS_WRAP : D3DTADDRESS_CLAMP;
    H3D_SetStageFilter(D3DSAMP_ADDRESSU, mode);
    H3D_SetStageFilter(D3DSAMP_ADDRESSV, mode);
}

void CZH3d::SetClearZBuffer(bool on) { ClearZEachFrame = on ? 1 : 0; }

void CZH3d::ClearZBuffer()
{
    Vgs->Device->Clear(0, NULL, D3DCLEAR_ZBUFFER, 0, 1.0f, 0);
}

void CZH3d::SetAlphaType(unsigned long type)
{
    // Type 2 is additive alpha; everything else ordinary transparency.
    SourceBlend = D3DBLEND_SRCALPHA;
    DestBlend = type == 2 ? D3DBLEND_ONE : D3DBLEND_INVSRCALPHA;
}

void CZH3d::SetAlphaTestValue(unsigned char value) { AlphaTestRef = value; }

void CZH3d::SetFog(unsigned long colour, float start, float end)
{
    IDirect3DDevice9* device = Vgs->Device;
    device->SetRenderState(D3DRS_RANGEFOGENABLE, 0);
    device->SetRenderState(D3DRS_FOGCOLOR, colour);
    device->SetRenderState(D3DRS_FOGTABLEMODE, D3DFOG_NONE);
    device->SetRenderState(D3DRS_FOGVERTEXMODE, D3DFOG_LINEAR);
    device->SetRenderState(D3DRS_FOGSTART, H3D_FloatBits(start));
    device->SetRenderState(D3DRS_FOGEND, H3D_FloatBits(end));
}

void CZH3d::EnableFog() { Vgs->Device->SetRenderState(D3DRS_FOGENABLE, 1); }
void CZH3d::DisableFog() { Vgs->Device->SetRenderState(D3DRS_FOGENABLE, 0); }

void CZH3d::SetPointSizes(float size, float minimum)
{
    Vgs->Device->SetRenderState(D3DRS_POINTSIZE, H3D_FloatBits(size));
    Vgs->Device->SetRenderState(D3DRS_POINTSIZE_MIN, H3D_FloatBits(minimum));
}

// ---------------------------------------------------------------------------
// Lights (the switch; point lights and shaders come with the material work)

void CZH3d::SetLightEngine(bool on, unsigned long shading)
{
    IDirect3DDevice9* device = Vgs->Device;
    LightEngineOn = on ? 1 : 0;
    if (on) {
        static const DWORD modes[4] = {0, D3DSHADE_FLAT, D3DSHADE_GOURAUD, D3DSHADE_PHONG};
        if (shading >= 1 && shading <= 3)
            device->SetRenderState(D3DRS_SHADEMODE, modes[shading]);
        device->SetRenderState(D3DRS_LOCALVIEWER, 1);
        device->SetRenderState(D3DRS_SPECULARENABLE, 1);
        device->SetRenderState(D3DRS_LIGHTING, 1);
    } else {
        device->SetRenderState(D3DRS_LIGHTING, 0);
        // Left on so a later switch-on has its highlights.
        device->SetRenderState(D3DRS_SPECULARENABLE, 1);
    }
}

void CZH3d::SetAmbientLight(unsigned long colour)
{
    Vgs->Device->SetRenderState(D3DRS_AMBIENT, colour);
}

// ---------------------------------------------------------------------------
// Camera, projection, frustum

void CZH3d::SetCameraPosition(Vector3* eye, Vector3* target, Vector3* up)
{
    static const D3DXVECTOR3 defaultUp(0.0f, 1.0f, 0.0f);
    CameraPosition = *eye;
    D3DXMATRIX view;
    D3DXMatrixLookAtLH(&view, (const D3DXVECTOR3*)eye, (const D3DXVECTOR3*)target,
                       up ? (const D3DXVECTOR3*)up : &defaultUp);
    Vgs->Device->SetTransform(D3DTS_VIEW, &view);
    H3D_RecalcFrustum();
}

void CZH3d::SetProyectionParams(float nearPlane, float farPlane, float fovX, float fovY)
{
    D3DMATRIX m;
    memset(&m, 0, sizeof(m));
    float w = 1.0f / tanf(fovX * H3D_DEG_TO_RAD * 0.5f);
    float h = 1.0f / tanf(fovY * H3D_DEG_TO_RAD * 0.5f);
    float q = farPlane / (farPlane - nearPlane);
    m._11 = w;
    m._22 = h;
    m._33 = q;
    m._34 = 1.0f;
    m._43 = -q * nearPlane;
    Vgs->Device->SetTransform(D3DTS_PROJECTION, &m);
    H3D_RecalcFrustum();
}

// Reads both transforms back from the device: the planes follow whatever
// the device holds.
void CZH3d::H3D_RecalcFrustum()
{
    D3DXMATRIX v, p, m;
    Vgs->Device->GetTransform(D3DTS_VIEW, &v);
    Vgs->Device->GetTransform(D3DTS_PROJECTION, &p);
    D3DXMatrixMultiply(&m, &v, &p);
    // Column j of M, taken down the rows.
    auto col = [&m](int j, int row) { return m.m[row][j]; };
    struct { int sign0, column; } const planes[6] = {
        {+1, 0},    // left:   c3 + c0
        {-1, 0},    // right:  c3 - c0
        {-1, 1},    // top:    c3 - c1
        {+1, 1},    // bottom: c3 + c1
        {0, 2},     // near:   c2
        {-1, 2},    // far:    c3 - c2
    };
    for (int i = 0; i < 6; i++) {
        float c[4];
        for (int r = 0; r < 4; r++) {
            float other = col(planes[i].column, r);
            c[r] = planes[i].sign0 == 0 ? other : col(3, r) + planes[i].sign0 * other;
        }
        Frustum[i] = Plane{c[0], c[1], c[2], c[3]};
        Mth->PlaneNormalize(&Frustum[i]);
    }
}

static ZH3D_SHADER_CONSTANT* H3D_ShaderSlots(unsigned long shader, unsigned long reg, unsigned long count)
{
    // A handle of 0, or registers past the record's last one, change nothing.
    if (shader == 0 || reg >= ZH3D_SHADER_CONSTANTS || count > ZH3D_SHADER_CONSTANTS - reg)
        return nullptr;
    return &((ZH3D_SHADER*)(uintptr_t)shader)->Constants[reg];
}

void CZH3d::SetVSConstant(unsigned long shader, unsigned long reg, float* value)
{
    ZH3D_SHADER_CONSTANT* slot = H3D_ShaderSlots(shader, reg, 1);
    if (!slot)
        return;
    slot->Kind = 0;
    slot->Set = 1;
    slot->x = value[0];
    slot->y = value[1];
    slot->z = value[2];
    slot->w = value[3];
}

static void H3D_StoreTransposed(ZH3D_SHADER_CONSTANT* slots, const D3DXMATRIX& m, uint32_t kind)
{
    for (int i = 0; i < 4; i++) {
        slots[i].Kind = kind;
        slots[i].Set = 1;
        slots[i].x = m.m[0][i];
        slots[i].y = m.m[1][i];
        slots[i].z = m.m[2][i];
        slots[i].w = m.m[3][i];
    }
}

void CZH3d::SetVSClipMatrix(unsigned long shader, unsigned long reg)
{
    ZH3D_SHADER_CONSTANT* slots = H3D_ShaderSlots(shader, reg, 4);
    if (!slots)
        return;
    D3DXMATRIX v, p, m;
    Vgs->Device->GetTransform(D3DTS_VIEW, &v);
    Vgs->Device->GetTransform(D3DTS_PROJECTION, &p);
    D3DXMatrixMultiply(&m, &v, &p);
    H3D_StoreTransposed(slots, m, 1);
}

void CZH3d::SetVSWorldViewMatrix(unsigned long shader, unsigned long reg)
{
    ZH3D_SHADER_CONSTANT* slots = H3D_ShaderSlots(shader, reg, 4);
    if (!slots)
        return;
    D3DXMATRIX v;
    Vgs->Device->GetTransform(D3DTS_VIEW, &v);
    H3D_StoreTransposed(slots, v, 2);
}
