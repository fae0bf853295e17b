#include "library.h"
#include <algorithm>
#include <cstring>

namespace zqa {

Library::Library()
    : musics(new MusicSlot[kMaxMusics]), samples(new SampleSlot[kMaxLoadedSamples]) {
  std::memset(mixBuffer, 0, sizeof mixBuffer);
}

uint32_t Library::NewHandle(uint32_t kind, int index) {
  generation = (generation + 1) & 0xFFFFF;
  if (generation == 0) generation = 1;
  return kind | (generation << 8) | uint32_t(index);
}

int Library::FindMusic(uint32_t h) const {
  if ((h & 0xF0000000u) != kHandleMusic) return -1;
  int i = int(h & 0xFF);
  return i < kMaxMusics && musics[i].used && musics[i].handle == h ? i : -1;
}

int Library::FindSample(uint32_t h) const {
  if ((h & 0xF0000000u) != kHandleSample) return -1;
  int i = int(h & 0xFF);
  return i < kMaxLoadedSamples && samples[i].used && samples[i].handle == h ? i : -1;
}

int Library::FindPlayback(uint32_t h) const {
  if ((h & 0xF0000000u) != kHandleChannel) return -1;
  int i = int(h & 0xFF);
  return i < kMaxPlaybacks && playbacks[i].used && playbacks[i].handle == h ? i : -1;
}

bool Library::Init(int mixRate) {
  std::lock_guard<std::mutex> g(lock);
  if (initialised) { lastError = kErrAlready; return false; }
  if (mixRate < 8000 || mixRate > 192000) mixRate = kOutputRate;
  rate = mixRate;
  initialised = true;
  started = false;
  lastError = kErrOk;
  return true;
}

void Library::Free() {
  std::lock_guard<std::mutex> g(lock);
  for (int i = 0; i < kMaxMusics; i++) musics[i] = MusicSlot();
  for (int i = 0; i < kMaxLoadedSamples; i++) samples[i] = SampleSlot();
  for (auto& p : playbacks) p = PlaybackSlot();
  initialised = started = false;
}

uint32_t Library::MusicLoad(const void* data, uint32_t length, bool loop) {
  std::lock_guard<std::mutex> g(lock);
  if (!initialised) { lastError = kErrInit; return 0; }
  if (!data) { lastError = kErrIllParam; return 0; }
  int slot = -1;
  for (int i = 0; i < kMaxMusics; i++) if (!musics[i].used) { slot = i; break; }
  if (slot < 0) { lastError = kErrMem; count.loadsRefused++; return 0; }
  MusicSlot& m = musics[slot];
  if (LoadSong(static_cast<const uint8_t*>(data), length, m.song) != kLoadOk) {
    m = MusicSlot();
    lastError = kErrFileForm;
    count.loadsRefused++;
    return 0;
  }
  m.used = true;
  m.loop = loop;
  m.playing = m.paused = false;
  m.handle = NewHandle(kHandleMusic, slot);
  m.player.rate = rate;
  m.player.mix = mix;
  lastError = kErrOk;
  return m.handle;
}

uint32_t Library::SampleLoad(const void* data, uint32_t length, int maxPlaybacks) {
  std::lock_guard<std::mutex> g(lock);
  if (!initialised) { lastError = kErrInit; return 0; }
  if (!data || length == 0) { lastError = kErrIllParam; return 0; }
  if (maxPlaybacks < 1 || maxPlaybacks > kMaxPlaybacks) { lastError = kErrIllParam; return 0; }
  int slot = -1;
  for (int i = 0; i < kMaxLoadedSamples; i++) if (!samples[i].used) { slot = i; break; }
  if (slot < 0) { lastError = kErrMem; count.loadsRefused++; return 0; }
  SampleSlot& s = samples[slot];
  if (!ReadWav(static_cast<const uint8_t*>(data), length, s.wav)) {
    s = SampleSlot();
    lastError = kErrFileForm;
    count.loadsRefused++;
    return 0;
  }
  // Guard frames continue from the start, so a looping playback interpolates
  // across its wrap.
  for (Sample* x : {&s.wav.left, &s.wav.right}) {
    if (!x->length) continue;
    x->loop = kLoopForward; x->loopStart = 0; x->loopLength = x->length;
    FinishSample(*x);
    x->loop = kLoopNone; x->loopLength = 0;
  }
  s.used = true;
  s.maxPlaybacks = maxPlaybacks;
  s.handle = NewHandle(kHandleSample, slot);
  lastError = kErrOk;
  return s.handle;
}

bool Library::MusicPlay(uint32_t music) {
  std::lock_guard<std::mutex> g(lock);
  int i = FindMusic(music);
  if (i < 0) { lastError = kErrHandle; return false; }
  MusicSlot& m = musics[i];
  m.player.rate = rate;
  m.player.mix = mix;
  m.player.Start(&m.song, m.loop);
  m.playing = true;
  m.paused = false;
  lastError = kErrOk;
  return true;
}

uint32_t Library::SamplePlay(uint32_t sample, uint32_t start, int freq, int volume, int pan, bool loop) {
  std::lock_guard<std::mutex> g(lock);
  int si = FindSample(sample);
  if (si < 0) { lastError = kErrHandle; return 0; }
  SampleSlot& s = samples[si];
  if (freq != -1 && (freq < 100 || freq > 200000)) { lastError = kErrIllParam; return 0; }
  if (volume != -1 && (volume < 0 || volume > 100)) { lastError = kErrIllParam; return 0; }
  if (pan != -101 && (pan < -100 || pan > 100)) { lastError = kErrIllParam; return 0; }
  uint32_t startFrame = start / uint32_t(s.wav.blockAlign);
  if (startFrame >= s.wav.left.length) { lastError = kErrIllParam; return 0; }
  int busy = 0, freeSlot = -1;
  for (int i = 0; i < kMaxPlaybacks; i++) {
    if (playbacks[i].used) { if (playbacks[i].sample == si) busy++; }
    else if (freeSlot < 0) freeSlot = i;
  }
  if (busy >= s.maxPlaybacks || freeSlot < 0) {
    lastError = kErrNoChannel;
    count.playbacksRefused++;
    return 0;
  }
  PlaybackSlot& p = playbacks[freeSlot];
  p = PlaybackSlot();
  p.used = true;
  p.sample = si;
  p.handle = NewHandle(kHandleChannel, freeSlot);
  const float v = float(volume == -1 ? 100 : volume) / 100.0f;
  const int pn = pan == -101 ? 0 : pan;
  const float lg = pn <= 0 ? 1.0f : float(100 - pn) / 100.0f;
  const float rg = pn >= 0 ? 1.0f : float(100 + pn) / 100.0f;
  const double hz = freq == -1 ? double(s.wav.rate) : double(freq);
  const bool stereo = s.wav.channels == 2;
  for (int c = 0; c < (stereo ? 2 : 1); c++) {
    Voice& vo = p.voice[c];
    vo.Start(c == 0 ? s.wav.left : s.wav.right, startFrame);
    if (loop) { vo.loop = kLoopForward; vo.loopStart = 0; vo.loopEnd = vo.length; }
    vo.SetFrequency(hz, rate);
    if (!stereo) vo.SetGains(v * lg, v * rg, false);
    else if (c == 0) vo.SetGains(v * lg, 0, false);
    else vo.SetGains(0, v * rg, false);
  }
  count.playbacksStarted++;
  lastError = kErrOk;
  return p.handle;
}

bool Library::ChannelPause(uint32_t channel) {
  std::lock_guard<std::mutex> g(lock);
  int i = FindPlayback(channel);
  if (i >= 0) { playbacks[i].paused = true; lastError = kErrOk; return true; }
  int m = FindMusic(channel);
  if (m >= 0 && musics[m].playing) { musics[m].paused = true; lastError = kErrOk; return true; }
  lastError = kErrHandle;
  return false;
}

bool Library::ChannelResume(uint32_t channel) {
  std::lock_guard<std::mutex> g(lock);
  int i = FindPlayback(channel);
  if (i >= 0) { playbacks[i].paused = false; lastError = kErrOk; return true; }
  int m = FindMusic(channel);
  if (m >= 0 && musics[m].playing) { musics[m].paused = false; lastError = kErrOk; return true; }
  lastError = kErrHandle;
  return false;
}

int Library::ChannelActive(uint32_t channel) {
  std::lock_guard<std::mutex> g(lock);
  lastError = kErrOk;
  int i = FindPlayback(channel);
  if (i >= 0) return playbacks[i].paused ? kActivePaused : kActivePlaying;
  int m = FindMusic(channel);
  if (m >= 0 && musics[m].playing) return musics[m].paused ? kActivePaused : kActivePlaying;
  return kActiveStopped;
}

bool Library::Start() {
  std::lock_guard<std::mutex> g(lock);
  if (!initialised) { lastError = kErrInit; return false; }
  started = true;
  lastError = kErrOk;
  return true;
}

bool Library::Stop() {
  std::lock_guard<std::mutex> g(lock);
  if (!initialised) { lastError = kErrInit; return false; }
  started = false;
  // Everything that sounded has ended; loaded musics and samples stay.
  for (auto& p : playbacks) p = PlaybackSlot();
  for (int i = 0; i < kMaxMusics; i++) { musics[i].playing = false; musics[i].paused = false; }
  lastError = kErrOk;
  return true;
}

bool Library::SetVolume(int volume) {
  std::lock_guard<std::mutex> g(lock);
  if (!initialised) { lastError = kErrInit; return false; }
  if (volume < 0 || volume > 100) { lastError = kErrIllParam; return false; }
  masterVolume = volume;
  lastError = kErrOk;
  return true;
}

int Library::Playing(uint32_t sample) {
  std::lock_guard<std::mutex> g(lock);
  int si = FindSample(sample);
  int n = 0;
  for (auto& p : playbacks) if (p.used && p.sample == si) n++;
  return n;
}

void Library::Render(int16_t* out, int frames) {
  std::lock_guard<std::mutex> g(lock);
  while (frames > 0) {
    int n = std::min(frames, kMaxRenderBlock);
    RenderBlock(out, n);
    out += 2 * n;
    frames -= n;
  }
}

void Library::RenderBlock(int16_t* out, int frames) {
  if (!initialised || !started) {
    std::memset(out, 0, sizeof(int16_t) * 2 * size_t(frames));
    return;
  }
  float* buf = mixBuffer;
  std::memset(buf, 0, sizeof(float) * 2 * size_t(frames));
  for (int i = 0; i < kMaxMusics; i++) {
    MusicSlot& m = musics[i];
    if (m.used && m.playing && !m.paused) {
      m.player.Render(buf, frames);
      // An ended song plays on until its last notes have ramped out.
      if (m.player.ended && !m.player.Sounding()) m.playing = false;
    }
  }
  for (auto& p : playbacks) {
    if (!p.used || p.paused) continue;
    p.voice[0].Mix(buf, frames, mix);
    p.voice[1].Mix(buf, frames, mix);
    if (!p.voice[0].active && !p.voice[1].active) p = PlaybackSlot();
  }
  count.clipped += ToPcm16(buf, out, 2 * frames, float(masterVolume) / 100.0f);
  count.framesRendered += uint64_t(frames);
}

}  // namespace zqa
