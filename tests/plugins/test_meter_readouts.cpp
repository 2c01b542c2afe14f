// The meters' read-outs of the float instance: levels, loudness, the output
// stage's readings and the resettable true peak, against signals whose
// values are known.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "ports/float_instance.h"
#include "ports/port_table.h"

using namespace ports;

namespace {

struct MeterHost {
    int channels;
    FloatInstance* instance;
    float control[controlCount];
    float readout[readoutCount];

    MeterHost(int ch, const std::vector<std::pair<int, int>>& codes) : channels(ch) {
        instance = createInstance(ch, 48000);
        for (int k = 0; k < controlCount; ++k) control[k] = static_cast<float>(defaultValue(controls[k]));
        for (const auto& [k, code] : codes) control[k] = static_cast<float>(valueOfCode(controls[k], code));
        for (int k = 0; k < controlCount; ++k) connectControl(instance, k, &control[k]);
        for (int r = 0; r < readoutCount; ++r) connectReadout(instance, r, &readout[r]);
    }
    ~MeterHost() { destroyInstance(instance); }
    MeterHost(const MeterHost&) = delete;
    MeterHost& operator=(const MeterHost&) = delete;

    // `seconds` of a 997 Hz sine of peak `amplitude` (full scale 1) in 480-frame runs.
    void sine(double amplitude, double seconds) {
        std::vector<float> in(480), out[2] = {std::vector<float>(480), std::vector<float>(480)};
        for (int c = 0; c < channels; ++c) {
            connectAudioInput(instance, c, in.data());
            connectAudioOutput(instance, c, out[c].data());
        }
        for (int run = 0; run < seconds * 100; ++run) {
            for (int i = 0; i < 480; ++i)
                in[i] = static_cast<float>(amplitude * std::sin(2 * M_PI * 997.0 * (phase + i) / 48000.0));
            phase += 480;
            runInstance(instance, 480);
            played.insert(played.end(), out[0].begin(), out[0].end());
        }
    }
    long phase = 0;
    std::vector<float> played;  // the first channel's output
};

double db(double amplitude) { return 20.0 * std::log10(amplitude); }

// The offloaded meters' scenario: `there` on a worker, `here` not.
void offloadedMetersFollow(MeterHost& here, MeterHost& there) {
    ASSERT_TRUE(offloadInstanceMeters(there.instance));
    auto same = [&](const char* when) {
        instanceMeterWork(there.instance);
        runInstance(there.instance, 0);  // shows what the worker published
        for (int r = rInPeakLeft; r <= rTruePeak; ++r)
            EXPECT_EQ(here.readout[r], there.readout[r]) << readouts[r].symbol << " " << when;
    };
    for (double amplitude : {0.3, 1.0}) {
        here.sine(amplitude, 0.5);
        there.sine(amplitude, 0.5);  // about 40 blocks: room in the queue
        same("sine");
    }
    for (MeterHost* host : {&here, &there}) {
        host->control[cPeakReset] = 1.0f;
        host->sine(0.05, 0.2);
    }
    same("after peak reset");
    EXPECT_EQ(instanceMetersDropped(there.instance), 0);

    // Over 64 blocks without the worker: the rest waits, and the worker meters
    // what was queued, once.
    here.sine(0.05, 1.0);
    there.sine(0.05, 1.0);
    const double blocks = 100.0 * 480 / blockFrames;  // and one more or less by the FIFO's position
    EXPECT_NEAR(static_cast<double>(instanceMetersDropped(there.instance)), blocks - 64, 1.0);
    EXPECT_TRUE(instanceMeterWorkWaiting(there.instance));
    EXPECT_FALSE(instanceMeterWorkWaiting(there.instance));
    instanceMeterWork(there.instance);
    runInstance(there.instance, 0);
    const std::vector<float> drained(there.readout + rInPeakLeft, there.readout + rTruePeak + 1);
    instanceMeterWork(there.instance);  // nothing left: nothing changes
    runInstance(there.instance, 0);
    EXPECT_EQ(drained, std::vector<float>(there.readout + rInPeakLeft, there.readout + rTruePeak + 1));
    EXPECT_GE(there.readout[rInPeakLeft], db(0.05) - 0.01);  // falling towards the sine's own peak
    for (float v : drained) EXPECT_TRUE(std::isfinite(v));

    for (MeterHost* host : {&here, &there}) {
        ASSERT_TRUE(resetInstance(host->instance));
        host->sine(0.3, 0.3);
    }
    same("after the instance's reset");
}

}  // namespace

// A sine through the engine switched off: peak, r.m.s. and loudness of input
// and output are the sine's own (the output's is the same audio, one block late).
TEST(MeterReadouts, LevelsAndLoudnessOfASine) {
    struct Case {
        int channels;
        double amplitude;
    };
    for (const Case c : {Case{2, 0.5}, Case{1, 0.1}, Case{2, 0.02}}) {
        MeterHost host(c.channels, {{cEnhance, 0}});
        host.sine(c.amplitude, 4.0);
        const double peak = db(c.amplitude), rms = db(c.amplitude / std::sqrt(2.0));
        // BS.1770: a 997 Hz sine in one channel reads its r.m.s. level (0.69 dB of
        // K-weighting gain against the -0.691 offset); two channels add 3 dB.
        const double lufs = rms + (c.channels == 2 ? 3.01 : 0.0);
        for (int r : {rInPeakLeft, rInPeakRight, rOutPeakLeft, rOutPeakRight})
            EXPECT_NEAR(host.readout[r], peak, 0.05) << readouts[r].symbol << " " << c.amplitude;
        for (int r : {rInRmsLeft, rInRmsRight, rOutRmsLeft, rOutRmsRight})
            EXPECT_NEAR(host.readout[r], rms, 0.05) << readouts[r].symbol << " " << c.amplitude;
        EXPECT_NEAR(host.readout[rInLoudness], lufs, 0.1) << c.amplitude;
        EXPECT_NEAR(host.readout[rOutLoudness], lufs, 0.1) << c.amplitude;
        EXPECT_NEAR(host.readout[rTruePeak], peak, 0.1) << c.amplitude;
        EXPECT_EQ(host.readout[rProgrammeLoudness], -70.0f);  // the stage is off
        EXPECT_EQ(host.readout[rCeilingReduction], 0.0f);
    }
}

