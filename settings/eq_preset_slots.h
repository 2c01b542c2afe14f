// The Enhancer preset slots (settings.eq_preset_slots) and the records they
// hold: 56 characters of numbers, then the name. The settings file fills the
// slots, the Enhancer 1 page lists, applies, adds and deletes them; both call
// these routines, which depend on nothing but the settings block itself.
#pragma once

constexpr int eqPresetNameOffset = 56;  // the name follows the 56-character numeric prefix
int eq_preset_record_valid(const char* record);
void apply_eq_preset_record(const char* record);
// Formats a record of the current settings and the name into out (size bytes).
void format_eq_preset_record(char* out, int size, const char* name);
int first_empty_eq_preset_slot();
// Deletes a user record: releases it, moves later slots down. Returns 1 on success.
int delete_eq_preset_slot(int slot);
