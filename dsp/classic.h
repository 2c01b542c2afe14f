// The classic single-band enhancer: stereo widening, analysis high-pass,
// fixed-point gain with lookahead threshold. Its coefficient routine,
// computeClassicCoefficients, is declared in dsp/engine.h.
#pragma once

#include <cstdint>

#include "dsp/engine.h"

// High-passed copy of the block (at most analysisBufferLength samples) in the
// instance's analysis buffer, continuing its filter state.
int16_t* analysisHighPass(Engine& e, const int16_t* samples, int frames, int channels, int rate,
                          int hpcutoff);

// Widening, gain law and clamp over one block with the instance's adopted
// coefficients, its gain and filter state, and the block's settings.
void enhanceClassic(Engine& e, const EngineControls& controls, int16_t* samples, int frames,
                    int channels, int rate);

// The same at full resolution: `samples` are float in the 16-bit scale and
// `shadow` holds the block as the 16-bit path would (rounded, after its
// equalizer); the shadow is widened and clamped as above and feeds the
// analysis and the gain law, so the gain takes exactly the 16-bit path's
// steps, while the widening and the gain reach the float samples without
// truncation or clamp.
void enhanceClassicFloat(Engine& e, const EngineControls& controls, float* samples,
                         int16_t* shadow, int frames, int channels, int rate);
