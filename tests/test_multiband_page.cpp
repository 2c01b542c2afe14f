// The multiband page's and the limiter dialog's portable logic: string edits at
// fixed positions, labels, enable rules, the user preset list, and the
// geometry of the band graph, the response curve and the limiter graph.
#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "dsp/multiband_strings.h"
#include "pages/multiband_page.h"
#include "tests/test_support.h"

namespace {

class MultibandPageTest : public EngineTest {
protected:
    void SetUp() override {
        EngineTest::SetUp();
        initialise();
    }
    void TearDown() override {
        multibandPageFailAfter = -1;
        release_multiband_snapshot();
        EngineTest::TearDown();
    }
    std::string multi1() const { return settings.strings.enh_multi1; }
    std::string multi2() const { return settings.strings.enh_multi2; }
    std::string limiter() const { return settings.strings.enh_limiter; }
    static std::string list_text(int position) {
        char text[128];
        if (!multiband_preset_list_text(position, text, sizeof text)) return "<end>";
        return text;
    }
};

const std::string standardMulti1 = "m---f00300f03000f00000------------l020s025";
const std::string standardMulti2 =
    "----m067u051d088t046m067u051d085t051m045u051d085t012m022u058d085t009----------------";
const std::string standardLimiter = "l-s---th240re040ce300kn055ra201at025ho000";

BandParams standard_band_1() {
    // "m067u051d088t046" at 44100 Hz.
    return BandParams{7.03, 0.0000310608, 0.0056, 0.595};
}

std::string band_label(const BandParams& band, int column, int rate) {
    char text[64];
    format_band_label(text, sizeof text, band, column, rate);
    return text;
}

}  // namespace

// ---- String fields ----------------------------------------------------------

TEST(MultibandPageFields, ReadsLeadingDigitsAtFixedPositions) {
    const char field[] = "m---f00300f03000f00000------------l020s025";
    EXPECT_EQ(string_field_value(field, 5, 5), 300);
    EXPECT_EQ(string_field_value(field, 11, 5), 3000);
    EXPECT_EQ(string_field_value(field, 17, 5), 0);
    EXPECT_EQ(string_field_value(field, 23, 5), 0);   // '-' filler reads 0
    EXPECT_EQ(string_field_value(field, 35, 3), 20);
    EXPECT_EQ(string_field_value(field, 39, 3), 25);
    const char odd[] = " 7x -12+45";
    EXPECT_EQ(string_field_value(odd, 0, 3), 7);    // blank, digit, stop at 'x'
    EXPECT_EQ(string_field_value(odd, 4, 3), -12);
    EXPECT_EQ(string_field_value(odd, 7, 3), 45);
    const char shortened[8] = {'0', '4', '\0', '9', '9', 0, 0, 0};
    EXPECT_EQ(string_field_value(shortened, 0, 4), 4);  // stops at the terminator
}

TEST(MultibandPageFields, WritesTheLeadingDigitsOfTheZeroPaddedValue) {
    char field[12];
    memcpy(field, "aaaaaaaaaa", 11);
    write_string_field(field, 2, 7, 3);
    EXPECT_STREQ(field, "aa007aaaaa");
    write_string_field(field, 1, 123456, 5);
    EXPECT_STREQ(field, "a12345aaaa");
    write_string_field(field, 0, 4294967295u, 5);
    EXPECT_STREQ(field, "429495aaaa");
    write_string_field(field, 5, 0, 5);
    EXPECT_STREQ(field, "4294900000");
}

// ---- Page edits -----------------------------------------------------------

TEST_F(MultibandPageTest, StartsFromTheStandardStrings) {
    EXPECT_EQ(multi1(), standardMulti1);
    EXPECT_EQ(multi2(), standardMulti2);
    EXPECT_EQ(limiter(), standardLimiter);
}

TEST_F(MultibandPageTest, EachBandTrackbarWritesOnlyItsThreeCharacters) {
    for (int row = 0; row < 4; ++row) {
        for (int column = 0; column < 4; ++column) {
            settings_reset_to_load_state();
            initialise();
            const int id = 201 + 4 * row + column;
            ASSERT_TRUE(multiband_trackbar_moved(id, 7));
            std::string expected = standardMulti2;
            expected.replace(5 + 16 * row + 4 * column, 3, "007");
            EXPECT_EQ(multi2(), expected) << "trackbar " << id;
            EXPECT_EQ(multi1(), standardMulti1);
            EXPECT_EQ(multiband_trackbar_value(id), 7);
        }
    }
}

TEST_F(MultibandPageTest, BandThreeReleaseLandsInsideItsBlock) {
    multiband_trackbar_moved(210, 77);
    EXPECT_EQ(multi2().substr(36, 16), "m045u077d085t012");
}

