// Audio through FFmpeg's libraries for dsphost: decoding any file they read
// (one audio stream of it, sample-accurate: encoder delay and padding taken
// off as FFmpeg's own decoders do), encoding the lossy outputs, and carrying
// an input's tags and pictures over into an output. sound_file.cpp calls
// these behind its own interface; samples are in the 16-bit scale there too.
#pragma once

#include <string>

#include "host/sound_file.h"

struct MediaInput;
struct MediaOutput;

// Opens the stream-th audio stream (0 the first) of a file; null with a
// message on failure. Fills rate, channels, an estimate of frames, the bits
// and the description.
MediaInput* media_open_input(const std::string& path, int stream, SoundFormat& format, std::string& error);
// Up to frames frames at full resolution; the count (0 at the end) or -1 on
// a read error. A packet that does not decode becomes silence of its length.
long long media_read(MediaInput* input, float* samples, long long frames);
// Why the last read failed.
std::string media_input_problem(const MediaInput* input);
void media_close_input(MediaInput* input);

// The output kind that keeps a file's container and codec (lossless ones
// stay lossless); wav when the file cannot be probed.
OutputKind media_same_kind(const std::string& path, int stream);
// The file name extension of an output kind, with its dot.
const char* media_extension(OutputKind kind);
// True for the kinds written through an FFmpeg encoder.
bool media_encoded(OutputKind kind);
// True for those of them that lose what the encoder leaves out (all but ALAC).
bool media_lossy(OutputKind kind);
// False with a message when quality is outside what the kind's codec takes.
bool media_quality_valid(OutputKind kind, int quality, std::string& error);
// How far, in tenths of a dB, the true-peak ceiling is lowered for a kind so
// that its decoded peaks stay under the ceiling asked for (0 for lossless).
int media_headroom(OutputKind kind);

// An encoded output (mp3, opus, m4a, ogg, alac; mp4, mkv, webm with the
// source's other streams copied in) with the tags and pictures of source
// (empty: none). defaultQuality takes the codec's own; bits is what a
// lossless codec keeps (16, or 24 for pcm24 and float32). Lossy codecs take
// the samples as they are; a lossless one takes them already rounded to its
// bits (see sound_write).
MediaOutput* media_open_output(const std::string& path, OutputKind kind, int quality, OutputBits bits, int rate,
                               int channels, const std::string& source, int stream, std::string& error);
bool media_write(MediaOutput* output, const float* samples, long long frames);
// Drains the encoder and finishes the file; false when that failed.
bool media_close_output(MediaOutput* output);

// Rewrites a finished WAV or FLAC file with the tags (and, in FLAC, the
// pictures) of source, the audio copied as it is. Does nothing when source
// has none to carry. False with a message when the file could not be
// rewritten (it is then left as it was).
bool media_carry_tags(const std::string& path, const std::string& source, int stream, std::string& error);
