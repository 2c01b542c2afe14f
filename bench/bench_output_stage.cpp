// The output stage's cost: the stage alone (both switches on) on float
// blocks, and the multiband engine with the stage on against the same engine
// without it (bench_multiband.cpp), 44100 Hz stereo in 576-frame blocks.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "dsp/handover.h"
#include "dsp/output_stage.h"
#include "settings/plugin_settings.h"
#include "settings/settings_engine.h"

namespace {

constexpr int rate = 44100;
constexpr int frames = 576;
constexpr int blocksPerPass = 77;  // about one second of audio

// Music-like float samples in the 16-bit scale, hot enough (peaks above
// -1 dBTP on every beat) for the ceiling to work.
std::vector<float> music(int totalFrames) {
    std::vector<float> out(static_cast<size_t>(totalFrames) * 2);
    std::mt19937 rng(7);
    std::normal_distribution<double> noise(0.0, 0.05);
    for (int f = 0; f < totalFrames; ++f) {
        const double t = static_cast<double>(f) / rate;
        const double beat = std::fmod(t, 0.5);
        const double kick = std::exp(-beat * 18.0) * std::sin(2 * M_PI * 60 * beat);
        const double mid = 0.3 * std::sin(2 * M_PI * 440 * t + std::sin(2 * M_PI * 3 * t));
        for (int c = 0; c < 2; ++c)
            out[2 * static_cast<size_t>(f) + c] = static_cast<float>(30000.0 * (kick + mid + noise(rng)));
    }
    return out;
}

void realtime(benchmark::State& state) {
    const double seconds = static_cast<double>(frames) * blocksPerPass / rate;
    state.counters["x_realtime"] = benchmark::Counter(
        seconds * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

void OutputStageAlone(benchmark::State& state) {
    const std::vector<float> input = music(frames * blocksPerPass);
    std::vector<float> block(frames * 2);
    static OutputStage stage;
    outputStageSetup(stage, rate, 2);
    outputStageSettings(stage, true, 160, true, 10);
    for (auto _ : state) {
        for (int b = 0; b < blocksPerPass; ++b) {
            memcpy(block.data(), input.data() + static_cast<size_t>(b) * frames * 2, block.size() * sizeof(float));
            processOutputStage(stage, block.data(), frames);
            benchmark::DoNotOptimize(block.data());
        }
    }
    realtime(state);
}
BENCHMARK(OutputStageAlone)->Unit(benchmark::kMillisecond);

void MultibandWithOutputStage(benchmark::State& state) {
    settings_reset_to_load_state();
    settings_set_start_values();
    settings.sample_rate = rate;
    settings.channel_count = 2;
    settings.bits_per_sample = 16;
    settings.enhance = 2;
    settings.loudness_target = 1;
    settings.tp_limit = 1;
    parseMultibandStrings(3, rate, 2);
    adoptEngineParameters(settings.engine);
    std::vector<int16_t> input(static_cast<size_t>(frames) * blocksPerPass * 2);
    const std::vector<float> m = music(frames * blocksPerPass);
    for (size_t i = 0; i < input.size(); ++i) input[i] = static_cast<int16_t>(std::lrint(m[i] * 0.5f));
    std::vector<int16_t> block(frames * 2);
    for (auto _ : state) {
        for (int b = 0; b < blocksPerPass; ++b) {
            memcpy(block.data(), input.data() + static_cast<size_t>(b) * frames * 2, block.size() * sizeof(int16_t));
            processPluginBlock(block.data(), frames, 2);
            benchmark::DoNotOptimize(block.data());
        }
    }
    realtime(state);
}
BENCHMARK(MultibandWithOutputStage)->Unit(benchmark::kMillisecond);

}  // namespace
