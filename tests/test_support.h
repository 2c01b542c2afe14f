// Shared set-up for the unit tests: every test starts from the parameter block
// as it is when the library loads, with a private, empty per-user folder.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "dsp/classic.h"
#include "dsp/equalizer.h"
#include "dsp/handover.h"
#include "dsp/multiband.h"
#include "settings/multiband_presets.h"
#include "settings/plugin_settings.h"
#include "settings/settings_engine.h"

// A fresh temporary folder, removed with its content when the object dies.
struct TempFolder {
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    std::string path;
    std::string file(const std::string& name) const { return path + "/" + name; }
};

class EngineTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    // Initialise as the host does (Init), with no settings file around.
    void initialise();
    TempFolder profile;
};

// Writes text to a file, replacing it.
void write_file(const std::string& path, const std::string& text);
std::string read_file(const std::string& path);

// The stages and the hand-over as the plug-in runs them: on its one engine
// instance (settings.engine), with the user settings of the parameter block
// and its stored sample rate, as a block would see them.
void enhanceClassic(int16_t* samples, int frames, int channels);
void equalizeBlock(int16_t* samples, int frames, int channels);
void processMultiband(int16_t* samples, int frames, int channels);
int16_t* analysisHighPass(const int16_t* samples, int frames, int channels);
void equalizerBand(int32_t* work, EqBandState& state, int frames, int channels, float frequency,
                   float boostDb);
void adoptEngineParameters();
void requestEngineResets(uint32_t resetBits);
void publishClassicCoefficients(const ClassicCoefficients& coefficients);
void attachTraceBuffer(TraceBuffer* buffer);
void detachTraceBuffer();
