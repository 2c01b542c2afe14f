// The built-in presets as port codes: the nine Enhancer presets, the standard
// multiband strings, the nine multiband presets and the output stage's three. The Turtle generator
// writes them as LV2 presets and the plug-in UI applies them through the
// host, so both set exactly the same ports.
#pragma once

#include <cstdint>

#include "ports/port_table.h"

namespace ports {

enum class PresetKind : uint8_t { Enhancer, Multiband, Output };

struct BuiltinPreset {
    PresetKind kind;
    char name[64];                // the list name without brackets, e.g. "AC Radio"
    int32_t codes[controlCount];  // clamped to each control's codes
    bool set[controlCount];       // the controls the preset sets
};

constexpr int builtinPresetCount = 22;
// Preset 0..21 (Enhancer presets first, then "Standard" and the multiband
// list, then the output stage's). Returns false for an index out of range or a record that is too short.
bool builtinPreset(int index, BuiltinPreset& out);

}  // namespace ports
