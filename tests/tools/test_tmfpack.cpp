#include "tmf.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

std::string Slurp(const fs::path& p)
{
    std::ifstream in(p, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void Spit(const fs::path& p, const std::string& bytes)
{
    fs::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary) << bytes;
}

uint32_t U32(const std::string& s, size_t at)
{
    uint32_t v;
    memcpy(&v, s.data() + at, 4);
    return v;
}

struct Outcome {
    int Status;
    std::string Out;
    std::string Err;
};

class Tmf : public ::testing::Test {
protected:
    void SetUp() override
    {
        char tmpl[] = "/tmp/tmfpack_test_XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = tmpl;
    }
    void TearDown() override { fs::remove_all(dir); }

    // Runs the tmfpack program with `args` (shell words).
    Outcome Pack(const std::string& args)
    {
        fs::path out = dir / "stdout", err = dir / "stderr";
        std::string cmd = "cd '" + dir.string() + "' && '" TMFPACK_EXE "' " + args + " >'" + out.string() +
                          "' 2>'" + err.string() + "'";
        int status = system(cmd.c_str());
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, Slurp(out), Slurp(err)};
    }
    // A small tree: names sort as "A.txt", "data\b\c.bin", "data\empty", "z".
    void Tree(const fs::path& root)
    {
        Spit(root / "z", "zz");
        Spit(root / "data/b/c.bin", std::string("\0\1\2\3", 4));
        Spit(root / "data/empty", "");
        Spit(root / "A.txt", "hello");
    }

    fs::path dir;
};

}  // namespace

TEST_F(Tmf, WritesTheHeaderDirectoryAndDataInOrder)
{
    Tree(dir / "t");
    std::vector<TmfInput> in;
    ASSERT_EQ(TmfCollectTree((dir / "t").string(), "", &in), "");
    ASSERT_EQ(in.size(), 4u);
    EXPECT_EQ(in[0].Name, "A.txt");
    EXPECT_EQ(in[1].Name, "data\\b\\c.bin");
    EXPECT_EQ(in[3].Name, "z");
    TmfSummary s;
    ASSERT_EQ(TmfWrite((dir / "t.tmf").string(), in, 0, &s), "");
    EXPECT_EQ(s.Files, 4u);
    EXPECT_EQ(s.DataBytes, 11u);
    EXPECT_EQ(s.NameField, 13u);   // "data\b\c.bin" and its NUL

    std::string c = Slurp(dir / "t.tmf");
    const uint32_t entry = 8 + 13;
    ASSERT_EQ(c.size(), 17 + 4 * entry + 11);
    EXPECT_EQ(s.ContainerBytes, c.size());
    EXPECT_EQ(c.substr(0, 8), std::string(ZTMF_SIGNATURE, 8));
    EXPECT_EQ(U32(c, 8), 4u);
    EXPECT_EQ(U32(c, 12), ZTMF_VERSION);
    EXPECT_EQ((uint8_t)c[16], 12);
    uint32_t data = 17 + 4 * entry;
    const char* expect[] = {"hello", "\0\1\2\3", "", "zz"};
    const uint32_t sizes[] = {5, 4, 0, 2};
    for (int i = 0; i < 4; i++) {
        size_t e = 17 + i * entry;
        EXPECT_EQ(U32(c, e), data);
        EXPECT_EQ(U32(c, e + 4), sizes[i]);
        // NUL-padded name field.
        std::string field = c.substr(e + 8, 13);
        EXPECT_EQ(field, in[i].Name + std::string(13 - in[i].Name.size(), '\0'));
        EXPECT_EQ(c.substr(data, sizes[i]), std::string(expect[i], sizes[i]));
        data += sizes[i];
    }
}

