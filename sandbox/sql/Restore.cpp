// RESTORE VERIFYONLY, HEADERONLY, FILELISTONLY and RESTORE DATABASE from a file BACKUP DATABASE wrote.
#include "sandbox/sql/Executor.h"

#include <cerrno>
#include <chrono>
#include <fstream>
#include <sstream>

#include "sandbox/sql/Backups.h"
#include "sandbox/sql/Collation.h"
#include "sandbox/sql/Parse.h"

// https://learn.microsoft.com/en-us/sql/relational-databases/backup-restore/restart-an-interrupted-restore-operation-transact-sql
// Numbers and texts (3013, 3014, 3021, 3101, 3154, 3159, 3189, 3201, 3241, 3262, 4038):
// https://learn.microsoft.com/en-us/sql/relational-databases/errors-events/database-engine-events-and-errors-3000-to-3999
// RESTORE VERIFYONLY:
// https://learn.microsoft.com/en-us/sql/t-sql/statements/restore-statements-verifyonly-transact-sql

namespace sandbox::sql {

namespace {

bool hasOption(const Statement& st, const char* option) {
    for (const auto& w : st.with)
        if (w == option)
            return true;
    return false;
}

// What 3013 calls the statement: VERIFYONLY is "VERIFY DATABASE" there, the others by their words.
std::string verbOf(const Statement& st) {
    if (st.option == "VERIFYONLY")
        return "VERIFY DATABASE";
    return "RESTORE " + st.option;
}

}  // namespace

// The backup in the file, or the errors the server gives for a file it cannot use.
BackupImage Executor::readBackup(const std::string& path, const std::string& verb) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        int err = errno;
        throw abnormal({.number = 3201,
                        .state = 2,
                        .severity = 16,
                        .text = "Cannot open backup device '" + path + "'. Operating system error " +
                                (err == ENOENT ? std::string("2(The system cannot find the file specified.)")
                                               : osErrorText(err)) +
                                "."},
                       verb);
    }
    std::stringstream bytes;
    bytes << in.rdbuf();
    BackupImage m;
    BackupRead r = decodeBackup(bytes.str(), &m);
    if (r == BackupRead::NotABackup)
        throw abnormal({.number = 3241,
                        .state = 0,
                        .severity = 16,
                        .text = "The media family on device '" + path +
                                "' is incorrectly formed. SQL Server cannot process this media family."},
                       verb);
    if (r == BackupRead::Damaged)
        throw abnormal(
            {.number = 3189, .state = 1, .severity = 16, .text = "Damage to the backup set was detected."},
            verb);
    m.fileBytes = static_cast<int64_t>(bytes.str().size());
    return m;
}

// WITH FILE = n names the backup set by its position on the medium; ours hold one (4038).
void Executor::checkPosition(const Statement& st, const std::string& path, const std::string& verb) {
    for (const auto& w : st.with) {
        if (w.rfind("FILE=", 0) != 0 || w == "FILE=1")
            continue;
        throw abnormal({.number = 4038,
                        .state = 1,
                        .severity = 16,
                        .text = "Cannot find file ID " + w.substr(5) + " on device '" + path + "'."},
                       verb);
    }
}

void Executor::restore(const Statement& st, Session& s, Piece& p) {
    const std::string verb = verbOf(st);
    sessions[s.spid].command = "RESTORE " + st.option;
    const std::string path = devicePath(st.device);
    // "RESTORE is not allowed in an explicit or implicit transaction" (RESTORE, Remarks) is said of
    // restoring; HEADERONLY and FILELISTONLY only read the file, and a server answers them inside
    // one (INSERT ... EXEC of them, which runs in the INSERT's transaction, is the usual way to keep
    // their rows).
    const bool listing = st.option == "HEADERONLY" || st.option == "FILELISTONLY";
    if (!listing)
        outsideTransaction(s, verb);
    BackupImage m = readBackup(path, verb);
    checkPosition(st, path, verb);
    if (listing) {
        listBackup(st, s, m, p);
        return;
    }
    if (st.option == "VERIFYONLY") {
        p.messages.push_back(
            {.number = 3262, .state = 1, .severity = 10, .text = "The backup set on file 1 is valid."});
        return;
    }
    const std::string target = st.names[0];
    checkTarget(st, s, m, target, verb);
    refuseLeftFiles(st, m, verb);
    const auto t0 = std::chrono::steady_clock::now();
    // As on a server, the database exists in the RESTORING state from the moment its files are laid
    // out until it is recovered: a restore stopped part-way (Attention or KILL) leaves it so, not
    // usable (927) until it is dropped or restored again ("Restart an Interrupted Restore Operation":
    // the same RESTORE again, WITH RESTART or not, starts it over; there is no resuming it). Its
    // DATABASE lock keeps others out meanwhile.
    sessions[s.spid].usedDatabases.insert(target);
    waitForStore(s);
    int64_t dbid = 0;
    {
        StatementScope scope(store);
        dbid = putBack(m, target, "RESTORING");
        for (const auto& f : m.files) {
            Query gone(store.handle(), "DELETE FROM sandbox_orphaned_files WHERE filename = ?");
            gone.bind(1, f.filename).step();
        }
        scope.release();
    }
    if (!paced(s, m.pages(), [](double) {}))
        throw Interrupted{killed.count(s.spid) > 0};
    if (!hasOption(st, "NORECOVERY")) {
        waitForStore(s);  // paced let go of the engine: another session may have begun writing
        Query online(store.handle(), "UPDATE sandbox_databases SET state = 'ONLINE' WHERE dbid = ?");
        online.bind(1, dbid).step();
    }
    for (const auto& f : m.files)
        p.messages.push_back(filePages(target, f));
    p.messages.push_back(processed(
        verb, m.pages(), std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count()));
}

