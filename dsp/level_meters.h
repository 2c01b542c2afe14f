// Meters of a stream for read-outs: per channel the sample peak (falling back
// at 20 dB/s) and the r.m.s. over about 300 ms, and the short-term loudness
// (BS.1770 K-weighting, the mean of the last 3 s, ungated). Interleaved floats
// in the 16-bit scale, one or two channels, fed a block at a time. Nothing in
// here allocates, locks or touches the platform: the audio thread feeds them.
#pragma once

constexpr int shortTermSubBlocks = 30;  // 100 ms sub-blocks in the 3 s window

struct ShortTermLoudness {
    double shelf[5], highPass[5];  // b0 b1 b2 a1 a2 of both K-weighting sections
    double state[2][4];            // per channel: shelf s1, s2, high-pass s1, s2
    double energy;                 // K-weighted sum of squares of the current sub-block
    int fill, length;              // frames in the current sub-block, frames of one
    double sub[shortTermSubBlocks];  // mean squares (channel sum), newest at `newest`
    int newest, count;
};

struct LevelMeter {
    int channels;
    float peakFall;     // what a held peak keeps after one block
    double rmsFactor;   // share of a block's mean square in the running one
    float peak[2];      // 16-bit scale
    double meanSquare[2];
    ShortTermLoudness loudness;
};

// The K-weighting's two sections for a rate (the output stage's leveller uses
// the same).
void kWeightingCoefficients(int rate, double shelf[5], double highPass[5]);

// Set-up for a rate (1..96000) and channel count (1 or 2), for blocks of
// `blockFrames` frames; everything reads silence.
void levelMeterSetup(LevelMeter& m, int rate, int channels, int blockFrames);
// Peaks and r.m.s. of one block of `frames` frames (the length given at set-up).
void levelMeterAdd(LevelMeter& m, const float* x, int frames);
// The short-term loudness of any number of frames.
void shortTermAdd(ShortTermLoudness& s, const float* x, int frames, int channels);
// The same for two meters and two stretches of audio at once (input and
// output): quicker when both meters are at the same point of their sub-blocks.
void shortTermAddPair(ShortTermLoudness& a, const float* x, ShortTermLoudness& b, const float* y,
                      int frames, int channels);
// dBFS of a 16-bit-scale level (peak or r.m.s.), at least `floor`.
float levelDbfs(double level, float floor);
// LUFS of the last 3 s (fewer at the start), at least `floor`.
float shortTermLufs(const ShortTermLoudness& s, float floor);
