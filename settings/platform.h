// The few platform services the settings file needs, implemented once for
// Win32 and once for POSIX. Paths use the platform's own separator.
#pragma once

#include <cstdio>

#if defined(_WIN32)
constexpr char path_separator = '\\';
constexpr const char* module_file_name = "dsp_redozer.dll";
#else
constexpr char path_separator = '/';
constexpr const char* module_file_name = "dsp_redozer.so";
#endif

// Full path of the loaded module named module_file_name (compared without
// regard to case), or of the host executable when no module of that name is
// loaded. Returns the length written; 0 on failure or when the whole path does
// not fit into size - 1 characters (a cut path would name another folder).
int platform_module_path(char* buffer, int size);

// The per-user roaming configuration folder (Win32: CSIDL_APPDATA; POSIX:
// $XDG_CONFIG_HOME when absolute, else $HOME/.config when $HOME is absolute).
// Returns 1, or 0 when there is none or it does not fit into the buffer.
int platform_user_config_folder(char* buffer, int size);

// 1 when path names an existing folder. Never changes the current directory.
int platform_folder_exists(const char* path);
// Creates one folder (its parent must exist). Returns 1 on success.
int platform_create_folder(const char* path);

// Tag-file operations: create a new empty file (no-op when it exists), test for
// an existing file, delete a file. Each returns 1 on success.
int platform_create_new_file(const char* path);
int platform_file_exists(const char* path);
int platform_delete_file(const char* path);

// Pushes what was written to file down to the disk. Returns 1 on success.
int platform_flush_file(FILE* file);

// Replaces target by source atomically where the platform allows: afterwards
// target holds either its old or its new content, never a mix. Returns 1 or 0;
// on failure source is left in place for the caller to remove.
int platform_replace_file(const char* source, const char* target);

#if !defined(_WIN32)
// Tests only: pretend the library's code lives in the given file (nullptr
// restores the real lookup). The name rule of platform_module_path still runs.
void platform_set_own_module_file_for_tests(const char* path);
#endif
