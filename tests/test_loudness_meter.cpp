// dsphost's loudness meter: its short-term curve (read every 0.2 s from
// 100 ms windows where the rate has them) against libebur128's own 3 s
// reading at the same marks, and its figures against libebur128's.
#include <gtest/gtest.h>
#include <ebur128.h>

#include <cmath>
#include <vector>

#include "host/loudness.h"
#include "tests/test_signals.h"

namespace {

struct Format {
    int rate, channels;
};

class LoudnessMeterCurve : public testing::TestWithParam<Format> {};

TEST_P(LoudnessMeterCurve, ShortTermMatchesLibebur128AtEveryMark) {
    const auto [rate, channels] = GetParam();
    const std::vector<float> x = signals::music(rate, channels, 12.0, 5, 12.0);  // 16-bit scale
    const long long frames = static_cast<long long>(x.size()) / channels;
    LoudnessMeter meter;
    ASSERT_TRUE(meter_start(meter, rate, channels, 0.0));
    for (long long at = 0, n = 1; at < frames; at += n, n = n * 7 % 3001 + 1)
        meter_add(meter, x.data() + at * channels, std::min(n, frames - at));

    ebur128_state* st = ebur128_init(channels, rate, EBUR128_MODE_S);
    const long long step = std::lround(rate * 0.2);
    std::vector<double> expected;
    std::vector<float> scaled(static_cast<size_t>(step * channels));
    for (long long at = 0; at + step <= frames; at += step) {
        for (size_t i = 0; i < scaled.size(); ++i) scaled[i] = x[static_cast<size_t>(at * channels) + i] / 32768.0f;
        ebur128_add_frames_float(st, scaled.data(), static_cast<size_t>(step));
        double lufs = 0;
        const double played = static_cast<double>(at + step) / rate;
        if (played + 1e-9 < 0.4 || ebur128_loudness_shortterm(st, &lufs) != EBUR128_SUCCESS) continue;
        if (played < 3.0) lufs += 10.0 * std::log10(3.0 / played);
        if (std::isfinite(lufs)) expected.push_back(lufs);
    }
    ebur128_destroy(&st);
    ASSERT_EQ(meter.shortTerm.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) EXPECT_NEAR(meter.shortTerm[i].value, expected[i], 1e-6) << i;

    const LoudnessFigures f = meter_finish(meter);
    EXPECT_NEAR(f.integratedLufs, signals::integratedLufs(x, rate, channels), 1e-6);
}

// 44100 and 48000 Hz read 100 ms windows; 11025 Hz has no whole 100 ms and
// reads libebur128's 3 s sums.
INSTANTIATE_TEST_SUITE_P(Host, LoudnessMeterCurve,
                         testing::Values(Format{44100, 2}, Format{48000, 1}, Format{11025, 2}));

}  // namespace
