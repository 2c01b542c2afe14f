// Classic enhancer: coefficient routine, analysis high-pass, widening, gain law.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <random>
#include <vector>

#include "dsp/classic.h"
#include "tests/test_support.h"

namespace {

struct ClassicSettings {
    int width = 20;
    int hpcutoff = 0;
    int ampMax = 56;
    int ampUp = 70;
    int ampDown = 76;
    int threshold = 79;
    int rate = 44100;
    int channels = 2;
};

// Stores the settings and the stream format, computes the coefficients with a
// gain reset and hands them to the engine as a block start would.
void configure(const ClassicSettings& s) {
    store_relaxed(settings.stereo_width, static_cast<uint8_t>(s.width));
    store_relaxed(settings.hpcutoff, static_cast<uint8_t>(s.hpcutoff));
    store_relaxed(settings.amp_max, static_cast<uint8_t>(s.ampMax));
    store_relaxed(settings.amp_up, static_cast<uint8_t>(s.ampUp));
    store_relaxed(settings.amp_dwn, static_cast<uint8_t>(s.ampDown));
    store_relaxed(settings.threshold, static_cast<uint8_t>(s.threshold));
    store_relaxed(settings.sample_rate, int32_t{s.rate});
    store_relaxed(settings.channel_count, int32_t{s.channels});
    store_relaxed(settings.bits_per_sample, int32_t{16});
    computeClassicCoefficients(1, 1, s.rate, s.channels);
    adoptEngineParameters();
}

int16_t clamp16(int64_t v) { return static_cast<int16_t>(std::clamp<int64_t>(v, -32766, 32766)); }

// The enhancer written out plainly, one division per quotient, with an analysis
// buffer as long as the block. The engine's version avoids divisions where it
// can and slides a window over long blocks; both must agree to the sample.
struct ReferenceState {
    float gain;
    int32_t hpInput[2];
    int32_t hpPrevInput[2];
    int32_t hpPrevOutput[2];
};

ReferenceState captureReference() {
    ReferenceState r;
    r.gain = settings.engine.classicGain;
    for (int ch = 0; ch < 2; ++ch) {
        r.hpInput[ch] = settings.engine.hpInput[ch];
        r.hpPrevInput[ch] = settings.engine.hpPrevInput[ch];
        r.hpPrevOutput[ch] = settings.engine.hpPrevOutput[ch];
    }
    return r;
}

void referenceEnhance(std::vector<int16_t>& s, const ClassicSettings& cfg,
                      const ClassicCoefficients& c, ReferenceState& st) {
    const int channels = cfg.channels;
    const int64_t total = static_cast<int64_t>(s.size());
    const int64_t frames = total / channels;
    for (int64_t f = 0; f < frames; ++f) {
        if (channels == 2 && cfg.width > 0) {
            const int32_t l = s[2 * f], r = s[2 * f + 1];
            s[2 * f] = clamp16(l - (cfg.width * r) / 200);
            s[2 * f + 1] = clamp16(r - (cfg.width * l) / 200);
        } else {
            for (int ch = 0; ch < channels; ++ch) s[f * channels + ch] = clamp16(s[f * channels + ch]);
        }
    }
    const int64_t level = 32767 - (100 - cfg.threshold) * 164;
    std::vector<int16_t> an = s;
    if (cfg.hpcutoff != 0) {
        const float T = 2.0 * cfg.rate;
        const float W = 3.14159265 * 4 * cfg.hpcutoff;
        const float N = 1.0 / (static_cast<double>(T) + static_cast<double>(W));
        const int64_t b = static_cast<int64_t>(10000.0 * N * T);
        const int64_t a = static_cast<int64_t>(10000.0 * (static_cast<double>(T) - W) * N);
        for (int64_t f = 0; f < frames; ++f)
            for (int ch = 0; ch < channels; ++ch) {
                st.hpPrevInput[ch] = st.hpInput[ch];
                st.hpInput[ch] = an[f * channels + ch];
                const int64_t y = (st.hpInput[ch] * b) / 10000 + (st.hpPrevInput[ch] * (-b)) / 10000 +
                                  (st.hpPrevOutput[ch] * a) / 10000;
                st.hpPrevOutput[ch] = static_cast<int32_t>(y);
                an[f * channels + ch] = clamp16(y);
            }
    }
    const int64_t d = channels == 2 ? 300 : 150;
    for (int64_t f = 0; f < frames; ++f) {
        const int64_t r = frames - f;
        const int64_t G = static_cast<int64_t>(10000.0 * st.gain);
        int64_t peak = 0;
        for (int ch = 0; ch < channels; ++ch)
            peak = std::max(peak, std::abs(G * an[f * channels + ch] / 10000));
        for (int ch = 0; ch < channels; ++ch)
            s[f * channels + ch] = clamp16(G * s[f * channels + ch] / 10000);
        const int64_t look = (f + 1) * channels + d;
        if (cfg.threshold < 100 && r > d && look < total) {
            int64_t la = std::abs(static_cast<int64_t>(an[look]));
            if (channels == 2) la = std::max(la, std::abs(static_cast<int64_t>(an[look - 1])));
            if (la * G / 10000 > level) {
                st.gain = st.gain - c.gainDownStep;
                continue;
            }
        }
        if (peak > 32766) {
            if (st.gain > 1.0 + static_cast<double>(c.gainDownStep)) st.gain = st.gain - c.gainDownStep;
        } else if (st.gain < c.gainCeiling) {
            st.gain = st.gain + c.gainUpStep;
        }
    }
}

// Music-like test signal: a few sines with a slowly varying level, bursts of
// full scale and, now and then, the extreme sample values.
std::vector<int16_t> testSignal(std::mt19937& rng, int64_t frames, int channels) {
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    const double f1 = 20 + 2000 * unit(rng), f2 = 50 + 8000 * unit(rng);
    const double level = 500 + 40000 * unit(rng);
    const double burstChance = unit(rng) * 0.01;
    std::vector<int16_t> s(static_cast<size_t>(frames * channels));
    for (int64_t f = 0; f < frames; ++f) {
        const double env = 0.5 + 0.5 * std::sin(f * 0.0007);
        for (int ch = 0; ch < channels; ++ch) {
            double v = level * env * (0.6 * std::sin(f * f1 * 0.0001 + ch) + 0.4 * std::sin(f * f2 * 0.0001));
            if (unit(rng) < burstChance) v = unit(rng) < 0.5 ? -32768 : 32767;
            s[f * channels + ch] = static_cast<int16_t>(std::clamp(v, -32768.0, 32767.0));
        }
    }
    return s;
}

// Output of a block of constant samples is G of each frame while G × v / 10000
// stays below the clamp; with v = 10000 the output is G itself.
constexpr int16_t unitSample = 10000;

}  // namespace

