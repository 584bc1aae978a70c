// Times and durations as a plant history writes them: ISO 8601 date and
// time ("2026-03-01T06:00:00", "2026-03-01 06:00", with an optional UTC
// offset or Z) read to milliseconds since 1970-01-01 00:00 UTC, written
// back the same way, and durations ("24h", "8h", "7d", "30min").
#ifndef UREA_WORKBENCH_BASE_TIMESTAMPS_H
#define UREA_WORKBENCH_BASE_TIMESTAMPS_H

#include <cstdint>
#include <optional>
#include <string>

#include "base/text.h"

namespace workbench {

inline constexpr std::int64_t ms_per_second = 1000;
inline constexpr std::int64_t ms_per_minute = 60 * ms_per_second;
inline constexpr std::int64_t ms_per_hour = 60 * ms_per_minute;
inline constexpr std::int64_t ms_per_day = 24 * ms_per_hour;

// The times that can be read and written: the years 0000 to 9999 in UTC
// (a time with an offset that takes it past them is refused when read).
inline constexpr std::int64_t min_timestamp_ms = -62167219200000;  // 0000-01-01T00:00:00Z
inline constexpr std::int64_t end_timestamp_ms = 253402300800000;  // 10000-01-01T00:00:00Z, the first past them

struct timestamp_read {
    std::int64_t ms = 0;   // since 1970-01-01T00:00:00 UTC (a time without offset: read as UTC)
    bool zoned = false;    // the text gave a UTC offset or Z
    std::string error;     // why the text is no time; empty when it is one
};

// YYYY-MM-DD, then optionally T or a space and hh:mm, :ss, .fraction
// (milliseconds kept), then optionally Z, +hh:mm, +hhmm or +hh (or -).
timestamp_read read_timestamp(const std::string& text);

// "2026-03-01T06:00:00" (whole seconds; ".250" when there are
// milliseconds), with "Z" when zoned (the time is then UTC).
std::string timestamp_text(std::int64_t ms, bool zoned);

// A duration: a positive number and a unit, s, min, h, d or w
// ("24h", "90min", "1.5h", "7d"); throws input_error naming the option.
std::int64_t parse_duration(const std::string& field_name, const std::string& text);

// The same for a duration given as text or as seconds (given_number: a
// Python timedelta), within the same bounds.
std::int64_t duration_given(const std::string& field_name, const given_number& g);

// A duration as parse_duration reads it: "24h", "7d", "90min", "45s".
std::string duration_text(std::int64_t ms);

}  // namespace workbench

#endif
