// Multiband processor: input AGC, band split with a 10 ms delay and a
// lookahead gain computer per band, solo, level, stereo, soft clip, limiter,
// and the read-outs for the configuration pages.
#include "dsp/multiband.h"

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "dsp/sse_pairs.h"

#include "dsp/crossover.h"
#include "dsp/crossover_sections.h"
#include "dsp/limiter.h"

int multibandFailAfter = -1;

// Larger blocks than this (far beyond any host's) are treated as unobtainable.
constexpr long long maxBlockSamples = 1LL << 24;

int multibandDelayFrames(int rate, int channels) {
    if (rate <= 0 || channels <= 0) return 0;
    int frames = rate / 100;
    if (frames * static_cast<long long>(channels) > bandHistoryLength)
        frames = bandHistoryLength / channels;
    return frames;
}

// One frame of a band's gain computer: scales the frame at p + i with g, then
// moves g down by `down` while threshold (limit) < g * (peak `ahead` samples
// further), else up by `up` below maxGain. In stereo with SSE2 the frame's two
// products and peaks are taken in lanes: the float products p * g are the same
// (one rounding each), both are stored before the peaks ahead are loaded (as
// in the scalar code, which matters when the lookahead is 0), and
// maxss(right, left) is "right > left ? right : left", the scalar's choice
// also for NaNs. The gain steps are the same code in both.
template <int Channels>
static inline float band_gain_frame(float* p, int i, int ahead, float g, float up, float down,
                                    float maxGain, double limit) {
    float m;
#if defined(__SSE2__)
    if constexpr (Channels == 2) {
        const __m128 absMask = _mm_castsi128_ps(_mm_set1_epi32(0x7fffffff));
        const __m128 frame = load_float_pair(p + i);
        store_float_pair(p + i, _mm_mul_ps(frame, _mm_set1_ps(g)));
        const __m128 peaks = _mm_and_ps(load_float_pair(p + i + ahead), absMask);
        m = _mm_cvtss_f32(_mm_max_ss(_mm_shuffle_ps(peaks, peaks, 1), peaks));
    } else
#endif
    {
        p[i] = p[i] * g;
        m = std::fabs(p[i + ahead]);
        if constexpr (Channels == 2) {
            p[i + 1] = p[i + 1] * g;
            const float right = std::fabs(p[i + 1 + ahead]);
            if (right > m) m = right;
        }
    }
    if (limit < static_cast<double>(g) * m)
        g = g - down;
    else if (g < maxGain)
        g = g + up;
    return g;
}

template <int Channels, bool Sum>
static float band_gain(float* p, int n, float g, float up, float down, float maxGain,
                       float threshold, double* sum, int lookahead) {
    const int ahead = lookahead * Channels;
    const double limit = threshold;
    for (int i = 0; i < n; i += Channels) {
        g = band_gain_frame<Channels>(p, i, ahead, g, up, down, maxGain, limit);
        if constexpr (Sum) *sum += g;
    }
    return g;
}

float computeBandGain(float* p, int n, int channels, float gain, float up, float down,
                      float maxGain, float threshold, float* readout, int lookahead) {
    if (lookahead < 0) lookahead = 0;
    double sum = 0.0;
    double* total = readout != nullptr ? &sum : nullptr;
    float g;
    if (channels == 2)
        g = total != nullptr
                ? band_gain<2, true>(p, n, gain, up, down, maxGain, threshold, total, lookahead)
                : band_gain<2, false>(p, n, gain, up, down, maxGain, threshold, nullptr, lookahead);
    else
        g = total != nullptr
                ? band_gain<1, true>(p, n, gain, up, down, maxGain, threshold, total, lookahead)
                : band_gain<1, false>(p, n, gain, up, down, maxGain, threshold, nullptr, lookahead);
    if (g > maxGain) g = maxGain;
    const int frames = channels > 0 ? n / channels : 0;
    if (readout != nullptr && frames > 0) *readout = static_cast<float>(sum / frames);
    return g;
}

