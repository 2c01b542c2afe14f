// Temporary adapter: the engine instance interface over the process-wide
// parameter block, until the engine becomes an instance record. One instance
// per process only; removed when the instance engine lands.
#pragma once

#include <cstdint>

#include "dsp/classic.h"
#include "dsp/multiband.h"
#include "dsp/multiband_strings.h"
#include "dsp/pipeline.h"
#include "settings/plugin_settings.h"

struct EngineControls {
    uint8_t enhance;
    uint8_t stereo_width;
    uint8_t hpcutoff;
    uint8_t threshold;
    int32_t eq_enable;
    EqBand eq_bands[3];
};

struct Engine {
    float& classicGain = settings.classicGain;
    MultibandState& multiband = settings.multiband;
};

inline void engineInitialise(Engine&) {}
inline bool engineReserveWork(Engine&, int) { return true; }
inline void engineReleaseWork(Engine&) {}

inline void computeClassicCoefficients(Engine&, int ampMax, int ampUp, int ampDown, int reset,
                                       int rate) {
    settings.amp_max = static_cast<uint8_t>(ampMax);
    settings.amp_up = static_cast<uint8_t>(ampUp);
    settings.amp_dwn = static_cast<uint8_t>(ampDown);
    computeClassicCoefficients(1, reset, rate, 0);
}

inline void parseMultibandStrings(Engine&, const MultibandStrings& strings, int flags, int rate,
                                  int channels) {
    settings.strings = strings;
    parseMultibandStrings(flags, rate, channels);
}

inline void processBlock(Engine&, const EngineControls& c, int16_t* samples, int frames,
                         int channels, int rate) {
    settings.enhance = c.enhance;
    settings.stereo_width = c.stereo_width;
    settings.hpcutoff = c.hpcutoff;
    settings.threshold = c.threshold;
    settings.eq_enable = c.eq_enable;
    for (int b = 0; b < 3; ++b) settings.eq_bands[b] = c.eq_bands[b];
    settings.sample_rate = rate;
    settings.channel_count = channels;
    settings.bits_per_sample = 16;
    processBlock(samples, frames, channels);
}
