#pragma once
// What the listener and every connection share: options, the engine, the faults, the counters.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>

#include "sandbox/Sandbox.h"
#include "sandbox/tds/Browser.h"
#include "sandbox/tds/Tls.h"

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
    std::unique_ptr<TlsContext> tls;  // made at the first start, unless encryption is None
    Browser browser;

    // What each connection did, by the order of its acceptance.
    mutable std::mutex recordsMu;
    std::map<uint64_t, ConnectionRecord> records;
    std::atomic<uint64_t> nextRecordId{0};
    void publish(uint64_t id, const ConnectionRecord& r) {
        std::lock_guard lock(recordsMu);
        records[id] = r;
    }

    explicit ServerState(Options o) : options(std::move(o)), engine(options.sqlitePath) {}
};

}  // namespace sandbox::tds
