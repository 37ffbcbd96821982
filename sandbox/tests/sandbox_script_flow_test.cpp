// What undo scripts and the purge need of T-SQL beyond single statements: TRY...CATCH, SET NOEXEC,
// IF with EXISTS and subqueries, RAISERROR, NCHAR, checksums and locked reads, ALTER DATABASE's user
// access, and BACKUP and RESTORE as the states of a database allow them.

#include <QTemporaryDir>
#include <QtTest>

#include "EngineFixture.h"
#include "sandbox/Sandbox.h"
#include "support/TestMain.h"

using namespace sandbox;
using namespace sandbox::testing;

namespace {

// Every message of the batch as "number:text", in order.
std::vector<std::string> messagesOf(const BatchResult& r) {
    std::vector<std::string> out;
    for (const auto& p : r.pieces)
        for (const auto& m : p.messages)
            out.push_back(std::to_string(m.number) + ":" + m.text);
    return out;
}

}  // namespace

class SandboxScriptFlowTest : public QObject {
    Q_OBJECT

private slots:
    // A failure inside TRY goes to CATCH unsent; ERROR_MESSAGE() is RESTORE's last error; RAISERROR
    // takes its words as an argument; SET NOEXEC ON leaves the next batches compiled, not run, until
    // SET NOEXEC OFF.
    void tryCatchThenNoExecStopsTheRest() {
        Fixture f;
        auto r = f.run(
            "BEGIN TRY\n RESTORE DATABASE [tqdata_009_2003] FROM DISK = N'/nonexistent/x.bak' WITH "
            "RECOVERY;\n"
            " PRINT N'not reached';\nEND TRY\nBEGIN CATCH\n"
            " PRINT N'failed: ' + CONVERT(nvarchar(12), ERROR_NUMBER()) + N' ' + ERROR_MESSAGE();\n"
            " RAISERROR(N'%s', 16, 1, N'stopped at 100%'); SET NOEXEC ON;\nEND CATCH");
        QCOMPARE(messagesOf(r),
                 std::vector<std::string>({"0:failed: 3013 RESTORE DATABASE is terminating abnormally.",
                                           "50000:stopped at 100%"}));
        QVERIFY(f.s->noExec);
        QVERIFY(f.s->caught.empty() && f.s->tryDepth == 0);
        QCOMPARE(errorOf(f.run("INSERT INTO EAILog (Ea_Account) VALUES (N'after')")), 0);
        QVERIFY(f.engine.queryRaw("SELECT id FROM EAILog WHERE Ea_Account = 'after'").empty());
        // Still compiled: a syntax error is reported.
        QCOMPARE(errorOf(f.run("INSERT INTO")), 156);
        f.run("SET NOEXEC OFF");
        QVERIFY(!f.s->noExec);
        QCOMPARE(errorOf(f.run("INSERT INTO EAILog (Ea_Account) VALUES (N'after')")), 0);
        QCOMPARE(f.engine.queryRaw("SELECT count(*) FROM EAILog WHERE Ea_Account = 'after'")[0],
                 std::string("1"));
    }

    // A failed INSERT in a transaction inside TRY: CATCH rolls back what the earlier ones wrote.
    void catchRollsBackTheTransaction() {
        Fixture f;
        auto r = f.run(
            "BEGIN TRY BEGIN TRANSACTION; INSERT INTO EAILog (Ea_Account) VALUES (N'gone');"
            " INSERT INTO EAILog (Ea_Account, dtime) VALUES (N'x', '2003-13-01'); COMMIT TRANSACTION; END "
            "TRY\n"
            "BEGIN CATCH IF @@TRANCOUNT > 0 ROLLBACK TRANSACTION; PRINT ERROR_MESSAGE(); END CATCH");
        QCOMPARE(errorOf(r), 0);
        QCOMPARE(f.s->tranCount, 0);
        QVERIFY(f.engine.queryRaw("SELECT id FROM EAILog WHERE Ea_Account = 'gone'").empty());
    }

