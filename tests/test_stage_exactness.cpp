// The multiband stage routines against their reference versions
// (reference_stages.cpp), bit for bit: random and edge inputs (zeros, signed
// zeros, denormals, +-1, the curve's corners, huge values, infinities, NaNs),
// parameters as the strings can set them and beyond, every short block length
// and odd ones, mono and stereo. Any difference in any output float, gain or
// carried state fails (NaNs only need to stay NaNs, see same_float).
#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "dsp/crossover.h"
#include "dsp/limiter.h"
#include "dsp/multiband.h"
#include "dsp/multiband_strings.h"
#include "tests/reference_stages.h"
#include "tests/test_support.h"

namespace {

using Floats = std::vector<float>;

// Floats are the same when their bits are, signed zeros included. Two NaNs
// count as the same whatever their sign and payload: which operand's NaN an
// operation passes on is the compiler's choice for commutative operations,
// and no stage looks at it (every comparison with a NaN is false, fabs and
// isfinite treat them alike, the output conversion gives 0 for any NaN).
bool same_float(float a, float b) {
    return memcmp(&a, &b, sizeof a) == 0 || (std::isnan(a) && std::isnan(b));
}

// Index of the first float that differs, or -1.
long first_difference(const float* a, const float* b, size_t count) {
    for (size_t i = 0; i < count; ++i)
        if (!same_float(a[i], b[i])) return static_cast<long>(i);
    return -1;
}

// The same for the section states of a bank (and every coefficient).
bool same_bank(const CrossoverBank& a, const CrossoverBank& b) {
    static constexpr float CrossoverSection::*fields[] = {
        &CrossoverSection::b0, &CrossoverSection::b1, &CrossoverSection::b2,
        &CrossoverSection::a1, &CrossoverSection::a2, &CrossoverSection::normalisedFrequency,
        &CrossoverSection::q,  &CrossoverSection::s1, &CrossoverSection::s2};
    static_assert(sizeof(CrossoverSection) == sizeof fields / sizeof fields[0] * sizeof(float));
    for (int k = 0; k < 6; ++k)
        for (auto field : fields)
            if (!same_float(a.sections[k].*field, b.sections[k].*field)) return false;
    return true;
}

bool same_state(const LimiterState& a, const LimiterState& b) {
    return same_float(a.envelope[0], b.envelope[0]) && same_float(a.envelope[1], b.envelope[1]) &&
           a.hold[0] == b.hold[0] && a.hold[1] == b.hold[1];
}

::testing::AssertionResult same_bits(const Floats& a, const Floats& b) {
    if (a.size() != b.size()) return ::testing::AssertionFailure() << "sizes differ";
    const long i = first_difference(a.data(), b.data(), a.size());
    if (i < 0) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "first difference at " << i << ": " << a[i]
                                         << " (reference) vs " << b[i];
}


const float edgeValues[] = {
    0.0f, -0.0f, 1.0f, -1.0f, 1e-8f, -1e-8f, std::numeric_limits<float>::denorm_min(),
    -std::numeric_limits<float>::denorm_min(), FLT_MIN, -FLT_MIN, 0x1.fffffcp-127f,
    1.41421354f, -1.41421354f, 1.41421342f, 1.41421366f, 0.8f, 0.79999995f, 0.5f, 1.00000012f,
    0.99999994f, -0.99999994f, 1e30f, -1e30f, FLT_MAX, -FLT_MAX,
    std::numeric_limits<float>::infinity(), -std::numeric_limits<float>::infinity(),
    std::numeric_limits<float>::quiet_NaN(), -std::numeric_limits<float>::quiet_NaN(),
    0.063095734f /* -24 dB */, 0.0501187f, 3.1622777f, 32767.0f, 1.0f / 32767.0f};

// Signals of several kinds: music-like tones, white noise, quiet noise, held
// values, random bit patterns; any kind may carry edge values sprinkled in.
struct SignalMaker {
    std::mt19937 rng;
    explicit SignalMaker(unsigned seed) : rng(seed) {}

    double uniform(double lo, double hi) {
        return std::uniform_real_distribution<double>(lo, hi)(rng);
    }
    int integer(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); }

    float edge() { return edgeValues[integer(0, static_cast<int>(std::size(edgeValues)) - 1)]; }

    float any_bits() {
        const uint32_t bits = rng();
        float f;
        memcpy(&f, &bits, sizeof f);
        return f;
    }

