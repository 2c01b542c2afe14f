#include "pages/enhancer_page.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "settings/eq_preset_slots.h"
#include "settings/plugin_settings.h"

// ---- Value labels ------------------------------------------------------------

int enhancer_page_rate(int sample_rate) { return sample_rate > 0 ? sample_rate : 44100; }

void stereo_width_label(char* out, int size, int stereo_width) {
    if (stereo_width == 0)
        snprintf(out, static_cast<size_t>(size), "normal ");
    else
        snprintf(out, static_cast<size_t>(size), "%d %% ", stereo_width / 2);
}

void hp_cutoff_label(char* out, int size, int hpcutoff) {
    if (hpcutoff == 0)
        snprintf(out, static_cast<size_t>(size), "off ");
    else
        snprintf(out, static_cast<size_t>(size), "%d Hz ", 2 * hpcutoff);
}

void max_amp_label(char* out, int size, float gain_ceiling) {
    snprintf(out, static_cast<size_t>(size), "%.1f x ", static_cast<double>(gain_ceiling));
}

// The time for the gain to move by 1.0: the per-frame step's reciprocal in
// frames (held as a float), over the frames per millisecond.
static double time_per_unit_ms(float step, int page_rate) {
    float frames = static_cast<float>(1000.0 / static_cast<double>(step));
    float ms = static_cast<float>(static_cast<double>(frames) / static_cast<double>(page_rate));
    return static_cast<double>(ms);
}

void raise_time_label(char* out, int size, float up_step, int page_rate) {
    snprintf(out, static_cast<size_t>(size), "%.0f ms ", time_per_unit_ms(up_step, page_rate));
}

void reduce_time_label(char* out, int size, float down_step, int page_rate) {
    snprintf(out, static_cast<size_t>(size), "%.1f ms ", time_per_unit_ms(down_step, page_rate));
}

void threshold_label(char* out, int size, int threshold) {
    if (threshold == 100) {
        snprintf(out, static_cast<size_t>(size), "off ");
        return;
    }
    // The enhancer's threshold level, 164 steps per unit below full scale.
    double level = 32767.0 - (100 - threshold) * 164.0;
    snprintf(out, static_cast<size_t>(size), "%.1f dB ", 20.0 * std::log10(level / 32767.0));
}

void band_gain_label(char* out, int size, int gain) {
    snprintf(out, static_cast<size_t>(size), "%d", 50 - gain);
}

int enhancer_slider_max(int control_id) { return control_id == 204 ? 120 : 100; }

void enhancer_value_label(char* out, int size, int label_id, const int positions[9],
                          int page_rate) {
    const ClassicCoefficients c =
        classicCoefficients(positions[2], positions[3], positions[4], page_rate);
    switch (label_id) {
    case 301: stereo_width_label(out, size, positions[0]); break;
    case 302: hp_cutoff_label(out, size, positions[1]); break;
    case 303: max_amp_label(out, size, c.gainCeiling); break;
    case 304: raise_time_label(out, size, c.gainUpStep, page_rate); break;
    case 305: reduce_time_label(out, size, c.gainDownStep, page_rate); break;
    case 306: threshold_label(out, size, positions[5]); break;
    case 307:
    case 308:
    case 309: band_gain_label(out, size, positions[label_id - 301]); break;
    default:
        if (size > 0) out[0] = '\0';
        break;
    }
}

// ---- Enable rules ------------------------------------------------------------

bool classic_group_enabled(int enhance, int bits_per_sample) {
    return enhance == 1 && bits_per_sample == 16;
}

bool equalizer_group_enabled(int eq_enable, int enhance, int bits_per_sample) {
    return eq_enable != 0 && enhance != 2 && bits_per_sample == 16;
}

// ---- Setting changes ---------------------------------------------------------

void set_classic_enabled(bool ticked) {
    store_relaxed(settings.enhance, static_cast<uint8_t>(ticked ? 1 : 0));
}

void toggle_equalizer() {
    store_relaxed(settings.eq_enable, load_relaxed(settings.eq_enable) == 0 ? 1 : 0);
    if (load_relaxed(settings.enhance) == 2) store_relaxed(settings.enhance, uint8_t{0});
}

void reset_equalizer_gains() {
    for (EqBand& band : settings.eq_bands) store_relaxed(band.gain, uint16_t{50});
}

static const uint16_t band_minimum[3] = {20, 200, 2000};
static const uint16_t band_maximum[3] = {800, 8000, 20000};

