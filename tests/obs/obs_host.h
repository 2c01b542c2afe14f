// The tests' libobs host (see obs_host.cpp). libobs starts before the first
// test and stops after the last; every test runs under Xvfb.
#pragma once

#include <gtest/gtest.h>
#include <obs.h>

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

constexpr const char* filterId = "redozer_audio_enhancers";
constexpr int hostBlock = 1024;  // OBS's audio period

// A private folder for the program's files (HOME points there too).
extern std::string workDir;

// What a source's audio capture callback has seen.
struct Capture {
    std::mutex lock;
    std::vector<float> planes[2];
    int calls = 0;
    int channels = 0;
    bool finite = true;
};
void captured(void* param, obs_source_t* source, const audio_data* audio, bool muted);

// A private source of the test's own type: audio pushed through its filters
// with obs_source_output_audio, captured after them.
struct Feed {
    obs_source_t* source = nullptr;
    Capture capture;
    uint64_t timestamp = 1000000000;

    explicit Feed(int channels);
    ~Feed();
    // `frames` frames from `offset` of planar float audio in the format given.
    void push(const std::vector<float>* planes, int channels, size_t offset, uint32_t frames,
              uint32_t rate);
    // All of it in OBS's 1024-frame blocks.
    void pushAll(const std::vector<float>* planes, int channels, uint32_t rate);
};

// The module's filter, created with `settings` (may be null) and put on `source`.
obs_source_t* addFilter(obs_source_t* source, obs_data_t* settings, const char* name = "enh");

// Music-like stereo: two voices, a tremolo and noise, quiet and loud passages.
void material(std::vector<float>* planes, int frames, int rate, double level = 0.5);
bool writeFloatWav(const std::string& path, const std::vector<float>* planes, int rate);
bool readWav(const std::string& path, std::vector<float>* planes);

// The delay the README and the filter's note give at 48 kHz: the engine
// block, the multiband engine's two lookaheads, the output stage's.
int expectedDelay(int multibandStages, bool outputStage);