    Floats signal(size_t count, bool finiteOnly = false) {
        Floats s(count);
        const int kind = integer(0, 5);
        const double amplitude = std::pow(10.0, uniform(-4.0, 0.6));
        const double w1 = uniform(0.0005, 0.3), w2 = uniform(0.001, 1.5);
        const double phase = uniform(0.0, 6.28);
        for (size_t i = 0; i < count; ++i) {
            double v = 0.0;
            switch (kind) {
                case 0:
                    v = amplitude * (0.7 * std::sin(w1 * i + phase) + 0.3 * std::sin(w2 * i));
                    break;
                case 1: v = uniform(-amplitude, amplitude); break;
                case 2: v = uniform(-1.2, 1.2); break;
                case 3: v = (i / 37) % 2 ? amplitude : -0.5 * amplitude; break;
                case 4: v = amplitude * std::sin(w1 * i) * (1.0 + std::sin(0.002 * i)); break;
                default: v = 0.0; break;
            }
            s[i] = static_cast<float>(v);
            if (kind == 5) s[i] = finiteOnly ? static_cast<float>(uniform(-2.0, 2.0)) : any_bits();
        }
        const int sprinkle = integer(0, 3);
        if (sprinkle > 0 && count > 0) {
            const int edges = integer(1, 1 + static_cast<int>(count) / 16);
            for (int k = 0; k < edges; ++k) {
                float e = edge();
                if (finiteOnly && !std::isfinite(e)) e = 1.0f;
                s[static_cast<size_t>(integer(0, static_cast<int>(count) - 1))] = e;
            }
        }
        return s;
    }
};

// Block lengths in samples: every short one, the host's block and its
// neighbours, and odd ones.
std::vector<int> block_lengths() {
    std::vector<int> n;
    for (int i = 0; i <= 40; ++i) n.push_back(i);
    for (int i : {63, 64, 65, 255, 256, 257, 575, 576, 577, 1151, 1152, 1153, 2047, 4097})
        n.push_back(i);
    return n;
}

const int rates[] = {8000, 11025, 22050, 44100, 48000, 96000, 5000, 192000};

// Three-character fields as the strings can hold them: digits, with now and
// then a sign, a point, a blank or a letter ending the number early.
std::string field(SignalMaker& m) {
    static const char odd[] = "-. x+";
    std::string f(3, '0');
    for (char& c : f) c = static_cast<char>('0' + m.integer(0, 9));
    if (m.integer(0, 5) == 0) f[static_cast<size_t>(m.integer(0, 2))] = odd[m.integer(0, 4)];
    return f;
}

MultibandParams random_params(SignalMaker& m, int rate) {
    std::string multi1 = "ma--f00300f03000f00000------------l020s025        ";
    std::string multi2(90, '-');
    for (int b = 0; b < 4; ++b) {
        const size_t at = 5 + 16 * static_cast<size_t>(b);
        multi2.replace(at - 1, 1, "m");
        multi2.replace(at, 3, field(m));
        multi2.replace(at + 3, 1, "u");
        multi2.replace(at + 4, 3, field(m));
        multi2.replace(at + 7, 1, "d");
        multi2.replace(at + 8, 3, field(m));
        multi2.replace(at + 11, 1, "t");
        multi2.replace(at + 12, 3, field(m));
    }
    std::string limiter = "l-s---th000re000ce000kn000ra000at000ho000                    ";
    for (size_t at : {8, 13, 18, 23, 28, 33, 38}) limiter.replace(at, 3, field(m));
    return convertMultibandStrings(multi1.c_str(), multi2.c_str(), limiter.c_str(), rate);
}

// ---- Crossover sections ------------------------------------------------------

TEST(StageExactness, CrossoverSplitMatchesTheReference) {
    SignalMaker m(101);
    for (int n : block_lengths())
        for (int channels = 1; channels <= 2; ++channels)
            for (int trial = 0; trial < 12; ++trial) {
                const int rate = rates[m.integer(0, 7)];
                uint16_t hz[4] = {static_cast<uint16_t>(m.integer(0, 3) == 0 ? m.integer(0, 65535)
                                                                            : m.integer(20, 9000)),
                                  static_cast<uint16_t>(m.integer(0, 20000)),
                                  static_cast<uint16_t>(m.integer(0, 30000)), 0};
                CrossoverBank bank{};
                designCrossovers(bank, hz, rate);
                for (CrossoverSection& s : bank.sections) {
                    const int kind = m.integer(0, 4);
                    s.s1 = kind == 0 ? 0.0f : (kind == 4 ? m.edge() : m.signal(1, true)[0]);
                    s.s2 = kind == 0 ? 0.0f : (kind == 4 ? m.edge() : m.signal(1, true)[0]);
                }
                const int k = m.integer(0, 2);
                const Floats input = m.signal(static_cast<size_t>(n), trial % 3 != 0);
                Floats lowRef = input, lowNew = input;
                Floats highRef(static_cast<size_t>(n) + 1, 7.0f), highNew = highRef;
                CrossoverBank bankRef = bank, bankNew = bank;
                reference::splitBand(lowRef.data(), highRef.data(), bankRef, k, n, channels);
                splitBand(lowNew.data(), highNew.data(), bankNew, k, n, channels);
                ASSERT_TRUE(same_bits(lowRef, lowNew)) << n << " " << channels << " " << trial;
                ASSERT_TRUE(same_bits(highRef, highNew)) << n << " " << channels << " " << trial;
                ASSERT_TRUE(same_bank(bankRef, bankNew)) << n << " " << channels;
            }
}

