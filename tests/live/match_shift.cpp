// Finds the shift at which a recording holds a reference sample for sample:
// frame j + SHIFT of REC equals frame j of REF within TOLERANCE steps on
// every frame both hold, for some SHIFT in -MAX_SHIFT..MAX_SHIFT, and the
// two overlap on at least MIN_FRAMES frames. One channel count; REC 16-bit,
// REF 16-bit or float (reduced to 16 bits as a host would).
//   match_shift REF REC MAX_SHIFT TOLERANCE MIN_FRAMES
// Prints "shift=S compared=N largest=D" for the first such shift; exit 0 when
// one exists, 1 when none does, 2 on errors.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "tests/plugins/read_steps.h"

int main(int argc, char** argv) {
    if (argc != 6) {
        fprintf(stderr, "usage: match_shift REF REC MAX_SHIFT TOLERANCE MIN_FRAMES\n");
        return 2;
    }
    std::vector<double> ref, rec;
    SF_INFO refInfo, recInfo;
    if (!readSteps("match_shift", argv[1], ref, refInfo) ||
        !readSteps("match_shift", argv[2], rec, recInfo))
        return 2;
    const int refChannels = refInfo.channels, recChannels = recInfo.channels;
    if (refChannels != recChannels) {
        fprintf(stderr, "match_shift: %d channels against %d\n", refChannels, recChannels);
        return 2;
    }
    const long c = refChannels;
    const long refFrames = static_cast<long>(ref.size()) / c;
    const long recFrames = static_cast<long>(rec.size()) / c;
    const long maxShift = atol(argv[3]);
    const double tolerance = atof(argv[4]);
    const long minFrames = atol(argv[5]);
    for (long shift = -maxShift; shift <= maxShift; ++shift) {
        const long first = shift < 0 ? -shift : 0;  // the first REF frame REC holds
        const long last = refFrames < recFrames - shift ? refFrames : recFrames - shift;
        if (last - first < minFrames) continue;
        double largest = 0;
        for (long i = first * c; i < last * c && largest <= tolerance; ++i) {
            const double d = std::fabs(rec[i + shift * c] - ref[i]);
            if (d > largest) largest = d;
        }
        if (largest <= tolerance) {
            printf("shift=%ld compared=%ld largest=%g\n", shift, (last - first) * c, largest);
            return 0;
        }
    }
    printf("no shift within %ld frames matches within %g\n", maxShift, tolerance);
    return 1;
}
