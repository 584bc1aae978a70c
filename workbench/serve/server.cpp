#include "serve/server.h"

#include <httplib.h>
#include <openssl/crypto.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <fstream>
#include <memory>
#include <mutex>
#include <sstream>

#include "base/digest.h"
#include "base/errors.h"
#include "base/timestamps.h"
#include "serve/assets.h"
#include "serve/store_view.h"

namespace workbench {

namespace {

using ojson = nlohmann::ordered_json;

constexpr const char* session_cookie = "urea_session";
constexpr std::size_t default_page = 1000, largest_page = 10000;

std::int64_t now_ms() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch()).count();
}

// Plant text may hold bytes that are no UTF-8: replaced, never a failed answer.
std::string dumped(const ojson& j) { return j.dump(-1, ' ', false, ojson::error_handler_t::replace); }

void send_json(httplib::Response& res, const ojson& j) {
    res.set_content(dumped(j), "application/json; charset=utf-8");
}

void send_error(httplib::Response& res, int status, const std::string& message) {
    res.status = status;
    send_json(res, {{"error", {{"status", status}, {"message", message}}}});
}

// Equal in a time that does not depend on where they differ: both hashed
// first, so that not even their lengths show.
bool same_secret(const std::string& given, const std::string& wanted) {
    const std::string a = sha256_hex(given), b = sha256_hex(wanted);
    return a.size() == b.size() && CRYPTO_memcmp(a.data(), b.data(), a.size()) == 0;
}

// The cookie's value: derived from the token, so the token itself is never
// stored by the browser.
std::string session_value(const std::string& token) { return sha256_hex("urea-reactor serve session\n" + token); }

std::string cookie_named(const httplib::Request& req, const std::string& name) {
    const std::string cookies = req.get_header_value("Cookie");
    std::size_t at = 0;
    while (at < cookies.size()) {
        std::size_t end = cookies.find(';', at);
        if (end == std::string::npos) end = cookies.size();
        std::string part = cookies.substr(at, end - at);
        const std::size_t first = part.find_first_not_of(' ');
        part = first == std::string::npos ? "" : part.substr(first);
        if (part.rfind(name + "=", 0) == 0) return part.substr(name.size() + 1);
        at = end + 1;
    }
    return {};
}

// The sign-in page: a form that posts the token; no script.
std::string signin_page(bool failed) {
    std::string page =
        "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\"><title>urea-reactor: sign in</title>"
        "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\"><link rel=\"icon\" href=\"data:,\">"
        "<link rel=\"stylesheet\" href=\"/style.css\"></head>\n<body class=\"signin\"><main><h1>urea-reactor</h1>"
        "<form method=\"post\" action=\"/signin\"><label for=\"token\">Token</label> "
        "<input id=\"token\" name=\"token\" type=\"password\" autocomplete=\"current-password\" required autofocus> "
        "<button type=\"submit\">Sign in</button></form>";
    if (failed) page += "<p class=\"refused\">That token is not this server's.</p>";
    return page + "</main></body></html>\n";
}

// The store, read again when a pass of watch has changed it.
class store_cache {
public:
    store_cache(const serve_settings& s) : settings_(s), db_(open_database_read_only(s.store)) {}

    std::shared_ptr<const store_snapshot> get() {
        const std::lock_guard<std::mutex> hold(mutex_);
        const std::int64_t now = now_ms();
        if (snapshot_ && now - checked_ < settings_.poll_ms) return snapshot_;
        try {
            checked_ = now;  // failed or not, looked at again only after poll_ms
            if (!snapshot_ || store_passes(*db_) != snapshot_->passes) snapshot_ = read_snapshot(*db_, settings_.build);
        } catch (const database_error&) {
            // A pass being written holds the store a moment: the last state
            // stays served; with none, the request fails.
            if (!snapshot_) throw;
        } catch (const std::exception& e) {
            if (!snapshot_) throw database_error(std::string("the store ") + settings_.store + " cannot be read: " + e.what());
        }
        return snapshot_;
    }

private:
    const serve_settings& settings_;
    std::unique_ptr<database> db_;
    std::mutex mutex_;
    std::shared_ptr<const store_snapshot> snapshot_;
    std::int64_t checked_ = 0;
};

