// Reading an undo script back: every part as written, and a script cut short, edited, in another
// encoding or turned into other statements refused at the line where it goes wrong.
#include <QtTest>

#include "deletion/DeletionSql.h"
#include "deletion/UndoFile.h"
#include "deletion/UndoScript.h"
#include "support/TestMain.h"

using namespace deletion::undo;

namespace {

Header header001() {
    return Header{"127.0.0.1,14333", "001",
                  {"2002", "2003"},  QDateTime(QDate(2026, 12, 7), QTime(12, 0, 5)),
                  "TQSystem",        "DBHOST\\INST"};
}

const QString kHostile = QStringLiteral("x'); DROP DATABASE master; --\r\nGO\n$(PATH) ]]");

QList<Table> tables001() {
    Table account{
        "UA_account",
        {{"cAcc_Id", "nvarchar"}, {"cAcc_Name", "nvarchar"}, {"iYear", "int"}, {"dStart", "datetime"}},
        {{QString("001"), kHostile, 2002, QDateTime(QDate(2002, 1, 1), QTime(0, 0))}},
        {},
        QVariant(12345)};
    Table log{"UA_log",
              {{"id", "int", true},
               {"cacc_id", "nvarchar"},
               {"ctask", "nvarchar"},
               {"rv", "timestamp", false, true}},
              {{1, QString("001"), QString("a,b), (c")}, {2, QString("001"), QVariant()}},
              {},
              QVariant(-7)};
    Table empty{"UA_holdauth", {{"cacc_id", "nvarchar"}}, {}, {}, QVariant()};
    QList<Table> out{account, log, empty};
    // The conditions the deletion writes, as the reader expects them.
    for (Table& t : out) {
        for (const DeletionSql::PurgeStatement& p : DeletionSql::purgeStatements("001")) {
            if (p.table == t.name)
                t.condition = p.condition;
        }
    }
    return out;
}

QList<Backup> backups001() {
    return {{"tqdata_001_2002", "D:\\Backup\\it's.bak", false},
            {"tqdata_001_2003", "D:\\Backup\\b.bak", true}};
}

QString script001() {
    QString script;
    QString error;
    if (!write(header001(), backups001(), tables001(), &script, &error))
        qWarning() << error;
    return script;
}

QByteArray bytes(const QString& script) {
    return QByteArray("\xEF\xBB\xBF") + script.toUtf8();
}

// The script as someone who knows the format would leave it: its checksum made again.
QString resummed(QString script) {
    script.chop(1);
    script.truncate(script.lastIndexOf('\n') + 1);
    return script + checksumLine(script);
}

int lineOf(const QString& script, const QString& start) {
    const QStringList lines = script.split('\n');
    for (int i = 0; i < lines.size(); ++i) {
        if (lines[i].startsWith(start))
            return i + 1;
    }
    return -1;
}

ReadError refusal(const QByteArray& file) {
    Script s;
    ReadError e;
    if (parse(file, &s, &e))
        e = {-1, QStringLiteral("accepted")};
    return e;
}

}  // namespace

class UndoFileTest : public QObject {
    Q_OBJECT
private slots:
    void everyPartComesBackAsWritten();
    void lineEndsOfAnEditorAreAccepted();
    void aScriptCutShortIsRefusedWhereItEnds_data();
    void aScriptCutShortIsRefusedWhereItEnds();
    void anEditIsRefusedAtItsLine();
    void valuesThatAreNotLiteralsAreRefusedEvenWithAGoodChecksum_data();
    void valuesThatAreNotLiteralsAreRefusedEvenWithAGoodChecksum();
    void otherEncodingsAreRefusedAtTheirLine();
    void otherFilesAreRefusedWithAReason();
};

