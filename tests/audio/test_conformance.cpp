// Every module of the shared test set (player test cases, FastTracker 2
// regression modules, real songs) rendered by this replayer and by the
// reference player (openmpt123, run as a program), both without
// interpolation, ramping or dithering. Compared: song length, the loudness
// envelope, and per-note onset and pitch. Prints a table and the count.
//   ZQA_CONFORMANCE_ONLY=substring   restricts the run to matching modules
#include <gtest/gtest.h>
#include <dirent.h>
#include <unistd.h>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>
#include "analysis.h"
#include "player.h"

#ifndef ZQA_MODULES_DIR
#define ZQA_MODULES_DIR "../shared/modules"
#endif

namespace {

// Thresholds, from the 152 modules against libopenmpt 0.6.9. Each output
// side is measured on its own (the test cases play the case on one side
// and the expected result on the other), relative to its peak (where the
// reference's 16-bit render clips, ours is clipped alike first).
//  - length: the reference's duration within 0.1 s (matching modules agree
//    within 0.01 s, a tick or less; a wrong jump or loop is off by rows);
//  - loudness, 10 ms RMS frames: correlation 0.95 (matching songs 0.95 to
//    1.0; the wrong effect rules measured here give 0.3 to 0.9), or, for a
//    steady tone whose flat envelope leaves a correlation only noise, a
//    mean difference of the mean-relative envelopes of at most 0.1 (matching
//    0.01 to 0.099) with 90% of 35 ms windows within 10 cents of pitch;
//  - onsets after 14 ms of quiet that rise to a tenth of the peak: the same
//    count, each within 2 ms (matching: worst 1.8 ms, rounding of tick
//    lengths; a tick is 20 ms at 125 BPM);
//  - pitch 10-40 ms after an onset by autocorrelation: 90% of onsets within
//    10 cents (matching: worst 9.6 cents, on drum hits and noise; a
//    finetune step is 12.5 cents on the linear table);
//  - silence: a peak under 1/128 (cancelling test cases leave a rounding
//    residue of up to 0.0055 here, 0.0015 in the reference).
constexpr double kMaxLengthDiff = 0.1;
constexpr double kMinCorrelation = 0.95;
constexpr double kMaxOnsetMs = 2.0;
constexpr double kMaxNoteCents = 10.0;
constexpr double kMinPitchShare = 0.9;
constexpr float kOnsetConfirm = 0.1f;
constexpr double kMaxEnvelopeDiff = 0.1;
constexpr double kTrackCents = 10.0;
constexpr double kMinTrackAgreement = 0.9;
constexpr float kSilence = 1.0f / 128;
constexpr size_t kMaxFrames = size_t(20) * 60 * 44100;

// Cases on which the reference player itself is documented to differ from
// the tracker the case tests; each reason is taken from the case. Where the
// difference starts at a known point (from > 0 seconds), the case must still
// match the reference up to there; where the case carries FT2's own
// recording on its right channel (ft2Right), our left must match that from
// there on.
struct Exception { const char* name; const char* reason; double from = 0; bool ft2Right = false; };
const Exception kExceptions[] = {
  {"xm_SampleChange.xm", "the reference is known to fail it: FT2 switches the sample but keeps the previous instrument's settings"},
  {"pattern_loop_dt.mod", "the reference does not keep Digital Tracker's one pattern loop for the song that the case's samples "
                          "describe (one target and count, one E6x a row, kept across patterns); its per-channel loops end the "
                          "first pattern in an endless loop and it plays the other orders as separate subsongs"},
  {"xm_PatternDelays.xm", "FT2 has no X6x effect, as the case notes; the reference plays X6x as a fine pattern delay"},
  {"ft2_envelope_reset.xm", "the case's channels must play alike (\"Left = Right\"), and an instrument number next to a "
                            "volume-column portamento and K00 restarts the envelope (\"toneporta+K00 does not prevent\"); the "
                            "reference keeps the envelope running on rows 27 and 31, so its two sides differ there"},
  {"xm_PanMemory.xm", "the case says all its notes are panned hard right: a note keeps the panning set on an earlier "
                      "row next to an instrument number alone; the reference plays that first note centred"},
  {"xm_TremoloWaveforms.xm", "the case's right channel is FT2's own recording: FT2 plays waveform 3 (E73, the last 16 rows) as "
                             "the square of waveform 2; the reference plays it as random", 5.88, true},
  {"xm_VibratoWaveforms.xm", "the case's right channel is FT2's own recording: FT2 plays waveform 3 (E43, the last 16 rows) as "
                             "the square of waveform 2; the reference plays it as random", 5.88, true},
  {"xm_Pickup.xm", "the case's right channel is FT2's own recording: an instrument number alone after a key-off plays the "
                   "note on until the next key-off; the reference releases it again within two ticks"},
};

const Exception* ExceptionFor(const std::string& name) {
  for (const Exception& e : kExceptions)
    if (name == e.name) return &e;
  return nullptr;
}

bool HaveReference() { return std::system("command -v openmpt123 >/dev/null 2>&1") == 0; }

std::vector<std::string> Modules() {
  std::vector<std::string> out;
  const char* only = std::getenv("ZQA_CONFORMANCE_ONLY");
  for (const char* sub : {"openmpt-tests", "ft2-tests", "songs"}) {
    std::string dir = std::string(ZQA_MODULES_DIR) + "/" + sub;
    DIR* d = opendir(dir.c_str());
    if (!d) continue;
    while (dirent* e = readdir(d)) {
      std::string n = e->d_name;
      if (n[0] == '.' || n == "SOURCES.md") continue;
      if (only && n.find(only) == std::string::npos) continue;
      out.push_back(dir + "/" + n);
    }
    closedir(d);
  }
  std::sort(out.begin(), out.end());
  return out;
}

std::string Base(const std::string& p) { return p.substr(p.rfind('/') + 1); }

std::vector<uint8_t> ReadFile(const std::string& path) {
  std::vector<uint8_t> d;
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return d;
  uint8_t buf[65536];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) d.insert(d.end(), buf, buf + n);
  std::fclose(f);
  return d;
}

