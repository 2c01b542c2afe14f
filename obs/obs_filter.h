// The OBS filter's audio half, without libobs: the settings as port values
// published by OBS's settings thread, and OBS's planar float audio through the
// shared float instance on the audio thread. obs_module.cpp registers it with
// libobs; the benchmark and the tests drive it directly.
#pragma once

#include <atomic>
#include <cstdint>

#include "ports/float_instance.h"
#include "ports/port_table.h"

namespace obsfilter {

struct Filter {
    // Written by update() on OBS's settings thread, read by the audio thread.
    std::atomic<float> published[ports::controlCount];
    // The audio thread's copy, connected to the instance's control ports: the
    // instance reads them as an LV2 host's control ports between two runs.
    float port[ports::controlCount];
    ports::FloatInstance* instance = nullptr;
    int channels = 0;  // the instance's format
    int rate = 0;
};

// A filter with every setting at its port-table default and an instance for
// the format given (channels 1 or 2; any other count passes the audio
// through). Null when memory is short.
Filter* createFilter(int channels, int rate);
void destroyFilter(Filter* filter);

// A setting's port value (settings thread; lock-free, the audio thread picks
// it up at its next call and the engine at its next 576-frame block).
void publishValue(Filter& filter, int control, double value);

// `frames` frames of planar float audio in place. Real-time safe, except that
// a change of OBS's channel count or rate (OBS resets its audio only while
// nothing is streaming or recording) builds a new instance for the new format.
void processPlanar(Filter& filter, float* const* planes, int channels, int rate, uint32_t frames);

}  // namespace obsfilter
