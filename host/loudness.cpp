#include "host/loudness.h"

#include <ebur128.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

constexpr double not_measured = std::numeric_limits<double>::quiet_NaN();
// Short-term loudness is read this often (and the first reading this early).
constexpr double step_seconds = 0.2;
constexpr double first_reading_seconds = 0.4;
constexpr double short_term_seconds = 3.0;
// The sample-peak envelope takes the peak of this many steps (1 s).
constexpr long long peak_steps = 5;

double finite_or_nan(double v) { return std::isfinite(v) ? v : not_measured; }

// BS.1770's loudness of a mean square energy and back.
constexpr double loudness_offset = -0.691;
double energy_of(double lufs) { return std::isfinite(lufs) ? std::pow(10.0, (lufs - loudness_offset) / 10.0) : 0.0; }

// The short-term loudness at a step mark: from the 100 ms windows where the
// rate has them, else libebur128's own 3 s sum. -HUGE_VAL for silence.
double short_term_now(LoudnessMeter& meter) {
    double lufs = -HUGE_VAL;
    if (meter.windowFrames == 0)
        return ebur128_loudness_shortterm(meter.state, &lufs) == EBUR128_SUCCESS ? lufs : not_measured;
    double sum = 0;
    for (double e : meter.windowEnergy) sum += e;
    return sum > 0 ? loudness_offset + 10.0 * std::log10(sum / 30.0) : -HUGE_VAL;
}

}  // namespace

namespace {

// One pass over a piece: its sample peak and full-scale count, and, where
// `scaled` is given, the samples at full scale 1.0 (an exact division).
void scan(PeakCount& counts, const float* samples, long long count, float* scaled) {
    float p = 0.0f;
    long long full = 0, i = 0;
#if defined(__SSE2__)
    const __m128 magnitude = _mm_castsi128_ps(_mm_set1_epi32(0x7fffffff));
    const __m128 clamp = _mm_set1_ps(32766.0f), unit = _mm_set1_ps(1.0f / 32768.0f);
    __m128 top = _mm_setzero_ps();
    for (; i + 4 <= count;) {
        // Counted in 32-bit lanes, so at most 2^31 samples at a time.
        __m128i fulls = _mm_setzero_si128();
        for (long long end = std::min(count & ~3LL, i + (1LL << 31)); i < end; i += 4) {
            const __m128 x = _mm_loadu_ps(samples + i);
            if (scaled != nullptr) _mm_storeu_ps(scaled + i, _mm_mul_ps(x, unit));
            const __m128 v = _mm_and_ps(x, magnitude);
            top = _mm_max_ps(v, top);  // a NaN sample is passed over
            fulls = _mm_sub_epi32(fulls, _mm_castps_si128(_mm_cmpge_ps(v, clamp)));
        }
        alignas(16) int32_t lanes[4];
        _mm_store_si128(reinterpret_cast<__m128i*>(lanes), fulls);
        full += static_cast<long long>(lanes[0]) + lanes[1] + lanes[2] + lanes[3];
    }
    alignas(16) float tops[4];
    _mm_store_ps(tops, top);
    p = std::max(std::max(tops[0], tops[1]), std::max(tops[2], tops[3]));
#endif
    for (; i < count; ++i) {
        if (scaled != nullptr) scaled[i] = samples[i] / 32768.0f;
        const float v = std::fabs(samples[i]);
        p = v > p ? v : p;
        full += v >= 32766.0f;
    }
    counts.peak = std::max(counts.peak, static_cast<double>(p));
    counts.fullScale += full;
}

}  // namespace

void PeakCount::add(const float* samples, long long count) { scan(*this, samples, count, nullptr); }

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
    if (rate % 10 == 0 && meter.stepFrames == 2LL * (rate / 10)) meter.windowFrames = rate / 10;
    return true;
}

void meter_add(LoudnessMeter& meter, const float* samples, long long frames) {
    float scaled[4096 * 2];  // one piece, full scale 1.0 (an exact division)
    while (frames > 0) {
        // Up to the next step (or window) mark, so that each reading ends on it.
        const long long mark = meter.windowFrames > 0 ? meter.windowFrames : meter.stepFrames;
        long long take = mark - meter.frames % mark;
        if (take > frames) take = frames;
        // libebur128 runs fastest on pieces of about 0.1 s (they stay in cache).
        if (take > 4096) take = 4096;
        const long long count = take * meter.channels;
        PeakCount step;
        scan(step, samples, count, scaled);
        ebur128_add_frames_float(meter.state, scaled, static_cast<size_t>(take));
        truePeakMeterAddFloat(meter.truePeak, samples, take);
        meter.stepPeak = step.peak > meter.stepPeak ? step.peak : meter.stepPeak;
        meter.peaks.peak = step.peak > meter.peaks.peak ? step.peak : meter.peaks.peak;
        meter.peaks.fullScale += step.fullScale;
        meter.frames += take;
        samples += count;
        frames -= take;
        if (meter.windowFrames > 0 && meter.frames % meter.windowFrames == 0) {
            double window = -HUGE_VAL;
            ebur128_loudness_window(meter.state, 100, &window);
            meter.windowNewest = (meter.windowNewest + 1) % 30;
            meter.windowEnergy[meter.windowNewest] = energy_of(window);
        }
        if (meter.frames % meter.stepFrames != 0) continue;

        const double played = static_cast<double>(meter.frames) / meter.rate;
        const double at = meter.startSeconds + played;
        if (meter.frames % (meter.stepFrames * peak_steps) == 0) {
            if (meter.stepPeak > 0) meter.peakEnvelope.push_back({at, peak_dbfs(meter.stepPeak)});
            meter.stepPeak = 0;
        }
        if (played + 1e-9 < first_reading_seconds) continue;
        double shortTerm = short_term_now(meter);
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
