// Fuzzes the application of an Enhancer preset record: any text, of any
// length, is either rejected or applied, and a record made from the applied
// settings with the same name applies to the same settings again (when its
// gains fit their three digits).
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "settings/eq_preset_slots.h"
#include "settings/plugin_settings.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string record(reinterpret_cast<const char*>(data), size);  // ends at the first zero byte
    if (!eq_preset_record_valid(record.c_str())) return 0;
    apply_eq_preset_record(record.c_str());
    struct Applied {
        EqBand bands[3];
        uint8_t bytes[7];
        int32_t eq_enable;
    };
    auto applied = [] {
        return Applied{{settings.eq_bands[0], settings.eq_bands[1], settings.eq_bands[2]},
                       {settings.stereo_width, settings.amp_max, settings.amp_up, settings.amp_dwn,
                        settings.hpcutoff, settings.threshold, settings.enhance},
                       settings.eq_enable};
    };
    const Applied first = applied();
    // Gains above 999 do not fit their three digits: such a record cannot
    // come back the same (the file may hold them; the pages never make them).
    for (const EqBand& band : first.bands)
        if (band.gain > 999) return 0;

    std::string name = record.c_str() + eqPresetNameOffset;
    std::string formatted(name.size() + 60, '\0');
    format_eq_preset_record(formatted.data(), static_cast<int>(formatted.size()), name.c_str());
    apply_eq_preset_record(formatted.c_str());
    const Applied second = applied();
    if (memcmp(first.bands, second.bands, sizeof first.bands) != 0 ||
        memcmp(first.bytes, second.bytes, sizeof first.bytes) != 0 || first.eq_enable != second.eq_enable)
        abort();
    return 0;
}
