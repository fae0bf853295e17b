// The in-memory song both replayers play: an XM module as loaded, or a
// 4-channel module converted to the same model. The song owns copies of
// everything; nothing points into the buffer it was loaded from.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

namespace zqa {

constexpr int kMaxChannels = 32;
constexpr int kMaxPatterns = 256;
constexpr int kMaxOrders = 256;
constexpr int kMaxRows = 256;
constexpr int kMaxInstruments = 128;
constexpr int kMaxInstrumentSamples = 16;
constexpr int kMaxEnvelopePoints = 12;
constexpr uint32_t kMaxSampleFrames = 1u << 24;  // 16 Mi frames per sample
// Guard frames after the end (or loop end) of every sample, so interpolation
// reads ahead without a bounds test.
constexpr int kSampleGuard = 4;

constexpr uint8_t kNoteOff = 97;

struct Cell {
  uint8_t note = 0;        // 0 none, 1..96 (1 = C-0), 97 key off
  uint8_t instrument = 0;  // 0 none
  uint8_t volume = 0;      // volume column, 0 none
  uint8_t effect = 0;
  uint8_t param = 0;
};

struct Pattern {
  int rows = 64;
  std::vector<Cell> cells;  // rows x song channels
};

enum LoopType : uint8_t { kLoopNone = 0, kLoopForward = 1, kLoopPingPong = 2 };

struct Sample {
  // Frames as signed 16-bit (8-bit data scaled by 256), followed by
  // kSampleGuard frames that continue the loop (or silence).
  std::vector<int16_t> data;
  uint32_t length = 0;     // playable frames (loop end for looped samples)
  uint32_t loopStart = 0;
  uint32_t loopLength = 0;
  LoopType loop = kLoopNone;
  uint8_t volume = 64;
  int8_t finetune = 0;     // -128..127, 1/128 semitone
  uint8_t panning = 128;
  int8_t relativeNote = 0;
  // ProTracker plays a sample whose loop starts at frame 0 once through to
  // its end before the loop takes over: that end, past length (0 none).
  uint32_t firstPassEnd = 0;

  uint32_t FirstPassLength() const { return firstPassEnd > length ? firstPassEnd : length; }
};

struct EnvelopePoint { uint16_t x = 0; uint16_t y = 0; };

struct Envelope {
  bool on = false, sustain = false, loop = false;
  uint8_t points = 0;
  uint8_t sustainPoint = 0, loopStart = 0, loopEnd = 0;
  EnvelopePoint p[kMaxEnvelopePoints];
};

struct Instrument {
  uint8_t sampleMap[96] = {};  // note -> sample index within the instrument
  int samples = 0;
  Sample sample[kMaxInstrumentSamples];
  Envelope volEnv, panEnv;
  uint8_t vibType = 0, vibSweep = 0, vibDepth = 0, vibRate = 0;
  uint16_t fadeout = 0;
};

struct Song {
  bool modFormat = false;     // 4-channel module rules (ProTracker effects)
  bool linearFreq = true;
  bool fullFinetune = false;      // all 8 finetune bits count (files of OpenMPT before 1.22.07.19)
  // Saved by OpenMPT before 1.22.07.19: the reference plays such files
  // without some of FT2's quirks (see the player for which).
  bool oldOpenMpt = false;
  // Saved by FT2 itself: the reference ramps the volume as FT2's mixer
  // does, a slide over its tick; in format 1.04 any other change over 5 ms
  // (quickRamps), in older formats at once.
  bool volumeRamps = false;
  bool quickRamps = false;
  bool squareRootPan = false;     // FT2's pan law (files from FT2 and trackers that follow it)
  bool keepLoopBreakRow = false;  // FT2's pattern loop leaves its row as the next pattern's start
  bool oneLoopAtATime = false;    // ModPlug Tracker: an E6x loop does not start while another channel's counts
  // FT2's files as the reference plays them: a break or jump on a loop's
  // row leaves the pattern at once, to the loop's row where a Dxx came
  // before the E6x (others: the loop repeats first).
  bool breakLeavesLoop = false;
  bool vblankTiming = false;      // a MOD's Fxx of 0x20 and up sets the speed too (no tempo)
  bool proTracker = false;        // a 4-channel M.K. module: ProTracker's own timing quirks apply
  bool songLoop = false;          // Digital Tracker: one E6x loop for the song, the first E6x of a row counts
  int channels = 0;
  int songLength = 0;
  int restart = 0;
  int tempo = 6;              // ticks per row
  int bpm = 125;
  uint8_t orders[kMaxOrders] = {};
  int patternCount = 0;
  std::vector<Pattern> patterns;
  int instrumentCount = 0;
  std::vector<Instrument> instruments;  // index 0 is instrument 1
  char name[21] = {};
};

// Load results. 0 is success.
enum LoadError {
  kLoadOk = 0,
  kLoadBadFormat,    // not the format, or a field out of range
  kLoadTruncated,    // the data ends inside a record
  kLoadTooLarge,     // beyond a fixed limit
};

// Loads an XM or a 4-channel MOD (by signature) from size bytes. A size of 0
// means unknown: the module's own headers give its extent and the caller
// vouches for the memory (the loaders still stop at every stated limit).
LoadError LoadSong(const uint8_t* data, size_t size, Song& out);
LoadError LoadXm(const uint8_t* data, size_t size, Song& out);
LoadError LoadMod(const uint8_t* data, size_t size, Song& out);

// Old MODs were timed by the display and knew only speeds, so their F20 and
// up are speeds as well. Such a module is told, as the reference player
// tells it, by tempo commands that would make it play over ten minutes.
void DetectVBlankTiming(Song& song);

// Builds the guard frames of a sample after data/length/loop are set.
void FinishSample(Sample& s);

}  // namespace zqa