// ---- Coefficients -----------------------------------------------------------

using ClassicCoefficientsTest = EngineTest;

TEST_F(ClassicCoefficientsTest, DefaultsAt44100And48000) {
    store_relaxed(settings.amp_max, uint8_t{56});
    store_relaxed(settings.amp_up, uint8_t{70});
    store_relaxed(settings.amp_dwn, uint8_t{76});

    computeClassicCoefficients(1, 0, 44100, 2);
    EXPECT_FLOAT_EQ(settings.engine.gainCeiling, 6.04f);
    EXPECT_FLOAT_EQ(settings.engine.gainUpStep, 0.00010004f);
    EXPECT_FLOAT_EQ(settings.engine.gainDownStep, 0.028f);

    computeClassicCoefficients(1, 0, 48000, 2);
    EXPECT_FLOAT_EQ(settings.engine.gainCeiling, 6.04f);
    EXPECT_NEAR(settings.engine.gainUpStep, 0.0000919118, 0.00000000005);
    EXPECT_FLOAT_EQ(settings.engine.gainDownStep, 0.025725f);

    // The engine takes the newest set at the start of its next block.
    adoptEngineParameters();
    EXPECT_EQ(settings.engine.engineClassic.gainCeiling, settings.engine.gainCeiling);
    EXPECT_EQ(settings.engine.engineClassic.gainUpStep, settings.engine.gainUpStep);
    EXPECT_EQ(settings.engine.engineClassic.gainDownStep, settings.engine.gainDownStep);
}

TEST_F(ClassicCoefficientsTest, RateZeroGivesThe44100Steps) {
    store_relaxed(settings.amp_max, uint8_t{56});
    store_relaxed(settings.amp_up, uint8_t{70});
    store_relaxed(settings.amp_dwn, uint8_t{76});
    computeClassicCoefficients(1, 0, 0, 0);
    EXPECT_FLOAT_EQ(settings.engine.gainUpStep, 0.00010004f);
    EXPECT_FLOAT_EQ(settings.engine.gainDownStep, 0.028f);
    // A negative rate is not scaled either.
    computeClassicCoefficients(1, 0, -48000, 0);
    EXPECT_FLOAT_EQ(settings.engine.gainDownStep, 0.028f);
}

