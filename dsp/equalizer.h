// Three-band peaking equalizer ahead of the classic enhancer.
#pragma once

#include <cstddef>
#include <cstdint>

#include "dsp/engine.h"

// The three bands of the block's settings over the instance's filter state;
// bands at 50 (neutral) are skipped, and with none left the block is only
// clamped. The work buffer is the instance's own when it owns one large
// enough, otherwise it is obtained for the block.
void equalizeBlock(Engine& e, const EngineControls& controls, int16_t* samples, int frames,
                   int channels, int rate);

// The same bands at full resolution on float samples (16-bit scale), in
// place, with the instance's full-resolution filter memory: each band's sum
// in double as in the 16-bit path, but kept unrounded between bands and
// samples, and rounded to float once at the end; nothing is clamped, and
// with no band left the block is left as it is.
void equalizeBlockFloat(Engine& e, const EngineControls& controls, float* samples, int frames,
                        int channels, int rate);

void equalizerBand(int32_t* work, EqBandState& state, int frames, int channels, int rate,
                   float frequency, float boostDb);

// One band's design: the named intermediates and the filter coefficients, all
// single precision as the filter uses them.
struct EqCoefficients {
    float g, k, w, m, r, q, d;
    float b0, b1, b2, a1, a2;
};

// Designs a band for sample rate fs. Returns 0 when the band cannot run (its
// frequency is 0 or a coefficient is not finite); the band is then skipped.
int equalizerCoefficients(float fs, float frequency, float boostDb, EqCoefficients& out);

// Where the block's working buffer comes from. The memory must be releasable
// with std::free. Tests swap in an allocator that fails.
using EqualizerAllocator = void* (*)(std::size_t bytes);
extern EqualizerAllocator equalizerAllocate;