// Mono (L+R)/2 and side (R-L)/2 up to the frame where the song ended.
std::vector<float> RenderOurs(const std::vector<uint8_t>& data, std::vector<float>& side) {
  static zqa::Song song;
  static zqa::Player player;
  std::vector<float> mono;
  side.clear();
  if (zqa::LoadSong(data.data(), data.size(), song) != zqa::kLoadOk) return mono;
  player.mix.interpolate = false;
  player.mix.ramp = false;
  player.Start(&song, false);
  std::vector<float> buf(2048);
  while (!player.Finished() && mono.size() < kMaxFrames) {
    std::fill(buf.begin(), buf.end(), 0.0f);
    player.Render(buf.data(), 1024);
    for (int i = 0; i < 1024; i++) {
      mono.push_back((buf[2 * i] + buf[2 * i + 1]) * 0.5f);
      side.push_back((buf[2 * i + 1] - buf[2 * i]) * 0.5f);
    }
  }
  if (player.ended) mono.resize(std::min<size_t>(mono.size(), player.count.endFrame));
  side.resize(mono.size());
  return mono;
}

// The reference's song length: the Duration line of its --info output
// (its render runs a little past the end).
double ReferenceSeconds(const std::string& infoPath) {
  FILE* f = std::fopen(infoPath.c_str(), "r");
  if (!f) return -1;
  char line[512];
  double s = -1;
  while (std::fgets(line, sizeof line, f)) {
    int h = 0, m = 0;
    double sec = 0;
    if (std::sscanf(line, "Duration...: %d:%d:%lf", &h, &m, &sec) == 3) s = h * 3600 + m * 60 + sec;
    else if (std::sscanf(line, "Duration...: %d:%lf", &m, &sec) == 2) s = m * 60 + sec;
  }
  std::fclose(f);
  return s;
}

