// bass.dll under Wine through its real output path: DirectSound, Wine's ALSA
// driver and ALSA's file plugin, which writes everything played to the file
// named by ZQA_CAPTURE (32-bit float stereo at 48 kHz, as Wine opens it). The
// null device does not pace playback, so the capture is judged by order and
// level, with phases told apart by silence between them.
#include <gtest/gtest.h>
#include <windows.h>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>
#include "bass.h"
#include "analysis.h"
#include "modgen.h"

namespace {

struct Segment {
  size_t start = 0, frames = 0;
  double rms = 0;
  double hz = 0;
};

const int kCaptureRate = 48000;

std::vector<float> ReadCapture(const char* path) {
  std::vector<float> mono;
  FILE* f = std::fopen(path, "rb");
  if (!f) return mono;
  float fr[2];
  while (std::fread(fr, sizeof(float), 2, f) == 2) mono.push_back((fr[0] + fr[1]) * 0.5f);
  std::fclose(f);
  return mono;
}

// Sounding stretches separated by at least gap frames of silence.
std::vector<Segment> Segments(const std::vector<float>& x, size_t gap) {
  std::vector<Segment> out;
  size_t i = 0;
  const float quiet = 1e-4f;
  while (i < x.size()) {
    while (i < x.size() && std::fabs(x[i]) <= quiet) i++;
    if (i >= x.size()) break;
    size_t s = i, lastLoud = i, run = 0;
    for (; i < x.size(); i++) {
      if (std::fabs(x[i]) > quiet) { lastLoud = i; run = 0; }
      else if (++run >= gap) break;
    }
    Segment seg;
    seg.start = s;
    seg.frames = lastLoud + 1 - s;
    double sum = 0;
    for (size_t k = s; k <= lastLoud; k++) sum += double(x[k]) * x[k];
    seg.rms = std::sqrt(sum / double(seg.frames));
    // Pitch from the middle: the edges hold the resampler's faint ringing.
    seg.hz = analysis::Pitch(x, s + seg.frames / 10, lastLoud - seg.frames / 10, kCaptureRate);
    out.push_back(seg);
  }
  return out;
}

std::vector<uint8_t> ToneWav(double hz, double seconds, int channels = 1, int bits = 16) {
  return modgen::Wav(modgen::Tone(hz, 44100, seconds, 12000, channels), channels, 44100, bits);
}

std::vector<uint8_t> MusicXm() {
  modgen::Xm x;
  x.channels = 2;
  x.ins.push_back(modgen::OneSample(modgen::Wave(0, 32)));
  x.AddPattern(16);
  x.At(0, 0, 0) = {61, 1, 0, 0, 0};  // C-5: 522.6 Hz, held over the whole pattern
  return x.Build();
}

}  // namespace