// Each step is stored as a float before the rate scaling and again after it.
TEST_F(ClassicCoefficientsTest, StepsRoundedBeforeAndAfterScaling) {
    store_relaxed(settings.amp_max, uint8_t{179});
    store_relaxed(settings.amp_up, uint8_t{92});
    store_relaxed(settings.amp_dwn, uint8_t{55});
    computeClassicCoefficients(1, 0, 8000, 2);
    volatile float stored = static_cast<float>(0.001 * 45 + 0.004);
    const float expected = static_cast<float>(static_cast<double>(stored) * (44100.0 / 8000));
    EXPECT_EQ(settings.engine.gainDownStep, expected);
    // Scaling the unrounded value lands one float higher here.
    volatile double unrounded = 0.001 * 45 + 0.004;
    EXPECT_NE(settings.engine.gainDownStep, static_cast<float>(unrounded * (44100.0 / 8000)));
}

TEST_F(ClassicCoefficientsTest, RangeEnds) {
    store_relaxed(settings.amp_max, uint8_t{0});
    store_relaxed(settings.amp_up, uint8_t{0});
    store_relaxed(settings.amp_dwn, uint8_t{100});
    computeClassicCoefficients(1, 0, 44100, 2);
    EXPECT_EQ(settings.engine.gainCeiling, 1.0f);
    EXPECT_FLOAT_EQ(settings.engine.gainUpStep, 0.000004f);
    EXPECT_FLOAT_EQ(settings.engine.gainDownStep, 0.004f);

    store_relaxed(settings.amp_max, uint8_t{100});
    store_relaxed(settings.amp_up, uint8_t{100});
    store_relaxed(settings.amp_dwn, uint8_t{0});
    computeClassicCoefficients(1, 0, 44100, 2);
    EXPECT_FLOAT_EQ(settings.engine.gainCeiling, 10.0f);
    EXPECT_FLOAT_EQ(settings.engine.gainUpStep, 0.000404f);
    EXPECT_FLOAT_EQ(settings.engine.gainDownStep, 0.104f);
}

TEST_F(ClassicCoefficientsTest, OnlyAResetTouchesTheGain) {
    settings.engine.classicGain = 3.5f;
    computeClassicCoefficients(1, 0, 44100, 2);
    adoptEngineParameters();
    EXPECT_EQ(settings.engine.classicGain, 3.5f);

    computeClassicCoefficients(1, 1, 44100, 2);
    adoptEngineParameters();
    EXPECT_EQ(settings.engine.classicGain, 1.0f);

    // On the audio thread the reset and the coefficients apply at once.
    settings.engine.classicGain = 2.0f;
    store_relaxed(settings.amp_max, uint8_t{20});
    setAudioThreadActive(true);
    computeClassicCoefficients(1, 1, 48000, 2);
    setAudioThreadActive(false);
    EXPECT_EQ(settings.engine.classicGain, 1.0f);
    EXPECT_FLOAT_EQ(settings.engine.engineClassic.gainCeiling, 2.8f);
}

// ---- Analysis high-pass -------------------------------------------------------

using ClassicHighPassTest = EngineTest;

// From zero state an input of 10000 gives b; from a previous output of 10000
// and zero inputs the output is a. Left and right carry separate state.
TEST_F(ClassicHighPassTest, CoefficientsAt44100) {
    struct Case {
        int hpcutoff, b, a;
    };
    for (const Case c : {Case{40, 9943, 9886}, Case{100, 9859, 9719}}) {
        settings_reset_to_load_state();
        store_relaxed(settings.sample_rate, int32_t{44100});
        store_relaxed(settings.hpcutoff, static_cast<uint8_t>(c.hpcutoff));
        settings.engine.hpPrevOutput[1] = 10000;
        const int16_t block[2] = {10000, 0};
        const int16_t* out = analysisHighPass(block, 1, 2);
        EXPECT_EQ(out, settings.engine.analysisBuffer);
        EXPECT_EQ(out[0], c.b) << "hpcutoff " << c.hpcutoff;
        EXPECT_EQ(out[1], c.a) << "hpcutoff " << c.hpcutoff;
        EXPECT_EQ(settings.engine.hpInput[0], 10000);
        EXPECT_EQ(settings.engine.hpPrevOutput[0], c.b);
        EXPECT_EQ(settings.engine.hpPrevOutput[1], c.a);
    }
}

