// The store's database: the rows' accessors, the choice of a backend, and
// the SQLite backend (the PostgreSQL one is in database_postgresql.cpp).
#include "store/database.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/file.h>
#include <unistd.h>

#include <cmath>
#include <stdexcept>

namespace workbench {

std::int64_t database_row::integer(std::size_t i) const {
    const database_value& v = values.at(i);
    if (const auto* n = std::get_if<std::int64_t>(&v)) return *n;
    throw database_error("the store holds " + std::string(null(i) ? "nothing" : "another type") +
                         " where a whole number belongs (column " + std::to_string(i + 1) + " of a row)");
}

std::optional<std::int64_t> database_row::maybe_integer(std::size_t i) const {
    if (null(i)) return std::nullopt;
    return integer(i);
}

double database_row::number(std::size_t i) const {
    const database_value& v = values.at(i);
    if (const auto* d = std::get_if<double>(&v)) return *d;
    if (const auto* n = std::get_if<std::int64_t>(&v)) return static_cast<double>(*n);
    if (null(i)) return NAN;
    throw database_error("the store holds text where a number belongs (column " + std::to_string(i + 1) + " of a row)");
}

std::string database_row::text(std::size_t i) const {
    const database_value& v = values.at(i);
    if (const auto* s = std::get_if<std::string>(&v)) return *s;
    if (const auto* b = std::get_if<database_blob>(&v)) return b->bytes;
    if (null(i)) return {};
    throw database_error("the store holds a number where text belongs (column " + std::to_string(i + 1) + " of a row)");
}

bool is_postgresql_url(const std::string& store) {
    return store.rfind("postgresql://", 0) == 0 || store.rfind("postgres://", 0) == 0;
}

// database_postgresql.cpp
std::unique_ptr<database> open_postgresql(const std::string& url);

namespace {

class sqlite_database final : public database {
public:
    sqlite_database(const std::string& path, bool create, bool read_only) : path_(path), read_only_(read_only) {
        const int flags = (read_only ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE | (create ? SQLITE_OPEN_CREATE : 0)) |
                          SQLITE_OPEN_NOMUTEX;
        if (sqlite3_open_v2(path.c_str(), &db_, flags, nullptr) != SQLITE_OK) {
            const std::string why = db_ != nullptr ? sqlite3_errmsg(db_) : "out of memory";
            sqlite3_close(db_);
            db_ = nullptr;
            throw database_error("cannot open the store " + path + ": " + why);
        }
        sqlite3_extended_result_codes(db_, 1);
        // A writer of another program (a reader of the store) waits a little
        // rather than failing at once.
        sqlite3_busy_timeout(db_, 5000);
        // The store is not a database of many writers: a rollback journal,
        // synced at each commit, survives a crash of the process or the machine.
        run("PRAGMA foreign_keys = ON");
        run("PRAGMA synchronous = FULL");
    }
    ~sqlite_database() override {
        sqlite3_close_v2(db_);
        if (lock_fd_ >= 0) ::close(lock_fd_);
    }

    std::string kind() const override { return "sqlite"; }
    std::string name() const override { return path_; }

    void execute(const std::string& sql, const std::vector<database_value>& params) override {
        check_write(sql);
        statement s(*this, sql, params);
        while (s.step()) {
        }
    }

    std::vector<database_row> query(const std::string& sql, const std::vector<database_value>& params) override {
        statement s(*this, sql, params);
        std::vector<database_row> rows;
        while (s.step()) rows.push_back(s.row());
        return rows;
    }

    void begin() override {
        if (open_) throw std::logic_error("a transaction inside another");
        // IMMEDIATE: the write lock taken now, so that a pass never finds
        // the store changed under it half way. Read-only: a plain BEGIN, its
        // reads one snapshot of the store.
        run(read_only_ ? "BEGIN" : "BEGIN IMMEDIATE");
        open_ = true;
    }
    void commit() override {
        if (!open_) throw std::logic_error("commit without a transaction");
        run("COMMIT");
        open_ = false;
    }
    void rollback() override {
        if (!open_) return;
        open_ = false;
        run("ROLLBACK");
    }
    bool in_transaction() const override { return open_; }

    bool try_lock() override {
        if (lock_fd_ >= 0) return true;
        const std::string file = path_ + ".lock";
        const int fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        if (fd < 0) throw database_error("cannot open the store's lock " + file);
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            ::close(fd);
            return false;
        }
        lock_fd_ = fd;
        return true;
    }

private:
    class statement {
    public:
        statement(sqlite_database& owner, const std::string& sql, const std::vector<database_value>& params)
            : owner_(owner) {
            if (sqlite3_prepare_v2(owner.db_, sql.c_str(), static_cast<int>(sql.size()), &s_, nullptr) != SQLITE_OK) {
                owner.fail("cannot prepare a statement");
            }
            const int placeholders = sqlite3_bind_parameter_count(s_);
            if (static_cast<std::size_t>(placeholders) != params.size()) {
                sqlite3_finalize(s_);
                throw std::logic_error("a statement given " + std::to_string(params.size()) + " values for its " +
                                       std::to_string(placeholders) + " placeholders: " + sql);
            }
            for (std::size_t i = 0; i < params.size(); ++i) bind(static_cast<int>(i + 1), params[i]);
        }
        ~statement() { sqlite3_finalize(s_); }
        statement(const statement&) = delete;
        statement& operator=(const statement&) = delete;

