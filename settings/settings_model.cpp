// Defaults, built-in presets and the EqPresetRecord operations.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "settings/plugin_settings.h"
#include "settings/settings_file.h"

PluginSettings settings;

const char* const builtin_eq_presets[builtinEqPresetCount] = {
    "040,040,056,092,079,019,1,00100,01000,10000,050,050,050,   [ Night ]",
    "020,042,044,075,078,041,1,00100,01000,10000,050,050,050,   [ Party ]",
    "000,047,022,058,081,000,1,00100,01000,10000,050,050,050,   [ Club ]",
    "040,035,078,109,080,058,3,00100,01000,08000,050,060,040,   [ AC Radio ]",
    "000,000,056,083,066,100,1,00100,01000,10000,050,050,050,   [ Simple loud ]",
    "020,046,067,093,082,013,1,00100,01000,10000,050,050,050,   [ Pump reduce ]",
    "000,000,078,000,039,100,1,00100,01000,10000,050,050,050,   [ Normalize ]",
    "000,000,078,029,082,026,1,00100,01000,10000,050,050,050,   [ Careful ]",
    "000,000,078,029,082,026,2,00100,01000,10000,050,080,050,   [ Equalizer ]",
};

static void release_user_presets() {
    for (int i = builtinEqPresetCount; i < presetSlotCount; ++i) {
        free(const_cast<char*>(settings.eq_preset_slots[i]));
        settings.eq_preset_slots[i] = nullptr;
    }
    for (int i = 0; i < presetSlotCount; ++i) {
        free(settings.multiband_preset_slots[i]);
        settings.multiband_preset_slots[i] = nullptr;
    }
}

void settings_reset_to_load_state() {
    release_user_presets();
    settings = PluginSettings{};
}

static void store_string(char* field, int size, const char* text) {
    int n = static_cast<int>(strlen(text));
    if (n > size - 1) n = size - 1;
    for (int i = 0; i < n; ++i) store_relaxed(field[i], text[i]);
    store_relaxed(field[n], '\0');
}

void settings_set_defaults() {
    store_relaxed(settings.enhance, uint8_t{1});
    store_relaxed(settings.stereo_width, uint8_t{20});
    store_relaxed(settings.hpcutoff, uint8_t{0});
    store_relaxed(settings.amp_max, uint8_t{56});
    store_relaxed(settings.amp_up, uint8_t{70});
    store_relaxed(settings.amp_dwn, uint8_t{76});
    store_relaxed(settings.threshold, uint8_t{79});
    store_relaxed(settings.eq_enable, 0);
    const uint16_t frequencies[3] = {100, 1000, 10000};
    for (int b = 0; b < 3; ++b) {
        store_relaxed(settings.eq_bands[b].gain, uint16_t{50});
        store_relaxed(settings.eq_bands[b].frequency, frequencies[b]);
    }
    store_relaxed(settings.tab_sel, uint8_t{0});
    store_relaxed(settings.loudness_target, defaultLoudnessTarget);
    store_relaxed(settings.target_lufs, defaultTargetLufs);
    store_relaxed(settings.tp_limit, defaultTpLimit);
    store_relaxed(settings.tp_ceiling, defaultTpCeiling);
}

void settings_set_start_values() {
    settings_set_defaults();

    release_user_presets();
    for (int i = 0; i < presetSlotCount; ++i) settings.eq_preset_slots[i] = nullptr;
    for (int i = 0; i < builtinEqPresetCount; ++i) settings.eq_preset_slots[i] = builtin_eq_presets[i];

    store_string(settings.strings.enh_multi1, sizeof settings.strings.enh_multi1, default_enh_multi1);
    store_string(settings.strings.enh_multi2, sizeof settings.strings.enh_multi2, default_enh_multi2);
    store_string(settings.strings.enh_limiter, sizeof settings.strings.enh_limiter, default_enh_limiter);
}

