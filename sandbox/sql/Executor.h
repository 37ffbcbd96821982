#pragma once
// The engine's state (store, sessions, faults, statement log) and the work on it, one file per concern.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "sandbox/Engine.h"
#include "sandbox/sql/Ast.h"
#include "sandbox/sql/BackupFile.h"
#include "sandbox/sql/Catalog.h"
#include "sandbox/sql/Errors.h"
#include "sandbox/sql/Store.h"
#include "sandbox/sql/Value.h"

namespace sandbox::sql {

class Executor;
extern const char* const kSystemDb;       // the one database whose tables the store holds
extern const char* const kHistorySchema;  // msdb's backup history in the store (Backup.cpp)

// sys.databases' codes of a state (0 ONLINE ... 6 OFFLINE) and of a user access; -1 for another word.
int stateCode(const std::string& state);
int userAccessCode(const std::string& access);
// sysdatabases.status: the stored bits with those of the state and user access set.
int64_t legacyStatus(const DbRow& d);
// The catalogue views of databases' states and hazards (Databases.cpp), rows of the table of views.
void sysDatabasesView(Executor& x, Source& src, const Session& self, const std::string& database);
void sysDatabaseRecoveryStatus(Executor& x, Source& src, const Session& self, const std::string& database);
void sysDatabaseMirroringView(Executor& x, Source& src, const Session& self, const std::string& database);

// An error inside TRY, on its way to the CATCH block.
struct Caught {
    SqlError e;
};

class Executor {
public:
    explicit Executor(const std::string& path) : store(path) {}

    Store store;
    std::vector<std::string> log;
    std::unique_ptr<std::ofstream> logFile;
    std::vector<LockWait> lockWaits;
    struct SessionInfo {
        std::string database, login, host, program, loginTime;
        int tranCount = 0;
        Session* live = nullptr;  // null for a session already closed
        // The running statement (dm_exec_requests): its command, and while it waits for a lock,
        // who holds it, the wait type and since when.
        std::string command;
        int blockedBy = 0;
        std::string waitType;
        std::chrono::steady_clock::time_point waitSince;
        double percentComplete = 0;  // set by long statements through setPercentComplete
        std::string waitObject;      // the table it waits for
        // Databases its statements named by three-part names: a shared DATABASE lock on each,
        // for the statement or, inside a transaction, until the transaction ends.
        std::set<std::string> usedDatabases;
    };
    // A shared DATABASE lock: the session's current database, or one it names.
    struct DatabaseLock {
        int spid;
        std::string database;
        bool operator<(const DatabaseLock& o) const {
            return spid != o.spid ? spid < o.spid : database < o.database;
        }
    };
    std::map<int, SessionInfo> sessions;
    std::vector<ForeignSession> foreign;
    struct Fault {
        std::regex re;
        Message message;
        int remaining;
    };
    std::vector<Fault> faults;
    struct Change {
        std::regex re;
        std::string sqlite;  // run once, before the first statement that matches
    };
    std::vector<Change> changes;
    int nextSpid = 51;
    int nextForeignSpid = 200;
    int txOwner = 0;  // spid whose transaction the store holds open; 0: none
    // Locks (Locks.cpp): exclusive table locks by table (lower case) and holder; a waiting
    // statement releases the engine's lock through engineLock and sleeps on lockChanged.
    std::map<std::string, int> exclusive;
    std::condition_variable lockChanged;
    std::unique_lock<std::mutex>* engineLock = nullptr;
    std::set<int> killed;
    std::map<int, std::unique_ptr<Session>> holders;  // the server's own lock-holding sessions
    uint64_t nextDescriptor = 0x100000001ull;
    Product product;  // the release answered as

    // BACKUP and RESTORE (Backup.cpp): where a bare file name goes, pages a second (0: no pause).
    std::string backupDir;
    double backupSpeed = 0;