// The fused cascade against the reference's separate passes: copy, then
// crossover j from band j into band j + 1, for the first 0..3 crossovers.
TEST(StageExactness, CrossoverCascadeMatchesSeparateReferencePasses) {
    SignalMaker m(111);
    for (int n : block_lengths())
        for (int channels = 1; channels <= 2; ++channels)
            for (int crossovers = 0; crossovers <= 3; ++crossovers)
                for (int trial = 0; trial < 4; ++trial) {
                    const int rate = rates[m.integer(0, 7)];
                    uint16_t hz[4] = {static_cast<uint16_t>(m.integer(20, 9000)),
                                      static_cast<uint16_t>(m.integer(0, 30000)),
                                      static_cast<uint16_t>(m.integer(0, 65535)), 0};
                    CrossoverBank bank{};
                    designCrossovers(bank, hz, rate);
                    for (CrossoverSection& s : bank.sections) {
                        s.s1 = trial == 3 ? m.edge() : static_cast<float>(m.uniform(-1, 1));
                        s.s2 = trial == 3 ? m.edge() : static_cast<float>(m.uniform(-1, 1));
                    }
                    const Floats input = m.signal(static_cast<size_t>(n), trial % 2 == 0);
                    std::vector<Floats> ref(4, Floats(static_cast<size_t>(n) + 1, 3.0f));
                    std::vector<Floats> now = ref;
                    CrossoverBank bankRef = bank, bankNow = bank;
                    std::copy(input.begin(), input.end(), ref[0].begin());
                    for (int j = 0; j < crossovers; ++j)
                        reference::splitBand(ref[j].data(), ref[j + 1].data(), bankRef, j, n,
                                             channels);
                    float* const bands[4] = {now[0].data(), now[1].data(), now[2].data(),
                                             now[3].data()};
                    splitBands(input.data(), bands, bankNow, crossovers, n, channels);
                    for (int b = 0; b < 4; ++b)
                        ASSERT_TRUE(same_bits(ref[b], now[b]))
                            << "band " << b << ", " << n << " " << channels << " " << crossovers;
                    ASSERT_TRUE(same_bank(bankRef, bankNow))
                        << n << " " << channels << " " << crossovers;
                }
}

// ---- Band gain computers -----------------------------------------------------

TEST(StageExactness, BandGainMatchesTheReference) {
    SignalMaker m(202);
    for (int n : block_lengths())
        for (int channels = 1; channels <= 2; ++channels)
            for (int trial = 0; trial < 16; ++trial) {
                const int rate = rates[m.integer(0, 7)];
                const MultibandParams params = random_params(m, rate);
                const BandParams& b = params.bands[m.integer(0, 3)];
                const int frames = n / channels;
                const int lookahead = m.integer(0, 3) == 0 ? m.integer(0, 3) : m.integer(0, 150);
                const size_t length = static_cast<size_t>(frames + lookahead) * channels + 2;
                const Floats p = m.signal(length, trial % 4 != 0);
                const float up = static_cast<float>(b.upStep);
                const float down = static_cast<float>(b.downStep);
                const float maxGain = static_cast<float>(b.maxGain);
                const float threshold = static_cast<float>(b.threshold);
                float gain = static_cast<float>(m.uniform(0.0, 1.2) * maxGain);
                if (trial % 5 == 1) gain = m.edge();
                if (trial % 5 == 2) gain = maxGain;
                const bool readouts = trial % 2 == 0;
                Floats pRef = p, pNew = p;
                float readRef = -3.0f, readNew = -3.0f;
                // Whole frames as the engine passes them, and now and then
                // an odd count (the last frame then reaches one sample on).
                const int usable = trial % 3 == 0 ? n : frames * channels;
                const float gRef = reference::computeBandGain(
                    pRef.data(), usable, channels, gain, up, down, maxGain, threshold,
                    readouts ? &readRef : nullptr, lookahead);
                const float gNew = computeBandGain(pNew.data(), usable, channels, gain, up, down,
                                                   maxGain, threshold,
                                                   readouts ? &readNew : nullptr, lookahead);
                ASSERT_TRUE(same_float(gRef, gNew)) << n << " " << channels << " " << trial;
                ASSERT_TRUE(same_float(readRef, readNew)) << n << " " << channels << " " << trial;
                ASSERT_TRUE(same_bits(pRef, pNew)) << n << " " << channels << " " << trial;
            }
}

