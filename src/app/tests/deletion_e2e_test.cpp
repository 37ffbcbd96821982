// Deletions end to end: the real window and driver stack against the sandbox server.
#include <QtTest>

#include <QTimer>

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>

#include "app/DropDownList.h"
#include "app/FrmMain.h"
#include "app/FrmShowDel.h"
#include "app/MessageBox.h"
#include "sandbox/Sandbox.h"
#include "support/E2eFixture.h"
#include "support/ExpectedText.h"
#include "support/TestMain.h"

namespace {

using namespace Expected;

const QStringList kCatalogue{"ua_account", "ua_period",      "UA_holdauth",  "UA_log",        "Ua_Identity",
                             "Ua_auth",    "UA_BackupPlans", "UA_BackupLog", "UA_account_sub"};
QString sqliteText(const QString& v) {
    return "'" + QString(v).replace("'", "''") + "'";
}

}  // namespace

class DeletionE2eTest : public QObject {
    Q_OBJECT

    E2eFixture e2e;
    sandbox::Server* server = nullptr;
    FrmMain* w = nullptr;

    sandbox::Engine& engine() { return server->engine(); }

    QStringList raw(const QString& sql) {
        QStringList out;
        for (const std::string& s : engine().queryRaw(sql.toStdString()))
            out << QString::fromStdString(s);
        return out;
    }
    void exec(const QString& sql) {
        std::string error;
        QVERIFY2(engine().execRaw(sql.toStdString(), &error), error.c_str());
    }

    // Every catalogue row by account set, the integration log and the database list.
    QStringList snapshot() {
        QStringList out;
        for (const QString& t : kCatalogue)
            out << t + ": " + raw("SELECT cacc_id FROM " + t + " ORDER BY rowid").join(',');
        out << "EAILog: " + raw("SELECT Ea_Account FROM EAILog ORDER BY rowid").join(',');
        QStringList dbs;
        for (const std::string& d : engine().databases())
            dbs << QString::fromStdString(d);
        dbs.sort();
        out << "databases: " + dbs.join(',');
        return out;
    }
    int rowsOf(const QString& id) {
        int n = 0;
        for (const QString& t : kCatalogue)
            n += raw("SELECT count(*) FROM " + t + " WHERE cacc_id=" + sqliteText(id)).value(0).toInt();
        return n;
    }

    QStringList log() { return e2e.log(); }

    // Connected through the window, the number (and years) typed, the focus moved on.
    void prepare(const QString& number, bool tick = false, const QString& years = {}) {
        e2e.connect();
        QVERIFY(w->TxtAccNo->isEnabled());
        QTest::keyClicks(w->TxtAccNo, number);
        if (tick)
            QTest::mouseClick(w->ChkDelDB, Qt::LeftButton);
        QCOMPARE(w->ChkDelDB->isChecked(), tick);
        w->txtYear->setText(years);
        w->CmdDel->setFocus();
        QVERIFY(w->CmdDel->isEnabled());
        MessageBox::takeShown();
        // Backups have tests of their own below; elsewhere the box is left unticked.
        if (tick)
            MessageBox::queueChecks({false});
        engine().clearStatementLog();
    }

    QList<MessageBox::Shown> shown;  // the boxes of the last press

    QString pressDelete() {
        QTest::mouseClick(w->CmdDel, Qt::LeftButton);
        shown = MessageBox::takeShown();
        return shown.isEmpty() ? QString() : shown.last().text;
    }

    QTemporaryDir undoDir;

private slots:
    void initTestCase() {
        QVERIFY(undoDir.isValid());
        qputenv("ACCTSET_UNDO_DIR", undoDir.path().toUtf8());
    }

    void init() {
        std::string error;
        QVERIFY2(e2e.startServer({}, &error), error.c_str());
        server = e2e.server.get();
        engine().seedDemo();
        QVERIFY(e2e.setUp());
        w = &e2e.window();
    }
    void cleanup() {
        w = nullptr;
        server = nullptr;
        E2E_TEAR_DOWN(e2e);
    }