// All reference renders, two at a time, into dir.
bool RenderReferences(const std::vector<std::string>& mods, const std::string& dir) {
  std::string list = dir + "/list";
  FILE* f = std::fopen(list.c_str(), "w");
  if (!f) return false;
  for (const std::string& m : mods) std::fprintf(f, "%s\n", m.c_str());
  std::fclose(f);
  // The reference writes FILE.wav beside FILE: render through links in dir.
  std::string cmd = "cd '" + dir + "' && xargs -P2 -I{} sh -c 'b=$(basename \"{}\"); ln -sf \"{}\" \"$b\"; "
                    "openmpt123 --render --output-type wav --samplerate 44100 --no-float --filter 1 --ramping 0 "
                    "--dither 0 --force -q \"$b\" >/dev/null 2>&1; openmpt123 --info \"$b\" > \"$b.info\" 2>&1' < list";
  return std::system(cmd.c_str()) == 0;
}

float Peak(const std::vector<float>& x) {
  float m = 0;
  for (float v : x) m = std::max(m, std::fabs(v));
  return m;
}

float Normalise(std::vector<float>& x) {
  const float m = Peak(x);
  if (m > 0)
    for (float& v : x) v /= m;
  return m;
}

// The reference renders 16-bit and clips where a loud song passes full
// scale; the peak of a clipped render is no measure of its level, and the
// two sides would be scaled apart. Where the reference clips, our float
// render is brought to its level (least squares over the unclipped frames)
// and clipped alike.
void ClipAsReference(std::vector<float>& ours, const std::vector<float>& ref) {
  constexpr float kFull = 32767.0f / 32768.0f;
  double orr = 0, rr = 0;
  bool clipped = false;
  for (size_t i = 0; i < ref.size(); i++) {
    if (std::fabs(ref[i]) >= kFull) { clipped = true; continue; }
    orr += double(ours[i]) * ref[i];
    rr += double(ref[i]) * ref[i];
  }
  if (!clipped || orr <= 0 || rr <= 0) return;
  const float k = float(orr / rr);
  for (float& v : ours) v = std::clamp(v / k, -1.0f, kFull);
}

// Mean absolute difference of two loudness envelopes, each relative to its
// own mean: near 0 when the shapes agree. A steady tone has no shape for a
// correlation to find (its envelope is flat up to noise), so either measure
// may show agreement.
double EnvelopeDifference(const std::vector<double>& a, const std::vector<double>& b) {
  const size_t n = std::min(a.size(), b.size());
  double ma = 0, mb = 0;
  for (size_t i = 0; i < n; i++) { ma += a[i]; mb += b[i]; }
  if (n == 0 || ma <= 0 || mb <= 0) return 1.0;
  double d = 0;
  for (size_t i = 0; i < n; i++) d += std::fabs(a[i] / ma - b[i] / mb);
  return d;
}

// Share of 35 ms windows (every 46 ms), loud and voiced on both sides, whose
// pitch agrees within kTrackCents: pitch over time, where effects move it.
double TrackAgreement(const std::vector<float>& a, const std::vector<float>& b) {
  int windows = 0, agree = 0;
  for (size_t w = 0; w + 1536 <= std::min(a.size(), b.size()); w += 2048) {
    double ea = 0, eb = 0;
    for (size_t k = w; k < w + 1536; k++) { ea += a[k] * a[k]; eb += b[k] * b[k]; }
    if (ea / 1536 < 0.01 || eb / 1536 < 0.01) continue;
    double pa = analysis::PitchAcf(a, w, w + 1536, 44100), pb = analysis::PitchAcf(b, w, w + 1536, 44100);
    if (pa <= 0 && pb <= 0) continue;
    windows++;
    if (std::fabs(analysis::Cents(pa, pb)) <= kTrackCents) agree++;
  }
  return windows ? double(agree) / windows : 1.0;
}

// Our left side against our right from frame from on, where the case plays
// FT2's own recording: the same loudness and pitch measures as against the
// reference.
bool MatchesFt2Recording(const std::vector<float>& mono, const std::vector<float>& side, size_t from) {
  if (from >= mono.size()) return false;
  std::vector<float> l(mono.size() - from), r(l.size());
  for (size_t i = 0; i < l.size(); i++) { l[i] = mono[from + i] - side[from + i]; r[i] = mono[from + i] + side[from + i]; }
  if (Normalise(l) < kSilence || Normalise(r) < kSilence) return false;
  std::vector<double> el = analysis::Envelope(l, 441), er = analysis::Envelope(r, 441);
  return analysis::Correlation(el, er) >= kMinCorrelation ||
         (EnvelopeDifference(el, er) <= kMaxEnvelopeDiff && TrackAgreement(l, r) >= kMinTrackAgreement);
}

