// acctset-sandbox: the stand-in server on its own, for the demo and for trying the tool by hand.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include <sys/stat.h>

#include "sandbox/Sandbox.h"

namespace {

int usage() {
    std::fprintf(
        stderr,
        "usage: acctset-sandbox [--port N] [--password PW] [--seed demo|empty|FILE] [--db PATH]\n"
        "                       [--backup-dir DIR] [--backup-speed PAGES_PER_SEC] [faults and states...]\n"
        "  --port      TCP port on 127.0.0.1 (default 14333; 0 picks a free one)\n"
        "  --password  the sa password (default \"sandbox\")\n"
        "  --seed      the installation to hold: demo, empty, or a file of SQLite SQL run\n"
        "              on the empty catalogue (as sandbox/seeds/demo.sql is); default demo\n"
        "  --db        keep the data in this SQLite file instead of in memory; an existing\n"
        "              file keeps its data unless --seed is given\n"
        "  --backup-dir    the server's default backup directory (BackupDirectory,\n"
        "                  InstanceDefaultBackupPath; where BACKUP TO DISK = N'name.bak' goes);\n"
        "                  default: backup/ beside the --db file, or acctset-sandbox-backup/ in\n"
        "                  the temporary directory\n"
        "  --backup-speed  8 KB pages a second that BACKUP and RESTORE process (default 0: no\n"
        "                  pause), so that percent_complete and a cancel can be watched\n"
        "faults and states:\n"
        "  --log FILE                 append every batch received to FILE, each followed by \"go\"\n"
        "  --delay MS                 wait MS milliseconds before every reply\n"
        "  --drop-after N             each connection answers N batches, then closes at the next\n"
        "  --never-answer             read requests but never answer them\n"
        "  --hold-lock TABLE[:SECS]   a session of the server's own opens a transaction holding\n"
        "                             TABLE exclusively, for SECS seconds or until killed (KILL);\n"
        "                             it lists as host SANDBOX-HOLDER, program\n"
        "                             \"acctset-sandbox lock holder\" (may be repeated)\n"
        "  --use-database DB          another program's session whose current database is DB\n"
        "                             (host SANDBOX-USER; may be repeated)\n");
    return 2;
}

// What the command line asks of the running server beside its installation.
struct Faults {
    std::string logPath;
    long delayMs = 0;
    long dropAfter = -1;
    bool neverAnswer = false;
    std::vector<std::pair<std::string, long>> holds;  // table, seconds (-1: until killed)
    std::vector<std::string> usedDatabases;
};

bool number(const std::string& text, long low, long& out) {
    char* end = nullptr;
    out = std::strtol(text.c_str(), &end, 10);
    return !text.empty() && !*end && out >= low;
}

// One fault option and its value; false when it is not one, or its value is wrong.
bool faultOption(const std::string& arg, const std::string& value, Faults& faults) {
    if (arg == "--log") {
        faults.logPath = value;
        return true;
    }
    if (arg == "--delay")
        return number(value, 0, faults.delayMs);
    if (arg == "--drop-after")
        return number(value, 0, faults.dropAfter);
    if (arg == "--use-database") {
        faults.usedDatabases.push_back(value);
        return true;
    }
    if (arg == "--hold-lock") {
        const size_t colon = value.find(':');
        long seconds = -1;
        if (colon != std::string::npos && !number(value.substr(colon + 1), 0, seconds))
            return false;
        faults.holds.emplace_back(value.substr(0, colon), seconds);
        return !faults.holds.back().first.empty();
    }
    return false;
}

bool backupSpeed(const std::string& value, sandbox::Options& options) {
    char* end = nullptr;
    double speed = std::strtod(value.c_str(), &end);
    if (value.empty() || *end || !(speed >= 0))
        return false;
    options.backupPagesPerSecond = speed;
    return true;
}

bool serverOption(const std::string& arg, const std::string& value, sandbox::Options& options,
                  std::string& seed) {
    long port = 0;
    if (arg == "--port" && number(value, 0, port) && port <= 65535)
        options.port = static_cast<uint16_t>(port);
    else if (arg == "--password")
        options.password = value;
    else if (arg == "--seed")
        seed = value;
    else if (arg == "--db")
        options.sqlitePath = value;
    else if (arg == "--backup-dir")
        options.backupDir = value;
    else if (arg == "--backup-speed")
        return backupSpeed(value, options);
    else
        return false;
    return true;
}

// Reads the options into options, seed and faults; -1 when they are good, else the exit status.
int parseArguments(int argc, char** argv, sandbox::Options& options, std::string& seed, Faults& faults) {
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--help" || arg == "-h")
            return usage(), 0;
        if (arg == "--never-answer") {
            faults.neverAnswer = true;
            continue;
        }
        if (i + 1 >= argc)
            return usage();
        std::string value = argv[++i];
        if (!serverOption(arg, value, options, seed) && !faultOption(arg, value, faults))
            return usage();
    }
    if (seed.empty()) {
        struct stat st {};
        const bool existing = options.sqlitePath != ":memory:" &&
                              ::stat(options.sqlitePath.c_str(), &st) == 0 && st.st_size > 0;
        if (!existing)
            seed = "demo";
    }
    return -1;
}