// Quiet audio under the ceiling leaves it alone; audio driven over it is
// reduced, and the true peak that goes out stays near the ceiling.
TEST(MeterReadouts, CeilingReductionAndTruePeakFollowTheAudio) {
    MeterHost host(2, {{cEnhance, 0}, {cTpLimit, 1}, {cTpCeiling, 10}});
    host.sine(0.1, 1.0);
    EXPECT_EQ(host.readout[rCeilingReduction], 0.0f);
    host.sine(1.0, 1.0);
    EXPECT_GE(host.readout[rCeilingReduction], 0.9f);
    EXPECT_LE(host.readout[rCeilingReduction], 1.5f);
    EXPECT_LE(host.readout[rTruePeak], -0.9f);
    EXPECT_GE(host.readout[rTruePeak], -1.3f);
    // The true peak holds over quiet audio until peak_reset changes.
    host.sine(0.1, 2.0);
    EXPECT_GE(host.readout[rTruePeak], -1.3f);
    EXPECT_EQ(host.readout[rCeilingReduction], 0.0f);
    host.control[cPeakReset] = 1.0f;
    host.sine(0.1, 0.5);
    EXPECT_NEAR(host.readout[rTruePeak], -20.0, 0.1);
}

// The leveller's programme loudness is what the input reads, and its gain
// heads for the target from there.
TEST(MeterReadouts, LevellerReadingsMatchTheInput) {
    MeterHost host(2, {{cEnhance, 0}, {cLoudnessTarget, 1}, {cTargetLufs, 160}});
    host.sine(0.05, 6.0);
    const double lufs = db(0.05 / std::sqrt(2.0)) + 3.01;
    EXPECT_NEAR(host.readout[rProgrammeLoudness], lufs, 0.2);
    EXPECT_NEAR(host.readout[rLevellerGain], -16.0 - lufs, 0.3);
    EXPECT_NEAR(host.readout[rOutLoudness], -16.0, 0.5);
}

// Not-a-number and infinite samples leave every read-out a number and the
// meters work again once the audio is sound.
TEST(MeterReadouts, WildAudioLeavesThemDefined) {
    MeterHost host(2, {{cEnhance, 0}});
    std::vector<float> bad(480, NAN), out(480);
    bad[7] = INFINITY;
    for (int c = 0; c < 2; ++c) {
        connectAudioInput(host.instance, c, bad.data());
        connectAudioOutput(host.instance, c, out.data());
    }
    for (int i = 0; i < 20; ++i) runInstance(host.instance, 480);
    host.sine(0.25, 4.0);
    for (int r = rInPeakLeft; r <= rOutLoudness; ++r)
        EXPECT_TRUE(std::isfinite(host.readout[r])) << readouts[r].symbol;
    EXPECT_NEAR(host.readout[rOutRmsLeft], db(0.25 / std::sqrt(2.0)), 0.1);
    EXPECT_NEAR(host.readout[rInLoudness], db(0.25 / std::sqrt(2.0)) + 3.01, 0.1);
}

// The limiter's traces are there for the UI once per run of the multiband
// limiter, and never while it does not run.
TEST(MeterReadouts, LimiterTracesOnlyWhileTheLimiterRuns) {
    struct Case {
        int enhance, limiter;
        bool traced;
    };
    for (const Case c : {Case{2, 1, true}, Case{2, 0, false}, Case{1, 1, false}}) {
        MeterHost host(2, {{cEnhance, c.enhance}, {cLimiterOn, c.limiter}});
        host.sine(0.5, 0.2);
        std::vector<float> trace(3 * notifyTracePoints, NAN);
        EXPECT_EQ(instanceLimiterTrace(host.instance, trace.data(), notifyTracePoints), c.traced) << c.enhance;
        EXPECT_FALSE(instanceLimiterTrace(host.instance, trace.data(), notifyTracePoints));
        if (!c.traced) continue;
        float largest = 0.0f;
        for (float v : trace) largest = std::max(largest, std::fabs(v));
        EXPECT_GT(largest, 0.0f);
        EXPECT_TRUE(std::isfinite(largest));
    }
}

// Meters moved onto a worker read what they read on the audio thread, sample
// for sample, once the worker has caught up, on the 16-bit path and at full
// resolution; a reset of the true peak or of the instance reaches them in
// order; a worker that falls behind costs meter blocks, never audio, and
// nothing is metered twice; the audio is the same either way.
TEST(MeterReadouts, OffloadedMetersReadWhatTheAudioThreadReads) {
    for (int full : {0, 1}) {
        SCOPED_TRACE(full ? "full resolution" : "16-bit path");
        const std::vector<std::pair<int, int>> stage = {
            {cEnhance, 2}, {cTpLimit, 1}, {cTpCeiling, 10}, {cFullResolution, full}};
        MeterHost here(2, stage), there(2, stage);
        offloadedMetersFollow(here, there);
        EXPECT_EQ(here.played, there.played);
    }
}

