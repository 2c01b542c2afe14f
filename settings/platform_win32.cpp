// Win32 side of the platform layer: the module by its name, the roaming
// application-data folder of the shell, and plain file services.
#include <windows.h>
#include <io.h>
#include <shlobj.h>

#include <cstring>

#include "settings/platform.h"

int platform_module_path(char* buffer, int size) {
    if (buffer == nullptr || size <= 1) return 0;
    // A null handle (no module of that name) yields the host executable.
    HMODULE module = GetModuleHandleA(module_file_name);
    DWORD n = GetModuleFileNameA(module, buffer, static_cast<DWORD>(size));
    // n == size: the path was cut (and older systems leave it unterminated).
    if (n == 0 || n >= static_cast<DWORD>(size)) {
        buffer[0] = '\0';
        return 0;
    }
    buffer[n] = '\0';
    return static_cast<int>(n);
}

int platform_user_config_folder(char* buffer, int size) {
    if (buffer == nullptr || size <= 0) return 0;
    LPITEMIDLIST list = nullptr;
    if (SHGetSpecialFolderLocation(nullptr, CSIDL_APPDATA, &list) != S_OK || list == nullptr)
        return 0;
    char path[MAX_PATH + 1] = {};
    BOOL found = SHGetPathFromIDListA(list, path);
    CoTaskMemFree(list);
    if (!found) return 0;
    size_t n = strlen(path);
    if (n == 0 || n >= static_cast<size_t>(size)) return 0;
    memcpy(buffer, path, n + 1);
    return 1;
}

int platform_folder_exists(const char* path) {
    // An attribute query instead of changing the current directory: the
    // host's current directory is none of the plug-in's business.
    DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) ? 1 : 0;
}

int platform_create_folder(const char* path) { return CreateDirectoryA(path, nullptr) ? 1 : 0; }

int platform_create_new_file(const char* path) {
    HANDLE file = CreateFileA(path, 0, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 0;
    CloseHandle(file);
    return 1;
}

int platform_file_exists(const char* path) {
    HANDLE file = CreateFileA(path, 0, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 0;
    CloseHandle(file);
    return 1;
}

int platform_delete_file(const char* path) { return DeleteFileA(path) ? 1 : 0; }

int platform_flush_file(FILE* file) {
    if (fflush(file) != 0) return 0;
    return _commit(_fileno(file)) == 0 ? 1 : 0;
}

int platform_replace_file(const char* source, const char* target) {
    return MoveFileExA(source, target, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) ? 1 : 0;
}
