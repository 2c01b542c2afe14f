// The 4x oversampled true-peak detector and a whole-stream meter built on it.
#include "dsp/true_peak.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

// Half the interpolator's span in input samples and the window's shape.
constexpr double halfSpan = truePeakTaps / 2;
constexpr double kaiserBeta = 4.0;

double besselI0(double x) {
    double sum = 1.0, term = 1.0;
    for (int k = 1; k < 30; ++k) {
        term *= (x / (2.0 * k)) * (x / (2.0 * k));
        sum += term;
    }
    return sum;
}

double windowedSinc(double t, double cutoff) {
    const double u = t / halfSpan;
    if (u <= -1.0 || u >= 1.0) return 0.0;
    const double pi = 3.14159265358979323846;
    const double x = pi * cutoff * t;
    const double sinc = t == 0.0 ? 1.0 : std::sin(x) / x;
    return sinc * besselI0(kaiserBeta * std::sqrt(1.0 - u * u)) / besselI0(kaiserBeta);
}

}  // namespace

float largestMagnitude(const float* x, int n) {
    float top = 0.0f;
    int i = 0;
#if defined(__SSE2__)
    const __m128 magnitude = _mm_castsi128_ps(_mm_set1_epi32(0x7fffffff));
    __m128 lanes = _mm_setzero_ps();
    for (; i + 4 <= n; i += 4) lanes = _mm_max_ps(lanes, _mm_and_ps(_mm_loadu_ps(x + i), magnitude));
    alignas(16) float tops[4];
    _mm_store_ps(tops, lanes);
    top = std::max(std::max(tops[0], tops[1]), std::max(tops[2], tops[3]));
#endif
    for (; i < n; ++i) {
        const float v = std::fabs(x[i]);
        top = v > top ? v : top;
    }
    return top;
}

void designTruePeakFilter(TruePeakFilter& f, double cutoff) {
    f.bound = 1.0f;
    for (int p = 0; p < 3; ++p) {
        const double fraction = (p + 1) / 4.0;
        double taps[truePeakTaps], sum = 0.0;
        // Tap k weighs x[m + k]; the point lies `fraction` after x[m + lag - 1].
        for (int k = 0; k < truePeakTaps; ++k) {
            taps[k] = windowedSinc(truePeakLag - 1 + fraction - k, cutoff);
            sum += taps[k];
        }
        double magnitude = 0.0;
        for (int k = 0; k < truePeakTaps; ++k) {
            f.phase[p][k] = static_cast<float>(taps[k] / sum);  // unity gain at 0 Hz
            magnitude += std::fabs(taps[k] / sum);
        }
        if (magnitude > f.bound) f.bound = static_cast<float>(magnitude * 1.0001);
    }
}

void truePeakBlock(const TruePeakFilter& f, const float* x, int n, float* out) {
    int m = 0;
#if defined(__SSE2__)
    const __m128 magnitudeMask = _mm_castsi128_ps(_mm_set1_epi32(0x7fffffff));
    for (; m + 4 <= n; m += 4) {
        __m128 a1 = _mm_setzero_ps(), a2 = _mm_setzero_ps(), a3 = _mm_setzero_ps();
        for (int k = 0; k < truePeakTaps; ++k) {
            const __m128 v = _mm_loadu_ps(x + m + k);
            a1 = _mm_add_ps(a1, _mm_mul_ps(_mm_set1_ps(f.phase[0][k]), v));
            a2 = _mm_add_ps(a2, _mm_mul_ps(_mm_set1_ps(f.phase[1][k]), v));
            a3 = _mm_add_ps(a3, _mm_mul_ps(_mm_set1_ps(f.phase[2][k]), v));
        }
        const __m128 s = _mm_loadu_ps(x + m + truePeakLag - 1);
        __m128 top = _mm_max_ps(_mm_and_ps(s, magnitudeMask), _mm_and_ps(a1, magnitudeMask));
        top = _mm_max_ps(top, _mm_max_ps(_mm_and_ps(a2, magnitudeMask), _mm_and_ps(a3, magnitudeMask)));
        _mm_storeu_ps(out + m, top);
    }
#endif
    for (; m < n; ++m) {
        float top = std::fabs(x[m + truePeakLag - 1]);
        for (int p = 0; p < 3; ++p) {
            float a = 0.0f;
            for (int k = 0; k < truePeakTaps; ++k) a += f.phase[p][k] * x[m + k];
            a = std::fabs(a);
            top = a > top ? a : top;
        }
        out[m] = top;
    }
}

