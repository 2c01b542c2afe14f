// Lookahead peak limiter and the two soft-clip curves of the multiband engine.
#pragma once

#include <cstdint>

#include "dsp/engine_types.h"

// Attack coefficient exp(-1 / (rate * attack / 1000)); a time constant that is
// not positive (or not a number) gives 0, an instant attack.
float limiterAttackCoefficient(int rate, float attackMs);
// Release coefficient exp(-1 / t), t = (releaseMs * rate) / 1000 in integer
// arithmetic; t = 0 gives 0, an instant release.
float limiterReleaseCoefficient(unsigned releaseMs, int rate);
// Lookahead in frames: attackMs * rate / 1000 truncated, within 0..maxFrames
// (any value, NaN included, converts to a defined count).
int limiterLookahead(float attackMs, int rate, int maxFrames);
// Hold in samples: holdMs * rate / 1000, limited to the 16-bit hold count.
int limiterHoldSamples(unsigned holdMs, int rate);

// Envelope of S (length samples, of which the first n are the block to output)
// into E: a backward attack pass starting at most `lookahead` samples past n,
// then the forward release/hold pass over the first n samples, which carries
// its values in `state` from block to block.
void limiterEnvelope(const float* signal, float* envelope, int n, int length, int channels,
                     int rate, float attackMs, unsigned releaseMs, int lookahead, int hold,
                     LimiterState& state);

// Multiplies each sample by the static curve's gain for its envelope value (in
// stereo the larger envelope of the frame). Signal and envelope may be the same
// buffer in mono; n is a whole number of frames. A ratio of 1.0 or less means
// no reduction.
void applyLimiterCurve(float* signal, const float* envelope, int n, int channels,
                       float thresholdDb, float kneeDb, float ratio, float makeupDb);

// limiterEnvelope followed by applyLimiterCurve(signal, envelope, n, channels,
// ...) with the same results bit for bit (signal, envelope, state), the
// release pass and the curve's level pass interleaved.
void limitBlock(float* signal, float* envelope, int n, int length, int channels, int rate,
                float attackMs, unsigned releaseMs, int lookahead, int hold, LimiterState& state,
                float thresholdDb, float kneeDb, float ratio, float makeupDb);

// mode 1: x - x^3/6 up to sqrt(2), then +-0.9428090453; mode 2: clamp to
// [-1, 1], then 1.5x - 0.5x^3; any other mode leaves the samples alone.
void softClip(float* samples, int n, int mode);
