// The settings file and its location rules.
#pragma once

#include <cstdio>

int local_tag_file(int mode);  // 0 check, 1 create first, 2 delete first
int dll_folder_ini_path(char* buffer, int size);
int profile_ini_path(char* buffer, int create);  // buffer of 1000 characters
// Reads the settings file at path into the block, line by line (at most 999
// characters at a time), over what the block holds; a file that cannot be
// opened changes nothing. settings_read_lines reads an open stream the same way.
void settings_read_file(const char* path);
void settings_read_lines(FILE* file);
// Finds the settings file by the location rules and reads it.
void settings_load();
void settings_save();