float truePeakBlockMax(const TruePeakFilter& f, const float* x, int n) {
    float block[64];
    float top = 0.0f;
    for (int m = 0; m < n; m += 64) {
        const int count = n - m < 64 ? n - m : 64;
        truePeakBlock(f, x + m, count, block);
        const float t = largestMagnitude(block, count);
        top = t > top ? t : top;
    }
    return top;
}

// ---- The meter ------------------------------------------------------------------

namespace {

constexpr int meterChunk = 1024;
constexpr int history = truePeakTaps - 1;

// One channel's chunk (history first): only stretches that could beat the
// peak so far are interpolated.
float chunkPeak(const TruePeakFilter& f, const float* x, int n, float peak) {
    for (int m = 0; m < n; m += 64) {
        const int count = n - m < 64 ? n - m : 64;
        if (largestMagnitude(x + m, count + history) * f.bound <= peak) continue;
        const float t = truePeakBlockMax(f, x + m, count);
        peak = t > peak ? t : peak;
    }
    return peak;
}

// The largest magnitude of a piece's samples, both channels at once.
float pieceTop(const float* x, int count) { return largestMagnitude(x, count); }
float pieceTop(const int16_t* x, int count) {
    int top = 0;
    for (int i = 0; i < count; ++i) top = std::max(top, std::abs(static_cast<int>(x[i])));
    return static_cast<float>(top);
}

template <typename Sample>
void meterAdd(TruePeakMeter& m, const Sample* samples, long long frames) {
    float buffer[history + meterChunk];
    while (frames > 0) {
        const int n = frames < meterChunk ? static_cast<int>(frames) : meterChunk;
        // Most pieces cannot beat the peak so far: only their last frames
        // are kept, for the next piece's interpolation.
        float top = pieceTop(samples, n * m.channels);
        for (int c = 0; c < m.channels; ++c) top = std::max(top, largestMagnitude(m.history[c], history));
        if (top * m.filter.bound <= m.peak) {
            for (int c = 0; c < m.channels; ++c) {
                const int kept = n < history ? history - n : 0;
                for (int i = 0; i < kept; ++i) m.history[c][i] = m.history[c][i + n];
                for (int i = kept; i < history; ++i)
                    m.history[c][i] = static_cast<float>(samples[(n - history + i) * m.channels + c]);
            }
            samples += static_cast<long long>(n) * m.channels;
            frames -= n;
            continue;
        }
        for (int c = 0; c < m.channels; ++c) {
            for (int i = 0; i < history; ++i) buffer[i] = m.history[c][i];
            for (int i = 0; i < n; ++i) buffer[history + i] = static_cast<float>(samples[i * m.channels + c]);
            m.peak = chunkPeak(m.filter, buffer, n, m.peak);
            for (int i = 0; i < history; ++i) m.history[c][i] = buffer[n + i];
        }
        samples += static_cast<long long>(n) * m.channels;
        frames -= n;
    }
}

}  // namespace

void truePeakMeterStart(TruePeakMeter& m, int channels) {
    designTruePeakFilter(m.filter, truePeakMeterCutoff);
    m.channels = channels < 1 ? 1 : channels > 2 ? 2 : channels;
    for (auto& h : m.history)
        for (float& v : h) v = 0.0f;
    m.peak = 0.0f;
}

void truePeakMeterAddFloat(TruePeakMeter& m, const float* samples, long long frames) {
    meterAdd(m, samples, frames);
}

void truePeakMeterAdd16(TruePeakMeter& m, const int16_t* samples, long long frames) {
    meterAdd(m, samples, frames);
}

float truePeakMeterPeak(const TruePeakMeter& m) {
    float peak = m.peak;
    for (int c = 0; c < m.channels; ++c) {
        float tail[history + truePeakLag] = {};
        for (int i = 0; i < history; ++i) tail[i] = m.history[c][i];
        const float t = truePeakBlockMax(m.filter, tail, truePeakLag);
        peak = t > peak ? t : peak;
    }
    return peak;
}
