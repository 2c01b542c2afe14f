// dsphost: plays audio files through a DSP plug-in's ModifySamples as the
// player does and writes the results as 16-bit WAV or FLAC. Several inputs
// form one stream (the plug-in's state carries from file to file); settings
// can be given for one run; the loudness before and after is measured.
//
// Threads: a reader decodes into a pool of large chunks, this thread runs the
// plug-in over each chunk in player-sized blocks, a writer spreads the
// results over the output files, and two meters (before, after) measure.
// A watcher thread takes the interrupting signals.
#include <pthread.h>
#include <strings.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <memory>
#include <mutex>
#include <new>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "host/loudness.h"
#include "host/plot.h"
#include "host/plugin_loader.h"
#include "host/report.h"
#include "host/run_settings.h"
#include "host/sound_file.h"

namespace fs = std::filesystem;

namespace {

constexpr int defaultBlockFrames = 576;
constexpr long long chunkTargetFrames = 131072;   // frames per chunk, rounded up to whole blocks
constexpr long long poolTargetSamples = 1 << 22; // samples in all chunks together (8 MiB)

void print_usage(FILE* out) {
    fprintf(out,
            "Usage: dsphost [options] INPUT OUTPUT\n"
            "       dsphost [options] -o OUTDIR INPUT...\n"
            "Runs a DSP plug-in over audio files as the player would and writes the\n"
            "results as 16-bit PCM. With -o, the inputs are played as one stream in the\n"
            "order given (the plug-in is started once and its state carries from one file\n"
            "to the next) and each result goes to OUTDIR under the input's base name.\n"
            "Inputs: any file libsndfile reads, mono or stereo, one sample rate and channel\n"
            "count for the whole set; wider or float samples are reduced to 16 bits.\n"
            "\n"
            "Options:\n"
            "  -o, --output-dir DIR  write each input's result to DIR/NAME.wav (or .flac)\n"
            "  -f, --format FORMAT   wav or flac, 16-bit either way (default wav; for a\n"
            "                        single OUTPUT named .flac, flac)\n"
            "  -s, --set KEY=VALUE   a setting for this run only (repeatable), e.g.\n"
            "                        enhance=2, amp_max=70, eq=50,60,40, eq_f=100,1000,8000,\n"
            "                        enh_limiter=...; keys: enhance stereo_width hpcutoff\n"
            "                        amp_max amp_up amp_dwn threshold tab_sel eq_enable eq\n"
            "                        eq_f enh_multi1 enh_multi2 enh_limiter\n"
            "  -P, --preset NAME     a built-in preset by its list name, without brackets,\n"
            "                        any case: Night, Party, Club, AC Radio, Simple loud,\n"
            "                        Pump reduce, Normalize, Careful, Equalizer (classic\n"
            "                        engine), 3 band enhance, 3 band soft, 4 band enhance,\n"
            "                        4 band intense 1, 4 band intense 2, 4 band deep bass,\n"
            "                        2 band, Treble boost, Bass + Treble, Default\n"
            "                        (multiband engine); also the user's own presets\n"
            "  -m, --mode 0|1|2      short for --set enhance=N (0 off, 1 classic, 2 multiband)\n"
            "                        Settings apply in the order given, after the user's\n"
            "                        settings file, which is read but never changed.\n"
            "  -l, --loudness        measure loudness before and after and print a table\n"
            "  -r, --report FILE     measure as -l and write the figures and the settings\n"
            "                        used as JSON\n"
            "  -g, --plot FILE       measure as -l and draw short-term loudness before and\n"
            "                        after over time, 1200x500 (.png or .svg)\n"
            "      --no-dither       reduce wider samples by rounding, without TPDF dither\n"
            "  -d, --delay keep|remove  keep or take out the multiband engine's delay\n"
            "                        (see below)\n"
            "  -p, --plugin PATH     the plug-in library (default: the dsp_redozer library\n"
            "                        beside dsphost, else ../lib/dsp_redozer/)\n"
            "  -b, --block FRAMES    frames per ModifySamples call (default %d)\n"
            "  -q, --quiet           no progress bar, summary or table\n"
            "  -h, --help            show this text\n"
            "  --                    everything after it is a file name\n"
            "\n"
            "The multiband engine delays its output by 10 ms per stage (bands, limiter).\n"
            "With --delay remove (the default with -o) dsphost takes the delay out, so each\n"
            "output holds exactly its input's frames: the engine's silent start is dropped,\n"
            "the delay carries over file boundaries, and the end of the last file is\n"
            "pushed out with silence. With --delay keep (the default for INPUT OUTPUT) the\n"
            "output is the stream exactly as the plug-in returns it, as the player plays it.\n"
            "Outputs are written beside their destination and moved into place when\n"
            "complete; an interruption removes the unfinished one. A set stops at an input\n"
            "that cannot be read; the outputs finished before it stay complete.\n"
            "Exit status: 0 success, 1 a file or the plug-in failed, 2 bad usage.\n",
            defaultBlockFrames);
}

struct Override {
    enum Kind { set, preset, mode } kind;
    std::string text;
};

struct Options {
    std::vector<std::string> inputs;
    std::string output, outputDir, plugin, reportPath, plotPath;
    std::vector<Override> overrides;
    OutputKind format = OutputKind::wav;
    bool formatGiven = false;
    long block = defaultBlockFrames;
    bool quiet = false, loudness = false, dither = true;
    int removeDelay = -1;  // -1: the form's default (remove with -o, keep otherwise)
};

// Returns 0 to go on, -1 after --help, otherwise the exit code.
int parse_options(int argc, char** argv, Options& options) {
    std::vector<std::string> positional;
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        auto value = [&](const char* name) -> const char* {
            if (i + 1 >= argc) {
                fprintf(stderr, "dsphost: %s needs a value\n", name);
                return nullptr;
            }
            return argv[++i];
        };
        if (optionsEnded || arg == "-" || arg.empty() || arg[0] != '-') {
            positional.push_back(arg);
            continue;
        }
        const char* v = nullptr;
        if (arg == "--") {
            optionsEnded = true;
        } else if (arg == "-h" || arg == "--help") {
            print_usage(stdout);
            return -1;
        } else if (arg == "-q" || arg == "--quiet") {
            options.quiet = true;
        } else if (arg == "-l" || arg == "--loudness") {
            options.loudness = true;
        } else if (arg == "--no-dither") {
            options.dither = false;
        } else if (arg == "-p" || arg == "--plugin") {
            if ((v = value("--plugin")) == nullptr) return 2;
            options.plugin = v;
        } else if (arg == "-o" || arg == "--output-dir") {
            if ((v = value("--output-dir")) == nullptr) return 2;
            options.outputDir = v;
        } else if (arg == "-r" || arg == "--report") {
            if ((v = value("--report")) == nullptr) return 2;
            options.reportPath = v;
        } else if (arg == "-g" || arg == "--plot") {
            if ((v = value("--plot")) == nullptr) return 2;
            options.plotPath = v;
            if (!plot_extension_known(options.plotPath)) {
                fprintf(stderr, "dsphost: --plot writes .png or .svg files, not %s\n", v);
                return 2;
            }
        } else if (arg == "-f" || arg == "--format") {
            if ((v = value("--format")) == nullptr) return 2;
            options.formatGiven = true;
            if (strcmp(v, "wav") == 0) {
                options.format = OutputKind::wav;
            } else if (strcmp(v, "flac") == 0) {
                options.format = OutputKind::flac;
            } else {
                fprintf(stderr, "dsphost: --format takes wav or flac, not %s\n", v);
                return 2;
            }
        } else if (arg == "-d" || arg == "--delay") {
            if ((v = value("--delay")) == nullptr) return 2;
            if (strcmp(v, "keep") == 0) {
                options.removeDelay = 0;
            } else if (strcmp(v, "remove") == 0) {
                options.removeDelay = 1;
            } else {
                fprintf(stderr, "dsphost: --delay takes keep or remove, not %s\n", v);
                return 2;
            }
        } else if (arg == "-s" || arg == "--set") {
            if ((v = value("--set")) == nullptr) return 2;
            options.overrides.push_back({Override::set, v});
        } else if (arg == "-P" || arg == "--preset") {
            if ((v = value("--preset")) == nullptr) return 2;
            options.overrides.push_back({Override::preset, v});
        } else if (arg == "-m" || arg == "--mode") {
            if ((v = value("--mode")) == nullptr) return 2;
            if (strcmp(v, "0") != 0 && strcmp(v, "1") != 0 && strcmp(v, "2") != 0) {
                fprintf(stderr, "dsphost: --mode takes 0 (off), 1 (classic) or 2 (multiband), not %s\n", v);
                return 2;
            }
            options.overrides.push_back({Override::mode, v});
        } else if (arg == "-b" || arg == "--block") {
            if ((v = value("--block")) == nullptr) return 2;
            char* end = nullptr;
            options.block = strtol(v, &end, 10);
            if (*v == '\0' || *end != '\0' || options.block < 1 || options.block > 1000000) {
                fprintf(stderr, "dsphost: --block takes a frame count from 1 to 1000000\n");
                return 2;
            }
        } else {
            fprintf(stderr, "dsphost: unknown option %s (see --help)\n", arg.c_str());
            return 2;
        }
    }
    if (!options.outputDir.empty()) {
        if (positional.empty()) {
            fprintf(stderr, "dsphost: expected one or more inputs after -o %s (see --help)\n",
                    options.outputDir.c_str());
            return 2;
        }
        options.inputs = positional;
    } else {
        if (positional.size() != 2) {
            fprintf(stderr, "dsphost: expected an input and an output file (see --help)\n");
            return 2;
        }
        options.inputs = {positional[0]};
        options.output = positional[1];
        // A single output named .flac is written as FLAC unless --format says otherwise.
        const std::string& out = options.output;
        if (!options.formatGiven && out.size() > 5 &&
            strcasecmp(out.c_str() + out.size() - 5, ".flac") == 0)
            options.format = OutputKind::flac;
    }
    if (options.plugin.empty()) options.plugin = default_plugin_path();
    return 0;
}

