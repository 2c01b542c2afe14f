// The output stage's cost on its own (both switches on) on float blocks,
// 44100 Hz stereo in 576-frame blocks. The multiband engine with and without
// the stage is in bench_multiband.cpp.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "dsp/output_stage.h"

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

// Both switches on (the leveller takes the music to -16 LUFS, where the
// ceiling has little to do), and the ceiling alone on the same hot music,
// which it limits on every beat.
void OutputStageAlone(benchmark::State& state) {
    const bool levelling = state.range(0) != 0;
    const std::vector<float> input = music(frames * blocksPerPass);
    std::vector<float> block(frames * 2);
    static OutputStage stage;
    outputStageSetup(stage, rate, 2);
    outputStageSettings(stage, levelling, 160, true, 10);
    int64_t limited = 0;
    for (auto _ : state) {
        for (int b = 0; b < blocksPerPass; ++b) {
            memcpy(block.data(), input.data() + static_cast<size_t>(b) * frames * 2, block.size() * sizeof(float));
            processOutputStage(stage, block.data(), frames);
            benchmark::DoNotOptimize(block.data());
        }
        limited = stage.statistics.ceilingFrames;
    }
    realtime(state);
    state.counters["limited_share"] = static_cast<double>(limited) /
                                      (static_cast<double>(state.iterations()) * frames * blocksPerPass);
}
BENCHMARK(OutputStageAlone)->ArgName("levelling")->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);

}  // namespace
