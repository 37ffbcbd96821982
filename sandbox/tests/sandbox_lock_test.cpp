// Locks between sessions: waits, LOCK_TIMEOUT, KILL, cancel, and the views that show who blocks whom.

#include <QProcess>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <future>

#include "sandbox/Sandbox.h"
#include "sandbox/tds/Dialect.h"
#include "sandbox/tds/Login7.h"
#include "sandbox/tds/Packet.h"
#include "sandbox/tds/Prelogin.h"
#include "sandbox/tds/SqlBatch.h"
#include "sandbox/tds/Tokens.h"
#include "sandbox/tds/Transport.h"
#include "support/TestMain.h"

using namespace sandbox;

namespace {

// Generous: only a wait that never ends fails a test.
constexpr auto kLong = std::chrono::seconds(20);

int errorOf(const BatchResult& r) {
    for (const auto& p : r.pieces)
        for (const auto& m : p.messages)
            if (m.severity > 10)
                return m.number;
    return 0;
}

// The first column of the first row of each result set, as text.
std::vector<std::string> firsts(const BatchResult& r) {
    std::vector<std::string> out;
    for (const auto& p : r.pieces) {
        if (!p.result || p.result->rows.empty())
            continue;
        const Value& v = p.result->rows[0][0];
        out.push_back(v.null ? "NULL" : v.text.empty() ? std::to_string(v.i) : v.text);
    }
    return out;
}

// A client of bare TDS messages, to send an ATTENTION while a batch waits.
struct RawClient {
    int fd = -1;
    int wake[2] = {-1, -1};
    std::unique_ptr<tds::Transport> io;
    tds::Dialect dialect = tds::Dialect::fromLogin(0x74000004);

    explicit RawClient(uint16_t port) {
        fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        addr.sin_port = htons(port);
        if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::pipe(wake) != 0)
            return;
        io = std::make_unique<tds::Transport>(fd, wake[0]);
    }
    ~RawClient() {
        io.reset();
        for (int f : {fd, wake[0], wake[1]})
            if (f >= 0)
                ::close(f);
    }
    void send(uint8_t type, const std::vector<uint8_t>& payload) {
        auto bytes = tds::framePackets(type, payload, 4096, 0);
        io->write(bytes.data(), bytes.size());
    }
    std::vector<uint8_t> receive() {
        uint8_t type = 0;
        std::vector<uint8_t> payload;
        return io && tds::readMessage(*io, &type, &payload) ? payload : std::vector<uint8_t>{};
    }
    bool login() {
        if (!io)
            return false;
        send(tds::kPrelogin, tds::Prelogin::serverAnswer().encode());
        receive();
        tds::Login7 l;
        l.user = "sa";
        l.password = "sandbox";
        l.database = "TQSystem";
        send(tds::kLogin7, l.encode());
        return !receive().empty();
    }
};

struct Fixture {
    Engine engine;
    std::unique_ptr<Session> a, b, watcher;
    Fixture() {
        engine.seedDemo();
        a = engine.openSession("TQSystem", "sa", "desk-a", "holder");
        b = engine.openSession("TQSystem", "sa", "desk-b", "waiter");
        watcher = engine.openSession("master");
    }
    std::string scalar(Session& s, const std::string& sql) {
        auto v = firsts(engine.execBatch(s, sql));
        return v.empty() ? std::string() : v[0];
    }
    std::string count(const std::string& table, const std::string& where) {
        auto r = engine.queryRaw("SELECT count(*) FROM " + table + " WHERE " + where);
        return r.empty() ? "" : r[0];
    }
    // Until sysprocesses shows spid blocked (by anyone); false if it never does.
    bool waitBlocked(int spid) {
        const auto until = std::chrono::steady_clock::now() + kLong;
        const std::string q =
            "select blocked from master.dbo.sysprocesses where spid = " + std::to_string(spid);
        while (std::chrono::steady_clock::now() < until) {
            if (scalar(*watcher, q) != "0")
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return false;
    }
    std::future<BatchResult> later(Session& s, const std::string& sql) {
        return std::async(std::launch::async, [this, &s, sql] { return engine.execBatch(s, sql); });
    }
};

}  // namespace

