#include "xm.h"
#include "format.h"

#include <cstring>

using namespace zqa;

static void CG_Le16(uint8_t* p, uint32_t v)
{
    p[0] = (uint8_t)v;
    p[1] = (uint8_t)(v >> 8);
}
static void CG_Le32(uint8_t* p, uint32_t v)
{
    CG_Le16(p, v & 0xFFFF);
    CG_Le16(p + 2, v >> 16);
}
template <class T> static void CG_Append(CgBytes& out, const T& record)
{
    const uint8_t* p = (const uint8_t*)&record;
    out.insert(out.end(), p, p + sizeof(T));
}
static void CG_Name(char* field, size_t width, const std::string& name)
{
    memset(field, ' ', width);
    memcpy(field, name.data(), std::min(width, name.size()));
}

static void CG_Envelope(const CgXmEnvelope& e, uint8_t* points, uint8_t* count, uint8_t* sustain, uint8_t* loopStart,
                        uint8_t* loopEnd, uint8_t* type)
{
    *count = (uint8_t)e.Points.size();
    for (size_t i = 0; i < e.Points.size(); i++) {
        CG_Le16(points + i * 4, e.Points[i].first);
        CG_Le16(points + i * 4 + 2, e.Points[i].second);
    }
    *type = e.Points.empty() ? 0 : 1;
    if (e.Sustain >= 0) {
        *sustain = (uint8_t)e.Sustain;
        *type |= 2;
    }
    if (e.LoopStart >= 0) {
        *loopStart = (uint8_t)e.LoopStart;
        *loopEnd = (uint8_t)e.LoopEnd;
        *type |= 4;
    }
}

CgBytes CgWriteXm(const CgXmSong& song, std::string* error)
{
    if (song.Channels < 1 || song.Channels > CG_XM_MAX_CHANNELS || song.Orders.empty() || song.Orders.size() > 256 ||
        song.Patterns.empty() || song.Patterns.size() > 256 || song.Instruments.size() > 128) {
        *error = "module outside the format's limits (channels, orders, patterns or instruments)";
        return CgBytes();
    }
    CgBytes out;
    XmFileHead fh;
    memcpy(fh.id, "Extended Module: ", 17);
    CG_Name(fh.name, sizeof(fh.name), song.Name);
    fh.x1a = 0x1A;
    CG_Name(fh.tracker, sizeof(fh.tracker), "zqcontent");
    CG_Le16(fh.version, 0x0104);
    CG_Le32(fh.headerSize, sizeof(XmSongHead));
    out.insert(out.end(), (const uint8_t*)&fh, (const uint8_t*)&fh + offsetof(XmFileHead, headerSize));
    XmSongHead sh;
    memset(&sh, 0, sizeof(sh));
    CG_Le32(sh.headerSize, sizeof(XmSongHead));
    CG_Le16(sh.songLength, (uint32_t)song.Orders.size());
    CG_Le16(sh.restart, (uint32_t)song.Restart);
    CG_Le16(sh.channels, (uint32_t)song.Channels);
    CG_Le16(sh.patterns, (uint32_t)song.Patterns.size());
    CG_Le16(sh.instruments, (uint32_t)song.Instruments.size());
    CG_Le16(sh.flags, 1);   // linear frequencies
    CG_Le16(sh.tempo, (uint32_t)song.Tempo);
    CG_Le16(sh.bpm, (uint32_t)song.Bpm);
    memcpy(sh.orders, song.Orders.data(), song.Orders.size());
    CG_Append(out, sh);

    for (const CgXmPattern& p : song.Patterns) {
        if (p.Rows < 1 || p.Rows > CG_XM_MAX_ROWS || p.Channels != song.Channels) {
            *error = "pattern with a bad row or channel count";
            return CgBytes();
        }
        // Packed cells: a mask byte with bit 7 set, then the fields present.
        CgBytes packed;
        for (const CgXmCell& c : p.Cells) {
            const uint8_t fields[5] = {c.Note, c.Instrument, c.Volume, c.Effect, c.Param};
            uint8_t mask = 0x80;
            for (int f = 0; f < 5; f++)
                if (fields[f])
                    mask |= (uint8_t)(1 << f);
            packed.push_back(mask);
            for (int f = 0; f < 5; f++)
                if (fields[f])
                    packed.push_back(fields[f]);
        }
        XmPatternHead ph;
        CG_Le32(ph.headerSize, sizeof(XmPatternHead));
        ph.packing = 0;
        CG_Le16(ph.rows, (uint32_t)p.Rows);
        CG_Le16(ph.packedSize, (uint32_t)packed.size());
        if (packed.size() > 0xFFFF) {
            *error = "pattern too large to pack";
            return CgBytes();
        }
        CG_Append(out, ph);
        out.insert(out.end(), packed.begin(), packed.end());
    }

    for (const CgXmInstrument& ins : song.Instruments) {
        if (ins.VolumeEnvelope.Points.size() > CG_XM_ENVELOPE_POINTS ||
            ins.PanEnvelope.Points.size() > CG_XM_ENVELOPE_POINTS || ins.Data.empty() ||
            ins.LoopStart + ins.LoopLength > ins.Data.size()) {
            *error = "instrument " + ins.Name + " outside the format's limits";
            return CgBytes();
        }
        XmInstrumentHead ih;
        XmInstrumentBody ib;
        memset(&ih, 0, sizeof(ih));
        memset(&ib, 0, sizeof(ib));
        CG_Le32(ih.size, sizeof(ih) + sizeof(ib));
        CG_Name(ih.name, sizeof(ih.name), ins.Name);
        CG_Le16(ih.samples, 1);
        CG_Le32(ib.sampleHeaderSize, sizeof(XmSampleHead));
        CG_Envelope(ins.VolumeEnvelope, ib.volEnv, &ib.volPoints, &ib.volSustain, &ib.volLoopStart, &ib.volLoopEnd,
                    &ib.volType);
        CG_Envelope(ins.PanEnvelope, ib.panEnv, &ib.panPoints, &ib.panSustain, &ib.panLoopStart, &ib.panLoopEnd,
                    &ib.panType);
        CG_Le16(ib.fadeout, ins.Fadeout);
        CG_Append(out, ih);
        CG_Append(out, ib);
        XmSampleHead xs;
        memset(&xs, 0, sizeof(xs));
        CG_Le32(xs.length, (uint32_t)ins.Data.size() * 2);
        CG_Le32(xs.loopStart, ins.LoopStart * 2);
        CG_Le32(xs.loopLength, ins.LoopLength * 2);
        xs.volume = ins.Volume;
        xs.finetune = ins.Finetune;
        xs.type = (uint8_t)(0x10 | (ins.LoopLength ? 1 : 0));   // 16-bit, forward loop
        xs.panning = ins.Panning;
        xs.relativeNote = ins.RelativeNote;
        CG_Name(xs.name, sizeof(xs.name), ins.Name);
        CG_Append(out, xs);
        // Sample data is stored as deltas.
        int16_t previous = 0;
        for (int16_t v : ins.Data) {
            uint16_t d = (uint16_t)(v - previous);
            out.push_back((uint8_t)d);
            out.push_back((uint8_t)(d >> 8));
            previous = v;
        }
    }
    return out;
}
