// Complementary crossover bank: second-order low-pass sections, the band above
// each crossover being the exact remainder.
#pragma once

#include "dsp/engine_types.h"

void designCrossovers(CrossoverBank& bank, const uint16_t crossoverHz[4], int sampleRate);

void splitBand(float* low, float* high, CrossoverBank& bank, int k, int sampleCount,
               int channels);
