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
