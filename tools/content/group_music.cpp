// The music, "data\bf04c.xm": an original tune in A minor at 126 BPM with
// synthesized instruments, twelve channels, about three minutes before it
// loops back to the first verse. It keeps to what every XM player plays
// alike: notes, key-offs, volume envelopes with sustain, fade-outs,
// sample loops, the volume column's volumes and the panning effect.
#include "content.h"
#include "synth.h"
#include "xm.h"

#include <algorithm>
#include <cmath>

std::vector<std::string> CgMusicNames()
{
    return {"data\\bf04c.xm"};
}

// Samples are made at 8363 Hz x 2^(M/12), so that a whole relative note puts
// the sample's own pitch on its XM note (no finetune needed).
static float CG_SampleRate(int m) { return 8363.0f * std::exp2(m / 12.0f); }

enum CG_Ins { I_KICK = 1, I_SNARE, I_HAT, I_OPENHAT, I_CRASH, I_BASS, I_PAD, I_ARP, I_LEAD, I_BELL };
enum CG_Chan { C_KICK, C_SNARE, C_HAT, C_PERC, C_BASS, C_PAD1, C_PAD2, C_PAD3, C_ARP, C_LEAD, C_ECHO, C_BELL,
               C_COUNT };

// XM note of a MIDI note (XM C-4, 49, is MIDI 60).
static uint8_t CG_Xm(int midi) { return (uint8_t)(midi - 11); }

static std::vector<int16_t> CG_Pcm(const CgWave& w)
{
    std::vector<int16_t> out(w.size());
    for (size_t i = 0; i < w.size(); i++)
        out[i] = (int16_t)std::lround(std::clamp(w[i], -1.0f, 1.0f) * 32767.0f);
    return out;
}

// An instrument whose sample sounds MIDI note `baseMidi` at rate m.
static CgXmInstrument CG_Instrument(const char* name, const CgWave& w, int m, int baseMidi, uint8_t volume,
                                    uint8_t pan)
{
    CgXmInstrument ins;
    ins.Name = name;
    ins.Data = CG_Pcm(w);
    ins.RelativeNote = (int8_t)(m + 49 - CG_Xm(baseMidi));
    ins.Volume = volume;
    ins.Panning = pan;
    return ins;
}

static void CG_Loop(CgXmInstrument& ins, CgWave& w, float rate, float from, float fade)
{
    int start = (int)(from * rate), end = (int)w.size();
    CgLoopCrossfade(w, start, end, (int)(fade * rate));
    ins.Data = CG_Pcm(w);
    ins.LoopStart = (uint32_t)start;
    ins.LoopLength = (uint32_t)(end - start);
}

static CgXmEnvelope CG_Envelope(std::vector<std::pair<uint16_t, uint16_t>> points, int sustain)
{
    CgXmEnvelope e;
    e.Points = std::move(points);
    e.Sustain = sustain;
    return e;
}

