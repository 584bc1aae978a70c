// What can go wrong in the workbench, as types that carry what they are
// about: bad input (with the key, file, line and column where known), a
// solver that found no solution, and work stopped on request (a signal, a
// time limit). Anything else that escapes is a bug in the workbench.
#ifndef UREA_WORKBENCH_BASE_ERRORS_H
#define UREA_WORKBENCH_BASE_ERRORS_H

#include <cstddef>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>

#include "base/text.h"
#include "base/words.h"

namespace workbench {

// Where bad input sits: a field of a request (what a caller gave: see
// base/words.h), a key of a case (its path, "reactor.trays"), a file, a line
// and a column (1-based; 0 when not known).
struct input_place {
    std::string key;
    std::string file;
    std::size_t line = 0;
    std::size_t column = 0;
    std::optional<field_ref> field = std::nullopt;
};

// Bad input. what() is the whole message in neutral words, and message()
// the message itself, its mentions of fields kept for each client to say in
// its own words (see base/words.h, in_words); reason() is the message
// without the place, which place() holds: a field of a request, or a case's
// key, a file, a line and a column. The message is one line of text a
// terminal shows as it is: a control character that a file's text put
// there (a line break, an escape sequence) is shown as '?' (printable).
class input_error : public std::runtime_error {
public:
    explicit input_error(const workbench::message& m)
        : std::runtime_error(neutral_words(m)), message_(printable(m)), reason_(message_) {}
    input_error(const workbench::message& m, const workbench::message& reason, input_place place)
        : std::runtime_error(neutral_words(m)), message_(printable(m)), reason_(printable(reason)),
          place_(std::move(place)) {
        place_.key = printable(place_.key);
    }
    // "FIELD: REASON", about a field of a request.
    input_error(const field_ref& field, const workbench::message& reason)
        : std::runtime_error(neutral_words(printable(field)) + ": " + neutral_words(reason)),
          message_(neutral_words(printable(field)) + ": " + printable(reason)), reason_(printable(reason)),
          place_{"", "", 0, 0, printable(field)} {}

    // "KEY: REASON", about a key of a case.
    static input_error at_key(const std::string& key, const workbench::message& reason) {
        return input_error(key + ": " + reason, reason, input_place{key, "", 0, 0});
    }

    const workbench::message& message() const { return message_; }
    const workbench::message& reason() const { return reason_; }
    const input_place& place() const { return place_; }

private:
    workbench::message message_;
    workbench::message reason_;
    input_place place_;
};

// The error's whole message in a client's words: the field it is about as
// the client names it, then the reason; or the message, its mentions in
// the client's words.
std::string in_words(const input_error& e, const vocabulary& v);

// A solver that found no solution. what() is one complete line (printable,
// as input_error's: it may name a run of a file); details() lists what each
// start ended with.
class solver_error : public std::runtime_error {
public:
    explicit solver_error(const std::string& summary, std::string details = "")
        : std::runtime_error(printable(summary)), details_(std::move(details)) {}
    const std::string& details() const { return details_; }

private:
    std::string details_;
};

// The system would not give what the work needs (a process, a socket):
// neither the input's fault nor a bug. what() is one line.
class resource_error : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// An answer from a worker (a forked process, or another machine through an
// executor) that is not the one asked for: cut short or too long, for
// another piece of work, a chunk or a result missing, repeated or out of
// place, or values that do not fit the work (a point's index, a window's).
// what() says which chunk of which work, and what was wrong. Nothing of
// such an answer is taken.
class worker_answer_error : public std::runtime_error {
public:
    explicit worker_answer_error(const std::string& what) : std::runtime_error(what) {}
};

// Work stopped on request before it ended: by a signal (its number), or by
// a time limit or a caller's own reason (signal 0).
class interrupted : public std::runtime_error {
public:
    explicit interrupted(const std::string& why, int signal = 0) : std::runtime_error(why), signal_(signal) {}
    int signal() const { return signal_; }

private:
    int signal_;
};

}  // namespace workbench

#endif
