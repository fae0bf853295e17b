// The library state behind the exported calls, natively: WAV reading,
// playback limits, volume, pause, stop, handles and concurrent callers.
#include <gtest/gtest.h>
#include <atomic>
#include <cmath>
#include <thread>
#include <vector>
#include "library.h"
#include "modgen.h"
#include "wav.h"

namespace {

double Rms(const std::vector<int16_t>& pcm) {
  double s = 0;
  for (int16_t v : pcm) s += double(v) * v;
  return pcm.empty() ? 0 : std::sqrt(s / double(pcm.size()));
}

std::vector<int16_t> Render(zqa::Library& lib, int frames) {
  std::vector<int16_t> out(2 * size_t(frames));
  lib.Render(out.data(), frames);
  return out;
}

std::vector<uint8_t> ToneWav(double hz = 1000, double seconds = 0.1) {
  return modgen::Wav(modgen::Tone(hz, 44100, seconds, 10000), 1, 44100, 16);
}

}  // namespace

TEST(Wav, FormatsAndRejections) {
  zqa::WavData w;
  std::vector<int16_t> st = {1000, -1000, 2000, -2000, 256, -256};
  ASSERT_TRUE(zqa::ReadWav(modgen::Wav(st, 2, 22050, 16).data(), modgen::Wav(st, 2, 22050, 16).size(), w));
  EXPECT_EQ(w.channels, 2);
  EXPECT_EQ(w.rate, 22050);
  EXPECT_EQ(w.left.length, 3u);
  EXPECT_EQ(w.left.data[1], 2000);
  EXPECT_EQ(w.right.data[2], -256);
  auto w8 = modgen::Wav(st, 1, 8000, 8);
  ASSERT_TRUE(zqa::ReadWav(w8.data(), w8.size(), w));
  EXPECT_EQ(w.left.length, 6u);
  EXPECT_EQ(w.left.data[0], (1000 >> 8) * 256);
  EXPECT_EQ(w.left.data[1], (-1000 >> 8) * 256);

  auto good = ToneWav();
  auto bad = good;
  bad[20] = 3;  // float
  EXPECT_FALSE(zqa::ReadWav(bad.data(), bad.size(), w));
  bad = good;
  bad[34] = 24;  // 24-bit
  EXPECT_FALSE(zqa::ReadWav(bad.data(), bad.size(), w));
  bad = good;
  bad[22] = 0;  // no channels
  EXPECT_FALSE(zqa::ReadWav(bad.data(), bad.size(), w));
  bad = good;
  bad[16] = 0xFF; bad[17] = 0xFF; bad[18] = 0xFF; bad[19] = 0x7F;  // fmt larger than the file
  EXPECT_FALSE(zqa::ReadWav(bad.data(), bad.size(), w));
  for (size_t n = 0; n < 46; n++) EXPECT_FALSE(zqa::ReadWav(good.data(), n, w)) << n;
  // A data chunk cut short keeps its whole frames.
  ASSERT_TRUE(zqa::ReadWav(good.data(), 44 + 101, w));
  EXPECT_EQ(w.left.length, 50u);
}