    // Batch.cpp
    BatchResult batch(Session& s, const std::string& text);
    void remember(const Session& s);  // what sysprocesses lists for the session

    // Catalog.cpp
    bool isSystemDb(const std::string& db) const;
    std::optional<Resolved> resolve(const std::vector<std::string>& parts, const Session& s);
    Source open(const TableRef& ref, const Session& s);
    Source openToWrite(const TableRef& ref, Session& s);
    Source openJoined(const Statement& st, const Session& s);  // Join.cpp

    // Binder.cpp
    void bind(const Expr& e, const Source* src, bool aggregatesAllowed, bool insideAggregate);
    Column typeOf(const Expr& e, const Source* src);
    const Expr* bareColumn(const Expr& e);  // a column outside any aggregate

    // Eval.cpp
    struct Ctx {
        const Session* s = nullptr;
        const Source* src = nullptr;
        const std::vector<Value>* row = nullptr;
        const std::vector<size_t>* group = nullptr;  // rows of the aggregate
    };
    Cell eval(const Expr& e, const Ctx& c);

    // Functions.cpp
    Cell function(const Expr& e, const Ctx& c);

    // Select.cpp
    // The rows of the source that pass the condition, in the source's order. A table's rows come
    // from the store here, and only those that pass are kept in the source.
    std::vector<size_t> filter(Source& src, const Expr* where, const Session& s);
    // compileOnly: bind the statement and stop, for the check of a whole batch before it runs.
    void select(const Statement& st, Session& s, Piece& p, bool compileOnly = false);

    // Statements.cpp
    void remove(const Statement& st, Session& s, Piece& p, bool compileOnly = false);
    void dropDatabase(const Statement& st, Session& s);
    void use(const Statement& st, Session& s, Piece& p, BatchResult& out);
    void set(const Statement& st, Session& s, Piece& p);
    void execProc(const Statement& st, Piece& p);
    void instanceRegRead(const Statement& st, Piece& p);

    // Insert.cpp
    void insert(const Statement& st, Session& s, Piece& p, bool compileOnly = false);
    void identityInsert(const Statement& st, Session& s);

    // Backup.cpp, Restore.cpp
    void backup(const Statement& st, Session& s, Piece& p);
    void refuseUnreadable(const DbRow& d, const std::string& verb);  // BACKUP outside ONLINE
    void restore(const Statement& st, Session& s, Piece& p);
    // Steps through the pages at the set speed, the engine's lock let go between steps; step(f)
    // gets the fraction done. False: cancelled (Attention or KILL).
    bool paced(Session& s, int64_t pages, const std::function<void(double)>& step);
    std::string devicePath(const std::string& device) const;
    BackupImage imageOf(const DbRow& d);
    BackupImage readBackup(const std::string& path, const std::string& verb);
    void checkTarget(const Statement& st, const Session& s, const BackupImage& m, const std::string& target,
                     const std::string& verb);
    int64_t putBack(const BackupImage& m, const std::string& target, const std::string& state);  // its dbid
    void checkPosition(const Statement& st, const std::string& path, const std::string& verb);   // FILE = n
    // RESTORE HEADERONLY and FILELISTONLY (BackupLists.cpp): the backup set's header, its files.
    void listBackup(const Statement& st, const Session& s, const BackupImage& m, Piece& p);
    // Files a dropped OFFLINE database left on disk are overwritten only WITH REPLACE (3142).
    void refuseLeftFiles(const Statement& st, const BackupImage& m, const std::string& verb);
    void keepHistory(const Session& s, const BackupImage& m, const std::string& path, size_t size, Piece& p);
    void lockTimeout(const Statement& st, Session& s);

