// Sound files for dsphost through libsndfile: any format it reads, handed to
// the plug-in as 16-bit samples (wider and float samples with TPDF dither or
// rounded), written as 16-bit WAV or FLAC.
#pragma once

#include <cstdint>
#include <string>

struct SoundInput;
struct SoundOutput;

struct SoundFormat {
    int rate = 0;
    int channels = 0;
    long long frames = -1;  // -1 when unknown (a pipe)
    int sourceBits = 16;    // bits of the stored samples; 0 for float formats
    bool converted = false; // the samples are wider than 16 bits or float
    std::string description;  // "FLAC 24-bit", "WAV float", ...
};

// Opens a file for reading; null with a message on failure.
SoundInput* sound_open_input(const std::string& path, SoundFormat& format, std::string& error);
// Fills up to frames frames of 16-bit samples, reading until the request is
// met or the file ends; returns the count, or -1 on a read error.
long long sound_read(SoundInput* input, int16_t* samples, long long frames, bool dither);
void sound_close_input(SoundInput* input);
// True for a pipe or other stream that can be read only once.
bool is_stream(const std::string& path);

enum class OutputKind { wav, flac };

SoundOutput* sound_open_output(const std::string& path, OutputKind kind, int rate, int channels,
                               std::string& error);
bool sound_write(SoundOutput* output, const int16_t* samples, long long frames);
// Finishes the file; false when it could not be completed.
bool sound_close_output(SoundOutput* output);
