#pragma once
// The engine: an accounting installation in SQLite answering one batch at a time as SQL Server would.

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace sandbox {

// Decimal: decimal, numeric, money and smallmoney, exact: its Value is the number's text at the column's
// scale ("12.50", "-0.5000"), never a double.
enum class ColType { Int, SmallInt, BigInt, NVarChar, Bit, Float, DateTime, VarBinary, Decimal };

struct Column {
    std::string name;
    ColType type = ColType::NVarChar;
    int maxChars = 255;  // for NVarChar; bytes for VarBinary
    bool nullable = true;
    bool variant = false;  // sql_variant, its values of base type `type` (DATABASEPROPERTYEX, SERVERPROPERTY)
    bool identity = false;         // a table's column declared "int identity"
    int precision = 0, scale = 0;  // Decimal
    bool money = false;            // Decimal: money (precision 19) or smallmoney (10), sent as such
    // A type the engine holds as another, sent as the server declares it: a SmallInt as tinyint, an
    // NVarChar holding a GUID's text as uniqueidentifier, or an NVarChar as char(maxChars).
    enum class Wire { Natural, TinyInt, Guid, Char };
    Wire wire = Wire::Natural;
};

struct Value {
    bool null = true;
    int64_t i = 0;     // Int, SmallInt, BigInt, Bit
    double f = 0;      // Float
    std::string text;  // NVarChar (UTF-8); DateTime as ISO text; VarBinary as its bytes
    static Value ofNull() { return {}; }
    static Value ofInt(int64_t v) {
        Value x;
        x.null = false;
        x.i = v;
        return x;
    }
    static Value ofText(std::string v) {
        Value x;
        x.null = false;
        x.text = std::move(v);
        return x;
    }
};

struct ResultSet {
    std::vector<Column> columns;
    std::vector<std::vector<Value>> rows;
};

// An ERROR (severity > 10) or INFO token, with SQL Server's own number, state and severity. Built
// with designated initialisers ({.number = 208, .state = 1, .severity = 16, .text = ...}) so that
// state and severity cannot swap.
struct Message {
    int number = 0;
    int state = 1;
    int severity = 16;
    std::string text;  // UTF-8
    int line = 1;
};

enum class TranChange { None, Begin, Commit, Rollback };

// What one statement of the batch produced, in order. The protocol side sends, per piece:
// the result set (if any), then messages, then the environment change (if any), then DONE
// (with the row count when rowCount >= 0, the error flag when a message has severity > 10).
struct Piece {
    std::optional<ResultSet> result;
    int64_t rowCount = -1;
    std::vector<Message> messages;
    TranChange tran = TranChange::None;
    uint64_t tranDescriptor = 0;  // Begin: the new transaction; Commit/Rollback: the one that ended
};

struct BatchResult {
    std::vector<Piece> pieces;
    bool useDatabaseChanged = false;  // a USE changed the session's database
    std::string database;             // the session's database after the batch
    bool cancelled = false;           // an ATTENTION stopped it: answer with its acknowledgement
    bool killed = false;              // a KILL from another session ended it: close the connection
};

// One client connection's state inside the engine.
struct Session {
    int spid = 0;
    std::string login = "sa";
    std::string host;
    std::string program;
    std::string database = "TQSystem";
    bool xactAbort = false;
    uint64_t tranDescriptor = 0;  // 0: no open transaction
    int tranCount = 0;            // @@TRANCOUNT
    bool noCount = false;         // SET NOCOUNT ON: DONE carries no row count
    bool implicitTransactions = false;
    std::string identityInsert;  // the table SET IDENTITY_INSERT is ON for (one per session)
    int64_t lastRowCount = 0;    // @@ROWCOUNT
    int lastError = 0;           // @@ERROR
    int lockTimeoutMs = -1;      // SET LOCK_TIMEOUT: -1 waits for ever, 0 does not wait
    bool readUncommitted = false;
    bool noExec = false;          // SET NOEXEC ON: batches are compiled, not run
    int tryDepth = 0;             // inside TRY blocks: an error goes to the CATCH block
    std::vector<Message> caught;  // the errors CATCH blocks handle, innermost last (ERROR_MESSAGE())
    // Filled in by the protocol side. interrupted: polled by a statement waiting for a lock, true
    // once the client sent an ATTENTION or left. close: ends the connection (KILL of an idle session).
    std::function<bool()> interrupted;
    std::function<void()> close;
};

// One wait of a statement for a lock another session held, from its start to its end.
struct LockWait {
    int spid = 0;
    std::string object;     // the table (or the store, for a writer) it waited for
    int64_t waitedMs = 0;   // until it ended
    bool timedOut = false;  // ended by its LOCK_TIMEOUT (1222)
};

// A session that is not a real connection, listed in sysprocesses as using a database.
struct ForeignSession {
    int spid = 0;
    std::string database;
    std::string login;
    std::string host;
    std::string program;
};

// The release the engine answers as, in @@VERSION, SERVERPROPERTY and a database's version number.
struct Product {
    std::string version = "15.0.2000.5";  // SERVERPROPERTY('ProductVersion')
    std::string level = "RTM";            // SERVERPROPERTY('ProductLevel')
    std::string edition = "Standard Edition (64-bit)";
    std::string versionText =  // @@VERSION
        "Microsoft SQL Server 2019 (RTM) - 15.0.2000.5 (X64) \n\tSep 24 2019 13:48:23 \n\tCopyright (C) 2019 "
        "Microsoft Corporation\n\tStandard Edition (64-bit) on Windows Server 2019 Standard 10.0 <X64> "
        "(Build "
        "17763: )\n";
    int databaseVersion = 904;  // DATABASEPROPERTYEX(name, 'Version'), sysdatabases.version
    int major() const { return std::atoi(version.c_str()); }  // 10 for 2008 R2, 15 for 2019
};

class Engine {
public:
    // path ":memory:" for tests; a file path for a standalone server that should keep its data.
    explicit Engine(const std::string& sqlitePath = ":memory:");
    ~Engine();
    // Why the store at the given path could not be opened (the engine then keeps its data in
    // memory); empty when it opened.
    std::string storeError() const;

    // Installations.
    void seedDemo();   // the demo installation
    void seedEmpty();  // the catalogue tables with no rows
    bool seedFile(const std::string& path, std::string* error = nullptr);  // SQLite SQL script
    // Runs SQLite SQL directly against the store (seeding and inspection by tests).
    bool execRaw(const std::string& sqliteSql, std::string* error = nullptr);
    // First column of every row of a SQLite query, as text ("" for Null).
    std::vector<std::string> queryRaw(const std::string& sqliteSql);
    void addDatabase(const std::string& name);
    // A database's state (ONLINE, OFFLINE, RESTORING, RECOVERING, RECOVERY_PENDING, SUSPECT,
    // EMERGENCY) or its user access (MULTI_USER, SINGLE_USER, RESTRICTED_USER), as sys.databases and
    // DATABASEPROPERTYEX report it. False for an unknown database or word.
    bool setDatabaseState(const std::string& name, const std::string& state);
    // A hazard that makes DROP DATABASE refuse it: "snapshot" (adds the database snapshot
    // snap_<name> of it: 3709), "published" (3724), "mirrored" (3743), "ag" (3752).
    bool setDatabaseHazard(const std::string& name, const std::string& hazard);
    // The files DROP DATABASE left on the server's disk (those of a database dropped while OFFLINE).
    std::vector<std::string> orphanedFiles();
    std::vector<std::string> databases();
    void dropTable(const std::string& name);  // fault: an installation without this table
    void setProduct(Product p);
    Product product();

    // Sessions.
    // The session's login, host and program are what sysprocesses lists; a batch refreshes them
    // from the Session, so the protocol side may also fill them in after opening.
    std::unique_ptr<Session> openSession(const std::string& database, const std::string& login = "sa",
                                         const std::string& host = {}, const std::string& program = {});
    bool databaseExists(const std::string& name);
    void closeSession(Session& s);  // rolls back an open transaction
    void addForeignSession(ForeignSession s);
    // A session of the server's own that opens a transaction and holds an exclusive lock on a
    // table of the installation, as another program's open transaction would; it lists in
    // sysprocesses and the dm views under these names. Ends after hold (negative: when killed or
    // released). Returns its spid, or 0 when the table does not exist.
    int holdLock(const std::string& table, std::chrono::milliseconds hold = std::chrono::milliseconds(-1),
                 const std::string& login = "sa", const std::string& host = "SANDBOX-HOLDER",
                 const std::string& program = "acctset-sandbox lock holder");
    void releaseLock(int spid);  // commits a holder's transaction, as if it ended by itself
    // What sys.dm_exec_requests.percent_complete shows for the session's running statement.
    void setPercentComplete(int spid, double percent);

    // Faults: a statement that matches this ECMAScript regex (case-insensitive, the whole text of
    // one statement of a batch, without its ";") fails with this message instead of running;
    // times < 0 for every time. A failed statement counts as a runtime error: under XACT_ABORT ON
    // it rolls the transaction back and ends the batch.
    void failStatements(const std::string& regex, Message error, int times = -1);
    // Another program's write at a chosen moment: before the first statement that matches the
    // regex (as above) runs, the SQLite text changes the store, outside any transaction of a session.
    void changeBefore(const std::string& regex, const std::string& sqliteSql);

    // One SQL batch (the text already decoded to UTF-8). A batch that holds no statement gives one
    // empty Piece. A USE that succeeds carries the informational message 5701.
    BatchResult execBatch(Session& s, const std::string& sql);

    // BACKUP and RESTORE: the server's default backup directory (what BackupDirectory and
    // InstanceDefaultBackupPath report, and where a device without a directory goes), and the
    // pages a second they process (0: as fast as they go) so that progress and cancel can be seen.
    void setBackupDirectory(const std::string& dir);
    std::string backupDirectory();
    void setBackupSpeed(double pagesPerSecond);
    // Stops the session's running BACKUP or RESTORE as KILL does (the batch ends killed).
    void cancelRunning(int spid);

    // Every batch text received, in order.
    std::vector<std::string> statementLog();
    // Every lock wait that has ended, in the order they began (since the last clear).
    std::vector<LockWait> lockWaits();
    void clearLockWaits();
    // Also appends each batch to this file, followed by a line "go" (as tsql reads it); empty:
    // no longer. False when the file cannot be opened.
    bool setStatementLogFile(const std::string& path);
    void clearStatementLog();

private:
    struct Impl;
    std::unique_ptr<Impl> d;
    std::mutex m_;
};

}  // namespace sandbox