TEST_F(MultibandPageTest, DriveAndStereoEditTheirFields) {
    multiband_trackbar_moved(221, 40);
    multiband_trackbar_moved(222, 3);
    EXPECT_EQ(multi1(), "m---f00300f03000f00000------------l040s003");
    EXPECT_EQ(multiband_trackbar_value(221), 40);
    EXPECT_EQ(multiband_trackbar_value(222), 3);
    EXPECT_EQ(multiband_trackbar_max(221), 40);
    EXPECT_EQ(multiband_trackbar_max(222), 40);
    EXPECT_EQ(multiband_trackbar_max(216), 100);
}

TEST_F(MultibandPageTest, OtherSendersChangeNothing) {
    for (int id : {0, 200, 217, 220, 223, 131}) {
        EXPECT_FALSE(multiband_trackbar_moved(id, 55)) << id;
        EXPECT_EQ(multiband_trackbar_value(id), 0);
    }
    EXPECT_EQ(multi1(), standardMulti1);
    EXPECT_EQ(multi2(), standardMulti2);
    EXPECT_TRUE(multiband_is_threshold_trackbar(204));
    EXPECT_TRUE(multiband_is_threshold_trackbar(216));
    EXPECT_FALSE(multiband_is_threshold_trackbar(203));
    EXPECT_FALSE(multiband_is_threshold_trackbar(221));
}

TEST_F(MultibandPageTest, SwitchesSetTheirLetters) {
    multiband_switch_clicked(190, true);
    EXPECT_EQ(multi1().substr(0, 4), "ma--");
    EXPECT_TRUE(multiband_switch_checked(190));
    multiband_switch_clicked(188, false);
    EXPECT_EQ(multi1().substr(0, 4), "-a--");
    EXPECT_FALSE(multiband_switch_checked(188));
    multiband_switch_clicked(191, false);
    EXPECT_EQ(limiter()[0], '-');
    EXPECT_FALSE(multiband_switch_checked(191));
    settings.strings.enh_limiter[0] = 'L';
    EXPECT_TRUE(multiband_switch_checked(191));
    // Everything else is untouched.
    EXPECT_EQ(multi1().substr(2), standardMulti1.substr(2));
    EXPECT_EQ(limiter().substr(1), standardLimiter.substr(1));
    EXPECT_FALSE(multiband_switch_clicked(999, true));
}

TEST_F(MultibandPageTest, SoftClipBoxesShareOneCharacter) {
    EXPECT_TRUE(multiband_switch_checked(189));
    EXPECT_FALSE(multiband_switch_checked(187));
    multiband_switch_clicked(187, true);
    EXPECT_EQ(limiter()[2], 'h');
    EXPECT_FALSE(multiband_switch_checked(189));
    EXPECT_TRUE(multiband_switch_checked(187));
    multiband_switch_clicked(187, false);
    EXPECT_EQ(limiter()[2], '-');
    EXPECT_FALSE(multiband_switch_checked(189));
    EXPECT_FALSE(multiband_switch_checked(187));
    settings.strings.enh_limiter[2] = 'S';  // case matters for soft clip
    EXPECT_FALSE(multiband_switch_checked(189));
}

TEST_F(MultibandPageTest, EnableSwitchesTheEngineAndTheEqualizer) {
    settings.eq_enable = 1;
    multiband_switch_clicked(181, true);
    EXPECT_EQ(settings.enhance, 2);
    EXPECT_EQ(settings.eq_enable, 0);
    EXPECT_TRUE(multiband_switch_checked(181));
    settings.enhance = 1;
    EXPECT_FALSE(multiband_switch_checked(181));
    multiband_switch_clicked(181, false);
    EXPECT_EQ(settings.enhance, 0);  // off, not back to the classic engine
}

TEST_F(MultibandPageTest, SoloKeepsAtMostOneBand) {
    multiband_switch_clicked(185, true);
    EXPECT_EQ(settings.engine.multiband.soloBand, 3);
    multiband_switch_clicked(184, true);
    EXPECT_EQ(settings.engine.multiband.soloBand, 2);
    for (int row = 0; row < 4; ++row) EXPECT_EQ(multiband_switch_checked(183 + row), row == 1);
    multiband_switch_clicked(184, false);
    EXPECT_EQ(settings.engine.multiband.soloBand, 0);
    for (int row = 0; row < 4; ++row) EXPECT_FALSE(multiband_switch_checked(183 + row));
}

TEST_F(MultibandPageTest, CrossoverEntriesKeepFiveCharacters) {
    multiband_crossover_entered(1, 123456);
    EXPECT_EQ(multi1().substr(11, 5), "12345");
    EXPECT_EQ(multiband_crossover_value(1), 12345u);
    multiband_crossover_entered(0, 0);
    EXPECT_EQ(multi1().substr(5, 5), "00000");
    multiband_crossover_entered(2, 4294967295u);
    EXPECT_EQ(multi1().substr(17, 5), "42949");
    multiband_crossover_entered(2, 80);
    EXPECT_EQ(multi1(), "m---f00000f12345f00080------------l020s025");
    EXPECT_EQ(multiband_crossover_value(0), 0u);
    EXPECT_EQ(multiband_crossover_value(2), 80u);
    multiband_crossover_entered(3, 1);  // no fourth field to edit
    EXPECT_EQ(multi1().substr(22), "------------l020s025");
}

