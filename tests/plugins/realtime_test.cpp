// run() of the plug-in instance allocates nothing, takes no mutex and writes
// nothing: this program interposes the C library's allocation functions,
// pthread_mutex_lock and write, counts calls while run() is active, and drives
// the instance through its first block, every kind of port change (classic
// coefficients, engine switch, crossover and band re-parses, solo) and host
// blocks of several sizes.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "ports/float_instance.h"
#include "ports/port_table.h"
#include "tests/plugins/realtime_counter.h"

using namespace ports;

int main() {
    if (!realtimeCounterReady()) return 2;

    int failures = 0;
    for (int channels : {1, 2}) {
        FloatInstance* in = createInstance(channels, 48000);
        if (in == nullptr) return 2;
        std::vector<float> control(controlCount), readout(readoutCount);
        for (int k = 0; k < controlCount; ++k) {
            control[k] = static_cast<float>(defaultValue(controls[k]));
            connectControl(in, k, &control[k]);
        }
        for (int r = 0; r < readoutCount; ++r) connectReadout(in, r, &readout[r]);
        std::vector<float> audio[2];
        for (int c = 0; c < channels; ++c) {
            audio[c].resize(4096);
            for (int i = 0; i < 4096; ++i)
                audio[c][i] = static_cast<float>(0.5 * sin(i * 0.05 * (c + 1)));
            connectAudioInput(in, c, audio[c].data());
            connectAudioOutput(in, c, audio[c].data());  // in place, as hosts may
        }
        auto set = [&](int k, int code) { control[k] = static_cast<float>(valueOfCode(controls[k], code)); };

        // Everything inside the counted stretch: runs, and port changes
        // between them as a host's control thread would make them.
        startCounting();
        const uint32_t sizes[] = {1, 37, 576, 4096, 100, 3000};
        int step = 0;
        for (int round = 0; round < 60; ++round) {
            switch (round) {
            case 10: set(cAmpMax, 90); set(cEqEnable, 1); break;
            case 15: set(cEnhance, 2); break;
            case 20: set(cCrossover1, 500); break;
            case 25: set(cBand3Attack, 10); set(cDrive, 30); set(cLimiterOn, 0); break;
            case 30: set(cSolo, 2); set(cAgc, 1); break;
            case 35: set(cSoftClip, 2); set(cLimHold, 500); break;
            case 40: set(cEnhance, 0); break;
            case 45: set(cEnhance, 1); control[cThreshold] = NAN; break;
            default: break;
            }
            runInstance(in, sizes[step++ % 6]);
        }
        const int seen = stopCounting();
        printf("%s: %d allocation, lock or write calls in run()\n", channels == 2 ? "stereo" : "mono",
               seen);
        if (seen != 0) ++failures;
        destroyInstance(in);
    }
    printf("%d passed, %d failed\n", 2 - failures, failures);
    return failures == 0 ? 0 : 1;
}
