// A statement the store refuses is a server error, undone as a server undoes it, never a quiet success.

#include <sqlite3.h>

#include <QTemporaryDir>
#include <QtTest>

#include "EngineFixture.h"
#include "sandbox/Engine.h"
#include "support/TestMain.h"

using namespace sandbox;
using namespace sandbox::testing;

namespace {

// A trigger that lets the 2003 row go and refuses the 2004 one: the refusal comes after one row
// of the statement is already deleted, so only a statement-level rollback keeps both.
const char* const kRefuseSecondRow =
    "CREATE TRIGGER keep_sub BEFORE DELETE ON UA_account_sub WHEN old.iyear = 2004 "
    "BEGIN SELECT RAISE(ABORT, 'UA_account_sub rows of 2004 are kept'); END;";

std::vector<int> numbers(const Piece& p) {
    std::vector<int> out;
    for (const auto& m : p.messages)
        out.push_back(m.number);
    return out;
}

// The one value a batch's first result set holds, as text.
std::string scalar(Fixture& f, const std::string& sql) {
    BatchResult r = f.run(sql);
    const Value& v = r.pieces.at(0).result->rows.at(0).at(0);
    return v.null ? "NULL" : v.text.empty() ? std::to_string(v.i) : v.text;
}

}  // namespace

class SandboxStoreFailureTest : public QObject {
    Q_OBJECT

private slots:
    void deleteRefusedByATriggerUndoesTheWholeStatement() {
        Fixture f;
        QVERIFY(f.engine.execRaw(kRefuseSecondRow));
        BatchResult r = f.run("delete from UA_account_sub where cacc_id='002'\nselect @@ERROR, @@ROWCOUNT");
        QCOMPARE(r.pieces.size(), size_t(2));
        const Piece& del = r.pieces[0];
        QCOMPARE(numbers(del), std::vector<int>{50000});
        QCOMPARE(del.messages[0].severity, 16);
        QCOMPARE(del.messages[0].text, std::string("UA_account_sub rows of 2004 are kept"));
        QCOMPARE(del.rowCount, int64_t(-1));  // no "rows affected" for a failed statement
        QCOMPARE(f.count("UA_account_sub", "cacc_id='002'"), 2);
        const auto& row = r.pieces[1].result->rows.at(0);
        QCOMPARE(row[0].i, int64_t(50000));
        QCOMPARE(row[1].i, int64_t(0));
        // The next statement runs and clears @@ERROR.
        QCOMPARE(scalar(f, "select count(*) from UA_account_sub where cacc_id='002'\nselect @@ERROR"), "2");
        QCOMPARE(scalar(f, "select @@ERROR"), "0");
    }

    // XACT_ABORT OFF: the statement is undone, the transaction and its earlier work go on.
    // XACT_ABORT ON: the transaction is rolled back and the batch ends, as the tool's purge expects.
    void deleteRefusedInsideATransaction() {
        for (bool xactAbort : {false, true}) {
            Fixture f;
            QVERIFY(f.engine.execRaw(kRefuseSecondRow));
            BatchResult r = f.run(std::string("SET XACT_ABORT ") + (xactAbort ? "ON" : "OFF") +
                                  "\nBEGIN TRANSACTION\ndelete from UA_log where cacc_id='002'\n"
                                  "delete from UA_account_sub where cacc_id='002'\nselect @@TRANCOUNT");
            const Piece& failed = r.pieces.at(3);
            QCOMPARE(numbers(failed), std::vector<int>{50000});
            QCOMPARE(f.count("UA_account_sub", "cacc_id='002'"), 2);
            if (xactAbort) {
                QCOMPARE(r.pieces.size(), size_t(4));
                QCOMPARE(failed.tran, TranChange::Rollback);
                QCOMPARE(f.s->tranCount, 0);
                QVERIFY(f.count("UA_log", "cacc_id='002'") > 0);
            } else {
                QCOMPARE(r.pieces.size(), size_t(5));
                QCOMPARE(r.pieces[4].result->rows.at(0).at(0).i, int64_t(1));
                QCOMPARE(f.count("UA_log", "cacc_id='002'"),
                         0);  // the store's one connection reads inside it
                f.run("COMMIT TRANSACTION");
                QCOMPARE(f.count("UA_log", "cacc_id='002'"), 0);
            }
        }
    }

    // A trigger that rolls back the store's transaction ends the session's too (Msg 3609).
    void triggerThatRollsBackEndsTheTransaction() {
        Fixture f;
        QVERIFY(
            f.engine.execRaw("CREATE TRIGGER undo_all BEFORE DELETE ON UA_account_sub "
                             "BEGIN SELECT RAISE(ROLLBACK, 'refused'); END;"));
        BatchResult r = f.run(
            "BEGIN TRANSACTION\ndelete from UA_log where cacc_id='002'\ndelete from UA_account_sub where "
            "cacc_id='002'\nselect 1");
        QCOMPARE(r.pieces.size(), size_t(3));
        QCOMPARE(numbers(r.pieces[2]), (std::vector<int>{50000, 3609}));
        QCOMPARE(r.pieces[2].tran, TranChange::Rollback);
        QCOMPARE(f.s->tranCount, 0);
        QVERIFY(f.count("UA_log", "cacc_id='002'") > 0);
        QCOMPARE(scalar(f, "select @@TRANCOUNT"), "0");
    }

