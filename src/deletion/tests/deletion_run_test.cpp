// The whole deletion run without a window: the request value in, the outcome out, every statement
// answered by a scripted installation.
#include <QtTest>

#include "deletion/Backups.h"
#include "deletion/Deletion.h"
#include "support/FakeInstallation.h"

namespace {

using deletion::Outcome;
using deletion::Request;
using namespace Expected;

const QString kConfirmAccount = QStringLiteral(
    "此操作将会从系统数据库TqSystem的关键数据表中删除帐套001的信息,此操作不可恢复,确认删除帐套?");
const QString kNotQueried = QStringLiteral("无法查询数据库服务器,删除操作已停止,没有删除任何数据!");

// Records what the progress window was told; cancels when the backup of a given database starts.
class View final : public deletion::BackupView {
public:
    void start(const QStringList& dbs) override { started = dbs; }
    void progress(qsizetype, int, const QString& what) override {
        steps << what;
        if (!cancelAt.isEmpty() && what == cancelAt)
            isCancelled = true;
    }
    bool cancelled() const override { return isCancelled; }
    void finish() override { finished = true; }

    QStringList started;
    QStringList steps;
    QString cancelAt;
    bool isCancelled = false;
    bool finished = false;
};

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
    bool confirmWithCheck(const QString& text, const QString& details, const QString& checkText,
                          bool* checked) override {
        checkShown = checkText + (*checked ? " [x]" : " [ ]");
        checkDetails = details;
        *checked = backupsChosen;
        return confirm(text, details);
    }
    QString serverName() override { return "SRV01"; }
    deletion::BackupView* backupView() override { return &view; }
    void showWait() override { waiting = true; }
    void closeWait() override { waiting = false; }
    void yield() override {}

    QList<bool> answers;  // OK unless told otherwise
    QStringList shown;
    QString lastDetails;
    QString previewDetails;
    int confirmations = 0;
    bool waiting = false;
    bool backupsChosen = true;
    QString checkShown;
    QString checkDetails;
    View view;

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

    QTemporaryDir undoDir;

    QStringList savedScripts() const {
        const QDir d(undoDir.path());
        QStringList out;
        for (const QString& f : d.entryList({"*.sql"}, QDir::Files))
            out << d.filePath(f);
        return out;
    }
    QString savedScript() const {
        QFile f(savedScripts().value(0));
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
    }

private slots:
    void initTestCase() {
        QVERIFY(undoDir.isValid());
        qputenv("ACCTSET_UNDO_DIR", undoDir.path().toUtf8());
    }

