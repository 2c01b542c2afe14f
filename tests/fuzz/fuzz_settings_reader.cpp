// Fuzzes the settings-file reader: the input is the file beside the library.
// After each load every user preset is applied (the record operations run on
// whatever the file held), and the file is written and read back: the second
// load must give the same settings as the first.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "settings/platform.h"
#include "settings/eq_preset_slots.h"
#include "settings/plugin_settings.h"
#include "settings/settings_file.h"

static std::string folder;
static std::string ini_path;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // A memory-backed folder when there is one: every run writes two files.
    char pattern[] = "/dev/shm/redozer-fuzz-XXXXXX";
    char fallback[] = "/tmp/redozer-fuzz-XXXXXX";
    char* made = mkdtemp(pattern);
    if (made == nullptr) made = mkdtemp(fallback);
    if (made == nullptr) abort();
    folder = made;
    // An empty per-user folder: the file beside the library is the one read.
    std::string profile = folder + "/profile";
    mkdir(profile.c_str(), 0755);
    setenv("XDG_CONFIG_HOME", profile.c_str(), 1);
    std::string module = folder + "/dsp_redozer.so";
    platform_set_own_module_file_for_tests(module.c_str());
    ini_path = folder + "/dsp_redozer.ini";
    atexit([] {
        unlink(ini_path.c_str());
        rmdir((folder + "/profile").c_str());
        rmdir(folder.c_str());
    });
    return 0;
}

static void start() {
    store_relaxed(settings.init_state, 0);
    settings_initialise();
}

struct Snapshot {
    uint8_t bytes[8];
    int32_t eq_enable;
    EqBand bands[3];
    char strings[3][100];
    std::string records[presetSlotCount];
};

static Snapshot take_snapshot() {
    Snapshot s{};
    const uint8_t fields[8] = {settings.enhance, settings.stereo_width, settings.hpcutoff,
                               settings.amp_max, settings.amp_up,       settings.amp_dwn,
                               settings.threshold, settings.tab_sel};
    memcpy(s.bytes, fields, sizeof fields);
    s.eq_enable = settings.eq_enable;
    memcpy(s.bands, settings.eq_bands, sizeof s.bands);
    snprintf(s.strings[0], sizeof s.strings[0], "%.49s", settings.strings.enh_multi1);
    snprintf(s.strings[1], sizeof s.strings[1], "%.89s", settings.strings.enh_multi2);
    snprintf(s.strings[2], sizeof s.strings[2], "%.59s", settings.strings.enh_limiter);
    for (int i = 0; i < presetSlotCount; ++i)
        if (settings.eq_preset_slots[i] != nullptr) s.records[i] = settings.eq_preset_slots[i];
    return s;
}

static bool same(const Snapshot& a, const Snapshot& b) {
    if (memcmp(a.bytes, b.bytes, sizeof a.bytes) != 0 || a.eq_enable != b.eq_enable) return false;
    // Gains above 999 do not fit the writer's three digits and cannot come back.
    bool bands_fit = true;
    for (const EqBand& band : a.bands) bands_fit = bands_fit && band.gain <= 999;
    if (bands_fit && memcmp(a.bands, b.bands, sizeof a.bands) != 0) return false;
    for (int i = 0; i < 3; ++i)
        if (strcmp(a.strings[i], b.strings[i]) != 0) return false;
    for (int i = 0; i < presetSlotCount; ++i)
        if (a.records[i] != b.records[i]) return false;
    return true;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FILE* file = fopen(ini_path.c_str(), "wb");
    if (file == nullptr) abort();
    if (size > 0 && fwrite(data, 1, size, file) != size) abort();
    fclose(file);

    start();
    Snapshot loaded = take_snapshot();

    settings_save();
    start();
    Snapshot reloaded = take_snapshot();
    if (!same(loaded, reloaded)) abort();

    for (int slot = 0; slot < presetSlotCount; ++slot) {
        const char* record = settings.eq_preset_slots[slot];
        if (record == nullptr) break;
        apply_eq_preset_record(record);
        char formatted[1100];
        format_eq_preset_record(formatted, sizeof formatted, record + eqPresetNameOffset);
    }
    return 0;
}
