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
