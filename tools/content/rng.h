// A small random generator of our own: the standard library's engines and
// distributions are not promised to give the same numbers on every
// platform and release, and every generated file must be byte-identical
// from build to build.
#ifndef ZQCONTENT_RNG_H
#define ZQCONTENT_RNG_H

#include <cstdint>

struct CgRng {
    uint64_t State;

    explicit CgRng(uint64_t seed) : State(seed * 0x9E3779B97F4A7C15ull + 0x2545F4914F6CDD1Dull) {}

    // splitmix64
    uint64_t Next()
    {
        uint64_t z = (State += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    // [0, 1)
    float Unit() { return (float)(Next() >> 40) * (1.0f / 16777216.0f); }
    // [-1, 1)
    float Signed() { return Unit() * 2.0f - 1.0f; }
    // [lo, hi)
    float Range(float lo, float hi) { return lo + (hi - lo) * Unit(); }
    // [0, n)
    int Below(int n) { return (int)((Next() >> 33) % (uint64_t)n); }
};

#endif
