// The host writer and reader of objects and material files, the shared
// soundness check against damaged images, and the o3ddump program.
#include "o3d.h"
#include "../scene/o3d_models.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

std::vector<uint8_t> Image(const O3dObject& o)
{
    std::vector<uint8_t> image;
    std::string err = O3dBuildImage(o, &image);
    EXPECT_EQ("", err);
    return image;
}

ZO3D_HEADER Header(const std::vector<uint8_t>& image)
{
    ZO3D_HEADER h;
    memcpy(&h, image.data(), sizeof(h));
    return h;
}

template <class T> void Poke(std::vector<uint8_t>* image, size_t at, T value)
{
    memcpy(image->data() + at, &value, sizeof(T));
}

std::string Why(const std::vector<uint8_t>& image)
{
    char why[ZO3D_WHY_BYTES];
    return ZO3D_CheckImage(image.data(), image.size(), why) ? "" : why;
}

bool SameVector(const Vector3& a, const Vector3& b)
{
    return a.x == b.x && a.y == b.y && a.z == b.z;
}

}  // namespace

TEST(O3dWriter, ObjectsReadBackAsWritten)
{
    const O3dObject in = O3dGrid(4, 5, 3, 3);
    const std::vector<uint8_t> image = Image(in);
    const ZO3D_HEADER h = Header(image);
    EXPECT_EQ(ZO3D_VERSION, h.Version);
    EXPECT_EQ(image.size(), h.ImageSize);
    EXPECT_EQ(30u, h.VertexCount);
    EXPECT_EQ(40u, h.FaceCount);
    EXPECT_EQ(3u, h.FrameCount);
    EXPECT_EQ(0u, h.Materials % 4) << "arrays stay 4-byte aligned";

    O3dObject out;
    ASSERT_EQ("", O3dParseImage(image, &out));
    EXPECT_EQ("grid", out.Name);
    EXPECT_EQ(1u, out.Frame);
    EXPECT_EQ(0.25f, out.Factor);
    for (size_t r = 0; r < 3; r++)
        for (size_t i = 0; i < 30; i++) {
            EXPECT_TRUE(SameVector(in.Frames[r].Vertices[i], out.Frames[r].Vertices[i]));
            EXPECT_TRUE(SameVector(in.Frames[r].Normals[i], out.Frames[r].Normals[i]));
        }
    // Modules: lengths of the current frame's (unit) normals.
    for (float m : out.Modules)
        EXPECT_NEAR(1.0f, m, 1e-6f);
    for (size_t f = 0; f < in.Faces.size(); f++) {
        EXPECT_EQ(0, memcmp(in.Faces[f].Vertex, out.Faces[f].Vertex, 12));
        EXPECT_EQ(0, memcmp(in.Faces[f].Map, out.Faces[f].Map, 24));
        EXPECT_EQ(in.Faces[f].Material, out.Faces[f].Material);
        EXPECT_EQ(in.Faces[f].HasSecondMap, out.Faces[f].HasSecondMap);
        if (in.Faces[f].HasSecondMap) {
            EXPECT_EQ(0, memcmp(in.Faces[f].SecondMap, out.Faces[f].SecondMap, 24));
        }
    }
    ASSERT_EQ(3u, out.Materials.size());
    EXPECT_EQ(ZO3D_SECONDMAP, out.Materials[1].Flags);
}

TEST(O3dWriter, OldVersionsStoreByteOffsetsAndEmptyMaterialsPointAtTheSpareRecord)
{
    O3dObject o = O3dQuad2();
    o.Version = 0x1002;
    std::vector<uint8_t> image = Image(o);
    ZO3D_FACE face;
    memcpy(&face, image.data() + Header(image).Faces, sizeof(face));
    EXPECT_EQ(0u, face.Vertex[0]);
    EXPECT_EQ(12u, face.Vertex[1]);
    EXPECT_EQ(24u, face.Vertex[2]);
    O3dObject back;
    ASSERT_EQ("", O3dParseImage(image, &back));
    EXPECT_EQ(2u, back.Faces[0].Vertex[2]);

    o.Materials.clear();
    image = Image(o);
    EXPECT_EQ(image.size(), Header(image).Materials);
    EXPECT_EQ("", Why(image));
}

