// The classic single-band enhancer: stereo widening, analysis high-pass,
// fixed-point gain with lookahead threshold, and its coefficient routine.
#pragma once

#include <cstdint>

// mode 1: classic enhancer only; mode 2: also parse the multiband strings.
void computeClassicCoefficients(int mode, int reset, int rate, int channels);

// High-passed copy of the block in settings.analysisBuffer.
int16_t* analysisHighPass(const int16_t* samples, int frames, int channels);

void enhanceClassic(int16_t* samples, int frames, int channels);