    void ifElseExistsAndSubqueries() {
        Fixture f;
        const auto said = [&](const std::string& sql) {
            auto m = messagesOf(f.run(sql));
            return m.size() == 1 ? m[0] : std::string("?");
        };
        QCOMPARE(said("IF EXISTS (SELECT * FROM [TQSystem].[dbo].[UA_account] WHERE cAcc_id = N'001')\n"
                      "    PRINT N'yes';\nELSE\nBEGIN\n PRINT N'no'\nEND"),
                 std::string("0:yes"));
        QCOMPARE(said("IF EXISTS (SELECT * FROM UA_account WHERE cAcc_id = N'999') OR EXISTS (SELECT * FROM "
                      "UA_log WHERE cacc_id = N'999') PRINT N'yes' ELSE PRINT N'no'"),
                 std::string("0:no"));
        QCOMPARE(said("IF (SELECT count(*) FROM UA_account WHERE cAcc_id = N'001') > 0 PRINT N'n'"),
                 std::string("0:n"));
        QCOMPARE(said("IF ISNULL(@@SERVERNAME, N'') <> N'SANDBOX' PRINT N'other' ELSE PRINT N'this'"),
                 std::string("0:this"));
        QCOMPARE(
            errorOf(f.run(
                "IF DB_ID(N'tqdata_001_2002') IS NULL PRINT 'x' ELSE RAISERROR(N'%s %d', 11, 2, N'a', 7)")),
            50000);
        QCOMPARE(errorOf(f.run("IF (SELECT cAcc_id FROM UA_account) = N'001' PRINT 'x'")), 512);
    }

    // NCHAR and concatenation put back the characters a script cannot carry raw.
    void ncharBuildsTheValue() {
        Fixture f;
        QCOMPARE(errorOf(f.run("INSERT INTO EAILog (Ea_Account, cmessage) VALUES (N'n', N'a' + NCHAR(13) + "
                               "NCHAR(10) + N'GO' + NCHAR(10) + N'$' + N'(PATH)' + NCHAR(9))")),
                 0);
        QCOMPARE(f.engine.queryRaw("SELECT cmessage FROM EAILog WHERE Ea_Account = 'n'")[0],
                 std::string("a\r\nGO\n$(PATH)\t"));
    }

    // SINGLE_USER WITH NO_WAIT fails at once while another session is in the database (5061, then
    // 5069); MULTI_USER gives it back.
    void singleUserNeedsEveryoneOut() {
        Fixture f;
        auto other = f.engine.openSession("tqdata_001_2002");
        auto r = f.run("ALTER DATABASE [tqdata_001_2002] SET SINGLE_USER WITH NO_WAIT");
        QCOMPARE(messagesOf(r), std::vector<std::string>({"5061:ALTER DATABASE failed because a lock could "
                                                          "not be placed on database 'tqdata_001_2002'. "
                                                          "Try again later.",
                                                          "5069:ALTER DATABASE statement failed."}));
        QCOMPARE(errorOf(f.run("ALTER DATABASE [tqdata_001_2002] SET OFFLINE WITH NO_WAIT")), 5070);
        QCOMPARE(errorOf(f.run("ALTER DATABASE [tqdata_001_2003] SET SINGLE_USER WITH NO_WAIT")), 0);
        f.engine.closeSession(*other);
        QCOMPARE(errorOf(f.run("ALTER DATABASE [tqdata_001_2002] SET SINGLE_USER WITH NO_WAIT")), 0);
        auto state = f.run("select user_access_desc from sys.databases where name = 'tqdata_001_2002'");
        QCOMPARE(state.pieces[0].result->rows[0][0].text, std::string("SINGLE_USER"));
        QCOMPARE(errorOf(f.run("ALTER DATABASE [tqdata_001_2002] SET MULTI_USER")), 0);
        state = f.run("select user_access_desc from sys.databases where name = 'tqdata_001_2002'");
        QCOMPARE(state.pieces[0].result->rows[0][0].text, std::string("MULTI_USER"));
        QCOMPARE(errorOf(f.run("ALTER DATABASE [nope] SET MULTI_USER")), 5011);
    }

