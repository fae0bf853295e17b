// zqcontent: writes the game's content from source, group by group, with a
// progress line each, then the pack list for tmfpack and the contact sheet.
//   zqcontent --out DIR --fonts DIR [--only TEXT]
//     DIR/files/...     the files, by container name (backslashes as folders)
//     DIR/data.list     "NAME<TAB>FILE" lines for tmfpack pack -l, in group order
//     DIR/*.png         sheets for people
//   zqcontent --names   every container name the groups declare, one a line
#include "content.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <set>

namespace fs = std::filesystem;

static int CG_Usage()
{
    fprintf(stderr, "usage: zqcontent --out DIR --fonts DIR [--only TEXT]\n       zqcontent --names\n");
    return 2;
}

int main(int argc, char** argv)
{
    std::string out, fonts, only;
    bool names = false;
    for (int i = 1; i < argc; i++) {
        std::string a = argv[i];
        if (a == "--names")
            names = true;
        else if ((a == "--out" || a == "--fonts" || a == "--only") && i + 1 < argc)
            (a == "--out" ? out : a == "--fonts" ? fonts : only) = argv[++i];
        else
            return CG_Usage();
    }
    if (names) {
        for (int g = 0; g < CG_GROUP_COUNT; g++)
            for (const std::string& n : CG_GROUPS[g].Names())
                printf("%s\n", n.c_str());
        return 0;
    }
    if (out.empty() || fonts.empty())
        return CG_Usage();

    CgFonts faces;
    std::string error = CgLoadFonts(fonts, &faces);
    if (!error.empty()) {
        fprintf(stderr, "zqcontent: %s\n", error.c_str());
        return 1;
    }
    // The files folder is ours alone: emptied so that nothing stale is packed.
    std::error_code ec;
    fs::remove_all(fs::path(out) / "files", ec);
    fs::create_directories(fs::path(out) / "files", ec);
    CgSink sink((fs::path(out) / "files").string(), faces);

    auto start = std::chrono::steady_clock::now();
    int failed = 0;
    for (int g = 0; g < CG_GROUP_COUNT; g++) {
        const CgGroup& group = CG_GROUPS[g];
        if (!only.empty() && !strstr(group.Name, only.c_str()))
            continue;
        auto t0 = std::chrono::steady_clock::now();
        size_t first = sink.Files.size(), errors = sink.Errors.size();
        group.Build(sink);
        // The group writes exactly what it declares.
        std::vector<std::string> declared = group.Names();
        std::set<std::string> want(declared.begin(), declared.end()), got;
        size_t bytes = 0;
        for (size_t i = first; i < sink.Files.size(); i++) {
            got.insert(sink.Files[i].Name);
            bytes += sink.Files[i].Bytes;
            if (!want.count(sink.Files[i].Name))
                sink.Errors.push_back(std::string(group.Name) + ": wrote undeclared " + sink.Files[i].Name);
        }
        for (const std::string& n : declared)
            if (!got.count(n))
                sink.Errors.push_back(std::string(group.Name) + ": did not write " + n);
        double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        printf("zqcontent: [%d/%d] %-22s %3zu files %9.1f KB %6.2f s\n", g + 1, CG_GROUP_COUNT, group.Name,
               sink.Files.size() - first, bytes / 1024.0, s);
        fflush(stdout);
        for (size_t e = errors; e < sink.Errors.size(); e++, failed++)
            fprintf(stderr, "zqcontent: %s\n", sink.Errors[e].c_str());
    }
    if (failed)
        return 1;

    // The pack list, in group order; paths relative to the list's folder.
    std::string list = "# written by zqcontent: container name <TAB> file\n";
    for (const CgSink::Written& w : sink.Files)
        list += w.Name + "\tfiles/" + w.Path + "\n";
    sink.Report("data.list", CgBytes(list.begin(), list.end()));
    sink.Report("contact_sheet.png", CgContactSheet(sink));
    for (const std::string& e : sink.Errors)
        fprintf(stderr, "zqcontent: %s\n", e.c_str());
    double total = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    printf("zqcontent: %zu files, %zu pictures on the contact sheet, %.2f s\n", sink.Files.size(), sink.Thumbs.size(),
           total);
    return sink.Errors.empty() ? 0 : 1;
}
