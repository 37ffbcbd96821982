// Connect, list, pick and number check end to end: the real window and driver stack against the
// sandbox server, asserting what reached the server and what the window shows.
#include <QtTest>

#include <QAbstractItemView>
#include <QLineEdit>
#include <QPushButton>

#include "app/DropDownList.h"
#include "app/FrmMain.h"
#include "app/MessageBox.h"
#include "sandbox/Sandbox.h"
#include "sql/OdbcClient.h"
#include "support/E2eFixture.h"
#include "support/ExpectedText.h"
#include "support/TestMain.h"
#include "support/WindowDriver.h"

namespace {

using namespace Expected;
using WindowInput::items;

}  // namespace

class ConnectE2eTest : public QObject {
    Q_OBJECT

    E2eFixture e2e;
    WindowDriver* drive = nullptr;
    sandbox::Server* server = nullptr;
    FrmMain* w = nullptr;

    sandbox::Engine& engine() { return e2e.engine(); }

    // What the tool sent after the driver's own probe at open.
    QStringList sent() {
        QStringList out;
        for (const QString& q : e2e.log()) {
            if (!q.startsWith(QLatin1String("sp_datatype_info")))
                out << q;
        }
        engine().clearStatementLog();
        return out;
    }

    QString name() const { return e2e.serverName(); }

private slots:
    void init() {
        std::string error;
        QVERIFY2(e2e.startServer({}, &error), error.c_str());
        QVERIFY(e2e.setUp());
        server = e2e.server.get();
        drive = e2e.drive.get();
        w = &e2e.window();
    }
    void cleanup() {
        w = nullptr;
        drive = nullptr;
        server = nullptr;
        E2E_TEAR_DOWN(e2e);
    }

    void connectPickAndCheck() {
        engine().seedDemo();
        drive->connectAs(name(), QStringLiteral("sandbox"));
        QVERIFY(MessageBox::takeShown().isEmpty());
        QCOMPARE(items(w->ComAccList),
                 QStringList({"001(示例帐套)", "002(演示公司)", "003()", "0010(示例帐套分公司)"}));
        QCOMPARE(w->ComAccList->currentIndex(), -1);
        QVERIFY(w->TxtAccNo->isEnabled());

        QVERIFY(drive->choose(0));
        QCOMPARE(w->TxtAccNo->text(), QStringLiteral("001"));
        QCOMPARE(w->txtYear->text(), QStringLiteral("2002;2003;2004"));
        QVERIFY(drive->choose(2));
        QCOMPARE(w->txtYear->text(), QStringLiteral("2004"));

        QVERIFY(drive->typeNumberAndLeave(QStringLiteral("002")));
        QVERIFY(MessageBox::takeShown().isEmpty());
        QVERIFY(drive->typeNumberAndLeave(QStringLiteral(" 099 ")));
        const auto shown = MessageBox::takeShown();
        QCOMPARE(shown.size(), 1);
        QCOMPARE(shown[0].text,
                 QStringLiteral("当前的系统数据库tqsystem中不存在帐套099,请输入正确的帐套号!"));

        QCOMPARE(sent(), QStringList({kSessionSetup, kList, years("001"), years("003"), lookup("002"),
                                      lookup("099")}));
    }

    // Quotes in the catalogue's own values travel escaped and come back whole.
    void quotedNumber() {
        engine().seedEmpty();
        QVERIFY(engine().execRaw(
            "INSERT INTO ua_account (cacc_id, cacc_name) VALUES ('0''1', '引''号'), ('01', '');"
            "INSERT INTO ua_period (cacc_id, iyear, iperiod) VALUES ('0''1', 2005, 1), ('0''1', 2005, 2),"
            " ('0''1', 9999, 1), ('01', 2006, 1);"));
        drive->connectAs(name(), QStringLiteral("sandbox"));
        QCOMPARE(items(w->ComAccList), QStringList({"0'1(引'号)", "01()"}));
        QVERIFY(drive->choose(1));
        QCOMPARE(w->txtYear->text(), QStringLiteral("2006"));
        QVERIFY(drive->choose(0));
        QCOMPARE(w->TxtAccNo->text(), QStringLiteral("0'1"));
        QCOMPARE(w->txtYear->text(), QStringLiteral("2005"));
        QVERIFY(drive->typeNumberAndLeave(QStringLiteral("0'1")));
        QVERIFY(MessageBox::takeShown().isEmpty());
        QCOMPARE(sent(), QStringList({kSessionSetup, kList, years("01"), years("0''1"), lookup("0''1")}));
    }

