// The whole deletion run without a window: the request value in, the outcome out, every statement
// answered by a scripted installation.
#include "RunFixture.h"
#include "support/TestMain.h"

using namespace runtest;

class DeletionRunTest : public QObject, public RunFixture {
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(setUpOnce()); }
    void init() { setUp(); }

    // Every way the request stops before the first change, with the one notice it gives.
    void stopsBeforeAnythingChanges_data() {
        QTest::addColumn<QString>("number");
        QTest::addColumn<QString>("years");  // null: box unticked
        QTest::addColumn<QList<bool>>("answers");
        QTest::addColumn<QString>("failing");  // a statement the server refuses
        QTest::addColumn<QString>("last");     // the last box shown
        QTest::addColumn<bool>("recorded");    // past the confirmations: on the journal
        const QString sessions = sessionsOf({"tqdata_001_2002", "tqdata_001_2003"});
        QTest::newRow("blank number") << "" << QString() << QList<bool>{} << ""
                                      << "请输入要删除的帐套号!" << false;
        QTest::newRow("unknown number") << "099" << QString() << QList<bool>{} << ""
                                        << "帐套(099)不存在!" << false;
        QTest::newRow("look-up fails")
            << "001" << QString() << QList<bool>{} << "select * from ua_account where cAcc_id='001'"
            << kNotQueried << false;
        QTest::newRow("first cancelled")
            << "001" << QString() << QList<bool>{false} << "" << kConfirmAccount << false;
        QTest::newRow("second cancelled") << "001"
                                          << "2002" << QList<bool>{true, false} << ""
                                          << "操作已取消!" << false;
        QTest::newRow("no year") << "001"
                                 << ";" << QList<bool>{} << ""
                                 << "请输入要删除帐套的完整年度信息(如2002;2003)!" << false;
        QTest::newRow("empty entry") << "001"
                                     << "2002;;2003" << QList<bool>{} << ""
                                     << "数据库tqdata_001_不存在!" << true;
        QTest::newRow("last year missing") << "001"
                                           << "2002;2004" << QList<bool>{} << ""
                                           << "数据库tqdata_001_2004不存在!" << true;
        QTest::newRow("existence query fails")
            << "001"
            << "2002;2003" << QList<bool>{}
            << "select * from master.dbo.sysdatabases where name='tqdata_001_2003'" << kNotQueried << true;
        QTest::newRow("in-use query fails")
            << "001"
            << "2002;2003" << QList<bool>{} << sessions << kNotQueried << true;
        QTest::newRow("version query fails")
            << "001"
            << "2002;2003" << QList<bool>{} << kVersion << kNotQueried << true;
    }
    void stopsBeforeAnythingChanges() {
        QFETCH(QString, number);
        QFETCH(QString, years);
        QFETCH(QList<bool>, answers);
        QFETCH(QString, failing);
        QFETCH(QString, last);
        QFETCH(bool, recorded);
        if (!failing.isEmpty())
            inst.failures[failing] = FakeInstallation::serverError(10054, "connection reset");
        QCOMPARE(run(request(number, years), answers), Outcome::Stopped);
        QCOMPARE(host->shown.last(), last);
        if (!failing.isEmpty())
            QCOMPARE(host->lastDetails, "connection reset (10054)");
        verifyUntouched();
        QCOMPARE(inst.databases.size(), 3);
        const QList<QStringList> lines = journal();
        QCOMPARE(lines.size(), recorded ? 1 : 0);
        if (recorded)
            QCOMPARE(lines[0].mid(3, 3), (QStringList{"001", years, "stopped before any change"}));
    }

    // The plain sequence without the window's number check takes 12 + 2 per year; the checks before
    // the first drop, the way back (the rows and their columns in one batch), the backup folder and
    // per year the backup and its verification add to it. The table list is read once, with the
    // look-up. Only the purge runs under the wait window.
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
        // After the backups: the sessions again, and a claim of each database.
        QCOMPARE(script->roundTrips, years ? 9 + 5 * years : 5);
        QCOMPARE(savedScripts().size(), 1);
        QCOMPARE(script->log.count(kTables), 1);
        QCOMPARE(guardsAsN(duringWait), (QStringList{"SET XACT_ABORT ON", "BEGIN TRANSACTION"}
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
        // The database still there is everyone's again.
        const qsizetype drop = script->log.indexOf("drop database [tqdata_001_2002]");
        QCOMPARE(script->log.value(drop + 1), "alter database [tqdata_001_2002] set multi_user");
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
        // The dropped database has a verified backup: its way back is named, never "无法恢复".
        QVERIFY2(outcome.contains(
                     "UA_account: 1 行\n以下年度数据库已删除,可以用它们的备份和撤销脚本恢复(撤销脚本: "),
                 qPrintable(outcome));
        QVERIFY(outcome.contains("\ntqdata_001_2002 (备份: "));
        QVERIFY(!outcome.contains("无法恢复"));
        QVERIFY(host->lastDetails.startsWith("deadlock (1205)\n撤销脚本: "));
        QVERIFY(inst.accounts.contains("001"));
    }

    // The one reading of the table list fails, and so does the second try when the way back needs
    // it: the run stops before anything changes.
    void unreadableTableListStopsBeforeAnyChange() {
        inst.failures[kTables] = FakeInstallation::serverError(233, "pipe gone");
        QCOMPARE(run(request("001", "2002")), Outcome::Stopped);
        QVERIFY2(host->previewDetails.contains("\n    (无法查询: pipe gone (233))\n"),
                 qPrintable(host->previewDetails));
        QCOMPARE(host->shown.last(), "无法保存撤销脚本,删除操作已停止,没有删除任何数据!");
        QVERIFY(host->lastDetails.contains("\npipe gone (233)"));
        QCOMPARE(script->log.count(kTables), 2);
        verifyUntouched();
        QCOMPARE(inst.databases.size(), 3);
    }

    // Success needs every table and every dropped database checked and found empty.
    void leftoversAreNamed_data() {
        QTest::addColumn<QString>("keptTable");
        QTest::addColumn<QString>("keptDatabase");
        QTest::addColumn<QString>("named");
        QTest::newRow("rows") << "UA_log"
                              << ""
                              << "UA_log: 2 行\n以下年度数据库已删除,可以用它们的备份和撤销脚本恢复";
        QTest::newRow("integration log") << "EAILog"
                                         << ""
                                         << "EAILog: 3 行\n以下年度数据库已删除";
        QTest::newRow("database")
            << ""
            << "tqdata_001_2003"
            << "数据库tqdata_001_2003\n以下年度数据库已删除,可以用它们的备份和撤销脚本恢复";
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
        // The undo script's batch, its registration row read again with the count and checksum the
        // purge compares; then the sessions once more and every database claimed.
        QCOMPARE(beforeDrop.mid(beforeDrop.size() - 3),
                 (QStringList{sessionsOf({"tqdata_001_2002", "tqdata_001_2003"}),
                              "alter database [tqdata_001_2002] set single_user with no_wait",
                              "alter database [tqdata_001_2003] set single_user with no_wait"}));
        QCOMPARE(beforeDrop[beforeDrop.size() - 4], "select * from UA_account where cacc_id='001'");
        QCOMPARE(host->view.started, (QStringList{"tqdata_001_2002", "tqdata_001_2003"}));
        QVERIFY(host->view.finished);

        const QString undo = savedScript();
        QVERIFY(savedScripts().value(0).contains("SRV01_001_"));
        QVERIFY(undo.contains("RESTORE DATABASE [tqdata_001_2003] FROM DISK = N'" + inst.backupFiles[1] +
                              "' WITH RECOVERY;"));
        const qsizetype account = undo.indexOf(
            "    SET IDENTITY_INSERT [TQSystem].[dbo].[UA_account] ON;\n"
            "    INSERT INTO [TQSystem].[dbo].[UA_account] ([id], [cacc_id], [note]) VALUES (1, N'001', "
            "N'UA_account "
            "行1');");
        QVERIFY(account > 0);
        QVERIFY(undo.indexOf("INSERT INTO [TQSystem].[dbo].[EAILog]") > account);
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
        else if (fault == "script")
            inst.failures["select * from UA_log where cacc_id='001'"] =
                FakeInstallation::serverError(233, "pipe gone");
        const Outcome outcome = run(request("001", "2002;2003"));
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
        // The backups made are on record with the stop; the one cancelled is no backup.
        const QStringList made = fault == "cancel" ? inst.backupFiles.mid(0, 1) : inst.backupFiles;
        const QList<QStringList> lines = journal();
        QCOMPARE(lines.size(), 1);
        QCOMPARE(lines[0].mid(5), (QStringList{"stopped before any change", "", made.join(';')}));
    }

    // One line per run past the confirmations, its outcome and way back filled in at the end.
    void journalRecordsTheOutcome_data() {
        QTest::addColumn<QString>("years");  // null: box unticked
        QTest::addColumn<QString>("fault");
        QTest::addColumn<int>("result");  // Outcome
        QTest::addColumn<QString>("outcome");
        QTest::newRow("catalogue only") << QString() << "" << int(Outcome::Succeeded) << "succeeded";
        QTest::newRow("two years") << "2002;2003"
                                   << "" << int(Outcome::Succeeded) << "succeeded";
        QTest::newRow("drop refused")
            << "2002;2003"
            << "drop database [tqdata_001_2002]" << int(Outcome::PartlyFailed) << "partly";
        QTest::newRow("purge refused")
            << "2002"
            << "Delete from Ua_auth where cacc_id='001'" << int(Outcome::Failed) << "failed";
    }
    void journalRecordsTheOutcome() {
        QFETCH(QString, years);
        QFETCH(QString, fault);
        QFETCH(int, result);
        QFETCH(QString, outcome);
        if (!fault.isEmpty())
            inst.failures[fault] = FakeInstallation::serverError(1205, "deadlock");
        QCOMPARE(int(run(request("001", years))), result);
        const QList<QStringList> lines = journal();
        QCOMPARE(lines.size(), 1);
        QCOMPARE(lines[0].size(), 8);
        QVERIFY2(QDateTime::fromString(lines[0][0], Qt::ISODate).isValid(), qPrintable(lines[0][0]));
        QCOMPARE(lines[0].mid(1), (QStringList{"SRV01", "sa", "001", years, outcome, savedScripts().value(0),
                                               inst.backupFiles.join(';')}));
        QVERIFY(!savedScripts().value(0).isEmpty());
        QCOMPARE(inst.backupFiles.size(), years.isEmpty() ? 0 : years.count(';') + 1);
    }

    // The outcome stands when its line cannot be completed; the operator is told the record lacks it.
    void uncompletedJournalLineIsSaid() {
        script->onStatement = [&](const QString& sql) {
            if (sql == "COMMIT TRANSACTION")
                QVERIFY(QFile::remove(journalPath()) && QDir().mkdir(journalPath()));
            script->answer(sql, inst.answer(sql), 1);
        };
        QCOMPARE(run(request("001")), Outcome::Succeeded);
        QVERIFY(QDir().rmdir(journalPath()));
        QCOMPARE(host->shown.value(host->shown.size() - 2), "空帐套号001已成功删除!");
        QVERIFY2(host->shown.last().startsWith(
                     "删除记录未能写完,请手工补记本次操作的结果。\n文件: " + journalPath() + "\n原因: "),
                 qPrintable(host->shown.last()));
    }

    // A journal that cannot be written stops the run before the backups: nothing is destroyed
    // without its record.
    void unwritableJournalStopsBeforeAnyChange() {
        QVERIFY(QDir(undoDir.path()).mkdir("deletions.log"));
        const Outcome outcome = run(request("001", "2002;2003"));
        QVERIFY(QDir(undoDir.path()).rmdir("deletions.log"));
        QCOMPARE(outcome, Outcome::Stopped);
        const QString notice = host->shown.last();
        QVERIFY2(notice.startsWith("无法写入删除记录,删除操作已停止,没有删除任何数据!\n文件: " +
                                   journalPath() + "\n原因: ") &&
                     notice.size() > notice.indexOf("原因: ") + 4,
                 qPrintable(notice));
        verifyUntouched();
        QVERIFY(!script->log.join('\n').contains("BACKUP"));
        QVERIFY(savedScripts().isEmpty());
    }
};

ACCTSET_TEST_CLASS(DeletionRunTest)
#include "deletion_run_test.moc"
