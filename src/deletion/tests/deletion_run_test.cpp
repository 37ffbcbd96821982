// The whole deletion run without a window: the request value in, the outcome out, every statement
// answered by a scripted installation.
#include <QtTest>

#include "deletion/Deletion.h"
#include "support/FakeInstallation.h"

namespace {

using deletion::Outcome;
using deletion::Request;
using namespace Expected;

const QString kConfirmAccount = QStringLiteral(
    "此操作将会从系统数据库TqSystem的关键数据表中删除帐套001的信息,此操作不可恢复,确认删除帐套?");
const QString kNotQueried = QStringLiteral("无法查询数据库服务器,删除操作已停止,没有删除任何数据!");

class Host final : public deletion::DeletionHost {
public:
    explicit Host(std::shared_ptr<FakeScript> s) : client_(std::move(s)) { client_.open({}); }

    SqlClient& client() override { return client_; }
    void notice(const QString& text, const QString& details) override {
        shown << text;
        lastDetails = details;
    }
    bool confirm(const QString& text, const QString& details) override {
        shown << text;
        if (confirmations++ == 0)
            previewDetails = details;
        return answers.isEmpty() || answers.takeFirst();
    }
    void showWait() override { waiting = true; }
    void closeWait() override { waiting = false; }
    void yield() override {}

    QList<bool> answers;  // OK unless told otherwise
    QStringList shown;
    QString lastDetails;
    QString previewDetails;
    int confirmations = 0;
    bool waiting = false;

private:
    FakeSqlClient client_;
};

Request request(const QString& number, const QString& years = {}) {
    return {number, !years.isNull(), YearList::fromText(years)};
}

}  // namespace

class DeletionRunTest : public QObject {
    Q_OBJECT

    std::shared_ptr<FakeScript> script;
    FakeInstallation inst;
    std::unique_ptr<Host> host;
    QStringList duringWait;  // statements sent while the wait window was up

    Outcome run(const Request& r, QList<bool> answers = {}) {
        host->answers = answers;
        script->log.clear();
        script->roundTrips = 0;
        return deletion::run(r, *host);
    }

    // Nothing on the server changed.
    void verifyUntouched() {
        for (const QString& s : script->log) {
            QVERIFY2(!s.startsWith("delete", Qt::CaseInsensitive) && !s.startsWith("drop"), qPrintable(s));
            QVERIFY(s != "BEGIN TRANSACTION");
        }
        QVERIFY(inst.accounts.contains("001"));
        QVERIFY(!host->waiting);
    }

private slots:
    void init() {
        inst = FakeInstallation{};
        inst.databases = {"tqdata_001_2002", "tqdata_001_2003", "tqdata_002_2002"};
        script = std::make_shared<FakeScript>();
        duringWait.clear();
        script->onStatement = [this](const QString& sql) {
            if (host && host->waiting)
                duringWait << sql;
            script->answer(sql, inst.answer(sql), 1);
        };
        host = std::make_unique<Host>(script);
    }

