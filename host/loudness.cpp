#include "host/loudness.h"

#include <ebur128.h>

#include <cmath>
#include <cstdlib>
#include <limits>

namespace {

constexpr double not_measured = std::numeric_limits<double>::quiet_NaN();
// Short-term loudness is read this often (and the first reading this early).
constexpr double step_seconds = 0.2;
constexpr double first_reading_seconds = 0.4;
constexpr double short_term_seconds = 3.0;
// The sample-peak envelope takes the peak of this many steps (1 s).
constexpr long long peak_steps = 5;

double finite_or_nan(double v) { return std::isfinite(v) ? v : not_measured; }

}  // namespace

void PeakCount::add(const float* samples, long long count) {
    double p = peak;
    long long full = 0;
    for (long long i = 0; i < count; ++i) {
        const double v = std::fabs(static_cast<double>(samples[i]));
        p = v > p ? v : p;
        full += v >= 32766.0;
    }
    peak = p;
    fullScale += full;
}

double peak_dbfs(double peak) { return peak > 0 ? 20.0 * std::log10(peak / 32768.0) : not_measured; }

bool meter_start(LoudnessMeter& meter, int rate, int channels, double startSeconds) {
    meter = LoudnessMeter{};
    meter.state = ebur128_init(static_cast<unsigned>(channels), static_cast<unsigned long>(rate),
                               EBUR128_MODE_I | EBUR128_MODE_LRA);
    if (meter.state == nullptr) return false;
    // A mono file is measured as one channel (not as dual mono), as other
    // meters do by default.
    meter.rate = rate;
    meter.channels = channels;
    truePeakMeterStart(meter.truePeak, channels);
    meter.startSeconds = startSeconds;
    meter.stepFrames = static_cast<long long>(std::lround(rate * step_seconds));
    if (meter.stepFrames < 1) meter.stepFrames = 1;
    return true;
}

void meter_add(LoudnessMeter& meter, const float* samples, long long frames) {
    float scaled[4096 * 2];  // one piece, full scale 1.0 (an exact division)
    while (frames > 0) {
        // Up to the next step mark, so that each reading ends on it.
        long long take = meter.stepFrames - meter.frames % meter.stepFrames;
        if (take > frames) take = frames;
        // libebur128 runs fastest on pieces of about 0.1 s (they stay in cache).
        if (take > 4096) take = 4096;
        const long long count = take * meter.channels;
        for (long long i = 0; i < count; ++i) scaled[i] = samples[i] / 32768.0f;
        ebur128_add_frames_float(meter.state, scaled, static_cast<size_t>(take));
        truePeakMeterAddFloat(meter.truePeak, samples, take);
        PeakCount step;
        step.add(samples, count);
        meter.stepPeak = step.peak > meter.stepPeak ? step.peak : meter.stepPeak;
        meter.peaks.peak = step.peak > meter.peaks.peak ? step.peak : meter.peaks.peak;
        meter.peaks.fullScale += step.fullScale;
        meter.frames += take;
        samples += count;
        frames -= take;
        if (meter.frames % meter.stepFrames != 0) continue;

        const double played = static_cast<double>(meter.frames) / meter.rate;
        const double at = meter.startSeconds + played;
        if (meter.frames % (meter.stepFrames * peak_steps) == 0) {
            if (meter.stepPeak > 0) meter.peakEnvelope.push_back({at, peak_dbfs(meter.stepPeak)});
            meter.stepPeak = 0;
        }
        if (played + 1e-9 < first_reading_seconds) continue;
        double shortTerm = -HUGE_VAL;
        if (ebur128_loudness_shortterm(meter.state, &shortTerm) != EBUR128_SUCCESS) continue;
        // Within the first 3 s of a file the window still holds silence
        // before the start; count only what has played.
        if (played < short_term_seconds) shortTerm += 10.0 * std::log10(short_term_seconds / played);
        if (std::isfinite(shortTerm)) meter.shortTerm.push_back({at, shortTerm});
    }
}

LoudnessFigures meter_finish(LoudnessMeter& meter) {
    LoudnessFigures f;
    f.integratedLufs = f.rangeLu = f.truePeakDbtp = not_measured;
    f.samplePeakDbfs = peak_dbfs(meter.peaks.peak);
    f.fullScaleSamples = meter.peaks.fullScale;
    if (meter.state == nullptr) return f;
    double v = 0;
    if (ebur128_loudness_global(meter.state, &v) == EBUR128_SUCCESS) f.integratedLufs = finite_or_nan(v);
    // The range means nothing where the whole is not measurable.
    if (std::isfinite(f.integratedLufs) && ebur128_loudness_range(meter.state, &v) == EBUR128_SUCCESS)
        f.rangeLu = finite_or_nan(v);
    const double top = truePeakMeterPeak(meter.truePeak) / 32768.0;
    if (top > 0) f.truePeakDbtp = 20.0 * std::log10(top);
    ebur128_destroy(&meter.state);
    return f;
}