uint16_t clamp_band_frequency(int band, uint16_t frequency) {
    if (frequency < band_minimum[band]) return band_minimum[band];
    if (frequency > band_maximum[band]) return band_maximum[band];
    return frequency;
}

void clamp_eq_frequency_settings() {
    for (int b = 0; b < 3; ++b) {
        uint16_t f = load_relaxed(settings.eq_bands[b].frequency);
        uint16_t clamped = clamp_band_frequency(b, f);
        if (clamped != f) store_relaxed(settings.eq_bands[b].frequency, clamped);
    }
}

void set_band_frequency(int band, unsigned int typed) {
    if (band < 0 || band > 2) return;
    store_relaxed(settings.eq_bands[band].frequency, static_cast<uint16_t>(typed & 0xFFFFu));
    clamp_eq_frequency_settings();
}

bool store_trackbar_position(int control_id, int position) {
    uint8_t* eight_bit[6] = {&settings.stereo_width, &settings.hpcutoff, &settings.amp_max,
                             &settings.amp_up,       &settings.amp_dwn,  &settings.threshold};
    if (control_id >= 201 && control_id <= 206) {
        store_relaxed(*eight_bit[control_id - 201], static_cast<uint8_t>(position));
        return true;
    }
    if (control_id >= 207 && control_id <= 209) {
        store_relaxed(settings.eq_bands[control_id - 207].gain, static_cast<uint16_t>(position));
        return true;
    }
    return false;
}

// ---- Restore snapshot --------------------------------------------------------

void take_enhancer_snapshot() {
    EnhancerSnapshot& s = settings.enhancer_snapshot;
    s.stereo_width = load_relaxed(settings.stereo_width);
    s.hpcutoff = load_relaxed(settings.hpcutoff);
    s.amp_max = load_relaxed(settings.amp_max);
    s.amp_up = load_relaxed(settings.amp_up);
    s.amp_dwn = load_relaxed(settings.amp_dwn);
    s.threshold = load_relaxed(settings.threshold);
    for (int b = 0; b < 3; ++b) {
        s.eq_bands[b].gain = load_relaxed(settings.eq_bands[b].gain);
        s.eq_bands[b].frequency = load_relaxed(settings.eq_bands[b].frequency);
    }
    s.classic_was_on = load_relaxed(settings.enhance) == 1 ? 1 : 0;
    s.eq_enable = load_relaxed(settings.eq_enable);
}

void restore_enhancer_snapshot() {
    const EnhancerSnapshot& s = settings.enhancer_snapshot;
    store_relaxed(settings.stereo_width, s.stereo_width);
    store_relaxed(settings.hpcutoff, s.hpcutoff);
    store_relaxed(settings.amp_max, s.amp_max);
    store_relaxed(settings.amp_up, s.amp_up);
    store_relaxed(settings.amp_dwn, s.amp_dwn);
    store_relaxed(settings.threshold, s.threshold);
    for (int b = 0; b < 3; ++b) {
        store_relaxed(settings.eq_bands[b].gain, s.eq_bands[b].gain);
        store_relaxed(settings.eq_bands[b].frequency, s.eq_bands[b].frequency);
    }
    store_relaxed(settings.enhance, static_cast<uint8_t>(s.classic_was_on == 1 ? 1 : 0));
    store_relaxed(settings.eq_enable, s.eq_enable);
}

// ---- Preset list -------------------------------------------------------------

const char* eq_preset_list_name(int slot) {
    if (slot < 0 || slot >= presetSlotCount) return nullptr;
    const char* record = settings.eq_preset_slots[slot];
    if (!eq_preset_record_valid(record)) return nullptr;
    return record + eqPresetNameOffset;
}

int eq_preset_list_count() { return first_empty_eq_preset_slot(); }

void select_eq_preset_item(int list_index) {
    if (list_index <= 0)
        restore_enhancer_snapshot();
    else if (list_index - 1 < presetSlotCount)
        apply_eq_preset_record(settings.eq_preset_slots[list_index - 1]);
    clamp_eq_frequency_settings();
}

bool delete_allowed_for_item(int list_index) { return list_index > builtinEqPresetCount; }

int add_eq_preset(const char* name, PresetAllocator allocate) {
    int slot = first_empty_eq_preset_slot();
    if (slot >= presetSlotCount - 1) return -1;
    size_t length = strlen(name);
    // The numeric prefix takes 56 characters, the terminator one more.
    size_t size = length + 60;
    char* record = static_cast<char*>(allocate(size));
    if (record == nullptr) return -1;
    format_eq_preset_record(record, static_cast<int>(size), name);
    settings.eq_preset_slots[slot] = record;
    return slot;
}

