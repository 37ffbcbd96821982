// Statements, item texts and year lists of the account catalogue, without a server.
#include <QTest>

#include "catalogue/AccountCatalogue.h"
#include "catalogue/YearList.h"
#include "support/FakeSqlClient.h"

using namespace AccountCatalogue;

class CatalogueStatementsTest : public QObject {
    Q_OBJECT

private slots:
    void statements_data() {
        QTest::addColumn<QString>("accNo");
        QTest::addColumn<QString>("years");
        QTest::addColumn<QString>("lookup");
        QTest::newRow("ordinary input is sent as written")
            << "001"
            << "select distinct(iyear) from tqsystem.dbo.ua_period where iyear<>'9999' and cacc_id='001' "
               "order by "
               "iyear desc"
            << "select * from ua_account where cacc_id='001'";
        QTest::newRow("a quote is doubled and cannot end the literal")
            << "0' or '1'='1"
            << "select distinct(iyear) from tqsystem.dbo.ua_period where iyear<>'9999' and cacc_id='0'' or "
               "''1''=''1' order by iyear desc"
            << "select * from ua_account where cacc_id='0'' or ''1''=''1'";
        QTest::newRow("empty number") << ""
                                      << "select distinct(iyear) from tqsystem.dbo.ua_period where "
                                         "iyear<>'9999' and cacc_id='' order by iyear desc"
                                      << "select * from ua_account where cacc_id=''";
        QTest::newRow("beyond ASCII: a Unicode literal, brackets and semicolons unchanged")
            << "帐[1];--"
            << "select distinct(iyear) from tqsystem.dbo.ua_period where iyear<>'9999' and "
               "cacc_id=N'帐[1];--' "
               "order by iyear desc"
            << "select * from ua_account where cacc_id=N'帐[1];--'";
    }
    void statements() {
        QFETCH(QString, accNo);
        QFETCH(QString, years);
        QFETCH(QString, lookup);
        QCOMPARE(yearsStatement(accNo), years);
        QCOMPARE(lookupStatement(accNo), lookup);
        QCOMPARE(accountListStatement(), QStringLiteral("select cacc_id,cacc_name from ua_account"));
    }

    void itemRoundTrip_data() {
        QTest::addColumn<QVariant>("id");
        QTest::addColumn<QVariant>("name");
        QTest::addColumn<QString>("item");
        QTest::addColumn<QString>("number");
        QTest::newRow("plain") << QVariant("003") << QVariant("Sales") << "003(Sales)"
                               << "003";
        QTest::newRow("Chinese name") << QVariant("001") << QVariant("示例帐套") << "001(示例帐套)"
                                      << "001";
        QTest::newRow("Null name") << QVariant("003") << QVariant() << "003()"
                                   << "003";
        QTest::newRow("empty name is not Null but reads the same")
            << QVariant("003") << QVariant("") << "003()"
            << "003";
        QTest::newRow("Null number") << QVariant() << QVariant("x") << "(x)"
                                     << "";
        QTest::newRow("name holding parentheses") << QVariant("004") << QVariant("A(B)C") << "004(A(B)C)"
                                                  << "004";
        QTest::newRow("values are not trimmed") << QVariant("003 ") << QVariant(" S ") << "003 ( S )"
                                                << "003 ";
    }
    void itemRoundTrip() {
        QFETCH(QVariant, id);
        QFETCH(QVariant, name);
        QFETCH(QString, item);
        QFETCH(QString, number);
        QCOMPARE(itemText(id, name), item);
        QCOMPARE(numberOfItem(item), number);
    }

