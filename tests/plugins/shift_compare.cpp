// Compares a plug-in's output with the player's: frame i + SHIFT of OUT must
// equal frame i of REF (same channel count, 16-bit), within TOLERANCE steps,
// for every frame of REF that OUT reaches; OUT's first SHIFT frames must be
// silence and OUT must be as long as REF. A float REF (the full-resolution
// path's output) is first reduced to 16 bits as a host would reduce it.
//   shift_compare REF OUT SHIFT TOLERANCE
// Prints the number of compared samples, differing samples and the largest
// difference; exit 0 on a match, 1 on a mismatch, 2 on a usage or file error.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "read_steps.h"

int main(int argc, char** argv) {
    if (argc != 5) {
        fprintf(stderr, "usage: shift_compare REF OUT SHIFT TOLERANCE\n");
        return 2;
    }
    std::vector<double> ref, out;
    SF_INFO refInfo, outInfo;
    if (!readSteps("shift_compare", argv[1], ref, refInfo) ||
        !readSteps("shift_compare", argv[2], out, outInfo))
        return 2;
    const long shift = atol(argv[3]);
    const double tolerance = atof(argv[4]);
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
    double largest = 0;
    const long n = (refInfo.frames - shift) * channels;
    for (long i = 0; i < n; ++i) {
        const double d = std::fabs(out[i + shift * channels] - ref[i]);
        ++compared;
        if (d != 0) {
            ++differing;
            if (firstDiff < 0) firstDiff = i / channels;
        }
        if (d > largest) largest = d;
    }
    printf("compared %ld samples: %ld differ (first at frame %ld), largest difference %g, "
           "%ld non-silent samples in the first %ld frames\n",
           compared, differing, firstDiff, largest, leading, shift);
    return largest <= tolerance && leading == 0 ? 0 : 1;
}
