// dsphost's checks before anything is written.
#include "host/dsphost_checks.h"

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <set>

namespace fs = std::filesystem;

namespace {

std::string canonical(const std::string& path) {
    std::error_code ec;
    fs::path p = fs::weakly_canonical(fs::absolute(path, ec), ec);
    return ec ? path : p.string();
}

bool same_file(const std::string& a, const std::string& b) {
    std::error_code ec;
    if (fs::exists(a, ec) && fs::exists(b, ec) && fs::equivalent(a, b, ec)) return true;
    return canonical(a) == canonical(b);
}

bool folder_writable(const std::string& folder) {
    std::error_code ec;
    return fs::is_directory(folder, ec) && access(folder.c_str(), W_OK | X_OK) == 0;
}

std::string parent_folder(const std::string& path) {
    fs::path parent = fs::path(path).parent_path();
    return parent.empty() ? "." : parent.string();
}

}  // namespace

// Each input opens and plays in one format, the first's. Returns 0 or the exit status.
static int check_input_formats(Run& run, const Options& options) {
    for (size_t i = 0; i < run.items.size(); ++i) {
        Item& item = run.items[i];
        std::string error;
        SoundInput* input = sound_open_input(item.input, item.format, error, run.stream);
        if (input == nullptr) {
            fprintf(stderr, "dsphost: cannot read %s: %s\n", item.input.c_str(), error.c_str());
            return 1;
        }
        // A pipe can be read only once: it stays open for the run.
        if (is_stream(item.input))
            item.opened = input;
        else
            sound_close_input(input);
        const SoundFormat& f = item.format;
        if (f.audioStreams > 1 && options.stream < 0 && !options.quiet)
            fprintf(stderr, "dsphost: %s holds %d audio streams; the first is read (--stream N chooses)\n",
                    item.input.c_str(), f.audioStreams);
        if (f.channels < 1 || f.rate < 1) {
            fprintf(stderr, "dsphost: %s has no usable audio format\n", item.input.c_str());
            return 1;
        }
        if (f.channels > 2) {
            fprintf(stderr, "dsphost: %s has %d channels; only mono and stereo can be played\n",
                    item.input.c_str(), f.channels);
            return 1;
        }
        if (i == 0) {
            run.rate = f.rate;
            run.channels = f.channels;
        } else if (f.rate != run.rate || f.channels != run.channels) {
            fprintf(stderr,
                    "dsphost: %s is %d Hz, %d ch, but %s is %d Hz, %d ch; the files of a set must "
                    "share one rate and channel count (the plug-in's state carries across them)\n",
                    item.input.c_str(), f.rate, f.channels, run.items[0].input.c_str(), run.rate, run.channels);
            return 1;
        }
    }
    return 0;
}

// No output overwrites an input, and no two inputs share an output.
static int check_outputs(const Run& run) {
    std::set<std::string> outputs;
    for (const Item& item : run.items) {
        for (const Item& other : run.items) {
            if (same_file(item.output, other.input)) {
                fprintf(stderr, "dsphost: the output %s would overwrite the input %s\n", item.output.c_str(),
                        other.input.c_str());
                return 1;
            }
        }
        if (!outputs.insert(canonical(item.output)).second) {
            fprintf(stderr, "dsphost: two inputs would both be written to %s; rename one of them\n",
                    item.output.c_str());
            return 1;
        }
    }
    return 0;
}

// The output folder, the report and the plot can be written, and the report
// and plot are none of the run's inputs or outputs.
static int check_destinations(const Run& run, const Options& options) {
    if (!options.outputDir.empty() && !folder_writable(options.outputDir)) {
        fprintf(stderr, "dsphost: cannot write into the output folder %s: %s\n", options.outputDir.c_str(),
                fs::is_directory(options.outputDir) ? "permission denied"
                : fs::exists(options.outputDir)     ? "not a folder"
                                                    : "no such folder");
        return 1;
    }
    for (const std::string* path : {&options.reportPath, &options.plotPath}) {
        if (path->empty()) continue;
        for (const Item& item : run.items) {
            if (same_file(*path, item.input) || same_file(*path, item.output)) {
                fprintf(stderr, "dsphost: %s is also an input or output of this run\n", path->c_str());
                return 1;
            }
        }
        if (!folder_writable(parent_folder(*path))) {
            fprintf(stderr, "dsphost: cannot write %s: its folder is missing or not writable\n", path->c_str());
            return 1;
        }
    }
    return 0;
}

int check_inputs(Run& run, const Options& options) {
    if (const int status = check_input_formats(run, options)) return status;
    if (const int status = check_outputs(run)) return status;
    return check_destinations(run, options);
}

