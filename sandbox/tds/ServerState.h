#pragma once
// What the listener and every connection share: options, the engine, the faults, the counters.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "sandbox/Sandbox.h"

namespace sandbox::tds {

struct ServerState {
    Options options;
    Engine engine;
    std::atomic<bool> stopping{false};
    std::mutex mu;  // connections; also wakes delayed replies when stopping
    std::condition_variable cv;
    std::atomic<int> dropAfter{-1};
    std::atomic<uint64_t> dropGeneration{0};
    std::atomic<bool> neverAnswer{false};
    std::atomic<int64_t> delayMs{0};
    std::atomic<uint64_t> roundTrips{0};

    explicit ServerState(Options o) : options(std::move(o)), engine(options.sqlitePath) {}
};

}  // namespace sandbox::tds
