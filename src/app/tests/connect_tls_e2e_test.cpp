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
        // A server as installed encrypts the whole session of a client that asks it to.
        QTest::newRow("login") << sandbox::Encryption::Login << r2019 << true << true;
        QTest::newRow("required") << sandbox::Encryption::Required << r2019 << true << true;
        QTest::newRow("login, 2008 R2")
            << sandbox::Encryption::Login << sandbox::Release::SqlServer2008R2 << true << true;
        QTest::newRow("TLS 1.0 only") << sandbox::Encryption::Tls10Only << r2019 << true << true;
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

    // A server without TLS: the operator is asked once, 取消 the default. 取消 leaves the login
    // unsent (the server saw only PRELOGIN requests); 确定 sends it in clear, and the list comes.
    void serverWithoutTlsAsks() {
        startServer(sandbox::Encryption::None);
        const QString name = e2e.serverName();
        drive->connectAs(name, QStringLiteral("sandbox"));
        auto shown = MessageBox::takeShown();
        QCOMPARE(shown.size(), 1);
        QCOMPARE(shown[0].kind, MessageBox::Caution);
        QCOMPARE(shown[0].text, clearLoginQuestion(name));
        QVERIFY(!w->ComAccList->isEnabled());
        QVERIFY(logins().empty());
        QVERIFY(!e2e.server->connections().empty());

        MessageBox::queueAnswers({MessageBox::Ok});
        drive->connectAs(name, QStringLiteral("sandbox"));
        shown = MessageBox::takeShown();
        QCOMPARE(shown.size(), 1);
        QCOMPARE(shown[0].text, clearLoginQuestion(name));
        QCOMPARE(items(w->ComAccList),
                 QStringList({"001(示例帐套)", "002(演示公司)", "003()", "0010(示例帐套分公司)"}));
        const auto seen = logins();
        QCOMPARE(seen.size(), size_t(1));
        QVERIFY(!seen[0].loginInsideTls);
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
        // The driver's connection and the tool's PRELOGIN question (which leaves once answered):
        // each handshake failed, or was never finished, as its connection's thread records.
        const auto everyHandshakeFailed = [&] {
            const auto all = e2e.server->connections();
            return !all.empty() && std::all_of(all.begin(), all.end(), [](const auto& r) {
                return !r.tlsFailure.empty() && !r.loginSeen;
            });
        };
        QTRY_VERIFY(everyHandshakeFailed());

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
