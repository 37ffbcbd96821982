// Why a connection failed, read from the driver's numbers and words: the words are the drivers'
// own, as measured (FreeTDS) or as their documentation and users report them (Microsoft's).
#include <QTest>

#include "sql/ConnectFailure.h"
#include "support/TestMain.h"

using Cause = SqlError::Cause;

class ConnectFailureTest : public QObject {
    Q_OBJECT

private slots:
    void classify_data() {
        QTest::addColumn<QString>("codes");
        QTest::addColumn<QString>("words");
        QTest::addColumn<bool>("namedInstance");
        QTest::addColumn<int>("waitedMs");
        QTest::addColumn<Cause>("cause");
        QTest::newRow("FreeTDS: handshake broken off")
            << "20002"
            << "Adaptive Server connection failed" << false << 5 << Cause::Encryption;
        QTest::newRow("FreeTDS: dropped right after a TLS 1.3 handshake")
            << "20017;20002"
            << "Unexpected EOF from the server\nAdaptive Server connection failed" << false << 5
            << Cause::Encryption;
        QTest::newRow("FreeTDS: wrong password")
            << "18456;20002"
            << "Login failed for user 'sa'.\nAdaptive Server connection failed" << false << 5
            << Cause::Unknown;
        QTest::newRow("FreeTDS: closed port")
            << "20009"
            << "Unable to connect: Adaptive Server is unavailable or does not exist" << false << 3
            << Cause::Unknown;
        QTest::newRow("FreeTDS: login timeout")
            << "0"
            << "Timeout expired\nUnable to connect to data source" << false << 15000 << Cause::Unknown;
        QTest::newRow("FreeTDS: no Browser answered")
            << "20009"
            << "Unable to connect: Adaptive Server is unavailable or does not exist" << true << 16000
            << Cause::InstanceNotFound;
        QTest::newRow("FreeTDS: the Browser named a closed port")
            << "20009"
            << "Unable to connect: Adaptive Server is unavailable or does not exist" << true << 4
            << Cause::Unknown;
        QTest::newRow("Microsoft: no Browser answered")
            << "-1"
            << "SQL Server Network Interfaces: Error Locating Server/Instance Specified [xFFFFFFFF]. " << true
            << 15000 << Cause::InstanceNotFound;
        QTest::newRow("Microsoft: server speaks only TLS 1.0")
            << "10054"
            << "SSL Provider: [error:0A000102:SSL routines::unsupported protocol]\nClient unable to "
               "establish "
               "connection"
            << false << 20 << Cause::OldTls;
        QTest::newRow("Microsoft: handshake failed")
            << "-1"
            << "Client unable to establish connection because an error was encountered during "
               "handshakes before login."
            << false << 20 << Cause::Encryption;
    }
    void classify() {
        QFETCH(QString, codes);
        QFETCH(QString, words);
        QFETCH(bool, namedInstance);
        QFETCH(int, waitedMs);
        QFETCH(Cause, cause);
        QCOMPARE(ConnectFailure::classify(codes, words, namedInstance, waitedMs), cause);
    }
};

ACCTSET_TEST_CLASS(ConnectFailureTest)
#include "connect_failure_test.moc"
