// Portable logic of the Enhancer 1 page: value label texts, enable rules, the
// equalizer frequency ranges, the restore snapshot, the preset list operations
// and the level meter's ballistics and bar geometry. The window procedure in
// ui/enhancer_page.cpp only moves values between these and the controls.
#pragma once

#include <cstddef>
#include <cstdint>

// ---- Value labels (every text ends with a space) ---------------------------
// The rate the page shows times for: the stream's rate, 44100 while none is known.
int enhancer_page_rate(int sample_rate);

void stereo_width_label(char* out, int size, int stereo_width);    // 301
void hp_cutoff_label(char* out, int size, int hpcutoff);           // 302
void max_amp_label(char* out, int size, float gain_ceiling);       // 303
void raise_time_label(char* out, int size, float up_step, int page_rate);    // 304
void reduce_time_label(char* out, int size, float down_step, int page_rate); // 305
void threshold_label(char* out, int size, int threshold);          // 306
void band_gain_label(char* out, int size, int gain);               // 307..309

// Range of slider 201..209: 0..100, "Amp raise" (204) 0..120.
int enhancer_slider_max(int control_id);
// Text of value label 301..309 for the positions of sliders 201..209 (in that
// order) at a page rate: the classic coefficients for 303..305 are formed
// from the positions, as the engine forms them.
void enhancer_value_label(char* out, int size, int label_id, const int positions[9],
                          int page_rate);

// ---- Enable rules ----------------------------------------------------------
// Sliders 201..206 and labels 301..306.
bool classic_group_enabled(int enhance, int bits_per_sample);
// Sliders 207..209, "Reset", edits 161..163 and labels 307..309.
bool equalizer_group_enabled(int eq_enable, int enhance, int bits_per_sample);

// ---- Setting changes made by the page --------------------------------------
// "Enable" of the classic enhancer: mode 1 when ticked, else 0.
void set_classic_enabled(bool ticked);
// "Enable" of the equalizer: toggles eq_enable and leaves the multiband mode.
void toggle_equalizer();
// "Reset": all three band gains to neutral; frequencies stay.
void reset_equalizer_gains();
// The frequency range the page keeps for band 0..2.
uint16_t clamp_band_frequency(int band, uint16_t frequency);
// Forces the three band frequencies into their ranges.
void clamp_eq_frequency_settings();
// Stores a typed frequency (already taken modulo 65536 by the caller's field
// width) into band 0..2 and clamps all three.
void set_band_frequency(int band, unsigned int typed);
// Trackbar ids 201..209: stores the position into its setting. Returns false
// for any other id.
bool store_trackbar_position(int control_id, int position);

// ---- Restore snapshot ------------------------------------------------------
void take_enhancer_snapshot();
void restore_enhancer_snapshot();

// ---- Preset list -----------------------------------------------------------
constexpr int presetNameLimit = 30;  // the preset box's text limit
constexpr int presetNameBuffer = 40; // texts read from the box (at most 39 characters)

// The name shown for a preset slot, or nullptr when the slot is empty or its
// record is too short to be listed.
const char* eq_preset_list_name(int slot);
// Number of list entries after "[ Restore previous ]": the unbroken run of
// occupied slots from slot 0 (list item i + 1 shows slot i).
int eq_preset_list_count();
// A list selection: 0 or less restores the snapshot, otherwise applies slot
// s - 1. Afterwards the band frequencies are clamped.
void select_eq_preset_item(int list_index);
// "Del" is enabled exactly for user presets.
bool delete_allowed_for_item(int list_index);
// "Add": stores a record of the current settings with the given name in the
// first empty slot while that slot is below 29. Returns the slot, or -1 when
// there is no room or the allocation fails (the table is then unchanged).
using PresetAllocator = void* (*)(size_t);
int add_eq_preset(const char* name, PresetAllocator allocate);
int add_eq_preset(const char* name);
// "Del" on list item s: deletes the user record of slot s - 1. Returns true
// when a record was deleted.
bool delete_eq_preset_item(int list_index);

// ---- Level meter -----------------------------------------------------------
constexpr int meterTimerId = 4031;
constexpr int meterTimerPeriod = 40;  // ms

// Displayed level a peak of 0..32768 aims at (a compressive scale).
int meter_level_target(int peak);
// Amplification target from the raw peaks, 2000 standing for a gain of 1.
int meter_amp_target(int in_left, int in_right, int out_left, int out_right);
// One tick of the meter's ballistics on the parameter block. Returns false
// (and changes nothing) while no page asks for meter values.
bool update_meter();

struct MeterRect {
    int left, top, right, bottom;
};
struct MeterPicture {
    int bar_count;          // level bars: 2 in mono, else 4
    MeterRect bars[4];      // input left, (input right), output left, (output right)
    MeterRect amp_bar;
};
// Bar geometry for a meter area of width x height pixels.
MeterPicture meter_picture(int width, int height, int channel_count, const int32_t levels[4],
                           int32_t amp);
