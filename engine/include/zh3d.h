// CZH3d: the 3D renderer over Direct3D 9. Nothing is drawn at once: DrawPoly,
// DrawLine and DrawPoint file primitives into batches keyed by kind, textures
// and render flags, and H3D_DrawScene (run by CZVgs::RenderScene inside the
// scene) sets each batch's states once, fills the kind's dynamic vertex
// buffer with discard locks and draws. The renderer also owns every texture
// (a texture handle is the IDirect3DTexture9 pointer value), the lights and
// the custom shaders. The device belongs to CZVgs.
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

// Primitive kinds the renderer batches separately (the kinds themselves are
// in zh3d_local.h): one batch table and one vertex buffer each.
#define ZH3D_KINDS 8
#define ZH3D_STAGES 16                      // bound-texture slots, stage textures of a shader
#define ZH3D_SHADER_CONSTANTS 255           // vertex-shader constant slots of a shader record
#define ZH3D_TEXTURE_NAME_MAX 260           // name, directory and master file of a texture record

// GetBumpmapFormats bits.
#define ZH3D_BUMP_V8U8     1u
#define ZH3D_BUMP_L6V5U5   2u
#define ZH3D_BUMP_X8L8V8U8 4u

struct ZH3D_BUCKET;         // a batch; zh3d_local.h

// One vertex-shader constant register of a custom shader record.
struct ZH3D_SHADER_CONSTANT {
    uint32_t Kind;          // 0 plain, 1 clip-matrix row, 2 world-view-matrix row
    uint32_t Set;           // nonzero: uploaded when a batch with the shader is drawn
    float x, y, z, w;
};
static_assert(sizeof(ZH3D_SHADER_CONSTANT) == 24, "constant slot is six words");

// A custom shader (LoadShader); its address is the shader handle put in
// Texture1 of a ZRF_CUSTOMSHADER triangle. Shared with the material loader,
// which fills Material.
struct ZH3D_SHADER {
    IDirect3DVertexShader9* VertexShader;   // or null: fixed-function vertices
    IDirect3DPixelShader9* PixelShader;     // or null: fixed-function stages
    uint32_t Textures[ZH3D_STAGES];         // bound on stages 0-15
    ZH3D_SHADER_CONSTANT Constants[ZH3D_SHADER_CONSTANTS];  // registers 0-254
    ZH3D_SHADER_CONSTANT Material[ZH3D_SHADER_CONSTANTS];   // the material loader's; never read here
};
static_assert(sizeof(ZH3D_SHADER) == 8 + 64 + 2 * 255 * 24, "shader record layout");

// One texture loaded by name. A later load of the same name (any letter
// case) from the same place shares it and counts a reference.
struct ZH3D_TEXTURE {
    char Name[ZH3D_TEXTURE_NAME_MAX];       // as the caller gave it
    char Directory[ZH3D_TEXTURE_NAME_MAX];  // current directory at load time; "" when a master file was open
    char MasterFile[ZH3D_TEXTURE_NAME_MAX]; // the open master file's name; "" when none was
    uint32_t Texture;                       // the handle
    int32_t References;                     // loads minus unloads; the record goes at 0
};

// The texture table: a growable array in engine memory. Grown by doubling
// in H3D_AddTexture; emptied only when the renderer is destroyed.
struct ZH3D_TEXTURE_TABLE {
    ZH3D_TEXTURE* Records;
    uint32_t Count;
    uint32_t Capacity;
};

