// Writes the octree fixtures with the host builder: the generated level of
// rooms and corridors as "rooms.3do", its octree without ("rooms.oct") and
// with a PVS ("rooms_pvs.oct"). Usage: zq_oct_fixtures DIR [rooms-x rooms-z step]
// (the benchmark asks for a bigger level).
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/stat.h>

#include "oct_level.h"

int main(int argc, char** argv)
{
    if (argc != 2 && argc != 5) {
        fprintf(stderr, "usage: zq_oct_fixtures DIR [ROOMS-X ROOMS-Z STEP]\n");
        return 2;
    }
    const std::string dir = argv[1];
    mkdir(dir.c_str(), 0777);
    OctLevel level;
    if (argc == 5) {
        level.RoomsX = atoi(argv[2]);
        level.RoomsZ = atoi(argv[3]);
        level.Step = (float)atof(argv[4]);
    }
    const O3dObject object = level.Build();
    std::string error = O3dWriteObject(dir + "/rooms.3do", object);
    for (int pvs = 0; pvs < 2 && error.empty(); pvs++) {
        std::vector<uint8_t> image;
        OctSummary s;
        error = OctBuild(object, level.Options(pvs), &image, &s);
        if (error.empty())
            error = O3dWriteFile(dir + (pvs ? "/rooms_pvs.oct" : "/rooms.oct"), image);
        printf("%s: %zu faces\n%s", pvs ? "rooms_pvs.oct" : "rooms.oct", object.Faces.size(), OctDescribe(s).c_str());
    }
    if (!error.empty()) {
        fprintf(stderr, "zq_oct_fixtures: %s\n", error.c_str());
        return 1;
    }
    return 0;
}
