#include "world.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <deque>
#include <map>

const Vector3 CG_PLAYER_START = {-174.979f, 3.1f, 119.984f};
const Sphere3 CG_EXIT = {{82.4f, 0.0f, 2.9f}, 3.0f};
const Vector3 CG_WIN_POSITION = {82.54f, 2.1f, 1.969f};

// Heights above the floor.
static const float CG_WALL_H = 8.0f, CG_CRATE_H = 2.4f, CG_LEDGE_H = 0.3f, CG_LEDGE2_H = 0.55f;
// Largest floor or wall quad side: the game's fog is computed per vertex.
static const int CG_QUAD_CELLS = 2;
// The television: its screen's distance from the win camera (horizontal),
// its size (4:3 like the pages) and the height of its lower edge.
static const float CG_TV_DISTANCE = 11.0f, CG_TV_W = 6.8f, CG_TV_BOTTOM = 0.25f, CG_TV_BORDER = 0.4f,
                   CG_TV_DEPTH = 0.8f;

// Not M_PI: the Windows test build compiles this file in strict mode.
static const double CG_PI = 3.14159265358979323846;

static Vector3 V3(float x, float y, float z) { return {x, y, z}; }
static Vector3 Add(Vector3 a, Vector3 b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
static Vector3 Sub(Vector3 a, Vector3 b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
static Vector3 Mul(Vector3 a, float k) { return {a.x * k, a.y * k, a.z * k}; }
static float Dot(Vector3 a, Vector3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
static Vector3 Cross(Vector3 a, Vector3 b) { return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x}; }
static float Len(Vector3 a) { return std::sqrt(Dot(a, a)); }
static Vector3 Unit(Vector3 a)
{
    float l = Len(a);
    return l > 0 ? Mul(a, 1.0f / l) : V3(1, 1, 1);
}

// ---------------------------------------------------------------------------
// Layout

static void CG_Carve(CgLevel* l, float x0, float z0, float x1, float z1, CgCellKind kind, float height)
{
    for (int j = 0; j < CG_GRID_NZ; j++)
        for (int i = 0; i < CG_GRID_NX; i++) {
            float cx = CG_GRID_X0 + (i + 0.5f) * CG_CELL, cz = CG_GRID_Z0 + (j + 0.5f) * CG_CELL;
            if (cx > x0 && cx < x1 && cz > z0 && cz < z1)
                l->Cells[j][i] = {kind, CG_FLOOR_Y + height};
        }
}

float CgSin512(int angle) { return (float)std::sin((angle & 511) * CG_PI / 256.0); }
float CgCos512(int angle) { return (float)std::cos((angle & 511) * CG_PI / 256.0); }

// The game's rotation of (0, y, z) by an integer heading plus a quarter turn
// (its matrix with the first and third angles 0).
static Vector3 CG_Rotate(int heading, float y, float z)
{
    float sB = CgSin512(heading + 128), cB = CgCos512(heading + 128);
    return {cB * z, y, sB * z};
}

void CgChaseCamera(const Vector3& p, int heading, int bob, Vector3* eye, Vector3* target)
{
    *target = Add(p, V3(0, 0.9f, 0));
    *eye = Add(CG_Rotate(heading, 1.5f, -5.2f), p);
    eye->x += CgSin512(bob);
    eye->y += CgCos512(bob) * 0.2f;
}

// Loop control points for a ".tcp" path: the loop's points with the last
// one before and the first two after, so that the spline runs the whole
// loop and the game's closing blend lands on its start.
static std::vector<Vector3> CG_Closed(const std::vector<Vector3>& loop)
{
    std::vector<Vector3> p;
    p.push_back(loop.back());
    p.insert(p.end(), loop.begin(), loop.end());
    p.push_back(loop[0]);
    p.push_back(loop[1]);
    return p;
}

// A rectangular loop along corridor centre lines, corners cut at 45
// degrees so the spline keeps to the corridor.
static std::vector<Vector3> CG_RoundedLoop(const std::vector<Vector3>& corners, float y)
{
    std::vector<Vector3> loop;
    size_t n = corners.size();
    for (size_t c = 0; c < n; c++) {
        Vector3 prev = corners[(c + n - 1) % n], at = corners[c], next = corners[(c + 1) % n];
        Vector3 a = Unit(Sub(at, prev)), b = Unit(Sub(next, at));
        loop.push_back(Sub(at, Mul(a, 5.0f)));
        loop.push_back(Add(Sub(at, Mul(a, 1.5f)), Mul(b, 1.5f)));
        loop.push_back(Add(at, Mul(b, 5.0f)));
        loop.push_back(Mul(Add(at, next), 0.5f));
    }
    for (Vector3& p : loop)
        p.y = y;
    return loop;
}

void CgBuildLevel(CgLevel* l)
{
    for (auto& row : l->Cells)
        for (CgCell& c : row)
            c = {CG_WALL, CG_FLOOR_Y + CG_WALL_H};
    // The start hall, facing north into it; its north end turns east.
    CG_Carve(l, -190, 100, -160, 150, CG_HALL, 0);
    CG_Carve(l, -160, 140, -104, 152, CG_CORRIDOR, 0);
    // The patrol ring around a solid block, with halls at two corners.
    CG_Carve(l, -104, 46, 4, 156, CG_CORRIDOR, 0);
    CG_Carve(l, -92, 58, -8, 144, CG_WALL, CG_WALL_H);
    CG_Carve(l, -20, 128, 16, 162, CG_HALL, 0);
    CG_Carve(l, -116, 36, -80, 70, CG_HALL, 0);
    // Down from the ring's south-east corner and east to the exit hall.
    CG_Carve(l, -8, 14, 4, 46, CG_CORRIDOR, 0);
    CG_Carve(l, -8, 14, 64, 26, CG_CORRIDOR, 0);
    CG_Carve(l, 60, -22, 104, 32, CG_HALL, 0);
    // Ledges one or two steps up.
    CG_Carve(l, -190, 134, -180, 150, CG_LEDGE, CG_LEDGE_H);
    CG_Carve(l, -190, 142, -184, 150, CG_LEDGE, CG_LEDGE2_H);
    CG_Carve(l, -116, 36, -106, 70, CG_LEDGE, CG_LEDGE_H);
    CG_Carve(l, -116, 40, -110, 66, CG_LEDGE, CG_LEDGE2_H);
    CG_Carve(l, 60, -22, 72, -10, CG_LEDGE, CG_LEDGE_H);
    // Crates to hide behind, clear of the patrol line.
    const float crates[][4] = {{-184, 112, -180, 116}, {-168, 124, -164, 128}, {-166, 104, -162, 108},
                               {-132, 148, -128, 152}, {-104, 90, -102, 94},   {-104, 110, -100, 114},
                               {-60, 46, -56, 48},     {-30, 56, -26, 58},     {2, 80, 4, 84},
                               {-60, 154, -56, 156},   {8, 150, 12, 154},      {8, 154, 12, 158},
                               {96, 22, 100, 26},      {62, 24, 66, 28},       {-114, 72, -110, 68},
                               {-88, 36, -84, 40},     {100, 26, 104, 30},     {-2, 18, 2, 22}};
    for (const auto& c : crates)
        CG_Carve(l, std::min(c[0], c[2]), std::min(c[1], c[3]), std::max(c[0], c[2]), std::max(c[1], c[3]),
                 CG_CRATE, CG_CRATE_H);
    const float pillars[][2] = {{12, 132}, {12, 140}, {-18, 158}, {-176, 140}, {-170, 140}, {-86, 66},
                                {70, 28},  {100, -20}};
    for (const auto& p : pillars)
        CG_Carve(l, p[0], p[1], p[0] + 2, p[1] + 2, CG_PILLAR, CG_WALL_H);
    // The exit's glowing pad.
    for (int j = 0; j < CG_GRID_NZ; j++)
        for (int i = 0; i < CG_GRID_NX; i++) {
            float cx = CG_GRID_X0 + (i + 0.5f) * CG_CELL, cz = CG_GRID_Z0 + (j + 0.5f) * CG_CELL;
            if (std::hypot(cx - CG_EXIT.Center.x, cz - CG_EXIT.Center.z) < 3.2f && l->Cells[j][i].Kind == CG_HALL)
                l->Cells[j][i].Kind = CG_EXITPAD;
        }

    // The television stands where the win camera looks, square to its view.
    Vector3 eye, target;
    CgChaseCamera(CG_WIN_POSITION, CG_WIN_HEADING, 128, &eye, &target);   // bob 128: no sideways sway
    Vector3 look = Unit(V3(target.x - eye.x, 0, target.z - eye.z));
    l->TvWidth = CG_TV_W;
    l->TvHeight = CG_TV_W * 0.75f;
    l->TvFacing = Mul(look, -1.0f);
    // Left to right as seen from the camera (left-handed: right = up x forward).
    l->TvAcross = Unit(Cross(V3(0, 1, 0), look));
    l->TvCentre = V3(eye.x + look.x * CG_TV_DISTANCE, CG_FLOOR_Y + CG_TV_BOTTOM + l->TvHeight * 0.5f,
                     eye.z + look.z * CG_TV_DISTANCE);

    l->Path1 = CG_Closed(CG_RoundedLoop({V3(-98, 0, 52), V3(-98, 0, 150), V3(-2, 0, 150), V3(-2, 0, 52)}, CG_BODY_Y));
    l->Path2 = CG_Closed({V3(-177, 4, 106), V3(-177, 4, 128), V3(-172, 4, 132), V3(-170, 4, 118), V3(-172, 4, 108)});
}

bool CgCellAt(const CgLevel&, float x, float z, int* i, int* j)
{
    *i = (int)std::floor((x - CG_GRID_X0) / CG_CELL);
    *j = (int)std::floor((z - CG_GRID_Z0) / CG_CELL);
    return *i >= 0 && *j >= 0 && *i < CG_GRID_NX && *j < CG_GRID_NZ;
}

const CgCell& CgCellUnder(const CgLevel& level, float x, float z)
{
    static const CgCell outside = {CG_WALL, CG_FLOOR_Y + CG_WALL_H};
    int i, j;
    return CgCellAt(level, x, z, &i, &j) ? level.Cells[j][i] : outside;
}

// ---------------------------------------------------------------------------
// Mesh

// A visible triangle's (b - a) x (c - a) points away from its viewer (so
// the engine's normals with the flip on point out), or toward it when the
// object is mirrored.
void CgQuad(O3dObject* o, const Vector3 p[4], const float uv[8], Vector3 facing, uint32_t material, bool mirrored)
{
    O3dFrame& f = o->Frames[0];
    uint32_t base = (uint32_t)f.Vertices.size();
    for (int k = 0; k < 4; k++) {
        f.Vertices.push_back(p[k]);
        f.Normals.push_back(facing);
    }
    const int tris[2][3] = {{0, 1, 2}, {0, 2, 3}};
    for (const auto& t : tris) {
        int a = t[0], b = t[1], c = t[2];
        Vector3 n = Cross(Sub(p[b], p[a]), Sub(p[c], p[a]));
        if (Dot(n, n) < 1e-12f)
            continue;   // a corner of a sphere's pole: no area, nothing to draw
        if ((Dot(n, facing) > 0) != mirrored)
            std::swap(b, c);
        O3dFace face;
        int corner[3] = {a, b, c};
        for (int k = 0; k < 3; k++) {
            face.Vertex[k] = base + corner[k];
            face.Map[k * 2] = uv[corner[k] * 2];
            face.Map[k * 2 + 1] = uv[corner[k] * 2 + 1];
        }
        face.Material = material;
        o->Faces.push_back(face);
    }
}

static uint32_t CG_TopMaterial(CgCellKind k)
{
    switch (k) {
    case CG_CORRIDOR: return CG_MAT_CORRIDOR_FLOOR;
    case CG_HALL: return CG_MAT_HALL_FLOOR;
    case CG_LEDGE: return CG_MAT_LEDGE_TOP;
    case CG_CRATE: return CG_MAT_CRATE_TOP;
    case CG_EXITPAD: return CG_MAT_EXIT_PAD;
    default: return CG_MAT_PILLAR;
    }
}

// dir: 0 looks +z, 1 +x, 2 -z, 3 -x.
static uint32_t CG_SideMaterial(CgCellKind high, CgCellKind low, int dir)
{
    switch (high) {
    case CG_WALL:
        if (low == CG_HALL || low == CG_EXITPAD || low == CG_LEDGE) {
            static const uint32_t hall[4] = {CG_MAT_HALL_WALL_N, CG_MAT_HALL_WALL_E, CG_MAT_HALL_WALL_S,
                                             CG_MAT_HALL_WALL_W};
            return hall[dir];
        }
        return (uint32_t)(CG_MAT_WALL_N + dir);
    case CG_CRATE: return CG_MAT_CRATE_SIDE;
    case CG_LEDGE: return CG_MAT_LEDGE_SIDE;
    default: return CG_MAT_PILLAR;
    }
}

// Height of a side face's texture: walls and pillars show their whole
// height, crates one crate, ledges the band of stripes.
static float CG_SideSpan(CgCellKind high)
{
    return high == CG_CRATE ? CG_CRATE_H : high == CG_LEDGE ? 1.2f : CG_WALL_H;
}

static void CG_Box(O3dObject* o, Vector3 centre, Vector3 across, Vector3 facing, float w, float y0, float y1,
                   float depth, uint32_t front, uint32_t back, uint32_t sides)
{
    Vector3 c0 = Add(centre, Mul(facing, -depth));   // back plane centre
    auto at = [&](Vector3 base, float a, float y) { return V3(base.x + across.x * a, y, base.z + across.z * a); };
    float h = w * 0.5f;
    const float uv[8] = {0, 0, 1, 0, 1, 1, 0, 1};
    Vector3 f[4] = {at(centre, -h, y1), at(centre, h, y1), at(centre, h, y0), at(centre, -h, y0)};
    Vector3 b[4] = {at(c0, h, y1), at(c0, -h, y1), at(c0, -h, y0), at(c0, h, y0)};
    CgQuad(o, f, uv, facing, front);
    CgQuad(o, b, uv, Mul(facing, -1), back);
    Vector3 l[4] = {at(c0, -h, y1), at(centre, -h, y1), at(centre, -h, y0), at(c0, -h, y0)};
    Vector3 r[4] = {at(centre, h, y1), at(c0, h, y1), at(c0, h, y0), at(centre, h, y0)};
    Vector3 t[4] = {at(c0, -h, y1), at(c0, h, y1), at(centre, h, y1), at(centre, -h, y1)};
    CgQuad(o, l, uv, Mul(across, -1), sides);
    CgQuad(o, r, uv, across, sides);
    CgQuad(o, t, uv, V3(0, 1, 0), sides);
}

void CgBuildSceneMesh(const CgLevel& l, O3dObject* o)
{
    *o = O3dObject();
    o->Name = "scene";
    o->Frames.resize(1);
    o->Materials.resize(CG_SCENE_MATERIALS);
    for (ZO3D_MATERIAL& m : o->Materials)
        m.Type = ZO3D_MAT_TEXTURED;
    auto cx = [](int i) { return CG_GRID_X0 + i * CG_CELL; };
    auto cz = [](int j) { return CG_GRID_Z0 + j * CG_CELL; };

    // Tops of everything below wall height, in quads of up to 2 x 2 cells.
    static bool done[CG_GRID_NZ][CG_GRID_NX];
    memset(done, 0, sizeof(done));
    for (int j = 0; j < CG_GRID_NZ; j++)
        for (int i = 0; i < CG_GRID_NX; i++) {
            const CgCell& c = l.Cells[j][i];
            if (done[j][i] || c.Kind == CG_WALL || c.Kind == CG_PILLAR)
                continue;
            auto same = [&](int a, int b) {
                return a < CG_GRID_NX && b < CG_GRID_NZ && !done[b][a] && l.Cells[b][a].Kind == c.Kind &&
                       l.Cells[b][a].Top == c.Top;
            };
            int w = 1, h = 1;
            while (w < CG_QUAD_CELLS && same(i + w, j))
                w++;
            while (h < CG_QUAD_CELLS) {
                bool row = true;
                for (int a = 0; a < w; a++)
                    row = row && same(i + a, j + h);
                if (!row)
                    break;
                h++;
            }
            for (int b = 0; b < h; b++)
                for (int a = 0; a < w; a++)
                    done[j + b][i + a] = true;
            float x0 = cx(i), x1 = cx(i + w), z0 = cz(j), z1 = cz(j + h);
            Vector3 p[4] = {V3(x0, c.Top, z0), V3(x1, c.Top, z0), V3(x1, c.Top, z1), V3(x0, c.Top, z1)};
            float tile = c.Kind == CG_EXITPAD ? 8.0f : 4.0f;
            float ox = c.Kind == CG_EXITPAD ? CG_EXIT.Center.x - 4.0f : 0.0f;
            float oz = c.Kind == CG_EXITPAD ? CG_EXIT.Center.z - 4.0f : 0.0f;
            float uv[8];
            for (int k = 0; k < 4; k++) {
                uv[k * 2] = (p[k].x - ox) / tile;
                uv[k * 2 + 1] = 1.0f - (p[k].z - oz) / tile;
            }
            CgQuad(o, p, uv, V3(0, 1, 0), CG_TopMaterial(c.Kind));
        }

    // Sides where a column stands above a walkable neighbour, merged along
    // the edge in runs of up to two cells.
    const int di[4] = {0, 1, 0, -1}, dj[4] = {1, 0, -1, 0};
    for (int dir = 0; dir < 4; dir++) {
        bool alongX = dir == 0 || dir == 2;
        int lines = alongX ? CG_GRID_NZ : CG_GRID_NX, cells = alongX ? CG_GRID_NX : CG_GRID_NZ;
        for (int line = 0; line < lines; line++) {
            int run = 0;
            for (int k = 0; k <= cells; k++) {
                auto key = [&](int kk, float* hi, float* lo, uint32_t* mat, CgCellKind* kind) {
                    if (kk >= cells)
                        return false;
                    int i = alongX ? kk : line, j = alongX ? line : kk;
                    int ni = i + di[dir], nj = j + dj[dir];
                    if (ni < 0 || nj < 0 || ni >= CG_GRID_NX || nj >= CG_GRID_NZ)
                        return false;
                    const CgCell &a = l.Cells[j][i], &b = l.Cells[nj][ni];
                    if (b.Kind == CG_WALL || a.Top <= b.Top)
                        return false;
                    *hi = a.Top;
                    *lo = b.Top;
                    *mat = CG_SideMaterial(a.Kind, b.Kind, dir);
                    *kind = a.Kind;
                    return true;
                };
                float hi = 0, lo = 0, hi0 = 0, lo0 = 0;
                uint32_t mat = 0, mat0 = 0;
                CgCellKind kind = CG_WALL, kind0 = CG_WALL;
                bool here = key(k, &hi, &lo, &mat, &kind);
                int start = k - run;
                if (run > 0)
                    key(start, &hi0, &lo0, &mat0, &kind0);
                bool extend = here && run > 0 && run < CG_QUAD_CELLS && hi == hi0 && lo == lo0 && mat == mat0;
                if (run > 0 && !extend) {
                    // Emit the run [start, k).
                    int i = alongX ? start : line, j = alongX ? line : start;
                    float e0, e1, edge;
                    if (alongX) {
                        e0 = cx(start), e1 = cx(k), edge = dir == 0 ? cz(j + 1) : cz(j);
                    } else {
                        e0 = cz(start), e1 = cz(k), edge = dir == 1 ? cx(i + 1) : cx(i);
                    }
                    auto pt = [&](float e, float y) { return alongX ? V3(e, y, edge) : V3(edge, y, e); };
                    Vector3 p[4] = {pt(e0, hi0), pt(e1, hi0), pt(e1, lo0), pt(e0, lo0)};
                    float span = CG_SideSpan(kind0);
                    float uv[8];
                    for (int c = 0; c < 4; c++) {
                        float along = alongX ? p[c].x : p[c].z;
                        // Read left to right by a viewer in front of the face.
                        uv[c * 2] = (dir == 0 || dir == 3 ? -along : along) / 4.0f;
                        uv[c * 2 + 1] = (hi0 - p[c].y) / span;
                    }
                    if (kind0 == CG_CRATE) {   // one crate board per face
                        float a0 = std::min(uv[0], uv[2]);
                        for (int c = 0; c < 4; c++)
                            uv[c * 2] = (uv[c * 2] - std::floor(a0)) * 4.0f / (e1 - e0) * 0.999f;
                    }
                    Vector3 n = V3((float)di[dir], 0, (float)dj[dir]);
                    CgQuad(o, p, uv, n, mat0);
                    run = 0;
                }
                if (here)
                    run++;
            }
        }
    }

    // The television on its plinth.
    Vector3 screen = Add(l.TvCentre, Mul(l.TvFacing, 0.02f));
    float half = l.TvHeight * 0.5f;
    CG_Box(o, l.TvCentre, l.TvAcross, l.TvFacing, l.TvWidth + 2 * CG_TV_BORDER, CG_FLOOR_Y,
           l.TvCentre.y + half + CG_TV_BORDER, CG_TV_DEPTH, CG_MAT_TV_CASE, CG_MAT_TV_BACK, CG_MAT_TV_BACK);
    auto at = [&](float a, float y) {
        return V3(screen.x + l.TvAcross.x * a, y, screen.z + l.TvAcross.z * a);
    };
    float hw = l.TvWidth * 0.5f;
    Vector3 p[4] = {at(-hw, l.TvCentre.y + half), at(hw, l.TvCentre.y + half), at(hw, l.TvCentre.y - half),
                    at(-hw, l.TvCentre.y - half)};
    const float uv[8] = {0, 0, 1, 0, 1, 1, 0, 1};
    CgQuad(o, p, uv, l.TvFacing, CG_MAT_TV_SCREEN);
}

// ---------------------------------------------------------------------------
// Paths

std::vector<uint8_t> CgPathFile(const std::vector<Vector3>& points)
{
    std::vector<uint8_t> out(4 + points.size() * sizeof(Vector3));
    int32_t n = (int32_t)points.size();
    memcpy(out.data(), &n, 4);
    memcpy(out.data() + 4, points.data(), points.size() * sizeof(Vector3));
    return out;
}

CgPath::CgPath(const std::vector<Vector3>& P, int segments)
{
    // The engine's Catmull-Rom spline: t accumulated as a float.
    for (size_t j = 1; j + 2 < P.size(); j++) {
        float t = 0, step = 1.0f / segments;
        for (int s = 0; s < segments; s++, t += step) {
            const Vector3 &p0 = P[j - 1], &p1 = P[j], &p2 = P[j + 1], &p3 = P[j + 2];
            auto f = [&](float a, float b, float c, float d) {
                return 0.5f * (2 * b + t * (c - a) + t * t * (2 * a - 5 * b + 4 * c - d) +
                               t * t * t * (d + 3 * b - a - 3 * c));
            };
            Spline.push_back(V3(f(p0.x, p1.x, p2.x, p3.x), f(p0.y, p1.y, p2.y, p3.y), f(p0.z, p1.z, p2.z, p3.z)));
        }
    }
}

Vector3 CgPath::Eval(float t) const
{
    int M = (int)Spline.size();
    float f = M * t;
    int i = (int)f;
    if (f == (float)i)
        return Spline[i % M];
    int j = i + 1 > M - 1 ? 0 : i + 1;
    float u = f - i;
    const Vector3 &a = Spline[i % M], &b = Spline[j % M];
    return V3(a.x + u * (b.x - a.x), a.y + u * (b.y - a.y), a.z + u * (b.z - a.z));
}

float CgPath::Length() const
{
    float len = 0;
    for (size_t i = 0; i < Spline.size(); i++)
        len += Len(Sub(Spline[(i + 1) % Spline.size()], Spline[i]));
    return len;
}

// ---------------------------------------------------------------------------
// Collision, as the engine's math library does it

static double CG_Angle(Vector3 u, Vector3 v)
{
    double r = std::acos((double)Dot(u, v) / ((double)Len(u) * Len(v)));
    return std::isnan(r) ? 0.0 : r;
}

static Vector3 CG_Closest(Vector3 a, Vector3 b, Vector3 p)
{
    Vector3 d = Sub(b, a);
    float L = Len(d);
    Vector3 dir = L == 0 ? V3(1, 1, 1) : Mul(d, 1.0f / L);
    float t = Dot(dir, Sub(p, a));
    if (t <= 0)
        return a;
    if (t >= L)
        return b;
    return Add(a, Mul(dir, t));
}

bool CgSphereTouchesTriangle(const Sphere3& s, const CgTriangle& t)
{
    Vector3 n = Cross(Sub(t.P[1], t.P[0]), Sub(t.P[2], t.P[0]));
    float l = Len(n);
    n = l == 0 ? V3(1, 1, 1) : Mul(n, 1.0f / l);
    float dist = Dot(n, s.Center) - Dot(n, t.P[0]);
    if (std::fabs(dist) >= s.Radius)
        return false;
    Vector3 q = Sub(s.Center, Mul(n, dist));
    double sum = CG_Angle(Sub(t.P[0], q), Sub(t.P[1], q)) + CG_Angle(Sub(t.P[1], q), Sub(t.P[2], q)) +
                 CG_Angle(Sub(t.P[2], q), Sub(t.P[0], q));
    if (sum >= 0.99 * 6.283184)
        return true;
    for (int e = 0; e < 3; e++)
        if (Len(Sub(s.Center, CG_Closest(t.P[e], t.P[(e + 1) % 3], s.Center))) < s.Radius)
            return true;
    return false;
}

bool CgSegmentHitsTriangle(const Vector3& p0, const Vector3& p1, const CgTriangle& tr)
{
    Vector3 e1 = Sub(tr.P[1], tr.P[0]), e2 = Sub(tr.P[2], tr.P[0]), n = Cross(e1, e2), d = Sub(p1, p0);
    float denom = Dot(n, d);
    if (denom == 0)
        return false;
    float t = Dot(n, Sub(tr.P[0], p0)) / denom;
    if (t > 1 || t < 0)
        return false;
    Vector3 w = Sub(Add(p0, Mul(d, t)), tr.P[0]);
    float uv = Dot(e1, e2), uu = Dot(e1, e1), vv = Dot(e2, e2), wu = Dot(w, e1), wv = Dot(w, e2);
    float D = uv * uv - uu * vv;
    float s = (uv * wv - vv * wu) / D, r = (uv * wu - uu * wv) / D;
    return s >= 0 && r >= 0 && s + r <= 1;
}

CgCollider::CgCollider(const O3dObject& scene)
{
    const O3dFrame& f = scene.Frames[0];
    float x1 = -1e9f, z1 = -1e9f;
    X0 = Z0 = 1e9f;
    for (const O3dFace& face : scene.Faces) {
        CgTriangle t;
        for (int k = 0; k < 3; k++) {
            t.P[k] = f.Vertices[face.Vertex[k]];
            X0 = std::min(X0, t.P[k].x), Z0 = std::min(Z0, t.P[k].z);
            x1 = std::max(x1, t.P[k].x), z1 = std::max(z1, t.P[k].z);
        }
        Tris.push_back(t);
        Materials.push_back(face.Material);
    }
    NX = (int)((x1 - X0) / BUCKET) + 1;
    NZ = (int)((z1 - Z0) / BUCKET) + 1;
    Buckets.resize((size_t)NX * NZ);
    for (uint32_t n = 0; n < Tris.size(); n++) {
        const CgTriangle& t = Tris[n];
        int i0, j0, i1, j1;
        CG_Range(std::min({t.P[0].x, t.P[1].x, t.P[2].x}), std::min({t.P[0].z, t.P[1].z, t.P[2].z}),
                 std::max({t.P[0].x, t.P[1].x, t.P[2].x}), std::max({t.P[0].z, t.P[1].z, t.P[2].z}), &i0, &j0, &i1,
                 &j1);
        for (int j = j0; j <= j1; j++)
            for (int i = i0; i <= i1; i++)
                Buckets[(size_t)j * NX + i].push_back(n);
    }
}

void CgCollider::CG_Range(float x0, float z0, float x1, float z1, int* i0, int* j0, int* i1, int* j1) const
{
    *i0 = std::clamp((int)std::floor((x0 - X0) / BUCKET), 0, NX - 1);
    *j0 = std::clamp((int)std::floor((z0 - Z0) / BUCKET), 0, NZ - 1);
    *i1 = std::clamp((int)std::floor((x1 - X0) / BUCKET), 0, NX - 1);
    *j1 = std::clamp((int)std::floor((z1 - Z0) / BUCKET), 0, NZ - 1);
}

bool CgCollider::Touches(const Sphere3& s) const
{
    if (Test)
        return Test(Context, s);
    int i0, j0, i1, j1;
    CG_Range(s.Center.x - s.Radius, s.Center.z - s.Radius, s.Center.x + s.Radius, s.Center.z + s.Radius, &i0, &j0,
             &i1, &j1);
    for (int j = j0; j <= j1; j++)
        for (int i = i0; i <= i1; i++)
            for (uint32_t n : Buckets[(size_t)j * NX + i])
                if (CgSphereTouchesTriangle(s, Tris[n]))
                    return true;
    return false;
}

bool CgCollider::Blocked(const Vector3& a, const Vector3& b, uint32_t except) const
{
    if (Buckets.empty())
        return false;
    int i0, j0, i1, j1;
    CG_Range(std::min(a.x, b.x), std::min(a.z, b.z), std::max(a.x, b.x), std::max(a.z, b.z), &i0, &j0, &i1, &j1);
    for (int j = j0; j <= j1; j++)
        for (int i = i0; i <= i1; i++)
            for (uint32_t n : Buckets[(size_t)j * NX + i])
                if (Materials[n] != except && CgSegmentHitsTriangle(a, b, Tris[n]))
                    return true;
    return false;
}

bool CgWalker::Tick(const CgCollider& scene, float mx, float mz)
{
    bool stepped = mx != 0 || mz != 0;
    Position.x += mx;
    Position.z += mz;
    Sphere3 s = {Position, CG_PLAYER_RADIUS};
    if (scene.Touches(s)) {
        for (int n = 0; n < 10 && scene.Touches(s); n++)
            s.Center.y += 0.05f;
        if (s.Center.y - Position.y > CG_STEP_LIMIT) {
            if (stepped) {
                Position.x -= mx;
                Position.z -= mz;
                return false;
            }
        } else {
            Position.y = s.Center.y;
        }
        return true;
    }
    s.Center.y -= FallSpeed;
    if (scene.Touches(s)) {
        for (int n = 0; n < 1000 && scene.Touches(s); n++)
            s.Center.y += 0.05f;
        FallSpeed = 0.05f;
    } else {
        FallSpeed = std::min(FallSpeed + 0.05f, 0.2f);
    }
    Position.y = s.Center.y;
    return true;
}

// ---------------------------------------------------------------------------
// Checks

std::string CgCheckStart(const CgCollider& scene, float* restY)
{
    CgWalker w;
    w.Position = CG_PLAYER_START;
    float lo = 1e9f, hi = -1e9f;
    for (int t = 0; t < 300; t++) {
        w.Tick(scene, 0, 0);
        if (t >= 200)
            lo = std::min(lo, w.Position.y), hi = std::max(hi, w.Position.y);
    }
    *restY = w.Position.y;
    if (lo < CG_BODY_Y - 0.06f || hi > CG_BODY_Y + 0.06f)
        return "the player comes to rest between y " + std::to_string(lo) + " and " + std::to_string(hi) +
               ", not at 2.1";
    return "";
}

std::string CgCheckRoute(const CgLevel&, const CgCollider& scene, std::vector<Vector3>* route)
{
    // A breadth-first search over a one-unit lattice from the start; each
    // move is ten ticks of walking with one of the four headings 0, 128,
    // 256, 384, under the game's ground and wall rules, and fails if any
    // tick runs into a wall.
    struct Node {
        CgWalker W;
        int Parent;
    };
    std::vector<Node> nodes;
    std::map<std::pair<int, int>, int> seen;
    CgWalker start;
    start.Position = CG_PLAYER_START;
    for (int t = 0; t < 60; t++)
        start.Tick(scene, 0, 0);
    nodes.push_back({start, -1});
    seen[{0, 0}] = 0;
    std::deque<int> open = {0};
    while (!open.empty()) {
        int n = open.front();
        open.pop_front();
        const Vector3 p = nodes[n].W.Position;
        float dx = p.x - CG_EXIT.Center.x, dy = p.y - CG_EXIT.Center.y, dz = p.z - CG_EXIT.Center.z;
        if (dx * dx + dy * dy + dz * dz <= (CG_PLAYER_RADIUS + CG_EXIT.Radius) * (CG_PLAYER_RADIUS + CG_EXIT.Radius)) {
            route->clear();
            for (int k = n; k >= 0; k = nodes[k].Parent)
                route->push_back(nodes[k].W.Position);
            std::reverse(route->begin(), route->end());
            return "";
        }
        for (int h = 0; h < 512; h += 128) {
            Vector3 m = CG_Rotate(h, 0, CG_PLAYER_STEP);
            CgWalker w = nodes[n].W;
            bool ok = true;
            for (int t = 0; t < 10 && ok; t++)
                ok = w.Tick(scene, m.x, m.z);
            if (!ok)
                continue;
            int li = (int)std::lround(w.Position.x - CG_PLAYER_START.x);
            int lj = (int)std::lround(w.Position.z - CG_PLAYER_START.z);
            if (seen.count({li, lj}))
                continue;
            // Back onto the lattice, so rounding does not drift.
            w.Position.x = CG_PLAYER_START.x + li;
            w.Position.z = CG_PLAYER_START.z + lj;
            seen[{li, lj}] = (int)nodes.size();
            nodes.push_back({w, n});
            open.push_back((int)nodes.size() - 1);
        }
    }
    return "no walkable route from the start to the exit (" + std::to_string(nodes.size()) + " places reached)";
}

std::string CgCheckPath(const CgLevel& level, const CgCollider& scene, const std::vector<Vector3>& control,
                        float raise, float share)
{
    CgPath path(control);
    const int samples = 4000;
    for (int s = 0; s < samples; s++) {
        float t = (float)s / samples;
        Vector3 p = path.Eval(t);
        const CgCell& c = CgCellUnder(level, p.x, p.z);
        char where[96];
        snprintf(where, sizeof(where), " at t %.4f (%.1f, %.1f, %.1f)", t, p.x, p.y, p.z);
        if (c.Kind != CG_CORRIDOR && c.Kind != CG_HALL && c.Kind != CG_EXITPAD)
            return std::string("the path leaves the floor") + where;
        if (scene.Touches({p, 1.0f}))
            return std::string("the path runs into the scene") + where;
        if (t < share) {
            Vector3 eye = Add(p, V3(0, raise, 0)), target = Add(path.Eval(t + 0.01f), V3(0, raise - 1, 0));
            if (scene.Touches({eye, 1.0f}) || scene.Blocked(eye, target, CG_SCENE_MATERIALS))
                return std::string("the camera above the path runs into the scene") + where;
        }
    }
    return "";
}

std::string CgCheckTelevision(const CgLevel& l, const CgCollider& scene, float* share)
{
    *share = 1.0f;
    const float tx = std::tan(CG_FOV_X * 0.5f * (float)CG_PI / 180), ty = std::tan(CG_FOV_Y * 0.5f * (float)CG_PI / 180);
    Vector3 screen = Add(l.TvCentre, Mul(l.TvFacing, 0.02f));
    // The heading settles on 342 from either side: 341 when it creeps up.
    for (int heading = CG_WIN_HEADING - 1; heading <= CG_WIN_HEADING; heading++)
        for (int bob = 0; bob < 512; bob += 8) {
            Vector3 eye, target;
            CgChaseCamera(CG_WIN_POSITION, heading, bob, &eye, &target);
            Vector3 z = Unit(Sub(target, eye)), x = Unit(Cross(V3(0, 1, 0), z)), y = Cross(z, x);
            float ndc[4][2];
            for (int k = 0; k < 4; k++) {
                float a = (k == 0 || k == 3 ? -0.5f : 0.5f) * l.TvWidth, b = (k < 2 ? 0.5f : -0.5f) * l.TvHeight;
                Vector3 p = Add(Add(screen, Mul(l.TvAcross, a)), V3(0, b, 0));
                Vector3 v = Sub(p, eye);
                float d = Dot(v, z);
                if (d < 1.0f)
                    return "the television is behind the win camera";
                ndc[k][0] = Dot(v, x) / (d * tx);
                ndc[k][1] = Dot(v, y) / (d * ty);
                if (std::fabs(ndc[k][0]) > 1 || std::fabs(ndc[k][1]) > 1)
                    return "the television's corner " + std::to_string(k) + " is off the win camera's screen (" + std::to_string(ndc[k][0]) + ", " + std::to_string(ndc[k][1]) + ", bob " + std::to_string(bob) + ")";
            }
            float area = 0;
            for (int k = 0; k < 4; k++)
                area += ndc[k][0] * ndc[(k + 1) % 4][1] - ndc[(k + 1) % 4][0] * ndc[k][1];
            *share = std::min(*share, std::fabs(area) * 0.5f / 4.0f);
            if (Dot(l.TvFacing, Sub(eye, screen)) <= 0)
                return "the television faces away from the win camera";
            for (int a = 0; a <= 6; a++)
                for (int b = 0; b <= 6; b++) {
                    Vector3 p = Add(Add(screen, Mul(l.TvAcross, (a / 6.0f - 0.5f) * 0.98f * l.TvWidth)),
                                    V3(0, (b / 6.0f - 0.5f) * 0.98f * l.TvHeight, 0));
                    p = Add(p, Mul(Unit(Sub(eye, p)), 0.01f));
                    if (scene.Blocked(eye, p, CG_MAT_TV_SCREEN))
                        return "something stands between the win camera and the television";
                }
        }
    return "";
}
