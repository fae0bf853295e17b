#include "files_util.h"
#include "zarquel.h"
#include "zqtest.h"

#include <cstring>

namespace {

const unsigned long WORK = 4096;
const size_t GUARD = 16;

class Fsf : public ::testing::Test {
protected:
    void SetUp() override
    {
        ZQ_EnterScratch();
        z = new CZarquel;
        ASSERT_NE(z->Mem->InitHeap(1 << 20), 0);
        f = z->Fsf;
        f->Init(WORK);
        ASSERT_EQ(f->Ready, 1);
        memset(palette, 0x55, sizeof(palette));
    }
    void TearDown() override { delete z; }

    // Decodes `file` into a buffer of n guarded bytes; the guard must survive.
    std::string Decode(const char* file, const std::string& bytes, unsigned long n)
    {
        ZQ_Scratch(file, bytes);
        EXPECT_EQ(f->ReadPcxFile(file, nullptr, palette), n);
        std::string out(n + GUARD, '\xAA');
        EXPECT_EQ(f->ReadPcxFile(file, &out[0], palette), 0u);
        EXPECT_EQ(out.substr(n), std::string(GUARD, '\xAA')) << "written past n";
        return out.substr(0, n);
    }
    bool PaletteIs(const std::string& rgb)
    {
        for (int i = 0; i < ZFSF_PALETTE_BYTES; i++)
            if (palette[i] != (uint8_t)rgb[i] >> 2)
                return false;
        return true;
    }
    bool PaletteZero()
    {
        for (uint8_t b : palette)
            if (b)
                return false;
        return true;
    }

    CZarquel* z;
    CZFsf* f;
    uint8_t palette[ZFSF_PALETTE_BYTES];
};

}  // namespace

TEST_F(Fsf, SizeRunsLiteralsAndPalette)
{
    // 320 x 200 reports 64000 from the first call.
    ZQ_Scratch("size.pcx", ZQ_Pcx(320, 199, std::string(), ZQ_PaletteTail()));
    EXPECT_EQ(f->ReadPcxFile("size.pcx", nullptr, palette), 64000u);

    // A run of three 7s, 0xC0 as a value, a literal, a run, and a literal 12
    // as the last pixel (the palette marker search starts after it).
    std::string tail = ZQ_PaletteTail();
    tail[1 + 5 * 3] = (char)255;
    tail[2 + 5 * 3] = (char)128;
    tail[3 + 5 * 3] = 4;
    std::string px = Decode("runs.pcx", ZQ_Pcx(4, 1, "\xC3\x07\xC0\x05\xC2\xFF\x0C", tail), 8);
    EXPECT_EQ(px, std::string("\x07\x07\x07\xC0\x05\xFF\xFF\x0C", 8));
    EXPECT_EQ(palette[15], 63);
    EXPECT_EQ(palette[16], 32);
    EXPECT_EQ(palette[17], 1);
    EXPECT_TRUE(PaletteIs(tail.substr(1)));
    EXPECT_EQ(f->PcxShortData, 0u);
    EXPECT_EQ(f->PcxNoPalette, 0u);
}

TEST_F(Fsf, RunCutAtTheEndLeavesThePaletteSearchOnItsValue)
{
    std::string rgb = ZQ_PaletteTail().substr(1);
    for (char& c : rgb)
        c = (char)(c ^ 0x5A);
    // Six 12s asked, four fit: the value byte is taken as the marker.
    std::string px = Decode("cut.pcx", ZQ_Pcx(2, 1, "\xC6\x0C", rgb), 4);
    EXPECT_EQ(px, std::string(4, '\x0C'));
    EXPECT_TRUE(PaletteIs(rgb));

    // A run that ends exactly at n is consumed whole: the real marker that
    // follows it is found.
    std::string tail = ZQ_PaletteTail();
    px = Decode("whole.pcx", ZQ_Pcx(2, 1, "\xC4\x0C", tail), 4);
    EXPECT_EQ(px, std::string(4, '\x0C'));
    EXPECT_TRUE(PaletteIs(tail.substr(1)));
}

TEST_F(Fsf, WrongHeadersAreRejectedUntouched)
{
    std::string good = ZQ_Pcx(4, 1, "\xC8\x01", ZQ_PaletteTail());
    const struct { int At; char Value; } bad[] = {{0, 11}, {1, 3}, {65, 3}};
    std::string px(8, 'q');
    for (const auto& b : bad) {
        std::string img = good;
        img[b.At] = b.Value;
        ZQ_Scratch("bad.pcx", img);
        EXPECT_EQ(f->ReadPcxFile("bad.pcx", nullptr, palette), 0u);
        EXPECT_EQ(f->ReadPcxFile("bad.pcx", &px[0], palette), 0u);
    }
    // Too short to hold a header.
    ZQ_Scratch("tiny.pcx", good.substr(0, 100));
    EXPECT_EQ(f->ReadPcxFile("tiny.pcx", &px[0], palette), 0u);
    EXPECT_EQ(px, std::string(8, 'q'));
    EXPECT_EQ(palette[0], 0x55);
    EXPECT_EQ(f->PcxRejected, 7u);
}

