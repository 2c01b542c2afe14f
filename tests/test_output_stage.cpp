// The output stage on its own: the ceiling on hostile signals, its detector
// against libebur128, the exact delay, and the leveller on a set of pieces at
// very different levels, on fades and on silence.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "dsp/output_stage.h"
#include "dsp/true_peak.h"
#include "tests/test_signals.h"

namespace {

struct Run {
    bool level = false;
    int target = 160;
    bool limit = false;
    int ceiling = 10;
};

// The stage over x in 576-frame blocks; the output is as long as the input.
std::vector<float> runStage(const std::vector<float>& x, int rate, int channels, Run run,
                            OutputStage* keep = nullptr) {
    OutputStage local;
    OutputStage& s = keep != nullptr ? *keep : local;
    EXPECT_TRUE(outputStageSetup(s, rate, channels));
    outputStageSettings(s, run.level, run.target, run.limit, run.ceiling);
    std::vector<float> y = x;
    const long long frames = static_cast<long long>(x.size()) / channels;
    for (long long at = 0; at < frames; at += 576) {
        const int n = static_cast<int>(frames - at < 576 ? frames - at : 576);
        processOutputStage(s, y.data() + at * channels, n);
    }
    return y;
}

std::vector<float> slice(const std::vector<float>& x, int channels, long long from, long long frames) {
    return std::vector<float>(x.begin() + from * channels, x.begin() + (from + frames) * channels);
}

struct Hostile {
    const char* name;
    int rate, channels;
    std::function<std::vector<float>(int, int)> make;
};

const Hostile hostile[] = {
    {"quarter_rate_sine_45deg", 44100, 2, [](int r, int c) { return signals::quarterRateSine(r, c, 3.0); }},
    {"full_scale_square", 44100, 2, [](int r, int c) { return signals::square(r, c, 3.0, 997.0); }},
    {"clipped_pink_noise", 48000, 2, [](int r, int c) { return signals::clippedPinkNoise(r, c, 3.0); }},
    {"square_96k", 96000, 2, [](int r, int c) { return signals::square(r, c, 3.0, 3001.0); }},
    {"pink_noise_mono", 44100, 1, [](int r, int c) { return signals::clippedPinkNoise(r, c, 3.0); }},
    {"quarter_rate_sine_mono_96k", 96000, 1, [](int r, int c) { return signals::quarterRateSine(r, c, 3.0); }},
    {"music_driven_10db_over", 44100, 2,
     [](int r, int c) {
         auto x = signals::music(r, c, 6.0, 7);
         signals::setLoudness(x, r, c, 0.0);  // about 10 dB of reduction on every beat
         return x;
     }},
};

class CeilingOnHostileSignals : public testing::TestWithParam<Hostile> {};

TEST_P(CeilingOnHostileSignals, StaysBelowMinusOneDbtpWithoutClipping) {
    const Hostile& h = GetParam();
    const std::vector<float> in = h.make(h.rate, h.channels);
    ASSERT_GT(signals::truePeakDbtp(in, h.rate, h.channels), 0.0);
    const std::vector<float> out = runStage(in, h.rate, h.channels, {.limit = true, .ceiling = 10});
    const double peak = signals::truePeakDbtp(out, h.rate, h.channels);
    EXPECT_LE(peak, -1.0);
    EXPECT_GE(peak, -1.5) << "the ceiling takes away more than it must";
    EXPECT_EQ(signals::fullScaleSamples(out), 0);
}

INSTANTIATE_TEST_SUITE_P(OutputStage, CeilingOnHostileSignals, testing::ValuesIn(hostile),
                         [](const auto& param) { return std::string(param.param.name); });

class DetectorAgainstLibebur128 : public testing::TestWithParam<Hostile> {};

TEST_P(DetectorAgainstLibebur128, ReadsWithinATenthOfADecibel) {
    const Hostile& h = GetParam();
    const std::vector<float> x = h.make(h.rate, h.channels);
    TruePeakMeter meter;
    truePeakMeterStart(meter, h.channels);
    // In uneven pieces, as a host's chunks come.
    const long long frames = static_cast<long long>(x.size()) / h.channels;
    for (long long at = 0, n = 1; at < frames; at += n, n = n * 3 % 5000 + 1)
        truePeakMeterAddFloat(meter, x.data() + at * h.channels, std::min(n, frames - at));
    const double ours = 20.0 * std::log10(truePeakMeterPeak(meter) / 32768.0);
    EXPECT_NEAR(ours, signals::truePeakDbtp(x, h.rate, h.channels), 0.1);
}

const Hostile metered[] = {
    hostile[0], hostile[1], hostile[2], hostile[3], hostile[5], hostile[6],
    {"music", 44100, 2, [](int r, int c) { return signals::music(r, c, 20.0, 1); }},
    {"music_hot", 48000, 2,
     [](int r, int c) {
         auto x = signals::music(r, c, 20.0, 2);
         signals::setLoudness(x, r, c, -7.0);
         return x;
     }},
    {"music_96k_mono", 96000, 1, [](int r, int c) { return signals::music(r, c, 10.0, 3); }},
};

INSTANTIATE_TEST_SUITE_P(OutputStage, DetectorAgainstLibebur128, testing::ValuesIn(metered),
                         [](const auto& param) { return std::string(param.param.name); });

TEST(OutputStage, DelaysByExactlyItsLatencyWhereNothingIsLimited) {
    struct Format {
        int rate, channels, latency;
    };
    for (Format f : {Format{44100, 2, 88}, Format{48000, 1, 96}, Format{96000, 2, 192}, Format{8000, 2, 16}}) {
        ASSERT_EQ(outputStageLatency(f.rate), f.latency);
        std::vector<float> in = signals::music(f.rate, f.channels, 2.0, 4);
        signals::setLoudness(in, f.rate, f.channels, -30.0);  // far below the ceiling
        const std::vector<float> out = runStage(in, f.rate, f.channels, {.limit = true});
        const long long frames = static_cast<long long>(in.size()) / f.channels;
        for (int i = 0; i < f.latency * f.channels; ++i) ASSERT_EQ(out[i], 0.0f) << f.rate;
        EXPECT_EQ(slice(out, f.channels, f.latency, frames - f.latency),
                  slice(in, f.channels, 0, frames - f.latency))
            << f.rate << " Hz, " << f.channels << " channels";
    }
}

// After a burst that the ceiling limits, the gain comes back to exactly 1:
// quiet audio leaves the stage untouched again, only delayed.
TEST(OutputStage, CeilingReturnsToUnityGainAfterABurst) {
    for (int rate : {44100, 96000}) {
        const int channels = 2;
        std::vector<float> burst = signals::music(rate, channels, 1.0, 8);
        signals::setLoudness(burst, rate, channels, 0.0);
        std::vector<float> quiet = signals::music(rate, channels, 3.0, 9);
        signals::setLoudness(quiet, rate, channels, -30.0);
        std::vector<float> in = burst;
        in.insert(in.end(), quiet.begin(), quiet.end());
        OutputStage s;
        const std::vector<float> out = runStage(in, rate, channels, {.limit = true}, &s);
        const long long frames = static_cast<long long>(in.size()) / channels, last = rate;
        const int latency = outputStageLatency(rate);
        EXPECT_GT(s.statistics.ceilingFrames, 0) << rate;
        EXPECT_EQ(slice(out, channels, frames - last, last), slice(in, channels, frames - last - latency, last))
            << rate << " Hz: the last second is not the input delayed";
    }
}

TEST(OutputStage, LevelsPiecesFromMinus30ToMinus10LufsToTheTarget) {
    const int rate = 44100, channels = 2;
    const double seconds = 60.0;
    const double levels[] = {-22.0, -10.0, -30.0, -14.0, -26.0, -18.0};
    std::vector<float> set;
    for (int i = 0; i < 6; ++i) {
        std::vector<float> piece = signals::music(rate, channels, seconds, static_cast<uint32_t>(10 + i));
        signals::setLoudness(piece, rate, channels, levels[i]);
        set.insert(set.end(), piece.begin(), piece.end());
    }
    const std::vector<float> out = runStage(set, rate, channels, {.level = true, .limit = true});
    const int latency = outputStageLatency(rate);
    const long long pieceFrames = static_cast<long long>(seconds * rate);
    for (int i = 0; i < 6; ++i) {
        const double lufs =
            signals::integratedLufs(slice(out, channels, i * pieceFrames + latency, pieceFrames - latency), rate, channels);
        EXPECT_NEAR(lufs, -16.0, 1.0) << "piece " << i << " at " << levels[i] << " LUFS";
    }
    // A track 20 LU quieter than the one before is at the target after 4 s.
    const double settled = signals::integratedLufs(
        slice(out, channels, 2 * pieceFrames + latency + 4 * rate, 4 * rate), rate, channels);
    EXPECT_NEAR(settled, -16.0, 1.0) << "seconds 4 to 8 of the track at -30 LUFS after one at -10";
    EXPECT_LE(signals::truePeakDbtp(out, rate, channels), -1.0);
    EXPECT_EQ(signals::fullScaleSamples(out), 0);
}

TEST(OutputStage, FadesAndSilenceAreNotPumpedUp) {
    const int rate = 44100, channels = 2;
    std::vector<float> x = signals::music(rate, channels, 20.0, 5);
    signals::setLoudness(x, rate, channels, -20.0);
    const long long steady = static_cast<long long>(x.size()) / channels;
    std::vector<float> fade = signals::music(rate, channels, 8.0, 6);
    signals::setLoudness(fade, rate, channels, -20.0);
    const long long fadeFrames = static_cast<long long>(fade.size()) / channels;
    for (long long i = 0; i < fadeFrames; ++i)  // 60 dB down over 8 s
        for (int c = 0; c < channels; ++c) fade[i * channels + c] *= std::pow(10.0f, -3.0f * i / fadeFrames);
    x.insert(x.end(), fade.begin(), fade.end());
    x.resize(x.size() + 5 * rate * channels, 0.0f);

    // The gain's own range over the steady music's last 10 s, then the fade and
    // the silence: a leveller that pumps them up would climb towards +20 dB.
    OutputStage s;
    ASSERT_TRUE(outputStageSetup(s, rate, channels));
    outputStageSettings(s, true, 160, true, 10);
    float highest = -100.0f, during = -100.0f;
    for (long long at = 0; at * channels < static_cast<long long>(x.size()); at += 576) {
        const int n = static_cast<int>(std::min<long long>(576, static_cast<long long>(x.size()) / channels - at));
        processOutputStage(s, x.data() + at * channels, n);
        if (at >= steady - 10 * rate && at < steady) highest = std::max(highest, s.statistics.levellerGainDb);
        if (at >= steady) during = std::max(during, s.statistics.levellerGainDb);
    }
    EXPECT_NEAR(highest, 4.0f, 1.5f);
    EXPECT_LE(during, highest + 0.5f);
}

TEST(OutputStage, SwitchingOnStartsWithAnEmptyDelayLine) {
    const int rate = 44100, channels = 1;
    OutputStage s;
    std::vector<float> x(4000, 1000.0f);
    runStage(x, rate, channels, {.limit = true}, &s);
    outputStageSettings(s, false, 160, false, 10);
    std::vector<float> y(1000, 1000.0f);
    processOutputStage(s, y.data(), 1000);  // off: untouched
    EXPECT_EQ(y, std::vector<float>(1000, 1000.0f));
    outputStageSettings(s, false, 160, true, 10);
    processOutputStage(s, y.data(), 1000);
    for (int i = 0; i < outputStageLatency(rate); ++i) ASSERT_EQ(y[i], 0.0f);
    EXPECT_EQ(y[outputStageLatency(rate)], 1000.0f);
}

}  // namespace
