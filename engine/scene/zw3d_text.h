// Reading scene description files: a text searched rather than parsed line
// by line. Windows-free: the engine's CZW3d and the native fuzz target share
// it.
//
// A token runs to the next space or line feed, which ends it and is
// consumed; carriage returns are dropped wherever they stand; a NUL byte or
// the end of the file ends the text; two separators in a row give an empty
// token. A key is found as the first substring of the remaining text, and
// reading goes on at the start of the line after it.
#ifndef ZARQUEL_ZW3D_TEXT_H
#define ZARQUEL_ZW3D_TEXT_H

#include <cstdint>

#include "zw3d.h"     // the limits

#define ZW3D_TOKEN_BYTES ZW3D_KEY_BYTES         // a token keeps at most 511 characters
#define ZW3D_TEXTURE_NAME_BYTES ZW3D_NAME_BYTES  // texture names keep at most 499

struct ZW3D_TEXT {
    const char* Text;       // normalised: no carriage returns, ends at its first NUL
    uint32_t Length;
    uint32_t Pos;
    uint32_t TokensCut;     // tokens longer than 511 characters, cut there
};

// Copies `size` bytes of a file into `out` (room for size + 1) without the
// carriage returns and up to the first NUL, terminated; sets up `text`.
void ZW3D_Normalise(const char* file, uint32_t size, char* out, ZW3D_TEXT* text);

// The next token into out (ZW3D_TOKEN_BYTES). Returns false at the end of
// the text (out is then empty); an empty token returns true.
bool ZW3D_Token(ZW3D_TEXT* text, char* out);

// Finds `key` from the start of the text (`fromStart`) or from the current
// position; on success reading continues after the line holding it.
bool ZW3D_FindKey(ZW3D_TEXT* text, const char* key, bool fromStart);

// Flags of an option token: COLORKEY 0x02, ENVIRONMENT 0x04, GLENZ 0x01.
uint32_t ZW3D_OptionFlags(const char* token);

// One entry of a material section.
enum ZW3D_ENTRY_KIND { ZW3D_ENTRY_END, ZW3D_ENTRY_TEXTURED, ZW3D_ENTRY_COLORED, ZW3D_ENTRY_OTHER };
struct ZW3D_ENTRY {
    ZW3D_ENTRY_KIND Kind;
    char Name[ZW3D_TOKEN_BYTES];    // TEXTURED: the texture's name
    uint32_t Color[3];              // COLORED: signed decimals as colour words
    uint32_t Flags;
};
// ZW3D_ENTRY_END when the text ends before the entry is complete.
void ZW3D_ReadEntry(ZW3D_TEXT* text, ZW3D_ENTRY* entry);

// What a scene's text asks for, in order: every object of "[OBJECTS]", every
// texture of "[TEXTURES]", then each object's material entries.
struct ZW3D_SCENE_CALLS {
    void* User;
    // False refuses the object (no room): the list ends there.
    bool (*Object)(void* user, uint32_t index, const char* file, const char* key);
    void (*Texture)(void* user, uint32_t index, const char* name);
    uint32_t (*Materials)(void* user, uint32_t index);
    void (*Entry)(void* user, uint32_t index, uint32_t material, const ZW3D_ENTRY* entry);
};

struct ZW3D_SCENE_COUNTS {
    uint32_t Objects, Textures;
    bool ObjectsCut, TexturesCut;   // the file listed more than the limits
};

// Walks a normalised scene text. Object keys are kept here while reading
// (`keys`: ZW3D_MAX_FILE_OBJECTS * ZW3D_TOKEN_BYTES bytes of the caller's).
void ZW3D_ReadScene(ZW3D_TEXT* text, const ZW3D_SCENE_CALLS* calls, char* keys, ZW3D_SCENE_COUNTS* counts);

#endif
