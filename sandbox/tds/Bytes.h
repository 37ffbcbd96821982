#pragma once
// Little-endian readers and writers of TDS fields, UTF-16LE text and its length-prefixed forms.

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace sandbox::tds {

// A request that does not parse; the connection is closed.
struct ProtocolError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

class Writer {
public:
    void u8(uint8_t v) { buf_.push_back(v); }
    void u16(uint16_t v);
    void u32(uint32_t v);
    void u64(uint64_t v);
    void u16be(uint16_t v);
    void u32be(uint32_t v);
    void bytes(const void* p, size_t n);
    void utf16(const std::u16string& s);
    // Text prefixed with its length in characters: one byte (B_VARCHAR) or two (US_VARCHAR).
    void bVarchar(const std::string& utf8);
    void usVarchar(const std::string& utf8);
    size_t size() const { return buf_.size(); }
    void patchU16(size_t at, uint16_t v);
    const std::vector<uint8_t>& data() const { return buf_; }
    std::vector<uint8_t>& data() { return buf_; }

private:
    std::vector<uint8_t> buf_;
};

class Reader {
public:
    Reader(const uint8_t* p, size_t n) : p_(p), n_(n) {}
    explicit Reader(const std::vector<uint8_t>& v) : p_(v.data()), n_(v.size()) {}
    uint8_t u8();
    uint16_t u16();
    uint32_t u32();
    uint64_t u64();
    const uint8_t* take(size_t n);
    void skip(size_t n) { take(n); }
    std::u16string utf16(size_t chars);
    std::string bVarchar();
    std::string usVarchar();
    size_t pos() const { return pos_; }
    void seek(size_t at);
    size_t remaining() const { return n_ - pos_; }

private:
    const uint8_t* p_;
    size_t n_;
    size_t pos_ = 0;
};

}  // namespace sandbox::tds
