#include <cmath>
#include <cstring>
#include <random>
#include <set>
#include <vector>

#include "zarquel.h"
#include "zqtest.h"

static const double PI = 3.14159265358979323846;

// The calling thread's slot, found through the public table.
static ZMTH_STACK* SlotOf(CZMth* m, DWORD id)
{
    for (int i = 0; i < ZMTH_MAX_STACKS; i++)
        if (m->MatrixStack[i].ThreadId == id)
            return &m->MatrixStack[i];
    return nullptr;
}

// The transform as stated for the engine, in double from the angles alone.
static void ReferenceMatrix(int a, int b, int c, double m[9])
{
    const double A = (a & 511) * PI / 256, B = (b & 511) * PI / 256, C = (c & 511) * PI / 256;
    const double sA = sin(A), cA = cos(A), sB = sin(B), cB = cos(B), sC = sin(C), cC = cos(C);
    m[0] = cB * sA * sC - sB * cC;
    m[1] = cA * sC;
    m[2] = cB * cC + sB * sA * sC;
    m[3] = sB * sC + cB * sA * cC;
    m[4] = cA * cC;
    m[5] = sB * sA * cC - cB * sC;
    m[6] = cB * cA;
    m[7] = -sA;
    m[8] = sB * cA;
}

static Vector3 ReferenceRotate(const double m[9], const Vector3& v, const Vector3& t)
{
    return Vector3{(float)(v.x * m[0] + v.y * m[3] + v.z * m[6] + t.x),
                   (float)(v.x * m[1] + v.y * m[4] + v.z * m[7] + t.y),
                   (float)(v.x * m[2] + v.y * m[5] + v.z * m[8] + t.z)};
}

static void ExpectNear3(const Vector3& got, const Vector3& want, float tol)
{
    EXPECT_NEAR(got.x, want.x, tol);
    EXPECT_NEAR(got.y, want.y, tol);
    EXPECT_NEAR(got.z, want.z, tol);
}

class Math : public ::testing::Test {
protected:
    void SetUp() override { m = new CZMth; }
    void TearDown() override { delete m; }
    CZMth* m;
};

TEST(MathEngine, CreatedAndLinkedByTheEngineObject)
{
    CZarquel* z = new CZarquel;
    ASSERT_NE(z->Mth, nullptr);
    EXPECT_EQ(z->Mth->Debug, z->Debug);
    EXPECT_EQ(z->Mth->RandomState, 9273u);
    EXPECT_EQ(z->Mth->FixedPointSize, 512);
    EXPECT_EQ(z->Mth->FixedPointAmplitude, 0x7FFF);
    EXPECT_EQ(z->Mth->FloatHalfTurn, 256);
    delete z;
}

TEST_F(Math, TablesAndTheirLookUps)
{
    EXPECT_EQ(m->GetSinus(128), 1.0f);
    EXPECT_EQ(m->GetSinus(640), m->GetSinus(128));
    EXPECT_EQ(m->GetCosinus(256), -1.0f);
    EXPECT_EQ(m->GetSinus(-128), -1.0f);   // only the low 9 bits count
    EXPECT_EQ(m->GetSinus(0), 0.0f);
    for (int i = 0; i < 512; i++) {
        EXPECT_NEAR(m->GetSinus(i), sin(i * PI / 256), 1e-7);
        EXPECT_NEAR(m->GetCosinus(i), cos(i * PI / 256), 1e-7);
        EXPECT_EQ(m->FixedPointSin[i], (short)lround(sin(i * PI / 256) * 32767));
    }
    EXPECT_EQ(m->FixedPointGetSin((unsigned short)128), 32767);
    EXPECT_EQ(m->FixedPointGetCos((unsigned short)256), -32767);
    EXPECT_EQ(m->FixedPointGetSin((unsigned long)(128 + 512 * 1000)), 32767);
    EXPECT_EQ(m->FixedPointGetCos((unsigned long)0xFFFFFFFFu), m->FixedPointCos[511]);
    EXPECT_EQ(m->FixedPointGetSin((unsigned short)0xFFFF), m->FixedPointSin[511]);
    EXPECT_EQ(m->FixedPointGetSin((unsigned short)64), 23170);   // 32767 / sqrt 2
}

