// Connect and list through the real window and driver against the sandbox: 10, 1,000 and 40,000
// account sets at 0 and 20 ms per round trip, beside tsql fetching the same rows from the same
// sandbox; time, ratio, round trips and peak memory per case, each case in a process of its own so
// the peak is that case's. Also the two failure timings: a closed port,
// and a server that accepts but never answers (with the paints the window got while waiting).
#include <sys/resource.h>

#include <QApplication>
#include <QCursor>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>

#include "app/DropDownList.h"
#include "app/FrmMain.h"
#include "app/MessageBox.h"
#include "sandbox/Sandbox.h"

namespace {

long peakKiB() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss;
}

void seed(sandbox::Engine& e, int count) {
    e.seedEmpty();
    const std::string sql =
        "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < " + std::to_string(count) +
        ") INSERT INTO ua_account (cacc_id, cacc_name) "
        "SELECT printf('%05d', i), CASE WHEN i % 7 = 0 THEN NULL ELSE '帐套' || i END FROM n;";
    std::string error;
    if (!e.execRaw(sql, &error))
        std::fprintf(stderr, "seed: %s\n", error.c_str());
}

// Counts the window's paints while a connect waits.
struct PaintCounter : QObject {
    int paints = 0;
    bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == QEvent::Paint)
            ++paints;
        return false;
    }
};

// One measured client: the wall time of one connect and fetch of the account list, and the rows it
// got. Each client has a function of its own, so that another one (or another setting of one) is
// one more function and one more column.
struct Timing {
    qint64 ms = -1;
    qsizetype rows = -1;
};

const QString kListStatement = QStringLiteral("select cacc_id,cacc_name from ua_account");

// The tool: a press of the connect button of the real window (QODBC, unixODBC, FreeTDS).
Timing toolConnectList(FrmMain& w) {
    QElapsedTimer t;
    t.start();
    w.CmdLink_Click();
    return {t.elapsed(), w.ComAccList->count()};
}

// FreeTDS's own command-line client, started afresh, with the settings the tool gives the driver.
// encryption: require, as the tool asks; request against a server without TLS, as the tool
// connects there once the operator agreed.
Timing tsqlConnectList(const sandbox::Server& server, const QTemporaryDir& dir, const char* encryption) {
    const QString conf = dir.filePath(QStringLiteral("freetds.conf"));
    if (!QFile::exists(conf)) {
        QFile f(conf);
        if (!f.open(QIODevice::WriteOnly))
            return {};
        f.write(QStringLiteral("[sandbox]\n\thost = 127.0.0.1\n\tport = %1\n\ttds version = 7.4\n"
                               "\tclient charset = UTF-8\n\tencryption = %2\n")
                    .arg(server.port())
                    .arg(QLatin1String(encryption))
                    .toUtf8());
    }
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("FREETDSCONF"), conf);
    p.setProcessEnvironment(env);
    QElapsedTimer t;
    t.start();
    p.start(QStringLiteral("tsql"),
            {QStringLiteral("-S"), QStringLiteral("sandbox"), QStringLiteral("-U"), QStringLiteral("sa"),
             QStringLiteral("-P"), QStringLiteral("sandbox"), QStringLiteral("-D"),
             QStringLiteral("TQSystem"), QStringLiteral("-o"), QStringLiteral("q")});
    if (!p.waitForStarted()) {
        std::fprintf(stderr, "tsql did not start (package freetds-bin)\n");
        return {};
    }
    p.write((kListStatement + QStringLiteral("\ngo\n")).toUtf8());
    p.closeWriteChannel();
    if (!p.waitForFinished(-1) || p.exitCode() != 0)
        return {};
    const qint64 ms = t.elapsed();
    // A heading line, then one line per row.
    return {ms, p.readAllStandardOutput().count('\n') - 1};
}

qint64 median(QList<qint64> v) {
    std::sort(v.begin(), v.end());
    return v.isEmpty() ? -1 : v[v.size() / 2];
}

constexpr int kRuns = 5;

// The server's encryption modes compared side by side: what TLS costs the connect and the list.
const std::pair<const char*, sandbox::Encryption> kModes[] = {{"none", sandbox::Encryption::None},
                                                              {"login", sandbox::Encryption::Login},
                                                              {"required", sandbox::Encryption::Required}};

sandbox::Options optionsFor(const QString& mode) {
    sandbox::Options options;
    for (const auto& [name, encryption] : kModes) {
        if (mode == QLatin1String(name))
            options.encryption = encryption;
    }
    return options;
}

