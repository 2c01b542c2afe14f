// The classic single-band enhancer.
//
// Everything here is integer arithmetic on 16-bit samples with gains in units of
// 1/10000, except the gain itself (a float that moves by fixed steps per frame).
// The results must be reproducible to the sample, so every quotient truncates on
// its own, products of the gain with samples are 64-bit, and the float steps are
// rounded to float exactly where they are stored.
//
// The full-resolution form (enhanceClassicFloat) takes the same steps of the
// gain: its analysis and its gain law read the block as the 16-bit path holds
// it (the caller's 16-bit shadow, widened here as above), while the widening
// and the gain are applied to the float samples without truncation or clamp.
#include "dsp/classic.h"

#include <algorithm>
#include <cstring>
#include <type_traits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "dsp/handover.h"
#include "dsp/sse_pairs.h"

namespace {

// Every sample this stage writes lies within these bounds.
constexpr int32_t sampleLimit = 32766;

// Lookahead: the analysis sample 150 frames past the next frame's start.
constexpr int lookaheadFrames = 151;

inline int32_t clampSample(int64_t v) {
    return static_cast<int32_t>(std::clamp<int64_t>(v, -sampleLimit, sampleLimit));
}

inline int32_t clampSample32(int32_t v) { return std::clamp(v, -sampleLimit, sampleLimit); }

// Truncation toward zero with saturation; NaN gives 0. The coefficients come
// from settings that a file may set to anything, so the conversion must be
// defined for every input.
inline int32_t truncToInt32(double v) {
    if (!(v == v)) return 0;
    if (v >= 2147483647.0) return 2147483647;
    if (v <= -2147483648.0) return -2147483647 - 1;
    return static_cast<int32_t>(v);
}

inline int32_t saturateToInt32(int64_t v) {
    return static_cast<int32_t>(std::clamp<int64_t>(v, -2147483647 - 1, 2147483647));
}

// The gain in fixed point, G = 10000 × gain truncated. The gain is bounded by
// its ceiling and steps in practice; the clamp only keeps G × sample inside 64
// bits whatever the steps.
inline int64_t fixedGain(float gain) {
    double g = 10000.0 * static_cast<double>(gain);
    g = g < 1e12 ? g : 1e12;  // NaN lands here too
    g = g > -1e12 ? g : -1e12;
    return static_cast<int64_t>(g);
}

struct HighPassCoefficients {
    int32_t b;
    int32_t a;
};

// First-order bilinear high-pass, corner at 2 × hpcutoff Hz, in 1/10000.
HighPassCoefficients highPassCoefficients(int32_t rate, int hpcutoff) {
    const float T = static_cast<float>(2.0 * static_cast<double>(rate));
    const float W = static_cast<float>(3.14159265 * 4 * static_cast<double>(hpcutoff));
    const float N = static_cast<float>(1.0 / (static_cast<double>(T) + static_cast<double>(W)));
    HighPassCoefficients c;
    c.b = truncToInt32(10000.0 * static_cast<double>(N) * static_cast<double>(T));
    c.a = truncToInt32(10000.0 * (static_cast<double>(T) - static_cast<double>(W)) *
                       static_cast<double>(N));
    return c;
}

// Filters `count` interleaved samples from `in` into `out`, continuing the
// filter state in the instance. `count` is a whole number of frames.
template <int CH>
void highPassRun(Engine& e, int16_t* out, const int16_t* in, int64_t count,
                 HighPassCoefficients c) {
    int32_t input[CH], prevInput[CH], prevOutput[CH];
    for (int ch = 0; ch < CH; ++ch) {
        input[ch] = e.hpInput[ch];
        prevInput[ch] = e.hpPrevInput[ch];
        prevOutput[ch] = e.hpPrevOutput[ch];
    }
    const int64_t b = c.b;
    const int64_t minusB = -b;
    const int64_t a = c.a;
    for (int64_t i = 0; i < count; i += CH) {
        for (int ch = 0; ch < CH; ++ch) {
            prevInput[ch] = input[ch];
            input[ch] = in[i + ch];
            const int64_t y = (input[ch] * b) / 10000 + (prevInput[ch] * minusB) / 10000 +
                              (prevOutput[ch] * a) / 10000;
            prevOutput[ch] = saturateToInt32(y);
            out[i + ch] = static_cast<int16_t>(clampSample(y));
        }
    }
    for (int ch = 0; ch < CH; ++ch) {
        e.hpInput[ch] = input[ch];
        e.hpPrevInput[ch] = prevInput[ch];
        e.hpPrevOutput[ch] = prevOutput[ch];
    }
}

void highPassRun(Engine& e, int16_t* out, const int16_t* in, int64_t count, int channels,
                 HighPassCoefficients c) {
    if (channels == 2)
        highPassRun<2>(e, out, in, count, c);
    else
        highPassRun<1>(e, out, in, count, c);
}

// Cross-feed widening and the clamp that every sample passes once.
//
// The vector path divides in single precision: |width × sample| < 2^24 is exact
// as a float, and |x / 200| < 2^16 leaves a rounding error below 2^-9, while a
// quotient that is not a whole number lies at least 1/200 from one, so the
// truncated float quotient is exactly the truncated integer quotient.
void widen(int16_t* samples, int64_t frames, int channels, int32_t width) {
    const int64_t count = frames * channels;
    int64_t i = 0;
    if (channels == 2 && width > 0) {
#if defined(__SSE2__)
        const __m128i w = _mm_set1_epi16(static_cast<int16_t>(width));
        const __m128 divisor = _mm_set1_ps(200.0f);
        const __m128i low = _mm_set1_epi16(-sampleLimit);
        const __m128i high = _mm_set1_epi16(sampleLimit);
        for (; i + 8 <= count; i += 8) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(samples + i));
            // Each sample meets its partner of the same frame: L R -> R L.
            __m128i swapped = _mm_shufflelo_epi16(v, _MM_SHUFFLE(2, 3, 0, 1));
            swapped = _mm_shufflehi_epi16(swapped, _MM_SHUFFLE(2, 3, 0, 1));
            const __m128i productLow = _mm_mullo_epi16(swapped, w);
            const __m128i productHigh = _mm_mulhi_epi16(swapped, w);
            const __m128i p0 = _mm_unpacklo_epi16(productLow, productHigh);
            const __m128i p1 = _mm_unpackhi_epi16(productLow, productHigh);
            const __m128i q0 = _mm_cvttps_epi32(_mm_div_ps(_mm_cvtepi32_ps(p0), divisor));
            const __m128i q1 = _mm_cvttps_epi32(_mm_div_ps(_mm_cvtepi32_ps(p1), divisor));
            const __m128i v0 = _mm_srai_epi32(_mm_unpacklo_epi16(v, v), 16);
            const __m128i v1 = _mm_srai_epi32(_mm_unpackhi_epi16(v, v), 16);
            __m128i out = _mm_packs_epi32(_mm_sub_epi32(v0, q0), _mm_sub_epi32(v1, q1));
            out = _mm_min_epi16(_mm_max_epi16(out, low), high);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(samples + i), out);
        }
