// ALL_HEADERS, the prefix of SQL batch, RPC and transaction-manager requests from TDS 7.2 on.
#include "sandbox/tds/AllHeaders.h"

namespace sandbox::tds {

void skipAllHeaders(Reader& r, Dialect d) {
    if (!d.longCounts())
        return;
    uint32_t total = r.u32();
    if (total < 4)
        throw ProtocolError("bad ALL_HEADERS");
    r.skip(total - 4);
}

void writeAllHeaders(Writer& w, Dialect d, uint64_t transaction) {
    if (!d.longCounts())
        return;
    w.u32(4 + 18);  // total length, then one header
    w.u32(18);      // its length
    w.u16(2);       // transaction descriptor
    w.u64(transaction);
    w.u32(1);  // outstanding requests
}

}  // namespace sandbox::tds
