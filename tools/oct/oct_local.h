// Internals of the octree builder: double-precision geometry, the tree as
// built before it is laid out, and the visibility step.
#ifndef TOOLS_OCT_LOCAL_H
#define TOOLS_OCT_LOCAL_H

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "oct.h"

struct D3 {
    double x, y, z;
    double& operator[](int i) { return i == 0 ? x : i == 1 ? y : z; }
    double operator[](int i) const { return i == 0 ? x : i == 1 ? y : z; }
};
static inline D3 operator+(D3 a, D3 b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
static inline D3 operator-(D3 a, D3 b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
static inline D3 operator*(D3 a, double s) { return {a.x * s, a.y * s, a.z * s}; }
static inline double Dot(D3 a, D3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
static inline D3 Cross(D3 a, D3 b) { return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x}; }

struct DBox {
    D3 Min, Max;
    bool Touches(const DBox& o, double eps) const
    {
        for (int k = 0; k < 3; k++)
            if (Min[k] > o.Max[k] + eps || o.Min[k] > Max[k] + eps)
                return false;
        return true;
    }
    bool Contains(D3 p) const
    {
        for (int k = 0; k < 3; k++)
            if (p[k] < Min[k] || p[k] > Max[k])
                return false;
        return true;
    }
};

struct Tri {
    D3 V[3];
};

// Triangle against a closed box grown by `eps` on every side (separating axes).
bool OCT_TriTouchesBox(const Tri& t, const DBox& box, double eps);
// The part of a triangle inside a box (a convex polygon, maybe empty).
std::vector<D3> OCT_ClipToBox(const Tri& t, const DBox& box);

// The tree as built: a node is a box with children or a leaf with lists.
struct BuildNode {
    DBox Box;
    DBox Tight;                           // leaves: the part of the cell their faces occupy
    bool Leaf = false;
    std::vector<uint32_t> List1, List2;   // ascending face numbers
    std::vector<uint32_t> Children;       // indices into the node vector
    uint32_t Cell = 0;                    // leaves, in layout order
    std::vector<uint32_t> Visible;        // ascending cell ids
};

struct PvsInput {
    const std::vector<Tri>* Tris;
    const std::vector<uint8_t>* Occludes;   // per face: hides what lies behind it
    std::vector<BuildNode>* Nodes;
    std::vector<uint32_t> LeafOf;           // cell id -> node index
    DBox Root;
};

// Fills every leaf's visible-cell list; the spacing, camera radius and
// camera points used go to the summary.
std::string OCT_ComputePvs(PvsInput& in, const OctOptions& options, OctSummary* summary);

#endif
