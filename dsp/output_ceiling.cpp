// The true-peak ceiling of the output stage: a lookahead limiter.
//
// For every interval between two samples the detector gives the largest
// magnitude of the 4x oversampled signal, and so the gain r <= 1 that keeps it
// at the ceiling. The gain applied is
//   g = box average over `attack` frames of release(minimum of r over `hold` frames),
// with the audio delayed so that the whole ramp lies before the peak: every
// frame within ceilingGuard frames of a peak gets a gain no higher than the
// peak needs, the gain is fully down before the peak arrives, rises again
// through an exponential release smoothed by the same box, and never exceeds 1.
#include <algorithm>
#include <cmath>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "dsp/output_stage_parts.h"

namespace {

// Frames on either side of a peak held at its gain: the whole span of the
// interpolator around the peak sees a flat gain, however deep the reduction.
constexpr int ceilingGuard = truePeakLag;
constexpr double releaseSeconds = 0.06;
// Aim 0.2 dB below the ceiling so that other meters' interpolators (which
// differ by up to 0.1 dB near the Nyquist frequency) and the gain's slope
// across the interpolator read no higher than the ceiling.
constexpr float ceilingMargin = 0.977f;

constexpr int history = truePeakTaps - 1;

void swapSamples(float* a, float* b, int n) {
    int i = 0;
#if defined(__SSE2__)
    for (; i + 4 <= n; i += 4) {
        const __m128 va = _mm_loadu_ps(a + i), vb = _mm_loadu_ps(b + i);
        _mm_storeu_ps(a + i, vb);
        _mm_storeu_ps(b + i, va);
    }
#endif
    for (; i < n; ++i) std::swap(a[i], b[i]);
}

// The chunk into the delay line, the delay line's oldest frames out: each
// sample swapped with the line's at the write position, in up to two runs
// per turn of the ring.
void delayOnly(CeilingState& c, float* x, int n, int channels) {
    const int length = c.delay * channels;
    int p = c.delayPosition;
    for (int left = n * channels; left > 0;) {
        const int run = std::min(left, length - p);
        swapSamples(x, c.delayLine + p, run);
        x += run;
        left -= run;
        p += run;
        if (p == length) p = 0;
    }
    c.delayPosition = p;
}

// Keeps the detector's history (the last frames of each channel) when the
// chunk is not interpolated.
void keepHistory(OutputStage& s, const float* x, int n) {
    for (int c = 0; c < s.channels; ++c) {
        float* h = s.detectorHistory[c];
        const int kept = n < history ? history - n : 0;
        for (int i = 0; i < kept; ++i) h[i] = h[i + n];
        for (int i = kept; i < history; ++i) h[i] = x[(n - history + i) * s.channels + c];
    }
}

// Interval peaks of the chunk across channels (peaks[m] belongs to the frame
// truePeakLag frames before the chunk's frame m). False when none can reach
// the aim, without interpolating then.
bool detect(OutputStage& s, const float* x, int n, float aim, float* peaks) {
    float buffer[history + stageChunk], block[stageChunk];
    if (!s.limiting) {
        keepHistory(s, x, n);
        return false;
    }
    // Both channels at once first: most chunks of levelled music end here.
    float top = largestMagnitude(x, n * s.channels);
    for (int c = 0; c < s.channels; ++c) top = std::max(top, largestMagnitude(s.detectorHistory[c], history));
    if (top * s.filter.bound <= aim) {
        keepHistory(s, x, n);
        return false;
    }
    bool any = false;
    for (int c = 0; c < s.channels; ++c) {
        float* h = s.detectorHistory[c];
        for (int i = 0; i < history; ++i) buffer[i] = h[i];
        for (int i = 0; i < n; ++i) buffer[history + i] = x[i * s.channels + c];
        for (int i = 0; i < history; ++i) h[i] = buffer[n + i];
        if (largestMagnitude(buffer, n + history) * s.filter.bound <= aim) continue;
        truePeakBlock(s.filter, buffer, n, any ? block : peaks);
        if (any)
            for (int m = 0; m < n; ++m) peaks[m] = block[m] > peaks[m] ? block[m] : peaks[m];
        any = true;
    }
    return any;
}

// The per-frame state, copied to locals for a chunk and written back once.
struct Running {
    int minFirst, minCount, age, boxPosition, quietFrames;
    float released;
    double boxSum;
};

// The minimum of the required gains over the hold window, kept as an
// ascending queue of (gain, age); an empty queue stands for 1.
inline float holdMinimum(CeilingState& c, Running& k, float r) {
    constexpr int capacity = outputStageMaxLookahead + 1;
    if (k.minCount == 0) k.age = 0;  // nothing to age out: the count starts again
    ++k.age;
    if (k.minCount > 0 && c.minAge[k.minFirst] <= k.age - c.hold) {
        if (++k.minFirst == capacity) k.minFirst = 0;
        --k.minCount;
    }
    if (r < 1.0f) {
        int back = k.minFirst + k.minCount - 1;
        if (back >= capacity) back -= capacity;
        while (k.minCount > 0 && c.minValue[back] >= r) {
            --k.minCount;
            if (--back < 0) back += capacity;
        }
        if (++back == capacity) back = 0;
        c.minValue[back] = r;
        c.minAge[back] = k.age;
        ++k.minCount;
    }
    return k.minCount > 0 ? c.minValue[k.minFirst] : 1.0f;
}

// One frame's gain from its required gain.
inline float frameGain(CeilingState& c, Running& k, float r) {
    const float h = holdMinimum(c, k, r);
    if (h < k.released) {
        k.released = h;
    } else {
        // Close to h the step falls below a float's resolution (within 1e-4
        // of 1 at 44100 Hz) and the gain would stay there for ever: it then
        // takes h, a step of at most 0.002 dB.
        const float next = k.released + (h - k.released) * c.releaseCoefficient;
        k.released = next == k.released ? h : next;
    }
    k.boxSum += k.released - c.boxValues[k.boxPosition];
    c.boxValues[k.boxPosition] = k.released;
    if (++k.boxPosition == c.attack) k.boxPosition = 0;
    k.quietFrames = k.released == 1.0f ? k.quietFrames + 1 : 0;
    if (k.quietFrames >= c.attack) k.boxSum = c.attack;  // all ones: no rounding drift
    const float g = static_cast<float>(k.boxSum / c.attack);
    return g < 1.0f ? g : 1.0f;
}

bool idle(const CeilingState& c) {
    return c.minCount == 0 && c.released == 1.0f && c.quietFrames >= c.attack;
}

// Applies the chunk's gains to the delay line's output as it passes.
void delayWithGains(CeilingState& c, float* x, const float* gains, int n, int channels) {
    delayOnly(c, x, n, channels);
    if (channels == 2)
        for (int m = 0; m < n; ++m) {
            x[2 * m] *= gains[m];
            x[2 * m + 1] *= gains[m];
        }
    else
        for (int m = 0; m < n; ++m) x[m] *= gains[m];
}

}  // namespace

