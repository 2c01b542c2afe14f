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
// The same at full resolution: float samples in the 16-bit scale in and out,
// the input conversion as for 16-bit samples (so 16-bit values give the same
// chain to the bit), the output 32767 * y (exact in double) rounded to float
// once, neither truncated nor clamped.
void processMultibandFloat(Engine& e, float* samples, int frames, int channels, int rate);

// Scales the first n samples of p frame by frame with the gain g, which falls
// by `down` while threshold < g * (peak `lookahead` frames ahead) and otherwise
// rises by `up` up to maxGain. p must hold n + lookahead * channels samples.
// Returns the new gain (limited to maxGain); readout, if given, receives the
// average gain over the block.
float computeBandGain(float* p, int n, int channels, float gain, float up, float down,
                      float maxGain, float threshold, float* readout,
                      int lookahead = bandLookaheadFrames);

// The held-peak gain computer of one band (the band_hold setting): the
// band's steps, max amp and threshold as floats, its lookahead, the hold
// (lookahead + rate / 50 frames) and the held peak's fall after it (60 dB/s).
struct HeldBandGain {
    float up, down, maxGain, threshold;
    int lookahead, holdFrames;
    float decay;
};
HeldBandGain heldBandGain(const BandParams& band, int lookahead, int rate);
// Scales the first n samples of p frame by frame with the gain, which moves
// towards threshold / (peak held over the lookahead and the hold), at most
// maxGain: down by at most `down` a frame, up by at most `up`, never past it.
// p must hold n + lookahead * channels samples. Returns the new gain; readout,
// if given, receives the average gain over the block.
float computeHeldBandGain(float* p, int n, int channels, float gain, const HeldBandGain& band,
                          HeldPeak& held, float* readout);

// The band split and the bands' gain computers in one pass, with the same
// results bit for bit as
//   splitBands(input, {band[j] + span}, bank, crossovers, n, channels);
//   for j = 0..crossovers: gain[j] = computeBandGain(band[j], n, channels,
//       gain[j], up[j], down[j], maxGain[j], threshold[j], readout ? readout + j
//       : nullptr, lookahead);
// band[j][0..span) must already hold band j's delay history.
void splitAndScaleBands(const float* input, float* const band[4], CrossoverBank& bank,
                        int crossovers, int n, int channels, int span, int lookahead,
                        const float up[4], const float down[4], const float maxGain[4],
                        const float threshold[4], float gain[4], float* readout);

// multibandDelayFrames(rate, channels), the delay D in frames, is declared in
// dsp/engine.h.

// The final conversion: 32767 * y truncated toward zero, kept within
// -32767..32767; not-a-number gives 0.
int16_t multibandOutputSample(float y);

// Block forms of the conversions and the per-sample steps of the processor,
// the same bit for bit as their scalar statements:
// out[i] = multibandOutputSample(y[i]) for i < n;
void multibandOutputSamples(const float* y, int16_t* out, int n);
// input[i] = samples[i] == 0 ? 1e-8f : float(samples[i] / 32767.0);
void multibandInputSamples(const int16_t* samples, float* input, int n);
// The float path's forms: x = samples[i] with not-a-number taken as 0 and
// limited to +-floatSampleBound, then input[i] = x == 0 ? 1e-8f : float(x / 32767.0);
void multibandInputFloats(const float* samples, float* input, int n);
// out[i] = float(32767.0 * y[i]), not-a-number giving 0.
void multibandOutputFloats(const float* y, float* out, int n);
// sum[i] = sum[i] + add[i] (float addition);
void addSamples(float* sum, const float* add, int n);
// samples[i] = float(samples[i] * level);
void scaleSamples(float* samples, int n, double level);
// Each frame (l, r) of the interleaved stereo samples (n / 2 whole frames)
// becomes (float(l - percent * r / 100.0), float(r - percent * l / 100.0)).
void spreadStereo(float* samples, int n, int percent);

// UI thread: publishes a trace buffer for the instance to fill.
void attachTraceBuffer(Engine& e, TraceBuffer* buffer);
// UI thread: withdraws the trace buffer; on return no write of the audio thread
// can still touch it, so the caller may release it.
void detachTraceBuffer(Engine& e);

// For tests: when multibandFailAfter is 0 or more, that many per-block buffer
// requests succeed and the next one fails (then it is -1 again), as when the
// heap is exhausted.
extern int multibandFailAfter;
