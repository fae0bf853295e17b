// The generated content under Wine: every JPEG of data.tmf decodes through
// D3DX on a real device at its own power-of-two size, every PCX alpha map
// decodes with the engine's PCX reader to exactly its texture's size, and
// the music and samples load in the game's audio library as the game
// loads them.
#include "bass.h"
#include "gfx_fixture.h"
#include "zfsf.h"
#include "world.h"
#include "zo3d.h"
#include "zoctaabb.h"
#include "zo3dfile.h"
#include "ztmf.h"
#include "zxfs.h"
#include "zqtest.h"

#include <d3dx9.h>

#include <cmath>
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

// The world's objects loaded and prepared as the game's start-up does it.
struct GameObject {
    const char *Name, *Materials;
    float Scale;
    uint32_t MinFrames;
};
const GameObject kObjects[] = {
    {"data\\envmap\\env.3do", "data\\envmap\\env.material", 15.0f, 1},
    {"data\\soldier\\soldier.3do", "data\\soldier\\soldier.material", 0.05f, 184},
    {"data\\soldier\\weapon.3do", "data\\soldier\\weapon.material", 0.05f, 184},
    {"data\\scene\\scene.3do", "data\\scene\\scene.material", 1.0f, 1},
    {"data\\player\\player.3do", "data\\player\\player.material", 0.05f, 178},
    {"data\\player\\weapon.3do", "data\\player\\weapon.material", 0.05f, 178},
    {"data\\explosion\\bola.3do", "data\\explosion\\bola.material", 0.05f, 1},
};

TEST_F(ContentWin, WorldObjectsMaterialsAndPathsLoadAsTheGameLoadsThem)
{
    CZO3d* o3d = gfx.Z->O3d;
    o3d->InitCache(25000);
    o3d->FloatAngles = 1;
    for (const GameObject& g : kObjects) {
        SCOPED_TRACE(g.Name);
        unsigned long obj = o3d->LoadObject(g.Name);
        ASSERT_NE(obj, 0u);
        unsigned long frames = o3d->GetNumberFrames(obj);
        EXPECT_GE(frames, g.MinFrames);
        for (unsigned long i = 0; i < frames; i++) {
            o3d->SetActualFrame(obj, i, 0.0f, 1);
            o3d->ScaleObject(obj, g.Scale);
            o3d->RecalcNormals(obj, 1);
        }
        unsigned long mats = o3d->LoadMaterials(obj, g.Materials);
        const ZO3D_HEADER* h = (const ZO3D_HEADER*)obj;
        const ZO3D_MATERIAL* m = (const ZO3D_MATERIAL*)(uintptr_t)h->Materials;
        for (uint32_t i = 0; i < h->MaterialCount; i++) {
            EXPECT_NE(m[i].Texture1, 0u) << "material " << i;
            // Light-mapped floors have their map.
            if (m[i].Flags & ZRF_SECONDMAP) {
                EXPECT_NE(m[i].Texture2, 0u) << "material " << i;
            }
        }
        if (strstr(g.Name, "scene")) {
            EXPECT_GE(h->MaterialCount, 17u);
        }
        EXPECT_LE(h->FaceCount, 25000u);
        EXPECT_LE(h->VertexCount, 25000u);
        o3d->FreeMaterials(mats, 1);
        o3d->DestroyObject(obj);
    }
    for (const char* name : {"data\\camera1.tcp", "data\\camera2.tcp"}) {
        std::string tcp = Load(name);
        ASSERT_GE(tcp.size(), 4u) << name;
        int32_t n;
        memcpy(&n, tcp.data(), 4);
        EXPECT_GE(n, 4) << name;
        EXPECT_EQ(tcp.size(), 4 + 12u * n) << name;
    }
}

// The chase camera of a player standing at p with an integer heading, as
// the game computes it (bob 128: no sideways sway).
void Chase(Vector3 p, int heading, Vector3* eye, Vector3* target)
{
    float b = (float)((heading + 128) & 511) * 3.14159265f / 256.0f;
    *eye = {p.x + std::cos(b) * -5.2f + 1.0f, p.y + 1.5f, p.z + std::sin(b) * -5.2f};
    *target = {p.x, p.y + 0.9f, p.z};
}

// Drawn through the engine with the game's culling, projection and camera:
// the fraction of the 64 x 64 back buffer that shows `colour`.
float Covered(ZQGfx& gfx, uint32_t colour)
{
    std::vector<uint32_t> px(64 * 64);
    gfx.Pixels(px.data());
    int n = 0;
    for (uint32_t p : px)
        n += ZQ_Near(p, colour, 24);
    return n / 4096.0f;
}