TEST(O3dWriter, RefusesObjectsTheEngineWouldRefuse)
{
    std::vector<uint8_t> image;
    O3dObject o = O3dQuad2();
    o.Faces[1].Vertex[2] = 4;
    EXPECT_EQ("face 1 names vertex 4 of 4", O3dBuildImage(o, &image));
    o = O3dQuad2();
    o.Faces[0].Material = 1;
    EXPECT_EQ("face 0 names material 1 of 1", O3dBuildImage(o, &image));
    o = O3dQuad2();
    o.Frames[1].Normals.pop_back();
    EXPECT_NE("", O3dBuildImage(o, &image));
    o = O3dQuad2();
    o.Frame = 2;
    EXPECT_NE("", O3dBuildImage(o, &image));
    o.Frames.clear();
    o.Frame = 0;
    EXPECT_NE("", O3dBuildImage(o, &image));
    o = O3dQuad2();
    o.Name = "sixteen chars!!!";
    EXPECT_NE("", O3dBuildImage(o, &image));
}

// Each damage names what is wrong.
TEST(O3dCheck, DamagedImagesAreRefusedWithTheReason)
{
    const std::vector<uint8_t> good = Image(O3dGrid(2, 2, 2, 2));
    const ZO3D_HEADER h = Header(good);
    ASSERT_EQ("", Why(good));
    struct Case {
        size_t At;
        uint32_t Value;
        const char* Why;
    } const cases[] = {
        {offsetof(ZO3D_HEADER, ImageSize), h.ImageSize + 1, "the header says"},
        {offsetof(ZO3D_HEADER, Version), 0x1004, "unknown format version 0x1004"},
        {offsetof(ZO3D_HEADER, Frame), 2, "current frame 2 of 2 frames"},
        {offsetof(ZO3D_HEADER, FrameCount), 0, "current frame 1 of 0 frames"},
        {offsetof(ZO3D_HEADER, VertexCount), 0x40000000, "runs past the end"},
        {offsetof(ZO3D_HEADER, FaceCount), 1000, "face array at offset"},
        {offsetof(ZO3D_HEADER, Faces), h.ImageSize - 71, "face array"},
        {offsetof(ZO3D_HEADER, Materials), h.ImageSize - 47, "material array"},
        {offsetof(ZO3D_HEADER, FrameNormals), h.ImageSize, "frame normal table"},
        {h.FrameVertices + 4, h.ImageSize - 12, "frame 1 vertices"},
        {h.Faces + 4, 9, "face 0 corner 1 names vertex 9 of 9"},
        {h.Faces + 72 + 36, 2, "face 1 names material 2 of 2"},
        {h.Faces + 40, h.ImageSize - 20, "face 0 second mapping"},
        // Arrays written after loading must stay off what is trusted.
        {offsetof(ZO3D_HEADER, Modules), h.Faces - 8, "the modules array overlaps the face array"},
        {offsetof(ZO3D_HEADER, FrameNormals), h.FrameVertices + 4, "the frame normal table overlaps the frame vertex table"},
        {h.FrameVertices, 40, "frame 0 vertices overlap the header"},
        {h.Faces + 40, h.Faces + 72, "face 0 second mapping overlaps the face array"},
        {offsetof(ZO3D_HEADER, Materials), h.FrameNormals, "the material array overlaps the frame normal table"},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> bad = good;
        Poke(&bad, c.At, c.Value);
        EXPECT_NE(std::string::npos, Why(bad).find(c.Why)) << c.Why << " / got: " << Why(bad);
    }
    // An old version's corner must be a whole vertex.
    std::vector<uint8_t> old = good;
    Poke<uint32_t>(&old, offsetof(ZO3D_HEADER, Version), 0x1002);
    EXPECT_EQ("face 0 corner 1 holds vertex offset 3, not a multiple of 12", Why(old));
}

