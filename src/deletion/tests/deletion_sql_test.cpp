// Statement texts and the year list of a deletion, without a window.
#include <QtTest>

#include "deletion/DeletionSql.h"

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
            "Delete from EAILog where Ea_Account like 'tqdata[_]001' or Ea_Account like 'tqdata[_]001[_]%'",
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
        QCOMPARE(databaseExists(databaseName("0'1", "20'02")),
                 "select * from master.dbo.sysdatabases where name='tqdata_0''1_20''02'");
        QCOMPARE(databaseSessions({"tqdata_0'1_2002", "b"}),
                 "select spid,loginame,hostname,program_name,db_name(dbid) as dbname from "
                 "master.dbo.sysprocesses where dbid in (DB_ID('tqdata_0''1_2002'),DB_ID('b')) and "
                 "spid<>@@SPID");
        QCOMPARE(databasesListed({"a'b", "c"}),
                 "select name from master.dbo.sysdatabases where name in ('a''b','c')");
        QCOMPARE(databaseSize("tq'x"),
                 "select sum(size) from master.dbo.sysaltfiles where dbid=DB_ID('tq''x')");
        QCOMPARE(databaseState("tq'x"), "select DATABASEPROPERTYEX('tq''x','Status')");
    }

    void integrationLogPatternEscapesWildcards_data() {
        QTest::addColumn<QString>("number");
        QTest::addColumn<QString>("condition");
        QTest::newRow("plain") << "0010"
                               << "Ea_Account like 'tqdata[_]0010' or Ea_Account like 'tqdata[_]0010[_]%'";
        QTest::newRow("percent") << "0%"
                                 << "Ea_Account like 'tqdata[_]0[%]' or Ea_Account like 'tqdata[_]0[%][_]%'";
        QTest::newRow("underscore")
            << "_1"
            << "Ea_Account like 'tqdata[_][_]1' or Ea_Account like 'tqdata[_][_]1[_]%'";
        QTest::newRow("bracket")
            << "[a]"
            << "Ea_Account like 'tqdata[_][[]a]' or Ea_Account like 'tqdata[_][[]a][_]%'";
        QTest::newRow("quote") << "0'1"
                               << "Ea_Account like 'tqdata[_]0''1' or Ea_Account like 'tqdata[_]0''1[_]%'";
        QTest::newRow("quote and wildcard")
            << "'%"
            << "Ea_Account like 'tqdata[_]''[%]' or Ea_Account like 'tqdata[_]''[%][_]%'";
    }
    void integrationLogPatternEscapesWildcards() {
        QFETCH(QString, number);
        QFETCH(QString, condition);
        QCOMPARE(eaiLogCondition(number), condition);
        QCOMPARE(purgeStatements(number).first().statement, "Delete from EAILog where " + condition);
        QCOMPARE(purgeStatements(number).first().count, "select count(*) from EAILog where " + condition);
    }
};

QTEST_APPLESS_MAIN(DeletionSqlTest)
#include "deletion_sql_test.moc"