int runCase(int count, int delayMs, const QString& mode) {
    const bool clear = mode == QLatin1String("none");
    sandbox::Server server(optionsFor(mode));
    std::string error;
    if (!server.start(&error)) {
        std::fprintf(stderr, "sandbox: %s\n", error.c_str());
        return 1;
    }
    seed(server.engine(), count);
    server.setRoundTripDelay(std::chrono::milliseconds(delayMs));
    const long before = peakKiB();

    FrmMain w;
    w.show();
    w.txtSqlSrvName->setText(QString::fromStdString(server.serverName()));
    w.txtSaPwd->setText(QStringLiteral("sandbox"));
    const QTemporaryDir dir;
    QList<qint64> tool, tsql;
    uint64_t trips = 0;
    bool allRows = true;
    // Alternating, so that both see the same load of the machine.
    for (int run = 0; run < kRuns; ++run) {
        const uint64_t trips0 = server.roundTrips();
        // A server without TLS: the operator's 确定 to the question (the answer is queued, so the
        // figure is the two connects and the PRELOGIN question between them).
        if (clear)
            MessageBox::queueAnswers({MessageBox::Ok});
        const Timing ours = toolConnectList(w);
        if (run == 0)
            trips = server.roundTrips() - trips0;
        const Timing theirs = tsqlConnectList(server, dir, clear ? "request" : "require");
        tool << ours.ms;
        tsql << theirs.ms;
        allRows = allRows && ours.rows == count && theirs.rows == count;
    }
    // The list query alone, on the open connection: the driver's share of the time.
    QElapsedTimer t;
    t.start();
    const SqlResult again = w.Cnn().query(kListStatement);
    const qint64 queryMs = again.rowCount() == count ? t.elapsed() : -1;
    const double ratio = double(median(tool)) / double(qMax<qint64>(1, median(tsql)));
    std::printf("%8d %6d ms %9lld ms %7lld ms %6.2fx %6llu %10ld KiB %10ld KiB %9lld ms %10s %s\n", count,
                delayMs, static_cast<long long>(median(tool)), static_cast<long long>(median(tsql)), ratio,
                static_cast<unsigned long long>(trips), before, peakKiB(), static_cast<long long>(queryMs),
                qPrintable(mode), allRows ? "" : "ROWS MISSING");
    return allRows ? 0 : 1;
}

int runFailure(bool neverAnswer) {
    sandbox::Server server;
    std::string error;
    if (!server.start(&error))
        return 1;
    const QString name = QString::fromStdString(server.serverName());
    if (neverAnswer)
        server.setNeverAnswer(true);
    else
        server.stop();

    FrmMain w;
    w.show();
    PaintCounter counter;
    w.installEventFilter(&counter);
    QTimer repaint;
    bool busyCursor = false;
    QObject::connect(&repaint, &QTimer::timeout, &w, [&w, &busyCursor] {
        w.update();
        const QCursor* c = QGuiApplication::overrideCursor();
        busyCursor = busyCursor || (c && c->shape() == Qt::WaitCursor);
    });
    repaint.start(100);
    w.txtSqlSrvName->setText(name);
    w.txtSaPwd->setText(QStringLiteral("sandbox"));
    QElapsedTimer t;
    t.start();
    w.CmdLink_Click();
    const qint64 ms = t.elapsed();
    const auto shown = MessageBox::takeShown();
    std::printf("%-13s %6lld ms, %d paints while waiting, busy cursor %s; message: %s | details: %s\n",
                neverAnswer ? "never answers" : "closed port", static_cast<long long>(ms), counter.paints,
                busyCursor ? "seen" : "not seen", shown.isEmpty() ? "(none)" : qPrintable(shown.first().text),
                shown.isEmpty() ? "" : qPrintable(QString(shown.first().details).replace('\n', " / ")));
    return shown.isEmpty() ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    MessageBox::setTestMode(true);
    const QStringList args = app.arguments();
    if (args.size() == 5 && args[1] == QLatin1String("--case"))
        return runCase(args[2].toInt(), args[3].toInt(), args[4]);
    if (args.size() == 2 && args[1] == QLatin1String("--closed-port"))
        return runFailure(false);
    if (args.size() == 2 && args[1] == QLatin1String("--never-answers"))
        return runFailure(true);

    std::printf("%8s %9s %12s %10s %7s %6s %14s %14s %12s %10s\n", "accounts", "delay", "connect+list",
                "tsql", "ratio", "trips", "peak before", "peak after", "query again", "encryption");
    std::fflush(stdout);
    int status = 0;
    for (const int delay : {0, 20}) {
        for (const int count : {10, 1000, 40000}) {
            QProcess p;
            p.setProcessChannelMode(QProcess::ForwardedChannels);
            p.start(app.applicationFilePath(),
                    {QStringLiteral("--case"), QString::number(count), QString::number(delay), "login"});
            p.waitForFinished(-1);
            status |= p.exitCode();
        }
    }
    for (const int count : {10, 40000}) {
        for (const auto& [mode, encryption] : kModes) {
            QProcess p;
            p.setProcessChannelMode(QProcess::ForwardedChannels);
            p.start(app.applicationFilePath(), {QStringLiteral("--case"), QString::number(count), "0", mode});
            p.waitForFinished(-1);
            status |= p.exitCode();
        }
    }
    for (const char* mode : {"--closed-port", "--never-answers"}) {
        QProcess p;
        p.setProcessChannelMode(QProcess::ForwardedChannels);
        p.start(app.applicationFilePath(), {QString::fromLatin1(mode)});
        p.waitForFinished(-1);
        status |= p.exitCode();
    }
    return status;
}
