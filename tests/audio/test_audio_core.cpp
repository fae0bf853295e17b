// Loaders and replayer on small generated modules: what FT2 does per tick
// for each effect family, envelopes, song structure, loops and tables.
#include <gtest/gtest.h>
#include <cmath>
#include <cstring>
#include <vector>
#include "modgen.h"
#include "player.h"

namespace {

using modgen::Cell;

struct Fixture {
  zqa::Song song;
  zqa::Player player;
  bool Load(const std::vector<uint8_t>& d) { return zqa::LoadSong(d.data(), d.size(), song) == zqa::kLoadOk; }
  void Start(bool loop = false) { player.Start(&song, loop); }
  zqa::Channel& C(int i = 0) { return player.ch[i]; }
  void Ticks(int n) { for (int i = 0; i < n; i++) player.RunTick(); }
};

// One channel, one looping sine instrument; cells placed by the caller.
modgen::Xm OneChannel(int rows = 16, bool linear = true) {
  modgen::Xm x;
  x.channels = 1;
  x.linear = linear;
  x.ins.push_back(modgen::OneSample(modgen::Wave(0, 32)));
  x.AddPattern(rows);
  return x;
}

}  // namespace

TEST(Loader, XmFieldsPatternsAndSampleDecoding) {
  modgen::Xm x;
  x.channels = 3;
  x.tempo = 4;
  x.bpm = 140;
  x.orders = {0, 1, 0};
  x.restart = 1;
  x.AddPattern(8);
  x.AddPattern(32);
  x.At(1, 31, 2) = {97, 0, 0x40, 0xE, 0x62};
  x.At(0, 0, 0) = {49, 1, 0, 0, 0};
  modgen::Smp s8;
  s8.pcm = {0, 127 * 256, -128 * 256, 5 * 256, 0};
  s8.loopType = 2;
  s8.loopStart = 1;
  s8.loopLen = 10;  // past the end: cut to the data
  modgen::Smp s16;
  s16.bits16 = true;
  s16.pcm = {32767, -32768, 1, -1, 1000, 7};
  s16.loopType = 1;
  s16.loopStart = 2;
  s16.loopLen = 2;  // data after the loop end is dropped
  modgen::Ins in;
  in.smp = {s8, s16};
  for (int n = 60; n < 96; n++) in.map[n] = 1;
  in.vol.on = true;
  in.vol.pts = {{0, 64}, {10, 32}, {5, 0}};  // falling x: cut at point 2
  x.ins.push_back(in);
  x.ins.push_back(modgen::Ins());  // an instrument without samples
  Fixture f;
  ASSERT_TRUE(f.Load(x.Build()));
  const zqa::Song& g = f.song;
  EXPECT_EQ(g.channels, 3);
  EXPECT_EQ(g.tempo, 4);
  EXPECT_EQ(g.bpm, 140);
  EXPECT_EQ(g.songLength, 3);
  EXPECT_EQ(g.restart, 1);
  ASSERT_EQ(g.patterns.size(), 2u);
  EXPECT_EQ(g.patterns[1].rows, 32);
  const zqa::Cell& c = g.patterns[1].cells[31 * 3 + 2];
  EXPECT_EQ(c.note, 97);
  EXPECT_EQ(c.volume, 0x40);
  EXPECT_EQ(c.effect, 0xE);
  EXPECT_EQ(c.param, 0x62);
  ASSERT_EQ(g.instrumentCount, 2);
  const zqa::Instrument& i0 = g.instruments[0];
  ASSERT_EQ(i0.samples, 2);
  EXPECT_EQ(i0.sampleMap[59], 0);
  EXPECT_EQ(i0.sampleMap[60], 1);
  EXPECT_EQ(i0.volEnv.points, 2);
  const zqa::Sample& a = i0.sample[0];
  EXPECT_EQ(a.loop, zqa::kLoopPingPong);
  EXPECT_EQ(a.loopStart, 1u);
  EXPECT_EQ(a.loopLength, 4u);
  EXPECT_EQ(a.data[1], 127 * 256);
  EXPECT_EQ(a.data[2], -128 * 256);
  EXPECT_EQ(a.data[3], 5 * 256);
  EXPECT_EQ(a.data[5], a.data[4]);  // ping-pong guard mirrors the end
  const zqa::Sample& b = i0.sample[1];
  EXPECT_EQ(b.length, 4u);
  EXPECT_EQ(b.data[0], 32767);
  EXPECT_EQ(b.data[1], -32768);
  EXPECT_EQ(b.data[4], b.data[2]);  // forward guard continues at the loop start
  EXPECT_EQ(g.instruments[1].samples, 0);
}

TEST(Loader, ModPeriodsFinetuneAndLoops) {
  modgen::Mod m;
  modgen::Mod::S s;
  s.pcm.assign(100, 50);
  s.finetune = 15;  // -1
  s.volume = 70;    // clamped
  s.loopStart = 20;
  s.loopLen = 40;
  m.smp = {s};
  auto& p = m.AddPattern();
  p[0] = {37, 1, 0, 0xC, 0x20};  // C-1 (856)
  p[5] = {49 + 7, 1, 0, 0, 0};   // G-2
  p[10] = {72, 1, 0, 0xE, 0x54}; // row 2, channel 2: B-3 at finetune +4
  p[12] = {72, 1, 0, 0, 0x12};    // row 3: B-3 arpeggio one and two notes up
  Fixture f;
  ASSERT_TRUE(f.Load(m.Build()));
  EXPECT_TRUE(f.song.modFormat);
  EXPECT_FALSE(f.song.linearFreq);
  EXPECT_EQ(f.song.channels, 4);
  EXPECT_EQ(f.song.patterns[0].cells[0].note, 37);
  EXPECT_EQ(f.song.patterns[0].cells[5].note, 56);
  EXPECT_EQ(f.song.patterns[0].cells[0].effect, 0xC);
  const zqa::Sample& z = f.song.instruments[0].sample[0];
  EXPECT_EQ(z.finetune, -16);
  EXPECT_EQ(z.volume, 64);
  EXPECT_EQ(z.loopStart, 20u);
  EXPECT_EQ(z.length, 60u);
  EXPECT_EQ(z.data[0], 50 * 256);
  // PT C-1 plays at the PAL rate of period 856, an eighth of a semitone down.
  f.Start();
  f.Ticks(1);
  EXPECT_NEAR(f.player.PeriodToFrequency(f.C().period), 3546895.0 / 856 * std::exp2(-1.0 / 96), 2.0);
  EXPECT_EQ(f.C().period, 862 * 4);  // ProTracker's table, not a formula
  f.Ticks(12);
  EXPECT_EQ(f.C(2).period, 113 * 4);  // its highest pitch holds for finetuned notes (110.25)
  // The arpeggio walks ProTracker's table: one step past B-3 is its end
  // (silence), two come round to C-1.
  f.Ticks(7);
  EXPECT_EQ(f.C().outPeriod, 0);
  f.Ticks(1);
  EXPECT_EQ(f.C().outPeriod, 862 * 4);
}

