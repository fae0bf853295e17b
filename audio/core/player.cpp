// Song position, rows, note triggering, envelopes and the voice updates of the
// replayer. The effect commands are in effects.cpp.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include "player.h"

namespace zqa {

// The linear period where FT2's octave shift first overflows (19 octaves and
// a third below period 0).
constexpr int kLinearWrapPeriod = 19 * 768 + 256;

double Player::PeriodToFrequency(int period) const {
  if (period <= 0) return 0;
  if (song->linearFreq) {
    // Past 19 octaves below the top FT2's octave shift overflows: the pitch
    // jumps up by 2^21 (2^22 in the first third of an octave) and falls
    // again, once more every 32 octaves.
    const int p = period & 0xFFFF;
    int wrap = 0;
    if (p >= kLinearWrapPeriod) wrap = 21 + 32 * ((p - kLinearWrapPeriod) / (32 * 768)) + (p % 768 < 256 ? 1 : 0);
    return 8363.0 * std::exp2((4608.0 - p) / 768.0 + wrap);
  }
  // Amiga periods here are four times the hardware's; MODs play at the PAL
  // clock, XM's Amiga table at 8363 Hz for period 1712.
  if (song->modFormat) return 14187580.0 / period;
  return 8363.0 * 1712.0 / period;
}

namespace {

// The tick an EDx note delay names, -1 for a cell without one.
int DelayTick(const Cell& cell) { return cell.effect == 0xE && (cell.param >> 4) == 0xD ? cell.param & 15 : -1; }

// ProTracker's periods of its lowest octave (C-1 to B-1) for finetunes 0
// to 7 and then -8 to -1. Its tables follow no formula (each entry was
// rounded on its own). Finetuned notes of the octaves above halve these,
// as the reference player plays them; untuned ones keep the tracker's own
// rounding (kPtUntuned, C-2 to B-3).
constexpr int kPtFinetunes = 16;
const uint16_t kPtUntuned[24] = {428, 404, 381, 360, 339, 320, 302, 285, 269, 254, 240, 226,
                                 214, 202, 190, 180, 170, 160, 151, 143, 135, 127, 120, 0};  // B-3: halved
const uint16_t kPtPeriods[kPtFinetunes][12] = {
  {856, 808, 762, 720, 678, 640, 604, 570, 538, 508, 480, 453},
  {850, 802, 757, 715, 674, 637, 601, 567, 535, 505, 477, 450},
  {844, 796, 752, 709, 670, 632, 597, 563, 532, 502, 474, 447},
  {838, 791, 746, 704, 665, 628, 592, 559, 528, 498, 470, 444},
  {832, 785, 741, 699, 660, 623, 588, 555, 524, 495, 467, 441},
  {826, 779, 736, 694, 655, 619, 584, 551, 520, 491, 463, 437},
  {820, 774, 730, 689, 651, 614, 580, 547, 516, 487, 460, 434},
  {814, 768, 725, 684, 646, 610, 575, 543, 513, 484, 457, 431},
  {907, 856, 808, 762, 720, 678, 640, 604, 570, 538, 508, 480},
  {900, 850, 802, 757, 715, 675, 636, 601, 567, 535, 505, 477},
  {894, 844, 796, 752, 709, 670, 632, 597, 563, 532, 502, 474},
  {887, 838, 791, 746, 704, 665, 628, 592, 559, 528, 498, 470},
  {881, 832, 785, 741, 699, 660, 623, 588, 555, 524, 494, 467},
  {875, 826, 779, 736, 694, 655, 619, 584, 551, 520, 491, 463},
  {868, 820, 774, 730, 689, 651, 614, 580, 547, 516, 487, 460},
  {862, 814, 768, 725, 684, 646, 610, 575, 543, 513, 484, 457},
};
constexpr int kPtFirstNote = 36;  // C-1 as a 0-based note of the song model

}  // namespace

int Player::NoteToPeriod(int realNote, int finetune) const {
  // FT2's tables have 16 finetune steps per semitone.
  const int ft = song->fullFinetune ? finetune : (finetune >> 3) * 8;
  if (song->linearFreq) return 7680 - realNote * 64 - ft / 2;
  if (song->modFormat) {
    // Times four, so two octaves up keep their fraction.
    const int tune = (finetune >> 4) & (kPtFinetunes - 1);
    const uint16_t* row = kPtPeriods[tune];
    const int n = std::clamp(realNote, 0, 131) - kPtFirstNote;
    if (n < 0) return (row[(n % 12 + 12) % 12] * 4) << ((11 - n) / 12);
    if (tune == 0 && n >= 12 && n < 36 && kPtUntuned[n - 12]) return kPtUntuned[n - 12] * 4;
    return (row[n % 12] * 4) >> (n / 12);
  }
  // Amiga periods in XM come from ProTracker's octave (C-1 = 856) times
  // four, doubled or halved per octave, so they round as the hardware
  // table does; finetune moves linearly in period towards the neighbouring
  // note.
  static const int kOctave[12] = {856, 808, 762, 720, 678, 640, 604, 570, 538, 508, 480, 453};
  auto at = [](int n) {
    n = std::clamp(n, 0, 131);
    const int oct = n / 12;
    const int base = kOctave[n % 12] * 4;
    return oct <= 3 ? double(base << (3 - oct)) : double(base >> (oct - 3));
  };
  const double p = at(realNote);
  const double q = ft >= 0 ? at(realNote + 1) : at(realNote - 1);
  return int(std::lround(p + (q - p) * std::abs(ft) / 128.0));
}

void Player::SetBpm(int b) {
  bpm = std::clamp(b, 32, 255);
  // frames per tick = rate * 2.5 / bpm, as 32.32; ticks are whole frames
  // (the fraction dropped), as the reference player times them.
  const double frames = std::floor(double(rate) * 2.5 / bpm);
  tickFrames = int64_t(frames * 4294967296.0);
}

void DetectVBlankTiming(Song& song) {
  constexpr double kLongSong = 600.0;  // seconds of tempo-timed play
  bool tempo = false;
  for (const Pattern& p : song.patterns)
    for (const Cell& c : p.cells) tempo |= c.effect == 0xF && c.param >= 32;
  if (!tempo) return;
  // A walk through the song's ticks without mixing; the end detection
  // stops it, the limit stops an endless one.
  auto walk = std::make_unique<Player>();
  walk->Start(&song, false);
  double seconds = 0;
  while (!walk->ended && seconds <= kLongSong) {
    walk->RunTick();
    seconds += 2.5 / walk->bpm;
  }
  song.vblankTiming = seconds > kLongSong;
}

void Player::Start(const Song* s, bool loop) {
  song = s;
  loopSong = loop;
  ended = false;
  speed = s->tempo;
  SetBpm(s->bpm);
  nextBpm = 0;
  tick = 0;
  order = 0;
  row = 0;
  globalVolume = 64;
  patternDelay = 0;
  inDelayRepeat = false;
  rowTick = 0;
  breakRow = loopJumpRow = 0;
  breakFlag = jumpFlag = false;
  jumpOrder = -1;
  frameAcc = 0;
  count = PlayerCounters();
  std::memset(visited, 0, sizeof visited);
  visited[0][0] = 1;
  loopTag.assign(size_t(s->songLength) * kMaxRows, 0);
  for (int i = 0; i < kMaxChannels; i++) {
    ch[i] = Channel();
    if (s->modFormat) ch[i].panning = ((i & 3) == 1 || (i & 3) == 2) ? 192 : 64;
  }
  // Louder per channel for few channels; the sum of many stays near full scale.
  gain = std::sqrt(4.0f / float(std::max(4, s->channels)));
}

void Player::Render(float* out, int frames) {
  if (!song) return;
  while (frames > 0) {
    if (frameAcc < (int64_t(1) << 32)) {
      if (ended) {
        // Let the last voices ramp out, then nothing more is added.
        for (int i = 0; i < song->channels; i++) { ch[i].voice.FadeOut(); }
      } else {
        RunTick();
        // The tick that ends the song still sounds in full.
        if (ended) count.endFrame = count.framesMixed + uint64_t((frameAcc + tickFrames) >> 32);
      }
      frameAcc += tickFrames;
    }
    int n = int(std::min<int64_t>(frames, frameAcc >> 32));
    for (int i = 0; i < song->channels; i++) {
      ch[i].voice.Mix(out, n, mix);
      ch[i].fade.Mix(out, n, mix);
    }
    count.framesMixed += uint64_t(n);
    frameAcc -= int64_t(n) << 32;
    out += 2 * n;
    frames -= n;
  }
}

bool Player::Sounding() const {
  if (!song) return false;
  for (int i = 0; i < song->channels; i++)
    if (ch[i].voice.active || ch[i].fade.active) return true;
  return false;
}

void Player::RunTick() {
  if (ended) return;
  if (nextBpm) {
    SetBpm(nextBpm);
    nextBpm = 0;
  }
  const int nch = song->channels;
  for (int i = 0; i < nch; i++) {
    Channel& c = ch[i];
    c.outPeriod = c.period;
    c.outVolume = c.volume;
    c.outPan = c.panning;
  }
  if (tick == 0 && !inDelayRepeat) {
    StartRow();
  } else {
    for (int i = 0; i < nch; i++) {
      Channel& c = ch[i];
      // A note delay plays again on every repeat of a delayed row.
      const bool delayNow = DelayTick(c.cell) == tick;
      // FT2 slides the volume column of a delayed cell before its tick too;
      // files of older OpenMPT versions wait for the tick.
      const bool waiting = song->oldOpenMpt && DelayTick(c.cell) > tick;
      if (delayNow) {
        // An XM's volume column slides on that tick too, before the note
        // (whose instrument number may then reset the volume).
        if (!song->modFormat) VolumeColumnTick(c);
        ProcessCell(c, true);
      } else if (!waiting) {
        VolumeColumnTick(c);
        EffectTick(c);
      }
    }
  }
  for (int i = 0; i < nch; i++) {
    if (ch[i].holdTicks) {
      ch[i].holdTicks--;
      ch[i].outPeriod = ch[i].heldPeriod;
    }
    UpdateEnvelopes(ch[i]);
    UpdateVoice(ch[i]);
  }
  count.ticks++;
  rowTick++;
  if (++tick >= speed) {
    tick = 0;
    if (patternDelay > 0) {
      patternDelay--;
      inDelayRepeat = true;
    } else {
      inDelayRepeat = false;
      rowTick = 0;
      AdvancePosition();
    }
  }
}

void Player::StartRow() {
  const Pattern& pat = song->patterns[song->orders[order]];
  const int nch = song->channels;
  const Cell* cells = &pat.cells[size_t(row) * nch];
  count.rows++;
  rowLoopSeen = rowBreakSeen = false;
  for (int i = 0; i < nch; i++) {
    Channel& c = ch[i];
    c.cell = cells[i];
    const bool delayed = DelayTick(c.cell) > 0;
    // ProTracker: a note delayed past its row sounds from the next row's
    // first tick, the voice going on without a restart, unless that row
    // brings a note of its own; a delayed one keeps the old pitch until
    // it starts.
    if (c.holdTicks) c.holdTicks = c.cell.note && delayed ? c.cell.param & 15 : 0;
    if (delayed) {
      // ProTracker takes a delayed note's sample volume, finetune and pitch
      // at once; past the row's last tick the note never starts, and the
      // sounding one goes on with them.
      if (song->proTracker) {
        const Instrument* ins = InstrumentAt(c.cell.instrument);
        if (ins && ins->samples) {
          const Sample* smp = &ins->sample[0];
          c.volume = c.outVolume = smp->volume;
          c.finetune = smp->finetune;
          if (c.voice.active && smp != c.smp) c.voice.swap = smp;
        }
        if (c.cell.note && c.smp && (c.cell.param & 15) >= speed) {
          // The voice is told the new period only on a later row.
          if (!c.holdTicks) c.heldPeriod = c.outPeriod;
          c.holdTicks = speed + 1;
          c.period = NoteToPeriod(c.cell.note - 1, c.finetune);
        }
      }
      continue;  // the whole cell acts on its tick
    }
    ProcessCell(c, false);
  }
}

uint16_t Player::LoopStateTag() const {
  uint32_t h = 2166136261u;
  bool counting = false;
  for (int i = 0; i < song->channels; i++) {
    h = (h ^ uint32_t(ch[i].loopCount)) * 16777619u;
    counting |= ch[i].loopCount != 0;
  }
  if (!counting) return 0;
  h = (h ^ uint32_t(breakRow)) * 16777619u;
  return uint16_t(1 + (h ^ (h >> 16)) % 65535u);
}

void Player::AdvancePosition() {
  row++;
  int nextBreakRow = 0;
  if (breakFlag && song->oldOpenMpt) {
    // Files of older OpenMPT versions: the loop's row and a break's share
    // one break row, the last command of the row setting it; a break or
    // jump still leaves the pattern, to that row of the next one.
    breakFlag = false;
    row = breakRow;
  } else if (breakFlag && jumpFlag && song->breakLeavesLoop) {
    // FT2's files: the break or jump goes first, and the loop's row stays
    // the start of the pattern after the next.
    breakFlag = false;
    nextBreakRow = loopJumpRow;
  } else if (breakFlag) {
    // Elsewhere a loop repeat wins over a break or jump on the same row;
    // they act on the loop's last pass.
    breakFlag = jumpFlag = false;
    jumpOrder = -1;
    row = loopJumpRow;
    breakRow = song->keepLoopBreakRow ? loopJumpRow : 0;
  }
  if (jumpFlag || row >= song->patterns[song->orders[order]].rows) {
    order = jumpFlag && jumpOrder >= 0 ? jumpOrder : order + 1;
    row = breakRow;
    breakRow = nextBreakRow;
    jumpFlag = false;
    jumpOrder = -1;
    if (order >= song->songLength) order = song->restart;
    // A break to a row past the end of the new pattern plays its first row.
    if (row >= song->patterns[song->orders[order]].rows) row = 0;
  }
  const uint16_t tag = LoopStateTag();
  uint8_t& v = visited[order][row >> 3];
  const uint8_t bit = uint8_t(1u << (row & 7));
  uint16_t& last = loopTag[size_t(order) * kMaxRows + size_t(row)];
  if (tag ? last == tag : (v & bit) != 0) {
    if (!loopSong) { ended = true; return; }
    std::memset(visited, 0, sizeof visited);
    std::fill(loopTag.begin(), loopTag.end(), uint16_t(0));
  }
  if (tag) last = tag;
  else v |= bit;
}

void Player::ProcessCell(Channel& c, bool delayed) {
  bool noteFromMemory = false;
  if (!song->modFormat) {
    // K00 takes the place of the row's note as a key-off note. Next to an
    // instrument number it drops both and only releases the key (no cut,
    // no volume or panning recalled); a volume-column portamento keeps
    // the note and the key is released. A note delay with no note replays
    // the last note (FT2 keeps it as if it stood next to the delay).
    if (c.cell.effect == 20 && c.cell.param == 0 && (c.cell.volume >> 4) != 0xF) {
      c.cell.note = c.cell.instrument ? 0 : kNoteOff;
      c.cell.instrument = 0;
    }
    if (delayed && c.cell.note == 0 && c.note) {
      c.cell.note = uint8_t(c.note);
      noteFromMemory = true;
    }
  }
  const Cell& cell = c.cell;
  // In a MOD a portamento note on a channel with no pitch yet simply plays
  // (the reference player does so); in an XM it starts nothing.
  // FT2 does not apply a volume-column portamento on a note delay's tick:
  // the note plays as it is.
  const bool tonePorta = (cell.effect == 3 || cell.effect == 5 || (cell.volume >> 4) == 0xF) &&
                         !(song->modFormat && !(c.smp && c.period)) && !(delayed && !song->modFormat);
  // Under tone portamento the sounding sample and instrument stay; a new
  // instrument number only resets volume and envelopes (of the old one).
  // In an XM a new instrument is taken up by a note; a number alone
  // restarts the playing one.
  // The last note replayed by a delay takes a new instrument's sample but
  // keeps the volume and panning of the one that sounded.
  const Sample* lastSample = noteFromMemory ? c.smp : nullptr;
  const int instrumentBefore = c.instrument;
  const Instrument* insBefore = c.ins;
  if (cell.instrument && !(tonePorta && c.smp)) {
    c.instrument = cell.instrument;
    if (song->modFormat || (cell.note && cell.note != kNoteOff)) c.ins = InstrumentAt(c.instrument);
  }
  // ProTracker takes a number's sample up at once for the channel (its
  // volume, a retrigger, the next note), but the sounding sample plays on
  // to the end of its loop pass before the new one's loop takes over; a
  // stopped channel stays silent. An empty sample ends the sound there.
  if (song->modFormat && cell.instrument && (!cell.note || tonePorta)) {
    const Instrument* ins = InstrumentAt(cell.instrument);
    static const Sample kNoSample;
    const Sample* s = ins && ins->samples ? &ins->sample[0] : &kNoSample;
    if (s != c.smp) {
      c.instrument = cell.instrument;
      c.ins = ins;
      if (s != &kNoSample) c.smp = s;
      if (c.voice.active) c.voice.swap = s;
    }
    // A portamento on a stopped channel starts the new sample over, still
    // sliding from where the pitch was.
    if (tonePorta && !c.voice.active && c.smp) Retrigger(c);
  }
  if (song->modFormat && cell.instrument) {
    c.ptStart = 0;
    c.ptCut = false;
  }
  bool triggered = false, ignoredNote = false;
  if (cell.note == kNoteOff && delayed && !song->modFormat) {
    // FT2: a delayed key-off restarts the instrument (the sample's volume
    // and panning, the envelopes) with the key down; without a volume
    // envelope it restarts the envelopes and cuts the volume.
    if (c.ins && c.ins->volEnv.on) {
      ResetInstrument(c, true);
    } else {
      RestartEnvelopes(c);
      c.volume = c.outVolume = 0;
    }
  } else if (cell.note == kNoteOff) {
    KeyOff(c);
  } else if (cell.note) {
    if (tonePorta) {
      // Nothing starts: with no note sounding there is nothing to slide.
      if (c.smp) {
        int rn = std::clamp(cell.note - 1 + c.smp->relativeNote, 0, 118);
        c.targetPeriod = NoteToPeriod(rn, c.finetune);
        c.portaDir = c.targetPeriod > c.period ? 1 : -1;
        c.note = cell.note;
      }
    } else {
      triggered = true;
      if (!TriggerNote(c, cell.note, false)) ignoredNote = true;
    }
  }
  if (song->modFormat && cell.effect == 9 && !triggered && c.smp) {
    if (cell.param) c.offsetMem = cell.param;
    ProTrackerOffset(c, *c.smp);
  }
  // Any instrument number recalls the sample's volume and panning, even next
  // to a key-off; only with a playable note does it restart envelopes.
  // A delayed key-off has restarted the instrument already.
  const bool delayedOff = delayed && cell.note == kNoteOff && !song->modFormat && c.ins && c.ins->volEnv.on;
  // An ignored note leaves its number acting alone, on the playing instrument.
  if (ignoredNote && !song->modFormat) {
    c.instrument = instrumentBefore;
    c.ins = insBefore;
  }
  if (cell.instrument && !delayedOff) ResetInstrument(c, cell.note != kNoteOff, lastSample);
  // FT2 restarts the envelopes of a delayed note even without an instrument.
  else if (delayed && triggered && !song->modFormat) RestartEnvelopes(c);
  // Volume and effect columns see the channel after its note; a glissando
  // keeps its semitone step on the row's first tick.
  c.outVolume = c.volume;
  c.outPan = c.panning;
  c.outPeriod = c.glissando && tonePorta && c.period ? GlissandoPeriod(c) : c.period;
  // A vibrato going on over the row is heard on the row's first tick too,
  // at its current position (it moves on the other ticks only); ProTracker
  // plays the plain period there.
  if (!triggered && !song->modFormat && (cell.effect == 4 || cell.effect == 6 || (cell.volume >> 4) == 0xB)) {
    uint8_t pos = c.vibPos;
    Vibrato(c);
    c.vibPos = pos;
  }
  // So is an XM tremolo.
  if (!triggered && cell.effect == 7 && !song->modFormat) {
    uint8_t pos = c.tremPos;
    Tremolo(c);
    c.tremPos = pos;
  }
  VolumeColumnTick0(c, delayed);
  EffectTick0(c);
}

const Instrument* Player::InstrumentAt(int number) const {
  return number >= 1 && number <= song->instrumentCount ? &song->instruments[size_t(number - 1)] : nullptr;
}

bool Player::TriggerNote(Channel& c, int note, bool) {
  if (!song->modFormat) c.ins = InstrumentAt(c.instrument);
  const Instrument* ins = c.ins;
  if (!ins || ins->samples == 0) { c.smp = nullptr; c.voice.FadeOut(); return true; }
  const Sample* s = &ins->sample[ins->sampleMap[note - 1]];
  if (s->length == 0) {
    // FT2 takes an empty sample's defaults and the note even so: a number
    // alone recalls that volume, a later note alone plays at it.
    c.smp = song->modFormat ? nullptr : s;
    if (!song->modFormat) c.note = note;
    c.voice.FadeOut();
    return true;
  }
  int rn = note - 1 + s->relativeNote;
  // Outside the table the note is ignored, and with it the instrument. FT2
  // still plays one note below its lowest (1-based note and relative note
  // summing to 0); the reference plays it at the lowest note's pitch.
  if (rn < (song->modFormat ? 0 : -1) || rn > 118) return false;
  c.smp = s;
  c.note = note;
  if (!song->modFormat) c.keyOn = true;
  c.realNote = rn;
  c.finetune = s->finetune;
  if (c.cell.effect == 0xE && (c.cell.param >> 4) == 5) {
    int y = c.cell.param & 15;
    c.finetune = (song->modFormat ? (y >= 8 ? y - 16 : y) : y - 8) * 16;
  }
  c.period = c.targetPeriod = NoteToPeriod(std::max(rn, 0), c.finetune);
  // ProTracker's highest pitch holds for finetuned notes too.
  if (song->proTracker) c.period = c.targetPeriod = std::max(c.period, 113 * 4);
  uint32_t offset = 0;
  if (c.cell.effect == 9) {
    if (c.cell.param) c.offsetMem = c.cell.param;
    offset = uint32_t(c.offsetMem) * 256;
  }
  if (song->modFormat) {
    // ProTracker applies an offset next to a note twice: before the note
    // starts and again after, for the notes that follow.
    if (c.cell.effect == 9) ProTrackerOffset(c, *s);
    offset = c.ptCut ? s->FirstPassLength() : c.ptStart;
    if (c.cell.effect == 9) ProTrackerOffset(c, *s);
  }
  c.startOffset = offset;
  c.retriggerNow = true;
  if (c.vibWave < 4) c.vibPos = 0;
  if (c.tremWave < 4) c.tremPos = 0;
  count.notes++;
  return true;
}

void Player::ResetInstrument(Channel& c, bool envelopes, const Sample* from) {
  const Sample* smp = from ? from : c.smp;
  if (!smp && !song->modFormat) {
    // Nothing played yet: FT2 takes the numbered instrument's sample for
    // the last note, so a later note without a number keeps these settings,
    // the panning too.
    const Instrument* ins = InstrumentAt(c.instrument);
    if (ins && ins->samples) smp = &ins->sample[ins->sampleMap[std::max(c.note, 1) - 1]];
  }
  if (!smp) return;
  c.volume = smp->volume;
  if (!song->modFormat) c.panning = smp->panning;
  // Any number restarts the tremor, even next to a key-off.
  c.tremorPos = 0;
  c.muted = false;
  if (!envelopes) return;
  RestartEnvelopes(c);
}

void Player::RestartEnvelopes(Channel& c) {
  c.keyOn = true;
  c.fading = false;
  c.fadeout = 32768;
  // FT2 takes the fade-out from the instrument number even before a note
  // takes the instrument up; an empty instrument leaves the playing one's.
  const Instrument* numbered = song->modFormat ? c.ins : InstrumentAt(c.instrument);
  if (!numbered || numbered->samples == 0) numbered = c.ins;
  c.fadeoutSpeed = numbered ? numbered->fadeout : 0;
  c.volEnv = EnvState();
  c.panEnv = EnvState();
  c.autoVibPos = 0;
  if (c.ins && c.ins->vibSweep) {
    c.autoVibAmp = 0;
    c.autoVibSweep = (c.ins->vibDepth << 8) / c.ins->vibSweep;
  } else {
    c.autoVibAmp = c.ins ? c.ins->vibDepth << 8 : 0;
    c.autoVibSweep = 0;
  }
}

void Player::KeyOff(Channel& c) {
  c.keyOn = false;
  c.fading = true;
  if (!c.ins || !c.ins->volEnv.on) {
    c.volume = 0;
    c.outVolume = 0;
  }
}

void Player::ProTrackerOffset(Channel& c, const Sample& s) {
  const uint32_t off = uint32_t(c.offsetMem) * 256;
  if (c.ptCut || off == 0) return;
  const uint32_t len = s.FirstPassLength();
  if (off >= len - std::min(c.ptStart, len)) c.ptCut = true;
  else c.ptStart += off;
}

void Player::Retrigger(Channel& c) {
  if (!c.smp) return;
  // Before a swapped-in sample has taken over, a ProTracker retrigger
  // restarts the sounding one and the swap is off.
  if (c.voice.active && c.voice.swap) {
    c.voice.pos = 0;
    c.voice.swap = nullptr;
    return;
  }
  c.startOffset = 0;
  c.retriggerNow = true;
}

namespace {

int EnvelopeValue(const Envelope& e, int t) {
  const int last = e.points - 1;
  if (t >= e.p[last].x) return e.p[last].y;
  int i = 0;
  while (i < last - 1 && t >= e.p[i + 1].x) i++;
  const EnvelopePoint& a = e.p[i];
  const EnvelopePoint& b = e.p[i + 1];
  if (t <= a.x) return a.y;
  return a.y + (int(b.y) - int(a.y)) * (t - a.x) / (b.x - a.x);
}

// FT2 releases a panning envelope's sustain only by a key-off on the very
// tick the sustain point is reached; once held there, it stays until the
// envelope restarts. The volume envelope moves on from a later key-off.
void EnvelopeTick(const Envelope& e, EnvState& s, bool keyOn, int idle, bool latchSustain) {
  if (!e.on) { s.value = idle; return; }
  s.value = EnvelopeValue(e, s.tick);
  if (s.stuck) return;
  if (e.sustain && keyOn && s.tick == e.p[e.sustainPoint].x) {  // held
    s.stuck = latchSustain;
    return;
  }
  // The loop is taken on reaching its end point (or on leaving it when a
  // sustain held it there); a position set past it runs on to the end.
  const bool heldAtLoopEnd = e.loop && e.sustain && e.sustainPoint == e.loopEnd && s.tick == e.p[e.loopEnd].x;
  s.tick++;
  if (e.loop && (s.tick == e.p[e.loopEnd].x || heldAtLoopEnd)) {
    // A sustain on the loop end holds there while the key is down.
    if (!(e.sustain && keyOn && e.sustainPoint == e.loopEnd)) s.tick = e.p[e.loopStart].x;
  }
  if (s.tick > e.p[e.points - 1].x) s.tick = e.p[e.points - 1].x;
}

// Auto-vibrato waveforms, -64..64 over a 256-step cycle; the sine starts
// downward (the period falls, the pitch rises... as FT2's table does).
int AutoVibWave(int type, int pos) {
  switch (type) {
    case 1: return pos > 127 ? 64 : -64;
    case 2: return (((pos >> 1) + 64) & 127) - 64;
    case 3: return (((0 - (pos >> 1)) + 64) & 127) - 64;
    default: return -int(std::lround(std::sin(pos * (2.0 * 3.14159265358979323846 / 256.0)) * 64.0));
  }
}

}  // namespace

void Player::UpdateEnvelopes(Channel& c) {
  if (!c.ins) { c.volEnv.value = 64; c.panEnv.value = 32; return; }
  EnvelopeTick(c.ins->volEnv, c.volEnv, c.keyOn, 64, false);
  const int pan = c.panEnv.value;
  EnvelopeTick(c.ins->panEnv, c.panEnv, c.keyOn, 32, true);
  if (c.panEnv.value != pan) c.tickRamp = true;
  if (c.fading) {
    c.fadeout -= c.fadeoutSpeed;
    if (c.fadeout < 0) c.fadeout = 0;
  }
  if (c.ins->vibDepth) {
    if (c.autoVibSweep && c.keyOn) {
      c.autoVibAmp += c.autoVibSweep;
      if (c.autoVibAmp >= (c.ins->vibDepth << 8)) { c.autoVibAmp = c.ins->vibDepth << 8; c.autoVibSweep = 0; }
    }
    c.outPeriod += (AutoVibWave(c.ins->vibType, c.autoVibPos) * c.autoVibAmp) >> 14;
    c.autoVibPos = (c.autoVibPos + c.ins->vibRate) & 255;
  }
}

void Player::UpdateVoice(Channel& c) {
  const bool slid = c.slid;
  c.slid = false;
  const bool started = c.retriggerNow;
  if (c.retriggerNow) {
    c.retriggerNow = false;
    if (c.smp) {
      if (c.voice.active) {
        c.fade = c.voice;
        c.fade.FadeOut();
      }
      c.voice.Start(*c.smp, c.startOffset);
      c.voice.volL = c.voice.volR = 0;
      c.voice.rampLeft = 0;
    }
  }
  if (!c.voice.active) return;
  if (!c.smp || c.smp->length == 0) { c.voice.FadeOut(); return; }  // cut by an empty sample or instrument
  c.voice.SetFrequency(PeriodToFrequency(c.outPeriod), rate);
  float v = 0, rest = 0;
  if (!c.muted && !(song->modFormat && c.outPeriod <= 0)) {  // a MOD voice without a period is silent
    rest = float(c.volEnv.value) / 64.0f * float(c.fadeout) / 32768.0f * float(globalVolume) / 64.0f * gain;
    v = float(std::clamp(c.outVolume, 0, 64)) / 64.0f * rest;
    rest *= float(std::clamp(c.volume, 0, 64));
  }
  int pan = std::clamp(c.outPan, 0, 255);
  if (c.ins && c.ins->panEnv.on) pan = pan + (c.panEnv.value - 32) * (128 - std::abs(pan - 128)) / 32;
  float l, r;
  PanGains(pan, song->squareRootPan, l, r);
  // FT2's own ramps are part of how its files sound: a slide, or a change
  // that comes only from the tremolo or the panning envelope, is spread
  // over its tick; any other change (a note's attack too) over 5 ms in
  // format 1.04, at once in the older formats.
  const bool slow = !started && (slid || (c.tickRamp && rest == c.rampVolume && c.outPan == c.rampPan));
  c.tickRamp = false;
  c.rampVolume = rest;
  c.rampPan = c.outPan;
  if (song->volumeRamps && slow) c.voice.SetGains(v * l, v * r, true, int(tickFrames >> 32), true);
  else if (song->volumeRamps && song->quickRamps) c.voice.SetGains(v * l, v * r, true, rate / 200, true);
  else c.voice.SetGains(v * l, v * r, mix.ramp);
}

}  // namespace zqa