TEST(MultibandPageRows, RowsBelowTheFirstZeroCrossoverAreDisabled) {
    MultibandParams params{};
    const uint16_t settingsTable[][4] = {{300, 3000, 0, 0}, {0, 3000, 5000, 0},
                                         {250, 2000, 5000, 0}, {400, 0, 0, 0}};
    const bool expected[][4] = {{true, true, true, false}, {true, false, false, false},
                                {true, true, true, true}, {true, true, false, false}};
    for (int s = 0; s < 4; ++s) {
        memcpy(params.crossoverHz, settingsTable[s], sizeof params.crossoverHz);
        for (int row = 0; row < 4; ++row)
            EXPECT_EQ(multiband_row_enabled(params, row), expected[s][row]) << s << "/" << row;
    }
}

// ---- Labels -------------------------------------------------------------------

TEST(MultibandPageLabels, StandardBandOneAtEachRate) {
    const BandParams band = standard_band_1();
    for (int rate : {0, 44100}) {
        EXPECT_EQ(band_label(band, 0, rate), "7.0 x ");
        EXPECT_EQ(band_label(band, 1, rate), "730 ms ");
        EXPECT_EQ(band_label(band, 2, rate), "4.0 ms ");
        EXPECT_EQ(band_label(band, 3, rate), "-4.5 dB ");
    }
    EXPECT_EQ(band_label(band, 1, 48000), "671 ms ");
    EXPECT_EQ(band_label(band, 2, 48000), "3.7 ms ");
    EXPECT_EQ(band_label(band, 1, 96000), "335 ms ");
    EXPECT_EQ(band_label(band, 2, 96000), "1.9 ms ");
}

TEST(MultibandPageLabels, DriveAndStereoCarryTheirSign) {
    char text[32];
    const double levels[] = {0.5, 1.0, 1.025, 1.5};
    const char* drive[] = {"-6.0 dB", "0.0 dB", "+0.2 dB", "+3.5 dB"};
    for (int i = 0; i < 4; ++i) {
        format_drive_label(text, sizeof text, levels[i]);
        EXPECT_STREQ(text, drive[i]);
    }
    const int percents[] = {-40, 0, 10, 40};
    const char* stereo[] = {"-40 %", "0 %", "+10 %", "+40 %"};
    for (int i = 0; i < 4; ++i) {
        format_stereo_label(text, sizeof text, percents[i]);
        EXPECT_STREQ(text, stereo[i]);
    }
}

TEST(MultibandPageLabels, AgcCaptionInDecibels) {
    char text[64];
    format_agc_caption(text, sizeof text, 1.0, 1.0);
    EXPECT_STREQ(text, "AGC 0.0 / 0.0 dB");
    format_agc_caption(text, sizeof text, 4.0, 2.0);
    EXPECT_STREQ(text, "AGC 12.0 / 6.0 dB");
}

TEST_F(MultibandPageTest, LabelsFollowTheParsedStrings) {
    parseMultibandStrings(0, 0, 0);
    const MultibandParams& params = settings.engine.multibandParams;
    EXPECT_EQ(band_label(params.bands[0], 0, 0), "7.0 x ");
    EXPECT_EQ(band_label(params.bands[0], 1, 0), "730 ms ");
    EXPECT_EQ(band_label(params.bands[0], 2, 0), "4.0 ms ");
    EXPECT_EQ(band_label(params.bands[0], 3, 0), "-4.5 dB ");

    const int drivePositions[] = {0, 20, 21, 40};
    const char* drive[] = {"-6.0 dB", "0.0 dB", "+0.2 dB", "+3.5 dB"};
    const int stereoPositions[] = {0, 20, 25, 40};
    const char* stereo[] = {"-40 %", "0 %", "+10 %", "+40 %"};
    char text[32];
    for (int i = 0; i < 4; ++i) {
        multiband_trackbar_moved(221, drivePositions[i]);
        multiband_trackbar_moved(222, stereoPositions[i]);
        parseMultibandStrings(0, 0, 0);
        format_drive_label(text, sizeof text, settings.engine.multibandParams.level);
        EXPECT_STREQ(text, drive[i]);
        format_stereo_label(text, sizeof text, settings.engine.multibandParams.stereoPercent);
        EXPECT_STREQ(text, stereo[i]);
    }
}

// ---- Preset list ------------------------------------------------------------

