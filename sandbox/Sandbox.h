#pragma once
// The sandbox server: TDS on loopback in front of an Engine. Runs in-process on its own thread
// (tests) or from the acctset-sandbox program.

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "Engine.h"

namespace sandbox {

struct Options {
    uint16_t port = 0;                 // 0: any free port
    std::string password = "sandbox";  // the sa password
    std::string sqlitePath = ":memory:";
};

class Server {
public:
    explicit Server(Options options = {});
    ~Server();  // stops

    bool start(std::string* error = nullptr);
    void stop();
    uint16_t port() const;
    std::string serverName() const;  // what to type into the tool: "127.0.0.1,PORT"

    Engine& engine();

    // Faults.
    void dropConnectionAfter(int batches);  // each new connection closes after this many batches; <0 off
    void setNeverAnswer(bool on);           // accept connections, never answer
    void setRoundTripDelay(std::chrono::milliseconds delay);

    // Number of requests answered (round trips), for benchmarks.
    uint64_t roundTrips() const;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

}  // namespace sandbox
