// The OBS filter's cost beside the LV2 plug-in's: the same engine settings,
// 48 kHz stereo in OBS's 1024-frame audio period, CPU time of this one thread
// per block (best of five passes, the two alternating). The filter's audio half is timed as OBS
// calls it (settings picked up, planar audio in place); the LV2 plug-in is
// loaded from its bundle as a host does. Music, then silence after music (the
// engine's tails decaying towards denormal numbers), then digital silence.
//   redozer_obs_bench LV2_LIBRARY [SECONDS]
#include <dlfcn.h>
#include <lv2/core/lv2.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string_view>
#include <vector>

#include "obs/obs_filter.h"
#include "ports/builtin_presets.h"
#include "ports/port_table.h"

namespace {

constexpr int rate = 48000;
constexpr int block = 1024;

double threadSeconds() {
    timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + t.tv_nsec * 1e-9;
}

enum class Kind { Music, SilenceAfterMusic, Silence };

// Planar stereo: two voices and noise in quiet and loud passages; after
// music, the last four fifths are silent.
void makeMaterial(std::vector<float>* planes, int frames, Kind kind) {
    uint32_t noise = 12345;
    for (int c = 0; c < 2; ++c) planes[c].assign(static_cast<size_t>(frames), 0.0f);
    const int end = kind == Kind::Music ? frames : kind == Kind::Silence ? 0 : frames / 5;
    for (int i = 0; i < end; ++i) {
        const double t = static_cast<double>(i) / rate;
        const double level = (i / (3 * rate)) % 2 == 0 ? 0.08 : 0.6;
        for (int c = 0; c < 2; ++c) {
            noise = noise * 1664525u + 1013904223u;
            planes[c][static_cast<size_t>(i)] = static_cast<float>(
                level * (0.5 * std::sin(2 * M_PI * (110.0 + 55.0 * c) * t) +
                         0.3 * std::sin(2 * M_PI * 1318.5 * t) * std::sin(2 * M_PI * 0.5 * t) +
                         0.2 * ((noise >> 8) / 8388608.0 - 1.0)));
        }
    }
}

struct Setting {
    const char* label;
    int32_t codes[ports::controlCount];
};

// Microseconds per block through the OBS filter's audio half (one pass).
double timeFilter(const Setting& s, const std::vector<float>* in, int frames) {
    double best = 1e30;
    std::vector<float> work[2];
    {
        obsfilter::Filter* f = obsfilter::createFilter(2, rate);
        for (int k = 0; k < ports::controlCount; ++k)
            obsfilter::publishValue(*f, k, ports::valueOfCode(ports::controls[k], s.codes[k]));
        for (int c = 0; c < 2; ++c) work[c] = in[c];
        const double start = threadSeconds();
        for (int i = 0; i + block <= frames; i += block) {
            float* planes[2] = {work[0].data() + i, work[1].data() + i};
            obsfilter::processPlanar(*f, planes, 2, rate, block);
        }
        best = std::min(best, threadSeconds() - start);
        obsfilter::destroyFilter(f);
    }
    return best * 1e6 / (frames / block);
}

// Microseconds per block through the LV2 plug-in's stereo descriptor (one pass).
double timeLv2(const LV2_Descriptor* d, const Setting& s, const std::vector<float>* in,
               int frames) {
    double best = 1e30;
    std::vector<float> out[2] = {std::vector<float>(block), std::vector<float>(block)};
    float controls[ports::controlCount];
    float readouts[ports::readoutCount];
    for (int k = 0; k < ports::controlCount; ++k)
        controls[k] = static_cast<float>(ports::valueOfCode(ports::controls[k], s.codes[k]));
    {
        LV2_Handle h = d->instantiate(d, rate, "", nullptr);
        for (int k = 0; k < ports::controlCount; ++k)
            d->connect_port(h, static_cast<uint32_t>(ports::controlPortIndex(2, k)), &controls[k]);
        for (int r = 0; r < ports::readoutCount; ++r)
            d->connect_port(h, static_cast<uint32_t>(ports::readoutPortIndex(2, r)), &readouts[r]);
        d->connect_port(h, 2, out[0].data());
        d->connect_port(h, 3, out[1].data());
        d->activate(h);
        const double start = threadSeconds();
        for (int i = 0; i + block <= frames; i += block) {
            d->connect_port(h, 0, const_cast<float*>(in[0].data() + i));
            d->connect_port(h, 1, const_cast<float*>(in[1].data() + i));
            d->run(h, block);
        }
        best = std::min(best, threadSeconds() - start);
        d->cleanup(h);
    }
    return best * 1e6 / (frames / block);
}

std::vector<Setting> settings() {
    std::vector<Setting> list(3);
    list[0].label = "Classic enhancer (defaults)";
    ports::defaultCodes(list[0].codes);
    list[1].label = "Multiband engine";
    ports::defaultCodes(list[1].codes);
    list[1].codes[ports::cEnhance] = 2;
    list[2].label = "Streaming -14";
    for (int i = 0; i < ports::builtinPresetCount; ++i) {
        ports::BuiltinPreset b;
        if (ports::builtinPreset(i, b) && std::string_view(b.name) == "Streaming -14")
            for (int k = 0; k < ports::controlCount; ++k) list[2].codes[k] = b.codes[k];
    }
    return list;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: redozer_obs_bench LV2_LIBRARY [SECONDS]\n");
        return 2;
    }
    void* lib = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    auto descriptor = lib != nullptr ? reinterpret_cast<const LV2_Descriptor* (*)(uint32_t)>(
                                           dlsym(lib, "lv2_descriptor"))
                                     : nullptr;
    if (descriptor == nullptr) {
        fprintf(stderr, "redozer_obs_bench: cannot load %s\n", argv[1]);
        return 1;
    }
    const LV2_Descriptor* d = descriptor(0);
    const int frames = (argc > 2 ? atoi(argv[2]) : 20) * rate;
    printf("OBS filter beside the LV2 plug-in: 48 kHz stereo, 1024-frame blocks, "
           "microseconds of CPU per block (a block lasts %.0f)\n", 1e6 * block / rate);
    printf("%-28s %-19s %9s %9s %9s\n", "settings", "audio", "OBS", "LV2", "OBS/LV2");
    const Kind kinds[] = {Kind::Music, Kind::SilenceAfterMusic, Kind::Silence};
    const char* const kindNames[] = {"music", "silence after music", "digital silence"};
    for (const Setting& s : settings()) {
        for (int k = 0; k < 3; ++k) {
            std::vector<float> in[2];
            makeMaterial(in, frames, kinds[k]);
            // Alternate passes, so that both see the same load; best of five.
            double obs = 1e30, lv2 = 1e30;
            for (int pass = 0; pass < 5; ++pass) {
                obs = std::min(obs, timeFilter(s, in, frames));
                lv2 = std::min(lv2, timeLv2(d, s, in, frames));
            }
            printf("%-28s %-19s %9.2f %9.2f %9.3f\n", s.label, kindNames[k], obs, lv2, obs / lv2);
        }
    }
    return 0;
}
