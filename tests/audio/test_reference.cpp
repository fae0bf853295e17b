// The replayer against an independent reference player (openmpt123, run as a
// program): per-note onset and pitch, pitch over time where effects move it,
// and the correlation of the loudness envelopes. Both render without
// interpolation, ramping or dithering.
#include <gtest/gtest.h>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include "analysis.h"
#include "player.h"
#include "refcases.h"

namespace {

// Thresholds from the worst values measured on these modules (libopenmpt
// 0.6.9), with a margin:
//  - envelope correlation (10 ms RMS frames): worst 0.990 (Amiga-table
//    pitch effects, where slides step through rounded periods) -> 0.98;
//  - onset: worst 0.93 ms (BPM changes: the two players round the frames of
//    a tick differently) -> 2 ms, a tenth of a tick;
//  - note pitch 10-40 ms after the onset: worst 1.95 cents (Amiga finetune
//    interpolation) -> 3 cents, well under the 6.25 cents of one finetune step;
//  - pitch over time: worst 96% of 23 ms windows within 10 cents (the rest
//    straddle an arpeggio or retrigger step) -> 93%;
//  - left/right balance per 10 ms window: correlation 0.999 -> 0.98.
constexpr double kMinEnvelopeCorrelation = 0.98;
constexpr double kMaxOnsetMs = 2.0;
constexpr double kMaxNoteCents = 3.0;
constexpr double kMinTrackAgreement = 0.93;  // share of windows within kTrackCents
constexpr double kTrackCents = 10.0;
constexpr double kMinBalanceCorrelation = 0.98;

bool HaveReference() { return std::system("command -v openmpt123 >/dev/null 2>&1") == 0; }

std::string TempDir() {
  const char* t = std::getenv("TMPDIR");
  std::string d = std::string(t ? t : "/tmp") + "/zqa_ref_" + std::to_string(::getpid());
  std::system(("mkdir -p " + d).c_str());
  return d;
}

// Mono (L+R)/2, or the side (R-L)/2.
std::vector<float> RenderOurs(const std::vector<uint8_t>& data, bool side = false) {
  static zqa::Song song;
  static zqa::Player player;
  std::vector<float> mono;
  if (zqa::LoadSong(data.data(), data.size(), song) != zqa::kLoadOk) return mono;
  player.mix.interpolate = false;
  player.mix.ramp = false;
  player.Start(&song, false);
  std::vector<float> buf(2048);
  while (!player.ended && mono.size() < size_t(120) * 44100) {
    std::fill(buf.begin(), buf.end(), 0.0f);
    player.Render(buf.data(), 1024);
    for (int i = 0; i < 1024; i++) mono.push_back((buf[2 * i + 1] + (side ? -buf[2 * i] : buf[2 * i])) * 0.5f);
  }
  return mono;
}

std::vector<float> RenderReference(const std::string& dir, const refcases::Case& c, bool side = false) {
  std::string path = dir + "/" + c.name + (c.mod ? ".mod" : ".xm");
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return {};
  std::fwrite(c.data.data(), 1, c.data.size(), f);
  std::fclose(f);
  std::string cmd = "openmpt123 --render --output-type wav --samplerate 44100 --no-float --filter 1 "
                    "--ramping 0 --dither 0 --force -q '" + path + "' >/dev/null 2>&1";
  if (std::system(cmd.c_str()) != 0) return {};
  return analysis::ReadWavMono(path + ".wav", nullptr, side);
}

// Normalises to the same peak so the level difference of the two mixers
// does not count (the comparison is of shape, pitch and time).
float Normalise(std::vector<float>& x, float m = 0) {
  if (m == 0)
    for (float v : x) m = std::max(m, std::fabs(v));
  if (m > 0)
    for (float& v : x) v /= m;
  return m;
}

// Balance per 10 ms window where the sound is loud enough: -1 left, +1 right.
std::vector<double> Balance(const std::vector<float>& mid, const std::vector<float>& side) {
  std::vector<double> b;
  for (size_t w = 0; w + 441 <= std::min(mid.size(), side.size()); w += 441) {
    double l = 0, r = 0;
    for (size_t k = w; k < w + 441; k++) {
      l += double(mid[k] - side[k]) * (mid[k] - side[k]);
      r += double(mid[k] + side[k]) * (mid[k] + side[k]);
    }
    l = std::sqrt(l / 441);
    r = std::sqrt(r / 441);
    if (l + r > 0.05) b.push_back((r - l) / (r + l));
  }
  return b;
}

}  // namespace

