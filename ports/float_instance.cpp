// The float instance shared by the LV2 and LADSPA plug-ins.
#include "ports/float_instance.h"

#include <cmath>
#include <cstring>
#include <new>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "dsp/engine.h"
#include "dsp/multiband.h"
#include "ports/instance_meters.h"

namespace ports {

static_assert(sizeof(StringFields) == sizeof(MultibandStrings));

struct FloatInstance {
    Engine engine;
    int channels = 0;
    int rate = 0;      // the host's rate, rounded; 0 when it is not one the engine takes
    bool processes = false;
    bool fresh = true;  // not run since creation or the last reset

    const float* input[2] = {nullptr, nullptr};
    float* output[2] = {nullptr, nullptr};
    const float* controlPort[controlCount] = {};
    float* readoutPort[readoutCount] = {};

    // FIFO: the engine block being gathered and the last processed block
    // being played out, interleaved floats in the engine's 16-bit scale (the
    // host's x times 32768, exact). `position` counts frames of both. Each
    // block is gathered in one of `blocks` and processed in place, or, while
    // the meters run on a worker, gathered in a slot of their queue and
    // processed into the slot's output (`processed`), which then plays.
    // `fixed` holds a block reduced to 16 bits while full_resolution is off.
    float blocks[2][blockFrames * 2] = {};
    float* gathered = blocks[0];
    float* playing = blocks[1];
    float* processed = blocks[0];
    bool chosen = false;  // the buffers of the block being gathered are chosen
    int position = 0;
    int16_t fixed[blockFrames * 2] = {};

    // What the engine was last given, and the port values those codes came from.
    bool started = false;
    int32_t codes[controlCount] = {};
    float lastValue[controlCount] = {};
    bool lastValid[controlCount] = {};
    StringFields strings = {};
    MultibandStrings parsedStrings = {};
    EngineControls engineControls = {};

    float readoutValue[readoutCount] = {};
    double agcGain[2] = {1.0, 1.0};  // the gains readoutValue shows in dB

    // The meters behind the level, loudness and true-peak read-outs.
    InstanceMeters meters;

