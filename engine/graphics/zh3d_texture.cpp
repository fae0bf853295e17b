// CZH3d texture manager: the shared texture table, loads through D3DX,
// derived textures (colour key, constant alpha, TGA alpha), alpha editing,
// locks, bump maps and render textures.
//
// Every texture made here lives in the managed pool, mip-mapped loads
// included (D3DX builds their full chain there just as well): a device reset
// then keeps every handle an application holds, and no texture can make
// Reset fail. Render textures are render targets, so default pool by nature:
// H3D_DeInit releases their surfaces before a reset and Init makes them
// again, keeping the records (the render-texture handles) and the texture
// handles they gave out (a stand-in the renderer binds the target for).
#include "zh3d.h"

#include <cstdio>
#include <cstring>
#include <d3dx9.h>

#include "zcaps.h"
#include "zdebug.h"
#include "zh3d_local.h"
#include "zmem.h"
#include "zvgs.h"
#include "zxfs.h"

static_assert(sizeof(void*) == 4, "texture handles are 32-bit pointer values");

// Room for a fatal message naming a file.
#define H3D_MESSAGE_MAX (ZH3D_TEXTURE_NAME_MAX + 64)
// Records the table first makes room for; it doubles from there.
#define H3D_TEXTURE_TABLE_FIRST 64
// LoadTexture's image: 256 x 256 R5G6B5 texels, rows packed.
#define H3D_RAW_SIZE 256
#define H3D_RAW_ROW_BYTES (H3D_RAW_SIZE * 2)

// How H3D_DeriveTexture makes each texel from the source's.
enum H3D_DERIVE { H3D_DERIVE_COLORKEY, H3D_DERIVE_ALPHA, H3D_DERIVE_TGA };

static IDirect3DTexture9* H3D_Tex(unsigned long handle) { return (IDirect3DTexture9*)(uintptr_t)handle; }

// The one place every checked device, D3DX and lock result goes through:
// a failure is counted and logged with the call's name.
bool CZH3d::H3D_Check(HRESULT hr, const char* call)
{
    if (SUCCEEDED(hr))
        return true;
    DeviceCallsFailed++;
    if (Debug)
        Debug->OutputDebug("H3D: %s failed (0x%08lx)", call, (unsigned long)hr);
    return false;
}

[[noreturn]] static void H3D_FatalName(CZDebug* debug, const char* before, const char* name, const char* after,
                                       const char* caption)
{
    char message[H3D_MESSAGE_MAX];
    snprintf(message, sizeof(message), "%s%s%s", before, name ? name : "", after);
    debug->ShowMessageAndExit(message, caption);
}

// Reads a file whole through the file system (the master file when one is
// open). The block is at least one byte; give it back with FreeMem(block,
// max(size, 1)).
void* CZH3d::H3D_ReadWholeFile(const char* name, unsigned long* size)
{
    unsigned long handle = Xfs->OpenFile(name);
    unsigned long bytes = Xfs->GetFileSize(handle);
    void* data = Mem->GetMem(bytes ? bytes : 1);
    if (!data)
        H3D_FatalName(Debug, "Not enough memory to read ", name, "", ZH3D_CAPTION_TEXTURES);
    *size = Xfs->ReadFile(handle, data, bytes);
    Xfs->CloseFile(handle);
    return data;
}

static void H3D_FreeFile(CZMem* mem, void* data, unsigned long size)
{
    mem->FreeMem(data, size ? size : 1);
}

// ---------------------------------------------------------------------------
// The table

// Where a load of this moment comes from: the open master file, or else
// the current directory.
static void H3D_Place(CZXfs* xfs, char* directory, char* master)
{
    directory[0] = master[0] = 0;
    if (xfs->MasterOpen) {
        const size_t n = strnlen(xfs->MasterFileName, ZH3D_TEXTURE_NAME_MAX - 1);
        memcpy(master, xfs->MasterFileName, n);
        master[n] = 0;
    } else if (!GetCurrentDirectoryA(ZH3D_TEXTURE_NAME_MAX, directory) ||
               strlen(directory) >= ZH3D_TEXTURE_NAME_MAX) {
        directory[0] = 0;
    }
}

