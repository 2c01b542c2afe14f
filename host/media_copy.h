// The streams of a video file other than the audio dsphost processes (video,
// subtitles, other audio, data), copied packet for packet into the output
// with their timing, interleaved with the encoded audio as it is written.
#pragma once

#include <string>
#include <vector>

extern "C" {
#include <libavformat/avformat.h>
}

struct StreamCopy {
    AVFormatContext* in = nullptr;
    std::vector<int> map;  // input stream -> output stream, -1 for none
    AVPacket* packet = nullptr;
    bool pending = false;  // packet holds one read but not yet due
    double audioStart = 0;  // seconds: where the processed audio stream starts
};

// Opens source and adds one output stream per stream to copy (pictures
// excepted: they come with the tags), in the source's order, with the
// stream for the processed audio (put into audio) at its place; false with a
// message on failure.
bool open_stream_copy(StreamCopy& copy, const std::string& source, int stream, AVFormatContext* out,
                      AVStream*& audio, std::string& error);
// Writes the copied packets that start before `seconds`.
bool pump_stream_copy(StreamCopy& copy, AVFormatContext* out, double seconds);
void close_stream_copy(StreamCopy& copy);
