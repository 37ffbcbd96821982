// The T-SQL the engine reads: LIKE, the queries a DBA reaches for, their errors, and what it refuses.

#include <QtTest>

#include "EngineFixture.h"
#include "sandbox/Engine.h"
#include "sandbox/sql/Collation.h"
#include "sandbox/tds/Release.h"
#include "support/TestMain.h"

using namespace sandbox;
using namespace sandbox::testing;

class SandboxSqlTest : public QObject {
    Q_OBJECT

private slots:
    void likeRules_data() {
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("pattern");
        QTest::addColumn<QString>("escape");
        QTest::addColumn<bool>("match");
        QTest::newRow("percent") << "tqdata_001_2003"
                                 << "tqdata%"
                                 << "" << true;
        QTest::newRow("underscore is any one") << "tqdataX001"
                                               << "tqdata_001"
                                               << "" << true;
        QTest::newRow("bracketed underscore is literal") << "tqdataX001"
                                                         << "tqdata[_]001"
                                                         << "" << false;
        QTest::newRow("class") << "b1"
                               << "[abc]1"
                               << "" << true;
        QTest::newRow("range") << "q"
                               << "[a-z]"
                               << "" << true;
        QTest::newRow("range folds case") << "Q"
                                          << "[a-z]"
                                          << "" << true;
        QTest::newRow("negated class") << "x"
                                       << "[^x]"
                                       << "" << false;
        QTest::newRow("negated class other") << "y"
                                             << "[^x]"
                                             << "" << true;
        QTest::newRow("percent in class is literal") << "5%"
                                                     << "5[%]"
                                                     << "" << true;
        QTest::newRow("unclosed class matches nothing") << "a["
                                                        << "a["
                                                        << "" << false;
        QTest::newRow("case") << "TQDATA_001"
                              << "tqdata[_]001"
                              << "" << true;
        QTest::newRow("value trailing spaces ignored") << "001  "
                                                       << "001"
                                                       << "" << true;
        QTest::newRow("pattern trailing space counts") << "001"
                                                       << "001 "
                                                       << "" << false;
        QTest::newRow("escape") << "a_b"
                                << "a!_b"
                                << "!" << true;
        QTest::newRow("escaped underscore is literal") << "axb"
                                                       << "a!_b"
                                                       << "!" << false;
        QTest::newRow("escaped percent") << "50%"
                                         << "50!%"
                                         << "!" << true;
        QTest::newRow("trailing escape") << "a!"
                                         << "a!"
                                         << "!" << false;
        QTest::newRow("chinese any one") << "示例帐套"
                                         << "示_帐套"
                                         << "" << true;
        QTest::newRow("empty pattern") << ""
                                       << ""
                                       << "" << true;
        // Many % against a long value that fails at its end: must not take exponential time.
        QTest::newRow("many percents") << QString(200, 'a') << "%a%a%a%a%a%a%a%a%a%a%a%a%c"
                                       << "" << false;
        QTest::newRow("percent backtracks") << "abcabd"
                                            << "%ab_"
                                            << "" << true;
    }
    void likeRules() {
        QFETCH(QString, value);
        QFETCH(QString, pattern);
        QFETCH(QString, escape);
        QFETCH(bool, match);
        std::optional<char32_t> esc;
        if (!escape.isEmpty())
            esc = escape.toUcs4()[0];
        QCOMPARE(sql::likeMatch(value.toStdString(), pattern.toStdString(), esc), match);
    }