unsigned long CZH3d::H3D_IsTextureAlreadyLoaded(char* name)
{
    if (!name)
        return 0;
    char directory[ZH3D_TEXTURE_NAME_MAX], master[ZH3D_TEXTURE_NAME_MAX];
    H3D_Place(Xfs, directory, master);
    const bool inMaster = Xfs->MasterOpen != 0;
    for (uint32_t i = 0; i < TextureTable.Count; i++) {
        ZH3D_TEXTURE& t = TextureTable.Records[i];
        if (_stricmp(t.Name, name) != 0)
            continue;
        if (inMaster ? _stricmp(t.MasterFile, master) != 0 : _stricmp(t.Directory, directory) != 0)
            continue;
        t.References++;
        TexturesShared++;
        return t.Texture;
    }
    return 0;
}

// Appends a record (one reference) under the place of this moment. A name
// the record cannot hold is loaded but not shared.
void CZH3d::H3D_AddTexture(const char* name, uint32_t texture)
{
    if (strlen(name) >= ZH3D_TEXTURE_NAME_MAX) {
        Debug->OutputDebug("H3D: texture name longer than %d characters, loaded but not shared: %.60s...",
                           ZH3D_TEXTURE_NAME_MAX - 1, name);
        return;
    }
    if (TextureTable.Count == TextureTable.Capacity) {
        const uint32_t capacity = TextureTable.Capacity ? TextureTable.Capacity * 2 : H3D_TEXTURE_TABLE_FIRST;
        ZH3D_TEXTURE* records = (ZH3D_TEXTURE*)Mem->GetMem(capacity * sizeof(ZH3D_TEXTURE));
        if (!records)
            Debug->ShowMessageAndExit("Not enough memory for the texture table", ZH3D_CAPTION_TEXTURES);
        if (TextureTable.Records) {
            memcpy(records, TextureTable.Records, TextureTable.Count * sizeof(ZH3D_TEXTURE));
            Mem->FreeMem(TextureTable.Records, TextureTable.Capacity * sizeof(ZH3D_TEXTURE));
        }
        TextureTable.Records = records;
        TextureTable.Capacity = capacity;
    }
    ZH3D_TEXTURE& t = TextureTable.Records[TextureTable.Count++];
    memset(&t, 0, sizeof(t));
    strcpy(t.Name, name);
    H3D_Place(Xfs, t.Directory, t.MasterFile);
    t.Texture = texture;
    t.References = 1;
}

ZH3D_TEXTURE* CZH3d::H3D_FindTexture(uint32_t texture)
{
    for (uint32_t i = 0; i < TextureTable.Count; i++)
        if (TextureTable.Records[i].Texture == texture)
            return &TextureTable.Records[i];
    return nullptr;
}

// The destructor's: every texture and render texture still held goes.
void CZH3d::H3D_ReleaseTextures()
{
    for (uint32_t i = 0; i < TextureTable.Count; i++)
        H3D_Tex(TextureTable.Records[i].Texture)->Release();
    if (TextureTable.Records && Mem)
        Mem->FreeMem(TextureTable.Records, TextureTable.Capacity * sizeof(ZH3D_TEXTURE));
    TextureTable = ZH3D_TEXTURE_TABLE{nullptr, 0, 0};
    while (RenderTextures)
        DestroyRenderTexture((unsigned long)(uintptr_t)RenderTextures);
}

// ---------------------------------------------------------------------------
// Loads

unsigned long CZH3d::LoadTextureFromFile(char* name) { return H3D_LoadTextureParsed(name); }

// Reads the file and has D3DX make a texture of it (any format it reads;
// with mip-mapping the full chain, in the managed pool either way). A
// failure is fatal: `failure` + name + " Texture.".
IDirect3DTexture9* CZH3d::H3D_DecodeFile(char* name, bool mipMapped, const char* failure)
{
    unsigned long size = 0;
    void* data = H3D_ReadWholeFile(name, &size);
    IDirect3DTexture9* texture = nullptr;
    HRESULT hr;
    if (mipMapped)
        hr = D3DXCreateTextureFromFileInMemoryEx(Vgs->Device, data, size, D3DX_DEFAULT, D3DX_DEFAULT, D3DX_DEFAULT, 0,
                                                 D3DFMT_UNKNOWN, D3DPOOL_MANAGED, D3DX_DEFAULT, D3DX_DEFAULT, 0,
                                                 NULL, NULL, &texture);
    else
        hr = D3DXCreateTextureFromFileInMemory(Vgs->Device, data, size, &texture);
    H3D_FreeFile(Mem, data, size);
    if (!H3D_Check(hr, "D3DXCreateTextureFromFileInMemory") || !texture)
        H3D_FatalName(Debug, failure, name, " Texture.", ZH3D_CAPTION_TEXTURES);
    TexturesDecoded++;
    return texture;
}