// The crossover cascade and the bands' gain computers frame by frame: at
// frame i the cascade writes the bands' samples at span + i, then each band's
// gain computer takes frame i. Every value a gain computer reads is final by
// then (its peak lies at most span samples ahead, lookahead <= delay), and a
// frame it scales is never read by the cascade, so each band sees the same
// values in the same order as in splitBands followed by computeBandGain; the
// gain computers' work overlaps the cascade's chains of dependent steps.
template <int Count, int Channels, bool Sum>
static void split_and_scale(const float* input, float* const band[4], CrossoverBank& bank,
                            int n, int span, int ahead, const float* up, const float* down,
                            const float* maxGain, const double* limit, float* gain,
                            double* sum) {
    float g0 = gain[0], g1 = gain[1], g2 = gain[2], g3 = gain[3];
    double sum0 = 0.0, sum1 = 0.0, sum2 = 0.0, sum3 = 0.0;
    const CrossoverSection* s = bank.sections;
#if defined(__SSE2__)
    SectionPair r0(s[0], s[1]), r1(s[2], s[3]), r2(s[4], s[5]);
#endif
    SectionRun m0(s[0]), m1(s[2]), m2(s[4]);
    for (int i = 0; i < n; i += Channels) {
        const int at = span + i;
        if constexpr (Count == 0) {
            for (int c = 0; c < Channels; ++c) band[0][at + c] = input[i + c];
        } else if constexpr (Channels == 2) {
#if defined(__SSE2__)
            __m128d x = r0.step(load_frame(input + i), band[0] + at);
            if constexpr (Count >= 2) x = r1.step(x, band[1] + at);
            if constexpr (Count >= 3) x = r2.step(x, band[2] + at);
            store_float_pair(band[Count] + at, _mm_cvtpd_ps(x));
#endif
        } else {
            float x = cascade_step(m0, input[i], band[0] + at);
            if constexpr (Count >= 2) x = cascade_step(m1, x, band[1] + at);
            if constexpr (Count >= 3) x = cascade_step(m2, x, band[2] + at);
            band[Count][at] = x;
        }
        g0 = band_gain_frame<Channels>(band[0], i, ahead, g0, up[0], down[0], maxGain[0], limit[0]);
        if constexpr (Sum) sum0 += g0;
        if constexpr (Count >= 1) {
            g1 = band_gain_frame<Channels>(band[1], i, ahead, g1, up[1], down[1], maxGain[1],
                                           limit[1]);
            if constexpr (Sum) sum1 += g1;
        }
        if constexpr (Count >= 2) {
            g2 = band_gain_frame<Channels>(band[2], i, ahead, g2, up[2], down[2], maxGain[2],
                                           limit[2]);
            if constexpr (Sum) sum2 += g2;
        }
        if constexpr (Count >= 3) {
            g3 = band_gain_frame<Channels>(band[3], i, ahead, g3, up[3], down[3], maxGain[3],
                                           limit[3]);
            if constexpr (Sum) sum3 += g3;
        }
    }
    for (int j = 0; j < Count; ++j) {
        if constexpr (Channels == 2) {
#if defined(__SSE2__)
            const SectionPair* pairs[3] = {&r0, &r1, &r2};
            SectionRun left, right;
            pairs[j]->unpack(s[2 * j], s[2 * j + 1], left, right);
            left.store(bank.sections[2 * j]);
            right.store(bank.sections[2 * j + 1]);
#endif
        } else {
            SectionRun* runs[3] = {&m0, &m1, &m2};
            runs[j]->store(bank.sections[2 * j]);
        }
    }
    gain[0] = g0;
    gain[1] = g1;
    gain[2] = g2;
    gain[3] = g3;
    if constexpr (Sum) {
        sum[0] = sum0;
        sum[1] = sum1;
        sum[2] = sum2;
        sum[3] = sum3;
    }
}

template <int Channels, bool Sum>
static void split_and_scale_count(const float* input, float* const band[4], CrossoverBank& bank,
                                  int crossovers, int n, int span, int ahead, const float* up,
                                  const float* down, const float* maxGain, const double* limit,
                                  float* gain, double* sum) {
    switch (crossovers) {
        case 0:
            split_and_scale<0, Channels, Sum>(input, band, bank, n, span, ahead, up, down,
                                              maxGain, limit, gain, sum);
            break;
        case 1:
            split_and_scale<1, Channels, Sum>(input, band, bank, n, span, ahead, up, down,
                                              maxGain, limit, gain, sum);
            break;
        default:
            split_and_scale<2, Channels, Sum>(input, band, bank, n, span, ahead, up, down,
                                              maxGain, limit, gain, sum);
            break;
    }
}

