// The statements an undo script runs: INSERT with typed literals, IDENTITY_INSERT, USE, and sys.columns.

#include <QProcess>
#include <QStandardPaths>
#include <QtTest>

#include "sandbox/Sandbox.h"
#include "support/TestMain.h"

using namespace sandbox;

namespace {

int errorOf(const BatchResult& r) {
    for (const auto& p : r.pieces)
        for (const auto& m : p.messages)
            if (m.severity > 10)
                return m.number;
    return 0;
}

struct Fixture {
    Engine engine;
    std::unique_ptr<Session> s;
    Fixture() {
        engine.seedDemo();
        s = engine.openSession("TQSystem");
    }
    BatchResult run(const std::string& sql) { return engine.execBatch(*s, sql); }
    // Every column of every row, as the store holds it (quote() shows blobs and reals exactly).
    QStringList dump(const std::string& table) {
        QStringList out;
        for (auto& r : engine.queryRaw("SELECT quote(id)||'|'||quote(Ea_Account)||'|'||quote(cmessage)||'|'||"
                                       "quote(dtime) FROM " +
                                       table + " ORDER BY id"))
            out << QString::fromStdString(r);
        return out;
    }
};

const char* const kScript =
    "-- header\nSET NOCOUNT ON;\nGO\nUSE [master];\nGO\nUSE [TQSystem];\nGO\n"
    "SET XACT_ABORT ON;\nBEGIN TRANSACTION;\n"
    "SET IDENTITY_INSERT [EAILog] ON;\n"
    "INSERT INTO [EAILog] ([id], [Ea_Account], [cmessage], [dtime]) VALUES (41, N'tqdata_009', N'it''s "
    "中文', "
    "'2003-01-31T23:59:59.997');\n"
    "INSERT INTO [EAILog] ([id], [Ea_Account], [cmessage], [dtime]) VALUES (42, N'tqdata_009_2003', NULL, "
    "'2004-02-29T00:00:00.000');\n"
    "SET IDENTITY_INSERT [EAILog] OFF;\n"
    "INSERT INTO [blobs] ([k], [b], [amount], [f], [flag]) VALUES (N'a', 0x00FF10, 12.50, -1.25E3, 1);\n"
    "INSERT INTO [blobs] ([k], [b], [amount], [f], [flag]) VALUES (N'b', NULL, -7, NULL, 0);\n"
    "COMMIT TRANSACTION;\nGO\n";

const char* const kBlobs =
    "CREATE TABLE blobs (k nvarchar(10), b varbinary(16), amount decimal(18,2), f float, flag bit)";

}  // namespace

class SandboxUndoTest : public QObject {
    Q_OBJECT

private slots:
    // The script's batches one by one (as tsql sends what lies between GO lines): every value reads
    // back as it was written, a datetime in the store's own form.
    void typedLiteralsRoundTrip() {
        Fixture f;
        QVERIFY(f.engine.execRaw(kBlobs));
        for (const QString& batch : QString(kScript).split("GO\n", Qt::SkipEmptyParts)) {
            auto r = f.run(batch.toStdString());
            QVERIFY2(errorOf(r) == 0,
                     r.pieces[0].messages.empty() ? "" : r.pieces[0].messages[0].text.c_str());
        }
        QCOMPARE(f.s->database, std::string("TqSystem"));
        QStringList eai = f.dump("EAILog");
        QVERIFY(eai.contains("41|'tqdata_009'|'it''s 中文'|'2003-01-31 23:59:59.997'"));
        QVERIFY(eai.contains("42|'tqdata_009_2003'|NULL|'2004-02-29 00:00:00.000'"));
        QCOMPARE(f.engine.queryRaw("SELECT quote(b)||'|'||quote(amount)||'|'||quote(f)||'|'||flag FROM blobs "
                                   "ORDER BY k"),
                 std::vector<std::string>({"X'00FF10'|12.5|-1250.0|1", "NULL|-7|NULL|0"}));
        // And the same through SELECT: the seed's datetime form equals the ISO one written.
        auto r = f.run("select count(*) from EAILog where dtime = '2003-01-31 23:59:59.997' and id = 41");
        QCOMPARE(r.pieces[0].result->rows[0][0].i, 1);
    }

