// On-disk records of the formats the library reads. Every multi-byte field is
// a byte array: the records are read by copying from unaligned memory and the
// host's byte order does not matter.
#pragma once
#include <cstddef>
#include <cstdint>

namespace zqa {

inline uint16_t le16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }
inline uint32_t le32(const uint8_t* p) { return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24); }
inline uint16_t be16(const uint8_t* p) { return uint16_t((p[0] << 8) | p[1]); }

// XM file header up to and including the header-size field; the header size
// counts from offset 60.
struct XmFileHead {
  char id[17];          // "Extended Module: "
  char name[20];
  uint8_t x1a;          // 0x1A
  char tracker[20];
  uint8_t version[2];
  uint8_t headerSize[4];
};
static_assert(sizeof(XmFileHead) == 64, "XM file head");
static_assert(offsetof(XmFileHead, headerSize) == 60, "XM header size offset");

// The part of the header that the header size covers (at offset 60, 276 bytes
// for the common size 276 including the size field itself).
struct XmSongHead {
  uint8_t headerSize[4];
  uint8_t songLength[2];
  uint8_t restart[2];
  uint8_t channels[2];
  uint8_t patterns[2];
  uint8_t instruments[2];
  uint8_t flags[2];     // bit 0: linear frequency table
  uint8_t tempo[2];     // ticks per row
  uint8_t bpm[2];
  uint8_t orders[256];
};
static_assert(sizeof(XmSongHead) == 276, "XM song head");
static_assert(offsetof(XmSongHead, orders) == 20, "XM order table offset");

struct XmPatternHead {
  uint8_t headerSize[4];
  uint8_t packing;
  uint8_t rows[2];
  uint8_t packedSize[2];
};
static_assert(sizeof(XmPatternHead) == 9, "XM pattern head");

// Instrument header: the first 29 bytes always exist; the rest only when the
// instrument has samples.
struct XmInstrumentHead {
  uint8_t size[4];
  char name[22];
  uint8_t type;
  uint8_t samples[2];
};
static_assert(sizeof(XmInstrumentHead) == 29, "XM instrument head");

struct XmInstrumentBody {
  uint8_t sampleHeaderSize[4];
  uint8_t sampleMap[96];
  uint8_t volEnv[48];   // 12 points of (x, y), 16-bit each
  uint8_t panEnv[48];
  uint8_t volPoints, panPoints;
  uint8_t volSustain, volLoopStart, volLoopEnd;
  uint8_t panSustain, panLoopStart, panLoopEnd;
  uint8_t volType, panType;   // bit 0 on, bit 1 sustain, bit 2 loop
  uint8_t vibType, vibSweep, vibDepth, vibRate;
  uint8_t fadeout[2];
  uint8_t reserved[2];
};
static_assert(sizeof(XmInstrumentBody) == 214, "XM instrument body");
static_assert(offsetof(XmInstrumentBody, volEnv) == 100, "XM volume envelope offset");
static_assert(offsetof(XmInstrumentBody, volPoints) == 196, "XM envelope counts offset");
static_assert(offsetof(XmInstrumentBody, fadeout) == 210, "XM fade-out offset");
static_assert(sizeof(XmInstrumentHead) + sizeof(XmInstrumentBody) == 243, "XM full instrument header");

struct XmSampleHead {
  uint8_t length[4];
  uint8_t loopStart[4];
  uint8_t loopLength[4];
  uint8_t volume;
  int8_t finetune;
  uint8_t type;         // bits 0-1 loop (1 forward, 2 ping-pong), bit 4 16-bit
  uint8_t panning;
  int8_t relativeNote;
  uint8_t reserved;
  char name[22];
};
static_assert(sizeof(XmSampleHead) == 40, "XM sample head");
static_assert(offsetof(XmSampleHead, relativeNote) == 16, "XM relative note offset");

// 31-sample module (2 to 32 channels by its tag): 31 sample records after
// the 20-byte title.
struct ModSampleRecord {
  char name[22];
  uint8_t length[2];      // big-endian words
  uint8_t finetune;       // low 4 bits, signed
  uint8_t volume;
  uint8_t loopStart[2];   // words
  uint8_t loopLength[2];  // words
};
static_assert(sizeof(ModSampleRecord) == 30, "MOD sample record");

struct ModHead {
  char title[20];
  ModSampleRecord samples[31];
  uint8_t songLength;
  uint8_t restart;
  uint8_t orders[128];
  char tag[4];
};
static_assert(sizeof(ModHead) == 1084, "MOD header");
static_assert(offsetof(ModHead, songLength) == 950, "MOD song length offset");
static_assert(offsetof(ModHead, orders) == 952, "MOD order table offset");

// Soundtracker's 15-sample module: no tag, patterns follow the order table.
struct SoundtrackerHead {
  char title[20];
  ModSampleRecord samples[15];
  uint8_t songLength;
  uint8_t restart;        // often 120; no restart in these trackers
  uint8_t orders[128];
};
static_assert(sizeof(SoundtrackerHead) == 600, "Soundtracker header");
static_assert(offsetof(SoundtrackerHead, orders) == 472, "Soundtracker order table offset");

struct RiffHead {
  char riff[4];
  uint8_t size[4];
  char wave[4];
};
static_assert(sizeof(RiffHead) == 12, "RIFF head");

struct RiffChunkHead {
  char id[4];
  uint8_t size[4];
};
static_assert(sizeof(RiffChunkHead) == 8, "RIFF chunk head");

struct WavFormat {
  uint8_t formatTag[2];
  uint8_t channels[2];
  uint8_t sampleRate[4];
  uint8_t byteRate[4];
  uint8_t blockAlign[2];
  uint8_t bitsPerSample[2];
};
static_assert(sizeof(WavFormat) == 16, "WAV fmt chunk");

// Bounded reader over a byte block. A read past the end fails and leaves the
// reader failed; every later read fails too, so a loader checks once per record.
class Reader {
public:
  const uint8_t* base = nullptr;
  size_t size = 0;
  size_t pos = 0;
  bool failed = false;

  Reader(const uint8_t* b, size_t n) : base(b), size(n) {}
  size_t left() const { return pos <= size ? size - pos : 0; }
  bool can(size_t n) const { return !failed && n <= left(); }
  // Copies n bytes into dst; on failure dst is zeroed.
  bool read(void* dst, size_t n);
  // Returns a pointer to n bytes in place, or nullptr.
  const uint8_t* take(size_t n);
  bool skip(size_t n);
  bool seek(size_t p) { if (failed || p > size) { failed = true; return false; } pos = p; return true; }
};

}  // namespace zqa
