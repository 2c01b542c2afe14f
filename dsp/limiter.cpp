// Limiter (backward attack and forward release/hold envelope, static curve in
// dB with soft knee) and the two soft-clip curves.
#include "dsp/limiter.h"

#include <cmath>
#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "dsp/sse_pairs.h"

float limiterAttackCoefficient(int rate, float attackMs) {
    const double samples = rate * static_cast<double>(attackMs) / 1000.0;
    if (!(samples > 0.0)) return 0.0f;
    return static_cast<float>(std::exp(-1.0 / samples));
}

// exp(-1 / t) of an integer time constant in samples; 0 gives 0 (exp(-inf)).
static float integer_time_coefficient(long long samples) {
    if (samples <= 0) return 0.0f;
    return static_cast<float>(std::exp(-1.0 / static_cast<double>(samples)));
}

float limiterReleaseCoefficient(unsigned releaseMs, int rate) {
    return integer_time_coefficient(static_cast<long long>(releaseMs) * rate / 1000);
}

int limiterLookahead(float attackMs, int rate, int maxFrames) {
    const double frames = static_cast<double>(attackMs) * rate / 1000.0;
    if (maxFrames < 0) maxFrames = 0;
    if (!(frames > 0.0)) return 0;
    if (frames >= maxFrames) return maxFrames;
    return static_cast<int>(frames);
}

int limiterHoldSamples(unsigned holdMs, int rate) {
    const long long samples = static_cast<long long>(holdMs) * rate / 1000;
    if (samples < 0) return 0;
    return samples > 65535 ? 65535 : static_cast<int>(samples);
}

// The backward attack pass of one channel: e decays towards smaller samples
// with the attack coefficient and jumps to larger ones.
struct AttackRun {
    const float* signal;
    float* envelope;
    float a;
    float e = 0.0f;

    void step(long long p) {
        const float x = std::fabs(signal[p]);
        if (e >= x)
            e = static_cast<float>((static_cast<double>(e) - x) * a + x);
        else
            e = x;
        envelope[p] = e;
    }
};

// The forward release/hold pass of one channel, carrying v and h on.
struct ReleaseRun {
    float* envelope;
    float r;
    unsigned releaseMs;
    int rate;
    uint16_t hold;
    float v;
    uint16_t h;

    void step(int p) {
        const float target = envelope[p];
        if (v < target) {
            v = target;
            h = hold;
        } else {
            float coefficient = r;
            if (h > 0) {
                const long long stretched = (static_cast<long long>(releaseMs) + h) * rate / 1000;
                coefficient = integer_time_coefficient(stretched);
                --h;
            }
            v = static_cast<float>((static_cast<double>(v) - target) * coefficient + target);
        }
        envelope[p] = v;
    }

    void store(LimiterState& state, int c) {
        if (!std::isfinite(v)) v = 0.0f;  // never carry a runaway value on
        state.envelope[c] = v;
        state.hold[c] = h;
    }
};

// The backward attack pass of limiterEnvelope over both channels.
static void attack_pass(const float* signal, float* envelope, int n, int length, int channels,
                        float a, int lookahead) {
    // Last position of channel c not beyond n + L + c and inside S.
    long long start[2] = {0, 0};
    for (int c = 0; c < channels; ++c) {
        long long p = static_cast<long long>(n) + lookahead + c;
        if (p > length - 1) p = length - 1;
        start[c] = p - ((p - c) % channels + channels) % channels;
    }
    if (channels == 1) {
        AttackRun attack{signal, envelope, a};
        for (long long p = start[0]; p >= 0; --p) attack.step(p);
        return;
    }
    // Stereo: the channels are independent, so their passes run side by
    // side, each in its own order, once both have reached the same frame.
    AttackRun left{signal, envelope, a}, right{signal, envelope, a};
    long long p0 = start[0], p1 = start[1];
    for (; p0 >= 0 && p0 > p1 - 1; p0 -= 2) left.step(p0);
    for (; p1 >= 1 && p1 > p0 + 1; p1 -= 2) right.step(p1);
    for (; p0 >= 0 && p1 >= 1; p0 -= 2, p1 -= 2) {
        left.step(p0);
        right.step(p1);
    }
    for (; p0 >= 0; p0 -= 2) left.step(p0);
    for (; p1 >= 1; p1 -= 2) right.step(p1);
}

