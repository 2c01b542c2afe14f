#include "host/run_settings.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "dsp/multiband_strings.h"
#include "dsp/output_stage.h"
#include "settings/eq_preset_slots.h"
#include "settings/multiband_presets.h"
#include "settings/plugin_settings.h"
#include "settings/settings_file.h"

// The block's values, as key/value pairs in the file's order of keys.
std::vector<std::pair<std::string, std::string>> settings_block_values() {
    char gains[64], frequencies[64];
    snprintf(gains, sizeof gains, "%.3d,%.3d,%.3d", settings.eq_bands[0].gain, settings.eq_bands[1].gain,
             settings.eq_bands[2].gain);
    snprintf(frequencies, sizeof frequencies, "%.5d,%.5d,%.5d", settings.eq_bands[0].frequency,
             settings.eq_bands[1].frequency, settings.eq_bands[2].frequency);
    return {{"enhance", std::to_string(settings.enhance)},
            {"stereo_width", std::to_string(settings.stereo_width)},
            {"hpcutoff", std::to_string(settings.hpcutoff)},
            {"amp_max", std::to_string(settings.amp_max)},
            {"amp_up", std::to_string(settings.amp_up)},
            {"amp_dwn", std::to_string(settings.amp_dwn)},
            {"threshold", std::to_string(settings.threshold)},
            {"tab_sel", std::to_string(settings.tab_sel)},
            {"eq_enable", std::to_string(settings.eq_enable)},
            {"eq", gains},
            {"eq_f", frequencies},
            {"enh_multi1", settings.strings.enh_multi1},
            {"enh_multi2", settings.strings.enh_multi2},
            {"enh_limiter", settings.strings.enh_limiter},
            {"loudness_target", std::to_string(settings.loudness_target)},
            {"target_lufs", std::to_string(settings.target_lufs)},
            {"tp_limit", std::to_string(settings.tp_limit)},
            {"tp_ceiling", std::to_string(settings.tp_ceiling)},
            {"band_hold", std::to_string(settings.band_hold)},
            {"level_mode", std::to_string(settings.level_mode)},
            {"tp_mode", std::to_string(settings.tp_mode)}};
}

