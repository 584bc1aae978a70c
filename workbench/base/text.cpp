#include "base/text.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <iomanip>
#include <sstream>
#include <string_view>
#include <vector>

#include "base/errors.h"

namespace workbench {

std::string sig(double v, int digits) {
    std::ostringstream s;
    s.precision(digits);
    s << v;
    return s.str();
}

std::string sig_or_dash(double v, int digits) { return std::isfinite(v) ? sig(v, digits) : "-"; }

std::string csv_number(double v) { return std::isfinite(v) ? sig(v, 10) : ""; }

std::string right_aligned(const std::string& s, std::size_t width) {
    return s.size() >= width ? " " + s : std::string(width - s.size(), ' ') + s;
}

std::string left_aligned(const std::string& s, std::size_t width) {
    return s.size() >= width ? s + " " : s + std::string(width - s.size(), ' ');
}

std::string at_place(double v, int place) {
    if (!std::isfinite(v)) return "-";
    if (v == 0.0) return "0";
    // The digits down to the place, counted on the value as rounded there
    // (0.0996 to 10^-3 is 0.100: one digit more than 0.0996 has there).
    const double unit = std::pow(10.0, place), rounded = std::round(v / unit) * unit;
    if (rounded == 0.0) return "0";
    const int digits = std::max(1, static_cast<int>(std::floor(std::log10(std::abs(rounded)) + 1e-9)) - place + 1);
    std::ostringstream s;
    s << std::showpoint << std::setprecision(digits) << rounded;
    // showpoint leaves a point with no digits after it: "1600." or "2.e-05".
    std::string t = s.str();
    const std::size_t dot = t.find('.');
    if (dot != std::string::npos && (dot + 1 == t.size() || t[dot + 1] == 'e')) t.erase(dot, 1);
    return t;
}

std::string fixed(double v, int width, int digits) {
    std::ostringstream s;
    if (std::isfinite(v)) {
        s << std::fixed << std::setprecision(digits) << std::setw(width) << v;
    } else {
        s << std::setw(width) << "-";
    }
    return s.str();
}

decimal_read read_decimal(std::string_view s) {
    if (!s.empty() && s.front() == '+') s.remove_prefix(1);
    decimal_read r;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), r.value);
    // An empty text is invalid_argument already; so is one with more after the number.
    r.error = ec == std::errc() && end != s.data() + s.size() ? std::errc::invalid_argument : ec;
    if (r.error == std::errc::result_out_of_range) {
        // Too large or too small: strtod says which (HUGE_VAL, or 0 and at
        // most the smallest subnormal).
        const double v = std::strtod(std::string(s).c_str(), nullptr);
        r.too_small = std::abs(v) < 1.0;
    }
    return r;
}

std::optional<double> decimal(const std::string& text) {
    const decimal_read r = read_decimal(text);
    if (r.error != std::errc() || !std::isfinite(r.value)) return std::nullopt;
    return r.value;
}

namespace {

// Throws: `subject` must be a number within the rule (got TEXT, WHY).
[[noreturn]] void refuse_number(const field_ref& subject, const std::string& text, number_rule rule,
                                const std::string& why) {
    const std::string wanted = rule == number_rule::positive       ? "a number > 0"
                               : rule == number_rule::non_negative ? "a number >= 0"
                                                                   : "a finite number";
    // A long text (a number of 400 digits) is echoed by its start and length.
    const std::string got =
        text.size() <= 40 ? text : text.substr(0, 30) + "... (" + std::to_string(text.size()) + " characters)";
    throw input_error(subject, "must be " + wanted + " (got " + got + (why.empty() ? "" : ", " + why) + ")");
}

bool within(double v, number_rule rule) {
    return std::isfinite(v) && (rule != number_rule::positive || v > 0.0) &&
           (rule != number_rule::non_negative || v >= 0.0);
}

}  // namespace

double number_given(const field_ref& subject, const given_number& g, number_rule rule) {
    if (!g.value) return parse_number(subject, g.text, rule);
    if (!within(*g.value, rule)) refuse_number(subject, g.text, rule, "");
    return *g.value;
}

double parse_number(const field_ref& subject, const std::string& text, number_rule rule) {
    const auto refuse = [&](const std::string& why) -> double { refuse_number(subject, text, rule, why); };
    if (text.empty() || text.find_first_not_of("0123456789+-.eE") != std::string::npos) return refuse("");
    errno = 0;
    char* end = nullptr;
    const double v = std::strtod(text.c_str(), &end);
    if (end != text.c_str() + text.size()) return refuse("");
    if (errno == ERANGE && std::abs(v) > 1.0) return refuse("too large for a double");
    if (errno == ERANGE && v == 0.0) return refuse("too small for a double, which reads it as 0");
    if (!within(v, rule)) return refuse("");
    return v;
}

std::string printable(const std::string& s) {
    std::string out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size(); ++i) {
        const auto u = static_cast<unsigned char>(s[i]);
        if (u < 0x20 || u == 0x7f) {
            out += '?';
        } else if (u == 0xc2 && i + 1 < s.size() && static_cast<unsigned char>(s[i + 1]) >= 0x80 &&
                   static_cast<unsigned char>(s[i + 1]) <= 0x9f) {
            out += '?';  // a C1 control, U+0080 to U+009F, in UTF-8
            ++i;
        } else {
            out += s[i];
        }
    }
    return out;
}

std::string csv_cell(const std::string& s) {
    if (s.find_first_of(",\"\r\n") == std::string::npos) return s;
    std::string q = "\"";
    for (const char ch : s) {
        q += ch;
        if (ch == '"') q += '"';
    }
    return q + "\"";
}

std::string percentage_hint(double v) { return v > 1.0 && v <= 100.0 ? "; a percentage? write " + sig(v / 100.0) : ""; }

std::size_t edit_distance(const std::string& a, const std::string& b) {
    std::vector<std::size_t> row(b.size() + 1);
    for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i) {
        std::size_t diagonal = row[0];
        row[0] = i;
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const std::size_t above = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
            diagonal = above;
        }
    }
    return row[b.size()];
}

}  // namespace workbench
