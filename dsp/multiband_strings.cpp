// The multiband strings: fixed-position fields converted into engine
// parameters, the defaults and the built-in presets.
#include "dsp/multiband_strings.h"

#include <climits>
#include <cstring>

#include "dsp/crossover.h"
#include "dsp/handover.h"

const char* const default_enh_multi1 = "m---f00300f03000f00000------------l020s025";
const char* const default_enh_multi2 =
    "----m067u051d088t046m067u051d085t051m045u051d085t012m022u058d085t009----------------";
const char* const default_enh_limiter = "l-s---th240re040ce300kn055ra201at025ho000";

const BuiltinMultibandPreset builtin_multiband_presets[builtinMultibandPresetCount] = {
    {"   3 band enhance", "m---f00300f04000f00000------------l020s020",
     "----m044u051d088t046m045u051d085t051m045u047d085t020m022u058d085t009----------------",
     "l-s---th240re040ce300kn055ra201at025ho000"},
    {"   3 band soft", "m---f00300f04000f00000------------l020s020",
     "----m045u037d088t046m045u037d085t051m045u037d085t017m022u058d085t009----------------",
     "l-----th270re080ce300kn030ra201at025ho000"},
    {"   4 band enhance", "m---f00250f02000f05000------------l020s020",
     "----m056u055d090t049m056u055d085t051m045u051d085t026m033u049d085t020----------------",
     "l-s---th255re040ce300kn040ra201at025ho000"},
    {"   4 band intense 1", "ma--f00250f02200f05000------------l014s025",
     "----m045u063d090t046m045u059d085t053m045u050d085t042m044u045d085t030----------------",
     "l-h---th260re046ce300kn040ra201at025ho000"},
    {"   4 band intense 2", "ma--f00250f01600f05000------------l014s025",
     "----m017u071d087t056m017u084d081t050m017u076d077t038m017u065d074t031----------------",
     "l-h---th280re050ce300kn020ra201at016ho000"},
    {"   4 band deep bass", "m---f00120f00500f04500------------l016s020",
     "----m056u060d088t051m056u054d088t053m055u046d088t043m044u041d088t016----------------",
     "l-s---th255re046ce300kn050ra201at020ho000"},
    {"   2 band", "m---f00400f00000f00000------------l020s020",
     "----m045u058d088t061m055u058d088t047m067u058d090t039m067u057d088t020----------------",
     "l-----th260re060ce300kn050ra201at030ho000"},
    {"   Treble boost", "m---f03000f05000f00000------------l020s020",
     "----m033u033d090t020m044u033d090t051m055u033d090t072m078u054d090t073----------------",
     "------th255re024ce300kn035ra201at030ho000"},
    {"   Bass + Treble", "m---f00250f04500f00000------------l020s020",
     "----m045u053d090t061m045u053d090t017m045u053d090t030m045u051d090t026----------------",
     "--s---th255re024ce300kn035ra201at030ho000"},
};

// Copies a field of `digits` characters into a terminated scratch buffer, so
// that a conversion stops at the field's end (or at a terminator inside it).
static void field_text(char (&scratch)[8], const char* text, int position, int digits) {
    memcpy(scratch, text + position, static_cast<size_t>(digits));
    scratch[digits] = '\0';
}

// Leading blanks, an optional sign, then digits up to the first non-digit; no
// digits give 0. Saturates instead of overflowing.
static int leading_integer(const char* text) {
    const char* p = text;
    while (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\v' || *p == '\f' || *p == '\r') ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') negative = (*p++ == '-');
    long long value = 0;
    while (*p >= '0' && *p <= '9') {
        value = value * 10 + (*p++ - '0');
        if (value > static_cast<long long>(INT_MAX) + 1) value = static_cast<long long>(INT_MAX) + 1;
    }
    if (negative) value = -value;
    if (value > INT_MAX) value = INT_MAX;
    return static_cast<int>(value);
}

static int integer_field(const char* text, int position, int digits) {
    char scratch[8];
    field_text(scratch, text, position, digits);
    return leading_integer(scratch);
}

