#include "host/dsphost_two_pass.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

#include "host/two_pass_trial.h"

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

// One pass's loudness meters, one per file, fed with the stream's output
// where the written files have it: run.delay frames after the input (the
// first frames of a file's output are the end of the file before).
struct PassMeters {
    std::vector<ebur128_state*> states;
    std::vector<long long> ends;  // where each file read so far ends in the input stream
    long long position = 0;       // output frames so far
    size_t file = 0;              // the file the next output frame belongs to
};

void feed(const Run& run, PassMeters& m, float* samples, long long frames) {
    for (long long i = 0; i < frames * run.channels; ++i) samples[i] /= 32768.0f;
    const long long skip = std::min(frames, std::max(0LL, run.delay - m.position));  // the stream's leading delay
    long long at = skip;
    m.position += skip;
    while (at < frames) {
        while (m.file < m.ends.size() && m.position >= m.ends[m.file] + run.delay) ++m.file;
        long long n = frames - at;
        if (m.file < m.ends.size()) n = std::min(n, m.ends[m.file] + run.delay - m.position);
        if (m.file < m.states.size())
            ebur128_add_frames_float(m.states[m.file], samples + at * run.channels, static_cast<size_t>(n));
        at += n;
        m.position += n;
    }
}

// One input through the plug-in, into the meters. With `told` finite, the
// plug-in is first told that this is the file's loudness, as the second
// pass will tell it.
bool measure_one(Run& run, DspModule* module, const Item& item, double told, PassMeters& meters,
                 std::string& error) {
    SoundFormat format;
    SoundInput* input = sound_open_input(item.input, format, error);
    if (input == nullptr) return false;
    if (std::isfinite(told)) run.tellProgramme(module, static_cast<float>(told));
    const long long frames = run.block;
    std::vector<float> samples(static_cast<size_t>(frames * run.channels));
    long long got, total = 0;
    while ((got = sound_read(input, samples.data(), frames, run.modifyFloat == nullptr, false)) > 0) {
        process_block(run, module, samples.data(), got);
        total += got;
        if (got < frames) meters.ends.push_back((meters.ends.empty() ? 0 : meters.ends.back()) + total);
        feed(run, meters, samples.data(), got);
        if (got < frames) break;
    }
    sound_close_input(input);
    if (got < 0) {
        error = "reading failed";
        return false;
    }
    if (got == 0) meters.ends.push_back((meters.ends.empty() ? 0 : meters.ends.back()) + total);
    return true;
}

// Every input through the plug-in in order, as one stream from a fresh
// start, each one's integrated loudness (NaN for silence) into `lufs`; with
// `told`, each file's value in it is told to the plug-in at the file's start.
bool measure_all(Run& run, DspModule* module, const std::vector<double>* told, std::vector<double>& lufs,
                 std::string& error) {
    lufs.assign(run.items.size(), NAN);
    PassMeters meters;
    bool ok = true;
    for (size_t i = 0; i < run.items.size() && ok; ++i) {
        meters.states.push_back(ebur128_init(static_cast<unsigned>(run.channels),
                                             static_cast<unsigned long>(run.rate), EBUR128_MODE_I));
        if (meters.states.back() == nullptr) {
            error = "no memory for a loudness meter";
            ok = false;
        }
    }
    module->Init(module);
    for (size_t i = 0; i < run.items.size() && ok; ++i) {
        const Item& item = run.items[i];
        std::string why = "--two-pass reads each input twice, and it is a stream";
        ok = !is_stream(item.input) &&
             measure_one(run, module, item, told != nullptr ? (*told)[i] : NAN, meters, why);
        if (!ok) error = "cannot measure " + item.input + ": " + why;
    }
    for (size_t i = 0; i < meters.states.size(); ++i) {
        double value = NAN;
        if (meters.states[i] != nullptr && ebur128_loudness_global(meters.states[i], &value) == EBUR128_SUCCESS &&
            std::isfinite(value))
            lufs[i] = value;
        if (meters.states[i] != nullptr) ebur128_destroy(&meters.states[i]);
    }
    return ok;
}

// The trials: the chain as the second pass will run it, told the values in
// run.programmeLufs, which move until each file lands on the target after
// the stage or the trials run out.
bool run_trials(Run& run, DspModule* module, const std::vector<double>& measured, std::string& error) {
    const size_t count = measured.size();
    std::vector<TrialPoint> before(count, TrialPoint{NAN, NAN});
    std::vector<double> after;
    for (int trial = 0; trial < maximumTrials; ++trial) {
        if (!measure_all(run, module, &run.programmeLufs, after, error)) return false;
        bool landed = true;
        for (size_t i = 0; i < count; ++i) {
            const TrialPoint last = {run.programmeLufs[i], after[i]};
            landed = landed && trial_landed(run.stageTarget, last);
            run.programmeLufs[i] = next_told(run.stageTarget, measured[i], last, before[i]);
            before[i] = last;
        }
        if (landed) break;
    }
    return true;
}

}  // namespace

bool measure_programmes(Run& run, DspModule* module, DspMeasuringFunction measuring, std::string& error) {
    run.programmeLufs.clear();
    std::vector<double> measured;
    measuring(module, 1);
    const bool ok = measure_all(run, module, nullptr, measured, error);
    measuring(module, 0);
    if (!ok) return false;
    run.programmeLufs = measured;
    if (std::isfinite(run.stageTarget) && !run_trials(run, module, measured, error)) {
        run.programmeLufs.clear();
        return false;
    }
    return true;
}

void tell_programme(Run& run, DspModule* module, int file) {
    if (run.tellProgramme == nullptr || file < 0 || static_cast<size_t>(file) >= run.programmeLufs.size()) return;
    const double lufs = run.programmeLufs[static_cast<size_t>(file)];
    if (std::isfinite(lufs)) run.tellProgramme(module, static_cast<float>(lufs));
}
