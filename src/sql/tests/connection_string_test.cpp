// The connection string for each driver family, and the choice of driver.
#include <QTest>

#include "sql/ConnectionString.h"
#include "support/TestMain.h"

using namespace ConnectionString;

namespace {
ConnectionSpec spec(const QString& server, const QString& password) {
    ConnectionSpec s;
    s.server = server;
    s.password = password;
    return s;
}
}  // namespace

class ConnectionStringTest : public QObject {
    Q_OBJECT

private slots:
    void chooseDriver_data() {
        QTest::addColumn<QStringList>("installed");
        QTest::addColumn<QString>("chosen");
        QTest::newRow("none") << QStringList{} << "";
        QTest::newRow("only unrelated") << QStringList{"SQLite3", "PostgreSQL Unicode"} << "";
        QTest::newRow("FreeTDS alone") << QStringList{"FreeTDS"} << "FreeTDS";
        QTest::newRow("18 beats 17 and FreeTDS")
            << QStringList{"FreeTDS", "ODBC Driver 17 for SQL Server", "ODBC Driver 18 for SQL Server"}
            << "ODBC Driver 18 for SQL Server";
        QTest::newRow("17 beats FreeTDS")
            << QStringList{"SQL Server", "FreeTDS", "ODBC Driver 17 for SQL Server"}
            << "ODBC Driver 17 for SQL Server";
#ifdef Q_OS_WIN
        // Windows' own driver is on every machine; FreeTDS only where wine hands over to the host.
        QTest::newRow("Native Client beats Windows' own driver")
            << QStringList{"SQL Server", "SQL Server Native Client 11.0", "FreeTDS"}
            << "SQL Server Native Client 11.0";
        QTest::newRow("Windows' own driver beats FreeTDS")
            << QStringList{"FreeTDS", "SQL Server"} << "SQL Server";
        QTest::newRow("17 beats Native Client")
            << QStringList{"SQL Server Native Client 11.0", "ODBC Driver 17 for SQL Server"}
            << "ODBC Driver 17 for SQL Server";
        QTest::newRow("FreeTDS under wine") << QStringList{"MySQL", "FreeTDS"} << "FreeTDS";
        QTest::newRow("older Native Client is not one of ours")
            << QStringList{"SQL Server Native Client 10.0"} << "";
#else
        QTest::newRow("FreeTDS beats the old driver") << QStringList{"SQL Server", "FreeTDS"} << "FreeTDS";
        QTest::newRow("old driver last") << QStringList{"MySQL", "SQL Server"} << "SQL Server";
#endif
        QTest::newRow("case of the listed name") << QStringList{"freetds"} << "freetds";
    }
    void chooseDriver() {
        QFETCH(QStringList, installed);
        QFETCH(QString, chosen);
        QCOMPARE(ConnectionString::chooseDriver(installed), chosen);
    }

    void serverForms_data() {
        QTest::addColumn<QString>("server");
        QTest::addColumn<QString>("host");
        QTest::addColumn<QString>("instance");
        QTest::addColumn<QString>("port");
        QTest::newRow("host") << "db01"
                              << "db01"
                              << ""
                              << "";
        QTest::newRow("instance") << "db01\\ACCT"
                                  << "db01"
                                  << "ACCT"
                                  << "";
        QTest::newRow("port") << "127.0.0.1,14333"
                              << "127.0.0.1"
                              << ""
                              << "14333";
        QTest::newRow("port with blanks") << "db01 , 1433"
                                          << "db01"
                                          << ""
                                          << "1433";
        QTest::newRow("local dot") << ".\\SQLEXPRESS"
                                   << "."
                                   << "SQLEXPRESS"
                                   << "";
    }
    void serverForms() {
        QFETCH(QString, server);
        QFETCH(QString, host);
        QFETCH(QString, instance);
        QFETCH(QString, port);
        const ServerAddress a = parseServer(server);
        QCOMPARE(a.host, host);
        QCOMPARE(a.instance, instance);
        QCOMPARE(a.port, port);
    }

