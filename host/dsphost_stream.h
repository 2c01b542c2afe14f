// dsphost's stream: the reader, the plug-in's thread, the writer and the two
// meters, joined by queues of large chunks; and the interruption watcher
// that removes unfinished files.
#pragma once

#include <signal.h>

#include <atomic>
#include <cmath>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "host/dsphost_options.h"
#include "host/loudness.h"
#include "host/sound_file.h"
#include "plugin/dsp_interface.h"

constexpr long long chunkTargetFrames = 131072;   // frames per chunk, rounded up to whole blocks
constexpr long long poolTargetSamples = 1 << 22; // samples in all chunks together (8 MiB)

// The interrupting signals are taken by a watcher thread, which removes the
// unfinished output and the private settings folder, then lets the signal end
// the process as if there were no handler.
extern std::mutex cleanup_mutex;
extern std::string unfinished_file;   // the output being written, under cleanup_mutex
extern std::string private_folder;    // under cleanup_mutex
// Blocks SIGINT, SIGTERM and SIGHUP (those not ignored) in every thread from
// here on and starts the watcher.
void start_signal_watch();

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
    float* samples = nullptr;   // in the 16-bit scale (see sound_file.h)
    float* before = nullptr;  // a copy of the input for the meter
    std::atomic<int> refs{0};
};

struct MeterJob {
    Chunk* chunk = nullptr;  // null: no more jobs
    const float* samples = nullptr;
    long long frames = 0;
    int file = 0;
};

struct Item {
    std::string input, output, partial;
    OutputKind kind = OutputKind::wav;  // the output's container and codec
    OutputBits bits = OutputBits::pcm16;  // a WAV or FLAC output's samples
    SoundFormat format;
    SoundInput* opened = nullptr;  // streams stay open from the check on
};

struct Run {
    std::vector<Item> items;
    int rate = 0, channels = 0;
    long long delay = 0, chunkFrames = 0;
    long block = defaultBlockFrames;
    bool dither = true, metering = false;
    int quality = defaultQuality, stream = -1;
    // The plug-in's full-resolution path (its float entry) instead of the
    // player's 16-bit ModifySamples: wider input or output, and the entry there.
    DspModifyFloatFunction modifyFloat = nullptr;
    bool fullResolutionAsked = false;
    // --two-pass: each input's integrated loudness from the first pass, told
    // to the plug-in (its programme entry) at each file's first block.
    std::vector<double> programmeLufs;
    DspProgrammeFunction tellProgramme = nullptr;
    double stageTarget = NAN;  // the leveller's target (LUFS), NaN while it is off

    std::vector<std::unique_ptr<Chunk>> chunks;
    std::vector<std::unique_ptr<float[]>> storage;
    std::vector<int16_t> fixed;  // one block for ModifySamples
    Queue<Chunk*> freeChunks, toProcess, toWrite;
    Queue<MeterJob> beforeJobs, afterJobs;

    std::atomic<bool> abort{false};
    std::mutex errorMutex;
    std::string error;      // the first failure that stops the run
    std::string readError;  // an input that could not be read: the stream ends there

    // The true-peak ceiling asked for (dBTP; NaN: none to check): each lossy
    // output is decoded and measured before it is moved into place. One over
    // it is removed and overCeiling set, except on the last try, which keeps it.
    double peakCeiling = NAN;
    bool lastTry = true, overCeiling = false;
    int tries = 1, ceilingTenths = 0;  // the plug-in's ceiling on this try, tenths of a dB under 0 dBTP
    int previousTenths = 0;            // the try before, and its highest decoded peak
    double previousPeak = 0;
    std::vector<double> decodedPeak;  // per file; NaN when not checked

    std::vector<PeakCount> peakIn, peakOut;
    std::vector<long long> framesIn;
    std::vector<char> finished;
    std::vector<LoudnessMeter> before, after;
};

void fail(Run& run, const std::string& message);
// The chunk pool, taken before anything is written; false when memory is short.
bool make_pool(Run& run);
// The threads' bodies.
void read_inputs(Run& run);
void write_outputs(Run& run);
void measure(Run& run, Queue<MeterJob>& jobs, std::vector<LoudnessMeter>& meters);
// Runs the plug-in over the stream on this thread.
void play(Run& run, DspModule* module, bool progress, long long total);
