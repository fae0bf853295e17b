// zqrender: renders an XM or MOD module to a 16-bit stereo 44.1 kHz WAV file,
// once through (no repeat).
//   zqrender [--nearest] [--no-ramp] [--seconds N] song.xm out.wav
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>
#include "player.h"

namespace {

void Put16(std::vector<uint8_t>& v, uint32_t x) { v.push_back(uint8_t(x)); v.push_back(uint8_t(x >> 8)); }
void Put32(std::vector<uint8_t>& v, uint32_t x) { Put16(v, x & 0xFFFF); Put16(v, x >> 16); }

}  // namespace

int main(int argc, char** argv) {
  zqa::MixOptions opt;
  double maxSeconds = 600;
  const char* in = nullptr;
  const char* out = nullptr;
  for (int i = 1; i < argc; i++) {
    if (!std::strcmp(argv[i], "--nearest")) opt.interpolate = false;
    else if (!std::strcmp(argv[i], "--no-ramp")) opt.ramp = false;
    else if (!std::strcmp(argv[i], "--seconds") && i + 1 < argc) maxSeconds = std::atof(argv[++i]);
    else if (!in) in = argv[i];
    else if (!out) out = argv[i];
  }
  if (!in || !out) {
    std::fprintf(stderr, "usage: zqrender [--nearest] [--no-ramp] [--seconds N] song.xm out.wav\n");
    return 2;
  }
  FILE* f = std::fopen(in, "rb");
  if (!f) { std::fprintf(stderr, "zqrender: cannot open %s\n", in); return 1; }
  std::vector<uint8_t> data;
  uint8_t chunk[65536];
  size_t n;
  while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) data.insert(data.end(), chunk, chunk + n);
  std::fclose(f);
  if (data.empty()) { std::fprintf(stderr, "zqrender: %s is empty\n", in); return 1; }
  static zqa::Song song;
  if (zqa::LoadSong(data.data(), data.size(), song) != zqa::kLoadOk) {
    std::fprintf(stderr, "zqrender: %s is not a module this player reads\n", in);
    return 1;
  }
  static zqa::Player player;
  player.mix = opt;
  player.Start(&song, false);
  const int block = 1024;
  std::vector<float> buf(2 * block);
  std::vector<int16_t> pcm;
  const size_t maxFrames = size_t(maxSeconds * zqa::kOutputRate);
  size_t frames = 0;
  while (!player.Finished() && frames < maxFrames) {
    std::fill(buf.begin(), buf.end(), 0.0f);
    player.Render(buf.data(), block);
    size_t base = pcm.size();
    pcm.resize(base + 2 * block);
    zqa::ToPcm16(buf.data(), pcm.data() + base, 2 * block, 1.0f);
    frames += block;
  }
  // Up to the end of the song's last tick, not of the last block.
  if (player.ended && player.count.endFrame < frames) {
    frames = size_t(player.count.endFrame);
    pcm.resize(2 * frames);
  }
  std::vector<uint8_t> wav;
  const uint32_t bytes = uint32_t(pcm.size() * 2);
  wav.insert(wav.end(), {'R', 'I', 'F', 'F'});
  Put32(wav, 36 + bytes);
  wav.insert(wav.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
  Put32(wav, 16); Put16(wav, 1); Put16(wav, 2); Put32(wav, zqa::kOutputRate);
  Put32(wav, zqa::kOutputRate * 4); Put16(wav, 4); Put16(wav, 16);
  wav.insert(wav.end(), {'d', 'a', 't', 'a'});
  Put32(wav, bytes);
  FILE* o = std::fopen(out, "wb");
  if (!o) { std::fprintf(stderr, "zqrender: cannot write %s\n", out); return 1; }
  std::fwrite(wav.data(), 1, wav.size(), o);
  for (int16_t s : pcm) { uint8_t b[2] = {uint8_t(s), uint8_t(uint16_t(s) >> 8)}; std::fwrite(b, 1, 2, o); }
  std::fclose(o);
  std::printf("zqrender: %s: %.2f s, %llu rows, %llu notes\n", in, double(frames) / zqa::kOutputRate,
              (unsigned long long)player.count.rows, (unsigned long long)player.count.notes);
  return 0;
}
