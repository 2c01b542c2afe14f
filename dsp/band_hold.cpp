// The multiband engine's held-peak band gain computers (the band_hold
// setting). The plain gain computer steps its gain on every sample the peak
// detector sees, so that a steady tone above the threshold has its gain
// moved up and down within each cycle. This one holds the largest magnitude
// that has entered the lookahead for the lookahead and 20 ms more, and moves
// the gain towards the gain that the held peak needs (threshold / peak, at
// most the band's max amp): down by at most the band's attack step a frame,
// up by at most its release step, never past it. A steady tone holds one peak
// and gets one steady gain. A peak within 0.2 dB of the held one renews the
// hold (the sampled crests of a high tone differ from cycle to cycle); once
// the hold runs out the held peak falls by 60 dB/s until the signal meets it.
#include <cmath>

#include "dsp/multiband.h"

namespace {

constexpr float renewRatio = 0.977f;  // -0.2 dB

inline float wantedGain(float threshold, float peak, float maxGain) {
    const float g = peak > 0.0f ? threshold / peak : maxGain;
    return g < maxGain ? g : maxGain;
}

template <int Channels>
float heldGain(float* p, int n, float g, const HeldBandGain& b, HeldPeak& h, double& sum) {
    const int ahead = b.lookahead * Channels;
    float peak = h.peak;
    int left = h.holdLeft;
    float target = wantedGain(b.threshold, peak, b.maxGain);
    for (int i = 0; i < n; i += Channels) {
        p[i] = p[i] * g;
        float m = std::fabs(p[i + ahead]);
        if constexpr (Channels == 2) {
            p[i + 1] = p[i + 1] * g;
            const float right = std::fabs(p[i + 1 + ahead]);
            if (right > m) m = right;
        }
        if (m >= peak || (left == 0 && m >= peak * b.decay)) {
            peak = m;
            left = b.holdFrames;
            target = wantedGain(b.threshold, peak, b.maxGain);
        } else if (m >= peak * renewRatio) {
            left = b.holdFrames;
        } else if (left > 0) {
            --left;
        } else {
            peak *= b.decay;
            target = wantedGain(b.threshold, peak, b.maxGain);
        }
        if (target < g) {
            g -= b.down;
            if (g < target) g = target;
        } else if (g < target) {
            g += b.up;
            if (g > target) g = target;
        }
        sum += g;
    }
    h.peak = peak;
    h.holdLeft = left;
    return g;
}

}  // namespace

HeldBandGain heldBandGain(const BandParams& band, int lookahead, int rate) {
    HeldBandGain b;
    b.up = static_cast<float>(band.upStep);
    b.down = static_cast<float>(band.downStep);
    b.maxGain = static_cast<float>(band.maxGain);
    b.threshold = static_cast<float>(band.threshold);
    b.lookahead = lookahead < 0 ? 0 : lookahead;
    b.holdFrames = b.lookahead + (rate > 0 ? rate : 44100) / 50;
    b.decay = static_cast<float>(std::pow(10.0, -3.0 / (rate > 0 ? rate : 44100)));
    return b;
}

float computeHeldBandGain(float* p, int n, int channels, float gain, const HeldBandGain& band,
                          HeldPeak& held, float* readout) {
    double sum = 0.0;
    const float g = channels == 2 ? heldGain<2>(p, n, gain, band, held, sum)
                                  : heldGain<1>(p, n, gain, band, held, sum);
    const int frames = channels > 0 ? n / channels : 0;
    if (readout != nullptr && frames > 0) *readout = static_cast<float>(sum / frames);
    return g;
}
