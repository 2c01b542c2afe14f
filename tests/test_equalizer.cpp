// Equalizer: band design, the 32-bit filter, per-block settings and edge cases.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <numbers>
#include <random>
#include <vector>

#include "dsp/classic.h"
#include "dsp/equalizer.h"
#include "tests/test_support.h"

namespace {

void setBand(int band, int gain, int frequency) {
    store_relaxed(settings.eq_bands[band].gain, static_cast<uint16_t>(gain));
    store_relaxed(settings.eq_bands[band].frequency, static_cast<uint16_t>(frequency));
}

void setFormat(int rate, int channels) {
    store_relaxed(settings.sample_rate, int32_t{rate});
    store_relaxed(settings.channel_count, int32_t{channels});
    store_relaxed(settings.bits_per_sample, int32_t{16});
}

// Default band layout with every band neutral.
void neutralBands() {
    setBand(0, 50, 100);
    setBand(1, 50, 1000);
    setBand(2, 50, 10000);
}

std::vector<int16_t> sine(double frequency, double amplitude, int rate, int frames, int channels) {
    std::vector<int16_t> s(static_cast<size_t>(frames) * channels);
    for (int f = 0; f < frames; ++f)
        for (int ch = 0; ch < channels; ++ch)
            s[static_cast<size_t>(f) * channels + ch] =
                static_cast<int16_t>(std::lround(amplitude * std::sin(2 * std::numbers::pi * frequency * f / rate)));
    return s;
}

std::vector<int16_t> noise(std::mt19937& rng, size_t count, int amplitude) {
    std::uniform_int_distribution<int> d(-amplitude, amplitude);
    std::vector<int16_t> s(count);
    for (int16_t& v : s) v = static_cast<int16_t>(std::clamp(d(rng), -32768, 32767));
    return s;
}

double rms(const std::vector<int16_t>& s, size_t from) {
    double sum = 0;
    for (size_t i = from; i < s.size(); ++i) sum += static_cast<double>(s[i]) * s[i];
    return std::sqrt(sum / static_cast<double>(s.size() - from));
}

// Level change in dB of a mono sine through the equalizer, in 576-frame blocks,
// measured after the filters have settled.
double sineGainDb(double frequency, int rate) {
    const int frames = 576 * 40;
    const std::vector<int16_t> in = sine(frequency, 3000, rate, frames, 1);
    std::vector<int16_t> out = in;
    for (int b = 0; b < 40; ++b) equalizeBlock(&out[static_cast<size_t>(b) * 576], 576, 1);
    return 20 * std::log10(rms(out, frames / 2) / rms(in, frames / 2));
}

// Swaps the working-buffer allocator for the life of the object.
struct AllocatorSwap {
    explicit AllocatorSwap(EqualizerAllocator replacement) : saved(equalizerAllocate) {
        equalizerAllocate = replacement;
    }
    ~AllocatorSwap() { equalizerAllocate = saved; }
    AllocatorSwap(const AllocatorSwap&) = delete;
    AllocatorSwap& operator=(const AllocatorSwap&) = delete;
    EqualizerAllocator saved;
};

const EqBandState zeroState{};

void* failingAllocate(std::size_t) { return nullptr; }

int allocations = 0;
void* countingAllocate(std::size_t bytes) {
    ++allocations;
    return std::malloc(bytes);
}

}  // namespace

// ---- Band design ----------------------------------------------------------------

using EqualizerDesignTest = EngineTest;

TEST_F(EqualizerDesignTest, WorkedCoefficientsAt1000HzPlusTenDb) {
    EqCoefficients c;
    ASSERT_EQ(equalizerCoefficients(44100.0f, 1000.0f, 10.0f, c), 1);
    // Each within half a unit of its last printed digit.
    EXPECT_NEAR(c.w, 88200.0, 0.5);
    EXPECT_NEAR(c.m, 197.0504, 0.00005);
    EXPECT_NEAR(c.r, 63.38128, 0.000005);
    EXPECT_NEAR(c.q, 20.84351, 0.000005);
    EXPECT_NEAR(c.b0, 1.194331, 0.0000005);
    EXPECT_NEAR(c.b1, -1.791282, 0.0000005);
    EXPECT_EQ(c.a1, c.b1);
    EXPECT_NEAR(c.b2, 0.6152256, 0.00000005);
    EXPECT_NEAR(c.a2, 0.8095561, 0.00000005);
}