    void init() {
        for (const QString& f : savedScripts())
            QFile::remove(f);
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
        const QString sessions = sessionsOf({"tqdata_001_2002", "tqdata_001_2003"});
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
        QTest::newRow("version query fails") << "001"
                                             << "2002;2003" << QList<bool>{} << kVersion << kNotQueried;
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

    // One line per session, however many lock rows (parallel workers) and databases it has.
    void databaseInUseIsNamedWithItsSessions() {
        const QVariantList report{53, "sa", "PC-ACCT01", "报表工具"};
        inst.sessions["tqdata_001_2003"] = {report, report, {61, "li", "PC-2", "tsql"}};
        inst.sessions["tqdata_001_2002"] = {report};
        QCOMPARE(run(request("001", "2002;2003")), Outcome::Stopped);
        QVERIFY(host->previewDetails.contains("tqdata_001_2003: 20.0 MB, ONLINE, 2 个连接"));
        QCOMPARE(host->shown.last(),
                 "以下数据库正在被其他连接使用,删除操作已停止,没有删除任何数据!\n"
                 "会话53(登录名 sa, 主机 PC-ACCT01, 程序 报表工具) "
                 "正在使用数据库tqdata_001_2002、tqdata_001_2003\n"
                 "会话61(登录名 li, 主机 PC-2, 程序 tsql) 正在使用数据库tqdata_001_2003\n"
                 "请断开这些连接后重试。");
        verifyUntouched();
    }

    // Every hazard found in the one check before the first drop stops the run, each database
    // named with its reasons, the server's values in the details.
    void hazardsStopBeforeAnyDrop_data() {
        QTest::addColumn<QString>("hazard");
        QTest::addColumn<QString>("reason");
        QTest::newRow("snapshot") << "snapshot"
                                  << "是数据库快照tqdata_001_2003_snap的源数据库,须先删除快照";
        QTest::newRow("published") << "published"
                                   << "已发布用于复制";
        QTest::newRow("merge") << "merge"
                               << "已发布用于合并复制";
        QTest::newRow("subscribed") << "subscribed"
                                    << "是复制的订阅数据库";
        QTest::newRow("mirrored") << "mirrored"
                                  << "已配置数据库镜像(PRINCIPAL)";
        QTest::newRow("availability group") << "ag"
                                            << "属于可用性组";
        QTest::newRow("restoring") << "RESTORING"
                                   << "正在还原(RESTORING)";
        QTest::newRow("recovering") << "RECOVERING"
                                    << "正在恢复(RECOVERING)";
        QTest::newRow("suspect") << "SUSPECT"
                                 << "置疑(SUSPECT)";
        QTest::newRow("emergency") << "EMERGENCY"
                                   << "紧急模式(EMERGENCY)";
        QTest::newRow("single user, taken") << "single"
                                            << "单用户模式(SINGLE_USER),已被其他会话占用: 会话70";
        QTest::newRow("gone since the existence check") << "gone"
                                                        << "服务器上已找不到该数据库";
    }
    void hazardsStopBeforeAnyDrop() {
        QFETCH(QString, hazard);
        QFETCH(QString, reason);
        const QString db = "tqdata_001_2003";
        if (hazard == "snapshot")
            inst.snapshots[db + "_snap"] = db;
        else if (hazard == "published")
            inst.published << db;
        else if (hazard == "merge")
            inst.mergePublished << db;
        else if (hazard == "subscribed")
            inst.subscribed << db;
        else if (hazard == "mirrored")
            inst.mirrored << db;
        else if (hazard == "ag")
            inst.inAvailabilityGroup << db;
        else if (hazard == "single") {
            inst.singleUser << db;
            inst.sessions[db] = {{70, "sa", "DBA-PC", "Management Studio"}};
        } else if (hazard == "gone") {
            script->onStatement = [&](const QString& sql) {
                if (sql.startsWith(kVersion))
                    inst.databases.removeAll(db);
                script->answer(sql, inst.answer(sql), 1);
            };
        } else
            inst.states[db] = hazard;
        QCOMPARE(run(request("001", "2002;2003")), Outcome::Stopped);
        const QString notice = host->shown.last();
        QVERIFY2(notice.startsWith("以下年度数据库目前不能删除,删除操作已停止,没有删除任何数据!\n数据库" +
                                   db + ": ") &&
                     notice.contains(reason) && !notice.contains("tqdata_001_2002"),
                 qPrintable(notice));
        if (hazard != "gone")
            QVERIFY2(host->lastDetails.startsWith(db + ": state_desc="), qPrintable(host->lastDetails));
        verifyUntouched();
    }

    // 2008 R2 has no replica_id: the check must not name it there.
    void availabilityGroupsAreAskedOfThoseThatHaveThem_data() {
        QTest::addColumn<QString>("version");
        QTest::addColumn<bool>("asked");
        QTest::newRow("2008 R2") << "10.50.6000.34" << false;
        QTest::newRow("2012") << "11.0.7001.0" << true;
        QTest::newRow("2022") << "16.0.1000.6" << true;
        QTest::newRow("unreadable") << "" << true;
    }
    void availabilityGroupsAreAskedOfThoseThatHaveThem() {
        QFETCH(QString, version);
        QFETCH(bool, asked);
        inst.version = version;
        QCOMPARE(run(request("001", "2002;2003")), Outcome::Succeeded);
        QVERIFY(script->log.contains(
            checksOf({"tqdata_001_2002", "tqdata_001_2003"}, asked).split(";\n").first()));
    }

    // OFFLINE is flagged before the first confirmation and its files are named after the drop; a
    // single-user database nobody else holds is no hazard.
    void offlineDatabaseIsFlaggedAndItsFilesNamed() {
        inst.states["tqdata_001_2003"] = "OFFLINE";
        inst.singleUser << "tqdata_001_2002";
        QCOMPARE(run(request("001", "2002;2003")), Outcome::Succeeded);
        QVERIFY2(host->previewDetails.contains(
                     "tqdata_001_2003: 20.0 MB, OFFLINE(注意: 数据库未联机), 无其他连接"),
                 qPrintable(host->previewDetails));
        QCOMPARE(host->shown.last(),
                 "帐套001(2002;2003年)已成功删除!\n注意: 以下数据库删除时处于脱机状态(OFFLINE),"
                 "其数据文件仍留在服务器的磁盘上,需要手工删除:\ntqdata_001_2003");
    }

    // A preview or a check that waits out a lock stops before anything changes, naming who held
    // it; a purge that does is rolled back and reported, never claimed.
    void lockTimeOuts_data() {
        QTest::addColumn<QString>("failing");
        QTest::addColumn<QString>("holder");  // "lock", "transaction" or none
        const QString count = "select count(*) from UA_log where cacc_id='001'";
        const QString purge = "DELETE FROM UA_log WHERE cacc_id = '001'";
        QTest::newRow("preview count") << count << "lock";
        QTest::newRow("existence check")
            << "select * from master.dbo.sysdatabases where name='tqdata_001_2002'"
            << "lock";
        QTest::newRow("purge") << purge << "lock";
        QTest::newRow("purge, lock rows not listed") << purge << "transaction";
        QTest::newRow("purge, holder gone") << purge << "";
    }
    void lockTimeOuts() {
        QFETCH(QString, failing);
        QFETCH(QString, holder);
        inst.failures[failing] =
            FakeInstallation::serverError(1222, "Lock request time out period exceeded.");
        const QVariantList session{58, "sa", "PC-FIN3", "帐务处理"};
        inst.openTransactions = {{60, "sa", "PC-X", "x"}};
        if (holder == "lock")
            inst.lockHolders = {session};
        else if (holder == "transaction")
            inst.openTransactions << session;
        else
            inst.openTransactions.clear();
        const bool purge = failing.startsWith("DELETE");
        QCOMPARE(run(request("001", "2002")), purge ? Outcome::Failed : Outcome::Stopped);
        const QString named = holder == "lock"
                                  ? "占用锁的会话:\n会话58(登录名 sa, 主机 PC-FIN3, 程序 帐务处理)"
                              : holder == "transaction"
                                  ? "持有未提交事务的会话(占用锁的会话在其中):\n会话60(登录名 sa, 主机 PC-X, "
                                    "程序 x)\n会话58(登录名 sa, 主机 PC-FIN3, 程序 帐务处理)"
                                  : "占用锁的会话在查询时已经结束,无法查明是哪个会话。";
        const QString notice = host->shown.last();
        // The purge failed after the way back was kept: its details name the script and backups too.
        QVERIFY2(host->lastDetails.startsWith("Lock request time out period exceeded. (1222)"),
                 qPrintable(host->lastDetails));
        QVERIFY(inst.accounts.contains("001"));
        if (!purge) {
            QCOMPARE(notice, "等待其他会话释放锁超时,删除操作已停止,没有删除任何数据!\n" + named);
            QCOMPARE(host->confirmations, failing.startsWith("select count") ? 0 : 2);
            verifyUntouched();
            return;
        }
        QVERIFY2(
            notice.startsWith(kDeleteFailed + "\n等待其他会话释放锁超时,系统数据库中的删除已全部撤销。\n" +
                              named + "\n以下内容仍在服务器上:\n"),
            qPrintable(notice));
        // The holders are asked for at once, before anything else is sent.
        const qsizetype failed = script->log.indexOf(failing);
        QVERIFY(script->log.at(failed + 1).contains("open_tran>0"));
        QVERIFY(script->log.at(failed + 2).contains("sys.dm_tran_locks"));
        QCOMPARE(script->log.at(failed + 3), "ROLLBACK TRANSACTION");
    }

    // The plain sequence without the window's number check takes 12 + 2 per year; the checks before
    // the first drop, the way back (the table list, then the rows and their columns in one batch), the
    // backup folder and per year the backup and its verification add to it. Only the purge runs under
    // the wait window.
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
        QCOMPARE(script->roundTrips, years ? 11 + 4 * years : 8);
        QCOMPARE(savedScripts().size(), 1);
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
        QVERIFY(host->lastDetails.startsWith("tqdata_001_2002: in use (3702)\n撤销脚本: "));
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
        QVERIFY(host->lastDetails.startsWith("deadlock (1205)\n撤销脚本: "));
        QVERIFY(inst.accounts.contains("001"));
    }

