// Cairo drawing of the pages: widgets from the layout, texts and geometry
// from the model and the page logic.
#include "lv2ui/ui_draw.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "pages/enhancer_page.h"
#include "pages/multiband_page.h"

namespace lv2ui {

namespace {

struct Colour {
    double r, g, b;
};
constexpr Colour background = {0.925, 0.925, 0.91};
constexpr Colour panel = {1.0, 1.0, 1.0};
constexpr Colour text = {0.12, 0.12, 0.12};
constexpr Colour dimText = {0.6, 0.6, 0.6};
constexpr Colour groove = {0.74, 0.74, 0.72};
constexpr Colour accent = {0.19, 0.44, 0.75};
constexpr Colour tabIdle = {0.83, 0.83, 0.81};
constexpr Colour frame = {0.55, 0.55, 0.53};
constexpr Colour meterBack = {20 / 255.0, 40 / 255.0, 60 / 255.0};
constexpr Colour ampBar = {210 / 255.0, 140 / 255.0, 70 / 255.0};
constexpr Colour boostBar = {0.0, 64 / 255.0, 160 / 255.0};
constexpr Colour cutBar = {160 / 255.0, 64 / 255.0, 0.0};
constexpr Colour curve = {0.0, 128 / 255.0, 224 / 255.0};
constexpr Colour levelBar = {80 / 255.0, 160 / 255.0, 240 / 255.0};
constexpr Colour inputTrace = {0.55, 0.55, 0.53};
constexpr Colour outputTrace = {0.19, 0.44, 0.75};
constexpr Colour targetLine = {0.8, 0.35, 0.1};
constexpr Colour gridLine = {0.88, 0.88, 0.86};

void colour(cairo_t* cr, Colour c) { cairo_set_source_rgb(cr, c.r, c.g, c.b); }

void fill(cairo_t* cr, Rect r, Colour c) {
    colour(cr, c);
    cairo_rectangle(cr, r.x, r.y, r.w, r.h);
    cairo_fill(cr);
}

// A one-pixel outline on the pixel grid (logical half pixels land on whole
// device pixels at integer scales).
void outline(cairo_t* cr, Rect r, Colour c) {
    colour(cr, c);
    cairo_set_line_width(cr, 1.0);
    cairo_rectangle(cr, r.x + 0.5, r.y + 0.5, r.w - 1, r.h - 1);
    cairo_stroke(cr);
}

void label(cairo_t* cr, const char* s, double x, double y, Colour c, double size = 12,
           bool bold = false) {
    cairo_select_font_face(cr, "Sans", CAIRO_FONT_SLANT_NORMAL,
                           bold ? CAIRO_FONT_WEIGHT_BOLD : CAIRO_FONT_WEIGHT_NORMAL);
    cairo_set_font_size(cr, size);
    colour(cr, c);
    cairo_move_to(cr, x, y);
    cairo_show_text(cr, s);
}

// Text centred in a rectangle.
void centred(cairo_t* cr, const char* s, Rect r, Colour c, double size = 12, bool bold = false) {
    cairo_select_font_face(cr, "Sans", CAIRO_FONT_SLANT_NORMAL,
                           bold ? CAIRO_FONT_WEIGHT_BOLD : CAIRO_FONT_WEIGHT_NORMAL);
    cairo_set_font_size(cr, size);
    cairo_text_extents_t e;
    cairo_text_extents(cr, s, &e);
    label(cr, s, r.x + (r.w - e.x_advance) / 2, r.y + r.h / 2.0 + size * 0.36, c, size, bold);
}

void drawTab(cairo_t* cr, const Widget& w, const UiState& s) {
    const bool current = s.page == w.onCode;
    fill(cr, w.rect, current ? background : tabIdle);
    outline(cr, {w.rect.x, w.rect.y, w.rect.w, w.rect.h + (current ? 2 : 0)}, frame);
    if (current) fill(cr, {w.rect.x + 1, w.rect.y + w.rect.h - 1, w.rect.w - 2, 3}, background);
    centred(cr, w.caption, w.rect, text, 12, current);
}

void drawSlider(cairo_t* cr, const Widget& w, const UiState& s, bool enabled) {
    const Colour ink = enabled ? text : dimText;
    const Rect t = sliderTrack(w);
    if (!w.compact) label(cr, w.caption, w.rect.x, w.rect.y + w.rect.h / 2.0 + 4, ink);
    const int mid = t.y + t.h / 2;
    fill(cr, {t.x, mid - 2, t.w, 4}, groove);
    const int knob = static_cast<int>(std::lround(sliderPositionOf(w, s.codes[w.control])));
    if (enabled) fill(cr, {t.x, mid - 2, knob - t.x, 4}, accent);
    fill(cr, {knob - 4, t.y, 8, t.h}, enabled ? accent : groove);
    outline(cr, {knob - 4, t.y, 8, t.h}, frame);
    char value[64];
    widgetLabel(w, s, value, sizeof value);
    const Rect l = sliderLabel(w);
    if (w.compact)
        centred(cr, value, l, ink, 10);
    else
        label(cr, value, l.x + 4, l.y + l.h / 2.0 + 4, ink);
}

void drawToggle(cairo_t* cr, const Widget& w, const UiState& s, bool enabled) {
    const Rect box = {w.rect.x + 2, w.rect.y + (w.rect.h - 12) / 2, 12, 12};
    fill(cr, box, panel);
    outline(cr, box, frame);
    if (toggleTicked(w, s)) fill(cr, {box.x + 3, box.y + 3, 6, 6}, enabled ? accent : groove);
    char caption[64];
    widgetLabel(w, s, caption, sizeof caption);
    label(cr, caption, box.x + 18, w.rect.y + w.rect.h / 2.0 + 4, enabled ? text : dimText);
}

void drawChoice(cairo_t* cr, const Widget& w, const UiState& s) {
    label(cr, w.caption, w.rect.x, w.rect.y + w.rect.h / 2.0 + 4, text);
    const Rect box = {w.rect.x + 150, w.rect.y + 1, 180, w.rect.h - 2};
    fill(cr, box, panel);
    outline(cr, box, frame);
    char value[64];
    widgetLabel(w, s, value, sizeof value);
    label(cr, value, box.x + 6, box.y + box.h / 2.0 + 4, text);
    colour(cr, text);
    cairo_move_to(cr, box.x + box.w - 14, box.y + box.h / 2.0 - 4);
    cairo_line_to(cr, box.x + box.w - 6, box.y + box.h / 2.0);
    cairo_line_to(cr, box.x + box.w - 14, box.y + box.h / 2.0 + 4);
    cairo_close_path(cr);
    cairo_fill(cr);
}

// The rows the frame has room for, from the list's first shown row, and a
// scroll bar when there are more.
void drawPresetList(cairo_t* cr, const Widget& w, const UiState& s) {
    fill(cr, w.rect, panel);
    const int selected = s.presetSelection[w.onCode];
    const int count = presetRowCount(w), shown = presetVisibleRows(w);
    const int top = s.presetTop[w.onCode];
    const int bar = count > shown ? 8 : 0;
    cairo_save(cr);
    cairo_rectangle(cr, w.rect.x + 1, w.rect.y + 1, w.rect.w - 2, w.rect.h - 2);
    cairo_clip(cr);
    for (int row = top; row < count && row < top + shown; ++row) {
        const Rect r = {w.rect.x + 1, w.rect.y + 2 + presetRowHeight * (row - top), w.rect.w - 2 - bar,
                        presetRowHeight};
        if (row == selected) fill(cr, r, accent);
        char name[64];
        presetRowText(w, row, name, sizeof name);
        label(cr, name, r.x + 6, r.y + 13, row == selected ? panel : text);
    }
    cairo_restore(cr);
    if (bar > 0) {
        const Rect track = {w.rect.x + w.rect.w - 1 - bar, w.rect.y + 1, bar, w.rect.h - 2};
        fill(cr, track, tabIdle);
        const int thumb = track.h * shown / count;
        fill(cr, {track.x + 1, track.y + (track.h - thumb) * top / (count - shown), bar - 2, thumb}, frame);
    }
    outline(cr, w.rect, frame);
}

void drawMeter(cairo_t* cr, const Widget& w, const UiState& s) {
    fill(cr, w.rect, meterBack);
    // The classic gain, or the AGC's in the multiband engine; 2000 is a gain of 1.
    double gain = 1.0;
    const char* what = "gain";
    if (s.codes[ports::cEnhance] == 1) {
        gain = s.readouts[ports::rClassicGain];
    } else if (s.codes[ports::cEnhance] == 2 && s.codes[ports::cAgc] != 0) {
        gain = 0.5 * (s.readouts[ports::rAgcGainLeft] + s.readouts[ports::rAgcGainRight]);
        what = "AGC";
    }
    // The level bars as the player scales them, from the peaks (dBFS).
    static constexpr int peaks[4] = {ports::rInPeakLeft, ports::rInPeakRight, ports::rOutPeakLeft,
                                     ports::rOutPeakRight};
    int32_t levels[4];
    for (int i = 0; i < 4; ++i) {
        const double peak = 32768.0 * std::pow(10.0, s.readouts[peaks[i]] / 20.0);
        levels[i] = meter_level_target(peak < 65536.0 ? static_cast<int>(peak) : 65536);
    }
    const int32_t amp = static_cast<int32_t>(std::lround(gain * 2000.0));
    const Rect area = {w.rect.x, w.rect.y + 18, w.rect.w, w.rect.h - 18};
    const MeterPicture p = meter_picture(area.w, area.h, s.channels, levels, amp);
    for (int i = 0; i < p.bar_count; ++i) {
        const MeterRect& b = p.bars[i];
        fill(cr, {area.x + b.left, area.y + b.top, b.right - b.left, b.bottom - b.top}, levelBar);
    }
    const MeterRect& a = p.amp_bar;
    fill(cr, {area.x + a.left, area.y + a.top, a.right - a.left, a.bottom - a.top}, ampBar);
    char caption[48];
    snprintf(caption, sizeof caption, "%s %.2f x", what, gain);
    centred(cr, caption, {w.rect.x + w.rect.w / 4, w.rect.y + 2, w.rect.w / 2, 16}, panel, 11);
    centred(cr, "in", {w.rect.x, w.rect.y + 2, w.rect.w * 3 / 8, 16}, levelBar, 11);
    centred(cr, "out", {w.rect.x + w.rect.w * 5 / 8, w.rect.y + 2, w.rect.w * 3 / 8, 16}, levelBar, 11);
}

// The output stage's readings: caption left, value right, one per row.
void drawReadings(cairo_t* cr, const Widget& w, const UiState& s) {
    fill(cr, w.rect, panel);
    outline(cr, w.rect, frame);
    label(cr, w.caption, w.rect.x + 6, w.rect.y + 15, text, 11, true);
    const StageReadings r = stageReadings(s);
    for (int row = 0; row < stageReadingRows; ++row) {
        const double y = w.rect.y + 38 + 22 * row;
        label(cr, stage_reading_caption(row), w.rect.x + 6, y, text, 11);
        char value[32];
        format_stage_reading(value, sizeof value, r, row);
        cairo_select_font_face(cr, "Sans", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_BOLD);
        cairo_set_font_size(cr, 11);
        cairo_text_extents_t e;
        cairo_text_extents(cr, value, &e);
        label(cr, value, w.rect.x + w.rect.w - 8 - e.x_advance, y, text, 11, true);
    }
}

void drawButton(cairo_t* cr, const Widget& w) {
    fill(cr, w.rect, tabIdle);
    outline(cr, w.rect, frame);
    centred(cr, w.caption, w.rect, text, 11);
}

// The user presets panel: the name being typed (a caret while focused), the
// list of the user's presets and the last message.
void drawNameField(cairo_t* cr, const Widget& w, const UiState& s, bool focused) {
    fill(cr, w.rect, panel);
    outline(cr, w.rect, frame);
    const bool empty = s.presetName[0] == '\0';
    char shown[userPresetNameSize + 2];
    snprintf(shown, sizeof shown, "%s%s", empty && !focused ? w.caption : s.presetName, focused ? "|" : "");
    cairo_save(cr);
    cairo_rectangle(cr, w.rect.x + 1, w.rect.y + 1, w.rect.w - 2, w.rect.h - 2);
    cairo_clip(cr);
    label(cr, shown, w.rect.x + 5, w.rect.y + 15, empty && !focused ? dimText : text, 11);
    cairo_restore(cr);
}

void drawUserList(cairo_t* cr, const Widget& w, const UiState& s) {
    fill(cr, w.rect, panel);
    const int shown = userVisibleRows(w);
    cairo_save(cr);
    cairo_rectangle(cr, w.rect.x + 1, w.rect.y + 1, w.rect.w - 2, w.rect.h - 2);
    cairo_clip(cr);
    if (s.userPresets.count == 0)
        label(cr, s.home[0] ? "No presets of yours yet" : "No home folder", w.rect.x + 6,
              w.rect.y + 15, dimText, 11);
    for (int row = s.userTop; row < s.userPresets.count && row < s.userTop + shown; ++row) {
        const Rect r = {w.rect.x + 1, w.rect.y + 2 + presetRowHeight * (row - s.userTop), w.rect.w - 2,
                        presetRowHeight};
        if (row == s.userSelection) fill(cr, r, accent);
        char name[userPresetNameSize];
        userRowText(s, row, name, sizeof name);
        label(cr, name, r.x + 6, r.y + 13, row == s.userSelection ? panel : text);
    }
    cairo_restore(cr);
    outline(cr, w.rect, frame);
}

void drawStatus(cairo_t* cr, const Widget& w, const UiState& s) {
    cairo_save(cr);
    cairo_rectangle(cr, w.rect.x, w.rect.y, w.rect.w, w.rect.h);
    cairo_clip(cr);
    label(cr, s.status, w.rect.x, w.rect.y + 13, text, 11);
    cairo_restore(cr);
}

void refreshCurve(CurveCache& cache, const MultibandParams& params, int width, int height) {
    if (cache.valid && cache.width == width && cache.height == height &&
        std::memcmp(&cache.key, &params, sizeof params) == 0)
        return;
    cache.cells.assign(static_cast<size_t>(height), 0);
    cache.valid = response_curve_cells(params, width, height, cache.cells.data());
    cache.key = params;
    cache.width = width;
    cache.height = height;
}

// Device-pixel drawing inside a graph rectangle: identity matrix, origin at
// the graph's corner.
struct DeviceArea {
    int width, height;
};
DeviceArea enterDevice(cairo_t* cr, Rect r, double scale) {
    cairo_save(cr);
    cairo_identity_matrix(cr);
    cairo_translate(cr, std::lround(r.x * scale), std::lround(r.y * scale));
    return {static_cast<int>(std::lround(r.w * scale)), static_cast<int>(std::lround(r.h * scale))};
}

void drawBandGraph(cairo_t* cr, const Widget& w, const UiState& s, double scale,
                   CurveCache& cache) {
    fill(cr, w.rect, panel);
    const MultibandParams params = multibandParams(s);
    const DeviceArea d = enterDevice(cr, w.rect, scale);
    refreshCurve(cache, params, d.width, d.height);
    if (cache.valid) {
        colour(cr, curve);
        for (int row = 1; row < d.height; ++row)
            if (cache.cells[static_cast<size_t>(row)] > 1)
                cairo_rectangle(cr, cache.cells[static_cast<size_t>(row)], row, std::ceil(scale), 1);
        cairo_fill(cr);
    }
    double gains[4];
    float readouts[4];
    for (int b = 0; b < 4; ++b) {
        readouts[b] = s.readouts[ports::rBandGain1 + b];
        gains[b] = readouts[b];
    }
    const BandGraphLayout l = band_graph_layout(params, gains, readouts, d.width, d.height);
    colour(cr, {0.5, 0.5, 0.5});
    cairo_rectangle(cr, l.axisX, l.axisTop, std::ceil(scale), l.axisBottom - l.axisTop);
    cairo_fill(cr);
    for (int i = 0; i < l.barCount; ++i) {
        const GraphRect& r = l.bars[i].rect;
        colour(cr, l.bars[i].boost ? boostBar : cutBar);
        cairo_rectangle(cr, r.left, r.top, r.right - r.left, r.bottom - r.top);
        cairo_fill(cr);
    }
    cairo_restore(cr);
    outline(cr, w.rect, frame);
}

// The limiter's live traces as the player's limiter dialog draws them: its
// output, its input and (while it is on) its envelope.
void drawTraces(cairo_t* cr, const UiState& s, const MultibandParams& params, DeviceArea d,
                double scale) {
    static_assert(ports::notifyTracePoints == tracePointsShown);
    static constexpr Colour colours[3] = {
        {0.0, 112 / 255.0, 176 / 255.0}, {192 / 255.0, 128 / 255.0, 64 / 255.0}, {208 / 255.0, 64 / 255.0, 176 / 255.0}};
    std::vector<GraphPoint> points(tracePointsShown + 1);
    cairo_set_line_width(cr, std::max(1.0, std::floor(scale)));
    for (int t = 0; t < (params.limiterOn ? 3 : 2); ++t) {
        const int n = trace_points(s.limiterTrace[t], d.width, d.height, points.data());
        colour(cr, colours[t]);
        for (int i = 0; i < n; ++i) {
            if (i == 0)
                cairo_move_to(cr, points[0].x + 0.5, points[0].y + 0.5);
            else
                cairo_line_to(cr, points[i].x + 0.5, points[i].y + 0.5);
        }
        cairo_stroke(cr);
    }
}

void drawLimiterGraph(cairo_t* cr, const Widget& w, const UiState& s, double scale) {
    fill(cr, w.rect, panel);
    const MultibandParams params = multibandParams(s);
    const DeviceArea d = enterDevice(cr, w.rect, scale);
    // Steep curves and the traces' last points reach past the graph.
    cairo_rectangle(cr, 0, 0, d.width, d.height);
    cairo_clip(cr);
    if (s.traced) drawTraces(cr, s, params, d, scale);
    std::vector<float> work(static_cast<size_t>(d.width));
    std::vector<GraphPoint> points(static_cast<size_t>(d.width) + 1);
    colour(cr, {0.8, 0.8, 0.8});
    cairo_set_line_width(cr, std::ceil(scale));
    cairo_move_to(cr, 0, d.height);
    cairo_line_to(cr, d.width, 0);
    cairo_stroke(cr);
    const int n = transfer_points(params.limiter, d.width, d.height, work.data(), points.data());
    colour(cr, params.limiterOn ? curve : dimText);
    for (int i = 0; i < n; ++i) {
        if (i == 0)
            cairo_move_to(cr, points[0].x, points[0].y);
        else
            cairo_line_to(cr, points[i].x + 0.5, points[i].y + 0.5);
    }
    cairo_stroke(cr);
    cairo_restore(cr);
    outline(cr, w.rect, frame);
}

// One trace of the loudness history, the newest point at the right edge.
void historyTrace(cairo_t* cr, const UiState& s, Rect plot, bool output, Colour c) {
    colour(cr, c);
    cairo_set_line_width(cr, output ? 2.0 : 1.5);
    const double step = static_cast<double>(plot.w) / (historyPoints - 1);
    for (int age = 0; age < s.history.count; ++age) {
        float in, out;
        history_point(s.history, age, &in, &out);
        const double x = plot.x + plot.w - age * step;
        const double y = plot.y + history_y(output ? out : in, plot.h);
        if (age == 0)
            cairo_move_to(cr, x, y);
        else
            cairo_line_to(cr, x, y);
    }
    cairo_stroke(cr);
}

// Short-term loudness in and out over the last minute, a line at the
// leveller's target while it is on.
void drawHistory(cairo_t* cr, const Widget& w, const UiState& s) {
    fill(cr, w.rect, panel);
    const Rect plot = {w.rect.x + 40, w.rect.y + 22, w.rect.w - 50, w.rect.h - 30};
    for (int lufs = 0; lufs >= -60; lufs -= 10) {
        const double y = plot.y + std::floor(history_y(static_cast<float>(lufs), plot.h)) + 0.5;
        colour(cr, gridLine);
        cairo_set_line_width(cr, 1.0);
        cairo_move_to(cr, plot.x, y);
        cairo_line_to(cr, plot.x + plot.w, y);
        cairo_stroke(cr);
        char tick[8];
        snprintf(tick, sizeof tick, "%d", lufs);
        label(cr, tick, w.rect.x + 6, y + 4, dimText, 10);
    }
    cairo_save(cr);
    cairo_rectangle(cr, plot.x, plot.y - 2, plot.w, plot.h + 4);
    cairo_clip(cr);
    if (s.codes[ports::cLoudnessTarget] != 0) {
        const float target = static_cast<float>(ports::valueOfCode(ports::controls[ports::cTargetLufs],
                                                                   s.codes[ports::cTargetLufs]));
        const double dash[] = {6.0, 4.0};
        cairo_set_dash(cr, dash, 2, 0);
        colour(cr, targetLine);
        cairo_set_line_width(cr, 1.5);
        cairo_move_to(cr, plot.x, plot.y + history_y(target, plot.h));
        cairo_line_to(cr, plot.x + plot.w, plot.y + history_y(target, plot.h));
        cairo_stroke(cr);
        cairo_set_dash(cr, nullptr, 0, 0);
    }
    historyTrace(cr, s, plot, false, inputTrace);
    historyTrace(cr, s, plot, true, outputTrace);
    cairo_restore(cr);
    char legend[96];
    snprintf(legend, sizeof legend, "%s (LUFS):  in %.1f   out %.1f", w.caption,
             s.readouts[ports::rInLoudness], s.readouts[ports::rOutLoudness]);
    label(cr, legend, w.rect.x + 6, w.rect.y + 15, text, 11, true);
    if (s.codes[ports::cLoudnessTarget] != 0) label(cr, "- - target", w.rect.x + w.rect.w - 150, w.rect.y + 15, targetLine, 11);
    label(cr, "in", w.rect.x + w.rect.w - 90, w.rect.y + 15, inputTrace, 11, true);
    label(cr, "out", w.rect.x + w.rect.w - 60, w.rect.y + 15, outputTrace, 11, true);
    outline(cr, w.rect, frame);
}

void drawFocus(cairo_t* cr, const Widget& w) {
    const double dash[] = {2.0, 2.0};
    cairo_set_dash(cr, dash, 2, 0);
    outline(cr, {w.rect.x - 2, w.rect.y - 1, w.rect.w + 4, w.rect.h + 2}, accent);
    cairo_set_dash(cr, nullptr, 0, 0);
}

}  // namespace

namespace {

void drawOne(cairo_t* cr, const UiState& s, double scale, CurveCache& cache, int i) {
    const Widget& w = uiLayout().widgets[i];
    const bool enabled = widgetEnabled(w, s);
    switch (w.kind) {
    case Kind::Tab: drawTab(cr, w, s); break;
    case Kind::Slider: drawSlider(cr, w, s, enabled); break;
    case Kind::Toggle: drawToggle(cr, w, s, enabled); break;
    case Kind::Choice: drawChoice(cr, w, s); break;
    case Kind::PresetList: drawPresetList(cr, w, s); break;
    case Kind::Meter: drawMeter(cr, w, s); break;
    case Kind::BandGraph: drawBandGraph(cr, w, s, scale, cache); break;
    case Kind::LimiterGraph: drawLimiterGraph(cr, w, s, scale); break;
    case Kind::Heading: label(cr, w.caption, w.rect.x, w.rect.y + 11, text, 11, true); break;
    case Kind::Readings: drawReadings(cr, w, s); break;
    case Kind::History: drawHistory(cr, w, s); break;
    case Kind::Button:
    case Kind::Action: drawButton(cr, w); break;
    case Kind::NameField: drawNameField(cr, w, s, i == s.focus); break;
    case Kind::UserList: drawUserList(cr, w, s); break;
    case Kind::Status: drawStatus(cr, w, s); break;
    }
    if (i == s.focus) drawFocus(cr, w);
}

}  // namespace

void drawUi(cairo_t* cr, const UiState& s, double scale, CurveCache& cache) {
    cairo_save(cr);
    cairo_scale(cr, scale, scale);
    fill(cr, {0, 0, uiWidth, uiHeight}, background);
    fill(cr, {0, tabHeight, uiWidth, 1}, frame);
    const Layout& l = uiLayout();
    for (int i = 0; i < l.count; ++i)
        if (l.widgets[i].page == -1 || l.widgets[i].page == s.page) drawOne(cr, s, scale, cache, i);
    cairo_restore(cr);
}

void drawWidget(cairo_t* cr, const UiState& s, double scale, CurveCache& cache, int index) {
    const Rect r = uiLayout().widgets[index].rect;
    cairo_save(cr);
    cairo_scale(cr, scale, scale);
    // The focus outline reaches two pixels beyond the widget.
    cairo_rectangle(cr, r.x - 2, r.y - 2, r.w + 4, r.h + 4);
    cairo_clip(cr);
    fill(cr, {r.x - 2, r.y - 2, r.w + 4, r.h + 4}, background);
    drawOne(cr, s, scale, cache, index);
    cairo_restore(cr);
}

}  // namespace lv2ui
