// The audio library's state behind the exported calls: loaded musics and
// samples, sample playbacks, and the mix that the output pulls. Platform-free;
// every public operation takes the one lock, so calls may come from any thread
// while the output thread renders.
#pragma once
#include <cstdint>
#include <memory>
#include <mutex>
#include "player.h"
#include "song.h"
#include "wav.h"

namespace zqa {

constexpr int kMaxMusics = 16;
constexpr int kMaxLoadedSamples = 64;
constexpr int kMaxPlaybacks = 64;       // sample playbacks sounding at once
constexpr int kMaxRenderBlock = 4096;   // frames rendered per inner step

// Error codes, reported by the last failing call.
enum LibError {
  kErrOk = 0, kErrMem = 1, kErrFileOpen = 2, kErrDriver = 3, kErrHandle = 5,
  kErrFormat = 6, kErrInit = 8, kErrStart = 9, kErrAlready = 14, kErrNoChannel = 18,
  kErrIllParam = 20, kErrNoTimer = 21, kErrFileForm = 41, kErrUnknown = -1,
};

struct LibCounters {
  uint64_t framesRendered = 0;
  uint64_t clipped = 0;
  uint32_t playbacksStarted = 0;
  uint32_t playbacksRefused = 0;
  uint32_t loadsRefused = 0;
};

struct MusicSlot {
  bool used = false;
  bool playing = false;
  bool paused = false;
  bool loop = false;
  uint32_t handle = 0;
  Song song;
  Player player;
};

struct SampleSlot {
  bool used = false;
  uint32_t handle = 0;
  WavData wav;
  int maxPlaybacks = 1;
};

struct PlaybackSlot {
  bool used = false;
  bool paused = false;
  uint32_t handle = 0;
  int sample = -1;      // index into the sample table
  Voice voice[2];       // left and right source channels (one for mono)
};

class Library {
public:
  std::mutex lock;
  bool initialised = false;
  bool started = false;
  int rate = kOutputRate;
  int masterVolume = 100;  // 0..100
  int lastError = kErrOk;
  uint32_t generation = 0;
  MixOptions mix;
  LibCounters count;
  std::unique_ptr<MusicSlot[]> musics;
  std::unique_ptr<SampleSlot[]> samples;
  PlaybackSlot playbacks[kMaxPlaybacks];
  float mixBuffer[2 * kMaxRenderBlock];

  Library();

  // Lifecycle of the state; the output device is the caller's business.
  bool Init(int mixRate);
  void Free();

  uint32_t MusicLoad(const void* data, uint32_t length, bool loop);
  uint32_t SampleLoad(const void* data, uint32_t length, int maxPlaybacks);
  bool MusicPlay(uint32_t music);
  // volume 0..100, pan -100..100 or -101 for the sample's own (centre),
  // freq -1 for the sample's own rate, start as a byte offset into the data.
  uint32_t SamplePlay(uint32_t sample, uint32_t start, int freq, int volume, int pan, bool loop);
  bool ChannelPause(uint32_t channel);
  bool ChannelResume(uint32_t channel);
  // kActive* state of a sample channel or a music; stopped for a handle
  // that is gone or unknown.
  int ChannelActive(uint32_t channel);
  bool Start();
  bool Stop();
  bool SetVolume(int volume);
  // Number of sample playbacks of a sample still sounding.
  int Playing(uint32_t sample);

  // Fills frames of interleaved 16-bit stereo; silence when not started.
  void Render(int16_t* out, int frames);

private:
  uint32_t NewHandle(uint32_t kind, int index);
  int FindMusic(uint32_t h) const;
  int FindSample(uint32_t h) const;
  int FindPlayback(uint32_t h) const;
  void RenderBlock(int16_t* out, int frames);
};

// ChannelActive results.
constexpr int kActiveStopped = 0;
constexpr int kActivePlaying = 1;
constexpr int kActivePaused = 3;

// Handle kinds live in the top nibble.
constexpr uint32_t kHandleMusic = 0x1u << 28;
constexpr uint32_t kHandleSample = 0x2u << 28;
constexpr uint32_t kHandleChannel = 0x3u << 28;

}  // namespace zqa
