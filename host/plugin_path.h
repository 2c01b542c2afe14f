// Where dsphost finds the plug-in library when none is named on its command line.
#pragma once

#include <string>

// The library for a dsphost whose own file is exe_path: the file library_name
// beside it (the build folder, the Windows zip) when that exists, otherwise
// the installed layout's copy in lib/dsp_redozer/ beside dsphost's bin/ folder
// when that exists. With neither, the path beside dsphost, so that the load
// error names the place searched first.
std::string plugin_path_for(const std::string& exe_path, const std::string& library_name);