// As leading_integer, with an optional decimal fraction after a '.'. Only
// plain decimals: no exponent, no "inf" or "nan", whatever the C locale says,
// so no settings file can make a parameter undefined.
static double leading_decimal(const char* text) {
    const char* p = text;
    while (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\v' || *p == '\f' || *p == '\r') ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') negative = (*p++ == '-');
    long long mantissa = 0;
    long long scale = 1;
    while (*p >= '0' && *p <= '9') mantissa = mantissa * 10 + (*p++ - '0');
    if (*p == '.') {
        ++p;
        while (*p >= '0' && *p <= '9') {
            mantissa = mantissa * 10 + (*p++ - '0');
            scale *= 10;
        }
    }
    // One correctly rounded division, as a decimal conversion rounds.
    const double value = static_cast<double>(mantissa) / static_cast<double>(scale);
    return negative ? -value : value;
}

static double real_field(const char* text, int position, int digits) {
    char scratch[8];
    field_text(scratch, text, position, digits);
    return leading_decimal(scratch);
}

MultibandParams convertMultibandStrings(const char* multi1, const char* multi2,
                                        const char* limiter, int sampleRate) {
    if (sampleRate == 0) sampleRate = 44100;
    MultibandParams p{};
    p.multibandOn = multi1[0] == 'm';
    p.agcOn = multi1[1] == 'a';
    for (int i = 0; i < 4; ++i) {
        // Values above 65535 keep their low 16 bits (modular conversion).
        p.crossoverHz[i] = static_cast<uint16_t>(integer_field(multi1, 5 + 6 * i, 5));
        const int position = 5 + 16 * i;
        const double m = real_field(multi2, position, 3);
        const double u = real_field(multi2, position + 4, 3);
        const double d = real_field(multi2, position + 8, 3);
        const int t = integer_field(multi2, position + 12, 3);
        const double speed = u / 100.0;
        const double speed2 = speed * speed;
        BandParams& band = p.bands[i];
        band.maxGain = 1.0 + 0.09 * m;
        band.upStep = 0.0004 * (speed2 * speed2) + 0.000004;
        band.downStep = 0.0003 * (100.0 - d) + 0.002;
        band.threshold = 0.0075 * t + 0.25;
    }
    p.level = 0.025 * integer_field(multi1, 35, 3) + 0.5;
    p.stereoPercent = 2 * integer_field(multi1, 39, 3) - 40;
    if (sampleRate > 0) {
        const double factor = 44100.0 / sampleRate;
        for (BandParams& band : p.bands) {
            band.upStep *= factor;
            band.downStep *= factor;
        }
    }
    const char limiterSwitch = limiter[0];
    p.limiterOn = limiterSwitch == 'l' || limiterSwitch == 'L';
    p.softClipMode = limiter[2] == 'h' ? 2 : (limiter[2] == 's' ? 1 : 0);
    LimiterParams& l = p.limiter;
    l.thresholdDb = (integer_field(limiter, 8, 3) - 300) / 10.0;
    l.releaseMs = static_cast<uint16_t>(integer_field(limiter, 13, 3));
    l.ceilingDb = (integer_field(limiter, 18, 3) - 300) / 10.0;
    l.kneeDb = integer_field(limiter, 23, 3) / 10.0;
    l.ratio = integer_field(limiter, 28, 3) / 10.0;
    l.attackMs = real_field(limiter, 33, 3) / 10.0;
    l.holdMs = static_cast<uint16_t>(integer_field(limiter, 38, 3));
    return p;
}

void parseMultibandStrings(Engine& e, const MultibandStrings& strings, int flags, int rate,
                           int channels) {
    (void)channels;  // 0 means 2; the parse itself does not depend on it
    if (rate == 0) rate = 44100;

    // The conversion reads whole fields; the block keeps them within its 200 bytes.
    MultibandConfig config{};
    config.params = convertMultibandStrings(strings.enh_multi1, strings.enh_multi2,
                                            strings.enh_limiter, rate);
    designCrossovers(config.design, config.params.crossoverHz, rate);

    uint32_t resets = 0;
    if (flags > 0) {
        resets = engineResetAgcGains;
        if (flags & 1) resets |= engineResetBandGains;
        if (flags & 2) resets |= engineResetHistories;
    }
    publishMultibandConfig(e, config, resets);
}

