// libFuzzer target: any bytes as a ".tcp" camera path. A file whose count
// passes is read as the spline builder reads it: every control point.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "tcpfile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // Exactly sized, so that the address sanitizer sees every overrun.
    std::vector<uint8_t> file(data, data + size);
    const int32_t count = TCP_ControlCount(file.data(), (uint32_t)size);
    volatile float sum = 0.0f;
    for (int32_t i = 0; i < count; i++) {
        float point[3];
        memcpy(point, &file[TCP_COUNT_BYTES + (size_t)i * TCP_POINT_BYTES], sizeof(point));
        sum = sum + point[0] + point[1] + point[2];
    }
    return 0;
}
