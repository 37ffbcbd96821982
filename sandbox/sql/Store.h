#pragma once
// The SQLite store behind the engine: statements run against it, and the server's own tables kept in it.

#include <sqlite3.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "sandbox/Engine.h"

namespace sandbox::sql {

// A failure the store reported: its extended result code and its own words. Thrown by the checked
// calls below, and turned into a server error for the statement that met it (StoreErrors.h).
struct StoreFailure {
    int code = SQLITE_ERROR;
    std::string text;
};

// One prepared statement. step() is true while it gives rows and false at their end; a failure of
// the store (a trigger that raises, a constraint, a busy or broken file) throws StoreFailure and is
// never mistaken for the end of the rows.
class Query {
public:
    Query(sqlite3* db, const std::string& text);
    ~Query() { sqlite3_finalize(st_); }
    Query(const Query&) = delete;
    Query& operator=(const Query&) = delete;

    Query& bind(int i, const std::string& v);
    Query& bind(int i, int64_t v);
    Query& bindDouble(int i, double v);
    Query& bindBlob(int i, const std::string& bytes);
    Query& bindNull(int i);
    bool step();
    void reset();       // to run again with new bindings
    int64_t changes();  // rows the last step wrote itself, not counting those of triggers

    int64_t i(int c) { return sqlite3_column_int64(st_, c); }
    double f(int c) { return sqlite3_column_double(st_, c); }
    std::string s(int c);      // up to the first NUL
    std::string bytes(int c);  // all of it
    bool isNull(int c) { return sqlite3_column_type(st_, c) == SQLITE_NULL; }
    bool isReal(int c) { return sqlite3_column_type(st_, c) == SQLITE_FLOAT; }

private:
    sqlite3* db_;
    sqlite3_stmt* st_ = nullptr;
};

// A database of the server, as sysdatabases and DATABASEPROPERTYEX report it.
struct DbRow {
    int64_t dbid = 0;
    std::string name, state, crdate, filename;
    int64_t status = 0, cmptlevel = 80;
    std::string userAccess = "MULTI_USER";
    int64_t sourceDbid = 0;  // a database snapshot: the database it is a snapshot of
    bool published = false, mirrored = false, inAvailabilityGroup = false, readOnly = false;
};

class Store {
public:
    explicit Store(const std::string& path);
    ~Store();
    Store(const Store&) = delete;
    Store& operator=(const Store&) = delete;
    sqlite3* handle() const { return db_; }
    const std::string& openError() const { return openError_; }
    void giveUp(const std::string& why);  // keeps the data in memory instead, and says why

    // Runs SQLite SQL, several statements allowed: run() throws StoreFailure, exec() reports it.
    void run(const std::string& text);
    bool exec(const std::string& text, std::string* error = nullptr);
    bool inTransaction() const { return !sqlite3_get_autocommit(db_); }
    [[noreturn]] void fail() const;  // throws the store's last failure

    std::vector<DbRow> allDatabases();
    std::optional<DbRow> findDatabase(const std::string& name);
    std::optional<DbRow> findDatabase(int64_t dbid);
    // The tables of the accounting installation, without the store's own.
    std::vector<std::string> userTables();
    std::optional<std::string> findUserTable(const std::string& name);
    std::vector<Column> tableColumns(const std::string& table);

private:
    sqlite3* db_ = nullptr;
    std::string openError_;
};

// The statement-level rollback: what a statement wrote is undone unless it reaches release().
class StatementScope {
public:
    explicit StatementScope(Store& store);
    ~StatementScope();
    StatementScope(const StatementScope&) = delete;
    StatementScope& operator=(const StatementScope&) = delete;
    void release();

private:
    Store& store_;
    bool open_ = true;
};

}  // namespace sandbox::sql
