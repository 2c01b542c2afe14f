// The output stage's two parts as the stage's driver calls them; not for use
// outside dsp/output_*.cpp.
#pragma once

#include "dsp/output_stage.h"

// Frames the driver hands each part at a time.
constexpr int stageChunk = 64;

// Leveller (output_leveller.cpp).
void levellerSetup(LevellerState& l, int rate, float targetLufs);
// Measures the chunk's K-weighted loudness, then applies the leveller's gain in place.
void levelChunk(LevellerState& l, float* x, int n, int channels);
// LUFS of a K-weighted mean square (channel sum) in the 16-bit scale.
float levellerLoudness(double energy);
// The programme's loudness told from outside: the gain to target - lufs at once.
void levellerTell(LevellerState& l, float lufs);

// The programme mode's balance cue (programme_balance.cpp).
void balanceSetup(BalanceState& b, int rate);
// Adds the chunk (before the leveller's gain) to the current sub-block.
void balanceMeasure(BalanceState& b, const float* x, int n, int channels);
// Closes the sub-block.
void balanceEndBlock(BalanceState& b);
// A new programme: its balance is measured afresh.
void balanceRestart(BalanceState& b);
// dB between the low and high shares of the last 3 s and of the up to 10 s
// before them since the programme began (0 until 5 s are known).
double balanceChange(const BalanceState& b);

// Ceiling (output_ceiling.cpp).
void ceilingSetup(CeilingState& c, int rate, int lookahead, float ceiling);
// The gain back at 1 with nothing held, keeping the delay line's audio.
void ceilingRestart(CeilingState& c);
// The long release on or off (back to the fixed 60 ms).
void ceilingLongRelease(CeilingState& c, bool on);
// Delays the chunk by the stage's lookahead and, while the ceiling is on,
// limits it. Returns the lowest gain applied.
float ceilingChunk(OutputStage& s, float* x, int n);
