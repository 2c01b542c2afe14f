// The settings file dsp_redozer.ini: where it lives (beside the library or in
// the per-user profile sub-folder, steered by the tag file zb_local.ini), how it
// is read once at start and rewritten whole when the dialog closes.
//
// Every routine returns 1 for success and 0 for failure; nothing is reported.
// A failing read or write leaves the settings in memory as they are.
#include "settings/settings_file.h"

#include <cctype>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "settings/platform.h"
#include "settings/eq_preset_slots.h"
#include "settings/plugin_settings.h"

static constexpr const char* settings_file_name = "dsp_redozer.ini";
static constexpr const char* profile_folder_name = "dsp_redozer";
static constexpr const char* tag_file_name = "zb_local.ini";
static constexpr const char* temporary_suffix = ".tmp";
static constexpr int module_path_size = 300;  // the tag file's path buffer
static constexpr int ini_path_size = 1000;    // settings-file paths and lines

// Appends text to the path in buffer when the result fits; returns 1 or 0.
static int append_text(char* buffer, int size, const char* text) {
    size_t used = strlen(buffer);
    size_t extra = strlen(text);
    if (used + extra >= static_cast<size_t>(size)) return 0;
    memcpy(buffer + used, text, extra + 1);
    return 1;
}

// Replaces everything after the last separator of the path with name.
static int replace_file_name(char* buffer, int size, const char* name) {
    char* separator = strrchr(buffer, path_separator);
    if (separator == nullptr) return 0;
    separator[1] = '\0';
    return append_text(buffer, size, name);
}

int local_tag_file(int mode) {
    char path[module_path_size];
    // A module path that does not fit whole would put the tag file into
    // another folder: then there is no tag file to check, create or delete.
    if (platform_module_path(path, module_path_size) == 0) return 0;
    if (!replace_file_name(path, module_path_size, tag_file_name)) return 0;
    if (mode == 2)
        platform_delete_file(path);
    else if (mode == 1)
        platform_create_new_file(path);
    return platform_file_exists(path);
}

int dll_folder_ini_path(char* buffer, int size) {
    if (buffer == nullptr || size <= 0) return 0;
    buffer[0] = '\0';
    if (platform_module_path(buffer, size) == 0) return 0;
    char* separator = strrchr(buffer, path_separator);
    if (separator == nullptr) return 0;
    for (char* c = separator; *c != '\0'; ++c)
        *c = static_cast<char>(tolower(static_cast<unsigned char>(*c)));
    // Only the exact name, terminator included, passes.
    if (strcmp(separator + 1, module_file_name) != 0) return 0;
    return replace_file_name(buffer, size, settings_file_name);
}

int profile_ini_path(char* buffer, int create) {
    if (buffer == nullptr) return 0;
    buffer[0] = '\0';
    if (!platform_user_config_folder(buffer, ini_path_size)) return 0;
    // The per-user folder itself may be missing on a fresh POSIX account.
    if (create && !platform_folder_exists(buffer) && !platform_create_folder(buffer)) return 0;
    const char separator[2] = {path_separator, '\0'};
    if (!append_text(buffer, ini_path_size, separator) ||
        !append_text(buffer, ini_path_size, profile_folder_name))
        return 0;
    if (!platform_folder_exists(buffer)) {
        if (!create || !platform_create_folder(buffer)) return 0;
    }
    if (!append_text(buffer, ini_path_size, separator) ||
        !append_text(buffer, ini_path_size, settings_file_name))
        return 0;
    return 1;
}

// ---- Reading ----------------------------------------------------------------

// Leading-digits decimal value as atoi reads it (leading blanks, a sign, the
// digits), saturating at the limits of int instead of overflowing.
static int decimal_value(const char* text) {
    while (isspace(static_cast<unsigned char>(*text))) ++text;
    bool negative = false;
    if (*text == '+' || *text == '-') negative = *text++ == '-';
    long long value = 0;
    for (; *text >= '0' && *text <= '9'; ++text) {
        value = value * 10 + (*text - '0');
        if (value > static_cast<long long>(INT_MAX) + 1) value = static_cast<long long>(INT_MAX) + 1;
    }
    if (negative) value = -value;
    if (value > INT_MAX) value = INT_MAX;
    return static_cast<int>(value);
}

// The stored width keeps the low bits, as an assignment to the field does.
static uint8_t low_8_bits(int value) { return static_cast<uint8_t>(static_cast<unsigned>(value)); }
static uint16_t low_16_bits(int value) { return static_cast<uint16_t>(static_cast<unsigned>(value)); }

// Copies text and its terminator into a string field with strcpy semantics:
// characters after the new terminator keep what was there.
static void copy_string_field(char* field, const char* text, size_t length) {
    for (size_t i = 0; i < length; ++i) store_relaxed(field[i], text[i]);
    store_relaxed(field[length], '\0');
}

