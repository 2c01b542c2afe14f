// The multiband stage routines as they were before their speed-ups (see
// reference_stages.cpp); same contracts as the routines of dsp/.
#pragma once

#include <cstdint>

#include "dsp/engine_types.h"

namespace reference {

float limiterAttackCoefficient(int rate, float attackMs);
float limiterReleaseCoefficient(unsigned releaseMs, int rate);
int limiterLookahead(float attackMs, int rate, int maxFrames);
int limiterHoldSamples(unsigned holdMs, int rate);
void limiterEnvelope(const float* signal, float* envelope, int n, int length, int channels,
                     int rate, float attackMs, unsigned releaseMs, int lookahead, int hold,
                     LimiterState& state);
void applyLimiterCurve(float* signal, const float* envelope, int n, int channels,
                       float thresholdDb, float kneeDb, float ratio, float makeupDb);
void softClip(float* samples, int n, int mode);

void splitBand(float* low, float* high, CrossoverBank& bank, int k, int sampleCount,
               int channels);

float computeBandGain(float* p, int n, int channels, float gain, float up, float down,
                      float maxGain, float threshold, float* readout, int lookahead);
int16_t multibandOutputSample(float y);

// The per-sample loops of the processor (spreadStereo: n even).
void inputSamples(const int16_t* samples, float* input, int n);
void scaleSamples(float* out, int n, double level);
void spreadStereo(float* out, int n, int percent);
void outputSamples(const float* out, int16_t* samples, int n);
void addSamples(float* sum, const float* add, int n);

}  // namespace reference
