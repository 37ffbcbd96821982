#pragma once
// The protocol level a connection speaks, chosen from the version the client asks for in LOGIN7.

#include <cstdint>

namespace sandbox::tds {

struct Dialect {
    uint32_t version = 0x74000004;  // as written in LOGINACK (big-endian on the wire)
    int level() const { return static_cast<int>(version >> 24); }  // 0x71 .. 0x74
    static Dialect fromLogin(uint32_t clientVersion);
    bool longCounts() const { return level() >= 0x72; }  // 8-byte DONE counts, 4-byte user types, ALL_HEADERS
    bool nbcRows() const { return level() >= 0x73; }
};

}  // namespace sandbox::tds
