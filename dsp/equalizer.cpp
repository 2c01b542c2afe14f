// Three peaking (bell) filters in series over a 32-bit copy of the block.
//
// Each band is a biquad from the bilinear transform of
//   H(s) = (s²/ω0² + (3 + g)·s/ω0 + 1) / (s²/ω0² + (3 − g)·s/ω0 + 1),
// with float coefficients, the filter sum formed in double and the output
// truncated to a 32-bit integer. The bands run in series; since band j at
// frame n needs only band j − 1's output at frame n, all active bands are run
// frame by frame in one pass, which gives the same values as one pass per band.
#include "dsp/equalizer.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>

#include "settings/plugin_settings.h"

EqualizerAllocator equalizerAllocate = &std::malloc;

namespace {

constexpr int32_t sampleLimit = 32766;

struct ActiveBand {
    double b0, b1, b2, a1, a2;
    EqBandState* state;
};

// The filter output as a 32-bit integer: truncated toward zero, saturating.
inline double truncateToInt32(double y) {
    y = y < 2147483647.0 ? y : 2147483647.0;  // NaN lands here too
    y = y > -2147483648.0 ? y : -2147483648.0;
    return static_cast<double>(static_cast<int32_t>(y));
}

// Runs NB bands in series over one channel's or both channels' samples. The
// state is carried in doubles, which hold the 32-bit integers exactly.
template <int CH, int NB>
void runBands(int32_t* work, int64_t frames, const ActiveBand* bands) {
    double x0[NB][CH], x1[NB][CH], x2[NB][CH], y1[NB][CH], y2[NB][CH];
    for (int j = 0; j < NB; ++j)
        for (int c = 0; c < CH; ++c) {
            x0[j][c] = bands[j].state->x0[c];
            x1[j][c] = bands[j].state->x1[c];
            x2[j][c] = bands[j].state->x2[c];
            y1[j][c] = bands[j].state->y1[c];
            y2[j][c] = bands[j].state->y2[c];
        }
    for (int64_t f = 0; f < frames; ++f) {
        for (int c = 0; c < CH; ++c) {
            double v = work[f * CH + c];
            for (int j = 0; j < NB; ++j) {
                const ActiveBand& b = bands[j];
                x2[j][c] = x1[j][c];
                x1[j][c] = x0[j][c];
                x0[j][c] = v;
                const double y = b.b0 * x0[j][c] + b.b1 * x1[j][c] + b.b2 * x2[j][c] -
                                 b.a1 * y1[j][c] - b.a2 * y2[j][c];
                v = truncateToInt32(y);
                y2[j][c] = y1[j][c];
                y1[j][c] = v;
            }
            work[f * CH + c] = static_cast<int32_t>(v);
        }
    }
    for (int j = 0; j < NB; ++j)
        for (int c = 0; c < CH; ++c) {
            bands[j].state->x0[c] = static_cast<int32_t>(x0[j][c]);
            bands[j].state->x1[c] = static_cast<int32_t>(x1[j][c]);
            bands[j].state->x2[c] = static_cast<int32_t>(x2[j][c]);
            bands[j].state->y1[c] = static_cast<int32_t>(y1[j][c]);
            bands[j].state->y2[c] = static_cast<int32_t>(y2[j][c]);
        }
}

template <int CH>
void runBands(int32_t* work, int64_t frames, const ActiveBand* bands, int count) {
    switch (count) {
    case 1: runBands<CH, 1>(work, frames, bands); break;
    case 2: runBands<CH, 2>(work, frames, bands); break;
    case 3: runBands<CH, 3>(work, frames, bands); break;
    default: break;
    }
}

void runBands(int32_t* work, int64_t frames, int channels, const ActiveBand* bands, int count) {
    if (channels == 2)
        runBands<2>(work, frames, bands, count);
    else
        runBands<1>(work, frames, bands, count);
}

ActiveBand activeBand(const EqCoefficients& c, EqBandState& state) {
    return ActiveBand{c.b0, c.b1, c.b2, c.a1, c.a2, &state};
}

// Boost in dB of a band's gain setting: 0 is +10 dB, 50 is 0 dB, 100 is −10 dB.
float boostOfGain(int gain) { return static_cast<float>((gain - 50) / -5.0); }

}  // namespace

