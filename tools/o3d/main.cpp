// o3ddump: prints what a ".3do" object or a ".material" file holds, refuses
// damaged files with the engine's own reason, and can draw a frame's edges
// into a PNG.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "o3d.h"

static int Usage()
{
    fprintf(stderr,
            "usage: o3ddump FILE.3do [--png OUT.png] [--frame N] [--view front|top|side] [--size PIXELS]\n"
            "       o3ddump FILE.material\n"
            "Prints the header, counts, bounds per frame and materials of an object, or the\n"
            "records of a material file; a damaged file is refused (exit code 1).\n"
            "--png draws the edges of a frame (default: the current one) seen from the front\n"
            "(x-y), the top (x-z) or the side (z-y), fitted into a square of --size pixels (256).\n");
    return 2;
}

static bool EndsWith(const std::string& s, const char* tail)
{
    const size_t n = strlen(tail);
    if (s.size() < n)
        return false;
    for (size_t i = 0; i < n; i++)
        if (tolower((unsigned char)s[s.size() - n + i]) != tail[i])
            return false;
    return true;
}

static const char* TypeName(uint32_t type)
{
    switch (type) {
    case ZO3D_MAT_TEXTURED: return "textured";
    case ZO3D_MAT_COLORED: return "coloured";
    case ZO3D_MAT_TEXTURED_2D: return "textured pre-transformed";
    case ZO3D_MAT_COLORED_2D: return "coloured pre-transformed";
    default: return "none";
    }
}

static void DumpObject(const std::vector<uint8_t>& image, const O3dObject& o)
{
    ZO3D_HEADER h;
    memcpy(&h, image.data(), sizeof(h));
    printf("name        \"%s\"\n", o.Name.c_str());
    printf("version     0x%X%s\n", h.Version, h.Version < ZO3D_VERSION ? " (corners stored as byte offsets)" : "");
    printf("size        %u bytes\n", h.ImageSize);
    printf("position    %g %g %g\n", h.Position.x, h.Position.y, h.Position.z);
    printf("angles      %g %g %g\n", h.Angles.x, h.Angles.y, h.Angles.z);
    printf("frame       %u of %u, factor %g\n", h.Frame, h.FrameCount, h.Factor);
    size_t seconds = 0;
    for (const O3dFace& f : o.Faces)
        seconds += f.HasSecondMap;
    printf("vertices    %u per frame\n", h.VertexCount);
    printf("faces       %u (%zu with a second mapping)\n", h.FaceCount, seconds);
    printf("materials   %u%s\n", h.MaterialCount, h.MaterialCount ? "" : " (the engine adds a spare one)");
    for (size_t r = 0; r < o.Frames.size(); r++) {
        float lo[3] = {INFINITY, INFINITY, INFINITY}, hi[3] = {-INFINITY, -INFINITY, -INFINITY};
        for (const Vector3& v : o.Frames[r].Vertices) {
            const float p[3] = {v.x, v.y, v.z};
            for (int k = 0; k < 3; k++) {
                lo[k] = fminf(lo[k], p[k]);
                hi[k] = fmaxf(hi[k], p[k]);
            }
        }
        if (o.Frames[r].Vertices.empty())
            printf("frame %-5zu no vertices\n", r);
        else
            printf("frame %-5zu min %g %g %g  max %g %g %g\n", r, lo[0], lo[1], lo[2], hi[0], hi[1], hi[2]);
    }
    for (size_t i = 0; i < o.Materials.size(); i++) {
        const ZO3D_MATERIAL& m = o.Materials[i];
        size_t used = 0;
        for (const O3dFace& f : o.Faces)
            used += f.Material == i;
        printf("material %-3zu %s, flags %s, textures 0x%X 0x%X 0x%X, colours 0x%08X 0x%08X 0x%08X, %zu faces\n", i,
               TypeName(m.Type), O3dFlagNames(m.Flags).c_str(), m.Texture1, m.Texture2, m.Texture3, m.Color[0],
               m.Color[1], m.Color[2], used);
    }
}

static void DumpMaterials(const std::vector<O3dMaterialRecord>& records)
{
    printf("records     %zu\n", records.size());
    for (size_t i = 0; i < records.size(); i++) {
        const O3dMaterialRecord& r = records[i];
        printf("record %zu: type %u (%s), flags %s\n", i, r.Type,
               r.Type == 1 || r.Type == 2 ? TypeName(r.Type) : "skipped by the engine", O3dFlagNames(r.Flags).c_str());
        const struct { const char* Label; const std::string& Name; } names[] = {
            {"texture 1", r.Texture1}, {"texture 2", r.Texture2}, {"texture 4", r.Texture4},
            {"bump map", r.BumpMap}, {"texture 5", r.Texture5}, {"vertex shader", r.VertexShader},
            {"pixel shader", r.PixelShader},
        };
        for (const auto& n : names)
            if (!n.Name.empty())
                printf("  %-14s%s\n", n.Label, n.Name.c_str());
        if (r.AlphaTexture)
            printf("  alpha texture, alpha %u\n", r.Alpha);
        if (r.ColorKeyOn)
            printf("  colour key 0x%08X\n", r.ColorKey);
        if (r.Type == ZO3D_MAT_COLORED)
            printf("  colours 0x%08X 0x%08X 0x%08X\n", r.Color[0], r.Color[1], r.Color[2]);
        if (!r.Constants.empty() || !r.Constants2.empty())
            printf("  shader constants set: %zu + %zu\n", r.Constants.size(), r.Constants2.size());
    }
}

int main(int argc, char** argv)
{
    std::string file, png;
    long frame = -1, size = 256;
    char axis = 'z';
    for (int i = 1; i < argc; i++) {
        std::string a = argv[i];
        auto value = [&](const char* option) -> const char* {
            if (i + 1 >= argc) {
                fprintf(stderr, "o3ddump: %s needs a value\n", option);
                exit(2);
            }
            return argv[++i];
        };
        if (a == "--png") png = value("--png");
        else if (a == "--frame") frame = strtol(value("--frame"), nullptr, 10);
        else if (a == "--size") size = strtol(value("--size"), nullptr, 10);
        else if (a == "--view") {
            std::string v = value("--view");
            if (v == "front") axis = 'z';
            else if (v == "top") axis = 'y';
            else if (v == "side") axis = 'x';
            else return Usage();
        } else if (a == "-h" || a == "--help") return Usage();
        else if (file.empty() && a[0] != '-') file = a;
        else return Usage();
    }
    if (file.empty())
        return Usage();
    std::vector<uint8_t> bytes;
    std::string err = O3dReadFile(file, &bytes);
    if (err.empty() && EndsWith(file, ".material")) {
        std::vector<O3dMaterialRecord> records;
        err = O3dParseMaterials(bytes, &records);
        if (err.empty())
            DumpMaterials(records);
    } else if (err.empty()) {
        O3dObject o;
        err = O3dParseImage(bytes, &o);
        if (err.empty()) {
            DumpObject(bytes, o);
            if (!png.empty())
                err = O3dRenderPng(o, frame < 0 ? o.Frame : (uint32_t)frame, axis, (uint32_t)size, png);
        }
    }
    if (!err.empty()) {
        fprintf(stderr, "o3ddump: %s: %s\n", file.c_str(), err.c_str());
        return 1;
    }
    return 0;
}