    void unreadableTableListSendsNoPurge() {
        int seen = 0;
        script->onStatement = [&](const QString& sql) {
            // The preview's list answers; the purge's does not.
            if (sql == kTables && ++seen == 3)
                inst.failures[kTables] = FakeInstallation::serverError(233, "pipe gone");
            script->answer(sql, inst.answer(sql), 1);
        };
        QCOMPARE(run(request("001")), Outcome::Failed);
        QVERIFY(!script->log.contains("BEGIN TRANSACTION"));
        QVERIFY(host->lastDetails.startsWith("pipe gone (233)"));
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
        QVERIFY(host->lastDetails.startsWith("pipe gone (233)\n撤销脚本: "));
    }
    // Every backup is made and verified, and the script saved, before the first drop; the outcome
    // says where the way back is.
    void wayBackIsKeptBeforeTheFirstDrop() {
        QCOMPARE(run(request("001", "2002;2003")), Outcome::Succeeded);
        QVERIFY2(host->previewDetails.contains("上次完整备份:\n    tqdata_001_2002: 从未备份\n"
                                               "    tqdata_001_2003: 从未备份"),
                 qPrintable(host->previewDetails));
        QCOMPARE(host->checkShown, "删除前备份年度数据库 [x]");
        QCOMPARE(
            host->checkDetails,
            "备份目录(服务器上): D:\\Backup\n    tqdata_001_2002: 20.0 MB\n    tqdata_001_2003: 20.0 MB");

        QCOMPARE(inst.backupFiles.size(), 2);
        const QRegularExpression named(R"(D:\\Backup\\tqdata_001_200[23]_\d{8}_\d{6}\.bak)");
        QVERIFY(named.match(inst.backupFiles[0]).hasMatch() && inst.backupFiles[0].contains("2002"));
        const qsizetype firstDrop = script->log.indexOf("drop database [tqdata_001_2002]");
        const QStringList beforeDrop = script->log.mid(0, firstDrop);
        for (const QString& file : inst.backupFiles) {
            const qsizetype made = beforeDrop.indexOf(
                QRegularExpression("BACKUP DATABASE .*" + QRegularExpression::escape(file) + ".*"));
            QVERIFY(made >= 0);
            QCOMPARE(beforeDrop[made + 1], "RESTORE VERIFYONLY FROM DISK = N'" + file + "' WITH CHECKSUM");
        }
        QVERIFY(beforeDrop.last().startsWith("select * from UA_account where cacc_id='001'"));
        QCOMPARE(host->view.started, (QStringList{"tqdata_001_2002", "tqdata_001_2003"}));
        QVERIFY(host->view.finished);

        const QString undo = savedScript();
        QVERIFY(savedScripts().value(0).contains("SRV01_001_"));
        QVERIFY(undo.contains("RESTORE DATABASE [tqdata_001_2003] FROM DISK = N'" + inst.backupFiles[1] +
                              "' WITH RECOVERY;"));
        const qsizetype account = undo.indexOf(
            "SET IDENTITY_INSERT [UA_account] ON;\n"
            "INSERT INTO [UA_account] ([id], [cacc_id], [note]) VALUES (1, N'001', N'UA_account 行1');");
        QVERIFY(account > 0);
        QVERIFY(undo.indexOf("INSERT INTO [EAILog]") > account);
        QCOMPARE(undo.count("INSERT INTO"), 1 + 3 + 2 * 8);
        QCOMPARE(host->lastDetails, "撤销脚本: " + savedScripts().value(0) + "\n备份文件(服务器上):\n    " +
                                        inst.backupFiles.join("\n    "));
    }