// Band values at fixed positions; a band whose position lies past the end of
// the value (a value shorter than the zero-padded form) keeps its setting.
static void read_band_values(const char* value, int spacing, bool frequencies) {
    size_t length = strlen(value);
    for (int band = 0; band < 3; ++band) {
        size_t position = static_cast<size_t>(band * spacing);
        if (position >= length) break;
        uint16_t v = low_16_bits(decimal_value(value + position));
        if (frequencies)
            store_relaxed(settings.eq_bands[band].frequency, v);
        else
            store_relaxed(settings.eq_bands[band].gain, v);
    }
}

static void store_eq_preset_line(const char* value, size_t raw_length) {
    // A record without its full numeric prefix cannot be listed or applied.
    if (!eq_preset_record_valid(value)) return;
    int slot = first_empty_eq_preset_slot();
    if (slot >= presetSlotCount) return;
    char* copy = static_cast<char*>(malloc(raw_length + 4));
    if (copy == nullptr) return;
    memcpy(copy, value, strlen(value) + 1);
    settings.eq_preset_slots[slot] = copy;
}

struct ByteSetting {
    const char* key;
    uint8_t PluginSettings::*field;
};

static const ByteSetting byte_settings[] = {
    {"enhance", &PluginSettings::enhance},     {"stereo_width", &PluginSettings::stereo_width},
    {"hpcutoff", &PluginSettings::hpcutoff},   {"amp_max", &PluginSettings::amp_max},
    {"amp_up", &PluginSettings::amp_up},       {"amp_dwn", &PluginSettings::amp_dwn},
    {"threshold", &PluginSettings::threshold}, {"tab_sel", &PluginSettings::tab_sel},
};

// The output stage's keys; a value outside its range keeps the setting.
struct OutputStageKey {
    const char* key;
    int low, high;
    void (*store)(int value);
};

static const OutputStageKey output_stage_keys[] = {
    {"loudness_target", 0, 1, [](int v) { store_relaxed(settings.loudness_target, static_cast<uint8_t>(v)); }},
    {"target_lufs", 50, 400, [](int v) { store_relaxed(settings.target_lufs, static_cast<int16_t>(v)); }},
    {"tp_limit", 0, 1, [](int v) { store_relaxed(settings.tp_limit, static_cast<uint8_t>(v)); }},
    {"tp_ceiling", 0, 120, [](int v) { store_relaxed(settings.tp_ceiling, static_cast<int16_t>(v)); }},
    {"band_hold", 0, 1, [](int v) { store_relaxed(settings.band_hold, static_cast<uint8_t>(v)); }},
    {"level_mode", 0, 1, [](int v) { store_relaxed(settings.level_mode, static_cast<uint8_t>(v)); }},
    {"tp_mode", 0, 2, [](int v) { store_relaxed(settings.tp_mode, static_cast<uint8_t>(v)); }},
};

static void read_output_stage_line(const char* key, const char* value) {
    for (const OutputStageKey& k : output_stage_keys) {
        if (strcmp(key, k.key) != 0) continue;
        const int v = decimal_value(value);
        if (v >= k.low && v <= k.high) k.store(v);
        return;
    }
}

// One line of the file (at most 999 characters, maybe without line end).
static void read_line(char* line) {
    char* equals = strchr(line, '=');
    if (equals == nullptr) return;
    *equals = '\0';
    const char* key = line;
    char* value = equals + 1;
    // The raw length counts the line end; the last character goes, whatever it is.
    size_t raw_length = strlen(value);
    if (raw_length > 0) value[raw_length - 1] = '\0';
    size_t length = strlen(value);

    for (const ByteSetting& s : byte_settings) {
        if (strcmp(key, s.key) == 0) {
            store_relaxed(settings.*s.field, low_8_bits(decimal_value(value)));
            return;
        }
    }
    if (strcmp(key, "eq_enable") == 0) {
        store_relaxed(settings.eq_enable, static_cast<int32_t>(decimal_value(value)));
    } else if (strcmp(key, "eq") == 0) {
        read_band_values(value, 4, false);
    } else if (strcmp(key, "eq_f") == 0) {
        read_band_values(value, 6, true);
    } else if (strcmp(key, "enh_multi1") == 0) {
        if (raw_length < sizeof settings.strings.enh_multi1)
            copy_string_field(settings.strings.enh_multi1, value, length);
    } else if (strcmp(key, "enh_multi2") == 0) {
        if (raw_length < sizeof settings.strings.enh_multi2)
            copy_string_field(settings.strings.enh_multi2, value, length);
    } else if (strcmp(key, "enh_limiter") == 0) {
        if (raw_length < sizeof settings.strings.enh_limiter)
            copy_string_field(settings.strings.enh_limiter, value, length);
    } else if (strcmp(key, "enh_eq_set") == 0) {
        store_eq_preset_line(value, raw_length);
    } else {
        read_output_stage_line(key, value);
    }
}

void settings_read_lines(FILE* file) {
    char line[ini_path_size];
    while (fgets(line, sizeof line, file) != nullptr) read_line(line);
}

void settings_read_file(const char* path) {
    FILE* file = fopen(path, "r");
    if (file == nullptr) return;
    settings_read_lines(file);
    fclose(file);
}

