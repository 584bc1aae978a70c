/* The host's floating-point state as the hardware holds it, for the Fortran
   host to compare before and after each call into the plug-in: Fortran's
   IEEE modules report halting modes and flags, but not every bit of MXCSR
   (flush-to-zero, denormals-are-zero), nor the x87 words. */
#include <stdint.h>
#include <xmmintrin.h>

/* state(1) = MXCSR, state(2) = x87 control word, state(3) = x87 status word. */
void host_fp_state(uint32_t state[3]) {
    uint16_t control, status;
    __asm__ volatile("fnstcw %0" : "=m"(control));
    __asm__ volatile("fnstsw %0" : "=m"(status));
    state[0] = _mm_getcsr();
    state[1] = control;
    state[2] = status;
}
