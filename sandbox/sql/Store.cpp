// The SQLite store behind the engine: statements run against it, and the server's own tables kept in it.
#include "sandbox/sql/Store.h"

#include "sandbox/Text.h"
#include "sandbox/sql/Collation.h"
#include "sandbox/sql/Parse.h"
#include "sandbox/sql/Value.h"

namespace sandbox::sql {

namespace {
[[noreturn]] void throwFailure(sqlite3* db) {
    throw StoreFailure{sqlite3_extended_errcode(db), sqlite3_errmsg(db)};
}
}  // namespace

Query::Query(sqlite3* db, const std::string& text) : db_(db) {
    if (sqlite3_prepare_v2(db, text.c_str(), -1, &st_, nullptr) != SQLITE_OK)
        throwFailure(db);
}

Query& Query::bind(int i, const std::string& v) {
    sqlite3_bind_text(st_, i, v.c_str(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
    return *this;
}

Query& Query::bind(int i, int64_t v) {
    sqlite3_bind_int64(st_, i, v);
    return *this;
}

Query& Query::bindDouble(int i, double v) {
    sqlite3_bind_double(st_, i, v);
    return *this;
}

Query& Query::bindBlob(int i, const std::string& bytes) {
    sqlite3_bind_blob(st_, i, bytes.data(), static_cast<int>(bytes.size()), SQLITE_TRANSIENT);
    return *this;
}

Query& Query::bindNull(int i) {
    sqlite3_bind_null(st_, i);
    return *this;
}

bool Query::step() {
    int rc = sqlite3_step(st_);
    if (rc == SQLITE_ROW)
        return true;
    if (rc != SQLITE_DONE)
        throwFailure(db_);
    return false;
}

void Query::reset() {
    sqlite3_reset(st_);
}

int64_t Query::changes() {
    return sqlite3_changes64(db_);
}

std::string Query::s(int c) {
    auto p = sqlite3_column_text(st_, c);
    return p ? reinterpret_cast<const char*>(p) : "";
}

std::string Query::bytes(int c) {
    auto p = sqlite3_column_text(st_, c);
    return p ? std::string(reinterpret_cast<const char*>(p),
                           static_cast<size_t>(sqlite3_column_bytes(st_, c)))
             : std::string();
}

namespace {

bool internalTable(const std::string& name) {
    std::string l = lower(name);
    return l.rfind("sandbox_", 0) == 0 || l.rfind("sqlite_", 0) == 0;
}
}  // namespace

Store::Store(const std::string& path) {
    if (sqlite3_open(path.c_str(), &db_) != SQLITE_OK) {
        openError_ = sqlite3_errmsg(db_);
        sqlite3_close(db_);
        db_ = nullptr;
        sqlite3_open(":memory:", &db_);
    }
}

void Store::giveUp(const std::string& why) {
    openError_ = why;
    sqlite3_close(db_);
    sqlite3_open(":memory:", &db_);
}

Store::~Store() {
    sqlite3_close(db_);
}

void Store::run(const std::string& text) {
    std::string error;
    if (!exec(text, &error))
        fail();
}

void Store::fail() const {
    throwFailure(db_);
}

StatementScope::StatementScope(Store& store) : store_(store) {
    store_.run("SAVEPOINT sandbox_stmt");
}

void StatementScope::release() {
    store_.run("RELEASE sandbox_stmt");
    open_ = false;
}

// Unchecked on purpose: a trigger that rolled back the whole transaction took the savepoint with
// it, and there is then nothing left to undo.
StatementScope::~StatementScope() {
    if (!open_)
        return;
    store_.exec("ROLLBACK TO sandbox_stmt");
    store_.exec("RELEASE sandbox_stmt");
}

bool Store::exec(const std::string& text, std::string* error) {
    char* msg = nullptr;
    int rc = sqlite3_exec(db_, text.c_str(), nullptr, nullptr, &msg);
    if (rc != SQLITE_OK && error)
        *error = msg ? msg : sqlite3_errmsg(db_);
    sqlite3_free(msg);
    return rc == SQLITE_OK;
}

std::vector<DbRow> Store::allDatabases() {
    std::vector<DbRow> out;
    Query q(db_,
            "SELECT dbid, name, state, crdate, filename, status, cmptlevel, user_access, "
            "coalesce(source_dbid, 0), is_published, is_mirrored, in_ag, is_read_only FROM sandbox_databases "
            "ORDER BY dbid");
    while (q.step()) {
        DbRow r;
        r.dbid = q.i(0);
        r.name = q.s(1);
        r.state = q.s(2);
        r.crdate = q.s(3);
        r.filename = q.s(4);
        r.status = q.i(5);
        r.cmptlevel = q.i(6);
        r.userAccess = q.s(7);
        r.sourceDbid = q.i(8);
        r.published = q.i(9) != 0;
        r.mirrored = q.i(10) != 0;
        r.inAvailabilityGroup = q.i(11) != 0;
        r.readOnly = q.i(12) != 0 || r.sourceDbid != 0;
        out.push_back(r);
    }
    return out;
}

std::optional<DbRow> Store::findDatabase(const std::string& name) {
    for (auto& r : allDatabases())
        if (sql::compareText(r.name, name) == 0)
            return r;
    return std::nullopt;
}

std::optional<DbRow> Store::findDatabase(int64_t dbid) {
    for (auto& r : allDatabases())
        if (r.dbid == dbid)
            return r;
    return std::nullopt;
}

std::vector<std::string> Store::userTables() {
    std::vector<std::string> out;
    Query q(db_, "SELECT name FROM sqlite_master WHERE type = 'table' ORDER BY rowid");
    while (q.step())
        if (!internalTable(q.s(0)))
            out.push_back(q.s(0));
    return out;
}

std::optional<std::string> Store::findUserTable(const std::string& name) {
    for (auto& t : userTables())
        if (sameName(t, name))
            return t;
    return std::nullopt;
}

std::vector<Column> Store::tableColumns(const std::string& table) {
    std::vector<Column> cols;
    Query q(db_, "PRAGMA table_info(\"" + table + "\")");
    while (q.step()) {
        Column c;
        c.name = q.s(1);
        c.type = typeFromDecl(q.s(2), &c.maxChars);
        if (c.type == ColType::Decimal)
            decimalFromDecl(q.s(2), &c);
        c.nullable = q.i(3) == 0;
        c.identity = lower(q.s(2)).find("identity") != std::string::npos;
        cols.push_back(c);
    }
    return cols;
}

}  // namespace sandbox::sql
