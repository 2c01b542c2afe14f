// Stage selection, meter taps and the hand-over of parameters between threads.
#include "dsp/pipeline.h"

#include <atomic>
#include <cstdlib>

#include "dsp/classic.h"
#include "dsp/crossover.h"
#include "dsp/equalizer.h"
#include "dsp/multiband.h"
#include "settings/plugin_settings.h"

static thread_local bool audio_thread_active = false;

bool audioThreadActive() { return audio_thread_active; }
void setAudioThreadActive(bool active) { audio_thread_active = active; }

PeakPair measurePeaks(const int16_t* samples, int frames, int channels) {
    PeakPair peaks{0, 0};
    const long long limit = static_cast<long long>(frames) * channels - 16;
    const long long step = static_cast<long long>(channels) * 8;
    if (step <= 0) return peaks;
    for (long long i = 0; i < limit; i += step) {
        int32_t left = std::abs(static_cast<int32_t>(samples[i]));
        if (left > peaks.left) peaks.left = left;
        if (channels == 2) {
            int32_t right = std::abs(static_cast<int32_t>(samples[i + 1]));
            if (right > peaks.right) peaks.right = right;
        }
    }
    return peaks;
}

static void store_peaks(int32_t (&meter)[2], PeakPair peaks) {
    store_relaxed(meter[0], peaks.left);
    store_relaxed(meter[1], peaks.right);
}

void processBlock(int16_t* samples, int frames, int channels) {
    adoptEngineParameters();

    if (load_relaxed(settings.meterRequest) != 0)
        store_peaks(settings.meterPeakIn, measurePeaks(samples, frames, channels));

    const int32_t bits = load_relaxed(settings.bits_per_sample);
    const int32_t rate = load_relaxed(settings.sample_rate);
    const int32_t channelCount = load_relaxed(settings.channel_count);
    if (bits == 16 && rate <= 96000 && channelCount <= 2 && frames > 0 && channels > 0) {
        const uint8_t enhance = load_relaxed(settings.enhance);
        if (load_relaxed(settings.eq_enable) != 0 && enhance != 2)
            equalizeBlock(samples, frames, channels);
        if (enhance == 2)
            processMultiband(samples, frames, channels);
        else if (enhance != 0)
            enhanceClassic(samples, frames, channels);
    }

    if (load_relaxed(settings.meterRequest) != 0)
        store_peaks(settings.meterPeakOut, measurePeaks(samples, frames, channels));
}

void applyEngineResets(uint32_t resetBits) {
    MultibandState& state = settings.multiband;
    if (resetBits & engineResetBandGains) {
        for (int b = 0; b < 4; ++b) {
            store_relaxed(state.bandGains[b], 1.0);
            store_relaxed(state.bandGainReadouts[b], 1.0f);
        }
    }
    if (resetBits & engineResetHistories) {
        for (auto& history : state.bandHistories)
            for (float& v : history) v = 0.0f;
        for (float& v : settings.limiterHistory) v = 0.0f;
    }
    if (resetBits & engineResetAgcGains) {
        store_relaxed(state.agcGains[0], 1.0);
        store_relaxed(state.agcGains[1], 1.0);
    }
    if (resetBits & engineResetClassicGain) settings.classicGain = 1.0f;
}

static void adopt_crossover_design(const CrossoverBank& design) {
    for (int i = 0; i < 6; ++i)
        copyCrossoverCoefficients(settings.multiband.crossovers.sections[i], design.sections[i]);
}

void adoptEngineParameters() {
    ClassicCoefficients classic;
    if (mailbox_take(settings.classicMailbox, classic)) settings.engineClassic = classic;

    // The configuration is large; take it straight from the consumer's slot.
    static MultibandConfig config;
    if (mailbox_take(settings.multibandMailbox, config)) {
        settings.engineMultiband = config.params;
        adopt_crossover_design(config.design);
    }

    const uint32_t resets =
        std::atomic_ref<uint32_t>(settings.pendingResets).exchange(0, std::memory_order_acquire);
    if (resets != 0) applyEngineResets(resets);
}

void publishClassicCoefficients(const ClassicCoefficients& coefficients) {
    if (audio_thread_active) {
        adoptEngineParameters();
        settings.engineClassic = coefficients;
        return;
    }
    settings.gainCeiling = coefficients.gainCeiling;
    settings.gainUpStep = coefficients.gainUpStep;
    settings.gainDownStep = coefficients.gainDownStep;
    mailbox_back(settings.classicMailbox) = coefficients;
    mailbox_publish(settings.classicMailbox);
}

void publishMultibandConfig(const MultibandConfig& config, uint32_t resetBits) {
    if (audio_thread_active) {
        adoptEngineParameters();
        settings.engineMultiband = config.params;
        adopt_crossover_design(config.design);
        applyEngineResets(resetBits);
        return;
    }
    settings.multibandParams = config.params;
    mailbox_back(settings.multibandMailbox) = config;
    mailbox_publish(settings.multibandMailbox);
    requestEngineResets(resetBits);
}

void requestEngineResets(uint32_t resetBits) {
    if (resetBits == 0) return;
    if (audio_thread_active) {
        applyEngineResets(resetBits);
        return;
    }
    std::atomic_ref<uint32_t>(settings.pendingResets).fetch_or(resetBits, std::memory_order_release);
}
