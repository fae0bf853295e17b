// On-disk records of ".3do" object images and ".material" files. Read by the
// engine (CZO3d) and written by the host tools (tools/o3d), so this header
// stays free of Windows headers and uses fixed-width types only.
//
// An object file is a memory image, little-endian: the 100-byte header, then
// the arrays it names, anywhere in the file. Every offset counts from the
// image's first byte; once the engine has loaded the image, the five offset
// fields of the header, the entries of both frame tables and every non-zero
// second-mapping offset hold addresses instead (32-bit engine).
#ifndef ZARQUEL_ZO3DFILE_H
#define ZARQUEL_ZO3DFILE_H

#include <cstddef>
#include <cstdint>

#include "zprim.h"
#include "ztypes.h"

#define ZO3D_VERSION 0x1003u
// Versions below ZO3D_VERSION store each face corner as a byte offset into
// the vertex array (index * ZO3D_OLD_CORNER_STRIDE).
#define ZO3D_OLD_CORNER_STRIDE 12u
#define ZO3D_NAME_BYTES 16
// An image with no materials gets room for one record behind it, where such
// files point their material offset (offset equal to the file size).
#define ZO3D_SPARE_MATERIAL_BYTES 48u
// The interpolation factor toward the next frame is kept within 0 to this.
#define ZO3D_MAX_FACTOR 0.99f

// Material types: the primitive kinds of the renderer.
#define ZO3D_MAT_TEXTURED     ZPRIM_TEXTURED
#define ZO3D_MAT_COLORED      ZPRIM_COLORED
#define ZO3D_MAT_TEXTURED_2D  ZPRIM_TEXTURED_2D   // vertices already in screen pixels
#define ZO3D_MAT_COLORED_2D   ZPRIM_COLORED_2D    // only from files

// Material flags are render flags (zprim.h); these are the names the object
// module gives the bits it looks at itself.
#define ZO3D_GLENZ             ZRF_ADDITIVE
#define ZO3D_COLORKEY          ZRF_ALPHATEST
#define ZO3D_ENVIRONMENT       ZRF_ENVIRONMENT        // first mapping from the normals at draw time
#define ZO3D_SECONDMAP         ZRF_SECONDMAP          // second layer: the face's second mapping
#define ZO3D_SECONDENVIRONMENT ZRF_SECONDENVIRONMENT  // second layer: mapping from the normals
#define ZO3D_CUSTOMSHADER      ZRF_CUSTOMSHADER
#define ZO3D_BUMPMAP           ZRF_BUMP

#pragma pack(push, 1)

struct ZO3D_HEADER {
    char Name[ZO3D_NAME_BYTES];   // NUL-padded, not interpreted
    uint32_t Version;
    uint32_t ImageSize;           // bytes of the whole file
    Vector3 Position;
    uint32_t Frame;               // current frame, 0-based
    Vector3 Angles;               // CZMth angle units (512 a turn) held as floats
    uint32_t VertexCount;         // per frame
    uint32_t FaceCount;
    uint32_t MaterialCount;
    uint32_t FrameCount;
    uint32_t FrameVertices;       // table of FrameCount vertex-array offsets
    uint32_t FrameNormals;        // table of FrameCount normal-array offsets
    uint32_t Modules;             // VertexCount floats: normal lengths of the current frame
    uint32_t Faces;               // FaceCount ZO3D_FACE
    uint32_t Materials;           // MaterialCount ZO3D_MATERIAL
    float Factor;                 // interpolation toward the next frame
    uint32_t Unused[2];
};

struct ZO3D_FACE {
    uint32_t Vertex[3];           // corner indices (see ZO3D_OLD_CORNER_STRIDE)
    float Map[6];                 // u, v of each corner
    uint32_t Material;            // index into the material array
    uint32_t SecondMap;           // offset of 6 floats (u, v of each corner), 0 for none
    uint32_t Unused[7];
};

struct ZO3D_MATERIAL {
    uint32_t Type;                // ZO3D_MAT_
    uint32_t Flags;               // render flags, passed with every face
    uint32_t Unused0;
    uint32_t Texture1;            // with ZO3D_CUSTOMSHADER: the shader handle
    uint32_t Texture2;
    uint32_t Unused1;
    uint32_t Texture3;            // bump map
    uint32_t Unused2[2];
    uint32_t Color[3];            // corner colours of coloured materials
};

// ".material" file: this header, then Count records.
struct ZO3D_MATFILE_HEADER {
    uint32_t Unused;
    uint32_t Count;
    uint32_t FileSize;            // written by the loader: the size its memory is freed with
};

#define ZO3D_MATFILE_NAME_BYTES 128
#define ZO3D_MATFILE_CONSTANTS 255