// A database of that name is only overwritten WITH REPLACE, and never while it is in use.
void Executor::checkTarget(const Statement& st, const Session& s, const BackupImage& m,
                           const std::string& target, const std::string& verb) {
    auto existing = store.findDatabase(target);
    if (!existing)
        return;
    if (existing->dbid <= 4 || isSystemDb(existing->name))
        throw abnormal({.number = 3101,
                        .state = 1,
                        .severity = 16,
                        .text = "Exclusive access could not be obtained because the database is in use."},
                       verb);
    bool inUse = false;
    for (const auto& lock : databaseLocks())
        inUse = inUse || (lock.spid != s.spid && compareText(lock.database, existing->name) == 0);
    if (inUse || sameName(s.database, existing->name))
        throw abnormal({.number = 3101,
                        .state = 1,
                        .severity = 16,
                        .text = "Exclusive access could not be obtained because the database is in use."},
                       verb);
    if (hasOption(st, "REPLACE"))
        return;
    // The tail of the log is asked for only where there is a log to back up (RESTORE Arguments,
    // DATABASE): a database left RESTORING has none, and a backup of it completes the restore.
    const bool sameDatabase = sameName(m.db.name, existing->name);
    if (existing->state == "RESTORING" && sameDatabase)
        return;
    if (!sameDatabase)
        throw abnormal({.number = 3154,
                        .state = 4,
                        .severity = 16,
                        .text = "The backup set holds a backup of a database other than the existing '" +
                                existing->name + "' database."},
                       verb);
    throw abnormal(
        {.number = 3159,
         .state = 1,
         .severity = 16,
         .text = "The tail of the log for the database \"" + existing->name +
                 "\" has not been backed up. Use BACKUP LOG WITH NORECOVERY to backup the log if it "
                 "contains work you do not want to lose. Use the WITH REPLACE or WITH STOPAT clause "
                 "of the RESTORE statement to just overwrite the contents of the log."},
        verb);
}

// 3142 and 3119:
// https://learn.microsoft.com/en-us/sql/relational-databases/errors-events/database-engine-events-and-errors-3000-to-3999
void Executor::refuseLeftFiles(const Statement& st, const BackupImage& m, const std::string& verb) {
    if (hasOption(st, "REPLACE"))
        return;
    for (const auto& f : m.files) {
        Query q(store.handle(), "SELECT 1 FROM sandbox_orphaned_files WHERE filename = ?");
        q.bind(1, f.filename);
        if (!q.step())
            continue;
        SqlError e =
            abnormal({.number = 3142,
                      .state = 1,
                      .severity = 16,
                      .text = "File \"" + f.name + "\" cannot be restored over the existing \"" + f.filename +
                              "\". Reissue the RESTORE statement using WITH REPLACE to overwrite "
                              "pre-existing files, or WITH MOVE to identify an alternate file "
                              "location."},
                     verb);
        e.more.insert(e.more.begin(),
                      {.number = 3119,
                       .state = 1,
                       .severity = 16,
                       .text = "Problems were identified while planning for the RESTORE statement. Previous "
                               "messages provide details."});
        throw e;
    }
}

// The database's rows as the backup holds them, under the name restored to; its old id when free.
int64_t Executor::putBack(const BackupImage& m, const std::string& target, const std::string& state) {
    if (auto old = store.findDatabase(target)) {
        Query a(store.handle(), "DELETE FROM sandbox_files WHERE dbid = ?");
        a.bind(1, old->dbid).step();
        Query b(store.handle(), "DELETE FROM sandbox_databases WHERE dbid = ?");
        b.bind(1, old->dbid).step();
    }
    int64_t dbid = m.db.dbid;
    if (store.findDatabase(dbid)) {
        Query next(store.handle(), "SELECT coalesce(max(dbid), 4) + 1 FROM sandbox_databases");
        next.step();
        dbid = next.i(0);
    }
    Query d(store.handle(),
            "INSERT INTO sandbox_databases (dbid, name, status, crdate, cmptlevel, filename, state) VALUES "
            "(?, ?, ?, "
            "?, ?, ?, ?)");
    d.bind(1, dbid).bind(2, target).bind(3, m.db.status).bind(4, m.db.crdate).bind(5, m.db.cmptlevel);
    d.bind(6, m.db.filename).bind(7, state).step();
    Query f(store.handle(),
            "INSERT INTO sandbox_files (dbid, fileid, name, filename, size) VALUES (?, ?, ?, ?, ?)");
    for (const auto& file : m.files) {
        f.reset();
        f.bind(1, dbid)
            .bind(2, file.fileid)
            .bind(3, file.name)
            .bind(4, file.filename)
            .bind(5, file.size)
            .step();
    }
    return dbid;
}

}  // namespace sandbox::sql
