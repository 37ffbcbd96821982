// The undo script: every value comes back as it was, and nothing in the input can change the script's
// meaning.
#include <QtTest>

#include "deletion/UndoScript.h"
#include "support/TestMain.h"

using namespace deletion::undo;

class UndoScriptTest : public QObject {
    Q_OBJECT
private slots:
    void literalsKeepEveryValue_data();
    void literalsKeepEveryValue();
    void valuesWithoutFaithfulLiteralAreRefused();
    void scriptRestoresBackupsThenRowsInOneTransaction();
    void generatedColumnsAreLeftOutAndIdentityIsInserted();
    void scriptRefusesARowItCannotWrite();
    void headerValuesCannotEndTheirComment();
    void fileNameIsSafeOnEveryFileSystem();
    void savedScriptIsUtf8WithByteOrderMarkOrNothing();
};

void UndoScriptTest::literalsKeepEveryValue_data() {
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<QString>("type");
    QTest::addColumn<QString>("expected");
    QTest::newRow("null") << QVariant() << "nvarchar"
                          << "NULL";
    QTest::newRow("empty text is not null") << QVariant(QString("")) << "nvarchar"
                                            << "N''";
    QTest::newRow("quote and chinese") << QVariant(QString("示例'帐套")) << "nvarchar"
                                       << "N'示例''帐套'";
    QTest::newRow("varchar too") << QVariant(QString("a;b--c")) << "varchar"
                                 << "N'a;b--c'";
    QTest::newRow("int") << QVariant(2003) << "int"
                         << "2003";
    QTest::newRow("bigint as text") << QVariant(QString("-9007199254740993")) << "bigint"
                                    << "-9007199254740993";
    QTest::newRow("bit true") << QVariant(true) << "bit"
                              << "1";
    QTest::newRow("bit as number") << QVariant(0) << "bit"
                                   << "0";
    QTest::newRow("decimal digit for digit") << QVariant(QString("12345678901234.5678")) << "decimal"
                                             << "12345678901234.5678";
    QTest::newRow("money") << QVariant(QString("-0.0100")) << "money"
                           << "-0.0100";
    QTest::newRow("float round trip") << QVariant(0.1) << "float"
                                      << "0.10000000000000001";
    QTest::newRow("datetime") << QVariant(QDateTime(QDate(2003, 1, 31), QTime(23, 59, 59, 997))) << "datetime"
                              << "'2003-01-31T23:59:59.997'";
    QTest::newRow("date") << QVariant(QDate(2002, 12, 1)) << "date"
                          << "'2002-12-01'";
    QTest::newRow("datetime2 as text") << QVariant(QString("2003-01-01T08:00:00.1234567")) << "datetime2"
                                       << "'2003-01-01T08:00:00.1234567'";
    QTest::newRow("binary") << QVariant(QByteArray("\x00\xff\x10", 3)) << "varbinary"
                            << "0x00FF10";
    QTest::newRow("empty binary") << QVariant(QByteArray("")) << "varbinary"
                                  << "0x";
}

void UndoScriptTest::literalsKeepEveryValue() {
    QFETCH(QVariant, value);
    QFETCH(QString, type);
    QFETCH(QString, expected);
    QCOMPARE(literal(value, type), expected);
}

void UndoScriptTest::valuesWithoutFaithfulLiteralAreRefused() {
    QVERIFY(literal(QString("12 or 1=1"), "int").isEmpty());
    QVERIFY(literal(QString("1e5"), "decimal").isEmpty());
    QVERIFY(
        literal(QString("31/12/2003"), "datetime").isEmpty());  // read differently under other DATEFORMATs
    QVERIFY(literal(QString("0x00"), "varbinary").isEmpty());
    QVERIFY(literal(QString("x"), "sql_variant").isEmpty());
    QVERIFY(literal(QString("2"), "bit").isEmpty());
}