// The fused split and gain pass against the reference's split passes and
// gain computers, band by band, with delay histories in front of the blocks.
TEST(StageExactness, SplitAndScaleBandsMatchesTheReferencePasses) {
    SignalMaker m(909);
    for (int n : block_lengths())
        for (int channels = 1; channels <= 2; ++channels)
            for (int crossovers = 0; crossovers <= 3; ++crossovers)
                for (int trial = 0; trial < 3; ++trial) {
                    const int rate = rates[m.integer(0, 7)];
                    const int delay = multibandDelayFrames(rate, channels);
                    const int span = delay * channels;
                    int lookahead = delay < bandLookaheadFrames ? delay : bandLookaheadFrames;
                    if (trial == 2) lookahead = m.integer(0, lookahead);
                    const MultibandParams params = random_params(m, rate);
                    uint16_t hz[4] = {static_cast<uint16_t>(m.integer(20, 9000)),
                                      static_cast<uint16_t>(m.integer(0, 30000)),
                                      static_cast<uint16_t>(m.integer(0, 65535)), 0};
                    CrossoverBank bank{};
                    designCrossovers(bank, hz, rate);
                    for (CrossoverSection& sec : bank.sections) {
                        sec.s1 = static_cast<float>(m.uniform(-1, 1));
                        sec.s2 = static_cast<float>(m.uniform(-1, 1));
                    }
                    float up[4], down[4], maxGain[4], threshold[4], gain[4];
                    for (int j = 0; j < 4; ++j) {
                        up[j] = static_cast<float>(params.bands[j].upStep);
                        down[j] = static_cast<float>(params.bands[j].downStep);
                        maxGain[j] = static_cast<float>(params.bands[j].maxGain);
                        threshold[j] = static_cast<float>(params.bands[j].threshold);
                        gain[j] = static_cast<float>(m.uniform(0.0, 1.2) * maxGain[j]);
                    }
                    const Floats input = m.signal(static_cast<size_t>(n), trial != 1);
                    const size_t size = static_cast<size_t>(n + span) + 1;
                    std::vector<Floats> ref(4), now(4);
                    for (int j = 0; j < 4; ++j) {
                        ref[j] = m.signal(size, true);  // histories (and beyond)
                        now[j] = ref[j];
                    }
                    CrossoverBank bankRef = bank, bankNow = bank;
                    float gainRef[4], gainNow[4], readRef[4] = {-1, -1, -1, -1},
                                                  readNow[4] = {-1, -1, -1, -1};
                    std::copy(gain, gain + 4, gainRef);
                    std::copy(gain, gain + 4, gainNow);
                    const bool readouts = (n + trial) % 2 == 0;

                    std::copy(input.begin(), input.end(), ref[0].begin() + span);
                    for (int j = 0; j < crossovers; ++j)
                        reference::splitBand(ref[j].data() + span, ref[j + 1].data() + span,
                                             bankRef, j, n, channels);
                    for (int j = 0; j <= crossovers; ++j)
                        gainRef[j] = reference::computeBandGain(
                            ref[j].data(), n, channels, gainRef[j], up[j], down[j], maxGain[j],
                            threshold[j], readouts ? readRef + j : nullptr, lookahead);

                    float* const bands[4] = {now[0].data(), now[1].data(), now[2].data(),
                                             now[3].data()};
                    splitAndScaleBands(input.data(), bands, bankNow, crossovers, n, channels, span,
                                       lookahead, up, down, maxGain, threshold, gainNow,
                                       readouts ? readNow : nullptr);
                    for (int j = 0; j < 4; ++j) {
                        ASSERT_TRUE(same_bits(ref[j], now[j]))
                            << "band " << j << ", " << n << " " << channels << " " << crossovers;
                        ASSERT_TRUE(same_float(gainRef[j], gainNow[j])) << j;
                        ASSERT_TRUE(same_float(readRef[j], readNow[j])) << j;
                    }
                    ASSERT_TRUE(same_bank(bankRef, bankNow)) << n << " " << channels;
                }
}

// ---- Limiter envelope and curve ------------------------------------------------

struct LimiterCase {
    int rate;
    int channels;
    int n;
    int length;
    float attackMs;
    unsigned releaseMs;
    int lookahead;
    int hold;
    LimiterState state;
    float thresholdDb, kneeDb, ratio, makeupDb;
};

