// PRELOGIN: the option list a client opens with and the server's answer in the same form.
#include "sandbox/tds/Prelogin.h"

#include "sandbox/tds/Bytes.h"

namespace sandbox::tds {

const Prelogin::Option* Prelogin::find(uint8_t token) const {
    for (const auto& o : options) {
        if (o.token == token)
            return &o;
    }
    return nullptr;
}

// [MS-TDS] 2.2.6.5: a table of (token, big-endian offset, big-endian length) ended by 0xFF, then
// the option data the offsets point into.
Prelogin Prelogin::decode(const std::vector<uint8_t>& payload) {
    Prelogin p;
    Reader r(payload);
    for (uint8_t token = r.u8(); token != kPreloginTerminator; token = r.u8()) {
        auto b = r.take(4);
        size_t offset = (size_t(b[0]) << 8) | b[1];
        size_t length = (size_t(b[2]) << 8) | b[3];
        if (offset + length > payload.size())
            throw ProtocolError("PRELOGIN option outside the message");
        p.options.push_back({token, {payload.begin() + offset, payload.begin() + offset + length}});
    }
    return p;
}

std::vector<uint8_t> Prelogin::encode() const {
    Writer w;
    auto offset = static_cast<uint16_t>(options.size() * 5 + 1);
    for (const auto& o : options) {
        w.u8(o.token);
        w.u16be(offset);
        w.u16be(static_cast<uint16_t>(o.data.size()));
        offset += static_cast<uint16_t>(o.data.size());
    }
    w.u8(kPreloginTerminator);
    for (const auto& o : options)
        w.bytes(o.data.data(), o.data.size());
    return std::move(w.data());
}

Prelogin Prelogin::serverAnswer() {
    return {{
        {kPreloginVersion, {0x0F, 0x00, 0x07, 0xD0, 0x00, 0x00}},
        {kPreloginEncryption, {kEncryptNotSup}},
        {kPreloginInstOpt, {0x00}},
        {kPreloginThreadId, {}},
        {kPreloginMars, {0x00}},
    }};
}

}  // namespace sandbox::tds
