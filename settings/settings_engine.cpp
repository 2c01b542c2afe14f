// The parameter block's engine instance: controls, meter taps and the flat
// coefficient routines.
#include "settings/settings_engine.h"

#include <atomic>
#include <cmath>
#include <cstdlib>

#include "dsp/handover.h"
#include "settings/plugin_settings.h"

template <typename Sample>
static PeakPair peaksOf(const Sample* samples, int frames, int channels) {
    PeakPair peaks{0, 0};
    const long long limit = static_cast<long long>(frames) * channels - 16;
    const long long step = static_cast<long long>(channels) * 8;
    if (step <= 0) return peaks;
    // |s| truncated, within the meters' range.
    auto magnitude = [](Sample s) {
        const double v = std::fabs(static_cast<double>(s));
        return static_cast<int32_t>(v < 32768.0 ? v : 32768.0);
    };
    for (long long i = 0; i < limit; i += step) {
        int32_t left = magnitude(samples[i]);
        if (left > peaks.left) peaks.left = left;
        if (channels == 2) {
            int32_t right = magnitude(samples[i + 1]);
            if (right > peaks.right) peaks.right = right;
        }
    }
    return peaks;
}

PeakPair measurePeaks(const int16_t* samples, int frames, int channels) {
    return peaksOf(samples, frames, channels);
}

PeakPair measurePeaks(const float* samples, int frames, int channels) {
    return peaksOf(samples, frames, channels);
}

static void store_peaks(int32_t (&meter)[2], PeakPair peaks) {
    store_relaxed(meter[0], peaks.left);
    store_relaxed(meter[1], peaks.right);
}

void tellProgrammeLoudness(float lufs) {
    store_relaxed(settings.programme_lufs, lufs);
    std::atomic_ref<uint32_t>(settings.programme_sequence).fetch_add(1, std::memory_order_release);
}

void setMeasuringPass(bool on) { store_relaxed(settings.measuring_pass, static_cast<uint8_t>(on ? 1 : 0)); }

EngineControls settingsEngineControls() {
    EngineControls c;
    c.enhance = load_relaxed(settings.enhance);
    c.stereo_width = load_relaxed(settings.stereo_width);
    c.hpcutoff = load_relaxed(settings.hpcutoff);
    c.threshold = load_relaxed(settings.threshold);
    c.eq_enable = load_relaxed(settings.eq_enable);
    for (int b = 0; b < 3; ++b) {
        c.eq_bands[b].gain = load_relaxed(settings.eq_bands[b].gain);
        c.eq_bands[b].frequency = load_relaxed(settings.eq_bands[b].frequency);
    }
    c.loudness_target = load_relaxed(settings.loudness_target);
    c.target_lufs = load_relaxed(settings.target_lufs);
    c.tp_limit = load_relaxed(settings.tp_limit);
    c.tp_ceiling = load_relaxed(settings.tp_ceiling);
    c.band_hold = load_relaxed(settings.band_hold);
    c.level_mode = load_relaxed(settings.level_mode);
    c.tp_mode = load_relaxed(settings.tp_mode);
    c.programme_sequence = std::atomic_ref<uint32_t>(settings.programme_sequence).load(std::memory_order_acquire);
    c.programme_lufs = load_relaxed(settings.programme_lufs);
    c.measuring_pass = load_relaxed(settings.measuring_pass);
    return c;
}

// Three stores a block, whether or not the Misc page shows them.
static void store_stage_readings() {
    const OutputStageStatistics& s = settings.engine.output.statistics;
    store_relaxed(settings.stageProgrammeLufs, s.programmeLufs);
    store_relaxed(settings.stageGainDb, s.levellerGainDb);
    store_relaxed(settings.stageReductionDb, -s.ceilingGainDb);
}

void processPluginBlock(int16_t* samples, int frames, int channels) {
    if (load_relaxed(settings.meterRequest) != 0)
        store_peaks(settings.meterPeakIn, measurePeaks(samples, frames, channels));

    const int32_t bits = load_relaxed(settings.bits_per_sample);
    const int32_t rate = load_relaxed(settings.sample_rate);
    const int32_t channelCount = load_relaxed(settings.channel_count);
    // The engine checks the block's own format; the stored format must agree.
    if (bits == 16 && channelCount <= 2)
        processBlock(settings.engine, settingsEngineControls(), samples, frames, channels, rate);
    else  // the published parameters are adopted all the same
        adoptEngineParameters(settings.engine);
    store_stage_readings();

    if (load_relaxed(settings.meterRequest) != 0)
        store_peaks(settings.meterPeakOut, measurePeaks(samples, frames, channels));
}

void processPluginBlockFloat(float* samples, int frames, int channels) {
    if (load_relaxed(settings.meterRequest) != 0)
        store_peaks(settings.meterPeakIn, measurePeaks(samples, frames, channels));

    const int32_t rate = load_relaxed(settings.sample_rate);
    if (load_relaxed(settings.channel_count) <= 2)
        processBlockFloat(settings.engine, settingsEngineControls(), samples, frames, channels, rate);
    else
        adoptEngineParameters(settings.engine);
    store_stage_readings();

    if (load_relaxed(settings.meterRequest) != 0)
        store_peaks(settings.meterPeakOut, measurePeaks(samples, frames, channels));
}

void parseMultibandStrings(int flags, int sampleRate, int channels) {
    // One consistent copy: a page may be editing the strings meanwhile.
    MultibandStrings copy;
    copy_chars_relaxed(reinterpret_cast<char*>(&copy),
                       reinterpret_cast<const char*>(&settings.strings), sizeof copy);
    parseMultibandStrings(settings.engine, copy, flags, sampleRate, channels);
}

void computeClassicCoefficients(int mode, int reset, int rate, int channels) {
    if (mode == 2) parseMultibandStrings(reset != 0 ? 3 : 2, rate, channels);
    computeClassicCoefficients(settings.engine, load_relaxed(settings.amp_max),
                               load_relaxed(settings.amp_up), load_relaxed(settings.amp_dwn),
                               reset, rate);
}