int equalizerCoefficients(float fs, float frequency, float boostDb, EqCoefficients& out) {
    const double dfs = fs;
    EqCoefficients c;
    c.g = static_cast<float>(static_cast<double>(boostDb) / 6.6);
    // Above half the rate the band sits at half the rate.
    if (!(dfs / 2 >= static_cast<double>(frequency))) frequency = static_cast<float>(dfs / 2);
    if (frequency == 0.0f) return 0;
    const double g = c.g;
    c.k = static_cast<float>(1.0 / (6.283185307179586 * static_cast<double>(frequency)));
    const double k = c.k;
    c.w = static_cast<float>(k / std::tan(k / (2.0 * dfs)));
    const double w = c.w;
    c.m = static_cast<float>(k * k * w * w);
    c.r = static_cast<float>((g + 3.0) * k * w);
    c.q = static_cast<float>((3.0 - g) * k * w);
    const double m = c.m, r = c.r, q = c.q;
    c.d = static_cast<float>(q + m + 1.0);
    const double d = c.d;
    c.b0 = static_cast<float>((r + m + 1.0) / d);
    c.b1 = static_cast<float>(2.0 * (1.0 - m) / d);
    c.b2 = static_cast<float>((1.0 - r + m) / d);
    c.a1 = static_cast<float>(2.0 * (1.0 - m) / d);
    c.a2 = static_cast<float>((1.0 - q + m) / d);
    out = c;
    for (float v : {c.b0, c.b1, c.b2, c.a1, c.a2})
        if (!std::isfinite(v)) return 0;
    return 1;
}

void equalizerBand(int32_t* work, EqBandState& state, int frames, int channels,
                   float frequency, float boostDb) {
    if (work == nullptr || frames <= 0 || (channels != 1 && channels != 2)) return;
    EqCoefficients c;
    const float fs = static_cast<float>(load_relaxed(settings.sample_rate));
    if (!equalizerCoefficients(fs, frequency, boostDb, c)) return;
    const ActiveBand band = activeBand(c, state);
    runBands(work, frames, channels, &band, 1);
}

void equalizeBlock(int16_t* samples, int frames, int channels) {
    if (samples == nullptr || frames <= 0 || (channels != 1 && channels != 2)) return;

    // Each setting once per block.
    const float fs = static_cast<float>(load_relaxed(settings.sample_rate));
    ActiveBand bands[3];
    int count = 0;
    for (int b = 0; b < 3; ++b) {
        const int gain = load_relaxed(settings.eq_bands[b].gain);
        const int frequency = load_relaxed(settings.eq_bands[b].frequency);
        if (gain == 50) continue;
        EqCoefficients c;
        if (!equalizerCoefficients(fs, static_cast<float>(frequency), boostOfGain(gain), c))
            continue;
        bands[count++] = activeBand(c, settings.eqState[b]);
    }

    const int64_t total = int64_t{frames} * channels;
    if (count == 0) {
        // Nothing to filter: the block is only clamped.
        for (int64_t i = 0; i < total; ++i)
            samples[i] = static_cast<int16_t>(std::clamp<int32_t>(samples[i], -sampleLimit,
                                                                  sampleLimit));
        return;
    }

    if (static_cast<uint64_t>(total) > SIZE_MAX / sizeof(int32_t)) return;
    auto* work = static_cast<int32_t*>(equalizerAllocate(static_cast<size_t>(total) *
                                                         sizeof(int32_t)));
    // Without a working buffer the block goes on unequalised.
    if (work == nullptr) return;
    for (int64_t i = 0; i < total; ++i) work[i] = samples[i];
    runBands(work, frames, channels, bands, count);
    for (int64_t i = 0; i < total; ++i)
        samples[i] = static_cast<int16_t>(std::clamp(work[i], -sampleLimit, sampleLimit));
    std::free(work);
}
