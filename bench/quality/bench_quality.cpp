// The quality benchmark's driver (bench/bench_quality.sh runs it):
//   bench_quality signals DIR          writes the steady test signals
//   bench_quality steady IN OUT        one row of THD+N, IMD and pumping
//   bench_quality music IN OUT         one row of the music figures
//   bench_quality presets              the built-in presets with the output stage
// Signals are 30 s of 44.1 kHz stereo float WAV, the same in both channels;
// the figures are taken over the last 5 s of the mid channel (L + R) / 2.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <sndfile.h>

#include "bench/quality/quality_measures.h"
#include "settings/multiband_presets.h"

namespace {

constexpr int rate = 44100;
constexpr int seconds = 30;
constexpr int analysedSeconds = 5;
constexpr double pi = 3.14159265358979323846;

struct Sound {
    std::vector<float> samples;  // interleaved, full scale 1.0
    int channels = 0, rate = 0;
};

bool read_sound(const std::string& path, Sound& sound) {
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (file == nullptr) {
        fprintf(stderr, "bench_quality: cannot read %s: %s\n", path.c_str(), sf_strerror(nullptr));
        return false;
    }
    sound.channels = info.channels;
    sound.rate = info.samplerate;
    sound.samples.resize(std::size_t(info.frames) * std::size_t(info.channels));
    const sf_count_t got = sf_readf_float(file, sound.samples.data(), info.frames);
    sound.samples.resize(std::size_t(got) * std::size_t(info.channels));
    sf_close(file);
    return true;
}

bool write_mono_as_stereo(const std::string& path, const std::vector<double>& mono) {
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = 2;
    info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (file == nullptr) {
        fprintf(stderr, "bench_quality: cannot write %s\n", path.c_str());
        return false;
    }
    std::vector<float> frames(mono.size() * 2);
    for (std::size_t n = 0; n < mono.size(); ++n) frames[2 * n] = frames[2 * n + 1] = float(mono[n]);
    const bool ok = sf_writef_float(file, frames.data(), sf_count_t(mono.size())) == sf_count_t(mono.size());
    return sf_close(file) == 0 && ok;
}

// The mid channel (L + R) / 2 of the whole recording.
std::vector<double> mid_of(const Sound& sound) {
    const std::size_t channels = std::size_t(sound.channels), frames = sound.samples.size() / channels;
    std::vector<double> mid(frames);
    for (std::size_t n = 0; n < frames; ++n) {
        double sum = 0;
        for (std::size_t c = 0; c < channels; ++c) sum += sound.samples[n * channels + c];
        mid[n] = sum / double(channels);
    }
    return mid;
}

// The last `analysedSeconds` of x (all of it when shorter).
std::vector<double> last(const std::vector<double>& x, int soundRate) {
    const std::size_t want = std::size_t(analysedSeconds) * std::size_t(soundRate);
    return {x.end() - std::ptrdiff_t(std::min(want, x.size())), x.end()};
}

// The pad's level movement: its band taken out of the whole recording, the
// spread of its envelope over the last 5 s.
double pad_spread(const Sound& sound) {
    return quality::envelope_spread_db(last(quality::band_pass(mid_of(sound), sound.rate, 1000, 4000), sound.rate),
                                       sound.rate);
}

std::vector<double> tones(std::initializer_list<std::pair<double, double>> parts) {  // (Hz, peak dBFS)
    std::vector<double> x(std::size_t(seconds) * rate, 0.0);
    for (auto [freq, level] : parts) {
        const double amplitude = std::pow(10.0, level / 20.0);
        for (std::size_t n = 0; n < x.size(); ++n) x[n] += amplitude * std::sin(2 * pi * freq * double(n) / rate);
    }
    return x;
}

// A steady 1-4 kHz noise pad at -30 dBFS r.m.s. over 60 Hz kick bursts
// (5 ms rise, 80 ms decay, twice a second) at -3 dBFS peak.
std::vector<double> pumping_signal() {
    std::mt19937 random(22);
    std::normal_distribution<double> normal;
    const std::size_t frames = std::size_t(seconds) * rate, settle = rate;
    std::vector<double> noise(frames + settle);
    for (double& v : noise) v = normal(random);
    std::vector<double> pad = quality::band_pass(noise, rate, 1000, 4000);
    pad.erase(pad.begin(), pad.begin() + std::ptrdiff_t(settle));
    double power = 0;
    for (double v : pad) power += v * v;
    const double scale = std::pow(10.0, -30.0 / 20.0) / std::sqrt(power / double(frames));
    std::vector<double> kick(frames, 0.0);
    const std::size_t period = rate / 2, length = std::size_t(0.3 * rate);
    double peak = 0;
    for (std::size_t n = 0; n < frames; ++n) {
        const double t = double(n % period) / rate;
        if (n % period >= length) continue;
        const double rise = t < 0.005 ? 0.5 - 0.5 * std::cos(pi * t / 0.005) : 1.0;
        const double fade = t > 0.25 ? 0.5 + 0.5 * std::cos(pi * (t - 0.25) / 0.05) : 1.0;
        kick[n] = rise * fade * std::exp(-t / 0.080) * std::sin(2 * pi * 60 * t);
        peak = std::max(peak, std::fabs(kick[n]));
    }
    const double kickScale = std::pow(10.0, -3.0 / 20.0) / peak;
    for (std::size_t n = 0; n < frames; ++n) pad[n] = pad[n] * scale + kick[n] * kickScale;
    return pad;
}

int make_signals(const std::string& dir) {
    const bool ok = write_mono_as_stereo(dir + "/sine1k-20.wav", tones({{1000, -20}})) &&
                    write_mono_as_stereo(dir + "/sine1k-6.wav", tones({{1000, -6}})) &&
                    write_mono_as_stereo(dir + "/sine50-6.wav", tones({{50, -6}})) &&
                    // SMPTE: 60 Hz and 7 kHz at 4:1, -3 dBFS together
                    write_mono_as_stereo(dir + "/smpte.wav",
                                         tones({{60, -3 + 20 * std::log10(0.8)}, {7000, -3 + 20 * std::log10(0.2)}})) &&
                    write_mono_as_stereo(dir + "/pumping.wav", pumping_signal());
    return ok ? 0 : 1;
}

int steady(const std::string& in, const std::string& out) {
    Sound s[5], padIn;
    const char* names[5] = {"sine1k-20", "sine1k-6", "sine50-6", "smpte", "pumping"};
    for (int i = 0; i < 5; ++i)
        if (!read_sound(out + "/" + names[i] + ".wav", s[i])) return 1;
    if (!read_sound(in + "/pumping.wav", padIn)) return 1;
    const int r = s[0].rate;
    auto thdn = [&](const Sound& x, double freq) { return quality::thdn_db(last(mid_of(x), r), r, freq); };
    printf("%.1f | %.1f | %.1f | %.1f | %.1f dB\n", thdn(s[0], 1000), thdn(s[1], 1000), thdn(s[2], 50),
           quality::smpte_imd_db(last(mid_of(s[3]), r), r, 60, 7000), std::round(10 * (pad_spread(s[4]) - pad_spread(padIn))) / 10 + 0.0);  // no "-0.0"
    return 0;
}

// The sum of the loudness ranges of IN's pieces, kept in IN/lra-sum.txt
// after the first reading.
double input_range_sum(const std::string& in) {
    const std::string cache = in + "/lra-sum.txt";
    double sum = 0;
    if (FILE* f = fopen(cache.c_str(), "r")) {
        const bool ok = fscanf(f, "%lf", &sum) == 1;
        fclose(f);
        if (ok) return sum;
    }
    for (int i = 0; i < 8; ++i) {
        Sound a;
        if (!read_sound(in + "/piece" + std::to_string(i) + ".wav", a)) return NAN;
        sum += quality::loudness(a.samples, a.channels, a.rate).rangeLu;
    }
    if (FILE* f = fopen(cache.c_str(), "w")) {
        fprintf(f, "%.17g\n", sum);
        fclose(f);
    }
    return sum;
}

int music(const std::string& in, const std::string& out) {
    double lowest = INFINITY, highest = -INFINITY, rangeOut = 0, peak = -INFINITY;
    long long full = 0;
    for (int i = 0; i < 8; ++i) {
        Sound b;
        if (!read_sound(out + "/piece" + std::to_string(i) + ".wav", b)) return 1;
        const quality::Loudness after = quality::loudness(b.samples, b.channels, b.rate);
        lowest = std::min(lowest, after.integratedLufs);
        highest = std::max(highest, after.integratedLufs);
        rangeOut += after.rangeLu;
        peak = std::max(peak, after.truePeakDbtp);
        full += after.fullScale;
    }
    printf("%.2f LU | %.0f%% | %.1f dBTP | %lld\n", highest - lowest, 100 * rangeOut / input_range_sum(in), peak,
           full);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string command = argc > 1 ? argv[1] : "";
    if (command == "signals" && argc == 3) return make_signals(argv[2]);
    if (command == "steady" && argc == 4) return steady(argv[2], argv[3]);
    if (command == "music" && argc == 4) return music(argv[2], argv[3]);
    if (command == "presets" && argc == 2) {
        for (const OutputStagePreset& p : output_stage_presets) printf("%s\n", p.name);
        return 0;
    }
    fprintf(stderr, "usage: bench_quality signals DIR | steady IN OUT | music IN OUT | presets\n");
    return 2;
}
