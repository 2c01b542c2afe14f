// Minimal 16-bit PCM WAV reading and writing for the Windows host.
#include <cstdio>
#include <cstring>
#include <vector>

#include "host/audio_file.h"

struct AudioReader {
    FILE* file;
    long long framesLeft;
    int channels;
};

struct AudioWriter {
    FILE* file;
    int rate;
    int channels;
    long long bytesWritten;
    bool failed;
};

static uint32_t le32(const unsigned char* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
static uint16_t le16(const unsigned char* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

AudioReader* audio_open_read(const std::string& path, AudioFormat& format, std::string& error) {
    FILE* file = fopen(path.c_str(), "rb");
    if (file == nullptr) {
        error = "cannot open the file";
        return nullptr;
    }
    unsigned char header[12];
    if (fread(header, 1, 12, file) != 12 || memcmp(header, "RIFF", 4) != 0 ||
        memcmp(header + 8, "WAVE", 4) != 0) {
        fclose(file);
        error = "not a RIFF WAVE file";
        return nullptr;
    }
    bool haveFormat = false;
    int channels = 0, rate = 0;
    for (;;) {
        unsigned char chunk[8];
        if (fread(chunk, 1, 8, file) != 8) break;
        uint32_t size = le32(chunk + 4);
        if (memcmp(chunk, "fmt ", 4) == 0) {
            if (size < 16 || size > 1024) break;
            std::vector<unsigned char> fmt(size);
            if (fread(fmt.data(), 1, size, file) != size) break;
            uint16_t tag = le16(fmt.data());
            channels = le16(fmt.data() + 2);
            rate = static_cast<int>(le32(fmt.data() + 4));
            uint16_t bits = le16(fmt.data() + 14);
            bool pcm = tag == 1 || (tag == 0xFFFE && size >= 26 && le16(fmt.data() + 24) == 1);
            if (!pcm || bits != 16 || channels < 1) {
                fclose(file);
                error = "only 16-bit PCM WAV files are supported here";
                return nullptr;
            }
            haveFormat = true;
            if (size & 1) fseek(file, 1, SEEK_CUR);
        } else if (memcmp(chunk, "data", 4) == 0) {
            if (!haveFormat) break;
            format.rate = rate;
            format.channels = channels;
            format.frames = size / (2ll * channels);
            return new AudioReader{file, format.frames, channels};
        } else {
            if (fseek(file, static_cast<long>(size + (size & 1)), SEEK_CUR) != 0) break;
        }
    }
    fclose(file);
    error = "no 16-bit PCM format and data chunk found";
    return nullptr;
}

long long audio_read(AudioReader* reader, int16_t* samples, long long frames) {
    if (frames > reader->framesLeft) frames = reader->framesLeft;
    size_t got = fread(samples, 2u * reader->channels, static_cast<size_t>(frames), reader->file);
    if (got == 0 && ferror(reader->file)) return -1;
    reader->framesLeft -= static_cast<long long>(got);
    return static_cast<long long>(got);
}

void audio_close_read(AudioReader* reader) {
    fclose(reader->file);
    delete reader;
}

static void put32(unsigned char* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
}
static void put16(unsigned char* p, uint16_t v) {
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
}

static void fill_header(unsigned char* h, int rate, int channels, uint32_t dataBytes) {
    memcpy(h, "RIFF", 4);
    put32(h + 4, 36 + dataBytes);
    memcpy(h + 8, "WAVEfmt ", 8);
    put32(h + 16, 16);
    put16(h + 20, 1);
    put16(h + 22, static_cast<uint16_t>(channels));
    put32(h + 24, static_cast<uint32_t>(rate));
    // Unsigned, so an absurd rate read from a file cannot overflow.
    put32(h + 28, static_cast<uint32_t>(rate) * static_cast<uint32_t>(channels) * 2u);
    put16(h + 32, static_cast<uint16_t>(channels * 2));
    put16(h + 34, 16);
    memcpy(h + 36, "data", 4);
    put32(h + 40, dataBytes);
}

AudioWriter* audio_open_write(const std::string& path, const AudioFormat& format, std::string& error) {
    FILE* file = fopen(path.c_str(), "wb");
    if (file == nullptr) {
        error = "cannot create the file";
        return nullptr;
    }
    unsigned char header[44];
    fill_header(header, format.rate, format.channels, 0);
    if (fwrite(header, 1, 44, file) != 44) {
        fclose(file);
        error = "cannot write the file";
        return nullptr;
    }
    return new AudioWriter{file, format.rate, format.channels, 0, false};
}

bool audio_write(AudioWriter* writer, const int16_t* samples, long long frames) {
    size_t n = fwrite(samples, 2u * writer->channels, static_cast<size_t>(frames), writer->file);
    writer->bytesWritten += static_cast<long long>(n) * 2 * writer->channels;
    if (static_cast<long long>(n) != frames) writer->failed = true;
    return !writer->failed;
}

bool audio_close_write(AudioWriter* writer) {
    bool ok = !writer->failed && writer->bytesWritten <= 0xFFFFFFFFll - 36;
    unsigned char header[44];
    fill_header(header, writer->rate, writer->channels, static_cast<uint32_t>(writer->bytesWritten));
    ok = ok && fseek(writer->file, 0, SEEK_SET) == 0 && fwrite(header, 1, 44, writer->file) == 44;
    ok = fclose(writer->file) == 0 && ok;
    delete writer;
    return ok;
}