TEST_F(EqualizerDesignTest, FrequencyAboveHalfTheRateIsHalfTheRate) {
    EqCoefficients above, half;
    ASSERT_EQ(equalizerCoefficients(22050.0f, 20000.0f, -6.0f, above), 1);
    ASSERT_EQ(equalizerCoefficients(22050.0f, 11025.0f, -6.0f, half), 1);
    EXPECT_EQ(std::memcmp(&above, &half, sizeof above), 0);
    EqCoefficients below;
    ASSERT_EQ(equalizerCoefficients(22050.0f, 11000.0f, -6.0f, below), 1);
    EXPECT_NE(below.k, half.k);
}

TEST_F(EqualizerDesignTest, BandsThatCannotRunAreRefused) {
    EqCoefficients c;
    EXPECT_EQ(equalizerCoefficients(44100.0f, 0.0f, 10.0f, c), 0);
    EXPECT_EQ(equalizerCoefficients(0.0f, 1000.0f, 10.0f, c), 0);
    EXPECT_EQ(equalizerCoefficients(44100.0f, 1000.0f, std::nanf(""), c), 0);
    EXPECT_EQ(equalizerCoefficients(44100.0f, 1000.0f, INFINITY, c), 0);
    // Unity at DC and at the top: b0 + b1 + b2 = 1 + a1 + a2 for any design.
    ASSERT_EQ(equalizerCoefficients(48000.0f, 350.0f, -4.0f, c), 1);
    EXPECT_NEAR(c.b0 + c.b1 + c.b2, 1.0 + c.a1 + c.a2, 1e-5);
}

// ---- The filter -------------------------------------------------------------------

using EqualizerFilterTest = EngineTest;

TEST_F(EqualizerFilterTest, ImpulseResponseStartsWithTheWorkedCoefficients) {
    setFormat(44100, 1);
    // x0 = 10000: y = b0 × 10000 = 11943.3 → 11943; then x1 = 10000, y1 = 11943:
    // y = b1 × 10000 − a1 × 11943 = −1.791282 × −1943 = 3480.5 → 3480.
    EqBandState state{};
    int32_t work[2] = {10000, 0};
    equalizerBand(work, state, 2, 1, 1000.0f, 10.0f);
    EXPECT_EQ(work[0], 11943);
    EXPECT_EQ(work[1], 3480);
    EXPECT_EQ(state.y1[0], 3480);
    EXPECT_EQ(state.y2[0], 11943);
    EXPECT_EQ(state.x1[0], 10000);
    EXPECT_EQ(state.x0[0], 0);

    // A negative impulse truncates toward zero, not down.
    EqBandState fresh{};
    int32_t negative[2] = {-10000, 0};
    equalizerBand(negative, fresh, 2, 1, 1000.0f, 10.0f);
    EXPECT_EQ(negative[0], -11943);
    EXPECT_EQ(negative[1], -3480);
}

TEST_F(EqualizerFilterTest, OutputSaturatesInsteadOfWrapping) {
    setFormat(44100, 1);
    // A boost where q + m + 1 nearly vanishes gives a huge b0.
    float boost = 0;
    EqCoefficients c;
    for (float b = 110.0f; b < 116.0f; b += 0.001f)
        if (equalizerCoefficients(44100.0f, 1000.0f, b, c) && std::fabs(c.b0) > 1e5f) {
            boost = b;
            break;
        }
    ASSERT_NE(boost, 0.0f);
    ASSERT_EQ(equalizerCoefficients(44100.0f, 1000.0f, boost, c), 1);
    for (int sign : {1, -1}) {
        EqBandState state{};
        int32_t work[1] = {sign * 32767};
        equalizerBand(work, state, 1, 1, 1000.0f, boost);
        const bool positive = (c.b0 > 0) == (sign > 0);
        EXPECT_EQ(work[0], positive ? INT32_MAX : INT32_MIN) << "sign " << sign;
        EXPECT_EQ(state.y1[0], work[0]);
    }
    // Stereo frames saturate the same way, each channel on its own.
    EqBandState pair{};
    int32_t frame[4] = {32767, -32767, -32767, 32767};
    equalizerBand(frame, pair, 1, 2, 1000.0f, boost);
    EXPECT_EQ(frame[0], c.b0 > 0 ? INT32_MAX : INT32_MIN);
    EXPECT_EQ(frame[1], c.b0 > 0 ? INT32_MIN : INT32_MAX);
    EXPECT_EQ(pair.y1[0], frame[0]);
    EXPECT_EQ(pair.y1[1], frame[1]);
    // A run of samples stays pinned at the bounds rather than wrapping around.
    std::vector<int16_t> block = sine(700, 30000, 44100, 200, 1);
    EqBandState unstable{};
    std::vector<int32_t> work(block.begin(), block.end());
    equalizerBand(work.data(), unstable, 200, 1, 1000.0f, boost);
    EXPECT_TRUE(std::any_of(work.begin(), work.end(),
                            [](int32_t v) { return v == INT32_MAX || v == INT32_MIN; }));
}

