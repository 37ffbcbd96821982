// Transaction-manager request: begin, commit or rollback asked for outside T-SQL; reader and writer.
#include "sandbox/tds/TransactionManager.h"

#include "sandbox/tds/AllHeaders.h"

namespace sandbox::tds {

TransactionManagerRequest TransactionManagerRequest::decode(const std::vector<uint8_t>& payload, Dialect d) {
    Reader r(payload);
    skipAllHeaders(r, d);
    TransactionManagerRequest t;
    t.type = r.u16();
    if (t.type == kTmCommitXact || t.type == kTmRollbackXact) {
        t.name = r.bVarchar();
        t.beginAfter = r.remaining() && (r.u8() & 0x01);
    }
    return t;
}

std::vector<uint8_t> TransactionManagerRequest::encode(Dialect d, uint64_t transaction) const {
    Writer w;
    writeAllHeaders(w, d, transaction);
    w.u16(type);
    if (type == kTmBeginXact) {
        w.u8(0);  // isolation level unchanged
        w.bVarchar(name);
    } else if (type == kTmCommitXact || type == kTmRollbackXact) {
        w.bVarchar(name);
        w.u8(beginAfter ? 0x01 : 0x00);
        if (beginAfter) {
            w.u8(0);
            w.bVarchar({});
        }
    }
    return std::move(w.data());
}

std::vector<std::string> TransactionManagerRequest::statements() const {
    std::vector<std::string> out;
    switch (type) {
        case kTmBeginXact:
            out.push_back("BEGIN TRANSACTION");
            break;
        case kTmCommitXact:
            out.push_back("COMMIT TRANSACTION");
            break;
        case kTmRollbackXact:
            out.push_back("ROLLBACK TRANSACTION");
            break;
        default:
            return out;
    }
    if (beginAfter)
        out.push_back("BEGIN TRANSACTION");
    return out;
}

}  // namespace sandbox::tds
