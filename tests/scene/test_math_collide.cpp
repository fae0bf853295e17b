// Segment and sphere against triangle, checked against independent references.
#include <algorithm>
#include <cmath>
#include <random>

#include "zmth.h"
#include "zqtest.h"

// The corner layouts the collision tests read: three 48-byte triangle corners
// and two 32-byte line ends, each starting with x, y, z.
struct TestPoly {
    struct {
        Vector3 P;
        float Rest[9];
    } V[3];
    uint32_t Tail[6];
};
struct TestLine {
    struct {
        Vector3 P;
        float Rest[5];
    } E[2];
};
static_assert(sizeof(TestPoly::V[0]) == ZMTH_POLY_CORNER_STRIDE, "corner stride");
static_assert(sizeof(TestLine::E[0]) == ZMTH_LINE_END_STRIDE, "end stride");

static TestPoly MakePoly(Vector3 a, Vector3 b, Vector3 c)
{
    TestPoly p = {};
    p.V[0].P = a;
    p.V[1].P = b;
    p.V[2].P = c;
    // Whatever follows the position must not be read as geometry.
    for (auto& v : p.V)
        for (float& f : v.Rest)
            f = 1e30f;
    return p;
}

static TestLine MakeLine(Vector3 a, Vector3 b)
{
    TestLine l = {};
    l.E[0].P = a;
    l.E[1].P = b;
    for (auto& e : l.E)
        for (float& f : e.Rest)
            f = -1e30f;
    return l;
}

static const POLYSTRUCT* AsPoly(const TestPoly& p) { return reinterpret_cast<const POLYSTRUCT*>(&p); }
static const LINESTRUCT* AsLine(const TestLine& l) { return reinterpret_cast<const LINESTRUCT*>(&l); }

