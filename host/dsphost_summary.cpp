// dsphost's results: summary lines, loudness table, report and picture.
#include "host/dsphost_summary.h"

#include <cmath>
#include <cstdio>
#include <filesystem>

#include "host/media_file.h"
#include "host/plot.h"
#include "host/report.h"

namespace fs = std::filesystem;

namespace {

std::string dbfs(double peak) {
    if (peak <= 0) return "-inf dBFS";
    char text[32];
    snprintf(text, sizeof text, "%.2f dBFS", 20.0 * std::log10(peak / 32768.0));
    return text;
}

}  // namespace

void warn_over_ceiling(const Run& run) {
    for (size_t i = 0; i < run.decodedPeak.size(); ++i)
        if (run.decodedPeak[i] > run.peakCeiling)
            fprintf(stderr, "dsphost: warning: %s decodes at %+.2f dBTP, over the %.1f dBTP ceiling, after %d %s "
                            "(the encoder given %.1f dBTP)\n", run.items[i].output.c_str(), run.decodedPeak[i],
                    run.peakCeiling, run.tries, run.tries == 1 ? "try" : "tries", -run.ceilingTenths / 10.0);
}

namespace {

// The ceiling the lossy outputs were encoded under, and each one's decoded peak.
void print_encoder_ceiling(const Run& run) {
    if (std::isnan(run.peakCeiling)) return;
    std::string peaks;
    for (size_t i = 0; i < run.decodedPeak.size(); ++i) {
        if (std::isnan(run.decodedPeak[i])) continue;
        char text[32];
        snprintf(text, sizeof text, " %+.2f", run.decodedPeak[i]);
        peaks += (peaks.empty() ? "" : ",") + std::string(" ") + fs::path(run.items[i].output).filename().string() +
                 text;
    }
    printf("dsphost: lossy outputs encoded under a %.1f dBTP ceiling for the %.1f dBTP asked (%d %s); "
           "decoded true peaks (dBTP):%s\n", -run.ceilingTenths / 10.0, run.peakCeiling, run.tries,
           run.tries == 1 ? "try" : "tries", peaks.c_str());
}

}  // namespace

void print_summary(const Run& run, const Options& options, long long engineDelay) {
    const size_t count = run.items.size();
    for (size_t i = 0; i < count; ++i) {
        const Item& item = run.items[i];
        const long long frames = run.framesIn[i];
        const std::string reduction = options.dither ? "with TPDF dither" : "by rounding, without dither";
        std::string conversion;
        if (item.format.converted && run.modifyFloat == nullptr)
            conversion = "; " + item.format.description + " reduced to 16-bit " + reduction;
        else if (item.format.converted)
            conversion = "; " + item.format.description + " processed at full resolution" +
                         (item.bits == OutputBits::pcm16 && !media_lossy(item.kind)
                              ? ", the result reduced to 16-bit " + reduction : "");
        printf("dsphost: %s%lld frames (%.2f s, %d ch, %d Hz); peak in %s, out %s; "
               "%lld output samples at full scale%s\n",
               options.outputDir.empty() ? "" : (item.output + ": ").c_str(), frames, static_cast<double>(frames) / run.rate,
               run.channels, run.rate, dbfs(run.peakIn[i].peak).c_str(), dbfs(run.peakOut[i].peak).c_str(),
               run.peakOut[i].fullScale, conversion.c_str());
    }
    if (run.fullResolutionAsked && run.modifyFloat == nullptr)
        printf("dsphost: the plug-in takes 16-bit samples only (it has no full-resolution entry)\n");
    if (!run.programmeLufs.empty())
        printf("dsphost: two passes: each input's integrated loudness was measured first and told to "
               "the output stage's leveller at its start\n");
    if (run.delay > 0)
        printf("dsphost: the engine's delay of %lld frames was taken out of the outputs\n", run.delay);
    else if (engineDelay > 0)
        printf("dsphost: the output lags the input by the engine's delay of %lld frames "
               "(--delay remove takes it out)\n", engineDelay);
    print_encoder_ceiling(run);
}

int write_measurements(Run& run, const Options& options,
                       const std::vector<std::pair<std::string, std::string>>& values,
                       const std::vector<SettingLine>& lines) {
    const size_t count = run.items.size();
    RunReport report;
    report.rate = run.rate;
    report.channels = run.channels;
    report.delayFrames = run.delay;
    report.dither = options.dither;
    report.twoPass = !run.programmeLufs.empty();
    report.plugin = options.plugin;
    report.settings = values;
    for (const SettingLine& line : lines) report.overrides.push_back(line.key + "=" + line.value);
    PlotData plot;
    double start = 0;
    for (size_t i = 0; i < count; ++i) {
        FileReport f;
        f.input = run.items[i].input;
        f.output = run.items[i].output;
        f.frames = run.framesIn[i];
        f.before = meter_finish(run.before[i]);
        f.after = meter_finish(run.after[i]);
        report.files.push_back(f);
        PlotFile pf;
        pf.label = fs::path(f.input).filename().string();
        pf.startSeconds = start;
        start += static_cast<double>(f.frames) / run.rate;
        pf.endSeconds = start;
        plot.files.push_back(pf);
        plot.before.insert(plot.before.end(), run.before[i].shortTerm.begin(), run.before[i].shortTerm.end());
        plot.after.insert(plot.after.end(), run.after[i].shortTerm.begin(), run.after[i].shortTerm.end());
        plot.peaksAfter.insert(plot.peaksAfter.end(), run.after[i].peakEnvelope.begin(),
                               run.after[i].peakEnvelope.end());
    }
    if (!options.quiet) print_loudness_table(stdout, report);

    int status = 0;
    if (!options.reportPath.empty() && !write_text_file(options.reportPath, report_json(report))) {
        fprintf(stderr, "dsphost: cannot write the report %s\n", options.reportPath.c_str());
        status = 1;
    }
    if (!options.plotPath.empty()) {
        const double spreadBefore = loudness_spread(report, false), spreadAfter = loudness_spread(report, true);
        char subtitle[200];
        snprintf(subtitle, sizeof subtitle,
                 "%zu file%s, %.1f min; spread of integrated loudness: before %s LU, after %s LU", count,
                 count == 1 ? "" : "s", start / 60.0, format_figure(spreadBefore, "%.1f").c_str(),
                 format_figure(spreadAfter, "%.1f").c_str());
        plot.subtitle = subtitle;
        std::string plotError;
        if (!draw_loudness_plot(options.plotPath, plot, plotError)) {
            fprintf(stderr, "dsphost: cannot draw %s: %s\n", options.plotPath.c_str(), plotError.c_str());
            status = 1;
        }
    }
    return status;
}
