// One biquad section in transposed direct form II, in doubles (coefficients
// b0, b1, b2, a1, a2): the K-weighting of the output stage's leveller and of
// the loudness meters. The SSE2 form runs both channels of a stereo frame in
// the two lanes of each register.
#pragma once

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

inline double biquad1(const double* c, double x, double& s1, double& s2) {
    const double y = c[0] * x + s1;
    s1 = (c[1] * x + s2) - c[3] * y;
    s2 = c[2] * x - c[4] * y;
    return y;
}

#if defined(__SSE2__)
struct Biquad2 {
    __m128d b0, b1, b2, a1, a2;
};

// The terms that do not wait for y are added first: from one frame's s1 to
// the next's there are one addition, one multiplication and one subtraction.
inline __m128d biquad2(const Biquad2& f, __m128d x, __m128d& s1, __m128d& s2) {
    const __m128d y = _mm_add_pd(_mm_mul_pd(f.b0, x), s1);
    s1 = _mm_sub_pd(_mm_add_pd(_mm_mul_pd(f.b1, x), s2), _mm_mul_pd(f.a1, y));
    s2 = _mm_sub_pd(_mm_mul_pd(f.b2, x), _mm_mul_pd(f.a2, y));
    return y;
}

inline Biquad2 biquad_lanes(const double* c) {
    return {_mm_set1_pd(c[0]), _mm_set1_pd(c[1]), _mm_set1_pd(c[2]), _mm_set1_pd(c[3]),
            _mm_set1_pd(c[4])};
}
#endif
