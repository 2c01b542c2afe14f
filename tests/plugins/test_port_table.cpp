// The port table against the pages and the settings model: every code a page
// control writes is reachable from a port value and nothing else is, values
// round to the nearest code, defaults are the plug-in's defaults, and the
// strings come out as the pages write them.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "dsp/multiband_strings.h"
#include "pages/enhancer_page.h"
#include "pages/multiband_page.h"
#include "ports/ladspa_hints.h"
#include "ports/port_table.h"
#include "settings/eq_preset_slots.h"
#include "settings/plugin_settings.h"

using namespace ports;

namespace {

int controlIndex(const char* symbol) {
    for (int k = 0; k < controlCount; ++k)
        if (strcmp(controls[k].symbol, symbol) == 0) return k;
    ADD_FAILURE() << "no control " << symbol;
    return 0;
}

void loadDefaultStrings() {
    memset(&settings.strings, 0, sizeof settings.strings);
    strcpy(settings.strings.enh_multi1, default_enh_multi1);
    strcpy(settings.strings.enh_multi2, default_enh_multi2);
    strcpy(settings.strings.enh_limiter, default_enh_limiter);
}

}  // namespace

TEST(PortTable, SymbolsAreUniqueAndPortIndicesFollowTheAudioPorts) {
    for (int a = 0; a < controlCount; ++a)
        for (int b = a + 1; b < controlCount; ++b)
            EXPECT_STRNE(controls[a].symbol, controls[b].symbol);
    EXPECT_EQ(controlPortIndex(2, cEnhance), 4);
    EXPECT_EQ(controlPortIndex(1, cEnhance), 2);
    EXPECT_EQ(readoutPortIndex(2, rClassicGain), 4 + controlCount);
    EXPECT_EQ(portCount(1), 2 + controlCount + readoutCount);
    // The symbols the hosts are told about.
    for (const char* symbol : {"enhance", "stereo_width", "amp_max", "amp_up", "amp_dwn",
                               "hpcutoff", "threshold", "eq_enable", "eq_gain1", "eq_gain3",
                               "eq_freq1", "eq_freq3"})
        controlIndex(symbol);
}

TEST(PortTable, EveryCodeIsReachedFromItsOwnValueThroughAFloatPort) {
    for (int k = 0; k < controlCount; ++k) {
        const ControlInfo& c = controls[k];
        for (int code = c.codeMin; code <= c.codeMax; ++code) {
            const float port = static_cast<float>(valueOfCode(c, code));
            ASSERT_EQ(codeOfValue(c, port), code) << c.symbol << " value " << port;
        }
    }
}

TEST(PortTable, ValuesBetweenTwoCodesGoToTheNearer) {
    for (int k = 0; k < controlCount; ++k) {
        const ControlInfo& c = controls[k];
        if (c.flags & flagToggle) continue;
        for (int code = c.codeMin; code < c.codeMax && code < c.codeMin + 300; ++code) {
            const double v0 = valueOfCode(c, code);
            const double v1 = valueOfCode(c, code + 1);
            EXPECT_EQ(codeOfValue(c, v0 + 0.45 * (v1 - v0)), code) << c.symbol << " " << code;
            EXPECT_EQ(codeOfValue(c, v0 + 0.55 * (v1 - v0)), code + 1) << c.symbol << " " << code;
        }
    }
}

