// The exported entry, the module's callbacks and the life cycle of init_state.
#include <filesystem>
#include <vector>

#include "plugin/dsp_interface.h"
#include "tests/test_support.h"

namespace {

class HostInterface : public EngineTest {
protected:
    DspModule* module() { return winampDSPGetHeader2()->getModule(0); }
    int32_t modify(std::vector<int16_t>& block, int bits, int channels, int rate) {
        const int frames = static_cast<int>(block.size()) / channels;
        return module()->ModifySamples(module(), block.data(), frames, bits, channels, rate);
    }
};

std::vector<int16_t> ramp(int samples, int16_t start = -3000, int16_t step = 7) {
    std::vector<int16_t> block(static_cast<size_t>(samples));
    for (int i = 0; i < samples; ++i) block[static_cast<size_t>(i)] = static_cast<int16_t>(start + step * (i % 900));
    return block;
}

TEST_F(HostInterface, HeaderAndModuleRecords) {
    DspHeader* header = winampDSPGetHeader2();
    ASSERT_NE(header, nullptr);
    EXPECT_EQ(header, winampDSPGetHeader2());
    EXPECT_EQ(header->version, 0x20);
    EXPECT_STREQ(header->description, "yarq's Audio Enhancers v2.1");

    DspModule* first = header->getModule(0);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first, header->getModule(0));
    EXPECT_EQ(header->getModule(1), nullptr);
    EXPECT_EQ(header->getModule(-1), nullptr);
    EXPECT_NE(first->description, nullptr);
    EXPECT_NE(first->Config, nullptr);
    EXPECT_NE(first->Init, nullptr);
    EXPECT_NE(first->ModifySamples, nullptr);
    EXPECT_NE(first->Quit, nullptr);
    EXPECT_EQ(first->userData, nullptr);
}

TEST_F(HostInterface, InitInitialisesOnceAndQuitKeepsEverything) {
    EXPECT_EQ(module()->Init(module()), 0);
    EXPECT_EQ(settings.init_state, 1);
    EXPECT_EQ(settings.amp_max, 56);

    // A change made in the dialog survives Quit and a second Init, and the
    // settings file is not read again.
    settings.amp_max = 12;
    std::filesystem::create_directories(profile.path + "/dsp_redozer");
    write_file(profile.path + "/dsp_redozer/dsp_redozer.ini", "[zobrin dsp]\namp_max=99\n");
    module()->Quit(module());
    EXPECT_EQ(module()->Init(module()), 0);
    EXPECT_EQ(settings.amp_max, 12);
    EXPECT_EQ(settings.init_state, 1);
}

TEST_F(HostInterface, BlocksOtherThanSixteenBitPassUntouched) {
    module()->Init(module());
    settings.meterRequest = 1;  // even an open meter sees nothing of them
    settings.meterPeakIn[0] = 11;
    settings.meterPeakOut[0] = 12;
    std::vector<int16_t> block = ramp(3 * 600);
    const std::vector<int16_t> before = block;
    EXPECT_EQ(module()->ModifySamples(module(), block.data(), 600, 24, 3, 44100), 600);
    EXPECT_EQ(block, before);
    EXPECT_EQ(settings.meterPeakIn[0], 11);
    EXPECT_EQ(settings.meterPeakOut[0], 12);
    std::vector<int16_t> eightBit = ramp(2 * 100);
    EXPECT_EQ(module()->ModifySamples(module(), eightBit.data(), 100, 8, 2, 44100), 100);
    EXPECT_EQ(settings.meterPeakIn[0], 11);
    EXPECT_EQ(settings.sample_rate, 0);
    EXPECT_EQ(settings.channel_count, 0);
    EXPECT_EQ(settings.bits_per_sample, 0);
    EXPECT_EQ(settings.init_state, 1);
}

TEST_F(HostInterface, FirstSixteenBitBlockSetsUpOnceAndReturnsTheFrameCount) {
    module()->Init(module());
    settings.enhance = 0;  // leave the gain alone while processing
    std::vector<int16_t> block = ramp(2 * 576);
    EXPECT_EQ(modify(block, 16, 2, 44100), 576);
    EXPECT_EQ(settings.init_state, 2);
    EXPECT_EQ(settings.sample_rate, 44100);
    EXPECT_EQ(settings.channel_count, 2);
    EXPECT_EQ(settings.bits_per_sample, 16);
    EXPECT_EQ(settings.engine.classicGain, 1.0f);

    // Later blocks never reset the gain.
    settings.engine.classicGain = 3.5f;
    EXPECT_EQ(modify(block, 16, 1, 22050), static_cast<int32_t>(block.size()));
    EXPECT_EQ(settings.engine.classicGain, 3.5f);
    EXPECT_EQ(settings.sample_rate, 22050);
    EXPECT_EQ(settings.channel_count, 1);
}

TEST_F(HostInterface, RatesAboveTheLimitAreStoredButNotProcessed) {
    module()->Init(module());
    std::vector<int16_t> block = ramp(2 * 1000, 32000, 1);  // loud: the classic chain would change it
    block[0] = 32767;
    const std::vector<int16_t> before = block;
    EXPECT_EQ(modify(block, 16, 2, 96001), 1000);
    EXPECT_EQ(settings.sample_rate, 96001);
    EXPECT_EQ(block, before);
}

TEST_F(HostInterface, ClassicStepsKeepTheFirstRate) {
    module()->Init(module());
    std::vector<int16_t> block = ramp(2 * 576);
    modify(block, 16, 2, 44100);
    const ClassicCoefficients first = settings.engine.engineClassic;
    EXPECT_GT(first.gainUpStep, 0.0f);
    modify(block, 16, 2, 48000);
    EXPECT_EQ(settings.engine.engineClassic.gainUpStep, first.gainUpStep);
    EXPECT_EQ(settings.engine.engineClassic.gainDownStep, first.gainDownStep);
    EXPECT_EQ(settings.sample_rate, 48000);
}

TEST_F(HostInterface, CallbacksBeforeInitInitialiseFirst) {
    std::vector<int16_t> block = ramp(2 * 576);
    EXPECT_EQ(modify(block, 16, 2, 44100), 576);
    EXPECT_EQ(settings.init_state, 2);
    EXPECT_EQ(settings.amp_max, 56);
    EXPECT_STREQ(settings.eq_preset_slots[0], builtin_eq_presets[0]);

    settings_reset_to_load_state();
    module()->Config(module());  // no dialog on this platform, but never an empty block
    EXPECT_EQ(settings.init_state, 1);
    EXPECT_EQ(settings.threshold, 79);
}

TEST_F(HostInterface, NullOrEmptyBlocksAreHarmless) {
    module()->Init(module());
    EXPECT_EQ(module()->ModifySamples(module(), nullptr, 0, 16, 2, 44100), 0);
    std::vector<int16_t> block(4, 100);
    EXPECT_EQ(module()->ModifySamples(module(), block.data(), 0, 16, 2, 44100), 0);
    EXPECT_EQ(block, std::vector<int16_t>(4, 100));
}

}  // namespace
