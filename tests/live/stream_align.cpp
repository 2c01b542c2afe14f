// Finds where a recording of a live stream sits in the program the station
// played, and checks that it is that program throughout: no gap, no repeat,
// no jump. REF is the program (16-bit, the plug-in's output over the whole
// playlist), REC the decoded recording, both at one rate and channel count.
//   stream_align REF REC MAX_START_SECONDS MIN_CORRELATION
// The recording's frame 0 is searched among REF's first MAX_START_SECONDS;
// then every whole second of REC is correlated with REF at that offset.
// Prints "offset=F frames=N seconds=S lowest=C at=T mean=M"; exit 0 when
// every second correlates at least MIN_CORRELATION, 1 otherwise, 2 on errors.
#include <sndfile.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

// The file as one channel (the channels' mean), and its rate.
bool readMono(const char* path, std::vector<float>& mono, int& rate) {
    SF_INFO info{};
    SNDFILE* f = sf_open(path, SFM_READ, &info);
    if (f == nullptr) {
        fprintf(stderr, "stream_align: cannot open %s: %s\n", path, sf_strerror(nullptr));
        return false;
    }
    std::vector<float> all(static_cast<size_t>(info.frames) * info.channels);
    const sf_count_t got = sf_readf_float(f, all.data(), info.frames);
    sf_close(f);
    mono.assign(static_cast<size_t>(got), 0.0f);
    for (sf_count_t i = 0; i < got; ++i)
        for (int c = 0; c < info.channels; ++c) mono[i] += all[i * info.channels + c] / info.channels;
    rate = info.samplerate;
    return got > 0;
}

std::vector<float> decimated(const std::vector<float>& x, int factor) {
    std::vector<float> y(x.size() / factor, 0.0f);
    for (size_t i = 0; i < y.size(); ++i)
        for (int k = 0; k < factor; ++k) y[i] += x[i * factor + k];
    return y;
}

// Normalised correlation of a[from, from + n) with b[offset + from, ...).
double correlation(const std::vector<float>& a, const std::vector<float>& b, long offset,
                   long from, long n) {
    double ab = 0, aa = 0, bb = 0;
    for (long i = from; i < from + n; ++i) {
        const double x = a[i], y = b[offset + i];
        ab += x * y;
        aa += x * x;
        bb += y * y;
    }
    return aa > 0 && bb > 0 ? ab / std::sqrt(aa * bb) : 0.0;
}

// The offset in [lo, hi] with the best correlation of the window.
long bestOffset(const std::vector<float>& rec, const std::vector<float>& ref, long lo, long hi,
                long from, long n) {
    long best = lo;
    double bestValue = -2.0;
    for (long o = lo; o <= hi; ++o) {
        const double c = correlation(rec, ref, o, from, n);
        if (c > bestValue) {
            bestValue = c;
            best = o;
        }
    }
    return best;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 5) {
        fprintf(stderr, "usage: stream_align REF REC MAX_START_SECONDS MIN_CORRELATION\n");
        return 2;
    }
    std::vector<float> ref, rec;
    int refRate = 0, recRate = 0;
    if (!readMono(argv[1], ref, refRate) || !readMono(argv[2], rec, recRate)) return 2;
    if (refRate != recRate) {
        fprintf(stderr, "stream_align: rates differ (%d, %d)\n", refRate, recRate);
        return 2;
    }
    const long rate = refRate;
    const long maxStart = static_cast<long>(atof(argv[3]) * rate);
    const double minCorrelation = atof(argv[4]);
    const long window = 4 * rate;  // the probe: seconds 1..5 of the recording
    if (static_cast<long>(rec.size()) < 6 * rate ||
        static_cast<long>(ref.size()) < maxStart + static_cast<long>(rec.size())) {
        fprintf(stderr, "stream_align: recording too short or program too short for it\n");
        return 2;
    }

    // Coarse search on a 32-fold decimated copy, then the exact frame.
    constexpr int factor = 32;
    const std::vector<float> refD = decimated(ref, factor), recD = decimated(rec, factor);
    const long coarse = bestOffset(recD, refD, 0, maxStart / factor, rate / factor, window / factor);
    const long lo = coarse * factor > 2 * factor ? coarse * factor - 2 * factor : 0;
    const long offset = bestOffset(rec, ref, lo, coarse * factor + 2 * factor, rate, window);

    const long seconds = static_cast<long>(rec.size()) / rate;
    double lowest = 2.0, sum = 0.0;
    long at = 0;
    for (long s = 0; s < seconds; ++s) {
        const double c = correlation(rec, ref, offset, s * rate, rate);
        sum += c;
        if (c < lowest) {
            lowest = c;
            at = s;
        }
    }
    printf("offset=%ld frames=%zu seconds=%ld lowest=%.4f at=%ld mean=%.4f\n", offset, rec.size(),
           seconds, lowest, at, sum / seconds);
    return lowest >= minCorrelation ? 0 : 1;
}
