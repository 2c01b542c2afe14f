// The pages' widgets, their texts and what input does to the control codes.
#include "lv2ui/ui_model.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <iterator>

#include "dsp/multiband_strings.h"
#include "pages/enhancer_page.h"
#include "pages/multiband_page.h"
#include "ports/builtin_presets.h"
#include "settings/plugin_settings.h"

namespace lv2ui {

using namespace ports;

const char* const pageNames[pageCount] = {"Enhancer 1", "Enhancer 2", "Limiter", "Output"};

namespace {

// The crossover fields take five digits; the slider covers the audible range
// (a host may still set any code up to 99999, the label then shows it).
constexpr int crossoverSliderMax = 20000;

// Enhancer 1's sliders 201..209 in the order of the page's positions.
constexpr int enhancerSliders[9] = {cStereoWidth, cHpCutoff, cAmpMax,  cAmpUp,  cAmpDown,
                                    cThreshold,   cEqGain1,  cEqGain2, cEqGain3};
constexpr int limiterSliders[limiterTrackbarCount] = {cLimThreshold, cLimRelease, cLimCeiling,
                                                      cLimKnee,      cLimRatio,   cLimAttack};

Widget widget(Kind kind, int page, int control, Rect rect, const char* caption) {
    Widget w{};
    w.kind = kind;
    w.page = page;
    w.control = control;
    w.rect = rect;
    w.caption = caption;
    w.row = -1;
    if (control >= 0) {
        w.lo = controls[control].codeMin;
        w.hi = controls[control].codeMax;
        w.onCode = 1;
    }
    return w;
}

Widget slider(int page, int control, Rect rect, int lo, int hi, int labelId) {
    Widget w = widget(Kind::Slider, page, control, rect, controls[control].name);
    w.lo = lo;
    w.hi = hi;
    w.labelId = labelId;
    return w;
}

Widget toggle(int page, int control, Rect rect, const char* caption, int on, int off) {
    Widget w = widget(Kind::Toggle, page, control, rect, caption);
    w.onCode = on;
    w.offCode = off;
    return w;
}

void addEnhancer1(Layout& l) {
    auto add = [&](const Widget& w) { l.widgets[l.count++] = w; };
    add(toggle(pageEnhancer1, cEnhance, {12, 38, 240, 20}, "Classic enhancer", 1, 0));
    for (int i = 0; i < 6; ++i)
        add(slider(pageEnhancer1, enhancerSliders[i], {12, 62 + 26 * i, 430, 24}, 0,
                   enhancer_slider_max(201 + i), 301 + i));
    add(toggle(pageEnhancer1, cEqEnable, {12, 222, 240, 20}, "Equalizer", 1, 0));
    for (int b = 0; b < 3; ++b)
        add(slider(pageEnhancer1, cEqGain1 + b, {12, 246 + 26 * b, 430, 24}, 0,
                   enhancer_slider_max(207 + b), 307 + b));
    for (int b = 0; b < 3; ++b)
        add(slider(pageEnhancer1, cEqFreq1 + b, {12, 328 + 26 * b, 430, 24},
                   clamp_band_frequency(b, 0), clamp_band_frequency(b, 65535), 0));
    Widget list = widget(Kind::PresetList, pageEnhancer1, -1,
                         {456, 38, 212, 10 * presetRowHeight + 4}, "Presets");
    list.onCode = static_cast<int>(PresetKind::Enhancer);
    add(list);
    add(widget(Kind::Meter, pageEnhancer1, -1, {456, 236, 212, 222}, "Gain"));
}

void addEnhancer2(Layout& l) {
    auto add = [&](const Widget& w) { l.widgets[l.count++] = w; };
    add(toggle(pageEnhancer2, cEnhance, {12, 36, 110, 20}, "Enable", 2, 0));
    add(toggle(pageEnhancer2, cAgc, {126, 36, 220, 20}, "AGC", 1, 0));
    add(toggle(pageEnhancer2, cSplit, {350, 36, 110, 20}, "Multiband", 1, 0));
    add(toggle(pageEnhancer2, cSoftClip, {12, 58, 110, 20}, "Soft clip 1", 1, 0));
    add(toggle(pageEnhancer2, cSoftClip, {126, 58, 110, 20}, "Soft clip 2", 2, 0));
    add(toggle(pageEnhancer2, cLimiterOn, {350, 58, 110, 20}, "Limiter", 1, 0));
    for (int k = 0; k < 3; ++k)
        add(slider(pageEnhancer2, cCrossover1 + k, {12, 84 + 24 * k, 450, 22}, 0,
                   crossoverSliderMax, 0));
    static const char* const columns[4] = {"Max amp", "Release", "Attack", "Threshold"};
    for (int c = 0; c < 4; ++c)
        add(widget(Kind::Heading, pageEnhancer2, -1, {70 + 98 * c, 158, 92, 14}, columns[c]));
    static const char* const bandNames[4] = {"Band 1", "Band 2", "Band 3", "Band 4"};
    for (int r = 0; r < 4; ++r) {
        Widget solo = toggle(pageEnhancer2, cSolo, {8, 176 + 42 * r, 62, 20}, bandNames[r], r + 1, 0);
        solo.row = r;
        add(solo);
        for (int c = 0; c < 4; ++c) {
            const int id = mbFirstBandTrackbarId + 4 * r + c;
            Widget w = slider(pageEnhancer2, cBand1MaxAmp + 4 * r + c, {70 + 98 * c, 174 + 42 * r, 92, 38},
                              0, multiband_trackbar_max(id), mbFirstBandLabelId + 4 * r + c);
            w.row = r;
            w.compact = true;
            add(w);
        }
    }
    add(slider(pageEnhancer2, cDrive, {12, 346, 450, 24}, 0, multiband_trackbar_max(mbDriveTrackbarId),
               mbDriveLabelId));
    add(slider(pageEnhancer2, cStereo, {12, 372, 450, 24}, 0,
               multiband_trackbar_max(mbStereoTrackbarId), mbStereoLabelId));
    add(widget(Kind::BandGraph, pageEnhancer2, -1, {476, 36, 192, 200}, "Bands"));
    Widget list = widget(Kind::PresetList, pageEnhancer2, -1,
                         {476, 246, 192, 11 * presetRowHeight + 4}, "Presets");
    list.onCode = static_cast<int>(PresetKind::Multiband);
    add(list);
}

void addLimiter(Layout& l) {
    auto add = [&](const Widget& w) { l.widgets[l.count++] = w; };
    add(toggle(pageLimiter, cLimiterOn, {12, 38, 200, 20}, "Limiter", 1, 0));
    add(widget(Kind::Choice, pageLimiter, cSoftClip, {12, 62, 430, 22}, controls[cSoftClip].name));
    for (int i = 0; i < limiterTrackbarCount; ++i)
        add(slider(pageLimiter, limiterSliders[i], {12, 92 + 28 * i, 440, 24},
                   limiter_controls[i].minimum, limiter_controls[i].maximum,
                   limiterFirstLabelId + i));
    const ControlInfo& hold = controls[cLimHold];
    add(slider(pageLimiter, cLimHold, {12, 92 + 28 * limiterTrackbarCount, 440, 24}, hold.codeMin,
               hold.codeMax, 0));
    add(widget(Kind::LimiterGraph, pageLimiter, -1, {466, 38, 202, 202}, "Transfer"));
}

// Every control that no other page shows, in port order, one per row; the
// stage's readings with the true peak's reset beside them, and the loudness
// history under the rows.
void addOutput(Layout& l) {
    int n = 0;
    for (int k = 0; k < controlCount && l.count < maxWidgets - 8; ++k) {
        if (shownOnNamedPage(k) || k == cPeakReset) continue;
        const Rect r = {12, 40 + 28 * n, 440, 24};
        const ControlInfo& c = controls[k];
        if (c.flags & flagToggle)
            l.widgets[l.count++] = toggle(pageOutput, k, r, c.name, 1, 0);
        else if (c.flags & flagEnumeration)
            l.widgets[l.count++] = widget(Kind::Choice, pageOutput, k, r, c.name);
        else
            l.widgets[l.count++] = slider(pageOutput, k, r, c.codeMin, c.codeMax, 0);
        ++n;
    }
    l.widgets[l.count++] = widget(Kind::Readings, pageOutput, -1, {466, 38, 202, 110}, "Output stage");
    l.widgets[l.count++] = widget(Kind::Button, pageOutput, cPeakReset, {566, 152, 102, 22}, "Reset peak");
    int top = 40 + 28 * n + 8;
    if (top < 184) top = 184;
    constexpr int statusTop = uiHeight - 26;
    l.widgets[l.count++] =
        widget(Kind::History, pageOutput, -1, {12, top, 440, statusTop - top - 6}, "Loudness, last minute");
    l.widgets[l.count++] = widget(Kind::NameField, pageOutput, -1, {466, 180, 202, 22}, "Preset name");
    Widget save = widget(Kind::Action, pageOutput, -1, {466, 206, 98, 22}, "Save preset");
    Widget remove = widget(Kind::Action, pageOutput, -1, {570, 206, 98, 22}, "Delete preset");
    remove.onCode = 1;
    l.widgets[l.count++] = save;
    l.widgets[l.count++] = remove;
    l.widgets[l.count++] =
        widget(Kind::UserList, pageOutput, -1, {466, 234, 202, statusTop - 240}, "Your presets");
    l.widgets[l.count++] = widget(Kind::Status, pageOutput, -1, {12, statusTop, 656, 18}, "");
}

Layout buildLayout() {
    Layout l{};
    for (int p = 0; p < pageCount; ++p) {
        Widget tab = widget(Kind::Tab, -1, -1, {4 + 112 * p, 2, 110, tabHeight - 2}, pageNames[p]);
        tab.onCode = p;
        l.widgets[l.count++] = tab;
    }
    addEnhancer1(l);
    addEnhancer2(l);
    addLimiter(l);
    addOutput(l);
    return l;
}

bool contains(const Rect& r, double x, double y) {
    return x >= r.x && x < r.x + r.w && y >= r.y && y < r.y + r.h;
}

int clampCode(const Widget& w, int code) { return code < w.lo ? w.lo : code > w.hi ? w.hi : code; }

bool focusable(const Widget& w) {
    return w.kind == Kind::Slider || w.kind == Kind::Toggle || w.kind == Kind::Choice ||
           w.kind == Kind::PresetList || w.kind == Kind::Button || w.kind == Kind::NameField ||
           w.kind == Kind::Action || w.kind == Kind::UserList;
}

bool onPage(const Widget& w, int page) { return w.page == -1 || w.page == page; }

}  // namespace

const Layout& uiLayout() {
    static const Layout layout = buildLayout();
    return layout;
}

bool shownOnNamedPage(int control) {
    // Built without the Output page, so the answer never depends on itself.
    static const Layout named = [] {
        Layout l{};
        addEnhancer1(l);
        addEnhancer2(l);
        addLimiter(l);
        return l;
    }();
    for (int i = 0; i < named.count; ++i)
        if (named.widgets[i].control == control) return true;
    return false;
}

Rect sliderTrack(const Widget& w) {
    const Rect& r = w.rect;
    if (w.compact) return {r.x + 4, r.y + 3, r.w - 8, 14};
    return {r.x + 150, r.y + (r.h - 14) / 2, r.w - 150 - 96, 14};
}

Rect sliderLabel(const Widget& w) {
    const Rect& r = w.rect;
    if (w.compact) return {r.x, r.y + 19, r.w, r.h - 19};
    return {r.x + r.w - 90, r.y, 90, r.h};
}

int sliderCodeAt(const Widget& w, double x) {
    const Rect t = sliderTrack(w);
    double f = (x - t.x) / t.w;
    if (!(f > 0)) f = 0;
    if (f > 1) f = 1;
    return w.lo + static_cast<int>(std::lround(f * (w.hi - w.lo)));
}

double sliderPositionOf(const Widget& w, int code) {
    const Rect t = sliderTrack(w);
    if (w.hi <= w.lo) return t.x;
    const int c = clampCode(w, code);
    return t.x + static_cast<double>(c - w.lo) / (w.hi - w.lo) * t.w;
}

void initialState(UiState& s, int channels) {
    s = UiState{};
    defaultCodes(s.codes);
    for (int r = 0; r < readoutCount; ++r) s.readouts[r] = readouts[r].defaultValue;
    s.channels = channels;
    s.page = pageEnhancer1;
    s.focus = -1;
    s.dragging = -1;
    history_clear(s.history);
}

void addWrite(Writes& w, int control, int32_t code) {
    for (int i = 0; i < w.count; ++i)
        if (w.control[i] == control) {
            w.code[i] = code;
            return;
        }
    if (w.count < controlCount) {
        w.control[w.count] = control;
        w.code[w.count++] = code;
    }
}

void applyWrites(UiState& s, const Writes& w) {
    for (int i = 0; i < w.count; ++i) s.codes[w.control[i]] = w.code[i];
}

MultibandParams multibandParams(const UiState& s) {
    StringFields f;
    formatStrings(s.codes, f);
    return convertMultibandStrings(f.multi1, f.multi2, f.limiter, 0);
}

namespace {

void genericLabel(int control, int code, char* out, int size) {
    const ControlInfo& c = controls[control];
    if (c.pointCount > 0) {
        for (int p = 0; p < c.pointCount; ++p)
            if (static_cast<int>(c.points[p].value) == code) {
                snprintf(out, static_cast<size_t>(size), "%s", c.points[p].label);
                return;
            }
    }
    if (c.unit == Unit::Hz && code == 0 && c.codeMin == 0) {
        snprintf(out, static_cast<size_t>(size), "off");
        return;
    }
    static const char* const units[] = {"",    " Hz",     " ms",   " dB",    " %",
                                        " x",  " : 1",    " frames", " LUFS", " dBTP"};
    static_assert(std::size(units) == static_cast<size_t>(Unit::Dbtp) + 1);
    const double v = valueOfCode(c, code);
    if (c.flags & flagInteger)
        snprintf(out, static_cast<size_t>(size), "%d%s", static_cast<int>(std::lround(v)),
                 units[static_cast<int>(c.unit)]);
    else
        snprintf(out, static_cast<size_t>(size), "%.2f%s", v, units[static_cast<int>(c.unit)]);
}

void enhancerLabel(const Widget& w, const UiState& s, char* out, int size) {
    int positions[9];
    for (int i = 0; i < 9; ++i) positions[i] = s.codes[enhancerSliders[i]];
    enhancer_value_label(out, size, w.labelId, positions, enhancer_page_rate(s.rate));
}

}  // namespace

void widgetLabel(const Widget& w, const UiState& s, char* out, int size) {
    if (size > 0) out[0] = '\0';
    if (w.kind == Kind::Toggle && w.control == cAgc) {
        const MultibandParams p = multibandParams(s);
        const double left = s.readouts[rAgcGainLeft];
        if (p.agcOn && left >= 1.0)
            format_agc_caption(out, size, left, s.readouts[rAgcGainRight]);
        else
            snprintf(out, static_cast<size_t>(size), "%s", w.caption);
        return;
    }
    if (w.kind == Kind::Choice) {
        genericLabel(w.control, s.codes[w.control], out, size);
        return;
    }
    if (w.kind != Kind::Slider) {
        snprintf(out, static_cast<size_t>(size), "%s", w.caption);
        return;
    }
    const int code = s.codes[w.control];
    if (w.labelId == 0) {
        genericLabel(w.control, code, out, size);
    } else if (w.page == pageEnhancer1) {
        enhancerLabel(w, s, out, size);
    } else if (w.page == pageLimiter) {
        format_limiter_label(out, size, multibandParams(s).limiter, w.labelId - limiterFirstLabelId);
    } else if (w.labelId == mbDriveLabelId) {
        format_drive_label(out, size, multibandParams(s).level);
    } else if (w.labelId == mbStereoLabelId) {
        format_stereo_label(out, size, multibandParams(s).stereoPercent);
    } else {
        const int column = (w.labelId - mbFirstBandLabelId) % 4;
        format_band_label(out, size, multibandParams(s).bands[w.row], column, s.rate);
    }
}

bool widgetEnabled(const Widget& w, const UiState& s) {
    if (w.page == pageEnhancer1 && w.kind == Kind::Slider) {
        const int enhance = s.codes[cEnhance];
        if (w.labelId >= 301 && w.labelId <= 306) return classic_group_enabled(enhance, 16);
        return equalizer_group_enabled(s.codes[cEqEnable], enhance, 16);
    }
    if (w.page == pageEnhancer2 && w.row >= 0)
        return multiband_row_enabled(multibandParams(s), w.row);
    return true;
}

bool readoutShown(int page, int readout) {
    if (readout >= rInPeakLeft && readout <= rOutRmsRight) return page == pageEnhancer1;
    if (readout >= rInLoudness && readout <= rTruePeak) return page == pageOutput;
    if (readout == rAgcGainLeft || readout == rAgcGainRight)
        return page == pageEnhancer1 || page == pageEnhancer2;
    if (readout == rClassicGain) return page == pageEnhancer1;
    if (readout >= rBandGain1 && readout <= rBandGain4) return page == pageEnhancer2;
    return false;
}

bool showsReadouts(const Widget& w) {
    return w.kind == Kind::Meter || w.kind == Kind::BandGraph || w.kind == Kind::Readings ||
           w.kind == Kind::History || w.kind == Kind::LimiterGraph ||
           (w.kind == Kind::Toggle && w.control == cAgc);
}

bool toggleTicked(const Widget& w, const UiState& s) { return s.codes[w.control] == w.onCode; }

StageReadings stageReadings(const UiState& s) {
    StageReadings r{};
    r.programmeLufs = s.readouts[rProgrammeLoudness];
    r.levellerGainDb = s.readouts[rLevellerGain];
    r.ceilingReductionDb = s.readouts[rCeilingReduction];
    r.truePeakDbtp = s.readouts[rTruePeak];
    r.levelling = s.codes[cLoudnessTarget] != 0;
    r.limiting = s.codes[cTpLimit] != 0;
    return r;
}

bool recordHistory(UiState& s, long long nowMs) {
    if (!s.loudnessSeen) return false;
    return history_record(s.history, nowMs, s.readouts[rInLoudness], s.readouts[rOutLoudness]);
}

int presetVisibleRows(const Widget& w) { return (w.rect.h - 4) / presetRowHeight; }

int presetRowCount(const Widget& w) {
    return 1 + (w.onCode == static_cast<int>(PresetKind::Enhancer)
                    ? builtinEqPresetCount
                    : builtinPresetCount - builtinEqPresetCount);
}

namespace {

int presetIndex(const Widget& w, int row) {
    return w.onCode == static_cast<int>(PresetKind::Enhancer) ? row - 1
                                                              : builtinEqPresetCount + row - 1;
}

// Row 0 brings back the codes the UI found when it opened, for the controls
// the list's presets set; any other row applies its preset.
bool applyPresetRow(UiState& s, const Widget& w, int row, Writes& out) {
    if (row < 0 || row >= presetRowCount(w)) return false;
    BuiltinPreset p;
    if (!builtinPreset(presetIndex(w, row == 0 ? 1 : row), p)) return false;
    for (int k = 0; k < controlCount; ++k)
        if (p.set[k]) addWrite(out, k, row == 0 ? s.snapshot[k] : p.codes[k]);
    s.presetSelection[w.onCode] = row;
    int& top = s.presetTop[w.onCode];
    if (row < top) top = row;
    if (row >= top + presetVisibleRows(w)) top = row - presetVisibleRows(w) + 1;
    return true;
}

// What the page's switches set besides their own control.
void switchSideEffects(const Widget& w, int32_t code, const UiState& s, Writes& out) {
    if (w.control == cEqEnable && s.codes[cEnhance] == 2) addWrite(out, cEnhance, 0);
    if (w.control == cEnhance && code == 2) addWrite(out, cEqEnable, 0);
}

bool setCode(const Widget& w, int32_t code, const UiState& s, Writes& out) {
    if (s.codes[w.control] == code) return false;
    addWrite(out, w.control, code);
    return true;
}

bool stepCode(const Widget& w, UiState& s, int delta, Writes& out) {
    const int code = clampCode(w, s.codes[w.control] + delta);
    return setCode(w, code, s, out);
}

int wheelStep(const Widget& w) {
    const int step = (w.hi - w.lo) / 100;
    return step < 1 ? 1 : step;
}

int defaultCodeOf(const Widget& w) { return clampCode(w, controls[w.control].defaultCode); }

bool activate(UiState& s, int index, const Widget& w, Writes& out) {
    if (w.kind == Kind::Button) {
        addWrite(out, w.control, s.codes[w.control] != 0 ? 0 : 1);
        return true;
    }
    if (w.kind == Kind::Toggle) {
        const int32_t code = toggleTicked(w, s) ? w.offCode : w.onCode;
        addWrite(out, w.control, code);
        switchSideEffects(w, code, s, out);
        return true;
    }
    if (w.kind == Kind::Choice) {
        const int32_t code = s.codes[w.control] >= w.hi ? w.lo : s.codes[w.control] + 1;
        addWrite(out, w.control, code);
        return true;
    }
    (void)index;
    return false;
}

}  // namespace

void presetRowText(const Widget& w, int row, char* out, int size) {
    if (row == 0) {
        snprintf(out, static_cast<size_t>(size), "[ Restore previous ]");
        return;
    }
    BuiltinPreset p;
    if (builtinPreset(presetIndex(w, row), p))
        snprintf(out, static_cast<size_t>(size), "%s", p.name);
    else if (size > 0)
        out[0] = '\0';
}

int widgetAt(const UiState& s, double x, double y) {
    const Layout& l = uiLayout();
    for (int i = 0; i < l.count; ++i)
        if (onPage(l.widgets[i], s.page) && l.widgets[i].kind != Kind::Heading &&
            contains(l.widgets[i].rect, x, y))
            return i;
    return -1;
}

bool pointerPress(UiState& s, double x, double y, bool doubleClick, Writes& out) {
    const int i = widgetAt(s, x, y);
    if (i < 0) return false;
    const Widget& w = uiLayout().widgets[i];
    if (w.kind == Kind::Tab) {
        s.page = w.onCode;
        s.focus = -1;
        return true;
    }
    if (!widgetEnabled(w, s)) return false;
    if (focusable(w)) s.focus = i;
    if (w.kind == Kind::Slider) {
        if (doubleClick) {
            setCode(w, defaultCodeOf(w), s, out);
            return true;
        }
        s.dragging = i;
        setCode(w, sliderCodeAt(w, x), s, out);
        return true;
    }
    if (w.kind == Kind::PresetList) {
        const int shown = static_cast<int>((y - w.rect.y - 2) / presetRowHeight);
        if (shown < presetVisibleRows(w)) applyPresetRow(s, w, s.presetTop[w.onCode] + shown, out);
        return true;
    }
    if (userPanelPress(s, i, y, out)) return true;
    activate(s, i, w, out);
    return true;
}

bool pointerDrag(UiState& s, double x, double, Writes& out) {
    if (s.dragging < 0) return false;
    const Widget& w = uiLayout().widgets[s.dragging];
    return setCode(w, sliderCodeAt(w, x), s, out);
}

bool pointerRelease(UiState& s) {
    const bool was = s.dragging >= 0;
    s.dragging = -1;
    return was;
}

bool wheel(UiState& s, double x, double y, int steps, Writes& out) {
    const int i = widgetAt(s, x, y);
    if (i < 0) return false;
    const Widget& w = uiLayout().widgets[i];
    if (!widgetEnabled(w, s)) return false;
    if (w.kind == Kind::Slider) return stepCode(w, s, steps * wheelStep(w), out);
    if (w.kind == Kind::Choice) return stepCode(w, s, steps, out);
    if (w.kind == Kind::PresetList) {
        int row = s.presetSelection[w.onCode] - steps;  // wheel up moves up the list
        if (row < 0) row = 0;
        if (row >= presetRowCount(w)) row = presetRowCount(w) - 1;
        if (row == s.presetSelection[w.onCode]) return false;
        return applyPresetRow(s, w, row, out);
    }
    if (w.kind == Kind::Tab) {
        const int page = s.page - steps;
        if (page < 0 || page >= pageCount) return false;
        s.page = page;
        s.focus = -1;
        return true;
    }
    return false;
}

namespace {

bool moveFocus(UiState& s, int direction) {
    const Layout& l = uiLayout();
    int i = s.focus;
    for (int n = 0; n < l.count; ++n) {
        i = (i + direction + l.count) % l.count;
        const Widget& w = l.widgets[i];
        if (onPage(w, s.page) && focusable(w) && widgetEnabled(w, s)) {
            s.focus = i;
            return true;
        }
    }
    return false;
}

bool switchPage(UiState& s, int direction) {
    s.page = (s.page + direction + pageCount) % pageCount;
    s.focus = -1;
    return true;
}

}  // namespace

bool keyPress(UiState& s, Key key, Writes& out) {
    if (key == Key::Tab) return moveFocus(s, 1);
    if (key == Key::BackTab) return moveFocus(s, -1);
    if (key == Key::NextPage) return switchPage(s, 1);
    if (key == Key::PreviousPage) return switchPage(s, -1);
    if (s.focus < 0) return false;
    const Widget& w = uiLayout().widgets[s.focus];
    if (!onPage(w, s.page) || !widgetEnabled(w, s)) return false;
    if (w.kind == Kind::NameField || w.kind == Kind::Action || w.kind == Kind::UserList)
        return userPanelKey(s, key, out);
    if (w.kind == Kind::Slider) {
        const int page = (w.hi - w.lo) / 10 > 1 ? (w.hi - w.lo) / 10 : 1;
        switch (key) {
        case Key::Left:
        case Key::Down: return stepCode(w, s, -1, out);
        case Key::Right:
        case Key::Up: return stepCode(w, s, 1, out);
        case Key::PageUp: return stepCode(w, s, page, out);
        case Key::PageDown: return stepCode(w, s, -page, out);
        case Key::Home: return setCode(w, w.lo, s, out);
        case Key::End: return setCode(w, w.hi, s, out);
        case Key::Delete: return setCode(w, defaultCodeOf(w), s, out);
        default: return false;
        }
    }
    if (w.kind == Kind::Toggle || w.kind == Kind::Choice || w.kind == Kind::Button) {
        if (key == Key::Space) return activate(s, s.focus, w, out);
        if (w.kind == Kind::Choice && (key == Key::Up || key == Key::Right))
            return stepCode(w, s, 1, out);
        if (w.kind == Kind::Choice && (key == Key::Down || key == Key::Left))
            return stepCode(w, s, -1, out);
        return false;
    }
    if (w.kind == Kind::PresetList) {
        const int row = s.presetSelection[w.onCode] + (key == Key::Down ? 1 : key == Key::Up ? -1 : 0);
        if (row == s.presetSelection[w.onCode] || row < 0 || row >= presetRowCount(w)) return false;
        return applyPresetRow(s, w, row, out);
    }
    return false;
}

}  // namespace lv2ui
