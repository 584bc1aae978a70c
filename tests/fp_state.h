// The host's floating-point state as the hardware holds it. x86-64 code keeps
// its trap masks, rounding mode, flush-to-zero and denormals-are-zero bits
// and raised exception flags in the SSE register MXCSR; fegetexcept and
// fegetround read only the x87 control word, so MXCSR is what shows what a
// call did to the host. The x87 control and status words are compared too:
// the library must not run x87 code that leaves a flag behind (a C runtime's
// exp on Windows did).
#ifndef UREA_TESTS_FP_STATE_H
#define UREA_TESTS_FP_STATE_H

#include <xmmintrin.h>

#include <cstdint>

namespace testing_host {

inline std::uint32_t mxcsr() { return _mm_getcsr(); }
inline void set_mxcsr(std::uint32_t value) { _mm_setcsr(value); }

// MXCSR, the x87 control word and the x87 status word.
struct fp_state {
    std::uint32_t mxcsr;
    std::uint16_t x87_control, x87_status;
    bool operator==(const fp_state&) const = default;
};

inline fp_state current_fp_state() {
    fp_state s{_mm_getcsr(), 0, 0};
    __asm__ volatile("fnstcw %0" : "=m"(s.x87_control));
    __asm__ volatile("fnstsw %0" : "=m"(s.x87_status));
    return s;
}

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
