#include "host/sound_file.h"

#include <sndfile.h>
#include <sys/stat.h>

#include <cctype>
#include <cmath>
#include <cstdio>
#include <vector>

#include "host/media_file.h"

struct SoundInput {
    SNDFILE* file;
    MediaInput* media;  // instead of file: read through FFmpeg
    int channels;
    bool converted;
    uint32_t noise;  // dither generator state: the same noise on every run
    std::vector<double> wide;
    std::vector<int16_t> narrow;
};

struct SoundOutput {
    SNDFILE* file;
    MediaOutput* media;  // instead of file: an encoded output
    std::string path, source;  // the tags of source go into path when it is finished
    int stream;
    int channels;
    OutputBits bits;
    bool dither;
    uint32_t noise;  // as SoundInput's
    OutputKind kind;
    std::vector<int16_t> narrow;
    std::vector<int32_t> wide;
    std::vector<float> scaled;
};

namespace {

// Subtypes whose samples do not fit 16 bits exactly; 0 bits means float.
bool wide_subtype(int subtype, int& bits) {
    switch (subtype) {
        case SF_FORMAT_PCM_24: case SF_FORMAT_DWVW_24: case SF_FORMAT_ALAC_24: bits = 24; return true;
        case SF_FORMAT_ALAC_20: bits = 20; return true;
        case SF_FORMAT_PCM_32: case SF_FORMAT_ALAC_32: bits = 32; return true;
        case SF_FORMAT_FLOAT: case SF_FORMAT_DOUBLE: case SF_FORMAT_VORBIS: case SF_FORMAT_OPUS:
        case SF_FORMAT_MPEG_LAYER_I: case SF_FORMAT_MPEG_LAYER_II: case SF_FORMAT_MPEG_LAYER_III:
            bits = 0; return true;
        case SF_FORMAT_PCM_S8: case SF_FORMAT_PCM_U8: case SF_FORMAT_DPCM_8: bits = 8; return false;
        default: bits = 16; return false;
    }
}

// Uniform in [0, 1) from a 32-bit xorshift generator.
double uniform(uint32_t& state) {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return (state >> 8) * (1.0 / 16777216.0);
}

}  // namespace

bool is_stream(const std::string& path) {
    struct stat status;
    return stat(path.c_str(), &status) == 0 && !S_ISREG(status.st_mode) && !S_ISDIR(status.st_mode);
}

namespace {

// libsndfile keeps the PCM and lossless formats it has always read (pipes
// too); compressed ones, and anything it does not read, go through FFmpeg.
bool through_libsndfile(int subtype) {
    switch (subtype) {
        case SF_FORMAT_VORBIS: case SF_FORMAT_OPUS: case SF_FORMAT_MPEG_LAYER_I: case SF_FORMAT_MPEG_LAYER_II:
        case SF_FORMAT_MPEG_LAYER_III: case SF_FORMAT_ALAC_16: case SF_FORMAT_ALAC_20: case SF_FORMAT_ALAC_24:
        case SF_FORMAT_ALAC_32:
            return false;
        default: return true;
    }
}

// MPEG audio (an ID3 tag or a frame sync first), which libsndfile would hand
// to mpg123 (with warnings of its own on stderr) only to be passed over.
bool mpeg_audio(const std::string& path) {
    unsigned char head[3] = {};
    FILE* f = fopen(path.c_str(), "rb");
    if (f == nullptr) return false;
    const size_t got = fread(head, 1, sizeof head, f);
    fclose(f);
    const bool id3 = head[0] == 'I' && head[1] == 'D' && head[2] == '3';
    return got == 3 && (id3 || (head[0] == 0xFF && (head[1] & 0xE0) == 0xE0));
}

SoundInput* open_media(const std::string& path, int stream, SoundFormat& format, std::string& error) {
    MediaInput* media = media_open_input(path, stream, format, error);
    if (media == nullptr) return nullptr;
    return new SoundInput{nullptr, media, format.channels, format.converted, 0x9E3779B9u, {}, {}};
}

}  // namespace

