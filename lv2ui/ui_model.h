// The plug-in UI's portable half: the four pages as lists of widgets in
// logical pixels, what each widget shows (ranges, snapping and texts from the
// page logic in pages/ and the port table), and what a click, drag, wheel
// turn or key does to the control codes. No X11 or cairo here: the drawing
// and the window live in ui_draw.cpp and x11_ui.cpp.
#pragma once

#include <cstdint>

#include "dsp/engine_types.h"
#include "pages/stage_readings.h"
#include "lv2ui/user_presets.h"
#include "ports/port_table.h"

namespace lv2ui {

constexpr int uiWidth = 680;   // logical size of the whole UI
constexpr int uiHeight = 470;
constexpr int tabHeight = 28;

enum Page : int { pageEnhancer1, pageEnhancer2, pageLimiter, pageOutput, pageCount };
extern const char* const pageNames[pageCount];

enum class Kind : uint8_t {
    Tab,          // page switch (shown on every page)
    Slider,       // a control's codes along a track, caption left, value right
    Toggle,       // check box: ticked while the code is onCode
    Choice,       // an enumeration: the scale point's label, click steps on
    PresetList,   // built-in presets of a kind, plus "Restore previous" first
    Meter,        // Enhancer 1: the classic gain (and AGC) bar
    BandGraph,    // Enhancer 2: band gains over the crossovers' response curve
    LimiterGraph, // limiter: the transfer curve
    Heading,      // a caption alone
    Readings,     // Output: what the output stage reads and does
    History,      // Output: short-term loudness in and out over the last minute
    Button,       // a push button: each press flips its control's code
    NameField,    // Output: the name a user preset is saved under
    Action,       // Output: "Save preset" (onCode 0) or "Delete preset" (1)
    UserList,     // Output: the user's presets for this plug-in
    Status,       // Output: what the last save or delete did
};

struct Rect {
    int x, y, w, h;
};

struct Widget {
    Kind kind;
    int page;          // -1: every page
    int control;       // ports::Control, or -1
    Rect rect;
    const char* caption;
    int lo, hi;        // Slider: the codes the page control can set
    int onCode, offCode;  // Toggle
    int labelId;       // Slider: the page's value label (301.., 0 for a generic label)
    int row;           // Enhancer 2 band row 0..3, else -1
    bool compact;      // Slider: label under the track, no caption
};

constexpr int maxWidgets = 128;
struct Layout {
    Widget widgets[maxWidgets];
    int count;
};
// Every page's widgets; the Output page lists every control that no other
// page shows, in port order.
const Layout& uiLayout();
// Whether a control is shown by one of the three pages other than Output.
bool shownOnNamedPage(int control);

// Sub-areas of a slider.
Rect sliderTrack(const Widget& w);
Rect sliderLabel(const Widget& w);
// The code a pointer at logical x sets (snapped to the nearest code), and the
// track position of a code.
int sliderCodeAt(const Widget& w, double x);
double sliderPositionOf(const Widget& w, int code);

// What the UI knows: codes of every control, the read-outs, the stream's rate.
struct UiState {
    int32_t codes[ports::controlCount];
    float readouts[ports::readoutCount];
    int rate;       // 0 while unknown
    int channels;
    int page;
    int focus;      // widget index with the keyboard focus, -1 none
    int dragging;   // widget index being dragged, -1 none
    int presetSelection[2];  // selected row of the Enhancer and multiband lists
    int32_t snapshot[ports::controlCount];  // "Restore previous"
    bool snapshotTaken;
    int presetTop[2];        // first row shown by the Enhancer and multiband lists
    LoudnessHistory history;
    bool loudnessSeen;       // the host has sent a loudness read-out
    // The multiband limiter's traces from the plug-in's notifications: its
    // output, its input and its envelope; traced while they are fresh.
    float limiterTrace[3][ports::notifyTracePoints];
    bool traced;
    // The user's presets in home's .lv2 folder, the name being typed, the
    // list's selected and first shown rows, and the last save's or delete's message.
    char home[256];
    UserPresetList userPresets;
    char presetName[userPresetNameSize];
    int userSelection;
    int userTop;
    char status[160];
};
void initialState(UiState& s, int channels);

// The codes to write after a change, as the page control would set them.
struct Writes {
    int count;
    int control[ports::controlCount];
    int32_t code[ports::controlCount];
};
void addWrite(Writes& w, int control, int32_t code);

// Whether the page draws a read-out (the others need no new frame for it),
// and whether a widget shows read-outs (it alone is drawn when they move).
bool readoutShown(int page, int readout);
bool showsReadouts(const Widget& w);

// Texts.
void widgetLabel(const Widget& w, const UiState& s, char* out, int size);
bool widgetEnabled(const Widget& w, const UiState& s);
bool toggleTicked(const Widget& w, const UiState& s);
// Preset list rows: row 0 "Restore previous", then the built-ins of the kind.
int presetRowCount(const Widget& w);
// Rows the list's frame shows at once; the list scrolls to keep its
// selection among them.
int presetVisibleRows(const Widget& w);
constexpr int presetRowHeight = 18;
// The output stage's readings from the read-outs and switches.
StageReadings stageReadings(const UiState& s);
// Adds a point to the loudness history from the read-outs when one is due
// (none before the host has sent a loudness read-out); returns whether it did.
bool recordHistory(UiState& s, long long nowMs);
void presetRowText(const Widget& w, int row, char* out, int size);
// The multiband parameters the strings of the current codes parse to.
MultibandParams multibandParams(const UiState& s);

// Input. Each returns true when the state changed (redraw); writes collect
// the controls to send to the host.
int widgetAt(const UiState& s, double x, double y);
bool pointerPress(UiState& s, double x, double y, bool doubleClick, Writes& out);
bool pointerDrag(UiState& s, double x, double y, Writes& out);
bool pointerRelease(UiState& s);
bool wheel(UiState& s, double x, double y, int steps, Writes& out);
enum class Key : uint8_t { Left, Right, Up, Down, PageUp, PageDown, Home, End, Space, Tab,
                           BackTab, NextPage, PreviousPage, Delete };
bool keyPress(UiState& s, Key key, Writes& out);

// The user presets panel (user_preset_panel.cpp). Lists the presets in
// home's .lv2 folder (home may be null: nothing is listed or saved).
void loadUserPresets(UiState& s, const char* home);
// Lists them again: true when the list changed (another window or host saved
// or deleted one).
bool rescanUserPresets(UiState& s);
// A press on the field, a button or the list: focus, save, delete or apply.
bool userPanelPress(UiState& s, int index, double y, Writes& out);
// Keys on the panel's focused widget: Delete removes the name's last
// character, Space (Return) saves from the field and presses a button, Up
// and Down move in the list.
bool userPanelKey(UiState& s, Key key, Writes& out);
// Whether the name field has the keyboard focus, and typing into it (only
// the characters a name may hold are taken).
bool nameFieldFocused(const UiState& s);
bool typeText(UiState& s, const char* text);
void userRowText(const UiState& s, int row, char* out, int size);
int userVisibleRows(const Widget& w);

// Applies writes to the state (the UI shows what it sends at once).
void applyWrites(UiState& s, const Writes& w);

}  // namespace lv2ui
