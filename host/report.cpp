#include "host/report.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {


std::string json_number(double v) {
    if (!std::isfinite(v)) return "null";
    char text[32];
    snprintf(text, sizeof text, "%.3f", v);
    return text;
}

std::string json_string(const std::string& s) {
    std::string out = "\"";
    for (unsigned char c : s) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char escape[8];
            snprintf(escape, sizeof escape, "\\u%04x", c);
            out += escape;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

std::string json_figures(const LoudnessFigures& f) {
    return "{\"integrated_lufs\": " + json_number(f.integratedLufs) + ", \"lra_lu\": " + json_number(f.rangeLu) +
           ", \"sample_peak_dbfs\": " + json_number(f.samplePeakDbfs) +
           ", \"true_peak_dbtp\": " + json_number(f.truePeakDbtp) +
           ", \"full_scale_samples\": " + std::to_string(f.fullScaleSamples) + "}";
}

bool is_number_text(const std::string& s) {
    return !s.empty() && s.size() < 10 && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::string base_name(const std::string& path) {
    size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

std::string format_figure(double v, const char* format) {
    if (!std::isfinite(v)) return "-";
    char text[32];
    snprintf(text, sizeof text, format, v);
    return text;
}

double loudness_spread(const RunReport& report, bool after) {
    double low = INFINITY, high = -INFINITY;
    for (const FileReport& f : report.files) {
        const double v = after ? f.after.integratedLufs : f.before.integratedLufs;
        if (!std::isfinite(v)) continue;
        low = std::min(low, v);
        high = std::max(high, v);
    }
    return high >= low ? high - low : NAN;
}

void print_loudness_table(FILE* out, const RunReport& report) {
    size_t nameWidth = 4;
    for (const FileReport& f : report.files) nameWidth = std::max(nameWidth, base_name(f.input).size());
    nameWidth = std::min<size_t>(nameWidth, 40);
    const int w = static_cast<int>(nameWidth);
    // Each measure takes two columns: before and after.
    fprintf(out, "%-*s  %-16s  %-14s  %-16s  %-16s  %s\n", w, "", "Integrated LUFS", "Range LU",
            "Sample peak dBFS", "True peak dBTP", "Full-scale samples");
    fprintf(out, "%-*s  %7s  %7s  %6s  %6s  %7s  %7s  %7s  %7s  %8s  %8s\n", w, "File", "before", "after", "before",
            "after", "before", "after", "before", "after", "before", "after");
    for (const FileReport& f : report.files) {
        std::string name = base_name(f.input);
        if (name.size() > nameWidth) name = name.substr(0, nameWidth - 3) + "...";
        fprintf(out, "%-*s  %7s  %7s  %6s  %6s  %7s  %7s  %7s  %7s  %8lld  %8lld\n", w, name.c_str(),
                format_figure(f.before.integratedLufs).c_str(), format_figure(f.after.integratedLufs).c_str(),
                format_figure(f.before.rangeLu).c_str(), format_figure(f.after.rangeLu).c_str(),
                format_figure(f.before.samplePeakDbfs).c_str(), format_figure(f.after.samplePeakDbfs).c_str(),
                format_figure(f.before.truePeakDbtp).c_str(), format_figure(f.after.truePeakDbtp).c_str(),
                f.before.fullScaleSamples, f.after.fullScaleSamples);
    }
    fprintf(out, "Spread of integrated loudness (max - min): before %s LU, after %s LU%s\n",
            format_figure(loudness_spread(report, false)).c_str(), format_figure(loudness_spread(report, true)).c_str(),
            report.twoPass ? " (two passes: each file's loudness measured first)" : "");
    // Lossy encoders clip overs further: EBU R128 s1 and AES TD1008 ask for
    // at most -1 dBTP at their input.
    int overs = 0;
    for (const FileReport& f : report.files) overs += f.after.truePeakDbtp > -1.0;
    if (overs > 0)
        fprintf(out, "%d output%s above -1 dBTP (too hot for a lossy encoder): --true-peak -1 keeps them below\n",
                overs, overs == 1 ? "" : "s");
}

std::string report_json(const RunReport& report) {
    std::string j = "{\n  \"files\": [";
    for (size_t i = 0; i < report.files.size(); ++i) {
        const FileReport& f = report.files[i];
        j += i ? ",\n    " : "\n    ";
        j += "{\"input\": " + json_string(f.input) + ", \"output\": " + json_string(f.output) +
             ", \"frames\": " + std::to_string(f.frames) + ",\n     \"before\": " + json_figures(f.before) +
             ",\n     \"after\": " + json_figures(f.after) + "}";
    }
    j += "\n  ],\n";
    j += "  \"spread_before_lu\": " + json_number(loudness_spread(report, false)) + ",\n";
    j += "  \"spread_after_lu\": " + json_number(loudness_spread(report, true)) + ",\n";
    j += "  \"settings\": {";
    for (size_t i = 0; i < report.settings.size(); ++i) {
        const auto& [key, value] = report.settings[i];
        j += (i ? ", " : "") + json_string(key) + ": " + (is_number_text(value) ? value : json_string(value));
    }
    j += "},\n  \"overrides\": [";
    for (size_t i = 0; i < report.overrides.size(); ++i) j += (i ? ", " : "") + json_string(report.overrides[i]);
    j += "],\n";
    j += "  \"sample_rate\": " + std::to_string(report.rate) + ",\n";
    j += "  \"channels\": " + std::to_string(report.channels) + ",\n";
    j += "  \"delay_frames\": " + std::to_string(report.delayFrames) + ",\n";
    j += std::string("  \"dither\": ") + (report.dither ? "true" : "false") + ",\n";
    j += std::string("  \"two_pass\": ") + (report.twoPass ? "true" : "false") + ",\n";
    j += "  \"plugin\": " + json_string(report.plugin) + "\n}\n";
    return j;
}
