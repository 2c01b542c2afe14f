// Multiband processor. Stub until the multiband work lands.
#include "dsp/multiband.h"

void processMultiband(int16_t*, int, int) {}
float computeBandGain(float*, int, int, float gain, float, float, float, float, float*) {
    return gain;
}
void attachTraceBuffer(TraceBuffer*) {}
void detachTraceBuffer() {}
