// The game's sound effects, synthesized: 16-bit mono at 44.1 kHz.
#include "content.h"
#include "synth.h"

#include <algorithm>
#include <cmath>

static const int CG_RATE = 44100;
// Footsteps loop once per walk cycle: five frames at 20 ticks each, at
// 150 ticks a second.
static const int CG_WALK_FRAMES = CG_RATE * 100 / 150;

std::vector<std::string> CgSoundNames()
{
    return {"data\\sounds\\disparo.wav",  "data\\sounds\\start.wav", "data\\sounds\\explosion.wav",
            "data\\sounds\\walk2.wav",    "data\\sounds\\complete.wav", "data\\sounds\\argh.wav",
            "data\\sounds\\tiagrita.wav"};
}

static CgWave CG_Silence(float seconds)
{
    return CgWave((size_t)(seconds * CG_RATE), 0.0f);
}

// The end of every effect: a room of `size` and `decay` seconds at `mix`,
// a fade-out of `fade` samples, and the level.
static CgWave CG_Finish(CgWave w, float size, float decay, float mix, int fade, float peak)
{
    CgRoom(w, CG_RATE, size, decay, mix);
    CgRemoveDc(w, 20.0f, CG_RATE);
    CgFadeEnds(w, 16, fade);
    CgNormalise(w, peak);
    return w;
}

// A shot: a square and a saw falling fast in pitch through a closing
// filter, with a short hiss at the start.
static CgWave CG_Shot()
{
    CgWave w = CG_Silence(0.42f);
    CgOsc a, b;
    CgFilter lp, hp;
    CgRng rng(5);
    for (size_t i = 0; i < w.size(); i++) {
        float t = (float)i / CG_RATE;
        float hz = 180.0f + 1900.0f * std::exp(-t / 0.045f);
        float tone = 0.6f * a.Square(hz / CG_RATE, 0.3f) + 0.4f * b.Saw(hz * 0.497f / CG_RATE);
        float cutoff = 600.0f + 9000.0f * std::exp(-t / 0.06f);
        float v = lp.Lowpass(tone, cutoff, 2.5f, CG_RATE) * CgDecay(t, 0.09f);
        v += hp.Highpass(rng.Signed(), 3000.0f, 0.7f, CG_RATE) * 0.5f * CgDecay(t, 0.012f);
        w[i] = v;
    }
    return CG_Finish(w, 0.6f, 0.5f, 0.18f, 400, 0.9f);
}

// Start jingle: a rising arpeggio in square and saw, the last note held
// with vibrato.
static CgWave CG_Start()
{
    CgWave w = CG_Silence(1.5f);
    const float notes[] = {72, 76, 79, 84};
    const float starts[] = {0.0f, 0.09f, 0.18f, 0.27f};
    for (int n = 0; n < 4; n++) {
        float len = n == 3 ? 1.0f : 0.1f;
        CgOsc a, b;
        CgFilter lp;
        size_t s0 = (size_t)(starts[n] * CG_RATE);
        for (size_t i = s0; i < w.size(); i++) {
            float t = (float)(i - s0) / CG_RATE;
            float env = CgAdsr(t, 0.004f, 0.08f, 0.6f, 0.18f, len);
            if (t > len + 0.2f)
                break;
            float vib = n == 3 ? 1.0f + 0.006f * std::sin(2 * CG_PI * 6.0f * t) * std::min(1.0f, t * 3) : 1.0f;
            float hz = CgNoteHz(notes[n]) * vib;
            float v = 0.5f * a.Square(hz / CG_RATE) + 0.5f * b.Saw(hz * 1.003f / CG_RATE);
            w[i] += lp.Lowpass(v, 2500.0f + 3000.0f * env, 1.2f, CG_RATE) * env * 0.5f;
        }
    }
    // The game starts it on nine ticks in a row, up to five at once: a
    // lower level keeps the stack out of clipping.
    return CG_Finish(w, 1.0f, 0.9f, 0.25f, 2000, 0.5f);
}

