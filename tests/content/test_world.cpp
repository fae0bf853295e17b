// The generated world as the build leaves it, read back from its files: the
// game's promises about the level (the start, a walkable route to the exit,
// the patrol, the view of the television after a win), the winding of
// every object for the game's culling, and the figures' frames.
#include "figures.h"
#include "o3d.h"
#include "world.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>

namespace fs = std::filesystem;

namespace {

O3dObject ReadObject(const std::string& name)
{
    std::string rel = name;
    std::replace(rel.begin(), rel.end(), '\\', '/');
    std::vector<uint8_t> bytes;
    O3dObject o;
    EXPECT_EQ(O3dReadFile((fs::path(ZQ_CONTENT_DIR) / "files" / rel).string(), &bytes), "") << name;
    EXPECT_EQ(O3dParseImage(bytes, &o), "") << name;
    return o;
}

std::vector<Vector3> ReadPath(const std::string& name)
{
    std::vector<uint8_t> bytes;
    std::string rel = name;
    std::replace(rel.begin(), rel.end(), '\\', '/');
    EXPECT_EQ(O3dReadFile((fs::path(ZQ_CONTENT_DIR) / "files" / rel).string(), &bytes), "");
    std::vector<Vector3> points;
    int32_t n = 0;
    if (bytes.size() >= 4)
        memcpy(&n, bytes.data(), 4);
    EXPECT_EQ(bytes.size(), 4 + 12 * (size_t)std::max(n, 0)) << name;
    points.resize(std::max(n, 0));
    if (!points.empty() && bytes.size() == 4 + 12 * points.size())
        memcpy(points.data(), bytes.data() + 4, 12 * points.size());
    return points;
}

Vector3 Cross(const O3dObject& o, uint32_t frame, const O3dFace& f, Vector3* centre)
{
    const std::vector<Vector3>& v = o.Frames[frame].Vertices;
    Vector3 a = v[f.Vertex[0]], b = v[f.Vertex[1]], c = v[f.Vertex[2]];
    *centre = {(a.x + b.x + c.x) / 3, (a.y + b.y + c.y) / 3, (a.z + b.z + c.z) / 3};
    Vector3 e1 = {b.x - a.x, b.y - a.y, b.z - a.z}, e2 = {c.x - a.x, c.y - a.y, c.z - a.z};
    return {e1.y * e2.z - e1.z * e2.y, e1.z * e2.x - e1.x * e2.z, e1.x * e2.y - e1.y * e2.x};
}

class World : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        scene = new O3dObject(ReadObject("data\\scene\\scene.3do"));
        collider = new CgCollider(*scene);
        level = new CgLevel;
        CgBuildLevel(level);
    }
    static void TearDownTestSuite()
    {
        delete collider;
        delete scene;
        delete level;
    }
    static O3dObject* scene;
    static CgCollider* collider;
    static CgLevel* level;
};
O3dObject* World::scene;
CgCollider* World::collider;
CgLevel* World::level;

TEST_F(World, PlayerFallsOntoTheFloorAndWalksToTheExit)
{
    float rest = 0;
    EXPECT_EQ(CgCheckStart(*collider, &rest), "");
    EXPECT_NEAR(rest, 2.1f, 0.06f);
    std::vector<Vector3> route;
    EXPECT_EQ(CgCheckRoute(*level, *collider, &route), "");
    EXPECT_GT(route.size(), 100u);
    // The way the player first looks (heading 0 walks +z) is open for a while.
    CgWalker w;
    w.Position = CG_PLAYER_START;
    for (int t = 0; t < 60; t++)
        w.Tick(*collider, 0, 0);
    for (int t = 0; t < 100; t++)
        ASSERT_TRUE(w.Tick(*collider, 0, CG_PLAYER_STEP)) << "blocked after " << t << " steps north";
}

