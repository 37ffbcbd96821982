// Chinese_PRC_CI_AS as statements meet it: width- and kana-insensitive comparison in =, <>, IN,
// LIKE, DISTINCT and ORDER BY; trailing blanks in = and in LIKE on Unicode and non-Unicode operands;
// CONVERT and CAST.

#include <QtTest>

#include "EngineResults.h"
#include "sandbox/Engine.h"
#include "sandbox/sql/Collation.h"
#include "support/TestMain.h"

using namespace sandbox;
using namespace sandbox::testing;

namespace {

struct Condition : DemoEngine {
    // Whether the condition holds, asked of the one registration row of account set 002.
    bool holds(const std::string& condition) {
        return rows("select count(*) from ua_account where cacc_id = '002' and " + condition) ==
               QStringList({"1"});
    }
};

}  // namespace

class SandboxCollationTest : public QObject {
    Q_OBJECT

private slots:
    // "Collation and Unicode support": without _WS full- and half-width forms are identical;
    // without _KS hiragana and katakana are; CI folds case.
    void widthKanaAndCase_data() {
        QTest::addColumn<QString>("condition");
        QTest::addColumn<bool>("holds");
        QTest::newRow("full-width digits") << "N'００１' = '001'" << true;
        QTest::newRow("full-width letters, either case") << "N'ＴＱｄａｔａ' = 'tqDATA'" << true;
        QTest::newRow("full-width semicolon") << "N'００１；００２' = '001;002'" << true;
        QTest::newRow("ideographic space trails") << "N'001　' = '001'" << true;
        QTest::newRow("not equal") << "N'００１' <> '001'" << false;
        QTest::newRow("in") << "N'００２' in ('001', '002')" << true;
        QTest::newRow("katakana is hiragana") << "N'カード' = N'かーど'" << true;
        QTest::newRow("other digits differ") << "N'００１' = '011'" << false;
        QTest::newRow("like, full-width value")
            << "N'ｔｑｄａｔａ＿００１＿２００３' like 'tqdata[_]001[_]%'" << true;
        QTest::newRow("like, full-width pattern") << "'tqdata_001' like N'ｔｑｄａｔａ＿００１'" << true;
        QTest::newRow("full-width _ is no wildcard") << "'tqdataX001' like N'ｔｑｄａｔａ＿００１'" << false;
        QTest::newRow("like class range") << "N'５' like '[0-9]'" << true;
    }

    void widthKanaAndCase() {
        QFETCH(QString, condition);
        QFETCH(bool, holds);
        Condition f;
        QCOMPARE(f.holds(condition.toStdString()), holds);
    }

    // A full-width account number finds account set 001 and only it (not 0010).
    void fullWidthNumberFindsItsRows() {
        Condition f;
        QCOMPARE(f.rows("select cacc_id from ua_account where cacc_id = N'００１'"), QStringList({"001"}));
        QCOMPARE(f.rows("select name from master.dbo.sysdatabases where name like N'ｔｑｄａｔａ＿００１＿%' "
                        "order by name"),
                 QStringList({"tqdata_001_2002", "tqdata_001_2003", "tqdata_001_2004"}));
        QCOMPARE(f.rows("select DATABASEPROPERTYEX(N'ｔｑｄａｔａ＿００１＿２００３', 'Status')"),
                 QStringList({"ONLINE"}));
    }

    void distinctAndOrderFoldWidth() {
        Condition f;
        QVERIFY(
            f.engine.execRaw("DELETE FROM UA_log; INSERT INTO UA_log (cacc_id, ctask) VALUES "
                             "('００１', 'x'), ('001', 'x'), ('Ｂ', 'x'), ('a', 'x'), ('C', 'x')"));
        QCOMPARE(f.rows("select count(distinct cacc_id) from UA_log"), QStringList({"4"}));
        QCOMPARE(f.rows("select distinct cacc_id from UA_log where cacc_id <> 'b' and cacc_id <> 'a' and "
                        "cacc_id <> 'c'"),
                 QStringList({"００１"}));
        const QStringList order =
            f.rows("select cacc_id from UA_log where cacc_id not in ('001') order by cacc_id");
        QCOMPARE(order, QStringList({"a", "Ｂ", "C"}));
    }

