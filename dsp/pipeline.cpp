// Stage selection for one block: the hand-over first, then the equalizer and
// one of the two enhancers, as the block's settings choose.
#include "dsp/classic.h"
#include "dsp/engine.h"
#include "dsp/equalizer.h"
#include "dsp/handover.h"
#include "dsp/multiband.h"

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
