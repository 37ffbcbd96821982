// Writers of the tokens that carry a result set: column metadata, rows and their values.
#include <cstdio>
#include <cstring>

#include "sandbox/Text.h"
#include "sandbox/tds/Tokens.h"

namespace sandbox::tds {

namespace {

int intSize(const Column& c) {
    if (c.wire == Column::Wire::TinyInt)
        return 1;
    switch (c.type) {
        case ColType::SmallInt:
            return 2;
        case ColType::BigInt:
            return 8;
        default:
            return 4;
    }
}

// DECIMALN's length by precision: a sign byte and 4, 8, 12 or 16 bytes of magnitude ([MS-TDS] 2.2.5.5.1.6).
uint8_t decimalBytes(int precision) {
    return precision <= 9 ? 5 : precision <= 19 ? 9 : precision <= 28 ? 13 : 17;
}

// The value's digits at the column's scale, as one whole number (the engine has rounded it to the
// column's scale where it had more digits; a whole number gets its zeros here).
unsigned __int128 scaledMagnitude(const Column& c, const Value& v, bool* negative) {
    const std::string& t = v.text;
    *negative = !t.empty() && t[0] == '-';
    const size_t point = t.find('.');
    std::string frac = point == std::string::npos ? std::string() : t.substr(point + 1);
    frac.resize(static_cast<size_t>(c.scale), '0');
    unsigned __int128 m = 0;
    for (char ch : t.substr(0, point) + frac)
        if (ch >= '0' && ch <= '9')
            m = m * 10 + static_cast<unsigned>(ch - '0');
    return m;
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

// A GUID's text (8-4-4-4-12 hex digits) as uniqueidentifier's 16 bytes: the first three groups
// little-endian, the rest as written ([MS-DTYP] 2.3.4.2). False for text that is not one.
bool guidBytes(const std::string& text, uint8_t out[16]) {
    std::string hex;
    for (char ch : text)
        if (ch != '-')
            hex += ch;
    if (hex.size() != 32)
        return false;
    uint8_t b[16];
    for (int k = 0; k < 16; ++k) {
        unsigned v = 0;
        if (std::sscanf(hex.c_str() + 2 * k, "%2x", &v) != 1)
            return false;
        b[k] = static_cast<uint8_t>(v);
    }
    const int order[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
    for (int k = 0; k < 16; ++k)
        out[k] = b[order[k]];
    return true;
}

// A sql_variant column's TYPE_INFO: SSVARIANTTYPE is a LONGLEN type; a server declares 8009 bytes.
constexpr uint32_t kVariantMaxBytes = 8009;

}  // namespace

// A sql_variant value ([MS-TDS] 2.2.5.5.4): a 4-byte length (0 for NULL), then the instance: base
// type, 7 property bytes for NVARCHARTYPE (5-byte collation, 2-byte max length), the data.
void TokenWriter::variantValue(const Column& c, const Value& v) {
    if (v.null) {
        w_.u32(0);
        return;
    }
    auto s = utf8ToUtf16(v.text);
    const size_t maxChars = nvarcharBytes(c) / 2;
    if (s.size() > maxChars)
        s.resize(maxChars);
    w_.u32(static_cast<uint32_t>(2 + 7 + s.size() * 2));
    w_.u8(kNVarChar);
    w_.u8(7);
    w_.bytes(kCollation, 5);
    w_.u16(nvarcharBytes(c));
    w_.utf16(s);
}

void TokenWriter::typeInfo(const Column& c) {
    if (c.variant) {
        w_.u8(kSsVariant);
        w_.u32(kVariantMaxBytes);
        return;
    }
    if (c.wire == Column::Wire::Guid) {
        w_.u8(kGuid);
        w_.u8(16);
        return;
    }
    if (c.wire == Column::Wire::Char) {
        w_.u8(kBigChar);
        w_.u16(static_cast<uint16_t>(c.maxChars));
        w_.bytes(kCollation, 5);
        return;
    }
    switch (c.type) {
        case ColType::Int:
        case ColType::SmallInt:
        case ColType::BigInt:
            w_.u8(kIntN);
            w_.u8(static_cast<uint8_t>(intSize(c)));
            break;
        case ColType::Bit:
            w_.u8(kBitN);
            w_.u8(1);
            break;
        case ColType::Float:
            w_.u8(kFltN);
            w_.u8(8);
            break;
        case ColType::Decimal:
            if (c.money) {
                w_.u8(kMoneyN);
                w_.u8(c.precision <= 10 ? 4 : 8);
            } else {
                w_.u8(kDecimalN);
                w_.u8(decimalBytes(c.precision));
                w_.u8(static_cast<uint8_t>(c.precision));
                w_.u8(static_cast<uint8_t>(c.scale));
            }
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
        case ColType::VarBinary:
            w_.u8(kBigVarBinary);
            w_.u16(static_cast<uint16_t>(c.maxChars > 0 && c.maxChars <= 8000 ? c.maxChars : 8000));
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
    if (c.variant)
        return variantValue(c, v);
    const bool isText =
        (c.type == ColType::NVarChar || c.type == ColType::VarBinary) && c.wire != Column::Wire::Guid;
    uint8_t guid[16];
    if (v.null || (c.wire == Column::Wire::Guid && !guidBytes(v.text, guid))) {
        if (isText) {
            w_.u16(0xFFFF);
        } else {
            w_.u8(0);
        }
        return;
    }
    if (c.wire == Column::Wire::Guid) {
        w_.u8(16);
        w_.bytes(guid, 16);
        return;
    }
    if (c.wire == Column::Wire::Char) {
        // Single-byte text of the collation's code page, padded to the declared length; what a
        // char column holds here is ASCII.
        std::string t = v.text.substr(0, static_cast<size_t>(c.maxChars));
        t.resize(static_cast<size_t>(c.maxChars), ' ');
        w_.u16(static_cast<uint16_t>(t.size()));
        w_.bytes(reinterpret_cast<const uint8_t*>(t.data()), t.size());
        return;
    }
    switch (c.type) {
        case ColType::Int:
        case ColType::SmallInt:
        case ColType::BigInt: {
            int n = intSize(c);
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
        case ColType::Decimal: {
            bool negative = false;
            const unsigned __int128 m = scaledMagnitude(c, v, &negative);
            if (c.money) {
                // Money: the amount in ten-thousandths as a signed integer, its high half first.
                const int64_t n = negative ? -static_cast<int64_t>(m) : static_cast<int64_t>(m);
                if (c.precision <= 10) {
                    w_.u8(4);
                    w_.u32(static_cast<uint32_t>(static_cast<int32_t>(n)));
                } else {
                    w_.u8(8);
                    w_.u32(static_cast<uint32_t>(static_cast<uint64_t>(n) >> 32));
                    w_.u32(static_cast<uint32_t>(static_cast<uint64_t>(n)));
                }
                break;
            }
            const uint8_t n = decimalBytes(c.precision);
            w_.u8(n);
            w_.u8(negative ? 0 : 1);
            for (int k = 0; k < n - 1; ++k)
                w_.u8(static_cast<uint8_t>(m >> (8 * k)));
            break;
        }
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
        case ColType::VarBinary: {
            size_t n = std::min<size_t>(v.text.size(), 8000);
            w_.u16(static_cast<uint16_t>(n));
            w_.bytes(reinterpret_cast<const uint8_t*>(v.text.data()), n);
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

}  // namespace sandbox::tds
