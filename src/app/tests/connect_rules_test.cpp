// The server-name, connect, account-list and account-number rules of the main window, driven as
// the operator drives them, against a scripted connection.
#include <QtTest>

#include <QAbstractItemView>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "app/DesignUnits.h"
#include "app/DropDownList.h"
#include "app/FrmMain.h"
#include "app/MessageBox.h"
#include "support/ExpectedText.h"
#include "support/FakeSqlClient.h"
#include "support/TestMain.h"
#include "support/WindowDriver.h"

namespace {

using namespace Expected;
using namespace WindowInput;

const QString kNotQueried = QStringLiteral("无法查询数据库服务器");

QString unregistered(const QString& accNo) {
    return QStringLiteral("当前的系统数据库tqsystem中不存在帐套") + accNo +
           QStringLiteral(",请输入正确的帐套号!");
}

SqlResult accounts(const QList<QVariantList>& rows) {
    return FakeScript::rows({"cacc_id", "cacc_name"}, rows);
}
SqlResult yearRows(const QList<int>& ys) {
    QList<QVariantList> rows;
    for (int y : ys)
        rows << QVariantList{y};
    return FakeScript::rows({"iyear"}, rows);
}

QColor base(QWidget* box) {
    return box->palette().color(QPalette::Active, QPalette::Base);
}
const QColor kWhite = bgrColor(0xFFFFFF);
const QColor kGrey = bgrColor(0xE0E0E0);

// A window on the scripted client, shown and active.
struct Fixture : WindowDriver {
    Fixture() : WindowDriver(std::make_shared<FakeScript>()) {
        if (!show())
            qWarning("window not active");
    }
    void connect() { connectAs(QStringLiteral("db01"), QStringLiteral("pw")); }
    QStringList takeLog() { return std::exchange(script().log, {}); }
};

}  // namespace

class ConnectRulesTest : public QObject {
    Q_OBJECT

private slots:
    void init() {
        MessageBox::setTestMode(true);
        MessageBox::takeShown();
    }
    void cleanup() {
        QVERIFY2(MessageBox::takeShown().isEmpty(), "a test left a message unchecked");
        MessageBox::setTestMode(false);
    }

    void serverNameRule() {
        Fixture f;
        FrmMain& w = f.window();
        typeText(w.txtSqlSrvName, QStringLiteral("d"));
        QVERIFY(w.txtSaPwd->isEnabled());
        QCOMPARE(base(w.txtSaPwd), kWhite);
        QVERIFY(w.CmdLink->isEnabled());

        QTest::keyClick(w.txtSqlSrvName, Qt::Key_Backspace);
        QVERIFY(!w.txtSaPwd->isEnabled());
        QCOMPARE(base(w.txtSaPwd), kGrey);
        QVERIFY(!w.CmdLink->isEnabled());

        typeText(w.txtSqlSrvName, QStringLiteral("   "));
        QVERIFY2(!w.CmdLink->isEnabled(), "blanks alone name no server");
        typeText(w.txtSqlSrvName, QStringLiteral("服务器 "));
        QVERIFY(w.CmdLink->isEnabled());

        // After a connect, any edit throws away the password, the number and the list, but keeps
        // the connection, the tick and the year list.
        f.script().answer(kList, accounts({{"001", "甲"}}));
        f.script().answer(years("001"), yearRows({2003}));
        f.connect();
        QVERIFY(f.choose(0));
        QVERIFY(w.CmdDel->isEnabled());
        w.ChkDelDB->setChecked(true);
        f.takeLog();

        QTest::keyClick(w.txtSqlSrvName, Qt::Key_End);
        typeText(w.txtSqlSrvName, QStringLiteral("x"));
        QVERIFY(w.txtSaPwd->text().isEmpty());
        QVERIFY(w.txtSaPwd->isEnabled());
        QVERIFY(w.TxtAccNo->text().isEmpty());
        QVERIFY(!w.TxtAccNo->isEnabled());
        QCOMPARE(base(w.TxtAccNo), kGrey);
        QCOMPARE(w.ComAccList->count(), 0);
        QVERIFY(w.ComAccList->currentText().isEmpty());
        QVERIFY(!w.ComAccList->isEnabled());
        QCOMPARE(base(w.ComAccList), kGrey);
        QVERIFY(!w.CmdDel->isEnabled());
        QVERIFY(w.ChkDelDB->isChecked());
        QCOMPARE(w.txtYear->text(), QStringLiteral("2003"));
        QVERIFY(f.script().open);
        QVERIFY(f.takeLog().isEmpty());
    }

