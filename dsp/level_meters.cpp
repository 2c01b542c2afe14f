// Peak, r.m.s. and short-term loudness meters for the read-outs.
#include "dsp/level_meters.h"

#include <cmath>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "dsp/biquad_lanes.h"

namespace {

constexpr double fullScaleSquared = 32768.0 * 32768.0;
constexpr double peakFallDbPerSecond = 20.0;
constexpr double rmsSeconds = 0.3;

// K-weighted energy of n frames of one channel into the sub-block.
double weighChannel(ShortTermLoudness& s, const float* x, int n, int channels, int c) {
    double s1 = s.state[c][0], s2 = s.state[c][1], h1 = s.state[c][2], h2 = s.state[c][3];
    double energy = 0.0;
    for (int i = 0; i < n; ++i) {
        const double z = biquad1(s.highPass, biquad1(s.shelf, x[i * channels + c], s1, s2), h1, h2);
        energy += z * z;
    }
    // No denormals after silence.
    s.state[c][0] = std::fabs(s1) < 1e-12 ? 0.0 : s1;
    s.state[c][1] = std::fabs(s2) < 1e-12 ? 0.0 : s2;
    s.state[c][2] = std::fabs(h1) < 1e-12 ? 0.0 : h1;
    s.state[c][3] = std::fabs(h2) < 1e-12 ? 0.0 : h2;
    return energy;
}

#if defined(__SSE2__)
// One meter's filter state in the lanes, and back.
struct Lanes2 {
    __m128d s1, s2, h1, h2, energy;
};

Lanes2 loadLanes(const ShortTermLoudness& s) {
    return {_mm_set_pd(s.state[1][0], s.state[0][0]), _mm_set_pd(s.state[1][1], s.state[0][1]),
            _mm_set_pd(s.state[1][2], s.state[0][2]), _mm_set_pd(s.state[1][3], s.state[0][3]),
            _mm_setzero_pd()};
}

double storeLanes(ShortTermLoudness& s, const Lanes2& l) {
    double e[2], v[2];
    _mm_storeu_pd(e, l.energy);
    const __m128d* states[4] = {&l.s1, &l.s2, &l.h1, &l.h2};
    for (int j = 0; j < 4; ++j) {
        _mm_storeu_pd(v, *states[j]);
        for (int c = 0; c < 2; ++c) s.state[c][j] = std::fabs(v[c]) < 1e-12 ? 0.0 : v[c];  // no denormals
    }
    return e[0] + e[1];
}

inline void weighFrame(const Biquad2& shelf, const Biquad2& high, const float* x, Lanes2& l) {
    const __m128d in =
        _mm_cvtps_pd(_mm_castsi128_ps(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(x))));
    const __m128d z = biquad2(high, biquad2(shelf, in, l.s1, l.s2), l.h1, l.h2);
    l.energy = _mm_add_pd(l.energy, _mm_mul_pd(z, z));
}

double weighStereo(ShortTermLoudness& s, const float* x, int n) {
    const Biquad2 shelf = biquad_lanes(s.shelf), high = biquad_lanes(s.highPass);
    Lanes2 l = loadLanes(s);
    for (int i = 0; i < n; ++i) weighFrame(shelf, high, x + 2 * i, l);
    return storeLanes(s, l);
}

// Two meters of one rate at once: the two filter chains do not wait for
// each other, so they take hardly longer than one.
void weighStereoPair(ShortTermLoudness& a, const float* x, ShortTermLoudness& b, const float* y, int n) {
    const Biquad2 shelf = biquad_lanes(a.shelf), high = biquad_lanes(a.highPass);
    Lanes2 la = loadLanes(a), lb = loadLanes(b);
    for (int i = 0; i < n; ++i) {
        weighFrame(shelf, high, x + 2 * i, la);
        weighFrame(shelf, high, y + 2 * i, lb);
    }
    a.energy += storeLanes(a, la);
    b.energy += storeLanes(b, lb);
}
#endif

// Silence again, keeping the coefficients.
void restart(ShortTermLoudness& s) {
    std::memset(s.state, 0, sizeof s.state);
    std::memset(s.sub, 0, sizeof s.sub);
    s.energy = 0.0;
    s.fill = s.newest = s.count = 0;
}

// n more frames weighed: a not-a-number or infinity in the audio starts the
// meter afresh; a full sub-block enters the window.
void advance(ShortTermLoudness& s, int n) {
    if (!std::isfinite(s.energy)) restart(s);
    s.fill += n;
    if (s.fill == s.length) {
        s.newest = (s.newest + 1) % shortTermSubBlocks;
        s.sub[s.newest] = s.energy / s.length;
        if (s.count < shortTermSubBlocks) ++s.count;
        s.energy = 0.0;
        s.fill = 0;
    }
}

}  // namespace

