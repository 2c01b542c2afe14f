// Settings file. Stub until the settings-file work lands.
#include "settings/settings_file.h"

int local_tag_file(int) { return 0; }
int dll_folder_ini_path(char*, int) { return 0; }
int profile_ini_path(char*, int) { return 0; }
void settings_load() {}
void settings_save() {}
