// The SQL side driven directly (no TDS): the statements the tool sends and the errors a server gives.

#include <QTemporaryDir>
#include <QtTest>

#include "EngineFixture.h"
#include "sandbox/Engine.h"
#include "sandbox/sql/Collation.h"
#include "support/TestMain.h"

using namespace sandbox;
using namespace sandbox::testing;

class SandboxEngineTest : public QObject {
    Q_OBJECT

private slots:
    void listsAccountSetsWithChineseAndNullNames() {
        Fixture f;
        auto r = f.run("select cacc_id,cacc_name from ua_account");
        QCOMPARE(errorOf(r), 0);
        QCOMPARE(rows(r), QStringList({"001|示例帐套", "002|演示公司", "003|NULL", "0010|示例帐套分公司"}));
        QCOMPARE(r.pieces.size(), size_t(1));
        QCOMPARE(r.pieces[0].rowCount, 4);
        QCOMPARE(r.pieces[0].result->columns[0].name, std::string("cacc_id"));
        QCOMPARE(r.pieces[0].result->columns[1].type, ColType::NVarChar);
        QCOMPARE(r.database, std::string("TqSystem"));
    }

    void yearsOfOneAccountSetNewestFirstWithout9999() {
        Fixture f;
        const std::string q =
            "select distinct(iyear) from tqsystem.dbo.ua_period where iyear<>'9999' and cacc_id='001' order "
            "by "
            "iyear desc";
        QCOMPARE(rows(f.run(q)), QStringList({"2004", "2003", "2002"}));
        // 0010 shares a prefix with 001 but not its years; case and brackets don't matter.
        QCOMPARE(rows(f.run("select distinct(iyear) from [TQSystem].DBO.[UA_Period] where iyear<>'9999' and "
                            "cacc_id='0010' order by iyear")),
                 QStringList({"2003", "2004"}));
        QCOMPARE(rows(f.run("select distinct(iyear) from tqsystem.dbo.ua_period where iyear<>'9999' and "
                            "cacc_id='099' order by iyear desc")),
                 QStringList());
        // The server converts the text to int for the comparison, and refuses what isn't a number.
        auto bad = f.run("select iyear from ua_period where iyear<>'99x9'");
        QCOMPARE(errorOf(bad), 245);
        QCOMPARE(bad.pieces[0].messages[0].text,
                 std::string("Conversion failed when converting the varchar value '99x9' to data type int."));
    }

    void lookupIsCaseInsensitiveAndBlindToTrailingSpaces() {
        Fixture f;
        for (const char* q :
             {"select * from ua_account where cacc_id='001'", "select * from ua_account where cAcc_id='001'",
              "SELECT * FROM UA_ACCOUNT WHERE CACC_ID='001   '",
              "select * from dbo.ua_account where cacc_id=N'001'"}) {
            auto r = f.run(q);
            QCOMPARE(errorOf(r), 0);
            QCOMPARE(r.pieces[0].rowCount, 1);
            QCOMPARE(r.pieces[0].result->columns.size(), size_t(6));
        }
        f.engine.execRaw("INSERT INTO ua_account (cacc_id, cacc_name) VALUES ('ABC', 'x')");
        QCOMPARE(rows(f.run("select cacc_id from ua_account where cacc_id='abc'")), QStringList({"ABC"}));
        // A doubled quote is one quote inside the literal, not the end of it.
        auto quoted = f.run("select * from ua_account where cacc_id='0''1'");
        QCOMPARE(errorOf(quoted), 0);
        QCOMPARE(quoted.pieces[0].rowCount, 0);
        // A leading space does count.
        QCOMPARE(f.run("select * from ua_account where cacc_id=' 001'").pieces[0].rowCount, 0);
    }