TEST_F(MultibandPageTest, ListShowsHeadingsAndBuiltIns) {
    const char* expected[] = {"Presets:", "   Restore previous", "   3 band enhance",
                              "   3 band soft", "   4 band enhance", "   4 band intense 1",
                              "   4 band intense 2", "   4 band deep bass", "   2 band",
                              "   Treble boost", "   Bass + Treble"};
    for (int p = 0; p < 11; ++p) EXPECT_EQ(list_text(p), expected[p]) << p;
    EXPECT_EQ(list_text(11), "<end>");
    EXPECT_EQ(list_text(-1), "<end>");
}

TEST_F(MultibandPageTest, UserPresetsAddAndDeleteWithTheirHeading) {
    EXPECT_EQ(multiband_add_user_preset("Loud"), 0);
    EXPECT_EQ(list_text(11), "User settings:");
    EXPECT_EQ(list_text(12), "   Loud");
    EXPECT_EQ(list_text(13), "<end>");
    EXPECT_EQ(std::string(settings.multiband_preset_slots[0]),
              standardMulti1 + "##" + standardMulti2 + "##" + standardLimiter + "##Loud");

    EXPECT_EQ(multiband_add_user_preset("a#b##Soft"), 1);
    EXPECT_EQ(list_text(13), "   Soft");  // the text after the last '#'
    EXPECT_EQ(multiband_add_user_preset("Third"), 2);
    EXPECT_EQ(multiband_user_preset_count(), 3);

    EXPECT_TRUE(multiband_delete_user_preset(0));
    EXPECT_EQ(multiband_user_preset_count(), 2);
    EXPECT_EQ(list_text(12), "   Soft");
    EXPECT_EQ(list_text(13), "   Third");
    EXPECT_EQ(settings.multiband_preset_slots[2], nullptr);
    EXPECT_FALSE(multiband_delete_user_preset(2));
    EXPECT_FALSE(multiband_delete_user_preset(-1));
    EXPECT_FALSE(multiband_delete_user_preset(30));
    EXPECT_TRUE(multiband_delete_user_preset(1));
    EXPECT_TRUE(multiband_delete_user_preset(0));
    EXPECT_EQ(list_text(11), "<end>");
    EXPECT_EQ(multiband_add_user_preset("Again"), 0);
    EXPECT_EQ(list_text(11), "User settings:");
    EXPECT_EQ(list_text(12), "   Again");
}

TEST_F(MultibandPageTest, AddStopsBeforeTheLastSlotAndCutsLongNames) {
    const std::string longName(120, 'n');
    for (int i = 0; i < 29; ++i) ASSERT_EQ(multiband_add_user_preset(longName.c_str()), i);
    EXPECT_EQ(multiband_add_user_preset("one more"), -1);
    EXPECT_EQ(settings.multiband_preset_slots[29], nullptr);
    EXPECT_EQ(list_text(12 + 28), "   " + std::string(89, 'n'));
    EXPECT_EQ(list_text(12 + 29), "<end>");
}

TEST_F(MultibandPageTest, RecordWithoutSeparatorEndsTheListing) {
    multiband_add_user_preset("First");
    multiband_add_user_preset("Second");
    multiband_add_user_preset("Third");
    strcpy(settings.multiband_preset_slots[1], "no separators here");
    EXPECT_EQ(list_text(12), "   First");
    EXPECT_EQ(list_text(13), "<end>");
    EXPECT_EQ(list_text(14), "<end>");
    // Selecting it applies nothing.
    const std::string before = multi1();
    EXPECT_FALSE(multiband_select_preset(13));
    EXPECT_EQ(multi1(), before);
}

TEST_F(MultibandPageTest, SelectingLoadsBuiltInsRecordsAndTheSnapshot) {
    ASSERT_TRUE(take_multiband_snapshot());
    EXPECT_FALSE(multiband_select_preset(0));
    EXPECT_FALSE(multiband_select_preset(11));
    EXPECT_FALSE(multiband_select_preset(12));  // no user preset yet

    ASSERT_TRUE(multiband_select_preset(5));  // "   4 band intense 1"
    EXPECT_EQ(multi1(), "ma--f00250f02200f05000------------l014s025");
    EXPECT_EQ(multi2(),
              "----m045u063d090t046m045u059d085t053m045u050d085t042m044u045d085t030----------------");
    EXPECT_EQ(limiter(), "l-h---th260re046ce300kn040ra201at025ho000");
    const uint8_t enhanceBefore = settings.enhance;

    multiband_add_user_preset("Intense");
    ASSERT_TRUE(multiband_select_preset(10));  // "   Bass + Treble"
    EXPECT_EQ(multi1(), "m---f00250f04500f00000------------l020s020");
    ASSERT_TRUE(multiband_select_preset(12));
    EXPECT_EQ(multi1(), "ma--f00250f02200f05000------------l014s025");
    EXPECT_EQ(limiter(), "l-h---th260re046ce300kn040ra201at025ho000");

    ASSERT_TRUE(multiband_select_preset(1));  // back to the page's creation
    EXPECT_EQ(multi1(), standardMulti1);
    EXPECT_EQ(multi2(), standardMulti2);
    EXPECT_EQ(limiter(), standardLimiter);
    EXPECT_EQ(multiband_user_preset_count(), 1);
    EXPECT_EQ(settings.enhance, enhanceBefore);
}

