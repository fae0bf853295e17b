// The autopilot: plays a whole run of the real game from outside. It plans
// a route from the start to the exit over the level (the container's scene
// and octree, walked under the player's ground and wall rule), starts a run
// with key presses posted to the game window, steers along the route from
// the published position and heading, stops to shoot the first soldier in
// sight, wins, and checks the request the score server recorded against
// the game's counters. Run by run_scorehost.sh, which points the score
// server's name at a local server: test_autopilot OUTFOLDER (screenshots,
// the recorded request in OUTFOLDER\request.txt; the folder comes in
// BF04_TEST_OUT).
#include <gtest/gtest.h>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <deque>
#include <map>
#include <string>
#include <vector>
#include "actors.h"
#include "drive.h"

#define AUTOPILOT_HOST "scores.brolfest.example"

namespace {

std::string g_out;

// The level as the game collides with it.
struct Level {
    CZarquel* Engine = nullptr;
    unsigned long Octree = 0;
    bool Touches(Vector3 c, float r)
    {
        Sphere3 s = {c, r};
        return Engine->OctreeAABB->TestAABBWithSphere(Octree, &s, true);
    }
    // One tick of the player's ground and wall rule; false when a step was undone.
    bool Tick(Vector3* p, float* fall, float mx, float mz)
    {
        p->x += mx;
        p->z += mz;
        Vector3 s = *p;
        if (Touches(s, PLAYER_RADIUS)) {
            int raises = 0;
            do {
                s.y += PLAYER_RAISE;
                raises++;
            } while (raises < PLAYER_RAISE_TRIES && Touches(s, PLAYER_RADIUS));
            if (raises > PLAYER_STEP_LIMIT) {
                p->x -= mx;
                p->z -= mz;
                return !(mx || mz);
            }
            p->y = s.y;
            return true;
        }
        s.y -= *fall;
        if (Touches(s, PLAYER_RADIUS)) {
            for (int n = 0; n < PLAYER_LAND_TRIES && Touches(s, PLAYER_RADIUS); n++)
                s.y += PLAYER_RAISE;
            *fall = PLAYER_FALL_FIRST;
        } else {
            *fall = std::min(*fall + PLAYER_FALL_FIRST, PLAYER_FALL_MAX);
        }
        p->y = s.y;
        return true;
    }
    // A shot's flight at its height, in half-unit steps.
    bool Clear(Vector3 a, Vector3 b)
    {
        float dx = b.x - a.x, dz = b.z - a.z, d = std::sqrt(dx * dx + dz * dz);
        for (float t = 1.5f; t < d - 1.5f; t += 0.5f)
            if (Touches({a.x + dx * t / d, SHOT_HEIGHT, a.z + dz * t / d}, SHOT_RADIUS))
                return false;
        return true;
    }
};

// Breadth-first over a one-unit lattice from the start; each move is ten
// ticks in one of the four headings. Returns the places in walking order.
std::vector<Vector3> PlanRoute(Level& level, Vector3 start, Vector3 exit, float reach)
{
    struct Node {
        Vector3 P;
        float Fall;
        int Parent;
    };
    float fall = 0;
    for (int t = 0; t < 80; t++)
        level.Tick(&start, &fall, 0, 0);
    std::vector<Node> nodes = {{start, fall, -1}};
    std::map<std::pair<int, int>, int> seen = {{{0, 0}, 0}};
    const float dirs[4][2] = {{0, 1}, {1, 0}, {0, -1}, {-1, 0}};
    for (size_t n = 0; n < nodes.size(); n++) {
        Vector3 p = nodes[n].P;
        if (std::hypot(p.x - exit.x, p.z - exit.z) < reach) {
            std::vector<Vector3> route;
            for (int k = (int)n; k >= 0; k = nodes[k].Parent)
                route.insert(route.begin(), nodes[k].P);
            return route;
        }
        for (const auto& d : dirs) {
            Vector3 q = p;
            float f = nodes[n].Fall;
            bool ok = true;
            for (int t = 0; t < 10 && ok; t++)
                ok = level.Tick(&q, &f, d[0] * PLAYER_STEP, d[1] * PLAYER_STEP);
            int i = (int)std::lround(q.x - start.x), j = (int)std::lround(q.z - start.z);
            if (!ok || seen.count({i, j}))
                continue;
            q.x = start.x + i;
            q.z = start.z + j;
            seen[{i, j}] = (int)nodes.size();
            nodes.push_back({q, f, (int)n});
        }
    }
    return {};
}

// Integer heading (1/512 turn) that walks toward (dx, dz): the game walks
// along (-sin h, cos h).
float HeadingToward(float dx, float dz) { return std::atan2(-dx, dz) * 256.0f / 3.14159265f; }
float Wrap(float a)
{
    while (a >= 256)
        a -= 512;
    while (a < -256)
        a += 512;
    return a;
}

struct Pilot {
    ~Pilot() { DriveClose(&Run); }   // a failed run leaves no game behind
    DriveRun Run = {};
    HWND Window = nullptr;
    bool Down[256] = {};
    int Shots = 0;
    void Key(int key, bool down)
    {
        if (Down[key] != down)
            DriveKey(Window, key, down);
        Down[key] = down;
    }
    void Let(int keep)
    {
        for (int k : {KEY_LEFT, KEY_RIGHT, KEY_UP, KEY_SPACE})
            if (k != keep)
                Key(k, false);
    }
    const BF04_PLAY& Play() const { return Run.Probe->Play; }
    Vector3 At() const { return {Play().Position[0], Play().Position[1], Play().Position[2]}; }
    // Turns toward heading h; true once there.
    bool Face(float h, float within)
    {
        float e = Wrap(h - Play().HeadingTarget);
        if (std::fabs(e) <= within) {
            Key(KEY_LEFT, false);
            Key(KEY_RIGHT, false);
            return true;
        }
        Key(KEY_UP, false);
        Key(e > 0 ? KEY_LEFT : KEY_RIGHT, true);
        Key(e > 0 ? KEY_RIGHT : KEY_LEFT, false);
        return false;
    }
    void Shot(const char* what)
    {
        DriveImage image;
        char path[512];
        snprintf(path, sizeof path, "%s\\%02d-%s.bmp", g_out.c_str(), Shots++, what);
        if (DriveScreenshot(&image))
            DriveSaveBmp(image, path);
    }
};

TEST(Autopilot, WalksShootsWinsAndTheScoreArrives)
{
    const char* out = getenv("BF04_TEST_OUT");
    g_out = out ? out : ".";
    CreateDirectoryA(g_out.c_str(), nullptr);
    Level level;
    level.Engine = new CZarquel;
    level.Engine->Mem->InitHeap(64u << 20);
    level.Engine->Xfs->OpenMasterFile("data.tmf");
    unsigned long scene = level.Engine->O3d->LoadObject("data\\scene\\scene.3do");
    level.Engine->OctreeAABB->Init(level.Engine->O3d->GetNumberOfFaces(scene));
    level.Octree = level.Engine->OctreeAABB->LoadAABBOctree(scene, "data\\scene\\scene.oct");
    level.Engine->Xfs->CloseMasterFile();   // the game opens it next
    const Vector3 start = {-174.979f, 3.1f, 119.984f}, exit = {82.4f, 0.0f, 2.9f};
    std::vector<Vector3> route = PlanRoute(level, start, exit, 3.0f);
    ASSERT_FALSE(route.empty()) << "no route from the start to the exit";
    // Keep the corners.
    std::vector<Vector3> ways;
    for (size_t i = 1; i < route.size(); i++) {
        bool corner = i + 1 == route.size();
        if (!corner) {
            float ax = route[i].x - route[i - 1].x, az = route[i].z - route[i - 1].z;
            float bx = route[i + 1].x - route[i].x, bz = route[i + 1].z - route[i].z;
            corner = std::fabs(ax - bx) > 0.1f || std::fabs(az - bz) > 0.1f;
        }
        if (corner)
            ways.push_back(route[i]);
    }
    ways.push_back(exit);
    printf("autopilot: a route of %zu places, %zu corners\n", route.size(), ways.size());

    Pilot pilot;
    HWND dialog;
    ASSERT_TRUE(DriveOpenGame(&pilot.Run, &dialog, nullptr));
    Sleep(500);   // the dialog takes its first messages
    const char* handle = "a b&c%";
    DriveSetText(dialog, 1000, handle);
    DriveClick(dialog, 1002);
    DriveClick(dialog, IDOK);
    BF04_PROBE* probe = pilot.Run.Probe;
    for (int i = 0; i < 4800 && probe->Frames < 3; i++)
        Sleep(50);
    ASSERT_GE(probe->Frames, 3u) << "the game did not reach its frame loop";
    pilot.Window = (HWND)(uintptr_t)probe->Window;
    pilot.Shot("menu");
    DrivePress(pilot.Window, 'I', 100);
    for (int i = 0; i < 200 && probe->Flags.MenuShown; i++)
        Sleep(20);
    ASSERT_EQ(probe->Flags.MenuShown, 0);

    size_t next = 0;
    bool hunted = false;
    int32_t kills0 = pilot.Play().Kills;
    DWORD t0 = GetTickCount(), lastShot = t0, huntStart = 0, progressAt = t0, fireAt = 0;
    float best = 1e9f;
    int target = -1;
    while (!probe->Flags.WinCountdown && !probe->Flags.Won && GetTickCount() - t0 < 240000) {
        Sleep(4);
        if (GetTickCount() - lastShot > 5000) {
            pilot.Shot(hunted ? "walking" : "hunting");
            lastShot = GetTickCount();
        }
        const BF04_PLAY& p = pilot.Play();
        Vector3 at = pilot.At();
        if (p.State == PLAYER_DYING) {
            pilot.Let(0);
            continue;
        }
        // The first soldier in sight within 30 units: stop and shoot it.
        if (!hunted && target < 0) {
            for (int i = 0; i < BF04_PROBE_SOLDIERS; i++) {
                Vector3 s = {p.SoldierX[i], 2.1f, p.SoldierZ[i]};
                if (p.SoldierState[i] != SOLDIER_DEAD && std::hypot(s.x - at.x, s.z - at.z) < 30.0f &&
                    level.Clear(at, s)) {
                    target = i;
                    huntStart = GetTickCount();
                    break;
                }
            }
        }
        if (target >= 0) {
            Vector3 s = {p.SoldierX[target], 2.1f, p.SoldierZ[target]};
            bool lost = p.SoldierState[target] == SOLDIER_DEAD || GetTickCount() - huntStart > 8000 ||
                        !level.Clear(at, s);
            if (p.Kills > kills0 || lost) {
                hunted = p.Kills > kills0;
                if (hunted)
                    pilot.Shot("hit");
                target = -1;
                pilot.Let(0);
                continue;
            }
            pilot.Key(KEY_UP, false);
            // Press, let go, press again; slowly enough for the game's
            // queue, which takes one message per render pass.
            if (pilot.Face(HeadingToward(s.x - at.x, s.z - at.z), 2.0f) && GetTickCount() - fireAt > 100) {
                pilot.Key(KEY_SPACE, !pilot.Down[KEY_SPACE]);
                fireAt = GetTickCount();
            }
            continue;
        }
        pilot.Key(KEY_SPACE, false);
        Vector3 w = ways[next];
        float d = std::hypot(w.x - at.x, w.z - at.z);
        if (d < 0.6f && next + 1 < ways.size()) {
            next++;
            best = 1e9f;
            progressAt = GetTickCount();
            continue;
        }
        if (d < best - 0.5f) {
            best = d;
            progressAt = GetTickCount();
        }
        ASSERT_LT(GetTickCount() - progressAt, 20000u) << "stuck at " << at.x << ", " << at.z << " on the way to "
                                                        << w.x << ", " << w.z;
        bool facing = pilot.Face(HeadingToward(w.x - at.x, w.z - at.z), 3.0f);
        pilot.Key(KEY_UP, facing);
    }
    pilot.Let(0);
    ASSERT_TRUE(probe->Flags.WinCountdown || probe->Flags.Won) << "the exit was not reached";
    pilot.Shot("exit");
    EXPECT_GT(pilot.Play().Kills, 0) << "no soldier was shot";
    for (int i = 0; i < 1000 && !probe->Flags.Won; i++)
        Sleep(20);
    ASSERT_EQ(probe->Flags.Won, 1);
    pilot.Shot("won");
    const BF04_PLAY& p = pilot.Play();
    EXPECT_EQ(p.ScoreThreads, 1u);

    // The request, as the local server recorded it.
    std::string request;
    std::string file = g_out + "\\request.txt";
    for (int i = 0; i < 500 && request.find("\r\n\r\n") == std::string::npos; i++) {
        Sleep(20);
        FILE* f = fopen(file.c_str(), "rb");
        if (!f)
            continue;
        char b[2048];
        size_t n = fread(b, 1, sizeof b, f);
        fclose(f);
        request.assign(b, n);
    }
    char expected[1100];
    snprintf(expected, sizeof expected,
             "GET http://" AUTOPILOT_HOST "/invtro04_scores.php?handle=a%%20b%%26c%%25&time=%04d%04d&kills=%d"
             "&deads=%d&password=quibbler HTTP/1.0 \r\n\r\n",
             p.Seconds, p.Milliseconds, p.Kills, p.Deaths);
    EXPECT_EQ(request, expected);
    printf("autopilot: won in %d.%03u s with %d kills and %d deaths\n", p.Seconds, p.Milliseconds, p.Kills,
           p.Deaths);
    DrivePress(pilot.Window, VK_ESCAPE, 100);
    for (int i = 0; i < 500 && !probe->Flags.MenuShown; i++)
        Sleep(20);
    EXPECT_EQ(probe->Flags.MenuShown, 1) << "Esc returns to the menu";
    DrivePress(pilot.Window, VK_ESCAPE, 100);
    EXPECT_EQ(DriveWaitExit(&pilot.Run, 30000), 0);
}

}  // namespace
