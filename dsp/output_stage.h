// The output stage after the equalizer and either engine: a slow loudness
// leveller that steers the BS.1770 loudness of what the engine produced to a
// target, then a true-peak ceiling, a lookahead limiter driven by a 4x
// oversampled peak detector. Interleaved float samples in the 16-bit scale
// (full scale 32768.0), mono or stereo, any rate up to 96000 Hz.
//
// Usage as a plug-in instance: outputStageSetup once (not real-time safe,
// but allocates nothing), the setters whenever a block's settings say so, then
// processOutputStage per block on the audio thread. Statistics are read back
// between blocks. Nothing in here allocates, locks or touches the platform.
#pragma once

#include <cstdint>

#include "dsp/true_peak.h"

// The stage's lookahead in frames: rate / 500 (2 ms), at least 16. Audio
// leaves the stage this many frames late whenever the stage runs (either of
// its switches on). 88 frames at 44100 Hz, 96 at 48000, 192 at 96000.
int outputStageLatency(int rate);

constexpr int outputStageMaxLookahead = 96000 / 500;
// Frames of 100 ms sub-blocks kept for the 3 s short-term loudness.
constexpr int levellerHistory = 30;
// Momentary readings (100 ms apart) in the programme mode's mean: 10 s.
constexpr int levellerProgrammeWindow = 100;

// Sub-blocks of the programme mode's balance history: the last 3 s and the
// 10 s before them.
constexpr int balanceRecent = 30;
constexpr int balanceHistory = 130;

// The programme mode's coarse spectral balance: the energy of the channels'
// sum in all, below 200 Hz and above 3 kHz, per 100 ms sub-block.
struct BalanceState {
    double lowCoefficient, highCoefficient;  // one-pole low-passes at 200 Hz and 3 kHz
    double low, high;                        // their states
    double pending;                          // the first frame of a pair, summed
    bool odd;                                // a frame is pending
    double block[3];                         // the current sub-block: all, low, high
    double ring[balanceHistory][3];          // newest at `newest`
    int newest, count;                       // count: sub-blocks since the programme began
};

// The loudness leveller: K-weighting, gated running loudness, gain.
struct LevellerState {
    double k[2][4];          // per channel: shelf s1, s2, high-pass s1, s2
    double shelf[5];         // b0 b1 b2 a1 a2
    double highPass[5];
    double blockEnergy;      // K-weighted sum of squares of the current sub-block
    int blockFill;           // frames in the current sub-block
    int blockLength;         // frames of a 100 ms sub-block
    double subEnergy[levellerHistory];  // mean squares (channel sum), newest at subNewest
    int subNewest, subCount;
    double estimate;         // gated running mean energy of the current programme
    double count;            // blocks the running mean stands for
    // The programme mode's mean: the momentary energies it took, newest at
    // meanNewest (count of them, at most levellerProgrammeWindow).
    double meanEnergy[levellerProgrammeWindow];
    int meanNewest;
    int silentBlocks, louderBlocks, jumpBlocks;
    bool programme;          // a programme has been measured
    float targetLufs;
    float gainDb;            // where the gain is heading (at the end of the current ramp)
    float gain, gainStep;    // linear gain at the next frame and its change per frame
    // The choices (0 for the running mean of 1.5 s, no brake).
    int mode;                // levellerRunning or levellerProgramme
    bool brake;              // give up loudness where the ceiling takes more than brakeAllowance
    bool told;               // the programme's loudness was told (two passes): no restarts
    float brakeDb;           // loudness given up for the ceiling
    float ceilingTakenDb;    // the ceiling's deepest reduction during the current sub-block
    int brakeIdle;           // sub-blocks the brake still ignores the ceiling for
    BalanceState balance;    // the programme mode's only
};

constexpr int levellerRunning = 0;    // a running mean of 1.5 s
constexpr int levellerProgramme = 1;  // a long-term mean per programme

// The ceiling: delay line, detector history, hold, release and attack.
struct CeilingState {
    float ceiling;                 // linear, 16-bit scale
    int attack;                    // frames of the gain ramp in front of a peak
    int hold;                      // window of the minimum: attack + 2 * ceilingGuard
    int delay;                     // frames in the delay line (the stage's lookahead)
    float releaseFactor;           // what is left of a rise after one frame
    float delayLine[2 * outputStageMaxLookahead];
    int delayPosition;
    // The minimum over the hold window, in blocks of `hold` frames: the
    // required gains of the current block, the minima of the previous block
    // from each frame to its end (and 1 after it), the current block's
    // minimum so far, and the last frame's minimum over the window.
    float holdValues[outputStageMaxLookahead + 1];
    float holdSuffix[outputStageMaxLookahead + 2];
    int holdPosition;
    float holdPrefix, lastHold;
    bool holdClear;                // all of it 1, blocks starting afresh
    float held, rise;              // the gain after the release: held + rise, rise <= 0
    float boxValues[outputStageMaxLookahead + 1];
    int boxPosition;
    double boxSum;
    int quietFrames;               // frames since the gain was last below 1
    // The long release (off by default): the release time grows with the
    // seconds spent limiting, which fall at half speed while not limiting.
    bool longRelease;
    float baseReleaseFactor;       // the fixed release's factor
    float limitingSeconds;
    int rate;
};

struct OutputStageStatistics {
    float levellerGainDb;     // gain the leveller heads for
    float programmeLufs;      // the leveller's running loudness of its input (NaN before any)
    float ceilingGainDb;      // lowest ceiling gain of the last block
    int64_t ceilingFrames;    // frames processed with the ceiling's gain below 1
};

struct OutputStage {
    int rate;
    int channels;
    int lookahead;
    bool levelling, limiting;
    bool running;             // processed since the last set-up or switch-on
    TruePeakFilter filter;
    float detectorHistory[2][truePeakTaps];
    LevellerState leveller;
    CeilingState limiter;
    OutputStageStatistics statistics;
    uint32_t toldSequence;    // the last told programme loudness taken (see EngineControls)
};

// Set-up for a stream (rate 1..96000, channels 1 or 2): clears every state,
// both parts off, target -16 LUFS, ceiling -1 dBTP. Returns false for a
// format the stage does not take (it then passes audio through unchanged).
bool outputStageSetup(OutputStage& s, int rate, int channels);
// The switches and values as a block's settings carry them: target in tenths
// of a LU below 0 (50..400), ceiling in tenths of a dB below 0 dBTP (0..120).
// Switching the stage on from off starts it afresh (empty delay line).
void outputStageSettings(OutputStage& s, bool levelling, int targetTenths, bool limiting,
                         int ceilingTenths);
// The choices beyond the switches, off at 0 (as the set-up leaves them):
// levellerMode levellerRunning or levellerProgramme; ceilingMode 0 a fixed
// 60 ms release, 1 a release that grows with how long the ceiling has been
// limiting, 2 that and the brake (the leveller gives up the loudness the
// ceiling would otherwise take beyond 3 dB).
void outputStageModes(OutputStage& s, int levellerMode, int ceilingMode);
// Tells the leveller the integrated loudness of the programme that starts
// with the next block (a first pass measured it): the gain goes to target -
// lufs at once and stays there through the programme. Real-time safe.
void outputStageProgramme(OutputStage& s, float lufs);
// Processes a block in place; the output lags by outputStageLatency frames.
void processOutputStage(OutputStage& s, float* samples, int frames);
