// One full deletion (the number check, two confirmations, every year's database, the undo script, the
// purge and the verification) of an account set with 1, 10 and 50 years, against the sandbox through
// the real driver, at 0 and 20 ms per round trip, beside the plain sequence run the same way; and 10
// years with the backups ticked. Prints round trips and wall time.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QStringList>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>

#include "catalogue/YearList.h"
#include "deletion/Deletion.h"
#include "sandbox/Sandbox.h"
#include "sql/OdbcClient.h"

namespace {

// Answers every box with OK; ticks the backups or not.
class BenchHost final : public deletion::DeletionHost {
public:
    BenchHost(SqlClient& c, sandbox::Server& s, bool backups) : c_(c), s_(s), backups_(backups) {}

    SqlClient& client() override { return c_; }
    void notice(const QString& text, const QString&) override { lastNotice = text; }
    bool confirm(const QString&, const QString&) override {
        if (confirmations++ == 0) {
            tripsAtFirstConfirm = s_.roundTrips();
            msAtFirstConfirm = clock.elapsed();
        }
        return true;
    }
    bool confirmWithCheck(const QString& text, const QString& details, const QString&,
                          bool* checked) override {
        *checked = backups_;
        return confirm(text, details);
    }
    void showWait() override {}
    void closeWait() override {}
    void yield() override { QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents); }

    QString lastNotice;
    int confirmations = 0;
    uint64_t tripsAtFirstConfirm = 0;
    qint64 msAtFirstConfirm = 0;
    QElapsedTimer clock;

private:
    SqlClient& c_;
    sandbox::Server& s_;
    bool backups_;
};

// The plain sequence, without any of our checks: the number check and the look-up, one existence
// query per year, one drop per year, the ten deletes one by one and the one-table verification.
void runPlain(SqlClient& c, const QStringList& years) {
    c.query(QStringLiteral("select * from ua_account where cacc_id='001'"));
    c.query(QStringLiteral("select * from ua_account where cAcc_id='001'"));
    for (const QString& y : years)
        c.query(QStringLiteral("select * from master.dbo.sysdatabases where name='tqdata_001_") + y + "'");
    for (const QString& y : years)
        c.command(QStringLiteral("drop database tqdata_001_") + y);
    for (const char* head :
         {"Delete from EAILog where Ea_Account like 'tqdata_001%",
          "DELETE FROM UA_Period WHERE cacc_id = '001", "DELETE FROM UA_holdauth WHERE cacc_id = '001",
          "DELETE FROM UA_log WHERE cacc_id = '001", "Delete from Ua_Identity where cacc_id='001",
          "Delete from Ua_auth where cacc_id='001", "Delete from UA_BackupPlans where cacc_id='001",
          "Delete from UA_BackupLog where cacc_id='001", "DELETE FROM UA_account_sub WHERE cacc_id = '001",
          "DELETE FROM UA_account WHERE cacc_id = '001"})
        c.command(QString::fromLatin1(head) + QLatin1Char('\''));
    c.query(QStringLiteral("select * from ua_account where cacc_id='001'"));
}

void seed(sandbox::Engine& e, int years) {
    e.seedEmpty();
    std::string sql = "INSERT INTO ua_account (cacc_id, cacc_name) VALUES ('001', 'bench');";
    for (int i = 0; i < years; ++i) {
        const std::string y = std::to_string(1990 + i);
        sql += "INSERT INTO ua_period (cacc_id, iyear, iperiod) VALUES ('001', " + y + ", 1);";
        sql += "INSERT INTO UA_log (cacc_id, cuser_id) VALUES ('001', 'bench');";
        e.addDatabase("tqdata_001_" + y);
    }
    std::string error;
    if (!e.execRaw(sql, &error))
        std::fprintf(stderr, "seed: %s\n", error.c_str());
}

struct Measured {
    uint64_t trips = 0;
    qint64 ms = 0;
};

