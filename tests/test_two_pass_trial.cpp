// The correction of a file's told loudness after a trial of the whole chain
// (dsphost --two-pass): what it moves by, how it allows for the ceiling's
// share of a change of gain, and where it stops.
#include <gtest/gtest.h>

#include <cmath>

#include "host/two_pass_trial.h"

namespace {

constexpr double none = NAN;

struct TrialCase {
    const char* what;
    double target, measured;
    TrialPoint last, before;
    double told;
};

const TrialCase trialCases[] = {
    {"landed: told as before", -16.0, -28.0, {-28.0, -16.03}, {none, none}, -28.0},
    {"0.4 LU short after one trial: 0.4 LU lower", -16.0, -28.0, {-28.0, -16.4}, {none, none}, -28.4},
    {"0.2 LU loud: 0.2 LU higher", -16.0, -20.0, {-20.0, -15.8}, {none, none}, -19.8},
    {"half of the last step reached the output: twice the shortfall", -16.0, -28.0, {-28.4, -16.2},
     {-28.0, -16.4}, -28.8},
    {"the whole step reached it: the shortfall", -16.0, -28.0, {-28.4, -16.1}, {-28.0, -16.5}, -28.5},
    {"almost none of it: a quarter at least", -16.0, -28.0, {-28.4, -16.39}, {-28.0, -16.4}, -29.96},
    {"output fell as the gain rose: a quarter", -16.0, -28.0, {-28.4, -16.5}, {-28.0, -16.4}, -30.4},
    {"no further than 3 LU from the measured value", -16.0, -28.0, {-28.0, -22.0}, {none, none}, -31.0},
    {"nor above it", -16.0, -28.0, {-28.0, -10.0}, {none, none}, -25.0},
    {"no target (leveller off)", none, -28.0, {-28.0, -17.0}, {none, none}, -28.0},
    {"silent after the chain", -16.0, -28.0, {-28.0, none}, {none, none}, -28.0},
    {"silent before it", -16.0, none, {-28.0, -17.0}, {none, none}, -28.0},
};

TEST(TwoPassTrial, NextToldFollowsWhatTheChainLeftAndStopsAtItsBounds) {
    for (const TrialCase& c : trialCases) {
        const double told = next_told(c.target, c.measured, c.last, c.before);
        EXPECT_NEAR(told, c.told, 1e-9) << c.what;
    }
}

TEST(TwoPassTrial, LandedWithinTheToleranceOrWithNothingToCorrect) {
    EXPECT_TRUE(trial_landed(-16.0, {-28.0, -16.0 - 0.9 * trialTolerance}));
    EXPECT_TRUE(trial_landed(-16.0, {-28.0, -16.0 + 0.9 * trialTolerance}));
    EXPECT_FALSE(trial_landed(-16.0, {-28.0, -16.0 - 1.1 * trialTolerance}));
    EXPECT_FALSE(trial_landed(-16.0, {-28.0, -16.0 + 1.1 * trialTolerance}));
    EXPECT_TRUE(trial_landed(none, {-28.0, -17.0}));
    EXPECT_TRUE(trial_landed(-16.0, {-28.0, none}));
    EXPECT_TRUE(trial_landed(-16.0, {none, -17.0}));
}

}  // namespace