TEST_F(Math, AnglesLandInTheirWords)
{
    m->SetAngles(10, 20 + 512, 30 - 512);
    ZMTH_STACK* s = SlotOf(m, GetCurrentThreadId());
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->SinA, m->GetSinus(10));
    EXPECT_EQ(s->CosA, m->GetCosinus(10));
    EXPECT_EQ(s->SinB, m->GetSinus(20));
    EXPECT_EQ(s->CosB, m->GetCosinus(20));
    EXPECT_EQ(s->SinC, m->GetSinus(30));
    EXPECT_EQ(s->CosC, m->GetCosinus(30));

    // Float angles: 511 units per turn, so i * 511 / 512 units is table step i.
    for (int i : {0, 1, 77, 128, 300, 511}) {
        const float f = i * 511.0f / 512.0f;
        m->SetAnglesF(f, 2 * f, 3 * f);
        EXPECT_NEAR(s->SinA, m->GetSinus(i), 2e-5) << i;
        EXPECT_NEAR(s->CosA, m->GetCosinus(i), 2e-5) << i;
        EXPECT_NEAR(s->SinB, m->GetSinus(2 * i), 2e-5) << i;
        EXPECT_NEAR(s->CosC, m->GetCosinus(3 * i), 2e-5) << i;
    }
    m->SetAnglesF(511, 0, 0);
    EXPECT_NEAR(s->SinA, 0.0f, 1e-6);
    EXPECT_NEAR(s->CosA, 1.0f, 1e-6);

    m->SetTranslation(-3, 4, 2147483647);
    EXPECT_EQ(s->Tx, -3.0f);
    EXPECT_EQ(s->Ty, 4.0f);
    EXPECT_EQ(s->Tz, 2147483648.0f);
    EXPECT_EQ(m->StacksClaimed, 1);
}

TEST_F(Math, ZeroAnglesExchangeXAndZ)
{
    const Vector3 in = {1, 2, 3};
    Vector3 out;
    // A fresh slot already holds the matrix of angles (0, 0, 0).
    m->RotateCords(&in, &out, 1);
    ExpectNear3(out, Vector3{3, 2, 1}, 0);
    m->SetAngles(0, 0, 0);
    m->SetTranslation(10.0f, 20.0f, 30.0f);
    m->CalcRotationMatrix();
    m->RotateCords(&in, &out, 1);
    ExpectNear3(out, Vector3{13, 22, 31}, 0);
}

TEST_F(Math, RotateCordsMatchesTheStatedMatrixForRandomAngles)
{
    std::mt19937 rng(4101);
    std::uniform_int_distribution<int> angle(-2000, 2000);
    std::uniform_real_distribution<float> coord(-100.0f, 100.0f);
    const int n = 257;
    std::vector<Vector3> in(n), out(n), inPlace(n);
    ZMTH_STACK* s = nullptr;
    for (int round = 0; round < 200; round++) {
        const int a = angle(rng), b = angle(rng), c = angle(rng);
        const Vector3 t = {coord(rng), coord(rng), coord(rng)};
        for (auto& v : in)
            v = Vector3{coord(rng), coord(rng), coord(rng)};
        m->SetAngles(a, b, c);
        m->SetTranslation(t.x, t.y, t.z);
        m->CalcRotationMatrix();
        if (!s)
            s = SlotOf(m, GetCurrentThreadId());

        double ref[9];
        ReferenceMatrix(a, b, c, ref);
        for (int i = 0; i < 9; i++)
            ASSERT_NEAR(s->M[i], ref[i], 1e-6) << "angles " << a << " " << b << " " << c << " entry " << i;
        // Orthonormal rows, determinant -1 (a rotation after the x/z exchange).
        for (int r = 0; r < 3; r++)
            for (int q = 0; q < 3; q++) {
                const double dot = s->M[3 * r] * s->M[3 * q] + s->M[3 * r + 1] * s->M[3 * q + 1] +
                                   s->M[3 * r + 2] * s->M[3 * q + 2];
                ASSERT_NEAR(dot, r == q ? 1.0 : 0.0, 1e-6);
            }
        const float* M = s->M;
        const double det = M[0] * (M[4] * M[8] - M[5] * M[7]) - M[1] * (M[3] * M[8] - M[5] * M[6]) +
                           M[2] * (M[3] * M[7] - M[4] * M[6]);
        ASSERT_NEAR(det, -1.0, 1e-5);

        m->RotateCords(in.data(), out.data(), n);
        inPlace = in;
        m->RotateCords(inPlace.data(), inPlace.data(), n);
        for (int i = 0; i < n; i++) {
            const Vector3 want = ReferenceRotate(ref, in[i], t);
            ASSERT_NEAR(out[i].x, want.x, 1e-3);
            ASSERT_NEAR(out[i].y, want.y, 1e-3);
            ASSERT_NEAR(out[i].z, want.z, 1e-3);
            ASSERT_EQ(memcmp(&out[i], &inPlace[i], sizeof(Vector3)), 0) << "in place differs at " << i;
        }
    }
}

