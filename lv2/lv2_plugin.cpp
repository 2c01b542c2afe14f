// The LV2 plug-ins urn:dsp-redozer:stereo and urn:dsp-redozer:mono: the
// descriptors, mapping LV2 port indices onto the shared float instance, and
// the notification port that carries the limiter's traces to the UI.
#include <lv2/atom/atom.h>
#include <lv2/atom/forge.h>
#include <lv2/core/lv2.h>
#include <lv2/urid/urid.h>

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
};

const LV2_URID_Map* findMap(const LV2_Feature* const* features) {
    for (int i = 0; features != nullptr && features[i] != nullptr; ++i)
        if (strcmp(features[i]->URI, LV2_URID__map) == 0)
            return static_cast<const LV2_URID_Map*>(features[i]->data);
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
    if (const LV2_URID_Map* map = findMap(features)) {
        lv2_atom_forge_init(&p->forge, const_cast<LV2_URID_Map*>(map));
        p->atomFloat = map->map(map->handle, LV2_ATOM__Float);
        p->mapped = true;
    }
    p->tracePeriod = rate >= 30.0 && rate < 1e7 ? static_cast<uint32_t>(rate / 30.0) : 1470;
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
}

void cleanup(LV2_Handle handle) {
    auto* p = static_cast<Lv2Instance*>(handle);
    ports::destroyInstance(p->instance);
    delete p;
}

const void* extension_data(const char*) { return nullptr; }

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
