// Audio files through libsndfile: any format it reads, converted to 16-bit.
#include <sndfile.h>

#include "host/audio_file.h"

struct AudioReader {
    SNDFILE* file;
};

struct AudioWriter {
    SNDFILE* file;
    int channels;
};

AudioReader* audio_open_read(const std::string& path, AudioFormat& format, std::string& error) {
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (file == nullptr) {
        error = sf_strerror(nullptr);
        return nullptr;
    }
    format.rate = info.samplerate;
    format.channels = info.channels;
    format.frames = info.frames;
    return new AudioReader{file};
}

long long audio_read(AudioReader* reader, int16_t* samples, long long frames) {
    sf_count_t got = sf_readf_short(reader->file, samples, frames);
    if (got == 0 && sf_error(reader->file) != SF_ERR_NO_ERROR) return -1;
    return got;
}

void audio_close_read(AudioReader* reader) {
    sf_close(reader->file);
    delete reader;
}

AudioWriter* audio_open_write(const std::string& path, const AudioFormat& format, std::string& error) {
    SF_INFO info{};
    info.samplerate = format.rate;
    info.channels = format.channels;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (file == nullptr) {
        error = sf_strerror(nullptr);
        return nullptr;
    }
    return new AudioWriter{file, format.channels};
}

bool audio_write(AudioWriter* writer, const int16_t* samples, long long frames) {
    return sf_writef_short(writer->file, samples, frames) == frames;
}

bool audio_close_write(AudioWriter* writer) {
    bool ok = sf_close(writer->file) == 0;
    delete writer;
    return ok;
}
