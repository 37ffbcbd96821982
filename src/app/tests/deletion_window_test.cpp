// The delete button and the delete-databases box, driven through the real window against a
// scripted installation that records every statement.
#include <QtTest>

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>

#include "app/FrmBackupProgress.h"
#include "app/FrmMain.h"
#include "app/FrmShowDel.h"
#include "app/MessageBox.h"
#include "support/ExpectedText.h"
#include "support/FakeInstallation.h"
#include "support/FakeSqlClient.h"
#include "support/TestMain.h"

namespace {

using namespace Expected;

const QString kNotQueried = QStringLiteral("无法查询数据库服务器,删除操作已停止,没有删除任何数据!");

SqlError serverError(int code, const QString& message) {
    return FakeInstallation::serverError(code, message);
}

QStringList previewCountsOf001() {
    return {kTables,
            "select count(*) from EAILog where Ea_Account = 'tqdata_001' or Ea_Account like "
            "'tqdata[_]001[_]%'",
            "select count(*) from UA_Period where cacc_id='001'",
            "select count(*) from UA_holdauth where cacc_id='001'",
            "select count(*) from UA_log where cacc_id='001'",
            "select count(*) from Ua_Identity where cacc_id='001'",
            "select count(*) from Ua_auth where cacc_id='001'",
            "select count(*) from UA_BackupPlans where cacc_id='001'",
            "select count(*) from UA_BackupLog where cacc_id='001'",
            "select count(*) from UA_account_sub where cacc_id='001'"};
}

// The preview's size and state of each database, then the sessions of all of them in one query.
QStringList databasePreview(const QStringList& dbs) {
    QStringList out;
    for (const QString& db : dbs)
        out << "select sum(size) from master.dbo.sysaltfiles where dbid=DB_ID('" + db + "')" << stateOf(db);
    out << sessionsOf(dbs);
    return out;
}

// After the purge: the registration row, the other tables' counts and the dropped databases.
QStringList verificationOf001(const QStringList& dropped = {}) {
    QStringList out = previewCountsOf001().mid(1);
    out.prepend(lookup("001"));
    if (!dropped.isEmpty())
        out << "select name from master.dbo.sysdatabases where name in ('" + dropped.join("','") + "')";
    return out;
}

const QStringList kReconnect{"CLOSE", "OPEN srv", "select cacc_id,cacc_name from ua_account"};

// Backup files carry the time they were made.
QStringList timeless(QStringList log) {
    static const QRegularExpression time(R"(_\d{8}_\d{6}\.bak)");
    for (QString& s : log)
        s.replace(time, "_<time>.bak");
    return log;
}

QStringList texts(const QList<MessageBox::Shown>& shown) {
    QStringList out;
    for (const auto& s : shown)
        out << s.text;
    return out;
}

}  // namespace

class DeletionWindowTest : public QObject {
    Q_OBJECT

    std::shared_ptr<FakeScript> script;
    FakeInstallation inst;
    std::unique_ptr<FrmMain> w;

    // Connected to "srv", the number typed, the focus moved on; log and boxes cleared.
    void prepare(const QString& number, bool tick = false, const QString& years = {}) {
        QTest::keyClicks(w->txtSqlSrvName, "srv");
        QTest::mouseClick(w->CmdLink, Qt::LeftButton);
        QVERIFY(w->TxtAccNo->isEnabled());
        QTest::keyClicks(w->TxtAccNo, number);
        if (tick) {
            QTest::mouseClick(w->ChkDelDB, Qt::LeftButton);
            QVERIFY(w->ChkDelDB->isChecked());
        }
        QTest::keyClicks(w->txtYear, years);
        w->CmdDel->setFocus();
        QCOMPARE(w->CmdDel->isEnabled(), !number.trimmed().isEmpty());
        script->log.clear();
        MessageBox::takeShown();
    }

    void pressDelete(const QList<MessageBox::Answer>& answers = {}) {
        MessageBox::queueAnswers(answers);
        QTest::mouseClick(w->CmdDel, Qt::LeftButton);
    }

