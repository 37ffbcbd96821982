// Writers of the tokens that frame a response: login acknowledgement, environment changes, messages, DONE.
#include "sandbox/tds/Tokens.h"

namespace sandbox::tds {

const uint8_t kCollation[5] = {0x04, 0x08, 0xD0, 0x00, 0x00};
const char kServerName[] = "SANDBOX";

void TokenWriter::loginAccepted(const std::string& database, size_t packetSize, bool utf8Feature) {
    envChange(kEnvDatabase, database, "master");
    message({.number = 5701,
             .state = 2,
             .severity = 0,
             .text = "Changed database context to '" + database + "'."});
    envChangeBytes(kEnvCollation, std::vector<uint8_t>(kCollation, kCollation + 5), {});
    envChange(kEnvLanguage, "us_english", "");
    message({.number = 5703, .state = 1, .severity = 0, .text = "Changed language setting to us_english."});
    loginAck();
    if (utf8Feature)
        featureExtAckUtf8();
    envChange(kEnvPacketSize, std::to_string(packetSize), std::to_string(packetSize));
    done(kDone, kDoneFinal, 0, 0);
}

void TokenWriter::loginAck() {
    static const char16_t prog[] = u"Microsoft SQL Server";
    const size_t progChars = sizeof(prog) / sizeof(prog[0]) - 1;
    w_.u8(kLoginAck);
    w_.u16(static_cast<uint16_t>(1 + 4 + 1 + progChars * 2 + 4));
    w_.u8(1);  // SQL interface
    w_.u32be(d_.version);
    w_.u8(static_cast<uint8_t>(progChars));
    w_.utf16(prog);
    const uint8_t ver[4] = {15, 0, 0x07, 0xD0};  // 15.0.2000
    w_.bytes(ver, 4);
}

// A server of this version supports UTF-8 collations; its own collation is not one.
void TokenWriter::featureExtAckUtf8() {
    w_.u8(kFeatureExtAck);
    w_.u8(0x0A);
    w_.u32(1);
    w_.u8(1);
    w_.u8(0xFF);
}

void TokenWriter::envChange(EnvType type, const std::string& newValue, const std::string& oldValue) {
    w_.u8(kEnvChange);
    size_t at = w_.size();
    w_.u16(0);
    w_.u8(type);
    w_.bVarchar(newValue);
    w_.bVarchar(oldValue);
    w_.patchU16(at, static_cast<uint16_t>(w_.size() - at - 2));
}

void TokenWriter::envChangeBytes(EnvType type, const std::vector<uint8_t>& newValue,
                                 const std::vector<uint8_t>& oldValue) {
    w_.u8(kEnvChange);
    w_.u16(static_cast<uint16_t>(1 + 1 + newValue.size() + 1 + oldValue.size()));
    w_.u8(type);
    w_.u8(static_cast<uint8_t>(newValue.size()));
    w_.bytes(newValue.data(), newValue.size());
    w_.u8(static_cast<uint8_t>(oldValue.size()));
    w_.bytes(oldValue.data(), oldValue.size());
}

void TokenWriter::tranChange(EnvType type, uint64_t descriptor) {
    std::vector<uint8_t> desc(8);
    for (int i = 0; i < 8; ++i)
        desc[i] = static_cast<uint8_t>(descriptor >> (8 * i));
    if (type == kEnvBeginTran) {
        envChangeBytes(type, desc, {});
    } else {
        envChangeBytes(type, {}, desc);
    }
}

void TokenWriter::message(const Message& m, const std::string& procName) {
    w_.u8(m.severity > 10 ? kError : kInfo);
    size_t at = w_.size();
    w_.u16(0);
    w_.u32(static_cast<uint32_t>(m.number));
    w_.u8(static_cast<uint8_t>(m.state));
    w_.u8(static_cast<uint8_t>(m.severity));
    w_.usVarchar(m.text);
    w_.bVarchar(kServerName);
    w_.bVarchar(procName);
    if (d_.longCounts()) {
        w_.u32(static_cast<uint32_t>(m.line));
    } else {
        w_.u16(static_cast<uint16_t>(m.line));
    }
    w_.patchU16(at, static_cast<uint16_t>(w_.size() - at - 2));
}

void TokenWriter::done(Token token, uint16_t status, uint16_t curCmd, uint64_t rows) {
    w_.u8(token);
    w_.u16(status);
    w_.u16(curCmd);
    if (d_.longCounts()) {
        w_.u64(rows);
    } else {
        w_.u32(static_cast<uint32_t>(rows));
    }
}

void TokenWriter::returnStatus(int32_t v) {
    w_.u8(kReturnStatus);
    w_.u32(static_cast<uint32_t>(v));
}

void TokenWriter::returnValueInt(uint16_t ordinal, const std::string& name, int32_t v) {
    w_.u8(kReturnValue);
    w_.u16(ordinal);
    w_.bVarchar(name);
    w_.u8(0x01);  // output parameter
    if (d_.longCounts()) {
        w_.u32(0);
    } else {
        w_.u16(0);
    }
    w_.u16(0x0001);
    w_.u8(kIntN);
    w_.u8(4);
    w_.u8(4);
    w_.u32(static_cast<uint32_t>(v));
}

}  // namespace sandbox::tds
