// The crossover sections' filter steps, shared by the crossover bank and the
// band processor's fused loop. Plain inline records; see crossover.cpp.
#pragma once

#include <cmath>

#include "dsp/engine_types.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "dsp/sse_pairs.h"

// One section's step; y, s1 and s2 are rounded to float where stored.
struct SectionRun {
    double b0, b1, b2, a1, a2;
    float s1, s2;

    SectionRun() : b0(0), b1(0), b2(0), a1(0), a2(0), s1(0), s2(0) {}
    explicit SectionRun(const CrossoverSection& s)
        : b0(s.b0), b1(s.b1), b2(s.b2), a1(s.a1), a2(s.a2), s1(s.s1), s2(s.s2) {}

    // Filters x; returns the low-pass output y, the remainder is x - y.
    float filter(float x) {
        const float y = static_cast<float>(b0 * x + s1);
        s1 = static_cast<float>(b1 * x + s2 - a1 * y);
        s2 = static_cast<float>(b2 * x - a2 * y);
        return y;
    }

    void step(float* low, float* high, int i) {
        const float x = low[i];
        const float y = filter(x);
        high[i] = static_cast<float>(static_cast<double>(x) - y);
        low[i] = y;
    }

    void store(CrossoverSection& s) {
        // A section designed at or above half the rate can run away; its state
        // must not stay infinite once a sound design replaces it.
        if (!std::isfinite(s1) || !std::isfinite(s2)) s1 = s2 = 0.0f;
        s.s1 = s1;
        s.s2 = s2;
    }
};

// One sample (mono) through a section: y to `low`, returns the remainder.
inline float cascade_step(SectionRun& run, float x, float* low) {
    const float y = run.filter(x);
    *low = y;
    return static_cast<float>(static_cast<double>(x) - y);
}

#if defined(__SSE2__)
// A crossover's two channel sections in the two lanes of SSE2 registers, left
// in the low lane: lane by lane the double operations of SectionRun::filter in
// its order, rounded to float where it rounds (s1, s2 and y hold float values
// as doubles).
struct SectionPair {
    __m128d b0, b1, b2, a1, a2, s1, s2;

    SectionPair(const CrossoverSection& l, const CrossoverSection& r)
        : b0(_mm_set_pd(r.b0, l.b0)),
          b1(_mm_set_pd(r.b1, l.b1)),
          b2(_mm_set_pd(r.b2, l.b2)),
          a1(_mm_set_pd(r.a1, l.a1)),
          a2(_mm_set_pd(r.a2, l.a2)),
          s1(_mm_set_pd(r.s1, l.s1)),
          s2(_mm_set_pd(r.s2, l.s2)) {}

    static __m128d to_float(__m128d v) { return _mm_cvtps_pd(_mm_cvtpd_ps(v)); }

    // Filters the frame x; stores y (two floats) at `low`; returns the
    // remainder float(x - y).
    __m128d step(__m128d x, float* low) {
        const __m128d y = to_float(_mm_add_pd(_mm_mul_pd(b0, x), s1));
        s1 = to_float(_mm_sub_pd(_mm_add_pd(_mm_mul_pd(b1, x), s2), _mm_mul_pd(a1, y)));
        s2 = to_float(_mm_sub_pd(_mm_mul_pd(b2, x), _mm_mul_pd(a2, y)));
        store_float_pair(low, _mm_cvtpd_ps(y));
        return to_float(_mm_sub_pd(x, y));
    }

    // The scalar runs of the two channels with the states reached so far.
    void unpack(const CrossoverSection& l, const CrossoverSection& r, SectionRun& left,
                SectionRun& right) const {
        left = SectionRun(l);
        right = SectionRun(r);
        left.s1 = static_cast<float>(_mm_cvtsd_f64(s1));
        left.s2 = static_cast<float>(_mm_cvtsd_f64(s2));
        right.s1 = static_cast<float>(_mm_cvtsd_f64(_mm_unpackhi_pd(s1, s1)));
        right.s2 = static_cast<float>(_mm_cvtsd_f64(_mm_unpackhi_pd(s2, s2)));
    }
};

inline __m128d load_frame(const float* p) {
    return _mm_cvtps_pd(load_float_pair(p));
}
#endif
