#include "host/plugin_loader.h"
#include "host/plugin_path.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#include <unistd.h>

#include <climits>
#endif

#if defined(_WIN32)
static constexpr const char* library_name = "dsp_redozer.dll";
#else
static constexpr const char* library_name = "dsp_redozer.so";
#endif

std::string default_plugin_path() {
    std::string exe;
#if defined(_WIN32)
    char buffer[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, buffer, MAX_PATH);
    if (n > 0 && n < MAX_PATH) exe.assign(buffer, n);
    const char* separators = "\\/";
#else
    char buffer[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n > 0) exe.assign(buffer, static_cast<size_t>(n));
    const char* separators = "/";
#endif
    size_t slash = exe.find_last_of(separators);
    if (slash == std::string::npos) return library_name;
    return plugin_path_for(exe, library_name);
}

static void* open_library(const std::string& path, std::string& error) {
#if defined(_WIN32)
    HMODULE module = LoadLibraryA(path.c_str());
    if (module == nullptr) error = "cannot load " + path + " (error " + std::to_string(GetLastError()) + ")";
    return reinterpret_cast<void*>(module);
#else
    // A relative name without a slash would be searched on the library path.
    std::string name = path.find('/') == std::string::npos ? "./" + path : path;
    void* handle = dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) error = dlerror();
    return handle;
#endif
}

static void* find_symbol(void* library, const char* name) {
#if defined(_WIN32)
    return reinterpret_cast<void*>(GetProcAddress(reinterpret_cast<HMODULE>(library), name));
#else
    return dlsym(library, name);
#endif
}

static void close_library(void* library) {
#if defined(_WIN32)
    FreeLibrary(reinterpret_cast<HMODULE>(library));
#else
    dlclose(library);
#endif
}

bool load_plugin(const std::string& path, LoadedPlugin& plugin, std::string& error) {
    plugin = LoadedPlugin{};
    void* library = open_library(path, error);
    if (library == nullptr) return false;

    auto get_header = reinterpret_cast<DspGetHeaderFunction>(find_symbol(library, "winampDSPGetHeader2"));
    DspHeader* header = get_header ? get_header() : nullptr;
    DspModule* module = nullptr;
    if (get_header == nullptr) {
        error = path + " is not a DSP plug-in: it does not export winampDSPGetHeader2";
    } else if (header == nullptr) {
        error = path + " is not a DSP plug-in: winampDSPGetHeader2 returned no header";
    } else if (header->version != dspHeaderVersion) {
        error = path + " has DSP header version " + std::to_string(header->version) +
                ", expected " + std::to_string(dspHeaderVersion);
    } else if (header->getModule == nullptr || (module = header->getModule(0)) == nullptr) {
        error = path + " is not a DSP plug-in: it offers no module 0";
    } else if (module->Init == nullptr || module->ModifySamples == nullptr || module->Quit == nullptr) {
        error = path + " is not a DSP plug-in: module 0 lacks a callback";
        module = nullptr;
    }
    if (module == nullptr) {
        close_library(library);
        return false;
    }
    module->hwndParent = nullptr;
    module->hDllInstance = reinterpret_cast<DspInstance>(library);
    plugin.library = library;
    plugin.header = header;
    plugin.module = module;
#if !defined(_WIN32)
    plugin.modifyFloat = reinterpret_cast<DspModifyFloatFunction>(find_symbol(library, dspModifyFloatSymbol));
    plugin.programme = reinterpret_cast<DspProgrammeFunction>(find_symbol(library, dspProgrammeSymbol));
    plugin.measuring = reinterpret_cast<DspMeasuringFunction>(find_symbol(library, dspMeasuringSymbol));
#endif
    return true;
}

void unload_plugin(LoadedPlugin& plugin) {
    if (plugin.library != nullptr) close_library(plugin.library);
    plugin = LoadedPlugin{};
}
