// Two adjacent floats (a stereo frame) to and from the low half of an SSE2
// register. The accesses go through __m128i, which may alias any type, so the
// compiler never mistakes them for accesses to a double.
#pragma once

#if defined(__SSE2__)
#include <emmintrin.h>

// p[0], p[1] in the two low float lanes (the upper two are 0).
inline __m128 load_float_pair(const float* p) {
    return _mm_castsi128_ps(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)));
}

// The two low float lanes of v to p[0], p[1].
inline void store_float_pair(float* p, __m128 v) {
    _mm_storel_epi64(reinterpret_cast<__m128i*>(p), _mm_castps_si128(v));
}
#endif
