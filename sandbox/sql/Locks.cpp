// Locks between sessions: exclusive table locks held to the end of a transaction, waits, KILL, holders.
#include "sandbox/sql/Executor.h"

#include "sandbox/Text.h"
#include "sandbox/sql/Errors.h"

namespace sandbox::sql {

namespace {

// A waiting statement looks at least this often whether it was cancelled or killed.
constexpr auto kPoll = std::chrono::milliseconds(50);

// Past LOCK_TIMEOUT the statement fails with 1222 and is rolled back, the transaction stays (unless
// XACT_ABORT is on, which the caller of a runtime error sees to):
// https://learn.microsoft.com/en-us/sql/t-sql/statements/set-lock-timeout-transact-sql
[[noreturn]] void timedOut() {
    raise({.number = 1222, .state = 51, .severity = 16, .text = "Lock request time out period exceeded."});
}

}  // namespace

// blocker: the session in the way, 0 when none. The engine's lock is given up while waiting, so
// the holder can end its transaction; a KILL, an ATTENTION or LOCK_TIMEOUT ends the wait.
void Executor::waitWhile(const Session& s, const std::function<int()>& blocker, const char* waitType) {
    int by = blocker();
    if (by == 0)
        return;
    if (s.lockTimeoutMs == 0 || !engineLock)
        timedOut();
    using Clock = std::chrono::steady_clock;
    const auto deadline = s.lockTimeoutMs < 0 ? Clock::time_point::max()
                                              : Clock::now() + std::chrono::milliseconds(s.lockTimeoutMs);
    sessions[s.spid].waitType = waitType;
    sessions[s.spid].waitSince = Clock::now();
    // Recorded however the wait ends, for tests that ask how often and how long a client waited.
    struct Record {
        Executor& x;
        LockWait w;
        Clock::time_point since = Clock::now();
        ~Record() {
            w.waitedMs = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since).count();
            x.lockWaits.push_back(w);
        }
    } record{*this,
             {.spid = s.spid,
              .object = sessions[s.spid].waitObject.empty() ? std::string("(store)")
                                                            : sessions[s.spid].waitObject}};
    for (; by != 0; by = blocker()) {
        SessionInfo& info = sessions[s.spid];
        info.blockedBy = by;
        info.tranCount = s.tranCount;
        if (killed.count(s.spid) || (s.interrupted && s.interrupted()))
            stopWaiting(s, info);
        const auto now = Clock::now();
        if (now >= deadline) {
            info.blockedBy = 0;
            info.waitType.clear();
            info.waitObject.clear();
            record.w.timedOut = true;
            timedOut();
        }
        std::unique_lock<std::mutex>* mine = engineLock;
        lockChanged.wait_until(*mine, std::min(deadline, now + kPoll));
        engineLock = mine;
    }
    SessionInfo& info = sessions[s.spid];
    info.blockedBy = 0;
    info.waitType.clear();
}

void Executor::stopWaiting(const Session& s, SessionInfo& info) {
    info.blockedBy = 0;
    info.waitType.clear();
    info.waitObject.clear();
    throw Interrupted{killed.count(s.spid) > 0};
}

void Executor::lockToRead(const Session& s, const std::string& table) {
    if (s.readUncommitted)
        return;
    const std::string key = lower(table);
    sessions[s.spid].waitObject = table;
    waitWhile(
        s,
        [&] {
            auto it = exclusive.find(key);
            return it != exclusive.end() && it->second != s.spid ? it->second : 0;
        },
        "LCK_M_S");
    sessions[s.spid].waitObject.clear();
}

void Executor::lockToWrite(Session& s, const std::string& table) {
    const std::string key = lower(table);
    sessions[s.spid].waitObject = table;
    waitWhile(
        s,
        [&] {
            auto it = exclusive.find(key);
            if (it != exclusive.end() && it->second != s.spid)
                return it->second;
            return txOwner != 0 && txOwner != s.spid ? txOwner : 0;
        },
        "LCK_M_X");
    sessions[s.spid].waitObject.clear();
    exclusive[key] = s.spid;
    beforeWrite(s);
}

void Executor::waitForStore(Session& s) {
    waitWhile(
        s, [&] { return txOwner != 0 && txOwner != s.spid ? txOwner : 0; }, "LCK_M_X");
    beforeWrite(s);
}

void Executor::releaseLocks(int spid) {
    for (auto it = exclusive.begin(); it != exclusive.end();)
        it = it->second == spid ? exclusive.erase(it) : std::next(it);
    lockChanged.notify_all();
}

void Executor::endOfStatement(Session& s) {
    if (s.tranCount > 0)
        return;
    releaseLocks(s.spid);
    sessions[s.spid].usedDatabases.clear();
}

// Every session holds a shared lock on its current database, and on those its statements name
// (DROP DATABASE: "You can't drop a database currently being used. This means locks being held
// for reading or writing by any user."
// https://learn.microsoft.com/en-us/sql/t-sql/statements/drop-database-transact-sql).
std::set<Executor::DatabaseLock> Executor::databaseLocks() {
    std::set<DatabaseLock> out;
    for (const auto& [spid, info] : sessions) {
        out.insert({spid, info.database});
        for (const auto& db : info.usedDatabases)
            out.insert({spid, db});
    }
    for (const auto& f : foreign)
        out.insert({f.spid, f.database});
    return out;
}

// KILL: a session that waits ends its own statement and transaction when it wakes; an idle one is
// rolled back here and its connection closed.
void Executor::kill(const Session& s, int spid) {
    if (spid == s.spid)
        raise({.number = 6104,
               .state = 1,
               .severity = 16,
               .text = "Cannot use KILL to kill your own process."});
    if (endHolder(spid))
        return;
    for (auto f = foreign.begin(); f != foreign.end(); ++f)
        if (f->spid == spid) {
            foreign.erase(f);
            return;
        }
    auto it = sessions.find(spid);
    if (it == sessions.end() || !it->second.live)
        raise({.number = 6106,
               .state = 2,
               .severity = 16,
               .text = "Process ID " + std::to_string(spid) + " is not an active process ID."});
    killed.insert(spid);
    Session* target = it->second.live;
    if (it->second.command.empty()) {
        abandon(*target);
        releaseLocks(spid);
        it->second.usedDatabases.clear();
        if (target->close)
            target->close();
    }
    lockChanged.notify_all();
}

int Executor::holdLock(const std::string& table, const std::string& login, const std::string& host,
                       const std::string& program) {
    auto t = store.findUserTable(table);
    auto db = store.findDatabase(kSystemDb);
    if (!t || !db || exclusive.count(lower(*t)))
        return 0;
    auto h = std::make_unique<Session>();
    h->spid = nextSpid++;
    h->database = db->name;
    h->login = login;
    h->host = host;
    h->program = program;
    h->tranCount = 1;
    h->tranDescriptor = nextDescriptor++;
    remember(*h);
    sessions[h->spid].live = h.get();
    exclusive[lower(*t)] = h->spid;
    const int spid = h->spid;
    holders[spid] = std::move(h);
    return spid;
}

bool Executor::endHolder(int spid) {
    if (!holders.erase(spid))
        return false;
    releaseLocks(spid);
    sessions.erase(spid);
    return true;
}

void Executor::setPercentComplete(int spid, double percent) {
    if (auto it = sessions.find(spid); it != sessions.end())
        it->second.percentComplete = percent;
}

}  // namespace sandbox::sql