    // A row a trigger quietly keeps is not counted as deleted.
    void rowsATriggerKeepsAreNotCounted() {
        Fixture f;
        QVERIFY(
            f.engine.execRaw("CREATE TRIGGER skip BEFORE DELETE ON UA_account_sub WHEN old.iyear = 2004 "
                             "BEGIN SELECT RAISE(IGNORE); END;"));
        BatchResult r = f.run("delete from UA_account_sub where cacc_id='002'");
        QCOMPARE(r.pieces.at(0).rowCount, int64_t(1));
        QVERIFY(r.pieces[0].messages.empty());
        QCOMPARE(f.count("UA_account_sub", "cacc_id='002'"), 1);
    }

    void deleteRefusedByAReference() {
        Fixture f;
        QVERIFY(
            f.engine.execRaw("PRAGMA foreign_keys = ON; CREATE TABLE child_sub (cacc_id nvarchar(12) "
                             "REFERENCES ua_account(cacc_id));"
                             "CREATE UNIQUE INDEX ua_account_id ON ua_account(cacc_id);"
                             "INSERT INTO child_sub VALUES ('002');"));
        BatchResult r = f.run("delete from ua_account where cacc_id='002'");
        QCOMPARE(numbers(r.pieces.at(0)), (std::vector<int>{547, 3621}));
        QVERIFY(r.pieces[0].messages[0].text.find("The DELETE statement conflicted with the REFERENCE") == 0);
        QCOMPARE(r.pieces[0].messages[1].severity, 0);
        QCOMPARE(f.count("ua_account", "cacc_id='002'"), 1);
    }

    // DROP DATABASE keeps the database when the store refuses; the other names still drop.
    void dropDatabaseRefused() {
        Fixture f;
        f.engine.addDatabase("Kept");
        f.engine.addDatabase("Gone");
        QVERIFY(
            f.engine.execRaw("CREATE TRIGGER keep_db BEFORE DELETE ON sandbox_databases WHEN old.name = "
                             "'Kept' BEGIN SELECT RAISE(ABORT, 'Kept stays'); END;"));
        BatchResult r = f.run("DROP DATABASE Kept, Gone");
        QCOMPARE(numbers(r.pieces.at(0)), std::vector<int>{50000});
        const auto dbs = f.engine.databases();
        QVERIFY(std::find(dbs.begin(), dbs.end(), "Kept") != dbs.end());
        QVERIFY(std::find(dbs.begin(), dbs.end(), "Gone") == dbs.end());
        QCOMPARE(f.count("sandbox_files", "name LIKE 'Kept%'"), 2);  // its files are listed still
    }

    // A commit the store refuses has committed nothing: the transaction is rolled back.
    void commitRefused() {
        Fixture f;
        QVERIFY(
            f.engine.execRaw("PRAGMA foreign_keys = ON; CREATE UNIQUE INDEX ua_account_id ON "
                             "ua_account(cacc_id); CREATE TABLE child_sub (cacc_id nvarchar(12) REFERENCES "
                             "ua_account(cacc_id) DEFERRABLE INITIALLY DEFERRED);"
                             "INSERT INTO child_sub VALUES ('002');"));
        BatchResult r = f.run(
            "BEGIN TRANSACTION\ndelete from ua_account where cacc_id='002'\n"
            "COMMIT TRANSACTION\nselect 1");
        QCOMPARE(r.pieces.size(), size_t(3));
        QCOMPARE(numbers(r.pieces[2]), (std::vector<int>{547, 3621}));
        QCOMPARE(r.pieces[2].tran, TranChange::Rollback);
        QCOMPARE(f.s->tranCount, 0);
        QCOMPARE(f.count("ua_account", "cacc_id='002'"), 1);
    }

    // A read the store cannot serve (another holder keeps the file locked) fails as a lock
    // timeout; it does not answer with fewer rows.
    void selectRefused() {
        QTemporaryDir dir;
        const std::string path = dir.filePath("store.db").toStdString();
        Fixture f(path);
        sqlite3* other = nullptr;
        QCOMPARE(sqlite3_open(path.c_str(), &other), SQLITE_OK);
        QCOMPARE(sqlite3_exec(other, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
        BatchResult r = f.run("select cacc_id from ua_account\nselect @@ERROR");
        QCOMPARE(numbers(r.pieces.at(0)), std::vector<int>{1222});
        QVERIFY(!r.pieces[0].result);
        sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
        sqlite3_close(other);
        QCOMPARE(scalar(f, "select count(*) from ua_account"), "4");
    }

    // The same refusal seeded from a file, as a standalone server is given it (--seed FILE).
    void seededFromAFile() {
        QTemporaryDir dir;
        QFile seed(dir.filePath("refusing.sql"));
        QVERIFY(seed.open(QIODevice::WriteOnly));
        seed.write(
            "INSERT INTO ua_account (cacc_id, cacc_name) VALUES ('002', 'x');\n"
            "INSERT INTO UA_account_sub (cacc_id, iyear) VALUES ('002', 2003), ('002', 2004);\n");
        seed.write(kRefuseSecondRow);
        seed.close();
        Engine engine;
        engine.seedEmpty();
        std::string error;
        QVERIFY2(engine.seedFile(seed.fileName().toStdString(), &error), error.c_str());
        auto s = engine.openSession("TQSystem");
        BatchResult r = engine.execBatch(*s, "delete from UA_account_sub where cacc_id='002'");
        QCOMPARE(numbers(r.pieces.at(0)), std::vector<int>{50000});
    }
};

ACCTSET_TEST_CLASS(SandboxStoreFailureTest)
#include "sandbox_store_failure_test.moc"
