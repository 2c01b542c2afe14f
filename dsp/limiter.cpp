// Limiter and soft clipper. Stub until the multiband work lands.
#include "dsp/limiter.h"

void limiterEnvelope(const float*, float*, int, int, int, float, unsigned, int, int) {}
void applyLimiterCurve(float*, const float*, int, int, float, float, float, float) {}
void softClip(float*, int, int) {}
