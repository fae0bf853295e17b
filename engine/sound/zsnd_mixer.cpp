// The mixer's channel records and its resampling loop. Plain code: also
// built natively for tests, fuzzing and the benchmark.
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "zmod.h"
#include "zsnd.h"
#include "zsnd_local.h"
#ifdef _WIN32
#include "zdebug.h"
#endif

CZSnd::CZSnd()
    : Mod(nullptr), Xfs(nullptr), Debug(nullptr), Initialised(0), Mixing(0), ChannelCount(0), Reserved(0),
      WriteCursor(0), Device(nullptr), Primary(nullptr), StopEvent(nullptr), PlaybackThread(nullptr),
      BlocksMixed(0), CursorWaits(0), Underruns(0), BlockTicks(0), MusicWasRunning(0), BadChannels(0), SND_LastPlay(0), SND_Played(0)
{
    std::memset(Channel, 0, sizeof(Channel));
    std::memset(Buffers, 0, sizeof(Buffers));
}

void SND_Log(CZSnd* mixer, const char* format, ...)
{
#ifdef _WIN32
    if (!mixer || !mixer->Debug)
        return;
    char line[ZDEBUG_LINE_MAX];
    va_list args;
    va_start(args, format);
    vsnprintf(line, sizeof(line), format, args);
    va_end(args);
    mixer->Debug->OutputDebug("%s", line);
#else
    (void)mixer;
    (void)format;
#endif
}

ZSND_CHANNEL* CZSnd::SND_ChannelOf(uint32_t channel)
{
    if (channel < ZSND_MAX_CHANNELS)
        return &Channel[channel];
    if (BadChannels++ == 0)
        SND_Log(this, "CZSnd: channel %u does not exist (0 ... %u); the call was ignored",
                unsigned(channel), unsigned(ZSND_MAX_CHANNELS - 1));
    return nullptr;
}

void CZSnd::Mixer_SetChannelSample(uint32_t channel, const int8_t* data, uint32_t length,
                                   uint32_t loopStart, uint32_t loopLength)
{
    if (ZSND_CHANNEL* ch = SND_ChannelOf(channel)) {
        ch->Data = data;
        ch->Length = length;
        ch->LoopStart = loopStart;
        ch->LoopLength = loopLength;
    }
}

void CZSnd::Mixer_SetChannelNote(uint32_t channel, uint32_t position, uint32_t step)
{
    if (ZSND_CHANNEL* ch = SND_ChannelOf(channel)) {
        ch->Position = position;
        ch->Step = step;
    }
}

void CZSnd::Mixer_SetChannelStep(uint32_t channel, uint32_t step)
{
    if (ZSND_CHANNEL* ch = SND_ChannelOf(channel))
        ch->Step = step;
}

void CZSnd::Mixer_SetChannelVolume(uint32_t channel, uint32_t left, uint32_t right)
{
    if (ZSND_CHANNEL* ch = SND_ChannelOf(channel)) {
        uint32_t v = (left + right) / 2;
        ch->Volume = uint8_t(v >= 128 ? ZSND_MAX_VOLUME : v);
    }
}

void CZSnd::Mixer_MixChannel(uint32_t channel, int16_t* out, uint32_t samples)
{
    ZSND_CHANNEL* ch = SND_ChannelOf(channel);
    if (!ch || !ch->Data) {
        std::memset(out, 0, samples * sizeof(int16_t));
        return;
    }
    const int8_t* data = ch->Data;
    uint32_t position = ch->Position, step = ch->Step;
    int32_t volume = ch->Volume;
    if (ch->LoopLength) {
        uint32_t loopEnd = ch->LoopStart + ch->LoopLength;
        for (uint32_t i = 0; i < samples; i++) {
            uint32_t index = position >> ZSND_FRAC_BITS;
            if ((position + step) >> ZSND_FRAC_BITS >= loopEnd) {
                position = ch->LoopStart << ZSND_FRAC_BITS;
                index = ch->LoopStart;
            }
            out[i] = int16_t(data[index] * volume);
            position += step;
        }
    } else {
        uint32_t length = ch->Length;
        for (uint32_t i = 0; i < samples; i++) {
            // The last step would pass the end: silent, and the position
            // stays until a new note sets it.
            if ((position + step) >> ZSND_FRAC_BITS >= length) {
                std::memset(out + i, 0, (samples - i) * sizeof(int16_t));
                break;
            }
            out[i] = int16_t(data[position >> ZSND_FRAC_BITS] * volume);
            position += step;
        }
    }
    ch->Position = position;
}