    // Locks.cpp
    // Before a read of a user table: waits while another session holds it exclusively (READ
    // COMMITTED), unless the session reads uncommitted.
    void lockToRead(const Session& s, const std::string& table);
    // Before a write: waits for the table and for the store's one transaction, then holds the
    // table exclusively until the transaction ends (the statement, without one).
    void lockToWrite(Session& s, const std::string& table);
    void waitForStore(Session& s);  // the store's transaction is free or this session's
    void releaseLocks(int spid);
    void endOfStatement(Session& s);  // outside a transaction, its locks go with the statement
    std::set<DatabaseLock> databaseLocks();
    void kill(const Session& s, int spid);
    int holdLock(const std::string& table, const std::string& login, const std::string& host,
                 const std::string& program);
    bool endHolder(int spid);  // false: no such holder
    void setPercentComplete(int spid, double percent);

    // Databases.cpp
    void refuseHazards(const DbRow& d);                // 3709, 3724, 3743, 3752
    void removeDatabase(const DbRow& d);               // an OFFLINE one leaves its files on disk
    void checkOpen(const DbRow& d, const Session& s);  // what USE meets in each state
    bool setDatabaseState(const std::string& name, const std::string& word);  // a state or a user access
    bool setDatabaseHazard(const std::string& name, const std::string& hazard);
    std::vector<std::string> orphanedFiles();

    // Flow.cpp
    static bool isCompound(const Statement& st);                 // IF, BEGIN ... END, TRY ... CATCH
    static bool skipped(const Statement& st, const Session& s);  // SET NOEXEC ON
    bool body(const std::vector<Statement>& list, Session& s, BatchResult& out);
    bool compound(const Statement& st, Session& s, BatchResult& out);
    void print(const Statement& st, Session& s, Piece& p);
    void raiseError(const Statement& st, Session& s, Piece& p);
    Cell subquery(const Expr& e, const Ctx& c);
    Cell binaryChecksum(const Expr& e, const Ctx& c);
    void alterDatabase(const Statement& st, Session& s);

    // Transactions.cpp
    // The store holds one transaction at a time: a session's transaction takes it at its first
    // write (after waiting for it in lockToWrite).
    void beforeWrite(Session& s);
    void begin(Session& s, Piece& p);
    void commit(Session& s, Piece& p);
    void rollback(Session& s, Piece& p);
    void abandon(Session& s);  // rolls back the session's transaction, whatever its nesting
    SqlError storeError(const StoreFailure& f, const Statement& st, const Session& s);

private:
    void loadTable(Source& src);
    std::vector<size_t> insertTargets(const Statement& st, const Source& src);
    void checkIdentity(const Statement& st, const Source& src, const std::vector<size_t>& target,
                       const Session& s);
    void writeRows(const Statement& st, const Source& src, const std::vector<size_t>& target, Session& s);
    void waitWhile(const Session& s, const std::function<int()>& blocker, const char* waitType);
    [[noreturn]] void stopWaiting(const Session& s, SessionInfo& info);
    void bindColumn(const Expr& e, const Source* src);
    void bindJoinedColumn(const Expr& e, const Source& src, const std::string& written);
    void join(Source& src, const Session& s);
    void bindFunction(const Expr& e, const Source* src, bool aggregatesAllowed, bool insideAggregate);
    Cell arith(const Expr& e, const Ctx& c);
    Cell logic(const Expr& e, const Ctx& c);
    Cell predicate(const Expr& e, const Ctx& c);
    Cell like(const Expr& e, const Ctx& c);
    Cell inList(const Expr& e, const Ctx& c);
    Cell aggregate(const Expr& e, const Ctx& c);
    void checkFaults(const Statement& st);
    bool compile(const std::vector<Statement>& statements, Session& s, BatchResult& out);
    void commitStore(Session& s);
    bool failed(const SqlError& e, const Statement& st, Session& s, Piece& p);
    void run(const Statement& st, Session& s, Piece& p, BatchResult& out);
    bool statement(const Statement& st, Session& s, Piece& p, BatchResult& out);
    void interrupted(const Interrupted& i, Session& s, BatchResult& out);
};

}  // namespace sandbox::sql