unsigned long CZH3d::H3D_LoadTextureParsed(char* name)
{
    if (!name || !name[0]) {
        Debug->OutputDebug("H3D: LoadTextureFromFile without a name; pass a file name");
        return 0;
    }
    unsigned long shared = H3D_IsTextureAlreadyLoaded(name);
    if (shared)
        return shared;

    IDirect3DTexture9* texture = H3D_DecodeFile(name, MipMappingOn != 0, "Failed when create:");
    H3D_AddTexture(name, (uint32_t)(uintptr_t)texture);
    return (unsigned long)(uintptr_t)texture;
}

unsigned long CZH3d::LoadTexture(void* pixels)
{
    if (!pixels) {
        Debug->OutputDebug("H3D: LoadTexture without pixels; pass 131072 bytes of R5G6B5");
        return 0;
    }
    IDirect3DTexture9* texture = nullptr;
    if (!H3D_Check(Vgs->Device->CreateTexture(H3D_RAW_SIZE, H3D_RAW_SIZE, 1, 0, D3DFMT_R5G6B5, D3DPOOL_MANAGED,
                                              &texture, NULL),
                   "CreateTexture (R5G6B5)"))
        Debug->ShowMessageAndExit("Failed when create: 256x256 R5G6B5 Texture.", ZH3D_CAPTION_TEXTURES);
    D3DLOCKED_RECT lr;
    if (H3D_Check(texture->LockRect(0, &lr, NULL, D3DLOCK_NOSYSLOCK), "LockRect (R5G6B5)")) {
        // Row by row: the texture's pitch need not be 512.
        const uint8_t* from = (const uint8_t*)pixels;
        for (int y = 0; y < H3D_RAW_SIZE; y++, from += H3D_RAW_ROW_BYTES)
            memcpy((uint8_t*)lr.pBits + y * lr.Pitch, from, H3D_RAW_ROW_BYTES);
        texture->UnlockRect(0);
    }
    return (unsigned long)(uintptr_t)texture;
}

// The three derived loads: an A8R8G8B8 copy of the named image's level 0,
// made texel by texel. The source is given back; the copy is shared under
// the name for alpha and TGA (so a later plain load of the name gets it).
unsigned long CZH3d::H3D_DeriveTexture(char* name, int how, uint32_t value)
{
    // The flag alone: the loads below must not change the samplers.
    const unsigned char mip = MipMappingOn;
    MipMappingOn = 0;
    const unsigned long source = H3D_LoadTextureParsed(name);
    MipMappingOn = mip;
    if (!source)
        return 0;

    IDirect3DTexture9* src = H3D_Tex(source);
    D3DSURFACE_DESC desc;
    src->GetLevelDesc(0, &desc);
    IDirect3DTexture9* dst = nullptr;
    if (!H3D_Check(Vgs->Device->CreateTexture(desc.Width, desc.Height, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &dst,
                                              NULL),
                   "CreateTexture (A8R8G8B8)"))
        H3D_FatalName(Debug, "Failed when create:", name, " Texture.", ZH3D_CAPTION_TEXTURES);

    // A 32-bit source is walked as it is. Any other format (16 or 24 bits)
    // is first converted into the copy, which is then walked in place:
    // reading it as 32-bit texels would run past its rows.
    const bool raw = desc.Format == D3DFMT_A8R8G8B8 || desc.Format == D3DFMT_X8R8G8B8;
    if (!raw) {
        IDirect3DSurface9 *from = nullptr, *to = nullptr;
        src->GetSurfaceLevel(0, &from);
        dst->GetSurfaceLevel(0, &to);
        H3D_Check(D3DXLoadSurfaceFromSurface(to, NULL, NULL, from, NULL, NULL, D3DX_FILTER_NONE, 0),
                  "D3DXLoadSurfaceFromSurface");
        if (from)
            from->Release();
        if (to)
            to->Release();
    }
    D3DLOCKED_RECT in, out;
    if (H3D_Check(dst->LockRect(0, &out, NULL, D3DLOCK_NOSYSLOCK), "LockRect (derived texture)")) {
        if (!raw)
            in = out;
        if (raw && !H3D_Check(src->LockRect(0, &in, NULL, D3DLOCK_NOSYSLOCK | D3DLOCK_READONLY),
                              "LockRect (derived source)"))
            in.pBits = nullptr;
        const uint32_t alpha = value << 24;
        for (UINT y = 0; in.pBits && y < desc.Height; y++) {
            const uint32_t* s = (const uint32_t*)((const uint8_t*)in.pBits + y * in.Pitch);
            uint32_t* d = (uint32_t*)((uint8_t*)out.pBits + y * out.Pitch);
            for (UINT x = 0; x < desc.Width; x++) {
                const uint32_t t = s[x];
                switch (how) {
                // The key keeps its own alpha (usually 0: dropped by the
                // alpha test); every other texel gets at least alpha 1.
                case H3D_DERIVE_COLORKEY: d[x] = t == value ? t : t | 0x01000000u; break;
                case H3D_DERIVE_ALPHA: d[x] = t | alpha; break;
                default: d[x] = t; break;       // the TGA's own alpha channel
                }
            }
        }
        if (raw && in.pBits)
            src->UnlockRect(0);
        dst->UnlockRect(0);
    }
    UnloadTexture(source);
    if (how != H3D_DERIVE_COLORKEY)
        H3D_AddTexture(name, (uint32_t)(uintptr_t)dst);
    return (unsigned long)(uintptr_t)dst;
}

