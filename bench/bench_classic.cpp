// Throughput of the classic chain: 44100 Hz stereo in 576-frame blocks, as the
// player hands them over. The counter "x_realtime" is seconds of audio
// processed per second of CPU time.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "settings/settings_engine.h"
#include "settings/plugin_settings.h"

namespace {

constexpr int rate = 44100;
constexpr int channels = 2;
constexpr int blockFrames = 576;
constexpr int signalFrames = rate * 10;

// Ten seconds of a music-like stereo signal: a few partials under a slow level
// envelope that swings from quiet to beyond full scale, plus a little noise.
const std::vector<int16_t>& benchSignal() {
    static const std::vector<int16_t> signal = [] {
        std::vector<int16_t> s(static_cast<size_t>(signalFrames) * channels);
        std::mt19937 rng(1);
        std::normal_distribution<double> noise(0.0, 300.0);
        for (int f = 0; f < signalFrames; ++f) {
            const double t = static_cast<double>(f) / rate;
            const double level = 4000 + 30000 * (0.5 + 0.5 * std::sin(2 * 3.14159265 * 0.3 * t));
            for (int ch = 0; ch < channels; ++ch) {
                const double v = level * (0.5 * std::sin(2 * 3.14159265 * (110 + ch) * t) +
                                          0.3 * std::sin(2 * 3.14159265 * 440 * t + ch) +
                                          0.2 * std::sin(2 * 3.14159265 * 3520 * t)) +
                                 noise(rng);
                s[static_cast<size_t>(f) * channels + ch] =
                    static_cast<int16_t>(std::clamp(v, -32768.0, 32767.0));
            }
        }
        return s;
    }();
    return signal;
}

// The default settings of a fresh installation, then the mode and equalizer
// under test, set up as the first 16-bit block would.
void prepare(int enhance, bool equalizer) {
    settings_reset_to_load_state();
    settings_set_defaults();
    store_relaxed(settings.enhance, static_cast<uint8_t>(enhance));
    store_relaxed(settings.eq_enable, int32_t{equalizer ? 1 : 0});
    // All three bands active: the equalizer's full cost.
    const uint16_t frequencies[3] = {100, 1000, 10000};
    const uint16_t gains[3] = {30, 60, 20};
    for (int b = 0; b < 3; ++b) {
        store_relaxed(settings.eq_bands[b].gain, gains[b]);
        store_relaxed(settings.eq_bands[b].frequency, frequencies[b]);
    }
    store_relaxed(settings.sample_rate, int32_t{rate});
    store_relaxed(settings.channel_count, int32_t{channels});
    store_relaxed(settings.bits_per_sample, int32_t{16});
    setAudioThreadActive(true);
    computeClassicCoefficients(1, 1, rate, channels);
    setAudioThreadActive(false);
}

// Sample is int16_t (the player's 16-bit path) or float (the full-resolution
// path, the same values in the 16-bit scale).
template <typename Sample>
void runChain(benchmark::State& state, int enhance, bool equalizer) {
    prepare(enhance, equalizer);
    static const std::vector<Sample> signal(benchSignal().begin(), benchSignal().end());
    Sample block[blockFrames * channels];
    int position = 0;
    int64_t frames = 0;
    for (auto _ : state) {
        std::memcpy(block, &signal[static_cast<size_t>(position) * channels], sizeof block);
        if constexpr (sizeof(Sample) == sizeof(int16_t))
            processPluginBlock(block, blockFrames, channels);
        else
            processPluginBlockFloat(block, blockFrames, channels);
        benchmark::DoNotOptimize(block);
        benchmark::ClobberMemory();
        position += blockFrames;
        if (position + blockFrames > signalFrames) position = 0;
        frames += blockFrames;
    }
    state.counters["x_realtime"] =
        benchmark::Counter(static_cast<double>(frames) / rate, benchmark::Counter::kIsRate);
    settings_reset_to_load_state();
}

void ClassicMode1EqOff(benchmark::State& state) { runChain<int16_t>(state, 1, false); }
void ClassicMode1EqOn(benchmark::State& state) { runChain<int16_t>(state, 1, true); }
void ClassicMode0EqOn(benchmark::State& state) { runChain<int16_t>(state, 0, true); }
void ClassicMode1EqOffFloat(benchmark::State& state) { runChain<float>(state, 1, false); }
void ClassicMode1EqOnFloat(benchmark::State& state) { runChain<float>(state, 1, true); }
void ClassicMode0EqOnFloat(benchmark::State& state) { runChain<float>(state, 0, true); }

}  // namespace

BENCHMARK(ClassicMode1EqOff);
BENCHMARK(ClassicMode1EqOn);
BENCHMARK(ClassicMode0EqOn);
BENCHMARK(ClassicMode1EqOffFloat);
BENCHMARK(ClassicMode1EqOnFloat);
BENCHMARK(ClassicMode0EqOnFloat);
