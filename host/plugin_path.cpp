#include "host/plugin_path.h"

#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

static bool is_file(const fs::path& path) {
    std::error_code ec;
    return fs::is_regular_file(path, ec);
}

std::string plugin_path_for(const std::string& exe_path, const std::string& library_name) {
    fs::path exe(exe_path);
    if (!exe.has_parent_path()) return library_name;
    fs::path beside = exe.parent_path() / library_name;
    if (is_file(beside)) return beside.string();
    // bin/dsphost -> lib/dsp_redozer/LIBRARY (the project's own library folder:
    // the plug-in is loaded, never linked against, so it stays off the
    // system's library path).
    fs::path installed = (exe.parent_path() / ".." / "lib" / "dsp_redozer" / library_name).lexically_normal();
    if (is_file(installed)) return installed.string();
    return beside.string();
}