    // Every way the request stops before the first change, with the one notice it gives.
    void stopsBeforeAnythingChanges_data() {
        QTest::addColumn<QString>("number");
        QTest::addColumn<QString>("years");  // null: box unticked
        QTest::addColumn<QList<bool>>("answers");
        QTest::addColumn<QString>("failing");  // a statement the server refuses
        QTest::addColumn<QString>("last");     // the last box shown
        const QString sessions =
            "select spid,loginame,hostname,program_name,db_name(dbid) as dbname from master.dbo.sysprocesses "
            "where dbid in (DB_ID('tqdata_001_2002'),DB_ID('tqdata_001_2003')) and spid<>@@SPID";
        QTest::newRow("blank number") << "" << QString() << QList<bool>{} << ""
                                      << "请输入要删除的帐套号!";
        QTest::newRow("unknown number") << "099" << QString() << QList<bool>{} << ""
                                        << "帐套(099)不存在!";
        QTest::newRow("look-up fails") << "001" << QString() << QList<bool>{}
                                       << "select * from ua_account where cAcc_id='001'" << kNotQueried;
        QTest::newRow("first cancelled") << "001" << QString() << QList<bool>{false} << "" << kConfirmAccount;
        QTest::newRow("second cancelled") << "001"
                                          << "2002" << QList<bool>{true, false} << ""
                                          << "操作已取消!";
        QTest::newRow("no year") << "001"
                                 << ";" << QList<bool>{} << ""
                                 << "请输入要删除帐套的完整年度信息(如2002;2003)!";
        QTest::newRow("empty entry") << "001"
                                     << "2002;;2003" << QList<bool>{} << ""
                                     << "数据库tqdata_001_不存在!";
        QTest::newRow("last year missing") << "001"
                                           << "2002;2004" << QList<bool>{} << ""
                                           << "数据库tqdata_001_2004不存在!";
        QTest::newRow("existence query fails")
            << "001"
            << "2002;2003" << QList<bool>{}
            << "select * from master.dbo.sysdatabases where name='tqdata_001_2003'" << kNotQueried;
        QTest::newRow("in-use query fails") << "001"
                                            << "2002;2003" << QList<bool>{} << sessions << kNotQueried;
    }
    void stopsBeforeAnythingChanges() {
        QFETCH(QString, number);
        QFETCH(QString, years);
        QFETCH(QList<bool>, answers);
        QFETCH(QString, failing);
        QFETCH(QString, last);
        if (!failing.isEmpty())
            inst.failures[failing] = FakeInstallation::serverError(10054, "connection reset");
        QCOMPARE(run(request(number, years), answers), Outcome::Stopped);
        QCOMPARE(host->shown.last(), last);
        if (!failing.isEmpty())
            QCOMPARE(host->lastDetails, "connection reset (10054)");
        verifyUntouched();
        QCOMPARE(inst.databases.size(), 3);
    }

    void databaseInUseIsNamedWithItsSessions() {
        inst.sessions["tqdata_001_2003"] = {{53, "sa      ", "PC-ACCT01", "报表工具"}};
        QCOMPARE(run(request("001", "2002;2003")), Outcome::Stopped);
        QVERIFY(host->previewDetails.contains("tqdata_001_2003: 20.0 MB, ONLINE, 1 个连接"));
        QVERIFY(host->previewDetails.contains("tqdata_001_2002: 20.0 MB, ONLINE, 无其他连接"));
        const QString notice = host->shown.last();
        QVERIFY2(notice.contains("数据库tqdata_001_2003: 会话53(登录名 sa, 主机 PC-ACCT01, 程序 报表工具)") &&
                     !notice.contains("tqdata_001_2002"),
                 qPrintable(notice));
        verifyUntouched();
    }

    // No more round trips than the plain sequence without the window's number check (12 + 2 per
    // year), and the purge alone under the wait window.
    void succeedsInFewRoundTrips_data() {
        QTest::addColumn<int>("years");
        QTest::newRow("unticked") << 0;
        QTest::newRow("1 year") << 1;
        QTest::newRow("10 years") << 10;
        QTest::newRow("50 years") << 50;
    }
    void succeedsInFewRoundTrips() {
        QFETCH(int, years);
        inst.databases = {"tqdata_002_2002"};
        QStringList list;
        for (int i = 0; i < years; ++i) {
            list << QString::number(2002 + i);
            inst.databases << "tqdata_001_" + list.last();
        }
        const Request r = request("001", years ? list.join(';') + ";" : QString());
        QCOMPARE(run(r), Outcome::Succeeded);
        QCOMPARE(host->shown.last(),
                 years ? "帐套001(" + list.join(';') + "年)已成功删除!" : QString("空帐套号001已成功删除!"));
        QCOMPARE(script->roundTrips, years ? 7 + 2 * years : 6);
        QVERIFY(script->roundTrips <= 12 + 2 * years);
        QCOMPARE(duringWait, (QStringList{kTables, "SET XACT_ABORT ON", "BEGIN TRANSACTION"}
                              << purgeOf001() << "COMMIT TRANSACTION"));
        QVERIFY(!inst.accounts.contains("001"));
        QCOMPARE(inst.databases, QStringList{"tqdata_002_2002"});
    }

