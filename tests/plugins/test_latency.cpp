// End to end with the output stage on: an impulse through the LV2 plug-in
// (lilv) comes out exactly the `latency` port's frames later, and through
// dsphost --delay remove exactly where it went in, for the stage alone and
// behind the multiband engine.
#include <gtest/gtest.h>
#include <lilv/lilv.h>
#include <sndfile.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace {

constexpr int rate = 44100, at = 3000, frames = 16384;

struct Setting {
    const char* name;
    std::map<std::string, float> ports;  // LV2 control values
    const char* dsphost;                 // the same as dsphost options
};

const Setting settings[] = {
    {"stage_alone", {{"enhance", 0}, {"tp_limit", 1}}, "--mode 0 --true-peak -1"},
    {"multiband_and_stage", {{"enhance", 2}, {"tp_limit", 1}, {"loudness_target", 1}},
     "--mode 2 --true-peak -1 --target -16"},
};

long firstSound(const std::vector<float>& x) {
    for (size_t n = 0; n < x.size(); ++n)
        if (std::fabs(x[n]) > 1e-6f) return static_cast<long>(n);
    return -1;
}

std::vector<float> impulse() {
    std::vector<float> x(frames, 0.0f);
    x[at] = 0.25f;
    return x;
}

// The impulse through the mono plug-in in 256-frame runs; `latency` as the port reads after them.
std::vector<float> throughLv2(const Setting& s, float& latency) {
    LilvWorld* world = lilv_world_new();
    lilv_world_load_all(world);
    LilvNode* uri = lilv_new_uri(world, "urn:dsp-redozer:mono");
    const LilvPlugin* plugin = lilv_plugins_get_by_uri(lilv_world_get_all_plugins(world), uri);
    EXPECT_NE(plugin, nullptr) << "urn:dsp-redozer:mono not found on LV2_PATH";
    std::vector<float> in = impulse(), out(frames, 0.0f), block(256), result(256);
    LilvInstance* instance = plugin != nullptr ? lilv_plugin_instantiate(plugin, rate, nullptr) : nullptr;
    if (instance != nullptr) {
        LilvNode* inputClass = lilv_new_uri(world, LILV_URI_INPUT_PORT);
        LilvNode* audioClass = lilv_new_uri(world, LILV_URI_AUDIO_PORT);
        const uint32_t count = lilv_plugin_get_num_ports(plugin);
        std::vector<float> values(count, 0.0f), minimum(count), maximum(count), defaults(count);
        lilv_plugin_get_port_ranges_float(plugin, minimum.data(), maximum.data(), defaults.data());
        for (uint32_t p = 0; p < count; ++p) {
            const LilvPort* port = lilv_plugin_get_port_by_index(plugin, p);
            const std::string symbol = lilv_node_as_string(lilv_port_get_symbol(plugin, port));
            const bool input = lilv_port_is_a(plugin, port, inputClass);
            if (lilv_port_is_a(plugin, port, audioClass)) {
                lilv_instance_connect_port(instance, p, input ? block.data() : result.data());
                continue;
            }
            values[p] = std::isnan(defaults[p]) ? 0.0f : defaults[p];
            if (auto v = s.ports.find(symbol); input && v != s.ports.end()) values[p] = v->second;
            lilv_instance_connect_port(instance, p, &values[p]);
            if (symbol == "latency") latency = -1, lilv_instance_connect_port(instance, p, &latency);
        }
        lilv_instance_activate(instance);
        for (int done = 0; done < frames; done += 256) {
            std::copy(in.begin() + done, in.begin() + done + 256, block.begin());
            lilv_instance_run(instance, 256);
            std::copy(result.begin(), result.end(), out.begin() + done);
        }
        lilv_instance_deactivate(instance);
        lilv_instance_free(instance);
        lilv_node_free(inputClass);
        lilv_node_free(audioClass);
    }
    lilv_node_free(uri);
    lilv_world_free(world);
    return out;
}

bool writeFloatWav(const std::string& path, const std::vector<float>& x) {
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
    if (f == nullptr) return false;
    const bool ok = sf_writef_float(f, x.data(), static_cast<sf_count_t>(x.size())) == static_cast<sf_count_t>(x.size());
    return sf_close(f) == 0 && ok;
}

std::vector<float> readWav(const std::string& path) {
    SF_INFO info{};
    SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
    if (f == nullptr) return {};
    std::vector<float> x(static_cast<size_t>(info.frames * info.channels));
    sf_readf_float(f, x.data(), info.frames);
    sf_close(f);
    return x;
}

TEST(PluginLatency, AnImpulseLeavesThePluginAfterTheReportedLatency) {
    for (const Setting& s : settings) {
        float latency = -1;
        const std::vector<float> out = throughLv2(s, latency);
        ASSERT_GT(latency, 576) << s.name << ": the latency port did not count the stage";
        EXPECT_EQ(firstSound(out), at + static_cast<long>(latency)) << s.name;
    }
}

TEST(PluginLatency, DsphostTakesTheStagesDelayOut) {
    const std::string work = REDOZER_TEST_WORK;
    std::filesystem::create_directories(work + "/profile");
    ASSERT_TRUE(writeFloatWav(work + "/impulse.wav", impulse()));
    for (const Setting& s : settings) {
        const std::string out = work + "/" + s.name + ".wav";
        const std::string command = "XDG_CONFIG_HOME='" + work + "/profile' '" REDOZER_DSPHOST "' -q --delay remove " +
                                    "--bits float " + s.dsphost + " '" + work + "/impulse.wav' '" + out + "'";
        ASSERT_EQ(std::system(command.c_str()), 0) << command;
        const std::vector<float> y = readWav(out);
        EXPECT_EQ(y.size(), static_cast<size_t>(frames)) << s.name;
        EXPECT_EQ(firstSound(y), at) << s.name;
    }
}

}  // namespace
