#include "synth.h"

#include <algorithm>

float CgAdsr(float t, float attack, float decay, float sustain, float release, float releaseAt)
{
    float level;
    float tt = std::min(t, releaseAt);
    if (tt < attack)
        level = tt / attack;
    else if (tt < attack + decay)
        level = 1.0f - (1.0f - sustain) * (tt - attack) / decay;
    else
        level = sustain;
    if (t > releaseAt)
        level *= std::max(0.0f, 1.0f - (t - releaseAt) / release);
    return level;
}

void CgNormalise(CgWave& w, float peak)
{
    float m = 0;
    for (float v : w)
        m = std::max(m, std::fabs(v));
    if (m > 0)
        for (float& v : w)
            v *= peak / m;
}

void CgFadeEnds(CgWave& w, int in, int out)
{
    int n = (int)w.size();
    for (int i = 0; i < std::min(in, n); i++)
        w[i] *= (float)i / in;
    for (int i = 0; i < std::min(out, n); i++)
        w[n - 1 - i] *= (float)i / out;
}

void CgRemoveDc(CgWave& w, float cutoff, int rate)
{
    float k = std::exp(-2.0f * CG_PI * cutoff / rate), x1 = 0, y1 = 0;
    for (float& v : w) {
        float y = v - x1 + k * y1;
        x1 = v;
        y1 = y;
        v = y;
    }
}

void CgRoom(CgWave& w, int rate, float size, float decay, float mix)
{
    // Four combs in parallel, two all-passes in series; delay lengths are
    // mutually prime-ish so the echoes do not pile up on one pitch.
    const float combMs[4] = {29.7f, 37.1f, 41.1f, 43.7f};
    const float passMs[2] = {5.0f, 1.7f};
    std::vector<float> wet(w.size(), 0.0f);
    for (float ms : combMs) {
        int d = std::max(1, (int)(ms * size * rate / 1000.0f));
        float g = std::pow(0.001f, ms * size / 1000.0f / decay);
        std::vector<float> line(d, 0.0f);
        float damp = 0;
        for (size_t i = 0; i < w.size(); i++) {
            float out = line[i % d];
            damp = out * 0.6f + damp * 0.4f;
            line[i % d] = w[i] + damp * g;
            wet[i] += out * 0.25f;
        }
    }
    for (float ms : passMs) {
        int d = std::max(1, (int)(ms * rate / 1000.0f));
        std::vector<float> line(d, 0.0f);
        for (size_t i = 0; i < wet.size(); i++) {
            float b = line[i % d];
            float x = wet[i] + b * 0.5f;
            line[i % d] = x;
            wet[i] = b - x * 0.5f;
        }
    }
    for (size_t i = 0; i < w.size(); i++)
        w[i] = w[i] * (1.0f - mix) + wet[i] * mix;
}

void CgLoopCrossfade(CgWave& w, int loopStart, int loopEnd, int fade)
{
    fade = std::min(fade, loopStart);
    for (int i = 0; i < fade; i++) {
        float t = (float)(i + 1) / (fade + 1);
        int at = loopEnd - fade + i;
        w[at] = w[at] * (1.0f - t) + w[loopStart - fade + i] * t;
    }
}