    void trimSpaces_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("trimmed");
        QTest::newRow("spaces around") << "  001 "
                                       << "001";
        QTest::newRow("spaces only") << "   "
                                     << "";
        QTest::newRow("inner spaces stay") << " 0 1 "
                                           << "0 1";
        QTest::newRow("tab and full-width space are not spaces") << "\t001\u3000"
                                                                 << "\t001\u3000";
    }
    void trimSpaces() {
        QFETCH(QString, text);
        QFETCH(QString, trimmed);
        QCOMPARE(AccountCatalogue::trimSpaces(text), trimmed);
    }

    // The number and year boxes read full-width input as the server's width-insensitive
    // collation does; what is not ASCII after that stays as it is.
    void boxValue_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("value");
        QTest::newRow("full-width digits") << "\uFF10\uFF10\uFF11"
                                           << "001";
        QTest::newRow("full-width letters") << "\uFF21\uFF42\uFF13"
                                            << "Ab3";
        QTest::newRow("full-width separator") << "\uFF12\uFF10\uFF10\uFF12\uFF1B2003\uFF1B"
                                              << "2002;2003;";
        QTest::newRow("ideographic spaces trimmed") << "\u3000001 \u3000"
                                                    << "001";
        QTest::newRow("Chinese stays") << " 帐套1 "
                                       << "帐套1";
        QTest::newRow("a tab is not a space") << "\t001"
                                              << "\t001";
    }
    void boxValue() {
        QFETCH(QString, typed);
        QFETCH(QString, value);
        QCOMPARE(AccountCatalogue::boxValue(typed), value);
    }

    void numberOfItemWithoutParenthesis() {
        QCOMPARE(numberOfItem(QStringLiteral("005")), QStringLiteral("005"));
    }

    void yearList_data() {
        QTest::addColumn<QVariantList>("rows");
        QTest::addColumn<QString>("text");
        QTest::newRow("largest first becomes ascending")
            << QVariantList{2004, 2003, 2002} << "2002;2003;2004";
        QTest::newRow("one year stands alone") << QVariantList{QString("2003")} << "2003";
        QTest::newRow("no year") << QVariantList{} << "";
        QTest::newRow("a Null year names no database") << QVariantList{2003, QVariant()} << "2003";
    }
    void yearList() {
        QFETCH(QVariantList, rows);
        QFETCH(QString, text);
        QCOMPARE(YearList::fromLargestFirst(rows).text(), text);
    }

    void yearListRead_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("entries");
        QTest::addColumn<QString>("shown");
        QTest::newRow("two") << "2002;2003" << QStringList{"2002", "2003"} << "2002;2003";
        QTest::newRow("trailing separator") << "2002;2003;" << QStringList{"2002", "2003"} << "2002;2003";
        QTest::newRow("only one separator removed")
            << "2002;2003;;" << QStringList{"2002", "2003", ""} << "2002;2003;";
        QTest::newRow("empty middle entry kept")
            << "2002;;2003" << QStringList{"2002", "", "2003"} << "2002;;2003";
        QTest::newRow("leading separator") << ";2002" << QStringList{"", "2002"} << ";2002";
        QTest::newRow("space kept in entry") << "2002; 2003" << QStringList{"2002", " 2003"} << "2002; 2003";
        QTest::newRow("duplicate dropped once")
            << "2002;2003;2002" << QStringList{"2002", "2003"} << "2002;2003;2002";
        QTest::newRow("empty") << "" << QStringList{} << "";
        QTest::newRow("separator alone") << ";" << QStringList{} << "";
        QTest::newRow("separators only") << ";;;" << QStringList{} << ";;";
    }
    void yearListRead() {
        QFETCH(QString, text);
        QFETCH(QStringList, entries);
        QFETCH(QString, shown);
        const YearList list = YearList::fromText(text);
        QCOMPARE(list.entries(), entries);
        QCOMPARE(list.text(), shown);
    }

    // What the readers make of results and failures.
    void readers() {
        auto script = std::make_shared<FakeScript>();
        FakeSqlClient cnn(script);
        cnn.open({});
        script->answer(accountListStatement(),
                       FakeScript::rows({"CACC_ID", "cAcc_Name"}, {{"001", "甲"}, {"002", QVariant()}}));
        script->answer(yearsStatement("001"), FakeScript::rows({""}, {{2003}, {2002}}));
        script->answer(lookupStatement("001"), FakeScript::rows({"cacc_id"}, {{"001"}, {"001"}}));
        script->fail(yearsStatement("002"), 208, "Invalid object name 'tqsystem.dbo.ua_period'.");

        const auto items = readAccountItems(cnn);
        QVERIFY(items.ok());
        QCOMPARE(items.value, QStringList({"001(甲)", "002()"}));
        QCOMPARE(readYearList(cnn, "001").value, QStringLiteral("2002;2003"));
        QCOMPARE(countAccounts(cnn, "001").value, 2);

        const auto failed = readYearList(cnn, "002");
        QVERIFY(!failed.ok());
        QCOMPARE(failed.error.nativeCode, 208);
        QVERIFY(failed.value.isEmpty());

        cnn.close();
        QVERIFY(!countAccounts(cnn, "001").ok());
        QVERIFY(!readAccountItems(cnn).ok());
    }
};

QTEST_GUILESS_MAIN(CatalogueStatementsTest)
#include "catalogue_statements_test.moc"
