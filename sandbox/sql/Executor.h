#pragma once
// The engine's state (store, sessions, faults, statement log) and the work on it, one file per concern.

#include <cstdint>
#include <functional>
#include <map>
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

extern const char* const kSystemDb;       // the one database whose tables the store holds
extern const char* const kHistorySchema;  // msdb's backup history in the store (Backup.cpp)

class Executor {
public:
    explicit Executor(const std::string& path) : store(path) {}

    Store store;
    std::vector<std::string> log;
    struct SessionInfo {
        std::string database, login, host, program, loginTime;
        int tranCount = 0;
    };
    std::map<int, SessionInfo> sessions;
    std::vector<ForeignSession> foreign;
    struct Fault {
        std::regex re;
        Message message;
        int remaining;
    };
    std::vector<Fault> faults;
    int nextSpid = 51;
    int nextForeignSpid = 200;
    int txOwner = 0;  // spid whose transaction the store holds open; 0: none
    uint64_t nextDescriptor = 0x100000001ull;

    // BACKUP and RESTORE (Backup.cpp): where a bare file name goes, pages a second (0: no pause),
    // the progress of each session's running one, and those KILL stopped.
    std::string backupDir;
    double backupSpeed = 0;
    std::map<int, double> percentComplete;
    std::map<int, std::string> runningCommand;  // "BACKUP DATABASE", "RESTORE DATABASE"
    std::set<int> cancelled;
    std::mutex* engineLock = nullptr;  // held while a batch runs; let go while a backup waits

    // Batch.cpp
    BatchResult batch(Session& s, const std::string& text);
    void remember(const Session& s);  // what sysprocesses lists for the session

    // Catalog.cpp
    bool isSystemDb(const std::string& db) const;
    std::optional<Resolved> resolve(const std::vector<std::string>& parts, const Session& s);
    Source open(const TableRef& ref, const Session& s);

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
    void restore(const Statement& st, Session& s, Piece& p);
    // Steps through the pages at the set speed, the engine's lock let go between steps; step(f)
    // gets the fraction done. False: cancelled (Attention or KILL).
    bool paced(Session& s, int64_t pages, const std::function<void(double)>& step);
    std::string devicePath(const std::string& device) const;
    BackupImage imageOf(const DbRow& d);
    BackupImage readBackup(const std::string& path, const std::string& verb);
    void checkTarget(const Statement& st, const Session& s, const BackupImage& m, const std::string& target,
                     const std::string& verb);
    void putBack(const BackupImage& m, const std::string& target, const std::string& state);
    void keepHistory(const Statement& st, const Session& s, const BackupImage& m, const std::string& path,
                     size_t size, Piece& p);

    // Transactions.cpp
    // The store holds one transaction at a time: a session's transaction takes it at its first
    // write. Another session that would write meanwhile times out at once rather than wait.
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
    void bindColumn(const Expr& e, const Source* src);
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
};

}  // namespace sandbox::sql
