// Portable logic of the multiband page and of the limiter dialog.
#include "pages/multiband_page.h"

#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "dsp/crossover.h"
#include "dsp/limiter.h"
#include "settings/multiband_presets.h"
#include "settings/plugin_settings.h"

int multibandPageFailAfter = -1;

// Zeroed heap memory for the page's own records and buffers.
static void* page_allocate(size_t count, size_t size) {
    if (multibandPageFailAfter == 0) {
        multibandPageFailAfter = -1;
        return nullptr;
    }
    if (multibandPageFailAfter > 0) --multibandPageFailAfter;
    return calloc(count, size);
}

// ---- Reading and writing the strings ----------------------------------------

int string_field_value(const char* field, int position, int length) {
    char scratch[16];
    if (length > 15) length = 15;
    for (int i = 0; i < length; ++i) scratch[i] = load_relaxed(field[position + i]);
    scratch[length] = '\0';

    const char* p = scratch;
    while (*p == ' ' || (*p >= '\t' && *p <= '\r')) ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') negative = *p++ == '-';
    long long value = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        value = value * 10 + (*p - '0');
        if (value > INT_MAX) value = INT_MAX;  // five digits at most, but stay defined
    }
    return static_cast<int>(negative ? -value : value);
}

void write_string_field(char* field, int position, unsigned value, int digits) {
    char text[24];
    snprintf(text, sizeof text, "%.*u", digits, value);
    for (int i = 0; i < digits && text[i] != '\0'; ++i) store_relaxed(field[position + i], text[i]);
}

// ---- The multiband page -----------------------------------------------------

TrackbarField multiband_trackbar_field(int id) {
    if (id >= mbFirstBandTrackbarId && id < mbFirstBandTrackbarId + 16) {
        const int row = (id - mbFirstBandTrackbarId) / 4;
        const int column = (id - mbFirstBandTrackbarId) % 4;
        return {settings.strings.enh_multi2, 5 + 16 * row + 4 * column};
    }
    if (id == mbDriveTrackbarId) return {settings.strings.enh_multi1, 35};
    if (id == mbStereoTrackbarId) return {settings.strings.enh_multi1, 39};
    return {nullptr, 0};
}

int multiband_trackbar_max(int id) {
    return id == mbDriveTrackbarId || id == mbStereoTrackbarId ? 40 : 100;
}

bool multiband_is_threshold_trackbar(int id) {
    return id == 204 || id == 208 || id == 212 || id == 216;
}

bool multiband_trackbar_moved(int id, int position) {
    const TrackbarField target = multiband_trackbar_field(id);
    if (target.field == nullptr) return false;
    if (position < 0) position = 0;
    write_string_field(target.field, target.position, static_cast<unsigned>(position), 3);
    return true;
}

int multiband_trackbar_value(int id) {
    const TrackbarField target = multiband_trackbar_field(id);
    if (target.field == nullptr) return 0;
    return string_field_value(target.field, target.position, 3);
}

static void set_char(char& c, bool on, char letter) { store_relaxed(c, on ? letter : '-'); }

bool multiband_switch_clicked(int id, bool checked) {
    MultibandStrings& s = settings.strings;
    switch (id) {
    case mbEnableId:
        if (checked) {
            store_relaxed(settings.enhance, uint8_t{2});
            store_relaxed(settings.eq_enable, int32_t{0});
        } else {
            store_relaxed(settings.enhance, uint8_t{0});
        }
        return true;
    case mbAgcId: set_char(s.enh_multi1[1], checked, 'a'); return true;
    case mbMultibandId: set_char(s.enh_multi1[0], checked, 'm'); return true;
    case mbSoftClip1Id: set_char(s.enh_limiter[2], checked, 's'); return true;
    case mbSoftClip2Id: set_char(s.enh_limiter[2], checked, 'h'); return true;
    case mbLimiterId: set_char(s.enh_limiter[0], checked, 'l'); return true;
    default: break;
    }
    if (id >= mbFirstSoloId && id < mbFirstSoloId + 4) {
        const uint16_t band = checked ? static_cast<uint16_t>(id - mbFirstSoloId + 1) : uint16_t{0};
        store_relaxed(settings.engine.multiband.soloBand, band);
        return true;
    }
    return false;
}

bool multiband_switch_checked(int id) {
    const MultibandStrings& s = settings.strings;
    switch (id) {
    case mbEnableId: return load_relaxed(settings.enhance) == 2;
    case mbAgcId: return load_relaxed(s.enh_multi1[1]) == 'a';
    case mbMultibandId: return load_relaxed(s.enh_multi1[0]) == 'm';
    case mbSoftClip1Id: return load_relaxed(s.enh_limiter[2]) == 's';
    case mbSoftClip2Id: return load_relaxed(s.enh_limiter[2]) == 'h';
    case mbLimiterId: {
        const char c = load_relaxed(s.enh_limiter[0]);
        return c == 'l' || c == 'L';
    }
    default: break;
    }
    if (id >= mbFirstSoloId && id < mbFirstSoloId + 4)
        return load_relaxed(settings.engine.multiband.soloBand) == id - mbFirstSoloId + 1;
    return false;
}

