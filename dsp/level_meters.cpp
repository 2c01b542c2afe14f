// Peak, r.m.s. and short-term loudness meters for the read-outs.
#include "dsp/level_meters.h"

#include <cmath>
#include <cstring>

namespace {

constexpr double fullScaleSquared = 32768.0 * 32768.0;
constexpr double peakFallDbPerSecond = 20.0;
constexpr double rmsSeconds = 0.3;

inline double section(const double* c, double x, double& s1, double& s2) {
    const double y = c[0] * x + s1;
    s1 = (c[1] * x + s2) - c[3] * y;
    s2 = c[2] * x - c[4] * y;
    return y;
}

// K-weighted energy of n frames of one channel into the sub-block.
double weighChannel(ShortTermLoudness& s, const float* x, int n, int channels, int c) {
    double s1 = s.state[c][0], s2 = s.state[c][1], h1 = s.state[c][2], h2 = s.state[c][3];
    double energy = 0.0;
    for (int i = 0; i < n; ++i) {
        const double z = section(s.highPass, section(s.shelf, x[i * channels + c], s1, s2), h1, h2);
        energy += z * z;
    }
    // No denormals after silence.
    s.state[c][0] = std::fabs(s1) < 1e-12 ? 0.0 : s1;
    s.state[c][1] = std::fabs(s2) < 1e-12 ? 0.0 : s2;
    s.state[c][2] = std::fabs(h1) < 1e-12 ? 0.0 : h1;
    s.state[c][3] = std::fabs(h2) < 1e-12 ? 0.0 : h2;
    return energy;
}

// Silence again, keeping the coefficients.
void restart(ShortTermLoudness& s) {
    std::memset(s.state, 0, sizeof s.state);
    std::memset(s.sub, 0, sizeof s.sub);
    s.energy = 0.0;
    s.fill = s.newest = s.count = 0;
}

void shortTermAdd(ShortTermLoudness& s, const float* x, int frames, int channels) {
    while (frames > 0) {
        int n = s.length - s.fill;
        if (n > frames) n = frames;
        for (int c = 0; c < channels; ++c) s.energy += weighChannel(s, x, n, channels, c);
        if (!std::isfinite(s.energy)) restart(s);  // not-a-number or infinity in the audio
        s.fill += n;
        if (s.fill == s.length) {
            s.newest = (s.newest + 1) % shortTermSubBlocks;
            s.sub[s.newest] = s.energy / s.length;
            if (s.count < shortTermSubBlocks) ++s.count;
            s.energy = 0.0;
            s.fill = 0;
        }
        x += n * channels;
        frames -= n;
    }
}

}  // namespace

void levelMeterSetup(LevelMeter& m, int rate, int channels, int blockFrames) {
    std::memset(static_cast<void*>(&m), 0, sizeof m);
    if (rate < 1) rate = 1;
    m.channels = channels == 2 ? 2 : 1;
    const double blockSeconds = static_cast<double>(blockFrames) / rate;
    m.peakFall = static_cast<float>(std::pow(10.0, -peakFallDbPerSecond * blockSeconds / 20.0));
    m.rmsFactor = 1.0 - std::exp(-blockSeconds / rmsSeconds);
    kWeightingCoefficients(rate, m.loudness.shelf, m.loudness.highPass);
    m.loudness.length = rate / 10 > 0 ? rate / 10 : 1;
}

void levelMeterAdd(LevelMeter& m, const float* x, int frames) {
    if (frames <= 0) return;
    const int channels = m.channels;
    for (int c = 0; c < channels; ++c) {
        float peak = 0.0f;
        double sum = 0.0;
        for (int i = 0; i < frames; ++i) {
            const float v = x[i * channels + c];
            const float a = std::fabs(v);
            peak = a > peak ? a : peak;  // a not-a-number leaves the peak alone
            sum += static_cast<double>(v) * v;
        }
        const float held = m.peak[c] * m.peakFall;
        m.peak[c] = peak > held ? peak : held;
        const double meanSquare = sum / frames;
        // A not-a-number or infinity in the audio must not stay in the meter.
        if (std::isfinite(meanSquare))
            m.meanSquare[c] += m.rmsFactor * (meanSquare - m.meanSquare[c]);
        if (!std::isfinite(m.peak[c])) m.peak[c] = 0.0f;
    }
    shortTermAdd(m.loudness, x, frames, channels);
}

float levelDbfs(double level, float floor) {
    if (!(level > 0.0)) return floor;
    const float db = static_cast<float>(20.0 * std::log10(level / 32768.0));
    return db > floor ? db : floor;
}

float shortTermLufs(const ShortTermLoudness& s, float floor) {
    double sum = 0.0;
    for (int i = 0; i < s.count; ++i) sum += s.sub[(s.newest - i + shortTermSubBlocks) % shortTermSubBlocks];
    if (s.count == 0 || !(sum > 0.0) || !std::isfinite(sum)) return floor;
    const float lufs = static_cast<float>(-0.691 + 10.0 * std::log10(sum / s.count / fullScaleSquared));
    return lufs > floor ? lufs : floor;
}
