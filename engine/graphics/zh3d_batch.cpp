// CZH3d batching: queuing primitives into per-kind bucket tables, emptying
// the tables at the end of a frame, and drawing them kind by kind through
// the kinds' dynamic vertex buffers.
#include "zh3d.h"

#include <cstring>

#include "zdebug.h"
#include "zh3d_local.h"
#include "zmem.h"
#include "zvgs.h"

static_assert(sizeof(void*) == 4, "buckets keep store addresses in 32-bit words");

// Filled with a discard lock once per bucket, never read back.
#define H3D_DYNAMIC (D3DUSAGE_DYNAMIC | D3DUSAGE_WRITEONLY)
// Lines and points are drawn by software vertex processing on a mixed device.
#define H3D_DYNAMIC_SW (D3DUSAGE_DYNAMIC | D3DUSAGE_WRITEONLY | D3DUSAGE_SOFTWAREPROCESSING)

const ZH3D_KIND_INFO ZH3D_KindInfo[ZH3D_KINDS] = {
    {"textured triangles", ZH3D_FVF_TRIS_TEXTURED, 48, 3, 144000, H3D_DYNAMIC, 144000},
    {"pre-transformed textured triangles", ZH3D_FVF_TRIS_TEXTURED_2D, 36, 3, 108000, H3D_DYNAMIC, 108000},
    {"coloured triangles", ZH3D_FVF_TRIS_COLORED, 32, 3, 96000, H3D_DYNAMIC, 96000},
    // Store larger than its 1000 primitives need (60000 bytes), as is the
    // coloured lines' (56000); both sizes are kept as allotted.
    {"pre-transformed coloured triangles", ZH3D_FVF_TRIS_COLORED_2D, 20, 3, 60000, H3D_DYNAMIC, 96000},
    {"textured lines", ZH3D_FVF_LINES_TEXTURED, 32, 2, 64000, H3D_DYNAMIC_SW, 64000},
    {"pre-transformed textured lines", ZH3D_FVF_LINES_TEXTURED_2D, 28, 2, 56000, H3D_DYNAMIC_SW, 56000},
    {"coloured lines", ZH3D_FVF_LINES_COLORED, 28, 2, 56000, H3D_DYNAMIC_SW, 64000},
    {"point sprites", ZH3D_FVF_POINTS, 20, 1, 20000, H3D_DYNAMIC_SW, 20000},
};

static_assert(ZH3D_FVF_TRIS_TEXTURED == 0x2D2 && ZH3D_FVF_TRIS_TEXTURED_2D == 0x244 &&
              ZH3D_FVF_TRIS_COLORED == 0xD2 && ZH3D_FVF_TRIS_COLORED_2D == 0x44 &&
              ZH3D_FVF_LINES_TEXTURED == 0x112 && ZH3D_FVF_LINES_TEXTURED_2D == 0x144 &&
              ZH3D_FVF_LINES_COLORED == 0x52 && ZH3D_FVF_POINTS == 0x102,
              "vertex formats the stores are laid out for");

// Not a ZRF_ bit: the kind also sets D3DRS_BLENDOP for additive batches.
#define H3D_HONOUR_BLENDOP 0x80000000u

// The render flags each kind turns into render states (H3D_BucketStates).
static const uint32_t H3D_Honoured[ZH3D_KINDS] = {
    ZRF_ADDITIVE | ZRF_ALPHATEST | ZRF_ALPHABLEND | ZRF_ALPHATHRESHOLD | H3D_HONOUR_BLENDOP,
    ZRF_ADDITIVE | ZRF_ALPHATEST | ZRF_ALPHABLEND,
    ZRF_ADDITIVE,
    ZRF_ADDITIVE,
    ZRF_ADDITIVE | ZRF_ALPHABLEND,
    ZRF_ADDITIVE | ZRF_ALPHABLEND,
    ZRF_ADDITIVE,
    ZRF_ADDITIVE | ZRF_ALPHATEST | ZRF_ALPHABLEND,
};

#define H3D_STR(x) #x
#define H3D_XSTR(x) H3D_STR(x)
#define H3D_LIMIT_TEXT H3D_XSTR(ZH3D_MAX_BUCKETS)

// Pre-transformed textured lines carry no colour of their own.
#define H3D_LINE2D_DIFFUSE 0x00FFFFFFu

