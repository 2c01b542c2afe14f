// The plug-in instance as a host runs it (44100 Hz stereo, 256-frame runs)
// with the meters' read-out ports connected and without: what the level,
// loudness and true-peak meters cost beside the engine. meters 0: none of
// their ports connected, 1: all, 2: the levels alone, 3: all but the true peak.
// worker 1: the meters on a worker thread, as under an LV2 host with a worker;
// the CPU time is then the audio thread's alone, and InstanceMetersTotal
// gives the process's (both threads).
#include <benchmark/benchmark.h>

#include <atomic>
#include <cmath>
#include <thread>
#include <vector>

#include "ports/float_instance.h"
#include "ports/port_table.h"

namespace {

constexpr int run = 256;
constexpr int runsPerPass = 172;  // about one second of audio

// A host's worker thread: woken by the audio thread every 6 runs (35 ms,
// about as often as the LV2 glue asks) when blocks were queued. The
// benchmark runs far faster than real time, so every 24 runs it waits (asleep, costing no CPU time) until the worker has caught up,
// as it always has in real time: no block goes unmetered.
struct Worker {
    ports::FloatInstance* in;
    std::atomic<uint32_t> requests{0}, done{0};
    std::atomic<bool> running{true};
    std::thread thread;
};

void workerLoop(Worker* w) {
    uint32_t seen = 0;
    while (w->running.load()) {
        w->requests.wait(seen);
        seen = w->requests.load();
        ports::instanceMeterWork(w->in);
        w->done.store(seen);
        w->done.notify_one();
    }
}

void catchUp(Worker& w) {
    const uint32_t asked = w.requests.load();
    for (uint32_t done = w.done.load(); done != asked; done = w.done.load()) w.done.wait(done);
}

void InstanceMeters(benchmark::State& state) {
    const int enhance = static_cast<int>(state.range(0));
    const int meters = static_cast<int>(state.range(1));
    const bool offload = state.range(2) != 0;
    ports::FloatInstance* in = ports::createInstance(2, 44100);
    Worker worker{in};
    if (offload && ports::offloadInstanceMeters(in)) worker.thread = std::thread(workerLoop, &worker);
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
            if (worker.thread.joinable() && r % 6 == 5 && ports::instanceMeterWorkWaiting(in)) {
                worker.requests.fetch_add(1);
                worker.requests.notify_one();
                if (r % 24 == 23) catchUp(worker);
            }
        }
        benchmark::DoNotOptimize(readout);
    }
    if (worker.thread.joinable()) {
        worker.running = false;
        worker.requests.fetch_add(1);
        worker.requests.notify_one();
        worker.thread.join();
    }
    state.counters["dropped"] = static_cast<double>(ports::instanceMetersDropped(in));
    state.counters["x_realtime"] = benchmark::Counter(
        static_cast<double>(run) * runsPerPass / 44100.0 * static_cast<double>(state.iterations()),
        benchmark::Counter::kIsRate);
    ports::destroyInstance(in);
}

}  // namespace

BENCHMARK(InstanceMeters)
    ->ArgNames({"enhance", "meters", "worker"})
    ->Args({1, 0, 0})
    ->Args({1, 1, 0})
    ->Args({1, 2, 0})
    ->Args({1, 3, 0})
    ->Args({1, 1, 1})
    ->Args({2, 0, 0})
    ->Args({2, 1, 0})
    ->Args({2, 1, 1})
    ->Unit(benchmark::kMillisecond);

BENCHMARK(InstanceMeters)
    ->Name("InstanceMetersTotal")
    ->ArgNames({"enhance", "meters", "worker"})
    ->Args({1, 1, 1})
    ->Args({2, 1, 1})
    ->MeasureProcessCPUTime()
    ->Unit(benchmark::kMillisecond);
