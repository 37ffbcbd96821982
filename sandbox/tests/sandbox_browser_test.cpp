// The SQL Server Browser responder: its answers as [MC-SQLR] lays them out, and host\instance
// found through it by FreeTDS's tsql. Binds UDP 1434, so CTest runs it alone among its kind.

#include <QTemporaryDir>
#include <QtTest>

#include "sandbox/Sandbox.h"
#include "sandbox/tds/Browser.h"
#include "support/TestMain.h"
#include "support/Tsql.h"

using sandbox::tds::browserAnswer;

namespace {

std::vector<uint8_t> request(uint8_t type, const std::string& instance = {}) {
    std::vector<uint8_t> r(1 + instance.size() + (instance.empty() ? 0 : 1), 0);
    r[0] = type;
    std::copy(instance.begin(), instance.end(), r.begin() + 1);  // then the terminating 0
    return r;
}

QString text(const std::vector<uint8_t>& answer) {
    return QString::fromLatin1(reinterpret_cast<const char*>(answer.data()) + 3,
                               qsizetype(answer.size()) - 3);
}

}  // namespace

class SandboxBrowserTest : public QObject {
    Q_OBJECT

private slots:
    void answers() {
        const sandbox::tds::BrowserInstance i{"SANDBOX", "ACCT", "15.0.2000.5", 14333};
        const QString described =
            "ServerName;SANDBOX;InstanceName;ACCT;IsClustered;No;Version;15.0.2000.5;tcp;14333;;";
        auto r = request(0x04, "acct");  // CLNT_UCAST_INST, the name in another case
        auto a = browserAnswer(r.data(), r.size(), i);
        QVERIFY(a.size() > 3);
        QCOMPARE(int(a[0]), 0x05);  // SVR_RESP, then RESP_SIZE little-endian
        QCOMPARE(size_t(a[1] | (a[2] << 8)), a.size() - 3);
        QCOMPARE(text(a), described);
        r = request(0x03);  // CLNT_UCAST_EX: every instance
        QCOMPARE(text(browserAnswer(r.data(), r.size(), i)), described);
        r = request(0x04, "OTHER");  // an instance this host does not have: no answer
        QVERIFY(browserAnswer(r.data(), r.size(), i).empty());
        r = request(0x0F, "ACCT");  // the dedicated admin connection is not offered
        QVERIFY(browserAnswer(r.data(), r.size(), i).empty());
        QVERIFY(browserAnswer(nullptr, 0, i).empty());
    }

    void tsqlFindsTheInstance() {
        sandbox::Options options;
        options.password = "Browser#1";
        options.instance = "ACCTSET";
        sandbox::Server server(options);
        server.engine().seedDemo();
        std::string error;
        QVERIFY2(server.start(&error), error.c_str());
        QCOMPARE(QString::fromStdString(server.serverName()), QStringLiteral("127.0.0.1\\ACCTSET"));

        QTemporaryDir dir;
        QFile conf(dir.filePath("freetds.conf"));
        QVERIFY(conf.open(QIODevice::WriteOnly));
        conf.write("[global]\n[acct]\n\thost = 127.0.0.1\n\tinstance = acctset\n\ttds version = 7.4\n");
        conf.close();
        const TsqlRun run = runTsql({"-S", "acct", "-U", "sa", "-P", "Browser#1"},
                                    "select cacc_id,cacc_name from TQSystem.dbo.ua_account\ngo\n",
                                    {{"FREETDSCONF", conf.fileName()}});
        QVERIFY2(run.out.contains("001\t示例帐套"), qPrintable(run.out + run.err));
        QVERIFY(server.browserAnswers() >= 1);

        // Another server cannot answer for the same port while this one does.
        sandbox::Server second(options);
        QVERIFY(!second.start(&error));
        QVERIFY2(QString::fromStdString(error).contains("1434"), error.c_str());
    }
};

ACCTSET_TEST_CLASS(SandboxBrowserTest)
#include "sandbox_browser_test.moc"
