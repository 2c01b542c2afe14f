#include "pages/stage_readings.h"

#include <cmath>
#include <cstdio>
#include <cstring>

const char* stage_reading_caption(int row) {
    static const char* const captions[stageReadingRows] = {"Programme loudness", "Leveller gain",
                                                           "Ceiling reduction", "True peak"};
    return row >= 0 && row < stageReadingRows ? captions[row] : "";
}

void format_stage_reading(char* out, int size, const StageReadings& r, int row) {
    const size_t n = static_cast<size_t>(size);
    if (size <= 0) return;
    switch (row) {
    case readingProgramme:
        if (!r.levelling) snprintf(out, n, "off");
        else if (!(r.programmeLufs > -70.0f)) snprintf(out, n, "-");
        else snprintf(out, n, "%.1f LUFS", r.programmeLufs);
        return;
    case readingLevellerGain:
        if (!r.levelling) snprintf(out, n, "off");
        else snprintf(out, n, "%+.1f dB", std::fabs(r.levellerGainDb) < 0.05f ? 0.0f : r.levellerGainDb);
        return;
    case readingCeiling:
        if (!r.limiting) snprintf(out, n, "off");
        else snprintf(out, n, "%.1f dB", r.ceilingReductionDb > 0.05f ? r.ceilingReductionDb : 0.0f);
        return;
    case readingTruePeak:
        if (!(r.truePeakDbtp > -90.0f)) snprintf(out, n, "-");
        else snprintf(out, n, "%.1f dBTP", r.truePeakDbtp);
        return;
    default: out[0] = '\0';
    }
}

void history_clear(LoudnessHistory& h) { std::memset(&h, 0, sizeof h); }

bool history_record(LoudnessHistory& h, long long nowMs, float inLufs, float outLufs) {
    if (h.count > 0 && nowMs - h.lastMs < historyPeriodMs) return false;
    // Steady steps of half a second; a UI that was not called for a while
    // starts from now again.
    h.lastMs = h.count > 0 && nowMs - h.lastMs < 2 * historyPeriodMs ? h.lastMs + historyPeriodMs : nowMs;
    h.newest = (h.newest + 1) % historyPoints;
    h.in[h.newest] = inLufs;
    h.out[h.newest] = outLufs;
    if (h.count < historyPoints) ++h.count;
    return true;
}

bool history_point(const LoudnessHistory& h, int age, float* inLufs, float* outLufs) {
    if (age < 0 || age >= h.count) return false;
    const int i = (h.newest - age + historyPoints) % historyPoints;
    *inLufs = h.in[i];
    *outLufs = h.out[i];
    return true;
}

double history_y(float lufs, double height) {
    double f = (historyTopLufs - lufs) / (historyTopLufs - historyBottomLufs);
    if (!(f < 1.0)) f = 1.0;  // also not-a-number: at the bottom
    if (f < 0.0) f = 0.0;
    return f * height;
}
