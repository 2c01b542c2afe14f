// The multiband processor end to end: delays, gain computers, solo, level,
// stereo, soft clip, limiter, read-outs, traces and its sound behaviour at
// the edges (low rates, failed buffers, runaway settings).
#include <atomic>
#include <cmath>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "dsp/multiband.h"
#include "dsp/multiband_strings.h"
#include "tests/test_support.h"

namespace {

const char* const neutralMulti1 = "----f00000f00000f00000------------l020s020";
const char* const standardMulti1 = "m---f00300f03000f00000------------l020s025";
const char* const standardMulti2 =
    "----m067u051d088t046m067u051d085t051m045u051d085t012m022u058d085t009----------------";
const char* const standardLimiter = "l-s---th240re040ce300kn055ra201at025ho000";
const char* const limiterOff = "------th240re040ce300kn055ra201at025ho000";
const char* const limiterOnly = "l-----th240re040ce300kn055ra201at025ho000";

void set_field(char* field, size_t size, const std::string& text) {
    ASSERT_LT(text.size(), size);
    memcpy(field, text.c_str(), text.size() + 1);
}

// Sets the strings and the stream rate and brings the parse to the engine.
void configure(const std::string& m1, const std::string& m2, const std::string& lim, int rate,
               int flags = 3) {
    set_field(settings.strings.enh_multi1, sizeof settings.strings.enh_multi1, m1);
    set_field(settings.strings.enh_multi2, sizeof settings.strings.enh_multi2, m2);
    set_field(settings.strings.enh_limiter, sizeof settings.strings.enh_limiter, lim);
    settings.sample_rate = rate;
    parseMultibandStrings(flags, rate, 0);
    adoptEngineParameters();
}

using Block = std::vector<int16_t>;

Block sine(int frames, int channels, double amplitude, double hz, int rate, long start = 0) {
    Block b(static_cast<size_t>(frames) * channels);
    for (int f = 0; f < frames; ++f)
        for (int c = 0; c < channels; ++c)
            b[f * channels + c] = static_cast<int16_t>(
                std::lrint(32767 * amplitude * std::sin(2 * M_PI * hz * (start + f) / rate)));
    return b;
}

Block noise(int frames, int channels, double amplitude, std::mt19937& rng) {
    std::uniform_real_distribution<double> dist(-amplitude, amplitude);
    Block b(static_cast<size_t>(frames) * channels);
    for (int16_t& s : b) s = static_cast<int16_t>(std::lrint(32767 * dist(rng)));
    return b;
}

void process(Block& b, int channels) {
    processMultiband(b.data(), static_cast<int>(b.size()) / channels, channels);
}

int peak(const Block& b) {
    int p = 0;
    for (int16_t s : b) p = std::max(p, std::abs(static_cast<int>(s)));
    return p;
}

class MultibandProcessor : public EngineTest {};

TEST_F(MultibandProcessor, NeutralChainLosesAtMostOneStep) {
    configure(neutralMulti1, standardMulti2, limiterOff, 44100);
    Block b(65536);
    for (int i = 0; i < 65536; ++i) b[i] = static_cast<int16_t>(i - 32768);
    const Block in = b;
    process(b, 1);
    int lost = 0;
    for (int i = 0; i < 65536; ++i) {
        const int x = in[i], y = b[i];
        if (x == -32768) {
            EXPECT_EQ(y, -32767);
            continue;
        }
        const int toward = x > 0 ? x - 1 : (x < 0 ? x + 1 : 0);
        ASSERT_TRUE(y == x || y == toward) << x << " -> " << y;
        lost += y != x;
    }
    EXPECT_GT(lost, 65536 * 3 / 10);
    EXPECT_LT(lost, 65536 * 7 / 10);
}

TEST_F(MultibandProcessor, SilenceInGivesSilenceOutOnceSettled) {
    std::mt19937 rng(1);
    for (int preset : {0, 24, 25}) {
        SCOPED_TRACE(preset);
        settings_reset_to_load_state();
        settings_initialise();
        if (preset != 0) loadMultibandPreset(preset);
        configure(settings.strings.enh_multi1, settings.strings.enh_multi2,
                  settings.strings.enh_limiter, 44100);
        for (int k = 0; k < 40; ++k) {
            Block b = noise(576, 2, 0.9, rng);
            process(b, 2);
        }
        int last = 0;
        for (int k = 0; k < 80; ++k) {
            Block b(576 * 2, 0);
            process(b, 2);
            if (k >= 40) last = std::max(last, peak(b));
        }
        EXPECT_EQ(last, 0);
    }
}

TEST_F(MultibandProcessor, SingleBandIsTheInputDelayedByTenMilliseconds) {
    // Band 1 with max amp 0 and threshold 100: its gain stays 1.0. Crossover
    // 1 off ends the chain whatever crossover 2 says.
    const std::string m1 = "m---f00000f03000f00000------------l020s020";
    const std::string m2 =
        "----m000u050d050t100m067u051d085t051m045u051d085t012m022u058d085t009----------------";
    for (int rate : {44100, 48000}) {
        settings_reset_to_load_state();
        configure(m1, m2, limiterOff, rate);
        const int D = rate / 100;
        std::mt19937 rng(2);
        Block all;
        Block out;
        for (int k = 0; k < 6; ++k) {
            Block b = noise(300, 2, 0.5, rng);
            all.insert(all.end(), b.begin(), b.end());
            process(b, 2);
            out.insert(out.end(), b.begin(), b.end());
        }
        for (size_t i = 0; i < out.size(); ++i) {
            const int expected = i < static_cast<size_t>(2 * D) ? 0 : all[i - 2 * D];
            ASSERT_LE(std::abs(out[i] - expected), 1) << rate << " " << i;
        }
        EXPECT_EQ(settings.engine.multiband.bandGains[0], 1.0);
    }
}

TEST_F(MultibandProcessor, LimiterMakesMinusTwelveDbMinusSixAndHoldsFullScale) {
    for (int channels = 1; channels <= 2; ++channels) {
        settings_reset_to_load_state();
        configure(neutralMulti1, standardMulti2, limiterOnly, 44100);
        int quietPeak = 0;
        for (int k = 0; k < 100; ++k) {
            Block b = sine(576, channels, 0.25, 997, 44100, 576L * k);
            process(b, channels);
            if (k > 50) quietPeak = std::max(quietPeak, peak(b));
        }
        EXPECT_NEAR(20 * std::log10(quietPeak / 32767.0), -6.02, 0.05);

        int loudPeak = 0;
        for (int k = 0; k < 100; ++k) {
            Block b = sine(576, channels, 1.0, 997, 44100, 576L * k);
            process(b, channels);
            if (k > 50) loudPeak = std::max(loudPeak, peak(b));
        }
        EXPECT_GE(loudPeak, 32600);
        EXPECT_LE(loudPeak, 32767);
    }
}

TEST_F(MultibandProcessor, InfiniteRatioNeverPassesTheCeiling) {
    std::mt19937 rng(4);
    const char* ceilings[] = {"270", "300", "150"};
    for (const char* ce : ceilings) {
        const std::string lim = std::string("l-----th240re040ce") + ce + "kn055ra201at025ho000";
        const double limit = 32767 * std::pow(10.0, (std::atoi(ce) - 300) / 10.0 / 20.0) + 1;
        settings_reset_to_load_state();
        configure("m---f00300f03000f00000------------l040s040", standardMulti2, lim, 48000);
        for (int k = 0; k < 60; ++k) {
            Block b = noise(480, 2, 1.0, rng);
            process(b, 2);
            ASSERT_LE(peak(b), limit) << ce;
        }
    }
}

// Runs one block from a saved state and returns the output.
Block run_from(const PluginSettings& saved, const Block& in, uint16_t solo) {
    settings = saved;
    settings.engine.multiband.soloBand = solo;
    Block b = in;
    process(b, 2);
    return b;
}

TEST_F(MultibandProcessor, SoloPicksOneBandAndTheBandsSumToTheWhole) {
    configure(standardMulti1, standardMulti2, limiterOff, 44100);
    std::mt19937 rng(5);
    for (int k = 0; k < 20; ++k) {
        Block b = noise(576, 2, 0.3, rng);
        process(b, 2);
    }
    auto saved = std::make_unique<PluginSettings>(settings);
    const Block in = noise(576, 2, 0.3, rng);
    const Block whole = run_from(*saved, in, 0);
    const Block one = run_from(*saved, in, 1), two = run_from(*saved, in, 2),
                three = run_from(*saved, in, 3);
    double worst = 0;
    for (size_t i = 0; i < in.size(); ++i)
        worst = std::max(worst, std::fabs(double(whole[i]) - (one[i] + two[i] + three[i])));
    EXPECT_LE(worst, 3.0);  // stereo 10 % is linear; each output truncates once
    EXPECT_GT(peak(two), 100);
    EXPECT_NE(one, two);
    // Values beyond 4 mean no solo; band 4 of a three-band setting is silent.
    EXPECT_EQ(run_from(*saved, in, 9), whole);
    EXPECT_EQ(peak(run_from(*saved, in, 4)), 0);
}

TEST_F(MultibandProcessor, InputAgcFollowsTheSignedSample) {
    configure("-a--f00000f00000f00000------------l020s020", standardMulti2, limiterOff, 44100);
    EXPECT_EQ(settings.engine.multiband.agcGains[0], 1.0);
    Block quiet(576 * 2, 3277);
    process(quiet, 2);
    EXPECT_NEAR(settings.engine.multiband.agcGains[0], 1.0 + 576 * 0.000004, 1e-12);
    EXPECT_NEAR(settings.engine.multiband.agcGains[1], 1.0 + 576 * 0.000004, 1e-12);
    // Loud negative samples raise it as well.
    Block negative(576 * 2, -30000);
    process(negative, 2);
    EXPECT_NEAR(settings.engine.multiband.agcGains[0], 1.0 + 1152 * 0.000004, 1e-12);
    // Left loud and positive: falls by 0.004 per sample, not below 1.0;
    // right stays quiet and keeps rising.
    Block mixed(576 * 2);
    for (int f = 0; f < 576; ++f) {
        mixed[2 * f] = 29491;  // 0.9
        mixed[2 * f + 1] = 100;
    }
    process(mixed, 2);
    EXPECT_EQ(settings.engine.multiband.agcGains[0], 1.0);
    EXPECT_NEAR(settings.engine.multiband.agcGains[1], 1.0 + 1728 * 0.000004, 1e-12);
    // Mono moves only the first gain.
    const double right = settings.engine.multiband.agcGains[1];
    const double left = settings.engine.multiband.agcGains[0];
    Block mono(576, 3277);
    process(mono, 1);
    EXPECT_NEAR(settings.engine.multiband.agcGains[0], left + 576 * 0.000004, 1e-12);
    EXPECT_EQ(settings.engine.multiband.agcGains[1], right);
    settings.engine.multiband.agcGains[0] = 1.0;
    // The gain is applied before it is updated, and caps at 4.0.
    settings.engine.multiband.agcGains[0] = 3.9999999;
    Block small(576 * 2, 1000);
    process(small, 2);
    EXPECT_EQ(settings.engine.multiband.agcGains[0], 4.0);
    EXPECT_EQ(small[0], static_cast<int16_t>(32767.0 * static_cast<float>(
                                                           static_cast<float>(1000 / 32767.0) *
                                                           3.9999999)));
}

TEST_F(MultibandProcessor, StereoWidthAndLevel) {
    configure("----f00000f00000f00000------------l020s000", standardMulti2, limiterOff, 44100);
    Block b = {32767, 0, 0, 16384};
    process(b, 2);
    EXPECT_EQ(b[0], 32767);
    EXPECT_EQ(b[1], 13106);  // 0.4 of the other channel added
    EXPECT_EQ(b[2], 6553);
    EXPECT_EQ(b[3], 16383);

    // Level 1.5 and +40 %: every output within one truncation step of the
    // exact value, never beyond it.
    configure("----f00000f00000f00000------------l040s040", standardMulti2, limiterOff, 44100);
    Block c = {10000, 0, -4000, 4000};
    process(c, 2);
    const double exact[4] = {15000, -6000, -8400, 8400};
    for (int i = 0; i < 4; ++i) {
        EXPECT_LE(std::fabs(c[i] - exact[i]), 1.0) << i;
        EXPECT_LE(std::abs(c[i]), std::fabs(exact[i]) + 0.01) << i;
    }
    Block m = {-10000};
    process(m, 1);  // mono: level only
    EXPECT_LE(std::abs(m[0] + 15000), 1);
}

TEST_F(MultibandProcessor, BandReadoutsOnlyWhileAsked) {
    configure(standardMulti1, standardMulti2, limiterOff, 44100);
    Block b(576 * 2, 100);
    process(b, 2);
    EXPECT_EQ(settings.engine.multiband.bandGainReadouts[0], 1.0f);  // the reset's value
    settings.engine.multiband.bandReadoutsOn = 1;
    const double before = settings.engine.multiband.bandGains[0];
    process(b, 2);
    const double up = settings.engine.engineMultiband.bands[0].upStep;
    // Quiet input: the gain climbs every frame; the average lies half way.
    EXPECT_NEAR(settings.engine.multiband.bandGains[0], before + 576 * up, 1e-4);
    EXPECT_NEAR(settings.engine.multiband.bandGainReadouts[0], before + 288.5 * up, 1e-4);
    EXPECT_GT(settings.engine.multiband.bandGainReadouts[2], 1.0f);
    EXPECT_EQ(settings.engine.multiband.bandGainReadouts[3], 1.0f);  // band 4 inactive

    // A block of 0 frames changes nothing.
    const MultibandState state = settings.engine.multiband;
    processMultiband(b.data(), 0, 2);
    EXPECT_EQ(memcmp(&state, &settings.engine.multiband, sizeof state), 0);
}

TEST_F(MultibandProcessor, GainComputerPullsDownAheadOfALoudPassage) {
    const float up = 0.0001f, down = 0.01f;
    std::vector<float> p(1000 + 441, 0.01f);
    for (size_t i = 700; i < p.size(); ++i) p[i] = 0.9f;
    float readout = 0.0f;
    const float g = computeBandGain(p.data(), 1000, 1, 2.0f, up, down, 2.0f, 0.595f, &readout);
    // Up to frame 549 the gain sits at its ceiling; from 550 the passage 150
    // frames ahead pulls it down step by step until g * 0.9 <= 0.595.
    EXPECT_FLOAT_EQ(p[549], 0.02f);
    EXPECT_FLOAT_EQ(p[551], 0.01f * (2.0f - down));
    EXPECT_LT(p[700], 0.595f + 0.01f);
    EXPECT_NEAR(g, 0.595 / 0.9, 0.011);
    EXPECT_LT(readout, 2.0f);
    EXPECT_GT(readout, 1.0f);
    // A single sample 150 frames ahead moves the gain by one step only.
    std::vector<float> q(1000 + 441, 0.01f);
    q[700] = 0.9f;
    EXPECT_NEAR(computeBandGain(q.data(), 1000, 1, 2.0f, up, down, 2.0f, 0.595f, nullptr), 2.0f,
                1e-6);
    EXPECT_FLOAT_EQ(q[551], 0.01f * 1.99f);
    // Stereo: one gain for both channels, from the louder one.
    std::vector<float> st(2 * (200 + 150), 0.01f);
    st[2 * 150 + 1] = 0.9f;
    computeBandGain(st.data(), 400, 2, 1.0f, up, down, 1.0f, 0.5f, nullptr);
    EXPECT_FLOAT_EQ(st[2], 0.01f * 0.99f);
    EXPECT_FLOAT_EQ(st[3], 0.01f * 0.99f);
}

TEST_F(MultibandProcessor, GainComputerClimbsAndKeepsItsCeilingAtTheBlockEnd) {
    // Quiet input at 44100 Hz, u = 051: from 1.0 to a ceiling of 7.03 in about
    // 194,000 frames (4.4 s). The samples are a power of two, so each scaled
    // sample shows the gain of its frame exactly.
    const float x = 1.0f / 1024;
    const int frames = 200000;
    std::vector<float> p(frames + 150, x);
    const float g = computeBandGain(p.data(), frames, 1, 1.0f, 0.0000310608f, 0.0056f, 7.03f,
                                    0.595f, nullptr);
    EXPECT_EQ(g, 7.03f);
    int reached = -1;
    for (int i = 1; i < frames && reached < 0; ++i)
        if (p[i] / x >= 7.03f) reached = i;
    ASSERT_GT(reached, 0);
    EXPECT_NEAR(reached, 194000, 1940);
    EXPECT_NEAR(reached / 44100.0, 4.4, 0.05);

    // A gain above the ceiling (after a parse lowered max amp) scales the
    // whole block and is cut to the ceiling only when the block ends.
    std::vector<float> q(100 + 150, x);
    EXPECT_EQ(computeBandGain(q.data(), 100, 1, 3.0f, 0.001f, 0.01f, 1.5f, 0.595f, nullptr),
              1.5f);
    for (int i = 0; i < 100; ++i) ASSERT_EQ(q[i], 3.0f * x) << i;
}

TEST_F(MultibandProcessor, ZeroSamplesEnterAsTheSmallSubstitute) {
    // The limiter input trace shows the converted samples of a neutral chain:
    // a zero sample enters as 1e-8, every other one as s / 32767.
    configure(neutralMulti1, standardMulti2, limiterOff, 44100);
    auto trace = std::make_unique<TraceBuffer>();
    attachTraceBuffer(trace.get());
    Block b = {0, 0, 16384, -1, 0, 32767};
    process(b, 2);
    detachTraceBuffer();
    EXPECT_EQ(trace->values[1000], 1e-8f);
    EXPECT_EQ(trace->values[1001], static_cast<float>(16384 / 32767.0));
    EXPECT_EQ(trace->values[1002], 1e-8f);
    EXPECT_EQ(trace->values[1003], 0.0f);  // beyond the block: untouched
    EXPECT_EQ(b[0], 0);
    EXPECT_EQ(b[1], 0);
}

TEST_F(MultibandProcessor, LowRatesNeverLookPastTheBuffer) {
    // Below 15000 Hz the delay is shorter than the 150-frame lookahead; the
    // address sanitizer build checks every read of this test.
    std::mt19937 rng(6);
    for (int rate : {8000, 11025, 100, 1}) {
        for (int channels = 1; channels <= 2; ++channels) {
            settings_reset_to_load_state();
            configure(standardMulti1, standardMulti2, standardLimiter, rate);
            double lowest = 10.0;
            for (int k = 0; k < 20; ++k) {
                Block b = noise(k % 2 ? 7 : 300, channels, 0.9, rng);
                process(b, channels);
                for (int16_t s : b) ASSERT_GE(s, -32767);
                lowest = std::min(lowest, settings.engine.multiband.bandGains[1]);
            }
            // A loud signal still pulls the gain below its ceiling.
            if (rate >= 8000) {
                EXPECT_LT(lowest, settings.engine.engineMultiband.bands[1].maxGain - 0.5);
            }
        }
    }
}

TEST_F(MultibandProcessor, UnobtainableBuffersLeaveBlockAndStateAlone) {
    configure(standardMulti1, standardMulti2, standardLimiter, 44100);
    std::mt19937 rng(7);
    for (int k = 0; k < 5; ++k) {
        Block b = noise(576, 2, 0.5, rng);
        process(b, 2);
    }
    auto before = std::make_unique<PluginSettings>(settings);
    Block b = noise(576, 2, 0.5, rng);
    const Block in = b;
    // The first buffer, or a later one after some were obtained.
    for (int failing : {1, 3, 5}) {
        multibandFailAfter = failing - 1;
        process(b, 2);
        EXPECT_EQ(b, in);
    }
    multibandFailAfter = -1;
    EXPECT_EQ(memcmp(&before->engine.multiband, &settings.engine.multiband, sizeof before->engine.multiband), 0);
    EXPECT_EQ(memcmp(before->engine.limiterHistory, settings.engine.limiterHistory,
                     sizeof settings.engine.limiterHistory), 0);
    EXPECT_EQ(memcmp(&before->engine.limiterState, &settings.engine.limiterState,
                     sizeof settings.engine.limiterState), 0);
    process(b, 2);
    EXPECT_NE(b, in);  // the next block is processed again
}

TEST_F(MultibandProcessor, OutputConversionIsDefinedForEveryValue) {
    EXPECT_EQ(multibandOutputSample(NAN), 0);
    EXPECT_EQ(multibandOutputSample(INFINITY), 32767);
    EXPECT_EQ(multibandOutputSample(-INFINITY), -32767);
    EXPECT_EQ(multibandOutputSample(1e30f), 32767);
    EXPECT_EQ(multibandOutputSample(-1e30f), -32767);
    EXPECT_EQ(multibandOutputSample(-32768 / 32767.0f), -32767);
    EXPECT_EQ(multibandOutputSample(0.5f), 16383);
    EXPECT_EQ(multibandOutputSample(-0.5f), -16383);
    EXPECT_EQ(multibandOutputSample(1e-8f), 0);
}

TEST_F(MultibandProcessor, RunawayCrossoverRecoversOnceMended) {
    // A crossover far above half the rate makes its section run away.
    configure("m---f30000f00000f00000------------l020s020", standardMulti2, standardLimiter,
              44100);
    bool ranAway = false;
    for (int k = 0; k < 400; ++k) {
        Block b = sine(576, 2, 0.5, 440, 44100, 576L * k);
        process(b, 2);
        ranAway = ranAway || !std::isfinite(settings.engine.multiband.bandHistories[1][0]);
    }
    ASSERT_TRUE(ranAway);
    configure(standardMulti1, standardMulti2, standardLimiter, 44100, 0);
    int last = 0, crossings = 0;
    for (int k = 0; k < 200; ++k) {
        Block b = sine(576, 2, 0.5, 440, 44100, 576L * k);
        process(b, 2);
        if (k > 150) {
            last = std::max(last, peak(b));
            for (size_t i = 2; i < b.size(); i += 2) crossings += (b[i] < 0) != (b[i - 2] < 0);
        }
    }
    // The tone is back: loud and crossing zero 880 times a second.
    EXPECT_GT(last, 5000);
    EXPECT_NEAR(crossings, 880.0 * 48 * 576 / 44100, 20);
    EXPECT_TRUE(std::isfinite(settings.engine.limiterState.envelope[0]));
}

TEST_F(MultibandProcessor, RandomStringsAndSignalsStayBounded) {
    std::mt19937 rng(8);
    const std::string alphabet = "0123456789-mash lLS.enaif+x";
    auto random_text = [&](size_t length) {
        std::string s(length, ' ');
        for (char& c : s) c = alphabet[rng() % alphabet.size()];
        return s;
    };
    const int rates[] = {0, 1, 50, 8000, 11025, 22050, 44100, 48000, 96000};
    parseMultibandStrings(3, 44100, 2);
    adoptEngineParameters();
    for (int round = 0; round < 150; ++round) {
        set_field(settings.strings.enh_multi1, 50, random_text(42));
        set_field(settings.strings.enh_multi2, 90, random_text(84));
        set_field(settings.strings.enh_limiter, 60, random_text(41));
        if (round % 3 == 0) settings.strings.enh_multi1[0] = 'm';
        if (round % 4 == 0) settings.strings.enh_limiter[0] = 'l';
        const int rate = rates[rng() % 9];
        settings.sample_rate = rate;
        settings.engine.multiband.soloBand = static_cast<uint16_t>(rng() % 7);
        parseMultibandStrings(static_cast<int>(rng() % 5) - 1, rate, 0);
        adoptEngineParameters();
        const int channels = 1 + static_cast<int>(rng() % 2);
        for (int k = 0; k < 3; ++k) {
            Block b = noise(static_cast<int>(rng() % 1500), channels, (rng() % 100) / 50.0, rng);
            process(b, channels);
            for (int16_t s : b) ASSERT_GE(s, -32767);
        }
        const MultibandState& s = settings.engine.multiband;
        for (double g : s.agcGains) ASSERT_TRUE(g >= 1.0 && g <= 4.0) << g;
        for (double g : s.bandGains) ASSERT_TRUE(std::isfinite(g)) << g;
        for (float v : settings.engine.limiterState.envelope) ASSERT_TRUE(std::isfinite(v));
    }
}

TEST_F(MultibandProcessor, TracesRenewTheirFirstPointsEachBlock) {
    configure(standardMulti1, standardMulti2, standardLimiter, 44100);
    auto trace = std::make_unique<TraceBuffer>();
    for (float& v : trace->values) v = -5.0f;
    attachTraceBuffer(trace.get());
    Block b = sine(576, 2, 0.8, 1000, 44100);
    process(b, 2);
    // 576 frames: the input trace gets 576 points; the limiter traces 576 - 441.
    EXPECT_NE(trace->values[1000], -5.0f);
    EXPECT_NE(trace->values[1575], -5.0f);
    EXPECT_EQ(trace->values[1576], -5.0f);
    EXPECT_NE(trace->values[134], -5.0f);
    EXPECT_EQ(trace->values[135], -5.0f);
    EXPECT_NE(trace->values[2134], -5.0f);
    EXPECT_EQ(trace->values[2135], -5.0f);
    for (int i = 0; i < 135; ++i) {
        EXPECT_GE(trace->values[2000 + i], std::fabs(trace->values[i]) - 1e-6f);
        EXPECT_LE(std::fabs(trace->values[i]), 1.0f);
    }
    detachTraceBuffer();
    for (float& v : trace->values) v = -5.0f;
    process(b, 2);
    for (float v : trace->values) ASSERT_EQ(v, -5.0f);
}

TEST_F(MultibandProcessor, TraceBufferHandOverUnderLoad) {
    configure(standardMulti1, standardMulti2, standardLimiter, 44100);
    std::atomic<int> blocks{0};
    std::atomic<bool> stop{false};
    std::thread audio([&] {
        Block b(64 * 2);
        while (!stop.load()) {
            for (size_t i = 0; i < b.size(); ++i) b[i] = static_cast<int16_t>((i * 977) % 20000);
            processMultiband(b.data(), 64, 2);
            blocks.fetch_add(1);
        }
    });
    for (int round = 0; round < 300; ++round) {
        TraceBuffer* trace = new TraceBuffer{};
        attachTraceBuffer(trace);
        const int seen = blocks.load();
        while (blocks.load() < seen + 1 + round % 3) {
        }
        detachTraceBuffer();
        // Nothing may arrive once the buffer is withdrawn.
        for (float& v : trace->values) v = 7.0f;
        const int after = blocks.load();
        while (blocks.load() < after + 2) {
        }
        bool intact = true;
        for (float v : trace->values) intact = intact && v == 7.0f;
        delete trace;
        ASSERT_TRUE(intact) << round;
    }
    stop.store(true);
    audio.join();
}

}  // namespace
