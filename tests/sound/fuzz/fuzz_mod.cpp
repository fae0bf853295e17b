// libFuzzer target: LoadMemoryMod on arbitrary bytes, then a few seconds of
// the song through the player and the mixing loop. ASan sees the exact end of
// the bytes: any read outside them fails.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "zmod.h"
#include "zsnd.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // Never destroyed: the mixer's destructor belongs to the device side.
    static CZSnd* snd = new CZSnd;
    static CZMod* mod = new CZMod;
    mod->Init(snd);
    std::memset(snd->Channel, 0, sizeof(snd->Channel));
    if (mod->LoadMemoryMod(data, uint32_t(size)) != 0)
        return 0;
    if (mod->PlayMusic() != 0)
        __builtin_trap();
    int16_t out[ZSND_BLOCK_SAMPLES];
    for (int block = 0; block < 300 && mod->State != ZMOD_STOPPED; block++) {
        mod->ControlChannels();
        for (uint32_t c = 0; c < ZMOD_CHANNELS; c++)
            snd->Mixer_MixChannel(c, out, ZSND_BLOCK_SAMPLES);
    }
    return 0;
}