// Parameters as the engine derives them from random strings, and now and then
// beyond what the strings reach.
LimiterCase random_limiter_case(SignalMaker& m, int n, int channels) {
    LimiterCase c{};
    c.rate = rates[m.integer(0, 7)];
    c.channels = channels;
    c.n = n;
    const MultibandParams params = random_params(m, c.rate);
    const LimiterParams& lp = params.limiter;
    const int delay = multibandDelayFrames(c.rate, channels);
    c.length = n + delay * channels;
    c.attackMs = static_cast<float>(lp.attackMs);
    c.releaseMs = lp.releaseMs;
    c.lookahead = limiterLookahead(c.attackMs, c.rate, delay);
    c.hold = limiterHoldSamples(lp.holdMs, c.rate);
    c.thresholdDb = static_cast<float>(lp.thresholdDb);
    c.kneeDb = static_cast<float>(lp.kneeDb);
    c.ratio = static_cast<float>(lp.ratio);
    c.makeupDb = static_cast<float>(lp.ceilingDb - lp.thresholdDb);
    switch (m.integer(0, 9)) {
        case 0: c.lookahead = m.integer(-5, c.length + 5); break;
        case 1: c.hold = m.integer(-5, 70000); break;
        case 2: c.ratio = m.edge(); break;
        case 3: c.kneeDb = m.integer(0, 1) ? 0.0f : m.edge(); break;
        case 4: c.releaseMs = static_cast<unsigned>(m.integer(0, 2)); break;
        case 5: c.attackMs = m.edge(); break;
        case 6: c.ratio = static_cast<float>(m.uniform(0.5, 30.0)); break;
        default: break;
    }
    for (int ch = 0; ch < 2; ++ch) {
        c.state.envelope[ch] =
            m.integer(0, 3) == 0 ? m.edge() : static_cast<float>(m.uniform(0, 1.5));
        c.state.hold[ch] = static_cast<uint16_t>(m.integer(0, 1) ? 0 : m.integer(0, 65535));
    }
    return c;
}

TEST(StageExactness, LimiterEnvelopeMatchesTheReference) {
    SignalMaker m(303);
    for (int n : block_lengths())
        for (int channels = 1; channels <= 2; ++channels)
            for (int trial = 0; trial < 12; ++trial) {
                const LimiterCase c = random_limiter_case(m, n, channels);
                const Floats signal = m.signal(static_cast<size_t>(c.length), trial % 3 != 0);
                Floats eRef(static_cast<size_t>(c.length) + 1, -5.0f), eNew = eRef;
                LimiterState sRef = c.state, sNew = c.state;
                reference::limiterEnvelope(signal.data(), eRef.data(), n, c.length, channels,
                                           c.rate, c.attackMs, c.releaseMs, c.lookahead, c.hold,
                                           sRef);
                limiterEnvelope(signal.data(), eNew.data(), n, c.length, channels, c.rate,
                                c.attackMs, c.releaseMs, c.lookahead, c.hold, sNew);
                ASSERT_TRUE(same_bits(eRef, eNew)) << n << " " << channels << " " << trial;
                ASSERT_TRUE(same_state(sRef, sNew)) << n << " " << channels;
            }
}

TEST(StageExactness, LimiterCurveMatchesTheReference) {
    SignalMaker m(404);
    for (int n : block_lengths())
        for (int channels = 1; channels <= 2; ++channels)
            for (int trial = 0; trial < 24; ++trial) {
                const LimiterCase c = random_limiter_case(m, n, channels);
                const int usable = n / channels * channels;
                const Floats signal = m.signal(static_cast<size_t>(n) + 1, trial % 3 != 0);
                // Envelopes as the envelope pass makes them, or arbitrary ones.
                Floats envelope(static_cast<size_t>(c.length) + 1, 0.0f);
                if (trial % 2 == 0) {
                    const Floats s = m.signal(static_cast<size_t>(c.length), true);
                    LimiterState state = c.state;
                    reference::limiterEnvelope(s.data(), envelope.data(), n, c.length, channels,
                                               c.rate, c.attackMs, c.releaseMs, c.lookahead,
                                               c.hold, state);
                } else {
                    envelope = m.signal(static_cast<size_t>(c.length) + 1, trial % 4 != 1);
                    for (float& e : envelope) e = std::fabs(e);
                }
                Floats sRef = signal, sNew = signal;
                reference::applyLimiterCurve(sRef.data(), envelope.data(), usable, channels,
                                             c.thresholdDb, c.kneeDb, c.ratio, c.makeupDb);
                applyLimiterCurve(sNew.data(), envelope.data(), usable, channels, c.thresholdDb,
                                  c.kneeDb, c.ratio, c.makeupDb);
                ASSERT_TRUE(same_bits(sRef, sNew))
                    << n << " " << channels << " " << trial << " T " << c.thresholdDb << " K "
                    << c.kneeDb << " ratio " << c.ratio << " makeup " << c.makeupDb;
            }
}

