// CZH3d lights and custom shaders: point lights on the fixed-function
// pipeline, and shader records (an assembled vertex and pixel shader, 16
// stage textures and vertex-shader constants) drawn through textured
// triangles flagged ZRF_CUSTOMSHADER. Shader failures are never fatal.
#include "zh3d.h"

#include <cstdio>
#include <cstring>
#include <d3dx9.h>

#include "zdebug.h"
#include "zh3d_local.h"
#include "zmem.h"
#include "zvgs.h"
#include "zxfs.h"

static const char* const H3D_SHADER_BOX_CAPTION = "Zarquel found errors - Shader compiler errors";

static ZH3D_SHADER* H3D_Shader(unsigned long handle) { return (ZH3D_SHADER*)(uintptr_t)handle; }

// ---------------------------------------------------------------------------
// Lights (results not examined)

void CZH3d::SetPointLight(unsigned long index, LIGHTPOINTSTRUCT* light)
{
    if (!light)
        return;
    D3DLIGHT9 l;
    memset(&l, 0, sizeof(l));
    l.Type = D3DLIGHT_POINT;
    l.Diffuse = D3DCOLORVALUE{light->DiffuseR, light->DiffuseG, light->DiffuseB, 1.0f};
    l.Specular = D3DCOLORVALUE{light->SpecularR, light->SpecularG, light->SpecularB, 1.0f};
    l.Position = D3DVECTOR{light->x, light->y, light->z};
    l.Range = light->Range;
    l.Attenuation0 = light->Attenuation;
    Vgs->Device->SetLight(index, &l);
    Vgs->Device->LightEnable(index, TRUE);
}

void CZH3d::DisableLight(unsigned long index) { Vgs->Device->LightEnable(index, FALSE); }

// ---------------------------------------------------------------------------
// Shaders

bool CZH3d::CheckShader(const char* file)
{
    if (!file)
        return false;
    ID3DXBuffer *code = nullptr, *errors = nullptr;
    const HRESULT hr = D3DXAssembleShaderFromFileA(file, NULL, NULL, 0, &code, &errors);
    if (code)
        code->Release();
    if (SUCCEEDED(hr)) {
        if (errors)
            errors->Release();
        return true;
    }
    H3D_Check(hr, "D3DXAssembleShaderFromFile");
    // The box is the point: the program goes on when it is closed.
    char fallback[ZH3D_TEXTURE_NAME_MAX + 32];
    const char* text = fallback;
    if (errors && errors->GetBufferSize() > 0 && ((const char*)errors->GetBufferPointer())[errors->GetBufferSize() - 1] == 0)
        text = (const char*)errors->GetBufferPointer();
    else
        snprintf(fallback, sizeof(fallback), "Cannot assemble %s", file);
    MessageBoxA(NULL, text, H3D_SHADER_BOX_CAPTION, MB_OK);
    if (errors)
        errors->Release();
    return false;
}

bool CZH3d::CompileShader(const char* source, char* errors, unsigned long size)
{
    if (!source)
        return false;
    ID3DXBuffer *code = nullptr, *messages = nullptr;
    const HRESULT hr = D3DXAssembleShader(source, (UINT)strlen(source), NULL, NULL, 0, &code, &messages);
    if (code)
        code->Release();
    const bool ok = SUCCEEDED(hr);
    // A buffer too small for the whole text is left untouched.
    if (!ok && messages && errors && size >= messages->GetBufferSize())
        memcpy(errors, messages->GetBufferPointer(), messages->GetBufferSize());
    if (messages)
        messages->Release();
    return ok;
}

// Assembles a shader (a file from the disk, or else text) and creates it.
// The assembler's errors go to the log.
bool CZH3d::H3D_MakeShader(const char* file, const void* text, unsigned long length, bool pixel, IUnknown** shader)
{
    *shader = nullptr;
    ID3DXBuffer *code = nullptr, *errors = nullptr;
    const HRESULT hr = file ? D3DXAssembleShaderFromFileA(file, NULL, NULL, 0, &code, &errors)
                            : D3DXAssembleShader((const char*)text, (UINT)length, NULL, NULL, 0, &code, &errors);
    if (errors) {
        if (FAILED(hr) && errors->GetBufferSize() > 0)
            Debug->OutputDebug("H3D: shader errors: %.*s", (int)errors->GetBufferSize(),
                               (const char*)errors->GetBufferPointer());
        errors->Release();
    }
    if (!H3D_Check(hr, file ? "D3DXAssembleShaderFromFile" : "D3DXAssembleShader") || !code) {
        if (code)
            code->Release();
        return false;
    }
    const DWORD* tokens = (const DWORD*)code->GetBufferPointer();
    bool ok;
    if (pixel)
        ok = H3D_Check(Vgs->Device->CreatePixelShader(tokens, (IDirect3DPixelShader9**)shader), "CreatePixelShader");
    else
        ok = H3D_Check(Vgs->Device->CreateVertexShader(tokens, (IDirect3DVertexShader9**)shader),
                       "CreateVertexShader");
    code->Release();
    if (!ok)
        *shader = nullptr;
    return ok;
}