static std::vector<CgXmInstrument> CG_Instruments()
{
    std::vector<CgXmInstrument> out;
    const int m = 28;   // about 42 kHz
    const float r = CG_SampleRate(m);
    CgRng rng(2004);

    {   // Kick: a falling sine with a click.
        CgWave w((size_t)(0.42f * r));
        CgOsc o;
        for (size_t i = 0; i < w.size(); i++) {
            float t = i / r;
            float hz = 46.0f + 120.0f * std::exp(-t / 0.035f);
            w[i] = CgSoftClip(1.6f * o.Sine(hz / r) * CgDecay(t, 0.16f)) + 0.3f * rng.Signed() * CgDecay(t, 0.002f);
        }
        CgFadeEnds(w, 0, 600);
        CgNormalise(w, 0.95f);
        out.push_back(CG_Instrument("kick", w, m, 60, 64, 128));
    }
    {   // Snare and clap: a tone, a noise body and three quick claps.
        CgWave w((size_t)(0.34f * r));
        CgOsc o;
        CgFilter bp, hp;
        for (size_t i = 0; i < w.size(); i++) {
            float t = i / r;
            float clap = 0;
            for (int k = 0; k < 3; k++)
                if (t >= k * 0.011f)
                    clap += CgDecay(t - k * 0.011f, k == 2 ? 0.07f : 0.006f);
            float n = rng.Signed();
            w[i] = 0.5f * o.Sine((185.0f + 40.0f * CgDecay(t, 0.02f)) / r) * CgDecay(t, 0.05f) +
                   bp.Bandpass(n, 1400.0f, 0.9f, (int)r) * 1.2f * clap + hp.Highpass(n, 5000.0f, 0.7f, (int)r) * 0.45f *
                   CgDecay(t, 0.12f);
        }
        CgFadeEnds(w, 0, 800);
        CgNormalise(w, 0.9f);
        out.push_back(CG_Instrument("snare", w, m, 60, 64, 128));
    }
    // Hats: six detuned square waves (metal) and noise, high-passed.
    auto hat = [&](float seconds, float tau) {
        CgWave w((size_t)(seconds * r));
        CgOsc o[6];
        const float hz[6] = {2960, 3395, 4172, 5220, 6120, 7535};
        CgFilter hp, hp2;
        for (size_t i = 0; i < w.size(); i++) {
            float t = i / r, metal = 0;
            for (int k = 0; k < 6; k++)
                metal += o[k].Square(hz[k] / r);
            float v = hp2.Highpass(hp.Highpass(metal * 0.3f + rng.Signed(), 7000.0f, 0.8f, (int)r), 7000.0f, 0.8f, (int)r);
            w[i] = v * CgDecay(t, tau);
        }
        CgFadeEnds(w, 0, 200);
        CgNormalise(w, 0.8f);
        return w;
    };
    out.push_back(CG_Instrument("hihat", hat(0.09f, 0.018f), m, 60, 30, 150));
    out.push_back(CG_Instrument("open hihat", hat(0.4f, 0.11f), m, 60, 26, 160));
    {
        CgWave w = hat(1.8f, 0.55f);
        CgFilter lp;
        for (float& v : w)
            v = v * 0.7f + lp.Lowpass(v, 4000.0f, 0.7f, (int)r) * 0.6f;
        CgFadeEnds(w, 0, 4000);
        CgNormalise(w, 0.8f);
        out.push_back(CG_Instrument("crash", w, m, 60, 34, 110));
    }
    {   // Bass: saw and a sub square through a resonant low-pass that closes
        // on the attack; the settled tone loops.
        const int mb = 24;
        const float rb = CG_SampleRate(mb);
        CgWave w((size_t)(1.0f * rb));
        CgOsc a, b, c;
        CgFilter lp;
        float hz = CgNoteHz(36);
        for (size_t i = 0; i < w.size(); i++) {
            float t = i / rb;
            float v = a.Saw(hz / rb) * 0.6f + b.Saw(hz * 1.006f / rb) * 0.4f + c.Square(hz * 0.5f / rb) * 0.5f;
            w[i] = CgSoftClip(1.4f * lp.Lowpass(v, 420.0f + 2600.0f * CgDecay(t, 0.06f), 2.2f, (int)rb));
        }
        CgNormalise(w, 0.9f);
        CgXmInstrument ins = CG_Instrument("bass", w, mb, 36, 38, 128);
        CG_Loop(ins, w, rb, 0.5f, 0.1f);
        ins.VolumeEnvelope = CG_Envelope({{0, 64}, {3, 58}, {9, 0}}, 1);
        out.push_back(ins);
    }
    {   // Pad: seven detuned saws, soft low-pass, a long cross-faded loop.
        const int mp = 24;
        const float rp = CG_SampleRate(mp);
        CgWave w((size_t)(2.4f * rp));
        CgOsc o[7];
        const float detune[7] = {-0.011f, -0.007f, -0.003f, 0.0f, 0.004f, 0.008f, 0.012f};
        CgFilter lp, lp2;
        float hz = CgNoteHz(60);
        for (int k = 0; k < 7; k++)
            o[k].Phase = rng.Unit();
        for (size_t i = 0; i < w.size(); i++) {
            float v = 0;
            for (int k = 0; k < 7; k++)
                v += o[k].Saw(hz * (1.0f + detune[k]) / rp);
            w[i] = lp2.Lowpass(lp.Lowpass(v, 2200.0f, 0.8f, (int)rp), 3000.0f, 0.7f, (int)rp);
        }
        CgNormalise(w, 0.85f);
        CgXmInstrument ins = CG_Instrument("pad", w, mp, 60, 22, 128);
        CG_Loop(ins, w, rp, 0.6f, 0.5f);
        ins.VolumeEnvelope = CG_Envelope({{0, 0}, {8, 60}, {30, 48}, {110, 0}}, 2);
        ins.Fadeout = 0;
        out.push_back(ins);
    }
    {   // Arp: a plucked square.
        CgWave w((size_t)(0.35f * r));
        CgOsc a;
        CgFilter lp;
        float hz = CgNoteHz(72);
        for (size_t i = 0; i < w.size(); i++) {
            float t = i / r;
            w[i] = lp.Lowpass(a.Square(hz / r, 0.35f), 900.0f + 7000.0f * CgDecay(t, 0.04f), 1.6f, (int)r) *
                   CgDecay(t, 0.12f);
        }
        CgFadeEnds(w, 0, 400);
        CgNormalise(w, 0.85f);
        out.push_back(CG_Instrument("arp", w, m, 72, 20, 88));
    }
    {   // Lead: two saws and a pulse, slightly apart, a bright filter.
        CgWave w((size_t)(1.4f * r));
        CgOsc a, b, c;
        CgFilter lp;
        float hz = CgNoteHz(72);
        for (size_t i = 0; i < w.size(); i++) {
            float t = i / r;
            float v = a.Saw(hz / r) * 0.5f + b.Saw(hz * 1.005f / r) * 0.5f + c.Square(hz * 2.0f / r, 0.25f) * 0.2f;
            w[i] = lp.Lowpass(v, 2800.0f + 3000.0f * CgDecay(t, 0.08f), 1.3f, (int)r);
        }
        CgNormalise(w, 0.85f);
        CgXmInstrument ins = CG_Instrument("lead", w, m, 72, 48, 128);
        CG_Loop(ins, w, r, 0.4f, 0.3f);
        ins.VolumeEnvelope = CG_Envelope({{0, 64}, {10, 50}, {30, 0}}, 1);
        out.push_back(ins);
    }
    {   // Bell: two-operator FM, decaying.
        CgWave w((size_t)(1.6f * r));
        float hz = CgNoteHz(84), pc = 0, pm = 0;
        for (size_t i = 0; i < w.size(); i++) {
            float t = i / r;
            float mod = std::sin(2 * CG_PI * pm) * 2.2f * CgDecay(t, 0.35f);
            w[i] = std::sin(2 * CG_PI * pc + mod) * CgDecay(t, 0.5f);
            pc += hz / r;
            pm += hz * 3.5f / r;
            pc -= std::floor(pc);
            pm -= std::floor(pm);
        }
        CgFadeEnds(w, 8, 2000);
        CgNormalise(w, 0.85f);
        out.push_back(CG_Instrument("bell", w, m, 84, 40, 70));
    }
    return out;
}

