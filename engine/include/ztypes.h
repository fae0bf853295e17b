// Shared geometry records. Used by the engine, the game and the native host
// tools alike, so this header stays free of Windows headers and uses only
// fixed-width types: every layout here is also an on-disk or cross-module
// layout.
#ifndef ZARQUEL_ZTYPES_H
#define ZARQUEL_ZTYPES_H

#include <cstddef>
#include <cstdint>

#pragma pack(push, 1)

struct Vector3 {
    float x, y, z;
};

struct Sphere3 {
    Vector3 Center;
    float Radius;
};

// a·x + b·y + c·z + d >= 0 is the inner side.
struct Plane {
    float a, b, c, d;
};

// Eight corners; the box tests read min x/y/z from corner 0, max x from
// corner 1, max y from corner 2 and max z from corner 6.
struct Box3 {
    Vector3 Corner[8];
};

#pragma pack(pop)

static_assert(sizeof(Vector3) == 12, "Vector3 is three packed floats");
static_assert(sizeof(Sphere3) == 16 && offsetof(Sphere3, Radius) == 12, "Sphere3 layout");
static_assert(sizeof(Plane) == 16, "Plane layout");
static_assert(sizeof(Box3) == 96, "Box3 layout");

#endif
