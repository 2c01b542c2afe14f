// Writes a deterministic, music-like test recording: a chord progression over a
// bass line with drum hits, first quiet, then loud, then quiet again, so that
// the leveller has something to level. Usage: make_sample OUTPUT.wav [SECONDS]
#include <sndfile.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

constexpr int rate = 44100;
constexpr double pi = 3.14159265358979323846;

// A small linear congruential generator: the same noise on every machine.
uint32_t noise_state = 12345;
double noise() {
    noise_state = noise_state * 1664525u + 1013904223u;
    return static_cast<double>(noise_state >> 8) / 8388608.0 - 1.0;
}

double midi_hz(int note) { return 440.0 * std::pow(2.0, (note - 69) / 12.0); }

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: make_sample OUTPUT.wav [SECONDS]\n");
        return 2;
    }
    const double seconds = argc > 2 ? atof(argv[2]) : 24.0;
    const long frames = static_cast<long>(seconds * rate);
    const int chords[4][3] = {{57, 60, 64}, {53, 57, 60}, {48, 52, 55}, {55, 59, 62}};
    const int bass[4] = {33, 29, 36, 31};
    const double beat = 0.5;  // seconds per beat, 120 bpm

    std::vector<int16_t> samples(static_cast<size_t>(frames) * 2);
    double kick = 0, snare = 0;
    for (long f = 0; f < frames; ++f) {
        const double t = static_cast<double>(f) / rate;
        const int bar = static_cast<int>(t / (4 * beat)) % 4;
        const double inBeat = std::fmod(t, beat);
        const int beatIndex = static_cast<int>(t / beat) % 4;
        if (inBeat < 1.0 / rate) {
            if (beatIndex % 2 == 0) kick = 1.0; else snare = 1.0;
        }
        double pad = 0;
        for (int n = 0; n < 3; ++n) pad += std::sin(2 * pi * midi_hz(chords[bar][n]) * t + n);
        pad *= 0.12 * (0.7 + 0.3 * std::sin(2 * pi * 0.25 * t));
        const double bassTone = 0.35 * std::sin(2 * pi * midi_hz(bass[bar]) * t) * std::exp(-3.0 * inBeat);
        const double kickTone = 0.6 * kick * std::sin(2 * pi * (50 + 80 * kick) * t);
        const double snareTone = 0.25 * snare * noise();
        kick *= 0.9993;
        snare *= 0.9990;

        // Quiet (-26 dB), loud (-1 dB), then quiet again with a slow fade.
        const double part = t / seconds;
        double level = part < 1.0 / 3 ? 0.05 : part < 2.0 / 3 ? 0.9 : 0.05 + 0.1 * (part - 2.0 / 3);
        const double left = level * (pad + bassTone + kickTone + 0.8 * snareTone);
        const double right = level * (0.9 * pad + bassTone + kickTone + snareTone);
        samples[2 * f] = static_cast<int16_t>(std::lround(std::fmax(-1.0, std::fmin(1.0, left)) * 32767));
        samples[2 * f + 1] = static_cast<int16_t>(std::lround(std::fmax(-1.0, std::fmin(1.0, right)) * 32767));
    }

    SF_INFO info{};
    info.samplerate = rate;
    info.channels = 2;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* file = sf_open(argv[1], SFM_WRITE, &info);
    if (file == nullptr) {
        fprintf(stderr, "make_sample: cannot write %s: %s\n", argv[1], sf_strerror(nullptr));
        return 1;
    }
    const bool ok = sf_writef_short(file, samples.data(), frames) == frames;
    sf_close(file);
    if (!ok) {
        fprintf(stderr, "make_sample: writing %s failed\n", argv[1]);
        remove(argv[1]);
        return 1;
    }
    return 0;
}