TEST_F(Math, VertexLoopsHonourTheirCount)
{
    const Vector3 sentinel = {-7, -7, -7};
    Vector3 in[4] = {{1, 2, 3}, {4, 5, 6}, {7, 8, 9}, {1, 1, 1}};
    Vector3 out[4] = {sentinel, sentinel, sentinel, sentinel};
    m->SetTranslation(1.0f, 2.0f, 3.0f);
    m->TranslateCoords(in, out, 0);
    m->RotateCords(in, out, -5);
    m->ProyectCords(in, out, 0);
    EXPECT_EQ(memcmp(&out[0], &sentinel, sizeof(Vector3)), 0);

    m->TranslateCoords(in, out, 3);
    ExpectNear3(out[0], Vector3{2, 4, 6}, 0);
    ExpectNear3(out[2], Vector3{8, 10, 12}, 0);
    EXPECT_EQ(memcmp(&out[3], &sentinel, sizeof(Vector3)), 0);
    m->TranslateCoords(in, in, 1);
    ExpectNear3(in[0], Vector3{2, 4, 6}, 0);
}

TEST_F(Math, ProjectionWritesScreenIntegers)
{
    struct Rec {
        int32_t X, Y;
        float Z;
    };
    static_assert(sizeof(Rec) == sizeof(Vector3), "same record size");
    Vector3 in[6] = {{1, 2, 4}, {1, 1, 3}, {-1, -2, 3}, {0.5f, 0.25f, 0.5f}, {5, -5, 0}, {0, 0, 0}};
    Rec out[6];
    for (auto& r : out)
        r = Rec{0, 0, 99.0f};

    // Default: 90 degrees across a 640 x 480 screen.
    m->ProyectCords(in, (Vector3*)out, 1);
    EXPECT_EQ(out[0].X, 320 + 80);
    EXPECT_EQ(out[0].Y, 240 + 160);

    m->SetProjection(256, 100, 50);
    ZMTH_STACK* s = SlotOf(m, GetCurrentThreadId());
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->Scale, 256);
    EXPECT_EQ(s->CenterX, 100);
    EXPECT_EQ(s->CenterY, 50);
    m->ProyectCords(in, (Vector3*)out, 6);
    EXPECT_EQ(out[0].X, 164);          // 1 * 256 / 4 + 100
    EXPECT_EQ(out[0].Y, 178);
    EXPECT_EQ(out[1].X, 185);          // 185.33
    EXPECT_EQ(out[1].Y, 135);          // 135.33
    EXPECT_EQ(out[2].X, 15);           // 14.67
    EXPECT_EQ(out[2].Y, -121);         // -120.67
    EXPECT_EQ(out[3].X, 356);
    EXPECT_EQ(out[3].Y, 178);
    EXPECT_EQ(out[4].X, INT32_MAX);    // on the eye plane
    EXPECT_EQ(out[4].Y, INT32_MIN);
    EXPECT_EQ(out[5].X, INT32_MIN);    // 0 / 0
    for (auto& r : out)
        EXPECT_EQ(r.Z, 99.0f);

    // In place: the record's own x and y become the screen position.
    m->ProyectCords(in, in, 1);
    int32_t xy[2];
    memcpy(xy, &in[0], sizeof(xy));
    EXPECT_EQ(xy[0], 164);
    EXPECT_EQ(xy[1], 178);
    EXPECT_EQ(in[0].z, 4.0f);
}