// The coefficients and limits of limiterEnvelope, checked as it checks them.
struct EnvelopeSetup {
    float a, r;
    int lookahead, hold;
    EnvelopeSetup(int rate, float attackMs, unsigned releaseMs, int lookaheadFrames,
                  int holdSamples)
        : a(limiterAttackCoefficient(rate, attackMs)),
          r(limiterReleaseCoefficient(releaseMs, rate)),
          lookahead(lookaheadFrames < 0 ? 0 : lookaheadFrames),
          hold(holdSamples < 0 ? 0 : (holdSamples > 65535 ? 65535 : holdSamples)) {}
};

void limiterEnvelope(const float* signal, float* envelope, int n, int length, int channels,
                     int rate, float attackMs, unsigned releaseMs, int lookahead, int hold,
                     LimiterState& state) {
    if (n <= 0 || length < n || channels < 1 || channels > 2) return;
    const EnvelopeSetup setup(rate, attackMs, releaseMs, lookahead, hold);
    attack_pass(signal, envelope, n, length, channels, setup.a, setup.lookahead);

    // The runs are named locals (not an array), so that their values stay in
    // registers through the dependent steps.
    ReleaseRun releaseLeft{envelope, setup.r, releaseMs, rate, static_cast<uint16_t>(setup.hold),
                           state.envelope[0], state.hold[0]};
    if (channels == 1) {
        for (int p = 0; p < n; ++p) releaseLeft.step(p);
        releaseLeft.store(state, 0);
        return;
    }
    ReleaseRun releaseRight{envelope, setup.r, releaseMs, rate, static_cast<uint16_t>(setup.hold),
                            state.envelope[1], state.hold[1]};
    int p = 0;
    for (; p + 1 < n; p += 2) {
        releaseLeft.step(p);
        releaseRight.step(p + 1);
    }
    if (p < n) releaseLeft.step(p);
    releaseLeft.store(state, 0);
    releaseRight.store(state, 1);
}

// The curve's two transcendental steps, 20 log10(e) rounded to float and
// makeup * 10^(g/20) * x rounded to float, are taken through the faster
// natural log and exp. Each fast result is accepted only when the whole
// interval its error bound allows rounds to one float; then the log10/pow
// evaluation (a few ulps of double from the true value as well) rounds to
// that float too. Otherwise the log10/pow evaluation is used, so the results
// are the same bit for bit.
static float level_db(float e) {
    const double decibelsPerNeper = 8.6858896380650365530;  // 20 / ln 10
    const double d = std::log(static_cast<double>(e)) * decibelsPerNeper;
    const double margin = std::fabs(d) * 0x1p-44;
    const float low = static_cast<float>(d - margin);
    if (low == static_cast<float>(d + margin)) return low;
    return static_cast<float>(20.0 * std::log10(static_cast<double>(e)));
}

#if defined(__SSE2__)
// 2^(j/64) for j = 0..63, from the library's pow when the library is loaded
// (correct to an ulp or two, far inside the error bound below).
struct ExpTable {
    double values[64];
    ExpTable() {
        for (int j = 0; j < 64; ++j) values[j] = std::pow(2.0, j / 64.0);
    }
};
static const ExpTable expTable;

