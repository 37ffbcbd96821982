// acctset-sandbox: the stand-in server on its own, for the demo and for trying the tool by hand.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <sys/stat.h>

#include "sandbox/Sandbox.h"

namespace {

int usage() {
    std::fprintf(stderr,
                 "usage: acctset-sandbox [--port N] [--password PW] [--seed demo|empty|FILE] [--db PATH]\n"
                 "                       [--backup-dir DIR] [--backup-speed PAGES_PER_SEC]\n"
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
                 "                  pause), so that percent_complete and a cancel can be watched\n");
    return 2;
}

// Reads the options into options and seed; -1 when they are good, else the exit status.
int parseArguments(int argc, char** argv, sandbox::Options& options, std::string& seed) {
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--help" || arg == "-h")
            return usage(), 0;
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
        } else if (arg == "--backup-dir") {
            options.backupDir = value;
        } else if (arg == "--backup-speed") {
            char* end = nullptr;
            double speed = std::strtod(value.c_str(), &end);
            if (*end || !(speed >= 0))
                return usage();
            options.backupPagesPerSecond = speed;
        } else {
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
    if (int status = parseArguments(argc, argv, options, seed); status >= 0)
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
    if (!loadSeed(server.engine(), seed))
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