TEST_F(MultibandPageTest, SnapshotCopiesTheStringsAndIsReleased) {
    ASSERT_TRUE(take_multiband_snapshot());
    ASSERT_NE(multiband_snapshot.multi1, nullptr);
    EXPECT_EQ(std::string(multiband_snapshot.multi1), standardMulti1);
    EXPECT_EQ(std::string(multiband_snapshot.multi2), standardMulti2);
    EXPECT_EQ(std::string(multiband_snapshot.limiter), standardLimiter);
    multiband_trackbar_moved(201, 99);
    EXPECT_EQ(std::string(multiband_snapshot.multi2), standardMulti2);  // a copy, not a view
    release_multiband_snapshot();
    EXPECT_EQ(multiband_snapshot.multi1, nullptr);
    EXPECT_EQ(multiband_snapshot.multi2, nullptr);
    EXPECT_EQ(multiband_snapshot.limiter, nullptr);
}

TEST_F(MultibandPageTest, FailedSnapshotCopyKeepsTheCurrentStringsOnRestore) {
    for (int failing = 0; failing < 3; ++failing) {
        multibandPageFailAfter = failing;
        EXPECT_FALSE(take_multiband_snapshot()) << failing;
        EXPECT_EQ(multiband_snapshot.multi1, nullptr);
        EXPECT_EQ(multiband_snapshot.multi2, nullptr);
        EXPECT_EQ(multiband_snapshot.limiter, nullptr);
    }
    multiband_trackbar_moved(221, 33);
    ASSERT_TRUE(multiband_select_preset(1));  // nothing to restore: nothing changes
    EXPECT_EQ(multi1(), "m---f00300f03000f00000------------l033s025");
    EXPECT_EQ(multi2(), standardMulti2);
    EXPECT_EQ(limiter(), standardLimiter);
}

TEST_F(MultibandPageTest, FailedRecordAllocationAddsNothing) {
    ASSERT_EQ(multiband_add_user_preset("Kept"), 0);
    multibandPageFailAfter = 0;
    EXPECT_EQ(multiband_add_user_preset("Lost"), -1);
    EXPECT_EQ(multiband_user_preset_count(), 1);
    EXPECT_EQ(list_text(12), "   Kept");
    EXPECT_EQ(list_text(13), "<end>");
    EXPECT_EQ(multiband_add_user_preset("Later"), 1);  // the next one works again
}

// ---- Band graph ---------------------------------------------------------------

TEST(MultibandPageBandGraph, BarsOfTheActiveBandsOnTheUnityAxis) {
    MultibandParams params{};
    params.crossoverHz[0] = 300;
    params.crossoverHz[1] = 3000;
    const double gains[4] = {1.0, 0.5, 2.0, 3.0};
    const float readouts[4] = {1.0f, 0.5f, 2.4f, 3.0f};
    // The standard control: 40 x 130 pixels gives A = 96, B = 18, X0 = 10.
    const BandGraphLayout layout = band_graph_layout(params, gains, readouts, 40, 130);
    EXPECT_EQ(layout.axisX, 10);
    EXPECT_EQ(layout.axisTop, 23);
    EXPECT_EQ(layout.axisBottom, 109);
    ASSERT_EQ(layout.barCount, 3);  // crossover 3 is off: three bands
    // Boost bars first: band 1 (gain 1.0 draws a twelfth of the width), band 3.
    EXPECT_TRUE(layout.bars[0].boost);
    EXPECT_EQ(layout.bars[0].rect.left, 10);
    EXPECT_EQ(layout.bars[0].rect.right, 13);
    EXPECT_EQ(layout.bars[0].rect.top, 26);
    EXPECT_EQ(layout.bars[0].rect.bottom, 31);
    EXPECT_TRUE(layout.bars[1].boost);
    EXPECT_EQ(layout.bars[1].rect.right, 18);  // 10 + 40 * 2.4 / 12 = 18
    EXPECT_EQ(layout.bars[1].rect.top, 18 + 48 + 8);
    EXPECT_EQ(layout.bars[1].rect.bottom, 18 + 48 + 13);
    // Then band 2, below unity: from 10 - 40 * 0.5 / 12 = 8.33 to the axis.
    EXPECT_FALSE(layout.bars[2].boost);
    EXPECT_EQ(layout.bars[2].rect.left, 8);
    EXPECT_EQ(layout.bars[2].rect.right, 10);
    EXPECT_EQ(layout.bars[2].rect.top, 18 + 24 + 8);
}

