// LADSPA range hints from the port table.
#include "ports/ladspa_hints.h"

#include <cmath>

namespace ports {

double ladspaDefaultValue(const LADSPA_PortRangeHint& hint) {
    const double lo = hint.LowerBound;
    const double hi = hint.UpperBound;
    switch (hint.HintDescriptor & LADSPA_HINT_DEFAULT_MASK) {
    case LADSPA_HINT_DEFAULT_MINIMUM: return lo;
    case LADSPA_HINT_DEFAULT_LOW: return 0.75 * lo + 0.25 * hi;
    case LADSPA_HINT_DEFAULT_MIDDLE: return 0.5 * lo + 0.5 * hi;
    case LADSPA_HINT_DEFAULT_HIGH: return 0.25 * lo + 0.75 * hi;
    case LADSPA_HINT_DEFAULT_MAXIMUM: return hi;
    case LADSPA_HINT_DEFAULT_0: return 0.0;
    case LADSPA_HINT_DEFAULT_1: return 1.0;
    case LADSPA_HINT_DEFAULT_100: return 100.0;
    case LADSPA_HINT_DEFAULT_440: return 440.0;
    default: return 0.0;
    }
}

LADSPA_PortRangeHint ladspaHint(const ControlInfo& info) {
    LADSPA_PortRangeHint hint;
    hint.LowerBound = static_cast<LADSPA_Data>(minimumValue(info));
    hint.UpperBound = static_cast<LADSPA_Data>(maximumValue(info));
    if (info.flags & flagToggle) {
        hint.HintDescriptor =
            LADSPA_HINT_TOGGLED | (info.defaultCode != 0 ? LADSPA_HINT_DEFAULT_1 : LADSPA_HINT_DEFAULT_0);
        return hint;
    }
    LADSPA_PortRangeHintDescriptor base = LADSPA_HINT_BOUNDED_BELOW | LADSPA_HINT_BOUNDED_ABOVE;
    if (info.flags & flagInteger) base |= LADSPA_HINT_INTEGER;

    constexpr LADSPA_PortRangeHintDescriptor candidates[] = {
        LADSPA_HINT_DEFAULT_0,   LADSPA_HINT_DEFAULT_1,       LADSPA_HINT_DEFAULT_100,
        LADSPA_HINT_DEFAULT_440, LADSPA_HINT_DEFAULT_MINIMUM, LADSPA_HINT_DEFAULT_LOW,
        LADSPA_HINT_DEFAULT_MIDDLE, LADSPA_HINT_DEFAULT_HIGH, LADSPA_HINT_DEFAULT_MAXIMUM,
    };
    const double target = defaultValue(info);
    LADSPA_PortRangeHintDescriptor best = LADSPA_HINT_DEFAULT_MIDDLE;
    double bestDistance = INFINITY;
    for (LADSPA_PortRangeHintDescriptor candidate : candidates) {
        hint.HintDescriptor = base | candidate;
        const double v = ladspaDefaultValue(hint);
        if (v < hint.LowerBound || v > hint.UpperBound) continue;
        // A point that gives the default code wins; otherwise the nearest.
        const double distance =
            codeOfValue(info, v) == info.defaultCode ? -1.0 : std::fabs(v - target);
        if (distance < bestDistance) {
            bestDistance = distance;
            best = candidate;
        }
    }
    hint.HintDescriptor = base | best;
    return hint;
}

}  // namespace ports
