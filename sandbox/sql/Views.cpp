// The catalogue views: one row each in the table of views, one function that fills it.
#include "sandbox/sql/Executor.h"

#include "sandbox/sql/Collation.h"
#include "sandbox/sql/Parse.h"

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

// sys.master_files: every file of every database, an OFFLINE one's too.
// https://learn.microsoft.com/en-us/sql/relational-databases/system-catalog-views/sys-master-files-transact-sql
void sysMasterFiles(Executor& x, Source& src, const Session&, const std::string&) {
    src.cols = {col("database_id", ColType::Int),
                col("file_id", ColType::Int),
                col("type_desc", ColType::NVarChar, 60, true),
                col("name", ColType::NVarChar, 128),
                col("physical_name", ColType::NVarChar, 260),
                col("state_desc", ColType::NVarChar, 60, true),
                col("size", ColType::Int)};
    Query q(x.store.handle(),
            "SELECT f.dbid, f.fileid, f.name, f.filename, f.size, d.state FROM sandbox_files f JOIN "
            "sandbox_databases d ON d.dbid = f.dbid ORDER BY f.dbid, f.fileid");
    while (q.step()) {
        const bool log = q.i(1) == 2;
        const std::string state = q.s(5);
        const bool offline = state == "OFFLINE";
        src.rows.push_back({Value::ofInt(q.i(0)), Value::ofInt(q.i(1)), Value::ofText(log ? "LOG" : "ROWS"),
                            Value::ofText(q.s(2)), Value::ofText(q.s(3)),
                            Value::ofText(offline || state == "RESTORING" ? state : "ONLINE"),
                            Value::ofInt(q.i(4))});
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

// https://learn.microsoft.com/en-us/sql/relational-databases/system-catalog-views/sys-columns-transact-sql
void sysColumns(Executor& x, Source& src, const Session&, const std::string& database) {
    src.cols = {col("object_id", ColType::Int),
                col("name", ColType::NVarChar, 128, true),
                col("column_id", ColType::Int),
                col("system_type_id", ColType::SmallInt),
                col("user_type_id", ColType::Int),
                col("max_length", ColType::SmallInt),
                col("is_nullable", ColType::Bit, 0, true),
                col("is_identity", ColType::Bit),
                col("is_computed", ColType::Bit)};
    if (!x.isSystemDb(database))
        return;
    for (auto& t : x.store.userTables()) {
        int id = 0;
        for (auto& c : x.store.tableColumns(t)) {
            int type = typeIdOf(c.type);
            int length = c.type == ColType::NVarChar    ? (c.maxChars >= 4000 ? -1 : c.maxChars * 2)
                         : c.type == ColType::VarBinary ? c.maxChars
                                                        : findType(type)->maxLength;
            src.rows.push_back({Value::ofInt(objectIdFor(t)), Value::ofText(c.name), Value::ofInt(++id),
                                Value::ofInt(type), Value::ofInt(type), Value::ofInt(length),
                                Value::ofInt(c.nullable), Value::ofInt(c.identity), Value::ofInt(0)});
        }
    }
}

// https://learn.microsoft.com/en-us/sql/relational-databases/system-catalog-views/sys-types-transact-sql
void sysTypes(Executor&, Source& src, const Session&, const std::string&) {
    src.cols = {col("name", ColType::NVarChar, 128),       col("system_type_id", ColType::SmallInt),
                col("user_type_id", ColType::Int),         col("max_length", ColType::SmallInt),
                col("is_nullable", ColType::Bit, 0, true), col("is_user_defined", ColType::Bit)};
    for (size_t i = 0; i < kTypeCount; ++i)
        src.rows.push_back({Value::ofText(kTypes[i].name), Value::ofInt(kTypes[i].id),
                            Value::ofInt(kTypes[i].id), Value::ofInt(kTypes[i].maxLength), Value::ofInt(1),
                            Value::ofInt(0)});
}

// msdb's backup history:
// https://learn.microsoft.com/en-us/sql/relational-databases/system-tables/backupset-transact-sql
void backupset(Executor& x, Source& src, const Session&, const std::string& database) {
    src.cols = {col("backup_set_id", ColType::Int),
                col("media_set_id", ColType::Int),
                col("database_name", ColType::NVarChar, 128, true),
                col("backup_start_date", ColType::DateTime, 0, true),
                col("backup_finish_date", ColType::DateTime, 0, true),
                col("type", ColType::NVarChar, 1, true),
                col("is_copy_only", ColType::Bit, 0, true),
                col("backup_size", ColType::Float, 0, true),
                col("has_backup_checksums", ColType::Bit, 0, true),
                col("user_name", ColType::NVarChar, 128, true),
                col("server_name", ColType::NVarChar, 128, true),
                col("position", ColType::Int, 0, true)};
    if (!sameName(database, "msdb"))
        return;
    Query q(x.store.handle(),
            "SELECT backup_set_id, media_set_id, database_name, backup_start_date, backup_finish_date, type, "
            "is_copy_only, backup_size, has_backup_checksums, user_name, server_name FROM sandbox_backupset "
            "ORDER BY backup_set_id");
    while (q.step()) {
        Value size;
        size.null = false;
        size.f = static_cast<double>(q.i(7));
        src.rows.push_back({Value::ofInt(q.i(0)), Value::ofInt(q.i(1)), Value::ofText(q.s(2)),
                            Value::ofText(q.s(3)), Value::ofText(q.s(4)), Value::ofText(q.s(5)),
                            Value::ofInt(q.i(6)), size, Value::ofInt(q.i(8)), Value::ofText(q.s(9)),
                            Value::ofText(q.s(10)), Value::ofInt(1)});
    }
}

// https://learn.microsoft.com/en-us/sql/relational-databases/system-tables/backupmediafamily-transact-sql
void backupmediafamily(Executor& x, Source& src, const Session&, const std::string& database) {
    src.cols = {col("media_set_id", ColType::Int), col("family_sequence_number", ColType::SmallInt),
                col("physical_device_name", ColType::NVarChar, 260, true),
                col("device_type", ColType::SmallInt, 0, true)};
    if (!sameName(database, "msdb"))
        return;
    Query q(x.store.handle(),
            "SELECT media_set_id, family_sequence_number, physical_device_name, device_type FROM "
            "sandbox_backupmediafamily ORDER BY media_set_id");
    while (q.step())
        src.rows.push_back(
            {Value::ofInt(q.i(0)), Value::ofInt(q.i(1)), Value::ofText(q.s(2)), Value::ofInt(q.i(3))});
}

}  // namespace

// The views a client of this tool reads; the ids are those SQL Server 2008 R2 gives them (the dm
// views' are this server's own). One row a line, so that views added apart merge apart.
// clang-format off
const CatalogView kViews[] = {
    {"sysdatabases", -213, &sysdatabases},
    {"sysaltfiles", -206, &sysaltfiles},
    {"master_files", -406, &sysMasterFiles},  // sys.master_files (an id of this server's own)
    {"sysprocesses", -224, &sysprocesses},
    {"sysobjects", -385, &sysobjects},
    {"databases", -267, &sysDatabasesView},                   // sys.databases (Databases.cpp)
    {"database_mirroring", -310, &sysDatabaseMirroringView},  // sys.database_mirroring
    {"database_recovery_status", -421, &sysDatabaseRecoveryStatus},  // (an id of this server's own)
    {"dm_exec_sessions", -404, &dmExecSessions},
    {"dm_exec_requests", -405, &dmExecRequests},
    {"dm_tran_locks", -411, &dmTranLocks},
    {"columns", -410, &sysColumns},
    {"types", -391, &sysTypes},
    {"backupset", -2, &backupset},
    {"backupmediafamily", -3, &backupmediafamily},
};
// clang-format on

namespace {

// Columns that arrived after SQL Server 2008 R2 (10.50), with the major version that brought them:
// "Applies to: SQL Server 2012 (11.x) and later" on each view's page.
// https://learn.microsoft.com/en-us/sql/relational-databases/system-catalog-views/sys-databases-transact-sql
// https://learn.microsoft.com/en-us/sql/relational-databases/system-dynamic-management-views/sys-dm-exec-sessions-transact-sql
struct LaterColumn {
    const char* view;
    const char* column;
    int sinceMajor;
};
// clang-format off
const LaterColumn kLaterColumns[] = {
    {"databases", "replica_id", 11},
    {"dm_exec_sessions", "database_id", 11},
    {"dm_exec_sessions", "open_transaction_count", 11},
};
// clang-format on

}  // namespace

void dropLaterColumns(Source& src, const std::string& name, int major) {
    for (const LaterColumn& later : kLaterColumns) {
        if (name != later.view || major >= later.sinceMajor)
            continue;
        for (size_t c = 0; c < src.cols.size(); ++c) {
            if (!sameName(src.cols[c].name, later.column))
                continue;
            src.cols.erase(src.cols.begin() + static_cast<std::ptrdiff_t>(c));
            for (auto& row : src.rows)
                row.erase(row.begin() + static_cast<std::ptrdiff_t>(c));
            break;
        }
    }
}

const CatalogView* findView(const std::string& name) {
    for (const auto& v : kViews) {
        if (name == v.name)
            return &v;
    }
    return nullptr;
}

}  // namespace sandbox::sql
