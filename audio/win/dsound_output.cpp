#include "dsound_output.h"
#include <dsound.h>
#include <mmsystem.h>
#include <cstring>

namespace zqa {

namespace {

struct Enumerated {
  int wanted;
  int index;
  bool found;
  bool isNull;
  GUID guid;
};

BOOL CALLBACK EnumCb(LPGUID guid, LPCSTR, LPCSTR, LPVOID ctx) {
  Enumerated* e = static_cast<Enumerated*>(ctx);
  if (e->index++ == e->wanted) {
    e->found = true;
    e->isNull = guid == nullptr;
    if (guid) e->guid = *guid;
    return FALSE;
  }
  return TRUE;
}

DWORD WINAPI ThreadMain(LPVOID p) { return static_cast<DsOutput*>(p)->Run(); }

}  // namespace

bool DsOutput::Open(int device, int mixRate, HWND win, RenderFn fn, void* context) {
  render = fn;
  ctx = context;
  rate = mixRate;
  writePos = 0;
  if (device != 0) {
    Enumerated e{device - 1, 0, false, true, GUID()};
    DirectSoundEnumerateA(EnumCb, &e);
    if (!e.found) return false;
    if (FAILED(DirectSoundCreate8(e.isNull ? nullptr : &e.guid, &ds, nullptr))) { ds = nullptr; return false; }
    if (!win) win = GetDesktopWindow();
    if (FAILED(ds->SetCooperativeLevel(win, DSSCL_PRIORITY))) { Close(); return false; }
    WAVEFORMATEX wf = {};
    wf.wFormatTag = WAVE_FORMAT_PCM;
    wf.nChannels = 2;
    wf.nSamplesPerSec = DWORD(rate);
    wf.wBitsPerSample = 16;
    wf.nBlockAlign = 4;
    wf.nAvgBytesPerSec = DWORD(rate) * 4;
    DSBUFFERDESC bd = {};
    bd.dwSize = sizeof bd;
    bd.dwFlags = DSBCAPS_GLOBALFOCUS | DSBCAPS_GETCURRENTPOSITION2;
    bd.dwBufferBytes = kSegmentFrames * kSegments * 4;
    bd.lpwfxFormat = &wf;
    if (FAILED(ds->CreateSoundBuffer(&bd, &buffer, nullptr))) { buffer = nullptr; Close(); return false; }
    // Start from silence over the whole buffer.
    void* a; DWORD an; void* b; DWORD bn;
    if (SUCCEEDED(buffer->Lock(0, 0, &a, &an, &b, &bn, DSBLOCK_ENTIREBUFFER))) {
      std::memset(a, 0, an);
      buffer->Unlock(a, an, b, bn);
    }
    if (FAILED(buffer->Play(0, 0, DSBPLAY_LOOPING))) { Close(); return false; }
  }
  quit = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  thread = CreateThread(nullptr, 0, ThreadMain, this, 0, nullptr);
  if (!thread) { Close(); return false; }
  SetThreadPriority(thread, THREAD_PRIORITY_TIME_CRITICAL);
  return true;
}

void DsOutput::Close() {
  if (thread) {
    SetEvent(quit);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    thread = nullptr;
  }
  if (quit) { CloseHandle(quit); quit = nullptr; }
  if (buffer) { buffer->Stop(); buffer->Release(); buffer = nullptr; }
  if (ds) { ds->Release(); ds = nullptr; }
}

void DsOutput::FillSegment(int16_t* tmp) {
  render(ctx, tmp, kSegmentFrames);
  segmentsWritten++;
  if (!buffer) return;
  const DWORD bytes = kSegmentFrames * 4;
  void* a; DWORD an; void* b; DWORD bn;
  HRESULT hr = buffer->Lock(writePos, bytes, &a, &an, &b, &bn, 0);
  if (hr == DSERR_BUFFERLOST) { buffer->Restore(); hr = buffer->Lock(writePos, bytes, &a, &an, &b, &bn, 0); }
  if (SUCCEEDED(hr)) {
    std::memcpy(a, tmp, an);
    if (b) std::memcpy(b, reinterpret_cast<uint8_t*>(tmp) + an, bn);
    buffer->Unlock(a, an, b, bn);
  }
  writePos = (writePos + bytes) % (kSegmentFrames * kSegments * 4);
}

DWORD DsOutput::Run() {
  static int16_t tmp[2 * kSegmentFrames];
  const DWORD total = kSegmentFrames * kSegments * 4;
  const DWORD seg = kSegmentFrames * 4;
  if (!buffer) {
    // No device: keep song time running at the real rate.
    LARGE_INTEGER freq, t0, now;
    QueryPerformanceFrequency(&freq);
    QueryPerformanceCounter(&t0);
    uint64_t done = 0;
    while (WaitForSingleObject(quit, 5) == WAIT_TIMEOUT) {
      QueryPerformanceCounter(&now);
      uint64_t due = uint64_t(now.QuadPart - t0.QuadPart) * uint64_t(rate) / uint64_t(freq.QuadPart);
      while (done + kSegmentFrames <= due) { FillSegment(tmp); done += kSegmentFrames; }
    }
    return 0;
  }
  // The segment under the play cursor is never written; the rest is kept full.
  while (WaitForSingleObject(quit, 4) == WAIT_TIMEOUT) {
    DWORD play = 0, write = 0;
    if (FAILED(buffer->GetCurrentPosition(&play, &write))) continue;
    DWORD playSeg = (play / seg) * seg;
    while (writePos != playSeg) {
      FillSegment(tmp);
      (void)total;
    }
  }
  return 0;
}

}  // namespace zqa
