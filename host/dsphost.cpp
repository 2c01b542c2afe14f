// dsphost: plays audio files through a DSP plug-in's ModifySamples as the
// player does and writes the results as WAV, FLAC or an encoded format (MP3,
// Opus, AAC, Vorbis; a video file's other streams copied). Several inputs
// form one stream (the plug-in's state carries from file to file); settings
// can be given for one run; the loudness before and after is measured.
//
// Threads: a reader decodes into a pool of large chunks, this thread runs the
// plug-in over each chunk in player-sized blocks, a writer spreads the
// results over the output files, and two meters (before, after) measure.
// A watcher thread takes the interrupting signals.
//
// This file runs one job after the other: the options (dsphost_options), the
// settings for the run, the checks (dsphost_checks), the stream
// (dsphost_stream) and the results (dsphost_summary).
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "host/dsphost_checks.h"
#include "host/dsphost_groups.h"
#include "host/dsphost_options.h"
#include "host/dsphost_stream.h"
#include "host/dsphost_summary.h"
#include "host/dsphost_two_pass.h"
#include "host/media_file.h"
#include "host/plugin_loader.h"
#include "host/run_settings.h"

namespace fs = std::filesystem;

// Tries at most, for lossy outputs to decode under the ceiling asked for; the
// margin added to the overshoot each time; the lowest ceiling (-12 dBTP).
constexpr int maxTries = 3;
constexpr int ceilingMarginTenths = 2;
constexpr int lowestCeilingTenths = 120;

