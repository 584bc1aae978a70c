// Alerts sent with libcurl. The e-mail is composed here: its headers one
// line each (a subject's line breaks made spaces, a subject that is not
// plain ASCII encoded as RFC 2047 words) and its body quoted-printable, so
// that no line is too long and none is 8-bit whatever the text holds. The
// webhook is one POST. Each attempt's outcome is read from curl's code and
// the server's answer.
#include "notify/delivery.h"

#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <mutex>
#include <optional>
#include <system_error>

#include "base/errors.h"
#include "base/text.h"
#include "urea_version.h"

namespace workbench {
namespace {

// At most this much of a webhook's answer is read (and discarded).
constexpr std::size_t max_answer_bytes = 4096;

// libcurl's global state, set up on first use (not at load time), once
// whichever threads send.
bool curl_ready() {
    static std::once_flag once;
    static bool ready = false;
    std::call_once(once, [] { ready = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK; });
    return ready;
}

struct url_parts {
    bool parsed = false;
    std::string scheme, host, port, user, password;
    std::string where() const { return host + ":" + port; }
};

url_parts parse_url(const std::string& url) {
    url_parts parts;
    if (!curl_ready()) return parts;
    for (const unsigned char c : url) {
        if (c <= ' ' || c == 0x7f) return parts;
    }
    const std::unique_ptr<CURLU, decltype(&curl_url_cleanup)> u(curl_url(), curl_url_cleanup);
    if (!u || curl_url_set(u.get(), CURLUPART_URL, url.c_str(), CURLU_NON_SUPPORT_SCHEME) != CURLUE_OK) return parts;
    const auto get = [&u](CURLUPart part, unsigned flags) {
        char* s = nullptr;
        std::string value;
        if (curl_url_get(u.get(), part, &s, flags) == CURLUE_OK && s) value = s;
        curl_free(s);
        return value;
    };
    parts.parsed = true;
    parts.scheme = get(CURLUPART_SCHEME, 0);
    for (char& c : parts.scheme) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    parts.host = get(CURLUPART_HOST, 0);
    parts.port = get(CURLUPART_PORT, CURLU_DEFAULT_PORT);
    parts.user = get(CURLUPART_USER, CURLU_URLDECODE);
    parts.password = get(CURLUPART_PASSWORD, CURLU_URLDECODE);
    return parts;
}

void check_url(const std::string& option, const std::string& url, const char* scheme) {
    const url_parts parts = parse_url(url);
    const std::string expected = std::string("write ") + scheme + "://HOST[:PORT] or " + scheme + "s://HOST[:PORT]";
    if (!parts.parsed) throw input_error(field(option), "not a URL: " + expected);
    if (parts.scheme != scheme && parts.scheme != std::string(scheme) + "s")
        throw input_error(field(option), "a URL of scheme " + parts.scheme + ": " + expected);
    if (parts.host.empty()) throw input_error(field(option), "no host in the URL: " + expected);
}

// local@domain: printable ASCII without spaces or the characters that
// would end an address in a header or in the SMTP envelope.
bool is_address(const std::string& a) {
    const std::size_t at = a.rfind('@');
    if (at == std::string::npos || at == 0 || at + 1 == a.size() || a.size() > 254) return false;
    for (const unsigned char c : a) {
        if (c <= ' ' || c >= 0x7f || std::strchr("<>()[]\\,;:\"", c)) return false;
    }
    const std::string domain = a.substr(at + 1);
    if (domain.front() == '.' || domain.back() == '.' || domain.find("..") != std::string::npos) return false;
    return std::all_of(domain.begin(), domain.end(), [](unsigned char c) {
        return std::isalnum(c) || c == '-' || c == '.';
    });
}

// An id is sent as a header's value: printable ASCII, no spaces.
std::optional<std::string> id_problem(const std::string& id) {
    const bool fits = !id.empty() && id.size() <= 200 &&
                      std::all_of(id.begin(), id.end(), [](unsigned char c) { return c > ' ' && c < 0x7f; });
    if (fits) return std::nullopt;
    return "the alert's id \"" + printable(id) + "\" is not 1 to 200 printable ASCII characters without spaces";
}

std::string base64(const std::string& bytes) {
    static const char digits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    for (std::size_t k = 0; k < bytes.size(); k += 3) {
        const std::size_t n = std::min<std::size_t>(3, bytes.size() - k);
        std::uint32_t v = 0;
        for (std::size_t j = 0; j < 3; ++j)
            v = (v << 8) | (j < n ? static_cast<unsigned char>(bytes[k + j]) : 0u);
        for (std::size_t j = 0; j < 4; ++j) out += j <= n ? digits[(v >> (18 - 6 * j)) & 63] : '=';
    }
    return out;
}

// The subject as a header's value: one line (control characters made
// spaces, so that nothing in it starts a header of its own); plain when it
// is short printable ASCII, else RFC 2047 words of UTF-8, each character
// whole in one word, on folded lines.
std::string subject_header(const std::string& subject) {
    std::string s = subject;
    for (char& c : s) {
        if (static_cast<unsigned char>(c) < ' ' || c == 0x7f) c = ' ';
    }
    const bool plain = s.size() <= 200 && s.find("=?") == std::string::npos &&
                       std::all_of(s.begin(), s.end(), [](unsigned char c) { return c < 0x7f; });
    if (plain) return s;
    std::string out;
    for (std::size_t k = 0; k < s.size();) {
        std::size_t n = std::min<std::size_t>(39, s.size() - k);
        while (n > 1 && k + n < s.size() && (static_cast<unsigned char>(s[k + n]) & 0xC0) == 0x80) --n;
        if (!out.empty()) out += "\r\n ";
        out += "=?UTF-8?B?" + base64(s.substr(k, n)) + "?=";
        k += n;
    }
    return out;
}

// The body quoted-printable (RFC 2045): 7-bit lines of at most 76
// characters, CRLF line ends. (A line that starts with '.' is sent as it
// is: libcurl doubles the dot and the server takes one off.)
std::string quoted_printable(const std::string& text) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out, line;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::size_t last = end;
        if (last > start && text[last - 1] == '\r') --last;
        for (std::size_t k = start; k < last; ++k) {
            const auto c = static_cast<unsigned char>(text[k]);
            const bool blank = c == ' ' || c == '\t';
            const bool literal = (c > ' ' && c < 0x7f && c != '=') || (blank && k + 1 < last);
            if (line.size() + (literal ? 1 : 3) > 75) {
                out += line + "=\r\n";
                line.clear();
            }
            if (literal) line += static_cast<char>(c);
            else line += std::string{'=', hex[c >> 4], hex[c & 15]};
        }
        out += line + "\r\n";
        line.clear();
        start = end + 1;
    }
    return out;
}

