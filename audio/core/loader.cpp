// XM and 4-channel MOD loaders. Every field is range-checked before use and
// every read goes through the bounded Reader.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include "format.h"
#include "song.h"

namespace zqa {

namespace {

// A block of unknown size: the caller vouches for the memory; still cap the
// reader so pointer arithmetic never wraps.
size_t EffectiveSize(const uint8_t* data, size_t size) {
  if (size != 0) return size;
  const size_t cap = size_t(1) << 28;  // 256 MiB, more than any module
  const uintptr_t room = UINTPTR_MAX - uintptr_t(data);
  return room < cap ? size_t(room) : cap;
}

void SetLoop(Sample& s, uint32_t start, uint32_t len, LoopType type) {
  s.loop = kLoopNone;
  s.loopStart = s.loopLength = 0;
  if (type == kLoopNone || len == 0 || start >= s.length) return;
  if (len > s.length - start) len = s.length - start;
  s.loop = type;
  s.loopStart = start;
  s.loopLength = len;
  s.length = start + len;  // data past the loop end is never heard
}

// XM sample data: delta-coded 8- or 16-bit, little-endian. Reads what is
// available when the data is cut short.
void DecodeXmSample(Reader& r, uint32_t bytes, bool bits16, Sample& s, bool lenient) {
  size_t avail = std::min<size_t>(bytes, r.left());
  if (!lenient && avail < bytes) { r.failed = true; return; }
  const uint8_t* p = r.take(avail);
  if (!p) return;
  uint32_t frames = bits16 ? uint32_t(avail / 2) : uint32_t(avail);
  s.data.assign(size_t(frames) + kSampleGuard, 0);
  int16_t* d = s.data.data();
  if (bits16) {
    int16_t acc = 0;
    for (uint32_t i = 0; i < frames; i++) { acc = int16_t(acc + int16_t(le16(p + 2 * i))); d[i] = acc; }
  } else {
    int8_t acc = 0;
    for (uint32_t i = 0; i < frames; i++) { acc = int8_t(acc + int8_t(p[i])); d[i] = int16_t(acc * 256); }
  }
  s.length = std::min(s.length, frames);
}

void ReadEnvelope(Envelope& e, const uint8_t* pts, uint8_t count, uint8_t sus, uint8_t ls, uint8_t le, uint8_t type) {
  e.points = std::min<uint8_t>(count, kMaxEnvelopePoints);
  for (int i = 0; i < e.points; i++) {
    e.p[i].x = le16(pts + 4 * i);
    e.p[i].y = std::min<uint16_t>(le16(pts + 4 * i + 2), 64);
  }
  // Positions must rise; a broken envelope is cut at the first fall.
  for (int i = 1; i < e.points; i++)
    if (e.p[i].x <= e.p[i - 1].x) { e.points = uint8_t(i); break; }
  e.on = (type & 1) && e.points > 0;
  e.sustain = (type & 2) && sus < e.points;
  e.loop = (type & 4) && ls < e.points && le < e.points && ls <= le;
  e.sustainPoint = e.sustain ? sus : 0;
  e.loopStart = e.loop ? ls : 0;
  e.loopEnd = e.loop ? le : 0;
}

void PadPatterns(Song& song) {
  int need = song.patternCount;
  for (int i = 0; i < song.songLength; i++) need = std::max(need, song.orders[i] + 1);
  while (int(song.patterns.size()) < need) {
    Pattern p;
    p.rows = 64;
    p.cells.assign(size_t(64) * song.channels, Cell());
    song.patterns.push_back(std::move(p));
  }
}

}  // namespace

void FinishSample(Sample& s) {
  if (s.length > kMaxSampleFrames) s.length = kMaxSampleFrames;
  if (s.loop != kLoopForward || s.firstPassEnd <= s.length || s.firstPassEnd > kMaxSampleFrames) s.firstPassEnd = 0;
  // After a first pass the guard continues the loop; the loop's own end
  // then reads on into the first pass's data (interpolation only).
  const uint32_t end = s.FirstPassLength();
  s.data.resize(size_t(end) + kSampleGuard);
  int16_t* d = s.data.data();
  for (int i = 0; i < kSampleGuard; i++) {
    int16_t v = 0;
    if (s.loop == kLoopForward && s.loopLength > 0) v = d[s.loopStart + uint32_t(i) % s.loopLength];
    else if (s.loop == kLoopPingPong && s.loopLength > 0) {
      uint32_t back = uint32_t(i) % s.loopLength;
      v = d[s.length - 1 - back];
    }
    d[end + i] = v;
  }
}

namespace {

// A sample's data as its header states it, read after all headers of the
// instrument (or, before format 1.04, after all patterns).
struct XmSampleData { uint32_t bytes = 0; bool bits16 = false; };

LoadError ReadXmPatterns(Reader& r, Song& song, bool byteRows) {
  song.patterns.resize(size_t(song.patternCount));
  for (int pi = 0; pi < song.patternCount; pi++) {
    size_t start = r.pos;
    XmPatternHead ph;
    if (!r.read(&ph, sizeof ph - (byteRows ? 1 : 0))) return kLoadTruncated;
    uint32_t phSize = le32(ph.headerSize);
    if (phSize < sizeof ph - 1 || phSize > 1024) return kLoadBadFormat;
    if (!r.seek(start + phSize)) return kLoadTruncated;
    // Format 1.02 stores rows - 1 in one byte and the packed size after it.
    int rows = byteRows ? ph.rows[0] + 1 : le16(ph.rows);
    uint16_t packed = byteRows ? uint16_t(ph.rows[1] | (ph.packedSize[0] << 8)) : le16(ph.packedSize);
    if (rows < 1 || rows > kMaxRows) return kLoadBadFormat;
    Pattern& pat = song.patterns[size_t(pi)];
    pat.rows = rows;
    pat.cells.assign(size_t(rows) * song.channels, Cell());
    const uint8_t* p = r.take(packed);
    if (!p) return kLoadTruncated;
    size_t k = 0;
    for (size_t ci = 0; ci < pat.cells.size() && k < packed; ci++) {
      Cell& c = pat.cells[ci];
      uint8_t b = p[k++];
      uint8_t fields = (b & 0x80) ? b : 0x1F;
      if (!(b & 0x80)) k--;  // b is the note itself
      uint8_t v[5] = {0, 0, 0, 0, 0};
      for (int f = 0; f < 5; f++)
        if (fields & (1 << f)) {
          if (k >= packed) return kLoadBadFormat;
          v[f] = p[k++];
        }
      c.note = v[0] <= kNoteOff ? v[0] : 0;
      c.instrument = v[1];
      c.volume = v[2];
      c.effect = v[3];
      c.param = v[4];
    }
  }
  PadPatterns(song);
  return kLoadOk;
}

// The instrument header and its sample headers; the sample data stays unread.
LoadError ReadXmInstrumentHead(Reader& r, Instrument& ins, XmSampleData* data) {
  size_t start = r.pos;
  uint8_t head[sizeof(XmInstrumentHead) + sizeof(XmInstrumentBody)] = {};
  uint32_t insSize = le32(r.base + r.pos);
  if (insSize < 4 || insSize > (1u << 20)) return kLoadBadFormat;
  size_t part = std::min<size_t>(insSize, sizeof head);
  if (!r.read(head, part)) return kLoadTruncated;
  XmInstrumentHead ih;
  XmInstrumentBody ib;
  std::memcpy(&ih, head, sizeof ih);
  std::memcpy(&ib, head + sizeof ih, sizeof ib);
  int nsamples = part >= sizeof ih ? le16(ih.samples) : 0;
  if (nsamples > kMaxInstrumentSamples) return kLoadTooLarge;
  if (!r.seek(start + insSize)) return kLoadTruncated;
  if (nsamples == 0) return kLoadOk;
  if (part < sizeof head) return kLoadBadFormat;
  ins.samples = nsamples;
  // A note mapped to a sample the instrument lacks plays that empty sample:
  // silence, as in FT2.
  for (int n = 0; n < 96; n++) ins.sampleMap[n] = ib.sampleMap[n] < kMaxInstrumentSamples ? ib.sampleMap[n] : 0;
  ReadEnvelope(ins.volEnv, ib.volEnv, ib.volPoints, ib.volSustain, ib.volLoopStart, ib.volLoopEnd, ib.volType);
  ReadEnvelope(ins.panEnv, ib.panEnv, ib.panPoints, ib.panSustain, ib.panLoopStart, ib.panLoopEnd, ib.panType);
  ins.vibType = ib.vibType & 3;
  ins.vibSweep = ib.vibSweep;
  ins.vibDepth = ib.vibDepth & 15;
  ins.vibRate = ib.vibRate & 63;
  // FT2 edits the fade-out in 12 bits but plays a larger stored value as
  // it is: the fade-out then ends within a few ticks (see LoadXm for
  // files of older OpenMPT versions).
  ins.fadeout = le16(ib.fadeout);
  uint32_t shSize = le32(ib.sampleHeaderSize);
  if (shSize < sizeof(XmSampleHead)) shSize = sizeof(XmSampleHead);
  if (shSize > 1024) return kLoadBadFormat;
  for (int si = 0; si < nsamples; si++) {
    size_t sstart = r.pos;
    XmSampleHead xs;
    if (!r.read(&xs, sizeof xs)) return kLoadTruncated;
    if (!r.seek(sstart + shSize)) return kLoadTruncated;
    Sample& s = ins.sample[si];
    data[si].bits16 = (xs.type & 0x10) != 0;
    data[si].bytes = le32(xs.length);
    uint32_t div = data[si].bits16 ? 2 : 1;
    if (data[si].bytes / div > kMaxSampleFrames) return kLoadTooLarge;
    s.length = data[si].bytes / div;
    s.volume = std::min<uint8_t>(xs.volume, 64);
    s.finetune = xs.finetune;
    s.panning = xs.panning;
    s.relativeNote = xs.relativeNote;
    uint8_t lt = xs.type & 3;
    s.loop = lt == 0 ? kLoopNone : lt == 1 ? kLoopForward : kLoopPingPong;
    s.loopStart = le32(xs.loopStart) / div;
    s.loopLength = le32(xs.loopLength) / div;
  }
  return kLoadOk;
}

LoadError ReadXmSampleData(Reader& r, Instrument& ins, const XmSampleData* data, bool lenient) {
  for (int si = 0; si < ins.samples; si++) {
    Sample& s = ins.sample[si];
    uint32_t ls = s.loopStart, ll = s.loopLength;
    LoopType lt = s.loop;
    DecodeXmSample(r, data[si].bytes, data[si].bits16, s, lenient);
    if (r.failed) return kLoadTruncated;
    SetLoop(s, ls, ll, lt);
    FinishSample(s);
  }
  return kLoadOk;
}

}  // namespace

// Formats 1.02 and 1.03 store all instrument and sample headers first, then
// the patterns, then all sample data; 1.04 stores the patterns first and
// each instrument's sample data after its headers.
LoadError LoadXm(const uint8_t* data, size_t size, Song& song) {
  const bool lenient = size != 0;
  Reader r(data, EffectiveSize(data, size));
  XmFileHead fh;
  if (!r.read(&fh, sizeof fh)) return kLoadTruncated;
  if (std::memcmp(fh.id, "Extended Module: ", 17) != 0) return kLoadBadFormat;
  const int version = le16(fh.version);
  if (version < 0x0102 || version > 0x0104) return kLoadBadFormat;
  const bool oldLayout = version < 0x0104;
  uint32_t headerSize = le32(fh.headerSize);
  if (headerSize < 20 || headerSize > (1u << 20)) return kLoadBadFormat;
  XmSongHead sh;
  std::memset(&sh, 0, sizeof sh);
  r.pos = 60;
  size_t headPart = std::min<size_t>(headerSize, sizeof sh);
  if (!r.read(&sh, headPart)) return kLoadTruncated;
  if (!r.seek(60 + size_t(headerSize))) return kLoadTruncated;

  song = Song();
  std::memcpy(song.name, fh.name, 20);
  song.songLength = le16(sh.songLength);
  song.restart = le16(sh.restart);
  song.channels = le16(sh.channels);
  song.patternCount = le16(sh.patterns);
  song.instrumentCount = le16(sh.instruments);
  song.linearFreq = le16(sh.flags) & 1;
  song.tempo = le16(sh.tempo);
  song.bpm = le16(sh.bpm);
  if (song.songLength < 1 || song.songLength > kMaxOrders) return kLoadBadFormat;
  if (song.channels < 1 || song.channels > kMaxChannels) return kLoadTooLarge;
  if (song.patternCount > kMaxPatterns) return kLoadTooLarge;
  if (song.instrumentCount > kMaxInstruments) return kLoadTooLarge;
  if (song.tempo < 1 || song.tempo > 31) song.tempo = 6;
  if (song.bpm < 32 || song.bpm > 255) song.bpm = 125;
  std::memcpy(song.orders, sh.orders, kMaxOrders);
  if (song.restart >= song.songLength) song.restart = 0;
  song.volumeRamps = !std::memcmp(fh.tracker, "FastTracker v2.00", 17);
  song.quickRamps = song.volumeRamps && !oldLayout;
  song.squareRootPan = song.volumeRamps || !std::memcmp(fh.tracker, "OpenMPT ", 8);
  // FT2 ignores the low three finetune bits; files saved by older OpenMPT
  // versions are played with all of them (the reference does so).
  int v[4] = {0, 0, 0, 0};
  char name[21] = {};
  std::memcpy(name, fh.tracker, 20);
  if (std::sscanf(name, "OpenMPT %d.%d.%d.%d", &v[0], &v[1], &v[2], &v[3]) == 4)
    song.fullFinetune = song.oldOpenMpt = ((v[0] * 100 + v[1]) * 100 + v[2]) * 100 + v[3] < 1220719;

  LoadError e = kLoadOk;
  if (!oldLayout && (e = ReadXmPatterns(r, song, false)) != kLoadOk) return e;
  song.instruments.resize(size_t(song.instrumentCount));
  XmSampleData pending[kMaxInstruments][kMaxInstrumentSamples];
  XmSampleData one[kMaxInstrumentSamples];
  int loaded = 0;
  for (; loaded < song.instrumentCount; loaded++) {
    Instrument& ins = song.instruments[size_t(loaded)];
    if (!r.can(4)) {
      if (lenient && loaded > 0 && !oldLayout) break;
      return kLoadTruncated;
    }
    XmSampleData* d = oldLayout ? pending[loaded] : one;
    if ((e = ReadXmInstrumentHead(r, ins, d)) != kLoadOk) return e;
    if (!oldLayout && (e = ReadXmSampleData(r, ins, d, lenient)) != kLoadOk) return e;
  }
  if (oldLayout) {
    if ((e = ReadXmPatterns(r, song, version == 0x0102)) != kLoadOk) return e;
    for (int ii = 0; ii < song.instrumentCount; ii++)
      if ((e = ReadXmSampleData(r, song.instruments[size_t(ii)], pending[ii], lenient)) != kLoadOk) return e;
  }
  // Older OpenMPT versions play a fade-out past FT2's 12 bits as none (the
  // reference plays their files so).
  if (song.oldOpenMpt)
    for (Instrument& ins : song.instruments)
      if (ins.fadeout > 0xFFF) ins.fadeout = 0;
  // ModPlug Tracker also signs its XMs "FastTracker v2.00", but pads the
  // song name with zeros where FT2 pads with spaces, and keeps its own
  // blocks after the sample data. The reference plays such files by
  // ModPlug's pattern loop rules, not FT2's.
  bool modPlug = false;
  if (song.volumeRamps) {
    modPlug = std::memchr(fh.name, 0, sizeof fh.name) != nullptr;
    static const char kModPlugBlocks[][5] = {"text", "MIDI", "PNAM", "CNAM", "MPTX", "MPTS"};
    for (const char* id : kModPlugBlocks) modPlug |= lenient && r.can(4) && !std::memcmp(r.base + r.pos, id, 4);
  }
  song.keepLoopBreakRow = !modPlug;
  song.breakLeavesLoop = !modPlug;
  song.oneLoopAtATime = modPlug;
  return kLoadOk;
}

namespace {

// ProTracker periods, C-0 to B-4 at finetune 0 (C-1 = 856).
const uint16_t kModPeriods[60] = {
  1712, 1616, 1524, 1440, 1356, 1280, 1208, 1140, 1076, 1016, 960, 907,
  856, 808, 762, 720, 678, 640, 604, 570, 538, 508, 480, 453,
  428, 404, 381, 360, 339, 320, 302, 285, 269, 254, 240, 226,
  214, 202, 190, 180, 170, 160, 151, 143, 135, 127, 120, 113,
  107, 101, 95, 90, 85, 80, 76, 71, 67, 64, 60, 57};

// Nearest note for a period; PT C-0 (1712) is note 25 (C-2) in the song model,
// so PT C-2 (428) plays at the XM middle C-4.
uint8_t ModPeriodToNote(uint16_t period) {
  if (period == 0) return 0;
  int best = 0;
  int bestDiff = 1 << 30;
  for (int i = 0; i < 60; i++) {
    int d = std::abs(int(kModPeriods[i]) - int(period));
    if (d < bestDiff) { bestDiff = d; best = i; }
  }
  return uint8_t(25 + best);
}

// The tag after the order table: channel count, or 0 when it is no known
// tag. FLT8 stores each pattern as two 4-channel halves; Digital Tracker
// (FA0x) puts four more bytes after the tag.
struct ModTag { int channels = 0; bool flt8 = false; int extra = 0; bool digitalTracker = false, proTracker = false; };

ModTag ModTagInfo(const char* t) {
  ModTag m;
  auto is = [t](const char* s) { return std::memcmp(t, s, 4) == 0; };
  auto digit = [](char c) { return c >= '0' && c <= '9'; };
  if (is("M.K.") || is("M!K!")) { m.channels = 4; m.proTracker = true; }
  else if (is("M&K!") || is("N.T.") || is("FLT4") || is("4CHN")) m.channels = 4;
  else if (is("FLT8")) { m.channels = 8; m.flt8 = true; }
  else if (is("OKTA") || is("OCTA") || is("CD81")) m.channels = 8;
  else if (is("CD61")) m.channels = 6;
  else if (t[0] == 'F' && t[1] == 'A' && t[2] == '0' && t[3] >= '1' && t[3] <= '8') { m.channels = t[3] - '0'; m.extra = 4; m.digitalTracker = true; }
  else if (t[0] == 'T' && t[1] == 'D' && t[2] == 'Z' && t[3] >= '1' && t[3] <= '3') m.channels = t[3] - '0';
  else if (digit(t[0]) && t[1] == 'C' && t[2] == 'H' && t[3] == 'N') m.channels = t[0] - '0';
  else if (digit(t[0]) && digit(t[1]) && t[2] == 'C' && (t[3] == 'H' || t[3] == 'N')) m.channels = (t[0] - '0') * 10 + (t[1] - '0');
  return m;
}

// Soundtracker's 15-sample layout has no tag; it is told from random data
// by its header alone (the size may be unknown): sane song length, orders,
// volumes and sample lengths, no finetune, and some sample data.
bool LooksLikeSoundtracker(const SoundtrackerHead& h) {
  if (h.songLength < 1 || h.songLength > 128) return false;
  for (uint8_t o : h.orders)
    if (o >= 64) return false;
  uint32_t total = 0;
  for (const ModSampleRecord& s : h.samples) {
    if (s.volume > 64 || s.finetune != 0 || be16(s.length) > 32768) return false;
    total += be16(s.length);
  }
  return total > 0;
}

// The part shared by every MOD layout: patterns and sample data after a
// header of sampleCount records.
LoadError LoadModBody(Reader& r, const ModSampleRecord* recs, int sampleCount, const uint8_t* orders, int songLength,
                      const ModTag& tag, bool lenient, Song& song) {
  const int channels = tag.channels;
  song.modFormat = true;
  song.songLoop = tag.digitalTracker;
  song.proTracker = tag.proTracker;
  song.linearFreq = false;
  song.channels = channels;
  song.songLength = songLength;
  song.tempo = 6;
  song.bpm = 125;
  int maxPat = 0;
  for (int i = 0; i < 128; i++) {
    if (orders[i] >= 128) return kLoadBadFormat;
    song.orders[i] = tag.flt8 ? uint8_t(orders[i] >> 1) : orders[i];
    maxPat = std::max(maxPat, int(song.orders[i]));
  }
  song.patternCount = maxPat + 1;
  song.patterns.resize(size_t(song.patternCount));
  // FLT8 halves: channels 0-3 of a pattern, then channels 4-7.
  const int blocks = tag.flt8 ? 2 : 1;
  const int blockChannels = channels / blocks;
  for (int pi = 0; pi < song.patternCount; pi++) {
    Pattern& pat = song.patterns[size_t(pi)];
    pat.rows = 64;
    pat.cells.resize(size_t(64) * channels);
    for (int b = 0; b < blocks; b++) {
      const uint8_t* p = r.take(size_t(64) * 4 * blockChannels);
      if (!p) return kLoadTruncated;
      for (int row = 0; row < 64; row++)
        for (int k = 0; k < blockChannels; k++, p += 4) {
          Cell& c = pat.cells[size_t(row) * channels + size_t(b * blockChannels + k)];
          c.instrument = uint8_t((p[0] & 0xF0) | (p[2] >> 4));
          c.note = ModPeriodToNote(uint16_t(((p[0] & 0x0F) << 8) | p[1]));
          c.effect = p[2] & 0x0F;
          c.param = p[3];
          if (c.instrument > sampleCount) c.instrument = 0;
        }
    }
  }
  song.instrumentCount = sampleCount;
  song.instruments.resize(size_t(sampleCount));
  for (int i = 0; i < sampleCount; i++) {
    const ModSampleRecord& rec = recs[i];
    Instrument& ins = song.instruments[size_t(i)];
    Sample& s = ins.sample[0];
    uint32_t bytes = uint32_t(be16(rec.length)) * 2;
    int ft = rec.finetune & 0x0F;
    s.finetune = int8_t((ft >= 8 ? ft - 16 : ft) * 16);
    s.volume = std::min<uint8_t>(rec.volume, 64);
    s.panning = 128;
    size_t avail = std::min<size_t>(bytes, r.left());
    if (!lenient && avail < bytes) return kLoadTruncated;
    const uint8_t* p = r.take(avail);
    if (!p && avail) return kLoadTruncated;
    s.length = uint32_t(avail);
    s.data.assign(size_t(s.length) + kSampleGuard, 0);
    for (uint32_t k = 0; k < s.length; k++) s.data[k] = int16_t(int8_t(p[k]) * 256);
    // Soundtracker states the loop start in bytes, later trackers in words.
    uint32_t ls = uint32_t(be16(rec.loopStart)) * (sampleCount == 15 ? 1 : 2);
    uint32_t ll = uint32_t(be16(rec.loopLength)) * 2;
    SetLoop(s, ls, ll > 2 ? ll : 0, kLoopForward);
    if (tag.proTracker && s.loop && s.loopStart == 0) s.firstPassEnd = uint32_t(avail);
    if (sampleCount == 15 && s.loop && s.loopStart > 0) {
      // Soundtracker plays a looped sample from its loop start: what lies
      // before it is never heard.
      s.data.erase(s.data.begin(), s.data.begin() + long(s.loopStart));
      s.length -= s.loopStart;
      s.loopStart = 0;
    }
    FinishSample(s);
    ins.samples = s.length ? 1 : 0;
  }
  PadPatterns(song);
  return kLoadOk;
}

// Ultimate Soundtracker knew two effects: 1xy arpeggio and 2xy pitch bend
// (x up, y down). A 15-sample module using only those is taken as one and
// its effects turned into the later numbering.
void ConvertUltimateSoundtracker(Song& song) {
  bool used = false;
  for (const Pattern& p : song.patterns)
    for (const Cell& c : p.cells) {
      if (c.effect > 2 || (c.effect == 0 && c.param)) return;
      used |= c.effect != 0;
    }
  if (!used) return;
  for (Pattern& p : song.patterns)
    for (Cell& c : p.cells) {
      if (c.effect == 1) c.effect = 0;
      else if (c.effect == 2 && (c.param >> 4)) { c.effect = 1; c.param = uint8_t(c.param >> 4); }
      else if (c.effect == 2) { c.effect = 2; c.param = uint8_t(c.param & 15); }
    }
}

}  // namespace

LoadError LoadMod(const uint8_t* data, size_t size, Song& song) {
  const bool lenient = size != 0;
  Reader r(data, EffectiveSize(data, size));
  ModHead mh;
  if (r.read(&mh, sizeof mh)) {
    ModTag tag = ModTagInfo(mh.tag);
    if (tag.proTracker && size != 0 && mh.restart == 0) {
      // Mod's Grave saves 8 channels under ProTracker's tag: its files are
      // exactly the header, 8-channel patterns and the sample data, with no
      // restart position.
      size_t patterns = 0, samples = 0;
      for (uint8_t o : mh.orders) patterns = std::max<size_t>(patterns, size_t(o) + 1);
      for (const ModSampleRecord& rec : mh.samples) samples += size_t(be16(rec.length)) * 2;
      if (size == sizeof mh + patterns * 64 * 4 * 8 + samples) {
        tag.channels = 8;
        tag.proTracker = false;
      }
    }
    if (tag.channels >= 1 && tag.channels <= kMaxChannels) {
      if (mh.songLength < 1 || mh.songLength > 128) return kLoadBadFormat;
      if (!r.skip(size_t(tag.extra))) return kLoadTruncated;
      song = Song();
      std::memcpy(song.name, mh.title, 20);
      LoadError e = LoadModBody(r, mh.samples, 31, mh.orders, mh.songLength, tag, lenient, song);
      if (e == kLoadOk) DetectVBlankTiming(song);
      return e;
    }
  }
  r = Reader(data, EffectiveSize(data, size));
  SoundtrackerHead sh;
  if (!r.read(&sh, sizeof sh)) return kLoadTruncated;
  if (!LooksLikeSoundtracker(sh)) return kLoadBadFormat;
  song = Song();
  std::memcpy(song.name, sh.title, 20);
  ModTag four;
  four.channels = 4;
  LoadError e = LoadModBody(r, sh.samples, 15, sh.orders, sh.songLength, four, lenient, song);
  if (e == kLoadOk) ConvertUltimateSoundtracker(song);
  if (e == kLoadOk) DetectVBlankTiming(song);
  return e;
}

LoadError LoadSong(const uint8_t* data, size_t size, Song& out) {
  if (!data) return kLoadBadFormat;
  if (size != 0 && size < 17) return kLoadTruncated;
  if (std::memcmp(data, "Extended Module: ", 17) == 0) return LoadXm(data, size, out);
  return LoadMod(data, size, out);
}

}  // namespace zqa
