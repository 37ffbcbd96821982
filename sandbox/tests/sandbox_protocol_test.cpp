// The server as standard clients see it: FreeTDS's tsql, and QtSql's ODBC driver over FreeTDS.

#include <QElapsedTimer>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QTcpSocket>
#include <QtTest>
#include <memory>

#include "sandbox/Sandbox.h"
#include "support/Tsql.h"

namespace {

const QString kPassword = QStringLiteral("Sa;nd#2026");

}  // namespace

class SandboxProtocolTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<sandbox::Server> server;
    int connectionCount = 0;

    TsqlRun tsql(const QString& batches, const QString& database = QStringLiteral("TQSystem"),
                 const QString& password = kPassword, const QString& version = QStringLiteral("7.4")) {
        return runTsql({"-H", "127.0.0.1", "-p", QString::number(server->port()), "-U", "sa", "-P", password,
                        "-D", database, "-v", version},
                       batches, {}, 20000);
    }

    QSqlDatabase odbc(const QString& password = kPassword, int loginTimeout = 15) {
        const QString name = QStringLiteral("sandbox_protocol_%1").arg(++connectionCount);
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QODBC"), name);
        db.setDatabaseName(
            QStringLiteral("DRIVER={FreeTDS};SERVER=127.0.0.1;PORT=%1;UID=sa;PWD={%2};"
                           "DATABASE=TQSystem;TDS_Version=7.4;ClientCharset=UTF-8;Encryption=request")
                .arg(server->port())
                .arg(password));
        db.setConnectOptions(QStringLiteral("SQL_ATTR_LOGIN_TIMEOUT=%1").arg(loginTimeout));
        return db;
    }

    static void closeAll() {
        for (const QString& name : QSqlDatabase::connectionNames()) {
            {
                QSqlDatabase db = QSqlDatabase::database(name, false);
                db.close();
            }
            QSqlDatabase::removeDatabase(name);
        }
    }

