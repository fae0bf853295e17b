// CZMth: sine and cosine tables, a per-thread transform state (the "matrix
// stack") that rotates, translates and projects vertex arrays, Vector3
// operations, splines, collision tests and a 16-bit random generator.
#ifndef ZARQUEL_ZMTH_H
#define ZARQUEL_ZMTH_H

#include <cstdint>
#include <windows.h>

#include "zapi.h"
#include "ztypes.h"

class CZDebug;
// Batching records; only the corner positions are read, at the strides below.
struct POLYSTRUCT;
struct LINESTRUCT;

#define ZMTH_MAX_STACKS 1000        // transform slots, one per thread, never given back
#define ZMTH_TABLE_SIZE 512         // integer angle steps per full turn
#define ZMTH_ANGLE_MASK 0x1FF       // integer angles use only these bits
#define ZMTH_FREE_SLOT 0xFFFFFFFFu  // thread id of a slot nobody has claimed
#define ZMTH_RANDOM_SEED 9273
#define ZMTH_FIXED_AMPLITUDE 0x7FFF
// Float angles: radians = angle * this, one full turn per 511 units.
#define ZMTH_FLOAT_ANGLE_SCALE 0.012295862f
// Corner and end strides inside POLYSTRUCT and LINESTRUCT; each corner or end
// begins with its x, y, z.
#define ZMTH_POLY_CORNER_STRIDE 48
#define ZMTH_LINE_END_STRIDE 32
// Projection every slot starts with: a 90 degree horizontal field of view on
// a 640 x 480 screen (x / z = +-1 lands on the screen's edges).
#define ZMTH_DEFAULT_PROJ_SCALE 320
#define ZMTH_DEFAULT_PROJ_CENTER_X 320
#define ZMTH_DEFAULT_PROJ_CENTER_Y 240

// One thread's transform state. A = first angle, B = second, C = third.
struct ZMTH_STACK {
    volatile DWORD ThreadId;    // owner; ZMTH_FREE_SLOT = free
    float Tx, Ty, Tz;           // translation, applied after the rotation
    float SinB, CosB;
    float SinA, CosA;
    float SinC, CosC;
    int32_t Scale;              // ProyectCords: x * Scale / z + CenterX
    int32_t CenterX, CenterY;
    float M[9];                 // rotation matrix, row by row
};
static_assert(sizeof(ZMTH_STACK) == 88, "transform slot is 22 words");
static_assert(offsetof(ZMTH_STACK, Tx) == 4 && offsetof(ZMTH_STACK, SinB) == 16 &&
              offsetof(ZMTH_STACK, SinA) == 24 && offsetof(ZMTH_STACK, SinC) == 32 &&
              offsetof(ZMTH_STACK, Scale) == 40 && offsetof(ZMTH_STACK, CenterX) == 44 &&
              offsetof(ZMTH_STACK, M) == 52, "transform slot word order");

class ZQAPI CZMth {
public:
    CZMth();
    ~CZMth();

    // Vectors: the first argument receives the result unless one is returned.
    void Vector3Add(Vector3* a, const Vector3* b);
    void Vector3Sub(Vector3* a, const Vector3* b);
    void Vector3EscalarMultiply(Vector3* a, float s);
    void Vector3EscalarDivide(Vector3* a, float s);
    float Vector3Module(const Vector3* a);
    // The caller passes the length; a length of exactly 0 gives (1, 1, 1).
    void Vector3Normalize(Vector3* a, float length);
    float Vector3DotProduct(const Vector3* a, const Vector3* b);
    void Vector3CrossProduct(Vector3* a, const Vector3* b);
    // out = (p1 - p0) x (p2 - p0), not normalised.
    void Vector3CrossProduct3(const Vector3* p0, const Vector3* p1, const Vector3* p2, Vector3* out);
    // Squared distance, or the distance itself when root is true.
    float DistanceBetweenTwoVectors(const Vector3* a, const Vector3* b, bool root);
    // A plane whose normal has zero length is left as it is.
    void PlaneNormalize(Plane* plane);

    float GetSinus(int angle);
    float GetCosinus(int angle);
    // Fixed-point table look-ups (amplitude 0x7FFF), 16- and 32-bit angle forms.
    short FixedPointGetSin(unsigned short angle);
    short FixedPointGetSin(unsigned long angle);
    short FixedPointGetCos(unsigned short angle);
    short FixedPointGetCos(unsigned long angle);

    // Transform state of the calling thread. Usual order per object:
    // SetAngles(F), SetTranslation, CalcRotationMatrix, RotateCords.
    void SetTranslation(float x, float y, float z);
    void SetTranslation(int x, int y, int z);
    void SetAngles(int first, int second, int third);
    void SetAnglesF(float first, float second, float third);
    void SetProjection(int scale, int centerX, int centerY);
    void CalcRotationMatrix();
    // Vertex loops over `count` 12-byte records; source and destination may be
    // the same array. A count of 0 or less does nothing.
    void TranslateCoords(const Vector3* source, Vector3* destination, int count);
    void RotateCords(const Vector3* source, Vector3* destination, int count);
    // Writes two signed 32-bit screen coordinates into the first two words of
    // each destination record and leaves the third alone. A result beyond the
    // 32-bit range (z at or near 0) saturates; 0 / 0 gives INT32_MIN.
    void ProyectCords(const Vector3* source, Vector3* destination, int count);

    // (pointCount - 3) * steps values into out; nothing with fewer than 4
    // points or fewer than 1 step.
    void MakeBspline(const Vector3* points, int pointCount, Vector3* out, int steps);
    void MakeCRSpline(const Vector3* points, int pointCount, Vector3* out, int steps);

    bool TestSphereToSphere(const Sphere3* a, const Sphere3* b);
    bool TestLineToTriangle(const POLYSTRUCT* poly, const LINESTRUCT* line);
    bool TestSphereToTriangle(const Sphere3* sphere, const POLYSTRUCT* poly);
    bool TestVertexToAlignedBox(const Box3* box, const Vector3* point);

    // s' = (75 * (s + 1) mod 65537) - 1; any thread may call them.
    unsigned short Rnd();
    unsigned long RndDWord();

    CZDebug* Debug;                     // linked by the engine object
    DWORD RandomState;                  // low 16 bits used; guarded by RndLock
    float SinTable[ZMTH_TABLE_SIZE];
    float CosTable[ZMTH_TABLE_SIZE];
    ZMTH_STACK MatrixStack[ZMTH_MAX_STACKS];
    int32_t FixedPointSize;             // 512
    int16_t FixedPointSin[ZMTH_TABLE_SIZE];
    int16_t FixedPointCos[ZMTH_TABLE_SIZE];
    int16_t FixedPointAmplitude;        // 0x7FFF
    int32_t FloatHalfTurn;              // 256 table steps per half turn

    CRITICAL_SECTION RndLock;
    volatile LONG StacksClaimed;        // slots handed to a thread so far
    volatile LONG StackClaimRaces;      // claims lost to a thread that got there first

private:
    void MTH_Init();
    void MTH_InitSinCosFixedPoint();
    void MTH_InitSinCosFloat();
    ZMTH_STACK* GetStack();
    bool Internal_InsidePolygon(const Vector3* q, const Vector3* v0, const Vector3* v1, const Vector3* v2);
    double Internal_AngleBetweenVectors(const Vector3* u, const Vector3* v);
    bool EdgeSphereCollision(const Sphere3* sphere, const Vector3* v0, const Vector3* v1, const Vector3* v2);
    void ClosestPointToLine(const Vector3* a, const Vector3* b, const Vector3* point, Vector3* out);
};

#endif
