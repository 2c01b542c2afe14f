// Crossover bank: one second-order low-pass per crossover and channel; the
// band above a crossover is the exact remainder, input minus low-pass output.
// The stored coefficients are single precision; each is computed from its
// stored inputs in double and rounded once where it is stored.
#include "dsp/crossover.h"

#include <cmath>
#include <cstring>

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

    SectionRun() : b0(0), b1(0), b2(0), a1(0), a2(0), s1(0), s2(0) {}
    explicit SectionRun(const CrossoverSection& s)
        : b0(s.b0), b1(s.b1), b2(s.b2), a1(s.a1), a2(s.a2), s1(s.s1), s2(s.s2) {}

    // Filters x; returns the low-pass output y, the remainder is x - y.
    float filter(float x) {
        const float y = static_cast<float>(b0 * x + s1);
        s1 = static_cast<float>(b1 * x + s2 - a1 * y);
        s2 = static_cast<float>(b2 * x - a2 * y);
        return y;
    }

    void step(float* low, float* high, int i) {
        const float x = low[i];
        const float y = filter(x);
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

// The cascade of crossovers 0..Count-1 sample by sample: each section sees the
// same samples in the same order as in separate passes of splitBand (the input
// of crossover j + 1 at sample i is the remainder of crossover j at sample i),
// so every value is the same; the sections' chains of dependent steps now run
// side by side instead of one pass after another.
template <int Count>
static void split_cascade(const float* input, float* const band[4], CrossoverBank& bank,
                          int sampleCount, int channels) {
    if (channels == 2) {
        SectionRun left[Count > 0 ? Count : 1] = {SectionRun(bank.sections[0])};
        SectionRun right[Count > 0 ? Count : 1] = {SectionRun(bank.sections[1])};
        for (int j = 1; j < Count; ++j) {
            left[j] = SectionRun(bank.sections[2 * j]);
            right[j] = SectionRun(bank.sections[2 * j + 1]);
        }
        int i = 0;
        for (; i + 1 < sampleCount; i += 2) {
            float l = input[i], r = input[i + 1];
            for (int j = 0; j < Count; ++j) {
                const float yl = left[j].filter(l);
                const float yr = right[j].filter(r);
                band[j][i] = yl;
                band[j][i + 1] = yr;
                l = static_cast<float>(static_cast<double>(l) - yl);
                r = static_cast<float>(static_cast<double>(r) - yr);
            }
            band[Count][i] = l;
            band[Count][i + 1] = r;
        }
        if (i < sampleCount) {
            float l = input[i];
            for (int j = 0; j < Count; ++j) {
                const float yl = left[j].filter(l);
                band[j][i] = yl;
                l = static_cast<float>(static_cast<double>(l) - yl);
            }
            band[Count][i] = l;
        }
        for (int j = 0; j < Count; ++j) {
            left[j].store(bank.sections[2 * j]);
            right[j].store(bank.sections[2 * j + 1]);
        }
        return;
    }
    SectionRun run[Count > 0 ? Count : 1] = {SectionRun(bank.sections[0])};
    for (int j = 1; j < Count; ++j) run[j] = SectionRun(bank.sections[2 * j]);
    for (int i = 0; i < sampleCount; ++i) {
        float x = input[i];
        for (int j = 0; j < Count; ++j) {
            const float y = run[j].filter(x);
            band[j][i] = y;
            x = static_cast<float>(static_cast<double>(x) - y);
        }
        band[Count][i] = x;
    }
    for (int j = 0; j < Count; ++j) run[j].store(bank.sections[2 * j]);
}

void splitBands(const float* input, float* const band[4], CrossoverBank& bank, int crossovers,
                int sampleCount, int channels) {
    const size_t bytes = sampleCount > 0 ? static_cast<size_t>(sampleCount) * sizeof(float) : 0;
    if (channels != 1 && channels != 2) {
        memcpy(band[0], input, bytes);
        for (int j = 0; j < crossovers && j < 3; ++j)
            splitBand(band[j], band[j + 1], bank, j, sampleCount, channels);
        return;
    }
    switch (crossovers) {
        case 1: split_cascade<1>(input, band, bank, sampleCount, channels); break;
        case 2: split_cascade<2>(input, band, bank, sampleCount, channels); break;
        case 3: split_cascade<3>(input, band, bank, sampleCount, channels); break;
        default: memcpy(band[0], input, bytes); break;
    }
}
