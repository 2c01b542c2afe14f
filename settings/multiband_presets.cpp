// The multiband strings of the parameter block: loading presets, the page's
// snapshot and the user preset records.
#include "settings/multiband_presets.h"

#include <cstdio>
#include <cstring>

#include "settings/plugin_settings.h"

MultibandSnapshot multiband_snapshot;

// strcpy into a field, kept inside it: bytes after the new terminator keep
// what they held.
static void store_field(char* field, int size, const char* text, int length) {
    if (length > size - 1) length = size - 1;
    for (int i = 0; i < length; ++i) store_relaxed(field[i], text[i]);
    store_relaxed(field[length], '\0');
}

static void store_strings(const char* multi1, const char* multi2, const char* limiter) {
    MultibandStrings& s = settings.strings;
    if (multi1 != nullptr)
        store_field(s.enh_multi1, sizeof s.enh_multi1, multi1, static_cast<int>(strlen(multi1)));
    if (multi2 != nullptr)
        store_field(s.enh_multi2, sizeof s.enh_multi2, multi2, static_cast<int>(strlen(multi2)));
    if (limiter != nullptr)
        store_field(s.enh_limiter, sizeof s.enh_limiter, limiter,
                    static_cast<int>(strlen(limiter)));
}

void loadMultibandPreset(int number) {
    if (number == restorePreviousMultibandPreset) {
        store_strings(multiband_snapshot.multi1, multiband_snapshot.multi2,
                      multiband_snapshot.limiter);
        return;
    }
    const int row = number - firstBuiltinMultibandPreset;
    if (row < 0 || row >= builtinMultibandPresetCount) return;
    const BuiltinMultibandPreset& preset = builtin_multiband_presets[row];
    store_strings(preset.multi1, preset.multi2, preset.limiter);
}

// A field of the strings block as a terminated text, read with relaxed loads.
template <int Size>
static void read_field(char (&out)[Size], const char* field) {
    copy_chars_relaxed(out, field, Size - 1);
    out[Size - 1] = '\0';
}

void formatMultibandPresetRecord(char* out, int size, const char* name) {
    if (out == nullptr || size <= 0) return;
    char multi1[sizeof settings.strings.enh_multi1 + 1];
    char multi2[sizeof settings.strings.enh_multi2 + 1];
    char limiter[sizeof settings.strings.enh_limiter + 1];
    read_field(multi1, settings.strings.enh_multi1);
    read_field(multi2, settings.strings.enh_multi2);
    read_field(limiter, settings.strings.enh_limiter);
    snprintf(out, static_cast<size_t>(size), "%s##%s##%s##%s", multi1, multi2, limiter,
             name != nullptr ? name : "");
}

int applyMultibandPresetRecord(const char* record) {
    if (record == nullptr) return 0;
    const char* pieces[3];
    int lengths[3];
    const char* start = record;
    for (int k = 0; k < 3; ++k) {
        const char* separator = strchr(start, '#');
        if (separator == nullptr) return 0;
        pieces[k] = start;
        lengths[k] = static_cast<int>(separator - start);
        // Skip the separator's two characters, never past the terminator.
        start = separator + 1;
        if (*start != '\0') ++start;
    }
    MultibandStrings& s = settings.strings;
    store_field(s.enh_multi1, sizeof s.enh_multi1, pieces[0], lengths[0]);
    store_field(s.enh_multi2, sizeof s.enh_multi2, pieces[1], lengths[1]);
    store_field(s.enh_limiter, sizeof s.enh_limiter, pieces[2], lengths[2]);
    return 1;
}

const char* multibandPresetRecordName(const char* record) {
    if (record == nullptr) return nullptr;
    const char* last = strrchr(record, '#');
    return last != nullptr ? last + 1 : nullptr;
}

namespace {
// The output stage presets' engine: the default split, level and stereo;
// bands of at most 2x at the default release; limiter and soft clip off.
constexpr const char* clean_multi1 = "m---f00300f03000f00000------------l020s025";
constexpr const char* clean_multi2 =
    "----m011u051d088t046m011u051d085t051m011u051d085t030m011u051d085t030----------------";
constexpr const char* clean_limiter = "------th240re040ce300kn055ra201at025ho000";
}  // namespace

const OutputStagePreset output_stage_presets[outputStagePresetCount] = {
    // the level most streaming services play at, -1 dBTP
    {"Streaming -14", 140, 10, clean_multi1, clean_multi2, clean_limiter, 1, 1, 2},
    {"Streaming -16", 160, 10, clean_multi1, clean_multi2, clean_limiter, 1, 1, 2},
    // EBU R128: -23 LUFS, -1 dBTP
    {"Broadcast -23", 230, 10, clean_multi1, clean_multi2, clean_limiter, 1, 1, 2},
};
