#include "zmth.h"

#include <cmath>
#include <cstring>

#include "zdebug.h"

static const char* const MTH_CAPTION = "Zarquel ZMth";
static const double MTH_PI = 3.14159265358979323846;
// The angle sum of a point inside a triangle is 2 pi; the slack absorbs the
// rounding of three arc cosines.
static const double MTH_INSIDE_SUM = 0.99 * 6.283184;

[[noreturn]] static void MTH_Fatal(CZDebug* debug, const char* text)
{
    if (debug)
        debug->ShowMessageAndExit(text, MTH_CAPTION);
    ExitProcess(1);
}

static inline const Vector3* MTH_Corner(const void* record, int stride, int index)
{
    return (const Vector3*)((const char*)record + stride * index);
}

static inline void MTH_Sub(Vector3* out, const Vector3* a, const Vector3* b)
{
    out->x = a->x - b->x;
    out->y = a->y - b->y;
    out->z = a->z - b->z;
}

static inline float MTH_Dot(const Vector3* a, const Vector3* b)
{
    return a->x * b->x + a->y * b->y + a->z * b->z;
}

// Nearest integer; values outside the 32-bit range saturate and NaN gives
// INT32_MIN, so a point on the eye plane never produces an undefined value.
static inline int32_t MTH_RoundSaturate(float v)
{
    if (v >= 2147483648.0f)
        return INT32_MAX;
    if (!(v >= -2147483648.0f))
        return INT32_MIN;
    return (int32_t)lrintf(v);
}

CZMth::CZMth()
{
    Debug = nullptr;
    StacksClaimed = 0;
    StackClaimRaces = 0;
    InitializeCriticalSection(&RndLock);
    MTH_Init();
}

CZMth::~CZMth()
{
    DeleteCriticalSection(&RndLock);
}

void CZMth::MTH_Init()
{
    // Every slot starts as angles (0, 0, 0) with its matrix computed, no
    // translation and the default projection, so a thread's first RotateCords
    // or ProyectCords is well defined.
    for (int i = 0; i < ZMTH_MAX_STACKS; i++) {
        ZMTH_STACK& s = MatrixStack[i];
        s.ThreadId = ZMTH_FREE_SLOT;
        s.Tx = s.Ty = s.Tz = 0.0f;
        s.SinA = s.SinB = s.SinC = 0.0f;
        s.CosA = s.CosB = s.CosC = 1.0f;
        s.Scale = ZMTH_DEFAULT_PROJ_SCALE;
        s.CenterX = ZMTH_DEFAULT_PROJ_CENTER_X;
        s.CenterY = ZMTH_DEFAULT_PROJ_CENTER_Y;
        for (int m = 0; m < 9; m++)
            s.M[m] = 0.0f;
        s.M[2] = s.M[4] = s.M[6] = 1.0f;
    }
    RandomState = ZMTH_RANDOM_SEED;
    FixedPointSize = ZMTH_TABLE_SIZE;
    FixedPointAmplitude = ZMTH_FIXED_AMPLITUDE;
    FloatHalfTurn = ZMTH_TABLE_SIZE / 2;
    MTH_InitSinCosFixedPoint();
    MTH_InitSinCosFloat();
}

void CZMth::MTH_InitSinCosFixedPoint()
{
    for (int i = 0; i < ZMTH_TABLE_SIZE; i++) {
        const double a = i * MTH_PI / 256.0;
        FixedPointSin[i] = (int16_t)lround(sin(a) * FixedPointAmplitude);
        FixedPointCos[i] = (int16_t)lround(cos(a) * FixedPointAmplitude);
    }
}

void CZMth::MTH_InitSinCosFloat()
{
    for (int i = 0; i < ZMTH_TABLE_SIZE; i++) {
        const double a = i * MTH_PI / (double)FloatHalfTurn;
        SinTable[i] = (float)sin(a);
        CosTable[i] = (float)cos(a);
    }
}

// ---------------------------------------------------------------- vectors

void CZMth::Vector3Add(Vector3* a, const Vector3* b)
{
    a->x += b->x;
    a->y += b->y;
    a->z += b->z;
}

void CZMth::Vector3Sub(Vector3* a, const Vector3* b)
{
    a->x -= b->x;
    a->y -= b->y;
    a->z -= b->z;
}

void CZMth::Vector3EscalarMultiply(Vector3* a, float s)
{
    a->x *= s;
    a->y *= s;
    a->z *= s;
}

