// RPC request: a procedure called by name or by number, with its parameters; reader and writer.
#include "sandbox/tds/Rpc.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <map>

#include "sandbox/Text.h"
#include "sandbox/tds/AllHeaders.h"
#include "sandbox/tds/Tokens.h"

namespace sandbox::tds {

namespace {

const char* const kProcNames[] = {"",
                                  "sp_cursor",
                                  "sp_cursoropen",
                                  "sp_cursorprepare",
                                  "sp_cursorexecute",
                                  "sp_cursorprepexec",
                                  "sp_cursorunprepare",
                                  "sp_cursorfetch",
                                  "sp_cursoroption",
                                  "sp_cursorclose",
                                  "sp_executesql",
                                  "sp_prepare",
                                  "sp_execute",
                                  "sp_prepexec",
                                  "sp_prepexecrpc",
                                  "sp_unprepare"};

constexpr uint8_t kInt1 = 0x30, kInt2 = 0x34, kInt4 = 0x38, kInt8 = 0x7F;
constexpr uint8_t kNChar = 0xEF, kBigVarChar = 0xA7, kBigChar = 0xAF;
constexpr uint8_t kNText = 0x63, kText = 0x23;
constexpr uint8_t kBit = 0x32, kFlt4 = 0x3B, kFlt8 = 0x3E, kDateTime = 0x3D, kDateTim4 = 0x3A;
constexpr uint8_t kDecimalN = 0x6A, kNumericN = 0x6C, kBigBinary = 0xAD;
constexpr uint8_t kBatchFlag = 0x80, kNoExecFlag = 0xFF;  // separators between calls

void readInt(Reader& r, size_t n, RpcParam& p) {
    auto b = r.take(n);
    uint64_t u = 0;
    for (size_t k = 0; k < n; ++k)
        u |= uint64_t(b[k]) << (8 * k);
    if (n < 8 && (u >> (8 * n - 1)) & 1)
        u |= ~uint64_t(0) << (8 * n);
    p.isInt = true;
    p.kind = RpcParam::Kind::Int;
    p.null = false;
    p.i = static_cast<int64_t>(u);
}

std::string decodeText(const uint8_t* b, size_t len, bool wide) {
    if (!wide)
        return {reinterpret_cast<const char*>(b), len};
    Reader t(b, len & ~size_t(1));
    return utf16ToUtf8(t.utf16(len / 2));
}

// Short or PLP-chunked character or binary data, after its type byte.
void readVarText(Reader& r, bool wide, RpcParam& p, bool binary = false) {
    p.kind = binary ? RpcParam::Kind::Binary : RpcParam::Kind::Text;
    p.wide = wide;
    uint16_t max = r.u16();
    if (!binary)
        r.skip(5);  // collation
    std::string raw;
    if (max == 0xFFFF) {  // PLP
        if (r.u64() == ~uint64_t(0))
            return;
        for (uint32_t chunk = r.u32(); chunk; chunk = r.u32())
            raw.append(reinterpret_cast<const char*>(r.take(chunk)), chunk);
    } else {
        uint16_t len = r.u16();
        if (len == 0xFFFF)
            return;
        raw.assign(reinterpret_cast<const char*>(r.take(len)), len);
    }
    p.null = false;
    p.text = binary ? raw : decodeText(reinterpret_cast<const uint8_t*>(raw.data()), raw.size(), wide);
}

void readLongText(Reader& r, bool wide, RpcParam& p) {
    p.wide = wide;
    r.u32();
    r.skip(5);
    uint32_t len = r.u32();
    if (len == 0xFFFFFFFF)
        return;
    p.null = false;
    p.text = decodeText(r.take(len), len, wide);
}

void readFloat(Reader& r, size_t n, RpcParam& p) {
    p.kind = RpcParam::Kind::Float;
    if (n == 0)
        return;
    p.null = false;
    if (n == 4) {
        uint32_t u = r.u32();
        float v;
        std::memcpy(&v, &u, 4);
        p.f = v;
    } else {
        uint64_t u = r.u64();
        std::memcpy(&p.f, &u, 8);
    }
}

// Sign byte, then the unscaled value in little-endian bytes; written in digits with `scale` decimals.
void readDecimal(Reader& r, uint8_t scale, RpcParam& p) {
    p.kind = RpcParam::Kind::Decimal;
    uint8_t len = r.u8();
    if (len == 0)
        return;
    const bool positive = r.u8() == 1;
    const uint8_t* b = r.take(len - 1u);
    std::vector<uint8_t> mag(b, b + len - 1);
    std::string digits;
    for (;;) {  // long division by ten, most significant byte last
        bool zero = true;
        unsigned rem = 0;
        for (size_t k = mag.size(); k-- > 0;) {
            unsigned cur = rem * 256 + mag[k];
            mag[k] = static_cast<uint8_t>(cur / 10);
            rem = cur % 10;
            zero = zero && mag[k] == 0;
        }
        digits.insert(digits.begin(), static_cast<char>('0' + rem));
        if (zero)
            break;
    }
    while (digits.size() <= scale)
        digits.insert(digits.begin(), '0');
    if (scale)
        digits.insert(digits.end() - scale, '.');
    p.null = false;
    p.text = (positive ? "" : "-") + digits;
}

// Days since 1900-01-01 and three-hundredths of a second (or minutes, smalldatetime).
void readDateTime(Reader& r, size_t n, RpcParam& p) {
    p.kind = RpcParam::Kind::DateTime;
    if (n == 0)
        return;
    int64_t days = 0, ms = 0;
    if (n == 4) {
        days = r.u16();
        ms = int64_t(r.u16()) * 60000;
    } else {
        days = static_cast<int32_t>(r.u32());
        ms = (int64_t(r.u32()) * 10 + 1) / 3;
    }
    // Civil date from days since 1970-01-01 (Howard Hinnant's algorithm); 1900-01-01 is -25567.
    int64_t z = days - 25567 + 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const int64_t doe = z - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    const int64_t d = doy - (153 * mp + 2) / 5 + 1;
    const int64_t m = mp < 10 ? mp + 3 : mp - 9;
    const int64_t y = yoe + era * 400 + (m <= 2);
    char buf[64];
    std::snprintf(buf, sizeof buf, "%04lld-%02lld-%02lld %02lld:%02lld:%02lld.%03lld",
                  static_cast<long long>(y), static_cast<long long>(m), static_cast<long long>(d),
                  static_cast<long long>(ms / 3600000), static_cast<long long>(ms / 60000 % 60),
                  static_cast<long long>(ms / 1000 % 60), static_cast<long long>(ms % 1000));
    p.null = false;
    p.text = buf;
}

RpcParam readParam(Reader& r) {
    RpcParam p;
    p.name = r.bVarchar();
    p.output = (r.u8() & 0x01) != 0;
    switch (uint8_t type = r.u8()) {
        case kInt1:
            readInt(r, 1, p);
            p.i &= 0xFF;
            break;
        case kInt2:
            readInt(r, 2, p);
            break;
        case kInt4:
            readInt(r, 4, p);
            break;
        case kInt8:
            readInt(r, 8, p);
            break;
        case kIntN: {
            r.u8();
            p.isInt = true;
            p.kind = RpcParam::Kind::Int;
            if (uint8_t len = r.u8())
                readInt(r, len, p);
            break;
        }
        case kNVarChar:
        case kNChar:
        case kBigVarChar:
        case kBigChar:
            readVarText(r, type == kNVarChar || type == kNChar, p);
            break;
        case kNText:
        case kText:
            readLongText(r, type == kNText, p);
            break;
        case kBit:
            readInt(r, 1, p);
            p.i &= 1;
            break;
        case kBitN: {
            r.u8();
            p.isInt = true;
            p.kind = RpcParam::Kind::Int;
            if (r.u8())
                readInt(r, 1, p);
            p.i &= 1;
            break;
        }
        case kFlt4:
            readFloat(r, 4, p);
            break;
        case kFlt8:
            readFloat(r, 8, p);
            break;
        case kFltN:
            r.u8();
            readFloat(r, r.u8(), p);
            break;
        case kDecimalN:
        case kNumericN: {
            r.u8();  // length
            r.u8();  // precision
            readDecimal(r, r.u8(), p);
            break;
        }
        case kDateTime:
            readDateTime(r, 8, p);
            break;
        case kDateTim4:
            readDateTime(r, 4, p);
            break;
        case kDateTimeN:
            r.u8();
            readDateTime(r, r.u8(), p);
            break;
        case kBigVarBinary:
        case kBigBinary:
            readVarText(r, false, p, true);
            break;
        default:
            throw ProtocolError("parameter type not supported");
    }
    return p;
}

void writeParam(Writer& w, const RpcParam& p) {
    w.bVarchar(p.name);
    w.u8(p.output ? 0x01 : 0x00);
    if (p.isInt) {
        w.u8(kIntN);
        w.u8(8);
        w.u8(p.null ? 0 : 8);
        if (!p.null)
            w.u64(static_cast<uint64_t>(p.i));
        return;
    }
    w.u8(kNVarChar);
    w.u16(8000);
    w.bytes(kCollation, 5);
    if (p.null) {
        w.u16(0xFFFF);
        return;
    }
    std::u16string s = utf8ToUtf16(p.text);
    w.u16(static_cast<uint16_t>(s.size() * 2));
    w.utf16(s);
}

bool nameChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '@' || c == '#' || c == '$' ||
           static_cast<unsigned char>(c) >= 0x80;
}

// Each "@name" a declaration lists, in order: "@a int, @b decimal(10,2) OUTPUT".
std::vector<std::string> declaredNames(const std::string& declaration) {
    std::vector<std::string> names;
    int depth = 0;
    bool expectName = true;
    for (size_t k = 0; k < declaration.size(); ++k) {
        const char c = declaration[k];
        if (c == '(')
            ++depth;
        else if (c == ')')
            --depth;
        else if (c == ',' && depth == 0)
            expectName = true;
        else if (c == '@' && expectName) {
            size_t end = k + 1;
            while (end < declaration.size() && nameChar(declaration[end]))
                ++end;
            names.push_back(lower(declaration.substr(k, end - k)));
            expectName = false;
            k = end - 1;
        }
    }
    return names;
}

}  // namespace

