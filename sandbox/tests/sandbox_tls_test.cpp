// TLS the TDS 7.x way, the releases played and the Browser, as FreeTDS's own tsql sees them: each
// encryption mode end to end, with what the server's record of each connection says travelled
// inside TLS.

#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

#include "sandbox/Sandbox.h"
#include "support/TestMain.h"
#include "support/Tsql.h"

Q_DECLARE_METATYPE(sandbox::Encryption)

namespace {

const QString kPassword = QStringLiteral("Tls#2026");
const QString kList = QStringLiteral("select cacc_id,cacc_name from ua_account\ngo\n");

}  // namespace

class SandboxTlsTest : public QObject {
    Q_OBJECT

    std::unique_ptr<sandbox::Server> server;
    QTemporaryDir dir;

    void startServer(sandbox::Encryption mode, sandbox::Release release = sandbox::Release::SqlServer2019) {
        sandbox::Options options;
        options.password = kPassword.toStdString();
        options.encryption = mode;
        options.release = release;
        server = std::make_unique<sandbox::Server>(options);
        server->engine().seedDemo();
        std::string error;
        QVERIFY2(server->start(&error), error.c_str());
    }

    // tsql against the server's port, or through a FreeTDS configuration file when one is given
    // (for the client's own encryption setting); FreeTDS's own log of the exchange in *dump.
    TsqlRun tsql(const QString& input, const QString& config = {}, QString* dump = nullptr) {
        const QString dumpFile = dir.filePath(QStringLiteral("tds.log"));
        QFile::remove(dumpFile);
        QList<QPair<QString, QString>> env{{"TDSDUMP", dumpFile}};
        QStringList args{"-H", "127.0.0.1", "-p", QString::number(server->port()), "-v", "7.4"};
        if (!config.isEmpty()) {
            QFile conf(dir.filePath(QStringLiteral("freetds.conf")));
            if (conf.open(QIODevice::WriteOnly))
                conf.write(config.arg(server->port()).toUtf8());
            env.append({"FREETDSCONF", conf.fileName()});
            args = QStringList{"-S", "sandbox"};
        }
        const TsqlRun run =
            runTsql(args + QStringList{"-U", "sa", "-P", kPassword, "-D", "TQSystem"}, input, env);
        QFile log(dumpFile);
        if (dump && log.open(QIODevice::ReadOnly))
            *dump = QString::fromUtf8(log.readAll());
        return run;
    }

    sandbox::ConnectionRecord onlyConnection() {
        const auto all = server->connections();
        if (all.size() != 1)
            qWarning("%d connections recorded", int(all.size()));
        return all.empty() ? sandbox::ConnectionRecord{} : all.back();
    }

private slots:
    void initTestCase() { QVERIFY(dir.isValid()); }
    void cleanup() { server.reset(); }

    // The password never travels in clear where the server offers TLS; the rest of the session
    // does in login mode, and does not in required mode.
    void modes_data() {
        QTest::addColumn<sandbox::Encryption>("mode");
        QTest::addColumn<QString>("tlsVersion");
        QTest::addColumn<bool>("stayedEncrypted");
        QTest::newRow("login") << sandbox::Encryption::Login << "TLSv1.2" << false;
        QTest::newRow("required") << sandbox::Encryption::Required << "TLSv1.2" << true;
        QTest::newRow("none") << sandbox::Encryption::None << "" << false;
        QTest::newRow("TLS 1.0 only") << sandbox::Encryption::Tls10Only << "TLSv1" << false;
    }
    void modes() {
        QFETCH(sandbox::Encryption, mode);
        QFETCH(QString, tlsVersion);
        QFETCH(bool, stayedEncrypted);
        startServer(mode);
        const TsqlRun run = tsql(kList + "select count(*) from ua_account\ngo\n");
        QCOMPARE(run.exitCode, 0);
        QVERIFY2(run.out.contains("001\t示例帐套\n"), qPrintable(run.out + run.err));
        QVERIFY2(!run.err.contains("Msg "), qPrintable(run.err));
        const sandbox::ConnectionRecord r = onlyConnection();
        QCOMPARE(QString::fromStdString(r.tlsVersion), tlsVersion);
        QVERIFY(r.loginSeen);
        QCOMPARE(r.loginInsideTls, !tlsVersion.isEmpty());
        QCOMPARE(r.requestsAfterLogin, 2);
        QCOMPARE(r.stayedEncrypted(), stayedEncrypted);
        QCOMPARE(r.requestsAfterLoginInsideTls, stayedEncrypted ? 2 : 0);
    }

