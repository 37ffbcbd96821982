// The engine's public face: installations, sessions, faults and batches, each under the engine's lock.
#include "sandbox/Engine.h"

#include <fstream>
#include <sstream>
#include <thread>

#include "sandbox/sql/Executor.h"

namespace sandbox::seeds {
extern const char* const schemaSql;
extern const char* const demoSql;
}  // namespace sandbox::seeds

namespace sandbox {

struct Engine::Impl : sql::Executor {
    using Executor::Executor;
    // Lock holders that end after a while: one thread each, woken early when the engine closes.
    std::vector<std::thread> timers;
    std::condition_variable timerWake;
    bool closing = false;
};

// A store written before databases had states and hazards gains their columns; each ALTER fails
// harmlessly where the column is there already.
static void addStateColumns(sql::Store& store) {
    for (const char* column :
         {"user_access TEXT NOT NULL DEFAULT 'MULTI_USER'", "source_dbid INTEGER",
          "is_published INTEGER NOT NULL DEFAULT 0", "is_mirrored INTEGER NOT NULL DEFAULT 0",
          "in_ag INTEGER NOT NULL DEFAULT 0", "is_read_only INTEGER NOT NULL DEFAULT 0"})
        store.exec(std::string("ALTER TABLE sandbox_databases ADD COLUMN ") + column);
    store.exec(
        "CREATE TABLE IF NOT EXISTS sandbox_orphaned_files (database_name TEXT NOT NULL, filename TEXT NOT "
        "NULL)");
}

Engine::Engine(const std::string& sqlitePath) : d(std::make_unique<Impl>(sqlitePath)) {
    // A store that has never been seeded still answers as an empty installation.
    try {
        sql::Query q(d->store.handle(),
                     "SELECT count(*) FROM sqlite_master WHERE name = 'sandbox_databases'");
        if (q.step() && q.i(0) == 0)
            d->store.run(seeds::schemaSql);
        addStateColumns(d->store);
    } catch (const sql::StoreFailure& f) {
        d->store.giveUp(f.text);  // a file that is not a store
        d->store.exec(seeds::schemaSql);
    }
    d->store.exec(sql::kHistorySchema);  // a store made before backups were kept
}

void Engine::setProduct(Product p) {
    std::lock_guard lock(m_);
    d->product = std::move(p);
}

Product Engine::product() {
    std::lock_guard lock(m_);
    return d->product;
}

std::string Engine::storeError() const {
    return d->store.openError();
}

Engine::~Engine() {
    {
        std::lock_guard lock(m_);
        d->closing = true;
    }
    d->timerWake.notify_all();
    for (auto& t : d->timers)
        t.join();
}

void Engine::seedEmpty() {
    std::lock_guard lock(m_);
    d->store.exec(seeds::schemaSql);
}

void Engine::seedDemo() {
    std::lock_guard lock(m_);
    d->store.exec(seeds::schemaSql);
    d->store.exec(seeds::demoSql);
}

bool Engine::seedFile(const std::string& path, std::string* error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        if (error)
            *error = "cannot read " + path;
        return false;
    }
    std::stringstream text;
    text << in.rdbuf();
    std::lock_guard lock(m_);
    return d->store.exec(text.str(), error);
}

bool Engine::execRaw(const std::string& sqliteSql, std::string* error) {
    std::lock_guard lock(m_);
    return d->store.exec(sqliteSql, error);
}

std::vector<std::string> Engine::queryRaw(const std::string& sqliteSql) {
    std::lock_guard lock(m_);
    std::vector<std::string> out;
    try {
        sql::Query q(d->store.handle(), sqliteSql);
        while (q.step())
            out.push_back(q.s(0));
    } catch (const sql::StoreFailure&) {
        // what was read before the failure
    }
    return out;
}

void Engine::addDatabase(const std::string& name) {
    std::lock_guard lock(m_);
    if (d->store.findDatabase(name))
        return;
    sql::Query next(d->store.handle(), "SELECT coalesce(max(dbid), 4) + 1 FROM sandbox_databases");
    next.step();
    int64_t dbid = next.i(0);
    std::string file = "C:\\SQLDATA\\MSSQL\\Data\\" + name;
    sql::Query a(d->store.handle(), "INSERT INTO sandbox_databases (dbid, name, filename) VALUES (?, ?, ?)");
    a.bind(1, dbid).bind(2, name).bind(3, file + ".mdf").step();
    sql::Query b(d->store.handle(),
                 "INSERT INTO sandbox_files (dbid, fileid, name, filename, size) VALUES (?, 1, ?, ?, 1280), "
                 "(?, 2, ?, ?, 256)");
    b.bind(1, dbid).bind(2, name + "_Data").bind(3, file + ".mdf");
    b.bind(4, dbid).bind(5, name + "_Log").bind(6, file + "_log.ldf").step();
}

bool Engine::setDatabaseState(const std::string& name, const std::string& state) {
    std::lock_guard lock(m_);
    return d->setDatabaseState(name, state);
}

