// Stage selection, format limits and the level meter taps.
#include <cmath>
#include <vector>

#include "tests/test_support.h"

namespace {

class Pipeline : public EngineTest {
protected:
    void SetUp() override {
        EngineTest::SetUp();
        initialise();
    }
    // Stores the format as the host callback does and processes one block.
    void process(std::vector<int16_t>& block, int channels, int rate = 44100) {
        settings.sample_rate = rate;
        settings.channel_count = channels;
        settings.bits_per_sample = 16;
        if (settings.init_state < 2) {
            settings.engine.classicGain = 1.0f;
            settings.init_state = 2;
        }
        processPluginBlock(block.data(), static_cast<int>(block.size()) / channels, channels);
    }
};

std::vector<int16_t> sine(int frames, int channels, double hz, double amplitude, int rate = 44100) {
    std::vector<int16_t> block(static_cast<size_t>(frames * channels));
    for (int f = 0; f < frames; ++f)
        for (int c = 0; c < channels; ++c)
            block[static_cast<size_t>(f * channels + c)] =
                static_cast<int16_t>(std::lround(amplitude * std::sin(2 * M_PI * hz * f / rate + c)));
    return block;
}

TEST(MeasurePeaks, LooksAtEveryEighthFrameButNotTheLastSixteenSamples) {
    std::vector<int16_t> stereo(2 * 100, 0);
    stereo[2 * 8] = -32768;      // frame 8, left: looked at
    stereo[2 * 8 + 1] = 1234;    // frame 8, right
    stereo[2 * 9] = 30000;       // frame 9: not a multiple of eight
    stereo[2 * 96] = 31000;      // within the last 16 samples
    PeakPair peaks = measurePeaks(stereo.data(), 100, 2);
    EXPECT_EQ(peaks.left, 32768);
    EXPECT_EQ(peaks.right, 1234);

    std::vector<int16_t> eightFrames(16, 20000);
    peaks = measurePeaks(eightFrames.data(), 8, 2);
    EXPECT_EQ(peaks.left, 0);
    EXPECT_EQ(peaks.right, 0);

    std::vector<int16_t> mono(100, -500);
    peaks = measurePeaks(mono.data(), 100, 1);
    EXPECT_EQ(peaks.left, 500);
    EXPECT_EQ(peaks.right, 0);

    std::vector<int16_t> threeChannels(3 * 100, 0);
    threeChannels[0] = 700;  // first channel
    threeChannels[1] = 9000;
    peaks = measurePeaks(threeChannels.data(), 100, 3);
    EXPECT_EQ(peaks.left, 700);
    EXPECT_EQ(peaks.right, 0);
}

TEST_F(Pipeline, MetersRunOnlyOnRequestAndKeepTheirValues) {
    std::vector<int16_t> block = sine(1000, 1, 440, 8000);
    settings.meterRequest = 0;
    process(block, 1);
    EXPECT_EQ(settings.meterPeakIn[0], 0);

    settings.meterPeakIn[1] = 99;
    settings.meterPeakOut[1] = 99;
    settings.meterRequest = 1;
    process(block, 1);
    EXPECT_GT(settings.meterPeakIn[0], 7000);
    EXPECT_EQ(settings.meterPeakIn[1], 0);   // mono writes 0 on the right
    EXPECT_EQ(settings.meterPeakOut[1], 0);
    const int32_t in = settings.meterPeakIn[0];

    settings.meterRequest = 0;
    std::vector<int16_t> loud = sine(1000, 1, 440, 30000);
    process(loud, 1);
    EXPECT_EQ(settings.meterPeakIn[0], in);
}

TEST_F(Pipeline, FormatLimitsStopProcessingButNotTheMeters) {
    settings.meterRequest = 1;
    std::vector<int16_t> block(3 * 400, 32767);
    const std::vector<int16_t> before = block;
    process(block, 3);
    EXPECT_EQ(block, before);
    EXPECT_EQ(settings.meterPeakIn[0], 32767);
    EXPECT_EQ(settings.meterPeakOut[0], 32767);

    // Exactly 96000 Hz is processed: the classic chain clamps to 32766.
    std::vector<int16_t> mono(400, 32767);
    process(mono, 1, 96000);
    EXPECT_EQ(mono[0], 32766);
    std::vector<int16_t> tooFast(400, 32767);
    process(tooFast, 1, 96001);
    EXPECT_EQ(tooFast[0], 32767);
}

TEST_F(Pipeline, ChainsFollowEnhanceAndEqEnable) {
    settings.eq_bands[1].gain = 0;  // +10 dB at 1000 Hz
    const std::vector<int16_t> input = sine(2000, 2, 1000, 3000);

    // Mode 0 with the equalizer: equalised, the classic gain untouched.
    settings.enhance = 0;
    settings.eq_enable = 1;
    settings.engine.classicGain = 1.0f;
    std::vector<int16_t> block = input;
    process(block, 2);
    EXPECT_NE(block, input);
    EXPECT_EQ(settings.engine.classicGain, 1.0f);
    EXPECT_NE(settings.engine.eqState[1].x0[0], 0);

    // Mode 0 without it: nothing at all.
    settings.eq_enable = 0;
    block = input;
    process(block, 2);
    EXPECT_EQ(block, input);

    // Mode 2 never runs the equalizer.
    settings.enhance = 2;
    settings.eq_enable = 1;
    settings.engine.eqState[1] = EqBandState{};
    block = input;
    process(block, 2);
    EXPECT_EQ(settings.engine.eqState[1].x0[0], 0);

    // Any mode other than 0 and 2 is the classic enhancer: quiet input raises the gain.
    settings.enhance = 5;
    settings.eq_enable = 0;
    settings.engine.engineClassic = ClassicCoefficients{6.04f, 0.0001f, 0.028f};
    settings.engine.classicGain = 1.0f;
    block = input;
    process(block, 2);
    EXPECT_GT(settings.engine.classicGain, 1.0f);
}

TEST_F(Pipeline, ParametersPublishedOffTheAudioThreadArriveWithTheNextBlock) {
    ClassicCoefficients c{2.0f, 0.5f, 0.25f};
    publishClassicCoefficients(c);
    EXPECT_EQ(settings.engine.gainCeiling, 2.0f);        // what the pages show
    EXPECT_NE(settings.engine.engineClassic.gainCeiling, 2.0f);  // not yet the engine's
    requestEngineResets(engineResetAgcGains | engineResetBandGains);
    EXPECT_EQ(settings.engine.multiband.agcGains[0], 0.0);

    std::vector<int16_t> block(2 * 64, 0);
    settings.enhance = 0;
    process(block, 2);
    EXPECT_EQ(settings.engine.engineClassic.gainCeiling, 2.0f);
    EXPECT_EQ(settings.engine.engineClassic.gainDownStep, 0.25f);
    EXPECT_EQ(settings.engine.multiband.agcGains[0], 1.0);
    EXPECT_EQ(settings.engine.multiband.agcGains[1], 1.0);
    EXPECT_EQ(settings.engine.multiband.bandGains[3], 1.0);
    EXPECT_EQ(settings.engine.multiband.bandGainReadouts[0], 1.0f);

    // The newest of several publications wins; a reset is applied once.
    publishClassicCoefficients(ClassicCoefficients{3.0f, 0, 0});
    publishClassicCoefficients(ClassicCoefficients{4.0f, 0, 0});
    settings.engine.multiband.agcGains[0] = 2.0;
    process(block, 2);
    EXPECT_EQ(settings.engine.engineClassic.gainCeiling, 4.0f);
    EXPECT_EQ(settings.engine.multiband.agcGains[0], 2.0);
}

}  // namespace
