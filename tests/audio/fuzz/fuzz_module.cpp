// libFuzzer target: XM and MOD loading, then some playback of whatever
// loaded, so a hostile module's fields also reach the replayer and mixer.
#include <cstddef>
#include <cstdint>
#include <vector>
#include "player.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  static zqa::Song song;
  static zqa::Player player;
  static std::vector<float> buf(2 * 2048);
  if (zqa::LoadSong(data, size, song) != zqa::kLoadOk) return 0;
  player.Start(&song, (size & 1) != 0);
  for (int i = 0; i < 4 && !player.ended; i++) player.Render(buf.data(), 2048);
  for (int i = 0; i < 200 && !player.ended; i++) player.RunTick();
  player.Render(buf.data(), 512);
  return 0;
}