bool Engine::setDatabaseHazard(const std::string& name, const std::string& hazard) {
    std::lock_guard lock(m_);
    return d->setDatabaseHazard(name, hazard);
}

std::vector<std::string> Engine::orphanedFiles() {
    std::lock_guard lock(m_);
    return d->orphanedFiles();
}

std::vector<std::string> Engine::databases() {
    std::lock_guard lock(m_);
    std::vector<std::string> out;
    for (auto& r : d->store.allDatabases())
        out.push_back(r.name);
    return out;
}

void Engine::dropTable(const std::string& name) {
    std::lock_guard lock(m_);
    if (auto t = d->store.findUserTable(name))
        d->store.exec("DROP TABLE \"" + *t + "\"");
}

std::unique_ptr<Session> Engine::openSession(const std::string& database, const std::string& login,
                                             const std::string& host, const std::string& program) {
    std::lock_guard lock(m_);
    auto s = std::make_unique<Session>();
    s->spid = d->nextSpid++;
    auto db = d->store.findDatabase(database);
    s->database = db ? db->name : database;
    s->login = login;
    s->host = host;
    s->program = program;
    d->remember(*s);
    d->sessions[s->spid].live = s.get();
    return s;
}

bool Engine::databaseExists(const std::string& name) {
    std::lock_guard lock(m_);
    return d->store.findDatabase(name).has_value();
}

void Engine::closeSession(Session& s) {
    std::lock_guard lock(m_);
    d->abandon(s);
    d->releaseLocks(s.spid);
    d->sessions.erase(s.spid);
    d->killed.erase(s.spid);
}

void Engine::addForeignSession(ForeignSession s) {
    std::lock_guard lock(m_);
    if (s.spid == 0)
        s.spid = d->nextForeignSpid++;
    d->foreign.push_back(std::move(s));
}

void Engine::failStatements(const std::string& regex, Message error, int times) {
    std::lock_guard lock(m_);
    d->faults.push_back(
        {std::regex(regex, std::regex::ECMAScript | std::regex::icase), std::move(error), times});
}

void Engine::changeBefore(const std::string& regex, const std::string& sqliteSql) {
    std::lock_guard lock(m_);
    d->changes.push_back({std::regex(regex, std::regex::ECMAScript | std::regex::icase), sqliteSql});
}

int Engine::holdLock(const std::string& table, std::chrono::milliseconds hold, const std::string& login,
                     const std::string& host, const std::string& program) {
    std::lock_guard lock(m_);
    const int spid = d->holdLock(table, login, host, program);
    if (spid == 0 || hold.count() < 0)
        return spid;
    const auto until = std::chrono::steady_clock::now() + hold;
    d->timers.emplace_back([this, spid, until] {
        std::unique_lock timer(m_);
        d->timerWake.wait_until(timer, until, [this] { return d->closing; });
        d->endHolder(spid);
    });
    return spid;
}

void Engine::releaseLock(int spid) {
    std::lock_guard lock(m_);
    d->endHolder(spid);
}

void Engine::setPercentComplete(int spid, double percent) {
    std::lock_guard lock(m_);
    d->setPercentComplete(spid, percent);
}

// A statement that waits for a lock gives up the engine's lock meanwhile (Locks.cpp).
BatchResult Engine::execBatch(Session& s, const std::string& sql) {
    std::unique_lock lock(m_);
    if (d->killed.count(s.spid)) {
        BatchResult killed;
        killed.killed = true;
        return killed;
    }
    d->engineLock = &lock;
    BatchResult out = d->batch(s, sql);
    d->engineLock = nullptr;
    return out;
}

void Engine::setBackupDirectory(const std::string& dir) {
    std::lock_guard lock(m_);
    d->backupDir = dir;
}

std::string Engine::backupDirectory() {
    std::lock_guard lock(m_);
    return d->backupDir;
}

void Engine::setBackupSpeed(double pagesPerSecond) {
    std::lock_guard lock(m_);
    d->backupSpeed = pagesPerSecond;
}

void Engine::cancelRunning(int spid) {
    std::lock_guard lock(m_);
    d->killed.insert(spid);
}

std::vector<std::string> Engine::statementLog() {
    std::lock_guard lock(m_);
    return d->log;
}

bool Engine::setStatementLogFile(const std::string& path) {
    std::lock_guard lock(m_);
    d->logFile.reset();
    if (path.empty())
        return true;
    auto file = std::make_unique<std::ofstream>(path, std::ios::app | std::ios::binary);
    if (!*file)
        return false;
    d->logFile = std::move(file);
    return true;
}

std::vector<LockWait> Engine::lockWaits() {
    std::lock_guard lock(m_);
    return d->lockWaits;
}

void Engine::clearLockWaits() {
    std::lock_guard lock(m_);
    d->lockWaits.clear();
}

void Engine::clearStatementLog() {
    std::lock_guard lock(m_);
    d->log.clear();
}

}  // namespace sandbox