TEST_F(Math, Vectors)
{
    Vector3 v = {3, 4, 12};
    EXPECT_FLOAT_EQ(m->Vector3Module(&v), 13);
    m->Vector3Normalize(&v, 13);
    ExpectNear3(v, Vector3{3 / 13.0f, 4 / 13.0f, 12 / 13.0f}, 1e-7f);
    m->Vector3Normalize(&v, 0);
    ExpectNear3(v, Vector3{1, 1, 1}, 0);

    Vector3 x = {1, 0, 0};
    const Vector3 y = {0, 1, 0};
    m->Vector3CrossProduct(&x, &y);
    ExpectNear3(x, Vector3{0, 0, 1}, 0);
    Vector3 c = {2, 3, 4};
    m->Vector3CrossProduct(&c, &c);   // the operand may be the result
    ExpectNear3(c, Vector3{0, 0, 0}, 0);

    const Vector3 p0 = {1, 1, 1}, p1 = {3, 1, 1}, p2 = {1, 4, 1};
    Vector3 n;
    m->Vector3CrossProduct3(&p0, &p1, &p2, &n);
    ExpectNear3(n, Vector3{0, 0, 6}, 0);

    const Vector3 q = {1, 2, 2}, o = {0, 0, 0};
    EXPECT_FLOAT_EQ(m->DistanceBetweenTwoVectors(&q, &o, false), 9);
    EXPECT_FLOAT_EQ(m->DistanceBetweenTwoVectors(&q, &o, true), 3);

    Plane pl = {0, 3, 4, 10};
    m->PlaneNormalize(&pl);
    EXPECT_FLOAT_EQ(pl.b, 0.6f);
    EXPECT_FLOAT_EQ(pl.c, 0.8f);
    EXPECT_FLOAT_EQ(pl.d, 2.0f);
    Plane flat = {0, 0, 0, 5};
    m->PlaneNormalize(&flat);
    EXPECT_EQ(flat.d, 5.0f);
}

TEST_F(Math, SplineCountsAndEnds)
{
    const Vector3 sentinel = {-1, -1, -1};
    Vector3 pts[4] = {{0, 0, 0}, {1, 2, 3}, {4, 4, 4}, {9, 0, 1}};
    Vector3 out[12];
    for (auto& o : out)
        o = sentinel;
    m->MakeCRSpline(pts, 3, out, 10);
    m->MakeBspline(pts, 3, out, 10);
    m->MakeCRSpline(pts, 4, out, 0);
    EXPECT_EQ(memcmp(&out[0], &sentinel, sizeof(Vector3)), 0);

    m->MakeCRSpline(pts, 4, out, 10);
    ExpectNear3(out[0], pts[1], 0);
    EXPECT_NE(memcmp(&out[9], &sentinel, sizeof(Vector3)), 0);
    EXPECT_EQ(memcmp(&out[10], &sentinel, sizeof(Vector3)), 0);
    // The last sample of the segment lies one step short of P2.
    EXPECT_LT(m->DistanceBetweenTwoVectors(&out[9], &pts[2], true),
              m->DistanceBetweenTwoVectors(&out[8], &pts[2], true));

    m->MakeBspline(pts, 4, out, 10);
    // t = 0 of a B-spline is (P0 + 4 P1 + P2) / 6.
    ExpectNear3(out[0], Vector3{(0 + 4 + 4) / 6.0f, (0 + 8 + 4) / 6.0f, (0 + 12 + 4) / 6.0f}, 1e-5f);
    EXPECT_EQ(memcmp(&out[10], &sentinel, sizeof(Vector3)), 0);
}

