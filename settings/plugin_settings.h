// The one process-wide parameter block and the settings model around it:
// user settings with their defaults, preset slot tables, the multiband strings,
// the plug-in's one engine instance, and the state of every other subsystem
// that lives for the whole process.
#pragma once

#include <cstdint>

#include "dsp/engine.h"
#include "dsp/multiband_strings.h"
#include "dsp/shared_access.h"

constexpr int presetSlotCount = 30;
constexpr int builtinEqPresetCount = 9;

// What "[ Restore previous ]" of the Enhancer 1 page brings back.
struct EnhancerSnapshot {
    uint8_t stereo_width, hpcutoff, amp_max, amp_up, amp_dwn, threshold;
    EqBand eq_bands[3];
    int32_t classic_was_on;
    int32_t eq_enable;
};

struct PluginSettings {
    // User settings, persisted in the settings file.
    uint8_t stereo_width;
    uint8_t amp_max;
    uint8_t amp_up;
    uint8_t amp_dwn;
    uint8_t hpcutoff;
    uint8_t threshold;
    uint8_t tab_sel;
    uint8_t enhance;   // 0 off, 1 classic enhancer, 2 multiband engine
    int32_t eq_enable;
    EqBand eq_bands[3];
    // The output stage: loudness target (tenths of a LU below 0) and the
    // true-peak ceiling (tenths of a dB below 0 dBTP), each with its switch.
    uint8_t loudness_target;
    uint8_t tp_limit;
    int16_t target_lufs;
    int16_t tp_ceiling;
    // Choices for a clean sound, 0 (as before) by default: the multiband
    // engine's held-peak band gain computers, the leveller's mode (0 running
    // mean, 1 long-term mean per programme) and the ceiling's (0 fixed
    // release, 1 long release, 2 long release and brake).
    uint8_t band_hold;
    uint8_t level_mode;
    uint8_t tp_mode;
    // A programme loudness told by the host (two passes): the value, then the
    // sequence number, which the next block compares with the last it took.
    float programme_lufs;
    uint32_t programme_sequence;
    uint8_t measuring_pass;  // 1: blocks skip the output stage (a host's first pass)
    const char* eq_preset_slots[presetSlotCount];  // 0..8 built-in constants, 9.. heap
    char* multiband_preset_slots[presetSlotCount]; // heap, memory only
    MultibandStrings strings;

    int32_t init_state;  // 0 nothing done, 1 Init done, 2 a 16-bit block was processed
    int32_t use_profile_ini;
    int32_t local_tag_present;

    // Stream format of the last 16-bit block, and the library instance for the dialog.
    void* resource_instance;
    int32_t sample_rate;
    int32_t channel_count;
    int32_t bits_per_sample;

    // Level meter taps.
    uint8_t meterRequest;
    int32_t meterPeakIn[2];
    int32_t meterPeakOut[2];
    // The output stage's readings after the last block, for the Misc page:
    // the leveller's programme loudness (LUFS, not a number before any), its
    // gain and the ceiling's deepest reduction (dB, positive).
    float stageProgrammeLufs;
    float stageGainDb;
    float stageReductionDb;

    // The plug-in's engine instance: parameters, state and hand-over. Zero at
    // load like the rest of the block; the first 16-bit block computes its
    // parameters with every reset. It owns no work buffers; each block obtains
    // and releases its own.
    Engine engine;

    // Pages' process-wide state.
    EnhancerSnapshot enhancer_snapshot;
    int32_t meter_levels[4];
    int32_t meter_amp;
    int32_t level_fall_step;
    int32_t amp_rise_step;
    void* rich_edit_library;
    int32_t about_scroll_x;
    int32_t about_scroll_y;
    char page_text[1000];  // the pages' shared text buffer
};

extern PluginSettings settings;

// One-time initialisation (defaults, built-in presets, strings, settings file).
int settings_initialise();

// Sets every scalar user setting to its default (engine mode, enhancer, equalizer, tab;
// the output stage's settings too).
void settings_set_defaults();

// The output stage's defaults: both switches off, target -16 LUFS, ceiling -1 dBTP.
constexpr uint8_t defaultLoudnessTarget = 0;
constexpr int16_t defaultTargetLufs = 160;
constexpr uint8_t defaultTpLimit = 0;
constexpr int16_t defaultTpCeiling = 10;

// The user settings as they stand before the settings file is read: the
// defaults, only the built-in presets, the default multiband strings.
void settings_set_start_values();

// Returns the block to its state at load: releases the user preset texts and
// zeroes everything. For tests, which need a fresh process-wide state.
void settings_reset_to_load_state();

// Built-in Enhancer presets, slots 0..8.
extern const char* const builtin_eq_presets[builtinEqPresetCount];