TEST(PortTable, OutOfRangeValuesGiveTheNearestEndAndNotANumberTheDefault) {
    for (int k = 0; k < controlCount; ++k) {
        const ControlInfo& c = controls[k];
        const bool falling = valueOfCode(c, c.codeMax) < valueOfCode(c, c.codeMin);
        const int low = falling ? c.codeMax : c.codeMin;
        const int high = falling ? c.codeMin : c.codeMax;
        if (c.flags & flagToggle) {
            EXPECT_EQ(codeOfValue(c, -5.0), 0);
            EXPECT_EQ(codeOfValue(c, 0.0), 0);
            EXPECT_EQ(codeOfValue(c, 0.001), 1);
            EXPECT_EQ(codeOfValue(c, INFINITY), 1);
        } else {
            EXPECT_EQ(codeOfValue(c, minimumValue(c) - 1e6), low) << c.symbol;
            EXPECT_EQ(codeOfValue(c, -INFINITY), low) << c.symbol;
            EXPECT_EQ(codeOfValue(c, maximumValue(c) + 1e6), high) << c.symbol;
            EXPECT_EQ(codeOfValue(c, INFINITY), high) << c.symbol;
            EXPECT_EQ(codeOfValue(c, 1e300), high) << c.symbol;
        }
        EXPECT_EQ(codeOfValue(c, NAN), c.defaultCode) << c.symbol;
    }
}

TEST(PortTable, RangesAreThoseOfThePageControls) {
    for (int row = 0; row < 4; ++row)
        for (int column = 0; column < 4; ++column) {
            const ControlInfo& c = controls[cBand1MaxAmp + 4 * row + column];
            EXPECT_EQ(c.codeMin, 0);
            EXPECT_EQ(c.codeMax, multiband_trackbar_max(mbFirstBandTrackbarId + 4 * row + column));
        }
    EXPECT_EQ(controls[cDrive].codeMax, multiband_trackbar_max(mbDriveTrackbarId));
    EXPECT_EQ(controls[cStereo].codeMax, multiband_trackbar_max(mbStereoTrackbarId));
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(controls[cLimThreshold + i].codeMin, limiter_controls[i].minimum);
        EXPECT_EQ(controls[cLimThreshold + i].codeMax, limiter_controls[i].maximum);
    }
    for (int band = 0; band < 3; ++band) {
        EXPECT_EQ(controls[cEqFreq1 + band].codeMin, clamp_band_frequency(band, 0));
        EXPECT_EQ(controls[cEqFreq1 + band].codeMax, clamp_band_frequency(band, 65535));
    }
    // A crossover field takes five digits.
    EXPECT_EQ(controls[cCrossover1].codeMax, 99999);
}

TEST(PortTable, DefaultsAreThePluginDefaults) {
    settings_set_defaults();
    int32_t codes[controlCount];
    defaultCodes(codes);
    EXPECT_EQ(codes[cEnhance], settings.enhance);
    EXPECT_EQ(codes[cStereoWidth], settings.stereo_width);
    EXPECT_EQ(codes[cAmpMax], settings.amp_max);
    EXPECT_EQ(codes[cAmpUp], settings.amp_up);
    EXPECT_EQ(codes[cAmpDown], settings.amp_dwn);
    EXPECT_EQ(codes[cHpCutoff], settings.hpcutoff);
    EXPECT_EQ(codes[cThreshold], settings.threshold);
    EXPECT_EQ(codes[cEqEnable], settings.eq_enable);
    for (int b = 0; b < 3; ++b) {
        EXPECT_EQ(codes[cEqGain1 + b], settings.eq_bands[b].gain);
        EXPECT_EQ(codes[cEqFreq1 + b], settings.eq_bands[b].frequency);
    }
    EXPECT_EQ(codes[cLoudnessTarget], settings.loudness_target);
    EXPECT_EQ(codes[cTargetLufs], settings.target_lufs);
    EXPECT_EQ(codes[cTpLimit], settings.tp_limit);
    EXPECT_EQ(codes[cTpCeiling], settings.tp_ceiling);
    EXPECT_EQ(codes[cBandHold], settings.band_hold);
    EXPECT_EQ(codes[cLevelMode], settings.level_mode);
    EXPECT_EQ(codes[cTpMode], settings.tp_mode);
    StringFields strings;
    formatStrings(codes, strings);
    EXPECT_STREQ(strings.multi1, default_enh_multi1);
    EXPECT_STREQ(strings.multi2, default_enh_multi2);
    EXPECT_STREQ(strings.limiter, default_enh_limiter);
    int32_t read[controlCount];
    defaultCodes(read);
    for (int k = cSplit; k <= cLimHold; ++k) read[k] = -1;
    read[cSolo] = codes[cSolo];
    codesFromStrings(default_enh_multi1, default_enh_multi2, default_enh_limiter, read);
    for (int k = 0; k < controlCount; ++k) EXPECT_EQ(read[k], codes[k]) << controls[k].symbol;
    // The value a host shows by default is the code's value.
    for (int k = 0; k < controlCount; ++k)
        EXPECT_EQ(codeOfValue(controls[k], static_cast<float>(defaultValue(controls[k]))),
                  controls[k].defaultCode);
}