// One sandbox, seeded, connected, with the delay set; fn runs the deletion and says how it went.
template <typename Fn>
Measured measure(int years, int delay, Fn fn) {
    sandbox::Server server;
    std::string error;
    if (!server.start(&error)) {
        std::fprintf(stderr, "sandbox: %s\n", error.c_str());
        std::exit(1);
    }
    seed(server.engine(), years);
    QTemporaryDir backupDir;
    server.engine().setBackupDirectory(backupDir.path().toStdString());
    ConnectionSpec spec;
    spec.server = QString::fromStdString(server.serverName());
    spec.password = QStringLiteral("sandbox");
    auto client = makeOdbcClient();
    if (client->open(spec).isError()) {
        std::fprintf(stderr, "connect failed\n");
        std::exit(1);
    }
    server.setRoundTripDelay(std::chrono::milliseconds(delay));
    QStringList list;
    for (int i = 0; i < years; ++i)
        list << QString::number(1990 + i);
    QElapsedTimer clock;
    clock.start();
    const uint64_t start = server.roundTrips();
    fn(*client, server, list);
    return {server.roundTrips() - start, clock.elapsed()};
}

}  // namespace

struct Row {
    int years;
    int delay;
    bool backups;
};

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QTemporaryDir undoDir;
    qputenv("ACCTSET_UNDO_DIR", undoDir.path().toUtf8());
    if (argc > 1 && qstrcmp(argv[1], "--log") == 0) {
        // The statements of one deletion of two years, backups ticked, one round trip a line.
        measure(2, 0, [](SqlClient& c, sandbox::Server& s, const QStringList& l) {
            BenchHost host(c, s, true);
            s.engine().clearStatementLog();
            deletion::run({QStringLiteral("001"), true, YearList::fromText(l.join(QLatin1Char(';')))}, host);
            for (const std::string& line : s.engine().statementLog())
                std::printf("%s\n", line.c_str());
        });
        return 0;
    }
    std::printf("%5s %6s %7s %6s %6s %8s %8s %9s %10s %9s  %s\n", "years", "delay", "backups", "trips",
                "before", "deletion", "plain", "time(ms)", "before(ms)", "plain(ms)", "outcome");
    const Row rows[] = {{1, 0, false}, {1, 20, false}, {10, 0, false}, {10, 20, false},
                        {10, 0, true}, {10, 20, true}, {50, 0, false}, {50, 20, false}};
    for (const Row& row : rows) {
        uint64_t before = 0;
        qint64 beforeMs = 0;
        QString outcome;
        const Measured ours =
            measure(row.years, row.delay, [&](SqlClient& c, sandbox::Server& s, const QStringList& l) {
                BenchHost host(c, s, row.backups);
                const uint64_t start = s.roundTrips();
                host.clock.start();
                // The number check that the window runs before the deletion.
                c.query(QStringLiteral("select * from ua_account where cacc_id='001'"));
                const deletion::Request request{QStringLiteral("001"), true,
                                                YearList::fromText(l.join(QLatin1Char(';')))};
                const bool ok = deletion::run(request, host) == deletion::Outcome::Succeeded;
                before = host.tripsAtFirstConfirm - start;
                beforeMs = host.msAtFirstConfirm;
                outcome = ok ? QStringLiteral("succeeded") : host.lastNotice;
            });
        const Measured plain =
            measure(row.years, row.delay,
                    [](SqlClient& c, sandbox::Server&, const QStringList& l) { runPlain(c, l); });
        std::printf("%5d %4dms %7s %6llu %6llu %8llu %8llu %9lld %10lld %9lld  %s\n", row.years, row.delay,
                    row.backups ? "yes" : "no", static_cast<unsigned long long>(ours.trips),
                    static_cast<unsigned long long>(before),
                    static_cast<unsigned long long>(ours.trips - before),
                    static_cast<unsigned long long>(plain.trips), static_cast<long long>(ours.ms),
                    static_cast<long long>(beforeMs), static_cast<long long>(plain.ms), qPrintable(outcome));
    }
    return 0;
}
