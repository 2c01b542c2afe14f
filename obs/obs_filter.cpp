// The OBS filter's audio half: settings published lock-free, audio through the
// shared float instance.
#include "obs/obs_filter.h"

#include <new>

namespace obsfilter {

namespace {

// An instance for the format with every control port connected to the
// filter's copy. Null for a format the instance does not take.
ports::FloatInstance* instanceFor(Filter& f, int channels, int rate) {
    if (channels != 1 && channels != 2) return nullptr;
    ports::FloatInstance* in = ports::createInstance(channels, static_cast<double>(rate));
    if (in == nullptr) return nullptr;
    for (int k = 0; k < ports::controlCount; ++k) ports::connectControl(in, k, &f.port[k]);
    return in;
}

}  // namespace

Filter* createFilter(int channels, int rate) {
    Filter* f = new (std::nothrow) Filter;
    if (f == nullptr) return nullptr;
    for (int k = 0; k < ports::controlCount; ++k) {
        const float v = static_cast<float>(ports::defaultValue(ports::controls[k]));
        f->published[k].store(v, std::memory_order_relaxed);
        f->port[k] = v;
    }
    f->channels = channels;
    f->rate = rate;
    f->instance = instanceFor(*f, channels, rate);
    return f;
}

void destroyFilter(Filter* f) {
    if (f == nullptr) return;
    ports::destroyInstance(f->instance);
    delete f;
}

void publishValue(Filter& f, int control, double value) {
    if (control < 0 || control >= ports::controlCount) return;
    f.published[control].store(static_cast<float>(value), std::memory_order_relaxed);
}

void processPlanar(Filter& f, float* const* planes, int channels, int rate, uint32_t frames) {
    if (channels != f.channels || rate != f.rate) {
        // OBS's audio was reset to another format: start over for it.
        ports::destroyInstance(f.instance);
        f.channels = channels;
        f.rate = rate;
        f.instance = instanceFor(f, channels, rate);
    }
    if (f.instance == nullptr || frames == 0) return;  // passes the audio through
    for (int k = 0; k < ports::controlCount; ++k)
        f.port[k] = f.published[k].load(std::memory_order_relaxed);
    for (int c = 0; c < channels; ++c) {
        ports::connectAudioInput(f.instance, c, planes[c]);
        ports::connectAudioOutput(f.instance, c, planes[c]);
    }
    ports::runInstance(f.instance, frames);
}

}  // namespace obsfilter