TEST(MultibandPageBandGraph, BandCountFollowsTheCrossoverChain) {
    MultibandParams params{};
    const double gains[4] = {1, 1, 1, 1};
    const float readouts[4] = {1, 1, 1, 1};
    EXPECT_EQ(band_graph_layout(params, gains, readouts, 40, 130).barCount, 1);
    params.crossoverHz[1] = 3000;  // a value after a zero has no effect
    EXPECT_EQ(band_graph_layout(params, gains, readouts, 40, 130).barCount, 1);
    params.crossoverHz[0] = 300;
    params.crossoverHz[2] = 5000;
    EXPECT_EQ(band_graph_layout(params, gains, readouts, 40, 130).barCount, 4);
    params.crossoverHz[3] = 9000;
    EXPECT_EQ(band_graph_layout(params, gains, readouts, 40, 130).barCount, 4);
}

TEST(MultibandPageBandGraph, AnySizeAndAnyReadoutGiveDefinedRectangles) {
    MultibandParams params{};
    params.crossoverHz[0] = params.crossoverHz[1] = params.crossoverHz[2] = 100;
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double gains[4] = {1.0, 0.2, nan, 5.0};
    const float readouts[4] = {std::numeric_limits<float>::infinity(),
                               -std::numeric_limits<float>::infinity(),
                               std::numeric_limits<float>::quiet_NaN(), 1e30f};
    for (int size : {0, 1, 3, 40, 100000, 2000000000}) {
        const BandGraphLayout layout = band_graph_layout(params, gains, readouts, size, size);
        ASSERT_EQ(layout.barCount, 4);
        for (int i = 0; i < 4; ++i) {
            EXPECT_LE(layout.bars[i].rect.left, layout.bars[i].rect.right);
            EXPECT_LE(layout.bars[i].rect.top, layout.bars[i].rect.bottom);
        }
    }
}

// ---- Response curve --------------------------------------------------------

namespace {

MultibandParams flat_params(double threshold) {
    MultibandParams params{};
    for (BandParams& band : params.bands) band.threshold = threshold;
    return params;
}

}  // namespace

TEST(MultibandPageResponse, SingleBandPeaksSitAtTheWeightedLevel) {
    std::vector<int32_t> cells(130, -1);
    ASSERT_TRUE(response_curve_cells(flat_params(0.5), 100, 130, cells.data()));
    int drawn = 0;
    for (int row = 0; row < 130; ++row) {
        // Sampled peaks of the half-weighted tone lie just below or at 0.5.
        EXPECT_TRUE(cells[row] == 0 || cells[row] == 49 || cells[row] == 50)
            << row << ": " << cells[row];
        drawn += cells[row] != 0;
    }
    // The 40 Hz start has a period longer than a row; later rows all have peaks.
    EXPECT_GE(drawn, 120);
    for (int row = 20; row < 130; ++row) EXPECT_GE(cells[row], 49) << row;
}

TEST(MultibandPageResponse, FullScalePeaksAreDropped) {
    std::vector<int32_t> cells(130, -1);
    ASSERT_TRUE(response_curve_cells(flat_params(1.2), 40, 130, cells.data()));
    // Below about 500 Hz every sampled peak is close to 1: weighted by 1.2 it
    // reaches full scale and the rows stay empty. Higher up, the few samples
    // per period leave smaller peaks, which are kept.
    for (int row = 0; row < 40; ++row) EXPECT_EQ(cells[row], 0) << row;
    for (int row = 0; row < 130; ++row) EXPECT_LT(cells[row], 40) << row;
}

TEST(MultibandPageResponse, ThresholdsWeightTheirBands) {
    MultibandParams params = flat_params(0.9);
    params.bands[0].threshold = 0.25;
    params.crossoverHz[0] = 1000;
    std::vector<int32_t> cells(130, 0);
    ASSERT_TRUE(response_curve_cells(params, 100, 130, cells.data()));
    // Low frequencies (top rows) pass band 1, weighted 0.25; the end of the
    // sweep lies far above the crossover and passes band 2 at 0.9.
    // Rows 5..15 lie between 40 and 60 Hz, rows 115..129 above 11 kHz.
    for (int row = 5; row < 16; ++row) {
        EXPECT_GE(cells[row], 24) << row;
        EXPECT_LE(cells[row], 27) << row;
    }
    for (int row = 115; row < 130; ++row) {
        EXPECT_GE(cells[row], 87) << row;
        EXPECT_LE(cells[row], 90) << row;
    }
}

