// Loudness after BS.1770 / EBU R128: integrated loudness and loudness range
// through libebur128, true peak through the output stage's 4x oversampled
// detector (dsp/true_peak.h), and the short-term loudness and sample-peak
// envelope over time for the picture. Samples are floats in the 16-bit scale
// (full scale 32768); sample peak and full-scale count are exact on them.
#pragma once

#include <cstdint>
#include <vector>

#include <ebur128.h>

#include "dsp/true_peak.h"

struct PlotPoint {
    double seconds;  // from the start of the run
    double value;    // LUFS or dBFS
};

// The figures of one file, one side (before or after). A figure that cannot
// be measured (silence, or audio too short) is NaN.
struct LoudnessFigures {
    double integratedLufs = 0;
    double rangeLu = 0;
    double samplePeakDbfs = 0;
    double truePeakDbtp = 0;
    long long fullScaleSamples = 0;
};

// Counts that dsphost always keeps: the sample peak and the samples at or
// beyond the classic chain's clamp, |s| >= 32766.
struct PeakCount {
    double peak = 0;
    long long fullScale = 0;
    void add(const float* samples, long long count);
};

struct LoudnessMeter {
    ebur128_state* state = nullptr;
    int rate = 0;
    int channels = 0;
    long long frames = 0;       // frames measured so far
    double startSeconds = 0;    // where this file begins in the run
    long long stepFrames = 0;   // one plot point per step
    // Short-term loudness from the last 30 energies of 100 ms windows (one
    // 100 ms sum per window instead of a 3 s sum per reading); 0 frames where
    // the rate has no whole 100 ms, and libebur128 sums the 3 s itself.
    long long windowFrames = 0;
    double windowEnergy[30] = {};
    int windowNewest = 0;
    double stepPeak = 0;
    PeakCount peaks;
    TruePeakMeter truePeak;
    std::vector<PlotPoint> shortTerm;  // short-term loudness, every step
    std::vector<PlotPoint> peakEnvelope;  // sample peak of each step, dBFS
};

// False when libebur128 cannot set up a meter (no memory).
bool meter_start(LoudnessMeter& meter, int rate, int channels, double startSeconds);
void meter_add(LoudnessMeter& meter, const float* samples, long long frames);
// Reads the figures and releases the libebur128 state.
LoudnessFigures meter_finish(LoudnessMeter& meter);

// Peak in dBFS of a sample value in the 16-bit scale (NaN for 0).
double peak_dbfs(double peak);
