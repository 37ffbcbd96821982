// The undo script as the rows of a sandbox make it, run batch by batch as sqlcmd cuts it: hostile
// values come back exactly, a failure stops the rest, a second run or a registered account set
// inserts nothing, and another server runs none of it.
#include <QtTest>

#include "deletion/DeletionSql.h"
#include "deletion/UndoCapture.h"
#include "sandbox/Sandbox.h"
#include "support/HostileValues.h"
#include "support/TestMain.h"

namespace {

QVariant toVariant(const sandbox::Value& v, sandbox::ColType t) {
    using sandbox::ColType;
    if (v.null)
        return {};
    switch (t) {
        case ColType::Int:
        case ColType::SmallInt:
        case ColType::BigInt:
        case ColType::Bit:
            return qlonglong(v.i);
        case ColType::Float:
            return v.f;
        case ColType::VarBinary:
            return QByteArray::fromStdString(v.text);
        case ColType::NVarChar:
        case ColType::DateTime:
        case ColType::Decimal:  // as both drivers hand decimals over: text
            return QString::fromStdString(v.text);
    }
    return {};
}

// The window's connection, straight on the engine: each batch's results and first error, as the
// driver hands them over.
class EngineClient : public SqlClient {
public:
    EngineClient(sandbox::Engine& e) : engine_(e), s_(e.openSession("TQSystem")) {}
    SqlError open(const ConnectionSpec&) override { return {}; }
    void close() override {}
    bool isOpen() const override { return true; }
    SqlResult query(const QString& sql) override { return batch({sql}).first(); }
    SqlError command(const QString& sql) override { return firstError(batch({sql})); }
    QList<SqlResult> batch(const QStringList& statements) override {
        QList<SqlResult> out;
        const sandbox::BatchResult r = engine_.execBatch(*s_, statements.join(";\n").toStdString());
        for (const sandbox::Piece& p : r.pieces) {
            SqlResult one;
            for (const sandbox::Message& m : p.messages) {
                if (m.severity > 10 && !one.error.isError())
                    one.error = {SqlError::Kind::Statement, m.number, QString::fromStdString(m.text)};
            }
            if (p.result) {
                for (const auto& c : p.result->columns)
                    one.columns << QString::fromStdString(c.name);
                for (const auto& row : p.result->rows) {
                    QVariantList values;
                    for (size_t i = 0; i < row.size(); ++i)
                        values << toVariant(row[i], p.result->columns[i].type);
                    one.rows << values;
                }
            }
            if (p.result || one.error.isError())
                out << one;
        }
        return out.isEmpty() ? QList<SqlResult>{SqlResult{}} : out;
    }

private:
    sandbox::Engine& engine_;
    std::unique_ptr<sandbox::Session> s_;
};

const QStringList kCatalogue{"ua_account", "ua_period",      "UA_holdauth",  "UA_log",         "Ua_Identity",
                             "Ua_auth",    "UA_BackupPlans", "UA_BackupLog", "UA_account_sub", "EAILog"};

}  // namespace

class UndoScriptRunTest : public QObject {
    Q_OBJECT

    QTemporaryDir undoDir;
    std::unique_ptr<sandbox::Engine> engine;
    std::unique_ptr<sandbox::Session> runner;  // the operator's sqlcmd, a session of its own

    QStringList everyRow() {
        QStringList out;
        for (const QString& t : kCatalogue) {
            QStringList quoted;
            for (const std::string& c :
                 engine->queryRaw("SELECT name FROM pragma_table_info('" + t.toStdString() + "')"))
                quoted << "quote(" + QString::fromStdString(c) + ")";
            out << t + ":";
            for (const std::string& r : engine->queryRaw(
                     ("SELECT " + quoted.join("||'|'||") + " FROM " + t + " ORDER BY 1").toStdString()))
                out << QString::fromStdString(r);
        }
        return out;
    }

