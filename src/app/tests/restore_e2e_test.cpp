// 恢复帐套 end to end: a deletion through the window against the sandbox, then the restore from its
// undo script through the menu or the failure box, over the real driver stack.
#include <QtTest>

#include <QAction>
#include <QLineEdit>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>

#include "app/DropDownList.h"
#include "app/FrmBackupProgress.h"
#include "app/FrmMain.h"
#include "app/MessageBox.h"
#include "app/ScriptDialog.h"
#include "deletion/UndoFile.h"
#include "sandbox/Sandbox.h"
#include "support/E2eFixture.h"
#include "support/JournalLines.h"
#include "support/StoreSnapshot.h"
#include "support/TestMain.h"

class RestoreE2eTest : public QObject {
    Q_OBJECT

    E2eFixture e2e;
    FrmMain* w = nullptr;
    QTemporaryDir undoDir;
    std::unique_ptr<QTemporaryDir> backups;
    QList<MessageBox::Shown> shown;
    QString chosen;  // what the file dialog answers
    QString dialogFolder;

    sandbox::Engine& engine() { return e2e.engine(); }
    QStringList everyRow() { return snapshot::everyRow(engine()); }
    QStringList databaseRows() { return snapshot::databaseRows(engine()); }
    bool hasDatabase(const QString& name) { return engine().databaseExists(name.toStdString()); }
    QString script() const {
        const QDir d(undoDir.path());
        const QStringList files = d.entryList({"*.sql"}, QDir::Files, QDir::Time);
        return files.isEmpty() ? QString() : d.filePath(files.first());
    }
    QList<QStringList> journal() const {
        return journalLines(QDir(undoDir.path()).filePath("deletions.log"));
    }

    // Deletes 001 with both years and their backups, through the window.
    void deleteWithBackups(const QList<MessageBox::Answer>& answers = {}) {
        e2e.connect();
        QTest::keyClicks(w->TxtAccNo, "001");
        QTest::mouseClick(w->ChkDelDB, Qt::LeftButton);
        w->txtYear->setText("2002;2003");
        MessageBox::takeShown();
        MessageBox::queueAnswers(answers);
        MessageBox::queueChecks({true});
        QTest::mouseClick(w->CmdDel, Qt::LeftButton);
        shown = MessageBox::takeShown();
    }
    // 恢复帐套 on the menu bar, as the operator clicks it; the boxes it showed.
    void clickRestore() {
        QVERIFY(w->menu_restore->isEnabled());
        QTest::mouseClick(w->menuBar, Qt::LeftButton, {},
                          w->menuBar->actionGeometry(w->menu_restore).center());
        shown = MessageBox::takeShown();
    }
    QString last() const { return shown.isEmpty() ? QString() : shown.last().text; }

private slots:
    void initTestCase() {
        QVERIFY(undoDir.isValid());
        qputenv("ACCTSET_UNDO_DIR", undoDir.path().toUtf8());
        ScriptDialog::setTestAnswer([this](const QString& folder) {
            dialogFolder = folder;
            return chosen;
        });
    }
    void cleanupTestCase() { ScriptDialog::setTestAnswer({}); }
    void init() {
        for (const QString& f : QDir(undoDir.path()).entryList(QDir::Files))
            QFile::remove(QDir(undoDir.path()).filePath(f));
        backups = std::make_unique<QTemporaryDir>();
        sandbox::Options options;
        options.backupDir = backups->path().toStdString();
        std::string error;
        QVERIFY2(e2e.startServer(options, &error), error.c_str());
        engine().seedDemo();
        QVERIFY(e2e.setUp());
        w = &e2e.window();
    }
    void cleanup() {
        w = nullptr;
        MessageBox::setOnShown({});
        E2E_TEAR_DOWN(e2e);
    }

