// What makes a ".3do" image or a ".material" file sound: every count, offset
// and index of it stays inside the file. One definition for the engine's
// loaders (which refuse a damaged file before touching it), the host writer
// (which checks what it wrote) and the dump tool. Windows-free.
#ifndef ZARQUEL_ZO3DCHECK_H
#define ZARQUEL_ZO3DCHECK_H

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "zo3dfile.h"

// Room a caller gives for the reason of a refusal.
#define ZO3D_WHY_BYTES 160

// True when `count` elements of `size` bytes from `offset` end at or before `limit`.
static inline bool ZO3D_Fits(uint64_t offset, uint64_t count, uint64_t size, uint64_t limit)
{
    return offset <= limit && count * size <= limit - offset;
}

// True when the byte ranges [a, a + an) and [b, b + bn) share a byte.
static inline bool ZO3D_Overlap(uint64_t a, uint64_t an, uint64_t b, uint64_t bn)
{
    return an && bn && a < b + bn && b < a + an;
}

// Checks an image as read from a file of `fileBytes` bytes (offsets not yet
// turned into addresses). `image` holds at least min(fileBytes, 100) bytes,
// and all fileBytes once the header has passed. On a refusal `why` (at least
// ZO3D_WHY_BYTES) says what is wrong.
//
// Besides fitting the file, the arrays the engine or its callers write after
// loading (vertices, normals, modules, second mappings, materials, and the
// header itself) must not overlap what it trusts from then on (the header,
// both frame tables and the faces' corners, materials and second-mapping
// references), and those must not overlap each other: the relocation writes
// each of them once.
static inline bool ZO3D_CheckImage(const uint8_t* image, uint64_t fileBytes, char* why)
{
    const size_t n = ZO3D_WHY_BYTES;
    if (fileBytes < sizeof(ZO3D_HEADER)) {
        snprintf(why, n, "%llu bytes, shorter than the 100-byte header", (unsigned long long)fileBytes);
        return false;
    }
    ZO3D_HEADER h;
    memcpy(&h, image, sizeof(h));
    if (h.ImageSize != fileBytes) {
        snprintf(why, n, "the header says %u bytes, the file has %llu", h.ImageSize, (unsigned long long)fileBytes);
        return false;
    }
    if (h.Version > ZO3D_VERSION) {
        snprintf(why, n, "unknown format version 0x%X", h.Version);
        return false;
    }
    if (h.FrameCount == 0 || h.Frame >= h.FrameCount) {
        snprintf(why, n, "current frame %u of %u frames", h.Frame, h.FrameCount);
        return false;
    }
    const uint64_t V = h.VertexCount, F = h.FaceCount, R = h.FrameCount;
    struct { uint32_t Offset; uint64_t Count, Size; const char* What; } const arrays[4] = {
        {h.FrameVertices, R, 4, "frame vertex table"},
        {h.FrameNormals, R, 4, "frame normal table"},
        {h.Modules, V, 4, "modules array"},
        {h.Faces, F, sizeof(ZO3D_FACE), "face array"},
    };
    for (const auto& a : arrays)
        if (!ZO3D_Fits(a.Offset, a.Count, a.Size, fileBytes)) {
            snprintf(why, n, "%s at offset %u (%llu entries) runs past the end", a.What, a.Offset,
                     (unsigned long long)a.Count);
            return false;
        }
    // Without materials the material offset names the spare record behind the file.
    const uint32_t materials = h.MaterialCount ? h.MaterialCount : 1;
    const uint64_t materialLimit = fileBytes + (h.MaterialCount ? 0 : ZO3D_SPARE_MATERIAL_BYTES);
    if (!ZO3D_Fits(h.Materials, materials, sizeof(ZO3D_MATERIAL), materialLimit)) {
        snprintf(why, n, "material array at offset %u (%u entries) runs past the end", h.Materials, h.MaterialCount);
        return false;
    }
    // Trusted after loading, pairwise apart.
    struct Region { uint64_t At, Bytes; const char* What; };
    const Region fixed[4] = {
        {0, sizeof(ZO3D_HEADER), "the header"},
        {h.FrameVertices, 4 * R, "the frame vertex table"},
        {h.FrameNormals, 4 * R, "the frame normal table"},
        {h.Faces, F * sizeof(ZO3D_FACE), "the face array"},
    };
    for (int i = 0; i < 4; i++)
        for (int j = i + 1; j < 4; j++)
            if (ZO3D_Overlap(fixed[i].At, fixed[i].Bytes, fixed[j].At, fixed[j].Bytes)) {
                snprintf(why, n, "%s overlaps %s", fixed[j].What, fixed[i].What);
                return false;
            }
    // The trusted region [at, at + bytes) lands on, or null.
    auto hit = [&fixed](uint64_t at, uint64_t bytes) -> const char* {
        for (const Region& r : fixed)
            if (ZO3D_Overlap(at, bytes, r.At, r.Bytes))
                return r.What;
        return nullptr;
    };
    const char* on;
    if ((on = hit(h.Modules, 4 * V))) {
        snprintf(why, n, "the modules array overlaps %s", on);
        return false;
    }
    if ((on = hit(h.Materials, (uint64_t)materials * sizeof(ZO3D_MATERIAL)))) {
        snprintf(why, n, "the material array overlaps %s", on);
        return false;
    }
    for (uint32_t r = 0; r < h.FrameCount; r++)
        for (int k = 0; k < 2; k++) {
            uint32_t at;
            memcpy(&at, image + (k ? h.FrameNormals : h.FrameVertices) + 4ull * r, 4);
            if (!ZO3D_Fits(at, V, sizeof(Vector3), fileBytes)) {
                snprintf(why, n, "frame %u %s at offset %u run past the end", r, k ? "normals" : "vertices", at);
                return false;
            }
            if ((on = hit(at, V * sizeof(Vector3)))) {
                snprintf(why, n, "frame %u %s overlap %s", r, k ? "normals" : "vertices", on);
                return false;
            }
        }

    const bool old = h.Version < ZO3D_VERSION;
    for (uint32_t f = 0; f < h.FaceCount; f++) {
        ZO3D_FACE face;
        memcpy(&face, image + h.Faces + (uint64_t)f * sizeof(ZO3D_FACE), sizeof(face));
        for (int c = 0; c < 3; c++) {
            uint32_t v = face.Vertex[c];
            if (old) {
                if (v % ZO3D_OLD_CORNER_STRIDE) {
                    snprintf(why, n, "face %u corner %d holds vertex offset %u, not a multiple of 12", f, c, v);
                    return false;
                }
                v /= ZO3D_OLD_CORNER_STRIDE;
            }
            if (v >= V) {
                snprintf(why, n, "face %u corner %d names vertex %u of %u", f, c, v, h.VertexCount);
                return false;
            }
        }
        if (face.Material >= materials) {
            snprintf(why, n, "face %u names material %u of %u", f, face.Material, h.MaterialCount);
            return false;
        }
        if (face.SecondMap && !ZO3D_Fits(face.SecondMap, 6, sizeof(float), fileBytes)) {
            snprintf(why, n, "face %u second mapping at offset %u runs past the end", f, face.SecondMap);
            return false;
        }
        if (face.SecondMap && (on = hit(face.SecondMap, 6 * sizeof(float)))) {
            snprintf(why, n, "face %u second mapping overlaps %s", f, on);
            return false;
        }
    }
    return true;
}