    // The window after the reset: number empty, button off, box unticked, year box hidden.
    void verifyReset(const QString& yearsKept) {
        QCOMPARE(w->TxtAccNo->text(), QString());
        QVERIFY(!w->CmdDel->isEnabled());
        QVERIFY(!w->ChkDelDB->isChecked());
        QVERIFY(w->txtYear->isHidden());
        QVERIFY(w->lblYear->isHidden());
        QCOMPARE(w->txtYear->text(), yearsKept);
        QVERIFY(!FrmShowDel::current());
    }

    // Nothing deleted or dropped, and the request left the window as it was.
    void verifyUntouched(const QString& number) {
        for (const QString& s : script->log) {
            QVERIFY2(!s.startsWith("delete", Qt::CaseInsensitive) && !s.startsWith("drop"), qPrintable(s));
            QVERIFY(s != "BEGIN TRANSACTION");
        }
        QCOMPARE(w->TxtAccNo->text(), number);
        QVERIFY(w->CmdDel->isEnabled());
        QVERIFY(!FrmShowDel::current());
    }

    QTemporaryDir undoDir;

private slots:
    void initTestCase() {
        QVERIFY(undoDir.isValid());
        qputenv("ACCTSET_UNDO_DIR", undoDir.path().toUtf8());
    }

    void init() {
        MessageBox::setTestMode(true);
        inst = FakeInstallation{};
        script = std::make_shared<FakeScript>();
        script->onStatement = [this](const QString& sql) { script->answer(sql, inst.answer(sql), 1); };
        w = std::make_unique<FrmMain>([s = script] { return std::make_unique<FakeSqlClient>(s); });
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
    }
    void cleanup() { w.reset(); }

    void checkBoxShowsAndHidesTheYearBox() {
        QTest::keyClicks(w->txtYear, "2002;2003");
        QVERIFY(w->txtYear->isHidden());
        QTest::mouseClick(w->ChkDelDB, Qt::LeftButton);
        QVERIFY(w->txtYear->isVisible() && w->lblYear->isVisible());
        QTest::mouseClick(w->ChkDelDB, Qt::LeftButton);
        QVERIFY(w->txtYear->isHidden() && w->lblYear->isHidden());
        QCOMPARE(w->txtYear->text(), "2002;2003");
        QVERIFY(script->log.isEmpty());
    }

    void blankNumberAsksForOne() {
        prepare("   ");
        // The button stays off for blanks; the rule itself must still refuse.
        w->CmdDel_Click();
        QCOMPARE(texts(MessageBox::takeShown()), QStringList{"请输入要删除的帐套号!"});
        QVERIFY(script->log.isEmpty());
    }

    void unknownNumberIsReportedAfterTheCheck() {
        prepare(" 099 ");
        pressDelete();
        QCOMPARE(
            texts(MessageBox::takeShown()),
            (QStringList{"当前的系统数据库tqsystem中不存在帐套099,请输入正确的帐套号!", "帐套(099)不存在!"}));
        QCOMPARE(script->log, (QStringList{"select * from ua_account where cacc_id='099'",
                                           "select * from ua_account where cAcc_id='099'", kTables}));
        verifyUntouched(" 099 ");
    }

    // A look-up that cannot run is not "not found": one notice, with the server's words.
    void failedLookupSaysTheServerCouldNotBeQueried() {
        prepare("001");
        inst.failures["select * from ua_account where cAcc_id='001'"] = serverError(1205, "deadlock victim");
        pressDelete();
        const auto shown = MessageBox::takeShown();
        QCOMPARE(texts(shown), QStringList{kNotQueried});
        QVERIFY(shown[0].details.contains("deadlock victim"));
        QVERIFY(shown[0].details.contains("1205"));
        verifyUntouched("001");
    }

    // With the connection gone the number check fails as well; still only one notice.
    void lostConnectionGivesOneNotice() {
        prepare("001");
        script->open = false;
        pressDelete();
        const auto shown = MessageBox::takeShown();
        QCOMPARE(texts(shown), QStringList{kNotQueried});
        QCOMPARE(shown[0].details, "Connection is not open");
        verifyUntouched("001");
    }