    // The multiband limiter's traces of its last block, written by the engine
    // on the audio thread and read back there for the UI's notifications.
    TraceBuffer trace = {};
    bool traced = false;  // the limiter ran since the last look
};

int16_t floatToSample(float x) {
    const float v = x * 32768.0f;  // exact: a power of two
    if (!(v == v)) return 0;
    if (v >= 32767.0f) return 32767;
    if (v <= -32768.0f) return -32768;
    return static_cast<int16_t>(std::lrint(v));
}

static bool reserve(FloatInstance& in) {
    engineInitialise(in.engine);
    if (!engineReserveWork(in.engine, blockFrames)) return false;
    attachTraceBuffer(in.engine, &in.trace);
    bool bands = false;
    for (int b = 0; b < 4; ++b) bands |= in.readoutPort[rBandGain1 + b] != nullptr;
    store_relaxed(in.engine.multiband.bandReadoutsOn, int32_t{bands});
    return true;
}

FloatInstance* createInstance(int channels, double sampleRate) {
    if (channels != 1 && channels != 2) return nullptr;
    FloatInstance* in = new (std::nothrow) FloatInstance;
    if (in == nullptr) return nullptr;
    in->channels = channels;
    // The engine takes whole rates up to 96000 Hz; any other rate passes
    // through (still delayed by the FIFO, so the latency stays the same).
    if (sampleRate >= 1.0 && sampleRate <= 96000.0 && sampleRate == std::floor(sampleRate)) {
        in->rate = static_cast<int>(sampleRate);
        in->processes = true;
    }
    if (!reserve(*in)) {
        delete in;
        return nullptr;
    }
    defaultCodes(in->codes);
    formatStrings(in->codes, in->strings);
    metersStart(in->meters, in->rate, channels);
    for (int r = rInPeakLeft; r <= rTruePeak; ++r) in->readoutValue[r] = readouts[r].defaultValue;
    in->readoutValue[rLatency] = static_cast<float>(blockFrames);
    return in;
}

void destroyInstance(FloatInstance* in) {
    if (in == nullptr) return;
    detachTraceBuffer(in->engine);
    engineReleaseWork(in->engine);
    metersRelease(in->meters);
    delete in;
}

bool resetInstance(FloatInstance* in) {
    if (in->fresh) return true;  // nothing ran since creation
    engineReleaseWork(in->engine);
    if (!reserve(*in)) {
        // Without its work buffers the engine would allocate per block:
        // pass the audio through instead.
        in->processes = false;
        return false;
    }
    memset(in->blocks, 0, sizeof in->blocks);
    in->gathered = in->processed = in->blocks[0];
    in->playing = in->blocks[1];
    in->chosen = false;
    metersRestart(in->meters);
    in->position = 0;
    in->started = false;
    in->fresh = true;
    return true;
}

void connectAudioInput(FloatInstance* in, int channel, const float* data) {
    if (channel >= 0 && channel < in->channels) in->input[channel] = data;
}
void connectAudioOutput(FloatInstance* in, int channel, float* data) {
    if (channel >= 0 && channel < in->channels) in->output[channel] = data;
}
void connectControl(FloatInstance* in, int control, const float* data) {
    if (control >= 0 && control < controlCount) in->controlPort[control] = data;
}
void connectReadout(FloatInstance* in, int readout, float* data) {
    if (readout < 0 || readout >= readoutCount) return;
    in->readoutPort[readout] = data;
    // The engine averages the band gains (about a tenth of the multiband
    // engine's time) only while a host reads one of them.
    bool bands = false;
    for (int b = 0; b < 4; ++b) bands |= in->readoutPort[rBandGain1 + b] != nullptr;
    store_relaxed(in->engine.multiband.bandReadoutsOn, int32_t{bands});
    metersConnect(in->meters, in->readoutPort);
}

// The code a control port asks for; the mapping runs only when the port's
// value has changed since the last look.
static int32_t portCode(FloatInstance& in, int k) {
    const float* port = in.controlPort[k];
    if (port == nullptr) return controls[k].defaultCode;
    const float v = *port;
    if (in.lastValid[k] && memcmp(&v, &in.lastValue[k], sizeof v) == 0) return in.codes[k];
    in.lastValue[k] = v;
    in.lastValid[k] = true;
    return codeOfValue(controls[k], v);
}

static void toEngineControls(const int32_t* codes, EngineControls& c) {
    c.enhance = static_cast<uint8_t>(codes[cEnhance]);
    c.stereo_width = static_cast<uint8_t>(codes[cStereoWidth]);
    c.hpcutoff = static_cast<uint8_t>(codes[cHpCutoff]);
    c.threshold = static_cast<uint8_t>(codes[cThreshold]);
    c.eq_enable = codes[cEqEnable];
    for (int b = 0; b < 3; ++b) {
        c.eq_bands[b].gain = static_cast<uint16_t>(codes[cEqGain1 + b]);
        c.eq_bands[b].frequency = static_cast<uint16_t>(codes[cEqFreq1 + b]);
    }
    c.loudness_target = static_cast<uint8_t>(codes[cLoudnessTarget]);
    c.target_lufs = static_cast<int16_t>(codes[cTargetLufs]);
    c.tp_limit = static_cast<uint8_t>(codes[cTpLimit]);
    c.tp_ceiling = static_cast<int16_t>(codes[cTpCeiling]);
    c.band_hold = static_cast<uint8_t>(codes[cBandHold]);
    c.level_mode = static_cast<uint8_t>(codes[cLevelMode]);
    c.tp_mode = static_cast<uint8_t>(codes[cTpMode]);
}

static const MultibandStrings& engineStrings(FloatInstance& in) {
    memcpy(&in.parsedStrings, &in.strings, sizeof in.parsedStrings);
    return in.parsedStrings;
}

static void classicCoefficients(FloatInstance& in, int reset) {
    computeClassicCoefficients(in.engine, in.codes[cAmpMax], in.codes[cAmpUp], in.codes[cAmpDown],
                               reset, in.rate);
}

// Reads the control ports at an engine block boundary and hands every change
// to the engine through the routine and flags its page control uses. Both
// coefficient routines run with the stream's real rate: the pages' rate 0
// stands for 44100 Hz only because the dialog does not know the stream.
static void applyControls(FloatInstance& in) {
    int32_t now[controlCount];
    for (int k = 0; k < controlCount; ++k) now[k] = portCode(in, k);

    if (!in.started) {
        // As the player's first block: classic coefficients with a reset at
        // the stream's rate, then the strings with flags 3.
        memcpy(in.codes, now, sizeof now);
        writeStringFields(in.codes, in.strings);
        in.engine.multiband.soloBand = static_cast<uint16_t>(in.codes[cSolo]);
        classicCoefficients(in, 1);
        parseMultibandStrings(in.engine, engineStrings(in), 3, in.rate, in.channels);
        toEngineControls(in.codes, in.engineControls);
        in.started = true;
        return;
    }

    bool classicChanged = false;
    bool parse = false;
    int flags = 0;
    for (int k = 0; k < controlCount; ++k) {
        if (now[k] == in.codes[k]) continue;
        const int32_t before = in.codes[k];
        in.codes[k] = now[k];
        switch (controls[k].effect) {
        case Effect::ClassicPage: classicChanged = true; break;
        case Effect::MultibandParse: parse = true; break;
        case Effect::CrossoverParse:
            parse = true;
            flags |= 1;
            break;
        case Effect::Solo: in.engine.multiband.soloBand = static_cast<uint16_t>(now[k]); break;
        case Effect::Resolution: break;  // read by engineBlock
        case Effect::OutputStage: break;  // read from the codes into the block's controls
        case Effect::Meters: metersResetPeak(in.meters); break;
        case Effect::EngineSwitch:
            // Into the multiband engine, or from it to off: its page's
            // "Enable", which parses with flags 2. Into the classic enhancer,
            // or from it to off: the Enhancer 1 page's "Enable", which
            // recomputes the coefficients (that page is the only way from
            // the multiband engine to the classic one).
            if (now[k] == 2 || (before == 2 && now[k] == 0)) {
                parse = true;
                flags |= 2;
            } else {
                classicChanged = true;
            }
            break;
        }
    }
    if (classicChanged) classicCoefficients(in, 0);
    if (parse) {
        writeStringFields(in.codes, in.strings);
        parseMultibandStrings(in.engine, engineStrings(in), flags, in.rate, in.channels);
    }
    toEngineControls(in.codes, in.engineControls);
}

// The output stage's read-outs; its statistics stay as they were while a part is off.
static void updateStageReadouts(FloatInstance& in) {
    float* r = in.readoutValue;
    const OutputStageStatistics& stage = in.engine.output.statistics;
    const bool levelling = in.codes[cLoudnessTarget] != 0, limiting = in.codes[cTpLimit] != 0;
    r[rProgrammeLoudness] = levelling && stage.programmeLufs > -70.0f ? stage.programmeLufs : -70.0f;
    r[rLevellerGain] = levelling ? stage.levellerGainDb : 0.0f;
    r[rCeilingReduction] = limiting && -stage.ceilingGainDb > 0.0f ? -stage.ceilingGainDb : 0.0f;
}

static void updateReadouts(FloatInstance& in) {
    float* r = in.readoutValue;
    r[rClassicGain] = in.engine.classicGain;
    for (int b = 0; b < 4; ++b) r[rBandGain1 + b] = in.engine.multiband.bandGainReadouts[b];
    for (int c = 0; c < 2; ++c) {
        // The AGC gains stay put while the AGC is off: no logarithm then.
        const double g = in.engine.multiband.agcGains[c];
        if (g == in.agcGain[c]) continue;
        in.agcGain[c] = g;
        r[rAgcGainLeft + c] = g > 0.0 ? static_cast<float>(20.0 * std::log10(g)) : 0.0f;
    }
}

// A block of the FIFO (16-bit scale) to 16-bit samples as floatToSample
// converts the host's values, and back.
static void reduceBlock(const float* block, int16_t* fixed, int count) {
    int i = 0;
#if defined(__SSE2__)
    const __m128 low = _mm_set1_ps(-32768.0f);
    const __m128 high = _mm_set1_ps(32767.0f);
    for (; i + 8 <= count; i += 8) {
        __m128 a = _mm_loadu_ps(block + i), b = _mm_loadu_ps(block + i + 4);
        a = _mm_min_ps(_mm_max_ps(_mm_and_ps(a, _mm_cmpeq_ps(a, a)), low), high);
        b = _mm_min_ps(_mm_max_ps(_mm_and_ps(b, _mm_cmpeq_ps(b, b)), low), high);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(fixed + i),
                         _mm_packs_epi32(_mm_cvtps_epi32(a), _mm_cvtps_epi32(b)));
    }
#endif
    for (; i < count; ++i) fixed[i] = floatToSample(block[i] / 32768.0f);
}

