// Little-endian readers and writers of TDS fields and UTF-16LE text.
#include "sandbox/tds/Bytes.h"

#include "sandbox/Text.h"

namespace sandbox::tds {

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

}  // namespace sandbox::tds