// Checks a material file of `fileBytes` bytes meant for an object with
// `objectMaterials` material records (0: the spare one; pass UINT32_MAX when
// no object is involved). Every name must end within its field.
static inline bool ZO3D_CheckMaterialFile(const uint8_t* data, uint64_t fileBytes, uint32_t objectMaterials, char* why)
{
    const size_t n = ZO3D_WHY_BYTES;
    if (fileBytes < sizeof(ZO3D_MATFILE_HEADER)) {
        snprintf(why, n, "%llu bytes, shorter than the 12-byte header", (unsigned long long)fileBytes);
        return false;
    }
    ZO3D_MATFILE_HEADER h;
    memcpy(&h, data, sizeof(h));
    if (!ZO3D_Fits(sizeof(h), h.Count, sizeof(ZO3D_MATFILE_RECORD), fileBytes)) {
        snprintf(why, n, "%u records do not fit in %llu bytes", h.Count, (unsigned long long)fileBytes);
        return false;
    }
    const uint32_t room = objectMaterials ? objectMaterials : 1;
    if (h.Count > room) {
        snprintf(why, n, "%u records for an object of %u materials", h.Count, room);
        return false;
    }
    for (uint32_t i = 0; i < h.Count; i++) {
        const uint8_t* names = data + sizeof(h) + (uint64_t)i * sizeof(ZO3D_MATFILE_RECORD);
        for (int k = 0; k < 8; k++)
            if (!memchr(names + k * ZO3D_MATFILE_NAME_BYTES, 0, ZO3D_MATFILE_NAME_BYTES)) {
                snprintf(why, n, "record %u: name field %d is not terminated", i, k);
                return false;
            }
    }
    return true;
}

#endif
