// Records of the audio engine: the numeric parameters derived from the
// multiband strings, the crossover bank, and the run-time state of every stage.
// Plain data only; the routines that use them live beside this file.
#pragma once

#include <cstdint>

// Classic enhancer coefficients, derived from amp_max, amp_up and amp_dwn.
struct ClassicCoefficients {
    float gainCeiling;   // the gain is raised only while below this value
    float gainUpStep;    // added to the gain per frame while raising
    float gainDownStep;  // subtracted from the gain per frame while reducing
};

// One equalizer band's filter memory, index 0 left (or mono), 1 right.
struct EqBandState {
    int32_t x0[2];
    int32_t x1[2];
    int32_t x2[2];
    int32_t y1[2];
    int32_t y2[2];
};

// The same memory for the full-resolution path, which keeps the filter's
// values unrounded (doubles) between samples.
struct EqBandFloatState {
    double x1[2];
    double x2[2];
    double y1[2];
    double y2[2];
};

struct BandParams {
    double maxGain;    // linear gain ceiling
    double upStep;     // gain added per frame while below threshold
    double downStep;   // gain removed per frame while above threshold
    double threshold;  // linear amplitude, full scale 1.0
};

struct LimiterParams {
    double thresholdDb;
    uint16_t releaseMs;
    double ceilingDb;
    double kneeDb;
    double ratio;
    double attackMs;
    uint16_t holdMs;
};

struct MultibandParams {
    int32_t multibandOn;
    int32_t agcOn;
    uint16_t crossoverHz[4];
    BandParams bands[4];
    double level;
    int32_t stereoPercent;
    int32_t limiterOn;
    uint8_t softClipMode;  // 0 none, 1 curve 1 ('s'), 2 curve 2 ('h')
    LimiterParams limiter;
};

// One second-order low-pass section in transposed direct form II.
struct CrossoverSection {
    float b0, b1, b2;
    float a1, a2;
    float normalisedFrequency;
    float q;
    float s1, s2;
};

// Six sections: index 2k + c for crossover k (0..2) and channel c (0..1).
struct CrossoverBank {
    CrossoverSection sections[6];
};

// Everything the audio thread needs from one parse of the multiband strings.
// The bank carries only coefficients here; the engine keeps its own states.
struct MultibandConfig {
    MultibandParams params;
    CrossoverBank design;
};

constexpr int traceLength = 1000;

// Capture for the limiter graph: output, limiter input, envelope; channel 0.
struct TraceBuffer {
    float values[3 * traceLength];
};

constexpr int bandHistoryLength = 2000;

// A held-peak band gain computer's peak and the frames its hold has left.
struct HeldPeak {
    float peak;
    int32_t holdLeft;
};

struct MultibandState {
    alignas(8) double bandGains[4];
    alignas(8) double agcGains[2];
    float bandHistories[4][bandHistoryLength];
    CrossoverBank crossovers;
    float bandGainReadouts[4];
    int32_t bandReadoutsOn;     // shared with the UI thread, accessed atomically
    uint16_t soloBand;          // shared with the UI thread, accessed atomically
    TraceBuffer* traceBuffer;   // shared with the UI thread, accessed atomically
    uint32_t traceBlockActive;  // 1 while the audio thread may write the trace buffer
    // The held-peak gain computers (band_hold on); bandHold is the block's setting.
    HeldPeak heldPeaks[4];
    uint8_t bandHold;
};

struct LimiterState {
    float envelope[2];
    uint16_t hold[2];
};