// One vertex-shader constant register: kind (0 plain, 1 clip matrix, 2
// world-view matrix), set flag, four floats. The renderer's custom shader
// record holds the same slots.
struct ZO3D_SHADER_SLOT {
    uint32_t Kind;
    uint32_t Set;
    float Value[4];
};

struct ZO3D_MATFILE_RECORD {
    // Names relative to the material file's folder, NUL-terminated; empty: none.
    char Texture1[ZO3D_MATFILE_NAME_BYTES];
    char Texture2[ZO3D_MATFILE_NAME_BYTES];
    char Texture4[ZO3D_MATFILE_NAME_BYTES];
    char BumpMap[ZO3D_MATFILE_NAME_BYTES];
    char Texture5[ZO3D_MATFILE_NAME_BYTES];
    char Unused0[ZO3D_MATFILE_NAME_BYTES];
    char PixelShader[ZO3D_MATFILE_NAME_BYTES];
    char VertexShader[ZO3D_MATFILE_NAME_BYTES];   // empty: no shader
    // Handles written by the loader.
    uint32_t Shader;
    uint32_t Handle1;
    uint32_t Handle2;
    uint32_t Handle4;
    uint32_t HandleBump;
    uint32_t Handle5;
    uint32_t Unused1;
    uint8_t Alpha;                // constant alpha of an alpha texture
    uint8_t Unused2[3];
    uint32_t Type;                // 1 or 2; records of any other type are skipped
    uint32_t Flags;
    uint32_t ColorKey;
    uint32_t Color[3];            // corner colours of type 2
    uint32_t AlphaTexture;        // non-zero: first texture loaded with Alpha
    uint32_t ColorKeyOn;          // non-zero: first texture loaded with ColorKey
    ZO3D_SHADER_SLOT Constants[ZO3D_MATFILE_CONSTANTS];    // the shader's first constant area
    ZO3D_SHADER_SLOT Constants2[ZO3D_MATFILE_CONSTANTS];   // and its second
};

#pragma pack(pop)

static_assert(sizeof(ZO3D_HEADER) == 100, "object header is 100 bytes");
static_assert(offsetof(ZO3D_HEADER, Version) == 16 && offsetof(ZO3D_HEADER, ImageSize) == 20 &&
              offsetof(ZO3D_HEADER, Position) == 24 && offsetof(ZO3D_HEADER, Frame) == 36 &&
              offsetof(ZO3D_HEADER, Angles) == 40 && offsetof(ZO3D_HEADER, VertexCount) == 52 &&
              offsetof(ZO3D_HEADER, FrameCount) == 64 && offsetof(ZO3D_HEADER, FrameVertices) == 68 &&
              offsetof(ZO3D_HEADER, Materials) == 84 && offsetof(ZO3D_HEADER, Factor) == 88,
              "object header field offsets");
static_assert(sizeof(ZO3D_FACE) == 72 && offsetof(ZO3D_FACE, Map) == 12 &&
              offsetof(ZO3D_FACE, Material) == 36 && offsetof(ZO3D_FACE, SecondMap) == 40, "face record");
static_assert(sizeof(ZO3D_MATERIAL) == 48 && offsetof(ZO3D_MATERIAL, Texture1) == 12 &&
              offsetof(ZO3D_MATERIAL, Texture2) == 16 && offsetof(ZO3D_MATERIAL, Texture3) == 24 &&
              offsetof(ZO3D_MATERIAL, Color) == 36, "object material record");
static_assert(sizeof(ZO3D_MATERIAL) == ZO3D_SPARE_MATERIAL_BYTES, "spare room holds one material");
static_assert(sizeof(ZO3D_MATFILE_HEADER) == 12, "material file header");
static_assert(sizeof(ZO3D_SHADER_SLOT) == 24, "constant slot is six words");
static_assert(sizeof(ZO3D_MATFILE_RECORD) == 13328 && offsetof(ZO3D_MATFILE_RECORD, VertexShader) == 896 &&
              offsetof(ZO3D_MATFILE_RECORD, Shader) == 1024 && offsetof(ZO3D_MATFILE_RECORD, Handle5) == 1044 &&
              offsetof(ZO3D_MATFILE_RECORD, Alpha) == 1052 && offsetof(ZO3D_MATFILE_RECORD, Type) == 1056 &&
              offsetof(ZO3D_MATFILE_RECORD, Color) == 1068 && offsetof(ZO3D_MATFILE_RECORD, AlphaTexture) == 1080 &&
              offsetof(ZO3D_MATFILE_RECORD, ColorKeyOn) == 1084 && offsetof(ZO3D_MATFILE_RECORD, Constants) == 1088 &&
              offsetof(ZO3D_MATFILE_RECORD, Constants2) == 7208, "material file record");

#endif
