// Three peaking (bell) filters in series over a 32-bit copy of the block.
//
// Each band is a biquad from the bilinear transform of
//   H(s) = (s²/ω0² + (3 + g)·s/ω0 + 1) / (s²/ω0² + (3 − g)·s/ω0 + 1),
// with float coefficients, the filter sum formed in double and the output
// truncated to a 32-bit integer. The bands run in series; since band j at
// frame n needs only band j − 1's output at frame n, all active bands are run
// frame by frame in one pass, which gives the same values as one pass per band.
#include "dsp/equalizer.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

EqualizerAllocator equalizerAllocate = &std::malloc;

namespace {

constexpr int32_t sampleLimit = 32766;

struct ActiveBand {
    double b0, b1, b2, a1, a2;
    EqBandState* state;
    EqBandFloatState* floatState;  // the full-resolution path's memory
};

// The filter output as a 32-bit integer: truncated toward zero, saturating.
inline double truncateToInt32(double y) {
    y = y < 2147483647.0 ? y : 2147483647.0;  // NaN lands here too
    y = y > -2147483648.0 ? y : -2147483648.0;
    return static_cast<double>(static_cast<int32_t>(y));
}

// One band's memory for one channel, in doubles, which hold the 32-bit
// integers exactly.
struct BandMemory {
    double x0, x1, x2, y1, y2;
};

inline double filterStep(const ActiveBand& b, BandMemory& m, double v) {
    m.x2 = m.x1;
    m.x1 = m.x0;
    m.x0 = v;
    const double y = b.b0 * m.x0 + b.b1 * m.x1 + b.b2 * m.x2 - b.a1 * m.y1 - b.a2 * m.y2;
    m.y2 = m.y1;
    m.y1 = truncateToInt32(y);
    return m.y1;
}

// Runs NB bands in series over one channel's or both channels' samples.
template <int CH, int NB>
void runBands(int32_t* work, int64_t frames, const ActiveBand* bands) {
    ActiveBand coefficients[NB];
    BandMemory memory[NB][CH];
    for (int j = 0; j < NB; ++j) {
        coefficients[j] = bands[j];
        for (int c = 0; c < CH; ++c) {
            const EqBandState& s = *bands[j].state;
            memory[j][c] = BandMemory{static_cast<double>(s.x0[c]), static_cast<double>(s.x1[c]),
                                      static_cast<double>(s.x2[c]), static_cast<double>(s.y1[c]),
                                      static_cast<double>(s.y2[c])};
        }
    }
    for (int64_t f = 0; f < frames; ++f) {
#pragma GCC unroll 2
        for (int c = 0; c < CH; ++c) {
            double v = work[f * CH + c];
#pragma GCC unroll 3
            for (int j = 0; j < NB; ++j) v = filterStep(coefficients[j], memory[j][c], v);
            work[f * CH + c] = static_cast<int32_t>(v);
        }
    }
    for (int j = 0; j < NB; ++j)
        for (int c = 0; c < CH; ++c) {
            EqBandState& s = *bands[j].state;
            const BandMemory& m = memory[j][c];
            s.x0[c] = static_cast<int32_t>(m.x0);
            s.x1[c] = static_cast<int32_t>(m.x1);
            s.x2[c] = static_cast<int32_t>(m.x2);
            s.y1[c] = static_cast<int32_t>(m.y1);
            s.y2[c] = static_cast<int32_t>(m.y2);
        }
}

#if defined(__SSE2__)
// Both channels of a stereo frame side by side in one register: the two lanes
// see exactly the scalar operations (SSE2 double arithmetic rounds as scalar
// code does, and nothing is fused), so the results are the same as one
// channel after the other.
struct StereoMemory {
    __m128d x0, x1, x2, y1, y2;
};

struct StereoCoefficients {
    __m128d b0, b1, b2, a1, a2;
};

inline __m128d truncateToInt32(__m128d y) {
    y = _mm_min_pd(y, _mm_set1_pd(2147483647.0));  // a NaN lane takes the bound
    y = _mm_max_pd(y, _mm_set1_pd(-2147483648.0));
    return _mm_cvtepi32_pd(_mm_cvttpd_epi32(y));
}

inline __m128d filterStep(const StereoCoefficients& b, StereoMemory& m, __m128d v) {
    m.x2 = m.x1;
    m.x1 = m.x0;
    m.x0 = v;
    __m128d y = _mm_add_pd(_mm_mul_pd(b.b0, m.x0), _mm_mul_pd(b.b1, m.x1));
    y = _mm_add_pd(y, _mm_mul_pd(b.b2, m.x2));
    y = _mm_sub_pd(y, _mm_mul_pd(b.a1, m.y1));
    y = _mm_sub_pd(y, _mm_mul_pd(b.a2, m.y2));
    m.y2 = m.y1;
    m.y1 = truncateToInt32(y);
    return m.y1;
}

template <int NB>
void runBandsStereo(int32_t* work, int64_t frames, const ActiveBand* bands) {
    StereoCoefficients coefficients[NB];
    StereoMemory memory[NB];
    for (int j = 0; j < NB; ++j) {
        const ActiveBand& b = bands[j];
        coefficients[j] = StereoCoefficients{_mm_set1_pd(b.b0), _mm_set1_pd(b.b1), _mm_set1_pd(b.b2),
                                             _mm_set1_pd(b.a1), _mm_set1_pd(b.a2)};
        const EqBandState& s = *b.state;
        memory[j] = StereoMemory{_mm_set_pd(s.x0[1], s.x0[0]), _mm_set_pd(s.x1[1], s.x1[0]),
                                 _mm_set_pd(s.x2[1], s.x2[0]), _mm_set_pd(s.y1[1], s.y1[0]),
                                 _mm_set_pd(s.y2[1], s.y2[0])};
    }
    for (int64_t f = 0; f < frames; ++f) {
        __m128d v = _mm_cvtepi32_pd(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(work + 2 * f)));
#pragma GCC unroll 3
        for (int j = 0; j < NB; ++j) v = filterStep(coefficients[j], memory[j], v);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(work + 2 * f), _mm_cvttpd_epi32(v));
    }
    for (int j = 0; j < NB; ++j) {
        EqBandState& s = *bands[j].state;
        const StereoMemory& m = memory[j];
        const __m128d* fields[5] = {&m.x0, &m.x1, &m.x2, &m.y1, &m.y2};
        int32_t* targets[5] = {s.x0, s.x1, s.x2, s.y1, s.y2};
        for (int k = 0; k < 5; ++k) {
            double lanes[2];
            _mm_storeu_pd(lanes, *fields[k]);
            targets[k][0] = static_cast<int32_t>(lanes[0]);
            targets[k][1] = static_cast<int32_t>(lanes[1]);
        }
    }
}
#endif

