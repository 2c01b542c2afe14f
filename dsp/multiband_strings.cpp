// Multiband strings. Stub until the multiband work lands.
#include "dsp/multiband_strings.h"

MultibandSnapshot multiband_snapshot;
const BuiltinMultibandPreset builtin_multiband_presets[builtinMultibandPresetCount] = {};

void parseMultibandStrings(int, int, int) {}
MultibandParams convertMultibandStrings(const char*, const char*, const char*, int) { return {}; }
void loadMultibandPreset(int) {}
void formatMultibandPresetRecord(char* out, int size, const char*) {
    if (size > 0) out[0] = '\0';
}
int applyMultibandPresetRecord(const char*) { return 0; }
const char* multibandPresetRecordName(const char* record) { return record; }
