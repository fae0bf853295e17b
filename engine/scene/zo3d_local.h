// Internals shared by the object module's own files; not exported.
#ifndef ZARQUEL_ZO3D_LOCAL_H
#define ZARQUEL_ZO3D_LOCAL_H

#include <cstdint>

#include "zo3d.h"

#define O3D_CAPTION "Zarquel ZO3D"

// Reasons a caller's mistake is refused; each is logged once (a bit of
// CZO3d::RefusalsLogged).
enum {
    O3D_REFUSE_CACHE = 1u << 0,     // modes 1-3 or a dynamic light without a big enough cache
    O3D_REFUSE_MODE = 1u << 1,      // draw mode above 3
    O3D_REFUSE_FACE = 1u << 2,      // DrawPartialObject face index at or above the face count
    O3D_REFUSE_NEXT = 1u << 3,      // next frame outside the object's frames: drawn unblended
    O3D_REFUSE_MATERIAL = 1u << 4,  // material index outside the object's materials
    O3D_REFUSE_COPY = 1u << 5,      // CopyObject between images of different layouts
};

// A loaded image: its offsets are addresses now.
static inline ZO3D_HEADER* O3D_Header(unsigned long object)
{
    return (ZO3D_HEADER*)(uintptr_t)object;
}

template <class T> static inline T* O3D_At(uint32_t address)
{
    return (T*)(uintptr_t)address;
}

static inline Vector3* O3D_FrameVertices(const ZO3D_HEADER* h, uint32_t frame)
{
    return O3D_At<Vector3>(O3D_At<uint32_t>(h->FrameVertices)[frame]);
}

static inline Vector3* O3D_FrameNormals(const ZO3D_HEADER* h, uint32_t frame)
{
    return O3D_At<Vector3>(O3D_At<uint32_t>(h->FrameNormals)[frame]);
}

// Material records the image really has: the spare one when it names none.
static inline uint32_t O3D_MaterialRoom(const ZO3D_HEADER* h)
{
    return h->MaterialCount ? h->MaterialCount : 1;
}

// Bytes of the block that holds the image (the spare material included).
static inline uint32_t O3D_BlockBytes(const ZO3D_HEADER* h)
{
    return h->ImageSize + (h->MaterialCount ? 0 : ZO3D_SPARE_MATERIAL_BYTES);
}

// Adds `delta` to the references of an image: with `header`, first the five
// header fields; then, through them, every frame table entry and every
// non-zero second-mapping reference.
void O3D_Move(ZO3D_HEADER* h, uint32_t delta, bool header);

class CZDebug;
// Ends the program: "<what>: <file name> (<why>)".
[[noreturn]] void O3D_Fatal(CZDebug* debug, const char* what, const char* name, const char* why);

#endif
