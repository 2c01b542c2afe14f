// Crossover bank: one second-order low-pass per crossover and channel; the
// band above a crossover is the exact remainder, input minus low-pass output.
// The stored coefficients are single precision; each is computed from its
// stored inputs in double and rounded once where it is stored.
#include "dsp/crossover.h"

#include "dsp/crossover_sections.h"

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
// side by side instead of one pass after another. The sections are named
// locals (r0, r1, r2), so that they stay in registers.

template <int Count>
static void split_cascade_mono(const float* input, float* const band[4], CrossoverBank& bank,
                               int sampleCount) {
    SectionRun r0(bank.sections[0]), r1(bank.sections[2]), r2(bank.sections[4]);
    for (int i = 0; i < sampleCount; ++i) {
        float x = cascade_step(r0, input[i], band[0] + i);
        if constexpr (Count >= 2) x = cascade_step(r1, x, band[1] + i);
        if constexpr (Count >= 3) x = cascade_step(r2, x, band[2] + i);
        band[Count][i] = x;
    }
    r0.store(bank.sections[0]);
    if constexpr (Count >= 2) r1.store(bank.sections[2]);
    if constexpr (Count >= 3) r2.store(bank.sections[4]);
}

#if defined(__SSE2__)
template <int Count>
static void split_cascade_stereo(const float* input, float* const band[4], CrossoverBank& bank,
                                 int sampleCount) {
    const CrossoverSection* s = bank.sections;
    SectionPair r0(s[0], s[1]), r1(s[2], s[3]), r2(s[4], s[5]);
    int i = 0;
    for (; i + 1 < sampleCount; i += 2) {
        __m128d x = r0.step(load_frame(input + i), band[0] + i);
        if constexpr (Count >= 2) x = r1.step(x, band[1] + i);
        if constexpr (Count >= 3) x = r2.step(x, band[2] + i);
        store_float_pair(band[Count] + i, _mm_cvtpd_ps(x));
    }
    // An odd last sample belongs to the left channel.
    const SectionPair* pairs[3] = {&r0, &r1, &r2};
    float x = i < sampleCount ? input[i] : 0.0f;
    for (int j = 0; j < Count; ++j) {
        SectionRun left, right;
        pairs[j]->unpack(s[2 * j], s[2 * j + 1], left, right);
        if (i < sampleCount) x = cascade_step(left, x, band[j] + i);
        left.store(bank.sections[2 * j]);
        right.store(bank.sections[2 * j + 1]);
    }
    if (i < sampleCount) band[Count][i] = x;
}
#endif

template <int Count>
static void split_cascade(const float* input, float* const band[4], CrossoverBank& bank,
                          int sampleCount, int channels) {
#if defined(__SSE2__)
    if (channels == 2) {
        split_cascade_stereo<Count>(input, band, bank, sampleCount);
        return;
    }
#else
    if (channels == 2) {  // separate passes
        if (sampleCount > 0)
            memcpy(band[0], input, static_cast<size_t>(sampleCount) * sizeof(float));
        for (int j = 0; j < Count; ++j) splitBand(band[j], band[j + 1], bank, j, sampleCount, 2);
        return;
    }
#endif
    split_cascade_mono<Count>(input, band, bank, sampleCount);
}

void splitBands(const float* input, float* const band[4], CrossoverBank& bank, int crossovers,
                int sampleCount, int channels) {
    const size_t bytes = sampleCount > 0 ? static_cast<size_t>(sampleCount) * sizeof(float) : 0;
    if (channels != 1 && channels != 2) {
        if (bytes > 0) memcpy(band[0], input, bytes);
        for (int j = 0; j < crossovers && j < 3; ++j)
            splitBand(band[j], band[j + 1], bank, j, sampleCount, channels);
        return;
    }
    switch (crossovers) {
        case 1: split_cascade<1>(input, band, bank, sampleCount, channels); break;
        case 2: split_cascade<2>(input, band, bank, sampleCount, channels); break;
        case 3: split_cascade<3>(input, band, bank, sampleCount, channels); break;
        default:
            if (bytes > 0) memcpy(band[0], input, bytes);
            break;
    }
}
