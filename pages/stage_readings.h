// What the output stage and the meters read, as the pages word it: the
// programme loudness the leveller reads, the gain it applies, what the
// ceiling takes off, the true peak that went out, and the loudness history
// (short-term loudness in and out over the last minute). Shared by the
// player's Misc page and the plug-in window's Output page; no window system.
#pragma once

struct StageReadings {
    float programmeLufs;       // -70 or below: nothing measured
    float levellerGainDb;
    float ceilingReductionDb;  // positive: taken off
    float truePeakDbtp;        // -90 or below: silence so far
    bool levelling, limiting;  // the stage's two switches
};

enum StageReadingRow : int {
    readingProgramme,
    readingLevellerGain,
    readingCeiling,
    readingTruePeak,
    stageReadingRows
};

// The row's caption ("Programme loudness", ...).
const char* stage_reading_caption(int row);
// The row's value: "-18.3 LUFS", "+2.5 dB", "1.2 dB", "-0.9 dBTP"; "off" for a
// reading of a part that is switched off, "-" before anything was measured.
void format_stage_reading(char* out, int size, const StageReadings& r, int row);

// ---- Loudness history --------------------------------------------------------
constexpr int historyPoints = 120;    // one a half second: the last minute
constexpr int historyPeriodMs = 500;
constexpr float historyTopLufs = 0.0f;
constexpr float historyBottomLufs = -60.0f;

struct LoudnessHistory {
    float in[historyPoints], out[historyPoints];  // newest at `newest`
    int newest, count;
    long long lastMs;  // time of the newest point
};

void history_clear(LoudnessHistory& h);
// Adds a point when half a second has passed since the last (the first at
// once); returns whether it did. Times in milliseconds of any steady clock.
bool history_record(LoudnessHistory& h, long long nowMs, float inLufs, float outLufs);
// The point `age` steps back from the newest (0 the newest); false past the count.
bool history_point(const LoudnessHistory& h, int age, float* inLufs, float* outLufs);
// Vertical position of a loudness in a graph `height` pixels high spanning
// historyBottomLufs..historyTopLufs (0 at the top), clamped to the graph.
double history_y(float lufs, double height);
