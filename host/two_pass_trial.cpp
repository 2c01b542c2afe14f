#include "host/two_pass_trial.h"

#include <cmath>

bool trial_landed(double target, const TrialPoint& last) {
    return !std::isfinite(target) || !std::isfinite(last.told) || !std::isfinite(last.after) ||
           std::fabs(target - last.after) <= trialTolerance;
}

double next_told(double target, double measured, const TrialPoint& last, const TrialPoint& before) {
    if (trial_landed(target, last) || !std::isfinite(measured)) return last.told;
    // The gain is target - told, so a lower told value is a higher gain.
    double share = 1.0;
    const double gainStep = before.told - last.told;
    if (std::isfinite(before.after) && std::fabs(gainStep) > 1e-6) {
        share = (last.after - before.after) / gainStep;
        share = share < 0.25 ? 0.25 : share > 1.0 ? 1.0 : share;
    }
    const double told = last.told - (target - last.after) / share;
    return std::fmin(std::fmax(told, measured - maximumCorrection), measured + maximumCorrection);
}
