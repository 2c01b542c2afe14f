// Crossover bank: coefficients, complementary split, filtering behaviour.
#include <cmath>
#include <random>
#include <vector>

#include "dsp/crossover.h"
#include "tests/test_support.h"

namespace {

CrossoverBank design(uint16_t f1, uint16_t f2, uint16_t f3, int rate) {
    CrossoverBank bank{};
    const uint16_t hz[4] = {f1, f2, f3, 0};
    designCrossovers(bank, hz, rate);
    return bank;
}

TEST(CrossoverDesign, ThreeHundredHertzAt44100) {
    const CrossoverBank bank = design(300, 0, 0, 44100);
    for (int c = 0; c < 2; ++c) {
        const CrossoverSection& s = bank.sections[c];
        EXPECT_EQ(s.normalisedFrequency, static_cast<float>(300.0 / 44100));
        EXPECT_EQ(s.q, 0.707f);
        EXPECT_NEAR(s.b0, 0.000443271, 5e-10);
        EXPECT_NEAR(s.b1, 0.000886542, 5e-10);
        EXPECT_EQ(s.b2, s.b0);
        // Rounded once from double: -1.939562, not the -1.939561 of float steps.
        EXPECT_NEAR(s.a1, -1.939562, 4e-7);
        EXPECT_NEAR(s.a2, 0.941335, 5e-7);
    }
    // K itself: b0 = K^2 n and a1 = 2 (K^2 - 1) n give K^2 = b0 / (b0 - a1/2).
    const double k2 = bank.sections[0].b0 / (bank.sections[0].b0 - bank.sections[0].a1 / 2.0);
    EXPECT_NEAR(std::sqrt(k2), 0.0213746, 2e-7);
}

TEST(CrossoverDesign, OffSectionsAndBothChannels) {
    const CrossoverBank bank = design(250, 2200, 0, 48000);
    for (int k = 0; k < 2; ++k) {
        const CrossoverSection& l = bank.sections[2 * k];
        const CrossoverSection& r = bank.sections[2 * k + 1];
        EXPECT_EQ(l.b0, r.b0);
        EXPECT_EQ(l.a1, r.a1);
        EXPECT_EQ(l.a2, r.a2);
        EXPECT_EQ(l.normalisedFrequency, r.normalisedFrequency);
        EXPECT_GT(l.b0, 0.0f);
    }
    const CrossoverSection& off = bank.sections[4];
    EXPECT_EQ(off.b0, 0.0f);
    EXPECT_EQ(off.b1, 0.0f);
    EXPECT_EQ(off.a1, -2.0f);
    EXPECT_EQ(off.a2, 1.0f);
    // A low-pass has unit gain at 0 Hz: (b0 + b1 + b2) / (1 + a1 + a2) = 1.
    const CrossoverSection& s = bank.sections[2];
    EXPECT_NEAR((s.b0 + s.b1 + s.b2) / (1.0 + s.a1 + s.a2), 1.0, 1e-4);
}

std::vector<float> noise(int n, unsigned seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
    std::vector<float> v(n);
    for (float& x : v) x = dist(rng);
    return v;
}

TEST(CrossoverSplit, BandsSumBackToTheInput) {
    const uint16_t settingsList[][3] = {
        {300, 3000, 0}, {250, 2200, 5000}, {5000, 300, 12000}, {40, 0, 0}, {20000, 21000, 100}};
    for (int channels = 1; channels <= 2; ++channels) {
        for (const auto& f : settingsList) {
            CrossoverBank bank = design(f[0], f[1], f[2], 44100);
            const int n = 4410 * channels;
            for (int block = 0; block < 3; ++block) {
                const std::vector<float> input = noise(n, 17u + block);
                std::vector<std::vector<float>> band(4, std::vector<float>(n, 0.0f));
                band[0] = input;
                int active = 1;
                for (int k = 0; k < 3 && f[k] != 0; ++k, ++active)
                    splitBand(band[k].data(), band[k + 1].data(), bank, k, n, channels);
                double worst = 0.0;
                for (int i = 0; i < n; ++i) {
                    double sum = 0.0;
                    for (int b = 0; b < active; ++b) sum += band[b][i];
                    worst = std::max(worst, std::fabs(sum - input[i]));
                }
                EXPECT_LT(worst, 2e-6) << f[0] << " " << f[1] << " " << f[2];
                // The split really separates: the low band differs from the input.
                double moved = 0.0;
                for (int i = 0; i < n; ++i) moved += std::fabs(band[0][i] - input[i]);
                EXPECT_GT(moved / n, 1e-3);
            }
        }
    }
}

double sine_peak_after(CrossoverBank bank, double hz, bool low) {
    const int n = 44100;
    std::vector<float> a(n), b(n);
    for (int i = 0; i < n; ++i) a[i] = static_cast<float>(std::sin(2 * M_PI * hz * i / 44100.0));
    splitBand(a.data(), b.data(), bank, 0, n, 1);
    const std::vector<float>& out = low ? a : b;
    double peak = 0.0;
    for (int i = n / 2; i < n; ++i) peak = std::max(peak, std::fabs(static_cast<double>(out[i])));
    return peak;
}

TEST(CrossoverSplit, LowPassAndRemainderResponses) {
    const CrossoverBank bank = design(300, 0, 0, 44100);
    EXPECT_NEAR(sine_peak_after(bank, 300, true), 0.707, 0.01);  // -3 dB at the crossover
    EXPECT_GT(sine_peak_after(bank, 30, true), 0.99);
    // The remainder is only first order below the crossover: about sqrt(2) f/fc.
    EXPECT_NEAR(sine_peak_after(bank, 30, false), 0.1414, 0.005);
    EXPECT_LT(sine_peak_after(bank, 6000, true), 0.005);
    EXPECT_GT(sine_peak_after(bank, 6000, false), 0.99);
}

TEST(CrossoverSplit, StateRunsOnAcrossBlocksAndMonoUsesChannelZero) {
    CrossoverBank whole = design(1000, 0, 0, 44100);
    CrossoverBank parts = whole;
    const std::vector<float> input = noise(1000, 5);
    std::vector<float> a = input, ha(1000), b = input, hb(1000);
    splitBand(a.data(), ha.data(), whole, 0, 1000, 1);
    splitBand(b.data(), hb.data(), parts, 0, 300, 1);
    splitBand(b.data() + 300, hb.data() + 300, parts, 0, 700, 1);
    for (int i = 0; i < 1000; ++i) ASSERT_EQ(a[i], b[i]) << i;
    EXPECT_NE(whole.sections[0].s1, 0.0f);
    EXPECT_EQ(whole.sections[1].s1, 0.0f);
    EXPECT_EQ(whole.sections[1].s2, 0.0f);
}

TEST(CrossoverSplit, StereoAgreesBitForBitWithChannelByChannel) {
    CrossoverBank fast = design(300, 3000, 0, 44100);
    CrossoverBank slow = fast;
    for (int block = 0; block < 5; ++block) {
        const int n = 2 * (100 + 37 * block);
        std::vector<float> a = noise(n, 40u + block), b = a, ha(n), hb(n);
        splitBand(a.data(), ha.data(), fast, 1, n, 2);
        for (int c = 0; c < 2; ++c) {
            CrossoverSection& s = slow.sections[2 + c];
            for (int i = c; i < n; i += 2) {
                const float x = b[i];
                const float y = static_cast<float>(static_cast<double>(s.b0) * x + s.s1);
                s.s1 = static_cast<float>(static_cast<double>(s.b1) * x + s.s2 -
                                          static_cast<double>(s.a1) * y);
                s.s2 = static_cast<float>(static_cast<double>(s.b2) * x -
                                          static_cast<double>(s.a2) * y);
                hb[i] = x - y;
                b[i] = y;
            }
        }
        for (int i = 0; i < n; ++i) {
            ASSERT_EQ(a[i], b[i]) << block << " " << i;
            ASSERT_EQ(ha[i], hb[i]) << block << " " << i;
        }
    }
}

TEST(CrossoverSplit, RunawayStateIsDroppedAtTheBlockEnd) {
    // Far above half the rate the section is unstable; its state must not stay
    // infinite once a sound design replaces it.
    CrossoverBank bank = design(30000, 0, 0, 44100);
    std::vector<float> a = noise(44100, 9), b(44100);
    for (int round = 0; round < 4; ++round) splitBand(a.data(), b.data(), bank, 0, 44100, 1);
    EXPECT_TRUE(std::isfinite(bank.sections[0].s1));
    EXPECT_TRUE(std::isfinite(bank.sections[0].s2));
    const uint16_t sound[4] = {300, 0, 0, 0};
    designCrossovers(bank, sound, 44100);
    std::vector<float> c = noise(4410, 3), d(4410);
    splitBand(c.data(), d.data(), bank, 0, 4410, 1);
    for (float v : c) ASSERT_TRUE(std::isfinite(v));
}

}  // namespace