void CZMth::Vector3EscalarDivide(Vector3* a, float s)
{
    a->x /= s;
    a->y /= s;
    a->z /= s;
}

float CZMth::Vector3Module(const Vector3* a)
{
    const float sum = a->x * a->x + a->y * a->y + a->z * a->z;
    return sqrtf(sum);
}

void CZMth::Vector3Normalize(Vector3* a, float length)
{
    if (length == 0.0f) {
        a->x = a->y = a->z = 1.0f;
        return;
    }
    a->x /= length;
    a->y /= length;
    a->z /= length;
}

float CZMth::Vector3DotProduct(const Vector3* a, const Vector3* b)
{
    return MTH_Dot(a, b);
}

void CZMth::Vector3CrossProduct(Vector3* a, const Vector3* b)
{
    const float x = a->y * b->z - a->z * b->y;
    const float y = a->z * b->x - a->x * b->z;
    const float z = a->x * b->y - a->y * b->x;
    a->x = x;
    a->y = y;
    a->z = z;
}

void CZMth::Vector3CrossProduct3(const Vector3* p0, const Vector3* p1, const Vector3* p2, Vector3* out)
{
    Vector3 e1, e2;
    MTH_Sub(&e1, p1, p0);
    MTH_Sub(&e2, p2, p0);
    Vector3CrossProduct(&e1, &e2);
    *out = e1;
}

float CZMth::DistanceBetweenTwoVectors(const Vector3* a, const Vector3* b, bool root)
{
    Vector3 d;
    MTH_Sub(&d, a, b);
    const float sq = MTH_Dot(&d, &d);
    return root ? sqrtf(sq) : sq;
}

void CZMth::PlaneNormalize(Plane* plane)
{
    const float sq = plane->a * plane->a + plane->b * plane->b + plane->c * plane->c;
    if (sq == 0.0f)
        return;
    const float inv = 1.0f / sqrtf(sq);
    plane->a *= inv;
    plane->b *= inv;
    plane->c *= inv;
    plane->d *= inv;
}

// ---------------------------------------------------------------- tables

float CZMth::GetSinus(int angle)
{
    return SinTable[angle & ZMTH_ANGLE_MASK];
}

float CZMth::GetCosinus(int angle)
{
    return CosTable[angle & ZMTH_ANGLE_MASK];
}

short CZMth::FixedPointGetSin(unsigned short angle)
{
    return FixedPointSin[angle & ZMTH_ANGLE_MASK];
}

short CZMth::FixedPointGetSin(unsigned long angle)
{
    return FixedPointSin[angle & ZMTH_ANGLE_MASK];
}

short CZMth::FixedPointGetCos(unsigned short angle)
{
    return FixedPointCos[angle & ZMTH_ANGLE_MASK];
}

short CZMth::FixedPointGetCos(unsigned long angle)
{
    return FixedPointCos[angle & ZMTH_ANGLE_MASK];
}

// ---------------------------------------------------------------- transform state

// The calling thread's slot; the first call of a thread claims the first free
// one. The claim is a compare-and-exchange on the owner word, so two threads
// arriving at once can never both take the same slot: the loser moves on.
ZMTH_STACK* CZMth::GetStack()
{
    const DWORD id = GetCurrentThreadId();
    ZMTH_STACK* slot = MatrixStack;
    for (int i = 0; i < ZMTH_MAX_STACKS; i++, slot++) {
        const DWORD owner = slot->ThreadId;
        if (owner == id)
            return slot;
        if (owner != ZMTH_FREE_SLOT)
            continue;
        const LONG previous = InterlockedCompareExchange((volatile LONG*)&slot->ThreadId, (LONG)id,
                                                         (LONG)ZMTH_FREE_SLOT);
        if ((DWORD)previous == ZMTH_FREE_SLOT) {
            InterlockedIncrement(&StacksClaimed);
            return slot;
        }
        InterlockedIncrement(&StackClaimRaces);
    }
    MTH_Fatal(Debug, "No space for more matrix stack");
}

void CZMth::SetTranslation(float x, float y, float z)
{
    ZMTH_STACK* s = GetStack();
    s->Tx = x;
    s->Ty = y;
    s->Tz = z;
}

void CZMth::SetTranslation(int x, int y, int z)
{
    SetTranslation((float)x, (float)y, (float)z);
}

