// The clean sound's choices, measured: a steady tone gets a steady band gain
// (band_hold), a long limiting run lengthens the ceiling's release and the
// brake keeps the ceiling's reduction small (tp_mode), a programme keeps its
// own dynamics while a new programme's level is corrected within seconds
// (level_mode), a told programme loudness is taken at once (two passes), and
// the choices at 0 change nothing.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "dsp/multiband.h"
#include "dsp/output_stage.h"

namespace {

constexpr double pi = 3.14159265358979323846;
constexpr int rate = 44100;

// A 1 kHz tone (mono, 16-bit scale) whose amplitude follows level(second).
template <typename Level>
std::vector<float> tone(double seconds, double frequency, Level level) {
    std::vector<float> x(static_cast<size_t>(seconds * rate));
    for (size_t n = 0; n < x.size(); ++n)
        x[n] = static_cast<float>(level(double(n) / rate) * std::sin(2 * pi * frequency * n / rate));
    return x;
}

struct Stage {
    OutputStage s;
    Stage(bool level, bool limit, int levelMode, int tpMode) {
        outputStageSetup(s, rate, 1);
        outputStageSettings(s, level, 160, limit, 10);
        outputStageModes(s, levelMode, tpMode);
    }
    // Runs x in 441-frame blocks; calls each(block) after each block.
    template <typename Each>
    void run(std::vector<float>& x, Each each) {
        for (size_t at = 0; at + 441 <= x.size(); at += 441) {
            processOutputStage(s, x.data() + at, 441);
            each(at / 441);
        }
    }
};

// dB of the r.m.s. of y over [from, to) seconds, the stage's latency taken out.
double levelDb(const std::vector<float>& y, double from, double to) {
    const size_t latency = outputStageLatency(rate);
    double sum = 0;
    const size_t a = static_cast<size_t>(from * rate) + latency, b = static_cast<size_t>(to * rate) + latency;
    for (size_t n = a; n < b; ++n) sum += double(y[n]) * y[n];
    return 10 * std::log10(sum / double(b - a) / (32768.0 * 32768.0));
}

// A band's gain over the last second of a steady tone above the threshold:
// the held-peak computer's gain stays within 0.001 dB, the plain one's rides
// the waveform.
TEST(CleanOptions, HeldBandGainIsSteadyOnASteadyTone) {
    for (double frequency : {50.0, 1000.0}) {
        const int lookahead = bandLookaheadFrames, block = 441;
        std::vector<float> x(3 * rate + lookahead);
        for (size_t n = 0; n < x.size(); ++n) x[n] = static_cast<float>(0.5 * std::sin(2 * pi * frequency * n / rate));
        BandParams band{1.99, 1.4e-5, 0.0065, 0.3};
        const HeldBandGain held = heldBandGain(band, lookahead, rate);
        HeldPeak peak{0.0f, 0};
        float heldGain = 1.0f, plainGain = 1.0f;
        double heldSpread[2] = {1e9, -1e9}, plainSpread[2] = {1e9, -1e9};
        std::vector<float> plain = x;
        for (int at = 0; at + block <= 3 * rate; at += block) {
            float r1, r2;
            heldGain = computeHeldBandGain(x.data() + at, block, 1, heldGain, held, peak, &r1);
            plainGain = computeBandGain(plain.data() + at, block, 1, plainGain, 1.4e-5f, 0.0065f, 1.99f, 0.3f, &r2, lookahead);
            if (at < 2 * rate) continue;
            for (int k = at; k < at + block; ++k) {
                // The gain each frame had: output over input where the input is not small.
                const double in = 0.5 * std::sin(2 * pi * frequency * k / rate);
                if (std::fabs(in) < 0.1) continue;
                const double gh = 20 * std::log10(x[k] / in), gp = 20 * std::log10(plain[k] / in);
                heldSpread[0] = std::min(heldSpread[0], gh), heldSpread[1] = std::max(heldSpread[1], gh);
                plainSpread[0] = std::min(plainSpread[0], gp), plainSpread[1] = std::max(plainSpread[1], gp);
            }
        }
        EXPECT_LT(heldSpread[1] - heldSpread[0], 0.001) << frequency << " Hz, held";
        EXPECT_NEAR(heldSpread[0], 20 * std::log10(0.3 / 0.5), 0.05) << frequency << " Hz: the gain the peak needs";
        EXPECT_GT(plainSpread[1] - plainSpread[0], 0.1) << frequency << " Hz, plain (the measure can fail)";
    }
}

// Time for the ceiling's gain to come back above -0.1 dB after 0.05 s or 3 s
// of a tone 6 dB over the ceiling: the same with the fixed release, several
// times longer after the long run with the long release.
TEST(CleanOptions, LongLimitingRunLengthensTheRelease) {
    auto recovery = [](int tpMode, double loudSeconds) {
        std::vector<float> x = tone(loudSeconds + 6.0, 1000.0, [&](double t) {
            return t < loudSeconds ? 2.0 * 32768 * 0.891 : 0.05 * 32768;
        });
        Stage st(false, true, 0, tpMode);
        double back = -1;
        st.run(x, [&](size_t block) {
            const double t = (block + 1) * 0.01;
            if (t > loudSeconds + 0.02 && back < 0 && st.s.statistics.ceilingGainDb > -0.1f) back = t - loudSeconds;
        });
        return back;
    };
    const double fixedShort = recovery(0, 0.05), fixedLong = recovery(0, 3.0);
    const double longShort = recovery(1, 0.05), longLong = recovery(1, 3.0);
    EXPECT_NEAR(fixedLong, fixedShort, 0.03);
    EXPECT_GT(longLong, 4 * longShort) << longShort << " s after 0.05 s, " << longLong << " s after 3 s";
    EXPECT_GT(longLong, 1.0);
}

// A 15 Hz tone, which the K-weighting turns down by 17 dB: levelled to -16
// LUFS its peaks would lie 6 dB over the ceiling. With the brake the ceiling takes at
// most about 4 dB once the brake has settled; without it far more.
TEST(CleanOptions, BrakeKeepsTheCeilingsReductionSmall) {
    auto taken = [](int tpMode) {
        std::vector<float> x = tone(12.0, 15.0, [](double) { return 0.3 * 32768; });
        Stage st(true, true, 0, tpMode);
        float deepest = 0;
        st.run(x, [&](size_t block) {
            if (block >= 1000) deepest = std::min(deepest, st.s.statistics.ceilingGainDb);
        });
        return -deepest;
    };
    EXPECT_GT(taken(0), 6.0f);
    EXPECT_LT(taken(2), 4.5f);
}

// A programme that alternates 4 s at one level and 4 s 8 dB lower, then a
// steady new programme 12 dB louder. The programme mode keeps the 8 dB (the
// running mean closes most of it) and brings the new programme to the target
// within 3 s.
TEST(CleanOptions, ProgrammeModeKeepsDynamicsAndCorrectsANewProgramme) {
    const double a = 0.05 * 32768, change = 24.0;
    auto level = [&](double t) {
        if (t >= change) return a * 4.0;
        return std::fmod(t, 8.0) < 4.0 ? a : a * 0.398;
    };
    auto contrast = [&](int levelMode, double* newLevel) {
        std::vector<float> x = tone(change + 6.0, 1000.0, level);
        Stage st(true, true, levelMode, 0);
        st.run(x, [](size_t) {});
        *newLevel = levelDb(x, change + 3.0, change + 6.0);
        return levelDb(x, 17.0, 20.0) - levelDb(x, 21.0, 24.0);
    };
    double newRunning, newProgramme;
    const double running = contrast(levellerRunning, &newRunning);
    const double programme = contrast(levellerProgramme, &newProgramme);
    EXPECT_NEAR(programme, 8.0, 0.5) << "dB between the loud and quiet passages";
    EXPECT_LT(running, 7.0) << "the running mean closes some of it (the measure can fail)";
    // A 1 kHz sine's loudness is its r.m.s. level - 0.691 (K-weighting about 0 dB there).
    EXPECT_NEAR(newProgramme - 0.691, -16.0, 1.0) << "the new programme's loudness";
}

// A told programme loudness sets the gain at once, and the leveller keeps it
// through the programme's own changes.
TEST(CleanOptions, ToldProgrammeLoudnessIsTakenAtOnce) {
    std::vector<float> x = tone(6.0, 1000.0, [](double t) { return t < 3.0 ? 0.1 * 32768 : 0.02 * 32768; });
    Stage st(true, false, levellerProgramme, 0);
    outputStageProgramme(st.s, -25.0f);
    st.run(x, [](size_t) {});
    EXPECT_NEAR(st.s.statistics.levellerGainDb, 9.0f, 1e-4f);
    EXPECT_NEAR(levelDb(x, 0.1, 3.0) - 20 * std::log10(0.1 / std::sqrt(2.0)), 9.0, 0.05);
}

// The choices at 0, set on every block, leave the stage's output as it was.
TEST(CleanOptions, ChoicesAtZeroChangeNothing) {
    std::vector<float> x = tone(3.0, 60.0, [](double t) { return (t < 1.5 ? 1.5 : 0.1) * 32768; });
    std::vector<float> y = x;
    OutputStage a, b;
    outputStageSetup(a, rate, 1);
    outputStageSetup(b, rate, 1);
    for (size_t at = 0; at + 576 <= x.size(); at += 576) {
        outputStageSettings(a, true, 160, true, 10);
        outputStageSettings(b, true, 160, true, 10);
        outputStageModes(b, 0, 0);
        processOutputStage(a, x.data() + at, 576);
        processOutputStage(b, y.data() + at, 576);
    }
    EXPECT_TRUE(x == y);
}

}  // namespace
