// CZO3d material files: textures, bump maps and shaders named by a
// ".material" file, loaded through the renderer into an object's materials.
#include "zo3d_local.h"

#include <cstdio>
#include <cstring>

#include "zcaps.h"
#include "zdebug.h"
#include "zh3d.h"
#include "zmem.h"
#include "zo3dcheck.h"

static_assert(sizeof(ZO3D_SHADER_SLOT) == sizeof(ZH3D_SHADER_CONSTANT) &&
              sizeof(((ZO3D_MATFILE_RECORD*)0)->Constants) == sizeof(((ZH3D_SHADER*)0)->Constants) &&
              sizeof(((ZO3D_MATFILE_RECORD*)0)->Constants2) == sizeof(((ZH3D_SHADER*)0)->Material),
              "a material file's constant blocks are the shader record's constant areas");

// Folder prefix plus a name from a record.
#define O3D_PATH_MAX 512

// The part of `name` up to and including its last backslash, then `file`.
static void O3D_Path(char* out, const char* name, const char* file, CZDebug* debug)
{
    const char* slash = strrchr(name, '\\');
    const int prefix = slash ? (int)(slash - name + 1) : 0;
    if (snprintf(out, O3D_PATH_MAX, "%.*s%s", prefix, name, file) >= O3D_PATH_MAX)
        O3D_Fatal(debug, "Damaged material file", name, "a texture path is too long");
}

unsigned long CZO3d::LoadMaterials(unsigned long object, const char* name)
{
    uint32_t size;
    uint8_t* block = O3D_ReadWhole(name, 0, &size);
    char why[ZO3D_WHY_BYTES];
    if (!ZO3D_CheckMaterialFile(block, size, UINT32_MAX, why))
        O3D_Fatal(Debug, "Damaged material file", name, why);
    ZO3D_MATFILE_HEADER* head = (ZO3D_MATFILE_HEADER*)block;
    head->FileSize = size;

    // Records past the object's materials would be written past its image.
    const uint32_t room = O3D_MaterialRoom(O3D_Header(object));
    uint32_t count = head->Count;
    if (count > room) {
        O3D_Refuse(O3D_REFUSE_MATERIAL, "LoadMaterials: %s has %u records for an object of %u materials; the rest "
                   "are ignored", name, count, room);
        count = room;
    }
    const bool bumpSupport = Caps->BumpSupport();
    char path[O3D_PATH_MAX], pixel[O3D_PATH_MAX];
    ZO3D_MATFILE_RECORD* r = (ZO3D_MATFILE_RECORD*)(head + 1);
    for (uint32_t i = 0; i < count; i++, r++) {
        r->Handle1 = r->Handle2 = r->Handle4 = r->HandleBump = r->Handle5 = 0;
        if (r->Type == ZO3D_MAT_COLORED) {
            SetMaterialColored(object, i, r->Flags, r->Color[0], r->Color[1], r->Color[2]);
            continue;
        }
        if (r->Type != ZO3D_MAT_TEXTURED)
            continue;
        if (r->Texture1[0]) {
            O3D_Path(path, name, r->Texture1, Debug);
            if (r->AlphaTexture)
                r->Handle1 = H3d->LoadAlphaTexture(path, r->Alpha);
            else if (r->ColorKeyOn)
                r->Handle1 = H3d->LoadColorKeyTexture(path, r->ColorKey);
            else
                r->Handle1 = H3d->LoadTextureFromFile(path);
        }
        // Layers over the first texture never get mip-maps.
        const bool mip = H3d->MipMappingOn;
        if (mip)
            H3d->SetMipMapping(false);
        const struct { const char* Name; uint32_t* Handle; } layers[3] = {
            {r->Texture2, &r->Handle2}, {r->Texture4, &r->Handle4}, {r->Texture5, &r->Handle5}};
        for (const auto& layer : layers)
            if (layer.Name[0]) {
                O3D_Path(path, name, layer.Name, Debug);
                *layer.Handle = H3d->LoadTextureFromFile(path);
            }
        if (mip)
            H3d->SetMipMapping(true);
        if (r->BumpMap[0]) {
            O3D_Path(path, name, r->BumpMap, Debug);
            if (!(r->Flags & ZO3D_BUMPMAP))
                r->HandleBump = H3d->LoadTextureFromFile(path);
            else if (bumpSupport)
                r->HandleBump = H3d->LoadBumpMap(path);
            else
                r->Flags &= ~ZO3D_BUMPMAP;
        }
        if ((r->Flags & ZO3D_BUMPMAP) && bumpSupport && r->Handle1 && !r->HandleBump)
            r->HandleBump = H3d->GenerateBumpMap(r->Handle1);
        uint32_t shader = 0;
        if (r->VertexShader[0]) {
            O3D_Path(path, name, r->VertexShader, Debug);
            if (r->PixelShader[0])
                O3D_Path(pixel, name, r->PixelShader, Debug);
            shader = H3d->LoadShader(path, r->PixelShader[0] ? pixel : nullptr);
            r->Shader = shader;
        }
        if (!(r->Flags & ZO3D_CUSTOMSHADER)) {
            SetMaterialTextured(object, i, r->Flags, r->Handle1, r->Handle2, r->HandleBump);
            continue;
        }
        if (!shader)
            Debug->ShowMessageAndExit("Error, .mat specifies CUSTOMSHADER and no Shaderloaded(not suported?)",
                                      O3D_CAPTION);
        SetMaterialTextured(object, i, r->Flags, shader, 0, 0);
        const uint32_t stages[5] = {r->Handle1, r->Handle2, r->HandleBump, r->Handle4, r->Handle5};
        for (unsigned long s = 0; s < 5; s++)
            H3d->SetTextureCustomShader(shader, stages[s], s);
        ZH3D_SHADER* record = (ZH3D_SHADER*)(uintptr_t)shader;
        memcpy(record->Constants, r->Constants, sizeof(record->Constants));
        memcpy(record->Material, r->Constants2, sizeof(record->Material));
    }
    return (unsigned long)(uintptr_t)block;
}

void CZO3d::FreeMaterials(unsigned long materials, int unload)
{
    ZO3D_MATFILE_HEADER* head = (ZO3D_MATFILE_HEADER*)(uintptr_t)materials;
    if (!head)
        return;
    if (unload) {
        // Shaders are not released: an object may still draw with them.
        const ZO3D_MATFILE_RECORD* r = (const ZO3D_MATFILE_RECORD*)(head + 1);
        for (uint32_t i = 0; i < head->Count; i++, r++) {
            const uint32_t handles[5] = {r->Handle1, r->Handle2, r->HandleBump, r->Handle4, r->Handle5};
            for (uint32_t t : handles)
                if (t)
                    H3d->UnloadTexture(t);
        }
    }
    Mem->FreeMem(head, head->FileSize);
}
