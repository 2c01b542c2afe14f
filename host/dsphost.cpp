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
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "host/dsphost_checks.h"
#include "host/dsphost_options.h"
#include "host/dsphost_stream.h"
#include "host/dsphost_summary.h"
#include "host/dsphost_two_pass.h"
#include "host/media_file.h"
#include "host/plugin_loader.h"
#include "host/run_settings.h"

namespace fs = std::filesystem;

namespace {

// One item per input, each with its output and the name it is written under.
// With --format same, each output keeps its input's container and codec.
void make_items(Run& run, const Options& options) {
    for (const std::string& input : options.inputs) {
        Item item;
        item.input = input;
        item.kind = options.format;
        if (item.kind == OutputKind::same)
            item.kind = is_stream(input) ? OutputKind::wav : media_same_kind(input, options.stream);
        if (options.outputDir.empty()) {
            item.output = options.output;
        } else {
            item.output = (fs::path(options.outputDir) / fs::path(input).filename().stem()).string() +
                          media_extension(item.kind);
        }
        item.partial = item.output + ".partial";
        run.items.push_back(item);
    }
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
// outputs' codecs (the set is one stream, so one ceiling for all).
void add_encoder_headroom(const Run& run, const std::string& userText, std::vector<SettingLine>& lines) {
    int headroom = 0;
    for (const Item& item : run.items) headroom = std::max(headroom, media_headroom(item.kind));
    if (headroom == 0) return;
    int limit = 0, ceiling = 0;
    for (const auto& [key, value] : effective_values(run_settings_text(userText, lines))) {
        if (key == "tp_limit") limit = atoi(value.c_str());
        if (key == "tp_ceiling") ceiling = atoi(value.c_str());
    }
    if (limit == 1) lines.push_back({"tp_ceiling", std::to_string(std::min(120, ceiling + headroom))});
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
    run.peakIn.resize(count);
    run.peakOut.resize(count);
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

int run_all(const Options& options) {
    Run run;
    run.block = options.block;
    run.dither = options.dither;
    run.bits = options.bits;
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
    add_encoder_headroom(run, userText, lines);
    const std::string runText = run_settings_text(userText, lines);

    if (int status = check_inputs(run, options); status != 0) {
        close_streams(run);
        return status;
    }

    // Only the redozer plug-in reads these settings and delays its output.
    const bool ours = fs::path(options.plugin).filename() == "dsp_redozer.so";
    const auto values = effective_values(runText);
    const long long engineDelay = ours ? engine_delay_frames(values, run.rate, run.channels) : 0;
    // A single file keeps the plug-in's own stream by default, as it always has.
    const bool removeDelay = options.removeDelay >= 0 ? options.removeDelay == 1 : !options.outputDir.empty();
    run.delay = removeDelay ? engineDelay : 0;
    if (ours) run.stageTarget = leveller_target(values);

    const long long blocksPerChunk = std::max<long long>(1, (chunkTargetFrames + run.block - 1) / run.block);
    run.chunkFrames = blocksPerChunk * run.block;
    if (!make_pool(run)) {
        fprintf(stderr, "dsphost: not enough memory for blocks of %ld frames of %d channels\n", options.block,
                run.channels);
        close_streams(run);
        return 1;
    }

    start_signal_watch();
    const std::string libraryPath = library_for_run(options, lines, runText);
    if (libraryPath.empty()) {
        close_streams(run);
        return 1;
    }
    LoadedPlugin plugin;
    std::string error;
    if (!load_plugin(libraryPath, plugin, error)) {
        fprintf(stderr, "dsphost: %s\n", error.c_str());
        drop_private_folder();
        close_streams(run);
        return 1;
    }

    // Wider input or output takes the full-resolution path where the library
    // has it; so does an encoded output, encoded from the float result.
    bool wider = options.bits != OutputBits::pcm16;
    for (const Item& item : run.items) wider = wider || item.format.converted || media_encoded(item.kind);
    run.fullResolutionAsked = wider;
    if (wider) run.modifyFloat = plugin.modifyFloat;
    if (run.modifyFloat == nullptr) run.fixed.resize(static_cast<size_t>(run.block) * run.channels);
    if (options.twoPass && !start_two_pass(run, plugin)) {
        unload_plugin(plugin);
        drop_private_folder();
        close_streams(run);
        return 1;
    }

    stream(run, plugin.module, options);
    unload_plugin(plugin);
    drop_private_folder();
    close_streams(run);

    if (!run.error.empty() || !run.readError.empty()) {
        fprintf(stderr, "dsphost: %s\n", (!run.error.empty() ? run.error : run.readError).c_str());
        const size_t count = run.items.size();
        for (size_t i = 0; i < count; ++i)
            if (run.finished[i] && count > 1) fprintf(stderr, "dsphost: %s is complete\n", run.items[i].output.c_str());
        return 1;
    }
    if (!options.quiet) print_summary(run, options, engineDelay);
    if (!run.metering) return 0;
    return write_measurements(run, options, values, lines);
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    const int code = parse_options(argc, argv, options);
    if (code == -1) return 0;
    if (code != 0) return code;
    return run_all(options);
}