// Envelope and curve in one call against the reference's two calls, on the
// engine's layout (the limiter input followed by its lookahead) and beyond.
TEST(StageExactness, LimitBlockMatchesTheReferenceEnvelopeThenCurve) {
    SignalMaker m(808);
    for (int n : block_lengths())
        for (int channels = 1; channels <= 3; ++channels)
            for (int trial = 0; trial < (channels == 3 ? 2 : 12); ++trial) {
                LimiterCase c = random_limiter_case(m, n, channels);
                if (trial == 5) c.length = n > 0 ? n - 1 : 0;  // too short: no envelope
                const Floats signal = m.signal(static_cast<size_t>(c.length) + 1, trial % 3 != 0);
                const Floats envelope = m.signal(static_cast<size_t>(c.length) + 1, true);
                Floats sRef = signal, sNew = signal, eRef = envelope, eNew = envelope;
                LimiterState stRef = c.state, stNew = c.state;
                reference::limiterEnvelope(sRef.data(), eRef.data(), n, c.length, channels, c.rate,
                                           c.attackMs, c.releaseMs, c.lookahead, c.hold, stRef);
                reference::applyLimiterCurve(sRef.data(), eRef.data(), n, channels, c.thresholdDb,
                                             c.kneeDb, c.ratio, c.makeupDb);
                limitBlock(sNew.data(), eNew.data(), n, c.length, channels, c.rate, c.attackMs,
                           c.releaseMs, c.lookahead, c.hold, stNew, c.thresholdDb, c.kneeDb,
                           c.ratio, c.makeupDb);
                ASSERT_TRUE(same_bits(sRef, sNew)) << n << " " << channels << " " << trial;
                ASSERT_TRUE(same_bits(eRef, eNew)) << n << " " << channels << " " << trial;
                ASSERT_TRUE(same_state(stRef, stNew)) << n << " " << channels << " " << trial;
            }
}

// The curve over a dense sweep of envelope levels around every corner the
// strings can put it at (threshold, knee edges), where a rounding difference
// in the level would show first.
TEST(StageExactness, LimiterCurveMatchesTheReferenceAcrossLevels) {
    SignalMaker m(505);
    for (int trial = 0; trial < 60; ++trial) {
        const LimiterCase c = random_limiter_case(m, 2, 2);
        const int count = 4096;
        Floats envelope(count), signal(count);
        const double centre = (trial % 3 == 0 ? c.thresholdDb
                                              : c.thresholdDb + (trial % 3 == 1 ? -0.5 : 0.5) *
                                                                    static_cast<double>(c.kneeDb));
        for (int i = 0; i < count; ++i) {
            const double db = centre + (i - count / 2) * (trial < 30 ? 1e-4 : 0.03);
            envelope[i] = static_cast<float>(std::pow(10.0, db / 20.0));
            signal[i] = static_cast<float>(m.uniform(-1.5, 1.5));
        }
        Floats sRef = signal, sNew = signal;
        reference::applyLimiterCurve(sRef.data(), envelope.data(), count, 2, c.thresholdDb,
                                     c.kneeDb, c.ratio, c.makeupDb);
        applyLimiterCurve(sNew.data(), envelope.data(), count, 2, c.thresholdDb, c.kneeDb,
                          c.ratio, c.makeupDb);
        ASSERT_TRUE(same_bits(sRef, sNew)) << trial;
        sRef = signal;
        sNew = signal;
        reference::applyLimiterCurve(sRef.data(), envelope.data(), count, 1, c.thresholdDb,
                                     c.kneeDb, c.ratio, c.makeupDb);
        applyLimiterCurve(sNew.data(), envelope.data(), count, 1, c.thresholdDb, c.kneeDb,
                          c.ratio, c.makeupDb);
        ASSERT_TRUE(same_bits(sRef, sNew)) << trial;
    }
}

