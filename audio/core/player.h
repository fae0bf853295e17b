// XM replayer (and 4-channel MOD in the same model, under ProTracker rules
// where they differ). One Player plays one Song; it adds its output into a
// caller's float mix.
#pragma once
#include <cstdint>
#include <vector>
#include "mixer.h"
#include "song.h"

namespace zqa {

struct EnvState {
  int tick = 0;
  int point = 0;
  int value = 0;  // 0..64
  bool stuck = false;  // a panning envelope held at its sustain point past the key-on tick
};

struct Channel {
  Cell cell;                    // the row's cell
  int instrument = 0;           // 1-based, 0 none
  const Instrument* ins = nullptr;
  const Sample* smp = nullptr;
  int note = 0;                 // last triggered note 1..96
  int realNote = 0;             // note + relative note, 0-based
  int finetune = 0;
  int period = 0, outPeriod = 0, targetPeriod = 0;
  // Tone portamento direction, set with each target: +1 towards larger
  // periods, -1 towards smaller. FT2 turns it to +1 when the target is
  // reached from above; a later slide past the target then snaps back.
  int portaDir = 0;
  int volume = 0, outVolume = 0;
  int panning = 128, outPan = 128;
  bool keyOn = false;
  // The fade-out runs from a key-off until the instrument restarts; a note
  // alone presses the key again (envelope sustains hold) but fades on.
  bool fading = false;
  int fadeout = 32768;
  int fadeoutSpeed = 0;
  EnvState volEnv, panEnv;
  int autoVibPos = 0, autoVibAmp = 0, autoVibSweep = 0;
  bool muted = false;           // tremor off phase
  // FT2 spreads a slide, and a change that comes only from the tremolo or
  // the panning envelope, over the whole tick. slid and tickRamp mark the
  // tick's slide and tremolo or envelope step; rampVolume and rampPan are
  // the rest of the last tick's volume and panning, to tell what else moved.
  bool slid = false;
  bool tickRamp = false;
  float rampVolume = 0;
  int rampPan = 0;
  // Effect memories.
  uint8_t portaUp = 0, portaDown = 0, finePortaUp = 0, finePortaDown = 0;
  uint8_t xfinePortaUp = 0, xfinePortaDown = 0;
  int portaSpeed = 0;
  uint8_t vibSpeed = 0, vibDepth = 0, vibPos = 0, vibWave = 0;
  uint8_t tremSpeed = 0, tremDepth = 0, tremPos = 0, tremWave = 0;
  uint8_t volSlide = 0, fineVolUp = 0, fineVolDown = 0, panSlide = 0, globalSlide = 0;
  uint8_t retrigVol = 0, retrigSpeed = 0, retrigCount = 0;
  uint8_t tremor = 0, tremorPos = 0;
  uint8_t offsetMem = 0;
  // ProTracker moves the sample start itself by each offset command (kept
  // until the next instrument number); past the end, the sample is cut.
  uint32_t ptStart = 0;
  bool ptCut = false;
  int heldPeriod = 0, holdTicks = 0;  // ProTracker: the voice keeps heldPeriod for holdTicks more ticks
  uint8_t arpMem = 0;
  bool glissando = false;
  int loopRow = 0, loopCount = 0;
  bool retriggerNow = false;     // a (re)start of the voice is due this tick
  uint32_t startOffset = 0;
  Voice voice;                   // the sounding voice
  Voice fade;                    // the previous voice, ramping out
};

struct PlayerCounters {
  uint64_t ticks = 0, rows = 0, notes = 0, framesMixed = 0;
  uint64_t endFrame = 0;         // frames mixed at the end of the song's last tick (0 while playing)
};

class Player {
public:
  const Song* song = nullptr;
  int rate = kOutputRate;
  bool loopSong = false;
  bool ended = false;            // reached the end (not looping); count.endFrame says where
  // True once the song has ended and its last tick has been mixed.
  bool Finished() const { return ended && count.framesMixed >= count.endFrame; }
  MixOptions mix;
  float gain = 1.0f;             // per-channel gain before panning and the master volume