    // Account set 001 without its databases: every catalogue row of 001 goes, 0010 and the rest stay.
    void emptyAccountSetLeavesItsNeighbours() {
        const QStringList before = snapshot();
        const int rows0010 = rowsOf("0010");
        prepare("001");
        QCOMPARE(pressDelete(), "空帐套号001已成功删除!");
        QCOMPARE(rowsOf("001"), 0);
        QCOMPARE(rowsOf("0010"), rows0010);
        QCOMPARE(raw("SELECT Ea_Account FROM EAILog ORDER BY id"),
                 (QStringList{"tqdata_0010_2003", "tqdataX001", "tqdata_002_2004", "tqdata_003_2004"}));
        QCOMPARE(snapshot().last(), before.last());  // no database dropped
        QCOMPARE(w->ComAccList->findText("001(示例帐套)"), -1);
        QVERIFY(w->ComAccList->findText("0010(示例帐套分公司)") >= 0);
    }

    // Two years with the box ticked: the statements as the server received them, in order.
    void accountSetWithTwoYears() {
        prepare("001", true, "2002;2003");
        const QString periods = raw("SELECT count(*) FROM ua_period WHERE cacc_id='001'").value(0);
        QCOMPARE(pressDelete(), "帐套001(2002;2003年)已成功删除!");
        // The preview's batch read through the driver: a count from its middle, a database from its end.
        const QString details = shown.first().details;
        QVERIFY2(details.contains("UA_Period: " + periods + " 行"), qPrintable(details));
        QVERIFY2(details.contains(QRegularExpression("tqdata_001_2003: [0-9.]+ MB, ONLINE, 无其他连接")),
                 qPrintable(details));

        // One entry per batch the server received.
        QStringList counts;
        for (const QString& t : kPurgeTables) {
            counts << (t == "EAILog" ? "select count(*) from EAILog where Ea_Account = 'tqdata_001' or "
                                       "Ea_Account like 'tqdata[_]001[_]%'"
                                     : "select count(*) from " + t + " where cacc_id='001'");
        }
        const QStringList dbs{"tqdata_001_2002", "tqdata_001_2003"};
        // The registration row's count is the look-up's.
        QStringList preview = counts.mid(0, 9);
        for (const QString& db : dbs)
            preview << "select sum(size) from master.dbo.sysaltfiles where dbid=DB_ID('" + db + "')"
                    << stateOf(db);
        preview << sessionsOf(dbs) << backupPreview(dbs);
        QStringList verification{lookup("001")};
        verification << counts.mid(0, 9)
                     << "select name from master.dbo.sysdatabases where name in "
                        "('tqdata_001_2002','tqdata_001_2003')";
        const QStringList expected{
            lookup("001"),
            "select * from ua_account where cAcc_id='001';\n" + kTables,
            preview.join(";\n"),
            "select * from master.dbo.sysdatabases where name='tqdata_001_2002'",
            "select * from master.dbo.sysdatabases where name='tqdata_001_2003'",
            kVersion,
            checksOf(dbs),  // the sandbox plays 2019 by default
            undoReadOf001().join(";\n"),
            sessionsOf(dbs),
            "alter database [tqdata_001_2002] set single_user with no_wait",
            "alter database [tqdata_001_2003] set single_user with no_wait",
            "drop database [tqdata_001_2002]",
            "drop database [tqdata_001_2003]",
            (QStringList{"SET XACT_ABORT ON", "BEGIN TRANSACTION"} << purgeOf001() << "COMMIT TRANSACTION")
                .join(";\n"),
            verification.join(";\n")};
        // How the second confirmation finds the backup folder depends on the server's version.
        QStringList got = log();
        got.removeIf([](const QString& s) {
            return s == kBackupFolder || s.startsWith("exec master.dbo.xp_instance_regread");
        });
        if (qEnvironmentVariableIsSet("ACCTSET_PRINT_LOG"))
            qInfo().noquote() << got.join('\n');
        QCOMPARE(guardsAsN(got.mid(0, expected.size())), expected);
        QCOMPARE(got.last(), "select cacc_id,cacc_name from ua_account");  // the refresh

        QCOMPARE(rowsOf("001"), 0);
        const QString left = snapshot().last();
        QVERIFY2(!left.contains("tqdata_001_2002") && !left.contains("tqdata_001_2003"), qPrintable(left));
        QVERIFY2(left.contains("tqdata_001_2004") && left.contains("tqdata_0010_2003"), qPrintable(left));
        QVERIFY(w->TxtAccNo->text().isEmpty() && !w->ChkDelDB->isChecked() && w->txtYear->isHidden());

        // On record beside the undo script: where, as whom, what, the outcome and the way back.
        QFile journal(undoDir.filePath("deletions.log"));
        QVERIFY(journal.open(QIODevice::ReadOnly));
        const QStringList lines = QString::fromUtf8(journal.readAll()).split('\n');
        QCOMPARE(lines.last(), QString());
        const QStringList line = lines.value(lines.size() - 2).split('\t');
        QCOMPARE(line.mid(1, 5), (QStringList{e2e.serverName(), "sa", "001", "2002;2003", "succeeded"}));
        QCOMPARE(QFileInfo(line.value(6)).absolutePath(), undoDir.path());
        QVERIFY(QFileInfo(line.value(6)).isFile());
        QCOMPARE(line.value(7), QString());  // the backups were left unticked
    }