// The curve's gains over their whole reach: levels from -800 to +800 dB
// (zeros, denormals and infinities among the envelopes) against thresholds
// that put the gain anywhere from 0 down to beyond -6000 dB, where the
// factor's exponent leaves the range of the two-frame evaluation (|argument|
// > 700, taken one by one) and the factor underflows; makeups up and down.
TEST(StageExactness, LimiterCurveMatchesTheReferenceOverTheWholeGainRange) {
    SignalMaker m(616);
    const float thresholds[] = {0.0f, -40.0f, -6000.0f, -6060.0f, 100.0f};
    const float makeups[] = {0.0f, 12.0f, -30.0f};
    for (float threshold : thresholds)
        for (float makeup : makeups)
            for (int channels = 1; channels <= 2; ++channels) {
                const int count = 8192;
                Floats envelope(count), signal(count);
                int beyond = 0, within = 0;
                for (int i = 0; i < count; ++i) {
                    const double db = -800.0 + 1600.0 * i / count + m.uniform(0.0, 0.2);
                    envelope[i] = static_cast<float>(std::pow(10.0, db / 20.0));
                    signal[i] = static_cast<float>(m.uniform(-1.5, 1.5));
                    const double argument = (threshold - db) / 20.0 * std::log(10.0);
                    if (db > threshold && std::isfinite(envelope[i]) && envelope[i] > 0.0f) {
                        ++(std::fabs(argument) > 700.0 ? beyond : within);
                    }
                }
                if (threshold < -5000.0f) {
                    EXPECT_GT(beyond, 100) << threshold;
                }
                EXPECT_GT(within, 100) << threshold;
                Floats ref = signal, now = signal;
                reference::applyLimiterCurve(ref.data(), envelope.data(), count, channels,
                                             threshold, 3.0f, 30.0f, makeup);
                applyLimiterCurve(now.data(), envelope.data(), count, channels, threshold, 3.0f,
                                  30.0f, makeup);
                ASSERT_TRUE(same_bits(ref, now)) << threshold << " " << makeup << " " << channels;
            }
}

// Products that land within the fast path's error bound of a rounding
// midpoint take the slow path (pow). A gain of 1 - 2^-24 puts x = 2^m (1 +
// k 2^-23) times the gain 2^(m-47) k below the midpoint under x: a level
// 2^-23 above 0 dB over a threshold just below it gives that gain (straight
// part, slope 1, no makeup).
TEST(StageExactness, LimiterCurveMatchesTheReferenceOnRoundingMidpoints) {
    const float e = 1.0f + 0x1p-23f;
    const float level = static_cast<float>(20.0 * std::log10(static_cast<double>(e)));
    const double wanted = 20.0 * std::log10(1.0 - 0x1p-24);
    const float threshold = static_cast<float>(level + wanted);
    const float g = static_cast<float>(static_cast<double>(threshold) - level);
    const double gain = std::pow(10.0, g / 20.0);
    for (int channels = 1; channels <= 2; ++channels) {
        Floats signal;
        for (int m = -30; m <= 30; ++m)
            for (int k = 1; k <= 3; ++k) {
                const float x = std::ldexp(1.0f + static_cast<float>(k) * 0x1p-23f, m);
                signal.push_back(x);
                signal.push_back(-x);
            }
        const int count = static_cast<int>(signal.size());
        const Floats envelope(signal.size(), e);
        int nearMidpoint = 0;
        for (float x : signal) {
            const double v = gain * std::fabs(x);
            const double below = std::nextafter(std::fabs(x), 0.0f);
            if (std::fabs(v - (std::fabs(x) + below) / 2.0) < v * 0x1p-45) ++nearMidpoint;
        }
        EXPECT_GT(nearMidpoint, count / 2);  // the slow path is really taken
        Floats ref = signal, now = signal;
        reference::applyLimiterCurve(ref.data(), envelope.data(), count, channels, threshold,
                                     0.0f, 30.0f, 0.0f);
        applyLimiterCurve(now.data(), envelope.data(), count, channels, threshold, 0.0f, 30.0f,
                          0.0f);
        ASSERT_TRUE(same_bits(ref, now)) << channels;
    }
}

// ---- Soft clip and output conversion -------------------------------------------

TEST(StageExactness, SoftClipMatchesTheReference) {
    SignalMaker m(606);
    for (int n : block_lengths())
        for (int mode : {0, 1, 2, 3})
            for (int trial = 0; trial < 8; ++trial) {
                const Floats samples = m.signal(static_cast<size_t>(n) + 1, trial % 2 == 0);
                Floats ref = samples, now = samples;
                reference::softClip(ref.data(), n, mode);
                softClip(now.data(), n, mode);
                ASSERT_TRUE(same_bits(ref, now)) << n << " mode " << mode << " " << trial;
            }
    // Every float between -2 and 2 with a coarse stride, and all near the corners.
    Floats sweep;
    for (uint32_t bits = 0; bits < 0x40000000u; bits += 997) {
        float f;
        memcpy(&f, &bits, sizeof f);
        sweep.push_back(f);
        sweep.push_back(-f);
    }
    for (float corner : {1.41421354f, 1.0f, 0.0f}) {
        float up = corner, down = corner;
        for (int k = 0; k < 300; ++k) {
            for (float f : {up, -up, down, -down}) sweep.push_back(f);
            up = std::nextafter(up, 3.0f);
            down = std::nextafter(down, -3.0f);
        }
    }
    for (int mode : {1, 2}) {
        Floats ref = sweep, now = sweep;
        reference::softClip(ref.data(), static_cast<int>(ref.size()), mode);
        softClip(now.data(), static_cast<int>(now.size()), mode);
        ASSERT_TRUE(same_bits(ref, now)) << "sweep, mode " << mode;
    }
}

