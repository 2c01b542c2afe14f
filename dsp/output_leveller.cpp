// The loudness leveller of the output stage.
//
// It measures the loudness of its input as BS.1770 does (K-weighting, 400 ms
// blocks every 100 ms, an absolute and a relative gate) and keeps a running
// gated mean of the current programme, which it steers to the target:
// - within a programme the mean spans 1.5 s, louder and quieter passages
//   alike, so that whole tracks end at the target even while the engine
//   ahead of the stage is still settling after a change of track;
// - blocks below the gates (silence, quiet passages) and quieter blocks while
//   the level falls by more than 3 LU/s (fades) leave the mean and the gain
//   alone;
// - a new programme (a much louder or, steadily, much quieter level) starts
//   the mean afresh: louder at once, quieter once two seconds hold one level
//   (the last within 2 LU of the one before), so that a fade-out is never
//   taken for a quiet track;
// - the gain falls as fast as needed and rises by at most 10 dB/s, within
//   -40..+20 dB.
// Two choices change this (both off by default): the programme mode keeps
// a long-term mean per programme (see programmeRule), and the brake
// gives up loudness where the ceiling after the leveller takes more than
// 3 dB (see followBrake). A programme loudness told from outside (a first
// pass measured it) sets the gain at once and holds it.
#include <cmath>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "dsp/biquad_lanes.h"
#include "dsp/level_meters.h"
#include "dsp/output_stage_parts.h"