TEST_F(ContentWin, TheGamesViewsShowTheTelevisionTheFloorAndTheSky)
{
    CZO3d* o3d = gfx.Z->O3d;
    CZH3d* h3d = gfx.H3d;
    o3d->InitCache(25000);
    h3d->SetCullingState(true, true);
    h3d->SetZBufferState(true);
    const uint32_t kClear = 0xFFFF00FF;
    gfx.Vgs->ClearColor = kClear;
    unsigned long scene = o3d->LoadObject("data\\scene\\scene.3do");
    o3d->RecalcNormals(scene, 1);
    unsigned long mats = o3d->LoadMaterials(scene, "data\\scene\\scene.material");
    CZOctreeAABB* tree = gfx.Z->OctreeAABB;
    tree->Init(25000);
    unsigned long oct = tree->LoadAABBOctree(scene, "data\\scene\\scene.oct");
    // The screen in flat red, in place of the pages.
    o3d->SetMaterialColored(scene, 16, 0, 0xFFFF0000, 0xFFFF0000, 0xFFFF0000);

    // After a win: the player at (82.54, 2.1, 1.969), heading 342.
    Vector3 eye, target;
    Chase({82.54f, 2.1f, 1.969f}, 342, &eye, &target);
    h3d->SetProyectionParams(0.1f, 380.0f, 60.0f, 45.0f);
    h3d->SetCameraPosition(&eye, &target, NULL);
    tree->DrawAABBObject(oct);   // as the game draws it: frustum and visible set
    gfx.Frame();
    float tv = Covered(gfx, 0xFFFF0000);
    printf("[ world    ] the television covers %.0f%% of the win view\n", tv * 100);
    EXPECT_GT(tv, 0.18f);
    EXPECT_TRUE(ZQ_Near(gfx.Pixel(32, 28), 0xFFFF0000, 24));

    // At the start, looking north: floor below the horizon, nowhere a gap.
    Chase({-174.979f, 2.1f, 119.984f}, 0, &eye, &target);
    h3d->SetCameraPosition(&eye, &target, NULL);
    tree->DrawAABBObject(oct);
    gfx.Frame();
    for (int y = 40; y < 64; y++)
        for (int x = 0; x < 64; x++)
            ASSERT_FALSE(ZQ_Near(gfx.Pixel(x, y), kClear, 8)) << "a hole in the floor at " << x << ", " << y;

    // The sky from inside, as the sky pass draws it: everything covered.
    unsigned long sky = o3d->LoadObject("data\\envmap\\env.3do");
    o3d->ScaleObject(sky, 15.0f);
    unsigned long skyMats = o3d->LoadMaterials(sky, "data\\envmap\\env.material");
    h3d->SetProyectionParams(0.1f, 1050.0f, 60.0f, 45.0f);
    o3d->SetObjectPosition(sky, 0.0f, 50.0f, 0.0f);
    o3d->DrawAllObject(sky, 1);
    gfx.Frame();
    EXPECT_EQ(Covered(gfx, kClear), 0.0f);

    o3d->FreeMaterials(skyMats, 1);
    o3d->DestroyObject(sky);
    tree->DestroyAABBOctree(oct);
    o3d->FreeMaterials(mats, 1);
    o3d->DestroyObject(scene);
}

// The level's promises again, now with the engine's own collision test
// against the shipped octree in place of the generator's triangles.
bool EngineTouches(void* context, const Sphere3& s)
{
    auto* c = (std::pair<CZOctreeAABB*, unsigned long>*)context;
    Sphere3 copy = s;
    return c->first->TestAABBWithSphere(c->second, &copy, true);
}

TEST_F(ContentWin, LevelKeepsItsPromisesUnderTheEnginesCollisionTest)
{
    CZO3d* o3d = gfx.Z->O3d;
    CZOctreeAABB* tree = gfx.Z->OctreeAABB;
    o3d->InitCache(25000);
    tree->Init(25000);
    unsigned long scene = o3d->LoadObject("data\\scene\\scene.3do");
    o3d->RecalcNormals(scene, 1);
    std::pair<CZOctreeAABB*, unsigned long> context(tree, tree->LoadAABBOctree(scene, "data\\scene\\scene.oct"));
    o3d->SetObjectAngles(scene, 0.0f, 0.0f, 0.0f);
    o3d->SetObjectPosition(scene, 0.0f, 0.0f, 0.0f);
    static CgLevel level;
    CgBuildLevel(&level);
    CgCollider engine(EngineTouches, &context);
    float rest = 0;
    EXPECT_EQ(CgCheckStart(engine, &rest), "");
    EXPECT_NEAR(rest, 2.1f, 0.06f);
    std::vector<Vector3> route;
    EXPECT_EQ(CgCheckRoute(level, engine, &route), "");
    printf("[ world    ] the player rests at y %.3f and walks to the exit in %u steps\n", rest, (unsigned)route.size());
    EXPECT_EQ(CgCheckPath(level, engine, level.Path1, 3.0f, 0.8f), "");
    // A sphere in a wall touches; one over the floor does not.
    Sphere3 wall = {{-104.0f, 3.0f, 75.0f}, 1.0f}, free = {{-98.0f, 2.1f, 75.0f}, 1.0f};
    EXPECT_TRUE(tree->TestAABBWithSphere(context.second, &wall, true));
    EXPECT_FALSE(tree->TestAABBWithSphere(context.second, &free, true));
    tree->DestroyAABBOctree(context.second);
    o3d->DestroyObject(scene);
}

}  // namespace