    void databaseInUseStopsEverything() {
        engine().addForeignSession({71, "tqdata_001_2003", "zhang", "PC-ACC2", "报表工具"});
        const QStringList before = snapshot();
        prepare("001", true, "2002;2003");
        const QString notice = pressDelete();
        QVERIFY2(notice.contains("tqdata_001_2003") && notice.contains("zhang") &&
                     notice.contains("PC-ACC2") && notice.contains("报表工具"),
                 qPrintable(notice));
        QCOMPARE(snapshot(), before);
        for (const QString& s : log())
            QVERIFY2(!s.startsWith("drop") && !s.startsWith("Delete", Qt::CaseInsensitive), qPrintable(s));
    }

    // Another program's transaction on UA_log, begun once the way back is kept and the purge is
    // about to start: the purge gives up after the lock time-out, is rolled back whole and the
    // holder is named.
    void purgeBlockedByAnotherSession() {
        const QStringList before = snapshot();
        prepare("001");
        int holder = 0;
        QTimer watch;
        connect(&watch, &QTimer::timeout, this, [&] {
            if (FrmShowDel::current() && holder == 0)
                holder =
                    engine().holdLock("UA_log", std::chrono::milliseconds(-1), "fin", "PC-FIN3", "fin-app");
        });
        watch.start(1);
        engine().clearLockWaits();
        const QString outcome = pressDelete();
        watch.stop();
        QVERIFY(holder != 0);
        // One wait, the purge's, ended by its time-out; nothing after it waits on that lock again,
        // so the outcome comes about one lock time-out after the wait began.
        const auto waits = engine().lockWaits();
        QCOMPARE(waits.size(), size_t(1));
        QVERIFY(waits[0].timedOut);
        QCOMPARE(QString::fromStdString(waits[0].object), "UA_log");
        QVERIFY2(
            outcome.startsWith(kDeleteFailed + "\n等待其他会话释放锁超时,系统数据库中的删除已全部撤销。\n") &&
                outcome.contains("(登录名 fin, 主机 PC-FIN3, 程序 fin-app)"),
            qPrintable(outcome));
        QVERIFY2(shown.last().details.contains("(1222)"), qPrintable(shown.last().details));
        engine().releaseLock(holder);
        QCOMPARE(snapshot(), before);
    }

    // The same transaction begun while the operator reads the confirmation: the rows for the undo
    // script cannot be read, so the run stops before anything changes.
    void lockDuringConfirmationStopsBeforeAnyChange() {
        const QStringList before = snapshot();
        prepare("001");
        int holder = 0;
        MessageBox::setOnShown([&](const MessageBox::Shown& s) {
            if (s.kind == MessageBox::Confirmation && holder == 0)
                holder =
                    engine().holdLock("UA_log", std::chrono::milliseconds(-1), "fin", "PC-FIN3", "fin-app");
        });
        const QString outcome = pressDelete();
        MessageBox::setOnShown({});
        QVERIFY(holder != 0);
        QVERIFY2(outcome.contains("没有删除任何数据"), qPrintable(outcome));
        engine().releaseLock(holder);
        QCOMPARE(snapshot(), before);
        for (const QString& s : log())
            QVERIFY2(!s.startsWith("drop") && !s.startsWith("Delete", Qt::CaseInsensitive), qPrintable(s));
    }

