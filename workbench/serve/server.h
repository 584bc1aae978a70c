// `serve`: a watched plant's store over HTTP, read-only: a live page (its
// files embedded in the program, served from an allow-list) and a JSON API
// under /api/v1/ (docs/reference/api.md). Loopback only unless a token guards
// it; with one, every request shows it (Authorization: Bearer, or the cookie
// the sign-in page sets). Nothing it serves is fetched from elsewhere.
#ifndef UREA_WORKBENCH_SERVE_SERVER_H
#define UREA_WORKBENCH_SERVE_SERVER_H

#include <cstddef>
#include <cstdint>
#include <optional>
#include <ostream>
#include <string>

#include "session/version.h"

namespace workbench {

struct serve_settings {
    std::string store;
    std::string host = "127.0.0.1";
    int port = 8080;
    std::optional<std::string> token;  // as read from the token file
    std::string tls_cert, tls_key;     // both or neither: HTTPS
    build_info build;                  // stamped on the monitor's JSON and report
    std::size_t threads = 8;           // requests served at once
    std::int64_t poll_ms = 1000;       // the store looked at for a new pass at most this often
};

// "127.0.0.1", "::1", "localhost" and the rest of 127.0.0.0/8.
bool is_loopback_host(const std::string& host);

// "HOST:PORT", "[V6]:PORT" or ":PORT"; throws input_error naming --listen.
void parse_listen(const std::string& text, std::string& host, int& port);

// The token in a file: its first line, without surrounding blanks; throws
// input_error when it cannot be read or is shorter than 16 characters.
std::string read_token_file(const std::string& path);

// Checks the settings (a non-loopback address without a token, half of
// TLS: input_error), opens the store read-only, listens, prints one line
// "serving STORE at URL" to `log` and serves until the process ends.
// Returns only when it cannot listen (input_error).
void serve(const serve_settings& s, std::ostream& log);

}  // namespace workbench

#endif
