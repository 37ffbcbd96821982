// LOGIN7: the client's login request; its reader and its writer ([MS-TDS] 2.2.6.4).
#include "sandbox/tds/Login7.h"

#include "sandbox/Text.h"
#include "sandbox/tds/Bytes.h"

namespace sandbox::tds {

namespace {

constexpr size_t kFixedPart = 94;
constexpr uint8_t kFeatureUtf8 = 0x0A;
constexpr uint8_t kFeatureTerminator = 0xFF;
constexpr uint8_t kExtensionFlag = 0x10;  // OptionFlags3 fExtension: ibExtension points to features

// Offsets of the (offset, length) pairs in the fixed part, in the order the fields follow.
enum Field : size_t {
    kHost = 36,
    kUser = 40,
    kPassword = 44,
    kApp = 48,
    kServer = 52,
    kExtension = 56,
    kLanguage = 64,
    kDatabase = 68
};

// The client swaps the nibbles of each password byte, then XORs it with 0xA5; undone in reverse.
uint8_t scramble(uint8_t b) {
    return static_cast<uint8_t>(((b << 4) | (b >> 4)) ^ 0xA5);
}
uint8_t unscramble(uint8_t b) {
    b ^= 0xA5;
    return static_cast<uint8_t>((b << 4) | (b >> 4));
}

std::string readField(Reader& r, size_t at, bool password) {
    r.seek(at);
    uint16_t ofs = r.u16();
    uint16_t chars = r.u16();
    if (chars == 0)
        return {};
    r.seek(ofs);
    const uint8_t* raw = r.take(size_t(chars) * 2);
    std::vector<uint8_t> bytes(raw, raw + size_t(chars) * 2);
    if (password) {
        for (auto& b : bytes)
            b = unscramble(b);
    }
    Reader t(bytes);
    return utf16ToUtf8(t.utf16(chars));
}

bool announcesUtf8(Reader& r, uint32_t tdsVersion) {
    r.seek(27);
    if (!(r.u8() & kExtensionFlag) || (tdsVersion >> 24) < 0x74)
        return false;
    r.seek(kExtension);
    uint16_t ib = r.u16();
    uint16_t cb = r.u16();
    if (cb < 4)
        return false;
    r.seek(ib);
    r.seek(r.u32());
    bool found = false;
    for (uint8_t id = r.u8(); id != kFeatureTerminator; id = r.u8()) {
        r.skip(r.u32());
        found = found || id == kFeatureUtf8;
    }
    return found;
}

}  // namespace

Login7 Login7::decode(const std::vector<uint8_t>& payload) {
    Reader r(payload);
    Login7 l;
    uint32_t length = r.u32();
    if (length < 86 || length > payload.size())
        throw ProtocolError("bad LOGIN7 length");
    l.tdsVersion = r.u32();
    l.packetSize = r.u32();
    l.host = readField(r, kHost, false);
    l.user = readField(r, kUser, false);
    l.password = readField(r, kPassword, true);
    l.app = readField(r, kApp, false);
    l.server = readField(r, kServer, false);
    l.language = readField(r, kLanguage, false);
    l.database = readField(r, kDatabase, false);
    try {
        l.utf8Feature = announcesUtf8(r, l.tdsVersion);
    } catch (const ProtocolError&) {
        l.utf8Feature = false;
    }
    return l;
}

std::vector<uint8_t> Login7::encode() const {
    Writer w;
    w.data().resize(kFixedPart, 0);
    auto put32 = [&](size_t at, uint32_t v) {
        for (int k = 0; k < 4; ++k)
            w.data()[at + k] = static_cast<uint8_t>(v >> (8 * k));
    };
    auto field = [&](size_t at, const std::string& text, bool password) {
        std::u16string s = utf8ToUtf16(text);
        w.patchU16(at, static_cast<uint16_t>(w.size()));
        w.patchU16(at + 2, static_cast<uint16_t>(s.size()));
        for (char16_t c : s) {
            w.u8(password ? scramble(c & 0xFF) : c & 0xFF);
            w.u8(password ? scramble(c >> 8) : c >> 8);
        }
    };
    put32(4, tdsVersion);
    put32(8, packetSize);
    field(kHost, host, false);
    field(kUser, user, false);
    field(kPassword, password, true);
    field(kApp, app, false);
    field(kServer, server, false);
    field(kLanguage, language, false);
    field(kDatabase, database, false);
    if (utf8Feature) {
        w.data()[27] |= kExtensionFlag;
        w.patchU16(kExtension, static_cast<uint16_t>(w.size()));
        w.patchU16(kExtension + 2, 4);
        w.u32(static_cast<uint32_t>(w.size() + 4));
        w.u8(kFeatureUtf8);
        w.u32(1);
        w.u8(1);
        w.u8(kFeatureTerminator);
    }
    put32(0, static_cast<uint32_t>(w.size()));
    return std::move(w.data());
}

}  // namespace sandbox::tds