    // The statements of one connect, pick and focus-out, exactly as sent.
    void connectPickAndCheck() {
        Fixture f;
        FrmMain& w = f.window();
        f.script().answer(kList, accounts({{"003", "Sales"}, {"001", "示例帐套"}, {"002", QVariant()}}));
        f.script().answer(years("001"), yearRows({2004, 2003, 2002}));
        f.script().answer(lookup("001"), accounts({{"001", "示例帐套"}}));

        f.connectAs(QStringLiteral("  127.0.0.1,14333 "), QStringLiteral(" p w "));
        QCOMPARE(f.script().opens.size(), 1);
        QCOMPARE(f.script().opens[0].server, QStringLiteral("127.0.0.1,14333"));
        QCOMPARE(f.script().opens[0].password, QStringLiteral("p w"));
        QCOMPARE(f.script().opens[0].login, QStringLiteral("sa"));
        QCOMPARE(f.script().opens[0].database, QStringLiteral("TQSystem"));
        QCOMPARE(w.txtSqlSrvName->text(), QStringLiteral("  127.0.0.1,14333 "));

        QCOMPARE(items(w.ComAccList), QStringList({"003(Sales)", "001(示例帐套)", "002()"}));
        QCOMPARE(w.ComAccList->currentIndex(), -1);
        QVERIFY(w.ComAccList->currentText().isEmpty());
        QVERIFY(w.ComAccList->isEnabled());
        QCOMPARE(base(w.ComAccList), kWhite);
        QVERIFY(w.TxtAccNo->isEnabled());
        QCOMPARE(base(w.TxtAccNo), kWhite);
        QVERIFY(w.TxtAccNo->text().isEmpty());
        QVERIFY(!w.CmdDel->isEnabled());

        QVERIFY(f.choose(1));
        QCOMPARE(w.TxtAccNo->text(), QStringLiteral("001"));
        QVERIFY(w.CmdDel->isEnabled());
        QCOMPARE(w.txtYear->text(), QStringLiteral("2002;2003;2004"));
        QVERIFY(!w.txtYear->isVisible());

        w.TxtAccNo->setFocus();
        QTest::keyClick(w.TxtAccNo, Qt::Key_Tab);
        QCOMPARE(f.takeLog(), QStringList({"OPEN 127.0.0.1,14333", kList, years("001"), lookup("001")}));

        // A second press closes and reopens, and lists each account set once.
        QTest::mouseClick(w.CmdLink, Qt::LeftButton);
        QCOMPARE(f.takeLog(), QStringList({"CLOSE", "OPEN 127.0.0.1,14333", kList}));
        QCOMPARE(w.ComAccList->count(), 3);
        QCOMPARE(w.TxtAccNo->text(), QStringLiteral("001"));
    }