TEST(AudioDll, RealOutputPath) {
  const char* capture = std::getenv("ZQA_CAPTURE");
  if (!capture) GTEST_SKIP() << "ZQA_CAPTURE not set (run through ctest)";
  std::remove(capture);
  BASS_GetVersion();
  ASSERT_TRUE(BASS_Init(1, 44100, 0, GetDesktopWindow(), nullptr)) << "error " << BASS_ErrorGetCode();
  EXPECT_FALSE(BASS_Init(1, 44100, 0, GetDesktopWindow(), nullptr));
  EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_ALREADY);
  ASSERT_TRUE(BASS_SetVolume(100));

  // The buffers are freed right after loading, as the game does.
  std::vector<uint8_t>* xm = new std::vector<uint8_t>(MusicXm());
  HMUSIC music = BASS_MusicLoad(TRUE, xm->data(), 0, 0, 0x8C04, 0);
  std::fill(xm->begin(), xm->end(), 0xEE);
  delete xm;
  ASSERT_NE(music, 0u);
  std::vector<uint8_t>* wav = new std::vector<uint8_t>(ToneWav(1000, 0.25));
  HSAMPLE shortTone = BASS_SampleLoad(TRUE, wav->data(), 0, DWORD(wav->size()), 5, 0);
  delete wav;
  std::vector<uint8_t> loopWav = ToneWav(300, 0.1, 2, 8);
  HSAMPLE loopTone = BASS_SampleLoad(TRUE, loopWav.data(), 0, DWORD(loopWav.size()), 5, 0);
  std::vector<uint8_t> midWav = ToneWav(700, 0.3);
  HSAMPLE midTone = BASS_SampleLoad(TRUE, midWav.data(), 0, DWORD(midWav.size()), 5, 0);
  ASSERT_NE(shortTone, 0u);
  ASSERT_NE(loopTone, 0u);
  ASSERT_NE(midTone, 0u);
  EXPECT_FALSE(BASS_StreamPlay(0, 0, 0));

  // 1: music (looping: it is still playing after its 2 s pattern would end).
  ASSERT_TRUE(BASS_Start());
  ASSERT_TRUE(BASS_MusicPlay(music));
  Sleep(700);
  ASSERT_TRUE(BASS_Stop());
  Sleep(300);

  // 2: one playback at volume 20, then five at once (queued while stopped so
  // they start in the same block and add up coherently), a sixth refused.
  ASSERT_TRUE(BASS_Start());
  EXPECT_NE(BASS_SamplePlayEx(shortTone, 0, -1, 20, -101, FALSE), 0u);
  Sleep(600);
  ASSERT_TRUE(BASS_Stop());
  Sleep(300);
  HCHANNEL five[5];
  for (int i = 0; i < 5; i++) {
    five[i] = BASS_SamplePlayEx(shortTone, 0, -1, 20, -101, FALSE);
    EXPECT_NE(five[i], 0u) << i;
    for (int k = 0; k < i; k++) EXPECT_NE(five[i], five[k]);
  }
  EXPECT_EQ(BASS_SamplePlayEx(shortTone, 0, -1, 20, -101, FALSE), 0u);
  EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_NOCHAN);
  ASSERT_TRUE(BASS_Start());
  Sleep(600);
  // The five have ended: their slots are free again (this one is not captured
  // separately; it plays into the gap before the next stop).
  HCHANNEL again = BASS_SamplePlayEx(shortTone, 0, -1, 0, -101, FALSE);
  EXPECT_NE(again, 0u);
  ASSERT_TRUE(BASS_Stop());
  Sleep(300);

  // 3: volume 100 then volume 30 of the same tone.
  ASSERT_TRUE(BASS_Start());
  EXPECT_NE(BASS_SamplePlayEx(midTone, 0, -1, 100, -101, FALSE), 0u);
  Sleep(700);
  EXPECT_NE(BASS_SamplePlayEx(midTone, 0, -1, 30, -101, FALSE), 0u);
  Sleep(700);

  // 4: a looping channel paused and resumed.
  HCHANNEL steps = BASS_SamplePlayEx(loopTone, 0, -1, 100, -101, TRUE);
  ASSERT_NE(steps, 0u);
  Sleep(500);
  EXPECT_TRUE(BASS_ChannelPause(steps));
  EXPECT_EQ(BASS_ChannelIsActive(steps), DWORD(BASS_ACTIVE_PAUSED));
  Sleep(500);
  EXPECT_TRUE(BASS_ChannelResume(steps));
  Sleep(500);

  // 5: music and the loop together, then everything stops.
  EXPECT_TRUE(BASS_MusicPlay(music));
  Sleep(500);
  ASSERT_TRUE(BASS_Stop());
  EXPECT_FALSE(BASS_ChannelResume(steps));  // stopped channels are gone
  EXPECT_EQ(BASS_ChannelIsActive(steps), DWORD(BASS_ACTIVE_STOPPED));
  Sleep(700);
  ASSERT_TRUE(BASS_Free());
  Sleep(300);

  std::vector<float> x = ReadCapture(capture);
  ASSERT_GT(x.size(), size_t(kCaptureRate)) << "nothing captured in " << capture;
  std::vector<Segment> seg = Segments(x, kCaptureRate / 20);
  for (const Segment& s : seg)
    std::printf("[ capture ] at %.3f s: %.3f s, rms %.4f, %.1f Hz\n", double(s.start) / kCaptureRate,
                double(s.frames) / kCaptureRate, s.rms, s.hz);
  ASSERT_EQ(seg.size(), 7u);
  // Music: C-5 of a sine sample, longer than the 0.25 s tones.
  EXPECT_NEAR(seg[0].hz, 522.6, 15);
  // Single playback, then five at once: five times the level.
  EXPECT_NEAR(seg[1].hz, 1000, 20);
  EXPECT_NEAR(seg[2].hz, 1000, 20);
  EXPECT_NEAR(seg[2].rms / seg[1].rms, 5.0, 0.25);
  // Volume 100 then 30 of the same tone.
  EXPECT_NEAR(seg[3].hz, 700, 20);
  EXPECT_NEAR(seg[4].hz, 700, 20);
  EXPECT_NEAR(seg[4].rms / seg[3].rms, 0.30, 0.02);
  // The looping channel up to its pause; after the resume it sounds alone at
  // the same level, then with the music on top, until everything stops.
  EXPECT_NEAR(seg[5].hz, 300, 10);
  {
    const Segment& s = seg[6];
    auto rmsOf = [&](size_t from, size_t to) {
      double e = 0;
      for (size_t k = from; k < to; k++) e += double(x[k]) * x[k];
      return std::sqrt(e / double(to - from));
    };
    size_t third = s.frames / 3;
    EXPECT_NEAR(rmsOf(s.start, s.start + third), seg[5].rms, seg[5].rms * 0.1);
    EXPECT_GT(rmsOf(s.start + 2 * third, s.start + s.frames), seg[5].rms * 1.2);
  }
  // Silence after the stop, to the end of the capture.
  EXPECT_GT(x.size() - (seg[6].start + seg[6].frames), size_t(kCaptureRate / 10));
}

