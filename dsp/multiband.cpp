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

#include "dsp/crossover.h"
#include "dsp/limiter.h"
#include "settings/plugin_settings.h"

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

template <int Channels>
static float band_gain(float* p, int n, float g, float up, float down, float maxGain,
                       float threshold, double* sum, int lookahead) {
    const int ahead = lookahead * Channels;
    const double limit = threshold;
    for (int i = 0; i < n; i += Channels) {
        p[i] = p[i] * g;
        float m = std::fabs(p[i + ahead]);
        if constexpr (Channels == 2) {
            p[i + 1] = p[i + 1] * g;
            const float right = std::fabs(p[i + 1 + ahead]);
            if (right > m) m = right;
        }
        if (limit < static_cast<double>(g) * m)
            g = g - down;
        else if (g < maxGain)
            g = g + up;
        if (sum != nullptr) *sum += g;
    }
    return g;
}

#if defined(__SSE2__)
// band_gain<2> with the frame's two products and peaks taken in SSE2 lanes:
// the float products p * g are the same (one rounding each), both are stored
// before the peaks ahead are loaded (as in band_gain, which matters when the
// lookahead is 0), and maxss(right, left) is "right > left ? right : left",
// the scalar's choice also for NaNs. The gain steps are the scalar code.
template <bool Sum>
static float band_gain_stereo(float* p, int n, float g, float up, float down, float maxGain,
                              float threshold, double* sum, int lookahead) {
    const int ahead = lookahead * 2;
    const double limit = threshold;
    const __m128 absMask = _mm_castsi128_ps(_mm_set1_epi32(0x7fffffff));
    for (int i = 0; i < n; i += 2) {
        const __m128 frame = _mm_castpd_ps(_mm_load_sd(reinterpret_cast<const double*>(p + i)));
        _mm_store_sd(reinterpret_cast<double*>(p + i),
                     _mm_castps_pd(_mm_mul_ps(frame, _mm_set1_ps(g))));
        const __m128 peaks = _mm_and_ps(
            _mm_castpd_ps(_mm_load_sd(reinterpret_cast<const double*>(p + i + ahead))), absMask);
        const float m = _mm_cvtss_f32(_mm_max_ss(_mm_shuffle_ps(peaks, peaks, 1), peaks));
        if (limit < static_cast<double>(g) * m)
            g = g - down;
        else if (g < maxGain)
            g = g + up;
        if constexpr (Sum) *sum += g;
    }
    return g;
}
#endif

float computeBandGain(float* p, int n, int channels, float gain, float up, float down,
                      float maxGain, float threshold, float* readout, int lookahead) {
    if (lookahead < 0) lookahead = 0;
    double sum = 0.0;
    double* total = readout != nullptr ? &sum : nullptr;
    float g;
#if defined(__SSE2__)
    // Whole frames only (n even), as the engine passes them.
    if (channels == 2 && n % 2 == 0)
        g = total != nullptr
                ? band_gain_stereo<true>(p, n, gain, up, down, maxGain, threshold, total, lookahead)
                : band_gain_stereo<false>(p, n, gain, up, down, maxGain, threshold, nullptr,
                                          lookahead);
    else
#endif
        g = channels == 2
                ? band_gain<2>(p, n, gain, up, down, maxGain, threshold, total, lookahead)
                : band_gain<1>(p, n, gain, up, down, maxGain, threshold, total, lookahead);
    if (g > maxGain) g = maxGain;
    const int frames = channels > 0 ? n / channels : 0;
    if (readout != nullptr && frames > 0) *readout = static_cast<float>(sum / frames);
    return g;
}

// The trace buffer hand-over: the audio thread announces a trace write before
// it looks at the pointer and withdraws the announcement after its last write;
// the dialog withdraws the pointer and then waits for any announced write to
// end. Both sides use sequentially consistent operations, so either the audio
// thread sees the null pointer or the dialog sees the announcement.
static TraceBuffer* begin_trace_writes() {
    MultibandState& state = settings.multiband;
    std::atomic_ref<uint32_t>(state.traceBlockActive).store(1, std::memory_order_seq_cst);
    return std::atomic_ref<TraceBuffer*>(state.traceBuffer).load(std::memory_order_seq_cst);
}

static void end_trace_writes() {
    std::atomic_ref<uint32_t>(settings.multiband.traceBlockActive)
        .store(0, std::memory_order_seq_cst);
}

void attachTraceBuffer(TraceBuffer* buffer) {
    std::atomic_ref<TraceBuffer*>(settings.multiband.traceBuffer)
        .store(buffer, std::memory_order_seq_cst);
}

