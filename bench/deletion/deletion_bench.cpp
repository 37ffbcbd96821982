// One full deletion (two confirmations, every year's database, the purge, the verification and the
// reconnect) of an account set with 1, 10 and 50 years, against the sandbox through the real driver,
// at 0 and 20 ms per round trip. Prints round trips and wall time per stage.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QStringList>

#include <cstdio>

#include "deletion/Deletion.h"
#include "catalogue/OdbcClient.h"
#include "sandbox/Sandbox.h"

namespace {

// Answers every box with OK and does what the window does around the run.
class BenchHost final : public deletion::DeletionHost {
public:
    BenchHost(SqlClient& c, ConnectionSpec spec, QString years, sandbox::Server& s)
        : c_(c), spec_(std::move(spec)), years_(std::move(years)), s_(s) {}

    SqlClient& client() override { return c_; }
    void checkAccountNumber() override {
        c_.query(QStringLiteral("select * from ua_account where cacc_id='001'"));
    }
    QString accountNumberText() override { return QStringLiteral("001"); }
    bool deleteDatabasesTicked() override { return true; }
    QString yearText() override { return years_; }
    void notice(const QString& text, const QString&) override { lastNotice = text; }
    bool confirm(const QString&, const QString&) override {
        if (confirmations++ == 0) {
            tripsAtFirstConfirm = s_.roundTrips();
            msAtFirstConfirm = clock.elapsed();
        }
        return true;
    }
    void showWait() override {}
    void closeWait() override {}
    void yield() override { QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents); }
    void reset() override {
        tripsBeforeReset = s_.roundTrips();
        msBeforeReset = clock.elapsed();
        c_.close();
        c_.open(spec_);
        c_.query(QStringLiteral("select cacc_id,cacc_name from ua_account"));
    }

    QString lastNotice;
    int confirmations = 0;
    uint64_t tripsAtFirstConfirm = 0;
    uint64_t tripsBeforeReset = 0;
    qint64 msAtFirstConfirm = 0;
    qint64 msBeforeReset = 0;
    QElapsedTimer clock;

private:
    SqlClient& c_;
    ConnectionSpec spec_;
    QString years_;
    sandbox::Server& s_;
};

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

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    std::printf("%5s %6s %6s %6s %8s %6s %8s %9s %9s %9s  %s\n", "years", "delay", "trips", "before",
                "deletion", "reset", "classic", "time(ms)", "before", "deletion", "outcome");
    for (int years : {1, 10, 50}) {
        for (int delay : {0, 20}) {
            sandbox::Server server;
            std::string error;
            if (!server.start(&error)) {
                std::fprintf(stderr, "sandbox: %s\n", error.c_str());
                return 1;
            }
            seed(server.engine(), years);
            ConnectionSpec spec;
            spec.server = QString::fromStdString(server.serverName());
            spec.password = QStringLiteral("sandbox");
            auto client = makeOdbcClient();
            if (client->open(spec).isError()) {
                std::fprintf(stderr, "connect failed\n");
                return 1;
            }
            server.setRoundTripDelay(std::chrono::milliseconds(delay));
            QStringList list;
            for (int i = 0; i < years; ++i)
                list << QString::number(1990 + i);
            BenchHost host(*client, spec, list.join(QLatin1Char(';')), server);

            const uint64_t start = server.roundTrips();
            host.clock.start();
            const deletion::Outcome outcome = deletion::run(host);
            const qint64 ms = host.clock.elapsed();
            const uint64_t total = server.roundTrips() - start;
            // The classic sequence: the check and the look-up, one existence query and one drop per
            // year, ten deletes and the verification (the reconnect is the same in both).
            const int classic = 2 + 2 * years + 10 + 1;
            std::printf("%5d %4dms %6llu %6llu %8llu %6llu %8d %9lld %9lld %9lld  %s\n", years, delay,
                        static_cast<unsigned long long>(total),
                        static_cast<unsigned long long>(host.tripsAtFirstConfirm - start),
                        static_cast<unsigned long long>(host.tripsBeforeReset - host.tripsAtFirstConfirm),
                        static_cast<unsigned long long>(server.roundTrips() - host.tripsBeforeReset), classic,
                        static_cast<long long>(ms), static_cast<long long>(host.msAtFirstConfirm),
                        static_cast<long long>(host.msBeforeReset - host.msAtFirstConfirm),
                        outcome == deletion::Outcome::Succeeded ? "succeeded" : qPrintable(host.lastNotice));
        }
    }
    return 0;
}
