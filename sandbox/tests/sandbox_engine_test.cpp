// The SQL side driven directly (no TDS): the statements the tool sends and the errors a server gives.

#include <QTemporaryDir>
#include <QtTest>

#include "sandbox/Engine.h"
#include "sandbox/sql/Collation.h"

using namespace sandbox;

namespace {

int errorOf(const Piece& p) {
    for (const auto& m : p.messages)
        if (m.severity > 10)
            return m.number;
    return 0;
}
int errorOf(const BatchResult& r) {
    for (const auto& p : r.pieces)
        if (int e = errorOf(p))
            return e;
    return 0;
}

QString cellText(const Value& v, ColType t) {
    if (v.null)
        return "NULL";
    if (t == ColType::NVarChar || t == ColType::DateTime)
        return QString::fromStdString(v.text);
    if (t == ColType::Float)
        return QString::number(v.f);
    return QString::number(v.i);
}

// Every row of the first result set, cells joined by "|".
QStringList rows(const BatchResult& r) {
    QStringList out;
    for (const auto& p : r.pieces) {
        if (!p.result)
            continue;
        for (const auto& row : p.result->rows) {
            QStringList cells;
            for (size_t i = 0; i < row.size(); ++i)
                cells << cellText(row[i], p.result->columns[i].type);
            out << cells.join('|');
        }
        break;
    }
    return out;
}

struct Fixture {
    Engine engine;
    std::unique_ptr<Session> s;
    Fixture() {
        engine.seedDemo();
        s = engine.openSession("TQSystem", "sa", "desk-01", "acctset-remover");
    }
    BatchResult run(const std::string& sql) { return engine.execBatch(*s, sql); }
    int count(const std::string& table, const std::string& where) {
        auto r = engine.queryRaw("SELECT count(*) FROM " + table + " WHERE " + where);
        return r.empty() ? -1 : std::stoi(r[0]);
    }
};

}  // namespace

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
        QCOMPARE(errorOf(inTran), 226);
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
        // Both may begin; the first to write holds the store.
        QCOMPARE(errorOf(f.engine.execBatch(*other, "BEGIN TRANSACTION")), 0);
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

QTEST_GUILESS_MAIN(SandboxEngineTest)
#include "sandbox_engine_test.moc"