// One entry of the particle sort buffer.
struct H3D_SORT_ENTRY {
    float Distance;         // to the near plane; larger is farther
    uint32_t Point;         // address of the point's 20 bytes in the store
};
static_assert(sizeof(H3D_SORT_ENTRY) * ZH3D_BUCKET_PRIMITIVES == ZH3D_SORT_BUFFER_BYTES,
              "one sort entry per point of a bucket");

static inline uint32_t H3D_Bytes(int kind)
{
    return ZH3D_KindInfo[kind].Stride * ZH3D_KindInfo[kind].VerticesPerPrimitive;
}

// ---------------------------------------------------------------------------
// Queuing

static inline bool H3D_SameKey(const ZH3D_BUCKET* b, const uint32_t key[3], uint32_t flags)
{
    return b->Flags == flags && b->Texture1 == key[0] && b->Texture2 == key[1] && b->Texture3 == key[2];
}

// The one place that checks the table's limit. Returns the bucket the
// primitive goes into (a new one has count 0), or null when refused.
ZH3D_BUCKET* CZH3d::H3D_FindBucket(int kind, const uint32_t key[3], uint32_t flags, uint32_t recordKind)
{
    ZH3D_BUCKET* table = Tables[kind];
    if (!table) {
        // No tables: the device is lost and its reset has not succeeded.
        PrimitivesRefused++;
        return nullptr;
    }
    // A key has at most one bucket that is not full (the walk below passes
    // full ones and opens a new bucket only when none is left), so the
    // bucket of the kind's last primitive is the one the walk would find.
    ZH3D_BUCKET* last = LastBucket[kind];
    if (last && LastBucketShortcut && last->Count < ZH3D_BUCKET_PRIMITIVES && H3D_SameKey(last, key, flags))
        return last;
    BucketWalks++;
    const char* why = "table full (" H3D_LIMIT_TEXT " buckets)";
    for (ZH3D_BUCKET* b = table; b < table + ZH3D_MAX_BUCKETS; b++) {
        if (b->Count == ZH3D_FREE) {
            // Triangle stores outlive the frame; line and point stores were
            // given back when the table was emptied.
            if (b->Store == ZH3D_FREE) {
                void* store = Mem->GetMem(ZH3D_KindInfo[kind].StoreBytes);
                if (!store) {
                    why = "no memory for a store";
                    break;
                }
                b->Store = (uint32_t)(uintptr_t)store;
            }
            b->Texture1 = key[0];
            b->Texture2 = key[1];
            b->Texture3 = key[2];
            b->Kind = recordKind;
            b->Flags = flags;
            b->Cursor = b->Store;
            b->Count = 0;
            LastBucket[kind] = b;
            return b;
        }
        if (b->Count < ZH3D_BUCKET_PRIMITIVES && H3D_SameKey(b, key, flags)) {
            LastBucket[kind] = b;
            return b;
        }
    }
    PrimitivesRefused++;
    if (!(RefusedReported & (1u << kind))) {
        RefusedReported |= 1u << kind;
        if (Debug)
            Debug->OutputDebug("H3D: %s: %s, primitives refused for the rest of the frame",
                               ZH3D_KindInfo[kind].Name, why);
    }
    return nullptr;
}

