// The port table and the mapping between port values and field codes.
#include "ports/port_table.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

namespace ports {

namespace {

constexpr ScalePoint enhancePoints[] = {
    {0, "Off"}, {1, "Classic enhancer"}, {2, "Multiband engine"}};
constexpr ScalePoint softClipPoints[] = {{0, "None"}, {1, "Soft clip 1"}, {2, "Soft clip 2"}};
constexpr ScalePoint levelModePoints[] = {{0, "Running"}, {1, "Programme"}};
constexpr ScalePoint tpModePoints[] = {
    {0, "Fixed release"}, {1, "Long release"}, {2, "Long release and brake"}};
constexpr ScalePoint soloPoints[] = {
    {0, "None"}, {1, "Band 1"}, {2, "Band 2"}, {3, "Band 3"}, {4, "Band 4"}};

constexpr uint8_t integerPort = flagInteger;
constexpr uint8_t togglePort = flagInteger | flagToggle;
constexpr uint8_t enumerationPort = flagInteger | flagEnumeration;

// Shorthands for the table rows.
constexpr ControlInfo code(const char* symbol, const char* name, int lo, int hi, int def,
                           Unit unit, Effect effect, const char* help) {
    return {symbol, name, Scale::Code, 1.0, 0.0, lo, hi, def, unit, integerPort, nullptr, 0,
            effect, help};
}
constexpr ControlInfo toggle(const char* symbol, const char* name, int def, Effect effect,
                             const char* help) {
    return {symbol, name, Scale::Code, 1.0, 0.0, 0, 1, def, Unit::None, togglePort, nullptr, 0,
            effect, help};
}
template <int N>
constexpr ControlInfo choice(const char* symbol, const char* name, int def,
                             const ScalePoint (&points)[N], Effect effect, const char* help) {
    return {symbol, name, Scale::Code, 1.0, 0.0, 0, N - 1, def, Unit::None, enumerationPort,
            points, N, effect, help};
}
constexpr ControlInfo linear(const char* symbol, const char* name, double a, double b, int lo,
                             int hi, int def, Unit unit, Effect effect, const char* help) {
    return {symbol, name, Scale::Linear, a, b, lo, hi, def, unit, 0, nullptr, 0, effect, help};
}
constexpr ControlInfo curve(const char* symbol, const char* name, Scale scale, int lo, int hi,
                            int def, Unit unit, Effect effect, const char* help) {
    return {symbol, name, scale, 1.0, 0.0, lo, hi, def, unit, 0, nullptr, 0, effect, help};
}

constexpr Effect classic = Effect::ClassicPage;
constexpr Effect parse = Effect::MultibandParse;

#define BAND_ROW(n, m, u, d, t)                                                                  \
    linear("band" #n "_max_amp", "Band " #n " max amp", 0.09, 1.0, 0, 100, m, Unit::Times, parse, \
           "Highest gain of band " #n "."),                                                      \
        curve("band" #n "_release", "Band " #n " release", Scale::BandRelease, 0, 100, u,        \
              Unit::Ms, parse, "Time for the gain of band " #n " to rise by 1.0."),              \
        curve("band" #n "_attack", "Band " #n " attack", Scale::BandAttack, 0, 100, d, Unit::Ms, \
              parse, "Time for the gain of band " #n " to fall by 1.0."),                        \
        curve("band" #n "_threshold", "Band " #n " threshold", Scale::BandThreshold, 0, 100, t,  \
              Unit::Db, parse, "Level above which band " #n " is turned down.")

}  // namespace

const ControlInfo controls[controlCount] = {
    choice("enhance", "Engine", 1, enhancePoints, Effect::EngineSwitch,
           "0 passes the audio (the equalizer may still run), 1 the classic enhancer, 2 the "
           "multiband engine."),
    code("stereo_width", "Stereo separation", 0, 100, 20, Unit::None, classic,
         "Stereo widening of the classic enhancer; 0 is none, otherwise half the value in %."),
    code("amp_max", "Max amp", 0, 100, 56, Unit::None, classic,
         "Highest amplification of the classic enhancer (0 is 1.0 x, 100 is 10.0 x)."),
    code("amp_up", "Amp raise", 0, 120, 70, Unit::None, classic,
         "How fast the classic enhancer raises its gain."),
    code("amp_dwn", "Amp reduce", 0, 100, 76, Unit::None, classic,
         "How fast the classic enhancer reduces its gain."),
    code("hpcutoff", "Analyze HP", 0, 100, 0, Unit::None, classic,
         "High-pass of the classic enhancer's analysis; 0 is off, otherwise twice the value in "
         "Hz."),
    code("threshold", "Threshold", 0, 100, 79, Unit::None, classic,
         "Lookahead threshold of the classic enhancer; 100 is off."),
    toggle("eq_enable", "Equalizer", 0, classic,
           "Three-band equalizer ahead of the classic enhancer (not in the multiband engine)."),
    code("eq_gain1", "EQ band 1 gain", 0, 100, 50, Unit::None, classic,
         "50 is neutral; the boost is (50 - value) / 5 dB."),
    code("eq_gain2", "EQ band 2 gain", 0, 100, 50, Unit::None, classic,
         "50 is neutral; the boost is (50 - value) / 5 dB."),
    code("eq_gain3", "EQ band 3 gain", 0, 100, 50, Unit::None, classic,
         "50 is neutral; the boost is (50 - value) / 5 dB."),
    code("eq_freq1", "EQ band 1 frequency", 20, 800, 100, Unit::Hz, classic,
         "Centre of equalizer band 1."),
    code("eq_freq2", "EQ band 2 frequency", 200, 8000, 1000, Unit::Hz, classic,
         "Centre of equalizer band 2."),
    code("eq_freq3", "EQ band 3 frequency", 2000, 20000, 10000, Unit::Hz, classic,
         "Centre of equalizer band 3."),
    toggle("multiband", "Multiband", 1, parse, "Split into bands at the crossovers."),
    toggle("agc", "AGC", 0, parse, "Input automatic gain control of the multiband engine."),
    {"crossover1", "Crossover 1", Scale::Code, 1.0, 0.0, 0, 99999, 300, Unit::Hz, integerPort,
     nullptr, 0, Effect::CrossoverParse, "Lowest crossover; 0 is off (one band)."},
    {"crossover2", "Crossover 2", Scale::Code, 1.0, 0.0, 0, 99999, 3000, Unit::Hz, integerPort,
     nullptr, 0, Effect::CrossoverParse, "Second crossover; 0 is off."},
    {"crossover3", "Crossover 3", Scale::Code, 1.0, 0.0, 0, 99999, 0, Unit::Hz, integerPort,
     nullptr, 0, Effect::CrossoverParse, "Third crossover; 0 is off."},
    curve("drive", "Drive", Scale::Drive, 0, 40, 20, Unit::Db, parse,
          "Level of the multiband engine ahead of the soft clip and limiter."),
    linear("stereo", "Stereo", 2.0, -40.0, 0, 40, 25, Unit::Percent, parse,
           "Stereo width of the multiband engine; negative towards mono."),
    BAND_ROW(1, 67, 51, 88, 46),
    BAND_ROW(2, 67, 51, 85, 51),
    BAND_ROW(3, 45, 51, 85, 12),
    BAND_ROW(4, 22, 58, 85, 9),
    choice("solo", "Solo", 0, soloPoints, Effect::Solo, "Hear one band alone."),
    toggle("limiter", "Limiter", 1, parse, "Lookahead peak limiter at the end of the chain."),
    choice("soft_clip", "Soft clip", 1, softClipPoints, parse,
           "Soft clip curve ahead of the limiter."),
    linear("limiter_threshold", "Limiter threshold", 0.1, -30.0, 0, 300, 240, Unit::Db, parse,
           "Where the limiter's curve starts."),
    {"limiter_release", "Limiter release", Scale::Code, 1.0, 0.0, 1, 800, 40, Unit::Ms,
     integerPort, nullptr, 0, parse, "Release time of the limiter."},
    linear("limiter_ceiling", "Limiter ceiling", 0.1, -30.0, 0, 300, 300, Unit::Db, parse,
           "Highest output level of the limiter."),
    linear("limiter_knee", "Limiter knee", 0.1, 0.0, 0, 400, 55, Unit::Db, parse,
           "Width of the limiter's soft knee."),
    linear("limiter_ratio", "Limiter ratio", 0.1, 0.0, 11, 201, 201, Unit::Ratio, parse,
           "Ratio of the limiter's curve; above 20 it is infinite."),
    linear("limiter_attack", "Limiter attack", 0.1, 0.0, 1, 100, 25, Unit::Ms, parse,
           "Attack time of the limiter."),
    {"limiter_hold", "Limiter hold", Scale::Code, 1.0, 0.0, 0, 999, 0, Unit::Ms, integerPort,
     nullptr, 0, parse, "Hold time of the limiter (no page control; presets and the settings "
                        "file set it)."},
    toggle("full_resolution", "Full resolution", 1, Effect::Resolution,
           "1 hands the float samples to the engine as they are; 0 reduces them to 16 bits and "
           "back around the engine, as the player does."),
    toggle("loudness_target", "Loudness target", 0, Effect::OutputStage,
           "Output stage: a gated leveller steers the BS.1770 loudness of the engine's output to "
           "the target."),
    linear("target_lufs", "Target loudness", -0.1, 0.0, 50, 400, 160, Unit::Lufs,
           Effect::OutputStage, "Loudness the output stage steers to."),
    toggle("tp_limit", "True-peak ceiling", 0, Effect::OutputStage,
           "Output stage: a lookahead limiter keeps the 4x oversampled peaks at the ceiling "
           "(adds rate / 500 frames of latency while the stage is on)."),
    linear("tp_ceiling", "True-peak ceiling level", -0.1, 0.0, 0, 120, 10, Unit::Dbtp,
           Effect::OutputStage, "Highest true peak the output stage lets through."),
    toggle("band_hold", "Held band gains", 0, Effect::OutputStage,
           "Multiband engine: each band's gain computer holds the peak over its lookahead and "
           "20 ms more and moves its gain towards what that peak needs, so that a steady tone "
           "gets a steady gain (0 steps the gain on every sample)."),
    choice("level_mode", "Leveller mode", 0, levelModePoints, Effect::OutputStage,
           "0 steers a running mean of 1.5 s to the target; 1 a long-term mean per programme, "
           "with the short-term loudness only detecting a change of programme (the music's "
           "own dynamics stay)."),
    choice("tp_mode", "Ceiling mode", 0, tpModePoints, Effect::OutputStage,
           "0 releases in 60 ms; 1 lengthens the release with how long the ceiling has been "
           "limiting (up to 1 s); 2 also brakes the leveller, which gives up the loudness the "
           "ceiling would take beyond 3 dB."),
    toggle("peak_reset", "True-peak reset", 0, Effect::Meters,
           "Any change of this switch starts the true_peak read-out afresh."),
};

const ReadoutInfo readouts[readoutCount] = {
    {"classic_gain", "Classic gain", 0.0f, 10.0f, 1.0f, Unit::Times,
     "Current gain of the classic enhancer."},
    {"band1_gain", "Band 1 gain", 0.0f, 10.0f, 1.0f, Unit::Times,
     "Average gain of band 1 over the last engine block."},
    {"band2_gain", "Band 2 gain", 0.0f, 10.0f, 1.0f, Unit::Times,
     "Average gain of band 2 over the last engine block."},
    {"band3_gain", "Band 3 gain", 0.0f, 10.0f, 1.0f, Unit::Times,
     "Average gain of band 3 over the last engine block."},
    {"band4_gain", "Band 4 gain", 0.0f, 10.0f, 1.0f, Unit::Times,
     "Average gain of band 4 over the last engine block."},
    {"agc_gain_left", "AGC gain left", 0.0f, 13.0f, 0.0f, Unit::Db,
     "Input AGC gain of the left (or mono) channel."},
    {"agc_gain_right", "AGC gain right", 0.0f, 13.0f, 0.0f, Unit::Db,
     "Input AGC gain of the right channel."},
    {"latency", "Latency", 0.0f, 4096.0f, 576.0f, Unit::Frames,
     "Delay of the output in frames: 576 for the engine block; in the multiband engine also "
     "its lookahead (rate / 100 frames) once for the band split and once for the limiter, "
     "each while it is on; and the output stage's lookahead (rate / 500 frames, at least 16) "
     "while its loudness target or true-peak ceiling is on."},
    {"in_peak_left", "Input peak left", -90.0f, 24.0f, -90.0f, Unit::Db,
     "Sample peak of the left (or mono) input in dBFS, falling back at 20 dB/s."},
    {"in_peak_right", "Input peak right", -90.0f, 24.0f, -90.0f, Unit::Db,
     "Sample peak of the right input in dBFS (mono: the input's)."},
    {"in_rms_left", "Input level left", -90.0f, 24.0f, -90.0f, Unit::Db,
     "R.m.s. level of the left (or mono) input over about 300 ms, dBFS."},
    {"in_rms_right", "Input level right", -90.0f, 24.0f, -90.0f, Unit::Db,
     "R.m.s. level of the right input over about 300 ms, dBFS."},
    {"out_peak_left", "Output peak left", -90.0f, 24.0f, -90.0f, Unit::Db,
     "Sample peak of the left (or mono) output in dBFS, falling back at 20 dB/s."},
    {"out_peak_right", "Output peak right", -90.0f, 24.0f, -90.0f, Unit::Db,
     "Sample peak of the right output in dBFS (mono: the output's)."},
    {"out_rms_left", "Output level left", -90.0f, 24.0f, -90.0f, Unit::Db,
     "R.m.s. level of the left (or mono) output over about 300 ms, dBFS."},
    {"out_rms_right", "Output level right", -90.0f, 24.0f, -90.0f, Unit::Db,
     "R.m.s. level of the right output over about 300 ms, dBFS."},
    {"in_loudness", "Input loudness", -70.0f, 10.0f, -70.0f, Unit::Lufs,
     "Short-term loudness of the input: K-weighted, the last 3 s, ungated."},
    {"out_loudness", "Output loudness", -70.0f, 10.0f, -70.0f, Unit::Lufs,
     "Short-term loudness of the output: K-weighted, the last 3 s, ungated."},
    {"programme_loudness", "Programme loudness", -70.0f, 10.0f, -70.0f, Unit::Lufs,
     "Loudness of the programme as the output stage's leveller reads it (gated); -70 while the "
     "loudness target is off or nothing has been measured."},
    {"leveller_gain", "Leveller gain", -40.0f, 20.0f, 0.0f, Unit::Db,
     "Gain the output stage's leveller heads for; 0 while the loudness target is off."},
    {"ceiling_reduction", "Ceiling reduction", 0.0f, 60.0f, 0.0f, Unit::Db,
     "Deepest gain reduction of the true-peak ceiling over the last engine block."},
    {"true_peak", "True peak", -90.0f, 24.0f, -90.0f, Unit::Dbtp,
     "Highest true peak of the output (4x oversampled) since the start or the last change of "
     "peak_reset."},
};

double valueOfCode(const ControlInfo& info, int code) {
    const double c = code;
    switch (info.scale) {
    case Scale::Code: return c;
    case Scale::Linear: return info.a * c + info.b;
    case Scale::BandRelease: {
        const double u = c / 100.0;
        const double u2 = u * u;
        return 1000.0 / (44100.0 * (0.0004 * (u2 * u2) + 0.000004));
    }
    case Scale::BandAttack: return 1000.0 / (44100.0 * (0.0003 * (100 - c) + 0.002));
    case Scale::BandThreshold: return 20.0 * std::log10(0.0075 * c + 0.25);
    case Scale::Drive: return 20.0 * std::log10(0.025 * c + 0.5);
    }
    return c;
}

int codeOfValue(const ControlInfo& info, double value) {
    if (std::isnan(value)) return info.defaultCode;
    if (info.flags & flagToggle) return value > 0.0 ? 1 : 0;
    // Hosts keep values inside the range, but nothing obliges them to.
    const double lo = minimumValue(info);
    const double hi = maximumValue(info);
    if (value < lo) value = lo;
    if (value > hi) value = hi;
    int code;
    switch (info.scale) {
    case Scale::Code:
    case Scale::Linear: {
        const double c = (value - info.b) / info.a;
        if (!(c > info.codeMin)) return info.codeMin;  // also -inf
        if (!(c < info.codeMax)) return info.codeMax;
        code = static_cast<int>(std::floor(c + 0.5));
        break;
    }
    default: {
        // The curves are monotonic but not linear: take the code whose value
        // lies nearest (the lower code on a tie).
        code = info.codeMin;
        double best = std::fabs(valueOfCode(info, code) - value);
        for (int c = info.codeMin + 1; c <= info.codeMax; ++c) {
            const double d = std::fabs(valueOfCode(info, c) - value);
            if (d < best) {
                best = d;
                code = c;
            }
        }
        break;
    }
    }
    if (code < info.codeMin) code = info.codeMin;
    if (code > info.codeMax) code = info.codeMax;
    return code;
}

double minimumValue(const ControlInfo& info) {
    const double lo = valueOfCode(info, info.codeMin);
    const double hi = valueOfCode(info, info.codeMax);
    return lo < hi ? lo : hi;
}

double maximumValue(const ControlInfo& info) {
    const double lo = valueOfCode(info, info.codeMin);
    const double hi = valueOfCode(info, info.codeMax);
    return lo < hi ? hi : lo;
}

double defaultValue(const ControlInfo& info) { return valueOfCode(info, info.defaultCode); }

void defaultCodes(int32_t codes[controlCount]) {
    for (int i = 0; i < controlCount; ++i) codes[i] = controls[i].defaultCode;
}

// ---- The multiband strings ------------------------------------------------------

namespace {

constexpr char standardMulti1[] = "m---f00300f03000f00000------------l020s025";
constexpr char standardMulti2[] =
    "----m067u051d088t046m067u051d085t051m045u051d085t012m022u058d085t009----------------";
constexpr char standardLimiter[] = "l-s---th240re040ce300kn055ra201at025ho000";

// Zero-padded decimal of `digits` digits; a wider value keeps its leading
// digits, as copying the first characters of "%.5d" does.
void putDigits(char* field, int position, int32_t value, int digits) {
    if (value < 0) value = 0;
    char text[12];
    int length = 0;
    do {
        text[length++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value > 0);
    while (length < digits) text[length++] = '0';
    for (int i = 0; i < digits; ++i) field[position + i] = text[length - 1 - i];
}

// Leading-digits parse of `length` characters (blanks and a sign allowed).
int32_t getDigits(const char* field, int position, int length) {
    char scratch[8];
    for (int i = 0; i < length; ++i) scratch[i] = field[position + i];
    scratch[length] = '\0';
    return static_cast<int32_t>(std::atoi(scratch));
}

constexpr int crossoverPosition(int k) { return 5 + 6 * k; }
constexpr int bandPosition(int band, int column) { return 5 + 16 * band + 4 * column; }
constexpr int limiterPositions[7] = {8, 13, 18, 23, 28, 33, 38};

}  // namespace

void writeStringFields(const int32_t codes[controlCount], StringFields& s) {
    s.multi1[0] = codes[cSplit] != 0 ? 'm' : '-';
    s.multi1[1] = codes[cAgc] != 0 ? 'a' : '-';
    for (int k = 0; k < 3; ++k) putDigits(s.multi1, crossoverPosition(k), codes[cCrossover1 + k], 5);
    putDigits(s.multi1, 35, codes[cDrive], 3);
    putDigits(s.multi1, 39, codes[cStereo], 3);
    for (int b = 0; b < 4; ++b)
        for (int c = 0; c < 4; ++c)
            putDigits(s.multi2, bandPosition(b, c), codes[cBand1MaxAmp + 4 * b + c], 3);
    s.limiter[0] = codes[cLimiterOn] != 0 ? 'l' : '-';
    s.limiter[2] = codes[cSoftClip] == 1 ? 's' : codes[cSoftClip] == 2 ? 'h' : '-';
    for (int i = 0; i < 7; ++i) putDigits(s.limiter, limiterPositions[i], codes[cLimThreshold + i], 3);
}

void formatStrings(const int32_t codes[controlCount], StringFields& s) {
    memset(&s, 0, sizeof s);
    memcpy(s.multi1, standardMulti1, sizeof standardMulti1);
    memcpy(s.multi2, standardMulti2, sizeof standardMulti2);
    memcpy(s.limiter, standardLimiter, sizeof standardLimiter);
    writeStringFields(codes, s);
}

void codesFromStrings(const char* multi1, const char* multi2, const char* limiter,
                      int32_t codes[controlCount]) {
    codes[cSplit] = multi1[0] == 'm';
    codes[cAgc] = multi1[1] == 'a';
    for (int k = 0; k < 3; ++k) codes[cCrossover1 + k] = getDigits(multi1, crossoverPosition(k), 5);
    codes[cDrive] = getDigits(multi1, 35, 3);
    codes[cStereo] = getDigits(multi1, 39, 3);
    for (int b = 0; b < 4; ++b)
        for (int c = 0; c < 4; ++c)
            codes[cBand1MaxAmp + 4 * b + c] = getDigits(multi2, bandPosition(b, c), 3);
    codes[cLimiterOn] = limiter[0] == 'l' || limiter[0] == 'L';
    codes[cSoftClip] = limiter[2] == 's' ? 1 : limiter[2] == 'h' ? 2 : 0;
    for (int i = 0; i < 7; ++i) codes[cLimThreshold + i] = getDigits(limiter, limiterPositions[i], 3);
}

bool codesFromEqPreset(const char* record, int32_t codes[controlCount]) {
    if (record == nullptr || strlen(record) < 56) return false;
    // The record's order: stereo_width, hpcutoff, amp_max, amp_up, amp_dwn,
    // threshold, mode flags, three frequencies, three gains.
    codes[cStereoWidth] = std::atoi(record + 0) & 0xff;
    codes[cHpCutoff] = std::atoi(record + 4) & 0xff;
    codes[cAmpMax] = std::atoi(record + 8) & 0xff;
    codes[cAmpUp] = std::atoi(record + 12) & 0xff;
    codes[cAmpDown] = std::atoi(record + 16) & 0xff;
    codes[cThreshold] = std::atoi(record + 20) & 0xff;
    const int mode = std::atoi(record + 24);
    codes[cEnhance] = (mode & 1) != 0 ? 1 : 0;
    codes[cEqEnable] = (mode & 2) != 0 ? 1 : 0;
    for (int band = 0; band < 3; ++band) {
        codes[cEqFreq1 + band] = std::atoi(record + 26 + 6 * band) & 0xffff;
        codes[cEqGain1 + band] = std::atoi(record + 44 + 4 * band) & 0xffff;
    }
    return true;
}

}  // namespace ports
