// Packet framing: a message read whole across its packets, a message split into packets.
#include "sandbox/tds/Packet.h"

#include <algorithm>

#include "sandbox/tds/Transport.h"

namespace sandbox::tds {

bool readMessage(Transport& in, uint8_t* type, std::vector<uint8_t>* payload) {
    payload->clear();
    for (;;) {
        uint8_t h[kHeaderSize];
        if (!in.read(h, kHeaderSize))
            return false;
        size_t len = (size_t(h[2]) << 8) | h[3];
        if (len < kHeaderSize)
            return false;
        *type = h[0];
        size_t at = payload->size();
        payload->resize(at + len - kHeaderSize);
        if (len > kHeaderSize && !in.read(payload->data() + at, len - kHeaderSize))
            return false;
        if (payload->size() > kMaxMessage)
            return false;
        if (h[1] & kStatusEom)
            return true;
    }
}

std::vector<uint8_t> framePackets(uint8_t type, const std::vector<uint8_t>& payload, size_t packetSize,
                                  uint16_t spid) {
    const size_t room = packetSize - kHeaderSize;
    std::vector<uint8_t> out;
    out.reserve(payload.size() + (payload.size() / room + 1) * kHeaderSize);
    size_t at = 0;
    uint8_t packetId = 1;
    do {
        size_t n = std::min(room, payload.size() - at);
        bool last = at + n == payload.size();
        size_t len = n + kHeaderSize;
        const uint8_t header[kHeaderSize] = {type,
                                             static_cast<uint8_t>(last ? kStatusEom : 0),
                                             static_cast<uint8_t>(len >> 8),
                                             static_cast<uint8_t>(len & 0xFF),
                                             static_cast<uint8_t>(spid >> 8),
                                             static_cast<uint8_t>(spid & 0xFF),
                                             packetId++,
                                             0};
        out.insert(out.end(), header, header + kHeaderSize);
        out.insert(out.end(), payload.begin() + at, payload.begin() + at + n);
        at += n;
    } while (at < payload.size());
    return out;
}

}  // namespace sandbox::tds
