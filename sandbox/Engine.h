#pragma once
// The engine: an accounting installation in SQLite answering one batch at a time as SQL Server would.

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace sandbox {

enum class ColType { Int, SmallInt, BigInt, NVarChar, Bit, Float, DateTime, VarBinary };

struct Column {
    std::string name;
    ColType type = ColType::NVarChar;
    int maxChars = 255;  // for NVarChar; bytes for VarBinary
    bool nullable = true;
    bool identity = false;  // a table's column declared "int identity"
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
    // Asked by a long statement (BACKUP, RESTORE) as it runs: true stops it. The protocol side
    // answers whether an Attention waits.
    std::function<bool()> cancelRequested;
    int lastError = 0;  // @@ERROR
};

// A session that is not a real connection, listed in sysprocesses as using a database.
struct ForeignSession {
    int spid = 0;
    std::string database;
    std::string login;
    std::string host;
    std::string program;
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
    // What DATABASEPROPERTYEX(name, 'Status') answers: ONLINE, OFFLINE, RESTORING, ...
    void setDatabaseState(const std::string& name, const std::string& state);
    std::vector<std::string> databases();
    void dropTable(const std::string& name);  // fault: an installation without this table

    // Sessions.
    // The session's login, host and program are what sysprocesses lists; a batch refreshes them
    // from the Session, so the protocol side may also fill them in after opening.
    std::unique_ptr<Session> openSession(const std::string& database, const std::string& login = "sa",
                                         const std::string& host = {}, const std::string& program = {});
    bool databaseExists(const std::string& name);
    void closeSession(Session& s);  // rolls back an open transaction
    void addForeignSession(ForeignSession s);

    // Faults: a statement that matches this ECMAScript regex (case-insensitive, the whole text of
    // one statement of a batch, without its ";") fails with this message instead of running;
    // times < 0 for every time. A failed statement counts as a runtime error: under XACT_ABORT ON
    // it rolls the transaction back and ends the batch.
    void failStatements(const std::string& regex, Message error, int times = -1);

    // One SQL batch (the text already decoded to UTF-8). A batch that holds no statement gives one
    // empty Piece. A USE that succeeds carries the informational message 5701.
    BatchResult execBatch(Session& s, const std::string& sql);

    // BACKUP and RESTORE: the server's default backup directory (what BackupDirectory and
    // InstanceDefaultBackupPath report, and where a device without a directory goes), and the
    // pages a second they process (0: as fast as they go) so that progress and cancel can be seen.
    void setBackupDirectory(const std::string& dir);
    std::string backupDirectory();
    void setBackupSpeed(double pagesPerSecond);
    // Stops the session's running BACKUP or RESTORE, as KILL does.
    void cancelRunning(int spid);

    // Every batch text received, in order.
    std::vector<std::string> statementLog();
    void clearStatementLog();

private:
    struct Impl;
    std::unique_ptr<Impl> d;
    std::mutex m_;
};

}  // namespace sandbox