TEST(PortTable, UnitsAreThoseThePagesShow) {
    // The standard band 1 reads 7.0 x, 730 ms, 4.0 ms and -4.5 dB on the page.
    char label[40];
    const MultibandParams p = convertMultibandStrings(default_enh_multi1, default_enh_multi2,
                                                      default_enh_limiter, 0);
    for (int column = 0; column < 4; ++column) {
        format_band_label(label, sizeof label, p.bands[0], column, 44100);
        const ControlInfo& c = controls[cBand1MaxAmp + column];
        char mine[40];
        snprintf(mine, sizeof mine, column == 1 ? "%.0f" : "%.1f", valueOfCode(c, c.defaultCode));
        EXPECT_EQ(strncmp(label, mine, strlen(mine)), 0) << label << " against " << mine;
    }
    format_drive_label(label, sizeof label, p.level);
    EXPECT_NEAR(valueOfCode(controls[cDrive], controls[cDrive].defaultCode), atof(label), 0.05);
    format_stereo_label(label, sizeof label, p.stereoPercent);
    EXPECT_EQ(valueOfCode(controls[cStereo], controls[cStereo].defaultCode), atof(label));
    for (int i = 0; i < 6; ++i) {
        const int code = controls[cLimThreshold + i].defaultCode;
        format_limiter_label(label, sizeof label, p.limiter, i);
        if (strncmp(label, "inf", 3) == 0) {
            EXPECT_GT(valueOfCode(controls[cLimThreshold + i], code), 20.0);
        } else {
            EXPECT_NEAR(valueOfCode(controls[cLimThreshold + i], code), atof(label), 0.05) << label;
        }
    }
}

TEST(PortTable, StringsAreWrittenAsThePageWritesThem) {
    // Codes spread over every field's range, written once by the page's own
    // routines and once from the port codes.
    for (int round = 0; round < 25; ++round) {
        loadDefaultStrings();
        int32_t codes[controlCount];
        defaultCodes(codes);
        for (int k = cSplit; k <= cLimAttack; ++k) {
            const ControlInfo& c = controls[k];
            if (k == cSolo) continue;
            codes[k] = c.codeMin + (round * 7919 + k * 104729) % (c.codeMax - c.codeMin + 1);
        }
        multiband_switch_clicked(mbMultibandId, codes[cSplit] != 0);
        multiband_switch_clicked(mbAgcId, codes[cAgc] != 0);
        for (int x = 0; x < 3; ++x)
            multiband_crossover_entered(x, static_cast<unsigned>(codes[cCrossover1 + x]));
        multiband_trackbar_moved(mbDriveTrackbarId, codes[cDrive]);
        multiband_trackbar_moved(mbStereoTrackbarId, codes[cStereo]);
        for (int i = 0; i < 16; ++i)
            multiband_trackbar_moved(mbFirstBandTrackbarId + i, codes[cBand1MaxAmp + i]);
        multiband_switch_clicked(mbLimiterId, codes[cLimiterOn] != 0);
        if (codes[cSoftClip] == 1) multiband_switch_clicked(mbSoftClip1Id, true);
        else if (codes[cSoftClip] == 2) multiband_switch_clicked(mbSoftClip2Id, true);
        else multiband_switch_clicked(mbSoftClip1Id, false);
        for (int i = 0; i < 6; ++i)
            limiter_trackbar_moved(limiterFirstTrackbarId + i, codes[cLimThreshold + i]);

        StringFields mine;
        formatStrings(codes, mine);
        EXPECT_EQ(memcmp(mine.multi1, settings.strings.enh_multi1, sizeof mine.multi1), 0)
            << mine.multi1 << " against " << settings.strings.enh_multi1;
        EXPECT_EQ(memcmp(mine.multi2, settings.strings.enh_multi2, sizeof mine.multi2), 0)
            << mine.multi2 << " against " << settings.strings.enh_multi2;
        EXPECT_EQ(memcmp(mine.limiter, settings.strings.enh_limiter, sizeof mine.limiter), 0)
            << mine.limiter << " against " << settings.strings.enh_limiter;

        int32_t back[controlCount];
        defaultCodes(back);
        codesFromStrings(mine.multi1, mine.multi2, mine.limiter, back);
        for (int k = 0; k < controlCount; ++k) EXPECT_EQ(back[k], codes[k]) << controls[k].symbol;
    }
}