// Every shorter file is refused, whether or not its size field was fixed
// up to match; flipped bits are either refused or leave every reference
// inside the file (this test runs under AddressSanitizer).
TEST(O3dCheck, TruncatedAndBitFlippedImages)
{
    const std::vector<uint8_t> good = Image(O3dGrid(3, 3, 2, 2));
    for (size_t n = 0; n < good.size(); n++) {
        std::vector<uint8_t> cut(good.begin(), good.begin() + n);
        EXPECT_NE("", Why(cut)) << n;
        if (n >= sizeof(ZO3D_HEADER)) {
            Poke<uint32_t>(&cut, offsetof(ZO3D_HEADER, ImageSize), (uint32_t)n);
            EXPECT_NE("", Why(cut)) << n;
        }
    }
    std::mt19937 rng(7);
    int refused = 0, accepted = 0;
    for (int i = 0; i < 20000; i++) {
        std::vector<uint8_t> bad = good;
        const size_t bit = rng() % (good.size() * 8);
        bad[bit / 8] ^= (uint8_t)(1u << (bit % 8));
        O3dObject o;
        if (O3dParseImage(bad, &o).empty())
            accepted++;
        else
            refused++;
    }
    EXPECT_GT(refused, 100);
    EXPECT_GT(accepted, 100);
}

TEST(O3dMaterials, RecordsReadBackAndDamagedFilesAreRefused)
{
    std::vector<O3dMaterialRecord> in(2);
    in[0].Texture1 = "a.jpg";
    in[0].VertexShader = "fx.vsh";
    in[0].Flags = ZO3D_CUSTOMSHADER;
    in[0].Constants.push_back({4, ZO3D_SHADER_SLOT{0, 1, {1, 2, 3, 4}}});
    in[0].Constants2.push_back({254, ZO3D_SHADER_SLOT{1, 1, {0, 0, 0, 0}}});
    in[1].Type = ZO3D_MAT_COLORED;
    in[1].Color[2] = 0xFF112233;
    in[1].AlphaTexture = true;
    in[1].Alpha = 128;
    std::vector<uint8_t> file;
    ASSERT_EQ("", O3dBuildMaterials(in, &file));
    ASSERT_EQ(12u + 2 * 13328u, file.size());
    std::vector<O3dMaterialRecord> out;
    ASSERT_EQ("", O3dParseMaterials(file, &out));
    ASSERT_EQ(2u, out.size());
    EXPECT_EQ("a.jpg", out[0].Texture1);
    EXPECT_EQ("fx.vsh", out[0].VertexShader);
    ASSERT_EQ(1u, out[0].Constants.size());
    EXPECT_EQ(4u, out[0].Constants[0].first);
    EXPECT_EQ(3.0f, out[0].Constants[0].second.Value[2]);
    EXPECT_EQ(254u, out[0].Constants2[0].first);
    EXPECT_EQ(0xFF112233u, out[1].Color[2]);
    EXPECT_TRUE(out[1].AlphaTexture);
    EXPECT_EQ(128, out[1].Alpha);

    char why[ZO3D_WHY_BYTES];
    EXPECT_FALSE(ZO3D_CheckMaterialFile(file.data(), file.size() - 1, UINT32_MAX, why));
    EXPECT_STREQ("2 records do not fit in 26667 bytes", why);
    EXPECT_FALSE(ZO3D_CheckMaterialFile(file.data(), file.size(), 1, why));
    EXPECT_STREQ("2 records for an object of 1 materials", why);
    EXPECT_TRUE(ZO3D_CheckMaterialFile(file.data(), file.size(), 2, why));
    std::vector<uint8_t> bad = file;
    memset(bad.data() + 12 + 13328 + 128, 'x', 128);
    EXPECT_FALSE(ZO3D_CheckMaterialFile(bad.data(), bad.size(), 2, why));
    EXPECT_STREQ("record 1: name field 1 is not terminated", why);

    in[0].Texture2 = std::string(128, 'n');
    EXPECT_NE("", O3dBuildMaterials(in, &file));
}

namespace {

struct DumpRun {
    int Status;
    std::string Out, Err;
};

class O3dDump : public ::testing::Test {
protected:
    void SetUp() override
    {
        char tmpl[] = "/tmp/o3ddump_test_XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = tmpl;
    }
    void TearDown() override { fs::remove_all(dir); }

