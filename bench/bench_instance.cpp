// The plug-in instance as a host runs it (44100 Hz stereo, 256-frame runs)
// with the meters' read-out ports connected and without: what the level,
// loudness and true-peak meters cost beside the engine. meters 0: none of
// their ports connected, 1: all, 2: the levels alone, 3: all but the true peak.
// worker 1: the meters offloaded, as under an LV2 host with a worker: every
// 6 runs (35 ms, about as often as the LV2 glue asks) the worker's share runs
// with the timer paused, so the time is what the audio thread pays; in
// InstanceMetersTotal it runs with the timer on, which gives both. paused 1
// without the worker pauses the timer as often for nothing: the baseline the
// worker's rows compare with, as the pauses themselves cost a little. (In real
// time the worker runs in the audio thread's idle time; a worker thread
// racing a benchmark that runs a thousand times faster than real time would
// only measure the two threads' fight over one core's caches.)
#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

#include "ports/float_instance.h"
#include "ports/port_table.h"

namespace {

constexpr int run = 256;
constexpr int runsPerPass = 172;  // about one second of audio

void InstanceMeters(benchmark::State& state) {
    const int enhance = static_cast<int>(state.range(0));
    const int meters = static_cast<int>(state.range(1));
    const bool offload = state.range(2) != 0, paused = state.range(3) != 0;
    ports::FloatInstance* in = ports::createInstance(2, 44100);
    const bool worker = offload && ports::offloadInstanceMeters(in);
    float control[ports::controlCount], readout[ports::readoutCount];
    for (int k = 0; k < ports::controlCount; ++k) {
        control[k] = static_cast<float>(ports::defaultValue(ports::controls[k]));
        ports::connectControl(in, k, &control[k]);
    }
    control[ports::cEnhance] = static_cast<float>(enhance);
    for (int r = 0; r < ports::readoutCount; ++r) {
        const bool level = r >= ports::rInPeakLeft && r <= ports::rOutRmsRight;
        const bool connected = r < ports::rInPeakLeft || meters == 1 || (meters == 2 && level) ||
                               (meters == 3 && r != ports::rTruePeak);
        if (connected) ports::connectReadout(in, r, &readout[r]);
    }
    std::vector<float> audio[2], out[2];
    for (int c = 0; c < 2; ++c) {
        audio[c].resize(run * runsPerPass);
        out[c].resize(run);
        for (size_t i = 0; i < audio[c].size(); ++i)
            audio[c][i] = static_cast<float>(0.3 * std::sin(0.05 * i * (c + 1)) * std::sin(0.0002 * i));
        ports::connectAudioOutput(in, c, out[c].data());
    }
    for (auto _ : state) {
        for (int r = 0; r < runsPerPass; ++r) {
            for (int c = 0; c < 2; ++c) ports::connectAudioInput(in, c, audio[c].data() + r * run);
            ports::runInstance(in, run);
            if (!worker && paused && r % 6 == 5) {
                state.PauseTiming();
                state.ResumeTiming();
            }
            if (worker && r % 6 == 5 && ports::instanceMeterWorkWaiting(in)) {
                if (paused) state.PauseTiming();
                ports::instanceMeterWork(in);
                if (paused) state.ResumeTiming();
            }
        }
        benchmark::DoNotOptimize(readout);
    }
    state.counters["dropped"] = static_cast<double>(ports::instanceMetersDropped(in));
    state.counters["x_realtime"] = benchmark::Counter(
        static_cast<double>(run) * runsPerPass / 44100.0 * static_cast<double>(state.iterations()),
        benchmark::Counter::kIsRate);
    ports::destroyInstance(in);
}

}  // namespace

BENCHMARK(InstanceMeters)
    ->ArgNames({"enhance", "meters", "worker", "paused"})
    ->Args({1, 0, 0, 0})
    ->Args({1, 1, 0, 0})
    ->Args({1, 2, 0, 0})
    ->Args({1, 3, 0, 0})
    ->Args({1, 0, 0, 1})
    ->Args({1, 1, 1, 1})
    ->Args({2, 0, 0, 0})
    ->Args({2, 1, 0, 0})
    ->Args({2, 0, 0, 1})
    ->Args({2, 1, 1, 1})
    ->Unit(benchmark::kMillisecond);

BENCHMARK(InstanceMeters)
    ->Name("InstanceMetersTotal")
    ->ArgNames({"enhance", "meters", "worker", "paused"})
    ->Args({1, 1, 1, 0})
    ->Args({2, 1, 1, 0})
    ->Unit(benchmark::kMillisecond);