    void cancelledConfirmationsStopWithoutChange() {
        prepare("001", true, "2002");
        inst.databases = {"tqdata_001_2002"};
        pressDelete({MessageBox::Cancel});
        auto shown = MessageBox::takeShown();
        QCOMPARE(shown.size(), 1);
        QCOMPARE(shown[0].kind, MessageBox::Confirmation);
        verifyUntouched("001");
        QVERIFY(w->ChkDelDB->isChecked());

        script->log.clear();
        pressDelete({MessageBox::Ok, MessageBox::Cancel});
        QCOMPARE(
            texts(MessageBox::takeShown()),
            (QStringList{
                "此操作将会从系统数据库TqSystem的关键数据表中删除帐套001的信息,此操作不可恢复,确认删除帐套?",
                "已选择删除帐套001的所有年度数据库,确认删除?", "操作已取消!"}));
        verifyUntouched("001");
    }

    void yearListWithoutAnyYearIsRefused_data() {
        QTest::addColumn<QString>("years");
        QTest::newRow("blank") << "   ";
        QTest::newRow("separator alone") << ";";
        QTest::newRow("separators only") << " ;; ";
    }
    void yearListWithoutAnyYearIsRefused() {
        QFETCH(QString, years);
        prepare("001", true, years);
        pressDelete();
        QCOMPARE(texts(MessageBox::takeShown()).last(), "请输入要删除帐套的完整年度信息(如2002;2003)!");
        verifyUntouched("001");
    }

    // The whole road without the box: one confirmation listing the rows, one transaction, the
    // verification, the outcome and the reset.
    void emptyAccountSetIsDeleted() {
        prepare(" 001 ", false, "2002");
        QHash<QString, bool> waitShown;
        script->onStatement = [this, &waitShown](const QString& sql) {
            waitShown[sql] = FrmShowDel::current() && FrmShowDel::current()->isVisible();
            script->answer(sql, inst.answer(sql), 1);
        };
        pressDelete();

        QStringList expected{"select * from ua_account where cacc_id='001'",
                             "select * from ua_account where cAcc_id='001'"};
        expected << previewCountsOf001() << undoReadOf001() << "SET XACT_ABORT ON"
                 << "BEGIN TRANSACTION" << purgeOf001() << "COMMIT TRANSACTION" << verificationOf001()
                 << kReconnect;
        QCOMPARE(guardsAsN(script->log), expected);

        const auto shown = MessageBox::takeShown();
        QCOMPARE(
            texts(shown),
            (QStringList{
                "此操作将会从系统数据库TqSystem的关键数据表中删除帐套001的信息,此操作不可恢复,确认删除帐套?",
                "空帐套号001已成功删除!"}));
        QVERIFY(shown[0].details.contains("EAILog: 3 行"));
        QVERIFY(shown[0].details.contains("UA_account: 1 行"));
        QVERIFY(!shown[0].details.contains("tqdata"));  // the year box is not read unticked
        QVERIFY(!inst.accounts.contains("001"));
        QVERIFY(waitShown.value("DELETE FROM UA_account WHERE cacc_id = '001'"));
        QVERIFY(!waitShown.value("select * from ua_account where cAcc_id='001'"));
        QVERIFY(!waitShown.value("CLOSE"));
        verifyReset("2002");
    }

