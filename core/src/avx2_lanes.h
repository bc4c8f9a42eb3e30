// Four columns per AVX2 vector: hardware gathers, and 8-sample windows
// picked from with 32-bit permutes.
#pragma once

#include <immintrin.h>

#include <cstdint>

namespace quelmor::detail {
namespace {

struct Avx2Lanes {
    using Real = __m256d;
    using Mask = __m256d;
    static constexpr int width = 4;
    static constexpr int viewsPerPass = 2;  // 16 registers: keep the block's rows resident
    static constexpr int registers = sizeof(void*) == 8 ? 16 : 8;  // 8 on 32-bit x86

    static Real splat(double x) { return _mm256_set1_pd(x); }
    static Real laneIndex() { return _mm256_set_pd(3.0, 2.0, 1.0, 0.0); }
    static Real add(Real a, Real b) { return _mm256_add_pd(a, b); }
    static Real sub(Real a, Real b) { return _mm256_sub_pd(a, b); }
    static Real mul(Real a, Real b) { return _mm256_mul_pd(a, b); }
#ifdef __FMA__
    // a * b + c and c - a * b, each rounded once (units compiled with -mfma).
    static Real multiplyAdd(Real a, Real b, Real c) { return _mm256_fmadd_pd(a, b, c); }
    static Real negatedMultiplyAdd(Real a, Real b, Real c) { return _mm256_fnmadd_pd(a, b, c); }
#endif
    // a != b per lane (true for NaN).
    static Mask differs(Real a, Real b) { return _mm256_cmp_pd(a, b, _CMP_NEQ_UQ); }
    // Each lane's mask as the bits of a double: all clear or all set.
    static void storeMask(double* out, Mask mask) { _mm256_storeu_pd(out, mask); }
    // The width doubles at p where *flag's bits are set, `otherwise` where clear.
    static Real loadWhere(const double* flag, Real otherwise, const double* p) {
        const Real all = _mm256_broadcast_sd(flag);
        return _mm256_blendv_pd(otherwise, _mm256_loadu_pd(p), all);
    }
    static Real load(const double* p) { return _mm256_loadu_pd(p); }
    static void store(double* p, Real x) { _mm256_storeu_pd(p, x); }
    // Whole numbers below 2^31 in magnitude, as 32-bit integers.
    static void storeWholeNumbers(std::int32_t* out, Real x) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm256_cvttpd_epi32(x));
    }
    static Real floor(Real x) {
        return _mm256_round_pd(x, _MM_FROUND_TO_NEG_INF | _MM_FROUND_NO_EXC);
    }
    static Mask within(Real x, double lo, double hi) {
        return _mm256_and_pd(_mm256_cmp_pd(_mm256_set1_pd(lo), x, _CMP_LE_OQ),
                             _mm256_cmp_pd(x, _mm256_set1_pd(hi), _CMP_LT_OQ));
    }
    static Mask maskOr(Mask a, Mask b) { return _mm256_or_pd(a, b); }
    static Real select(Mask mask, Real x) { return _mm256_and_pd(mask, x); }
    static Mask allLanes() { return _mm256_castsi256_pd(_mm256_set1_epi64x(-1)); }

    // Eight consecutive samples in two vectors. For picking (forPicking) a
    // window holds the samples' low 32-bit halves in `low` and their high
    // halves in `high`, each in sample order; a position's low three
    // mantissa bits p then pick sample p with one 32-bit permute per half.
    struct Window {
        Real low, high;
    };
    static constexpr int windowSize = 8;
    static Window loadWindow(const double* first) {
        return {_mm256_loadu_pd(first), _mm256_loadu_pd(first + 4)};
    }
    // vmaskmovpd never touches the elements its mask leaves out.
    static Window loadWindowMasked(std::uintptr_t address, unsigned present) {
        const __m256i bits = _mm256_set1_epi64x(present);
        const __m256i lowBits = _mm256_set_epi64x(8, 4, 2, 1);
        const __m256i highBits = _mm256_set_epi64x(128, 64, 32, 16);
        return {_mm256_maskload_pd(reinterpret_cast<const double*>(address),
                                   _mm256_cmpeq_epi64(_mm256_and_si256(bits, lowBits), lowBits)),
                _mm256_maskload_pd(reinterpret_cast<const double*>(address + 32),
                                   _mm256_cmpeq_epi64(_mm256_and_si256(bits, highBits), highBits))};
    }
    // The halves of samples 0-3 (low) and 4-7 (high) apart: the in-lane
    // shuffle gives the order 0 1 4 5 2 3 6 7, the 64-bit permute restores it.
    static Window forPicking(const Window& window) {
        const __m256 first = _mm256_castpd_ps(window.low);
        const __m256 second = _mm256_castpd_ps(window.high);
        auto inOrder = [](__m256 halves) {
            return _mm256_permute4x64_pd(_mm256_castps_pd(halves), 0xD8);
        };
        return {inOrder(_mm256_shuffle_ps(first, second, 0x88)),
                inOrder(_mm256_shuffle_ps(first, second, 0xDD))};
    }
    static Real pick(const Window& window, Real position) {
        // p in both 32-bit halves of its lane.
        const __m256i place = _mm256_shuffle_epi32(_mm256_castpd_si256(position), 0xA0);
        const __m256i low = _mm256_permutevar8x32_epi32(_mm256_castpd_si256(window.low), place);
        const __m256i high = _mm256_permutevar8x32_epi32(_mm256_castpd_si256(window.high), place);
        return _mm256_castsi256_pd(_mm256_blend_epi32(low, high, 0xAA));
    }
    // Bit 3 of the position, moved to the sign, says which of two
    // side-by-side windows holds its sample.
    static Real pickEither(Real position, Real fromFirst, Real fromSecond) {
        return _mm256_blendv_pd(
            fromFirst, fromSecond,
            _mm256_castsi256_pd(_mm256_slli_epi64(_mm256_castpd_si256(position), 60)));
    }

    static Real gather(const double* samples, Real index, Mask mask) {
        const __m128i lanes = _mm256_cvttpd_epi32(_mm256_and_pd(mask, index));
        return _mm256_mask_i32gather_pd(_mm256_setzero_pd(), samples, lanes, mask, 8);
    }
    [[gnu::always_inline]] static void transpose(Real (&rows)[width]) {
        const Real low01 = _mm256_unpacklo_pd(rows[0], rows[1]);
        const Real high01 = _mm256_unpackhi_pd(rows[0], rows[1]);
        const Real low23 = _mm256_unpacklo_pd(rows[2], rows[3]);
        const Real high23 = _mm256_unpackhi_pd(rows[2], rows[3]);
        rows[0] = _mm256_permute2f128_pd(low01, low23, 0x20);
        rows[1] = _mm256_permute2f128_pd(high01, high23, 0x20);
        rows[2] = _mm256_permute2f128_pd(low01, low23, 0x31);
        rows[3] = _mm256_permute2f128_pd(high01, high23, 0x31);
    }
};

}  // namespace
}  // namespace quelmor::detail
