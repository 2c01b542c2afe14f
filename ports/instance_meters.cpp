// The meters behind the level, loudness and true-peak read-outs, on the audio
// thread or on a worker.
#include "ports/instance_meters.h"

#include <cmath>
#include <cstring>
#include <new>

namespace ports {

namespace {

// The read-outs the meters give.
bool meterReadout(int r) { return (r >= rInPeakLeft && r <= rOutLoudness) || r == rTruePeak; }

// 64 engine blocks: 0.84 s at 44.1 kHz, 0.38 s at 96 kHz of slack for the worker.
constexpr unsigned queueSlots = 64;

struct MeterSlot {
    float input[blockFrames * 2];
    float output[blockFrames * 2];
    bool levels, loudness, truePeak, restart, resetPeak;
};

}  // namespace

// Single producer (the audio thread), single consumer (the worker): slot
// `written % queueSlots` is the producer's until `written` passes it, slots
// from `read` up to `written` the consumer's until `read` passes them.
struct MeterQueue {
    MeterSlot slot[queueSlots];
    std::atomic<unsigned> written{0}, read{0};
    std::atomic<float> published[readoutCount];
    std::atomic<long long> dropped{0};
};

namespace {

void setupMeters(InstanceMeters& m) {
    levelMeterSetup(m.input, m.rate, m.channels, blockFrames);
    levelMeterSetup(m.output, m.rate, m.channels, blockFrames);
    truePeakMeterStart(m.peak, m.channels);
}

// The meters' read-outs in dB; mono shows its one channel as both.
void readMeters(const InstanceMeters& m, float* r) {
    const LevelMeter* meters[2] = {&m.input, &m.output};
    for (int k = 0; k < 2; ++k) {
        const int first = k == 0 ? rInPeakLeft : rOutPeakLeft;
        for (int c = 0; c < 2; ++c) {
            const int from = c < m.channels ? c : 0;
            r[first + c] = levelDbfs(meters[k]->peak[from], -90.0f);
            r[first + 2 + c] = levelDbfs(std::sqrt(meters[k]->meanSquare[from]), -90.0f);
        }
    }
    r[rInLoudness] = shortTermLufs(m.input.loudness, -70.0f);
    r[rOutLoudness] = shortTermLufs(m.output.loudness, -70.0f);
    r[rTruePeak] = levelDbfs(truePeakMeterPeak(m.peak), -90.0f);
}

// One block through the meters asked for; the input's levels are metered
// here too when the audio thread has not done so already.
void meterBlock(InstanceMeters& m, const float* input, const float* output, bool levels, bool loudness,
                bool truePeak, bool inputLevels) {
    if (levels) {
        if (inputLevels) levelMeterAdd(m.input, input, blockFrames);
        levelMeterAdd(m.output, output, blockFrames);
    }
    if (loudness)
        shortTermAddPair(m.input.loudness, input, m.output.loudness, output, blockFrames, m.channels);
    if (truePeak) truePeakMeterAddFloat(m.peak, output, blockFrames);
}

}  // namespace

void metersStart(InstanceMeters& m, int rate, int channels) {
    m.rate = rate > 0 ? rate : 44100;
    m.channels = channels == 2 ? 2 : 1;
    setupMeters(m);
}

void metersRestart(InstanceMeters& m) {
    m.slotOpen = false;  // a lent slot goes back unused
    if (m.queue != nullptr)
        m.restart = true;  // the worker's meters: it starts them afresh with the next block
    else
        setupMeters(m);
}

void metersConnect(InstanceMeters& m, float* const* readoutPort) {
    auto any = [readoutPort](int first, int last) {
        bool connected = false;
        for (int r = first; r <= last; ++r) connected |= readoutPort[r] != nullptr;
        return connected;
    };
    m.levels = any(rInPeakLeft, rOutRmsRight);
    m.loudness = any(rInLoudness, rOutLoudness);
    m.truePeak = any(rTruePeak, rTruePeak);
}

void metersResetPeak(InstanceMeters& m) {
    if (m.queue != nullptr)
        m.resetPeak = true;
    else
        m.peak.peak = 0.0f;
}

void metersBefore(InstanceMeters& m, const float* block) {
    if (m.queue != nullptr) return;  // the block is in the slot lent for it, if any
    if (m.levels) levelMeterAdd(m.input, block, blockFrames);
    if (m.loudness) memcpy(m.inputBlock, block, sizeof(float) * blockFrames * m.channels);
}

void metersAfter(InstanceMeters& m, const float* block, float* readoutValue) {
    if (m.queue == nullptr) {
        if (!(m.levels || m.loudness || m.truePeak)) return;
        meterBlock(m, m.inputBlock, block, m.levels, m.loudness, m.truePeak, false);
        readMeters(m, readoutValue);
        return;
    }
    if (!m.slotOpen) return;
    MeterQueue& q = *m.queue;
    const unsigned w = q.written.load(std::memory_order_relaxed);
    MeterSlot& s = q.slot[w % queueSlots];
    s.levels = m.levels;
    s.loudness = m.loudness;
    s.truePeak = m.truePeak;
    s.restart = m.restart;
    s.resetPeak = m.resetPeak;
    m.restart = m.resetPeak = false;
    q.written.store(w + 1, std::memory_order_release);  // the slot, audio and all, is the worker's
    m.slotOpen = false;
    m.waiting = true;
}

bool metersLend(InstanceMeters& m, float** input, float** output) {
    m.slotOpen = false;
    if (m.queue == nullptr || !(m.levels || m.loudness || m.truePeak)) return false;
    MeterQueue& q = *m.queue;
    const unsigned w = q.written.load(std::memory_order_relaxed);
    if (w - q.read.load(std::memory_order_acquire) >= queueSlots) {
        q.dropped.fetch_add(1, std::memory_order_relaxed);  // the worker is behind: not metered
        return false;
    }
    *input = q.slot[w % queueSlots].input;
    *output = q.slot[w % queueSlots].output;
    m.slotOpen = true;
    return true;
}

void metersShow(const InstanceMeters& m, float* readoutValue) {
    if (m.queue == nullptr) return;
    const MeterQueue& q = *m.queue;
    for (int r = 0; r < readoutCount; ++r)
        if (meterReadout(r)) readoutValue[r] = q.published[r].load(std::memory_order_relaxed);
}

bool metersOffload(InstanceMeters& m) {
    if (m.queue != nullptr) return true;
    MeterQueue* q = new (std::nothrow) MeterQueue;
    if (q == nullptr) return false;
    for (int r = 0; r < readoutCount; ++r) q->published[r].store(readouts[r].defaultValue, std::memory_order_relaxed);
    m.queue = q;
    return true;
}

void metersRelease(InstanceMeters& m) {
    delete m.queue;
    m.queue = nullptr;
}

bool metersWaiting(InstanceMeters& m) {
    const bool waiting = m.waiting;
    m.waiting = false;
    return waiting;
}

void metersWork(InstanceMeters& m) {
    if (m.queue == nullptr) return;
    MeterQueue& q = *m.queue;
    unsigned r = q.read.load(std::memory_order_relaxed);
    const unsigned w = q.written.load(std::memory_order_acquire);
    if (r == w) return;
    for (; r != w; ++r) {
        const MeterSlot& s = q.slot[r % queueSlots];
        if (s.restart) setupMeters(m);
        if (s.resetPeak) m.peak.peak = 0.0f;
        meterBlock(m, s.input, s.output, s.levels, s.loudness, s.truePeak, true);
        q.read.store(r + 1, std::memory_order_release);  // the slot is the audio thread's again
    }
    float values[readoutCount] = {};
    readMeters(m, values);
    for (int k = 0; k < readoutCount; ++k)
        if (meterReadout(k)) q.published[k].store(values[k], std::memory_order_relaxed);
}

long long metersDropped(const InstanceMeters& m) {
    return m.queue != nullptr ? m.queue->dropped.load(std::memory_order_relaxed) : 0;
}

}  // namespace ports