void detachTraceBuffer() {
    MultibandState& state = settings.multiband;
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

void multibandOutputSamples(const float* y, int16_t* out, int n) {
    int i = 0;
#if defined(__SSE2__)
    // 32767 y (exact in double); NaN lanes to +0 (as the scalar's "not a
    // number gives 0"); then limited to -32767..32767, where the limits equal
    // the scalar's first two cases (maxpd/minpd see no NaN any more) and
    // truncation of a value inside (-32767, 32767) is the scalar's int
    // conversion; the saturating pack finds every value already in range.
    const __m128d scale = _mm_set1_pd(32767.0);
    const __m128d top = _mm_set1_pd(32767.0);
    const __m128d bottom = _mm_set1_pd(-32767.0);
    for (; i + 4 <= n; i += 4) {
        const __m128 f = _mm_loadu_ps(y + i);
        __m128d lo = _mm_mul_pd(scale, _mm_cvtps_pd(f));
        __m128d hi = _mm_mul_pd(scale, _mm_cvtps_pd(_mm_movehl_ps(f, f)));
        lo = _mm_and_pd(lo, _mm_cmpord_pd(lo, lo));
        hi = _mm_and_pd(hi, _mm_cmpord_pd(hi, hi));
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
        const __m128d lr = _mm_cvtps_pd(_mm_castpd_ps(_mm_load_sd(reinterpret_cast<const double*>(samples + i))));
        const __m128d rl = _mm_shuffle_pd(lr, lr, 1);
        const __m128d out = _mm_sub_pd(lr, _mm_div_pd(_mm_mul_pd(p, rl), hundred));
        _mm_store_sd(reinterpret_cast<double*>(samples + i), _mm_castps_pd(_mm_cvtpd_ps(out)));
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

static void run_input_agc(float* input, int n, int channels) {
    MultibandState& state = settings.multiband;
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

// Splits the input into the active bands, delays each by D frames through its
// history and runs its gain computer; leaves the band sum (or the solo band)
// in band[0].
static void run_bands(float* const band[4], const float* input, int n, int channels, int delay,
                      const MultibandParams& params, unsigned solo, bool readouts) {
    MultibandState& state = settings.multiband;
    const int span = delay * channels;
    const size_t blockBytes = static_cast<size_t>(n) * sizeof(float);
    const size_t historyBytes = static_cast<size_t>(span) * sizeof(float);

    // Crossovers 1..j split while all of them are set; one fused pass that
    // writes each band straight behind the room for its delay history.
    int active = 1;
    while (active < 4 && params.crossoverHz[active - 1] != 0) ++active;
    float* const delayed[4] = {band[0] + span, band[1] + span, band[2] + span, band[3] + span};
    splitBands(input, delayed, state.crossovers, active - 1, n, channels);

    // Below 15000 Hz the delay is shorter than the lookahead: look only as far
    // as the buffer reaches.
    const int lookahead = delay < bandLookaheadFrames ? delay : bandLookaheadFrames;
    for (int j = 0; j < active; ++j) {
        float* p = band[j];
        memcpy(p, state.bandHistories[j], historyBytes);
        memcpy(state.bandHistories[j], p + n, historyBytes);
        const BandParams& b = params.bands[j];
        float readout = 0.0f;
        const float gain = computeBandGain(
            p, n, channels, static_cast<float>(state.bandGains[j]), static_cast<float>(b.upStep),
            static_cast<float>(b.downStep), static_cast<float>(b.maxGain),
            static_cast<float>(b.threshold), readouts ? &readout : nullptr, lookahead);
        store_relaxed(state.bandGains[j], static_cast<double>(gain));
        if (readouts) store_relaxed(state.bandGainReadouts[j], readout);
    }

    if (solo >= 1 && solo <= 4) {
        // A solo band beyond the active ones carries nothing: silence.
        if (static_cast<int>(solo) > active)
            memset(band[0], 0, blockBytes);
        else if (solo > 1)
            memcpy(band[0], band[solo - 1], blockBytes);
        return;
    }
    float* sum = band[0];
    for (int j = 1; j < active; ++j) {
        const float* add = band[j];
        for (int i = 0; i < n; ++i) sum[i] = sum[i] + add[i];
    }
}

void processMultiband(int16_t* samples, int frames, int channels) {
    if (samples == nullptr || frames <= 0 || (channels != 1 && channels != 2)) return;
    const long long total = static_cast<long long>(frames) * channels;
    if (total > maxBlockSamples) return;
    const int n = static_cast<int>(total);

    const int rate = load_relaxed(settings.sample_rate);
    const MultibandParams& params = settings.engineMultiband;
    MultibandState& state = settings.multiband;
    const unsigned solo = load_relaxed(state.soloBand);
    const bool readouts = load_relaxed(state.bandReadoutsOn) != 0;

    const int delay = multibandDelayFrames(rate, channels);
    const int span = n + delay * channels;
    float* band[4];
    float* input;
    if (!obtain_buffers(band, input, span, n)) return;  // block and state untouched

    multibandInputSamples(samples, input, n);

    if (params.agcOn) run_input_agc(input, n, channels);

    float* out = input;
    if (params.multibandOn) {
        run_bands(band, input, n, channels, delay, params, solo, readouts);
        out = band[0];
    }

    if (params.level != 1.0) scaleSamples(out, n, params.level);

    if (channels == 2 && params.stereoPercent != 0) spreadStereo(out, n, params.stereoPercent);

    if (params.softClipMode == 1 || params.softClipMode == 2) softClip(out, n, params.softClipMode);

    TraceBuffer* trace = begin_trace_writes();
    if (trace != nullptr)
        for (int i = 0; i < traceLength && i * channels < n; ++i)
            store_relaxed(trace->values[traceLength + i], out[i * channels]);

    if (params.limiterOn) {
        float* S = band[2];
        float* E = band[1];
        const int historySamples = delay * channels;
        const size_t historyBytes = static_cast<size_t>(historySamples) * sizeof(float);
        memcpy(S, settings.limiterHistory, historyBytes);
        memcpy(S + historySamples, out, static_cast<size_t>(n) * sizeof(float));
        memcpy(settings.limiterHistory, S + n, historyBytes);

        const LimiterParams& lp = params.limiter;
        const float attack = static_cast<float>(lp.attackMs);
        const int lookahead = limiterLookahead(attack, rate, delay);
        const int hold = limiterHoldSamples(lp.holdMs, rate);
        // Envelope and curve in one call (the same as limiterEnvelope, then
        // applyLimiterCurve).
        limitBlock(S, E, n, span, channels, rate, attack, lp.releaseMs, lookahead, hold,
                   settings.limiterState, static_cast<float>(lp.thresholdDb),
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
    end_trace_writes();

    multibandOutputSamples(out, samples, n);
    std::free(input);
    for (float* p : band) std::free(p);
}