void CZH3d::DrawPoly(POLYSTRUCT* poly)
{
    int kind;
    switch (poly->Kind) {
    case ZPRIM_TEXTURED: kind = ZH3D_TRIS_TEXTURED; break;
    case ZPRIM_TEXTURED_2D: kind = ZH3D_TRIS_TEXTURED_2D; break;
    case ZPRIM_COLORED: kind = ZH3D_TRIS_COLORED; break;
    case ZPRIM_COLORED_2D: kind = ZH3D_TRIS_COLORED_2D; break;
    default: PrimitivesIgnored++; return;
    }
    const uint32_t flags = poly->Flags;
    // A custom-shader primitive without a shader has nothing to draw with.
    if (kind == ZH3D_TRIS_TEXTURED && (flags & ZRF_CUSTOMSHADER) && poly->Texture1 == 0) {
        PrimitivesIgnored++;
        return;
    }
    // Fields the flags do not use must not split batches.
    if (kind == ZH3D_TRIS_TEXTURED) {
        if (!(flags & (ZRF_SECOND_TEXTURE | ZRF_BUMP)))
            poly->Texture2 = 0;
        if (!(flags & ZRF_BUMP))
            poly->Texture3 = 0;
    } else if (kind == ZH3D_TRIS_TEXTURED_2D) {
        if (!(flags & ZRF_SECOND_TEXTURE))
            poly->Texture2 = 0;
    }
    uint32_t key[3] = {0, 0, 0};
    if (kind == ZH3D_TRIS_TEXTURED) {
        key[0] = poly->Texture1;
        key[1] = poly->Texture2;
        key[2] = poly->Texture3;
    } else if (kind == ZH3D_TRIS_TEXTURED_2D) {
        key[0] = poly->Texture1;
        key[1] = poly->Texture2;
    }
    ZH3D_BUCKET* b = H3D_FindBucket(kind, key, flags, poly->Kind);
    if (!b)
        return;

    uint8_t* out = (uint8_t*)(uintptr_t)b->Cursor;
    switch (kind) {
    case ZH3D_TRIS_TEXTURED:
        memcpy(out, poly->Vertex, 3 * sizeof(POLYVERTEX));
        break;
    case ZH3D_TRIS_COLORED:
        for (int v = 0; v < 3; v++)
            memcpy(out + v * 32, &poly->Vertex[v], 32);
        break;
    case ZH3D_TRIS_TEXTURED_2D:
        for (int v = 0; v < 3; v++) {
            const POLYVERTEX& s = poly->Vertex[v];
            float* f = (float*)(out + v * 36);
            f[0] = s.x;
            f[1] = s.y;
            f[2] = s.z;
            f[3] = poly->Rhw;
            ((uint32_t*)f)[4] = s.Diffuse;
            f[5] = s.u;
            f[6] = s.v;
            f[7] = s.u2;
            f[8] = s.v2;
        }
        break;
    default:    // ZH3D_TRIS_COLORED_2D
        for (int v = 0; v < 3; v++) {
            const POLYVERTEX& s = poly->Vertex[v];
            float* f = (float*)(out + v * 20);
            f[0] = s.x;
            f[1] = s.y;
            f[2] = s.z;
            f[3] = poly->Rhw;
            ((uint32_t*)f)[4] = s.Diffuse;
        }
        break;
    }
    b->Cursor += H3D_Bytes(kind);
    b->Count++;
    PrimitivesQueued++;
}

void CZH3d::DrawLine(LINESTRUCT* line)
{
    int kind;
    switch (line->Kind) {
    case ZPRIM_TEXTURED: kind = ZH3D_LINES_TEXTURED; break;
    case ZPRIM_TEXTURED_2D: kind = ZH3D_LINES_TEXTURED_2D; break;
    case ZPRIM_COLORED: kind = ZH3D_LINES_COLORED; break;
    default: PrimitivesIgnored++; return;
    }
    const uint32_t key[3] = {kind == ZH3D_LINES_COLORED ? 0 : line->Texture, 0, 0};
    ZH3D_BUCKET* b = H3D_FindBucket(kind, key, line->Flags, line->Kind);
    if (!b)
        return;

    uint8_t* out = (uint8_t*)(uintptr_t)b->Cursor;
    if (kind == ZH3D_LINES_TEXTURED) {
        memcpy(out, line->End, 2 * sizeof(LINEVERTEX));
    } else {
        for (int e = 0; e < 2; e++) {
            const LINEVERTEX& s = line->End[e];
            float* f = (float*)(out + e * 28);
            f[0] = s.x;
            f[1] = s.y;
            f[2] = s.z;
            if (kind == ZH3D_LINES_COLORED) {
                f[3] = s.nx;
                f[4] = s.ny;
                f[5] = s.nz;
                ((uint32_t*)f)[6] = e == 0 ? line->Color0 : line->Color1;
            } else {
                f[3] = 1.0f;    // rhw
                ((uint32_t*)f)[4] = H3D_LINE2D_DIFFUSE;
                f[5] = s.u;
                f[6] = s.v;
            }
        }
    }
    b->Cursor += H3D_Bytes(kind);
    b->Count++;
    PrimitivesQueued++;
}

