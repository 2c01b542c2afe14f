// Two threads as the host runs them: an audio thread feeding blocks through
// the plug-in's ModifySamples in every engine mode, and a user-interface thread
// making every change the configuration pages can make, reading every
// read-out, and handing trace buffers in and out. Built with ThreadSanitizer,
// which fails the run on any data race.
#include <atomic>
#include <cstring>
#include <functional>
#include <memory>
#include <random>
#include <thread>
#include <vector>

#include "dsp/classic.h"
#include "dsp/crossover.h"
#include "dsp/engine.h"
#include "dsp/limiter.h"
#include "dsp/multiband.h"
#include "dsp/multiband_strings.h"
#include "plugin/dsp_interface.h"
#include "tests/test_support.h"

namespace {

class StressThreads : public EngineTest {};

struct Format {
    int frames, channels, rate;
};

void audio_thread(DspModule* module, std::atomic<bool>& stop, std::atomic<long>& blocks) {
    const Format formats[] = {{576, 2, 44100}, {480, 2, 48000}, {1024, 1, 22050},
                              {100, 2, 8000},  {960, 2, 96000}, {576, 1, 44100}};
    std::mt19937 rng(1);
    std::uniform_int_distribution<int> sample(-32768, 32767);
    std::vector<int16_t> block(4096);
    long count = 0;
    while (!stop.load(std::memory_order_relaxed)) {
        // Mostly the common format, now and then another.
        const Format& f = formats[count % 16 < 12 ? 0 : count % 6];
        const int n = f.frames * f.channels;
        for (int i = 0; i < n; ++i) block[i] = static_cast<int16_t>(sample(rng) / (1 + count % 4));
        if (count % 50 == 7) std::fill(block.begin(), block.begin() + n, int16_t{0});
        module->ModifySamples(module, block.data(), f.frames, 16, f.channels, f.rate);
        ++count;
        blocks.store(count, std::memory_order_relaxed);
    }
}

TEST_F(StressThreads, PagesChangeEverythingWhileAudioPlays) {
    DspModule* module = winampDSPGetHeader2()->getModule(0);
    ASSERT_NE(module, nullptr);
    module->Init(module);

    // The page's snapshot copies, as the multiband page takes them.
    static char snap1[sizeof settings.strings.enh_multi1];
    static char snap2[sizeof settings.strings.enh_multi2];
    static char snap3[sizeof settings.strings.enh_limiter];
    copy_chars_relaxed(snap1, settings.strings.enh_multi1, sizeof snap1);
    copy_chars_relaxed(snap2, settings.strings.enh_multi2, sizeof snap2);
    copy_chars_relaxed(snap3, settings.strings.enh_limiter, sizeof snap3);
    multiband_snapshot = {snap1, snap2, snap3};
    char record[multibandPresetRecordSize];
    formatMultibandPresetRecord(record, sizeof record, "stress");

    std::atomic<bool> stop{false};
    std::atomic<long> blocks{0};
    std::thread audio(audio_thread, module, std::ref(stop), std::ref(blocks));

    std::mt19937 rng(2);
    TraceBuffer* trace = nullptr;
    double sink = 0.0;
    const char digits[] = "0123456789";
    for (int step = 0; step < 30000; ++step) {
        switch (rng() % 14) {
            case 0:
                store_relaxed(settings.enhance, static_cast<uint8_t>(rng() % 3));
                break;
            case 1:
                store_relaxed(settings.eq_enable, static_cast<int32_t>(rng() % 2));
                store_relaxed(settings.eq_bands[rng() % 3].gain, static_cast<uint16_t>(rng() % 101));
                store_relaxed(settings.eq_bands[rng() % 3].frequency,
                              static_cast<uint16_t>(50 + rng() % 15000));
                break;
            case 2:
                store_relaxed(settings.stereo_width, static_cast<uint8_t>(rng() % 41));
                store_relaxed(settings.amp_max, static_cast<uint8_t>(rng() % 101));
                store_relaxed(settings.amp_up, static_cast<uint8_t>(rng() % 101));
                store_relaxed(settings.amp_dwn, static_cast<uint8_t>(rng() % 101));
                store_relaxed(settings.hpcutoff, static_cast<uint8_t>(rng() % 101));
                store_relaxed(settings.threshold, static_cast<uint8_t>(rng() % 101));
                computeClassicCoefficients(1, 0, 44100, 0);
                break;
            case 3: {  // a trackbar: three digits of enh_multi2, then a parse
                const int position = 5 + 16 * static_cast<int>(rng() % 4) + 4 * (rng() % 4);
                for (int i = 0; i < 3; ++i)
                    store_relaxed(settings.strings.enh_multi2[position + i], digits[rng() % 10]);
                parseMultibandStrings(0, 0, 0);
                break;
            }
            case 4: {  // a crossover field or a switch letter of enh_multi1
                const int position = 5 + 6 * static_cast<int>(rng() % 3);
                store_relaxed(settings.strings.enh_multi1[position + 1], digits[rng() % 4]);
                store_relaxed(settings.strings.enh_multi1[rng() % 2], rng() % 2 ? 'm' : '-');
                store_relaxed(settings.strings.enh_multi1[1], rng() % 2 ? 'a' : '-');
                parseMultibandStrings(static_cast<int>(rng() % 3), 0, 0);
                break;
            }
            case 5:  // the limiter dialog's fields
                store_relaxed(settings.strings.enh_limiter[0], rng() % 2 ? 'l' : '-');
                store_relaxed(settings.strings.enh_limiter[2], "sh-"[rng() % 3]);
                store_relaxed(settings.strings.enh_limiter[9 + 5 * (rng() % 6)], digits[rng() % 10]);
                parseMultibandStrings(0, 0, 0);
                break;
            case 6:
                loadMultibandPreset(20 + static_cast<int>(rng() % 10));
                parseMultibandStrings(1, 0, 0);
                break;
            case 7:
                applyMultibandPresetRecord(record);
                parseMultibandStrings(1, 0, 0);
                break;
            case 8:
                store_relaxed(settings.engine.multiband.soloBand, static_cast<uint16_t>(rng() % 6));
                store_relaxed(settings.engine.multiband.bandReadoutsOn, static_cast<int32_t>(rng() % 2));
                store_relaxed(settings.meterRequest, static_cast<uint8_t>(rng() % 2));
                break;
            case 9:  // the limiter dialog opens or closes
                if (trace == nullptr) {
                    trace = new TraceBuffer{};
                    attachTraceBuffer(trace);
                } else {
                    detachTraceBuffer();
                    delete trace;
                    trace = nullptr;
                }
                break;
            case 10:
                if (trace != nullptr)
                    for (int i = 0; i < 3 * traceLength; i += 7) sink += load_relaxed(trace->values[i]);
                break;
            case 11:
                for (int b = 0; b < 4; ++b) {
                    sink += load_relaxed(settings.engine.multiband.bandGains[b]);
                    sink += load_relaxed(settings.engine.multiband.bandGainReadouts[b]);
                }
                sink += load_relaxed(settings.engine.multiband.agcGains[0]);
                sink += load_relaxed(settings.engine.multiband.agcGains[1]);
                sink += load_relaxed(settings.meterPeakIn[0]) + load_relaxed(settings.meterPeakOut[1]);
                break;
            case 12: {  // the page's response curve on its private bank
                CrossoverBank bank{};
                designCrossovers(bank, settings.engine.multibandParams.crossoverHz, 44100);
                std::vector<float> low(256, 0.5f), high(256);
                splitBand(low.data(), high.data(), bank, 0, 256, 1);
                sink += low[255];
                break;
            }
            case 13: {  // the limiter dialog's transfer curve
                std::vector<float> ramp(64);
                for (int i = 0; i < 64; ++i) ramp[i] = i / 64.0f;
                const LimiterParams& l = settings.engine.multibandParams.limiter;
                applyLimiterCurve(ramp.data(), ramp.data(), 64, 1, static_cast<float>(l.thresholdDb),
                                  static_cast<float>(l.kneeDb), static_cast<float>(l.ratio),
                                  static_cast<float>(l.ceilingDb - l.thresholdDb));
                sink += ramp[63];
                break;
            }
        }
        // Give the audio thread room: one block per few page changes.
        if (step % 4 == 0) {
            const long seen = blocks.load(std::memory_order_relaxed);
            while (blocks.load(std::memory_order_relaxed) == seen) std::this_thread::yield();
        }
    }
    if (trace != nullptr) {
        detachTraceBuffer();
        delete trace;
    }
    stop.store(true);
    audio.join();
    multiband_snapshot = {};
    EXPECT_GT(blocks.load(), 1000);
    volatile double keep = sink;  // the reads above must not be optimised away
    (void)keep;
}

// Instances of their own on audio threads of their own, as a host running
// several plug-in instances does, while a control thread publishes new
// parameters to each: no instance shares anything with another.
struct InstanceRun {
    Engine* engine;
    EngineControls controls;
    int rate;
    std::vector<int16_t> samples;  // stereo
};

void run_instance(InstanceRun& run) {
    for (size_t f = 0; f + 576 <= run.samples.size() / 2; f += 576)
        processBlock(*run.engine, run.controls, run.samples.data() + 2 * f, 576, 2, run.rate);
}

MultibandStrings preset_strings(int row) {
    MultibandStrings s{};
    const BuiltinMultibandPreset& p = builtin_multiband_presets[row];
    strncpy(s.enh_multi1, p.multi1, sizeof s.enh_multi1 - 1);
    strncpy(s.enh_multi2, p.multi2, sizeof s.enh_multi2 - 1);
    strncpy(s.enh_limiter, p.limiter, sizeof s.enh_limiter - 1);
    return s;
}

TEST(StressInstances, InstancesOnTheirOwnThreads) {
    std::mt19937 rng(3);
    std::uniform_int_distribution<int> sample(-20000, 20000);
    std::vector<int16_t> input(576 * 2 * 200);
    for (int16_t& v : input) v = static_cast<int16_t>(sample(rng));

    auto setup = [&](Engine& e, uint8_t enhance, int row, int rate, bool owned) {
        engineInitialise(e);
        if (owned) {
            EXPECT_TRUE(engineReserveWork(e, 576));
        }
        computeClassicCoefficients(e, 60, 70, 76, 1, rate);
        parseMultibandStrings(e, preset_strings(row), 3, rate, 2);
        EngineControls c{};
        c.enhance = enhance;
        c.stereo_width = 30;
        c.hpcutoff = 20;
        c.threshold = 70;
        c.eq_enable = 1;
        c.eq_bands[0] = EqBand{30, 200};
        c.eq_bands[1] = EqBand{50, 1000};
        c.eq_bands[2] = EqBand{60, 8000};
        return InstanceRun{&e, c, rate, input};
    };

    // Alone, one after the other, then side by side on two threads.
    auto engines = std::make_unique<Engine[]>(4);
    InstanceRun a = setup(engines[0], 2, 3, 44100, true);
    InstanceRun b = setup(engines[1], 1, 0, 48000, false);
    run_instance(a);
    run_instance(b);
    InstanceRun a2 = setup(engines[2], 2, 3, 44100, false);
    InstanceRun b2 = setup(engines[3], 1, 0, 48000, true);
    {
        std::thread ta(run_instance, std::ref(a2)), tb(run_instance, std::ref(b2));
        ta.join();
        tb.join();
    }
    EXPECT_EQ(a2.samples, a.samples);
    EXPECT_EQ(b2.samples, b.samples);

    // Again, with a control thread publishing to both meanwhile.
    std::atomic<bool> stop{false};
    a2.samples = input;
    b2.samples = input;
    std::thread control([&] {
        std::mt19937 r(9);
        while (!stop.load(std::memory_order_relaxed)) {
            Engine& e = engines[2 + r() % 2];
            parseMultibandStrings(e, preset_strings(static_cast<int>(r() % 9)),
                                  static_cast<int>(r() % 4), 44100, 2);
            computeClassicCoefficients(e, static_cast<int>(r() % 100), static_cast<int>(r() % 100),
                                       static_cast<int>(r() % 100), static_cast<int>(r() % 2),
                                       48000);
            requestEngineResets(e, static_cast<uint32_t>(r() % 16));
            std::this_thread::yield();
        }
    });
    {
        std::thread ta(run_instance, std::ref(a2)), tb(run_instance, std::ref(b2));
        ta.join();
        tb.join();
    }
    stop.store(true);
    control.join();
    for (int k = 0; k < 4; ++k) engineReleaseWork(engines[k]);
}

}  // namespace
