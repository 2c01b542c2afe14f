// The multiband strings: parsing into engine parameters, built-in presets and
// user preset records.
#pragma once

#include "dsp/engine_types.h"

// flags: bit 0 band gains and read-outs to 1.0, bit 1 delay histories cleared,
// any value above 0 also sets the AGC gains to 1.0. Rate 0 means 44100 Hz.
void parseMultibandStrings(int flags, int sampleRate, int channels);

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

// The page's snapshot of the strings, copied back by preset number 20.
struct MultibandSnapshot {
    char* multi1;
    char* multi2;
    char* limiter;
};
extern MultibandSnapshot multiband_snapshot;

// Number 20 copies multiband_snapshot (null pieces are skipped), 21..29 the
// built-in rows; anything else does nothing. Does not parse.
void loadMultibandPreset(int number);

constexpr int multibandPresetRecordSize = 300;
// Writes "%s##%s##%s##%s" of the current strings and the name into out.
void formatMultibandPresetRecord(char* out, int size, const char* name);
// Returns 1 when the record had all three separators and was applied, else 0.
int applyMultibandPresetRecord(const char* record);
// The name of a record: the text after its last '#'; null when the record has
// no '#' at all (the page ends its listing at such a record).
const char* multibandPresetRecordName(const char* record);
