// Internals shared by the renderer's own files; not exported.
#ifndef ZARQUEL_ZH3D_LOCAL_H
#define ZARQUEL_ZH3D_LOCAL_H

#include "zh3d.h"

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

#endif
