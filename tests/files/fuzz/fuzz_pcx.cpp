// libFuzzer target: any bytes as a PCX file, decoded into a buffer of
// exactly the size the header asks for, as a caller that asked first gets.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "zfiles_local.h"
#include "zfsf.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    uint32_t n;
    // The largest size the header can name is 65535 x 65536 bytes; a few
    // MiB keep the runs quick.
    if (!FSF_PcxPixels(data, (uint32_t)size, &n) || n > (4u << 20))
        return 0;
    std::vector<uint8_t> pixels(n), palette(ZFSF_PALETTE_BYTES);
    const FSF_PCX_RESULT r = FSF_DecodePcx(data, (uint32_t)size, n, pixels.data(), palette.data());
    if (r.Missing > n)
        __builtin_trap();
    return 0;
}
