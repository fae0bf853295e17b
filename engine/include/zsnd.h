// CZSnd: the engine's software mixer. Every music channel has its own looping
// DirectSound buffer; a time-critical playback thread lets the module player
// advance the song and resamples each channel's 8-bit sample into its buffer,
// one block of 1/60 s at a time. DirectSound sums the channels.
//
// This header stays free of Windows headers: the mixing core and the module
// player are plain code that is also built natively (tests, fuzzing). The
// device members are opaque pointers there.
#ifndef ZARQUEL_ZSND_H
#define ZARQUEL_ZSND_H

#include <cstddef>
#include <cstdint>
#include <mutex>

#include "zapi.h"
#include "zmod.h"

class CZDebug;
class CZXfs;
class CZMod;
struct IDirectSound8;
struct IDirectSoundBuffer;

// Channel records; InitSound is the one place where a count is checked.
#define ZSND_MAX_CHANNELS 16
// Slots of the channel buffer table (only ZSND_MAX_CHANNELS are ever used).
#define ZSND_MAX_BUFFERS 32
#define ZSND_RATE 44100
#define ZSND_BLOCKS_PER_SECOND 60
// One mixing block: 735 mono 16-bit samples, 1/60 s.
#define ZSND_BLOCK_SAMPLES (ZSND_RATE / ZSND_BLOCKS_PER_SECOND)
#define ZSND_BLOCK_BYTES (ZSND_BLOCK_SAMPLES * 2)
// A channel buffer holds 60 whole blocks, so no block wraps its end.
#define ZSND_BUFFER_BYTES (ZSND_BLOCK_BYTES * ZSND_BLOCKS_PER_SECOND)
// Positions and steps are 22.10 fixed point.
#define ZSND_FRAC_BITS 10
#define ZSND_MAX_VOLUME 127

#pragma pack(push, 1)
struct ZSND_CHANNEL {
    const int8_t* Data;     // signed 8-bit samples; null = channel silent
    uint32_t Length;        // in samples
    uint32_t LoopStart;     // in samples
    uint32_t LoopLength;    // in samples; 0 = no loop
    uint32_t Position;      // 22.10
    uint32_t Step;          // 22.10, per output sample
    uint8_t Volume;         // 0 ... 127
    uint8_t Pad[3];
};
struct ZSND_BUFFER {
    IDirectSoundBuffer* Buffer;
    uint32_t Size;          // bytes
};
#pragma pack(pop)
static_assert(offsetof(ZSND_CHANNEL, Length) == sizeof(void*) &&
              offsetof(ZSND_CHANNEL, Volume) == sizeof(void*) + 20 &&
              sizeof(ZSND_CHANNEL) == sizeof(void*) + 24, "channel record layout");
static_assert(sizeof(void*) != 4 || sizeof(ZSND_CHANNEL) == 28, "28-byte channel record on the target");

class ZQAPI CZSnd {
public:
    CZSnd();
    ~CZSnd();

    // Opens the device for exclusive use, `channels` looping channel buffers
    // (1 ... ZSND_MAX_CHANNELS) and the module player, and starts the
    // playback thread. Every failure is fatal; returns true.
    bool InitSound(uint8_t channels, uint8_t unused, void* window);
    // Ends the playback thread and releases the buffers, the device, the
    // thread and event handles and the module player.
    void DeinitSound();
    // Body of the playback thread.
    void PlayCallBack();
    // Writes one block into every channel buffer at the write cursor; with
    // `silent` it writes nothing.
    void MixChannels(bool silent);

    // Called by the module player from the playback thread.
    void Mixer_SetChannelSample(uint32_t channel, const int8_t* data, uint32_t length,
                                uint32_t loopStart, uint32_t loopLength);
    void Mixer_SetChannelNote(uint32_t channel, uint32_t position, uint32_t step);
    void Mixer_SetChannelStep(uint32_t channel, uint32_t step);
    // Volume = (left + right) / 2, at most 127 (left, right 0 ... 255).
    void Mixer_SetChannelVolume(uint32_t channel, uint32_t left, uint32_t right);
    // Resamples `samples` output samples of one channel record into `out`,
    // advancing its position: the whole mixing loop of MixChannels.
    void Mixer_MixChannel(uint32_t channel, int16_t* out, uint32_t samples);
    // Held around a block's work on the playback thread and by the module
    // player's LoadMemoryMod, PlayMusic and StopMusic on the caller's.
    void Mixer_Lock() { BlockLock.lock(); }
    void Mixer_Unlock() { BlockLock.unlock(); }

    CZMod* Mod;
    CZXfs* Xfs;
    CZDebug* Debug;
    uint8_t Initialised;
    uint8_t Mixing;          // cleared by MixChannels(true)
    uint8_t ChannelCount;
    uint8_t Reserved;        // cleared at construction and by DeinitSound
    ZSND_CHANNEL Channel[ZSND_MAX_CHANNELS];
    uint32_t WriteCursor;    // byte offset of the next block in the channel buffers
    IDirectSound8* Device;
    IDirectSoundBuffer* Primary;
    ZSND_BUFFER Buffers[ZSND_MAX_BUFFERS];
    void* StopEvent;         // auto-reset event: the playback thread ends
    void* PlaybackThread;

    // Counters, read under Mixer_Lock.
    uint32_t BlocksMixed;    // blocks written since InitSound
    uint32_t CursorWaits;    // 1 ms waits for the device to move away
    uint32_t Underruns;      // blocks the device had taken before they were written
    uint64_t BlockTicks;     // performance-counter ticks spent in the player and the mixing
    uint8_t MusicWasRunning; // the player ran in the last block: it gets one more to fall silent
    uint32_t BadChannels;    // Mixer_* calls naming no channel record (logged once)

private:
    bool InitMusicChannels(uint8_t channels);
    [[noreturn]] void SND_Fatal(const char* message);
    // Waits until the write cursor is clear of the device's cursors; false
    // when the stop event came first. `written`: bytes written since the start.
    bool SND_WaitForRoom(uint64_t written);
    // The record of `channel`, or null (counted, logged once) when there is none.
    ZSND_CHANNEL* SND_ChannelOf(uint32_t channel);

    std::mutex BlockLock;
    uint32_t SND_LastPlay;   // the device's play cursor at the last poll
    uint64_t SND_Played;     // bytes the device has played since the buffers started
};

#endif