class SandboxLockTest : public QObject {
    Q_OBJECT

private slots:
    // A writer waits for the holder's transaction and goes on when it commits; meanwhile the
    // views name the holder.
    void writerWaitsForCommit() {
        Fixture f;
        QCOMPARE(errorOf(f.engine.execBatch(*f.a, "BEGIN TRAN DELETE FROM UA_log WHERE cacc_id = '001'")), 0);
        auto waiting = f.later(*f.b, "DELETE FROM UA_log WHERE cacc_id = '002'");
        QVERIFY(f.waitBlocked(f.b->spid));
        const std::string by = std::to_string(f.a->spid);
        const std::string who = " where session_id = " + std::to_string(f.b->spid);
        QCOMPARE(f.scalar(*f.watcher, "select blocked from master.dbo.sysprocesses where spid = " +
                                          std::to_string(f.b->spid)),
                 by);
        QCOMPARE(f.scalar(*f.watcher, "select blocking_session_id from sys.dm_exec_requests" + who), by);
        QCOMPARE(f.scalar(*f.watcher, "select wait_type from sys.dm_exec_requests" + who), "LCK_M_X");
        QCOMPARE(f.scalar(*f.watcher, "select command from sys.dm_exec_requests" + who), "DELETE");
        QCOMPARE(
            f.scalar(*f.watcher, "select program_name from sys.dm_exec_sessions where session_id = " + by),
            "holder");
        QCOMPARE(waiting.wait_for(std::chrono::milliseconds(100)), std::future_status::timeout);
        QCOMPARE(errorOf(f.engine.execBatch(*f.a, "COMMIT")), 0);
        QCOMPARE(waiting.wait_for(kLong), std::future_status::ready);
        BatchResult r = waiting.get();
        QCOMPARE(errorOf(r), 0);
        QVERIFY(r.pieces[0].rowCount > 0);
        QCOMPARE(f.count("UA_log", "cacc_id IN ('001', '002')"), "0");
        QCOMPARE(f.scalar(*f.watcher, "select count(*) from sys.dm_exec_requests" + who), "0");
    }

    // Past LOCK_TIMEOUT: 1222, that statement undone, the transaction and the batch go on; under
    // XACT_ABORT ON the transaction is rolled back.
    // https://learn.microsoft.com/en-us/sql/t-sql/statements/set-lock-timeout-transact-sql
    void lockTimeout() {
        Fixture f;
        QCOMPARE(f.scalar(*f.b, "select @@LOCK_TIMEOUT"), "-1");
        const int holder = f.engine.holdLock("UA_log");
        QVERIFY(holder != 0);
        BatchResult r = f.engine.execBatch(
            *f.b,
            "SET LOCK_TIMEOUT 200 BEGIN TRAN DELETE FROM UA_account_sub WHERE cacc_id = '001' "
            "DELETE FROM UA_log WHERE cacc_id = '001' select @@ERROR, @@TRANCOUNT, @@LOCK_TIMEOUT");
        QCOMPARE(errorOf(r), 1222);
        QCOMPARE(r.pieces[3].messages[0].text, std::string("Lock request time out period exceeded."));
        QCOMPARE(r.pieces[3].messages[0].severity, 16);
        QCOMPARE(rowText(r.pieces[4]), std::string("1222|1|200"));
        QCOMPARE(f.b->tranCount, 1);
        QCOMPARE(f.count("UA_account_sub", "cacc_id = '001'"), "0");  // kept in the transaction
        f.engine.execBatch(*f.b, "ROLLBACK");
        QVERIFY(f.count("UA_account_sub", "cacc_id = '001'") != "0");

        r = f.engine.execBatch(*f.b,
                               "SET XACT_ABORT ON BEGIN TRAN DELETE FROM UA_account_sub WHERE cacc_id = "
                               "'001' DELETE FROM UA_log WHERE cacc_id = '001' select 1");
        QCOMPARE(errorOf(r), 1222);
        QCOMPARE(r.pieces.back().tran, TranChange::Rollback);
        QCOMPARE(f.b->tranCount, 0);
        QVERIFY(f.count("UA_account_sub", "cacc_id = '001'") != "0");

        // 0: no wait at all; the holder's end frees the table.
        QCOMPARE(errorOf(f.engine.execBatch(*f.a, "SET LOCK_TIMEOUT 0 select count(*) from UA_log")), 1222);
        f.engine.releaseLock(holder);
        QCOMPARE(errorOf(f.engine.execBatch(*f.a, "select count(*) from UA_log")), 0);
    }

