// libFuzzer target: any bytes as a ".3do" image. An image the check lets
// through is used as the engine uses a loaded one: its references moved to
// an address, every array the engine and its callers write filled, and then
// every reference it trusts from then on must still lead inside the block.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "zo3dcheck.h"

namespace {
const uint32_t BASE = 0x40000000u;   // where the image "lands"

uint32_t Word(const std::vector<uint8_t>& b, uint64_t at)
{
    uint32_t v;
    memcpy(&v, &b[at], 4);
    return v;
}

void Add(std::vector<uint8_t>* b, uint64_t at, uint32_t delta)
{
    uint32_t v = Word(*b, at) + delta;
    memcpy(&(*b)[at], &v, 4);
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    ZO3D_HEADER head = {};
    memcpy(&head, data, size < sizeof(head) ? size : sizeof(head));
    const uint32_t spare = head.MaterialCount ? 0 : ZO3D_SPARE_MATERIAL_BYTES;
    // Exactly the engine's block: the file, then the spare material.
    std::vector<uint8_t> block(size + spare);
    memcpy(block.data(), data, size);
    char why[ZO3D_WHY_BYTES];
    if (!ZO3D_CheckImage(block.data(), size, why))
        return 0;
    const ZO3D_HEADER h = head;
    const uint32_t V = h.VertexCount, room = h.MaterialCount ? h.MaterialCount : 1;
    const bool old = h.Version < ZO3D_VERSION;

    // The load: header references, frame tables and second mappings moved,
    // old corners turned into indices.
    for (uint64_t field : {offsetof(ZO3D_HEADER, FrameVertices), offsetof(ZO3D_HEADER, FrameNormals),
                           offsetof(ZO3D_HEADER, Modules), offsetof(ZO3D_HEADER, Faces), offsetof(ZO3D_HEADER, Materials)})
        Add(&block, field, BASE);
    for (uint32_t r = 0; r < h.FrameCount; r++) {
        Add(&block, h.FrameVertices + 4ull * r, BASE);
        Add(&block, h.FrameNormals + 4ull * r, BASE);
    }
    for (uint32_t f = 0; f < h.FaceCount; f++) {
        const uint64_t face = h.Faces + (uint64_t)f * sizeof(ZO3D_FACE);
        if (Word(block, face + offsetof(ZO3D_FACE, SecondMap)))
            Add(&block, face + offsetof(ZO3D_FACE, SecondMap), BASE);
        for (int c = 0; c < 3 && old; c++) {
            uint32_t v = Word(block, face + 4 * c) / ZO3D_OLD_CORNER_STRIDE;
            memcpy(&block[face + 4 * c], &v, 4);
        }
    }

    // What the engine and its callers write: vertices (scaling), normals and
    // modules (RecalcNormals), materials (the setters), second mappings
    // (InvertCulling). Written through the moved references.
    ZO3D_HEADER moved;
    memcpy(&moved, block.data(), sizeof(moved));
    auto fill = [&block](uint32_t address, uint64_t bytes) {
        if (address < BASE || address - BASE + bytes > block.size())
            __builtin_trap();
        memset(&block[address - BASE], 0x5A, bytes);
    };
    std::vector<uint32_t> frames;
    for (uint32_t r = 0; r < h.FrameCount; r++)
        for (uint32_t table : {moved.FrameVertices, moved.FrameNormals})
            frames.push_back(Word(block, table - BASE + 4ull * r));
    for (uint32_t at : frames)
        fill(at, V * sizeof(Vector3));
    fill(moved.Modules, 4ull * V);
    fill(moved.Materials, (uint64_t)room * sizeof(ZO3D_MATERIAL));
    for (uint32_t f = 0; f < h.FaceCount; f++) {
        const uint32_t second = Word(block, moved.Faces - BASE + (uint64_t)f * sizeof(ZO3D_FACE) + 40);
        if (second)
            fill(second, 6 * sizeof(float));
    }

    // What is trusted from then on is as the load left it.
    if (memcmp(&moved, block.data(), sizeof(moved)))
        __builtin_trap();
    for (uint32_t r = 0, k = 0; r < h.FrameCount; r++)
        for (uint32_t table : {moved.FrameVertices, moved.FrameNormals})
            if (Word(block, table - BASE + 4ull * r) != frames[k++])
                __builtin_trap();
    for (uint32_t f = 0; f < h.FaceCount; f++) {
        ZO3D_FACE face;
        memcpy(&face, &block[moved.Faces - BASE + (uint64_t)f * sizeof(ZO3D_FACE)], sizeof(face));
        if (face.Vertex[0] >= V || face.Vertex[1] >= V || face.Vertex[2] >= V || face.Material >= room)
            __builtin_trap();
    }
    return 0;
}
