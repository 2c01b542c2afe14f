// The float instance shared by the LV2 and LADSPA plug-ins, against an engine
// instance driven directly the way the player drives it: 576-frame blocks,
// the first block's coefficient calls, and for a port change the routine and
// flags of the page control that makes the same change.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include "dsp/engine.h"
#include "dsp/multiband_strings.h"
#include "ports/float_instance.h"
#include "ports/port_table.h"

using namespace ports;

namespace {

// Music-like 16-bit material as floats (exact multiples of 1/32768): quiet,
// then loud, then quiet, two voices and some noise.
std::vector<float> material(int frames, int channels, uint32_t seed = 1, double quiet = 0.08) {
    std::vector<float> out(static_cast<size_t>(frames) * channels);
    uint32_t noise = seed;
    for (int i = 0; i < frames; ++i) {
        const double t = i / 44100.0;
        const double level = (i / 8000) % 3 == 1 ? 0.7 : quiet;
        for (int c = 0; c < channels; ++c) {
            noise = noise * 1664525u + 1013904223u;
            const double v = level * (0.6 * sin(2 * M_PI * (110 + 55 * c) * t) +
                                      0.3 * sin(2 * M_PI * 2500 * t) +
                                      0.1 * ((noise >> 8) / 8388608.0 - 1.0));
            out[static_cast<size_t>(i) * channels + c] =
                static_cast<float>(std::lrint(v * 32767)) / 32768.0f;
        }
    }
    return out;
}

// A host: port storage, connections, and runs in blocks of given sizes.
struct Host {
    int channels;
    FloatInstance* instance;
    float control[controlCount];
    float readout[readoutCount];

    Host(int ch, double rate) : channels(ch), instance(createInstance(ch, rate)) {
        for (int k = 0; k < controlCount; ++k) {
            control[k] = static_cast<float>(defaultValue(controls[k]));
            connectControl(instance, k, &control[k]);
        }
        for (int r = 0; r < readoutCount; ++r) {
            readout[r] = -1.0f;
            connectReadout(instance, r, &readout[r]);
        }
    }
    ~Host() { destroyInstance(instance); }
    Host(const Host&) = delete;
    Host& operator=(const Host&) = delete;

    void set(int k, int code) { control[k] = static_cast<float>(valueOfCode(controls[k], code)); }

    // Runs `frames` frames from `from` on, planar buffers as a host has them.
    void run(const std::vector<float>& in, std::vector<float>& out, int from, int frames) {
        std::vector<float> planarIn[2], planarOut[2];
        for (int c = 0; c < channels; ++c) {
            planarIn[c].resize(frames);
            planarOut[c].assign(frames, NAN);
            for (int i = 0; i < frames; ++i) planarIn[c][i] = in[(from + i) * channels + c];
            connectAudioInput(instance, c, planarIn[c].data());
            connectAudioOutput(instance, c, planarOut[c].data());
        }
        runInstance(instance, static_cast<uint32_t>(frames));
        for (int c = 0; c < channels; ++c)
            for (int i = 0; i < frames; ++i) out[(from + i) * channels + c] = planarOut[c][i];
    }

