// The plug-in UI's pages model: every port has a place, the ranges agree with
// the port table, the texts are the page logic's, and input writes what the
// page controls write.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>

#include "lv2ui/ui_model.h"
#include "ports/builtin_presets.h"
#include "settings/plugin_settings.h"

using namespace lv2ui;
using namespace ports;

namespace {

const Widget* find(int page, int control, Kind kind = Kind::Slider) {
    const Layout& l = uiLayout();
    for (int i = 0; i < l.count; ++i)
        if (l.widgets[i].page == page && l.widgets[i].control == control && l.widgets[i].kind == kind)
            return &l.widgets[i];
    return nullptr;
}

int indexOf(const Widget* w) { return static_cast<int>(w - uiLayout().widgets); }

std::string labelOf(const Widget& w, const UiState& s) {
    char text[64];
    widgetLabel(w, s, text, sizeof text);
    return text;
}

double centre(const Rect& r, bool x) { return x ? r.x + r.w / 2.0 : r.y + r.h / 2.0; }

}  // namespace

// Whatever ports the table holds, each is either on a named page or listed,
// once and in port order, on the Output page.
TEST(UiModel, OutputPageListsEveryControlNoOtherPageShows) {
    const Layout& l = uiLayout();
    int previous = -1;
    int listed = 0;
    for (int i = 0; i < l.count; ++i) {
        const Widget& w = l.widgets[i];
        if (w.page != pageOutput || w.control < 0) continue;
        EXPECT_FALSE(shownOnNamedPage(w.control)) << controls[w.control].symbol;
        EXPECT_GT(w.control, previous);
        previous = w.control;
        ++listed;
    }
    int unplaced = 0;
    for (int k = 0; k < controlCount; ++k) unplaced += shownOnNamedPage(k) ? 0 : 1;
    EXPECT_EQ(listed, unplaced);
    EXPECT_TRUE(find(pageLimiter, cLimHold) != nullptr) << "the hold time sits with the limiter's settings";
    EXPECT_TRUE(find(pageOutput, cPeakReset, Kind::Button) != nullptr) << "the true peak's reset";
}

// Widgets stay inside the window and never overlap on their page, however
// many ports the Output page gets.
TEST(UiModel, WidgetsFitAndDoNotOverlap) {
    const Layout& l = uiLayout();
    for (int i = 0; i < l.count; ++i) {
        const Rect& a = l.widgets[i].rect;
        EXPECT_TRUE(a.x >= 0 && a.y >= 0 && a.x + a.w <= uiWidth && a.y + a.h <= uiHeight)
            << l.widgets[i].caption;
        for (int j = i + 1; j < l.count; ++j) {
            if (l.widgets[i].page != l.widgets[j].page) continue;
            const Rect& b = l.widgets[j].rect;
            const bool overlap = a.x < b.x + b.w && b.x < a.x + a.w && a.y < b.y + b.h && b.y < a.y + a.h;
            EXPECT_FALSE(overlap) << l.widgets[i].caption << " / " << l.widgets[j].caption;
        }
    }
}

// The pages' ranges are the port table's codes (the crossovers' sliders stop
// at 20000 Hz; a host may set more), and every code of a range is reachable
// by pointer and maps back to itself.
TEST(UiModel, SliderRangesAndSnapping) {
    const Layout& l = uiLayout();
    for (int i = 0; i < l.count; ++i) {
        const Widget& w = l.widgets[i];
        if (w.kind != Kind::Slider) continue;
        const ControlInfo& c = controls[w.control];
        EXPECT_EQ(w.lo, c.codeMin) << c.symbol;
        const bool crossover = w.control >= cCrossover1 && w.control <= cCrossover3;
        EXPECT_EQ(w.hi, crossover ? 20000 : c.codeMax) << c.symbol;
        for (int code : {w.lo, (w.lo + w.hi) / 2, w.hi})
            EXPECT_EQ(sliderCodeAt(w, sliderPositionOf(w, code)), code) << c.symbol;
        EXPECT_EQ(sliderCodeAt(w, sliderTrack(w).x - 50), w.lo);
        EXPECT_EQ(sliderCodeAt(w, sliderTrack(w).x + sliderTrack(w).w + 50), w.hi);
    }
}

// Value texts as the player's pages word them.
TEST(UiModel, LabelsComeFromThePageLogic) {
    struct Case {
        int page, control, code;
        const char* text;
    };
    const Case cases[] = {
        {pageEnhancer1, cAmpMax, 56, "6.0 x "},      {pageEnhancer1, cThreshold, 100, "off "},
        {pageEnhancer1, cHpCutoff, 0, "off "},        {pageEnhancer1, cStereoWidth, 40, "20 % "},
        {pageEnhancer1, cEqGain2, 60, "-10"},         {pageLimiter, cLimRatio, 201, "inf : 1"},
        {pageLimiter, cLimThreshold, 240, "-6.0 dB"}, {pageEnhancer2, cCrossover3, 0, "off"},
        {pageEnhancer2, cCrossover1, 300, "300 Hz"},  {pageLimiter, cLimHold, 120, "120 ms"},
    };
    for (const Case& c : cases) {
        UiState s;
        initialState(s, 2);
        s.codes[c.control] = c.code;
        const Widget* w = find(c.page, c.control);
        ASSERT_TRUE(w != nullptr) << controls[c.control].symbol;
        EXPECT_EQ(labelOf(*w, s), c.text) << controls[c.control].symbol;
    }
}