void CZH3d::DrawPoint(POINTSTRUCT* point)
{
    if (point->Kind != ZPRIM_POINT) {
        PrimitivesIgnored++;
        return;
    }
    const uint32_t key[3] = {point->Texture, 0, 0};
    ZH3D_BUCKET* b = H3D_FindBucket(ZH3D_POINTS, key, point->Flags, point->Kind);
    if (!b)
        return;
    memcpy((void*)(uintptr_t)b->Cursor, point, 20);
    b->Cursor += 20;
    b->Count++;
    PrimitivesQueued++;
}

// ---------------------------------------------------------------------------
// Emptying

void CZH3d::H3D_DeleteTables()
{
    for (int k = 0; k < ZH3D_KINDS; k++) {
        ZH3D_BUCKET* table = Tables[k];
        if (!table)
            continue;
        const bool keepStores = k <= ZH3D_TRIS_COLORED_2D;
        for (ZH3D_BUCKET* b = table; b < table + ZH3D_MAX_BUCKETS && b->Count != ZH3D_FREE; b++) {
            // H3D_DrawBucket rewinds the cursor of what it drew.
            if (b->Cursor != b->Store)
                PrimitivesDropped += b->Count;
            b->Count = ZH3D_FREE;
            if (keepStores) {
                b->Cursor = b->Store;
            } else {
                Mem->FreeMem((void*)(uintptr_t)b->Store, ZH3D_KindInfo[k].StoreBytes);
                b->Store = ZH3D_FREE;
                b->Cursor = ZH3D_FREE;
            }
        }
    }
    for (int k = 0; k < ZH3D_KINDS; k++)
        LastBucket[k] = nullptr;
    RefusedReported = 0;
}

// ---------------------------------------------------------------------------
// Drawing

void CZH3d::H3D_BindTexture(unsigned long stage, uint32_t texture)
{
    // The slots start each frame at 0 while the device may still hold last
    // frame's texture: "none" is only skipped when the device has none.
    if (BoundTextures[stage] == texture && (texture != 0 || DeviceTextures[stage] == 0)) {
        FrameTextureSkips++;
        return;
    }
    IDirect3DBaseTexture9* bound = (IDirect3DBaseTexture9*)(uintptr_t)texture;
    // A render texture's handle stands for its render target of the moment.
    for (const ZH3D_RENDER_TEXTURE* rt = RenderTextures; rt && texture; rt = rt->Next)
        if ((uint32_t)(uintptr_t)rt->Handle == texture) {
            bound = rt->Texture;
            break;
        }
    Vgs->Device->SetTexture(stage, bound);
    BoundTextures[stage] = texture;
    DeviceTextures[stage] = texture;
    FrameTextureSets++;
}

static void H3D_StageOps(IDirect3DDevice9* device, DWORD stage, DWORD op, DWORD arg)
{
    device->SetTextureStageState(stage, D3DTSS_COLOROP, op);
    device->SetTextureStageState(stage, D3DTSS_COLORARG1, arg);
    device->SetTextureStageState(stage, D3DTSS_ALPHAOP, op);
    device->SetTextureStageState(stage, D3DTSS_ALPHAARG1, arg);
}

static void H3D_StageDisabled(IDirect3DDevice9* device, DWORD stage)
{
    device->SetTextureStageState(stage, D3DTSS_COLOROP, D3DTOP_DISABLE);
    device->SetTextureStageState(stage, D3DTSS_ALPHAOP, D3DTOP_DISABLE);
}

// The second-texture operation; the last bit set in this order wins.
static DWORD H3D_SecondOp(uint32_t flags)
{
    static const struct { uint32_t Bit; DWORD Op; } ops[] = {
        {ZRF_OP_SUBTRACT, D3DTOP_SUBTRACT},       {ZRF_OP_ADDSIGNED, D3DTOP_ADDSIGNED},
        {ZRF_OP_ADDSIGNED2X, D3DTOP_ADDSIGNED2X}, {ZRF_OP_ADDSMOOTH, D3DTOP_ADDSMOOTH},
        {ZRF_OP_MODULATE, D3DTOP_MODULATE},       {ZRF_OP_MODULATE4X, D3DTOP_MODULATE4X},
        {ZRF_OP_DOTPRODUCT3, D3DTOP_DOTPRODUCT3},
    };
    DWORD op = D3DTOP_ADD;
    for (const auto& o : ops)
        if (flags & o.Bit)
            op = o.Op;
    return op;
}