// Chords as three MIDI notes and the bass root.
struct CG_Chord {
    int Notes[3];
    int Root;
};
static const CG_Chord AM = {{57, 60, 64}, 33}, FM = {{57, 60, 65}, 29}, CM = {{55, 60, 64}, 36},
                      GM = {{55, 59, 62}, 31}, EM = {{55, 59, 64}, 28}, DM = {{57, 62, 65}, 38},
                      E7 = {{56, 59, 64}, 28};

// A melody note: row in the pattern, MIDI note, length in rows.
struct CG_Note {
    int Row, Midi, Rows;
};
typedef std::vector<CG_Note> CG_Phrase;

static const CG_Phrase MEL_A = {{0, 76, 6},  {6, 74, 2},  {8, 72, 4},  {12, 71, 2}, {14, 72, 2}, {16, 69, 6},
                                {22, 72, 2}, {24, 77, 6}, {30, 76, 2}, {32, 76, 4}, {36, 79, 4}, {40, 76, 2},
                                {42, 74, 2}, {44, 72, 4}, {48, 74, 8}, {56, 71, 4}, {60, 67, 4}};
static const CG_Phrase MEL_B = {{0, 69, 4},  {4, 72, 4},  {8, 76, 4},  {12, 81, 4}, {16, 79, 6}, {22, 77, 2},
                                {24, 76, 4}, {28, 72, 4}, {32, 74, 4}, {36, 76, 4}, {40, 79, 6}, {46, 76, 2},
                                {48, 74, 12}, {60, 71, 4}};
