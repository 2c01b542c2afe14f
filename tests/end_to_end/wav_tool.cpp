// Small WAV utility for the end-to-end tests.
//   wav_tool frames FILE             prints the frame count
//   wav_tool compare A B             exit 0 when both hold the same 16-bit samples
//   wav_tool make FILE RATE CHANNELS FRAMES   writes a deterministic test signal
#include <sndfile.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

bool read_all(const char* path, SF_INFO& info, std::vector<short>& samples) {
    info = SF_INFO{};
    SNDFILE* file = sf_open(path, SFM_READ, &info);
    if (file == nullptr) {
        fprintf(stderr, "wav_tool: cannot read %s: %s\n", path, sf_strerror(nullptr));
        return false;
    }
    samples.resize(static_cast<size_t>(info.frames) * static_cast<size_t>(info.channels));
    sf_count_t got = sf_readf_short(file, samples.data(), info.frames);
    sf_close(file);
    return got == info.frames;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && strcmp(argv[1], "frames") == 0) {
        SF_INFO info;
        std::vector<short> samples;
        if (!read_all(argv[2], info, samples)) return 1;
        printf("%lld\n", static_cast<long long>(info.frames));
        return 0;
    }
    if (argc == 4 && strcmp(argv[1], "compare") == 0) {
        SF_INFO a, b;
        std::vector<short> sa, sb;
        if (!read_all(argv[2], a, sa) || !read_all(argv[3], b, sb)) return 1;
        if (a.frames != b.frames || a.channels != b.channels || a.samplerate != b.samplerate) {
            fprintf(stderr, "wav_tool: formats differ (%lld/%d/%d vs %lld/%d/%d)\n",
                    static_cast<long long>(a.frames), a.channels, a.samplerate,
                    static_cast<long long>(b.frames), b.channels, b.samplerate);
            return 1;
        }
        size_t differ = 0, first = 0;
        for (size_t i = 0; i < sa.size(); ++i)
            if (sa[i] != sb[i] && differ++ == 0) first = i;
        if (differ != 0) {
            fprintf(stderr, "wav_tool: %zu of %zu samples differ, the first at %zu (%d vs %d)\n", differ,
                    sa.size(), first, sa[first], sb[first]);
            return 1;
        }
        return 0;
    }
    if (argc == 6 && strcmp(argv[1], "make") == 0) {
        SF_INFO info{};
        info.samplerate = atoi(argv[3]);
        info.channels = atoi(argv[4]);
        info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
        const long frames = atol(argv[5]);
        std::vector<short> samples(static_cast<size_t>(frames) * static_cast<size_t>(info.channels));
        for (long f = 0; f < frames; ++f)
            for (int c = 0; c < info.channels; ++c)
                samples[static_cast<size_t>(f * info.channels + c)] = static_cast<short>(
                    std::lround(20000 * std::sin(0.031 * static_cast<double>(f) * (c + 1)) *
                                (0.2 + 0.8 * ((f / 4410) % 2))));
        SNDFILE* file = sf_open(argv[2], SFM_WRITE, &info);
        if (file == nullptr) {
            fprintf(stderr, "wav_tool: cannot write %s\n", argv[2]);
            return 1;
        }
        bool ok = sf_writef_short(file, samples.data(), frames) == frames;
        sf_close(file);
        return ok ? 0 : 1;
    }
    fprintf(stderr, "usage: wav_tool frames FILE | compare A B | make FILE RATE CHANNELS FRAMES\n");
    return 2;
}
