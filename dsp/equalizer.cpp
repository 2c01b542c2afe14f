// Equalizer. Stub until the classic-chain work lands.
#include "dsp/equalizer.h"

void equalizeBlock(int16_t*, int, int) {}

void equalizerBand(int32_t*, EqBandState&, int, int, float, float) {}