template <int CH>
void runBands(int32_t* work, int64_t frames, const ActiveBand* bands, int count) {
    switch (count) {
    case 1: runBands<CH, 1>(work, frames, bands); break;
    case 2: runBands<CH, 2>(work, frames, bands); break;
    case 3: runBands<CH, 3>(work, frames, bands); break;
    default: break;
    }
}

void runBands(int32_t* work, int64_t frames, int channels, const ActiveBand* bands, int count) {
    if (channels != 2) {
        runBands<1>(work, frames, bands, count);
        return;
    }
#if defined(__SSE2__)
    switch (count) {
    case 1: runBandsStereo<1>(work, frames, bands); break;
    case 2: runBandsStereo<2>(work, frames, bands); break;
    case 3: runBandsStereo<3>(work, frames, bands); break;
    default: break;
    }
#else
    runBands<2>(work, frames, bands, count);
#endif
}

void clampInPlace(int16_t* samples, int64_t total) {
    int64_t i = 0;
#if defined(__SSE2__)
    const __m128i low = _mm_set1_epi16(-sampleLimit), high = _mm_set1_epi16(sampleLimit);
    for (; i + 8 <= total; i += 8) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(samples + i));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(samples + i),
                         _mm_min_epi16(_mm_max_epi16(v, low), high));
    }
