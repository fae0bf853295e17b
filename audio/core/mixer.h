// Sample voices and the stereo float mix they add into. Platform-free; the
// output side turns the float mix into 16-bit frames.
#pragma once
#include <cstdint>
#include "song.h"

namespace zqa {

constexpr int kOutputRate = 44100;
// Frames over which a volume change is spread (about 1.5 ms): long enough that
// note changes and cuts do not click, short enough to keep attacks sharp.
constexpr int kRampFrames = 64;

struct MixOptions {
  bool interpolate = true;
  bool ramp = true;
};

class Voice {
public:
  const int16_t* data = nullptr;  // kSampleGuard frames readable past loopEnd
  uint32_t length = 0;
  uint32_t loopStart = 0, loopEnd = 0;
  uint32_t firstEnd = 0;          // a first pass that ends past loopEnd (ProTracker), 0 none
  LoopType loop = kLoopNone;
  int64_t pos = 0;                // 32.32 frames
  int64_t step = 0;               // 32.32 frames per output frame
  bool backwards = false;
  bool active = false;
  float volL = 0, volR = 0;       // current gains
  float tgtL = 0, tgtR = 0;       // gains being ramped to
  float dL = 0, dR = 0;
  int rampLeft = 0;
  bool forced = false;            // the ramp under way runs even when the mix options say not to
  bool stopAtZero = false;        // end the voice when a ramp to silence ends
  // ProTracker's sample swap: the sample whose loop takes over at the end of
  // the current loop pass (or of the sample); a swap to an unlooped sample
  // ends the voice there.
  const Sample* swap = nullptr;

  // Starts a sample from frame offset; offsets at or past the end stop the voice.
  void Start(const Sample& s, uint32_t offset);
  void SetFrequency(double hz, int outRate);
  // ramp: spread over frames; otherwise jump. force: ramp whatever the mix
  // options say (a tracker's own ramp, part of how it sounds).
  void SetGains(float l, float r, bool ramp, int frames = kRampFrames, bool force = false);
  // Ramps to silence and ends.
  void FadeOut();
  // Adds frames of stereo output into out (interleaved L, R).
  void Mix(float* out, int frames, const MixOptions& opt);
};

// pan 0..255 (128 centre). Linear for MODs: the two sides sum to 1, 0.5
// each at the centre. FT2's square-root law for XMs: sqrt((256 - pan) / 256)
// and sqrt(pan / 256), so a centred voice is louder than a hard-panned one.
void PanGains(int pan, bool squareRoot, float& l, float& r);

// Float mix to 16-bit with clipping; returns the number of clipped values.
uint32_t ToPcm16(const float* in, int16_t* out, int samples, float gain);

}  // namespace zqa