static void widenBlock(const int16_t* fixed, float* block, int count) {
    for (int i = 0; i < count; ++i) block[i] = fixed[i];
}

// The value of full_resolution now (the engine's controls are not read while
// the engine does not process).
static bool fullResolution(const FloatInstance& in) {
    if (in.processes && in.started) return in.codes[cFullResolution] != 0;
    const float* port = in.controlPort[cFullResolution];
    return port != nullptr ? codeOfValue(controls[cFullResolution], *port) != 0
                           : controls[cFullResolution].defaultCode != 0;
}


// The buffers of the next engine block, before any of it is gathered.
static void chooseBuffers(FloatInstance& in) {
    in.chosen = true;
    if (in.processes && metersLend(in.meters, &in.gathered, &in.processed)) return;
    in.gathered = in.processed = in.playing == in.blocks[0] ? in.blocks[1] : in.blocks[0];
}

static void engineBlock(FloatInstance& in) {
    if (in.processes) applyControls(in);
    if (in.processes) metersBefore(in.meters, in.gathered);
    const int count = blockFrames * in.channels;
    float* out = in.processed;
    if (!fullResolution(in)) {
        // As the player: the engine's 16-bit path between two conversions.
        reduceBlock(in.gathered, in.fixed, count);
        if (in.processes)
            processBlock(in.engine, in.engineControls, in.fixed, blockFrames, in.channels, in.rate);
        widenBlock(in.fixed, out, count);
    } else {
        if (out != in.gathered) memcpy(out, in.gathered, sizeof(float) * count);
        if (in.processes) processBlockFloat(in.engine, in.engineControls, out, blockFrames, in.channels, in.rate);
    }
    if (in.processes) updateReadouts(in);
    in.traced |= in.processes && in.codes[cEnhance] == 2 && in.codes[cLimiterOn] != 0;
    if (in.processes) {
        metersAfter(in.meters, out, in.readoutValue);
        updateStageReadouts(in);
    }
    in.playing = out;
    in.chosen = false;
}

