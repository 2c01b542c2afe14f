// Parameter hand-over between threads for one engine instance.
#include "dsp/handover.h"

#include <atomic>

#include "dsp/crossover.h"

static thread_local bool audio_thread_active = false;

bool audioThreadActive() { return audio_thread_active; }
void setAudioThreadActive(bool active) { audio_thread_active = active; }

void applyEngineResets(Engine& e, uint32_t resetBits) {
    MultibandState& state = e.multiband;
    if (resetBits & engineResetBandGains) {
        for (int b = 0; b < 4; ++b) {
            store_relaxed(state.bandGains[b], 1.0);
            store_relaxed(state.bandGainReadouts[b], 1.0f);
            state.heldPeaks[b] = HeldPeak{0.0f, 0};
        }
    }
    if (resetBits & engineResetHistories) {
        for (auto& history : state.bandHistories)
            for (float& v : history) v = 0.0f;
        for (float& v : e.limiterHistory) v = 0.0f;
    }
    if (resetBits & engineResetAgcGains) {
        store_relaxed(state.agcGains[0], 1.0);
        store_relaxed(state.agcGains[1], 1.0);
    }
    if (resetBits & engineResetClassicGain) e.classicGain = 1.0f;
}

static void adopt_crossover_design(Engine& e, const CrossoverBank& design) {
    for (int i = 0; i < 6; ++i)
        copyCrossoverCoefficients(e.multiband.crossovers.sections[i], design.sections[i]);
}

void adoptEngineParameters(Engine& e) {
    ClassicCoefficients classic;
    if (mailbox_take(e.classicMailbox, classic)) e.engineClassic = classic;

    // The configuration is large; take it into the instance's own copy.
    if (mailbox_take(e.multibandMailbox, e.adoptedMultiband)) {
        e.engineMultiband = e.adoptedMultiband.params;
        adopt_crossover_design(e, e.adoptedMultiband.design);
    }

    const uint32_t resets =
        std::atomic_ref<uint32_t>(e.pendingResets).exchange(0, std::memory_order_acquire);
    if (resets != 0) applyEngineResets(e, resets);
}

void publishClassicCoefficients(Engine& e, const ClassicCoefficients& coefficients) {
    if (audio_thread_active) {
        adoptEngineParameters(e);
        e.engineClassic = coefficients;
        return;
    }
    e.gainCeiling = coefficients.gainCeiling;
    e.gainUpStep = coefficients.gainUpStep;
    e.gainDownStep = coefficients.gainDownStep;
    mailbox_back(e.classicMailbox) = coefficients;
    mailbox_publish(e.classicMailbox);
}

void publishMultibandConfig(Engine& e, const MultibandConfig& config, uint32_t resetBits) {
    if (audio_thread_active) {
        adoptEngineParameters(e);
        e.engineMultiband = config.params;
        adopt_crossover_design(e, config.design);
        applyEngineResets(e, resetBits);
        return;
    }
    e.multibandParams = config.params;
    mailbox_back(e.multibandMailbox) = config;
    mailbox_publish(e.multibandMailbox);
    requestEngineResets(e, resetBits);
}

void requestEngineResets(Engine& e, uint32_t resetBits) {
    if (resetBits == 0) return;
    if (audio_thread_active) {
        applyEngineResets(e, resetBits);
        return;
    }
    std::atomic_ref<uint32_t>(e.pendingResets).fetch_or(resetBits, std::memory_order_release);
}
