// libFuzzer target: any bytes as a ".material" file. A file the check lets
// through is read as the loader reads it: every name of every record as a
// C string, and a path made of each.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "zo3dcheck.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // Exactly sized, so that the address sanitizer sees every overrun.
    std::vector<uint8_t> file(data, data + size);
    char why[ZO3D_WHY_BYTES];
    if (!ZO3D_CheckMaterialFile(file.data(), size, UINT32_MAX, why))
        return 0;
    ZO3D_MATFILE_HEADER h;
    memcpy(&h, file.data(), sizeof(h));
    const ZO3D_MATFILE_RECORD* r = (const ZO3D_MATFILE_RECORD*)(file.data() + sizeof(h));
    char path[512];
    for (uint32_t i = 0; i < h.Count; i++, r++) {
        const char* names[] = {r->Texture1, r->Texture2, r->Texture4, r->BumpMap, r->Texture5, r->PixelShader,
                               r->VertexShader};
        for (const char* name : names)
            if (snprintf(path, sizeof(path), "data\\scene\\%s", name) >= (int)sizeof(path))
                __builtin_trap();
    }
    return 0;
}
