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
    int holdPosition, boxPosition, quietFrames;
    float holdPrefix, lastHold, held, rise;
    double boxSum;
};

// The minimum of the required gains over the last `hold` frames (van Herk,
// Gil and Werman): the current block's minimum so far against the previous
// block's minimum from the first frame still in the window to its end. Two
// comparisons a frame and, once a block is complete, its minima from each
// frame to its end; no branch depends on the audio.
inline float holdMinimum(CeilingState& c, Running& k, float r) {
    c.holdValues[k.holdPosition] = r;
    k.holdPrefix = std::min(k.holdPrefix, r);
    const float h = std::min(k.holdPrefix, c.holdSuffix[k.holdPosition + 1]);
    if (++k.holdPosition == c.hold) {
        for (int i = c.hold - 1; i >= 0; --i) c.holdSuffix[i] = std::min(c.holdValues[i], c.holdSuffix[i + 1]);
        k.holdPrefix = 1.0f;
        k.holdPosition = 0;
    }
    k.lastHold = h;
    return h;
}

// No required gain below 1 in the window: its blocks start afresh.
void clearHold(CeilingState& c) {
    for (int i = 0; i <= c.hold; ++i) c.holdSuffix[i] = 1.0f;
    c.holdPosition = 0;
    c.holdPrefix = c.lastHold = 1.0f;
    c.holdClear = true;
}

// One frame's gain from its required gain.
inline float frameGain(CeilingState& c, Running& k, float r) {
    const float h = holdMinimum(c, k, r);
    // The released gain is held + rise: down to a lower minimum at once, up
    // to a higher one exponentially (rise < 0 shrinks by the release factor
    // each frame, one multiplication from frame to frame). Below 1e-7 the
    // rise ends, where a float at the gain would no longer show it.
    if (h != k.held) {
        const float released = k.held + k.rise;
        k.rise = h < released ? 0.0f : released - h;
        k.held = h;
    }
    k.rise *= c.releaseFactor;
    if (k.rise > -1e-7f) k.rise = 0.0f;
    const float released = k.held + k.rise;
    k.boxSum += released - c.boxValues[k.boxPosition];
    c.boxValues[k.boxPosition] = released;
    if (++k.boxPosition == c.attack) k.boxPosition = 0;
    k.quietFrames = released == 1.0f ? k.quietFrames + 1 : 0;
    if (k.quietFrames >= c.attack) k.boxSum = c.attack;  // all ones: no rounding drift
    const float g = static_cast<float>(k.boxSum / c.attack);
    return g < 1.0f ? g : 1.0f;
}

bool idle(const CeilingState& c) {
    return c.lastHold == 1.0f && c.held == 1.0f && c.rise == 0.0f && c.quietFrames >= c.attack;
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
    c.releaseFactor = static_cast<float>(std::exp(-1.0 / (releaseSeconds * rate)));
    c.baseReleaseFactor = c.releaseFactor;
    c.rate = rate;
    c.ceiling = ceiling;
    ceilingRestart(c);
}

void ceilingRestart(CeilingState& c) {
    clearHold(c);
    c.held = 1.0f;
    c.rise = 0.0f;
    for (int i = 0; i < c.attack; ++i) c.boxValues[i] = 1.0f;
    c.boxPosition = 0;
    c.boxSum = c.attack;
    c.quietFrames = c.attack;
}

void ceilingLongRelease(CeilingState& c, bool on) {
    if (c.longRelease && !on) {
        c.releaseFactor = c.baseReleaseFactor;
        c.limitingSeconds = 0.0f;
    }
    c.longRelease = on;
}

namespace {

// The long release: the seconds spent limiting (at most longReleaseSpan)
// rise with every chunk that limits and fall at half that speed otherwise;
// the release time is 60 ms plus half of them, at most 1 s.
constexpr float longReleaseSpan = 2.0f;

void lengthenRelease(CeilingState& c, int n, bool limited) {
    const float seconds = static_cast<float>(n) / static_cast<float>(c.rate);
    float t = c.limitingSeconds + (limited ? seconds : -0.5f * seconds);
    t = t < 0.0f ? 0.0f : t > longReleaseSpan ? longReleaseSpan : t;
    if (t == c.limitingSeconds) return;
    c.limitingSeconds = t;
    const double release = std::min(releaseSeconds + 0.5 * t, 1.0);
    c.releaseFactor = static_cast<float>(std::exp(-1.0 / (release * c.rate)));
}

}  // namespace

float ceilingChunk(OutputStage& s, float* x, int n) {
    CeilingState& c = s.limiter;
    const float aim = c.ceiling * ceilingMargin;
    float peaks[stageChunk];
    bool any = detect(s, x, n, aim, peaks);
    if (any) any = *std::max_element(peaks, peaks + n) > aim;
    if (c.longRelease) lengthenRelease(c, n, any);
    if (!s.limiting || (!any && idle(c))) {
        if (!c.holdClear) clearHold(c);  // frames of gain 1 pass by uncounted
        c.boxPosition = (c.boxPosition + n) % c.attack;
        delayOnly(c, x, n, s.channels);
        return 1.0f;
    }
    float gains[stageChunk];
    float lowest = 1.0f;
    c.holdClear = false;
    Running k{c.holdPosition, c.boxPosition, c.quietFrames, c.holdPrefix, c.lastHold, c.held, c.rise, c.boxSum};
    int limited = 0;
    for (int m = 0; m < n; ++m) {
        const float r = any && peaks[m] > aim ? aim / peaks[m] : 1.0f;
        const float g = frameGain(c, k, r);
        lowest = g < lowest ? g : lowest;
        limited += g < 1.0f;
        gains[m] = g;
    }
    c.holdPosition = k.holdPosition;
    c.holdPrefix = k.holdPrefix;
    c.lastHold = k.lastHold;
    c.boxPosition = k.boxPosition;
    c.quietFrames = k.quietFrames;
    c.held = k.held;
    c.rise = k.rise;
    c.boxSum = k.boxSum;
    delayWithGains(c, x, gains, n, s.channels);
    s.statistics.ceilingFrames += limited;
    return lowest;
}