    // Saves the script of 001 as the tool does and returns its text, without the byte-order mark.
    QString capture(const QList<deletion::undo::Backup>& backups = {}) {
        EngineClient client(*engine);
        const deletion::UndoCapture c{"127.0.0.1,14333", "001", {"2002", "2003"}, backups};
        QString path, error;
        if (!c.save(client, DeletionSql::purgeTables(), &path, &error)) {
            qWarning() << error;
            return {};
        }
        QFile f(path);
        f.open(QIODevice::ReadOnly);
        return QString::fromUtf8(f.readAll().mid(3));
    }
    void purge() {
        EngineClient client(*engine);
        QStringList statements;
        for (const auto& p : DeletionSql::purgeStatements("001"))
            statements << p.statement;
        QVERIFY(!firstError(client.batch(statements)).isError());
    }
    // Runs the script as sqlcmd does: batch after batch, whatever the one before did. The messages
    // as "number:text".
    QStringList runAsSqlcmd(const QString& script) {
        QString why;
        const QStringList batches = hostile::sqlcmdBatches(script, &why);
        if (batches.isEmpty())
            return {"runner would act on: " + why};
        QStringList said;
        for (const QString& b : batches) {
            for (const auto& p : engine->execBatch(*runner, b.toStdString()).pieces)
                for (const auto& m : p.messages)
                    said << QString::number(m.number) + ":" + QString::fromStdString(m.text);
        }
        return said;
    }

private slots:
    void initTestCase() { qputenv("ACCTSET_UNDO_DIR", undoDir.path().toUtf8()); }
    void init() {
        engine = std::make_unique<sandbox::Engine>();
        engine->seedDemo();
        runner = engine->openSession("master");
    }
    void cleanup() {
        runner.reset();
        engine.reset();
    }

    // Every text column of 001 (and of 002, whose values try to delete 001's years) hostile: after
    // the purge, the script puts back exactly what was there; 002 is untouched.
    void hostileValuesComeBackExactly() {
        hostile::fill(*engine, "001");
        hostile::fill(*engine, "002");
        const QStringList before = everyRow();
        QVERIFY(before.join('\n').contains("DELETE FROM UA_account"));
        const QString script = capture();
        QVERIFY(!script.isEmpty());
        purge();
        QVERIFY(everyRow() != before);
        const QStringList said = runAsSqlcmd(script);
        QVERIFY2(said.join('\n').contains("catalogue rows restored"), qPrintable(said.join('\n')));
        for (const QString& m : said)
            QVERIFY2(m.startsWith("0:"), qPrintable(m));
        QCOMPARE(everyRow(), before);

        // A second run: the account set is there, nothing is inserted twice.
        const QStringList again = runAsSqlcmd(script);
        QVERIFY2(again.join('\n').contains("still in the catalogue"), qPrintable(again.join('\n')));
        QCOMPARE(everyRow(), before);
    }

    // A purge that was rolled back left the account set registered: the script leaves the
    // catalogue alone and says so.
    void registeredAccountSetIsLeftAlone() {
        const QStringList before = everyRow();
        const QStringList said = runAsSqlcmd(capture());
        QVERIFY2(said.join('\n').contains("0:帐套001仍在系统库中"), qPrintable(said.join('\n')));
        QCOMPARE(everyRow(), before);
    }

    // A backup file that is gone: the script stops at that restore, says so, and inserts nothing.
    void failedRestoreStopsTheRest() {
        const QString script = capture({{"tqdata_001_2002", undoDir.filePath("gone.bak")}});
        QVERIFY(script.contains("RESTORE DATABASE [tqdata_001_2002]"));
        purge();
        QVERIFY(engine->setDatabaseState("tqdata_001_2002", "OFFLINE"));
        EngineClient(*engine).command("drop database [tqdata_001_2002]");
        QVERIFY(!engine->databaseExists("tqdata_001_2002"));
        const QStringList rows = everyRow();
        const QStringList said = runAsSqlcmd(script);
        QVERIFY2(said.size() >= 2 &&
                     said[0].startsWith("0:还原数据库 tqdata_001_2002 失败 (restore failed): 3013"),
                 qPrintable(said.join('\n')));
        QVERIFY(said[1].startsWith("50000:撤销脚本已在此停止"));
        QCOMPARE(said.size(), 2);
        QCOMPARE(everyRow(), rows);
        QVERIFY(runner->noExec);
    }

    // Run on another server (its @@SERVERNAME differs from the one the rows were read on), the
    // script does nothing.
    void anotherServerRunsNothing() {
        QString script = capture();
        purge();
        const QStringList rows = everyRow();
        script.replace("<> N'SANDBOX'", "<> N'ELSEWHERE'");
        const QStringList said = runAsSqlcmd(script);
        QVERIFY2(said.size() == 1 && said[0].startsWith("50000:此脚本只能在服务器 SANDBOX 上运行"),
                 qPrintable(said.join('\n')));
        QCOMPARE(everyRow(), rows);
    }
};

ACCTSET_TEST_CLASS(UndoScriptRunTest)
#include "undo_script_run_test.moc"
