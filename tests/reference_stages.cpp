// The multiband stage routines as they were before their speed-ups, kept
// unchanged as the reference that the exactness tests compare the current
// routines with, bit for bit. Do not edit these bodies: they define the
// output the engine must keep producing.
#include "tests/reference_stages.h"

#include <cmath>
#include <cstdint>

namespace reference {

// ---- dsp/limiter.cpp ----
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

void limiterEnvelope(const float* signal, float* envelope, int n, int length, int channels,
                     int rate, float attackMs, unsigned releaseMs, int lookahead, int hold,
                     LimiterState& state) {
    if (n <= 0 || length < n || channels < 1 || channels > 2) return;
    const float a = limiterAttackCoefficient(rate, attackMs);
    const float r = limiterReleaseCoefficient(releaseMs, rate);
    if (lookahead < 0) lookahead = 0;
    if (hold < 0) hold = 0;
    if (hold > 65535) hold = 65535;

    // Last position of channel c not beyond n + L + c and inside S.
    long long start[2] = {0, 0};
    for (int c = 0; c < channels; ++c) {
        long long p = static_cast<long long>(n) + lookahead + c;
        if (p > length - 1) p = length - 1;
        start[c] = p - ((p - c) % channels + channels) % channels;
    }
    ReleaseRun release[2];
    for (int c = 0; c < channels; ++c)
        release[c] = ReleaseRun{envelope, r, releaseMs, rate, static_cast<uint16_t>(hold),
                                state.envelope[c], state.hold[c]};

    if (channels == 1) {
        AttackRun attack{signal, envelope, a};
        for (long long p = start[0]; p >= 0; --p) attack.step(p);
        for (int p = 0; p < n; ++p) release[0].step(p);
        release[0].store(state, 0);
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

    int p = 0;
    for (; p + 1 < n; p += 2) {
        release[0].step(p);
        release[1].step(p + 1);
    }
    if (p < n) release[0].step(p);
    release[0].store(state, 0);
    release[1].store(state, 1);
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

static void apply_gain(float* frame, int channels, float makeup, float g) {
    const double ln10 = 2.3025850929940456840;
    const double x = g / 20.0;
    const double argument = x * ln10;
    const double fast = makeup * std::exp(argument);
    const double relative = (std::fabs(argument) + 16.0) * 0x1p-48;
    float out[2] = {0.0f, 0.0f};
    bool settled = true;
    for (int c = 0; c < channels && c < 2; ++c) {
        const double v = fast * frame[c];
        const double spread = std::fabs(v) * relative;
        out[c] = static_cast<float>(v - spread);
        settled = settled && out[c] == static_cast<float>(v + spread);
    }
    if (settled) {
        for (int c = 0; c < channels && c < 2; ++c) frame[c] = out[c];
        return;
    }
    const double gain = makeup * std::pow(10.0, x);
    for (int c = 0; c < channels && c < 2; ++c)
        frame[c] = static_cast<float>(gain * frame[c]);
}

void applyLimiterCurve(float* signal, const float* envelope, int n, int channels,
                       float thresholdDb, float kneeDb, float ratio, float makeupDb) {
    if (n <= 0 || channels < 1) return;
    const double T = thresholdDb;
    const double K = kneeDb;
    const float lo = static_cast<float>(T - K / 2.0);
    const float hi = static_cast<float>(T + K / 2.0);
    const float makeup = static_cast<float>(std::pow(10.0, makeupDb / 20.0));
    // A ratio of 1.0 or less (or not a number) reduces nothing.
    float slope = 0.0f;
    if (ratio > 20.0f)
        slope = 1.0f;
    else if (ratio > 1.0f)
        slope = static_cast<float>(1.0 - 1.0 / ratio);

    // Every level at or below min(lo, T) gets no reduction (the knee opens
    // above lo, the straight part reduces only above T). Envelopes a little
    // below that level skip the logarithm: the margin is far wider than the
    // rounding of the level, so the result is the same bit for bit.
    const double bound = lo < thresholdDb ? lo : thresholdDb;
    const double quiet = std::pow(10.0, bound / 20.0) * (1.0 - 1e-5);
    const bool neverReduces = slope == 0.0f;

    const int frames = n / channels;
    for (int f = 0; f < frames; ++f) {
        const int p = f * channels;
        float e = envelope[p];
        if (channels == 2 && envelope[p + 1] > e) e = envelope[p + 1];
        float g = 0.0f;
        if (!neverReduces && !(e < quiet)) {
            const float level = level_db(e);
            if (K > 0.0 && lo < level && level < hi)
                g = static_cast<float>((static_cast<double>(lo) - level) *
                                       (0.5 * (static_cast<double>(level) - lo) / K * slope));
            else {
                g = static_cast<float>((T - level) * slope);
                if (g > 0.0f) g = 0.0f;
            }
        }
        if (g == 0.0f) {
            for (int c = 0; c < channels; ++c)
                signal[p + c] = static_cast<float>(static_cast<double>(makeup) * signal[p + c]);
        } else {
            apply_gain(signal + p, channels, makeup, g);
        }
    }
}

void softClip(float* samples, int n, int mode) {
    if (mode == 1) {
        for (int i = 0; i < n; ++i) {
            const double x = samples[i];
            if (std::fabs(x) <= 1.4142135623)
                samples[i] = static_cast<float>(x - x * x * x / 6.0);
            else
                samples[i] = x > 0.0 ? 0.9428090453f : -0.9428090453f;
        }
    } else if (mode == 2) {
        for (int i = 0; i < n; ++i) {
            double x = samples[i];
            if (x < -1.0) x = -1.0;
            if (x > 1.0) x = 1.0;
            samples[i] = static_cast<float>(1.5 * x - 0.5 * x * x * x);
        }
    }
}

// ---- dsp/crossover.cpp (the section filter) ----
// One section's step; y, s1 and s2 are rounded to float where stored.
struct SectionRun {
    double b0, b1, b2, a1, a2;
    float s1, s2;

    explicit SectionRun(const CrossoverSection& s)
        : b0(s.b0), b1(s.b1), b2(s.b2), a1(s.a1), a2(s.a2), s1(s.s1), s2(s.s2) {}

    void step(float* low, float* high, int i) {
        const float x = low[i];
        const float y = static_cast<float>(b0 * x + s1);
        s1 = static_cast<float>(b1 * x + s2 - a1 * y);
        s2 = static_cast<float>(b2 * x - a2 * y);
        high[i] = static_cast<float>(static_cast<double>(x) - y);
        low[i] = y;
    }

    void store(CrossoverSection& s) {
        // A section designed at or above half the rate can run away; its state
        // must not stay infinite once a sound design replaces it.
        if (!std::isfinite(s1) || !std::isfinite(s2)) s1 = s2 = 0.0f;
        s.s1 = s1;
        s.s2 = s2;
    }
};

void splitBand(float* low, float* high, CrossoverBank& bank, int k, int sampleCount,
               int channels) {
    if (channels == 2) {
        // The two channels' sections run side by side (they are independent).
        SectionRun left(bank.sections[2 * k]), right(bank.sections[2 * k + 1]);
        int i = 0;
        for (; i + 1 < sampleCount; i += 2) {
            left.step(low, high, i);
            right.step(low, high, i + 1);
        }
        if (i < sampleCount) left.step(low, high, i);
        left.store(bank.sections[2 * k]);
        right.store(bank.sections[2 * k + 1]);
        return;
    }
    for (int c = 0; c < channels; ++c) {
        SectionRun run(bank.sections[2 * k + c]);
        for (int i = c; i < sampleCount; i += channels) run.step(low, high, i);
        run.store(bank.sections[2 * k + c]);
    }
}

// ---- dsp/multiband.cpp (the pure helpers) ----
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

float computeBandGain(float* p, int n, int channels, float gain, float up, float down,
                      float maxGain, float threshold, float* readout, int lookahead) {
    if (lookahead < 0) lookahead = 0;
    double sum = 0.0;
    double* total = readout != nullptr ? &sum : nullptr;
    float g = channels == 2
                  ? band_gain<2>(p, n, gain, up, down, maxGain, threshold, total, lookahead)
                  : band_gain<1>(p, n, gain, up, down, maxGain, threshold, total, lookahead);
    if (g > maxGain) g = maxGain;
    const int frames = channels > 0 ? n / channels : 0;
    if (readout != nullptr && frames > 0) *readout = static_cast<float>(sum / frames);
    return g;
}

int16_t multibandOutputSample(float y) {
    const double v = 32767.0 * y;
    if (v >= 32767.0) return 32767;
    if (v <= -32767.0) return -32767;
    if (v == v) return static_cast<int16_t>(static_cast<int>(v));
    return 0;
}

}  // namespace reference

namespace reference {

// ---- dsp/multiband.cpp (loops of processMultiband) ----
void inputSamples(const int16_t* samples, float* input, int n) {
    for (int i = 0; i < n; ++i) {
        const int s = samples[i];
        input[i] = s == 0 ? 1e-8f : static_cast<float>(s / 32767.0);
    }
}

void scaleSamples(float* out, int n, double level) {
    for (int i = 0; i < n; ++i) out[i] = static_cast<float>(out[i] * level);
}

void spreadStereo(float* out, int n, int percent) {
    for (int i = 0; i < n; i += 2) {
        const float l = out[i];
        const float r = out[i + 1];
        out[i] = static_cast<float>(l - percent * static_cast<double>(r) / 100.0);
        out[i + 1] = static_cast<float>(r - percent * static_cast<double>(l) / 100.0);
    }
}

void addSamples(float* sum, const float* add, int n) {
    for (int i = 0; i < n; ++i) sum[i] = sum[i] + add[i];
}

void outputSamples(const float* out, int16_t* samples, int n) {
    for (int i = 0; i < n; ++i) samples[i] = multibandOutputSample(out[i]);
}

}  // namespace reference
