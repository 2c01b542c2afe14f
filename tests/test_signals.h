// Generated test material for the output stage: music-like programme and the
// hostile signals of a true-peak limiter, as interleaved floats in the 16-bit
// scale (full scale 32768). Deterministic: the same arguments give the same samples.
#pragma once

#include <cstdint>
#include <vector>

namespace signals {

// Music-like programme: a kick and a snare on a 120 bpm beat, a bass line,
// a chord with tremolo and pink noise, in sections of 4 to 12 s whose levels
// differ by up to sectionRangeDb. `seed` varies the piece. Unscaled (about -20 LUFS).
std::vector<float> music(int rate, int channels, double seconds, uint32_t seed, double sectionRangeDb = 3.0);

// Hostile signals at 0 dBFS sample peaks.
std::vector<float> quarterRateSine(int rate, int channels, double seconds);  // fs/4, 45 degrees
std::vector<float> square(int rate, int channels, double seconds, double hz);
std::vector<float> clippedPinkNoise(int rate, int channels, double seconds);

// Integrated loudness (LUFS) and true peak (dBTP) by libebur128.
double integratedLufs(const std::vector<float>& x, int rate, int channels);
double truePeakDbtp(const std::vector<float>& x, int rate, int channels);
// Scales x so that its integrated loudness is `lufs`.
void setLoudness(std::vector<float>& x, int rate, int channels, double lufs);
// Samples at or beyond the 16-bit clamp (|round(x)| >= 32766).
long long fullScaleSamples(const std::vector<float>& x);

}  // namespace signals