void CZMth::SetAngles(int first, int second, int third)
{
    ZMTH_STACK* s = GetStack();
    const int a = first & ZMTH_ANGLE_MASK, b = second & ZMTH_ANGLE_MASK, c = third & ZMTH_ANGLE_MASK;
    s->SinB = SinTable[b];
    s->CosB = CosTable[b];
    s->SinA = SinTable[a];
    s->CosA = CosTable[a];
    s->SinC = SinTable[c];
    s->CosC = CosTable[c];
}

void CZMth::SetAnglesF(float first, float second, float third)
{
    ZMTH_STACK* s = GetStack();
    const float a = first * ZMTH_FLOAT_ANGLE_SCALE;
    const float b = second * ZMTH_FLOAT_ANGLE_SCALE;
    const float c = third * ZMTH_FLOAT_ANGLE_SCALE;
    s->SinB = sinf(b);
    s->CosB = cosf(b);
    s->SinA = sinf(a);
    s->CosA = cosf(a);
    s->SinC = sinf(c);
    s->CosC = cosf(c);
}

void CZMth::SetProjection(int scale, int centerX, int centerY)
{
    ZMTH_STACK* s = GetStack();
    s->Scale = scale;
    s->CenterX = centerX;
    s->CenterY = centerY;
}

void CZMth::CalcRotationMatrix()
{
    ZMTH_STACK* s = GetStack();
    const float sA = s->SinA, cA = s->CosA;
    const float sB = s->SinB, cB = s->CosB;
    const float sC = s->SinC, cC = s->CosC;
    s->M[0] = cB * sA * sC - sB * cC;
    s->M[1] = cA * sC;
    s->M[2] = cB * cC + sB * sA * sC;
    s->M[3] = sB * sC + cB * sA * cC;
    s->M[4] = cA * cC;
    s->M[5] = sB * sA * cC - cB * sC;
    s->M[6] = cB * cA;
    s->M[7] = -sA;
    s->M[8] = sB * cA;
}

void CZMth::TranslateCoords(const Vector3* source, Vector3* destination, int count)
{
    if (count <= 0)
        return;
    const ZMTH_STACK* s = GetStack();
    const float tx = s->Tx, ty = s->Ty, tz = s->Tz;
    do {
        const float x = source->x, y = source->y, z = source->z;
        destination->x = x + tx;
        destination->y = y + ty;
        destination->z = z + tz;
        source++;
        destination++;
    } while (--count);
}

void CZMth::RotateCords(const Vector3* source, Vector3* destination, int count)
{
    if (count <= 0)
        return;
    const ZMTH_STACK* s = GetStack();
    const float m0 = s->M[0], m1 = s->M[1], m2 = s->M[2];
    const float m3 = s->M[3], m4 = s->M[4], m5 = s->M[5];
    const float m6 = s->M[6], m7 = s->M[7], m8 = s->M[8];
    const float tx = s->Tx, ty = s->Ty, tz = s->Tz;
    do {
        // All three read before any write: in-place use is allowed.
        const float x = source->x, y = source->y, z = source->z;
        destination->x = x * m0 + y * m3 + z * m6 + tx;
        destination->y = x * m1 + y * m4 + z * m7 + ty;
        destination->z = x * m2 + y * m5 + z * m8 + tz;
        source++;
        destination++;
    } while (--count);
}

void CZMth::ProyectCords(const Vector3* source, Vector3* destination, int count)
{
    if (count <= 0)
        return;
    const ZMTH_STACK* s = GetStack();
    const float scale = (float)s->Scale;
    const float cx = (float)s->CenterX, cy = (float)s->CenterY;
    do {
        const float x = source->x, y = source->y, z = source->z;
        const float inv = 1.0f / z;
        int32_t screen[2];
        screen[0] = MTH_RoundSaturate(x * scale * inv + cx);
        screen[1] = MTH_RoundSaturate(y * scale * inv + cy);
        memcpy(destination, screen, sizeof(screen));
        source++;
        destination++;
    } while (--count);
}

// ---------------------------------------------------------------- splines

// Walks the spans of a uniform cubic spline: span j uses points j-1 .. j+2
// and yields `steps` points at t = 0, dt, 2dt, ...
template <class Eval>
static void MTH_Spans(const Vector3* points, int pointCount, Vector3* out, int steps, Eval eval)
{
    if (pointCount < 4 || steps < 1)
        return;
    const float dt = 1.0f / (float)steps;
    for (int j = 1; j <= pointCount - 3; j++) {
        const Vector3* p = &points[j - 1];
        float t = 0.0f;
        for (int k = 0; k < steps; k++, t += dt)
            eval(p[0], p[1], p[2], p[3], t, t * t, t * t * t, out++);
    }
}