static const CG_Phrase MEL_C1 = {{0, 84, 6},  {6, 81, 2},  {8, 77, 4},  {12, 81, 4}, {16, 83, 6}, {22, 79, 2},
                                 {24, 74, 4}, {28, 79, 4}, {32, 84, 4}, {36, 83, 4}, {40, 81, 4}, {44, 76, 4},
                                 {48, 81, 14}};
static const CG_Phrase MEL_C2 = {{0, 84, 6},  {6, 81, 2},  {8, 77, 4},  {12, 81, 4}, {16, 83, 6}, {22, 79, 2},
                                 {24, 74, 4}, {28, 79, 4}, {32, 83, 6}, {38, 79, 2}, {40, 76, 8}, {48, 81, 16}};
static const CG_Phrase MEL_D = {{0, 77, 8},  {8, 76, 4},  {12, 74, 4}, {16, 72, 8}, {24, 76, 8}, {32, 80, 6},
                                {38, 83, 2}, {40, 88, 8}, {48, 86, 4}, {52, 84, 4}, {56, 83, 4}, {60, 80, 4}};
static const CG_Phrase MEL_E = {{0, 81, 2},  {2, 84, 2},  {4, 88, 4},  {8, 86, 4},  {12, 84, 4}, {16, 81, 6},
                                {22, 84, 2}, {24, 83, 8}, {32, 80, 4}, {36, 83, 4}, {40, 88, 8}, {48, 81, 16}};
// The bell's answers in the breaks.
static const CG_Phrase BELL_A = {{0, 88, 8}, {8, 84, 8}, {16, 86, 8}, {24, 81, 8}, {32, 84, 8}, {40, 81, 8},
                                 {48, 83, 12}};
static const CG_Phrase BELL_B = {{4, 81, 4}, {12, 84, 4}, {20, 86, 4}, {28, 88, 4}, {36, 84, 4}, {44, 83, 4},
                                 {52, 80, 8}};

enum CG_Drums { D_NONE, D_LIGHT, D_FULL, D_HALF, D_BUILD };

struct CG_Section {
    CG_Chord Chords[4];
    CG_Drums Drums;
    bool Bass, Pad, Arp, Crash;
    const CG_Phrase* Lead;
    const CG_Phrase* Bell;
};

static void CG_Set(CgXmPattern& p, int row, int ch, int midi, int ins, int vol = 0, int fx = 0, int param = 0)
{
    CgXmCell& c = p.At(row, ch);
    c.Note = midi ? CG_Xm(midi) : 0;
    c.Instrument = (uint8_t)ins;
    c.Volume = vol ? (uint8_t)(0x10 + std::min(vol, 64)) : 0;
    c.Effect = (uint8_t)fx;
    c.Param = (uint8_t)param;
}
static void CG_Off(CgXmPattern& p, int row, int ch)
{
    if (row < p.Rows && p.At(row, ch).Note == 0)
        p.At(row, ch).Note = CG_XM_NOTE_OFF;
}

// Every note names its instrument (so its envelope starts again after the
// key-off), which also resets the channel's panning: a panned line sets
// its pan on every note.
static void CG_Melody(CgXmPattern& p, const CG_Phrase& phrase, int ch, int ins, int vol, int delay, int pan)
{
    for (const CG_Note& n : phrase) {
        int row = n.Row + delay;
        if (row >= p.Rows)
            continue;
        CG_Set(p, row, ch, n.Midi, ins, vol, pan ? 0x8 : 0, pan);
        CG_Off(p, row + n.Rows - (n.Rows > 2 ? 1 : 0), ch);
    }
}

