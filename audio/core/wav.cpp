#include "wav.h"
#include <cstring>
#include "format.h"

namespace zqa {

bool ReadWav(const uint8_t* data, size_t size, WavData& out) {
  if (!data) return false;
  Reader r(data, size);
  RiffHead rh;
  if (!r.read(&rh, sizeof rh)) return false;
  if (std::memcmp(rh.riff, "RIFF", 4) || std::memcmp(rh.wave, "WAVE", 4)) return false;
  bool haveFmt = false;
  WavFormat fmt;
  const uint8_t* pcm = nullptr;
  size_t pcmBytes = 0;
  while (r.left() >= sizeof(RiffChunkHead)) {
    RiffChunkHead chh;
    r.read(&chh, sizeof chh);
    uint32_t csize = le32(chh.size);
    size_t avail = r.left();
    if (!std::memcmp(chh.id, "fmt ", 4)) {
      if (csize < sizeof fmt || csize > avail) return false;
      r.read(&fmt, sizeof fmt);
      uint16_t tag = le16(fmt.formatTag);
      if (tag == 0xFFFE) {
        // Extensible: the sub-format GUID's first two bytes are the real tag.
        if (csize < 40) return false;
        tag = le16(r.base + r.pos + 8);
      }
      if (tag != 1) return false;
      haveFmt = true;
      r.seek(r.pos - sizeof fmt);
    } else if (!std::memcmp(chh.id, "data", 4)) {
      pcm = r.base + r.pos;
      pcmBytes = csize <= avail ? csize : avail;
      break;
    }
    if (csize > avail) return false;
    r.skip(csize);
    if ((csize & 1) && r.left()) r.skip(1);
  }
  if (!haveFmt || !pcm) return false;
  const int channels = le16(fmt.channels);
  const uint32_t rate = le32(fmt.sampleRate);
  const int bits = le16(fmt.bitsPerSample);
  const int align = le16(fmt.blockAlign);
  if (channels < 1 || channels > 2) return false;
  if (bits != 8 && bits != 16) return false;
  if (rate < 1 || rate > uint32_t(kMaxWavRate)) return false;
  if (align != channels * bits / 8) return false;
  size_t frames = pcmBytes / size_t(align);
  if (frames == 0 || frames > kMaxSampleFrames) return false;

  out = WavData();
  out.channels = channels;
  out.rate = int(rate);
  out.bits = bits;
  out.blockAlign = align;
  Sample* dst[2] = {&out.left, &out.right};
  for (int c = 0; c < channels; c++) {
    Sample& s = *dst[c];
    s.length = uint32_t(frames);
    s.data.assign(frames + kSampleGuard, 0);
    int16_t* d = s.data.data();
    const uint8_t* p = pcm + (bits / 8) * c;
    for (size_t i = 0; i < frames; i++, p += align)
      d[i] = bits == 8 ? int16_t((int(p[0]) - 128) * 256) : int16_t(le16(p));
  }
  return true;
}

}  // namespace zqa
