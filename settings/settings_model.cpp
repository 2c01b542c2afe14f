// Defaults, built-in presets and the one-time initialisation.
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
    store_relaxed(settings.band_hold, uint8_t{0});
    store_relaxed(settings.level_mode, uint8_t{0});
    store_relaxed(settings.tp_mode, uint8_t{0});
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