    void connectFailures() {
        Fixture f;
        FrmMain& w = f.window();
        // A blank server name: the button is off, a direct call gets the notice and sends nothing.
        typeText(w.txtSqlSrvName, QStringLiteral("  "));
        w.CmdLink_Click();
        QCOMPARE(MessageBox::takeShown().value(0).text, QStringLiteral("请输入数据库名称!"));
        QVERIFY(f.takeLog().isEmpty());

        f.script().answer(kList, accounts({{"001", "甲"}, {"002", "乙"}}));
        f.connect();
        QCOMPARE(w.ComAccList->count(), 2);

        // A wrong password: the server's reason in the details; the earlier list stays.
        f.script().openError = {SqlError::Kind::Connection, 18456,
                                QStringLiteral("Login failed for user 'sa'.")};
        w.CmdLink_Click();
        auto shown = MessageBox::takeShown();
        QCOMPARE(shown.size(), 1);
        QCOMPARE(shown[0].text, kConnectFailed);
        QCOMPARE(shown[0].details, QStringLiteral("Login failed for user 'sa'."));
        QVERIFY(!f.script().open);
        QCOMPARE(w.ComAccList->count(), 2);
        QVERIFY(w.ComAccList->isEnabled());

        // No driver installed: the same message, the package to install in the details.
        f.script().openError = {SqlError::Kind::NoDriver, 0, QStringLiteral("请安装软件包 tdsodbc。")};
        w.CmdLink_Click();
        shown = MessageBox::takeShown();
        QCOMPARE(shown.value(0).text, kConnectFailed);
        QVERIFY(shown.value(0).details.contains(QStringLiteral("tdsodbc")));

        // The list query failing is said, not swallowed; the list is left alone.
        f.script().openError = {};
        f.script().fail(kList, 208, QStringLiteral("Invalid object name 'ua_account'."));
        w.CmdLink_Click();
        shown = MessageBox::takeShown();
        QCOMPARE(shown.size(), 1);
        QVERIFY(shown[0].text.startsWith(kNotQueried));
        QCOMPARE(shown[0].details, QStringLiteral("Invalid object name 'ua_account'."));
        QCOMPARE(w.ComAccList->count(), 2);

        // A cause the driver's words show is named; its words stay in the details.
        f.script().openError = {SqlError::Kind::Connection, 20002,
                                QStringLiteral("Adaptive Server connection failed")};
        f.script().openError.cause = SqlError::Cause::Encryption;
        w.CmdLink_Click();
        shown = MessageBox::takeShown();
        QCOMPARE(shown.value(0).text, kEncryptionFailed);
        QCOMPARE(shown.value(0).details, QStringLiteral("Adaptive Server connection failed"));
        f.script().openError.cause = SqlError::Cause::OldTls;
        w.CmdLink_Click();
        QCOMPARE(MessageBox::takeShown().value(0).text,
                 kEncryptionFailed + QStringLiteral("服务器可能只支持旧版本的 TLS 协议。"));
        f.script().openError.cause = SqlError::Cause::InstanceNotFound;
        f.script().openError.waitedMs = 15600;
        typeText(w.txtSqlSrvName, QStringLiteral("\\财务"));
        w.CmdLink_Click();
        QCOMPARE(MessageBox::takeShown().value(0).text, instanceNotFound(16, QStringLiteral("财务")));
    }

    // After the last account set is gone, the refresh must not keep offering it.
    void emptyCatalogueEmptiesTheList() {
        Fixture f;
        FrmMain& w = f.window();
        f.script().answer(kList, accounts({{"001", "甲"}}), 1);
        f.script().answer(years("001"), yearRows({2003}));
        f.connect();
        QVERIFY(f.choose(0));
        QCOMPARE(w.ComAccList->currentText(), QStringLiteral("001(甲)"));

        f.script().answer(kList, accounts({}));
        w.CmdLink_Click();
        QCOMPARE(w.ComAccList->count(), 0);
        QVERIFY(w.ComAccList->currentText().isEmpty());
        QVERIFY2(w.ComAccList->isEnabled(), "the enabled state stays as it was");
        QVERIFY(w.TxtAccNo->isEnabled());
        QCOMPARE(w.TxtAccNo->text(), QStringLiteral("001"));

        // And a first connect to an empty catalogue enables nothing.
        Fixture g;
        g.script().answer(kList, accounts({}));
        g.connect();
        QVERIFY(!g->TxtAccNo->isEnabled());
        QCOMPARE(base(g->ComAccList), kGrey);
    }

    void moreThan32768AccountSets() {
        Fixture f;
        QList<QVariantList> rows;
        for (int i = 0; i < 40000; ++i)
            rows << QVariantList{QString::number(i).rightJustified(5, QLatin1Char('0')), QStringLiteral("n")};
        f.script().answer(kList, accounts(rows));
        f.connect();
        QCOMPARE(f->ComAccList->count(), 40000);
        QCOMPARE(f->ComAccList->itemText(39999), QStringLiteral("39999(n)"));
    }

