// dsphost for Windows: streams one audio file through a DSP plug-in's
// ModifySamples in player-sized blocks and writes the result as 16-bit WAV.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <new>
#include <string>
#include <vector>

#if defined(_WIN32)
#include <io.h>
#include <windows.h>
#define isatty _isatty
#define fileno _fileno
#else
#include <csignal>

#include <unistd.h>
#endif

#include "host/audio_file.h"
#include "host/plugin_loader.h"

namespace {

constexpr int defaultBlockFrames = 576;

void print_usage(FILE* out) {
    fprintf(out,
            "Usage: dsphost [options] INPUT OUTPUT\n"
            "Runs a DSP plug-in over INPUT as the player would and writes OUTPUT as\n"
            "16-bit PCM WAV.\n"
            "\n"
            "Options:\n"
            "  -p, --plugin PATH   the plug-in library (default: the dsp_redozer library\n"
            "                      beside dsphost)\n"
            "  -b, --block FRAMES  frames per ModifySamples call (default %d)\n"
            "  -q, --quiet         no progress bar and no summary line\n"
            "  -h, --help          show this text\n",
            defaultBlockFrames);
}

struct Options {
    std::string input, output, plugin;
    long block = defaultBlockFrames;
    bool quiet = false;
};

// Returns 0 to go on, otherwise the exit code.
int parse_options(int argc, char** argv, Options& options) {
    std::vector<std::string> positional;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        auto value = [&](const char* name) -> const char* {
            if (i + 1 >= argc) {
                fprintf(stderr, "dsphost: %s needs a value\n", name);
                return nullptr;
            }
            return argv[++i];
        };
        if (arg == "-h" || arg == "--help") {
            print_usage(stdout);
            return -1;
        } else if (arg == "-q" || arg == "--quiet") {
            options.quiet = true;
        } else if (arg == "-p" || arg == "--plugin") {
            const char* v = value("--plugin");
            if (v == nullptr) return 2;
            options.plugin = v;
        } else if (arg == "-b" || arg == "--block") {
            const char* v = value("--block");
            if (v == nullptr) return 2;
            char* end = nullptr;
            options.block = strtol(v, &end, 10);
            if (*v == '\0' || *end != '\0' || options.block < 1 || options.block > 1000000) {
                fprintf(stderr, "dsphost: --block takes a frame count from 1 to 1000000\n");
                return 2;
            }
        } else if (arg.size() > 1 && arg[0] == '-') {
            fprintf(stderr, "dsphost: unknown option %s (see --help)\n", arg.c_str());
            return 2;
        } else {
            positional.push_back(arg);
        }
    }
    if (positional.size() != 2) {
        fprintf(stderr, "dsphost: expected an input and an output file (see --help)\n");
        return 2;
    }
    options.input = positional[0];
    options.output = positional[1];
    if (options.plugin.empty()) options.plugin = default_plugin_path();
    return 0;
}

#if !defined(_WIN32)
// An interrupted run removes the partial output as well. The handler only
// unlinks the name it was given, which is safe while the file is open.
char partial_to_remove[4096];
volatile sig_atomic_t remove_partial_on_signal = 0;

extern "C" void stop_on_signal(int signal_number) {
    if (remove_partial_on_signal) unlink(partial_to_remove);
    // Die of the signal as if there were no handler (delivered on return).
    signal(signal_number, SIG_DFL);
    raise(signal_number);
}

void watch_signals(const std::string& partial) {
    if (partial.size() >= sizeof partial_to_remove) return;
    memcpy(partial_to_remove, partial.c_str(), partial.size() + 1);
    remove_partial_on_signal = 1;
    for (int s : {SIGINT, SIGTERM, SIGHUP}) signal(s, stop_on_signal);
}

void unwatch_signals() {
    remove_partial_on_signal = 0;
    for (int s : {SIGINT, SIGTERM, SIGHUP}) signal(s, SIG_DFL);
}
#else
// On Windows a file that is still open cannot be removed from the console's
// signal thread; an interrupted run leaves the partial file.
void watch_signals(const std::string&) {}
void unwatch_signals() {}
#endif

bool replace_file(const std::string& from, const std::string& to) {
#if defined(_WIN32)
    return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
#else
    return rename(from.c_str(), to.c_str()) == 0;
#endif
}

std::string dbfs(int peak) {
    if (peak <= 0) return "-inf dBFS";
    char text[32];
    snprintf(text, sizeof text, "%.2f dBFS", 20.0 * std::log10(peak / 32768.0));
    return text;
}

struct Meter {
    int peak = 0;
    long long fullScale = 0;  // samples at or beyond the classic chain's clamp, |s| >= 32766
    void add(const int16_t* s, long long n) {
        for (long long i = 0; i < n; ++i) {
            int v = std::abs(static_cast<int>(s[i]));
            if (v > peak) peak = v;
            if (v >= 32766) ++fullScale;
        }
    }
};

void show_progress(long long done, long long total) {
    int percent = total > 0 ? static_cast<int>(100 * done / total) : 100;
    char bar[41];
    int filled = percent * 40 / 100;
    for (int i = 0; i < 40; ++i) bar[i] = i < filled ? '#' : '.';
    bar[40] = '\0';
    fprintf(stderr, "\r[%s] %3d%%", bar, percent);
    fflush(stderr);
}

