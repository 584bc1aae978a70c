// Fuzz target for the component locator CMPLOC.
//
// Input: a host (count -1..150, names, offsets), then up to eight look-ups,
// each a name, the vector's entries, the host's floating-point environment
// and the values the output variables hold before the call.
//
// After every call: index is the first position whose name pair equals the
// name (a plain search of the pool), nc when there is none, 0 when nc <= 0;
// value is the matching entry bit for bit, else +0.0. Only the matching
// entry of vec may be read (all others are poisoned; with nc <= 0 all of
// it); the name, vec and the host's data items are unchanged; the
// environment is as before.
#include <cstddef>
#include <cstdint>

#include "fuzz/fuzz_host.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::plugin();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace fuzz;
    input in(data, size);
    const host_state host = build_host(in);

    for (int lookup = 0; lookup < 8 && (lookup == 0 || !in.empty()); ++lookup) {
        guarded<host_word> name(2);
        // A name that is at some position of the list, or any name.
        if (host.count > 0 && in.flag()) {
            const host_int at = in.integer<host_int>(1, host.nc);
            name(1) = host.name_of(at)[0];
            name(2) = host.name_of(at)[1];
        } else {
            const auto n = in.name();
            name(1) = n[0];
            name(2) = n[1];
        }
        guarded<double> vec(host.count);
        for (std::size_t i = 1; i <= host.count; ++i) vec(i) = in.real();
        guarded<host_int> index(1);
        guarded<double> value(1);
        index(1) = static_cast<host_int>(in.raw());
        value(1) = in.real();
        const fp_choice fp = consume_fp(in);

        const host_int found = host.find(name.data());
        const host_int expected_index = host.nc <= 0 ? 0 : found != 0 ? found : host.nc;
        const std::uint64_t expected_value =
            found != 0 ? bits(vec(static_cast<std::size_t>(found))) : bits(0.0);

        name.seal();
        vec.seal();
        if (found == 0) {
            vec.forbid_all();
        } else {
            vec.forbid(1, static_cast<std::size_t>(found) - 1);
            vec.forbid(static_cast<std::size_t>(found) + 1, host.count);
        }
        guard_host_items(host, {.names = host.nc > 0});

        enter_fp(fp, true);
        const fp_state env_before = read_fp();
        plugin().cmploc(reinterpret_cast<const host_name*>(name.data()), vec.data(), index.data(),
                        value.data());
        const fp_state env_after = read_fp();
        leave_fp();

        release_host_items("CMPLOC changed a host data item");
        name.release("CMPLOC wrote around the name");
        vec.release("CMPLOC wrote around vec");
        index.release("CMPLOC wrote around index");
        value.release("CMPLOC wrote around value");
        check(env_after == env_before, "CMPLOC changed the floating-point environment");
        name.check_unchanged("CMPLOC changed the name");
        vec.check_unchanged("CMPLOC changed vec");
        check(index(1) == expected_index, "CMPLOC index", index(1));
        check(bits(value(1)) == expected_value, "CMPLOC value is not the entry's bits",
              static_cast<long long>(found));
    }
    return 0;
}