unsigned long CZH3d::LoadColorKeyTexture(char* name, unsigned long key)
{
    return H3D_DeriveTexture(name, H3D_DERIVE_COLORKEY, (uint32_t)key);
}

unsigned long CZH3d::LoadAlphaTexture(char* name, unsigned char alpha)
{
    return H3D_DeriveTexture(name, H3D_DERIVE_ALPHA, alpha);
}

unsigned long CZH3d::LoadAlphaTextureTGA(char* name) { return H3D_DeriveTexture(name, H3D_DERIVE_TGA, 0); }

// ---------------------------------------------------------------------------
// Editing

// The top byte of every texel of level 0: `alpha`, or with a map the map's
// next byte (rows packed, top row first). Only 32-bit textures have one.
void CZH3d::H3D_SetTopBytes(unsigned long texture, unsigned char alpha, const unsigned char* map)
{
    if (!texture)
        return;
    IDirect3DTexture9* t = H3D_Tex(texture);
    D3DSURFACE_DESC desc;
    if (!H3D_Check(t->GetLevelDesc(0, &desc), "GetLevelDesc"))
        return;
    if (desc.Format != D3DFMT_A8R8G8B8 && desc.Format != D3DFMT_X8R8G8B8) {
        Debug->OutputDebug("H3D: alpha of a texture of format %lu left alone; only 32-bit textures have an alpha "
                           "byte (load it with LoadAlphaTexture)", (unsigned long)desc.Format);
        return;
    }
    D3DLOCKED_RECT lr;
    // A texture that cannot be locked is left as it is.
    if (!H3D_Check(t->LockRect(0, &lr, NULL, D3DLOCK_NOSYSLOCK), "LockRect (alpha)"))
        return;
    for (UINT y = 0; y < desc.Height; y++) {
        uint8_t* row = (uint8_t*)lr.pBits + y * lr.Pitch;
        for (UINT x = 0; x < desc.Width; x++)
            row[x * 4 + 3] = map ? *map++ : alpha;
    }
    t->UnlockRect(0);
    // Smaller levels follow level 0, or a minified texture would show the
    // old alpha.
    if (t->GetLevelCount() > 1)
        H3D_Check(D3DXFilterTexture(t, NULL, 0, D3DX_DEFAULT), "D3DXFilterTexture");
}

void CZH3d::SetAlphaLevelTexture(unsigned long texture, unsigned char alpha)
{
    H3D_SetTopBytes(texture, alpha, nullptr);
}

void CZH3d::SetAlphaMapTexture(unsigned long texture, unsigned char* map)
{
    if (!map) {
        Debug->OutputDebug("H3D: SetAlphaMapTexture without a map; pass width x height bytes");
        return;
    }
    H3D_SetTopBytes(texture, 0, map);
}