TEST_F(Tmf, DeterministicAndRoundTrips)
{
    // Same files created in another order and at another time: same bytes.
    Tree(dir / "one");
    Spit(dir / "two/A.txt", "hello");
    Spit(dir / "two/data/empty", "");
    Spit(dir / "two/z", "zz");
    Spit(dir / "two/data/b/c.bin", std::string("\0\1\2\3", 4));
    Outcome a = Pack("pack one.tmf one");
    Outcome b = Pack("pack two.tmf two");
    ASSERT_EQ(a.Status, 0) << a.Err;
    ASSERT_EQ(b.Status, 0) << b.Err;
    EXPECT_EQ(a.Out, "tmfpack: one.tmf: 4 files, 11 bytes of data, 112 bytes written\n");
    EXPECT_EQ(Slurp(dir / "one.tmf"), Slurp(dir / "two.tmf"));

    Outcome u = Pack("unpack one.tmf back");
    ASSERT_EQ(u.Status, 0) << u.Err;
    for (const char* f : {"A.txt", "data/b/c.bin", "data/empty", "z"})
        EXPECT_EQ(Slurp(dir / "back" / f), Slurp(dir / "one" / f)) << f;

    // The engine's lookup: case ignored.
    Outcome x = Pack("extract one.tmf 'DATA\\B\\C.BIN' -");
    EXPECT_EQ(x.Status, 0);
    EXPECT_EQ(x.Out, std::string("\0\1\2\3", 4));
    x = Pack("extract one.tmf 'data\\b\\c.bin'");
    EXPECT_EQ(Slurp(dir / "c.bin"), std::string("\0\1\2\3", 4));

    Outcome l = Pack("list one.tmf");
    EXPECT_EQ(l.Status, 0);
    EXPECT_NE(l.Out.find("       106          4  data\\b\\c.bin\n"), std::string::npos) << l.Out;
    EXPECT_NE(l.Out.find("one.tmf: 4 files, 11 bytes of data, 112 bytes, name field 13 bytes, format 1"),
              std::string::npos)
        << l.Out;
}

TEST_F(Tmf, PairsListsAndTheOutputInsideTheTree)
{
    Tree(dir / "t");
    Spit(dir / "lists/pairs.list", "# comment\r\n\r\nGame\\First\t../t/z\r\nsecond\t" + (dir / "t/A.txt").string() +
                                       "\n");
    Outcome r = Pack("pack -w 32 p.tmf -l lists/pairs.list 'data\\third=t/data/b/c.bin'");
    ASSERT_EQ(r.Status, 0) << r.Err;
    TmfDirectory d;
    ASSERT_EQ(TmfReadDirectory((dir / "p.tmf").string(), &d), "");
    EXPECT_TRUE(d.Signed);
    EXPECT_EQ(d.NameWidth, 31);
    ASSERT_EQ(d.Entries.size(), 3u);
    EXPECT_EQ(d.Entries[0].Name, "Game\\First");
    EXPECT_EQ(d.Entries[1].Name, "second");
    EXPECT_EQ(d.Entries[2].Name, "data\\third");
    EXPECT_EQ(d.Entries[1].Size, 5u);

    Spit(dir / "lists/bad.list", "no tab here\n");
    r = Pack("pack q.tmf -l lists/bad.list");
    EXPECT_EQ(r.Status, 1);
    EXPECT_EQ(r.Err, "tmfpack: 'lists/bad.list' line 1: expected NAME<TAB>FILE\n");

    // A container written into the folder it packs does not pack itself.
    ASSERT_EQ(Pack("pack t/self.tmf t").Status, 0);
    ASSERT_EQ(Pack("pack t/self.tmf t").Status, 0);
    ASSERT_EQ(TmfReadDirectory((dir / "t/self.tmf").string(), &d), "");
    EXPECT_EQ(d.Entries.size(), 4u);
}