TEST_F(World, WallsBlockLedgesAreClimbedAndCratesBlock)
{
    // Walk each way from the middle of a corridor until something happens.
    auto walk = [&](Vector3 from, float mx, float mz, int ticks) {
        CgWalker w;
        w.Position = from;
        for (int t = 0; t < 60; t++)
            w.Tick(*collider, 0, 0);
        int moved = 0;
        for (int t = 0; t < ticks; t++)
            moved += w.Tick(*collider, mx, mz);
        return std::make_pair(moved, w.Position);
    };
    // West from the ring's west corridor runs into the outer wall.
    auto wall = walk({-98, 2.1f, 75}, -CG_PLAYER_STEP, 0, 200);
    EXPECT_LT(wall.first, 100);
    EXPECT_GT(wall.second.x, -104 + CG_PLAYER_RADIUS - 0.2f);
    // Onto the two-step ledge of the south-west hall: up 0.3, then 0.55.
    auto ledge = walk({-95, 2.1f, 62}, -CG_PLAYER_STEP, 0, 200);
    EXPECT_GT(ledge.second.y, CG_BODY_Y + 0.5f);
    // A crate stops the walk short.
    auto crate = walk({-166, 2.1f, 120}, 0, CG_PLAYER_STEP, 100);
    EXPECT_LT(crate.second.z, 124 - CG_PLAYER_RADIUS + 0.2f);
}

TEST_F(World, PatrolPathIsAClosedWalkClearOfWalls)
{
    std::vector<Vector3> p1 = ReadPath("data\\camera1.tcp"), p2 = ReadPath("data\\camera2.tcp");
    ASSERT_GE(p1.size(), 4u);
    ASSERT_GE(p2.size(), 4u);
    EXPECT_EQ(CgCheckPath(*level, *collider, p1, 3.0f, 0.8f), "");
    EXPECT_EQ(CgCheckPath(*level, *collider, p2, 0.0f, 0.0f), "");
    CgPath path(p1);
    // Closed: the game's blend from the end lands where it started.
    Vector3 a = path.Eval(0.0f), b = path.Eval(0.9999f);
    EXPECT_LT(std::hypot(a.x - b.x, a.z - b.z), 0.5f);
    EXPECT_FLOAT_EQ(a.y, CG_BODY_Y);
    // 10,000 ticks a lap: a walking pace, well under the player's 0.1 a tick.
    float perTick = path.Length() / 10000;
    EXPECT_GT(perTick, 0.02f);
    EXPECT_LT(perTick, 0.06f);
}

TEST_F(World, TelevisionFillsTheWinViewUnobstructed)
{
    float share = 0;
    EXPECT_EQ(CgCheckTelevision(*level, *collider, &share), "");
    EXPECT_GT(share, 0.2f);
    int screen = 0;
    for (const O3dFace& f : scene->Faces)
        screen += f.Material == CG_MAT_TV_SCREEN;
    EXPECT_EQ(screen, 2);
    EXPECT_GE(scene->Materials.size(), 17u);
}

TEST_F(World, FacesAreWoundForTheGamesCulling)
{
    // Level floors are seen from above: (b - a) x (c - a) points away from
    // the viewer, down. The sky from inside, bodies and the explosion
    // (drawn mirrored by the engine's rotation) from outside.
    for (const O3dFace& f : scene->Faces) {
        Vector3 c, n = Cross(*scene, 0, f, &c);
        if (std::fabs(n.y) > 0.9f * std::sqrt(n.x * n.x + n.y * n.y + n.z * n.z)) {
            ASSERT_LT(n.y, 0) << "a floor or top that faces down, at " << c.x << ", " << c.y << ", " << c.z;
        }
    }
    O3dObject sky = ReadObject("data\\envmap\\env.3do"), ball = ReadObject("data\\explosion\\bola.3do");
    for (const O3dFace& f : sky.Faces) {
        Vector3 c, n = Cross(sky, 0, f, &c);
        ASSERT_GT(n.x * c.x + n.y * c.y + n.z * c.z, 0) << "the sky is seen from inside";
    }
    for (const O3dFace& f : ball.Faces) {
        Vector3 c, n = Cross(ball, 0, f, &c);
        ASSERT_GT(n.x * c.x + n.y * c.y + n.z * c.z, 0) << "the explosion is seen from outside";
    }
}

// Largest movement of any vertex between two frames.
float Moved(const O3dObject& o, uint32_t a, uint32_t b)
{
    float m = 0;
    for (size_t i = 0; i < o.Frames[a].Vertices.size(); i++) {
        const Vector3 &p = o.Frames[a].Vertices[i], &q = o.Frames[b].Vertices[i];
        m = std::max(m, std::hypot(p.x - q.x, p.y - q.y, p.z - q.z));
    }
    return m;
}