TEST_F(ClassicHighPassTest, EachQuotientTruncatesTowardZero) {
    store_relaxed(settings.sample_rate, int32_t{44100});
    store_relaxed(settings.hpcutoff, uint8_t{40});  // b 9943, a 9886
    // -3 → (-3 × 9943) / 10000 = -2 (floor would give -3).
    // Next 0: 0 + (-3 × -9943) / 10000 + (-2 × 9886) / 10000 = 2 + -1 = 1.
    const int16_t block[2] = {-3, 0};
    const int16_t* out = analysisHighPass(block, 2, 1);
    EXPECT_EQ(out[0], -2);
    EXPECT_EQ(out[1], 1);
}

TEST_F(ClassicHighPassTest, OutputClampedButStateKeptUnclamped) {
    store_relaxed(settings.sample_rate, int32_t{44100});
    store_relaxed(settings.hpcutoff, uint8_t{40});
    // A step from -32768 to 32767 overshoots: y = 32767 × 9943 / 10000 +
    // (-32768 × -9943) / 10000 + prev × a / 10000.
    std::vector<int16_t> block = {-32768, 32767};
    const int16_t* out = analysisHighPass(block.data(), 2, 1);
    EXPECT_EQ(out[1], 32766);
    EXPECT_GT(settings.engine.hpPrevOutput[0], 32766);
}

TEST_F(ClassicHighPassTest, ChannelsAreIndependentAndMonoUsesTheFirst) {
    store_relaxed(settings.sample_rate, int32_t{44100});
    store_relaxed(settings.hpcutoff, uint8_t{60});
    std::mt19937 rng(5);
    const std::vector<int16_t> stereo = testSignal(rng, 500, 2);
    std::vector<int16_t> left(500);
    for (int f = 0; f < 500; ++f) left[f] = stereo[2 * f];

    const int16_t* out = analysisHighPass(stereo.data(), 500, 2);
    std::vector<int16_t> stereoLeft(500);
    for (int f = 0; f < 500; ++f) stereoLeft[f] = out[2 * f];
    const int32_t rightInput = settings.engine.hpInput[1];

    settings.engine.hpInput[0] = settings.engine.hpPrevInput[0] = settings.engine.hpPrevOutput[0] = 0;
    settings.engine.hpInput[1] = 777;
    settings.engine.hpPrevInput[1] = 778;
    settings.engine.hpPrevOutput[1] = 779;
    out = analysisHighPass(left.data(), 500, 1);
    EXPECT_TRUE(std::equal(stereoLeft.begin(), stereoLeft.end(), out));
    EXPECT_EQ(settings.engine.hpInput[1], 777);
    EXPECT_EQ(settings.engine.hpPrevInput[1], 778);
    EXPECT_EQ(settings.engine.hpPrevOutput[1], 779);
    EXPECT_EQ(rightInput, stereo[999]);
}

TEST_F(ClassicHighPassTest, OddRatesStayDefined) {
    // A host may hand any rate; the filter must neither overflow nor divide by zero.
    for (int32_t rate : {0, 1, -1, -44100, 2147483647, -2147483647 - 1}) {
        settings_reset_to_load_state();
        store_relaxed(settings.sample_rate, rate);
        store_relaxed(settings.hpcutoff, uint8_t{255});
        std::vector<int16_t> block(4000);
        for (size_t i = 0; i < block.size(); ++i) block[i] = (i / 7) % 2 ? 32767 : -32768;
        const int16_t* out = analysisHighPass(block.data(), 2000, 2);
        for (int i = 0; i < 4000; ++i) ASSERT_LE(std::abs(out[i]), 32766) << "rate " << rate;
    }
}

// ---- Enhancer -------------------------------------------------------------------

using ClassicEnhancerTest = EngineTest;

TEST_F(ClassicEnhancerTest, WidthExampleAndTruncation) {
    ClassicSettings s;
    s.width = 100;
    s.ampMax = 0;  // the gain stays at 1.0
    s.threshold = 100;
    configure(s);
    std::vector<int16_t> block = {1000, 0, 0, 1000, 1, -3, -32768, 32767};
    enhanceClassic(block.data(), 4, 2);
    EXPECT_EQ(block[0], 1000);
    EXPECT_EQ(block[1], -500);
    EXPECT_EQ(block[2], -500);
    EXPECT_EQ(block[3], 1000);
    // 1 - (100 × -3) / 200 = 1 - (-1) = 2; -3 - (100 × 1) / 200 = -3.
    EXPECT_EQ(block[4], 2);
    EXPECT_EQ(block[5], -3);
    // -32768 - 16383 and 32767 + 16384 clamp to the bounds.
    EXPECT_EQ(block[6], -32766);
    EXPECT_EQ(block[7], 32766);
    EXPECT_EQ(settings.engine.classicGain, 1.0f);
}