// ---- Interruption ------------------------------------------------------------
// The interrupting signals are taken by a watcher thread, which removes the
// unfinished output and the private settings folder, then lets the signal end
// the process as if there were no handler.

std::mutex cleanup_mutex;
std::string unfinished_file;   // the output being written, under cleanup_mutex
std::string private_folder;    // under cleanup_mutex

void watch_signals(sigset_t signals) {
    int number = 0;
    if (sigwait(&signals, &number) != 0) return;
    cleanup_mutex.lock();  // held to the end: no output is moved into place after this
    if (!unfinished_file.empty()) unlink(unfinished_file.c_str());
    remove_private_plugin_folder(private_folder);
    signal(number, SIG_DFL);
    sigset_t one;
    sigemptyset(&one);
    sigaddset(&one, number);
    pthread_sigmask(SIG_UNBLOCK, &one, nullptr);
    raise(number);
    _exit(128 + number);
}

// ---- The stream -------------------------------------------------------------

template <typename T>
struct Queue {
    std::mutex mutex;
    std::condition_variable ready;
    std::deque<T> items;
    void push(T item) {
        {
            std::lock_guard<std::mutex> lock(mutex);
            items.push_back(std::move(item));
        }
        ready.notify_one();
    }
    T pop() {
        std::unique_lock<std::mutex> lock(mutex);
        ready.wait(lock, [&] { return !items.empty(); });
        T item = std::move(items.front());
        items.pop_front();
        return item;
    }
};

