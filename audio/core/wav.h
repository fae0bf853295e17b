// RIFF WAV reader: PCM 8- and 16-bit, mono or stereo, any rate.
#pragma once
#include <cstddef>
#include <cstdint>
#include "song.h"

namespace zqa {

struct WavData {
  int channels = 0;           // 1 or 2
  int rate = 0;
  int bits = 0;
  int blockAlign = 0;
  Sample left, right;         // right used only for stereo
};

constexpr int kMaxWavRate = 384000;

// Reads a WAV from size bytes. The data is copied; a data chunk cut short
// keeps its whole frames. Returns false on anything malformed.
bool ReadWav(const uint8_t* data, size_t size, WavData& out);

}  // namespace zqa