    // decimal and money keep every digit: no value passes through a double on the way in or out, and
    // the store keeps 15 significant digits exactly (SQLite's REAL holds a longer number rounded); a
    // sum is exact; the form has the zero before the point.
    void decimalsAndMoneyAreExact() {
        Fixture f;
        QVERIFY(f.engine.execRaw("CREATE TABLE amounts (k int, d decimal(18,2), m money, s smallmoney)"));
        QCOMPARE(errorOf(f.run("INSERT INTO amounts (k, d, m, s) VALUES (1, 0.1, .5, -0.0001)")), 0);
        QCOMPARE(errorOf(f.run("INSERT INTO amounts (k, d, m, s) VALUES (2, '12345678901234.56', "
                               "92233720368.5477, 214748.3647)")),
                 0);
        QCOMPARE(errorOf(f.run("INSERT INTO amounts (k, d, m, s) VALUES (3, -7, 0.00005, 0)")), 0);
        auto r = f.run("select d, m, s from amounts order by k");
        QCOMPARE(errorOf(r), 0);
        QStringList got;
        for (const auto& row : r.pieces[0].result->rows)
            got << QString::fromStdString(row[0].text + "|" + row[1].text + "|" + row[2].text);
        QCOMPARE(got, (QStringList{"0.10|0.5000|-0.0001", "12345678901234.56|92233720368.5477|214748.3647",
                                   "-7.00|0.0001|0.0000"}));
        QCOMPARE(r.pieces[0].result->columns[1].type, ColType::Decimal);
        auto sum = f.run("select sum(d), sum(d) + 0.01, count(*) from amounts where d > 0.09");
        QCOMPARE(sum.pieces[0].result->rows[0][0].text, std::string("12345678901234.66"));
        QCOMPARE(sum.pieces[0].result->rows[0][1].text, std::string("12345678901234.67"));
        QCOMPARE(sum.pieces[0].result->rows[0][2].i, 2);
        QCOMPARE(errorOf(f.run("INSERT INTO amounts (k, d) VALUES (4, 12345678901234567.0)")), 8115);
        QCOMPARE(errorOf(f.run("INSERT INTO amounts (k, d) VALUES (4, 'x')")), 8114);
        auto c = f.run("select convert(decimal(10,3), 2.0005), cast(1.5 as money)");
        QCOMPARE(c.pieces[0].result->rows[0][0].text, std::string("2.001"));
        QCOMPARE(c.pieces[0].result->rows[0][1].text, std::string("1.5000"));
    }

    void identityRules() {
        Fixture f;
        QCOMPARE(errorOf(f.run("INSERT INTO EAILog (id, Ea_Account) VALUES (5, N'x')")), 544);
        QCOMPARE(errorOf(f.run("SET IDENTITY_INSERT ua_account ON")), 8106);
        QCOMPARE(
            errorOf(f.run("SET IDENTITY_INSERT EAILog ON INSERT INTO EAILog (Ea_Account) VALUES (N'x')")),
            545);
        QVERIFY(f.engine.execRaw("CREATE TABLE other (n int identity NOT NULL, v int)"));
        QCOMPARE(errorOf(f.run("SET IDENTITY_INSERT other ON")), 8107);
        QCOMPARE(
            errorOf(f.run("SET IDENTITY_INSERT EAILog OFF INSERT INTO EAILog (Ea_Account) VALUES (N'next')")),
            0);
        auto top = f.engine.queryRaw("SELECT max(id) FROM EAILog WHERE Ea_Account <> 'next'");
        QCOMPARE(f.engine.queryRaw("SELECT id FROM EAILog WHERE Ea_Account = 'next'")[0],
                 std::to_string(std::stoll(top[0]) + 1));
        // Under XACT_ABORT the failed insert takes the transaction's earlier rows with it.
        QCOMPARE(
            errorOf(f.run("SET XACT_ABORT ON BEGIN TRAN INSERT INTO EAILog (Ea_Account) VALUES (N'gone') "
                          "INSERT INTO EAILog (id) VALUES (1) COMMIT")),
            544);
        QCOMPARE(f.s->tranCount, 0);
        QVERIFY(f.engine.queryRaw("SELECT id FROM EAILog WHERE Ea_Account = 'gone'").empty());
    }

