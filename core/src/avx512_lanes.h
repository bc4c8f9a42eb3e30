// Eight columns per AVX-512 vector, with mask registers: hardware gathers,
// and 16-sample windows picked from with one two-table permute.
#pragma once

#include <immintrin.h>

#include <cstdint>

namespace quelmor::detail {
namespace {

struct Avx512Lanes {
    using Real = __m512d;
    using Mask = __mmask8;
    static constexpr int width = 8;
    static constexpr int viewsPerPass = 8;
    static constexpr int registers = 32;

    static Real splat(double x) { return _mm512_set1_pd(x); }
    static Real laneIndex() { return _mm512_set_pd(7.0, 6.0, 5.0, 4.0, 3.0, 2.0, 1.0, 0.0); }
    static Real add(Real a, Real b) { return _mm512_add_pd(a, b); }
    static Real sub(Real a, Real b) { return _mm512_sub_pd(a, b); }
    static Real mul(Real a, Real b) { return _mm512_mul_pd(a, b); }
    // a * b + c and c - a * b, each rounded once.
    static Real multiplyAdd(Real a, Real b, Real c) { return _mm512_fmadd_pd(a, b, c); }
    static Real negatedMultiplyAdd(Real a, Real b, Real c) { return _mm512_fnmadd_pd(a, b, c); }
    // a != b per lane (true for NaN).
    static Mask differs(Real a, Real b) { return _mm512_cmp_pd_mask(a, b, _CMP_NEQ_UQ); }
    // Each lane's mask as the bits of a double: all clear or all set.
    static void storeMask(double* out, Mask mask) {
        _mm512_storeu_pd(out, _mm512_castsi512_pd(_mm512_maskz_set1_epi64(mask, -1)));
    }
    // The width doubles at p where *flag's bits are set, `otherwise` where clear; p is not read
    // then.
    static Real loadWhere(const double* flag, Real otherwise, const double* p) {
        return _mm512_mask_loadu_pd(otherwise, *reinterpret_cast<const unsigned char*>(flag), p);
    }
    static Real load(const double* p) { return _mm512_loadu_pd(p); }
    static void store(double* p, Real x) { _mm512_storeu_pd(p, x); }
    // Whole numbers below 2^31 in magnitude, as 32-bit integers.
    static void storeWholeNumbers(std::int32_t* out, Real x) {
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), _mm512_cvttpd_epi32(x));
    }
    static Real floor(Real x) {
        return _mm512_roundscale_pd(x, _MM_FROUND_TO_NEG_INF | _MM_FROUND_NO_EXC);
    }
    static Mask within(Real x, double lo, double hi) {
        const Mask aboveLo = _mm512_cmp_pd_mask(_mm512_set1_pd(lo), x, _CMP_LE_OQ);
        return _mm512_mask_cmp_pd_mask(aboveLo, x, _mm512_set1_pd(hi), _CMP_LT_OQ);
    }
    static Mask maskOr(Mask a, Mask b) { return static_cast<Mask>(a | b); }
    static Mask allLanes() { return 0xFF; }
    static Real select(Mask mask, Real x) { return _mm512_maskz_mov_pd(mask, x); }
    // Sixteen consecutive samples; the permute reads bits [3:0] of each
    // position's low mantissa bits. Masked-out elements of a masked load
    // never fault.
    struct Window {
        Real low, high;
    };
    static constexpr int windowSize = 16;
    static Window loadWindow(const double* first) {
        return {_mm512_loadu_pd(first), _mm512_loadu_pd(first + 8)};
    }
    static Window loadWindowMasked(std::uintptr_t address, unsigned present) {
        return {_mm512_maskz_loadu_pd(static_cast<Mask>(present),
                                      reinterpret_cast<const void*>(address)),
                _mm512_maskz_loadu_pd(static_cast<Mask>(present >> 8),
                                      reinterpret_cast<const void*>(address + 64))};
    }
    static Real pick(const Window& window, Real position) {
        return _mm512_permutex2var_pd(window.low, _mm512_castpd_si512(position), window.high);
    }
    // Bit 4 of the position says which of two side-by-side windows holds
    // its sample.
    static Real pickEither(Real position, Real fromFirst, Real fromSecond) {
        const Mask second =
            _mm512_test_epi64_mask(_mm512_castpd_si512(position), _mm512_set1_epi64(windowSize));
        return _mm512_mask_blend_pd(second, fromFirst, fromSecond);
    }
    // a + b rounded toward -infinity, whatever the thread's rounding mode.
    static Real addRoundingDown(Real a, Real b) {
        return _mm512_add_round_pd(a, b, _MM_FROUND_TO_NEG_INF | _MM_FROUND_NO_EXC);
    }
    static Real gather(const double* samples, Real index, Mask mask) {
        const __m256i lanes = _mm512_cvttpd_epi32(_mm512_maskz_mov_pd(mask, index));
        return _mm512_mask_i32gather_pd(_mm512_setzero_pd(), mask, lanes, samples, 8);
    }
    [[gnu::always_inline]] static void transpose(Real (&rows)[width]) {
        Real pairs[width];
        for (int i = 0; i < width; i += 2) {
            pairs[i] = _mm512_unpacklo_pd(rows[i], rows[i + 1]);
            pairs[i + 1] = _mm512_unpackhi_pd(rows[i], rows[i + 1]);
        }
        // 0x88 takes 128-bit lanes 0 and 2 of each source, 0xDD lanes 1 and 3.
        Real quads[width];
        for (int i = 0; i < width; i += 4) {
            quads[i] = _mm512_shuffle_f64x2(pairs[i], pairs[i + 2], 0x88);
            quads[i + 1] = _mm512_shuffle_f64x2(pairs[i], pairs[i + 2], 0xDD);
            quads[i + 2] = _mm512_shuffle_f64x2(pairs[i + 1], pairs[i + 3], 0x88);
            quads[i + 3] = _mm512_shuffle_f64x2(pairs[i + 1], pairs[i + 3], 0xDD);
        }
        rows[0] = _mm512_shuffle_f64x2(quads[0], quads[4], 0x88);
        rows[4] = _mm512_shuffle_f64x2(quads[0], quads[4], 0xDD);
        rows[2] = _mm512_shuffle_f64x2(quads[1], quads[5], 0x88);
        rows[6] = _mm512_shuffle_f64x2(quads[1], quads[5], 0xDD);
        rows[1] = _mm512_shuffle_f64x2(quads[2], quads[6], 0x88);
        rows[5] = _mm512_shuffle_f64x2(quads[2], quads[6], 0xDD);
        rows[3] = _mm512_shuffle_f64x2(quads[3], quads[7], 0x88);
        rows[7] = _mm512_shuffle_f64x2(quads[3], quads[7], 0xDD);
    }
};

}  // namespace
}  // namespace quelmor::detail
