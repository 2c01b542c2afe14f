#include "host/decoded_peak.h"

#include <cmath>
#include <vector>

#include "dsp/true_peak.h"
#include "host/sound_file.h"

bool decoded_true_peak(const std::string& path, double& dbtp, std::string& error) {
    SoundFormat format;
    SoundInput* input = sound_open_input(path, format, error);
    if (input == nullptr) return false;
    if (format.channels < 1 || format.channels > 2) {
        sound_close_input(input);
        error = "it has " + std::to_string(format.channels) + " channels";
        return false;
    }
    TruePeakMeter meter;
    truePeakMeterStart(meter, format.channels);
    const long long frames = 65536;
    std::vector<float> samples(static_cast<size_t>(frames * format.channels));
    long long got;
    while ((got = sound_read(input, samples.data(), frames, false, false)) > 0) {
        truePeakMeterAddFloat(meter, samples.data(), got);
        if (got < frames) break;
    }
    if (got < 0) {
        const std::string problem = sound_input_problem(input);
        error = problem.empty() ? "it does not decode" : problem;
    }
    sound_close_input(input);
    dbtp = 20.0 * std::log10(truePeakMeterPeak(meter) / 32768.0);
    return got >= 0;
}
