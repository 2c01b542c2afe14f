// Stage selection for one block: the hand-over first, then the equalizer and
// one of the two enhancers, as the block's settings choose; for 16-bit blocks
// (the player's path) and float blocks (the full-resolution path).
#include "dsp/classic.h"
#include "dsp/engine.h"
#include "dsp/equalizer.h"
#include "dsp/handover.h"
#include "dsp/multiband.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

bool outputStageWanted(const Engine& e, const EngineControls& c) {
    if (c.measuring_pass != 0) return false;
    return c.loudness_target != 0 || c.tp_limit != 0 || e.output.levelling || e.output.limiting;
}

// 16-bit samples into floats, exactly.
void widen(const int16_t* in, float* out, size_t total) {
    size_t i = 0;
#if defined(__SSE2__)
    for (; i + 8 <= total; i += 8) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i));
        // Each 16-bit sample into the top half of a 32-bit lane, then shifted
        // down with its sign.
        const __m128i lo = _mm_srai_epi32(_mm_unpacklo_epi16(v, v), 16);
        const __m128i hi = _mm_srai_epi32(_mm_unpackhi_epi16(v, v), 16);
        _mm_storeu_ps(out + i, _mm_cvtepi32_ps(lo));
        _mm_storeu_ps(out + i + 4, _mm_cvtepi32_ps(hi));
    }
#endif
    for (; i < total; ++i) out[i] = in[i];
}

// Floats back to 16 bits: round to nearest (even on a tie) and clamp; a
// not-a-number (which the chain does not produce) gives 0 in both loops.
void narrow(const float* in, int16_t* out, size_t total) {
    size_t i = 0;
#if defined(__SSE2__)
    // cvtps rounds to nearest even (the default mode, as lrint).
    const __m128 low = _mm_set1_ps(-32768.0f), high = _mm_set1_ps(32767.0f);
    auto clamped = [&](const float* p) {
        const __m128 v = _mm_loadu_ps(p);
        return _mm_min_ps(_mm_max_ps(_mm_and_ps(v, _mm_cmpeq_ps(v, v)), low), high);
    };
    for (; i + 8 <= total; i += 8) {
        const __m128i a = _mm_cvtps_epi32(clamped(in + i)), b = _mm_cvtps_epi32(clamped(in + i + 4));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_packs_epi32(a, b));
    }
#endif
    for (; i < total; ++i) {
        const float v = in[i] == in[i] ? in[i] : 0.0f;
        out[i] = static_cast<int16_t>(std::lrint(std::clamp(v, -32768.0f, 32767.0f)));
    }
}

// A 16-bit block through the float chain and the output stage: exact into
// float, back by round-to-nearest with the clamp (which the ceiling, when on,
// keeps from acting).
void processBlockStaged(Engine& e, const EngineControls& controls, int16_t* samples, int frames,
                        int channels, int rate) {
    const size_t total = static_cast<size_t>(frames) * static_cast<size_t>(channels);
    const bool owned = e.work.staged != nullptr && total <= static_cast<size_t>(e.work.capacity);
    float* x = owned ? e.work.staged : static_cast<float*>(std::malloc(total * sizeof(float)));
    if (x == nullptr) return;  // the block goes on untouched
    widen(samples, x, total);
    processBlockFloat(e, controls, x, frames, channels, rate);
    narrow(x, samples, total);
    if (!owned) std::free(x);
}

// The stage after either engine: set up for the stream's format, given the
// block's settings, run while one of its switches is on.
void runOutputStage(Engine& e, const EngineControls& c, float* samples, int frames, int channels,
                    int rate) {
    OutputStage& s = e.output;
    if (!outputStageWanted(e, c)) return;
    if (s.rate != rate || s.channels != channels) outputStageSetup(s, rate, channels);
    outputStageSettings(s, c.loudness_target != 0, c.target_lufs, c.tp_limit != 0, c.tp_ceiling);
    outputStageModes(s, c.level_mode, c.tp_mode);
    if (c.programme_sequence != s.toldSequence) {
        s.toldSequence = c.programme_sequence;
        outputStageProgramme(s, c.programme_lufs);
    }
    processOutputStage(s, samples, frames);
}

}  // namespace

