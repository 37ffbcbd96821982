#pragma once
// ALL_HEADERS, the prefix of SQL batch, RPC and transaction-manager requests from TDS 7.2 on.

#include <cstdint>

#include "sandbox/tds/Bytes.h"
#include "sandbox/tds/Dialect.h"

namespace sandbox::tds {

// Skipped whole: the sandbox needs neither the transaction descriptor nor the outstanding count.
void skipAllHeaders(Reader& r, Dialect d);
// The transaction descriptor header alone, as clients send it ([MS-TDS] 2.2.5.3).
void writeAllHeaders(Writer& w, Dialect d, uint64_t transaction);

}  // namespace sandbox::tds
