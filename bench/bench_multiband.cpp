// Multiband engine throughput: 44100 Hz stereo in 576-frame blocks, as the
// host delivers it, reported as seconds of audio per CPU second (x realtime).
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "dsp/handover.h"
#include "settings/multiband_presets.h"
#include "settings/plugin_settings.h"
#include "settings/settings_engine.h"

namespace {

constexpr int rate = 44100;
constexpr int frames = 576;
constexpr int blocksPerPass = 77;  // about one second of audio

// A music-like test signal: bass, mid and treble tones with a slow loudness
// swell and some noise, peaking near full scale.
std::vector<int16_t> music(int totalFrames) {
    std::vector<int16_t> out(static_cast<size_t>(totalFrames) * 2);
    std::mt19937 rng(42);
    std::normal_distribution<double> noise(0.0, 0.05);
    for (int f = 0; f < totalFrames; ++f) {
        const double t = static_cast<double>(f) / rate;
        const double swell = 0.55 + 0.45 * std::sin(2 * M_PI * 0.25 * t);
        const double bass = 0.45 * std::sin(2 * M_PI * 55 * t) * (0.6 + 0.4 * std::sin(2 * M_PI * 2 * t));
        const double mid = 0.25 * std::sin(2 * M_PI * 440 * t + std::sin(2 * M_PI * 3 * t));
        const double treble = 0.1 * std::sin(2 * M_PI * 3520 * t);
        for (int c = 0; c < 2; ++c) {
            double v = swell * (bass + mid + (c ? treble : -treble) + noise(rng));
            if (v > 1.0) v = 1.0;
            if (v < -1.0) v = -1.0;
            out[2 * f + c] = static_cast<int16_t>(std::lrint(v * 32767));
        }
    }
    return out;
}

// The multiband strings, with or without the output stage (target -16 LUFS,
// ceiling -1 dBTP) after the engine.
void set_strings(const char* m1, const char* m2, const char* lim, bool outputStage = false) {
    settings_reset_to_load_state();
    strncpy(settings.strings.enh_multi1, m1, sizeof settings.strings.enh_multi1 - 1);
    strncpy(settings.strings.enh_multi2, m2, sizeof settings.strings.enh_multi2 - 1);
    strncpy(settings.strings.enh_limiter, lim, sizeof settings.strings.enh_limiter - 1);
    settings.sample_rate = rate;
    settings.channel_count = 2;
    settings.bits_per_sample = 16;
    settings.enhance = 2;
    settings.loudness_target = outputStage ? 1 : 0;
    settings.tp_limit = outputStage ? 1 : 0;
    settings.target_lufs = 160;  // -16 LUFS
    settings.tp_ceiling = 10;    // -1 dBTP
    parseMultibandStrings(3, rate, 2);
    adoptEngineParameters(settings.engine);
}

// Sample is int16_t (the player's 16-bit path) or float (the full-resolution
// path on the same values).
template <typename Sample = int16_t>
void run(benchmark::State& state) {
    const std::vector<int16_t> fixed = music(frames * blocksPerPass);
    const std::vector<Sample> input(fixed.begin(), fixed.end());
    std::vector<Sample> block(frames * 2);
    for (auto _ : state) {
        for (int b = 0; b < blocksPerPass; ++b) {
            memcpy(block.data(), input.data() + static_cast<size_t>(b) * frames * 2,
                   block.size() * sizeof(Sample));
            if constexpr (sizeof(Sample) == sizeof(int16_t))
                processPluginBlock(block.data(), frames, 2);
            else
                processPluginBlockFloat(block.data(), frames, 2);
            benchmark::DoNotOptimize(block.data());
        }
    }
    const double seconds = static_cast<double>(frames) * blocksPerPass / rate;
    state.counters["x_realtime"] = benchmark::Counter(
        seconds * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

void MultibandDefaultStrings(benchmark::State& state) {
    set_strings(default_enh_multi1, default_enh_multi2, default_enh_limiter);
    run<>(state);
}
BENCHMARK(MultibandDefaultStrings)->Unit(benchmark::kMillisecond);

void MultibandFourBandIntense(benchmark::State& state) {
    // Four bands, input AGC, soft clip 2 and the limiter.
    const BuiltinMultibandPreset& p = builtin_multiband_presets[24 - firstBuiltinMultibandPreset];
    set_strings(p.multi1, p.multi2, p.limiter);
    run<>(state);
}
BENCHMARK(MultibandFourBandIntense)->Unit(benchmark::kMillisecond);

void MultibandDefaultStringsFloat(benchmark::State& state) {
    set_strings(default_enh_multi1, default_enh_multi2, default_enh_limiter);
    run<float>(state);
}
BENCHMARK(MultibandDefaultStringsFloat)->Unit(benchmark::kMillisecond);

void MultibandFourBandIntenseFloat(benchmark::State& state) {
    const BuiltinMultibandPreset& p = builtin_multiband_presets[24 - firstBuiltinMultibandPreset];
    set_strings(p.multi1, p.multi2, p.limiter);
    run<float>(state);
}
BENCHMARK(MultibandFourBandIntenseFloat)->Unit(benchmark::kMillisecond);

// The same engine and input as MultibandDefaultStrings(Float) with the output
// stage on: the stage's share of the multiband engine's cost.
void MultibandDefaultStringsOutputStage(benchmark::State& state) {
    set_strings(default_enh_multi1, default_enh_multi2, default_enh_limiter, true);
    run<>(state);
}
BENCHMARK(MultibandDefaultStringsOutputStage)->Unit(benchmark::kMillisecond);

void MultibandDefaultStringsOutputStageFloat(benchmark::State& state) {
    set_strings(default_enh_multi1, default_enh_multi2, default_enh_limiter, true);
    run<float>(state);
}
BENCHMARK(MultibandDefaultStringsOutputStageFloat)->Unit(benchmark::kMillisecond);

// The same with the clean choices on (held band gains, the programme
// leveller, the long release and brake): their cost beside the one above.
void clean_choices() {
    settings.band_hold = 1;
    settings.level_mode = 1;
    settings.tp_mode = 2;
}

void MultibandDefaultStringsOutputStageClean(benchmark::State& state) {
    set_strings(default_enh_multi1, default_enh_multi2, default_enh_limiter, true);
    clean_choices();
    run<>(state);
}
BENCHMARK(MultibandDefaultStringsOutputStageClean)->Unit(benchmark::kMillisecond);

void MultibandDefaultStringsOutputStageCleanFloat(benchmark::State& state) {
    set_strings(default_enh_multi1, default_enh_multi2, default_enh_limiter, true);
    clean_choices();
    run<float>(state);
}
BENCHMARK(MultibandDefaultStringsOutputStageCleanFloat)->Unit(benchmark::kMillisecond);

// The "Streaming -16" preset as it now is: its own strings and the choices.
void StreamingPreset(benchmark::State& state) {
    const OutputStagePreset& p = output_stage_presets[1];
    set_strings(p.multi1, p.multi2, p.limiter, true);
    clean_choices();
    run<>(state);
}
BENCHMARK(StreamingPreset)->Unit(benchmark::kMillisecond);

}  // namespace