#endif
        for (; i < count; i += 2) {
            const int32_t l = samples[i];
            const int32_t r = samples[i + 1];
            samples[i] = static_cast<int16_t>(clampSample32(l - (width * r) / 200));
            samples[i + 1] = static_cast<int16_t>(clampSample32(r - (width * l) / 200));
        }
        return;
    }
#if defined(__SSE2__)
    const __m128i low = _mm_set1_epi16(-sampleLimit);
    const __m128i high = _mm_set1_epi16(sampleLimit);
    for (; i + 8 <= count; i += 8) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(samples + i));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(samples + i),
                         _mm_min_epi16(_mm_max_epi16(v, low), high));
    }
#endif
    for (; i < count; ++i) samples[i] = static_cast<int16_t>(clampSample32(samples[i]));
}

// The widening of the float samples: l - width * r / 200 in double (the
// product exact, one rounding for the quotient and one for the difference),
// rounded to float once more; no clamp. Mono or width 0 leaves them alone.
void widenFloat(float* samples, int64_t frames, int channels, int32_t width) {
    if (channels != 2 || width <= 0) return;
    const int64_t count = frames * 2;
    const double w = width;
    int64_t i = 0;
#if defined(__SSE2__)
    const __m128d factor = _mm_set1_pd(w);
    const __m128d divisor = _mm_set1_pd(200.0);
    for (; i + 2 <= count; i += 2) {
        const __m128d lr = _mm_cvtps_pd(load_float_pair(samples + i));
        const __m128d rl = _mm_shuffle_pd(lr, lr, 1);
        const __m128d out = _mm_sub_pd(lr, _mm_div_pd(_mm_mul_pd(factor, rl), divisor));
        store_float_pair(samples + i, _mm_cvtpd_ps(out));
    }
#endif
    for (; i + 2 <= count; i += 2) {
        const double l = samples[i];
        const double r = samples[i + 1];
        samples[i] = static_cast<float>(l - w * r / 200.0);
        samples[i + 1] = static_cast<float>(r - w * l / 200.0);
    }
}