// Switches write what the page's switches set, side effects included;
// disabled controls ignore the pointer.
TEST(UiModel, SwitchesAndEnableRules) {
    UiState s;
    initialState(s, 2);
    Writes w{};
    const Widget* enable2 = find(pageEnhancer2, cEnhance, Kind::Toggle);
    s.page = pageEnhancer2;
    s.codes[cEqEnable] = 1;
    ASSERT_TRUE(pointerPress(s, enable2->rect.x + 5, centre(enable2->rect, false), false, w));
    applyWrites(s, w);
    EXPECT_EQ(s.codes[cEnhance], 2);
    EXPECT_EQ(s.codes[cEqEnable], 0);

    s.page = pageEnhancer1;
    const Widget* gain = find(pageEnhancer1, cEqGain1);
    Writes none{};
    EXPECT_FALSE(pointerPress(s, centre(sliderTrack(*gain), true), centre(gain->rect, false), false, none));
    EXPECT_EQ(none.count, 0) << "the equalizer is off: its sliders are disabled";

    const Widget* eq = find(pageEnhancer1, cEqEnable, Kind::Toggle);
    Writes again{};
    pointerPress(s, eq->rect.x + 5, centre(eq->rect, false), false, again);
    applyWrites(s, again);
    EXPECT_EQ(s.codes[cEqEnable], 1);
    EXPECT_EQ(s.codes[cEnhance], 0) << "the equalizer leaves the multiband engine";
}

// Drag, release, double click, wheel and keys on one slider.
TEST(UiModel, SliderInput) {
    UiState s;
    initialState(s, 2);
    const Widget* w = find(pageEnhancer1, cAmpUp);
    const double y = centre(w->rect, false);
    Writes a{};
    pointerPress(s, sliderPositionOf(*w, 10), y, false, a);
    pointerDrag(s, sliderPositionOf(*w, 100), y, a);
    applyWrites(s, a);
    EXPECT_EQ(s.codes[cAmpUp], 100);
    EXPECT_TRUE(pointerRelease(s));
    Writes b{};
    EXPECT_FALSE(pointerDrag(s, sliderPositionOf(*w, 20), y, b)) << "no drag after the release";
    pointerPress(s, sliderPositionOf(*w, 20), y, true, b);
    applyWrites(s, b);
    EXPECT_EQ(s.codes[cAmpUp], controls[cAmpUp].defaultCode);
    Writes c{};
    wheel(s, sliderPositionOf(*w, 0), y, 3, c);
    applyWrites(s, c);
    EXPECT_EQ(s.codes[cAmpUp], controls[cAmpUp].defaultCode + 3);
    Writes d{};
    keyPress(s, Key::End, d);
    applyWrites(s, d);
    Writes d2{};
    EXPECT_FALSE(keyPress(s, Key::Right, d2)) << "no step beyond the end";
    EXPECT_EQ(s.codes[cAmpUp], 120) << "the page's range ends at 120";
    EXPECT_EQ(s.focus, indexOf(w));
    Writes e{};
    keyPress(s, Key::Tab, e);
    EXPECT_NE(s.focus, indexOf(w));
    EXPECT_EQ(uiLayout().widgets[s.focus].page, pageEnhancer1);
}

// A list row applies exactly the controls its built-in preset sets; the
// multiband list leaves the engine switch and the solo band alone.
TEST(UiModel, PresetListsWriteTheirPresets) {
    for (int page : {pageEnhancer1, pageEnhancer2}) {
        const Layout& l = uiLayout();
        const Widget* list = nullptr;
        for (int i = 0; i < l.count; ++i)
            if (l.widgets[i].page == page && l.widgets[i].kind == Kind::PresetList) list = &l.widgets[i];
        ASSERT_TRUE(list != nullptr);
        UiState s;
        initialState(s, 2);
        s.page = page;
        Writes w{};
        pointerPress(s, list->rect.x + 10, list->rect.y + 2 + 18 * 2 + 5, false, w);
        BuiltinPreset p;
        ASSERT_TRUE(builtinPreset(page == pageEnhancer1 ? 1 : builtinEqPresetCount + 1, p));
        int set = 0;
        for (int k = 0; k < controlCount; ++k) set += p.set[k] ? 1 : 0;
        EXPECT_EQ(w.count, set);
        for (int i = 0; i < w.count; ++i) {
            EXPECT_TRUE(p.set[w.control[i]]);
            EXPECT_EQ(w.code[i], p.codes[w.control[i]]);
        }
        if (page == pageEnhancer2) {
            EXPECT_FALSE(p.set[cEnhance]);
            EXPECT_FALSE(p.set[cSolo]);
        }
    }
}