struct D3 {
    double x, y, z;
};
static D3 Dv(const Vector3& v) { return D3{v.x, v.y, v.z}; }
static D3 operator-(D3 a, D3 b) { return D3{a.x - b.x, a.y - b.y, a.z - b.z}; }
static D3 operator+(D3 a, D3 b) { return D3{a.x + b.x, a.y + b.y, a.z + b.z}; }
static D3 operator*(D3 a, double s) { return D3{a.x * s, a.y * s, a.z * s}; }
static double Dot(D3 a, D3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
static D3 Cross(D3 a, D3 b) { return D3{a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x}; }
static double Len(D3 a) { return sqrt(Dot(a, a)); }

class MathCollide : public ::testing::Test {
protected:
    void SetUp() override { m = new CZMth; }
    void TearDown() override { delete m; }
    CZMth* m;
};

TEST_F(MathCollide, SegmentEdgeCases)
{
    const TestPoly tri = MakePoly({0, 0, 0}, {4, 0, 0}, {0, 4, 0});
    // Lying in the plane, even straight across the triangle: never a hit.
    EXPECT_FALSE(m->TestLineToTriangle(AsPoly(tri), AsLine(MakeLine({-1, 1, 0}, {5, 1, 0}))));
    // Ending exactly on the face (t = 1) and starting on it (t = 0) both hit.
    EXPECT_TRUE(m->TestLineToTriangle(AsPoly(tri), AsLine(MakeLine({1, 1, 5}, {1, 1, 0}))));
    EXPECT_TRUE(m->TestLineToTriangle(AsPoly(tri), AsLine(MakeLine({1, 1, 0}, {1, 1, -5}))));
    // Stopping short, or passing beside the triangle.
    EXPECT_FALSE(m->TestLineToTriangle(AsPoly(tri), AsLine(MakeLine({1, 1, 5}, {1, 1, 0.01f}))));
    EXPECT_FALSE(m->TestLineToTriangle(AsPoly(tri), AsLine(MakeLine({3, 3, 5}, {3, 3, -5}))));
    EXPECT_TRUE(m->TestLineToTriangle(AsPoly(tri), AsLine(MakeLine({1.9f, 1.9f, 5}, {1.9f, 1.9f, -5}))));
    // Either winding, either direction.
    const TestPoly back = MakePoly({0, 0, 0}, {0, 4, 0}, {4, 0, 0});
    EXPECT_TRUE(m->TestLineToTriangle(AsPoly(back), AsLine(MakeLine({1, 1, -5}, {1, 1, 5}))));
    // A degenerate triangle has no face to hit.
    const TestPoly sliver = MakePoly({0, 0, 0}, {1, 1, 1}, {2, 2, 2});
    EXPECT_FALSE(m->TestLineToTriangle(AsPoly(sliver), AsLine(MakeLine({1, 1, -5}, {1, 1, 5}))));
    // A sliver so thin that its barycentric denominator rounds to 0 while its
    // normal does not: crossing the plane beyond its tip, or before its base,
    // is still a miss.
    const TestPoly thin = MakePoly({0, 0, 0}, {1, 0, 0}, {1, ldexpf(1, -40), 0});
    EXPECT_FALSE(m->TestLineToTriangle(AsPoly(thin), AsLine(MakeLine({2, 0, 1}, {2, 0, -1}))));
    EXPECT_FALSE(m->TestLineToTriangle(AsPoly(thin), AsLine(MakeLine({-1, 0, 1}, {-1, 0, -1}))));
}

TEST_F(MathCollide, SphereEdgeCases)
{
    const TestPoly tri = MakePoly({0, 0, 0}, {4, 0, 0}, {0, 4, 0});
    Sphere3 s = {{1, 1, 0.5f}, 1};
    EXPECT_TRUE(m->TestSphereToTriangle(&s, AsPoly(tri)));      // over the face
    s.Center.z = -0.99f;
    EXPECT_TRUE(m->TestSphereToTriangle(&s, AsPoly(tri)));      // below it
    s.Center.z = 1.0f;
    EXPECT_FALSE(m->TestSphereToTriangle(&s, AsPoly(tri)));     // touching the plane is not enough

    // Projects just outside the edge y = 0, but the edge is within the radius:
    // found by the edge test.
    s = Sphere3{{2, -0.3f, 0.5f}, 1};
    EXPECT_TRUE(m->TestSphereToTriangle(&s, AsPoly(tri)));
    s = Sphere3{{2, -0.9f, 0.5f}, 1};                           // edge at 1.03
    EXPECT_FALSE(m->TestSphereToTriangle(&s, AsPoly(tri)));
    // Beyond a corner: only the corner is borderline.
    s = Sphere3{{-0.5f, -0.5f, 0.5f}, 0.9f};                    // corner at 0.866
    EXPECT_TRUE(m->TestSphereToTriangle(&s, AsPoly(tri)));
    s.Radius = 0.85f;
    EXPECT_FALSE(m->TestSphereToTriangle(&s, AsPoly(tri)));
    // Centre on the triangle itself, and exactly on an edge.
    s = Sphere3{{1, 1, 0}, 0.01f};
    EXPECT_TRUE(m->TestSphereToTriangle(&s, AsPoly(tri)));
    s = Sphere3{{2, 0, 0}, 0.01f};
    EXPECT_TRUE(m->TestSphereToTriangle(&s, AsPoly(tri)));
}

// Random triangles in a cube of side 2 at an offset, rejecting slivers whose
// area is under 5% of the square of the longest edge.
static void RandomTriangle(std::mt19937& rng, Vector3 v[3], double* longest)
{
    std::uniform_real_distribution<float> c(-1.0f, 1.0f), off(-20.0f, 20.0f);
    for (;;) {
        const Vector3 o = {off(rng), off(rng), off(rng)};
        for (int i = 0; i < 3; i++)
            v[i] = Vector3{o.x + c(rng), o.y + c(rng), o.z + c(rng)};
        const D3 a = Dv(v[0]), b = Dv(v[1]), d = Dv(v[2]);
        const double l = std::max({Len(b - a), Len(d - b), Len(a - d)});
        if (Len(Cross(b - a, d - a)) * 0.5 >= 0.05 * l * l) {
            *longest = l;
            return;
        }
    }
}

TEST_F(MathCollide, SegmentAgreesWithMollerTrumbore)
{
    // Reference: Moller-Trumbore in double. A case counts only when its
    // barycentric and segment parameters all keep 1e-4 from their bounds.
    std::mt19937 rng(2024);
    std::uniform_real_distribution<double> bary(-0.2, 1.0), along(-0.2, 1.2), unit(-1.0, 1.0);
    int judged = 0, hits = 0, borderline = 0;
    for (int n = 0; n < 30000; n++) {
        Vector3 v[3];
        double longest;
        RandomTriangle(rng, v, &longest);
        const D3 V0 = Dv(v[0]), E1 = Dv(v[1]) - V0, E2 = Dv(v[2]) - V0;
        // Aim at a point borderline the triangle from a random direction.
        const double u0 = bary(rng), v0 = -0.2 + (bary(rng) + 0.2) * (1.4 - u0) / 1.2;
        const D3 aim = V0 + E1 * u0 + E2 * v0;
        D3 dir = {unit(rng), unit(rng), unit(rng)};
        dir = dir * (2.0 / std::max(Len(dir), 1e-3));
        const double t0 = along(rng);
        const D3 P0 = aim - dir * t0, P1 = P0 + dir;
        const TestLine line = MakeLine(Vector3{(float)P0.x, (float)P0.y, (float)P0.z},
                                       Vector3{(float)P1.x, (float)P1.y, (float)P1.z});
        const TestPoly tri = MakePoly(v[0], v[1], v[2]);

        const D3 p0 = Dv(line.E[0].P), d = Dv(line.E[1].P) - p0;
        const D3 pvec = Cross(d, E2);
        const double det = Dot(E1, pvec);
        bool want = false;
        double margin = 1.0;
        if (fabs(det) > 1e-9) {
            const double inv = 1.0 / det;
            const D3 tvec = p0 - V0;
            const double bu = Dot(tvec, pvec) * inv;
            const D3 qvec = Cross(tvec, E1);
            const double bv = Dot(d, qvec) * inv;
            const double t = Dot(E2, qvec) * inv;
            want = bu >= 0 && bv >= 0 && bu + bv <= 1 && t >= 0 && t <= 1;
            margin = std::min({fabs(bu), fabs(bv), fabs(1 - bu - bv), fabs(t), fabs(1 - t)});
        }
        if (margin < 1e-4) {
            borderline++;
            continue;
        }
        judged++;
        hits += want;
        ASSERT_EQ(m->TestLineToTriangle(AsPoly(tri), AsLine(line)), want) << "case " << n;
    }
    EXPECT_GT(hits, judged / 5);
    EXPECT_LT(hits, judged * 3 / 4);
    EXPECT_LT(borderline, 300);
}

// Distance from p to the triangle by dense sampling: every point of the
// triangle is within `spacing` of a sample.
static double SampledDistance(const Vector3 v[3], D3 p, int n, double* spacing)
{
    const D3 V0 = Dv(v[0]), E1 = Dv(v[1]) - V0, E2 = Dv(v[2]) - V0;
    double best = 1e300;
    for (int i = 0; i <= n; i++) {
        const D3 row = V0 + E1 * ((double)i / n) - p;
        for (int j = 0; i + j <= n; j++) {
            const D3 q = row + E2 * ((double)j / n);
            best = std::min(best, Dot(q, q));
        }
    }
    *spacing = (Len(E1) + Len(E2)) / n;
    return sqrt(best);
}

TEST_F(MathCollide, SphereAgreesWithSampledClosestPoint)
{
    // Tolerance: a case is judged only when the sampled distance is further
    // than (sample spacing + 0.8% of the longest edge + 1e-4) from the radius.
    // The 0.8% covers the angle-sum inside test, which accepts projected
    // centres up to about 0.0079 edge lengths outside an edge.
    std::mt19937 rng(99);
    std::uniform_real_distribution<float> around(-1.5f, 1.5f), radius(0.05f, 1.2f);
    int judged = 0, hits = 0, borderline = 0;
    for (int n = 0; n < 2500; n++) {
        Vector3 v[3];
        double longest;
        RandomTriangle(rng, v, &longest);
        const Vector3 mid = {(v[0].x + v[1].x + v[2].x) / 3, (v[0].y + v[1].y + v[2].y) / 3,
                             (v[0].z + v[1].z + v[2].z) / 3};
        Sphere3 s = {{mid.x + around(rng), mid.y + around(rng), mid.z + around(rng)}, radius(rng)};
        const TestPoly tri = MakePoly(v[0], v[1], v[2]);

        double spacing;
        const double dist = SampledDistance(v, Dv(s.Center), 200, &spacing);
        const double slack = spacing + 0.008 * longest + 1e-4;
        if (dist - s.Radius > -1e-4 && dist - s.Radius < slack) {
            borderline++;
            continue;
        }
        const bool want = dist < s.Radius;
        judged++;
        hits += want;
        ASSERT_EQ(m->TestSphereToTriangle(&s, AsPoly(tri)), want)
            << "case " << n << " distance " << dist << " radius " << s.Radius;
    }
    EXPECT_GT(hits, judged / 5);
    EXPECT_LT(hits, judged * 4 / 5);
    EXPECT_LT(borderline, 250);
}
