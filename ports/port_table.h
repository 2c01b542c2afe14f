// The one table of the LV2 and LADSPA plug-ins' ports: symbols, names, ranges,
// defaults, units, port properties and help, and how a port value maps to the
// settings field code that the matching page control writes. The LV2 .ttl
// files, the LADSPA descriptors, the README's port table and the tests all read
// it from here.
#pragma once

#include <cstdint>

namespace ports {

// Every control input, in port order. Codes are the values the settings block
// and the multiband strings hold (for example amp_max 0..100, a band's max amp
// field 000..100, the limiter's threshold field 000..300).
enum Control : int {
    cEnhance,
    cStereoWidth,
    cAmpMax,
    cAmpUp,
    cAmpDown,
    cHpCutoff,
    cThreshold,
    cEqEnable,
    cEqGain1,
    cEqGain2,
    cEqGain3,
    cEqFreq1,
    cEqFreq2,
    cEqFreq3,
    cSplit,       // enh_multi1[0] 'm'
    cAgc,         // enh_multi1[1] 'a'
    cCrossover1,  // enh_multi1 5..9
    cCrossover2,
    cCrossover3,
    cDrive,       // enh_multi1 35..37
    cStereo,      // enh_multi1 39..41
    cBand1MaxAmp, // enh_multi2 5 + 16b + 4c, column c = max amp, release, attack, threshold
    cBand1Release,
    cBand1Attack,
    cBand1Threshold,
    cBand2MaxAmp,
    cBand2Release,
    cBand2Attack,
    cBand2Threshold,
    cBand3MaxAmp,
    cBand3Release,
    cBand3Attack,
    cBand3Threshold,
    cBand4MaxAmp,
    cBand4Release,
    cBand4Attack,
    cBand4Threshold,
    cSolo,          // the band solo switch (engine state, not a string field)
    cLimiterOn,     // enh_limiter[0] 'l'
    cSoftClip,      // enh_limiter[2]: 0 '-', 1 's', 2 'h'
    cLimThreshold,  // enh_limiter 8..10
    cLimRelease,    // 13..15
    cLimCeiling,    // 18..20
    cLimKnee,       // 23..25
    cLimRatio,      // 28..30
    cLimAttack,     // 33..35
    cLimHold,       // 38..40
    cFullResolution,  // the plug-in's own switch: float samples to the engine or 16-bit ones
    cLoudnessTarget,  // the output stage (settings block fields, not string fields)
    cTargetLufs,
    cTpLimit,
    cTpCeiling,
    cBandHold,        // choices for a clean sound (settings block fields)
    cLevelMode,
    cTpMode,
    cPeakReset,       // the plug-in's own: any change starts the true-peak read-out afresh
    controlCount
};

// Control outputs, in port order after the control inputs.
enum Readout : int {
    rClassicGain,
    rBandGain1,
    rBandGain2,
    rBandGain3,
    rBandGain4,
    rAgcGainLeft,
    rAgcGainRight,
    rLatency,
    rInPeakLeft,      // the meters of the plug-in's input and output (dBFS, LUFS)
    rInPeakRight,
    rInRmsLeft,
    rInRmsRight,
    rOutPeakLeft,
    rOutPeakRight,
    rOutRmsLeft,
    rOutRmsRight,
    rInLoudness,
    rOutLoudness,
    rProgrammeLoudness,  // the output stage's
    rLevellerGain,
    rCeilingReduction,
    rTruePeak,
    readoutCount
};

// How a control's value relates to its code.
enum class Scale : uint8_t {
    Code,           // value = code
    Linear,         // value = a * code + b
    BandRelease,    // ms for the gain to rise by 1.0: 1000 / (44100 * upStep(code))
    BandAttack,     // ms for the gain to fall by 1.0: 1000 / (44100 * downStep(code))
    BandThreshold,  // dB: 20 log10(0.0075 code + 0.25)
    Drive,          // dB: 20 log10(0.025 code + 0.5)
};

// What a change of the control sets off in the engine, as the page control
// that edits the same setting does.
enum class Effect : uint8_t {
    ClassicPage,     // Enhancer 1 page: classic coefficients again (no reset)
    EngineSwitch,    // enhance: the page whose switch it is (see float_instance.cpp)
    MultibandParse,  // Enhancer 2 page or limiter dialog: parse with flags 0
    CrossoverParse,  // crossover field: parse with flags 1
    Solo,            // the solo switch: the engine's solo band only
    Resolution,      // how the plug-in hands its samples to the engine; nothing in the engine
    OutputStage,     // the output stage's settings: the block's controls only
    Meters,          // the read-outs only; nothing in the engine
};

enum PortFlags : uint8_t {
    flagInteger = 1,
    flagToggle = 2,
    flagEnumeration = 4,
};

enum class Unit : uint8_t { None, Hz, Ms, Db, Percent, Times, Ratio, Frames, Lufs, Dbtp };

struct ScalePoint {
    float value;
    const char* label;
};

struct ControlInfo {
    const char* symbol;
    const char* name;
    Scale scale;
    double a, b;          // Scale::Linear only
    int codeMin, codeMax; // the codes the page control can write
    int defaultCode;      // the Windows plug-in's default
    Unit unit;
    uint8_t flags;
    const ScalePoint* points;
    int pointCount;
    Effect effect;
    const char* help;
};

struct ReadoutInfo {
    const char* symbol;
    const char* name;
    float minimum, maximum, defaultValue;
    Unit unit;
    const char* help;
};

extern const ControlInfo controls[controlCount];
extern const ReadoutInfo readouts[readoutCount];

// The port value the control shows for a code.
double valueOfCode(const ControlInfo& info, int code);
// The reachable code nearest to a port value: out-of-range values give the
// nearest end, a value that is not a number gives the default. A toggle is on
// for any value above zero.
int codeOfValue(const ControlInfo& info, double value);
// The port's range and default as values (for a falling scale the lower end
// belongs to codeMax).
double minimumValue(const ControlInfo& info);
double maximumValue(const ControlInfo& info);
double defaultValue(const ControlInfo& info);

// Plug-in identity shared by both formats.
constexpr int blockFrames = 576;  // the player's block: the FIFO's length
constexpr const char* stereoUri = "urn:dsp-redozer:stereo";
constexpr const char* monoUri = "urn:dsp-redozer:mono";
constexpr const char* stereoLabel = "redozer_stereo";
constexpr const char* monoLabel = "redozer_mono";
constexpr const char* stereoName = "Audio Enhancer (stereo)";
constexpr const char* monoName = "Audio Enhancer (mono)";
constexpr unsigned long stereoLadspaId = 4187801;
constexpr unsigned long monoLadspaId = 4187802;

// Port order of both formats: the audio ports first (stereo: in L, in R,
// out L, out R; mono: in, out), then the control inputs, then the read-outs.
inline int audioPortCount(int channels) { return 2 * channels; }
inline int controlPortIndex(int channels, int control) { return 2 * channels + control; }
inline int readoutPortIndex(int channels, int readout) {
    return 2 * channels + controlCount + readout;
}
inline int portCount(int channels) { return 2 * channels + controlCount + readoutCount; }
// LV2 only, after all of those: an atom port of notifications to the UI (the
// limiter's traces, about 30 a second).
inline int notifyPortIndex(int channels) { return portCount(channels); }
constexpr int notifyTracePoints = 500;  // values of each of the limiter's three traces
constexpr int notifyBufferSize = 16384; // bytes the port asks its host for

// Every control's code at its default.
void defaultCodes(int32_t codes[controlCount]);

// ---- The multiband strings and the codes --------------------------------------
// The three strings as the settings block holds them (50, 90 and 60 bytes).
struct StringFields {
    char multi1[50];
    char multi2[90];
    char limiter[60];
};

// Writes the codes of every string field into the strings at their fixed
// positions, zero-padded as the pages write them ("%.5d" crossovers, "%.3d"
// everything else, switch letters or '-'); characters outside the fields are
// left as they are. Allocates nothing (run() calls it).
void writeStringFields(const int32_t codes[controlCount], StringFields& strings);
// The standard strings (labels and fillers) with the codes written in.
void formatStrings(const int32_t codes[controlCount], StringFields& strings);
// Reads the string fields' codes back (leading-digits parse at the fixed
// positions), as the page shows them; other codes are left as they are.
void codesFromStrings(const char* multi1, const char* multi2, const char* limiter,
                      int32_t codes[controlCount]);
// Reads an Enhancer preset record's fields into the codes it sets when applied
// (the six classic sliders, the three bands, enhance and eq_enable). Returns
// false for a record too short to hold its 56-character numeric prefix.
bool codesFromEqPreset(const char* record, int32_t codes[controlCount]);

}  // namespace ports