void CZH3d::LockTextureToWrite(unsigned long texture, TextureLock* lock)
{
    if (!lock)
        return;
    lock->Bits = 0;
    lock->Pitch = 0;
    if (!texture)
        return;
    D3DSURFACE_DESC desc;
    D3DLOCKED_RECT lr;
    if (H3D_Check(H3D_Tex(texture)->GetLevelDesc(0, &desc), "GetLevelDesc") &&
        H3D_Check(H3D_Tex(texture)->LockRect(0, &lr, NULL, D3DLOCK_NOSYSLOCK), "LockRect (to write)")) {
        lock->Bits = (uint32_t)(uintptr_t)lr.pBits;
        lock->Pitch = (uint32_t)lr.Pitch;
    }
}

void CZH3d::UnlockTextureToWrite(unsigned long texture)
{
    if (texture)
        H3D_Tex(texture)->UnlockRect(0);
}

void CZH3d::UnloadTexture(unsigned long texture)
{
    if (!texture)
        return;
    for (ZH3D_RENDER_TEXTURE* rt = RenderTextures; rt; rt = rt->Next)
        if ((unsigned long)(uintptr_t)rt->Handle == texture || (unsigned long)(uintptr_t)rt->Texture == texture) {
            // Releasing it here would leave the record's reference dangling.
            Debug->OutputDebug("H3D: UnloadTexture of a render texture's texture ignored; use DestroyRenderTexture");
            return;
        }
    ZH3D_TEXTURE* record = H3D_FindTexture((uint32_t)texture);
    if (record) {
        if (--record->References > 0)
            return;
        // Later records keep their order: the first match of a name wins.
        const uint32_t i = (uint32_t)(record - TextureTable.Records);
        memmove(record, record + 1, (TextureTable.Count - i - 1) * sizeof(ZH3D_TEXTURE));
        TextureTable.Count--;
    }
    // Not in the table (raw, colour-key, generated bump map): released at once.
    H3D_Tex(texture)->Release();
}

// ---------------------------------------------------------------------------
// Bump maps

unsigned long CZH3d::GetBumpmapFormats()
{
    const D3DFORMAT backBuffer = Vgs->PresentParams.BackBufferFormat;
    auto usable = [this, backBuffer](D3DFORMAT format) {
        return SUCCEEDED(Vgs->D3D->CheckDeviceFormat(0, D3DDEVTYPE_HAL, backBuffer, 0, D3DRTYPE_TEXTURE, format));
    };
    unsigned long formats = 0;
    if (Caps->BumpSupport() && usable(D3DFMT_V8U8))
        formats |= ZH3D_BUMP_V8U8;
    if (Caps->BumpLuminanceSupport()) {
        if (usable(D3DFMT_L6V5U5))
            formats |= ZH3D_BUMP_L6V5U5;
        if (usable(D3DFMT_X8L8V8U8))
            formats |= ZH3D_BUMP_X8L8V8U8;
    }
    return formats;
}

// Bytes per texel of a texture a bump map can be made from, or 0.
static unsigned H3D_BumpSourceBytes(D3DFORMAT format)
{
    switch (format) {
    case D3DFMT_R8G8B8: return 3;
    case D3DFMT_A8R8G8B8:
    case D3DFMT_X8R8G8B8: return 4;
    default: return 0;
    }
}

