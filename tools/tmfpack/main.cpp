// tmfpack: builds ".tmf" master-file containers and looks inside them.
#include "tmf.h"

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

static const char* USAGE =
    "usage: tmfpack pack [-w WIDTH] OUT.tmf INPUT...\n"
    "         INPUT is a FOLDER (every file, named by its path with backslashes),\n"
    "         NAME=FILE, or -l LIST (lines NAME<TAB>FILE)\n"
    "         -w WIDTH: bytes of every name field, 2..256 (default: longest name + 1)\n"
    "         entries follow the inputs' order, a folder's files sorted by name;\n"
    "         the same inputs always give the same bytes\n"
    "       tmfpack list IN.tmf\n"
    "       tmfpack extract IN.tmf NAME [OUT|-]\n"
    "       tmfpack unpack IN.tmf FOLDER\n";

static int Fail(const std::string& error)
{
    fprintf(stderr, "tmfpack: %s\n", error.c_str());
    return 1;
}

static int Usage()
{
    fputs(USAGE, stderr);
    return 2;
}

static int Pack(int argc, char** argv)
{
    uint32_t field = 0;
    int i = 0;
    std::string out;
    std::vector<TmfInput> inputs;
    std::vector<std::string> rest;
    for (; i < argc; i++) {
        std::string a = argv[i];
        if (a == "-w" || a == "-l") {
            if (i + 1 >= argc)
                return Usage();
            std::string v = argv[++i];
            if (a == "-w") {
                char* end = nullptr;
                unsigned long w = strtoul(v.c_str(), &end, 10);
                if (v.empty() || *end || w < 2 || w > ZTMF_NAME_FIELD_MAX)
                    return Fail("-w " + v + ": the name field is 2 to 256 bytes");
                field = (uint32_t)w;
            } else {
                rest.push_back("\x01" + v);   // list files are read in argument order
            }
        } else {
            rest.push_back(a);
        }
    }
    if (rest.size() < 2)
        return Usage();
    out = rest[0];
    for (size_t k = 1; k < rest.size(); k++) {
        const std::string& a = rest[k];
        std::string error;
        if (a[0] == '\x01') {
            error = TmfReadList(a.substr(1), &inputs);
        } else if (a.find('=') != std::string::npos) {
            TmfInput in;
            error = TmfParsePair(a, &in);
            inputs.push_back(in);
        } else {
            std::error_code ec;
            if (!std::filesystem::is_directory(a, ec))
                error = "missing input " + ("'" + a + "'") + " (neither a folder nor NAME=FILE)";
            else
                error = TmfCollectTree(a, out, &inputs);
        }
        if (!error.empty())
            return Fail(error);
    }
    TmfSummary s;
    std::string error = TmfWrite(out, inputs, field, &s);
    if (!error.empty())
        return Fail(error);
    printf("tmfpack: %s: %" PRIu32 " file%s, %" PRIu64 " bytes of data, %" PRIu64 " bytes written\n", out.c_str(),
           s.Files, s.Files == 1 ? "" : "s", s.DataBytes, s.ContainerBytes);
    return 0;
}

static int List(const char* container)
{
    TmfDirectory dir;
    std::string error = TmfReadDirectory(container, &dir);
    if (!error.empty())
        return Fail(error);
    uint64_t data = 0;
    int outside = 0;
    printf("%10s %10s  name\n", "offset", "size");
    for (const TmfEntry& e : dir.Entries) {
        printf("%10" PRIu32 " %10" PRIu32 "  %s%s\n", e.Offset, e.Size, e.Name.c_str(),
               e.Inside ? "" : "  (outside the file)");
        data += e.Size;
        outside += !e.Inside;
    }
    char format[32];
    snprintf(format, sizeof(format), "format %" PRIu32, dir.Version);
    printf("%s: %zu file%s, %" PRIu64 " bytes of data, %" PRIu64 " bytes, name field %u bytes, %s\n", container,
           dir.Entries.size(), dir.Entries.size() == 1 ? "" : "s", data, dir.FileBytes, dir.NameWidth + 1u,
           dir.Signed ? format : "no tmfpack signature");
    if (outside)
        return Fail(std::to_string(outside) + " entries point outside the file");
    return 0;
}

int main(int argc, char** argv)
{
    if (argc < 2)
        return Usage();
    std::string action = argv[1];
    if (action == "pack")
        return Pack(argc - 2, argv + 2);
    if (action == "list" && argc == 3)
        return List(argv[2]);
    if (action == "extract" && (argc == 4 || argc == 5)) {
        std::string name = argv[3];
        std::string out;
        if (argc == 5) {
            out = argv[4];
        } else {
            size_t cut = name.find_last_of("\\/");
            out = cut == std::string::npos ? name : name.substr(cut + 1);
        }
        std::string error = TmfExtract(argv[2], name, out);
        return error.empty() ? 0 : Fail(error);
    }
    if (action == "unpack" && argc == 4) {
        uint32_t files = 0;
        std::string error = TmfUnpack(argv[2], argv[3], &files);
        if (!error.empty())
            return Fail(error);
        printf("tmfpack: %s: %" PRIu32 " files unpacked\n", argv[3], files);
        return 0;
    }
    return Usage();
}