TEST_F(EqualizerFilterTest, RefusedBandLeavesBufferAndState) {
    setFormat(44100, 2);
    EqBandState state{};
    state.y1[1] = 123;
    const EqBandState before = state;
    int32_t work[4] = {100, 200, 300, 400};
    equalizerBand(work, state, 2, 2, 1000.0f, std::nanf(""));
    equalizerBand(work, state, 2, 2, 0.0f, 10.0f);
    EXPECT_EQ(std::memcmp(&state, &before, sizeof state), 0);
    EXPECT_EQ(work[0], 100);
    EXPECT_EQ(work[3], 400);
}

// ---- Blocks ----------------------------------------------------------------------

using EqualizerTest = EngineTest;

TEST_F(EqualizerTest, NeutralBandsOnlyClamp) {
    setFormat(44100, 2);
    neutralBands();
    settings.engine.eqState[1].y1[0] = 55;
    const EqBandState before = settings.engine.eqState[1];
    std::mt19937 rng(1);
    std::vector<int16_t> block = noise(rng, 2000, 40000);
    block[0] = -32768;
    block[1] = 32767;
    std::vector<int16_t> expected = block;
    for (int16_t& v : expected) v = std::clamp<int16_t>(v, -32766, 32766);
    equalizeBlock(block.data(), 1000, 2);
    EXPECT_EQ(block, expected);
    EXPECT_EQ(std::memcmp(&settings.engine.eqState[1], &before, sizeof before), 0);
}

TEST_F(EqualizerTest, BoostAt1000HzAndFarBandsNearlyUnchanged) {
    setFormat(44100, 1);
    setBand(0, 50, 100);
    setBand(1, 0, 1000);  // +10 dB
    setBand(2, 50, 10000);
    EXPECT_NEAR(sineGainDb(1000, 44100), 9.66, 0.05);
    settings_reset_to_load_state();
    setFormat(44100, 1);
    setBand(0, 50, 100);
    setBand(1, 0, 1000);
    setBand(2, 50, 10000);
    EXPECT_LT(std::fabs(sineGainDb(50, 44100)), 0.5);
    settings_reset_to_load_state();
    setFormat(44100, 1);
    setBand(0, 50, 100);
    setBand(1, 0, 1000);
    setBand(2, 50, 10000);
    EXPECT_LT(std::fabs(sineGainDb(15000, 44100)), 0.5);
}

TEST_F(EqualizerTest, CutMirrorsBoostAndGainFiftyIsNeutral) {
    setFormat(44100, 1);
    setBand(0, 50, 100);
    setBand(1, 100, 1000);  // −10 dB
    setBand(2, 50, 10000);
    EXPECT_NEAR(sineGainDb(1000, 44100), -9.66, 0.05);
}

TEST_F(EqualizerTest, HighBandPeaksBelowItsNominalFrequency) {
    // Without pre-warping the 10000 Hz band peaks near 8680 Hz at 44100 Hz.
    setFormat(44100, 1);
    setBand(0, 50, 100);
    setBand(1, 50, 1000);
    setBand(2, 0, 10000);
    double best = -1e9, bestFrequency = 0;
    for (double f = 8000; f <= 10000; f += 40) {
        settings_reset_to_load_state();
        setFormat(44100, 1);
        setBand(0, 50, 100);
        setBand(1, 50, 1000);
        setBand(2, 0, 10000);
        const double g = sineGainDb(f, 44100);
        if (g > best) best = g, bestFrequency = f;
    }
    EXPECT_NEAR(bestFrequency, 8680, 120);
}