    void strings_data() {
        QTest::addColumn<QString>("driver");
        QTest::addColumn<QString>("server");
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("expected");
        const QString tail =
            ";UID={sa};PWD={%1};DATABASE={TQSystem};TDS_Version=7.4;ClientCharset=UTF-8;Encryption=require";
        QTest::newRow("FreeTDS host") << "FreeTDS"
                                      << "db01"
                                      << "pw"
                                      << "DRIVER={FreeTDS};SERVER={db01}" + tail.arg("pw");
        QTest::newRow("FreeTDS port goes to its own keyword")
            << "FreeTDS"
            << "127.0.0.1,14333"
            << "pw"
            << "DRIVER={FreeTDS};SERVER={127.0.0.1};PORT={14333}" + tail.arg("pw");
        QTest::newRow("FreeTDS instance") << "FreeTDS"
                                          << "db01\\ACCT"
                                          << "pw"
                                          << "DRIVER={FreeTDS};SERVER={db01\\ACCT}" + tail.arg("pw");
        QTest::newRow("empty password") << "FreeTDS"
                                        << "db01"
                                        << ""
                                        << "DRIVER={FreeTDS};SERVER={db01}" + tail.arg("");
        QTest::newRow("semicolon and equals stay inside the braces")
            << "FreeTDS"
            << "db01"
            << "a;DATABASE=master;b={"
            << "DRIVER={FreeTDS};SERVER={db01}" + tail.arg("a;DATABASE=master;b={");
        QTest::newRow("Chinese password") << "FreeTDS"
                                          << "db01"
                                          << "口令"
                                          << "DRIVER={FreeTDS};SERVER={db01}" + tail.arg("口令");
        QTest::newRow("driver 18 passes the server as typed")
            << "ODBC Driver 18 for SQL Server"
            << "db01,1433"
            << "pw"
            << "DRIVER={ODBC Driver 18 for SQL "
               "Server};SERVER={db01,1433};UID={sa};PWD={pw};DATABASE={TQSystem};"
               "Encrypt=Mandatory;TrustServerCertificate=yes";
        QTest::newRow("driver 17 doubles a closing brace")
            << "ODBC Driver 17 for SQL Server"
            << "db01\\ACCT"
            << "a}b"
            << "DRIVER={ODBC Driver 17 for SQL Server};SERVER={db01\\ACCT};UID={sa};PWD={a}}b};"
               "DATABASE={TQSystem};Encrypt=yes;TrustServerCertificate=yes";
        QTest::newRow("Native Client 11.0 takes 17's keys")
            << "SQL Server Native Client 11.0"
            << "db01\\ACCT"
            << "pw"
            << "DRIVER={SQL Server Native Client "
               "11.0};SERVER={db01\\ACCT};UID={sa};PWD={pw};DATABASE={TQSystem};"
               "Encrypt=yes;TrustServerCertificate=yes";
#ifdef Q_OS_WIN
        // Windows' own driver knows no TrustServerCertificate.
        QTest::newRow("Windows' own driver")
            << "SQL Server"
            << "db01,1433"
            << "pw"
            << "DRIVER={SQL Server};SERVER={db01,1433};UID={sa};PWD={pw};DATABASE={TQSystem};Encrypt=yes";
#else
        QTest::newRow("old driver")
            << "SQL Server"
            << "db01"
            << "pw"
            << "DRIVER={SQL Server};SERVER={db01};UID={sa};PWD={pw};DATABASE={TQSystem};"
               "Encrypt=yes;TrustServerCertificate=yes";
#endif
    }
    // Only on the operator's word does a driver accept a server without TLS; each keeps the
    // certificate unvalidated.
    void encryptionKeys_data() {
        QTest::addColumn<QString>("driver");
        QTest::addColumn<bool>("allowUnencrypted");
        QTest::addColumn<QString>("keys");
        QTest::newRow("FreeTDS") << "FreeTDS" << false << "Encryption=require";
        QTest::newRow("FreeTDS, clear allowed") << "FreeTDS" << true << "Encryption=request";
        QTest::newRow("18") << "ODBC Driver 18 for SQL Server" << false
                            << "Encrypt=Mandatory;TrustServerCertificate=yes";
        QTest::newRow("18, clear allowed")
            << "ODBC Driver 18 for SQL Server" << true << "Encrypt=Optional;TrustServerCertificate=yes";
        QTest::newRow("17") << "ODBC Driver 17 for SQL Server" << false
                            << "Encrypt=yes;TrustServerCertificate=yes";
        QTest::newRow("17, clear allowed")
            << "ODBC Driver 17 for SQL Server" << true << "Encrypt=no;TrustServerCertificate=yes";
        QTest::newRow("Native Client 11.0")
            << "SQL Server Native Client 11.0" << false << "Encrypt=yes;TrustServerCertificate=yes";
        QTest::newRow("Native Client 11.0, clear allowed")
            << "SQL Server Native Client 11.0" << true << "Encrypt=no;TrustServerCertificate=yes";
#ifdef Q_OS_WIN
        QTest::newRow("Windows' own driver") << "SQL Server" << false << "Encrypt=yes";
        QTest::newRow("Windows' own driver, clear allowed") << "SQL Server" << true << "Encrypt=no";
#endif
    }
    void encryptionKeys() {
        QFETCH(QString, driver);
        QFETCH(bool, allowUnencrypted);
        QFETCH(QString, keys);
        ConnectionSpec s = spec("db01", "pw");
        s.allowUnencrypted = allowUnencrypted;
        const Built b = build(s, driver);
        QVERIFY(b.text.endsWith(QLatin1Char(';') + keys));
        QCOMPARE(b.text.count(QStringLiteral("Encrypt")), keys.count(QStringLiteral("Encrypt")));
    }

    void strings() {
        QFETCH(QString, driver);
        QFETCH(QString, server);
        QFETCH(QString, password);
        QFETCH(QString, expected);
        const Built b = build(spec(server, password), driver);
        QVERIFY(!b.error.isError());
        QCOMPARE(b.text, expected);
    }

    // FreeTDS 1.3 would end the braced value at the brace and read the rest as keywords.
    void closingBraceRefusedForFreeTds() {
        for (const QString& pw :
             {QStringLiteral("a}b"), QStringLiteral("}"), QStringLiteral("x};SERVER={evil")}) {
            const Built b = build(spec("db01", pw), "FreeTDS");
            QCOMPARE(b.error.kind, SqlError::Kind::Refused);
            QVERIFY(b.text.isEmpty());
            QVERIFY(b.error.message.contains(QStringLiteral("口令")));
            if (pw.size() > 1)
                QVERIFY2(!b.error.message.contains(pw), "the password must not be echoed");
        }
        QCOMPARE(build(spec("db}01", "pw"), "FreeTDS").error.kind, SqlError::Kind::Refused);
    }
};

ACCTSET_TEST_CLASS(ConnectionStringTest)
#include "connection_string_test.moc"