    // The whole input in blocks from `sizes`, repeated.
    std::vector<float> process(const std::vector<float>& in, std::vector<int> sizes) {
        const int total = static_cast<int>(in.size()) / channels;
        std::vector<float> out(in.size(), NAN);
        int done = 0;
        for (size_t s = 0; done < total; ++s) {
            int n = sizes[s % sizes.size()];
            if (n > total - done) n = total - done;
            run(in, out, done, n);
            done += n;
        }
        return out;
    }
};

// The player's way: an engine instance on 576-frame 16-bit blocks, with
// `change(block, engine)` called before each block after the first; or, with
// `full`, the same blocks through the engine's float path.
template <typename Change>
std::vector<float> player(const std::vector<float>& in, int channels, int rate,
                          const int32_t* codes, Change change, bool full = false) {
    auto e = std::make_unique<Engine>();
    engineInitialise(*e);
    EXPECT_TRUE(engineReserveWork(*e, blockFrames));
    StringFields fields;
    formatStrings(codes, fields);
    MultibandStrings strings;
    memcpy(&strings, &fields, sizeof strings);
    setAudioThreadActive(true);
    computeClassicCoefficients(*e, codes[cAmpMax], codes[cAmpUp], codes[cAmpDown], 1, rate);
    parseMultibandStrings(*e, strings, 3, rate, channels);
    EngineControls controls{};
    controls.enhance = static_cast<uint8_t>(codes[cEnhance]);
    controls.stereo_width = static_cast<uint8_t>(codes[cStereoWidth]);
    controls.hpcutoff = static_cast<uint8_t>(codes[cHpCutoff]);
    controls.threshold = static_cast<uint8_t>(codes[cThreshold]);
    controls.eq_enable = codes[cEqEnable];
    for (int b = 0; b < 3; ++b)
        controls.eq_bands[b] = {static_cast<uint16_t>(codes[cEqGain1 + b]),
                                static_cast<uint16_t>(codes[cEqFreq1 + b])};
    const int frames = static_cast<int>(in.size()) / channels;
    std::vector<float> out(in.size(), 0.0f);
    std::vector<int16_t> block(blockFrames * channels);
    std::vector<float> floats(blockFrames * channels);
    for (int start = 0, index = 0; start + blockFrames <= frames; start += blockFrames, ++index) {
        if (index > 0) change(index, *e, controls);
        for (int i = 0; i < blockFrames * channels; ++i) {
            block[i] = floatToSample(in[start * channels + i]);
            floats[i] = in[start * channels + i] * 32768.0f;
        }
        if (full)
            processBlockFloat(*e, controls, floats.data(), blockFrames, channels, rate);
        else
            processBlock(*e, controls, block.data(), blockFrames, channels, rate);
        for (int i = 0; i < blockFrames * channels; ++i)
            if ((start + blockFrames) * channels + i < static_cast<int>(out.size()))
                out[(start + blockFrames) * channels + i] =
                    full ? floats[i] / 32768.0f : sampleToFloat(block[i]);
    }
    setAudioThreadActive(false);
    engineReleaseWork(*e);
    return out;  // already shifted by one engine block
}

std::vector<float> player(const std::vector<float>& in, int channels, int rate, const int32_t* codes,
                          bool full = false) {
    return player(in, channels, rate, codes, [](int, Engine&, EngineControls&) {}, full);
}

int firstDifference(const std::vector<float>& a, const std::vector<float>& b) {
    if (a.size() != b.size()) return -2;
    for (size_t i = 0; i < a.size(); ++i)
        if (memcmp(&a[i], &b[i], sizeof(float)) != 0) return static_cast<int>(i);
    return -1;
}

}  // namespace

TEST(FloatInstance, SamplesRoundToNearestAndClampToSixteenBits) {
    EXPECT_EQ(floatToSample(0.0f), 0);
    EXPECT_EQ(floatToSample(0.5f), 16384);
    EXPECT_EQ(floatToSample(-1.0f), -32768);
    EXPECT_EQ(floatToSample(1.0f), 32767);
    EXPECT_EQ(floatToSample(7.5f), 32767);
    EXPECT_EQ(floatToSample(-7.5f), -32768);
    EXPECT_EQ(floatToSample(NAN), 0);
    EXPECT_EQ(floatToSample(INFINITY), 32767);
    EXPECT_EQ(floatToSample(-INFINITY), -32768);
    EXPECT_EQ(floatToSample(100.4f / 32768.0f), 100);
    EXPECT_EQ(floatToSample(100.6f / 32768.0f), 101);
    EXPECT_EQ(floatToSample(-100.6f / 32768.0f), -101);
    for (int s = -32768; s <= 32767; s += 97)
        EXPECT_EQ(floatToSample(sampleToFloat(static_cast<int16_t>(s))), s);
    EXPECT_EQ(sampleToFloat(-32768), -1.0f);
}

