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
