// The LADSPA plug-ins redozer_stereo and redozer_mono: descriptors built from
// the port table, ports mapped onto the shared float instance.
#include <ladspa.h>

#include "ports/float_instance.h"
#include "ports/ladspa_hints.h"

namespace {

constexpr int maxPorts = 4 + ports::controlCount + ports::readoutCount;

struct Plugin {
    LADSPA_Descriptor descriptor;
    LADSPA_PortDescriptor kinds[maxPorts];
    const char* names[maxPorts];
    LADSPA_PortRangeHint hints[maxPorts];
};

const char* const audioNames[2][4] = {
    {"Input", "Output", nullptr, nullptr},
    {"Input L", "Input R", "Output L", "Output R"},
};

template <int Channels>
LADSPA_Handle instantiate(const LADSPA_Descriptor*, unsigned long rate) {
    return ports::createInstance(Channels, static_cast<double>(rate));
}

template <int Channels>
void connect_port(LADSPA_Handle handle, unsigned long index, LADSPA_Data* data) {
    auto* in = static_cast<ports::FloatInstance*>(handle);
    const int port = static_cast<int>(index);
    if (port < Channels)
        ports::connectAudioInput(in, port, data);
    else if (port < 2 * Channels)
        ports::connectAudioOutput(in, port - Channels, data);
    else if (port < ports::readoutPortIndex(Channels, 0))
        ports::connectControl(in, port - 2 * Channels, data);
    else
        ports::connectReadout(in, port - ports::readoutPortIndex(Channels, 0), data);
}

void activate(LADSPA_Handle handle) {
    ports::resetInstance(static_cast<ports::FloatInstance*>(handle));
}

void run(LADSPA_Handle handle, unsigned long frames) {
    // Hosts pass block sizes far below 2^32; split anything larger.
    auto* in = static_cast<ports::FloatInstance*>(handle);
    while (frames > 0) {
        const unsigned long n = frames > 0x10000000ul ? 0x10000000ul : frames;
        ports::runInstance(in, static_cast<uint32_t>(n));
        frames -= n;
    }
}

void cleanup(LADSPA_Handle handle) {
    ports::destroyInstance(static_cast<ports::FloatInstance*>(handle));
}

template <int Channels>
void build(Plugin& p, unsigned long id, const char* label, const char* name) {
    const int count = ports::portCount(Channels);
    for (int i = 0; i < 2 * Channels; ++i) {
        p.kinds[i] = LADSPA_PORT_AUDIO | (i < Channels ? LADSPA_PORT_INPUT : LADSPA_PORT_OUTPUT);
        p.names[i] = audioNames[Channels - 1][i];
        p.hints[i] = {0, 0.0f, 0.0f};
    }
    for (int k = 0; k < ports::controlCount; ++k) {
        const int i = ports::controlPortIndex(Channels, k);
        p.kinds[i] = LADSPA_PORT_CONTROL | LADSPA_PORT_INPUT;
        p.names[i] = ports::controls[k].symbol;
        p.hints[i] = ports::ladspaHint(ports::controls[k]);
    }
    for (int r = 0; r < ports::readoutCount; ++r) {
        const int i = ports::readoutPortIndex(Channels, r);
        p.kinds[i] = LADSPA_PORT_CONTROL | LADSPA_PORT_OUTPUT;
        p.names[i] = ports::readouts[r].symbol;
        // A default even here: sox takes one argument or a default for every
        // control port, outputs included.
        p.hints[i] = {LADSPA_HINT_BOUNDED_BELOW | LADSPA_HINT_BOUNDED_ABOVE |
                          LADSPA_HINT_DEFAULT_MINIMUM,
                      ports::readouts[r].minimum, ports::readouts[r].maximum};
    }
    LADSPA_Descriptor& d = p.descriptor;
    d.UniqueID = id;
    d.Label = label;
    d.Properties = LADSPA_PROPERTY_HARD_RT_CAPABLE;
    d.Name = name;
    d.Maker = "yarq";
    d.Copyright = "Freeware";
    d.PortCount = static_cast<unsigned long>(count);
    d.PortDescriptors = p.kinds;
    d.PortNames = p.names;
    d.PortRangeHints = p.hints;
    d.ImplementationData = nullptr;
    d.instantiate = instantiate<Channels>;
    d.connect_port = connect_port<Channels>;
    d.activate = activate;
    d.run = run;
    d.run_adding = nullptr;
    d.set_run_adding_gain = nullptr;
    d.deactivate = nullptr;
    d.cleanup = cleanup;
}

struct Plugins {
    Plugin stereo, mono;
    Plugins() {
        build<2>(stereo, ports::stereoLadspaId, ports::stereoLabel, ports::stereoName);
        build<1>(mono, ports::monoLadspaId, ports::monoLabel, ports::monoName);
    }
};

}  // namespace

extern "C" __attribute__((visibility("default"))) const LADSPA_Descriptor* ladspa_descriptor(
    unsigned long index) {
    static const Plugins plugins;  // built on first use, never released
    if (index == 0) return &plugins.stereo.descriptor;
    if (index == 1) return &plugins.mono.descriptor;
    return nullptr;
}