    static std::string Slurp(const fs::path& p)
    {
        std::vector<uint8_t> b;
        O3dReadFile(p.string(), &b);
        return std::string(b.begin(), b.end());
    }
    DumpRun Dump(const std::string& args)
    {
        const fs::path out = dir / "stdout", err = dir / "stderr";
        const std::string cmd = "cd '" + dir.string() + "' && '" O3DDUMP_EXE "' " + args + " >'" + out.string() +
                                "' 2>'" + err.string() + "'";
        const int status = system(cmd.c_str());
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, Slurp(out), Slurp(err)};
    }
    fs::path dir;
};

}  // namespace

TEST_F(O3dDump, PrintsHeaderBoundsAndMaterials)
{
    O3dObject o = O3dQuad2();
    o.Materials[0].Flags = ZO3D_GLENZ | ZO3D_ENVIRONMENT | 0x100000;
    ASSERT_EQ("", O3dWriteObject((dir / "q.3do").string(), o));
    DumpRun r = Dump("q.3do");
    EXPECT_EQ(0, r.Status) << r.Err;
    EXPECT_NE(std::string::npos, r.Out.find("name        \"quad2\"\n"));
    EXPECT_NE(std::string::npos, r.Out.find("frame       0 of 2, factor 0\n"));
    EXPECT_NE(std::string::npos, r.Out.find("frame 0     min 0 -0.5 -1.5  max 0 0.5 -0.5\n"));
    EXPECT_NE(std::string::npos, r.Out.find("frame 1     min 0 -0.5 0.5  max 0 0.5 1.5\n"));
    EXPECT_NE(std::string::npos, r.Out.find("material 0   textured, flags GLENZ|ENVIRONMENT|0x100000,"));

    std::vector<O3dMaterialRecord> m(1);
    m[0].Texture1 = "wall.jpg";
    m[0].BumpMap = "wall_bump.jpg";
    m[0].Flags = ZO3D_BUMPMAP | ZO3D_SECONDMAP;
    ASSERT_EQ("", O3dWriteMaterials((dir / "q.material").string(), m));
    r = Dump("q.material");
    EXPECT_EQ(0, r.Status) << r.Err;
    EXPECT_NE(std::string::npos, r.Out.find("record 0: type 1 (textured), flags SECONDMAP|BUMPMAP\n"));
    EXPECT_NE(std::string::npos, r.Out.find("  bump map      wall_bump.jpg\n"));
}

TEST_F(O3dDump, RefusesDamagedFilesAndDrawsPictures)
{
    std::vector<uint8_t> image = Image(O3dQuad2());
    Poke<uint32_t>(&image, Header(image).Faces, 7);
    ASSERT_EQ("", O3dWriteFile((dir / "bad.3do").string(), image));
    DumpRun r = Dump("bad.3do");
    EXPECT_EQ(1, r.Status);
    EXPECT_EQ("o3ddump: bad.3do: face 0 corner 0 names vertex 7 of 4\n", r.Err);
    EXPECT_EQ(1, Dump("missing.3do").Status);
    EXPECT_EQ(2, Dump("--view sideways x.3do").Status);

    ASSERT_EQ("", O3dWriteObject((dir / "g.3do").string(), O3dGrid(4, 4, 2, 1)));
    for (const char* view : {"front", "top", "side"}) {
        r = Dump(std::string("g.3do --png g.png --frame 1 --size 64 --view ") + view);
        ASSERT_EQ(0, r.Status) << r.Err;
        const std::string png = Slurp(dir / "g.png");
        ASSERT_GT(png.size(), 64u * 64u);
        EXPECT_EQ(0, memcmp(png.data(), "\x89PNG\r\n\x1a\n", 8));
        // ImageMagick decodes it: 64 x 64, some white edges on black.
        const std::string cmd = "convert '" + (dir / "g.png").string() + "' -format '%w %h %[max]' info:";
        FILE* p = popen(cmd.c_str(), "r");
        ASSERT_NE(nullptr, p);
        char line[128] = {0};
        ASSERT_NE(nullptr, fgets(line, sizeof(line), p));
        pclose(p);
        EXPECT_EQ(0, strncmp(line, "64 64 ", 6)) << line;
        EXPECT_NE(0, atoi(line + 6)) << view;
    }
    EXPECT_EQ(1, Dump("g.3do --png g.png --frame 2").Status);
}