    void pickingItems() {
        Fixture f;
        FrmMain& w = f.window();
        f.script().answer(kList,
                          accounts({{"003 ", "Sales"}, {"", "无号"}, {"0'1", "引号"}, {"004", "A(B)"}}));
        f.script().answer(years("003"), yearRows({2003, 2002}));
        f.script().answer(years(""), yearRows({}));
        f.script().answer(years("0''1"), yearRows({2005}));
        f.script().answer(years("004"), yearRows({}));
        f.connect();
        f.takeLog();

        // A space before "(" stays in the box; the query uses the trimmed number.
        QVERIFY(f.choose(0));
        QCOMPARE(w.TxtAccNo->text(), QStringLiteral("003 "));
        QCOMPARE(w.txtYear->text(), QStringLiteral("2002;2003"));

        // An item that begins with "(" empties the box and disables the delete button.
        QVERIFY(f.choose(1));
        QVERIFY(w.TxtAccNo->text().isEmpty());
        QVERIFY(!w.CmdDel->isEnabled());
        QVERIFY2(w.txtYear->text().isEmpty(), "no years: the previous account set's years must go");

        // A quote cannot end the literal.
        QVERIFY(f.choose(2));
        QCOMPARE(w.TxtAccNo->text(), QStringLiteral("0'1"));
        QCOMPARE(w.txtYear->text(), QStringLiteral("2005"));

        // Parentheses in the name don't change the number; no years empties the box.
        QVERIFY(f.choose(3));
        QCOMPARE(w.TxtAccNo->text(), QStringLiteral("004"));
        QVERIFY(w.txtYear->text().isEmpty());

        QCOMPARE(f.takeLog(), QStringList({years("003"), years(""), years("0''1"), years("004")}));
    }

    void failedYearQueryIsReported() {
        Fixture f;
        FrmMain& w = f.window();
        f.script().answer(kList, accounts({{"001", "甲"}, {"002", "乙"}}));
        f.script().answer(years("001"), yearRows({2003}));
        f.script().fail(years("002"), 4060, QStringLiteral("Cannot open database \"tqsystem\"."));
        f.connect();
        QVERIFY(f.choose(0));
        QVERIFY(f.choose(1));
        const auto shown = MessageBox::takeShown();
        QCOMPARE(shown.size(), 1);
        QVERIFY(shown[0].text.startsWith(kNotQueried));
        QVERIFY(shown[0].text.contains(QStringLiteral("002")));
        QCOMPARE(shown[0].details, QStringLiteral("Cannot open database \"tqsystem\"."));
        QCOMPARE(w.TxtAccNo->text(), QStringLiteral("002"));
        QCOMPARE(w.txtYear->text(), QStringLiteral("2003"));

        // A failed reconnect leaves the list filled while the connection is closed.
        f.script().openError = {SqlError::Kind::Connection, 18456,
                                QStringLiteral("Login failed for user 'sa'.")};
        w.CmdLink_Click();
        QCOMPARE(MessageBox::takeShown().value(0).text, kConnectFailed);
        QVERIFY(f.choose(0));
        const auto closed = MessageBox::takeShown();
        QCOMPARE(closed.size(), 1);
        QVERIFY(closed[0].text.startsWith(kNotQueried));
        QCOMPARE(w.TxtAccNo->text(), QStringLiteral("001"));
    }

    void dropDownWithBlankText() {
        Fixture f;
        FrmMain& w = f.window();
        f.script().answer(kList, accounts({{"001", "甲"}}));
        f.script().answer(years("001"), yearRows({2003}));
        f.connect();
        typeText(w.TxtAccNo, QStringLiteral("009"));
        w.ChkDelDB->setChecked(true);
        w.txtYear->setText(QStringLiteral("2002"));
        QVERIFY(w.txtYear->isVisible());

        // Opening the list while it shows nothing resets the number and the tick, keeps the years.
        w.ComAccList->setFocus();
        QTest::keyClick(w.ComAccList, Qt::Key_F4);
        QTRY_VERIFY(w.ComAccList->view()->isVisible());
        w.ComAccList->hidePopup();
        QVERIFY(w.TxtAccNo->text().isEmpty());
        QVERIFY(!w.CmdDel->isEnabled());
        QVERIFY(!w.ChkDelDB->isChecked());
        QVERIFY(!w.txtYear->isVisible());
        QVERIFY(!w.lblYear->isVisible());
        QCOMPARE(w.txtYear->text(), QStringLiteral("2002"));

        // While it shows an item, opening it changes nothing.
        QVERIFY(f.choose(0));
        w.ChkDelDB->setChecked(true);
        typeText(w.TxtAccNo, QStringLiteral("9"));
        w.ComAccList_DropDown();
        QCOMPARE(w.TxtAccNo->text(), QStringLiteral("0019"));
        QVERIFY(w.ChkDelDB->isChecked());
        QVERIFY(f.takeLog().count(years("001")) == 1);
    }

