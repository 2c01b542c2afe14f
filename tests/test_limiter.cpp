// Limiter envelope and gain curve, soft-clip curves.
#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "dsp/limiter.h"
#include "tests/test_support.h"

namespace {

TEST(LimiterCoefficients, StandardStringAt44100And48000) {
    EXPECT_NEAR(limiterAttackCoefficient(44100, 2.5f), std::exp(-1.0 / 110.25), 1e-7);
    EXPECT_NEAR(limiterAttackCoefficient(44100, 2.5f), 0.990971, 5e-7);
    EXPECT_NEAR(limiterReleaseCoefficient(40, 44100), 0.999433, 5e-7);
    EXPECT_EQ(limiterReleaseCoefficient(40, 44100), static_cast<float>(std::exp(-1.0 / 1764)));
    EXPECT_EQ(limiterLookahead(2.5f, 44100, 441), 110);
    EXPECT_EQ(limiterLookahead(2.5f, 48000, 480), 120);
    EXPECT_EQ(limiterHoldSamples(0, 44100), 0);
    EXPECT_EQ(limiterHoldSamples(100, 44100), 4410);
}

TEST(LimiterCoefficients, DegenerateTimesAreDefined) {
    // Release 0: instant, no division by zero; the same for attack 0.
    EXPECT_EQ(limiterReleaseCoefficient(0, 44100), 0.0f);
    EXPECT_EQ(limiterReleaseCoefficient(40, 0), 0.0f);
    EXPECT_EQ(limiterAttackCoefficient(44100, 0.0f), 0.0f);
    EXPECT_EQ(limiterAttackCoefficient(44100, -1.0f), 0.0f);
    EXPECT_EQ(limiterAttackCoefficient(44100, NAN), 0.0f);
    // Lookahead stays within 0..D for any attack.
    EXPECT_EQ(limiterLookahead(100.0f, 44100, 441), 441);
    EXPECT_EQ(limiterLookahead(INFINITY, 44100, 441), 441);
    EXPECT_EQ(limiterLookahead(NAN, 44100, 441), 0);
    EXPECT_EQ(limiterLookahead(-5.0f, 44100, 441), 0);
    EXPECT_EQ(limiterLookahead(2.5f, 5000, 50), 12);
    // Hold longer than the 16-bit count is limited to it.
    EXPECT_EQ(limiterHoldSamples(999, 96000), 65535);
    EXPECT_EQ(limiterHoldSamples(682, 96000), 65472);
}

// Runs the envelope over a buffer of length samples (n to output).
std::vector<float> envelope_of(const std::vector<float>& s, int n, int channels, int lookahead,
                               unsigned releaseMs, int hold, LimiterState& state,
                               float attackMs = 2.5f) {
    std::vector<float> e(s.size(), -1.0f);
    limiterEnvelope(s.data(), e.data(), n, static_cast<int>(s.size()), channels, 44100, attackMs,
                    releaseMs, lookahead, hold, state);
    return e;
}

TEST(LimiterEnvelope, AttackRisesAheadOfAPeakAndReachesIt) {
    const int n = 576, D = 441;
    std::vector<float> s(n + D, 0.0f);
    s[300] = 0.8f;
    LimiterState state{};
    const std::vector<float> e = envelope_of(s, n, 1, D, 40, 0, state);
    EXPECT_EQ(e[300], 0.8f);
    EXPECT_NEAR(e[299], 0.8 * 0.990971, 1e-6);  // decays backwards with a
    EXPECT_NEAR(e[190], 0.8 * std::pow(0.990971, 110), 1e-4);
    for (int p = 301; p < n; ++p) EXPECT_LE(e[p], 0.8f);
    EXPECT_NEAR(e[301], 0.8 * 0.999433, 1e-6);  // release after the peak
    // Mono with L = D: the attack pass starts at the last position of S.
    EXPECT_NE(e[n + D - 1], -1.0f);
    EXPECT_NEAR(state.envelope[0], 0.8 * std::exp(-(n - 1 - 300) / 1764.0), 1e-5);  // carried on
}

TEST(LimiterEnvelope, NeverBelowItsOwnSampleAndStereoStartsPerChannel) {
    std::mt19937 rng(3);
    std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
    const int n = 1152, D = 441, L = 110;
    std::vector<float> s(n + 2 * D);
    for (float& v : s) v = dist(rng);
    LimiterState state{};
    const std::vector<float> e = envelope_of(s, n, 2, L, 40, 0, state);
    for (int p = 0; p < n; ++p) ASSERT_GE(e[p], std::fabs(s[p])) << p;
    // The attack pass starts at n + L + c: beyond it nothing is written.
    EXPECT_NE(e[n + L], -1.0f);
    EXPECT_NE(e[n + L + 1], -1.0f);
    EXPECT_EQ(e[n + L + 2], -1.0f);
}

TEST(LimiterEnvelope, ReleaseZeroIsInstantAndHoldStretchesTheRelease) {
    const int n = 200;
    std::vector<float> s(n, 0.0f);
    s[10] = 1.0f;
    LimiterState instant{};
    std::vector<float> e = envelope_of(s, n, 1, 0, 0, 0, instant, 0.0f);
    EXPECT_EQ(e[10], 1.0f);
    EXPECT_EQ(e[11], 0.0f);

    LimiterState plain{}, held{};
    const std::vector<float> a = envelope_of(s, n, 1, 0, 1, 0, plain, 0.0f);
    const std::vector<float> b = envelope_of(s, n, 1, 0, 1, 100, held, 0.0f);
    // Release 1 ms = 44 samples; hold 100 stretches the first step to 144.
    EXPECT_NEAR(a[11], std::exp(-1.0 / 44), 1e-6);
    EXPECT_NEAR(b[11], std::exp(-1.0 / ((1 + 100) * 44100 / 1000)), 1e-6);
    EXPECT_GT(b[50], a[50]);
    EXPECT_EQ(held.hold[0], 0);  // run out after 100 samples
    EXPECT_EQ(b[199], static_cast<float>(b[198] * std::exp(-1.0 / 44)));

    // The sample on which the hold count reaches 0 still uses the stretched
    // coefficient; the plain one follows.
    LimiterState one{};
    const std::vector<float> c = envelope_of(s, n, 1, 0, 1, 1, one, 0.0f);
    EXPECT_EQ(c[11], static_cast<float>(std::exp(-1.0 / 88)));
    EXPECT_EQ(c[12], static_cast<float>(static_cast<double>(c[11]) *
                                        static_cast<float>(std::exp(-1.0 / 44))));

    // The hold count carries over to the next block.
    LimiterState longHold{};
    envelope_of(s, n, 1, 0, 1, 1000, longHold, 0.0f);
    EXPECT_EQ(longHold.hold[0], 1000 - (n - 11));
}

TEST(LimiterEnvelope, RunawayInputLeavesNoRunawayState) {
    // Infinite or undefined samples (from a runaway setting upstream) must not
    // leave the carried envelope infinite once the signal is sound again.
    std::vector<float> s(300, INFINITY);
    s[100] = NAN;
    LimiterState state{};
    envelope_of(s, 300, 2, 0, 40, 0, state);
    EXPECT_TRUE(std::isfinite(state.envelope[0]));
    EXPECT_TRUE(std::isfinite(state.envelope[1]));
    std::vector<float> quiet(300, 0.25f);
    const std::vector<float> e = envelope_of(quiet, 300, 2, 0, 40, 0, state);
    EXPECT_EQ(e[299], 0.25f);
}

// The two passes channel by channel, as the limiter is defined.
void reference_envelope(const std::vector<float>& s, std::vector<float>& e, int n, int channels,
                        float a, float r, unsigned release, int rate, int L, int H,
                        LimiterState& state) {
    const int length = static_cast<int>(s.size());
    for (int c = 0; c < channels; ++c) {
        int start = std::min(n + L + c, length - 1);
        while ((start - c) % channels != 0) --start;
        float env = 0.0f;
        for (int p = start; p >= c; p -= channels) {
            const float x = std::fabs(s[p]);
            env = env >= x ? static_cast<float>((static_cast<double>(env) - x) * a + x) : x;
            e[p] = env;
        }
    }
    for (int c = 0; c < channels; ++c) {
        float v = state.envelope[c];
        int h = state.hold[c];
        for (int p = c; p < n; p += channels) {
            if (v < e[p]) {
                v = e[p];
                h = H;
            } else {
                float k = r;
                if (h > 0) {
                    const long long t = (static_cast<long long>(release) + h) * rate / 1000;
                    k = t > 0 ? static_cast<float>(std::exp(-1.0 / t)) : 0.0f;
                    --h;
                }
                v = static_cast<float>((static_cast<double>(v) - e[p]) * k + e[p]);
            }
            e[p] = v;
        }
        state.envelope[c] = v;
        state.hold[c] = static_cast<uint16_t>(h);
    }
}

TEST(LimiterEnvelope, AgreesBitForBitWithTheChannelByChannelPasses) {
    std::mt19937 rng(31);
    std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
    const int D = 441;
    for (int channels = 1; channels <= 2; ++channels) {
        for (int H : {0, 30, 4410}) {
            LimiterState fast{}, slow{};
            for (int block = 0; block < 12; ++block) {
                const int frames = 1 + static_cast<int>(rng() % 700);
                const int n = frames * channels;
                const int L = static_cast<int>(rng() % (D + 1));
                std::vector<float> s(n + D * channels);
                for (float& v : s) v = dist(rng) * (block % 3 == 0 ? 0.01f : 1.0f);
                std::vector<float> e1(s.size(), -1.0f), e2(s.size(), -1.0f);
                limiterEnvelope(s.data(), e1.data(), n, static_cast<int>(s.size()), channels,
                                44100, 2.5f, 40, L, H, fast);
                reference_envelope(s, e2, n, channels, limiterAttackCoefficient(44100, 2.5f),
                                   limiterReleaseCoefficient(40, 44100), 40, 44100, L, H, slow);
                for (size_t i = 0; i < s.size(); ++i)
                    ASSERT_EQ(e1[i], e2[i]) << channels << " " << H << " " << block << " " << i;
                ASSERT_EQ(fast.envelope[0], slow.envelope[0]);
                ASSERT_EQ(fast.envelope[1], slow.envelope[1]);
                ASSERT_EQ(fast.hold[channels - 1], slow.hold[channels - 1]);
            }
        }
    }
}

TEST(LimiterCurve, StandardSettings) {
    // Threshold -6, knee 5.5, infinite ratio, makeup +6 dB.
    auto out = [](float e) {
        float s = e;
        applyLimiterCurve(&s, &s, 1, 1, -6.0f, 5.5f, 20.1f, 6.0f);
        return s;
    };
    const double makeup = std::pow(10.0, 6.0 / 20.0);
    EXPECT_NEAR(out(0.25f), 0.25 * makeup, 1e-6);  // -12 dB comes out at -6 dB
    EXPECT_NEAR(20 * std::log10(out(0.25f)), -6.04, 0.01);
    EXPECT_NEAR(out(1.0f), 1.0, 1e-6);  // full scale stays at full scale
    EXPECT_EQ(out(0.0f), 0.0f);
    // Inside the knee: reduced by (level - lo)^2 / 11 dB.
    const double level = -7.0, lo = -8.75;
    const float e = static_cast<float>(std::pow(10.0, level / 20.0));
    const double expected = e * makeup * std::pow(10.0, -(level - lo) * (level - lo) / 11.0 / 20);
    EXPECT_NEAR(out(e), expected, 1e-5);
    // The knee meets the straight part without a step.
    const float hi = static_cast<float>(std::pow(10.0, -3.25 / 20.0));
    EXPECT_NEAR(out(std::nextafter(hi, 0.0f)), out(std::nextafter(hi, 1.0f)), 1e-5);
}

TEST(LimiterCurve, RatioSlopeKneeAndMakeup) {
    auto gain_db = [](double levelDb, float knee, float ratio, float makeup) {
        float s = static_cast<float>(std::pow(10.0, levelDb / 20.0));
        const float e = s;
        applyLimiterCurve(&s, &e, 1, 1, -10.0f, knee, ratio, makeup);
        return 20 * std::log10(s / e);
    };
    EXPECT_NEAR(gain_db(10.0, 0.0f, 20.0f, 0.0f), -19.0, 1e-3);  // slope 0.95
    EXPECT_NEAR(gain_db(10.0, 0.0f, 20.1f, 0.0f), -20.0, 1e-3);  // infinite
    EXPECT_NEAR(gain_db(0.0, 0.0f, 2.0f, 0.0f), -5.0, 1e-3);
    EXPECT_NEAR(gain_db(-10.5, 0.0f, 20.1f, 3.0f), 3.0, 1e-3);  // sharp corner
    EXPECT_NEAR(gain_db(-9.5, 0.0f, 20.1f, 3.0f), 2.5, 1e-3);
    // Ratio 1.0 or less never reduces and never yields NaN, envelope 0 included.
    for (float ratio : {1.0f, 0.5f, 0.0f, -3.0f, NAN}) {
        for (float e : {0.0f, 0.1f, 1.0f, 4.0f}) {
            float s = 0.5f;
            applyLimiterCurve(&s, &e, 1, 1, -10.0f, 5.0f, ratio, 6.0f);
            EXPECT_FLOAT_EQ(s, static_cast<float>(0.5 * std::pow(10.0, 0.3))) << ratio << " " << e;
        }
    }
}

TEST(LimiterCurve, StereoFramesShareTheLargerEnvelope) {
    float s[4] = {0.5f, 0.5f, 0.5f, -0.5f};
    const float e[4] = {0.1f, 1.0f, 1.0f, 0.1f};
    applyLimiterCurve(s, e, 4, 2, -6.0f, 0.0f, 20.1f, 0.0f);
    const float g = static_cast<float>(0.5 * std::pow(10.0, -6.0 / 20));
    EXPECT_NEAR(s[0], g, 1e-6);
    EXPECT_NEAR(s[1], g, 1e-6);
    EXPECT_NEAR(s[2], g, 1e-6);
    EXPECT_NEAR(s[3], -g, 1e-6);
}

TEST(LimiterCurve, InfiniteRatioNeverExceedsTheCeiling) {
    std::mt19937 rng(11);
    std::uniform_real_distribution<float> dist(-8.0f, 8.0f);
    const float settingsList[][3] = {{-6.0f, 5.5f, 0.0f}, {-30.0f, 40.0f, -3.0f},
                                     {0.0f, 0.0f, 0.0f},  {-12.0f, 20.0f, -12.0f}};
    for (const auto& t : settingsList) {
        const float threshold = t[0], knee = t[1], ceiling = t[2];
        std::vector<float> s(4000), e(4000);
        for (int i = 0; i < 4000; ++i) {
            s[i] = dist(rng);
            e[i] = std::fabs(s[i]) * (1.0f + (i % 7) * 0.1f);  // never below |s|
        }
        applyLimiterCurve(s.data(), e.data(), 4000, 2, threshold, knee, 20.1f, ceiling - threshold);
        const double bound = std::pow(10.0, ceiling / 20.0) * (1 + 1e-6);
        for (float v : s) ASSERT_LE(std::fabs(v), bound) << threshold << " " << knee;
    }
}

TEST(LimiterCurve, TransferRampOfTheDialog) {
    const int w = 200;
    std::vector<float> ramp(w);
    for (int i = 0; i < w; ++i) ramp[i] = static_cast<float>(i) / w;
    applyLimiterCurve(ramp.data(), ramp.data(), w, 1, -6.0f, 5.5f, 20.1f, 6.0f);
    EXPECT_EQ(ramp[0], 0.0f);
    for (int i = 1; i < w; ++i) ASSERT_GE(ramp[i], ramp[i - 1] - 1e-6f) << i;  // monotone
    EXPECT_LE(ramp[w - 1], 1.0f);
    EXPECT_NEAR(ramp[w / 4], 0.25 * std::pow(10.0, 0.3), 1e-6);
}

// The curve as written, without the shortcut for quiet envelopes.
float reference_curve(float s, float e, float T, float K, float R, float M) {
    const float lo = static_cast<float>(T - K / 2.0), hi = static_cast<float>(T + K / 2.0);
    const float makeup = static_cast<float>(std::pow(10.0, M / 20.0));
    const float slope = R > 20.0f ? 1.0f : static_cast<float>(1.0 - 1.0 / R);
    const float level = static_cast<float>(20.0 * std::log10(static_cast<double>(e)));
    float g;
    if (K > 0 && lo < level && level < hi)
        g = static_cast<float>((static_cast<double>(lo) - level) *
                               (0.5 * (static_cast<double>(level) - lo) / K * slope));
    else {
        g = static_cast<float>((static_cast<double>(T) - level) * slope);
        if (g > 0) g = 0;
    }
    return static_cast<float>(makeup * std::pow(10.0, g / 20.0) * s);
}

TEST(LimiterCurve, QuietShortcutIsBitExact) {
    const float cases[][4] = {{-6.0f, 5.5f, 20.1f, 6.0f}, {-30.0f, 0.0f, 1.1f, 30.0f},
                              {-20.0f, 40.0f, 4.0f, 0.0f}, {0.0f, 0.0f, 20.0f, 0.0f}};
    for (const auto& c : cases) {
        const double bound = std::pow(10.0, (c[0] - (c[1] > 0 ? c[1] / 2 : 0)) / 20.0);
        for (int k = -3000; k <= 3000; ++k) {
            const float e = static_cast<float>(bound * (1.0 + k * 1e-8));
            float s = 0.3f;
            applyLimiterCurve(&s, &e, 1, 1, c[0], c[1], c[2], c[3]);
            ASSERT_EQ(s, reference_curve(0.3f, e, c[0], c[1], c[2], c[3])) << k;
        }
    }
}

TEST(LimiterCurve, AgreesBitForBitWithTheLog10AndPowEvaluation) {
    std::mt19937 rng(21);
    std::uniform_real_distribution<double> exponent(-5.0, 2.0), value(-4.0, 4.0);
    const float cases[][4] = {{-6.0f, 5.5f, 20.1f, 6.0f}, {-30.0f, 40.0f, 1.1f, 30.0f},
                              {-12.5f, 2.0f, 3.7f, -2.5f}, {0.0f, 0.0f, 20.0f, 0.0f}};
    for (const auto& c : cases) {
        for (int k = 0; k < 50000; ++k) {
            const float e = static_cast<float>(std::pow(10.0, exponent(rng)));
            const float x = static_cast<float>(value(rng)) * e / 4.0f;
            float s = x;
            applyLimiterCurve(&s, &e, 1, 1, c[0], c[1], c[2], c[3]);
            ASSERT_EQ(s, reference_curve(x, e, c[0], c[1], c[2], c[3])) << e << " " << x;
        }
    }
}

TEST(LimiterSoftClip, WorkedValues) {
    float one[] = {2.0f, 1.0f, -1.0f, -2.0f, 1.4142135f, 0.0f, NAN};
    softClip(one, 7, 1);
    EXPECT_EQ(one[0], 0.9428090453f);
    EXPECT_NEAR(one[1], 0.8333333, 1e-7);
    EXPECT_NEAR(one[2], -0.8333333, 1e-7);
    EXPECT_EQ(one[3], -0.9428090453f);
    EXPECT_NEAR(one[4], 0.9428090453, 1e-7);
    EXPECT_EQ(one[5], 0.0f);
    EXPECT_EQ(one[6], -0.9428090453f);  // not a number falls to the negative branch

    float two[] = {2.0f, 0.5f, 1.0f, -0.5f, -7.0f};
    softClip(two, 5, 2);
    EXPECT_EQ(two[0], 1.0f);
    EXPECT_EQ(two[1], 0.6875f);
    EXPECT_EQ(two[2], 1.0f);
    EXPECT_EQ(two[3], -0.6875f);
    EXPECT_EQ(two[4], -1.0f);

    float none[] = {3.0f};
    softClip(none, 1, 0);
    EXPECT_EQ(none[0], 3.0f);
}

}  // namespace
