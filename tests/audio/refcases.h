// Modules for comparing the replayer with an independent player: each is a
// run of short segments on channel 0 (a note, an effect over a few rows, then
// silence) so that onsets, pitch and loudness can be compared per segment.
#pragma once
#include <string>
#include <vector>
#include "modgen.h"

namespace refcases {

struct Case {
  std::string name;
  std::vector<uint8_t> data;
  bool mod = false;
  bool pitchTrack = false;  // pitch moves inside notes: compare it over time
  bool stereo = false;      // compare the side (R-L) envelope too
  double minCorrelation = 0;  // a case's own envelope threshold (0: the common one)
};

struct Seg {
  int note;
  int fx, param;        // on the note's row
  int cfx, cparam;      // on the following rows
  int vol = 0;          // volume column on the note's row
  int cvol = 0;         // volume column on the following rows
  int ins = 1;
};

// Segments of rowsPer rows; the last two rows of each are silent (C00).
inline modgen::Xm Build(const std::vector<Seg>& segs, std::vector<modgen::Ins> ins, bool linear, int rowsPer = 8) {
  modgen::Xm x;
  x.channels = 2;
  x.linear = linear;
  x.ins = std::move(ins);
  int rowsTotal = int(segs.size()) * rowsPer;
  int pats = (rowsTotal + 63) / 64;
  x.orders.clear();
  for (int p = 0; p < pats; p++) { x.AddPattern(64); x.orders.push_back(p); }
  for (size_t s = 0; s < segs.size(); s++) {
    int r0 = int(s) * rowsPer;
    auto cell = [&](int r) -> modgen::Cell& { return x.At(r / 64, r % 64, 0); };
    modgen::Cell& c = cell(r0);
    c.note = uint8_t(segs[s].note);
    c.ins = uint8_t(segs[s].ins);
    c.fx = uint8_t(segs[s].fx);
    c.param = uint8_t(segs[s].param);
    c.vol = uint8_t(segs[s].vol);
    for (int r = r0 + 1; r < r0 + rowsPer - 2; r++) {
      cell(r).fx = uint8_t(segs[s].cfx);
      cell(r).param = uint8_t(segs[s].cparam);
      cell(r).vol = uint8_t(segs[s].cvol);
    }
    cell(r0 + rowsPer - 2).fx = 0xC;
    cell(r0 + rowsPer - 2).param = 0;
  }
  return x;
}

inline std::vector<Case> All() {
  using modgen::Ins;
  std::vector<Case> out;
  modgen::Smp sine = modgen::Wave(0, 32);      // C-4 = 261.3 Hz
  modgen::Smp saw8 = modgen::Wave(2, 32, 24000, false);
  modgen::Smp tuned = sine;
  tuned.finetune = 37;
  tuned.relNote = -5;
  tuned.volume = 48;
  std::vector<Ins> ins = {modgen::OneSample(sine), modgen::OneSample(saw8), modgen::OneSample(tuned)};

  // Plain notes over the range, three instruments, both frequency tables.
  std::vector<Seg> notes;
  int ns[] = {25, 37, 49, 56, 61, 68, 73, 80, 85};
  for (int i = 0; i < 9; i++) notes.push_back({ns[i], 0, 0, 0, 0, 0, 0, 1 + i % 3});
  out.push_back({"notes_linear", Build(notes, ins, true).Build()});
  out.push_back({"notes_amiga", Build(notes, ins, false).Build()});

  // Pitch effects, each over six rows.
  std::vector<Seg> pitch = {
      {61, 0, 0x37, 0, 0x37},   // arpeggio
      {61, 1, 0x08, 1, 0x00},   // slide up, then memory
      {61, 2, 0x10, 2, 0x00},   // slide down
      {49, 0, 0, 0, 0},         // the note for the portamento below
      {61, 3, 0x10, 3, 0x00},   // tone portamento (from silence: plays at once)
      {61, 4, 0x48, 4, 0x00},   // vibrato
      {61, 0xE, 0x12, 0xE, 0x22},  // fine slides
      {61, 33, 0x1F, 33, 0x2F},   // extra-fine slides
      {61, 0, 0, 0, 0, 0xA6, 0xB8},  // volume-column vibrato
  };
  out.push_back({"pitch_linear", Build(pitch, ins, true).Build(), false, true});
  out.push_back({"pitch_amiga", Build(pitch, ins, false).Build(), false, true});

  // Tone portamento from a sounding note (no cut in between).
  {
    modgen::Xm x;
    x.channels = 1;
    x.ins = ins;
    x.AddPattern(32);
    x.At(0, 0, 0) = {49, 1, 0, 0, 0};
    x.At(0, 4, 0) = {61, 0, 0, 3, 0x08};
    for (int r = 5; r < 12; r++) x.At(0, r, 0).fx = 3;
    x.At(0, 12, 0) = {56, 0, 0xF4, 0, 0};
    for (int r = 13; r < 20; r++) x.At(0, r, 0).vol = 0xF0;
    x.At(0, 20, 0) = {49, 0, 0, 5, 0x02};
    for (int r = 21; r < 28; r++) x.At(0, r, 0).fx = 5;
    out.push_back({"toneporta", x.Build(), false, true});
  }

  // Tone portamento rules: nothing starts from silence; a new instrument
  // number keeps the sounding sample and instrument (envelope, auto-vibrato)
  // and only resets volume and envelope.
  {
    Ins b = modgen::OneSample(saw8);
    b.smp[0].relNote = 12;
    b.smp[0].volume = 40;
    Ins e = modgen::OneSample(sine);
    e.vol.on = true;
    e.vol.pts = {{0, 64}, {8, 40}, {30, 50}, {60, 10}};
    e.vol.sustain = true;
    e.vol.sus = 2;
    e.vibDepth = 3;
    e.vibRate = 12;
    modgen::Xm x;
    x.channels = 1;
    x.ins = {ins[0], b, e};
    x.AddPattern(40);
    x.At(0, 0, 0) = {0, 0, 0, 3, 0x10};
    x.At(0, 2, 0) = {49, 1, 0, 3, 0x10};
    x.At(0, 6, 0) = {49, 1, 0, 0, 0};
    x.At(0, 10, 0) = {56, 2, 0, 3, 0x10};
    for (int r = 11; r < 16; r++) x.At(0, r, 0) = {0, 0, 0, 3, 0};
    x.At(0, 16, 0) = {61, 0, 0x40, 3, 0x08};
    x.At(0, 20, 0) = {49, 3, 0, 0, 0};
    x.At(0, 24, 0) = {56, 3, 0x30, 3, 0x10};
    x.At(0, 28, 0) = {0, 0, 0, 3, 0x10};
    x.At(0, 32, 0) = {64, 1, 0, 3, 0x10};
    out.push_back({"porta_rules", x.Build(), false, true});
  }

  // Volume effects: slides, tremolo, set volume, volume column, tremor,
  // global volume, note cut, retrigger, multi-retrigger.
  std::vector<Seg> vol = {
      {61, 0xA, 0x04, 0xA, 0x00},
      {61, 0xC, 0x10, 0xA, 0x30},
      {61, 7, 0x4F, 7, 0x00},
      {61, 0, 0, 0, 0, 0x30, 0x62},
      {61, 0, 0, 0, 0, 0x20, 0x92},
      {61, 29, 0x21, 29, 0x00},
      {61, 16, 0x20, 17, 0x02},
      {61, 16, 0x40, 0xE, 0xC3},
      {61, 0xE, 0x93, 0xE, 0x93},
      {61, 27, 0x82, 27, 0x00},
      {61, 6, 0x02, 6, 0x00},
  };
  out.push_back({"volume", Build(vol, ins, true).Build(), false, true});

  // Envelopes: sustain, loop, fade-out, key off, envelope position, auto-vibrato.
  {
    Ins e = modgen::OneSample(sine);
    e.vol.on = true;
    e.vol.pts = {{0, 0}, {4, 64}, {10, 32}, {20, 48}, {40, 8}};
    e.vol.sustain = true;
    e.vol.sus = 2;
    e.vol.loop = true;
    e.vol.loopStart = 2;
    e.vol.loopEnd = 3;
    e.fadeout = 1024;
    Ins f = modgen::OneSample(sine);
    f.vol.on = true;
    f.vol.pts = {{0, 64}, {8, 16}, {16, 64}};
    f.vol.loop = true;
    f.vol.loopStart = 0;
    f.vol.loopEnd = 2;
    f.vibType = 0;
    f.vibSweep = 20;
    f.vibDepth = 8;
    f.vibRate = 20;
    std::vector<Ins> ei = {e, f};
    modgen::Xm x;
    x.channels = 1;
    x.ins = ei;
    x.AddPattern(64);
    x.At(0, 0, 0) = {49, 1, 0, 0, 0};
    x.At(0, 12, 0) = {97, 0, 0, 0, 0};
    x.At(0, 24, 0) = {49, 2, 0, 0, 0};
    x.At(0, 36, 0) = {0, 0, 0, 20, 0x02};
    x.At(0, 44, 0) = {49, 1, 0, 21, 0x0C};
    x.At(0, 52, 0) = {0, 0, 0, 20, 0x00};
    out.push_back({"envelopes", x.Build(), false, true});
  }

  // Song structure: pattern loop, break, jump, pattern delay, note delay,
  // speed and BPM.
  {
    modgen::Xm x;
    x.channels = 2;
    x.ins = ins;
    x.orders = {0, 1, 2, 1};
    x.AddPattern(16);
    x.AddPattern(16);
    x.AddPattern(16);
    x.At(0, 0, 0) = {49, 1, 0, 0, 0};
    x.At(0, 0, 1) = {0, 0, 0, 0xE, 0x60};
    x.At(0, 2, 0) = {0, 0, 0, 0xC, 0};
    x.At(0, 3, 0) = {56, 1, 0, 0xE, 0x63};
    x.At(0, 5, 0) = {0, 0, 0, 0xC, 0};
    x.At(0, 6, 0) = {61, 2, 0, 0xF, 0x03};
    x.At(0, 7, 0) = {0, 0, 0, 0xD, 0x04};
    x.At(1, 4, 0) = {52, 1, 0, 0xF, 0x90};
    x.At(1, 6, 0) = {0, 0, 0, 0xC, 0};
    x.At(1, 8, 0) = {57, 1, 0, 0xE, 0xD3};
    x.At(1, 9, 1) = {0, 0, 0, 0xE, 0xE2};
    x.At(1, 10, 0) = {0, 0, 0, 0xC, 0};
    x.At(1, 12, 0) = {0, 0, 0, 0xB, 0x02};
    x.At(2, 0, 0) = {64, 1, 0, 0xF, 0x06};
    x.At(2, 1, 0) = {0, 0, 0, 0xF, 0x7D};
    x.At(2, 3, 0) = {0, 0, 0, 0xC, 0};
    x.At(2, 4, 0) = {66, 3, 0, 9, 0x02};
    x.At(2, 6, 0) = {0, 0, 0, 0xC, 0};
    x.At(2, 8, 0) = {0, 0, 0, 0xB, 0x03};
    out.push_back({"structure", x.Build()});
  }

  // Ping-pong and 8-bit loops, sample offset, a two-sample instrument map.
  {
    modgen::Smp pp;
    pp.bits16 = true;
    for (int i = 0; i < 400; i++) pp.pcm.push_back(int16_t(20000.0 * std::sin(i * 0.2) * (i / 400.0)));
    pp.loopType = 2;
    pp.loopStart = 100;
    pp.loopLen = 300;
    Ins two = modgen::OneSample(sine);
    two.smp.push_back(modgen::Wave(1, 64, 12000));
    for (int n = 48; n < 96; n++) two.map[n] = 1;
    std::vector<Ins> si = {modgen::OneSample(pp), two, modgen::OneSample(saw8)};
    std::vector<Seg> s = {
        {49, 0, 0, 0, 0},
        {61, 0, 0, 0, 0},
        {40, 0, 0, 0, 0, 0, 0, 2},
        {60, 0, 0, 0, 0, 0, 0, 2},
        {61, 9, 0x01, 0, 0, 0, 0, 1},
        {49, 0, 0, 0, 0, 0, 0, 3},
    };
    out.push_back({"samples", Build(s, si, true).Build()});
  }

  // Panning: effect 8, panning slides (P and the volume column), the volume
  // column's set-panning, a panning envelope and the sample's own panning.
  {
    Ins pe = modgen::OneSample(sine);
    pe.pan.on = true;
    pe.pan.pts = {{0, 0}, {12, 64}, {24, 32}};
    modgen::Smp left = sine;
    left.panning = 40;
    std::vector<Ins> pi = {modgen::OneSample(sine), pe, modgen::OneSample(left)};
    std::vector<Seg> s = {
        {61, 8, 0x20, 0, 0},
        {61, 8, 0xE0, 25, 0x08},
        {61, 0, 0, 25, 0x30, 0xC8},
        {61, 0, 0, 0, 0, 0xC0, 0xE3},
        {61, 0, 0, 0, 0, 0xCF, 0xD4},
        {61, 0, 0, 0, 0, 0, 0, 2},
        {61, 0, 0, 0, 0, 0, 0, 3},
    };
    out.push_back({"panning", Build(s, pi, true, 12).Build(), false, false, true});
  }

  // A 4-channel MOD: notes, finetune, slides, arpeggio, vibrato, volume.
  {
    modgen::Mod m;
    modgen::Mod::S a;
    for (int i = 0; i < 64; i++) a.pcm.push_back(int8_t(100 * std::sin(2 * modgen::kPi * i / 32)));
    a.loopStart = 0;
    a.loopLen = 64;
    modgen::Mod::S b = a;
    b.finetune = 3;
    b.volume = 40;
    m.smp = {a, b};
    auto& p = m.AddPattern();
    auto at = [&](int r) -> modgen::Cell& { return p[size_t(r) * 4]; };
    int r = 0;
    for (auto s : std::vector<Seg>{{37, 0, 0, 0, 0}, {49, 0, 0, 0, 0, 0, 0, 2}, {44, 0, 0x47, 0, 0x47},
                                   {49, 1, 0x04, 1, 0x04}, {49, 2, 0x04, 2, 0x04}, {49, 4, 0x46, 4, 0x46},
                                   {49, 0xA, 0x03, 0xA, 0x03}, {49, 0xE, 0x13, 0xE, 0x23}}) {
      at(r) = {uint8_t(s.note), uint8_t(s.ins), 0, uint8_t(s.fx), uint8_t(s.param)};
      for (int k = 1; k < 6; k++) at(r + k) = {0, 0, 0, uint8_t(s.cfx), uint8_t(s.cparam)};
      at(r + 6) = {0, 0, 0, 0xC, 0};
      r += 8;
    }
    out.push_back({"mod", m.Build(), true, true});
  }

  // A 4-channel MOD with overlapping notes and the song-structure and
  // note-timing effects: offset, retrigger, delay, cut, portamento with
  // volume slide, finetune, pattern loop, speed, fine volume, vibrato and
  // tremolo with slides, break, pattern delay, jump.
  {
    modgen::Mod m;
    modgen::Mod::S a;
    for (int i = 0; i < 2000; i++) a.pcm.push_back(int8_t(100 * std::sin(2 * modgen::kPi * i / 32) * (1 - i / 2500.0)));
    a.loopStart = 1000;
    a.loopLen = 1000;
    modgen::Mod::S b;
    for (int i = 0; i < 64; i++) b.pcm.push_back(int8_t(i < 32 ? 90 : -90));
    b.loopLen = 64;
    b.volume = 50;
    m.smp = {a, b};
    m.AddPattern();
    m.AddPattern();
    m.orders = {0, 1, 0};
    auto at = [&](int pat, int r, int c) -> modgen::Cell& { return m.pats[size_t(pat)][size_t(r) * 4 + c]; };
    at(0, 0, 0) = {37, 1, 0, 9, 0x04};
    at(0, 0, 1) = {49, 2, 0, 0, 0};
    at(0, 2, 1) = {0, 0, 0, 0xE, 0xC3};
    at(0, 4, 0) = {44, 1, 0, 0xE, 0x93};
    at(0, 6, 0) = {49, 2, 0, 0xE, 0xD2};
    at(0, 8, 2) = {52, 1, 0, 3, 0};
    at(0, 9, 2) = {56, 0, 0, 3, 0x20};
    for (int r = 10; r < 14; r++) at(0, r, 2) = {0, 0, 0, 5, 0x02};
    at(0, 12, 3) = {61, 2, 0, 0xE, 0x52};
    at(0, 14, 3) = {0, 0, 0, 0xE, 0x60};
    at(0, 16, 3) = {63, 2, 0, 0xC, 0x20};
    at(0, 18, 3) = {0, 0, 0, 0xE, 0x62};
    at(0, 20, 0) = {0, 0, 0, 0xF, 0x04};
    at(0, 22, 0) = {40, 1, 0, 0xE, 0xA4};
    at(0, 23, 0) = {0, 0, 0, 0xE, 0xB8};
    at(0, 24, 0) = {0, 0, 0, 6, 0x03};
    at(0, 25, 0) = {0, 0, 0, 6, 0};
    at(0, 26, 0) = {0, 0, 0, 7, 0x68};
    at(0, 28, 0) = {0, 0, 0, 0xD, 0x10};
    at(1, 16, 0) = {45, 2, 0, 0xE, 0x15};
    at(1, 18, 0) = {0, 0, 0, 0xE, 0x25};
    at(1, 20, 1) = {49, 1, 0, 0xE, 0xE3};
    at(1, 24, 1) = {0, 0, 0, 0xB, 0x02};
    Case c{"mod_structure", m.Build(), true};
    // Overlapping notes beat against each other, so the loudness envelope
    // follows small phase differences: measured 0.929.
    c.minCorrelation = 0.90;
    out.push_back(c);
  }
  return out;
}

}  // namespace refcases