TEST(StageExactness, OutputConversionMatchesTheReference) {
    // Every 251st bit pattern (all exponents, NaNs and infinities included)
    // and every float within 40 steps of each output step k / 32767.
    std::vector<float> values;
    for (uint64_t bits = 0; bits <= 0xffffffffu; bits += 251) {
        const uint32_t b = static_cast<uint32_t>(bits);
        float f;
        memcpy(&f, &b, sizeof f);
        values.push_back(f);
    }
    for (int k = -32768; k <= 32768; ++k) {
        float f = static_cast<float>(k / 32767.0);
        for (int j = 0; j < 40; ++j) f = std::nextafter(f, -INFINITY);
        for (int j = 0; j < 80; ++j) {
            values.push_back(f);
            f = std::nextafter(f, INFINITY);
        }
    }
    for (float e : edgeValues) values.push_back(e);
    size_t differences = 0;
    for (float v : values)
        if (reference::multibandOutputSample(v) != multibandOutputSample(v)) ++differences;
    EXPECT_EQ(differences, 0u);
    EXPECT_GT(values.size(), 5000000u);
    // The block form over the same values.
    std::vector<int16_t> block(values.size());
    multibandOutputSamples(values.data(), block.data(), static_cast<int>(values.size()));
    differences = 0;
    for (size_t i = 0; i < values.size(); ++i)
        if (reference::multibandOutputSample(values[i]) != block[i]) ++differences;
    EXPECT_EQ(differences, 0u);
}

// The block loops of the processor: every start offset (alignment) and
// length up to 40, then long blocks.
TEST(StageExactness, BlockConversionsMatchTheReference) {
    SignalMaker m(707);
    std::vector<int16_t> every(65536 + 64);
    for (size_t i = 0; i < every.size(); ++i) every[i] = static_cast<int16_t>(i * 7919u);
    for (int offset = 0; offset < 4; ++offset)
        for (int n : block_lengths()) {
            Floats ref(static_cast<size_t>(n) + 1, 5.0f), now = ref;
            reference::inputSamples(every.data() + offset, ref.data(), n);
            multibandInputSamples(every.data() + offset, now.data(), n);
            ASSERT_TRUE(same_bits(ref, now)) << "input " << offset << " " << n;
        }
    {
        std::vector<int16_t> all(65536);
        for (int i = 0; i < 65536; ++i)
            all[static_cast<size_t>(i)] = static_cast<int16_t>(i - 32768);
        Floats ref(65536), now(65536);
        reference::inputSamples(all.data(), ref.data(), 65536);
        multibandInputSamples(all.data(), now.data(), 65536);
        ASSERT_TRUE(same_bits(ref, now)) << "every 16-bit value";
    }

    for (int trial = 0; trial < 40; ++trial)
        for (int offset = 0; offset < 4; ++offset)
            for (int n : block_lengths()) {
                const Floats y = m.signal(static_cast<size_t>(n) + 4, false);
                std::vector<int16_t> ref(static_cast<size_t>(n) + 1, 99), now = ref;
                reference::outputSamples(y.data() + offset, ref.data(), n);
                multibandOutputSamples(y.data() + offset, now.data(), n);
                ASSERT_EQ(ref, now) << "output " << offset << " " << n;

                const double levels[] = {0.025 * m.integer(-99, 999) + 0.5, 1.0, 0.85, 0.0,
                                         -0.5, 1e30, std::numeric_limits<double>::infinity()};
                const double level = levels[trial % 7];
                Floats a(y.begin() + offset, y.end()), b = a;
                reference::scaleSamples(a.data(), n, level);
                scaleSamples(b.data(), n, level);
                ASSERT_TRUE(same_bits(a, b)) << "level " << level << " " << n;

                const Floats other = m.signal(static_cast<size_t>(n) + 4, false);
                Floats e(y.begin() + offset, y.end()), f = e;
                reference::addSamples(e.data(), other.data() + offset, n);
                addSamples(f.data(), other.data() + offset, n);
                ASSERT_TRUE(same_bits(e, f)) << "sum " << n;

                const int percent = trial % 5 == 0 ? 2 * m.integer(-99, 999) - 40
                                                   : 2 * m.integer(0, 100) - 40;
                const int even = n / 2 * 2;
                Floats c(y.begin() + offset, y.end()), d = c;
                reference::spreadStereo(c.data(), even, percent);
                spreadStereo(d.data(), even, percent);
                ASSERT_TRUE(same_bits(c, d)) << "stereo " << percent << " " << even;
            }
}

}  // namespace