// "Wed, 09 Dec 2026 14:00:22 +0000".
std::string date_header() {
    static const char* days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                   "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const std::time_t now = std::time(nullptr);
    std::tm t{};
    gmtime_r(&now, &t);
    char text[40];
    std::snprintf(text, sizeof text, "%s, %02d %s %04d %02d:%02d:%02d +0000", days[t.tm_wday], t.tm_mday,
                  months[t.tm_mon], t.tm_year + 1900, t.tm_hour, t.tm_min, t.tm_sec);
    return text;
}

// The id in a Message-ID: letters, digits, '-' and '_' as they are, any
// other character as =XX (one id, one Message-ID).
std::string message_id(const std::string& id) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out = "<";
    for (const unsigned char c : id) {
        if (std::isalnum(c) || c == '-' || c == '_') out += static_cast<char>(c);
        else out += std::string{'=', hex[c >> 4], hex[c & 15]};
    }
    return out + "@urea-reactor>";
}

std::string compose(const mail_target& target, const alert_message& message) {
    std::string to;
    for (const std::string& a : target.to) to += (to.empty() ? "" : ",\r\n ") + a;
    return "From: " + target.from + "\r\nTo: " + to + "\r\nSubject: " + subject_header(message.subject) +
           "\r\nDate: " + date_header() + "\r\nMessage-ID: " + message_id(message.id) +
           "\r\nAuto-Submitted: auto-generated\r\nMIME-Version: 1.0"
           "\r\nContent-Type: text/plain; charset=utf-8\r\nContent-Transfer-Encoding: quoted-printable\r\n\r\n" +
           quoted_printable(message.text);
}

struct upload {
    const std::string& data;
    std::size_t at = 0;
};

