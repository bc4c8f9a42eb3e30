// Two columns per SSE2 vector: the baseline every x86 build has, the 32-bit
// one included. SSE2 has neither a rounding instruction nor a gather.
#pragma once

#include <emmintrin.h>

#include <cstdint>

namespace quelmor::detail {
namespace {

struct Sse2Lanes {
    using Real = __m128d;
    using Mask = __m128d;
    static constexpr int width = 2;
    static constexpr int viewsPerPass = 4;
    static constexpr int registers = sizeof(void*) == 8 ? 16 : 8;  // 8 on 32-bit x86

    static Real splat(double x) { return _mm_set1_pd(x); }
    static Real laneIndex() { return _mm_set_pd(1.0, 0.0); }
    static Real add(Real a, Real b) { return _mm_add_pd(a, b); }
    static Real sub(Real a, Real b) { return _mm_sub_pd(a, b); }
    static Real mul(Real a, Real b) { return _mm_mul_pd(a, b); }
    // a != b per lane (true for NaN).
    static Mask differs(Real a, Real b) { return _mm_cmpneq_pd(a, b); }
    // Each lane's mask as the bits of a double: all clear or all set.
    static void storeMask(double* out, Mask mask) { _mm_storeu_pd(out, mask); }
    // The width doubles at p where *flag's bits are set, `otherwise` where clear.
    static Real loadWhere(const double* flag, Real otherwise, const double* p) {
        const Real all = _mm_load1_pd(flag);
        return _mm_or_pd(_mm_and_pd(all, _mm_loadu_pd(p)), _mm_andnot_pd(all, otherwise));
    }
    static Real load(const double* p) { return _mm_loadu_pd(p); }
    static void store(double* p, Real x) { _mm_storeu_pd(p, x); }
    // Whole numbers below 2^31 in magnitude, as 32-bit integers.
    static void storeWholeNumbers(std::int32_t* out, Real x) {
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out), _mm_cvttpd_epi32(x));
    }

    // Truncate, step down where truncation went up, and keep the sign of x
    // so that floor(-0.0) stays -0.0. Exact for |x| < 2^31.
    static Real floor(Real x) {
        const Real truncated = _mm_cvtepi32_pd(_mm_cvttpd_epi32(x));
        const Real stepDown = _mm_and_pd(_mm_cmpgt_pd(truncated, x), _mm_set1_pd(1.0));
        const Real signOfX = _mm_and_pd(x, _mm_set1_pd(-0.0));
        return _mm_or_pd(_mm_sub_pd(truncated, stepDown), signOfX);
    }
    static Mask within(Real x, double lo, double hi) {
        return _mm_and_pd(_mm_cmple_pd(_mm_set1_pd(lo), x), _mm_cmplt_pd(x, _mm_set1_pd(hi)));
    }
    static Mask maskOr(Mask a, Mask b) { return _mm_or_pd(a, b); }
    static Real select(Mask mask, Real x) { return _mm_and_pd(mask, x); }
    static Mask allLanes() { return _mm_castsi128_pd(_mm_set1_epi32(-1)); }
    static Real gather(const double* samples, Real index, Mask mask) {
        const __m128i lanes = _mm_cvttpd_epi32(_mm_and_pd(mask, index));
        const int present = _mm_movemask_pd(mask);
        const double first = (present & 1) ? samples[_mm_cvtsi128_si32(lanes)] : 0.0;
        const double second =
            (present & 2) ? samples[_mm_cvtsi128_si32(_mm_shuffle_epi32(lanes, 1))] : 0.0;
        return _mm_set_pd(second, first);
    }
    [[gnu::always_inline]] static void transpose(Real (&rows)[width]) {
        const Real first = _mm_unpacklo_pd(rows[0], rows[1]);
        rows[1] = _mm_unpackhi_pd(rows[0], rows[1]);
        rows[0] = first;
    }
};

}  // namespace
}  // namespace quelmor::detail