TEST(AudioDll, CallsBeforeInitFailCleanly) {
  // Runs first in its own process when ZQA_EXPECT_NO_DEVICE is set: Wine's
  // audio driver is disabled there, so the device cannot be opened.
  if (!std::getenv("ZQA_EXPECT_NO_DEVICE")) GTEST_SKIP() << "run by the no-device test";
  EXPECT_FALSE(BASS_Init(1, 44100, 0, GetDesktopWindow(), nullptr));
  std::vector<uint8_t> wav = ToneWav(1000, 0.1);
  EXPECT_EQ(BASS_SampleLoad(TRUE, wav.data(), 0, DWORD(wav.size()), 5, 0), 0u);
  EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_INIT);
  EXPECT_FALSE(BASS_Start());
  EXPECT_FALSE(BASS_Stop());
  EXPECT_EQ(BASS_SamplePlayEx(1, 0, -1, 100, -101, FALSE), 0u);
  EXPECT_FALSE(BASS_ChannelPause(1));
  // Device 0: no sound, but everything works and playbacks end on time.
  ASSERT_TRUE(BASS_Init(0, 44100, 0, GetDesktopWindow(), nullptr));
  HSAMPLE s = BASS_SampleLoad(TRUE, wav.data(), 0, DWORD(wav.size()), 1, 0);
  ASSERT_NE(s, 0u);
  EXPECT_TRUE(BASS_Start());
  EXPECT_NE(BASS_SamplePlayEx(s, 0, -1, 100, -101, FALSE), 0u);
  EXPECT_EQ(BASS_SamplePlayEx(s, 0, -1, 100, -101, FALSE), 0u);
  Sleep(400);
  EXPECT_NE(BASS_SamplePlayEx(s, 0, -1, 100, -101, FALSE), 0u);
  EXPECT_TRUE(BASS_Free());
}
