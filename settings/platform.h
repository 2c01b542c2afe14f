// The few platform services the settings file needs, implemented once for
// Win32 and once for POSIX. Paths use the platform's own separator.
#pragma once

#if defined(_WIN32)
constexpr char path_separator = '\\';
constexpr const char* module_file_name = "dsp_redozer.dll";
#else
constexpr char path_separator = '/';
constexpr const char* module_file_name = "dsp_redozer.so";
#endif

// Full path of the module file named module_file_name among the loaded modules,
// or of the host executable when no module of that name is loaded. Returns the
// length written (at most size - 1), 0 on failure.
int platform_module_path(char* buffer, int size);

// The per-user roaming configuration folder (Win32: CSIDL_APPDATA; POSIX:
// $XDG_CONFIG_HOME when absolute, else $HOME/.config). Returns 1 or 0.
int platform_user_config_folder(char* buffer, int size);

int platform_folder_exists(const char* path);
int platform_create_folder(const char* path);

// Tag-file operations: create a new empty file (no-op when it exists), test for
// an existing file, delete a file. Each returns 1 on success.
int platform_create_new_file(const char* path);
int platform_file_exists(const char* path);
int platform_delete_file(const char* path);

// Replaces target by source atomically where the platform allows. Returns 1 or 0.
int platform_replace_file(const char* source, const char* target);
