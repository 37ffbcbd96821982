// Database states and hazards: what DROP DATABASE refuses, what it leaves on disk, who may open a database.
#include "sandbox/sql/Executor.h"

#include <cctype>
#include <cstdio>
#include <iterator>
#include <utility>

#include "sandbox/Text.h"
#include "sandbox/sql/Collation.h"

namespace sandbox::sql {

namespace {

const char* const kStates[] = {"ONLINE",  "RESTORING", "RECOVERING", "RECOVERY_PENDING",
                               "SUSPECT", "EMERGENCY", "OFFLINE"};
const char* const kUserAccess[] = {"MULTI_USER", "SINGLE_USER", "RESTRICTED_USER"};

int indexOf(const char* const* words, size_t n, const std::string& word) {
    for (size_t i = 0; i < n; ++i)
        if (word == words[i])
            return static_cast<int>(i);
    return -1;
}

Message refusal(int number, std::string text) {
    return {.number = number, .state = 1, .severity = 16, .text = std::move(text)};
}

}  // namespace

// sys.databases.state: 0 ONLINE ... 6 OFFLINE, in the order of kStates.
int stateCode(const std::string& state) {
    return indexOf(kStates, std::size(kStates), state);
}

int userAccessCode(const std::string& access) {
    return indexOf(kUserAccess, std::size(kUserAccess), access);
}

// sys.sysdatabases (Transact-SQL), status: 32 loading, 128 recovering, 256 not recovered, 512
// offline, 1024 read only, 2048 dbo use only, 4096 single user, 32768 emergency mode.
int64_t legacyStatus(const DbRow& d) {
    const std::pair<const char*, int64_t> bits[] = {
        {"RESTORING", 32},         {"RECOVERING", 128},   {"SUSPECT", 256},    {"OFFLINE", 512},
        {"RESTRICTED_USER", 2048}, {"SINGLE_USER", 4096}, {"EMERGENCY", 32768}};
    int64_t status = d.status | (d.readOnly ? 1024 : 0);
    for (const auto& [word, bit] : bits)
        if (d.state == word || d.userAccess == word)
            status |= bit;
    return status;
}

// Message texts as sys.messages holds them (Database Engine events and errors 3000 to 3999; 3752 from
// "Troubleshoot Always On availability databases in Recovery Pending or Suspect state", KB 2857849).
// A database in any state may be dropped (DROP DATABASE, Remarks: "regardless of its state:
// offline, read-only, suspect, and so on"); these are what stop it.
void Executor::refuseHazards(const DbRow& d) {
    for (auto& other : store.allDatabases())
        if (other.sourceDbid == d.dbid)
            raise(refusal(3709, "Cannot drop the database while the database snapshot \"" + other.name +
                                    "\" refers to it. Drop that database first."));
    if (d.published)
        raise(refusal(3724,
                      "Cannot drop the database '" + d.name + "' because it is being used for replication."));
    if (d.mirrored)
        raise(refusal(3743, "The database '" + d.name +
                                "' is enabled for database mirroring. Database mirroring must be removed "
                                "before you drop the database."));
    if (d.inAvailabilityGroup)
        raise(refusal(3752, "The database '" + d.name +
                                "' is currently joined to an availability group. Before you can drop the "
                                "database, you need to remove it from the availability group."));
}

// "If the database or any one of its files is offline when it is dropped, the disk files are not
// deleted" (DROP DATABASE): those files are kept on the list of files left on disk.
void Executor::removeDatabase(const DbRow& d) {
    StatementScope scope(store);
    if (d.state == "OFFLINE") {
        Query keep(store.handle(),
                   "INSERT INTO sandbox_orphaned_files (database_name, filename) "
                   "SELECT ?, filename FROM sandbox_files WHERE dbid = ? ORDER BY fileid");
        keep.bind(1, d.name).bind(2, d.dbid).step();
    }
    Query a(store.handle(), "DELETE FROM sandbox_files WHERE dbid = ?");
    a.bind(1, d.dbid).step();
    Query b(store.handle(), "DELETE FROM sandbox_databases WHERE dbid = ?");
    b.bind(1, d.dbid).step();
    scope.release();
}

// What USE (and a three-part name) meets in each state; EMERGENCY and RESTRICTED_USER admit sa, a
// sysadmin. Texts: Database Engine events and errors 0 to 999.
void Executor::checkOpen(const DbRow& d, const Session& s) {
    auto fail = [&](int number, const std::string& tail, int severity = 14) {
        raise({.number = number,
               .state = 1,
               .severity = severity,
               .text = "Database '" + d.name + "' " + tail});
    };
    if (d.state == "OFFLINE")
        fail(942, "cannot be opened because it is offline.");
    if (d.state == "RESTORING")
        fail(927, "cannot be opened. It is in the middle of a restore.");
    if (d.state == "SUSPECT")
        fail(926,
             "cannot be opened. It has been marked SUSPECT by recovery. See the SQL Server errorlog for "
             "more information.");
    if (d.state == "RECOVERING")
        fail(922, "is being recovered. Waiting until recovery is finished.");
    if (d.state == "RECOVERY_PENDING")
        fail(945,
             "cannot be opened due to inaccessible files or insufficient memory or disk space. See the "
             "SQL Server errorlog for details.",
             16);
    if (d.userAccess != "SINGLE_USER")
        return;
    bool held = false;
    for (auto& [spid, info] : sessions)
        held = held || (spid != s.spid && compareText(info.database, d.name) == 0);
    for (auto& f : foreign)
        held = held || compareText(f.database, d.name) == 0;
    if (held)
        fail(924, "is already open and can only have one user at a time.");
}

bool Executor::setDatabaseState(const std::string& name, const std::string& word) {
    auto d = store.findDatabase(name);
    std::string w = word;
    for (auto& c : w)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    const bool access = userAccessCode(w) >= 0;
    if (!d || (!access && stateCode(w) < 0))
        return false;
    Query q(store.handle(), access ? "UPDATE sandbox_databases SET user_access = ? WHERE dbid = ?"
                                   : "UPDATE sandbox_databases SET state = ? WHERE dbid = ?");
    q.bind(1, w).bind(2, d->dbid).step();
    return true;
}

// snapshot: a database snapshot snap_<name> of it, with its own sparse file.
bool Executor::setDatabaseHazard(const std::string& name, const std::string& hazard) {
    auto d = store.findDatabase(name);
    const std::string h = lower(hazard);
    const char* column = h == "published"  ? "is_published"
                         : h == "mirrored" ? "is_mirrored"
                         : h == "ag"       ? "in_ag"
                                           : nullptr;
    if (!d || (!column && h != "snapshot"))
        return false;
    if (column) {
        Query q(store.handle(),
                std::string("UPDATE sandbox_databases SET ") + column + " = 1 WHERE dbid = ?");
        q.bind(1, d->dbid).step();
        return true;
    }
    const std::string snap = "snap_" + d->name;
    if (store.findDatabase(snap))
        return true;
    const std::string file = "C:\\SQLDATA\\MSSQL\\Data\\" + snap + ".ss";
    Query next(store.handle(), "SELECT max(dbid) + 1 FROM sandbox_databases");
    next.step();
    const int64_t dbid = next.i(0);
    Query a(store.handle(),
            "INSERT INTO sandbox_databases (dbid, name, filename, source_dbid, is_read_only) VALUES (?, ?, "
            "?, ?, 1)");
    a.bind(1, dbid).bind(2, snap).bind(3, file).bind(4, d->dbid).step();
    Query b(store.handle(),
            "INSERT INTO sandbox_files (dbid, fileid, name, filename, size) VALUES (?, 1, ?, ?, 16)");
    b.bind(1, dbid).bind(2, d->name + "_Data").bind(3, file).step();
    return true;
}

namespace {

Value bit(bool b) {
    return Value::ofInt(b ? 1 : 0);
}

// uniqueidentifier is sent as its text: a client reads it as a GUID string either way.
Value guidFor(int64_t dbid, const char* kind) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "%s-0000-4000-8000-%012lld", kind, static_cast<long long>(dbid));
    return Value::ofText(buf);
}

}  // namespace

