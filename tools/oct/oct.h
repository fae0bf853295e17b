// Building ".oct" AABB octree images for a level object on the host. The
// record layouts and the soundness check are the engine's own (zoctfile.h);
// objects are read with the o3d library. Every operation returns an empty
// string on success and a one-line error otherwise.
#ifndef TOOLS_OCT_H
#define TOOLS_OCT_H

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "o3d.h"
#include "zoctfile.h"

struct OctOptions {
    uint32_t MaxFaces = 48;                 // a leaf holds at most this many faces...
    uint32_t MaxDepth = 10;                 // ...unless it is this deep (at most ZOCT_MAX_DEPTH - 2)
    std::vector<uint32_t> DrawnOnly;        // materials whose faces never collide: face list 2, see-through
    std::vector<uint32_t> SeeThrough;       // materials that collide but hide nothing (glass, grates)

    // Number the faces leaf by leaf (nearby leaves get nearby numbers): the
    // engine's face range per pass stays short. The ".oct" then belongs to
    // the renumbered object OctBuild hands back, which must be written too.
    bool Renumber = false;

    bool Pvs = false;
    float Spacing = 0;                      // of the camera and target samples; 0: the largest extent / 48
    float CameraRadius = 1;                 // written at least Spacing * sqrt(3) / 2
    std::vector<Vector3> CameraAt;          // points the camera can reach; none: everywhere counts
    unsigned Threads = 0;                   // 0: one per processor
    FILE* Progress = nullptr;               // a line every few seconds while the PVS is computed
};

struct OctSummary {
    uint32_t Nodes = 0;                     // interior node records (one per box)
    uint32_t Leaves = 0;
    uint32_t MaxDepth = 0;
    double FacesPerLeaf = 0;                // mean of both lists together
    uint32_t MaxFacesPerLeaf = 0;
    uint32_t Cells = 0;
    double VisiblePerCell = 0;              // mean length of the visible-cell lists
    uint32_t CameraPoints = 0;              // reachable sample points the PVS looked from
    float Spacing = 0;
    float CameraRadius = 0;
    double Seconds = 0;
};

// Builds the image for the object's first frame (the engine draws, lights
// and collides with those vertices). With options.Renumber, `renumbered`
// receives the object with its faces in the image's order (the same faces,
// materials and mappings; the vertices untouched).
std::string OctBuild(const O3dObject& object, const OctOptions& options, std::vector<uint8_t>* image,
                     OctSummary* summary, O3dObject* renumbered = nullptr);

// The summary as the builder prints it, a few lines.
std::string OctDescribe(const OctSummary& s);

#endif