// full_resolution 0: the player's 16-bit blocks; 1 (the default): the same
// blocks through the engine's float path.
TEST(FloatInstance, OutputIsThePlayersDelayedByOneBlockInEveryModeAndLayout) {
    for (int full : {0, 1})
    for (int channels : {1, 2}) {
        for (int rate : {44100, 48000}) {
            for (int mode : {0, 1, 2}) {
                SCOPED_TRACE(testing::Message() << channels << " ch " << rate << " Hz mode " << mode
                                                << " full " << full);
                const std::vector<float> in = material(20000, channels);
                Host host(channels, rate);
                host.set(cFullResolution, full);
                int32_t codes[controlCount];
                defaultCodes(codes);
                codes[cEnhance] = mode;
                codes[cEqEnable] = mode == 0;
                codes[cEqGain2] = 80;
                host.set(cEnhance, codes[cEnhance]);
                host.set(cEqEnable, codes[cEqEnable]);
                host.set(cEqGain2, codes[cEqGain2]);
                const std::vector<float> out = host.process(in, {576});
                const std::vector<float> expected = player(in, channels, rate, codes, full != 0);
                // The player never sees the last partial block: compare what it wrote.
                const size_t compared = (20000 / blockFrames) * blockFrames * channels;
                std::vector<float> a(out.begin(), out.begin() + compared);
                std::vector<float> b(expected.begin(), expected.begin() + compared);
                EXPECT_EQ(firstDifference(a, b), -1);
                for (int i = 0; i < blockFrames * channels; ++i) ASSERT_EQ(out[i], 0.0f);
                // The engine did change the audio (the equalizer alone in mode 0).
                bool changed = false;
                for (size_t i = 0; i + blockFrames * channels < compared; ++i)
                    changed |= out[i + blockFrames * channels] != in[i];
                EXPECT_TRUE(changed);
            }
        }
    }
}

TEST(FloatInstance, HostBlockSizesDoNotChangeTheOutput) {
    for (int mode : {1, 2}) {
        const std::vector<float> in = material(15000, 2);
        std::vector<float> first;
        for (std::vector<int> sizes : std::vector<std::vector<int>>{
                 {576}, {1}, {37}, {4096}, {575, 1, 2, 1000, 13, 577}, {0, 300, 0, 1152}}) {
            Host host(2, 44100);
            host.set(cEnhance, mode);
            std::vector<float> out = host.process(in, sizes);
            if (first.empty())
                first = out;
            else
                EXPECT_EQ(firstDifference(out, first), -1) << "mode " << mode << " first size " << sizes[0];
        }
    }
}

TEST(FloatInstance, PortChangesTakeEffectAtTheNextEngineBlockThroughThePageRoutine) {
    const std::vector<float> in = material(12 * blockFrames, 2);
    int32_t codes[controlCount];
    defaultCodes(codes);

    // Classic enhancer: amp_max moves in the middle of engine block 3; the
    // page recomputes the coefficients (no reset) and block 4 runs with them.
    {
        Host host(2, 44100);
        host.set(cFullResolution, 0);
        std::vector<float> out(in.size());
        host.run(in, out, 0, 3 * blockFrames + 100);
        host.set(cAmpMax, 90);
        host.set(cThreshold, 50);
        host.run(in, out, 3 * blockFrames + 100, 9 * blockFrames - 100);
        const auto expected = player(in, 2, 44100, codes, [](int block, Engine& e, EngineControls& c) {
            if (block == 3) {  // the block the change landed in
                computeClassicCoefficients(e, 90, 70, 76, 0, 44100);
                c.threshold = 50;
            }
        });
        EXPECT_EQ(firstDifference(out, expected), -1);
    }

    // Multiband engine: a crossover re-parses with flags 1 (band gains back
    // to 1.0), a band slider with flags 0; the two differ, so a wrong flag
    // shows.
    codes[cEnhance] = 2;
    auto expectedWith = [&](int flags, int crossover1, int band2Threshold) {
        return player(in, 2, 44100, codes, [=](int block, Engine& e, EngineControls&) {
            if (block != 4) return;
            int32_t changed[controlCount];
            memcpy(changed, codes, sizeof changed);
            changed[cCrossover1] = crossover1;
            changed[cBand2Threshold] = band2Threshold;
            StringFields fields;
            formatStrings(changed, fields);
            MultibandStrings strings;
            memcpy(&strings, &fields, sizeof strings);
            parseMultibandStrings(e, strings, flags, 44100, 2);
        });
    };
    for (int crossover : {0, 1}) {
        Host host(2, 44100);
        host.set(cFullResolution, 0);
        host.set(cEnhance, 2);
        std::vector<float> out(in.size());
        host.run(in, out, 0, 4 * blockFrames + 7);
        if (crossover)
            host.set(cCrossover1, 500);
        else
            host.set(cBand2Threshold, 20);
        host.run(in, out, 4 * blockFrames + 7, 8 * blockFrames - 7);
        const auto right = crossover ? expectedWith(1, 500, 51) : expectedWith(0, 300, 20);
        const auto wrong = crossover ? expectedWith(0, 500, 51) : expectedWith(1, 300, 20);
        EXPECT_EQ(firstDifference(out, right), -1) << "crossover " << crossover;
        EXPECT_NE(firstDifference(right, wrong), -1) << "the flags must matter here";
    }

    // Switching into the multiband engine: its page's Enable parses with flags 2.
    {
        Host host(2, 44100);
        host.set(cFullResolution, 0);
        std::vector<float> out(in.size());
        host.run(in, out, 0, 2 * blockFrames);
        host.set(cEnhance, 2);
        host.run(in, out, 2 * blockFrames, 10 * blockFrames);
        int32_t start[controlCount];
        defaultCodes(start);
        const auto expected = player(in, 2, 44100, start, [&](int block, Engine& e, EngineControls& c) {
            if (block != 2) return;
            c.enhance = 2;
            StringFields fields;
            formatStrings(start, fields);
            MultibandStrings strings;
            memcpy(&strings, &fields, sizeof strings);
            parseMultibandStrings(e, strings, 2, 44100, 2);
        });
        EXPECT_EQ(firstDifference(out, expected), -1);
    }
}