    void databaseListAndFiles() {
        Fixture f;
        auto r = f.run("select * from master.dbo.sysdatabases where name='tqdata_001_2003'");
        QCOMPARE(r.pieces[0].rowCount, 1);
        QCOMPARE(r.pieces[0].result->columns[0].name, std::string("name"));
        QCOMPARE(
            f.run("select name from master..sysdatabases where name='TQDATA_001_2003 '").pieces[0].rowCount,
            1);
        QCOMPARE(
            f.run("select * from master.dbo.sysdatabases where name='tqdata_001_2001'").pieces[0].rowCount,
            0);
        QCOMPARE(rows(f.run("select name from master.dbo.sysdatabases where dbid<=5 order by dbid")),
                 QStringList({"master", "tempdb", "model", "msdb", "TqSystem"}));
        QCOMPARE(
            rows(f.run("select sum(size) from master.dbo.sysaltfiles where dbid=DB_ID('tqdata_001_2002')"))
                .size(),
            1);
        QVERIFY(
            rows(f.run("select sum(size) from master.dbo.sysaltfiles where dbid=DB_ID('tqdata_001_2002')"))[0]
                .toInt() > 0);
        QCOMPARE(rows(f.run("select sum(size) from master.dbo.sysaltfiles where dbid=DB_ID('nosuch')")),
                 QStringList({"NULL"}));
        f.engine.setDatabaseState("tqdata_001_2002", "OFFLINE");
        QCOMPARE(
            rows(f.run(
                "select DATABASEPROPERTYEX('tqdata_001_2002','Status'), "
                "DATABASEPROPERTYEX('tqdata_001_2003','Status'), DATABASEPROPERTYEX('nosuch','Status')")),
            QStringList({"OFFLINE|ONLINE|NULL"}));
    }

    void dropDatabaseAndItsRefusals() {
        Fixture f;
        QCOMPARE(errorOf(f.run("drop database tqdata_001_2002")), 0);
        QCOMPARE(errorOf(f.run("drop database [TQDATA_001_2003]")), 0);
        QCOMPARE(
            f.run("select * from master.dbo.sysdatabases where name='tqdata_001_2002'").pieces[0].rowCount,
            0);
        QCOMPARE(f.count("sandbox_files", "dbid NOT IN (SELECT dbid FROM sandbox_databases)"), 0);

        auto missing = f.run("drop database tqdata_001_2002");
        QCOMPARE(errorOf(missing), 3701);
        QCOMPARE(missing.pieces[0].messages[0].severity, 11);
        QCOMPARE(
            missing.pieces[0].messages[0].text,
            std::string("Cannot drop the database 'tqdata_001_2002', because it does not exist or you do not "
                        "have permission."));

        f.engine.addForeignSession({0, "tqdata_002_2003", "fin01", "ACCT-PC", "总帐"});
        auto busy = f.run("drop database tqdata_002_2003");
        QCOMPARE(errorOf(busy), 3702);
        QCOMPARE(busy.pieces[0].messages[0].text,
                 std::string("Cannot drop database \"tqdata_002_2003\" because it is currently in use."));

        auto other = f.engine.openSession("tqdata_002_2004");
        QCOMPARE(errorOf(f.run("drop database tqdata_002_2004")), 3702);
        f.engine.closeSession(*other);
        QCOMPARE(errorOf(f.run("drop database tqdata_002_2004")), 0);

        auto inTran = f.run("BEGIN TRANSACTION\ndrop database tqdata_003_2004\nROLLBACK TRANSACTION");
        QCOMPARE(errorOf(inTran), 574);  // not in a user transaction (DROP DATABASE's page)
        QVERIFY(f.engine.databaseExists("tqdata_003_2004"));
        QCOMPARE(f.s->tranCount, 0);
    }

    void purgeStatementsCountWhatTheyDelete() {
        Fixture f;
        const std::vector<std::pair<std::string, int>> purge = {
            {"DELETE FROM UA_Period WHERE cacc_id = '001'", 38},
            {"DELETE FROM UA_holdauth WHERE cacc_id = '001'", 3},
            {"DELETE FROM UA_log WHERE cacc_id = '001'", 6},
            {"Delete from Ua_Identity where cacc_id='001'", 1},
            {"Delete from Ua_auth where cacc_id='001'", 2},
            {"Delete from UA_BackupPlans where cacc_id='001'", 1},
            {"Delete from UA_BackupLog where cacc_id='001'", 3},
            {"DELETE FROM UA_account_sub WHERE cacc_id = '001'", 3},
            {"DELETE FROM UA_account WHERE cacc_id = '001'", 1}};
        for (const auto& [statement, n] : purge) {
            auto r = f.run(statement);
            QCOMPARE(errorOf(r), 0);
            QCOMPARE(r.pieces[0].rowCount, int64_t(n));
        }
        QCOMPARE(f.count("ua_period", "cacc_id = '0010'"), 26);
        QCOMPARE(f.count("ua_account", "1"), 3);
    }

