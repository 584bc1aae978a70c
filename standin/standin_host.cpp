#include "standin/standin_host.h"

#include <algorithm>
#include <array>
#include <cstring>

// On Windows the module that holds the stand-in (the executable, or a DLL of
// the host) exports the host's items and routines by name, where the plug-in
// looks for them.
#if defined(_WIN32)
#define HOST_EXPORT __declspec(dllexport)
#else
#define HOST_EXPORT
#endif

// ---- The host's data items --------------------------------------------------
extern "C" {
HOST_EXPORT host_int HOST_COMPONENT_COUNT = 0;
HOST_EXPORT host_word HOST_POOL[standin::pool_words] = {};
HOST_EXPORT host_int HOST_OFFSETS_IDS[8] = {};
HOST_EXPORT host_int HOST_OFFSETS_PROPS[standin::props_offsets] = {};
HOST_EXPORT host_int HOST_STREAM_WORK[8] = {};
HOST_EXPORT double HOST_REACTOR_STATE[16] = {};
}

namespace standin {
namespace {

constexpr host_int max_positions = 1000;

class table_model final : public property_model {
public:
    double gibbs(host_int pos, double) override { return at(g_, pos); }
    double liquid_volume(double, double, std::span<const double>,
                         std::span<const host_int>) override {
        return vl_;
    }
    double fugacity(std::size_t k, double, double, std::span<const double>,
                    std::span<const host_int> pos) override {
        return at(phi_, pos[k]);
    }

    void clear() {
        g_.fill(0.0);
        phi_.fill(0.0);
        vl_ = 0.0;
    }
    std::array<double, max_positions> g_{};
    std::array<double, max_positions> phi_{};
    double vl_ = 0.0;

private:
    static double at(const std::array<double, max_positions>& v, host_int pos) {
        return pos >= 1 && pos <= max_positions ? v[static_cast<std::size_t>(pos - 1)] : 0.0;
    }
};

table_model table;
property_model* model = &table;
std::vector<call> record;
bool recording = true;

void note(routine which, std::vector<const void*> args, std::vector<double> reals,
          std::vector<host_int> ints) {
    record.push_back({which, std::move(args), std::move(reals), std::move(ints)});
}

// The present list as spans; a count outside 0..max_positions is taken as 0.
std::span<const host_int> positions(const host_int* n, const host_int* pos) {
    const host_int count = (*n >= 0 && *n <= max_positions) ? *n : 0;
    return {pos, static_cast<std::size_t>(count)};
}

void store(host_word& target, double value) { std::memcpy(target.bytes, &value, sizeof value); }

}  // namespace

host_word word(std::string_view text) {
    host_word w;
    std::memset(w.bytes, ' ', sizeof w.bytes);
    std::memcpy(w.bytes, text.data(), std::min(text.size(), sizeof w.bytes));
    return w;
}

void reset() {
    HOST_COMPONENT_COUNT = 0;
    std::fill(std::begin(HOST_POOL), std::end(HOST_POOL), host_word{});
    std::fill(std::begin(HOST_OFFSETS_IDS), std::end(HOST_OFFSETS_IDS), 0);
    std::fill(std::begin(HOST_OFFSETS_PROPS), std::end(HOST_OFFSETS_PROPS), 0);
    std::fill(std::begin(HOST_STREAM_WORK), std::end(HOST_STREAM_WORK), 0);
    std::fill(std::begin(HOST_REACTOR_STATE), std::end(HOST_REACTOR_STATE), 0.0);
    set_ids_offset(default_ids_offset);
    set_mw_offset(default_mw_offset);
    table.clear();
    model = &table;
    record.clear();
    recording = true;
}

void write_name(host_int l_ids, host_int i, const host_word& word1, const host_word& word2) {
    HOST_POOL[l_ids + 2 * i - 2] = word1;
    HOST_POOL[l_ids + 2 * i - 1] = word2;
}

void set_components(const std::vector<std::string>& names, host_int l_ids) {
    for (std::size_t k = 0; k < names.size(); ++k) {
        write_name(l_ids, static_cast<host_int>(k + 1), word(names[k]), word(""));
    }
    set_ids_offset(l_ids);
    set_component_count(static_cast<host_int>(names.size()));
}

void set_component_count(host_int nc) { HOST_COMPONENT_COUNT = nc; }
void set_ids_offset(host_int l_ids) { HOST_OFFSETS_IDS[1] = l_ids; }

void set_molecular_weights(const std::vector<double>& mw, host_int l_mw) {
    for (std::size_t k = 0; k < mw.size(); ++k) {
        store(HOST_POOL[static_cast<std::size_t>(l_mw) + k], mw[k]);
    }
    set_mw_offset(l_mw);
}

void set_mw_offset(host_int l_mw) { HOST_OFFSETS_PROPS[305] = l_mw; }
void set_reacting_volume(double v) { HOST_REACTOR_STATE[5] = v; }

void set_gibbs(host_int pos, double g) { table.g_.at(static_cast<std::size_t>(pos - 1)) = g; }
void set_fugacity(host_int pos, double phi) {
    table.phi_.at(static_cast<std::size_t>(pos - 1)) = phi;
}
void set_liquid_volume(double vl) { table.vl_ = vl; }
void set_property_model(property_model* m) { model = m ? m : &table; }

const std::vector<call>& calls() { return record; }
void clear_calls() { record.clear(); }
void set_recording(bool on) { recording = on; }

}  // namespace standin

