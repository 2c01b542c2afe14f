// The multiband processor (engine mode 2).
#pragma once

#include <cstdint>

#include "dsp/engine_types.h"

void processMultiband(int16_t* samples, int frames, int channels);

float computeBandGain(float* p, int n, int channels, float gain, float up, float down,
                      float maxGain, float threshold, float* readout);

// UI thread: publishes a trace buffer for the engine to fill.
void attachTraceBuffer(TraceBuffer* buffer);
// UI thread: withdraws the trace buffer; on return no write of the audio thread
// can still touch it, so the caller may release it.
void detachTraceBuffer();
