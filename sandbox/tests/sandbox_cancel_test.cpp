// A BACKUP cancelled by the client over the wire: FreeTDS's ODBC driver sends an Attention on SQLCancel.

#include <sql.h>
#include <sqlext.h>

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>
#include <thread>

#include "sandbox/Sandbox.h"
#include "support/TestMain.h"

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

        SQLHENV env = nullptr;
        SQLHDBC dbc = nullptr;
        SQLHSTMT st = nullptr;
        SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env);
        SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
        SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc);
        const std::string cs = "DRIVER={FreeTDS};SERVER=127.0.0.1;PORT=" + std::to_string(server.port()) +
                               ";UID=sa;PWD=sandbox;TDS_Version=7.4;ClientCharset=UTF-8";
        SQLRETURN rc = SQLDriverConnect(dbc, nullptr, (SQLCHAR*)cs.c_str(), SQL_NTS, nullptr, 0, nullptr,
                                        SQL_DRIVER_NOPROMPT);
        if (!SQL_SUCCEEDED(rc))
            QSKIP("the FreeTDS ODBC driver is not registered");
        SQLAllocHandle(SQL_HANDLE_STMT, dbc, &st);
        const QString file = dir.filePath("cancelled.bak");
        const std::string sql = "BACKUP DATABASE [tqdata_001_2002] TO DISK = N'" + file.toStdString() +
                                "' WITH COPY_ONLY, CHECKSUM, INIT";
        std::thread canceller([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(400));
            SQLCancel(st);
        });
        rc = SQLExecDirect(st, (SQLCHAR*)sql.c_str(), SQL_NTS);
        canceller.join();
        QVERIFY(!SQL_SUCCEEDED(rc));  // cancelled: the driver reports the operation cancelled
        QVERIFY(!QFile::exists(file));
        // The connection still answers.
        SQLFreeHandle(SQL_HANDLE_STMT, st);
        SQLAllocHandle(SQL_HANDLE_STMT, dbc, &st);
        QVERIFY(SQL_SUCCEEDED(SQLExecDirect(st, (SQLCHAR*)"select 1", SQL_NTS)));
        SQLFreeHandle(SQL_HANDLE_STMT, st);
        SQLDisconnect(dbc);
        SQLFreeHandle(SQL_HANDLE_DBC, dbc);
        SQLFreeHandle(SQL_HANDLE_ENV, env);
    }
};

ACCTSET_TEST_CLASS(SandboxCancelTest)
#include "sandbox_cancel_test.moc"