// Both preset lists keep their rows inside the frame: walking to the last row
// scrolls it into view, and a click on the first row shown applies that row.
TEST(UiModel, PresetListsScrollWithinTheirFrames) {
    for (int page : {pageEnhancer1, pageEnhancer2}) {
        const Widget* list = find(page, -1, Kind::PresetList);
        ASSERT_TRUE(list != nullptr);
        EXPECT_LE(presetVisibleRows(*list) * presetRowHeight + 4, list->rect.h);
        UiState s;
        initialState(s, 2);
        s.page = page;
        s.focus = indexOf(list);
        Writes w{};
        const int count = presetRowCount(*list), kind = list->onCode;
        for (int i = 0; i < count + 2; ++i) keyPress(s, Key::Down, w);
        EXPECT_EQ(s.presetSelection[kind], count - 1);
        EXPECT_GE(s.presetSelection[kind], s.presetTop[kind]);
        EXPECT_LT(s.presetSelection[kind], s.presetTop[kind] + presetVisibleRows(*list));
        EXPECT_LE(s.presetTop[kind] + presetVisibleRows(*list), count);
        const int top = s.presetTop[kind];
        pointerPress(s, list->rect.x + 10, list->rect.y + 2 + 5, false, w);
        EXPECT_EQ(s.presetSelection[kind], top);
        for (int i = 0; i < count; ++i) keyPress(s, Key::Up, w);
        EXPECT_EQ(s.presetTop[kind], 0);
    }
}

// The readings' texts: a part switched off says so, nothing measured shows "-".
TEST(UiModel, StageReadingsAndTheResetButton) {
    struct Case {
        StageReadings r;
        int row;
        const char* text;
    };
    const Case cases[] = {
        {{-18.34f, 2.0f, 0.0f, -90.0f, true, false}, readingProgramme, "-18.3 LUFS"},
        {{-70.0f, 0.0f, 0.0f, -90.0f, true, false}, readingProgramme, "-"},
        {{-18.0f, 2.0f, 0.0f, -90.0f, false, false}, readingProgramme, "off"},
        {{-18.0f, 2.04f, 0.0f, -90.0f, true, false}, readingLevellerGain, "+2.0 dB"},
        {{-18.0f, -0.01f, 0.0f, -90.0f, true, false}, readingLevellerGain, "+0.0 dB"},
        {{-70.0f, 0.0f, 3.25f, -1.0f, false, true}, readingCeiling, "3.2 dB"},
        {{-70.0f, 0.0f, 3.25f, -1.0f, false, false}, readingCeiling, "off"},
        {{-70.0f, 0.0f, 0.0f, -0.94f, false, false}, readingTruePeak, "-0.9 dBTP"},
        {{-70.0f, 0.0f, 0.0f, -90.0f, false, false}, readingTruePeak, "-"},
    };
    for (const Case& c : cases) {
        char text[32];
        format_stage_reading(text, sizeof text, c.r, c.row);
        EXPECT_STREQ(text, c.text) << stage_reading_caption(c.row);
    }
    const Widget* reset = find(pageOutput, cPeakReset, Kind::Button);
    ASSERT_TRUE(reset != nullptr);
    UiState s;
    initialState(s, 2);
    s.page = pageOutput;
    for (int expected : {1, 0}) {
        Writes w{};
        EXPECT_TRUE(pointerPress(s, centre(reset->rect, true), centre(reset->rect, false), false, w));
        ASSERT_EQ(w.count, 1);
        EXPECT_EQ(w.code[0], expected);
        applyWrites(s, w);
    }
}

// One point each half second, the last minute kept; the vertical scale
// clamps and puts a missing value at the bottom.
TEST(UiModel, LoudnessHistory) {
    UiState s;
    initialState(s, 2);
    s.readouts[rInLoudness] = -30.0f;
    s.readouts[rOutLoudness] = -16.0f;
    EXPECT_FALSE(recordHistory(s, 500)) << "no point before the host sent a loudness";
    s.loudnessSeen = true;
    EXPECT_TRUE(recordHistory(s, 1000));
    EXPECT_FALSE(recordHistory(s, 1400));
    EXPECT_TRUE(recordHistory(s, 1510));
    for (long long t = 2000; t < 2000 + 500 * historyPoints; t += 500) {
        s.readouts[rOutLoudness] = static_cast<float>(-(t / 500 % 50));
        recordHistory(s, t);
    }
    EXPECT_EQ(s.history.count, historyPoints);
    float in, out;
    ASSERT_TRUE(history_point(s.history, 0, &in, &out));
    EXPECT_EQ(out, s.readouts[rOutLoudness]);
    EXPECT_FALSE(history_point(s.history, historyPoints, &in, &out));
    EXPECT_DOUBLE_EQ(history_y(-30.0f, 120.0), 60.0);
    EXPECT_DOUBLE_EQ(history_y(6.0f, 120.0), 0.0);
    EXPECT_DOUBLE_EQ(history_y(-100.0f, 120.0), 120.0);
    EXPECT_DOUBLE_EQ(history_y(NAN, 120.0), 120.0);
}
