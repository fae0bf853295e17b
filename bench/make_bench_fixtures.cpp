// Inputs of bench_files: 1,000 small files named as game assets are, list
// files of their first 100, 400 and 1,000, and one 10 MB file.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace fs = std::filesystem;

static uint32_t seed = 99;

static bool Write(const fs::path& path, size_t n)
{
    std::vector<uint8_t> bytes(n);
    for (auto& b : bytes) {
        seed = seed * 1664525u + 1013904223u;
        b = (uint8_t)(seed >> 24);
    }
    FILE* f = fopen(path.string().c_str(), "wb");
    if (!f)
        return false;
    bool ok = fwrite(bytes.data(), 1, n, f) == n;
    return fclose(f) == 0 && ok;
}

int main(int argc, char** argv)
{
    if (argc != 2) {
        fprintf(stderr, "usage: make_bench_fixtures FOLDER\n");
        return 2;
    }
    fs::path out = argv[1];
    fs::create_directories(out / "files");
    bool ok = true;
    for (int i = 0; i < 1000 && ok; i++) {
        char name[32];
        snprintf(name, sizeof(name), "f%04d.bin", i);
        ok = Write(out / "files" / name, 512 + (i * 37) % 3584);
    }
    for (int n : {100, 400, 1000}) {
        FILE* list = fopen((out / ("files" + std::to_string(n) + ".list")).string().c_str(), "wb");
        ok = ok && list;
        for (int i = 0; i < n && list; i++)
            fprintf(list, "data\\objects\\level%d\\asset_%04d.bin\tfiles/f%04d.bin\n", i % 7, i, i);
        if (list)
            ok = fclose(list) == 0 && ok;
    }
    ok = ok && Write(out / "big.bin", 10 * 1000 * 1000);
    if (!ok) {
        fprintf(stderr, "make_bench_fixtures: cannot write under %s\n", out.string().c_str());
        return 1;
    }
    return 0;
}
