// The Enhancer 1 page's logic: value labels, enable rules, frequency ranges,
// the restore snapshot, the preset list and the level meter.
#include <cstdlib>
#include <cstring>
#include <string>

#include "dsp/classic.h"
#include "pages/enhancer_page.h"
#include "settings/eq_preset_slots.h"
#include "settings/plugin_settings.h"
#include "tests/test_support.h"

namespace {

template <typename F, typename... A>
std::string label(F f, A... args) {
    char text[64];
    f(text, static_cast<int>(sizeof text), args...);
    return text;
}

// ---- Labels --------------------------------------------------------------------

TEST(EnhancerPageLabels, DefaultsReadAsTheManualSays) {
    EXPECT_EQ(label(stereo_width_label, 20), "10 % ");
    EXPECT_EQ(label(hp_cutoff_label, 0), "off ");
    EXPECT_EQ(label(max_amp_label, 6.04f), "6.0 x ");
    EXPECT_EQ(label(raise_time_label, 0.00010004f, 44100), "227 ms ");
    EXPECT_EQ(label(reduce_time_label, 0.028f, 44100), "0.8 ms ");
    EXPECT_EQ(label(threshold_label, 79), "-1.0 dB ");
}

TEST(EnhancerPageLabels, TimesDoNotDependOnTheRate) {
    // The steps scaled for 48000 Hz give the same times as at 44100 Hz.
    EXPECT_EQ(label(raise_time_label, 0.0000919118f, 48000), "227 ms ");
    EXPECT_EQ(label(reduce_time_label, 0.025725f, 48000), "0.8 ms ");
}

TEST(EnhancerPageLabels, SwitchedOffAndExtremeValues) {
    EXPECT_EQ(label(stereo_width_label, 0), "normal ");
    EXPECT_EQ(label(stereo_width_label, 100), "50 % ");
    EXPECT_EQ(label(stereo_width_label, 1), "0 % ");
    EXPECT_EQ(label(hp_cutoff_label, 40), "80 Hz ");
    EXPECT_EQ(label(threshold_label, 100), "off ");
    // Threshold 0: 16367 of 32767, about 6 dB below full scale.
    EXPECT_EQ(label(threshold_label, 0), "-6.0 dB ");
    EXPECT_EQ(label(max_amp_label, 1.0f), "1.0 x ");
    // A zero step (before any coefficients exist) prints, it does not trap.
    EXPECT_EQ(label(raise_time_label, 0.0f, 44100), "inf ms ");
}

TEST(EnhancerPageLabels, BandGainShowsFiftyMinusTheGain) {
    EXPECT_EQ(label(band_gain_label, 50), "0");
    EXPECT_EQ(label(band_gain_label, 0), "50");
    EXPECT_EQ(label(band_gain_label, 100), "-50");
    EXPECT_EQ(label(band_gain_label, 80), "-30");
}

TEST(EnhancerPageLabels, PageRateFallsBackTo44100) {
    EXPECT_EQ(enhancer_page_rate(0), 44100);
    EXPECT_EQ(enhancer_page_rate(-1), 44100);
    EXPECT_EQ(enhancer_page_rate(48000), 48000);
}

// ---- Enable rules ----------------------------------------------------------------

TEST(EnhancerPageEnableRules, ClassicGroupNeedsModeOneAndSixteenBitAudio) {
    EXPECT_TRUE(classic_group_enabled(1, 16));
    EXPECT_FALSE(classic_group_enabled(1, 0));  // no audio yet
    EXPECT_FALSE(classic_group_enabled(0, 16));
    EXPECT_FALSE(classic_group_enabled(2, 16));
}

TEST(EnhancerPageEnableRules, EqualizerGroupNeedsItsSwitchOutsideTheMultibandMode) {
    EXPECT_TRUE(equalizer_group_enabled(1, 0, 16));
    EXPECT_TRUE(equalizer_group_enabled(1, 1, 16));
    EXPECT_FALSE(equalizer_group_enabled(1, 2, 16));
    EXPECT_FALSE(equalizer_group_enabled(0, 1, 16));
    EXPECT_FALSE(equalizer_group_enabled(1, 1, 0));
}

// ---- Setting changes ----------------------------------------------------------------

class EnhancerPageSettings : public EngineTest {};

// The labels as the page writes them: from the ceiling and steps that its own
// coefficient call leaves in the settings, with the page rate.
TEST_F(EnhancerPageSettings, DefaultLabelsFromTheComputedCoefficientsAtEveryRate) {
    settings_initialise();
    for (int sample_rate : {0, 22050, 44100, 48000, 96000}) {
        const int rate = enhancer_page_rate(sample_rate);
        computeClassicCoefficients(1, 0, rate, 0);
        EXPECT_EQ(label(stereo_width_label, int{load_relaxed(settings.stereo_width)}), "10 % ");
        EXPECT_EQ(label(hp_cutoff_label, int{load_relaxed(settings.hpcutoff)}), "off ");
        EXPECT_EQ(label(max_amp_label, settings.engine.gainCeiling), "6.0 x ") << sample_rate;
        EXPECT_EQ(label(raise_time_label, settings.engine.gainUpStep, rate), "227 ms ") << sample_rate;
        EXPECT_EQ(label(reduce_time_label, settings.engine.gainDownStep, rate), "0.8 ms ") << sample_rate;
        EXPECT_EQ(label(threshold_label, int{load_relaxed(settings.threshold)}), "-1.0 dB ");
    }
}

TEST_F(EnhancerPageSettings, CheckBoxesSetTheModes) {
    initialise();
    settings.enhance = 2;
    set_classic_enabled(true);
    EXPECT_EQ(settings.enhance, 1);
    set_classic_enabled(false);
    EXPECT_EQ(settings.enhance, 0);

    // The equalizer's box toggles and ends the multiband mode.
    settings.enhance = 2;
    toggle_equalizer();
    EXPECT_EQ(settings.eq_enable, 1);
    EXPECT_EQ(settings.enhance, 0);
    settings.enhance = 1;
    toggle_equalizer();
    EXPECT_EQ(settings.eq_enable, 0);
    EXPECT_EQ(settings.enhance, 1);
    settings.eq_enable = 7;  // any non-zero value from a settings file counts as on
    toggle_equalizer();
    EXPECT_EQ(settings.eq_enable, 0);
}

TEST_F(EnhancerPageSettings, ResetSetsOnlyTheGains) {
    initialise();
    settings.eq_bands[0] = {10, 300};
    settings.eq_bands[2] = {90, 5000};
    reset_equalizer_gains();
    for (const EqBand& band : settings.eq_bands) EXPECT_EQ(band.gain, 50);
    EXPECT_EQ(settings.eq_bands[0].frequency, 300);
    EXPECT_EQ(settings.eq_bands[2].frequency, 5000);
}

TEST_F(EnhancerPageSettings, FrequenciesAreKeptInTheirBands) {
    initialise();
    set_band_frequency(0, 5);
    EXPECT_EQ(settings.eq_bands[0].frequency, 20);
    set_band_frequency(2, 30000);
    EXPECT_EQ(settings.eq_bands[2].frequency, 20000);
    // Above 65535 the 16-bit field takes the value modulo 65536, then it is clamped.
    set_band_frequency(1, 70000);
    EXPECT_EQ(settings.eq_bands[1].frequency, 70000 - 65536);
    set_band_frequency(1, 65536 + 100);
    EXPECT_EQ(settings.eq_bands[1].frequency, 200);
    set_band_frequency(0, 0);  // not a number
    EXPECT_EQ(settings.eq_bands[0].frequency, 20);

    EXPECT_EQ(clamp_band_frequency(0, 800), 800);
    EXPECT_EQ(clamp_band_frequency(0, 801), 800);
    EXPECT_EQ(clamp_band_frequency(1, 199), 200);
    EXPECT_EQ(clamp_band_frequency(2, 1999), 2000);
    EXPECT_EQ(clamp_band_frequency(2, 65535), 20000);

    // Values from a settings file are clamped all at once.
    settings.eq_bands[0].frequency = 0;
    settings.eq_bands[1].frequency = 9000;
    settings.eq_bands[2].frequency = 12345;
    clamp_eq_frequency_settings();
    EXPECT_EQ(settings.eq_bands[0].frequency, 20);
    EXPECT_EQ(settings.eq_bands[1].frequency, 8000);
    EXPECT_EQ(settings.eq_bands[2].frequency, 12345);
}

TEST_F(EnhancerPageSettings, TrackbarsMapToTheirSettings) {
    initialise();
    const uint8_t* fields[6] = {&settings.stereo_width, &settings.hpcutoff, &settings.amp_max,
                                &settings.amp_up,       &settings.amp_dwn,  &settings.threshold};
    for (int i = 0; i < 6; ++i) {
        EXPECT_TRUE(store_trackbar_position(201 + i, 3 + i));
        EXPECT_EQ(*fields[i], 3 + i) << "trackbar " << 201 + i;
    }
    EXPECT_TRUE(store_trackbar_position(204, 120));
    EXPECT_EQ(settings.amp_up, 120);
    for (int b = 0; b < 3; ++b) {
        EXPECT_TRUE(store_trackbar_position(207 + b, 11 * b));
        EXPECT_EQ(settings.eq_bands[b].gain, 11 * b);
    }
    EXPECT_FALSE(store_trackbar_position(210, 5));
    EXPECT_FALSE(store_trackbar_position(200, 5));
}

// ---- Restore snapshot -------------------------------------------------------------

TEST_F(EnhancerPageSettings, RestoreBringsBackTheValuesOfThePageCreation) {
    initialise();
    settings.eq_enable = 1;
    settings.eq_bands[1] = {70, 2500};
    take_enhancer_snapshot();

    settings.stereo_width = 99;
    settings.hpcutoff = 98;
    settings.amp_max = 97;
    settings.amp_up = 96;
    settings.amp_dwn = 95;
    settings.threshold = 94;
    settings.eq_bands[1] = {10, 700};
    settings.eq_enable = 0;
    settings.enhance = 0;
    restore_enhancer_snapshot();

    EXPECT_EQ(settings.stereo_width, 20);
    EXPECT_EQ(settings.hpcutoff, 0);
    EXPECT_EQ(settings.amp_max, 56);
    EXPECT_EQ(settings.amp_up, 70);
    EXPECT_EQ(settings.amp_dwn, 76);
    EXPECT_EQ(settings.threshold, 79);
    EXPECT_EQ(settings.eq_bands[1].gain, 70);
    EXPECT_EQ(settings.eq_bands[1].frequency, 2500);
    EXPECT_EQ(settings.eq_enable, 1);
    EXPECT_EQ(settings.enhance, 1);
}

TEST_F(EnhancerPageSettings, RestoreAfterMultibandModeLeavesTheEnhancerOff) {
    initialise();
    settings.enhance = 2;
    take_enhancer_snapshot();
    settings.enhance = 1;
    select_eq_preset_item(0);
    EXPECT_EQ(settings.enhance, 0);
}

// ---- Preset list -----------------------------------------------------------------

class EnhancerPagePresets : public EngineTest {};

TEST_F(EnhancerPagePresets, ListShowsTheBuiltInNames) {
    initialise();
    EXPECT_EQ(eq_preset_list_count(), 9);
    EXPECT_STREQ(eq_preset_list_name(0), "   [ Night ]");
    EXPECT_STREQ(eq_preset_list_name(8), "   [ Equalizer ]");
    EXPECT_EQ(eq_preset_list_name(9), nullptr);
    EXPECT_EQ(eq_preset_list_name(-1), nullptr);
    EXPECT_EQ(eq_preset_list_name(30), nullptr);
    // A record from the file too short to carry its fields is not listed by name.
    settings.eq_preset_slots[9] = strdup("040,040");
    EXPECT_EQ(eq_preset_list_count(), 10);
    EXPECT_EQ(eq_preset_list_name(9), nullptr);
}

TEST_F(EnhancerPagePresets, ApplyingEqualizerAndRestoringPrevious) {
    initialise();
    take_enhancer_snapshot();
    select_eq_preset_item(9);  // "   [ Equalizer ]"
    EXPECT_EQ(settings.enhance, 0);
    EXPECT_EQ(settings.eq_enable, 1);
    EXPECT_EQ(settings.eq_bands[1].gain, 80);
    EXPECT_EQ(label(band_gain_label, settings.eq_bands[1].gain), "-30");
    EXPECT_EQ(settings.amp_max, 78);

    select_eq_preset_item(0);
    EXPECT_EQ(settings.enhance, 1);
    EXPECT_EQ(settings.eq_enable, 0);
    EXPECT_EQ(settings.eq_bands[1].gain, 50);
    EXPECT_EQ(settings.amp_max, 56);

    // A negative selection (none) restores too.
    select_eq_preset_item(4);  // "   [ AC Radio ]"
    EXPECT_EQ(settings.eq_bands[2].frequency, 8000);
    select_eq_preset_item(-1);
    EXPECT_EQ(settings.eq_bands[2].frequency, 10000);
}

TEST_F(EnhancerPagePresets, AppliedFrequenciesAreClamped) {
    initialise();
    settings.eq_preset_slots[9] =
        strdup("000,000,050,050,050,050,3,00005,09000,30000,050,050,050,odd frequencies");
    select_eq_preset_item(10);
    EXPECT_EQ(settings.eq_bands[0].frequency, 20);
    EXPECT_EQ(settings.eq_bands[1].frequency, 8000);
    EXPECT_EQ(settings.eq_bands[2].frequency, 20000);
    EXPECT_EQ(settings.enhance, 1);
    EXPECT_EQ(settings.eq_enable, 1);
}

TEST_F(EnhancerPagePresets, AddStoresTheCurrentSettingsUnderTheTypedName) {
    initialise();
    settings.stereo_width = 60;
    settings.hpcutoff = 7;
    settings.eq_bands[2] = {33, 12000};
    settings.eq_enable = 1;
    EXPECT_EQ(add_eq_preset("My preset"), 9);
    ASSERT_NE(settings.eq_preset_slots[9], nullptr);
    EXPECT_STREQ(settings.eq_preset_slots[9],
                 "060,007,056,070,076,079,3,00100,01000,12000,050,050,033,My preset");
    EXPECT_STREQ(eq_preset_list_name(9), "My preset");
    EXPECT_EQ(eq_preset_list_count(), 10);

    // In the multiband mode with the equalizer off the mode digit is 0.
    settings.enhance = 2;
    settings.eq_enable = 0;
    EXPECT_EQ(add_eq_preset("Multiband"), 10);
    EXPECT_EQ(settings.eq_preset_slots[10][24], '0');
    select_eq_preset_item(11);
    EXPECT_EQ(settings.enhance, 0);
    EXPECT_EQ(settings.eq_enable, 0);
}

TEST_F(EnhancerPagePresets, AddTakesTheLongestNameTheBoxAllows) {
    initialise();
    std::string name(presetNameBuffer - 1, 'n');
    ASSERT_EQ(add_eq_preset(name.c_str()), 9);
    EXPECT_EQ(std::string(eq_preset_list_name(9)), name);
}

TEST_F(EnhancerPagePresets, AddNeverUsesTheLastSlot) {
    initialise();
    for (int slot = 9; slot < 29; ++slot) EXPECT_EQ(add_eq_preset("p"), slot);
    EXPECT_EQ(first_empty_eq_preset_slot(), 29);
    EXPECT_EQ(add_eq_preset("one too many"), -1);
    EXPECT_EQ(settings.eq_preset_slots[29], nullptr);
}

void* failing_allocator(size_t) { return nullptr; }

TEST_F(EnhancerPagePresets, FailedAllocationChangesNothing) {
    initialise();
    ASSERT_EQ(add_eq_preset("kept"), 9);
    const char* kept = settings.eq_preset_slots[9];
    EXPECT_EQ(add_eq_preset("lost", failing_allocator), -1);
    EXPECT_EQ(settings.eq_preset_slots[9], kept);
    EXPECT_EQ(settings.eq_preset_slots[10], nullptr);
    EXPECT_EQ(eq_preset_list_count(), 10);
}

TEST_F(EnhancerPagePresets, DeleteRemovesOnlyUserPresetsWithoutGaps) {
    initialise();
    ASSERT_EQ(add_eq_preset("first"), 9);
    ASSERT_EQ(add_eq_preset("second"), 10);
    ASSERT_EQ(add_eq_preset("third"), 11);

    EXPECT_FALSE(delete_allowed_for_item(0));
    EXPECT_FALSE(delete_allowed_for_item(9));
    EXPECT_TRUE(delete_allowed_for_item(10));
    EXPECT_FALSE(delete_eq_preset_item(9));  // "   [ Equalizer ]"
    EXPECT_FALSE(delete_eq_preset_item(0));
    EXPECT_FALSE(delete_eq_preset_item(-1));
    EXPECT_EQ(eq_preset_list_count(), 12);

    EXPECT_TRUE(delete_eq_preset_item(10));  // slot 9, "first"
    EXPECT_STREQ(eq_preset_list_name(9), "second");
    EXPECT_STREQ(eq_preset_list_name(10), "third");
    EXPECT_EQ(settings.eq_preset_slots[11], nullptr);
    EXPECT_FALSE(delete_eq_preset_item(12));  // past the end of the list
    EXPECT_EQ(eq_preset_list_count(), 11);
}

// ---- Level meter -------------------------------------------------------------------

TEST(EnhancerPageMeter, LevelScaleIsCompressive) {
    EXPECT_EQ(meter_level_target(32768), 32716);
    EXPECT_EQ(meter_level_target(16384), 27394);
    EXPECT_EQ(meter_level_target(0), 0);
    EXPECT_LT(meter_level_target(1000), meter_level_target(2000));
}

TEST(EnhancerPageMeter, AmplificationTargetUsesTheRawPeaks) {
    EXPECT_EQ(meter_amp_target(0, 0, 0, 0), 2000);  // silence reads as a gain of 1
    EXPECT_EQ(meter_amp_target(1000, 0, 2000, 0), (2000 * 2000 + 2000) / 1001);
    EXPECT_EQ(meter_amp_target(1000, 1000, 1000, 1000), (2000 * 2000 + 2000) / 2001);
    // Full-scale output over a near-silent input does not overflow.
    EXPECT_EQ(meter_amp_target(0, 0, 32768, 32768), 2000 * 65536 + 2000);
}

class EnhancerPageMeterTicks : public EngineTest {
protected:
    void SetUp() override {
        EngineTest::SetUp();
        initialise();
        settings.meterRequest = 1;
        settings.channel_count = 2;
    }
    void set_peaks(int in_left, int in_right, int out_left, int out_right) {
        settings.meterPeakIn[0] = in_left;
        settings.meterPeakIn[1] = in_right;
        settings.meterPeakOut[0] = out_left;
        settings.meterPeakOut[1] = out_right;
    }
};

TEST_F(EnhancerPageMeterTicks, NothingHappensWhileNoPageAsks) {
    settings.meterRequest = 0;
    set_peaks(30000, 30000, 30000, 30000);
    EXPECT_FALSE(update_meter());
    for (int32_t level : settings.meter_levels) EXPECT_EQ(level, 0);
    EXPECT_EQ(settings.meter_amp, 0);
}

TEST_F(EnhancerPageMeterTicks, LevelsJumpUpAndFallWithGrowingSteps) {
    set_peaks(32768, 32768, 32768, 32768);
    settings.meter_amp = 2000;
    ASSERT_TRUE(update_meter());
    for (int32_t level : settings.meter_levels) EXPECT_EQ(level, 32716);
    EXPECT_EQ(settings.level_fall_step, 100);

    set_peaks(0, 0, 0, 0);
    const int falls[] = {100, 400, 700, 1000, 1300, 1600, 1900, 2200, 2500, 2500, 2500};
    int32_t expected = 32716;
    for (int fall : falls) {
        ASSERT_TRUE(update_meter());
        expected -= fall;
        EXPECT_EQ(settings.meter_levels[0], expected) << "fall " << fall;
        EXPECT_EQ(settings.meter_levels[3], expected);
    }
    // Once the bar is close to its target it lands there and the step returns to 100.
    settings.meter_levels[0] = settings.meter_levels[1] = settings.meter_levels[2] =
        settings.meter_levels[3] = 50;
    update_meter();
    EXPECT_EQ(settings.meter_levels[0], 0);
    EXPECT_EQ(settings.level_fall_step, 100);
}

TEST_F(EnhancerPageMeterTicks, AmplificationRisesWithGrowingStepsAndFallsAtOnce) {
    set_peaks(0, 0, 32768, 32768);  // target far above
    const int rises[] = {100, 300, 500, 700, 900, 1100, 1300, 1500, 1700, 1900, 2100, 2100};
    int32_t expected = 0;
    for (int rise : rises) {
        update_meter();
        expected += rise;
        EXPECT_EQ(settings.meter_amp, expected) << "rise " << rise;
    }
    set_peaks(1000, 1000, 1000, 1000);
    update_meter();
    EXPECT_EQ(settings.meter_amp, (2000 * 2000 + 2000) / 2001);
    EXPECT_EQ(settings.amp_rise_step, 100);
}

TEST_F(EnhancerPageMeterTicks, MonoLeavesTheRightBarsAlone) {
    settings.channel_count = 1;
    settings.meter_levels[1] = 1234;
    settings.meter_levels[3] = 4321;
    settings.meter_amp = 9000;  // falls reach their target at once
    set_peaks(16384, 0, 32768, 0);
    update_meter();
    EXPECT_EQ(settings.meter_levels[0], 27394);
    EXPECT_EQ(settings.meter_levels[2], 32716);
    EXPECT_EQ(settings.meter_levels[1], 1234);
    EXPECT_EQ(settings.meter_levels[3], 4321);
    EXPECT_EQ(settings.meter_amp, (2000 * 32768 + 2000) / 16385);
}

TEST_F(EnhancerPageMeterTicks, MoreThanTwoChannelsShowTheFirstTwo) {
    settings.channel_count = 3;
    set_peaks(100, 200, 300, 400);
    update_meter();
    EXPECT_EQ(settings.meter_levels[0], meter_level_target(100));
    EXPECT_EQ(settings.meter_levels[1], meter_level_target(200));
    EXPECT_EQ(settings.meter_levels[2], meter_level_target(300));
    EXPECT_EQ(settings.meter_levels[3], meter_level_target(400));
}

TEST(EnhancerPageMeter, StereoBarGeometry) {
    const int32_t levels[4] = {32768, 16384, 0, 32768};
    MeterPicture p = meter_picture(64, 108, 2, levels, 20000);
    ASSERT_EQ(p.bar_count, 4);
    const int lefts[4] = {4, 16, 40, 52}, rights[4] = {12, 24, 48, 60};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(p.bars[i].left, lefts[i]);
        EXPECT_EQ(p.bars[i].right, rights[i]);
        EXPECT_EQ(p.bars[i].bottom, 104);
    }
    EXPECT_EQ(p.bars[0].top, 4);    // full scale: (H - 4) - (H - 8)
    EXPECT_EQ(p.bars[1].top, 54);   // half scale
    EXPECT_EQ(p.bars[2].top, 104);  // empty
    EXPECT_EQ(p.amp_bar.left, 28);
    EXPECT_EQ(p.amp_bar.right, 36);
    EXPECT_EQ(p.amp_bar.top, 3);  // a gain of 10 fills the height
    EXPECT_EQ(p.amp_bar.bottom, 104);
}

TEST(EnhancerPageMeter, MonoBarGeometry) {
    const int32_t levels[4] = {32768, 999, 16384, 999};
    MeterPicture p = meter_picture(64, 108, 1, levels, 2000);
    ASSERT_EQ(p.bar_count, 2);
    EXPECT_EQ(p.bars[0].left, 8);
    EXPECT_EQ(p.bars[0].right, 20);
    EXPECT_EQ(p.bars[0].top, 4);
    EXPECT_EQ(p.bars[1].left, 44);
    EXPECT_EQ(p.bars[1].right, 56);
    EXPECT_EQ(p.bars[1].top, 54);
    EXPECT_EQ(p.amp_bar.top, 103 - 100 * 2000 / 20000);  // a gain of 1
}

TEST(EnhancerPageMeter, HugeAmplificationStaysAboveThePicture) {
    const int32_t levels[4] = {0, 0, 0, 0};
    MeterPicture p = meter_picture(64, 108, 2, levels, 2000 * 65536 + 2000);
    EXPECT_EQ(p.amp_bar.top, -1);
    EXPECT_EQ(p.amp_bar.bottom, 104);
}

}  // namespace
