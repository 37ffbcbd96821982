// The way back end to end: a deletion through the window against the sandbox, then its undo script
// through tsql, finds every catalogue row and database as it was.
#include <QtTest>

#include <QCheckBox>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>

#include "app/DropDownList.h"
#include "app/FrmMain.h"
#include "app/MessageBox.h"
#include "sandbox/Sandbox.h"

namespace {

const QStringList kCatalogue{"ua_account", "ua_period",      "UA_holdauth",  "UA_log",         "Ua_Identity",
                             "Ua_auth",    "UA_BackupPlans", "UA_BackupLog", "UA_account_sub", "EAILog"};

}  // namespace

class UndoE2eTest : public QObject {
    Q_OBJECT

    std::unique_ptr<sandbox::Server> server;
    std::unique_ptr<FrmMain> w;
    QTemporaryDir undoDir;
    QList<MessageBox::Shown> shown;

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
    QStringList scripts() const {
        const QDir d(undoDir.path());
        QStringList out;
        for (const QString& f : d.entryList({"*.sql"}, QDir::Files, QDir::Time))
            out << d.filePath(f);
        return out;
    }

    void connectAndType(const QString& number, bool tick = false, const QString& years = {}) {
        QTest::keyClicks(w->txtSqlSrvName, QString::fromStdString(server->serverName()));
        QTest::keyClicks(w->txtSaPwd, "sandbox");
        QTest::mouseClick(w->CmdLink, Qt::LeftButton);
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
        QVERIFY2(!err.contains("Msg "), err.constData());
    }

private slots:
    void initTestCase() {
        QVERIFY(undoDir.isValid());
        qputenv("ACCTSET_UNDO_DIR", undoDir.path().toUtf8());
    }
    void init() {
        for (const QString& f : scripts())
            QFile::remove(f);
        MessageBox::setTestMode(true);
        server = std::make_unique<sandbox::Server>();
        std::string error;
        QVERIFY2(server->start(&error), error.c_str());
        engine().seedDemo();
        w = std::make_unique<FrmMain>();
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
    }
    void cleanup() {
        w.reset();
        server.reset();
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
};

QTEST_MAIN(UndoE2eTest)
#include "undo_e2e_test.moc"