TEST_F(ClassicEnhancerTest, UnityGainGivesTheWidenedClampedInput) {
    for (int channels : {1, 2}) {
        settings_reset_to_load_state();
        ClassicSettings s;
        s.width = 0;
        s.ampMax = 0;
        s.threshold = 100;
        s.channels = channels;
        configure(s);
        std::mt19937 rng(11);
        std::vector<int16_t> block = testSignal(rng, 2000, channels);
        block[0] = -32768;
        block[1] = 32767;
        std::vector<int16_t> expected = block;
        for (int16_t& v : expected) v = clamp16(v);
        enhanceClassic(block.data(), 2000, channels);
        EXPECT_EQ(block, expected) << channels << " channels";
        EXPECT_LE(settings.engine.classicGain, 1.0f);
    }
}

TEST_F(ClassicEnhancerTest, HighGainClampsWithoutSignFlipAndReduces) {
    ClassicSettings s;
    s.channels = 1;
    s.threshold = 100;
    configure(s);
    settings.engine.classicGain = 10.0f;
    std::vector<int16_t> block = {30000, -30000};
    enhanceClassic(block.data(), 2, 1);
    EXPECT_EQ(block[0], 32766);
    EXPECT_EQ(block[1], -32766);
    const float down = settings.engine.engineClassic.gainDownStep;
    EXPECT_EQ(settings.engine.classicGain, (10.0f - down) - down);

    // 4681 × 70000 / 10000 is exactly 32767: above full scale, by one.
    settings.engine.classicGain = 7.0f;
    std::vector<int16_t> edge = {4681, 4680};
    enhanceClassic(edge.data(), 1, 1);
    EXPECT_EQ(edge[0], 32766);
    EXPECT_EQ(settings.engine.classicGain, 7.0f - down);
    // 4680 × 69720 / 10000 stays below: the gain is above the ceiling and holds.
    enhanceClassic(edge.data() + 1, 1, 1);
    EXPECT_EQ(settings.engine.classicGain, 7.0f - down);
}

TEST_F(ClassicEnhancerTest, FullScaleReducesOnlyAboveOnePlusStep) {
    ClassicSettings s;
    s.channels = 1;
    s.threshold = 100;
    configure(s);
    const float down = settings.engine.engineClassic.gainDownStep;  // 0.028
    std::vector<int16_t> fullScale(400, 32767);

    // Between 1 and 1 + step a full-scale frame neither raises nor reduces.
    settings.engine.classicGain = 1.02f;
    std::vector<int16_t> block = fullScale;
    enhanceClassic(block.data(), 400, 1);
    EXPECT_EQ(settings.engine.classicGain, 1.02f);

    // From above, the gain comes down to the first value at or below 1 + step.
    settings.engine.classicGain = 1.5f;
    block = fullScale;
    enhanceClassic(block.data(), 400, 1);
    EXPECT_LE(static_cast<double>(settings.engine.classicGain), 1.0 + down);
    EXPECT_GT(settings.engine.classicGain, 1.0f);

    // At 1.0 a full-scale frame amplifies to exactly 32766, which is not above
    // full scale, so the gain may rise by one step but never falls below 1.
    settings.engine.classicGain = 1.0f;
    block = fullScale;
    enhanceClassic(block.data(), 400, 1);
    EXPECT_GE(settings.engine.classicGain, 1.0f);
    EXPECT_LE(settings.engine.classicGain, 1.0f + settings.engine.engineClassic.gainUpStep);

    // With the ceiling at 1 it stays exactly 1.
    settings_reset_to_load_state();
    s.ampMax = 0;
    configure(s);
    block = fullScale;
    enhanceClassic(block.data(), 400, 1);
    EXPECT_EQ(settings.engine.classicGain, 1.0f);
}

TEST_F(ClassicEnhancerTest, RaisesByOneStepPerFrameUpToTheCeiling) {
    ClassicSettings s;
    s.channels = 1;
    s.ampMax = 1;  // ceiling 1.09
    s.ampUp = 100; // 0.000404 per frame
    configure(s);
    const ClassicCoefficients c = settings.engine.engineClassic;
    std::vector<int16_t> block(1000, unitSample);
    enhanceClassic(block.data(), 1000, 1);
    // Output = G of each frame: 10000, 10004, 10008, ... until the ceiling.
    EXPECT_EQ(block[0], 10000);
    EXPECT_EQ(block[1], 10004);
    EXPECT_EQ(block[2], 10008);
    EXPECT_GE(static_cast<double>(settings.engine.classicGain), c.gainCeiling);
    EXPECT_LT(static_cast<double>(settings.engine.classicGain),
              static_cast<double>(c.gainCeiling) + c.gainUpStep);
    EXPECT_EQ(block[999], static_cast<int16_t>(10000.0 * settings.engine.classicGain));
}

