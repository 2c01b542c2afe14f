// Settings for one run of dsphost: --set, --preset and --mode become extra
// lines of a private settings file that the plug-in reads by its own rules,
// from a private copy of the library with the tag file beside it. The user's
// own settings file is only read.
#pragma once

#include <string>
#include <utility>
#include <vector>

// One override in command-line order: a key and the text that follows "=".
struct SettingLine {
    std::string key;
    std::string value;
};

// Checks a KEY=VALUE argument and turns it into the exact line the plug-in's
// reader takes (numbers in range, band values zero-padded, strings that fit
// their field). On failure returns false with a message.
bool parse_set_argument(const std::string& argument, SettingLine& line, std::string& error);

// The lines that a built-in (or the user's own) preset stands for, found by
// its list name without brackets and leading blanks, case-insensitively.
// userFileText is the effective settings file (its enh_eq_set records count).
bool preset_lines(const std::string& name, const std::string& userFileText,
                  std::vector<SettingLine>& lines, std::string& error);

// Every preset name that --preset accepts, for the help text and messages.
std::vector<std::string> preset_names(const std::string& userFileText);

// The settings file the plug-in at libraryPath would read ("" when none could
// be used), following its location rules: the tag file beside the library
// forces the library's folder; otherwise an existing profile sub-folder wins.
std::string effective_settings_path(const std::string& libraryPath);

// The values of dsphost's own copy of the settings block, as key/value pairs
// in the file's order of keys.
std::vector<std::pair<std::string, std::string>> settings_block_values();

// Writes a whole file (binary); false on any failure.
bool write_text_file(const std::string& path, const std::string& text);

// Reads a whole file; false when it cannot be read (a missing file is empty).
bool read_text_file(const std::string& path, std::string& text, bool& exists);

// The values the plug-in ends up with after reading text, as key/value pairs
// in the file's order of keys (defaults where the text has none). Read by the
// plug-in's own reader into dsphost's copy of the settings block (the core
// library's, not the loaded plug-in's), which this and the preset functions
// overwrite: call them from one thread.
std::vector<std::pair<std::string, std::string>> effective_values(const std::string& text);

// The extra delay, in frames, that the engine puts between input and output
// with these settings (values from effective_values) at this format.
long long engine_delay_frames(const std::vector<std::pair<std::string, std::string>>& values,
                              int rate, int channels);

// The settings text of the run: the user's text, closed so that its last
// line reads as before, followed by the override lines.
std::string run_settings_text(const std::string& userFileText, const std::vector<SettingLine>& lines);

// A private folder holding a copy of the library, the tag file and the run's
// settings file. Returns the folder ("" on failure, with a message).
std::string make_private_plugin_folder(const std::string& libraryPath, const std::string& settingsText,
                                       std::string& libraryCopy, std::string& error);
// Removes what make_private_plugin_folder made.
void remove_private_plugin_folder(const std::string& folder);
