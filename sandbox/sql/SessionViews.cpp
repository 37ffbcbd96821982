// The views of sessions, their locks and who blocks whom: sysprocesses, sys.dm_exec_*, sys.dm_tran_locks.
#include "sandbox/sql/Executor.h"

namespace sandbox::sql {

namespace {

// One session as these views list it: a connection, a lock holder of the server's own, or a
// foreign session that only names a database.
struct Listed {
    int spid = 0;
    const Executor::SessionInfo* info = nullptr;  // null for a foreign session
    std::string database, login, host, program, loginTime;
};

std::vector<Listed> listed(Executor& x) {
    std::vector<Listed> out;
    for (auto& [spid, info] : x.sessions)
        out.push_back({spid, &info, info.database, info.login, info.host, info.program, info.loginTime});
    for (auto& f : x.foreign)
        out.push_back({f.spid, nullptr, f.database, f.login, f.host, f.program, nowText()});
    return out;
}

int64_t dbidOf(Executor& x, const std::string& name) {
    auto d = x.store.findDatabase(name);
    return d ? d->dbid : 0;
}

bool running(const Listed& l) {
    return l.info && !l.info->command.empty();
}

const char* statusOf(const Listed& l, const Session& self) {
    if (l.spid == self.spid)
        return "runnable";
    return running(l) ? "suspended" : "sleeping";
}

Value real(double v) {
    Value x;
    x.null = false;
    x.f = v;
    return x;
}

}  // namespace

// sysprocesses' text columns are nchar: the server pads them with spaces.
void sysprocesses(Executor& x, Source& src, const Session& self, const std::string&) {
    src.cols = {col("spid", ColType::SmallInt),
                col("kpid", ColType::SmallInt),
                col("blocked", ColType::SmallInt),
                col("dbid", ColType::SmallInt),
                col("uid", ColType::SmallInt, 0, true),
                col("cpu", ColType::Int),
                col("memusage", ColType::Int),
                col("login_time", ColType::DateTime),
                col("last_batch", ColType::DateTime),
                col("open_tran", ColType::SmallInt),
                col("status", ColType::NVarChar, 30),
                col("hostname", ColType::NVarChar, 128),
                col("program_name", ColType::NVarChar, 128),
                col("hostprocess", ColType::NVarChar, 10),
                col("cmd", ColType::NVarChar, 16),
                col("nt_domain", ColType::NVarChar, 128),
                col("nt_username", ColType::NVarChar, 128),
                col("net_address", ColType::NVarChar, 12),
                col("net_library", ColType::NVarChar, 12),
                col("loginame", ColType::NVarChar, 128)};
    for (const Listed& l : listed(x)) {
        const bool busy = running(l);
        src.rows.push_back({Value::ofInt(l.spid),
                            Value::ofInt(0),
                            Value::ofInt(l.info ? l.info->blockedBy : 0),
                            Value::ofInt(dbidOf(x, l.database)),
                            Value::ofInt(1),
                            Value::ofInt(0),
                            Value::ofInt(2),
                            Value::ofText(l.loginTime),
                            Value::ofText(l.loginTime),
                            Value::ofInt(l.info ? l.info->tranCount : 0),
                            Value::ofText(padRight(statusOf(l, self), 30)),
                            Value::ofText(padRight(l.host, 128)),
                            Value::ofText(padRight(l.program, 128)),
                            Value::ofText(padRight("", 10)),
                            Value::ofText(padRight(busy ? l.info->command : "AWAITING COMMAND", 16)),
                            Value::ofText(padRight("", 128)),
                            Value::ofText(padRight("", 128)),
                            Value::ofText(padRight("000000000000", 12)),
                            Value::ofText(padRight("TCP/IP", 12)),
                            Value::ofText(padRight(l.login, 128))});
    }
}

// https://learn.microsoft.com/en-us/sql/relational-databases/system-dynamic-management-views/sys-dm-exec-sessions-transact-sql
void dmExecSessions(Executor& x, Source& src, const Session& self, const std::string&) {
    src.cols = {
        col("session_id", ColType::SmallInt),           col("login_time", ColType::DateTime),
        col("host_name", ColType::NVarChar, 128, true), col("program_name", ColType::NVarChar, 128, true),
        col("login_name", ColType::NVarChar, 128),      col("status", ColType::NVarChar, 30),
        col("database_id", ColType::SmallInt),          col("is_user_process", ColType::Bit),
        col("open_transaction_count", ColType::Int),    col("lock_timeout", ColType::Int)};
    for (const Listed& l : listed(x)) {
        const Session* live = l.info ? l.info->live : nullptr;
        const char* status = l.spid == self.spid ? "running" : running(l) ? "running" : "sleeping";
        src.rows.push_back({Value::ofInt(l.spid), Value::ofText(l.loginTime), Value::ofText(l.host),
                            Value::ofText(l.program), Value::ofText(l.login), Value::ofText(status),
                            Value::ofInt(dbidOf(x, l.database)), Value::ofInt(1),
                            Value::ofInt(l.info ? l.info->tranCount : 0),
                            Value::ofInt(live ? live->lockTimeoutMs : -1)});
    }
}

// Only sessions with a statement under way have a request: the reader's own, and those waiting.
// https://learn.microsoft.com/en-us/sql/relational-databases/system-dynamic-management-views/sys-dm-exec-requests-transact-sql
void dmExecRequests(Executor& x, Source& src, const Session& self, const std::string&) {
    src.cols = {col("session_id", ColType::SmallInt),
                col("request_id", ColType::Int),
                col("status", ColType::NVarChar, 30),
                col("command", ColType::NVarChar, 32),
                col("database_id", ColType::SmallInt),
                col("blocking_session_id", ColType::SmallInt, 0, true),
                col("wait_type", ColType::NVarChar, 60, true),
                col("wait_time", ColType::Int),
                col("percent_complete", ColType::Float),
                col("open_transaction_count", ColType::Int),
                col("lock_timeout", ColType::Int)};
    const auto now = std::chrono::steady_clock::now();
    for (const Listed& l : listed(x)) {
        if (!running(l))
            continue;
        const Executor::SessionInfo& i = *l.info;
        const bool waits = i.blockedBy != 0;
        const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(now - i.waitSince).count();
        src.rows.push_back({Value::ofInt(l.spid), Value::ofInt(0),
                            Value::ofText(l.spid == self.spid ? "running"
                                          : waits             ? "suspended"
                                                              : "runnable"),
                            Value::ofText(i.command), Value::ofInt(dbidOf(x, l.database)),
                            Value::ofInt(i.blockedBy), waits ? Value::ofText(i.waitType) : Value::ofNull(),
                            Value::ofInt(waits ? waited : 0), real(i.percentComplete),
                            Value::ofInt(i.tranCount), Value::ofInt(i.live ? i.live->lockTimeoutMs : -1)});
    }
}

// Shared DATABASE locks (each session's current database and those its statements name), the
// tables held exclusively, and the lock each waiting session asks for.
// https://learn.microsoft.com/en-us/sql/relational-databases/system-dynamic-management-views/sys-dm-tran-locks-transact-sql
void dmTranLocks(Executor& x, Source& src, const Session&, const std::string&) {
    src.cols = {col("resource_type", ColType::NVarChar, 60),
                col("resource_subtype", ColType::NVarChar, 60),
                col("resource_database_id", ColType::Int),
                col("resource_description", ColType::NVarChar, 256),
                col("resource_associated_entity_id", ColType::BigInt, 0, true),
                col("request_mode", ColType::NVarChar, 60),
                col("request_type", ColType::NVarChar, 60),
                col("request_status", ColType::NVarChar, 60),
                col("request_session_id", ColType::Int),
                col("request_owner_type", ColType::NVarChar, 60)};
    auto row = [&](const char* type, int64_t dbid, int64_t entity, const std::string& mode,
                   const char* status, int spid, const char* owner) {
        src.rows.push_back({Value::ofText(type), Value::ofText(""), Value::ofInt(dbid), Value::ofText(""),
                            Value::ofInt(entity), Value::ofText(mode), Value::ofText("LOCK"),
                            Value::ofText(status), Value::ofInt(spid), Value::ofText(owner)});
    };
    for (const auto& lock : x.databaseLocks())
        row("DATABASE", dbidOf(x, lock.database), 0, "S", "GRANTED", lock.spid,
            "SHARED_TRANSACTION_WORKSPACE");
    const int64_t system = dbidOf(x, kSystemDb);
    for (const auto& [table, spid] : x.exclusive)
        row("OBJECT", system, objectIdFor(table), "X", "GRANTED", spid, "TRANSACTION");
    for (const auto& [spid, info] : x.sessions)
        if (info.blockedBy != 0 && !info.waitObject.empty())
            row("OBJECT", system, objectIdFor(info.waitObject), info.waitType == "LCK_M_S" ? "S" : "X",
                "WAIT", spid, "TRANSACTION");
}

}  // namespace sandbox::sql
