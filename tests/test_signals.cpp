#include "tests/test_signals.h"

#include <ebur128.h>

#include <cmath>

namespace signals {

namespace {

constexpr double pi = 3.14159265358979323846;

struct Noise {
    uint32_t state;
    double white() {
        state = state * 1664525u + 1013904223u;
        return static_cast<double>(state >> 8) / 8388608.0 - 1.0;
    }
};

// Pink-ish noise: white noise through three leaky integrators.
struct Pink {
    Noise noise;
    double b0 = 0, b1 = 0, b2 = 0;
    double next() {
        const double w = noise.white();
        b0 = 0.99765 * b0 + w * 0.0990460;
        b1 = 0.96300 * b1 + w * 0.2965164;
        b2 = 0.57000 * b2 + w * 1.0526913;
        return (b0 + b1 + b2 + w * 0.1848) * 0.25;
    }
};

ebur128_state* measure(const std::vector<float>& x, int rate, int channels, int mode) {
    ebur128_state* st = ebur128_init(static_cast<unsigned>(channels), static_cast<unsigned long>(rate), mode);
    std::vector<float> scaled(x.size());
    for (size_t i = 0; i < x.size(); ++i) scaled[i] = x[i] / 32768.0f;
    ebur128_add_frames_float(st, scaled.data(), scaled.size() / static_cast<size_t>(channels));
    return st;
}

}  // namespace

std::vector<float> music(int rate, int channels, double seconds, uint32_t seed, double sectionRangeDb) {
    const long long frames = static_cast<long long>(seconds * rate);
    std::vector<float> x(static_cast<size_t>(frames * channels));
    Pink pink{{seed * 2654435761u + 1}};
    Noise hits{seed + 7};
    const double beat = 0.5;
    const double chord[3] = {220.0 * (1 + seed % 3) / 2, 277.18, 329.63};
    const double bass[4] = {55.0, 73.42, 65.41, 49.0};
    // Sections of 4 to 12 s at levels from -sectionRangeDb to 0 dB, the piece's own.
    Noise form{seed * 40503u + 3};
    double sectionEnd = 0.0, section = 1.0;
    for (long long i = 0; i < frames; ++i) {
        const double t = static_cast<double>(i) / rate;
        const double inBeat = std::fmod(t, beat);
        const int beatNumber = static_cast<int>(t / beat);
        if (t >= sectionEnd) {
            sectionEnd += 8.0 + 4.0 * form.white();
            section = std::pow(10.0, -sectionRangeDb / 40.0 * (1.0 + form.white()));
        }
        const double kick = std::exp(-inBeat * 18.0) * std::sin(2 * pi * (50.0 + 60.0 * std::exp(-inBeat * 30.0)) * inBeat);
        const double snare = beatNumber % 2 == 1 ? std::exp(-inBeat * 25.0) * hits.white() : 0.0;
        const double b = 0.5 * std::sin(2 * pi * bass[(beatNumber / 4) % 4] * t);
        double c = 0.0;
        for (double f : chord) c += std::sin(2 * pi * f * t);
        c *= 0.12 * (1.0 + 0.3 * std::sin(2 * pi * 5.0 * t));
        const double p = 0.5 * pink.next();
        const double mid = section * (0.9 * kick + 0.5 * snare + b + c + p);
        for (int ch = 0; ch < channels; ++ch) {
            const double side = ch == 0 ? 0.15 * c : -0.15 * c;
            x[static_cast<size_t>(i * channels + ch)] = static_cast<float>(8000.0 * (mid + side));
        }
    }
    return x;
}

std::vector<float> quarterRateSine(int rate, int channels, double seconds) {
    const long long frames = static_cast<long long>(seconds * rate);
    std::vector<float> x(static_cast<size_t>(frames * channels));
    const double amplitude = 32767.0 / std::sin(pi / 4);
    for (long long i = 0; i < frames; ++i)
        for (int ch = 0; ch < channels; ++ch)
            x[static_cast<size_t>(i * channels + ch)] =
                static_cast<float>(std::round(amplitude * std::sin(pi / 2 * static_cast<double>(i) + pi / 4)));
    return x;
}

std::vector<float> square(int rate, int channels, double seconds, double hz) {
    const long long frames = static_cast<long long>(seconds * rate);
    std::vector<float> x(static_cast<size_t>(frames * channels));
    for (long long i = 0; i < frames; ++i)
        for (int ch = 0; ch < channels; ++ch)
            x[static_cast<size_t>(i * channels + ch)] = std::fmod(i * hz / rate, 1.0) < 0.5 ? 32767.0f : -32767.0f;
    return x;
}

std::vector<float> clippedPinkNoise(int rate, int channels, double seconds) {
    const long long frames = static_cast<long long>(seconds * rate);
    std::vector<float> x(static_cast<size_t>(frames * channels));
    Pink pink{{12345}};
    for (auto& v : x) {
        const double s = 4.0 * 32767.0 * pink.next();
        v = static_cast<float>(s > 32767.0 ? 32767.0 : s < -32767.0 ? -32767.0 : std::round(s));
    }
    return x;
}

double integratedLufs(const std::vector<float>& x, int rate, int channels) {
    ebur128_state* st = measure(x, rate, channels, EBUR128_MODE_I);
    double v = NAN;
    ebur128_loudness_global(st, &v);
    ebur128_destroy(&st);
    return v;
}

double truePeakDbtp(const std::vector<float>& x, int rate, int channels) {
    ebur128_state* st = measure(x, rate, channels, EBUR128_MODE_TRUE_PEAK);
    double top = 0.0;
    for (int c = 0; c < channels; ++c) {
        double v = 0.0;
        ebur128_true_peak(st, static_cast<unsigned>(c), &v);
        top = v > top ? v : top;
    }
    ebur128_destroy(&st);
    return 20.0 * std::log10(top);
}

void setLoudness(std::vector<float>& x, int rate, int channels, double lufs) {
    const double gain = std::pow(10.0, (lufs - integratedLufs(x, rate, channels)) / 20.0);
    for (auto& v : x) v = static_cast<float>(v * gain);
}

long long fullScaleSamples(const std::vector<float>& x) {
    long long n = 0;
    for (float v : x) n += std::fabs(std::nearbyint(v)) >= 32766.0f;
    return n;
}

}  // namespace signals
