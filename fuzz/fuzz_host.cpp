#include "fuzz/fuzz_host.h"

#include <unistd.h>

#include <algorithm>
#include <cfenv>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <string>

#if defined(__x86_64__)
#include <xmmintrin.h>
#endif

#include "standin/plugin.h"
#include "standin/standin_host.h"

// The targets allocate a little on every run and the library nothing: a
// small quarantine and no allocation stacks keep the runs fast (page faults
// on fresh quarantine memory otherwise cost more than the routines).
// ASAN_OPTIONS overrides these.
extern "C" const char* __asan_default_options() {
    return "quarantine_size_mb=16:malloc_context_size=0";
}

namespace fuzz {

// ---- The plug-in ----------------------------------------------------------
namespace {

// $UREA_PLUGIN if set, else the library next to the executable (both are
// built into bin/), so that a copied bin/ directory loads its own library.
std::string plugin_path() {
    if (const char* path = std::getenv("UREA_PLUGIN"); path != nullptr && *path != '\0') {
        return path;
    }
    char exe[4096];
    const ssize_t len = readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (len <= 0) return "liburea_plugin.so";
    std::string dir(exe, static_cast<std::size_t>(len));
    return dir.substr(0, dir.rfind('/') + 1) + "liburea_plugin.so";
}

}  // namespace

const routines& plugin() {
    static const routines loaded = [] {
        // Never unloaded: libFuzzer keeps the library's coverage counters.
        const auto* lib = new standin::plugin(plugin_path());
        return routines{lib->cmploc, lib->usura, lib->upropu};
    }();
    return loaded;
}

void fail(const char* what, long long detail) {
    leave_fp();
    std::fprintf(stderr, "\n*** fuzz check failed: %s [%lld]\n", what, detail);
    std::abort();
}

bool same_result(double expected, double got) {
    if (expected != expected && got != got) return true;
    return bits(expected) == bits(got);
}

// ---- Decoding the input ---------------------------------------------------
namespace {

double from_bits(std::uint64_t b) {
    double d;
    std::memcpy(&d, &b, sizeof d);
    return d;
}

const double special_reals[] = {
    0.0, -0.0, 1.0, -1.0, 0.5, 2.0, 0.25, 0.1,
    from_bits(0x7FF8000000000000ULL),  // quiet NaN
    from_bits(0xFFF8000000000000ULL),  // negative quiet NaN
    from_bits(0x7FF0000000000001ULL),  // signalling NaN
    from_bits(0x7FF4000000000ABCULL),  // signalling NaN with a payload
    from_bits(0x7FFC00000000BEEFULL),  // quiet NaN with a payload
    std::numeric_limits<double>::infinity(),
    -std::numeric_limits<double>::infinity(),
    std::numeric_limits<double>::denorm_min(),
    -std::numeric_limits<double>::denorm_min(),
    from_bits(0x000FFFFFFFFFFFFFULL),  // largest subnormal
    std::numeric_limits<double>::min(),
    std::numeric_limits<double>::max(),
    -std::numeric_limits<double>::max(),
    std::numeric_limits<double>::epsilon(),
    1.0e300, 1.0e-300, -1.0e300,
    423.0, 473.0, 458.0, 400.0, 500.0, 422.99999999999994, 473.00000000000006,
    1.5e7, 101325.0, 0.0, 1.0e-8, 1.0e-3, 0.03, 50.0, 1.0e3,
    -6.0e7, -4.3e8, -3.0e8, -5.6e8, -2.0e8, 2.5, 10.0, 0.05, 4.0e5, 0.01,
    17.031, 44.01, 18.015, 78.07, 60.06, 31.999, 28.014,
};
constexpr std::size_t special_count = sizeof special_reals / sizeof special_reals[0];

void set_word(host_word& w, const char* text) {
    std::memset(w.bytes, ' ', sizeof w.bytes);
    std::memcpy(w.bytes, text, std::min(std::strlen(text), sizeof w.bytes));
}

}  // namespace

double input::real() {
    const auto kind = fdp_.ConsumeIntegral<std::uint8_t>();
    if (kind < 96) return special_reals[kind % special_count];
    if (kind < 176) return fdp_.ConsumeFloatingPointInRange<double>(-1.0e9, 1.0e9);
    return from_bits(fdp_.ConsumeIntegral<std::uint64_t>());
}

double input::positive() {
    const auto kind = fdp_.ConsumeIntegral<std::uint8_t>();
    if (kind < 160) return fdp_.ConsumeFloatingPointInRange<double>(0.0, 1.0);
    if (kind < 200) return fdp_.ConsumeFloatingPointInRange<double>(0.0, 1.0e9);
    return real();
}

std::array<host_word, 2> input::name() {
    std::array<host_word, 2> n;
    set_word(n[1], "");
    const auto kind = fdp_.ConsumeIntegralInRange<int>(0, 19);
    const int s = fdp_.ConsumeIntegralInRange<int>(0, 6);
    const char* text = species_text[s];
    const std::size_t len = std::strlen(text);
    switch (kind) {
    default:  // a species, exactly (the most common case)
        set_word(n[0], text);
        break;
    case 10:  // lower case
        set_word(n[0], text);
        for (std::size_t k = 0; k < len; ++k) {
            if (n[0].bytes[k] >= 'A' && n[0].bytes[k] <= 'Z') n[0].bytes[k] += 'a' - 'A';
        }
        break;
    case 11: {  // shifted right by some blanks
        char shifted[9] = "        ";
        const std::size_t by = fdp_.ConsumeIntegralInRange<std::size_t>(1, 8 - len);
        std::memcpy(shifted + by, text, len);
        set_word(n[0], shifted);
        break;
    }
    case 12:  // a second word that is not blank
        set_word(n[0], text);
        n[1].bytes[fdp_.ConsumeIntegralInRange<std::size_t>(0, 7)] =
            fdp_.ConsumeIntegral<unsigned char>();
        break;
    case 13:  // NUL padding instead of blanks
        std::memset(n[0].bytes, 0, sizeof n[0].bytes);
        std::memcpy(n[0].bytes, text, len);
        break;
    case 14: {  // one letter more or less
        char changed[9] = {};
        std::memcpy(changed, text, len);
        if (fdp_.ConsumeBool()) {
            changed[len] = static_cast<char>(fdp_.ConsumeIntegral<unsigned char>());
        } else {
            changed[len - 1] = '\0';
        }
        set_word(n[0], changed);
        break;
    }
    case 15:  // the name in the second word
        set_word(n[0], "");
        set_word(n[1], text);
        break;
    case 16:  // the property name as the host splits it
        set_word(n[0], "NC-F");
        set_word(n[1], "LOW");
        break;
    case 17: {  // some other component
        char other[9];
        std::snprintf(other, sizeof other, "C%d", fdp_.ConsumeIntegralInRange<int>(1, 999));
        set_word(n[0], other);
        break;
    }
    case 18:  // one byte of a species name changed
        set_word(n[0], text);
        n[0].bytes[fdp_.ConsumeIntegralInRange<std::size_t>(0, 7)] =
            fdp_.ConsumeIntegral<unsigned char>();
        break;
    case 19:  // raw bytes
        for (host_word& w : n) {
            const std::uint64_t b = fdp_.ConsumeIntegral<std::uint64_t>();
            std::memcpy(w.bytes, &b, sizeof b);
        }
        break;
    }
    return n;
}

// ---- Poisoned argument positions ------------------------------------------
const void* unused() {
    static guarded<std::uint64_t> nothing(0);
    return nothing.data();
}

// ---- The host state -------------------------------------------------------
std::array<host_word, 2> species_name(int s) {
    std::array<host_word, 2> n;
    set_word(n[0], species_text[s]);
    set_word(n[1], "");
    return n;
}

const host_word* host_state::name_of(host_int i) const { return &HOST_POOL[l_ids + 2 * i - 2]; }

double host_state::mw(host_int i) const {
    double d;
    std::memcpy(&d, HOST_POOL[l_mw + i - 1].bytes, sizeof d);
    return d;
}

host_int host_state::find(const host_word* name) const {
    for (host_int i = 1; i <= nc; ++i) {
        const host_word* at = name_of(i);
        if (std::memcmp(at, name, 2 * sizeof(host_word)) == 0) return i;
    }
    return 0;
}

host_state build_host(input& in) {
    standin::reset();
    host_state h;
    h.nc = in.integer<host_int>(-1, 150);
    h.count = static_cast<std::size_t>(std::max<host_int>(h.nc, 0));
    const host_int n = static_cast<host_int>(h.count);
    h.l_ids = in.integer<host_int>(0, standin::pool_words - 2 * n);
    h.l_mw = in.integer<host_int>(0, standin::pool_words - n);
    standin::set_component_count(h.nc);
    standin::set_ids_offset(h.l_ids);
    standin::set_mw_offset(h.l_mw);
    // Names first, weights after: where the regions overlap the weights win,
    // and the checks read whatever the pool holds.
    for (host_int i = 1; i <= n; ++i) {
        const auto name = in.name();
        standin::write_name(h.l_ids, i, name[0], name[1]);
    }
    for (host_int i = 1; i <= n; ++i) {
        const double m = in.flag() ? in.positive() * 100.0 : in.real();
        std::memcpy(HOST_POOL[h.l_mw + i - 1].bytes, &m, sizeof m);
    }
    h.gibbs.assign(h.count + 1, 0.0);
    h.fugacity.assign(h.count + 1, 0.0);
    for (std::size_t i = 1; i <= h.count; ++i) {
        h.gibbs[i] = in.flag() ? -in.positive() * 1.0e9 : in.real();
        h.fugacity[i] = in.flag() ? in.positive() : in.real();
        standin::set_gibbs(static_cast<host_int>(i), h.gibbs[i]);
        standin::set_fugacity(static_cast<host_int>(i), h.fugacity[i]);
    }
    h.liquid_volume = in.flag() ? in.positive() : in.real();
    h.reacting_volume = in.flag() ? in.positive() * 100.0 : in.real();
    standin::set_liquid_volume(h.liquid_volume);
    standin::set_reacting_volume(h.reacting_volume);
    // Elements no routine reads, so that a read of a wrong one shows.
    for (std::size_t k = 0; k < 8; ++k) {
        if (k != 1) HOST_OFFSETS_IDS[k] = static_cast<host_int>(in.raw() % 4096);
        if (k != 2) HOST_STREAM_WORK[k] = static_cast<host_int>(in.raw() % 200);
    }
    HOST_OFFSETS_PROPS[304] = h.l_ids;
    HOST_OFFSETS_PROPS[306] = h.l_ids;
    HOST_REACTOR_STATE[4] = in.real();
    HOST_REACTOR_STATE[6] = in.real();
    return h;
}

// ---- The host data items --------------------------------------------------
namespace {

constexpr std::size_t pool_bytes = standin::pool_words * sizeof(host_word);
constexpr std::size_t ids_count = 8, props_count = standin::props_offsets, work_count = 8,
                      reactor_count = 16;

struct host_items {
    host_int count;
    std::array<host_word, standin::pool_words> pool;
    std::array<host_int, ids_count> ids;
    std::array<host_int, props_count> props;
    std::array<host_int, work_count> work;
    std::array<std::uint64_t, reactor_count> reactor;

