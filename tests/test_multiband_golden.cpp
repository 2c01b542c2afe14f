// The multiband engine end to end against checksums recorded from the engine
// before its stage routines were sped up: every built-in multiband preset and
// the default strings, at 8000, 22050, 44100, 48000 and 96000 Hz, mono and
// stereo, over three seconds of varied audio in blocks of changing length. A
// change of one output sample or one band gain read-out changes a checksum.
//
// The table below is a recording, not a derivation: regenerate it only from an
// engine whose output is known to be right (REDOZER_PRINT_GOLDEN=1 prints it).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "dsp/multiband_strings.h"
#include "settings/settings_engine.h"
#include "tests/test_support.h"

namespace {

// Integer-only signal synthesis, so the input is the same on every machine.
struct Xorshift {
    uint32_t s;
    uint32_t next() {
        s ^= s << 13;
        s ^= s >> 17;
        s ^= s << 5;
        return s;
    }
    int range(int lo, int hi) {
        return lo + static_cast<int>(next() % static_cast<uint32_t>(hi - lo + 1));
    }
};

int16_t clamp16(long v) {
    if (v > 32767) return 32767;
    if (v < -32768) return -32768;
    return static_cast<int16_t>(v);
}

// Triangle of period `period` samples between -amplitude and +amplitude.
long triangle(long t, long period, long amplitude) {
    const long phase = t % period;
    const long half = period / 2;
    const long rise = phase < half ? phase : period - phase;
    return (4 * amplitude * rise) / period - amplitude;
}

// Half-second sections: tones with a swell, silence, a clipped square,
// quiet noise, loud noise bursts, clicks on silence.
std::vector<int16_t> varied_audio(int rate, int channels, int seconds) {
    const long frames = static_cast<long>(rate) * seconds;
    std::vector<int16_t> out(static_cast<size_t>(frames) * channels);
    Xorshift rng{0x9e3779b9u};
    const long section = rate / 2;
    for (long f = 0; f < frames; ++f) {
        const long kind = (f / section) % 6;
        const long within = f % section;
        for (int c = 0; c < channels; ++c) {
            long v = 0;
            const long t = f + 17 * c;
            switch (kind) {
                case 0: {
                    const long swell = 2000 + (28000 * within) / section;
                    v = triangle(t, rate / 55, swell / 2) + triangle(t, rate / 440 + c, swell / 3) +
                        triangle(t, rate / 3520 + 2, swell / 8) + rng.range(-800, 800);
                    break;
                }
                case 1: v = 0; break;
                case 2: v = (t / (rate / 200)) % 2 ? 40000 : -40000; break;
                case 3: v = rng.range(-60, 60); break;
                case 4:
                    v = (within / 4000) % 2 ? rng.range(-32768, 32767) : rng.range(-3000, 3000);
                    break;
                default: v = within % 997 == 0 ? (c ? -32768 : 32767) : 0; break;
            }
            out[static_cast<size_t>(f) * channels + c] = clamp16(v);
        }
    }
    return out;
}

uint64_t fnv(uint64_t h, const void* data, size_t size) {
    const unsigned char* p = static_cast<const unsigned char*>(data);
    for (size_t i = 0; i < size; ++i) {
        h ^= p[i];
        h *= 1099511628211ull;
    }
    return h;
}

void set_strings(const char* m1, const char* m2, const char* lim, int rate, int channels) {
    settings_reset_to_load_state();
    strncpy(settings.strings.enh_multi1, m1, sizeof settings.strings.enh_multi1 - 1);
    strncpy(settings.strings.enh_multi2, m2, sizeof settings.strings.enh_multi2 - 1);
    strncpy(settings.strings.enh_limiter, lim, sizeof settings.strings.enh_limiter - 1);
    settings.sample_rate = rate;
    settings.channel_count = channels;
    settings.bits_per_sample = 16;
    settings.enhance = 2;
    parseMultibandStrings(3, rate, channels);
    adoptEngineParameters();
}

// Runs the audio through processBlock in blocks of changing length, with the
// band read-outs on for every other block, and hashes output and read-outs.
uint64_t run_checksum(int preset, int rate, int channels) {
    if (preset < 0)
        set_strings(default_enh_multi1, default_enh_multi2, default_enh_limiter, rate, channels);
    else {
        const BuiltinMultibandPreset& p = builtin_multiband_presets[preset];
        set_strings(p.multi1, p.multi2, p.limiter, rate, channels);
    }
    const std::vector<int16_t> audio = varied_audio(rate, channels, 3);
    const long frames = static_cast<long>(audio.size()) / channels;
    static const int blockFrames[] = {576, 1, 37, 575, 1152, 3, 576, 577, 200, 4096};
    uint64_t h = 1469598103934665603ull;
    std::vector<int16_t> block;
    long at = 0;
    for (int k = 0; at < frames; ++k) {
        long count = blockFrames[k % 10];
        if (count > frames - at) count = frames - at;
        block.assign(audio.begin() + at * channels, audio.begin() + (at + count) * channels);
        settings.engine.multiband.bandReadoutsOn = k % 2;
        processPluginBlock(block.data(), static_cast<int>(count), channels);
        h = fnv(h, block.data(), block.size() * sizeof(int16_t));
        if (k % 2 == 1)
            h = fnv(h, settings.engine.multiband.bandGainReadouts,
                    sizeof settings.engine.multiband.bandGainReadouts);
        at += count;
    }
    h = fnv(h, settings.engine.multiband.bandGains, sizeof settings.engine.multiband.bandGains);
    h = fnv(h, &settings.engine.limiterState, sizeof settings.engine.limiterState);
    return h;
}

struct Golden {
    int preset;  // -1: the default strings; else the row of the built-in presets
    int rate;
    int channels;
    uint64_t checksum;
};

// Recorded from the engine before the speed-ups.
const Golden golden[] = {
#include "tests/multiband_golden.inc"
};

class MultibandGolden : public EngineTest {};

TEST_F(MultibandGolden, EveryPresetRateAndLayoutKeepsItsChecksum) {
    const bool print = std::getenv("REDOZER_PRINT_GOLDEN") != nullptr;
    const int rateList[] = {8000, 22050, 44100, 48000, 96000};
    size_t index = 0;
    for (int preset = -1; preset < builtinMultibandPresetCount; ++preset)
        for (int rate : rateList)
            for (int channels = 1; channels <= 2; ++channels) {
                const uint64_t sum = run_checksum(preset, rate, channels);
                if (print)
                    std::printf("    {%d, %d, %d, 0x%016llxull},\n", preset, rate, channels,
                                static_cast<unsigned long long>(sum));
                if (print) continue;
                ASSERT_LT(index, std::size(golden)) << "the table is shorter than the runs";
                const Golden& g = golden[index++];
                ASSERT_EQ(g.preset, preset);
                ASSERT_EQ(g.rate, rate);
                ASSERT_EQ(g.channels, channels);
                EXPECT_EQ(g.checksum, sum) << "preset " << preset << ", " << rate << " Hz, "
                                           << channels << " channel(s)";
            }
    if (!print) {
        EXPECT_EQ(index, std::size(golden));
    }
}

// The checksum sees a change of a single sample: the same run with one input
// sample moved by one step must not hash the same.
TEST_F(MultibandGolden, ChecksumSeesOneSampleOfDifference) {
    const uint64_t a = run_checksum(-1, 44100, 2);
    set_strings(default_enh_multi1, default_enh_multi2, default_enh_limiter, 44100, 2);
    std::vector<int16_t> audio = varied_audio(44100, 2, 1);
    uint64_t first = 1469598103934665603ull, second = first;
    std::vector<int16_t> copy = audio;
    processPluginBlock(copy.data(), 44100, 2);
    first = fnv(first, copy.data(), copy.size() * 2);
    set_strings(default_enh_multi1, default_enh_multi2, default_enh_limiter, 44100, 2);
    audio[1000] = static_cast<int16_t>(audio[1000] + 1);
    processPluginBlock(audio.data(), 44100, 2);
    second = fnv(second, audio.data(), audio.size() * 2);
    EXPECT_NE(first, second);
    EXPECT_EQ(a, run_checksum(-1, 44100, 2));  // and the run itself is repeatable
}

}  // namespace