  int speed = 6, bpm = 125;
  int nextBpm = 0;               // a tempo command on a MOD's first tick, due from the next (0 none)
  int tick = 0;                  // 0..speed-1 within the row
  int order = 0, row = 0;
  int globalVolume = 64;
  int patternDelay = 0;          // repeats of the current row still to play
  bool inDelayRepeat = false;
  int rowTick = 0;               // ticks since the row began, its delay repeats included
  // Row flow as the trackers keep it: a break row (Dxx, or the start row of a
  // pattern loop), a jump to another order (Bxx, Dxx), and a jump within the
  // pattern (E6x). FT2 keeps the break row after a loop jump, so the next
  // pattern starts at the loop row; ProTracker clears it.
  int breakRow = 0;
  bool breakFlag = false;        // E6x: go to loopJumpRow in this pattern (a jump on the row waits)
  int loopJumpRow = 0;
  bool jumpFlag = false;         // Bxx/Dxx: go to jumpOrder (or the next order) at breakRow
  int jumpOrder = -1;
  bool rowLoopSeen = false;      // an E6x has acted on this row
  bool rowBreakSeen = false;     // a Dxx has acted on this row
  int64_t tickFrames = 0;        // frames per tick, 32.32
  int64_t frameAcc = 0;          // frames left in the current tick, 32.32
  Channel ch[kMaxChannels];
  // End-of-song detection. Rows played with no pattern loop counting are
  // marked in visited; coming back to one means the song has come round.
  // Rows replayed while a loop counts keep a tag of the loop state of their
  // last visit (0 none): the same row in the same state again is an endless
  // loop, which ends the song too.
  uint8_t visited[kMaxOrders][kMaxRows / 8];
  std::vector<uint16_t> loopTag;  // songLength x kMaxRows
  PlayerCounters count;

  // Starts the song at order 0 with the song's tempo and BPM.
  void Start(const Song* s, bool loop);
  // Adds frames of stereo float output into out.
  void Render(float* out, int frames);
  // Runs one tick of the song (rows, effects, envelopes, voice updates).
  void RunTick();
  // True while any voice still sounds (after the end, until the fades end).
  bool Sounding() const;

  // Frequency in Hz for a period under the song's table.
  double PeriodToFrequency(int period) const;
  int NoteToPeriod(int realNote, int finetune) const;

private:
  void SetBpm(int b);
  void StartRow();
  void AdvancePosition();
  uint16_t LoopStateTag() const;  // 0 when no loop counts
  void ProcessCell(Channel& c, bool delayed);
  // False when the note falls outside the period table and is ignored.
  bool TriggerNote(Channel& c, int note, bool tonePorta);
  // The volume and panning come from the sample from, or the channel's.
  void ResetInstrument(Channel& c, bool envelopes, const Sample* from = nullptr);
  const Instrument* InstrumentAt(int number) const;  // 1-based; nullptr past the song's
  void RestartEnvelopes(Channel& c);
  void KeyOff(Channel& c);
  void VolumeColumnTick0(Channel& c, bool delayed);
  void VolumeColumnTick(Channel& c);
  void EffectTick0(Channel& c);
  void EffectTick(Channel& c);
  void UpdateEnvelopes(Channel& c);
  void UpdateVoice(Channel& c);
  void VolumeSlide(Channel& c, uint8_t param);
  void TonePorta(Channel& c);
  int GlissandoPeriod(const Channel& c) const;
  void Vibrato(Channel& c);
  void Tremolo(Channel& c);
  void Arpeggio(Channel& c);
  void MultiRetrig(Channel& c, bool firstTick);
  void ClampPeriod(Channel& c);
  void Retrigger(Channel& c);
  void ProTrackerOffset(Channel& c, const Sample& s);
};

}  // namespace zqa
