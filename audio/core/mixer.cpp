#include "mixer.h"
#include <cmath>

namespace zqa {

void Voice::Start(const Sample& s, uint32_t offset) {
  data = s.data.data();
  length = s.FirstPassLength();
  loop = s.loop;
  loopStart = s.loopStart;
  loopEnd = s.loop ? s.loopStart + s.loopLength : s.length;
  firstEnd = s.firstPassEnd;
  backwards = false;
  stopAtZero = false;
  swap = nullptr;
  active = data != nullptr && length > 0 && offset < length;
  pos = int64_t(offset) << 32;
}

void Voice::SetFrequency(double hz, int outRate) {
  if (hz < 0) hz = 0;
  double st = hz / outRate * 4294967296.0;
  if (st > 1.0e15) st = 1.0e15;
  step = int64_t(st);
}

void Voice::SetGains(float l, float r, bool ramp, int frames, bool force) {
  tgtL = l;
  tgtR = r;
  forced = force;
  if (!ramp) {
    volL = l; volR = r; rampLeft = 0;
    return;
  }
  if (l == volL && r == volR) { rampLeft = 0; return; }
  rampLeft = frames;
  dL = (l - volL) / float(frames);
  dR = (r - volR) / float(frames);
}

void Voice::FadeOut() {
  if (!active) return;
  SetGains(0, 0, true);
  stopAtZero = true;
  if (rampLeft == 0) active = false;
}

void Voice::Mix(float* out, int frames, const MixOptions& opt) {
  if (!active) return;
  if (!opt.ramp && rampLeft && !forced) { volL = tgtL; volR = tgtR; rampLeft = 0; if (stopAtZero) { active = false; return; } }
  const int16_t* d = data;
  int64_t lstart = int64_t(loopStart) << 32;
  int64_t llen = (int64_t(loopEnd) << 32) - lstart;
  int64_t end = int64_t(firstEnd ? firstEnd : loopEnd) << 32;
  const float scale = 1.0f / 32768.0f;
  int64_t p = pos;
  float vl = volL, vr = volR;
  for (int i = 0; i < frames; i++) {
    const uint32_t ip = uint32_t(p >> 32);
    float s;
    if (opt.interpolate) {
      const float f = float(uint32_t(p) >> 8) * (1.0f / 16777216.0f);
      const float a = d[ip];
      s = a + (float(d[ip + 1]) - a) * f;
    } else {
      s = d[ip];
    }
    s *= scale;
    out[2 * i] += s * vl;
    out[2 * i + 1] += s * vr;
    if (rampLeft) {
      vl += dL; vr += dR;
      if (--rampLeft == 0) {
        vl = tgtL; vr = tgtR;
        if (stopAtZero) { active = false; break; }
      }
    }
    if (!backwards) {
      p += step;
      if (p >= end && swap) {
        const Sample& n = *swap;
        swap = nullptr;
        firstEnd = 0;
        if (n.loop == kLoopNone || n.loopLength == 0) { active = false; break; }
        const int64_t over = p - end;
        d = data = n.data.data();
        length = n.length;
        loop = kLoopForward;
        loopStart = n.loopStart;
        loopEnd = n.loopStart + n.loopLength;
        end = int64_t(loopEnd) << 32;
        lstart = int64_t(loopStart) << 32;
        llen = end - lstart;
        p = lstart + over % llen;
      } else if (p >= end) {
        if (loop == kLoopForward && llen > 0) {
          p = lstart + (p - end) % llen;
          if (firstEnd) { firstEnd = 0; end = lstart + llen; }
        } else if (loop == kLoopPingPong && llen > 0) {
          int64_t over = (p - end) % llen;
          p = end - 1 - over;  // mirror at the last frame
          if (p < lstart) p = lstart;
          backwards = true;
        } else {
          active = false;
          break;
        }
      }
    } else {
      p -= step;
      if (p < lstart) {
        int64_t over = (lstart - p) % (llen > 0 ? llen : 1);
        p = lstart + over;
        if (p >= end) p = end - 1;
        backwards = false;
      }
    }
  }
  pos = p;
  volL = vl;
  volR = vr;
}

void PanGains(int pan, bool squareRoot, float& l, float& r) {
  if (pan < 0) pan = 0;
  if (pan > 255) pan = 255;
  l = float(256 - pan) / 256.0f;
  r = float(pan) / 256.0f;
  if (squareRoot) { l = std::sqrt(l); r = std::sqrt(r); }
}

uint32_t ToPcm16(const float* in, int16_t* out, int samples, float gain) {
  uint32_t clipped = 0;
  for (int i = 0; i < samples; i++) {
    float v = in[i] * gain * 32768.0f;
    if (v > 32767.0f) { v = 32767.0f; clipped++; }
    else if (v < -32768.0f) { v = -32768.0f; clipped++; }
    out[i] = int16_t(std::lrintf(v));
  }
  return clipped;
}

}  // namespace zqa
