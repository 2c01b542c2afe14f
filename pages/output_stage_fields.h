// The Misc page's output stage fields without a window system: the settings'
// tenths below 0 (target_lufs, tp_ceiling) as the page shows them, and what
// a user types back.
#pragma once

// "-16.0" for 160, "0.0" for 0; out holds at least 8 characters.
void format_tenths_below_zero(int tenths, char* out, int size);
// Reads a level below 0 such as "-16", "-16.5" or "16" (the sign may be left
// out: the levels are all below 0), rounded to tenths. False, leaving
// *tenths alone, for anything that is not such a number or lies outside
// low..high tenths.
bool parse_tenths_below_zero(const char* text, int low, int high, int* tenths);
