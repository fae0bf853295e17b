// The generated content under Wine: every JPEG of data.tmf decodes through
// D3DX on a real device at its own power-of-two size, every PCX alpha map
// decodes with the engine's PCX reader to exactly its texture's size, and
// the music and samples load in the game's audio library as the game
// loads them.
#include "bass.h"
#include "gfx_fixture.h"
#include "zfsf.h"
#include "ztmf.h"
#include "zxfs.h"
#include "zqtest.h"

#include <d3dx9.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

// The container's names, read from its directory.
std::vector<std::string> Names()
{
    std::vector<std::string> out;
    std::string tmf = ZQ_ReadFile(ZQ_CONTENT_TMF);
    if (tmf.size() < sizeof(ZTMF_HEADER))
        return out;
    ZTMF_HEADER h;
    memcpy(&h, tmf.data(), sizeof(h));
    size_t at = ZTMF_DIRECTORY_OFFSET;
    for (uint32_t i = 0; i < h.EntryCount && at + ZTMF_ENTRY_BYTES(h.NameWidth) <= tmf.size(); i++) {
        const char* name = tmf.data() + at + sizeof(ZTMF_ENTRY);
        out.push_back(std::string(name, strnlen(name, h.NameWidth + 1u)));
        at += ZTMF_ENTRY_BYTES(h.NameWidth);
    }
    return out;
}

bool EndsWith(const std::string& s, const char* tail)
{
    size_t n = strlen(tail);
    return s.size() >= n && _stricmp(s.c_str() + s.size() - n, tail) == 0;
}

bool PowerOfTwo(UINT v) { return v && !(v & (v - 1)); }

class ContentWin : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (GetFileAttributesA(ZQ_CONTENT_TMF) == INVALID_FILE_ATTRIBUTES)
            FAIL() << ZQ_CONTENT_TMF << " missing: build the host tree first (scripts/zq build)";
        // Read before the engine opens the container: it shares it with nobody.
        names = Names();
        ASSERT_TRUE(gfx.Open());
        gfx.Z->Xfs->OpenMasterFile(ZQ_CONTENT_TMF);
    }
    void TearDown() override { gfx.Close(); }

    // Read as every loader does, from the container.
    std::string Load(const std::string& name)
    {
        CZXfs* x = gfx.Z->Xfs;
        unsigned long h = x->OpenFile(name.c_str());
        EXPECT_TRUE(h & ZXFS_CONTAINER_HANDLE) << name;
        std::string s(x->GetFileSize(h), '\0');
        x->ReadFile(h, &s[0], (unsigned long)s.size());
        x->CloseFile(h);
        return s;
    }

    D3DXIMAGE_INFO Info(const std::string& name)
    {
        std::string data = Load(name);
        D3DXIMAGE_INFO info = {};
        EXPECT_EQ(D3DXGetImageInfoFromFileInMemory(data.data(), (UINT)data.size(), &info), D3D_OK) << name;
        return info;
    }

    ZQGfx gfx;
    std::vector<std::string> names;
};

TEST_F(ContentWin, EveryPictureDecodesThroughD3DXAtItsPowerOfTwoSize)
{
    int pictures = 0;
    for (const std::string& name : names) {
        if (!EndsWith(name, ".jpg"))
            continue;
        SCOPED_TRACE(name);
        std::string data = Load(name);
        D3DXIMAGE_INFO info = Info(name);
        EXPECT_EQ(info.ImageFileFormat, D3DXIFF_JPG);
        IDirect3DTexture9* tex = nullptr;
        ASSERT_EQ(D3DXCreateTextureFromFileInMemory(gfx.Vgs->Device, data.data(), (UINT)data.size(), &tex), D3D_OK);
        D3DSURFACE_DESC desc;
        ASSERT_EQ(tex->GetLevelDesc(0, &desc), D3D_OK);
        // Authored at a power of two: D3DX has nothing to round or stretch.
        EXPECT_TRUE(PowerOfTwo(desc.Width) && PowerOfTwo(desc.Height)) << desc.Width << "x" << desc.Height;
        EXPECT_EQ(desc.Width, info.Width);
        EXPECT_EQ(desc.Height, info.Height);
        tex->Release();
        pictures++;
    }
    EXPECT_GE(pictures, 52);
}

TEST_F(ContentWin, AlphaMapsDecodeWithThePcxReaderAtTheirTexturesSize)
{
    CZFsf* fsf = gfx.Z->Fsf;
    fsf->Init(0x200000);   // the game's work buffer
    const char* pairs[][2] = {{"data\\shadow.pcx", "data\\black.jpg"}, {"data\\layout.pcx", "data\\black2.jpg"}};
    for (auto& pair : pairs) {
        SCOPED_TRACE(pair[0]);
        D3DXIMAGE_INFO info = Info(pair[1]);
        unsigned long n = fsf->ReadPcxFile(pair[0], nullptr, nullptr);
        ASSERT_EQ(n, info.Width * info.Height);
        std::vector<uint8_t> alpha(n), palette(ZFSF_PALETTE_BYTES);
        EXPECT_EQ(fsf->ReadPcxFile(pair[0], alpha.data(), palette.data()), 0u);
        EXPECT_EQ(fsf->PcxShortData, 0u);
        EXPECT_EQ(fsf->PcxNoPalette, 0u);
        const UINT w = info.Width, h = info.Height;
        if (strstr(pair[0], "shadow")) {
            // A round blob: dense in the middle, nothing at the edges.
            EXPECT_GT(alpha[(h / 2) * w + w / 2], 150);
            for (UINT i = 0; i < w; i++)
                EXPECT_EQ(alpha[i] | alpha[(h - 1) * w + i] | alpha[i * w] | alpha[i * w + w - 1], 0);
        } else {
            // The frame wraps along u: the seam between the last and the
            // first column is no bigger a step than any inside the map.
            auto step = [&](UINT a, UINT b) {
                long s = 0;
                for (UINT y = 0; y < h; y++)
                    s += labs((long)alpha[y * w + a] - (long)alpha[y * w + b]);
                return s;
            };
            long inside = 0;
            for (UINT x = 0; x + 1 < w; x++)
                inside = std::max(inside, step(x, x + 1));
            EXPECT_LE(step(w - 1, 0), inside);
            // Open in the middle of the screen, covered at the edges.
            EXPECT_EQ(alpha[(h / 2) * w + w / 4], 0);
            EXPECT_GT(alpha[2 * w + w / 4], 100);
        }
    }
}

// As the game's sound player does it: from memory with the game's flags,
// the music with length 0 (its headers give the size), then the buffer is
// gone.
TEST_F(ContentWin, MusicAndSamplesLoadInTheGamesAudioLibrary)
{
    ASSERT_TRUE(BASS_Init(0, 44100, 0, GetDesktopWindow(), NULL));   // device 0: no sound needed
    {
        std::string xm = Load("data\\bf04c.xm");
        EXPECT_NE(BASS_MusicLoad(TRUE, xm.data(), 0, 0, 0x8C04, 0), 0u) << BASS_ErrorGetCode();
    }
    int samples = 0;
    for (const std::string& name : names) {
        if (!EndsWith(name, ".wav"))
            continue;
        std::string wav = Load(name);
        EXPECT_NE(BASS_SampleLoad(TRUE, wav.data(), 0, (DWORD)wav.size(), 5, 0), 0u) << name;
        samples++;
    }
    EXPECT_EQ(samples, 7);
    BASS_Free();
}

}  // namespace
