// libFuzzer target: WAV loading through the library, and a short playback.
#include <cstddef>
#include <cstdint>
#include <vector>
#include "library.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static zqa::Library* lib = [] {
    auto* l = new zqa::Library;
    l->Init(44100);
    l->Start();
    return l;
  }();
  static std::vector<int16_t> out(2 * 1024);
  uint32_t s = lib->SampleLoad(data, uint32_t(size), 5);
  if (!s) return 0;
  lib->SamplePlay(s, 0, -1, 100, -101, false);
  lib->SamplePlay(s, uint32_t(size / 3), 96000, 50, 30, true);
  lib->Render(out.data(), 1024);
  lib->Stop();
  lib->Start();
  // The sample table is finite: free this one again.
  lib->samples[s & 0xFF] = zqa::SampleSlot();
  return 0;
}
