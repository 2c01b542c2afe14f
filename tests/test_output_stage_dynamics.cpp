// The output stage's dynamics, measured: how fast the leveller's gain rises,
// that the programme mode's gain comes to rest on a steady tone, the
// ceiling's release time constant, and that the true-peak meter reads a
// peak wherever it falls between two samples.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "dsp/output_stage.h"
#include "dsp/true_peak.h"

namespace {

constexpr double pi = 3.14159265358979323846;

// The stage over a mono signal in 576-frame blocks.
std::vector<float> run(const std::vector<float>& x, int rate, bool level, bool limit) {
    OutputStage s;
    EXPECT_TRUE(outputStageSetup(s, rate, 1));
    outputStageSettings(s, level, 160, limit, 10);
    std::vector<float> y = x;
    for (size_t at = 0; at < y.size(); at += 576)
        processOutputStage(s, y.data() + at, static_cast<int>(std::min<size_t>(576, y.size() - at)));
    return y;
}

// A 1 kHz tone 43 LU below the target from the start: the gain climbs to its
// +20 dB limit at 10 dB/s, so it takes 1 s from +5 to +15 dB.
TEST(OutputStageDynamics, LevellerGainRisesAtTenDecibelsPerSecond) {
    const int rate = 44100, window = 441, latency = outputStageLatency(rate);
    std::vector<float> x(4 * rate);
    for (size_t n = 0; n < x.size(); ++n) x[n] = static_cast<float>(328.0 * std::sin(2 * pi * 1000 * n / rate));
    const std::vector<float> y = run(x, rate, true, false);
    double at5 = -1, at15 = -1;
    for (size_t w = 0; (w + 1) * window + latency <= x.size(); ++w) {
        double in = 0, out = 0;
        for (size_t n = w * window; n < (w + 1) * window; ++n) {
            in += double(x[n]) * x[n];
            out += double(y[n + latency]) * y[n + latency];
        }
        const double gainDb = 10 * std::log10(out / in), t = double(w * window) / rate;
        if (at5 < 0 && gainDb >= 5) at5 = t;
        if (at15 < 0 && gainDb >= 15) at15 = t;
    }
    ASSERT_GE(at5, 0);
    ASSERT_GE(at15, 0) << "the gain never reached +15 dB";
    EXPECT_NEAR(at15 - at5, 1.0, 0.1) << "seconds from +5 to +15 dB";
}

// A 1 kHz tone whose first 2 s are 4 dB quieter (an engine ahead of the
// stage still settling), then steady for 28 s: the programme mode's gain
// stops moving once its 10 s mean has passed the start (within 0.001 dB over
// the last 15 s; a mean that forgets the start only exponentially still
// moves by some 0.1 dB there) and sits on the target.
TEST(OutputStageDynamics, ProgrammeLevellerGainComesToRestOnASteadyTone) {
    const int rate = 44100, block = 441;
    const double amplitude = 0.1 * 32768;
    std::vector<float> x(30 * rate);
    for (size_t n = 0; n < x.size(); ++n)
        x[n] = static_cast<float>((n < 2u * rate ? 0.63 : 1.0) * amplitude * std::sin(2 * pi * 1000 * n / rate));
    OutputStage s;
    ASSERT_TRUE(outputStageSetup(s, rate, 1));
    outputStageSettings(s, true, 160, true, 10);
    outputStageModes(s, levellerProgramme, 2);
    float lowest = 100.0f, highest = -100.0f;
    for (size_t at = 0; at + block <= x.size(); at += block) {
        processOutputStage(s, x.data() + at, block);
        if (at < 15u * rate) continue;
        lowest = std::min(lowest, s.statistics.levellerGainDb);
        highest = std::max(highest, s.statistics.levellerGainDb);
    }
    EXPECT_LT(highest - lowest, 0.001f) << "dB of gain movement over the last 15 s";
    // A 1 kHz tone's loudness is its r.m.s. level (the K-weighting's +0.69 dB
    // there is what the -0.691 of the loudness takes back).
    const double loudness = 20 * std::log10(0.1 / std::sqrt(2.0));
    EXPECT_NEAR(highest, -16.0 - loudness, 0.05) << "the gain that brings the tone to -16 LUFS";
}

// 100 Hz, 1 kHz and 5 kHz together for 20 s, then 11 LU quieter for 8 s:
// the same mix (a quiet passage of the same music) leaves the programme's
// loudness where it was; the 1 kHz alone (another balance: a new piece) is
// taken as a new, quieter programme. A burst of not-a-number samples early
// on must leave the cue working.
TEST(OutputStageDynamics, ProgrammeModeTellsAQuietPassageFromANewPieceByItsBalance) {
    struct Case {
        const char* what;
        bool newBalance;
        double drop;  // LU the programme's loudness falls by
    };
    const int rate = 44100, block = 441;
    for (const Case& c : {Case{"the same mix", false, 0.0}, Case{"1 kHz alone", true, 11.0}}) {
        const double loud = 0.05 * 32768, quiet = loud * std::pow(10.0, -11.0 / 20);
        std::vector<float> x(28 * rate);
        for (size_t n = 0; n < x.size(); ++n) {
            auto tone = [&](double f) { return std::sin(2 * pi * f * n / rate); };
            const double mix = tone(100) + tone(1000) + tone(5000);
            // 1.93: the 1 kHz alone as loud (K-weighted) as the three together
            x[n] = static_cast<float>(n < 20u * rate ? loud * mix : c.newBalance ? 1.93 * quiet * tone(1000) : quiet * mix);
        }
        for (int n = 0; n < 64; ++n) x[static_cast<size_t>(rate + n)] = NAN;
        OutputStage s;
        ASSERT_TRUE(outputStageSetup(s, rate, 1));
        outputStageSettings(s, true, 160, true, 10);
        outputStageModes(s, levellerProgramme, 1);
        float before = 0.0f;
        for (size_t at = 0; at + block <= x.size(); at += block) {
            processOutputStage(s, x.data() + at, block);
            if (at + block == 20u * rate) before = s.statistics.programmeLufs;
        }
        EXPECT_NEAR(before - s.statistics.programmeLufs, c.drop, 1.0) << c.what;
    }
}

// A burst of not-a-number samples must not blind the leveller: in either
// mode it still follows a 6 dB drop in level 14 s later.
TEST(OutputStageDynamics, LevellerStillFollowsTheLevelAfterNotANumbers) {
    const int rate = 44100, block = 441;
    std::vector<float> x(28 * rate);
    for (size_t n = 0; n < x.size(); ++n)
        x[n] = static_cast<float>((n < 15u * rate ? 0.2 : 0.1) * 32768 * std::sin(2 * pi * 1000.0 * n / rate));
    for (int n = 0; n < 64; ++n) x[static_cast<size_t>(rate + n)] = NAN;
    for (int mode : {levellerRunning, levellerProgramme}) {
        OutputStage s;
        ASSERT_TRUE(outputStageSetup(s, rate, 1));
        outputStageSettings(s, true, 160, true, 10);
        outputStageModes(s, mode, 0);
        std::vector<float> y = x;
        for (size_t at = 0; at + block <= y.size(); at += block) processOutputStage(s, y.data() + at, block);
        EXPECT_NEAR(s.statistics.levellerGainDb, -16.0 - 20 * std::log10(0.1 / std::sqrt(2.0)), 0.5) << mode;
        EXPECT_TRUE(std::isfinite(y.back())) << mode;
    }
}

// 10 s of a tone the leveller lifts by its most (+20 dB), then one 40 dB
// louder: the ceiling takes some 25 dB until the louder programme is told,
// which is no measure of the new programme's peaks, so the brake starts it
// at nothing and the gain brings it to the target within a second.
TEST(OutputStageDynamics, ProgrammeModeStartsALouderProgrammeWithoutTheBrake) {
    const int rate = 44100, block = 441;
    std::vector<float> x(12 * rate);
    for (size_t n = 0; n < x.size(); ++n)
        x[n] = static_cast<float>((n < 10u * rate ? 0.005 : 0.5) * 32768 * std::sin(2 * pi * 1000 * n / rate));
    OutputStage s;
    ASSERT_TRUE(outputStageSetup(s, rate, 1));
    outputStageSettings(s, true, 160, true, 10);
    outputStageModes(s, levellerProgramme, 2);
    for (size_t at = 0; at + block <= 11u * rate; at += block) processOutputStage(s, x.data() + at, block);
    const double loudness = 20 * std::log10(0.5 / std::sqrt(2.0));
    EXPECT_NEAR(s.statistics.levellerGainDb, -16.0 - loudness, 0.5) << "dB of gain 1 s after the step";
}

// A level 3.5 dB over full scale, then 20 dB below it: the gain comes back
// exponentially with a 60 ms time constant (read between 20 and 80 ms after).
TEST(OutputStageDynamics, CeilingReleasesWithASixtyMillisecondTimeConstant) {
    for (int rate : {44100, 96000}) {
        const size_t step = rate / 10, latency = outputStageLatency(rate);
        std::vector<float> x(step, 1.5f * 32768);
        x.resize(step + rate / 2, 0.1f * 32768);
        const std::vector<float> y = run(x, rate, false, true);
        auto drop = [&](double seconds) {
            const size_t n = step + static_cast<size_t>(seconds * rate);
            return 1.0 - y[n + latency] / x[n];
        };
        ASSERT_GT(drop(0.08), 0.0) << rate;
        EXPECT_NEAR(0.06 / std::log(drop(0.02) / drop(0.08)), 0.060, 0.005) << rate << " Hz";
    }
}

// A quarter-rate tone whose peaks fall on the samples, or a quarter, half or
// three quarters of the way to the next: the meter reads its true peak from
// either entry (float and 16-bit) in each case.
TEST(OutputStageDynamics, TruePeakMeterReadsAPeakAtEveryPhase) {
    for (double phase : {0.0, 0.25, 0.5, 0.75}) {
        std::vector<float> x(4410);
        std::vector<int16_t> fixed(x.size());
        for (size_t n = 0; n < x.size(); ++n) {
            x[n] = static_cast<float>(std::round(16384.0 * std::cos(pi / 2 * (double(n) - phase))));
            fixed[n] = static_cast<int16_t>(x[n]);
        }
        TruePeakMeter a, b;
        truePeakMeterStart(a, 1);
        truePeakMeterStart(b, 1);
        truePeakMeterAddFloat(a, x.data(), static_cast<long long>(x.size()));
        truePeakMeterAdd16(b, fixed.data(), static_cast<long long>(fixed.size()));
        EXPECT_NEAR(20 * std::log10(truePeakMeterPeak(a) / 16384.0), 0.0, 0.2) << "float, phase " << phase;
        EXPECT_NEAR(20 * std::log10(truePeakMeterPeak(b) / 16384.0), 0.0, 0.2) << "16-bit, phase " << phase;
    }
}

}  // namespace
