// Sound synthesis of the generator: band-limited oscillators, a
// state-variable filter, envelopes and the finishing helpers that the
// effects and the music's instruments share. Everything is plain float
// arithmetic in a fixed order: the same program gives the same samples.
#ifndef ZQCONTENT_SYNTH_H
#define ZQCONTENT_SYNTH_H

#include <cmath>
#include <cstdint>
#include <vector>

#include "rng.h"

typedef std::vector<float> CgWave;

#define CG_PI 3.14159265358979323846f

// Phase-accumulating oscillator; saw and square are band-limited with a
// polynomial step correction (no aliasing whistle on high notes).
struct CgOsc {
    float Phase = 0;   // 0..1

    static float Blep(float t, float dt)
    {
        if (t < dt) {
            t /= dt;
            return t + t - t * t - 1.0f;
        }
        if (t > 1.0f - dt) {
            t = (t - 1.0f) / dt;
            return t * t + t + t + 1.0f;
        }
        return 0.0f;
    }
    // dt = frequency / rate
    float Saw(float dt)
    {
        float v = 2.0f * Phase - 1.0f - Blep(Phase, dt);
        Advance(dt);
        return v;
    }
    float Square(float dt, float width = 0.5f)
    {
        float v = (Phase < width ? 1.0f : -1.0f) + Blep(Phase, dt) - Blep(std::fmod(Phase + 1.0f - width, 1.0f), dt);
        Advance(dt);
        return v;
    }
    float Sine(float dt)
    {
        float v = std::sin(2.0f * CG_PI * Phase);
        Advance(dt);
        return v;
    }
    float Triangle(float dt)
    {
        float v = 1.0f - 4.0f * std::fabs(Phase - 0.5f);
        Advance(dt);
        return v;
    }
    void Advance(float dt)
    {
        Phase += dt;
        Phase -= std::floor(Phase);
    }
};

// Chamberlin state-variable filter, oversampled twice for stability at
// high cutoffs. q: 0.5 (soft) .. 10 (ringing).
struct CgFilter {
    float Low = 0, Band = 0, High = 0;

    void Run(float in, float cutoff, float q, int rate)
    {
        float f = 2.0f * std::sin(CG_PI * std::fmin(cutoff, rate * 0.2f) / (2.0f * rate));
        float damp = 1.0f / q;
        for (int i = 0; i < 2; i++) {
            Low += f * Band;
            High = in - Low - damp * Band;
            Band += f * High;
        }
    }
    float Lowpass(float in, float cutoff, float q, int rate) { Run(in, cutoff, q, rate); return Low; }
    float Bandpass(float in, float cutoff, float q, int rate) { Run(in, cutoff, q, rate); return Band; }
    float Highpass(float in, float cutoff, float q, int rate) { Run(in, cutoff, q, rate); return High; }
};

// Attack, decay to sustain, hold until `release` seconds, then release.
float CgAdsr(float t, float attack, float decay, float sustain, float release, float releaseAt);
// Exponential decay from 1 with the given time constant.
inline float CgDecay(float t, float tau) { return std::exp(-t / tau); }
// Frequency of a MIDI-style note (69 = A 440 Hz).
inline float CgNoteHz(float note) { return 440.0f * std::exp2((note - 69.0f) / 12.0f); }

// Scales to the given peak.
void CgNormalise(CgWave& w, float peak);
// Short fades at both ends (no click when a sound starts or stops).
void CgFadeEnds(CgWave& w, int in, int out);
// Soft saturation.
inline float CgSoftClip(float x) { return std::tanh(x); }
// Removes DC with a one-pole high-pass.
void CgRemoveDc(CgWave& w, float cutoff, int rate);
// Adds a small room: a few feedback delays (Schroeder), wet share `mix`.
void CgRoom(CgWave& w, int rate, float size, float decay, float mix);
// Makes [loopStart, loopEnd) loop seamlessly by cross-fading its last
// `fade` samples with the ones before loopStart.
void CgLoopCrossfade(CgWave& w, int loopStart, int loopEnd, int fade);

#endif
