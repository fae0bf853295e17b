// Measurements on rendered audio shared by the reference and output tests:
// onsets from a short-time energy curve, pitch from zero crossings, and the
// correlation of two loudness envelopes.
#pragma once
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <algorithm>
#include <string>
#include <vector>

namespace analysis {

// Mono (L+R)/2 floats from a 16-bit PCM WAV file; empty when unreadable.
// With side set, (R-L)/2 instead.
inline std::vector<float> ReadWavMono(const std::string& path, int* rate = nullptr, bool side = false) {
  std::vector<float> out;
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return out;
  std::vector<uint8_t> d;
  uint8_t buf[65536];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) d.insert(d.end(), buf, buf + n);
  std::fclose(f);
  size_t p = 12;
  int ch = 2, bits = 16;
  while (p + 8 <= d.size()) {
    uint32_t sz = uint32_t(d[p + 4] | (d[p + 5] << 8) | (d[p + 6] << 16) | (uint32_t(d[p + 7]) << 24));
    if (!std::memcmp(&d[p], "fmt ", 4) && p + 24 <= d.size()) {
      ch = d[p + 10];
      if (rate) *rate = int(d[p + 12] | (d[p + 13] << 8) | (d[p + 14] << 16));
      bits = d[p + 22];
    } else if (!std::memcmp(&d[p], "data", 4)) {
      size_t end = std::min<size_t>(d.size(), p + 8 + sz);
      if (bits != 16) return out;
      for (size_t q = p + 8; q + 2 * size_t(ch) <= end; q += 2 * size_t(ch)) {
        float s = 0;
        for (int c = 0; c < ch; c++)
          s += float(int16_t(d[q + 2 * c] | (d[q + 2 * c + 1] << 8))) * (side && ch == 2 && c == 0 ? -1.0f : 1.0f);
        out.push_back(s / ch / 32768.0f);
      }
      return out;
    }
    p += 8 + sz + (sz & 1);
  }
  return out;
}

// RMS over consecutive frames of hop samples.
inline std::vector<double> Envelope(const std::vector<float>& x, int hop) {
  std::vector<double> e;
  for (size_t i = 0; i + size_t(hop) <= x.size(); i += size_t(hop)) {
    double s = 0;
    for (int k = 0; k < hop; k++) s += double(x[i + k]) * x[i + k];
    e.push_back(std::sqrt(s / hop));
  }
  return e;
}

inline double Correlation(const std::vector<double>& a, const std::vector<double>& b) {
  size_t n = std::min(a.size(), b.size());
  if (n < 2) return 0;
  double ma = 0, mb = 0;
  for (size_t i = 0; i < n; i++) { ma += a[i]; mb += b[i]; }
  ma /= n; mb /= n;
  double sab = 0, saa = 0, sbb = 0;
  for (size_t i = 0; i < n; i++) {
    sab += (a[i] - ma) * (b[i] - mb);
    saa += (a[i] - ma) * (a[i] - ma);
    sbb += (b[i] - mb) * (b[i] - mb);
  }
  return saa > 0 && sbb > 0 ? sab / std::sqrt(saa * sbb) : 0;
}

// Sample indices where sound starts after at least gap samples of quiet.
// With confirm set, a start counts only if the sound reaches confirm within
// gap samples: a decaying tail that wavers around the threshold is no note.
inline std::vector<size_t> Onsets(const std::vector<float>& x, float threshold, size_t gap, float confirm = 0) {
  std::vector<size_t> on;
  size_t quiet = gap;
  for (size_t i = 0; i < x.size(); i++) {
    if (std::fabs(x[i]) > threshold) {
      if (quiet >= gap) {
        bool loud = confirm <= 0;
        for (size_t k = i; k < std::min(x.size(), i + gap) && !loud; k++) loud = std::fabs(x[k]) >= confirm;
        if (loud) on.push_back(i);
      }
      quiet = 0;
    } else {
      quiet++;
    }
  }
  return on;
}

// Frequency from rising zero crossings between from and to (sample indices),
// with linear interpolation of each crossing.
inline double Pitch(const std::vector<float>& x, size_t from, size_t to, int rate) {
  if (to > x.size()) to = x.size();
  double first = -1, last = -1;
  int count = 0;
  for (size_t i = from + 1; i < to; i++) {
    if (x[i - 1] < 0 && x[i] >= 0) {
      double t = double(i - 1) + double(-x[i - 1]) / double(x[i] - x[i - 1]);
      if (first < 0) first = t;
      else count++;
      last = t;
    }
  }
  return count > 0 ? count * double(rate) / (last - first) : 0;
}

// Frequency by autocorrelation between from and to (DC removed): the first
// lag whose normalised correlation comes within 10% of the best, refined by
// a parabola. Works for any waveform, where zero crossings need a clean
// one; minLag and maxLag bound the frequencies searched. 0 when unvoiced.
inline double PitchAcf(const std::vector<float>& x, size_t from, size_t to, int rate, int minLag = 20, int maxLag = 600) {
  if (to > x.size()) to = x.size();
  if (to <= from + size_t(2 * maxLag)) return 0;
  const size_t n = to - from;
  std::vector<double> v(n);
  double mean = 0;
  for (size_t i = 0; i < n; i++) mean += x[from + i];
  mean /= double(n);
  for (size_t i = 0; i < n; i++) v[i] = x[from + i] - mean;
  const size_t len = n - size_t(maxLag);
  std::vector<double> r(size_t(maxLag) + 2, 0.0);
  double best = 0;
  for (int lag = minLag; lag <= maxLag; lag++) {
    double ab = 0, aa = 0, bb = 0;
    for (size_t i = 0; i < len; i++) {
      ab += v[i] * v[i + size_t(lag)];
      aa += v[i] * v[i];
      bb += v[i + size_t(lag)] * v[i + size_t(lag)];
    }
    r[size_t(lag)] = aa > 0 && bb > 0 ? ab / std::sqrt(aa * bb) : 0;
    best = std::max(best, r[size_t(lag)]);
  }
  if (best < 0.5) return 0;
  for (int lag = minLag + 1; lag < maxLag; lag++) {
    const double a = r[size_t(lag - 1)], b = r[size_t(lag)], c = r[size_t(lag + 1)];
    if (b >= 0.9 * best && b >= a && b >= c) {
      const double den = a - 2 * b + c;
      const double shift = den != 0 ? 0.5 * (a - c) / den : 0;
      return double(rate) / (lag + shift);
    }
  }
  return 0;
}

inline double Cents(double a, double b) { return a > 0 && b > 0 ? 1200.0 * std::log2(a / b) : 1e9; }

}  // namespace analysis