// exp(a) of two arguments with |a| <= 700 (the caller's check), to within a
// relative error of 2^-47: a = (64 q + j) ln 2 / 64 + r, with n = 64 q + j the
// conversion of 64 a / ln 2 to an integer and r = (a - n L1) - n L2, where
// L1 + L2 = ln 2 / 64 to 2^-90; n L1 is exact (L1 has 21 trailing zero bits and
// |n| < 2^17) and so is a - n L1 (it lies within a factor 2 of a when n != 0).
// |r| <= ln 2 / 64 (ln 2 / 128 in the default rounding mode); exp(r) is its
// Taylor polynomial of degree 5 (remainder below 2^-48), then times 2^(j/64)
// and the exact power 2^q (|q| <= 1011: normal doubles throughout).
static inline __m128d exp_lanes(__m128d a) {
    const __m128d l1 = _mm_set1_pd(6.93147180369123816490e-01 / 64.0);
    const __m128d l2 = _mm_set1_pd(1.90821492927058770002e-10 / 64.0);
    const __m128i n = _mm_cvtpd_epi32(_mm_mul_pd(a, _mm_set1_pd(92.332482616893656877)));
    const __m128d nd = _mm_cvtepi32_pd(n);
    const __m128d r = _mm_sub_pd(_mm_sub_pd(a, _mm_mul_pd(nd, l1)), _mm_mul_pd(nd, l2));
    __m128d p = _mm_set1_pd(1.0 / 120.0);
    p = _mm_add_pd(_mm_mul_pd(p, r), _mm_set1_pd(1.0 / 24.0));
    p = _mm_add_pd(_mm_mul_pd(p, r), _mm_set1_pd(1.0 / 6.0));
    p = _mm_add_pd(_mm_mul_pd(p, r), _mm_set1_pd(0.5));
    p = _mm_add_pd(_mm_mul_pd(p, r), _mm_set1_pd(1.0));
    p = _mm_add_pd(_mm_mul_pd(p, r), _mm_set1_pd(1.0));
    const __m128i j = _mm_and_si128(n, _mm_set1_epi32(63));
    const int j0 = _mm_cvtsi128_si32(j);
    const int j1 = _mm_cvtsi128_si32(_mm_shuffle_epi32(j, 1));
    const __m128d table = _mm_loadh_pd(_mm_load_sd(expTable.values + j0), expTable.values + j1);
    const __m128i biased = _mm_add_epi32(_mm_srai_epi32(n, 6), _mm_set1_epi32(1023));
    const __m128i bits = _mm_slli_epi64(_mm_unpacklo_epi32(biased, _mm_setzero_si128()), 52);
    return _mm_mul_pd(_mm_mul_pd(p, table), _mm_castsi128_pd(bits));
}
#endif

// Scales a frame by makeup * 10^(g/20): fast = makeup * exp(argument) with
// argument = g / 20 * ln 10 and relative = (|argument| + 64) 2^-48, a bound
// of its relative error (the argument's roundings, exp's error of at most
// 2^-47, the products' roundings) with a wide margin, both from the factor
// pass (CurveSetup::apply).
template <int Channels>
static void apply_gain(float* frame, int channels, float makeup, float g, double fast,
                       double relative) {
    const int count = Channels > 0 ? Channels : (channels < 2 ? channels : 2);
#if defined(__SSE2__)
    if constexpr (Channels == 2) {
        // Both samples in the lanes: the same products, bounds and roundings,
        // and cmpeqps compares the two roundings as == does (false for NaN).
        const __m128d x = _mm_cvtps_pd(load_float_pair(frame));
        const __m128d v = _mm_mul_pd(_mm_set1_pd(fast), x);
        const __m128d absMask = _mm_castsi128_pd(_mm_set1_epi64x(0x7fffffffffffffffLL));
        const __m128d spread = _mm_mul_pd(_mm_and_pd(v, absMask), _mm_set1_pd(relative));
        const __m128 low = _mm_cvtpd_ps(_mm_sub_pd(v, spread));
        const __m128 high = _mm_cvtpd_ps(_mm_add_pd(v, spread));
        if ((_mm_movemask_ps(_mm_cmpeq_ps(low, high)) & 3) == 3) {
            store_float_pair(frame, low);
            return;
        }
        const double gain = makeup * std::pow(10.0, g / 20.0);
        for (int c = 0; c < 2; ++c) frame[c] = static_cast<float>(gain * frame[c]);
        return;
    }
#endif
    float out[2] = {0.0f, 0.0f};
    bool settled = true;
    for (int c = 0; c < count; ++c) {
        const double v = fast * frame[c];
        const double spread = std::fabs(v) * relative;
        out[c] = static_cast<float>(v - spread);
        settled = settled && out[c] == static_cast<float>(v + spread);
    }
    if (settled) {
        for (int c = 0; c < count; ++c) frame[c] = out[c];
        return;
    }
    const double x = g / 20.0;
    const double gain = makeup * std::pow(10.0, x);
    for (int c = 0; c < count; ++c) frame[c] = static_cast<float>(gain * frame[c]);
}

