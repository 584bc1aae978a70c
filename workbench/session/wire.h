// The messages of workers (session/workers.h): a chunk's results, sent back
// from a worker process or another machine, and the state of the work sent
// out to other machines. Each is a tree of values (nlohmann's json) written
// as CBOR in an envelope that names the format's version and the message's
// kind: {"format": 1, "kind": "study point", "body": ...}.
//
// A type's fields are listed once, with WIRE_FIELDS beside the field lists
// of its kin (analysis/messages.h); the list both writes and reads it, as a
// list of its fields' values in that order (the format's version stands for
// the order; an error names the field). Numbers keep every bit: a double as
// a CBOR float (a NaN, which CBOR would cut to a half, as its 8 bytes), an
// integer as a CBOR integer checked against its type's range on reading.
//
// The reader takes the bytes as untrusted (another machine's, or a worker's
// whose plug-in wrote over its memory): bounded in size and in nesting
// depth, nothing allocated before its bytes have come, a message of another
// format or kind refused, a missing or wrong field named. Anything wrong
// throws worker_answer_error, and nothing else.
//
// Include it in source files only: its templates are for the few that write
// or read messages.
#ifndef UREA_WORKBENCH_SESSION_WIRE_H
#define UREA_WORKBENCH_SESSION_WIRE_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "base/errors.h"

namespace workbench::wire {

using tree = nlohmann::json;

// The version of every field list: raised with any change of one (a field
// added, taken away, renamed or of another type).
inline constexpr int format = 2;

// No message is longer (the workers' socket's bound on a record), nor
// nested deeper: the deepest message (a study's plan with its bands) is 8
// levels.
inline constexpr std::size_t max_bytes = std::size_t{1} << 30;
inline constexpr std::size_t max_depth = 16;

// The message of this kind with this body, as bytes.
std::string encode(const std::string& kind, tree body);
// The body of a message of this kind. Throws worker_answer_error: not a
// message of this format ("a worker's answer of format 2, this build reads
// 1"), of another kind, too long or deep, cut short, bytes past its end.
tree decode(const std::string& bytes, const std::string& kind);

namespace detail {

// Why a value could not be read, and where (its field's path, built on the
// way out: "bands[2].low").
struct wrong_value {
    std::string path;
    std::string why;
};

[[noreturn]] void wrong(const std::string& why);
[[noreturn]] void wrong_type(const char* expected, const tree& got);
// In the path: a field of a type, an element of a list.
[[noreturn]] void in_field(const char* name, wrong_value&& e);
[[noreturn]] void in_element(std::size_t k, wrong_value&& e);
const tree::array_t& array_of(const tree& j, std::size_t size = std::numeric_limits<std::size_t>::max());

void put(tree& j, double x);
void get(const tree& j, double& x);
void put(tree& j, bool x);
void get(const tree& j, bool& x);
void put(tree& j, const std::string& s);
void get(const tree& j, std::string& s);
void get_integer(const tree& j, std::int64_t& x, std::int64_t least, std::uint64_t most);
// A tree as it is (for a caller's own checks).
inline void put(tree& j, const tree& x) { j = x; }
inline void get(const tree& j, tree& x) { x = j; }

// Every overload declared before any is defined, so that each finds the
// others whatever the nesting.
template <class T>
    requires(std::is_integral_v<T> && !std::is_same_v<T, bool>)
void put(tree& j, T x);
template <class T>
    requires(std::is_integral_v<T> && !std::is_same_v<T, bool>)
void get(const tree& j, T& x);
template <class E>
    requires std::is_enum_v<E>
void put(tree& j, E x);
template <class E>
    requires std::is_enum_v<E>
void get(const tree& j, E& x);
template <class T>
    requires std::is_class_v<T>
void put(tree& j, const T& x);
template <class T>
    requires std::is_class_v<T>
void get(const tree& j, T& x);
template <class T>
void put(tree& j, const std::optional<T>& v);
template <class T>
void get(const tree& j, std::optional<T>& v);
template <class T>
void put(tree& j, const std::vector<T>& v);
template <class T>
void get(const tree& j, std::vector<T>& v);
template <class T, std::size_t N>
void put(tree& j, const std::array<T, N>& v);
template <class T, std::size_t N>
void get(const tree& j, std::array<T, N>& v);

template <class T>
    requires(std::is_integral_v<T> && !std::is_same_v<T, bool>)
void put(tree& j, T x) {
    if constexpr (std::is_signed_v<T>) {
        j = static_cast<std::int64_t>(x);
    } else {
        j = static_cast<std::uint64_t>(x);
    }
}

template <class T>
    requires(std::is_integral_v<T> && !std::is_same_v<T, bool>)
void get(const tree& j, T& x) {
    if constexpr (std::is_signed_v<T>) {
        std::int64_t v = 0;
        get_integer(j, v, std::numeric_limits<T>::min(), static_cast<std::uint64_t>(std::numeric_limits<T>::max()));
        x = static_cast<T>(v);
    } else {
        if (!j.is_number_unsigned()) wrong_type("a count", j);
        const auto v = j.get<std::uint64_t>();
        if (v > std::numeric_limits<T>::max()) wrong("a count of " + std::to_string(v) + ", out of range");
        x = static_cast<T>(v);
    }
}

// An enum as its number, below wire_enum_size(E{}) (found beside E).
template <class E>
    requires std::is_enum_v<E>
void put(tree& j, E x) {
    j = static_cast<std::uint64_t>(x);
}
template <class E>
    requires std::is_enum_v<E>
void get(const tree& j, E& x) {
    std::size_t v = 0;
    get(j, v);
    if (v >= wire_enum_size(E{})) wrong("a choice numbered " + std::to_string(v) + ", of " + std::to_string(wire_enum_size(E{})));
    x = static_cast<E>(v);
}

// A type of its own: by its field list (WIRE_FIELDS), or its own pair of
// wire_put / wire_get beside it.
template <class T>
    requires std::is_class_v<T>
void put(tree& j, const T& x) {
    wire_put(j, x);
}
template <class T>
    requires std::is_class_v<T>
void get(const tree& j, T& x) {
    wire_get(j, x);
}

template <class T>
void put(tree& j, const std::optional<T>& v) {
    if (v) {
        put(j, *v);
    } else {
        j = nullptr;
    }
}
template <class T>
void get(const tree& j, std::optional<T>& v) {
    if (j.is_null()) {
        v.reset();
    } else {
        get(j, v.emplace());
    }
}

template <class T>
void put(tree& j, const std::vector<T>& v) {
    j = tree::array();
    tree::array_t& a = j.get_ref<tree::array_t&>();
    a.reserve(v.size());
    for (const T& x : v) put(a.emplace_back(), static_cast<const T&>(x));
}
template <class T>
void get(const tree& j, std::vector<T>& v) {
    // The tree holds every element already: its size is what came.
    const tree::array_t& a = array_of(j);
    v.clear();
    v.reserve(a.size());
    for (std::size_t k = 0; k < a.size(); ++k) {
        try {
            T x{};
            get(a[k], x);
            v.push_back(std::move(x));
        } catch (wrong_value& e) {
            in_element(k, std::move(e));
        }
    }
}

template <class T, std::size_t N>
void put(tree& j, const std::array<T, N>& v) {
    j = tree::array();
    tree::array_t& a = j.get_ref<tree::array_t&>();
    a.reserve(N);
    for (const T& x : v) put(a.emplace_back(), x);
}
template <class T, std::size_t N>
void get(const tree& j, std::array<T, N>& v) {
    const tree::array_t& a = array_of(j, N);
    for (std::size_t k = 0; k < N; ++k) {
        try {
            get(a[k], v[k]);
        } catch (wrong_value& e) {
            in_element(k, std::move(e));
        }
    }
}

// A type's fields as the list they came in: as many as it has (the first
// missing one named).
const tree::array_t& fields_of(const tree& j, const char* const* names, std::size_t n);
template <class T>
void get_field(const tree::array_t& a, std::size_t k, const char* name, T& x) {
    try {
        get(a[k], x);
    } catch (wrong_value& e) {
        in_field(name, std::move(e));
    }
}

}  // namespace detail

// A value as a message of this kind, and back. read throws
// worker_answer_error naming the field that was wrong.
template <class T>
std::string write(const std::string& kind, const T& x) {
    tree j;
    detail::put(j, x);
    return encode(kind, std::move(j));
}
void read_failed(const std::string& kind, const detail::wrong_value& e);
template <class T>
void read(const std::string& bytes, const std::string& kind, T& x) {
    const tree j = decode(bytes, kind);
    try {
        detail::get(j, x);
    } catch (const detail::wrong_value& e) {
        read_failed(kind, e);
    }
}
template <class T>
T read(const std::string& bytes, const std::string& kind) {
    T x{};
    read(bytes, kind, x);
    return x;
}

}  // namespace workbench::wire