TEST(MultibandPageResponse, ExtremeSizesStayInsideTheirCells) {
    for (int height : {1, 2, 200000}) {
        std::vector<int32_t> cells(height + 1, -7);
        ASSERT_TRUE(response_curve_cells(flat_params(0.5), 100, height, cells.data()));
        EXPECT_EQ(cells[height], -7);  // the guard entry is never written
        for (int row = 0; row < height; ++row) {
            ASSERT_GE(cells[row], 0);
            ASSERT_LT(cells[row], 100);
        }
    }
    std::vector<int32_t> cells(130, -7);
    ASSERT_TRUE(response_curve_cells(flat_params(0.5), 1, 130, cells.data()));
    for (int32_t cell : cells) EXPECT_EQ(cell, 0);  // only x >= 1 and x < 1: nothing
    ASSERT_TRUE(response_curve_cells(flat_params(0.5), 0, 0, nullptr));
}

TEST(MultibandPageResponse, FailedBuffersLeaveTheCellsAlone) {
    for (int failing = 0; failing < 5; ++failing) {
        std::vector<int32_t> cells(130, -5);
        multibandPageFailAfter = failing;
        EXPECT_FALSE(response_curve_cells(flat_params(0.5), 100, 130, cells.data())) << failing;
        for (int32_t cell : cells) ASSERT_EQ(cell, -5);
    }
    multibandPageFailAfter = -1;
    std::vector<int32_t> cells(130, -5);
    EXPECT_TRUE(response_curve_cells(flat_params(0.5), 100, 130, cells.data()));
    EXPECT_TRUE(cells[129] == 49 || cells[129] == 50) << cells[129];
}

TEST(MultibandPageResponse, UnstableCrossoversStayDefined) {
    MultibandParams params = flat_params(0.5);
    params.crossoverHz[0] = 30000;  // above half the rate
    params.crossoverHz[1] = 65535;
    std::vector<int32_t> cells(130, -1);
    ASSERT_TRUE(response_curve_cells(params, 100, 130, cells.data()));
    for (int32_t cell : cells) {
        EXPECT_GE(cell, 0);
        EXPECT_LT(cell, 100);
    }
}

// ---- Limiter dialog ------------------------------------------------------------

TEST_F(MultibandPageTest, LimiterTrackbarsEditOnlyTheirFields) {
    const int positions[] = {8, 13, 18, 23, 28, 33};
    for (int i = 0; i < 6; ++i) {
        settings_reset_to_load_state();
        initialise();
        ASSERT_TRUE(limiter_trackbar_moved(201 + i, 123));
        std::string expected = standardLimiter;
        expected.replace(positions[i], 3, "123");
        EXPECT_EQ(limiter(), expected) << 201 + i;
        EXPECT_EQ(limiter_trackbar_value(i), 123);
    }
    EXPECT_FALSE(limiter_trackbar_moved(207, 5));
    EXPECT_FALSE(limiter_trackbar_moved(200, 5));
    EXPECT_EQ(limiter_trackbar_value(6), 0);
}

TEST_F(MultibandPageTest, LimiterStartsFromTheStandardValues) {
    const int values[] = {240, 40, 300, 55, 201, 25};
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(limiter_trackbar_value(i), values[i]);
        EXPECT_GE(values[i], limiter_controls[i].minimum);
        EXPECT_LE(values[i], limiter_controls[i].maximum);
    }
    EXPECT_EQ(limiter_controls[1].maximum, 800);
    EXPECT_EQ(limiter_controls[4].minimum, 11);
    EXPECT_EQ(limiter_controls[4].maximum, 201);
}

TEST_F(MultibandPageTest, LimiterLabelsOfTheStandardString) {
    parseMultibandStrings(0, 0, 0);
    const char* expected[] = {"-6.0 dB", "40 ms", "0.0 dB", "5.5 dB", "inf : 1", "2.5 ms"};
    char text[32];
    for (int i = 0; i < 6; ++i) {
        format_limiter_label(text, sizeof text, settings.engine.multibandParams.limiter, i);
        EXPECT_STREQ(text, expected[i]);
    }
}

TEST(MultibandPageLimiterLabels, RatioAndRangeEnds) {
    LimiterParams limiter{};
    char text[32];
    limiter.ratio = 20.0;
    format_limiter_label(text, sizeof text, limiter, 4);
    EXPECT_STREQ(text, "20.0 : 1");
    limiter.ratio = 1.1;
    format_limiter_label(text, sizeof text, limiter, 4);
    EXPECT_STREQ(text, "1.1 : 1");
    limiter.ratio = 20.1;
    format_limiter_label(text, sizeof text, limiter, 4);
    EXPECT_STREQ(text, "inf : 1");
    limiter.thresholdDb = -30.0;
    limiter.ceilingDb = 0.0;
    format_limiter_label(text, sizeof text, limiter, 0);
    EXPECT_STREQ(text, "-30.0 dB");
    format_limiter_label(text, sizeof text, limiter, 2);
    EXPECT_STREQ(text, "0.0 dB");
    limiter.releaseMs = 800;
    format_limiter_label(text, sizeof text, limiter, 1);
    EXPECT_STREQ(text, "800 ms");
    limiter.attackMs = 10.0;
    format_limiter_label(text, sizeof text, limiter, 5);
    EXPECT_STREQ(text, "10.0 ms");
}

