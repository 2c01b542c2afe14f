// Reading and writing 16-bit PCM audio files for the host, block by block.
#pragma once

#include <cstdint>
#include <string>

struct AudioReader;
struct AudioWriter;

struct AudioFormat {
    int rate = 0;
    int channels = 0;
    long long frames = 0;  // total frames in the file
};

// Opens a file for reading as interleaved 16-bit samples. On failure returns
// null and puts a message into error.
AudioReader* audio_open_read(const std::string& path, AudioFormat& format, std::string& error);
// Reads up to frames frames; returns the number read (0 at the end), -1 on error.
long long audio_read(AudioReader* reader, int16_t* samples, long long frames);
void audio_close_read(AudioReader* reader);

// Creates a 16-bit PCM WAV file.
AudioWriter* audio_open_write(const std::string& path, const AudioFormat& format, std::string& error);
bool audio_write(AudioWriter* writer, const int16_t* samples, long long frames);
// Finishes the file; returns false when it could not be completed.
bool audio_close_write(AudioWriter* writer);