    void failedDropIsNamedAndTheCatalogueStillPurged() {
        inst.failures["drop database [tqdata_001_2002]"] = FakeInstallation::serverError(3702, "in use");
        QCOMPARE(run(request("001", "2002;2003")), Outcome::PartlyFailed);
        QCOMPARE(host->shown.last(),
                 "帐套001已从系统数据库中删除,但以下年度数据库未能删除:\ntqdata_001_2002\n"
                 "已删除的年度数据库:\ntqdata_001_2003");
        QCOMPARE(host->lastDetails, "tqdata_001_2002: in use (3702)");
        QVERIFY(!inst.accounts.contains("001"));
    }

    // A refused delete rolls the whole purge back at once; the rows are named as still there.
    void failedPurgeRollsBack() {
        inst.failures["Delete from Ua_auth where cacc_id='001'"] =
            FakeInstallation::serverError(1205, "deadlock");
        QCOMPARE(run(request("001", "2002")), Outcome::Failed);
        const qsizetype failed = script->log.indexOf("Delete from Ua_auth where cacc_id='001'");
        QCOMPARE(script->log.mid(failed + 1, 2), (QStringList{"ROLLBACK TRANSACTION", lookup("001")}));
        QVERIFY(!script->log.contains("COMMIT TRANSACTION"));
        const QString outcome = host->shown.last();
        QVERIFY2(outcome.startsWith(kDeleteFailed + "\n以下内容仍在服务器上:\nEAILog: 3 行\n"),
                 qPrintable(outcome));
        QVERIFY(outcome.endsWith("UA_account: 1 行\n以下年度数据库已删除,无法恢复:\ntqdata_001_2002"));
        QCOMPARE(host->lastDetails, "deadlock (1205)");
        QVERIFY(inst.accounts.contains("001"));
    }

    void unreadableTableListSendsNoPurge() {
        int seen = 0;
        script->onStatement = [&](const QString& sql) {
            // The preview's list answers; the purge's does not.
            if (sql == kTables && ++seen == 2)
                inst.failures[kTables] = FakeInstallation::serverError(233, "pipe gone");
            script->answer(sql, inst.answer(sql), 1);
        };
        QCOMPARE(run(request("001")), Outcome::Failed);
        QVERIFY(!script->log.contains("BEGIN TRANSACTION"));
        QCOMPARE(host->lastDetails, "pipe gone (233)");
        QVERIFY(inst.accounts.contains("001"));
    }

    // Success needs every table and every dropped database checked and found empty.
    void leftoversAreNamed_data() {
        QTest::addColumn<QString>("keptTable");
        QTest::addColumn<QString>("keptDatabase");
        QTest::addColumn<QString>("named");
        QTest::newRow("rows")
            << "UA_log"
            << ""
            << "UA_log: 2 行\n以下年度数据库已删除,无法恢复:\ntqdata_001_2002\ntqdata_001_2003";
        QTest::newRow("integration log") << "EAILog"
                                         << ""
                                         << "EAILog: 3 行\n以下年度数据库已删除";
        QTest::newRow("database") << ""
                                  << "tqdata_001_2003"
                                  << "数据库tqdata_001_2003\n以下年度数据库已删除,无法恢复:\ntqdata_001_2002";
    }
    void leftoversAreNamed() {
        QFETCH(QString, keptTable);
        QFETCH(QString, keptDatabase);
        QFETCH(QString, named);
        inst.keptBy << keptTable;
        inst.keptDatabases << keptDatabase;
        QCOMPARE(run(request("001", "2002;2003")), Outcome::Failed);
        const QString outcome = host->shown.last();
        QVERIFY2(outcome.startsWith(kDeleteFailed + "\n以下内容仍在服务器上:\n" + named),
                 qPrintable(outcome));
    }

    void unreadableVerificationIsAFailure() {
        script->onStatement = [&](const QString& sql) {
            if (sql == "COMMIT TRANSACTION")
                inst.failures[lookup("001")] = FakeInstallation::serverError(233, "pipe gone");
            script->answer(sql, inst.answer(sql), 1);
        };
        QCOMPARE(run(request("001")), Outcome::Failed);
        QCOMPARE(host->shown.last(), kDeleteFailed);
        QCOMPARE(host->lastDetails, "pipe gone (233)");
    }
};

QTEST_APPLESS_MAIN(DeletionRunTest)
#include "deletion_run_test.moc"