    // The smaller pieces of the language a DBA's own queries reach for, against the demo data.
    void queries_data() {
        QTest::addColumn<QString>("batch");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("comments and brackets") << "/* list /* nested */ */ select [cacc_id] from "
                                                  "\"ua_account\" -- trailing\nwhere cacc_name=N'演示公司'"
                                               << QStringList{"002"};
        QTest::newRow("bracket with ]]") << "select 1 as [a]]b]" << QStringList{"1"};
        QTest::newRow("order by ordinal, nulls first")
            << "select cacc_name, cacc_id from ua_account where cacc_id in ('002','003') order by 1"
            << QStringList{"NULL|003", "演示公司|002"};
        QTest::newRow("order by alias desc, top")
            << "select top 2 cacc_id as n from ua_account order by n desc" << QStringList{"003", "002"};
        QTest::newRow("order by column not selected")
            << "select cacc_name from ua_account where cacc_id in ('001','002') order by cacc_id desc"
            << QStringList{"演示公司", "示例帐套"};
        QTest::newRow("aggregates")
            << "select count(*), count(cacc_name), min(iyear), max(iyear), sum(iyear) from ua_account"
            << QStringList{"4|3|2002|2004|8012"};
        QTest::newRow("count distinct")
            << "select count(distinct iyear) from ua_period where iyear<>9999" << QStringList{"3"};
        QTest::newRow("aggregate of no rows")
            << "select count(*), sum(iyear), max(cacc_id) from ua_account where 1=0"
            << QStringList{"0|NULL|NULL"};
        QTest::newRow("in with null is unknown")
            << "select count(*) from ua_account where cacc_id not in ('001', NULL)" << QStringList{"0"};
        QTest::newRow("null is not equal")
            << "select count(*) from ua_account where cacc_name = NULL" << QStringList{"0"};
        QTest::newRow("is null") << "select cacc_id from ua_account where cacc_name is null"
                                 << QStringList{"003"};
        QTest::newRow("between and not")
            << "select cacc_id from ua_account where iyear between 2003 and 2004 and not cacc_id like '00_'"
            << QStringList{"0010"};
        QTest::newRow("precedence")
            << "select count(*) from ua_account where cacc_id='001' or cacc_id='002' and iyear=2002"
            << QStringList{"1"};
        QTest::newRow("arithmetic and concatenation")
            << "select 7/2, 7%2, -3+1, 'a'+'b', 2*iyear from ua_account where cacc_id='001'"
            << QStringList{"3|1|-2|ab|4004"};
        QTest::newRow("functions") << "select isnull(cacc_name,'-'), len('ab  '), upper('ab'), ltrim('  x'), "
                                      "rtrim('x  '), db_name(), "
                                      "db_id('master') from ua_account where cacc_id='003'"
                                   << QStringList{"-|2|AB|x|x|TqSystem|1"};
        QTest::newRow("qualified and aliased columns")
            << "select a.cacc_id from dbo.ua_account a where a.cacc_id='001'" << QStringList{"001"};
        QTest::newRow("qualified star") << "select ua_account.* from ua_account where cacc_id='001'"
                                        << QStringList{"001|示例帐套|C:\\TqSoft\\Admin\\ZT001|2002|1|张会计"};
        QTest::newRow("int column against text")
            << "select count(*) from ua_period where iyear='2003 ' and iperiod='12'" << QStringList{"3"};
        QTest::newRow("only comments") << "-- nothing" << QStringList{};
    }
    void queries() {
        QFETCH(QString, batch);
        QFETCH(QStringList, expected);
        Fixture f;
        auto r = f.run(batch.toStdString());
        QCOMPARE(errorOf(r), 0);
        QCOMPARE(rows(r), expected);
    }

    void queryErrors_data() {
        QTest::addColumn<QString>("batch");
        QTest::addColumn<int>("error");
        QTest::newRow("column outside aggregate") << "select cacc_id, count(*) from ua_account" << 8120;
        QTest::newRow("aggregate in where") << "select cacc_id from ua_account where count(*)>1" << 147;
        QTest::newRow("unbound prefix") << "select x.cacc_id from ua_account" << 4104;
        QTest::newRow("divide by zero") << "select 1/0" << 8134;
        QTest::newRow("text to int") << "select count(*) from ua_account where cacc_name=1" << 245;
        QTest::newRow("variable") << "select @x" << 137;
        QTest::newRow("order position") << "select cacc_id from ua_account order by 2" << 108;
        QTest::newRow("drop table") << "drop table ua_log" << 3701;
        QTest::newRow("system database") << "drop database master" << 3708;
    }
    void queryErrors() {
        QFETCH(QString, batch);
        QFETCH(int, error);
        Fixture f;
        QCOMPARE(errorOf(f.run(batch.toStdString())), error);
        QCOMPARE(f.count("UA_log", "1"), 16);
    }

    void refusesWhatItDoesNotKnow_data() {
        QTest::addColumn<QString>("batch");
        QTest::addColumn<int>("error");
        QTest::addColumn<QString>("text");
        QTest::newRow("typo") << "selec cacc_id from ua_account" << 102 << "Incorrect syntax near 'selec'.";
        QTest::newRow("keyword") << "select * from where" << 156
                                 << "Incorrect syntax near the keyword 'where'.";
        QTest::newRow("unclosed") << "select * from ua_account where cacc_id='001" << 105
                                  << "Unclosed quotation mark after the character string '001'.";
        QTest::newRow("table") << "select * from ua_accounts" << 208 << "Invalid object name 'ua_accounts'.";
        QTest::newRow("three-part table")
            << "select * from nosuch.dbo.ua_account" << 208 << "Invalid object name 'nosuch.dbo.ua_account'.";
        QTest::newRow("column") << "select cacc_nam from ua_account" << 207
                                << "Invalid column name 'cacc_nam'.";
        QTest::newRow("where column")
            << "delete from ua_log where cacc='001'" << 207 << "Invalid column name 'cacc'.";
        QTest::newRow("other statement")
            << "update ua_log set cacc_id = '001'" << 156 << "Incorrect syntax near the keyword 'update'.";
        QTest::newRow("system table") << "delete from master.dbo.sysdatabases" << 259
                                      << "Ad hoc updates to system catalogs are not allowed.";
        QTest::newRow("function") << "select nosuch(1)" << 195
                                  << "'nosuch' is not a recognized built-in function name.";
        QTest::newRow("distinct order")
            << "select distinct cacc_id from ua_period order by iyear" << 145
            << "ORDER BY items must appear in the select list if SELECT DISTINCT is specified.";
    }
    void refusesWhatItDoesNotKnow() {
        QFETCH(QString, batch);
        QFETCH(int, error);
        QFETCH(QString, text);
        Fixture f;
        auto r = f.run(batch.toStdString());
        QCOMPARE(errorOf(r), error);
        QCOMPARE(QString::fromStdString(r.pieces[0].messages[0].text), text);
        QCOMPARE(r.pieces[0].rowCount, -1);
    }