    // Hazards stop the run before the first drop; the OFFLINE database is flagged beforehand.
    void hazardsStopBeforeAnyDrop() {
        QVERIFY(engine().setDatabaseHazard("tqdata_001_2002", "snapshot"));
        QVERIFY(engine().setDatabaseHazard("tqdata_001_2003", "published"));
        QVERIFY(engine().setDatabaseState("tqdata_001_2004", "OFFLINE"));
        const QStringList before = snapshot();
        prepare("001", true, "2002;2003;2004");
        const QString notice = pressDelete();
        QVERIFY2(notice.startsWith("以下年度数据库目前不能删除,删除操作已停止,没有删除任何数据!\n") &&
                     notice.contains("数据库tqdata_001_2002: 是数据库快照snap_tqdata_001_2002的源数据库") &&
                     notice.contains("数据库tqdata_001_2003: 已发布用于复制") &&
                     !notice.contains("tqdata_001_2004"),
                 qPrintable(notice));
        const QString details = shown.first().details;
        QVERIFY2(details.contains(
                     QRegularExpression("tqdata_001_2004: [0-9.]+ MB, OFFLINE\\(注意: 数据库未联机\\)")),
                 qPrintable(details));
        QCOMPARE(snapshot(), before);
        for (const QString& s : log())
            QVERIFY2(!s.startsWith("drop") && !s.contains("Delete", Qt::CaseInsensitive), qPrintable(s));
    }

    // Its files as the server listed them before the drop: the very ones it left on disk.
    void offlineDatabaseIsDroppedAndItsFilesNamed() {
        QVERIFY(engine().setDatabaseState("tqdata_001_2003", "OFFLINE"));
        prepare("001", true, "2002;2003");
        const QString outcome = pressDelete();
        QStringList files;
        for (const std::string& f : engine().orphanedFiles())
            files << "    " + QString::fromStdString(f);
        QCOMPARE(files.size(), 2);
        QCOMPARE(outcome,
                 "帐套001(2002;2003年)已成功删除!\n注意: 以下数据库删除时处于脱机状态(OFFLINE),"
                 "其数据文件仍留在服务器的磁盘上,需要手工删除:\ntqdata_001_2003:\n" +
                     files.join('\n'));
    }

    // A session elsewhere that names a listed database in three-part names holds it too.
    void sessionUsingADatabaseByThreePartNames() {
        auto other = engine().openSession("TQSystem", "li", "PC-LI", "report-tool");
        const auto opened =
            engine().execBatch(*other, "BEGIN TRAN select count(*) from tqdata_001_2003.dbo.sysobjects");
        for (const auto& piece : opened.pieces)
            QVERIFY(piece.messages.empty());
        const QStringList before = snapshot();
        prepare("001", true, "2002;2003");
        const QString notice = pressDelete();
        QVERIFY2(
            notice.startsWith("以下数据库正在被其他连接使用") &&
                notice.contains("(登录名 li, 主机 PC-LI, 程序 report-tool) 正在使用数据库tqdata_001_2003\n"),
            qPrintable(notice));
        QCOMPARE(snapshot(), before);
        engine().closeSession(*other);
    }

    // A number typed in full width finds account set 001, as the server's collation does, and
    // deletes its rows and databases only.
    void fullWidthNumberDeletesItsOwnAccountSet() {
        const int rows0010 = rowsOf("0010");
        prepare("1", true);
        // Typed through an input method: the test's key clicks carry ASCII only.
        w->TxtAccNo->setText("\uFF10\uFF10\uFF11");
        w->txtYear->setText("\uFF12\uFF10\uFF10\uFF12\uFF1B\uFF12\uFF10\uFF10\uFF13");
        MessageBox::takeShown();
        QCOMPARE(pressDelete(), "帐套001(2002;2003年)已成功删除!");
        QCOMPARE(rowsOf("001"), 0);
        QCOMPARE(rowsOf("0010"), rows0010);
        const QString dbs = snapshot().last();
        QVERIFY2(!dbs.contains("tqdata_001_2002") && !dbs.contains("tqdata_001_2003"), qPrintable(dbs));
        QVERIFY2(dbs.contains("tqdata_001_2004") && dbs.contains("tqdata_0010_2003"), qPrintable(dbs));
    }

    // The bare name is matched with "=", which ignores trailing blanks (LIKE on a Unicode value
    // would not): the padded row goes, and the preview counted it.
    void integrationLogRowWithTrailingBlank() {
        exec("INSERT INTO EAILog (id, Ea_Account) VALUES (200, 'tqdata_001 ')");
        const int before = raw("SELECT count(*) FROM EAILog").value(0).toInt();
        prepare("001");
        QCOMPARE(pressDelete(), "空帐套号001已成功删除!");
        QCOMPARE(raw("SELECT count(*) FROM EAILog WHERE id = 200").value(0), "0");
        QCOMPARE(raw("SELECT Ea_Account FROM EAILog ORDER BY id"),
                 (QStringList{"tqdata_0010_2003", "tqdataX001", "tqdata_002_2004", "tqdata_003_2004"}));
        const int deleted = before - raw("SELECT count(*) FROM EAILog").value(0).toInt();
        QVERIFY2(shown.first().details.contains("EAILog: " + QString::number(deleted) + " 行"),
                 qPrintable(shown.first().details));
    }