TEST_F(Math, SplineProperties)
{
    std::mt19937 rng(77);
    std::uniform_real_distribution<float> coord(-50.0f, 50.0f);
    for (int round = 0; round < 50; round++) {
        const int count = 4 + round % 9, steps = 1 + round % 17;
        std::vector<Vector3> pts(count), out((count - 3) * steps);
        for (auto& p : pts)
            p = Vector3{coord(rng), coord(rng), coord(rng)};

        // Catmull-Rom passes through every inner control point.
        m->MakeCRSpline(pts.data(), count, out.data(), steps);
        for (int j = 1; j <= count - 3; j++)
            ExpectNear3(out[(j - 1) * steps], pts[j], 1e-4f);

        // Both reproduce equally spaced collinear points exactly: sample k of
        // segment j sits at parameter j + k / steps.
        const Vector3 base = {coord(rng), coord(rng), coord(rng)}, dir = {coord(rng), coord(rng), coord(rng)};
        for (int i = 0; i < count; i++)
            pts[i] = Vector3{base.x + i * dir.x, base.y + i * dir.y, base.z + i * dir.z};
        for (int kind = 0; kind < 2; kind++) {
            if (kind == 0)
                m->MakeCRSpline(pts.data(), count, out.data(), steps);
            else
                m->MakeBspline(pts.data(), count, out.data(), steps);
            for (int j = 1; j <= count - 3; j++)
                for (int k = 0; k < steps; k++) {
                    const float u = j + (float)k / steps;
                    ExpectNear3(out[(j - 1) * steps + k], Vector3{base.x + u * dir.x, base.y + u * dir.y, base.z + u * dir.z},
                                2e-3f);
                }
        }
    }
}

TEST_F(Math, SpheresAndBoxes)
{
    Sphere3 a = {{0, 0, 0}, 1}, b = {{2, 0, 0}, 1};
    EXPECT_TRUE(m->TestSphereToSphere(&a, &b));
    b.Center.x = 2.0001f;
    EXPECT_FALSE(m->TestSphereToSphere(&a, &b));
    b.Center = Vector3{0.5f, 0.5f, 0.5f};
    b.Radius = 0;
    EXPECT_TRUE(m->TestSphereToSphere(&a, &b));

    // Corners in the order the octree writes them: 0 = min, 1 = +x, 2 = +y, 6 = max.
    Box3 box;
    const float lo[3] = {-1, 2, 5}, hi[3] = {3, 4, 9};
    for (int i = 0; i < 8; i++)
        box.Corner[i] = Vector3{lo[0], lo[1], lo[2]};
    box.Corner[1].x = hi[0];
    box.Corner[2].x = hi[0];
    box.Corner[2].y = hi[1];
    box.Corner[6] = Vector3{hi[0], hi[1], hi[2]};
    const Vector3 inside = {0, 3, 7}, onFace = {3, 3, 7}, onCorner = {-1, 2, 9};
    EXPECT_TRUE(m->TestVertexToAlignedBox(&box, &inside));
    EXPECT_TRUE(m->TestVertexToAlignedBox(&box, &onFace));
    EXPECT_TRUE(m->TestVertexToAlignedBox(&box, &onCorner));
    for (int axis = 0; axis < 3; axis++)
        for (int side = 0; side < 2; side++) {
            float p[3] = {inside.x, inside.y, inside.z};
            p[axis] = side ? hi[axis] + 0.001f : lo[axis] - 0.001f;
            const Vector3 out = {p[0], p[1], p[2]};
            EXPECT_FALSE(m->TestVertexToAlignedBox(&box, &out)) << axis << side;
        }
}

TEST_F(Math, RandomSequence)
{
    EXPECT_EQ(m->Rnd(), 40179);
    EXPECT_EQ(m->Rnd(), 64334);
    EXPECT_EQ(m->RndDWord(), 40923u);
    EXPECT_EQ(m->Rnd(), 54597);

    // Every state follows s' = (75 (s + 1) mod 65537) - 1 ...
    for (unsigned s = 0; s < 65536; s++) {
        m->RandomState = s;
        ASSERT_EQ(m->Rnd(), (75 * (s + 1) % 65537) - 1) << "state " << s;
    }
    // ... so the seed's cycle is the full 65536 states.
    m->RandomState = 9273;
    std::vector<bool> seen(65536, false);
    unsigned s = 9273;
    for (int i = 0; i < 65536; i++) {
        const unsigned v = m->RndDWord();
        s = (75 * (s + 1) % 65537) - 1;
        ASSERT_EQ(v, s);
        ASSERT_FALSE(seen[v]) << "repeat after " << i;
        seen[v] = true;
    }
    EXPECT_EQ(m->RandomState, 9273u);
}

