// Builder time of the generated 20,000-face level of rooms and corridors,
// without and with the PVS; writes the level (its faces numbered leaf by
// leaf, as the game's is) and both octrees for bench_oct (under Wine).
// "--quick": a small level, nothing written (the test suite's smoke run).
// Usage: bench_octbuild [--quick] [DIR]
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "oct_level.h"

int main(int argc, char** argv)
{
    const bool quick = argc > 1 && strcmp(argv[1], "--quick") == 0;
    const std::string dir = argc > 1 + quick ? argv[1 + quick] : ZQ_BENCH_OCT;
    OctLevel level;
    level.RoomsX = quick ? 2 : 5;
    level.RoomsZ = quick ? 1 : 5;
    level.Step = quick ? 4 : 3.3f;
    // Numbered leaf by leaf by the first build, as octbuild --renumber and
    // the game's content do; the second build keeps that order.
    O3dObject object = level.Build();
    printf("bench_octbuild: %dx%d rooms, %zu faces\n", level.RoomsX, level.RoomsZ, object.Faces.size());
    double seconds[2] = {0, 0};
    for (int pvs = 0; pvs < 2; pvs++) {
        std::vector<uint8_t> image;
        OctSummary s;
        OctOptions o = level.Options(pvs);
        o.Progress = stderr;
        o.Renumber = true;
        const std::string error = OctBuild(object, o, &image, &s, &object);
        if (!error.empty()) {
            fprintf(stderr, "bench_octbuild: %s\n", error.c_str());
            return 1;
        }
        seconds[pvs] = s.Seconds;
        printf("%s PVS: %zu bytes\n%s", pvs ? "with" : "without", image.size(), OctDescribe(s).c_str());
        std::error_code ec;
        if (!quick)
            std::filesystem::create_directories(dir, ec);
        const std::string written = quick ? "" : O3dWriteFile(dir + (pvs ? "/rooms_pvs.oct" : "/rooms.oct"), image);
        if (!written.empty()) {   // bench_oct would run on what an earlier run left
            fprintf(stderr, "bench_octbuild: %s\n", written.c_str());
            return 1;
        }
    }
    const std::string written = quick ? "" : O3dWriteObject(dir + "/rooms.3do", object);
    if (!written.empty()) {
        fprintf(stderr, "bench_octbuild: %s\n", written.c_str());
        return 1;
    }
    printf("builder: %.3f s without PVS, %.1f s with (%.0fx)\n", seconds[0], seconds[1],
           seconds[1] / std::max(seconds[0], 1e-6));
    return 0;
}