enum class ChunkKind { audio, flush, end };

struct Chunk {
    ChunkKind kind = ChunkKind::audio;
    int file = 0;
    long long frames = 0;
    bool lastOfFile = false;
    int16_t* samples = nullptr;
    int16_t* before = nullptr;  // a copy of the input for the meter
    std::atomic<int> refs{0};
};

struct MeterJob {
    Chunk* chunk = nullptr;  // null: no more jobs
    const int16_t* samples = nullptr;
    long long frames = 0;
    int file = 0;
};

struct Item {
    std::string input, output, partial;
    SoundFormat format;
    SoundInput* opened = nullptr;  // streams stay open from the check on
};

struct Run {
    std::vector<Item> items;
    int rate = 0, channels = 0;
    long long delay = 0, chunkFrames = 0;
    long block = defaultBlockFrames;
    bool dither = true, metering = false;
    OutputKind format = OutputKind::wav;

    std::vector<std::unique_ptr<Chunk>> chunks;
    std::vector<std::unique_ptr<int16_t[]>> storage;
    Queue<Chunk*> freeChunks, toProcess, toWrite;
    Queue<MeterJob> beforeJobs, afterJobs;

    std::atomic<bool> abort{false};
    std::mutex errorMutex;
    std::string error;      // the first failure that stops the run
    std::string readError;  // an input that could not be read: the stream ends there

