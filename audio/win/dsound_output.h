// Output of the library's mix: a DirectSound secondary buffer fed by a mixing
// thread, or (device 0) a paced thread that renders and discards, so that
// playbacks still end on time without a sound device.
#pragma once
#include <windows.h>
#include <cstdint>

struct IDirectSound8;
struct IDirectSoundBuffer;

namespace zqa {

using RenderFn = void (*)(void* ctx, int16_t* out, int frames);

class DsOutput {
public:
  static constexpr int kSegmentFrames = 512;  // about 11.6 ms at 44.1 kHz
  static constexpr int kSegments = 8;

  IDirectSound8* ds = nullptr;
  IDirectSoundBuffer* buffer = nullptr;
  HANDLE thread = nullptr;
  HANDLE quit = nullptr;
  RenderFn render = nullptr;
  void* ctx = nullptr;
  int rate = 44100;
  DWORD writePos = 0;
  uint64_t segmentsWritten = 0;  // cheap counter, read by tests through nothing but the debugger

  // device: 0 no sound, 1 default, n the (n-1)th enumerated DirectSound device.
  bool Open(int device, int mixRate, HWND win, RenderFn fn, void* context);
  void Close();

  DWORD Run();
  void FillSegment(int16_t* tmp);
};

}  // namespace zqa