// The code the engine runs with; before the first engine block, the one the
// port asks for.
static int32_t currentCode(const FloatInstance* in, int k) {
    if (in->started) return in->codes[k];
    const float* port = in->controlPort[k];
    return port != nullptr ? codeOfValue(controls[k], *port) : controls[k].defaultCode;
}

bool instanceLimiterTrace(FloatInstance* in, float* values, int points) {
    if (!in->traced) return false;
    in->traced = false;
    if (points > traceLength) points = traceLength;
    for (int t = 0; t < 3; ++t)
        for (int i = 0; i < points; ++i) values[t * points + i] = load_relaxed(in->trace.values[t * traceLength + i]);
    return true;
}

bool offloadInstanceMeters(FloatInstance* in) { return metersOffload(in->meters); }
bool instanceMeterWorkWaiting(FloatInstance* in) { return metersWaiting(in->meters); }
void instanceMeterWork(FloatInstance* in) { metersWork(in->meters); }
long long instanceMetersDropped(const FloatInstance* in) { return metersDropped(in->meters); }

int instanceLatency(const FloatInstance* in) {
    int latency = blockFrames;
    if (in->processes && currentCode(in, cEnhance) == 2) {
        // The band split and the limiter each delay by the engine's lookahead.
        const int stages = (currentCode(in, cSplit) != 0) + (currentCode(in, cLimiterOn) != 0);
        latency += stages * multibandDelayFrames(in->rate, in->channels);
    }
    if (in->processes && (currentCode(in, cLoudnessTarget) != 0 || currentCode(in, cTpLimit) != 0))
        latency += outputStageLatency(in->rate);
    return latency;
}

