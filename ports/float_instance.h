// One LV2 or LADSPA plug-in instance around an engine instance: float audio in
// and out through a FIFO of one 576-frame engine block, control ports mapped to
// the settings codes and applied at engine block boundaries, read-outs and the
// latency. Both formats' glue files are thin wrappers around this.
#pragma once

#include <cstdint>

#include "ports/port_table.h"

namespace ports {

struct FloatInstance;

// Allocates the instance and its engine's work buffers for 576-frame blocks.
// Null when channels is not 1 or 2 or memory is short.
FloatInstance* createInstance(int channels, double sampleRate);
void destroyInstance(FloatInstance* instance);

// Back to the state at creation: empty FIFO (the first 576 output frames are
// silence), engine state as at load, the first engine block starting the
// engine as the player's first block does. May allocate (not for run()).
bool resetInstance(FloatInstance* instance);

// Port connections; a control that is not connected keeps its default, a
// read-out that is not connected is not written.
void connectAudioInput(FloatInstance* instance, int channel, const float* data);
void connectAudioOutput(FloatInstance* instance, int channel, float* data);
void connectControl(FloatInstance* instance, int control, const float* data);
void connectReadout(FloatInstance* instance, int readout, float* data);

// Processes `frames` frames. Real-time safe: no allocation, lock or I/O.
void runInstance(FloatInstance* instance, uint32_t frames);

// The multiband limiter's traces of its last engine block (the limiter's
// output, its input and its envelope, `points` values each from the block's
// start, in that order) when it ran since the last call; false otherwise.
// Audio thread only (call it after runInstance).
bool instanceLimiterTrace(FloatInstance* instance, float* values, int points);

// The level, loudness and true-peak meters on a worker thread the host lends
// (LV2's worker): runInstance then only queues each block for them.
// offloadInstanceMeters allocates (before the first run; false when memory
// is short, and the meters stay on the audio thread). After runInstance,
// instanceMeterWorkWaiting says whether blocks were queued (audio thread);
// instanceMeterWork, on the worker, meters them and publishes the read-outs
// the next runs show. A block the worker had no room for is not metered:
// instanceMetersDropped counts them.
bool offloadInstanceMeters(FloatInstance* instance);
bool instanceMeterWorkWaiting(FloatInstance* instance);
void instanceMeterWork(FloatInstance* instance);
long long instanceMetersDropped(const FloatInstance* instance);

// The delay between input and output in frames for the current engine mode.
int instanceLatency(const FloatInstance* instance);

// Float to the 16-bit sample the engine works on: round to nearest of
// x * 32768, clamped to -32768..32767; not-a-number gives 0.
int16_t floatToSample(float x);
inline float sampleToFloat(int16_t s) { return static_cast<float>(s) / 32768.0f; }

}  // namespace ports
