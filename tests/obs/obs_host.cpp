// The tests' libobs host: libobs started once for the program with audio
// only, the module opened from the build folder, a private source type of the
// test's own that pushes audio through its filters, and a capture of what comes
// out of them.
#include "tests/obs/obs_host.h"

#include <sndfile.h>
#include <stdlib.h>

#include <cmath>

#include "dsp/engine.h"
#include "dsp/output_stage.h"
#include "ports/port_table.h"

std::string workDir;

namespace {

// ---- The test's own source: audio pushed with obs_source_output_audio ----------

const char* feedName(void*) { return "Test feed"; }
void* feedCreate(obs_data_t*, obs_source_t* source) { return source; }
void feedDestroy(void*) {}

void registerFeed() {
    obs_source_info info = {};
    info.id = "redozer_test_feed";
    info.type = OBS_SOURCE_TYPE_INPUT;
    info.output_flags = OBS_SOURCE_AUDIO;
    info.get_name = feedName;
    info.create = feedCreate;
    info.destroy = feedDestroy;
    obs_register_source(&info);
}

}  // namespace

void captured(void* param, obs_source_t*, const audio_data* audio, bool) {
    auto* c = static_cast<Capture*>(param);
    std::lock_guard<std::mutex> hold(c->lock);
    ++c->calls;
    for (int ch = 0; ch < c->channels; ++ch) {
        const auto* p = reinterpret_cast<const float*>(audio->data[ch]);
        if (p == nullptr) continue;
        for (uint32_t i = 0; i < audio->frames; ++i) c->finite &= std::isfinite(p[i]);
        c->planes[ch].insert(c->planes[ch].end(), p, p + audio->frames);
    }
}

Feed::Feed(int channels) {
    source = obs_source_create_private("redozer_test_feed", "feed", nullptr);
    capture.channels = channels;
    obs_source_add_audio_capture_callback(source, captured, &capture);
}

Feed::~Feed() {
    obs_source_remove_audio_capture_callback(source, captured, &capture);
    obs_source_release(source);
}

void Feed::push(const std::vector<float>* planes, int channels, size_t offset, uint32_t frames,
                uint32_t rate) {
        obs_source_audio a = {};
        for (int c = 0; c < channels; ++c)
            a.data[c] = reinterpret_cast<const uint8_t*>(planes[c].data() + offset);
        a.frames = frames;
        a.speakers = channels == 1 ? SPEAKERS_MONO : SPEAKERS_STEREO;
        a.format = AUDIO_FORMAT_FLOAT_PLANAR;
        a.samples_per_sec = rate;
        a.timestamp = timestamp;
        timestamp += static_cast<uint64_t>(frames) * 1000000000ull / rate;
        obs_source_output_audio(source, &a);
}

void Feed::pushAll(const std::vector<float>* planes, int channels, uint32_t rate) {
    const size_t n = planes[0].size();
    for (size_t i = 0; i + hostBlock <= n; i += hostBlock) push(planes, channels, i, hostBlock, rate);
}

obs_source_t* addFilter(obs_source_t* source, obs_data_t* settings, const char* name) {
    obs_source_t* f = obs_source_create_private(filterId, name, settings);
    obs_source_filter_add(source, f);
    return f;
}

// Music-like stereo: two voices, a tremolo and noise, quiet and loud passages.
void material(std::vector<float>* planes, int frames, int rate, double level) {
    uint32_t noise = 4711;
    for (int c = 0; c < 2; ++c) planes[c].assign(static_cast<size_t>(frames), 0.0f);
    for (int i = 0; i < frames; ++i) {
        const double t = static_cast<double>(i) / rate;
        const double l = (i / (rate / 2)) % 2 == 0 ? 0.15 * level : level;
        for (int c = 0; c < 2; ++c) {
            noise = noise * 1664525u + 1013904223u;
            planes[c][static_cast<size_t>(i)] = static_cast<float>(
                l * (0.5 * std::sin(2 * M_PI * (110.0 + 55.0 * c) * t) +
                     0.3 * std::sin(2 * M_PI * 1318.5 * t) * std::sin(2 * M_PI * 0.7 * t) +
                     0.2 * ((noise >> 8) / 8388608.0 - 1.0)));
        }
    }
}

bool writeFloatWav(const std::string& path, const std::vector<float>* planes, int rate) {
    SF_INFO info = {};
    info.samplerate = rate;
    info.channels = 2;
    info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
    if (f == nullptr) return false;
    std::vector<float> inter(planes[0].size() * 2);
    for (size_t i = 0; i < planes[0].size(); ++i)
        for (int c = 0; c < 2; ++c) inter[2 * i + c] = planes[c][i];
    sf_writef_float(f, inter.data(), static_cast<sf_count_t>(planes[0].size()));
    sf_close(f);
    return true;
}

bool readWav(const std::string& path, std::vector<float>* planes) {
    SF_INFO info = {};
    SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
    if (f == nullptr || info.channels != 2) return false;
    std::vector<float> inter(static_cast<size_t>(info.frames) * 2);
    sf_readf_float(f, inter.data(), info.frames);
    sf_close(f);
    for (int c = 0; c < 2; ++c) planes[c].resize(static_cast<size_t>(info.frames));
    for (size_t i = 0; i < static_cast<size_t>(info.frames); ++i)
        for (int c = 0; c < 2; ++c) planes[c][i] = inter[2 * i + c];
    return true;
}

namespace {

class ObsEnvironment : public testing::Environment {
public:
    void SetUp() override {
        char pattern[] = "/tmp/redozer-obs-test.XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        workDir = pattern;
        // dsphost reads the user's settings file: an empty private home.
        setenv("HOME", workDir.c_str(), 1);
        setenv("XDG_CONFIG_HOME", (workDir + "/config").c_str(), 1);
        ASSERT_TRUE(obs_startup("en-US", (workDir + "/obs-config").c_str(), nullptr));
        obs_audio_info oai = {48000, SPEAKERS_STEREO};
        ASSERT_TRUE(obs_reset_audio(&oai));
        const char* path = getenv("REDOZER_OBS_MODULE");
        ASSERT_NE(path, nullptr);
        obs_module_t* module = nullptr;
        ASSERT_EQ(obs_open_module(&module, path, workDir.c_str()), MODULE_SUCCESS);
        ASSERT_TRUE(obs_init_module(module));
        registerFeed();
    }
    void TearDown() override {
        obs_shutdown();
        if (!workDir.empty()) {
            const std::string rm = "rm -rf '" + workDir + "'";
            EXPECT_EQ(system(rm.c_str()), 0);
        }
    }
};

const testing::Environment* const environment =
    testing::AddGlobalTestEnvironment(new ObsEnvironment);

}  // namespace

int expectedDelay(int multibandStages, bool outputStage) {
    return ports::blockFrames + multibandStages * multibandDelayFrames(48000, 2) +
           (outputStage ? outputStageLatency(48000) : 0);
}
