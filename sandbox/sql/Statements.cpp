// The statements other than SELECT: DELETE, DROP DATABASE, USE, SET, EXEC.
#include "sandbox/sql/Executor.h"

#include <cstdint>
#include <cstdlib>

#include "sandbox/Text.h"
#include "sandbox/sql/Collation.h"
#include "sandbox/sql/Parse.h"

namespace sandbox::sql {

// A table a statement writes: only the catalogue's own tables, never a system view.
Source Executor::openToWrite(const TableRef& ref, Session& s) {
    Source src = open(ref, s);
    if (!src.userTable)
        compileError({.number = 259,
                      .state = 1,
                      .severity = 16,
                      .text = "Ad hoc updates to system catalogs are not allowed."});
    return src;
}

void Executor::remove(const Statement& st, Session& s, Piece& p, bool compileOnly) {
    Source src = openToWrite(*st.from, s);
    if (st.where)
        bind(*st.where, &src, false, false);
    if (compileOnly)
        return;
    lockToWrite(s, src.name);
    std::vector<size_t> rows = filter(src, st.where.get(), s);
    StatementScope scope(store);
    Query q(store.handle(), "DELETE FROM \"" + src.name + "\" WHERE rowid = ?");
    int64_t deleted = 0;  // a trigger may keep a row quietly; the count says what went
    for (size_t r : rows) {
        q.reset();
        q.bind(1, src.rowids[r]);
        q.step();
        deleted += q.changes();
    }
    scope.release();
    s.lastRowCount = deleted;
    p.rowCount = s.noCount ? -1 : s.lastRowCount;
}

void Executor::dropDatabase(const Statement& st, Session& s) {
    // https://learn.microsoft.com/en-us/sql/t-sql/statements/drop-database-transact-sql (not in an
    // explicit or implicit transaction); the server's message for it is 574.
    if (s.tranCount > 0)
        raise({.number = 574,
               .state = 0,
               .severity = 16,
               .text = "DROP DATABASE statement cannot be used inside a user transaction."});
    // Each name is its own drop: one that fails does not keep the others.
    std::optional<SqlError> first;
    for (const auto& name : st.names) {
        try {
            auto d = store.findDatabase(name);
            if (!d)
                raise({.number = 3701,
                       .state = 1,
                       .severity = 11,
                       .text = "Cannot drop the database '" + name +
                               "', because it does not exist or you do not have permission."});
            if (d->dbid <= 4)
                raise(
                    {.number = 3708,
                     .state = 1,
                     .severity = 16,
                     .text = "Cannot drop the database '" + d->name + "' because it is a system database."});
            refuseHazards(*d);
            bool inUse = sameName(s.database, d->name);
            for (const auto& lock : databaseLocks())
                if (lock.spid != s.spid && sql::compareText(lock.database, d->name) == 0)
                    inUse = true;
            if (inUse)
                raise({.number = 3702,
                       .state = 4,
                       .severity = 16,
                       .text = "Cannot drop database \"" + d->name + "\" because it is currently in use."});
            waitForStore(s);
            removeDatabase(*d);
        } catch (const SqlError& e) {
            if (!first)
                first = e;
        } catch (const StoreFailure& f) {
            if (!first)
                first = storeError(f, st, s);
        }
    }
    if (first)
        throw *first;
}

void Executor::use(const Statement& st, Session& s, Piece& p, BatchResult& out) {
    auto d = store.findDatabase(st.names[0]);
    if (!d)
        raise({.number = 911,
               .state = 1,
               .severity = 16,
               .text = "Database '" + st.names[0] +
                       "' does not exist. Make sure that the name is entered correctly."});
    checkOpen(*d, s);
    s.database = d->name;
    out.useDatabaseChanged = true;
    p.messages.push_back(Message{
        .number = 5701, .state = 1, .severity = 0, .text = "Changed database context to '" + d->name + "'."});
}

void Executor::set(const Statement& st, Session& s, Piece& p) {
    if (st.option == "IDENTITY_INSERT")
        identityInsert(st, s);
    if (st.option == "XACT_ABORT")
        s.xactAbort = st.optionValue == "ON";
    if (st.option == "NOCOUNT")
        s.noCount = st.optionValue == "ON";
    if (st.option == "NOEXEC")
        s.noExec = st.optionValue == "ON";
    if (st.option == "IMPLICIT_TRANSACTIONS")
        s.implicitTransactions = st.optionValue == "ON";
    if (st.option == "LOCK_TIMEOUT")
        lockTimeout(st, s);
    if (st.option == "TRANSACTION ISOLATION LEVEL")
        s.readUncommitted = lower(st.optionValue) == "read uncommitted";
    if (st.option == "LANGUAGE")
        p.messages.push_back(Message{.number = 5703,
                                     .state = 1,
                                     .severity = 0,
                                     .text = "Changed language setting to " + st.optionValue + "."});
}

// SET LOCK_TIMEOUT n: milliseconds, -1 for ever, 0 not at all.
// https://learn.microsoft.com/en-us/sql/t-sql/statements/set-lock-timeout-transact-sql
void Executor::lockTimeout(const Statement& st, Session& s) {
    char* end = nullptr;
    long long ms = std::strtoll(st.optionValue.c_str(), &end, 10);
    if (st.optionValue.empty() || *end || ms < -1 || ms > INT32_MAX)
        raise({.number = 102,
               .state = 1,
               .severity = 15,
               .text = "Incorrect syntax near '" + st.optionValue + "'."});
    s.lockTimeoutMs = static_cast<int>(ms);
}

void Executor::execProc(const Statement& st, Piece& p) {
    std::string name = st.proc.substr(st.proc.rfind('.') == std::string::npos ? 0 : st.proc.rfind('.') + 1);
    std::string l = lower(name);
    if (l == "xp_instance_regread") {
        instanceRegRead(st, p);
        return;
    }
    if (l != "sp_datatype_info_100" && l != "sp_datatype_info_90" && l != "sp_datatype_info")
        raise({.number = 2812,
               .state = 62,
               .severity = 16,
               .text = "Could not find stored procedure '" + st.proc + "'."});
    ResultSet rs;
    auto c = [](const char* n, ColType t, int len = 0) { return col(n, t, len, true); };
    rs.columns = {c("TYPE_NAME", ColType::NVarChar, 128),
                  c("DATA_TYPE", ColType::SmallInt),
                  c("PRECISION", ColType::Int),
                  c("LITERAL_PREFIX", ColType::NVarChar, 32),
                  c("LITERAL_SUFFIX", ColType::NVarChar, 32),
                  c("CREATE_PARAMS", ColType::NVarChar, 32),
                  c("NULLABLE", ColType::SmallInt),
                  c("CASE_SENSITIVE", ColType::SmallInt),
                  c("SEARCHABLE", ColType::SmallInt),
                  c("UNSIGNED_ATTRIBUTE", ColType::SmallInt),
                  c("MONEY", ColType::SmallInt),
                  c("AUTO_INCREMENT", ColType::SmallInt),
                  c("LOCAL_TYPE_NAME", ColType::NVarChar, 128),
                  c("MINIMUM_SCALE", ColType::SmallInt),
                  c("MAXIMUM_SCALE", ColType::SmallInt),
                  c("SQL_DATA_TYPE", ColType::SmallInt),
                  c("SQL_DATETIME_SUB", ColType::SmallInt),
                  c("NUM_PREC_RADIX", ColType::Int),
                  c("INTERVAL_PRECISION", ColType::SmallInt),
                  c("USERTYPE", ColType::SmallInt)};
    int64_t wanted = 0;
    if (!st.procArgs.empty() && st.procArgs[0]->kind == Expr::Kind::Int)
        wanted = st.procArgs[0]->i;
    if (wanted == 0 || wanted == 11 || wanted == 93) {
        rs.rows.push_back({Value::ofText("datetime"), Value::ofInt(11), Value::ofInt(23), Value::ofText("'"),
                           Value::ofText("'"),        Value::ofNull(),  Value::ofInt(1),  Value::ofInt(0),
                           Value::ofInt(3),           Value::ofNull(),  Value::ofInt(0),  Value::ofNull(),
                           Value::ofText("datetime"), Value::ofInt(3),  Value::ofInt(3),  Value::ofInt(9),
                           Value::ofInt(3),           Value::ofNull(),  Value::ofNull(),  Value::ofInt(12)});
    }
    p.rowCount = static_cast<int64_t>(rs.rows.size());
    p.result = std::move(rs);
}

// xp_instance_regread (undocumented) with a key and a value name and no output parameter answers
// one row, Value and Data; the instance's BackupDirectory is the sandbox's backup directory. A value
// it does not hold gives no row.
void Executor::instanceRegRead(const Statement& st, Piece& p) {
    ResultSet rs;
    rs.columns = {col("Value", ColType::NVarChar, 128, true), col("Data", ColType::NVarChar, 4000, true)};
    std::vector<std::string> args;
    for (const auto& a : st.procArgs)
        args.push_back(a->kind == Expr::Kind::String ? a->s : "");
    if (args.size() >= 3 && sameName(args[2], "BackupDirectory") &&
        lower(args[1]).find("mssqlserver\\mssqlserver") != std::string::npos)
        rs.rows.push_back({Value::ofText(args[2]), Value::ofText(backupDir)});
    p.rowCount = static_cast<int64_t>(rs.rows.size());
    p.result = std::move(rs);
}

}  // namespace sandbox::sql