    void installationWithoutIntegrationLog() {
        engine().dropTable("EAILog");
        prepare("002");
        QCOMPARE(pressDelete(), "空帐套号002已成功删除!");
        QCOMPARE(rowsOf("002"), 0);
        QVERIFY(!log().join('\n').contains("from EAILog"));
    }

    // A statement refused mid-purge: the transaction is rolled back and the catalogue is as it was.
    void failedStatementLeavesTheCatalogue() {
        engine().failStatements(
            "Delete from Ua_auth where cacc_id='001'",
            {1205, 45, 13, "Transaction was deadlocked and has been chosen as the deadlock victim."});
        const QStringList before = snapshot();
        prepare("001");
        const QString outcome = pressDelete();
        QVERIFY2(outcome.startsWith(kDeleteFailed + "\n以下内容仍在服务器上:\nEAILog: "),
                 qPrintable(outcome));
        QCOMPARE(snapshot(), before);
        QVERIFY(log().contains("ROLLBACK TRANSACTION"));
    }

    void droppedConnectionMidPurgeLeavesTheCatalogue() {
        const QStringList before = snapshot();
        prepare("001");
        // The check, the look-up with the table list, the preview and the undo script's rows: the
        // purge finds the connection gone.
        server->dropConnectionAfter(1 + 1 + 1 + 1);
        QCOMPARE(pressDelete(), kDeleteFailed);
        server->dropConnectionAfter(-1);
        QCOMPARE(snapshot(), before);
    }

    // Rows a store keeps and a database a drop leaves behind are found and named, not reported as
    // success. The store's triggers ignore the deletes quietly, as a server-side trigger could.
    void leftoversAreNamed() {
        exec("CREATE TRIGGER keep_sub BEFORE DELETE ON UA_account_sub BEGIN SELECT RAISE(IGNORE); END;");
        exec(
            "CREATE TRIGGER keep_db BEFORE DELETE ON sandbox_databases WHEN old.name = 'tqdata_001_2003' "
            "BEGIN SELECT RAISE(IGNORE); END;");
        const int subRows = raw("SELECT count(*) FROM UA_account_sub WHERE cacc_id='001'").value(0).toInt();
        QVERIFY(subRows > 0);
        prepare("001", true, "2002;2003");
        const QString outcome = pressDelete();
        QCOMPARE(outcome, kDeleteFailed +
                              "\n以下内容仍在服务器上:\nUA_account_sub: " + QString::number(subRows) +
                              " 行\n数据库tqdata_001_2003\n以下年度数据库已删除,无法恢复:\ntqdata_001_2002");
        QCOMPARE(raw("SELECT count(*) FROM ua_account WHERE cacc_id='001'").value(0), "0");
    }

    // Odd numbers stay inside their literals and patterns: only their own rows go.
    void oddNumbersDeleteOnlyTheirOwnRows_data() {
        QTest::addColumn<QString>("id");
        QTest::newRow("quote") << "0'1";
        QTest::newRow("brackets") << "[0]1]";
        QTest::newRow("inner space") << "0 1";
        QTest::newRow("percent") << "0%";
        QTest::newRow("underscore") << "_01";
        QTest::newRow("semicolon") << "1;drop database tqdata_002_2003";
    }
    void oddNumbersDeleteOnlyTheirOwnRows() {
        QFETCH(QString, id);
        const QStringList before = snapshot();
        const QString v = sqliteText(id);
        exec("INSERT INTO ua_account (cacc_id, cacc_name) VALUES (" + v + ", 'odd');" +
             "INSERT INTO ua_period (cacc_id, iyear, iperiod) VALUES (" + v + ", 2003, 1);" +
             "INSERT INTO UA_log (cacc_id, cuser_id) VALUES (" + v + ", 'x');" +
             "INSERT INTO EAILog (id, Ea_Account) VALUES (100, " + sqliteText("tqdata_" + id + "_2003") +
             ");");
        engine().addDatabase(("tqdata_" + id + "_2003").toStdString());

        prepare(id, true, "2003");
        QCOMPARE(pressDelete(), "帐套" + id + "(2003年)已成功删除!");
        QCOMPARE(rowsOf(id), 0);
        QCOMPARE(snapshot(), before);
    }
};

ACCTSET_TEST_CLASS(DeletionE2eTest)
#include "deletion_e2e_test.moc"
