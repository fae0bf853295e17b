// CZMod: player for four-channel tracker modules (31 samples, 64-row
// patterns) held in memory. The mixer creates the one instance; its playback
// thread calls ControlChannels once per mixing block, which advances the song
// and hands notes, steps and volumes to the mixer.
#ifndef ZARQUEL_ZMOD_H
#define ZARQUEL_ZMOD_H

#include <cstddef>
#include <cstdint>

#include "zapi.h"

class CZSnd;

#define ZMOD_CHANNELS 4
#define ZMOD_SAMPLES 31
#define ZMOD_ROWS 64
#define ZMOD_ORDERS 128
#define ZMOD_CELL_BYTES 4
#define ZMOD_PATTERN_BYTES (ZMOD_ROWS * ZMOD_CHANNELS * ZMOD_CELL_BYTES)
// Module layout (16-bit values big-endian).
#define ZMOD_SAMPLE_HEADERS 20       // 31 headers of 30 bytes
#define ZMOD_SAMPLE_HEADER_BYTES 30
#define ZMOD_SONG_LENGTH 950
#define ZMOD_ORDER_TABLE 952
#define ZMOD_PATTERNS 1084           // also the smallest module LoadMemoryMod accepts
// Period tables: 75 notes and a closing 0, one table per finetune 0 ... 15.
#define ZMOD_PERIODS 75
#define ZMOD_FINETUNES 16

enum ZMOD_STATE : uint8_t {
    ZMOD_STOPPED = 0,
    ZMOD_PLAYING = 1,
    ZMOD_STARTING = 2,
    ZMOD_SILENT = 3,
};

// Running effects beyond the 16 plain ones: the extended effects that act per tick.
#define ZMOD_FX_RETRIGGER 0x90
#define ZMOD_FX_NOTE_CUT 0xC0
#define ZMOD_FX_NOTE_DELAY 0xD0
#define ZMOD_FX_NONE 0xFF
#define ZMOD_LOOP_DONE 0xFF          // pattern-loop counter: the loop has finished

#pragma pack(push, 1)
struct ZMOD_SAMPLE {
    const int8_t* Data;
    uint32_t Length;        // bytes
    uint8_t Finetune;       // 0 ... 15
    uint8_t Volume;         // 0 ... 64
    uint16_t Pad;
    uint32_t LoopStart;     // bytes
    uint32_t LoopLength;    // bytes; 0 = no loop
};
struct ZMOD_CHANNEL {
    uint8_t Effect;         // running effect, ZMOD_FX_NONE = none
    uint8_t EffectOff;      // 1 = no per-tick processing
    uint8_t Param;
    uint8_t PortaSpeed;
    uint16_t PortaTarget;
    uint16_t Period;
    uint8_t LastOffset;     // last sample-offset parameter
    uint8_t VibratoSpeed, VibratoDepth, VibratoPos;
    uint16_t VibratoBase;
    uint16_t ArpeggioBase;
    uint8_t Sample;
    uint8_t Panning;        // 128 = centre
    uint8_t TremoloSpeed, TremoloDepth, TremoloPos;
    uint8_t Pad;
    uint16_t TremoloBase;
    uint8_t Volume;         // 0 ... 64
    uint8_t Finetune;
};
#pragma pack(pop)
static_assert(sizeof(ZMOD_SAMPLE) == sizeof(void*) + 16 && offsetof(ZMOD_SAMPLE, LoopStart) == sizeof(void*) + 8,
              "sample record layout");
static_assert(sizeof(ZMOD_CHANNEL) == 26 && offsetof(ZMOD_CHANNEL, Period) == 6 &&
              offsetof(ZMOD_CHANNEL, Sample) == 16 && offsetof(ZMOD_CHANNEL, TremoloBase) == 22 &&
              offsetof(ZMOD_CHANNEL, Finetune) == 25, "channel state layout");

class ZQAPI CZMod {
public:
    CZMod();
    ~CZMod();

    void Init(CZSnd* mixer);
    // Parses the module of `size` bytes in place (it must stay in memory) and
    // clears the channel states. What lies outside the bytes given is never
    // read: patterns beyond them play as empty rows, samples are cut at the
    // end. Returns 0, or 1 when the bytes are no module (too short to hold
    // the header) and nothing was loaded.
    int LoadMemoryMod(const void* module, uint32_t size);
    // Starts the loaded song from order 0, row 0. Returns 0, or 1 when no
    // module is loaded.
    int PlayMusic();
    void StopMusic();
    // One mixing block's worth of song time.
    void ControlChannels();
    uint8_t GetNumChannels() { return ZMOD_CHANNELS; }

    uint8_t Row;
    uint8_t OrderIndex;
    uint8_t State;              // ZMOD_STATE
    CZSnd* Mixer;
    uint8_t Speed;              // ticks per row
    uint8_t Bpm;
    const uint8_t* Module;
    const uint8_t* PatternBase;
    const uint8_t* Orders;
    const uint8_t* SampleStart;
    uint8_t SongLength;
    const uint8_t* RowPointer;  // next cell to read
    const uint8_t* OrderEntry;  // current entry of the order table
    uint32_t TickIncrement;     // 16.16 ticks per block
    ZMOD_SAMPLE Samples[ZMOD_SAMPLES + 1];   // 1 ... 31; entry 0 unused
    uint32_t TickAccumulator;   // 16.16
    uint32_t TickCounter;
    uint8_t PatternDelay;
    uint8_t VibratoWaveform;
    uint8_t TremoloWaveform;
    uint8_t LoopStartRow;
    uint8_t LoopCounter;        // ZMOD_LOOP_DONE = loop finished
    uint8_t Glissando;
    uint32_t MixRate;
    uint32_t BlocksPerSecond;
    ZMOD_CHANNEL Channels[ZMOD_CHANNELS];

    // What the loaded bytes could not hold (counted by LoadMemoryMod).
    uint32_t PatternCount;      // patterns the order table names
    uint32_t PatternsPresent;   // of them, wholly inside the bytes given
    uint32_t SamplesCut;        // samples cut short or left empty by the end of the bytes
    uint32_t RowsRead;

    static const uint16_t PeriodTable[ZMOD_FINETUNES][ZMOD_PERIODS + 1];
    static const uint8_t SineTable[32];

private:
    void Internal_SetBPM(uint8_t bpm);
    void Internal_SetNote(int channel, int32_t position, uint32_t stepAdd, int semitones);
    void Internal_SetSample(int channel, uint8_t sample);
    void Internal_SetVolume(int channel, uint8_t volume);
    void Internal_VolumeSlide(int channel);
    void Internal_PortaToNote(int channel);
    void Internal_Vibrato(int channel);
    void Internal_Tremolo(int channel);
    void Internal_DoArpegio(int channel);
    uint16_t Internal_FindPeriodFinetune(uint16_t period, uint8_t finetune, int semitones);

    void MOD_ReadRow();
    void MOD_TickEffects(int channel);
    // Where the pattern of an order entry starts: an empty pattern when it
    // lies outside the bytes given.
    const uint8_t* MOD_PatternAt(uint8_t pattern);
    int MOD_Wave(uint8_t waveform, uint8_t position);
    void MOD_StartSong();

    uint32_t ModuleSize;
};

#endif
