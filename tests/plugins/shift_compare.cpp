// Compares a plug-in's output with the player's: frame i + SHIFT of OUT must
// equal frame i of REF (same channel count, 16-bit), within TOLERANCE steps,
// for every frame of REF that OUT reaches; OUT's first SHIFT frames must be
// silence and OUT must be as long as REF.
//   shift_compare REF OUT SHIFT TOLERANCE
// Prints the number of compared samples, differing samples and the largest
// difference; exit 0 on a match, 1 on a mismatch, 2 on a usage or file error.
#include <sndfile.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

bool readAll(const char* path, std::vector<short>& samples, SF_INFO& info) {
    info = SF_INFO{};
    SNDFILE* f = sf_open(path, SFM_READ, &info);
    if (f == nullptr) {
        fprintf(stderr, "shift_compare: cannot open %s: %s\n", path, sf_strerror(nullptr));
        return false;
    }
    samples.resize(static_cast<size_t>(info.frames) * info.channels);
    const sf_count_t got = sf_readf_short(f, samples.data(), info.frames);
    sf_close(f);
    return got == info.frames;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 5) {
        fprintf(stderr, "usage: shift_compare REF OUT SHIFT TOLERANCE\n");
        return 2;
    }
    std::vector<short> ref, out;
    SF_INFO refInfo, outInfo;
    if (!readAll(argv[1], ref, refInfo) || !readAll(argv[2], out, outInfo)) return 2;
    const long shift = atol(argv[3]);
    const int tolerance = atoi(argv[4]);
    const int channels = refInfo.channels;
    if (outInfo.channels != channels || outInfo.samplerate != refInfo.samplerate) {
        fprintf(stderr, "shift_compare: format differs (%d ch %d Hz against %d ch %d Hz)\n",
                outInfo.channels, outInfo.samplerate, channels, refInfo.samplerate);
        return 1;
    }
    if (outInfo.frames != refInfo.frames || refInfo.frames <= shift) {
        fprintf(stderr, "shift_compare: %lld frames against %lld (shift %ld)\n",
                static_cast<long long>(outInfo.frames), static_cast<long long>(refInfo.frames),
                shift);
        return 1;
    }
    long leading = 0;
    for (long i = 0; i < shift * channels; ++i)
        if (out[i] != 0) ++leading;
    long compared = 0, differing = 0, firstDiff = -1;
    int largest = 0;
    const long n = (refInfo.frames - shift) * channels;
    for (long i = 0; i < n; ++i) {
        const int d = abs(out[i + shift * channels] - ref[i]);
        ++compared;
        if (d != 0) {
            ++differing;
            if (firstDiff < 0) firstDiff = i / channels;
        }
        if (d > largest) largest = d;
    }
    printf("compared %ld samples: %ld differ (first at frame %ld), largest difference %d, "
           "%ld non-silent samples in the first %ld frames\n",
           compared, differing, firstDiff, largest, leading, shift);
    return largest <= tolerance && leading == 0 ? 0 : 1;
}
