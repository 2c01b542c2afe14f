// The quality benchmark's measures (bench/quality) on signals whose answer is
// known: a sine with known harmonics, known SMPTE sidebands, a known level
// modulation under a loud bass, and known loudness, range and peaks.
#include <cmath>
#include <vector>

#include <gtest/gtest.h>

#include "bench/quality/quality_measures.h"

namespace {

constexpr double rate = 44100, pi = 3.14159265358979323846;

struct Part {
    double freq, amplitude, phase;
};

std::vector<double> sum_of(std::initializer_list<Part> parts, double seconds, double dc = 0) {
    std::vector<double> x(std::size_t(seconds * rate), dc);
    for (const Part& p : parts)
        for (std::size_t n = 0; n < x.size(); ++n) x[n] += p.amplitude * std::sin(2 * pi * p.freq * double(n) / rate + p.phase);
    return x;
}

double db(double ratio) { return 20 * std::log10(ratio); }

TEST(QualityMeasures, ThdnOfASineWithKnownHarmonics) {
    struct Case { double freq, second, third, dc; } cases[] = {
        {1000, 0.01, 0, 0},            // -40 dB
        {1000, 0.001, 0.0005, 0.1},    // both, with an offset the fit removes
        {50, 0, 0.0316, 0},            // -30 dB at 150 Hz
    };
    for (const Case& c : cases) {
        const auto x = sum_of({{c.freq, 0.5, 0.3}, {2 * c.freq, 0.5 * c.second, 1.0}, {3 * c.freq, 0.5 * c.third, 2.0}}, 5, c.dc);
        EXPECT_NEAR(quality::thdn_db(x, rate, c.freq), db(std::hypot(c.second, c.third)), 0.01) << c.freq;
    }
}

TEST(QualityMeasures, SmpteImdFromKnownSidebands) {
    // 60 Hz and 7 kHz at 4:1 with sidebands at +-60 Hz (1%) and +-120 Hz (0.5%) of the 7 kHz line.
    const auto x = sum_of({{60, 0.56, 0}, {7000, 0.14, 0}, {6940, 0.0014, 1}, {7060, 0.0014, 2},
                           {6880, 0.0007, 3}, {7120, 0.0007, 4}}, 5);
    EXPECT_NEAR(quality::smpte_imd_db(x, rate, 60, 7000), db(std::sqrt(2 * 0.01 * 0.01 + 2 * 0.005 * 0.005)), 0.05);
    EXPECT_LT(quality::smpte_imd_db(sum_of({{60, 0.56, 0}, {7000, 0.14, 0}}, 5), rate, 60, 7000), -120);
}

TEST(QualityMeasures, PumpingIsTheSpreadOfTheBandsEnvelope) {
    // A 2 kHz tone whose level steps by `depth` dB every 100 ms, under a loud
    // steady 60 Hz tone that the band-pass must keep out.
    for (double depth : {0.0, 1.0, 6.0}) {
        std::vector<double> x = sum_of({{60, 0.7, 0}}, 5);
        for (std::size_t n = 0; n < x.size(); ++n) {
            const bool low = (n / 4410) % 2 == 1;
            x[n] += 0.03 * std::pow(10.0, low ? -depth / 20 : 0.0) * std::sin(2 * pi * 2000 * double(n) / rate);
        }
        EXPECT_NEAR(quality::envelope_spread_db(quality::band_pass(x, rate, 1000, 4000), rate), depth, 0.1) << depth;
    }
}

TEST(QualityMeasures, LoudnessRangeAndTruePeak) {
    // 30 s at -20 LUFS then 30 s at -30 (a 1 kHz sine in both channels reads
    // about its peak level in LUFS), and one fs/4 sine burst at 45 degrees whose
    // samples stay 3 dB below its true peak of -6 dBFS; three full-scale samples.
    std::vector<float> stereo;
    const auto loud = sum_of({{1000, 0.1, 0}}, 30), quiet = sum_of({{1000, 0.0316228, 0}}, 30);
    for (const auto* part : {&loud, &quiet})
        for (double v : *part) stereo.insert(stereo.end(), {float(v), float(v)});
    for (int n = 0; n < 4410; ++n) stereo[2 * n] = float(0.5 * std::sin(pi / 2 * n + pi / 4));
    stereo[100001] = 1.0f, stereo[100201] = -1.0f, stereo[100401] = 32766.0f / 32768;
    const quality::Loudness l = quality::loudness(stereo, 2, int(rate));
    EXPECT_NEAR(l.rangeLu, 10.0, 0.2);
    EXPECT_NEAR(l.truePeakDbtp, 0.0, 0.1);  // the full-scale samples
    EXPECT_EQ(l.fullScale, 3);
    stereo[100001] = stereo[100201] = stereo[100401] = 0;
    const quality::Loudness burst = quality::loudness(stereo, 2, int(rate));
    EXPECT_NEAR(burst.truePeakDbtp, db(0.5), 0.2);
    const std::vector<float> last10s(stereo.end() - 2 * 441000, stereo.end());
    EXPECT_NEAR(quality::loudness(last10s, 2, int(rate)).integratedLufs, -30.0, 0.1);
}

}  // namespace