struct RndWorker {
    CZMth* Mth;
    HANDLE Go;
    std::vector<unsigned short> Got;
};

static DWORD WINAPI RndThread(void* p)
{
    RndWorker* w = (RndWorker*)p;
    WaitForSingleObject(w->Go, INFINITE);
    for (auto& v : w->Got)
        v = w->Mth->Rnd();
    return 0;
}

TEST_F(Math, RandomIsSerialisedAcrossThreads)
{
    // With a full cycle, 4 x 12000 draws are 48000 distinct values; a lost
    // update would repeat a value and miss another.
    const int threads = 4, each = 12000;
    HANDLE go = CreateEventA(NULL, TRUE, FALSE, NULL);
    RndWorker w[threads];
    HANDLE h[threads];
    for (int i = 0; i < threads; i++) {
        w[i] = RndWorker{m, go, std::vector<unsigned short>(each)};
        h[i] = CreateThread(NULL, 0, RndThread, &w[i], 0, NULL);
    }
    SetEvent(go);
    WaitForMultipleObjects(threads, h, TRUE, INFINITE);
    std::set<unsigned> got;
    for (int i = 0; i < threads; i++) {
        CloseHandle(h[i]);
        got.insert(w[i].Got.begin(), w[i].Got.end());
    }
    CloseHandle(go);
    std::set<unsigned> want;
    unsigned s = 9273;
    for (int i = 0; i < threads * each; i++) {
        s = (75 * (s + 1) % 65537) - 1;
        want.insert(s);
    }
    EXPECT_EQ(got, want);
}

struct RotWorker {
    CZMth* Mth;
    HANDLE Go;
    int A, B, C;
    Vector3 T;
    int Mismatches;
};

static DWORD WINAPI RotThread(void* p)
{
    RotWorker* w = (RotWorker*)p;
    const Vector3 in[3] = {{1, 2, 3}, {-4, 5, 0.5f}, {10, -1, 7}};
    double ref[9];
    ReferenceMatrix(w->A, w->B, w->C, ref);
    Vector3 want[3], out[3];
    for (int i = 0; i < 3; i++)
        want[i] = ReferenceRotate(ref, in[i], w->T);
    WaitForSingleObject(w->Go, INFINITE);
    for (int round = 0; round < 20000; round++) {
        w->Mth->SetAngles(w->A, w->B, w->C);
        if (round % 7 == 0)
            Sleep(0);   // let the other thread run between the steps
        w->Mth->SetTranslation(w->T.x, w->T.y, w->T.z);
        w->Mth->CalcRotationMatrix();
        w->Mth->RotateCords(in, out, 3);
        for (int i = 0; i < 3; i++)
            if (fabsf(out[i].x - want[i].x) > 1e-4f || fabsf(out[i].y - want[i].y) > 1e-4f ||
                fabsf(out[i].z - want[i].z) > 1e-4f)
                w->Mismatches++;
    }
    return 0;
}

TEST_F(Math, ThreadsRotateWithTheirOwnMatrices)
{
    HANDLE go = CreateEventA(NULL, TRUE, FALSE, NULL);
    RotWorker w[2] = {{m, go, 17, 200, 301, {1, 2, 3}, 0}, {m, go, 450, 33, 90, {-50, 0, 8}, 0}};
    HANDLE h[2];
    for (int i = 0; i < 2; i++)
        h[i] = CreateThread(NULL, 0, RotThread, &w[i], 0, NULL);
    SetEvent(go);
    WaitForMultipleObjects(2, h, TRUE, INFINITE);
    for (int i = 0; i < 2; i++)
        CloseHandle(h[i]);
    CloseHandle(go);
    EXPECT_EQ(w[0].Mismatches, 0);
    EXPECT_EQ(w[1].Mismatches, 0);
    EXPECT_EQ(m->StacksClaimed, 2);
}

