// On-disk records of ".oct" AABB octree images, and what makes one sound.
// Read by the engine (CZOctreeAABB) and written by the host builder
// (tools/oct), so this header stays free of Windows headers and uses
// fixed-width types only.
//
// An octree file is a memory image, little-endian, every field 32 bits: the
// 40-byte header, then node arrays of 128-byte records and 32-bit lists,
// anywhere in the file. Offsets count from the image's first byte; once the
// engine has loaded it, the root, child and list offsets hold addresses
// (32-bit engine). A node array is one or more interior nodes or a single
// leaf record; every walk over an array stops at the first leaf it meets.
#ifndef ZARQUEL_ZOCTFILE_H
#define ZARQUEL_ZOCTFILE_H

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "ztypes.h"

// First word of a leaf record. An interior node starts with corner 0's x,
// so the builder never writes a box whose minimum x has these bits.
#define ZOCT_LEAF_MARKER 0xCACABACAu
// Header value of the PVS flag when the file carries cells and lists.
#define ZOCT_PVS 1u
// Node arrays nest at most this deep; the engine's walks recurse once per level.
#define ZOCT_MAX_DEPTH 48
// Room a caller gives for the reason of a refusal.
#define ZOCT_WHY_BYTES 160

#pragma pack(push, 1)

struct AABBHeader {
    uint32_t Magic;          // builder's: ZOCT_MAGIC (not read by the engine)
    uint32_t FaceCount;      // builder's: faces of the object it was built for (not read)
    uint32_t Root;           // offset of the root node array (one record)
    uint32_t Pvs;            // ZOCT_PVS: leaves carry cells and visible-cell lists
    uint32_t LeafCount;      // builder's (not read)
    uint32_t FileSize;       // bytes of the whole file; the block is freed with it
    uint32_t Object;         // written by the loader: the object handle
    uint32_t Cells;          // cell count = bytes of the visibility buffer
    uint32_t Visibility;     // written by the loader: the buffer's address, or 0
    float CameraRadius;      // the PVS search uses a camera sphere of twice this
};

// The box's corners in the Box3 order: 0 the minimum, 1 at max x, 2 at max x
// and y, 3 at max y, 4 to 7 the same at max z; 0 and 6 are opposite.
struct AABBCube {
    Vector3 Corner[8];
};

struct AABBNode {
    AABBCube Cube;
    uint32_t ChildCount;     // records in the child array
    uint32_t Children;       // offset of the child array
    Vector3 Min;
    Vector3 Max;
};

struct AABBLeaf {
    uint32_t Marker;         // ZOCT_LEAF_MARKER
    uint32_t Count1;         // face list 1: faces that collide (and are drawn)
    uint32_t List1;
    uint32_t Count2;         // face list 2: faces that are only drawn
    uint32_t List2;
    uint32_t Highest;        // highest and lowest face number of both lists
    uint32_t Lowest;
    uint32_t Cell;           // index into the visibility buffer
    uint32_t VisibleCount;   // visible-cell list: cells seen from this one
    uint32_t Visible;
    uint32_t Unused[22];
};

#pragma pack(pop)

#define ZOCT_MAGIC 0x3154434Fu   // "OCT1"

static_assert(sizeof(AABBHeader) == 40 && offsetof(AABBHeader, Root) == 8 && offsetof(AABBHeader, Pvs) == 12 &&
              offsetof(AABBHeader, FileSize) == 20 && offsetof(AABBHeader, Object) == 24 &&
              offsetof(AABBHeader, Cells) == 28 && offsetof(AABBHeader, Visibility) == 32 &&
              offsetof(AABBHeader, CameraRadius) == 36, "octree header");
static_assert(sizeof(AABBCube) == 96, "box: eight corners");
static_assert(sizeof(AABBNode) == 128 && offsetof(AABBNode, ChildCount) == 96 && offsetof(AABBNode, Children) == 100 &&
              offsetof(AABBNode, Min) == 104 && offsetof(AABBNode, Max) == 116, "interior node");
static_assert(sizeof(AABBLeaf) == 128 && offsetof(AABBLeaf, List1) == 8 && offsetof(AABBLeaf, Count2) == 12 &&
              offsetof(AABBLeaf, Highest) == 20 && offsetof(AABBLeaf, Lowest) == 24 && offsetof(AABBLeaf, Cell) == 28 &&
              offsetof(AABBLeaf, VisibleCount) == 32 && offsetof(AABBLeaf, Visible) == 36, "leaf record");

