// The records through which every module queues geometry with the renderer
// (CZH3d::DrawPoly, DrawLine, DrawPoint), their kinds and the render flags,
// and the renderer's other shared records (point lights, texture locks).
// Shared by the engine, the game and the host tools, so this header stays
// free of Windows headers and uses fixed-width types only.
#ifndef ZARQUEL_ZPRIM_H
#define ZARQUEL_ZPRIM_H

#include <cstddef>
#include <cstdint>

// Primitive kinds (the Kind field). Any other value is ignored by the queue.
#define ZPRIM_TEXTURED        1u  // triangles and lines in world space, textured
#define ZPRIM_COLORED         2u  // triangles and lines in world space, vertex colours
#define ZPRIM_TEXTURED_2D     4u  // pre-transformed: x, y in pixels, z depth 0..1
#define ZPRIM_COLORED_2D      8u  // pre-transformed coloured triangles
#define ZPRIM_POINT           1u  // the only kind a point may have

// Render flags: one bit set carried by every primitive and every material.
// Which kinds honour which bit is the renderer's business (zh3d.h); bits it
// does not honour still take part in the batch key.
#define ZRF_ADDITIVE          0x00001u  // ONE/ONE blending
#define ZRF_ALPHATEST         0x00002u  // drop texels of alpha 0 (colour-keyed textures)
#define ZRF_ENVIRONMENT       0x00004u  // environment mapping computed by the object module
#define ZRF_ALPHABLEND        0x00008u  // blend with the renderer's blend pair
#define ZRF_SECONDMAP         0x00010u  // texture 2 over texture 1
#define ZRF_SECONDENVIRONMENT 0x00020u  // texture 2 as an environment map (same stage set-up)
#define ZRF_OP_SUBTRACT       0x00040u  // second-texture operations; the default is ADD and
#define ZRF_OP_ADDSIGNED      0x00080u  // the last bit set, in this order, wins
#define ZRF_OP_ADDSIGNED2X    0x00100u
#define ZRF_OP_ADDSMOOTH      0x00200u
#define ZRF_OP_MODULATE       0x00400u
#define ZRF_OP_MODULATE4X     0x00800u
#define ZRF_OP_DOTPRODUCT3    0x01000u
#define ZRF_CUSTOMSHADER      0x02000u  // Texture1 is the address of a custom shader record
#define ZRF_CLAMP             0x04000u  // clamp addressing for this batch while wrapping is on
#define ZRF_BUMP              0x08000u  // Texture3 bump map; only with a second-texture bit
#define ZRF_ALPHATHRESHOLD    0x10000u  // alpha test against the renderer's reference, LESSEQUAL
#define ZRF_SECOND_TEXTURE    (ZRF_SECONDMAP | ZRF_SECONDENVIRONMENT)

#pragma pack(push, 1)

// One corner of a triangle: the 48-byte vertex of the textured-triangle
// vertex buffer (position, normal, diffuse, specular, two coordinate pairs).
struct POLYVERTEX {
    float x, y, z;
    float nx, ny, nz;
    uint32_t Diffuse;       // ARGB
    uint32_t Specular;      // ARGB
    float u, v;             // first texture
    float u2, v2;           // second texture
};

struct POLYSTRUCT {
    POLYVERTEX Vertex[3];
    uint32_t Texture1;      // texture handle; with ZRF_CUSTOMSHADER a shader record address
    uint32_t Texture2;      // second texture; cleared by DrawPoly unless the flags use it
    uint32_t Texture3;      // bump map; cleared by DrawPoly unless ZRF_BUMP is set
    uint32_t Kind;          // ZPRIM_TEXTURED, _COLORED, _TEXTURED_2D or _COLORED_2D
    uint32_t Flags;         // ZRF_ bits
    float Rhw;              // reciprocal w of the pre-transformed kinds
};

// One end of a line.
struct LINEVERTEX {
    float x, y, z;
    float nx, ny, nz;
    float u, v;
};

struct LINESTRUCT {
    LINEVERTEX End[2];
    uint32_t Texture;       // texture of the textured kinds
    uint32_t Color0;        // ARGB of end 0 and end 1 (coloured lines)
    uint32_t Color1;
    uint32_t Kind;          // ZPRIM_TEXTURED, _COLORED or _TEXTURED_2D
    uint32_t Flags;
};

struct POINTSTRUCT {
    float x, y, z;
    float u, v;             // copied into the vertex; the device makes sprite coordinates
    uint32_t Texture;
    uint32_t Kind;          // must be ZPRIM_POINT
    uint32_t Flags;
};


// A point light for CZH3d::SetPointLight. Floats; colours 0.0-1.0.
struct LIGHTPOINTSTRUCT {
    float x, y, z;          // position in world space
    float Range;
    float Attenuation;      // constant attenuation
    float Reserved[2];      // not read by the renderer; other modules keep their own values here
    float DiffuseR, DiffuseG, DiffuseB;
    float SpecularR, SpecularG, SpecularB;
};

// Filled by CZH3d::LockTextureToWrite: level 0 of a texture, locked.
struct TextureLock {
    uint32_t Bits;          // address of the first texel (32-bit engine)
    uint32_t Pitch;         // bytes from one row to the next
};

#pragma pack(pop)

static_assert(sizeof(POLYVERTEX) == 48 && offsetof(POLYVERTEX, Diffuse) == 24 &&
              offsetof(POLYVERTEX, u) == 32 && offsetof(POLYVERTEX, u2) == 40, "48-byte triangle vertex");
static_assert(sizeof(POLYSTRUCT) == 3 * 48 + 6 * 4 && offsetof(POLYSTRUCT, Texture1) == 144 &&
              offsetof(POLYSTRUCT, Kind) == 156 && offsetof(POLYSTRUCT, Rhw) == 164, "POLYSTRUCT layout");
static_assert(sizeof(LINEVERTEX) == 32 && offsetof(LINEVERTEX, u) == 24, "32-byte line end");
static_assert(sizeof(LINESTRUCT) == 2 * 32 + 5 * 4 && offsetof(LINESTRUCT, Texture) == 64 &&
              offsetof(LINESTRUCT, Kind) == 76, "LINESTRUCT layout");
static_assert(sizeof(POINTSTRUCT) == 32 && offsetof(POINTSTRUCT, Texture) == 20 &&
              offsetof(POINTSTRUCT, Kind) == 24, "POINTSTRUCT layout");
static_assert(sizeof(LIGHTPOINTSTRUCT) == 13 * 4 && offsetof(LIGHTPOINTSTRUCT, Range) == 12 &&
              offsetof(LIGHTPOINTSTRUCT, Attenuation) == 16 && offsetof(LIGHTPOINTSTRUCT, DiffuseR) == 28 &&
              offsetof(LIGHTPOINTSTRUCT, SpecularR) == 40, "LIGHTPOINTSTRUCT layout");
static_assert(sizeof(TextureLock) == 8 && offsetof(TextureLock, Pitch) == 4, "TextureLock layout");

#endif