std::size_t read_upload(char* to, std::size_t size, std::size_t count, void* p) {
    auto& u = *static_cast<upload*>(p);
    const std::size_t n = std::min(size * count, u.data.size() - u.at);
    std::memcpy(to, u.data.data() + u.at, n);
    u.at += n;
    return n;
}

struct answer_sink {
    std::size_t bytes = 0;
    bool cut = false;
};

std::size_t discard_answer(char*, std::size_t size, std::size_t count, void* p) {
    auto& sink = *static_cast<answer_sink*>(p);
    sink.bytes += size * count;
    if (sink.bytes <= max_answer_bytes) return size * count;
    sink.cut = true;
    return 0;  // stops the transfer
}

using easy_handle = std::unique_ptr<CURL, decltype(&curl_easy_cleanup)>;
using string_list = std::unique_ptr<curl_slist, decltype(&curl_slist_free_all)>;

void append(string_list& list, const std::string& s) {
    curl_slist* grown = curl_slist_append(list.get(), s.c_str());
    if (!grown) throw std::bad_alloc();
    list.release();
    list.reset(grown);
}

// What both kinds of transfer share: bounded in time, no signals (threads),
// no redirects, TLS verified against the system's CA store.
void set_common(CURL* c, const std::string& url, const char* protocols, std::chrono::milliseconds timeout,
                char* error_text) {
    const long ms = std::max<long>(1, static_cast<long>(timeout.count()));
    curl_easy_setopt(c, CURLOPT_URL, url.c_str());
    curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, protocols);
    curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT_MS, ms);
    curl_easy_setopt(c, CURLOPT_TIMEOUT_MS, ms);
    curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(c, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(c, CURLOPT_SSL_VERIFYHOST, 2L);
    curl_easy_setopt(c, CURLOPT_ERRORBUFFER, error_text);
}

// Why a transfer failed, one line, without the password.
std::string failure(CURL* c, CURLcode rc, const char* error_text, const url_parts& at,
                    std::chrono::milliseconds timeout, const std::string& password) {
    std::string why;
    long os_error = 0;
    if (rc == CURLE_COULDNT_CONNECT && curl_easy_getinfo(c, CURLINFO_OS_ERRNO, &os_error) == CURLE_OK && os_error)
        why = "could not connect to " + at.where() + ": " +
              std::generic_category().message(static_cast<int>(os_error));
    else if (rc == CURLE_OPERATION_TIMEDOUT)
        why = "no answer from " + at.where() + " within " + std::to_string(timeout.count()) + " ms";
    else
        why = at.where() + ": " + (*error_text ? error_text : curl_easy_strerror(rc));
    if (!password.empty()) {
        for (std::size_t k = why.find(password); k != std::string::npos; k = why.find(password, k + 3))
            why.replace(k, password.size(), "***");
    }
    return printable(why);
}

bool permanent_code(CURLcode rc) {
    return rc == CURLE_URL_MALFORMAT || rc == CURLE_UNSUPPORTED_PROTOCOL || rc == CURLE_LOGIN_DENIED;
}

}  // namespace

void check_mail_target(const mail_target& target) {
    check_url("smtp", target.url, "smtp");
    if (!is_address(target.from))
        throw input_error(given("mail_from", target.from), "not an e-mail address (write local@domain)");
    if (target.to.empty()) throw input_error(field("mail_to"), "give at least one address to send alerts to");
    for (std::size_t k = 0; k < target.to.size(); ++k) {
        if (!is_address(target.to[k]))
            throw input_error(entry("mail_to", k, target.to[k]), "not an e-mail address (write local@domain)");
    }
}

void check_webhook_target(const webhook_target& target) { check_url("webhook", target.url, "http"); }

namespace {

// Why a target and an id cannot be sent to (a permanent failure), or why no
// transfer could start; empty when `c` is ready.
template <class Target, class Check>
std::optional<delivery_outcome> not_sendable(const Target& target, Check check, const alert_message& message,
                                             const easy_handle& c) {
    try {
        check(target);
    } catch (const input_error& e) {
        return delivery_outcome{false, true, e.what()};
    }
    if (const auto problem = id_problem(message.id)) return delivery_outcome{false, true, *problem};
    if (!c) return delivery_outcome{false, false, "libcurl could not start a transfer"};
    return std::nullopt;
}

}  // namespace

