// The exported calls: thin wrappers over the platform-free library state,
// plus the output device's lifetime.
#include "bass.h"
#include <cstring>
#include <mutex>
#include "dsound_output.h"
#include "library.h"

namespace {

// Never destroyed: the mixing thread may still be running when the process
// ends, and the game never frees the library.
zqa::Library& Lib() {
  static zqa::Library* lib = new zqa::Library;
  return *lib;
}

zqa::DsOutput& Out() {
  static zqa::DsOutput* out = new zqa::DsOutput;
  return *out;
}

// Serialises Init and Free; the library's own lock covers everything else.
std::mutex& DeviceLock() {
  static std::mutex* m = new std::mutex;
  return *m;
}

void RenderCb(void* ctx, int16_t* out, int frames) { static_cast<zqa::Library*>(ctx)->Render(out, frames); }

void SetError(int code) {
  std::lock_guard<std::mutex> g(Lib().lock);
  Lib().lastError = code;
}

const uint8_t* At(const void* file, DWORD offset) { return static_cast<const uint8_t*>(file) + offset; }

}  // namespace

extern "C" {

DWORD WINAPI BASS_GetVersion(void) { return 0x00020000; }

BOOL WINAPI BASS_Init(int device, DWORD freq, DWORD, HWND win, const GUID*) {
  std::lock_guard<std::mutex> g(DeviceLock());
  if (device < 0) device = 1;  // -1: the default device
  if (!Lib().Init(int(freq))) return FALSE;
  if (!Out().Open(device, Lib().rate, win, RenderCb, &Lib())) {
    Out().Close();
    Lib().Free();
    SetError(zqa::kErrDriver);
    return FALSE;
  }
  return TRUE;
}

BOOL WINAPI BASS_Free(void) {
  std::lock_guard<std::mutex> g(DeviceLock());
  if (!Lib().initialised) { SetError(zqa::kErrInit); return FALSE; }
  Out().Close();
  Lib().Free();
  return TRUE;
}

BOOL WINAPI BASS_SetVolume(DWORD volume) { return Lib().SetVolume(volume > 100 ? -1 : int(volume)); }

int WINAPI BASS_ErrorGetCode(void) {
  std::lock_guard<std::mutex> g(Lib().lock);
  return Lib().lastError;
}

HMUSIC WINAPI BASS_MusicLoad(BOOL mem, const void* file, DWORD offset, DWORD length, DWORD flags, DWORD) {
  if (!mem || !file) { SetError(zqa::kErrIllParam); return 0; }
  return Lib().MusicLoad(At(file, offset), length, (flags & BASS_MUSIC_LOOP) != 0);
}

HSAMPLE WINAPI BASS_SampleLoad(BOOL mem, const void* file, DWORD offset, DWORD length, DWORD max, DWORD) {
  if (!mem || !file) { SetError(zqa::kErrIllParam); return 0; }
  const uint8_t* p = At(file, offset);
  if (length == 0) {
    // Size unknown: the RIFF header's own size, which the caller vouches for.
    if (std::memcmp(p, "RIFF", 4) != 0) { SetError(zqa::kErrFileForm); return 0; }
    length = DWORD(p[4] | (p[5] << 8) | (p[6] << 16) | (DWORD(p[7]) << 24)) + 8;
  }
  return Lib().SampleLoad(p, length, max > 64 ? -1 : int(max));
}

BOOL WINAPI BASS_Start(void) { return Lib().Start(); }
BOOL WINAPI BASS_Stop(void) { return Lib().Stop(); }
BOOL WINAPI BASS_MusicPlay(HMUSIC handle) { return Lib().MusicPlay(handle); }

BOOL WINAPI BASS_StreamPlay(HSTREAM, BOOL, DWORD) {
  SetError(zqa::kErrHandle);
  return FALSE;
}

HCHANNEL WINAPI BASS_SamplePlayEx(HSAMPLE handle, DWORD start, int freq, int volume, int pan, BOOL loop) {
  return Lib().SamplePlay(handle, start, freq, volume, pan, loop != FALSE);
}

BOOL WINAPI BASS_ChannelPause(DWORD handle) { return Lib().ChannelPause(handle); }
BOOL WINAPI BASS_ChannelResume(DWORD handle) { return Lib().ChannelResume(handle); }
DWORD WINAPI BASS_ChannelIsActive(DWORD handle) { return DWORD(Lib().ChannelActive(handle)); }

}  // extern "C"
