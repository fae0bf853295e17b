// The module player against an independent reference player (openmpt123,
// run as a program, no interpolation, ramping or dithering): per channel, the
// note onsets and the pitch just after each onset, on the test song from
// modwrite and on the 4-channel modules of the shared test set.
//
// This player steps slides through table entries and does not interpolate,
// so samples cannot match; onsets and pitches can, within the tolerances
// below (measured on these modules with libopenmpt 0.6.9, with a margin).
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

#include "sound_rig.h"

namespace {

const int kRate = 44100;
const int kHop = 220;                 // 5 ms envelope frames
const double kCompareSeconds = 30;

// Tolerances, from the worst values measured on these modules (libopenmpt
// 0.6.9), with a margin:
//  - onset: this player's rows start on 1/60 s block boundaries and its first
//    row is a tick longer, so after the local offset an onset may fall one
//    block (16.7 ms) plus one envelope frame (5 ms) off: 25 ms;
//  - onsets matched, pooled over a module's channels, both ways: worst 88%
//    (volume slides and retriggers on held notes make loudness jumps that
//    one detector finds and the other not) -> 80%;
//  - pitch in the 16 ms from 2 ms after an onset (before any slide, vibrato or
//    arpeggio step): the 22.10 step is rounded to an even number of 1/1024
//    samples, the loop jump loses under one step per cycle, and the detuned
//    tables may differ from the Amiga tool's by a period or two: within 3%
//    (half a semitone is 2.9%) for 80% of the tonal notes, pooled (worst
//    measured 86%);
//  - loudness (50 ms frames, 3 s windows) of a channel that plays notes:
//    worst 0.857 (long looped samples whose swells the two resamplers place
//    slightly differently) -> 0.8.
const double kOnsetToleranceMs = 25;
const double kMinOnsetsMatched = 0.80;
const double kPitchTolerance = 0.03;
const double kMinPitchesMatched = 0.80;
const double kMinLoudness = 0.8;

std::string ModulesDir() { return ZQS_MODULES; }

bool HaveReference() { return std::system("command -v openmpt123 >/dev/null 2>&1") == 0; }

std::vector<uint8_t> ReadBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// The module with only channel `keep` playing: the other channels' cells
// keep just the effects that steer the song (jumps, breaks, speed, pattern
// loops and delays).
std::vector<uint8_t> OnlyChannel(const std::vector<uint8_t>& mod, int keep)
{
    std::vector<uint8_t> m = mod;
    int count = 0;
    for (int i = 0; i < std::min<int>(m[ZMOD_SONG_LENGTH], ZMOD_ORDERS); i++)
        count = std::max(count, m[ZMOD_ORDER_TABLE + i] + 1);
    for (int p = 0; p < count; p++)
        for (int r = 0; r < ZMOD_ROWS; r++)
            for (int c = 0; c < ZMOD_CHANNELS; c++) {
                size_t at = ZMOD_PATTERNS + size_t(p) * ZMOD_PATTERN_BYTES + size_t(r * ZMOD_CHANNELS + c) * 4;
                if (c == keep || at + 4 > m.size())
                    continue;
                uint8_t* b = &m[at];
                int fx = b[2] & 0x0F, x = b[3] >> 4;
                bool steer = fx == 0xB || fx == 0xD || fx == 0xF || (fx == 0xE && (x == 6 || x == 14));
                b[0] = b[1] = 0;
                b[2] = steer ? uint8_t(fx) : 0;
                if (!steer)
                    b[3] = 0;
            }
    return m;
}

std::vector<float> RenderOurs(const std::vector<uint8_t>& mod)
{
    Rig rig(mod);
    std::vector<int16_t> pcm = rig.Render(int(kCompareSeconds) * ZSND_BLOCKS_PER_SECOND);
    std::vector<float> out(pcm.size());
    for (size_t i = 0; i < pcm.size(); i++)
        out[i] = pcm[i] / 32768.0f;
    return out;
}

std::vector<float> RenderReference(const std::vector<uint8_t>& mod)
{
    std::string path = "/tmp/zqs_ref_" + std::to_string(getpid()) + ".mod";
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(mod.data()), std::streamsize(mod.size()));
    std::string cmd = "openmpt123 --render --output-type wav --samplerate 44100 --no-float --channels 1 --filter 1 "
                      "--ramping 0 --dither 0 --end-time " + std::to_string(int(kCompareSeconds)) +
                      " --force -q '" + path + "' >/dev/null 2>&1";
    std::vector<float> out;
    if (std::system(cmd.c_str()) == 0) {
        std::vector<uint8_t> wav = ReadBytes(path + ".wav");
        // The data chunk of a plain 16-bit mono WAV.
        for (size_t p = 12; p + 8 <= wav.size();) {
            uint32_t size = uint32_t(wav[p + 4] | wav[p + 5] << 8 | wav[p + 6] << 16 | uint32_t(wav[p + 7]) << 24);
            if (std::memcmp(&wav[p], "data", 4) == 0) {
                for (size_t q = p + 8; q + 1 < std::min<size_t>(wav.size(), p + 8 + size); q += 2)
                    out.push_back(int16_t(wav[q] | wav[q + 1] << 8) / 32768.0f);
                break;
            }
            p += 8 + size + (size & 1);
        }
    }
    std::remove(path.c_str());
    std::remove((path + ".wav").c_str());
    return out;
}

