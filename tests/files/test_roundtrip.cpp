// Containers written natively by tmfpack and PCX files written by
// ImageMagick, read back by the engine.
#include "files_util.h"
#include "zarquel.h"
#include "zqtest.h"

#include <cstdio>
#include <cstring>

namespace {

std::string Fixture(const std::string& name)
{
    return std::string(ZQ_FILES_FIXTURES) + "/" + name;
}

class RoundTrip : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (GetFileAttributesA(Fixture("tree.tmf").c_str()) == INVALID_FILE_ATTRIBUTES)
            FAIL() << "fixtures missing in " << ZQ_FILES_FIXTURES << ": build the host tree first (scripts/zq build)";
        z = new CZarquel;
        ASSERT_NE(z->Mem->InitHeap(16 << 20), 0);
        x = z->Xfs;
    }
    void TearDown() override { delete z; }

    // Loads `name` as every loader does: open, size, read whole, close.
    std::string Load(const std::string& name)
    {
        unsigned long h = x->OpenFile(name.c_str());
        EXPECT_TRUE(h & ZXFS_CONTAINER_HANDLE) << name << " not served from the container";
        unsigned long size = x->GetFileSize(h);
        std::string s(size, '\0');
        EXPECT_EQ(x->ReadFile(h, &s[0], size), size);
        x->CloseFile(h);
        return s;
    }

    CZarquel* z = nullptr;
    CZXfs* x = nullptr;
};

// (name, host path) pairs of a pairs list, host paths made Windows paths.
std::vector<std::pair<std::string, std::string>> Pairs()
{
    std::vector<std::pair<std::string, std::string>> out;
    std::string list = ZQ_ReadFile(Fixture("pairs.list").c_str());
    size_t at = 0;
    while (at < list.size()) {
        size_t end = list.find('\n', at);
        std::string line = list.substr(at, end - at);
        at = end == std::string::npos ? list.size() : end + 1;
        size_t tab = line.find('\t');
        if (line.empty() || line[0] == '#' || tab == std::string::npos)
            continue;
        out.push_back({line.substr(0, tab), Fixture(line.substr(tab + 1))});
    }
    return out;
}

struct Ppm {
    int W = 0, H = 0;
    std::string Rgb;
};

Ppm ReadPpm(const std::string& path)
{
    Ppm p;
    std::string s = ZQ_ReadFile(path.c_str());
    int maxval = 0, used = 0;
    if (sscanf(s.c_str(), "P6 %d %d %d%n", &p.W, &p.H, &maxval, &used) == 3)
        p.Rgb = s.substr(used + 1);
    return p;
}

}  // namespace

TEST_F(RoundTrip, EveryFileOfAPackedTreeByteForByte)
{
    x->OpenMasterFile(Fixture("tree.tmf").c_str());
    ASSERT_EQ(x->MasterOpen, 1);
    ASSERT_EQ(x->EntryCount, 306u);
    // Names are the tree's paths with backslashes; the disk copy is found by
    // the same name under the tree folder.
    const char* names[] = {"data\\soldier\\soldier.3do", "DATA\\MIXED\\casename.bin", "data\\empty.bin",
                           "data\\one.bin", "data\\big.bin", "top.txt"};
    for (const char* name : names) {
        std::string disk = ZQ_ReadFile((Fixture("tree") + "\\" + name).c_str());
        std::string packed = Load(name);
        EXPECT_EQ(packed.size(), disk.size()) << name;
        EXPECT_TRUE(packed == disk) << name;
    }
    for (int i = 0; i < 300; i++) {
        char name[64];
        snprintf(name, sizeof(name), "data\\many\\file_with_a_longer_name_%03d.dat", i);
        std::string packed = Load(name);
        ASSERT_EQ(packed.size(), (size_t)i * 3) << name;
        ASSERT_TRUE(packed == ZQ_ReadFile((Fixture("tree") + "\\" + name).c_str())) << name;
    }
    EXPECT_EQ(x->ContainerOpens, 306u);
    EXPECT_EQ(x->DiskOpens, 0u);
}

TEST_F(RoundTrip, PairsWithAFixedNameField)
{
    x->OpenMasterFile(Fixture("pairs.tmf").c_str());
    ASSERT_EQ(x->NameWidth, 63);
    auto pairs = Pairs();
    ASSERT_EQ(pairs.size(), 4u);
    for (const auto& p : pairs)
        EXPECT_TRUE(Load(p.first) == ZQ_ReadFile(p.second.c_str())) << p.first;
}

TEST_F(RoundTrip, ImageMagickPcxDecodesToTheSourceColours)
{
    z->Fsf->Init(0x200000);
    x->OpenMasterFile(Fixture("images.tmf").c_str());
    struct { const char* Name; const char* Source; } images[] = {
        {"data\\layout.pcx", "image1.ppm"},
        {"DATA\\SHADOW.PCX", "image2.ppm"},
    };
    for (const auto& img : images) {
        Ppm src = ReadPpm(Fixture(img.Source));
        ASSERT_EQ(src.Rgb.size(), (size_t)src.W * src.H * 3) << img.Source;
        uint8_t palette[ZFSF_PALETTE_BYTES];
        unsigned long n = z->Fsf->ReadPcxFile(img.Name, nullptr, palette);
        ASSERT_EQ(n % src.H, 0u) << img.Name;
        unsigned long stride = n / src.H;
        ASSERT_GE(stride, (unsigned long)src.W) << img.Name;
        std::vector<uint8_t> pixels(n);
        ASSERT_EQ(z->Fsf->ReadPcxFile(img.Name, pixels.data(), palette), 0u);
        int wrong = 0;
        for (int y = 0; y < src.H; y++)
            for (int x0 = 0; x0 < src.W; x0++) {
                const uint8_t* rgb = (const uint8_t*)&src.Rgb[(y * src.W + x0) * 3];
                const uint8_t* pal = &palette[pixels[y * stride + x0] * 3];
                for (int c = 0; c < 3; c++)
                    wrong += pal[c] != rgb[c] >> 2;
            }
        EXPECT_EQ(wrong, 0) << img.Name;
    }
    EXPECT_EQ(z->Fsf->PcxShortData, 0u);
    EXPECT_EQ(z->Fsf->PcxNoPalette, 0u);
}
