// SQL batch: a request carrying T-SQL text; its reader and its writer.
#include "sandbox/tds/SqlBatch.h"

#include "sandbox/Text.h"
#include "sandbox/tds/AllHeaders.h"

namespace sandbox::tds {

SqlBatch SqlBatch::decode(const std::vector<uint8_t>& payload, Dialect d) {
    Reader r(payload);
    skipAllHeaders(r, d);
    if (r.remaining() % 2)
        throw ProtocolError("odd batch length");
    return {utf16ToUtf8(r.utf16(r.remaining() / 2))};
}

std::vector<uint8_t> SqlBatch::encode(Dialect d, uint64_t transaction) const {
    Writer w;
    writeAllHeaders(w, d, transaction);
    w.utf16(utf8ToUtf16(sql));
    return std::move(w.data());
}

}  // namespace sandbox::tds