// The same song stored in the older XM layouts, and in every MOD layout
// that names its channel count, loads to the same song model.
TEST(Loader, OlderXmLayoutsAndModVariants) {
  modgen::Xm x;
  x.channels = 2;
  x.orders = {1, 0};
  x.AddPattern(8);
  x.AddPattern(20);
  x.At(0, 3, 1) = {49, 2, 0x30, 0xA, 0x0F};
  x.At(1, 19, 0) = {61, 1, 0, 3, 0x20};
  x.ins = {modgen::OneSample(modgen::Wave(0, 32)), modgen::OneSample(modgen::Wave(2, 48, 20000, false))};
  Fixture a, b;
  ASSERT_TRUE(a.Load(x.Build()));
  for (int version : {0x0102, 0x0103}) {
    x.version = version;
    ASSERT_TRUE(b.Load(x.Build())) << version;
    ASSERT_EQ(b.song.patterns.size(), a.song.patterns.size());
    for (size_t p = 0; p < a.song.patterns.size(); p++) {
      ASSERT_EQ(b.song.patterns[p].rows, a.song.patterns[p].rows);
      EXPECT_EQ(0, std::memcmp(b.song.patterns[p].cells.data(), a.song.patterns[p].cells.data(),
                               a.song.patterns[p].cells.size() * sizeof(zqa::Cell)));
    }
    EXPECT_EQ(b.song.instruments[1].sample[0].data, a.song.instruments[1].sample[0].data);
    // Cut inside the trailing sample data: loads what is there, or refuses.
    std::vector<uint8_t> d = x.Build();
    for (size_t n = 1; n < d.size(); n += 7) zqa::LoadSong(d.data(), n, b.song);
  }

  modgen::Mod m;
  m.channels = 8;
  m.tag = "8CHN";
  m.smp.push_back({std::vector<int8_t>(64, 40), 0, 64, 0, 0});
  m.orders = {0, 1};
  m.AddPattern();
  m.AddPattern();
  for (int c = 0; c < 8; c++) m.pats[1][size_t(5 * 8 + c)] = {uint8_t(37 + c), 1, 0, 0xC, uint8_t(c)};
  ASSERT_TRUE(a.Load(m.Build()));
  EXPECT_EQ(a.song.channels, 8);
  for (const char* tag : {"FLT8", "OKTA", "CD81"}) {
    m.tag = tag;
    ASSERT_TRUE(b.Load(m.Build())) << tag;
    EXPECT_EQ(b.song.channels, 8);
    EXPECT_EQ(0, std::memcmp(b.song.patterns[1].cells.data(), a.song.patterns[1].cells.data(), 64 * 8 * sizeof(zqa::Cell)))
        << tag;
    EXPECT_EQ(b.song.orders[1], 1);
  }
  struct { const char* tag; int channels; } counts[] = {{"2CHN", 2}, {"CD61", 6}, {"FA06", 6}, {"10CH", 10}, {"32CH", 32},
                                                         {"16CN", 16}, {"TDZ3", 3}, {"M.K.", 8}};  // M.K.: Mod's Grave, told by its size
  for (auto t : counts) {
    modgen::Mod k = m;
    k.tag = t.tag;
    k.channels = t.channels;
    k.restart = 0;
    k.pats.assign(2, std::vector<Cell>(64 * size_t(t.channels)));
    k.pats[1][size_t(t.channels - 1)] = {49, 1, 0, 0, 0};
    ASSERT_TRUE(b.Load(k.Build())) << t.tag;
    EXPECT_EQ(b.song.channels, t.channels);
    EXPECT_EQ(b.song.patterns[1].cells[size_t(t.channels - 1)].note, 49) << t.tag;  // FA0x: data after 4 more bytes
    EXPECT_EQ(b.song.instruments[0].sample[0].length, 64u);
  }
  m.tag = "33CH";
  EXPECT_NE(zqa::LoadSong(m.Build().data(), m.Build().size(), b.song), zqa::kLoadOk);

  // 15 samples, no tag: the loop start counts bytes, and a looped sample
  // plays from it.
  modgen::Mod st;
  st.tag = "";
  std::vector<int8_t> ramp(100);
  for (int i = 0; i < 100; i++) ramp[size_t(i)] = int8_t(i);
  st.smp.push_back({ramp, 0, 48, 21, 40});
  st.AddPattern()[0] = {49, 1, 0, 0, 0};
  ASSERT_TRUE(b.Load(st.Build()));
  EXPECT_EQ(b.song.instrumentCount, 15);
  const zqa::Sample& looped = b.song.instruments[0].sample[0];
  EXPECT_EQ(looped.loopStart, 0u);
  EXPECT_EQ(looped.length, 40u);
  EXPECT_EQ(looped.data[0], 21 * 256);
  EXPECT_EQ(looped.volume, 48);
  EXPECT_EQ(zqa::LoadSong(st.Build().data(), 0, b.song), zqa::kLoadOk);  // size unknown: the header tells
}

// F20 and up set the tempo, unless they would make the song play for over
// ten minutes: then the module is an old display-timed one and they are speeds.
TEST(Loader, ModTempoOrDisplayTiming) {
  modgen::Mod m;
  m.smp.resize(1);
  m.smp[0].pcm.assign(64, 40);
  m.AddPattern()[0] = {37, 1, 0, 0xF, 0x20};
  m.orders = {0, 0, 0, 0, 0};
  Fixture f;
  ASSERT_TRUE(f.Load(m.Build()));
  EXPECT_FALSE(f.song.vblankTiming);  // speed 6 at 32 BPM: two and a half minutes
  m.pats[0][4] = {0, 0, 0, 0xF, 0x1F};
  ASSERT_TRUE(f.Load(m.Build()));
  EXPECT_TRUE(f.song.vblankTiming);   // speed 31 at 32 BPM: 13 minutes
  f.Start();
  f.Ticks(1);
  EXPECT_EQ(f.player.speed, 32);
  EXPECT_EQ(f.player.bpm, 125);
  // On the song's first tick a new tempo counts from the next tick.
  m.pats[0][4] = Cell();
  ASSERT_TRUE(f.Load(m.Build()));
  f.Start();
  f.Ticks(1);
  EXPECT_EQ(f.player.bpm, 125);
  f.Ticks(1);
  EXPECT_EQ(f.player.bpm, 32);
}