private slots:
    void init() {
        sandbox::Options options;
        options.password = kPassword.toStdString();
        server = std::make_unique<sandbox::Server>(options);
        server->engine().seedDemo();
        std::string error;
        QVERIFY2(server->start(&error), error.c_str());
        QVERIFY(server->port() != 0);
        QCOMPARE(QString::fromStdString(server->serverName()),
                 QStringLiteral("127.0.0.1,%1").arg(server->port()));
    }

    void cleanup() {
        closeAll();
        server.reset();
    }

    void login_data() {
        QTest::addColumn<QString>("database");
        QTest::addColumn<QString>("password");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QStringList>("messages");
        QTest::newRow("ok") << "TQSystem" << kPassword << true << QStringList{};
        QTest::newRow("database name in another case") << "tqsystem" << kPassword << true << QStringList{};
        QTest::newRow("wrong password")
            << "TQSystem"
            << "wrong" << false
            << QStringList{"Msg 18456 (severity 14, state 1)", "Login failed for user 'sa'."};
        QTest::newRow("unknown database")
            << "NoSuchDb" << kPassword << false
            << QStringList{"Msg 4060 (severity 11, state 1)",
                           "Cannot open database \"NoSuchDb\" requested by the login. The login failed.",
                           "Msg 18456", "Login failed for user 'sa'."};
    }

    void login() {
        QFETCH(QString, database);
        QFETCH(QString, password);
        QFETCH(bool, ok);
        QFETCH(QStringList, messages);
        TsqlRun run = tsql("select cacc_id,cacc_name from ua_account\ngo\n", database, password);
        QCOMPARE(run.exitCode == 0, ok);
        QCOMPARE(run.out.contains("001\t示例帐套\n"), ok);
        for (const QString& m : messages)
            QVERIFY2(run.err.contains(m), qPrintable(run.err));
        if (ok)
            QVERIFY2(!run.err.contains("Msg "), qPrintable(run.err));
    }

    // Every protocol level the driver may speak: 4- and 8-byte counts, plain and null-bitmap rows.
    void chineseAndNull_data() {
        QTest::addColumn<QString>("version");
        for (const char* v : {"7.1", "7.2", "7.3", "7.4"})
            QTest::newRow(v) << v;
    }

    void chineseAndNull() {
        QFETCH(QString, version);
        std::string error;
        QVERIFY2(server->engine().execRaw("INSERT INTO ua_account (cacc_id, cacc_name) VALUES ('004', ''),"
                                          " ('005', '𠮷野家 帐套')",
                                          &error),
                 error.c_str());
        TsqlRun run = tsql("select cacc_id,cacc_name from ua_account\ngo\n", "TQSystem", kPassword, version);
        QCOMPARE(run.exitCode, 0);
        QVERIFY2(run.out.contains("\n001\t示例帐套\n"), qPrintable(run.out));
        QVERIFY2(run.out.contains("\n003\tNULL\n"), qPrintable(run.out));
        QVERIFY2(run.out.contains("\n004\t\n"), qPrintable(run.out));
        QVERIFY2(run.out.contains("\n005\t𠮷野家 帐套\n"), qPrintable(run.out));
        QVERIFY2(run.out.contains("(6 rows affected)"), qPrintable(run.out));
        QVERIFY2(!run.err.contains("Msg "), qPrintable(run.err));
    }

    void errorsKeepConnectionUsable() {
        TsqlRun run = tsql(
            "select * from no_such_table\ngo\n"
            "selec cacc_id from ua_account\ngo\n"
            "select * from ua_account where cacc_id='002'\ngo\n");
        QCOMPARE(run.exitCode, 0);
        QVERIFY2(run.err.contains("Msg 208 (severity 16"), qPrintable(run.err));
        QVERIFY2(run.err.contains("Invalid object name 'no_such_table'."), qPrintable(run.err));
        QVERIFY2(run.err.contains("Msg 102 (severity 15"), qPrintable(run.err));
        QVERIFY2(run.out.contains("\n002\t演示公司\t"), qPrintable(run.out));
        QVERIFY2(run.out.contains("(1 row affected)"), qPrintable(run.out));
    }

    void columnTypes() {
        TsqlRun run = tsql(
            "select * from master.dbo.sysdatabases where name='tqdata_001_2003'\ngo\n"
            "sp_datatype_info_100 11\ngo\n");
        QCOMPARE(run.exitCode, 0);
        QVERIFY2(!run.err.contains("Msg "), qPrintable(run.err));
        QVERIFY2(run.out.contains("\ntqdata_001_2003\t"), qPrintable(run.out));
        QVERIFY2(run.out.contains("\tJun  1 2003 09:00AM\t"), qPrintable(run.out));  // DATETIME
        QVERIFY2(run.out.contains("\ndatetime\t11\t23\t"), qPrintable(run.out));
    }

    // Far more than one 4096-byte packet each way; the request text must arrive whole.
    void multiPacket() {
        std::string error;
        QVERIFY2(server->engine().execRaw(
                     "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 3000)"
                     " INSERT INTO ua_account (cacc_id, cacc_name)"
                     " SELECT printf('9%05d', i), '多包帐套' || i FROM n",
                     &error),
                 error.c_str());
        const QString longValue(6000, QChar(u'帐'));
        const QString longQuery =
            QStringLiteral("select * from ua_account where cacc_id='%1'").arg(longValue);
        server->engine().clearStatementLog();
        TsqlRun run = tsql("select cacc_id,cacc_name from ua_account\ngo\n" + longQuery + "\ngo\n");
        QCOMPARE(run.exitCode, 0);
        QVERIFY2(run.out.contains("\n900001\t多包帐套1\n"), qPrintable(run.err));
        QVERIFY(run.out.contains("\n903000\t多包帐套3000\n"));
        QVERIFY(run.out.contains("(3004 rows affected)"));
        const auto log = server->engine().statementLog();
        QCOMPARE(log.size(), size_t(2));
        QCOMPARE(QString::fromStdString(log[1]), longQuery + "\n");  // tsql keeps the line end
    }

    void transactions() {
        auto count = [&](const char* table) {
            return server->engine().queryRaw(std::string("SELECT count(*) FROM ") + table +
                                             " WHERE cacc_id='001'");
        };
        const auto logRows = count("UA_log");
        const auto authRows = count("Ua_auth");
        QVERIFY(logRows.at(0) != "0");

        TsqlRun rolledBack = tsql(
            "BEGIN TRANSACTION\ngo\nDELETE FROM UA_log WHERE cacc_id = '001'\ngo\n"
            "ROLLBACK TRANSACTION\ngo\nselect count(*) from UA_log where cacc_id='001'\ngo\n");
        QCOMPARE(rolledBack.exitCode, 0);
        QVERIFY2(!rolledBack.err.contains("Msg "), qPrintable(rolledBack.err));
        QCOMPARE(count("UA_log"), logRows);

        // A connection that ends inside a transaction leaves nothing behind.
        TsqlRun abandoned = tsql("BEGIN TRAN\ngo\nDelete from Ua_auth where cacc_id='001'\ngo\n");
        QCOMPARE(abandoned.exitCode, 0);
        QTRY_COMPARE(count("Ua_auth"), authRows);

        TsqlRun committed = tsql(
            "SET XACT_ABORT ON\nBEGIN TRANSACTION\nDELETE FROM UA_log WHERE cacc_id = '001'\n"
            "COMMIT TRANSACTION\ngo\nCOMMIT TRANSACTION\ngo\n");
        QCOMPARE(committed.exitCode, 0);
        QCOMPARE(count("UA_log"), std::vector<std::string>{"0"});
        QVERIFY2(committed.err.contains("Msg 3902"), qPrintable(committed.err));
    }

    // The tool's own path: QtSql ODBC over FreeTDS, forward-only queries.
    void qtOdbc() {
        QSqlDatabase db = odbc();
        QVERIFY2(db.open(), qPrintable(db.lastError().text()));

        QSqlQuery q(db);
        q.setForwardOnly(true);
        QVERIFY2(q.exec("select cacc_id,cacc_name from ua_account"), qPrintable(q.lastError().text()));
        QMap<QString, QVariant> names;
        while (q.next())
            names.insert(q.value(0).toString(), q.value(1));
        QCOMPARE(names.value("001").toString(), QStringLiteral("示例帐套"));
        QVERIFY(names.contains("003"));
        QVERIFY(names.value("003").isNull());

        for (auto [sql, code] : {std::pair{"select * from no_such_table", "208"}, {"selec 1", "102"}}) {
            QSqlQuery bad(db);
            bad.setForwardOnly(true);
            QVERIFY(!bad.exec(sql));
            QCOMPARE(bad.lastError().nativeErrorCode(), QString(code));
        }

        // Bound parameters travel as a prepared call (sp_prepexec), which runs; the session goes on.
        QSqlQuery prepared(db);
        prepared.setForwardOnly(true);
        QVERIFY(prepared.prepare("select cacc_id from ua_account where cacc_id=?"));
        prepared.addBindValue(QStringLiteral("001"));
        QVERIFY2(prepared.exec(), qPrintable(prepared.lastError().text()));
        QVERIFY(prepared.next());
        QCOMPARE(prepared.value(0).toString(), QStringLiteral("001"));
        QVERIFY(!prepared.next());

        QSqlQuery after(db);
        after.setForwardOnly(true);
        QVERIFY2(after.exec("select * from ua_account where cAcc_id='001'"),
                 qPrintable(after.lastError().text()));
        QVERIFY(after.next());
        QCOMPARE(after.value("cacc_name").toString(), QStringLiteral("示例帐套"));

        // A statement dropped after its first row is cancelled (ATTENTION); the next one must run.
        // One statement at a time per connection, as without MARS.
        after.finish();
        QSqlQuery dropped(db);
        dropped.setForwardOnly(true);
        QVERIFY(dropped.exec("select cacc_id,cacc_name from ua_account"));
        QVERIFY(dropped.next());
        dropped.finish();
        QVERIFY(after.exec("select * from ua_account where cacc_id='002'"));
        QVERIFY(after.next());

        // The driver's own transaction calls travel as transaction-manager requests.
        auto authRows = [&] {
            return server->engine().queryRaw("SELECT count(*) FROM Ua_auth WHERE cacc_id='001'");
        };
        const auto authBefore = authRows();
        QSqlQuery del(db);
        del.setForwardOnly(true);
        after.finish();
        QVERIFY2(db.transaction(), qPrintable(db.lastError().text()));
        QVERIFY(del.exec("Delete from Ua_auth where cacc_id='001'"));
        QVERIFY(db.rollback());
        QCOMPARE(authRows(), authBefore);
        QVERIFY(db.transaction());
        QVERIFY(del.exec("Delete from Ua_auth where cacc_id='001'"));
        QVERIFY(db.commit());
        QCOMPARE(authRows(), std::vector<std::string>{"0"});

        QSqlDatabase wrong = odbc("wrong");
        QVERIFY(!wrong.open());
        QCOMPARE(wrong.lastError().nativeErrorCode(), QStringLiteral("18456"));
        QVERIFY(wrong.lastError().text().contains("Login failed for user 'sa'."));
    }

    void faults() {
        QSqlDatabase db = odbc();
        QVERIFY(db.open());
        QSqlQuery q(db);
        q.setForwardOnly(true);

        // Counting starts when the fault is set, also for a connection already open.
        server->dropConnectionAfter(1);
        QVERIFY(q.exec("select cacc_id,cacc_name from ua_account"));
        while (q.next()) {
        }
        QVERIFY(!q.exec("select cacc_id,cacc_name from ua_account"));
        server->dropConnectionAfter(-1);
        TsqlRun fresh = tsql("select cacc_id,cacc_name from ua_account\ngo\n");
        QVERIFY(fresh.out.contains("001\t示例帐套"));

        server->setRoundTripDelay(std::chrono::milliseconds(150));
        const uint64_t before = server->roundTrips();
        QElapsedTimer timer;
        timer.start();
        TsqlRun slow = tsql("select cacc_id,cacc_name from ua_account\ngo\n");
        QVERIFY(slow.out.contains("001\t示例帐套"));
        const uint64_t trips = server->roundTrips() - before;
        QVERIFY2(trips >= 3, qPrintable(QString::number(trips)));  // prelogin, login, batch
        QVERIFY(timer.elapsed() >= qint64(trips) * 150);
        server->setRoundTripDelay(std::chrono::milliseconds(0));

        server->setNeverAnswer(true);
        QSqlDatabase silent = odbc(kPassword, 1);
        timer.restart();
        QVERIFY(!silent.open());
        QVERIFY(timer.elapsed() < 5000);
    }

    // A DELETE the store refuses reaches the driver as the server error it is, and the rows stay.
    void refusedDeleteIsAnErrorThroughTheDriver() {
        QVERIFY(server->engine().execRaw(
            "CREATE TRIGGER keep_sub BEFORE DELETE ON UA_account_sub WHEN old.iyear = 2004 "
            "BEGIN SELECT RAISE(ABORT, 'UA_account_sub rows of 2004 are kept'); END;"));
        auto subRows = [&] {
            return server->engine().queryRaw("SELECT count(*) FROM UA_account_sub WHERE cacc_id='002'");
        };
        QSqlDatabase db = odbc();
        QVERIFY2(db.open(), qPrintable(db.lastError().text()));
        QSqlQuery del(db);
        del.setForwardOnly(true);
        QVERIFY(!del.exec("delete from UA_account_sub where cacc_id='002'"));
        QCOMPARE(del.lastError().nativeErrorCode(), QStringLiteral("50000"));
        QVERIFY2(del.lastError().text().contains("UA_account_sub rows of 2004 are kept"),
                 qPrintable(del.lastError().text()));
        QCOMPARE(subRows(), std::vector<std::string>{"2"});

        QSqlQuery state(db);
        state.setForwardOnly(true);
        QVERIFY(state.exec("select @@ERROR"));
        QVERIFY(state.next());
        QCOMPARE(state.value(0).toInt(), 50000);  // the error of the statement before

        // Inside the driver's transaction under XACT_ABORT ON, the earlier delete goes back too.
        QVERIFY(state.exec("SET XACT_ABORT ON"));
        QVERIFY(db.transaction());
        QVERIFY(del.exec("delete from UA_log where cacc_id='002'"));
        QVERIFY(!del.exec("delete from UA_account_sub where cacc_id='002'"));
        QCOMPARE(del.lastError().nativeErrorCode(), QStringLiteral("50000"));
        db.rollback();
        QVERIFY(server->engine().queryRaw("SELECT count(*) FROM UA_log WHERE cacc_id='002'") !=
                std::vector<std::string>{"0"});
        QCOMPARE(subRows(), std::vector<std::string>{"2"});
    }

    // A request that does not parse costs its own connection, never the server.
    void malformedRequests_data() {
        QTest::addColumn<QByteArray>("bytes");
        auto packet = [](char type, const QByteArray& payload) {
            const int len = payload.size() + 8;
            QByteArray h("\x00\x01\x00\x00\x00\x00\x01\x00", 8);
            h[0] = type;
            h[2] = char(len >> 8);
            h[3] = char(len & 0xFF);
            return h + payload;
        };
        QByteArray login(94, '\0');
        login[0] = 94;           // length
        login[36] = char(0xF0);  // host name far beyond the end
        login[38] = 10;
        QTest::newRow("batch before login") << packet(0x01, QByteArray("s\0e\0l\0", 6));
        QTest::newRow("login pointing outside itself") << packet(0x10, login);
        QTest::newRow("truncated login") << packet(0x10, QByteArray(20, '\x7f'));
        QTest::newRow("header shorter than itself") << QByteArray("\x12\x01\x00\x04\x00\x00\x01\x00", 8);
        QTest::newRow("unknown packet type") << packet(0x55, QByteArray(8, 'x'));
    }

    void malformedRequests() {
        QFETCH(QByteArray, bytes);
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, server->port());
        QVERIFY(socket.waitForConnected(5000));
        socket.write(bytes);
        QVERIFY(socket.waitForBytesWritten(5000));
        QVERIFY(socket.state() == QAbstractSocket::UnconnectedState || socket.waitForDisconnected(5000));
        QVERIFY(tsql("select cacc_id,cacc_name from ua_account\ngo\n").out.contains("001\t示例帐套"));
    }

    // Stopping ends every connection: one waiting for its next request, one inside a reply delay.
    void stopWithClientsConnected() {
        QSqlDatabase db = odbc();
        QVERIFY(db.open());
        server->setRoundTripDelay(std::chrono::milliseconds(60000));
        QProcess waiting;
        waiting.start(
            QStandardPaths::findExecutable("tsql"),
            {"-H", "127.0.0.1", "-p", QString::number(server->port()), "-U", "sa", "-P", kPassword});
        QVERIFY(waiting.waitForStarted());
        waiting.closeWriteChannel();
        QTest::qWait(300);  // its prelogin is now held back by the delay
        QElapsedTimer timer;
        timer.start();
        server->stop();
        QVERIFY(timer.elapsed() < 2000);
        QVERIFY(waiting.waitForFinished(5000));
        QVERIFY(waiting.exitCode() != 0);

        // The same server starts again, on a fresh port.
        server->setRoundTripDelay(std::chrono::milliseconds(0));
        QVERIFY(server->start());
        QVERIFY(tsql("select cacc_id,cacc_name from ua_account\ngo\n").out.contains("001\t示例帐套"));
    }
};

QTEST_GUILESS_MAIN(SandboxProtocolTest)
#include "sandbox_protocol_test.moc"
