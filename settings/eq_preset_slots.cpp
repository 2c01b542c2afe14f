// The Enhancer preset slots and their records.
#include "settings/eq_preset_slots.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "settings/plugin_settings.h"

// A record can be listed and applied only when its numeric prefix is complete:
// every character before the name offset must exist (no terminator inside it).
int eq_preset_record_valid(const char* record) {
    if (record == nullptr) return 0;
    for (int i = 0; i < eqPresetNameOffset; ++i)
        if (record[i] == '\0') return 0;
    return 1;
}

// Decimal value of the digits field at offset, read as atoi reads it but
// limited to the field, so a record's fields never run into each other.
static int record_field(const char* record, int offset, int digits) {
    char buffer[8];
    memcpy(buffer, record + offset, static_cast<size_t>(digits));
    buffer[digits] = '\0';
    return atoi(buffer);
}

void apply_eq_preset_record(const char* record) {
    if (!eq_preset_record_valid(record)) return;
    store_relaxed(settings.stereo_width, static_cast<uint8_t>(record_field(record, 0, 3)));
    store_relaxed(settings.hpcutoff, static_cast<uint8_t>(record_field(record, 4, 3)));
    store_relaxed(settings.amp_max, static_cast<uint8_t>(record_field(record, 8, 3)));
    store_relaxed(settings.amp_up, static_cast<uint8_t>(record_field(record, 12, 3)));
    store_relaxed(settings.amp_dwn, static_cast<uint8_t>(record_field(record, 16, 3)));
    store_relaxed(settings.threshold, static_cast<uint8_t>(record_field(record, 20, 3)));
    int mode = record_field(record, 24, 1);
    for (int b = 0; b < 3; ++b) {
        store_relaxed(settings.eq_bands[b].frequency,
                      static_cast<uint16_t>(record_field(record, 26 + 6 * b, 5)));
        store_relaxed(settings.eq_bands[b].gain,
                      static_cast<uint16_t>(record_field(record, 44 + 4 * b, 3)));
    }
    store_relaxed(settings.enhance, static_cast<uint8_t>((mode & 1) ? 1 : 0));
    store_relaxed(settings.eq_enable, (mode & 2) ? 1 : 0);
}

void format_eq_preset_record(char* out, int size, const char* name) {
    int mode = (load_relaxed(settings.enhance) == 1 ? 1 : 0) +
               (load_relaxed(settings.eq_enable) != 0 ? 2 : 0);
    snprintf(out, static_cast<size_t>(size),
             "%.3d,%.3d,%.3d,%.3d,%.3d,%.3d,%.1d,%.5d,%.5d,%.5d,%.3d,%.3d,%.3d,%s",
             settings.stereo_width, settings.hpcutoff, settings.amp_max, settings.amp_up,
             settings.amp_dwn, settings.threshold, mode, settings.eq_bands[0].frequency,
             settings.eq_bands[1].frequency, settings.eq_bands[2].frequency,
             settings.eq_bands[0].gain, settings.eq_bands[1].gain, settings.eq_bands[2].gain,
             name);
}

int first_empty_eq_preset_slot() {
    int i = 0;
    while (i < presetSlotCount && settings.eq_preset_slots[i] != nullptr) ++i;
    return i;
}

int delete_eq_preset_slot(int slot) {
    if (slot < builtinEqPresetCount || slot >= presetSlotCount) return 0;
    if (settings.eq_preset_slots[slot] == nullptr) return 0;
    free(const_cast<char*>(settings.eq_preset_slots[slot]));
    for (int i = slot; i + 1 < presetSlotCount; ++i)
        settings.eq_preset_slots[i] = settings.eq_preset_slots[i + 1];
    settings.eq_preset_slots[presetSlotCount - 1] = nullptr;
    return 1;
}
