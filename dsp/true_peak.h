// True peak by 4x oversampling: a polyphase interpolator (a Kaiser-windowed
// sinc of 48 taps, 12 per phase) computes the three points between every two
// samples, in the manner of ITU-R BS.1770-4 Annex 2. Used by the output
// stage's ceiling and by dsphost's meter.
#pragma once

#include <cstdint>

constexpr int truePeakTaps = 12;  // taps per phase
// The interpolated points between samples t and t + 1 are known once sample
// t + truePeakLag has arrived.
constexpr int truePeakLag = truePeakTaps / 2;

struct TruePeakFilter {
    float phase[3][truePeakTaps];  // the points 1/4, 2/4 and 3/4 between two samples
    float bound;                   // the largest sum of |taps| of a phase (at least 1)
};

// Cut-offs relative to the input's Nyquist frequency: the meter's reads within
// 0.1 dB of libebur128's on music and hostile signals; the limiter's keeps
// everything up to the Nyquist frequency and so reads noise-like content near
// it (cymbals, clipping) a little higher, never lower.
constexpr double truePeakMeterCutoff = 0.94;
constexpr double truePeakLimiterCutoff = 1.0;

void designTruePeakFilter(TruePeakFilter& f, double cutoff);

// x holds truePeakTaps - 1 samples of history followed by n samples of one
// channel. out[m] is the largest magnitude on [t, t + 1), t the sample
// x[m + truePeakLag - 1]: the sample itself and the three points after it.
void truePeakBlock(const TruePeakFilter& f, const float* x, int n, float* out);
// The largest out[m] of truePeakBlock, without storing them.
float truePeakBlockMax(const TruePeakFilter& f, const float* x, int n);
// The largest |x[i]| of n samples (0 for none); with bound, whether a stretch
// can reach a level at all.
float largestMagnitude(const float* x, int n);

// A meter of the highest true peak of a stream, interleaved, 1 or 2 channels.
struct TruePeakMeter {
    TruePeakFilter filter;
    int channels;
    float history[2][truePeakTaps - 1];
    float peak;  // in the units of the samples given
};

void truePeakMeterStart(TruePeakMeter& m, int channels);
void truePeakMeterAddFloat(TruePeakMeter& m, const float* samples, long long frames);
void truePeakMeterAdd16(TruePeakMeter& m, const int16_t* samples, long long frames);
// The highest true peak so far, the stream's end taken as followed by silence.
float truePeakMeterPeak(const TruePeakMeter& m);