unsigned long CZH3d::LoadBumpMap(char* name)
{
    if (!name || !name[0]) {
        Debug->OutputDebug("H3D: LoadBumpMap without a name; pass a file name");
        return 0;
    }
    unsigned long shared = H3D_IsTextureAlreadyLoaded(name);
    if (shared)
        return shared;

    IDirect3DTexture9* src = H3D_DecodeFile(name, false, "Failed when create bumpmap: ");
    D3DSURFACE_DESC desc;
    src->GetLevelDesc(0, &desc);
    IDirect3DTexture9* bump = nullptr;
    if (!H3D_Check(D3DXCreateTexture(Vgs->Device, desc.Width, desc.Height, 1, 0, D3DFMT_V8U8, D3DPOOL_MANAGED, &bump),
                   "D3DXCreateTexture (V8U8)"))
        H3D_FatalName(Debug, "Failed when create bumpmap: ", name, " Texture.", ZH3D_CAPTION_TEXTURES);
    D3DLOCKED_RECT in, out;
    if (!H3D_Check(src->LockRect(0, &in, NULL, D3DLOCK_READONLY), "LockRect (bump source)"))
        Debug->ShowMessageAndExit("Cannot lock temporally texture", ZH3D_CAPTION_TEXTURES);
    if (!H3D_Check(bump->LockRect(0, &out, NULL, 0), "LockRect (bump map)"))
        Debug->ShowMessageAndExit("Cannot lock bumpmap texture", ZH3D_CAPTION_TEXTURES);
    const unsigned bytes = H3D_BumpSourceBytes(desc.Format);
    if (!bytes)
        Debug->ShowMessageAndExit("BumpFormat not compatible", ZH3D_CAPTION_TEXTURES);
    for (UINT y = 0; y < desc.Height; y++) {
        const uint8_t* s = (const uint8_t*)in.pBits + y * in.Pitch;
        uint8_t* d = (uint8_t*)out.pBits + y * out.Pitch;
        for (UINT x = 0; x < desc.Width; x++, s += bytes, d += 2) {
            d[0] = s[0];    // du: blue
            d[1] = s[1];    // dv: green
        }
    }
    bump->UnlockRect(0);
    src->UnlockRect(0);
    src->Release();
    H3D_AddTexture(name, (uint32_t)(uintptr_t)bump);
    return (unsigned long)(uintptr_t)bump;
}

unsigned long CZH3d::GenerateBumpMap(unsigned long texture)
{
    if (!texture)
        return 0;
    IDirect3DTexture9* src = H3D_Tex(texture);
    D3DSURFACE_DESC desc;
    if (!H3D_Check(src->GetLevelDesc(0, &desc), "GetLevelDesc"))
        return 0;
    const unsigned bytes = H3D_BumpSourceBytes(desc.Format);
    if (!bytes)
        Debug->ShowMessageAndExit("Base texture not compatible", ZH3D_CAPTION_TEXTURES);
    D3DLOCKED_RECT in;
    if (!H3D_Check(src->LockRect(0, &in, NULL, D3DLOCK_READONLY), "LockRect (bump base)"))
        return 0;
    if (!in.pBits) {
        src->UnlockRect(0);
        return 0;
    }
    // Height map: one byte per texel, the mean of blue, green and red.
    const UINT w = desc.Width, h = desc.Height, n = w * h;
    uint8_t* height = (uint8_t*)Mem->GetMem(n);
    if (!height)
        Debug->ShowMessageAndExit("Cannot create a bumpmap texture", ZH3D_CAPTION_TEXTURES);
    for (UINT y = 0; y < h; y++) {
        const uint8_t* s = (const uint8_t*)in.pBits + y * in.Pitch;
        for (UINT x = 0; x < w; x++, s += bytes)
            height[y * w + x] = (uint8_t)((s[0] + s[1] + s[2]) / 3);
    }
    src->UnlockRect(0);

    IDirect3DTexture9* bump = nullptr;
    if (!H3D_Check(D3DXCreateTexture(Vgs->Device, w, h, 1, 0, D3DFMT_V8U8, D3DPOOL_MANAGED, &bump),
                   "D3DXCreateTexture (V8U8)"))
        Debug->ShowMessageAndExit("Cannot create a bumpmap texture", ZH3D_CAPTION_TEXTURES);
    D3DLOCKED_RECT out;
    if (!H3D_Check(bump->LockRect(0, &out, NULL, 0), "LockRect (generated bump map)"))
        Debug->ShowMessageAndExit("Cannot lock the bumpmap texture", ZH3D_CAPTION_TEXTURES);
    for (UINT y = 0; y < h; y++) {
        uint8_t* d = (uint8_t*)out.pBits + y * out.Pitch;
        for (UINT x = 0; x < w; x++) {
            const UINT i = y * w + x;
            const int c = height[i];
            // Left and right are the neighbours in memory order, so a row's
            // ends borrow from the rows next to it; the map's very first
            // and last texels have none and use their own height.
            const int l = i > 0 ? height[i - 1] : c;
            const int r = i + 1 < n ? height[i + 1] : c;
            const int u = y > 0 ? height[i - w] : c;
            const int dn = y + 1 < h ? height[i + w] : c;
            const int du = (c < l && c < r) ? l - c : l - r;
            d[x * 2] = (uint8_t)du;
            d[x * 2 + 1] = (uint8_t)(u - dn);
        }
    }
    bump->UnlockRect(0);
    Mem->FreeMem(height, n);
    return (unsigned long)(uintptr_t)bump;
}