    void integrationLogPatternTakesOnlyItsAccountSet() {
        Fixture f;
        auto r = f.run(
            "Delete from EAILog where Ea_Account like 'tqdata[_]001' or Ea_Account like 'tqdata[_]001[_]%'");
        QCOMPARE(errorOf(r), 0);
        QCOMPARE(r.pieces[0].rowCount, 3);  // tqdata_001, tqdata_001_2003, TQDATA_001_2004
        QCOMPARE(f.engine.queryRaw("SELECT Ea_Account FROM EAILog ORDER BY id"),
                 std::vector<std::string>(
                     {"tqdata_0010_2003", "tqdataX001", "tqdata_002_2004", "tqdata_003_2004"}));

        // The same with ESCAPE, and the unescaped pattern that takes too much, as a real server would.
        Fixture g;
        QCOMPARE(g.run("select count(*) from EAILog where Ea_Account like 'tqdata\\_001' escape '\\' or "
                       "Ea_Account like 'tqdata\\_001\\_%' ESCAPE '\\'")
                     .pieces[0]
                     .result->rows[0][0]
                     .i,
                 3);
        QCOMPARE(g.run("select count(*) from EAILog where Ea_Account like 'tqdata_001%'")
                     .pieces[0]
                     .result->rows[0][0]
                     .i,
                 5);
        QCOMPARE(errorOf(g.run("select count(*) from EAILog where Ea_Account like 'x' escape 'ab'")), 506);
    }

    void transactionsCommitRollbackAndTheirErrors() {
        Fixture f;
        auto begun = f.run("BEGIN TRANSACTION");
        QCOMPARE(begun.pieces[0].tran, TranChange::Begin);
        QVERIFY(begun.pieces[0].tranDescriptor != 0);
        QCOMPARE(begun.pieces[0].rowCount, -1);
        f.run("DELETE FROM UA_log WHERE cacc_id = '001'");
        QCOMPARE(rows(f.run("select @@TRANCOUNT")), QStringList({"1"}));
        auto rolled = f.run("ROLLBACK TRANSACTION");
        QCOMPARE(rolled.pieces[0].tran, TranChange::Rollback);
        QCOMPARE(f.count("UA_log", "cacc_id = '001'"), 6);

        // Several statements in one batch, with and without separators.
        auto r = f.run(
            "SET XACT_ABORT ON; BEGIN TRAN\nDELETE FROM UA_log WHERE cacc_id = '001'\n"
            "Delete from Ua_auth where cacc_id='001' COMMIT");
        QCOMPARE(r.pieces.size(), size_t(5));
        QCOMPARE(r.pieces[2].rowCount, 6);
        QCOMPARE(r.pieces[4].tran, TranChange::Commit);
        QCOMPARE(r.pieces[4].tranDescriptor, r.pieces[1].tranDescriptor);
        QCOMPARE(f.count("Ua_auth", "cacc_id = '001'"), 0);

        QCOMPARE(errorOf(f.run("COMMIT TRANSACTION")), 3902);
        QCOMPARE(errorOf(f.run("ROLLBACK")), 3903);
        // Nested: only the outermost commit ends the transaction.
        auto nested = f.run("BEGIN TRAN BEGIN TRAN COMMIT");
        QCOMPARE(nested.pieces[2].tran, TranChange::None);
        QCOMPARE(f.s->tranCount, 1);
        QCOMPARE(f.run("COMMIT").pieces[0].tran, TranChange::Commit);

        // With implicit transactions a statement over a table opens one that stays open.
        auto implicit = f.run("SET IMPLICIT_TRANSACTIONS ON DELETE FROM UA_log WHERE cacc_id = '002'");
        QCOMPARE(implicit.pieces[1].tran, TranChange::Begin);
        QCOMPARE(f.s->tranCount, 1);
        f.run("ROLLBACK SET IMPLICIT_TRANSACTIONS OFF");
        QCOMPARE(f.count("UA_log", "cacc_id = '002'"), 4);
    }

