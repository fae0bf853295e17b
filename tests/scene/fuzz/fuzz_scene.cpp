// libFuzzer target: the scene-file scanner over any bytes, with the tables a
// world keeps (object keys, texture names) filled as the engine fills them.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "zw3d_text.h"

namespace {
struct Tables {
    char Names[ZW3D_MAX_TEXTURES][ZW3D_NAME_BYTES];
    uint32_t Textures;
    uint32_t Entries;
};

bool Object(void*, uint32_t index, const char* file, const char* key)
{
    return index < 300 && strlen(file) < ZW3D_TOKEN_BYTES && strlen(key) < ZW3D_TOKEN_BYTES;
}
void Texture(void* user, uint32_t index, const char* name)
{
    Tables* t = (Tables*)user;
    if (index >= ZW3D_MAX_TEXTURES || strlen(name) >= ZW3D_NAME_BYTES)
        __builtin_trap();
    strcpy(t->Names[index], name);
    t->Textures = index + 1;
}
uint32_t Materials(void*, uint32_t index)
{
    return index % 4;
}
void Entry(void* user, uint32_t index, uint32_t material, const ZW3D_ENTRY* e)
{
    Tables* t = (Tables*)user;
    if (material >= index % 4 || strlen(e->Name) >= ZW3D_TOKEN_BYTES)
        __builtin_trap();
    for (uint32_t i = 0; i < t->Textures; i++)
        if (!strcmp(t->Names[i], e->Name))
            t->Entries++;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static Tables tables;
    static std::vector<char> keys(ZW3D_MAX_FILE_OBJECTS * ZW3D_TOKEN_BYTES);
    std::vector<char> text(size + 1);
    ZW3D_TEXT t;
    ZW3D_Normalise((const char*)data, (uint32_t)size, text.data(), &t);
    tables.Textures = 0;
    const ZW3D_SCENE_CALLS calls = {&tables, Object, Texture, Materials, Entry};
    ZW3D_SCENE_COUNTS counts;
    ZW3D_ReadScene(&t, &calls, keys.data(), &counts);
    if (counts.Objects > ZW3D_MAX_FILE_OBJECTS || counts.Textures > ZW3D_MAX_TEXTURES || t.Pos > t.Length)
        __builtin_trap();
    return 0;
}