// A loud analysis sample ahead lowers the gain from the frame that sees it on.
// Left of frame P is seen by frame P - 151, right of frame P by frame P - 150.
TEST_F(ClassicEnhancerTest, LookaheadDistanceStereo) {
    for (int side : {0, 1}) {
        settings_reset_to_load_state();
        ClassicSettings s;
        s.width = 0;
        configure(s);
        std::vector<int16_t> block(2 * 1000, unitSample);
        const int spikeFrame = 700;
        block[2 * spikeFrame + side] = 30000;  // 30000 > 29323
        enhanceClassic(block.data(), 1000, 2);
        const int seenBy = spikeFrame - (side == 0 ? 151 : 150);
        for (int f = 1; f <= seenBy; ++f) ASSERT_GE(block[2 * f], block[2 * f - 2]) << f;
        // One reduce step of 0.028 is 280 in G, give or take the truncation.
        EXPECT_NEAR(block[2 * seenBy + 2] - block[2 * seenBy], -280, 1) << "side " << side;
    }
}

TEST_F(ClassicEnhancerTest, LookaheadDistanceMono) {
    ClassicSettings s;
    s.channels = 1;
    configure(s);
    std::vector<int16_t> block(1000, unitSample);
    block[700] = -30000;
    enhanceClassic(block.data(), 1000, 1);
    for (int f = 1; f <= 549; ++f) ASSERT_GE(block[f], block[f - 1]) << f;
    EXPECT_NEAR(block[550] - block[549], -280, 1);
}

TEST_F(ClassicEnhancerTest, LookaheadNeedsEnoughFramesLeft) {
    struct Case {
        int channels, frames, spikeSample;
        bool looksAhead;
    };
    // Stereo looks ahead while at least 301 frames are left, mono while 152.
    const Case cases[] = {
        {2, 301, 2 * 151, true},      {2, 300, 2 * 151, false},
        {2, 300, 2 * 150 + 1, false}, {1, 152, 151, true},
        {1, 151, 150, false},
    };
    for (const Case& c : cases) {
        settings_reset_to_load_state();
        ClassicSettings s;
        s.width = 0;
        s.channels = c.channels;
        configure(s);
        std::vector<int16_t> block(static_cast<size_t>(c.frames * c.channels), unitSample);
        block[c.spikeSample] = 30000;
        const ClassicCoefficients k = settings.engine.engineClassic;
        enhanceClassic(block.data(), c.frames, c.channels);
        // The second frame shows the gain after the first: reduced or raised.
        const float after = c.looksAhead ? 1.0f - k.gainDownStep : 1.0f + k.gainUpStep;
        EXPECT_EQ(block[c.channels], static_cast<int16_t>(10000.0 * static_cast<double>(after)))
            << c.channels << "/" << c.frames;
    }
}

TEST_F(ClassicEnhancerTest, ThresholdLevelIsPassedOnlyAboveIt) {
    struct Case {
        int channels, threshold, ahead;
        bool reduces;
    };
    // 29323 at the default 79, 16367 at 0; at G 10000 the sample ahead must
    // exceed the level itself.
    const Case cases[] = {
        {1, 79, 29323, false}, {1, 79, 29324, true},  {2, 79, -29323, false},
        {2, 79, -29324, true}, {2, 0, 16367, false},   {2, 0, 16368, true},
    };
    for (const Case& c : cases) {
        settings_reset_to_load_state();
        ClassicSettings s;
        s.width = 0;
        s.channels = c.channels;
        s.threshold = c.threshold;
        configure(s);
        std::vector<int16_t> block(static_cast<size_t>(400 * c.channels), unitSample);
        block[static_cast<size_t>(151 * c.channels)] = static_cast<int16_t>(c.ahead);  // seen by frame 0
        const ClassicCoefficients k = settings.engine.engineClassic;
        enhanceClassic(block.data(), 400, c.channels);
        const float after = c.reduces ? 1.0f - k.gainDownStep : 1.0f + k.gainUpStep;
        EXPECT_EQ(block[static_cast<size_t>(c.channels)],
                  static_cast<int16_t>(10000.0 * static_cast<double>(after)))
            << c.channels << " channels, threshold " << c.threshold << ", ahead " << c.ahead;
    }
}