void splitAndScaleBands(const float* input, float* const band[4], CrossoverBank& bank,
                        int crossovers, int n, int channels, int span, int lookahead,
                        const float up[4], const float down[4], const float maxGain[4],
                        const float threshold[4], float gain[4], float* readout) {
    if (lookahead < 0) lookahead = 0;
    if (crossovers < 0) crossovers = 0;
    if (crossovers > 3) crossovers = 3;
    // With three crossovers (four bands) the fused loop holds more values
    // than there are registers and runs slower than the separate passes.
    bool fused = (channels == 1 || channels == 2) && n > 0 && n % channels == 0 &&
                 lookahead * channels <= span && crossovers <= 2;
#if !defined(__SSE2__)
    fused = fused && channels == 1;
#endif
    if (!fused) {
        float* const delayed[4] = {band[0] + span, band[1] + span, band[2] + span, band[3] + span};
        splitBands(input, delayed, bank, crossovers, n, channels);
        for (int j = 0; j <= crossovers; ++j)
            gain[j] = computeBandGain(band[j], n, channels, gain[j], up[j], down[j], maxGain[j],
                                      threshold[j], readout != nullptr ? readout + j : nullptr,
                                      lookahead);
        return;
    }
    const double limit[4] = {threshold[0], threshold[1], threshold[2], threshold[3]};
    double sum[4] = {0.0, 0.0, 0.0, 0.0};
    const int ahead = lookahead * channels;
    if (channels == 2) {
        if (readout != nullptr)
            split_and_scale_count<2, true>(input, band, bank, crossovers, n, span, ahead, up, down,
                                           maxGain, limit, gain, sum);
        else
            split_and_scale_count<2, false>(input, band, bank, crossovers, n, span, ahead, up,
                                            down, maxGain, limit, gain, sum);
    } else {
        if (readout != nullptr)
            split_and_scale_count<1, true>(input, band, bank, crossovers, n, span, ahead, up, down,
                                           maxGain, limit, gain, sum);
        else
            split_and_scale_count<1, false>(input, band, bank, crossovers, n, span, ahead, up,
                                            down, maxGain, limit, gain, sum);
    }
    // As computeBandGain ends.
    const int frames = n / channels;
    for (int j = 0; j <= crossovers; ++j) {
        if (gain[j] > maxGain[j]) gain[j] = maxGain[j];
        if (readout != nullptr) readout[j] = static_cast<float>(sum[j] / frames);
    }
}

// The trace buffer hand-over: the audio thread announces a trace write before
// it looks at the pointer and withdraws the announcement after its last write;
// the dialog withdraws the pointer and then waits for any announced write to
// end. Both sides use sequentially consistent operations, so either the audio
// thread sees the null pointer or the dialog sees the announcement.
static TraceBuffer* begin_trace_writes(MultibandState& state) {
    std::atomic_ref<uint32_t>(state.traceBlockActive).store(1, std::memory_order_seq_cst);
    return std::atomic_ref<TraceBuffer*>(state.traceBuffer).load(std::memory_order_seq_cst);
}

static void end_trace_writes(MultibandState& state) {
    std::atomic_ref<uint32_t>(state.traceBlockActive).store(0, std::memory_order_seq_cst);
}

void attachTraceBuffer(Engine& e, TraceBuffer* buffer) {
    std::atomic_ref<TraceBuffer*>(e.multiband.traceBuffer).store(buffer, std::memory_order_seq_cst);
}

void detachTraceBuffer(Engine& e) {
    MultibandState& state = e.multiband;
    std::atomic_ref<TraceBuffer*>(state.traceBuffer).store(nullptr, std::memory_order_seq_cst);
    std::atomic_ref<uint32_t> active(state.traceBlockActive);
    while (active.load(std::memory_order_seq_cst) != 0) {
        // A block's trace writes take microseconds; wait them out.
    }
}

static float* obtain_buffer(long long count) {
    if (multibandFailAfter == 0) {
        multibandFailAfter = -1;
        return nullptr;
    }
    if (multibandFailAfter > 0) --multibandFailAfter;
    // At least one element, so that an empty history never asks for 0 bytes.
    return static_cast<float*>(std::malloc(static_cast<size_t>(count + 1) * sizeof(float)));
}

// The five per-block buffers: four bands of n + D * channels samples and the
// input of n samples. All or none.
static bool obtain_buffers(float* (&band)[4], float*& input, int span, int n) {
    input = obtain_buffer(n);
    for (int b = 0; b < 4; ++b) band[b] = input != nullptr ? obtain_buffer(span) : nullptr;
    bool complete = input != nullptr;
    for (float* p : band) complete = complete && p != nullptr;
    if (!complete) {
        std::free(input);
        for (float* p : band) std::free(p);
    }
    return complete;
}

