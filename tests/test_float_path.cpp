// The float path (processBlockFloat) against the 16-bit path on input that
// both can carry: 16-bit values. The gain laws must take the same steps; the
// samples may differ only by what the 16-bit path truncates and clamps.
#include <algorithm>
#include <cmath>
#include <complex>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "dsp/engine.h"
#include "tests/test_support.h"

namespace {

struct EngineDeleter {
    void operator()(Engine* e) const {
        engineReleaseWork(*e);
        delete e;
    }
};
using EnginePtr = std::unique_ptr<Engine, EngineDeleter>;

struct Case {
    const char* name;
    uint8_t enhance;
    int32_t eqEnable;
    uint8_t hpcutoff;
    int channels;
    int blockFrames;
    bool owned;            // the instance owns its work buffers
    double maxDifference;  // largest |float - 16-bit| where the 16-bit path does not clamp;
                           // negative: not compared (the equalizer, see below)
};

EngineControls controls_of(const Case& c) {
    EngineControls k{};
    k.enhance = c.enhance;
    k.stereo_width = 40;
    k.hpcutoff = c.hpcutoff;
    k.threshold = 60;
    k.eq_enable = c.eqEnable;
    k.eq_bands[0] = EqBand{20, 100};
    k.eq_bands[1] = EqBand{70, 1000};
    k.eq_bands[2] = EqBand{50, 10000};
    return k;
}

EnginePtr start(const Case& c, int rate) {
    EnginePtr e(new Engine);
    engineInitialise(*e);
    if (c.owned) {
        EXPECT_TRUE(engineReserveWork(*e, c.blockFrames));
    }
    computeClassicCoefficients(*e, 78, 90, 60, 1, rate);
    MultibandStrings s{};
    strncpy(s.enh_multi1, default_enh_multi1, sizeof s.enh_multi1 - 1);
    strncpy(s.enh_multi2, default_enh_multi2, sizeof s.enh_multi2 - 1);
    strncpy(s.enh_limiter, default_enh_limiter, sizeof s.enh_limiter - 1);
    parseMultibandStrings(*e, s, 3, rate, c.channels);
    return e;
}

// Music-like noise: quiet and loud stretches, so that the gains move both ways
// and the limiter works.
std::vector<int16_t> music(int frames, int channels, unsigned seed) {
    std::mt19937 rng(seed);
    std::normal_distribution<double> noise(0.0, 1.0);
    std::vector<int16_t> b(static_cast<size_t>(frames) * channels);
    double low = 0.0;
    for (size_t i = 0; i < b.size(); ++i) {
        low = 0.995 * low + 0.1 * noise(rng);  // some weight in the low band
        const double level = (i / 30000) % 2 ? 3000.0 : 300.0;
        b[i] = static_cast<int16_t>(std::clamp((noise(rng) + low) * level, -32768.0, 32767.0));
    }
    return b;
}

class FloatPath : public ::testing::TestWithParam<Case> {};

TEST_P(FloatPath, FollowsTheSixteenBitPathOnSixteenBitInput) {
    const Case c = GetParam();
    const int rate = 44100;
    const int frames = 120000;
    const std::vector<int16_t> input = music(frames, c.channels, 7);
    EnginePtr a = start(c, rate), b = start(c, rate);
    const EngineControls k = controls_of(c);

    std::vector<int16_t> fixed = input;
    std::vector<float> full(input.begin(), input.end());
    for (int f = 0; f < frames; f += c.blockFrames) {
        const int n = std::min(c.blockFrames, frames - f);
        const size_t at = static_cast<size_t>(f) * c.channels;
        processBlock(*a, k, fixed.data() + at, n, c.channels, rate);
        processBlockFloat(*b, k, full.data() + at, n, c.channels, rate);
        // The same gain steps, to the bit.
        ASSERT_EQ(a->classicGain, b->classicGain) << "frame " << f;
        for (int j = 0; j < 4; ++j)
            ASSERT_EQ(a->multiband.bandGains[j], b->multiband.bandGains[j]) << "frame " << f;
    }
    EXPECT_NE(fixed, input) << "the stage left its input alone";
    if (c.maxDifference < 0) return;
    double largest = 0.0;
    for (size_t i = 0; i < input.size(); ++i) {
        if (std::abs(fixed[i]) >= 32766) continue;  // the 16-bit clamp
        largest = std::max(largest, std::fabs(static_cast<double>(full[i]) - fixed[i]));
    }
    EXPECT_LE(largest, c.maxDifference);
    EXPECT_GT(largest, 0.0);
}

// The 16-bit classic chain truncates the gain's product (less than a step)
// and, in stereo, the widening's quotient, which the gain then lifts (up to
// 8 x here); the multiband chain truncates its final product only. The 16-bit
// equalizer truncates inside its feedback, which changes its response (see
// EqualizerFloat below), so there only the gain steps are compared.
INSTANTIATE_TEST_SUITE_P(
    Stages, FloatPath,
    ::testing::Values(Case{"classic_stereo", 1, 0, 0, 2, 576, false, 9.1},
                      Case{"classic_hp_mono_owned", 1, 0, 30, 1, 576, true, 1.0},
                      Case{"classic_eq_long_blocks", 1, 1, 30, 2, 4096, false, -1.0},
                      Case{"equalizer_only", 0, 1, 0, 2, 576, true, -1.0},
                      Case{"multiband_stereo_owned", 2, 0, 0, 2, 576, true, 1.0},
                      Case{"multiband_mono_odd_blocks", 2, 1, 0, 1, 1000, false, 1.0}),
    [](const ::testing::TestParamInfo<Case>& p) { return std::string(p.param.name); });

// Level of a sine of `hz` in the second half of the block, by correlation.
double level_at(const std::vector<float>& y, double hz, int rate) {
    double c = 0.0, s = 0.0;
    const size_t half = y.size() / 2;
    for (size_t i = half; i < y.size(); ++i) {
        c += y[i] * std::cos(2 * M_PI * hz * static_cast<double>(i) / rate);
        s += y[i] * std::sin(2 * M_PI * hz * static_cast<double>(i) / rate);
    }
    return 2.0 * std::hypot(c, s) / static_cast<double>(y.size() - half);
}

// The designed response of the three bands in series at hz.
double designed_gain(const EngineControls& k, double hz, int rate) {
    double gain = 1.0;
    for (const EqBand& b : k.eq_bands) {
        EqCoefficients c;
        if (b.gain == 50 ||
            !equalizerCoefficients(static_cast<float>(rate), b.frequency, (b.gain - 50) / -5.0f, c))
            continue;
        const double w = 2 * M_PI * hz / rate;
        const std::complex<double> z1 = std::polar(1.0, -w), z2 = z1 * z1;
        gain *= std::abs((double{c.b0} + double{c.b1} * z1 + double{c.b2} * z2) /
                         (1.0 + double{c.a1} * z1 + double{c.a2} * z2));
    }
    return gain;
}

// At full resolution the equalizer has its designed response at any level;
// the 16-bit one, whose feedback truncates, loses much of a low band's boost
// on quiet audio.
TEST(EqualizerFloat, FollowsItsDesignAtAnyLevel) {
    const Case c{"x", 0, 1, 0, 1, 576, true, 0.0};
    const int rate = 44100;
    for (double amplitude : {20.0, 3000.0}) {
        for (double hz : {60.0, 997.0, 9000.0}) {
            EnginePtr e = start(c, rate);
            const EngineControls k = controls_of(c);
            std::vector<float> y(44100);
            for (size_t i = 0; i < y.size(); ++i)
                y[i] = static_cast<float>(amplitude * std::sin(2 * M_PI * hz * i / rate));
            for (size_t f = 0; f < y.size(); f += 576)
                processBlockFloat(*e, k, y.data() + f, static_cast<int>(std::min<size_t>(576, y.size() - f)), 1, rate);
            const double expected = designed_gain(k, hz, rate);
            EXPECT_NEAR(level_at(y, hz, rate) / amplitude, expected, 1e-4 * expected)
                << amplitude << " at " << hz << " Hz";
        }
    }
}

TEST(FloatPathLimits, RefusedFormatsLeaveTheBlockAlone) {
    const Case c{"x", 1, 1, 0, 2, 576, false, 0.0};
    EnginePtr e = start(c, 44100);
    const EngineControls k = controls_of(c);
    struct Format {
        int frames, channels, rate;
    } const refused[] = {{1000, 2, 96001}, {500, 3, 44100}, {0, 2, 44100}, {-4, 2, 44100}};
    std::vector<float> block(3000, 1234.5f);
    for (const Format& f : refused) {
        processBlockFloat(*e, k, block.data(), f.frames, f.channels, f.rate);
        for (float v : block) ASSERT_EQ(v, 1234.5f);
    }
    processBlockFloat(*e, k, nullptr, 100, 2, 44100);  // no crash
    processBlockFloat(*e, k, block.data(), 1000, 2, 96000);
    EXPECT_NE(block[0], 1234.5f);
}

}  // namespace
