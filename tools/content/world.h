// The game's level, built from a grid of square columns: every cell is a
// floor, a ledge, a crate, a pillar or solid wall, with its own top height.
// The same description gives the scene mesh, the camera paths, the map for
// people, and the checks that the game's fixed numbers work in it (the
// player's start, the route to the exit, the soldiers' walk, the view of the
// television after a win). The collision test and the player's ground and
// wall rules here follow the engine's and the game's own, step for step.
#ifndef ZQCONTENT_WORLD_H
#define ZQCONTENT_WORLD_H

#include <cstdint>
#include <string>
#include <vector>

#include "o3d.h"

// The game's fixed numbers.
#define CG_FLOOR_Y 0.9f                 // walkable ground
#define CG_BODY_Y 2.1f                  // soldiers' and the resting player's centre
#define CG_PLAYER_RADIUS 1.2f
#define CG_STEP_LIMIT 0.3f              // higher than this is a wall
#define CG_PLAYER_STEP 0.1f             // per tick
extern const Vector3 CG_PLAYER_START;   // heading 0
extern const Sphere3 CG_EXIT;
extern const Vector3 CG_WIN_POSITION;   // heading target 342
#define CG_WIN_HEADING 342
#define CG_FOV_X 60.0f
#define CG_FOV_Y 45.0f

// Grid: 2-unit cells from (CG_GRID_X0, CG_GRID_Z0).
#define CG_CELL 2.0f
#define CG_GRID_X0 -200.0f
#define CG_GRID_Z0 -30.0f
#define CG_GRID_NX 160
#define CG_GRID_NZ 100

enum CgCellKind : uint8_t { CG_WALL, CG_CORRIDOR, CG_HALL, CG_LEDGE, CG_CRATE, CG_PILLAR, CG_EXITPAD };

struct CgCell {
    CgCellKind Kind = CG_WALL;
    float Top = 0;
};

// Scene materials, in file order; the game draws the television's screen
// with material 16 (text page over TV noise).
enum CgSceneMaterial {
    CG_MAT_CORRIDOR_FLOOR, CG_MAT_HALL_FLOOR, CG_MAT_LEDGE_TOP,
    CG_MAT_WALL_N, CG_MAT_WALL_E, CG_MAT_WALL_S, CG_MAT_WALL_W,   // by the way the face looks (+z, +x, -z, -x)
    CG_MAT_PILLAR, CG_MAT_LEDGE_SIDE, CG_MAT_CRATE_SIDE, CG_MAT_CRATE_TOP, CG_MAT_EXIT_PAD,
    CG_MAT_TV_CASE, CG_MAT_TV_BACK, CG_MAT_HALL_WALL_N, CG_MAT_HALL_WALL_E, CG_MAT_TV_SCREEN,
    CG_MAT_HALL_WALL_S, CG_MAT_HALL_WALL_W,
    CG_SCENE_MATERIALS
};
static_assert(CG_MAT_TV_SCREEN == 16, "the game addresses the television as material 16");

struct CgTriangle {
    Vector3 P[3];
};

struct CgLevel {
    CgCell Cells[CG_GRID_NZ][CG_GRID_NX];
    // The television: screen centre, its horizontal axis (left to right as
    // the win camera sees it), the way it faces, width and height.
    Vector3 TvCentre, TvAcross, TvFacing;
    float TvWidth, TvHeight;

    // The two camera paths' control points (".tcp": count, then points).
    std::vector<Vector3> Path1, Path2;
};

void CgBuildLevel(CgLevel* level);
bool CgCellAt(const CgLevel& level, float x, float z, int* i, int* j);
// The cell's top where (x, z) falls; a wall outside the grid.
const CgCell& CgCellUnder(const CgLevel& level, float x, float z);

// The scene object (one frame, world coordinates).
void CgBuildSceneMesh(const CgLevel& level, O3dObject* scene);

// Appends a quad (corners in order round its edge) to frame 0 as two
// triangles that a viewer on the side `facing` points to sees. The game
// culls clockwise triangles. Objects it draws with their own rotation
// (bodies, weapons, the explosion) are `mirrored`: the engine's rotation
// at angles 0 exchanges x and z, so their triangles wind the other way.
void CgQuad(O3dObject* o, const Vector3 p[4], const float uv[8], Vector3 facing, uint32_t material,
            bool mirrored = false);

// ".tcp" bytes and the game's evaluation of a path (Catmull-Rom spline of
// 50 points a span, closing from its last point back to its first).
std::vector<uint8_t> CgPathFile(const std::vector<Vector3>& points);
struct CgPath {
    std::vector<Vector3> Spline;
    explicit CgPath(const std::vector<Vector3>& control, int segments = 50);
    Vector3 Eval(float t) const;
    float Length() const;
};

// Collision against the scene's triangles, as the engine tests a sphere
// against a level (every triangle, first frame, no rotation).
class CgCollider {
public:
    explicit CgCollider(const O3dObject& scene);
    // Another test in place of the triangles here (the engine's octree
    // test, under Wine); Blocked is not available then.
    typedef bool (*SphereTest)(void* context, const Sphere3& s);
    CgCollider(SphereTest test, void* context) : Test(test), Context(context), NX(0), NZ(0), X0(0), Z0(0) {}
    bool Touches(const Sphere3& s) const;
    // True when the segment meets a triangle other than those of material
    // `except` (the engine's segment-triangle test).
    bool Blocked(const Vector3& a, const Vector3& b, uint32_t except) const;

    std::vector<CgTriangle> Tris;
    std::vector<uint32_t> Materials;

private:
    static const int BUCKET = 4;   // units of each bucket's side
    SphereTest Test = nullptr;
    void* Context = nullptr;
    int NX, NZ;
    float X0, Z0;
    std::vector<std::vector<uint32_t>> Buckets;
    void CG_Range(float x0, float z0, float x1, float z1, int* i0, int* j0, int* i1, int* j1) const;
};

bool CgSphereTouchesTriangle(const Sphere3& s, const CgTriangle& t);
bool CgSegmentHitsTriangle(const Vector3& a, const Vector3& b, const CgTriangle& t);

// The player's ground and wall handling for one tick. `move` is the step
// taken this tick (zero when standing); returns false when a wall undid it.
struct CgWalker {
    Vector3 Position;
    float FallSpeed = 0;
    bool Tick(const CgCollider& scene, float moveX, float moveZ);
};

// The integer-angle tables the game's headings go through.
float CgSin512(int angle);
float CgCos512(int angle);
// The chase camera for a player standing at `position` with heading `h`.
void CgChaseCamera(const Vector3& position, int heading, int bob, Vector3* eye, Vector3* target);

// The level's promises, each an empty string or what is wrong.
std::string CgCheckStart(const CgCollider& scene, float* restY);
std::string CgCheckRoute(const CgLevel& level, const CgCollider& scene, std::vector<Vector3>* route);
std::string CgCheckPath(const CgLevel& level, const CgCollider& scene, const std::vector<Vector3>& control,
                        float raise, float share);
// The share of the screen the television's screen covers from the win camera.
std::string CgCheckTelevision(const CgLevel& level, const CgCollider& scene, float* share);

#endif