TEST(Loader, RejectsBadHeadersAndLimits) {
  Fixture f;
  std::vector<uint8_t> good = OneChannel().Build();
  auto bad = good;
  bad[58] = 0x01;  // version 1.01
  EXPECT_NE(zqa::LoadSong(bad.data(), bad.size(), f.song), zqa::kLoadOk);
  bad = good;
  bad[68] = 33;  // 33 channels
  EXPECT_EQ(zqa::LoadSong(bad.data(), bad.size(), f.song), zqa::kLoadTooLarge);
  bad = good;
  bad[64] = 0;  // song length 0
  bad[65] = 0;
  EXPECT_NE(zqa::LoadSong(bad.data(), bad.size(), f.song), zqa::kLoadOk);
  // Every truncation either fails or loads a shorter module; never reads past.
  for (size_t n = 1; n < good.size(); n++) {
    std::vector<uint8_t> cut(good.begin(), good.begin() + long(n));
    zqa::LoadSong(cut.data(), cut.size(), f.song);
  }
  std::vector<uint8_t> junk(2000, 0xFF);
  EXPECT_NE(zqa::LoadSong(junk.data(), junk.size(), f.song), zqa::kLoadOk);
  // Size unknown (0): the module's headers give its extent.
  EXPECT_EQ(zqa::LoadSong(good.data(), 0, f.song), zqa::kLoadOk);
}

TEST(Tables, LinearAndAmigaFrequencies) {
  Fixture f;
  ASSERT_TRUE(f.Load(OneChannel().Build()));
  f.Start();
  const zqa::Player& p = f.player;
  EXPECT_NEAR(p.PeriodToFrequency(p.NoteToPeriod(48, 0)), 8363.0, 0.01);
  EXPECT_NEAR(p.PeriodToFrequency(p.NoteToPeriod(60, 0)), 16726.0, 0.01);
  EXPECT_NEAR(p.PeriodToFrequency(p.NoteToPeriod(49, 0)) / 8363.0, std::exp2(1.0 / 12), 1e-9);
  EXPECT_EQ(p.NoteToPeriod(48, 127) - p.NoteToPeriod(48, 0), -60);  // 15 steps of 1/16 semitone
  ASSERT_TRUE(f.Load(OneChannel(16, false).Build()));
  f.Start();
  EXPECT_EQ(p.NoteToPeriod(48, 0), 1712);
  EXPECT_EQ(p.NoteToPeriod(36, 0), 3424);
  EXPECT_EQ(p.NoteToPeriod(55, 0), 1140);  // G-4 from 285
  EXPECT_NEAR(p.PeriodToFrequency(1712), 8363.0, 0.01);
  EXPECT_LT(p.NoteToPeriod(48, 64), 1712);
  EXPECT_GT(p.NoteToPeriod(48, 64), p.NoteToPeriod(49, 0));
}

TEST(Effects, SlidesAndPortamento) {
  auto x = OneChannel();
  x.At(0, 0, 0) = {49, 1, 0, 1, 0x03};
  x.At(0, 1, 0) = {0, 0, 0, 1, 0x00};  // memory
  x.At(0, 2, 0) = {0, 0, 0, 0xE, 0x25};
  x.At(0, 3, 0) = {0, 0, 0, 33, 0x13};
  x.At(0, 4, 0) = {61, 0, 0, 3, 0x40};
  Fixture f;
  ASSERT_TRUE(f.Load(x.Build()));
  f.Start();
  const int base = f.player.NoteToPeriod(48, 0);
  f.Ticks(1);
  EXPECT_EQ(f.C().period, base);
  f.Ticks(5);
  EXPECT_EQ(f.C().period, base - 5 * 12);
  f.Ticks(6);
  EXPECT_EQ(f.C().period, base - 10 * 12);
  f.Ticks(6);  // fine down 5: once per row
  EXPECT_EQ(f.C().period, base - 120 + 20);
  f.Ticks(6);  // extra fine up 3
  EXPECT_EQ(f.C().period, base - 100 - 3);
  const int target = f.player.NoteToPeriod(60, 0);
  f.Ticks(1);  // the portamento row: the note does not restart
  EXPECT_EQ(f.C().targetPeriod, target);
  EXPECT_EQ(f.C().period, base - 103);
  f.Ticks(2);
  EXPECT_EQ(f.C().period, base - 103 - 2 * 256);
  f.Ticks(3);
  EXPECT_EQ(f.C().period, target);  // stops at the target
  EXPECT_EQ(f.player.count.notes, 1u);

  // ProTracker keeps no slide memory: 100 slides nothing.
  modgen::Mod m;
  m.smp.resize(1);
  m.smp[0].pcm.assign(64, 40);
  m.AddPattern()[0] = {49, 1, 0, 1, 0x03};
  m.pats[0][4] = {0, 0, 0, 1, 0x00};
  ASSERT_TRUE(f.Load(m.Build()));
  f.Start();
  f.Ticks(6);
  const int slid = f.C().period;
  EXPECT_EQ(slid, f.player.NoteToPeriod(48, 0) - 5 * 3 * 4);
  f.Ticks(6);
  EXPECT_EQ(f.C().period, slid);
}

// FT2 keeps a tone portamento's direction: once the target is reached from
// above, a slide past it and another portamento snap back at once. A note
// on an empty instrument cuts the sounding voice.
TEST(Effects, LinearPeriodWrapsAsInFt2) {
  modgen::Xm x = OneChannel(16);
  for (int r = 0; r < 13; r++) x.At(0, r, 0) = {uint8_t(r ? 0 : 49), uint8_t(r ? 0 : 1), 0, 2, 0xFF};
  Fixture f;
  ASSERT_TRUE(f.Load(x.Build()));
  f.Start();
  f.Ticks(6 * 13);
  // 65 slides of 1020 from 4608: nothing stops at the top, 16 bits wrap.
  EXPECT_EQ(f.C().period, 4608 + 65 * 1020 - 65536);
  const zqa::Player& p = f.player;
  EXPECT_NEAR(p.PeriodToFrequency(4608), 8363.0, 0.01);
  EXPECT_LT(p.PeriodToFrequency(19 * 768 + 255), 1.0);
  EXPECT_NEAR(p.PeriodToFrequency(20 * 768), 8363.0 * std::exp2(-14.0 + 22), 1.0);  // overflowed shift
  EXPECT_NEAR(p.PeriodToFrequency(20 * 768 + 512), 8363.0 * std::exp2(-14.0 - 2.0 / 3 + 21), 1.0);
}

