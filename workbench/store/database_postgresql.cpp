// The PostgreSQL backend of the store's database (libpqxx).
//
// One connection, no reconnecting behind the caller's back: a connection
// lost is an error for good (its transaction rolled back by the server, its
// advisory lock released), so that nothing runs outside the transaction the
// caller thinks it is in. Transactions are the connection's own BEGIN and
// COMMIT, run as plain statements.
//
// Values go as parameters, in text: whole numbers in decimal, doubles in
// their shortest form that reads back to the same bits, bytes in bytea's hex
// form. The `?` of a whole number, a double or bytes is given its type
// (`$1::bigint`), so that a statement that says no type for it (`SELECT ?`)
// still answers with the value's own type; text and NULL take the type the
// statement gives them, as a quoted literal would.
#include "store/database.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <pqxx/pqxx>
#include <stdexcept>
#include <system_error>

namespace workbench {

std::unique_ptr<database> open_postgresql(const std::string& url);

namespace {

// The types of the server's catalogue (pg_type.oid) that a row's values are read by.
constexpr pqxx::oid bool_oid = 16;
constexpr pqxx::oid bytea_oid = 17;
constexpr pqxx::oid int8_oid = 20;
constexpr pqxx::oid int2_oid = 21;
constexpr pqxx::oid int4_oid = 23;
constexpr pqxx::oid oid_oid = 26;
constexpr pqxx::oid float4_oid = 700;
constexpr pqxx::oid float8_oid = 701;
constexpr pqxx::oid numeric_oid = 1700;

// The advisory lock that marks the store taken (one per database): "urea".
constexpr std::int64_t store_lock_key = 0x75726561;

// The URL as it may be shown: without the password of its user part or of
// its query (password=...). Also the password itself, for scrubbing what
// libpq says back.
struct redacted_url {
    std::string shown;
    std::vector<std::string> secrets;
};

std::string percent_decoded(const std::string& s) {
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '%' && i + 2 < s.size()) {
            unsigned value = 0;
            const auto [end, ec] = std::from_chars(s.data() + i + 1, s.data() + i + 3, value, 16);
            if (ec == std::errc() && end == s.data() + i + 3) {
                out += static_cast<char>(value);
                i += 2;
                continue;
            }
        }
        out += s[i];
    }
    return out;
}

redacted_url redact(const std::string& url) {
    redacted_url r{url, {}};
    const auto scheme = url.find("://");
    if (scheme == std::string::npos) return r;
    const std::size_t start = scheme + 3;
    const std::size_t authority_end = std::min(url.find_first_of("/?", start), url.size());
    std::string authority = url.substr(start, authority_end - start);
    std::string rest = url.substr(authority_end);
    const auto at = authority.rfind('@');
    if (at != std::string::npos) {
        const auto colon = authority.find(':');
        if (colon < at) {
            r.secrets.push_back(authority.substr(colon + 1, at - colon - 1));
            authority.erase(colon, at - colon);
        }
    }
    // password=... among the query's parameters: dropped.
    const auto query = rest.find('?');
    if (query != std::string::npos) {
        std::string kept;
        std::size_t i = query + 1;
        while (i <= rest.size()) {
            const std::size_t amp = std::min(rest.find('&', i), rest.size());
            const std::string item = rest.substr(i, amp - i);
            if (item.rfind("password=", 0) == 0) {
                r.secrets.push_back(item.substr(9));
            } else if (!item.empty()) {
                kept += (kept.empty() ? "" : "&") + item;
            }
            i = amp + 1;
        }
        rest = rest.substr(0, query) + (kept.empty() ? "" : "?" + kept);
    }
    r.shown = url.substr(0, start) + authority + rest;
    const std::size_t n = r.secrets.size();
    for (std::size_t i = 0; i < n; ++i) r.secrets.push_back(percent_decoded(r.secrets[i]));
    return r;
}

