// One engine instance: everything one audio stream's processing needs, and
// the routines a host (or the plug-in's parameter block) drives it with.
//
// An instance is a plain record; any number of them may live in one process,
// each used by one audio thread at a time. Parameters reach an instance from
// another thread through its hand-over (dsp/handover.h), never by writing its
// running parameters directly.
#pragma once

#include <cstdint>

#include "dsp/engine_types.h"
#include "dsp/output_stage.h"
#include "dsp/shared_access.h"

// One equalizer band's user setting.
struct EqBand {
    uint16_t gain;       // 0..100, 50 neutral, the boost is (50 - gain) / 5 dB
    uint16_t frequency;  // Hz
};

// The three fixed-width multiband text fields, back to back in one 200-byte block.
struct MultibandStrings {
    char enh_multi1[50];
    char enh_multi2[90];
    char enh_limiter[60];
};
static_assert(sizeof(MultibandStrings) == 200);

// The user settings one block reads, taken once at the block's start.
struct EngineControls {
    uint8_t enhance;        // 0 off, 1 classic enhancer, 2 multiband engine
    uint8_t stereo_width;
    uint8_t hpcutoff;
    uint8_t threshold;
    int32_t eq_enable;
    EqBand eq_bands[3];
    // The output stage (off by default): the loudness target and the true-peak ceiling.
    uint8_t loudness_target;  // 0/1
    uint8_t tp_limit;         // 0/1
    int16_t target_lufs;      // tenths of a LU below 0 LUFS, 50..400
    int16_t tp_ceiling;       // tenths of a dB below 0 dBTP, 0..120
    // Choices for a clean sound (0, as before, by default).
    uint8_t band_hold = 0;    // 0/1: the multiband gain computers hold the peak
    uint8_t level_mode = 0;   // 0 running mean, 1 long-term mean per programme
    uint8_t tp_mode = 0;      // 0 fixed release, 1 long release, 2 long release and brake
    // A programme loudness told by the host: taken when the sequence number
    // differs from the last one the stage took (0: none told).
    uint32_t programme_sequence = 0;
    float programme_lufs = 0.0f;
    uint8_t measuring_pass = 0;  // 1: the output stage is skipped (a host's first pass)
};

// Capacity of the classic enhancer's high-passed analysis copy, in samples;
// longer blocks are analysed in windows of this size.
constexpr int analysisBufferLength = 100000;

// Reset requests carried to the audio thread and applied between blocks.
constexpr uint32_t engineResetBandGains = 1;   // band gains and read-outs to 1.0
constexpr uint32_t engineResetHistories = 2;   // band and limiter delay lines cleared
constexpr uint32_t engineResetAgcGains = 4;    // input AGC gains to 1.0
constexpr uint32_t engineResetClassicGain = 8; // classic enhancer gain to 1.0
constexpr uint32_t engineResetAll = 15;

// Work buffers an instance may own so that its blocks allocate nothing.
struct EngineWork {
    int capacity;          // samples per block the buffers hold (0: none owned)
    float* input;          // capacity + 1 floats
    float* bands[4];       // capacity + bandHistoryLength + 1 floats each
    int32_t* equalizer;    // capacity + 1 samples
    int16_t* shadow;       // capacity + 1 samples: the float path's 16-bit copy
    float* staged;         // capacity + 1 floats: a 16-bit block on its way through the output stage
};

struct Engine {
    // Classic enhancer. The three coefficient fields hold the values of the
    // latest computation made outside the audio thread (what the pages show);
    // the audio thread runs with engineClassic.
    float classicGain;
    float gainCeiling;
    float gainUpStep;
    float gainDownStep;
    ClassicCoefficients engineClassic;
    int32_t hpInput[2];
    int32_t hpPrevInput[2];
    int32_t hpPrevOutput[2];
    int16_t analysisBuffer[analysisBufferLength];

    // Equalizer: the 16-bit path's memory and the full-resolution path's.
    EqBandState eqState[3];
    EqBandFloatState eqFloatState[3];

