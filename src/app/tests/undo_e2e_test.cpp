// The way back end to end: a deletion through the window against the sandbox, then its undo script
// through tsql, finds every catalogue row and database as it was.
#include <QtTest>

#include <QCheckBox>
#include <QLineEdit>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>

#include "app/DropDownList.h"
#include "app/FrmBackupProgress.h"
#include "app/FrmMain.h"
#include "app/MessageBox.h"
#include "sandbox/Sandbox.h"
#include "support/E2eFixture.h"
#include "support/HostileValues.h"
#include "support/StoreSnapshot.h"
#include "support/TestMain.h"

Q_DECLARE_METATYPE(sandbox::Release)

class UndoE2eTest : public QObject {
    Q_OBJECT

    E2eFixture e2e;
    sandbox::Server* server = nullptr;
    FrmMain* w = nullptr;
    QTemporaryDir undoDir;
    std::unique_ptr<QTemporaryDir> backups;
    QList<MessageBox::Shown> shown;

    QString backupDir() const { return backups->path(); }

    sandbox::Engine& engine() { return server->engine(); }
    QStringList raw(const QString& sql) { return snapshot::raw(engine(), sql); }
    QStringList everyRow() { return snapshot::everyRow(engine()); }
    QStringList databases() {
        QStringList dbs;
        for (const std::string& d : engine().databases())
            dbs << QString::fromStdString(d);
        dbs.sort();
        return dbs;
    }
    QStringList databaseRows() { return snapshot::databaseRows(engine()); }
    QStringList scripts() const {
        const QDir d(undoDir.path());
        QStringList out;
        for (const QString& f : d.entryList({"*.sql"}, QDir::Files, QDir::Time))
            out << d.filePath(f);
        return out;
    }

    void connectAndType(const QString& number, bool tick = false, const QString& years = {}) {
        e2e.connect();
        QVERIFY(w->TxtAccNo->isEnabled());
        QTest::keyClicks(w->TxtAccNo, number);
        if (tick)
            QTest::mouseClick(w->ChkDelDB, Qt::LeftButton);
        w->txtYear->setText(years);
        w->CmdDel->setFocus();
        MessageBox::takeShown();
    }
    QString pressDelete() {
        QTest::mouseClick(w->CmdDel, Qt::LeftButton);
        shown = MessageBox::takeShown();
        return shown.isEmpty() ? QString() : shown.last().text;
    }

    // Replaces a server started before; the window has not connected yet.
    void startServer(sandbox::Release release) {
        sandbox::Options options;
        options.backupDir = backups->path().toStdString();
        options.release = release;
        std::string error;
        QVERIFY2(e2e.startServer(options, &error), error.c_str());
        server = e2e.server.get();
        engine().seedDemo();
    }

    // The script as an operator runs it with tsql. tsql hands a byte-order mark on to the server
    // as a character of the first batch (sqlcmd and query windows drop it), so it is fed without.
    void runThroughTsql(const QString& path, QString* said = nullptr, bool failing = false) {
        const QString exe = QStandardPaths::findExecutable("tsql");
        QVERIFY2(!exe.isEmpty(), "tsql not installed (freetds-bin)");
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QByteArray script = f.readAll();
        QVERIFY(script.startsWith("\xEF\xBB\xBF"));
        QProcess p;
        p.start(exe, {"-H", "127.0.0.1", "-p", QString::number(server->port()), "-U", "sa", "-P", "sandbox"});
        p.write(script.mid(3));
        p.closeWriteChannel();
        QVERIFY(p.waitForFinished(30000));
        const QByteArray err = p.readAllStandardError() + p.readAllStandardOutput();
        if (said)
            *said = QString::fromUtf8(err);
        // Messages of severity 10 are information (the restores' 4035 and 3014); errors are 11 and up.
        static const QRegularExpression error(R"(Msg \d+ \(severity (1[1-9]|2\d))");
        QVERIFY2(failing || !error.match(QString::fromUtf8(err)).hasMatch(), err.constData());
    }

private slots:
    void initTestCase() {
        QVERIFY(undoDir.isValid());
        qputenv("ACCTSET_UNDO_DIR", undoDir.path().toUtf8());
    }
    void init() {
        for (const QString& f : scripts())
            QFile::remove(f);
        backups = std::make_unique<QTemporaryDir>();
        startServer(sandbox::Release::SqlServer2019);
        QVERIFY(e2e.setUp());
        w = &e2e.window();
    }
    void cleanup() {
        w = nullptr;
        server = nullptr;
        E2E_TEAR_DOWN(e2e);
    }

