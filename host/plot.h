// The loudness picture: short-term loudness before and after over the whole
// run, the sample-peak envelope after, file boundaries labelled; PNG or SVG.
#pragma once

#include <string>
#include <vector>

#include "host/loudness.h"

struct PlotFile {
    std::string label;
    double startSeconds = 0;
    double endSeconds = 0;
};

struct PlotData {
    std::vector<PlotFile> files;
    std::vector<PlotPoint> before;       // short-term loudness, LUFS
    std::vector<PlotPoint> after;        // short-term loudness, LUFS
    std::vector<PlotPoint> peaksAfter;   // sample-peak envelope, dBFS
    std::string subtitle;
};

constexpr int plotWidth = 1200;
constexpr int plotHeight = 500;

// Writes path as PNG or SVG (by its extension). False with a message on failure.
bool draw_loudness_plot(const std::string& path, const PlotData& data, std::string& error);
// True when the name ends in .png or .svg (any case).
bool plot_extension_known(const std::string& path);