int16_t multibandOutputSample(float y) {
    const double v = 32767.0 * y;
    if (v >= 32767.0) return 32767;
    if (v <= -32767.0) return -32767;
    if (v == v) return static_cast<int16_t>(static_cast<int>(v));
    return 0;
}

// The block loops below take four samples at a time with SSE2 (x86-64, and the
// i686 build, which is compiled for SSE2). Each lane performs the same IEEE
// double operations, in the same order, as the scalar statement it replaces,
// so the results are the same bit for bit; the scalar statement handles the
// remaining samples and other processors.

#if defined(__SSE2__)
// Four samples times 32767 in double, a not-a-number as 0: the two lanes of
// the first pair in lo, of the second in hi.
static inline void scaledLanes(const float* y, __m128d& lo, __m128d& hi) {
    const __m128d scale = _mm_set1_pd(32767.0);
    const __m128 f = _mm_loadu_ps(y);
    lo = _mm_mul_pd(scale, _mm_cvtps_pd(f));
    hi = _mm_mul_pd(scale, _mm_cvtps_pd(_mm_movehl_ps(f, f)));
    lo = _mm_and_pd(lo, _mm_cmpord_pd(lo, lo));
    hi = _mm_and_pd(hi, _mm_cmpord_pd(hi, hi));
}
#endif

void multibandOutputSamples(const float* y, int16_t* out, int n) {
    int i = 0;
#if defined(__SSE2__)
    // 32767 y (exact in double); NaN lanes to +0 (as the scalar's "not a
    // number gives 0"); then limited to -32767..32767, where the limits equal
    // the scalar's first two cases (maxpd/minpd see no NaN any more) and
    // truncation of a value inside (-32767, 32767) is the scalar's int
    // conversion; the saturating pack finds every value already in range.
    const __m128d top = _mm_set1_pd(32767.0);
    const __m128d bottom = _mm_set1_pd(-32767.0);
    for (; i + 4 <= n; i += 4) {
        __m128d lo, hi;
        scaledLanes(y + i, lo, hi);
        lo = _mm_min_pd(_mm_max_pd(lo, bottom), top);
        hi = _mm_min_pd(_mm_max_pd(hi, bottom), top);
        const __m128i both = _mm_unpacklo_epi64(_mm_cvttpd_epi32(lo), _mm_cvttpd_epi32(hi));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out + i), _mm_packs_epi32(both, both));
    }
#endif
    for (; i < n; ++i) out[i] = multibandOutputSample(y[i]);
}

void multibandInputSamples(const int16_t* samples, float* input, int n) {
    int i = 0;
#if defined(__SSE2__)
    // s / 32767.0 in double (divpd), rounded to float; zero samples become the
    // small substitute 1e-8.
    const __m128d divisor = _mm_set1_pd(32767.0);
    const __m128 substitute = _mm_set1_ps(1e-8f);
    for (; i + 4 <= n; i += 4) {
        const __m128i s16 = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(samples + i));
        const __m128i s32 = _mm_srai_epi32(_mm_unpacklo_epi16(s16, s16), 16);
        const __m128d lo = _mm_div_pd(_mm_cvtepi32_pd(s32), divisor);
        const __m128d hi = _mm_div_pd(_mm_cvtepi32_pd(_mm_shuffle_epi32(s32, 0xee)), divisor);
        const __m128 f = _mm_movelh_ps(_mm_cvtpd_ps(lo), _mm_cvtpd_ps(hi));
        const __m128 zero = _mm_castsi128_ps(_mm_cmpeq_epi32(s32, _mm_setzero_si128()));
        _mm_storeu_ps(input + i, _mm_or_ps(_mm_and_ps(zero, substitute), _mm_andnot_ps(zero, f)));
    }
#endif
    for (; i < n; ++i) {
        const int s = samples[i];
        input[i] = s == 0 ? 1e-8f : static_cast<float>(s / 32767.0);
    }
}