// sys.databases (SQL Server 2008 R2 and later); state and user_access are tinyint there.
void sysDatabasesView(Executor& x, Source& src, const Session&, const std::string&) {
    src.cols = {col("name", ColType::NVarChar, 128),
                col("database_id", ColType::Int),
                col("source_database_id", ColType::Int, 0, true),
                col("create_date", ColType::DateTime),
                col("compatibility_level", ColType::SmallInt, 0, true),
                col("collation_name", ColType::NVarChar, 128, true),
                col("user_access", ColType::SmallInt, 0, true),
                col("user_access_desc", ColType::NVarChar, 60, true),
                col("is_read_only", ColType::Bit, 0, true),
                col("state", ColType::SmallInt, 0, true),
                col("state_desc", ColType::NVarChar, 60, true),
                col("recovery_model_desc", ColType::NVarChar, 60, true),
                col("is_published", ColType::Bit),
                col("is_subscribed", ColType::Bit),
                col("is_merge_published", ColType::Bit),
                col("is_distributor", ColType::Bit),
                col("replica_id", ColType::NVarChar, 36, true)};
    for (auto& d : x.store.allDatabases()) {
        const bool online = d.state == "ONLINE";  // "NULL = Database is not online"
        src.rows.push_back({Value::ofText(d.name), Value::ofInt(d.dbid),
                            d.sourceDbid ? Value::ofInt(d.sourceDbid) : Value::ofNull(),
                            Value::ofText(d.crdate), online ? Value::ofInt(d.cmptlevel) : Value::ofNull(),
                            online ? Value::ofText("Chinese_PRC_CI_AS") : Value::ofNull(),
                            Value::ofInt(userAccessCode(d.userAccess)), Value::ofText(d.userAccess),
                            bit(d.readOnly), Value::ofInt(stateCode(d.state)), Value::ofText(d.state),
                            Value::ofText(d.dbid <= 4 ? "SIMPLE" : "FULL"), bit(d.published), bit(false),
                            bit(false), bit(false),
                            d.inAvailabilityGroup ? guidFor(d.dbid, "a9a9a9a9") : Value::ofNull()});
    }
}