TEST(FloatInstance, InstancesAreIndependent) {
    const std::vector<float> in = material(10000, 2);
    Host alone1(2, 44100), alone2(2, 44100);
    alone1.set(cEnhance, 1);
    alone2.set(cEnhance, 2);
    alone2.set(cAgc, 1);
    const auto expected1 = alone1.process(in, {256});
    const auto expected2 = alone2.process(in, {256});

    Host a(2, 44100), b(2, 44100);
    a.set(cEnhance, 1);
    b.set(cEnhance, 2);
    b.set(cAgc, 1);
    std::vector<float> outA(in.size()), outB(in.size());
    for (int from = 0; from < 10000; from += 256) {
        const int n = from + 256 <= 10000 ? 256 : 10000 - from;
        a.run(in, outA, from, n);
        b.run(in, outB, from, n);
    }
    EXPECT_EQ(firstDifference(outA, expected1), -1);
    EXPECT_EQ(firstDifference(outB, expected2), -1);
}

TEST(FloatInstance, LatencyIsWhereAnImpulseComesOut) {
    // The multiband engine delays by D = rate / 100 frames in its band split
    // and again in its limiter; the classic chain only looks ahead inside the
    // block. Settings that pass the audio unchanged but for these delays: no
    // band gain, one band, no level or stereo change, no soft clip, and a
    // limiter whose curve leaves a half-scale impulse alone.
    for (int rate : {44100, 48000}) {
        for (int split : {0, 1}) {
            for (int limiter : {0, 1}) {
                SCOPED_TRACE(testing::Message() << rate << " Hz split " << split << " limiter " << limiter);
                Host host(1, rate);
                std::vector<float> silence(1, 0.0f), out(1);
                host.run(silence, out, 0, 0);  // hosts read the latency after an empty run
                EXPECT_EQ(host.readout[rLatency], 576.0f);
                host.set(cEnhance, 2);
                host.set(cSplit, split);
                host.set(cCrossover1, 0);
                host.set(cBand1MaxAmp, 0);
                host.set(cBand1Threshold, 100);
                host.set(cDrive, 20);
                host.set(cSoftClip, 0);
                host.set(cLimiterOn, limiter);
                host.set(cLimThreshold, 300);
                host.run(silence, out, 0, 0);
                const int latency = static_cast<int>(host.readout[rLatency]);
                EXPECT_EQ(latency, 576 + (split + limiter) * multibandDelayFrames(rate, 1));

                std::vector<float> in(6 * blockFrames, 0.0f);
                in[100] = 0.5f;
                const std::vector<float> result = host.process(in, {128});
                int peak = -1;
                for (int i = 0; i < static_cast<int>(result.size()); ++i)
                    if (std::fabs(result[i]) > 0.25f) peak = i;
                EXPECT_EQ(peak, 100 + latency);
            }
        }
    }
}

