#pragma once
// The SQLite store behind the engine: statements run against it, and the server's own tables kept in it.

#include <sqlite3.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "sandbox/Engine.h"

namespace sandbox::sql {

// One prepared statement. step() is true while it gives rows; a failure of the store is kept in
// failed() and error(), never mistaken for the end of the rows.
class Query {
public:
    Query(sqlite3* db, const std::string& text);
    ~Query() { sqlite3_finalize(st_); }
    Query(const Query&) = delete;
    Query& operator=(const Query&) = delete;

    Query& bind(int i, const std::string& v);
    Query& bind(int i, int64_t v);
    bool step();
    void reset();  // to run again with new bindings
    bool failed() const { return rc_ != SQLITE_OK && rc_ != SQLITE_ROW && rc_ != SQLITE_DONE; }
    int resultCode() const { return rc_; }
    const std::string& error() const { return error_; }

    int64_t i(int c) { return sqlite3_column_int64(st_, c); }
    double f(int c) { return sqlite3_column_double(st_, c); }
    std::string s(int c);      // up to the first NUL
    std::string bytes(int c);  // all of it
    bool isNull(int c) { return sqlite3_column_type(st_, c) == SQLITE_NULL; }

private:
    void fail();
    sqlite3* db_;
    sqlite3_stmt* st_ = nullptr;
    int rc_ = SQLITE_OK;
    std::string error_;
};

// A database of the server, as sysdatabases and DATABASEPROPERTYEX report it.
struct DbRow {
    int64_t dbid = 0;
    std::string name, state, crdate, filename;
    int64_t status = 0, cmptlevel = 80;
};

class Store {
public:
    explicit Store(const std::string& path);
    ~Store();
    Store(const Store&) = delete;
    Store& operator=(const Store&) = delete;
    sqlite3* handle() const { return db_; }
    const std::string& openError() const { return openError_; }

    // Runs SQLite SQL, several statements allowed.
    bool exec(const std::string& text, std::string* error = nullptr);

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

}  // namespace sandbox::sql
