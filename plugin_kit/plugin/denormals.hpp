#pragma once
// Flush-to-zero and denormals-are-zero for the lifetime of a scope.
//
// The engine's recursive filters decay towards zero and would otherwise spend
// most of their time in subnormal arithmetic once the input goes quiet. The
// adapters (or the instance) hold one of these around `process` and `reset`;
// the destructor restores exactly the MXCSR the caller had, so the host's own
// floating-point mode is never disturbed.

#include <xmmintrin.h>

namespace plugin_kit {

class ScopedFlushDenormals {
public:
    ScopedFlushDenormals() noexcept : saved_(_mm_getcsr()) { _mm_setcsr(saved_ | ftz_daz); }
    ~ScopedFlushDenormals() { _mm_setcsr(saved_); }
    ScopedFlushDenormals(const ScopedFlushDenormals&) = delete;
    ScopedFlushDenormals& operator=(const ScopedFlushDenormals&) = delete;

private:
    static constexpr unsigned ftz_daz = 0x8000u | 0x0040u; // FTZ bit 15, DAZ bit 6
    unsigned saved_;
};

} // namespace plugin_kit