delivery_outcome send_mail(const mail_target& target, const alert_message& message,
                           std::chrono::milliseconds timeout) {
    const easy_handle c(curl_ready() ? curl_easy_init() : nullptr, curl_easy_cleanup);
    if (auto refused = not_sendable(target, check_mail_target, message, c)) return *refused;
    const url_parts at = parse_url(target.url);
    std::string password = at.password;
    const char* env_password = std::getenv("UREA_SMTP_PASSWORD");
    if (password.empty() && !at.user.empty() && env_password && *env_password) {
        password = env_password;
        curl_easy_setopt(c.get(), CURLOPT_PASSWORD, env_password);
    }
    const std::string mail = compose(target, message);
    upload body{mail};
    string_list recipients(nullptr, curl_slist_free_all);
    for (const std::string& a : target.to) append(recipients, "<" + a + ">");
    const std::string from = "<" + target.from + ">";
    char error_text[CURL_ERROR_SIZE] = "";
    set_common(c.get(), target.url, "smtp,smtps", timeout, error_text);
    curl_easy_setopt(c.get(), CURLOPT_USE_SSL, static_cast<long>(CURLUSESSL_TRY));
    curl_easy_setopt(c.get(), CURLOPT_MAIL_FROM, from.c_str());
    curl_easy_setopt(c.get(), CURLOPT_MAIL_RCPT, recipients.get());
    curl_easy_setopt(c.get(), CURLOPT_UPLOAD, 1L);
    curl_easy_setopt(c.get(), CURLOPT_READFUNCTION, read_upload);
    curl_easy_setopt(c.get(), CURLOPT_READDATA, &body);
    curl_easy_setopt(c.get(), CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(mail.size()));
    const CURLcode rc = curl_easy_perform(c.get());
    if (rc == CURLE_OK) return {true, false, ""};
    long code = 0;
    curl_easy_getinfo(c.get(), CURLINFO_RESPONSE_CODE, &code);
    std::string why = failure(c.get(), rc, error_text, at, timeout, password);
    if (code >= 400) why = "SMTP " + std::to_string(code) + " from " + why;
    return {false, code >= 500 || permanent_code(rc), why};
}

delivery_outcome post_webhook(const webhook_target& target, const alert_message& message,
                              std::chrono::milliseconds timeout) {
    const easy_handle c(curl_ready() ? curl_easy_init() : nullptr, curl_easy_cleanup);
    if (auto refused = not_sendable(target, check_webhook_target, message, c)) return *refused;
    const url_parts at = parse_url(target.url);
    string_list headers(nullptr, curl_slist_free_all);
    append(headers, "Content-Type: application/json");
    append(headers, "Idempotency-Key: " + message.id);
    append(headers, "Expect:");  // the body at once, without waiting for a 100 Continue
    answer_sink sink;
    char error_text[CURL_ERROR_SIZE] = "";
    set_common(c.get(), target.url, "http,https", timeout, error_text);
    curl_easy_setopt(c.get(), CURLOPT_USERAGENT, "urea-reactor/" UREA_VERSION);
    curl_easy_setopt(c.get(), CURLOPT_HTTPHEADER, headers.get());
    curl_easy_setopt(c.get(), CURLOPT_POSTFIELDS, message.json.c_str());
    curl_easy_setopt(c.get(), CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(message.json.size()));
    curl_easy_setopt(c.get(), CURLOPT_WRITEFUNCTION, discard_answer);
    curl_easy_setopt(c.get(), CURLOPT_WRITEDATA, &sink);
    const CURLcode rc = curl_easy_perform(c.get());
    long code = 0;
    curl_easy_getinfo(c.get(), CURLINFO_RESPONSE_CODE, &code);
    if (rc != CURLE_OK && !(rc == CURLE_WRITE_ERROR && sink.cut && code != 0))
        return {false, permanent_code(rc), failure(c.get(), rc, error_text, at, timeout, at.password)};
    if (code >= 200 && code < 300) return {true, false, ""};
    std::string why = "HTTP " + std::to_string(code) + " from " + at.where();
    if (code >= 300 && code < 400) why += " (a redirect, which is not followed: give the URL it points to)";
    const bool transient = code >= 500 || code == 408 || code == 429 || code < 300;
    return {false, !transient, why};
}

}  // namespace workbench