void multiband_crossover_entered(int index, unsigned value) {
    if (index < 0 || index > 2) return;
    write_string_field(settings.strings.enh_multi1, 5 + 6 * index, value, 5);
}

unsigned multiband_crossover_value(int index) {
    if (index < 0 || index > 2) return 0;
    return static_cast<unsigned>(string_field_value(settings.strings.enh_multi1, 5 + 6 * index, 5));
}

bool multiband_row_enabled(const MultibandParams& params, int row) {
    for (int k = 0; k < row && k < 3; ++k)
        if (params.crossoverHz[k] == 0) return false;
    return true;
}

void format_band_label(char* out, int size, const BandParams& band, int column, int rate) {
    const double r = rate > 0 ? rate : 44100;
    switch (column) {
    case 0: snprintf(out, size, "%.1f x ", band.maxGain); break;
    case 1: snprintf(out, size, "%.0f ms ", 1000.0 / (band.upStep * r)); break;
    case 2: snprintf(out, size, "%.1f ms ", 1000.0 / (band.downStep * r)); break;
    default: snprintf(out, size, "%.1f dB ", 20.0 * log10(band.threshold)); break;
    }
}

void format_drive_label(char* out, int size, double level) {
    snprintf(out, size, "%s%.1f dB", level > 1.0 ? "+" : "", 20.0 * log10(level));
}

void format_stereo_label(char* out, int size, int stereoPercent) {
    snprintf(out, size, "%s%d %%", stereoPercent > 0 ? "+" : "", stereoPercent);
}

void format_agc_caption(char* out, int size, double gainLeft, double gainRight) {
    snprintf(out, size, "AGC %.1f / %.1f dB", 20.0 * log10(gainLeft), 20.0 * log10(gainRight));
}

// ---- The preset list ---------------------------------------------------------

int multiband_user_preset_count() {
    int n = 0;
    while (n < presetSlotCount && settings.multiband_preset_slots[n] != nullptr) ++n;
    return n;
}

bool multiband_preset_list_text(int position, char* out, int size) {
    if (size <= 0) return false;
    out[0] = '\0';
    if (position < 0) return false;
    if (position == mbPresetHeadingPosition) {
        snprintf(out, size, "%s", "Presets:");
        return true;
    }
    if (position == mbRestorePosition) {
        snprintf(out, size, "%s", "   Restore previous");
        return true;
    }
    if (position < mbUserHeadingPosition) {
        const char* text = builtin_multiband_presets[position - 2].listText;
        snprintf(out, size, "%s", text != nullptr ? text : "");
        return true;
    }
    if (settings.multiband_preset_slots[0] == nullptr) return false;
    if (position == mbUserHeadingPosition) {
        snprintf(out, size, "%s", "User settings:");
        return true;
    }
    const int slot = position - mbFirstUserPosition;
    if (slot >= presetSlotCount) return false;
    for (int k = 0; k <= slot; ++k) {
        const char* record = settings.multiband_preset_slots[k];
        if (record == nullptr || strchr(record, '#') == nullptr) return false;
    }
    snprintf(out, size, "   %s", multibandPresetRecordName(settings.multiband_preset_slots[slot]));
    return true;
}

int multiband_add_user_preset(const char* name) {
    int slot = 0;
    while (slot < presetSlotCount && settings.multiband_preset_slots[slot] != nullptr) ++slot;
    if (slot >= mbUserPresetLimit) return -1;
    char* record = static_cast<char*>(page_allocate(multibandPresetRecordSize, 1));
    if (record == nullptr) return -1;
    char shortName[mbPresetNameLength + 1];
    snprintf(shortName, sizeof shortName, "%s", name != nullptr ? name : "");
    formatMultibandPresetRecord(record, multibandPresetRecordSize, shortName);
    settings.multiband_preset_slots[slot] = record;
    return slot;
}

bool multiband_delete_user_preset(int slot) {
    if (slot < 0 || slot >= presetSlotCount) return false;
    char** slots = settings.multiband_preset_slots;
    if (slots[slot] == nullptr) return false;
    free(slots[slot]);
    int k = slot;
    for (; k + 1 < presetSlotCount && slots[k + 1] != nullptr; ++k) slots[k] = slots[k + 1];
    slots[k] = nullptr;
    return true;
}

