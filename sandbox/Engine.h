#pragma once
// The sandbox's SQL side: keeps an accounting installation in SQLite and answers the statements of
// one batch the way SQL Server would. Knows nothing of TDS; the protocol side turns what it returns
// into tokens.

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace sandbox {

enum class ColType { Int, SmallInt, BigInt, NVarChar, Bit, Float, DateTime };

struct Column {
    std::string name;
    ColType type = ColType::NVarChar;
    int maxChars = 255;  // for NVarChar
    bool nullable = true;
};

struct Value {
    bool null = true;
    int64_t i = 0;      // Int, SmallInt, BigInt, Bit
    double f = 0;       // Float
    std::string text;   // NVarChar (UTF-8); DateTime as ISO text
    static Value ofNull() { return {}; }
    static Value ofInt(int64_t v) { Value x; x.null = false; x.i = v; return x; }
    static Value ofText(std::string v) { Value x; x.null = false; x.text = std::move(v); return x; }
};

struct ResultSet {
    std::vector<Column> columns;
    std::vector<std::vector<Value>> rows;
};

// An ERROR (severity > 10) or INFO token, with SQL Server's own number, state and severity.
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
    uint64_t tranDescriptor = 0;  // for Begin; 0 otherwise
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

    // Installations.
    void seedDemo();                               // the demo installation
    void seedEmpty();                              // the catalogue tables with no rows
    bool seedFile(const std::string& path, std::string* error = nullptr);  // SQLite SQL script
    // Runs SQLite SQL directly against the store (seeding and inspection by tests).
    bool execRaw(const std::string& sqliteSql, std::string* error = nullptr);
    // First column of every row of a SQLite query, as text ("" for Null).
    std::vector<std::string> queryRaw(const std::string& sqliteSql);
    void addDatabase(const std::string& name);
    std::vector<std::string> databases();
    void dropTable(const std::string& name);   // fault: an installation without this table

    // Sessions.
    std::unique_ptr<Session> openSession(const std::string& database);
    bool databaseExists(const std::string& name);
    void closeSession(Session& s);  // rolls back an open transaction
    void addForeignSession(ForeignSession s);

    // Faults: a statement that matches this ECMAScript regex (case-insensitive, whole statement)
    // fails with this message; times < 0 for every time.
    void failStatements(const std::string& regex, Message error, int times = -1);

    // One SQL batch (the text already decoded to UTF-8).
    BatchResult execBatch(Session& s, const std::string& sql);

    // Every batch text received, in order.
    std::vector<std::string> statementLog();
    void clearStatementLog();

private:
    struct Impl;
    std::unique_ptr<Impl> d;
    std::mutex m_;
};

}  // namespace sandbox
