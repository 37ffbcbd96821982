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
#include "support/TestMain.h"

Q_DECLARE_METATYPE(sandbox::Release)

namespace {

const QStringList kCatalogue{"ua_account", "ua_period",      "UA_holdauth",  "UA_log",         "Ua_Identity",
                             "Ua_auth",    "UA_BackupPlans", "UA_BackupLog", "UA_account_sub", "EAILog"};

}  // namespace

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
    QStringList raw(const QString& sql) {
        QStringList out;
        for (const std::string& s : engine().queryRaw(sql.toStdString()))
            out << QString::fromStdString(s);
        return out;
    }

    // Every row of every catalogue table, every column quoted, in a fixed order.
    QStringList everyRow() {
        QStringList out;
        for (const QString& t : kCatalogue) {
            QStringList quoted;
            for (const QString& c : raw("SELECT name FROM pragma_table_info('" + t + "')"))
                quoted << "quote(" + c + ")";
            out << t + ":\n" +
                       raw("SELECT " + quoted.join("||'|'||") + " FROM " + t + " ORDER BY 1").join('\n');
        }
        return out;
    }
    QStringList databases() {
        QStringList dbs;
        for (const std::string& d : engine().databases())
            dbs << QString::fromStdString(d);
        dbs.sort();
        return dbs;
    }
    // Each database with its state and files, as the server lists them (its id and creation date
    // are the server's to give anew on a restore).
    QStringList databaseRows() {
        return raw(
            "SELECT d.name||'|'||d.status||'|'||d.cmptlevel||'|'||ifnull(d.filename,'')||'|'||d.state||'|'||"
            "f.fileid||'|'||f.name||'|'||f.filename||'|'||f.size FROM sandbox_databases d JOIN sandbox_files "
            "f "
            "ON f.dbid = d.dbid ORDER BY 1");
    }
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
    void runThroughTsql(const QString& path) {
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
        // Messages of severity 10 are information (the restores' 4035 and 3014); errors are 11 and up.
        static const QRegularExpression error(R"(Msg \d+ \(severity (1[1-9]|2\d))");
        QVERIFY2(!error.match(QString::fromUtf8(err)).hasMatch(), err.constData());
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

    // A script that cannot be saved (a file stands where its folder must go) stops the run before
    // anything changes.
    void unsavableScriptChangesNothing() {
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
        QCOMPARE(notice, "无法保存撤销脚本,删除操作已停止,没有删除任何数据!");
        QVERIFY(shown.last().details.contains("blocker/acctset-remover"));
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