TEST(Reference, MatchesIndependentPlayer) {
  if (!HaveReference()) GTEST_SKIP() << "openmpt123 is not installed; reference comparison skipped";
  const std::string dir = TempDir();
  const int rate = 44100;
  for (const refcases::Case& c : refcases::All()) {
    SCOPED_TRACE(c.name);
    std::vector<float> ours = RenderOurs(c.data);
    std::vector<float> ref = RenderReference(dir, c);
    ASSERT_FALSE(ours.empty());
    ASSERT_FALSE(ref.empty());
    const float peakOurs = Normalise(ours);
    const float peakRef = Normalise(ref);
    const size_t n = std::min(ours.size(), ref.size());
    ours.resize(n);
    ref.resize(n);
    double balanceCorr = 1.0;
    if (c.stereo) {
      std::vector<float> so = RenderOurs(c.data, true), sr = RenderReference(dir, c, true);
      Normalise(so, peakOurs);
      Normalise(sr, peakRef);
      balanceCorr = analysis::Correlation(Balance(ours, so), Balance(ref, sr));
    }

    double corr = analysis::Correlation(analysis::Envelope(ours, 441), analysis::Envelope(ref, 441));

    auto oo = analysis::Onsets(ours, 0.02f, 600), or_ = analysis::Onsets(ref, 0.02f, 600);
    double worstOnset = 0, worstCents = 0;
    size_t pairs = std::min(oo.size(), or_.size());
    for (size_t i = 0; i < pairs; i++) {
      worstOnset = std::max(worstOnset, std::fabs(double(oo[i]) - double(or_[i])) * 1000.0 / rate);
      size_t a = oo[i] + 441, b = or_[i] + 441;
      double po = analysis::Pitch(ours, a, a + 1323, rate), pr = analysis::Pitch(ref, b, b + 1323, rate);
      if (po > 0 && pr > 0) worstCents = std::max(worstCents, std::fabs(analysis::Cents(po, pr)));
    }

    double agreement = 1.0;
    if (c.pitchTrack) {
      int windows = 0, agree = 0;
      for (size_t w = 0; w + 1024 <= n; w += 512) {
        double eo = 0, er = 0;
        for (size_t k = w; k < w + 1024; k++) { eo += ours[k] * ours[k]; er += ref[k] * ref[k]; }
        if (eo / 1024 < 0.01 || er / 1024 < 0.01) continue;
        double po = analysis::Pitch(ours, w, w + 1024, rate), pr = analysis::Pitch(ref, w, w + 1024, rate);
        windows++;
        if (std::fabs(analysis::Cents(po, pr)) <= kTrackCents) agree++;
      }
      agreement = windows ? double(agree) / windows : 0;
    }
    std::printf("[ reference ] %-14s corr %.4f onsets %zu/%zu worst %.2f ms  note pitch worst %.2f cents  track %.3f  balance %.3f\n",
                c.name.c_str(), corr, oo.size(), or_.size(), worstOnset, worstCents, agreement, balanceCorr);
    EXPECT_EQ(oo.size(), or_.size());
    EXPECT_GE(corr, c.minCorrelation > 0 ? c.minCorrelation : kMinEnvelopeCorrelation);
    EXPECT_LE(worstOnset, kMaxOnsetMs);
    EXPECT_LE(worstCents, kMaxNoteCents);
    EXPECT_GE(agreement, kMinTrackAgreement);
    EXPECT_GE(balanceCorr, kMinBalanceCorrelation);
  }
  std::system(("rm -rf '" + dir + "'").c_str());
}
