#include "base/timestamps.h"

#include <cctype>
#include <cmath>
#include <cstdio>

#include "base/errors.h"
#include "base/text.h"

namespace workbench {
namespace {

// Days since 1970-01-01 of a date of the proleptic Gregorian calendar.
std::int64_t days_from_civil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2 ? 1 : 0;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

void civil_from_days(std::int64_t z, std::int64_t& y, unsigned& m, unsigned& d) {
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const auto doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    y = static_cast<std::int64_t>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y += m <= 2 ? 1 : 0;
}

bool leap(std::int64_t y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

unsigned days_in_month(std::int64_t y, unsigned m) {
    static constexpr unsigned days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && leap(y) ? 29 : days[m - 1];
}

}  // namespace

timestamp_read read_timestamp(const std::string& text) {
    timestamp_read out;
    const std::string t = text;
    std::size_t i = 0;
    // n digits at i, as a number; false when they are not there.
    const auto digits = [&](std::size_t n, unsigned& v) {
        if (i + n > t.size()) return false;
        v = 0;
        for (std::size_t k = 0; k < n; ++k) {
            const char c = t[i + k];
            if (!std::isdigit(static_cast<unsigned char>(c))) return false;
            v = v * 10 + static_cast<unsigned>(c - '0');
        }
        i += n;
        return true;
    };
    const auto at = [&](char c) { return i < t.size() && t[i] == c; };
    const char* form = "not a time (write 2026-03-01T06:00:00 or 2026-03-01 06:00, optionally with Z or an "
                       "offset such as +01:00)";
    unsigned y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0, ms = 0;
    if (!digits(4, y) || !at('-') || (++i, !digits(2, mo)) || !at('-') || (++i, !digits(2, d))) {
        out.error = form;
        return out;
    }
    if (mo < 1 || mo > 12 || d < 1 || d > days_in_month(y, mo)) {
        out.error = "no such date";
        return out;
    }
    if (at('T') || at(' ')) {
        ++i;
        if (!digits(2, h) || !at(':') || (++i, !digits(2, mi))) {
            out.error = form;
            return out;
        }
        if (at(':')) {
            ++i;
            if (!digits(2, s)) {
                out.error = form;
                return out;
            }
            if (at('.') || at(',')) {
                ++i;
                unsigned scale = 100;
                std::size_t n = 0;
                while (i < t.size() && std::isdigit(static_cast<unsigned char>(t[i]))) {
                    ms += static_cast<unsigned>(t[i] - '0') * scale;
                    scale /= 10;
                    ++i;
                    ++n;
                }
                if (n == 0) {
                    out.error = form;
                    return out;
                }
            }
        }
        if (h > 23 || mi > 59 || s > 59) {
            out.error = "no such time of day";
            return out;
        }
    }
    std::int64_t offset_min = 0;
    if (at('Z')) {
        ++i;
        out.zoned = true;
    } else if (at('+') || at('-')) {
        const int sign = t[i] == '-' ? -1 : 1;
        ++i;
        unsigned oh = 0, om = 0;
        if (!digits(2, oh)) {
            out.error = form;
            return out;
        }
        if (at(':')) ++i;
        if (i < t.size() && !digits(2, om)) {
            out.error = form;
            return out;
        }
        if (oh > 18 || om > 59) {
            out.error = "no such UTC offset";
            return out;
        }
        offset_min = sign * static_cast<std::int64_t>(oh * 60 + om);
        out.zoned = true;
    }
    if (i != t.size()) {
        out.error = form;
        return out;
    }
    out.ms = days_from_civil(y, mo, d) * ms_per_day + static_cast<std::int64_t>(h) * ms_per_hour +
             static_cast<std::int64_t>(mi) * ms_per_minute + static_cast<std::int64_t>(s) * ms_per_second + ms -
             offset_min * ms_per_minute;
    if (out.ms < min_timestamp_ms || out.ms >= end_timestamp_ms) {
        out.error = "outside the years 0000 to 9999 once its UTC offset is taken off";
        out.ms = 0;
    }
    return out;
}

std::string timestamp_text(std::int64_t ms, bool zoned) {
    std::int64_t days = ms / ms_per_day, rest = ms % ms_per_day;
    if (rest < 0) {
        rest += ms_per_day;
        --days;
    }
    std::int64_t y = 0;
    unsigned m = 0, d = 0;
    civil_from_days(days, y, m, d);
    char buf[64];
    std::snprintf(buf, sizeof buf, "%04lld-%02u-%02uT%02lld:%02lld:%02lld", static_cast<long long>(y), m, d,
                  static_cast<long long>(rest / ms_per_hour), static_cast<long long>(rest / ms_per_minute % 60),
                  static_cast<long long>(rest / ms_per_second % 60));
    std::string out = buf;
    if (rest % ms_per_second != 0) {
        std::snprintf(buf, sizeof buf, ".%03lld", static_cast<long long>(rest % ms_per_second));
        out += buf;
    }
    return zoned ? out + "Z" : out;
}

namespace {

// A duration's milliseconds, within a second and some thousand years.
std::int64_t duration_ms(const std::string& field_name, const std::string& text, double ms) {
    if (!(ms >= 1000.0) || ms > 1e15) {
        throw input_error(given(field_name, text), "must be at least a second, and at most some thousand years");
    }
    return static_cast<std::int64_t>(std::llround(ms));
}

}  // namespace

std::int64_t parse_duration(const std::string& field_name, const std::string& text) {
    std::size_t unit = text.size();
    while (unit > 0 && std::isalpha(static_cast<unsigned char>(text[unit - 1]))) --unit;
    const std::string number = text.substr(0, unit), u = text.substr(unit);
    const std::optional<double> v = decimal(number);
    std::int64_t scale = 0;
    if (u == "s") scale = ms_per_second;
    if (u == "min") scale = ms_per_minute;
    if (u == "h") scale = ms_per_hour;
    if (u == "d") scale = ms_per_day;
    if (u == "w") scale = 7 * ms_per_day;
    if (!v || scale == 0) {
        throw input_error(given(field_name, text), std::string("write a duration as a number and a unit: s, min, h, d or "
                                                               "w (24h, 8h, 7d, 90min)") +
                                                       (u == "m" ? "; m is ambiguous: write min" : ""));
    }
    return duration_ms(field_name, text, *v * static_cast<double>(scale));
}

std::int64_t duration_given(const std::string& field_name, const given_number& g) {
    if (!g.value) return parse_duration(field_name, g.text);
    return duration_ms(field_name, g.text, *g.value * static_cast<double>(ms_per_second));
}

std::string duration_text(std::int64_t ms) {
    if (ms % (7 * ms_per_day) == 0 && ms >= 14 * ms_per_day) return std::to_string(ms / (7 * ms_per_day)) + "w";
    if (ms % ms_per_day == 0 && ms >= 2 * ms_per_day) return std::to_string(ms / ms_per_day) + "d";
    if (ms % ms_per_hour == 0) return std::to_string(ms / ms_per_hour) + "h";
    if (ms % ms_per_minute == 0) return std::to_string(ms / ms_per_minute) + "min";
    if (ms % ms_per_second == 0) return std::to_string(ms / ms_per_second) + "s";
    return sig(static_cast<double>(ms) / 1000.0) + "s";
}

}  // namespace workbench