namespace {

constexpr const char* library_file_name = "dsp_redozer.so";
constexpr const char* settings_file_name = "dsp_redozer.ini";
constexpr const char* profile_folder_name = "dsp_redozer";
constexpr const char* tag_file_name = "zb_local.ini";

struct ByteKey {
    const char* key;
    int low, high;  // what the pages can set
};

const ByteKey byte_keys[] = {
    {"enhance", 0, 2},   {"stereo_width", 0, 100}, {"hpcutoff", 0, 100},
    {"amp_max", 0, 100}, {"amp_up", 0, 120},       {"amp_dwn", 0, 100},
    {"threshold", 0, 100}, {"tab_sel", 0, 3},      {"eq_enable", 0, 1},
    {"loudness_target", 0, 1}, {"target_lufs", 50, 400}, {"tp_limit", 0, 1}, {"tp_ceiling", 0, 120},
    {"band_hold", 0, 1}, {"level_mode", 0, 1}, {"tp_mode", 0, 2},
};

struct StringKey {
    const char* key;
    size_t fieldSize;  // terminator included; the raw value with its line end must stay below it
};

const StringKey string_keys[] = {{"enh_multi1", 50}, {"enh_multi2", 90}, {"enh_limiter", 60}};

// Band frequency ranges that the Enhancer 1 page keeps.
const int frequency_low[3] = {20, 200, 2000};
const int frequency_high[3] = {800, 8000, 20000};

std::string lower(std::string text) {
    for (char& c : text) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    return text;
}

// A whole decimal number without sign; false for anything else.
bool whole_number(const std::string& text, long& value) {
    if (text.empty() || text.size() > 9) return false;
    for (char c : text)
        if (c < '0' || c > '9') return false;
    value = strtol(text.c_str(), nullptr, 10);
    return true;
}

// Three comma-separated whole numbers.
bool three_numbers(const std::string& text, long (&values)[3]) {
    size_t start = 0;
    for (int i = 0; i < 3; ++i) {
        size_t comma = text.find(',', start);
        if ((i < 2) != (comma != std::string::npos)) return false;
        std::string part = text.substr(start, i < 2 ? comma - start : std::string::npos);
        if (!whole_number(part, values[i])) return false;
        start = comma + 1;
    }
    return true;
}

// The list name as --preset compares it: no leading or trailing blanks, no
// surrounding brackets, lower case.
std::string preset_key(const std::string& text) {
    size_t a = text.find_first_not_of(' ');
    if (a == std::string::npos) return "";
    size_t b = text.find_last_not_of(' ');
    std::string name = text.substr(a, b - a + 1);
    if (name.size() >= 2 && name.front() == '[' && name.back() == ']') {
        name = name.substr(1, name.size() - 2);
        a = name.find_first_not_of(' ');
        if (a == std::string::npos) return "";
        b = name.find_last_not_of(' ');
        name = name.substr(a, b - a + 1);
    }
    return lower(name);
}

// Reads text into dsphost's own settings block (the core library's, not the
// loaded plug-in's) by the plug-in's own rules: the values the plug-in starts
// with, then the text's lines as its reader takes them.
void read_into_block(const std::string& text) {
    settings_reset_to_load_state();
    settings_set_start_values();
    // An empty text has no lines (and fmemopen may refuse an empty buffer).
    if (text.empty()) return;
    FILE* file = fmemopen(const_cast<char*>(text.data()), text.size(), "r");
    if (file == nullptr) return;
    settings_read_lines(file);
    fclose(file);
}


// The user's EqPresetRecords that the plug-in loads from the text, in slot
// order. A record without a name cannot be chosen by name and is left out.
std::vector<std::string> user_eq_records(const std::string& text) {
    read_into_block(text);
    std::vector<std::string> records;
    for (int slot = builtinEqPresetCount; slot < presetSlotCount; ++slot) {
        const char* record = settings.eq_preset_slots[slot];
        if (record == nullptr) break;
        if (strlen(record) > static_cast<size_t>(eqPresetNameOffset)) records.push_back(record);
    }
    return records;
}

// The lines that set what applying the record on its page sets: the record
// is applied to dsphost's own block and the fields are read back.
void eq_record_lines(const std::string& record, std::vector<SettingLine>& lines) {
    read_into_block("");
    apply_eq_preset_record(record.c_str());
    for (const auto& [key, value] : settings_block_values()) {
        // Applying any record leaves the multiband engine; the strings and
        // the page stay as they are.
        if (key == "tab_sel" || key.compare(0, 4, "enh_") == 0) continue;
        if (key != "eq") {
            lines.push_back({key, value});
            continue;
        }
        // The reader takes the gains at every fourth character. A record's
        // three-character field holds at most 999 or down to -99, which the
        // block keeps as 65437..65535: written back as the negative number,
        // each gain keeps its three characters.
        char text[64];
        int g[3];
        for (int b = 0; b < 3; ++b) {
            g[b] = settings.eq_bands[b].gain;
            if (g[b] > 999) g[b] -= 65536;
        }
        snprintf(text, sizeof text, "%03d,%03d,%03d", g[0], g[1], g[2]);
        lines.push_back({key, text});
    }
}

void multiband_lines(const char* multi1, const char* multi2, const char* limiter,
                     std::vector<SettingLine>& lines);

void output_preset_lines(const OutputStagePreset& p, std::vector<SettingLine>& lines) {
    multiband_lines(p.multi1, p.multi2, p.limiter, lines);
    lines.push_back({"loudness_target", "1"});
    lines.push_back({"target_lufs", std::to_string(p.targetLufs)});
    lines.push_back({"tp_limit", "1"});
    lines.push_back({"tp_ceiling", std::to_string(p.tpCeiling)});
    lines.push_back({"band_hold", std::to_string(p.bandHold)});
    lines.push_back({"level_mode", std::to_string(p.levelMode)});
    lines.push_back({"tp_mode", std::to_string(p.tpMode)});
}

void multiband_lines(const char* multi1, const char* multi2, const char* limiter,
                     std::vector<SettingLine>& lines) {
    lines.push_back({"enh_multi1", multi1});
    lines.push_back({"enh_multi2", multi2});
    lines.push_back({"enh_limiter", limiter});
    lines.push_back({"enhance", "2"});
}


}  // namespace

bool write_text_file(const std::string& path, const std::string& text) {
    FILE* file = fopen(path.c_str(), "wb");
    if (file == nullptr) return false;
    bool ok = fwrite(text.data(), 1, text.size(), file) == text.size();
    return fclose(file) == 0 && ok;
}

