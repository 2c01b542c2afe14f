// Classic enhancer. Stub: the stages arrive with the classic-chain work.
#include "dsp/classic.h"

#include "dsp/multiband_strings.h"

void computeClassicCoefficients(int mode, int, int rate, int channels) {
    if (mode == 2) parseMultibandStrings(3, rate, channels);
}

int16_t* analysisHighPass(const int16_t*, int, int) { return nullptr; }

void enhanceClassic(int16_t*, int, int) {}
