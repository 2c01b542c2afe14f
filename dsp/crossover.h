// Complementary crossover bank: second-order low-pass sections, the band above
// each crossover being the exact remainder.
#pragma once

#include "dsp/engine_types.h"

// Designs the three crossovers (both channels) from crossoverHz[0..2]; the
// states s1, s2 are left alone. A frequency of 0 gives an unused section.
void designCrossovers(CrossoverBank& bank, const uint16_t crossoverHz[4], int sampleRate);

// Filters the interleaved `low` in place through crossover k (low-pass output
// stays in `low`, the remainder goes to `high`); sampleCount counts samples.
void splitBand(float* low, float* high, CrossoverBank& bank, int k, int sampleCount,
               int channels);

// Splits `input` through the first `crossovers` crossovers (0..3) as the
// passes "copy input to band[0]; splitBand(band[j], band[j + 1], bank, j, ...)
// for j = 0 .. crossovers - 1" do, with the same results bit for bit, in one
// pass. band[0..crossovers] receive sampleCount samples each.
void splitBands(const float* input, float* const band[4], CrossoverBank& bank, int crossovers,
                int sampleCount, int channels);

// Copies a section's coefficients, leaving the destination's filter state alone.
void copyCrossoverCoefficients(CrossoverSection& to, const CrossoverSection& from);