// sys.database_recovery_status: the family a database belongs to, kept by its restores.
// https://learn.microsoft.com/en-us/sql/relational-databases/system-catalog-views/sys-database-recovery-status-transact-sql
void sysDatabaseRecoveryStatus(Executor& x, Source& src, const Session&, const std::string&) {
    const auto guid = [](const char* name) {
        Column c = col(name, ColType::NVarChar, 36, true);
        c.wire = Column::Wire::Guid;
        return c;
    };
    const auto lsn = [](const char* name) {
        Column c = col(name, ColType::Decimal, 0, true);
        c.precision = 25;
        c.scale = 0;
        return c;
    };
    src.cols = {col("database_id", ColType::Int),
                guid("database_guid"),
                guid("family_guid"),
                lsn("last_log_backup_lsn"),
                guid("recovery_fork_guid"),
                guid("first_recovery_fork_guid"),
                lsn("fork_point_lsn")};
    for (auto& d : x.store.allDatabases()) {
        const Value fork = Value::ofText(guidText(d.name + "|fork"));
        src.rows.push_back({Value::ofInt(d.dbid),
                            Value::ofText(guidText(d.name + "|" + d.crdate + "|database")),
                            Value::ofText(familyGuid(d)), Value::ofNull(), fork, fork, Value::ofNull()});
    }
}

// sys.database_mirroring: one row per database, its mirroring columns NULL unless it is mirrored.
void sysDatabaseMirroringView(Executor& x, Source& src, const Session&, const std::string&) {
    src.cols = {col("database_id", ColType::Int),
                col("mirroring_guid", ColType::NVarChar, 36, true),
                col("mirroring_state", ColType::SmallInt, 0, true),
                col("mirroring_state_desc", ColType::NVarChar, 60, true),
                col("mirroring_role", ColType::SmallInt, 0, true),
                col("mirroring_role_desc", ColType::NVarChar, 60, true),
                col("mirroring_partner_name", ColType::NVarChar, 128, true)};
    for (auto& d : x.store.allDatabases()) {
        if (!d.mirrored) {
            src.rows.push_back({Value::ofInt(d.dbid), Value::ofNull(), Value::ofNull(), Value::ofNull(),
                                Value::ofNull(), Value::ofNull(), Value::ofNull()});
            continue;
        }
        src.rows.push_back({Value::ofInt(d.dbid), guidFor(d.dbid, "d8d8d8d8"), Value::ofInt(4),
                            Value::ofText("SYNCHRONIZED"), Value::ofInt(1), Value::ofText("PRINCIPAL"),
                            Value::ofText("TCP://MIRROR:5022")});
    }
}

std::vector<std::string> Executor::orphanedFiles() {
    std::vector<std::string> out;
    Query q(store.handle(), "SELECT filename FROM sandbox_orphaned_files ORDER BY rowid");
    while (q.step())
        out.push_back(q.s(0));
    return out;
}

}  // namespace sandbox::sql