#define WIRE_FIELD_NAME(f) #f,
#define WIRE_PUT_FIELD(f) ::workbench::wire::detail::put(a.emplace_back(), x.f);
#define WIRE_GET_FIELD(f) ::workbench::wire::detail::get_field(a, k++, #f, x.f);

// The field list of a type: its writer and reader, in the type's namespace.
// The fields go as a list, in this order (their names are this list's).
#define WIRE_FIELDS(Type, ...)                                                                                   \
    [[maybe_unused]] inline void wire_put(::workbench::wire::tree& j, const Type& x) {                           \
        j = ::workbench::wire::tree::array();                                                                    \
        auto& a = j.get_ref<::workbench::wire::tree::array_t&>();                                                \
        NLOHMANN_JSON_EXPAND(NLOHMANN_JSON_PASTE(WIRE_PUT_FIELD, __VA_ARGS__))                                   \
    }                                                                                                            \
    [[maybe_unused]] inline void wire_get(const ::workbench::wire::tree& j, Type& x) {                           \
        static constexpr const char* names[] = {NLOHMANN_JSON_EXPAND(NLOHMANN_JSON_PASTE(WIRE_FIELD_NAME, __VA_ARGS__))}; \
        const auto& a = ::workbench::wire::detail::fields_of(j, names, sizeof names / sizeof *names);            \
        std::size_t k = 0;                                                                                       \
        NLOHMANN_JSON_EXPAND(NLOHMANN_JSON_PASTE(WIRE_GET_FIELD, __VA_ARGS__))                                   \
    }

#endif