// One byte range the check has seen: node arrays (and the header, which the
// loader writes) must not share a byte with anything, lists may share bytes
// with other lists (they are only read).
struct ZOCT_REGION {
    uint32_t At;
    uint32_t Bytes;
    uint32_t Node;           // 1: node array or header
};

// Regions a check of a file of `fileBytes` bytes may need: every record
// names at most three, plus the header and the root array.
static inline uint32_t ZOCT_RegionCapacity(uint64_t fileBytes)
{
    return (uint32_t)(fileBytes / sizeof(AABBLeaf)) * 3 + 2;
}

struct ZOCT_CHECK {
    const uint8_t* Image;
    uint64_t Bytes;
    uint32_t Faces;          // the object's face count
    uint32_t FlagCapacity;   // faces the engine's flag array holds
    uint32_t Cells;          // 0 without PVS
    bool Pvs;
    ZOCT_REGION* Regions;
    uint32_t RegionCount, RegionCapacity;
    uint32_t RecordsLeft;    // a walk that needs more has looped
    char* Why;
};

static inline bool ZOCT_Refuse(ZOCT_CHECK* c, const char* format, uint32_t a, uint32_t b = 0, uint32_t d = 0)
{
    snprintf(c->Why, ZOCT_WHY_BYTES, format, a, b, d);
    return false;
}

static inline bool ZOCT_AddRegion(ZOCT_CHECK* c, uint32_t at, uint64_t bytes, bool node, const char* what)
{
    if (bytes == 0)
        return true;
    if (at > c->Bytes || bytes > c->Bytes - at)
        return ZOCT_Refuse(c, what, at);
    if (c->RegionCount == c->RegionCapacity)
        return ZOCT_Refuse(c, "node arrays loop (at offset %u)", at);
    c->Regions[c->RegionCount++] = ZOCT_REGION{at, (uint32_t)bytes, node ? 1u : 0u};
    return true;
}

// A list of `count` 32-bit values at `at`, each below `limit` (and, for face
// lists, within the leaf's lowest and highest face numbers).
static inline bool ZOCT_CheckList(ZOCT_CHECK* c, uint32_t at, uint32_t count, uint32_t limit, const AABBLeaf* leaf,
                                  const char* what)
{
    if (!ZOCT_AddRegion(c, at, 4ull * count, false, what))
        return false;
    for (uint32_t i = 0; i < count; i++) {
        uint32_t v;
        memcpy(&v, c->Image + at + 4ull * i, 4);
        if (v >= limit)
            return ZOCT_Refuse(c, leaf ? "face %u in a leaf's list at offset %u is not below %u"
                                       : "cell %u in a visible-cell list at offset %u is not below %u", v, at, limit);
        if (leaf && (v < leaf->Lowest || v > leaf->Highest))
            return ZOCT_Refuse(c, "face %u in a leaf's list at offset %u lies outside the leaf's bounds %u", v, at,
                               leaf->Lowest);
    }
    return true;
}

