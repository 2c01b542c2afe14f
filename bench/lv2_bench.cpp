// LV2 benchmark: our stereo plug-in (modes 1 and 2, default settings) and the
// Debian plug-ins a user would pick instead (x42 dpl, Calf
// MultibandCompressor, LSP mb_compressor_stereo), each loaded through lilv and
// run over the same 30 s of stereo music-like audio in host blocks of 64, 256
// and 4096 frames, measured in CPU time of this one thread as times real time.
// The bare engine (processBlock on 576-frame 16-bit blocks) is measured the
// same way, so the plug-in wrapper's cost is visible.
//   redozer_lv2_bench [SECONDS]   (LV2_PATH must reach our bundle and /usr/lib/lv2)
#include <lilv/lilv.h>
#include <lv2/atom/atom.h>
#include <lv2/buf-size/buf-size.h>
#include <lv2/options/options.h>
#include <lv2/urid/urid.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <iterator>
#include <cstring>
#include <ctime>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "dsp/engine.h"
#include "dsp/multiband_strings.h"

namespace {

constexpr int rate = 44100;
constexpr int maxBlock = 4096;

double threadSeconds() {
    timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + t.tv_nsec * 1e-9;
}

// Quiet and loud passages of two voices and noise, planar float and as
// 16-bit interleaved samples for the bare engine.
struct Material {
    std::vector<float> planar[2];
    std::vector<int16_t> interleaved;
    int frames;
};

Material makeMaterial(int seconds) {
    Material m;
    m.frames = seconds * rate;
    m.interleaved.resize(static_cast<size_t>(m.frames) * 2);
    uint32_t noise = 12345;
    for (int c = 0; c < 2; ++c) m.planar[c].resize(m.frames);
    for (int i = 0; i < m.frames; ++i) {
        const double t = static_cast<double>(i) / rate;
        const double level = (i / (3 * rate)) % 2 == 0 ? 0.08 : 0.6;
        for (int c = 0; c < 2; ++c) {
            noise = noise * 1664525u + 1013904223u;
            const double v = level * (0.5 * sin(2 * M_PI * (110.0 + 55.0 * c) * t) +
                                      0.3 * sin(2 * M_PI * 1318.5 * t) * sin(2 * M_PI * 0.5 * t) +
                                      0.2 * ((noise >> 8) / 8388608.0 - 1.0));
            const int16_t s = static_cast<int16_t>(std::lrint(v * 32767));
            m.interleaved[static_cast<size_t>(i) * 2 + c] = s;
            m.planar[c][i] = s / 32768.0f;
        }
    }
    return m;
}

// The URID map the peers require.
std::vector<std::string> uris;
LV2_URID mapUri(LV2_URID_Map_Handle, const char* uri) {
    for (size_t i = 0; i < uris.size(); ++i)
        if (uris[i] == uri) return static_cast<LV2_URID>(i + 1);
    uris.push_back(uri);
    return static_cast<LV2_URID>(uris.size());
}
const char* unmapUri(LV2_URID_Unmap_Handle, LV2_URID urid) {
    return urid >= 1 && urid <= uris.size() ? uris[urid - 1].c_str() : nullptr;
}

struct AtomBuffer {
    alignas(8) uint8_t bytes[8192];
    LV2_Atom_Sequence* seq() { return reinterpret_cast<LV2_Atom_Sequence*>(bytes); }
};

struct Peer {
    const char* label;
    const char* uri;
    std::map<std::string, float> settings;
};

// Times `seconds` of audio through one plug-in in host blocks of `block`
// frames; returns times real time (best of three passes), 0 if it cannot run.
double runPlugin(LilvWorld* world, const LilvPlugins* all, const Peer& peer, const Material& m,
                 int block, int rounds) {
    LilvNode* uri = lilv_new_uri(world, peer.uri);
    const LilvPlugin* plugin = lilv_plugins_get_by_uri(all, uri);
    lilv_node_free(uri);
    if (plugin == nullptr) return 0.0;

    LV2_URID_Map map = {nullptr, mapUri};
    LV2_URID_Unmap unmap = {nullptr, unmapUri};
    int32_t minBlock = 1, maxBlockLength = maxBlock;
    LV2_Options_Option options[] = {
        {LV2_OPTIONS_INSTANCE, 0, mapUri(nullptr, LV2_BUF_SIZE__minBlockLength), sizeof(int32_t),
         mapUri(nullptr, LV2_ATOM__Int), &minBlock},
        {LV2_OPTIONS_INSTANCE, 0, mapUri(nullptr, LV2_BUF_SIZE__maxBlockLength), sizeof(int32_t),
         mapUri(nullptr, LV2_ATOM__Int), &maxBlockLength},
        {LV2_OPTIONS_INSTANCE, 0, 0, 0, 0, nullptr},
    };
    LV2_Feature mapFeature = {LV2_URID__map, &map};
    LV2_Feature unmapFeature = {LV2_URID__unmap, &unmap};
    LV2_Feature optionsFeature = {LV2_OPTIONS__options, options};
    LV2_Feature bounded = {LV2_BUF_SIZE__boundedBlockLength, nullptr};
    const LV2_Feature* features[] = {&mapFeature, &unmapFeature, &optionsFeature, &bounded,
                                     nullptr};
    LilvInstance* instance = lilv_plugin_instantiate(plugin, rate, features);
    if (instance == nullptr) return 0.0;

    LilvNode* audioClass = lilv_new_uri(world, LV2_CORE__AudioPort);
    LilvNode* controlClass = lilv_new_uri(world, LV2_CORE__ControlPort);
    LilvNode* atomClass = lilv_new_uri(world, LV2_ATOM__AtomPort);
    LilvNode* inputClass = lilv_new_uri(world, LV2_CORE__InputPort);

    const uint32_t count = lilv_plugin_get_num_ports(plugin);
    std::vector<float> controls(count, 0.0f);
    std::vector<std::unique_ptr<AtomBuffer>> atoms;
    std::vector<std::vector<float>> audioOut;
    std::vector<uint32_t> audioInPorts;
    std::vector<float*> outputs;
    std::vector<std::pair<AtomBuffer*, bool>> atomPorts;
    for (uint32_t p = 0; p < count; ++p) {
        const LilvPort* port = lilv_plugin_get_port_by_index(plugin, p);
        const bool input = lilv_port_is_a(plugin, port, inputClass);
        if (lilv_port_is_a(plugin, port, audioClass)) {
            if (input) {
                audioInPorts.push_back(p);
            } else {
                audioOut.emplace_back(maxBlock, 0.0f);
                lilv_instance_connect_port(instance, p, audioOut.back().data());
            }
        } else if (lilv_port_is_a(plugin, port, controlClass)) {
            LilvNode* def = nullptr;
            lilv_port_get_range(plugin, port, &def, nullptr, nullptr);
            if (def != nullptr) controls[p] = lilv_node_as_float(def);
            lilv_node_free(def);
            const char* symbol = lilv_node_as_string(lilv_port_get_symbol(plugin, port));
            auto setting = peer.settings.find(symbol);
            if (setting != peer.settings.end()) controls[p] = setting->second;
            lilv_instance_connect_port(instance, p, &controls[p]);
        } else if (lilv_port_is_a(plugin, port, atomClass)) {
            atoms.push_back(std::make_unique<AtomBuffer>());
            atomPorts.emplace_back(atoms.back().get(), input);
            lilv_instance_connect_port(instance, p, atoms.back()->bytes);
        } else {
            lilv_instance_connect_port(instance, p, nullptr);
        }
    }
    lilv_node_free(audioClass);
    lilv_node_free(controlClass);
    lilv_node_free(atomClass);
    lilv_node_free(inputClass);

    const LV2_URID sequence = mapUri(nullptr, LV2_ATOM__Sequence);
    const LV2_URID chunk = mapUri(nullptr, LV2_ATOM__Chunk);
    auto resetAtoms = [&]() {
        for (auto& [buffer, input] : atomPorts) {
            LV2_Atom_Sequence* s = buffer->seq();
            s->atom.type = input ? sequence : chunk;
            s->atom.size = input ? static_cast<uint32_t>(sizeof(LV2_Atom_Sequence_Body))
                                 : static_cast<uint32_t>(sizeof buffer->bytes - sizeof(LV2_Atom));
            s->body.unit = 0;
            s->body.pad = 0;
        }
    };

    lilv_instance_activate(instance);
    auto pass = [&](int frames) {
        for (int done = 0; done < frames; done += block) {
            const int n = frames - done < block ? frames - done : block;
            for (size_t k = 0; k < audioInPorts.size(); ++k)
                lilv_instance_connect_port(instance, audioInPorts[k],
                                           const_cast<float*>(m.planar[k % 2].data()) + done);
            resetAtoms();
            lilv_instance_run(instance, static_cast<uint32_t>(n));
        }
    };
    pass(2 * rate);  // warm-up: caches, denormal-free state, first-block set-up
    double best = 1e30;
    for (int round = 0; round < rounds; ++round) {
        const double start = threadSeconds();
        pass(m.frames);
        const double used = threadSeconds() - start;
        if (used < best) best = used;
    }
    lilv_instance_deactivate(instance);
    lilv_instance_free(instance);
    return static_cast<double>(m.frames) / rate / best;
}

// processBlock alone on 576-frame blocks, default settings of the mode.
double runEngine(const Material& m, int mode, bool readouts, int rounds) {
    auto e = std::make_unique<Engine>();
    engineInitialise(*e);
    if (!engineReserveWork(*e, 576)) return 0.0;
    e->multiband.bandReadoutsOn = readouts;
    MultibandStrings strings{};
    strcpy(strings.enh_multi1, default_enh_multi1);
    strcpy(strings.enh_multi2, default_enh_multi2);
    strcpy(strings.enh_limiter, default_enh_limiter);
    setAudioThreadActive(true);
    computeClassicCoefficients(*e, 56, 70, 76, 1, rate);
    parseMultibandStrings(*e, strings, 3, rate, 2);
    EngineControls controls{};
    controls.enhance = static_cast<uint8_t>(mode);
    controls.stereo_width = 20;
    controls.threshold = 79;
    controls.eq_bands[0] = {50, 100};
    controls.eq_bands[1] = {50, 1000};
    controls.eq_bands[2] = {50, 10000};
    std::vector<int16_t> block(576 * 2);
    auto pass = [&](int frames) {
        for (int done = 0; done + 576 <= frames; done += 576) {
            memcpy(block.data(), m.interleaved.data() + static_cast<size_t>(done) * 2,
                   block.size() * sizeof(int16_t));
            processBlock(*e, controls, block.data(), 576, 2, rate);
        }
    };
    pass(2 * rate);
    double best = 1e30;
    for (int round = 0; round < rounds; ++round) {
        const double start = threadSeconds();
        pass(m.frames);
        const double used = threadSeconds() - start;
        if (used < best) best = used;
    }
    setAudioThreadActive(false);
    engineReleaseWork(*e);
    return static_cast<double>(m.frames / 576 * 576) / rate / best;
}

}  // namespace

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? atoi(argv[1]) : 30;
    if (seconds <= 0) {
        fprintf(stderr, "usage: redozer_lv2_bench [SECONDS]\n");
        return 2;
    }
    const Material m = makeMaterial(seconds);
    LilvWorld* world = lilv_world_new();
    lilv_world_load_all(world);
    const LilvPlugins* all = lilv_world_get_all_plugins(world);

    const Peer wrapperAlone = {"Audio Enhancer, mode 0 (FIFO only)", "urn:dsp-redozer:stereo",
                               {{"enhance", 0.0f}}};
    const Peer peers[] = {
        {"Audio Enhancer (stereo), mode 1", "urn:dsp-redozer:stereo", {{"enhance", 1.0f}}},
        {"Audio Enhancer (stereo), mode 2", "urn:dsp-redozer:stereo", {{"enhance", 2.0f}}},
        {"x42 dpl (stereo)", "http://gareus.org/oss/lv2/dpl#stereo", {}},
        {"x42 dpl (stereo), true peak", "http://gareus.org/oss/lv2/dpl#stereo", {{"truepeak", 1.0f}}},
        {"Audio Enhancer, mode 0 + ceiling", "urn:dsp-redozer:stereo", {{"enhance", 0.0f}, {"tp_limit", 1.0f}}},
        {"Audio Enhancer, mode 2 + output stage", "urn:dsp-redozer:stereo",
         {{"enhance", 2.0f}, {"loudness_target", 1.0f}, {"tp_limit", 1.0f}}},
        {"Calf MultibandCompressor", "http://calf.sourceforge.net/plugins/MultibandCompressor", {}},
        {"LSP mb_compressor_stereo", "http://lsp-plug.in/plugins/lv2/mb_compressor_stereo", {}},
    };
    printf("LV2 plug-ins over %d s of stereo audio at %d Hz, default settings, "
           "CPU time of one thread, times real time:\n\n", seconds, rate);
    printf("%-38s %12s %12s %12s\n", "plug-in", "64 frames", "256 frames", "4096 frames");
    const int blocks[3] = {64, 256, 4096};

    // Our plug-in and the bare engine in alternating rounds, best of each, so
    // that load from elsewhere on the machine hits both alike.
    double ours[2][3] = {}, engine[2] = {}, engineReadouts = 0;
    for (int round = 0; round < 5; ++round)
        for (int mode = 1; mode <= 2; ++mode) {
            engine[mode - 1] = std::max(engine[mode - 1], runEngine(m, mode, false, 1));
            if (mode == 2) engineReadouts = std::max(engineReadouts, runEngine(m, 2, true, 1));
            for (int b = 0; b < 3; ++b)
                ours[mode - 1][b] =
                    std::max(ours[mode - 1][b], runPlugin(world, all, peers[mode - 1], m, blocks[b], 1));
        }
    for (int p = 0; p < static_cast<int>(std::size(peers)); ++p) {
        printf("%-38s", peers[p].label);
        for (int b = 0; b < 3; ++b) {
            const double x = p < 2 ? ours[p][b] : runPlugin(world, all, peers[p], m, blocks[b], 3);
            if (x > 0)
                printf(" %11.0fx", x);
            else
                printf(" %12s", "not found");
            fflush(stdout);
        }
        printf("\n");
    }
    printf("%-38s", wrapperAlone.label);
    for (int b = 0; b < 3; ++b) printf(" %11.0fx", runPlugin(world, all, wrapperAlone, m, blocks[b], 3));
    printf("\n");
    printf("\nThe bare engine (processBlock on 576-frame 16-bit blocks) and what the plug-in\n"
           "costs on top of it at host blocks of 64/256/4096 frames (the plug-in has the\n"
           "engine average its band gains for the read-out ports a host connects):\n");
    const char* names[3] = {"engine, mode 1", "engine, mode 2", "engine, mode 2, band read-outs"};
    const double bare[3] = {engine[0], engine[1], engineReadouts};
    for (int row = 0; row < 3; ++row) {
        printf("%-38s %11.0fx   ", names[row], bare[row]);
        for (int b = 0; b < 3; ++b) {
            const double x = ours[row == 0 ? 0 : 1][b];
            printf("%+.1f%% ", x > 0 ? (bare[row] / x - 1.0) * 100.0 : 0.0);
        }
        printf("\n");
    }
    lilv_world_free(world);
    return 0;
}
