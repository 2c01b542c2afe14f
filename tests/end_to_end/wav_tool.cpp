// Small WAV utility for the end-to-end tests.
//   wav_tool frames FILE             prints the frame count
//   wav_tool compare A B             exit 0 when both hold the same 16-bit samples
//   wav_tool make FILE RATE CHANNELS FRAMES   writes a deterministic test signal
//   wav_tool levels FILE RATE CHANNELS FRAMES writes quiet, loud, silent, full-scale,
//                                             noisy and rising parts (integer maths only)
//   wav_tool raw FILE                         writes the 16-bit samples (little-endian) to stdout
#include <sndfile.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

bool read_all(const char* path, SF_INFO& info, std::vector<short>& samples) {
    info = SF_INFO{};
    SNDFILE* file = sf_open(path, SFM_READ, &info);
    if (file == nullptr) {
        fprintf(stderr, "wav_tool: cannot read %s: %s\n", path, sf_strerror(nullptr));
        return false;
    }
    samples.resize(static_cast<size_t>(info.frames) * static_cast<size_t>(info.channels));
    sf_count_t got = sf_readf_short(file, samples.data(), info.frames);
    sf_close(file);
    return got == info.frames;
}

// A signal in eight equal parts, each testing another corner of the engines:
// quiet tones, loud tones, silence, a full-scale square wave (both extremes
// -32768 and 32767), loud noise, a rise from silence to full scale, quiet
// noise with tones, and a bass-heavy loud mixture that overshoots and is
// clipped here. Integer arithmetic only, so every machine writes the same file.
void make_levels(std::vector<short>& samples, int rate, int channels, long frames) {
    uint32_t noise = 22222;
    uint32_t phase[3][2] = {};
    const uint32_t hz[3] = {110, 1000, 5000};
    auto triangle = [](uint32_t p) {  // -32768..32767 from the top 16 bits
        const int32_t t = static_cast<int32_t>(p >> 16);
        return t < 32768 ? 2 * t - 32768 : 32767 - 2 * (t - 32768);
    };
    for (long f = 0; f < frames; ++f) {
        const long part = f * 8 / (frames > 0 ? frames : 1);
        const long within = f - part * frames / 8;
        const long partLength = frames / 8 + 1;
        for (int c = 0; c < channels; ++c) {
            int32_t tone[3];
            for (int k = 0; k < 3; ++k) {
                const uint64_t step = (uint64_t{hz[k]} * static_cast<uint64_t>(c + 2) << 32) /
                                      (2u * static_cast<uint64_t>(rate));
                phase[k][c] += static_cast<uint32_t>(step);
                tone[k] = triangle(phase[k][c]);
            }
            noise = noise * 1664525u + 1013904223u;
            const int32_t white = static_cast<int32_t>(noise >> 16) - 32768;
            int64_t v = 0;
            switch (part) {
            case 0: v = (tone[0] + tone[1]) / 40; break;
            case 1: v = (tone[0] * 3 + tone[1] * 2 + tone[2]) * 4 / 25; break;
            case 2: v = 0; break;
            case 3: v = tone[1] >= 0 ? 32767 : -32768; break;
            case 4: v = white * 9 / 10; break;
            case 5: v = static_cast<int64_t>(tone[0] + tone[2]) / 2 * within / partLength; break;
            case 6: v = white / 100 + tone[2] / 50; break;
            default: v = static_cast<int64_t>(tone[0]) * 3 / 2 + tone[2] / 4; break;
            }
            if (v > 32767) v = 32767;
            if (v < -32768) v = -32768;
            samples[static_cast<size_t>(f * channels + c)] = static_cast<short>(v);
        }
    }
}