void processBlock(Engine& e, const EngineControls& controls, int16_t* samples, int frames,
                  int channels, int rate) {
    if (outputStageWanted(e, controls) && samples != nullptr && rate <= 96000 && channels > 0 &&
        channels <= 2 && frames > 0) {
        processBlockStaged(e, controls, samples, frames, channels, rate);
        return;
    }
    adoptEngineParameters(e);
    if (samples == nullptr || rate > 96000 || channels <= 0 || channels > 2 || frames <= 0) return;

    const uint8_t enhance = controls.enhance;
    if (controls.eq_enable != 0 && enhance != 2)
        equalizeBlock(e, controls, samples, frames, channels, rate);
    if (enhance == 2) {
        e.multiband.bandHold = controls.band_hold;
        processMultiband(e, samples, frames, channels, rate);
    }
    else if (enhance != 0)
        enhanceClassic(e, controls, samples, frames, channels, rate);
}

namespace {

// The 16-bit shadow of a float block: each sample as the 16-bit path would
// take it (not-a-number 0, round to nearest even, clamped to -32768..32767).
// The float samples themselves lose their not-a-numbers and are limited to
// +-floatSampleBound on the way.
void makeShadow(float* samples, int16_t* shadow, size_t total) {
    size_t i = 0;
#if defined(__SSE2__)
    // As the scalar loop: not-a-number to 0 (the mask), the bounds, then the
    // 16-bit clamp and cvtps's round to nearest even (the default mode, as lrint).
    const __m128 top = _mm_set1_ps(floatSampleBound), bottom = _mm_set1_ps(-floatSampleBound);
    const __m128 low = _mm_set1_ps(-32768.0f), high = _mm_set1_ps(32767.0f);
    for (; i + 8 <= total; i += 8) {
        __m128 a = _mm_loadu_ps(samples + i), b = _mm_loadu_ps(samples + i + 4);
        a = _mm_min_ps(_mm_max_ps(_mm_and_ps(a, _mm_cmpeq_ps(a, a)), bottom), top);
        b = _mm_min_ps(_mm_max_ps(_mm_and_ps(b, _mm_cmpeq_ps(b, b)), bottom), top);
        _mm_storeu_ps(samples + i, a);
        _mm_storeu_ps(samples + i + 4, b);
        const __m128i ia = _mm_cvtps_epi32(_mm_min_ps(_mm_max_ps(a, low), high));
        const __m128i ib = _mm_cvtps_epi32(_mm_min_ps(_mm_max_ps(b, low), high));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(shadow + i), _mm_packs_epi32(ia, ib));
    }
#endif
    for (; i < total; ++i) {
        float v = samples[i];
        if (!(v == v)) v = 0.0f;
        v = std::clamp(v, -floatSampleBound, floatSampleBound);
        samples[i] = v;
        shadow[i] = static_cast<int16_t>(std::lrint(std::clamp(v, -32768.0f, 32767.0f)));
    }
}

// The equalizer and the classic enhancer at full resolution. Both run on the
// float samples and, in step, on the 16-bit shadow, so that the shadow always
// holds what the 16-bit path would: the classic enhancer's analysis reads it.
void processClassicFloat(Engine& e, const EngineControls& controls, float* samples, int frames,
                         int channels, int rate) {
    const size_t total = static_cast<size_t>(frames) * static_cast<size_t>(channels);
    const bool owned = e.work.shadow != nullptr && total <= static_cast<size_t>(e.work.capacity);
    int16_t* shadow = owned ? e.work.shadow
                            : static_cast<int16_t*>(std::malloc(total * sizeof(int16_t)));
    if (shadow == nullptr) return;  // without it the block goes on untouched
    makeShadow(samples, shadow, total);
    if (controls.eq_enable != 0) {
        equalizeBlock(e, controls, shadow, frames, channels, rate);
        equalizeBlockFloat(e, controls, samples, frames, channels, rate);
    }
    if (controls.enhance != 0)  // any value but 0 (and 2, handled apart), as in the 16-bit path
        enhanceClassicFloat(e, controls, samples, shadow, frames, channels, rate);
    if (!owned) std::free(shadow);
}

}  // namespace

void processBlockFloat(Engine& e, const EngineControls& controls, float* samples, int frames,
                       int channels, int rate) {
    adoptEngineParameters(e);
    if (samples == nullptr || rate > 96000 || channels <= 0 || channels > 2 || frames <= 0) return;

    const uint8_t enhance = controls.enhance;
    if (enhance == 2) {
        e.multiband.bandHold = controls.band_hold;
        processMultibandFloat(e, samples, frames, channels, rate);
    }
    else if (enhance != 0 || controls.eq_enable != 0)
        processClassicFloat(e, controls, samples, frames, channels, rate);
    runOutputStage(e, controls, samples, frames, channels, rate);
}
