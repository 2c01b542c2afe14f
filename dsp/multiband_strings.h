// The multiband strings: their conversion into engine parameters (the parse,
// parseMultibandStrings, is declared in dsp/engine.h), the defaults and the
// built-in presets.
#pragma once

#include "dsp/engine.h"

// The default strings.
extern const char* const default_enh_multi1;
extern const char* const default_enh_multi2;
extern const char* const default_enh_limiter;

// Pure conversion of three strings into parameters (no state touched): the
// fields at their fixed positions, steps scaled by 44100 / rate (0 = 44100).
// Reads whole fields: the three pointers must reach 50, 90 and 60 characters.
MultibandParams convertMultibandStrings(const char* multi1, const char* multi2,
                                        const char* limiter, int sampleRate);

constexpr int builtinMultibandPresetCount = 9;
constexpr int firstBuiltinMultibandPreset = 21;
constexpr int restorePreviousMultibandPreset = 20;

struct BuiltinMultibandPreset {
    const char* listText;
    const char* multi1;
    const char* multi2;
    const char* limiter;
};
extern const BuiltinMultibandPreset builtin_multiband_presets[builtinMultibandPresetCount];

