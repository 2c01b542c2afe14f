// The host player's DSP plug-in interface (header version 0x20): the records
// the host sees and the one exported entry.
#pragma once

#include <cstdint>

#if defined(_WIN32)
#include <windows.h>
using DspWindow = HWND;
using DspInstance = HINSTANCE;
#define DSP_EXPORT extern "C" __declspec(dllexport)
#else
using DspWindow = void*;
using DspInstance = void*;
#define DSP_EXPORT extern "C" __attribute__((visibility("default")))
#endif

struct DspModule {
    const char* description;
    DspWindow hwndParent;
    DspInstance hDllInstance;
    void (*Config)(DspModule* module);
    int32_t (*Init)(DspModule* module);
    int32_t (*ModifySamples)(DspModule* module, int16_t* samples, int32_t frames, int32_t bits,
                             int32_t channels, int32_t rate);
    void (*Quit)(DspModule* module);
    void* userData;
};

struct DspHeader {
    int32_t version;
    const char* description;
    DspModule* (*getModule)(int32_t index);
};

constexpr int32_t dspHeaderVersion = 0x20;

using DspGetHeaderFunction = DspHeader* (*)();

DSP_EXPORT DspHeader* winampDSPGetHeader2();

#if !defined(_WIN32)
// The Linux library's second entry, for hosts that carry more than 16 bits:
// one block of interleaved float samples in the 16-bit scale (full scale
// 32768.0f) through the engine's full-resolution path, with module 0's engine
// and settings, in place, as ModifySamples does with a 16-bit block. Returns
// the frame count. The player's DLL exports winampDSPGetHeader2 alone.
using DspModifyFloatFunction = int32_t (*)(DspModule* module, float* samples, int32_t frames,
                                           int32_t channels, int32_t rate);
constexpr const char* dspModifyFloatSymbol = "redozerModifyFloatSamples";
DSP_EXPORT int32_t redozerModifyFloatSamples(DspModule* module, float* samples, int32_t frames,
                                             int32_t channels, int32_t rate);
// The Linux library's third entry, for hosts that measured their files first:
// the integrated loudness (LUFS) of the programme that starts with the next
// block, which the output stage's leveller then steers to the target at once
// and holds. Real-time safe; a value outside -70..10 LUFS is ignored.
using DspProgrammeFunction = void (*)(DspModule* module, float lufs);
constexpr const char* dspProgrammeSymbol = "redozerProgrammeLoudness";
DSP_EXPORT void redozerProgrammeLoudness(DspModule* module, float lufs);
// While on (nonzero), blocks skip the output stage, so that a host's first
// pass can measure what reaches it.
using DspMeasuringFunction = void (*)(DspModule* module, int32_t on);
constexpr const char* dspMeasuringSymbol = "redozerMeasuringPass";
DSP_EXPORT void redozerMeasuringPass(DspModule* module, int32_t on);
#endif