std::string RpcParam::sqlLiteral() const {
    if (null)
        return "NULL";
    switch (kind) {
        case Kind::Int:
            return std::to_string(i);
        case Kind::Float: {
            char buf[40];
            std::snprintf(buf, sizeof buf, "%.17g", f);
            return std::strchr(buf, 'e') || std::strchr(buf, '.') ? buf : std::string(buf) + ".0";
        }
        case Kind::Decimal:
            return text;
        case Kind::Binary: {
            static const char hex[] = "0123456789ABCDEF";
            std::string out = "0x";
            for (unsigned char b : text) {
                out += hex[b >> 4];
                out += hex[b & 15];
            }
            return out;
        }
        case Kind::DateTime:
        case Kind::Text:
            break;
    }
    std::string out = kind == Kind::Text && wide ? "N'" : "'";
    for (char c : text) {
        out += c;
        if (c == '\'')
            out += '\'';
    }
    return out + "'";
}

std::string bindParameters(const std::string& statement, const std::string& declaration,
                           const std::vector<RpcParam>& values) {
    const std::vector<std::string> declared = declaredNames(declaration);
    std::map<std::string, std::string> literals;
    for (size_t k = 0; k < values.size(); ++k) {
        std::string name = lower(values[k].name);
        if (name.empty() && k < declared.size())
            name = declared[k];
        if (!name.empty() && name[0] != '@')
            name.insert(name.begin(), '@');
        if (!name.empty())
            literals[name] = values[k].sqlLiteral();
    }
    std::string out;
    const size_t n = statement.size();
    for (size_t k = 0; k < n;) {
        const char c = statement[k];
        auto copyUntil = [&](const char* close, size_t from) {
            size_t end = statement.find(close, from);
            end = end == std::string::npos ? n : end + std::strlen(close);
            out.append(statement, k, end - k);
            k = end;
        };
        if (c == '\'' || c == '"' || c == '[') {
            // A doubled closing character stays inside: scan for a single one.
            const char closing = c == '[' ? ']' : c;
            size_t end = k + 1;
            while (end < n && !(statement[end] == closing && (end + 1 >= n || statement[end + 1] != closing)))
                end += statement[end] == closing ? 2 : 1;
            end = std::min(n, end + 1);
            out.append(statement, k, end - k);
            k = end;
        } else if (c == '-' && k + 1 < n && statement[k + 1] == '-') {
            copyUntil("\n", k);
        } else if (c == '/' && k + 1 < n && statement[k + 1] == '*') {
            copyUntil("*/", k + 2);
        } else if (c == '@' && (k + 1 >= n || statement[k + 1] != '@') &&
                   (k == 0 || !nameChar(statement[k - 1]))) {
            size_t end = k + 1;
            while (end < n && nameChar(statement[end]))
                ++end;
            auto found = literals.find(lower(statement.substr(k, end - k)));
            out += found != literals.end() ? found->second : statement.substr(k, end - k);
            k = end;
        } else if (c == '@') {
            size_t end = k;
            while (end < n && nameChar(statement[end]))
                ++end;
            out.append(statement, k, end - k);
            k = end;
        } else {
            out += c;
            ++k;
        }
    }
    return out;
}

RpcRequest RpcRequest::decode(const std::vector<uint8_t>& payload, Dialect d) {
    Reader r(payload);
    skipAllHeaders(r, d);
    RpcRequest q;
    uint16_t nameLen = r.u16();
    if (nameLen == 0xFFFF) {
        uint16_t id = r.u16();
        q.name = id < std::size(kProcNames) ? kProcNames[id] : std::to_string(id);
    } else {
        q.name = utf16ToUtf8(r.utf16(nameLen));
    }
    q.options = r.u16();
    try {
        while (r.remaining() && payload[r.pos()] != kBatchFlag && payload[r.pos()] != kNoExecFlag)
            q.params.push_back(readParam(r));
    } catch (const ProtocolError&) {
        q.paramsRead = false;
    }
    return q;
}

std::vector<uint8_t> RpcRequest::encode(Dialect d, uint64_t transaction) const {
    Writer w;
    writeAllHeaders(w, d, transaction);
    std::u16string n = utf8ToUtf16(name);
    w.u16(static_cast<uint16_t>(n.size()));
    w.utf16(n);
    w.u16(options);
    for (const auto& p : params)
        writeParam(w, p);
    return std::move(w.data());
}

}  // namespace sandbox::tds
