// The one entry of 16-bit audio into the engine, and the hand-over of parameter
// sets and state resets from the computing thread to the audio thread.
#pragma once

#include <cstdint>

#include "dsp/engine_types.h"

struct PeakPair {
    int32_t left;
    int32_t right;
};

// Processes one block in place with the stream format stored in the parameter
// block; measures the meter taps while a page asks for them.
void processBlock(int16_t* samples, int frames, int channels);

// Peaks of every eighth frame; the last 16 samples are never looked at.
PeakPair measurePeaks(const int16_t* samples, int frames, int channels);

// True while the calling thread is inside the host's audio callback. The
// coefficient routines use it to decide whether they may set the engine's own
// parameters directly (audio thread) or must publish them for the next block.
// (A function rather than an extern thread_local: the latter's access wrapper
// trips the null-pointer sanitizer in some compilers.)
bool audioThreadActive();
void setAudioThreadActive(bool active);

// Audio thread: adopt the newest published parameter sets and apply the reset
// requests made since the last block. Called at the start of every block.
void adoptEngineParameters();

// Called by computeClassicCoefficients with its result.
void publishClassicCoefficients(const ClassicCoefficients& coefficients);

// Called by parseMultibandStrings with its result and the reset bits
// (engineReset* of settings/plugin_settings.h) that the flags ask for.
void publishMultibandConfig(const MultibandConfig& config, uint32_t resetBits);

// Asks for engine state resets: applied at once on the audio thread, otherwise
// at the start of the next block.
void requestEngineResets(uint32_t resetBits);

// Applies reset requests to the engine state (audio thread only).
void applyEngineResets(uint32_t resetBits);