void UndoScriptTest::scriptRestoresBackupsThenRowsInOneTransaction() {
    Header h{
        "127.0.0.1,14333", "001", {"2002", "2003"}, QDateTime(QDate(2026, 12, 7), QTime(12, 0)), "TQSystem"};
    Table account{"UA_account", {{"cAcc_Id", "nvarchar"}, {"iYear", "int"}}, {{QString("001"), 2002}}};
    Table log{"UA_log", {{"cacc_id", "nvarchar"}, {"ctask", "nvarchar"}}, {{QString("001"), QVariant()}}};
    QString script, error;
    QVERIFY(write(h, {{"tqdata_001_2002", "D:\\Backup\\a'b.bak"}}, {account, log}, &script, &error));
    const QStringList expected = {
        "RESTORE DATABASE [tqdata_001_2002] FROM DISK = N'D:\\Backup\\a''b.bak' WITH RECOVERY;",
        "USE [TQSystem];",
        "SET XACT_ABORT ON;",
        "BEGIN TRANSACTION;",
        "INSERT INTO [UA_account] ([cAcc_Id], [iYear]) VALUES (N'001', 2002);",
        "INSERT INTO [UA_log] ([cacc_id], [ctask]) VALUES (N'001', NULL);",
        "COMMIT TRANSACTION;",
    };
    qsizetype at = 0;
    for (const QString& line : expected) {
        const qsizetype found = script.indexOf(line + "\n", at);
        QVERIFY2(found >= 0, qPrintable("missing or out of order: " + line + "\n" + script));
        at = found + line.size();
    }
    QVERIFY(script.contains("-- 年度 (years): 2002;2003\n"));
    QCOMPARE(script.count("\nGO\n"), 4);  // options, restore, USE, the transaction
}

void UndoScriptTest::generatedColumnsAreLeftOutAndIdentityIsInserted() {
    Column id{"id", "int", true};
    Column total{"total", "int", false, true};
    Column stamp{"ts", "timestamp", false, true};
    Table t{"EAILog",
            {id, {"Ea_Account", "nvarchar"}, total, stamp},
            {{7, QString("tqdata_001"), 3, QByteArray("\x01", 1)}}};
    QString script, error;
    QVERIFY(write(Header{}, {}, {t}, &script, &error));
    QVERIFY2(script.contains("SET IDENTITY_INSERT [EAILog] ON;\n"
                             "INSERT INTO [EAILog] ([id], [Ea_Account]) VALUES (7, N'tqdata_001');\n"
                             "SET IDENTITY_INSERT [EAILog] OFF;\n"),
             qPrintable(script));
}

void UndoScriptTest::scriptRefusesARowItCannotWrite() {
    Table t{"UA_log", {{"cacc_id", "nvarchar"}, {"v", "sql_variant"}}, {{QString("001"), QString("x")}}};
    QString script = "untouched", error;
    QVERIFY(!write(Header{}, {}, {t}, &script, &error));
    QCOMPARE(script, QString("untouched"));
    QVERIFY2(error.contains("UA_log.v") && error.contains("sql_variant"), qPrintable(error));
}

void UndoScriptTest::headerValuesCannotEndTheirComment() {
    Header h{"srv\nDROP DATABASE x", "001\r\nGO", {}, QDateTime::currentDateTime(), "TQSystem"};
    QString script, error;
    QVERIFY(write(h, {}, {}, &script, &error));
    for (const QString& line : script.split('\n')) {
        QVERIFY2(!line.startsWith("DROP") && line != "GO\r" && !line.startsWith("\r"), qPrintable(line));
    }
    QVERIFY(script.contains("-- 服务器 (server): srv DROP DATABASE x\n"));
}

void UndoScriptTest::fileNameIsSafeOnEveryFileSystem() {
    const QDateTime at(QDate(2026, 12, 7), QTime(9, 5, 3));
    QCOMPARE(fileName("host\\INST", "001", at), QString("host_INST_001_20261207-090503.sql"));
    QCOMPARE(fileName("10.0.0.1,1433", "a/b:c", at), QString("10.0.0.1,1433_a_b_c_20261207-090503.sql"));
}

void UndoScriptTest::savedScriptIsUtf8WithByteOrderMarkOrNothing() {
    QTemporaryDir dir;
    const QString path = dir.filePath("acctset-remover/s.sql");
    QString error;
    QVERIFY2(save(path, "-- 示例\n", &error), qPrintable(error));
    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), QByteArray("\xEF\xBB\xBF-- \xE7\xA4\xBA\xE4\xBE\x8B\n"));

    // A folder that cannot be made (a file stands in its way) fails as a read-only one does, even as root.
    QFile blocker(dir.filePath("blocked"));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    error.clear();
    QVERIFY(!save(dir.filePath("blocked/acctset-remover/s.sql"), "x", &error));
    QVERIFY(!error.isEmpty());
}

ACCTSET_TEST_CLASS(UndoScriptTest)
#include "undo_script_test.moc"
