#include "tests/test_support.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

TempFolder::TempFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "redozer-XXXXXX").string();
    char* made = mkdtemp(pattern.data());
    if (made == nullptr) {
        ADD_FAILURE() << "cannot create a temporary folder";
        return;
    }
    path = made;
}

TempFolder::~TempFolder() {
    std::error_code ignored;
    if (!path.empty()) std::filesystem::remove_all(path, ignored);
}

void EngineTest::SetUp() {
    settings_reset_to_load_state();
    setenv("XDG_CONFIG_HOME", profile.path.c_str(), 1);
}

void EngineTest::TearDown() { settings_reset_to_load_state(); }

void EngineTest::initialise() { settings_initialise(); }

void write_file(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void enhanceClassic(int16_t* samples, int frames, int channels) {
    enhanceClassic(settings.engine, settingsEngineControls(), samples, frames, channels,
                   load_relaxed(settings.sample_rate));
}

void equalizeBlock(int16_t* samples, int frames, int channels) {
    equalizeBlock(settings.engine, settingsEngineControls(), samples, frames, channels,
                  load_relaxed(settings.sample_rate));
}

void processMultiband(int16_t* samples, int frames, int channels) {
    processMultiband(settings.engine, samples, frames, channels,
                     load_relaxed(settings.sample_rate));
}

int16_t* analysisHighPass(const int16_t* samples, int frames, int channels) {
    return analysisHighPass(settings.engine, samples, frames, channels,
                            load_relaxed(settings.sample_rate), load_relaxed(settings.hpcutoff));
}

void equalizerBand(int32_t* work, EqBandState& state, int frames, int channels, float frequency,
                   float boostDb) {
    equalizerBand(work, state, frames, channels, load_relaxed(settings.sample_rate), frequency,
                  boostDb);
}

void adoptEngineParameters() { adoptEngineParameters(settings.engine); }
void requestEngineResets(uint32_t resetBits) { requestEngineResets(settings.engine, resetBits); }
void publishClassicCoefficients(const ClassicCoefficients& coefficients) {
    publishClassicCoefficients(settings.engine, coefficients);
}
void attachTraceBuffer(TraceBuffer* buffer) { attachTraceBuffer(settings.engine, buffer); }
void detachTraceBuffer() { detachTraceBuffer(settings.engine); }