// One frame's samples times the fixed gain G: the 16-bit path truncates the
// quotient G × s / 10000 and clamps it; the float path multiplies by G / 10000
// in double (two roundings) and rounds to float, without clamp.
template <int CH, typename Wide>
inline void scaleFrame(int16_t* s, Wide G) {
    for (int ch = 0; ch < CH; ++ch)
        s[ch] = static_cast<int16_t>(std::clamp<Wide>((G * s[ch]) / 10000, -sampleLimit, sampleLimit));
}

template <int CH, typename Wide>
inline void scaleFrame(float* s, Wide G) {
    const double factor = static_cast<double>(G) / 10000.0;
    for (int ch = 0; ch < CH; ++ch) s[ch] = static_cast<float>(s[ch] * factor);
}

struct GainLaw {
    int64_t lastLookaheadFrame;  // frames up to this index look ahead; -1 none
    int64_t thresholdProduct;    // la × G at or above this passes the threshold level
    float ceiling;
    float upStep;
    float downStep;
    double reduceFloor;          // step e reduces only while the gain is above this
};

// A frame's amplified analysis peak |G × a / 10000| passes 32766 exactly when
// |G| × |a| reaches 32767 × 10000 (the quotient truncates toward zero).
constexpr int64_t fullScaleProduct = int64_t{32767} * 10000;

// Runs the gain law over frames [first, last) of the block. `analysis` holds
// the analysis samples from frame `first` on, far enough for every lookahead
// these frames make. Returns the gain after the last frame.
//
// Narrow: the caller has made sure that |G| stays below 65538 in these frames,
// so that G times any sample (at most 32766 in magnitude) fits 32 bits; the
// results are the same as with 64-bit products, only cheaper.
template <int CH, bool Narrow, typename Sample>
float applyGain(Sample* samples, const int16_t* analysis, int64_t first, int64_t last,
                const GainLaw& law, float gain) {
    using Wide = std::conditional_t<Narrow, int32_t, int64_t>;
    constexpr int64_t distance = CH == 2 ? 300 : 150;
    const Wide thresholdProduct = static_cast<Wide>(law.thresholdProduct);
    for (int64_t f = first; f < last; ++f) {
        const int16_t* a = analysis + (f - first) * CH;
        Sample* s = samples + f * CH;
        const Wide G = Narrow ? static_cast<Wide>(10000.0 * static_cast<double>(gain))
                              : static_cast<Wide>(fixedGain(gain));
        const Wide absG = G < 0 ? -G : G;

        Wide peak = std::abs(static_cast<int32_t>(a[0]));
        if (CH == 2) peak = std::max<Wide>(peak, std::abs(static_cast<int32_t>(a[1])));
        const bool aboveFullScale = absG * peak >= static_cast<Wide>(fullScaleProduct);

        scaleFrame<CH>(s, G);

        if (f <= law.lastLookaheadFrame) {
            const int16_t* ahead = a + CH + distance;
            Wide la = std::abs(static_cast<int32_t>(ahead[0]));
            if (CH == 2) la = std::max<Wide>(la, std::abs(static_cast<int32_t>(ahead[-1])));
            if (la * G >= thresholdProduct) {
                gain = gain - law.downStep;
                continue;
            }
        }
        if (aboveFullScale) {
            if (static_cast<double>(gain) > law.reduceFloor) gain = gain - law.downStep;
        } else if (gain < law.ceiling) {
            gain = gain + law.upStep;
        }
    }
    return gain;
}