TEST_F(Fsf, DamagedDataStaysInsideTheBuffers)
{
    // The data ends after four pixels: the rest is 0, no palette.
    std::string px = Decode("short.pcx", ZQ_Pcx(8, 1, "\xC3\x01\x02", ""), 16);
    EXPECT_EQ(px, std::string("\x01\x01\x01\x02", 4) + std::string(12, '\0'));
    EXPECT_TRUE(PaletteZero());
    EXPECT_EQ(f->PcxShortData, 1u);
    EXPECT_EQ(f->PcxNoPalette, 1u);

    // A run byte is the file's last byte.
    px = Decode("runend.pcx", ZQ_Pcx(4, 0, "\x09\xC5", ""), 4);
    EXPECT_EQ(px, std::string("\x09\0\0\0", 4));

    // A marker with too few bytes after it is no palette.
    memset(palette, 0x55, sizeof(palette));
    px = Decode("fewpal.pcx", ZQ_Pcx(4, 0, "\xC4\x03", ZQ_PaletteTail().substr(0, 700)), 4);
    EXPECT_EQ(px, std::string(4, '\x03'));
    EXPECT_TRUE(PaletteZero());

    // No marker at all, data before and after n.
    memset(palette, 0x55, sizeof(palette));
    px = Decode("nomark.pcx", ZQ_Pcx(4, 0, "\xC4\x03" + std::string(800, '\x01'), ""), 4);
    EXPECT_TRUE(PaletteZero());
    EXPECT_EQ(f->PcxNoPalette, 4u);

    // A file exactly as large as the work buffer is read; it ends in a run
    // byte whose value would lie past the buffer.
    std::string big = ZQ_Pcx(255, 255, std::string(WORK - 128 - 1, '\x02') + "\xC9", "");
    ASSERT_EQ(big.size(), WORK);
    std::string out = Decode("exact.pcx", big, 255 * 256);
    EXPECT_EQ(out.substr(0, WORK - 129), std::string(WORK - 129, '\x02'));
    EXPECT_EQ(out.substr(WORK - 129), std::string(255 * 256 - (WORK - 129), '\0'));
}

TEST_F(Fsf, BinaryFilesAndASecondInit)
{
    std::string bytes;
    for (int i = 0; i < 3000; i++)
        bytes += (char)(i * 31);
    ZQ_Scratch("raw.bin", bytes);
    ZQ_Scratch("bin.tmf", ZQ_Container({{"data\\raw.bin", bytes.substr(1000)}}, 20));
    std::string out(3000, '\0');
    f->ReadBinFile("raw.bin", &out[0]);
    EXPECT_EQ(out, bytes);
    z->Xfs->OpenMasterFile("bin.tmf");
    std::string part(2000, '\0');
    f->ReadBinFile("DATA\\RAW.BIN", &part[0]);
    EXPECT_EQ(part, bytes.substr(1000));
    // Every slot was given back.
    EXPECT_EQ(z->Xfs->Slot[0].Offset, ZXFS_FREE_SLOT);

    f->Init(2 * WORK);
    EXPECT_EQ(f->Ready, 1);
    EXPECT_EQ(f->WorkSize, 2 * WORK);
    EXPECT_EQ(z->Mem->FreeMemRefused, 0u);
}

ZQ_CHILD(fsf_too_large)
{
    ZQ_EnterScratch();
    CZarquel* z = new CZarquel;
    z->Mem->InitHeap(1 << 20);
    z->Fsf->Init(WORK);
    uint8_t pal[ZFSF_PALETTE_BYTES];
    ZQ_Scratch("large.pcx", ZQ_Pcx(4, 0, std::string(WORK - 128, '\x01') + "X", ""));
    z->Fsf->ReadPcxFile("large.pcx", nullptr, pal);
}

ZQ_CHILD(fsf_no_init)
{
    ZQ_EnterScratch();
    CZarquel* z = new CZarquel;
    uint8_t pal[ZFSF_PALETTE_BYTES];
    ZQ_Scratch("any.pcx", ZQ_Pcx(4, 0, "\xC4\x01", ZQ_PaletteTail()));
    z->Fsf->ReadPcxFile("any.pcx", nullptr, pal);
}

ZQ_CHILD(fsf_missing)
{
    ZQ_EnterScratch();
    CZarquel* z = new CZarquel;
    z->Mem->InitHeap(1 << 20);
    z->Fsf->Init(WORK);
    uint8_t pal[ZFSF_PALETTE_BYTES];
    z->Fsf->ReadPcxFile("data\\layout.pcx", nullptr, pal);
}

TEST(FsfFatal, OversizedFilesAndMissingFilesEndWithAMessage)
{
    struct { const char* Child; const char* Text; const char* Caption; } cases[] = {
        {"fsf_too_large", "PCX file larger than the work buffer (4097 > 4096 bytes): large.pcx", "Zarquel ZFSF"},
        {"fsf_no_init", "PCX file larger than the work buffer (899 > 0 bytes): any.pcx", "Zarquel ZFSF"},
        {"fsf_missing", "Error opening file: data\\layout.pcx", "Zarquel ZXFS"},
    };
    for (const auto& k : cases)
        EXPECT_TRUE(ZQ_OneBox(ZQ_RunChild(k.Child), 1, k.Text, k.Caption)) << k.Child;
}
