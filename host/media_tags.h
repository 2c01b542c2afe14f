// An input's tags and pictures, read once and written into an output's
// container through FFmpeg's muxers (media_output.cpp and the rewrite of
// finished WAV and FLAC files).
#pragma once

#include <string>
#include <vector>

extern "C" {
#include <libavformat/avformat.h>
}

struct SourcePicture {
    AVCodecParameters* codec = nullptr;
    AVPacket* packet = nullptr;
    AVDictionary* tags = nullptr;
};

struct SourceChapter {
    int64_t id = 0, start = 0, end = 0;
    AVRational timeBase{1, 1};
    AVDictionary* tags = nullptr;
};

struct SourceTags {
    AVDictionary* tags = nullptr;  // the container's and the audio stream's, less the gain tags
    std::vector<SourcePicture> pictures;
    std::vector<SourceChapter> chapters;
};

// Reads them from the stream-th audio stream's file; false when it cannot be
// opened (no tags then).
bool read_source_tags(const std::string& path, int stream, SourceTags& into);
void free_source_tags(SourceTags& tags);
bool has_source_tags(const SourceTags& tags);
// Before the header: the tags and chapters on the container, the tags on the
// audio stream, and one stream per picture where the muxer takes pictures. Returns the index of the
// first picture stream, or -1 when none was added.
int add_source_tags(AVFormatContext* out, AVStream* audio, const SourceTags& tags);
// After the header: the pictures' packets.
bool write_source_pictures(AVFormatContext* out, int first, const SourceTags& tags);
