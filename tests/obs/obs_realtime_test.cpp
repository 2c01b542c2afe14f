// The OBS filter's audio call allocates nothing, takes no mutex and writes
// nothing, at its first blocks and while settings change between calls as
// OBS's settings thread changes them (the C library's functions interposed
// and counted, see tests/plugins/realtime_counter.h): every engine, the
// output stage, the equalizer, a re-parse of the bands and the resolution.
#include <cmath>
#include <cstdio>
#include <vector>

#include "obs/obs_filter.h"
#include "ports/port_table.h"
#include "tests/plugins/realtime_counter.h"

using namespace ports;

int main() {
    if (!realtimeCounterReady()) return 2;
    int failures = 0;
    for (int channels : {1, 2}) {
        obsfilter::Filter* f = obsfilter::createFilter(channels, 48000);
        if (f == nullptr) return 2;
        std::vector<float> audio[2];
        for (int c = 0; c < 2; ++c) {
            audio[c].resize(1024);
            for (int i = 0; i < 1024; ++i) audio[c][i] = static_cast<float>(0.5 * sin(i * 0.05 * (c + 1)));
        }
        float* planes[2] = {audio[0].data(), audio[1].data()};
        auto set = [&](int k, int code) { obsfilter::publishValue(*f, k, valueOfCode(controls[k], code)); };

        startCounting();
        for (int round = 0; round < 40; ++round) {
            switch (round) {
            case 5: set(cEnhance, 2); break;
            case 10: set(cLoudnessTarget, 1); set(cTargetLufs, 140); set(cTpLimit, 1); break;
            case 15: set(cCrossover2, 2500); set(cBand1Threshold, 70); break;
            case 20: set(cFullResolution, 0); break;
            case 25: set(cEnhance, 1); set(cEqEnable, 1); set(cEqGain2, 30); break;
            case 30: set(cEnhance, 0); set(cTpLimit, 0); break;
            default: break;
            }
            obsfilter::processPlanar(*f, planes, channels, 48000, 1024);
        }
        const int seen = stopCounting();
        printf("%s: %d allocation, lock or write calls in the audio call\n",
               channels == 2 ? "stereo" : "mono", seen);
        if (seen != 0) ++failures;
        obsfilter::destroyFilter(f);
    }
    printf("%d passed, %d failed\n", 2 - failures, failures);
    return failures == 0 ? 0 : 1;
}