SoundInput* sound_open_input(const std::string& path, SoundFormat& format, std::string& error, int stream) {
    struct stat status;
    if (stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode)) {
        error = "it is a folder";
        return nullptr;
    }
    if (!is_stream(path) && (stream > 0 || mpeg_audio(path))) return open_media(path, stream, format, error);
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (file == nullptr && is_stream(path)) {
        error = sf_strerror(nullptr);
        return nullptr;
    }
    if (file == nullptr || !through_libsndfile(info.format & SF_FORMAT_SUBMASK)) {
        if (file != nullptr) sf_close(file);
        return open_media(path, stream, format, error);
    }
    format.rate = info.samplerate;
    format.channels = info.channels;
    format.frames = info.seekable ? static_cast<long long>(info.frames) : -1;
    int bits = 16;
    format.converted = wide_subtype(info.format & SF_FORMAT_SUBMASK, bits);
    format.sourceBits = bits;
    SF_FORMAT_INFO major{};
    major.format = info.format & SF_FORMAT_TYPEMASK;
    std::string name = sf_command(nullptr, SFC_GET_FORMAT_INFO, &major, sizeof major) == 0 && major.extension
                           ? major.extension : "audio";
    for (char& c : name) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    format.description = name + (bits == 0 ? " float" : " " + std::to_string(bits) + "-bit");
    return new SoundInput{file, nullptr, info.channels, format.converted, 0x9E3779B9u, {}, {}};
}

namespace {

// A 16-bit value from a sample in the 16-bit scale: TPDF dither of one step
// each way when asked, round half up, clamp; not-a-number gives 0.
int16_t to_sixteen_bits(double v, bool dither, uint32_t& noise) {
    if (dither) v += uniform(noise) - uniform(noise);
    v = std::floor(v + 0.5);
    if (!(v >= -32768.0)) v = v != v ? 0.0 : -32768.0;
    if (v > 32767.0) v = 32767.0;
    return static_cast<int16_t>(v);
}

// One read of up to `want` frames into out.
sf_count_t read_some(SoundInput* input, float* out, long long want, bool reduce, bool dither) {
    const size_t n = static_cast<size_t>(want) * static_cast<size_t>(input->channels);
    sf_count_t got;
    if (input->media != nullptr) {
        got = media_read(input->media, out, want);
        if (reduce && input->converted)
            for (long long i = 0; i < got * input->channels; ++i)
                out[i] = to_sixteen_bits(out[i], dither, input->noise);
        return got;
    }
    if (!input->converted) {
        // 16 bits or fewer: the values as they are either way.
        if (input->narrow.size() < n) input->narrow.resize(n);
        got = sf_readf_short(input->file, input->narrow.data(), want);
        for (long long i = 0; i < got * input->channels; ++i) out[i] = input->narrow[static_cast<size_t>(i)];
        return got;
    }
    if (input->wide.size() < n) input->wide.resize(n);
    got = sf_readf_double(input->file, input->wide.data(), want);
    for (long long i = 0; i < got * input->channels; ++i) {
        const double v = input->wide[static_cast<size_t>(i)] * 32768.0;
        out[i] = reduce ? to_sixteen_bits(v, dither, input->noise) : static_cast<float>(v);
    }
    return got;
}

}  // namespace

long long sound_read(SoundInput* input, float* samples, long long frames, bool reduce, bool dither) {
    long long done = 0;
    while (done < frames) {
        const sf_count_t got = read_some(input, samples + done * input->channels, frames - done, reduce, dither);
        if (got < 0) return -1;
        if (got == 0) {
            if (input->file != nullptr && sf_error(input->file) != SF_ERR_NO_ERROR) return -1;
            break;
        }
        done += got;
    }
    return done;
}

std::string sound_input_problem(const SoundInput* input) {
    return input->media != nullptr ? media_input_problem(input->media) : "";
}

void sound_close_input(SoundInput* input) {
    if (input->media != nullptr) media_close_input(input->media);
    if (input->file != nullptr) sf_close(input->file);
    delete input;
}