    std::vector<PeakCount> peakIn, peakOut;
    std::vector<long long> framesIn;
    std::vector<char> finished;
    std::vector<LoudnessMeter> before, after;
};

void fail(Run& run, const std::string& message) {
    std::lock_guard<std::mutex> lock(run.errorMutex);
    if (run.error.empty()) run.error = message;
    run.abort = true;
}

void release(Run& run, Chunk* chunk) {
    if (--chunk->refs == 0) run.freeChunks.push(chunk);
}

// The chunk pool, taken before anything is written.
bool make_pool(Run& run) {
    const long long perChunk = run.chunkFrames * run.channels;
    long long count = poolTargetSamples / perChunk;
    count = count < 4 ? 4 : count > 16 ? 16 : count;
    for (long long i = 0; i < count; ++i) {
        auto chunk = std::make_unique<Chunk>();
        std::unique_ptr<int16_t[]> samples(new (std::nothrow) int16_t[static_cast<size_t>(perChunk)]);
        if (samples == nullptr) return false;
        chunk->samples = samples.get();
        run.storage.push_back(std::move(samples));
        if (run.metering) {
            std::unique_ptr<int16_t[]> copy(new (std::nothrow) int16_t[static_cast<size_t>(perChunk)]);
            if (copy == nullptr) return false;
            chunk->before = copy.get();
            run.storage.push_back(std::move(copy));
        }
        run.freeChunks.push(chunk.get());
        run.chunks.push_back(std::move(chunk));
    }
    return true;
}

void read_inputs(Run& run) {
    for (size_t i = 0; i < run.items.size() && !run.abort; ++i) {
        Item& item = run.items[i];
        SoundInput* input = item.opened;
        item.opened = nullptr;
        if (input == nullptr) {
            SoundFormat format;
            std::string error;
            input = sound_open_input(item.input, format, error);
            if (input == nullptr) {
                run.readError = "cannot read " + item.input + ": " + error;
                break;
            }
            if (format.rate != run.rate || format.channels != run.channels) {
                sound_close_input(input);
                run.readError = item.input + " changed its format during the run";
                break;
            }
        }
        // A pipe is passed on block by block, as it comes.
        const long long want = is_stream(item.input) ? run.block : run.chunkFrames;
        bool failed = false;
        for (;;) {
            Chunk* chunk = run.freeChunks.pop();
            if (run.abort) {
                run.freeChunks.push(chunk);
                break;
            }
            const long long got = sound_read(input, chunk->samples, want, run.dither);
            if (got < 0) {
                run.freeChunks.push(chunk);
                run.readError = "reading " + item.input + " failed";
                failed = true;
                break;
            }
            chunk->kind = ChunkKind::audio;
            chunk->file = static_cast<int>(i);
            chunk->frames = got;
            chunk->lastOfFile = got < want;
            chunk->refs = run.metering ? 2 : 1;
            const long long count = got * run.channels;
            run.peakIn[i].add(chunk->samples, count);
            run.framesIn[i] += got;
            if (run.metering) {
                memcpy(chunk->before, chunk->samples, static_cast<size_t>(count) * sizeof(int16_t));
                run.beforeJobs.push({chunk, chunk->before, got, static_cast<int>(i)});
            }
            run.toProcess.push(chunk);
            if (chunk->lastOfFile) break;
        }
        sound_close_input(input);
        if (failed) break;
    }
    Chunk* end = run.freeChunks.pop();
    end->kind = ChunkKind::end;
    end->refs = 1;
    run.toProcess.push(end);
}

struct Segment {
    int file;
    long long frames;
    bool last;
};