    void xactAbortRollsBackTheWholeTransaction() {
        Fixture f;
        f.engine.failStatements(
            "delete from ua_log.*",
            {.number = 1205, .state = 45, .severity = 13, .text = "Transaction was deadlocked."}, 1);
        f.run("SET XACT_ABORT ON");
        auto r = f.run(
            "BEGIN TRANSACTION\nDELETE FROM UA_Period WHERE cacc_id = '001'\n"
            "DELETE FROM UA_log WHERE cacc_id = '001'\nDelete from Ua_auth where cacc_id='001'\n"
            "COMMIT TRANSACTION");
        QCOMPARE(r.pieces.size(), size_t(3));  // the batch ends at the failing statement
        QCOMPARE(errorOf(r.pieces[2]), 1205);
        QCOMPARE(r.pieces[2].messages[0].line, 3);
        QCOMPARE(r.pieces[2].tran, TranChange::Rollback);
        QCOMPARE(f.count("ua_period", "cacc_id = '001'"), 38);
        QCOMPARE(errorOf(f.run("COMMIT TRANSACTION")), 3902);
        QCOMPARE(errorOf(f.run("ROLLBACK TRANSACTION")), 3903);

        // Without XACT_ABORT the failing statement alone fails.
        f.engine.failStatements("delete from ua_log.*",
                                {.number = 50000, .state = 1, .severity = 16, .text = "boom"}, 1);
        auto g = f.run(
            "SET XACT_ABORT OFF BEGIN TRANSACTION DELETE FROM UA_Period WHERE cacc_id = '001' "
            "DELETE FROM UA_log WHERE cacc_id = '001' Delete from Ua_auth where cacc_id='001' "
            "COMMIT TRANSACTION");
        QCOMPARE(g.pieces.size(), size_t(6));
        QCOMPARE(errorOf(g.pieces[3]), 50000);
        QCOMPARE(g.pieces[5].tran, TranChange::Commit);
        QCOMPARE(f.count("ua_period", "cacc_id = '001'"), 0);
        QCOMPARE(f.count("UA_log", "cacc_id = '001'"), 6);
        QCOMPARE(f.count("Ua_auth", "cacc_id = '001'"), 0);
    }

    void compileErrorEndsTheBatchButLeavesTheTransactionOpen() {
        // As on a real server: XACT_ABORT does not cover name resolution errors.
        Fixture f;
        f.engine.dropTable("EAILog");
        auto r = f.run(
            "SET XACT_ABORT ON BEGIN TRANSACTION DELETE FROM UA_log WHERE cacc_id = '001' "
            "Delete from EAILog where Ea_Account like 'tqdata[_]001' COMMIT TRANSACTION");
        QCOMPARE(r.pieces.size(), size_t(4));
        QCOMPARE(errorOf(r.pieces[3]), 208);
        QCOMPARE(f.s->tranCount, 1);
        QCOMPARE(f.run("ROLLBACK TRANSACTION").pieces[0].tran, TranChange::Rollback);
        QCOMPARE(f.count("UA_log", "cacc_id = '001'"), 6);
    }

    void droppedConnectionRollsBackAndOthersWaitNoFurther() {
        Fixture f;
        auto other = f.engine.openSession("TqSystem");
        // Both may begin; the first to write holds the store, and one that would not wait fails.
        QCOMPARE(errorOf(f.engine.execBatch(*other, "SET LOCK_TIMEOUT 0 BEGIN TRANSACTION")), 0);
        f.run("BEGIN TRANSACTION DELETE FROM UA_account WHERE cacc_id = '002'");
        QCOMPARE(errorOf(f.engine.execBatch(*other, "DELETE FROM UA_log WHERE cacc_id = '002'")), 1222);
        f.engine.execBatch(*other, "ROLLBACK");
        // Nor in autocommit; a dropped connection gives the store back, its work undone.
        QCOMPARE(errorOf(f.engine.execBatch(*other, "DELETE FROM UA_log WHERE cacc_id = '002'")), 1222);
        f.engine.closeSession(*f.s);
        QCOMPARE(f.count("ua_account", "cacc_id = '002'"), 1);
        QCOMPARE(errorOf(f.engine.execBatch(*other, "DELETE FROM UA_log WHERE cacc_id = '002'")), 0);
        f.engine.closeSession(*other);
    }