#endif
    for (; i < total; ++i)
        samples[i] = static_cast<int16_t>(std::clamp<int32_t>(samples[i], -sampleLimit, sampleLimit));
}

void widenToWork(int32_t* work, const int16_t* samples, int64_t total) {
    int64_t i = 0;
#if defined(__SSE2__)
    for (; i + 8 <= total; i += 8) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(samples + i));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(work + i),
                         _mm_srai_epi32(_mm_unpacklo_epi16(v, v), 16));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(work + i + 4),
                         _mm_srai_epi32(_mm_unpackhi_epi16(v, v), 16));
    }
#endif
    for (; i < total; ++i) work[i] = samples[i];
}

// Saturating to 16 bits first and then clamping equals clamping the 32-bit value.
void clampFromWork(int16_t* samples, const int32_t* work, int64_t total) {
    int64_t i = 0;
#if defined(__SSE2__)
    const __m128i low = _mm_set1_epi16(-sampleLimit), high = _mm_set1_epi16(sampleLimit);
    for (; i + 8 <= total; i += 8) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(work + i));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(work + i + 4));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(samples + i),
                         _mm_min_epi16(_mm_max_epi16(_mm_packs_epi32(a, b), low), high));
    }
#endif
    for (; i < total; ++i)
        samples[i] = static_cast<int16_t>(std::clamp(work[i], -sampleLimit, sampleLimit));
}

ActiveBand activeBand(const EqCoefficients& c, EqBandState& state) {
    return ActiveBand{c.b0, c.b1, c.b2, c.a1, c.a2, &state, nullptr};
}

// Boost in dB of a band's gain setting: 0 is +10 dB, 50 is 0 dB, 100 is −10 dB.
float boostOfGain(int gain) { return static_cast<float>((gain - 50) / -5.0); }

// The bands of the block's settings that run, in order; returns their count.
int activeBands(Engine& e, const EngineControls& controls, int rate, ActiveBand (&bands)[3]) {
    const float fs = static_cast<float>(rate);
    int count = 0;
    for (int b = 0; b < 3; ++b) {
        const int gain = controls.eq_bands[b].gain;
        const int frequency = controls.eq_bands[b].frequency;
        if (gain == 50) continue;
        EqCoefficients c;
        if (!equalizerCoefficients(fs, static_cast<float>(frequency), boostOfGain(gain), c))
            continue;
        bands[count] = activeBand(c, e.eqState[b]);
        bands[count].floatState = &e.eqFloatState[b];
        ++count;
    }
    return count;
}

// The full-resolution bands: the filter of filterStep without the
// truncation, its memory in doubles.
template <int CH, int NB>
void runFloatBands(float* samples, int64_t frames, const ActiveBand* bands) {
    ActiveBand b[NB];
    EqBandFloatState m[NB];
    for (int j = 0; j < NB; ++j) {
        b[j] = bands[j];
        m[j] = *bands[j].floatState;
    }
    for (int64_t f = 0; f < frames; ++f) {
#pragma GCC unroll 2
        for (int c = 0; c < CH; ++c) {
            double v = samples[f * CH + c];
#pragma GCC unroll 3
            for (int j = 0; j < NB; ++j) {
                const double y = b[j].b0 * v + b[j].b1 * m[j].x1[c] + b[j].b2 * m[j].x2[c] -
                                 b[j].a1 * m[j].y1[c] - b[j].a2 * m[j].y2[c];
                m[j].x2[c] = m[j].x1[c];
                m[j].x1[c] = v;
                m[j].y2[c] = m[j].y1[c];
                m[j].y1[c] = y;
                v = y;
            }
            samples[f * CH + c] = static_cast<float>(v);
        }
    }
    for (int j = 0; j < NB; ++j) *bands[j].floatState = m[j];
}

