// LADSPA range hints from the port table.
#include "ports/ladspa_hints.h"

#include <cmath>
#include <initializer_list>

namespace ports {

namespace {

// The fraction of the range at which a range point sits; < 0 for the points
// that do not depend on the range.
double pointWeight(LADSPA_PortRangeHintDescriptor point) {
    switch (point) {
    case LADSPA_HINT_DEFAULT_MINIMUM: return 0.0;
    case LADSPA_HINT_DEFAULT_LOW: return 0.25;
    case LADSPA_HINT_DEFAULT_MIDDLE: return 0.5;
    case LADSPA_HINT_DEFAULT_HIGH: return 0.75;
    case LADSPA_HINT_DEFAULT_MAXIMUM: return 1.0;
    default: return -1.0;
    }
}

// The hint's default gives the default code whether the host works in double
// or in single precision; an integer port's default must be exact.
bool landsOnDefault(const ControlInfo& info, const LADSPA_PortRangeHint& hint) {
    const double d = ladspaDefaultValue(hint);
    const float f = ladspaDefaultValueFloat(hint);
    if (d < hint.LowerBound || d > hint.UpperBound) return false;
    if ((info.flags & flagInteger) && (d != defaultValue(info) || f != d)) return false;
    return codeOfValue(info, d) == info.defaultCode && codeOfValue(info, f) == info.defaultCode;
}

// The range [lo, hi] widened so that the point at `w` of it is the default:
// keep one end, move the other out; an integer port moves the kept end out by
// up to two more steps until the other end is whole. False when the point
// cannot get there by widening.
bool widened(const ControlInfo& info, double w, bool keepLower, double& lo, double& hi) {
    const double d = defaultValue(info);
    const bool integer = (info.flags & flagInteger) != 0;
    for (int step = 0; step < (integer ? 3 : 1); ++step) {
        if (keepLower) {
            const double l = lo - step;
            const double h = l + (d - l) / w;
            if (h < hi || (integer && h != std::floor(h))) continue;
            lo = l;
            hi = h;
            return true;
        }
        const double h = hi + step;
        const double l = h - (h - d) / (1.0 - w);
        if (l > lo || (integer && l != std::floor(l))) continue;
        lo = l;
        hi = h;
        return true;
    }
    return false;
}

}  // namespace

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

float ladspaDefaultValueFloat(const LADSPA_PortRangeHint& hint) {
    const float lo = hint.LowerBound;
    const float hi = hint.UpperBound;
    switch (hint.HintDescriptor & LADSPA_HINT_DEFAULT_MASK) {
    case LADSPA_HINT_DEFAULT_LOW: return 0.75f * lo + 0.25f * hi;
    case LADSPA_HINT_DEFAULT_MIDDLE: return 0.5f * lo + 0.5f * hi;
    case LADSPA_HINT_DEFAULT_HIGH: return 0.25f * lo + 0.75f * hi;
    default: return static_cast<float>(ladspaDefaultValue(hint));
    }
}

LADSPA_PortRangeHint ladspaHint(const ControlInfo& info) {
    LADSPA_PortRangeHint hint;
    const double lo = minimumValue(info);
    const double hi = maximumValue(info);
    hint.LowerBound = static_cast<LADSPA_Data>(lo);
    hint.UpperBound = static_cast<LADSPA_Data>(hi);
    if (info.flags & flagToggle) {
        hint.HintDescriptor =
            LADSPA_HINT_TOGGLED | (info.defaultCode != 0 ? LADSPA_HINT_DEFAULT_1 : LADSPA_HINT_DEFAULT_0);
        return hint;
    }
    LADSPA_PortRangeHintDescriptor base = LADSPA_HINT_BOUNDED_BELOW | LADSPA_HINT_BOUNDED_ABOVE;
    if (info.flags & flagInteger) base |= LADSPA_HINT_INTEGER;

    // A point that needs no widening: a bound or a fixed value.
    for (LADSPA_PortRangeHintDescriptor point :
         {LADSPA_HINT_DEFAULT_MINIMUM, LADSPA_HINT_DEFAULT_MAXIMUM, LADSPA_HINT_DEFAULT_0,
          LADSPA_HINT_DEFAULT_1, LADSPA_HINT_DEFAULT_100, LADSPA_HINT_DEFAULT_440,
          LADSPA_HINT_DEFAULT_LOW, LADSPA_HINT_DEFAULT_MIDDLE, LADSPA_HINT_DEFAULT_HIGH}) {
        hint.HintDescriptor = base | point;
        if (landsOnDefault(info, hint)) return hint;
    }

    // Otherwise the range point whose range needs the least widening.
    LADSPA_PortRangeHint best = {base | LADSPA_HINT_DEFAULT_MIDDLE, hint.LowerBound,
                                 hint.UpperBound};
    double bestWidth = INFINITY;
    for (LADSPA_PortRangeHintDescriptor point :
         {LADSPA_HINT_DEFAULT_LOW, LADSPA_HINT_DEFAULT_MIDDLE, LADSPA_HINT_DEFAULT_HIGH}) {
        for (bool keepLower : {true, false}) {
            double l = lo, h = hi;
            if (!widened(info, pointWeight(point), keepLower, l, h)) continue;
            const LADSPA_PortRangeHint candidate = {base | point, static_cast<LADSPA_Data>(l),
                                                    static_cast<LADSPA_Data>(h)};
            if (h - l < bestWidth && landsOnDefault(info, candidate)) {
                bestWidth = h - l;
                best = candidate;
            }
        }
    }
    return best;
}

}  // namespace ports
