#pragma once
// LOGIN7: the client's login request; its reader and its writer.

#include <cstdint>
#include <string>
#include <vector>

namespace sandbox::tds {

struct Login7 {
    uint32_t tdsVersion = 0x74000004;
    uint32_t packetSize = 4096;
    std::string host, user, password, app, server, language, database;
    bool utf8Feature = false;  // TDS 7.4 feature extension: the client announces UTF-8 support

    // Throws ProtocolError when the fixed part is short or a field points outside the message. A
    // feature list that cannot be read is ignored, as a server ignores features it does not know.
    static Login7 decode(const std::vector<uint8_t>& payload);
    std::vector<uint8_t> encode() const;
};

}  // namespace sandbox::tds