TEST_F(EqualizerTest, FrequencyAboveHalfTheRateInABlock) {
    std::mt19937 rng(9);
    const std::vector<int16_t> input = noise(rng, 1000, 20000);
    std::vector<int16_t> results[2];
    const int frequencies[2] = {20000, 11025};
    for (int i = 0; i < 2; ++i) {
        settings_reset_to_load_state();
        setFormat(22050, 1);
        neutralBands();
        setBand(2, 20, frequencies[i]);
        results[i] = input;
        equalizeBlock(results[i].data(), 1000, 1);
    }
    EXPECT_EQ(results[0], results[1]);
    EXPECT_NE(results[0], input);
}

TEST_F(EqualizerTest, BandsRunInSeriesLikeOnePassEach) {
    for (int channels : {1, 2}) {
        settings_reset_to_load_state();
        setFormat(48000, channels);
        setBand(0, 10, 120);
        setBand(1, 85, 2500);
        setBand(2, 0, 9000);
        std::mt19937 rng(channels);
        std::vector<EqBandState> states(3);
        states[0].y1[0] = 17;  // resume from some earlier state
        states[2].x1[channels - 1] = -400;
        for (int b = 0; b < 3; ++b) settings.engine.eqState[b] = states[b];
        for (int block = 0; block < 5; ++block) {
            const int frames = 100 + 300 * block;
            std::vector<int16_t> samples = noise(rng, static_cast<size_t>(frames) * channels, 33000);
            std::vector<int32_t> work(samples.begin(), samples.end());
            const int gains[3] = {10, 85, 0};
            const int freqs[3] = {120, 2500, 9000};
            for (int b = 0; b < 3; ++b)
                equalizerBand(work.data(), states[b], frames, channels,
                              static_cast<float>(freqs[b]), (gains[b] - 50) / -5.0f);
            equalizeBlock(samples.data(), frames, channels);
            for (size_t i = 0; i < samples.size(); ++i)
                ASSERT_EQ(samples[i], std::clamp(work[i], -32766, 32766)) << channels << "/" << i;
        }
        for (int b = 0; b < 3; ++b)
            EXPECT_EQ(std::memcmp(&settings.engine.eqState[b], &states[b], sizeof(EqBandState)), 0);
    }
}

TEST_F(EqualizerTest, StateResumesAfterANeutralPeriod) {
    setFormat(44100, 1);
    neutralBands();
    std::mt19937 rng(4);
    std::vector<int16_t> a = noise(rng, 800, 20000), b = noise(rng, 800, 20000),
                         c = noise(rng, 800, 20000);

    setBand(1, 0, 1000);
    equalizeBlock(a.data(), 800, 1);
    const EqBandState left = settings.engine.eqState[1];

    setBand(1, 50, 1000);
    equalizeBlock(b.data(), 800, 1);
    EXPECT_EQ(std::memcmp(&settings.engine.eqState[1], &left, sizeof left), 0);

    // Continuing from the kept state equals running straight after block a.
    setBand(1, 0, 1000);
    std::vector<int16_t> resumed = c;
    equalizeBlock(resumed.data(), 800, 1);
    std::vector<int16_t> direct = c;
    settings.engine.eqState[1] = left;
    equalizeBlock(direct.data(), 800, 1);
    EXPECT_EQ(resumed, direct);
    std::vector<int16_t> cleared = c;
    settings.engine.eqState[1] = EqBandState{};
    equalizeBlock(cleared.data(), 800, 1);
    EXPECT_NE(resumed, cleared);
}

