// The parameter block's side of its engine instance: the block's controls
// taken from the user settings, the level meter taps around each block, and
// the flat coefficient routines that the pages and the plug-in's callbacks
// call, which read the settings and drive settings.engine.
#pragma once

#include <cstdint>

#include "dsp/engine.h"

struct PeakPair {
    int32_t left;
    int32_t right;
};

// Peaks of every eighth frame; the last 16 samples are never looked at.
PeakPair measurePeaks(const int16_t* samples, int frames, int channels);
PeakPair measurePeaks(const float* samples, int frames, int channels);

// The user settings a block runs with, each read once (relaxed loads).
EngineControls settingsEngineControls();

// Processes one block in place on settings.engine with the stream format
// stored in the parameter block (16-bit, at most two channels, up to 96000 Hz;
// otherwise the block is left alone after the parameter hand-over); measures
// the meter taps while a page asks for them.
void processPluginBlock(int16_t* samples, int frames, int channels);
// The same for a float block (16-bit scale) through the engine's
// full-resolution path; the meter taps read it as 16-bit values (truncated).
void processPluginBlockFloat(float* samples, int frames, int channels);
// Hands the output stage the loudness of the programme that starts with the
// next block (from any thread: the next block takes it).
void tellProgrammeLoudness(float lufs);
// While on, blocks skip the output stage (a host's measuring first pass).
void setMeasuringPass(bool on);

// mode 1: classic coefficients from amp_max, amp_up and amp_dwn; mode 2: the
// multiband strings are parsed first (flags 3 with reset, else 2).
void computeClassicCoefficients(int mode, int reset, int rate, int channels);

// Parses the parameter block's multiband strings into settings.engine (flags
// as for the engine's parse).
void parseMultibandStrings(int flags, int sampleRate, int channels);
