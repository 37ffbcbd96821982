// The window's connect through the real driver stack against the sandbox in each encryption mode,
// asserting from the server's record of each connection that the password never travelled in
// clear where the server offered TLS, and what the operator is told when the handshake fails.
#include <QtTest>

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

Q_DECLARE_METATYPE(sandbox::Encryption)
Q_DECLARE_METATYPE(sandbox::Release)

using namespace Expected;
using WindowInput::items;

class ConnectTlsE2eTest : public QObject {
    Q_OBJECT

    E2eFixture e2e;
    WindowDriver* drive = nullptr;
    FrmMain* w = nullptr;

    void startServer(sandbox::Encryption mode, sandbox::Release release = sandbox::Release::SqlServer2019) {
        sandbox::Options options;
        options.encryption = mode;
        options.release = release;
        std::string error;
        QVERIFY2(e2e.startServer(options, &error), error.c_str());
        e2e.engine().seedDemo();
    }

    std::vector<sandbox::ConnectionRecord> logins() const {
        std::vector<sandbox::ConnectionRecord> out;
        for (const auto& r : e2e.server->connections()) {
            if (r.loginSeen)
                out.push_back(r);
        }
        return out;
    }

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

    void connects_data() {
        QTest::addColumn<sandbox::Encryption>("mode");
        QTest::addColumn<sandbox::Release>("release");
        QTest::addColumn<bool>("loginInsideTls");
        QTest::addColumn<bool>("stayedEncrypted");
        const auto r2019 = sandbox::Release::SqlServer2019;
        QTest::newRow("login") << sandbox::Encryption::Login << r2019 << true << false;
        QTest::newRow("required") << sandbox::Encryption::Required << r2019 << true << true;
        QTest::newRow("none") << sandbox::Encryption::None << r2019 << false << false;
        QTest::newRow("login, 2008 R2")
            << sandbox::Encryption::Login << sandbox::Release::SqlServer2008R2 << true << false;
        QTest::newRow("TLS 1.0 only") << sandbox::Encryption::Tls10Only << r2019 << true << false;
    }
    void connects() {
        QFETCH(sandbox::Encryption, mode);
        QFETCH(sandbox::Release, release);
        QFETCH(bool, loginInsideTls);
        QFETCH(bool, stayedEncrypted);
        startServer(mode, release);
        drive->connectAs(e2e.serverName(), QStringLiteral("sandbox"));
        QVERIFY(MessageBox::takeShown().isEmpty());
        QCOMPARE(items(w->ComAccList),
                 QStringList({"001(示例帐套)", "002(演示公司)", "003()", "0010(示例帐套分公司)"}));
        const auto seen = logins();
        QCOMPARE(seen.size(), size_t(1));
        QCOMPARE(seen[0].loginInsideTls, loginInsideTls);
        QVERIFY(seen[0].requestsAfterLogin >= 2);  // the driver's probe, the list
        QCOMPARE(seen[0].stayedEncrypted(), stayedEncrypted);
    }

    // The handshake fails: the operator is told the encryption could not be negotiated, with the
    // driver's words; no login follows, encrypted or not.
    void failedHandshake() {
        startServer(sandbox::Encryption::Tls13Only);
        drive->connectAs(e2e.serverName(), QStringLiteral("sandbox"));
        const auto shown = MessageBox::takeShown();
        QCOMPARE(shown.size(), 1);
        QCOMPARE(shown[0].text, kEncryptionFailed);
        QVERIFY2(shown[0].details.contains(QStringLiteral("Adaptive Server connection failed")),
                 qPrintable(shown[0].details));
        QVERIFY(!w->ComAccList->isEnabled());
        QVERIFY(logins().empty());
        const auto all = e2e.server->connections();
        QVERIFY(!all.empty());
        for (const auto& r : all)
            QVERIFY(!r.tlsFailure.empty());

        // A refused password is still the generic failure, with the server's words.
        startServer(sandbox::Encryption::Login);
        drive->connectAs(e2e.serverName(), QStringLiteral("wrong"));
        const auto refused = MessageBox::takeShown();
        QCOMPARE(refused.size(), 1);
        QCOMPARE(refused[0].text, kConnectFailed);
        QVERIFY(refused[0].details.contains(QStringLiteral("Login failed for user 'sa'.")));
        QVERIFY(logins().at(0).loginInsideTls);
    }
};

ACCTSET_TEST_CLASS(ConnectTlsE2eTest)
#include "connect_tls_e2e_test.moc"