    // READ COMMITTED: a reader waits for uncommitted deletes rather than miss those rows.
    void readerNeverSeesUncommittedDeletes() {
        Fixture f;
        const std::string before = f.scalar(*f.b, "select count(*) from UA_log");
        const std::string gone = f.count("UA_log", "cacc_id = '001'");
        f.engine.execBatch(*f.a, "BEGIN TRAN DELETE FROM UA_log WHERE cacc_id = '001'");
        QCOMPARE(errorOf(f.engine.execBatch(*f.b, "SET LOCK_TIMEOUT 50 select count(*) from UA_log")), 1222);
        auto reading = f.later(*f.b, "SET LOCK_TIMEOUT -1 select count(*) from UA_log");
        QVERIFY(f.waitBlocked(f.b->spid));
        QCOMPARE(
            f.scalar(*f.watcher, "select wait_type from sys.dm_exec_requests where blocking_session_id <> 0"),
            "LCK_M_S");
        f.engine.execBatch(*f.a, "ROLLBACK");
        QCOMPARE(reading.wait_for(kLong), std::future_status::ready);
        QCOMPARE(firsts(reading.get()), std::vector<std::string>{before});
        // Tables the transaction did not write are read meanwhile.
        f.engine.execBatch(*f.a, "BEGIN TRAN DELETE FROM UA_log WHERE cacc_id = '001'");
        QCOMPARE(errorOf(f.engine.execBatch(*f.b, "SET LOCK_TIMEOUT 0 select count(*) from UA_account")), 0);
        QCOMPARE(
            f.scalar(*f.b, "SET TRANSACTION ISOLATION LEVEL READ UNCOMMITTED select count(*) from UA_log"),
            std::to_string(std::stoi(before) - std::stoi(gone)));
        f.engine.execBatch(*f.a, "ROLLBACK");
    }

    // KILL ends a waiting statement: its transaction is rolled back and its connection closes.
    void killEndsAWait() {
        Fixture f;
        f.engine.execBatch(*f.a, "BEGIN TRAN DELETE FROM UA_log WHERE cacc_id = '001'");
        auto waiting = f.later(*f.b, "BEGIN TRAN DELETE FROM UA_log WHERE cacc_id = '002'");
        QVERIFY(f.waitBlocked(f.b->spid));
        QCOMPARE(errorOf(f.engine.execBatch(*f.watcher, "KILL " + std::to_string(f.b->spid))), 0);
        QCOMPARE(waiting.wait_for(kLong), std::future_status::ready);
        QVERIFY(waiting.get().killed);
        QCOMPARE(f.b->tranCount, 0);
        QVERIFY(f.engine.execBatch(*f.b, "select 1").killed);

        // An idle session with a transaction: rolled back at once, its connection told to close.
        bool closed = false;
        f.a->close = [&] { closed = true; };
        QCOMPARE(errorOf(f.engine.execBatch(*f.watcher, "KILL " + std::to_string(f.a->spid))), 0);
        QVERIFY(closed);
        QCOMPARE(f.a->tranCount, 0);
        QCOMPARE(f.count("UA_log", "cacc_id = '001'") != "0", true);
        QCOMPARE(errorOf(f.engine.execBatch(*f.watcher, "KILL " + std::to_string(f.watcher->spid))), 6104);
        QCOMPARE(errorOf(f.engine.execBatch(*f.watcher, "KILL 999")), 6106);
    }

