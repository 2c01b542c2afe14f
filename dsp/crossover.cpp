// Crossover bank: one second-order low-pass per crossover and channel; the
// band above a crossover is the exact remainder, input minus low-pass output.
// The stored coefficients are single precision; each is computed from its
// stored inputs in double and rounded once where it is stored.
#include "dsp/crossover.h"

#include <cmath>

void designCrossovers(CrossoverBank& bank, const uint16_t crossoverHz[4], int sampleRate) {
    const double pi = 3.14159265358979323846;
    if (sampleRate == 0) sampleRate = 44100;  // as the parse reads a rate of 0
    for (int k = 0; k < 3; ++k) {
        CrossoverSection& s = bank.sections[2 * k];
        s.normalisedFrequency = static_cast<float>(static_cast<double>(crossoverHz[k]) / sampleRate);
        s.q = 0.707f;
        const double q = s.q;
        const float K = static_cast<float>(std::tan(pi * s.normalisedFrequency));
        const double k1 = K;
        const float n = static_cast<float>(1.0 / (1.0 + k1 / q + k1 * k1));
        s.b0 = static_cast<float>(k1 * k1 * n);
        s.b1 = static_cast<float>(2.0 * s.b0);
        s.b2 = s.b0;
        s.a1 = static_cast<float>(2.0 * (k1 * k1 - 1.0) * n);
        s.a2 = static_cast<float>((1.0 - k1 / q + k1 * k1) * n);

        copyCrossoverCoefficients(bank.sections[2 * k + 1], s);
    }
}

void copyCrossoverCoefficients(CrossoverSection& to, const CrossoverSection& from) {
    to.b0 = from.b0;
    to.b1 = from.b1;
    to.b2 = from.b2;
    to.a1 = from.a1;
    to.a2 = from.a2;
    to.normalisedFrequency = from.normalisedFrequency;
    to.q = from.q;
}

// One section's step; y, s1 and s2 are rounded to float where stored.
struct SectionRun {
    double b0, b1, b2, a1, a2;
    float s1, s2;

    explicit SectionRun(const CrossoverSection& s)
        : b0(s.b0), b1(s.b1), b2(s.b2), a1(s.a1), a2(s.a2), s1(s.s1), s2(s.s2) {}

    void step(float* low, float* high, int i) {
        const float x = low[i];
        const float y = static_cast<float>(b0 * x + s1);
        s1 = static_cast<float>(b1 * x + s2 - a1 * y);
        s2 = static_cast<float>(b2 * x - a2 * y);
        high[i] = static_cast<float>(static_cast<double>(x) - y);
        low[i] = y;
    }

    void store(CrossoverSection& s) {
        // A section designed at or above half the rate can run away; its state
        // must not stay infinite once a sound design replaces it.
        if (!std::isfinite(s1) || !std::isfinite(s2)) s1 = s2 = 0.0f;
        s.s1 = s1;
        s.s2 = s2;
    }
};

void splitBand(float* low, float* high, CrossoverBank& bank, int k, int sampleCount,
               int channels) {
    if (channels == 2) {
        // The two channels' sections run side by side (they are independent).
        SectionRun left(bank.sections[2 * k]), right(bank.sections[2 * k + 1]);
        int i = 0;
        for (; i + 1 < sampleCount; i += 2) {
            left.step(low, high, i);
            right.step(low, high, i + 1);
        }
        if (i < sampleCount) left.step(low, high, i);
        left.store(bank.sections[2 * k]);
        right.store(bank.sections[2 * k + 1]);
        return;
    }
    for (int c = 0; c < channels; ++c) {
        SectionRun run(bank.sections[2 * k + c]);
        for (int i = c; i < sampleCount; i += channels) run.step(low, high, i);
        run.store(bank.sections[2 * k + c]);
    }
}
