// Sound files for dsphost: PCM and lossless files through libsndfile, every
// other file FFmpeg's libraries read through them (media_file.h), as float
// samples in the 16-bit scale (a 16-bit sample s is the float s; full scale
// 32768) at the file's resolution or reduced to 16-bit values (wider and float
// samples with TPDF dither or rounded); written as 16-bit, 24-bit or float WAV,
// 16-bit or 24-bit FLAC, or encoded (MP3, Opus, AAC, Vorbis, ALAC) from the
// float samples, with the input's tags and pictures.
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
    int audioStreams = 1;     // in the file; one of them is read
};

// Opens a file for reading (its stream-th audio stream, -1 or 0 the first);
// null with a message on failure.
SoundInput* sound_open_input(const std::string& path, SoundFormat& format, std::string& error, int stream = -1);
// Fills up to frames frames, reading until the request is met or the file
// ends; returns the count, or -1 on a read error. With `reduce`, every sample
// is a 16-bit value (wider ones dithered or rounded as `dither` says);
// otherwise each keeps the file's resolution (as a float holds it).
long long sound_read(SoundInput* input, float* samples, long long frames, bool reduce, bool dither);
// Why the last read failed, when more is known than that it did; else empty.
std::string sound_input_problem(const SoundInput* input);
void sound_close_input(SoundInput* input);
// True for a pipe or other stream that can be read only once.
bool is_stream(const std::string& path);

// same: each output in its input's container and codec (resolved per file).
// mp4, mkv and webm: the input's video and other streams copied, the audio
// encoded (AAC; Opus in WebM).
enum class OutputKind { wav, flac, mp3, opus, m4a, ogg, mp4, mkv, webm, alac, same };
enum class OutputBits { pcm16, pcm24, float32 };

// FLAC takes pcm16 and pcm24. With `dither`, samples written as 16 bits get
// TPDF dither (one step each way, a fixed seed) before rounding; otherwise
// they are rounded (16-bit values stay as they are). 24-bit samples are
// rounded; float ones are written as they are (divided by 32768). Integer
// formats clamp.
// The input an output comes from: its tags and pictures are carried over
// (none from a pipe or an empty path); defaultQuality is the codec's own.
constexpr int defaultQuality = -1000;
struct OutputSource {
    std::string path;
    int stream = -1;
    int quality = defaultQuality;
};
SoundOutput* sound_open_output(const std::string& path, OutputKind kind, OutputBits bits, bool dither,
                               int rate, int channels, std::string& error, const OutputSource& from = {});
bool sound_write(SoundOutput* output, const float* samples, long long frames);
// Finishes the file (with the source's tags when complete); false when it
// could not be completed.
bool sound_close_output(SoundOutput* output, bool complete = true);
