// Libraries that look like DSP plug-ins but break one rule each, so that the
// host's checks can be tested: built once per FAKE_* definition.
#include <cstdint>

#include "plugin/dsp_interface.h"

static int32_t init(DspModule*) { return 0; }
static void quit(DspModule*) {}
static void config(DspModule*) {}
static int32_t modify(DspModule*, int16_t*, int32_t frames, int32_t, int32_t, int32_t) {
#if defined(FAKE_SHORT_COUNT)
    return frames > 1 ? frames - 1 : frames;
#else
    return frames;
#endif
}

static DspModule module = {"fake", nullptr, nullptr, config, init, modify, quit, nullptr};

static DspModule* get_module(int32_t index) {
#if defined(FAKE_NULL_MODULE)
    (void)index;
    return nullptr;
#else
    return index == 0 ? &module : nullptr;
#endif
}

#if defined(FAKE_BAD_VERSION)
static DspHeader header = {0x10, "fake", get_module};
#else
static DspHeader header = {dspHeaderVersion, "fake", get_module};
#endif

#if defined(FAKE_NO_EXPORT)
extern "C" DspHeader* someOtherEntry() { return &header; }
#else
DSP_EXPORT DspHeader* winampDSPGetHeader2() { return &header; }
#endif