int add_eq_preset(const char* name) { return add_eq_preset(name, malloc); }

bool delete_eq_preset_item(int list_index) {
    if (!delete_allowed_for_item(list_index)) return false;
    return delete_eq_preset_slot(list_index - 1) == 1;
}

// ---- Level meter -------------------------------------------------------------

int meter_level_target(int peak) {
    double target = 34000.0 * (1.0 - std::exp(-static_cast<double>(peak) / 10000.0));
    if (!(target > 0.0)) return 0;  // also NaN
    if (target > 34000.0) return 34000;
    return static_cast<int>(target);
}

int meter_amp_target(int in_left, int in_right, int out_left, int out_right) {
    int64_t numerator = 2000 * (static_cast<int64_t>(out_left) + out_right) + 2000;
    int64_t denominator = static_cast<int64_t>(in_left) + in_right + 1;
    if (denominator <= 0) denominator = 1;  // peaks are never negative; be safe anyway
    int64_t target = numerator / denominator;
    if (target > INT32_MAX) target = INT32_MAX;
    if (target < INT32_MIN) target = INT32_MIN;
    return static_cast<int>(target);
}

bool update_meter() {
    if (load_relaxed(settings.meterRequest) == 0) return false;

    // The peaks hold two channels; a stream of more channels shows the first two.
    int channels = load_relaxed(settings.channel_count);
    if (channels > 2) channels = 2;
    int32_t peak_in[2] = {load_relaxed(settings.meterPeakIn[0]), load_relaxed(settings.meterPeakIn[1])};
    int32_t peak_out[2] = {load_relaxed(settings.meterPeakOut[0]),
                           load_relaxed(settings.meterPeakOut[1])};

    bool limited = false;
    for (int pair = 0; pair < 2; ++pair) {
        const int32_t* peaks = pair == 0 ? peak_in : peak_out;
        for (int ch = 0; ch < channels; ++ch) {
            int32_t& shown = settings.meter_levels[pair * 2 + ch];
            int target = meter_level_target(peaks[ch]);
            if (static_cast<int64_t>(shown) - target > settings.level_fall_step) {
                shown -= settings.level_fall_step;
                limited = true;
            } else {
                shown = target;
            }
        }
    }
    if (!limited)
        settings.level_fall_step = 100;
    else if (settings.level_fall_step < 2500)
        settings.level_fall_step += 300;

    int amp_target = meter_amp_target(peak_in[0], peak_in[1], peak_out[0], peak_out[1]);
    bool amp_limited = false;
    if (static_cast<int64_t>(amp_target) - settings.meter_amp > settings.amp_rise_step) {
        settings.meter_amp += settings.amp_rise_step;
        amp_limited = true;
    } else {
        settings.meter_amp = amp_target;
    }
    if (!amp_limited)
        settings.amp_rise_step = 100;
    else if (settings.amp_rise_step < 2000)
        settings.amp_rise_step += 200;
    return true;
}

// Top edge of a bar: value v of full scale `scale` over `span` pixels from base.
// Formed in 64 bits, since the amplification can reach far beyond the scale.
static int bar_top(int base, int span, int64_t v, int64_t scale) {
    int64_t top = base - static_cast<int64_t>(span) * v / scale;
    if (top < -1) top = -1;  // above the picture either way
    if (top > base + 1) top = base + 1;
    return static_cast<int>(top);
}

MeterPicture meter_picture(int width, int height, int channel_count, const int32_t levels[4],
                           int32_t amp) {
    MeterPicture picture{};
    auto bar = [&](int a, int b, int32_t v) {
        return MeterRect{width * a / 16, bar_top(height - 4, height - 8, v, 32768), width * b / 16,
                         height - 4};
    };
    if (channel_count == 1) {
        picture.bar_count = 2;
        picture.bars[0] = bar(2, 5, levels[0]);
        picture.bars[1] = bar(11, 14, levels[2]);
    } else {
        picture.bar_count = 4;
        picture.bars[0] = bar(1, 3, levels[0]);
        picture.bars[1] = bar(4, 6, levels[1]);
        picture.bars[2] = bar(10, 12, levels[2]);
        picture.bars[3] = bar(13, 15, levels[3]);
    }
    picture.amp_bar = MeterRect{7 * width / 16, bar_top(height - 5, height - 8, amp, 20000),
                                9 * width / 16, height - 4};
    return picture;
}
