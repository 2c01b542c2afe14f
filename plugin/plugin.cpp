// The exported entry, the header and module records and the four callbacks.
#include "plugin/dsp_interface.h"

#include "settings/plugin_settings.h"
#include "settings/settings_engine.h"

#if defined(_WIN32)
#include "ui/config_dialog.h"
#endif

static void config(DspModule* module);
static int32_t init(DspModule* module);
static int32_t modify_samples(DspModule* module, int16_t* samples, int32_t frames, int32_t bits,
                              int32_t channels, int32_t rate);
static void quit(DspModule* module);
static DspModule* get_module(int32_t index);

static DspModule dsp_module = {
    "yarq's Audio Enhancers v2.1 (multiband enhancer, leveller and limiter; freeware)",
    nullptr,
    nullptr,
    config,
    init,
    modify_samples,
    quit,
    nullptr,
};

static DspHeader dsp_header = {
    dspHeaderVersion,
    "yarq's Audio Enhancers v2.1",
    get_module,
};

DSP_EXPORT DspHeader* winampDSPGetHeader2() { return &dsp_header; }

static DspModule* get_module(int32_t index) { return index == 0 ? &dsp_module : nullptr; }

static int32_t init(DspModule*) { return settings_initialise(); }

static void config(DspModule* module) {
    // Another host might configure before Init; never run on an empty block.
    settings_initialise();
    settings.resource_instance = reinterpret_cast<void*>(module->hDllInstance);
#if defined(_WIN32)
    run_config_dialog(module->hwndParent);
#endif
}

// The stream's format as the parameter block keeps it, and the first
// block's coefficient calls.
static void start_block(int32_t channels, int32_t rate) {
    if (load_relaxed(settings.init_state) == 0) settings_initialise();
    store_relaxed(settings.sample_rate, rate);
    store_relaxed(settings.channel_count, channels);
    store_relaxed(settings.bits_per_sample, int32_t{16});
    if (load_relaxed(settings.init_state) < 2) {
        computeClassicCoefficients(1, 1, rate, channels);
        computeClassicCoefficients(2, 1, rate, channels);
    }
    store_relaxed(settings.init_state, int32_t{2});
}

static int32_t modify_samples(DspModule*, int16_t* samples, int32_t frames, int32_t bits,
                              int32_t channels, int32_t rate) {
    if (bits != 16) return frames;
    setAudioThreadActive(true);
    start_block(channels, rate);
    if (samples != nullptr) processPluginBlock(samples, frames, channels);
    setAudioThreadActive(false);
    return frames;
}

#if !defined(_WIN32)
// A float block goes through the same steps; the parameter block records it
// as a block the engine processes (16 bits wide to the pages).
DSP_EXPORT int32_t redozerModifyFloatSamples(DspModule*, float* samples, int32_t frames,
                                             int32_t channels, int32_t rate) {
    setAudioThreadActive(true);
    start_block(channels, rate);
    if (samples != nullptr) processPluginBlockFloat(samples, frames, channels);
    setAudioThreadActive(false);
    return frames;
}

DSP_EXPORT void redozerProgrammeLoudness(DspModule*, float lufs) { tellProgrammeLoudness(lufs); }

DSP_EXPORT void redozerMeasuringPass(DspModule*, int32_t on) { setMeasuringPass(on != 0); }
#endif

static void quit(DspModule*) {}