std::string scrubbed(std::string message, const std::vector<std::string>& secrets) {
    for (const std::string& secret : secrets) {
        // libpq does not repeat a password; a short one scrubbed would
        // garble the message instead.
        if (secret.size() < 4) continue;
        for (auto at = message.find(secret); at != std::string::npos; at = message.find(secret, at + 3)) {
            message.replace(at, secret.size(), "***");
        }
    }
    // libpq's messages run over lines (a hint indented by a tab): one line.
    std::string line;
    for (const char c : message) {
        const bool space = c == '\n' || c == '\t' || c == ' ';
        if (!space) {
            line += c;
        } else if (!line.empty() && line.back() != ' ') {
            line += ' ';
        }
    }
    while (!line.empty() && line.back() == ' ') line.pop_back();
    return line;
}

bool word_char(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

bool same_word(const std::string& sql, std::size_t at, std::size_t n, const char* word) {
    if (n != std::strlen(word)) return false;
    for (std::size_t i = 0; i < n; ++i) {
        char c = sql[at + i];
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
        if (c != word[i]) return false;
    }
    return true;
}

// The statement in PostgreSQL's words: each `?` outside quotes and comments
// numbered ($1, $2, ...; with the value's type where it has one of its own),
// and, in a CREATE or ALTER statement, the type BLOB written BYTEA.
std::string numbered(const std::string& sql, const std::vector<database_value>& params) {
    std::string out;
    out.reserve(sql.size() + 8 * params.size());
    std::size_t count = 0;
    bool ddl = false;
    bool first_word = true;
    std::size_t i = 0;
    const std::size_t n = sql.size();
    auto copy_until = [&](std::size_t from, const std::string& close) {
        const auto end = sql.find(close, from);
        const std::size_t stop = end == std::string::npos ? n : end + close.size();
        out.append(sql, i, stop - i);
        i = stop;
    };
    while (i < n) {
        const char c = sql[i];
        if (c == '\'' || c == '"') {
            // A quoted string or name; a doubled quote inside it is a quote.
            std::size_t j = i + 1;
            while (j < n) {
                if (sql[j] == c) {
                    if (j + 1 < n && sql[j + 1] == c) {
                        j += 2;
                        continue;
                    }
                    break;
                }
                ++j;
            }
            const std::size_t stop = std::min(j + 1, n);
            out.append(sql, i, stop - i);
            i = stop;
        } else if (c == '-' && i + 1 < n && sql[i + 1] == '-') {
            copy_until(i + 2, "\n");
        } else if (c == '/' && i + 1 < n && sql[i + 1] == '*') {
            copy_until(i + 2, "*/");
        } else if (c == '?') {
            if (i + 1 < n && sql[i + 1] >= '0' && sql[i + 1] <= '9') {
                throw std::logic_error("a numbered placeholder (?N) in a statement for the store: " + sql);
            }
            ++count;
            out += '$';
            out += std::to_string(count);
            if (count <= params.size()) {
                const database_value& v = params[count - 1];
                if (std::holds_alternative<std::int64_t>(v)) {
                    out += "::bigint";
                } else if (std::holds_alternative<double>(v)) {
                    out += "::double precision";
                } else if (std::holds_alternative<database_blob>(v)) {
                    out += "::bytea";
                }
            }
            ++i;
        } else if (word_char(c)) {
            std::size_t j = i;
            while (j < n && word_char(sql[j])) ++j;
            if (first_word) {
                ddl = same_word(sql, i, j - i, "CREATE") || same_word(sql, i, j - i, "ALTER");
                first_word = false;
            }
            if (ddl && same_word(sql, i, j - i, "BLOB")) {
                out += "BYTEA";
            } else {
                out.append(sql, i, j - i);
            }
            i = j;
        } else {
            out += c;
            ++i;
        }
    }
    if (count != params.size()) {
        throw std::logic_error("a statement given " + std::to_string(params.size()) + " values for its " +
                               std::to_string(count) + " placeholders: " + sql);
    }
    return out;
}

// A double in the fewest digits that read back as the same bits.
std::string double_text(double d) {
    char buffer[64];
    const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, d);
    if (ec != std::errc()) throw std::logic_error("a double that does not print");
    return std::string(buffer, end);
}

std::string bytea_text(const std::string& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string out = "\\x";
    out.reserve(2 + 2 * bytes.size());
    for (const char ch : bytes) {
        const auto b = static_cast<unsigned char>(ch);
        out += digits[b >> 4];
        out += digits[b & 0xf];
    }
    return out;
}

