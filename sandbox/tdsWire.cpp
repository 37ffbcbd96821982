#include "tdsWire.h"

#include "utf8.h"

#include <algorithm>
#include <cstring>

namespace sandbox::tds {

std::u16string utf8ToUtf16(const std::string& s) {
    std::u16string out;
    out.reserve(s.size());
    size_t i = 0;
    while (i < s.size()) {
        auto c = static_cast<unsigned char>(s[i]);
        uint32_t cp = 0xFFFD;
        size_t len = 1;
        if (c < 0x80) {
            cp = c;
        } else if ((c >> 5) == 0x6) {
            len = 2;
        } else if ((c >> 4) == 0xE) {
            len = 3;
        } else if ((c >> 3) == 0x1E) {
            len = 4;
        }
        if (len > 1) {
            if (i + len > s.size()) {
                len = 1;
            } else {
                uint32_t v = c & (0x7F >> len);
                bool ok = true;
                for (size_t k = 1; k < len; ++k) {
                    auto cc = static_cast<unsigned char>(s[i + k]);
                    if ((cc >> 6) != 0x2) {
                        ok = false;
                        break;
                    }
                    v = (v << 6) | (cc & 0x3F);
                }
                if (ok) {
                    cp = v;
                } else {
                    len = 1;
                }
            }
        }
        i += len;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
    }
    return out;
}

std::string utf16ToUtf8(const std::u16string& s) {
    std::string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size(); ++i) {
        uint32_t cp = s[i];
        if (cp >= 0xD800 && cp < 0xDC00 && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] < 0xE000) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (s[i + 1] - 0xDC00);
            ++i;
        } else if (cp >= 0xD800 && cp < 0xE000) {
            cp = 0xFFFD;
        }
        appendUtf8(out, cp);
    }
    return out;
}

void Writer::u16(uint16_t v) {
    u8(v & 0xFF);
    u8(v >> 8);
}
void Writer::u32(uint32_t v) {
    u16(v & 0xFFFF);
    u16(v >> 16);
}
void Writer::u64(uint64_t v) {
    u32(static_cast<uint32_t>(v));
    u32(static_cast<uint32_t>(v >> 32));
}
void Writer::u16be(uint16_t v) {
    u8(v >> 8);
    u8(v & 0xFF);
}
void Writer::u32be(uint32_t v) {
    u16be(v >> 16);
    u16be(v & 0xFFFF);
}
void Writer::bytes(const void* p, size_t n) {
    auto b = static_cast<const uint8_t*>(p);
    buf_.insert(buf_.end(), b, b + n);
}
void Writer::utf16(const std::u16string& s) {
    for (char16_t c : s)
        u16(c);
}
void Writer::bVarchar(const std::string& utf8) {
    auto s = utf8ToUtf16(utf8);
    if (s.size() > 255)
        s.resize(255);
    u8(static_cast<uint8_t>(s.size()));
    utf16(s);
}
void Writer::usVarchar(const std::string& utf8) {
    auto s = utf8ToUtf16(utf8);
    if (s.size() > 65535)
        s.resize(65535);
    u16(static_cast<uint16_t>(s.size()));
    utf16(s);
}
void Writer::patchU16(size_t at, uint16_t v) {
    buf_.at(at) = v & 0xFF;
    buf_.at(at + 1) = v >> 8;
}

const uint8_t* Reader::take(size_t n) {
    if (n > n_ - pos_)
        throw ProtocolError("truncated request");
    const uint8_t* p = p_ + pos_;
    pos_ += n;
    return p;
}
uint8_t Reader::u8() {
    return *take(1);
}
uint16_t Reader::u16() {
    auto p = take(2);
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
uint32_t Reader::u32() {
    uint32_t lo = u16();
    uint32_t hi = u16();
    return lo | (hi << 16);
}
uint64_t Reader::u64() {
    uint64_t lo = u32();
    uint64_t hi = u32();
    return lo | (hi << 32);
}
std::u16string Reader::utf16(size_t chars) {
    auto p = take(chars * 2);
    std::u16string s(chars, u'\0');
    for (size_t i = 0; i < chars; ++i)
        s[i] = static_cast<char16_t>(p[2 * i] | (p[2 * i + 1] << 8));
    return s;
}
std::string Reader::bVarchar() {
    return utf16ToUtf8(utf16(u8()));
}
std::string Reader::usVarchar() {
    return utf16ToUtf8(utf16(u16()));
}
void Reader::seek(size_t at) {
    if (at > n_)
        throw ProtocolError("offset out of range");
    pos_ = at;
}

std::vector<uint8_t> framePackets(uint8_t type, const std::vector<uint8_t>& payload, size_t packetSize,
                                  uint16_t spid) {
    const size_t room = packetSize - kHeaderSize;
    std::vector<uint8_t> out;
    out.reserve(payload.size() + (payload.size() / room + 1) * kHeaderSize);
    size_t at = 0;
    uint8_t packetId = 1;
    do {
        size_t n = std::min(room, payload.size() - at);
        bool last = at + n == payload.size();
        size_t len = n + kHeaderSize;
        const uint8_t header[kHeaderSize] = {type,
                                             static_cast<uint8_t>(last ? kStatusEom : 0),
                                             static_cast<uint8_t>(len >> 8),
                                             static_cast<uint8_t>(len & 0xFF),
                                             static_cast<uint8_t>(spid >> 8),
                                             static_cast<uint8_t>(spid & 0xFF),
                                             packetId++,
                                             0};
        out.insert(out.end(), header, header + kHeaderSize);
        out.insert(out.end(), payload.begin() + at, payload.begin() + at + n);
        at += n;
    } while (at < payload.size());
    return out;
}

}  // namespace sandbox::tds