static CgXmPattern CG_Pattern(const CG_Section& s, int seed)
{
    CgXmPattern p(64, C_COUNT);
    CgRng rng(seed);
    for (int bar = 0; bar < 4; bar++) {
        const CG_Chord& chord = s.Chords[bar];
        const int b = bar * 16;
        // Drums.
        for (int r = 0; r < 16; r++) {
            int row = b + r;
            bool last = bar == 3;
            switch (s.Drums) {
            case D_NONE:
                break;
            case D_LIGHT:
                if (r % 4 == 2)
                    CG_Set(p, row, C_HAT, 60, I_HAT, 36);
                if (r == 0 && bar % 2 == 0)
                    CG_Set(p, row, C_KICK, 60, I_KICK, 48);
                break;
            case D_FULL:
            case D_HALF:
                if (s.Drums == D_FULL ? r % 4 == 0 : (r == 0 || r == 10))
                    CG_Set(p, row, C_KICK, 60, I_KICK);
                if (s.Drums == D_FULL ? (r == 4 || r == 12) : r == 8)
                    CG_Set(p, row, C_SNARE, 60, I_SNARE);
                if (r % 4 == 2)
                    CG_Set(p, row, C_HAT, 60, I_HAT, 44);
                else if (r % 2 == 1)
                    CG_Set(p, row, C_HAT, 60, I_HAT, 18 + rng.Below(8));
                if (s.Drums == D_FULL && r == 14 && bar % 2 == 1)
                    CG_Set(p, row, C_PERC, 60, I_OPENHAT);
                // A fill into the next pattern.
                if (last && r >= 12 && s.Drums == D_FULL)
                    CG_Set(p, row, C_SNARE, 60, I_SNARE, 28 + (r - 12) * 8);
                break;
            case D_BUILD: {
                int every = bar < 2 ? 4 : bar == 2 ? 2 : 1;
                if (r % 4 == 0)
                    CG_Set(p, row, C_KICK, 60, I_KICK, 40 + bar * 8);
                if (r % every == 0)
                    CG_Set(p, row, C_SNARE, 60, I_SNARE, 16 + (bar * 16 + r) * 3 / 4);
                break;
            }
            }
        }
        if (s.Crash && bar == 0)
            CG_Set(p, 0, C_PERC, 60, I_CRASH);
        // Bass: root, octave jumps, rests; an off at each bar's end.
        if (s.Bass) {
            static const int pattern[16] = {1, 0, 1, 0, 2, 0, 1, 1, 0, 1, 2, 0, 1, 0, 2, 1};
            for (int r = 0; r < 16; r++) {
                if (!pattern[r])
                    continue;
                CG_Set(p, b + r, C_BASS, chord.Root + 12 * (pattern[r] - 1), I_BASS, 0);
                CG_Off(p, b + r + 1, C_BASS);
            }
        }
        // Pad: the chord on three channels, spread left, centre, right, each
        // chord held until the next one takes over.
        if (s.Pad) {
            static const int pans[3] = {0x50, 0x80, 0xB0};
            for (int k = 0; k < 3; k++)
                CG_Set(p, b, C_PAD1 + k, chord.Notes[k], I_PAD, 0, 0x8, pans[k]);
        }
        // Arp: chord tones up two octaves and back, in sixteenths.
        if (s.Arp) {
            static const int steps[8] = {0, 1, 2, 3, 4, 5, 4, 2};
            for (int r = 0; r < 16; r++) {
                int k = steps[r % 8];
                int midi = chord.Notes[k % 3] + 12 * (1 + k / 3);
                CG_Set(p, b + r, C_ARP, midi, I_ARP, r % 4 == 0 ? 48 : 30);
            }
        }
    }
    if (s.Lead) {
        CG_Melody(p, *s.Lead, C_LEAD, I_LEAD, 0, 0, 0);
        // A tracker echo: the same line three rows later, softer, to the right.
        CG_Melody(p, *s.Lead, C_ECHO, I_LEAD, 20, 3, 0xC8);
    }
    if (s.Bell)
        CG_Melody(p, *s.Bell, C_BELL, I_BELL, 0, 0, 0);
    return p;
}

