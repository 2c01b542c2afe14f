// The LV2 plug-ins urn:dsp-redozer:stereo and urn:dsp-redozer:mono: the
// descriptors, mapping LV2 port indices onto the shared float instance, the
// notification port that carries the limiter's traces to the UI, and the
// worker that takes the meters off the audio thread when the host has one.
#include <lv2/atom/atom.h>
#include <lv2/atom/forge.h>
#include <lv2/core/lv2.h>
#include <lv2/urid/urid.h>
#include <lv2/worker/worker.h>

#include <cstring>
#include <new>

#include "ports/float_instance.h"

namespace {

struct Lv2Instance {
    ports::FloatInstance* instance;
    LV2_Atom_Sequence* notify;  // null while not connected or without a URID map
    bool mapped;
    LV2_Atom_Forge forge;
    LV2_URID atomFloat;
    uint32_t tracePeriod;       // frames between two traces: about 30 a second
    uint32_t sinceTrace;
    float trace[3 * ports::notifyTracePoints];
    const LV2_Worker_Schedule* schedule;  // null: the meters run in run()
    uint32_t sinceWork;                   // frames since the worker was last asked
};

const void* findFeature(const LV2_Feature* const* features, const char* uri) {
    for (int i = 0; features != nullptr && features[i] != nullptr; ++i)
        if (strcmp(features[i]->URI, uri) == 0) return features[i]->data;
    return nullptr;
}

template <int Channels>
LV2_Handle instantiate(const LV2_Descriptor*, double rate, const char*,
                       const LV2_Feature* const* features) {
    auto* p = new (std::nothrow) Lv2Instance{};
    if (p == nullptr) return nullptr;
    p->instance = ports::createInstance(Channels, rate);
    if (p->instance == nullptr) {
        delete p;
        return nullptr;
    }
    const auto* map = static_cast<const LV2_URID_Map*>(findFeature(features, LV2_URID__map));
    if (map != nullptr) {
        lv2_atom_forge_init(&p->forge, const_cast<LV2_URID_Map*>(map));
        p->atomFloat = map->map(map->handle, LV2_ATOM__Float);
        p->mapped = true;
    }
    p->tracePeriod = rate >= 30.0 && rate < 1e7 ? static_cast<uint32_t>(rate / 30.0) : 1470;
    const auto* schedule = static_cast<const LV2_Worker_Schedule*>(findFeature(features, LV2_WORKER__schedule));
    if (schedule != nullptr && schedule->schedule_work != nullptr && ports::offloadInstanceMeters(p->instance))
        p->schedule = schedule;
    return p;
}

template <int Channels>
void connect_port(LV2_Handle handle, uint32_t index, void* data) {
    auto* p = static_cast<Lv2Instance*>(handle);
    ports::FloatInstance* in = p->instance;
    const int port = static_cast<int>(index);
    if (port < Channels) {
        ports::connectAudioInput(in, port, static_cast<const float*>(data));
    } else if (port < 2 * Channels) {
        ports::connectAudioOutput(in, port - Channels, static_cast<float*>(data));
    } else if (port < ports::readoutPortIndex(Channels, 0)) {
        ports::connectControl(in, port - 2 * Channels, static_cast<const float*>(data));
    } else if (port < ports::notifyPortIndex(Channels)) {
        ports::connectReadout(in, port - ports::readoutPortIndex(Channels, 0),
                              static_cast<float*>(data));
    } else if (port == ports::notifyPortIndex(Channels)) {
        p->notify = static_cast<LV2_Atom_Sequence*>(data);
    }
}

void activate(LV2_Handle handle) {
    // Starting over after a deactivation; a failure keeps the old state.
    ports::resetInstance(static_cast<Lv2Instance*>(handle)->instance);
}

// The notification sequence: empty, or one vector of the limiter's three
// traces when a trace period has passed and the limiter ran.
void notify(Lv2Instance* p, uint32_t frames) {
    const uint32_t capacity = p->notify->atom.size;
    lv2_atom_forge_set_buffer(&p->forge, reinterpret_cast<uint8_t*>(p->notify), capacity);
    LV2_Atom_Forge_Frame frame;
    if (lv2_atom_forge_sequence_head(&p->forge, &frame, 0) == 0) return;
    p->sinceTrace += frames;
    if (p->sinceTrace >= p->tracePeriod &&
        ports::instanceLimiterTrace(p->instance, p->trace, ports::notifyTracePoints)) {
        p->sinceTrace = 0;
        if (lv2_atom_forge_frame_time(&p->forge, 0) != 0)
            lv2_atom_forge_vector(&p->forge, sizeof(float), p->atomFloat, 3 * ports::notifyTracePoints,
                                  p->trace);
    }
    lv2_atom_forge_pop(&p->forge, &frame);
}

void run(LV2_Handle handle, uint32_t frames) {
    auto* p = static_cast<Lv2Instance*>(handle);
    ports::runInstance(p->instance, frames);
    if (p->notify != nullptr && p->mapped) notify(p, frames);
    // The worker is asked about 30 times a second, as often as a UI draws:
    // nothing to say but "look"; a refusal (the host's queue is full) only
    // leaves the blocks for the next request.
    if (p->schedule != nullptr && (p->sinceWork += frames) >= p->tracePeriod &&
        ports::instanceMeterWorkWaiting(p->instance)) {
        p->sinceWork = 0;
        const uint8_t look = 1;
        p->schedule->schedule_work(p->schedule->handle, sizeof look, &look);
    }
}

// The worker thread: meters the blocks queued so far.
LV2_Worker_Status work(LV2_Handle handle, LV2_Worker_Respond_Function, LV2_Worker_Respond_Handle,
                       uint32_t, const void*) {
    ports::instanceMeterWork(static_cast<Lv2Instance*>(handle)->instance);
    return LV2_WORKER_SUCCESS;
}

// The worker publishes the read-outs itself: nothing comes back this way.
LV2_Worker_Status workResponse(LV2_Handle, uint32_t, const void*) { return LV2_WORKER_SUCCESS; }

void cleanup(LV2_Handle handle) {
    auto* p = static_cast<Lv2Instance*>(handle);
    ports::destroyInstance(p->instance);
    delete p;
}

const LV2_Worker_Interface worker = {work, workResponse, nullptr};

const void* extension_data(const char* uri) {
    return strcmp(uri, LV2_WORKER__interface) == 0 ? &worker : nullptr;
}

const LV2_Descriptor descriptors[] = {
    {ports::stereoUri, instantiate<2>, connect_port<2>, activate, run, nullptr, cleanup,
     extension_data},
    {ports::monoUri, instantiate<1>, connect_port<1>, activate, run, nullptr, cleanup,
     extension_data},
};

}  // namespace

LV2_SYMBOL_EXPORT const LV2_Descriptor* lv2_descriptor(uint32_t index) {
    return index < 2 ? &descriptors[index] : nullptr;
}