    void take() {
        count = HOST_COMPONENT_COUNT;
        std::memcpy(pool.data(), HOST_POOL, pool_bytes);
        std::memcpy(ids.data(), HOST_OFFSETS_IDS, sizeof ids);
        std::memcpy(props.data(), HOST_OFFSETS_PROPS, sizeof props);
        std::memcpy(work.data(), HOST_STREAM_WORK, sizeof work);
        std::memcpy(reactor.data(), HOST_REACTOR_STATE, sizeof reactor);
    }
};
host_items before, after;

void poison(const void* p, std::size_t bytes) { ASAN_POISON_MEMORY_REGION(p, bytes); }
void unpoison(const void* p, std::size_t bytes) { ASAN_UNPOISON_MEMORY_REGION(p, bytes); }

void unpoison_all() {
    unpoison(HOST_POOL, pool_bytes);
    unpoison(HOST_OFFSETS_IDS, ids_count * 8);
    unpoison(HOST_OFFSETS_PROPS, props_count * 8);
    unpoison(HOST_STREAM_WORK, work_count * 8);
    unpoison(HOST_REACTOR_STATE, reactor_count * 8);
}

}  // namespace

void guard_host_items(const host_state& h, const host_reads& reads) {
    before.take();
    // Poisoning works on 8-byte granules: every item is made of 8-byte
    // elements, and the pool is checked to start on one.
    const bool pool_aligned = reinterpret_cast<std::uintptr_t>(HOST_POOL) % 8 == 0;
    if (pool_aligned) poison(HOST_POOL, pool_bytes);
    poison(HOST_OFFSETS_IDS, ids_count * 8);
    poison(HOST_OFFSETS_PROPS, props_count * 8);
    poison(HOST_STREAM_WORK, work_count * 8);
    poison(HOST_REACTOR_STATE, reactor_count * 8);
    if (reads.names) {
        unpoison(&HOST_OFFSETS_IDS[1], 8);
        if (pool_aligned) unpoison(&HOST_POOL[h.l_ids], 2 * h.count * 8);
    }
    if (reads.weights) {
        unpoison(&HOST_OFFSETS_PROPS[305], 8);
        if (pool_aligned) unpoison(&HOST_POOL[h.l_mw], h.count * 8);
    }
    if (reads.property_count) unpoison(&HOST_STREAM_WORK[2], 8);
    if (reads.volume) unpoison(&HOST_REACTOR_STATE[5], 8);
}

void release_host_items(const char* routine) {
    unpoison_all();
    after.take();
    // The stand-in's property routines set the count of packed values.
    after.work[2] = before.work[2];
    HOST_STREAM_WORK[2] = before.work[2];
    check(after.count == before.count, routine, 1);
    check(std::memcmp(after.pool.data(), before.pool.data(), pool_bytes) == 0, routine, 2);
    check(after.ids == before.ids, routine, 3);
    check(after.props == before.props, routine, 4);
    check(after.work == before.work, routine, 5);
    check(after.reactor == before.reactor, routine, 6);
}

// ---- The floating-point environment ---------------------------------------
namespace {

constexpr int rounding_modes[] = {FE_TONEAREST, FE_UPWARD, FE_DOWNWARD, FE_TOWARDZERO};
constexpr int exceptions[] = {FE_INVALID, FE_DIVBYZERO, FE_OVERFLOW, FE_UNDERFLOW, FE_INEXACT};
#if defined(__x86_64__)
constexpr std::uint32_t mxcsr_ftz = 1u << 15, mxcsr_daz = 1u << 6;
#endif

}  // namespace

fp_choice consume_fp(input& in) {
    fp_choice fp;
    // Most calls under the host's usual environment: nearest, no traps.
    if (in.integer<int>(0, 3) != 0) return fp;
    fp.round = rounding_modes[in.integer<int>(0, 3)];
    fp.ftz = in.flag();
    fp.daz = in.flag();
    for (const int e : exceptions) {
        switch (in.integer<int>(0, 2)) {
        case 1: fp.raised |= e; break;
        case 2: fp.traps |= e; break;
        default: break;
        }
    }
    return fp;
}

void enter_fp(const fp_choice& fp, bool with_traps) {
    leave_fp();
    std::fesetround(fp.round);
#if defined(__x86_64__)
    _mm_setcsr(_mm_getcsr() | (fp.ftz ? mxcsr_ftz : 0u) | (fp.daz ? mxcsr_daz : 0u));
#endif
    if (with_traps) {
        std::feraiseexcept(fp.raised);
        feenableexcept(fp.traps);
    }
}

fp_state read_fp() {
    fp_state s;
#if defined(__x86_64__)
    s.mxcsr = _mm_getcsr();
    __asm__ volatile("fnstcw %0" : "=m"(s.x87_control));
    std::uint16_t status;
    __asm__ volatile("fnstsw %0" : "=m"(status));
    s.x87_flags = status & 0x3F;
#else
    s.mxcsr = static_cast<std::uint32_t>(std::fetestexcept(FE_ALL_EXCEPT) | (fegetexcept() << 8));
    s.x87_control = static_cast<std::uint16_t>(std::fegetround());
#endif
    return s;
}

void leave_fp() {
    fedisableexcept(FE_ALL_EXCEPT);
    std::fesetenv(FE_DFL_ENV);
}

}  // namespace fuzz
