// The benchmarks' clock: seconds from the high-resolution counter.
#ifndef ZQ_BENCH_CLOCK_H
#define ZQ_BENCH_CLOCK_H
#include <windows.h>

static inline double Now()
{
    static LARGE_INTEGER f;
    if (!f.QuadPart)
        QueryPerformanceFrequency(&f);
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return (double)t.QuadPart / (double)f.QuadPart;
}

#endif