    void accountSetWithTwoYearsIsDeleted() {
        inst.databases = {"tqdata_001_2002", "tqdata_001_2003", "tqdata_002_2002"};
        prepare("001", true, "2002;2003;");
        pressDelete({MessageBox::Ok, MessageBox::Ok});

        QStringList expected{"select * from ua_account where cacc_id='001'",
                             "select * from ua_account where cAcc_id='001'"};
        const QStringList dbs{"tqdata_001_2002", "tqdata_001_2003"};
        expected << previewCountsOf001() << databasePreview(dbs) << backupPreview(dbs) << kBackupFolder
                 << "select * from master.dbo.sysdatabases where name='tqdata_001_2002'"
                 << "select * from master.dbo.sysdatabases where name='tqdata_001_2003'" << kVersion
                 << checksOf(dbs).split(";\n") << backupsOf("D:\\Backup\\", dbs) << undoReadOf001()
                 << sessionsOf(dbs) << "alter database [tqdata_001_2002] set single_user with no_wait"
                 << "alter database [tqdata_001_2003] set single_user with no_wait"
                 << "drop database [tqdata_001_2002]"
                 << "drop database [tqdata_001_2003]"
                 << "SET XACT_ABORT ON"
                 << "BEGIN TRANSACTION" << purgeOf001() << "COMMIT TRANSACTION" << verificationOf001(dbs)
                 << kReconnect;
        QCOMPARE(guardsAsN(timeless(script->log)), expected);

        const auto shown = MessageBox::takeShown();
        QCOMPARE(shown.size(), 3);
        QCOMPARE(shown[1].checkText, "删除前备份年度数据库");
        QVERIFY(shown[1].checked);
        QVERIFY(shown[1].details.startsWith("备份目录(服务器上): D:\\Backup\n    tqdata_001_2002: 20.0 MB"));
        QVERIFY(shown.last().details.contains("备份文件(服务器上):\n    D:\\Backup\\tqdata_001_2002_"));
        QVERIFY(!FrmBackupProgress::current());
        QVERIFY(shown[0].details.contains("tqdata_001_2002: 20.0 MB, ONLINE, 无其他连接"));
        QCOMPARE(shown.last().text, "帐套001(2002;2003年)已成功删除!");
        QCOMPARE(inst.databases, QStringList{"tqdata_002_2002"});
        verifyReset("2002;2003;");
    }

    void yearNamedTwiceIsDroppedOnce() {
        inst.databases = {"tqdata_001_2002"};
        prepare("001", true, "2002;2002");
        pressDelete();
        QCOMPARE(script->log.count("drop database [tqdata_001_2002]"), 1);
        QCOMPARE(script->log.count("select * from master.dbo.sysdatabases where name='tqdata_001_2002'"), 1);
        QCOMPARE(MessageBox::takeShown().last().text, "帐套001(2002;2002年)已成功删除!");
    }

    void missingOrUnqueryableDatabaseStopsBeforeAnyDrop_data() {
        QTest::addColumn<QString>("years");
        QTest::addColumn<bool>("queryFails");
        QTest::addColumn<QString>("notice");
        QTest::newRow("empty entry") << "2002;;2003" << false << "数据库tqdata_001_不存在!";
        QTest::newRow("last missing") << "2002;2004" << false << "数据库tqdata_001_2004不存在!";
        QTest::newRow("space kept") << "2002; 2003" << false << "数据库tqdata_001_ 2003不存在!";
        QTest::newRow("query fails") << "2002;2003" << true << kNotQueried;
    }
    void missingOrUnqueryableDatabaseStopsBeforeAnyDrop() {
        QFETCH(QString, years);
        QFETCH(bool, queryFails);
        QFETCH(QString, notice);
        inst.databases = {"tqdata_001_2002", "tqdata_001_2003"};
        if (queryFails)
            inst.failures["select * from master.dbo.sysdatabases where name='tqdata_001_2003'"] =
                serverError(10054, "connection reset");
        prepare("001", true, years);
        pressDelete();
        const auto shown = MessageBox::takeShown();
        QCOMPARE(shown.last().text, notice);
        if (queryFails)
            QVERIFY(shown.last().details.contains("connection reset"));
        verifyUntouched("001");
        QCOMPARE(inst.databases.size(), 2);
    }

    void databaseInUseStopsBeforeAnyDrop() {
        inst.databases = {"tqdata_001_2002", "tqdata_001_2003"};
        inst.sessions["tqdata_001_2003"] = {{53, "sa      ", "PC-ACCT01", "报表工具"}};
        prepare("001", true, "2002;2003");
        pressDelete();
        const auto shown = MessageBox::takeShown();
        QCOMPARE(shown.size(), 3);
        QVERIFY(shown[0].details.contains("tqdata_001_2003: 20.0 MB, ONLINE, 1 个连接"));
        const QString notice = shown.last().text;
        QVERIFY2(notice.contains("tqdata_001_2003") && !notice.contains("tqdata_001_2002"),
                 qPrintable(notice));
        QVERIFY2(notice.contains("会话53(登录名 sa, 主机 PC-ACCT01, 程序 报表工具)"), qPrintable(notice));
        verifyUntouched("001");
    }

