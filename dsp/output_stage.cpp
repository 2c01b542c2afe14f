// The output stage: set-up, settings and the per-block driver. The leveller
// and the ceiling live in output_leveller.cpp and output_ceiling.cpp.
#include "dsp/output_stage.h"

#include <cmath>
#include <cstring>

#include "dsp/output_stage_parts.h"

int outputStageLatency(int rate) {
    const int frames = rate / 500;
    return frames < 16 ? 16 : frames;
}

bool outputStageSetup(OutputStage& s, int rate, int channels) {
    std::memset(static_cast<void*>(&s), 0, sizeof s);
    if (rate < 1 || rate > 96000 || channels < 1 || channels > 2) return false;
    s.rate = rate;
    s.channels = channels;
    s.lookahead = outputStageLatency(rate);
    designTruePeakFilter(s.filter, truePeakLimiterCutoff);
    levellerSetup(s.leveller, rate, -16.0f);
    ceilingSetup(s.limiter, rate, s.lookahead, 1.0f);
    s.statistics.programmeLufs = std::nanf("");
    return true;
}

static float decibelsToGain(float db) { return std::pow(10.0f, db / 20.0f); }

void outputStageSettings(OutputStage& s, bool levelling, int targetTenths, bool limiting,
                         int ceilingTenths) {
    if (s.rate == 0) return;
    targetTenths = targetTenths < 50 ? 50 : targetTenths > 400 ? 400 : targetTenths;
    ceilingTenths = ceilingTenths < 0 ? 0 : ceilingTenths > 120 ? 120 : ceilingTenths;
    const bool wasOn = s.levelling || s.limiting;
    if (!wasOn && (levelling || limiting)) {
        // From off: an empty delay line and fresh measurements.
        const int rate = s.rate, channels = s.channels;
        outputStageSetup(s, rate, channels);
    }
    if (levelling && !s.levelling) levellerSetup(s.leveller, s.rate, s.leveller.targetLufs);
    if (limiting && !s.limiting) ceilingRestart(s.limiter);
    s.levelling = levelling;
    s.limiting = limiting;
    s.leveller.targetLufs = -0.1f * static_cast<float>(targetTenths);
    s.limiter.ceiling = 32768.0f * decibelsToGain(-0.1f * static_cast<float>(ceilingTenths));
}

void outputStageModes(OutputStage& s, int levellerMode, int ceilingMode) {
    if (s.rate == 0) return;
    s.leveller.mode = levellerMode == levellerProgramme ? levellerProgramme : levellerRunning;
    s.leveller.brake = ceilingMode == 2;
    if (!s.leveller.brake) s.leveller.brakeDb = 0.0f;
    ceilingLongRelease(s.limiter, ceilingMode == 1 || ceilingMode == 2);
}

void outputStageProgramme(OutputStage& s, float lufs) {
    if (s.rate == 0 || !(lufs > -70.0f && lufs < 10.0f)) return;
    levellerTell(s.leveller, lufs);
}

void processOutputStage(OutputStage& s, float* samples, int frames) {
    if (s.rate == 0 || samples == nullptr || frames <= 0 || !(s.levelling || s.limiting)) return;
    s.statistics.ceilingGainDb = 0.0f;
    float lowest = 1.0f;
    for (int done = 0; done < frames;) {
        const int n = frames - done < stageChunk ? frames - done : stageChunk;
        float* x = samples + static_cast<long long>(done) * s.channels;
        if (s.levelling) levelChunk(s.leveller, x, n, s.channels);
        const float g = ceilingChunk(s, x, n);
        lowest = g < lowest ? g : lowest;
        if (s.leveller.brake && g < 1.0f) {
            const float taken = -20.0f * std::log10(g);
            if (taken > s.leveller.ceilingTakenDb) s.leveller.ceilingTakenDb = taken;
        }
        done += n;
    }
    s.statistics.levellerGainDb = s.levelling ? s.leveller.gainDb : 0.0f;
    s.statistics.programmeLufs = s.levelling && s.leveller.programme
                                     ? levellerLoudness(s.leveller.estimate)
                                     : std::nanf("");
    s.statistics.ceilingGainDb = 20.0f * std::log10(lowest);
}