// ---------------------------------------------------------------------------
// Render textures

// Texture, its level-0 surface and a depth surface of its size.
void CZH3d::H3D_CreateRenderSurfaces(ZH3D_RENDER_TEXTURE* rt)
{
    IDirect3DDevice9* device = Vgs->Device;
    if (!H3D_Check(device->CreateTexture(rt->Width, rt->Height, 1, D3DUSAGE_RENDERTARGET, rt->Format, D3DPOOL_DEFAULT,
                                         &rt->Texture, NULL),
                   "CreateTexture (render target)"))
        Debug->ShowMessageAndExit("No se pudo crear textura con Render To Texture", ZH3D_CAPTION);
    if (!H3D_Check(rt->Texture->GetSurfaceLevel(0, &rt->Surface), "GetSurfaceLevel"))
        Debug->ShowMessageAndExit("No se pudo adquirir Surface Level", ZH3D_CAPTION);
    if (!H3D_Check(device->CreateDepthStencilSurface(rt->Width, rt->Height, D3DFMT_D16, D3DMULTISAMPLE_NONE, 0, TRUE,
                                                     &rt->Depth, NULL),
                   "CreateDepthStencilSurface"))
        Debug->ShowMessageAndExit("No se pudo crear Depth Buffer Para Render", ZH3D_CAPTION);
}

void CZH3d::H3D_ReleaseRenderSurfaces(ZH3D_RENDER_TEXTURE* rt)
{
    if (rt->Texture)
        rt->Texture->Release();
    if (rt->Depth)
        rt->Depth->Release();
    if (rt->Surface)
        rt->Surface->Release();
    rt->Texture = nullptr;
    rt->Depth = nullptr;
    rt->Surface = nullptr;
}

unsigned long CZH3d::CreateRenderTexture(unsigned long width, unsigned long height, bool alpha)
{
    if (width == 0 || height == 0) {
        Debug->OutputDebug("H3D: CreateRenderTexture of %lu x %lu refused; both sizes must be at least 1", width,
                           height);
        return 0;
    }
    const D3DFORMAT backBuffer = Vgs->PresentParams.BackBufferFormat;
    auto renders = [this](D3DFORMAT adapter, D3DFORMAT format) {
        return SUCCEEDED(Vgs->D3D->CheckDeviceFormat(0, D3DDEVTYPE_HAL, adapter, D3DUSAGE_RENDERTARGET,
                                                     D3DRTYPE_TEXTURE, format));
    };
    D3DFORMAT format;
    if (alpha) {
        if (!renders(D3DFMT_X8R8G8B8, D3DFMT_A8R8G8B8))
            return 0;
        format = D3DFMT_A8R8G8B8;
    } else if (backBuffer == D3DFMT_R5G6B5) {
        if (!renders(backBuffer, D3DFMT_R5G6B5))
            Debug->ShowMessageAndExit("No se soporta Render To Texture", ZH3D_CAPTION);
        format = D3DFMT_R5G6B5;
    } else if (backBuffer == D3DFMT_X8R8G8B8) {
        if (renders(backBuffer, D3DFMT_X8R8G8B8))
            format = D3DFMT_A8R8G8B8;
        else if (renders(backBuffer, D3DFMT_R8G8B8))
            format = D3DFMT_R8G8B8;
        else if (renders(backBuffer, D3DFMT_R5G6B5))
            format = D3DFMT_R5G6B5;
        else
            Debug->ShowMessageAndExit("No se soporta Render To Texture", ZH3D_CAPTION);
    } else {
        return 0;
    }
    ZH3D_RENDER_TEXTURE* rt = (ZH3D_RENDER_TEXTURE*)Mem->GetMem(sizeof(ZH3D_RENDER_TEXTURE));
    if (!rt)
        Debug->ShowMessageAndExit("No se pudo crear textura con Render To Texture", ZH3D_CAPTION);
    memset(rt, 0, sizeof(*rt));
    rt->Width = width;
    rt->Height = height;
    rt->Format = format;
    if (!H3D_Check(Vgs->Device->CreateTexture(1, 1, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &rt->Handle, NULL),
                   "CreateTexture (render texture handle)"))
        Debug->ShowMessageAndExit("No se pudo crear textura con Render To Texture", ZH3D_CAPTION);
    H3D_CreateRenderSurfaces(rt);
    rt->Next = RenderTextures;
    RenderTextures = rt;
    return (unsigned long)(uintptr_t)rt;
}