void CZMth::MakeBspline(const Vector3* points, int pointCount, Vector3* out, int steps)
{
    MTH_Spans(points, pointCount, out, steps,
              [](const Vector3& p0, const Vector3& p1, const Vector3& p2, const Vector3& p3, float t, float t2,
                 float t3, Vector3* o) {
                  const float b0 = (t2 - t) * 3.0f + 1.0f - t3;
                  const float b1 = (t3 - 2.0f * t2) * 3.0f + 4.0f;
                  const float b2 = (t2 + t - t3) * 3.0f + 1.0f;
                  const float b3 = t3;
                  o->x = (b0 * p0.x + b1 * p1.x + b2 * p2.x + b3 * p3.x) * 0.16666667f;
                  o->y = (b0 * p0.y + b1 * p1.y + b2 * p2.y + b3 * p3.y) * 0.16666667f;
                  o->z = (b0 * p0.z + b1 * p1.z + b2 * p2.z + b3 * p3.z) * 0.16666667f;
              });
}

static inline float MTH_CatmullRom(float p0, float p1, float p2, float p3, float t, float t2, float t3)
{
    return 0.5f * (2.0f * p1 + t * (p2 - p0) + t2 * (2.0f * p0 - 5.0f * p1 + 4.0f * p2 - p3) +
                   t3 * (p3 + 3.0f * p1 - p0 - 3.0f * p2));
}

void CZMth::MakeCRSpline(const Vector3* points, int pointCount, Vector3* out, int steps)
{
    MTH_Spans(points, pointCount, out, steps,
              [](const Vector3& p0, const Vector3& p1, const Vector3& p2, const Vector3& p3, float t, float t2,
                 float t3, Vector3* o) {
                  o->x = MTH_CatmullRom(p0.x, p1.x, p2.x, p3.x, t, t2, t3);
                  o->y = MTH_CatmullRom(p0.y, p1.y, p2.y, p3.y, t, t2, t3);
                  o->z = MTH_CatmullRom(p0.z, p1.z, p2.z, p3.z, t, t2, t3);
              });
}

// ---------------------------------------------------------------- collisions

bool CZMth::TestSphereToSphere(const Sphere3* a, const Sphere3* b)
{
    const float r = a->Radius + b->Radius;
    return r * r >= DistanceBetweenTwoVectors(&a->Center, &b->Center, false);
}

bool CZMth::TestLineToTriangle(const POLYSTRUCT* poly, const LINESTRUCT* line)
{
    const Vector3* v0 = MTH_Corner(poly, ZMTH_POLY_CORNER_STRIDE, 0);
    const Vector3* v1 = MTH_Corner(poly, ZMTH_POLY_CORNER_STRIDE, 1);
    const Vector3* v2 = MTH_Corner(poly, ZMTH_POLY_CORNER_STRIDE, 2);
    const Vector3* p0 = MTH_Corner(line, ZMTH_LINE_END_STRIDE, 0);
    const Vector3* p1 = MTH_Corner(line, ZMTH_LINE_END_STRIDE, 1);

    Vector3 e1, e2, n, d, w;
    MTH_Sub(&e1, v1, v0);
    MTH_Sub(&e2, v2, v0);
    n = e1;
    Vector3CrossProduct(&n, &e2);
    MTH_Sub(&d, p1, p0);

    const float denom = MTH_Dot(&n, &d);
    if (denom == 0.0f)
        return false;
    MTH_Sub(&w, v0, p0);
    const float t = MTH_Dot(&n, &w) / denom;
    if (!(t >= 0.0f && t <= 1.0f))
        return false;

    Vector3 h = {p0->x + t * d.x, p0->y + t * d.y, p0->z + t * d.z};
    MTH_Sub(&w, &h, v0);
    const float uv = MTH_Dot(&e1, &e2), uu = MTH_Dot(&e1, &e1), vv = MTH_Dot(&e2, &e2);
    const float wu = MTH_Dot(&w, &e1), wv = MTH_Dot(&w, &e2);
    const float D = uv * uv - uu * vv;
    const float s = (uv * wv - vv * wu) / D;
    const float r = (uv * wu - uu * wv) / D;
    // Written so that a NaN (D rounded to 0 on a sliver) is a miss, not a hit.
    return s >= 0.0f && r >= 0.0f && s + r <= 1.0f;
}