TEST(PortTable, EnhancerPresetsSetWhatApplyingThemOnThePageSets) {
    for (int i = 0; i < builtinEqPresetCount; ++i) {
        settings_set_defaults();
        settings.enhance = 2;
        apply_eq_preset_record(builtin_eq_presets[i]);
        clamp_eq_frequency_settings();
        int32_t codes[controlCount];
        defaultCodes(codes);
        ASSERT_TRUE(codesFromEqPreset(builtin_eq_presets[i], codes));
        SCOPED_TRACE(builtin_eq_presets[i]);
        EXPECT_EQ(codes[cEnhance], settings.enhance);
        EXPECT_EQ(codes[cEqEnable], settings.eq_enable);
        EXPECT_EQ(codes[cStereoWidth], settings.stereo_width);
        EXPECT_EQ(codes[cHpCutoff], settings.hpcutoff);
        EXPECT_EQ(codes[cAmpMax], settings.amp_max);
        EXPECT_EQ(codes[cAmpUp], settings.amp_up);
        EXPECT_EQ(codes[cAmpDown], settings.amp_dwn);
        EXPECT_EQ(codes[cThreshold], settings.threshold);
        for (int b = 0; b < 3; ++b) {
            EXPECT_EQ(codeOfValue(controls[cEqFreq1 + b], codes[cEqFreq1 + b]),
                      settings.eq_bands[b].frequency);
            EXPECT_EQ(codes[cEqGain1 + b], settings.eq_bands[b].gain);
        }
    }
    int32_t codes[controlCount];
    EXPECT_FALSE(codesFromEqPreset("040,040,056", codes));
}

namespace {

// What a LADSPA host that applies the hints gives a port it is not told
// about, in double and in single precision, must be the port's default; the
// hint's range holds the real one, and a value in a widened stretch acts as
// the nearest end of the real range.
void expectExactLadspaDefault(const ControlInfo& c) {
    SCOPED_TRACE(c.symbol);
    const LADSPA_PortRangeHint h = ladspaHint(c);
    const double d = ladspaDefaultValue(h);
    EXPECT_EQ(codeOfValue(c, d), c.defaultCode);
    EXPECT_EQ(codeOfValue(c, ladspaDefaultValueFloat(h)), c.defaultCode);
    if (c.flags & flagToggle) {
        EXPECT_TRUE(LADSPA_IS_HINT_TOGGLED(h.HintDescriptor));
        return;
    }
    EXPECT_TRUE(LADSPA_IS_HINT_BOUNDED_BELOW(h.HintDescriptor));
    EXPECT_TRUE(LADSPA_IS_HINT_BOUNDED_ABOVE(h.HintDescriptor));
    EXPECT_EQ(LADSPA_IS_HINT_INTEGER(h.HintDescriptor) != 0, (c.flags & flagInteger) != 0);
    EXPECT_LE(h.LowerBound, static_cast<float>(minimumValue(c)));
    EXPECT_GE(h.UpperBound, static_cast<float>(maximumValue(c)));
    if (c.flags & flagInteger) {
        EXPECT_EQ(d, defaultValue(c));
        EXPECT_EQ(h.LowerBound, std::floor(h.LowerBound));
        EXPECT_EQ(h.UpperBound, std::floor(h.UpperBound));
    }
    const int lowEnd = codeOfValue(c, minimumValue(c));
    const int highEnd = codeOfValue(c, maximumValue(c));
    EXPECT_EQ(codeOfValue(c, h.LowerBound), lowEnd);
    EXPECT_EQ(codeOfValue(c, h.UpperBound), highEnd);
}

}  // namespace

