// A database that `watch` keeps its store in: an SQLite file, or a
// PostgreSQL server by URL. One small interface over both, so that the
// store's SQL is written once: statements with `?` placeholders (numbered
// for PostgreSQL by the connection), values as database_value, every write
// inside a transaction the caller opens and commits (a transaction not
// committed is rolled back when the connection closes or the process dies).
//
// The SQL used through it keeps to what both understand: INTEGER (64-bit
// in the store's tables: declare BIGINT, which SQLite takes as INTEGER),
// DOUBLE PRECISION, TEXT and BLOB (the PostgreSQL connection writes BYTEA
// for BLOB in a CREATE TABLE), ON CONFLICT ... DO UPDATE, no AUTOINCREMENT.
// A NaN is stored as NULL and read back as NaN (SQLite stores no NaN).
#ifndef UREA_WORKBENCH_STORE_DATABASE_H
#define UREA_WORKBENCH_STORE_DATABASE_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <variant>
#include <vector>

namespace workbench {

// Bytes, told apart from text.
struct database_blob {
    std::string bytes;
    bool operator==(const database_blob&) const = default;
};

using database_value = std::variant<std::nullptr_t, std::int64_t, double, std::string, database_blob>;

// A row of a query's answer, in the order of its SELECT's columns.
struct database_row {
    std::vector<database_value> values;
    bool null(std::size_t i) const { return std::holds_alternative<std::nullptr_t>(values.at(i)); }
    std::int64_t integer(std::size_t i) const;   // an integer (a NULL or another type throws database_error)
    double number(std::size_t i) const;          // a number (an integer converted; NULL: NaN)
    std::string text(std::size_t i) const;       // text or bytes (NULL: empty)
    std::optional<std::int64_t> maybe_integer(std::size_t i) const;
};

// The database refused, failed or went away: the message names the store
// and what the database said.
class database_error : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Another watcher holds the store.
class database_busy : public database_error {
public:
    using database_error::database_error;
};

class database {
public:
    virtual ~database() = default;
    database() = default;
    database(const database&) = delete;
    database& operator=(const database&) = delete;

    // "sqlite" or "postgresql".
    virtual std::string kind() const = 0;
    // The store as the user named it, without any password (for messages).
    virtual std::string name() const = 0;

    // A statement without an answer (CREATE, INSERT, UPDATE, DELETE), its
    // `?` bound to params in order.
    virtual void execute(const std::string& sql, const std::vector<database_value>& params = {}) = 0;
    // A statement with rows.
    virtual std::vector<database_row> query(const std::string& sql, const std::vector<database_value>& params = {}) = 0;

    // One transaction at a time: begin, then commit or rollback. A write
    // outside one throws std::logic_error (a fault of ours, not the user's).
    virtual void begin() = 0;
    virtual void commit() = 0;
    virtual void rollback() = 0;  // nothing when none is open
    virtual bool in_transaction() const = 0;

    // Takes the store for this process until the connection closes (or the
    // process dies, when the database or the system lets it go): a second
    // caller gets false, not a wait. SQLite: an exclusive lock on a file
    // beside the database (STORE.lock); PostgreSQL: a session advisory lock.
    virtual bool try_lock() = 0;
};

// Opens a store: "postgresql://..." or "postgres://..." a PostgreSQL
// server (libpq's URL, its password from the URL, PGPASSWORD or ~/.pgpass);
// anything else the path of an SQLite file, made when `create` and it does
// not exist. Throws database_error naming the store when it cannot be opened.
std::unique_ptr<database> open_database(const std::string& store, bool create);
// The same, for reading only: an SQLite file opened read-only (never made),
// a PostgreSQL session whose transactions are all read-only; a write is
// refused by the database. begin() there opens a read transaction: what is
// read until commit() is one state of the store.
std::unique_ptr<database> open_database_read_only(const std::string& store);

// Whether a store names a PostgreSQL server.
bool is_postgresql_url(const std::string& store);

// Rolls back, unless committed, a transaction begun when it was made.
class database_transaction {
public:
    explicit database_transaction(database& db) : db_(db) { db_.begin(); }
    ~database_transaction() {
        if (!done_) {
            try {
                db_.rollback();
            } catch (...) {  // the connection already gone: nothing was committed
            }
        }
    }
    database_transaction(const database_transaction&) = delete;
    database_transaction& operator=(const database_transaction&) = delete;
    void commit() {
        db_.commit();
        done_ = true;
    }

private:
    database& db_;
    bool done_ = false;
};

}  // namespace workbench

#endif