    // A name as long as its column allows arrives whole, in every script the catalogue may hold.
    void namesAtFullWidth() {
        engine().seedEmpty();
        const QString wide = QString(QStringLiteral("帐")).repeated(60);
        const QString mixed =
            QStringLiteral("有限责任公司ABC") + QString::fromUtf8("\xF0\xA0\x80\x80").repeated(10);
        QVERIFY(engine().execRaw(("INSERT INTO ua_account (cacc_id, cacc_name) VALUES ('001', '" +
                                  wide.toStdString() + "'), ('002', '" + mixed.toStdString() + "');")));
        drive->connectAs(name(), QStringLiteral("sandbox"));
        QCOMPARE(items(w->ComAccList), QStringList({"001(" + wide + ")", "002(" + mixed + ")"}));
        QVERIFY(MessageBox::takeShown().isEmpty());
    }

    // The last account set gone: the refresh empties the list.
    void emptiedCatalogue() {
        engine().seedDemo();
        drive->connectAs(name(), QStringLiteral("sandbox"));
        QCOMPARE(w->ComAccList->count(), 4);
        QVERIFY(engine().execRaw("DELETE FROM ua_account;"));
        w->CmdLink_Click();
        QCOMPARE(w->ComAccList->count(), 0);
        QVERIFY(MessageBox::takeShown().isEmpty());
    }

    // A failure later in a batch is not lost behind the statements that worked.
    void batchFailureAfterAGoodStatement() {
        engine().seedDemo();
        const auto cnn = makeOdbcClient();
        ConnectionSpec spec;
        spec.server = name();
        spec.password = QStringLiteral("sandbox");
        QVERIFY(!cnn->open(spec).isError());
        const QString batch = QStringLiteral("select cacc_id from ua_account; select * from no_such_table");
        QCOMPARE(cnn->command(batch).nativeCode, 208);
        const SqlResult r = cnn->query(batch);
        QCOMPARE(r.error.nativeCode, 208);
        QCOMPARE(cnn->command(QStringLiteral("select 1; select 2")).kind, SqlError::Kind::None);
        QCOMPARE(cnn->query(kList).rowCount(), 4);
    }

    void failuresCarryTheServersWords() {
        engine().seedDemo();
        drive->connectAs(name(), QStringLiteral("wrong"));
        auto shown = MessageBox::takeShown();
        QCOMPARE(shown.size(), 1);
        QCOMPARE(shown[0].text, kConnectFailed);
        QVERIFY2(shown[0].details.contains(QStringLiteral("Login failed for user 'sa'.")),
                 qPrintable(shown[0].details));
        QVERIFY(!shown[0].details.contains(QStringLiteral("[FreeTDS]")));
        QVERIFY(!w->ComAccList->isEnabled());

        // A password the driver cannot carry is refused before anything is sent.
        engine().clearStatementLog();
        const uint64_t trips = server->roundTrips();
        drive->connectAs(name(), QStringLiteral("a}b"));
        shown = MessageBox::takeShown();
        QCOMPARE(shown.size(), 1);
        QCOMPARE(shown[0].text, QStringLiteral("口令中含有字符“}”,当前安装的数据库驱动程序无法传送此口令,"
                                               "没有连接任何数据库服务器!"));
        // Which driver, and why, behind the details button.
        QVERIFY(shown[0].details.contains(QStringLiteral("口令")));
        QVERIFY(shown[0].details.contains(QStringLiteral("FreeTDS")));
        QCOMPARE(server->roundTrips(), trips);

        drive->connectAs(name(), QStringLiteral("sandbox"));
        QVERIFY(MessageBox::takeShown().isEmpty());
        sandbox::Message error;
        error.number = 208;
        error.text = "Invalid object name 'tqsystem.dbo.ua_period'.";
        engine().failStatements("select distinct.*", error);
        QVERIFY(drive->choose(1));
        shown = MessageBox::takeShown();
        QCOMPARE(shown.size(), 1);
        QVERIFY(shown[0].text.startsWith(QStringLiteral("无法查询数据库服务器")));
        QCOMPARE(shown[0].details, QStringLiteral("Invalid object name 'tqsystem.dbo.ua_period'."));

        // A closed port: the server stopped, its port refuses.
        const QString gone = name();
        server->stop();
        w->CmdLink_Click();
        shown = MessageBox::takeShown();
        QCOMPARE(shown.size(), 1);
        QCOMPARE(shown[0].text, kConnectFailed);
        QVERIFY(!shown[0].details.isEmpty());
        Q_UNUSED(gone);
    }
};

ACCTSET_TEST_CLASS(ConnectE2eTest)
#include "connect_e2e_test.moc"