// Largest |10000 × gain| for which the 32-bit products are safe.
constexpr double narrowGainLimit = 6.5537;

// Bounds of the gain over any number of frames, from how the law moves it: a
// raise happens only below the ceiling, a lookahead reduction only while G is
// positive, a full-scale reduction only above 1 + step. With non-negative steps
// the gain stays within [min(start, -down), max(start, ceiling + up)].
bool gainStaysNarrow(const GainLaw& law, float gain) {
    if (!(law.upStep >= 0.0f && law.downStep >= 0.0f)) return false;
    const double high = std::max(static_cast<double>(gain),
                                 static_cast<double>(law.ceiling) + law.upStep + 1e-6);
    const double low = std::min(static_cast<double>(gain), -static_cast<double>(law.downStep));
    return high < narrowGainLimit && low > -narrowGainLimit;
}

template <typename Sample>
float applyGain(Sample* samples, const int16_t* analysis, int64_t first, int64_t last,
                int channels, const GainLaw& law, float gain) {
    if (gainStaysNarrow(law, gain)) {
        if (channels == 2) return applyGain<2, true>(samples, analysis, first, last, law, gain);
        return applyGain<1, true>(samples, analysis, first, last, law, gain);
    }
    if (channels == 2) return applyGain<2, false>(samples, analysis, first, last, law, gain);
    return applyGain<1, false>(samples, analysis, first, last, law, gain);
}

GainLaw gainLaw(const ClassicCoefficients& coefficients, int threshold, int frames, int channels) {
    GainLaw law;
    const int64_t level = 16367 + int64_t{164} * threshold;  // 32767 - (100 - threshold) × 164
    // la × G / 10000 > level, the quotient truncated: la × G ≥ (level + 1) × 10000.
    law.thresholdProduct = (level + 1) * 10000;
    // Lookahead while r = frames - f exceeds the distance and the sample looked
    // at lies in the block: at least 301 frames left in stereo, 152 in mono.
    law.lastLookaheadFrame =
        threshold < 100 ? int64_t{frames} - (channels == 2 ? 301 : 152) : -1;
    law.ceiling = coefficients.gainCeiling;
    law.upStep = coefficients.gainUpStep;
    law.downStep = coefficients.gainDownStep;
    law.reduceFloor = 1.0 + static_cast<double>(coefficients.gainDownStep);
    return law;
}

