// libFuzzer target: any bytes as a ".oct" image for an object of the game's
// size. An image the check lets through is fixed up as the engine fixes it
// (offsets moved to an address) and then walked as every pass walks it:
// each node array, the face flags its leaves mark, the visible cells.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "zoctfile.h"

namespace {
const uint32_t BASE = 0x40000000u;   // where the image "lands"
const uint32_t FACES = 25000;        // the game's object and Init size

struct Image {
    std::vector<uint8_t> Block;
    std::vector<uint8_t> Flags;
    std::vector<uint8_t> Visibility;
    uint32_t Records;
};

// An empty list or child array is never read: its offset may be anything.
uint8_t* At(Image* m, uint32_t address, uint64_t bytes)
{
    if (bytes == 0)
        return m->Block.data();
    if (address < BASE || address - BASE + bytes > m->Block.size())
        __builtin_trap();
    return &m->Block[address - BASE];
}

void Fix(Image* m, uint32_t array, uint32_t count)
{
    for (uint32_t i = 0; i < count; i++) {
        AABBLeaf* leaf = (AABBLeaf*)At(m, array + i * 128u, 128);
        if (leaf->Marker == ZOCT_LEAF_MARKER) {
            leaf->List1 += BASE;
            leaf->List2 += BASE;
            leaf->Visible += BASE;
            return;
        }
        AABBNode* node = (AABBNode*)leaf;
        node->Children += BASE;
        Fix(m, node->Children, node->ChildCount);
    }
}

void Walk(Image* m, uint32_t array, uint32_t count, uint32_t depth, bool pvs)
{
    if (depth > ZOCT_MAX_DEPTH || m->Records++ > m->Block.size() / 128)
        __builtin_trap();
    for (uint32_t i = 0; i < count; i++) {
        AABBLeaf leaf;
        memcpy(&leaf, At(m, array + i * 128u, 128), sizeof(leaf));
        if (leaf.Marker == ZOCT_LEAF_MARKER) {
            for (auto list : {std::make_pair(leaf.List1, leaf.Count1), std::make_pair(leaf.List2, leaf.Count2)}) {
                const uint8_t* faces = At(m, list.first, 4ull * list.second);
                for (uint32_t k = 0; k < list.second; k++) {
                    uint32_t f;
                    memcpy(&f, faces + 4 * k, 4);
                    m->Flags.at(f) = 1;
                }
            }
            if (pvs) {
                m->Visibility.at(leaf.Cell) = 1;
                const uint8_t* cells = At(m, leaf.Visible, 4ull * leaf.VisibleCount);
                for (uint32_t k = 0; k < leaf.VisibleCount; k++) {
                    uint32_t c;
                    memcpy(&c, cells + 4 * k, 4);
                    m->Visibility.at(c) = 1;
                }
            }
            return;
        }
        AABBNode node;
        memcpy(&node, At(m, array + i * 128u, 128), sizeof(node));
        Walk(m, node.Children, node.ChildCount, depth + 1, pvs);
    }
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Image m;
    m.Block.assign(data, data + size);
    std::vector<ZOCT_REGION> regions(ZOCT_RegionCapacity(size));
    char why[ZOCT_WHY_BYTES];
    if (!ZOCT_CheckImage(m.Block.data(), size, FACES, FACES, regions.data(), why))
        return 0;
    AABBHeader h;
    memcpy(&h, m.Block.data(), sizeof(h));
    const bool pvs = h.Pvs == ZOCT_PVS;
    if (pvs && h.Cells > (64u << 20))
        return 0;   // the engine's heap refuses such a buffer, loudly
    // A fault here shows as a throw from at(), which libFuzzer reports too.
    m.Flags.resize(FACES);
    m.Visibility.resize(pvs ? h.Cells : 0);
    m.Records = 0;
    Fix(&m, h.Root + BASE, 1);
    Walk(&m, h.Root + BASE, 1, 0, pvs);
    return 0;
}