// A render texture (CreateRenderTexture); its address is the handle. The
// first three words are the surfaces; the rest lets the renderer recreate
// them around a device reset, keeping the record (and so the handle).
struct ZH3D_RENDER_TEXTURE {
    IDirect3DSurface9* Depth;       // D16 depth-stencil surface of the texture's size
    IDirect3DTexture9* Texture;     // D3DPOOL_DEFAULT render target; made anew after a reset
    IDirect3DSurface9* Surface;     // level 0 of Texture
    uint32_t Width, Height;
    D3DFORMAT Format;
    ZH3D_RENDER_TEXTURE* Next;      // every live render texture, newest first
    // What GetRenderTextureHandle gives: a 1x1 managed texture living as long
    // as the record, so the value stays valid and unique across resets. The
    // renderer binds Texture wherever a primitive names it.
    IDirect3DTexture9* Handle;
};

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

    // Textures. Load failures are fatal; handles are texture pointer values.
    unsigned long LoadTextureFromFile(char* name);
    unsigned long LoadTexture(void* pixels);        // 256x256 R5G6B5, rows packed
    unsigned long LoadColorKeyTexture(char* name, unsigned long key);
    unsigned long LoadAlphaTexture(char* name, unsigned char alpha);
    unsigned long LoadAlphaTextureTGA(char* name);
    void SetAlphaLevelTexture(unsigned long texture, unsigned char alpha);
    void SetAlphaMapTexture(unsigned long texture, unsigned char* map);
    void LockTextureToWrite(unsigned long texture, TextureLock* lock);
    void UnlockTextureToWrite(unsigned long texture);
    void UnloadTexture(unsigned long texture);
    unsigned long GetBumpmapFormats();
    unsigned long LoadBumpMap(char* name);
    unsigned long GenerateBumpMap(unsigned long texture);
    unsigned long CreateRenderTexture(unsigned long width, unsigned long height, bool alpha);
    unsigned long GetRenderTextureHandle(unsigned long renderTexture);
    bool SetRenderTarget(unsigned long renderTexture);
    void RenderToTexture();
    void DestroyRenderTexture(unsigned long renderTexture);

    // Camera and projection; both keep the frustum current.
    void SetCameraPosition(Vector3* eye, Vector3* target, Vector3* up);
    void SetProyectionParams(float nearPlane, float farPlane, float fovX, float fovY);
    void SetVSConstant(unsigned long shader, unsigned long reg, float* value);
    void SetVSClipMatrix(unsigned long shader, unsigned long reg);
    void SetVSWorldViewMatrix(unsigned long shader, unsigned long reg);

    // Lights.
    void SetLightEngine(bool on, unsigned long shading);
    void SetAmbientLight(unsigned long colour);
    void SetPointLight(unsigned long index, LIGHTPOINTSTRUCT* light);
    void DisableLight(unsigned long index);

    // Shaders: failures are never fatal. Shader handles are record addresses.
    bool CheckShader(const char* file);
    bool CompileShader(const char* source, char* errors, unsigned long size);
    unsigned long LoadShader(const char* vertexFile, const char* pixelFile);
    void UnloadShader(unsigned long shader);
    bool ReplaceVertexShaderFromFile(unsigned long shader, const char* file);
    bool ReplacePixelShaderFromFile(unsigned long shader, const char* file);
    bool ReplaceVertexShaderFromMemory(unsigned long shader, const char* source);
    bool ReplacePixelShaderFromMemory(unsigned long shader, const char* source);
    void SetTextureCustomShader(unsigned long shader, unsigned long texture, unsigned long stage);

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
    ZH3D_TEXTURE_TABLE TextureTable;
    uint8_t* SortBuffer;                    // present while particle ordering is on
    unsigned char ParticlesOrderOn;
    unsigned char ClearZEachFrame;
    unsigned char AlphaTestRef;
    uint32_t SourceBlend, DestBlend;        // D3DBLEND pair of ZRF_ALPHABLEND primitives

    ZH3D_RENDER_TEXTURE* RenderTextures;    // every live render texture, newest first

    // Counters, cheap and always kept. The frame ones are cleared by each
    // H3D_DrawScene before it draws.
    uint32_t FrameDrawCalls;        // DrawPrimitive calls
    uint32_t FrameBatches;          // buckets drawn
    uint32_t FramePrimitives;       // primitives drawn
    uint32_t FrameTextureSets;      // SetTexture calls made
    uint32_t FrameTextureSkips;     // SetTexture calls skipped: slot already bound
    uint32_t PrimitivesQueued;      // since construction
    uint32_t PrimitivesIgnored;     // unknown kind, or a custom-shader primitive without a shader
    uint32_t PrimitivesRefused;     // table full, no memory for a store, or no tables (device lost)
    uint32_t PrimitivesDropped;     // emptied by H3D_DeleteTables without being drawn
    uint32_t FramesDrawn;
    uint32_t BucketWalks;           // bucket searches that walked the table from bucket 0
    uint32_t TexturesDecoded;       // image files decoded by D3DX
    uint32_t TexturesShared;        // loads answered from the texture table
    uint32_t DeviceCallsFailed;     // checked device calls that failed (each one logged)

    // Tuning switch for the benchmarks: 0 makes every bucket search walk the
    // table from bucket 0 (the result is the same, only slower).
    unsigned char LastBucketShortcut;

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
    void H3D_RenderColoured(int kind);                              // coloured triangles of both kinds

    // Textures (zh3d_texture.cpp).
    unsigned long H3D_LoadTextureParsed(char* name);
    unsigned long H3D_IsTextureAlreadyLoaded(char* name);
    bool H3D_Check(HRESULT hr, const char* call);
    void* H3D_ReadWholeFile(const char* name, unsigned long* size);
    IDirect3DTexture9* H3D_DecodeFile(char* name, bool mipMapped, const char* failure);
    void H3D_AddTexture(const char* name, uint32_t texture);
    ZH3D_TEXTURE* H3D_FindTexture(uint32_t texture);
    unsigned long H3D_DeriveTexture(char* name, int how, uint32_t value);
    void H3D_SetTopBytes(unsigned long texture, unsigned char alpha, const unsigned char* map);
    void H3D_CreateRenderSurfaces(ZH3D_RENDER_TEXTURE* rt);
    void H3D_ReleaseRenderSurfaces(ZH3D_RENDER_TEXTURE* rt);
    void H3D_RestoreScreenTarget();
    void H3D_ReleaseTextures();

    // Shaders (zh3d_shader.cpp).
    bool H3D_MakeShader(const char* file, const void* text, unsigned long length, bool pixel, IUnknown** shader);
    bool H3D_ReplaceShader(unsigned long shader, const char* text, bool fromFile, bool pixel);

    uint32_t RefusedReported;       // one bit per kind: overflow already logged this frame
    uint32_t DeviceTextures[ZH3D_STAGES];   // what the device really holds per stage
    ZH3D_BUCKET* LastBucket[ZH3D_KINDS];    // bucket the kind's last primitive went into
};

#endif