    void badLiterals() {
        Fixture f;
        QVERIFY(f.engine.execRaw(kBlobs));
        QCOMPARE(errorOf(f.run("INSERT INTO EAILog (Ea_Account, dtime) VALUES (N'x', '2003-13-01')")), 241);
        QCOMPARE(errorOf(f.run("INSERT INTO blobs (b) VALUES ('text')")), 257);
        QCOMPARE(errorOf(f.run("INSERT INTO blobs (k) VALUES (N'eleven chars')")), 8152);
        QCOMPARE(errorOf(f.run("INSERT INTO blobs (k, b) VALUES (N'x')")), 109);
        QCOMPARE(errorOf(f.run("INSERT INTO blobs (nope) VALUES (1)")), 207);
    }

    // What the tool reads to write a table's rows: names, type names and flags in one query.
    void columnsAndTypes() {
        Fixture f;
        auto r = f.run(
            "select c.name, TYPE_NAME(c.user_type_id), c.is_identity, c.is_computed, c.max_length "
            "from sys.columns c where c.object_id = OBJECT_ID('EAILog') order by c.column_id");
        QCOMPARE(errorOf(r), 0);
        const auto& rows = r.pieces[0].result->rows;
        QCOMPARE(rows.size(), size_t(4));
        QCOMPARE(rows[0][0].text + "|" + rows[0][1].text, std::string("id|int"));
        QCOMPARE(rows[0][2].i, 1);
        QCOMPARE(rows[3][1].text, std::string("datetime"));
        QCOMPARE(rows[1][4].i, 128);  // nvarchar(64): bytes
        auto t = f.run("select user_type_id from sys.types where name = 'nvarchar'");
        QCOMPARE(t.pieces[0].result->rows[0][0].i, 231);
    }

    // The script through tsql, as an operator runs it. tsql passes a byte-order mark on to the
    // server as U+FEFF, which is no T-SQL token: the script is fed without it.
    void scriptThroughTsql() {
        const QString exe = QStandardPaths::findExecutable(QStringLiteral("tsql"));
        if (exe.isEmpty())
            QSKIP("tsql not installed (freetds-bin)");
        Server server;
        server.engine().seedDemo();
        QVERIFY(server.engine().execRaw(kBlobs));
        QVERIFY(server.start());
        QByteArray script = QByteArray("\xEF\xBB\xBF") + kScript;
        QProcess p;
        p.start(exe, {"-H", "127.0.0.1", "-p", QString::number(server.port()), "-U", "sa", "-P", "sandbox"});
        p.write(script.startsWith("\xEF\xBB\xBF") ? script.mid(3) : script);
        p.closeWriteChannel();
        QVERIFY(p.waitForFinished(20000));
        const QByteArray err = p.readAllStandardError();
        QVERIFY2(!err.contains("Msg "), err.constData());
        QCOMPARE(server.engine().queryRaw("SELECT quote(dtime) FROM EAILog WHERE id = 41"),
                 std::vector<std::string>({"'2003-01-31 23:59:59.997'"}));
        QCOMPARE(server.engine().queryRaw("SELECT quote(b) FROM blobs WHERE k = 'a'"),
                 std::vector<std::string>({"X'00FF10'"}));
    }
};

ACCTSET_TEST_CLASS(SandboxUndoTest)
#include "sandbox_undo_test.moc"