TEST(FloatInstance, ReadoutsFollowTheEngine) {
    const std::vector<float> quiet = material(30 * blockFrames, 2);
    Host classic(2, 44100);
    classic.process(quiet, {1024});
    EXPECT_GT(classic.readout[rClassicGain], 1.0f);
    EXPECT_LE(classic.readout[rClassicGain], 6.04f);

    Host multiband(2, 44100);
    multiband.set(cEnhance, 2);
    multiband.set(cAgc, 1);
    multiband.process(quiet, {1024});
    bool moved = false;
    for (int b = 0; b < 3; ++b) moved |= multiband.readout[rBandGain1 + b] != 1.0f;
    EXPECT_TRUE(moved);
    EXPECT_GE(multiband.readout[rAgcGainLeft], 0.0f);
    EXPECT_LE(multiband.readout[rAgcGainLeft], 12.05f);
    EXPECT_EQ(multiband.readout[rLatency], 576.0f + 2 * 441.0f);  // band split and limiter

    // The output stage's lookahead while either of its switches is on.
    Host staged(2, 48000);
    staged.set(cTpLimit, 1);
    staged.process(quiet, {1024});
    EXPECT_EQ(staged.readout[rLatency], 576.0f + 96.0f);
}

TEST(FloatInstance, UnconnectedControlsKeepTheirDefaults) {
    const std::vector<float> in = material(6000, 2);
    Host connected(2, 44100);
    const auto expected = connected.process(in, {512});
    Host bare(2, 44100);
    for (int k = 0; k < controlCount; ++k) connectControl(bare.instance, k, nullptr);
    EXPECT_EQ(firstDifference(bare.process(in, {512}), expected), -1);
}

TEST(FloatInstance, RatesTheEngineDoesNotTakePassThroughDelayed) {
    for (double rate : {192000.0, 44100.5}) {
        const std::vector<float> in = material(3000, 2);
        Host host(2, rate);
        const auto out = host.process(in, {100});
        for (int i = 0; i < 3000 * 2; ++i)
            ASSERT_EQ(out[i], i < 576 * 2 ? 0.0f : in[i - 576 * 2]) << rate << " at " << i;
    }
    EXPECT_EQ(createInstance(3, 44100), nullptr);
    EXPECT_EQ(createInstance(0, 44100), nullptr);
}

TEST(FloatInstance, ResetStartsOverAsANewInstance) {
    const std::vector<float> in = material(8000, 2);
    Host host(2, 44100);
    host.set(cEnhance, 2);
    const auto first = host.process(in, {300});
    EXPECT_TRUE(resetInstance(host.instance));
    EXPECT_EQ(firstDifference(host.process(in, {300}), first), -1);
}

TEST(FloatInstance, WildPortValuesAndAudioStayDefined) {
    Host host(2, 96000);
    for (int k = 0; k < controlCount; ++k) host.control[k] = (k % 3 == 0) ? NAN : (k % 3 == 1 ? 1e30f : -1e30f);
    std::vector<float> in = material(3000, 2);
    for (size_t i = 0; i < in.size(); i += 7) in[i] = (i % 2) ? INFINITY : NAN;
    const auto out = host.process(in, {333});
    for (float v : out) {
        ASSERT_TRUE(std::isfinite(v));
        ASSERT_LE(std::fabs(v), 1.0f);
    }
}