// Explosion: noise through a falling low-pass, a deep thump, crackle.
static CgWave CG_Explosion()
{
    CgWave w = CG_Silence(2.0f);
    CgRng rng(9);
    CgFilter lp, lp2;
    CgOsc thump;
    float crackle = 0;
    for (size_t i = 0; i < w.size(); i++) {
        float t = (float)i / CG_RATE;
        float cutoff = 140.0f + 4200.0f * std::exp(-t / 0.18f);
        float noise = lp2.Lowpass(lp.Lowpass(rng.Signed(), cutoff, 0.8f, CG_RATE), cutoff * 1.5f, 0.7f, CG_RATE);
        float body = noise * 1.8f * CgAdsr(t, 0.003f, 0.1f, 0.7f, 1.6f, 0.15f);
        float hz = 38.0f + 55.0f * std::exp(-t / 0.08f);
        float low = thump.Sine(hz / CG_RATE) * CgDecay(t, 0.25f) * 0.9f;
        if (rng.Unit() < 0.004f * CgDecay(t, 0.5f))
            crackle = rng.Signed();
        crackle *= 0.93f;
        w[i] = CgSoftClip((body + low + crackle * 0.35f) * 1.4f);
    }
    return CG_Finish(w, 1.3f, 1.2f, 0.25f, 6000, 0.95f);
}

// One footstep on a hard floor: heel thud then the sole's scrape.
static void CG_Step(CgWave& w, size_t at, float pitch, uint64_t seed)
{
    CgRng rng(seed);
    CgFilter bp, bp2;
    CgOsc body;
    for (size_t i = at; i < std::min(w.size(), at + (size_t)(0.16f * CG_RATE)); i++) {
        float t = (float)(i - at) / CG_RATE;
        float thud = body.Sine(95.0f * pitch * (1.0f + 0.5f * CgDecay(t, 0.01f)) / CG_RATE) * CgDecay(t, 0.028f);
        float grit = bp.Bandpass(rng.Signed(), 1700.0f * pitch, 1.4f, CG_RATE) * CgDecay(t, 0.02f);
        float toe = t > 0.045f ? bp2.Bandpass(rng.Signed(), 2600.0f * pitch, 1.2f, CG_RATE) *
                                     CgDecay(t - 0.045f, 0.018f) * 0.55f
                               : 0.0f;
        w[i] += thud * 0.9f + grit * 1.3f + toe;
    }
}

// Footsteps, looped while walking: two steps per walk cycle, silent at both
// ends so the loop meets itself without a click.
static CgWave CG_Walk()
{
    CgWave w((size_t)CG_WALK_FRAMES, 0.0f);
    CG_Step(w, (size_t)(0.04f * CG_RATE), 1.0f, 21);
    CG_Step(w, (size_t)(0.04f * CG_RATE) + w.size() / 2, 0.93f, 22);
    CgRemoveDc(w, 30.0f, CG_RATE);
    CgFadeEnds(w, 64, 2000);
    CgNormalise(w, 0.8f);
    return w;
}

// Fanfare: brass stabs up the C major chord, then the chord held, with a
// cymbal swell.
static CgWave CG_Complete()
{
    CgWave w = CG_Silence(2.6f);
    struct Note {
        float Start, Length, Note;
    };
    const Note notes[] = {{0.00f, 0.12f, 67}, {0.14f, 0.12f, 72}, {0.28f, 0.12f, 76}, {0.42f, 1.5f, 79},
                          {0.42f, 1.5f, 72},  {0.42f, 1.5f, 76},  {0.42f, 1.5f, 60}};
    for (const Note& n : notes) {
        CgOsc a, b;
        CgFilter lp;
        size_t s0 = (size_t)(n.Start * CG_RATE);
        for (size_t i = s0; i < w.size(); i++) {
            float t = (float)(i - s0) / CG_RATE;
            if (t > n.Length + 0.5f)
                break;
            float env = CgAdsr(t, 0.02f, 0.15f, 0.7f, 0.45f, n.Length);
            float vib = 1.0f + 0.004f * std::sin(2 * CG_PI * 5.5f * t) * std::min(1.0f, t);
            float hz = CgNoteHz(n.Note) * vib;
            float v = a.Saw(hz / CG_RATE) + b.Saw(hz * 1.004f / CG_RATE);
            w[i] += lp.Lowpass(v, 700.0f + 3500.0f * env, 1.0f, CG_RATE) * env * 0.22f;
        }
    }
    CgRng rng(31);
    CgFilter hp;
    for (size_t i = 0; i < w.size(); i++) {
        float t = (float)i / CG_RATE;
        float swell = t < 0.42f ? t / 0.42f : CgDecay(t - 0.42f, 0.5f);
        w[i] += hp.Highpass(rng.Signed(), 6000.0f, 0.8f, CG_RATE) * 0.12f * swell;
    }
    return CG_Finish(w, 1.2f, 1.4f, 0.3f, 8000, 0.85f);
}