unsigned long CZH3d::GetRenderTextureHandle(unsigned long renderTexture)
{
    if (!renderTexture)
        return 0;
    return (unsigned long)(uintptr_t)((ZH3D_RENDER_TEXTURE*)(uintptr_t)renderTexture)->Handle;
}

bool CZH3d::SetRenderTarget(unsigned long renderTexture)
{
    IDirect3DDevice9* device = Vgs->Device;
    if (!renderTexture) {
        if (!SavedRenderTarget)
            return true;
        if (!H3D_Check(device->SetRenderTarget(0, SavedRenderTarget), "SetRenderTarget (screen)"))
            return false;
        device->SetDepthStencilSurface(SavedDepthSurface);
        H3D_RestoreScreenTarget();
        return true;
    }
    ZH3D_RENDER_TEXTURE* rt = (ZH3D_RENDER_TEXTURE*)(uintptr_t)renderTexture;
    if (!rt->Surface)
        return false;
    if (!SavedRenderTarget) {
        device->GetDepthStencilSurface(&SavedDepthSurface);
        device->GetRenderTarget(0, &SavedRenderTarget);
    }
    if (!H3D_Check(device->SetRenderTarget(0, rt->Surface), "SetRenderTarget (texture)"))
        return false;
    return H3D_Check(device->SetDepthStencilSurface(rt->Depth), "SetDepthStencilSurface");
}

// Puts the screen's targets back if a render texture holds the device, and
// lets go of the saved references.
void CZH3d::H3D_RestoreScreenTarget()
{
    if (!SavedRenderTarget && !SavedDepthSurface)
        return;
    IDirect3DDevice9* device = Vgs->Device;
    IDirect3DSurface9* current = nullptr;
    if (SavedRenderTarget && SUCCEEDED(device->GetRenderTarget(0, &current)) && current) {
        if (current != SavedRenderTarget) {
            device->SetRenderTarget(0, SavedRenderTarget);
            device->SetDepthStencilSurface(SavedDepthSurface);
        }
        current->Release();
    }
    if (SavedRenderTarget)
        SavedRenderTarget->Release();
    if (SavedDepthSurface)
        SavedDepthSurface->Release();
    SavedRenderTarget = nullptr;
    SavedDepthSurface = nullptr;
}

void CZH3d::RenderToTexture()
{
    IDirect3DDevice9* device = Vgs->Device;
    if (!H3D_Check(device->BeginScene(), "BeginScene (render to texture)")) {
        // Not carried into the next frame.
        H3D_DeleteTables();
        return;
    }
    device->Clear(0, NULL, D3DCLEAR_TARGET, 0, 0.0f, 0);
    H3D_DrawScene();
    device->EndScene();
}

void CZH3d::DestroyRenderTexture(unsigned long renderTexture)
{
    ZH3D_RENDER_TEXTURE* rt = (ZH3D_RENDER_TEXTURE*)(uintptr_t)renderTexture;
    ZH3D_RENDER_TEXTURE** link = &RenderTextures;
    while (*link && *link != rt)
        link = &(*link)->Next;
    if (!rt || !*link) {
        if (Debug)
            Debug->OutputDebug("H3D: DestroyRenderTexture of an unknown handle 0x%08lx ignored", renderTexture);
        return;
    }
    // The device must not go on drawing into a released surface.
    IDirect3DSurface9* current = nullptr;
    if (Vgs->Device && rt->Surface && SUCCEEDED(Vgs->Device->GetRenderTarget(0, &current)) && current) {
        const bool inUse = current == rt->Surface;
        current->Release();
        if (inUse)
            H3D_RestoreScreenTarget();
    }
    for (int s = 0; s < ZH3D_STAGES; s++)
        if (DeviceTextures[s] == (uint32_t)(uintptr_t)rt->Handle) {
            Vgs->Device->SetTexture(s, NULL);
            DeviceTextures[s] = BoundTextures[s] = 0;
        }
    *link = rt->Next;
    H3D_ReleaseRenderSurfaces(rt);
    rt->Handle->Release();
    Mem->FreeMem(rt, sizeof(ZH3D_RENDER_TEXTURE));
}