    // A cancel (ATTENTION) ends the wait and the batch; the transaction stays open.
    void cancelEndsAWait() {
        Fixture f;
        const int holder = f.engine.holdLock("UA_log");
        std::atomic<bool> cancel{false};
        f.b->interrupted = [&] { return cancel.load(); };
        auto waiting = f.later(*f.b, "BEGIN TRAN DELETE FROM UA_log select 1");
        QVERIFY(f.waitBlocked(f.b->spid));
        QCOMPARE(f.scalar(*f.watcher, "select blocked from master.dbo.sysprocesses where spid = " +
                                          std::to_string(f.b->spid)),
                 std::to_string(holder));
        cancel = true;
        QCOMPARE(waiting.wait_for(kLong), std::future_status::ready);
        BatchResult r = waiting.get();
        QVERIFY(r.cancelled);
        QCOMPARE(errorOf(r), 0);
        QCOMPARE(f.b->tranCount, 1);
    }

    // Through the real drivers: tsql waits behind a lock holder while the ODBC driver reads who
    // blocks it; the ODBC session's own LOCK_TIMEOUT ends its wait with 1222.
    void throughTheDriver() {
        if (QStandardPaths::findExecutable(QStringLiteral("tsql")).isEmpty())
            QSKIP("tsql not installed (freetds-bin)");
        Server server;
        server.engine().seedDemo();
        QVERIFY(server.start());
        const int holder = server.engine().holdLock("UA_log");
        QProcess tsql;
        tsql.start(QStandardPaths::findExecutable(QStringLiteral("tsql")),
                   {"-H", "127.0.0.1", "-p", QString::number(server.port()), "-U", "sa", "-P", "sandbox",
                    "-D", "TQSystem"});
        tsql.write("delete from UA_log where cacc_id = '001'\ngo\nexit\n");
        tsql.closeWriteChannel();
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QODBC"), QStringLiteral("lock"));
            db.setDatabaseName(
                QStringLiteral(
                    "DRIVER={FreeTDS};SERVER=127.0.0.1;PORT=%1;UID=sa;PWD=sandbox;DATABASE=TQSystem;"
                    "TDS_Version=7.4;ClientCharset=UTF-8")
                    .arg(server.port()));
            QVERIFY2(db.open(), qPrintable(db.lastError().text()));
            QSqlQuery q(db);
            q.setForwardOnly(true);
            QString blocked;
            for (int i = 0; i < 1000 && blocked.isEmpty(); ++i) {
                QVERIFY2(
                    q.exec(QStringLiteral("select blocked from master.dbo.sysprocesses where blocked <> 0")),
                    qPrintable(q.lastError().text()));
                if (q.next())
                    blocked = q.value(0).toString();
                else
                    QTest::qWait(20);
            }
            QCOMPARE(blocked, QString::number(holder));
            QVERIFY(q.exec(QStringLiteral("SET LOCK_TIMEOUT 300")));
            QVERIFY(!q.exec(QStringLiteral("delete from UA_log where cacc_id = '002'")));
            QVERIFY2(q.lastError().text().contains(QStringLiteral("Lock request time out period exceeded")),
                     qPrintable(q.lastError().text()));
            server.engine().releaseLock(holder);
            QVERIFY(tsql.waitForFinished(20000));
            QVERIFY(q.exec(QStringLiteral("select count(*) from UA_log where cacc_id = '001'")) && q.next());
            QCOMPARE(q.value(0).toInt(), 0);
            db.close();
        }
        QSqlDatabase::removeDatabase(QStringLiteral("lock"));
    }

    // Who uses a database: a shared DATABASE lock for each session's current database, and for
    // one its statements name, held to the end of its transaction; DROP DATABASE sees them (3702).
    void databaseLocksShowUsers() {
        Fixture f;
        auto user = f.engine.openSession("master", "sa", "desk-c", "by use");
        QCOMPARE(errorOf(f.engine.execBatch(*user, "USE [tqdata_001_2002]")), 0);
        QCOMPARE(errorOf(f.engine.execBatch(
                     *f.b, "BEGIN TRAN select count(*) from tqdata_001_2003.dbo.sysobjects")),
                 0);
        // The referring session's own current database stays locked too, and an autocommit
        // reference lasts only its statement.
        f.engine.execBatch(*f.a, "select count(*) from tqdata_001_2002.dbo.sysobjects");
        QCOMPARE(users(f, "tqdata_001_2002"),
                 std::vector<std::string>{std::to_string(user->spid) + "|desk-c|by use"});
        QCOMPARE(users(f, "tqdata_001_2003"),
                 std::vector<std::string>{std::to_string(f.b->spid) + "|desk-b|waiter"});
        QCOMPARE(errorOf(f.engine.execBatch(*f.watcher, "DROP DATABASE tqdata_001_2003")), 3702);
        f.engine.execBatch(*f.b, "COMMIT");
        QVERIFY(users(f, "tqdata_001_2003").empty());
        QCOMPARE(errorOf(f.engine.execBatch(*f.watcher, "DROP DATABASE tqdata_001_2003")), 0);
        // A name that does not resolve still took the lock while the statement ran; inside a
        // transaction it stays.
        f.engine.execBatch(*f.b, "BEGIN TRAN select * from tqdata_001_2004.dbo.UA_log");
        QCOMPARE(users(f, "tqdata_001_2004").size(), size_t(1));
        QCOMPARE(errorOf(f.engine.execBatch(*f.b, "drop database tqdata_001_2004")), 574);
        f.engine.execBatch(*f.b, "ROLLBACK");
        QVERIFY(users(f, "tqdata_001_2004").empty());
    }

    // The in-use query through the ODBC driver, the user another ODBC connection.
    void databaseLocksThroughTheDriver() {
        Server server;
        server.engine().seedDemo();
        QVERIFY(server.start());
        {
            QSqlDatabase user = odbc(server, QStringLiteral("user"));
            QSqlDatabase tool = odbc(server, QStringLiteral("tool"));
            QVERIFY(user.open() && tool.open());
            QSqlQuery u(user);
            u.setForwardOnly(true);
            QVERIFY(u.exec(QStringLiteral("select @@SPID")) && u.next());
            const int spid = u.value(0).toInt();
            QVERIFY(u.exec(QStringLiteral("USE [tqdata_001_2002]")));
            QSqlQuery q(tool);
            q.setForwardOnly(true);
            QVERIFY2(q.exec(kInUse), qPrintable(q.lastError().text()));
            QVERIFY(q.next());
            QCOMPARE(q.value(0).toInt(), spid);
            QCOMPARE(q.value(1).toString(), QStringLiteral("sa"));
            QVERIFY(!q.next());
            QVERIFY(!q.exec(QStringLiteral("DROP DATABASE tqdata_001_2002")));
            QVERIFY(q.lastError().text().contains(QStringLiteral("currently in use")));
            user.close();
            tool.close();
        }
        QSqlDatabase::removeDatabase(QStringLiteral("user"));
        QSqlDatabase::removeDatabase(QStringLiteral("tool"));
    }

    // The same states from the program's command line, as a person reproduces them with tsql.
    void fromTheCommandLine() {
        QTemporaryDir dir;
        const QString log = dir.filePath(QStringLiteral("batches.sql"));
        QProcess program;
        const QString exe = qEnvironmentVariable("ACCTSET_SANDBOX_EXE");
        QVERIFY2(!exe.isEmpty(), "ACCTSET_SANDBOX_EXE names the server program (CTest sets it)");
        program.start(exe, {"--port", "0", "--hold-lock", "UA_log:600", "--use-database", "tqdata_001_2002",
                            "--log", log});
        QVERIFY(program.waitForStarted());
        QString out;
        while (!out.contains(QStringLiteral("127.0.0.1,")) && program.waitForReadyRead(20000))
            out += QString::fromUtf8(program.readAllStandardOutput());
        const QRegularExpressionMatch port =
            QRegularExpression(QStringLiteral("127\\.0\\.0\\.1,(\\d+)")).match(out);
        QVERIFY2(port.hasMatch(), qPrintable(out));
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QODBC"), QStringLiteral("cli"));
            db.setDatabaseName(QStringLiteral("DRIVER={FreeTDS};SERVER=127.0.0.1;PORT=%1;UID=sa;PWD=sandbox;"
                                              "DATABASE=TQSystem;TDS_Version=7.4;ClientCharset=UTF-8")
                                   .arg(port.captured(1)));
            QVERIFY2(db.open(), qPrintable(db.lastError().text()));
            QSqlQuery q(db);
            q.setForwardOnly(true);
            QVERIFY(q.exec(QStringLiteral("SET LOCK_TIMEOUT 100")));
            QVERIFY(!q.exec(QStringLiteral("select count(*) from UA_log")));
            QVERIFY(q.exec(QStringLiteral(
                "select rtrim(program_name) from master.dbo.sysprocesses where open_tran = 1")));
            QVERIFY(q.next());
            QCOMPARE(q.value(0).toString(), QStringLiteral("acctset-sandbox lock holder"));
            QVERIFY(q.exec(kInUse) && q.next());
            QCOMPARE(q.value(2).toString(), QStringLiteral("SANDBOX-USER"));
            db.close();
        }
        QSqlDatabase::removeDatabase(QStringLiteral("cli"));
        program.terminate();
        QVERIFY(program.waitForFinished(20000));
        QFile batches(log);
        QVERIFY(batches.open(QIODevice::ReadOnly));
        QVERIFY(batches.readAll().contains("select count(*) from UA_log\ngo\n"));
    }

    // On the wire: an ATTENTION while a batch waits ends the wait; the reply ends with the
    // acknowledgement (a DONE with the attention flag, [MS-TDS] 2.2.1.7) and the transaction stays.
    void attentionOnTheWire() {
        Server server;
        server.engine().seedDemo();
        QVERIFY(server.start());
        server.engine().holdLock("UA_log");
        RawClient client(server.port());
        QVERIFY(client.login());
        client.send(tds::kSqlBatch, tds::SqlBatch{"BEGIN TRAN DELETE FROM UA_log"}.encode(client.dialect));
        auto watcher = server.engine().openSession("master");
        const std::string blocked = "select spid from master.dbo.sysprocesses where blocked <> 0";
        std::vector<std::string> spid;
        for (int i = 0; i < 1000 && spid.empty(); ++i) {
            spid = firsts(server.engine().execBatch(*watcher, blocked));
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        QCOMPARE(spid.size(), size_t(1));
        client.send(tds::kAttention, {});
        std::vector<uint8_t> reply = client.receive();
        QVERIFY(reply.size() >= 13);
        const size_t done = reply.size() - 13;  // DONE: token, status, command, 8-byte count
        QCOMPARE(int(reply[done]), 0xFD);
        QVERIFY(reply[done + 1] & tds::kDoneAttn);
        QCOMPARE(firsts(server.engine().execBatch(
                     *watcher, "select open_tran from master.dbo.sysprocesses where spid = " + spid[0])),
                 std::vector<std::string>{"1"});
        server.engine().closeSession(*watcher);
    }

private:
    static constexpr const char* kInUse =
        "select distinct l.request_session_id, s.login_name, s.host_name, s.program_name "
        "from sys.dm_tran_locks l join sys.dm_exec_sessions s on s.session_id = l.request_session_id "
        "where l.resource_type = 'DATABASE' and l.resource_database_id = DB_ID('tqdata_001_2002') "
        "and l.request_session_id <> @@SPID";

    static QSqlDatabase odbc(Server& server, const QString& name) {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QODBC"), name);
        db.setDatabaseName(QStringLiteral("DRIVER={FreeTDS};SERVER=127.0.0.1;PORT=%1;UID=sa;PWD=sandbox;"
                                          "DATABASE=TQSystem;TDS_Version=7.4;ClientCharset=UTF-8")
                               .arg(server.port()));
        return db;
    }

    // The sessions holding a DATABASE lock on db, other than the watcher: "spid|host|program".
    static std::vector<std::string> users(Fixture& f, const std::string& db) {
        std::string sql = kInUse;
        sql.replace(sql.find("tqdata_001_2002"), 15, db);
        std::vector<std::string> out;
        for (const auto& p : f.engine.execBatch(*f.watcher, sql).pieces)
            if (p.result)
                for (const auto& row : p.result->rows)
                    out.push_back(std::to_string(row[0].i) + "|" + row[2].text + "|" + row[3].text);
        return out;
    }

    static std::string rowText(const Piece& p) {
        std::string out;
        for (const Value& v : p.result->rows.at(0))
            out += (out.empty() ? "" : "|") + std::to_string(v.i);
        return out;
    }
};

ACCTSET_TEST_CLASS(SandboxLockTest)
#include "sandbox_lock_test.moc"