TEST_F(EqualizerTest, ChannelsIndependentMonoUsesFirstElement) {
    std::mt19937 rng(12);
    const std::vector<int16_t> stereo = noise(rng, 2 * 700, 25000);
    std::vector<int16_t> left(700), right(700);
    for (int f = 0; f < 700; ++f) left[f] = stereo[2 * f], right[f] = stereo[2 * f + 1];

    setFormat(44100, 2);
    setBand(0, 0, 100);
    setBand(1, 30, 1000);
    setBand(2, 90, 10000);
    std::vector<int16_t> both = stereo;
    equalizeBlock(both.data(), 700, 2);

    for (int ch = 0; ch < 2; ++ch) {
        settings_reset_to_load_state();
        setFormat(44100, 1);
        setBand(0, 0, 100);
        setBand(1, 30, 1000);
        setBand(2, 90, 10000);
        for (EqBandState& s : settings.engine.eqState) s.x0[1] = s.x1[1] = s.x2[1] = s.y1[1] = s.y2[1] = 4321;
        std::vector<int16_t> mono = ch == 0 ? left : right;
        equalizeBlock(mono.data(), 700, 1);
        for (int f = 0; f < 700; ++f) ASSERT_EQ(mono[f], both[2 * f + ch]) << ch << "/" << f;
        for (const EqBandState& s : settings.engine.eqState) {
            EXPECT_EQ(s.x0[1], 4321);
            EXPECT_EQ(s.y2[1], 4321);
        }
    }
}

TEST_F(EqualizerTest, ZeroFrequencyBandIsSkipped) {
    std::mt19937 rng(21);
    const std::vector<int16_t> input = noise(rng, 1200, 20000);
    setFormat(44100, 2);
    neutralBands();
    setBand(1, 0, 2000);
    std::vector<int16_t> alone = input;
    equalizeBlock(alone.data(), 600, 2);

    settings_reset_to_load_state();
    setFormat(44100, 2);
    neutralBands();
    setBand(0, 0, 0);  // from a settings file
    setBand(1, 0, 2000);
    std::vector<int16_t> withZero = input;
    equalizeBlock(withZero.data(), 600, 2);
    EXPECT_EQ(withZero, alone);
    EXPECT_EQ(std::memcmp(&settings.engine.eqState[0], &zeroState, sizeof(EqBandState)), 0);
}

TEST_F(EqualizerTest, AllocatesOneBufferOnlyWhenABandRuns) {
    setFormat(44100, 2);
    neutralBands();
    AllocatorSwap swap(&countingAllocate);
    allocations = 0;
    std::vector<int16_t> block(1152, 1000);
    equalizeBlock(block.data(), 576, 2);
    EXPECT_EQ(allocations, 0);
    setBand(0, 10, 100);
    setBand(2, 10, 10000);
    equalizeBlock(block.data(), 576, 2);
    EXPECT_EQ(allocations, 1);
}

TEST_F(EqualizerTest, WithoutAWorkingBufferTheAudioStillPlays) {
    setFormat(44100, 2);
    neutralBands();
    setBand(1, 0, 1000);
    store_relaxed(settings.eq_enable, int32_t{1});
    std::mt19937 rng(30);
    const std::vector<int16_t> input = noise(rng, 2 * 576, 33000);
    {
        AllocatorSwap swap(&failingAllocate);
        std::vector<int16_t> block = input;
        equalizeBlock(block.data(), 576, 2);
        EXPECT_EQ(block, input);
        EXPECT_EQ(std::memcmp(&settings.engine.eqState[1], &zeroState, sizeof(EqBandState)), 0);
    }

    // In mode 1 the classic enhancer still runs on the block: the result is
    // that of the enhancer alone.
    const EqBand bands[3] = {settings.eq_bands[0], settings.eq_bands[1], settings.eq_bands[2]};
    const int32_t eqEnable = settings.eq_enable;
    settings_set_defaults();  // mode 1 and the enhancer's defaults
    for (int b = 0; b < 3; ++b) settings.eq_bands[b] = bands[b];
    settings.eq_enable = eqEnable;
    computeClassicCoefficients(1, 1, 44100, 2);
    adoptEngineParameters();
    std::vector<int16_t> expected = input;
    enhanceClassic(expected.data(), 576, 2);
    settings.engine.classicGain = 1.0f;
    std::vector<int16_t> played = input;
    {
        AllocatorSwap swap(&failingAllocate);
        processPluginBlock(played.data(), 576, 2);
    }
    EXPECT_EQ(played, expected);
}

TEST_F(EqualizerTest, RejectsWhatItCannotProcess) {
    setFormat(44100, 2);
    setBand(0, 0, 100);
    std::vector<int16_t> block = {-32768, 32767, 5};
    const std::vector<int16_t> before = block;
    equalizeBlock(block.data(), 1, 3);
    equalizeBlock(block.data(), 0, 2);
    equalizeBlock(nullptr, 10, 2);
    EXPECT_EQ(block, before);
}
