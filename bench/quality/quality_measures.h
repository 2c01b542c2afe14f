// The quality benchmark's measures, on plain sample arrays (full scale 1.0):
// THD+N of a steady sine, SMPTE intermodulation, the level modulation of a
// band (the "pumping" figure) and, through libebur128, loudness, loudness
// range and true peak. No file input or output here (see bench_quality.cpp).
#pragma once

#include <cstddef>
#include <vector>

namespace quality {

// THD+N of a sine at `freq` Hz: a least-squares fit of DC plus the sine and
// cosine at that frequency; the r.m.s. of what the fit leaves over the r.m.s.
// of the fitted tone, in dB.
double thdn_db(const std::vector<double>& x, double rate, double freq);

// The amplitude of the component at `freq` Hz by a DFT under a Hann window,
// scaled by the window's sum (a whole number of cycles reads its amplitude).
double hann_amplitude(const std::vector<double>& x, double rate, double freq);

// SMPTE IMD: the sidebands at high +- k * low (k = 1..orders) added by power,
// over the `high` line, in dB.
double smpte_imd_db(const std::vector<double>& x, double rate, double low, double high, int orders = 4);

// A 4th-order Butterworth high-pass at `low` then a 4th-order low-pass at
// `high` (two biquads each), run forward over x.
std::vector<double> band_pass(const std::vector<double>& x, double rate, double low, double high);

// The r.m.s. level of consecutive windows of `window` samples, in dB.
std::vector<double> envelope_db(const std::vector<double>& x, std::size_t window);

// The p-th percentile (0..100) by linear interpolation between ranks.
double percentile(std::vector<double> values, double p);

// p95 - p5 of the 20 ms r.m.s. envelope, in dB: how much a level moves.
double envelope_spread_db(const std::vector<double>& x, double rate);

// The figures of one interleaved recording (full scale 1.0) by libebur128;
// NaN where a figure cannot be had (silence, too short).
struct Loudness {
    double integratedLufs = 0;
    double rangeLu = 0;
    double truePeakDbtp = 0;   // the highest of the channels
    long long fullScale = 0;   // samples at |s| >= 32766 / 32768
};
Loudness loudness(const std::vector<float>& interleaved, int channels, int rate);

}  // namespace quality