// A time given to the API: ISO 8601 as the history writes it.
std::optional<std::int64_t> time_param(const httplib::Request& req, const std::string& name, httplib::Response& res) {
    if (!req.has_param(name.c_str())) return std::nullopt;
    const timestamp_read t = read_timestamp(req.get_param_value(name.c_str()));
    if (!t.error.empty()) {
        send_error(res, 400, "?" + name + "= is no time (" + t.error + "): give ISO 8601, e.g. 2026-03-01T06:00:00Z");
        return std::nullopt;
    }
    return t.ms;
}

bool count_param(const httplib::Request& req, const std::string& name, std::size_t fallback, std::size_t largest,
                 std::size_t& out, httplib::Response& res) {
    out = fallback;
    if (!req.has_param(name.c_str())) return true;
    const std::string v = req.get_param_value(name.c_str());
    const bool digits = !v.empty() && v.size() <= 12 && std::all_of(v.begin(), v.end(), [](char c) { return c >= '0' && c <= '9'; });
    if (!digits || std::stoull(v) > largest) {
        send_error(res, 400, "?" + name + "= must be a whole number from 0 to " + std::to_string(largest));
        return false;
    }
    out = static_cast<std::size_t>(std::stoull(v));
    return true;
}

void windows_answer(const store_snapshot& s, const httplib::Request& req, httplib::Response& res) {
    const auto from = time_param(req, "from", res);
    if (res.status == 400) return;
    const auto to = time_param(req, "to", res);
    if (res.status == 400) return;
    std::size_t limit = 0, offset = 0;
    if (!count_param(req, "limit", default_page, largest_page, limit, res)) return;
    if (!count_param(req, "offset", 0, static_cast<std::size_t>(1e12), offset, res)) return;
    if (limit == 0) return send_error(res, 400, "?limit= must be at least 1");
    // The windows that start in [from, to).
    const auto& starts = s.window_start_ms;
    const auto first = from ? std::lower_bound(starts.begin(), starts.end(), *from) : starts.begin();
    const auto end = to ? std::lower_bound(starts.begin(), starts.end(), *to) : starts.end();
    const std::size_t lo = static_cast<std::size_t>(first - starts.begin());
    const std::size_t hi = std::max(lo, static_cast<std::size_t>(end - starts.begin()));
    const std::size_t total = hi - lo;
    ojson page = ojson::array();
    for (std::size_t i = lo + std::min(offset, total); i < hi && page.size() < limit; ++i) page.push_back(s.windows[i]);
    const std::size_t next = offset + page.size();
    send_json(res, {{"total", total},
                    {"offset", offset},
                    {"limit", limit},
                    {"next_offset", next < total ? ojson(next) : ojson(nullptr)},
                    {"windows", page}});
}

void window_detail(const store_snapshot& s, const httplib::Request& req, httplib::Response& res) {
    if (!req.has_param("start")) return send_error(res, 400, "give the window's start: ?start=TIME");
    const auto start = time_param(req, "start", res);
    if (!start) return;
    const auto at = std::lower_bound(s.window_start_ms.begin(), s.window_start_ms.end(), *start);
    if (at == s.window_start_ms.end() || *at != *start) return send_error(res, 404, "no window starts at that time");
    const auto i = static_cast<std::size_t>(at - s.window_start_ms.begin());
    send_json(res, s.document.at("windows").at(i));
}

bool is_get(const httplib::Request& req) { return req.method == "GET" || req.method == "HEAD"; }

}  // namespace