    // Multiband engine. multibandParams is the result of the latest parse made
    // outside the audio thread (what the pages show); engineMultiband is what
    // the audio thread runs with.
    MultibandParams multibandParams;
    MultibandParams engineMultiband;
    MultibandState multiband;
    float limiterHistory[bandHistoryLength];
    LimiterState limiterState;

    // Hand-over of parameter sets and state resets to the audio thread.
    Mailbox<ClassicCoefficients> classicMailbox;
    Mailbox<MultibandConfig> multibandMailbox;
    MultibandConfig adoptedMultiband;  // the audio thread's copy while adopting
    uint32_t pendingResets;            // engineReset* bits, accessed atomically

    EngineWork work;

    // The output stage after either engine (runs only while one of its switches is on).
    OutputStage output;
};

// State as at load: gains 1.0, histories and filter memories cleared, no
// parameters published yet; owns no buffers (call engineReleaseWork first if
// it did).
void engineInitialise(Engine& e);

// Allocates owned work buffers so that any block of up to maxFrames frames
// (mono or stereo, any rate) allocates nothing. Returns false, owning
// nothing, on failure. Replaces buffers owned before.
bool engineReserveWork(Engine& e, int maxFrames);
void engineReleaseWork(Engine& e);

// The coefficient routines the pages use; apply directly when called on the
// audio thread (setAudioThreadActive(true)), otherwise publish for the next block.
// Classic: gain ceiling and steps from amp_max, amp_up and amp_dwn, steps
// scaled by 44100 / rate (rate <= 0: unscaled); reset also asks for the
// classic gain to return to 1.0.
// The classic coefficients alone, as computeClassicCoefficients forms them.
ClassicCoefficients classicCoefficients(int ampMax, int ampUp, int ampDown, int rate);
void computeClassicCoefficients(Engine& e, int ampMax, int ampUp, int ampDown, int reset,
                                int rate);
// Multiband: flags bit 0 band gains and read-outs to 1.0, bit 1 delay histories
// cleared, any value above 0 also sets the AGC gains to 1.0. Rate 0 means 44100 Hz.
void parseMultibandStrings(Engine& e, const MultibandStrings& strings, int flags, int rate,
                           int channels);
// engineReset* bits: applied at once on the audio thread, otherwise at the
// start of the next block.
void requestEngineResets(Engine& e, uint32_t resetBits);
// True while the calling thread is inside the host's audio callback.
void setAudioThreadActive(bool active);

// One 16-bit block in place (adopts published parameters first). Processes only
// when 0 < channels <= 2, frames > 0, rate <= 96000; otherwise leaves it untouched.
void processBlock(Engine& e, const EngineControls& controls, int16_t* samples, int frames,
                  int channels, int rate);

// One float block in place, at full resolution: interleaved samples in the
// 16-bit scale (full scale 32768.0f; a 16-bit sample s is the float s). Same
// acceptance rules as processBlock; values beyond full scale are headroom and
// are not clamped. The classic enhancer's gain takes the 16-bit path's steps
// (its analysis reads the block rounded to 16 bits, as that path holds it)
// and is applied in double; the equalizer's filters keep unrounded memory;
// the multiband engine's final conversion is rounded to float instead of
// truncated and clamped. Samples are rounded to float after each step (the
// equalizer, the widening, the gain; see the stages for the details). Uses the instance's owned work
// buffers when they are large enough, otherwise obtains them for the block.
void processBlockFloat(Engine& e, const EngineControls& controls, float* samples, int frames,
                       int channels, int rate);

// The float path takes a sample that is not a number as 0 and limits samples
// to +-floatSampleBound (2^24, 512 times full scale) on the way in, so that no
// filter memory can be poisoned.
constexpr float floatSampleBound = 16777216.0f;

// The multiband engine's delay D in frames for a rate (its latency): rate / 100,
// limited so that D * channels fits the 2000-sample band histories; 0 for a
// rate or channel count that is not positive.
int multibandDelayFrames(int rate, int channels);
