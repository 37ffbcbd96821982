// The protocol level a connection speaks, chosen from the version the client asks for in LOGIN7.
#include "sandbox/tds/Dialect.h"

namespace sandbox::tds {

// The client's version if it is one this server speaks; otherwise the nearest one.
Dialect Dialect::fromLogin(uint32_t clientVersion) {
    Dialect d;
    switch (clientVersion) {
        case 0x71000001:  // 7.1 (also sent as 0x07010000 by early clients)
        case 0x72090002:  // 7.2
        case 0x730A0003:  // 7.3A
        case 0x730B0003:  // 7.3B
        case 0x74000004:  // 7.4
            d.version = clientVersion;
            break;
        default:
            d.version = clientVersion < 0x72000000 ? 0x71000001 : 0x74000004;
            break;
    }
    return d;
}

}  // namespace sandbox::tds