    void numberBoxRules() {
        Fixture f;
        FrmMain& w = f.window();
        f.script().answer(kList, accounts({{"001", "甲"}}));
        f.script().answer(lookup("001"), accounts({{"001", "甲"}}));
        f.script().answer(lookup("099"), accounts({}));
        f.script().answer(lookup("007"), accounts({{"007", "a"}, {"007", "b"}}));
        f.script().fail(lookup("005"), 10054, QStringLiteral("Connection reset by peer"));
        f.connect();
        f.takeLog();

        // Enabled exactly while the box holds more than blanks.
        w.TxtAccNo->setFocus();
        typeText(w.TxtAccNo, QStringLiteral(" "));
        QVERIFY(!w.CmdDel->isEnabled());
        typeText(w.TxtAccNo, QStringLiteral("1"));
        QVERIFY(w.CmdDel->isEnabled());
        QTest::keyClick(w.TxtAccNo, Qt::Key_Backspace);
        QVERIFY(!w.CmdDel->isEnabled());

        // Leaving it blank asks nothing.
        QTest::keyClick(w.TxtAccNo, Qt::Key_Tab);
        QVERIFY(f.takeLog().isEmpty());

        // A registered number typed with spaces is found; the box keeps the spaces.
        QVERIFY(f.typeNumberAndLeave(QStringLiteral(" 001 ")));
        QCOMPARE(f.takeLog(), QStringList{lookup("001")});
        QCOMPARE(w.TxtAccNo->text(), QStringLiteral(" 001 "));

        // Unregistered, or registered twice: the warning with the trimmed number; nothing else moves.
        for (const QString& no : {QStringLiteral("099"), QStringLiteral("007")}) {
            QVERIFY(f.typeNumberAndLeave(QStringLiteral(" ") + no));
            const auto shown = MessageBox::takeShown();
            QCOMPARE(shown.size(), 1);
            QCOMPARE(shown[0].text, unregistered(no));
            QCOMPARE(w.TxtAccNo->text(), QStringLiteral(" ") + no);
            QVERIFY(w.CmdDel->isEnabled());
        }
        QCOMPARE(f.takeLog(), QStringList({lookup("099"), lookup("007")}));

        // A lookup that fails is not "not registered".
        QVERIFY(f.typeNumberAndLeave(QStringLiteral("005")));
        auto shown = MessageBox::takeShown();
        QCOMPARE(shown.size(), 1);
        QVERIFY(shown[0].text.startsWith(kNotQueried));
        QCOMPARE(shown[0].details, QStringLiteral("Connection reset by peer"));

        // Run by the delete request, a failed lookup is left to the request's own single notice.
        w.CmdDel_Click();
        shown = MessageBox::takeShown();
        QCOMPARE(shown.size(), 1);
        QVERIFY(!shown[0].text.contains(QStringLiteral("未能检查帐套")));
        QCOMPARE(f.takeLog().first(), lookup("005"));

        // Quotes are doubled in the lookup, never in the message.
        QVERIFY(f.typeNumberAndLeave(QStringLiteral("1' or '1'='1")));
        QCOMPARE(f.takeLog().last(), lookup("1'' or ''1''=''1"));
        QCOMPARE(MessageBox::takeShown().value(0).text, unregistered(QStringLiteral("1' or '1'='1")));
    }
};

ACCTSET_TEST_CLASS(ConnectRulesTest)
#include "connect_rules_test.moc"