TEST(Effects, PortamentoDirectionAndEmptyInstrumentCut) {
  auto x = OneChannel();
  x.ins.push_back(modgen::Ins());  // instrument 2: no samples
  x.At(0, 0, 0) = {49, 1, 0, 0, 0};
  x.At(0, 1, 0) = {61, 0, 0, 3, 0xFF};  // reached within the row
  x.At(0, 2, 0) = {0, 0, 0, 2, 0x20};   // slide down past the target
  x.At(0, 3, 0) = {0, 0, 0, 3, 0x01};   // speed 1, yet back in one tick
  x.At(0, 4, 0) = {49, 2, 0, 0, 0};
  Fixture f;
  ASSERT_TRUE(f.Load(x.Build()));
  f.Start();
  f.player.mix.ramp = false;  // the cut must hold without a ramp to end it
  const int target = f.player.NoteToPeriod(60, 0);
  f.Ticks(12);
  EXPECT_EQ(f.C().period, target);
  f.Ticks(6);
  EXPECT_EQ(f.C().period, target + 5 * 0x20 * 4);
  f.Ticks(2);
  EXPECT_EQ(f.C().period, target);
  f.Ticks(4);
  std::vector<float> buf(2 * 256, 0.0f);
  f.Ticks(1);
  f.player.Render(buf.data(), 256);
  EXPECT_EQ(f.C().smp, nullptr);
  EXPECT_FALSE(f.C().voice.active);
}

// ProTracker: an instrument number without a note swaps the sample at the
// end of the sounding loop (an unlooped one ends the voice there); an
// offset moves the channel's sample start, twice next to a note.
TEST(Effects, ProTrackerSampleSwapAndOffsets) {
  modgen::Mod m;
  m.smp.resize(4);
  m.smp[0].pcm.assign(64, 40);
  m.smp[0].loopLen = 64;
  m.smp[1].pcm.assign(32, -40);
  m.smp[1].loopLen = 32;
  m.smp[2].pcm.assign(64, 90);
  m.smp[3].pcm.assign(4096, 10);
  auto& p = m.AddPattern();
  p[0 * 4] = {61, 1, 0, 0, 0};
  p[1 * 4] = {0, 2, 0, 0, 0};
  p[2 * 4] = {0, 3, 0, 0, 0};
  p[3 * 4] = {37, 4, 0, 9, 2};
  p[4 * 4] = {37, 0, 0, 0, 0};
  p[5 * 4] = {37, 4, 0, 0, 0};
  Fixture f;
  ASSERT_TRUE(f.Load(m.Build()));
  f.Start();
  const zqa::Sample& s1 = f.song.instruments[0].sample[0];
  const zqa::Sample& s2 = f.song.instruments[1].sample[0];
  std::vector<float> buf(2 * 256, 0.0f);
  f.Ticks(7);
  EXPECT_EQ(f.C().smp, &s2);
  EXPECT_EQ(f.C().voice.data, s1.data.data());  // still sounding out its loop
  f.player.Render(buf.data(), 256);
  EXPECT_EQ(f.C().voice.data, s2.data.data());
  EXPECT_EQ(f.C().voice.loopEnd, 32u);
  f.Ticks(6);
  f.player.Render(buf.data(), 256);
  EXPECT_FALSE(f.C().voice.active);  // swapped to an unlooped sample
  f.Ticks(6);
  EXPECT_EQ(f.C().startOffset, 512u);
  f.Ticks(6);
  EXPECT_EQ(f.C().startOffset, 1024u);  // the offset was applied again after the note
  f.Ticks(6);
  EXPECT_EQ(f.C().startOffset, 0u);  // an instrument number resets the start
}

// ProTracker: a note delayed past its row changes no pitch until the next
// row's first tick (the voice goes on), unless that row brings a note of
// its own; and a loop from frame 0 starts after one pass through the whole
// sample.
TEST(Effects, ProTrackerDelayPastTheRowAndFirstLoopPass) {
  modgen::Mod m;
  m.smp.resize(1);
  m.smp[0].pcm.assign(256, 40);
  m.smp[0].loopLen = 128;
  auto& p = m.AddPattern();
  p[0 * 4] = {37, 1, 0, 0, 0};
  p[0 * 4 + 1] = {0, 0, 0, 0xF, 2};
  p[1 * 4] = {49, 1, 0, 0xE, 0xD3};
  p[2 * 4] = {44, 1, 0, 0xE, 0xD3};  // a delayed note of its own: still the old pitch
  Fixture f;
  ASSERT_TRUE(f.Load(m.Build()));
  f.Start();
  f.Ticks(1);
  const int first = f.C().outPeriod;
  f.Ticks(4);
  EXPECT_EQ(f.C().outPeriod, first);
  f.Ticks(1);
  EXPECT_EQ(f.C().outPeriod, first);
  f.Ticks(1);
  EXPECT_NE(f.C().outPeriod, first);
  EXPECT_EQ(f.C().outPeriod, f.C().period);  // row 2's note, on row 3's first tick
  EXPECT_EQ(f.player.count.notes, 1u);

  const zqa::Sample& s = f.song.instruments[0].sample[0];
  EXPECT_EQ(s.length, 128u);
  EXPECT_EQ(s.firstPassEnd, 256u);
  zqa::Voice v;
  v.Start(s, 0);
  v.SetFrequency(zqa::kOutputRate, zqa::kOutputRate);  // a frame a frame
  std::vector<float> out(2 * 200, 0.0f);
  zqa::MixOptions plain;
  plain.interpolate = false;
  v.Mix(out.data(), 200, plain);
  EXPECT_EQ(v.pos >> 32, 200);
  v.Mix(out.data(), 100, plain);
  EXPECT_EQ(v.pos >> 32, 44);  // 300 - 256, in the loop from here on
  v.Mix(out.data(), 100, plain);
  EXPECT_EQ(v.pos >> 32, 16);  // 144 - 128
  m.tag = "4CHN";  // other trackers loop at once
  ASSERT_TRUE(f.Load(m.Build()));
  EXPECT_EQ(f.song.instruments[0].sample[0].firstPassEnd, 0u);
}