unsigned long CZH3d::LoadShader(const char* vertexFile, const char* pixelFile)
{
    ZH3D_SHADER* shader = (ZH3D_SHADER*)Mem->GetMem(sizeof(ZH3D_SHADER));
    if (!shader) {
        Debug->OutputDebug("H3D: no memory for a shader record");
        return 0;
    }
    memset(shader, 0, sizeof(*shader));
    const char* files[2] = {vertexFile, pixelFile};
    IUnknown* made[2] = {nullptr, nullptr};
    bool ok = true;
    for (int i = 0; i < 2 && ok; i++) {
        if (!files[i])
            continue;
        unsigned long size = 0;
        void* text = H3D_ReadWholeFile(files[i], &size);
        ok = H3D_MakeShader(nullptr, text, size, i == 1, &made[i]);
        Mem->FreeMem(text, size ? size : 1);
        if (!ok)
            Debug->OutputDebug("H3D: LoadShader: %s did not assemble", files[i]);
    }
    if (!ok) {
        // Nothing is handed out, so nothing may stay behind.
        for (IUnknown* m : made)
            if (m)
                m->Release();
        Mem->FreeMem(shader, sizeof(ZH3D_SHADER));
        return 0;
    }
    shader->VertexShader = (IDirect3DVertexShader9*)made[0];
    shader->PixelShader = (IDirect3DPixelShader9*)made[1];
    return (unsigned long)(uintptr_t)shader;
}

void CZH3d::UnloadShader(unsigned long handle)
{
    if (!handle)
        return;
    ZH3D_SHADER* shader = H3D_Shader(handle);
    if (shader->VertexShader)
        shader->VertexShader->Release();
    if (shader->PixelShader)
        shader->PixelShader->Release();
    Mem->FreeMem(shader, sizeof(ZH3D_SHADER));
}

// The four replace operations. Files are assembled from the disk (they are
// edited while the program runs); a missing one is a failure like any other.
bool CZH3d::H3D_ReplaceShader(unsigned long handle, const char* text, bool fromFile, bool pixel)
{
    if (!handle || !text)
        return false;
    IUnknown* made = nullptr;
    if (!H3D_MakeShader(fromFile ? text : nullptr, text, fromFile ? 0 : strlen(text), pixel, &made))
        return false;
    ZH3D_SHADER* shader = H3D_Shader(handle);
    IUnknown** slot = pixel ? (IUnknown**)&shader->PixelShader : (IUnknown**)&shader->VertexShader;
    if (*slot)
        (*slot)->Release();
    *slot = made;
    return true;
}

bool CZH3d::ReplaceVertexShaderFromFile(unsigned long shader, const char* file)
{
    return H3D_ReplaceShader(shader, file, true, false);
}

bool CZH3d::ReplacePixelShaderFromFile(unsigned long shader, const char* file)
{
    return H3D_ReplaceShader(shader, file, true, true);
}

bool CZH3d::ReplaceVertexShaderFromMemory(unsigned long shader, const char* source)
{
    return H3D_ReplaceShader(shader, source, false, false);
}

bool CZH3d::ReplacePixelShaderFromMemory(unsigned long shader, const char* source)
{
    return H3D_ReplaceShader(shader, source, false, true);
}

void CZH3d::SetTextureCustomShader(unsigned long shader, unsigned long texture, unsigned long stage)
{
    if (!shader || stage >= ZH3D_STAGES) {
        Debug->OutputDebug("H3D: SetTextureCustomShader(0x%08lx, stage %lu) ignored; stages are 0-%d", shader, stage,
                           ZH3D_STAGES - 1);
        return;
    }
    H3D_Shader(shader)->Textures[stage] = (uint32_t)texture;
}
