#pragma once
// The sandbox server: TDS on loopback in front of an Engine, in-process or as acctset-sandbox.

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "sandbox/Engine.h"

namespace sandbox {

struct Options {
    uint16_t port = 0;                 // 0: any free port
    std::string password = "sandbox";  // the sa password
    std::string sqlitePath = ":memory:";
    // The default backup directory; empty: backup/ beside sqlitePath when it is a file, else
    // acctset-sandbox-backup/ in the temporary directory. Made if missing.
    std::string backupDir;
    double backupPagesPerSecond = 0;  // BACKUP/RESTORE speed; 0: no pause
};

class Server {
public:
    explicit Server(Options options = {});
    ~Server();  // stops

    bool start(std::string* error = nullptr);  // may run again after stop(); port 0 picks anew
    void stop();
    uint16_t port() const;
    std::string serverName() const;  // what to type into the tool: "127.0.0.1,PORT"

    Engine& engine();

    // Faults.
    // Every connection answers this many more SQL batches, counted from this call (or from its
    // login, if later), then closes when the next batch arrives, without running it. <0: off.
    // The driver's own probe on open is a batch too.
    void dropConnectionAfter(int batches);
    void setNeverAnswer(bool on);  // read requests, never answer (open connections too)
    void setRoundTripDelay(std::chrono::milliseconds delay);  // before every reply

    // Number of replies sent (round trips), for benchmarks.
    uint64_t roundTrips() const;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

}  // namespace sandbox