    // What the purge compares with the script: the count and the rows' checksum, read WITH (UPDLOCK,
    // HOLDLOCK) inside its transaction; a change of any value changes the checksum; RETURN ends the
    // batch there.
    void checksumsAndLockedReads() {
        Fixture f;
        const auto sum = [&] {
            auto r = f.run(
                "select count(*), checksum_agg(binary_checksum(*)) from UA_log with (updlock, holdlock) "
                "where cacc_id = N'001'");
            return std::to_string(r.pieces[0].result->rows[0][0].i) + "/" +
                   std::to_string(r.pieces[0].result->rows[0][1].i);
        };
        const std::string before = sum();
        QCOMPARE(sum(), before);
        QVERIFY(f.engine.execRaw(
            "UPDATE UA_log SET ctask = ctask || 'x' WHERE rowid = (SELECT min(rowid) FROM UA_log "
            "WHERE cacc_id = '001')"));
        const std::string changed = sum();
        QVERIFY(changed != before);
        QCOMPARE(changed.substr(0, changed.find('/')), before.substr(0, before.find('/')));
        auto none = f.run("select checksum_agg(binary_checksum(*)) from UA_log where cacc_id = N'999'");
        QVERIFY(none.pieces[0].result->rows[0][0].null);

        // Inside a transaction, the locked read keeps another session's write waiting.
        QCOMPARE(
            errorOf(f.run("BEGIN TRANSACTION; select count(*) from UA_log with (updlock, holdlock) where "
                          "cacc_id = N'001'")),
            0);
        auto other = f.engine.openSession("TQSystem");
        QCOMPARE(errorOf(f.engine.execBatch(*other,
                                            "SET LOCK_TIMEOUT 0 DELETE FROM UA_log WHERE cacc_id = N'002'")),
                 1222);
        f.run("ROLLBACK TRANSACTION");

        auto r = f.run("IF 1 = 1 BEGIN RAISERROR(N'%s', 16, 1, N'changed'); RETURN; END\nPRINT N'after'");
        QCOMPARE(messagesOf(r), std::vector<std::string>({"50000:changed"}));
    }

    // A database that is not ONLINE cannot be backed up (BACKUP, Limitations and restrictions).
    void backupNeedsAnOnlineDatabase_data() {
        QTest::addColumn<QString>("state");
        QTest::addColumn<int>("number");
        QTest::newRow("OFFLINE") << "OFFLINE" << 942;
        QTest::newRow("RESTORING") << "RESTORING" << 927;
        QTest::newRow("SUSPECT") << "SUSPECT" << 926;
        QTest::newRow("RECOVERY_PENDING") << "RECOVERY_PENDING" << 945;
        QTest::newRow("EMERGENCY") << "EMERGENCY" << 3007;
    }
    void backupNeedsAnOnlineDatabase() {
        QFETCH(QString, state);
        QFETCH(int, number);
        QTemporaryDir dir;
        Fixture f;
        QVERIFY(f.engine.setDatabaseState("tqdata_001_2002", state.toStdString()));
        const std::string file = dir.filePath("a.bak").toStdString();
        auto r = f.run("BACKUP DATABASE [tqdata_001_2002] TO DISK = N'" + file +
                       "' WITH COPY_ONLY, CHECKSUM, INIT");
        QCOMPARE(errorOf(r), number);
        QVERIFY(messagesOf(r).back().rfind("3013:BACKUP DATABASE is terminating abnormally.", 0) == 0);
        QVERIFY(!QFile::exists(QString::fromStdString(file)));
    }

    // The files a dropped OFFLINE database left behind are restored over only WITH REPLACE (3142).
    void restoreOverLeftFilesNeedsReplace() {
        QTemporaryDir dir;
        Fixture f;
        const std::string file = dir.filePath("a.bak").toStdString();
        QCOMPARE(errorOf(f.run("BACKUP DATABASE [tqdata_001_2002] TO DISK = N'" + file + "' WITH INIT")), 0);
        QVERIFY(f.engine.setDatabaseState("tqdata_001_2002", "OFFLINE"));
        QCOMPARE(errorOf(f.run("drop database [tqdata_001_2002]")), 0);
        QVERIFY(!f.engine.orphanedFiles().empty());
        auto r = f.run("RESTORE DATABASE [tqdata_001_2002] FROM DISK = N'" + file + "' WITH RECOVERY");
        QCOMPARE(errorOf(r), 3142);
        QVERIFY(!f.engine.databaseExists("tqdata_001_2002"));
        QCOMPARE(errorOf(f.run("RESTORE DATABASE [tqdata_001_2002] FROM DISK = N'" + file +
                               "' WITH REPLACE, RECOVERY")),
                 0);
        QVERIFY(f.engine.databaseExists("tqdata_001_2002"));
        QVERIFY(f.engine.orphanedFiles().empty());
    }
};

ACCTSET_TEST_CLASS(SandboxScriptFlowTest)
#include "sandbox_script_flow_test.moc"