namespace {

// One item per input, each with its output and the name it is written under.
// With --format same, each output keeps its input's container and codec.
void make_items(Run& run, const Options& options) {
    for (size_t i = 0; i < options.inputs.size(); ++i) {
        const std::string& input = options.inputs[i];
        Item item;
        item.input = input;
        item.kind = options.format;
        if (item.kind == OutputKind::same)
            item.kind = is_stream(input) ? OutputKind::wav : media_same_kind(input, options.stream);
        if (options.outputDir.empty()) {
            item.output = options.output;
        } else {
            const std::string folder = i < options.inputFolders.size() ? options.inputFolders[i] : "";
            item.output = (fs::path(options.outputDir) / folder / fs::path(input).filename().stem()).string() +
                          media_extension(item.kind);
        }
        item.partial = item.output + ".partial";
        run.items.push_back(item);
    }
}

// Each lossless output's samples (WAV, FLAC, ALAC): --bits, or with --format
// same and no --bits, the input's own resolution (wider than 16 bits as 24,
// float WAV as float), so that a lossless file stays as it was; 16-bit
// inputs stay 16-bit.
void choose_bits(Run& run, const Options& options) {
    for (Item& item : run.items) {
        item.bits = options.bits;
        if (options.format != OutputKind::same || options.bitsGiven || media_lossy(item.kind)) continue;
        const int bits = item.format.sourceBits;
        if (bits > 16) item.bits = OutputBits::pcm24;
        if (bits == 0) item.bits = item.kind == OutputKind::wav ? OutputBits::float32 : OutputBits::pcm24;
    }
}

// The subfolders of OUTDIR the files of a folder input go to, made once the
// checks have passed and before anything is written; 0, or 1 after a message.
// (A single OUTPUT's folder must be there.)
int make_output_folders(const Run& run, const Options& options) {
    if (options.outputDir.empty()) return 0;
    for (const Item& item : run.items) {
        const fs::path folder = fs::path(item.output).parent_path();
        std::error_code error;
        if (folder.empty() || fs::is_directory(folder, error)) continue;
        fs::create_directories(folder, error);
        if (error) {
            fprintf(stderr, "dsphost: cannot make the folder %s: %s\n", folder.string().c_str(),
                    error.message().c_str());
            return 1;
        }
    }
    return 0;
}

void close_streams(Run& run) {
    for (Item& item : run.items)
        if (item.opened != nullptr) sound_close_input(item.opened);
    for (Item& item : run.items) item.opened = nullptr;
}

// The run's settings lines from --set, --preset and --mode, in order; 0, or
// the exit status after a message.
int override_lines(const Options& options, const std::string& userText, std::vector<SettingLine>& lines) {
    for (const Override& o : options.overrides) {
        std::string error;
        if (o.kind == Override::mode) {
            lines.push_back({"enhance", o.text});
        } else if (o.kind == Override::preset) {
            if (!preset_lines(o.text, userText, lines, error)) {
                fprintf(stderr, "dsphost: %s\n", error.c_str());
                return 2;
            }
        } else {
            SettingLine line;
            if (!parse_set_argument(o.text, line, error)) {
                fprintf(stderr, "dsphost: %s\n", error.c_str());
                return 2;
            }
            lines.push_back(line);
        }
    }
    return 0;
}

// A lossy encoder's decoded peaks rise above what it was given: with the
// true-peak ceiling on, it is lowered by the largest headroom among the
// outputs' codecs (the set is one stream, so one ceiling for all), and the
// decoded outputs are checked against the ceiling asked for.
void add_encoder_headroom(Run& run, const std::string& userText, std::vector<SettingLine>& lines) {
    int headroom = 0;
    bool lossy = false;
    for (const Item& item : run.items) {
        headroom = std::max(headroom, media_headroom(item.kind));
        lossy = lossy || media_lossy(item.kind);
    }
    int limit = 0, ceiling = 0;
    for (const auto& [key, value] : effective_values(run_settings_text(userText, lines))) {
        if (key == "tp_limit") limit = atoi(value.c_str());
        if (key == "tp_ceiling") ceiling = atoi(value.c_str());
    }
    if (limit != 1 || !lossy) return;
    run.peakCeiling = -ceiling / 10.0;
    run.ceilingTenths = std::min(lowestCeilingTenths, ceiling + headroom);
    if (headroom > 0) lines.push_back({"tp_ceiling", std::to_string(run.ceilingTenths)});
}

// After a try whose lossy outputs decoded over the ceiling asked for: the
// ceiling lowered for all (one stream) by the largest overshoot and a margin.
// A decoded peak falls by less than the ceiling (the codec's own error stays
// with the loudness), so from the second retry on the step is the overshoot
// over the fall per dB seen between the last two tries (taken as 0.25 to 1).
void lower_ceiling(Run& run, std::vector<SettingLine>& lines, bool quiet) {
    size_t worst = 0;
    for (size_t i = 0; i < run.decodedPeak.size(); ++i)
        if (std::isnan(run.decodedPeak[worst]) || run.decodedPeak[i] > run.decodedPeak[worst]) worst = i;
    const double peak = run.decodedPeak[worst];
    double step = peak - run.peakCeiling;
    if (run.tries > 1) {
        const double fall = (run.previousPeak - peak) / ((run.ceilingTenths - run.previousTenths) / 10.0);
        step /= std::clamp(fall, 0.25, 1.0);
    }
    run.previousPeak = peak;
    run.previousTenths = run.ceilingTenths;
    const int lower = static_cast<int>(std::ceil(step * 10.0 - 1e-9)) + ceilingMarginTenths;
    run.ceilingTenths = std::min(lowestCeilingTenths, run.ceilingTenths + lower);
    lines.push_back({"tp_ceiling", std::to_string(run.ceilingTenths)});
    if (!quiet)
        fprintf(stderr, "dsphost: %s decodes at %+.2f dBTP, over the %.1f dBTP ceiling: processing again "
                        "with the ceiling at %.1f dBTP\n", run.items[worst].output.c_str(), peak,
                run.peakCeiling, -run.ceilingTenths / 10.0);
}

// Back to the state before the first try: every chunk free, no meters.
void reset_for_another_try(Run& run) {
    run.abort = false;
    run.overCeiling = false;
    for (LoudnessMeter& m : run.before) meter_finish(m);  // releases their states
    for (LoudnessMeter& m : run.after) meter_finish(m);
    run.before.clear();
    run.after.clear();
    run.freeChunks.items.clear();
    for (auto& chunk : run.chunks) {
        chunk->refs = 0;
        run.freeChunks.items.push_back(chunk.get());
    }
}

// The library to load: the plug-in itself, or with settings for this run its
// copy in a private folder. Empty after a message on failure.
std::string library_for_run(const Options& options, const std::vector<SettingLine>& lines,
                            const std::string& runText) {
    if (lines.empty()) return options.plugin;
    std::string error, copy;
    std::lock_guard<std::mutex> lock(cleanup_mutex);
    private_folder = make_private_plugin_folder(options.plugin, runText, copy, error);
    if (private_folder.empty()) {
        fprintf(stderr, "dsphost: %s\n", error.c_str());
        return "";
    }
    return copy;
}

void drop_private_folder() {
    std::lock_guard<std::mutex> lock(cleanup_mutex);
    remove_private_plugin_folder(private_folder);
    private_folder.clear();
}

// The reader, writer and meters on threads of their own, the plug-in on this one.
void stream(Run& run, DspModule* module, const Options& options) {
    const size_t count = run.items.size();
    run.peakIn.assign(count, PeakCount{});
    run.peakOut.assign(count, PeakCount{});
    run.decodedPeak.assign(count, NAN);
    run.framesIn.assign(count, 0);
    run.finished.assign(count, 0);
    run.before.resize(count);
    run.after.resize(count);

    long long total = 0;
    for (const Item& item : run.items) total = item.format.frames < 0 || total < 0 ? -1 : total + item.format.frames;
    const bool progress = !options.quiet && isatty(fileno(stderr)) && total > 0;

    std::thread reader(read_inputs, std::ref(run));
    std::thread writer(write_outputs, std::ref(run));
    std::thread beforeMeter, afterMeter;
    if (run.metering) {
        beforeMeter = std::thread(measure, std::ref(run), std::ref(run.beforeJobs), std::ref(run.before));
        afterMeter = std::thread(measure, std::ref(run), std::ref(run.afterJobs), std::ref(run.after));
    }
    play(run, module, progress, total);
    reader.join();
    writer.join();
    if (run.metering) {
        run.beforeJobs.push(MeterJob{});
        run.afterJobs.push(MeterJob{});
        beforeMeter.join();
        afterMeter.join();
    }
    if (progress) fprintf(stderr, "\n");
}

// The leveller's target in LUFS with these settings, NaN while it is off.
double leveller_target(const std::vector<std::pair<std::string, std::string>>& values) {
    bool on = false;
    double target = NAN;
    for (const auto& [key, value] : values) {
        if (key == "loudness_target") on = value == "1";
        if (key == "target_lufs") target = -0.1 * atoi(value.c_str());
    }
    return on ? target : NAN;
}

// --two-pass: the first pass, with a plug-in that takes a programme's loudness.
bool start_two_pass(Run& run, const LoadedPlugin& plugin) {
    run.tellProgramme = plugin.programme;
    std::string error;
    if (run.tellProgramme == nullptr || plugin.measuring == nullptr)
        error = "--two-pass needs a plug-in that takes a programme's loudness (dsp_redozer.so)";
    else if (!measure_programmes(run, plugin.module, plugin.measuring, error))
        run.programmeLufs.clear();
    if (error.empty()) return true;
    fprintf(stderr, "dsphost: %s\n", error.c_str());
    return false;
}

// One pass over the stream with the plug-in loaded with these settings; the
// first try also runs --two-pass's measuring pass. 0, or 1 after a message.
int play_once(Run& run, const Options& options, const std::vector<SettingLine>& lines, const std::string& runText,
              bool firstTry) {
    const std::string libraryPath = library_for_run(options, lines, runText);
    if (libraryPath.empty()) return 1;
    LoadedPlugin plugin;
    std::string error;
    if (!load_plugin(libraryPath, plugin, error)) {
        fprintf(stderr, "dsphost: %s\n", error.c_str());
        drop_private_folder();
        return 1;
    }
    // Wider input or output takes the full-resolution path where the library
    // has it; so does an encoded output, encoded from the float result.
    bool wider = false;
    for (const Item& item : run.items)
        wider = wider || item.bits != OutputBits::pcm16 || item.format.converted || media_lossy(item.kind);
    run.fullResolutionAsked = wider;
    run.modifyFloat = wider ? plugin.modifyFloat : nullptr;
    if (run.modifyFloat == nullptr) run.fixed.resize(static_cast<size_t>(run.block) * run.channels);
    if (options.twoPass && firstTry && !start_two_pass(run, plugin)) {
        unload_plugin(plugin);
        drop_private_folder();
        return 1;
    }
    if (options.twoPass) run.tellProgramme = plugin.programme;  // the loudness measured once
    stream(run, plugin.module, options);
    unload_plugin(plugin);
    drop_private_folder();
    return 0;
}

// The stream, again with a lower ceiling while a lossy output decodes over
// the one asked for (at most maxTries; a pipe can be read only once).
int play_tries(Run& run, const Options& options, const std::string& userText, std::vector<SettingLine>& lines) {
    bool pipe = false;
    for (const Item& item : run.items) pipe = pipe || is_stream(item.input);
    for (run.tries = 1;; ++run.tries) {
        run.lastTry = run.tries == maxTries || pipe || run.ceilingTenths >= lowestCeilingTenths;
        if (int status = play_once(run, options, lines, run_settings_text(userText, lines), run.tries == 1);
            status != 0)
            return status;
        if (!run.overCeiling || !run.error.empty() || !run.readError.empty()) return 0;
        lower_ceiling(run, lines, options.quiet);
        reset_for_another_try(run);
    }
}

int run_all(const Options& options) {
    Run run;
    run.block = options.block;
    run.dither = options.dither;
    run.quality = options.quality;
    run.stream = options.stream;
    run.metering = options.loudness || !options.reportPath.empty() || !options.plotPath.empty();
    make_items(run, options);
    for (const Item& item : run.items) {
        std::string error;
        if (!media_quality_valid(item.kind, options.quality, error)) {
            fprintf(stderr, "dsphost: %s\n", error.c_str());
            return 2;
        }
    }

    // The settings: the user's file as the plug-in would find it, plus this run's lines.
    std::string userText;
    bool userFileExists = false;
    const std::string userFile = effective_settings_path(options.plugin);
    if (!read_text_file(userFile, userText, userFileExists)) {
        fprintf(stderr, "dsphost: cannot read the settings file %s\n", userFile.c_str());
        return 1;
    }
    std::vector<SettingLine> lines;
    if (int status = override_lines(options, userText, lines); status != 0) return status;
    // Only the redozer plug-in reads these settings and delays its output.
    const bool ours = fs::path(options.plugin).filename() == "dsp_redozer.so";
    if (ours) add_encoder_headroom(run, userText, lines);

    int checked = check_inputs(run, options);
    if (checked == 0) checked = make_output_folders(run, options);
    if (checked != 0) {
        close_streams(run);
        return checked;
    }
    choose_bits(run, options);

    const auto firstValues = effective_values(run_settings_text(userText, lines));
    const long long engineDelay = ours ? engine_delay_frames(firstValues, run.rate, run.channels) : 0;
    // A single file keeps the plug-in's own stream by default, as it always has.
    const bool removeDelay = options.removeDelay >= 0 ? options.removeDelay == 1 : !options.outputDir.empty();
    run.delay = removeDelay ? engineDelay : 0;
    if (ours) run.stageTarget = leveller_target(firstValues);

    const long long blocksPerChunk = std::max<long long>(1, (chunkTargetFrames + run.block - 1) / run.block);
    run.chunkFrames = blocksPerChunk * run.block;
    if (!make_pool(run)) {
        fprintf(stderr, "dsphost: not enough memory for blocks of %ld frames of %d channels\n", options.block,
                run.channels);
        close_streams(run);
        return 1;
    }

    start_signal_watch();
    const int status = play_tries(run, options, userText, lines);
    close_streams(run);
    if (status != 0) return status;

    if (!run.error.empty() || !run.readError.empty()) {
        fprintf(stderr, "dsphost: %s\n", (!run.error.empty() ? run.error : run.readError).c_str());
        const size_t count = run.items.size();
        for (size_t i = 0; i < count; ++i)
            if (run.finished[i] && count > 1) fprintf(stderr, "dsphost: %s is complete\n", run.items[i].output.c_str());
        return 1;
    }
    warn_over_ceiling(run);
    if (!options.quiet) print_summary(run, options, engineDelay);
    if (!run.metering) return 0;
    return write_measurements(run, options, effective_values(run_settings_text(userText, lines)), lines);
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    const int code = parse_options(argc, argv, options);
    if (code == -1) return 0;
    if (code != 0) return code;
    std::vector<Options> runs;
    if (int status = split_by_format(options, runs); status != 0) return status;
    for (const Options& one : runs)
        if (int status = run_all(one); status != 0) return status;
    return 0;
}
