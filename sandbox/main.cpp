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
        "                       [--encryption MODE] [--version 2008r2|2019] [--instance NAME]\n"
        "                       [--cert FILE --key FILE] [--backup-dir DIR] [--backup-speed N]\n"
        "                       [faults and states...]\n"
        "  --port        TCP port on 127.0.0.1 (default 14333; 0 picks a free one)\n"
        "  --password    the sa password (default \"sandbox\")\n"
        "  --seed        the installation to hold: demo, empty, or a file of SQLite SQL run\n"
        "                on the empty catalogue (as sandbox/seeds/demo.sql is); default demo\n"
        "  --db          keep the data in this SQLite file instead of in memory; an existing\n"
        "                file keeps its data unless --seed is given\n"
        "  --encryption  login     the login inside TLS, the rest clear, as an installed server (default)\n"
        "                required  everything inside TLS, as a server with Force Encryption\n"
        "                none      no TLS: the login travels in clear\n"
        "                tls10-only  as login, TLS 1.0 only (2008 R2 before its TLS 1.2 update)\n"
        "                tls13-only  TLS 1.3 only, which TDS 7.x cannot carry: every handshake fails\n"
        "  --version     the release played: 2019 (TDS 7.4, default) or 2008r2 (TDS 7.3B)\n"
        "  --instance    also answer SQL Server Browser requests (UDP 1434 on 127.0.0.1) for\n"
        "                this instance name, so that 127.0.0.1\\NAME finds the port\n"
        "  --cert/--key  the TLS certificate and key (PEM); default: a self-signed one made at start\n"
        "  --backup-dir    the server's default backup directory (BackupDirectory,\n"
        "                  InstanceDefaultBackupPath; where BACKUP TO DISK = N'name.bak' goes);\n"
        "                  default: backup/ beside the --db file, or acctset-sandbox-backup/ in\n"
        "                  the temporary directory. A relative name goes beneath it; a Windows\n"
        "                  form maps beneath it too: C:\\Backup\\x.bak to DIR/C/Backup/x.bak,\n"
        "                  \\\\host\\share\\x.bak to DIR/UNC/host/share/x.bak (the drive's or share's\n"
        "                  folder made on first use, folders beneath it as they exist; no \"..\")\n"
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
        "                             (host SANDBOX-USER; may be repeated)\n"
        "  --db-state NAME=STATE      a database's state (ONLINE, OFFLINE, RESTORING, RECOVERING,\n"
        "                             RECOVERY_PENDING, SUSPECT, EMERGENCY) or user access\n"
        "                             (MULTI_USER, SINGLE_USER, RESTRICTED_USER), e.g.\n"
        "                             --db-state tqdata_001_2003=OFFLINE (may be repeated)\n"
        "  --db-hazard NAME=HAZARD    what makes DROP DATABASE refuse it: snapshot (adds the\n"
        "                             snapshot snap_NAME), published, mirrored or ag (may be repeated)\n");
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
    std::vector<std::pair<std::string, std::string>> states, hazards;  // NAME=VALUE of databases
};

bool addSetting(std::vector<std::pair<std::string, std::string>>& to, const std::string& value) {
    const size_t eq = value.find('=');
    if (eq == std::string::npos || eq == 0 || eq + 1 == value.size())
        return false;
    to.emplace_back(value.substr(0, eq), value.substr(eq + 1));
    return true;
}

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
    if (arg == "--db-state" || arg == "--db-hazard")
        return addSetting(arg == "--db-state" ? faults.states : faults.hazards, value);
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

bool parseEncryption(const std::string& v, sandbox::Encryption* out) {
    static const std::pair<const char*, sandbox::Encryption> modes[] = {
        {"login", sandbox::Encryption::Login},
        {"required", sandbox::Encryption::Required},
        {"none", sandbox::Encryption::None},
        {"tls10-only", sandbox::Encryption::Tls10Only},
        {"tls13-only", sandbox::Encryption::Tls13Only}};
    for (const auto& [name, mode] : modes) {
        if (v == name) {
            *out = mode;
            return true;
        }
    }
    return false;
}

bool backupSpeed(const std::string& value, sandbox::Options& options) {
    char* end = nullptr;
    const double speed = std::strtod(value.c_str(), &end);
    if (value.empty() || *end || !(speed >= 0))
        return false;
    options.backupPagesPerSecond = speed;
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
        if (arg == "--port") {
            char* end = nullptr;
            long port = std::strtol(value.c_str(), &end, 10);
            if (*end || port < 0 || port > 65535)
                return usage();
            options.port = static_cast<uint16_t>(port);
        } else if (arg == "--password") {
            options.password = value;
        } else if (arg == "--seed") {
            seed = value;
        } else if (arg == "--db") {
            options.sqlitePath = value;
        } else if (arg == "--encryption") {
            if (!parseEncryption(value, &options.encryption))
                return usage();
        } else if (arg == "--version" && (value == "2019" || value == "2008r2")) {
            options.release =
                value == "2019" ? sandbox::Release::SqlServer2019 : sandbox::Release::SqlServer2008R2;
        } else if (arg == "--instance") {
            options.instance = value;
        } else if (arg == "--cert") {
            options.certFile = value;
        } else if (arg == "--key") {
            options.keyFile = value;
        } else if (arg == "--backup-dir") {
            options.backupDir = value;
        } else if (arg == "--backup-speed") {
            if (!backupSpeed(value, options))
                return usage();
        } else if (!faultOption(arg, value, faults)) {
            return usage();
        }
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

// Database states and hazards, after seeding: they name its databases.
bool applySettings(sandbox::Engine& engine, const Faults& faults) {
    for (const auto& [name, state] : faults.states) {
        if (!engine.setDatabaseState(name, state)) {
            std::fprintf(stderr, "acctset-sandbox: --db-state %s=%s: no such database or state\n",
                         name.c_str(), state.c_str());
            return false;
        }
    }
    for (const auto& [name, hazard] : faults.hazards) {
        if (!engine.setDatabaseHazard(name, hazard)) {
            std::fprintf(stderr, "acctset-sandbox: --db-hazard %s=%s: no such database or hazard\n",
                         name.c_str(), hazard.c_str());
            return false;
        }
    }
    return true;
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
    return applySettings(engine, faults);
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
        std::fprintf(stderr, "acctset-sandbox: cannot start on 127.0.0.1,%u: %s\n", unsigned(options.port),
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