    // "=" pads the shorter text; LIKE (Transact-SQL): "trailing blanks are significant" with
    // Unicode data and not with non-Unicode data; the pattern's own trailing blanks always count.
    void trailingBlanks_data() {
        QTest::addColumn<QString>("condition");
        QTest::addColumn<bool>("holds");
        QTest::newRow("= ignores them") << "N'tqdata_001 ' = 'tqdata_001'" << true;
        QTest::newRow("Unicode value: like sees them") << "N'tqdata_001 ' like 'tqdata[_]001'" << false;
        QTest::newRow("Unicode pattern: like sees them") << "'tqdata_001 ' like N'tqdata[_]001'" << false;
        QTest::newRow("non-Unicode: like ignores them") << "'tqdata_001 ' like 'tqdata[_]001'" << true;
        QTest::newRow("non-Unicode pattern blank counts") << "'tqdata_001' like 'tqdata[_]001 '" << false;
        QTest::newRow("varchar conversion is non-Unicode")
            << "convert(varchar(20), N'tqdata_001 ') like 'tqdata[_]001'" << true;
        QTest::newRow("a % takes them") << "N'tqdata_001 ' like 'tqdata[_]001%'" << true;
    }

    void trailingBlanks() {
        QFETCH(QString, condition);
        QFETCH(bool, holds);
        Condition f;
        QCOMPARE(f.holds(condition.toStdString()), holds);
    }

    // The EAILog row left with a trailing blank: found by "=", not by the yearly rows' LIKE.
    void paddedLogRow() {
        Condition f;
        QVERIFY(
            f.engine.execRaw("DELETE FROM EAILog; INSERT INTO EAILog (id, Ea_Account) VALUES "
                             "(1, 'tqdata_001 '), (2, 'tqdata_001_2003')"));
        QCOMPARE(f.rows("select id from EAILog where Ea_Account = 'tqdata_001'"), QStringList({"1"}));
        QCOMPARE(f.rows("select id from EAILog where Ea_Account like 'tqdata[_]001'"), QStringList());
        QCOMPARE(f.rows("select id from EAILog where Ea_Account like 'tqdata[_]001[_]%'"),
                 QStringList({"2"}));
    }

    void convertAndCast() {
        Condition f;
        QCOMPARE(f.rows("select convert(nvarchar(3), N'示例帐套'), cast(12 as nvarchar(10)), "
                        "convert(int, ' 42 '), cast('5' as smallint) + 1, convert(nchar(4), 'ab') + '|'"),
                 QStringList({"示例帐|12|42|6|ab  |"}));
        BatchResult r = f.engine.execBatch(*f.s, "select convert(nosuchtype, 1)");
        QCOMPARE(errorNumber(r), 243);
        QCOMPARE(errorText(r), QString("Type nosuchtype is not a defined system type."));
        BatchResult typed = f.engine.execBatch(*f.s,
                                               "select convert(nvarchar(128), DATABASEPROPERTYEX('master', "
                                               "'Status')), DATABASEPROPERTYEX('master', 'Status')");
        const auto& cols = typed.pieces[0].result->columns;
        QVERIFY(!cols[0].variant);
        QCOMPARE(cols[0].maxChars, 128);
        QVERIFY(cols[1].variant);
    }

    void foldChar() {
        QCOMPARE(sql::foldChar(U'０'), char32_t(U'0'));
        QCOMPARE(sql::foldChar(U'Ａ'), char32_t(U'a'));
        QCOMPARE(sql::foldChar(U'；'), char32_t(U';'));
        QCOMPARE(sql::foldChar(U'ア'), char32_t(U'あ'));
        QCOMPARE(sql::foldChar(U'帐'), char32_t(U'帐'));
    }
};

ACCTSET_TEST_CLASS(SandboxCollationTest)
#include "sandbox_collation_test.moc"