    // The drop that fails is named with the server's reason; the catalogue is purged as before.
    void failedDropIsReportedNotClaimed() {
        inst.databases = {"tqdata_001_2002", "tqdata_001_2003"};
        inst.failures["drop database [tqdata_001_2002]"] = serverError(3702, "Cannot drop database in use.");
        prepare("001", true, "2002;2003");
        pressDelete();
        QVERIFY(script->log.contains("drop database [tqdata_001_2003]"));
        QVERIFY(script->log.contains("COMMIT TRANSACTION"));
        const auto outcome = MessageBox::takeShown().last();
        QVERIFY2(outcome.text.contains("未能删除:\ntqdata_001_2002"), qPrintable(outcome.text));
        QVERIFY(!outcome.text.contains("已成功删除"));
        QVERIFY(outcome.details.contains("tqdata_001_2002: Cannot drop database in use. (3702)"));
        QVERIFY(!inst.accounts.contains("001"));
        verifyReset("2002;2003");
    }

    // A purge statement that fails rolls the whole purge back; the databases already dropped are named.
    void failedPurgeStatementRollsBack() {
        inst.databases = {"tqdata_001_2002"};
        inst.failures["Delete from Ua_auth where cacc_id='001'"] =
            serverError(1205, "chosen as deadlock victim");
        prepare("001", true, "2002");
        pressDelete();
        const QStringList log = script->log;
        const qsizetype failed = log.indexOf("Delete from Ua_auth where cacc_id='001'");
        QVERIFY(failed > 0);
        QCOMPARE(log.mid(failed + 1, 2),
                 (QStringList{"ROLLBACK TRANSACTION", "select * from ua_account where cacc_id='001'"}));
        QVERIFY(!log.contains("COMMIT TRANSACTION"));
        const auto outcome = MessageBox::takeShown().last();
        // Rolled back: every row is still there, and named.
        QVERIFY2(outcome.text.startsWith(kDeleteFailed + "\n以下内容仍在服务器上:\nEAILog: 3 行\n"),
                 qPrintable(outcome.text));
        QVERIFY2(outcome.text.endsWith("\n以下年度数据库已删除,可以用它们的备份和撤销脚本恢复(撤销脚本: " +
                                       outcome.details.section("撤销脚本: ", 1).section('\n', 0, 0) +
                                       "):\ntqdata_001_2002 (备份: D:\\Backup\\" +
                                       outcome.details.section("D:\\Backup\\", 1).section('\n', 0, 0) + ")"),
                 qPrintable(outcome.text));
        QVERIFY(outcome.details.contains("chosen as deadlock victim (1205)"));
        QVERIFY(inst.accounts.contains("001"));
        verifyReset("2002");
    }

    void missingTableIsSkipped() {
        inst.tables.removeAll("EAILog");
        prepare("001");
        pressDelete();
        QVERIFY(!script->log.join('\n').contains("EAILog where"));
        QCOMPARE(guardsAsN(script->log.mid(script->log.indexOf("BEGIN TRANSACTION") + 1, 19)),
                 purgeOf001(inst.tables) << "COMMIT TRANSACTION");
        QCOMPARE(MessageBox::takeShown().last().text, "空帐套号001已成功删除!");
    }

