// The OBS filter's settings, generated from the port table: one property per
// control (range, default, unit suffix, help as tooltip) in a group per page,
// the built-in presets in a list, and the settings read back as port values.
#pragma once

#include <obs-module.h>

namespace obsfilter {

// The settings key of the preset list (never stored with a preset chosen:
// choosing one writes its settings and puts the list back to its prompt).
constexpr const char* presetKey = "preset";

enum class Page : int { Enhancer1, Enhancer2, Limiter, OutputStage, count };
// The page a control belongs to: as the plug-in pages group them; a control
// no other page shows belongs to the output stage's.
Page pageOf(int control);
// False for the controls OBS leaves out (those that only serve the read-outs).
bool shownInObs(int control);
const char* pageName(Page page);

void setDefaults(obs_data_t* settings);
// `rate` and `channels` are OBS's, for the delay the filter adds.
obs_properties_t* buildProperties(int rate, int channels);
// A control's port value from the settings.
double settingValue(obs_data_t* settings, int control);
// Writes the controls a built-in preset sets; false for an index out of range.
bool applyPreset(obs_data_t* settings, int index);

}  // namespace obsfilter