bool multiband_select_preset(int position) {
    if (position >= mbRestorePosition && position < mbUserHeadingPosition) {
        loadMultibandPreset(position + 19);
        return true;
    }
    if (position < mbFirstUserPosition) return false;
    const int slot = position - mbFirstUserPosition;
    if (slot >= presetSlotCount || settings.multiband_preset_slots[slot] == nullptr) return false;
    return applyMultibandPresetRecord(settings.multiband_preset_slots[slot]) != 0;
}

static char* copy_string_relaxed(const char* field, int size) {
    int length = 0;
    while (length < size && load_relaxed(field[length]) != '\0') ++length;
    char* copy = static_cast<char*>(page_allocate(static_cast<size_t>(length) + 2, 1));
    if (copy == nullptr) return nullptr;
    for (int i = 0; i < length; ++i) copy[i] = load_relaxed(field[i]);
    return copy;
}

bool take_multiband_snapshot() {
    release_multiband_snapshot();
    const MultibandStrings& s = settings.strings;
    char* multi1 = copy_string_relaxed(s.enh_multi1, sizeof s.enh_multi1);
    char* multi2 = copy_string_relaxed(s.enh_multi2, sizeof s.enh_multi2);
    char* limiter = copy_string_relaxed(s.enh_limiter, sizeof s.enh_limiter);
    if (multi1 == nullptr || multi2 == nullptr || limiter == nullptr) {
        free(multi1);
        free(multi2);
        free(limiter);
        return false;
    }
    multiband_snapshot = {multi1, multi2, limiter};
    return true;
}

void release_multiband_snapshot() {
    free(multiband_snapshot.multi1);
    free(multiband_snapshot.multi2);
    free(multiband_snapshot.limiter);
    multiband_snapshot = {nullptr, nullptr, nullptr};
}

// ---- Band graph ---------------------------------------------------------------

// Truncates toward zero into a range that any drawing surface accepts; NaN
// gives `fallback`.
static int clamp_coordinate(double v, int fallback) {
    if (std::isnan(v)) return fallback;
    if (v > 2147483647.0) return INT_MAX;
    if (v < -2147483648.0) return INT_MIN;
    return static_cast<int>(v);
}

BandGraphLayout band_graph_layout(const MultibandParams& params, const double gains[4],
                                  const float readouts[4], int width, int height) {
    BandGraphLayout layout{};
    const long long a = 74LL * height / 100;
    const long long b = 14LL * height / 100;
    const int x0 = width / 4;
    layout.axisX = x0;
    layout.axisTop = static_cast<int>(b + 5);
    layout.axisBottom = static_cast<int>(b + a - 5);

    int bands = 0;
    while (bands < 4) {
        ++bands;
        if (params.crossoverHz[bands - 1] == 0) break;
    }
    BandBar boost[4];
    BandBar cut[4];
    int boostCount = 0;
    int cutCount = 0;
    for (int band = 0; band < bands; ++band) {
        const double r = readouts[band];
        BandBar bar{};
        bar.rect.top = static_cast<int>(b + band * (a / 4) + a / 12);
        bar.rect.bottom = static_cast<int>(b + band * (a / 4) + a / 7);
        if (gains[band] >= 1.0) {
            bar.boost = true;
            bar.rect.left = x0;
            bar.rect.right = clamp_coordinate(x0 + width * r / 12, x0);
            boost[boostCount++] = bar;
        } else {
            bar.boost = false;
            bar.rect.left = clamp_coordinate(x0 - width * (1 - r) / 12, x0);
            bar.rect.right = x0;
            cut[cutCount++] = bar;
        }
    }
    for (int i = 0; i < boostCount; ++i) layout.bars[layout.barCount++] = boost[i];
    for (int i = 0; i < cutCount; ++i) layout.bars[layout.barCount++] = cut[i];
    return layout;
}

// ---- Response curve --------------------------------------------------------