void multibandInputFloats(const float* samples, float* input, int n) {
    int i = 0;
#if defined(__SSE2__)
    // As the scalar loop: not-a-number to 0, the bounds, x / 32767.0 in
    // double (divpd) rounded to float, zeros to the substitute 1e-8.
    const __m128d divisor = _mm_set1_pd(32767.0);
    const __m128 substitute = _mm_set1_ps(1e-8f);
    const __m128 low = _mm_set1_ps(-floatSampleBound), high = _mm_set1_ps(floatSampleBound);
    for (; i + 4 <= n; i += 4) {
        __m128 x = _mm_loadu_ps(samples + i);
        x = _mm_and_ps(x, _mm_cmpeq_ps(x, x));
        x = _mm_min_ps(_mm_max_ps(x, low), high);
        const __m128d lo = _mm_div_pd(_mm_cvtps_pd(x), divisor);
        const __m128d hi = _mm_div_pd(_mm_cvtps_pd(_mm_movehl_ps(x, x)), divisor);
        const __m128 f = _mm_movelh_ps(_mm_cvtpd_ps(lo), _mm_cvtpd_ps(hi));
        const __m128 zero = _mm_cmpeq_ps(x, _mm_setzero_ps());
        _mm_storeu_ps(input + i, _mm_or_ps(_mm_and_ps(zero, substitute), _mm_andnot_ps(zero, f)));
    }
#endif
    for (; i < n; ++i) {
        float x = samples[i];
        if (!(x == x)) x = 0.0f;
        x = x < -floatSampleBound ? -floatSampleBound : x > floatSampleBound ? floatSampleBound : x;
        input[i] = x == 0.0f ? 1e-8f : static_cast<float>(x / 32767.0);
    }
}

void multibandOutputFloats(const float* y, float* out, int n) {
    int i = 0;
#if defined(__SSE2__)
    for (; i + 4 <= n; i += 4) {
        __m128d lo, hi;
        scaledLanes(y + i, lo, hi);
        _mm_storeu_ps(out + i, _mm_movelh_ps(_mm_cvtpd_ps(lo), _mm_cvtpd_ps(hi)));
    }
#endif
    for (; i < n; ++i) {
        const double v = 32767.0 * y[i];
        out[i] = v == v ? static_cast<float>(v) : 0.0f;
    }
}

void addSamples(float* sum, const float* add, int n) {
    int i = 0;
#if defined(__SSE2__)
    for (; i + 4 <= n; i += 4)
        _mm_storeu_ps(sum + i, _mm_add_ps(_mm_loadu_ps(sum + i), _mm_loadu_ps(add + i)));
#endif
    for (; i < n; ++i) sum[i] = sum[i] + add[i];
}

void scaleSamples(float* samples, int n, double level) {
    int i = 0;
#if defined(__SSE2__)
    const __m128d factor = _mm_set1_pd(level);
    for (; i + 4 <= n; i += 4) {
        const __m128 f = _mm_loadu_ps(samples + i);
        const __m128d lo = _mm_mul_pd(_mm_cvtps_pd(f), factor);
        const __m128d hi = _mm_mul_pd(_mm_cvtps_pd(_mm_movehl_ps(f, f)), factor);
        _mm_storeu_ps(samples + i, _mm_movelh_ps(_mm_cvtpd_ps(lo), _mm_cvtpd_ps(hi)));
    }
#endif
    for (; i < n; ++i) samples[i] = static_cast<float>(samples[i] * level);
}

void spreadStereo(float* samples, int n, int percent) {
    int i = 0;
#if defined(__SSE2__)
    // One frame per step: (l, r) - percent * (r, l) / 100.
    const __m128d p = _mm_set1_pd(static_cast<double>(percent));
    const __m128d hundred = _mm_set1_pd(100.0);
    for (; i + 2 <= n; i += 2) {
        const __m128d lr = _mm_cvtps_pd(load_float_pair(samples + i));
        const __m128d rl = _mm_shuffle_pd(lr, lr, 1);
        const __m128d out = _mm_sub_pd(lr, _mm_div_pd(_mm_mul_pd(p, rl), hundred));
        store_float_pair(samples + i, _mm_cvtpd_ps(out));
    }
#else
    for (; i + 2 <= n; i += 2) {
        const float l = samples[i];
        const float r = samples[i + 1];
        samples[i] = static_cast<float>(l - percent * static_cast<double>(r) / 100.0);
        samples[i + 1] = static_cast<float>(r - percent * static_cast<double>(l) / 100.0);
    }
#endif
}

