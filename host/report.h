// The loudness report of a run: an aligned table for the terminal and JSON
// for scripts.
#pragma once

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "host/loudness.h"

struct FileReport {
    std::string input, output;
    long long frames = 0;
    LoudnessFigures before, after;
};

struct RunReport {
    std::vector<FileReport> files;
    int rate = 0, channels = 0;
    long long delayFrames = 0;
    bool dither = true;
    bool twoPass = false;  // each input's loudness measured first and told to the leveller
    std::string plugin;
    std::vector<std::pair<std::string, std::string>> settings;  // effective values
    std::vector<std::string> overrides;  // KEY=VALUE lines of this run, in order
};

// A figure as printf's format writes it; "-" when it is not finite.
std::string format_figure(double v, const char* format = "%.2f");

// max - min of the measurable integrated loudness values (NaN when none).
double loudness_spread(const RunReport& report, bool after);

void print_loudness_table(FILE* out, const RunReport& report);

// The report as JSON text (figures that cannot be measured are null).
std::string report_json(const RunReport& report);
