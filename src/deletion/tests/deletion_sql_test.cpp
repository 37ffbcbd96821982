// Statement texts and the year list of a deletion, without a window.
#include <QtTest>

#include "deletion/DeletionSql.h"
#include "support/TestMain.h"

using namespace DeletionSql;

class DeletionSqlTest : public QObject {
    Q_OBJECT

private slots:
    // For an ordinary number every statement is byte for byte what installations have always seen.
    void ordinaryInputKeepsTheClassicTexts() {
        QCOMPARE(accountLookup("001"), "select * from ua_account where cAcc_id='001'");
        QCOMPARE(accountVerification("001"), "select * from ua_account where cacc_id='001'");
        QCOMPARE(databaseExists(databaseName("001", "2003")),
                 "select * from master.dbo.sysdatabases where name='tqdata_001_2003'");
        QCOMPARE(dropDatabase(databaseName("001", "2002")), "drop database [tqdata_001_2002]");

        const QStringList expected{
            "Delete from EAILog where Ea_Account = 'tqdata_001' or Ea_Account like 'tqdata[_]001[_]%'",
            "DELETE FROM UA_Period WHERE cacc_id = '001'",
            "DELETE FROM UA_holdauth WHERE cacc_id = '001'",
            "DELETE FROM UA_log WHERE cacc_id = '001'",
            "Delete from Ua_Identity where cacc_id='001'",
            "Delete from Ua_auth where cacc_id='001'",
            "Delete from UA_BackupPlans where cacc_id='001'",
            "Delete from UA_BackupLog where cacc_id='001'",
            "DELETE FROM UA_account_sub WHERE cacc_id = '001'",
            "DELETE FROM UA_account WHERE cacc_id = '001'",
        };
        QStringList statements;
        for (const PurgeStatement& p : purgeStatements("001"))
            statements << p.statement;
        QCOMPARE(statements, expected);
        QCOMPARE(purgeStatements("001")[3].count, "select count(*) from UA_log where cacc_id='001'");
        QCOMPARE(
            existingTables(),
            "select name from sysobjects where xtype='U' and name in ('EAILog','UA_Period','UA_holdauth',"
            "'UA_log','Ua_Identity','Ua_auth','UA_BackupPlans','UA_BackupLog','UA_account_sub','UA_account'"
            ")");
    }

    // A quote, bracket or semicolon in the input stays inside its literal or identifier.
    void hostileInputStaysInsideItsLiteral() {
        QCOMPARE(accountLookup("0'1"), "select * from ua_account where cAcc_id='0''1'");
        QCOMPARE(purgeStatements("1';drop table x--").last().statement,
                 "DELETE FROM UA_account WHERE cacc_id = '1'';drop table x--'");
        QCOMPARE(dropDatabase(databaseName("a]b", "2002")), "drop database [tqdata_a]]b_2002]");
        QCOMPARE(dropDatabase("x];drop database y;--"), "drop database [x]];drop database y;--]");
        // Beyond ASCII a value goes as a Unicode literal; a bracketed name needs none.
        QCOMPARE(accountLookup("帐1"), "select * from ua_account where cAcc_id=N'帐1'");
        QCOMPARE(purgeStatements("帐1")[1].statement, "DELETE FROM UA_Period WHERE cacc_id = N'帐1'");
        QCOMPARE(purgeStatements("帐1")[1].count, "select count(*) from UA_Period where cacc_id=N'帐1'");
        QCOMPARE(databaseExists(databaseName("帐1", "2002")),
                 "select * from master.dbo.sysdatabases where name=N'tqdata_帐1_2002'");
        QCOMPARE(dropDatabase(databaseName("帐1", "2002")), "drop database [tqdata_帐1_2002]");
        QCOMPARE(databaseExists(databaseName("0'1", "20'02")),
                 "select * from master.dbo.sysdatabases where name='tqdata_0''1_20''02'");
        QCOMPARE(
            databaseSessions({"tqdata_0'1_2002", "b"}),
            "select distinct l.request_session_id as spid,db_name(l.resource_database_id) as dbname,"
            "s.login_name,s.host_name,s.program_name from sys.dm_tran_locks l join sys.dm_exec_sessions s "
            "on s.session_id=l.request_session_id where l.resource_type='DATABASE' and "
            "l.resource_database_id in (DB_ID('tqdata_0''1_2002'),DB_ID('b')) and "
            "l.request_session_id<>@@SPID");
        QCOMPARE(databaseHazards({"a'b"}, false).databases,
                 "select name,state_desc,user_access_desc,is_published,is_subscribed,is_merge_published from "
                 "sys.databases where name in ('a''b')");
        QCOMPARE(databasesListed({"a'b", "c"}),
                 "select name from master.dbo.sysdatabases where name in ('a''b','c')");
        QCOMPARE(databaseSize("tq'x"),
                 "select sum(size) from master.dbo.sysaltfiles where dbid=DB_ID('tq''x')");
        QCOMPARE(databaseState("tq'x"), "select convert(nvarchar(128),DATABASEPROPERTYEX('tq''x','Status'))");
    }

    void integrationLogPatternEscapesWildcards_data() {
        QTest::addColumn<QString>("number");
        QTest::addColumn<QString>("condition");
        // The bare name with "=" (no wildcards there), the yearly names with LIKE.
        QTest::newRow("plain") << "0010"
                               << "Ea_Account = 'tqdata_0010' or Ea_Account like 'tqdata[_]0010[_]%'";
        QTest::newRow("percent") << "0%"
                                 << "Ea_Account = 'tqdata_0%' or Ea_Account like 'tqdata[_]0[%][_]%'";
        QTest::newRow("underscore") << "_1"
                                    << "Ea_Account = 'tqdata__1' or Ea_Account like 'tqdata[_][_]1[_]%'";
        QTest::newRow("bracket") << "[a]"
                                 << "Ea_Account = 'tqdata_[a]' or Ea_Account like 'tqdata[_][[]a][_]%'";
        QTest::newRow("quote") << "0'1"
                               << "Ea_Account = 'tqdata_0''1' or Ea_Account like 'tqdata[_]0''1[_]%'";
        QTest::newRow("quote and wildcard")
            << "'%"
            << "Ea_Account = 'tqdata_''%' or Ea_Account like 'tqdata[_]''[%][_]%'";
        QTest::newRow("not ASCII") << "帐1"
                                   << "Ea_Account = N'tqdata_帐1' or Ea_Account like N'tqdata[_]帐1[_]%'";
    }
    void integrationLogPatternEscapesWildcards() {
        QFETCH(QString, number);
        QFETCH(QString, condition);
        QCOMPARE(eaiLogCondition(number), condition);
        QCOMPARE(purgeStatements(number).first().statement, "Delete from EAILog where " + condition);
        QCOMPARE(purgeStatements(number).first().count, "select count(*) from EAILog where " + condition);
    }
};

ACCTSET_TEST_CLASS(DeletionSqlTest)
#include "deletion_sql_test.moc"