    // Without the databases: the script alone brings every row of the account set back, and the
    // tool lists it again.
    void catalogueOnlyDeletionIsUndoneByItsScript() {
        const QStringList before = everyRow();
        connectAndType("001");
        QCOMPARE(pressDelete(), "空帐套号001已成功删除!");
        QCOMPARE(scripts().size(), 1);
        QVERIFY(shown.last().details.contains("撤销脚本: " + scripts().first()));
        QVERIFY(everyRow() != before);
        runThroughTsql(scripts().first());
        QCOMPARE(everyRow(), before);
        QTest::mouseClick(w->CmdLink, Qt::LeftButton);
        QVERIFY(w->ComAccList->findText("001(示例帐套)") >= 0);
    }

    // A folder for the way back that cannot be made (a file stands where it must go) stops the run
    // before anything changes: the journal's line, the first thing written there, is refused.
    void unwritableFolderChangesNothing() {
        QFile blocker(undoDir.filePath("blocker"));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        qputenv("ACCTSET_UNDO_DIR", undoDir.filePath("blocker/acctset-remover").toUtf8());
        const QStringList rows = everyRow();
        const QStringList dbs = databases();
        connectAndType("001", true, "2002;2003");
        MessageBox::queueChecks({false});
        const QString notice = pressDelete();
        qputenv("ACCTSET_UNDO_DIR", undoDir.path().toUtf8());
        QFile::remove(blocker.fileName());
        QVERIFY2(notice.startsWith("无法写入删除记录,删除操作已停止,没有删除任何数据!\n文件: " +
                                   undoDir.filePath("blocker/acctset-remover/deletions.log") +
                                   "\n原因: 无法创建文件夹 " + undoDir.filePath("blocker/acctset-remover")),
                 qPrintable(notice));
        QCOMPARE(everyRow(), rows);
        QCOMPARE(databases(), dbs);
    }

    // Two years with the backups ticked: the script restores both databases from their verified
    // backups and puts every row back; the tool then lists the account set again. 2008 R2 refuses
    // what arrived later (replica_id, InstanceDefaultBackupPath, ...), so every statement of the
    // run must be one it has.
    void deletionWithBackupsIsUndoneByItsScript_data() {
        QTest::addColumn<sandbox::Release>("release");
        QTest::newRow("2019") << sandbox::Release::SqlServer2019;
        QTest::newRow("2008 R2") << sandbox::Release::SqlServer2008R2;
    }
    void deletionWithBackupsIsUndoneByItsScript() {
        QFETCH(sandbox::Release, release);
        if (release != sandbox::Release::SqlServer2019)
            startServer(release);
        const QStringList rows = everyRow();
        const QStringList dbs = databaseRows();
        QVERIFY(dbs.join('\n').contains("tqdata_001_2003|"));
        connectAndType("001", true, "2002;2003");
        MessageBox::queueChecks({true});
        QCOMPARE(pressDelete(), "帐套001(2002;2003年)已成功删除!");
        QVERIFY(shown[1].details.startsWith("备份目录(服务器上): " + backupDir()));
        const QString details = shown.last().details;
        QVERIFY2(details.contains("备份文件(服务器上):\n    " + backupDir()), qPrintable(details));
        for (const QString db : {"tqdata_001_2002", "tqdata_001_2003"}) {
            QVERIFY(!databases().contains(db));
            QCOMPARE(QDir(backupDir()).entryList({db + "_*.bak"}).size(), 1);
        }
        runThroughTsql(scripts().first());
        QCOMPARE(everyRow(), rows);
        QCOMPARE(databaseRows(), dbs);
        QTest::mouseClick(w->CmdLink, Qt::LeftButton);
        QVERIFY(w->ComAccList->findText("001(示例帐套)") >= 0);
    }