    void untickedBackupsStillKeepTheScript() {
        host->backupsChosen = false;
        QCOMPARE(run(request("001", "2002")), Outcome::Succeeded);
        QCOMPARE(host->checkShown, "删除前备份年度数据库 [x]");
        QVERIFY(inst.backupFiles.isEmpty());
        QVERIFY(!script->log.join('\n').contains("BACKUP"));
        QVERIFY(!savedScript().contains("RESTORE DATABASE"));
        QCOMPARE(savedScript().count("INSERT INTO"), 1 + 3 + 2 * 8);
    }

    // A backup, its verification or the script that fails, and a cancel, stop the run before any
    // change, naming the database, the server's words and the files already made.
    void wayBackFailureStopsBeforeAnyChange_data() {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("notice");
        QTest::addColumn<QString>("details");  // a part of them
        QTest::newRow("backup refused")
            << "backup"
            << "备份数据库tqdata_001_2003失败,删除操作已停止,没有删除任何数据!"
            << "Operating system error 3 (3201)\n已完成的备份文件(服务器上,保留):\n    "
               "D:\\Backup\\tqdata_001_2002_";
        QTest::newRow("no backup folder") << "folder"
                                          << "无法确定服务器的默认备份目录,删除操作已停止,没有删除任何数据!"
                                          << "";
        QTest::newRow("cancelled") << "cancel"
                                   << "备份已取消,删除操作已停止,没有删除任何数据!"
                                   << "已完成的备份文件(服务器上,保留):\n    D:\\Backup\\tqdata_001_2002_";
        QTest::newRow("script not saved") << "script"
                                          << "无法保存撤销脚本,删除操作已停止,没有删除任何数据!"
                                          << "备份文件(服务器上):\n    D:\\Backup\\tqdata_001_2002_";
    }
    void wayBackFailureStopsBeforeAnyChange() {
        QFETCH(QString, fault);
        QFETCH(QString, notice);
        QFETCH(QString, details);
        QTemporaryDir blocked;
        if (fault == "backup")
            inst.backupFailures["tqdata_001_2003"] =
                FakeInstallation::serverError(3201, "Cannot open backup device. Operating system error 3");
        else if (fault == "folder")
            inst.backupDir.clear();
        else if (fault == "cancel")
            host->view.cancelAt = "正在备份 tqdata_001_2003";
        else if (fault == "script") {
            // A file where the folder should be: no user, not even root, can create it.
            QFile file(blocked.filePath("file"));
            QVERIFY(file.open(QIODevice::WriteOnly));
            qputenv("ACCTSET_UNDO_DIR", blocked.filePath("file/acctset-remover").toUtf8());
        }
        const Outcome outcome = run(request("001", "2002;2003"));
        qputenv("ACCTSET_UNDO_DIR", undoDir.path().toUtf8());
        QCOMPARE(outcome, Outcome::Stopped);
        QCOMPARE(host->shown.last(), notice);
        QVERIFY2(host->lastDetails.contains(details), qPrintable(host->lastDetails));
        verifyUntouched();
        QCOMPARE(inst.databases.size(), 3);
        QVERIFY(savedScripts().isEmpty());
        if (fault == "folder")
            QVERIFY(script->log.join('\n').contains("xp_instance_regread"));
        if (fault == "cancel")
            QVERIFY(host->view.finished);
    }
};

QTEST_APPLESS_MAIN(DeletionRunTest)
#include "deletion_run_test.moc"
