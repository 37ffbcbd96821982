#pragma once
// PRELOGIN: the option list a client opens with and the server's answer in the same form.

#include <cstdint>
#include <vector>

namespace sandbox::tds {

enum PreloginToken : uint8_t {
    kPreloginVersion = 0x00,
    kPreloginEncryption = 0x01,
    kPreloginInstOpt = 0x02,
    kPreloginThreadId = 0x03,
    kPreloginMars = 0x04,
    kPreloginTerminator = 0xFF,
};
enum Encryption : uint8_t {
    kEncryptOff = 0x00,
    kEncryptOn = 0x01,
    kEncryptNotSup = 0x02,
    kEncryptReq = 0x03
};

struct Prelogin {
    struct Option {
        uint8_t token = 0;
        std::vector<uint8_t> data;
    };
    std::vector<Option> options;  // in the order sent

    const Option* find(uint8_t token) const;
    // Throws ProtocolError when an option points outside the message.
    static Prelogin decode(const std::vector<uint8_t>& payload);
    std::vector<uint8_t> encode() const;

    // This server: its product version, its answer on encryption, instance ok, MARS off.
    static Prelogin serverAnswer(uint8_t encryption = kEncryptNotSup, uint8_t major = 15, uint8_t minor = 0,
                                 uint16_t build = 2000);
};

}  // namespace sandbox::tds