TEST_F(ClassicEnhancerTest, ThresholdHundredSwitchesLookaheadOff) {
    ClassicSettings s;
    s.width = 0;
    s.threshold = 100;
    configure(s);
    std::vector<int16_t> block(2 * 1000, unitSample);
    block[2 * 700] = 32000;
    enhanceClassic(block.data(), 1000, 2);
    for (int f = 1; f <= 700; ++f) ASSERT_GE(block[2 * f], block[2 * f - 2]) << f;
    EXPECT_GT(block[2 * 700], 10600);
}

TEST_F(ClassicEnhancerTest, LookaheadCanTakeTheGainBelowOne) {
    ClassicSettings s;
    s.channels = 1;
    s.threshold = 0;  // level 16367
    configure(s);
    std::vector<int16_t> block(20000, 32767);
    enhanceClassic(block.data(), 20000, 1);
    // It stops once 32766 × G / 10000 no longer exceeds 16367, near one half,
    // and creeps up by at most 151 raise steps in the frames without lookahead.
    EXPECT_LT(settings.engine.classicGain, 0.52f);
    EXPECT_GT(settings.engine.classicGain, 0.46f);
}

TEST_F(ClassicEnhancerTest, HighPassOffUsesTheBlockAndLeavesItsState) {
    ClassicSettings s;
    configure(s);
    settings.engine.hpInput[0] = 5;
    settings.engine.hpPrevOutput[1] = -9;
    std::mt19937 rng(3);
    std::vector<int16_t> block = testSignal(rng, 3000, 2);
    enhanceClassic(block.data(), 3000, 2);
    EXPECT_EQ(settings.engine.hpInput[0], 5);
    EXPECT_EQ(settings.engine.hpPrevOutput[1], -9);

    // With the high-pass on, the state follows the widened block.
    s.hpcutoff = 40;
    configure(s);
    block = testSignal(rng, 3000, 2);
    const int16_t lastLeft = clamp16(block[5998] - (20 * block[5999]) / 200);
    enhanceClassic(block.data(), 3000, 2);
    EXPECT_EQ(settings.engine.hpInput[0], lastLeft);
}

TEST_F(ClassicEnhancerTest, EngineRunsWithItsOwnCoefficients) {
    ClassicSettings s;
    s.channels = 1;
    s.ampMax = 0;
    configure(s);
    // A page's newer values are not taken until the next block start.
    store_relaxed(settings.amp_max, uint8_t{100});
    computeClassicCoefficients(1, 0, 44100, 1);
    std::vector<int16_t> block(500, 1000);
    enhanceClassic(block.data(), 500, 1);
    EXPECT_EQ(settings.engine.classicGain, 1.0f);
    adoptEngineParameters();
    enhanceClassic(block.data(), 500, 1);
    EXPECT_GT(settings.engine.classicGain, 1.0f);
}

// Random settings (page ranges and beyond), block sizes and signals, several
// blocks in a row: the engine agrees with the plain reference to the sample,
// every output lies within ±32766, and the gain never exceeds the ceiling by a
// raise step or more.
TEST_F(ClassicEnhancerTest, MatchesReferenceOnRandomInput) {
    std::mt19937 rng(2024);
    std::uniform_int_distribution<int> byte(0, 255);
    for (int trial = 0; trial < 60; ++trial) {
        settings_reset_to_load_state();
        ClassicSettings s;
        s.channels = trial % 2 + 1;
        s.width = trial % 5 == 0 ? 0 : byte(rng) % 101;
        s.hpcutoff = trial % 3 == 0 ? 0 : byte(rng);
        s.ampMax = byte(rng) % (trial % 4 == 0 ? 256 : 101);
        s.ampUp = byte(rng);
        s.ampDown = byte(rng) % (trial % 4 == 3 ? 256 : 101);
        s.threshold = trial % 7 == 0 ? 100 + byte(rng) % 156 : byte(rng) % 100;
        const int rates[] = {8000, 22050, 44100, 48000, 96000};
        s.rate = rates[trial % 5];
        configure(s);
        if (trial % 6 == 1) settings.engine.classicGain = 8.0f;
        const ClassicCoefficients c = settings.engine.engineClassic;
        ReferenceState ref = captureReference();
        for (int block = 0; block < 4; ++block) {
            const int frames = std::uniform_int_distribution<int>(1, 2500)(rng);
            std::vector<int16_t> samples = testSignal(rng, frames, s.channels);
            std::vector<int16_t> expected = samples;
            referenceEnhance(expected, s, c, ref);
            enhanceClassic(samples.data(), frames, s.channels);
            ASSERT_EQ(samples, expected) << "trial " << trial << " block " << block;
            ASSERT_EQ(settings.engine.classicGain, ref.gain) << "trial " << trial;
            ASSERT_EQ(settings.engine.hpPrevOutput[0], ref.hpPrevOutput[0]);
            for (int16_t v : samples) ASSERT_LE(std::abs(v), 32766);
            // (amp_dwn above 100 makes the reduce step negative: no bound then.)
            if (trial % 6 != 1 && c.gainDownStep >= 0) {
                ASSERT_LT(static_cast<double>(settings.engine.classicGain),
                          static_cast<double>(c.gainCeiling) + c.gainUpStep);
            }
        }
    }
}

