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

    // This server: version 15.0.2000, encryption not supported, instance ok, MARS off.
    static Prelogin serverAnswer();
};

}  // namespace sandbox::tds
