// Writes the inputs of the files round trip: a folder tree to be packed by
// tmfpack, a list of pairs, and source images for ImageMagick's PCX encoder.
// Deterministic: the same bytes on every run.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace fs = std::filesystem;

static uint32_t seed = 12345;
static uint8_t Next()
{
    seed = seed * 1103515245u + 12345u;
    return (uint8_t)(seed >> 16);
}

static bool Write(const fs::path& path, const std::vector<uint8_t>& bytes)
{
    fs::create_directories(path.parent_path());
    FILE* f = fopen(path.string().c_str(), "wb");
    if (!f)
        return false;
    bool ok = fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return fclose(f) == 0 && ok;
}

static std::vector<uint8_t> Noise(size_t n)
{
    std::vector<uint8_t> v(n);
    for (auto& b : v)
        b = Next();
    return v;
}

// A P6 image of at most 256 colours: bands of solid colour (long runs), a
// noisy block (short runs and bytes >= 0xC0 after quantisation) and a ramp.
static std::vector<uint8_t> Image(int w, int h, int colours)
{
    std::vector<uint8_t> rgb(colours * 3);
    for (auto& b : rgb)
        b = Next();
    std::string head = "P6\n" + std::to_string(w) + " " + std::to_string(h) + "\n255\n";
    std::vector<uint8_t> out(head.begin(), head.end());
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) {
            int c;
            if (y < h / 3)
                c = (y / 7) % colours;
            else if (x < w / 2)
                c = Next() % colours;
            else
                c = (x + y) % colours;
            out.insert(out.end(), &rgb[c * 3], &rgb[c * 3] + 3);
        }
    return out;
}

int main(int argc, char** argv)
{
    if (argc != 2) {
        fprintf(stderr, "usage: make_fixtures FOLDER\n");
        return 2;
    }
    fs::path out = argv[1];
    fs::path tree = out / "tree";
    fs::remove_all(tree);
    struct Item { const char* Path; size_t Size; };
    const Item items[] = {
        {"data/soldier/soldier.3do", 70001},
        {"data/Mixed/CaseName.Bin", 4099},
        {"data/empty.bin", 0},
        {"data/one.bin", 1},
        {"data/big.bin", 1536 * 1024 + 7},
        {"top.txt", 12},
    };
    bool ok = true;
    for (const Item& it : items)
        ok = ok && Write(tree / it.Path, Noise(it.Size));
    // Enough entries that the directory spans several read chunks.
    for (int i = 0; i < 300; i++) {
        char name[64];
        snprintf(name, sizeof(name), "data/many/file_with_a_longer_name_%03d.dat", i);
        ok = ok && Write(tree / name, Noise(i * 3));
    }

    // Pairs: names unrelated to the files' paths, one at the full width of
    // a 64-byte name field.
    FILE* list = fopen((out / "pairs.list").string().c_str(), "wb");
    ok = ok && list;
    if (list) {
        fprintf(list, "# name<TAB>file, relative to this list\n");
        fprintf(list, "Pair\\One.dat\ttree/top.txt\n");
        fprintf(list, "pair\\two\\SOLDIER.3DO\ttree/data/soldier/soldier.3do\n");
        fprintf(list, "%s\ttree/data/one.bin\n", std::string(63, 'x').c_str());
        fprintf(list, "nothing\ttree/data/empty.bin\n");
        ok = fclose(list) == 0 && ok;
    }

    ok = ok && Write(out / "image1.ppm", Image(320, 200, 256));
    ok = ok && Write(out / "image2.ppm", Image(37, 23, 61));
    if (!ok) {
        fprintf(stderr, "make_fixtures: cannot write under %s\n", out.string().c_str());
        return 1;
    }
    return 0;
}