struct Row {
  std::string name;
  double ours = 0, ref = 0, corr = 0, envDiff = 0, track = 1, worstOnset = 0, worstCents = 0;
  size_t onsetsOurs = 0, onsetsRef = 0;
  bool loaded = false, pass = false, ft2Recording = true;
  std::string misses;
  const Exception* exception = nullptr;
};

// Up to the end, or up to where a listed exception starts.
Row Compare(const std::string& path, const std::string& dir, const Exception* exception) {
  const int rate = 44100;
  Row r;
  r.name = Base(path);
  r.exception = exception;
  std::vector<float> sideOurs;
  std::vector<float> ours = RenderOurs(ReadFile(path), sideOurs);
  std::vector<float> ref = analysis::ReadWavMono(dir + "/" + r.name + ".wav");
  std::vector<float> sideRef = analysis::ReadWavMono(dir + "/" + r.name + ".wav", nullptr, true);
  r.loaded = !ours.empty();
  r.ours = double(ours.size()) / rate;
  r.ref = ReferenceSeconds(dir + "/" + r.name + ".info");
  if (ours.empty() || ref.empty()) return r;
  size_t n = std::min(ours.size(), ref.size());
  if (exception && exception->from > 0) {
    n = std::min(n, size_t(exception->from * rate));
    if (exception->ft2Right) r.ft2Recording = MatchesFt2Recording(ours, sideOurs, n);
  }
  for (auto* v : {&ours, &ref, &sideOurs, &sideRef}) v->resize(n);
  // Test cases that cancel to silence when played right: silence matches
  // silence (a correlation is undefined there).
  const bool quietOurs = Peak(ours) < kSilence, quietRef = Peak(ref) < kSilence;
  std::vector<double> cents;
  if (quietOurs || quietRef) {
    r.corr = quietOurs && quietRef ? 1.0 : 0.0;
    r.envDiff = quietOurs && quietRef ? 0.0 : 1.0;
  } else {
    // Each output side on its own: most test cases play the case on one
    // side and the expected result on the other, and their sum would
    // measure beating and cancelling between them rather than either.
    r.corr = 1.0;
    for (int sign : {-1, 1}) {
      std::vector<float> so(n), sr(n);
      for (size_t i = 0; i < n; i++) { so[i] = ours[i] + sign * sideOurs[i]; sr[i] = ref[i] + sign * sideRef[i]; }
      ClipAsReference(so, sr);
      const bool qo = Normalise(so) < kSilence, qr = Normalise(sr) < kSilence;
      if (qo || qr) {
        r.corr = std::min(r.corr, qo && qr ? 1.0 : 0.0);
        if (!(qo && qr)) r.envDiff = 1.0;
        continue;
      }
      std::vector<double> eo = analysis::Envelope(so, 441), er = analysis::Envelope(sr, 441);
      const double c = analysis::Correlation(eo, er), d = EnvelopeDifference(eo, er);
      r.corr = std::min(r.corr, c);
      r.envDiff = std::max(r.envDiff, d);
      // The pitch track (slow) only where a steady loudness leaves the
      // correlation nothing to go by.
      if (c < kMinCorrelation && d <= kMaxEnvelopeDiff) r.track = std::min(r.track, TrackAgreement(so, sr));
      auto oo = analysis::Onsets(so, 0.02f, 600, kOnsetConfirm), orf = analysis::Onsets(sr, 0.02f, 600, kOnsetConfirm);
      r.onsetsOurs += oo.size();
      r.onsetsRef += orf.size();
      for (size_t i = 0; i < std::min(oo.size(), orf.size()); i++) {
        r.worstOnset = std::max(r.worstOnset, std::fabs(double(oo[i]) - double(orf[i])) * 1000.0 / rate);
        size_t a = oo[i] + 441, b = orf[i] + 441;
        double po = analysis::PitchAcf(so, a, a + 1323, rate), pr = analysis::PitchAcf(sr, b, b + 1323, rate);
        if (po > 0 && pr > 0) cents.push_back(std::fabs(analysis::Cents(po, pr)));
      }
    }
  }
  // Drum hits and chords have no one pitch: the note pitch is the one that
  // kMinPitchShare of the measured onsets agree within.
  std::sort(cents.begin(), cents.end());
  if (!cents.empty()) r.worstCents = cents[std::min(cents.size() - 1, size_t(double(cents.size()) * kMinPitchShare))];
  // What misses: Length, Correlation, Onset count, onset Time, Pitch, FT2's recording.
  const bool miss[6] = {std::fabs(r.ours - r.ref) > kMaxLengthDiff, r.corr < kMinCorrelation && !(r.envDiff <= kMaxEnvelopeDiff && r.track >= kMinTrackAgreement),
                        r.onsetsOurs != r.onsetsRef, r.worstOnset > kMaxOnsetMs, r.worstCents > kMaxNoteCents, !r.ft2Recording};
  for (int i = 0; i < 6; i++)
    if (miss[i]) r.misses += "LCOTPF"[i];
  r.pass = r.misses.empty();
  return r;
}

}  // namespace