static void H3D_SecondStage(IDirect3DDevice9* device, DWORD stage, uint32_t flags)
{
    device->SetTextureStageState(stage, D3DTSS_COLORARG1, D3DTA_TEXTURE);
    device->SetTextureStageState(stage, D3DTSS_COLOROP, H3D_SecondOp(flags));
    device->SetTextureStageState(stage, D3DTSS_TEXCOORDINDEX, 1);
    device->SetTextureStageState(stage, D3DTSS_COLORARG2, D3DTA_CURRENT);
    device->SetTextureStageState(stage, D3DTSS_ALPHAOP, D3DTOP_DISABLE);
}

// The kind's common set-up before its first bucket.
void CZH3d::H3D_BeginKind(int kind)
{
    IDirect3DDevice9* device = Vgs->Device;
    device->SetFVF(ZH3D_KindInfo[kind].Fvf);
    device->SetVertexShader(NULL);
    device->SetPixelShader(NULL);
    device->SetStreamSource(0, VertexBuffers[kind], 0, ZH3D_KindInfo[kind].Stride);
    // A kind without alpha testing must not inherit a previous kind's test.
    if (!(H3D_Honoured[kind] & ZRF_ALPHATEST))
        device->SetRenderState(D3DRS_ALPHATESTENABLE, 0);
}

void CZH3d::H3D_BucketStates(const ZH3D_BUCKET* bucket, uint32_t honoured)
{
    IDirect3DDevice9* device = Vgs->Device;
    const uint32_t flags = bucket->Flags & honoured;
    if (flags & ZRF_ADDITIVE) {
        device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_ONE);
        device->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_ONE);
        device->SetRenderState(D3DRS_ALPHABLENDENABLE, 1);
        if (honoured & H3D_HONOUR_BLENDOP)
            device->SetRenderState(D3DRS_BLENDOP, D3DBLENDOP_ADD);
    } else {
        device->SetRenderState(D3DRS_ALPHABLENDENABLE, 0);
    }
    if (honoured & ZRF_ALPHATEST)
        device->SetRenderState(D3DRS_ALPHATESTENABLE, (flags & ZRF_ALPHATEST) ? 1 : 0);
    if (flags & ZRF_ALPHABLEND) {
        device->SetRenderState(D3DRS_SRCBLEND, SourceBlend);
        device->SetRenderState(D3DRS_DESTBLEND, DestBlend);
        device->SetRenderState(D3DRS_ALPHABLENDENABLE, 1);
    }
    if (flags & ZRF_ALPHATHRESHOLD) {
        device->SetRenderState(D3DRS_ALPHATESTENABLE, 1);
        device->SetRenderState(D3DRS_ALPHAFUNC, D3DCMP_LESSEQUAL);
        device->SetRenderState(D3DRS_ALPHAREF, AlphaTestRef);
    }
}

// Fills the kind's vertex buffer from the bucket's store and draws, one
// buffer-full at a time.
void CZH3d::H3D_DrawBucket(int kind, ZH3D_BUCKET* bucket, D3DPRIMITIVETYPE type)
{
    IDirect3DVertexBuffer9* vb = VertexBuffers[kind];
    const uint32_t bytes = H3D_Bytes(kind);
    const uint8_t* from = (const uint8_t*)(uintptr_t)bucket->Store;
    uint32_t left = bucket->Count;
    FrameBatches++;
    while (left) {
        uint32_t n = left < ZH3D_BUCKET_PRIMITIVES ? left : ZH3D_BUCKET_PRIMITIVES;
        void* p = nullptr;
        if (!H3D_Check(vb->Lock(0, 0, &p, D3DLOCK_DISCARD | D3DLOCK_NOSYSLOCK), "Lock (vertex buffer)") || !p) {
            PrimitivesDropped += left;
            break;
        }
        CZMem::MMXMemCopy(from, p, n * bytes);
        vb->Unlock();
        Vgs->Device->DrawPrimitive(type, 0, n);
        FrameDrawCalls++;
        FramePrimitives += n;
        from += n * bytes;
        left -= n;
    }
    // Marks the bucket drawn for H3D_DeleteTables (which rewinds it anyway).
    bucket->Cursor = bucket->Store;
}

