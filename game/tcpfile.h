// The ".tcp" camera-path format: a signed 32-bit count N, then N control
// points of three floats, little-endian. Windows-free: CameraPath and the
// native fuzz target share it.
#ifndef BF04_TCPFILE_H
#define BF04_TCPFILE_H

#include <cstdint>
#include <cstring>

#define TCP_COUNT_BYTES 4
#define TCP_POINT_BYTES 12

// The control points a file of `size` bytes holds, or -1 when it is shorter
// than its count or the count is negative or names more points than follow.
static inline int32_t TCP_ControlCount(const void* file, uint32_t size)
{
    int32_t count;
    if (size < TCP_COUNT_BYTES)
        return -1;
    memcpy(&count, file, sizeof(count));
    if (count < 0 || (uint64_t)count * TCP_POINT_BYTES > size - TCP_COUNT_BYTES)
        return -1;
    return count;
}

#endif