    // Deleted with two years and backups, then 恢复帐套 with its script: the confirmation names
    // what the server reads in each backup, every row (all columns) and both databases come back,
    // 001 is listed again, and the journal has a line for each.
    void deletedAccountSetComesBackFromTheMenu() {
        const QStringList rows = everyRow();
        const QStringList dbs = databaseRows();
        QVERIFY(!w->menu_restore->isEnabled());
        deleteWithBackups();
        QCOMPARE(last(), "帐套001(2002;2003年)已成功删除!");
        QVERIFY(!hasDatabase("tqdata_001_2002") && !hasDatabase("tqdata_001_2003"));
        QVERIFY(w->ComAccList->findText("001(示例帐套)") < 0);

        chosen = script();
        clickRestore();
        QCOMPARE(dialogFolder, undoDir.path());
        QCOMPARE(shown.size(), 2);
        QCOMPARE(shown[0].kind, MessageBox::Confirmation);
        QCOMPARE(shown[0].text,
                 "确实要从撤销脚本恢复帐套001吗?\n将从备份还原数据库: tqdata_001_2002, "
                 "tqdata_001_2003\n将恢复系统库记录 61 行 (详见详细信息)");
        const QString details = shown[0].details;
        QVERIFY2(details.contains("帐套号: 001\n年度: 2002;2003\n删除时间: ") &&
                     details.contains("撤销脚本: " + chosen),
                 qPrintable(details));
        QVERIFY2(details.contains("    tqdata_001_2002: " + backups->path()), qPrintable(details));
        QVERIFY2(details.contains(", 已校验") && details.contains("        备份于 "), qPrintable(details));
        QVERIFY2(details.contains("恢复的系统库记录 (一个事务):\n    UA_account: 1 行"), qPrintable(details));
        QVERIFY2(shown[1].text.startsWith("帐套001已恢复!\n已还原数据库: tqdata_001_2002, tqdata_001_2003\n"
                                          "已恢复系统库记录 "),
                 qPrintable(shown[1].text));
        QCOMPARE(everyRow(), rows);
        QCOMPARE(databaseRows(), dbs);
        QVERIFY(w->ComAccList->findText("001(示例帐套)") >= 0);

        const QList<QStringList> lines = journal();
        QCOMPARE(lines.size(), 2);
        QCOMPARE(lines[0].value(5), "succeeded");
        QCOMPARE(lines[1].value(5), "restored");
        QCOMPARE(lines[1].value(3), "001");
        QCOMPARE(lines[1].value(6), chosen);
        QCOMPARE(lines[1].value(7).split(';').size(), 2);

        // A second time there is nothing to bring back, and nothing is done.
        clickRestore();
        QCOMPARE(shown.size(), 1);
        QCOMPARE(shown[0].text, "帐套001的数据库和系统库记录都在, 无需恢复.");
        QCOMPARE(journal().size(), 2);
    }

    // A lock held on a catalogue table during the purge: the purge rolls back after the drops, and
    // the failure box's 立即恢复 brings both databases back, the catalogue left as it was.
    void failureAfterTheDropsIsRestoredAtOnce() {
        const QStringList rows = everyRow();
        const QStringList dbs = databaseRows();
        int holder = 0;
        QTimer watch;
        connect(&watch, &QTimer::timeout, this, [&] {
            // Once the undo script is saved: the catalogue has been read, and the drops and the
            // purge are still to come.
            if (holder == 0 && !script().isEmpty())
                holder =
                    engine().holdLock("UA_log", std::chrono::milliseconds(-1), "fin", "PC-FIN3", "fin-app");
        });
        watch.start(1);
        // The holder ends its transaction while the operator reads the failure.
        MessageBox::setOnShown([&](const MessageBox::Shown& s) {
            if (!s.actionText.isEmpty() && holder != 0)
                engine().releaseLock(holder);
        });
        deleteWithBackups({MessageBox::Ok, MessageBox::Ok, MessageBox::Action, MessageBox::Ok});
        watch.stop();
        QVERIFY(holder != 0);
        QVERIFY(shown.size() >= 4);
        const MessageBox::Shown failure = shown[shown.size() - 3];
        QCOMPARE(failure.actionText, "立即恢复");
        QVERIFY2(failure.text.contains("tqdata_001_2002 (备份: "), qPrintable(failure.text));
        QCOMPARE(shown[shown.size() - 2].text,
                 "确实要从撤销脚本恢复帐套001吗?\n将从备份还原数据库: "
                 "tqdata_001_2002, tqdata_001_2003\n系统库记录仍在, 不重复插入");
        QVERIFY2(shown[shown.size() - 2].details.contains("系统库记录仍在 (与撤销脚本中的相同), 不重复插入:"),
                 qPrintable(shown[shown.size() - 2].details));
        QVERIFY2(last().startsWith("帐套001已恢复!\n已还原数据库: tqdata_001_2002, tqdata_001_2003\n"
                                   "系统库记录仍在, 未重复插入."),
                 qPrintable(last()));
        QCOMPARE(everyRow(), rows);
        QCOMPARE(databaseRows(), dbs);
        const QList<QStringList> lines = journal();
        QCOMPARE(lines.size(), 2);
        QCOMPARE(lines[0].value(5), "failed");
        QCOMPARE(lines[1].value(5), "restored");
    }

