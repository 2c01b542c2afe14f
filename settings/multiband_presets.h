// The parameter block's multiband strings: loading a preset into them, the
// page's snapshot and the user preset records.
#pragma once

#include <cstdint>

#include "dsp/multiband_strings.h"

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

// The output stage's presets: the multiband engine with their own strings
// (gentle bands, no soft clip, no engine limiter: the stage makes the
// loudness and keeps the peaks), the loudness target and the true-peak
// ceiling on (tenths below 0, as the settings hold them) and the clean
// sound's choices (band_hold, level_mode, tp_mode).
struct OutputStagePreset {
    const char* name;
    int16_t targetLufs;
    int16_t tpCeiling;
    const char* multi1;
    const char* multi2;
    const char* limiter;
    uint8_t bandHold, levelMode, tpMode;
};
constexpr int outputStagePresetCount = 3;
extern const OutputStagePreset output_stage_presets[outputStagePresetCount];
