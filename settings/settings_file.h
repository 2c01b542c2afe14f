// The settings file and its location rules.
#pragma once

int local_tag_file(int mode);  // 0 check, 1 create first, 2 delete first
int dll_folder_ini_path(char* buffer, int size);
int profile_ini_path(char* buffer, int create);  // buffer of 1000 characters
void settings_load();
void settings_save();
