// Portable logic of the multiband page and of the limiter dialog: the edits of
// the multiband strings at their fixed positions, the value labels, the enable
// rules, the user preset list, and the geometry of the band graph, the
// response curve and the limiter graph. The window procedures only move these
// results into controls and device contexts.
#pragma once

#include <cstdint>

#include "dsp/engine_types.h"

// ---- Control ids shared by the page and its logic ---------------------------
constexpr int mbEnableId = 181;
constexpr int mbAgcId = 190;
constexpr int mbMultibandId = 188;
constexpr int mbSoftClip1Id = 189;
constexpr int mbSoftClip2Id = 187;
constexpr int mbLimiterId = 191;
constexpr int mbFirstSoloId = 183;     // 183 + band row
constexpr int mbFirstCrossoverId = 161; // 161 + crossover index
constexpr int mbFirstBandTrackbarId = 201; // 201 + 4 * row + column
constexpr int mbFirstBandLabelId = 301;    // 301 + 4 * row + column
constexpr int mbDriveTrackbarId = 221;
constexpr int mbStereoTrackbarId = 222;
constexpr int mbDriveLabelId = 321;
constexpr int mbStereoLabelId = 322;

// List positions of the preset combo box.
constexpr int mbPresetHeadingPosition = 0;
constexpr int mbRestorePosition = 1;
constexpr int mbUserHeadingPosition = 11;
constexpr int mbFirstUserPosition = 12;
// The page fills user slots 0..28; the last slot always stays empty.
constexpr int mbUserPresetLimit = 29;
constexpr int mbPresetNameLength = 89;

// For tests: when multibandPageFailAfter is 0 or more, that many of the page's
// allocations (snapshot copies, preset records, response-curve buffers)
// succeed and the next one fails; -1 (the default) never fails.
extern int multibandPageFailAfter;

// ---- Reading and writing the strings ----------------------------------------

// Decimal value of `length` characters of `field` from `position` on (leading
// blanks and a sign allowed, stops at the first non-digit, saturating).
int string_field_value(const char* field, int position, int length);
// Writes value in `digits` zero-padded digits and copies the first `digits`
// characters of that text to `position` (so 123456 in five digits gives
// "12345"). Relaxed atomic stores, character by character.
void write_string_field(char* field, int position, unsigned value, int digits);

// ---- The multiband page -----------------------------------------------------

// Where a trackbar of the page writes: string and position, or none.
struct TrackbarField {
    char* field;  // null when the id is not one of the page's trackbars
    int position;
};
TrackbarField multiband_trackbar_field(int id);
// Range of a page trackbar (0..100, Drive and Stereo 0..40).
int multiband_trackbar_max(int id);
bool multiband_is_threshold_trackbar(int id);

// Writes a moved trackbar's position into its three characters. Returns false
// when the id is none of the page's trackbars (nothing written).
bool multiband_trackbar_moved(int id, int position);
// The position refresh gives a page trackbar: its three characters' value.
int multiband_trackbar_value(int id);

// A check box of the page was clicked: 188, 190, 189, 187, 191 set their
// character, 183..186 set soloBand, 181 the engine switch. Returns false for
// any other id.
bool multiband_switch_clicked(int id, bool checked);
// Whether refresh shows the check box checked (181, 190, 188, 189, 187, 191,
// 183..186).
bool multiband_switch_checked(int id);

// Stores an unsigned crossover entry (index 0..2) as five characters.
void multiband_crossover_entered(int index, unsigned value);
// The value show_crossovers puts into edit field 161 + index.
unsigned multiband_crossover_value(int index);

// Band row 0..3 is enabled when the parsed crossovers below it are non-zero.
bool multiband_row_enabled(const MultibandParams& params, int row);

// Value labels; `rate` is the stream's sample rate (0 means 44100).
void format_band_label(char* out, int size, const BandParams& band, int column, int rate);
void format_drive_label(char* out, int size, double level);
void format_stereo_label(char* out, int size, int stereoPercent);
void format_agc_caption(char* out, int size, double gainLeft, double gainRight);

// ---- The preset list ---------------------------------------------------------

// Number of user presets (occupied slots from slot 0).
int multiband_user_preset_count();
// Text of list position p into out; false past the end of the list. The list
// is "Presets:", "   Restore previous", the nine built-ins, then, while user
// presets exist, "User settings:" and "   name" per occupied slot (a record
// without '#' ends the listing).
bool multiband_preset_list_text(int position, char* out, int size);
// Add: stores a record of the current strings under `name` in the first empty
// slot. Returns the slot, or -1 when all usable slots are taken or the record
// cannot be allocated (nothing changes then).
int multiband_add_user_preset(const char* name);
// Del: releases the slot, moves the later ones down. Returns false for a slot
// that is not occupied.
bool multiband_delete_user_preset(int slot);
// Selecting list position p: loads a built-in, the snapshot or a user record.
// Returns false when nothing was loaded (headings, empty slot, bad record).
bool multiband_select_preset(int position);

// The page's snapshot of the three strings, taken at creation. All three or
// none: a failed allocation leaves no snapshot (Restore previous then keeps the
// current strings). Returns true when taken.
bool take_multiband_snapshot();
void release_multiband_snapshot();

// ---- Band graph ---------------------------------------------------------------

struct GraphRect {
    int left, top, right, bottom;
};
struct BandBar {
    GraphRect rect;
    bool boost;  // gain at or above 1.0: blue, else orange
};
struct BandGraphLayout {
    int axisX, axisTop, axisBottom;  // the unity-gain axis line
    int barCount;
    BandBar bars[4];  // boost bars first, then the others
};
BandGraphLayout band_graph_layout(const MultibandParams& params, const double gains[4],
                                  const float readouts[4], int width, int height);

// ---- Response curve --------------------------------------------------------

constexpr int responseSweepLength = 132300;

// Fills `cells` (height entries) with the curve's x per pixel row, 0 where
// nothing is drawn. Returns false when the working buffers cannot be obtained
// (cells untouched).
bool response_curve_cells(const MultibandParams& params, int width, int height, int32_t* cells);

// ---- Limiter dialog ------------------------------------------------------------

constexpr int limiterTrackbarCount = 6;
constexpr int limiterFirstTrackbarId = 201;
constexpr int limiterFirstLabelId = 301;
struct LimiterControl {
    int minimum, maximum;
    int position;  // first character of the field in enh_limiter
};
extern const LimiterControl limiter_controls[limiterTrackbarCount];

// Writes a moved limiter trackbar's position into its three characters.
// Returns false for an id that is not one of the six trackbars.
bool limiter_trackbar_moved(int id, int position);
int limiter_trackbar_value(int index);
void format_limiter_label(char* out, int size, const LimiterParams& limiter, int index);
// Whether enh_limiter is long enough to be shown at creation.
bool limiter_string_loadable();

struct GraphPoint {
    int x, y;
};
// Row of amplitude v in a graph of height h (full scale at the top).
int graph_row(double v, int height);
constexpr int tracePointsShown = 500;
// Polyline of one trace: points[0] is the move, the rest are line ends.
// Returns the number of points written (at most tracePointsShown + 1).
int trace_points(const float* values, int width, int height, GraphPoint* points);
// Transfer curve: (0, H) and then W points. `work` holds W floats. Returns the
// number of points written (width + 1, or 0 for an empty graph).
int transfer_points(const LimiterParams& limiter, int width, int height, float* work,
                    GraphPoint* points);
