// An MP3's own record of its length, read from made-up first frames: each
// layout of the frame header moves the Xing header, and the LAME tag's delay
// and padding come off the frame count.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/mp3_length.h"

namespace {

struct Layout {
    const char* what;
    uint8_t version;   // header bits 4-3: 3 MPEG-1, 2 MPEG-2, 0 MPEG-2.5
    bool mono, crc;
    size_t id3;        // bytes of ID3v2 tag body before the frame (0: none)
    bool footer;       // the tag has a footer
    uint32_t flags;    // the Xing header's
    long long expected;
};

// A first frame with a Xing header of 1000 frames and a LAME tag with a
// delay of 576 and a padding of 1008, after an ID3v2 tag of `id3` bytes.
std::vector<uint8_t> first_frame(const Layout& l) {
    std::vector<uint8_t> d;
    if (l.id3 > 0) {
        const size_t n = l.id3;
        d = {'I', 'D', '3', 4, 0, static_cast<uint8_t>(l.footer ? 0x10 : 0),
             static_cast<uint8_t>(n >> 21 & 0x7f), static_cast<uint8_t>(n >> 14 & 0x7f),
             static_cast<uint8_t>(n >> 7 & 0x7f), static_cast<uint8_t>(n & 0x7f)};
        d.resize(d.size() + n + (l.footer ? 10 : 0), 0);
    }
    d.push_back(0xff);
    d.push_back(static_cast<uint8_t>(0xe0 | l.version << 3 | 0x02 | (l.crc ? 0 : 1)));
    d.push_back(0x90);
    d.push_back(l.mono ? 0xc4 : 0x44);
    const size_t side = l.version == 3 ? (l.mono ? 17 : 32) : (l.mono ? 9 : 17);
    d.resize(d.size() + (l.crc ? 2 : 0) + side, 0);
    const uint8_t xing[] = {'X', 'i', 'n', 'g', 0, 0, 0, static_cast<uint8_t>(l.flags), 0, 0, 0x03, 0xe8};
    d.insert(d.end(), xing, xing + sizeof xing);
    d.resize(d.size() + ((l.flags & 2) ? 4 : 0) + ((l.flags & 4) ? 100 : 0) + ((l.flags & 8) ? 4 : 0), 0);
    const char* name = "LAME3.100";
    d.insert(d.end(), name, name + 9);
    d.resize(d.size() + 12, 0);
    const uint8_t delayPadding[] = {0x24, 0x03, 0xf0};  // 576 and 1008
    d.insert(d.end(), delayPadding, delayPadding + 3);
    d.resize(d.size() + 200, 0);
    return d;
}

}  // namespace

TEST(Mp3Length, FrameCountLessDelayAndPadding) {
    const Layout layouts[] = {
        {"MPEG-1 stereo", 3, false, false, 0, false, 0x0f, 1000 * 1152 - 1584},
        {"MPEG-1 mono with CRC", 3, true, true, 0, false, 0x09, 1000 * 1152 - 1584},
        {"MPEG-2 stereo", 2, false, false, 0, false, 0x01, 1000 * 576 - 1584},
        {"MPEG-2.5 mono", 0, true, false, 0, false, 0x03, 1000 * 576 - 1584},
        {"after an ID3v2 tag", 3, false, false, 300, false, 0x0f, 1000 * 1152 - 1584},
        {"after an ID3v2 tag with a footer", 3, false, false, 5000, true, 0x0f, 1000 * 1152 - 1584},
        {"without a frame count", 3, false, false, 0, false, 0x0e, -1},
    };
    for (const Layout& l : layouts) {
        const std::vector<uint8_t> d = first_frame(l);
        EXPECT_EQ(mp3_exact_frames(d.data(), d.size()), l.expected) << l.what;
    }
}

TEST(Mp3Length, AnythingElseHasNone) {
    std::vector<uint8_t> d = first_frame({"", 3, false, false, 0, false, 0x0f, 0});
    std::vector<uint8_t> layer2 = d;
    layer2[1] = 0xfc;  // Layer II
    std::vector<uint8_t> noTag = d;
    noTag[36] = 'Y';   // not "Xing" (4 + 32 bytes in)
    std::vector<uint8_t> noLame = d;
    for (size_t i = 156; i < 165; ++i) noLame[i] = 0;  // the encoder's name after a full Xing header
    for (const auto& bytes : {layer2, noTag, noLame, std::vector<uint8_t>(d.begin(), d.begin() + 50),
                              std::vector<uint8_t>{'I', 'D', '3', 4, 0, 0, 0x7f, 0x7f, 0x7f, 0x7f}})
        EXPECT_EQ(mp3_exact_frames(bytes.data(), bytes.size()), -1);
    EXPECT_EQ(mp3_exact_frames(std::string("/nonexistent/x.mp3")), -1);
}
