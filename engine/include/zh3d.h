// CZH3d: the 3D renderer over Direct3D 9. Nothing is drawn at once: DrawPoly,
// DrawLine and DrawPoint file primitives into batches keyed by kind, textures
// and render flags, and H3D_DrawScene (run by CZVgs::RenderScene inside the
// scene) sets each batch's states once, fills the kind's dynamic vertex
// buffer with discard locks and draws. The device belongs to CZVgs.
#ifndef ZARQUEL_ZH3D_H
#define ZARQUEL_ZH3D_H

#include <cstdint>
#include <windows.h>
#include <d3d9.h>

#include "zapi.h"
#include "zprim.h"
#include "ztypes.h"

class CZMem;
class CZVgs;
class CZXfs;
class CZMth;
class CZDebug;
class CZCaps;

// Primitive kinds as table indices; the order of the vertex buffers and
// batch tables (H3D_DrawScene draws them in its own fixed order).
enum ZH3D_KIND {
    ZH3D_TRIS_TEXTURED = 0,
    ZH3D_TRIS_TEXTURED_2D,
    ZH3D_TRIS_COLORED,
    ZH3D_TRIS_COLORED_2D,
    ZH3D_LINES_TEXTURED,
    ZH3D_LINES_TEXTURED_2D,
    ZH3D_LINES_COLORED,
    ZH3D_POINTS,
    ZH3D_KINDS
};

// Buckets per batch table. A frame that needs more buckets of one kind gets
// the extra primitives refused (counted in PrimitivesRefused and logged once
// per kind and frame); H3D_FindBucket is the one place that checks.
#define ZH3D_MAX_BUCKETS 1800
#define ZH3D_BUCKET_PRIMITIVES 1000         // primitives per bucket and per vertex-buffer fill
#define ZH3D_FREE 0xFFFFFFFFu               // bucket count: this bucket and all after it free;
                                            // store and cursor: no store
#define ZH3D_STAGES 16                      // bound-texture slots
#define ZH3D_SORT_BUFFER_BYTES 8000         // particle depth sort: 1000 (distance, address) pairs
#define ZH3D_SHADER_CONSTANTS 255           // vertex-shader constant slots of a shader record

// Vertex formats of the eight kinds.
#define ZH3D_FVF_TRIS_TEXTURED    (D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_DIFFUSE | D3DFVF_SPECULAR | D3DFVF_TEX2)
#define ZH3D_FVF_TRIS_TEXTURED_2D (D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX2)
#define ZH3D_FVF_TRIS_COLORED     (D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_DIFFUSE | D3DFVF_SPECULAR)
#define ZH3D_FVF_TRIS_COLORED_2D  (D3DFVF_XYZRHW | D3DFVF_DIFFUSE)
#define ZH3D_FVF_LINES_TEXTURED   (D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_TEX1)
#define ZH3D_FVF_LINES_TEXTURED_2D (D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX1)
#define ZH3D_FVF_LINES_COLORED    (D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_DIFFUSE)
#define ZH3D_FVF_POINTS           (D3DFVF_XYZ | D3DFVF_TEX1)

// One bucket of a batch table: a key, its system-memory vertex store and
// how many primitives it holds. Words hold addresses (32-bit engine).
struct ZH3D_BUCKET {
    uint32_t Texture1;      // points and lines: their texture
    uint32_t Texture2;      // textured triangles (both kinds)
    uint32_t Texture3;      // textured triangles
    uint32_t Store;         // ZH3D_FREE: no store
    uint32_t Cursor;        // where the next primitive's vertices go
    uint32_t Kind;          // the records' kind
    uint32_t Flags;         // the records' render flags
    uint32_t Count;         // ZH3D_FREE: this bucket and every later one is free
};
static_assert(sizeof(ZH3D_BUCKET) == 32, "bucket is eight words");

// One vertex-shader constant register of a custom shader record.
struct ZH3D_SHADER_CONSTANT {
    uint32_t Kind;          // 0 plain, 1 clip-matrix row, 2 world-view-matrix row
    uint32_t Set;           // nonzero: uploaded when a batch with the shader is drawn
    float x, y, z, w;
};
static_assert(sizeof(ZH3D_SHADER_CONSTANT) == 24, "constant slot is six words");

// A custom shader; its address is the shader handle put in Texture1 of a
// ZRF_CUSTOMSHADER triangle.
struct ZH3D_SHADER {
    IDirect3DVertexShader9* VertexShader;   // or null: fixed-function vertices
    IDirect3DPixelShader9* PixelShader;     // or null: fixed-function stages
    uint32_t Textures[16];                  // bound on stages 0-15
    ZH3D_SHADER_CONSTANT Constants[ZH3D_SHADER_CONSTANTS];   // registers 0-254
    ZH3D_SHADER_CONSTANT Material[ZH3D_SHADER_CONSTANTS];    // filled by the material loader
};
static_assert(sizeof(ZH3D_SHADER) == 8 + 64 + 2 * 255 * 24, "shader record layout");

class ZQAPI CZH3d {
public:
    CZH3d();
    ~CZH3d();

