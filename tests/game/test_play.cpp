// The player, the shots, the soldiers, the run clock and the score request
// on a real engine: a small level with ledges of 0.3 and 0.35 and a wall
// (make_play_fixtures.cpp), keys pressed in the engine's keyboard, and a
// score server on a local socket.
#include <winsock2.h>
#include <gtest/gtest.h>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>
#include "actors.h"
#include "bf04.h"
#include "camerapath.h"
#include "soundplayer.h"

Game G;

namespace {

struct Play : ::testing::Test {
    static void SetUpTestSuite()
    {
        CZarquel* e = G.Engine = new CZarquel;
        e->Mem->InitHeap(32u << 20);
        unsigned long level = e->O3d->LoadObject(BF04_PLAY_FIXTURES "\\steps.3do");
        e->OctreeAABB->Init(e->O3d->GetNumberOfFaces(level));
        G.A.SceneOctree = e->OctreeAABB->LoadAABBOctree(level, BF04_PLAY_FIXTURES "\\steps.oct");
        G.Sound = new SoundPlayer;
        G.Sound->Engine = e;
        InitializeCriticalSection(&G.Lock);
        G.Shots = new ShotManager;
        G.Shots->Engine = e;
        G.Shots->SoldierList = G.Soldiers;
        // A loop round the level: north along x = -30, east along z = 30,
        // south along x = 30, west along z = -30.
        std::vector<Vector3> loop = {{-30, 2.1f, -30}, {-30, 2.1f, 30}, {30, 2.1f, 30}, {30, 2.1f, -30}};
        std::vector<Vector3> points = {loop[3], loop[0], loop[1], loop[2], loop[3], loop[0], loop[1]};
        const char* name = "test_play.tcp";
        FILE* f = fopen(name, "wb");
        int32_t n = (int32_t)points.size();
        fwrite(&n, 4, 1, f);
        fwrite(points.data(), sizeof(Vector3), points.size(), f);
        fclose(f);
        G.Path1 = new CameraPath;
        G.Path1->Engine = e;
        G.Path1->Load(name);
        G.Path1->Eval(0.0f);
        remove(name);
        for (int i = 0; i < BF04_SOLDIERS; i++)
            G.Soldiers[i] = new Soldier(0, 0, e, G.Path1, G.Shots);
    }

    void SetUp() override
    {
        G.F = BF04_FLAGS{};
        G.SoldierCount = 0;
        G.Shots->ShotCount = 0;
        G.Shots->ExplosionCount = 0;
        Counters = PlayCounters{};
        ResetPlayer();
        P1.Kills = P1.Deaths = P1.Seconds = 0;
        P1.Milliseconds = 0;
        P1.FallSpeed = 0;
        for (int k = 0; k < ZKBD_KEYS; k++)
            G.Engine->Kbd->State[k] = 0;
    }