TEST(Conformance, EveryModuleMatchesTheReference) {
  if (!HaveReference()) GTEST_SKIP() << "openmpt123 is not installed; conformance skipped";
  const std::vector<std::string> mods = Modules();
  if (mods.empty()) GTEST_SKIP() << "no modules in " << ZQA_MODULES_DIR;
  const char* t = std::getenv("TMPDIR");
  const std::string dir = std::string(t ? t : "/tmp") + "/zqa_conf_" + std::to_string(::getpid());
  std::system(("mkdir -p '" + dir + "'").c_str());
  ASSERT_TRUE(RenderReferences(mods, dir));
  int passed = 0, excepted = 0;
  std::printf("%-40s %9s %9s %7s %6s %5s %9s %7s %7s %s\n", "module", "ours s", "ref s", "corr", "diff", "track", "onsets", "ms", "cents",
              "result (misses: Length, Correlation, Onset count, onset Time, Pitch, FT2's recording)");
  for (const std::string& m : mods) {
    const Exception* e = ExceptionFor(Base(m));
    const bool partly = e && e->from > 0;  // compared up to e->from only
    Row r = Compare(m, dir, e);
    const bool ok = r.pass && !partly;
    std::printf("%-40s %9.2f %9.2f %7.4f %6.3f %5.3f %4zu/%-4zu %7.2f %7.2f %s %s\n", r.name.c_str(), r.ours, r.ref, r.corr, r.envDiff, r.track,
                r.onsetsOurs, r.onsetsRef, r.worstOnset, std::min(r.worstCents, 9999.0),
                ok ? "ok" : e && (r.pass || !partly) ? "EXCEPTION" : "FAIL", r.misses.c_str());
    if (ok) passed++;
    else if (e && (r.pass || !partly)) {
      excepted++;
      if (partly)
        std::printf("    matches up to %.2f s%s; from there the exception: %s\n", e->from,
                    e->ft2Right ? " and FT2's recording after" : "", e->reason);
      else std::printf("    exception: %s\n", e->reason);
    }
    EXPECT_TRUE(r.loaded) << r.name << " does not load";
    EXPECT_GT(r.ours, 0.0) << r.name << " plays nothing";
    EXPECT_TRUE(r.pass || (e && !partly))
        << r.name << (!r.ft2Recording ? " no longer matches FT2's recording in the case"
                      : partly        ? " no longer matches the reference before its exception starts"
                                      : " no longer matches the reference");
  }
  std::printf("conformance: %d of %zu modules match the reference, %d listed exceptions\n", passed, mods.size(),
              excepted);
  std::fflush(stdout);
  std::system(("rm -rf '" + dir + "'").c_str());
}
