#include "host/dsphost_two_pass.h"

#include <cmath>
#include <memory>
#include <vector>

namespace {

// One block through the plug-in as the second pass hands it over.
void process_block(Run& run, DspModule* module, float* samples, long long frames) {
    const int32_t n = static_cast<int32_t>(frames);
    if (run.modifyFloat != nullptr) {
        run.modifyFloat(module, samples, n, run.channels, run.rate);
        return;
    }
    const size_t count = static_cast<size_t>(frames * run.channels);
    for (size_t i = 0; i < count; ++i) run.fixed[i] = static_cast<int16_t>(samples[i]);
    module->ModifySamples(module, run.fixed.data(), n, 16, run.channels, run.rate);
    for (size_t i = 0; i < count; ++i) samples[i] = run.fixed[i];
}

// The integrated loudness of one input after the plug-in, NaN for silence.
bool measure_one(Run& run, DspModule* module, const Item& item, double& lufs, std::string& error) {
    SoundFormat format;
    SoundInput* input = sound_open_input(item.input, format, error);
    if (input == nullptr) return false;
    ebur128_state* state = ebur128_init(static_cast<unsigned>(run.channels), static_cast<unsigned long>(run.rate),
                                        EBUR128_MODE_I);
    if (state == nullptr) {
        sound_close_input(input);
        error = "no memory for a loudness meter";
        return false;
    }
    const long long frames = run.block;
    std::vector<float> samples(static_cast<size_t>(frames * run.channels));
    long long got;
    while ((got = sound_read(input, samples.data(), frames, run.modifyFloat == nullptr, false)) > 0) {
        process_block(run, module, samples.data(), got);
        for (float& s : samples) s /= 32768.0f;
        ebur128_add_frames_float(state, samples.data(), static_cast<size_t>(got));
        if (got < frames) break;
    }
    sound_close_input(input);
    double value = NAN;
    if (got >= 0 && ebur128_loudness_global(state, &value) != EBUR128_SUCCESS) value = NAN;
    ebur128_destroy(&state);
    if (got < 0) {
        error = "reading failed";
        return false;
    }
    lufs = std::isfinite(value) ? value : NAN;
    return true;
}

}  // namespace

bool measure_programmes(Run& run, DspModule* module, DspMeasuringFunction measuring, std::string& error) {
    run.programmeLufs.assign(run.items.size(), NAN);
    module->Init(module);
    measuring(module, 1);
    bool ok = true;
    for (size_t i = 0; i < run.items.size() && ok; ++i) {
        const Item& item = run.items[i];
        std::string why = "--two-pass reads each input twice, and it is a stream";
        ok = !is_stream(item.input) && measure_one(run, module, item, run.programmeLufs[i], why);
        if (!ok) error = "cannot measure " + item.input + ": " + why;
    }
    measuring(module, 0);
    return ok;
}

void tell_programme(Run& run, DspModule* module, int file) {
    if (run.tellProgramme == nullptr || file < 0 || static_cast<size_t>(file) >= run.programmeLufs.size()) return;
    const double lufs = run.programmeLufs[static_cast<size_t>(file)];
    if (std::isfinite(lufs)) run.tellProgramme(module, static_cast<float>(lufs));
}