TEST(Effects, ArpeggioVibratoTremoloTremor) {
  auto x = OneChannel();
  x.At(0, 0, 0) = {49, 1, 0, 0, 0x47};
  x.At(0, 1, 0) = {0, 0, 0, 4, 0x48};
  x.At(0, 2, 0) = {0, 0, 0x30, 7, 0x4F};
  x.At(0, 3, 0) = {0, 0, 0, 29, 0x12};
  Fixture f;
  ASSERT_TRUE(f.Load(x.Build()));
  f.Start();
  const int base = f.C().period = f.player.NoteToPeriod(48, 0);
  std::vector<int> arp;
  for (int t = 0; t < 6; t++) { f.Ticks(1); arp.push_back(base - f.C().outPeriod); }
  // FT2 counts down from the speed: ticks 1..5 give y, x, 0, y, x.
  EXPECT_EQ(arp, (std::vector<int>{0, 7 * 64, 4 * 64, 0, 7 * 64, 4 * 64}));
  int lo = 1 << 30, hi = -(1 << 30);
  for (int t = 0; t < 6; t++) { f.Ticks(1); lo = std::min(lo, f.C().outPeriod); hi = std::max(hi, f.C().outPeriod); }
  EXPECT_EQ(f.C().period, base);  // vibrato leaves the period alone
  EXPECT_GT(hi, base);
  EXPECT_LE(hi - base, (255 * 8) >> 5);
  std::vector<int> vols;
  for (int t = 0; t < 6; t++) { f.Ticks(1); vols.push_back(f.C().outVolume); }
  EXPECT_EQ(f.C().volume, 32);  // tremolo leaves the volume alone
  EXPECT_EQ(vols[0], 32);
  EXPECT_GT(vols[5], 32 + 10);
  std::vector<int> muted;
  for (int t = 0; t < 6; t++) { f.Ticks(1); muted.push_back(f.C().muted); }
  // T12: on for 2 ticks, off for 3 (the row's first tick does not count).
  EXPECT_EQ(muted, (std::vector<int>{0, 0, 0, 1, 1, 1}));
}

TEST(Effects, VolumeCommandsAndColumn) {
  auto x = OneChannel();
  x.At(0, 0, 0) = {49, 1, 0x30, 0xA, 0x02};   // set 32, slide down 2
  x.At(0, 1, 0) = {0, 0, 0x74, 0, 0};          // column slide up 4
  x.At(0, 2, 0) = {0, 0, 0x83, 0xE, 0xA5};     // fine down 3, fine up 5
  x.At(0, 3, 0) = {0, 0, 0, 16, 0x20};         // global 32
  x.At(0, 4, 0) = {0, 0, 0, 17, 0x03};         // global slide down 3
  x.At(0, 5, 0) = {0, 0, 0, 0xE, 0xC2};        // cut at tick 2
  Fixture f;
  ASSERT_TRUE(f.Load(x.Build()));
  f.Start();
  f.Ticks(6);
  EXPECT_EQ(f.C().volume, 32 - 10);
  f.Ticks(6);
  EXPECT_EQ(f.C().volume, 22 + 20);
  f.Ticks(6);
  EXPECT_EQ(f.C().volume, 42 - 3 + 5);
  f.Ticks(6);
  EXPECT_EQ(f.player.globalVolume, 32);
  f.Ticks(6);
  EXPECT_EQ(f.player.globalVolume, 32 - 15);
  f.Ticks(2);
  EXPECT_EQ(f.C().volume, 44);
  f.Ticks(1);
  EXPECT_EQ(f.C().volume, 0);
}

TEST(Effects, RetriggerDelayOffsetPanningKeyOff) {
  auto x = OneChannel();
  x.At(0, 0, 0) = {49, 1, 0, 0xE, 0x92};       // retrigger every 2 ticks
  x.At(0, 1, 0) = {52, 1, 0, 0xE, 0xD3};       // delayed to tick 3
  x.At(0, 2, 0) = {49, 1, 0, 9, 0x01};         // offset 256 frames... of a 32-frame loop
  x.At(0, 3, 0) = {0, 0, 0xC4, 25, 0x20};      // pan 64, slide right 2
  x.At(0, 4, 0) = {0, 0, 0, 27, 0x83};         // multi-retrigger: halve... 8 = no change
  x.At(0, 5, 0) = {0, 0, 0, 20, 0x02};         // key off at tick 2
  Fixture f;
  ASSERT_TRUE(f.Load(x.Build()));
  f.Start();
  f.Ticks(6);
  EXPECT_EQ(f.player.count.notes, 1u);
  int retriggers = 0;
  (void)retriggers;
  f.Ticks(3);
  EXPECT_EQ(f.player.count.notes, 1u);  // not yet
  f.Ticks(1);
  EXPECT_EQ(f.player.count.notes, 2u);
  EXPECT_EQ(f.C().note, 52);
  f.Ticks(2);
  f.Ticks(1);
  EXPECT_FALSE(f.C().voice.active);  // offset past the sample's end: silent
  f.Ticks(5);
  f.Ticks(6);
  EXPECT_EQ(f.C().panning, 64 + 5 * 2);
  f.Ticks(6);
  f.Ticks(2);
  EXPECT_TRUE(f.C().keyOn);
  f.Ticks(1);
  EXPECT_FALSE(f.C().keyOn);
  EXPECT_EQ(f.C().volume, 0);  // no volume envelope: key off silences

  // A number alone before any note, with a panning: the first note, without
  // a number, keeps that panning.
  auto y = OneChannel(4);
  y.At(0, 0, 0) = {0, 1, 0xCF, 0, 0};
  y.At(0, 1, 0) = {61, 0, 0, 0, 0};
  ASSERT_TRUE(f.Load(y.Build()));
  f.Start();
  f.Ticks(7);
  EXPECT_TRUE(f.C().voice.active);
  EXPECT_EQ(f.C().panning, 0xF0);
}

// FT2 rules also held against the reference player, here without it: ticks
// of whole frames, a note above the period table leaving its number to act
// alone on the playing instrument, a multi retrigger counting through rows.
TEST(Effects, Ft2TicksNoteRangeAndRetriggerCount) {
  auto x = OneChannel();
  x.bpm = 133;
  modgen::Ins high = modgen::OneSample(modgen::Wave(0, 32));
  high.smp[0].relNote = 24;
  high.smp[0].volume = 16;
  x.ins.push_back(high);
  x.At(0, 0, 0) = {49, 1, 0x30, 0, 0};      // C-4 at volume 32
  x.At(0, 1, 0) = {96, 2, 0, 0, 0};         // B-7 + 24 semitones: past the table
  x.At(0, 2, 0) = {0, 0, 0, 27, 0x03};      // retrigger every 3 ticks
  x.At(0, 3, 0) = {0, 0, 0, 27, 0x03};
  Fixture f;
  ASSERT_TRUE(f.Load(x.Build()));
  f.Start();
  EXPECT_EQ(f.player.tickFrames, int64_t(828) << 32);  // 44100 * 2.5 / 133 = 828.9
  f.Ticks(6);
  EXPECT_EQ(f.C().volume, 32);
  f.Ticks(6);
  EXPECT_EQ(f.player.count.notes, 1u);
  EXPECT_EQ(f.C().ins, &f.song.instruments[0]);
  EXPECT_EQ(f.C().volume, 64);              // the number recalled instrument 1's volume
  f.Ticks(6);
  EXPECT_EQ(f.C().retrigCount, 3);          // retriggered on tick 3, counting on
  f.Ticks(1);
  EXPECT_EQ(f.C().retrigCount, 1);          // due on the next row's first tick
}

