// The exact length of an MP3 file as its encoder wrote it down: the Xing (or
// Info) header's frame count less the encoder delay and padding of the LAME
// tag after it, which is what a gapless decoder gives.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// The length in frames from the start of a file's bytes (an ID3v2 tag is
// skipped), or -1 when they hold no Xing header with a frame count and a
// LAME tag.
long long mp3_exact_frames(const uint8_t* data, size_t size);
// The same for a file; -1 also when it cannot be read.
long long mp3_exact_frames(const std::string& path);