TEST(PortTable, LadspaHintsStateEveryDefaultExactly) {
    for (const ControlInfo& c : controls) expectExactLadspaDefault(c);
    // Defaults that are a fixed point or a bound keep the real range.
    for (const char* symbol : {"enhance", "hpcutoff", "eq_gain2", "crossover3", "limiter_ceiling",
                               "limiter_ratio", "limiter_hold", "solo", "soft_clip", "drive"}) {
        const ControlInfo& c = controls[controlIndex(symbol)];
        const LADSPA_PortRangeHint h = ladspaHint(c);
        EXPECT_EQ(h.LowerBound, static_cast<float>(minimumValue(c))) << symbol;
        EXPECT_EQ(h.UpperBound, static_cast<float>(maximumValue(c))) << symbol;
    }
    // The widening is the least one: amp_max 0..100 at 56 becomes 0..112 (middle).
    const LADSPA_PortRangeHint amp = ladspaHint(controls[cAmpMax]);
    EXPECT_EQ(amp.LowerBound, 0.0f);
    EXPECT_EQ(amp.UpperBound, 112.0f);
}

TEST(PortTable, LadspaHintsStateExactDefaultsForRowsOfEveryKind) {
    // Rows of the shapes the table uses and later ports take: toggles on and
    // off, an integer range below zero, a linear one in tenths, the curves.
    const ControlInfo rows[] = {
        {"toggle_off", "", Scale::Code, 1, 0, 0, 1, 0, Unit::None, flagInteger | flagToggle,
         nullptr, 0, Effect::MultibandParse, ""},
        {"toggle_on", "", Scale::Code, 1, 0, 0, 1, 1, Unit::None, flagInteger | flagToggle,
         nullptr, 0, Effect::MultibandParse, ""},
        {"target", "", Scale::Code, 1, 0, -40, -5, -16, Unit::Db, flagInteger, nullptr, 0,
         Effect::MultibandParse, ""},
        {"ceiling_tenths", "", Scale::Linear, 0.1, -12.0, 0, 120, 110, Unit::Db, 0, nullptr, 0,
         Effect::MultibandParse, ""},
        {"ceiling_steps", "", Scale::Code, 1, 0, -12, 0, -1, Unit::Db, flagInteger, nullptr, 0,
         Effect::MultibandParse, ""},
        {"odd_third", "", Scale::Code, 1, 0, 0, 100, 77, Unit::None, flagInteger, nullptr, 0,
         Effect::ClassicPage, ""},
        {"release", "", Scale::BandRelease, 1, 0, 0, 100, 13, Unit::Ms, 0, nullptr, 0,
         Effect::MultibandParse, ""},
        {"threshold", "", Scale::BandThreshold, 1, 0, 0, 100, 99, Unit::Db, 0, nullptr, 0,
         Effect::MultibandParse, ""},
    };
    for (const ControlInfo& c : rows) expectExactLadspaDefault(c);
}