bool response_curve_cells(const MultibandParams& params, int width, int height, int32_t* cells) {
    constexpr int n = responseSweepLength;
    if (width <= 0 || height <= 0) return true;
    float* buffers[5] = {};
    for (float*& buffer : buffers) {
        buffer = static_cast<float*>(page_allocate(n, sizeof(float)));
        if (buffer == nullptr) {
            for (float* b : buffers) free(b);
            return false;
        }
    }
    float* sweep = buffers[0];
    float* bands[4] = {buffers[1], buffers[2], buffers[3], buffers[4]};

    // A tone gliding from 40 Hz upwards; the phase is i times the current step.
    double omega = 251.32741228718345 / 44100;
    double delta1 = 1e-10;
    double delta2 = 1e-15;
    for (int i = 0; i < n; ++i) {
        sweep[i] = static_cast<float>(cos(i * omega));
        omega += delta1;
        delta1 += delta2;
        delta2 += 1.5e-15;
    }

    CrossoverBank bank{};
    designCrossovers(bank, params.crossoverHz, 44100);
    memcpy(bands[0], sweep, n * sizeof(float));
    for (int k = 0; k < 3 && params.crossoverHz[k] != 0; ++k)
        splitBand(bands[k], bands[k + 1], bank, k, n, 1);

    for (int j = 0; j < n; ++j) {
        sweep[j] = static_cast<float>(params.bands[0].threshold * bands[0][j] +
                                      params.bands[1].threshold * bands[1][j] +
                                      params.bands[2].threshold * bands[2][j] +
                                      params.bands[3].threshold * bands[3][j]);
    }

    for (int row = 0; row < height; ++row) cells[row] = 0;
    int per = n / height;
    if (per < 1) per = 1;  // taller than the sweep is long: one sample per row
    for (int j = 1; j <= n - 3; ++j) {
        if (!(sweep[j] > sweep[j - 1] && sweep[j] > sweep[j + 1])) continue;
        const double x = static_cast<double>(width) * sweep[j];
        const int row = j / per;
        if (row >= height) continue;
        // Only 1 <= x < width can pass "greater than the cell" and "inside".
        if (!(x >= 1.0 && x < width)) continue;
        const int32_t column = static_cast<int32_t>(x);
        if (column > cells[row]) cells[row] = column;
    }
    for (float* b : buffers) free(b);
    return true;
}

// ---- Limiter dialog ------------------------------------------------------------

const LimiterControl limiter_controls[limiterTrackbarCount] = {
    {0, 300, 8},    // threshold
    {1, 800, 13},   // release
    {0, 300, 18},   // ceiling
    {0, 400, 23},   // knee
    {11, 201, 28},  // ratio
    {1, 100, 33},   // attack
};

bool limiter_trackbar_moved(int id, int position) {
    const int index = id - limiterFirstTrackbarId;
    if (index < 0 || index >= limiterTrackbarCount) return false;
    if (position < 0) position = 0;
    write_string_field(settings.strings.enh_limiter, limiter_controls[index].position,
                       static_cast<unsigned>(position), 3);
    return true;
}

int limiter_trackbar_value(int index) {
    if (index < 0 || index >= limiterTrackbarCount) return 0;
    return string_field_value(settings.strings.enh_limiter, limiter_controls[index].position, 3);
}

void format_limiter_label(char* out, int size, const LimiterParams& limiter, int index) {
    switch (index) {
    case 0: snprintf(out, size, "%.1f dB", limiter.thresholdDb); break;
    case 1: snprintf(out, size, "%d ms", static_cast<int>(limiter.releaseMs)); break;
    case 2: snprintf(out, size, "%.1f dB", limiter.ceilingDb); break;
    case 3: snprintf(out, size, "%.1f dB", limiter.kneeDb); break;
    case 4:
        if (limiter.ratio > 20)
            snprintf(out, size, "%s", "inf : 1");
        else
            snprintf(out, size, "%.1f : 1", limiter.ratio);
        break;
    default: snprintf(out, size, "%.1f ms", limiter.attackMs); break;
    }
}

bool limiter_string_loadable() {
    const char* s = settings.strings.enh_limiter;
    int length = 0;
    while (length < static_cast<int>(sizeof settings.strings.enh_limiter) &&
           load_relaxed(s[length]) != '\0')
        ++length;
    return length >= 38;
}

int graph_row(double v, int height) {
    return clamp_coordinate(height - (height - 1) * v, height);
}

int trace_points(const float* values, int width, int height, GraphPoint* points) {
    if (width <= 0 || height <= 0) return 0;
    int per = tracePointsShown / width;
    if (per < 1) per = 1;
    int count = 0;
    double peak = 0;
    int counter = per;
    for (int i = 0; i < tracePointsShown; ++i) {
        const double magnitude = fabs(static_cast<double>(values[i]));
        if (peak < magnitude) peak = magnitude;  // NaN never replaces the peak
        if (i == 0) points[count++] = {0, graph_row(peak, height)};
        if (--counter == 0) {
            if (peak > 0) points[count++] = {i / per, graph_row(peak, height)};
            counter = per;
            peak = 0;
        }
    }
    return count;
}

int transfer_points(const LimiterParams& limiter, int width, int height, float* work,
                    GraphPoint* points) {
    if (width <= 0 || height <= 0) return 0;
    for (int i = 0; i < width; ++i) work[i] = static_cast<float>(static_cast<double>(i) / width);
    applyLimiterCurve(work, work, width, 1, static_cast<float>(limiter.thresholdDb),
                      static_cast<float>(limiter.kneeDb), static_cast<float>(limiter.ratio),
                      static_cast<float>(limiter.ceilingDb - limiter.thresholdDb));
    points[0] = {0, height};
    for (int i = 0; i < width; ++i) points[i + 1] = {i, graph_row(work[i], height)};
    return width + 1;
}