// One channel's input AGC step: the sample is scaled with the gain before
// the gain moves on.
static inline void agc_step(float* x, double& gain) {
    const float y = static_cast<float>(*x * gain);
    *x = y;
    if (y >= 0.8)
        gain -= 0.004;
    else
        gain += 0.000004;
    if (gain < 1.0) gain = 1.0;
    if (gain > 4.0) gain = 4.0;
}

static void run_input_agc(MultibandState& state, float* input, int n, int channels) {
    double gain[2] = {load_relaxed(state.agcGains[0]), load_relaxed(state.agcGains[1])};
    if (channels == 2) {
        // Independent gains: both channels' chains run side by side.
        for (int p = 0; p + 1 < n; p += 2) {
            agc_step(input + p, gain[0]);
            agc_step(input + p + 1, gain[1]);
        }
    } else {
        for (int p = 0; p < n; ++p) agc_step(input + p, gain[0]);
    }
    store_relaxed(state.agcGains[0], gain[0]);
    if (channels == 2) store_relaxed(state.agcGains[1], gain[1]);
}

// The band split, then the held-peak gain computer of each active band.
static void split_and_hold_bands(MultibandState& state, float* const band[4], const float* input,
                                 int active, int n, int channels, int span, int lookahead,
                                 int rate, const MultibandParams& params, float gain[4],
                                 float* readout) {
    float* const delayed[4] = {band[0] + span, band[1] + span, band[2] + span, band[3] + span};
    splitBands(input, delayed, state.crossovers, active - 1, n, channels);
    for (int j = 0; j < active; ++j)
        gain[j] = computeHeldBandGain(band[j], n, channels, gain[j],
                                      heldBandGain(params.bands[j], lookahead, rate),
                                      state.heldPeaks[j], readout != nullptr ? readout + j : nullptr);
}

// Splits the input into the active bands, delays each by D frames through its
// history and runs its gain computer; leaves the band sum (or the solo band)
// in band[0].
static void run_bands(MultibandState& state, float* const band[4], const float* input, int n,
                      int channels, int delay, int rate, const MultibandParams& params,
                      unsigned solo, bool readouts) {
    const int span = delay * channels;
    const size_t blockBytes = static_cast<size_t>(n) * sizeof(float);
    const size_t historyBytes = static_cast<size_t>(span) * sizeof(float);

    // Crossovers 1..j split while all of them are set. Each band's history
    // goes in front of its block; then one pass splits the block behind it and
    // runs the bands' gain computers.
    int active = 1;
    while (active < 4 && params.crossoverHz[active - 1] != 0) ++active;
    // Below 15000 Hz the delay is shorter than the lookahead: look only as far
    // as the buffer reaches.
    const int lookahead = delay < bandLookaheadFrames ? delay : bandLookaheadFrames;
    float up[4], down[4], maxGain[4], threshold[4], gain[4], readout[4];
    for (int j = 0; j < 4; ++j) {
        const BandParams& b = params.bands[j];
        up[j] = static_cast<float>(b.upStep);
        down[j] = static_cast<float>(b.downStep);
        maxGain[j] = static_cast<float>(b.maxGain);
        threshold[j] = static_cast<float>(b.threshold);
        gain[j] = static_cast<float>(state.bandGains[j]);
        readout[j] = 0.0f;
    }
    for (int j = 0; j < active; ++j) memcpy(band[j], state.bandHistories[j], historyBytes);
    if (state.bandHold != 0)
        split_and_hold_bands(state, band, input, active, n, channels, span, lookahead, rate,
                             params, gain, readouts ? readout : nullptr);
    else
        splitAndScaleBands(input, band, state.crossovers, active - 1, n, channels, span, lookahead,
                           up, down, maxGain, threshold, gain, readouts ? readout : nullptr);
    for (int j = 0; j < active; ++j) {
        memcpy(state.bandHistories[j], band[j] + n, historyBytes);
        store_relaxed(state.bandGains[j], static_cast<double>(gain[j]));
        if (readouts) store_relaxed(state.bandGainReadouts[j], readout[j]);
    }

    if (solo >= 1 && solo <= 4) {
        // A solo band beyond the active ones carries nothing: silence.
        if (static_cast<int>(solo) > active)
            memset(band[0], 0, blockBytes);
        else if (solo > 1)
            memcpy(band[0], band[solo - 1], blockBytes);
        return;
    }
    for (int j = 1; j < active; ++j) addSamples(band[0], band[j], n);
}

