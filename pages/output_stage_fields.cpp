#include "pages/output_stage_fields.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

void format_tenths_below_zero(int tenths, char* out, int size) {
    snprintf(out, static_cast<size_t>(size), "%s%d.%d", tenths > 0 ? "-" : "", tenths / 10, tenths % 10);
}

bool parse_tenths_below_zero(const char* text, int low, int high, int* tenths) {
    if (text == nullptr) return false;
    while (*text == ' ') ++text;
    if (*text == '-') ++text;
    if (*text < '0' || *text > '9') return false;
    char* end = nullptr;
    const double value = strtod(text, &end);
    while (*end == ' ') ++end;
    if (*end != '\0' || !std::isfinite(value)) return false;
    const long rounded = std::lround(value * 10.0);
    if (rounded < low || rounded > high) return false;
    *tenths = static_cast<int>(rounded);
    return true;
}
