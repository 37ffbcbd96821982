// The engine's public face: installations, sessions, faults and batches, each under the engine's lock.
#include "sandbox/Engine.h"

#include <fstream>
#include <sstream>

#include "sandbox/sql/Executor.h"

namespace sandbox::seeds {
extern const char* const schemaSql;
extern const char* const demoSql;
}  // namespace sandbox::seeds

namespace sandbox {

struct Engine::Impl : sql::Executor {
    using Executor::Executor;
};

Engine::Engine(const std::string& sqlitePath) : d(std::make_unique<Impl>(sqlitePath)) {
    d->engineLock = &m_;
    // A store that has never been seeded still answers as an empty installation.
    try {
        sql::Query q(d->store.handle(),
                     "SELECT count(*) FROM sqlite_master WHERE name = 'sandbox_databases'");
        if (q.step() && q.i(0) == 0)
            d->store.run(seeds::schemaSql);
    } catch (const sql::StoreFailure& f) {
        d->store.giveUp(f.text);  // a file that is not a store
        d->store.exec(seeds::schemaSql);
    }
    d->store.exec(sql::kHistorySchema);  // a store made before backups were kept
}

std::string Engine::storeError() const {
    return d->store.openError();
}

Engine::~Engine() = default;

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

void Engine::setDatabaseState(const std::string& name, const std::string& state) {
    std::lock_guard lock(m_);
    auto db = d->store.findDatabase(name);
    if (!db)
        return;
    sql::Query q(d->store.handle(), "UPDATE sandbox_databases SET state = ? WHERE dbid = ?");
    q.bind(1, state).bind(2, db->dbid).step();
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
    return s;
}

bool Engine::databaseExists(const std::string& name) {
    std::lock_guard lock(m_);
    return d->store.findDatabase(name).has_value();
}

void Engine::closeSession(Session& s) {
    std::lock_guard lock(m_);
    d->abandon(s);
    d->sessions.erase(s.spid);
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

BatchResult Engine::execBatch(Session& s, const std::string& sql) {
    std::lock_guard lock(m_);
    return d->batch(s, sql);
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
    d->cancelled.insert(spid);
}

std::vector<std::string> Engine::statementLog() {
    std::lock_guard lock(m_);
    return d->log;
}

void Engine::clearStatementLog() {
    std::lock_guard lock(m_);
    d->log.clear();
}

}  // namespace sandbox