    // Hostile values in every text column of 001 and of 002 (a line break, GO and a DELETE of 002's
    // registration among them): deleted with two years, the script through tsql brings every row and
    // both databases back, and 002 is as it was.
    void hostileValuesComeBackThroughTsql() {
        hostile::fill(engine(), "001");
        hostile::fill(engine(), "002");
        const QStringList rows = everyRow();
        const QStringList dbs = databaseRows();
        QVERIFY(rows.join('\n').contains("DELETE FROM UA_account"));
        connectAndType("001", true, "2002;2003");
        MessageBox::queueChecks({true});
        QCOMPARE(pressDelete(), "帐套001(2002;2003年)已成功删除!");
        QString said;
        runThroughTsql(scripts().first(), &said);
        QVERIFY2(said.contains("catalogue rows restored"), qPrintable(said));
        QCOMPARE(everyRow(), rows);
        QCOMPARE(databaseRows(), dbs);
    }

    // A backup file removed before the script runs: it stops at that RESTORE, the other database is
    // not restored and no catalogue row is inserted.
    void removedBackupStopsTheScriptAtItsRestore() {
        connectAndType("001", true, "2002;2003");
        MessageBox::queueChecks({true});
        QCOMPARE(pressDelete(), "帐套001(2002;2003年)已成功删除!");
        const QStringList first = QDir(backupDir()).entryList({"tqdata_001_2002_*.bak"});
        QCOMPARE(first.size(), 1);
        QVERIFY(QFile::remove(QDir(backupDir()).filePath(first[0])));
        const QStringList rows = everyRow();
        QString said;
        runThroughTsql(scripts().first(), &said, true);
        QVERIFY2(said.contains("还原数据库 tqdata_001_2002 失败 (restore failed): 3013"), qPrintable(said));
        QVERIFY(said.contains("撤销脚本已在此停止"));
        QVERIFY(!said.contains("已还原数据库"));
        QCOMPARE(everyRow(), rows);
        QVERIFY(!databases().contains("tqdata_001_2002") && !databases().contains("tqdata_001_2003"));
    }

    // A row the suite adds for 001 after the confirmations, while the databases are dropped: the
    // purge compares, rolls back and says why, naming the dropped databases with their backups.
    // The script then restores the databases and leaves the catalogue, still registered, alone.
    void rowAddedBeforeThePurgeRollsItBack() {
        engine().changeBefore(R"(drop database \[tqdata_001_2003\])",
                              "INSERT INTO UA_log (cacc_id, cuser_id, ctask, dtime) VALUES ('001', 'late', "
                              "'后来的任务', '2004-01-01 00:00:00.000')");
        const QStringList dbs = databaseRows();
        connectAndType("001", true, "2002;2003");
        MessageBox::queueChecks({true});
        const QString outcome = pressDelete();
        QVERIFY2(
            outcome.startsWith(
                "帐套001的记录在撤销脚本写成后有变化(UA_log),删除已全部撤销,系统数据库中没有删除任何记录。"),
            qPrintable(outcome));
        QVERIFY2(outcome.contains("\n以下年度数据库已删除,可以用它们的备份和撤销脚本恢复(撤销脚本: " +
                                  scripts().first() + "):\ntqdata_001_2002 (备份: " + backupDir()),
                 qPrintable(outcome));
        QVERIFY(!outcome.contains("无法恢复"));
        QCOMPARE(raw("SELECT count(*) FROM UA_log WHERE cacc_id = '001' AND cuser_id = 'late'"),
                 QStringList{"1"});
        const QStringList rows = everyRow();
        QString said;
        runThroughTsql(scripts().first(), &said);
        QVERIFY2(said.contains("still in the catalogue"), qPrintable(said));
        QCOMPARE(everyRow(), rows);
        QCOMPARE(databaseRows(), dbs);
    }