namespace {

constexpr double pi = 3.14159265358979323846;
constexpr float absoluteGate = -60.0f;     // LUFS: below this the input counts as silence
constexpr float relativeGate = 10.0f;      // LU below the programme's loudness
constexpr float louderDelta = 4.0f;        // momentary, for louderBlocksNeeded blocks
constexpr int louderBlocksNeeded = 5;
constexpr float jumpDelta = 10.0f;         // one 100 ms sub-block, twice in a row
constexpr float quieterDelta = 8.0f;       // the last 2 s, while steady
constexpr float steadyRange = 2.0f;        // LU between the last two seconds
constexpr float fadeRate = 3.0f;           // LU per second
constexpr int brakeIdleBlocks = 2;         // sub-blocks after a louder programme begins
constexpr double restartCount = 10.0;      // blocks a fresh programme's mean starts with
constexpr double afterSilenceCount = 10.0; // what a programme keeps across 2 s of silence
constexpr double maximumCount = 15.0;      // the running mean spans at most 1.5 s
constexpr int silenceBlocks = 20;
constexpr float maximumBoost = 20.0f, maximumCut = -40.0f;
constexpr float risePerBlock = 1.0f;       // dB per 100 ms
constexpr double fullScaleSquared = 32768.0 * 32768.0;

// BS.1770 K-weighting for the rate: a high shelf and the RLB high-pass.
void designKWeighting(LevellerState& l, int rate) {
    double k = std::tan(pi * 1681.974450955533 / rate);
    const double q = 0.7071752369554196;
    const double vh = std::pow(10.0, 3.999843853973347 / 20.0);
    const double vb = std::pow(vh, 0.4996667741545416);
    double a0 = 1.0 + k / q + k * k;
    l.shelf[0] = (vh + vb * k / q + k * k) / a0;
    l.shelf[1] = 2.0 * (k * k - vh) / a0;
    l.shelf[2] = (vh - vb * k / q + k * k) / a0;
    l.shelf[3] = 2.0 * (k * k - 1.0) / a0;
    l.shelf[4] = (1.0 - k / q + k * k) / a0;
    k = std::tan(pi * 38.13547087602444 / rate);
    const double hq = 0.5003270373238773;
    a0 = 1.0 + k / hq + k * k;
    l.highPass[0] = 1.0;
    l.highPass[1] = -2.0;
    l.highPass[2] = 1.0;
    l.highPass[3] = 2.0 * (k * k - 1.0) / a0;
    l.highPass[4] = (1.0 - k / hq + k * k) / a0;
}

// The mean of the newest n of a ring's `count` values (size entries).
double meanOfRing(const double* ring, int size, int newest, int count, int n) {
    if (n > count) n = count;
    double sum = 0.0;
    for (int i = 0; i < n; ++i) sum += ring[(newest - i + size) % size];
    return n > 0 ? sum / n : 0.0;
}

double meanOfLast(const double* ring, int newest, int count, int n) {
    return meanOfRing(ring, levellerHistory, newest, count, n);
}

float decibelsToGain(float db) { return std::pow(10.0f, db / 20.0f); }

// The loudness of the last second less that of the second before (0 before
// two seconds have been measured).
float lastSecondChange(const LevellerState& l) {
    if (l.subCount < 20) return 0.0f;
    double last = 0.0, before = 0.0;
    for (int i = 0; i < 10; ++i) {
        last += l.subEnergy[(l.subNewest - i + levellerHistory) % levellerHistory];
        before += l.subEnergy[(l.subNewest - 10 - i + 2 * levellerHistory) % levellerHistory];
    }
    return levellerLoudness(last) - levellerLoudness(before);
}

// True once the last two seconds hold one level: the last second within
// steadyRange of the second before (a fade, or a level still falling after
// the end of a track, is not steady).
bool steady(const LevellerState& l) {
    return l.subCount >= 20 && std::fabs(lastSecondChange(l)) < steadyRange;
}

// True while the loudness of the last second lies more than fadeRate below
// that of the second before (a fade-out, or the end of a phrase): quieter
// blocks then leave the mean alone.
bool falling(const LevellerState& l) { return lastSecondChange(l) < -fadeRate; }

// The programme mode's window as `count` readings of `energy`.
void fillWindow(LevellerState& l, double energy, double count) {
    for (int i = 0; i < static_cast<int>(count); ++i)
        l.meanEnergy[(l.meanNewest - i + levellerProgrammeWindow) % levellerProgrammeWindow] = energy;
}

// In the programme mode a louder programme also clears the brake, and the
// brake ignores the ceiling while the gain falls to the new programme: what
// the ceiling takes then comes from the gain of the quieter programme before
// it, not from the new one's peaks.
void restart(LevellerState& l, double energy) {
    const bool louder = energy > l.estimate;
    l.estimate = energy;
    l.count = restartCount;
    l.louderBlocks = l.jumpBlocks = 0;
    if (l.mode != levellerProgramme) return;
    fillWindow(l, energy, restartCount);
    balanceRestart(l.balance);
    if (!louder) return;
    l.brakeDb = 0.0f;
    l.brakeIdle = brakeIdleBlocks;
}

// A reading joins the programme's mean: in the running mode a mean whose
// weight grows to r.maxCount readings and then forgets the past
// exponentially; in the programme mode the plain mean of the last readings
// (at most r.maxCount), so that a steady level gives a steady gain once the
// window has passed whatever came before it (the engine ahead still
// settling, say) instead of drifting towards it for ever.
void joinMean(LevellerState& l, double maxCount, double energy) {
    l.count = l.count < maxCount ? l.count + 1.0 : maxCount;
    if (l.mode != levellerProgramme) {
        l.estimate += (energy - l.estimate) / l.count;
        return;
    }
    l.meanNewest = (l.meanNewest + 1) % levellerProgrammeWindow;
    l.meanEnergy[l.meanNewest] = energy;
    l.estimate = meanOfRing(l.meanEnergy, levellerProgrammeWindow, l.meanNewest, levellerProgrammeWindow,
                            static_cast<int>(l.count));
}

// The programme mode: the mean of the whole programme (gated as above; past
// its first 10 s the plain mean of the last 10 s, so that a change of
// programme that nothing detected is still followed, and a steady level
// gives a steady gain once the window has passed whatever came before it;
// an exponential mean would still move the gain by hundredths of a dB 20 s
// on, which reads as distortion on a steady tone). The short-term readings
// only check it for a change of programme: louder sub-blocks (10 LU, twice
// in a row) or a momentary loudness 6 LU louder for half a second (a louder
// programme is taken at once, so that it is not played too loud for long),
// or a short-term loudness (3 s) 8 LU quieter while steady. Two seconds of
// silence also end a programme.
constexpr double programmeCount = 100.0;
constexpr float programmeLouder = 6.0f, programmeQuieter = 8.0f;

// How a mode tells a new programme: how much louder the momentary loudness
// and how much quieter its quieter reading must be, and how many sub-blocks
// the mean spans at most.
struct ProgrammeRule {
    float louder, quieter;
    double maxCount;
};
constexpr ProgrammeRule runningRule = {louderDelta, quieterDelta, maximumCount};
constexpr ProgrammeRule programmeRule = {programmeLouder, programmeQuieter, programmeCount};
// A quieter level whose spectral balance stays within balanceChanged of the
// programme's (a quiet passage of the same music) must lie sameBalanceQuieter
// LU below it to count as a new programme.
constexpr double balanceChanged = 5.0;
constexpr float sameBalanceQuieter = 12.0f;
constexpr ProgrammeRule sameBalanceRule = {programmeLouder, sameBalanceQuieter, programmeCount};

// Whether the last block starts a new programme, and from which level: a
// louder one from the sub-blocks that showed it, a quieter one from the last
// two seconds once they hold one level; otherwise the block joins the mean.
void followProgramme(LevellerState& l, const ProgrammeRule& r, float sub, float momentary,
                     float quieterReading, double momentaryEnergy) {
    const float programme = levellerLoudness(l.estimate);
    l.louderBlocks = momentary > programme + r.louder ? l.louderBlocks + 1 : 0;
    l.jumpBlocks = sub > programme + jumpDelta ? l.jumpBlocks + 1 : 0;
    if (l.jumpBlocks >= 2) {
        restart(l, meanOfLast(l.subEnergy, l.subNewest, l.subCount, 2));
    } else if (l.louderBlocks >= louderBlocksNeeded) {
        restart(l, meanOfLast(l.subEnergy, l.subNewest, l.subCount, louderBlocksNeeded));
    } else if (quieterReading < programme - r.quieter && steady(l)) {
        restart(l, meanOfLast(l.subEnergy, l.subNewest, l.subCount, 20));
    } else if (momentary > programme - relativeGate && !(momentaryEnergy < l.estimate && falling(l))) {
        joinMean(l, r.maxCount, momentaryEnergy);
    }
}

// The brake: the loudness given up grows by half of what the ceiling took
// beyond brakeAllowance during the sub-block, and comes back at 0.5 dB/s
// once it takes less than brakeRelease.
constexpr float brakeAllowance = 3.0f, brakeRelease = 2.0f, brakeMaximum = 20.0f;

void followBrake(LevellerState& l) {
    if (l.brakeIdle > 0) {
        --l.brakeIdle;
        l.ceilingTakenDb = 0.0f;
        return;
    }
    const float excess = l.ceilingTakenDb - brakeAllowance;
    if (excess > 0.0f)
        l.brakeDb = std::fmin(l.brakeDb + 0.5f * excess, brakeMaximum);
    else if (l.ceilingTakenDb < brakeRelease)
        l.brakeDb = std::fmax(l.brakeDb - 0.05f, 0.0f);
    l.ceilingTakenDb = 0.0f;
}

// What the gain heads for after a sub-block that was not silent.
void followLoudness(LevellerState& l, double subEnergy, float momentary, float recent,
                    double momentaryEnergy) {
    l.silentBlocks = 0;
    if (!l.programme) {
        restart(l, momentaryEnergy);
        l.programme = true;
    } else if (l.told) {
        // The programme's loudness is known: nothing to follow.
    } else if (l.mode == levellerProgramme) {
        const float shortTerm =
            levellerLoudness(meanOfLast(l.subEnergy, l.subNewest, l.subCount, levellerHistory));
        const bool changed = balanceChange(l.balance) > balanceChanged;
        followProgramme(l, changed ? programmeRule : sameBalanceRule, levellerLoudness(subEnergy),
                        momentary, shortTerm, momentaryEnergy);
    } else {
        followProgramme(l, runningRule, levellerLoudness(subEnergy), momentary, recent,
                        momentaryEnergy);
    }
}

// A sub-block whose audio held a not-a-number or an infinity: its filters
// start afresh (they would hold it for ever and the leveller would stop
// following the level), the sub-block is left out, and the gain stays.
void skipBlock(LevellerState& l) {
    for (auto& channel : l.k)
        for (double& v : channel) v = 0.0;
    l.gain = decibelsToGain(l.gainDb);
    l.gainStep = 0.0f;
    l.blockEnergy = 0.0;
    l.blockFill = 0;
}

// Called at the end of every 100 ms sub-block: measure, decide, set the ramp.
void decide(LevellerState& l) {
    if (!std::isfinite(l.blockEnergy)) {
        skipBlock(l);
        return;
    }
    const double subEnergy = l.blockEnergy / l.blockLength;
    if (l.mode == levellerProgramme) balanceEndBlock(l.balance);
    l.subNewest = (l.subNewest + 1) % levellerHistory;
    l.subEnergy[l.subNewest] = subEnergy;
    if (l.subCount < levellerHistory) ++l.subCount;
    const double momentaryEnergy = meanOfLast(l.subEnergy, l.subNewest, l.subCount, 4);
    const float momentary = levellerLoudness(momentaryEnergy);
    const float recent = levellerLoudness(meanOfLast(l.subEnergy, l.subNewest, l.subCount, 20));

    float wanted = l.gainDb;
    if (l.brake) followBrake(l);
    if (momentary < absoluteGate) {
        if (++l.silentBlocks >= silenceBlocks && l.count > afterSilenceCount) {
            l.count = afterSilenceCount;
            if (l.mode == levellerProgramme) fillWindow(l, l.estimate, afterSilenceCount);
        }
        if (l.silentBlocks >= silenceBlocks && l.mode == levellerProgramme && !l.told) l.programme = false;
        l.louderBlocks = l.jumpBlocks = 0;
    } else {
        followLoudness(l, subEnergy, momentary, recent, momentaryEnergy);
        wanted = l.targetLufs - levellerLoudness(l.estimate) - l.brakeDb;
    }
    wanted = wanted > maximumBoost ? maximumBoost : wanted < maximumCut ? maximumCut : wanted;
    if (wanted > l.gainDb + risePerBlock) wanted = l.gainDb + risePerBlock;
    l.gain = decibelsToGain(l.gainDb);  // where the last ramp ended
    l.gainDb = wanted;
    l.gainStep = (decibelsToGain(wanted) - l.gain) / static_cast<float>(l.blockLength);
    l.blockEnergy = 0.0;
    l.blockFill = 0;
    for (auto& channel : l.k)
        for (double& v : channel)
            if (std::fabs(v) < 1e-12) v = 0.0;  // no denormals after silence
}

#if defined(__SSE2__)
// Measures and applies the gain to n frames of one sub-block, stereo.
void levelStereo(LevellerState& l, float* x, int n) {
    const Biquad2 shelf = biquad_lanes(l.shelf), high = biquad_lanes(l.highPass);
    __m128d s1 = _mm_set_pd(l.k[1][0], l.k[0][0]), s2 = _mm_set_pd(l.k[1][1], l.k[0][1]);
    __m128d h1 = _mm_set_pd(l.k[1][2], l.k[0][2]), h2 = _mm_set_pd(l.k[1][3], l.k[0][3]);
    __m128d energy = _mm_setzero_pd();
    float gain = l.gain;
    const float step = l.gainStep;
    for (int i = 0; i < n; ++i) {
        const __m128d in = _mm_cvtps_pd(_mm_castsi128_ps(
            _mm_loadl_epi64(reinterpret_cast<const __m128i*>(x + 2 * i))));
        const __m128d z = biquad2(high, biquad2(shelf, in, s1, s2), h1, h2);
        energy = _mm_add_pd(energy, _mm_mul_pd(z, z));
        x[2 * i] *= gain;
        x[2 * i + 1] *= gain;
        gain += step;
    }
    double e[2], v[2];
    _mm_storeu_pd(e, energy);
    l.blockEnergy += e[0] + e[1];
    const __m128d* states[4] = {&s1, &s2, &h1, &h2};
    for (int j = 0; j < 4; ++j) {
        _mm_storeu_pd(v, *states[j]);
        l.k[0][j] = v[0];
        l.k[1][j] = v[1];
    }
    l.gain = gain;
}
#endif

// The same for any channel count, one channel at a time.
void levelPlain(LevellerState& l, float* x, int n, int channels) {
    for (int c = 0; c < channels; ++c) {
        double s1 = l.k[c][0], s2 = l.k[c][1], h1 = l.k[c][2], h2 = l.k[c][3], energy = 0.0;
        float gain = l.gain;
        for (int i = 0; i < n; ++i) {
            float& v = x[i * channels + c];
            const double z = biquad1(l.highPass, biquad1(l.shelf, v, s1, s2), h1, h2);
            energy += z * z;
            v *= gain;
            gain += l.gainStep;
        }
        l.k[c][0] = s1;
        l.k[c][1] = s2;
        l.k[c][2] = h1;
        l.k[c][3] = h2;
        l.blockEnergy += energy;
        if (c + 1 == channels) l.gain = gain;
    }
}

}  // namespace