int settings_initialise() {
    if (load_relaxed(settings.init_state) > 0) return 0;

    settings.resource_instance = nullptr;
    settings.rich_edit_library = nullptr;
    settings.about_scroll_x = 0;
    settings.about_scroll_y = 0;
    settings.enhancer_snapshot = EnhancerSnapshot{};
    settings.use_profile_ini = 0;
    settings.local_tag_present = 0;
    memset(settings.page_text, 0, sizeof settings.page_text);
    store_relaxed(settings.init_state, 0);
    settings.level_fall_step = 100;
    settings.amp_rise_step = 100;

    settings_set_start_values();
    settings_load();

    store_relaxed(settings.init_state, 1);
    return 0;
}

// A record can be listed and applied only when its numeric prefix is complete:
// every character before the name offset must exist (no terminator inside it).
int eq_preset_record_valid(const char* record) {
    if (record == nullptr) return 0;
    for (int i = 0; i < eqPresetNameOffset; ++i)
        if (record[i] == '\0') return 0;
    return 1;
}

// Decimal value of the digits field at offset, read as atoi reads it but
// limited to the field, so a record's fields never run into each other.
static int record_field(const char* record, int offset, int digits) {
    char buffer[8];
    memcpy(buffer, record + offset, static_cast<size_t>(digits));
    buffer[digits] = '\0';
    return atoi(buffer);
}

void apply_eq_preset_record(const char* record) {
    if (!eq_preset_record_valid(record)) return;
    store_relaxed(settings.stereo_width, static_cast<uint8_t>(record_field(record, 0, 3)));
    store_relaxed(settings.hpcutoff, static_cast<uint8_t>(record_field(record, 4, 3)));
    store_relaxed(settings.amp_max, static_cast<uint8_t>(record_field(record, 8, 3)));
    store_relaxed(settings.amp_up, static_cast<uint8_t>(record_field(record, 12, 3)));
    store_relaxed(settings.amp_dwn, static_cast<uint8_t>(record_field(record, 16, 3)));
    store_relaxed(settings.threshold, static_cast<uint8_t>(record_field(record, 20, 3)));
    int mode = record_field(record, 24, 1);
    for (int b = 0; b < 3; ++b) {
        store_relaxed(settings.eq_bands[b].frequency,
                      static_cast<uint16_t>(record_field(record, 26 + 6 * b, 5)));
        store_relaxed(settings.eq_bands[b].gain,
                      static_cast<uint16_t>(record_field(record, 44 + 4 * b, 3)));
    }
    store_relaxed(settings.enhance, static_cast<uint8_t>((mode & 1) ? 1 : 0));
    store_relaxed(settings.eq_enable, (mode & 2) ? 1 : 0);
}

void format_eq_preset_record(char* out, int size, const char* name) {
    int mode = (load_relaxed(settings.enhance) == 1 ? 1 : 0) +
               (load_relaxed(settings.eq_enable) != 0 ? 2 : 0);
    snprintf(out, static_cast<size_t>(size),
             "%.3d,%.3d,%.3d,%.3d,%.3d,%.3d,%.1d,%.5d,%.5d,%.5d,%.3d,%.3d,%.3d,%s",
             settings.stereo_width, settings.hpcutoff, settings.amp_max, settings.amp_up,
             settings.amp_dwn, settings.threshold, mode, settings.eq_bands[0].frequency,
             settings.eq_bands[1].frequency, settings.eq_bands[2].frequency,
             settings.eq_bands[0].gain, settings.eq_bands[1].gain, settings.eq_bands[2].gain,
             name);
}

int first_empty_eq_preset_slot() {
    int i = 0;
    while (i < presetSlotCount && settings.eq_preset_slots[i] != nullptr) ++i;
    return i;
}

int delete_eq_preset_slot(int slot) {
    if (slot < builtinEqPresetCount || slot >= presetSlotCount) return 0;
    if (settings.eq_preset_slots[slot] == nullptr) return 0;
    free(const_cast<char*>(settings.eq_preset_slots[slot]));
    for (int i = slot; i + 1 < presetSlotCount; ++i)
        settings.eq_preset_slots[i] = settings.eq_preset_slots[i + 1];
    settings.eq_preset_slots[presetSlotCount - 1] = nullptr;
    return 1;
}
