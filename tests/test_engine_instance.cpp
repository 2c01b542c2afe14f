// Engine instances on their own: several in one process do not see each
// other, an instance driven directly gives what the plug-in gives, and owned
// work buffers change nothing but where the memory comes from.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "dsp/engine.h"
#include "plugin/dsp_interface.h"
#include "tests/test_support.h"

namespace {

using Block = std::vector<int16_t>;

struct EngineDeleter {
    void operator()(Engine* e) const {
        engineReleaseWork(*e);
        delete e;
    }
};
using EnginePtr = std::unique_ptr<Engine, EngineDeleter>;

// One stream's settings: the block's controls, the classic coefficients'
// inputs and the multiband strings.
struct Stream {
    EngineControls controls;
    int ampMax, ampUp, ampDown;
    MultibandStrings strings;
    int rate;
    int channels;
};

MultibandStrings strings_of(const char* multi1, const char* multi2, const char* limiter) {
    MultibandStrings s{};
    strncpy(s.enh_multi1, multi1, sizeof s.enh_multi1 - 1);
    strncpy(s.enh_multi2, multi2, sizeof s.enh_multi2 - 1);
    strncpy(s.enh_limiter, limiter, sizeof s.enh_limiter - 1);
    return s;
}

Stream classic_stream(int rate, int channels) {
    Stream s{};
    s.controls.enhance = 1;
    s.controls.stereo_width = 40;
    s.controls.hpcutoff = 30;
    s.controls.threshold = 60;
    s.controls.eq_enable = 1;
    s.controls.eq_bands[0] = EqBand{20, 100};
    s.controls.eq_bands[1] = EqBand{70, 1000};
    s.controls.eq_bands[2] = EqBand{50, 10000};
    s.ampMax = 78;
    s.ampUp = 90;
    s.ampDown = 60;
    s.strings = strings_of(default_enh_multi1, default_enh_multi2, default_enh_limiter);
    s.rate = rate;
    s.channels = channels;
    return s;
}

Stream multiband_stream(int preset, int rate, int channels) {
    Stream s = classic_stream(rate, channels);
    s.controls.enhance = 2;
    const BuiltinMultibandPreset& p = builtin_multiband_presets[preset];
    s.strings = strings_of(p.multi1, p.multi2, p.limiter);
    return s;
}

// A new instance set up as the plug-in sets up its own before the first
// block: classic coefficients with a reset, then the multiband parse with
// flags 3, both published from outside the audio thread.
EnginePtr start(const Stream& s) {
    EnginePtr e(new Engine);
    engineInitialise(*e);
    computeClassicCoefficients(*e, s.ampMax, s.ampUp, s.ampDown, 1, s.rate);
    parseMultibandStrings(*e, s.strings, 3, s.rate, s.channels);
    return e;
}

// Music-like noise with loud stretches, so the gain laws and the limiter work.
Block signal(int frames, int channels, unsigned seed) {
    std::mt19937 rng(seed);
    std::normal_distribution<double> noise(0.0, 1.0);
    Block b(static_cast<size_t>(frames) * channels);
    for (size_t i = 0; i < b.size(); ++i) {
        const double level = (i / 20000) % 2 ? 12000.0 : 1500.0;
        b[i] = static_cast<int16_t>(std::clamp(noise(rng) * level, -32768.0, 32767.0));
    }
    return b;
}

// Runs `input` through the instance in blocks of `blockFrames`.
void run(Engine& e, const Stream& s, Block& samples, int blockFrames) {
    const int frames = static_cast<int>(samples.size()) / s.channels;
    for (int f = 0; f < frames; f += blockFrames) {
        const int n = std::min(blockFrames, frames - f);
        processBlock(e, s.controls, samples.data() + static_cast<size_t>(f) * s.channels, n,
                     s.channels, s.rate);
    }
}

Block alone(const Stream& s, const Block& input, int blockFrames) {
    EnginePtr e = start(s);
    Block out = input;
    run(*e, s, out, blockFrames);
    return out;
}

TEST(EngineInstances, InterleavedInstancesGiveWhatEachGivesAlone) {
    const Stream streams[] = {classic_stream(44100, 2), multiband_stream(3, 48000, 2),
                              multiband_stream(0, 44100, 1), classic_stream(22050, 1)};
    constexpr int count = 4;
    Block inputs[count], expected[count], got[count];
    EnginePtr engines[count];
    for (int k = 0; k < count; ++k) {
        inputs[k] = signal(60000, streams[k].channels, 11u + static_cast<unsigned>(k));
        expected[k] = alone(streams[k], inputs[k], 576);
        ASSERT_NE(expected[k], inputs[k]) << "stream " << k << " left its input alone";
        got[k] = inputs[k];
        engines[k] = start(streams[k]);
    }
    for (int f = 0; f < 60000; f += 576) {
        for (int k = 0; k < count; ++k) {
            const int n = std::min(576, 60000 - f);
            processBlock(*engines[k], streams[k].controls,
                         got[k].data() + static_cast<size_t>(f) * streams[k].channels, n,
                         streams[k].channels, streams[k].rate);
        }
    }
    for (int k = 0; k < count; ++k) EXPECT_EQ(got[k], expected[k]) << "stream " << k;
}

TEST(EngineInstances, ParametersPublishedToOneInstanceStayThere) {
    // A change published to one instance mid-stream reaches only that one.
    const Stream a = multiband_stream(1, 44100, 2);
    const Stream b = multiband_stream(1, 44100, 2);
    const Block input = signal(20000, 2, 5);
    EnginePtr ea = start(a), eb = start(b);
    Block outA = input, outB = input;
    for (int f = 0; f < 20000; f += 576) {
        if (f == 5760) {
            const BuiltinMultibandPreset& p = builtin_multiband_presets[4];
            parseMultibandStrings(*ea, strings_of(p.multi1, p.multi2, p.limiter), 3, 44100, 2);
            computeClassicCoefficients(*ea, 0, 0, 100, 1, 44100);
        }
        const int n = std::min(576, 20000 - f);
        processBlock(*ea, a.controls, outA.data() + 2 * f, n, 2, a.rate);
        processBlock(*eb, b.controls, outB.data() + 2 * f, n, 2, b.rate);
    }
    EXPECT_EQ(outB, alone(b, input, 576));
    EXPECT_NE(outA, outB);
    EXPECT_TRUE(std::equal(outA.begin(), outA.begin() + 2 * 5760, outB.begin()));
}

// The plug-in, called as the player calls it, runs its one instance exactly
// as an instance driven directly.
class PluginInstance : public EngineTest {};

TEST_F(PluginInstance, PluginOutputEqualsAnInstanceDrivenDirectly) {
    for (const Stream& s : {classic_stream(44100, 2), multiband_stream(5, 32000, 2),
                            multiband_stream(2, 96000, 1)}) {
        settings_reset_to_load_state();
        initialise();
        store_relaxed(settings.enhance, s.controls.enhance);
        store_relaxed(settings.stereo_width, s.controls.stereo_width);
        store_relaxed(settings.hpcutoff, s.controls.hpcutoff);
        store_relaxed(settings.threshold, s.controls.threshold);
        store_relaxed(settings.eq_enable, s.controls.eq_enable);
        for (int b = 0; b < 3; ++b) settings.eq_bands[b] = s.controls.eq_bands[b];
        store_relaxed(settings.amp_max, static_cast<uint8_t>(s.ampMax));
        store_relaxed(settings.amp_up, static_cast<uint8_t>(s.ampUp));
        store_relaxed(settings.amp_dwn, static_cast<uint8_t>(s.ampDown));
        settings.strings = s.strings;

        const Block input = signal(30000, s.channels, 3);
        Block viaPlugin = input;
        DspModule* module = winampDSPGetHeader2()->getModule(0);
        for (int f = 0; f < 30000; f += 576) {
            const int n = std::min(576, 30000 - f);
            module->ModifySamples(module, viaPlugin.data() + static_cast<size_t>(f) * s.channels,
                                  n, 16, s.channels, s.rate);
        }
        // The plug-in computes its parameters on the audio thread, in its
        // first block; publishing them beforehand gives the same.
        EXPECT_EQ(viaPlugin, alone(s, input, 576)) << "enhance " << int{s.controls.enhance}
                                                   << " at " << s.rate;
    }
}

// ---- Owned work buffers ------------------------------------------------------

void* refuse(std::size_t) { return nullptr; }

class OwnedWork : public ::testing::Test {
protected:
    void TearDown() override {
        multibandFailAfter = -1;
        equalizerAllocate = &std::malloc;
    }
};

TEST_F(OwnedWork, ReservedBuffersGiveTheSameOutputWithoutAllocating) {
    for (const Stream& s : {classic_stream(44100, 2), classic_stream(8000, 1),
                            multiband_stream(3, 44100, 2), multiband_stream(6, 22050, 1)}) {
        const Block input = signal(40000, s.channels, 9);
        const Block expected = alone(s, input, 576);

        EnginePtr e = start(s);
        ASSERT_TRUE(engineReserveWork(*e, 576));
        // Every allocation the blocks could make now fails: a block that
        // still asked for memory would come out unprocessed.
        multibandFailAfter = 0;
        equalizerAllocate = &refuse;
        Block got = input;
        run(*e, s, got, 576);
        EXPECT_EQ(got, expected) << "enhance " << int{s.controls.enhance} << " at " << s.rate;
        EXPECT_EQ(multibandFailAfter, 0) << "a multiband block asked for a buffer";
        multibandFailAfter = -1;
        equalizerAllocate = &std::malloc;
    }
}

TEST_F(OwnedWork, SmallerBlocksUseTheBuffersLargerOnesObtainTheirOwn) {
    const Stream s = multiband_stream(0, 44100, 2);
    const Block input = signal(30000, 2, 4);
    for (int block : {1, 37, 576}) {
        EnginePtr e = start(s);
        ASSERT_TRUE(engineReserveWork(*e, 576));
        Block got = input;
        run(*e, s, got, block);
        EXPECT_EQ(got, alone(s, input, block)) << "block " << block;
    }
    // Beyond the reserved size the block obtains its buffers as without any,
    // failure rule included: an unobtainable buffer leaves the block alone.
    EnginePtr e = start(s);
    ASSERT_TRUE(engineReserveWork(*e, 576));
    Block got = input;
    run(*e, s, got, 1152);
    EXPECT_EQ(got, alone(s, input, 1152));
    Block refused(input.begin(), input.begin() + 2 * 1152);
    const Block before = refused;
    multibandFailAfter = 0;
    processBlock(*e, s.controls, refused.data(), 1152, 2, s.rate);
    EXPECT_EQ(refused, before);
    EXPECT_EQ(multibandFailAfter, -1);  // the request was made and refused
}

TEST_F(OwnedWork, ReservationFailsWholeAndReleasesWhatItHad) {
    EnginePtr e = start(classic_stream(44100, 2));
    EXPECT_FALSE(engineReserveWork(*e, 0));
    EXPECT_FALSE(engineReserveWork(*e, -5));
    EXPECT_TRUE(engineReserveWork(*e, 4096));
    EXPECT_EQ(e->work.capacity, 8192);
    // A request beyond any block the engine processes fails and leaves
    // nothing owned, not even the earlier buffers.
    EXPECT_FALSE(engineReserveWork(*e, 1 << 30));
    EXPECT_EQ(e->work.capacity, 0);
    EXPECT_EQ(e->work.input, nullptr);
    EXPECT_EQ(e->work.equalizer, nullptr);
    for (float* band : e->work.bands) EXPECT_EQ(band, nullptr);
    engineReleaseWork(*e);  // twice is harmless
}

TEST(EngineInstances, BlocksOutsideTheEnginesFormatsPassUntouched) {
    const Stream s = classic_stream(44100, 2);
    EnginePtr e = start(s);
    Block b = signal(1000, 2, 8);
    const Block in = b;
    processBlock(*e, s.controls, b.data(), 1000, 2, 96001);
    processBlock(*e, s.controls, b.data(), 500, 3, 44100);
    processBlock(*e, s.controls, b.data(), 0, 2, 44100);
    processBlock(*e, s.controls, b.data(), -4, 2, 44100);
    EXPECT_EQ(b, in);
    processBlock(*e, s.controls, b.data(), 1000, 2, 96000);
    EXPECT_NE(b, in);
}

}  // namespace