void CZH3d::H3D_CustomShader(const ZH3D_BUCKET* bucket)
{
    IDirect3DDevice9* device = Vgs->Device;
    ZH3D_SHADER* shader = (ZH3D_SHADER*)(uintptr_t)bucket->Texture1;
    if (shader->VertexShader) {
        device->SetFVF(ZH3D_FVF_TRIS_TEXTURED);
        device->SetVertexShader(shader->VertexShader);
    }
    if (shader->PixelShader)
        device->SetPixelShader(shader->PixelShader);
    for (unsigned long s = 0; s < ZH3D_STAGES; s++)
        H3D_BindTexture(s, shader->Textures[s]);
    H3D_StageOps(device, 0, D3DTOP_SELECTARG1, D3DTA_DIFFUSE);
    H3D_StageDisabled(device, 1);

    for (unsigned long reg = 0; reg < ZH3D_SHADER_CONSTANTS; reg++) {
        const ZH3D_SHADER_CONSTANT& c = shader->Constants[reg];
        if (!c.Set)
            continue;
        if (c.Kind == 0) {
            device->SetVertexShaderConstantF(reg, &c.x, 1);
            continue;
        }
        // A matrix needs four slots; one that would run past the record's
        // last register is not uploaded.
        if (reg + 4 > ZH3D_SHADER_CONSTANTS)
            continue;
        if (c.Kind == 1)
            SetVSClipMatrix((unsigned long)(uintptr_t)shader, reg);
        else
            SetVSWorldViewMatrix((unsigned long)(uintptr_t)shader, reg);
        float rows[16];
        for (int i = 0; i < 4; i++)
            memcpy(&rows[i * 4], &shader->Constants[reg + i].x, 4 * sizeof(float));
        device->SetVertexShaderConstantF(reg, rows, 4);
        reg += 3;
    }
}

void CZH3d::H3D_RenderTrianglesTextured()
{
    ZH3D_BUCKET* table = Tables[ZH3D_TRIS_TEXTURED];
    if (!table || table->Count == ZH3D_FREE)
        return;
    IDirect3DDevice9* device = Vgs->Device;
    H3D_BeginKind(ZH3D_TRIS_TEXTURED);
    for (ZH3D_BUCKET* b = table; b < table + ZH3D_MAX_BUCKETS && b->Count != ZH3D_FREE; b++) {
        const uint32_t f = b->Flags;
        const bool custom = (f & ZRF_CUSTOMSHADER) != 0;
        const ZH3D_SHADER* shader = custom ? (const ZH3D_SHADER*)(uintptr_t)b->Texture1 : nullptr;
        const bool vertexShader = shader && shader->VertexShader;
        const bool pixelShader = shader && shader->PixelShader;
        bool clamped = false;
        if (custom)
            H3D_CustomShader(b);
        if (!vertexShader) {
            device->SetVertexShader(NULL);
            device->SetFVF(ZH3D_FVF_TRIS_TEXTURED);
        }
        if (!pixelShader) {
            device->SetPixelShader(NULL);
            if (!custom) {
                H3D_BindTexture(0, b->Texture1);
                H3D_StageOps(device, 0, D3DTOP_SELECTARG1, D3DTA_TEXTURE);
                H3D_StageDisabled(device, 1);
                H3D_StageDisabled(device, 2);
            }
            if (f & ZRF_SECOND_TEXTURE) {
                const bool bump = (f & ZRF_BUMP) != 0;
                const DWORD s = bump ? 2 : 1;
                if (custom)     // otherwise set just above
                    H3D_StageOps(device, 0, D3DTOP_SELECTARG1, D3DTA_TEXTURE);
                H3D_SecondStage(device, s, f);
                if (!custom)
                    H3D_BindTexture(s, b->Texture2);
                if (bump) {
                    if (!custom)
                        H3D_BindTexture(1, b->Texture3);
                    device->SetTextureStageState(1, D3DTSS_TEXCOORDINDEX, 0);
                    device->SetTextureStageState(1, D3DTSS_COLORARG1, D3DTA_TEXTURE);
                    device->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_BUMPENVMAP);
                    device->SetTextureStageState(1, D3DTSS_BUMPENVMAT00, H3D_FloatBits(1.0f));
                    device->SetTextureStageState(1, D3DTSS_BUMPENVMAT01, H3D_FloatBits(0.0f));
                    device->SetTextureStageState(1, D3DTSS_BUMPENVMAT10, H3D_FloatBits(0.0f));
                    device->SetTextureStageState(1, D3DTSS_BUMPENVMAT11, H3D_FloatBits(1.0f));
                }
            } else {
                H3D_BindTexture(1, 0);
                H3D_StageDisabled(device, 1);
            }
            if ((f & ZRF_CLAMP) && WrappingOn) {
                SetTextureWrapping(false);
                clamped = true;
            }
        }
        H3D_BucketStates(b, H3D_Honoured[ZH3D_TRIS_TEXTURED]);
        H3D_DrawBucket(ZH3D_TRIS_TEXTURED, b, D3DPT_TRIANGLELIST);
        if (clamped)
            SetTextureWrapping(true);
    }
}