void UndoFileTest::everyPartComesBackAsWritten() {
    const QString script = script001();
    Script s;
    ReadError e;
    QVERIFY2(parse(bytes(script), &s, &e), qPrintable(e.text()));
    QCOMPARE(s.header.server, header001().server);
    QCOMPARE(s.header.serverName, header001().serverName);
    QCOMPARE(s.header.accountNo, QStringLiteral("001"));
    QCOMPARE(s.header.years, header001().years);
    QCOMPARE(s.header.madeAt, header001().madeAt);
    QCOMPARE(s.backups.size(), 2);
    QCOMPARE(s.backups[0].file, QStringLiteral("D:\\Backup\\it's.bak"));
    QVERIFY(!s.backups[0].filesLeft && s.backups[1].filesLeft);

    QList<Rows> rendered;
    QString error;
    QVERIFY(render(tables001(), &rendered, &error));
    QCOMPARE(s.tables.size(), 3);
    QCOMPARE(s.rowCount(), 3);
    for (qsizetype i = 0; i < rendered.size(); ++i) {
        QCOMPARE(s.tables[i].name, rendered[i].name);
        QCOMPARE(s.tables[i].checksum.isNull() || !s.tables[i].checksum.isValid(),
                 rendered[i].checksum.isNull() || !rendered[i].checksum.isValid());
        QCOMPARE(s.tables[i].checksum.toLongLong(), rendered[i].checksum.toLongLong());
        // What a restore sends is what the writer would send.
        QCOMPARE(insertStatements(s.header, s.tables[i]), insertStatements(header001(), rendered[i]));
    }
    QVERIFY(s.tables[1].identity);
    QString value;
    QVERIFY(decodeText(s.tables[0].values[0][1], &value));
    QCOMPARE(value, kHostile);
}

void UndoFileTest::lineEndsOfAnEditorAreAccepted() {
    QString crlf = script001();
    crlf.replace('\n', QStringLiteral("\r\n"));
    Script s;
    ReadError e;
    QVERIFY2(parse(bytes(crlf), &s, &e), qPrintable(e.text()));
    // Without the byte-order mark too.
    QVERIFY2(parse(script001().toUtf8(), &s, &e), qPrintable(e.text()));
}

void UndoFileTest::aScriptCutShortIsRefusedWhereItEnds_data() {
    QTest::addColumn<int>("keep");  // characters kept of the script
    QTest::addColumn<int>("line");
    const QString script = script001();
    const int insert = lineOf(script, "    INSERT INTO [TQSystem].[dbo].[UA_log]");
    const int at = script.indexOf("    INSERT INTO [TQSystem].[dbo].[UA_log]");
    QTest::newRow("inside a row") << at + 30 << insert;
    QTest::newRow("before a row") << at << insert;
    QTest::newRow("before the catalogue batch")
        << int(script.indexOf("IF EXISTS")) << lineOf(script, "IF EXISTS");
    QTest::newRow("the checksum left out")
        << int(script.lastIndexOf(kChecksumPrefix)) << lineOf(script, kChecksumPrefix);
    QTest::newRow("half the checksum") << int(script.size()) - 20 << lineOf(script, kChecksumPrefix);
}

void UndoFileTest::aScriptCutShortIsRefusedWhereItEnds() {
    QFETCH(int, keep);
    QFETCH(int, line);
    const ReadError e = refusal(bytes(script001().left(keep)));
    QCOMPARE(e.line, line);
    QVERIFY2(e.reason.contains("cut short"), qPrintable(e.text()));
}

void UndoFileTest::anEditIsRefusedAtItsLine() {
    const QString script = script001();
    // A value changed: the checksum knows.
    QString value = script;
    value.replace("N'a,b), (c'", "N'a,b), (d'");
    ReadError e = refusal(bytes(value));
    QCOMPARE(e.line, lineOf(script, kChecksumPrefix));
    QVERIFY2(e.reason.contains("checksum"), qPrintable(e.text()));

    // A statement added, or a restore left recovering, with the checksum made again: the lines know.
    QString added = script;
    added.insert(script.indexOf("    COMMIT TRANSACTION;"), "    DELETE FROM UA_account;\n");
    e = refusal(bytes(resummed(added)));
    QCOMPARE(e.line, lineOf(added, "    DELETE FROM"));
    QVERIFY2(e.reason.contains("edited"), qPrintable(e.text()));

    QString recovering = script;
    recovering.replace("b.bak' WITH REPLACE, RECOVERY;", "b.bak' WITH REPLACE, NORECOVERY;");
    e = refusal(bytes(resummed(recovering)));
    QCOMPARE(e.line, lineOf(script, "        RESTORE DATABASE [tqdata_001_2003]"));

    // A table or a database that is not the account set's.
    QString otherDb = script;
    otherDb.replace("RESTORE DATABASE [tqdata_001_2002]", "RESTORE DATABASE [master]");
    e = refusal(bytes(resummed(otherDb)));
    QCOMPARE(e.line, lineOf(script, "        RESTORE DATABASE [tqdata_001_2002]"));
    QVERIFY2(e.reason.contains("master"), qPrintable(e.text()));

    QString otherTable = script;
    otherTable.replace("-- 记录 (rows): UA_holdauth", "-- 记录 (rows): sysusers");
    e = refusal(bytes(resummed(otherTable)));
    QCOMPARE(e.line, lineOf(script, "-- 记录 (rows): UA_holdauth"));
}

