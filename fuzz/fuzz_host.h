// What the three fuzz targets share: the plug-in loaded as a host loads it,
// a whole host state decoded from the fuzz input and laid out in the stand-in
// host, host-owned arrays between poisoned canaries, the floating-point
// environment the host runs with, and the checks made after every call.
//
// Every array the targets pass sits between two canary regions that are
// poisoned for AddressSanitizer: any read or write outside the array stops
// the run at once; the canaries' bytes are checked again after the call.
// Elements the routine must neither read nor write are poisoned as well, and
// so are the host data items' elements that the routine has no business
// with. Positions a routine does not use get a pointer into poisoned memory.
#ifndef UREA_FUZZ_HOST_H
#define UREA_FUZZ_HOST_H

#include <fuzzer/FuzzedDataProvider.h>
#include <sanitizer/asan_interface.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "host/host_interface.h"

namespace fuzz {

// ---- The plug-in ----------------------------------------------------------
struct routines {
    decltype(&CMPLOC) cmploc = nullptr;
    decltype(&USURA) usura = nullptr;
    decltype(&UPROPU) upropu = nullptr;
};
// Loaded with dlopen on the first call (from LLVMFuzzerInitialize, so that
// libFuzzer counts the library's coverage from the start), never unloaded.
const routines& plugin();

// ---- Failing --------------------------------------------------------------
// Prints what went wrong and aborts, which libFuzzer reports as a crash.
[[noreturn]] void fail(const char* what, long long detail = 0);
inline void check(bool ok, const char* what, long long detail = 0) {
    if (!ok) fail(what, detail);
}

inline std::uint64_t bits(double d) {
    std::uint64_t b;
    std::memcpy(&b, &d, sizeof b);
    return b;
}
// The library's result against the target's own: the same bits, or both NaN
// (a NaN's payload depends on which operand the compiler put first).
bool same_result(double expected, double got);

// ---- Decoding the input ---------------------------------------------------
class input {
public:
    input(const std::uint8_t* data, std::size_t size) : fdp_(data, size) {}

    bool empty() { return fdp_.remaining_bytes() == 0; }
    template <class T>
    T integer(T lo, T hi) { return fdp_.ConsumeIntegralInRange<T>(lo, hi); }
    bool flag() { return fdp_.ConsumeBool(); }
    std::uint64_t raw() { return fdp_.ConsumeIntegral<std::uint64_t>(); }

    // Any real: NaNs (quiet, signalling, with payloads, negative), the
    // infinities, both zeros, subnormals, the extremes, values the routines
    // meet in practice, and raw bit patterns.
    double real();
    // A real that is mostly a plausible positive magnitude, sometimes any.
    double positive();

    // A component or property name: a species exactly, or a near miss of
    // one (lower case, shifted blanks, NUL padding, a non-blank second word,
    // an extra or a missing letter, the words swapped), "NC-FLOW" split as
    // the host passes it, another component, or raw bytes.
    std::array<host_word, 2> name();

private:
    FuzzedDataProvider fdp_;
};

// ---- Host-owned arrays ----------------------------------------------------
// n elements of 8 bytes (double, host_int or host_word), vec(1) = data()[0],
// between two poisoned canaries. An array of 0 elements points at the
// canary after it.
template <class T>
class guarded {
    static_assert(sizeof(T) == 8);

public:
    explicit guarded(std::size_t n) : n_(n), store_(n + 2 * pad) {
        for (std::size_t k = 0; k < pad; ++k) {
            store_[k] = canary(k);
            store_[pad + n_ + k] = canary(pad + n_ + k);
        }
        poison_canaries();
    }
    ~guarded() { ASAN_UNPOISON_MEMORY_REGION(store_.data(), store_.size() * 8); }
    guarded(const guarded&) = delete;
    guarded& operator=(const guarded&) = delete;

    T* data() { return reinterpret_cast<T*>(store_.data() + pad); }
    std::size_t size() const { return n_; }
    // vec(i), 1-based, as the routines index.
    T& operator()(std::size_t i) { return data()[i - 1]; }

