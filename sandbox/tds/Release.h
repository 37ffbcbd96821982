#pragma once
// What distinguishes the SQL Server releases the sandbox plays, on the wire and in the engine.

#include <cstdint>

#include "sandbox/Sandbox.h"

namespace sandbox::tds {

struct ReleaseFacts {
    Product product;    // what @@VERSION and SERVERPROPERTY say
    uint8_t major = 0;  // the product version in PRELOGIN and LOGINACK
    uint8_t minor = 0;
    uint16_t build = 0;
    uint32_t tdsVersion = 0;      // the highest TDS version it speaks, as LOGINACK writes it
    bool utf8Collations = false;  // acknowledges a client's UTF-8 feature (2019 on)
};

const ReleaseFacts& releaseFacts(Release release);

}  // namespace sandbox::tds