static inline bool ZOCT_CheckArray(ZOCT_CHECK* c, uint32_t at, uint32_t count, uint32_t depth)
{
    if (depth > ZOCT_MAX_DEPTH)
        return ZOCT_Refuse(c, "node arrays nest deeper than %u levels or loop (at offset %u)", ZOCT_MAX_DEPTH, at);
    if (!ZOCT_AddRegion(c, at, (uint64_t)count * sizeof(AABBNode), true,
                        "a node array at offset %u runs past the end of the file"))
        return false;
    // The face limit: the object's faces, and the flag array must hold them.
    const uint32_t faceLimit = std::min(c->Faces, c->FlagCapacity);
    for (uint32_t i = 0; i < count; i++) {
        if (c->RecordsLeft-- == 0)
            return ZOCT_Refuse(c, "node arrays loop (at offset %u)", at);
        const uint8_t* record = c->Image + at + (uint64_t)i * sizeof(AABBNode);
        uint32_t marker;
        memcpy(&marker, record, 4);
        if (marker == ZOCT_LEAF_MARKER) {
            AABBLeaf leaf;
            memcpy(&leaf, record, sizeof(leaf));
            if (leaf.Lowest <= leaf.Highest && leaf.Highest >= faceLimit)
                return ZOCT_Refuse(c, "a leaf's highest face %u is not below %u (the object's faces and the Init "
                                   "size)", leaf.Highest, faceLimit);
            if (!ZOCT_CheckList(c, leaf.List1, leaf.Count1, faceLimit, &leaf,
                                "face list 1 at offset %u runs past the end of the file") ||
                !ZOCT_CheckList(c, leaf.List2, leaf.Count2, faceLimit, &leaf,
                                "face list 2 at offset %u runs past the end of the file"))
                return false;
            if (c->Pvs) {
                if (leaf.Cell >= c->Cells)
                    return ZOCT_Refuse(c, "a leaf's cell %u is not below the cell count %u", leaf.Cell, c->Cells);
                if (!ZOCT_CheckList(c, leaf.Visible, leaf.VisibleCount, c->Cells, nullptr,
                                    "a visible-cell list at offset %u runs past the end of the file"))
                    return false;
            }
            return true;   // a leaf ends its array
        }
        AABBNode node;
        memcpy(&node, record, sizeof(node));
        if (!ZOCT_CheckArray(c, node.Children, node.ChildCount, depth + 1))
            return false;
    }
    return true;
}

// Checks an image as read from a file of `fileBytes` bytes (offsets not yet
// turned into addresses) for an object of `faces` faces and a flag array of
// `flagCapacity` entries. `regions` has room for ZOCT_RegionCapacity(fileBytes)
// entries. On a refusal `why` (at least ZOCT_WHY_BYTES) says what is wrong.
// Floats are not judged: a box of any value is walked safely.
static inline bool ZOCT_CheckImage(const uint8_t* image, uint64_t fileBytes, uint32_t faces, uint32_t flagCapacity,
                                   ZOCT_REGION* regions, char* why)
{
    ZOCT_CHECK c;
    c.Image = image;
    c.Bytes = fileBytes;
    c.Faces = faces;
    c.FlagCapacity = flagCapacity;
    c.Regions = regions;
    c.RegionCount = 0;
    c.RegionCapacity = ZOCT_RegionCapacity(fileBytes);
    c.RecordsLeft = (uint32_t)(fileBytes / sizeof(AABBNode));
    c.Why = why;
    if (fileBytes < sizeof(AABBHeader))
        return ZOCT_Refuse(&c, "%u bytes, shorter than the 40-byte header", (uint32_t)fileBytes);
    AABBHeader h;
    memcpy(&h, image, sizeof(h));
    if (h.FileSize != fileBytes)
        return ZOCT_Refuse(&c, "the header says %u bytes, the file has %u", h.FileSize, (uint32_t)fileBytes);
    if (faces > flagCapacity)
        return ZOCT_Refuse(&c, "the object has %u faces but Init was given %u: call Init with at least the faces of "
                           "the largest object", faces, flagCapacity);
    c.Pvs = h.Pvs == ZOCT_PVS;
    c.Cells = c.Pvs ? h.Cells : 0;
    ZOCT_AddRegion(&c, 0, sizeof(AABBHeader), true, "");
    if (!ZOCT_CheckArray(&c, h.Root, 1, 0))
        return false;
    // Sorted by start, a region overlaps an earlier one when it starts before
    // the furthest end seen so far (of a node array, for a list).
    std::sort(regions, regions + c.RegionCount,
              [](const ZOCT_REGION& a, const ZOCT_REGION& b) { return a.At < b.At || (a.At == b.At && a.Node > b.Node); });
    uint64_t endAny = 0, endNode = 0;
    for (uint32_t i = 0; i < c.RegionCount; i++) {
        const ZOCT_REGION& r = regions[i];
        if (r.At < (r.Node ? endAny : endNode))
            return ZOCT_Refuse(&c, r.Node ? "the node array at offset %u overlaps other data (node arrays loop or "
                                            "are shared)" : "the list at offset %u overlaps a node array or the header",
                               r.At);
        endAny = std::max(endAny, (uint64_t)r.At + r.Bytes);
        if (r.Node)
            endNode = std::max(endNode, (uint64_t)r.At + r.Bytes);
    }
    return true;
}

#endif
