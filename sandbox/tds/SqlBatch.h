#pragma once
// SQL batch: a request carrying T-SQL text; its reader and its writer.

#include <cstdint>
#include <string>
#include <vector>

#include "sandbox/tds/Dialect.h"

namespace sandbox::tds {

struct SqlBatch {
    std::string sql;  // UTF-8

    static SqlBatch decode(const std::vector<uint8_t>& payload, Dialect d);
    std::vector<uint8_t> encode(Dialect d, uint64_t transaction = 0) const;
};

}  // namespace sandbox::tds
