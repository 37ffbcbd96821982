#include "tdsTokens.h"

#include <cstdio>
#include <cstring>

namespace sandbox::tds {

const uint8_t kCollation[5] = {0x04, 0x08, 0xD0, 0x00, 0x00};
const char kServerName[] = "SANDBOX";

namespace {

constexpr uint8_t kIntN = 0x26;
constexpr uint8_t kBitN = 0x68;
constexpr uint8_t kFltN = 0x6D;
constexpr uint8_t kDateTimeN = 0x6F;
constexpr uint8_t kNVarChar = 0xE7;
constexpr uint16_t kCmdSelect = 0xC1;

int intSize(ColType t) {
    switch (t) {
        case ColType::SmallInt:
            return 2;
        case ColType::BigInt:
            return 8;
        default:
            return 4;
    }
}

uint16_t nvarcharBytes(const Column& c) {
    if (c.maxChars <= 0 || c.maxChars > 4000)
        return 8000;
    return static_cast<uint16_t>(c.maxChars * 2);
}

// Days from 1970-01-01 for a proleptic Gregorian date.
int64_t daysFromCivil(int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

// SQL Server's DATETIME: days since 1900-01-01 and 1/300 s ticks since midnight.
bool encodeDateTime(const std::string& text, int32_t* days, uint32_t* ticks) {
    int y = 0, mo = 0, d = 0, h = 0, mi = 0;
    double s = 0;
    int n = std::sscanf(text.c_str(), "%d-%d-%d%*[ T]%d:%d:%lf", &y, &mo, &d, &h, &mi, &s);
    if (n != 3 && n != 6)
        return false;
    if (mo < 1 || mo > 12 || d < 1 || d > 31)
        return false;
    *days = static_cast<int32_t>(daysFromCivil(y, mo, d) - daysFromCivil(1900, 1, 1));
    double secs = h * 3600.0 + mi * 60.0 + s;
    *ticks = static_cast<uint32_t>(secs * 300.0 + 0.5);
    return true;
}

}  // namespace

int Dialect::level() const {
    return static_cast<int>(version >> 24);
}

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

std::vector<uint8_t> preloginResponse() {
    // VERSION 15.0.2000, ENCRYPTION not supported, INSTOPT ok, THREADID empty, MARS off.
    struct Opt {
        uint8_t token;
        std::vector<uint8_t> data;
    };
    const Opt opts[] = {
        {0x00, {0x0F, 0x00, 0x07, 0xD0, 0x00, 0x00}},
        {0x01, {0x02}},
        {0x02, {0x00}},
        {0x03, {}},
        {0x04, {0x00}},
    };
    const size_t n = sizeof(opts) / sizeof(opts[0]);
    Writer w;
    uint16_t offset = static_cast<uint16_t>(n * 5 + 1);
    for (const auto& o : opts) {
        w.u8(o.token);
        w.u16be(offset);
        w.u16be(static_cast<uint16_t>(o.data.size()));
        offset += static_cast<uint16_t>(o.data.size());
    }
    w.u8(0xFF);
    for (const auto& o : opts)
        w.bytes(o.data.data(), o.data.size());
    return std::move(w.data());
}

Login parseLogin7(const std::vector<uint8_t>& payload) {
    Reader r(payload);
    Login l;
    uint32_t length = r.u32();
    if (length < 86 || length > payload.size())
        throw ProtocolError("bad LOGIN7 length");
    l.tdsVersion = r.u32();
    l.packetSize = r.u32();
    auto field = [&](size_t at, bool password = false) {
        r.seek(at);
        uint16_t ofs = r.u16();
        uint16_t chars = r.u16();
        if (chars == 0)
            return std::string();
        r.seek(ofs);
        const uint8_t* raw = r.take(size_t(chars) * 2);
        std::vector<uint8_t> bytes(raw, raw + size_t(chars) * 2);
        if (password) {
            // The client swaps the nibbles of each byte, then XORs it with 0xA5.
            for (auto& b : bytes) {
                b ^= 0xA5;
                b = static_cast<uint8_t>((b << 4) | (b >> 4));
            }
        }
        Reader t(bytes);
        return utf16ToUtf8(t.utf16(chars));
    };
    l.host = field(36);
    l.user = field(40);
    l.password = field(44, true);
    l.app = field(48);
    l.server = field(52);
    l.language = field(64);
    l.database = field(68);
    // Features are optional: a list we cannot read is ignored, as a server ignores unknown ones.
    try {
        r.seek(27);
        if ((r.u8() & 0x10) && (l.tdsVersion >> 24) >= 0x74) {  // fExtension: features follow
            r.seek(56);
            uint16_t ib = r.u16();
            uint16_t cb = r.u16();
            if (cb >= 4) {
                r.seek(ib);
                r.seek(r.u32());
                for (uint8_t id = r.u8(); id != 0xFF; id = r.u8()) {
                    uint32_t len = r.u32();
                    r.skip(len);
                    if (id == 0x0A) {
                        l.utf8Feature = true;
                    }
                }
            }
        }
    } catch (const ProtocolError&) {
        l.utf8Feature = false;
    }
    return l;
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

void TokenWriter::typeInfo(const Column& c) {
    switch (c.type) {
        case ColType::Int:
        case ColType::SmallInt:
        case ColType::BigInt:
            w_.u8(kIntN);
            w_.u8(static_cast<uint8_t>(intSize(c.type)));
            break;
        case ColType::Bit:
            w_.u8(kBitN);
            w_.u8(1);
            break;
        case ColType::Float:
            w_.u8(kFltN);
            w_.u8(8);
            break;
        case ColType::DateTime:
            w_.u8(kDateTimeN);
            w_.u8(8);
            break;
        case ColType::NVarChar:
            w_.u8(kNVarChar);
            w_.u16(nvarcharBytes(c));
            w_.bytes(kCollation, 5);
            break;
    }
}

void TokenWriter::colMetadata(const std::vector<Column>& cols) {
    w_.u8(kColMetadata);
    w_.u16(static_cast<uint16_t>(cols.size()));
    for (const auto& c : cols) {
        if (d_.longCounts()) {
            w_.u32(0);  // user type
        } else {
            w_.u16(0);
        }
        w_.u16(c.nullable ? 0x0001 : 0x0000);
        typeInfo(c);
        w_.bVarchar(c.name);
    }
}

void TokenWriter::value(const Column& c, const Value& v) {
    const bool isText = c.type == ColType::NVarChar;
    if (v.null) {
        if (isText) {
            w_.u16(0xFFFF);
        } else {
            w_.u8(0);
        }
        return;
    }
    switch (c.type) {
        case ColType::Int:
        case ColType::SmallInt:
        case ColType::BigInt: {
            int n = intSize(c.type);
            w_.u8(static_cast<uint8_t>(n));
            auto u = static_cast<uint64_t>(v.i);
            for (int k = 0; k < n; ++k)
                w_.u8(static_cast<uint8_t>(u >> (8 * k)));
            break;
        }
        case ColType::Bit:
            w_.u8(1);
            w_.u8(v.i ? 1 : 0);
            break;
        case ColType::Float: {
            uint64_t bits;
            std::memcpy(&bits, &v.f, 8);
            w_.u8(8);
            w_.u64(bits);
            break;
        }
        case ColType::DateTime: {
            int32_t days = 0;
            uint32_t ticks = 0;
            if (!encodeDateTime(v.text, &days, &ticks)) {
                w_.u8(0);  // unreadable date: sent as Null rather than a wrong date
                break;
            }
            w_.u8(8);
            w_.u32(static_cast<uint32_t>(days));
            w_.u32(ticks);
            break;
        }
        case ColType::NVarChar: {
            auto s = utf8ToUtf16(v.text);
            size_t maxChars = nvarcharBytes(c) / 2;
            if (s.size() > maxChars)
                s.resize(maxChars);
            w_.u16(static_cast<uint16_t>(s.size() * 2));
            w_.utf16(s);
            break;
        }
    }
}

void TokenWriter::row(const std::vector<Column>& cols, const std::vector<Value>& values) {
    bool anyNull = false;
    for (const auto& v : values)
        anyNull = anyNull || v.null;
    if (d_.nbcRows() && anyNull) {
        w_.u8(kNbcRow);
        std::vector<uint8_t> bitmap((cols.size() + 7) / 8, 0);
        for (size_t i = 0; i < cols.size(); ++i) {
            if (i >= values.size() || values[i].null)
                bitmap[i / 8] |= static_cast<uint8_t>(1u << (i % 8));
        }
        w_.bytes(bitmap.data(), bitmap.size());
        for (size_t i = 0; i < cols.size(); ++i) {
            if (i < values.size() && !values[i].null)
                value(cols[i], values[i]);
        }
        return;
    }
    w_.u8(kRow);
    for (size_t i = 0; i < cols.size(); ++i)
        value(cols[i], i < values.size() ? values[i] : Value::ofNull());
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

void TokenWriter::batch(const BatchResult& r, uint64_t tranDescriptor, const std::string& databaseBefore) {
    if (r.pieces.empty()) {
        if (r.useDatabaseChanged)
            envChange(kEnvDatabase, r.database, databaseBefore);
        done(kDone, kDoneFinal, 0, 0);
        return;
    }
    bool databaseSent = false;
    for (size_t i = 0; i < r.pieces.size(); ++i) {
        const Piece& p = r.pieces[i];
        const bool last = i + 1 == r.pieces.size();
        if (p.result) {
            colMetadata(p.result->columns);
            for (const auto& row : p.result->rows)
                this->row(p.result->columns, row);
        }
        bool error = false;
        for (const auto& m : p.messages) {
            // A server announces the new database just before saying it changed context.
            if (m.number == 5701 && r.useDatabaseChanged && !databaseSent) {
                envChange(kEnvDatabase, r.database, databaseBefore);
                databaseSent = true;
            }
            message(m);
            error = error || m.severity > 10;
        }
        switch (p.tran) {
            case TranChange::Begin:
                tranChange(kEnvBeginTran, p.tranDescriptor);
                tranDescriptor = p.tranDescriptor;
                break;
            case TranChange::Commit:
                tranChange(kEnvCommitTran, p.tranDescriptor ? p.tranDescriptor : tranDescriptor);
                tranDescriptor = 0;
                break;
            case TranChange::Rollback:
                tranChange(kEnvRollbackTran, p.tranDescriptor ? p.tranDescriptor : tranDescriptor);
                tranDescriptor = 0;
                break;
            case TranChange::None:
                break;
        }
        if (last && r.useDatabaseChanged && !databaseSent)
            envChange(kEnvDatabase, r.database, databaseBefore);
        uint16_t status = last ? kDoneFinal : kDoneMore;
        if (error)
            status |= kDoneError;
        if (p.rowCount >= 0)
            status |= kDoneCount;
        done(kDone, status, p.result ? kCmdSelect : 0,
             p.rowCount >= 0 ? static_cast<uint64_t>(p.rowCount) : 0);
    }
}

}  // namespace sandbox::tds
