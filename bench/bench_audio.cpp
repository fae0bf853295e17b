// CPU time per second of audio for generated 16- and 32-channel XMs: this
// library's replayer against the reference player (openmpt123) in the same
// run, at comparable settings (nearest and linear interpolation, 44.1 kHz
// stereo).
#include <sys/resource.h>
#include <unistd.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>
#include "modgen.h"
#include "player.h"

namespace {

// "--quick" (the test suite's smoke run): one repetition, no reference.
bool g_quick = false;

double CpuSeconds(int who) {
  rusage u;
  getrusage(who, &u);
  return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) * 1e-6;
}

// 8 patterns of 64 rows in a 24-entry order list (about 3 min): notes on
// every channel every few rows with a spread of effects, 16-bit looped
// samples of a few thousand frames, envelopes on half the instruments.
std::vector<uint8_t> GeneratedSong(int channels) {
  modgen::Xm x;
  x.channels = channels;
  x.tempo = 6;
  x.bpm = 125;
  for (int i = 0; i < 8; i++) {
    modgen::Smp s;
    s.bits16 = true;
    int len = 2000 + 700 * i;
    for (int k = 0; k < len; k++) {
      double t = double(k) / len;
      s.pcm.push_back(int16_t(9000 * std::sin(2 * modgen::kPi * (k % 64) / 64.0 * (1 + i % 3)) * (1 - 0.5 * t) +
                              3000 * std::sin(k * 0.013 * (i + 1))));
    }
    s.loopType = i % 3 == 2 ? 2 : 1;
    s.loopStart = len / 2;
    s.loopLen = len / 2;
    modgen::Ins in = modgen::OneSample(s);
    if (i % 2) {
      in.vol.on = true;
      in.vol.pts = {{0, 64}, {8, 40}, {30, 50}, {60, 10}};
      in.vol.sustain = true;
      in.vol.sus = 2;
      in.fadeout = 800;
      in.vibDepth = 3;
      in.vibRate = 12;
    }
    x.ins.push_back(in);
  }
  const uint8_t fx[] = {0, 1, 2, 3, 4, 0xA, 7, 0, 0xE, 0};
  const uint8_t par[] = {0x37, 0x02, 0x02, 0x10, 0x46, 0x02, 0x34, 0, 0x91, 0};
  for (int p = 0; p < 8; p++) {
    x.AddPattern(64);
    for (int r = 0; r < 64; r++)
      for (int c = 0; c < channels; c++) {
        modgen::Cell& cell = x.At(p, r, c);
        int k = (r * 7 + c * 3 + p * 5) % 10;
        if ((r + c) % 4 == 0) {
          cell.note = uint8_t(37 + (r * 5 + c * 7 + p) % 36);
          cell.ins = uint8_t(1 + (c + p) % 8);
          cell.vol = uint8_t(0x20 + (r * 3 + c) % 0x30);
        }
        cell.fx = fx[k];
        cell.param = par[k];
      }
  }
  x.orders.clear();
  for (int i = 0; i < 24; i++) x.orders.push_back((i * 3) % 8);
  return x.Build();
}

double OursCpu(const zqa::Song& song, bool interpolate, double& seconds) {
  static zqa::Player player;
  player.mix.interpolate = interpolate;
  player.mix.ramp = true;
  std::vector<float> buf(2 * 1024);
  std::vector<int16_t> pcm(2 * 1024);
  double t0 = CpuSeconds(RUSAGE_SELF);
  player.Start(&song, false);
  uint64_t frames = 0;
  while (!player.ended) {
    std::fill(buf.begin(), buf.end(), 0.0f);
    player.Render(buf.data(), 1024);
    zqa::ToPcm16(buf.data(), pcm.data(), 2048, 1.0f);
    frames += 1024;
  }
  seconds = double(frames) / zqa::kOutputRate;
  return CpuSeconds(RUSAGE_SELF) - t0;
}

double ReferenceCpu(const std::string& path, int filter) {
  double t0 = CpuSeconds(RUSAGE_CHILDREN);
  std::string cmd = "openmpt123 --render --output-type wav --samplerate 44100 --no-float --filter " +
                    std::to_string(filter) + " --dither 0 --force -q '" + path + "' >/dev/null 2>&1";
  if (std::system(cmd.c_str()) != 0) return -1;
  return CpuSeconds(RUSAGE_CHILDREN) - t0;
}

// Best of three runs of both players on one song, with and without
// interpolation; false when the song does not load.
bool Compare(const char* label, int channels) {
  std::vector<uint8_t> data = GeneratedSong(channels);
  static zqa::Song song;
  if (zqa::LoadSong(data.data(), data.size(), song) != zqa::kLoadOk) {
    std::fprintf(stderr, "bench_audio: generated module does not load\n");
    return false;
  }
  std::string path = "/tmp/bench_audio_" + std::to_string(getpid()) + ".xm";
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  std::fwrite(data.data(), 1, data.size(), f);
  std::fclose(f);
  const bool haveRef = !g_quick && std::system("command -v openmpt123 >/dev/null 2>&1") == 0;
  std::printf("bench_audio: %s, 44.1 kHz stereo, CPU seconds per second of audio\n", label);
  for (int pass = 0; pass < 2; pass++) {
    const bool linear = pass == 1;
    double seconds = 0;
    double ours = 1e30, ref = 1e30;
    for (int rep = 0; rep < (g_quick ? 1 : 3); rep++) {
      ours = std::min(ours, OursCpu(song, linear, seconds));
      if (haveRef) ref = std::min(ref, ReferenceCpu(path, linear ? 2 : 1));
    }
    std::printf("  %-8s song %.1f s  ours %.5f", linear ? "linear" : "nearest", seconds, ours / seconds);
    if (haveRef && ref > 0) std::printf("  openmpt123 %.5f  ratio ours/reference %.2f\n", ref / seconds, ours / ref);
    else std::printf("  (openmpt123 not installed: no reference)\n");
  }
  std::remove(path.c_str());
  std::remove((path + ".wav").c_str());
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  g_quick = argc > 1 && std::strcmp(argv[1], "--quick") == 0;
  if (!Compare("16-channel XM", 16)) return 1;
  if (!Compare("32-channel XM", 32)) return 1;
  return 0;
}