void ceilingSetup(CeilingState& c, int rate, int lookahead, float ceiling) {
    std::memset(static_cast<void*>(&c), 0, sizeof c);
    c.delay = lookahead;
    c.attack = lookahead - truePeakLag + 1 - ceilingGuard;
    c.hold = c.attack + 2 * ceilingGuard;
    c.releaseCoefficient = static_cast<float>(1.0 - std::exp(-1.0 / (releaseSeconds * rate)));
    c.ceiling = ceiling;
    ceilingRestart(c);
}

void ceilingRestart(CeilingState& c) {
    c.minFirst = c.minCount = 0;
    c.released = 1.0f;
    for (int i = 0; i < c.attack; ++i) c.boxValues[i] = 1.0f;
    c.boxPosition = 0;
    c.boxSum = c.attack;
    c.quietFrames = c.attack;
}

float ceilingChunk(OutputStage& s, float* x, int n) {
    CeilingState& c = s.limiter;
    const float aim = c.ceiling * ceilingMargin;
    float peaks[stageChunk];
    bool any = detect(s, x, n, aim, peaks);
    if (any) any = *std::max_element(peaks, peaks + n) > aim;
    if (!s.limiting || (!any && idle(c))) {
        c.boxPosition = (c.boxPosition + n) % c.attack;
        delayOnly(c, x, n, s.channels);
        return 1.0f;
    }
    float gains[stageChunk];
    float lowest = 1.0f;
    Running k{c.minFirst, c.minCount, c.age, c.boxPosition, c.quietFrames, c.released, c.boxSum};
    int limited = 0;
    for (int m = 0; m < n; ++m) {
        const float r = any && peaks[m] > aim ? aim / peaks[m] : 1.0f;
        const float g = frameGain(c, k, r);
        lowest = g < lowest ? g : lowest;
        limited += g < 1.0f;
        gains[m] = g;
    }
    c.minFirst = k.minFirst;
    c.minCount = k.minCount;
    c.age = k.age;
    c.boxPosition = k.boxPosition;
    c.quietFrames = k.quietFrames;
    c.released = k.released;
    c.boxSum = k.boxSum;
    delayWithGains(c, x, gains, n, s.channels);
    s.statistics.ceilingFrames += limited;
    return lowest;
}
