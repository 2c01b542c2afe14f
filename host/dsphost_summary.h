// dsphost's results: the per-file summary lines and, when asked, the loudness
// table, the JSON report and the picture.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "host/dsphost_options.h"
#include "host/dsphost_stream.h"
#include "host/run_settings.h"

// One line per file (frames, peaks, full-scale count, any conversion) and
// the delay note.
void print_summary(const Run& run, const Options& options, long long engineDelay);

// A warning on stderr for each lossy output that still decodes over the
// true-peak ceiling asked for after the last try.
void warn_over_ceiling(const Run& run);

// The loudness table, report and picture of a metered run; returns the exit
// status (1 when a file could not be written).
int write_measurements(Run& run, const Options& options,
                       const std::vector<std::pair<std::string, std::string>>& values,
                       const std::vector<SettingLine>& lines);