static CgXmSong CG_Song()
{
    CgXmSong song;
    song.Name = "bf04c - brolfest 04";
    song.Channels = C_COUNT;
    song.Tempo = 6;
    song.Bpm = 126;   // 875 output frames per tick at 44.1 kHz: every player agrees on the tick length
    song.Instruments = CG_Instruments();

    const CG_Chord verse[4] = {AM, FM, CM, GM};
    const CG_Chord chorus1[4] = {FM, GM, AM, AM};
    const CG_Chord chorus2[4] = {FM, GM, EM, AM};
    const CG_Chord breakdown[4] = {DM, AM, FM, E7};
    const CG_Chord bridge[4] = {DM, AM, E7, AM};
    const CG_Section sections[] = {
        /* 0 intro      */ {{AM, FM, CM, GM}, D_LIGHT, false, true, false, true, nullptr, nullptr},
        /* 1 intro 2    */ {{AM, FM, CM, GM}, D_HALF, true, true, true, false, nullptr, nullptr},
        /* 2 verse      */ {{verse[0], verse[1], verse[2], verse[3]}, D_FULL, true, true, true, true, nullptr, nullptr},
        /* 3 verse A    */ {{verse[0], verse[1], verse[2], verse[3]}, D_FULL, true, true, true, false, &MEL_A, nullptr},
        /* 4 verse B    */ {{verse[0], verse[1], verse[2], verse[3]}, D_FULL, true, true, true, false, &MEL_B, nullptr},
        /* 5 chorus 1   */ {{chorus1[0], chorus1[1], chorus1[2], chorus1[3]}, D_FULL, true, true, true, true, &MEL_C1,
                            nullptr},
        /* 6 chorus 2   */ {{chorus2[0], chorus2[1], chorus2[2], chorus2[3]}, D_FULL, true, true, true, false, &MEL_C2,
                            nullptr},
        /* 7 break      */ {{breakdown[0], breakdown[1], breakdown[2], breakdown[3]}, D_NONE, false, true, false,
                            true, nullptr, &BELL_A},
        /* 8 build      */ {{breakdown[0], breakdown[1], breakdown[2], breakdown[3]}, D_BUILD, true, true, true, false,
                            nullptr, &BELL_B},
        /* 9 bridge 1   */ {{bridge[0], bridge[1], bridge[2], bridge[3]}, D_HALF, true, true, true, true, &MEL_D,
                            nullptr},
        /* 10 bridge 2  */ {{bridge[0], bridge[1], bridge[2], bridge[3]}, D_FULL, true, true, true, false, &MEL_D,
                            &BELL_B},
        /* 11 solo      */ {{chorus1[0], chorus1[1], chorus1[2], chorus1[3]}, D_FULL, true, true, true, true, &MEL_E,
                            &BELL_A},
        /* 12 outro     */ {{chorus2[0], chorus2[1], chorus2[2], chorus2[3]}, D_FULL, true, true, true, false, &MEL_C2,
                            &BELL_B},
    };
    int seed = 0;
    for (const CG_Section& s : sections)
        song.Patterns.push_back(CG_Pattern(s, 500 + seed++));
    // Intro, verses, choruses, a break and build, again with the bridge
    // and a solo; the loop returns to the plain verse.
    song.Orders = {0, 1, 2, 3, 4, 5, 6, 7, 8, 3, 4, 5, 6, 9, 10, 2, 3, 7, 8, 11, 5, 6, 12};
    song.Restart = 2;
    return song;
}

void CgBuildMusic(CgSink& out)
{
    std::string error;
    CgBytes xm = CgWriteXm(CG_Song(), &error);
    if (xm.empty()) {
        out.Errors.push_back("music: " + error);
        return;
    }
    out.Bytes("data\\bf04c.xm", xm);
}