// A voice: a pulse train with jitter through three vowel formants.
static void CG_Voice(CgWave& w, size_t at, float seconds, float hzFrom, float hzTo, const float formants[3],
                     const float closing[3], float rasp, uint64_t seed)
{
    CgRng rng(seed);
    CgOsc glottis;
    CgFilter f1, f2, f3, noise;
    float jitter = 0;
    const size_t n = (size_t)(seconds * CG_RATE);
    for (size_t i = 0; i < n && at + i < w.size(); i++) {
        float t = (float)i / CG_RATE, k = t / seconds;
        if (i % 441 == 0)
            jitter = rng.Signed() * 0.03f;
        float hz = (hzFrom * std::pow(hzTo / hzFrom, k)) * (1.0f + jitter + 0.02f * std::sin(2 * CG_PI * 7 * t));
        float src = glottis.Saw(hz / CG_RATE) + rng.Signed() * rasp;
        float m = std::min(1.0f, k * k * 1.5f);   // the mouth closes towards the end
        float v = f1.Bandpass(src, formants[0] + (closing[0] - formants[0]) * m, 6.0f, CG_RATE) * 1.0f +
                  f2.Bandpass(src, formants[1] + (closing[1] - formants[1]) * m, 8.0f, CG_RATE) * 0.6f +
                  f3.Bandpass(src, formants[2] + (closing[2] - formants[2]) * m, 10.0f, CG_RATE) * 0.3f;
        v += noise.Bandpass(rng.Signed(), 2200.0f, 1.0f, CG_RATE) * rasp * 0.5f;
        float env = CgAdsr(t, 0.025f, 0.1f, 0.8f, seconds * 0.35f, seconds * 0.65f);
        w[at + i] += v * env;
    }
}

// A soldier hit: a short, hoarse "aargh".
static CgWave CG_Argh()
{
    CgWave w = CG_Silence(0.8f);
    const float a[3] = {760, 1180, 2500}, gh[3] = {420, 1900, 2600};
    CG_Voice(w, 0, 0.7f, 290, 170, a, gh, 0.35f, 41);
    return CG_Finish(w, 0.8f, 0.6f, 0.15f, 1500, 0.9f);
}

// The player's death: a long falling wail, then the body hits the floor.
static CgWave CG_Death()
{
    CgWave w = CG_Silence(2.0f);
    const float aa[3] = {700, 1100, 2450}, oo[3] = {450, 800, 2300};
    CG_Voice(w, 0, 1.35f, 420, 95, aa, oo, 0.2f, 43);
    CG_Step(w, (size_t)(1.45f * CG_RATE), 0.6f, 44);
    CG_Step(w, (size_t)(1.56f * CG_RATE), 0.75f, 45);
    return CG_Finish(w, 1.1f, 1.0f, 0.22f, 3000, 0.9f);
}

void CgBuildSounds(CgSink& out)
{
    out.Bytes("data\\sounds\\disparo.wav", CgWav16(CG_Shot(), CG_RATE));
    out.Bytes("data\\sounds\\start.wav", CgWav16(CG_Start(), CG_RATE));
    out.Bytes("data\\sounds\\explosion.wav", CgWav16(CG_Explosion(), CG_RATE));
    out.Bytes("data\\sounds\\walk2.wav", CgWav16(CG_Walk(), CG_RATE));
    out.Bytes("data\\sounds\\complete.wav", CgWav16(CG_Complete(), CG_RATE));
    out.Bytes("data\\sounds\\argh.wav", CgWav16(CG_Argh(), CG_RATE));
    out.Bytes("data\\sounds\\tiagrita.wav", CgWav16(CG_Death(), CG_RATE));
}
