// dsphost --two-pass: how the loudness told for a file is corrected after a
// trial run of the whole chain, so that the file lands on the target after
// the ceiling (which takes loudness with the peaks of a file raised into it).
#pragma once

// A file's loudness as told to the leveller in a trial and the file's
// integrated loudness after the chain with it (NaN told: no such trial).
struct TrialPoint {
    double told, after;
};

// Trials before the second pass at most, and how near the target a file
// must land (LU) for no further trial to be needed.
constexpr int maximumTrials = 2;
constexpr double trialTolerance = 0.05;
// The most a file's told loudness moves from its measured loudness (LU):
// beyond it a file is left quieter rather than pushed further into the
// ceiling.
constexpr double maximumCorrection = 3.0;

// True when the last trial left the file within trialTolerance of the
// target, or there is nothing to correct (silence, no target).
bool trial_landed(double target, const TrialPoint& last);
// The loudness to tell next: the last told value moved by what the file
// still lacked after the chain, divided by how much of a change of gain
// reached the output between the last two trials (the ceiling takes part of
// it; taken as 1 after one trial, and held within 0.25..1), and kept within
// maximumCorrection of the measured loudness. The last told value when there
// is nothing to correct.
double next_told(double target, double measured, const TrialPoint& last, const TrialPoint& before);