bool parse_set_argument(const std::string& argument, SettingLine& line, std::string& error) {
    size_t equals = argument.find('=');
    if (equals == std::string::npos || equals == 0) {
        error = "--set takes KEY=VALUE, not '" + argument + "'";
        return false;
    }
    line.key = argument.substr(0, equals);
    line.value = argument.substr(equals + 1);
    for (const ByteKey& k : byte_keys) {
        if (line.key != k.key) continue;
        long v = 0;
        if (!whole_number(line.value, v) || v < k.low || v > k.high) {
            error = line.key + " takes a whole number from " + std::to_string(k.low) + " to " +
                    std::to_string(k.high) + ", not '" + line.value + "'";
            return false;
        }
        line.value = std::to_string(v);
        return true;
    }
    long values[3];
    char text[64];
    if (line.key == "eq") {
        if (!three_numbers(line.value, values) || values[0] > 100 || values[1] > 100 || values[2] > 100) {
            error = "eq takes three band gains from 0 to 100 (50 is flat), e.g. eq=50,60,40";
            return false;
        }
        snprintf(text, sizeof text, "%.3ld,%.3ld,%.3ld", values[0], values[1], values[2]);
        line.value = text;
        return true;
    }
    if (line.key == "eq_f") {
        bool ok = three_numbers(line.value, values);
        for (int b = 0; ok && b < 3; ++b) ok = values[b] >= frequency_low[b] && values[b] <= frequency_high[b];
        if (!ok) {
            error = "eq_f takes three band frequencies in Hz (20-800, 200-8000, 2000-20000), "
                    "e.g. eq_f=100,1000,10000";
            return false;
        }
        snprintf(text, sizeof text, "%.5ld,%.5ld,%.5ld", values[0], values[1], values[2]);
        line.value = text;
        return true;
    }
    for (const StringKey& k : string_keys) {
        if (line.key != k.key) continue;
        bool printable = true;
        for (char c : line.value) printable = printable && c >= 0x20 && c < 0x7f;
        if (!printable || line.value.empty() || line.value.size() + 1 >= k.fieldSize) {
            error = line.key + " takes a text of 1 to " + std::to_string(k.fieldSize - 2) +
                    " printable characters";
            return false;
        }
        return true;
    }
    if (line.key == "enh_eq_set") {
        error = "enh_eq_set stores user presets; choose one with --preset NAME";
        return false;
    }
    error = "there is no setting '" + line.key +
            "' (keys: enhance, stereo_width, hpcutoff, amp_max, amp_up, amp_dwn, threshold, tab_sel, "
            "eq_enable, eq, eq_f, enh_multi1, enh_multi2, enh_limiter, loudness_target, target_lufs, "
            "tp_limit, tp_ceiling, band_hold, level_mode, tp_mode)";
    return false;
}

std::vector<std::string> preset_names(const std::string& userFileText) {
    std::vector<std::string> names;
    auto shown = [](const std::string& text) {
        std::string key = preset_key(text);
        // Keep the list's own spelling, only without blanks and brackets.
        size_t a = text.find_first_not_of(" [");
        size_t b = text.find_last_not_of(" ]");
        return a == std::string::npos || key.empty() ? key : text.substr(a, b - a + 1);
    };
    for (const char* record : builtin_eq_presets) names.push_back(shown(record + 56));
    for (const BuiltinMultibandPreset& p : builtin_multiband_presets) names.push_back(shown(p.listText));
    names.push_back("Default");
    for (const OutputStagePreset& p : output_stage_presets) names.push_back(p.name);
    for (const std::string& record : user_eq_records(userFileText)) names.push_back(shown(record.substr(56)));
    return names;
}

bool preset_lines(const std::string& name, const std::string& userFileText,
                  std::vector<SettingLine>& lines, std::string& error) {
    const std::string wanted = preset_key(name);
    for (const char* record : builtin_eq_presets) {
        if (preset_key(record + 56) == wanted) {
            eq_record_lines(record, lines);
            return true;
        }
    }
    for (const BuiltinMultibandPreset& p : builtin_multiband_presets) {
        if (preset_key(p.listText) == wanted) {
            multiband_lines(p.multi1, p.multi2, p.limiter, lines);
            return true;
        }
    }
    // The multiband engine with its default strings.
    if (wanted == "default") {
        multiband_lines(default_enh_multi1, default_enh_multi2, default_enh_limiter, lines);
        return true;
    }
    for (const OutputStagePreset& p : output_stage_presets) {
        if (preset_key(p.name) == wanted) {
            output_preset_lines(p, lines);
            return true;
        }
    }
    for (const std::string& record : user_eq_records(userFileText)) {
        if (preset_key(record.substr(56)) == wanted) {
            eq_record_lines(record, lines);
            return true;
        }
    }
    error = "there is no preset '" + name + "' (presets:";
    for (const std::string& n : preset_names(userFileText)) error += " \"" + n + "\"";
    error += ")";
    return false;
}