    void whichTablesExist() {
        Fixture f;
        const std::string q =
            "select name from sysobjects where xtype='U' and name in "
            "('EAILog','UA_Period','UA_holdauth','UA_log',"
            "'Ua_Identity','Ua_auth','UA_BackupPlans','UA_BackupLog','UA_account_sub','UA_account')";
        QCOMPARE(f.run(q).pieces[0].rowCount, 10);
        QVERIFY(!rows(f.run("select OBJECT_ID('EAILog')"))[0].startsWith("NULL"));
        QCOMPARE(rows(f.run("select OBJECT_ID('EAILog')")),
                 rows(f.run("select OBJECT_ID('TqSystem.dbo.eailog')")));
        f.engine.dropTable("EAILog");
        QCOMPARE(f.run(q).pieces[0].rowCount, 9);
        QCOMPARE(f.run("select name from TqSystem.dbo.sysobjects where xtype='U' and name='EAILog'")
                     .pieces[0]
                     .rowCount,
                 0);
        QCOMPARE(rows(f.run("select OBJECT_ID('EAILog')")), QStringList({"NULL"}));
        auto gone = f.run("Delete from EAILog where Ea_Account like 'tqdata[_]001'");
        QCOMPARE(errorOf(gone), 208);
        QCOMPARE(gone.pieces[0].messages[0].text, std::string("Invalid object name 'EAILog'."));
        // The catalogue tables of TqSystem are not there from another database.
        QCOMPARE(f.run("select name from master.dbo.sysobjects where xtype='U'").pieces[0].rowCount, 0);
    }

    void rowCountsAndSessionsUsingADatabase() {
        Fixture f;
        QCOMPARE(rows(f.run("select count(*) from UA_log where cacc_id='001'")), QStringList({"6"}));
        f.engine.addForeignSession({0, "tqdata_001_2002", "fin01", "ACCT-PC", "总帐"});
        auto mine = f.engine.openSession("tqdata_001_2002", "sa", "desk-02", "tsql");
        const std::string q =
            "select spid,loginame,hostname,program_name from master.dbo.sysprocesses where "
            "dbid=DB_ID('tqdata_001_2002') and spid<>@@SPID";
        auto r = f.run(q);
        QCOMPARE(r.pieces[0].rowCount, 2);
        QStringList listed = rows(r);
        // nchar columns come padded, as from a real server.
        QCOMPARE(listed[0].split('|')[1].trimmed(), QString("sa"));
        QCOMPARE(listed[0].split('|')[2].size(), 128);
        QCOMPARE(listed[1].split('|')[3].trimmed(), QString("总帐"));
        // The session itself is left out; a session that moved away is no longer listed.
        QCOMPARE(f.engine.execBatch(*mine, q).pieces[0].rowCount, 1);
        auto moved = f.engine.execBatch(*mine, "use TQSYSTEM");
        QVERIFY(moved.useDatabaseChanged);
        QCOMPARE(moved.database, std::string("TqSystem"));
        QCOMPARE(moved.pieces[0].messages[0].number, 5701);
        QCOMPARE(f.run(q).pieces[0].rowCount, 1);
        QCOMPARE(errorOf(f.engine.execBatch(*mine, "use nosuch")), 911);
        f.engine.setDatabaseState("tqdata_001_2004", "OFFLINE");
        QCOMPARE(errorOf(f.engine.execBatch(*mine, "use tqdata_001_2004")), 942);
        f.engine.closeSession(*mine);
    }

