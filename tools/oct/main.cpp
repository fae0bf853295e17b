// octbuild: turns a level object (".3do") into an ".oct" AABB octree, with
// an optional potentially visible set, and prints a summary.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "oct.h"

static int Usage()
{
    fprintf(stderr,
            "usage: octbuild IN.3do OUT.oct [options]\n"
            "  --max-faces N       a leaf holds at most N faces (48) ...\n"
            "  --max-depth N       ... unless it is N levels deep (10)\n"
            "  --drawn-only M,...  faces of these materials (indices) are only drawn: they never\n"
            "                      collide (face list 2) and hide nothing\n"
            "  --see-through M,... faces of these materials collide but hide nothing (glass, grates)\n"
            "  --pvs               compute the potentially visible set\n"
            "  --spacing S         PVS sample spacing in level units (largest extent / 48)\n"
            "  --camera-radius R   written at least spacing * sqrt(3) / 2 (1)\n"
            "  --camera-at X,Y,Z   a point the camera can reach (repeatable); the PVS looks only\n"
            "                      from where the camera gets from these without crossing a face;\n"
            "                      none: from everywhere\n"
            "  --threads N         worker threads of the PVS (one per processor)\n"
            "  --renumber OUT.3do  number the faces leaf by leaf (each pass of the engine then\n"
            "                      scans a short range of face numbers) and write the object so\n"
            "                      numbered to OUT.3do (may be IN.3do): OUT.oct belongs to it\n"
            "The same input and options always give the same bytes.\n");
    return 2;
}

static bool List(const char* text, std::vector<uint32_t>* out)
{
    for (const char* p = text; *p;) {
        char* end;
        const unsigned long v = strtoul(p, &end, 10);
        if (end == p || (*end && *end != ','))
            return false;
        out->push_back((uint32_t)v);
        p = *end ? end + 1 : end;
    }
    return true;
}

static bool Number(const char* text, double* out)
{
    char* end;
    *out = strtod(text, &end);
    return end != text && !*end;
}

int main(int argc, char** argv)
{
    if (argc < 3)
        return Usage();
    OctOptions o;
    o.Progress = stderr;
    std::string renumberTo;
    for (int i = 3; i < argc; i++) {
        const char* a = argv[i];
        const char* v = i + 1 < argc ? argv[i + 1] : nullptr;
        double d;
        if (!strcmp(a, "--pvs")) {
            o.Pvs = true;
            continue;
        }
        if (!v)
            return Usage();
        i++;
        if (!strcmp(a, "--max-faces") && Number(v, &d) && d >= 1)
            o.MaxFaces = (uint32_t)d;
        else if (!strcmp(a, "--max-depth") && Number(v, &d) && d >= 0)
            o.MaxDepth = (uint32_t)d;
        else if (!strcmp(a, "--drawn-only") && List(v, &o.DrawnOnly))
            ;
        else if (!strcmp(a, "--see-through") && List(v, &o.SeeThrough))
            ;
        else if (!strcmp(a, "--spacing") && Number(v, &d) && d > 0)
            o.Spacing = (float)d;
        else if (!strcmp(a, "--camera-radius") && Number(v, &d) && d >= 0)
            o.CameraRadius = (float)d;
        else if (!strcmp(a, "--threads") && Number(v, &d) && d >= 1)
            o.Threads = (unsigned)d;
        else if (!strcmp(a, "--renumber")) {
            o.Renumber = true;
            renumberTo = v;
        }
        else if (!strcmp(a, "--camera-at")) {
            Vector3 p;
            if (sscanf(v, "%f,%f,%f", &p.x, &p.y, &p.z) != 3)
                return Usage();
            o.CameraAt.push_back(p);
        } else {
            fprintf(stderr, "octbuild: bad option %s %s\n", a, v);
            return Usage();
        }
    }
    std::vector<uint8_t> bytes, image;
    O3dObject object;
    std::string error = O3dReadFile(argv[1], &bytes);
    if (error.empty())
        error = O3dParseImage(bytes, &object);
    if (!error.empty()) {
        fprintf(stderr, "octbuild: %s: %s\n", argv[1], error.c_str());
        return 1;
    }
    OctSummary s;
    O3dObject renumbered;
    error = OctBuild(object, o, &image, &s, &renumbered);
    if (error.empty())
        error = O3dWriteFile(argv[2], image);
    if (error.empty() && o.Renumber)
        error = O3dWriteObject(renumberTo, renumbered);
    if (!error.empty()) {
        fprintf(stderr, "octbuild: %s\n", error.c_str());
        return 1;
    }
    printf("%s: %zu faces, %zu bytes\n%s", argv[2], object.Faces.size(), image.size(), OctDescribe(s).c_str());
    return 0;
}