// Coloured triangles of both kinds: vertex colours only.
static void H3D_ColouredStages(IDirect3DDevice9* device)
{
    H3D_StageOps(device, 0, D3DTOP_SELECTARG1, D3DTA_DIFFUSE);
    H3D_StageDisabled(device, 1);
}

// Coloured triangles of both kinds: no textures, vertex colours only.
void CZH3d::H3D_RenderColoured(int kind)
{
    ZH3D_BUCKET* table = Tables[kind];
    if (!table || table->Count == ZH3D_FREE)
        return;
    H3D_BeginKind(kind);
    for (unsigned long s = 0; s < 3; s++)
        H3D_BindTexture(s, 0);
    H3D_ColouredStages(Vgs->Device);
    for (ZH3D_BUCKET* b = table; b < table + ZH3D_MAX_BUCKETS && b->Count != ZH3D_FREE; b++) {
        H3D_BucketStates(b, H3D_Honoured[kind]);
        H3D_DrawBucket(kind, b, D3DPT_TRIANGLELIST);
    }
}

void CZH3d::H3D_RenderTrianglesColored() { H3D_RenderColoured(ZH3D_TRIS_COLORED); }
void CZH3d::H3D_RenderTrianglesColoredTransformed() { H3D_RenderColoured(ZH3D_TRIS_COLORED_2D); }

void CZH3d::H3D_RenderTrianglesTexturedTransformed()
{
    ZH3D_BUCKET* table = Tables[ZH3D_TRIS_TEXTURED_2D];
    if (!table || table->Count == ZH3D_FREE)
        return;
    IDirect3DDevice9* device = Vgs->Device;
    H3D_BeginKind(ZH3D_TRIS_TEXTURED_2D);
    H3D_StageOps(device, 0, D3DTOP_SELECTARG1, D3DTA_TEXTURE);
    // A bump batch of the world-space kind may have left stage 2 on.
    H3D_StageDisabled(device, 2);
    for (ZH3D_BUCKET* b = table; b < table + ZH3D_MAX_BUCKETS && b->Count != ZH3D_FREE; b++) {
        H3D_BindTexture(0, b->Texture1);
        if (b->Flags & ZRF_SECOND_TEXTURE) {
            H3D_SecondStage(device, 1, b->Flags);
            H3D_BindTexture(1, b->Texture2);
        } else {
            H3D_BindTexture(1, 0);
            H3D_StageDisabled(device, 1);
        }
        H3D_BucketStates(b, H3D_Honoured[ZH3D_TRIS_TEXTURED_2D]);
        H3D_DrawBucket(ZH3D_TRIS_TEXTURED_2D, b, D3DPT_TRIANGLELIST);
    }
}

// Textured lines of both kinds and point sprites: the texture alone.
void CZH3d::H3D_RenderTextureOnly(int kind, D3DPRIMITIVETYPE type)
{
    ZH3D_BUCKET* table = Tables[kind];
    IDirect3DDevice9* device = Vgs->Device;
    H3D_BeginKind(kind);
    H3D_StageOps(device, 0, D3DTOP_SELECTARG1, D3DTA_TEXTURE);
    H3D_StageDisabled(device, 1);
    const bool sort = kind == ZH3D_POINTS && SortBuffer;
    for (ZH3D_BUCKET* b = table; b < table + ZH3D_MAX_BUCKETS && b->Count != ZH3D_FREE; b++) {
        H3D_BindTexture(0, b->Texture1);
        H3D_BucketStates(b, H3D_Honoured[kind]);
        if (sort)
            H3D_SortPoints(b);
        H3D_DrawBucket(kind, b, type);
    }
}

