// An MP3 file's own record of its length: the Xing header and LAME tag in its
// first frame.
#include "host/mp3_length.h"

#include <cstdio>
#include <cstring>
#include <vector>

namespace {

uint32_t big_endian(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 | p[2] << 8 | p[3];
}

// Where the audio starts: after an ID3v2 tag (its size is four 7-bit bytes,
// plus the footer when the flags say there is one).
size_t audio_start(const uint8_t* data, size_t size) {
    if (size < 10 || memcmp(data, "ID3", 3) != 0) return 0;
    const size_t body = static_cast<size_t>(data[6] & 0x7f) << 21 | static_cast<size_t>(data[7] & 0x7f) << 14 |
                        static_cast<size_t>(data[8] & 0x7f) << 7 | (data[9] & 0x7f);
    return 10 + body + ((data[5] & 0x10) != 0 ? 10 : 0);
}

}  // namespace

long long mp3_exact_frames(const uint8_t* data, size_t size) {
    const size_t at = audio_start(data, size);
    if (at + 4 > size) return -1;
    const uint8_t* h = data + at;
    // A Layer III frame header: the sync bits, a known version.
    if (h[0] != 0xff || (h[1] & 0xe0) != 0xe0 || (h[1] & 0x06) != 0x02 || (h[1] & 0x18) == 0x08) return -1;
    const bool mpeg1 = (h[1] & 0x18) == 0x18, mono = (h[3] & 0xc0) == 0xc0, crc = (h[1] & 0x01) == 0;
    const size_t side = mpeg1 ? (mono ? 17 : 32) : (mono ? 9 : 17);
    size_t p = at + 4 + (crc ? 2 : 0) + side;
    if (p + 8 > size || (memcmp(data + p, "Xing", 4) != 0 && memcmp(data + p, "Info", 4) != 0)) return -1;
    const uint32_t flags = big_endian(data + p + 4);
    if ((flags & 1) == 0) return -1;  // no frame count
    p += 8;
    const long long frames = big_endian(data + p);
    p += 4 + ((flags & 2) != 0 ? 4 : 0) + ((flags & 4) != 0 ? 100 : 0) + ((flags & 8) != 0 ? 4 : 0);
    // The LAME tag: a 9-character encoder name, then at 21 the delay and
    // padding as two 12-bit numbers.
    if (p + 24 > size) return -1;
    for (size_t i = 0; i < 4; ++i)
        if (data[p + i] < 0x20 || data[p + i] > 0x7e) return -1;
    const uint8_t* d = data + p + 21;
    const long long delay = d[0] << 4 | d[1] >> 4, padding = (d[1] & 0x0f) << 8 | d[2];
    const long long length = frames * (mpeg1 ? 1152 : 576) - delay - padding;
    return frames > 0 && length > 0 ? length : -1;
}

long long mp3_exact_frames(const std::string& path) {
    FILE* f = fopen(path.c_str(), "rb");
    if (f == nullptr) return -1;
    std::vector<uint8_t> head(16);
    size_t got = fread(head.data(), 1, head.size(), f);
    // Enough for the ID3v2 tag (cover pictures make it large) and the first frame.
    const size_t want = audio_start(head.data(), got) + 2048;
    if (want <= (64u << 20)) {
        head.resize(want);
        got += fread(head.data() + got, 1, want - got, f);
    }
    fclose(f);
    return mp3_exact_frames(head.data(), got);
}