void UndoFileTest::valuesThatAreNotLiteralsAreRefusedEvenWithAGoodChecksum_data() {
    QTest::addColumn<QString>("value");
    QTest::newRow("a statement after the value") << "N'001'); DROP DATABASE master; --";
    QTest::newRow("a query") << "(SELECT TOP 1 name FROM sys.databases)";
    QTest::newRow("a function") << "SUSER_SNAME()";
    QTest::newRow("a variable") << "@@SERVERNAME";
    QTest::newRow("an open quote") << "N'001";
    QTest::newRow("a date with a quote in it") << "'2002-01-01'' + '";
}

void UndoFileTest::valuesThatAreNotLiteralsAreRefusedEvenWithAGoodChecksum() {
    QFETCH(QString, value);
    const QString script = script001();
    QString edited = script;
    const QString row = "VALUES (1, N'001', N'a,b), (c')";
    QVERIFY(edited.contains(row));
    edited.replace(row, "VALUES (1, " + value + ", N'a,b), (c')");
    const ReadError e = refusal(bytes(resummed(edited)));
    QCOMPARE(e.line, lineOf(script, "    INSERT INTO [TQSystem].[dbo].[UA_log]"));
}

void UndoFileTest::otherEncodingsAreRefusedAtTheirLine() {
    const QString script = script001();
    const int line = lineOf(script, "    INSERT INTO [TQSystem].[dbo].[UA_account]");
    // GBK-encoded Chinese on one line: not UTF-8 there.
    QByteArray gbk = bytes(script);
    const int at = gbk.indexOf("    INSERT INTO [TQSystem].[dbo].[UA_account]");
    gbk.insert(at + 4, QByteArray("\xD5\xCA\xCC\xD7"));
    ReadError e = refusal(gbk);
    QCOMPARE(e.line, line);
    QVERIFY2(e.reason.contains("UTF-8"), qPrintable(e.text()));

    QByteArray utf16("\xFF\xFE");
    for (QChar c : script)
        utf16.append(char(c.unicode() & 0xFF)).append(char(c.unicode() >> 8));
    e = refusal(utf16);
    QCOMPARE(e.line, 1);
    QVERIFY2(e.reason.contains("UTF-16"), qPrintable(e.text()));
}

void UndoFileTest::otherFilesAreRefusedWithAReason() {
    ReadError e = refusal("SELECT 1\nGO\n");
    QCOMPARE(e.line, 1);
    QVERIFY(e.reason.contains("not an undo script"));
    e = refusal({});
    QCOMPARE(e.line, 1);

    // A script of the version before: no row summaries and no checksum; sqlcmd still runs it.
    QStringList earlier;
    for (const QString& line : script001().split('\n')) {
        if (!line.startsWith("-- 记录") && !line.startsWith(kChecksumPrefix))
            earlier << line;
    }
    e = refusal(bytes(earlier.join('\n')));
    QCOMPARE(e.line, 0);
    QVERIFY2(e.reason.contains("earlier version"), qPrintable(e.text()));

    QTemporaryDir dir;
    Script s;
    QVERIFY(!read(dir.path(), &s, &e));  // a folder
    QVERIFY(!e.reason.isEmpty());
    QVERIFY(!read(dir.filePath("gone.sql"), &s, &e));
    QVERIFY(!e.reason.isEmpty());
    QFile saved(dir.filePath("ok.sql"));
    QVERIFY(saved.open(QIODevice::WriteOnly));
    saved.write(bytes(script001()));
    saved.close();
    QVERIFY2(read(saved.fileName(), &s, &e), qPrintable(e.text()));
    QCOMPARE(s.path, saved.fileName());
}

ACCTSET_TEST_CLASS(UndoFileTest)
#include "undo_file_test.moc"
