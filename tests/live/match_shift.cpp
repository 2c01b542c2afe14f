// Finds the shift at which a recording holds a reference sample for sample:
// frame j + SHIFT of REC equals frame j of REF within TOLERANCE steps on
// every frame both hold, for some SHIFT in -MAX_SHIFT..MAX_SHIFT, and the
// two overlap on at least MIN_FRAMES frames. Both 16-bit, one channel count.
//   match_shift REF REC MAX_SHIFT TOLERANCE MIN_FRAMES
// Prints "shift=S compared=N largest=D" for the first such shift; exit 0 when
// one exists, 1 when none does, 2 on errors.
#include <sndfile.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

bool readAll(const char* path, std::vector<short>& samples, int& channels) {
    SF_INFO info{};
    SNDFILE* f = sf_open(path, SFM_READ, &info);
    if (f == nullptr) {
        fprintf(stderr, "match_shift: cannot open %s: %s\n", path, sf_strerror(nullptr));
        return false;
    }
    samples.resize(static_cast<size_t>(info.frames) * info.channels);
    const sf_count_t got = sf_readf_short(f, samples.data(), info.frames);
    sf_close(f);
    channels = info.channels;
    return got == info.frames;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 6) {
        fprintf(stderr, "usage: match_shift REF REC MAX_SHIFT TOLERANCE MIN_FRAMES\n");
        return 2;
    }
    std::vector<short> ref, rec;
    int refChannels = 0, recChannels = 0;
    if (!readAll(argv[1], ref, refChannels) || !readAll(argv[2], rec, recChannels)) return 2;
    if (refChannels != recChannels) {
        fprintf(stderr, "match_shift: %d channels against %d\n", refChannels, recChannels);
        return 2;
    }
    const long c = refChannels;
    const long refFrames = static_cast<long>(ref.size()) / c;
    const long recFrames = static_cast<long>(rec.size()) / c;
    const long maxShift = atol(argv[3]);
    const int tolerance = atoi(argv[4]);
    const long minFrames = atol(argv[5]);
    for (long shift = -maxShift; shift <= maxShift; ++shift) {
        const long first = shift < 0 ? -shift : 0;  // the first REF frame REC holds
        const long last = refFrames < recFrames - shift ? refFrames : recFrames - shift;
        if (last - first < minFrames) continue;
        int largest = 0;
        for (long i = first * c; i < last * c && largest <= tolerance; ++i) {
            const int d = abs(rec[i + shift * c] - ref[i]);
            if (d > largest) largest = d;
        }
        if (largest <= tolerance) {
            printf("shift=%ld compared=%ld largest=%d\n", shift, (last - first) * c, largest);
            return 0;
        }
    }
    printf("no shift within %ld frames matches within %d\n", maxShift, tolerance);
    return 1;
}
