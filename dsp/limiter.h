// Lookahead peak limiter and the two soft-clip curves of the multiband engine.
#pragma once

#include <cstdint>

void limiterEnvelope(const float* signal, float* envelope, int n, int channels, int rate,
                     float attackMs, unsigned releaseMs, int lookahead, int hold);

void applyLimiterCurve(float* signal, const float* envelope, int n, int channels,
                       float thresholdDb, float kneeDb, float ratio, float makeupDb);

void softClip(float* samples, int n, int mode);
