// Test signals and measurements for the full-resolution path:
//   signal_measure sine OUT.wav RATE SECONDS HZ DBFS CHANNELS
//       a float WAV sine (peak DBFS re full scale)
//   signal_measure sinad FILE HZ SKIP_SECONDS MIN_DB
//       SINAD of every channel after SKIP_SECONDS: the sine of HZ (amplitude,
//       phase and offset fitted by least squares) against everything else;
//       exit 1 when a channel measures below MIN_DB
//   signal_measure residual A B SHIFT MAX_DBFS [clamp]
//       frame i + SHIFT of B against frame i of A: the r.m.s. of the
//       difference in dB re full scale, and its peak; exit 1 above MAX_DBFS.
//       With clamp, B is first held within the 16-bit classic chain's clamp
//       (+-32766 / 32768), and the samples beyond it are counted.
// Exit 2 on a usage or file error.
#include <sndfile.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

bool read_all(const char* path, std::vector<double>& samples, SF_INFO& info) {
    info = SF_INFO{};
    SNDFILE* f = sf_open(path, SFM_READ, &info);
    if (f == nullptr) {
        fprintf(stderr, "signal_measure: cannot open %s: %s\n", path, sf_strerror(nullptr));
        return false;
    }
    samples.resize(static_cast<size_t>(info.frames) * info.channels);
    const sf_count_t got = sf_readf_double(f, samples.data(), info.frames);
    sf_close(f);
    return got == info.frames;
}

int sine(char** argv) {
    const int rate = atoi(argv[2]), channels = atoi(argv[6]);
    const double seconds = atof(argv[3]), hz = atof(argv[4]), amplitude = std::pow(10.0, atof(argv[5]) / 20.0);
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = channels;
    info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    SNDFILE* f = sf_open(argv[1], SFM_WRITE, &info);
    if (f == nullptr || rate <= 0 || channels < 1 || channels > 2) return 2;
    const long long frames = static_cast<long long>(seconds * rate);
    std::vector<float> out(static_cast<size_t>(frames) * channels);
    for (long long i = 0; i < frames; ++i)
        for (int c = 0; c < channels; ++c)
            out[static_cast<size_t>(i * channels + c)] =
                static_cast<float>(amplitude * std::sin(2 * M_PI * hz * static_cast<double>(i) / rate));
    const bool ok = sf_writef_float(f, out.data(), frames) == frames;
    sf_close(f);
    return ok ? 0 : 2;
}

// Least squares of x against a cos, b sin and an offset: solves the 3x3
// normal equations by Cramer's rule.
double sinad_of(const std::vector<double>& x, double w) {
    double m[3][3] = {}, v[3] = {};
    for (size_t i = 0; i < x.size(); ++i) {
        const double basis[3] = {std::cos(w * static_cast<double>(i)), std::sin(w * static_cast<double>(i)), 1.0};
        for (int r = 0; r < 3; ++r) {
            v[r] += basis[r] * x[i];
            for (int c = 0; c < 3; ++c) m[r][c] += basis[r] * basis[c];
        }
    }
    auto det = [](const double a[3][3]) {
        return a[0][0] * (a[1][1] * a[2][2] - a[1][2] * a[2][1]) -
               a[0][1] * (a[1][0] * a[2][2] - a[1][2] * a[2][0]) +
               a[0][2] * (a[1][0] * a[2][1] - a[1][1] * a[2][0]);
    };
    const double d = det(m);
    double k[3];
    for (int col = 0; col < 3; ++col) {
        double t[3][3];
        for (int r = 0; r < 3; ++r)
            for (int c = 0; c < 3; ++c) t[r][c] = c == col ? v[r] : m[r][c];
        k[col] = det(t) / d;
    }
    double signal = 0.0, rest = 0.0;
    for (size_t i = 0; i < x.size(); ++i) {
        const double fit = k[0] * std::cos(w * static_cast<double>(i)) + k[1] * std::sin(w * static_cast<double>(i));
        const double e = x[i] - fit - k[2];
        signal += fit * fit;
        rest += e * e;
    }
    return 10.0 * std::log10(signal / (rest + 1e-300));
}

int sinad(char** argv) {
    std::vector<double> all;
    SF_INFO info;
    if (!read_all(argv[1], all, info)) return 2;
    const double hz = atof(argv[2]), skip = atof(argv[3]), minimum = atof(argv[4]);
    const long long first = static_cast<long long>(skip * info.samplerate);
    if (first >= info.frames) return 2;
    double worst = INFINITY;
    for (int c = 0; c < info.channels; ++c) {
        std::vector<double> x;
        for (long long i = first; i < info.frames; ++i) x.push_back(all[static_cast<size_t>(i * info.channels + c)]);
        const double s = sinad_of(x, 2 * M_PI * hz / info.samplerate);
        printf("%s channel %d: SINAD %.1f dB\n", argv[1], c, s);
        worst = std::fmin(worst, s);
    }
    return worst >= minimum ? 0 : 1;
}

int residual(char** argv) {
    std::vector<double> a, b;
    SF_INFO ia, ib;
    if (!read_all(argv[1], a, ia) || !read_all(argv[2], b, ib) || ia.channels != ib.channels) return 2;
    const long long shift = atoll(argv[3]);
    const double maximum = atof(argv[4]);
    const bool clamp = argv[5] != nullptr && std::string(argv[5]) == "clamp";
    const double limit = 32766.0 / 32768.0;
    double sum = 0.0, peak = 0.0;
    long long count = 0, beyond = 0;
    for (long long i = 0; i + shift < ib.frames && i < ia.frames; ++i)
        for (int c = 0; c < ia.channels; ++c) {
            double y = b[static_cast<size_t>((i + shift) * ib.channels + c)];
            if (clamp && std::fabs(y) > limit) {
                y = y > 0 ? limit : -limit;
                ++beyond;
            }
            const double d = y - a[static_cast<size_t>(i * ia.channels + c)];
            sum += d * d;
            peak = std::fmax(peak, std::fabs(d));
            ++count;
        }
    if (count == 0) return 2;
    const double rms = 10.0 * std::log10(sum / count + 1e-300);
    printf("%lld samples (%lld beyond the clamp): residual %.1f dB r.m.s. re full scale, peak %.1f dBFS\n",
           count, beyond, rms, 20.0 * std::log10(peak + 1e-300));
    return rms <= maximum ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string what = argc > 1 ? argv[1] : "";
    if (what == "sine" && argc == 8) return sine(argv + 1);
    if (what == "sinad" && argc == 6) return sinad(argv + 1);
    if (what == "residual" && (argc == 6 || argc == 7)) return residual(argv + 1);
    fprintf(stderr, "usage: signal_measure sine OUT RATE SECONDS HZ DBFS CHANNELS\n"
                    "       signal_measure sinad FILE HZ SKIP_SECONDS MIN_DB\n"
                    "       signal_measure residual A B SHIFT MAX_DBFS [clamp]\n");
    return 2;
}
