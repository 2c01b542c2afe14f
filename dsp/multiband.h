// The multiband processor (engine mode 2).
#pragma once

#include <cstdint>

#include "dsp/engine.h"

// Gain computers look this many frames ahead of the sample they scale.
constexpr int bandLookaheadFrames = 150;

// Rewrites one block of 16-bit audio (1 or 2 channels) with the instance's
// adopted parameters (engineMultiband) and state (multiband, limiter). Uses the
// instance's own work buffers when they are large enough, otherwise obtains
// them for the block; when that fails the block and the state stay untouched.
void processMultiband(Engine& e, int16_t* samples, int frames, int channels, int rate);

// Scales the first n samples of p frame by frame with the gain g, which falls
// by `down` while threshold < g * (peak `lookahead` frames ahead) and otherwise
// rises by `up` up to maxGain. p must hold n + lookahead * channels samples.
// Returns the new gain (limited to maxGain); readout, if given, receives the
// average gain over the block.
float computeBandGain(float* p, int n, int channels, float gain, float up, float down,
                      float maxGain, float threshold, float* readout,
                      int lookahead = bandLookaheadFrames);

// multibandDelayFrames(rate, channels), the delay D in frames, is declared in
// dsp/engine.h.

// The final conversion: 32767 * y truncated toward zero, kept within
// -32767..32767; not-a-number gives 0.
int16_t multibandOutputSample(float y);

// UI thread: publishes a trace buffer for the instance to fill.
void attachTraceBuffer(Engine& e, TraceBuffer* buffer);
// UI thread: withdraws the trace buffer; on return no write of the audio thread
// can still touch it, so the caller may release it.
void detachTraceBuffer(Engine& e);

// For tests: when multibandFailAfter is 0 or more, that many per-block buffer
// requests succeed and the next one fails (then it is -1 again), as when the
// heap is exhausted.
extern int multibandFailAfter;