// After seeding: a lock holder needs its table.
bool applyFaults(sandbox::Server& server, const Faults& faults) {
    sandbox::Engine& engine = server.engine();
    if (!faults.logPath.empty() && !engine.setStatementLogFile(faults.logPath)) {
        std::fprintf(stderr, "acctset-sandbox: cannot write %s\n", faults.logPath.c_str());
        return false;
    }
    server.setRoundTripDelay(std::chrono::milliseconds(faults.delayMs));
    server.dropConnectionAfter(static_cast<int>(faults.dropAfter));
    server.setNeverAnswer(faults.neverAnswer);
    for (const auto& [table, seconds] : faults.holds) {
        const auto hold = std::chrono::milliseconds(seconds < 0 ? -1 : seconds * 1000);
        if (int spid = engine.holdLock(table, hold); spid != 0) {
            std::printf("spid %d holds %s\n", spid, table.c_str());
        } else {
            std::fprintf(stderr, "acctset-sandbox: no table %s to hold (or it is held)\n", table.c_str());
            return false;
        }
    }
    for (const auto& db : faults.usedDatabases)
        engine.addForeignSession({.spid = 0,
                                  .database = db,
                                  .login = "sa",
                                  .host = "SANDBOX-USER",
                                  .program = "acctset-sandbox --use-database"});
    return true;
}

bool loadSeed(sandbox::Engine& engine, const std::string& seed) {
    if (seed == "demo") {
        engine.seedDemo();
    } else if (seed == "empty") {
        engine.seedEmpty();
    } else if (!seed.empty()) {
        engine.seedEmpty();
        std::string error;
        if (!engine.seedFile(seed, &error)) {
            std::fprintf(stderr, "acctset-sandbox: cannot load %s: %s\n", seed.c_str(), error.c_str());
            return false;
        }
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    sandbox::Options options;
    options.port = 14333;
    std::string seed;
    Faults faults;
    if (int status = parseArguments(argc, argv, options, seed, faults); status >= 0)
        return status;

    // Block the stop signals before any thread starts, so that only sigwait below receives them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    sandbox::Server server(options);
    if (const std::string why = server.engine().storeError(); !why.empty()) {
        std::fprintf(stderr, "acctset-sandbox: cannot open %s: %s\n", options.sqlitePath.c_str(),
                     why.c_str());
        return 1;
    }
    if (!loadSeed(server.engine(), seed) || !applyFaults(server, faults))
        return 1;
    std::string error;
    if (!server.start(&error)) {
        std::fprintf(stderr, "acctset-sandbox: cannot listen on 127.0.0.1,%u: %s\n", unsigned(options.port),
                     error.c_str());
        return 1;
    }
    std::printf("服务器名称: %s   sa 口令: %s\n", server.serverName().c_str(), options.password.c_str());
    std::fflush(stdout);

    int sig = 0;
    sigwait(&stopSignals, &sig);
    server.stop();
    return 0;
}
