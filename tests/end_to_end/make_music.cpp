// Writes a generated music-like piece at a given integrated loudness as 16-bit
// WAV, for the output stage's tests. Usage: make_music OUT.wav SECONDS SEED LUFS [RATE [CHANNELS]]
#include <sndfile.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "tests/test_signals.h"

int main(int argc, char** argv) {
    if (argc < 5) {
        fprintf(stderr, "usage: make_music OUT.wav SECONDS SEED LUFS [RATE [CHANNELS]]\n");
        return 2;
    }
    const int rate = argc > 5 ? atoi(argv[5]) : 44100;
    const int channels = argc > 6 ? atoi(argv[6]) : 2;
    std::vector<float> x = signals::music(rate, channels, atof(argv[2]), static_cast<uint32_t>(atoi(argv[3])));
    signals::setLoudness(x, rate, channels, atof(argv[4]));
    std::vector<short> pcm(x.size());
    for (size_t i = 0; i < x.size(); ++i) {
        const float v = std::nearbyint(x[i]);
        pcm[i] = static_cast<short>(v > 32767.0f ? 32767.0f : v < -32768.0f ? -32768.0f : v);
    }
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = channels;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* file = sf_open(argv[1], SFM_WRITE, &info);
    if (file == nullptr) {
        fprintf(stderr, "make_music: cannot write %s\n", argv[1]);
        return 1;
    }
    const bool ok = sf_write_short(file, pcm.data(), static_cast<sf_count_t>(pcm.size())) ==
                    static_cast<sf_count_t>(pcm.size());
    sf_close(file);
    return ok ? 0 : 1;
}
