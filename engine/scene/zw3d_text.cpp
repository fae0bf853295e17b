#include "zw3d_text.h"

#include <cstdlib>
#include <cstring>

void ZW3D_Normalise(const char* file, uint32_t size, char* out, ZW3D_TEXT* text)
{
    uint32_t n = 0;
    for (uint32_t i = 0; i < size && file[i]; i++)
        if (file[i] != '\r')
            out[n++] = file[i];
    out[n] = 0;
    text->Text = out;
    text->Length = n;
    text->Pos = 0;
    text->TokensCut = 0;
}

bool ZW3D_Token(ZW3D_TEXT* text, char* out)
{
    out[0] = 0;
    if (text->Pos >= text->Length)
        return false;
    uint32_t n = 0;
    bool cut = false;
    while (text->Pos < text->Length) {
        const char c = text->Text[text->Pos++];
        if (c == ' ' || c == '\n')
            break;
        if (n < ZW3D_TOKEN_BYTES - 1)
            out[n++] = c;
        else
            cut = true;
    }
    out[n] = 0;
    if (cut)
        text->TokensCut++;
    return true;
}

bool ZW3D_FindKey(ZW3D_TEXT* text, const char* key, bool fromStart)
{
    if (!key[0])
        return false;
    const uint32_t from = fromStart ? 0 : (text->Pos < text->Length ? text->Pos : text->Length);
    const char* at = strstr(text->Text + from, key);
    if (!at)
        return false;
    const char* eol = strchr(at, '\n');
    text->Pos = eol ? (uint32_t)(eol + 1 - text->Text) : text->Length;
    return true;
}

uint32_t ZW3D_OptionFlags(const char* token)
{
    uint32_t flags = 0;
    if (strstr(token, "COLORKEY"))
        flags = 0x02;
    if (strstr(token, "ENVIRONMENT"))
        flags |= 0x04;
    if (strstr(token, "GLENZ"))
        flags |= 0x01;
    return flags;
}

// Signed decimal as a 32-bit colour word; words that are no number give 0.
static uint32_t W3D_Colour(const char* token)
{
    return (uint32_t)(int64_t)strtoll(token, nullptr, 10);
}

void ZW3D_ReadEntry(ZW3D_TEXT* text, ZW3D_ENTRY* entry)
{
    char word[ZW3D_TOKEN_BYTES];
    entry->Kind = ZW3D_ENTRY_END;
    entry->Name[0] = 0;
    entry->Flags = 0;
    entry->Color[0] = entry->Color[1] = entry->Color[2] = 0;
    if (!ZW3D_Token(text, word))
        return;
    if (!strcmp(word, "TEXTURED")) {
        if (!ZW3D_Token(text, entry->Name) || !ZW3D_Token(text, word))
            return;
        entry->Flags = ZW3D_OptionFlags(word);
        entry->Kind = ZW3D_ENTRY_TEXTURED;
    } else if (!strcmp(word, "COLORED")) {
        for (int i = 0; i < 3; i++) {
            if (!ZW3D_Token(text, word))
                return;
            entry->Color[i] = W3D_Colour(word);
        }
        if (!ZW3D_Token(text, word))
            return;
        entry->Flags = ZW3D_OptionFlags(word);
        entry->Kind = ZW3D_ENTRY_COLORED;
    } else {
        entry->Kind = ZW3D_ENTRY_OTHER;
    }
}

void ZW3D_ReadScene(ZW3D_TEXT* text, const ZW3D_SCENE_CALLS* calls, char* keys, ZW3D_SCENE_COUNTS* counts)
{
    memset(counts, 0, sizeof(*counts));
    char file[ZW3D_TOKEN_BYTES], key[ZW3D_TOKEN_BYTES];
    if (ZW3D_FindKey(text, "[OBJECTS]", true)) {
        // A pair without its key ends the list; that object is not loaded.
        while (ZW3D_Token(text, file) && file[0] && ZW3D_Token(text, key) && key[0]) {
            if (counts->Objects == ZW3D_MAX_FILE_OBJECTS || !calls->Object(calls->User, counts->Objects, file, key)) {
                counts->ObjectsCut = true;
                break;
            }
            memcpy(keys + counts->Objects++ * ZW3D_TOKEN_BYTES, key, ZW3D_TOKEN_BYTES);
        }
    }
    if (ZW3D_FindKey(text, "[TEXTURES]", true)) {
        while (ZW3D_Token(text, file) && file[0]) {
            if (counts->Textures == ZW3D_MAX_TEXTURES) {
                counts->TexturesCut = true;
                break;
            }
            if (strlen(file) >= ZW3D_TEXTURE_NAME_BYTES) {
                file[ZW3D_TEXTURE_NAME_BYTES - 1] = 0;
                text->TokensCut++;
            }
            calls->Texture(calls->User, counts->Textures++, file);
        }
    }
    // Each object's section follows the second occurrence of its key; a
    // missing section or one that ends early counts as empty from there.
    ZW3D_ENTRY entry;
    for (uint32_t i = 0; i < counts->Objects; i++) {
        const char* k = keys + i * ZW3D_TOKEN_BYTES;
        if (!ZW3D_FindKey(text, k, true) || !ZW3D_FindKey(text, k, false))
            continue;
        const uint32_t materials = calls->Materials(calls->User, i);
        for (uint32_t m = 0; m < materials; m++) {
            ZW3D_ReadEntry(text, &entry);
            if (entry.Kind == ZW3D_ENTRY_END)
                break;
            calls->Entry(calls->User, i, m, &entry);
        }
    }
}