// The chain from the input AGC to the limiter over the block's input (n
// samples in band[..] and input, full scale 1.0); returns where the result is.
static float* run_chain(Engine& e, float* const band[4], float* input, int n, int channels,
                        int rate) {
    const MultibandParams& params = e.engineMultiband;
    MultibandState& state = e.multiband;
    const unsigned solo = load_relaxed(state.soloBand);
    const bool readouts = load_relaxed(state.bandReadoutsOn) != 0;
    const int delay = multibandDelayFrames(rate, channels);
    const int span = n + delay * channels;

    if (params.agcOn) run_input_agc(state, input, n, channels);

    float* out = input;
    if (params.multibandOn) {
        run_bands(state, band, input, n, channels, delay, rate, params, solo, readouts);
        out = band[0];
    }

    if (params.level != 1.0) scaleSamples(out, n, params.level);

    if (channels == 2 && params.stereoPercent != 0) spreadStereo(out, n, params.stereoPercent);

    if (params.softClipMode == 1 || params.softClipMode == 2) softClip(out, n, params.softClipMode);

    TraceBuffer* trace = begin_trace_writes(state);
    if (trace != nullptr)
        for (int i = 0; i < traceLength && i * channels < n; ++i)
            store_relaxed(trace->values[traceLength + i], out[i * channels]);

    if (params.limiterOn) {
        float* S = band[2];
        float* E = band[1];
        const int historySamples = delay * channels;
        const size_t historyBytes = static_cast<size_t>(historySamples) * sizeof(float);
        memcpy(S, e.limiterHistory, historyBytes);
        memcpy(S + historySamples, out, static_cast<size_t>(n) * sizeof(float));
        memcpy(e.limiterHistory, S + n, historyBytes);

        const LimiterParams& lp = params.limiter;
        const float attack = static_cast<float>(lp.attackMs);
        const int lookahead = limiterLookahead(attack, rate, delay);
        const int hold = limiterHoldSamples(lp.holdMs, rate);
        // Envelope and curve in one call (the same as limiterEnvelope, then
        // applyLimiterCurve).
        limitBlock(S, E, n, span, channels, rate, attack, lp.releaseMs, lookahead, hold,
                   e.limiterState, static_cast<float>(lp.thresholdDb),
                   static_cast<float>(lp.kneeDb), static_cast<float>(lp.ratio),
                   static_cast<float>(lp.ceilingDb - lp.thresholdDb));
        if (trace != nullptr)
            for (int i = 0; i < traceLength && (i + delay) * channels < n; ++i) {
                const int p = (i + delay) * channels;
                store_relaxed(trace->values[i], S[p]);
                store_relaxed(trace->values[2 * traceLength + i], E[p]);
            }
        out = S;
    }
    end_trace_writes(state);
    return out;
}

// One block of either sample type: the work buffers (the instance's own or
// obtained for the block), the input conversion, the chain, the output
// conversion.
template <typename Sample>
static void process_block(Engine& e, Sample* samples, int frames, int channels, int rate) {
    if (samples == nullptr || frames <= 0 || (channels != 1 && channels != 2)) return;
    const long long total = static_cast<long long>(frames) * channels;
    if (total > maxBlockSamples) return;
    const int n = static_cast<int>(total);

    const int span = n + multibandDelayFrames(rate, channels) * channels;
    float* band[4];
    float* input;
    // The owned buffers hold any block of up to `capacity` samples together
    // with the longest delay line (bandHistoryLength samples).
    const bool owned = e.work.input != nullptr && n <= e.work.capacity;
    if (owned) {
        input = e.work.input;
        for (int b = 0; b < 4; ++b) band[b] = e.work.bands[b];
    } else if (!obtain_buffers(band, input, span, n)) {
        return;  // block and state untouched
    }

    if constexpr (sizeof(Sample) == sizeof(int16_t))
        multibandInputSamples(samples, input, n);
    else
        multibandInputFloats(samples, input, n);
    const float* out = run_chain(e, band, input, n, channels, rate);
    if constexpr (sizeof(Sample) == sizeof(int16_t))
        multibandOutputSamples(out, samples, n);
    else
        multibandOutputFloats(out, samples, n);

    if (!owned) {
        std::free(input);
        for (float* p : band) std::free(p);
    }
}

void processMultiband(Engine& e, int16_t* samples, int frames, int channels, int rate) {
    process_block(e, samples, frames, channels, rate);
}

void processMultibandFloat(Engine& e, float* samples, int frames, int channels, int rate) {
    process_block(e, samples, frames, channels, rate);
}
