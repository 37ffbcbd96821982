// The undo script: every value comes back as it was, and nothing in the input can change the script's
// meaning.
#include <QtTest>

#include "deletion/UndoScript.h"
#include "support/RunnerBatches.h"
#include "support/TestMain.h"

using namespace deletion::undo;

class UndoScriptTest : public QObject {
    Q_OBJECT
private slots:
    void literalsKeepEveryValue_data();
    void literalsKeepEveryValue();
    void valuesWithoutFaithfulLiteralAreRefused();
    void scriptRestoresBackupsThenRowsInOneTransaction();
    void hostileTextNeverReachesARunnerAsItsOwnLine();
    void filesLeftBehindAreReplacedOnlyWhenNoted();
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
    QTest::newRow("line break and GO") << QVariant(QString("a\r\nGO\nb")) << "nvarchar"
                                       << "N'a' + NCHAR(13) + NCHAR(10) + N'GO' + NCHAR(10) + N'b'";
    QTest::newRow("sqlcmd variable") << QVariant(QString("$(PATH) $x")) << "nvarchar"
                                     << "N'$' + N'(PATH) $x'";
    QTest::newRow("NUL and tab") << QVariant(QString::fromUtf16(u"\0a\t", 3)) << "nvarchar"
                                 << "NCHAR(0) + N'a' + NCHAR(9)";
    QTest::newRow("unicode line separator") << QVariant(QString::fromUtf16(u"a\u2028", 2)) << "ntext"
                                            << "N'a' + NCHAR(8232)";
    QTest::newRow("emoji stays one character")
        << QVariant(QString::fromUtf16(u"\U0001F600")) << "nvarchar" << QString::fromUtf16(u"N'\U0001F600'");
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
    // Microsoft's drivers leave out the zero before the point, FreeTDS writes it.
    QTest::newRow("decimal .00 (Microsoft)") << QVariant(QString(".00")) << "decimal"
                                             << "0.00";
    QTest::newRow("decimal 0.00 (FreeTDS)") << QVariant(QString("0.00")) << "decimal"
                                            << "0.00";
    QTest::newRow("money -.5000 (Microsoft)") << QVariant(QString("-.5000")) << "money"
                                              << "-0.5000";
    QTest::newRow("money -0.0100 (FreeTDS)") << QVariant(QString("-0.0100")) << "money"
                                             << "-0.0100";
    QTest::newRow("smallmoney .0001") << QVariant(QString(".0001")) << "smallmoney"
                                      << "0.0001";
    QTest::newRow("float round trip") << QVariant(0.1) << "float"
                                      << "0.10000000000000001";
    QTest::newRow("datetime") << QVariant(QDateTime(QDate(2003, 1, 31), QTime(23, 59, 59, 997))) << "datetime"
                              << "'2003-01-31T23:59:59.997'";
    QTest::newRow("date") << QVariant(QDate(2002, 12, 1)) << "date"
                          << "'2002-12-01'";
    // Both drivers hand these over as text at the column's precision, a space before the time.
    QTest::newRow("datetime2 as text") << QVariant(QString("2003-01-01 08:00:00.1234567")) << "datetime2"
                                       << "'2003-01-01T08:00:00.1234567'";
    QTest::newRow("datetime2(0)") << QVariant(QString("2003-01-01 08:00:00")) << "datetime2"
                                  << "'2003-01-01T08:00:00'";
    QTest::newRow("time(7)") << QVariant(QString("23:59:59.9999999")) << "time"
                             << "'23:59:59.9999999'";
    QTest::newRow("datetimeoffset") << QVariant(QString("2003-01-01 08:00:00.1234567 +08:00"))
                                    << "datetimeoffset"
                                    << "'2003-01-01T08:00:00.1234567+08:00'";
    QTest::newRow("datetimeoffset west")
        << QVariant(QString("2003-01-01 08:00:00.5 -05:30")) << "datetimeoffset"
        << "'2003-01-01T08:00:00.5-05:30'";
    QTest::newRow("a date alone as datetime") << QVariant(QString("2003-02-01")) << "datetime"
                                              << "'2003-02-01T00:00:00'";
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
    QVERIFY(literal(QString("."), "decimal").isEmpty());
    QVERIFY(literal(QString("2003-01-01 08:00:00 +08:00"), "datetime").isEmpty());  // no offset there
}

