// dsphost's stream: reader, plug-in, writer and meters over a pool of chunks.
#include "host/dsphost_stream.h"

#include <pthread.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>
#include <thread>

#include "host/decoded_peak.h"
#include "host/dsphost_two_pass.h"
#include "host/media_file.h"
#include "host/run_settings.h"

std::mutex cleanup_mutex;
std::string unfinished_file;
std::string private_folder;

namespace {

void watch_signals(sigset_t signals) {
    int number = 0;
    if (sigwait(&signals, &number) != 0) return;
    cleanup_mutex.lock();  // held to the end: no output is moved into place after this
    if (!unfinished_file.empty()) {
        unlink(unfinished_file.c_str());
        unlink((unfinished_file + ".tags").c_str());  // a finished file being rewritten with its tags
    }
    remove_private_plugin_folder(private_folder);
    signal(number, SIG_DFL);
    sigset_t one;
    sigemptyset(&one);
    sigaddset(&one, number);
    pthread_sigmask(SIG_UNBLOCK, &one, nullptr);
    raise(number);
    _exit(128 + number);
}

}  // namespace

void start_signal_watch() {
    static bool started = false;  // one watcher for all the runs of a process
    if (started) return;
    started = true;
    // Every thread inherits the mask. A signal the caller chose to ignore
    // (nohup, a background job) stays ignored.
    sigset_t signals;
    sigemptyset(&signals);
    for (int s : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction current {};
        if (sigaction(s, nullptr, &current) == 0 && current.sa_handler != SIG_IGN) sigaddset(&signals, s);
    }
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    std::thread(watch_signals, signals).detach();
}

void fail(Run& run, const std::string& message) {
    std::lock_guard<std::mutex> lock(run.errorMutex);
    if (run.error.empty()) run.error = message;
    run.abort = true;
}

static void release(Run& run, Chunk* chunk) {
    if (--chunk->refs == 0) run.freeChunks.push(chunk);
}