    // 取消 while a slow restore runs: the database being restored is dropped again, nothing stays
    // half-restored, and no catalogue row goes in.
    void cancelDuringASlowRestoreLeavesNothingHalfRestored() {
        deleteWithBackups();
        QCOMPARE(last(), "帐套001(2002;2003年)已成功删除!");
        const QStringList rows = everyRow();
        engine().setBackupSpeed(300);
        bool pressed = false;
        QTimer poke;
        connect(&poke, &QTimer::timeout, this, [&] {
            FrmBackupProgress* p = FrmBackupProgress::current();
            if (pressed || !p || p->bars.isEmpty() || p->bars[0]->value() == 0)
                return;
            QTest::mouseClick(p->cmdCancel, Qt::LeftButton);
            pressed = true;
        });
        poke.start(20);
        chosen = script();
        clickRestore();
        poke.stop();
        QVERIFY(pressed);
        QVERIFY2(last().startsWith("恢复帐套001已取消!"), qPrintable(last()));
        QVERIFY2(last().contains("未还原完的数据库已删除, 没有留下半还原的数据库: tqdata_001_2002"),
                 qPrintable(last()));
        QVERIFY(!hasDatabase("tqdata_001_2002") && !hasDatabase("tqdata_001_2003"));
        QCOMPARE(everyRow(), rows);
        QCOMPARE(journal().last().value(5), "restore stopped before any change");
    }

    // Refused, with the reason and nothing changed: a script made on another server, one cut short,
    // one whose account set was registered again or a database of it made again, one whose backup
    // is gone.
    void scriptsThatCannotBeRestoredAreRefused() {
        deleteWithBackups();
        QCOMPARE(last(), "帐套001(2002;2003年)已成功删除!");
        const QString made = script();
        const QStringList rows = everyRow();

        deletion::undo::Script s;
        deletion::undo::ReadError e;
        QVERIFY(deletion::undo::read(made, &s, &e));
        s.header.serverName = "OTHERHOST";
        const QString other = QDir(undoDir.path()).filePath("other.sql");
        QString error;
        QVERIFY(deletion::undo::save(other, compose(s.header, s.backups, s.tables), &error));
        chosen = other;
        clickRestore();
        QCOMPARE(shown.size(), 1);
        QVERIFY2(last().startsWith("此撤销脚本是在服务器 OTHERHOST 上生成的, 当前连接的服务器是 "),
                 qPrintable(last()));

        QFile full(made);
        QVERIFY(full.open(QIODevice::ReadOnly));
        const QByteArray bytes = full.readAll();
        full.close();
        const QString cut = QDir(undoDir.path()).filePath("cut.sql");
        QFile part(cut);
        QVERIFY(part.open(QIODevice::WriteOnly));
        part.write(bytes.left(bytes.indexOf("    INSERT INTO") + 20));
        part.close();
        chosen = cut;
        clickRestore();
        QCOMPARE(shown.size(), 1);
        QVERIFY2(
            last().startsWith("无法使用撤销脚本 " + cut + " 恢复帐套:\n第 ") && last().contains("cut short"),
            qPrintable(last()));

        engine().execRaw("INSERT INTO ua_account (cAcc_Id, cAcc_Name) VALUES ('001', '新帐套')");
        chosen = made;
        clickRestore();
        QCOMPARE(shown.size(), 1);
        QVERIFY2(last().startsWith("帐套001已重新建立"), qPrintable(last()));
        QVERIFY(!hasDatabase("tqdata_001_2002"));
        engine().execRaw("DELETE FROM ua_account WHERE cAcc_Id = '001'");
        QCOMPARE(everyRow(), rows);

        // Another database under a yearly database's name.
        engine().execRaw(
            "INSERT INTO sandbox_databases (dbid, name, status, crdate, cmptlevel, filename, state) "
            "VALUES (90, 'tqdata_001_2003', 0, '2026-01-01 00:00:00.000', 100, '', 'ONLINE')");
        clickRestore();
        QCOMPARE(shown.size(), 1);
        QVERIFY2(last().startsWith("数据库 tqdata_001_2003 已重新存在, 与备份中的不是同一个数据库 (创建于 "
                                   "2026-01-01 00:00:00, 备份中的创建于 "),
                 qPrintable(last()));
        engine().execRaw("DELETE FROM sandbox_databases WHERE dbid = 90");

        // A backup file the server cannot read any more: the server's own words say why.
        for (const QString& f : QDir(backups->path()).entryList({"tqdata_001_2002_*.bak"}))
            QVERIFY(QFile::remove(QDir(backups->path()).filePath(f)));
        clickRestore();
        QCOMPARE(shown.size(), 1);
        QVERIFY2(last().startsWith("服务器无法读取数据库 tqdata_001_2002 的备份文件 " + backups->path()),
                 qPrintable(last()));
        QVERIFY2(shown[0].details.contains("Operating system error 2") && shown[0].details.endsWith("(3013)"),
                 qPrintable(shown[0].details));
        QVERIFY(!hasDatabase("tqdata_001_2002") && !hasDatabase("tqdata_001_2003"));
        QCOMPARE(everyRow(), rows);
        QCOMPARE(journal().size(), 1);  // the deletion's; no restore got as far as a change
    }
};

ACCTSET_TEST_CLASS(RestoreE2eTest)
#include "restore_e2e_test.moc"