    // TLS 1.3 inside TDS 7.x: the client finishes its handshake outside the PRELOGIN packets; the
    // server closes, and the login (with the password) is never read.
    void tls13OnlyFailsTheHandshake() {
        startServer(sandbox::Encryption::Tls13Only);
        QElapsedTimer t;
        t.start();
        const TsqlRun run = tsql(kList);
        QVERIFY(run.exitCode != 0);
        QVERIFY2(run.err.contains("Adaptive Server connection failed"), qPrintable(run.err));
        QVERIFY(t.elapsed() < 10000);  // closed at once, not left to the login timeout
        const sandbox::ConnectionRecord r = onlyConnection();
        QVERIFY2(!r.tlsFailure.empty(), r.tlsVersion.c_str());
        QVERIFY(!r.loginSeen);
    }

    // A client that cannot encrypt: a default server lets it log in in clear (and the record says
    // so); one with Force Encryption turns it away before its login.
    void clientWithoutEncryption() {
        const QString config = QStringLiteral(
            "[global]\n[sandbox]\n\thost = 127.0.0.1\n\tport = %1\n\ttds version = 7.4\n\tencryption = "
            "off\n");
        startServer(sandbox::Encryption::Login);
        TsqlRun run = tsql(kList, config);
        QCOMPARE(run.exitCode, 0);
        sandbox::ConnectionRecord r = onlyConnection();
        QVERIFY(r.loginSeen);
        QVERIFY(!r.loginInsideTls);

        startServer(sandbox::Encryption::Required);
        run = tsql(kList, config);
        QVERIFY(run.exitCode != 0);
        QVERIFY(!onlyConnection().loginSeen);
    }

    // LOGINACK, @@VERSION and SERVERPROPERTY agree; 2008 R2 speaks TDS 7.3B to a 7.4 client and
    // acknowledges no feature extension.
    void releases_data() {
        QTest::addColumn<sandbox::Release>("release");
        QTest::addColumn<QString>("tdsVersion");
        QTest::addColumn<QString>("productVersion");
        QTest::addColumn<QString>("versionText");
        QTest::addColumn<bool>("featureAck");
        QTest::newRow("2008 R2") << sandbox::Release::SqlServer2008R2 << "73.b.0.3"
                                 << "10.50.6542.0"
                                 << "Microsoft SQL Server 2008 R2 (SP3-GDR)" << false;
        QTest::newRow("2019") << sandbox::Release::SqlServer2019 << "74.0.0.4"
                              << "15.0.2000.5"
                              << "Microsoft SQL Server 2019 (RTM)" << true;
    }
    void releases() {
        QFETCH(sandbox::Release, release);
        QFETCH(QString, tdsVersion);
        QFETCH(QString, productVersion);
        QFETCH(QString, versionText);
        QFETCH(bool, featureAck);
        startServer(sandbox::Encryption::Login, release);
        QString dump;
        const TsqlRun run = tsql(
            "select @@version\ngo\nselect serverproperty('ProductVersion'), "
            "databasepropertyex('TQSystem', 'Version')\ngo\n",
            {}, &dump);
        QCOMPARE(run.exitCode, 0);
        QVERIFY2(
            run.out.contains(QRegularExpression("\n" + QRegularExpression::escape(versionText) + ".* - " +
                                                QRegularExpression::escape(productVersion) + " \\(X64\\)")),
            qPrintable(run.out));
        QVERIFY2(run.out.contains("\n" + productVersion + "\t"), qPrintable(run.out));
        QVERIFY2(dump.contains("server reports TDS version " + tdsVersion), "no LOGINACK in the dump");
        QCOMPARE(dump.contains("FEATUREEXTACK"), featureAck);
    }
};

ACCTSET_TEST_CLASS(SandboxTlsTest)
#include "sandbox_tls_test.moc"