bool write_all(const char* path, int rate, int channels, const std::vector<short>& samples) {
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = channels;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* file = sf_open(path, SFM_WRITE, &info);
    if (file == nullptr) {
        fprintf(stderr, "wav_tool: cannot write %s\n", path);
        return false;
    }
    const sf_count_t frames = static_cast<sf_count_t>(samples.size()) / channels;
    bool ok = sf_writef_short(file, samples.data(), frames) == frames;
    sf_close(file);
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && strcmp(argv[1], "frames") == 0) {
        SF_INFO info;
        std::vector<short> samples;
        if (!read_all(argv[2], info, samples)) return 1;
        printf("%lld\n", static_cast<long long>(info.frames));
        return 0;
    }
    if (argc == 4 && strcmp(argv[1], "compare") == 0) {
        SF_INFO a, b;
        std::vector<short> sa, sb;
        if (!read_all(argv[2], a, sa) || !read_all(argv[3], b, sb)) return 1;
        if (a.frames != b.frames || a.channels != b.channels || a.samplerate != b.samplerate) {
            fprintf(stderr, "wav_tool: formats differ (%lld/%d/%d vs %lld/%d/%d)\n",
                    static_cast<long long>(a.frames), a.channels, a.samplerate,
                    static_cast<long long>(b.frames), b.channels, b.samplerate);
            return 1;
        }
        size_t differ = 0, first = 0;
        for (size_t i = 0; i < sa.size(); ++i)
            if (sa[i] != sb[i] && differ++ == 0) first = i;
        if (differ != 0) {
            fprintf(stderr, "wav_tool: %zu of %zu samples differ, the first at %zu (%d vs %d)\n", differ,
                    sa.size(), first, sa[first], sb[first]);
            return 1;
        }
        return 0;
    }
    if (argc == 6 && strcmp(argv[1], "make") == 0) {
        SF_INFO info{};
        info.samplerate = atoi(argv[3]);
        info.channels = atoi(argv[4]);
        info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
        const long frames = atol(argv[5]);
        std::vector<short> samples(static_cast<size_t>(frames) * static_cast<size_t>(info.channels));
        for (long f = 0; f < frames; ++f)
            for (int c = 0; c < info.channels; ++c)
                samples[static_cast<size_t>(f * info.channels + c)] = static_cast<short>(
                    std::lround(20000 * std::sin(0.031 * static_cast<double>(f) * (c + 1)) *
                                (0.2 + 0.8 * ((f / 4410) % 2))));
        SNDFILE* file = sf_open(argv[2], SFM_WRITE, &info);
        if (file == nullptr) {
            fprintf(stderr, "wav_tool: cannot write %s\n", argv[2]);
            return 1;
        }
        bool ok = sf_writef_short(file, samples.data(), frames) == frames;
        sf_close(file);
        return ok ? 0 : 1;
    }
    if (argc == 6 && strcmp(argv[1], "levels") == 0) {
        const int rate = atoi(argv[3]);
        const int channels = atoi(argv[4]);
        const long frames = atol(argv[5]);
        if (rate <= 0 || channels < 1 || channels > 2 || frames < 8) {
            fprintf(stderr, "wav_tool: levels needs a rate, 1 or 2 channels and 8 or more frames\n");
            return 2;
        }
        std::vector<short> samples(static_cast<size_t>(frames) * static_cast<size_t>(channels));
        make_levels(samples, rate, channels, frames);
        return write_all(argv[2], rate, channels, samples) ? 0 : 1;
    }
    if (argc == 3 && strcmp(argv[1], "raw") == 0) {
        SF_INFO info;
        std::vector<short> samples;
        if (!read_all(argv[2], info, samples)) return 1;
        std::vector<unsigned char> bytes(samples.size() * 2);
        for (size_t i = 0; i < samples.size(); ++i) {
            const auto u = static_cast<unsigned short>(samples[i]);
            bytes[2 * i] = static_cast<unsigned char>(u & 0xff);
            bytes[2 * i + 1] = static_cast<unsigned char>(u >> 8);
        }
        return fwrite(bytes.data(), 1, bytes.size(), stdout) == bytes.size() ? 0 : 1;
    }
    fprintf(stderr, "usage: wav_tool frames FILE | compare A B | make FILE RATE CHANNELS FRAMES |\n"
                    "       levels FILE RATE CHANNELS FRAMES | raw FILE\n");
    return 2;
}
