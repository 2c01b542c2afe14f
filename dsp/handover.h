// The hand-over of parameter sets and state resets from the thread that
// computes them (a configuration page, a host's control thread) to the audio
// thread of one engine instance. It sits beside the stages: the coefficient
// routines publish through it and the pipeline adopts through it at the start
// of every block; it touches only the instance's record.
#pragma once

#include <cstdint>

#include "dsp/engine.h"

// True while the calling thread is inside the host's audio callback. The
// coefficient routines use it to decide whether they may set the engine's own
// parameters directly (audio thread) or must publish them for the next block.
// (A function rather than an extern thread_local: the latter's access wrapper
// trips the null-pointer sanitizer in some compilers.)
bool audioThreadActive();

// Audio thread: adopt the newest published parameter sets and apply the reset
// requests made since the last block. Called at the start of every block.
void adoptEngineParameters(Engine& e);

// Called by the classic coefficient routine with its result.
void publishClassicCoefficients(Engine& e, const ClassicCoefficients& coefficients);

// Called by the multiband parse with its result and the reset bits that its
// flags ask for.
void publishMultibandConfig(Engine& e, const MultibandConfig& config, uint32_t resetBits);

// Applies reset requests to the engine state (audio thread only).
void applyEngineResets(Engine& e, uint32_t resetBits);
