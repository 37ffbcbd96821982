#pragma once
// Attention: the client's request to cancel what runs; an empty message, and its acknowledgement.

#include <cstdint>
#include <vector>

#include "sandbox/tds/Dialect.h"

namespace sandbox::tds {

struct Attention {
    static Attention decode(const std::vector<uint8_t>& payload);
    std::vector<uint8_t> encode() const { return {}; }
    // A DONE with the attention flag, which the client waits for before sending again.
    static std::vector<uint8_t> acknowledgement(Dialect d);
};

}  // namespace sandbox::tds
