// The user's own presets: LV2 presets in bundles under $HOME/.lv2/, one
// bundle per preset (redozer-NAME.lv2 holding manifest.ttl and preset.ttl),
// so that hosts list them beside the built-in ones. Runs on the UI thread
// only (file I/O); every failure leaves a message for the UI to show.
#pragma once

#include <cstdint>

#include "ports/port_table.h"

namespace lv2ui {

constexpr int userPresetNameSize = 48;   // bytes of a name, with its terminator
constexpr int maxUserPresets = 64;       // presets the UI lists

struct UserPresetName {
    char text[userPresetNameSize];
};

struct UserPresetList {
    UserPresetName names[maxUserPresets];
    int count;
};

// A name is 1..47 characters of letters, digits, space, '-', '_' and '.',
// neither starting with a space or '.' nor ending with a space.
bool validPresetName(const char* name);

// The presets applying to the plug-in `uri` found in home's .lv2 folder,
// sorted by name. An unreadable folder gives an empty list.
void listUserPresets(const char* home, const char* uri, UserPresetList& out);

// Writes the preset `name` (replacing one of the same name) with every
// control's value. Returns false with a message when the name is not valid
// or the files cannot be written.
bool saveUserPreset(const char* home, const char* uri, const char* name,
                    const int32_t codes[ports::controlCount], char* message, int size);

// Reads the preset `name` back into codes (controls it does not name keep
// their codes). Returns false with a message when it cannot be read.
bool readUserPreset(const char* home, const char* name, int32_t codes[ports::controlCount],
                    char* message, int size);

// Removes the preset's two files and its folder.
bool deleteUserPreset(const char* home, const char* name, char* message, int size);

}  // namespace lv2ui
