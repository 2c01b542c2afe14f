// Reads a sound file's samples in 16-bit steps for the comparison tools: a
// 16-bit file's exactly; a float file's (the full-resolution path's output) as
// a host's conversion to 16 bits gives them: x 32768, limited to
// -32768..32767, rounded to nearest.
#pragma once

#include <sndfile.h>

#include <cmath>
#include <cstdio>
#include <vector>

inline bool readSteps(const char* tool, const char* path, std::vector<double>& samples,
                      SF_INFO& info) {
    info = SF_INFO{};
    SNDFILE* f = sf_open(path, SFM_READ, &info);
    if (f == nullptr) {
        fprintf(stderr, "%s: cannot open %s: %s\n", tool, path, sf_strerror(nullptr));
        return false;
    }
    samples.resize(static_cast<size_t>(info.frames) * info.channels);
    const sf_count_t got = sf_readf_double(f, samples.data(), info.frames);
    sf_close(f);
    const int sub = info.format & SF_FORMAT_SUBMASK;
    const bool wide = sub == SF_FORMAT_FLOAT || sub == SF_FORMAT_DOUBLE;
    for (double& v : samples) {
        v *= 32768.0;  // exact for 16-bit data, which is read as s / 32768
        if (wide) v = std::nearbyint(v < -32768.0 ? -32768.0 : (v > 32767.0 ? 32767.0 : v));
    }
    return got == info.frames;
}