// The gain law over a whole block. `source` is the widened 16-bit block the
// analysis is taken from (the samples themselves in the 16-bit path, which
// reads each frame before it scales it); `samples` receive the gain.
template <typename Sample>
float runGainLaw(Engine& e, Sample* samples, const int16_t* source, int frames, int channels,
                 int rate, int hpcutoff, const GainLaw& law, float gain) {
    const int64_t total = int64_t{frames} * channels;
    if (hpcutoff == 0) return applyGain(samples, source, 0, frames, channels, law, gain);
    const HighPassCoefficients c = highPassCoefficients(rate, hpcutoff);
    if (total <= analysisBufferLength) {
        highPassRun(e, e.analysisBuffer, source, total, channels, c);
        return applyGain(samples, e.analysisBuffer, 0, frames, channels, law, gain);
    }
    // A block longer than the analysis buffer: slide a window of analysis
    // over it. Each window keeps the analysis the last frames still need for
    // their lookahead and continues the filter where it stopped, so the
    // result is that of one pass over the whole block.
    const int64_t capacity = analysisBufferLength / channels;  // frames
    int16_t* buffer = e.analysisBuffer;
    int64_t windowStart = 0;
    int64_t analysed = std::min<int64_t>(frames, capacity);
    highPassRun(e, buffer, source, analysed * channels, channels, c);
    int64_t next = 0;
    for (;;) {
        const int64_t until = analysed == frames ? frames : analysed - lookaheadFrames;
        gain = applyGain(samples, buffer + (next - windowStart) * channels, next, until, channels,
                         law, gain);
        next = until;
        if (next == frames) break;
        const int64_t kept = analysed - next;
        std::memmove(buffer, buffer + (next - windowStart) * channels,
                     static_cast<size_t>(kept * channels) * sizeof(int16_t));
        windowStart = next;
        const int64_t more = std::min<int64_t>(frames - analysed, capacity - kept);
        highPassRun(e, buffer + kept * channels, source + analysed * channels, more * channels,
                    channels, c);
        analysed += more;
    }
    return gain;
}

}  // namespace

void computeClassicCoefficients(Engine& e, int ampMax, int ampUp, int ampDown, int reset,
                                int rate) {
    ClassicCoefficients c;
    c.gainCeiling = static_cast<float>(0.09 * ampMax + 1);
    const double up = ampUp / 100.0;
    const double upSquared = up * up;
    c.gainUpStep = static_cast<float>(0.0004 * (upSquared * upSquared) + 0.000004);
    c.gainDownStep = static_cast<float>(0.001 * (100 - ampDown) + 0.004);
    if (rate > 0) {
        // The steps are per frame; scale them so the time per unit of gain
        // does not depend on the rate.
        const double scale = 44100.0 / rate;
        c.gainUpStep = static_cast<float>(static_cast<double>(c.gainUpStep) * scale);
        c.gainDownStep = static_cast<float>(static_cast<double>(c.gainDownStep) * scale);
    }
    publishClassicCoefficients(e, c);
    if (reset != 0) requestEngineResets(e, engineResetClassicGain);
}

int16_t* analysisHighPass(Engine& e, const int16_t* samples, int frames, int channels, int rate,
                          int hpcutoff) {
    if (channels != 1 && channels != 2) channels = 1;
    const HighPassCoefficients c = highPassCoefficients(rate, hpcutoff);
    // At most a buffer's worth of whole frames; longer blocks go through in pieces.
    const int64_t capacityFrames = analysisBufferLength / channels;
    const int64_t count = std::clamp<int64_t>(frames, 0, capacityFrames) * channels;
    highPassRun(e, e.analysisBuffer, samples, count, channels, c);
    return e.analysisBuffer;
}

void enhanceClassic(Engine& e, const EngineControls& controls, int16_t* samples, int frames,
                    int channels, int rate) {
    if (samples == nullptr || frames <= 0 || (channels != 1 && channels != 2)) return;
    widen(samples, frames, channels, controls.stereo_width);
    const GainLaw law = gainLaw(e.engineClassic, controls.threshold, frames, channels);
    e.classicGain = runGainLaw(e, samples, samples, frames, channels, rate, controls.hpcutoff, law,
                               e.classicGain);
}

void enhanceClassicFloat(Engine& e, const EngineControls& controls, float* samples,
                         int16_t* shadow, int frames, int channels, int rate) {
    if (samples == nullptr || shadow == nullptr || frames <= 0 || (channels != 1 && channels != 2))
        return;
    widen(shadow, frames, channels, controls.stereo_width);
    widenFloat(samples, frames, channels, controls.stereo_width);
    const GainLaw law = gainLaw(e.engineClassic, controls.threshold, frames, channels);
    e.classicGain = runGainLaw(e, samples, shadow, frames, channels, rate, controls.hpcutoff, law,
                               e.classicGain);
}
