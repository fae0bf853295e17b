// Writing XM modules. The records are the audio library's own (its
// format.h), so the writer and the player cannot disagree on a layout.
#ifndef ZQCONTENT_XM_H
#define ZQCONTENT_XM_H

#include <cstdint>
#include <string>
#include <vector>

#include "encode.h"

#define CG_XM_MAX_CHANNELS 32
#define CG_XM_MAX_ROWS 256
#define CG_XM_NOTE_OFF 97
#define CG_XM_ENVELOPE_POINTS 12

struct CgXmEnvelope {
    std::vector<std::pair<uint16_t, uint16_t>> Points;   // (tick, 0..64)
    int Sustain = -1, LoopStart = -1, LoopEnd = -1;      // point indices, -1 none
};

// One instrument of one sample, 16-bit.
struct CgXmInstrument {
    std::string Name;
    std::vector<int16_t> Data;
    uint32_t LoopStart = 0, LoopLength = 0;   // frames; length 0: no loop
    uint8_t Volume = 64;
    int8_t Finetune = 0;
    uint8_t Panning = 128;
    int8_t RelativeNote = 0;
    CgXmEnvelope VolumeEnvelope, PanEnvelope;
    uint16_t Fadeout = 0;
};

struct CgXmCell {
    uint8_t Note = 0, Instrument = 0, Volume = 0, Effect = 0, Param = 0;
};

struct CgXmPattern {
    int Rows = 64;
    int Channels = 0;
    std::vector<CgXmCell> Cells;

    CgXmPattern(int rows, int channels) : Rows(rows), Channels(channels), Cells((size_t)rows * channels) {}
    CgXmCell& At(int row, int channel) { return Cells[(size_t)row * Channels + channel]; }
};

struct CgXmSong {
    std::string Name;
    int Channels = 8;
    int Restart = 0;
    int Tempo = 6, Bpm = 125;
    std::vector<uint8_t> Orders;
    std::vector<CgXmPattern> Patterns;
    std::vector<CgXmInstrument> Instruments;
};

// The module's bytes, or an empty vector with *error set.
CgBytes CgWriteXm(const CgXmSong& song, std::string* error);

#endif
