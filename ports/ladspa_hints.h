// LADSPA range hints from the port table. LADSPA can state a default only as
// one of a few fixed points (the bounds, 25/50/75 % of the range, 0, 1, 100,
// 440): the hint names the one that maps to the default code, or else the one
// nearest to the default value. The README lists the true defaults.
#pragma once

#include <ladspa.h>

#include "ports/port_table.h"

namespace ports {

LADSPA_PortRangeHint ladspaHint(const ControlInfo& info);
// The value a host takes for a hint's default (what the hint stands for).
double ladspaDefaultValue(const LADSPA_PortRangeHint& hint);

}  // namespace ports