    void sessionOptionsThatClientsSendOnConnect() {
        Fixture f;
        auto r = f.run(
            "set textsize 2147483647\nset quoted_identifier on\nset arithabort off\nset numeric_roundabort "
            "off\n"
            "set ansi_warnings on\nset ansi_padding on\nset ansi_nulls on\nset concat_null_yields_null on\n"
            "set cursor_close_on_commit off\nset implicit_transactions off\nset language us_english\n"
            "set dateformat mdy\nset datefirst 7\nset transaction isolation level read committed");
        QCOMPARE(errorOf(r), 0);
        QCOMPARE(r.pieces.size(), size_t(14));
        QCOMPARE(r.pieces[10].messages[0].number, 5703);
        auto bad = f.run("set nosuch on");
        QCOMPARE(errorOf(bad), 195);
        QCOMPARE(bad.pieces[0].messages[0].text, std::string("'nosuch' is not a recognized SET option."));
        // NOCOUNT takes the row count off the statements that follow.
        QCOMPARE(f.run("set nocount on select * from ua_account").pieces[1].rowCount, -1);
    }

    void datatypeProbeOfTheDriver() {
        Fixture f;
        for (const char* q :
             {"sp_datatype_info_100 11", "sp_datatype_info_90 11", "exec sp_datatype_info_100 11"}) {
            auto r = f.run(q);
            QCOMPARE(errorOf(r), 0);
            QCOMPARE(r.pieces[0].result->columns.size(), size_t(20));
            QCOMPARE(r.pieces[0].result->columns[19].name, std::string("USERTYPE"));
            QCOMPARE(rows(r)[0].section('|', 0, 2), QString("datetime|11|23"));
        }
        QCOMPARE(errorOf(f.run("exec sp_nosuch")), 2812);
    }

    void logAndFaults() {
        Fixture f;
        f.engine.clearStatementLog();
        f.engine.failStatements("select \\* from ua_account where cacc_id='002'",
                                {.number = 50000, .state = 1, .severity = 16, .text = "injected"}, 2);
        auto a = f.run("select * from ua_account where cacc_id='002'");
        QCOMPARE(errorOf(a), 50000);
        QCOMPARE(a.pieces[0].messages[0].text, std::string("injected"));
        QCOMPARE(errorOf(f.run("SELECT * FROM ua_account WHERE cacc_id='002';")), 50000);
        QCOMPARE(errorOf(f.run("select * from ua_account where cacc_id='002'")), 0);
        // The whole statement must match, not a part of it.
        f.engine.failStatements("delete from ua_account",
                                {.number = 50000, .state = 1, .severity = 16, .text = "injected"});
        QCOMPARE(errorOf(f.run("DELETE FROM UA_account_sub WHERE cacc_id = '002'")), 0);
        QCOMPARE(f.engine.statementLog(),
                 std::vector<std::string>({"select * from ua_account where cacc_id='002'",
                                           "SELECT * FROM ua_account WHERE cacc_id='002';",
                                           "select * from ua_account where cacc_id='002'",
                                           "DELETE FROM UA_account_sub WHERE cacc_id = '002'"}));
    }

    void seedsFromAFileAndAnEmptyInstallation() {
        Engine e;
        e.seedEmpty();
        auto s = e.openSession("TqSystem");
        QCOMPARE(e.execBatch(*s, "select cacc_id,cacc_name from ua_account").pieces[0].rowCount, 0);
        QCOMPARE(e.databases(), std::vector<std::string>({"master", "tempdb", "model", "msdb", "TqSystem"}));
        QTemporaryDir dir;
        QFile file(dir.filePath("seed.sql"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("INSERT INTO ua_account (cacc_id, cacc_name) VALUES ('777', '测试');");
        file.close();
        QVERIFY(e.seedFile(file.fileName().toStdString()));
        e.addDatabase("tqdata_777_2005");
        QCOMPARE(rows(e.execBatch(*s, "select cacc_name from ua_account")), QStringList({"测试"}));
        QCOMPARE(e.execBatch(*s, "select * from master.dbo.sysdatabases where name='tqdata_777_2005'")
                     .pieces[0]
                     .rowCount,
                 1);
        std::string error;
        QVERIFY(!e.seedFile(dir.filePath("missing.sql").toStdString(), &error));
        QVERIFY(!error.empty());
        e.closeSession(*s);
    }
};

ACCTSET_TEST_CLASS(SandboxEngineTest)
#include "sandbox_engine_test.moc"