TEST_F(MultibandPageTest, ShortLimiterStringIsNotLoaded) {
    EXPECT_TRUE(limiter_string_loadable());
    settings.strings.enh_limiter[38] = '\0';
    EXPECT_TRUE(limiter_string_loadable());
    settings.strings.enh_limiter[37] = '\0';
    EXPECT_FALSE(limiter_string_loadable());
}

TEST(MultibandPageLimiterGraph, RowsOfAmplitudes) {
    EXPECT_EQ(graph_row(1.0, 116), 1);
    EXPECT_EQ(graph_row(0.0, 116), 116);
    EXPECT_EQ(graph_row(0.5, 116), 58);  // trunc(116 - 57.5)
    EXPECT_EQ(graph_row(std::numeric_limits<double>::quiet_NaN(), 116), 116);
    EXPECT_LT(graph_row(1e300, 116), 0);
    EXPECT_GT(graph_row(-1e300, 116), 116);
}

TEST(MultibandPageLimiterGraph, TraceColumnsAreGroupPeaks) {
    float values[500] = {};
    GraphPoint points[501];
    // All zero: only the starting move.
    EXPECT_EQ(trace_points(values, 130, 116, points), 1);
    EXPECT_EQ(points[0].x, 0);
    EXPECT_EQ(points[0].y, 116);

    // 130 columns: three values per column; the last, incomplete group is not drawn.
    for (int i = 0; i < 500; ++i) values[i] = (i % 3 == 1) ? -0.5f : 0.1f;
    values[0] = 1.0f;
    const int count = trace_points(values, 130, 116, points);
    ASSERT_EQ(count, 1 + 166);
    EXPECT_EQ(points[0].y, 1);  // the move uses the first value's magnitude
    EXPECT_EQ(points[1].x, 0);
    EXPECT_EQ(points[1].y, 1);  // group 0 holds the 1.0
    for (int k = 1; k < 166; ++k) {
        EXPECT_EQ(points[1 + k].x, k);
        EXPECT_EQ(points[1 + k].y, 58);
    }

    // A silent group is skipped: the line bridges it.
    values[3] = values[4] = values[5] = 0.0f;
    EXPECT_EQ(trace_points(values, 130, 116, points), 166);
    EXPECT_EQ(points[2].x, 2);
}

TEST(MultibandPageLimiterGraph, WideAndNarrowGraphs) {
    float values[500];
    for (float& v : values) v = 0.25f;
    GraphPoint points[501];
    EXPECT_EQ(trace_points(values, 600, 100, points), 501);  // one value per column
    EXPECT_EQ(points[500].x, 499);
    EXPECT_EQ(trace_points(values, 1, 100, points), 2);  // all 500 in one column
    EXPECT_EQ(points[1].x, 0);
    EXPECT_EQ(trace_points(values, 0, 100, points), 0);
    EXPECT_EQ(trace_points(values, 100, 0, points), 0);
    values[7] = std::numeric_limits<float>::quiet_NaN();
    values[8] = std::numeric_limits<float>::infinity();
    // Two values per column: NaN is ignored (the group's peak is 0.25), an
    // infinite value lands far above the top row without overflowing.
    EXPECT_EQ(trace_points(values, 250, 100, points), 251);
    EXPECT_EQ(points[4].x, 3);
    EXPECT_EQ(points[4].y, 75);
    EXPECT_LT(points[5].y, -1000000);
}

TEST_F(MultibandPageTest, TransferCurveOfTheStandardLimiter) {
    parseMultibandStrings(0, 0, 0);
    const int width = 200;
    const int height = 101;
    std::vector<float> work(width);
    std::vector<GraphPoint> points(width + 1);
    ASSERT_EQ(transfer_points(settings.engine.multibandParams.limiter, width, height, work.data(),
                              points.data()),
              width + 1);
    EXPECT_EQ(points[0].x, 0);
    EXPECT_EQ(points[0].y, height);
    EXPECT_EQ(points[1].x, 0);
    EXPECT_EQ(points[1].y, height);  // the ramp starts at 0 and gives 0
    // Input 0.25 (-12 dB) lies below the knee: only the +6 dB makeup applies.
    EXPECT_NEAR(work[50], 0.25 * pow(10.0, 6.0 / 20), 1e-6);
    EXPECT_EQ(points[51].x, 50);
    EXPECT_EQ(points[51].y, 51);  // trunc(101 - 100 * 0.4988)
    // Hard limiting: nothing above the ceiling of 0 dB.
    for (int i = 0; i < width; ++i) {
        EXPECT_LE(work[i], 1.0f + 1e-6f) << i;
        EXPECT_GE(points[i + 1].y, 0);
    }
    EXPECT_EQ(transfer_points(settings.engine.multibandParams.limiter, 0, height, work.data(),
                              points.data()),
              0);
}
