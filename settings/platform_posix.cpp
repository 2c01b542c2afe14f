// POSIX side of the platform layer: the library finds itself through dladdr,
// the per-user folder is the XDG configuration folder.
#include <dlfcn.h>
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "settings/platform.h"

static const char* own_module_override = nullptr;
static char own_module_override_text[4096];

void platform_set_own_module_file_for_tests(const char* path) {
    if (path == nullptr || strlen(path) >= sizeof own_module_override_text) {
        own_module_override = nullptr;
        return;
    }
    strcpy(own_module_override_text, path);
    own_module_override = own_module_override_text;
}

// Copies text into buffer when it fits whole; returns its length or 0.
static int copy_whole(char* buffer, int size, const char* text) {
    size_t n = strlen(text);
    if (size <= 0 || n == 0 || n >= static_cast<size_t>(size)) return 0;
    memcpy(buffer, text, n + 1);
    return static_cast<int>(n);
}

static const char* base_name(const char* path) {
    const char* slash = strrchr(path, '/');
    return slash != nullptr ? slash + 1 : path;
}

// The executable of the process, as the kernel knows it.
static int executable_path(char* buffer, int size) {
    if (size <= 1) return 0;
    ssize_t n = readlink("/proc/self/exe", buffer, static_cast<size_t>(size));
    if (n <= 0 || n >= size) return 0;  // n == size means the path was cut
    buffer[n] = '\0';
    return static_cast<int>(n);
}

int platform_module_path(char* buffer, int size) {
    if (buffer == nullptr || size <= 1) return 0;
    const char* own = own_module_override;
    Dl_info info{};
    if (own == nullptr) {
        if (dladdr(reinterpret_cast<void*>(&platform_module_path), &info) != 0)
            own = info.dli_fname;
    }
    // As on Windows, only a module carrying the library's own name counts;
    // otherwise the host executable stands in.
    if (own == nullptr || own[0] == '\0' || strcasecmp(base_name(own), module_file_name) != 0)
        return executable_path(buffer, size);
    if (own[0] == '/') return copy_whole(buffer, size, own);

    // A library opened by a relative name: anchor it at the current folder.
    char folder[4096];
    if (getcwd(folder, sizeof folder) == nullptr) return 0;
    size_t folder_length = strlen(folder);
    size_t own_length = strlen(own);
    if (folder_length + 1 + own_length >= static_cast<size_t>(size)) return 0;
    memcpy(buffer, folder, folder_length);
    buffer[folder_length] = '/';
    memcpy(buffer + folder_length + 1, own, own_length + 1);
    return static_cast<int>(folder_length + 1 + own_length);
}

int platform_user_config_folder(char* buffer, int size) {
    const char* xdg = getenv("XDG_CONFIG_HOME");
    if (xdg != nullptr && xdg[0] == '/') return copy_whole(buffer, size, xdg) > 0 ? 1 : 0;
    const char* home = getenv("HOME");
    if (home == nullptr || home[0] != '/') return 0;
    size_t n = strlen(home);
    const char* tail = "/.config";
    if (size <= 0 || n + strlen(tail) >= static_cast<size_t>(size)) return 0;
    memcpy(buffer, home, n);
    strcpy(buffer + n, tail);
    return 1;
}

int platform_folder_exists(const char* path) {
    struct stat status;
    return stat(path, &status) == 0 && S_ISDIR(status.st_mode) ? 1 : 0;
}

int platform_create_folder(const char* path) { return mkdir(path, 0755) == 0 ? 1 : 0; }

int platform_create_new_file(const char* path) {
    int fd = open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) return 0;
    close(fd);
    return 1;
}

int platform_file_exists(const char* path) {
    struct stat status;
    return stat(path, &status) == 0 && S_ISREG(status.st_mode) ? 1 : 0;
}

int platform_delete_file(const char* path) { return unlink(path) == 0 ? 1 : 0; }

int platform_flush_file(FILE* file) {
    if (fflush(file) != 0) return 0;
    return fsync(fileno(file)) == 0 ? 1 : 0;
}

int platform_replace_file(const char* source, const char* target) {
    return rename(source, target) == 0 ? 1 : 0;
}
