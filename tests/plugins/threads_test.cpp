// Plug-in instances on audio threads of their own, as PipeWire or a DAW runs
// them: four instances with different settings run at the same time, each on
// its thread, and each must give exactly what it gives alone; one of them has
// its meters on a worker thread of its own, as an LV2 host's worker runs them,
// and must read what it reads alone with its meters on the audio thread.
// Built with ThreadSanitizer, which also reports any state the instances or
// the audio and worker threads share without synchronisation.
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

#include "ports/float_instance.h"
#include "ports/port_table.h"

using namespace ports;

namespace {

struct Job {
    int channels;
    double rate;
    int enhance, agc, crossover, block;
    bool offload;
    std::vector<float> out;
    std::vector<float> meters;  // the meters' read-outs at the end
};

void run(Job& job, int frames) {
    FloatInstance* in = createInstance(job.channels, job.rate);
    if (in == nullptr) return;
    float control[controlCount], readout[readoutCount];
    for (int k = 0; k < controlCount; ++k) {
        control[k] = static_cast<float>(defaultValue(controls[k]));
        connectControl(in, k, &control[k]);
    }
    for (int r = 0; r < readoutCount; ++r) connectReadout(in, r, &readout[r]);
    control[cEnhance] = static_cast<float>(job.enhance);
    control[cAgc] = static_cast<float>(job.agc);
    control[cCrossover1] = static_cast<float>(job.crossover);
    std::atomic<bool> finished{false};
    std::thread worker;
    if (job.offload && offloadInstanceMeters(in))
        worker = std::thread([in, &finished] {
            while (!finished.load()) {
                instanceMeterWork(in);
                std::this_thread::yield();
            }
        });
    std::vector<float> input[2], output[2];
    for (int c = 0; c < job.channels; ++c) {
        input[c].resize(frames);
        output[c].resize(frames);
        for (int i = 0; i < frames; ++i)
            input[c][i] = static_cast<float>(std::lrint(
                              ((i / 5000) % 2 ? 0.6 : 0.05) * 32767 * sin(i * 0.031 * (c + 1)))) /
                          32768.0f;
    }
    for (int done = 0; done < frames; done += job.block) {
        const int n = frames - done < job.block ? frames - done : job.block;
        for (int c = 0; c < job.channels; ++c) {
            connectAudioInput(in, c, input[c].data() + done);
            connectAudioOutput(in, c, output[c].data() + done);
        }
        runInstance(in, static_cast<uint32_t>(n));
        // Paced as a host's audio thread is, so that the worker keeps up.
        if (worker.joinable()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    if (worker.joinable()) {
        finished.store(true);
        worker.join();
        instanceMeterWork(in);
        runInstance(in, 0);
    }
    job.meters.assign(readout + rInPeakLeft, readout + rTruePeak + 1);
    destroyInstance(in);
    job.out.clear();
    for (int c = 0; c < job.channels; ++c) job.out.insert(job.out.end(), output[c].begin(), output[c].end());
}

}  // namespace

int main() {
    const int frames = 40000;
    std::vector<Job> alone = {
        {2, 44100, 1, 0, 300, 64, false, {}, {}},
        {2, 48000, 2, 1, 250, 256, false, {}, {}},
        {1, 44100, 2, 0, 0, 37, false, {}, {}},
        {2, 96000, 0, 0, 300, 4096, false, {}, {}},
    };
    std::vector<Job> together = alone;
    together[1].offload = true;
    for (Job& job : alone) run(job, frames);
    std::vector<std::thread> threads;
    for (Job& job : together) threads.emplace_back([&job] { run(job, frames); });
    for (std::thread& t : threads) t.join();
    int failed = 0;
    for (size_t j = 0; j < alone.size(); ++j) {
        const bool same = alone[j].out.size() == together[j].out.size() &&
                          memcmp(alone[j].out.data(), together[j].out.data(),
                                 alone[j].out.size() * sizeof(float)) == 0 &&
                          alone[j].meters == together[j].meters;
        printf("instance %zu: %s\n", j, same ? "same on its own thread" : "DIFFERS on its own thread");
        failed += !same;
    }
    printf("%d passed, %d failed\n", static_cast<int>(alone.size()) - failed, failed);
    return failed == 0 ? 0 : 1;
}
