// Three-band peaking equalizer ahead of the classic enhancer.
#pragma once

#include <cstdint>

#include "dsp/engine_types.h"

void equalizeBlock(int16_t* samples, int frames, int channels);

void equalizerBand(int32_t* work, EqBandState& state, int frames, int channels,
                   float frequency, float boostDb);
