#pragma once
// Transaction-manager request: begin, commit or rollback asked for outside T-SQL; reader and writer.

#include <cstdint>
#include <string>
#include <vector>

#include "sandbox/tds/Dialect.h"

namespace sandbox::tds {

enum TmRequestType : uint16_t {
    kTmBeginXact = 5,
    kTmCommitXact = 7,
    kTmRollbackXact = 8,
};

struct TransactionManagerRequest {
    uint16_t type = kTmBeginXact;
    std::string name;         // commit and rollback: the transaction's name
    bool beginAfter = false;  // commit and rollback: fBeginXact, a new transaction follows

    // Begin's isolation level and name are not read; the other requests carry no payload here.
    static TransactionManagerRequest decode(const std::vector<uint8_t>& payload, Dialect d);
    std::vector<uint8_t> encode(Dialect d, uint64_t transaction = 0) const;
    // The T-SQL statements the request stands for; empty for a request this server does not offer.
    std::vector<std::string> statements() const;
};

}  // namespace sandbox::tds