void CZH3d::H3D_RenderLinesTextured()
{
    ZH3D_BUCKET* table = Tables[ZH3D_LINES_TEXTURED];
    if (table && table->Count != ZH3D_FREE)
        H3D_RenderTextureOnly(ZH3D_LINES_TEXTURED, D3DPT_LINELIST);
}

void CZH3d::H3D_RenderLinesTextured2D()
{
    ZH3D_BUCKET* table = Tables[ZH3D_LINES_TEXTURED_2D];
    if (table && table->Count != ZH3D_FREE)
        H3D_RenderTextureOnly(ZH3D_LINES_TEXTURED_2D, D3DPT_LINELIST);
}

void CZH3d::H3D_RenderPointSprites()
{
    ZH3D_BUCKET* table = Tables[ZH3D_POINTS];
    if (!table || table->Count == ZH3D_FREE)
        return;
    // Sprites overlap their neighbours' corners: no depth writes among them.
    Vgs->Device->SetRenderState(D3DRS_ZWRITEENABLE, 0);
    H3D_RenderTextureOnly(ZH3D_POINTS, D3DPT_POINTLIST);
    Vgs->Device->SetRenderState(D3DRS_ZWRITEENABLE, 1);
}

void CZH3d::H3D_RenderLinesColored()
{
    ZH3D_BUCKET* table = Tables[ZH3D_LINES_COLORED];
    if (!table || table->Count == ZH3D_FREE)
        return;
    H3D_BeginKind(ZH3D_LINES_COLORED);
    H3D_BindTexture(0, 0);
    // Set explicitly: a texture-select left by an earlier kind would draw
    // these untextured lines black.
    H3D_ColouredStages(Vgs->Device);
    for (ZH3D_BUCKET* b = table; b < table + ZH3D_MAX_BUCKETS && b->Count != ZH3D_FREE; b++) {
        H3D_BucketStates(b, H3D_Honoured[ZH3D_LINES_COLORED]);
        H3D_DrawBucket(ZH3D_LINES_COLORED, b, D3DPT_LINELIST);
    }
}

// Back to front within the bucket: farthest from the near plane first.
void CZH3d::H3D_SortPoints(ZH3D_BUCKET* bucket)
{
    H3D_SORT_ENTRY* keys = (H3D_SORT_ENTRY*)SortBuffer;
    const Plane& nearPlane = Frustum[4];
    const uint32_t n = bucket->Count;
    uint8_t* point = (uint8_t*)(uintptr_t)bucket->Store;
    for (uint32_t i = 0; i < n; i++, point += 20) {
        const float* p = (const float*)point;
        keys[i].Distance = nearPlane.a * p[0] + nearPlane.b * p[1] + nearPlane.c * p[2] + nearPlane.d;
        keys[i].Point = (uint32_t)(uintptr_t)point;
    }
    for (uint32_t i = 0; i + 1 < n; i++) {
        uint32_t farthest = i;
        for (uint32_t j = i + 1; j < n; j++)
            if (keys[j].Distance > keys[farthest].Distance)
                farthest = j;
        if (farthest == i)
            continue;
        uint8_t tmp[20];
        uint8_t* a = (uint8_t*)(uintptr_t)keys[i].Point;
        uint8_t* b = (uint8_t*)(uintptr_t)keys[farthest].Point;
        memcpy(tmp, a, 20);
        memcpy(a, b, 20);
        memcpy(b, tmp, 20);
        const float d = keys[i].Distance;
        keys[i].Distance = keys[farthest].Distance;
        keys[farthest].Distance = d;
    }
}

void CZH3d::SetParticlesOrder(bool on)
{
    ParticlesOrderOn = on ? 1 : 0;
    if (on && !SortBuffer) {
        SortBuffer = (uint8_t*)Mem->GetMem(ZH3D_SORT_BUFFER_BYTES);
        if (!SortBuffer && Debug)
            Debug->OutputDebug("H3D: no memory for the particle sort buffer, particles drawn unsorted");
    } else if (!on && SortBuffer) {
        Mem->FreeMem(SortBuffer, ZH3D_SORT_BUFFER_BYTES);
        SortBuffer = nullptr;
    }
}