std::string effective_settings_path(const std::string& libraryPath) {
    struct stat status;
    const size_t slash = libraryPath.find_last_of('/');
    const std::string folder = slash == std::string::npos ? "." : libraryPath.substr(0, slash);
    const std::string base = slash == std::string::npos ? libraryPath : libraryPath.substr(slash + 1);
    const bool tag = stat((folder + "/" + tag_file_name).c_str(), &status) == 0 && S_ISREG(status.st_mode);
    if (!tag) {
        std::string profile;
        const char* xdg = getenv("XDG_CONFIG_HOME");
        const char* home = getenv("HOME");
        if (xdg != nullptr && xdg[0] == '/')
            profile = xdg;
        else if (home != nullptr && home[0] == '/')
            profile = std::string(home) + "/.config";
        if (!profile.empty()) {
            profile += std::string("/") + profile_folder_name;
            if (stat(profile.c_str(), &status) == 0 && S_ISDIR(status.st_mode))
                return profile + "/" + settings_file_name;
        }
    }
    // Only a library carrying its own name looks for settings beside itself.
    if (lower(base) != library_file_name) return "";
    return folder + "/" + settings_file_name;
}

bool read_text_file(const std::string& path, std::string& text, bool& exists) {
    text.clear();
    exists = false;
    if (path.empty()) return true;
    struct stat status;
    if (stat(path.c_str(), &status) != 0) return true;
    exists = true;
    std::ifstream file(path, std::ios::binary);
    if (!file) return false;
    std::ostringstream content;
    content << file.rdbuf();
    text = content.str();
    return !file.bad();
}

std::vector<std::pair<std::string, std::string>> effective_values(const std::string& text) {
    read_into_block(text);
    return settings_block_values();
}

long long engine_delay_frames(const std::vector<std::pair<std::string, std::string>>& values, int rate,
                              int channels) {
    std::string enhance, multi1, limiter, target, ceiling;
    for (const auto& [key, value] : values) {
        if (key == "enhance") enhance = value;
        if (key == "enh_multi1") multi1 = value;
        if (key == "enh_limiter") limiter = value;
        if (key == "loudness_target") target = value;
        if (key == "tp_limit") ceiling = value;
    }
    if (rate <= 0 || rate > 96000 || channels < 1 || channels > 2) return 0;
    // The output stage's lookahead, while either of its switches is on.
    const long long stageDelay = target == "1" || ceiling == "1" ? outputStageLatency(rate) : 0;
    // Otherwise only mode 2 delays.
    if (enhance != "2") return stageDelay;
    // Each of the two stages (bands, limiter) delays by 10 ms, within the
    // 2000-sample histories.
    long long stage = rate / 100;
    if (stage * channels > 2000) stage = 2000 / channels;
    const int stages = (!multi1.empty() && multi1[0] == 'm') +
                       (!limiter.empty() && (limiter[0] == 'l' || limiter[0] == 'L'));
    return stage * stages + stageDelay;
}

std::string run_settings_text(const std::string& userFileText, const std::vector<SettingLine>& lines) {
    std::string text = userFileText;
    if (text.empty()) {
        text = "[zobrin dsp]\n";
    } else if (text.back() != '\n') {
        // The reader drops the last character of a final line without line
        // end; a line end in its place keeps that reading.
        text.back() = '\n';
    }
    for (const SettingLine& line : lines) text += line.key + "=" + line.value + "\n";
    return text;
}

std::string make_private_plugin_folder(const std::string& libraryPath, const std::string& settingsText,
                                       std::string& libraryCopy, std::string& error) {
    const char* tmp = getenv("TMPDIR");
    std::string pattern = std::string(tmp != nullptr && tmp[0] == '/' ? tmp : "/tmp") + "/dsphost-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (mkdtemp(buffer.data()) == nullptr) {
        error = "cannot create a private settings folder in " + pattern.substr(0, pattern.rfind('/'));
        return "";
    }
    const std::string folder = buffer.data();
    libraryCopy = folder + "/" + library_file_name;
    std::string library;
    bool exists = false;
    if (!read_text_file(libraryPath, library, exists) || !exists) {
        error = "cannot read the plug-in library " + libraryPath;
    } else if (!write_text_file(libraryCopy, library) ||
               !write_text_file(folder + "/" + tag_file_name, "") ||
               !write_text_file(folder + "/" + settings_file_name, settingsText)) {
        error = "cannot write the private settings folder " + folder;
    } else {
        return folder;
    }
    remove_private_plugin_folder(folder);
    return "";
}

void remove_private_plugin_folder(const std::string& folder) {
    if (folder.empty()) return;
    for (const char* name : {library_file_name, tag_file_name, settings_file_name})
        unlink((folder + "/" + name).c_str());
    rmdir(folder.c_str());
}