template <int CH>
void runFloatBands(float* samples, int64_t frames, const ActiveBand* bands, int count) {
    switch (count) {
    case 1: runFloatBands<CH, 1>(samples, frames, bands); break;
    case 2: runFloatBands<CH, 2>(samples, frames, bands); break;
    case 3: runFloatBands<CH, 3>(samples, frames, bands); break;
    default: break;
    }
}

}  // namespace

int equalizerCoefficients(float fs, float frequency, float boostDb, EqCoefficients& out) {
    const double dfs = fs;
    EqCoefficients c;
    c.g = static_cast<float>(static_cast<double>(boostDb) / 6.6);
    // Above half the rate the band sits at half the rate.
    if (!(dfs / 2 >= static_cast<double>(frequency))) frequency = static_cast<float>(dfs / 2);
    if (frequency == 0.0f) return 0;
    const double g = c.g;
    c.k = static_cast<float>(1.0 / (6.283185307179586 * static_cast<double>(frequency)));
    const double k = c.k;
    c.w = static_cast<float>(k / std::tan(k / (2.0 * dfs)));
    const double w = c.w;
    c.m = static_cast<float>(k * k * w * w);
    c.r = static_cast<float>((g + 3.0) * k * w);
    c.q = static_cast<float>((3.0 - g) * k * w);
    const double m = c.m, r = c.r, q = c.q;
    c.d = static_cast<float>(q + m + 1.0);
    const double d = c.d;
    c.b0 = static_cast<float>((r + m + 1.0) / d);
    c.b1 = static_cast<float>(2.0 * (1.0 - m) / d);
    c.b2 = static_cast<float>((1.0 - r + m) / d);
    c.a1 = static_cast<float>(2.0 * (1.0 - m) / d);
    c.a2 = static_cast<float>((1.0 - q + m) / d);
    out = c;
    for (float v : {c.b0, c.b1, c.b2, c.a1, c.a2})
        if (!std::isfinite(v)) return 0;
    return 1;
}

void equalizerBand(int32_t* work, EqBandState& state, int frames, int channels, int rate,
                   float frequency, float boostDb) {
    if (work == nullptr || frames <= 0 || (channels != 1 && channels != 2)) return;
    EqCoefficients c;
    const float fs = static_cast<float>(rate);
    if (!equalizerCoefficients(fs, frequency, boostDb, c)) return;
    const ActiveBand band = activeBand(c, state);
    runBands(work, frames, channels, &band, 1);
}

void equalizeBlock(Engine& e, const EngineControls& controls, int16_t* samples, int frames,
                   int channels, int rate) {
    if (samples == nullptr || frames <= 0 || (channels != 1 && channels != 2)) return;

    ActiveBand bands[3];
    const int count = activeBands(e, controls, rate, bands);

    const int64_t total = int64_t{frames} * channels;
    if (count == 0) {
        // Nothing to filter: the block is only clamped.
        clampInPlace(samples, total);
        return;
    }

    const bool owned = e.work.equalizer != nullptr && total <= e.work.capacity;
    int32_t* work = e.work.equalizer;
    if (!owned) {
        if (static_cast<uint64_t>(total) > SIZE_MAX / sizeof(int32_t)) return;
        work = static_cast<int32_t*>(equalizerAllocate(static_cast<size_t>(total) *
                                                       sizeof(int32_t)));
        // Without a working buffer the block goes on unequalised.
        if (work == nullptr) return;
    }
    widenToWork(work, samples, total);
    runBands(work, frames, channels, bands, count);
    clampFromWork(samples, work, total);
    if (!owned) std::free(work);
}

void equalizeBlockFloat(Engine& e, const EngineControls& controls, float* samples, int frames,
                        int channels, int rate) {
    if (samples == nullptr || frames <= 0 || (channels != 1 && channels != 2)) return;
    ActiveBand bands[3];
    const int count = activeBands(e, controls, rate, bands);
    if (channels == 2)
        runFloatBands<2>(samples, frames, bands, count);
    else
        runFloatBands<1>(samples, frames, bands, count);
}