std::vector<double> Envelope(const std::vector<float>& x)
{
    std::vector<double> e;
    for (size_t i = 0; i + kHop <= x.size(); i += kHop) {
        double s = 0;
        for (int k = 0; k < kHop; k++)
            s += double(x[i + k]) * x[i + k];
        e.push_back(std::sqrt(s / kHop));
    }
    return e;
}

// Frames where a note starts: the loudness above 10% of the peak and at
// least three times the quietest of the 20 ms before (the swells inside a
// held sample stay below that), at most one per 50 ms.
std::vector<int> Onsets(const std::vector<double>& e)
{
    double peak = e.empty() ? 0 : *std::max_element(e.begin(), e.end());
    std::vector<int> on;
    for (int i = 4; i < int(e.size()); i++) {
        double before = std::min({e[i - 1], e[i - 2], e[i - 3], e[i - 4]});
        if (e[i] > 0.1 * peak && e[i] > 3 * before + 0.01 * peak && (on.empty() || i - on.back() >= 10))
            on.push_back(i);
    }
    return on;
}

// Fundamental period in samples from the normalised autocorrelation of the
// 16 ms from `from` on (notes from 63 Hz up): the shortest lag within 90% of the best; 0 when the
// window is not tonal.
double Period(const std::vector<float>& x, size_t from)
{
    const size_t n = 700, maxLag = 700;
    if (from + n + maxLag > x.size())
        return 0;
    std::vector<double> r(maxLag, 0);
    double e0 = 0;
    for (size_t k = 0; k < n; k++)
        e0 += double(x[from + k]) * x[from + k];
    if (e0 <= 0)
        return 0;
    double best = 0;
    for (size_t lag = 20; lag < maxLag; lag++) {
        double s = 0, e1 = 0;
        for (size_t k = 0; k < n; k++) {
            s += double(x[from + k]) * x[from + k + lag];
            e1 += double(x[from + k + lag]) * x[from + k + lag];
        }
        r[lag] = e1 > 0 ? s / std::sqrt(e0 * e1) : 0;
        best = std::max(best, r[lag]);
    }
    if (best < 0.8)
        return 0;
    for (size_t lag = 21; lag + 1 < maxLag; lag++)
        if (r[lag] >= 0.9 * best && r[lag] >= r[lag - 1] && r[lag] >= r[lag + 1])
            return double(lag);
    return 0;
}

// Loudness agreement: the correlation of the two envelopes in 50 ms frames,
// over windows of 3 s, each at its best lag within 150 ms (the offset and
// the tick-rate drift), averaged over the windows where the reference sounds.
double EnvelopeAgreement(const std::vector<double>& ours5, const std::vector<double>& ref5)
{
    auto coarse = [](const std::vector<double>& e) {
        std::vector<double> c;
        for (size_t i = 0; i + 10 <= e.size(); i += 10) {
            double s = 0;
            for (size_t k = 0; k < 10; k++)
                s += e[i + k];
            c.push_back(s / 10);
        }
        return c;
    };
    std::vector<double> ours = coarse(ours5), ref = coarse(ref5);
    const int window = 60, maxLag = 3;
    double peak = ref.empty() ? 0 : *std::max_element(ref.begin(), ref.end());
    double sum = 0;
    int count = 0;
    for (int start = maxLag; start + window + maxLag < int(std::min(ours.size(), ref.size())); start += window) {
        double best = -1, mr = 0;
        for (int k = 0; k < window; k++)
            mr += ref[size_t(start + k)] / window;
        if (mr < 0.05 * peak)
            continue;
        for (int lag = -maxLag; lag <= maxLag; lag++) {
            double mo = 0;
            for (int k = 0; k < window; k++)
                mo += ours[size_t(start + k + lag)] / window;
            double sro = 0, srr = 0, soo = 0;
            for (int k = 0; k < window; k++) {
                double r = ref[size_t(start + k)] - mr, o = ours[size_t(start + k + lag)] - mo;
                sro += r * o; srr += r * r; soo += o * o;
            }
            if (srr > 0 && soo > 0)
                best = std::max(best, sro / std::sqrt(srr * soo));
        }
        sum += best;
        count++;
    }
    return count ? sum / count : 1;
}

struct Agreement {
    int RefOnsets = 0, OurOnsets = 0, Matched = 0, OursMatched = 0, Pitched = 0, PitchMatched = 0;
    double Offset = 0;
    double Loudness = 1;
};