// ---- The host's routines ------------------------------------------------------
using standin::note;
using standin::routine;

// With recording off a routine does no more than its job: nothing is built
// for the record.
#define NOTE(...) \
    do { \
        if (standin::recording) note(__VA_ARGS__); \
    } while (false)

extern "C" HOST_EXPORT void HOST_SCATTER(const double* packed, const host_int* count, const host_int* pos,
                             double* full) {
    NOTE(routine::scatter, {packed, count, pos, full}, {}, {*count});
    // Strict, as a Fortran host writes it: full(pos(k)) = packed(k) for
    // whatever pos(k) it is given, so that a caller that lets a position
    // outside 1..nc through sees the write (the sanitizers and fuzz targets
    // catch it).
    const host_int nc = HOST_COMPONENT_COUNT;
    std::fill(full, full + std::max<host_int>(nc, 0), 0.0);
    for (host_int k = 0; k < *count; ++k) {
        full[pos[k] - 1] = packed[k];
    }
}

extern "C" HOST_EXPORT void HOST_IDEAL_GAS_PROPS(
    const double* t, const double* x_present, const host_int* n_present,
    const host_int* present_pos, const host_int* diag_level, const host_int* flag6,
    const host_int* flag7, const host_int* flag8, const host_int* flag9, const host_int* flag10,
    const host_int* flag11, const host_int* flag12, double* out13, double* out14,
    double* g_packed, double* out16, double* out17, double* out18, double* out19, double* out20,
    double* out21, double* out22, double* out23, double* out24, host_int* err_flag) {
    NOTE(routine::ideal_gas_props,
         {t,     x_present, n_present, present_pos, diag_level, flag6, flag7, flag8, flag9,
          flag10, flag11,   flag12,    out13,       out14,      g_packed, out16, out17, out18,
          out19, out20,     out21,     out22,       out23,      out24,    err_flag},
         {*t}, {*n_present, *diag_level, *flag6, *flag7, *flag8, *flag9, *flag10, *flag11, *flag12});
    const auto pos = standin::positions(n_present, present_pos);
    for (std::size_t k = 0; k < pos.size(); ++k) {
        g_packed[k] = standin::model->gibbs(pos[k], *t);
    }
    // The count of packed values just returned, for the scatter that follows.
    HOST_STREAM_WORK[2] = static_cast<host_int>(pos.size());
    *err_flag = 0;
}

extern "C" HOST_EXPORT void HOST_LIQUID_VOLUME(const double* t, const double* p, const double* x_present,
                                   const host_int* n_present, const host_int* present_pos,
                                   const void* host_opts, const host_int* diag_level,
                                   const host_int* one, double* vl, double* out10,
                                   host_int* err_flag) {
    NOTE(routine::liquid_volume,
         {t, p, x_present, n_present, present_pos, host_opts, diag_level, one, vl, out10, err_flag},
         {*t, *p}, {*n_present, *diag_level, *one});
    const auto pos = standin::positions(n_present, present_pos);
    *vl = standin::model->liquid_volume(*t, *p, {x_present, pos.size()}, pos);
    *err_flag = 0;
}

extern "C" HOST_EXPORT void HOST_LIQUID_FUGACITY(const double* t, const double* p, const double* x_present,
                                     const void* fug_extra, const host_int* n_present,
                                     const host_int* present_pos, const void* host_opts,
                                     const host_int* diag_level, const host_int* one,
                                     double* phi_packed, double* out11, host_int* err_flag) {
    NOTE(routine::liquid_fugacity,
         {t, p, x_present, fug_extra, n_present, present_pos, host_opts, diag_level, one,
          phi_packed, out11, err_flag},
         {*t, *p}, {*n_present, *diag_level, *one});
    const auto pos = standin::positions(n_present, present_pos);
    for (std::size_t k = 0; k < pos.size(); ++k) {
        phi_packed[k] = standin::model->fugacity(k, *t, *p, {x_present, pos.size()}, pos);
    }
    HOST_STREAM_WORK[2] = static_cast<host_int>(pos.size());
    *err_flag = 0;
}
