// The catalogue views: one row each in the table of views, one function that fills it.
#include "sandbox/sql/Executor.h"

#include "sandbox/sql/Collation.h"

namespace sandbox::sql {

// SessionViews.cpp
void sysprocesses(Executor& x, Source& src, const Session& self, const std::string& database);
void dmExecSessions(Executor& x, Source& src, const Session& self, const std::string& database);
void dmExecRequests(Executor& x, Source& src, const Session& self, const std::string& database);
void dmTranLocks(Executor& x, Source& src, const Session& self, const std::string& database);

namespace {

void sysdatabases(Executor& x, Source& src, const Session&, const std::string&) {
    src.cols = {col("name", ColType::NVarChar, 128, true),
                col("dbid", ColType::SmallInt, 0, true),
                col("sid", ColType::NVarChar, 85, true),
                col("mode", ColType::SmallInt, 0, true),
                col("status", ColType::Int, 0, true),
                col("status2", ColType::Int, 0, true),
                col("crdate", ColType::DateTime),
                col("reserved", ColType::DateTime),
                col("category", ColType::Int, 0, true),
                col("cmptlevel", ColType::SmallInt),
                col("filename", ColType::NVarChar, 260, true),
                col("version", ColType::SmallInt, 0, true)};
    for (auto& d : x.store.allDatabases()) {
        src.rows.push_back({Value::ofText(d.name), Value::ofInt(d.dbid), Value::ofNull(), Value::ofInt(0),
                            Value::ofInt(legacyStatus(d)), Value::ofInt(1090520064), Value::ofText(d.crdate),
                            Value::ofText("1900-01-01 00:00:00.000"), Value::ofInt(0),
                            Value::ofInt(d.cmptlevel), Value::ofText(d.filename),
                            Value::ofInt(x.product.databaseVersion)});
    }
}

void sysaltfiles(Executor& x, Source& src, const Session&, const std::string&) {
    src.cols = {col("fileid", ColType::SmallInt, 0, true),
                col("groupid", ColType::SmallInt, 0, true),
                col("size", ColType::Int),
                col("maxsize", ColType::Int),
                col("growth", ColType::Int),
                col("status", ColType::Int, 0, true),
                col("perf", ColType::Int, 0, true),
                col("dbid", ColType::SmallInt, 0, true),
                col("name", ColType::NVarChar, 128),
                col("filename", ColType::NVarChar, 260, true)};
    Query q(x.store.handle(),
            "SELECT fileid, size, dbid, name, filename FROM sandbox_files ORDER BY dbid, fileid");
    while (q.step()) {
        bool log = q.i(0) == 2;
        src.rows.push_back({Value::ofInt(q.i(0)), Value::ofInt(log ? 0 : 1), Value::ofInt(q.i(1)),
                            Value::ofInt(-1), Value::ofInt(10), Value::ofInt(log ? 1048642 : 1048578),
                            Value::ofInt(0), Value::ofInt(q.i(2)), Value::ofText(q.s(3)),
                            Value::ofText(q.s(4))});
    }
}

void sysobjects(Executor& x, Source& src, const Session&, const std::string& database) {
    src.cols = {col("name", ColType::NVarChar, 128),     col("id", ColType::Int),
                col("xtype", ColType::NVarChar, 2),      col("uid", ColType::SmallInt, 0, true),
                col("info", ColType::SmallInt, 0, true), col("status", ColType::Int, 0, true),
                col("parent_obj", ColType::Int),         col("crdate", ColType::DateTime),
                col("type", ColType::NVarChar, 2, true)};
    if (!x.isSystemDb(database))
        return;
    for (auto& t : x.store.userTables())
        src.rows.push_back({Value::ofText(t), Value::ofInt(objectIdFor(t)), Value::ofText("U "),
                            Value::ofInt(1), Value::ofInt(0), Value::ofInt(0), Value::ofInt(0),
                            Value::ofText("2003-06-01 09:00:00.000"), Value::ofText("U ")});
}

}  // namespace

// The views a client of this tool reads; the ids are those SQL Server 2008 R2 gives them (the dm
// views' are this server's own). One row a line, so that views added apart merge apart.
// clang-format off
const CatalogView kViews[] = {
    {"sysdatabases", -213, &sysdatabases},
    {"sysaltfiles", -206, &sysaltfiles},
    {"sysprocesses", -224, &sysprocesses},
    {"sysobjects", -385, &sysobjects},
    {"databases", -267, &sysDatabasesView},                   // sys.databases (Databases.cpp)
    {"database_mirroring", -310, &sysDatabaseMirroringView},  // sys.database_mirroring
    {"dm_exec_sessions", -404, &dmExecSessions},
    {"dm_exec_requests", -405, &dmExecRequests},
    {"dm_tran_locks", -411, &dmTranLocks},
};
// clang-format on

const CatalogView* findView(const std::string& name) {
    for (const auto& v : kViews) {
        if (name == v.name)
            return &v;
    }
    return nullptr;
}

}  // namespace sandbox::sql