// n frames of planar input (a missing buffer is silence) into the FIFO's
// interleaved floats, each times 32768 (exact: a power of two).
template <int Channels>
static void gatherInput(float* out, const float* const* src, uint32_t offset, uint32_t n) {
    uint32_t i = 0;
#if defined(__SSE2__)
    if (src[0] != nullptr && src[Channels - 1] != nullptr) {
        const __m128 scale = _mm_set1_ps(32768.0f);
        for (; i + 4 <= n; i += 4) {
            const __m128 a = _mm_mul_ps(_mm_loadu_ps(src[0] + offset + i), scale);
            if (Channels == 2) {
                const __m128 b = _mm_mul_ps(_mm_loadu_ps(src[1] + offset + i), scale);
                _mm_storeu_ps(out + 2 * i, _mm_unpacklo_ps(a, b));
                _mm_storeu_ps(out + 2 * i + 4, _mm_unpackhi_ps(a, b));
            } else {
                _mm_storeu_ps(out + i, a);
            }
        }
    }
#endif
    for (; i < n; ++i)
        for (int c = 0; c < Channels; ++c)
            out[i * Channels + c] = src[c] != nullptr ? src[c][offset + i] * 32768.0f : 0.0f;
}

// n frames of the FIFO's interleaved floats out to the planar outputs (a
// missing buffer is skipped), each divided by 32768 (exact).
template <int Channels>
static void scatterOutput(float* const* dst, uint32_t offset, const float* samples, uint32_t n) {
    uint32_t i = 0;
#if defined(__SSE2__)
    if (dst[0] != nullptr && dst[Channels - 1] != nullptr) {
        const __m128 scale = _mm_set1_ps(1.0f / 32768.0f);
        for (; i + 4 <= n; i += 4) {
            if (Channels == 2) {
                const __m128 a = _mm_mul_ps(_mm_loadu_ps(samples + 2 * i), scale);      // L0 R0 L1 R1
                const __m128 b = _mm_mul_ps(_mm_loadu_ps(samples + 2 * i + 4), scale);  // L2 R2 L3 R3
                _mm_storeu_ps(dst[0] + offset + i, _mm_shuffle_ps(a, b, _MM_SHUFFLE(2, 0, 2, 0)));
                _mm_storeu_ps(dst[1] + offset + i, _mm_shuffle_ps(a, b, _MM_SHUFFLE(3, 1, 3, 1)));
            } else {
                _mm_storeu_ps(dst[0] + offset + i, _mm_mul_ps(_mm_loadu_ps(samples + i), scale));
            }
        }
    }
#endif
    for (; i < n; ++i)
        for (int c = 0; c < Channels; ++c)
            if (dst[c] != nullptr) dst[c][offset + i] = samples[i * Channels + c] / 32768.0f;
}

template <int Channels>
static void runFrames(FloatInstance& in, uint32_t frames) {
    const float* src[2] = {in.input[0], in.input[Channels - 1]};
    float* dst[2] = {in.output[0], in.output[Channels - 1]};
    uint32_t done = 0;
    while (done < frames) {
        if (!in.chosen) chooseBuffers(in);
        uint32_t count = static_cast<uint32_t>(blockFrames - in.position);
        if (count > frames - done) count = frames - done;
        // Input and output may share buffers: all of this stretch's input is
        // read before any of its output is written.
        gatherInput<Channels>(in.gathered + in.position * Channels, src, done, count);
        scatterOutput<Channels>(dst, done, in.playing + in.position * Channels, count);
        done += count;
        in.position += static_cast<int>(count);
        if (in.position == blockFrames) {
            engineBlock(in);
            in.position = 0;
        }
    }
}

void runInstance(FloatInstance* in, uint32_t frames) {
    in->fresh = false;
    setAudioThreadActive(true);
    if (in->channels == 2)
        runFrames<2>(*in, frames);
    else
        runFrames<1>(*in, frames);
    setAudioThreadActive(false);

    metersShow(in->meters, in->readoutValue);
    in->readoutValue[rLatency] = static_cast<float>(instanceLatency(in));
    for (int r = 0; r < readoutCount; ++r)
        if (in->readoutPort[r] != nullptr) *in->readoutPort[r] = in->readoutValue[r];
}

}  // namespace ports