void write_outputs(Run& run) {
    std::deque<Segment> pending;
    long long skip = run.delay;
    int openFile = -1;
    SoundOutput* out = nullptr;

    auto open_for = [&](int file) {
        Item& item = run.items[static_cast<size_t>(file)];
        std::string error;
        std::lock_guard<std::mutex> lock(cleanup_mutex);
        unfinished_file = item.partial;
        out = sound_open_output(item.partial, run.format, run.rate, run.channels, error);
        if (out == nullptr) {
            // The file may have been created before its header could be written.
            remove(item.partial.c_str());
            unfinished_file.clear();
            fail(run, "cannot write " + item.output + ": " + error);
            return false;
        }
        openFile = file;
        return true;
    };
    auto discard = [&] {
        if (out != nullptr) sound_close_output(out);
        out = nullptr;
        openFile = -1;
        std::lock_guard<std::mutex> lock(cleanup_mutex);
        if (!unfinished_file.empty()) remove(unfinished_file.c_str());
        unfinished_file.clear();
    };
    auto finish = [&](int file) {
        if (openFile != file && !open_for(file)) return;
        Item& item = run.items[static_cast<size_t>(file)];
        const bool closed = sound_close_output(out);
        out = nullptr;
        openFile = -1;
        std::lock_guard<std::mutex> lock(cleanup_mutex);
        if (!closed) {
            fail(run, "finishing " + item.output + " failed");
        } else if (rename(item.partial.c_str(), item.output.c_str()) != 0) {
            fail(run, "cannot move the result to " + item.output);
        } else {
            run.finished[static_cast<size_t>(file)] = 1;
            unfinished_file.clear();
            return;
        }
        remove(item.partial.c_str());
        unfinished_file.clear();
    };

    for (;;) {
        Chunk* chunk = run.toWrite.pop();
        if (chunk->kind == ChunkKind::end) {
            release(run, chunk);
            break;
        }
        if (run.abort) {
            release(run, chunk);
            continue;
        }
        if (chunk->kind == ChunkKind::audio) pending.push_back({chunk->file, chunk->frames, chunk->lastOfFile});
        long long start = skip < chunk->frames ? skip : chunk->frames;
        skip -= start;
        while (!run.abort) {
            while (!pending.empty() && pending.front().frames == 0) {
                const Segment done = pending.front();
                pending.pop_front();
                if (done.last) finish(done.file);
                if (run.abort) break;
            }
            if (run.abort || start >= chunk->frames || pending.empty()) break;
            Segment& segment = pending.front();
            const long long take = std::min(segment.frames, chunk->frames - start);
            if (openFile != segment.file && !open_for(segment.file)) break;
            const int16_t* samples = chunk->samples + start * run.channels;
            if (!sound_write(out, samples, take)) {
                fail(run, "writing " + run.items[static_cast<size_t>(segment.file)].output + " failed");
                break;
            }
            run.peakOut[static_cast<size_t>(segment.file)].add(samples, take * run.channels);
            if (run.metering) {
                ++chunk->refs;
                run.afterJobs.push({chunk, samples, take, segment.file});
            }
            segment.frames -= take;
            start += take;
        }
        release(run, chunk);
    }
    // Whatever is still open did not get all its frames.
    discard();
}

void measure(Run& run, Queue<MeterJob>& jobs, std::vector<LoudnessMeter>& meters) {
    int current = -1;
    long long seen = 0;  // frames so far, so that each file's curve starts where it plays
    for (;;) {
        MeterJob job = jobs.pop();
        if (job.chunk == nullptr) break;
        if (job.file != current) {
            current = job.file;
            meter_start(meters[static_cast<size_t>(current)], run.rate, run.channels,
                        static_cast<double>(seen) / run.rate);
        }
        LoudnessMeter& meter = meters[static_cast<size_t>(current)];
        if (meter.state != nullptr) meter_add(meter, job.samples, job.frames);
        seen += job.frames;
        release(run, job.chunk);
    }
}

void show_progress(long long done, long long total) {
    const int percent = total > 0 ? static_cast<int>(100 * done / total) : 100;
    char bar[41];
    const int filled = percent * 40 / 100;
    for (int i = 0; i < 40; ++i) bar[i] = i < filled ? '#' : '.';
    bar[40] = '\0';
    fprintf(stderr, "\r[%s] %3d%%", bar, percent);
    fflush(stderr);
}

