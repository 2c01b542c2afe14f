// Defaults, built-in presets and the Enhancer preset records.
#include <cstring>
#include <string>

#include "settings/eq_preset_slots.h"
#include "tests/test_support.h"

namespace {

class SettingsModel : public EngineTest {};

std::string record_of_current(const char* name) {
    char buffer[128];
    format_eq_preset_record(buffer, sizeof buffer, name);
    return buffer;
}

TEST_F(SettingsModel, DefaultsWithoutASettingsFile) {
    initialise();
    EXPECT_EQ(settings.init_state, 1);
    EXPECT_EQ(settings.enhance, 1);
    EXPECT_EQ(settings.stereo_width, 20);
    EXPECT_EQ(settings.hpcutoff, 0);
    EXPECT_EQ(settings.amp_max, 56);
    EXPECT_EQ(settings.amp_up, 70);
    EXPECT_EQ(settings.amp_dwn, 76);
    EXPECT_EQ(settings.threshold, 79);
    EXPECT_EQ(settings.tab_sel, 0);
    EXPECT_EQ(settings.eq_enable, 0);
    const uint16_t frequencies[3] = {100, 1000, 10000};
    for (int b = 0; b < 3; ++b) {
        EXPECT_EQ(settings.eq_bands[b].gain, 50);
        EXPECT_EQ(settings.eq_bands[b].frequency, frequencies[b]);
    }
    EXPECT_STREQ(settings.strings.enh_multi1, "m---f00300f03000f00000------------l020s025");
    EXPECT_STREQ(settings.strings.enh_multi2,
                 "----m067u051d088t046m067u051d085t051m045u051d085t012m022u058d085t009----------------");
    EXPECT_STREQ(settings.strings.enh_limiter, "l-s---th240re040ce300kn055ra201at025ho000");
    // The strings sit back to back in one 200-byte block.
    EXPECT_EQ(settings.strings.enh_multi2 - settings.strings.enh_multi1, 50);
    EXPECT_EQ(settings.strings.enh_limiter - settings.strings.enh_multi1, 140);

    for (int i = 0; i < builtinEqPresetCount; ++i) EXPECT_EQ(settings.eq_preset_slots[i], builtin_eq_presets[i]);
    for (int i = builtinEqPresetCount; i < presetSlotCount; ++i) EXPECT_EQ(settings.eq_preset_slots[i], nullptr);
    for (int i = 0; i < presetSlotCount; ++i) EXPECT_EQ(settings.multiband_preset_slots[i], nullptr);
    EXPECT_EQ(first_empty_eq_preset_slot(), 9);
    EXPECT_STREQ(settings.eq_preset_slots[8] + eqPresetNameOffset, "   [ Equalizer ]");
}

TEST_F(SettingsModel, SecondInitialisationKeepsChanges) {
    initialise();
    settings.stereo_width = 77;
    settings.enhance = 2;
    strcpy(settings.strings.enh_limiter, "------");
    EXPECT_EQ(settings_initialise(), 0);
    EXPECT_EQ(settings.stereo_width, 77);
    EXPECT_EQ(settings.enhance, 2);
    EXPECT_STREQ(settings.strings.enh_limiter, "------");
}

TEST_F(SettingsModel, BuiltInRecordsDecode) {
    initialise();
    apply_eq_preset_record(builtin_eq_presets[3]);  // "[ AC Radio ]"
    EXPECT_EQ(settings.stereo_width, 40);
    EXPECT_EQ(settings.hpcutoff, 35);
    EXPECT_EQ(settings.amp_max, 78);
    EXPECT_EQ(settings.amp_up, 109);
    EXPECT_EQ(settings.amp_dwn, 80);
    EXPECT_EQ(settings.threshold, 58);
    EXPECT_EQ(settings.enhance, 1);
    EXPECT_EQ(settings.eq_enable, 1);
    EXPECT_EQ(settings.eq_bands[2].frequency, 8000);
    EXPECT_EQ(settings.eq_bands[0].gain, 50);
    EXPECT_EQ(settings.eq_bands[1].gain, 60);
    EXPECT_EQ(settings.eq_bands[2].gain, 40);

    apply_eq_preset_record(builtin_eq_presets[6]);  // "[ Normalize ]"
    EXPECT_EQ(settings.amp_up, 0);
    EXPECT_EQ(settings.threshold, 100);
    EXPECT_EQ(settings.eq_enable, 0);
}

TEST_F(SettingsModel, ApplyingAPresetLeavesTheMultibandMode) {
    initialise();
    settings.enhance = 2;
    apply_eq_preset_record(builtin_eq_presets[8]);  // "[ Equalizer ]"
    EXPECT_EQ(settings.enhance, 0);
    EXPECT_EQ(settings.eq_enable, 1);
    EXPECT_EQ(settings.eq_bands[1].gain, 80);

    settings.enhance = 2;
    apply_eq_preset_record(builtin_eq_presets[0]);
    EXPECT_EQ(settings.enhance, 1);
    EXPECT_EQ(settings.eq_enable, 0);
}

TEST_F(SettingsModel, RecordsRoundTripWithTheirModeDigit) {
    initialise();
    settings.enhance = 2;
    settings.eq_enable = 0;
    settings.stereo_width = 100;
    settings.eq_bands[2].frequency = 20000;
    std::string record = record_of_current("mine");
    EXPECT_EQ(record, "100,000,056,070,076,079,0,00100,01000,20000,050,050,050,mine");

    settings.enhance = 1;
    settings.eq_enable = 1;
    EXPECT_EQ(record_of_current("x")[24], '3');
    settings.eq_enable = 7;
    settings.enhance = 0;
    EXPECT_EQ(record_of_current("x")[24], '2');

    // Mode digit 0 turns both the enhancer and the equalizer off.
    apply_eq_preset_record(record.c_str());
    EXPECT_EQ(settings.enhance, 0);
    EXPECT_EQ(settings.eq_enable, 0);
    EXPECT_EQ(settings.stereo_width, 100);
    EXPECT_EQ(settings.eq_bands[2].frequency, 20000);
}

TEST_F(SettingsModel, ShortRecordsAreRejected) {
    initialise();
    EXPECT_EQ(eq_preset_record_valid("040,040,056"), 0);
    EXPECT_EQ(eq_preset_record_valid(nullptr), 0);
    EXPECT_EQ(eq_preset_record_valid(builtin_eq_presets[0]), 1);
    apply_eq_preset_record("001,002,003");
    EXPECT_EQ(settings.stereo_width, 20);  // nothing applied
}

TEST_F(SettingsModel, OnlyUserRecordsAreDeletedAndTheTableStaysUnbroken) {
    initialise();
    for (const char* name : {"a", "b", "c"}) {
        std::string record = record_of_current(name);
        char* text = static_cast<char*>(malloc(record.size() + 1));
        memcpy(text, record.c_str(), record.size() + 1);
        settings.eq_preset_slots[first_empty_eq_preset_slot()] = text;
    }
    EXPECT_EQ(first_empty_eq_preset_slot(), 12);

    for (int slot = 0; slot < builtinEqPresetCount; ++slot) EXPECT_EQ(delete_eq_preset_slot(slot), 0);
    EXPECT_EQ(delete_eq_preset_slot(29), 0);  // empty
    EXPECT_EQ(settings.eq_preset_slots[8], builtin_eq_presets[8]);

    EXPECT_EQ(delete_eq_preset_slot(9), 1);
    EXPECT_STREQ(settings.eq_preset_slots[9] + eqPresetNameOffset, "b");
    EXPECT_STREQ(settings.eq_preset_slots[10] + eqPresetNameOffset, "c");
    EXPECT_EQ(settings.eq_preset_slots[11], nullptr);
    EXPECT_EQ(first_empty_eq_preset_slot(), 11);
}

}  // namespace