    // Success needs a verification that ran and found nothing.
    void verificationDecidesTheOutcome_data() {
        QTest::addColumn<bool>("queryFails");
        QTest::newRow("row left") << false;
        QTest::newRow("query fails") << true;
    }
    void verificationDecidesTheOutcome() {
        QFETCH(bool, queryFails);
        prepare("001");
        script->onStatement = [this, queryFails](const QString& sql) {
            SqlResult r = inst.answer(sql);
            if (sql == "COMMIT TRANSACTION") {
                if (queryFails)
                    inst.failures["select * from ua_account where cacc_id='001'"] =
                        serverError(233, "pipe gone");
                else
                    inst.accounts << "001";  // registered again behind our back
            }
            script->answer(sql, r, 1);
        };
        pressDelete();
        const auto outcome = MessageBox::takeShown().last();
        QCOMPARE(outcome.text,
                 queryFails ? kDeleteFailed : kDeleteFailed + "\n以下内容仍在服务器上:\nUA_account: 1 行");
        if (queryFails)
            QVERIFY(outcome.details.contains("pipe gone"));
        verifyReset(QString());
    }

    void quotesAndBracketsStayInsideTheirLiterals() {
        inst.accounts << "0'1]";
        inst.databases = {"tqdata_0'1]_20'02"};
        prepare("0'1]", true, "20'02");
        pressDelete();
        QVERIFY(script->log.contains("select * from ua_account where cAcc_id='0''1]'"));
        QVERIFY(
            script->log.contains("select * from master.dbo.sysdatabases where name='tqdata_0''1]_20''02'"));
        QVERIFY(script->log.contains("drop database [tqdata_0'1]]_20'02]"));
        QVERIFY(
            script->log.contains("Delete from EAILog where Ea_Account = 'tqdata_0''1]' or "
                                 "Ea_Account like 'tqdata[_]0''1][_]%'"));
        QVERIFY(script->log.contains("DELETE FROM UA_account WHERE cacc_id = '0''1]'"));
        QCOMPARE(MessageBox::takeShown().last().text, "帐套0'1](20'02年)已成功删除!");
        QCOMPARE(inst.accounts, QStringList({"001", "002"}));
        QVERIFY(inst.databases.isEmpty());
    }

    // Full-width input, a Chinese input method's default, reads as the server's width-insensitive
    // collation reads it: in every statement and message, while the boxes keep what was typed.
    void fullWidthInputIsReadAsOrdinary() {
        inst.databases = {"tqdata_001_2002", "tqdata_001_2003"};
        const QString number = "\uFF10\uFF10\uFF11";
        const QString years = "\uFF12\uFF10\uFF10\uFF12\uFF1B2003";
        prepare("1", true);
        // Typed through an input method: the test's key clicks carry ASCII only.
        w->TxtAccNo->setText(number);
        w->txtYear->setText(years);
        QVERIFY(w->CmdDel->isEnabled());
        script->log.clear();
        pressDelete({MessageBox::Cancel});
        QCOMPARE(script->log.first(), lookup("001"));
        QCOMPARE(
            MessageBox::takeShown().last().text,
            "此操作将会从系统数据库TqSystem的关键数据表中删除帐套001的信息,此操作不可恢复,确认删除帐套?");
        QCOMPARE(w->TxtAccNo->text(), number);
        QCOMPARE(w->txtYear->text(), years);
        pressDelete();
        QVERIFY(script->log.contains("drop database [tqdata_001_2002]"));
        QVERIFY(script->log.contains("drop database [tqdata_001_2003]"));
        QVERIFY(script->log.contains("DELETE FROM UA_account WHERE cacc_id = '001'"));
        QCOMPARE(MessageBox::takeShown().last().text, "帐套001(2002;2003年)已成功删除!");
        QCOMPARE(inst.accounts, QStringList{"002"});
    }

