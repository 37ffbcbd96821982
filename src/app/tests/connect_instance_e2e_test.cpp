// host\instance typed into the window: found through the sandbox's SQL Server Browser, and the
// message when no Browser answers. Binds (or needs free) UDP 1434, so CTest runs it alone among
// its kind.
#include <QtTest>

#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>

#include "app/DropDownList.h"
#include "app/FrmMain.h"
#include "app/MessageBox.h"
#include "sandbox/Sandbox.h"
#include "support/E2eFixture.h"
#include "support/ExpectedText.h"
#include "support/TestMain.h"
#include "support/WindowDriver.h"

using namespace Expected;

class ConnectInstanceE2eTest : public QObject {
    Q_OBJECT

    E2eFixture e2e;
    WindowDriver* drive = nullptr;
    FrmMain* w = nullptr;

private slots:
    void init() {
        QVERIFY(e2e.setUp());
        drive = e2e.drive.get();
        w = &e2e.window();
    }
    void cleanup() {
        w = nullptr;
        drive = nullptr;
        E2E_TEAR_DOWN(e2e);
    }

    void foundThroughTheBrowser() {
        sandbox::Options options;
        options.instance = "ACCTSET";
        std::string error;
        QVERIFY2(e2e.startServer(options, &error), error.c_str());
        e2e.engine().seedDemo();
        drive->connectAs(QStringLiteral("127.0.0.1\\acctset"), QStringLiteral("sandbox"));
        QVERIFY(MessageBox::takeShown().isEmpty());
        QCOMPARE(w->ComAccList->count(), 4);
        QVERIFY(e2e.server->browserAnswers() >= 1);
        QVERIFY(e2e.server->connections().at(0).loginInsideTls);
    }

    // The driver asks for 16 s whatever its timeouts say; the message says how long it waited.
    void noBrowserAnswers() {
        QElapsedTimer t;
        t.start();
        drive->connectAs(QStringLiteral("127.0.0.1\\NOSUCH"), QStringLiteral("sandbox"));
        const int seconds = int((t.elapsed() + 500) / 1000);
        const auto shown = MessageBox::takeShown();
        QCOMPARE(shown.size(), 1);
        QVERIFY2(shown[0].text == instanceNotFound(seconds, "NOSUCH") ||
                     shown[0].text == instanceNotFound(seconds - 1, "NOSUCH"),
                 qPrintable(shown[0].text));
        QVERIFY(!shown[0].details.isEmpty());
    }
};

ACCTSET_TEST_CLASS(ConnectInstanceE2eTest)
#include "connect_instance_e2e_test.moc"