    // Remembers the contents, to tell later what the call changed.
    void seal() {
        sealed_.assign(store_.begin() + pad, store_.begin() + static_cast<std::ptrdiff_t>(pad + n_));
    }
    // Elements first..last (1-based, inclusive) must not be touched at all.
    void forbid(std::size_t first, std::size_t last) {
        if (first < 1) first = 1;
        if (last > n_) last = n_;
        if (first <= last) ASAN_POISON_MEMORY_REGION(&(*this)(first), (last - first + 1) * 8);
    }
    void forbid_all() { forbid(1, n_); }
    // Makes every element accessible again and checks the canaries.
    void release(const char* what) {
        ASAN_UNPOISON_MEMORY_REGION(store_.data(), store_.size() * 8);
        for (std::size_t k = 0; k < pad; ++k) {
            check(store_[k] == canary(k), what, -static_cast<long long>(pad - k));
            check(store_[pad + n_ + k] == canary(pad + n_ + k), what,
                  static_cast<long long>(n_ + k + 1));
        }
        poison_canaries();
    }
    // Element i as it was when sealed, bit for bit.
    bool unchanged(std::size_t i) const { return store_[pad + i - 1] == sealed_[i - 1]; }
    std::uint64_t sealed_bits(std::size_t i) const { return sealed_[i - 1]; }
    void check_unchanged(const char* what) const {
        for (std::size_t i = 1; i <= n_; ++i) check(unchanged(i), what, static_cast<long long>(i));
    }

private:
    static constexpr std::size_t pad = 8;  // 64 bytes of canary on each side
    static std::uint64_t canary(std::size_t k) { return 0xC0FFEE0DDBA11000ULL ^ (k * 0x9E3779B97F4A7C15ULL); }
    void poison_canaries() {
        ASAN_POISON_MEMORY_REGION(store_.data(), pad * 8);
        ASAN_POISON_MEMORY_REGION(store_.data() + pad + n_, pad * 8);
    }

    std::size_t n_;
    std::vector<std::uint64_t> store_;
    std::vector<std::uint64_t> sealed_;
};

// Argument positions the routines must not dereference point here.
const void* unused();

// ---- The host state -------------------------------------------------------
// Component list, offsets and molecular weights as laid out in the stand-in's
// data items.
struct host_state {
    host_int nc = 0;        // may be outside 1..100, down to -1 and up to 150
    std::size_t count = 0;  // max(nc, 0): the components actually laid out
    host_int l_ids = 0;
    host_int l_mw = 0;
    // The stand-in's property table, by position (element 0 unused).
    std::vector<double> gibbs, fugacity;
    double liquid_volume = 0.0;
    double reacting_volume = 0.0;

    // The first position whose name pair equals name, 0 when there is none
    // (a plain search over the pool, independent of the library's).
    host_int find(const host_word* name) const;
    // Component i's name pair and molecular weight as they are in the pool.
    const host_word* name_of(host_int i) const;
    double mw(host_int i) const;
};

inline constexpr const char* species_text[7] = {"O2", "N2", "H2O", "NH3", "CO2", "CARB", "UREA"};
enum species_index { O2, N2, H2O, NH3, CO2, CARB, UREA };
// A species' name pair as the host holds it: word 1 the name, word 2 blank.
std::array<host_word, 2> species_name(int s);

// Resets the stand-in and lays out a host decoded from the input: count,
// names, L_ids and L_mw anywhere in the pool (their regions may overlap),
// molecular weights, the reactor volume, and Gibbs energies and fugacity
// coefficients per position (the stand-in's property table) with one liquid
// molar volume. Recording of host calls stays on.
host_state build_host(input& in);

// Which of the host data items a call may read: the count always, the rest
// only as listed. Everything else in them is poisoned during the call.
struct host_reads {
    bool names = false;         // HOST_OFFSETS_IDS(2) and the name pairs 1..nc
    bool weights = false;       // HOST_OFFSETS_PROPS(306) and the weights 1..nc
    bool property_count = false;  // HOST_STREAM_WORK(3), read and written by the host
    bool volume = false;        // HOST_REACTOR_STATE(6)
};
// Snapshot of every data item, then poisoning of what the call must not reach.
void guard_host_items(const host_state& host, const host_reads& reads);
// Unpoisons and checks that the call changed no data item (the stand-in's
// own property routines set HOST_STREAM_WORK(3); that is theirs).
void release_host_items(const char* routine);

// ---- The host's floating-point environment --------------------------------
// Rounding mode, flush-to-zero and denormals-are-zero, exceptions the host
// has already raised and traps it runs with (never a trap on a raised flag).
struct fp_choice {
    int round = 0;
    bool ftz = false, daz = false;
    int raised = 0;
    int traps = 0;
};
fp_choice consume_fp(input& in);
// The host's mode without traps (for the target's own expected results),
// or with its raised flags and traps, just before the call.
void enter_fp(const fp_choice& fp, bool with_traps);
// The whole state: SSE control/status and x87 control word and flags.
struct fp_state {
    std::uint32_t mxcsr = 0;
    std::uint16_t x87_control = 0;
    std::uint16_t x87_flags = 0;
    bool operator==(const fp_state&) const = default;
};
fp_state read_fp();
// Back to the default environment (traps off) for the target's own work.
void leave_fp();

}  // namespace fuzz

#endif
