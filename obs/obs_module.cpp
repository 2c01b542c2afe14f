// The OBS Studio module redozer-obs: registers the audio filter "yarq's Audio
// Enhancers" and maps libobs's callbacks onto the filter's audio half
// (obs_filter.cpp) and its generated properties (obs_properties.cpp).
#include <obs-module.h>

#include "obs/obs_filter.h"
#include "obs/obs_properties.h"

OBS_DECLARE_MODULE()

namespace {

constexpr const char* filterId = "redozer_audio_enhancers";
constexpr const char* filterName = "yarq's Audio Enhancers";

struct Context {
    obs_source_t* source;
    obsfilter::Filter* filter;
};

// OBS's output format: the filter sees every source's audio in it.
void outputFormat(int& channels, int& rate) {
    audio_t* audio = obs_get_audio();
    channels = audio != nullptr ? static_cast<int>(audio_output_get_channels(audio)) : 2;
    rate = audio != nullptr ? static_cast<int>(audio_output_get_sample_rate(audio)) : 48000;
}

const char* getName(void*) { return filterName; }

void update(void* data, obs_data_t* settings) {
    auto* ctx = static_cast<Context*>(data);
    for (int k = 0; k < ports::controlCount; ++k)
        obsfilter::publishValue(*ctx->filter, k, obsfilter::settingValue(settings, k));
}

void* create(obs_data_t* settings, obs_source_t* source) {
    int channels = 0, rate = 0;
    outputFormat(channels, rate);
    obsfilter::Filter* filter = obsfilter::createFilter(channels, rate);
    if (filter == nullptr) return nullptr;
    auto* ctx = static_cast<Context*>(bzalloc(sizeof(Context)));
    ctx->source = source;
    ctx->filter = filter;
    update(ctx, settings);
    return ctx;
}

void destroy(void* data) {
    auto* ctx = static_cast<Context*>(data);
    obsfilter::destroyFilter(ctx->filter);
    bfree(ctx);
}

obs_audio_data* filterAudio(void* data, obs_audio_data* audio) {
    auto* ctx = static_cast<Context*>(data);
    int channels = 0, rate = 0;
    outputFormat(channels, rate);
    float* planes[MAX_AV_PLANES] = {};
    for (int c = 0; c < channels && c < MAX_AV_PLANES; ++c)
        planes[c] = reinterpret_cast<float*>(audio->data[c]);
    obsfilter::processPlanar(*ctx->filter, planes, channels, rate, audio->frames);
    return audio;
}

void getDefaults(obs_data_t* settings) { obsfilter::setDefaults(settings); }

obs_properties_t* getProperties(void*) {
    int channels = 0, rate = 0;
    outputFormat(channels, rate);
    return obsfilter::buildProperties(rate, channels);
}

}  // namespace

bool obs_module_load(void) {
    obs_source_info info = {};
    info.id = filterId;
    info.type = OBS_SOURCE_TYPE_FILTER;
    info.output_flags = OBS_SOURCE_AUDIO;
    info.get_name = getName;
    info.create = create;
    info.destroy = destroy;
    info.update = update;
    info.filter_audio = filterAudio;
    info.get_defaults = getDefaults;
    info.get_properties = getProperties;
    obs_register_source(&info);
    blog(LOG_INFO, "[redozer-obs] audio filter \"%s\" (%s) registered", filterName, filterId);
    return true;
}

const char* obs_module_name(void) { return filterName; }

const char* obs_module_description(void) {
    return "Audio enhancers, equalizer, loudness target and true-peak ceiling as an audio filter.";
}