bool CZMth::TestSphereToTriangle(const Sphere3* sphere, const POLYSTRUCT* poly)
{
    const Vector3* v0 = MTH_Corner(poly, ZMTH_POLY_CORNER_STRIDE, 0);
    const Vector3* v1 = MTH_Corner(poly, ZMTH_POLY_CORNER_STRIDE, 1);
    const Vector3* v2 = MTH_Corner(poly, ZMTH_POLY_CORNER_STRIDE, 2);

    Vector3 n;
    Vector3CrossProduct3(v0, v1, v2, &n);
    Vector3Normalize(&n, Vector3Module(&n));
    const float dist = MTH_Dot(&n, &sphere->Center) - MTH_Dot(&n, v0);
    if (!(fabsf(dist) < sphere->Radius))
        return false;

    const Vector3 q = {sphere->Center.x - n.x * dist, sphere->Center.y - n.y * dist,
                       sphere->Center.z - n.z * dist};
    if (Internal_InsidePolygon(&q, v0, v1, v2))
        return true;
    return EdgeSphereCollision(sphere, v0, v1, v2);
}

bool CZMth::TestVertexToAlignedBox(const Box3* box, const Vector3* point)
{
    const Vector3* c = box->Corner;
    if (point->x < c[0].x || point->x > c[1].x)
        return false;
    if (point->y < c[0].y || point->y > c[2].y)
        return false;
    if (point->z < c[0].z || point->z > c[6].z)
        return false;
    return true;
}

bool CZMth::Internal_InsidePolygon(const Vector3* q, const Vector3* v0, const Vector3* v1, const Vector3* v2)
{
    Vector3 a, b, c;
    MTH_Sub(&a, v0, q);
    MTH_Sub(&b, v1, q);
    MTH_Sub(&c, v2, q);
    double sum = Internal_AngleBetweenVectors(&a, &b);
    sum += Internal_AngleBetweenVectors(&b, &c);
    sum += Internal_AngleBetweenVectors(&c, &a);
    return sum >= MTH_INSIDE_SUM;
}

double CZMth::Internal_AngleBetweenVectors(const Vector3* u, const Vector3* v)
{
    const float cosine = MTH_Dot(u, v) / (Vector3Module(u) * Vector3Module(v));
    // A zero-length vector, or rounding past +-1, counts as no angle.
    const double angle = acos((double)cosine);
    return std::isnan(angle) ? 0.0 : angle;
}

bool CZMth::EdgeSphereCollision(const Sphere3* sphere, const Vector3* v0, const Vector3* v1, const Vector3* v2)
{
    const Vector3* edges[3][2] = {{v0, v1}, {v1, v2}, {v2, v0}};
    for (int i = 0; i < 3; i++) {
        Vector3 closest;
        ClosestPointToLine(edges[i][0], edges[i][1], &sphere->Center, &closest);
        if (DistanceBetweenTwoVectors(&sphere->Center, &closest, true) < sphere->Radius)
            return true;
    }
    return false;
}

void CZMth::ClosestPointToLine(const Vector3* a, const Vector3* b, const Vector3* point, Vector3* out)
{
    Vector3 dir, toPoint;
    MTH_Sub(&dir, b, a);
    const float length = Vector3Module(&dir);
    Vector3Normalize(&dir, length);
    MTH_Sub(&toPoint, point, a);
    const float t = MTH_Dot(&dir, &toPoint);
    if (t <= 0.0f) {
        *out = *a;
        return;
    }
    if (t >= length) {
        *out = *b;
        return;
    }
    out->x = a->x + dir.x * t;
    out->y = a->y + dir.y * t;
    out->z = a->z + dir.z * t;
}

// ---------------------------------------------------------------- random numbers

unsigned short CZMth::Rnd()
{
    EnterCriticalSection(&RndLock);
    // 75 * (s + 1) mod 65537 with 16-bit halves: 65536 = -1 (mod 65537), so
    // 75 * s + 75 = lo + 75 - hi; both wraps of the modulus must be taken.
    const long p = 75L * (long)(RandomState & 0xFFFF);
    long v = (p & 0xFFFF) + 74 - (p >> 16);
    if (v < 0)
        v += 65537;
    else if (v > 65535)
        v -= 65537;
    RandomState = (DWORD)v;
    LeaveCriticalSection(&RndLock);
    return (unsigned short)v;
}

unsigned long CZMth::RndDWord()
{
    return Rnd();
}
