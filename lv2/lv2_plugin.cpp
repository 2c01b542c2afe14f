// The LV2 plug-ins urn:dsp-redozer:stereo and urn:dsp-redozer:mono: the
// descriptors, mapping LV2 port indices onto the shared float instance.
#include <lv2/core/lv2.h>

#include "ports/float_instance.h"

namespace {

template <int Channels>
LV2_Handle instantiate(const LV2_Descriptor*, double rate, const char*,
                       const LV2_Feature* const*) {
    return ports::createInstance(Channels, rate);
}

template <int Channels>
void connect_port(LV2_Handle handle, uint32_t index, void* data) {
    auto* in = static_cast<ports::FloatInstance*>(handle);
    const int port = static_cast<int>(index);
    if (port < Channels) {
        ports::connectAudioInput(in, port, static_cast<const float*>(data));
    } else if (port < 2 * Channels) {
        ports::connectAudioOutput(in, port - Channels, static_cast<float*>(data));
    } else if (port < ports::readoutPortIndex(Channels, 0)) {
        ports::connectControl(in, port - 2 * Channels, static_cast<const float*>(data));
    } else {
        ports::connectReadout(in, port - ports::readoutPortIndex(Channels, 0),
                              static_cast<float*>(data));
    }
}

void activate(LV2_Handle handle) {
    // Starting over after a deactivation; a failure keeps the old state.
    ports::resetInstance(static_cast<ports::FloatInstance*>(handle));
}

void run(LV2_Handle handle, uint32_t frames) {
    ports::runInstance(static_cast<ports::FloatInstance*>(handle), frames);
}

void cleanup(LV2_Handle handle) { ports::destroyInstance(static_cast<ports::FloatInstance*>(handle)); }

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