TEST_F(ClassicEnhancerTest, GainBoundFrameByFrame) {
    ClassicSettings s;
    s.ampMax = 30;
    s.ampUp = 255;  // large steps make an overshoot easy to see
    configure(s);
    const ClassicCoefficients c = settings.engine.engineClassic;
    std::mt19937 rng(8);
    std::vector<int16_t> signal = testSignal(rng, 30000, 2);
    for (int f = 0; f < 30000; ++f) {
        enhanceClassic(&signal[2 * f], 1, 2);
        ASSERT_LT(static_cast<double>(settings.engine.classicGain),
                  static_cast<double>(c.gainCeiling) + c.gainUpStep);
    }
    s.ampMax = 0;
    configure(s);
    signal = testSignal(rng, 30000, 2);
    for (int f = 0; f < 30000; f += 100) {
        enhanceClassic(&signal[2 * f], 100, 2);
        ASSERT_LE(settings.engine.classicGain, 1.0f);
    }
}

// Blocks longer than the analysis buffer give the result of one pass.
TEST_F(ClassicEnhancerTest, LongBlocksMatchOnePass) {
    struct Case {
        int channels, frames;
    };
    for (const Case k : {Case{2, 50000}, Case{2, 50001}, Case{2, 123457}, Case{1, 100152},
                         Case{1, 260000}}) {
        settings_reset_to_load_state();
        ClassicSettings s;
        s.channels = k.channels;
        s.hpcutoff = 70;
        s.threshold = 60;
        configure(s);
        const ClassicCoefficients c = settings.engine.engineClassic;
        ReferenceState ref = captureReference();
        std::mt19937 rng(k.frames);
        std::vector<int16_t> samples = testSignal(rng, k.frames, k.channels);
        // Quiet, with loud single frames where the analysis windows meet: a
        // window of C frames holds back the last 151 for the next one.
        for (int16_t& v : samples) v = static_cast<int16_t>(v / 8);
        const int64_t capacity = analysisBufferLength / k.channels;
        for (int64_t seam = capacity; seam < k.frames; seam += capacity - 151)
            for (int64_t f = seam - 1; f <= std::min<int64_t>(seam + 1, k.frames - 1); ++f)
                for (int ch = 0; ch < k.channels; ++ch)
                    samples[f * k.channels + ch] = static_cast<int16_t>(f % 2 ? 31000 : -31000);
        std::vector<int16_t> expected = samples;
        referenceEnhance(expected, s, c, ref);
        enhanceClassic(samples.data(), k.frames, k.channels);
        EXPECT_EQ(samples, expected) << k.channels << " channels, " << k.frames << " frames";
        EXPECT_EQ(settings.engine.classicGain, ref.gain);
        EXPECT_EQ(settings.engine.hpPrevOutput[k.channels - 1], ref.hpPrevOutput[k.channels - 1]);
    }
}

TEST_F(ClassicEnhancerTest, RejectsWhatItCannotProcess) {
    ClassicSettings s;
    configure(s);
    std::vector<int16_t> block = {-32768, 32767, -32768};
    const std::vector<int16_t> before = block;
    enhanceClassic(block.data(), 1, 3);
    enhanceClassic(block.data(), 0, 2);
    enhanceClassic(block.data(), -5, 1);
    enhanceClassic(nullptr, 10, 2);
    EXPECT_EQ(block, before);
    EXPECT_EQ(settings.engine.classicGain, 1.0f);
}

// Through the pipeline, the first 16-bit block sets the gain to 1 and the
// engine's coefficients come from the settings of that moment.
TEST_F(ClassicEnhancerTest, PipelineRunsTheEnhancerInModeOne) {
    ClassicSettings s;
    configure(s);
    store_relaxed(settings.enhance, uint8_t{1});
    std::mt19937 rng(77);
    std::vector<int16_t> samples = testSignal(rng, 576, 2);
    std::vector<int16_t> expected = samples;
    ReferenceState ref = captureReference();
    referenceEnhance(expected, s, settings.engine.engineClassic, ref);
    processPluginBlock(samples.data(), 576, 2);
    EXPECT_EQ(samples, expected);
}
