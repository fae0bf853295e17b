// The game's camera path and sound player on a real engine and audio library.
#include <gtest/gtest.h>
#include <cstdio>
#include "bf04.h"
#include "camerapath.h"
#include "soundplayer.h"

Game G;

namespace {

struct GameParts : ::testing::Test {
    static CZarquel* engine;
    static void SetUpTestSuite()
    {
        engine = new CZarquel;
        engine->Mem->InitHeap(16u << 20);
    }
    static void TearDownTestSuite() { delete engine; }
};
CZarquel* GameParts::engine;

CameraPath* PathOf(CZarquel* engine, const std::vector<Vector3>& points)
{
    const char* name = "test_camera.tcp";
    FILE* f = fopen(name, "wb");
    int32_t n = (int32_t)points.size();
    fwrite(&n, 4, 1, f);
    fwrite(points.data(), sizeof(Vector3), points.size(), f);
    fclose(f);
    CameraPath* path = new CameraPath;
    path->Engine = engine;
    path->Load(name);
    remove(name);
    return path;
}

TEST_F(GameParts, CameraPathPointsBlendsAndWraps)
{
    std::vector<Vector3> points;
    for (int i = 0; i < 10; i++)
        points.push_back({(float)i * 10.0f, (float)(i % 3), (float)(i * i)});
    CameraPath* path = PathOf(engine, points);
    EXPECT_EQ(path->ControlCount, 10);
    Vector3 start = path->Eval(0.0f);
    EXPECT_EQ(path->SplineCount, 350);
    EXPECT_EQ(path->Dirty, 0);
    EXPECT_FLOAT_EQ(start.x, points[1].x) << "the curve starts at the second control point";
    EXPECT_FLOAT_EQ(start.z, points[1].z);

    // On a spline point exactly: that point; halfway: the midpoint.
    Vector3 a = path->Eval(7.0f / 350.0f), b = path->Eval(8.0f / 350.0f), mid = path->Eval(7.5f / 350.0f);
    EXPECT_FLOAT_EQ(a.x, path->Spline[7].x);
    EXPECT_FLOAT_EQ(b.z, path->Spline[8].z);
    EXPECT_NEAR(mid.x, (a.x + b.x) / 2, 1e-3);
    EXPECT_NEAR(mid.z, (a.z + b.z) / 2, 1e-3);

    // Past the last point it blends toward the first; t of 1 or more wraps.
    Vector3 last = path->Spline[349], first = path->Spline[0];
    Vector3 beyond = path->Eval(349.5f / 350.0f);
    EXPECT_NEAR(beyond.x, (last.x + first.x) / 2, 1e-3);
    Vector3 wrapped = path->Eval(1.0f + 7.0f / 350.0f);
    EXPECT_NEAR(wrapped.x, a.x, 1e-2);
    Vector3 negative = path->Eval(-1.0f / 350.0f);
    EXPECT_NEAR(negative.x, last.x, 1e-2) << "before the start: the end of the closed path";

    path->SetSegments(10);
    EXPECT_EQ(path->Dirty, 1);
    path->Eval(0.5f);
    EXPECT_EQ(path->SplineCount, 70);
    delete path;
}

TEST_F(GameParts, SoundPlayerVolumeRuleAndMute)
{
    SoundPlayer* sound = new SoundPlayer;
    sound->Engine = engine;
    engine->Xfs->OpenMasterFile("data.tmf");
    unsigned long shot = sound->LoadSample("data\\sounds\\disparo.wav");
    unsigned long start = sound->LoadSample("data\\sounds\\start.wav");
    engine->Xfs->CloseMasterFile();
    ASSERT_NE(shot, 0u);
    sound->Start();
    G.F = BF04_FLAGS{};

    // Every request loses 20: 100 - 85 units away is silent, 50 away plays.
    EXPECT_EQ(sound->PlaySample(shot, 100 - 85), 0u);
    EXPECT_EQ(sound->Silenced, 1);
    EXPECT_NE(sound->PlaySample(shot, 100 - 50), 0u);
    EXPECT_NE(sound->PlaySample(shot, 20), 0u) << "volume 0 still plays";

    // On the menu and in automatic mode only the start sample is heard.
    G.F.MenuShown = 1;
    EXPECT_EQ(sound->PlaySample(shot, 100), 0u);
    EXPECT_EQ(sound->PlaySampleLoop(shot, 30), 0u);
    EXPECT_NE(sound->PlaySampleUnmuted(start, 100), 0u);
    G.F.MenuShown = 0;
    G.F.Automatic = 1;
    EXPECT_EQ(sound->PlaySample(shot, 100), 0u);
    EXPECT_EQ(sound->Muted, 3);
    G.F.Automatic = 0;

    // Five playbacks of one sample at most: the sixth gets no channel.
    unsigned long walk = sound->PlaySampleLoop(start, 30);
    ASSERT_NE(walk, 0u);
    sound->Pause(walk);
    sound->Resume(walk);
    int playing = 0;
    for (int i = 0; i < 6; i++)
        playing += sound->PlaySampleUnmuted(start, 100) != 0;
    EXPECT_LT(playing, 6);
    sound->Stop();
}

}  // namespace