// Runs the plug-in over the stream on this thread. Returns false when the
// plug-in broke the block contract.
void play(Run& run, DspModule* module, bool progress, long long total) {
    module->Init(module);
    long long done = 0;
    int lastPercent = -1;
    auto process = [&](Chunk* chunk) {
        for (long long at = 0; at < chunk->frames; at += run.block) {
            const long long n = std::min<long long>(run.block, chunk->frames - at);
            const int32_t returned = module->ModifySamples(module, chunk->samples + at * run.channels,
                                                           static_cast<int32_t>(n), 16, run.channels, run.rate);
            if (returned != n) {
                fail(run, "the plug-in returned " + std::to_string(returned) + " frames for a block of " +
                              std::to_string(n) + "; a DSP plug-in here must not change the block length");
                return false;
            }
        }
        return true;
    };
    Chunk* end = nullptr;
    for (;;) {
        Chunk* chunk = run.toProcess.pop();
        if (chunk->kind == ChunkKind::end) {
            end = chunk;
            break;
        }
        if (run.abort || !process(chunk)) {
            release(run, chunk);
            continue;
        }
        done += chunk->frames;
        if (progress) {
            const int percent = static_cast<int>(100 * done / total);
            if (percent != lastPercent) show_progress(done, total);
            lastPercent = percent;
        }
        run.toWrite.push(chunk);
    }
    // Silence pushes the last delayed frames out of the engine.
    for (long long left = run.delay; left > 0 && !run.abort;) {
        Chunk* chunk = run.freeChunks.pop();
        chunk->kind = ChunkKind::flush;
        chunk->frames = std::min(left, run.chunkFrames);
        chunk->refs = 1;
        memset(chunk->samples, 0, static_cast<size_t>(chunk->frames * run.channels) * sizeof(int16_t));
        if (!process(chunk)) {
            release(run, chunk);
            break;
        }
        left -= chunk->frames;
        run.toWrite.push(chunk);
    }
    run.toWrite.push(end);
    module->Quit(module);
}

// ---- Checks before anything is written --------------------------------------

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