namespace {

Header header001() {
    return Header{"127.0.0.1,14333", "001",
                  {"2002", "2003"},  QDateTime(QDate(2026, 12, 7), QTime(12, 0)),
                  "TQSystem",        "DBHOST\\INST"};
}

// The batches as sqlcmd and tsql cut them; empty, with the line named, when either would misread one.
QStringList runnerBatches(const QString& script) {
    QString why;
    QStringList batches = hostile::sqlcmdBatches(script, &why);
    if (batches.isEmpty() && !why.isEmpty())
        qWarning() << "a line a runner would misread:" << why;
    // The checksum after the last GO: a batch of a comment alone, which the server runs as nothing.
    if (!batches.isEmpty() && batches.last().trimmed().startsWith(kChecksumPrefix) &&
        !batches.last().trimmed().contains('\n'))
        batches.removeLast();
    return batches;
}

}  // namespace

void UndoScriptTest::scriptRestoresBackupsThenRowsInOneTransaction() {
    Table account{
        "UA_account", {{"cAcc_Id", "nvarchar"}, {"iYear", "int"}}, {{QString("001"), 2002}}, "cacc_id='001'"};
    Table log{"UA_log",
              {{"cacc_id", "nvarchar"}, {"ctask", "nvarchar"}},
              {{QString("001"), QVariant()}},
              "cacc_id='001'"};
    QString script, error;
    QVERIFY(
        write(header001(), {{"tqdata_001_2002", "D:\\Backup\\a'b.bak"}}, {account, log}, &script, &error));
    const QStringList batches = runnerBatches(script);
    QCOMPARE(batches.size(), 4);  // options, the server's name, the restore, the catalogue
    QVERIFY2(batches[1].startsWith("IF ISNULL(@@SERVERNAME, N'') <> N'DBHOST\\INST'\nBEGIN\n"),
             qPrintable(batches[1]));
    QVERIFY(batches[1].contains("SET NOEXEC ON;"));
    const QStringList restore = {
        "BEGIN TRY",
        "    IF DB_ID(N'tqdata_001_2002') IS NULL",
        "        RESTORE DATABASE [tqdata_001_2002] FROM DISK = N'D:\\Backup\\a''b.bak' WITH RECOVERY;",
        "        PRINT N'已还原数据库 tqdata_001_2002 (restored)';",
        "        PRINT N'数据库 tqdata_001_2002 已存在, 未还原 (already there, not restored)';",
        "BEGIN CATCH",
        "END CATCH",
    };
    const QStringList catalogue = {
        "IF EXISTS (SELECT * FROM [TQSystem].[dbo].[UA_account] WHERE cacc_id='001')",
        "    OR EXISTS (SELECT * FROM [TQSystem].[dbo].[UA_log] WHERE cacc_id='001')",
        "ELSE",
        "    BEGIN TRANSACTION;",
        "    INSERT INTO [TQSystem].[dbo].[UA_account] ([cAcc_Id], [iYear]) VALUES (N'001', 2002);",
        "    INSERT INTO [TQSystem].[dbo].[UA_log] ([cacc_id], [ctask]) VALUES (N'001', NULL);",
        "    COMMIT TRANSACTION;",
        "    PRINT N'已恢复系统库中帐套001的记录 (catalogue rows restored): UA_account 1, UA_log 1';",
        "    IF @@TRANCOUNT > 0 ROLLBACK TRANSACTION;",
        "END CATCH",
    };
    for (const auto& [batch, lines] : {std::pair{batches[2], restore}, std::pair{batches[3], catalogue}}) {
        qsizetype at = 0;
        for (const QString& line : lines) {
            const qsizetype found = batch.indexOf(line + "\n", at);
            QVERIFY2(found >= 0, qPrintable("missing or out of order: " + line + "\n" + batch));
            at = found + line.size();
        }
        QVERIFY(batch.contains("SET NOEXEC ON;"));
    }
    QVERIFY(script.contains("-- 年度 (years): 2002;2003\n"));
    QVERIFY(!script.contains("REPLACE"));
}