TEST(Library, PlaybackLimitVolumePauseStop) {
  zqa::Library lib;
  EXPECT_EQ(lib.SampleLoad(ToneWav().data(), 100, 5), 0u);  // before Init
  EXPECT_EQ(lib.lastError, zqa::kErrInit);
  ASSERT_TRUE(lib.Init(44100));
  EXPECT_FALSE(lib.Init(44100));
  std::vector<uint8_t>* buf = new std::vector<uint8_t>(ToneWav(1000, 0.1));
  uint32_t s = lib.SampleLoad(buf->data(), uint32_t(buf->size()), 5);
  delete buf;  // the library keeps its own copy
  ASSERT_NE(s, 0u);
  ASSERT_TRUE(lib.Start());

  uint32_t ch[5];
  for (int i = 0; i < 5; i++) ASSERT_NE(ch[i] = lib.SamplePlay(s, 0, -1, 20, -101, false), 0u);
  EXPECT_EQ(lib.SamplePlay(s, 0, -1, 20, -101, false), 0u);
  EXPECT_EQ(lib.lastError, zqa::kErrNoChannel);
  EXPECT_EQ(lib.count.playbacksRefused, 1u);
  double five = Rms(Render(lib, 2000));
  Render(lib, 4410);  // the 0.1 s tone has ended
  EXPECT_EQ(lib.Playing(s), 0);
  ASSERT_NE(lib.SamplePlay(s, 0, -1, 20, -101, false), 0u);
  double one = Rms(Render(lib, 2000));
  EXPECT_NEAR(five / one, 5.0, 0.05);
  Render(lib, 4410);

  ASSERT_NE(lib.SamplePlay(s, 0, -1, 100, -101, false), 0u);
  double loud = Rms(Render(lib, 2000));
  Render(lib, 4410);
  ASSERT_NE(lib.SamplePlay(s, 0, -1, 30, -101, false), 0u);
  double quiet = Rms(Render(lib, 2000));
  EXPECT_NEAR(quiet / loud, 0.30, 0.005);
  Render(lib, 4410);

  // Frequency: twice the rate, half the length.
  ASSERT_NE(lib.SamplePlay(s, 0, 88200, 100, -101, false), 0u);
  Render(lib, 2300);
  EXPECT_EQ(lib.Playing(s), 0);
  // Start offset in bytes, past the end refused.
  EXPECT_EQ(lib.SamplePlay(s, 8820, -1, 100, -101, false), 0u);
  EXPECT_EQ(lib.SamplePlay(s, 0, -1, 101, -101, false), 0u);
  EXPECT_EQ(lib.SamplePlay(s, 0, -1, 100, -102, false), 0u);

  // A looping playback paused is silent and keeps its slot; resumed it sounds.
  uint32_t loop = lib.SamplePlay(s, 0, -1, 100, 0, true);
  ASSERT_NE(loop, 0u);
  Render(lib, 44100);
  EXPECT_EQ(lib.Playing(s), 1);
  EXPECT_EQ(lib.ChannelActive(loop), zqa::kActivePlaying);
  ASSERT_TRUE(lib.ChannelPause(loop));
  EXPECT_EQ(lib.ChannelActive(loop), zqa::kActivePaused);
  EXPECT_EQ(Rms(Render(lib, 2000)), 0.0);
  ASSERT_TRUE(lib.ChannelResume(loop));
  EXPECT_NEAR(Rms(Render(lib, 2000)), loud, loud * 0.05);
  // Hard right: nothing on the left.
  uint32_t right = lib.SamplePlay(s, 0, -1, 100, 100, false);
  ASSERT_TRUE(lib.ChannelPause(loop));
  auto pcm = Render(lib, 1000);
  double left = 0;
  for (int i = 0; i < 1000; i++) left += std::abs(pcm[2 * i]);
  EXPECT_EQ(left, 0.0);
  EXPECT_NE(right, 0u);

  // Stop ends everything; old channel handles are gone.
  ASSERT_TRUE(lib.Stop());
  EXPECT_EQ(Rms(Render(lib, 2000)), 0.0);
  EXPECT_FALSE(lib.ChannelResume(loop));
  EXPECT_EQ(lib.ChannelActive(loop), zqa::kActiveStopped);
  EXPECT_EQ(lib.Playing(s), 0);
  EXPECT_EQ(lib.SamplePlay(0x12345678, 0, -1, 100, -101, false), 0u);
  EXPECT_EQ(lib.lastError, zqa::kErrHandle);
}

TEST(Library, MusicLoopsPausesAndMasterVolume) {
  zqa::Library lib;
  ASSERT_TRUE(lib.Init(44100));
  modgen::Xm x;
  x.channels = 1;
  x.ins.push_back(modgen::OneSample(modgen::Wave(0, 32)));
  x.AddPattern(4);
  x.At(0, 0, 0) = {49, 1, 0, 0, 0};  // a 0.48 s song
  auto data = x.Build();
  uint32_t once = lib.MusicLoad(data.data(), uint32_t(data.size()), false);
  uint32_t looped = lib.MusicLoad(data.data(), 0, true);  // size from the headers
  ASSERT_NE(once, 0u);
  ASSERT_NE(looped, 0u);
  std::vector<uint8_t> junk(3000, 7);
  EXPECT_EQ(lib.MusicLoad(junk.data(), uint32_t(junk.size()), false), 0u);
  ASSERT_TRUE(lib.Start());
  ASSERT_TRUE(lib.MusicPlay(once));
  Render(lib, 44100);
  EXPECT_EQ(Rms(Render(lib, 4410)), 0.0);  // ended
  ASSERT_TRUE(lib.MusicPlay(looped));
  Render(lib, 3 * 44100);
  double full = Rms(Render(lib, 4410));
  EXPECT_GT(full, 100.0);  // still playing after several passes
  ASSERT_TRUE(lib.ChannelPause(looped));
  EXPECT_EQ(Rms(Render(lib, 4410)), 0.0);
  ASSERT_TRUE(lib.ChannelResume(looped));
  ASSERT_TRUE(lib.SetVolume(50));
  Render(lib, 100);
  EXPECT_NEAR(Rms(Render(lib, 4410)) / full, 0.5, 0.05);
  EXPECT_FALSE(lib.SetVolume(101));
}

TEST(Library, CallsFromTwoThreadsWhileRendering) {
  zqa::Library lib;
  ASSERT_TRUE(lib.Init(44100));
  auto w = ToneWav(500, 0.01);
  uint32_t s = lib.SampleLoad(w.data(), uint32_t(w.size()), 5);
  ASSERT_NE(s, 0u);
  ASSERT_TRUE(lib.Start());
  std::atomic<bool> done(false);
  std::thread mixer([&] {
    std::vector<int16_t> out(2 * 256);
    while (!done) lib.Render(out.data(), 256);
  });
  std::atomic<int> started(0);
  auto caller = [&](bool pauser) {
    for (int i = 0; i < 3000; i++) {
      uint32_t c = lib.SamplePlay(s, 0, -1, 50, -101, (i & 7) == 0);
      if (c) started++;
      if (pauser && c) {
        lib.ChannelPause(c);
        lib.ChannelResume(c);
      }
      if (i % 500 == 499) { lib.Stop(); lib.Start(); }
    }
  };
  std::thread a(caller, false), b(caller, true);
  a.join();
  b.join();
  done = true;
  mixer.join();
  EXPECT_GT(started.load(), 0);
  EXPECT_LE(lib.Playing(s), 5);
}
