// Numbers and text as the workbench reads and writes them: one formatter
// for every table, message and file, numbers as a user writes them, and
// text from a file made safe for a terminal or a CSV cell.
#ifndef UREA_WORKBENCH_BASE_TEXT_H
#define UREA_WORKBENCH_BASE_TEXT_H

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>

#include "base/words.h"

namespace workbench {

// v with `digits` significant digits, as a stream prints it (1e+03, 0.124).
std::string sig(double v, int digits = 6);

// v rounded to the decimal place 10^place, its trailing zeros kept (0.1600
// at place -4, 3.1e-05 at place -6, 1600 at place 2 as 1.6e+03).
std::string at_place(double v, int place);

// sig(v, digits), or "-" for a value that is not finite: a table's number.
std::string sig_or_dash(double v, int digits);

// A number in a CSV cell: ten significant digits, or an empty cell for a
// value that is not finite.
std::string csv_number(double v);

// A table's cell: s right-aligned in `width` (spaces before it), or with
// one space before it when it fills the width, so that it never runs into
// the cell before.
std::string right_aligned(const std::string& s, std::size_t width);

// The same left-aligned: spaces after s, at least one.
std::string left_aligned(const std::string& s, std::size_t width);

// v fixed-point with `digits` decimals, right-aligned in `width`; "-" for a
// value that is not finite.
std::string fixed(double v, int width, int digits);

// The number a whole text holds as from_chars reads it, after an optional
// '+': its value, or why not (invalid_argument when the text is not one
// number, result_out_of_range when it is too large for a double or, with
// too_small, so near 0 that a double holds none: 1e-400). "inf" and "nan"
// are read as such.
struct decimal_read {
    double value = 0.0;
    std::errc error{};
    bool too_small = false;
};
decimal_read read_decimal(std::string_view text);

// A decimal number as written: optional sign, digits, point, exponent;
// nothing else, and finite. Empty otherwise.
std::optional<double> decimal(const std::string& text);

// "; a percentage? write 0.58" for a fraction written as a percentage (a
// value above 1, at most 100: 58), to end a message with; empty otherwise.
std::string percentage_hint(double v);

enum class number_rule { any, positive, non_negative };

// The number a text gives: decimal, finite, within the rule; throws
// input_error about `subject`, the field it was given as. (NaN, infinities
// and 1e999 are refused.)
double parse_number(const field_ref& subject, const std::string& text, number_rule rule);

// A number (or a duration) as a caller gave it: as text (the command line's
// as typed, a Python str), or as the number itself (a Python int or float; a
// timedelta's seconds), its text then only to quote in a message.
struct given_number {
    std::string text;
    std::optional<double> value{};
    given_number(std::string t) : text(std::move(t)) {}  // as typed
    given_number(std::string t, double v) : text(std::move(t)), value(v) {}
};

// parse_number's checks and messages, for a number given either way.
double number_given(const field_ref& subject, const given_number& g, number_rule rule);

// Text from a file for a terminal: control characters (a line break in a
// quoted cell, an escape sequence; also those of UTF-8's C1 range, U+0080 to
// U+009F) shown as '?'.
std::string printable(const std::string& s);

// A CSV cell: quoted when it holds a comma, a quote or a line break.
std::string csv_cell(const std::string& s);

// The Levenshtein distance: edits (insert, delete, replace) from a to b,
// to suggest the name a mistyped one was meant to be.
std::size_t edit_distance(const std::string& a, const std::string& b);

}  // namespace workbench

#endif