class postgresql_database final : public database {
public:
    explicit postgresql_database(const std::string& url) : url_(redact(url)) {
        std::string target = url;
        // A server that does not answer: an error within seconds, not a hang.
        if (target.find("connect_timeout=") == std::string::npos) {
            if (target.find('?') == std::string::npos) {
                target += '?';
            } else if (target.back() != '?' && target.back() != '&') {
                target += '&';
            }
            target += "connect_timeout=10";
        }
        try {
            connection_ = std::make_unique<pqxx::connection>(target);
        } catch (const std::exception& e) {
            throw database_error("cannot connect to the store " + url_.shown + ": " + scrubbed(e.what(), url_.secrets));
        }
        // A lost connection stays lost: libpqxx would otherwise open a new
        // one at the next statement, outside the transaction and without
        // the store's lock.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
        connection_->inhibit_reactivation(true);
#pragma GCC diagnostic pop
        // The server's notices (a DROP TABLE IF EXISTS of nothing) are not
        // ours to print.
        quiet_ = std::make_unique<pqxx::quiet_errorhandler>(*connection_);
        // Doubles printed in full (the server's default may have been
        // lowered); quotes as the statements here write them; bytes in hex;
        // a writer of another program waited for a little, as with SQLite.
        run("SELECT set_config('extra_float_digits', '3', false), set_config('standard_conforming_strings', 'on', false),"
            " set_config('bytea_output', 'hex', false), set_config('client_encoding', 'UTF8', false),"
            " set_config('lock_timeout', '5s', false)");
    }
    ~postgresql_database() override {
        quiet_.reset();
        connection_.reset();  // a transaction left open is rolled back by the server
    }

    std::string kind() const override { return "postgresql"; }
    std::string name() const override { return url_.shown; }

    void execute(const std::string& sql, const std::vector<database_value>& params) override {
        check_write(sql);
        exec(sql, params);
    }

    std::vector<database_row> query(const std::string& sql, const std::vector<database_value>& params) override {
        const pqxx::result result = exec(sql, params);
        std::vector<database_row> rows;
        rows.reserve(result.size());
        const auto columns = result.columns();
        std::vector<pqxx::oid> types(columns);
        for (pqxx::row_size_type c = 0; c < columns; ++c) types[c] = result.column_type(c);
        for (const auto& r : result) {
            database_row row;
            row.values.reserve(columns);
            for (pqxx::row_size_type c = 0; c < columns; ++c) row.values.push_back(value(r[c], types[c]));
            rows.push_back(std::move(row));
        }
        return rows;
    }

    void begin() override {
        if (open_) throw std::logic_error("a transaction inside another");
        run("BEGIN");
        open_ = true;
    }
    void commit() override {
        if (!open_) throw std::logic_error("commit without a transaction");
        // Closed whatever COMMIT answers: a transaction that failed is over
        // on the server too (COMMIT of a failed one rolls it back).
        open_ = false;
        run("COMMIT");
    }
    void rollback() override {
        if (!open_) return;
        open_ = false;
        if (lost_) return;  // the server rolled it back when the connection went
        run("ROLLBACK");
    }
    bool in_transaction() const override { return open_; }

    bool try_lock() override {
        if (locked_) return true;
        const auto rows = query("SELECT pg_try_advisory_lock(?)", {store_lock_key});
        locked_ = !rows.empty() && rows[0].integer(0) == 1;
        return locked_;
    }

private:
    void run(const char* sql) { exec(sql, {}); }