bool is_loopback_host(const std::string& host) {
    return host == "localhost" || host == "::1" || host.rfind("127.", 0) == 0;
}

void parse_listen(const std::string& text, std::string& host, int& port) {
    const std::size_t colon = text.rfind(':');
    if (colon == std::string::npos) throw input_error("--listen " + text + ": give HOST:PORT, e.g. 127.0.0.1:8080");
    host = text.substr(0, colon);
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
    if (host.empty()) host = "127.0.0.1";
    const std::string p = text.substr(colon + 1);
    const bool digits = !p.empty() && p.size() <= 5 && std::all_of(p.begin(), p.end(), [](char c) { return c >= '0' && c <= '9'; });
    if (!digits || std::stoi(p) < 1 || std::stoi(p) > 65535) {
        throw input_error("--listen " + text + ": the port must be a number from 1 to 65535");
    }
    port = std::stoi(p);
}

std::string read_token_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::string line;
    if (!in || !std::getline(in, line)) throw input_error("--token-file " + path + ": cannot be read");
    const auto first = line.find_first_not_of(" \t\r");
    const auto last = line.find_last_not_of(" \t\r");
    const std::string token = first == std::string::npos ? "" : line.substr(first, last - first + 1);
    if (token.size() < 16) {
        throw input_error("--token-file " + path + ": the token (its first line) must be at least 16 characters; "
                          "make one with: openssl rand -hex 32");
    }
    return token;
}