TEST(FloatInstance, EveryInputSampleIsConvertedAsFloatToSampleSays) {
    // Mode 0 without the equalizer leaves the engine block alone, so the
    // output is the input's 16-bit conversion, 576 frames later: values off
    // the 16-bit grid, halfway cases, out of range and not-a-number, in runs
    // of every length so that both the four-frame and the single-frame paths
    // are taken.
    for (int channels : {1, 2}) {
        std::vector<float> in(5000 * channels);
        uint32_t state = 99;
        for (size_t i = 0; i < in.size(); ++i) {
            state = state * 1664525u + 1013904223u;
            const float r = static_cast<float>((state >> 8) / 8388608.0 - 1.0);
            switch (i % 11) {
            case 0: in[i] = (std::floor(r * 32768.0f) + 0.5f) / 32768.0f; break;  // halfway
            case 1: in[i] = r * 3.0f; break;
            case 2: in[i] = i % 3 ? NAN : -INFINITY; break;
            default: in[i] = r; break;
            }
        }
        for (int full : {0, 1}) {
            Host host(channels, 44100);
            host.set(cEnhance, 0);
            host.set(cFullResolution, full);
            const auto out = host.process(in, {1, 2, 3, 4, 5, 6, 7, 8, 64, 333});
            // At full resolution the engine, off, passes every value unchanged.
            for (size_t i = 576 * channels; i < out.size(); ++i) {
                const float x = in[i - 576 * channels];
                if (full)
                    ASSERT_TRUE(memcmp(&out[i], &x, sizeof x) == 0) << channels << " ch at " << i;
                else
                    ASSERT_EQ(out[i], sampleToFloat(floatToSample(x))) << channels << " ch at " << i;
            }
        }
    }
}

// Music at normal level: the full-resolution output differs from the 16-bit
// path's by that path's own truncations, and where the classic chain's gain
// overshoots, by its clamp at +-32766, which the float path leaves to the host
// (compared here with that clamp applied). The 16-bit path truncates its last
// product (below a step: about -95 dB r.m.s. re full scale) and, with stereo
// widening, the widening's quotient ahead of the gain, which lifts that too.
TEST(FloatInstance, FullResolutionStaysWithinAResidualOfTheSixteenBitPath) {
    const float limit = 32766.0f / 32768.0f;
    const std::vector<float> in = material(40000, 2, 1, 0.3);
    struct Case {
        int mode, width;
        double maxRmsDb, maxPeakSteps;
    } const cases[] = {{1, 20, -88.0, 6.0}, {1, 0, -94.0, 1.0}, {2, 20, -94.0, 1.0}};
    for (const Case& c : cases) {
        Host fixed(2, 44100), full(2, 44100);
        for (Host* h : {&fixed, &full}) {
            h->set(cEnhance, c.mode);
            h->set(cStereoWidth, c.width);
        }
        fixed.set(cFullResolution, 0);
        const auto a = fixed.process(in, {576});
        const auto b = full.process(in, {576});
        double sum = 0.0, peak = 0.0;
        for (size_t i = 0; i < a.size(); ++i) {
            const double d = static_cast<double>(std::clamp(b[i], -limit, limit)) - a[i];
            sum += d * d;
            peak = std::max(peak, std::fabs(d));
        }
        const double rmsDb = 10.0 * std::log10(sum / a.size() + 1e-30);
        SCOPED_TRACE(testing::Message() << "mode " << c.mode << " width " << c.width);
        EXPECT_LT(rmsDb, c.maxRmsDb);
        EXPECT_GT(peak, 0.0) << "the float path must not round";
        EXPECT_LE(peak * 32768.0, c.maxPeakSteps);
    }
}

TEST(FloatInstance, LeavingTheMultibandEngineResetsItsStateOnlyOnTheWayToOff) {
    // From the multiband engine to off is its page's "Enable" (a parse with
    // flags 2, which also puts the AGC gains back to 1.0); to the classic
    // enhancer is the Enhancer 1 page's "Enable", which leaves them.
    const std::vector<float> quiet = material(40 * blockFrames, 2);
    for (int target : {0, 1}) {
        Host host(2, 44100);
        host.set(cEnhance, 2);
        host.set(cAgc, 1);
        std::vector<float> out(quiet.size());
        host.run(quiet, out, 0, 30 * blockFrames);
        const float agc = host.readout[rAgcGainLeft];
        ASSERT_GT(agc, 0.5f) << "the AGC must have raised its gain for this test";
        host.set(cEnhance, target);
        host.run(quiet, out, 30 * blockFrames, 2 * blockFrames);
        if (target == 0)
            EXPECT_EQ(host.readout[rAgcGainLeft], 0.0f);
        else
            EXPECT_EQ(host.readout[rAgcGainLeft], agc);
    }
}
