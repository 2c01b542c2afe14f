// An instance's life: its state at load and its owned work buffers.
#include "dsp/engine.h"

#include <cstdlib>
#include <cstring>

#include "dsp/handover.h"

void engineInitialise(Engine& e) {
    // In place: the record is far too large for a temporary on the stack.
    std::memset(static_cast<void*>(&e), 0, sizeof e);
    e.classicMailbox.back = 0;
    e.classicMailbox.middle = 1;
    e.classicMailbox.front = 2;
    e.multibandMailbox.back = 0;
    e.multibandMailbox.middle = 1;
    e.multibandMailbox.front = 2;
    applyEngineResets(e, engineResetAll);
}

void engineReleaseWork(Engine& e) {
    std::free(e.work.input);
    for (float* band : e.work.bands) std::free(band);
    std::free(e.work.equalizer);
    std::free(e.work.shadow);
    std::free(e.work.staged);
    e.work = EngineWork{};
}

// Blocks beyond this (far beyond any host's) are never processed.
constexpr long long maxOwnedSamples = 1LL << 24;

bool engineReserveWork(Engine& e, int maxFrames) {
    engineReleaseWork(e);
    if (maxFrames <= 0 || 2LL * maxFrames > maxOwnedSamples) return false;
    const int capacity = 2 * maxFrames;
    const size_t floats = static_cast<size_t>(capacity) + 1;
    const size_t bandFloats = static_cast<size_t>(capacity) + bandHistoryLength + 1;
    EngineWork work{};
    work.capacity = capacity;
    work.input = static_cast<float*>(std::malloc(floats * sizeof(float)));
    bool complete = work.input != nullptr;
    for (float*& band : work.bands) {
        band = static_cast<float*>(std::malloc(bandFloats * sizeof(float)));
        complete = complete && band != nullptr;
    }
    work.equalizer = static_cast<int32_t*>(std::malloc(floats * sizeof(int32_t)));
    complete = complete && work.equalizer != nullptr;
    work.shadow = static_cast<int16_t*>(std::malloc(floats * sizeof(int16_t)));
    complete = complete && work.shadow != nullptr;
    work.staged = static_cast<float*>(std::malloc(floats * sizeof(float)));
    complete = complete && work.staged != nullptr;
    e.work = work;
    if (!complete) {
        engineReleaseWork(e);
        return false;
    }
    return true;
}
