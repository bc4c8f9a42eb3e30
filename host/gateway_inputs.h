// What every gateway of the host modules reads the same way: the class of
// each input, and scalars truncated toward zero into 32-bit counts.
#pragma once

#include <cstdint>

#include "mex_binding.h"

namespace {

// The first of `count` inputs that is not a real, full double array, with its
// message from `messages`, or nullptr.
inline const char* firstNotRealDouble(const mxArray* const inputs[], int count,
                                      const char* const messages[]) {
    for (int i = 0; i < count; ++i) {
        if (!mxIsDouble(inputs[i]) || mxIsComplex(inputs[i]) || mxIsSparse(inputs[i])) {
            return messages[i];
        }
    }
    return nullptr;
}

// Truncates toward zero; false when the value is not finite or its
// truncation falls outside the signed 32-bit range.
inline bool truncateToInt32(double value, std::int32_t& result) {
    if (!(value > -2147483649.0 && value < 2147483648.0)) return false;
    result = static_cast<std::int32_t>(value);
    return true;
}

// Reads the scalar in the first element of `input` into `result`; returns the
// problem, or nullptr.
inline const char* readScalar(const mxArray* input, const char* emptyMessage,
                              const char* rangeMessage, std::int32_t& result) {
    if (mxGetNumberOfElements(input) == 0) return emptyMessage;
    if (!truncateToInt32(mxGetPr(input)[0], result)) return rangeMessage;
    return nullptr;
}

// The views' count, the cosines' rows times columns; a 64-bit host's
// dimensions can multiply past 2^64 and wrap to a small count, so an
// overflow saturates.
inline std::uint64_t viewCountOf(const mxArray* cosines) {
    std::uint64_t viewCount = 0;
    if (__builtin_mul_overflow(static_cast<std::uint64_t>(mxGetM(cosines)),
                               static_cast<std::uint64_t>(mxGetN(cosines)), &viewCount)) {
        return UINT64_MAX;
    }
    return viewCount;
}

// Checks the two counts every module's call starts with, raising the host's
// error for the first that is wrong; true when the call may go on.
inline bool countsAreRight(int outputCount, int inputCount) {
    // The host's error operation ends the call; the returns only guard a host
    // whose error operation comes back.
    if (inputCount != 5) {
        mexErrMsgTxt("Five input arguments required.");
        return false;
    }
    if (outputCount > 1) {
        mexErrMsgTxt("Too many output arguments.");
        return false;
    }
    return true;
}

}  // namespace
