// run() of the plug-in instance allocates nothing, takes no mutex and writes
// nothing: this program interposes the C library's allocation functions,
// pthread_mutex_lock and write, counts calls while run() is active, and drives
// the instance through its first block, every kind of port change (classic
// coefficients, engine switch, crossover and band re-parses, solo) and host
// blocks of several sizes.
#include <dlfcn.h>
#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "ports/float_instance.h"
#include "ports/port_table.h"

extern "C" {
void* __libc_malloc(size_t);
void* __libc_calloc(size_t, size_t);
void* __libc_realloc(void*, size_t);
void* __libc_memalign(size_t, size_t);
void __libc_free(void*);
}

namespace {
std::atomic<bool> counting{false};
std::atomic<int> calls{0};
inline void note() {
    if (counting.load(std::memory_order_relaxed)) calls.fetch_add(1, std::memory_order_relaxed);
}
using LockFunction = int (*)(pthread_mutex_t*);
using WriteFunction = ssize_t (*)(int, const void*, size_t);
LockFunction realLock = nullptr;
WriteFunction realWrite = nullptr;
}  // namespace

extern "C" {
void* malloc(size_t n) {
    note();
    return __libc_malloc(n);
}
void* calloc(size_t n, size_t size) {
    note();
    return __libc_calloc(n, size);
}
void* realloc(void* p, size_t n) {
    note();
    return __libc_realloc(p, n);
}
void free(void* p) {
    if (p != nullptr) note();
    __libc_free(p);
}
void* aligned_alloc(size_t alignment, size_t n) {
    note();
    return __libc_memalign(alignment, n);
}
void* memalign(size_t alignment, size_t n) {
    note();
    return __libc_memalign(alignment, n);
}
int posix_memalign(void** out, size_t alignment, size_t n) {
    note();
    *out = __libc_memalign(alignment, n);
    return *out != nullptr ? 0 : 12;
}
int pthread_mutex_lock(pthread_mutex_t* m) {
    note();
    return realLock(m);
}
ssize_t write(int fd, const void* data, size_t n) {
    note();
    return realWrite(fd, data, n);
}
}

using namespace ports;

int main() {
    realLock = reinterpret_cast<LockFunction>(dlsym(RTLD_NEXT, "pthread_mutex_lock"));
    realWrite = reinterpret_cast<WriteFunction>(dlsym(RTLD_NEXT, "write"));
    if (realLock == nullptr || realWrite == nullptr) return 2;

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
        calls = 0;
        counting = true;
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
        counting = false;
        const int seen = calls.load();
        printf("%s: %d allocation, lock or write calls in run()\n", channels == 2 ? "stereo" : "mono",
               seen);
        if (seen != 0) ++failures;
        destroyInstance(in);
    }
    printf("%d passed, %d failed\n", 2 - failures, failures);
    return failures == 0 ? 0 : 1;
}