    // No input reaches the window during a run; a close waits for its end.
    void windowTakesNoInputAndClosesAfterTheRun() {
        prepare("001");
        bool poked = false;
        script->onStatement = [&](const QString& sql) {
            if (sql == "BEGIN TRANSACTION" && !poked) {
                poked = true;
                QTest::keyClicks(w->txtSqlSrvName, "x");
                QTest::mouseClick(w->CmdLink, Qt::LeftButton);
                QTest::mouseClick(w->CmdDel, Qt::LeftButton);
                w->close();
                QVERIFY(w->isVisible());
            }
            script->answer(sql, inst.answer(sql), 1);
        };
        pressDelete();
        QVERIFY(poked);
        QCOMPARE(w->txtSqlSrvName->text(), "srv");
        QCOMPARE(script->log.count("select * from ua_account where cAcc_id='001'"), 1);
        QCOMPARE(script->log.count("OPEN srv"), 1);
        QCOMPARE(script->log.last(), "select cacc_id,cacc_name from ua_account");
        QCOMPARE(MessageBox::takeShown().last().text, "空帐套号001已成功删除!");
        QVERIFY(!w->isVisible());
    }
    // The progress window takes the operator's 取消 while a backup runs, though the main window
    // takes no input; the run stops before any drop and names the backup already made.
    void cancelDuringABackupStopsBeforeAnyDrop() {
        inst.databases = {"tqdata_001_2002", "tqdata_001_2003"};
        prepare("001", true, "2002;2003");
        QString seenStep;
        int bars = 0;
        script->onStatement = [&](const QString& sql) {
            if (sql.startsWith("BACKUP DATABASE [tqdata_001_2003]")) {
                FrmBackupProgress* p = FrmBackupProgress::current();
                QVERIFY(p && p->isVisible());
                seenStep = p->lblStep->text();
                bars = int(p->bars.size());
                QCOMPARE(p->bars[0]->value(), 100);
                QCOMPARE(p->overall->value(), 50);
                QTest::mouseClick(p->cmdCancel, Qt::LeftButton);
            }
            script->answer(sql, inst.answer(sql), 1);
        };
        pressDelete();
        QCOMPARE(seenStep, "正在备份 tqdata_001_2003");
        QCOMPARE(bars, 2);
        const auto shown = MessageBox::takeShown();
        QCOMPARE(shown.last().text, "备份已取消,删除操作已停止,没有删除任何数据!");
        QVERIFY(shown.last().details.contains("D:\\Backup\\tqdata_001_2002_"));
        QVERIFY(
            !script->log.join('\n').contains("RESTORE VERIFYONLY FROM DISK = N'D:\\Backup\\tqdata_001_2003"));
        verifyUntouched("001");
        QCOMPARE(inst.databases.size(), 2);
        QVERIFY(!FrmBackupProgress::current());
    }

    // The progress window's connection logs in as the window did, not with a password box edited
    // since the connect: with the box's text the server would refuse it, and the progress would
    // stay at 0 without a word.
    void backupProgressConnectsAsTheWindowDid() {
        inst.databases = {"tqdata_001_2002"};
        QTest::keyClicks(w->txtSqlSrvName, "srv");
        QTest::keyClicks(w->txtSaPwd, "pw");
        QTest::mouseClick(w->CmdLink, Qt::LeftButton);
        QTest::keyClicks(w->TxtAccNo, "001");
        QTest::mouseClick(w->ChkDelDB, Qt::LeftButton);
        QTest::keyClicks(w->txtYear, "2002");
        QTest::keyClicks(w->txtSaPwd, "-edited");
        script->opens.clear();
        MessageBox::takeShown();
        pressDelete();
        QCOMPARE(MessageBox::takeShown().last().text, "帐套001(2002年)已成功删除!");
        QVERIFY(script->log.join('\n').contains("BACKUP DATABASE [tqdata_001_2002]"));
        QVERIFY(!script->opens.isEmpty());
        QCOMPARE(script->opens.first().server, "srv");
        QCOMPARE(script->opens.first().password, "pw");
    }

    void backupsLeftUntickedAreNotMade() {
        inst.databases = {"tqdata_001_2002"};
        prepare("001", true, "2002");
        MessageBox::queueChecks({false});
        pressDelete();
        const auto shown = MessageBox::takeShown();
        QVERIFY(!shown[1].checked);
        QVERIFY(!script->log.join('\n').contains("BACKUP"));
        QCOMPARE(script->log.count("OPEN srv"), 1);  // the reconnect only: no second connection
        QCOMPARE(shown.last().text, "帐套001(2002年)已成功删除!");
        QVERIFY(shown.last().details.startsWith("撤销脚本: " + undoDir.path()));
        QVERIFY(!shown.last().details.contains("备份文件"));
    }
};

ACCTSET_TEST_CLASS(DeletionWindowTest)
#include "deletion_window_test.moc"
