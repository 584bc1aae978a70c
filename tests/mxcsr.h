// The host's SSE floating-point control and status register (MXCSR), where
// x86-64 code keeps its trap masks, rounding mode, flush-to-zero and
// denormals-are-zero bits and raised exception flags. fegetexcept and
// fegetround read the x87 control word, which the library never touches:
// only MXCSR shows what a call did to the host's state.
#ifndef UREA_TESTS_MXCSR_H
#define UREA_TESTS_MXCSR_H

#include <xmmintrin.h>

#include <cstdint>

namespace testing_host {

inline std::uint32_t mxcsr() { return _mm_getcsr(); }
inline void set_mxcsr(std::uint32_t value) { _mm_setcsr(value); }

inline constexpr std::uint32_t mxcsr_flags = 0x003fu;  // IE DE ZE OE UE PE
inline constexpr std::uint32_t mxcsr_daz = 1u << 6;
inline constexpr std::uint32_t mxcsr_masks = 0x1f80u;  // IM DM ZM OM UM PM
inline constexpr std::uint32_t mxcsr_inexact_flag = 1u << 5;
inline constexpr std::uint32_t mxcsr_invalid_mask = 1u << 7, mxcsr_zero_mask = 1u << 9,
                                mxcsr_overflow_mask = 1u << 10;
inline constexpr std::uint32_t mxcsr_down = 1u << 13, mxcsr_up = 2u << 13,
                                mxcsr_toward_zero = 3u << 13;
inline constexpr std::uint32_t mxcsr_ftz = 1u << 15;

// MXCSR set to the value a host runs with, for as long as this lives.
class host_mxcsr {
public:
    explicit host_mxcsr(std::uint32_t value) : saved_(mxcsr()) { set_mxcsr(value); }
    ~host_mxcsr() { set_mxcsr(saved_); }
    host_mxcsr(const host_mxcsr&) = delete;
    host_mxcsr& operator=(const host_mxcsr&) = delete;

private:
    std::uint32_t saved_;
};

}  // namespace testing_host

#endif
