// LADSPA range hints from the port table. LADSPA can state a default only as
// one of a few points (the bounds, 25/50/75 % of the range, 0, 1, 100, 440),
// and hosts such as Liquidsoap give every port they are not told about that
// point. So that the plug-in at the hosts' defaults is the plug-in at its real
// defaults, a port whose default is none of those points within its range
// gets a LADSPA range widened on one side, as little as it takes, until 25, 50
// or 75 % of it is the default; the plug-in treats a value beyond the real
// range as the nearest end of it (codeOfValue), so the widened stretch adds no
// setting. Integer ports keep whole bounds and an exact default.
#pragma once

#include <ladspa.h>

#include "ports/port_table.h"

namespace ports {

LADSPA_PortRangeHint ladspaHint(const ControlInfo& info);
// The value a host takes for a hint's default (what the hint stands for).
double ladspaDefaultValue(const LADSPA_PortRangeHint& hint);
// The same in single precision, as hosts that compute in LADSPA_Data do.
float ladspaDefaultValueFloat(const LADSPA_PortRangeHint& hint);

}  // namespace ports
