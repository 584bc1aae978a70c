// Fuzz target for the stream property routine UPROPU ("NC-FLOW").
//
// Input: a host (count -1..150, names, offsets, molecular weights), then the
// property name, the number of results wanted (-2..150) and their
// positions, the stream's flows, the values out_values holds before the call
// and the host's floating-point environment.
//
// After the call:
// - with nc outside 1..100: nothing read but the count, nothing written;
// - with another property name: n_out, out_pos and out_values untouched;
// - otherwise each out_values(k) whose position is in 1..nc is the mass flow
//   worked out here (carbamate folded into NH3 and CO2 only when all three
//   are components), every other one is untouched and never accessed;
// - flows beyond nc are never touched; no input array and no host data item
//   changed; the floating-point environment is as before.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "fuzz/fuzz_host.h"

namespace {

using namespace fuzz;

// "NC-FLOW" split after its fourth character, each half blank-padded.
std::array<host_word, 2> nc_flow() {
    std::array<host_word, 2> n;
    std::memcpy(n[0].bytes, "NC-F    ", 8);
    std::memcpy(n[1].bytes, "LOW     ", 8);
    return n;
}

// The mass flows by position (element 0 unused), in the host's rounding mode.
std::vector<double> expect(const host_state& host, guarded<double>& flows) {
    std::vector<double> w(host.count + 1, 0.0);
    for (std::size_t i = 1; i <= host.count; ++i) w[i] = flows(i);
    const auto at = [&](int s) {
        const auto name = species_name(s);
        return static_cast<std::size_t>(host.find(name.data()));
    };
    const std::size_t nh3 = at(NH3), co2 = at(CO2), carb = at(CARB);
    if (nh3 != 0 && co2 != 0 && carb != 0) {
        w[nh3] = (2.0 * w[carb]) + w[nh3];
        w[co2] = w[co2] + w[carb];
        w[carb] = 0.0;
    }
    for (std::size_t i = 1; i <= host.count; ++i) w[i] = w[i] * host.mw(static_cast<host_int>(i));
    return w;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::plugin();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    input in(data, size);
    const host_state host = build_host(in);
    const std::size_t nc = host.count;

    guarded<host_word> prop_name(2);
    {
        const auto name = in.flag() ? nc_flow() : in.name();
        prop_name(1) = name[0];
        prop_name(2) = name[1];
        if (in.integer<int>(0, 7) == 0) {  // one byte changed
            prop_name.data()[in.integer<int>(0, 1)].bytes[in.integer<int>(0, 7)] ^=
                in.integer<unsigned char>(1, 255);
        }
    }
    guarded<host_int> n_out(1);
    n_out(1) = in.flag() ? in.integer<host_int>(0, host.nc + 3) : in.integer<host_int>(-2, 150);
    const std::size_t m = n_out(1) > 0 ? static_cast<std::size_t>(n_out(1)) : 0;
    guarded<host_int> out_pos(m);
    guarded<double> out_values(m);
    for (std::size_t k = 1; k <= m; ++k) {
        switch (in.integer<int>(0, 7)) {
        case 0: out_pos(k) = static_cast<host_int>(in.raw()); break;
        case 1: out_pos(k) = in.integer<host_int>(-2, host.nc + 2); break;
        default: out_pos(k) = host.nc >= 1 ? in.integer<host_int>(1, host.nc) : 0; break;
        }
        out_values(k) = in.real();
    }
    guarded<double> flows(nc + 3);
    for (std::size_t i = 1; i <= flows.size(); ++i) flows(i) = in.flag() ? in.positive() : in.real();
    const fp_choice fp = consume_fp(in);

    const bool in_contract = host.nc >= 1 && host.nc <= 100;
    const auto wanted = nc_flow();
    const bool asked = std::memcmp(prop_name.data(), wanted.data(), 16) == 0;
    std::vector<double> w;
    if (in_contract && asked) {
        enter_fp(fp, false);
        w = expect(host, flows);
        leave_fp();
    }

    for (auto* g : {&prop_name}) g->seal();
    for (auto* g : {&n_out, &out_pos}) g->seal();
    for (auto* g : {&out_values, &flows}) g->seal();
    flows.forbid(nc + 1, flows.size());
    if (!in_contract) {
        prop_name.forbid_all();
        flows.forbid_all();
    }
    if (!in_contract || !asked) {
        n_out.forbid_all();
        out_pos.forbid_all();
        out_values.forbid_all();
    } else {
        for (std::size_t k = 1; k <= m; ++k) {
            if (out_pos(k) < 1 || out_pos(k) > host.nc) out_values.forbid(k, k);
        }
    }
    guard_host_items(host, {.names = in_contract, .weights = in_contract && asked});

    enter_fp(fp, true);
    const fp_state env_before = read_fp();
    const void* const u = unused();
    plugin().upropu(u, u, u, u, u, n_out.data(), out_pos.data(), u, u, u, u, u, u, u, u, u, u, u,
                    reinterpret_cast<const host_name*>(prop_name.data()), out_values.data(), u, u,
                    u, u, flows.data());
    const fp_state env_after = read_fp();
    leave_fp();

    release_host_items("UPROPU changed a host data item");
    prop_name.release("UPROPU wrote around prop_name");
    n_out.release("UPROPU wrote around n_out");
    out_pos.release("UPROPU wrote around out_pos");
    out_values.release("UPROPU wrote around out_values");
    flows.release("UPROPU wrote around flows");
    check(env_after == env_before, "UPROPU changed the floating-point environment");
    prop_name.check_unchanged("UPROPU changed prop_name");
    n_out.check_unchanged("UPROPU changed n_out");
    out_pos.check_unchanged("UPROPU changed out_pos");
    flows.check_unchanged("UPROPU changed flows");

    if (!in_contract || !asked) {
        out_values.check_unchanged("UPROPU wrote out_values for a refused call or another name");
        return 0;
    }
    for (std::size_t k = 1; k <= m; ++k) {
        const host_int i = out_pos(k);
        if (i < 1 || i > host.nc) {
            check(out_values.unchanged(k), "UPROPU wrote a result for a position outside 1..nc",
                  static_cast<long long>(k));
        } else {
            check(same_result(w[static_cast<std::size_t>(i)], out_values(k)),
                  "UPROPU result differs from the folded mass flow", static_cast<long long>(k));
        }
    }
    return 0;
}
