// The Windows program's data layer against the sandbox, through wine's ODBC (which hands every call to
// the host's driver manager): the driver it picks, the account list, and a catalogue-only deletion whose
// undo script lands in the Documents folder Windows gives. tools/windows/smoke-test.sh starts the sandbox
// and names it in ACCTSET_E2E_SERVER and ACCTSET_E2E_PASSWORD; without them every case is skipped.
#include <cstdio>

#ifdef _WIN32
#include <windows.h>
#endif

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTest>

#include "catalogue/AccountCatalogue.h"
#include "deletion/Deletion.h"
#include "deletion/UndoCapture.h"
#include "sql/ConnectionString.h"
#include "sql/OdbcClient.h"

using namespace AccountCatalogue;

namespace {

ConnectionSpec sandbox() {
    ConnectionSpec s;
    s.server = qEnvironmentVariable("ACCTSET_E2E_SERVER");
    s.password = qEnvironmentVariable("ACCTSET_E2E_PASSWORD");
    return s;
}

// The operator who answers OK to every question and reads every notice.
class Operator final : public deletion::DeletionHost {
public:
    explicit Operator(SqlClient& c) : client_(c) {}
    SqlClient& client() override { return client_; }
    void notice(const QString& text, const QString&) override { notices << text; }
    bool confirm(const QString& text, const QString&) override {
        questions << text;
        return true;
    }
    QString serverName() override { return sandbox().server; }
    void showWait() override {}
    void closeWait() override {}
    void yield() override {}
    QStringList notices;
    QStringList questions;

private:
    SqlClient& client_;
};

}  // namespace

class WineOdbcE2eTest : public QObject {
    Q_OBJECT

    std::unique_ptr<SqlClient> client;

private slots:
    void initTestCase() {
        if (sandbox().server.isEmpty())
            QSKIP("ACCTSET_E2E_SERVER names no sandbox");
        client = makeOdbcClient();
        const QString driver = ConnectionString::chooseDriver(installedOdbcDrivers());
        qInfo("ODBC drivers: %s; chosen: %s", qPrintable(installedOdbcDrivers().join(", ")),
              qPrintable(driver));
        QVERIFY(!driver.isEmpty());
        const SqlError e = client->open(sandbox());
        QVERIFY2(!e.isError(), qPrintable(e.message));
    }

    void cleanupTestCase() {
        if (client)
            client->close();
        client.reset();
    }

    void listsTheAccountSets() {
        const auto items = readAccountItems(*client);
        QVERIFY2(!items.error.isError(), qPrintable(items.error.message));
        QStringList numbers;
        for (const QString& item : items.value)
            numbers << numberOfItem(item);
        numbers.sort();
        QCOMPARE(numbers, (QStringList{"001", "0010", "002", "003"}));
        // Chinese names survive wine's hand-over between the wide ODBC calls and the host's driver.
        QVERIFY2(items.value.join(' ').contains(QStringLiteral("演示公司")),
                 qPrintable(items.value.join(' ')));
    }

    void catalogueOnlyDeletionLeavesItsUndoScriptInDocuments() {
        const QString folder = deletion::undoFolder();
        QCOMPARE(folder, QDir(QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation))
                             .filePath("acctset-remover"));
        QDir(folder).removeRecursively();

        Operator op(*client);
        const deletion::Outcome outcome = deletion::run({"002", false, {}}, op);
        QVERIFY2(outcome == deletion::Outcome::Succeeded, qPrintable(op.notices.join('\n')));
        const auto left = countAccounts(*client, "002");
        QVERIFY(!left.error.isError());
        QCOMPARE(left.value, 0);
        const auto others = countAccounts(*client, "001");
        QCOMPARE(others.value, 1);

        const QStringList scripts = QDir(folder).entryList({"*.sql"}, QDir::Files);
        QCOMPARE(scripts.size(), 1);
        // "127.0.0.1,port" as a file name Windows accepts.
        QVERIFY2(scripts[0].startsWith(sandbox().server + "_002_"), qPrintable(scripts[0]));
        QFile f(QDir(folder).filePath(scripts[0]));
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QString text = QString::fromUtf8(f.readAll());
        QVERIFY(text.contains(QStringLiteral("演示公司")));
        qInfo("undo script: %s", qPrintable(QDir::toNativeSeparators(f.fileName())));
    }
};

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    WineOdbcE2eTest test;
    const int failures = QTest::qExec(&test, argc, argv);
    std::fflush(nullptr);
#ifdef _WIN32
    // Wine's odbc32, unloaded at exit after a connection, waits for ever in the host's driver manager
    // (its detach is the last thing traced). Nothing is left to clean up: the connection is closed.
    TerminateProcess(GetCurrentProcess(), UINT(failures));
#endif
    return failures;
}
#include "wine_odbc_e2e_test.moc"