Agreement Compare(const std::vector<float>& ours, const std::vector<float>& ref)
{
    Agreement a;
    std::vector<double> eo = Envelope(ours), er = Envelope(ref);
    a.Loudness = EnvelopeAgreement(eo, er);
    std::vector<int> on = Onsets(eo), rn = Onsets(er);
    a.RefOnsets = int(rn.size());
    a.OurOnsets = int(on.size());
    if (on.empty() || rn.empty())
        return a;
    // The constant offset: the median of each reference onset's nearest one of ours.
    std::vector<int> d;
    for (int r : rn) {
        int best = on[0];
        for (int o : on)
            if (std::abs(o - r) < std::abs(best - r))
                best = o;
        d.push_back(best - r);
    }
    // The map from the reference's time to ours, per onset: the median
    // offset of its 20 neighbours. It absorbs this player's longer first row
    // and its tick rate of whole ticks per second (51 instead of 51.2 at 128
    // BPM, a drift of 4 ms a second).
    auto localOffset = [&](size_t i) {
        size_t from = i < 10 ? 0 : i - 10, to = std::min(d.size(), from + 21);
        std::vector<int> w(d.begin() + long(from), d.begin() + long(to));
        std::nth_element(w.begin(), w.begin() + long(w.size() / 2), w.end());
        return w[w.size() / 2];
    };
    const double tol = kOnsetToleranceMs / 1000.0 * kRate / kHop;
    std::vector<int> mapped;
    for (size_t i = 0; i < rn.size(); i++) {
        int offset = localOffset(i);
        a.Offset += offset * kHop * 1000.0 / kRate / double(rn.size());
        int r = rn[i];
        if (std::fabs(d[i] - offset) > tol)
            continue;
        int o = r + d[i];
        a.Matched++;
        mapped.push_back(o);
        // The first tick of a note: before any slide, vibrato or arpeggio step.
        double pr = Period(ref, size_t(r) * kHop + kRate / 500), po = Period(ours, size_t(o) * kHop + kRate / 500);
        if (pr > 0 && po > 0) {
            a.Pitched++;
            if (std::fabs(pr / po - 1) <= kPitchTolerance)
                a.PitchMatched++;
        }
    }
    std::sort(mapped.begin(), mapped.end());
    a.OursMatched = int(std::unique(mapped.begin(), mapped.end()) - mapped.begin());
    return a;
}

// `attacks`: the module's notes start with a loudness jump the onset
// detector can find. Modules that change notes on held, looped samples or
// move the loudness with slides and vibrato all the time are judged by
// their loudness and pitch only.
void CheckModule(const std::string& name, const std::vector<uint8_t>& mod, bool attacks)
{
    Agreement all;
    for (int c = 0; c < ZMOD_CHANNELS; c++) {
        std::vector<uint8_t> one = OnlyChannel(mod, c);
        std::vector<float> ours = RenderOurs(one), ref = RenderReference(one);
        ASSERT_FALSE(ref.empty()) << name << ": openmpt123 rendered nothing";
        Agreement a = Compare(ours, ref);
        printf("  %-16s ch %d: onsets %3d ref / %3d ours, matched %3d / %3d (mean offset %+.0f ms); "
               "pitches %3d / %3d; loudness %.3f\n", name.c_str(), c, a.RefOnsets, a.OurOnsets, a.Matched,
               a.OursMatched, a.Offset, a.PitchMatched, a.Pitched, a.Loudness);
        if (a.RefOnsets >= 10) {
            EXPECT_GE(a.Loudness, kMinLoudness) << name << " channel " << c;
        }
        all.RefOnsets += a.RefOnsets;
        all.OurOnsets += a.OurOnsets;
        all.Matched += a.Matched;
        all.OursMatched += a.OursMatched;
        all.Pitched += a.Pitched;
        all.PitchMatched += a.PitchMatched;
    }
    if (attacks) {
        EXPECT_GE(all.Matched, kMinOnsetsMatched * all.RefOnsets) << name;
        EXPECT_GE(all.OursMatched, kMinOnsetsMatched * all.OurOnsets) << name;
    }
    EXPECT_GE(all.PitchMatched, kMinPitchesMatched * all.Pitched) << name;
}

}  // namespace

TEST(Reference, WriterSong)
{
    if (!HaveReference())
        GTEST_SKIP() << "openmpt123 not installed";
    std::vector<uint8_t> mod = ReadBytes(ZQS_SONG);
    ASSERT_GT(mod.size(), size_t(ZMOD_PATTERNS));
    CheckModule("song.mod", mod, true);
}

TEST(Reference, SharedModules)
{
    if (!HaveReference())
        GTEST_SKIP() << "openmpt123 not installed";
    // crystals.mod is an 8-channel module under the 4-channel signature.
    struct { const char* Name; bool Attacks; } modules[] = {
        {"APATHY.MOD", true}, {"listen.mod", true}, {"ponylips.mod", true},
        {"nebulos.mod", false},    // 1,900 volume slides, vibratos and portamentos
        {"sundance.mod", false},   // notes change on long looped samples
    };
    int found = 0;
    for (const auto& m : modules) {
        std::vector<uint8_t> mod = ReadBytes(ModulesDir() + "/songs/" + m.Name);
        if (mod.size() < ZMOD_PATTERNS + 4 || std::memcmp(&mod[1080], "M.K.", 4) != 0)
            continue;
        found++;
        CheckModule(m.Name, mod, m.Attacks);
    }
    if (!found)
        GTEST_SKIP() << "no 4-channel modules in " << ModulesDir();
}