float levellerLoudness(double energy) {
    if (!(energy > 0.0)) return -200.0f;
    return static_cast<float>(-0.691 + 10.0 * std::log10(energy / fullScaleSquared));
}

void kWeightingCoefficients(int rate, double shelf[5], double highPass[5]) {
    LevellerState l;
    designKWeighting(l, rate);
    std::memcpy(shelf, l.shelf, sizeof l.shelf);
    std::memcpy(highPass, l.highPass, sizeof l.highPass);
}

void levellerSetup(LevellerState& l, int rate, float targetLufs) {
    std::memset(static_cast<void*>(&l), 0, sizeof l);
    designKWeighting(l, rate);
    l.blockLength = rate / 10 > 0 ? rate / 10 : 1;
    l.targetLufs = targetLufs;
    l.gain = 1.0f;
    balanceSetup(l.balance, rate);
}

void levellerTell(LevellerState& l, float lufs) {
    l.estimate = fullScaleSquared * std::pow(10.0, (lufs + 0.691) / 10.0);
    l.count = programmeCount;
    l.programme = l.told = true;
    l.louderBlocks = l.jumpBlocks = l.silentBlocks = 0;
    float wanted = l.targetLufs - lufs - l.brakeDb;
    wanted = wanted > maximumBoost ? maximumBoost : wanted < maximumCut ? maximumCut : wanted;
    l.gainDb = wanted;
    l.gain = decibelsToGain(wanted);
    l.gainStep = 0.0f;
}

void levelChunk(LevellerState& l, float* x, int n, int channels) {
    while (n > 0) {
        int run = l.blockLength - l.blockFill;
        if (run > n) run = n;
        if (l.mode == levellerProgramme) balanceMeasure(l.balance, x, run, channels);
#if defined(__SSE2__)
        if (channels == 2)
            levelStereo(l, x, run);
        else
#endif
            levelPlain(l, x, run, channels);
        l.blockFill += run;
        if (l.blockFill == l.blockLength) decide(l);
        x += run * channels;
        n -= run;
    }
}
