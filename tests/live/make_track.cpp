// Writes a deterministic, music-like track that never repeats: chords of
// random notes changing at random moments over a random bass line, with an
// envelope on every note, as 16-bit stereo at 44100 Hz. Each seed gives
// another track. Lossy codecs keep such tonal material well, so a decoded
// stream still correlates with its source second by second.
//   make_track OUTPUT.wav SECONDS SEED
#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

constexpr int rate = 44100;
constexpr double pi = 3.14159265358979323846;

struct Random {
    uint32_t state;
    double next() {  // 0 <= x < 1
        state = state * 1664525u + 1013904223u;
        return static_cast<double>(state >> 8) / 16777216.0;
    }
};

double noteHz(int midi) { return 440.0 * std::pow(2.0, (midi - 69) / 12.0); }

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        fprintf(stderr, "usage: make_track OUTPUT.wav SECONDS SEED\n");
        return 2;
    }
    const long frames = static_cast<long>(atof(argv[2]) * rate);
    Random random{static_cast<uint32_t>(atoi(argv[3])) * 2654435761u + 1u};
    std::vector<int16_t> samples(static_cast<size_t>(frames) * 2);
    double hz[4] = {}, phase[4] = {};
    long noteStart = 0, noteLength = 0;
    for (long i = 0; i < frames; ++i) {
        if (i - noteStart >= noteLength) {
            noteStart = i;
            noteLength = static_cast<long>((0.12 + 0.4 * random.next()) * rate);
            const int root = 55 + static_cast<int>(random.next() * 14);
            hz[0] = noteHz(root);
            hz[1] = noteHz(root + 3 + static_cast<int>(random.next() * 2));
            hz[2] = noteHz(root + 7);
            hz[3] = noteHz(root - 24 + static_cast<int>(random.next() * 5));
        }
        const double t = static_cast<double>(i - noteStart) / rate;
        const double envelope = std::min(1.0, t * 200.0) * std::exp(-2.5 * t);
        double left = 0, right = 0;
        for (int k = 0; k < 4; ++k) {
            phase[k] += 2.0 * pi * hz[k] / rate;
            if (phase[k] > 2.0 * pi) phase[k] -= 2.0 * pi;
            const double v = std::sin(phase[k]) * (k == 3 ? 0.35 : 0.2) * envelope;
            left += v * (k == 1 ? 0.5 : 1.0);
            right += v * (k == 2 ? 0.5 : 1.0);
        }
        samples[2 * i] = static_cast<int16_t>(std::lrint(left * 32767.0));
        samples[2 * i + 1] = static_cast<int16_t>(std::lrint(right * 32767.0));
    }
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = 2;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* file = sf_open(argv[1], SFM_WRITE, &info);
    if (file == nullptr) {
        fprintf(stderr, "make_track: cannot write %s: %s\n", argv[1], sf_strerror(nullptr));
        return 1;
    }
    const bool ok = sf_writef_short(file, samples.data(), frames) == frames;
    sf_close(file);
    return ok ? 0 : 1;
}