TEST_F(Tmf, RefusesBadInputWithClearErrorsAndWritesNothing)
{
    Spit(dir / "f", "x");
    struct { const char* Args; const char* Err; } cases[] = {
        {"pack o.tmf nothere", "tmfpack: missing input 'nothere' (neither a folder nor NAME=FILE)\n"},
        {"pack o.tmf a=gone", "tmfpack: missing input 'gone' (for 'a')\n"},
        {"pack o.tmf a=f A=f", "tmfpack: name 'A' given twice (names ignore case): 'f' and 'f'\n"},
        {"pack -w 4 o.tmf abcd=f", "tmfpack: name 'abcd' is 4 characters, longer than the name field (at most 3)\n"},
        {"pack -w 300 o.tmf a=f", "tmfpack: -w 300: the name field is 2 to 256 bytes\n"},
        {"pack o.tmf =f", "tmfpack: '=f': expected NAME=FILE\n"},
        {"pack o.tmf a=.", "tmfpack: input '.' is not a regular file\n"},
    };
    for (const auto& c : cases) {
        Outcome r = Pack(c.Args);
        EXPECT_EQ(r.Status, 1) << c.Args;
        EXPECT_EQ(r.Err, c.Err) << c.Args;
        EXPECT_FALSE(fs::exists(dir / "o.tmf")) << c.Args;
        EXPECT_FALSE(fs::exists(dir / "o.tmf.part")) << c.Args;
    }
    EXPECT_EQ(Pack("").Status, 2);
    EXPECT_EQ(Pack("pack o.tmf").Status, 2);

    // 255 characters fit the widest field, 256 do not.
    std::vector<TmfInput> in = {{std::string(255, 'n'), (dir / "f").string()}};
    TmfSummary s;
    EXPECT_EQ(TmfWrite((dir / "w.tmf").string(), in, 0, &s), "");
    EXPECT_EQ(s.NameField, 256u);
    in[0].Name += 'n';
    EXPECT_NE(TmfWrite((dir / "w2.tmf").string(), in, 0, &s).find("longer than the name field (at most 255)"),
              std::string::npos);

    // More than 2^32 bytes: refused from the sizes, before anything is read
    // (the input is sparse).
    {
        std::ofstream big(dir / "big", std::ios::binary);
    }
    // Header, two entries of 10 bytes, "f": one byte over.
    fs::resize_file(dir / "big", TMF_MAX_BYTES + 1 - 17 - 2 * 10 - 1);
    Outcome r = Pack("pack o.tmf b=big c=f");
    EXPECT_EQ(r.Status, 1);
    EXPECT_EQ(r.Err, "tmfpack: container would be 4294967297 bytes, more than 2^32 (4294967296)\n");
    EXPECT_FALSE(fs::exists(dir / "o.tmf"));
}

TEST_F(Tmf, ReadsDamagedContainersSafely)
{
    Spit(dir / "f", "0123456789");
    ASSERT_EQ(Pack("pack good.tmf a=f bb=f").Status, 0);
    std::string good = Slurp(dir / "good.tmf");

    Spit(dir / "short.tmf", good.substr(0, 12));
    Outcome r = Pack("list short.tmf");
    EXPECT_EQ(r.Status, 1);
    EXPECT_EQ(r.Err, "tmfpack: 'short.tmf': header truncated\n");

    std::string count = good;
    count[8] = 3;
    Spit(dir / "count.tmf", count.substr(0, 17 + 2 * 11 + 3));
    r = Pack("list count.tmf");
    EXPECT_EQ(r.Err, "tmfpack: 'count.tmf': directory of 3 entries runs past the end of the file\n");

    // Data outside the file: listed and flagged, not extracted.
    std::string outside = good;
    outside[17 + 11 + 4] = 100;   // size of "bb"
    Spit(dir / "outside.tmf", outside);
    r = Pack("list outside.tmf");
    EXPECT_EQ(r.Status, 1);
    EXPECT_NE(r.Out.find("bb  (outside the file)"), std::string::npos) << r.Out;
    r = Pack("extract outside.tmf bb -");
    EXPECT_EQ(r.Err, "tmfpack: 'bb' is not in 'outside.tmf'\n");

    // A name that would leave the folder is not unpacked.
    std::vector<TmfInput> in = {{"..\\escape", (dir / "f").string()}};
    ASSERT_EQ(TmfWrite((dir / "evil.tmf").string(), in, 0, nullptr), "");
    r = Pack("unpack evil.tmf out");
    EXPECT_EQ(r.Status, 1);
    EXPECT_EQ(r.Err, "tmfpack: '..\\escape': name would leave the folder\n");
    EXPECT_FALSE(fs::exists(dir / "escape"));
}
