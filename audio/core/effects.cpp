// Pattern effects and volume-column commands of the replayer.
#include <algorithm>
#include <cmath>
#include "player.h"

namespace zqa {

namespace {

enum : uint8_t {
  kFxGlobalVol = 16, kFxGlobalSlide = 17, kFxKeyOff = 20, kFxEnvPos = 21,
  kFxPanSlide = 25, kFxMultiRetrig = 27, kFxTremor = 29, kFxExtraFine = 33,
};

const uint8_t kVibSine[32] = {0, 24, 49, 74, 97, 120, 141, 161, 180, 197, 212, 224, 235, 244, 250, 253,
                              255, 253, 250, 244, 235, 224, 212, 197, 180, 161, 141, 120, 97, 74, 49, 24};

// Waveform magnitude 0..255 and sign for a position of 0..255 (64 steps of 4).
int WaveValue(uint8_t wave, uint8_t pos) {
  int idx = (pos >> 2) & 31;
  switch (wave & 3) {
    case 1: { int v = idx * 8; return (pos & 0x80) ? 255 - v : v; }  // ramp down
    case 2: case 3: return 255;  // both trackers play waveform 3 as a square
    default: return kVibSine[idx];
  }
}

int Clamp64(int v) { return std::clamp(v, 0, 64); }

}  // namespace

void Player::ClampPeriod(Channel& c) {
  if (song->modFormat) c.period = std::clamp(c.period, 113 * 4, 856 * 4);
  // FT2 keeps a linear period in 16 bits: sliding down past the top wraps.
  else if (song->linearFreq) c.period = c.period < 1 ? 1 : c.period & 0xFFFF;
  else c.period = std::clamp(c.period, 1, 31999);
  c.outPeriod = c.period;
}

void Player::VolumeSlide(Channel& c, uint8_t param) {
  if (param & 0xF0) c.volume = Clamp64(c.volume + (param >> 4));
  else c.volume = Clamp64(c.volume - (param & 15));
  c.outVolume = c.volume;
  c.slid = true;
}

void Player::TonePorta(Channel& c) {
  if (!c.smp || c.targetPeriod == 0 || c.period == 0) return;
  if (c.portaDir > 0) {
    c.period = std::min(c.period + c.portaSpeed, c.targetPeriod);
  } else if (c.portaDir < 0) {
    c.period -= c.portaSpeed;
    if (c.period <= c.targetPeriod) {
      c.period = c.targetPeriod;
      if (!song->modFormat) c.portaDir = 1;
    }
  }
  // ProTracker is done with a target once it is reached.
  if (song->modFormat && c.period == c.targetPeriod) c.targetPeriod = 0;
  c.outPeriod = c.glissando ? GlissandoPeriod(c) : c.period;
}

// Heard in semitone steps while the period itself moves smoothly.
int Player::GlissandoPeriod(const Channel& c) const {
  if (song->linearFreq) {
    const int base = 7680 - c.finetune / 2;
    // The nearest semitone; halfway goes to the lower one, as in FT2.
    const int semis = int(std::floor((base - c.period + 31) / 64.0));
    return base - semis * 64;
  }
  const double semis = std::round(12.0 * std::log2(1712.0 / c.period) - c.finetune / 128.0);
  return int(std::lround(1712.0 * std::exp2(-(semis + c.finetune / 128.0) / 12.0)));
}

void Player::Vibrato(Channel& c) {
  int d = (WaveValue(c.vibWave, c.vibPos) * c.vibDepth) >> 5;
  c.outPeriod = (c.vibPos & 0x80) ? c.period - d : c.period + d;
  c.vibPos = uint8_t(c.vibPos + c.vibSpeed);
}

void Player::Tremolo(Channel& c) {
  int d = (WaveValue(c.tremWave, c.tremPos) * c.tremDepth) >> 6;
  // FT2 takes its tremolo ramp's direction from the vibrato position.
  if (!song->modFormat && (c.tremWave & 3) == 1) {
    int v = ((c.tremPos >> 2) & 31) * 8;
    d = (((c.vibPos & 0x80) ? 255 - v : v) * c.tremDepth) >> 6;
  }
  c.outVolume = Clamp64((c.tremPos & 0x80) ? c.volume - d : c.volume + d);
  c.tremPos = uint8_t(c.tremPos + c.tremSpeed);
  c.tickRamp = true;
}

void Player::Arpeggio(Channel& c) {
  const uint8_t p = c.cell.param;
  int phase;
  if (song->modFormat) {
    phase = tick % 3;
  } else {
    // FT2 counts its ticks down from the speed through a 16-entry table;
    // past it, it reads the vibrato table that follows: 0, then values
    // that all pick the third note.
    const int t = speed - tick;
    phase = t < 16 ? t % 3 : t == 16 ? 0 : 2;
  }
  int semis = phase == 0 ? 0 : phase == 1 ? (p >> 4) : (p & 15);
  if (semis == 0) { c.outPeriod = c.period; return; }
  if (song->proTracker) {
    // ProTracker walks its 36-note table, which a zero ends: a step onto
    // the zero silences the voice, one past it comes round to the table's
    // start.
    constexpr int kNotes = 36, kFirst = 36;  // C-1, 0-based
    int i = 0;
    while (i < kNotes - 1 && NoteToPeriod(kFirst + i, c.finetune) > c.period) i++;
    int j = i + semis;
    if (j == kNotes) { c.outPeriod = 0; return; }
    if (j > kNotes) j -= kNotes + 1;
    c.outPeriod = NoteToPeriod(kFirst + j, c.finetune);
    return;
  }
  // The note nearest the current pitch (FT2) or the first at or above it
  // (ProTracker's table walk), plus the arpeggio's semitones.
  int lo = 0, hi = 131;
  while (lo < hi) {
    int mid = (lo + hi) / 2;
    if (NoteToPeriod(mid, c.finetune) <= c.period) hi = mid; else lo = mid + 1;
  }
  // (halfway goes to the lower note, as in FT2)
  if (!song->modFormat && lo > 0 && NoteToPeriod(lo - 1, c.finetune) - c.period <= c.period - NoteToPeriod(lo, c.finetune))
    lo--;
  const int note = lo + semis;
  // FT2 clamps the arpeggio note past its note range (C-8, 0-based 96), at finetune 0.
  if (!song->modFormat && note > 96) c.outPeriod = NoteToPeriod(96, 0);
  else c.outPeriod = NoteToPeriod(std::min(note, 131), c.finetune);
}

void Player::MultiRetrig(Channel& c, bool firstTick) {
  if (c.retrigSpeed == 0) return;
  // FT2 counts the ticks since the last retrigger on through the rows. On
  // a row's first tick an instrument number (with a note or none) restarts
  // the count at one, and a volume byte set to other than zero stops the
  // effect there; a note there is retriggered by itself.
  int count = c.retrigCount;
  if (firstTick) {
    if (c.cell.instrument && c.cell.note != kNoteOff) count = 1;
    if (c.cell.volume > 0x10 && c.cell.volume <= 0x50) { c.retrigCount = uint8_t(count); return; }
  }
  const bool due = count >= c.retrigSpeed && !(firstTick && c.cell.note && c.cell.note != kNoteOff);
  c.retrigCount = uint8_t(std::min(due ? 1 : count + 1, 255));
  if (!due) return;
  int v = c.volume;
  switch (c.retrigVol) {
    case 1: v -= 1; break;  case 2: v -= 2; break;  case 3: v -= 4; break;
    case 4: v -= 8; break;  case 5: v -= 16; break; case 6: v = v * 2 / 3; break;
    case 7: v /= 2; break;  case 9: v += 1; break;  case 10: v += 2; break;
    case 11: v += 4; break; case 12: v += 8; break; case 13: v += 16; break;
    case 14: v = v * 3 / 2; break; case 15: v *= 2; break;
    default: break;
  }
  // A volume set in the volume column wins over the retrigger's change.
  const uint8_t vc = c.cell.volume;
  if (vc >= 0x10 && vc <= 0x50) v = vc - 0x10;
  c.volume = c.outVolume = Clamp64(v);
  Retrigger(c);
}

void Player::VolumeColumnTick0(Channel& c, bool delayed) {
  const uint8_t v = c.cell.volume;
  const int x = v & 15;
  // On a note delay's tick FT2 only sets the volume or the panning: the
  // old portamento speed stays, fine volume slides do not happen.
  if (delayed && !song->modFormat) {
    if (v >= 0x60 && (v >> 4) != 0xC) return;
    // A delayed key-off loses a panning too.
    if ((v >> 4) == 0xC && c.cell.note == kNoteOff) return;
  }
  switch (v >> 4) {
    case 1: case 2: case 3: case 4: c.volume = c.outVolume = v - 0x10; break;
    case 5: if (v == 0x50) c.volume = c.outVolume = 64; break;
    case 8: c.volume = c.outVolume = Clamp64(c.volume - x); break;
    case 9: c.volume = c.outVolume = Clamp64(c.volume + x); break;
    case 0xA: if (x) c.vibSpeed = uint8_t(x * 4); break;
    case 0xB: if (x) c.vibDepth = uint8_t(x); break;
    case 0xC: c.panning = c.outPan = x * 16; break;
    case 0xF: if (x) c.portaSpeed = x * 64; break;
    default: break;
  }
}

void Player::VolumeColumnTick(Channel& c) {
  const uint8_t v = c.cell.volume;
  const int x = v & 15;
  switch (v >> 4) {
    case 6: c.volume = c.outVolume = Clamp64(c.volume - x); c.slid = true; break;
    case 7: c.volume = c.outVolume = Clamp64(c.volume + x); c.slid = true; break;
    case 0xB: Vibrato(c); break;
    case 0xD: c.panning = c.outPan = x ? std::max(0, c.panning - x) : 0; break;  // FT2: left by 0 is hard left
    case 0xE: c.panning = c.outPan = std::min(255, c.panning + x); break;
    case 0xF: TonePorta(c); break;
    default: break;
  }
}

void Player::EffectTick0(Channel& c) {
  const uint8_t e = c.cell.effect, p = c.cell.param;
  const int x = p >> 4, y = p & 15;
  // ProTracker's tremor lasts only while the effect does; FT2's mute stays
  // until an instrument number resets it (the reference agrees).
  if (e != kFxTremor && song->modFormat) c.muted = false;
  switch (e) {
    // ProTracker keeps no memory for slides: a zero parameter slides nothing.
    case 0x1: if (p || song->modFormat) c.portaUp = p; break;
    case 0x2: if (p || song->modFormat) c.portaDown = p; break;
    case 0x3: if (p && (c.cell.volume >> 4) != 0xF) c.portaSpeed = p * 4; break;  // FT2: Mx's speed wins
    case 0x4: if (x) c.vibSpeed = uint8_t(x * 4); if (y) c.vibDepth = uint8_t(y); break;
    case 0x5: case 0x6: case 0xA: if (p || song->modFormat) c.volSlide = p; break;
    case 0x7: if (x) c.tremSpeed = uint8_t(x * 4); if (y) c.tremDepth = uint8_t(y); break;
    case 0x8: c.panning = c.outPan = p; break;
    case 0x9:
      // An XM's offset is remembered without a note too, unless a tone
      // portamento stands on the row.
      if (!song->modFormat && p && (c.cell.volume >> 4) != 0xF) c.offsetMem = p;
      break;
    case 0xB:
      // A break earlier in the row loses its row; one later keeps it.
      jumpOrder = p;
      breakRow = 0;
      jumpFlag = true;
      break;
    case 0xC: c.volume = c.outVolume = Clamp64(p); break;
    case 0xD: {
      int r = x * 10 + y;
      breakRow = r > 63 ? 0 : r;
      jumpFlag = true;
      rowBreakSeen = true;
      break;
    }
    case 0xE:
      switch (x) {
        case 0x1: if (y || song->modFormat) c.finePortaUp = uint8_t(y); c.period -= c.finePortaUp * 4; ClampPeriod(c); break;
        case 0x2: if (y || song->modFormat) c.finePortaDown = uint8_t(y); c.period += c.finePortaDown * 4; ClampPeriod(c); break;
        case 0x3: c.glissando = y != 0; break;
        case 0x4: c.vibWave = uint8_t(y); break;
        case 0x6: {
          // Digital Tracker's one loop lives in the first channel's slots;
          // a break or jump to another pattern keeps it.
          if (song->songLoop && rowLoopSeen) break;
          rowLoopSeen = true;
          Channel& l = song->songLoop ? ch[0] : c;
          if (y == 0) { l.loopRow = row; break; }
          if (l.loopCount == 0) {
            bool otherCounts = false;
            for (int i = 0; i < song->channels && song->oneLoopAtATime; i++) otherCounts |= ch[i].loopCount != 0;
            if (otherCounts) break;
            l.loopCount = y;
          } else if (--l.loopCount == 0) {
            break;
          }
          loopJumpRow = l.loopRow;
          if (song->oldOpenMpt || (song->breakLeavesLoop && rowBreakSeen)) breakRow = l.loopRow;
          breakFlag = true;
          break;
        }
        case 0x7: c.tremWave = uint8_t(y); break;
        case 0x9:
          // FT2's E90 retriggers once, at once; ProTracker's E9x retriggers
          // on the first tick too when no note stands next to it.
          if ((song->modFormat ? y != 0 : y == 0) && !c.cell.note) Retrigger(c);
          break;
        case 0x8:  // coarse panning exists for MODs only; FT2 ignores it
          if (song->modFormat) c.panning = c.outPan = y * 17;
          break;
        case 0xA: if (y || song->modFormat) c.fineVolUp = uint8_t(y); c.volume = c.outVolume = Clamp64(c.volume + c.fineVolUp); break;
        case 0xB: if (y || song->modFormat) c.fineVolDown = uint8_t(y); c.volume = c.outVolume = Clamp64(c.volume - c.fineVolDown); break;
        case 0xC: if (y == 0) c.volume = c.outVolume = 0; break;
        case 0xE: if (!inDelayRepeat) patternDelay = y; break;  // the rightmost one counts
        default: break;
      }
      break;
    case 0xF:
      if (p == 0) break;
      if (p < 32 || song->vblankTiming) speed = p;
      else if (song->proTracker && count.ticks == 0) nextBpm = p;  // the song's first tick keeps its start tempo
      else SetBpm(p);
      break;
    case kFxGlobalVol: globalVolume = Clamp64(p); break;
    case kFxGlobalSlide: if (p) c.globalSlide = p; break;
    case kFxKeyOff:
      // An XM's K00 is mostly done as a key-off note.
      if (p == 0 && song->modFormat) KeyOff(c);
      else if (p == 0 && c.cell.note != kNoteOff) c.keyOn = false, c.fading = true;
      break;
    case kFxEnvPos:
      c.volEnv.tick = p;
      // FT2 moves the panning envelope only when the volume envelope has its sustain flag.
      if (c.ins && c.ins->volEnv.sustain) c.panEnv.tick = p;
      break;
    case kFxPanSlide: if (p) c.panSlide = p; break;
    case kFxMultiRetrig:
      if (x) c.retrigVol = uint8_t(x);
      if (y) c.retrigSpeed = uint8_t(y);
      MultiRetrig(c, true);
      break;
    case kFxTremor: if (p) c.tremor = p; break;
    case kFxExtraFine:
      if (x == 1) { if (y) c.xfinePortaUp = uint8_t(y); c.period -= c.xfinePortaUp; ClampPeriod(c); }
      else if (x == 2) { if (y) c.xfinePortaDown = uint8_t(y); c.period += c.xfinePortaDown; ClampPeriod(c); }
      break;
    default: break;
  }
}

void Player::EffectTick(Channel& c) {
  const uint8_t e = c.cell.effect, p = c.cell.param;
  const int x = p >> 4, y = p & 15;
  // ProTracker runs the first-tick fine slides again on each repeat of a
  // delayed row (FT2 does not).
  if (song->modFormat && tick == 0 && e == 0xE && (x == 1 || x == 2 || x == 0xA || x == 0xB)) {
    EffectTick0(c);
    return;
  }
  switch (e) {
    case 0x0: if (p) Arpeggio(c); break;
    case 0x1: c.period -= c.portaUp * 4; ClampPeriod(c); break;
    case 0x2: c.period += c.portaDown * 4; ClampPeriod(c); break;
    case 0x3: TonePorta(c); break;
    case 0x4: Vibrato(c); break;
    case 0x5: TonePorta(c); VolumeSlide(c, c.volSlide); break;
    case 0x6: Vibrato(c); VolumeSlide(c, c.volSlide); break;
    case 0x7: Tremolo(c); break;
    case 0xA: VolumeSlide(c, c.volSlide); break;
    case 0xE:
      switch (x) {
        case 0x9: if (y && tick % y == 0) Retrigger(c); break;
        case 0xC: if (tick == y) c.volume = c.outVolume = 0; break;
        default: break;
      }
      break;
    case kFxGlobalSlide:
      if (c.globalSlide & 0xF0) globalVolume = Clamp64(globalVolume + (c.globalSlide >> 4));
      else globalVolume = Clamp64(globalVolume - (c.globalSlide & 15));
      break;
    // FT2 counts an XM's key-off ticks on through a row's delay repeats.
    case kFxKeyOff: if ((song->modFormat ? tick : rowTick) == p) KeyOff(c); break;
    case kFxPanSlide:
      if (c.panSlide & 0xF0) c.panning = std::min(255, c.panning + (c.panSlide >> 4));
      else c.panning = std::max(0, c.panning - (c.panSlide & 15));
      c.outPan = c.panning;
      break;
    case kFxMultiRetrig: MultiRetrig(c, false); break;
    case kFxTremor: {
      // A count down per phase (bit 7: on); at the end of a phase the next
      // one's length is read from the parameter, so T12 is on 2, off 3.
      bool on = (c.tremorPos & 0x80) != 0;
      int left = (c.tremorPos & 0x7F) - 1;
      if (left < 0) {
        on = !on;
        left = on ? (c.tremor >> 4) : (c.tremor & 15);
      }
      c.tremorPos = uint8_t((on ? 0x80 : 0) | left);
      c.muted = !on;
      break;
    }
    default: break;
  }
  if (e != kFxTremor && song->modFormat) c.muted = false;
}

}  // namespace zqa