// The curve's values for a block and its passes over a chunk of frames.
struct CurveSetup {
    static constexpr int chunk = 64;
    double T, K;
    float lo, hi, makeup, slope;
    double quiet;
    bool neverReduces;

    CurveSetup(float thresholdDb, float kneeDb, float ratio, float makeupDb)
        : T(thresholdDb),
          K(kneeDb),
          lo(static_cast<float>(T - K / 2.0)),
          hi(static_cast<float>(T + K / 2.0)),
          makeup(static_cast<float>(std::pow(10.0, makeupDb / 20.0))),
          slope(0.0f) {
        // A ratio of 1.0 or less (or not a number) reduces nothing.
        if (ratio > 20.0f)
            slope = 1.0f;
        else if (ratio > 1.0f)
            slope = static_cast<float>(1.0 - 1.0 / ratio);
        // Every level at or below min(lo, T) gets no reduction (the knee
        // opens above lo, the straight part reduces only above T). Envelopes a
        // little below that level skip the logarithm: the margin is far wider
        // than the rounding of the level, so the result is the same bit for bit.
        const double bound = lo < thresholdDb ? lo : thresholdDb;
        quiet = std::pow(10.0, bound / 20.0) * (1.0 - 1e-5);
        neverReduces = slope == 0.0f;
    }

    // The level of the frame at p (the larger envelope in stereo), if it can
    // be reduced at all.
    void level(const float* envelope, int p, int channels, bool& reduces, float& levelDb) const {
        float e = envelope[p];
        if (channels == 2 && envelope[p + 1] > e) e = envelope[p + 1];
        reduces = !neverReduces && !(e < quiet);
        levelDb = reduces ? level_db(e) : 0.0f;
    }

    // The gains, factors and their application for `count` frames from
    // frame `first`, given their levels.
    void apply(float* signal, int first, int count, int channels, const bool* reduces,
               const float* levels) const {
        float gains[chunk];
        double factors[chunk];
        double relatives[chunk];
        const double ln10 = 2.3025850929940456840;
        for (int k = 0; k < count; ++k) {
            float g = 0.0f;
            if (reduces[k]) {
                const float level = levels[k];
                if (K > 0.0 && lo < level && level < hi)
                    g = static_cast<float>((static_cast<double>(lo) - level) *
                                           (0.5 * (static_cast<double>(level) - lo) / K * slope));
                else {
                    g = static_cast<float>((T - level) * slope);
                    if (g > 0.0f) g = 0.0f;
                }
            }
            gains[k] = g;
        }
        int k = 0;
#if defined(__SSE2__)
        // Two frames at a time: the same arguments, exp in the lanes. Frames
        // without reduction get a factor too (unused), which spares the loop
        // a data-dependent branch.
        const __m128d absMask = _mm_castsi128_pd(_mm_set1_epi64x(0x7fffffffffffffffLL));
        for (; k + 2 <= count; k += 2) {
            const __m128d x = _mm_div_pd(_mm_cvtps_pd(load_float_pair(gains + k)),
                                         _mm_set1_pd(20.0));
            const __m128d argument = _mm_mul_pd(x, _mm_set1_pd(ln10));
            const __m128d size = _mm_and_pd(argument, absMask);
            _mm_storeu_pd(relatives + k, _mm_mul_pd(_mm_add_pd(size, _mm_set1_pd(64.0)),
                                                    _mm_set1_pd(0x1p-48)));
            if (_mm_movemask_pd(_mm_cmple_pd(size, _mm_set1_pd(700.0))) == 3) {
                _mm_storeu_pd(factors + k, _mm_mul_pd(_mm_set1_pd(static_cast<double>(makeup)),
                                                      exp_lanes(argument)));
            } else {
                double arguments[2];
                _mm_storeu_pd(arguments, argument);
                factors[k] = makeup * std::exp(arguments[0]);
                factors[k + 1] = makeup * std::exp(arguments[1]);
            }
        }
#endif
        for (; k < count; ++k) {
            if (gains[k] == 0.0f) continue;
            const double x = gains[k] / 20.0;
            const double argument = x * ln10;
            factors[k] = makeup * std::exp(argument);
            relatives[k] = (std::fabs(argument) + 64.0) * 0x1p-48;
        }
        if (channels == 2)
            scale_frames<2>(signal, first, count, 2, gains, factors, relatives);
        else if (channels == 1)
            scale_frames<1>(signal, first, count, 1, gains, factors, relatives);
        else
            scale_frames<0>(signal, first, count, channels, gains, factors, relatives);
    }