struct ClaimWorker {
    CZMth* Mth;
    HANDLE Go;
    HANDLE AllDone;
    volatile LONG* Done;
    int Index;
    int SlotsFound;
    float Tx;
};

static DWORD WINAPI ClaimThread(void* p)
{
    ClaimWorker* w = (ClaimWorker*)p;
    WaitForSingleObject(w->Go, INFINITE);
    w->Mth->SetTranslation((float)w->Index, 0.0f, 0.0f);
    InterlockedIncrement(w->Done);
    WaitForSingleObject(w->AllDone, INFINITE);
    const DWORD id = GetCurrentThreadId();
    for (int i = 0; i < ZMTH_MAX_STACKS; i++)
        if (w->Mth->MatrixStack[i].ThreadId == id) {
            w->SlotsFound++;
            w->Tx = w->Mth->MatrixStack[i].Tx;
        }
    return 0;
}

TEST_F(Math, FirstClaimsAtTheSameMomentGetTheirOwnSlots)
{
    const int threads = 48;
    for (int attempt = 0; attempt < 5; attempt++) {
        CZMth* local = new CZMth;
        HANDLE go = CreateEventA(NULL, TRUE, FALSE, NULL), allDone = CreateEventA(NULL, TRUE, FALSE, NULL);
        volatile LONG done = 0;
        std::vector<ClaimWorker> w(threads);
        std::vector<HANDLE> h(threads);
        for (int i = 0; i < threads; i++) {
            w[i] = ClaimWorker{local, go, allDone, &done, i, 0, -1.0f};
            h[i] = CreateThread(NULL, 0, ClaimThread, &w[i], 0, NULL);
        }
        Sleep(20);
        SetEvent(go);
        while (done < threads)
            Sleep(1);
        SetEvent(allDone);
        WaitForMultipleObjects(threads, h.data(), TRUE, INFINITE);
        for (int i = 0; i < threads; i++) {
            CloseHandle(h[i]);
            EXPECT_EQ(w[i].SlotsFound, 1) << "thread " << i;
            EXPECT_EQ(w[i].Tx, (float)i) << "thread " << i;
        }
        EXPECT_EQ(local->StacksClaimed, threads);
        int owned = 0;
        for (int i = 0; i < ZMTH_MAX_STACKS; i++)
            owned += local->MatrixStack[i].ThreadId != ZMTH_FREE_SLOT;
        EXPECT_EQ(owned, threads);
        CloseHandle(go);
        CloseHandle(allDone);
        delete local;
    }
}

// Every slot but `free` owned by ids that are not this thread's.
static CZarquel* EngineWithSlotsTaken(int freeSlots)
{
    CZarquel* z = new CZarquel;
    const DWORD other = GetCurrentThreadId() + 4;
    for (int i = 0; i < ZMTH_MAX_STACKS - freeSlots; i++)
        z->Mth->MatrixStack[i].ThreadId = other + 4 * i;
    return z;
}

ZQ_CHILD(math_stack_full)
{
    CZarquel* z = EngineWithSlotsTaken(0);
    z->Mth->SetAngles(1, 2, 3);
}

ZQ_CHILD(math_last_slot)
{
    CZarquel* z = EngineWithSlotsTaken(1);
    z->Mth->SetAngles(1, 2, 3);
    z->Mth->CalcRotationMatrix();
    if (z->Mth->MatrixStack[ZMTH_MAX_STACKS - 1].ThreadId != GetCurrentThreadId())
        ExitProcess(3);
    delete z;
}

TEST(MathFatal, ThousandAndFirstThreadIsRefused)
{
    EXPECT_TRUE(ZQ_OneBox(ZQ_RunChild("math_stack_full"), 1, "No space for more matrix stack", "Zarquel ZMth"));

    ZQChild last = ZQ_RunChild("math_last_slot");
    EXPECT_FALSE(last.TimedOut);
    EXPECT_EQ(last.ExitCode, 0u);
    EXPECT_TRUE(last.Boxes.empty());
}