SoundOutput* sound_open_output(const std::string& path, OutputKind kind, OutputBits bits, bool dither,
                               int rate, int channels, std::string& error, const OutputSource& from) {
    const std::string source = is_stream(from.path) ? "" : from.path;
    if (media_encoded(kind)) {
        MediaOutput* media =
            media_open_output(path, kind, from.quality, bits, rate, channels, source, from.stream, error);
        if (media == nullptr) return nullptr;
        return new SoundOutput{nullptr, media, path, source, from.stream, channels, bits, dither, 0x6A09E667u,
                               kind, {}, {}, {}};
    }
    if (kind == OutputKind::flac && bits == OutputBits::float32) {
        error = "FLAC holds integer samples only";
        return nullptr;
    }
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = channels;
    const int subtype = bits == OutputBits::pcm16   ? SF_FORMAT_PCM_16
                        : bits == OutputBits::pcm24 ? SF_FORMAT_PCM_24
                                                    : SF_FORMAT_FLOAT;
    info.format = (kind == OutputKind::flac ? SF_FORMAT_FLAC : SF_FORMAT_WAV) | subtype;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (file == nullptr) {
        error = sf_strerror(nullptr);
        return nullptr;
    }
    return new SoundOutput{file, nullptr, path, source, from.stream, channels, bits, dither, 0x6A09E667u, kind,
                           {}, {}, {}};
}

namespace {

// A sample (16-bit scale) rounded to 24 bits, clamped.
int32_t to_twenty_four_bits(float sample) {
    double v = std::floor(sample * 256.0 + 0.5);
    if (!(v >= -8388608.0)) v = v != v ? 0.0 : -8388608.0;
    if (v > 8388607.0) v = 8388607.0;
    return static_cast<int32_t>(v);
}

// An encoded output: a lossless one (ALAC) gets its samples rounded here, as
// a WAV or FLAC output's are (16 bits with the same dither), so that its
// encoder's conversion is exact.
bool media_write_rounded(SoundOutput* output, const float* samples, long long frames, size_t n) {
    if (!media_lossy(output->kind)) {
        if (output->scaled.size() < n) output->scaled.resize(n);
        for (size_t i = 0; i < n; ++i)
            output->scaled[i] = output->bits == OutputBits::pcm16
                                    ? to_sixteen_bits(samples[i], output->dither, output->noise)
                                    : static_cast<float>(to_twenty_four_bits(samples[i])) / 256.0f;  // exact
        samples = output->scaled.data();
    }
    return media_write(output->media, samples, frames);
}

}  // namespace

bool sound_write(SoundOutput* output, const float* samples, long long frames) {
    const size_t n = static_cast<size_t>(frames) * static_cast<size_t>(output->channels);
    if (output->media != nullptr) return media_write_rounded(output, samples, frames, n);
    switch (output->bits) {
    case OutputBits::pcm16:
        if (output->narrow.size() < n) output->narrow.resize(n);
        for (size_t i = 0; i < n; ++i)
            output->narrow[i] = to_sixteen_bits(samples[i], output->dither, output->noise);
        return sf_writef_short(output->file, output->narrow.data(), frames) == frames;
    case OutputBits::pcm24:
        // 256 steps of 24 bits to one of 16 (exact), rounded, in the top 24
        // bits of the 32-bit integers libsndfile takes.
        if (output->wide.size() < n) output->wide.resize(n);
        for (size_t i = 0; i < n; ++i) output->wide[i] = to_twenty_four_bits(samples[i]) * 256;
        return sf_writef_int(output->file, output->wide.data(), frames) == frames;
    case OutputBits::float32:
        if (output->scaled.size() < n) output->scaled.resize(n);
        for (size_t i = 0; i < n; ++i) output->scaled[i] = samples[i] / 32768.0f;  // exact
        return sf_writef_float(output->file, output->scaled.data(), frames) == frames;
    }
    return false;
}

bool sound_close_output(SoundOutput* output, bool complete) {
    bool ok;
    if (output->media != nullptr) {
        ok = media_close_output(output->media) && complete;
    } else {
        // A write that failed midway leaves the error on the handle.
        ok = sf_error(output->file) == SF_ERR_NO_ERROR;
        ok = sf_close(output->file) == 0 && ok;
        std::string error;
        if (ok && complete && !output->source.empty())
            ok = media_carry_tags(output->path, output->source, output->stream, error);
    }
    delete output;
    return ok;
}