    template <int Channels>
    void scale_frames(float* signal, int first, int count, int channels, const float* gains,
                      const double* factors, const double* relatives) const {
        const int width = Channels > 0 ? Channels : channels;
        for (int k = 0; k < count; ++k) {
            const int p = (first + k) * width;
            const float g = gains[k];
            if (g == 0.0f) {
                for (int c = 0; c < width; ++c)
                    signal[p + c] = static_cast<float>(static_cast<double>(makeup) * signal[p + c]);
            } else {
                apply_gain<Channels>(signal + p, width, makeup, g, factors[k], relatives[k]);
            }
        }
    }
};

// Passes over chunks of frames: the levels in dB, the gains in dB, the linear
// factors, then their application. Each frame's steps and their order are
// unchanged (a frame's envelope is read before its samples are written, also
// when signal and envelope share the buffer); the short loop bodies let the
// processor overlap the frames' long chains through log and exp.
void applyLimiterCurve(float* signal, const float* envelope, int n, int channels,
                       float thresholdDb, float kneeDb, float ratio, float makeupDb) {
    if (n <= 0 || channels < 1) return;
    const CurveSetup curve(thresholdDb, kneeDb, ratio, makeupDb);
    const int frames = n / channels;
    bool reduces[CurveSetup::chunk];
    float levels[CurveSetup::chunk];
    for (int first = 0; first < frames; first += CurveSetup::chunk) {
        const int count = frames - first < CurveSetup::chunk ? frames - first : CurveSetup::chunk;
        for (int k = 0; k < count; ++k)
            curve.level(envelope, (first + k) * channels, channels, reduces[k], levels[k]);
        curve.apply(signal, first, count, channels, reduces, levels);
    }
}

void limitBlock(float* signal, float* envelope, int n, int length, int channels, int rate,
                float attackMs, unsigned releaseMs, int lookahead, int hold, LimiterState& state,
                float thresholdDb, float kneeDb, float ratio, float makeupDb) {
    if (n <= 0 || length < n || channels < 1 || channels > 2 || signal == envelope) {
        limiterEnvelope(signal, envelope, n, length, channels, rate, attackMs, releaseMs,
                        lookahead, hold, state);
        applyLimiterCurve(signal, envelope, n, channels, thresholdDb, kneeDb, ratio, makeupDb);
        return;
    }
    const EnvelopeSetup setup(rate, attackMs, releaseMs, lookahead, hold);
    attack_pass(signal, envelope, n, length, channels, setup.a, setup.lookahead);

    // The release steps of a frame, then at once the level of that frame:
    // the level work (log) is independent of the release chain, so the two
    // overlap. The release pass writes only the envelope, the curve only the
    // signal (separate buffers), and every envelope value is final before the
    // level reads it: the same values as the two calls in sequence.
    const CurveSetup curve(thresholdDb, kneeDb, ratio, makeupDb);
    ReleaseRun left{envelope, setup.r, releaseMs, rate, static_cast<uint16_t>(setup.hold),
                    state.envelope[0], state.hold[0]};
    ReleaseRun right{envelope, setup.r, releaseMs, rate, static_cast<uint16_t>(setup.hold),
                     state.envelope[1], state.hold[1]};
    const int frames = n / channels;
    bool reduces[CurveSetup::chunk];
    float levels[CurveSetup::chunk];
    for (int first = 0; first < frames; first += CurveSetup::chunk) {
        const int count = frames - first < CurveSetup::chunk ? frames - first : CurveSetup::chunk;
        if (channels == 2) {
            for (int k = 0; k < count; ++k) {
                const int p = (first + k) * 2;
                left.step(p);
                right.step(p + 1);
                curve.level(envelope, p, 2, reduces[k], levels[k]);
            }
        } else {
            for (int k = 0; k < count; ++k) {
                left.step(first + k);
                curve.level(envelope, first + k, 1, reduces[k], levels[k]);
            }
        }
        curve.apply(signal, first, count, channels, reduces, levels);
    }
    if (channels == 2 && n % 2 != 0) left.step(n - 1);  // a lone left sample: no frame
    left.store(state, 0);
    if (channels == 2) right.store(state, 1);
}