TEST(Envelopes, SustainLoopFadeoutAndPosition) {
  modgen::Xm x;
  x.channels = 1;
  modgen::Ins in = modgen::OneSample(modgen::Wave(0, 32));
  in.vol.on = true;
  in.vol.pts = {{0, 0}, {4, 64}, {8, 32}, {12, 48}};
  in.vol.sustain = true;
  in.vol.sus = 1;
  in.vol.loop = true;
  in.vol.loopStart = 2;
  in.vol.loopEnd = 3;
  in.fadeout = 0xFFF;  // the largest FT2 has
  x.ins.push_back(in);
  x.AddPattern(16);
  x.At(0, 0, 0) = {49, 1, 0, 0, 0};
  x.At(0, 3, 0) = {97, 0, 0, 0, 0};
  x.At(0, 8, 0) = {49, 1, 0, 21, 0x06};
  Fixture f;
  ASSERT_TRUE(f.Load(x.Build()));
  f.Start();
  std::vector<int> v;
  for (int t = 0; t < 18; t++) { f.Ticks(1); v.push_back(f.C().volEnv.value); }
  EXPECT_EQ(v[0], 0);
  EXPECT_EQ(v[2], 32);
  EXPECT_EQ(v[4], 64);
  EXPECT_EQ(v[17], 64);  // held at the sustain point
  EXPECT_EQ(f.C().fadeout, 32768);
  std::vector<int> after;
  for (int t = 0; t < 14; t++) { f.Ticks(1); after.push_back(f.C().volEnv.value); }
  // Released: on to point 2, then looping between points 2 and 3 (32..48);
  // reaching the loop end goes straight back to the loop start.
  EXPECT_EQ(after[4], 32);
  EXPECT_EQ(after[7], 44);
  EXPECT_EQ(after[8], 32);
  EXPECT_EQ(after[11], 44);
  EXPECT_EQ(after[12], 32);
  EXPECT_EQ(f.C().fadeout, std::max(0, 32768 - 14 * 0xFFF));
  f.Ticks(30 - 18 - 14 + 18);
  EXPECT_EQ(f.C().fadeout, 0);
  // L06: a fresh note with its envelope moved to tick 6.
  while (f.player.row != 8) f.Ticks(1);
  f.Ticks(1);
  EXPECT_EQ(f.C().volEnv.value, 48);
  EXPECT_TRUE(f.C().keyOn);
}

TEST(Envelopes, PanningSustainReleasedOnlyOnTheTickItIsReached) {
  modgen::Xm x;
  x.channels = 2;
  modgen::Ins in = modgen::OneSample(modgen::Wave(0, 32));
  in.pan.on = true;
  in.pan.pts = {{0, 32}, {6, 0}, {10, 32}};
  in.pan.sustain = true;
  in.pan.sus = 1;
  x.ins.push_back(in);
  x.AddPattern(8);
  for (int c = 0; c < 2; c++) x.At(0, 0, c) = {49, 1, 0, 0, 0};
  x.At(0, 1, 0) = {97, 0, 0, 0, 0};  // on the tick the sustain point is reached
  x.At(0, 2, 1) = {97, 0, 0, 0, 0};  // a row after it
  Fixture f;
  ASSERT_TRUE(f.Load(x.Build()));
  f.Start();
  f.Ticks(24);
  EXPECT_EQ(f.C(0).panEnv.value, 32);  // moved on to the last point
  EXPECT_EQ(f.C(1).panEnv.value, 0);   // still held
}

TEST(Envelopes, AutoVibratoSweepsIn) {
  modgen::Xm x;
  x.channels = 1;
  modgen::Ins in = modgen::OneSample(modgen::Wave(0, 32));
  in.vibType = 1;  // square
  in.vibSweep = 4;
  in.vibDepth = 8;
  in.vibRate = 32;  // 8 ticks per cycle
  x.ins.push_back(in);
  x.AddPattern(8);
  x.At(0, 0, 0) = {49, 1, 0, 0, 0};
  Fixture f;
  ASSERT_TRUE(f.Load(x.Build()));
  f.Start();
  std::vector<int> d;
  for (int t = 0; t < 10; t++) { f.Ticks(1); d.push_back(f.C().outPeriod - f.C().period); }
  EXPECT_EQ(std::abs(d[0]), (64 * (8 << 6)) >> 14);
  EXPECT_EQ(std::abs(d[9]), (64 * (8 << 8)) >> 14);  // full depth once swept in
  EXPECT_NE(d[5] > 0, d[9] > 0);  // square wave flips every 4 ticks
}

TEST(Structure, LoopBreakJumpDelayAndSpeed) {
  modgen::Xm x;
  x.channels = 2;
  x.ins.push_back(modgen::OneSample(modgen::Wave(0, 32)));
  x.orders = {0, 1, 2};
  x.AddPattern(8);
  x.AddPattern(8);
  x.AddPattern(8);
  x.At(0, 1, 0) = {0, 0, 0, 0xE, 0x60};
  x.At(0, 2, 0) = {0, 0, 0, 0xE, 0x62};  // rows 1-2 three times
  x.At(0, 3, 0) = {0, 0, 0, 0xD, 0x05};  // to row 5 of order 1
  x.At(1, 5, 0) = {0, 0, 0, 0xE, 0xE2};  // row played 3 times
  x.At(1, 6, 0) = {0, 0, 0, 0xF, 0x03};
  x.At(1, 6, 1) = {0, 0, 0, 0xF, 0x96};
  x.At(1, 7, 0) = {0, 0, 0, 0xB, 0x00};  // back to order 0: the song has come round
  Fixture f;
  ASSERT_TRUE(f.Load(x.Build()));
  f.Start();
  std::vector<int> seen;
  int guard = 0;
  while (!f.player.ended && guard++ < 1000) {
    if (f.player.tick == 0) seen.push_back(f.player.order * 100 + f.player.row);
    f.Ticks(1);
    if (f.player.order == 1 && f.player.row == 7) {
      EXPECT_EQ(f.player.speed, 3);
    }
  }
  EXPECT_TRUE(f.player.ended);
  EXPECT_EQ(seen, (std::vector<int>{0, 1, 2, 1, 2, 1, 2, 3, 105, 105, 105, 106, 107}));
  EXPECT_EQ(f.player.bpm, 150);
  // Looping: the jump back restarts the song instead of ending it.
  f.Start(true);
  f.Ticks(400);
  EXPECT_FALSE(f.player.ended);
}

