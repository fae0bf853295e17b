// bench_snd: CPU time of the engine's sound work per second of audio, as a
// fraction of real time: the module player's ControlChannels plus the
// mixing of every channel (MixChannels' work between the buffer's Lock and
// Unlock), block by block as the playback thread runs them, for 4 and for 16
// channels. Baseline in the same run: the same channels mixed silent (no
// sample: the zero blocks MixChannels writes then).
// Runs without a sound device (the DirectSound calls are not timed).
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "modwrite.h"
#include "zarquel.h"

namespace {

// Four busy channels: a note on every row, arpeggio, vibrato, slides and a
// volume slide, looping forever (B00).
const char* kSong =
    "sample 1 saw cycle=64 length=4096 loop=0:4096\n"
    "sample 2 square cycle=32 length=2048 loop=1024:1024\n"
    "order 0\npattern 0\n"
    "0 C-2 1 037 | E-2 2 4F8 | G-2 1 102 | C-3 2 A01\n"
    "8 D-2 1 047 | F-2 2 310 | A-2 1 202 | D-3 2 A10\n"
    "16 E-2 2 ... | G-2 1 4A4 | B-2 2 E93 | E-3 1 748\n"
    "24 --- .. ... | --- .. ... | --- .. ... | --- .. B00\n";

double Seconds(LARGE_INTEGER a, LARGE_INTEGER b, LARGE_INTEGER f)
{
    return double(b.QuadPart - a.QuadPart) / double(f.QuadPart);
}

}  // namespace

int main(int argc, char** argv)
{
    // Seconds of audio per figure; the test suite's smoke run asks for few.
    const int kAudioSeconds = argc > 1 ? atoi(argv[1]) : 300;
    const int blocks = kAudioSeconds * ZSND_BLOCKS_PER_SECOND;
    std::vector<uint8_t> song;
    std::string error;
    if (!modwrite::Build(kSong, song, error)) {
        fprintf(stderr, "bench_snd: %s\n", error.c_str());
        return 1;
    }
    CZarquel* engine = new CZarquel;
    CZSnd* snd = engine->Snd;
    CZMod mod;
    mod.Init(snd);
    LARGE_INTEGER freq;
    QueryPerformanceFrequency(&freq);
    std::vector<int16_t> block(ZSND_BLOCK_SAMPLES);
    static const int8_t* extra = reinterpret_cast<const int8_t*>(song.data() + song.size() - 2048);

    printf("bench_snd: %d s of audio, %d blocks of %d samples\n", kAudioSeconds, blocks, ZSND_BLOCK_SAMPLES);
    for (uint32_t channels : {4u, 16u}) {
        mod.LoadMemoryMod(song.data(), uint32_t(song.size()));
        mod.PlayMusic();
        // Channels beyond the player's four hold looping notes of their own.
        for (uint32_t c = ZMOD_CHANNELS; c < channels; c++) {
            snd->Mixer_SetChannelSample(c, extra, 2048, 1024, 1024);
            snd->Mixer_SetChannelNote(c, 0, 150 + 7 * c);
            snd->Mixer_SetChannelVolume(c, 100, 100);
        }
        ZSND_CHANNEL saved[ZSND_MAX_CHANNELS];
        memcpy(saved, snd->Channel, sizeof(saved));
        for (uint32_t c = 0; c < channels; c++)
            snd->Channel[c].Data = nullptr;
        LARGE_INTEGER t0, t1, t2;
        QueryPerformanceCounter(&t0);
        for (int b = 0; b < blocks; b++)
            for (uint32_t c = 0; c < channels; c++)
                snd->Mixer_MixChannel(c, block.data(), ZSND_BLOCK_SAMPLES);
        QueryPerformanceCounter(&t1);
        memcpy(snd->Channel, saved, sizeof(saved));
        for (int b = 0; b < blocks; b++) {
            mod.ControlChannels();
            for (uint32_t c = 0; c < channels; c++)
                snd->Mixer_MixChannel(c, block.data(), ZSND_BLOCK_SAMPLES);
        }
        QueryPerformanceCounter(&t2);
        double silent = Seconds(t0, t1, freq), work = Seconds(t1, t2, freq);
        printf("  %2u channels: %.4f%% of real time (%.2f us per block), %.1fx mixing them silent; "
               "song still playing: %s\n",
               channels, 100.0 * work / kAudioSeconds, 1e6 * work / blocks, work / (silent > 0 ? silent : 1e-9),
               mod.State == ZMOD_PLAYING ? "yes" : "no");
    }
    delete engine;
    return 0;
}
