// POSIX side of the platform layer. Stub until the settings-file work lands.
#include "settings/platform.h"

int platform_module_path(char*, int) { return 0; }
int platform_user_config_folder(char*, int) { return 0; }
int platform_folder_exists(const char*) { return 0; }
int platform_create_folder(const char*) { return 0; }
int platform_create_new_file(const char*) { return 0; }
int platform_file_exists(const char*) { return 0; }
int platform_delete_file(const char*) { return 0; }
int platform_replace_file(const char*, const char*) { return 0; }