Vector3 BoxCentre(const O3dObject& o, uint32_t frame, int box)
{
    Vector3 c = {0, 0, 0};
    for (int i = 0; i < CG_BOX_VERTICES; i++) {
        const Vector3& p = o.Frames[frame].Vertices[box * CG_BOX_VERTICES + i];
        c.x += p.x / CG_BOX_VERTICES, c.y += p.y / CG_BOX_VERTICES, c.z += p.z / CG_BOX_VERTICES;
    }
    return c;
}

TEST(Figures, FrameRangesMoveAndTheWeaponStaysInTheHand)
{
    struct Case {
        const char *Body, *Weapon;
        uint32_t Frames, DeathFirst, DeathLast;
    } cases[] = {{"data\\soldier\\soldier.3do", "data\\soldier\\weapon.3do", 184, CG_SOLDIER_DEATH_FIRST,
                  CG_SOLDIER_DEATH_LAST},
                 {"data\\player\\player.3do", "data\\player\\weapon.3do", 178, CG_PLAYER_DEATH_FIRST,
                  CG_PLAYER_DEATH_LAST}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Body);
        O3dObject body = ReadObject(c.Body), gun = ReadObject(c.Weapon);
        ASSERT_GE(body.Frames.size(), c.Frames);
        ASSERT_EQ(gun.Frames.size(), body.Frames.size());
        // Every step of the walk, the aim and the fall moves; the look round
        // moves over its range; the walk closes on itself (44 blends to 45).
        for (uint32_t f = CG_WALK_FIRST; f < CG_WALK_LAST; f++)
            EXPECT_GT(Moved(body, f, f + 1), 1.0f) << "walk frame " << f;
        EXPECT_LT(Moved(body, CG_WALK_LAST + 1, CG_WALK_FIRST), 0.01f);
        for (uint32_t f = CG_SHOOT_FIRST; f < CG_SHOOT_LAST; f++)
            EXPECT_GT(Moved(gun, f, f + 1), 0.2f) << "shoot frame " << f;
        for (uint32_t f = c.DeathFirst; f < c.DeathLast; f++)
            EXPECT_GT(Moved(body, f, f + 1), 2.0f) << "death frame " << f;
        EXPECT_GT(Moved(body, CG_IDLE_FIRST, CG_IDLE_LAST), 2.0f);
        for (uint32_t f = CG_IDLE_FIRST; f < CG_IDLE_LAST; f++)
            EXPECT_LT(Moved(body, f, f + 1), 1.5f) << "idle is calm at frame " << f;
        for (uint32_t f = 0; f < body.Frames.size(); f++) {
            Vector3 hand = BoxCentre(body, f, CG_HAND_BOX), grip = BoxCentre(gun, f, CG_GRIP_BOX);
            ASSERT_LT(std::hypot(hand.x - grip.x, hand.y - grip.y, hand.z - grip.z), 2.0f) << "frame " << f;
            // Standing on the ground (origin 1.2 above it at the game's scale).
            float low = 1e9f;
            for (const Vector3& p : body.Frames[f].Vertices)
                low = std::min(low, p.y);
            ASSERT_NEAR(low, CG_FEET_Y, 0.01f) << "frame " << f;
        }
        // Facing +x: the gun points ahead when aiming.
        Vector3 grip = BoxCentre(gun, CG_SHOOT_LAST, CG_GRIP_BOX), muzzle = BoxCentre(gun, CG_SHOOT_LAST, 2);
        EXPECT_GT(muzzle.x - grip.x, 5.0f);
        // Outward-wound boxes: the engine's rotation mirrors them.
        for (const O3dFace& f : body.Faces) {
            Vector3 cen, n = Cross(body, 0, f, &cen);
            int box = f.Vertex[0] / CG_BOX_VERTICES;
            Vector3 bc = BoxCentre(body, 0, box);
            ASSERT_GT(n.x * (cen.x - bc.x) + n.y * (cen.y - bc.y) + n.z * (cen.z - bc.z), 0);
        }
    }
}

}  // namespace
