// The OBS filter in libobs with bad input: samples that are not numbers or
// infinite, a source that switches between mono and stereo and between rates,
// OBS's own audio reset to another format, and the filter added and removed
// while audio runs. Nothing may crash, and the audio must come through after
// each of them: finite, and not stuck at silence.
#include <atomic>
#include <cmath>
#include <thread>

#include "tests/obs/obs_host.h"

namespace {

// The r.m.s. of the last `frames` captured frames of the first channel.
double tailRms(Capture& c, size_t frames) {
    std::lock_guard<std::mutex> hold(c.lock);
    const std::vector<float>& p = c.planes[0];
    if (p.size() < frames) return 0.0;
    double sum = 0.0;
    for (size_t i = p.size() - frames; i < p.size(); ++i) sum += static_cast<double>(p[i]) * p[i];
    return std::sqrt(sum / static_cast<double>(frames));
}

// Whether every captured sample from frame `from` on is finite.
bool finiteFrom(Capture& c, size_t from) {
    std::lock_guard<std::mutex> hold(c.lock);
    for (int ch = 0; ch < 2; ++ch)
        for (size_t i = from; i < c.planes[ch].size(); ++i)
            if (!std::isfinite(c.planes[ch][i])) return false;
    return true;
}

void choose(obs_source_t* filter, const char* key, long long value) {
    obs_data_t* s = obs_source_get_settings(filter);
    obs_data_set_int(s, key, value);
    obs_source_update(filter, s);
    obs_data_release(s);
}

TEST(ObsFilterBadInput, NotANumberAndInfiniteSamplesLeaveTheAudioFlowing) {
    for (long long engine : {0, 1, 2}) {
        Feed feed(2);
        obs_source_t* filter = addFilter(feed.source, nullptr);
        choose(filter, "enhance", engine);
        std::vector<float> bad[2], good[2];
        material(bad, 8 * hostBlock, 48000);
        for (int c = 0; c < 2; ++c)
            for (size_t i = 0; i < bad[c].size(); i += 3)
                bad[c][i] = i % 2 ? NAN : (i % 5 ? INFINITY : -INFINITY);
        material(good, 48000, 48000);
        feed.pushAll(bad, 2, 48000);
        const size_t afterBad = feed.capture.planes[0].size();
        feed.pushAll(good, 2, 48000);
        // Once the bad blocks have left the filter, everything is finite.
        EXPECT_TRUE(finiteFrom(feed.capture, afterBad + 4096)) << "engine " << engine;
        EXPECT_GT(tailRms(feed.capture, 24000), 0.01) << "engine " << engine;
        obs_source_filter_remove(feed.source, filter);
        obs_source_release(filter);
    }
}

TEST(ObsFilterBadInput, SourceSwitchingChannelsAndRatesKeepsFlowing) {
    Feed feed(2);
    obs_source_t* filter = addFilter(feed.source, nullptr);
    choose(filter, "enhance", 2);
    struct Step {
        int channels;
        uint32_t rate;
    } const steps[] = {{1, 48000}, {2, 44100}, {1, 44100}, {2, 48000}, {1, 32000}, {2, 48000}};
    for (const Step& s : steps) {
        std::vector<float> in[2];
        material(in, static_cast<int>(s.rate) / 2, static_cast<int>(s.rate));
        const int before = feed.capture.calls;
        feed.pushAll(in, s.channels, s.rate);
        EXPECT_GT(feed.capture.calls, before) << s.channels << " ch " << s.rate;
    }
    EXPECT_TRUE(feed.capture.finite);
    EXPECT_GT(tailRms(feed.capture, 12000), 0.01);
    obs_source_filter_remove(feed.source, filter);
    obs_source_release(filter);
}

// OBS resets its audio to another rate and channel count (it does so only
// while nothing streams or records): the filter starts over for the new
// format, mono and 5.1 (which it passes through) included.
TEST(ObsFilterBadInput, ObsAudioResetToAnotherFormatKeepsFlowing) {
    struct Format {
        uint32_t rate;
        speaker_layout speakers;
        int channels;
    } const formats[] = {{44100, SPEAKERS_MONO, 1}, {96000, SPEAKERS_5POINT1, 2},
                         {48000, SPEAKERS_STEREO, 2}};
    for (const Format& f : formats) {
        Feed feed(f.channels);
        obs_source_t* filter = addFilter(feed.source, nullptr);
        obs_audio_info oai = {f.rate, f.speakers};
        ASSERT_TRUE(obs_reset_audio(&oai)) << f.rate;
        std::vector<float> in[2];
        material(in, static_cast<int>(f.rate), static_cast<int>(f.rate));
        feed.pushAll(in, 2, f.rate);
        EXPECT_TRUE(feed.capture.finite) << f.rate;
        EXPECT_GT(tailRms(feed.capture, f.rate / 4), 0.01) << f.rate;
        obs_source_filter_remove(feed.source, filter);
        obs_source_release(filter);
    }
}

// A thread pushes audio all the while; the filter is created, added, passed
// some audio, removed and released 100 times.
TEST(ObsFilterBadInput, AddedAndRemovedWhileAudioRuns) {
    Feed feed(2);
    std::vector<float> in[2];
    material(in, 4 * hostBlock, 48000);
    std::atomic<bool> running{true};
    std::atomic<int> blocks{0};
    std::thread audio([&] {
        while (running.load()) {
            feed.pushAll(in, 2, 48000);
            blocks.fetch_add(4);
        }
    });
    for (int round = 0; round < 100; ++round) {
        obs_source_t* filter = addFilter(feed.source, nullptr);
        if (round % 2) choose(filter, "enhance", 2);
        const int seen = blocks.load();
        while (blocks.load() < seen + 2) std::this_thread::yield();
        obs_source_filter_remove(feed.source, filter);
        obs_source_release(filter);
    }
    const int seen = blocks.load();
    while (blocks.load() < seen + 8) std::this_thread::yield();
    running.store(false);
    audio.join();
    EXPECT_TRUE(feed.capture.finite);
    EXPECT_GT(tailRms(feed.capture, 2048), 0.01);
}

}  // namespace
