// Loads a DSP plug-in library and hands out its module 0, as the player does.
#pragma once

#include <string>

#include "plugin/dsp_interface.h"

struct LoadedPlugin {
    void* library = nullptr;
    DspHeader* header = nullptr;
    DspModule* module = nullptr;
#if !defined(_WIN32)
    // The library's float entry, if it has one (dsp_interface.h); null otherwise.
    DspModifyFloatFunction modifyFloat = nullptr;
    // Its programme loudness entry (dsp_interface.h), if it has one.
    DspProgrammeFunction programme = nullptr;
    DspMeasuringFunction measuring = nullptr;
#endif
};

// The plug-in library beside the running executable, or in the installed
// layout's library folder (see plugin_path.h).
std::string default_plugin_path();

// Loads the library, checks that it is a DSP plug-in of header version 0x20
// and fills the module's two handles. On failure returns false with a message.
bool load_plugin(const std::string& path, LoadedPlugin& plugin, std::string& error);
void unload_plugin(LoadedPlugin& plugin);