// The chunk pool, taken before anything is written.
bool make_pool(Run& run) {
    const long long perChunk = run.chunkFrames * run.channels;
    long long count = poolTargetSamples / perChunk;
    count = count < 4 ? 4 : count > 16 ? 16 : count;
    for (long long i = 0; i < count; ++i) {
        auto chunk = std::make_unique<Chunk>();
        std::unique_ptr<float[]> samples(new (std::nothrow) float[static_cast<size_t>(perChunk)]);
        if (samples == nullptr) return false;
        chunk->samples = samples.get();
        run.storage.push_back(std::move(samples));
        if (run.metering) {
            std::unique_ptr<float[]> copy(new (std::nothrow) float[static_cast<size_t>(perChunk)]);
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
            input = sound_open_input(item.input, format, error, run.stream);
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
            const long long got = sound_read(input, chunk->samples, want, run.modifyFloat == nullptr, run.dither);
            if (got < 0) {
                run.freeChunks.push(chunk);
                const std::string problem = sound_input_problem(input);
                run.readError = "reading " + item.input + " failed" + (problem.empty() ? "" : ": " + problem);
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
                memcpy(chunk->before, chunk->samples, static_cast<size_t>(count) * sizeof(float));
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

namespace {

struct Segment {
    int file;
    long long frames;
    bool last;
};

}  // namespace

// A lossy output's decoded true peak against the ceiling asked for; false
// when it is over and another try will make it again, or when it cannot be
// decoded (the run then fails).
static bool peak_within_ceiling(Run& run, int file) {
    const Item& item = run.items[static_cast<size_t>(file)];
    if (std::isnan(run.peakCeiling) || !media_lossy(item.kind)) return true;
    double peak = 0;
    std::string error;
    if (!decoded_true_peak(item.partial, peak, error)) {
        fail(run, "cannot decode " + item.output + " to check its true peak: " + error);
        return false;
    }
    run.decodedPeak[static_cast<size_t>(file)] = peak;
    if (peak <= run.peakCeiling || run.lastTry) return true;
    run.overCeiling = true;
    return false;
}

namespace {

// The writer thread's state: the output open now and the stretches of the
// stream still to be written, file by file.
struct Writer {
    Run& run;
    std::deque<Segment> pending;
    long long skip;  // frames of the engine's delay still to drop
    int openFile = -1;
    SoundOutput* out = nullptr;
};

bool open_for(Writer& w, int file) {
    Run& run = w.run;
    Item& item = run.items[static_cast<size_t>(file)];
    std::string error;
    std::lock_guard<std::mutex> lock(cleanup_mutex);
    unfinished_file = item.partial;
    // Dither only where the full-resolution path's samples become 16 bits.
    const bool dither = run.dither && run.modifyFloat != nullptr;
    const OutputSource from{item.input, run.stream, run.quality};
    w.out = sound_open_output(item.partial, item.kind, item.bits, dither, run.rate, run.channels, error, from);
    if (w.out == nullptr) {
        // The file may have been created before its header could be written.
        remove(item.partial.c_str());
        unfinished_file.clear();
        fail(run, "cannot write " + item.output + ": " + error);
        return false;
    }
    w.openFile = file;
    return true;
}

// Whatever is still open did not get all its frames: it goes.
void discard(Writer& w) {
    if (w.out != nullptr) sound_close_output(w.out, false);
    w.out = nullptr;
    w.openFile = -1;
    std::lock_guard<std::mutex> lock(cleanup_mutex);
    if (!unfinished_file.empty()) remove(unfinished_file.c_str());
    unfinished_file.clear();
}

// A file has all its frames: closed, checked and moved into place.
void finish_file(Writer& w, int file) {
    if (w.openFile != file && !open_for(w, file)) return;
    Run& run = w.run;
    Item& item = run.items[static_cast<size_t>(file)];
    const bool closed = sound_close_output(w.out);
    w.out = nullptr;
    w.openFile = -1;
    const bool within = !closed || peak_within_ceiling(run, file);
    std::lock_guard<std::mutex> lock(cleanup_mutex);
    if (!closed) {
        fail(run, "finishing " + item.output + " failed");
    } else if (!within) {
        // (to be made again with a lower ceiling, or the check failed)
    } else if (rename(item.partial.c_str(), item.output.c_str()) != 0) {
        fail(run, "cannot move the result to " + item.output);
    } else {
        run.finished[static_cast<size_t>(file)] = 1;
        unfinished_file.clear();
        return;
    }
    remove(item.partial.c_str());
    unfinished_file.clear();
}

// A chunk of the processed stream, from frame `start` on, into the files its
// frames belong to.
void write_chunk(Writer& w, Chunk* chunk, long long start) {
    Run& run = w.run;
    while (!run.abort) {
        while (!w.pending.empty() && w.pending.front().frames == 0) {
            const Segment done = w.pending.front();
            w.pending.pop_front();
            if (done.last) finish_file(w, done.file);
            if (run.abort) break;
        }
        if (run.abort || start >= chunk->frames || w.pending.empty()) break;
        Segment& segment = w.pending.front();
        const long long take = std::min(segment.frames, chunk->frames - start);
        if (w.openFile != segment.file && !open_for(w, segment.file)) break;
        const float* samples = chunk->samples + start * run.channels;
        if (!sound_write(w.out, samples, take)) {
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
}

}  // namespace

void write_outputs(Run& run) {
    Writer w{run, {}, run.delay};
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
        if (chunk->kind == ChunkKind::audio) w.pending.push_back({chunk->file, chunk->frames, chunk->lastOfFile});
        const long long start = w.skip < chunk->frames ? w.skip : chunk->frames;
        w.skip -= start;
        write_chunk(w, chunk, start);
        release(run, chunk);
    }
    discard(w);
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

static void show_progress(long long done, long long total) {
    // A compressed file's length is known only roughly before it is decoded.
    const int percent = total > 0 ? static_cast<int>(std::min(100LL, 100 * done / total)) : 100;
    char bar[41];
    const int filled = percent * 40 / 100;
    for (int i = 0; i < 40; ++i) bar[i] = i < filled ? '#' : '.';
    bar[40] = '\0';
    fprintf(stderr, "\r[%s] %3d%%", bar, percent);
    fflush(stderr);
}

// One block through the plug-in, in float or, as the player does, in 16 bits
// (the samples are 16-bit values here); the frames the plug-in returned.
static int32_t play_block(Run& run, DspModule* module, float* samples, long long n) {
    const int32_t frames = static_cast<int32_t>(n);
    if (run.modifyFloat != nullptr) return run.modifyFloat(module, samples, frames, run.channels, run.rate);
    const size_t count = static_cast<size_t>(n * run.channels);
    for (size_t i = 0; i < count; ++i) run.fixed[i] = static_cast<int16_t>(samples[i]);
    const int32_t returned = module->ModifySamples(module, run.fixed.data(), frames, 16, run.channels, run.rate);
    for (size_t i = 0; i < count; ++i) samples[i] = run.fixed[i];
    return returned;
}

// A chunk through the plug-in in blocks, the programme's loudness told first
// when the chunk starts a file (two passes); false, with the run failed,
// when the plug-in changes a block's length.
static bool play_chunk(Run& run, DspModule* module, Chunk* chunk, int& toldFile) {
    if (chunk->kind == ChunkKind::audio && chunk->file != toldFile && !run.programmeLufs.empty()) {
        toldFile = chunk->file;
        tell_programme(run, module, chunk->file);
    }
    for (long long at = 0; at < chunk->frames; at += run.block) {
        const long long n = std::min<long long>(run.block, chunk->frames - at);
        const int32_t returned = play_block(run, module, chunk->samples + at * run.channels, n);
        if (returned != n) {
            fail(run, "the plug-in returned " + std::to_string(returned) + " frames for a block of " +
                          std::to_string(n) + "; a DSP plug-in here must not change the block length");
            return false;
        }
    }
    return true;
}

// Silence pushes the last delayed frames out of the engine.
static void play_flush(Run& run, DspModule* module, int& toldFile) {
    for (long long left = run.delay; left > 0 && !run.abort;) {
        Chunk* chunk = run.freeChunks.pop();
        chunk->kind = ChunkKind::flush;
        chunk->frames = std::min(left, run.chunkFrames);
        chunk->refs = 1;
        memset(chunk->samples, 0, static_cast<size_t>(chunk->frames * run.channels) * sizeof(float));
        if (!play_chunk(run, module, chunk, toldFile)) {
            release(run, chunk);
            break;
        }
        left -= chunk->frames;
        run.toWrite.push(chunk);
    }
}

void play(Run& run, DspModule* module, bool progress, long long total) {
    module->Init(module);
    long long done = 0;
    int lastPercent = -1, toldFile = -1;
    Chunk* end = nullptr;
    for (;;) {
        Chunk* chunk = run.toProcess.pop();
        if (chunk->kind == ChunkKind::end) {
            end = chunk;
            break;
        }
        if (run.abort || !play_chunk(run, module, chunk, toldFile)) {
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
    play_flush(run, module, toldFile);
    run.toWrite.push(end);
    module->Quit(module);
}

