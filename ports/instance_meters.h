// The level, loudness and true-peak read-outs of a float instance. The meters
// run on the audio thread, or, when the host lends a worker thread (LV2's
// worker), there: the audio thread then only copies each engine block, before
// and after the engine, into a queue the worker drains, and reads back the
// values the worker last published. Each meter runs only while a host has
// connected one of its read-outs.
#pragma once

#include <atomic>

#include "dsp/level_meters.h"
#include "dsp/true_peak.h"
#include "ports/port_table.h"

namespace ports {

struct MeterQueue;

struct InstanceMeters {
    int channels = 1;
    int rate = 44100;
    bool levels = false, loudness = false, truePeak = false;  // which read-outs are connected

    // The meters: the audio thread's, or the worker's once `queue` is set.
    LevelMeter input = {};
    LevelMeter output = {};
    TruePeakMeter peak = {};
    float inputBlock[blockFrames * 2] = {};  // the block before the engine, for the loudness

    // Offloaded: the queue, and what the next block tells the worker.
    MeterQueue* queue = nullptr;
    bool slotOpen = false;   // a slot is lent for the block being gathered
    bool restart = false;    // start every meter afresh
    bool resetPeak = false;  // start the true peak afresh
    bool waiting = false;    // blocks queued since the glue last asked
};

// Set-up for a rate and channel count; everything reads silence.
void metersStart(InstanceMeters& m, int rate, int channels);
// Every meter afresh, as at set-up (the instance's reset; not during run()).
void metersRestart(InstanceMeters& m);
// Which meters run, from the read-out ports a host has connected.
void metersConnect(InstanceMeters& m, float* const* readoutPort);
// The true peak afresh from the next block on.
void metersResetPeak(InstanceMeters& m);

// Offloaded: the buffers of a queue slot for the next engine block, before
// any of it is gathered: the block is gathered in `input` and the engine
// writes its output to `output`. False when no meter runs or the worker is
// behind (the block then goes unmetered, counted): the instance uses its own.
bool metersLend(InstanceMeters& m, float** input, float** output);
// One engine block of interleaved 16-bit-scale floats, before and after the
// engine; `after`, metering here, writes the meters' read-outs (input and
// output levels and loudness, true peak) into `readoutValue`, and offloaded
// hands the lent slot to the worker. Audio thread; real-time safe.
void metersBefore(InstanceMeters& m, const float* block);
void metersAfter(InstanceMeters& m, const float* block, float* readoutValue);
// Offloaded: the read-outs the worker published last into `readoutValue`.
void metersShow(const InstanceMeters& m, float* readoutValue);

// Moves the meters onto a worker thread: allocates the queue (not real-time;
// before the first run). False when memory is short: they stay where they are.
bool metersOffload(InstanceMeters& m);
void metersRelease(InstanceMeters& m);
// Whether blocks were queued since the last call (audio thread): the glue
// then asks the host to run metersWork.
bool metersWaiting(InstanceMeters& m);
// Meters every queued block and publishes the values (the worker thread; one
// at a time).
void metersWork(InstanceMeters& m);
// Blocks the worker had no room for since the start (read anywhere).
long long metersDropped(const InstanceMeters& m);

}  // namespace ports
