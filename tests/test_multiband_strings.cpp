// Parameter strings of the multiband engine: conversion, rate scaling, reset
// flags, built-in presets and user preset records.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>

#include "dsp/multiband_strings.h"
#include "tests/test_support.h"

namespace {

const char* const standardMulti1 = "m---f00300f03000f00000------------l020s025";
const char* const standardMulti2 =
    "----m067u051d088t046m067u051d085t051m045u051d085t012m022u058d085t009----------------";
const char* const standardLimiter = "l-s---th240re040ce300kn055ra201at025ho000";

void set_field(char* field, int size, const std::string& text) {
    ASSERT_LT(static_cast<int>(text.size()), size);
    for (size_t i = 0; i < text.size(); ++i) field[i] = text[i];
    field[text.size()] = '\0';
}

std::string with(std::string text, size_t position, const std::string& value) {
    return text.replace(position, value.size(), value);
}

// Converts three strings held in fields of their real sizes (zero after the text).
MultibandParams convert(const std::string& m1, const std::string& m2, const std::string& lim,
                        int rate) {
    MultibandStrings fields{};
    memcpy(fields.enh_multi1, m1.c_str(), std::min(m1.size(), sizeof fields.enh_multi1 - 1));
    memcpy(fields.enh_multi2, m2.c_str(), std::min(m2.size(), sizeof fields.enh_multi2 - 1));
    memcpy(fields.enh_limiter, lim.c_str(), std::min(lim.size(), sizeof fields.enh_limiter - 1));
    return convertMultibandStrings(fields.enh_multi1, fields.enh_multi2, fields.enh_limiter, rate);
}

class MultibandStringsTest : public EngineTest {};

TEST_F(MultibandStringsTest, StandardStringsAt44100) {
    const MultibandParams p = convert(standardMulti1, standardMulti2, standardLimiter, 44100);
    EXPECT_TRUE(p.multibandOn);
    EXPECT_FALSE(p.agcOn);
    EXPECT_EQ(p.crossoverHz[0], 300);
    EXPECT_EQ(p.crossoverHz[1], 3000);
    EXPECT_EQ(p.crossoverHz[2], 0);
    EXPECT_EQ(p.crossoverHz[3], 0);
    EXPECT_DOUBLE_EQ(p.level, 1.0);
    EXPECT_EQ(p.stereoPercent, 10);
    EXPECT_NEAR(p.bands[0].maxGain, 7.03, 1e-12);
    EXPECT_NEAR(p.bands[0].upStep, 0.0000310608, 5e-11);
    EXPECT_NEAR(p.bands[0].downStep, 0.0056, 1e-12);
    EXPECT_NEAR(p.bands[0].threshold, 0.595, 1e-12);
    // Band 2 differs only in its fall speed and threshold, band 3 in max amp.
    EXPECT_NEAR(p.bands[1].downStep, 0.0065, 1e-12);
    EXPECT_NEAR(p.bands[1].threshold, 0.6325, 1e-12);
    EXPECT_NEAR(p.bands[2].maxGain, 5.05, 1e-12);
    EXPECT_TRUE(p.limiterOn);
    EXPECT_EQ(p.softClipMode, 1);
    EXPECT_DOUBLE_EQ(p.limiter.thresholdDb, -6.0);
    EXPECT_EQ(p.limiter.releaseMs, 40);
    EXPECT_DOUBLE_EQ(p.limiter.ceilingDb, 0.0);
    EXPECT_DOUBLE_EQ(p.limiter.kneeDb, 5.5);
    EXPECT_DOUBLE_EQ(p.limiter.ratio, 20.1);
    EXPECT_DOUBLE_EQ(p.limiter.attackMs, 2.5);
    EXPECT_EQ(p.limiter.holdMs, 0);
}

TEST_F(MultibandStringsTest, RateScalesOnlyTheBandSteps) {
    const MultibandParams at48 = convert(standardMulti1, standardMulti2, standardLimiter, 48000);
    EXPECT_NEAR(at48.bands[0].upStep, 0.0000285371, 5e-11);
    EXPECT_NEAR(at48.bands[0].downStep, 0.005145, 1e-12);
    EXPECT_NEAR(at48.bands[0].maxGain, 7.03, 1e-12);
    EXPECT_NEAR(at48.bands[0].threshold, 0.595, 1e-12);

    const MultibandParams at44 = convert(standardMulti1, standardMulti2, standardLimiter, 44100);
    const MultibandParams atZero = convert(standardMulti1, standardMulti2, standardLimiter, 0);
    const MultibandParams at22 = convert(standardMulti1, standardMulti2, standardLimiter, 22050);
    for (int b = 0; b < 4; ++b) {
        EXPECT_EQ(atZero.bands[b].upStep, at44.bands[b].upStep);
        EXPECT_EQ(atZero.bands[b].downStep, at44.bands[b].downStep);
        EXPECT_DOUBLE_EQ(at22.bands[b].upStep, 2 * at44.bands[b].upStep);
        EXPECT_DOUBLE_EQ(at22.bands[b].downStep, 2 * at44.bands[b].downStep);
    }
}

TEST_F(MultibandStringsTest, FieldRangesAndSwitchLetters) {
    // Band fields at both ends of the control ranges.
    const std::string m2 = with(with(standardMulti2, 4, "m100u100d100t100"), 20,
                                "m000u000d000t000");
    const MultibandParams p = convert(standardMulti1, m2, standardLimiter, 44100);
    EXPECT_NEAR(p.bands[0].maxGain, 10.0, 1e-12);
    EXPECT_NEAR(p.bands[0].upStep, 0.000404, 1e-12);
    EXPECT_NEAR(p.bands[0].downStep, 0.002, 1e-12);
    EXPECT_NEAR(p.bands[0].threshold, 1.0, 1e-12);
    EXPECT_NEAR(p.bands[1].maxGain, 1.0, 1e-12);
    EXPECT_NEAR(p.bands[1].upStep, 0.000004, 1e-15);
    EXPECT_NEAR(p.bands[1].downStep, 0.032, 1e-12);
    EXPECT_NEAR(p.bands[1].threshold, 0.25, 1e-12);

    const std::string m1 = with(with(standardMulti1, 34, "l040s040"), 0, "Ma");
    const MultibandParams q = convert(m1, standardMulti2, with(standardLimiter, 0, "L-S"), 44100);
    EXPECT_FALSE(q.multibandOn);  // 'M' is not 'm'
    EXPECT_TRUE(q.agcOn);
    EXPECT_TRUE(q.limiterOn);      // 'L' counts
    EXPECT_EQ(q.softClipMode, 0);  // 'S' does not
    EXPECT_DOUBLE_EQ(q.level, 1.5);
    EXPECT_EQ(q.stereoPercent, 40);
    EXPECT_EQ(convert(standardMulti1, standardMulti2, with(standardLimiter, 2, "h"), 0)
                  .softClipMode, 2);
    EXPECT_FALSE(convert("-A", standardMulti2, "x", 0).agcOn);
    EXPECT_FALSE(convert("-A", standardMulti2, "x", 0).limiterOn);

    // Limiter fields at their control limits; ratio 200 is finite, 201 not.
    const std::string lim = "l-----th000re800ce000kn400ra200at100ho123";
    const MultibandParams r = convert(standardMulti1, standardMulti2, lim, 44100);
    EXPECT_DOUBLE_EQ(r.limiter.thresholdDb, -30.0);
    EXPECT_EQ(r.limiter.releaseMs, 800);
    EXPECT_DOUBLE_EQ(r.limiter.ceilingDb, -30.0);
    EXPECT_DOUBLE_EQ(r.limiter.kneeDb, 40.0);
    EXPECT_DOUBLE_EQ(r.limiter.ratio, 20.0);
    EXPECT_DOUBLE_EQ(r.limiter.attackMs, 10.0);
    EXPECT_EQ(r.limiter.holdMs, 123);
}

TEST_F(MultibandStringsTest, UnusualFieldContents) {
    // Crossover slots keep the low 16 bits; the fourth slot (23-27) is read.
    std::string m1 = with(standardMulti1, 5, "99999");
    m1 = with(m1, 23, "01234");
    MultibandParams p = convert(m1, standardMulti2, standardLimiter, 0);
    EXPECT_EQ(p.crossoverHz[0], 99999 % 65536);
    EXPECT_EQ(p.crossoverHz[3], 1234);

    // Filler in a value field reads as 0; a field stops at its own end even
    // when digits follow in the next field.
    const std::string m2 = with(standardMulti2, 4, "m---u---d---t---");
    p = convert(standardMulti1, m2, standardLimiter, 44100);
    EXPECT_NEAR(p.bands[0].maxGain, 1.0, 1e-12);
    EXPECT_NEAR(p.bands[0].downStep, 0.032, 1e-12);
    EXPECT_NEAR(p.bands[0].threshold, 0.25, 1e-12);

    // Max amp, rise, fall and attack accept a fraction; the others do not.
    std::string frac = with(standardMulti2, 4, "m1.5u050d9.5t4.5");
    p = convert(standardMulti1, frac, with(standardLimiter, 33, "2.5"), 44100);
    EXPECT_NEAR(p.bands[0].maxGain, 1.135, 1e-12);
    EXPECT_NEAR(p.bands[0].downStep, 0.0003 * 90.5 + 0.002, 1e-12);
    EXPECT_NEAR(p.bands[0].threshold, 0.0075 * 4 + 0.25, 1e-12);
    EXPECT_NEAR(p.limiter.attackMs, 0.25, 1e-12);

    // Plain decimals only: no exponent, no infinity, no not-a-number.
    p = convert(standardMulti1, with(standardMulti2, 4, "mnanuinfd1e2t000"),
                with(standardLimiter, 33, "0x9"), 44100);
    EXPECT_EQ(p.bands[0].maxGain, 1.0);
    EXPECT_NEAR(p.bands[0].upStep, 0.000004, 1e-15);
    EXPECT_NEAR(p.bands[0].downStep, 0.0003 * 99 + 0.002, 1e-12);
    EXPECT_EQ(p.limiter.attackMs, 0.0);
    p = convert(standardMulti1, with(standardMulti2, 4, "m.05u-10d 12t000"), standardLimiter, 0);
    EXPECT_EQ(p.bands[0].maxGain, 1 + 0.09 * 0.05);
    EXPECT_NEAR(p.bands[0].upStep, 0.0004 * 1e-4 + 0.000004, 1e-15);
    EXPECT_NEAR(p.bands[0].downStep, 0.0003 * 88 + 0.002, 1e-12);

    // Leading blanks and a sign are accepted.
    p = convert(with(standardMulti1, 35, " -4"), standardMulti2, standardLimiter, 44100);
    EXPECT_DOUBLE_EQ(p.level, 0.4);
}

TEST_F(MultibandStringsTest, ShortStringReadsWhatRemainsInItsField) {
    // A short limiter string over the standard one: positions past its
    // terminator still hold the standard characters.
    settings_initialise();
    set_field(settings.strings.enh_limiter, sizeof settings.strings.enh_limiter, "--s");
    parseMultibandStrings(0, 0, 0);
    const LimiterParams& l = settings.engine.multibandParams.limiter;
    EXPECT_FALSE(settings.engine.multibandParams.limiterOn);
    EXPECT_EQ(settings.engine.multibandParams.softClipMode, 1);
    EXPECT_DOUBLE_EQ(l.thresholdDb, -6.0);
    EXPECT_EQ(l.releaseMs, 40);

    // On a field that was all zero, the same short string reads zeros.
    settings_reset_to_load_state();
    set_field(settings.strings.enh_limiter, sizeof settings.strings.enh_limiter, "--s");
    parseMultibandStrings(0, 0, 0);
    EXPECT_DOUBLE_EQ(settings.engine.multibandParams.limiter.thresholdDb, -30.0);
    EXPECT_EQ(settings.engine.multibandParams.limiter.releaseMs, 0);
    EXPECT_DOUBLE_EQ(settings.engine.multibandParams.limiter.ratio, 0.0);
}

// Marks every piece of state a reset can touch with a recognisable value.
void mark_state() {
    MultibandState& s = settings.engine.multiband;
    for (int b = 0; b < 4; ++b) {
        s.bandGains[b] = 3.5;
        s.bandGainReadouts[b] = 2.5f;
        for (float& v : s.bandHistories[b]) v = 0.25f;
    }
    s.agcGains[0] = s.agcGains[1] = 2.0;
    for (float& v : settings.engine.limiterHistory) v = 0.5f;
}

TEST_F(MultibandStringsTest, ResetFlags) {
    settings_initialise();
    struct Case {
        int flags;
        bool gains, histories, agc;
    };
    const Case cases[] = {{0, false, false, false}, {-3, false, false, false},
                          {1, true, false, true},   {2, false, true, true},
                          {3, true, true, true},    {4, false, false, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.flags);
        mark_state();
        parseMultibandStrings(c.flags, 0, 0);
        adoptEngineParameters();  // resets reach the engine between blocks
        const MultibandState& s = settings.engine.multiband;
        for (int b = 0; b < 4; ++b) {
            EXPECT_EQ(s.bandGains[b], c.gains ? 1.0 : 3.5);
            EXPECT_EQ(s.bandGainReadouts[b], c.gains ? 1.0f : 2.5f);
            EXPECT_EQ(s.bandHistories[b][0], c.histories ? 0.0f : 0.25f);
            EXPECT_EQ(s.bandHistories[b][bandHistoryLength - 1], c.histories ? 0.0f : 0.25f);
        }
        EXPECT_EQ(settings.engine.limiterHistory[1999], c.histories ? 0.0f : 0.5f);
        EXPECT_EQ(s.agcGains[0], c.agc ? 1.0 : 2.0);
        EXPECT_EQ(s.agcGains[1], c.agc ? 1.0 : 2.0);
    }
}

TEST_F(MultibandStringsTest, ParseReachesTheEngineBetweenBlocks) {
    settings_initialise();
    settings.engine.multiband.crossovers.sections[0].s1 = 0.125f;
    parseMultibandStrings(0, 48000, 0);
    // The pages see the result at once, the engine after the next adoption.
    EXPECT_NEAR(settings.engine.multibandParams.bands[0].downStep, 0.005145, 1e-12);
    EXPECT_EQ(settings.engine.engineMultiband.crossoverHz[0], 0);
    adoptEngineParameters();
    EXPECT_EQ(settings.engine.engineMultiband.crossoverHz[0], 300);
    EXPECT_NEAR(settings.engine.engineMultiband.bands[0].downStep, 0.005145, 1e-12);
    const CrossoverSection& s = settings.engine.multiband.crossovers.sections[0];
    EXPECT_FLOAT_EQ(s.normalisedFrequency, 300.0f / 48000.0f);
    EXPECT_EQ(s.s1, 0.125f);  // a redesign keeps the running filter state

    // The audio thread's own parse (first block) applies at once.
    setAudioThreadActive(true);
    mark_state();
    parseMultibandStrings(3, 44100, 2);
    setAudioThreadActive(false);
    EXPECT_NEAR(settings.engine.engineMultiband.bands[0].downStep, 0.0056, 1e-12);
    EXPECT_EQ(settings.engine.multiband.bandGains[2], 1.0);
    EXPECT_EQ(settings.engine.limiterHistory[0], 0.0f);
}

TEST_F(MultibandStringsTest, BuiltinPresets) {
    settings_initialise();
    struct Expect {
        int bands;
        bool agc, limiter;
        int softClip;
    };
    // Band counts from the crossover chains, switches from the letters.
    const Expect expect[builtinMultibandPresetCount] = {
        {3, false, true, 1}, {3, false, true, 0}, {4, false, true, 1},
        {4, true, true, 2},  {4, true, true, 2},  {4, false, true, 1},
        {2, false, true, 0}, {3, false, false, 0}, {3, false, false, 1}};
    for (int i = 0; i < builtinMultibandPresetCount; ++i) {
        SCOPED_TRACE(i);
        const BuiltinMultibandPreset& preset = builtin_multiband_presets[i];
        EXPECT_EQ(strlen(preset.multi1), 42u);
        EXPECT_EQ(strlen(preset.multi2), 84u);
        EXPECT_EQ(strlen(preset.limiter), 41u);
        EXPECT_EQ(strncmp(preset.listText, "   ", 3), 0);
        loadMultibandPreset(firstBuiltinMultibandPreset + i);
        EXPECT_STREQ(settings.strings.enh_multi1, preset.multi1);
        EXPECT_STREQ(settings.strings.enh_multi2, preset.multi2);
        EXPECT_STREQ(settings.strings.enh_limiter, preset.limiter);
        parseMultibandStrings(1, 0, 0);
        const MultibandParams& p = settings.engine.multibandParams;
        int bands = 1;
        while (bands < 4 && p.crossoverHz[bands - 1] != 0) ++bands;
        EXPECT_EQ(bands, expect[i].bands);
        EXPECT_EQ(p.agcOn != 0, expect[i].agc);
        EXPECT_EQ(p.limiterOn != 0, expect[i].limiter);
        EXPECT_EQ(p.softClipMode, expect[i].softClip);
    }
    EXPECT_STREQ(builtin_multiband_presets[3].listText, "   4 band intense 1");
    EXPECT_STREQ(builtin_multiband_presets[8].listText, "   Bass + Treble");

    // Numbers outside 20..29 change nothing.
    loadMultibandPreset(22);
    const MultibandStrings before = settings.strings;
    loadMultibandPreset(19);
    loadMultibandPreset(30);
    loadMultibandPreset(-1);
    EXPECT_EQ(memcmp(&before, &settings.strings, sizeof before), 0);
}

TEST_F(MultibandStringsTest, RestorePreviousCopiesTheSnapshot) {
    settings_initialise();
    char m1[] = "m---f00111f00000f00000------------l020s020";
    char m2[] = "short";
    char lim[] = "--h";
    multiband_snapshot = {m1, m2, lim};
    loadMultibandPreset(restorePreviousMultibandPreset);
    multiband_snapshot = {};
    EXPECT_STREQ(settings.strings.enh_multi1, m1);
    EXPECT_STREQ(settings.strings.enh_multi2, "short");
    EXPECT_STREQ(settings.strings.enh_limiter, "--h");
    // strcpy semantics: the standard string's tail stays after the terminator.
    EXPECT_EQ(settings.strings.enh_limiter[4], standardLimiter[4]);
    // Without a snapshot nothing is copied.
    loadMultibandPreset(restorePreviousMultibandPreset);
    EXPECT_STREQ(settings.strings.enh_multi2, "short");
}

TEST_F(MultibandStringsTest, PresetRecords) {
    settings_initialise();
    char record[multibandPresetRecordSize];
    formatMultibandPresetRecord(record, sizeof record, "odd#name#shown");
    EXPECT_EQ(std::string(record), std::string(standardMulti1) + "##" + standardMulti2 + "##" +
                                        standardLimiter + "##odd#name#shown");
    EXPECT_STREQ(multibandPresetRecordName(record), "shown");
    EXPECT_EQ(multibandPresetRecordName("no separators"), nullptr);

    loadMultibandPreset(25);
    ASSERT_EQ(applyMultibandPresetRecord(record), 1);
    EXPECT_STREQ(settings.strings.enh_multi1, standardMulti1);
    EXPECT_STREQ(settings.strings.enh_multi2, standardMulti2);
    EXPECT_STREQ(settings.strings.enh_limiter, standardLimiter);

    // A record that lacks a separator changes nothing, also one that ends
    // right after a single '#'.
    loadMultibandPreset(25);
    const MultibandStrings before = settings.strings;
    EXPECT_EQ(applyMultibandPresetRecord("abc##def"), 0);
    EXPECT_EQ(applyMultibandPresetRecord("abc##def##ghi#"), 1);
    EXPECT_STREQ(settings.strings.enh_limiter, "ghi");
    settings.strings = before;
    EXPECT_EQ(applyMultibandPresetRecord("abc##def#"), 0);
    EXPECT_EQ(applyMultibandPresetRecord(nullptr), 0);
    EXPECT_EQ(memcmp(&before, &settings.strings, sizeof before), 0);

    // An overlong piece is cut to its field; the neighbours stay intact.
    const std::string longPiece(120, '7');
    ASSERT_EQ(applyMultibandPresetRecord((longPiece + "##b##c##n").c_str()), 1);
    EXPECT_EQ(strlen(settings.strings.enh_multi1), 49u);
    EXPECT_STREQ(settings.strings.enh_multi2, "b");
    EXPECT_STREQ(settings.strings.enh_limiter, "c");
}

}  // namespace