// What one run holds open: the input, the block buffer, the plug-in and the
// output being written beside its destination.
struct Run {
    AudioFormat format;
    AudioReader* reader = nullptr;
    std::unique_ptr<int16_t[]> block;
    LoadedPlugin plugin;
    std::string partial;
    bool partialExisted = false;
    AudioWriter* writer = nullptr;
};

// Opens everything a run needs; on failure says why, closes what was opened
// and leaves nothing written.
bool open_run(const Options& options, Run& r) {
    std::string error;
    r.reader = audio_open_read(options.input, r.format, error);
    if (r.reader == nullptr) {
        fprintf(stderr, "dsphost: cannot read %s: %s\n", options.input.c_str(), error.c_str());
        return false;
    }
    if (r.format.channels < 1 || r.format.rate < 1) {
        fprintf(stderr, "dsphost: %s has no usable audio format\n", options.input.c_str());
        audio_close_read(r.reader);
        return false;
    }
    // The block buffer comes first, so that a lack of memory stops the run
    // before anything is written.
    const size_t blockSamples = static_cast<size_t>(options.block) * static_cast<size_t>(r.format.channels);
    r.block.reset(new (std::nothrow) int16_t[blockSamples]);
    if (r.block == nullptr) {
        fprintf(stderr, "dsphost: not enough memory for blocks of %ld frames of %d channels\n",
                options.block, r.format.channels);
        audio_close_read(r.reader);
        return false;
    }
    if (!load_plugin(options.plugin, r.plugin, error)) {
        fprintf(stderr, "dsphost: %s\n", error.c_str());
        audio_close_read(r.reader);
        return false;
    }
    // Write beside the output and move into place only once complete.
    r.partial = options.output + ".partial";
    std::error_code ignored;
    r.partialExisted = std::filesystem::exists(r.partial, ignored);
    if (!r.partialExisted) watch_signals(r.partial);
    r.writer = audio_open_write(r.partial, r.format, error);
    if (r.writer == nullptr) {
        fprintf(stderr, "dsphost: cannot write %s: %s\n", options.output.c_str(), error.c_str());
        // The file may have been created before its header could be written.
        if (!r.partialExisted) remove(r.partial.c_str());
        unwatch_signals();
        audio_close_read(r.reader);
        unload_plugin(r.plugin);
        return false;
    }
    return true;
}

// Every block of the input through the plug-in into the output; 0, or 1
// after saying what failed.
int stream(const Options& options, Run& r, Meter& in, Meter& out, long long& done) {
    DspModule* module = r.plugin.module;
    const bool progress = !options.quiet && isatty(fileno(stderr)) && r.format.frames > 0;
    const char* line = progress ? "\n" : "";
    int lastPercent = -1;
    int status = 0;
    for (;;) {
        long long got = audio_read(r.reader, r.block.get(), options.block);
        if (got < 0) {
            fprintf(stderr, "%sdsphost: reading %s failed\n", line, options.input.c_str());
            status = 1;
            break;
        }
        if (got == 0) break;
        const long long samples = got * r.format.channels;
        in.add(r.block.get(), samples);
        int32_t returned = module->ModifySamples(module, r.block.get(), static_cast<int32_t>(got), 16,
                                                 r.format.channels, r.format.rate);
        if (returned != got) {
            fprintf(stderr, "%sdsphost: the plug-in returned %d frames for a block of %lld; "
                    "a DSP plug-in here must not change the block length\n",
                    line, returned, got);
            status = 1;
            break;
        }
        out.add(r.block.get(), samples);
        if (!audio_write(r.writer, r.block.get(), got)) {
            fprintf(stderr, "%sdsphost: writing %s failed\n", line, options.output.c_str());
            status = 1;
            break;
        }
        done += got;
        if (progress) {
            int percent = static_cast<int>(100 * done / r.format.frames);
            if (percent != lastPercent) show_progress(done, r.format.frames);
            lastPercent = percent;
        }
    }
    if (progress) fprintf(stderr, "\n");
    return status;
}

// Closes the run; the output moves into place only when all went well.
int finish(const Options& options, Run& r, int status) {
    audio_close_read(r.reader);
    bool closed = audio_close_write(r.writer);
    unload_plugin(r.plugin);
    if (status == 0 && !closed) {
        fprintf(stderr, "dsphost: finishing %s failed\n", options.output.c_str());
        status = 1;
    }
    if (status == 0 && !replace_file(r.partial, options.output)) {
        fprintf(stderr, "dsphost: cannot move the result to %s\n", options.output.c_str());
        status = 1;
    }
    if (status != 0) remove(r.partial.c_str());
    unwatch_signals();
    return status;
}

int run(const Options& options) {
    Run r;
    if (!open_run(options, r)) return 1;
    DspModule* module = r.plugin.module;
    module->Init(module);
    Meter in, out;
    long long done = 0;
    int status = stream(options, r, in, out, done);
    module->Quit(module);
    status = finish(options, r, status);
    if (status != 0) return status;
    if (!options.quiet) {
        printf("dsphost: %lld frames (%.2f s, %d ch, %d Hz); peak in %s, out %s; "
               "%lld output samples at full scale\n",
               done, static_cast<double>(done) / r.format.rate, r.format.channels, r.format.rate,
               dbfs(in.peak).c_str(), dbfs(out.peak).c_str(), out.fullScale);
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    int code = parse_options(argc, argv, options);
    if (code == -1) return 0;
    if (code != 0) return code;
    return run(options);
}
