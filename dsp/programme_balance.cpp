// The programme mode's balance cue: how far the spectral balance of the last
// 3 s lies from that of the 10 s before them (since the programme began).
//
// A change of loudness that comes with a change of balance (the share of the
// energy below 200 Hz and above 3 kHz) is more likely a new piece than one
// that does not: a quiet passage of the same music keeps roughly its
// instruments, a new piece brings its own. The leveller asks for the
// distance only when the loudness alone would be ambiguous.
#include <cmath>

#include "dsp/output_stage_parts.h"

namespace {

constexpr double pi = 3.14159265358979323846;
constexpr int balanceReferenceMinimum = 20;  // sub-blocks before the last 3 s
constexpr double shareFloor = 1e-4;          // -40 dB: a band with nothing in it

double onePole(double frequency, int rate) { return 1.0 - std::exp(-2.0 * pi * frequency / rate); }

// The low and high shares in dB of the sub-blocks from `first` to `last`
// sub-blocks back (0 is the newest); false if nothing was heard.
bool shares(const BalanceState& b, int first, int last, double out[2]) {
    double sum[3] = {0.0, 0.0, 0.0};
    for (int i = first; i <= last; ++i) {
        const double* e = b.ring[(b.newest - i + balanceHistory) % balanceHistory];
        for (int k = 0; k < 3; ++k) sum[k] += e[k];
    }
    if (!(sum[0] > 0.0)) return false;
    for (int k = 0; k < 2; ++k) out[k] = 10.0 * std::log10(std::fmax(sum[k + 1] / sum[0], shareFloor));
    return true;
}

}  // namespace

// The filters run on the sum of every two frames (a coarse cue needs no
// more, and it halves the cost); an odd frame at the end of a chunk waits in
// `pending` for the next.
void balanceSetup(BalanceState& b, int rate) {
    b = BalanceState{};
    b.lowCoefficient = onePole(200.0, rate / 2);
    b.highCoefficient = onePole(3000.0, rate / 2);
}

void balanceMeasure(BalanceState& b, const float* x, int n, int channels) {
    double low = b.low, high = b.high, all = 0.0, lowEnergy = 0.0, highEnergy = 0.0, pair = b.pending;
    bool odd = b.odd;
    for (int i = 0; i < n; ++i) {
        for (int c = 0; c < channels; ++c) pair += x[i * channels + c];
        odd = !odd;
        if (odd) continue;
        low += b.lowCoefficient * (pair - low);
        high += b.highCoefficient * (pair - high);
        all += pair * pair;
        lowEnergy += low * low;
        highEnergy += (pair - high) * (pair - high);
        pair = 0.0;
    }
    // No denormals after silence; a not-a-number or infinity in the audio
    // leaves nothing behind in the filters or the sub-block.
    const bool sound = std::isfinite(all) && std::isfinite(lowEnergy) && std::isfinite(highEnergy);
    b.pending = std::isfinite(pair) ? pair : 0.0;
    b.odd = odd;
    b.low = !sound || std::fabs(low) < 1e-12 ? 0.0 : low;
    b.high = !sound || std::fabs(high) < 1e-12 ? 0.0 : high;
    if (!sound) return;
    b.block[0] += all;
    b.block[1] += lowEnergy;
    b.block[2] += highEnergy;
}

void balanceEndBlock(BalanceState& b) {
    b.newest = (b.newest + 1) % balanceHistory;
    for (int k = 0; k < 3; ++k) {
        b.ring[b.newest][k] = b.block[k];
        b.block[k] = 0.0;
    }
    if (b.count < balanceHistory) ++b.count;
}

void balanceRestart(BalanceState& b) { b.count = 0; }

double balanceChange(const BalanceState& b) {
    if (b.count < balanceRecent + balanceReferenceMinimum) return 0.0;
    double recent[2], before[2];
    if (!shares(b, 0, balanceRecent - 1, recent) || !shares(b, balanceRecent, b.count - 1, before)) return 0.0;
    return std::fabs(recent[0] - before[0]) + std::fabs(recent[1] - before[1]);
}
