// The kernel's arithmetic is defined in the processor's default mode: round
// to nearest, subnormals kept, exceptions masked. A host, or any library
// loaded into it, may have left the calling thread in another mode (a library
// built with fast-math turns on flush-to-zero when it loads), so each sweep
// runs in the default mode and hands the caller's own mode back afterwards.
#pragma once

#if defined(__SSE2__) || defined(_M_X64) || defined(__x86_64__)
#include <xmmintrin.h>
#else
#include <cfenv>
#endif

namespace quelmor::detail {
namespace {

class DefaultFloatingPointMode {
public:
#if defined(__SSE2__) || defined(_M_X64) || defined(__x86_64__)
    // 0x1F80: every exception masked, round to nearest, no flush-to-zero or
    // denormals-are-zero. Restoring the whole register also drops the
    // exception flags the sweep raised, so the caller sees no trace of it.
    static constexpr unsigned defaultMode = 0x1F80;
    DefaultFloatingPointMode() : callerMode_(_mm_getcsr()) { _mm_setcsr(defaultMode); }
    ~DefaultFloatingPointMode() { _mm_setcsr(callerMode_); }

private:
    unsigned callerMode_;
#else
    DefaultFloatingPointMode() {
        std::fegetenv(&callerMode_);
        std::fesetenv(FE_DFL_ENV);
    }
    ~DefaultFloatingPointMode() { std::fesetenv(&callerMode_); }

private:
    std::fenv_t callerMode_;
#endif

public:
    DefaultFloatingPointMode(const DefaultFloatingPointMode&) = delete;
    DefaultFloatingPointMode& operator=(const DefaultFloatingPointMode&) = delete;
};

}  // namespace
}  // namespace quelmor::detail
