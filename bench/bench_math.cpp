// RotateCords over the game's vertex cache size against a plain loop with the
// same matrix and against D3DX, all in one run. Prints nanoseconds per vertex.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>
#include <windows.h>
#include <d3dx9.h>

#include "zmth.h"

static const int VERTICES = 25000;
static const int ROUNDS = 300;

static void __attribute__((noinline)) PlainRotate(const float* m, const float* t, const Vector3* src, Vector3* dst,
                                                  int n)
{
    for (int i = 0; i < n; i++) {
        const float x = src[i].x, y = src[i].y, z = src[i].z;
        dst[i].x = x * m[0] + y * m[3] + z * m[6] + t[0];
        dst[i].y = x * m[1] + y * m[4] + z * m[7] + t[1];
        dst[i].z = x * m[2] + y * m[5] + z * m[8] + t[2];
    }
}

static double Now(double toNs)
{
    LARGE_INTEGER c;
    QueryPerformanceCounter(&c);
    return (double)c.QuadPart * toNs;
}

struct Timing {
    const char* Name;
    std::vector<double> Ns;   // per vertex, one per round
    double Median() { std::sort(Ns.begin(), Ns.end()); return Ns[Ns.size() / 2]; }
    double Best() { return *std::min_element(Ns.begin(), Ns.end()); }
};

static float MaxDiff(const std::vector<Vector3>& a, const std::vector<Vector3>& b)
{
    float d = 0;
    for (size_t i = 0; i < a.size(); i++)
        d = std::max({d, fabsf(a[i].x - b[i].x), fabsf(a[i].y - b[i].y), fabsf(a[i].z - b[i].z)});
    return d;
}

int main()
{
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    const double toNs = 1e9 / (double)f.QuadPart;

    CZMth* mth = new CZMth;
    std::vector<Vector3> in(VERTICES), outMth(VERTICES), outPlain(VERTICES), outD3dx(VERTICES), work(VERTICES);
    unsigned seed = 12345;
    for (auto& v : in) {
        seed = seed * 1664525u + 1013904223u;
        v.x = (float)((seed >> 8) & 0xFFFF) / 327.68f - 100.0f;
        v.y = (float)((seed >> 4) & 0xFFFF) / 327.68f - 100.0f;
        v.z = (float)(seed & 0xFFFF) / 327.68f - 100.0f;
    }

    mth->SetAngles(37, 101, 250);
    mth->SetTranslation(12.5f, -3.0f, 400.0f);
    mth->CalcRotationMatrix();
    const ZMTH_STACK* slot = nullptr;
    for (int i = 0; i < ZMTH_MAX_STACKS; i++)
        if (mth->MatrixStack[i].ThreadId == GetCurrentThreadId())
            slot = &mth->MatrixStack[i];
    const float* m = slot->M;
    const float t[3] = {slot->Tx, slot->Ty, slot->Tz};

    // Row vectors times the matrix, translation in the fourth row: the same
    // transform; w stays 1, so the divide changes nothing.
    D3DXMATRIX dm(m[0], m[1], m[2], 0.0f, m[3], m[4], m[5], 0.0f, m[6], m[7], m[8], 0.0f, t[0], t[1], t[2], 1.0f);

    Timing tm{"CZMth::RotateCords", {}}, ti{"CZMth::RotateCords in place", {}}, tp{"plain loop, same matrix", {}},
        td{"D3DXVec3TransformCoordArray", {}};
    for (int r = 0; r < ROUNDS + 3; r++) {
        double a = Now(toNs);
        mth->RotateCords(in.data(), outMth.data(), VERTICES);
        double b = Now(toNs);
        PlainRotate(m, t, in.data(), outPlain.data(), VERTICES);
        double c = Now(toNs);
        D3DXVec3TransformCoordArray((D3DXVECTOR3*)outD3dx.data(), sizeof(Vector3), (const D3DXVECTOR3*)in.data(),
                                    sizeof(Vector3), &dm, VERTICES);
        double d = Now(toNs);
        work = in;
        double e = Now(toNs);
        mth->RotateCords(work.data(), work.data(), VERTICES);
        double g = Now(toNs);
        if (r < 3)
            continue;   // warm caches and code
        tm.Ns.push_back((b - a) / VERTICES);
        tp.Ns.push_back((c - b) / VERTICES);
        td.Ns.push_back((d - c) / VERTICES);
        ti.Ns.push_back((g - e) / VERTICES);
    }

    const double base = tm.Median();
    printf("bench_math: RotateCords over %d vertices, %d rounds, ns per vertex\n", VERTICES, ROUNDS);
    printf("  %-30s %8s %8s %s\n", "", "median", "best", "time / RotateCords (median)");
    for (Timing* x : {&tm, &ti, &tp, &td}) {
        const double med = x->Median();
        printf("  %-30s %8.3f %8.3f %8.2f\n", x->Name, med, x->Best(), med / base);
    }
    printf("  max |difference| vs plain loop %g, vs D3DX %g, in place vs separate %g\n", MaxDiff(outMth, outPlain),
           MaxDiff(outMth, outD3dx), MaxDiff(outMth, work));
    delete mth;
    return 0;
}