        bool step() {
            const int rc = sqlite3_step(s_);
            if (rc == SQLITE_ROW) return true;
            if (rc == SQLITE_DONE) return false;
            owner_.fail("a statement failed");
        }

        database_row row() const {
            database_row r;
            const int n = sqlite3_column_count(s_);
            r.values.reserve(static_cast<std::size_t>(n));
            for (int i = 0; i < n; ++i) {
                switch (sqlite3_column_type(s_, i)) {
                    case SQLITE_INTEGER: r.values.emplace_back(static_cast<std::int64_t>(sqlite3_column_int64(s_, i))); break;
                    case SQLITE_FLOAT: r.values.emplace_back(sqlite3_column_double(s_, i)); break;
                    case SQLITE_TEXT: {
                        const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(s_, i));
                        r.values.emplace_back(std::string(p, static_cast<std::size_t>(sqlite3_column_bytes(s_, i))));
                        break;
                    }
                    case SQLITE_BLOB: {
                        const auto* p = static_cast<const char*>(sqlite3_column_blob(s_, i));
                        const auto n_bytes = static_cast<std::size_t>(sqlite3_column_bytes(s_, i));
                        r.values.emplace_back(database_blob{p == nullptr ? std::string() : std::string(p, n_bytes)});
                        break;
                    }
                    default: r.values.emplace_back(nullptr);
                }
            }
            return r;
        }

    private:
        void bind(int at, const database_value& v) {
            int rc = SQLITE_OK;
            if (const auto* n = std::get_if<std::int64_t>(&v)) {
                rc = sqlite3_bind_int64(s_, at, *n);
            } else if (const auto* d = std::get_if<double>(&v)) {
                rc = std::isnan(*d) ? sqlite3_bind_null(s_, at) : sqlite3_bind_double(s_, at, *d);
            } else if (const auto* t = std::get_if<std::string>(&v)) {
                rc = sqlite3_bind_text64(s_, at, t->data(), t->size(), SQLITE_TRANSIENT, SQLITE_UTF8);
            } else if (const auto* b = std::get_if<database_blob>(&v)) {
                rc = sqlite3_bind_blob64(s_, at, b->bytes.data(), b->bytes.size(), SQLITE_TRANSIENT);
            } else {
                rc = sqlite3_bind_null(s_, at);
            }
            if (rc != SQLITE_OK) owner_.fail("cannot bind a value");
        }

        sqlite_database& owner_;
        sqlite3_stmt* s_ = nullptr;
    };

    [[noreturn]] void fail(const std::string& what) const {
        const int code = sqlite3_extended_errcode(db_);
        const std::string message = "the store " + path_ + ": " + what + ": " + sqlite3_errmsg(db_);
        if ((code & 0xff) == SQLITE_BUSY || (code & 0xff) == SQLITE_LOCKED) throw database_busy(message);
        throw database_error(message);
    }

    void run(const char* sql) {
        char* error = nullptr;
        if (sqlite3_exec(db_, sql, nullptr, nullptr, &error) != SQLITE_OK) {
            const std::string why = error != nullptr ? error : "failed";
            sqlite3_free(error);
            const int code = sqlite3_extended_errcode(db_);
            const std::string message = "the store " + path_ + ": " + sql + ": " + why;
            if ((code & 0xff) == SQLITE_BUSY) throw database_busy(message);
            throw database_error(message);
        }
    }

    void check_write(const std::string& sql) const {
        if (open_) return;
        // PRAGMAs and reads need no transaction; every change of ours does.
        const auto first = sql.find_first_not_of(" \n\t");
        if (first != std::string::npos && (sql.compare(first, 6, "PRAGMA") == 0 || sql.compare(first, 6, "SELECT") == 0)) return;
        throw std::logic_error("a write outside a transaction: " + sql.substr(0, 60));
    }

    std::string path_;
    sqlite3* db_ = nullptr;
    bool read_only_ = false;
    bool open_ = false;
    int lock_fd_ = -1;
};

}  // namespace

std::unique_ptr<database> open_database(const std::string& store, bool create) {
    if (is_postgresql_url(store)) return open_postgresql(store);
    return std::make_unique<sqlite_database>(store, create, false);
}

std::unique_ptr<database> open_database_read_only(const std::string& store) {
    if (is_postgresql_url(store)) {
        std::unique_ptr<database> db = open_postgresql(store);
        // Every transaction of the session read-only: the server refuses a write.
        db->query("SELECT set_config('default_transaction_read_only', 'on', false)");
        return db;
    }
    return std::make_unique<sqlite_database>(store, false, true);
}

}  // namespace workbench