    // A session opens one of the databases while they are backed up slowly: nothing is dropped or
    // purged, and the session is named.
    void sessionOpenedDuringTheBackupsStopsBeforeAnyDrop() {
        engine().setBackupSpeed(400);
        const QStringList rows = everyRow();
        const QStringList dbs = databases();
        bool opened = false;
        QTimer poke;
        connect(&poke, &QTimer::timeout, this, [&] {
            FrmBackupProgress* p = FrmBackupProgress::current();
            if (opened || !p || p->bars[0]->value() == 0)
                return;
            engine().addForeignSession({72, "tqdata_001_2003", "li", "PC-ACC3", "报表工具"});
            opened = true;
        });
        poke.start(20);
        connectAndType("001", true, "2002;2003");
        MessageBox::queueChecks({true});
        const QString notice = pressDelete();
        poke.stop();
        QVERIFY(opened);
        QVERIFY2(notice.startsWith("以下数据库正在被其他连接使用,删除操作已停止,没有删除任何数据!\n") &&
                     notice.contains("报表工具"),
                 qPrintable(notice));
        QCOMPARE(everyRow(), rows);
        QCOMPARE(databases(), dbs);
        const QString access =
            raw("SELECT group_concat(name) FROM sandbox_databases WHERE user_access <> 'MULTI_USER'")
                .value(0);
        QVERIFY2(access.isEmpty(), qPrintable(access));
    }

    // An OFFLINE database with the backups ticked: the first confirmation says it cannot be backed
    // up, and the run stops before any backup, saying why.
    void offlineDatabaseWithBackupsStopsBeforeAnyBackup() {
        QVERIFY(engine().setDatabaseState("tqdata_001_2003", "OFFLINE"));
        const QStringList rows = everyRow();
        const QStringList dbs = databases();
        connectAndType("001", true, "2002;2003");
        MessageBox::queueChecks({true});
        QCOMPARE(pressDelete(),
                 "以下数据库处于脱机状态(OFFLINE),无法备份,删除操作已停止,没有删除任何数据!\n"
                 "tqdata_001_2003\n请先在服务器上使其联机(ONLINE),或不选择备份后重试。");
        QVERIFY2(shown[0].details.contains(
                     "注意: 以下数据库处于脱机状态(OFFLINE),无法备份;删除后其数据文件仍留在服务器的"
                     "磁盘上:\n    tqdata_001_2003"),
                 qPrintable(shown[0].details));
        QVERIFY(QDir(backupDir()).entryList(QDir::Files).isEmpty());
        QCOMPARE(everyRow(), rows);
        QCOMPARE(databases(), dbs);
        QVERIFY(scripts().isEmpty());
    }

    // The backup folder is gone: the first backup fails with the server's words, nothing is dropped
    // or purged, and no script is left.
    void failedBackupStopsBeforeAnyDrop() {
        const QStringList rows = everyRow();
        const QStringList dbs = databases();
        QVERIFY(QDir(backupDir()).removeRecursively());
        connectAndType("001", true, "2002;2003");
        MessageBox::queueChecks({true});
        QCOMPARE(pressDelete(), "备份数据库tqdata_001_2002失败,删除操作已停止,没有删除任何数据!");
        QVERIFY2(shown.last().details.contains("3201"), qPrintable(shown.last().details));
        QCOMPARE(everyRow(), rows);
        QCOMPARE(databases(), dbs);
        QVERIFY(scripts().isEmpty());
    }

    // 取消 in the progress window while the server backs up slowly: the bar rose from the server's
    // percent_complete, the backup stops, nothing is dropped or purged.
    void cancelDuringABackupStopsBeforeAnyDrop() {
        engine().setBackupSpeed(200);
        const QStringList rows = everyRow();
        const QStringList dbs = databases();
        int seen = 0;
        QTimer poke;
        connect(&poke, &QTimer::timeout, this, [&] {
            FrmBackupProgress* p = FrmBackupProgress::current();
            if (!p || !p->cmdCancel->isEnabled())
                return;
            seen = std::max(seen, p->bars[0]->value());
            if (seen > 0)
                QTest::mouseClick(p->cmdCancel, Qt::LeftButton);
        });
        poke.start(50);
        connectAndType("001", true, "2002;2003");
        MessageBox::queueChecks({true});
        QCOMPARE(pressDelete(), "备份已取消,删除操作已停止,没有删除任何数据!");
        poke.stop();
        QVERIFY(seen > 0 && seen < 100);
        QCOMPARE(everyRow(), rows);
        QCOMPARE(databases(), dbs);
        QVERIFY(scripts().isEmpty());
        // The cancel was an attention, not a KILL: the window's own session still answers.
        QVERIFY(w->Cnn().query("select 1").ok());
    }
};

ACCTSET_TEST_CLASS(UndoE2eTest)
#include "undo_e2e_test.moc"