// Rows visited (order * 100 + row) until the song ends.
std::vector<int> RowsPlayed(Fixture& f) {
  std::vector<int> seen;
  f.Start();
  for (int guard = 0; !f.player.ended && guard < 4000; guard++) {
    if (f.player.tick == 0 && !f.player.inDelayRepeat) seen.push_back(f.player.order * 100 + f.player.row);
    f.Ticks(1);
  }
  return seen;
}

TEST(Structure, JumpBreakOrderLoopBreakRowAndEndlessLoops) {
  modgen::Xm x;
  x.channels = 2;
  x.tempo = 1;
  x.ins.push_back(modgen::OneSample(modgen::Wave(0, 32)));
  x.orders = {0, 1, 2};
  for (int i = 0; i < 3; i++) x.AddPattern(6);
  x.At(0, 0, 0) = {0, 0, 0, 0xD, 0x03};
  x.At(0, 0, 1) = {0, 0, 0, 0xB, 0x02};  // a jump after a break drops its row
  x.At(2, 0, 0) = {0, 0, 0, 0xB, 0x01};
  x.At(2, 0, 1) = {0, 0, 0, 0xD, 0x04};  // a break after a jump keeps it
  x.At(1, 4, 0) = {0, 0, 0, 0xE, 0x60};
  x.At(1, 5, 0) = {0, 0, 0, 0xE, 0x61};  // FT2: the next pattern starts at the loop row
  Fixture f;
  ASSERT_TRUE(f.Load(x.Build()));
  EXPECT_EQ(RowsPlayed(f), (std::vector<int>{0, 200, 104, 105, 104, 105, 204, 205}));
  // ModPlug Tracker's XMs (signed as FT2's, told by the name's zero padding
  // or its blocks after the samples) start the next pattern at row 0.
  x.tracker = "FastTracker v2.00";
  x.namePad = 0;
  ASSERT_TRUE(f.Load(x.Build()));
  EXPECT_EQ(RowsPlayed(f), (std::vector<int>{0, 200, 104, 105, 104, 105}));
  x.namePad = ' ';
  std::vector<uint8_t> withText = x.Build();
  for (char c : std::string("text\0\0\0\0", 8)) withText.push_back(uint8_t(c));
  ASSERT_TRUE(f.Load(withText));
  EXPECT_EQ(RowsPlayed(f), (std::vector<int>{0, 200, 104, 105, 104, 105}));
  // FT2's own files: a break on a loop's row leaves at once, to the loop's
  // row when the break comes first in the row, and the loop's row starts
  // the pattern after the next too.
  modgen::Xm ft = x;
  ft.namePad = ' ';
  ft.orders = {0, 1};
  ft.pats.clear();
  ft.AddPattern(4);
  ft.AddPattern(4);
  ft.At(0, 1, 1) = {0, 0, 0, 0xE, 0x60};
  ft.At(0, 2, 0) = {0, 0, 0, 0xD, 0x00};
  ft.At(0, 2, 1) = {0, 0, 0, 0xE, 0x62};
  ASSERT_TRUE(f.Load(ft.Build()));
  EXPECT_EQ(RowsPlayed(f), (std::vector<int>{0, 1, 2, 101, 102, 103, 1, 2, 101, 102, 103, 1, 2, 100, 101, 102, 103}));
  // And a loop does not start while another channel's loop counts: E61
  // and E62 on one row repeat it 1 + 2 times, one after the other.
  modgen::Xm mp = x;
  mp.namePad = 0;
  mp.orders = {0};
  mp.pats.clear();
  mp.AddPattern(3);
  mp.At(0, 1, 0) = {0, 0, 0, 0xE, 0x61};
  mp.At(0, 1, 1) = {0, 0, 0, 0xE, 0x62};
  ASSERT_TRUE(f.Load(mp.Build()));
  EXPECT_EQ(RowsPlayed(f), (std::vector<int>{0, 1, 0, 1, 0, 1, 0, 1, 2}));

  // An endless loop (E61 restarting itself) ends the song where it comes round.
  modgen::Xm e;
  e.channels = 2;
  e.ins = x.ins;
  e.AddPattern(5);
  e.At(0, 1, 0) = {0, 0, 0, 0xE, 0x60};
  e.At(0, 2, 0) = {0, 0, 0, 0xE, 0x61};
  e.At(0, 3, 0) = {0, 0, 0, 0xE, 0x61};
  e.At(0, 4, 1) = {0, 0, 0, 0xD, 0x05};
  ASSERT_TRUE(f.Load(e.Build()));
  EXPECT_EQ(RowsPlayed(f), (std::vector<int>{0, 1, 2, 1, 2, 3}));
  // The song's length runs to the end of its last tick: 6 rows of 6 ticks
  // of 882 frames at 125 BPM, whatever the block size.
  f.Start();
  std::vector<float> buf(2 * 1000);
  while (!f.player.Finished()) f.player.Render(buf.data(), 1000);
  EXPECT_EQ(f.player.count.endFrame, 6u * 6u * 882u);
  // Digital Tracker: one loop for the song; the first E6x of a row counts,
  // and the loop row stays over a break into the next pattern.
  modgen::Mod dt;
  dt.tag = "FA04";
  dt.orders = {0, 1};
  dt.AddPattern()[1 * 4 + 1] = {0, 0, 0, 0xE, 0x60};
  dt.pats[0][3 * 4 + 0] = {0, 0, 0, 0xE, 0x61};
  dt.pats[0][3 * 4 + 2] = {0, 0, 0, 0xE, 0x63};
  dt.pats[0][4 * 4 + 3] = {0, 0, 0, 0xD, 0x00};
  dt.AddPattern()[0 * 4 + 3] = {0, 0, 0, 0xE, 0x61};
  dt.pats[1][2 * 4 + 0] = {0, 0, 0, 0xD, 0x00};
  dt.pats[1][2 * 4 + 1] = {0, 0, 0, 0xE, 0x61};  // the count runs out: no jump
  ASSERT_TRUE(f.Load(dt.Build()));
  EXPECT_EQ(RowsPlayed(f), (std::vector<int>{0, 1, 2, 3, 1, 2, 3, 4, 100, 101, 102}));
}