int check_inputs(Run& run, const Options& options) {
    for (size_t i = 0; i < run.items.size(); ++i) {
        Item& item = run.items[i];
        std::string error;
        SoundInput* input = sound_open_input(item.input, item.format, error);
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

std::string dbfs(int peak) {
    if (peak <= 0) return "-inf dBFS";
    char text[32];
    snprintf(text, sizeof text, "%.2f dBFS", 20.0 * std::log10(peak / 32768.0));
    return text;
}



int run_all(const Options& options) {
    Run run;
    run.block = options.block;
    run.dither = options.dither;
    run.format = options.format;
    run.metering = options.loudness || !options.reportPath.empty() || !options.plotPath.empty();
    const char* extension = options.format == OutputKind::flac ? ".flac" : ".wav";
    for (const std::string& input : options.inputs) {
        Item item;
        item.input = input;
        if (options.outputDir.empty()) {
            item.output = options.output;
        } else {
            item.output = (fs::path(options.outputDir) / fs::path(input).filename().stem()).string() + extension;
        }
        item.partial = item.output + ".partial";
        run.items.push_back(item);
    }
    auto close_streams = [&] {
        for (Item& item : run.items)
            if (item.opened != nullptr) sound_close_input(item.opened);
        for (Item& item : run.items) item.opened = nullptr;
    };

    // The settings: the user's file as the plug-in would find it, plus this run's lines.
    std::string userText;
    bool userFileExists = false;
    const std::string userFile = effective_settings_path(options.plugin);
    if (!read_text_file(userFile, userText, userFileExists)) {
        fprintf(stderr, "dsphost: cannot read the settings file %s\n", userFile.c_str());
        return 1;
    }
    std::vector<SettingLine> lines;
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
    const std::string runText = run_settings_text(userText, lines);

    if (int status = check_inputs(run, options); status != 0) {
        close_streams();
        return status;
    }

    // Only the redozer plug-in reads these settings and delays its output.
    const bool ours = fs::path(options.plugin).filename() == "dsp_redozer.so";
    const auto values = effective_values(runText);
    const long long engineDelay = ours ? engine_delay_frames(values, run.rate, run.channels) : 0;
    // A single file keeps the plug-in's own stream by default, as it always has.
    const bool removeDelay = options.removeDelay >= 0 ? options.removeDelay == 1 : !options.outputDir.empty();
    run.delay = removeDelay ? engineDelay : 0;

    const long long blocksPerChunk = std::max<long long>(1, (chunkTargetFrames + run.block - 1) / run.block);
    run.chunkFrames = blocksPerChunk * run.block;
    if (!make_pool(run)) {
        fprintf(stderr, "dsphost: not enough memory for blocks of %ld frames of %d channels\n", options.block,
                run.channels);
        close_streams();
        return 1;
    }

    // The watcher takes the signals from here on; every thread inherits the mask.
    // A signal the caller chose to ignore (nohup, a background job) stays ignored.
    sigset_t signals;
    sigemptyset(&signals);
    for (int s : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction current {};
        if (sigaction(s, nullptr, &current) == 0 && current.sa_handler != SIG_IGN) sigaddset(&signals, s);
    }
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    std::thread(watch_signals, signals).detach();

    std::string libraryPath = options.plugin;
    if (!lines.empty()) {
        std::string error, copy;
        std::lock_guard<std::mutex> lock(cleanup_mutex);
        private_folder = make_private_plugin_folder(options.plugin, runText, copy, error);
        if (private_folder.empty()) {
            fprintf(stderr, "dsphost: %s\n", error.c_str());
            close_streams();
            return 1;
        }
        libraryPath = copy;
    }
    auto drop_private_folder = [&] {
        std::lock_guard<std::mutex> lock(cleanup_mutex);
        remove_private_plugin_folder(private_folder);
        private_folder.clear();
    };

    LoadedPlugin plugin;
    std::string error;
    if (!load_plugin(libraryPath, plugin, error)) {
        fprintf(stderr, "dsphost: %s\n", error.c_str());
        drop_private_folder();
        close_streams();
        return 1;
    }

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
    play(run, plugin.module, progress, total);
    reader.join();
    writer.join();
    if (run.metering) {
        run.beforeJobs.push(MeterJob{});
        run.afterJobs.push(MeterJob{});
        beforeMeter.join();
        afterMeter.join();
    }
    if (progress) fprintf(stderr, "\n");
    unload_plugin(plugin);
    drop_private_folder();
    close_streams();

    if (!run.error.empty() || !run.readError.empty()) {
        fprintf(stderr, "dsphost: %s\n", (!run.error.empty() ? run.error : run.readError).c_str());
        for (size_t i = 0; i < count; ++i)
            if (run.finished[i] && count > 1) fprintf(stderr, "dsphost: %s is complete\n", run.items[i].output.c_str());
        return 1;
    }

    if (!options.quiet) {
        for (size_t i = 0; i < count; ++i) {
            const Item& item = run.items[i];
            const long long frames = run.framesIn[i];
            std::string conversion;
            if (item.format.converted)
                conversion = "; " + item.format.description + " reduced to 16-bit " +
                             (options.dither ? "with TPDF dither" : "by rounding, without dither");
            printf("dsphost: %s%lld frames (%.2f s, %d ch, %d Hz); peak in %s, out %s; "
                   "%lld output samples at full scale%s\n",
                   options.outputDir.empty() ? "" : (item.output + ": ").c_str(), frames, static_cast<double>(frames) / run.rate,
                   run.channels, run.rate, dbfs(run.peakIn[i].peak).c_str(), dbfs(run.peakOut[i].peak).c_str(),
                   run.peakOut[i].fullScale, conversion.c_str());
        }
        if (run.delay > 0)
            printf("dsphost: the engine's delay of %lld frames was taken out of the outputs\n", run.delay);
        else if (engineDelay > 0)
            printf("dsphost: the output lags the input by the engine's delay of %lld frames "
                   "(--delay remove takes it out)\n", engineDelay);
    }
    if (!run.metering) return 0;

    RunReport report;
    report.rate = run.rate;
    report.channels = run.channels;
    report.delayFrames = run.delay;
    report.dither = options.dither;
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

}  // namespace

int main(int argc, char** argv) {
    Options options;
    const int code = parse_options(argc, argv, options);
    if (code == -1) return 0;
    if (code != 0) return code;
    return run_all(options);
}
