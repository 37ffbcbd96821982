// Attention: the client's request to cancel what runs; an empty message, and its acknowledgement.
#include "sandbox/tds/Attention.h"

#include "sandbox/tds/Tokens.h"

namespace sandbox::tds {

// Any payload is ignored: the packet type alone says what is asked.
Attention Attention::decode(const std::vector<uint8_t>&) {
    return {};
}

std::vector<uint8_t> Attention::acknowledgement(Dialect d) {
    TokenWriter t(d);
    t.done(kDone, kDoneAttn, 0, 0);
    return std::move(t.data());
}

}  // namespace sandbox::tds
