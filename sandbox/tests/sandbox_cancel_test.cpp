// BACKUP and RESTORE cancelled by the client over the wire: FreeTDS's ODBC driver sends an Attention
// on SQLCancel.

#include <sql.h>
#include <sqlext.h>

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>
#include <thread>

#include "sandbox/Sandbox.h"
#include "support/TestMain.h"

namespace {

// One ODBC connection to the server through FreeTDS, as the tool makes it.
struct Odbc {
    SQLHENV env = nullptr;
    SQLHDBC dbc = nullptr;
    SQLHSTMT st = nullptr;
    bool connected = false;
    explicit Odbc(int port) {
        SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env);
        SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
        SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc);
        const std::string cs = "DRIVER={FreeTDS};SERVER=127.0.0.1;PORT=" + std::to_string(port) +
                               ";UID=sa;PWD=sandbox;TDS_Version=7.4;ClientCharset=UTF-8";
        connected = SQL_SUCCEEDED(SQLDriverConnect(dbc, nullptr, (SQLCHAR*)cs.c_str(), SQL_NTS, nullptr, 0,
                                                   nullptr, SQL_DRIVER_NOPROMPT));
        SQLAllocHandle(SQL_HANDLE_STMT, dbc, &st);
    }
    ~Odbc() {
        SQLFreeHandle(SQL_HANDLE_STMT, st);
        SQLDisconnect(dbc);
        SQLFreeHandle(SQL_HANDLE_DBC, dbc);
        SQLFreeHandle(SQL_HANDLE_ENV, env);
    }
    // Runs the statement and cancels it after a while: true when it ended as cancelled.
    bool cancelled(const std::string& sql) {
        std::thread canceller([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(400));
            SQLCancel(st);
        });
        SQLRETURN rc = SQLExecDirect(st, (SQLCHAR*)sql.c_str(), SQL_NTS);
        canceller.join();
        fresh();
        return !SQL_SUCCEEDED(rc);
    }
    void fresh() {
        SQLFreeHandle(SQL_HANDLE_STMT, st);
        SQLAllocHandle(SQL_HANDLE_STMT, dbc, &st);
    }
    // The first column of the first row as text; "failed" when the statement did not run.
    std::string single(const std::string& sql) {
        fresh();
        if (!SQL_SUCCEEDED(SQLExecDirect(st, (SQLCHAR*)sql.c_str(), SQL_NTS)) || !SQL_SUCCEEDED(SQLFetch(st)))
            return "failed";
        char buf[256] = {};
        SQLLEN len = 0;
        SQLGetData(st, 1, SQL_C_CHAR, buf, sizeof buf, &len);
        return buf;
    }
};

}  // namespace

class SandboxCancelTest : public QObject {
    Q_OBJECT

private slots:
    void attentionStopsBackup() {
        QTemporaryDir dir;
        sandbox::Options o;
        o.backupDir = dir.path().toStdString();
        o.backupPagesPerSecond = 1000;  // about 1.7 s for the database below
        sandbox::Server server(o);
        server.engine().seedDemo();
        QVERIFY(server.start());
        Odbc c(server.port());
        if (!c.connected)
            QSKIP("the FreeTDS ODBC driver is not registered");
        const QString file = dir.filePath("cancelled.bak");
        QVERIFY(c.cancelled("BACKUP DATABASE [tqdata_001_2002] TO DISK = N'" + file.toStdString() +
                            "' WITH COPY_ONLY, CHECKSUM, INIT"));
        QVERIFY(!QFile::exists(file));
        QCOMPARE(c.single("select 1"), std::string("1"));  // the connection still answers
    }

    // A restore cancelled part-way leaves its database RESTORING; the connection goes on.
    void attentionLeavesRestoreRestoring() {
        QTemporaryDir dir;
        sandbox::Options o;
        o.backupDir = dir.path().toStdString();
        sandbox::Server server(o);
        server.engine().seedDemo();
        QVERIFY(server.start());
        auto s = server.engine().openSession("master");
        server.engine().execBatch(*s, "BACKUP DATABASE [tqdata_001_2002] TO DISK = N'r.bak' WITH INIT");
        QVERIFY(QFile::exists(dir.filePath("r.bak")));
        server.engine().setBackupSpeed(1000);
        Odbc c(server.port());
        if (!c.connected)
            QSKIP("the FreeTDS ODBC driver is not registered");
        QVERIFY(
            c.cancelled("RESTORE DATABASE [tqdata_001_2002] FROM DISK = N'r.bak' WITH REPLACE, RECOVERY"));
        QCOMPARE(c.single("select state_desc from sys.databases where name = 'tqdata_001_2002'"),
                 std::string("RESTORING"));
    }
};

ACCTSET_TEST_CLASS(SandboxCancelTest)
#include "sandbox_cancel_test.moc"