void serve(const serve_settings& s, std::ostream& log) {
    if (!s.token && !is_loopback_host(s.host)) {
        throw input_error("--listen " + s.host + ": an address other than the loopback needs --token-file, so that no one "
                          "else on the network can read the plant's data");
    }
    if (s.tls_cert.empty() != s.tls_key.empty()) throw input_error("--tls-cert and --tls-key go together");
    const bool tls = !s.tls_cert.empty();
    store_cache cache(s);
    cache.get();  // the store must be readable now, not at the first request

    std::unique_ptr<httplib::Server> owned;
    if (tls) {
        auto https = std::make_unique<httplib::SSLServer>(s.tls_cert.c_str(), s.tls_key.c_str());
        if (!https->is_valid()) throw input_error("--tls-cert " + s.tls_cert + ", --tls-key " + s.tls_key + ": cannot be used for TLS");
        owned = std::move(https);
    } else {
        owned = std::make_unique<httplib::Server>();
    }
    httplib::Server& server = *owned;

    // Bounds on what a client may take: threads, time, and size (requests'
    // lines and headers are bounded by the library at 8 KiB each).
    const std::size_t threads = s.threads;
    server.new_task_queue = [threads] { return new httplib::ThreadPool(threads); };
    server.set_read_timeout(5, 0);
    server.set_write_timeout(5, 0);
    server.set_keep_alive_timeout(2);
    server.set_keep_alive_max_count(5);  // connections take turns at the threads
    server.set_tcp_nodelay(true);
    server.set_payload_max_length(4096);
    server.set_default_headers({
        {"Content-Security-Policy",
         "default-src 'self'; img-src 'self' data:; object-src 'none'; base-uri 'none'; form-action 'self'; frame-ancestors 'none'"},
        {"X-Content-Type-Options", "nosniff"},
        {"Referrer-Policy", "no-referrer"},
        {"X-Frame-Options", "DENY"},
        {"Cache-Control", "no-store"},
    });

    const std::optional<std::string> token = s.token;
    const std::string session = token ? session_value(*token) : "";
    server.set_pre_routing_handler([token, session](const httplib::Request& req, httplib::Response& res) {
        const bool signin = req.path == "/signin";
        if (!is_get(req) && !(signin && req.method == "POST")) {
            res.set_header("Allow", signin ? "GET, HEAD, POST" : "GET, HEAD");
            res.set_header("Connection", "close");  // its body, if any, is not read
            send_error(res, 405, "this server only reads: " + req.method + " is not allowed");
            return httplib::Server::HandlerResponse::Handled;
        }
        if (!token) {
            // Without a token only this machine is served; a page elsewhere
            // that names this server by another host name (DNS rebinding)
            // gets nothing.
            std::string host = req.get_header_value("Host");
            if (!host.empty() && host.front() == '[') {
                host = host.substr(1, host.find(']') == std::string::npos ? std::string::npos : host.find(']') - 1);
            } else if (host.find(':') != std::string::npos) {
                host = host.substr(0, host.find(':'));
            }
            if (!is_loopback_host(host)) {
                send_error(res, 403, "this server answers requests for localhost only");
                return httplib::Server::HandlerResponse::Handled;
            }
            return httplib::Server::HandlerResponse::Unhandled;
        }
        if (signin || req.path == "/style.css") return httplib::Server::HandlerResponse::Unhandled;
        const std::string auth = req.get_header_value("Authorization");
        // The scheme's name in any case (RFC 9110).
        std::string scheme = auth.substr(0, 7);
        std::transform(scheme.begin(), scheme.end(), scheme.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        const std::string bearer = scheme == "bearer " ? auth.substr(7) : "";
        const std::string cookie = cookie_named(req, session_cookie);
        if ((!bearer.empty() && same_secret(bearer, *token)) || (!cookie.empty() && same_secret(cookie, session))) {
            return httplib::Server::HandlerResponse::Unhandled;
        }
        if (req.path.rfind("/api/", 0) == 0 || req.path.rfind("/download/", 0) == 0) {
            res.set_header("WWW-Authenticate", "Bearer");
            send_error(res, 401, "this server needs its token: Authorization: Bearer TOKEN");
        } else {
            res.status = 401;
            res.set_content(signin_page(false), "text/html; charset=utf-8");
        }
        return httplib::Server::HandlerResponse::Handled;
    });

    server.Get("/signin", [](const httplib::Request&, httplib::Response& res) {
        res.set_content(signin_page(false), "text/html; charset=utf-8");
    });
    server.Post("/signin", [token, session, tls](const httplib::Request& req, httplib::Response& res) {
        if (!token) {
            res.status = 303;
            res.set_header("Location", "/");
            return;
        }
        if (!req.has_param("token") || !same_secret(req.get_param_value("token"), *token)) {
            res.status = 401;
            res.set_content(signin_page(true), "text/html; charset=utf-8");
            return;
        }
        res.status = 303;
        res.set_header("Location", "/");
        res.set_header("Set-Cookie", std::string(session_cookie) + "=" + session + "; Path=/; HttpOnly; SameSite=Strict" +
                                         (tls ? "; Secure" : ""));
    });

    // The API: each answer from the store's state as last read.
    const auto with_store = [&cache](void (*answer)(const store_snapshot&, const httplib::Request&, httplib::Response&)) {
        return [&cache, answer](const httplib::Request& req, httplib::Response& res) {
            std::shared_ptr<const store_snapshot> snap;
            try {
                snap = cache.get();
            } catch (const std::exception& e) {
                return send_error(res, 503, e.what());
            }
            answer(*snap, req, res);
        };
    };
    server.Get("/api/v1/status", with_store([](const store_snapshot& snap, const httplib::Request&, httplib::Response& res) {
        ojson j = snap.status;
        const std::int64_t now = now_ms();
        j["now"] = timestamp_text(now, true);
        j["data_age_s"] = snap.last_row_ms ? ojson(static_cast<double>(now - *snap.last_row_ms) / 1000.0) : ojson(nullptr);
        send_json(res, j);
    }));
    server.Get("/api/v1/windows", with_store(windows_answer));
    server.Get("/api/v1/windows/detail", with_store(window_detail));
    server.Get("/api/v1/drifts", with_store([](const store_snapshot& snap, const httplib::Request&, httplib::Response& res) {
        send_json(res, snap.findings.at("drift"));
    }));
    server.Get("/api/v1/trends", with_store([](const store_snapshot& snap, const httplib::Request&, httplib::Response& res) {
        send_json(res, snap.findings.at("trend"));
    }));
    server.Get("/api/v1/meters", with_store([](const store_snapshot& snap, const httplib::Request&, httplib::Response& res) {
        send_json(res, snap.findings.at("meter"));
    }));
    server.Get("/api/v1/meters/bias", with_store([](const store_snapshot& snap, const httplib::Request&, httplib::Response& res) {
        send_json(res, snap.meter_bias);
    }));
    server.Get("/api/v1/screening", with_store([](const store_snapshot& snap, const httplib::Request&, httplib::Response& res) {
        send_json(res, snap.findings.at("screening"));
    }));
    server.Get("/api/v1/alerts", with_store([](const store_snapshot& snap, const httplib::Request&, httplib::Response& res) {
        send_json(res, snap.alerts);
    }));
    server.Get("/api/v1/provenance", with_store([](const store_snapshot& snap, const httplib::Request&, httplib::Response& res) {
        send_json(res, snap.reads);
    }));
    // Downloads: the files `watch --store STORE --csv/--json/--report` write.
    server.Get("/download/windows.csv", with_store([](const store_snapshot& snap, const httplib::Request&, httplib::Response& res) {
        if (snap.csv.empty()) return send_error(res, 404, "no window followed yet");
        res.set_header("Content-Disposition", "attachment; filename=\"windows.csv\"");
        res.set_content(snap.csv, "text/csv; charset=utf-8");
    }));
    server.Get("/download/monitor.json", with_store([](const store_snapshot& snap, const httplib::Request&, httplib::Response& res) {
        res.set_header("Content-Disposition", "attachment; filename=\"monitor.json\"");
        res.set_content(snap.document.dump(2, ' ', false, ojson::error_handler_t::replace) + "\n", "application/json; charset=utf-8");
    }));
    server.Get("/download/report.html", with_store([](const store_snapshot& snap, const httplib::Request&, httplib::Response& res) {
        if (snap.html.empty()) return send_error(res, 404, "no window followed yet");
        res.set_header("Content-Disposition", "attachment; filename=\"report.html\"");
        // Opened in place of saved, the report runs no script: its own styles only.
        res.headers.erase("Content-Security-Policy");
        res.set_header("Content-Security-Policy", "default-src 'none'; style-src 'unsafe-inline'; img-src data:; frame-ancestors 'none'");
        res.set_content(snap.html, "text/html; charset=utf-8");
    }));
    // The page: its embedded files, at exactly their paths; nothing else.
    server.Get(".*", [](const httplib::Request& req, httplib::Response& res) {
        const embedded_file* f = embedded_asset(req.path);
        if (f == nullptr) return send_error(res, 404, "nothing here");
        res.set_content(std::string(f->body), std::string(f->content_type) + "; charset=utf-8");
    });
    server.set_error_handler([](const httplib::Request&, httplib::Response& res) {
        if (res.body.empty()) send_error(res, res.status, "the request was refused (HTTP " + std::to_string(res.status) + ")");
    });
    server.set_exception_handler([](const httplib::Request&, httplib::Response& res, std::exception_ptr) {
        send_error(res, 500, "the server failed on this request");
    });

    if (!server.bind_to_port(s.host, s.port)) {
        throw input_error("--listen " + s.host + ":" + std::to_string(s.port) + ": cannot listen there (in use, or not this machine's)");
    }
    const bool v6 = s.host.find(':') != std::string::npos;
    log << "serving " << s.store << " at " << (tls ? "https" : "http") << "://" << (v6 ? "[" + s.host + "]" : s.host) << ":"
        << s.port << "/" << (s.token ? " (token required)" : "") << std::endl;
    server.listen_after_bind();
}

}  // namespace workbench
