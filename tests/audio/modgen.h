// Writers for small XM, MOD and WAV files that tests, the fuzz corpus and the
// benchmark generate. Header-only; no dependency on the library.
#pragma once
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace modgen {

constexpr double kPi = 3.14159265358979323846;

struct Cell { uint8_t note = 0, ins = 0, vol = 0, fx = 0, param = 0; };

struct Env {
  std::vector<std::pair<int, int>> pts;
  bool on = false, sustain = false, loop = false;
  int sus = 0, loopStart = 0, loopEnd = 0;
};

struct Smp {
  std::vector<int16_t> pcm;  // 8-bit samples use the high byte
  bool bits16 = false;
  int loopType = 0;          // 0 none, 1 forward, 2 ping-pong
  int loopStart = 0, loopLen = 0;  // frames
  int volume = 64, finetune = 0, panning = 128, relNote = 0;
};

struct Ins {
  std::vector<Smp> smp;
  uint8_t map[96] = {};
  Env vol, pan;
  int vibType = 0, vibSweep = 0, vibDepth = 0, vibRate = 0, fadeout = 0;
};

struct Pat {
  int rows = 64;
  std::vector<Cell> cells;
};

struct Xm {
  int channels = 4, tempo = 6, bpm = 125, restart = 0;
  int version = 0x0104;  // 0x0102 and 0x0103: headers first, patterns, then all sample data
  bool linear = true;
  std::string tracker;    // space-padded to 20
  char namePad = ' ';     // after the name "test" (FT2 pads with spaces, ModPlug with zeros)
  std::vector<int> orders = {0};
  std::vector<Pat> pats;
  std::vector<Ins> ins;

  Pat& AddPattern(int rows = 64) {
    pats.push_back(Pat());
    pats.back().rows = rows;
    pats.back().cells.assign(size_t(rows) * channels, Cell());
    return pats.back();
  }
  Cell& At(int pat, int row, int ch) { return pats[size_t(pat)].cells[size_t(row) * channels + ch]; }

  static void P16(std::vector<uint8_t>& v, unsigned x) { v.push_back(uint8_t(x)); v.push_back(uint8_t(x >> 8)); }
  static void P32(std::vector<uint8_t>& v, unsigned x) { P16(v, x & 0xFFFF); P16(v, x >> 16); }

  std::vector<uint8_t> Build() const {
    std::vector<uint8_t> v;
    v.reserve(4096);
    for (char ch : std::string("Extended Module: ")) v.push_back(uint8_t(ch));
    for (int i = 0; i < 20; i++) v.push_back(uint8_t(i < 4 ? "test"[i] : namePad));
    v.push_back(0x1A);
    for (size_t i = 0; i < 20; i++) v.push_back(uint8_t(i < tracker.size() ? tracker[i] : ' '));
    P16(v, unsigned(version));
    P32(v, 276);
    P16(v, unsigned(orders.size())); P16(v, unsigned(restart)); P16(v, unsigned(channels));
    P16(v, unsigned(pats.size())); P16(v, unsigned(ins.size())); P16(v, linear ? 1 : 0);
    P16(v, unsigned(tempo)); P16(v, unsigned(bpm));
    for (int i = 0; i < 256; i++) v.push_back(i < int(orders.size()) ? uint8_t(orders[size_t(i)]) : 0);
    const bool old = version < 0x0104;
    std::vector<uint8_t> patterns, sampleData;
    for (const Pat& p : pats) {
      std::vector<uint8_t> d;
      for (const Cell& c : p.cells) {
        uint8_t f = 0x80 | (c.note ? 1 : 0) | (c.ins ? 2 : 0) | (c.vol ? 4 : 0) | (c.fx ? 8 : 0) | (c.param ? 16 : 0);
        d.push_back(f);
        if (c.note) d.push_back(c.note);
        if (c.ins) d.push_back(c.ins);
        if (c.vol) d.push_back(c.vol);
        if (c.fx) d.push_back(c.fx);
        if (c.param) d.push_back(c.param);
      }
      std::vector<uint8_t>& o = old ? patterns : v;
      if (version == 0x0102) { P32(o, 8); o.push_back(0); o.push_back(uint8_t(p.rows - 1)); }
      else { P32(o, 9); o.push_back(0); P16(o, unsigned(p.rows)); }
      P16(o, unsigned(d.size()));
      o.insert(o.end(), d.begin(), d.end());
    }
    for (const Ins& in : ins) {
      size_t start = v.size();
      P32(v, in.smp.empty() ? 29 : 243);
      for (int i = 0; i < 22; i++) v.push_back(0);
      v.push_back(0);
      P16(v, unsigned(in.smp.size()));
      if (in.smp.empty()) continue;
      P32(v, 40);
      v.insert(v.end(), in.map, in.map + 96);
      for (const Env* e : {&in.vol, &in.pan})
        for (int i = 0; i < 12; i++) {
          P16(v, i < int(e->pts.size()) ? unsigned(e->pts[size_t(i)].first) : 0);
          P16(v, i < int(e->pts.size()) ? unsigned(e->pts[size_t(i)].second) : 0);
        }
      v.push_back(uint8_t(in.vol.pts.size())); v.push_back(uint8_t(in.pan.pts.size()));
      v.push_back(uint8_t(in.vol.sus)); v.push_back(uint8_t(in.vol.loopStart)); v.push_back(uint8_t(in.vol.loopEnd));
      v.push_back(uint8_t(in.pan.sus)); v.push_back(uint8_t(in.pan.loopStart)); v.push_back(uint8_t(in.pan.loopEnd));
      for (const Env* e : {&in.vol, &in.pan}) v.push_back(uint8_t((e->on ? 1 : 0) | (e->sustain ? 2 : 0) | (e->loop ? 4 : 0)));
      v.push_back(uint8_t(in.vibType)); v.push_back(uint8_t(in.vibSweep)); v.push_back(uint8_t(in.vibDepth)); v.push_back(uint8_t(in.vibRate));
      P16(v, unsigned(in.fadeout)); P16(v, 0);
      while (v.size() < start + 243) v.push_back(0);
      for (const Smp& s : in.smp) {
        unsigned m = s.bits16 ? 2 : 1;
        P32(v, unsigned(s.pcm.size()) * m); P32(v, unsigned(s.loopStart) * m); P32(v, unsigned(s.loopLen) * m);
        v.push_back(uint8_t(s.volume)); v.push_back(uint8_t(int8_t(s.finetune)));
        v.push_back(uint8_t(s.loopType | (s.bits16 ? 0x10 : 0)));
        v.push_back(uint8_t(s.panning)); v.push_back(uint8_t(int8_t(s.relNote))); v.push_back(0);
        for (int i = 0; i < 22; i++) v.push_back(0);
      }
      std::vector<uint8_t>& o = old ? sampleData : v;
      for (const Smp& s : in.smp) {
        int prev = 0;
        for (int16_t x : s.pcm) {
          if (s.bits16) { P16(o, uint16_t(x - prev)); prev = x; }
          else { int b = x >> 8; o.push_back(uint8_t(int8_t(b - prev))); prev = b; }
        }
      }
    }
    v.insert(v.end(), patterns.begin(), patterns.end());
    v.insert(v.end(), sampleData.begin(), sampleData.end());
    return v;
  }
};

// One instrument, one looping sample of one cycle of a waveform at period
// frames (C-4 plays at 8363 Hz, so a 64-frame cycle sounds ~130.7 Hz).
inline Smp Wave(int kind, int frames, int amp = 24000, bool bits16 = true) {
  Smp s;
  s.bits16 = bits16;
  s.pcm.resize(size_t(frames));
  for (int i = 0; i < frames; i++) {
    double ph = double(i) / frames;
    double x = kind == 0 ? std::sin(2 * kPi * ph) : kind == 1 ? (ph < 0.5 ? 1 : -1) : 2 * ph - 1;
    s.pcm[size_t(i)] = int16_t(x * amp);
  }
  s.loopType = 1;
  s.loopStart = 0;
  s.loopLen = frames;
  return s;
}

inline Ins OneSample(const Smp& s) { Ins in; in.smp.push_back(s); return in; }

// MOD with 8-bit samples; cells carry XM-style notes that are written as
// ProTracker periods (note 37 = C-1 = period 856). The tag sets the layout:
// channels come from it ("M.K." 4, "6CHN", "12CH", "CD61", "FA06", "FLT8");
// an empty tag writes a 15-sample Soundtracker module (loop start in bytes).
struct Mod {
  struct S { std::vector<int8_t> pcm; int finetune = 0, volume = 64, loopStart = 0, loopLen = 0; };
  std::vector<S> smp;  // up to 31 (15 without a tag)
  std::vector<int> orders = {0};
  std::vector<std::vector<Cell>> pats;  // 64 x channels
  std::string tag = "M.K.";
  int channels = 4;
  int restart = 127;  // the byte after the song length

  std::vector<Cell>& AddPattern() { pats.emplace_back(64 * size_t(channels)); return pats.back(); }
  static uint16_t Period(int note) {
    static const uint16_t t[12] = {1712, 1616, 1524, 1440, 1356, 1280, 1208, 1140, 1076, 1016, 960, 907};
    if (note == 0) return 0;
    int n = note - 25;
    return uint16_t(t[n % 12] >> (n / 12));
  }
  std::vector<uint8_t> Build() const {
    std::vector<uint8_t> v(20, 0);
    const bool st = tag.empty(), flt8 = tag == "FLT8";
    for (int i = 0; i < (st ? 15 : 31); i++) {
      for (int k = 0; k < 22; k++) v.push_back(0);
      const S* s = i < int(smp.size()) ? &smp[size_t(i)] : nullptr;
      unsigned len = s ? unsigned(s->pcm.size() / 2) : 0;
      v.push_back(uint8_t(len >> 8)); v.push_back(uint8_t(len));
      v.push_back(s ? uint8_t(s->finetune & 15) : 0);
      v.push_back(s ? uint8_t(s->volume) : 0);
      unsigned ls = s ? unsigned(s->loopStart / (st ? 1 : 2)) : 0, ll = s && s->loopLen ? unsigned(s->loopLen / 2) : 1;
      v.push_back(uint8_t(ls >> 8)); v.push_back(uint8_t(ls));
      v.push_back(uint8_t(ll >> 8)); v.push_back(uint8_t(ll));
    }
    v.push_back(uint8_t(orders.size())); v.push_back(uint8_t(st ? 120 : restart));
    for (int i = 0; i < 128; i++) v.push_back(i < int(orders.size()) ? uint8_t(orders[size_t(i)] * (flt8 ? 2 : 1)) : 0);
    v.insert(v.end(), tag.begin(), tag.end());
    if (tag.compare(0, 2, "FA") == 0) v.insert(v.end(), {0, 0x40, 0, 0});
    auto put = [&](const Cell& c) {
      uint16_t per = Period(c.note);
      v.push_back(uint8_t((c.ins & 0xF0) | (per >> 8)));
      v.push_back(uint8_t(per));
      v.push_back(uint8_t(((c.ins & 15) << 4) | (c.fx & 15)));
      v.push_back(c.param);
    };
    for (const auto& p : pats)
      for (int half = 0; half < (flt8 ? 2 : 1); half++)  // FLT8: channels 0-3 of all rows, then 4-7
        for (int r = 0; r < 64; r++)
          for (int c = 0; c < (flt8 ? 4 : channels); c++) put(p[size_t(r * channels + half * 4 + c)]);
    for (const S& s : smp) for (int8_t b : s.pcm) v.push_back(uint8_t(b));
    return v;
  }
};

// RIFF WAV of PCM frames (interleaved for stereo); 8-bit takes the high byte.
inline std::vector<uint8_t> Wav(const std::vector<int16_t>& pcm, int channels, int rate, int bits) {
  std::vector<uint8_t> v;
  auto p16 = [&](unsigned x) { v.push_back(uint8_t(x)); v.push_back(uint8_t(x >> 8)); };
  auto p32 = [&](unsigned x) { p16(x & 0xFFFF); p16(x >> 16); };
  unsigned bytes = unsigned(pcm.size()) * unsigned(bits / 8);
  v.insert(v.end(), {'R', 'I', 'F', 'F'}); p32(36 + bytes);
  v.insert(v.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '}); p32(16);
  p16(1); p16(unsigned(channels)); p32(unsigned(rate)); p32(unsigned(rate * channels * bits / 8));
  p16(unsigned(channels * bits / 8)); p16(unsigned(bits));
  v.insert(v.end(), {'d', 'a', 't', 'a'}); p32(bytes);
  for (int16_t s : pcm) {
    if (bits == 16) p16(uint16_t(s));
    else v.push_back(uint8_t((s >> 8) + 128));
  }
  return v;
}

inline std::vector<int16_t> Tone(double hz, int rate, double seconds, int amp, int channels = 1) {
  std::vector<int16_t> v;
  int n = int(rate * seconds);
  for (int i = 0; i < n; i++)
    for (int c = 0; c < channels; c++) v.push_back(int16_t(amp * std::sin(2 * kPi * hz * i / rate)));
  return v;
}

}  // namespace modgen
