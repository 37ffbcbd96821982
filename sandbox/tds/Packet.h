#pragma once
// Packet framing: the 8-byte header, a message read whole across its packets, a message split into them.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace sandbox::tds {

class Transport;

enum PacketType : uint8_t {
    kSqlBatch = 0x01,
    kRpc = 0x03,
    kTabularResult = 0x04,
    kAttention = 0x06,
    kTransactionManager = 0x0E,
    kLogin7 = 0x10,
    kPrelogin = 0x12,
};
constexpr size_t kHeaderSize = 8;
constexpr uint8_t kStatusEom = 0x01;
constexpr size_t kMaxMessage = 64u * 1024 * 1024;  // a larger request closes the connection

// Reads packets until one carries the end-of-message status. False when the stream ends, a
// header is shorter than itself, or the message grows beyond kMaxMessage.
bool readMessage(Transport& in, uint8_t* type, std::vector<uint8_t>* payload);

// Splits one message into packets of at most packetSize bytes each (header included).
std::vector<uint8_t> framePackets(uint8_t type, const std::vector<uint8_t>& payload, size_t packetSize,
                                  uint16_t spid);

}  // namespace sandbox::tds