void shortTermAdd(ShortTermLoudness& s, const float* x, int frames, int channels) {
    while (frames > 0) {
        int n = s.length - s.fill;
        if (n > frames) n = frames;
#if defined(__SSE2__)
        if (channels == 2)
            s.energy += weighStereo(s, x, n);
        else
#endif
            for (int c = 0; c < channels; ++c) s.energy += weighChannel(s, x, n, channels, c);
        advance(s, n);
        x += n * channels;
        frames -= n;
    }
}

void shortTermAddPair(ShortTermLoudness& a, const float* x, ShortTermLoudness& b, const float* y,
                      int frames, int channels) {
#if defined(__SSE2__)
    if (channels == 2 && a.fill == b.fill && a.length == b.length &&
        std::memcmp(a.shelf, b.shelf, sizeof a.shelf) == 0) {
        while (frames > 0) {
            int n = a.length - a.fill;
            if (n > frames) n = frames;
            weighStereoPair(a, x, b, y, n);
            advance(a, n);
            advance(b, n);
            x += 2 * n;
            y += 2 * n;
            frames -= n;
        }
        return;
    }
#endif
    shortTermAdd(a, x, frames, channels);
    shortTermAdd(b, y, frames, channels);
}

void levelMeterSetup(LevelMeter& m, int rate, int channels, int blockFrames) {
    std::memset(static_cast<void*>(&m), 0, sizeof m);
    if (rate < 1) rate = 1;
    m.channels = channels == 2 ? 2 : 1;
    const double blockSeconds = static_cast<double>(blockFrames) / rate;
    m.peakFall = static_cast<float>(std::pow(10.0, -peakFallDbPerSecond * blockSeconds / 20.0));
    m.rmsFactor = 1.0 - std::exp(-blockSeconds / rmsSeconds);
    kWeightingCoefficients(rate, m.loudness.shelf, m.loudness.highPass);
    m.loudness.length = rate / 10 > 0 ? rate / 10 : 1;
}

namespace {

// The largest magnitude and the sum of squares of each channel.
void peaksAndSquares(const float* x, int frames, int channels, float peak[2], double sum[2]) {
    int i = 0;
#if defined(__SSE2__)
    if (channels == 2) {
        // Lanes L R L R: two frames a step; float sums of one block are
        // exact enough for a meter.
        const __m128 magnitude = _mm_castsi128_ps(_mm_set1_epi32(0x7fffffff));
        __m128 top = _mm_setzero_ps(), squares = _mm_setzero_ps();
        for (; i + 2 <= frames; i += 2) {
            const __m128 v = _mm_loadu_ps(x + 2 * i);
            top = _mm_max_ps(_mm_and_ps(v, magnitude), top);  // not-a-number: top stays
            squares = _mm_add_ps(squares, _mm_mul_ps(v, v));
        }
        float t[4], q[4];
        _mm_storeu_ps(t, top);
        _mm_storeu_ps(q, squares);
        peak[0] = t[0] > t[2] ? t[0] : t[2];
        peak[1] = t[1] > t[3] ? t[1] : t[3];
        sum[0] = static_cast<double>(q[0]) + q[2];
        sum[1] = static_cast<double>(q[1]) + q[3];
    }
#endif
    for (; i < frames; ++i)
        for (int c = 0; c < channels; ++c) {
            const float v = x[i * channels + c];
            const float a = std::fabs(v);
            peak[c] = a > peak[c] ? a : peak[c];  // a not-a-number leaves the peak alone
            sum[c] += static_cast<double>(v) * v;
        }
}

}  // namespace

void levelMeterAdd(LevelMeter& m, const float* x, int frames) {
    if (frames <= 0) return;
    float peak[2] = {0.0f, 0.0f};
    double sum[2] = {0.0, 0.0};
    peaksAndSquares(x, frames, m.channels, peak, sum);
    for (int c = 0; c < m.channels; ++c) {
        const float held = m.peak[c] * m.peakFall;
        m.peak[c] = peak[c] > held ? peak[c] : held;
        if (!std::isfinite(m.peak[c])) m.peak[c] = 0.0f;
        const double meanSquare = sum[c] / frames;
        // A not-a-number or infinity in the audio must not stay in the meter.
        if (std::isfinite(meanSquare)) m.meanSquare[c] += m.rmsFactor * (meanSquare - m.meanSquare[c]);
    }
}

float levelDbfs(double level, float floor) {
    if (!(level > 0.0)) return floor;
    const float db = static_cast<float>(20.0 * std::log10(level / 32768.0));
    return db > floor ? db : floor;
}

float shortTermLufs(const ShortTermLoudness& s, float floor) {
    double sum = 0.0;
    for (int i = 0; i < s.count; ++i) sum += s.sub[(s.newest - i + shortTermSubBlocks) % shortTermSubBlocks];
    if (s.count == 0 || !(sum > 0.0) || !std::isfinite(sum)) return floor;
    const float lufs = static_cast<float>(-0.691 + 10.0 * std::log10(sum / s.count / fullScaleSquared));
    return lufs > floor ? lufs : floor;
}
