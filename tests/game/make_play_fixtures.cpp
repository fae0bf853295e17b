// Writes the play fixtures with the host builders: "steps.3do" and its
// octree "steps.oct", a floor at height 0 (x and z from -40 to 40) with a
// ledge 0.3 high (x -12 to -4, z 4 to 12), one 0.35 high (x 4 to 12, z 4 to
// 12) and a wall 3 high across z 20 to 22 (x -4 to 4).
// Usage: bf04_play_fixtures DIR
#include <cstdio>
#include <string>
#include <sys/stat.h>

#include "oct_level.h"

static void Box(O3dObject* o, float x0, float z0, float x1, float z1, float top)
{
    OctLevel::Rect(o, {x0, top, z0}, {x1 - x0, 0, 0}, {0, 0, z1 - z0}, 2, 0);
    OctLevel::Rect(o, {x0, 0, z0}, {x1 - x0, 0, 0}, {0, top, 0}, 2, 0);
    OctLevel::Rect(o, {x0, 0, z1}, {x1 - x0, 0, 0}, {0, top, 0}, 2, 0);
    OctLevel::Rect(o, {x0, 0, z0}, {0, 0, z1 - z0}, {0, top, 0}, 2, 0);
    OctLevel::Rect(o, {x1, 0, z0}, {0, 0, z1 - z0}, {0, top, 0}, 2, 0);
}

int main(int argc, char** argv)
{
    if (argc != 2) {
        fprintf(stderr, "usage: bf04_play_fixtures DIR\n");
        return 2;
    }
    const std::string dir = argv[1];
    mkdir(dir.c_str(), 0777);
    O3dObject o;
    o.Name = "steps";
    o.Frames.resize(1);
    OctLevel::Rect(&o, {-40, 0, -40}, {80, 0, 0}, {0, 0, 80}, 4, 0);
    Box(&o, -12, 4, -4, 12, 0.3f);
    Box(&o, 4, 4, 12, 12, 0.35f);
    Box(&o, -4, 20, 4, 22, 3.0f);
    std::vector<uint8_t> image;
    OctSummary s;
    std::string error = O3dWriteObject(dir + "/steps.3do", o);
    if (error.empty())
        error = OctBuild(o, OctOptions(), &image, &s);
    if (error.empty())
        error = O3dWriteFile(dir + "/steps.oct", image);
    if (!error.empty()) {
        fprintf(stderr, "bf04_play_fixtures: %s\n", error.c_str());
        return 1;
    }
    return 0;
}