#if defined(__SSE2__)
// Four samples of soft clip 1 or 2 with SSE2: every lane performs the scalar
// loop's double operations in the same order, and the comparisons choose
// between the same values (a comparison with NaN is false in both), so the
// floats are the same bit for bit.
template <int Mode>
static inline __m128d soft_clip_lanes(__m128d x) {
    if constexpr (Mode == 1) {
        const __m128d absMask = _mm_castsi128_pd(_mm_set1_epi64x(0x7fffffffffffffffLL));
        const __m128d inside = _mm_cmple_pd(_mm_and_pd(x, absMask), _mm_set1_pd(1.4142135623));
        const __m128d curve =
            _mm_sub_pd(x, _mm_div_pd(_mm_mul_pd(_mm_mul_pd(x, x), x), _mm_set1_pd(6.0)));
        const __m128d positive = _mm_cmpgt_pd(x, _mm_setzero_pd());
        const __m128d top = _mm_set1_pd(static_cast<double>(0.9428090453f));
        const __m128d bottom = _mm_set1_pd(static_cast<double>(-0.9428090453f));
        const __m128d clipped =
            _mm_or_pd(_mm_and_pd(positive, top), _mm_andnot_pd(positive, bottom));
        return _mm_or_pd(_mm_and_pd(inside, curve), _mm_andnot_pd(inside, clipped));
    }
    const __m128d one = _mm_set1_pd(1.0);
    const __m128d minusOne = _mm_set1_pd(-1.0);
    const __m128d below = _mm_cmplt_pd(x, minusOne);
    x = _mm_or_pd(_mm_and_pd(below, minusOne), _mm_andnot_pd(below, x));
    const __m128d above = _mm_cmpgt_pd(x, one);
    x = _mm_or_pd(_mm_and_pd(above, one), _mm_andnot_pd(above, x));
    const __m128d half = _mm_set1_pd(0.5);
    return _mm_sub_pd(_mm_mul_pd(_mm_set1_pd(1.5), x),
                      _mm_mul_pd(_mm_mul_pd(_mm_mul_pd(half, x), x), x));
}

// Whole groups of four samples; returns the number done.
template <int Mode>
static int soft_clip_blocks(float* samples, int n) {
    int i = 0;
    for (; i + 4 <= n; i += 4) {
        const __m128 f = _mm_loadu_ps(samples + i);
        const __m128d lo = soft_clip_lanes<Mode>(_mm_cvtps_pd(f));
        const __m128d hi = soft_clip_lanes<Mode>(_mm_cvtps_pd(_mm_movehl_ps(f, f)));
        _mm_storeu_ps(samples + i, _mm_movelh_ps(_mm_cvtpd_ps(lo), _mm_cvtpd_ps(hi)));
    }
    return i;
}
#endif

void softClip(float* samples, int n, int mode) {
    if (mode != 1 && mode != 2) return;
    int start = 0;
#if defined(__SSE2__)
    start = mode == 1 ? soft_clip_blocks<1>(samples, n) : soft_clip_blocks<2>(samples, n);
#endif
    if (mode == 1) {
        for (int i = start; i < n; ++i) {
            const double x = samples[i];
            if (std::fabs(x) <= 1.4142135623)
                samples[i] = static_cast<float>(x - x * x * x / 6.0);
            else
                samples[i] = x > 0.0 ? 0.9428090453f : -0.9428090453f;
        }
    } else {
        for (int i = start; i < n; ++i) {
            double x = samples[i];
            if (x < -1.0) x = -1.0;
            if (x > 1.0) x = 1.0;
            samples[i] = static_cast<float>(1.5 * x - 0.5 * x * x * x);
        }
    }
}