    static void Place(float x, float y, float z)
    {
        P1.Position = {x, y, z};
        P1.FallSpeed = 0;
    }
    static void Hold(int key, bool down)
    {
        if (down)
            G.Engine->Kbd->PressKeyCode((unsigned short)key);
        else
            G.Engine->Kbd->ReleaseKeyCode((unsigned short)key);
    }
    // Stands still until the fall ends.
    static void Settle()
    {
        for (int i = 0; i < 400; i++)
            UpdatePlayer();
    }
};

TEST_F(Play, FallingAndLanding)
{
    Place(0, 10, -20);
    std::vector<float> drops;
    float y = P1.Position.y;
    for (int i = 0; i < 8; i++) {
        UpdatePlayer();
        drops.push_back(y - P1.Position.y);
        y = P1.Position.y;
    }
    const float expected[] = {0, 0.05f, 0.1f, 0.15f, 0.2f, 0.2f, 0.2f, 0.2f};
    for (int i = 0; i < 8; i++)
        EXPECT_NEAR(drops[i], expected[i], 1e-4) << "tick " << i;
    Settle();
    EXPECT_FLOAT_EQ(P1.FallSpeed, 0.05f) << "landing resets the fall speed";
    EXPECT_GE(P1.Position.y, 1.2f);
    EXPECT_LT(P1.Position.y, 1.26f) << "rests on the floor";
}

TEST_F(Play, LedgesWallsAndTheOneKey)
{
    // The sphere reaches into the ledge's top by its height: a step onto
    // 0.3 is taken, onto 0.35 it is undone.
    Place(-8, 1.22f, 8);
    Hold(KEY_UP, true);
    UpdatePlayer();
    EXPECT_NEAR(P1.Position.y, 1.52f, 1e-4) << "stepped up 0.3";
    EXPECT_NEAR(P1.Position.z, 8.1f, 1e-4);
    Place(8, 1.22f, 8);
    UpdatePlayer();
    EXPECT_FLOAT_EQ(P1.Position.y, 1.22f) << "0.35 is a wall";
    EXPECT_FLOAT_EQ(P1.Position.z, 8.0f) << "the step is undone";
    EXPECT_FLOAT_EQ(P1.Position.x, 8.0f);
    EXPECT_EQ(P1.State, PLAYER_WALKING);

    // Walking north into the 3-high wall stops before it.
    Place(0, 1.25f, 14);
    for (int i = 0; i < 100; i++)
        UpdatePlayer();
    EXPECT_GT(P1.Position.z, 18.0f);
    EXPECT_LT(P1.Position.z, 20.0f) << "the wall holds";

    // With 1 held: through the wall, no falling.
    Hold(KEY_NOCLIP, true);
    for (int i = 0; i < 100; i++)
        UpdatePlayer();
    EXPECT_GT(P1.Position.z, 22.0f);
    Hold(KEY_UP, false);
    Place(0, 10, -20);
    for (int i = 0; i < 50; i++)
        UpdatePlayer();
    EXPECT_FLOAT_EQ(P1.Position.y, 10.0f);
}

TEST_F(Play, TurningWalkingFiring)
{
    Place(0, 1.25f, -20);
    Settle();
    // Left turns the target by 2 a tick; the camera's heading follows it.
    Hold(KEY_LEFT, true);
    for (int i = 0; i < 64; i++)
        UpdatePlayer();
    Hold(KEY_LEFT, false);
    EXPECT_FLOAT_EQ(P1.HeadingTarget, 128.0f);
    EXPECT_GT(P1.Heading, 30.0f) << "the camera's heading lags behind";
    EXPECT_LT(P1.Heading, 100.0f);
    Settle();
    EXPECT_NEAR(P1.Heading, 128.0f, 0.5f);
    // Heading 128, a quarter turn left of +z: walking goes toward -x.
    Vector3 before = P1.Position;
    Hold(KEY_UP, true);
    for (int i = 0; i < 10; i++)
        UpdatePlayer();
    EXPECT_NEAR(P1.Position.x - before.x, -1.0f, 1e-3);
    EXPECT_NEAR(P1.Position.z - before.z, 0.0f, 1e-3);
    EXPECT_EQ(P1.State, PLAYER_WALKING);
    // The camera sits behind: east of the player.
    EXPECT_GT(P1.Eye.x, P1.Position.x + 3.0f);

    // Up with Space shoots without walking.
    before = P1.Position;
    Hold(KEY_SPACE, true);
    UpdatePlayer();
    EXPECT_FLOAT_EQ(P1.Position.x, before.x);
    EXPECT_EQ(P1.State, PLAYER_SHOOTING);
    EXPECT_EQ(P1.Frame, 46);
    ASSERT_EQ(G.Shots->ShotCount, 1);
    const ShotRecord& shot = G.Shots->Shots[0];
    EXPECT_FLOAT_EQ(shot.Position.y, SHOT_HEIGHT);
    EXPECT_NEAR(shot.Velocity.x, -SHOT_SPEED, 1e-4);
    EXPECT_EQ(shot.Owner, nullptr);
    // Held, it fires again once the shooting animation is over (7 frames).
    for (int i = 0; i < 80; i++)
        UpdatePlayer();
    EXPECT_EQ(G.Shots->ShotCount, 2);
    Hold(KEY_SPACE, false);
    Hold(KEY_UP, false);
}

TEST_F(Play, DeathPenaltyAndRespawn)
{
    Place(0, 1.25f, -20);
    Settle();
    KillPlayer();
    KillPlayer();
    EXPECT_EQ(P1.Seconds, 5);
    EXPECT_EQ(P1.Deaths, 1) << "a dying player does not die again";
    EXPECT_EQ(P1.State, PLAYER_DYING);
    EXPECT_EQ(P1.Frame, 173);
    Vector3 fell = P1.Position;
    Hold(KEY_UP, true);
    for (int i = 0; i < 199; i++)
        UpdatePlayer();
    EXPECT_EQ(P1.State, PLAYER_DYING);
    EXPECT_EQ(P1.Frame, 177) << "held on the last frame";
    EXPECT_FLOAT_EQ(P1.Position.z, fell.z) << "no walking while dying";
    Hold(KEY_UP, false);
    UpdatePlayer();
    EXPECT_EQ(P1.State, PLAYER_IDLE) << "respawned after 200 ticks";
    EXPECT_FLOAT_EQ(P1.Position.z, fell.z) << "where he fell";
}

// Two soldiers on one spot in the player's line of fire, standing still.
static void TwoSoldiersAhead(float z)
{
    G.SoldierCount = 2;
    for (int i = 0; i < 2; i++) {
        Soldier* s = G.Soldiers[i];
        s->State = SOLDIER_IDLE;
        s->Frame = 10;
        s->Step = 1;
        s->X = 0;
        s->Z = z;
    }
}

TEST_F(Play, ShotsKillsAndExplosions)
{
    G.F.MenuShown = 0;
    Place(0, 1.25f, -30);
    TwoSoldiersAhead(-20);
    G.Shots->Fire(P1.Position, {0, 1.25f, -29}, nullptr);
    for (int i = 0; i < 12; i++)
        G.Shots->Update();
    EXPECT_EQ(P1.Kills, 2) << "one shot through two soldiers";
    EXPECT_EQ(G.Shots->ExplosionCount, 2);
    EXPECT_EQ(G.Shots->ShotCount, 0);
    EXPECT_EQ(G.Soldiers[0]->State, SOLDIER_DEAD);
    EXPECT_EQ(G.Soldiers[1]->Frame, 178);
    EXPECT_EQ(G.Soldiers[1]->RespawnCountdown, SOLDIER_RESPAWN_TICKS);
    // A dead soldier is passed through; explosions shrink away in 100 ticks.
    G.Shots->Fire(P1.Position, {0, 1.25f, -29}, nullptr);
    for (int i = 0; i < 12; i++)
        G.Shots->Update();
    EXPECT_EQ(G.Shots->ShotCount, 1);
    EXPECT_EQ(P1.Kills, 2);
    G.Shots->ShotCount = 0;
    for (int i = 0; i < 90; i++)
        G.Shots->Update();
    EXPECT_EQ(G.Shots->ExplosionCount, 0);

    // A soldier's shot passes its owner, kills the other soldier without a
    // kill for the player.
    TwoSoldiersAhead(-20);
    G.Soldiers[1]->Z = -10;
    G.Shots->Fire({0, 1.2f, -20}, {0, 1.2f, -19}, G.Soldiers[0]);
    for (int i = 0; i < 12; i++)
        G.Shots->Update();
    EXPECT_NE(G.Soldiers[0]->State, SOLDIER_DEAD);
    EXPECT_EQ(G.Soldiers[1]->State, SOLDIER_DEAD);
    EXPECT_EQ(P1.Kills, 2);

    // Soldiers' shots kill the player only in a run in progress.
    G.SoldierCount = 0;
    struct {
        int32_t BF04_FLAGS::*Flag;
        const char* Name;
    } safe[] = {{&BF04_FLAGS::MenuShown, "menu"},
                {&BF04_FLAGS::Automatic, "automatic"},
                {&BF04_FLAGS::Won, "won"},
                {&BF04_FLAGS::WinCountdown, "win countdown"},
                {nullptr, "playing"}};
    for (const auto& c : safe) {
        G.F = BF04_FLAGS{};
        if (c.Flag)
            G.F.*c.Flag = 1;
        G.Shots->ShotCount = 0;
        G.Shots->Fire({0, 1.2f, -40}, {0, 1.2f, -39}, G.Soldiers[0]);
        for (int i = 0; i < 12; i++)
            G.Shots->Update();
        EXPECT_EQ(P1.State == PLAYER_DYING, c.Flag == nullptr) << c.Name;
    }
    EXPECT_EQ(P1.Deaths, 1);
}

TEST_F(Play, ShotTableRefusesBeyondItsLimit)
{
    for (int i = 0; i < SHOT_MAX + 3; i++)
        G.Shots->Fire({0, 1, 0}, {0, 1, 1}, nullptr);
    EXPECT_EQ(G.Shots->ShotCount, SHOT_MAX);
    EXPECT_EQ(Counters.ShotsRefused, 3u);
}

// The direction the model's forward axis (+x) takes at this heading.
static Vector3 Facing(float heading)
{
    CZMth* mth = G.Engine->Mth;
    Vector3 v = {1, 0, 0};
    mth->SetTranslation(0.0f, 0.0f, 0.0f);
    mth->SetAnglesF(0.0f, heading, 0.0f);
    mth->CalcRotationMatrix();
    mth->RotateCords(&v, &v, 1);
    return v;
}

// The view test soldiers are drawn by: the frustum's planes point in. A
// view from the origin along +z, 90 degrees wide and high, 0.1 to 100.
TEST_F(Play, SphereInViewKeepsWhatReachesIntoTheFrustum)
{
    const float k = std::sqrt(0.5f);
    const Plane planes[6] = {{k, 0, k, 0}, {-k, 0, k, 0}, {0, -k, k, 0}, {0, k, k, 0}, {0, 0, 1, -0.1f}, {0, 0, -1, 100}};
    Plane* frustum = G.Engine->H3d->Frustum;
    const std::vector<Plane> kept(frustum, frustum + 6);
    std::copy(planes, planes + 6, frustum);
    EXPECT_TRUE(SphereInView(0, 0, 50, 1));
    EXPECT_FALSE(SphereInView(0, 0, -5, 1)) << "behind";
    EXPECT_FALSE(SphereInView(-20, 0, 10, 1)) << "left of the view";
    EXPECT_TRUE(SphereInView(-20, 0, 10, 8)) << "its edge reaches in";
    EXPECT_FALSE(SphereInView(0, 30, 20, 2)) << "above";
    EXPECT_FALSE(SphereInView(0, 0, 103, 2)) << "beyond the far plane";
    EXPECT_TRUE(SphereInView(0, 0, 101, 2));
    std::copy(kept.begin(), kept.end(), frustum);
}

TEST_F(Play, SoldiersFaceWhereTheyWalkAndShoot)
{
    const struct {
        float T;
        float Dx, Dz;
    } legs[] = {{0.125f, 0, 1}, {0.375f, 1, 0}, {0.625f, 0, -1}, {0.875f, -1, 0}};
    Soldier* s = G.Soldiers[0];
    for (const auto& leg : legs) {
        s->State = SOLDIER_WALKING;
        s->PathPosition = leg.T;
        s->Update();
        Vector3 f = Facing(s->Heading);
        EXPECT_NEAR(f.x, leg.Dx, 0.02) << "t " << leg.T;
        EXPECT_NEAR(f.z, leg.Dz, 0.02) << "t " << leg.T;
    }
    for (float a = -3.0f; a < 3.2f; a += 0.5f) {
        Vector3 f = Facing(Soldier::HeadingToward(std::cos(a), std::sin(a)));
        EXPECT_NEAR(f.x, std::cos(a), 1e-3);
        EXPECT_NEAR(f.z, std::sin(a), 1e-3);
    }
}

TEST_F(Play, SoldierStatisticsAndPathWrap)
{
    G.SoldierCount = BF04_SOLDIERS;
    for (int i = 0; i < BF04_SOLDIERS; i++) {
        Soldier* s = G.Soldiers[i];
        s->State = SOLDIER_WALKING;
        s->Frame = 40;
        s->Fraction = 0;
    }
    float highest = 0;
    for (int t = 0; t < 100000; t++) {
        for (int i = 0; i < BF04_SOLDIERS; i++) {
            G.Soldiers[i]->Update();
            highest = std::max(highest, G.Soldiers[i]->PathPosition);
        }
        G.Shots->ShotCount = 0;   // only the choices count here
    }
    // About three standard deviations either side.
    ASSERT_GT(Counters.WalkCycles, 2000u);
    ASSERT_GT(Counters.ShotsAlong + Counters.ShotsAtPlayer, 1000u);
    EXPECT_NEAR((double)Counters.WalkToIdle / Counters.WalkCycles, 1.0 / 8, 0.02);
    EXPECT_NEAR((double)Counters.ShotsAlong / (Counters.ShotsAlong + Counters.ShotsAtPlayer), 3.0 / 4, 0.04);
    EXPECT_LE(highest, 1.0001f + 1e-6f) << "the path position passes 1 by one step at most";
}

TEST_F(Play, ClockDigitsAndAdvance)
{
    char d[CLOCK_DIGITS + 1];
    FormatClock(12, 345, d);
    EXPECT_STREQ(d, "00123450");
    FormatClock(75, 7, d);
    EXPECT_STREQ(d, "00750070");
    FormatClock(123456, 999, d);
    EXPECT_STREQ(d, "12349990") << "only the first four characters of the seconds";

    Player p = {};
    p.LastTick = CLOCK_UNSET;
    AdvanceClock(&p, 50000, false);
    EXPECT_EQ(p.Milliseconds, 0u) << "the first frame only takes the time";
    AdvanceClock(&p, 52700, false);
    EXPECT_EQ(p.Seconds, 2) << "a frame of 2.7 s adds each whole second once";
    EXPECT_EQ(p.Milliseconds, 700u);
    AdvanceClock(&p, 53000, false);
    EXPECT_EQ(p.Seconds, 3);
    EXPECT_EQ(p.Milliseconds, 0u) << "1000 ms make a second, never 1000 ms";
    AdvanceClock(&p, 60000, true);
    EXPECT_EQ(p.Seconds, 3) << "frozen while the win runs";

    // Back on the menu, I starts again from 0000 000 0.
    P1.Seconds = 42;
    P1.Milliseconds = 17;
    G.F.MenuShown = 1;
    Hold('I', true);
    UpdatePlayer();
    Hold('I', false);
    EXPECT_EQ(P1.LastTick, CLOCK_UNSET);
    FormatClock(P1.Seconds, P1.Milliseconds, d);
    EXPECT_STREQ(d, "00000000");
}

TEST_F(Play, WinZoneCountdownAndNoScoreInAutomatic)
{
    G.F.MenuShown = 0;
    Place(82.4f, 1.25f, 2.9f);   // in the exit sphere (no ground here: the 1 key holds him)
    Hold(KEY_NOCLIP, true);
    UpdatePlayer();
    EXPECT_EQ(G.F.WinCountdown, 0) << "the 1 key skips the win test";
    Hold(KEY_NOCLIP, false);
    UpdatePlayer();
    EXPECT_EQ(G.F.WinCountdown, WIN_TICKS);
    G.F.Automatic = 1;
    G.F.WinCountdown = 1;
    UpdatePlayer();
    EXPECT_EQ(G.F.Won, 0);
    EXPECT_EQ(Counters.ScoreThreads, 0u);
}

// A score server on 127.0.0.1: accepts one connection, records what it
// reads (up to the blank line), answers or not.
struct Server {
    SOCKET Listen = INVALID_SOCKET;
    unsigned short Port = 0;
    bool Answer = true;
    std::string Request;
    HANDLE Thread = nullptr;
    bool Open()
    {
        Listen = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a = {};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        int len = sizeof a;
        if (bind(Listen, (sockaddr*)&a, sizeof a) || listen(Listen, 1) || getsockname(Listen, (sockaddr*)&a, &len))
            return false;
        Port = ntohs(a.sin_port);
        Thread = CreateThread(nullptr, 0, Run, this, 0, nullptr);
        return true;
    }
    static DWORD WINAPI Run(void* self)
    {
        Server* s = (Server*)self;
        SOCKET c = accept(s->Listen, nullptr, nullptr);
        char b[2048];
        int n;
        while (s->Request.find("\r\n\r\n") == std::string::npos && (n = recv(c, b, sizeof b, 0)) > 0)
            s->Request.append(b, n);
        if (s->Answer)
            send(c, "HTTP/1.0 200 OK\r\n\r\nthanks", 25, 0);
        else
            Sleep(3000);
        closesocket(c);
        return 0;
    }
    void Close()
    {
        WaitForSingleObject(Thread, 10000);
        CloseHandle(Thread);
        closesocket(Listen);
    }
};

TEST_F(Play, ScoreRequestIsSentWhole)
{
    WSADATA data;
    ASSERT_EQ(WSAStartup(0x0202, &data), 0);
    char request[SCORE_REQUEST_BYTES];
    int n = ScoreRequest(request, sizeof request, "127.0.0.1", "a b&c%", 75, 7, 0, 3);
    EXPECT_STREQ(request, "GET http://127.0.0.1/invtro04_scores.php?handle=a%20b%26c%25&time=00750007&kills=0"
                          "&deads=3&password=quibbler HTTP/1.0 \r\n\r\n");
    ScoreRequest(request, sizeof request, SCORE_HOST, "\xE9#+~x.-_", 0, 0, 0, 0);
    EXPECT_NE(strstr(request, "?handle=%E9%23%2B~x.-_&time=00000000&"), nullptr) << request;
    EXPECT_EQ(std::string(request).rfind("GET http://" SCORE_HOST "/invtro04_scores.php?", 0), 0u);
    EXPECT_EQ(ScoreRequest(request, 40, "127.0.0.1", "x", 1, 2, 3, 4), -1) << "too long for the buffer";

    Server server;
    ASSERT_TRUE(server.Open());
    n = ScoreRequest(request, sizeof request, "127.0.0.1", "a b&c%", 75, 7, 0, 3);
    SubmitScoreTo("127.0.0.1", server.Port, request, n);
    server.Close();
    EXPECT_EQ(server.Request, request);

    // No server: the routine gives up at once.
    Server refusing;
    ASSERT_TRUE(refusing.Open());
    unsigned short closed = refusing.Port;
    closesocket(refusing.Listen);
    WaitForSingleObject(refusing.Thread, 5000);
    CloseHandle(refusing.Thread);
    DWORD t0 = GetTickCount();
    SubmitScoreTo("127.0.0.1", closed, request, n);
    EXPECT_LT(GetTickCount() - t0, 3000u);
}

}  // namespace
