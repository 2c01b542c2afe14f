#include "bench/quality/quality_measures.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>

#include <ebur128.h>

namespace quality {
namespace {

constexpr double pi = std::numbers::pi;
constexpr double nan = std::numeric_limits<double>::quiet_NaN();

double db(double ratio) { return 20.0 * std::log10(ratio); }

// Solves the 3x3 system a * s = b by Gaussian elimination with pivoting.
void solve3(double a[3][3], double b[3], double s[3]) {
    for (int c = 0; c < 3; ++c) {
        int p = c;
        for (int r = c + 1; r < 3; ++r)
            if (std::fabs(a[r][c]) > std::fabs(a[p][c])) p = r;
        std::swap(a[c], a[p]);
        std::swap(b[c], b[p]);
        for (int r = c + 1; r < 3; ++r) {
            const double f = a[r][c] / a[c][c];
            for (int k = c; k < 3; ++k) a[r][k] -= f * a[c][k];
            b[r] -= f * b[c];
        }
    }
    for (int c = 2; c >= 0; --c) {
        double v = b[c];
        for (int k = c + 1; k < 3; ++k) v -= a[c][k] * s[k];
        s[c] = v / a[c][c];
    }
}

struct Biquad {
    double b0, b1, b2, a1, a2;
    double z1 = 0, z2 = 0;
    double run(double x) {  // transposed direct form II
        const double y = b0 * x + z1;
        z1 = b1 * x - a1 * y + z2;
        z2 = b2 * x - a2 * y;
        return y;
    }
};

// Butterworth sections of a 4th-order filter (after R. Bristow-Johnson's forms).
Biquad section(double rate, double freq, double q, bool highPass) {
    const double w = 2 * pi * freq / rate, c = std::cos(w), alpha = std::sin(w) / (2 * q);
    const double a0 = 1 + alpha;
    const double e = highPass ? (1 + c) / 2 : (1 - c) / 2;
    const double m = highPass ? -(1 + c) : 1 - c;
    return {e / a0, m / a0, e / a0, -2 * c / a0, (1 - alpha) / a0};
}

}  // namespace

double thdn_db(const std::vector<double>& x, double rate, double freq) {
    const double w = 2 * pi * freq / rate;
    double a[3][3] = {}, b[3] = {};
    for (std::size_t n = 0; n < x.size(); ++n) {
        const double basis[3] = {1.0, std::cos(w * double(n)), std::sin(w * double(n))};
        for (int i = 0; i < 3; ++i) {
            b[i] += basis[i] * x[n];
            for (int j = 0; j < 3; ++j) a[i][j] += basis[i] * basis[j];
        }
    }
    double s[3];
    solve3(a, b, s);
    double residual = 0, tone = 0;
    for (std::size_t n = 0; n < x.size(); ++n) {
        const double t = s[1] * std::cos(w * double(n)) + s[2] * std::sin(w * double(n));
        const double r = x[n] - s[0] - t;
        residual += r * r;
        tone += t * t;
    }
    return tone > 0 ? 10.0 * std::log10(residual / tone) : nan;
}

double hann_amplitude(const std::vector<double>& x, double rate, double freq) {
    const double w = 2 * pi * freq / rate, size = double(x.size());
    double re = 0, im = 0, weights = 0;
    for (std::size_t n = 0; n < x.size(); ++n) {
        const double h = 0.5 - 0.5 * std::cos(2 * pi * double(n) / size);
        re += h * x[n] * std::cos(w * double(n));
        im -= h * x[n] * std::sin(w * double(n));
        weights += h;
    }
    return weights > 0 ? 2 * std::hypot(re, im) / weights : 0;
}

double smpte_imd_db(const std::vector<double>& x, double rate, double low, double high, int orders) {
    double sidebands = 0;
    for (int k = 1; k <= orders; ++k)
        for (int side : {-1, 1}) {
            const double a = hann_amplitude(x, rate, high + side * k * low);
            sidebands += a * a;
        }
    const double carrier = hann_amplitude(x, rate, high);
    return carrier > 0 ? db(std::sqrt(sidebands) / carrier) : nan;
}

std::vector<double> band_pass(const std::vector<double>& x, double rate, double low, double high) {
    Biquad sections[4] = {section(rate, low, 0.54119610, true), section(rate, low, 1.30656296, true),
                          section(rate, high, 0.54119610, false), section(rate, high, 1.30656296, false)};
    std::vector<double> y(x.size());
    for (std::size_t n = 0; n < x.size(); ++n) {
        double v = x[n];
        for (Biquad& s : sections) v = s.run(v);
        y[n] = v;
    }
    return y;
}

std::vector<double> envelope_db(const std::vector<double>& x, std::size_t window) {
    std::vector<double> levels;
    for (std::size_t start = 0; window > 0 && start + window <= x.size(); start += window) {
        double sum = 0;
        for (std::size_t n = start; n < start + window; ++n) sum += x[n] * x[n];
        levels.push_back(10.0 * std::log10(sum / double(window) + 1e-30));
    }
    return levels;
}

double percentile(std::vector<double> values, double p) {
    if (values.empty()) return nan;
    std::sort(values.begin(), values.end());
    const double rank = p / 100.0 * double(values.size() - 1);
    const std::size_t below = std::size_t(rank);
    const std::size_t above = std::min(below + 1, values.size() - 1);
    return values[below] + (rank - double(below)) * (values[above] - values[below]);
}

double envelope_spread_db(const std::vector<double>& x, double rate) {
    const std::vector<double> levels = envelope_db(x, std::size_t(std::lround(0.020 * rate)));
    return percentile(levels, 95) - percentile(levels, 5);
}

Loudness loudness(const std::vector<float>& interleaved, int channels, int rate) {
    Loudness figures{nan, nan, nan, 0};
    ebur128_state* state = ebur128_init(unsigned(channels), unsigned(rate),
                                        EBUR128_MODE_I | EBUR128_MODE_LRA | EBUR128_MODE_TRUE_PEAK);
    if (state == nullptr) return figures;
    ebur128_add_frames_float(state, interleaved.data(), interleaved.size() / std::size_t(channels));
    double value = 0;
    if (ebur128_loudness_global(state, &value) == EBUR128_SUCCESS && std::isfinite(value))
        figures.integratedLufs = value;
    if (ebur128_loudness_range(state, &value) == EBUR128_SUCCESS) figures.rangeLu = value;
    double highest = 0;
    for (int c = 0; c < channels; ++c)
        if (ebur128_true_peak(state, unsigned(c), &value) == EBUR128_SUCCESS) highest = std::max(highest, value);
    figures.truePeakDbtp = highest > 0 ? db(highest) : nan;
    ebur128_destroy(&state);
    for (float s : interleaved)
        if (std::fabs(s) * 32768.0f >= 32766.0f) ++figures.fullScale;
    return figures;
}

}  // namespace quality
