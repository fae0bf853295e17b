// Internals shared by the renderer's own files (and its tests): the kinds,
// the vertex formats, the batch tables and the checked-call helper's log.
#ifndef ZARQUEL_ZH3D_LOCAL_H
#define ZARQUEL_ZH3D_LOCAL_H

#include "zh3d.h"

// Primitive kinds as table indices; the order of the vertex buffers and
// batch tables (H3D_DrawScene draws them in its own fixed order).
enum ZH3D_KIND {
    ZH3D_TRIS_TEXTURED = 0,
    ZH3D_TRIS_TEXTURED_2D,
    ZH3D_TRIS_COLORED,
    ZH3D_TRIS_COLORED_2D,
    ZH3D_LINES_TEXTURED,
    ZH3D_LINES_TEXTURED_2D,
    ZH3D_LINES_COLORED,
    ZH3D_POINTS,
    ZH3D_KIND_COUNT
};
static_assert(ZH3D_KIND_COUNT == ZH3D_KINDS, "one table and one vertex buffer per kind");

// Buckets per batch table. A frame that needs more buckets of one kind gets
// the extra primitives refused (counted in PrimitivesRefused and logged once
// per kind and frame); H3D_FindBucket is the one place that checks.
#define ZH3D_MAX_BUCKETS 1800
#define ZH3D_BUCKET_PRIMITIVES 1000         // primitives per bucket and per vertex-buffer fill
#define ZH3D_FREE 0xFFFFFFFFu               // bucket count: this bucket and all after it free;
                                            // store and cursor: no store
#define ZH3D_SORT_BUFFER_BYTES 8000         // particle depth sort: 1000 (distance, address) pairs

// Vertex formats of the eight kinds.
#define ZH3D_FVF_TRIS_TEXTURED    (D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_DIFFUSE | D3DFVF_SPECULAR | D3DFVF_TEX2)
#define ZH3D_FVF_TRIS_TEXTURED_2D (D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX2)
#define ZH3D_FVF_TRIS_COLORED     (D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_DIFFUSE | D3DFVF_SPECULAR)
#define ZH3D_FVF_TRIS_COLORED_2D  (D3DFVF_XYZRHW | D3DFVF_DIFFUSE)
#define ZH3D_FVF_LINES_TEXTURED   (D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_TEX1)
#define ZH3D_FVF_LINES_TEXTURED_2D (D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX1)
#define ZH3D_FVF_LINES_COLORED    (D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_DIFFUSE)
#define ZH3D_FVF_POINTS           (D3DFVF_XYZ | D3DFVF_TEX1)

// One bucket of a batch table: a key, its system-memory vertex store and
// how many primitives it holds. Words hold addresses (32-bit engine).
struct ZH3D_BUCKET {
    uint32_t Texture1;      // points and lines: their texture
    uint32_t Texture2;      // textured triangles (both kinds)
    uint32_t Texture3;      // textured triangles
    uint32_t Store;         // ZH3D_FREE: no store
    uint32_t Cursor;        // where the next primitive's vertices go
    uint32_t Kind;          // the records' kind
    uint32_t Flags;         // the records' render flags
    uint32_t Count;         // ZH3D_FREE: this bucket and every later one is free
};
static_assert(sizeof(ZH3D_BUCKET) == 32, "bucket is eight words");

// What each kind's vertex buffer and vertex stores look like. A vertex buffer
// holds exactly one bucket's worth of vertices, so one lock fills one chunk.
struct ZH3D_KIND_INFO {
    const char* Name;           // for the overflow log line
    DWORD Fvf;
    uint32_t Stride;            // vertex size in the buffer and in the store
    uint32_t VerticesPerPrimitive;
    uint32_t BufferBytes;       // vertex buffer: ZH3D_BUCKET_PRIMITIVES primitives
    DWORD Usage;
    uint32_t StoreBytes;        // a bucket's system-memory store
};

// Indexed by ZH3D_KIND.
extern const ZH3D_KIND_INFO ZH3D_KindInfo[ZH3D_KINDS];

// Captions of the renderer's fatal boxes: texture loads use the first, the
// viewport, buffers and render textures the second.
#define ZH3D_CAPTION_TEXTURES "ZH3D Zarquel"
#define ZH3D_CAPTION "Zarquel H3D"

static inline DWORD H3D_FloatBits(float f)
{
    DWORD d;
    __builtin_memcpy(&d, &f, sizeof(d));
    return d;
}

#endif