    // Device-side resources and the default states; run again after a reset.
    void Init();
    void H3D_DeInit();
    void H3D_ReInit();
    void H3D_DrawScene();
    void H3D_DeleteTables();

    // States: each acts on the device at once.
    void SetZBufferState(bool on);
    void SetCullingState(bool enabled, bool clockwise);
    void SetWireFrame(bool on);
    void SetAntialias(bool on);
    void SetBilinealFiltering(bool on);
    void SetMipMapping(bool on);
    void SetTextureWrapping(bool on);
    void SetClearZBuffer(bool on);
    void ClearZBuffer();
    void SetAlphaType(unsigned long type);
    void SetAlphaTestValue(unsigned char value);
    void SetFog(unsigned long colour, float start, float end);
    void EnableFog();
    void DisableFog();
    void SetPointSizes(float size, float minimum);
    void SetParticlesOrder(bool on);

    // Camera and projection; both keep the frustum current.
    void SetCameraPosition(Vector3* eye, Vector3* target, Vector3* up);
    void SetProyectionParams(float nearPlane, float farPlane, float fovX, float fovY);
    void SetVSConstant(unsigned long shader, unsigned long reg, float* value);
    void SetVSClipMatrix(unsigned long shader, unsigned long reg);
    void SetVSWorldViewMatrix(unsigned long shader, unsigned long reg);

    void SetLightEngine(bool on, unsigned long shading);
    void SetAmbientLight(unsigned long colour);

    // Queuing; the record may be reused at once.
    void DrawPoly(POLYSTRUCT* poly);
    void DrawLine(LINESTRUCT* line);
    void DrawPoint(POINTSTRUCT* point);

    CZMem* Mem;
    CZVgs* Vgs;
    CZXfs* Xfs;
    CZMth* Mth;
    CZDebug* Debug;
    CZCaps* Caps;
    Vector3 CameraPosition;
    Plane Frustum[6];               // left, right, top, bottom, near, far; normalised, pointing in
    unsigned char LightEngineOn;
    unsigned char MipMappingOn;
    ZH3D_BUCKET* Tables[ZH3D_KINDS];
    unsigned char ZBufferOn;
    unsigned char WrappingOn;
    IDirect3DSurface9* SavedRenderTarget;
    IDirect3DSurface9* SavedDepthSurface;
    D3DVIEWPORT9 Viewport;
    IDirect3DVertexBuffer9* VertexBuffers[ZH3D_KINDS];
    uint32_t BoundTextures[ZH3D_STAGES];    // last texture set per stage; 0 at each frame's start
    uint8_t* SortBuffer;                    // present while particle ordering is on
    unsigned char ParticlesOrderOn;
    unsigned char ClearZEachFrame;
    unsigned char AlphaTestRef;
    uint32_t SourceBlend, DestBlend;        // D3DBLEND pair of ZRF_ALPHABLEND primitives

    // Counters, cheap and always kept. The frame ones are cleared by each
    // H3D_DrawScene before it draws.
    uint32_t FrameDrawCalls;        // DrawPrimitive calls
    uint32_t FrameBatches;          // buckets drawn
    uint32_t FramePrimitives;       // primitives drawn
    uint32_t FrameTextureSets;      // SetTexture calls made
    uint32_t FrameTextureSkips;     // SetTexture calls skipped: slot already bound
    uint32_t PrimitivesQueued;      // since construction
    uint32_t PrimitivesIgnored;     // unknown kind
    uint32_t PrimitivesRefused;     // table full or no memory for a store
    uint32_t PrimitivesDropped;     // emptied by H3D_DeleteTables without being drawn
    uint32_t FramesDrawn;

private:
    void H3D_RecalcFrustum();
    void H3D_CreateBuffers();
    void H3D_SetStageFilter(D3DSAMPLERSTATETYPE state, DWORD value);
    void H3D_BindTexture(unsigned long stage, uint32_t texture);
    ZH3D_BUCKET* H3D_FindBucket(int kind, const uint32_t key[3], uint32_t flags, uint32_t recordKind);
    void H3D_BucketStates(const ZH3D_BUCKET* bucket, uint32_t honoured);
    void H3D_DrawBucket(int kind, ZH3D_BUCKET* bucket, D3DPRIMITIVETYPE type);
    void H3D_BeginKind(int kind);
    void H3D_CustomShader(const ZH3D_BUCKET* bucket);
    void H3D_SortPoints(ZH3D_BUCKET* bucket);
    void H3D_RenderTrianglesTextured();
    void H3D_RenderTrianglesColored();
    void H3D_RenderLinesTextured();
    void H3D_RenderLinesTextured2D();
    void H3D_RenderLinesColored();
    void H3D_RenderPointSprites();
    void H3D_RenderTrianglesTexturedTransformed();
    void H3D_RenderTrianglesColoredTransformed();
    void H3D_RenderTextureOnly(int kind, D3DPRIMITIVETYPE type);   // textured lines, point sprites

    uint32_t RefusedReported;       // one bit per kind: overflow already logged this frame
    uint32_t DeviceTextures[ZH3D_STAGES];   // what the device really holds per stage
};

#endif