    // What arrived after 2008 R2 fails there as a 2008 R2 server fails it, so that a statement of the
    // tool that needs a later release fails against the sandbox's 2008 R2 too. error2019 -1: the
    // sandbox does not run it in any release.
    void laterFeaturesFailOn2008R2_data() {
        QTest::addColumn<QString>("batch");
        QTest::addColumn<int>("error2008");
        QTest::addColumn<int>("error2019");
        QTest::newRow("sys.databases.replica_id")
            << "select replica_id from sys.databases where name='master'" << 207 << 0;
        QTest::newRow("sys.dm_exec_sessions.database_id")
            << "select database_id from sys.dm_exec_sessions where session_id=@@spid" << 207 << 0;
        QTest::newRow("sys.dm_exec_sessions.open_transaction_count")
            << "select open_transaction_count from sys.dm_exec_sessions" << 207 << 0;
        QTest::newRow("sys.dm_exec_requests.database_id (2005 on)")
            << "select database_id from sys.dm_exec_requests" << 0 << 0;
        QTest::newRow("CONCAT") << "select concat('a', null, 'b')" << 195 << 0;
        QTest::newRow("TRY_CONVERT") << "select try_convert(int, '1')" << 195 << -1;
        QTest::newRow("FORMAT") << "select format(1, 'N')" << 195 << -1;
        QTest::newRow("STRING_AGG") << "select string_agg(cacc_id, ',') from ua_account" << 195 << -1;
        QTest::newRow("IIF") << "select iif(1, 'a', 'b')" << 195 << -1;
        QTest::newRow("THROW") << "select 1\nTHROW 50000, 'x', 1" << 102 << -1;
    }
    void laterFeaturesFailOn2008R2() {
        QFETCH(QString, batch);
        QFETCH(int, error2008);
        QFETCH(int, error2019);
        Fixture f;
        if (error2019 >= 0)
            QCOMPARE(errorOf(f.run(batch.toStdString())), error2019);
        f.engine.setProduct(sandbox::tds::releaseFacts(Release::SqlServer2008R2).product);
        QCOMPARE(errorOf(f.run(batch.toStdString())), error2008);
    }

    void serverPropertiesOf2008R2() {
        Fixture f;
        f.engine.setBackupDirectory("/srv/backup");
        QCOMPARE(rows(f.run("select concat('a', null, 'b')")), QStringList{"ab"});
        QCOMPARE(rows(f.run("select serverproperty('InstanceDefaultBackupPath')")),
                 QStringList{"/srv/backup"});
        f.engine.setProduct(sandbox::tds::releaseFacts(Release::SqlServer2008R2).product);
        QCOMPARE(rows(f.run("select serverproperty('InstanceDefaultBackupPath')")), QStringList{"NULL"});
        QCOMPARE(rows(f.run("select convert(nvarchar(128), serverproperty('ProductVersion'))")),
                 QStringList{"10.50.6542.0"});
    }

    void syntaxErrorRunsNothingOfTheBatch() {
        Fixture f;
        auto r = f.run("DELETE FROM UA_log WHERE cacc_id = '001'\nselect from");
        QCOMPARE(r.pieces.size(), size_t(1));
        QCOMPARE(r.pieces[0].messages[0].line, 2);
        QCOMPARE(f.count("UA_log", "cacc_id = '001'"), 6);
        // The session stays usable.
        QCOMPARE(errorOf(f.run("select 1")), 0);

        // A bad column of a table that exists stops the batch before it runs, as a compile error;
        // a table that doesn't exist is only found missing when its statement comes.
        auto column = f.run("DELETE FROM UA_log WHERE cacc_id = '001'\nselect cacc_nam from ua_account");
        QCOMPARE(column.pieces.size(), size_t(1));
        QCOMPARE(errorOf(column), 207);
        QCOMPARE(f.count("UA_log", "cacc_id = '001'"), 6);
        auto table = f.run("DELETE FROM UA_log WHERE cacc_id = '001'\nselect * from nosuch\nselect 1");
        QCOMPARE(table.pieces.size(), size_t(2));
        QCOMPARE(errorOf(table.pieces[1]), 208);
        QCOMPARE(f.count("UA_log", "cacc_id = '001'"), 0);
    }
};

ACCTSET_TEST_CLASS(SandboxSqlTest)
#include "sandbox_sql_test.moc"