    pqxx::result exec(const std::string& sql, const std::vector<database_value>& params) {
        if (lost_) throw database_error("the store " + url_.shown + ": the connection to the server was lost");
        const std::string statement = numbered(sql, params);
        // The values as text (null: a null pointer), owned here.
        std::vector<std::string> texts(params.size());
        std::vector<const char*> pointers(params.size(), nullptr);
        for (std::size_t i = 0; i < params.size(); ++i) {
            const database_value& v = params[i];
            if (const auto* n = std::get_if<std::int64_t>(&v)) {
                texts[i] = std::to_string(*n);
            } else if (const auto* d = std::get_if<double>(&v)) {
                if (std::isnan(*d)) continue;
                texts[i] = double_text(*d);
            } else if (const auto* t = std::get_if<std::string>(&v)) {
                if (t->find('\0') != std::string::npos) {
                    throw database_error("the store " + url_.shown +
                                         ": PostgreSQL keeps no text with a NUL character in it (value " +
                                         std::to_string(i + 1) + " of: " + sql.substr(0, 60) + ")");
                }
                texts[i] = *t;
            } else if (const auto* b = std::get_if<database_blob>(&v)) {
                texts[i] = bytea_text(b->bytes);
            } else {
                continue;
            }
            pointers[i] = texts[i].c_str();
        }
        try {
            pqxx::nontransaction work(*connection_);
            return work.exec_params(statement, pqxx::prepare::make_dynamic_params(pointers));
        } catch (const pqxx::broken_connection& e) {
            lost(e.what());
        } catch (const pqxx::sql_error& e) {
            if (!connection_->is_open()) lost(e.what());
            const std::string message = "the store " + url_.shown + ": " + scrubbed(e.what(), url_.secrets);
            // A conflict with another writer (serialization failure, a lock
            // not granted in time): the caller may try again.
            if (e.sqlstate() == "40001" || e.sqlstate() == "55P03") throw database_busy(message);
            throw database_error(message);
        } catch (const pqxx::in_doubt_error& e) {
            lost(e.what());
        } catch (const pqxx::failure& e) {
            if (!connection_->is_open()) lost(e.what());
            throw database_error("the store " + url_.shown + ": " + scrubbed(e.what(), url_.secrets));
        }
    }

    [[noreturn]] void lost(const std::string& why) {
        lost_ = true;
        locked_ = false;
        throw database_error("the store " + url_.shown + ": the connection to the server was lost: " +
                             scrubbed(why, url_.secrets));
    }

    database_value value(const pqxx::field& f, pqxx::oid type) const {
        if (f.is_null()) return nullptr;
        const char* text = f.c_str();
        const std::size_t size = f.size();
        switch (type) {
            case int8_oid:
            case int4_oid:
            case int2_oid:
            case oid_oid: return whole(text, size);
            case float8_oid:
            case float4_oid: return real(text, size);
            case numeric_oid: {
                // SUM of whole numbers is numeric: whole when it is one.
                std::int64_t n = 0;
                const auto [end, ec] = std::from_chars(text, text + size, n);
                if (ec == std::errc() && end == text + size) return n;
                return real(text, size);
            }
            case bool_oid: return std::int64_t{text[0] == 't' ? 1 : 0};
            case bytea_oid: return database_blob{pqxx::binarystring(f).str()};
            default: return std::string(text, size);
        }
    }

    std::int64_t whole(const char* text, std::size_t size) const {
        std::int64_t n = 0;
        const auto [end, ec] = std::from_chars(text, text + size, n);
        if (ec != std::errc() || end != text + size) {
            throw database_error("the store " + url_.shown + " answered a whole number as " + std::string(text, size));
        }
        return n;
    }

    double real(const char* text, std::size_t size) const {
        double d = 0;
        const auto [end, ec] = std::from_chars(text, text + size, d);
        if (ec != std::errc() || end != text + size) {
            throw database_error("the store " + url_.shown + " answered a number as " + std::string(text, size));
        }
        return d;
    }

    void check_write(const std::string& sql) const {
        if (open_) return;
        // Reads need no transaction; every change of ours does.
        const auto first = sql.find_first_not_of(" \n\t");
        if (first != std::string::npos && same_word(sql, first, std::min<std::size_t>(6, sql.size() - first), "SELECT")) {
            return;
        }
        throw std::logic_error("a write outside a transaction: " + sql.substr(0, 60));
    }

    redacted_url url_;
    std::unique_ptr<pqxx::connection> connection_;
    std::unique_ptr<pqxx::quiet_errorhandler> quiet_;
    bool open_ = false;
    bool locked_ = false;
    bool lost_ = false;
};

}  // namespace

std::unique_ptr<database> open_postgresql(const std::string& url) {
    return std::make_unique<postgresql_database>(url);
}

}  // namespace workbench
