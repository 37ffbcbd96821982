// RPC request: a procedure called by name or by number, with its parameters; reader and writer.
#include "sandbox/tds/Rpc.h"

#include <iterator>

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
constexpr uint8_t kBatchFlag = 0x80, kNoExecFlag = 0xFF;  // separators between calls

void readInt(Reader& r, size_t n, RpcParam& p) {
    auto b = r.take(n);
    uint64_t u = 0;
    for (size_t k = 0; k < n; ++k)
        u |= uint64_t(b[k]) << (8 * k);
    if (n < 8 && (u >> (8 * n - 1)) & 1)
        u |= ~uint64_t(0) << (8 * n);
    p.isInt = true;
    p.null = false;
    p.i = static_cast<int64_t>(u);
}

std::string decodeText(const uint8_t* b, size_t len, bool wide) {
    if (!wide)
        return {reinterpret_cast<const char*>(b), len};
    Reader t(b, len & ~size_t(1));
    return utf16ToUtf8(t.utf16(len / 2));
}

// Short or PLP-chunked character data, after its type byte.
void readVarText(Reader& r, bool wide, RpcParam& p) {
    uint16_t max = r.u16();
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
    p.text = decodeText(reinterpret_cast<const uint8_t*>(raw.data()), raw.size(), wide);
}

void readLongText(Reader& r, bool wide, RpcParam& p) {
    r.u32();
    r.skip(5);
    uint32_t len = r.u32();
    if (len == 0xFFFFFFFF)
        return;
    p.null = false;
    p.text = decodeText(r.take(len), len, wide);
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

}  // namespace

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