// Line breaks, GO, a DELETE of another account set, "$(", runner commands, quotes and "]" in every
// text value and in the header: the batches are exactly the script's own.
void UndoScriptTest::hostileTextNeverReachesARunnerAsItsOwnLine() {
    const QStringList hostile = {
        "x\nGO\nDELETE FROM UA_account WHERE iyear=2002\nGO\n",
        "$(PATH)",
        "\n:!! rm -rf /\n:r other.sql\n",
        "\r\nexit\nquit\nbye\nreset\nversion\n!! ls\n",
        "it's ] a'' quote",
        QString::fromUtf16(u"\U0001F600\0end", 5),
    };
    Table t{"UA_account", {{"cAcc_Id", "nvarchar"}, {"cAcc_Name", "nvarchar"}}, {}, "cacc_id='001'"};
    for (const QString& v : hostile)
        t.rows << QVariantList{QString("001"), v};
    Header h = header001();
    h.server = "srv\nGO\n:!! x $(y)";
    h.serverName = "srv $(y)";
    QString script, error;
    QVERIFY(write(h, {{"tqdata_001_2002", "D:\\b\nGO\n$(x).bak"}}, {t}, &script, &error));
    QCOMPARE(runnerBatches(script).size(), 4);

    // A catalogue name no runner could read alike is refused, not written.
    Table badName{"UA_log", {{"a\nGO", "int"}}, {{1}}, {}};
    QVERIFY(!write(h, {}, {badName}, &script, &error));
}

void UndoScriptTest::filesLeftBehindAreReplacedOnlyWhenNoted() {
    QString script, error;
    QVERIFY(write(header001(), {{"tqdata_001_2002", "a.bak", true}, {"tqdata_001_2003", "b.bak"}}, {},
                  &script, &error));
    QVERIFY(
        script.contains("RESTORE DATABASE [tqdata_001_2002] FROM DISK = N'a.bak' WITH REPLACE, RECOVERY;"));
    QVERIFY(script.contains("RESTORE DATABASE [tqdata_001_2003] FROM DISK = N'b.bak' WITH RECOVERY;"));
    QVERIFY(script.contains("restored WITH REPLACE) tqdata_001_2002\n"));
}

void UndoScriptTest::generatedColumnsAreLeftOutAndIdentityIsInserted() {
    Column id{"id", "int", true};
    Column total{"total", "int", false, true};
    Column stamp{"ts", "timestamp", false, true};
    Table t{"EAILog",
            {id, {"Ea_Account", "nvarchar"}, total, stamp},
            {{7, QString("tqdata_001"), 3, QByteArray("\x01", 1)}},
            {}};
    QString script, error;
    QVERIFY(write(Header{}, {}, {t}, &script, &error));
    QVERIFY2(script.contains(
                 "    SET IDENTITY_INSERT [TQSystem].[dbo].[EAILog] ON;\n"
                 "    INSERT INTO [TQSystem].[dbo].[EAILog] ([id], [Ea_Account]) VALUES (7, N'tqdata_001');\n"
                 "    SET IDENTITY_INSERT [TQSystem].[dbo].[EAILog] OFF;\n"),
             qPrintable(script));
}

void UndoScriptTest::scriptRefusesARowItCannotWrite() {
    Table t{"UA_log", {{"cacc_id", "nvarchar"}, {"v", "sql_variant"}}, {{QString("001"), QString("x")}}, {}};
    QString script = "untouched", error;
    QVERIFY(!write(Header{}, {}, {t}, &script, &error));
    QCOMPARE(script, QString("untouched"));
    QVERIFY2(error.contains("UA_log.v") && error.contains("sql_variant"), qPrintable(error));
}

void UndoScriptTest::headerValuesCannotEndTheirComment() {
    Header h{"srv\nDROP DATABASE x", "001\r\nGO", {}, QDateTime::currentDateTime(), "TQSystem", {}};
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
    // Every character Windows refuses in a name, and a name Windows reserves: the file can be made.
    const QString hostile = fileName("CON", "*?\"<>|.", at);
    QCOMPARE(hostile, QString("CON_______._20261207-090503.sql"));
    QTemporaryDir dir;
    QFile f(dir.filePath(hostile));
    QVERIFY2(f.open(QIODevice::WriteOnly), qPrintable(f.errorString()));
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