TEST(Mixer, PingPongForwardAndRamping) {
  zqa::Sample s;
  s.data = {0, 1000, 2000, 3000, 4000, 5000};
  s.length = 6;
  s.loop = zqa::kLoopPingPong;
  s.loopStart = 2;
  s.loopLength = 4;
  zqa::FinishSample(s);
  zqa::Voice v;
  v.Start(s, 0);
  v.step = int64_t(1) << 32;
  v.SetGains(1, 1, false);
  zqa::MixOptions nearest;
  nearest.interpolate = false;
  float out[2 * 16] = {};
  v.Mix(out, 16, nearest);
  std::vector<int> got;
  for (int i = 0; i < 16; i++) got.push_back(int(std::lround(out[2 * i] * 32768)));
  // Each turn plays its end frame twice, as FT2 (and the reference player) do.
  EXPECT_EQ(got, (std::vector<int>{0, 1000, 2000, 3000, 4000, 5000, 5000, 4000, 3000, 2000, 2000, 3000, 4000, 5000, 5000, 4000}));

  s.loop = zqa::kLoopForward;
  zqa::FinishSample(s);
  v.Start(s, 0);
  v.SetGains(1, 1, false);
  float out2[2 * 10] = {};
  v.Mix(out2, 10, nearest);
  EXPECT_EQ(int(std::lround(out2[2 * 6] * 32768)), 2000);
  EXPECT_EQ(int(std::lround(out2[2 * 9] * 32768)), 5000);

  // A cut with ramping falls over kRampFrames instead of jumping.
  zqa::Sample dc;
  dc.data.assign(1000, 20000);
  dc.length = 1000;
  zqa::FinishSample(dc);
  v.Start(dc, 0);
  v.SetGains(1, 1, false);
  v.FadeOut();
  std::vector<float> buf(2 * 200, 0.0f);
  v.Mix(buf.data(), 200, zqa::MixOptions());
  float maxStep = 0;
  for (int i = 1; i < 200; i++) maxStep = std::max(maxStep, std::fabs(buf[2 * i] - buf[2 * i - 2]));
  EXPECT_LT(maxStep, 0.62f / zqa::kRampFrames * 1.5f);
  EXPECT_EQ(buf[2 * 199], 0.0f);
  EXPECT_FALSE(v.active);
}

// FT2's own volume ramps, part of how its files sound whatever the mix
// options: a slide spread over its tick, any other change over 5 ms, or at
// once in files of the older formats.
TEST(Mixer, Ft2RampsSlidesOverTheTick) {
  for (int version : {0x0104, 0x0102}) {
    auto x = OneChannel(4);
    x.version = version;
    x.tracker = "FastTracker v2.00";
    x.At(0, 0, 0) = {49, 1, 0, 0, 0};
    x.At(0, 1, 0) = {0, 0, 0, 0xA, 0x0F};
    x.At(0, 2, 0) = {0, 0, 0, 0xC, 0x10};
    Fixture f;
    ASSERT_TRUE(f.Load(x.Build()));
    f.player.mix.ramp = false;
    f.Start();
    const int quick = version == 0x0104 ? zqa::kOutputRate / 200 : 0;
    f.Ticks(1);
    EXPECT_EQ(f.C().voice.rampLeft, quick);  // the attack
    f.Ticks(7);
    EXPECT_EQ(f.C().voice.rampLeft, int(f.player.tickFrames >> 32));  // A0F on row 1's second tick
    f.Ticks(5);
    EXPECT_EQ(f.C().voice.rampLeft, quick);  // C10
  }
}

TEST(Mixer, NoteChangesDoNotClick) {
  // Square wave notes changing every row: with ramping, the output never
  // jumps by more than the waveform itself does between frames.
  auto x = OneChannel(16);
  x.ins[0] = modgen::OneSample(modgen::Wave(0, 32, 30000));
  for (int r = 0; r < 16; r++) x.At(0, r, 0) = {uint8_t(r % 2 ? 49 : 56), 1, uint8_t(r % 3 ? 0x50 : 0x20), 0, 0};
  Fixture f;
  ASSERT_TRUE(f.Load(x.Build()));
  auto maxJump = [&](bool ramp) {
    f.player.mix.ramp = ramp;
    f.Start();
    std::vector<float> buf(2 * 44100, 0.0f);
    f.player.Render(buf.data(), 44100);
    float m = 0;
    for (int i = 1; i < 44100; i++) m = std::max(m, std::fabs(buf[2 * i] - buf[2 * i - 2]));
    return m;
  };
  float smooth = maxJump(true), rough = maxJump(false);
  EXPECT_LT(smooth, 0.05f);
  EXPECT_GT(rough, smooth * 3);
}

TEST(Mixer, Ft2FilesSpreadTremoloOverTheTickAndSetsOverFiveMs) {
  // A file saved by FT2 plays with FT2's own ramps even with ramping off:
  // a tremolo step spreads over the whole tick, a set volume over 5 ms.
  auto x = OneChannel(4);
  modgen::Smp dc;
  dc.pcm.assign(64, 16000);
  dc.loopType = 1;
  dc.loopLen = 64;
  dc.volume = 32;
  x.ins[0] = modgen::OneSample(dc);
  x.At(0, 0, 0) = {49, 1, 0, 0, 0};
  x.At(0, 1, 0) = {0, 0, 0, 7, 0x8F};
  x.At(0, 2, 0) = {0, 0, 0, 0xC, 0x10};
  std::vector<uint8_t> d = x.Build();
  std::memcpy(&d[38], "FastTracker v2.00", 17);
  Fixture f;
  ASSERT_TRUE(f.Load(d));
  f.player.mix.ramp = false;
  f.Start();
  const int tick = 882, frames = 3 * 6 * tick;
  std::vector<float> buf(2 * size_t(frames), 0.0f);
  f.player.Render(buf.data(), frames);
  auto at = [&](int i) { return buf[2 * size_t(i)]; };
  const int trem = (6 + 2) * tick;  // the tremolo's second step
  const float step = at(trem + tick - 1) - at(trem);
  EXPECT_GT(std::fabs(step), 0.02f);
  EXPECT_NEAR(at(trem + tick / 2) - at(trem), step / 2, std::fabs(step) * 0.05f);
  const int set = 12 * tick;  // C10 on the next row
  EXPECT_GT(std::fabs(at(set - 1) - at(set + 230)), 0.02f);
  EXPECT_FLOAT_EQ(at(set + 230), at(set + tick - 1));
}
