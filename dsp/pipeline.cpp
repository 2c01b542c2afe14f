// Stage selection for one block: the hand-over first, then the equalizer and
// one of the two enhancers, as the block's settings choose.
#include "dsp/classic.h"
#include "dsp/engine.h"
#include "dsp/equalizer.h"
#include "dsp/handover.h"
#include "dsp/multiband.h"

#include <cmath>
#include <cstdlib>

void processBlock(Engine& e, const EngineControls& controls, int16_t* samples, int frames,
                  int channels, int rate) {
    adoptEngineParameters(e);
    if (samples == nullptr || rate > 96000 || channels <= 0 || channels > 2 || frames <= 0) return;

    const uint8_t enhance = controls.enhance;
    if (controls.eq_enable != 0 && enhance != 2)
        equalizeBlock(e, controls, samples, frames, channels, rate);
    if (enhance == 2)
        processMultiband(e, samples, frames, channels, rate);
    else if (enhance != 0)
        enhanceClassic(e, controls, samples, frames, channels, rate);
}

// First form: through the 16-bit chain (round to nearest, clamp), until the
// stages take float samples.
void processBlockFloat(Engine& e, const EngineControls& controls, float* samples, int frames,
                       int channels, int rate) {
    if (samples == nullptr || rate > 96000 || channels <= 0 || channels > 2 || frames <= 0) {
        adoptEngineParameters(e);
        return;
    }
    const size_t total = static_cast<size_t>(frames) * static_cast<size_t>(channels);
    int16_t* block = static_cast<int16_t*>(std::malloc(total * sizeof(int16_t)));
    if (block == nullptr) return;
    for (size_t i = 0; i < total; ++i) {
        const float v = samples[i];
        block[i] = !(v == v) ? 0 : v >= 32767.0f ? 32767 : v <= -32768.0f ? -32768
                                                            : static_cast<int16_t>(std::lrint(v));
    }
    processBlock(e, controls, block, frames, channels, rate);
    for (size_t i = 0; i < total; ++i) samples[i] = block[i];
    std::free(block);
}