void settings_load() {
    settings.local_tag_present = local_tag_file(0);
    settings.use_profile_ini = 0;

    char path[ini_path_size];
    if (!settings.local_tag_present && profile_ini_path(path, 0)) {
        settings.use_profile_ini = 1;
    } else if (!dll_folder_ini_path(path, ini_path_size)) {
        return;
    }

    settings_read_file(path);
}

// ---- Writing ----------------------------------------------------------------

// A consistent copy of a string field that another thread may be editing,
// always terminated within the field.
template <size_t N>
static void snapshot_field(char (&out)[N], const char (&field)[N]) {
    for (size_t i = 0; i < N; ++i) out[i] = load_relaxed(field[i]);
    out[N - 1] = '\0';
}

// The output stage's lines, only when one of them differs from its default:
// a file of an installation that never used the stage stays as it was.
static void write_output_stage_lines(FILE* file) {
    const int values[4] = {load_relaxed(settings.loudness_target), load_relaxed(settings.target_lufs),
                           load_relaxed(settings.tp_limit), load_relaxed(settings.tp_ceiling)};
    if (values[0] != defaultLoudnessTarget || values[1] != defaultTargetLufs ||
        values[2] != defaultTpLimit || values[3] != defaultTpCeiling)
        for (int i = 0; i < 4; ++i) fprintf(file, "%s=%d\n", output_stage_keys[i].key, values[i]);
    // The clean sound's choices, each only when it is not 0.
    const int choices[3] = {load_relaxed(settings.band_hold), load_relaxed(settings.level_mode),
                            load_relaxed(settings.tp_mode)};
    for (int i = 0; i < 3; ++i)
        if (choices[i] != 0) fprintf(file, "%s=%d\n", output_stage_keys[4 + i].key, choices[i]);
}

static int write_settings(FILE* file) {
    MultibandStrings strings;
    snapshot_field(strings.enh_multi1, settings.strings.enh_multi1);
    snapshot_field(strings.enh_multi2, settings.strings.enh_multi2);
    snapshot_field(strings.enh_limiter, settings.strings.enh_limiter);
    uint16_t gains[3], frequencies[3];
    for (int b = 0; b < 3; ++b) {
        gains[b] = load_relaxed(settings.eq_bands[b].gain);
        frequencies[b] = load_relaxed(settings.eq_bands[b].frequency);
    }

    fprintf(file, "[zobrin dsp]\n");
    fprintf(file, "enhance=%d\n", load_relaxed(settings.enhance));
    fprintf(file, "stereo_width=%d\n", load_relaxed(settings.stereo_width));
    fprintf(file, "hpcutoff=%d\n", load_relaxed(settings.hpcutoff));
    fprintf(file, "amp_max=%d\n", load_relaxed(settings.amp_max));
    fprintf(file, "amp_up=%d\n", load_relaxed(settings.amp_up));
    fprintf(file, "amp_dwn=%d\n", load_relaxed(settings.amp_dwn));
    fprintf(file, "threshold=%d\n", load_relaxed(settings.threshold));
    fprintf(file, "tab_sel=%d\n", load_relaxed(settings.tab_sel));
    fprintf(file, "eq_enable=%d\n", static_cast<int>(load_relaxed(settings.eq_enable)));
    fprintf(file, "eq=%.3d,%.3d,%.3d\n", gains[0], gains[1], gains[2]);
    fprintf(file, "eq_f=%.5d,%.5d,%.5d\n", frequencies[0], frequencies[1], frequencies[2]);
    fprintf(file, "enh_multi1=%s\n", strings.enh_multi1);
    fprintf(file, "enh_multi2=%s\n", strings.enh_multi2);
    fprintf(file, "enh_limiter=%s\n", strings.enh_limiter);
    write_output_stage_lines(file);
    for (int slot = builtinEqPresetCount; slot < presetSlotCount; ++slot) {
        const char* record = settings.eq_preset_slots[slot];
        if (record == nullptr) break;
        fprintf(file, "enh_eq_set=%s\n", record);
    }
    return ferror(file) == 0 ? 1 : 0;
}

// Writes the whole file beside path and then puts it in place, so the old
// file stays intact until the new one is complete. Returns 1 when the new
// content is in place; on failure no temporary file is left behind.
static int write_settings_file(const char* path) {
    char temporary[ini_path_size];
    temporary[0] = '\0';
    if (!append_text(temporary, ini_path_size, path) ||
        !append_text(temporary, ini_path_size, temporary_suffix))
        return 0;
    FILE* file = fopen(temporary, "w");
    if (file == nullptr) return 0;
    int written = write_settings(file);
    if (written) written = platform_flush_file(file);
    if (fclose(file) != 0) written = 0;
    if (written && platform_replace_file(temporary, path)) return 1;
    remove(temporary);
    return 0;
}

void settings_save() {
    char path[ini_path_size];
    int use_profile = settings.use_profile_ini;
    int formed = use_profile ? profile_ini_path(path, 0) : dll_folder_ini_path(path, ini_path_size);
    if (!formed) return;
    if (write_settings_file(path)) return;

    // The tag file forces the library's folder: no fallback.
    if (settings.local_tag_present) return;
    if (!use_profile && !profile_ini_path(path, 1)) return;
    write_settings_file(path);
}
